#include "ZTFramework/Controls/Button.h"

namespace ZT {

LButton::LookIndex LButton::GetLookIndex() const noexcept
{
    const std::uint32_t conditions = GetConditions();
    if ((conditions & LConditions::kEnabled) == 0)
        return kDisabledLook;
    const bool hover = (conditions & LConditions::kHover) != 0;
    if (hover && (conditions & LConditions::kLeftDrag) != 0)
        return kPressedLook;
    return hover ? kHoverLook : kNormalLook;
}

} // namespace ZT
