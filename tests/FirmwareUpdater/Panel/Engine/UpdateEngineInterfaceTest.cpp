// The engine's records: version ordering, release numbers, the product's device table and the
// notification payloads.

#include "FirmwareUpdater/Panel/Engine/DeviceStateChangeNotificationData.h"
#include "FirmwareUpdater/Panel/Engine/FirmwareFileStateChangeNotificationData.h"
#include "FirmwareUpdater/Panel/Engine/FirmwareUpdateCompletedNotificationData.h"
#include "FirmwareUpdater/Panel/Engine/FirmwareUpdateProgressNotificationData.h"
#include "FirmwareUpdater/Panel/Engine/ProductDevice.h"
#include "FirmwareUpdater/Panel/Engine/UpdateEngineInterface.h"
#include "ZTFramework/ObjectBase/RCPtr.h"

#include <gtest/gtest.h>

#include <memory>
#include <ostream>

namespace {

using FirmwareVersion = LUpdateEngineInterface::FirmwareVersion;
using DeviceState = LUpdateEngineInterface::DeviceState;
using FirmwareFileState = LUpdateEngineInterface::FirmwareFileState;

struct OrderingCase {
    FirmwareVersion a;
    FirmwareVersion b;
    bool aIsNewer;
    bool bIsNewer;
};

std::ostream& operator<<(std::ostream& out, const OrderingCase& c)
{
    return out << '{' << c.a.Part1 << ',' << c.a.Part2 << ',' << c.a.Part3 << ',' << c.a.Part4 << "} vs {"
               << c.b.Part1 << ',' << c.b.Part2 << ',' << c.b.Part3 << ',' << c.b.Part4 << '}';
}

class FirmwareVersionOrdering : public ::testing::TestWithParam<OrderingCase> {};

TEST_P(FirmwareVersionOrdering, ComparesPartsInOrderAsUnsignedNumbers)
{
    const OrderingCase& c = GetParam();
    EXPECT_EQ(c.a.IsNewerThan(c.b), c.aIsNewer);
    EXPECT_EQ(c.b.IsNewerThan(c.a), c.bIsNewer);
}

INSTANTIATE_TEST_SUITE_P(
    Versions, FirmwareVersionOrdering,
    ::testing::Values(
        // Equal versions: neither is newer, so no update is needed unless forced.
        OrderingCase{{0, 0, 3, 1, L"00.31"}, {0, 0, 3, 1, L"00.31"}, false, false},
        // Components compare one by one, not as a joined number.
        OrderingCase{{0, 1, 0, 0}, {0, 0, 9, 9}, true, false},
        OrderingCase{{1, 0, 0, 0}, {0, 9, 9, 9}, true, false},
        // The wheel-display reference against what a display may report.
        OrderingCase{{0, 0, 5, 0}, {0, 0, 5, 0}, false, false},
        OrderingCase{{0, 0, 5, 0}, {0, 0, 4, 9}, true, false},
        // The last part decides when the others agree.
        OrderingCase{{0, 0, 3, 1}, {0, 0, 3, 0}, true, false},
        // Unsigned: a top-bit value is the largest, not negative.
        OrderingCase{{0x80000000u, 0, 0, 0}, {1, 0, 0, 0}, true, false},
        // The text takes no part.
        OrderingCase{{0, 0, 3, 1, L"zzz"}, {0, 0, 3, 1, L"aaa"}, false, false},
        // Anything known is newer than the unknown version.
        OrderingCase{{0, 0, 0, 1}, {}, true, false}));

TEST(FirmwareVersion, SameNumberIgnoresTheText)
{
    EXPECT_TRUE((FirmwareVersion{0, 0, 3, 1, L"00.31"}).HasSameNumberAs({0, 0, 3, 1, L"other"}));
    EXPECT_FALSE((FirmwareVersion{0, 0, 3, 1}).HasSameNumberAs({0, 0, 3, 0}));
    EXPECT_FALSE((FirmwareVersion{1, 0, 3, 1}).HasSameNumberAs({0, 0, 3, 1}));
}

struct ReleaseCase {
    std::uint16_t release;
    FirmwareVersion version;
};

class ReleaseNumber : public ::testing::TestWithParam<ReleaseCase> {};

TEST_P(ReleaseNumber, GivesOneVersionPartPerHexDigitAndTheDecimalText)
{
    const ReleaseCase& c = GetParam();
    const FirmwareVersion version = FirmwareVersion::FromReleaseNumber(c.release);
    EXPECT_TRUE(version.HasSameNumberAs(c.version));
    EXPECT_EQ(version.Text.ToUTF8(), c.version.Text.ToUTF8());
    EXPECT_EQ(version.ToReleaseNumber(), c.release);
}

INSTANTIATE_TEST_SUITE_P(Releases, ReleaseNumber,
                         ::testing::Values(ReleaseCase{0x0031, {0, 0, 3, 1, L"00.31"}},
                                           ReleaseCase{0x0050, {0, 0, 5, 0, L"00.50"}},
                                           ReleaseCase{0x0001, {0, 0, 0, 1, L"00.01"}},
                                           // A digit of ten or more is written as its decimal number.
                                           ReleaseCase{0x1A05, {1, 10, 0, 5, L"110.05"}},
                                           ReleaseCase{0xFFFF, {15, 15, 15, 15, L"1515.1515"}},
                                           // No release: the unknown version with an empty text.
                                           ReleaseCase{0x0000, {0, 0, 0, 0, L""}}));

TEST(ProductDevice, DescribesTheControllerAndTheWheelDisplay)
{
    const ProductDevice& controller = ProductDevice::Get(ProductDevice::Kind::Controller);
    const ProductDevice& display = ProductDevice::Get(ProductDevice::Kind::WheelDisplay);

    const LUpdateEngineInterface::DeviceDefinition c = controller.GetDeviceDefinition();
    EXPECT_EQ(c.VendorId, 0x2C1Au);
    EXPECT_EQ(c.ProductId, 0x8010u);
    EXPECT_EQ(c.BootloaderVendorId, 0x0483u);
    EXPECT_EQ(c.BootloaderProductId, 0xDF11u);
    EXPECT_EQ(c.MidiPortName.ToUTF8(), "Halvard XR4000 NOVA");
    EXPECT_TRUE(c.Text1.IsEmpty() && c.Text2.IsEmpty() && c.Text4.IsEmpty() && c.Text5.IsEmpty());

    const LUpdateEngineInterface::DeviceDefinition d = display.GetDeviceDefinition();
    EXPECT_EQ(d.VendorId, 0x2C1Au);
    EXPECT_EQ(d.ProductId, 0xB010u);
    EXPECT_EQ(d.BootloaderVendorId, 0x0483u);
    EXPECT_EQ(d.BootloaderProductId, 0xDF11u);
    EXPECT_EQ(d.MidiPortName.ToUTF8(), "Halvard XR4000 NOVA WD");

    EXPECT_EQ(ZT::WString(controller.FirmwareFileName).ToUTF8(), "qx31_tp_update_00_31_120936.dfu");
    EXPECT_EQ(ZT::WString(display.FirmwareFileName).ToUTF8(), "qx31_wd_update_00_50_3A7CE2CA.dfu");

    const FirmwareVersion controllerVersion = controller.GetFirmwareVersion();
    EXPECT_TRUE(controllerVersion.HasSameNumberAs({0, 0, 3, 1}));
    EXPECT_EQ(controllerVersion.Text.ToUTF8(), "00.31");
    const FirmwareVersion displayVersion = display.GetFirmwareVersion();
    EXPECT_TRUE(displayVersion.HasSameNumberAs({0, 0, 5, 0}));
    EXPECT_EQ(displayVersion.Text.ToUTF8(), "00.50");

    ASSERT_EQ(controller.EraseSectors.size(), 3u);
    EXPECT_EQ(controller.EraseSectors[0], 0x08008000u);
    EXPECT_EQ(controller.EraseSectors[2], 0x08010000u);
    ASSERT_EQ(display.EraseSectors.size(), 6u);
    EXPECT_EQ(display.EraseSectors[3], 0x08020000u);
    EXPECT_EQ(display.EraseSectors[5], 0x08060000u);
}

TEST(EngineEnumerations, NameValuesFromOutsideTheEnumerationAsInvalid)
{
    // A value read from a u32 payload field may lie outside the enumeration; the log line must
    // still say something true.
    EXPECT_STREQ(ToString(static_cast<DeviceState>(9)), "invalid DeviceState");
    EXPECT_STREQ(ToString(static_cast<FirmwareFileState>(4)), "invalid FirmwareFileState");
    EXPECT_STREQ(ToString(static_cast<LUpdateEngineInterface::UpdateRunState>(-1)), "invalid UpdateRunState");
    EXPECT_STREQ(ToString(static_cast<ProductDevice::Kind>(2)), "invalid ProductDevice::Kind");
    // The table falls back to the controller rather than to nothing.
    EXPECT_EQ(&ProductDevice::Get(static_cast<ProductDevice::Kind>(2)), &kControllerDevice);
}

TEST(EngineNotificationData, CopiesCarryEveryField)
{
    const ZT::RCPtr<ZT::LDeviceStateChangeNotificationData> deviceState =
        ZT::MakeRC<ZT::LDeviceStateChangeNotificationData>(DeviceState::DeviceInUpdateMode,
                                                           DeviceState::EnteringUpdateMode);
    const std::unique_ptr<ZT::LRefCountedObject> deviceStateCopy(deviceState->CreateCopy());
    const auto* deviceStateTyped = dynamic_cast<ZT::LDeviceStateChangeNotificationData*>(deviceStateCopy.get());
    ASSERT_NE(deviceStateTyped, nullptr);
    EXPECT_EQ(deviceStateTyped->GetNewState(), DeviceState::DeviceInUpdateMode);
    EXPECT_EQ(deviceStateTyped->GetOldState(), DeviceState::EnteringUpdateMode);
    EXPECT_EQ(deviceState->ToString().ToUTF8(), "NID_DEVICE_STATE_CHANGE EnteringUpdateMode -> DeviceInUpdateMode");

    const ZT::RCPtr<ZT::LFirmwareFileStateChangeNotificationData> fileState =
        ZT::MakeRC<ZT::LFirmwareFileStateChangeNotificationData>(FirmwareFileState::FileInvalid,
                                                                 FirmwareFileState::NoFileDefined);
    const std::unique_ptr<ZT::LRefCountedObject> fileStateCopy(fileState->CreateCopy());
    const auto* fileStateTyped = dynamic_cast<ZT::LFirmwareFileStateChangeNotificationData*>(fileStateCopy.get());
    ASSERT_NE(fileStateTyped, nullptr);
    EXPECT_EQ(fileStateTyped->GetNewState(), FirmwareFileState::FileInvalid);
    EXPECT_EQ(fileStateTyped->GetOldState(), FirmwareFileState::NoFileDefined);

    const ZT::RCPtr<ZT::LFirmwareUpdateCompletedNotificationData> completed =
        ZT::MakeRC<ZT::LFirmwareUpdateCompletedNotificationData>(true);
    const std::unique_ptr<ZT::LRefCountedObject> completedCopy(completed->CreateCopy());
    const auto* completedTyped = dynamic_cast<ZT::LFirmwareUpdateCompletedNotificationData*>(completedCopy.get());
    ASSERT_NE(completedTyped, nullptr);
    EXPECT_TRUE(completedTyped->GetSucceeded());

    const ZT::RCPtr<ZT::LFirmwareUpdateProgressNotificationData> progress =
        ZT::MakeRC<ZT::LFirmwareUpdateProgressNotificationData>(
            7u, 0.625, ZT::LFirmwareUpdateProgressNotificationData::kSecondsRemainingUnknown, true, false,
            ZT::WString(L"Writing"));
    const std::unique_ptr<ZT::LRefCountedObject> progressCopy(progress->CreateCopy());
    const auto* progressTyped = dynamic_cast<ZT::LFirmwareUpdateProgressNotificationData*>(progressCopy.get());
    ASSERT_NE(progressTyped, nullptr);
    EXPECT_EQ(progressTyped->GetStage(), 7u);
    EXPECT_DOUBLE_EQ(progressTyped->GetFractionComplete(), 0.625);
    EXPECT_EQ(progressTyped->GetSecondsRemaining(), 0xFFFFFFFFu);
    EXPECT_TRUE(progressTyped->GetTimeUnknown());
    EXPECT_FALSE(progressTyped->GetFlag2());
    EXPECT_EQ(progressTyped->GetMessage().ToUTF8(), "Writing");
}

} // namespace
