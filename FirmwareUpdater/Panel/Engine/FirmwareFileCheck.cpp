#include "FirmwareUpdater/Panel/Engine/FirmwareFileCheck.h"

#include "FirmwareUpdater/Panel/Engine/DeviceFlashLayout.h"
#include "FirmwareUpdater/Panel/Engine/DfuSeFileLayout.h"
#include "FirmwareUpdater/Panel/Engine/DfuSeFirmwareFile.h"
#include "ZTFramework/Utilities/Storage/Crc32.h"
#include "ZTFramework/Utilities/Storage/ZTFile.h"

#include <algorithm>
#include <cctype>
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
Result ExplainRefusedHeader(std::span<const std::uint8_t> file)
{
    const std::uint64_t length = file.size();
    std::uint8_t header[Layout::kElementDataOffset] = {};
    const std::size_t read = std::min(file.size(), sizeof header);
    if (read > 0) // an empty file has no data pointer to copy from
        std::memcpy(header, file.data(), read);
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

std::string Ids(std::uint32_t vendorId, std::uint32_t productId)
{
    char text[16];
    std::snprintf(text, sizeof text, "%04X:%04X", static_cast<unsigned>(vendorId & 0xFFFF),
                  static_cast<unsigned>(productId & 0xFFFF));
    return text;
}

std::string Narrow(const wchar_t* text)
{
    std::string narrow;
    for (; *text; ++text)
        narrow.push_back(static_cast<char>(*text));
    return narrow;
}

bool EqualIgnoringCase(const std::string& a, const std::string& b)
{
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
           });
}

// The product's device that is not device.
const ProductDevice& OtherDevice(const ProductDevice& device)
{
    return device.DeviceKind == ProductDevice::Kind::Controller ? kWheelDisplayDevice : kControllerDevice;
}

// The name in the first target prefix when its named flag is set; empty otherwise.
std::string ReadTargetName(std::span<const std::uint8_t> file)
{
    if (file.size() < Layout::kTargetPrefixOffset + Layout::kTargetPrefixSize)
        return {};
    const std::uint8_t* prefix = file.data() + Layout::kTargetPrefixOffset;
    constexpr std::size_t named = Layout::kTargetNamedOffset - Layout::kTargetPrefixOffset;
    if (LoadLittleEndian32(prefix + named) == 0)
        return {};
    const char* name = reinterpret_cast<const char*>(prefix + (Layout::kTargetNameOffset - Layout::kTargetPrefixOffset));
    return std::string(name, strnlen(name, Layout::kTargetNameSize));
}

// A file whose suffix or target name names the product's other device is that device's image.
Result CheckNamedDevice(std::span<const std::uint8_t> file, std::uint64_t elementEnd, const ProductDevice& device)
{
    const std::uint64_t length = file.size();
    const ProductDevice& other = OtherDevice(device);
    const std::string otherName = Narrow(other.MidiPortName);
    const std::string whose = "it is the " + otherName + "'s image, not the " + Narrow(device.MidiPortName) + "'s";
    if (length >= elementEnd + Layout::kSuffixSize) {
        const std::uint8_t* suffix = file.data() + (length - Layout::kSuffixSize);
        const bool hasSuffix = std::memcmp(suffix + kSuffixSignatureOffset, Layout::kSuffixSignature,
                                           sizeof Layout::kSuffixSignature) == 0 &&
                               suffix[kSuffixLengthOffset] == Layout::kSuffixSize;
        const std::uint32_t productId = suffix[2] | (suffix[3] << 8);
        const std::uint32_t vendorId = suffix[4] | (suffix[5] << 8);
        if (hasSuffix && vendorId == other.VendorId && productId == other.ProductId)
            return Refuse(Verdict::MadeForOtherDevice, whose + ": its DFU suffix names " + Ids(vendorId, productId));
    }
    const std::string name = ReadTargetName(file);
    if (!name.empty() && (EqualIgnoringCase(name, otherName) ||
                          EqualIgnoringCase(name, otherName + " - " + Layout::kSimulationMark)))
        return Refuse(Verdict::MadeForOtherDevice, whose + ": its target is named \"" + name + "\"");
    return {Verdict::Usable, {}};
}

// The suffix, when the 16 bytes that follow the element end in one, must carry the file's CRC.
Result CheckSuffix(std::span<const std::uint8_t> file, std::uint64_t elementEnd)
{
    const std::uint64_t length = file.size();
    if (length < elementEnd + Layout::kSuffixSize)
        return {Verdict::Usable, {}};
    const std::uint8_t* suffix = file.data() + (length - Layout::kSuffixSize);
    const bool hasSuffix = std::memcmp(suffix + kSuffixSignatureOffset, Layout::kSuffixSignature,
                                       sizeof Layout::kSuffixSignature) == 0 &&
                           suffix[kSuffixLengthOffset] == Layout::kSuffixSize;
    if (!hasSuffix)
        return {Verdict::Usable, {}};

    const std::uint32_t found = LoadLittleEndian32(suffix + kSuffixCrcOffset);
    const std::size_t covered = static_cast<std::size_t>(length - (Layout::kSuffixSize - kSuffixCrcOffset));
    const std::uint32_t crc = CFirmwareFileCheck::UpdateSuffixCrc(0xFFFFFFFFu, file.first(covered));
    if (crc != found)
        return Refuse(Verdict::SuffixCrcMismatch,
                      "its DFU suffix carries the CRC " + Hex32(found) + " where the file's bytes give " + Hex32(crc));
    return {Verdict::Usable, {}};
}

Result CheckBytes(std::span<const std::uint8_t> file, std::span<const std::uint32_t> eraseList,
                  const ProductDevice* device)
{
    // Released on return; it reads from its own copy of the bytes.
    const ZT::RCPtr<LDfuSeFirmwareFile> reader = LDfuSeFirmwareFile::Create();
    if (ZT::Failed(reader->OpenBytes(std::vector<std::uint8_t>(file.begin(), file.end()), kBlockSize)))
        return ExplainRefusedHeader(file);
    const std::uint32_t start = reader->GetElementAddress();
    const std::uint64_t end = std::uint64_t{start} + reader->GetElementSize();
    const std::uint64_t elementEnd = Layout::kElementDataOffset + std::uint64_t{reader->GetElementSize()};
    if (file.size() < elementEnd) // the reader refuses this too; the download relies on it
        return Refuse(Verdict::ElementCutShort, "the file ends after " + std::to_string(file.size()) +
                                                    " bytes; its element needs " + std::to_string(elementEnd));
    if (device) {
        Result named = CheckNamedDevice(file, elementEnd, *device);
        if (!named.IsUsable())
            return named;
    }
    Result sectors = CheckSectors(start, end, eraseList);
    if (!sectors.IsUsable())
        return sectors;
    return CheckSuffix(file, elementEnd);
}

} // namespace

Result CFirmwareFileCheck::Check(const ZT::WString& path, std::span<const std::uint32_t> eraseList,
                                 const ProductDevice* device)
{
    try {
        std::vector<std::uint8_t> bytes;
        if (ZT::Failed(LDfuSeFirmwareFile::ReadWholeFile(path, bytes)))
            return Refuse(Verdict::CannotBeRead, "it cannot be read whole as a regular file of at most " +
                                                     std::to_string(LDfuSeFirmwareFile::kMaxFileBytes) + " bytes");
        return CheckBytes(bytes, eraseList, device);
    } catch (const std::exception& error) {
        return Refuse(Verdict::CannotBeRead, std::string("reading it failed: ") + error.what());
    }
}

Result CFirmwareFileCheck::Check(std::span<const std::uint8_t> file, std::span<const std::uint32_t> eraseList,
                                 const ProductDevice* device)
{
    return CheckBytes(file, eraseList, device);
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
    case Verdict::MadeForOtherDevice: return "MadeForOtherDevice";
    }
    return "invalid CFirmwareFileCheck::Verdict";
}
