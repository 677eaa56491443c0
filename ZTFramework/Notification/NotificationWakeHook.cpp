#include "ZTFramework/Notification/NotificationWakeHook.h"

#include <atomic>
#include <mutex>
#include <utility>

namespace ZT {

namespace {

struct WakeHook {
    std::mutex mMutex;
    std::function<void()> mHook; // guarded by mMutex
    // Lets posts skip the lock while no hook is set (unit tests, early start-up).
    std::atomic<bool> mSet{false};
};

WakeHook& GetWakeHook()
{
    // Never destroyed: workers may still post while static destructors run.
    static WakeHook* const hook = new WakeHook;
    return *hook;
}

} // namespace

std::function<void()> SetNotificationWakeHook(std::function<void()> hook)
{
    WakeHook& wake = GetWakeHook();
    std::lock_guard lock(wake.mMutex);
    wake.mSet.store(static_cast<bool>(hook), std::memory_order_release);
    return std::exchange(wake.mHook, std::move(hook));
}

void CallNotificationWakeHook()
{
    WakeHook& wake = GetWakeHook();
    if (!wake.mSet.load(std::memory_order_acquire))
        return;
    std::lock_guard lock(wake.mMutex);
    if (wake.mHook)
        wake.mHook();
}

} // namespace ZT
