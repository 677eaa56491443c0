#pragma once
// A skin's part: a piece of a bitmap (or a plain area) with its size, how it fills a larger
// area, and an optional colorizer with its alpha and mask. Filled by the skin parser.

#include "ZTFramework/ObjectBase/RefCountedObject.h"
#include "ZTFramework/Utilities/Storage/StringT.h"

#include <cstdint>
#include <optional>

namespace ZT {

class LVisualPartDescriptor : public virtual LRefCountedObject {
public:
    enum class ResizeType { Stretch, Tile, Center };

    WString mName;
    std::optional<std::int32_t> mWidth;    // pixels
    std::optional<std::int32_t> mHeight;
    ResizeType mResizeType = ResizeType::Stretch;
    WString mImageFile;                    // "::Name.png" for a built-in image, else a file
    std::optional<std::int32_t> mImageLocX;  // top left of the part inside the image, pixels
    std::optional<std::int32_t> mImageLocY;
    WString mColorizerName;
    std::optional<double> mColorizerAlphaMod;  // 0..1
    WString mColorizerMaskFile;
    std::optional<std::int32_t> mMaskLocX;
    std::optional<std::int32_t> mMaskLocY;
    int mLine = 0;
};

} // namespace ZT
