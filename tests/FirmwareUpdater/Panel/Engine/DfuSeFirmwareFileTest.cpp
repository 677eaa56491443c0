// The DfuSe reader on files written into a temporary folder of each test: which headers it
// accepts, how it cuts the element into blocks, the command payloads, and the images that the
// firmware-image tool makes.

#include "FirmwareUpdater/Panel/Engine/DfuSeFileLayout.h"
#include "FirmwareUpdater/Panel/Engine/DfuSeFirmwareFile.h"
#include "FirmwareUpdater/Panel/Engine/ProductDevice.h"
#include "tests/Support/Printers.h"
#include "tools/DfuSeImage.h"
#include "tools/SimulationImagePlan.h"
#include "tests/ZTFramework/Utilities/Storage/TempFolder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

namespace {

using ZT::Testing::UsbId;

namespace fs = std::filesystem;
namespace Layout = DfuSeFileLayout;
using Bytes = std::vector<std::uint8_t>;

constexpr std::uint16_t kBlockSize = 2048;
constexpr std::uint8_t kUntouched = 0xEE;

Bytes Payload(std::size_t size)
{
    Bytes bytes(size);
    for (std::size_t i = 0; i < size; ++i)
        bytes[i] = static_cast<std::uint8_t>((i * 131 + i / 256) & 0xFF);
    return bytes;
}

DfuSeImage Image(std::size_t elementSize, std::uint32_t address = 0x08008000)
{
    DfuSeImage image;
    image.ElementAddress = address;
    image.ElementData = Payload(elementSize);
    image.TargetName = "test target";
    return image;
}

void Store32(Bytes& bytes, std::size_t offset, std::uint32_t value)
{
    for (int i = 0; i < 4; ++i)
        bytes[offset + i] = static_cast<std::uint8_t>(value >> (8 * i));
}

class DfuSeFileTest : public ::testing::Test {
protected:
    ZT::WString Write(const Bytes& bytes, const std::string& name = "image.dfu") const
    {
        return ZT::WString(mTemp.Write(name, bytes).string().c_str());
    }

    ZT::Testing::TempFolder mTemp{"dfuse"};
    const fs::path& mFolder = mTemp.Path();
    ZT::RCPtr<LDfuSeFirmwareFile> mReader = LDfuSeFirmwareFile::Create(); // closed before its folder goes
};

// Every operation but Open refuses and leaves the caller's buffer and length as they were.
void ExpectEverythingRefused(LDfuSeFirmwareFile& reader)
{
    EXPECT_FALSE(reader.IsValid());
    std::array<std::uint8_t, kBlockSize> buffer;
    buffer.fill(kUntouched);
    std::uint16_t length = kBlockSize;
    EXPECT_RESULT_EQ(reader.ReadBlock(0, buffer.data(), length), ZT::E_INVALIDARG);
    EXPECT_RESULT_EQ(reader.GetSetAddressCommand(0, buffer.data(), length), ZT::E_INVALIDARG);
    EXPECT_RESULT_EQ(reader.GetEraseCommand(0x08008000, buffer.data(), length), ZT::E_INVALIDARG);
    EXPECT_EQ(length, kBlockSize);
    EXPECT_TRUE(std::all_of(buffer.begin(), buffer.end(), [](std::uint8_t b) { return b == kUntouched; }));
}

// ---- Files that are refused ---------------------------------------------------------------

TEST_F(DfuSeFileTest, RefusesAFileThatBreaksOneRule)
{
    struct Row {
        const char* name;
        std::function<void(Bytes&)> breakFile;
    };
    const Row rows[] = {
        // All five signature bytes are compared, the last as well as the first.
        {"SignatureFirstByte", [](Bytes& b) { b[0] = 'd'; }},
        {"SignatureLastByte", [](Bytes& b) { b[4] = 'E'; }},
        {"FormatVersion0", [](Bytes& b) { b[5] = 0; }},
        {"FormatVersion2", [](Bytes& b) { b[5] = 2; }},
        {"NoTarget", [](Bytes& b) { b[10] = 0; }},
        {"TwoTargets", [](Bytes& b) { b[10] = 2; }},
        // Without the suffix, the file is then one byte short of its element.
        {"TruncatedByOneByte", [](Bytes& b) { b.resize(Layout::kElementDataOffset + 5000 - 1); }},
        {"ElementSizeOneMoreThanTheFile",
         [](Bytes& b) { Store32(b, Layout::kElementSizeOffset, static_cast<std::uint32_t>(b.size() - 292)); }},
        // An element size near 4 GiB in a small file: the length it requires must not wrap round.
        {"ElementSizeNear4GiB", [](Bytes& b) { Store32(b, Layout::kElementSizeOffset, 0xFFFFFF00u); }},
        {"OnlyThePrefix", [](Bytes& b) { b.resize(Layout::kPrefixSize); }},
        {"CutInsideTheElementHeader", [](Bytes& b) { b.resize(Layout::kElementSizeOffset + 2); }},
        {"Empty", [](Bytes& b) { b.clear(); }},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        // Each row breaks one thing in a file the reader accepts, and opens it after that good
        // one: a rejected file leaves nothing of the previous one usable.
        Bytes bytes = Image(5000).ToBytes();
        ASSERT_RESULT_EQ(mReader->Open(Write(bytes, "good.dfu"), kBlockSize), ZT::S_OK);
        row.breakFile(bytes);
        EXPECT_RESULT_EQ(mReader->Open(Write(bytes), kBlockSize), ZT::E_FAIL);
        ExpectEverythingRefused(*mReader);
    }
}

TEST_F(DfuSeFileTest, NothingWorksBeforeOpenNorAfterOpeningNoFileOrWithBlockSizeZero)
{
    ExpectEverythingRefused(*mReader);
    for (const ZT::WString& path : {ZT::WString((mFolder / "missing.dfu").string().c_str()),
                                    ZT::WString(mFolder.string().c_str()), ZT::WString()}) {
        EXPECT_RESULT_EQ(mReader->Open(path, kBlockSize), ZT::E_FAIL) << path.ToUTF8();
        ExpectEverythingRefused(*mReader);
    }
    EXPECT_RESULT_EQ(mReader->Open(Write(Image(100).ToBytes()), 0), ZT::E_INVALIDARG);
    ExpectEverythingRefused(*mReader);
}

// ---- Files that are accepted --------------------------------------------------------------

TEST_F(DfuSeFileTest, AcceptsAndServesTheElementInBlocks)
{
    struct Row {
        const char* name;
        std::size_t elementSize;
        std::uint16_t blockCount;
        std::function<void(Bytes&)> change;
    };
    const Row rows[] = {
        // How the element's size cuts it into blocks, block by block: DfuSeBlockNumbering.
        {"WellFormed", 5000, 3, nullptr},
        // An empty element in a file of exactly 293 bytes: accepted, with no block at all.
        {"EmptyElementWithoutSuffix", 0, 0, [](Bytes& b) { b.resize(Layout::kElementDataOffset); }},
        // The target prefix is never read: anything may stand there.
        {"GarbageInTheTargetPrefix", 5000, 3,
         [](Bytes& b) {
             for (std::size_t i = Layout::kTargetPrefixOffset; i < Layout::kElementAddressOffset; ++i)
                 b[i] = static_cast<std::uint8_t>(i * 37);
         }},
        {"NoSuffix", 5000, 3, [](Bytes& b) { b.resize(b.size() - Layout::kSuffixSize); }},
        {"WrongSuffixCrc", 5000, 3, [](Bytes& b) { b.back() ^= 0xFF; }},
        // The prefix's image size is read but not checked.
        {"WrongImageSize", 5000, 3, [](Bytes& b) { Store32(b, 6, 12345); }},
        // Further data after the element is ignored.
        {"TrailingData", 5000, 3, [](Bytes& b) { b.insert(b.end(), 4096, 0x5A); }},
    };
    // One reader for all rows: each file replaces the previous one's element and address.
    std::uint32_t address = 0x08008000;
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        address += 0x4000;
        const DfuSeImage image = Image(row.elementSize, address);
        Bytes bytes = image.ToBytes();
        if (row.change)
            row.change(bytes);

        ASSERT_RESULT_EQ(mReader->Open(Write(bytes), kBlockSize), ZT::S_OK);
        EXPECT_TRUE(mReader->IsValid());
        EXPECT_EQ(mReader->GetElementAddress(), address);
        EXPECT_EQ(mReader->GetElementSize(), row.elementSize);
        ASSERT_EQ(mReader->GetBlockCount(), row.blockCount);
        // Every block, each checked against the element's bytes in the image.
        std::size_t offset = 0;
        for (std::uint16_t i = 0; i < row.blockCount; ++i) {
            std::array<std::uint8_t, kBlockSize> buffer{};
            std::uint16_t length = kBlockSize;
            ASSERT_RESULT_EQ(mReader->ReadBlock(i, buffer.data(), length), ZT::S_OK) << "block " << i;
            ASSERT_LE(offset + length, image.ElementData.size()) << "block " << i;
            EXPECT_TRUE(std::equal(buffer.begin(), buffer.begin() + length, image.ElementData.begin() + offset)) << i;
            offset += length;
        }
        EXPECT_EQ(offset, image.ElementData.size());
    }
}

TEST_F(DfuSeFileTest, AnElementOf65535BlocksIsServedAndOneMoreIsRefused)
{
    // With one-byte blocks the 16-bit block index runs out at 65535.
    Bytes fits = Image(65535).ToBytes();
    ASSERT_RESULT_EQ(mReader->Open(Write(fits, "fits.dfu"), 1), ZT::S_OK);
    EXPECT_EQ(mReader->GetBlockCount(), 65535);
    std::uint8_t buffer[8] = {};
    std::uint16_t length = sizeof buffer;
    ASSERT_RESULT_EQ(mReader->ReadBlock(65534, buffer, length), ZT::S_OK);
    EXPECT_EQ(length, 1);
    EXPECT_EQ(buffer[0], Payload(65535)[65534]);

    Bytes tooLong = Image(65536).ToBytes();
    EXPECT_RESULT_EQ(mReader->Open(Write(tooLong, "toolong.dfu"), 1), ZT::E_FAIL);
    ExpectEverythingRefused(*mReader);
}

TEST_F(DfuSeFileTest, AFileThatShrinksAfterOpenGivesAShortRead)
{
    const DfuSeImage image = Image(5000);
    const ZT::WString path = Write(image.ToBytes());
    ASSERT_RESULT_EQ(mReader->Open(path, kBlockSize), ZT::S_OK);
    // Cut the file inside the last block (which starts at element offset 4096).
    fs::resize_file(mFolder / "image.dfu", Layout::kElementDataOffset + 4096 + 100);

    std::array<std::uint8_t, kBlockSize> buffer{};
    std::uint16_t length = kBlockSize;
    EXPECT_RESULT_EQ(mReader->ReadBlock(2, buffer.data(), length), ZT::E_FAIL);
    EXPECT_EQ(length, 100);
    // Blocks still wholly inside the file are served.
    length = kBlockSize;
    EXPECT_RESULT_EQ(mReader->ReadBlock(1, buffer.data(), length), ZT::S_OK);
    EXPECT_EQ(length, kBlockSize);
}

// ---- Command payloads and refusals --------------------------------------------------------

// The payloads of every block and erased sector show in the download's traffic (DfuSeDownload,
// DfuSeEraseList); here, that a payload takes five bytes of the caller's buffer and no more.
TEST_F(DfuSeFileTest, CommandPayloadsTakeFiveBytes)
{
    ASSERT_RESULT_EQ(mReader->Open(Write(Image(4 * 2048 + 100, 0x08008000).ToBytes()), kBlockSize), ZT::S_OK);
    std::array<std::uint8_t, 8> buffer;
    buffer.fill(kUntouched);
    std::uint16_t length = buffer.size();
    ASSERT_RESULT_EQ(mReader->GetSetAddressCommand(4, buffer.data(), length), ZT::S_OK);
    EXPECT_EQ(length, 5);
    EXPECT_EQ(Bytes(buffer.begin(), buffer.end()), (Bytes{0x21, 0x00, 0xA0, 0x00, 0x08, kUntouched, kUntouched, kUntouched}));
    buffer.fill(kUntouched);
    length = buffer.size();
    ASSERT_RESULT_EQ(mReader->GetEraseCommand(0x08060000, buffer.data(), length), ZT::S_OK);
    EXPECT_EQ(length, 5);
    EXPECT_EQ(Bytes(buffer.begin(), buffer.end()), (Bytes{0x41, 0x00, 0x00, 0x06, 0x08, kUntouched, kUntouched, kUntouched}));
}

TEST_F(DfuSeFileTest, SetAddressWrapsAt32BitsWithLargeBlocks)
{
    // 65535 blocks of 65535 bytes: block size × index must not overflow a signed int, and the
    // sum with the element address wraps at 32 bits as the device's address pointer does. The
    // element is a sparse file, so this takes no real disk space.
    Bytes header = Image(0, 0x00030000).ToBytes();
    header.resize(Layout::kElementDataOffset);
    const std::uint32_t elementSize = 65535u * 65535u;
    Store32(header, Layout::kElementSizeOffset, elementSize);
    const ZT::WString path = Write(header);
    fs::resize_file(mFolder / "image.dfu", Layout::kElementDataOffset + static_cast<std::uint64_t>(elementSize));

    ASSERT_RESULT_EQ(mReader->Open(path, 65535), ZT::S_OK);
    ASSERT_EQ(mReader->GetBlockCount(), 65535);
    std::uint8_t buffer[5] = {};
    std::uint16_t length = 5;
    ASSERT_RESULT_EQ(mReader->GetSetAddressCommand(65534, buffer, length), ZT::S_OK);
    // 65535 × 65534 = 0xFFFD0002; plus 0x30000 is 0x1'0000'0002.
    EXPECT_EQ(Bytes(buffer, buffer + 5), (Bytes{0x21, 0x02, 0x00, 0x00, 0x00}));
}

TEST_F(DfuSeFileTest, RefusedArgumentsLeaveTheBufferUntouched)
{
    // Three blocks: 2048, 2048, 904 bytes.
    ASSERT_RESULT_EQ(mReader->Open(Write(Image(5000).ToBytes()), kBlockSize), ZT::S_OK);
    struct Row {
        const char* name;
        std::uint16_t block;
        std::uint16_t capacity;
    };
    const Row rows[] = {{"IndexEqualToTheBlockCount", 3, kBlockSize}, {"IndexFarPastTheEnd", 0xFFFF, kBlockSize},
                        {"CapacityOfFour", 0, 4}, {"CapacityOfZero", 2, 0},
                        // A buffer smaller than the block would be overrun.
                        {"CapacityBelowAFullBlock", 0, 2047}, {"CapacityBelowTheLastBlock", 2, 903}};
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        std::array<std::uint8_t, kBlockSize> buffer;
        buffer.fill(kUntouched);
        const auto untouched = [&] {
            return std::all_of(buffer.begin(), buffer.end(), [](std::uint8_t b) { return b == kUntouched; });
        };
        std::uint16_t length = row.capacity;
        EXPECT_RESULT_EQ(mReader->ReadBlock(row.block, buffer.data(), length), ZT::E_INVALIDARG);
        EXPECT_EQ(length, row.capacity);
        EXPECT_TRUE(untouched());

        // The payloads refuse the same index and capacity, except that a capacity of five is
        // always enough for them.
        if (row.capacity < 5 || row.block >= 3) {
            EXPECT_RESULT_EQ(mReader->GetSetAddressCommand(row.block, buffer.data(), length), ZT::E_INVALIDARG);
            EXPECT_EQ(length, row.capacity);
            EXPECT_TRUE(untouched());
        }
        if (row.capacity < 5) {
            EXPECT_RESULT_EQ(mReader->GetEraseCommand(0x08008000, buffer.data(), length), ZT::E_INVALIDARG);
            EXPECT_EQ(length, row.capacity);
            EXPECT_TRUE(untouched());
        }
    }
}

// ---- The simulation mark ------------------------------------------------------------------

TEST_F(DfuSeFileTest, TheSimulationMarkIsReadFromTheTargetName)
{
    DfuSeImage image = Image(3000);
    image.TargetName = std::string("Halvard XR4000 NOVA - ") + Layout::kSimulationMark;
    const ZT::WString marked = Write(image.ToBytes(), "marked.dfu");
    EXPECT_TRUE(LDfuSeFirmwareFile::IsSimulationImage(marked));
    ASSERT_RESULT_EQ(mReader->Open(marked, kBlockSize), ZT::S_OK);
    EXPECT_TRUE(mReader->IsSimulationImage());

    image.TargetName = "ST...";
    const ZT::WString plain = Write(image.ToBytes(), "plain.dfu");
    EXPECT_FALSE(LDfuSeFirmwareFile::IsSimulationImage(plain));
    ASSERT_RESULT_EQ(mReader->Open(plain, kBlockSize), ZT::S_OK);
    EXPECT_FALSE(mReader->IsSimulationImage());

    // The mark counts only inside a name that is flagged as used and only before its end.
    image.TargetName = Layout::kSimulationMark;
    Bytes unnamed = image.ToBytes();
    Store32(unnamed, Layout::kTargetNamedOffset, 0);
    EXPECT_FALSE(LDfuSeFirmwareFile::IsSimulationImage(Write(unnamed, "unnamed.dfu")));
    image.TargetName = std::string("x") + '\0' + Layout::kSimulationMark;
    EXPECT_FALSE(LDfuSeFirmwareFile::IsSimulationImage(Write(image.ToBytes(), "hidden.dfu")));

    // A mark in a file that is no DfuSe file does not count, nor does a missing file.
    image.TargetName = Layout::kSimulationMark;
    Bytes notDfuSe = image.ToBytes();
    notDfuSe[0] = 'X';
    EXPECT_FALSE(LDfuSeFirmwareFile::IsSimulationImage(Write(notDfuSe, "notdfuse.dfu")));
    EXPECT_FALSE(LDfuSeFirmwareFile::IsSimulationImage(ZT::WString((mFolder / "missing.dfu").string().c_str())));

    // A reader that is not valid reports no mark.
    EXPECT_RESULT_EQ(mReader->Open(Write(notDfuSe, "notdfuse.dfu"), kBlockSize), ZT::E_FAIL);
    EXPECT_FALSE(mReader->IsSimulationImage());
}

// ---- Images made by the firmware-image tool -----------------------------------------------

// The element of each tool image, its address, version record and simulation mark are proven by
// the downloads (DfuSeDownload, TwoDeviceUpdate) and SimulationImageRefusal; the suffix, which
// the reader passes over, only here.
TEST(ToolImage, TheSuffixNamesTheDeviceAndItsCrcCoversTheRest)
{
    for (const ProductDevice::Kind kind : {ProductDevice::Kind::Controller, ProductDevice::Kind::WheelDisplay}) {
        SCOPED_TRACE(ToString(kind));
        const ProductDevice& device = ProductDevice::Get(kind);
        const Bytes bytes = SimulationImagePlan::ForDevice(device).Build().ToBytes();
        ASSERT_GE(bytes.size(), Layout::kSuffixSize);
        const std::uint8_t* suffix = bytes.data() + bytes.size() - Layout::kSuffixSize;
        EXPECT_EQ(suffix[0] | (suffix[1] << 8), device.FirmwareRelease);
        EXPECT_EQ(UsbId(suffix[2] | (suffix[3] << 8)), UsbId(device.ProductId));
        EXPECT_EQ(UsbId(suffix[4] | (suffix[5] << 8)), UsbId(device.VendorId));
        EXPECT_EQ(suffix[6] | (suffix[7] << 8), 0x011A);
        EXPECT_EQ(std::string(reinterpret_cast<const char*>(suffix + 8), 3), "UFD");
        EXPECT_EQ(suffix[11], 16);
        const std::uint32_t storedCrc = static_cast<std::uint32_t>(suffix[12]) | (suffix[13] << 8) |
                                        (suffix[14] << 16) | (static_cast<std::uint32_t>(suffix[15]) << 24);
        EXPECT_EQ(storedCrc, DfuSeImage::SuffixCrc({bytes.data(), bytes.size() - 4}));
    }
}

TEST(DfuSuffixCrc, MatchesTheDfuFileConvention)
{
    // The standard CRC-32 check value of "123456789" is 0xCBF43926; a DFU suffix stores it
    // without the final inversion.
    const std::string text = "123456789";
    const auto crc = DfuSeImage::SuffixCrc({reinterpret_cast<const std::uint8_t*>(text.data()), text.size()});
    EXPECT_EQ(crc, ~0xCBF43926u);
}

} // namespace
