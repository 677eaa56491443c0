#include "ZTFramework/ControlBase/Control.h"
#include "tests/ZTFramework/Errors/MessageOf.h"

#include "ZTFramework/ControlBase/ControlNotificationIDs.h"
#include "ZTFramework/ControlBase/RootWindow.h"
#include "ZTFramework/Notification/Notification.h"
#include "ZTFramework/Notification/NotificationHandler.h"
#include "tests/Support/Printers.h"

#include <gtest/gtest.h>

#include <regex>
#include <string>
#include <vector>

namespace {

using ZT::LControl;
using ZT::LMouseEvent;
using ZT::RCPtr;
using ZT::WString;
namespace Ids = ZT::ControlNotificationIDs;

// A control whose hooks and idle steps leave a trace, with its input conditions reachable.
class TracingControl : public LControl {
public:
    explicit TracingControl(std::vector<std::string>* trace = nullptr, int* destroyed = nullptr)
        : mTrace(trace), mDestroyed(destroyed)
    {
    }
    ~TracingControl() override
    {
        if (mDestroyed)
            ++*mDestroyed;
    }
    using LControl::SetInputConditions;
    int mIdleSteps = 0;

protected:
    void OnLeftClick(const LMouseEvent&) override { Note("hook left"); }
    void OnMiddleClick(const LMouseEvent&) override { Note("hook middle"); }
    void OnRightClick(const LMouseEvent&) override { Note("hook right"); }
    ZT::ZTRESULT ProcessIdle() override
    {
        ++mIdleSteps;
        return ZT::S_OK;
    }

private:
    void Note(const std::string& what)
    {
        if (mTrace)
            mTrace->push_back(what);
    }
    std::vector<std::string>* mTrace;
    int* mDestroyed;
};

RCPtr<TracingControl> MakeControl(const wchar_t* name, ZT::Rect bounds = {0, 0, 10, 10},
                                  std::vector<std::string>* trace = nullptr, int* destroyed = nullptr)
{
    auto control = ZT::MakeRC<TracingControl>(trace, destroyed);
    control->SetName(WString(name));
    control->SetBounds(bounds);
    return control;
}

// Registers for IDs with a distributor and writes down what arrives, with the payload's masks
// for condition notifications.
class Recorder : public ZT::LNotificationClient {
public:
    Recorder(ZT::LNotificationDistributor* source, std::initializer_list<const wchar_t*> ids)
    {
        for (const wchar_t* id : ids)
            Register(source, id);
    }
    ZT::ZTRESULT HandleNotification(ZT::LNotificationDistributor*, const RCPtr<ZT::LNotification>& notification) override
    {
        std::string entry = ZT::GetNotificationName(notification->GetID()).ToUTF8();
        if (const auto conditions = notification->GetPayloadAs<ZT::LConditions>())
            entry += " " + std::to_string(conditions->GetPrevious()) + "->" + std::to_string(conditions->GetCurrent());
        mReceived.push_back(entry);
        mLastPayload = notification->GetPayload();
        return ZT::E_FAIL;   // the sender must not care
    }
    std::vector<std::string> mReceived;
    RCPtr<ZT::LRefCountedObject> mLastPayload;
};

TEST(ControlTree, FindsDirectChildrenByExactNameFromTheLastToTheFirstAndThrowsPastTheEnd)
{
    const auto root = MakeControl(L"mainControl");
    const auto first = MakeControl(L"twin");
    const auto second = MakeControl(L"twin");
    const auto panel = MakeControl(L"panel");
    const auto grandchild = MakeControl(L"buttonExit");
    ASSERT_RESULT_EQ(root->AddChild(first), ZT::S_OK);
    ASSERT_RESULT_EQ(root->AddChild(second), ZT::S_OK);
    ASSERT_RESULT_EQ(root->AddChild(panel), ZT::S_OK);
    ASSERT_RESULT_EQ(panel->AddChild(grandchild), ZT::S_OK);

    EXPECT_EQ(root->FindChildByName(WString(L"twin")).Get(), second.Get());
    EXPECT_EQ(root->FindChildByName(second->GetName()).Get(), second.Get());   // the very same buffer
    EXPECT_EQ(root->FindChildByName(WString(L"panel")).Get(), panel.Get());
    EXPECT_FALSE(root->FindChildByName(WString(L"buttonExit")));   // a grandchild
    EXPECT_FALSE(root->FindChildByName(WString(L"Twin")));
    EXPECT_FALSE(root->FindChildByName(WString(L"")));

    // Children keep their creation order; a control joins one parent only.
    ASSERT_EQ(root->GetChildren().GetCount(), 3u);
    EXPECT_EQ(root->GetChildren()[0], first.Get());
    EXPECT_EQ(root->GetChildren().GetAt(2).Get(), panel.Get());
    EXPECT_EQ(grandchild->GetParent(), panel.Get());
    EXPECT_RESULT_EQ(root->AddChild(grandchild), ZT::E_INVALIDARG);
    EXPECT_RESULT_EQ(root->AddChild(root), ZT::E_INVALIDARG);
    EXPECT_RESULT_EQ(root->AddChild(nullptr), ZT::E_INVALIDARG);

    EXPECT_RESULT_EQ(root->RemoveChild(second.Get()), ZT::S_OK);
    EXPECT_EQ(second->GetParent(), nullptr);
    EXPECT_EQ(root->FindChildByName(WString(L"twin")).Get(), first.Get());
    EXPECT_RESULT_EQ(root->RemoveChild(second.Get()), ZT::E_INVALIDARG);

    // Access past the end throws the runtime error.
    const std::regex message(
        "Runtime Error : ZT::LControl::ChildControlList::GetAt : ZTFramework/ControlBase/Control : Line [0-9]+");
    const std::function<void()> accesses[] = {
        [&] { (void)root->GetChildren().GetAt(2); },
        [&] { (void)root->GetChildren()[static_cast<std::size_t>(-1)]; },
    };
    for (const auto& access : accesses) {
        const std::string what = ZT::Testing::MessageOf<std::runtime_error>(access);
        EXPECT_TRUE(std::regex_match(what, message)) << what;
    }
}

TEST(ControlVisibility, HidingAndShowingSendTheConditionsAndAskForRepaints)
{
    const auto window = ZT::MakeRC<ZT::LRootWindow>();
    const auto root = MakeControl(L"root", {0, 0, 400, 450});
    const auto child = MakeControl(L"child", {20, 30, 120, 60});
    ASSERT_RESULT_EQ(root->AddChild(child), ZT::S_OK);
    ASSERT_RESULT_EQ(window->SetRootControl(root), ZT::S_OK);
    (void)window->TakeInvalidAreas();
    const auto recorder = ZT::MakeRC<Recorder>(child.Get(), std::initializer_list<const wchar_t*>{
                                                   Ids::kConditionChange, Ids::kVisibilityConditionChange,
                                                   Ids::kEnabledConditionChange, Ids::kHoverConditionChange});
    const std::string visible = std::to_string(ZT::LConditions::kEnabled | ZT::LConditions::kVisible);
    const std::string hidden = std::to_string(ZT::LConditions::kEnabled);

    EXPECT_FALSE(child->SetVisible(false));
    EXPECT_EQ(recorder->mReceived, (std::vector<std::string>{"NID_CONDITION_CHANGE " + visible + "->" + hidden,
                                                             "NID_VISIBLITY_CONDITION_CHANGE " + visible + "->" + hidden}));
    EXPECT_EQ(window->TakeInvalidAreas(), (std::vector<ZT::Rect>{{20, 30, 120, 60}}));

    recorder->mReceived.clear();
    EXPECT_FALSE(child->SetVisible(false));   // already hidden: nothing
    EXPECT_TRUE(recorder->mReceived.empty());
    EXPECT_TRUE(window->TakeInvalidAreas().empty());

    EXPECT_TRUE(child->SetVisible(true));
    EXPECT_EQ(recorder->mReceived, (std::vector<std::string>{"NID_CONDITION_CHANGE " + hidden + "->" + visible,
                                                             "NID_VISIBLITY_CONDITION_CHANGE " + hidden + "->" + visible}));
    EXPECT_EQ(window->TakeInvalidAreas(), (std::vector<ZT::Rect>{{20, 30, 120, 60}}));

    // Effective visibility needs an area and visible parents; the flag itself stays.
    EXPECT_FALSE(root->SetVisible(false));
    EXPECT_FALSE(child->IsVisible());
    EXPECT_TRUE(child->GetVisibleFlag());
    EXPECT_TRUE(root->SetVisible(true));
    child->SetBounds({20, 30, 20, 60});
    EXPECT_FALSE(child->SetVisible(true));
}

TEST(ControlConditions, ChangedConditionsAreSentInTheirFixedOrderAfterTheGeneralOne)
{
    const auto control = MakeControl(L"control");
    const auto recorder = ZT::MakeRC<Recorder>(
        control.Get(), std::initializer_list<const wchar_t*>{
                           Ids::kConditionChange, Ids::kHasFocusConditionChange, Ids::kContainsFocusConditionChange,
                           Ids::kHoverConditionChange, Ids::kCaptureConditionChange, Ids::kLeftDragConditionChange,
                           Ids::kMiddleDragConditionChange, Ids::kRightDragConditionChange,
                           Ids::kEnabledConditionChange, Ids::kVisibilityConditionChange});
    const auto names = [&recorder] {
        std::vector<std::string> names;
        for (const std::string& entry : recorder->mReceived)
            names.push_back(entry.substr(0, entry.find(' ')));
        recorder->mReceived.clear();
        return names;
    };
    using C = ZT::LConditions;
    // Hover (bit 12) goes before capture (bit 3); enabled and visible come last.
    control->SetInputConditions(C::kCapture | C::kHover | C::kHasFocus | C::kRightDrag, true);
    EXPECT_EQ(names(), (std::vector<std::string>{"NID_CONDITION_CHANGE", "NID_HAS_FOCUS_CONDITION_CHANGE",
                                                 "NID_HOVER_CONDITION_CHANGE", "NID_CAPTURE_CONDITION_CHANGE",
                                                 "NID_RIGHT_DRAG_CONDITION_CHANGE"}));
    control->SetInputConditions(C::kHover, true);   // no change: nothing
    EXPECT_TRUE(names().empty());
    // Either bit of a drag pair counts as that drag changing.
    control->SetInputConditions(1u << 7, true);
    EXPECT_EQ(names(), (std::vector<std::string>{"NID_CONDITION_CHANGE", "NID_LEFT_DRAG_CONDITION_CHANGE"}));
    control->SetEnabled(false);
    (void)control->SetVisible(false);
    EXPECT_EQ(names(), (std::vector<std::string>{"NID_CONDITION_CHANGE", "NID_ENABLED_CONDITION_CHANGE",
                                                 "NID_CONDITION_CHANGE", "NID_VISIBLITY_CONDITION_CHANGE"}));
    // Bits that are not input conditions cannot be set from the input side.
    control->SetInputConditions(C::kEnabled | C::kVisible, true);
    EXPECT_TRUE(names().empty());
}

// A parent that handles its button's clicks through a handler map, as the main control does.
class ClickOwner : public LControl {
public:
    explicit ClickOwner(std::vector<std::string>* trace) : mTrace(trace) {}
    ZT::ZTRESULT Watch(LControl* button)
    {
        if (!mHandler)
            mHandler = ZT::MakeRC<ZT::LNotificationHandler<ClickOwner>>(this);
        return mHandler->AddHandler(&ClickOwner::OnClick, 0, button, Ids::kLeftClick);
    }
    ZT::ZTRESULT HandleNotification(ZT::LNotificationDistributor* source, const RCPtr<ZT::LNotification>& notification) override
    {
        (void)LControl::HandleNotification(source, notification);
        return mHandler ? mHandler->Dispatch(source, notification) : ZT::S_OK;
    }

private:
    ZT::ZTRESULT OnClick(ZT::LNotificationDistributor*, const RCPtr<ZT::LNotification>& notification)
    {
        const auto event = notification->GetPayloadAs<LMouseEvent>();
        mTrace->push_back("owner got click at " + std::to_string(event ? event->GetX() : -1));
        return ZT::S_FALSE;
    }
    std::vector<std::string>* mTrace;
    RCPtr<ZT::LNotificationHandler<ClickOwner>> mHandler;
};

TEST(ControlClicks, EachButtonHasItsOwnHookAndNotification)
{
    struct Row {
        ZT::ZTRESULT (LControl::*click)(const RCPtr<LMouseEvent>&);
        LMouseEvent::Button button;
        const char* hook;
        const char* notification;
    };
    const Row rows[] = {
        {&LControl::LeftClick, LMouseEvent::Button::Left, "hook left", "NID_LEFT_CLICK"},
        {&LControl::MiddleClick, LMouseEvent::Button::Middle, "hook middle", "NID_MIDDLE_CLICK"},
        {&LControl::RightClick, LMouseEvent::Button::Right, "hook right", "NID_RIGHT_CLICK"},
    };
    for (const Row& row : rows) {
        std::vector<std::string> trace;
        const auto control = MakeControl(L"control", {0, 0, 10, 10}, &trace);
        const auto recorder = ZT::MakeRC<Recorder>(
            control.Get(), std::initializer_list<const wchar_t*>{Ids::kLeftClick, Ids::kMiddleClick, Ids::kRightClick});
        const auto event = ZT::MakeRC<LMouseEvent>(row.button, 1, 2);
        // The recorder's failure result does not reach the caller.
        EXPECT_RESULT_EQ(((*control).*row.click)(event), ZT::S_OK);
        EXPECT_EQ(trace, std::vector<std::string>{row.hook});
        EXPECT_EQ(recorder->mReceived, std::vector<std::string>{row.notification});
        EXPECT_EQ(recorder->mLastPayload.Get(), static_cast<ZT::LRefCountedObject*>(event.Get()));
    }
}

TEST(ControlIdle, TheFirstNeedRegistersWithTheWindowAndTheLastUnregisters)
{
    const auto window = ZT::MakeRC<ZT::LRootWindow>();
    const auto root = MakeControl(L"root");
    const auto child = MakeControl(L"child");
    ASSERT_RESULT_EQ(root->AddChild(child), ZT::S_OK);

    // Asked for before there is a window: registered once the window is acquired.
    EXPECT_RESULT_EQ(child->AddIdleNeed(), ZT::S_OK);
    EXPECT_EQ(window->GetRegistrationCount(), 0);
    ASSERT_RESULT_EQ(window->SetRootControl(root), ZT::S_OK);
    EXPECT_EQ(window->GetRegistrationCount(), 1);
    (void)window->ProcessQueue(true);
    EXPECT_EQ(child->mIdleSteps, 1);

    EXPECT_RESULT_EQ(child->AddIdleNeed(), ZT::S_OK);
    EXPECT_RESULT_EQ(root->AddIdleNeed(), ZT::S_OK);
    EXPECT_EQ(window->GetRegistrationCount(), 2);
    EXPECT_RESULT_EQ(child->RemoveIdleNeed(), ZT::S_OK);
    (void)window->ProcessQueue(true);
    EXPECT_EQ(child->mIdleSteps, 2);
    EXPECT_EQ(root->mIdleSteps, 1);

    EXPECT_RESULT_EQ(child->RemoveIdleNeed(), ZT::S_OK);
    EXPECT_EQ(window->GetRegistrationCount(), 1);
    (void)window->ProcessQueue(true);
    EXPECT_EQ(child->mIdleSteps, 2);
    EXPECT_RESULT_EQ(child->RemoveIdleNeed(), ZT::E_FAIL);
    EXPECT_EQ(child->GetIdleNeedCount(), 0);

    // A control leaving the tree leaves the window's idle round too.
    EXPECT_RESULT_EQ(child->AddIdleNeed(), ZT::S_OK);
    EXPECT_EQ(window->GetRegistrationCount(), 2);
    EXPECT_RESULT_EQ(root->RemoveChild(child.Get()), ZT::S_OK);
    EXPECT_EQ(window->GetRegistrationCount(), 1);
}

// A click runs the hook, then reaches the owner's handler before returning; dropping the top
// control then frees the tree with its registrations both ways.
TEST(ControlClicks, RunTheHookThenTheOwnersHandlerAndTheTreeGoesWithItsTopControl)
{
    int destroyed = 0;
    std::vector<std::string> trace;
    {
        const auto window = ZT::MakeRC<ZT::LRootWindow>();
        {
            const auto owner = ZT::MakeRC<ClickOwner>(&trace);
            const auto button = MakeControl(L"button", {0, 0, 10, 10}, &trace, &destroyed);
            const auto label = MakeControl(L"label", {0, 0, 10, 10}, nullptr, &destroyed);
            ASSERT_RESULT_EQ(owner->AddChild(button), ZT::S_OK);
            ASSERT_RESULT_EQ(owner->AddChild(label), ZT::S_OK);
            ASSERT_RESULT_EQ(owner->Watch(button.Get()), ZT::S_OK);
            EXPECT_RESULT_EQ(label->AddIdleNeed(), ZT::S_OK);
            ASSERT_RESULT_EQ(window->SetRootControl(owner), ZT::S_OK);

            EXPECT_RESULT_EQ(button->LeftClick(ZT::MakeRC<LMouseEvent>(LMouseEvent::Button::Left, 7, 3)), ZT::S_OK);
            EXPECT_EQ(trace, (std::vector<std::string>{"hook left", "owner got click at 7"}));
            trace.clear();
            EXPECT_RESULT_EQ(button->LeftClick(nullptr), ZT::E_INVALIDARG);
            EXPECT_TRUE(trace.empty());
        }
        EXPECT_EQ(destroyed, 0);   // the window holds the tree
    }
    EXPECT_EQ(destroyed, 2);
}

} // namespace
