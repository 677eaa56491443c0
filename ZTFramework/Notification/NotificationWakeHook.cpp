#include "ZTFramework/Notification/NotificationWakeHook.h"

#include <atomic>
#include <memory>
#include <mutex>
#include <thread>
#include <utility>

namespace ZT {

namespace {

// Posting threads read the hook without a lock. A caller counts itself in the counter of the
// current epoch (checking that the epoch did not move while it did) before it reads the hook; a
// setter swaps the hook, moves the epoch on and waits until the counter of the epoch it ended
// drains. Callers arriving meanwhile count in the other counter and already see the new hook,
// so a steady stream of posts cannot keep a setter waiting. Sequentially consistent operations
// make the two sides agree: either the setter sees a caller counted, or the caller sees the new
// hook.
struct alignas(64) WakeHook {
    std::atomic<std::function<void()>*> mHook{nullptr};
    std::atomic<unsigned> mEpoch{0};
    std::atomic<int> mCallers[2] = {0, 0};
    std::mutex mSetMutex; // one setter at a time
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
    std::lock_guard lock(wake.mSetMutex);
    std::function<void()>* installed = hook ? new std::function<void()>(std::move(hook)) : nullptr;
    std::unique_ptr<std::function<void()>> replaced(wake.mHook.exchange(installed, std::memory_order_seq_cst));
    const unsigned ended = wake.mEpoch.fetch_add(1, std::memory_order_seq_cst) & 1u;
    while (wake.mCallers[ended].load(std::memory_order_seq_cst) != 0)
        std::this_thread::yield(); // a post is calling the old hook right now; it is quick
    return replaced ? std::move(*replaced) : std::function<void()>();
}

void CallNotificationWakeHook()
{
    WakeHook& wake = GetWakeHook();
    if (!wake.mHook.load(std::memory_order_relaxed))
        return;
    unsigned epoch = 0;
    for (;;) {
        epoch = wake.mEpoch.load(std::memory_order_seq_cst);
        wake.mCallers[epoch & 1u].fetch_add(1, std::memory_order_seq_cst);
        if (wake.mEpoch.load(std::memory_order_seq_cst) == epoch)
            break;
        wake.mCallers[epoch & 1u].fetch_sub(1, std::memory_order_seq_cst); // a setter moved on: count again
    }
    if (std::function<void()>* hook = wake.mHook.load(std::memory_order_seq_cst))
        (*hook)();
    wake.mCallers[epoch & 1u].fetch_sub(1, std::memory_order_release);
}

} // namespace ZT
