#include "ZTFramework/ControlBase/ControlFactory.h"
#include "ZTFramework/ControlBase/RootWindow.h"
#include "ZTFramework/Controls/FrameworkControls.h"
#include "ZTFramework/Controls/MainMenu.h"
#include "ZTFramework/Controls/PopupMenu.h"
#include "ZTFramework/Controls/ToolTip.h"
#include "ZTFramework/Notification/Notification.h"
#include "ZTFramework/Notification/NotificationClient.h"
#include "tests/Support/Printers.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using ZT::RCPtr;
using ZT::WString;

class CommandRecorder : public ZT::LNotificationClient {
public:
    ZT::ZTRESULT HandleNotification(ZT::LNotificationDistributor*, const RCPtr<ZT::LNotification>& notification) override
    {
        mCommands.push_back(ZT::GetNotificationName(notification->GetID()).ToUTF8());
        return ZT::S_OK;
    }
    std::vector<std::string> mCommands;
};

ZT::LPopupMenu::Item MakeItem(const wchar_t* text, const wchar_t* command, bool enabled = true)
{
    ZT::LPopupMenu::Item item;
    item.mText = WString(text);
    item.mCommand = ZT::InternNotificationID(command);
    item.mState.mEnabled = enabled;
    return item;
}

TEST(PopupMenu, SendsTheChosenItemsCommandThroughItsWindowAndRefusesDisabledOnes)
{
    const auto menu = ZT::MakeRC<ZT::LPopupMenu>();
    menu->SetItems({MakeItem(L"Allow downgrade", L"NID_MENU_OPTIONS_ALLOW_DOWNGRADE"),
                    MakeItem(L"Exit", L"NID_MENU_FILE_EXIT_REQ", false)});
    const auto window = ZT::MakeRC<ZT::LRootWindow>();
    ASSERT_RESULT_EQ(window->SetRootControl(menu), ZT::S_OK);
    const auto recorder = ZT::MakeRC<CommandRecorder>();
    recorder->Register(window.Get(), L"NID_MENU_OPTIONS_ALLOW_DOWNGRADE");
    recorder->Register(window.Get(), L"NID_MENU_FILE_EXIT_REQ");

    EXPECT_RESULT_EQ(menu->ChooseItem(0), ZT::S_OK);
    EXPECT_RESULT_EQ(menu->ChooseItem(1), ZT::E_FAIL);
    EXPECT_RESULT_EQ(menu->ChooseItem(2), ZT::E_INVALIDARG);
    EXPECT_EQ(recorder->mCommands, std::vector<std::string>{"NID_MENU_OPTIONS_ALLOW_DOWNGRADE"});

    // Marks and highlight: a change is repainted, an index out of range changes nothing.
    (void)window->TakeInvalidAreas();
    menu->SetBounds({0, 0, 120, 60});
    (void)window->TakeInvalidAreas();
    EXPECT_RESULT_EQ(menu->SetItemChecked(0, true), ZT::S_OK);
    EXPECT_TRUE(menu->GetItems()[0].mState.mChecked);
    EXPECT_EQ(window->TakeInvalidAreas().size(), 1u) << "checking an item did not ask for a repaint";
    EXPECT_RESULT_EQ(menu->SetItemChecked(5, true), ZT::E_INVALIDARG);
    EXPECT_RESULT_EQ(menu->SetItemEnabled(1, true), ZT::S_OK);
    EXPECT_RESULT_EQ(menu->ChooseItem(1), ZT::S_OK);
    menu->SetHighlightedItem(1);
    EXPECT_EQ(menu->GetHighlightedItem(), 1);
    menu->SetHighlightedItem(7);
    EXPECT_EQ(menu->GetHighlightedItem(), -1);
}

TEST(FrameworkControls, TheFactoryMakesPopupMenusAndTooltipsByClassName)
{
    const auto factory = ZT::MakeRC<ZT::LControlFactory>();
    ASSERT_RESULT_EQ(ZT::CFrameworkControls::Register(*factory), ZT::S_OK);
    const RCPtr<ZT::LControl> popup = factory->GetControlCreateFunction(WString(L"Framework.PopupMenu"))();
    EXPECT_NE(dynamic_cast<ZT::LPopupMenu*>(popup.Get()), nullptr) << "Framework.PopupMenu made another class";
    const RCPtr<ZT::LControl> tip = factory->GetControlCreateFunction(WString(L"Framework.ToolTip"))();
    auto* toolTip = dynamic_cast<ZT::LToolTip*>(tip.Get());
    ASSERT_NE(toolTip, nullptr) << "Framework.ToolTip made another class";
    (void)toolTip->SetVisible(false);
    toolTip->ShowAt(WString(L"Rescan the USB bus"), 10, 20, 140, 22);
    EXPECT_TRUE(toolTip->IsVisible());
    EXPECT_EQ(toolTip->GetText(), WString(L"Rescan the USB bus"));
    EXPECT_EQ(toolTip->GetBounds(), (ZT::Rect{10, 20, 150, 42}));
    // Classes the toolkit does not build stay unknown.
    EXPECT_FALSE(factory->IsControlClassRegistered(WString(L"Framework.Knob")));
}

// The menu bar opens its menus as popups over the window; a click on an item closes the popup
// before its command goes out through the window.
TEST(MainMenu, OpensItsMenuUnderItsTitleAndAnItemsClickClosesItThenSendsTheCommand)
{
    class Target final : public ZT::UITarget {
    public:
        ZT::ZTRESULT QueryMenuItemState(ZT::NotificationID command, MenuItemState& state) override
        {
            if (command != ZT::InternNotificationID(L"NID_MENU_OPTIONS_ALLOW_DOWNGRADE"))
                return ZT::S_FALSE;
            state.mChecked = mChecked;
            return ZT::S_OK;
        }
        bool mChecked = true;
    };
    const auto top = ZT::MakeRC<ZT::LControl>();
    top->SetBounds({0, 0, 400, 450});
    const auto bar = ZT::MakeRC<ZT::LMainMenu>();
    bar->SetBounds({0, 0, 400, 20});
    ASSERT_RESULT_EQ(top->AddChild(bar), ZT::S_OK);
    const auto target = ZT::MakeRC<Target>();
    bar->SetCommandTarget(target.Get());
    bar->SetMenus({{WString(L"File"), {MakeItem(L"Open...", L"NID_MENU_FILE_SELECT"), MakeItem(L"Exit", L"NID_MENU_FILE_EXIT_REQ")}},
                   {WString(L"Options"), {MakeItem(L"Allow downgrade", L"NID_MENU_OPTIONS_ALLOW_DOWNGRADE")}}});
    // As the painter lays the titles out.
    bar->NoteTitleSpans({{8, 40}, {48, 60}});
    const auto window = ZT::MakeRC<ZT::LRootWindow>();
    ASSERT_RESULT_EQ(window->SetRootControl(top), ZT::S_OK);
    const auto recorder = ZT::MakeRC<CommandRecorder>();
    recorder->Register(window.Get(), L"NID_MENU_OPTIONS_ALLOW_DOWNGRADE");

    EXPECT_EQ(bar->TitleAt(3), -1) << "left of the first title";
    EXPECT_EQ(bar->TitleAt(60), 1);
    (void)bar->LeftClick(ZT::MakeRC<ZT::LMouseEvent>(ZT::LMouseEvent::Button::Left, 60, 10));
    const RCPtr<ZT::LControl> open = bar->GetOpenPopup();
    ASSERT_TRUE(open) << "a click on \"Options\" opened nothing";
    auto* popup = dynamic_cast<ZT::LPopupMenu*>(open.Get());
    ASSERT_TRUE(popup);
    EXPECT_EQ(top->GetChildren()[top->GetChildren().GetCount() - 1], popup) << "the popup is not drawn over the rest";
    EXPECT_EQ(popup->GetBounds().mLeft, 48) << "not under its title";
    EXPECT_EQ(popup->GetBounds().mTop, 20) << "not under the bar";
    ASSERT_EQ(popup->GetItems().size(), 1u);
    EXPECT_TRUE(popup->GetItems()[0].mState.mChecked) << "the command target's check mark is missing";
    EXPECT_GE(popup->GetBounds().GetHeight(), popup->GetContentHeight());

    // A click on the item: the popup goes, then the command reaches the window.
    const int itemY = ZT::LPopupMenu::kMargin + ZT::LPopupMenu::kFallbackRowHeight / 2;
    ASSERT_EQ(popup->ItemAt(itemY), 0);
    EXPECT_EQ(popup->ItemAt(ZT::LPopupMenu::kMargin + 3 * ZT::LPopupMenu::kFallbackRowHeight), -1) << "below the last item";
    (void)popup->LeftClick(ZT::MakeRC<ZT::LMouseEvent>(ZT::LMouseEvent::Button::Left, 10, itemY));
    EXPECT_EQ(popup->GetParent(), nullptr) << "the popup stayed open after its item was chosen";
    EXPECT_FALSE(bar->GetOpenPopup());
    EXPECT_EQ(recorder->mCommands, std::vector<std::string>{"NID_MENU_OPTIONS_ALLOW_DOWNGRADE"});

    // A second click on an open menu's title closes it.
    (void)bar->LeftClick(ZT::MakeRC<ZT::LMouseEvent>(ZT::LMouseEvent::Button::Left, 10, 10));
    ASSERT_TRUE(bar->GetOpenPopup());
    (void)bar->LeftClick(ZT::MakeRC<ZT::LMouseEvent>(ZT::LMouseEvent::Button::Left, 10, 10));
    EXPECT_FALSE(bar->GetOpenPopup()) << "a second click on \"File\" left its menu open";
    EXPECT_EQ(top->GetChildren().GetCount(), 1u);
    (void)window->ReleaseInternalReferences();
}

} // namespace
