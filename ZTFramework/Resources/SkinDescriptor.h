#pragma once
// A "Skin" of the skin document: a name, a look list, a font, and the controls it holds. The
// outermost skin holds the top controls of the application ("mainControl"); a control's own skin
// holds that control's children, in document order.

#include "ZTFramework/ObjectBase/RefCountedObject.h"
#include "ZTFramework/Resources/ControlDescriptor.h"
#include "ZTFramework/Utilities/Storage/RCPtrArray.h"
#include "ZTFramework/Utilities/Storage/StringT.h"

#include <cstdint>
#include <optional>
#include <utility>
#include <vector>

namespace ZT {

class LSkinDescriptor : public virtual LRefCountedObject {
public:
    // "FontLocale": font names to use instead of others for one locale ("FontXLat" Name -> XLat).
    struct FontLocale {
        std::uint32_t mLcid = 0;
        std::vector<std::pair<WString, WString>> mTranslations;
    };

    // The child control descriptor with this name, or null.
    [[nodiscard]] RCPtr<LControlDescriptor> FindChild(const WString& name) const;

    WString mName;
    WString mLookListName;
    WString mFontName;
    std::optional<double> mFontSize;
    std::optional<std::int32_t> mFontStyle;
    std::vector<FontLocale> mFontLocales;
    RCPtrArray<LControlDescriptor> mChildren;
    int mLine = 0;
};

} // namespace ZT
