#pragma once
// Where a control sits and how big it is, per axis, as the skin writes it. A position or size is
// relative to another control ("Parent", "Screen", "Client", "Active Window", "Self",
// "Children" or a sibling's name) as a fraction (Rel) plus pixels (Abs). Filled by the skin
// parser; the toolkit's layout gives it meaning.

#include "ZTFramework/ObjectBase/RefCountedObject.h"
#include "ZTFramework/Utilities/Storage/StringT.h"

#include <cstdint>
#include <optional>

namespace ZT {

class LLayoutDescriptor : public virtual LRefCountedObject {
public:
    struct Measure {
        WString mToControl;
        std::optional<double> mRel;
        std::optional<std::int32_t> mAbs;
    };
    struct Axis {
        Measure mPosition;
        Measure mSize;
        Measure mMinSize;
        Measure mMaxSize;
        bool mIsDocked = false;
        std::optional<double> mPlacementAnchor;
    };

    Axis mX;
    Axis mY;
};

} // namespace ZT
