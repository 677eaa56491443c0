#include "ZTFramework/Usb/UsbBackend.h"
#include "tests/Support/Printers.h"

#include <gtest/gtest.h>

#include <iterator>
#include <set>
#include <string>

namespace {

TEST(HardwareId, FourUpperCaseHexDigitsPerNumber)
{
    struct Row {
        ZT::UsbDeviceInfo device;
        const char* expected;
    };
    const Row rows[] = {
        {{"/dev/bus/usb/001/007", 0x2C1A, 0x8010, 0x0031}, "USB\\VID_2C1A&PID_8010&REV_0031"},
        {{"", 0x00AB, 0x000F, 0x1A05}, "USB\\VID_00AB&PID_000F&REV_1A05"},
        {{"", 0, 0, 0}, "USB\\VID_0000&PID_0000&REV_0000"},
        {{"", 0xFFFF, 0xFFFF, 0xFFFF}, "USB\\VID_FFFF&PID_FFFF&REV_FFFF"},
    };
    for (const Row& row : rows)
        EXPECT_EQ(ZT::MakeHardwareId(row.device), row.expected);
}

// A selected backend serving the process: every engine test, on the simulator's.
TEST(UsbBackendSelection, WithoutABackendNothingCanBeEnumeratedOrOpened)
{
    ZT::SetUsbBackend(nullptr);
    const auto backend = ZT::GetUsbBackend();
    ASSERT_TRUE(backend);
    std::vector<ZT::UsbDeviceInfo> devices{{"stale", 1, 2, 3}};
    EXPECT_RESULT_EQ(backend->ListDevices(devices), ZT::E_FAIL);
    EXPECT_TRUE(devices.empty());
    ZT::UsbError error = ZT::UsbError::None;
    EXPECT_FALSE(backend->Open("/dev/bus/usb/001/002", error));
    EXPECT_EQ(error, ZT::UsbError::NotSupported);
}

TEST(UsbError, EveryCodeHasItsOwnNameForLogLines)
{
    using E = ZT::UsbError;
    const E all[] = {E::None, E::Io, E::InvalidParam, E::Access, E::NoDevice, E::NotFound, E::Busy, E::Timeout,
                     E::Overflow, E::Pipe, E::Interrupted, E::NoMemory, E::NotSupported, E::NotOpen, E::Other};
    std::set<std::string> names;
    for (E error : all) {
        const std::string name = ZT::UsbErrorName(error);
        EXPECT_NE(name, "Unknown") << static_cast<int>(error);
        names.insert(name);
    }
    EXPECT_EQ(names.size(), std::size(all));
    EXPECT_STREQ(ZT::UsbErrorName(static_cast<E>(-42)), "Unknown");
}

} // namespace
