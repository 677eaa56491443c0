#include "Simulator/SimulatedFlash.h"

#include <gtest/gtest.h>

namespace {

using Result = LSimulatedFlash::ProgramResult;

TEST(SimulatedFlash, SectorLayoutOfAOneMebibyteStm32F4)
{
    struct Row {
        std::uint32_t address;
        std::optional<std::size_t> sector;
    };
    const Row rows[] = {
        {0x07FFFFFF, std::nullopt}, {0x08000000, 0},  {0x08003FFF, 0},  {0x08004000, 1},  {0x08008000, 2},
        {0x0800C000, 3},            {0x0800FFFF, 3},  {0x08010000, 4},  {0x0801FFFF, 4},  {0x08020000, 5},
        {0x08040000, 6},            {0x08060000, 7},  {0x080E0000, 11}, {0x080FFFFF, 11}, {0x08100000, std::nullopt},
    };
    for (const Row& row : rows)
        EXPECT_EQ(LSimulatedFlash::SectorIndexOf(row.address), row.sector) << std::hex << row.address;

    std::uint32_t expectedStart = LSimulatedFlash::kBaseAddress;
    std::uint32_t total = 0;
    for (std::size_t i = 0; i < LSimulatedFlash::kSectorCount; ++i) {
        EXPECT_EQ(LSimulatedFlash::SectorStart(i), expectedStart);
        expectedStart += LSimulatedFlash::SectorSize(i);
        total += LSimulatedFlash::SectorSize(i);
    }
    EXPECT_EQ(total, LSimulatedFlash::kSize);
}

TEST(SimulatedFlash, AByteProgramsOnceBetweenErasesOfItsOwnSector)
{
    LSimulatedFlash flash;
    const std::vector<std::uint8_t> data{0x12, 0x34};
    ASSERT_TRUE(flash.FactoryProgram(0x0800BFFF, std::vector<std::uint8_t>{0xA1}));
    ASSERT_EQ(flash.Program(0x0800C000, data), Result::Ok);
    // Programming again, even with the same or all-ones values, needs an erase first.
    EXPECT_EQ(flash.Program(0x0800C001, std::vector<std::uint8_t>{0xFF}), Result::NotErased);
    EXPECT_EQ(flash.Read(0x0800C000, 2), data);

    flash.EraseSector(3); // 0x0800C000..0x0800FFFF
    EXPECT_EQ(flash.Read(0x0800BFFF, 3), (std::vector<std::uint8_t>{0xA1, 0xFF, 0xFF}));
    EXPECT_EQ(flash.CheckProgram(0x0800BFFF, 1), Result::NotErased);
    EXPECT_EQ(flash.CheckProgram(0x0800C000, 0x4000), Result::Ok);
}

TEST(SimulatedFlash, WritesLeavingTheFlashChangeNothing)
{
    LSimulatedFlash flash;
    const std::vector<std::uint8_t> data{1, 2, 3, 4};
    EXPECT_EQ(flash.Program(0x080FFFFE, data), Result::OutsideFlash);
    EXPECT_EQ(flash.Read(0x080FFFFE, 2), (std::vector<std::uint8_t>{0xFF, 0xFF}));
    EXPECT_EQ(flash.Program(0x07FFFFFE, data), Result::OutsideFlash);
    EXPECT_FALSE(flash.FactoryProgram(0xFFFFFFFE, data));
    EXPECT_FALSE(flash.Read(0x080FFFFF, 2).has_value());
    EXPECT_EQ(flash.Program(0x080FFFFC, data), Result::Ok);
}

} // namespace
