#include "FirmwareUpdater/Panel/Engine/DfuSeFirmwareFile.h"

#include "FirmwareUpdater/Panel/Engine/DfuSeFileLayout.h"
#include "ZTFramework/Usb/Dfu.h"

#include <algorithm>
#include <cstring>
#include <string_view>

namespace Layout = DfuSeFileLayout;

namespace {

std::uint32_t LoadLittleEndian32(const std::uint8_t* bytes) noexcept
{
    return static_cast<std::uint32_t>(bytes[0]) | (static_cast<std::uint32_t>(bytes[1]) << 8) |
           (static_cast<std::uint32_t>(bytes[2]) << 16) | (static_cast<std::uint32_t>(bytes[3]) << 24);
}

void StoreCommand(std::uint8_t command, std::uint32_t address, std::uint8_t* buffer) noexcept
{
    buffer[0] = command;
    buffer[1] = static_cast<std::uint8_t>(address);
    buffer[2] = static_cast<std::uint8_t>(address >> 8);
    buffer[3] = static_cast<std::uint8_t>(address >> 16);
    buffer[4] = static_cast<std::uint8_t>(address >> 24);
}

} // namespace

ZT::RCPtr<LDfuSeFirmwareFile> LDfuSeFirmwareFile::Create()
{
    return ZT::RCPtr<LDfuSeFirmwareFile>(new LDfuSeFirmwareFile());
}

void LDfuSeFirmwareFile::Reset()
{
    mValid = false;
    mFile.Close();
    mBytes.clear();
    mInMemory = false;
    mBlockSize = 0;
    mBlockCount = 0;
    mElementAddress = 0;
    mElementSize = 0;
}

ZT::ZTRESULT LDfuSeFirmwareFile::Open(const ZT::WString& path, std::uint16_t blockSize)
{
    Reset();
    if (blockSize == 0)
        return ZT::E_INVALIDARG;
    if (ZT::Failed(mFile.Open(path, ZT::File::OpenMode::ReadBinaryShared)))
        return ZT::E_FAIL;
    return FinishOpen(blockSize);
}

ZT::ZTRESULT LDfuSeFirmwareFile::OpenBytes(std::vector<std::uint8_t> bytes, std::uint16_t blockSize)
{
    Reset();
    if (blockSize == 0)
        return ZT::E_INVALIDARG;
    mBytes = std::move(bytes);
    mInMemory = true;
    return FinishOpen(blockSize);
}

ZT::ZTRESULT LDfuSeFirmwareFile::ReadWholeFile(const ZT::WString& path, std::vector<std::uint8_t>& bytes)
{
    bytes.clear();
    ZT::File file;
    if (ZT::Failed(file.Open(path, ZT::File::OpenMode::ReadBinaryShared)))
        return ZT::E_FAIL;
    const std::uint64_t length = file.GetLength();
    if (length > kMaxFileBytes)
        return ZT::E_FAIL;
    bytes.resize(static_cast<std::size_t>(length));
    const std::size_t got = length == 0 ? 0 : file.Read(bytes.data(), bytes.size());
    if (got != bytes.size()) { // the file shrank while it was read
        bytes.clear();
        return ZT::E_FAIL;
    }
    return ZT::S_OK;
}

std::size_t LDfuSeFirmwareFile::ReadAt(std::uint64_t offset, std::uint8_t* buffer, std::size_t count)
{
    if (!mInMemory) {
        mFile.Seek(offset);
        return mFile.Read(buffer, count);
    }
    if (offset >= mBytes.size())
        return 0;
    const std::size_t available = std::min<std::size_t>(count, mBytes.size() - static_cast<std::size_t>(offset));
    std::memcpy(buffer, mBytes.data() + offset, available);
    return available;
}

std::uint64_t LDfuSeFirmwareFile::Length() const
{
    return mInMemory ? mBytes.size() : mFile.GetLength();
}

ZT::ZTRESULT LDfuSeFirmwareFile::FinishOpen(std::uint16_t blockSize)
{
    if (!ReadHeader()) {
        Reset();
        return ZT::E_FAIL;
    }

    const std::uint32_t blockCount = mElementSize / blockSize + (mElementSize % blockSize != 0 ? 1u : 0u);
    // Block indexes are 16 bits wide all the way to the device's block numbers. A count that does
    // not fit would serve only the start of the element and report the download complete; no
    // flash of this product comes near 65535 blocks, so such a file is refused instead.
    if (blockCount > 0xFFFFu) {
        Reset();
        return ZT::E_FAIL;
    }
    mBlockSize = blockSize;
    mBlockCount = static_cast<std::uint16_t>(blockCount);
    mValid = true;
    return ZT::S_OK;
}

bool LDfuSeFirmwareFile::ReadHeader()
{
    std::memset(mSignature, 0, sizeof mSignature);
    mFormatVersion = 0;
    mImageSize = 0;
    mTargetCount = 0;

    // A file shorter than the prefix leaves the unread fields zero, which the checks refuse.
    std::uint8_t prefix[Layout::kPrefixSize] = {};
    (void)ReadAt(0, prefix, sizeof prefix); // a short read leaves zeros, refused below
    std::memcpy(mSignature, prefix, sizeof mSignature);
    mFormatVersion = prefix[5];
    mImageSize = LoadLittleEndian32(prefix + 6);
    mTargetCount = prefix[10];

    if (std::memcmp(mSignature, Layout::kSignature, sizeof mSignature) != 0)
        return false;
    if (mFormatVersion != Layout::kFormatVersion)
        return false;
    if (mTargetCount != 1)
        return false;

    std::uint8_t elementHeader[Layout::kElementHeaderSize] = {};
    // A short file fails the length check below.
    (void)ReadAt(Layout::kElementAddressOffset, elementHeader, sizeof elementHeader);
    mElementAddress = LoadLittleEndian32(elementHeader);
    mElementSize = LoadLittleEndian32(elementHeader + 4);

    // In 64 bits, so that an element size near 4 GiB cannot wrap round to a small requirement.
    return Length() >= static_cast<std::uint64_t>(mElementSize) + Layout::kElementDataOffset;
}

std::uint16_t LDfuSeFirmwareFile::GetBlockLength(std::uint16_t blockIndex) const noexcept
{
    if (blockIndex + 1u != mBlockCount)
        return mBlockSize;
    const std::uint32_t remainder = mElementSize % mBlockSize;
    return remainder == 0 ? mBlockSize : static_cast<std::uint16_t>(remainder);
}

ZT::ZTRESULT LDfuSeFirmwareFile::GetSetAddressCommand(std::uint16_t blockIndex, std::uint8_t* buffer,
                                                      std::uint16_t& length) const
{
    if (!mValid || buffer == nullptr || length < kCommandLength || blockIndex >= mBlockCount)
        return ZT::E_INVALIDARG;
    // The device's address pointer is 32 bits; the sum wraps as it does there.
    const std::uint32_t address = static_cast<std::uint32_t>(mBlockSize) * blockIndex + mElementAddress;
    StoreCommand(ZT::kDfuSeCommandSetAddress, address, buffer);
    length = kCommandLength;
    return ZT::S_OK;
}

ZT::ZTRESULT LDfuSeFirmwareFile::GetEraseCommand(std::uint32_t address, std::uint8_t* buffer,
                                                 std::uint16_t& length) const
{
    if (!mValid || buffer == nullptr || length < kCommandLength)
        return ZT::E_INVALIDARG;
    StoreCommand(ZT::kDfuSeCommandErase, address, buffer);
    length = kCommandLength;
    return ZT::S_OK;
}

ZT::ZTRESULT LDfuSeFirmwareFile::ReadBlock(std::uint16_t blockIndex, std::uint8_t* buffer, std::uint16_t& length)
{
    if (!mValid || buffer == nullptr || length < kCommandLength || blockIndex >= mBlockCount)
        return ZT::E_INVALIDARG;
    const std::uint16_t blockLength = GetBlockLength(blockIndex);
    // The engine always passes a buffer of one whole block; anything smaller would be overrun.
    if (length < blockLength)
        return ZT::E_INVALIDARG;

    const std::size_t got =
        ReadAt(Layout::kElementDataOffset + static_cast<std::uint64_t>(mBlockSize) * blockIndex, buffer, blockLength);
    length = static_cast<std::uint16_t>(got);
    return got == blockLength ? ZT::S_OK : ZT::E_FAIL;
}

bool LDfuSeFirmwareFile::ReadSimulationMark(ZT::File& file)
{
    std::uint8_t header[Layout::kElementAddressOffset] = {};
    file.Seek(0);
    if (file.Read(header, sizeof header) != sizeof header)
        return false;
    return HasSimulationMark(header);
}

bool LDfuSeFirmwareFile::HasSimulationMark(const std::uint8_t* header)
{
    if (std::memcmp(header, Layout::kSignature, sizeof Layout::kSignature) != 0)
        return false;
    if (std::memcmp(header + Layout::kTargetPrefixOffset, Layout::kTargetSignature, sizeof Layout::kTargetSignature) != 0)
        return false;
    if (LoadLittleEndian32(header + Layout::kTargetNamedOffset) == 0)
        return false;

    // The name ends at its first 0 or at the end of its field, whichever comes first.
    const char* name = reinterpret_cast<const char*>(header + Layout::kTargetNameOffset);
    const std::string_view field(name, Layout::kTargetNameSize);
    const std::string_view targetName = field.substr(0, std::min(field.find('\0'), field.size()));
    return targetName.find(Layout::kSimulationMark) != std::string_view::npos;
}

bool LDfuSeFirmwareFile::IsSimulationImage(const ZT::WString& path)
{
    ZT::File file;
    if (ZT::Failed(file.Open(path, ZT::File::OpenMode::ReadBinaryShared)))
        return false;
    return ReadSimulationMark(file);
}

bool LDfuSeFirmwareFile::IsSimulationImage()
{
    if (!mValid)
        return false;
    if (!mInMemory)
        return ReadSimulationMark(mFile);
    std::uint8_t header[Layout::kElementAddressOffset] = {};
    return ReadAt(0, header, sizeof header) == sizeof header && HasSimulationMark(header);
}

ZT::WString LDfuSeFirmwareFile::ToString() const
{
    ZT::WString text;
    if (!mValid) {
        text = L"LDfuSeFirmwareFile not valid";
        return text;
    }
    // Debug text: a failed format leaves it empty.
    (void)text.Format(L"LDfuSeFirmwareFile valid, element 0x%08X + %u bytes, %u blocks of %u", mElementAddress,
                      mElementSize, static_cast<unsigned>(mBlockCount), static_cast<unsigned>(mBlockSize));
    return text;
}
