#pragma once
// Binds member functions of a client class T to (source distributor, notification ID) pairs.
//
// Usage: T (an LNotificationClient) makes one handler with owner = this and keeps it in an
// RCPtr, calls AddHandler for each (source, ID) it wants, and forwards its HandleNotification
// to Dispatch. Dispatch calls the function bound to exactly that source and ID; there is no
// fallback to another source.
//
// Threads: the user-interface thread's; the map is not guarded.

#include "ZTFramework/Errors/Result.h"
#include "ZTFramework/Notification/Notification.h"
#include "ZTFramework/Notification/NotificationDistributor.h"
#include "ZTFramework/Notification/NotificationID.h"
#include "ZTFramework/Notification/Receivable.h"
#include "ZTFramework/ObjectBase/RCPtr.h"
#include "ZTFramework/ObjectBase/RefCountedObject.h"

#include <cstdint>
#include <map>

namespace ZT {

template <class T>
class LNotificationHandler : public virtual LRefCountedObject {
public:
    using HandlerFunction = ZTRESULT (T::*)(LNotificationDistributor* source, const RCPtr<LNotification>& notification);

    struct HandlerEntry {
        HandlerFunction mFunction = nullptr;
        // Passed by the caller, kept, never read.
        std::uint32_t mExtra = 0;
    };

    // owner owns this handler (through an RCPtr); the handler points back without a reference.
    explicit LNotificationHandler(T* owner) noexcept : mOwner(owner) {}

    // Registers the owner with source for the ID text and binds function to (source, ID).
    // E_INVALIDARG for a null source; E_FAIL when the registration is refused (the text gives
    // no ID); S_OK otherwise. An existing binding for the same key is kept as it was.
    [[nodiscard]] ZTRESULT AddHandler(HandlerFunction function, std::uint32_t extra, LNotificationDistributor* source,
                                      const wchar_t* idText, std::uint32_t flags = 0)
    {
        if (!source)
            return E_INVALIDARG;
        const NotificationID id = mOwner->Register(source, idText, flags);
        if (id == 0)
            return E_FAIL;
        mHandlers.emplace(Receivable(source, id), HandlerEntry{function, extra});
        return S_OK;
    }

    // Removes the binding (not the registration). True when one was erased.
    bool RemoveHandler(LNotificationDistributor* source, const wchar_t* idText)
    {
        return mHandlers.erase(Receivable(source, InternNotificationID(idText))) > 0;
    }

    // The binding and the owner's registration flags for (source, ID). E_FAIL when there is no
    // binding; otherwise the result of the source's GetClientFlags.
    [[nodiscard]] ZTRESULT GetHandler(LNotificationDistributor* source, const wchar_t* idText, HandlerEntry& entry,
                                      std::uint32_t& flags) const
    {
        const auto found = mHandlers.find(Receivable(source, InternNotificationID(idText)));
        if (found == mHandlers.end() || !source)
            return E_FAIL;
        entry = found->second;
        return source->GetClientFlags(mOwner, idText, flags);
    }

    // Calls the function bound to (source, the notification's ID); S_OK when there is none,
    // else the function's result.
    ZTRESULT Dispatch(LNotificationDistributor* source, const RCPtr<LNotification>& notification)
    {
        if (!notification)
            return S_OK;
        const auto found = mHandlers.find(Receivable(source, notification->GetID()));
        if (found == mHandlers.end() || !found->second.mFunction)
            return S_OK;
        // Copied first: the function may remove its own binding.
        const HandlerFunction function = found->second.mFunction;
        return (mOwner->*function)(source, notification);
    }

    T* GetOwner() const noexcept { return mOwner; }
    std::size_t GetHandlerCount() const noexcept { return mHandlers.size(); }

private:
    T* mOwner;
    std::map<Receivable, HandlerEntry> mHandlers;
};

} // namespace ZT
