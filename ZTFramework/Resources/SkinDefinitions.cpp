#include "ZTFramework/Resources/SkinDefinitions.h"

namespace ZT {

RCPtr<LControlDescriptor> LSkinDefinitions::FindControlDescriptor(const WString& name) const
{
    for (LSkinDescriptor* skin : mSkins) {
        if (RCPtr<LControlDescriptor> found = skin->FindChild(name))
            return found;
    }
    return nullptr;
}

} // namespace ZT
