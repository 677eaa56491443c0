#pragma once
// A control's conditions: a 32-bit mask of what the control is (focused, hovered, dragged,
// enabled, visible), and the payload of the condition notifications: the mask before and after
// a change.

#include "ZTFramework/ObjectBase/RefCountedObject.h"

#include <cstdint>

namespace ZT {

class LConditions : public virtual LRefCountedObject {
public:
    // Bit numbers of the mask.
    enum Bit : std::uint32_t {
        kHasFocus = 1u << 0,
        kContainsFocus = 1u << 1,
        kCapture = 1u << 3,
        kLeftDrag = (1u << 4) | (1u << 7),
        kMiddleDrag = (1u << 5) | (1u << 8),
        kRightDrag = (1u << 6) | (1u << 9),
        kEnabled = 1u << 10,
        kVisible = 1u << 11,
        kHover = 1u << 12,
    };

    LConditions(std::uint32_t previous, std::uint32_t current) noexcept : mPrevious(previous), mCurrent(current) {}

    [[nodiscard]] std::uint32_t GetPrevious() const noexcept { return mPrevious; }
    [[nodiscard]] std::uint32_t GetCurrent() const noexcept { return mCurrent; }
    // Whether any bit of condition differs between the two masks.
    [[nodiscard]] bool Changed(std::uint32_t condition) const noexcept { return ((mPrevious ^ mCurrent) & condition) != 0; }

private:
    std::uint32_t mPrevious;
    std::uint32_t mCurrent;
};

} // namespace ZT
