#pragma once
// Result codes of framework and engine operations: signed 32-bit values in the Windows style.
// Zero and positive values are successes, negative values failures.
//
// ZTRESULT is a class only so that the compiler reports a call whose result is dropped: it holds
// the one std::int32_t, converts to it implicitly (comparisons, switch, printing the number read as
// they did on a plain integer) and is made from one only explicitly, so that a stray integer or
// bool does not become a result by accident. A result that is dropped on purpose is cast to void,
// with the reason as a comment on that line: (void)Call(); // best effort: the file is replaced next

#include <cstdint>
#include <limits>
#include <string>

namespace ZT {

class [[nodiscard]] ZTRESULT {
public:
    // Uninitialised, as the integer it stands for; ZTRESULT{} is S_OK.
    ZTRESULT() = default;
    constexpr explicit ZTRESULT(std::int32_t value) noexcept : mValue(value) {}

    constexpr operator std::int32_t() const noexcept { return mValue; }
    constexpr std::int32_t Value() const noexcept { return mValue; }

private:
    std::int32_t mValue;
};

// Codes written as their unsigned hexadecimal patterns, the way they are documented and logged.
constexpr ZTRESULT MakeResult(std::uint32_t bits) noexcept { return ZTRESULT(static_cast<std::int32_t>(bits)); }

inline constexpr ZTRESULT S_OK{0};                                    // success
inline constexpr ZTRESULT S_FALSE{1};                                 // success, nothing to do
inline constexpr ZTRESULT E_FAIL = MakeResult(0x80004005);            // refused or failed
inline constexpr ZTRESULT E_ABORT = MakeResult(0x80004004);           // cancelled by the user
inline constexpr ZTRESULT E_INVALIDARG = MakeResult(0x80070057);      // invalid argument or index
inline constexpr ZTRESULT E_OUTOFMEMORY = MakeResult(0x8007000E);     // out of memory
// Tells the application shell to end the process instead of opening its window.
inline constexpr ZTRESULT ZTRESULT_EXIT_APPLICATION = MakeResult(0x8000A020);

constexpr bool Succeeded(ZTRESULT result) noexcept { return result.Value() >= 0; }
constexpr bool Failed(ZTRESULT result) noexcept { return result.Value() < 0; }

// "S_OK", "E_FAIL", ... for the known codes, "0x1234ABCD" for any other. Log lines use this.
std::string ResultToText(ZTRESULT result);

} // namespace ZT

// The limits of a result are those of the integer it holds. Without this, numeric_limits of the
// class is the unspecialised template, whose max() and min() are a zero result (S_OK): a range check
// written against it refuses every positive value.
template <>
struct std::numeric_limits<ZT::ZTRESULT> : std::numeric_limits<std::int32_t> {};
