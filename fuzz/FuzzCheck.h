#pragma once
// A harness's own check: a broken promise of the code under test stops the fuzzer, which keeps
// the input that broke it. The line written first says which promise and where, so that a
// crash kept as a regression input fails with a reason and not only a signal.

#include <cstdio>
#include <cstdlib>
#include <string>

// Writes "fuzz: <what>" to standard error and aborts.
[[noreturn]] inline void FuzzFailure(const std::string& what)
{
    std::fprintf(stderr, "fuzz: %s\n", what.c_str());
    std::fflush(stderr);
    std::abort();
}

// The defaults name the caller's line (std::source_location is not in every clang these fuzzers
// are built with).
inline void Check(bool condition, const char* file = __builtin_FILE(), int line = __builtin_LINE())
{
    if (!condition)
        FuzzFailure(std::string("check failed at ") + file + ":" + std::to_string(line));
}
