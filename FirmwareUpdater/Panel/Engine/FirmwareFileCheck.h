#pragma once
// Decides, before any device is touched, whether a firmware file can be written as the download
// writes it. The mode switch asks before its MIDI message and the download before it opens the
// USB connection, so a refused file never puts a device into update mode and never reaches one.
//
// A file is usable when
//   - the download's reader takes it (LDfuSeFirmwareFile::Open) and the file holds the whole first
//     element: its length covers the element's data offset (293) plus the element's size;
//   - every byte of the element lies in a sector that the download erases. The download erases
//     the sectors of the target's erase list that start at or after the element's start and
//     before its end, and skips a listed sector that starts below the element even when the
//     element begins inside it. So the element must start exactly at a listed sector, and the
//     listed sectors from there on must cover it without a gap up to its last byte; a sector's
//     end comes from DeviceFlashLayout. Nothing below the list's first sector (the bootloader's
//     own flash) is ever usable;
//   - it does not name the other device of the product, when the device it is for is given: its
//     DFU suffix does not carry the product's vendor ID with the other device's normal-mode
//     product ID, and its DfuSe target name is not the other device's name (its MIDI port name,
//     case ignored, also with our tool's simulation mark after " - "). A file that names neither
//     (the bootloader's own IDs 0483:DF11, a generic target name) passes this part;
//   - when the 16 bytes after the element end in a DFU suffix (signature "UFD", length 16), its
//     CRC matches: CRC-32 (reflected polynomial 0xEDB88320, initial value 0xFFFFFFFF, no final
//     inversion, as DFU tools write it) over every byte of the file before the CRC field. A file
//     without a suffix is not refused for that.
//
// Stateless; any thread. Reads the whole file into memory once (at most
// LDfuSeFirmwareFile::kMaxFileBytes) and checks those bytes. An operating-system read error gives
// CannotBeRead rather than an exception, so the mode switch never throws.

#include "FirmwareUpdater/Panel/Engine/ProductDevice.h"
#include "ZTFramework/Utilities/Storage/StringT.h"

#include <cstdint>
#include <span>
#include <string>
#include <vector>

class CFirmwareFileCheck {
public:
    enum class Verdict {
        Usable,
        CannotBeRead,              // no such file, not a regular file, or a read error
        NotADfuSeImage,            // the reader refuses its header
        ElementCutShort,           // the file ends before its element does
        NoSectorToErase,           // the target's erase list is empty
        ElementBelowErasedSectors, // starts below the list's first sector: the bootloader's flash
        ElementNotAtSectorStart,   // starts inside a sector the download would skip
        ElementPastErasedSectors,  // reaches flash the download does not erase
        SuffixCrcMismatch,         // the DFU suffix's CRC is not the file's
        MadeForOtherDevice,        // its suffix or target name names the product's other device
    };

    struct Result {
        Verdict verdict = Verdict::CannotBeRead;
        // One sentence for the debug output, with the addresses or CRCs involved in hexadecimal;
        // empty when the file is usable.
        std::string reason;

        [[nodiscard]] bool IsUsable() const noexcept { return verdict == Verdict::Usable; }
    };

    // Checks the file at path for a download with eraseList (sector start addresses in address
    // order, as the download walks them: the Addresses of the target's CopyEraseList) into
    // device, when given (otherwise nobody's image is refused for naming another device).
    [[nodiscard]] static Result Check(const ZT::WString& path, std::span<const std::uint32_t> eraseList,
                                      const ProductDevice* device = nullptr);
    // The same for a whole file already in memory: what the download checks and then writes.
    [[nodiscard]] static Result Check(std::span<const std::uint8_t> file, std::span<const std::uint32_t> eraseList,
                                      const ProductDevice* device = nullptr);

    // Continues a DFU-suffix CRC over bytes: start with 0xFFFFFFFF; the last value is the CRC.
    [[nodiscard]] static std::uint32_t UpdateSuffixCrc(std::uint32_t crc, std::span<const std::uint8_t> bytes) noexcept;
};

// "Usable", "SuffixCrcMismatch", ...
[[nodiscard]] const char* ToString(CFirmwareFileCheck::Verdict verdict) noexcept;
