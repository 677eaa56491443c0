#include "ZTFramework/Controls/MainMenu.h"

#include "ZTFramework/ControlBase/ControlFactory.h"
#include "ZTFramework/ControlBase/RootWindow.h"
#include "ZTFramework/Controls/PopupMenu.h"
#include "ZTFramework/Debug/DebugLine.h"
#include "ZTFramework/Notification/Notification.h"
#include "ZTFramework/Resources/StringTable.h"
#include "ZTFramework/Resources/ValueForms.h"

#include <algorithm>
#include <map>
#include <string>

namespace ZT {

namespace {

// Menus and items are numbered by decimal text; a table may hold at most this many of each, so a
// stray "MENU_LABEL.99999" cannot make the menu bar huge.
constexpr std::int32_t kMaxIndex = 64;

std::optional<std::int32_t> Index(std::string_view text)
{
    const auto index = CValueForms::ReadInteger(text);
    if (!index || *index < 0 || *index >= kMaxIndex || text.starts_with('-'))
        return std::nullopt;
    return index;
}

} // namespace

ZTRESULT LMainMenu::Initialize()
{
    const ZTRESULT result = LControl::Initialize();
    if (Failed(result))
        return result;
    mMenus.clear();
    const RCPtr<LControlFactory>& factory = GetControlFactory();
    const RCPtr<LStringTable> table = factory ? factory->GetStringTable(GetParent(), GetName()) : nullptr;
    if (!table)
        return S_OK;

    std::map<std::int32_t, Menu> menus;
    std::map<std::int32_t, std::map<std::int32_t, Item>> items;
    for (const auto& [idText, text] : table->GetStrings()) {
        const std::string id = idText.ToUTF8();
        if (id.starts_with("MENU_LABEL.")) {
            if (const auto menu = Index(std::string_view(id).substr(11)))
                menus[*menu].mTitle = text;
            continue;
        }
        if (!id.starts_with("CONTEXT_MENU"))
            continue;
        // CONTEXT_MENU<m>.<i>.<command>
        const std::string_view rest = std::string_view(id).substr(12);
        const std::size_t firstDot = rest.find('.');
        const std::size_t secondDot = firstDot == std::string_view::npos ? firstDot : rest.find('.', firstDot + 1);
        if (secondDot == std::string_view::npos)
            continue;
        const auto menu = Index(rest.substr(0, firstDot));
        const auto item = Index(rest.substr(firstDot + 1, secondDot - firstDot - 1));
        const std::string command(rest.substr(secondDot + 1));
        if (!menu || !item || command.empty())
            continue;
        Item& entry = items[*menu][*item];
        entry.mText = text;
        entry.mCommand = InternNotificationID(WString(command.c_str()).GetBuffer());
    }
    for (auto& [index, menu] : menus) {
        for (auto& [itemIndex, item] : items[index])
            menu.mItems.push_back(item);
        mMenus.push_back(std::move(menu));
    }
    return S_OK;
}

ZTRESULT LMainMenu::UpdateMenuStates(std::size_t menu)
{
    if (menu >= mMenus.size())
        return E_INVALIDARG;
    if (!mCommandTarget)
        return S_FALSE;
    for (Item& item : mMenus[menu].mItems)
        (void)mCommandTarget->QueryMenuItemState(item.mCommand, item.mState); // a failed query keeps the item's state
    return S_OK;
}

ZTRESULT LMainMenu::ChooseItem(std::size_t menu, std::size_t item)
{
    if (menu >= mMenus.size() || item >= mMenus[menu].mItems.size())
        return E_INVALIDARG;
    const Item& entry = mMenus[menu].mItems[item];
    if (!entry.mState.mEnabled)
        return E_FAIL;
    return SendCommand(entry.mCommand);
}

int LMainMenu::TitleAt(int x) const
{
    for (std::size_t i = 0; i < mTitleSpans.size() && i < mMenus.size(); ++i) {
        if (x >= mTitleSpans[i].first && x < mTitleSpans[i].first + mTitleSpans[i].second)
            return static_cast<int>(i);
    }
    if (!mTitleSpans.empty() || x < 0)
        return -1;
    const std::size_t index = static_cast<std::size_t>(x / kFallbackTitleWidth);
    return index < mMenus.size() ? static_cast<int>(index) : -1;
}

RCPtr<LControl> LMainMenu::GetOpenPopup() const
{
    // A popup that closed itself (an item was chosen) has left the tree.
    return mOpenPopup && mOpenPopup->GetParent() ? mOpenPopup : RCPtr<LControl>();
}

ZTRESULT LMainMenu::OpenMenu(std::size_t index)
{
    if (index >= mMenus.size())
        return E_INVALIDARG;
    const bool wasOpen = GetOpenPopup() && mOpenIndex == index;
    if (const RCPtr<LControl> open = GetOpenPopup())
        static_cast<LPopupMenu*>(open.Get())->Close();
    mOpenPopup = nullptr;
    if (wasOpen)
        return S_OK;

    LControl* top = this;
    while (top->GetParent())
        top = top->GetParent();
    const auto popup = MakeRC<LPopupMenu>();
    popup->SetName(WString(L"popupMenu"));
    (void)popup->SetItemsFromMenu(*this, index); // the index was checked by the caller
    const Rect bar = GetAreaInWindow();
    const Rect topArea = top->GetAreaInWindow();
    int left = bar.mLeft - topArea.mLeft;
    if (index < mTitleSpans.size())
        left += mTitleSpans[index].first;
    else
        left += static_cast<int>(index) * kFallbackTitleWidth;
    const int width = std::min(kPopupWidth, topArea.GetWidth());
    left = std::clamp(left, 0, std::max(0, topArea.GetWidth() - width));
    const int below = bar.mBottom - topArea.mTop;
    popup->SetBounds({left, below, left + width, below + popup->GetContentHeight()});
    const ZTRESULT added = top->AddChild(popup);
    if (Failed(added))
        return added;
    if (Failed(popup->Initialize()))
        DebugLine("LMainMenu: the popup menu could not take the application center");
    mOpenPopup = popup;
    mOpenIndex = index;
    return S_OK;
}

void LMainMenu::OnLeftClick(const LMouseEvent& event)
{
    if (const int index = TitleAt(event.GetX()); index >= 0)
        (void)OpenMenu(static_cast<std::size_t>(index)); // a title's index is in range
}

} // namespace ZT
