// ZTRESULT as a type: the same four bytes as the integer it replaced, usable in constant
// expressions and in switch, and read back by name. The layout checks fail the build.

#include "ZTFramework/Errors/Result.h"
#include "tests/Support/Printers.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <limits>
#include <string>
#include <type_traits>

namespace {

using ZT::ZTRESULT;

// Stored in settings records and passed through C callbacks as an int32: no padding, no vtable,
// copied with memcpy.
static_assert(sizeof(ZTRESULT) == sizeof(std::int32_t));
static_assert(alignof(ZTRESULT) == alignof(std::int32_t));
static_assert(std::is_trivially_copyable_v<ZTRESULT>);
static_assert(std::is_trivial_v<ZTRESULT>);
static_assert(std::is_standard_layout_v<ZTRESULT>);

// Made from an integer only when asked: a bool or a count returned by mistake does not compile.
static_assert(!std::is_convertible_v<std::int32_t, ZTRESULT>);
static_assert(!std::is_convertible_v<bool, ZTRESULT>);
static_assert(std::is_constructible_v<ZTRESULT, std::int32_t>);
static_assert(std::is_convertible_v<ZTRESULT, std::int32_t>);

// The documented bit patterns, and their signs.
static_assert(ZT::S_OK == 0 && ZT::S_FALSE == 1);
static_assert(static_cast<std::uint32_t>(ZT::E_FAIL.Value()) == 0x80004005u);
static_assert(static_cast<std::uint32_t>(ZT::E_ABORT.Value()) == 0x80004004u);
static_assert(static_cast<std::uint32_t>(ZT::E_INVALIDARG.Value()) == 0x80070057u);
static_assert(static_cast<std::uint32_t>(ZT::E_OUTOFMEMORY.Value()) == 0x8007000Eu);
static_assert(static_cast<std::uint32_t>(ZT::ZTRESULT_EXIT_APPLICATION.Value()) == 0x8000A020u);
static_assert(ZT::Succeeded(ZT::S_OK) && ZT::Succeeded(ZT::S_FALSE) && ZT::Succeeded(ZTRESULT(0x7FFFFFFF)));
static_assert(ZT::Failed(ZT::E_FAIL) && ZT::Failed(ZT::ZTRESULT_EXIT_APPLICATION) && ZT::Failed(ZTRESULT(-1)));
static_assert(!ZT::Failed(ZT::S_FALSE) && !ZT::Succeeded(ZT::E_ABORT));

// A length bound written as numeric_limits<ZTRESULT>::max() is the int32 bound, not a zero result
// that refuses every length of one byte or more.
static_assert(std::numeric_limits<ZTRESULT>::is_specialized, "numeric_limits<ZTRESULT> is not specialised");
static_assert(std::numeric_limits<ZTRESULT>::max() == std::numeric_limits<std::int32_t>::max(),
              "numeric_limits<ZTRESULT>::max() is not INT32_MAX");
static_assert(std::numeric_limits<ZTRESULT>::min() == std::numeric_limits<std::int32_t>::min(),
              "numeric_limits<ZTRESULT>::min() is not INT32_MIN");
static_assert(std::numeric_limits<ZTRESULT>::is_signed && std::numeric_limits<ZTRESULT>::digits == 31);

// switch over a result with the named codes as case labels, in a constant expression.
constexpr int Classify(ZTRESULT result)
{
    switch (result) {
    case ZT::S_OK: return 0;
    case ZT::S_FALSE: return 1;
    case ZT::E_ABORT: return 2;
    default: return ZT::Failed(result) ? 3 : 4;
    }
}
static_assert(Classify(ZT::S_OK) == 0 && Classify(ZT::S_FALSE) == 1 && Classify(ZT::E_ABORT) == 2);
static_assert(Classify(ZT::E_FAIL) == 3 && Classify(ZTRESULT(12)) == 4);

TEST(Result, EveryNamedCodeReadsAsItsNameAndOthersAsHex)
{
    struct Row {
        ZTRESULT result;
        const char* text;
    };
    const Row rows[] = {
        {ZT::S_OK, "S_OK"},
        {ZT::S_FALSE, "S_FALSE"},
        {ZT::E_FAIL, "E_FAIL"},
        {ZT::E_ABORT, "E_ABORT"},
        {ZT::E_INVALIDARG, "E_INVALIDARG"},
        {ZT::E_OUTOFMEMORY, "E_OUTOFMEMORY"},
        {ZT::ZTRESULT_EXIT_APPLICATION, "ZTRESULT_EXIT_APPLICATION"},
        {ZTRESULT(2), "0x00000002"},
        {ZT::MakeResult(0x80004006), "0x80004006"},
        {ZTRESULT(-1), "0xFFFFFFFF"},
    };
    for (const Row& row : rows)
        EXPECT_EQ(ZT::ResultToText(row.result), row.text) << "for " << ZT::Testing::Hex(row.result.Value(), 8);
}

TEST(Result, TheBytesAreTheIntegersBytes)
{
    const ZTRESULT result = ZT::E_INVALIDARG;
    std::int32_t copy = 0;
    std::memcpy(&copy, &result, sizeof copy);
    EXPECT_EQ(ZT::Testing::Hex(static_cast<std::uint32_t>(copy), 8), "0x80070057");
}

} // namespace
