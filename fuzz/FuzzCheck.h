#pragma once
// A harness's own check: a broken promise of the code under test stops the fuzzer, which keeps
// the input that broke it.

inline void Check(bool condition)
{
    if (!condition)
        __builtin_trap();
}
