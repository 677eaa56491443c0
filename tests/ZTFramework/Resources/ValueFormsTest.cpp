#include "ZTFramework/Resources/ValueForms.h"

#include <gtest/gtest.h>

#include <optional>

namespace {

using ZT::CValueForms;

// Each text read by read gives its expected value, or nothing.
template <class T, class Read>
void ExpectReads(Read read, std::initializer_list<std::pair<const char*, std::optional<T>>> rows)
{
    for (const auto& [text, expected] : rows)
        EXPECT_EQ(read(text), expected) << text;
}

TEST(ValueForms, BooleanIsTrueOnlyForTheExactWordTrue)
{
    EXPECT_TRUE(CValueForms::ReadBoolean("True"));
    for (const char* text : {"true", "TRUE", "False", "1", "", "True "})
        EXPECT_FALSE(CValueForms::ReadBoolean(text)) << text;
}

TEST(ValueForms, ColoursAreHexPrefixAndEightDigitsAlphaFirst)
{
    ExpectReads<std::uint32_t>([](const char* text) { return CValueForms::ReadColour(text); }, {
        {"0xFF000000", 0xFF000000u}, {"0x00ffffff", 0x00FFFFFFu}, {"0X8000C8fF", 0x8000C8FFu},
        {"FF000000", std::nullopt},  {"0xFF00000", std::nullopt},  {"0xFF0000000", std::nullopt},
        {"0xGG000000", std::nullopt}, {"", std::nullopt},          {"0x", std::nullopt},
        {" 0xFF000000", std::nullopt},
    });
}

TEST(ValueForms, IntegersAreDecimalWithOptionalMinusWithin32Bits)
{
    ExpectReads<std::int32_t>([](const char* text) { return CValueForms::ReadInteger(text); }, {
        {"0", 0},           {"-12", -12},          {"2147483647", 2147483647}, {"-2147483648", INT32_MIN},
        {"2147483648", std::nullopt}, {"1.0", std::nullopt}, {" 1", std::nullopt}, {"+1", std::nullopt},
        {"", std::nullopt}, {"-", std::nullopt},   {"12a", std::nullopt},     {"0x10", std::nullopt},
    });
}

TEST(ValueForms, RealsAreDecimalFractionsWithoutExponentOrSpecialValues)
{
    ExpectReads<double>([](const char* text) { return CValueForms::ReadReal(text); }, {
        {"0.05", 0.05}, {"8.25", 8.25},  {"-3", -3.0}, {".5", 0.5},          {"5.", 5.0},
        {"1e5", std::nullopt}, {"inf", std::nullopt}, {"nan", std::nullopt}, {"", std::nullopt},
        {".", std::nullopt},   {"-", std::nullopt},   {"1.2.3", std::nullopt}, {"0x10", std::nullopt},
        {"1,5", std::nullopt},
    });
}

TEST(ValueForms, LcidIsHexReadFromItsFirstFourDigitsOrDecimal)
{
    ExpectReads<std::uint32_t>([](const char* text) { return CValueForms::ReadLcid(text); }, {
        {"0x0409", 0x0409u}, {"0x7c04", 0x7C04u}, {"0x7C04", 0x7C04u}, {"0x9", 0x9u},
        {"0x00090", 0x0009u},  // five digits: only the first four count
        {"0x040912", 0x0409u}, {"1033", 1033u},  {"9", 9u},
        {"0x", std::nullopt},  {"0x04G9", std::nullopt}, {"abc", std::nullopt}, {"", std::nullopt},
        {"-1", std::nullopt},  {"0x0409 ", std::nullopt}, {"99999999999", std::nullopt},
    });
}

} // namespace
