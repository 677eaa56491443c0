#pragma once
// CRC-32 with the reflected polynomial 0xEDB88320 (IEEE 802.3), a byte at a time from a table made
// at compile time.
//
// Crc32Update carries a running value without the final inversion, so a long input can be fed in
// pieces: start from kCrc32Initial. The DFU file suffix stores that running value as it stands;
// the usual CRC-32 (Crc32) inverts it once more. Header-only: the engine, the simulator and the
// firmware-image tool all check or write these sums, and none of them links another.

#include <array>
#include <cstdint>
#include <span>

namespace ZT {

inline constexpr std::uint32_t kCrc32Initial = 0xFFFFFFFFu;

namespace Detail {
constexpr std::array<std::uint32_t, 256> MakeCrc32Table()
{
    std::array<std::uint32_t, 256> table{};
    for (std::uint32_t i = 0; i < 256; ++i) {
        std::uint32_t crc = i;
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc & 1u) ? (crc >> 1) ^ 0xEDB88320u : crc >> 1;
        table[i] = crc;
    }
    return table;
}
inline constexpr std::array<std::uint32_t, 256> kCrc32Table = MakeCrc32Table();
} // namespace Detail

[[nodiscard]] constexpr std::uint32_t Crc32Update(std::uint32_t crc, std::span<const std::uint8_t> bytes) noexcept
{
    for (std::uint8_t byte : bytes)
        crc = Detail::kCrc32Table[(crc ^ byte) & 0xFFu] ^ (crc >> 8);
    return crc;
}

// The CRC-32 of bytes, with the initial and final inversion ("123456789" gives 0xCBF43926).
[[nodiscard]] constexpr std::uint32_t Crc32(std::span<const std::uint8_t> bytes) noexcept
{
    return Crc32Update(kCrc32Initial, bytes) ^ 0xFFFFFFFFu;
}

} // namespace ZT
