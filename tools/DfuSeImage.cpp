#include "tools/DfuSeImage.h"

#include "FirmwareUpdater/Panel/Engine/DfuSeFileLayout.h"
#include "ZTFramework/Utilities/Storage/Crc32.h"

#include <algorithm>
#include <array>

namespace Layout = DfuSeFileLayout;

namespace {

void Append16(std::vector<std::uint8_t>& out, std::uint16_t value)
{
    out.push_back(static_cast<std::uint8_t>(value));
    out.push_back(static_cast<std::uint8_t>(value >> 8));
}

void Append32(std::vector<std::uint8_t>& out, std::uint32_t value)
{
    for (int shift = 0; shift < 32; shift += 8)
        out.push_back(static_cast<std::uint8_t>(value >> shift));
}

} // namespace

std::uint32_t DfuSeImage::SuffixCrc(std::span<const std::uint8_t> bytes) noexcept
{
    return ZT::Crc32Update(ZT::kCrc32Initial, bytes);
}

std::vector<std::uint8_t> DfuSeImage::ToBytes() const
{
    const auto elementSize = static_cast<std::uint32_t>(ElementData.size());
    const std::uint32_t targetSize = static_cast<std::uint32_t>(Layout::kElementHeaderSize) + elementSize;
    const std::uint32_t imageSize = static_cast<std::uint32_t>(Layout::kElementAddressOffset) + targetSize;

    std::vector<std::uint8_t> out;
    out.reserve(imageSize + Layout::kSuffixSize);

    out.insert(out.end(), std::begin(Layout::kSignature), std::end(Layout::kSignature));
    out.push_back(Layout::kFormatVersion);
    Append32(out, imageSize);
    out.push_back(1); // one target

    out.insert(out.end(), std::begin(Layout::kTargetSignature), std::end(Layout::kTargetSignature));
    out.push_back(AlternateSetting);
    Append32(out, TargetName.empty() ? 0u : 1u);
    const std::size_t nameLength = std::min(TargetName.size(), Layout::kTargetNameSize - 1);
    out.insert(out.end(), TargetName.begin(), TargetName.begin() + static_cast<std::ptrdiff_t>(nameLength));
    out.insert(out.end(), Layout::kTargetNameSize - nameLength, 0);
    Append32(out, targetSize);
    Append32(out, 1); // one element

    Append32(out, ElementAddress);
    Append32(out, elementSize);
    out.insert(out.end(), ElementData.begin(), ElementData.end());

    Append16(out, DeviceRelease);
    Append16(out, ProductId);
    Append16(out, VendorId);
    Append16(out, Layout::kDfuSeSpecificationRelease);
    // The suffix is stored back to front, so its signature reads "UFD" in the file.
    out.insert(out.end(), std::begin(Layout::kSuffixSignature), std::end(Layout::kSuffixSignature));
    out.push_back(static_cast<std::uint8_t>(Layout::kSuffixSize));
    Append32(out, SuffixCrc(out));
    return out;
}
