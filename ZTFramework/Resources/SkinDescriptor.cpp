#include "ZTFramework/Resources/SkinDescriptor.h"

namespace ZT {

RCPtr<LControlDescriptor> LSkinDescriptor::FindChild(const WString& name) const
{
    for (LControlDescriptor* child : mChildren) {
        if (child->mName == name)
            return child;
    }
    return nullptr;
}

} // namespace ZT
