#include "ZTFramework/Graphics/SkinMessages.h"

#include "ZTFramework/Debug/DebugLine.h"

namespace ZT {

void CSkinMessages::Report(const std::string& message)
{
    if (!mSeen.insert(message).second)
        return;
    mMessages.push_back(message);
    DebugLine("Skin: " + message);
}

} // namespace ZT
