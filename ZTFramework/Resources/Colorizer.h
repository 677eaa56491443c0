#pragma once
// A skin's colorizer: a plain colour or a gradient that parts are tinted with. Colours are
// 0xAARRGGBB; gradient points are fractions of the part's size. Filled by the skin parser.

#include "ZTFramework/ObjectBase/RefCountedObject.h"
#include "ZTFramework/Utilities/Storage/StringT.h"

#include <cstdint>
#include <optional>

namespace ZT {

class LColorizer : public virtual LRefCountedObject {
public:
    enum class ColorType { SolidFill, LinearGradient, RadialGradient };

    WString mName;
    ColorType mColorType = ColorType::SolidFill;
    std::uint32_t mColor = 0xFF000000;
    std::optional<std::uint32_t> mGradientEndColor;
    std::optional<double> mGradientStartX;
    std::optional<double> mGradientStartY;
    std::optional<double> mGradientEndX;
    std::optional<double> mGradientEndY;
    int mLine = 0;   // where the document defines it, for messages
};

} // namespace ZT
