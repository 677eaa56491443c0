#include "Simulator/FirmwareVersionRecord.h"

#include <algorithm>
#include <array>

namespace {

constexpr std::array<std::uint8_t, 4> kMagic{'X', 'R', 'F', 'V'};
constexpr std::uint8_t kFormat = 1;
constexpr std::size_t kCheckedBytes = 8;

std::array<std::uint8_t, kVersionRecordSize> BuildRecord(std::uint16_t releaseNumber)
{
    std::array<std::uint8_t, kVersionRecordSize> record{};
    std::copy(kMagic.begin(), kMagic.end(), record.begin());
    record[4] = static_cast<std::uint8_t>(releaseNumber & 0xFF);
    record[5] = static_cast<std::uint8_t>(releaseNumber >> 8);
    record[6] = kFormat;
    record[7] = 0;
    const std::uint32_t crc = VersionRecordCrc32(std::span<const std::uint8_t>(record.data(), kCheckedBytes));
    for (std::size_t i = 0; i < 4; ++i)
        record[kCheckedBytes + i] = static_cast<std::uint8_t>(crc >> (8 * i));
    return record;
}

} // namespace

std::uint32_t VersionRecordCrc32(std::span<const std::uint8_t> bytes)
{
    std::uint32_t crc = 0xFFFFFFFFu;
    for (std::uint8_t byte : bytes) {
        crc ^= byte;
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc & 1u) ? (crc >> 1) ^ 0xEDB88320u : crc >> 1;
    }
    return crc ^ 0xFFFFFFFFu;
}

bool WriteVersionRecord(std::span<std::uint8_t> image, std::uint16_t releaseNumber)
{
    if (image.size() < kVersionRecordOffset + kVersionRecordSize)
        return false;
    const auto record = BuildRecord(releaseNumber);
    std::copy(record.begin(), record.end(), image.begin() + kVersionRecordOffset);
    return true;
}

void WriteVersionRecord(std::vector<std::uint8_t>& image, std::uint16_t releaseNumber)
{
    if (image.size() < kVersionRecordOffset + kVersionRecordSize)
        image.resize(kVersionRecordOffset + kVersionRecordSize, 0xFF);
    const bool written = WriteVersionRecord(std::span<std::uint8_t>(image), releaseNumber);
    (void)written; // the image has just been made long enough
}

std::optional<std::uint16_t> ReadVersionRecord(std::span<const std::uint8_t> image)
{
    if (image.size() < kVersionRecordOffset + kVersionRecordSize)
        return std::nullopt;
    const auto record = image.subspan(kVersionRecordOffset, kVersionRecordSize);
    if (!std::equal(kMagic.begin(), kMagic.end(), record.begin()) || record[6] != kFormat)
        return std::nullopt;
    std::uint32_t storedCrc = 0;
    for (std::size_t i = 0; i < 4; ++i)
        storedCrc |= static_cast<std::uint32_t>(record[kCheckedBytes + i]) << (8 * i);
    if (storedCrc != VersionRecordCrc32(record.first(kCheckedBytes)))
        return std::nullopt;
    return static_cast<std::uint16_t>(record[4] | (record[5] << 8));
}
