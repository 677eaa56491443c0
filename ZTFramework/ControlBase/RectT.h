#pragma once
// An axis-aligned rectangle: left and top inclusive, right and bottom exclusive.

namespace ZT {

template <class T>
struct RectT {
    T mLeft{};
    T mTop{};
    T mRight{};
    T mBottom{};

    [[nodiscard]] constexpr T GetWidth() const noexcept { return mRight - mLeft; }
    [[nodiscard]] constexpr T GetHeight() const noexcept { return mBottom - mTop; }
    [[nodiscard]] constexpr bool IsEmpty() const noexcept { return !(mRight > mLeft && mBottom > mTop); }
    [[nodiscard]] constexpr RectT Offset(T x, T y) const noexcept { return {mLeft + x, mTop + y, mRight + x, mBottom + y}; }
    constexpr bool operator==(const RectT&) const noexcept = default;
};

using Rect = RectT<int>;

} // namespace ZT
