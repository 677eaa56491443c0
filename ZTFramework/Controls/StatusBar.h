#pragma once
// The window's status line: its text is the current status message (the wait texts of long
// steps, the download's progress messages).

#include "ZTFramework/ControlBase/Control.h"

namespace ZT {

class LStatusBar : public LControl {
public:
    static RCPtr<LControl> Create() { return MakeRC<LStatusBar>(); }
};

} // namespace ZT
