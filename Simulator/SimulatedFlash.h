#pragma once
// The 1 MiB internal flash of an STM32F4-class microcontroller.
//
// Twelve sectors from 0x08000000: four of 16 KiB, one of 64 KiB, seven of 128 KiB. As with real
// flash a byte can be programmed once after its sector was erased; programming it again before
// the next erase is refused. Erased bytes read 0xFF.
//
// Not thread-safe: the owning device guards it with its own lock.

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

class LSimulatedFlash {
public:
    static constexpr std::uint32_t kBaseAddress = 0x08000000;
    static constexpr std::uint32_t kSize = 0x100000;
    static constexpr std::size_t kSectorCount = 12;

    enum class ProgramResult { Ok, OutsideFlash, NotErased };

    // All sectors erased.
    LSimulatedFlash();

    [[nodiscard]] static std::optional<std::size_t> SectorIndexOf(std::uint32_t address);
    [[nodiscard]] static std::uint32_t SectorStart(std::size_t index);
    [[nodiscard]] static std::uint32_t SectorSize(std::size_t index);
    // Whether [address, address + length) lies inside the flash.
    [[nodiscard]] static bool Contains(std::uint32_t address, std::size_t length);

    void EraseSector(std::size_t index);
    void EraseAll();

    // What Program would do with these bytes, without doing it.
    [[nodiscard]] ProgramResult CheckProgram(std::uint32_t address, std::size_t length) const;
    // Programs all bytes or, when CheckProgram refuses, none.
    [[nodiscard]] ProgramResult Program(std::uint32_t address, std::span<const std::uint8_t> bytes);
    // Writes bytes the way a factory programmer does (it erases as it goes): any byte inside the
    // flash may be written, and is programmed afterwards. False, changing nothing, outside.
    [[nodiscard]] bool FactoryProgram(std::uint32_t address, std::span<const std::uint8_t> bytes);

    // length bytes from address; nothing when the range leaves the flash.
    [[nodiscard]] std::optional<std::vector<std::uint8_t>> Read(std::uint32_t address, std::size_t length) const;
    // The whole flash, kBaseAddress first.
    [[nodiscard]] std::span<const std::uint8_t> Bytes() const { return mBytes; }

private:
    std::vector<std::uint8_t> mBytes;
    // true for a byte programmed since its sector was last erased.
    std::vector<bool> mProgrammed;
};
