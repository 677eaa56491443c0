#include "ZTFramework/Window/WindowInput.h"

#include "ZTFramework/ControlBase/Conditions.h"
#include "ZTFramework/ControlBase/RootWindow.h"
#include "ZTFramework/Controls/MainMenu.h"
#include "ZTFramework/Controls/PopupMenu.h"
#include "tests/Support/Printers.h"
#include "tests/ZTFramework/Window/WindowTestSupport.h"

#include <gtest/gtest.h>

namespace {

using ZT::CWindowInput;
using ZT::LButton;
using ZT::LConditions;
using Button = ZT::LMouseEvent::Button;
namespace Ids = ZT::ControlNotificationIDs;
using WindowTest::Lines;

std::string NameOf(const ZT::LControl* control)
{
    return control ? control->GetName().ToUTF8() : std::string("(none)");
}

std::string Look(const ZT::LControl& control)
{
    switch (dynamic_cast<const LButton&>(control).GetLookIndex()) {
    case LButton::kNormalLook:
        return "normal";
    case LButton::kHoverLook:
        return "hover";
    case LButton::kPressedLook:
        return "pressed";
    default:
        return "disabled";
    }
}

class WindowInput : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_RESULT_EQ(mWindow->SetRootControl(mTree.root), ZT::S_OK);
        for (ZT::LControl* control : {mTree.ok.Get(), mTree.exit.Get(), mTree.top.Get(), mTree.panel.Get()})
            mRecorder->Listen(control, {Ids::kLeftClick, Ids::kMiddleClick, Ids::kRightClick});
        (void)mWindow->TakeInvalidAreas();
    }
    void TearDown() override { mInput.Reset(); }

    WindowTest::Tree mTree;
    ZT::RCPtr<ZT::LRootWindow> mWindow = ZT::MakeRC<ZT::LRootWindow>();
    ZT::RCPtr<WindowTest::Recorder> mRecorder = ZT::MakeRC<WindowTest::Recorder>();
    CWindowInput mInput{mTree.root};
};

TEST_F(WindowInput, HitTestFindsTheDeepestVisibleControlDrawnOnTop)
{
    const struct {
        int x, y;
        const char* expected;
    } cases[] = {
        {20, 120, "buttonOk"},     // inside the panel's first button
        {5, 5, "buttonTop"},       // the root's last child, over nothing else
        {150, 120, "panel"},       // the hidden button's place: the panel below it
        {250, 139, "buttonExit"},  // last row of the button (bottom exclusive at 140)
        {250, 140, "panel"},
        {399, 449, "root"},
        {400, 10, "(none)"},       // right edge is outside
        {-1, 10, "(none)"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(NameOf(mInput.HitTest(c.x, c.y)), c.expected) << "at " << c.x << "," << c.y;
}

TEST_F(WindowInput, PressAndReleaseOnOneControlIsOneClickWithThePositionInsideIt)
{
    mInput.MouseMove(20, 120, 0);
    mInput.MouseDown(Button::Left, 20, 120, 0);
    EXPECT_TRUE(mRecorder->Take().empty()) << "a press alone is no click";
    EXPECT_EQ(NameOf(mInput.GetCapture()), "buttonOk");
    mInput.MouseUp(Button::Left, 25, 121, 0);
    EXPECT_EQ(mRecorder->Take(), Lines({"NID_LEFT_CLICK buttonOk at 15,11"}));
    EXPECT_EQ(NameOf(mInput.GetCapture()), "(none)") << "the release ends the capture";

    mInput.MouseDown(Button::Right, 210, 111, 0);
    mInput.MouseUp(Button::Right, 210, 111, 0);
    mInput.MouseDown(Button::Middle, 5, 5, 0);
    mInput.MouseUp(Button::Middle, 5, 5, 0);
    EXPECT_EQ(mRecorder->Take(), Lines({"NID_RIGHT_CLICK buttonExit at 10,1", "NID_MIDDLE_CLICK buttonTop at 5,5"}));
}

TEST_F(WindowInput, AReleaseElsewhereOrWithAnotherButtonIsNoClick)
{
    // Pressed on OK, released on EXIT: neither is clicked.
    mInput.MouseDown(Button::Left, 20, 120, 0);
    mInput.MouseMove(250, 120, 0);
    mInput.MouseUp(Button::Left, 250, 120, 0);
    EXPECT_TRUE(mRecorder->Take().empty());

    // A right press during a held left press, released first: still no click of anything, and
    // the left release over the pressed control is the one click.
    mInput.MouseDown(Button::Left, 20, 120, 0);
    mInput.MouseDown(Button::Right, 20, 120, 0);
    mInput.MouseUp(Button::Right, 20, 120, 0);
    EXPECT_TRUE(mRecorder->Take().empty()) << "the right button was never the pressed one";
    mInput.MouseUp(Button::Left, 20, 120, 0);
    EXPECT_EQ(mRecorder->Take(), Lines({"NID_LEFT_CLICK buttonOk at 10,10"}));

    // A disabled button takes no press and no click.
    mTree.exit->SetEnabled(false);
    mInput.MouseDown(Button::Left, 250, 120, 0);
    mInput.MouseUp(Button::Left, 250, 120, 0);
    EXPECT_TRUE(mRecorder->Take().empty());
    EXPECT_EQ(NameOf(mInput.GetHover()), "(none)") << "a disabled control shows no hover";
}

TEST_F(WindowInput, HoverAndPressedLooksFollowTheMouse)
{
    const ZT::LControl& ok = *mTree.ok;
    EXPECT_EQ(Look(ok), "normal");
    mInput.MouseMove(20, 120, 0);
    EXPECT_EQ(Look(ok), "hover");
    const std::vector<ZT::Rect> repaint = mWindow->TakeInvalidAreas();
    ASSERT_FALSE(repaint.empty()) << "the hover changed the look but nothing was repainted";
    EXPECT_EQ(repaint.back(), (ZT::Rect{10, 110, 110, 140})) << "the button's area in the window";

    mInput.MouseDown(Button::Left, 20, 120, 0);
    EXPECT_EQ(Look(ok), "pressed");
    EXPECT_NE(ok.GetConditions() & LConditions::kCapture, 0u) << std::hex << ok.GetConditions();
    mInput.MouseMove(250, 120, 0);
    EXPECT_EQ(Look(ok), "normal") << "held, but the mouse left the button";
    EXPECT_EQ(Look(*mTree.exit), "normal") << "while OK is held, EXIT shows no hover";
    mInput.MouseMove(21, 121, 0);
    EXPECT_EQ(Look(ok), "pressed") << "back over the held button";
    mInput.MouseUp(Button::Left, 21, 121, 0);
    EXPECT_EQ(Look(ok), "hover");
    EXPECT_EQ(ok.GetConditions() & (LConditions::kCapture | LConditions::kLeftDrag), 0u) << std::hex << ok.GetConditions();

    mInput.MouseLeave();
    EXPECT_EQ(Look(ok), "normal") << "the mouse left the window";
}

TEST_F(WindowInput, TabMovesTheFocusThroughVisibleEnabledButtonsAndEnterClicksIt)
{
    EXPECT_FALSE(mInput.KeyDown(CWindowInput::Key::Enter, false)) << "nothing has the focus yet";
    ASSERT_TRUE(mInput.KeyDown(CWindowInput::Key::Tab, false));
    EXPECT_EQ(NameOf(mInput.GetFocus()), "buttonOk");
    EXPECT_NE(mTree.ok->GetConditions() & LConditions::kHasFocus, 0u) << "the painter's focus mark needs this bit";
    EXPECT_NE(mTree.panel->GetConditions() & LConditions::kContainsFocus, 0u);
    EXPECT_NE(mTree.root->GetConditions() & LConditions::kContainsFocus, 0u);

    (void)mInput.KeyDown(CWindowInput::Key::Tab, false);
    EXPECT_EQ(NameOf(mInput.GetFocus()), "buttonExit") << "the hidden button is skipped";
    EXPECT_EQ(mTree.ok->GetConditions() & LConditions::kHasFocus, 0u) << "the old focus keeps its mark";
    (void)mInput.KeyDown(CWindowInput::Key::Tab, false);
    EXPECT_EQ(NameOf(mInput.GetFocus()), "buttonTop");
    EXPECT_EQ(mTree.panel->GetConditions() & LConditions::kContainsFocus, 0u);
    (void)mInput.KeyDown(CWindowInput::Key::Tab, false);
    EXPECT_EQ(NameOf(mInput.GetFocus()), "buttonOk") << "the order wraps";
    (void)mInput.KeyDown(CWindowInput::Key::Tab, true);
    EXPECT_EQ(NameOf(mInput.GetFocus()), "buttonTop") << "Shift+Tab goes back";

    mTree.exit->SetEnabled(false);
    (void)mInput.KeyDown(CWindowInput::Key::Tab, true);
    EXPECT_EQ(NameOf(mInput.GetFocus()), "buttonOk") << "the disabled button is skipped";

    EXPECT_TRUE(mInput.KeyDown(CWindowInput::Key::Enter, false));
    EXPECT_TRUE(mInput.KeyDown(CWindowInput::Key::Space, false));
    EXPECT_EQ(mRecorder->Take(), Lines({"NID_LEFT_CLICK buttonOk at 50,15", "NID_LEFT_CLICK buttonOk at 50,15"}));

    // A focused button that is hidden loses the focus: Enter no longer clicks it.
    mTree.ok->SetVisible(false);
    EXPECT_FALSE(mInput.KeyDown(CWindowInput::Key::Enter, false));
    EXPECT_TRUE(mRecorder->Take().empty());
    EXPECT_EQ(mTree.ok->GetConditions() & LConditions::kHasFocus, 0u);
}

// An open menu takes the press that closes it: the button under the press does not fire, and
// the next press reaches it again.
TEST_F(WindowInput, APressOutsideAnOpenMenuClosesItAndClicksNothing)
{
    const auto bar = ZT::MakeRC<ZT::LMainMenu>();
    bar->SetName(ZT::WString(L"mainMenu"));
    bar->SetBounds({300, 0, 400, 20});
    ZT::LPopupMenu::Item item;
    item.mText = ZT::WString(L"Exit");
    item.mCommand = ZT::InternNotificationID(L"NID_MENU_FILE_EXIT_REQ");
    bar->SetMenus({{ZT::WString(L"File"), {item}}});
    ASSERT_RESULT_EQ(mTree.root->AddChild(bar), ZT::S_OK);
    ASSERT_RESULT_EQ(bar->OpenMenu(0), ZT::S_OK);
    ASSERT_TRUE(bar->GetOpenPopup());

    // Over the OK button (10..110 x 110..140 in the window).
    mInput.MouseDown(Button::Left, 20, 120, 0);
    mInput.MouseUp(Button::Left, 20, 120, 0);
    EXPECT_FALSE(bar->GetOpenPopup()) << "the menu stayed open";
    EXPECT_EQ(mRecorder->Take(), Lines({})) << "the press that closed the menu also clicked";

    mInput.MouseDown(Button::Left, 20, 120, 0);
    mInput.MouseUp(Button::Left, 20, 120, 0);
    EXPECT_EQ(mRecorder->Take(), Lines({"NID_LEFT_CLICK buttonOk at 10,10"}));
}

} // namespace
