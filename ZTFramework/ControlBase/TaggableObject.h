#pragma once
// An object that code may label with named texts of its own (a control's help topic, a test's
// marker) without a subclass.
//
// Not guarded: the user-interface thread's.

#include "ZTFramework/ObjectBase/RefCountedObject.h"
#include "ZTFramework/Utilities/Storage/StringT.h"

#include <map>

namespace ZT {

class LTaggableObject : public virtual LRefCountedObject {
public:
    void SetTag(const WString& name, const WString& value) { mTags[name] = value; }
    // true with the value when the tag is set; value is left unchanged otherwise.
    [[nodiscard]] bool GetTag(const WString& name, WString& value) const
    {
        const auto found = mTags.find(name);
        if (found == mTags.end())
            return false;
        value = found->second;
        return true;
    }
    bool RemoveTag(const WString& name) { return mTags.erase(name) > 0; }

private:
    std::map<WString, WString> mTags;
};

} // namespace ZT
