#pragma once
// The USB backend for real hardware on Linux, through libusb-1.0.
//
// Devices are named by their usbfs node, "/dev/bus/usb/BBB/DDD" (bus number, device address).
// Listing reads the cached device descriptors and opens nothing. The serial number is read only
// for the microcontroller's DFU bootloader (0483:DF11), whose serial tells the product's two
// bootloaders apart, from the "serial" attribute the kernel keeps in sysfs (no write access
// needed, no request to the device); other devices are listed without one. Opening finds the device with
// that bus and address, opens it, lets libusb detach a kernel driver bound to interface 0 and
// claims interface 0; any failure closes what was opened.
//
// The process has one libusb context, created by the first backend and kept for the life of the
// process (libusb's own event threads may still refer to it at exit). A test that emulates
// devices must set up its emulation before it creates the first backend.
//
// Threads: every member may be called from any thread at the same time. mMutex guards
// mListedPaths only and is never held across a libusb call that touches a device.

#include "ZTFramework/Usb/UsbBackend.h"

#include <cstdint>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <vector>

struct libusb_context;

namespace ZT {

class LLinuxUsbBackend final : public IUsbBackend {
public:
    // Creates the process's libusb context on first use. When libusb cannot start (no usbfs,
    // no memory) the backend stays usable: ListDevices gives E_FAIL and Open NotSupported, and
    // one line on the debug output says why.
    LLinuxUsbBackend();

    // S_OK with the present devices; E_FAIL when the bus cannot be enumerated.
    [[nodiscard]] ZTRESULT ListDevices(std::vector<UsbDeviceInfo>& devices) override;

    // NotFound for a path that is malformed or was never listed and is not present, NoDevice for
    // a listed path whose device has gone, Access without permission on the device node (the
    // debug output then names the udev rules file and how to install it), Busy when another
    // program holds interface 0, NotSupported when libusb could not start.
    [[nodiscard]] RCPtr<IUsbDeviceConnection> Open(const std::string& path, UsbError& error) override;

    // "/dev/bus/usb/001/007" for bus 1, address 7.
    [[nodiscard]] static std::string MakeDevicePath(std::uint8_t bus, std::uint8_t address);

    struct BusAddress {
        std::uint8_t bus = 0;
        std::uint8_t address = 0;
    };
    // The bus and address of a path of exactly MakeDevicePath's form; nullopt for anything else.
    [[nodiscard]] static std::optional<BusAddress> ParseDevicePath(const std::string& path);

    // The file that gives the logged-in user access to our devices, and the command that
    // installs it; named by the permission message.
    static constexpr const char* kUdevRulesFile = "70-halvard-xr4000-nova.rules";
    static constexpr const char* kUdevInstallCommand = "sudo make install";
    // The devices whose serial number ListDevices reads.
    static constexpr std::uint16_t kSerialReadVendorId = 0x0483;
    static constexpr std::uint16_t kSerialReadProductId = 0xDF11;

private:
    libusb_context* const mContext; // the process's context; null when libusb could not start
    std::mutex mMutex;
    std::set<std::string> mListedPaths; // guarded by mMutex: every path ListDevices has returned
};

// Maps a libusb error number (LIBUSB_ERROR_*) to ours; numbers libusb does not define give Other.
[[nodiscard]] UsbError UsbErrorFromLibusb(int libusbError);

} // namespace ZT
