// The engine's records: version ordering, release numbers and the names of its states in the log.

#include "FirmwareUpdater/Panel/Engine/DeviceStateChangeNotificationData.h"
#include "FirmwareUpdater/Panel/Engine/ProductDevice.h"
#include "FirmwareUpdater/Panel/Engine/UpdateEngineInterface.h"
#include "ZTFramework/ObjectBase/RCPtr.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using FirmwareVersion = LUpdateEngineInterface::FirmwareVersion;
using DeviceState = LUpdateEngineInterface::DeviceState;
using FirmwareFileState = LUpdateEngineInterface::FirmwareFileState;

TEST(FirmwareVersion, ComparesPartsInOrderAsUnsignedNumbersIgnoringTheText)
{
    struct Row {
        FirmwareVersion a;
        FirmwareVersion b;
        bool aIsNewer;
        bool sameNumber;
    };
    const Row rows[] = {
        // Equal versions: neither is newer, so no update is needed unless forced.
        {{0, 0, 3, 1, L"00.31"}, {0, 0, 3, 1, L"other"}, false, true},
        // Components compare one by one, not as a joined number.
        {{0, 1, 0, 0}, {0, 0, 9, 9}, true, false},
        {{1, 0, 0, 0}, {0, 9, 9, 9}, true, false},
        {{0, 0, 5, 0}, {0, 0, 4, 9}, true, false},
        // The last part decides when the others agree.
        {{0, 0, 3, 1}, {0, 0, 3, 0}, true, false},
        {{1, 0, 3, 1}, {0, 0, 3, 1}, true, false},
        // Unsigned: a top-bit value is the largest, not negative.
        {{0x80000000u, 0, 0, 0}, {1, 0, 0, 0}, true, false},
        // The text takes no part.
        {{0, 0, 3, 1, L"zzz"}, {0, 0, 3, 1, L"aaa"}, false, true},
        // Anything known is newer than the unknown version.
        {{0, 0, 0, 1}, {}, true, false},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE("row " + std::to_string(&row - rows));
        EXPECT_EQ(row.a.IsNewerThan(row.b), row.aIsNewer);
        EXPECT_FALSE(row.b.IsNewerThan(row.a));
        EXPECT_EQ(row.a.HasSameNumberAs(row.b), row.sameNumber);
        EXPECT_EQ(row.b.HasSameNumberAs(row.a), row.sameNumber);
    }
}

TEST(ReleaseNumber, GivesOneVersionPartPerHexDigitAndTheDecimalText)
{
    struct Row {
        std::uint16_t release;
        FirmwareVersion version;
    };
    const Row rows[] = {{0x0031, {0, 0, 3, 1, L"00.31"}}, {0x0050, {0, 0, 5, 0, L"00.50"}},
                        {0x0001, {0, 0, 0, 1, L"00.01"}},
                        // A digit of ten or more is written as its decimal number.
                        {0x1A05, {1, 10, 0, 5, L"110.05"}}, {0xFFFF, {15, 15, 15, 15, L"1515.1515"}},
                        // No release: the unknown version with an empty text.
                        {0x0000, {0, 0, 0, 0, L""}}};
    for (const Row& row : rows) {
        SCOPED_TRACE(row.release);
        const FirmwareVersion version = FirmwareVersion::FromReleaseNumber(row.release);
        EXPECT_TRUE(version.HasSameNumberAs(row.version));
        EXPECT_EQ(version.Text.ToUTF8(), row.version.Text.ToUTF8());
        EXPECT_EQ(version.ToReleaseNumber(), row.release);
    }
}

TEST(EngineEnumerations, NameValuesFromOutsideTheEnumerationAsInvalidAndStateChangesInTheLog)
{
    // A value read from a u32 payload field may lie outside the enumeration; the log line must
    // still say something true.
    EXPECT_STREQ(ToString(static_cast<DeviceState>(9)), "invalid DeviceState");
    EXPECT_STREQ(ToString(static_cast<FirmwareFileState>(4)), "invalid FirmwareFileState");
    EXPECT_STREQ(ToString(static_cast<LUpdateEngineInterface::UpdateRunState>(-1)), "invalid UpdateRunState");
    EXPECT_STREQ(ToString(static_cast<ProductDevice::Kind>(2)), "invalid ProductDevice::Kind");
    // The table falls back to the controller rather than to nothing.
    EXPECT_EQ(&ProductDevice::Get(static_cast<ProductDevice::Kind>(2)), &kControllerDevice);

    const auto change = ZT::MakeRC<ZT::LDeviceStateChangeNotificationData>(DeviceState::DeviceInUpdateMode,
                                                                           DeviceState::EnteringUpdateMode);
    EXPECT_EQ(change->ToString().ToUTF8(), "NID_DEVICE_STATE_CHANGE EnteringUpdateMode -> DeviceInUpdateMode");
}

} // namespace
