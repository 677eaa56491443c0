#pragma once
// Everything one skin document defines: the application's name, its colorizers, parts, looks
// and look lists by name, and its outermost skins with the control trees.
//
// Filled by the skin parser, which checks every reference between them; after a successful
// parse every name a part, look, look list or skin uses resolves here.

#include "ZTFramework/ObjectBase/RCPtr.h"
#include "ZTFramework/ObjectBase/RefCountedObject.h"
#include "ZTFramework/Resources/Colorizer.h"
#include "ZTFramework/Resources/ControlDescriptor.h"
#include "ZTFramework/Resources/LookDescriptor.h"
#include "ZTFramework/Resources/LookListDescriptor.h"
#include "ZTFramework/Resources/SkinDescriptor.h"
#include "ZTFramework/Resources/VisualPartDescriptor.h"
#include "ZTFramework/Utilities/Storage/RCPtrArray.h"
#include "ZTFramework/Utilities/Storage/StringT.h"

#include <map>

namespace ZT {

class LSkinDefinitions : public virtual LRefCountedObject {
public:
    [[nodiscard]] RCPtr<LColorizer> FindColorizer(const WString& name) const { return Find(mColorizers, name); }
    [[nodiscard]] RCPtr<LVisualPartDescriptor> FindPart(const WString& name) const { return Find(mParts, name); }
    [[nodiscard]] RCPtr<LLookDescriptor> FindLook(const WString& name) const { return Find(mLooks, name); }
    [[nodiscard]] RCPtr<LLookListDescriptor> FindLookList(const WString& name) const { return Find(mLookLists, name); }
    // The top control descriptor with this name, searched in the outermost skins in order.
    [[nodiscard]] RCPtr<LControlDescriptor> FindControlDescriptor(const WString& name) const;

    WString mApplicationName;
    std::map<WString, RCPtr<LColorizer>> mColorizers;
    std::map<WString, RCPtr<LVisualPartDescriptor>> mParts;
    std::map<WString, RCPtr<LLookDescriptor>> mLooks;
    std::map<WString, RCPtr<LLookListDescriptor>> mLookLists;
    RCPtrArray<LSkinDescriptor> mSkins;

private:
    template <class T>
    static RCPtr<T> Find(const std::map<WString, RCPtr<T>>& map, const WString& name)
    {
        const auto found = map.find(name);
        return found == map.end() ? RCPtr<T>() : found->second;
    }
};

} // namespace ZT
