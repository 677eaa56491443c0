#pragma once
// A popup menu: a column of items, each with its text, its command (a notification ID), and
// whether it is enabled and checked; one item may be highlighted (under the mouse or chosen by
// keyboard). The painter draws a checked item with a check mark and a disabled one dimmed.
//
// Choosing an item sends its command through the root window, or through the menu itself while
// it has no window, like the main menu does.
//
// Opened by a main menu (LMainMenu::OpenMenu), the popup is the last child of the tree's top
// control, so it is drawn over the rest and takes the clicks over it. A click on an item closes
// it and then sends the item's command; the window's input closes it (Close) when the mouse is
// pressed anywhere else.

#include "ZTFramework/ControlBase/Control.h"
#include "ZTFramework/Controls/MainMenu.h"

#include <cstddef>
#include <utility>
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

    // The item at y (pixels from the menu's top), -1 for none: from the rows the painter laid
    // out (NoteItemRows), or rows of kFallbackRowHeight before the first paint.
    [[nodiscard]] int ItemAt(int y) const;
    // The painter's rows (top and height of each item, from the menu's top).
    void NoteItemRows(std::vector<std::pair<int, int>> rows) const { mItemRows = std::move(rows); }
    // The height the items need (the painter's rows, else the fallback rows), with the margins.
    [[nodiscard]] int GetContentHeight() const;
    // Leaves the tree (the window repaints where it was). Nothing when it has no parent.
    void Close();

    static constexpr int kFallbackRowHeight = 22;
    static constexpr int kMargin = 4;

protected:
    // A click on an enabled item closes the menu, then sends the item's command.
    void OnLeftClick(const LMouseEvent& event) override;

private:
    std::vector<Item> mItems;
    int mHighlighted = -1;
    mutable std::vector<std::pair<int, int>> mItemRows;   // the painter's layout, a cache
};

} // namespace ZT
