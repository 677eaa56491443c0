#pragma once
// An open libusb device with its interface 0 claimed: DFU class requests on the default pipe.
//
// Each control transfer waits at most kUsbControlTransferTimeoutMs (5000 ms). Failures keep
// libusb's error as the last error; a device that left the bus or never answers is reported once
// on the debug output with what the user can do.
//
// Threads: transfers come from one thread at a time; Close may come from another.
// mTransferMutex is held for a whole transfer and by Close, so Close waits for a transfer in
// progress (at most the time-out) and never releases the handle under it. The last results are
// atomics so GetLastError never waits for a transfer.

#include "ZTFramework/Usb/UsbDeviceConnection.h"

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>

struct libusb_device_handle;

namespace ZT {

class LLinuxUsbDeviceConnection final : public IUsbDeviceConnection {
public:
    // Takes over handle, whose interface 0 the caller has claimed; path names the device in log
    // lines.
    LLinuxUsbDeviceConnection(libusb_device_handle* handle, std::string path);
    ~LLinuxUsbDeviceConnection() override;

    [[nodiscard]] bool ControlTransfer(std::uint8_t bmRequestType, std::uint8_t bRequest, std::uint16_t wValue,
                                       std::uint16_t wIndex, std::uint8_t* data, std::uint16_t wLength) override;
    [[nodiscard]] UsbError GetLastError() const override;
    [[nodiscard]] std::uint16_t GetLastTransferredLength() const override;
    // libusb_reset_device, then Close. LIBUSB_ERROR_NOT_FOUND after the reset means the device
    // re-enumerated with other descriptors (a bootloader that started its application): success.
    [[nodiscard]] bool Reset() override;
    // Releases interface 0 (the kernel driver libusb detached is re-attached) and closes the
    // handle.
    void Close() override;

private:
    void ReportFailure(std::uint8_t bRequest, UsbError error);

    const std::string mPath;
    std::mutex mTransferMutex;
    libusb_device_handle* mHandle; // guarded by mTransferMutex; null once closed
    bool mGoneReported = false;     // guarded by mTransferMutex: the device's departure is logged once
    std::atomic<UsbError> mLastError{UsbError::None};
    std::atomic<std::uint16_t> mLastTransferred{0};
};

} // namespace ZT
