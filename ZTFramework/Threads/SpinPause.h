#pragma once
// One step of a busy wait.

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#endif

namespace ZT {

// Tells the processor that this thread spins on a value another thread will change, so that it
// neither speculates far ahead nor starves the other hardware thread of its core. Costs tens of
// nanoseconds; a no-op where the processor has no such hint.
inline void SpinPause() noexcept
{
#if defined(__x86_64__) || defined(__i386__)
    _mm_pause();
#elif defined(__aarch64__)
    asm volatile("yield" ::: "memory");
#endif
}

} // namespace ZT
