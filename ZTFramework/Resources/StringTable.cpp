#include "ZTFramework/Resources/StringTable.h"

namespace ZT {

bool LStringTable::GetString(const WString& id, WString& text) const
{
    const auto found = mStrings.find(id);
    if (found == mStrings.end())
        return false;
    text = found->second;
    return true;
}

} // namespace ZT
