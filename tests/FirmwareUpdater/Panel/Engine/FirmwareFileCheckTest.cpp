// CFirmwareFileCheck on its own: where an element may lie for each erase list, which files are
// unreadable, and the DFU suffix's CRC, checked against the stock dfu-suffix tool as well. What
// the engine does with a refusal is in DfuSeDownloadTest.

#include "FirmwareUpdater/Panel/Engine/FirmwareFileCheck.h"

#include "FirmwareUpdater/Panel/Engine/DfuSeFileLayout.h"
#include "FirmwareUpdater/Panel/Engine/ProductDevice.h"
#include "tests/ZTFramework/Utilities/Storage/TempFolder.h"
#include "tools/DfuSeImage.h"
#include "tools/SimulationImagePlan.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <unistd.h>
#include <vector>

// Found by argument-dependent lookup: verdicts print by name in failure messages.
void PrintTo(CFirmwareFileCheck::Verdict verdict, std::ostream* out)
{
    *out << ToString(verdict);
}

namespace {

using Verdict = CFirmwareFileCheck::Verdict;

const std::vector<std::uint32_t> kController(std::begin(kControllerEraseSectors), std::end(kControllerEraseSectors));
const std::vector<std::uint32_t> kDisplay(std::begin(kWheelDisplayEraseSectors), std::end(kWheelDisplayEraseSectors));

DfuSeImage Image(std::uint32_t address, std::size_t size)
{
    DfuSeImage image;
    image.ElementAddress = address;
    image.ElementData.resize(size);
    for (std::size_t i = 0; i < size; ++i)
        image.ElementData[i] = static_cast<std::uint8_t>(i * 7 + 3);
    return image;
}

class FirmwareFileCheck : public ::testing::Test {
protected:
    CFirmwareFileCheck::Result CheckBytes(const std::vector<std::uint8_t>& bytes, const std::vector<std::uint32_t>& list)
    {
        const auto path = mTemp.Write("image.dfu", bytes);
        return CFirmwareFileCheck::Check(ZT::WString(path.string().c_str()), list);
    }

    ZT::Testing::TempFolder mTemp{"zt-file-check"};
};

struct PlacementCase {
    const char* name;
    const std::vector<std::uint32_t>* list;
    std::uint32_t address;
    std::size_t size;
    Verdict verdict;
    std::vector<std::string> reasonNames; // what the debug line must name, in hexadecimal
};
void PrintTo(const PlacementCase& c, std::ostream* out) { *out << c.name; }

class FirmwareFilePlacement : public FirmwareFileCheck, public ::testing::WithParamInterface<PlacementCase> {};

TEST_P(FirmwareFilePlacement, AcceptsOnlyElementsInsideTheSectorsTheDownloadErases)
{
    const PlacementCase& c = GetParam();
    const CFirmwareFileCheck::Result result = CheckBytes(Image(c.address, c.size).ToBytes(), *c.list);
    EXPECT_EQ(result.verdict, c.verdict) << result.reason;
    EXPECT_EQ(result.reason.empty(), c.verdict == Verdict::Usable) << result.reason;
    for (const std::string& name : c.reasonNames)
        EXPECT_NE(result.reason.find(name), std::string::npos) << "no " << name << " in: " << result.reason;
}

// The controller's list erases 0x08008000 .. 0x08020000, the wheel display's 0x08008000 ..
// 0x08080000; 0x08000000 .. 0x08008000 holds the bootloader.
const std::vector<std::uint32_t> kEmpty;
const std::vector<std::uint32_t> kWithGap{0x08008000, 0x08010000}; // 0x0800C000 is missing
const std::vector<std::uint32_t> kLastSectorOfFlash{0x080E0000};

INSTANTIATE_TEST_SUITE_P(
    EraseLists, FirmwareFilePlacement,
    ::testing::Values(
        PlacementCase{"ControllerUpToTheLastByteOfItsLastSector", &kController, 0x08008000, 0x18000, Verdict::Usable, {}},
        PlacementCase{"ControllerOneBytePastItsLastSector", &kController, 0x08008000, 0x18001,
                      Verdict::ElementPastErasedSectors, {"0x08020000", "0x08010000"}},
        PlacementCase{"ControllerFromItsSecondSector", &kController, 0x0800C000, 0x14000, Verdict::Usable, {}},
        PlacementCase{"ControllerEmptyElement", &kController, 0x08008000, 0, Verdict::Usable, {}},
        PlacementCase{"AtTheFlashStartInTheBootloader", &kController, 0x08000000, 0x100,
                      Verdict::ElementBelowErasedSectors, {"0x08000000", "0x08008000"}},
        PlacementCase{"EmptyElementInTheBootloader", &kController, 0x08004000, 0, Verdict::ElementBelowErasedSectors,
                      {"0x08004000"}},
        // The download would skip the sector at 0x08008000 and write into it unerased.
        PlacementCase{"InsideTheFirstListedSector", &kController, 0x0800A000, 0x100, Verdict::ElementNotAtSectorStart,
                      {"0x0800A000", "0x08008000"}},
        PlacementCase{"DisplayFromThe64KiBSectorToTheEnd", &kDisplay, 0x08010000, 0x70000, Verdict::Usable, {}},
        PlacementCase{"DisplayOneBytePastItsLastSector", &kDisplay, 0x08010000, 0x70001,
                      Verdict::ElementPastErasedSectors, {"0x08080000", "0x08060000"}},
        // Past the list's last sector, the controller's image reaches the wheel display's sectors.
        PlacementCase{"ControllerIntoA128KiBSectorItsListLacks", &kController, 0x08010000, 0x10001,
                      Verdict::ElementPastErasedSectors, {"0x08020000"}},
        PlacementCase{"ListWithAGap", &kWithGap, 0x08008000, 0x4001, Verdict::ElementPastErasedSectors,
                      {"0x0800C000"}},
        PlacementCase{"LastSectorOfTheFlash", &kLastSectorOfFlash, 0x080E0000, 0x20000, Verdict::Usable, {}},
        PlacementCase{"PastTheEndOfTheFlash", &kLastSectorOfFlash, 0x080E0000, 0x20001,
                      Verdict::ElementPastErasedSectors, {"0x08100000"}},
        PlacementCase{"NoEraseList", &kEmpty, 0x08008000, 0x100, Verdict::NoSectorToErase, {"0x08008000"}}),
    [](const ::testing::TestParamInfo<PlacementCase>& info) { return std::string(info.param.name); });

// The two images the build puts beside the program, against their own lists.
TEST_F(FirmwareFileCheck, TheProductImagesAreUsableForTheirOwnDevicesOnly)
{
    const auto controller = SimulationImagePlan::ForDevice(kControllerDevice).Build().ToBytes();
    const auto display = SimulationImagePlan::ForDevice(kWheelDisplayDevice).Build().ToBytes();
    EXPECT_EQ(CheckBytes(controller, kController).verdict, Verdict::Usable);
    const CFirmwareFileCheck::Result result = CheckBytes(display, kDisplay);
    EXPECT_EQ(result.verdict, Verdict::Usable) << result.reason;
}

TEST_F(FirmwareFileCheck, RefusesFilesThatDoNotHoldTheirWholeElement)
{
    const std::vector<std::uint8_t> whole = Image(0x08008000, 5000).ToBytes();
    const std::size_t elementEnd = DfuSeFileLayout::kElementDataOffset + 5000;

    std::vector<std::uint8_t> cut(whole.begin(), whole.begin() + static_cast<std::ptrdiff_t>(elementEnd - 1));
    CFirmwareFileCheck::Result result = CheckBytes(cut, kController);
    EXPECT_EQ(result.verdict, Verdict::ElementCutShort) << result.reason;
    EXPECT_NE(result.reason.find(std::to_string(elementEnd)), std::string::npos) << result.reason;

    // Without its suffix the element is still whole.
    cut.assign(whole.begin(), whole.begin() + static_cast<std::ptrdiff_t>(elementEnd));
    result = CheckBytes(cut, kController);
    EXPECT_EQ(result.verdict, Verdict::Usable) << result.reason;

    std::vector<std::uint8_t> notDfuSe = whole;
    notDfuSe[0] = 'X';
    EXPECT_EQ(CheckBytes(notDfuSe, kController).verdict, Verdict::NotADfuSeImage);
    EXPECT_EQ(CheckBytes({}, kController).verdict, Verdict::NotADfuSeImage);

    EXPECT_EQ(CFirmwareFileCheck::Check(ZT::WString(mTemp.File("missing.dfu").c_str()), kController).verdict,
              Verdict::CannotBeRead);
    EXPECT_EQ(CFirmwareFileCheck::Check(ZT::WString(mTemp.Path().string().c_str()), kController).verdict,
              Verdict::CannotBeRead);
    EXPECT_EQ(CFirmwareFileCheck::Check(ZT::WString(), kController).verdict, Verdict::CannotBeRead);
}

struct SuffixCase {
    const char* name;
    std::ptrdiff_t flippedFromEnd; // the byte counted from the file's end that is flipped; 0: none
    std::size_t cutFromEnd;        // bytes removed from the end
    Verdict verdict;
};
void PrintTo(const SuffixCase& c, std::ostream* out) { *out << c.name; }

class FirmwareFileSuffix : public FirmwareFileCheck, public ::testing::WithParamInterface<SuffixCase> {};

// Our tool's files carry a suffix that stock dfu-suffix accepts; the check must agree with it on
// the intact file and on every damaged one.
TEST_P(FirmwareFileSuffix, TheCrcDecidesAsStockDfuSuffixDoes)
{
    const SuffixCase& c = GetParam();
    std::vector<std::uint8_t> bytes = Image(0x08008000, 3000).ToBytes();
    if (c.flippedFromEnd > 0)
        bytes[bytes.size() - static_cast<std::size_t>(c.flippedFromEnd)] ^= 0x01;
    bytes.resize(bytes.size() - c.cutFromEnd);
    const CFirmwareFileCheck::Result result = CheckBytes(bytes, kController);
    EXPECT_EQ(result.verdict, c.verdict) << result.reason;
    if (c.verdict == Verdict::SuffixCrcMismatch) {
        // Found first, then what the bytes give; both in hexadecimal.
        const std::uint32_t computed = CFirmwareFileCheck::UpdateSuffixCrc(
            0xFFFFFFFFu, std::span<const std::uint8_t>(bytes.data(), bytes.size() - 4));
        char expected[16];
        std::snprintf(expected, sizeof expected, "0x%08X", static_cast<unsigned>(computed));
        EXPECT_NE(result.reason.find(std::string("give ") + expected), std::string::npos) << result.reason;
    }

    if (::access("/usr/bin/dfu-suffix", X_OK) != 0 || c.cutFromEnd != 0)
        return; // without a suffix there is nothing for dfu-suffix to check
    const std::string path = mTemp.File("image.dfu");
    const int status = std::system(("dfu-suffix -c " + path + " >/dev/null 2>&1").c_str());
    EXPECT_EQ(status == 0, c.verdict == Verdict::Usable) << "dfu-suffix -c exit status " << status;
}

INSTANTIATE_TEST_SUITE_P(
    Damage, FirmwareFileSuffix,
    ::testing::Values(SuffixCase{"Intact", 0, 0, Verdict::Usable},
                      // 16 bytes of suffix, then the element's last byte.
                      SuffixCase{"FlippedPayloadByte", 17, 0, Verdict::SuffixCrcMismatch},
                      SuffixCase{"FlippedFirstHeaderByteOfTheTarget", 3000 + 16 + 8 + 274, 0, Verdict::SuffixCrcMismatch},
                      SuffixCase{"FlippedVendorIdInTheSuffix", 12, 0, Verdict::SuffixCrcMismatch},
                      SuffixCase{"FlippedCrc", 1, 0, Verdict::SuffixCrcMismatch},
                      // A file without a suffix, or with only part of one, has nothing to check.
                      SuffixCase{"NoSuffix", 0, 16, Verdict::Usable},
                      SuffixCase{"SuffixCutShort", 0, 1, Verdict::Usable}),
    [](const ::testing::TestParamInfo<SuffixCase>& info) { return std::string(info.param.name); });

// The engine's CRC and the one our firmware-image tool writes are the same function.
TEST(FirmwareFileSuffixCrc, MatchesTheToolsCrcAndTheStandardCheckValue)
{
    const std::string check = "123456789";
    const std::span<const std::uint8_t> bytes(reinterpret_cast<const std::uint8_t*>(check.data()), check.size());
    // The CRC-32 check value 0xCBF43926, before its final inversion.
    EXPECT_EQ(CFirmwareFileCheck::UpdateSuffixCrc(0xFFFFFFFFu, bytes), ~0xCBF43926u);
    const std::vector<std::uint8_t> file = Image(0x08008000, 70000).ToBytes();
    const std::span<const std::uint8_t> all(file.data(), file.size() - 4);
    // In two pieces, as the check reads a file, the CRC is the same.
    const std::uint32_t first = CFirmwareFileCheck::UpdateSuffixCrc(0xFFFFFFFFu, all.first(65536));
    EXPECT_EQ(CFirmwareFileCheck::UpdateSuffixCrc(first, all.subspan(65536)), DfuSeImage::SuffixCrc(all));
}

} // namespace
