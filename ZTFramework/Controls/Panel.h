#pragma once
// A plain area drawn with its look (a picture, a background) that may hold other controls.

#include "ZTFramework/ControlBase/Control.h"

namespace ZT {

class LPanel : public LControl {
public:
    static RCPtr<LControl> Create() { return MakeRC<LPanel>(); }
};

} // namespace ZT
