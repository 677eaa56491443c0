#pragma once
// A popup menu: a column of items, each with its text, its command (a notification ID), and
// whether it is enabled and checked; one item may be highlighted (under the mouse or chosen by
// keyboard). The painter draws a checked item with a check mark and a disabled one dimmed.
//
// Choosing an item sends its command through the root window, or through the menu itself while
// it has no window, like the main menu does.

#include "ZTFramework/ControlBase/Control.h"
#include "ZTFramework/Controls/MainMenu.h"

#include <cstddef>
#include <vector>

namespace ZT {

class LPopupMenu : public LControl {
public:
    using Item = LMainMenu::Item;

    static RCPtr<LControl> Create() { return MakeRC<LPopupMenu>(); }

    void SetItems(std::vector<Item> items);
    // The items of menu index of a main menu, with the states its command target gives them.
    // E_INVALIDARG for an index out of range.
    ZTRESULT SetItemsFromMenu(LMainMenu& menu, std::size_t index);
    [[nodiscard]] const std::vector<Item>& GetItems() const noexcept { return mItems; }
    // E_INVALIDARG for an index out of range.
    ZTRESULT SetItemChecked(std::size_t item, bool checked);
    ZTRESULT SetItemEnabled(std::size_t item, bool enabled);

    // The highlighted item, -1 for none; an index out of range highlights none.
    void SetHighlightedItem(int item);
    [[nodiscard]] int GetHighlightedItem() const noexcept { return mHighlighted; }

    // Sends the item's command. E_INVALIDARG for an index out of range, E_FAIL for a disabled
    // item; otherwise the result of the send.
    ZTRESULT ChooseItem(std::size_t item);

private:
    std::vector<Item> mItems;
    int mHighlighted = -1;
};

} // namespace ZT
