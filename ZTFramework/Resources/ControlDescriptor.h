#pragma once
// One "SubControl" of a skin: the control's name and class, its layout and text attributes and
// its own skin (look list and child controls). The control factory creates a control from it.

#include "ZTFramework/ObjectBase/RCPtr.h"
#include "ZTFramework/ObjectBase/RefCountedObject.h"
#include "ZTFramework/Resources/LayoutDescriptor.h"
#include "ZTFramework/Utilities/Storage/StringT.h"

#include <cstdint>
#include <optional>
#include <utility>
#include <vector>

namespace ZT {

class LSkinDescriptor;

class LControlDescriptor : public virtual LRefCountedObject {
public:
    enum class TextOverflow { Clip, Expand, Wrap };

    // One "CreateParam": its attributes as written and its text.
    struct CreateParam {
        std::vector<std::pair<WString, WString>> mAttributes;
        WString mText;
    };

    LControlDescriptor();
    ~LControlDescriptor() override;

    WString mName;
    WString mClassName;
    RCPtr<LLayoutDescriptor> mLayout;   // never null
    bool mClipToParent = false;
    bool mIsVisible = true;             // a control the skin does not hide is visible
    std::optional<std::int32_t> mZOrder;
    std::optional<std::int32_t> mLayoutOrder;
    std::optional<std::int32_t> mTabStop;
    WString mTextDecoration;
    std::optional<TextOverflow> mTextOverflowX;
    std::optional<TextOverflow> mTextOverflowY;
    std::optional<bool> mFontInheritsFromParent;
    WString mFontName;
    std::optional<double> mFontSize;    // points
    std::optional<bool> mFontSizeIsRelative;
    std::optional<std::int32_t> mFontStyle;
    std::vector<CreateParam> mCreateParams;
    RCPtr<LSkinDescriptor> mSkin;       // null when the control has no "Skin" child
    int mLine = 0;
};

} // namespace ZT
