#include "ZTFramework/Threads/LightLock.h"

namespace ZT {

void LightLock::Acquire()
{
    if (mWord.exchange(1, std::memory_order_acquire) == 0)
        return;
    // Contended: mark the word as having waiters, and sleep until a release that saw the mark.
    while (mWord.exchange(2, std::memory_order_acquire) != 0)
        (void)mWake.Wait(kInfinite); // no timeout: returns only when woken
}

void LightLock::Release()
{
    if (mWord.exchange(0, std::memory_order_release) == 2)
        mWake.Set();
}

} // namespace ZT
