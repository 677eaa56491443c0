#include "ZTFramework/Controls/PopupMenu.h"

#include "ZTFramework/ControlBase/RootWindow.h"
#include "ZTFramework/Notification/Notification.h"

#include <utility>

namespace ZT {

void LPopupMenu::SetItems(std::vector<Item> items)
{
    mItems = std::move(items);
    mHighlighted = -1;
    Invalidate();
}

ZTRESULT LPopupMenu::SetItemsFromMenu(LMainMenu& menu, std::size_t index)
{
    if (index >= menu.GetMenus().size())
        return E_INVALIDARG;
    (void)menu.UpdateMenuStates(index); // without a command target the states stay
    SetItems(menu.GetMenus()[index].mItems);
    return S_OK;
}

ZTRESULT LPopupMenu::SetItemChecked(std::size_t item, bool checked)
{
    if (item >= mItems.size())
        return E_INVALIDARG;
    if (mItems[item].mState.mChecked != checked) {
        mItems[item].mState.mChecked = checked;
        Invalidate();
    }
    return S_OK;
}

ZTRESULT LPopupMenu::SetItemEnabled(std::size_t item, bool enabled)
{
    if (item >= mItems.size())
        return E_INVALIDARG;
    if (mItems[item].mState.mEnabled != enabled) {
        mItems[item].mState.mEnabled = enabled;
        Invalidate();
    }
    return S_OK;
}

void LPopupMenu::SetHighlightedItem(int item)
{
    if (item < 0 || static_cast<std::size_t>(item) >= mItems.size())
        item = -1;
    if (item != mHighlighted) {
        mHighlighted = item;
        Invalidate();
    }
}

ZTRESULT LPopupMenu::ChooseItem(std::size_t item)
{
    if (item >= mItems.size())
        return E_INVALIDARG;
    if (!mItems[item].mState.mEnabled)
        return E_FAIL;
    return SendCommand(mItems[item].mCommand);
}

int LPopupMenu::ItemAt(int y) const
{
    for (std::size_t i = 0; i < mItemRows.size() && i < mItems.size(); ++i) {
        if (y >= mItemRows[i].first && y < mItemRows[i].first + mItemRows[i].second)
            return static_cast<int>(i);
    }
    if (!mItemRows.empty() || y < kMargin)
        return -1;
    const std::size_t row = static_cast<std::size_t>((y - kMargin) / kFallbackRowHeight);
    return row < mItems.size() ? static_cast<int>(row) : -1;
}

int LPopupMenu::GetContentHeight() const
{
    if (!mItemRows.empty())
        return mItemRows.back().first + mItemRows.back().second + kMargin;
    return 2 * kMargin + static_cast<int>(mItems.size()) * kFallbackRowHeight;
}

void LPopupMenu::Close()
{
    if (LControl* parent = GetParent()) {
        Invalidate();
        const RCPtr<LControl> keepAlive(this);
        (void)parent->RemoveChild(this); // closing: not being a child is fine
    }
}

void LPopupMenu::OnLeftClick(const LMouseEvent& event)
{
    const int item = ItemAt(event.GetY());
    if (item < 0 || !mItems[static_cast<std::size_t>(item)].mState.mEnabled)
        return;
    // The command may run long (a file chooser): the menu is gone by then. It still goes
    // through the window the menu was in.
    const NotificationID command = mItems[static_cast<std::size_t>(item)].mCommand;
    const RCPtr<LRootWindow> window(GetRootWindow());
    Close();
    if (const RCPtr<LNotification> notification = CreateNotification(command); notification && window)
        (void)window->Send(notification); // the command's handlers report their own failures
}

} // namespace ZT
