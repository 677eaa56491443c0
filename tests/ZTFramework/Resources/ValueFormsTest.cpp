#include "ZTFramework/Resources/ValueForms.h"

#include <gtest/gtest.h>

#include <optional>

namespace {

using ZT::CValueForms;

TEST(ValueForms, BooleanIsTrueOnlyForTheExactWordTrue)
{
    EXPECT_TRUE(CValueForms::ReadBoolean("True"));
    for (const char* text : {"true", "TRUE", "False", "1", "", "True "})
        EXPECT_FALSE(CValueForms::ReadBoolean(text)) << text;
}

TEST(ValueForms, ColoursAreHexPrefixAndEightDigitsAlphaFirst)
{
    struct Row {
        const char* text;
        std::optional<std::uint32_t> expected;
    };
    const Row rows[] = {
        {"0xFF000000", 0xFF000000u}, {"0x00ffffff", 0x00FFFFFFu}, {"0X8000C8fF", 0x8000C8FFu},
        {"FF000000", std::nullopt},  {"0xFF00000", std::nullopt},  {"0xFF0000000", std::nullopt},
        {"0xGG000000", std::nullopt}, {"", std::nullopt},          {"0x", std::nullopt},
        {" 0xFF000000", std::nullopt},
    };
    for (const Row& row : rows)
        EXPECT_EQ(CValueForms::ReadColour(row.text), row.expected) << row.text;
}

TEST(ValueForms, IntegersAreDecimalWithOptionalMinusWithin32Bits)
{
    struct Row {
        const char* text;
        std::optional<std::int32_t> expected;
    };
    const Row rows[] = {
        {"0", 0},           {"-12", -12},          {"2147483647", 2147483647}, {"-2147483648", INT32_MIN},
        {"2147483648", std::nullopt}, {"1.0", std::nullopt}, {" 1", std::nullopt}, {"+1", std::nullopt},
        {"", std::nullopt}, {"-", std::nullopt},   {"12a", std::nullopt},     {"0x10", std::nullopt},
    };
    for (const Row& row : rows)
        EXPECT_EQ(CValueForms::ReadInteger(row.text), row.expected) << row.text;
}

TEST(ValueForms, RealsAreDecimalFractionsWithoutExponentOrSpecialValues)
{
    struct Row {
        const char* text;
        std::optional<double> expected;
    };
    const Row rows[] = {
        {"0.05", 0.05}, {"8.25", 8.25},  {"-3", -3.0}, {".5", 0.5},          {"5.", 5.0},
        {"1e5", std::nullopt}, {"inf", std::nullopt}, {"nan", std::nullopt}, {"", std::nullopt},
        {".", std::nullopt},   {"-", std::nullopt},   {"1.2.3", std::nullopt}, {"0x10", std::nullopt},
        {"1,5", std::nullopt},
    };
    for (const Row& row : rows)
        EXPECT_EQ(CValueForms::ReadReal(row.text), row.expected) << row.text;
}

TEST(ValueForms, LcidIsHexReadFromItsFirstFourDigitsOrDecimal)
{
    struct Row {
        const char* text;
        std::optional<std::uint32_t> expected;
    };
    const Row rows[] = {
        {"0x0409", 0x0409u}, {"0x7c04", 0x7C04u}, {"0x7C04", 0x7C04u}, {"0x9", 0x9u},
        {"0x00090", 0x0009u},  // five digits: only the first four count
        {"0x040912", 0x0409u}, {"1033", 1033u},  {"9", 9u},
        {"0x", std::nullopt},  {"0x04G9", std::nullopt}, {"abc", std::nullopt}, {"", std::nullopt},
        {"-1", std::nullopt},  {"0x0409 ", std::nullopt}, {"99999999999", std::nullopt},
    };
    for (const Row& row : rows)
        EXPECT_EQ(CValueForms::ReadLcid(row.text), row.expected) << row.text;
}

} // namespace
