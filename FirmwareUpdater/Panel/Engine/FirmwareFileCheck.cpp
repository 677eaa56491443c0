#include "FirmwareUpdater/Panel/Engine/FirmwareFileCheck.h"

#include "FirmwareUpdater/Panel/Engine/DeviceFlashLayout.h"
#include "FirmwareUpdater/Panel/Engine/DfuSeFileLayout.h"
#include "FirmwareUpdater/Panel/Engine/DfuSeFirmwareFile.h"
#include "ZTFramework/Utilities/Storage/Crc32.h"
#include "ZTFramework/Utilities/Storage/ZTFile.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstring>
#include <exception>
#include <vector>

namespace Layout = DfuSeFileLayout;
using Verdict = CFirmwareFileCheck::Verdict;
using Result = CFirmwareFileCheck::Result;

namespace {

// The download's block size; the reader needs one to open the file.
constexpr std::uint16_t kBlockSize = 2048;
constexpr std::size_t kReadChunk = 64 * 1024;
// Inside the 16-byte suffix: the signature "UFD" at 8, the suffix length at 11, the CRC at 12.
constexpr std::size_t kSuffixSignatureOffset = 8;
constexpr std::size_t kSuffixLengthOffset = 11;
constexpr std::size_t kSuffixCrcOffset = 12;

std::string Hex32(std::uint64_t value)
{
    char text[24];
    std::snprintf(text, sizeof text, "0x%08llX", static_cast<unsigned long long>(value));
    return text;
}

std::uint32_t LoadLittleEndian32(const std::uint8_t* bytes) noexcept
{
    return static_cast<std::uint32_t>(bytes[0]) | (static_cast<std::uint32_t>(bytes[1]) << 8) |
           (static_cast<std::uint32_t>(bytes[2]) << 16) | (static_cast<std::uint32_t>(bytes[3]) << 24);
}

Result Refuse(Verdict verdict, std::string reason)
{
    return {verdict, std::move(reason)};
}

// The reader refused the file: a file that is a DfuSe image but ends before its element is told
// apart from one that is not an image at all.
Result ExplainRefusedHeader(ZT::File& file, std::uint64_t length)
{
    std::uint8_t header[Layout::kElementDataOffset] = {};
    file.Seek(0);
    const std::size_t read = file.Read(header, sizeof header);
    const bool looksLikeDfuSe = read == sizeof header &&
                                std::memcmp(header, Layout::kSignature, sizeof Layout::kSignature) == 0 &&
                                header[5] == Layout::kFormatVersion && header[10] == 1;
    if (!looksLikeDfuSe)
        return Refuse(Verdict::NotADfuSeImage, "it is not a DfuSe image of format 1 with one target (" +
                                                   std::to_string(length) + " bytes)");
    const std::uint64_t needed = Layout::kElementDataOffset + std::uint64_t{LoadLittleEndian32(header + Layout::kElementSizeOffset)};
    if (length < needed)
        return Refuse(Verdict::ElementCutShort, "the file ends after " + std::to_string(length) +
                                                    " bytes; its element at " +
                                                    Hex32(LoadLittleEndian32(header + Layout::kElementAddressOffset)) +
                                                    " needs " + std::to_string(needed));
    return Refuse(Verdict::NotADfuSeImage, "the reader refuses its header (" + std::to_string(length) + " bytes)");
}

// Every byte of [start, end) must lie in a sector the download erases (see the header).
Result CheckSectors(std::uint32_t start, std::uint64_t end, std::span<const std::uint32_t> eraseList)
{
    if (eraseList.empty())
        return Refuse(Verdict::NoSectorToErase, "the target's erase list is empty: the element at " + Hex32(start) +
                                                    " would be written into flash that was not erased");
    if (start < eraseList.front())
        return Refuse(Verdict::ElementBelowErasedSectors,
                      "the element at " + Hex32(start) + " starts below the first erased sector " +
                          Hex32(eraseList.front()) + ", in the bootloader's own flash");
    const auto first = std::find(eraseList.begin(), eraseList.end(), start);
    if (first == eraseList.end()) {
        const auto holder = DeviceFlashLayout::SectorStartOf(start);
        return Refuse(Verdict::ElementNotAtSectorStart,
                      "the element at " + Hex32(start) + " starts inside the sector at " +
                          (holder ? Hex32(*holder) : std::string("(outside the flash)")) +
                          ", which the download does not erase");
    }
    std::uint64_t erasedUpTo = start;
    std::uint32_t lastErased = start;
    for (auto sector = first; sector != eraseList.end() && *sector < end; ++sector) {
        const std::uint32_t size = DeviceFlashLayout::SectorSizeAt(*sector);
        if (*sector != erasedUpTo || size == 0)
            break; // a gap in the list, or an entry that is no sector start
        erasedUpTo = std::uint64_t{*sector} + size;
        lastErased = *sector;
    }
    if (erasedUpTo < end)
        return Refuse(Verdict::ElementPastErasedSectors,
                      "the element " + Hex32(start) + " .. " + Hex32(end - 1) + " reaches past the erased flash, which ends at " +
                          Hex32(erasedUpTo) + " with the sector at " + Hex32(lastErased));
    return {Verdict::Usable, {}};
}

// The suffix, when the 16 bytes that follow the element end in one, must carry the file's CRC.
Result CheckSuffix(ZT::File& file, std::uint64_t length, std::uint64_t elementEnd)
{
    if (length < elementEnd + Layout::kSuffixSize)
        return {Verdict::Usable, {}};
    std::uint8_t suffix[Layout::kSuffixSize] = {};
    file.Seek(length - Layout::kSuffixSize);
    if (file.Read(suffix, sizeof suffix) != sizeof suffix)
        return Refuse(Verdict::CannotBeRead, "the file ended while its last 16 bytes were read");
    const bool hasSuffix = std::memcmp(suffix + kSuffixSignatureOffset, Layout::kSuffixSignature,
                                       sizeof Layout::kSuffixSignature) == 0 &&
                           suffix[kSuffixLengthOffset] == Layout::kSuffixSize;
    if (!hasSuffix)
        return {Verdict::Usable, {}};

    const std::uint32_t found = LoadLittleEndian32(suffix + kSuffixCrcOffset);
    const std::uint64_t covered = length - (Layout::kSuffixSize - kSuffixCrcOffset);
    std::vector<std::uint8_t> chunk(kReadChunk);
    std::uint32_t crc = 0xFFFFFFFFu;
    file.Seek(0);
    for (std::uint64_t done = 0; done < covered;) {
        const std::size_t wanted = static_cast<std::size_t>(std::min<std::uint64_t>(chunk.size(), covered - done));
        const std::size_t read = file.Read(chunk.data(), wanted);
        if (read != wanted)
            return Refuse(Verdict::CannotBeRead, "the file ended after " + std::to_string(done + read) +
                                                     " bytes while its CRC was computed");
        crc = CFirmwareFileCheck::UpdateSuffixCrc(crc, std::span<const std::uint8_t>(chunk.data(), read));
        done += read;
    }
    if (crc != found)
        return Refuse(Verdict::SuffixCrcMismatch,
                      "its DFU suffix carries the CRC " + Hex32(found) + " where the file's bytes give " + Hex32(crc));
    return {Verdict::Usable, {}};
}

Result CheckFile(const ZT::WString& path, std::span<const std::uint32_t> eraseList)
{
    ZT::File file;
    if (ZT::Failed(file.Open(path, ZT::File::OpenMode::ReadBinaryShared)))
        return Refuse(Verdict::CannotBeRead, "it cannot be opened as a regular file");
    const std::uint64_t length = file.GetLength();

    // Released on return, which closes its file.
    const ZT::RCPtr<LDfuSeFirmwareFile> reader = LDfuSeFirmwareFile::Create();
    if (ZT::Failed(reader->Open(path, kBlockSize)))
        return ExplainRefusedHeader(file, length);
    const std::uint32_t start = reader->GetElementAddress();
    const std::uint64_t end = std::uint64_t{start} + reader->GetElementSize();
    const std::uint64_t elementEnd = Layout::kElementDataOffset + std::uint64_t{reader->GetElementSize()};
    if (length < elementEnd) // the reader refuses this too; the download relies on it
        return Refuse(Verdict::ElementCutShort, "the file ends after " + std::to_string(length) +
                                                    " bytes; its element needs " + std::to_string(elementEnd));

    Result sectors = CheckSectors(start, end, eraseList);
    if (!sectors.IsUsable())
        return sectors;
    return CheckSuffix(file, length, elementEnd);
}

} // namespace

Result CFirmwareFileCheck::Check(const ZT::WString& path, std::span<const std::uint32_t> eraseList)
{
    try {
        return CheckFile(path, eraseList);
    } catch (const std::exception& error) {
        return Refuse(Verdict::CannotBeRead, std::string("reading it failed: ") + error.what());
    }
}

std::uint32_t CFirmwareFileCheck::UpdateSuffixCrc(std::uint32_t crc, std::span<const std::uint8_t> bytes) noexcept
{
    return ZT::Crc32Update(crc, bytes);
}

const char* ToString(CFirmwareFileCheck::Verdict verdict) noexcept
{
    switch (verdict) {
    case Verdict::Usable: return "Usable";
    case Verdict::CannotBeRead: return "CannotBeRead";
    case Verdict::NotADfuSeImage: return "NotADfuSeImage";
    case Verdict::ElementCutShort: return "ElementCutShort";
    case Verdict::NoSectorToErase: return "NoSectorToErase";
    case Verdict::ElementBelowErasedSectors: return "ElementBelowErasedSectors";
    case Verdict::ElementNotAtSectorStart: return "ElementNotAtSectorStart";
    case Verdict::ElementPastErasedSectors: return "ElementPastErasedSectors";
    case Verdict::SuffixCrcMismatch: return "SuffixCrcMismatch";
    }
    return "invalid CFirmwareFileCheck::Verdict";
}
