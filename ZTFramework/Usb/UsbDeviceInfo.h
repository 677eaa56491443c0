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
    // The iSerialNumber string. The microcontroller's built-in bootloader reports one derived
    // from the chip's unique ID, so it tells two bootloaders with the same IDs apart. Empty when
    // the device has none or it could not be read.
    std::string serialNumber{};
};

// "USB\VID_2C1A&PID_8010&REV_0031": the IDs as four upper-case hexadecimal digits each.
[[nodiscard]] std::string MakeHardwareId(const UsbDeviceInfo& device);

} // namespace ZT
