#include "Simulator/SimulatedFlash.h"

#include <algorithm>
#include <cassert>

namespace {

constexpr std::uint32_t kKiB = 1024;
constexpr std::array<std::uint32_t, LSimulatedFlash::kSectorCount> kSectorSizes{
    16 * kKiB, 16 * kKiB, 16 * kKiB, 16 * kKiB, 64 * kKiB, 128 * kKiB,
    128 * kKiB, 128 * kKiB, 128 * kKiB, 128 * kKiB, 128 * kKiB, 128 * kKiB,
};

std::size_t OffsetOf(std::uint32_t address)
{
    return static_cast<std::size_t>(address - LSimulatedFlash::kBaseAddress);
}

} // namespace

LSimulatedFlash::LSimulatedFlash() : mBytes(kSize, 0xFF), mProgrammed(kSize, false) {}

std::optional<std::size_t> LSimulatedFlash::SectorIndexOf(std::uint32_t address)
{
    if (!Contains(address, 1))
        return std::nullopt;
    std::uint32_t start = kBaseAddress;
    for (std::size_t i = 0; i < kSectorCount; ++i) {
        if (address < start + kSectorSizes[i])
            return i;
        start += kSectorSizes[i];
    }
    return std::nullopt;
}

std::uint32_t LSimulatedFlash::SectorStart(std::size_t index)
{
    assert(index < kSectorCount && "sector index past the flash");
    std::uint32_t start = kBaseAddress;
    for (std::size_t i = 0; i < index; ++i)
        start += kSectorSizes[i];
    return start;
}

std::uint32_t LSimulatedFlash::SectorSize(std::size_t index)
{
    assert(index < kSectorCount && "sector index past the flash");
    return kSectorSizes[index];
}

bool LSimulatedFlash::Contains(std::uint32_t address, std::size_t length)
{
    if (address < kBaseAddress)
        return false;
    const std::uint64_t end = static_cast<std::uint64_t>(address) + length;
    return end <= static_cast<std::uint64_t>(kBaseAddress) + kSize;
}

void LSimulatedFlash::EraseSector(std::size_t index)
{
    const std::size_t begin = OffsetOf(SectorStart(index));
    const std::size_t end = begin + SectorSize(index);
    std::fill(mBytes.begin() + static_cast<std::ptrdiff_t>(begin), mBytes.begin() + static_cast<std::ptrdiff_t>(end), 0xFF);
    std::fill(mProgrammed.begin() + static_cast<std::ptrdiff_t>(begin),
              mProgrammed.begin() + static_cast<std::ptrdiff_t>(end), false);
}

void LSimulatedFlash::EraseAll()
{
    std::fill(mBytes.begin(), mBytes.end(), 0xFF);
    std::fill(mProgrammed.begin(), mProgrammed.end(), false);
}

LSimulatedFlash::ProgramResult LSimulatedFlash::CheckProgram(std::uint32_t address, std::size_t length) const
{
    if (!Contains(address, length))
        return ProgramResult::OutsideFlash;
    const std::size_t begin = OffsetOf(address);
    for (std::size_t i = begin; i < begin + length; ++i) {
        if (mProgrammed[i])
            return ProgramResult::NotErased;
    }
    return ProgramResult::Ok;
}

LSimulatedFlash::ProgramResult LSimulatedFlash::Program(std::uint32_t address, std::span<const std::uint8_t> bytes)
{
    const ProgramResult check = CheckProgram(address, bytes.size());
    if (check != ProgramResult::Ok)
        return check;
    const std::size_t begin = OffsetOf(address);
    std::copy(bytes.begin(), bytes.end(), mBytes.begin() + static_cast<std::ptrdiff_t>(begin));
    std::fill(mProgrammed.begin() + static_cast<std::ptrdiff_t>(begin),
              mProgrammed.begin() + static_cast<std::ptrdiff_t>(begin + bytes.size()), true);
    return ProgramResult::Ok;
}

bool LSimulatedFlash::FactoryProgram(std::uint32_t address, std::span<const std::uint8_t> bytes)
{
    if (!Contains(address, bytes.size()))
        return false;
    const std::size_t begin = OffsetOf(address);
    std::copy(bytes.begin(), bytes.end(), mBytes.begin() + static_cast<std::ptrdiff_t>(begin));
    std::fill(mProgrammed.begin() + static_cast<std::ptrdiff_t>(begin),
              mProgrammed.begin() + static_cast<std::ptrdiff_t>(begin + bytes.size()), true);
    return true;
}

std::optional<std::vector<std::uint8_t>> LSimulatedFlash::Read(std::uint32_t address, std::size_t length) const
{
    if (!Contains(address, length))
        return std::nullopt;
    const auto first = mBytes.begin() + static_cast<std::ptrdiff_t>(OffsetOf(address));
    return std::vector<std::uint8_t>(first, first + static_cast<std::ptrdiff_t>(length));
}
