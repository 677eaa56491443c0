#pragma once
// The version record that simulated application firmware carries inside its image.
//
// A simulated device learns which firmware it runs the way a real one does: from its flash. The
// record sits kVersionRecordOffset bytes after the start of the application image (the start of
// the image element in a firmware file, 0x08008000 in the device's flash) and holds, little-endian:
//
//   offset 0   4 bytes  magic "XRFV"
//   offset 4   2 bytes  release number, four hexadecimal version digits (0x0031 for "00.31")
//   offset 6   1 byte   record format, 1
//   offset 7   1 byte   0
//   offset 8   4 bytes  CRC-32 (IEEE 802.3) of bytes 0 to 7
//
// A device whose flash holds no intact record has no runnable application and stays in its
// bootloader. The firmware-image tool calls WriteVersionRecord when it builds an image.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

inline constexpr std::size_t kVersionRecordOffset = 0x400;
inline constexpr std::size_t kVersionRecordSize = 12;

// Writes the record for releaseNumber into image. Returns false, leaving image untouched, when
// image is shorter than kVersionRecordOffset + kVersionRecordSize.
[[nodiscard]] bool WriteVersionRecord(std::span<std::uint8_t> image, std::uint16_t releaseNumber);

// As above, first growing a short image with erased-flash bytes (0xFF) so that the record fits.
void WriteVersionRecord(std::vector<std::uint8_t>& image, std::uint16_t releaseNumber);

// The release number of the record in image (which starts where the application starts), or
// nothing when image is too short, the magic or format differs, or the checksum does not match.
[[nodiscard]] std::optional<std::uint16_t> ReadVersionRecord(std::span<const std::uint8_t> image);

// CRC-32 as used by the record (reflected polynomial 0xEDB88320, initial and final 0xFFFFFFFF).
[[nodiscard]] std::uint32_t VersionRecordCrc32(std::span<const std::uint8_t> bytes);
