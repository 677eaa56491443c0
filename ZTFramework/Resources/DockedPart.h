#pragma once
// A part placed in a look: the client part fills the control less its offsets; a non-client
// part is docked by its offsets and optional size. Offsets and sizes are pixels.

#include "ZTFramework/ObjectBase/RefCountedObject.h"
#include "ZTFramework/Utilities/Storage/StringT.h"

#include <cstdint>
#include <optional>

namespace ZT {

class LDockedPart : public virtual LRefCountedObject {
public:
    WString mPartName;
    std::optional<std::int32_t> mOffsetLeft;
    std::optional<std::int32_t> mOffsetTop;
    std::optional<std::int32_t> mOffsetRight;
    std::optional<std::int32_t> mOffsetBottom;
    std::optional<std::int32_t> mWidth;
    std::optional<std::int32_t> mHeight;
    int mLine = 0;
};

} // namespace ZT
