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
#include <utility>
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
    // Menus built by code instead of the string table.
    void SetMenus(std::vector<Menu> menus)
    {
        mMenus = std::move(menus);
        Invalidate();
    }
    // The control that answers for the items' states; a plain pointer, since the target holds
    // the menu (as a child or a member) and outlives it.
    void SetCommandTarget(UITarget* target) noexcept { mCommandTarget = target; }
    // Asks the command target for the state of every item of menu index (before it opens).
    ZTRESULT UpdateMenuStates(std::size_t menu);
    // Sends the item's command. E_INVALIDARG for an index out of range; E_FAIL for a disabled
    // item; otherwise the result of the send.
    ZTRESULT ChooseItem(std::size_t menu, std::size_t item);

    // The menu whose title is at x (pixels from the bar's left), -1 for none: from the spans the
    // painter laid the titles out in (NoteTitleSpans), or kFallbackTitleWidth each before the
    // first paint.
    [[nodiscard]] int TitleAt(int x) const;
    // The painter's title spans (left and width of each title, from the bar's left).
    void NoteTitleSpans(std::vector<std::pair<int, int>> spans) const { mTitleSpans = std::move(spans); }
    // Opens menu index as a popup under its title, with the states the command target gives its
    // items, as the last child of the tree's top control. A second open of the same menu closes
    // it. E_INVALIDARG for an index out of range.
    ZTRESULT OpenMenu(std::size_t index);
    // The popup that is open, or null.
    [[nodiscard]] RCPtr<LControl> GetOpenPopup() const;

    static constexpr int kFallbackTitleWidth = 64;
    static constexpr int kPopupWidth = 200;

protected:
    void OnLeftClick(const LMouseEvent& event) override;

private:
    std::vector<Menu> mMenus;
    UITarget* mCommandTarget = nullptr;
    mutable std::vector<std::pair<int, int>> mTitleSpans;   // the painter's layout, a cache
    RCPtr<LControl> mOpenPopup;
    std::size_t mOpenIndex = 0;
};

} // namespace ZT
