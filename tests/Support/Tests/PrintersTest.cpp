// What a failed check prints for the framework's types. These guard the printers' reach as much
// as their format: a printer that argument-dependent lookup does not find leaves GoogleTest
// printing "16-byte object <...>" again without any other test noticing.

#include "tests/Support/Printers.h"

#include <gtest/gtest-spi.h>
#include <gtest/gtest.h>

#include <optional>
#include <tuple>
#include <vector>

namespace {

using ZT::Testing::ResultText;
using ZT::Testing::UsbId;

TEST(Printers, StringsPrintAsQuotedUtf8TextWithTheControlCharactersEscaped)
{
    EXPECT_EQ(::testing::PrintToString(ZT::WString(L"W\u00e4hlen \"Update\"\n")), "L\"W\u00e4hlen \\\"Update\\\"\\n\"");
    EXPECT_EQ(::testing::PrintToString(ZT::NString("a\\b\tc\x01")), "\"a\\\\b\\tc\\x01\"");
    EXPECT_EQ(::testing::PrintToString(ZT::WString()), "L\"\"");
    // Inside containers too, where GoogleTest prints each element with the same lookup.
    EXPECT_EQ(::testing::PrintToString(std::vector<ZT::WString>{L"a", L"b"}), "{ L\"a\", L\"b\" }");
}

TEST(Printers, AFailedStringComparisonShowsBothTexts)
{
    EXPECT_NONFATAL_FAILURE(EXPECT_EQ(ZT::WString(L"Fertig"), ZT::WString(L"Wird aktualisiert")),
                            "Which is: L\"Fertig\"");
    EXPECT_NONFATAL_FAILURE(EXPECT_EQ(ZT::WString(L"Fertig"), ZT::WString(L"Wird aktualisiert")),
                            "Which is: L\"Wird aktualisiert\"");
}

TEST(Printers, ResultCodesPrintByNameWithTheirHexValue)
{
    EXPECT_EQ(ResultText(ZT::E_FAIL), "E_FAIL (0x80004005)");
    EXPECT_EQ(ResultText(ZT::S_OK), "S_OK (0x00000000)");
    EXPECT_EQ(ResultText(ZT::ZTRESULT_EXIT_APPLICATION), "ZTRESULT_EXIT_APPLICATION (0x8000A020)");
    EXPECT_EQ(ResultText(static_cast<ZT::ZTRESULT>(0x8000ABCD)), "0x8000ABCD");
    EXPECT_EQ(ResultText(ZT::ZTRESULT(12)), "12 (0x0000000C)") << "a success that carries a count";
}

// A result converts to its number; without the printer EXPECT_EQ would show -2147467260.
TEST(Printers, APlainComparisonOfResultsAlsoNamesThem)
{
    EXPECT_EQ(::testing::PrintToString(ZT::E_ABORT), "E_ABORT (0x80004004)");
    EXPECT_NONFATAL_FAILURE(EXPECT_EQ(ZT::E_ABORT, ZT::S_OK), "Which is: E_ABORT (0x80004004)");
    EXPECT_EQ(::testing::PrintToString(std::vector<ZT::ZTRESULT>{ZT::S_FALSE}), "{ S_FALSE (0x00000001) }");
}

TEST(Printers, AFailedResultComparisonNamesBothCodesAndTheExpressions)
{
    const auto mismatch = ZT::Testing::ResultsEqual("engine.Scan()", "ZT::S_OK", ZT::E_ABORT, ZT::S_OK);
    EXPECT_FALSE(mismatch);
    EXPECT_STREQ(mismatch.message(), "engine.Scan() is E_ABORT (0x80004004), expected ZT::S_OK: S_OK (0x00000000)");
    EXPECT_TRUE(ZT::Testing::ResultsEqual("a", "b", ZT::E_FAIL, ZT::E_FAIL));
    EXPECT_NONFATAL_FAILURE(EXPECT_RESULT_EQ(ZT::E_INVALIDARG, ZT::S_FALSE),
                            "is E_INVALIDARG (0x80070057), expected ZT::S_FALSE: S_FALSE (0x00000001)");
}

TEST(Printers, UsbIdsAndAddressesPrintInHex)
{
    EXPECT_EQ(::testing::PrintToString(UsbId(0x8010)), "0x8010");
    EXPECT_EQ(::testing::PrintToString(UsbId(0x0483)), "0x0483");
    EXPECT_EQ(::testing::PrintToString(std::make_tuple(UsbId(0x2C1A), UsbId(0xDF11))), "(0x2C1A, 0xDF11)");
    EXPECT_NE(UsbId(0x8010), UsbId(0xB010));
    EXPECT_EQ(ZT::Testing::Hex(0x08008000, 8), "0x08008000");
    EXPECT_EQ(ZT::Testing::Hex(0xA, 2), "0x0A");
}

// A byte from a device that DFU does not define keeps its value in the message: it is the clue.
TEST(Printers, UsbErrorsAndDfuValuesPrintByNameAndUnknownOnesWithTheirNumber)
{
    EXPECT_EQ(::testing::PrintToString(ZT::UsbError::Pipe), "Pipe");
    EXPECT_EQ(::testing::PrintToString(ZT::UsbError::NotOpen), "NotOpen");
    EXPECT_EQ(::testing::PrintToString(static_cast<ZT::UsbError>(-42)), "Unknown (-42)");
    EXPECT_EQ(::testing::PrintToString(ZT::DfuRequest::ClrStatus), "CLRSTATUS");
    EXPECT_EQ(::testing::PrintToString(ZT::DfuState::DfuError), "dfuERROR");
    EXPECT_EQ(::testing::PrintToString(static_cast<ZT::DfuState>(0xFF)), "unknown DFU state (0xFF)");
    EXPECT_EQ(::testing::PrintToString(std::optional<ZT::DfuState>(ZT::DfuState::DfuIdle)), "(dfuIDLE)");
    EXPECT_EQ(::testing::PrintToString(ZT::DfuStatus::ErrWrite), "errWRITE");
    EXPECT_EQ(::testing::PrintToString(static_cast<ZT::DfuStatus>(0x10)), "unknown DFU status (0x10)");
}

} // namespace
