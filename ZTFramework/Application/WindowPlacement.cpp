#include "ZTFramework/Application/WindowPlacement.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <string>

namespace ZT {
namespace {

constexpr std::array<WindowPlacement::ShowState, 3> kShowStates{
    WindowPlacement::ShowState::Normal, WindowPlacement::ShowState::Minimized, WindowPlacement::ShowState::Maximized};

WString Key(const WString& windowClassName, const wchar_t* value)
{
    return WindowPlacement::KeyOf(windowClassName) + WString(L".") + WString(value);
}

} // namespace

const char* ToString(WindowPlacement::ShowState state) noexcept
{
    switch (state) {
    case WindowPlacement::ShowState::Normal:
        return "Normal";
    case WindowPlacement::ShowState::Minimized:
        return "Minimized";
    case WindowPlacement::ShowState::Maximized:
        return "Maximized";
    }
    return "?";
}

WindowPlacement WindowPlacement::Restored() const noexcept
{
    WindowPlacement restored = *this;
    if (restored.mShowState == ShowState::Minimized)
        restored.mShowState = ShowState::Normal;
    return restored;
}

WString WindowPlacement::KeyOf(const WString& windowClassName)
{
    std::wstring key(windowClassName.View());
    std::replace_if(key.begin(), key.end(), [](wchar_t c) { return c == L'.' || c == L'[' || c == L']'; }, L'_');
    return WString(key.c_str());
}

std::optional<WindowPlacement> WindowPlacement::Read(IIniFileManager& manager, IniFileHandle file,
                                                     const WString& windowClassName)
{
    const wchar_t* const names[] = {L"Left", L"Top", L"Width", L"Height"};
    std::int32_t values[4] = {};
    for (int i = 0; i < 4; ++i) {
        const WString key = Key(windowClassName, names[i]);
        if (!manager.KeyExists(file, key))
            return std::nullopt;
        // A value that is no number reads as 0; sizes are checked below.
        (void)manager.GetInteger(file, key, 0, values[i]);
    }
    const auto [left, top, width, height] = values;
    if (width <= 0 || height <= 0 || width > kMaxCoordinate || height > kMaxCoordinate)
        return std::nullopt;
    if (left < -kMaxCoordinate || left > kMaxCoordinate || top < -kMaxCoordinate || top > kMaxCoordinate)
        return std::nullopt;

    WString stateText;
    // A missing value reads as "Normal".
    (void)manager.GetString(file, Key(windowClassName, L"ShowState"), WString(L"Normal"), stateText);
    WindowPlacement placement;
    placement.mNormal = {left, top, left + width, top + height};
    const auto state = std::find_if(kShowStates.begin(), kShowStates.end(), [&](ShowState candidate) {
        return stateText == WString(ToString(candidate));
    });
    if (state == kShowStates.end())
        return std::nullopt;
    placement.mShowState = *state;
    return placement;
}

ZTRESULT WindowPlacement::Write(IIniFileManager& manager, IniFileHandle file, const WString& windowClassName) const
{
    const std::pair<const wchar_t*, std::int32_t> values[] = {{L"Left", mNormal.mLeft},
                                                             {L"Top", mNormal.mTop},
                                                             {L"Width", mNormal.GetWidth()},
                                                             {L"Height", mNormal.GetHeight()}};
    for (const auto& [name, value] : values) {
        if (Failed(manager.SetInteger(file, Key(windowClassName, name), value)))
            return IIniFileManager::kFailed;
    }
    if (Failed(manager.SetString(file, Key(windowClassName, L"ShowState"), WString(ToString(mShowState)))))
        return IIniFileManager::kFailed;
    return manager.SaveFile(file);
}

Rect FitToDesktop(const Rect& window, const Rect& desktop) noexcept
{
    if (desktop.IsEmpty())
        return window;
    const int width = std::min(window.GetWidth(), desktop.GetWidth());
    const int height = std::min(window.GetHeight(), desktop.GetHeight());
    int left = std::max(window.mLeft, desktop.mLeft);
    int top = std::max(window.mTop, desktop.mTop);
    if (left + width > desktop.mRight)
        left = desktop.mRight - width;
    if (top + height > desktop.mBottom)
        top = desktop.mBottom - height;
    return {left, top, left + width, top + height};
}

} // namespace ZT
