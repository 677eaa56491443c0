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
        // The first word is the initial stack pointer, 0x20020000 little-endian.
        EXPECT_EQ(std::vector<std::uint8_t>(image.begin(), image.begin() + 4),
                  (std::vector<std::uint8_t>{0x00, 0x00, 0x02, 0x20}));
        for (std::size_t i = 4; i < image.size(); ++i) {
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
    // Byte 7 names the device the image is for; the checksum still covers it.
    for (const SimulatedDeviceKind kind : {SimulatedDeviceKind::Controller, SimulatedDeviceKind::WheelDisplay}) {
        auto named = image;
        WriteVersionRecord(named, 0x0031, kind);
        EXPECT_EQ(ReadImageDevice(named), kind) << SimulatedDeviceKindName(kind);
        named[kVersionRecordOffset + 7] ^= 0x03; // the other device, checksum not renewed
        EXPECT_FALSE(ReadImageDevice(named).has_value()) << SimulatedDeviceKindName(kind);
    }
    EXPECT_FALSE(ReadImageDevice(image).has_value()) << "an image that names no device";
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
    std::vector<std::uint8_t> image{1, 2, 3, 4, 5, 6};
    WriteVersionRecord(image, 0x0050);
    ASSERT_EQ(image.size(), kVersionRecordOffset + kVersionRecordSize);
    EXPECT_EQ(image[0], 0x00) << "the initial stack pointer's lowest byte";
    EXPECT_EQ(image[3], 0x20) << "the initial stack pointer's highest byte";
    EXPECT_EQ(image[4], 5);
    EXPECT_EQ(image[5], 6);
    EXPECT_EQ(image[6], 0xFF);
    EXPECT_EQ(image[kVersionRecordOffset - 1], 0xFF);
    EXPECT_EQ(ReadVersionRecord(image), 0x0050);
}

} // namespace

namespace {

// The bootloader's check: the record must be intact and the image must match its checksum over
// the recorded length, wherever a download was cut or a byte went wrong.
TEST(FirmwareImageCheck, OnlyTheWholeImageAsRecordedIsValid)
{
    std::vector<std::uint8_t> image(0x6000);
    for (std::size_t i = 0; i < image.size(); ++i)
        image[i] = static_cast<std::uint8_t>(i * 7 + (i >> 9));
    WriteVersionRecord(image, 0x0031);
    std::vector<std::uint8_t> flash = image;
    flash.resize(0x10000, 0xFF); // the rest of the sector, erased
    std::optional<std::uint16_t> release;
    ASSERT_EQ(FirmwareImageCheckName(CheckFirmwareImage(flash, &release)), std::string("valid image"));
    EXPECT_EQ(release, std::optional<std::uint16_t>(0x0031));

    struct Case {
        const char* what;
        std::size_t from; // bytes from here to the end of the image read erased (0xFF), or ...
        std::size_t flip; // ... this one byte flipped (when from is 0)
        FirmwareImageCheck expected;
    };
    const Case cases[] = {
        {"cut after the first 2048-byte block", 0x800, 0, FirmwareImageCheck::ChecksumMismatch},
        {"cut before the last byte", image.size() - 1, 0, FirmwareImageCheck::ChecksumMismatch},
        {"cut before the record", 0x200, 0, FirmwareImageCheck::NoRecord},
        {"first byte flipped", 0, 1, FirmwareImageCheck::ChecksumMismatch},
        {"last byte flipped", 0, image.size(), FirmwareImageCheck::ChecksumMismatch},
        {"byte after the record flipped", 0, kVersionRecordOffset + kVersionRecordSize + 1,
         FirmwareImageCheck::ChecksumMismatch},
        {"record's length flipped", 0, kVersionRecordOffset + 8 + 1, FirmwareImageCheck::NoRecord},
    };
    for (const Case& c : cases) {
        std::vector<std::uint8_t> damaged = flash;
        if (c.from != 0)
            std::fill(damaged.begin() + static_cast<std::ptrdiff_t>(c.from), damaged.begin() + static_cast<std::ptrdiff_t>(image.size()), 0xFF);
        else
            damaged[c.flip - 1] ^= 0x10;
        EXPECT_EQ(FirmwareImageCheckName(CheckFirmwareImage(damaged, &release)), std::string(FirmwareImageCheckName(c.expected)))
            << c.what;
        EXPECT_FALSE(release.has_value()) << c.what << ": a broken image has no release";
        // The record alone still reads: the device's version is only believed with the image.
        if (c.expected == FirmwareImageCheck::ChecksumMismatch) {
            EXPECT_EQ(ReadVersionRecord(damaged), std::optional<std::uint16_t>(0x0031)) << c.what;
        }
    }

    // A recorded length past the end of the flash (an image longer than what is there).
    EXPECT_EQ(CheckFirmwareImage(std::span<const std::uint8_t>(image).first(image.size() - 1)),
              FirmwareImageCheck::LengthOutOfRange);
}

} // namespace
