// Feeds arbitrary files to the DfuSe reader: opens each with two block sizes, reads the blocks and
// builds both command payloads, and checks what it serves against the input itself. The same
// files go through the check made before any device is touched, which must never pass an element
// that leaves the erased sectors or a file the reader refuses.

#include "FirmwareUpdater/Panel/Engine/DfuSeFileLayout.h"
#include "FirmwareUpdater/Panel/Engine/DfuSeFirmwareFile.h"
#include "FirmwareUpdater/Panel/Engine/FirmwareFileCheck.h"
#include "FirmwareUpdater/Panel/Engine/ProductDevice.h"
#include "fuzz/FuzzCheck.h"
#include "fuzz/FuzzInputFile.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

namespace {

constexpr std::uint16_t kDownloadBlockSize = 2048;
// Reading every block of a large element one system call at a time would make each input slow;
// the first blocks and the last one cover every length rule.
constexpr std::uint16_t kBlocksReadFromTheStart = 32;

std::uint32_t Load32(const std::uint8_t* bytes)
{
    return static_cast<std::uint32_t>(bytes[0]) | (static_cast<std::uint32_t>(bytes[1]) << 8) |
           (static_cast<std::uint32_t>(bytes[2]) << 16) | (static_cast<std::uint32_t>(bytes[3]) << 24);
}

// Whether the reader should accept the input, by the rules written out once more here.
bool ShouldAccept(const std::uint8_t* data, std::size_t size, std::uint16_t blockSize)
{
    if (size < DfuSeFileLayout::kElementDataOffset)
        return false;
    if (std::memcmp(data, DfuSeFileLayout::kSignature, 5) != 0 || data[5] != 1 || data[10] != 1)
        return false;
    const std::uint64_t elementSize = Load32(data + DfuSeFileLayout::kElementSizeOffset);
    if (size < elementSize + DfuSeFileLayout::kElementDataOffset)
        return false;
    return (elementSize + blockSize - 1) / blockSize <= 0xFFFF;
}

void ExerciseBlock(LDfuSeFirmwareFile& reader, const std::uint8_t* data, std::uint16_t index)
{
    const std::uint16_t blockSize = reader.GetBlockSize();
    // The reader wants room for a command payload even when blocks are smaller.
    std::vector<std::uint8_t> buffer(std::max<std::uint16_t>(blockSize, 5));
    std::uint16_t length = static_cast<std::uint16_t>(buffer.size());
    Check(reader.ReadBlock(index, buffer.data(), length) == ZT::S_OK);

    const std::uint32_t elementSize = reader.GetElementSize();
    const std::uint64_t offset = static_cast<std::uint64_t>(blockSize) * index;
    const std::uint64_t expected = std::min<std::uint64_t>(blockSize, elementSize - offset);
    Check(length == expected);
    Check(std::memcmp(buffer.data(), data + DfuSeFileLayout::kElementDataOffset + offset, length) == 0);

    std::uint8_t command[5] = {};
    std::uint16_t commandLength = sizeof command;
    Check(reader.GetSetAddressCommand(index, command, commandLength) == ZT::S_OK);
    const std::uint32_t address = static_cast<std::uint32_t>(reader.GetElementAddress() + offset);
    Check(commandLength == 5 && command[0] == 0x21 && Load32(command + 1) == address);
}

void Exercise(LDfuSeFirmwareFile& reader, const std::string& path, const std::uint8_t* data, std::size_t size,
              std::uint16_t blockSize)
{
    const ZT::ZTRESULT opened = reader.Open(ZT::WString(path.c_str()), blockSize);
    const bool accepted = ShouldAccept(data, size, blockSize);
    Check((opened == ZT::S_OK) == accepted);
    Check(reader.IsValid() == accepted);

    std::uint8_t command[5] = {};
    std::uint16_t commandLength = sizeof command;
    const ZT::ZTRESULT erase = reader.GetEraseCommand(0x08008000, command, commandLength);
    Check((erase == ZT::S_OK) == accepted);

    const std::uint16_t count = reader.GetBlockCount();
    if (accepted)
        Check(count == (static_cast<std::uint64_t>(reader.GetElementSize()) + blockSize - 1) / blockSize);
    for (std::uint16_t i = 0; i < count && i < kBlocksReadFromTheStart; ++i)
        ExerciseBlock(reader, data, i);
    if (count > kBlocksReadFromTheStart)
        ExerciseBlock(reader, data, static_cast<std::uint16_t>(count - 1));

    // One past the last block is always refused, and touches nothing.
    std::vector<std::uint8_t> buffer(blockSize < 5 ? 5 : blockSize, 0xEE);
    std::uint16_t length = static_cast<std::uint16_t>(buffer.size());
    Check(reader.ReadBlock(count, buffer.data(), length) == ZT::E_INVALIDARG);
    Check(reader.GetSetAddressCommand(count, buffer.data(), length) == ZT::E_INVALIDARG);
    Check(length == buffer.size() && buffer[0] == 0xEE);

    (void)reader.IsSimulationImage();
}

// A usable verdict means the reader takes the file and the element lies inside the listed
// sectors, starting at one of them: the wheel display's list ends at 0x08080000.
void ExerciseCheck(const std::string& path, const std::uint8_t* data, std::size_t size)
{
    const CFirmwareFileCheck::Result result =
        CFirmwareFileCheck::Check(ZT::WString(path.c_str()), kWheelDisplayEraseSectors);
    Check(result.IsUsable() == result.reason.empty());
    if (!result.IsUsable())
        return;
    Check(ShouldAccept(data, size, kDownloadBlockSize));
    const std::uint64_t start = Load32(data + DfuSeFileLayout::kElementAddressOffset);
    const std::uint64_t end = start + Load32(data + DfuSeFileLayout::kElementSizeOffset);
    Check(std::find(std::begin(kWheelDisplayEraseSectors), std::end(kWheelDisplayEraseSectors), start) !=
          std::end(kWheelDisplayEraseSectors));
    Check(end <= 0x08080000u);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    static InputFile file("dfuse-fuzz");
    file.Write(data, size);

    const ZT::RCPtr<LDfuSeFirmwareFile> reader = LDfuSeFirmwareFile::Create();
    Exercise(*reader, file.GetPath(), data, size, kDownloadBlockSize);
    // A second, small block size taken from the input, so that the last-block rules meet many
    // remainders; the same reader is reopened, as the engine never does but may.
    const std::uint16_t smallBlockSize = static_cast<std::uint16_t>(1 + (size > 0 ? data[size - 1] : 0) % 64);
    Exercise(*reader, file.GetPath(), data, size, smallBlockSize);

    (void)LDfuSeFirmwareFile::IsSimulationImage(ZT::WString(file.GetPath().c_str()));
    ExerciseCheck(file.GetPath(), data, size);
    return 0;
}
