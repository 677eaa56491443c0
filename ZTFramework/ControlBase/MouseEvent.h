#pragma once
// A mouse event over a control: which button (none for a move), where (pixels in the control),
// and the keyboard modifiers held. The payload of the click and mouse notifications.

#include "ZTFramework/ObjectBase/RefCountedObject.h"

#include <cstdint>

namespace ZT {

class LMouseEvent : public virtual LRefCountedObject {
public:
    enum class Button { None, Left, Middle, Right };
    enum Modifier : std::uint32_t { kShift = 1, kControl = 2, kAlt = 4 };

    LMouseEvent(Button button, int x, int y, std::uint32_t modifiers = 0) noexcept
        : mButton(button), mX(x), mY(y), mModifiers(modifiers)
    {
    }

    [[nodiscard]] Button GetButton() const noexcept { return mButton; }
    [[nodiscard]] int GetX() const noexcept { return mX; }
    [[nodiscard]] int GetY() const noexcept { return mY; }
    [[nodiscard]] std::uint32_t GetModifiers() const noexcept { return mModifiers; }

private:
    Button mButton;
    int mX;
    int mY;
    std::uint32_t mModifiers;
};

} // namespace ZT
