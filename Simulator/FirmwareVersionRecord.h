#pragma once
// The version record that simulated application firmware carries inside its image.
//
// A simulated device learns which firmware it runs the way a real one does: from its flash. The
// record sits kVersionRecordOffset bytes after the start of the application image (the start of
// the image element in a firmware file, 0x08008000 in the device's flash) and holds, little-endian:
//
//   offset 0   4 bytes  magic "XRFV"
//   offset 4   2 bytes  release number, four hexadecimal version digits (0x0031 for "00.31")
//   offset 6   1 byte   record format, 2
//   offset 7   1 byte   the device the image is made for: 0 not named, 1 controller,
//                       2 wheel display
//   offset 8   4 bytes  image length in bytes, from the application start (the record included)
//   offset 12  4 bytes  CRC-32 of the image's length bytes, the record's own 20 bytes left out
//   offset 16  4 bytes  CRC-32 (IEEE 802.3) of bytes 0 to 15
//
// Like every Cortex-M application, the image starts with its vector table, whose first word is
// the initial stack pointer: WriteVersionRecord puts kImageInitialStackPointer there. A simulated
// boot code starts whatever holds a plausible stack pointer in that word (IsPlausibleStackPointer)
// and, as an option, only an image whose record is intact and whose checksum matches the flash
// over the recorded length (CheckFirmwareImage). The firmware-image tool calls WriteVersionRecord
// when it builds an image, after everything else in the image is final.

#include "Simulator/SimulatedDeviceKind.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

inline constexpr std::size_t kVersionRecordOffset = 0x400;
inline constexpr std::size_t kVersionRecordSize = 20;

// The initial stack pointer every image made here starts with: the top of 128 KiB of RAM.
inline constexpr std::uint32_t kImageInitialStackPointer = 0x20020000;

// Whether word, read from an image's start, can be an initial stack pointer: a word-aligned
// address above the start of the microcontroller's RAM (0x20000000) and at most 1 MiB into it.
// Erased flash (0xFFFFFFFF) is not.
[[nodiscard]] bool IsPlausibleStackPointer(std::uint32_t word) noexcept;

// Writes kImageInitialStackPointer into the image's first word and the record for releaseNumber,
// naming device when given, covering the whole image. Returns false, leaving image untouched,
// when image is shorter than kVersionRecordOffset + kVersionRecordSize or longer than 4 GiB - 1.
[[nodiscard]] bool WriteVersionRecord(std::span<std::uint8_t> image, std::uint16_t releaseNumber,
                                      std::optional<SimulatedDeviceKind> device = std::nullopt);

// As above, first growing a short image with erased-flash bytes (0xFF) so that the record fits.
void WriteVersionRecord(std::vector<std::uint8_t>& image, std::uint16_t releaseNumber,
                        std::optional<SimulatedDeviceKind> device = std::nullopt);

// The device an intact record names; nothing when the record is not intact or names none.
[[nodiscard]] std::optional<SimulatedDeviceKind> ReadImageDevice(std::span<const std::uint8_t> image);

// The release number of the record in image (which starts where the application starts), or
// nothing when image is too short, the magic or format differs, or the record's checksum does not
// match. Says nothing about the rest of the image: see CheckFirmwareImage.
[[nodiscard]] std::optional<std::uint16_t> ReadVersionRecord(std::span<const std::uint8_t> image);

// What a bootloader that checks the image finds in flash (which starts where the application
// starts).
enum class FirmwareImageCheck {
    Valid,            // intact record, the image checksum matches over the recorded length
    NoRecord,         // no intact record: erased, never written or overwritten
    LengthOutOfRange, // the recorded length is shorter than the record or leaves the flash
    ChecksumMismatch, // the image differs from what the record describes: a cut or damaged write
};

[[nodiscard]] const char* FirmwareImageCheckName(FirmwareImageCheck check);

// The result of checking flash as above; release is set for Valid only.
[[nodiscard]] FirmwareImageCheck CheckFirmwareImage(std::span<const std::uint8_t> flash,
                                                    std::optional<std::uint16_t>* release = nullptr);

// CRC-32 as used by the record (reflected polynomial 0xEDB88320, initial and final 0xFFFFFFFF).
[[nodiscard]] std::uint32_t VersionRecordCrc32(std::span<const std::uint8_t> bytes);
