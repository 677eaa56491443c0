#pragma once
// A skin's look list: the looks of one kind of control by index (for a button, for example,
// normal, hover, pressed and disabled). Filled by the skin parser.

#include "ZTFramework/ObjectBase/RefCountedObject.h"
#include "ZTFramework/Utilities/Storage/ArrayUtils.h"
#include "ZTFramework/Utilities/Storage/StringT.h"

#include <cstdint>

namespace ZT {

class LLookListDescriptor : public virtual LRefCountedObject {
public:
    WString mName;
    // Look names by index; an index the document leaves out holds an empty name.
    Array<WString> mLookNames;
    int mLine = 0;
};

} // namespace ZT
