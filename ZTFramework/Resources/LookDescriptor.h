#pragma once
// A skin's look: the parts a control is drawn with and where its text goes. Filled by the skin
// parser; the toolkit reads it.

#include "ZTFramework/ObjectBase/RCPtr.h"
#include "ZTFramework/ObjectBase/RefCountedObject.h"
#include "ZTFramework/Resources/DockedPart.h"
#include "ZTFramework/Utilities/Storage/RCPtrArray.h"
#include "ZTFramework/Utilities/Storage/StringT.h"

#include <cstdint>
#include <optional>

namespace ZT {

class LLookDescriptor : public virtual LRefCountedObject {
public:
    // The text rectangle as fractions of the control (Rel) plus pixels (Abs), its alignment
    // (0 left/top .. 1 right/bottom) and the part whose colour the text takes.
    struct TextProperties {
        std::optional<double> mLeftRel;
        std::optional<std::int32_t> mLeftAbs;
        std::optional<double> mRightRel;
        std::optional<std::int32_t> mRightAbs;
        std::optional<double> mHAlign;
        std::optional<double> mTopRel;
        std::optional<std::int32_t> mTopAbs;
        std::optional<double> mBottomRel;
        std::optional<std::int32_t> mBottomAbs;
        std::optional<double> mVAlign;
        WString mForegroundPart;
        int mLine = 0;
    };

    WString mName;
    RCPtr<LDockedPart> mClientPart;            // null when the look has none
    WString mNonClientPartsName;
    RCPtrArray<LDockedPart> mNonClientParts;   // in document order
    std::optional<TextProperties> mTextProperties;
    int mLine = 0;
};

} // namespace ZT
