#pragma once
// What the window tests share: the display their suites open, a small tree of a panel and
// buttons, and a client that writes down the notifications it receives as readable lines
// ("NID_LEFT_CLICK buttonOk at 5,7").

#include "ZTFramework/ControlBase/Control.h"
#include "ZTFramework/ControlBase/ControlNotificationIDs.h"
#include "ZTFramework/ControlBase/RootWindow.h"
#include "ZTFramework/Controls/Button.h"
#include "ZTFramework/Notification/Notification.h"
#include "ZTFramework/Notification/NotificationClient.h"
#include "ZTFramework/Window/SdlVideo.h"

#include <gtest/gtest.h>

#include <initializer_list>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace WindowTest {

// A suite on the display the environment names (scripts/test.sh starts a private Xvfb): SDL's
// video is opened once for the suite. A test's SetUp skips it, saying why, where there is none:
//   if (const std::string why = MissingDisplay(); !why.empty()) GTEST_SKIP() << why;
class DisplayTest : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        if (ZT::CSdlVideo::EnvironmentNamesDisplay())
            sVideo = std::make_unique<ZT::CSdlVideo>("ZT_WindowTests");
    }
    static void TearDownTestSuite() { sVideo.reset(); }
    // Empty when the suite has a display; otherwise why not.
    static std::string MissingDisplay()
    {
        if (sVideo && sVideo->IsReady())
            return {};
        return "no display: " + (sVideo ? sVideo->GetError() : std::string("DISPLAY is not set")) +
               " (scripts/test.sh starts Xvfb)";
    }

    static inline std::unique_ptr<ZT::CSdlVideo> sVideo;
};

inline ZT::RCPtr<ZT::LControl> MakeControl(ZT::RCPtr<ZT::LControl> control, const wchar_t* name, ZT::Rect bounds)
{
    control->SetName(ZT::WString(name));
    control->SetBounds(bounds);
    return control;
}

// root (400 x 450) > panel (0,100 .. 400,300) > buttonOk (10,10 .. 110,40), buttonExit (200,10 ..
// 300,40), buttonHidden (hidden); root > buttonTop (0,0 .. 50,20). All in window coordinates:
// buttonOk covers 10,110 .. 110,140.
struct Tree {
    ZT::RCPtr<ZT::LControl> root = MakeControl(ZT::MakeRC<ZT::LControl>(), L"root", {0, 0, 400, 450});
    ZT::RCPtr<ZT::LControl> panel = MakeControl(ZT::MakeRC<ZT::LControl>(), L"panel", {0, 100, 400, 300});
    ZT::RCPtr<ZT::LControl> ok = MakeControl(ZT::MakeRC<ZT::LButton>(), L"buttonOk", {10, 10, 110, 40});
    ZT::RCPtr<ZT::LControl> exit = MakeControl(ZT::MakeRC<ZT::LButton>(), L"buttonExit", {200, 10, 300, 40});
    ZT::RCPtr<ZT::LControl> hidden = MakeControl(ZT::MakeRC<ZT::LButton>(), L"buttonHidden", {120, 10, 180, 40});
    ZT::RCPtr<ZT::LControl> top = MakeControl(ZT::MakeRC<ZT::LButton>(), L"buttonTop", {0, 0, 50, 20});

    Tree()
    {
        (void)root->AddChild(panel);
        (void)panel->AddChild(ok);
        (void)panel->AddChild(hidden);
        (void)panel->AddChild(exit);
        (void)root->AddChild(top);
        hidden->SetVisible(false);
    }
};

// Writes down each notification as "<ID> <source name>" and, for mouse payloads, " at x,y".
class Recorder : public ZT::LNotificationClient {
public:
    void Listen(ZT::LNotificationDistributor* source, std::initializer_list<const wchar_t*> ids)
    {
        for (const wchar_t* id : ids)
            (void)Register(source, id);
    }
    ZT::ZTRESULT HandleNotification(ZT::LNotificationDistributor* source, const ZT::RCPtr<ZT::LNotification>& notification) override
    {
        std::string line = ZT::GetNotificationName(notification->GetID()).ToUTF8();
        if (const auto named = mSourceNames.find(source); named != mSourceNames.end())
            line += " " + named->second;
        else if (auto* control = dynamic_cast<ZT::LControl*>(source))
            line += " " + control->GetName().ToUTF8();
        if (const auto dropped = notification->GetPayloadAs<ZT::LDroppedFile>())
            line += " " + dropped->GetPath().ToUTF8();
        if (const auto event = notification->GetPayloadAs<ZT::LMouseEvent>())
            line += " at " + std::to_string(event->GetX()) + "," + std::to_string(event->GetY());
        mLines.push_back(line);
        return ZT::S_OK;
    }
    std::vector<std::string> Take() { return std::exchange(mLines, {}); }
    // Names a source that is no control ("first window").
    void NameSource(const ZT::LNotificationDistributor* source, std::string name) { mSourceNames[source] = std::move(name); }
    std::vector<std::string> mLines;
    std::map<const ZT::LNotificationDistributor*, std::string> mSourceNames;
};

inline std::vector<std::string> Lines(std::initializer_list<const char*> lines)
{
    return {lines.begin(), lines.end()};
}

} // namespace WindowTest
