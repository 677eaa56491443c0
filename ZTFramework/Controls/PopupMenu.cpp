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
    (void)menu.UpdateMenuStates(index);
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

} // namespace ZT
