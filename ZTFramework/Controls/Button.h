#pragma once
// A push button: a caption and four looks (normal, hover, pressed, disabled, in that order in its
// look list) chosen from its conditions. Its clicks reach whoever registered for
// "NID_LEFT_CLICK".

#include "ZTFramework/ControlBase/Control.h"

namespace ZT {

class LButton : public LControl {
public:
    enum LookIndex { kNormalLook = 0, kHoverLook = 1, kPressedLook = 2, kDisabledLook = 3 };

    static RCPtr<LControl> Create() { return MakeRC<LButton>(); }

    // The look its conditions call for: disabled wins, then pressed (held with the left button
    // while the mouse is over it), then hover.
    [[nodiscard]] LookIndex GetLookIndex() const noexcept;
};

} // namespace ZT
