#pragma once
// Turns one notification handler off for a scope: construction removes the owner's
// registration for (source, ID) and the handler's binding, destruction puts both back with the
// saved function and flags. Used around code that would otherwise notify its own caller.
//
// Failures throw "Failed Result" exceptions naming
// ZT::CAutoNotificationDisabler<class T>::CAutoNotificationDisabler (or ~CAutoNotificationDisabler).
// The destructor does not throw while another exception is passing; the binding is then lost.

#include "ZTFramework/Errors/Exception.h"
#include "ZTFramework/Errors/Result.h"
#include "ZTFramework/Notification/NotificationDistributor.h"
#include "ZTFramework/Notification/NotificationHandler.h"
#include "ZTFramework/Notification/NotificationID.h"
#include "ZTFramework/ObjectBase/RCPtr.h"

#include <cstdint>
#include <exception>
#include <string>

namespace ZT {

template <class T>
class CAutoNotificationDisabler {
public:
    CAutoNotificationDisabler(const RCPtr<LNotificationHandler<T>>& handler, LNotificationDistributor* source,
                              const wchar_t* idText)
        : mHandler(handler), mSource(source), mID(InternNotificationID(idText)),
          mUncaughtAtStart(std::uncaught_exceptions())
    {
        ZTRESULT result = mHandler ? mHandler->GetHandler(source, idText, mSavedEntry, mSavedFlags) : E_INVALIDARG;
        if (Failed(result))
            ZT_THROW_FAILED_RESULT(result, FunctionName("CAutoNotificationDisabler"));
        result = mHandler->GetOwner()->Unregister(source, mID);
        if (Succeeded(result))
            result = mHandler->RemoveHandler(source, idText) ? S_OK : E_FAIL;
        if (Failed(result))
            ZT_THROW_FAILED_RESULT(result, FunctionName("CAutoNotificationDisabler"));
    }

    ~CAutoNotificationDisabler() noexcept(false)
    {
        const ZTRESULT result = mHandler->AddHandler(mSavedEntry.mFunction, mSavedEntry.mExtra, mSource.Get(),
                                                     NotificationIDText(mID), mSavedFlags);
        if (Failed(result) && std::uncaught_exceptions() == mUncaughtAtStart)
            ZT_THROW_FAILED_RESULT(result, FunctionName("~CAutoNotificationDisabler"));
    }

    CAutoNotificationDisabler(const CAutoNotificationDisabler&) = delete;
    CAutoNotificationDisabler& operator=(const CAutoNotificationDisabler&) = delete;

private:
    static std::string FunctionName(const char* function)
    {
        return "ZT::CAutoNotificationDisabler<" + TypeName<T>() + ">::" + function;
    }

    RCPtr<LNotificationHandler<T>> mHandler;
    RCPtr<LNotificationDistributor> mSource;
    NotificationID mID;
    std::uint32_t mSavedFlags = 0;
    typename LNotificationHandler<T>::HandlerEntry mSavedEntry;
    int mUncaughtAtStart;
};

} // namespace ZT
