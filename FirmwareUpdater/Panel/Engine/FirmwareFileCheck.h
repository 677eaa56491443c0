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
//   - when the 16 bytes after the element end in a DFU suffix (signature "UFD", length 16), its
//     CRC matches: CRC-32 (reflected polynomial 0xEDB88320, initial value 0xFFFFFFFF, no final
//     inversion, as DFU tools write it) over every byte of the file before the CRC field. A file
//     without a suffix is not refused for that.
//
// Stateless; any thread. Reads the whole file once, 64 KiB at a time. An operating-system read
// error gives CannotBeRead rather than an exception, so the mode switch never throws.

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
    };

    struct Result {
        Verdict verdict = Verdict::CannotBeRead;
        // One sentence for the debug output, with the addresses or CRCs involved in hexadecimal;
        // empty when the file is usable.
        std::string reason;

        [[nodiscard]] bool IsUsable() const noexcept { return verdict == Verdict::Usable; }
    };

    // Checks the file at path for a download with eraseList (sector start addresses in address
    // order, as the download walks them: the Addresses of the target's CopyEraseList).
    [[nodiscard]] static Result Check(const ZT::WString& path, std::span<const std::uint32_t> eraseList);

    // Continues a DFU-suffix CRC over bytes: start with 0xFFFFFFFF; the last value is the CRC.
    [[nodiscard]] static std::uint32_t UpdateSuffixCrc(std::uint32_t crc, std::span<const std::uint8_t> bytes) noexcept;
};

// "Usable", "SuffixCrcMismatch", ...
[[nodiscard]] const char* ToString(CFirmwareFileCheck::Verdict verdict) noexcept;
