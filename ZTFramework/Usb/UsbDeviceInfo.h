#pragma once
// One present USB device as a backend lists it, and the hardware-ID text the engine matches on.

#include <cstdint>
#include <string>

namespace ZT {

struct UsbDeviceInfo {
    // The device node, "/dev/bus/usb/001/007": bus and address. A device that re-enumerates
    // (for example when it restarts in its bootloader) gets a new address and so a new path.
    std::string path;
    std::uint16_t vendorId = 0;
    std::uint16_t productId = 0;
    // bcdDevice of the device descriptor; the application firmware reports its version here.
    std::uint16_t releaseNumber = 0;
};

// "USB\VID_2C1A&PID_8010&REV_0031": the IDs as four upper-case hexadecimal digits each.
[[nodiscard]] std::string MakeHardwareId(const UsbDeviceInfo& device);

} // namespace ZT
