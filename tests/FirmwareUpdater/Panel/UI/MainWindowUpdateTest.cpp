// The updater's window on a real display (scripts/test.sh starts Xvfb): the SDL window host with
// the real main control from the shipped skin, painted by the control painter, driven by a mouse
// click through the whole two-device update on simulated devices in virtual time. Each view it
// passes is checked from the control tree (which controls show, which text) and from the frame's
// pixels (the label that carries the state is drawn, not blank).

#include "FirmwareUpdater/Panel/Engine/UpdateProcessor.h"
#include "FirmwareUpdater/Panel/UI/ControlNames.h"
#include "FirmwareUpdater/Panel/UI/MainControl.h"
#include "FirmwareUpdater/Panel/UI/UpdaterTexts.h"
#include "ZTFramework/Application/FrameworkApp.h"
#include "ZTFramework/Graphics/ControlPainter.h"
#include "ZTFramework/Threads/Thread.h"
#include "ZTFramework/Window/SdlVideo.h"
#include "ZTFramework/Window/WindowHost.h"
#include "tests/Support/Printers.h"
#include "tests/ZTFramework/Utilities/Storage/TempFolder.h"
#include "tests/ZTFramework/Window/WindowTestSupport.h"
#include "tools/UpdaterScreenshots/UpdaterScene.h"

#include <SDL.h>
#include <cairo.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <functional>
#include <map>
#include <memory>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace {

using UpdaterScene::CScene;
using UpdaterScene::DeviceState;
using UpdaterScene::UpdateRunState;
using ZT::RCPtr;
using ZT::WString;
namespace Names = MainControlNames;
namespace Texts = UpdaterTexts;

// One frame read back from a PNG the host wrote.
class Frame {
public:
    explicit Frame(const std::string& path) : mSurface(cairo_image_surface_create_from_png(path.c_str())) {}
    ~Frame() { cairo_surface_destroy(mSurface); }
    Frame(const Frame&) = delete;
    Frame& operator=(const Frame&) = delete;
    [[nodiscard]] bool IsValid() const { return cairo_surface_status(mSurface) == CAIRO_STATUS_SUCCESS; }
    [[nodiscard]] int Width() const { return cairo_image_surface_get_width(mSurface); }
    [[nodiscard]] int Height() const { return cairo_image_surface_get_height(mSurface); }
    // 0x00RRGGBB of a pixel (the window is opaque).
    [[nodiscard]] std::uint32_t At(int x, int y) const
    {
        cairo_surface_flush(mSurface);
        const unsigned char* row = cairo_image_surface_get_data(mSurface) + y * cairo_image_surface_get_stride(mSurface);
        return reinterpret_cast<const std::uint32_t*>(row)[x] & 0xFFFFFFu;
    }

private:
    cairo_surface_t* mSurface;
};

int ColourDistance(std::uint32_t a, std::uint32_t b)
{
    int distance = 0;
    for (int shift = 0; shift < 24; shift += 8)
        distance += std::abs(static_cast<int>((a >> shift) & 0xFF) - static_cast<int>((b >> shift) & 0xFF));
    return distance;
}

// The pixels of area (logical) that stand out from the same place of the plain background.
int PixelsDifferingFrom(const Frame& frame, const Frame& background, const ZT::Rect& area, int scale)
{
    int differing = 0;
    for (int y = area.mTop * scale; y < area.mBottom * scale && y < frame.Height(); ++y)
        for (int x = area.mLeft * scale; x < area.mRight * scale && x < frame.Width(); ++x)
            if (ColourDistance(frame.At(x, y), background.At(x, y)) > 96)
                ++differing;
    return differing;
}

// What the window showed at one moment of the update, and what the engine said then.
struct View {
    std::string mPhase;
    std::set<std::string> mShown;
    std::string mProcessText;
    int mDrawnPixels = 0;   // of the process label's area, unlike the plain background
    std::string mFrameError;
};

class MainWindowUpdate : public WindowTest::DisplayTest {
protected:
    void SetUp() override
    {
        if (const std::string why = MissingDisplay(); !why.empty())
            GTEST_SKIP() << why;
        ASSERT_RESULT_EQ(mApp->Startup(), ZT::S_OK);
    }
    void TearDown() override
    {
        if (mScene)
            mScene->Release();
        if (mScene && mScene->Main())
            (void)mScene->Engine().WaitForUpdate(ZT::kShutdownJoinTimeoutMs);
        mHost.reset();
        mScene.reset();
        mApp->Shutdown();
        SDL_FlushEvents(SDL_FIRSTEVENT, SDL_LASTEVENT);
    }

    void Open()
    {
        ASSERT_EQ(mScene->MakeControl(), "");
        const auto painter = ZT::MakeRC<ZT::LControlPainter>(mScene->Factory()->GetResources(), WString(L"::"));
        mHost = std::make_unique<ZT::CWindowHost>(*mApp, RCPtr<ZT::LControl>(mScene->Main().Get()), painter);
        ZT::CWindowHost::Options options;
        options.mCaption = WString(L"Main window update test");
        options.mPlace = {0, 0, 400, 450};
        std::string error;
        ASSERT_RESULT_EQ(mHost->Create(options, error), ZT::S_OK) << error;
        mHost->Show();
        // The window's services as the main control sees them, noting the view when the
        // switch into update mode hands the window to its nested loop.
        mServices = std::make_unique<RecordingServices>(*mHost, [this] { Record("switching"); });
        mHost->GetRootWindow().SetWindowServices(mServices.get());
        mScene->Deliver();
        (void)mHost->PaintInvalidAreas();
        mScale = std::max(1, mHost->GetFrameSize().mWidth / std::max(1, mHost->GetClientSize().mWidth));
        TakeBackground();
    }

    // The window with every view-managed control hidden: what "blank" looks like.
    void TakeBackground()
    {
        std::vector<RCPtr<ZT::LControl>> hidden;
        for (const wchar_t* name : UpdaterScene::kViewControls)
            if (const RCPtr<ZT::LControl> child = mScene->Child(name); child && child->GetVisibleFlag()) {
                (void)child->SetVisible(false);
                hidden.push_back(child);
            }
        (void)mHost->PaintInvalidAreas();
        ASSERT_TRUE(mHost->WriteFrame(mBackgroundPath)) << mBackgroundPath;
        for (const RCPtr<ZT::LControl>& child : hidden)
            (void)child->SetVisible(true);
        mScene->Main()->RefreshFromEngine();
        (void)mHost->PaintInvalidAreas();
    }

    // Writes down the window as it stands, under phase; a phase equal to the last is not repeated.
    void Record(const std::string& phase)
    {
        if (!mViews.empty() && mViews.back().mPhase == phase)
            return;
        View view;
        view.mPhase = phase;
        view.mShown = mScene->Shown();
        view.mProcessText = mScene->TextOf(Names::kLabelUpdateProcessInformation);
        (void)mHost->PaintInvalidAreas();
        const std::string path = (mTemp.Path() / ("frame" + std::to_string(mViews.size()) + ".png")).string();
        if (!mHost->WriteFrame(path)) {
            view.mFrameError = "the frame could not be written to " + path;
        } else {
            const Frame frame(path);
            const Frame background(mBackgroundPath);
            if (!frame.IsValid() || !background.IsValid())
                view.mFrameError = "the frame or the background could not be read back";
            else
                view.mDrawnPixels = PixelsDifferingFrom(
                    frame, background, mScene->Child(Names::kLabelUpdateProcessInformation)->GetAreaInWindow(), mScale);
        }
        mViews.push_back(view);
    }

    std::string PhaseOfEngine() const
    {
        const UpdateRunState run = mScene->Engine().GetUpdateRunState(false);
        const DeviceState device = mScene->Engine().GetDeviceState();
        if (run == UpdateRunState::Idle && device == DeviceState::DeviceNotInUpdateMode)
            return "ready";
        if (run == UpdateRunState::Succeeded && device == DeviceState::DeviceNotInUpdateMode &&
            !mScene->Main()->IsAwaitingDeviceReset())
            return "updated";
        return std::string("unexpected: run ") + ToString(run) + ", device " + ToString(device);
    }

    std::string Text(const wchar_t* id) const { return mScene->TableText(Names::kLabelUpdateProcessInformation, id); }

    ZT::RCPtr<ZT::LFrameworkApp> mApp = ZT::MakeRC<ZT::LFrameworkApp>();
    std::unique_ptr<CScene> mScene = std::make_unique<CScene>();
    // Forwards to the window; before each nested loop it runs onModal (on this thread).
    class RecordingServices final : public ZT::IWindowServices {
    public:
        RecordingServices(ZT::CWindowHost& host, std::function<void()> onModal) : mHost(host), mOnModal(std::move(onModal)) {}
        WString SetCursor(const WString& name) override { return mHost.SetCursor(name); }
        void RepaintNow() override { mHost.RepaintNow(); }
        void SetCaption(const WString& caption) override { mHost.SetCaption(caption); }
        bool ShowMessageBox(const WString& text, const WString& caption, MessageBoxIcon icon, MessageBoxButtons buttons) override
        {
            return mHost.ShowMessageBox(text, caption, icon, buttons);
        }
        RCPtr<ZT::IFileChooser> CreateFileChooser() override { return mHost.CreateFileChooser(); }
        bool RunModalUntil(const std::function<bool()>& done) override
        {
            mOnModal();
            return mHost.RunModalUntil(done);
        }

    private:
        ZT::CWindowHost& mHost;
        std::function<void()> mOnModal;
    };

    std::unique_ptr<ZT::CWindowHost> mHost;
    std::unique_ptr<RecordingServices> mServices;
    ZT::Testing::TempFolder mTemp{"zt-main-window-test"};
    const std::string mBackgroundPath = (mTemp.Path() / "background.png").string();
    int mScale = 1;
    std::vector<View> mViews;
};

TEST_F(MainWindowUpdate, AClickOnUpdateFirmwareTakesTheWindowThroughBothDevicesUpdates)
{
    const auto controller = mScene->AddController(0x0030);
    const auto display = mScene->AddDisplay(0x0049);
    Open();
    Record(PhaseOfEngine());

    // The user-interface thread's waits for the sequence's timers: the wait for the device's
    // restart after its download among them.
    mScene->mOnUiSleep = [this] {
        if (mScene->Main()->IsAwaitingDeviceReset() &&
            mScene->Main()->GetSequence()->GetStep() == IUpdateSequenceHost::Step::WaitingForReturn)
            Record("restarting");
    };
    mScene->StepDownloads(true);

    // The click, where the user sees the button.
    const RCPtr<ZT::LControl> button = mScene->Child(Names::kButtonUpdateFirmware);
    const ZT::Rect area = button->GetAreaInWindow();
    ASSERT_FALSE(area.IsEmpty()) << "UPDATE FIRMWARE has no place in the window";
    const int x = (area.mLeft + area.mRight) / 2 * mHost->GetScale().mWindowFactor;
    const int y = (area.mTop + area.mBottom) / 2 * mHost->GetScale().mWindowFactor;
    for (const Uint32 type : {SDL_MOUSEBUTTONDOWN, SDL_MOUSEBUTTONUP}) {
        SDL_Event event{};
        event.type = type;
        event.button.button = SDL_BUTTON_LEFT;
        event.button.state = type == SDL_MOUSEBUTTONDOWN ? SDL_PRESSED : SDL_RELEASED;
        event.button.x = x;
        event.button.y = y;
        ASSERT_EQ(SDL_PushEvent(&event), 1) << SDL_GetError();
    }
    // The loop handles the click (the switch into update mode goes to the worker), then the quit.
    mHost->PostQuit();
    mHost->Run();

    // The downloads go step by step, each step delivered; the window is looked at once its bar
    // shows a third. Deliveries between them run the completion, the wait for the restart and
    // the dual updater's next step.
    const auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(120);
    while (true) {
        ASSERT_LT(std::chrono::steady_clock::now(), limit)
            << "the update never settled; device " << ToString(mScene->Engine().GetDeviceState());
        if (mScene->IsHeld() && mScene->Engine().GetDeviceState() == DeviceState::EnteringUpdateMode) {
            mScene->Deliver();
            Record("switching");
            mScene->Release();
            continue;
        }
        if (mScene->IsHeld()) {
            mScene->Deliver();
            if (mScene->ProgressShown() >= 1.0 / 3.0)
                Record("downloading"); // once per download: the next phase comes between
            mScene->Release();
            continue;
        }
        mScene->Deliver();
        if (mScene->Engine().WaitForUpdate(0) == ZT::S_OK &&
            mScene->Engine().GetDeviceState() != DeviceState::Updating && mApp->GetApplicationCenter()->GetCount() == 0 &&
            !mScene->Main()->GetSequence()->IsRunning())
            break;
        std::this_thread::yield();
    }
    mScene->mOnUiSleep = nullptr;
    mScene->StepDownloads(false);
    Record(PhaseOfEngine());

    EXPECT_EQ(controller->GetFlashReleaseNumber(), std::optional<std::uint16_t>(0x0031));
    EXPECT_EQ(display->GetFlashReleaseNumber(), std::optional<std::uint16_t>(0x0050))
        << "the window did not go on with the wheel display";

    std::vector<std::string> phases;
    for (const View& view : mViews)
        phases.push_back(view.mPhase);
    EXPECT_EQ(phases, (std::vector<std::string>{"ready", "switching", "downloading", "restarting", "switching",
                                                 "downloading", "restarting", "updated"}));

    // What each phase shows (the shipped skin's controls).
    const std::set<std::string> processAndFile = {"labelUpdateProcessInformation", "labelFileFirmwareVersion"};
    auto with = [&](std::initializer_list<const char*> more) {
        std::set<std::string> shown = processAndFile;
        shown.insert(more.begin(), more.end());
        return shown;
    };
    const std::string afterUpdate = mScene->Factory()->GetResources()->GetText(
                                        WString(Names::kMainControlClass) + WString(L"|") +
                                            WString(Names::kLabelUpdateProcessInformation),
                                        WString(Texts::kLabelUpdateTransitioningAfterUpdate)).ToUTF8();
    const std::map<std::string, std::pair<std::set<std::string>, std::string>> expected = {
        {"ready", {with({"labelDeviceInformation", "buttonUpdateFirmware", "buttonExit", "labelDeviceFirmwareVersion"}),
                   Text(Texts::kLabelReadyForUpdate)}},
        {"switching", {with({"buttonAbort"}),
                       Text(Texts::kLabelUpdateTransitioningToUpdateMode)}},
        {"downloading", {with({"progressBar"}), Text(Texts::kLabelUpdateInProgress)}},
        {"restarting", {with({"buttonExit", "buttonManualDeviceHasUpdatedRescanButton"}),
                        afterUpdate.empty() ? Text(Texts::kLabelUpdateInProgress) : afterUpdate}},
        {"updated", {with({"buttonExit", "labelDeviceFirmwareVersion"}), Text(Texts::kLabelUpdateSucceeded)}},
    };
    for (std::size_t at = 0; at < mViews.size(); ++at) {
        const View& view = mViews[at];
        SCOPED_TRACE("view " + std::to_string(at) + ": " + view.mPhase);
        const auto rule = expected.find(view.mPhase);
        if (rule == expected.end())
            continue; // already reported by the phase list
        EXPECT_EQ(CScene::Join(view.mShown), CScene::Join(rule->second.first)) << "the wrong controls show";
        EXPECT_EQ(view.mProcessText, rule->second.second) << "the wrong process text";
        EXPECT_EQ(view.mFrameError, "");
        // A label of a few words leaves far more than this many pixels of text.
        EXPECT_GE(view.mDrawnPixels, 40) << "the process label's area looks like the plain background: the text "
                                            "\"" << view.mProcessText << "\" was not drawn";
    }
}

} // namespace
