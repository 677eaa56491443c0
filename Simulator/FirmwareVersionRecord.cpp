#include "Simulator/FirmwareVersionRecord.h"

#include "ZTFramework/Utilities/Storage/Crc32.h"

#include <algorithm>
#include <array>
#include <limits>

namespace {

constexpr std::array<std::uint8_t, 4> kMagic{'X', 'R', 'F', 'V'};
constexpr std::uint8_t kFormat = 2;
constexpr std::size_t kLengthOffset = 8;
constexpr std::size_t kImageCrcOffset = 12;
constexpr std::size_t kCheckedBytes = 16;

// The CRC of image's first length bytes with the record's bytes left out; length has been
// checked to cover the record and to lie inside image.
std::uint32_t ImageCrc(std::span<const std::uint8_t> image, std::size_t length)
{
    std::uint32_t crc = ZT::Crc32Update(ZT::kCrc32Initial, image.first(kVersionRecordOffset));
    const std::size_t after = kVersionRecordOffset + kVersionRecordSize;
    crc = ZT::Crc32Update(crc, image.subspan(after, length - after));
    return crc ^ 0xFFFFFFFFu;
}

void PutU32(std::span<std::uint8_t> out, std::uint32_t value)
{
    for (std::size_t i = 0; i < 4; ++i)
        out[i] = static_cast<std::uint8_t>(value >> (8 * i));
}

std::uint32_t GetU32(std::span<const std::uint8_t> in)
{
    std::uint32_t value = 0;
    for (std::size_t i = 0; i < 4; ++i)
        value |= static_cast<std::uint32_t>(in[i]) << (8 * i);
    return value;
}

// Byte 7 of the record.
constexpr std::uint8_t kNoDevice = 0;
constexpr std::uint8_t kControllerDevice = 1;
constexpr std::uint8_t kWheelDisplayDevice = 2;

struct RecordFields {
    std::uint16_t release = 0;
    std::uint8_t device = kNoDevice;
    std::uint32_t length = 0;
    std::uint32_t imageCrc = 0;
};

std::optional<RecordFields> ReadRecord(std::span<const std::uint8_t> image)
{
    if (image.size() < kVersionRecordOffset + kVersionRecordSize)
        return std::nullopt;
    const auto record = image.subspan(kVersionRecordOffset, kVersionRecordSize);
    if (!std::equal(kMagic.begin(), kMagic.end(), record.begin()) || record[6] != kFormat || record[7] > kWheelDisplayDevice)
        return std::nullopt;
    if (GetU32(record.subspan(kCheckedBytes)) != VersionRecordCrc32(record.first(kCheckedBytes)))
        return std::nullopt;
    return RecordFields{static_cast<std::uint16_t>(record[4] | (record[5] << 8)), record[7],
                        GetU32(record.subspan(kLengthOffset)), GetU32(record.subspan(kImageCrcOffset))};
}

} // namespace

std::uint32_t VersionRecordCrc32(std::span<const std::uint8_t> bytes)
{
    return ZT::Crc32(bytes);
}

bool IsPlausibleStackPointer(std::uint32_t word) noexcept
{
    return word > 0x20000000u && word <= 0x20100000u && word % 4 == 0;
}

bool WriteVersionRecord(std::span<std::uint8_t> image, std::uint16_t releaseNumber,
                        std::optional<SimulatedDeviceKind> device)
{
    if (image.size() < kVersionRecordOffset + kVersionRecordSize || image.size() > std::numeric_limits<std::uint32_t>::max())
        return false;
    PutU32(image.first(4), kImageInitialStackPointer);
    const auto record = image.subspan(kVersionRecordOffset, kVersionRecordSize);
    std::copy(kMagic.begin(), kMagic.end(), record.begin());
    record[4] = static_cast<std::uint8_t>(releaseNumber & 0xFF);
    record[5] = static_cast<std::uint8_t>(releaseNumber >> 8);
    record[6] = kFormat;
    record[7] = !device                                     ? kNoDevice
                : *device == SimulatedDeviceKind::Controller ? kControllerDevice
                                                             : kWheelDisplayDevice;
    PutU32(record.subspan(kLengthOffset), static_cast<std::uint32_t>(image.size()));
    PutU32(record.subspan(kImageCrcOffset), ImageCrc(image, image.size()));
    PutU32(record.subspan(kCheckedBytes), VersionRecordCrc32(record.first(kCheckedBytes)));
    return true;
}

void WriteVersionRecord(std::vector<std::uint8_t>& image, std::uint16_t releaseNumber,
                        std::optional<SimulatedDeviceKind> device)
{
    if (image.size() < kVersionRecordOffset + kVersionRecordSize)
        image.resize(kVersionRecordOffset + kVersionRecordSize, 0xFF);
    const bool written = WriteVersionRecord(std::span<std::uint8_t>(image), releaseNumber, device);
    (void)written; // the image has just been made long enough; a vector of 4 GiB is no image
}

std::optional<std::uint16_t> ReadVersionRecord(std::span<const std::uint8_t> image)
{
    const auto record = ReadRecord(image);
    if (!record)
        return std::nullopt;
    return record->release;
}

std::optional<SimulatedDeviceKind> ReadImageDevice(std::span<const std::uint8_t> image)
{
    const auto record = ReadRecord(image);
    if (!record || record->device == kNoDevice)
        return std::nullopt;
    return record->device == kControllerDevice ? SimulatedDeviceKind::Controller : SimulatedDeviceKind::WheelDisplay;
}

const char* FirmwareImageCheckName(FirmwareImageCheck check)
{
    switch (check) {
    case FirmwareImageCheck::Valid:
        return "valid image";
    case FirmwareImageCheck::NoRecord:
        return "no intact version record";
    case FirmwareImageCheck::LengthOutOfRange:
        return "recorded image length out of range";
    case FirmwareImageCheck::ChecksumMismatch:
        return "image checksum does not match";
    }
    return "unknown image check";
}

FirmwareImageCheck CheckFirmwareImage(std::span<const std::uint8_t> flash, std::optional<std::uint16_t>* release)
{
    if (release)
        release->reset();
    const auto record = ReadRecord(flash);
    if (!record)
        return FirmwareImageCheck::NoRecord;
    if (record->length < kVersionRecordOffset + kVersionRecordSize || record->length > flash.size())
        return FirmwareImageCheck::LengthOutOfRange;
    if (ImageCrc(flash, record->length) != record->imageCrc)
        return FirmwareImageCheck::ChecksumMismatch;
    if (release)
        *release = record->release;
    return FirmwareImageCheck::Valid;
}
