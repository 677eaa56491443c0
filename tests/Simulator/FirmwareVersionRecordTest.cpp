#include "Simulator/FirmwareVersionRecord.h"

#include <gtest/gtest.h>

#include <string_view>

namespace {

TEST(FirmwareVersionRecord, ChecksumIsTheStandardCrc32)
{
    constexpr std::string_view check = "123456789";
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(check.data());
    EXPECT_EQ(VersionRecordCrc32({bytes, check.size()}), 0xCBF43926u);
}

TEST(FirmwareVersionRecord, RoundTripsAtItsFixedOffsetAndTouchesNothingElse)
{
    for (std::uint16_t release : {std::uint16_t{0x0031}, std::uint16_t{0x0050}, std::uint16_t{0}, std::uint16_t{0xFFFF}}) {
        std::vector<std::uint8_t> image(0x2000, 0x5A);
        ASSERT_TRUE(WriteVersionRecord(std::span<std::uint8_t>(image), release));
        EXPECT_EQ(ReadVersionRecord(image), release);
        for (std::size_t i = 0; i < image.size(); ++i) {
            if (i < kVersionRecordOffset || i >= kVersionRecordOffset + kVersionRecordSize) {
                ASSERT_EQ(image[i], 0x5A) << i;
            }
        }
        EXPECT_EQ(image[kVersionRecordOffset + 4], release & 0xFF);
        EXPECT_EQ(image[kVersionRecordOffset + 5], release >> 8);
    }
}

TEST(FirmwareVersionRecord, AnyDamagedByteMakesTheRecordInvalid)
{
    std::vector<std::uint8_t> image(0x800, 0xFF);
    WriteVersionRecord(image, 0x0031);
    for (std::size_t i = 0; i < kVersionRecordSize; ++i) {
        if (i == 7)
            continue; // the reserved byte is covered by the checksum too; tested below
        auto damaged = image;
        damaged[kVersionRecordOffset + i] ^= 0x01;
        EXPECT_FALSE(ReadVersionRecord(damaged).has_value()) << "byte " << i;
    }
    auto reserved = image;
    reserved[kVersionRecordOffset + 7] = 0x80;
    EXPECT_FALSE(ReadVersionRecord(reserved).has_value());
}

TEST(FirmwareVersionRecord, ErasedOrShortImagesHaveNoRecord)
{
    EXPECT_FALSE(ReadVersionRecord(std::vector<std::uint8_t>(0x10000, 0xFF)).has_value());
    EXPECT_FALSE(ReadVersionRecord(std::vector<std::uint8_t>(0x10000, 0x00)).has_value());

    std::vector<std::uint8_t> full(kVersionRecordOffset + kVersionRecordSize, 0);
    ASSERT_TRUE(WriteVersionRecord(std::span<std::uint8_t>(full), 0x0042));
    EXPECT_EQ(ReadVersionRecord(full), 0x0042);
    full.pop_back();
    EXPECT_FALSE(ReadVersionRecord(full).has_value());

    std::vector<std::uint8_t> tooShort(kVersionRecordOffset + kVersionRecordSize - 1, 0x11);
    EXPECT_FALSE(WriteVersionRecord(std::span<std::uint8_t>(tooShort), 0x0042));
    EXPECT_EQ(tooShort, std::vector<std::uint8_t>(kVersionRecordOffset + kVersionRecordSize - 1, 0x11));
}

TEST(FirmwareVersionRecord, GrowingWriteKeepsTheImageAndPadsWithErasedFlash)
{
    std::vector<std::uint8_t> image{1, 2, 3};
    WriteVersionRecord(image, 0x0050);
    ASSERT_EQ(image.size(), kVersionRecordOffset + kVersionRecordSize);
    EXPECT_EQ(image[0], 1);
    EXPECT_EQ(image[2], 3);
    EXPECT_EQ(image[3], 0xFF);
    EXPECT_EQ(image[kVersionRecordOffset - 1], 0xFF);
    EXPECT_EQ(ReadVersionRecord(image), 0x0050);
}

} // namespace
