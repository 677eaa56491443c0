// The query's JSON object: texts from outside (a bootloader's USB serial number) never break it.

#include "FirmwareUpdater/Panel/QueryStatusJson.h"

#include <gtest/gtest.h>

#include <string>

namespace {

TEST(QueryStatusJson, QuotesEveryCharacterThatWouldEndOrBreakAString)
{
    EXPECT_EQ(CQueryStatusJson::Quote("plain 00.31"), "\"plain 00.31\"");
    EXPECT_EQ(CQueryStatusJson::Quote("a\"b\\c"), "\"a\\\"b\\\\c\"");
    EXPECT_EQ(CQueryStatusJson::Quote(std::string("\n\r\t\x01\x1f", 5)), "\"\\n\\r\\t\\u0001\\u001f\"");
    EXPECT_EQ(CQueryStatusJson::Quote("Gerät ✓"), "\"Gerät ✓\"") << "UTF-8 is passed through as it is";
}

TEST(QueryStatusJson, ADeviceInUpdateModeHasItsSerialAndNoVersion)
{
    LDualUpdater::ProbeResult probe;
    probe.AnyDeviceFound = true;
    probe.ControllerFound = true;
    probe.ControllerVersion = FirmwareVersion::FromReleaseNumber(0x0031);
    probe.DisplayInUpdateMode = true;
    probe.DisplayNeedsUpdate = true;
    probe.DisplayBootloaderSerial = "3A\"7C";
    const std::string json = CQueryStatusJson::Format(CQueryStatusJson::FromProbe(probe, "/nonexistent"), 3, "needs");
    EXPECT_EQ(json,
              "{\"exit_status\":3,\"meaning\":\"needs\",\"devices\":["
              "{\"role\":\"controller\",\"found\":true,\"mode\":\"normal\",\"version\":\"00.31\",\"bootloader_serial\":null,"
              "\"file\":\"qx31_tp_update_00_31_120936.dfu\",\"file_present\":false,\"file_version\":\"00.31\","
              "\"update_needed\":false},"
              "{\"role\":\"wheel_display\",\"found\":true,\"mode\":\"update\",\"version\":null,"
              "\"bootloader_serial\":\"3A\\\"7C\",\"file\":\"qx31_wd_update_00_50_3A7CE2CA.dfu\",\"file_present\":false,"
              "\"file_version\":\"00.50\",\"update_needed\":true}]}\n");
}

} // namespace
