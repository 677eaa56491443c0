#pragma once
// The window's menu bar, built from its string table: "MENU_LABEL.<m>" is the title of menu m,
// "CONTEXT_MENU<m>.<i>.<command>" the text of item i of menu m, whose command is the
// notification ID "<command>" (for example "CONTEXT_MENU0.00.NID_MENU_FILE_ITEM_1").
//
// Choosing an item sends its command through the root window (where the window's commands are
// handled), or through the menu itself while it has no window. Before a menu opens, the command
// target (SetCommandTarget) says whether each item is enabled and checked.

#include "ZTFramework/ControlBase/Control.h"
#include "ZTFramework/ControlBase/UITarget.h"
#include "ZTFramework/Notification/NotificationID.h"

#include <cstddef>
#include <vector>

namespace ZT {

class LMainMenu : public LControl {
public:
    struct Item {
        WString mText;
        NotificationID mCommand = 0;
        UITarget::MenuItemState mState;
    };
    struct Menu {
        WString mTitle;
        std::vector<Item> mItems;
    };

    static RCPtr<LControl> Create() { return MakeRC<LMainMenu>(); }

    // Reads the menus from the table of this control (its parent's class, "|", its name).
    [[nodiscard]] ZTRESULT Initialize() override;

    [[nodiscard]] const std::vector<Menu>& GetMenus() const noexcept { return mMenus; }
    // The control that answers for the items' states; a plain pointer, since the target holds
    // the menu (as a child or a member) and outlives it.
    void SetCommandTarget(UITarget* target) noexcept { mCommandTarget = target; }
    // Asks the command target for the state of every item of menu index (before it opens).
    ZTRESULT UpdateMenuStates(std::size_t menu);
    // Sends the item's command. E_INVALIDARG for an index out of range; E_FAIL for a disabled
    // item; otherwise the result of the send.
    ZTRESULT ChooseItem(std::size_t menu, std::size_t item);

private:
    std::vector<Menu> mMenus;
    UITarget* mCommandTarget = nullptr;
};

} // namespace ZT
