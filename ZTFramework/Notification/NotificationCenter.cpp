#include "ZTFramework/Notification/NotificationCenter.h"

#include "ZTFramework/Errors/Exception.h"

namespace ZT {

LNotificationCenter::LNotificationCenter(const WString& name) : mName(name)
{
    ZT_THROW_IF_FAILED(SetOwnDistributor(this), "ZT::LNotificationCenter::LNotificationCenter");
}

LNotificationCenter::~LNotificationCenter() = default;

WString LNotificationCenter::ToString() const
{
    return WString(L"LNotificationCenter ") + mName;
}

ZTRESULT LNotificationCenter::ReleaseInternalReferences()
{
    (void)DetachAllClients(); // always S_OK
    Shutdown();
    return LRefCountedObject::ReleaseInternalReferences();
}

} // namespace ZT
