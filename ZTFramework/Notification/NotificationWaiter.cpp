#include "ZTFramework/Notification/NotificationWaiter.h"

#include "ZTFramework/Notification/NotificationWakeHook.h"

namespace ZT {

CNotificationWaiter::CNotificationWaiter()
{
    mPreviousHook = SetNotificationWakeHook([this] { Wake(); });
}

CNotificationWaiter::~CNotificationWaiter()
{
    (void)SetNotificationWakeHook(std::move(mPreviousHook));
}

void CNotificationWaiter::Wake()
{
    // An earlier wake has notified, or will: the waiter sees the flag either way. The plain load
    // first keeps a stream of posts from writing the flag's cache line while it is set.
    if (mSignalled.load(std::memory_order_acquire) || mSignalled.exchange(true, std::memory_order_acq_rel))
        return;
    // Taking the lock orders this with a waiter between its check of the flag and its sleep.
    std::lock_guard lock(mMutex);
    mCondition.notify_one();
}

bool CNotificationWaiter::WaitForWork(std::chrono::milliseconds timeout)
{
    std::unique_lock lock(mMutex);
    const bool signalled = mCondition.wait_for(lock, timeout, [this] { return mSignalled.load(std::memory_order_acquire); });
    if (signalled)
        mSignalled.store(false, std::memory_order_release);
    return signalled;
}

} // namespace ZT
