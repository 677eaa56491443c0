#pragma once
// A DfuSe file described in memory, and its bytes: one target holding one image element, then
// the 16-byte DFU suffix with its CRC, so that stock DFU tools accept the file. The layout is the
// one the engine's reader reads (FirmwareUpdater/Panel/Engine/DfuSeFileLayout.h).
//
// Used by the firmware-image tool and by tests that need well-formed files to start from.

#include <cstdint>
#include <span>
#include <string>
#include <vector>

struct DfuSeImage {
    std::uint32_t ElementAddress = 0;
    std::vector<std::uint8_t> ElementData;
    // Written with the target-named flag set when not empty. At most 254 bytes are kept, so that
    // the 255-byte field always ends with a 0.
    std::string TargetName;
    std::uint8_t AlternateSetting = 0;
    // The suffix's IDs; 0xFFFF means "any" to DFU tools.
    std::uint16_t DeviceRelease = 0xFFFF;
    std::uint16_t ProductId = 0xFFFF;
    std::uint16_t VendorId = 0xFFFF;

    // The whole file: prefix, target prefix, element header and data, suffix.
    [[nodiscard]] std::vector<std::uint8_t> ToBytes() const;

    // The DFU suffix's CRC-32 over bytes: reflected polynomial 0xEDB88320, initial value
    // 0xFFFFFFFF and, as DFU files store it, no final inversion.
    [[nodiscard]] static std::uint32_t SuffixCrc(std::span<const std::uint8_t> bytes) noexcept;
};
