#pragma once
// Reads the firmware image of one DfuSe file for a download.
//
// Open checks the file's prefix (signature "DfuSe", format version 1, exactly one target), takes
// the first image element of that target (its flash address and length) and then serves the
// element as blocks of the block size given to Open; it also builds the two five-byte DfuSe
// commands the download sends inside DFU download requests: set address pointer and erase
// (ZT::kDfuSeCommandSetAddress, ZT::kDfuSeCommandErase). The target prefix, further elements and
// the DFU suffix with its CRC are neither read nor checked: a file that lacks the suffix is
// accepted. See DfuSeFileLayout.h for the layout.
//
// Results: S_OK; E_FAIL for a file that cannot be opened or is rejected, and for a short block
// read; E_INVALIDARG for a call before a successful Open, an index past the last block or a
// buffer that is too small. A refused call writes nothing into the caller's buffer or length.
// An operating-system read error is thrown by ZT::File as a runtime error and ends the caller's
// update run.
//
// Made, used and released by the engine's worker thread within one update run; not guarded.

#include "ZTFramework/ObjectBase/RCPtr.h"
#include "ZTFramework/ObjectBase/RefCountedObject.h"
#include "ZTFramework/Utilities/Storage/StringT.h"
#include "ZTFramework/Utilities/Storage/ZTFile.h"

#include <cstdint>
#include <vector>

class LDfuSeFirmwareFile : public virtual ZT::LRefCountedObject {
public:
    // Each command payload is this long.
    static constexpr std::uint16_t kCommandLength = 5;

    // A new reader, not valid, with no file open.
    [[nodiscard]] static ZT::RCPtr<LDfuSeFirmwareFile> Create();

    // Files larger than this are no image of this product's flash (1 MiB) and are not read whole.
    static constexpr std::uint64_t kMaxFileBytes = 16 * 1024 * 1024;

    // Closes whatever was open, opens path and checks its header:
    //   - the 5 signature bytes are "DfuSe", the format version is 1, the target count is 1;
    //   - the file holds at least the element: length >= element size + 293.
    // On success keeps the file open, stores the block size and the block count and returns S_OK.
    // Returns E_FAIL, with the file closed and the reader not valid, when the path cannot be
    // opened or the header is rejected; also when the element needs more blocks than a 16-bit
    // block index reaches. A block size of 0 gives E_INVALIDARG.
    [[nodiscard]] ZT::ZTRESULT Open(const ZT::WString& path, std::uint16_t blockSize);
    // The same for a whole file already read into memory (ReadWholeFile): every block then comes
    // from these bytes, whatever happens to the file on disk meanwhile.
    [[nodiscard]] ZT::ZTRESULT OpenBytes(std::vector<std::uint8_t> bytes, std::uint16_t blockSize);
    // Reads the whole file at path into bytes. E_FAIL, bytes empty, when it cannot be opened, is
    // larger than kMaxFileBytes or shrinks while it is read; a read error is thrown as Open's are.
    [[nodiscard]] static ZT::ZTRESULT ReadWholeFile(const ZT::WString& path, std::vector<std::uint8_t>& bytes);

    // The set-address command for block blockIndex: 0x21, then element address + block size ×
    // blockIndex as 32-bit little-endian. length: in the buffer's capacity, out 5. E_INVALIDARG
    // when not valid, for a capacity below 5, or when blockIndex is not below the block count.
    [[nodiscard]] ZT::ZTRESULT GetSetAddressCommand(std::uint16_t blockIndex, std::uint8_t* buffer,
                                                    std::uint16_t& length) const;
    // The erase command for the sector at address: 0x41, then the address, 32-bit little-endian.
    // The address is not compared with the element. length as above; E_INVALIDARG when not valid
    // or for a capacity below 5.
    [[nodiscard]] ZT::ZTRESULT GetEraseCommand(std::uint32_t address, std::uint8_t* buffer,
                                               std::uint16_t& length) const;
    // Reads block blockIndex of the element into buffer. Every block is block-size long except
    // the last, which holds what remains. length: in the buffer's capacity, out the block's
    // length (on a short read, the bytes that arrived). E_INVALIDARG when not valid, for a
    // capacity below 5 or below the block's length, or when blockIndex is not below the block
    // count; E_FAIL when the file ends before the block does.
    [[nodiscard]] ZT::ZTRESULT ReadBlock(std::uint16_t blockIndex, std::uint8_t* buffer, std::uint16_t& length);

    [[nodiscard]] bool IsValid() const noexcept { return mValid; }
    // The element's flash address, its length in bytes, and how many blocks it takes. Zero until
    // a header has been read.
    [[nodiscard]] std::uint32_t GetElementAddress() const noexcept { return mElementAddress; }
    [[nodiscard]] std::uint32_t GetElementSize() const noexcept { return mElementSize; }
    [[nodiscard]] std::uint16_t GetBlockCount() const noexcept { return mBlockCount; }
    [[nodiscard]] std::uint16_t GetBlockSize() const noexcept { return mBlockSize; }
    // The image size of the file's prefix as read; never checked.
    [[nodiscard]] std::uint32_t GetImageSize() const noexcept { return mImageSize; }

    // Whether the file at path is an image for simulated devices only: a DfuSe file whose first
    // target is named and carries DfuSeFileLayout::kSimulationMark in its name. This is a read of
    // its own: Open never looks at the target prefix. False for a file that cannot be opened or
    // is too short; an operating-system read error is thrown as Open's reads are.
    [[nodiscard]] static bool IsSimulationImage(const ZT::WString& path);
    // The same for the file this reader has open; false while it is not valid.
    [[nodiscard]] bool IsSimulationImage();

    // "LDfuSeFirmwareFile valid, element 0x08000000 + 204800 bytes, 100 blocks of 2048" or
    // "LDfuSeFirmwareFile not valid".
    ZT::WString ToString() const override;

private:
    LDfuSeFirmwareFile() = default;

    void Reset();
    [[nodiscard]] ZT::ZTRESULT FinishOpen(std::uint16_t blockSize);
    [[nodiscard]] std::size_t ReadAt(std::uint64_t offset, std::uint8_t* buffer, std::size_t count);
    [[nodiscard]] std::uint64_t Length() const;
    [[nodiscard]] bool ReadHeader();
    [[nodiscard]] std::uint16_t GetBlockLength(std::uint16_t blockIndex) const noexcept;
    [[nodiscard]] static bool ReadSimulationMark(ZT::File& file);
    // header: the file's first kElementAddressOffset bytes.
    [[nodiscard]] static bool HasSimulationMark(const std::uint8_t* header);

    ZT::File mFile;
    // The whole file, when opened with OpenBytes (mInMemory); mFile is then closed.
    std::vector<std::uint8_t> mBytes;
    bool mInMemory = false;
    std::uint16_t mBlockSize = 0;
    std::uint16_t mBlockCount = 0;
    // The file's prefix as read; zeroed before each read.
    std::uint8_t mSignature[5] = {};
    std::uint8_t mFormatVersion = 0;
    std::uint32_t mImageSize = 0;
    std::uint8_t mTargetCount = 0;
    std::uint32_t mElementAddress = 0;
    std::uint32_t mElementSize = 0;
    bool mValid = false;
};
