#pragma once
// The flash of the microcontroller in both of the product's devices (1 MiB from 0x08000000):
//
//   0x08000000 .. 0x08010000   four sectors of 16 KiB  (the first two hold the bootloader)
//   0x08010000 .. 0x08020000   one sector of 64 KiB
//   0x08020000 .. 0x08100000   seven sectors of 128 KiB
//
// A DfuSe erase command erases one whole sector. The firmware-file check reads from here how far
// the last sector of an erase list reaches.

#include <cstdint>
#include <optional>

namespace DeviceFlashLayout {

struct SectorRun {
    std::uint32_t First; // start of the run's first sector
    std::uint32_t End;   // one past the run's last byte
    std::uint32_t SectorSize;
};

inline constexpr std::uint32_t kKiB = 1024;
inline constexpr SectorRun kSectorRuns[] = {
    {0x08000000, 0x08010000, 16 * kKiB},
    {0x08010000, 0x08020000, 64 * kKiB},
    {0x08020000, 0x08100000, 128 * kKiB},
};
inline constexpr std::uint32_t kFlashStart = 0x08000000;
inline constexpr std::uint32_t kFlashEnd = 0x08100000;

// The start of the sector that holds address; nothing outside the flash.
[[nodiscard]] constexpr std::optional<std::uint32_t> SectorStartOf(std::uint32_t address) noexcept
{
    for (const SectorRun& run : kSectorRuns) {
        if (address >= run.First && address < run.End)
            return run.First + (address - run.First) / run.SectorSize * run.SectorSize;
    }
    return std::nullopt;
}

// The size of the sector that starts exactly at address; 0 when no sector starts there.
[[nodiscard]] constexpr std::uint32_t SectorSizeAt(std::uint32_t address) noexcept
{
    for (const SectorRun& run : kSectorRuns) {
        if (address >= run.First && address < run.End)
            return (address - run.First) % run.SectorSize == 0 ? run.SectorSize : 0;
    }
    return 0;
}

static_assert(kSectorRuns[0].First == kFlashStart && kSectorRuns[2].End == kFlashEnd);
static_assert(kSectorRuns[0].End == kSectorRuns[1].First && kSectorRuns[1].End == kSectorRuns[2].First);
static_assert(SectorSizeAt(0x08010000) == 64 * kKiB && SectorSizeAt(0x0800A000) == 0);
static_assert(*SectorStartOf(0x0807FFFF) == 0x08060000);

} // namespace DeviceFlashLayout
