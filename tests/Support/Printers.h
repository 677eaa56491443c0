#pragma once
// What GoogleTest prints for the framework's own types when a check fails, so that a failure
// message names the fault: strings as text, result codes by name, IDs and addresses in hex.
//
// Every test program gets this header before its own code (a forced include set in zt_test):
// GoogleTest picks a printer per type where it instantiates its templates, so a test file that
// compared ZT::WString without these overloads in sight would print bytes, and two files that
// disagreed would break the one-definition rule for the printer's template. Files that use the
// names below include it as well, so that they read on their own.

#include "ZTFramework/Errors/Result.h"
#include "ZTFramework/Usb/Dfu.h"
#include "ZTFramework/Usb/UsbError.h"
#include "ZTFramework/Utilities/Storage/StringT.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <ostream>
#include <string>

namespace ZT {

// L"text" for wide strings, "text" for narrow ones: the text as UTF-8, with quotes, backslashes
// and control characters escaped. Found by argument-dependent lookup (same namespace as StringT).
void PrintTo(const WString& text, std::ostream* out);
void PrintTo(const NString& text, std::ostream* out);

// By name, "Pipe", "dfuERROR", "errWRITE"; a number outside the set also with its value,
// "unknown DFU state (0xFF)".
void PrintTo(UsbError error, std::ostream* out);
void PrintTo(DfuRequest request, std::ostream* out);
void PrintTo(DfuState state, std::ostream* out);
void PrintTo(DfuStatus status, std::ostream* out);

// As ZT::Testing::ResultText: "E_FAIL (0x80004005)", so that EXPECT_EQ on two results names them
// instead of printing the number the result converts to.
void PrintTo(ZTRESULT result, std::ostream* out);

} // namespace ZT

namespace ZT::Testing {

// "E_FAIL (0x80004005)"; "0x8000ABCD" for a failure without a name; a success that carries a
// number (a send's byte count, for one) as "12 (0x0000000C)".
std::string ResultText(ZTRESULT result);

// For EXPECT_RESULT_EQ: compares two result codes and names both when they differ. Plain numbers
// are taken as the results they would be, so a send's byte count is written as 10.
::testing::AssertionResult ResultsEqual(const char* actualExpression, const char* expectedExpression,
                                        std::int32_t actual, std::int32_t expected);

// "0x8010" (digits: at least that many hexadecimal digits, upper case).
std::string Hex(std::uint64_t value, int digits = 4);

// A USB vendor or product ID that compares as a number and prints as "0x8010".
struct UsbId {
    std::uint16_t Value;
    explicit constexpr UsbId(std::uint32_t value) : Value(static_cast<std::uint16_t>(value)) {}
    bool operator==(const UsbId&) const = default;
};
void PrintTo(UsbId id, std::ostream* out);

} // namespace ZT::Testing

// EXPECT_EQ for result codes, also against a plain number: on a mismatch the message shows both
// codes by name, e.g.
//   engine->ScanForDevices() is E_FAIL (0x80004005), expected ZT::S_OK: S_OK (0x00000000)
#define EXPECT_RESULT_EQ(actual, expected) EXPECT_PRED_FORMAT2(::ZT::Testing::ResultsEqual, actual, expected)
#define ASSERT_RESULT_EQ(actual, expected) ASSERT_PRED_FORMAT2(::ZT::Testing::ResultsEqual, actual, expected)
