#pragma once
// A tooltip: a small box with a text (its caption) shown near the control the mouse rests on.
// The window decides when and where it shows; this control keeps the text and the place.

#include "ZTFramework/ControlBase/Control.h"

namespace ZT {

class LToolTip : public LControl {
public:
    static RCPtr<LControl> Create() { return MakeRC<LToolTip>(); }

    // Shows text with its top left corner at (left, top) in the parent, size width x height.
    void ShowAt(const WString& text, int left, int top, int width, int height);
};

} // namespace ZT
