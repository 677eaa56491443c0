#pragma once
// Result codes of framework and engine operations: signed 32-bit values in the Windows style.
// Zero and positive values are successes, negative values failures.

#include <cstdint>
#include <string>

namespace ZT {

using ZTRESULT = std::int32_t;

inline constexpr ZTRESULT S_OK = 0;                                  // success
inline constexpr ZTRESULT S_FALSE = 1;                               // success, nothing to do
inline constexpr ZTRESULT E_FAIL = static_cast<ZTRESULT>(0x80004005);        // refused or failed
inline constexpr ZTRESULT E_ABORT = static_cast<ZTRESULT>(0x80004004);       // cancelled by the user
inline constexpr ZTRESULT E_INVALIDARG = static_cast<ZTRESULT>(0x80070057);  // invalid argument or index
inline constexpr ZTRESULT E_OUTOFMEMORY = static_cast<ZTRESULT>(0x8007000E); // out of memory
// Tells the application shell to end the process instead of opening its window.
inline constexpr ZTRESULT ZTRESULT_EXIT_APPLICATION = static_cast<ZTRESULT>(0x8000A020);

constexpr bool Succeeded(ZTRESULT result) { return result >= 0; }
constexpr bool Failed(ZTRESULT result) { return result < 0; }

// "S_OK", "E_FAIL", ... for the known codes, "0x1234ABCD" for any other. Log lines use this.
std::string ResultToText(ZTRESULT result);

} // namespace ZT
