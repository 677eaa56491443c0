#include "ZTFramework/Usb/Linux/LinuxUsbDeviceConnection.h"

#include "ZTFramework/Debug/DebugLine.h"
#include "ZTFramework/Usb/Linux/LinuxUsbBackend.h"

#include <libusb.h>

#include <iomanip>

namespace ZT {

namespace {

constexpr int kInterface = 0;

} // namespace

LLinuxUsbDeviceConnection::LLinuxUsbDeviceConnection(libusb_device_handle* handle, std::string path)
    : mPath(std::move(path)), mHandle(handle)
{
    if (!mHandle)
        ZT_THROW_NULL_POINTER("handle", "ZT::LLinuxUsbDeviceConnection::LLinuxUsbDeviceConnection");
}

LLinuxUsbDeviceConnection::~LLinuxUsbDeviceConnection()
{
    Close();
}

bool LLinuxUsbDeviceConnection::ControlTransfer(std::uint8_t bmRequestType, std::uint8_t bRequest,
                                                std::uint16_t wValue, std::uint16_t wIndex, std::uint8_t* data,
                                                std::uint16_t wLength)
{
    std::lock_guard lock(mTransferMutex);
    UsbError error = UsbError::None;
    int result = 0;
    if (!mHandle) {
        error = UsbError::NotOpen;
    } else if (!data && wLength > 0) {
        error = UsbError::InvalidParam;
    } else {
        result = libusb_control_transfer(mHandle, bmRequestType, bRequest, wValue, wIndex, data, wLength,
                                         kUsbControlTransferTimeoutMs);
        if (result < 0)
            error = UsbErrorFromLibusb(result);
    }
    if (error != UsbError::None) {
        mLastError.store(error);
        mLastTransferred.store(0);
        ReportFailure(bRequest, error);
        return false;
    }
    mLastError.store(UsbError::None);
    mLastTransferred.store(static_cast<std::uint16_t>(result));
    return true;
}

void LLinuxUsbDeviceConnection::ReportFailure(std::uint8_t bRequest, UsbError error)
{
    // Called with mTransferMutex held. Stalls and refused requests are the engine's to explain;
    // what the user has to act on is a device that left or stopped answering.
    switch (error) {
    case UsbError::NoDevice:
        if (mGoneReported)
            return;
        mGoneReported = true;
        CDebugLine() << "USB: " << mPath << " left the bus during request 0x" << std::hex << std::setw(2)
                     << std::setfill('0') << static_cast<unsigned>(bRequest)
                     << " (NoDevice). If it was unplugged, plug it in again and start the update again.";
        return;
    case UsbError::Timeout:
        CDebugLine() << "USB: " << mPath << " did not answer request 0x" << std::hex << std::setw(2)
                     << std::setfill('0') << static_cast<unsigned>(bRequest) << " within " << std::dec
                     << kUsbControlTransferTimeoutMs
                     << " ms (Timeout). Unplug the device, plug it in again and start the update again.";
        return;
    case UsbError::None:
    case UsbError::Io:
    case UsbError::InvalidParam:
    case UsbError::Access:
    case UsbError::NotFound:
    case UsbError::Busy:
    case UsbError::Overflow:
    case UsbError::Pipe:
    case UsbError::Interrupted:
    case UsbError::NoMemory:
    case UsbError::NotSupported:
    case UsbError::NotOpen:
    case UsbError::Other:
        return;
    }
}

UsbError LLinuxUsbDeviceConnection::GetLastError() const
{
    return mLastError.load();
}

std::uint16_t LLinuxUsbDeviceConnection::GetLastTransferredLength() const
{
    return mLastTransferred.load();
}

bool LLinuxUsbDeviceConnection::Reset()
{
    UsbError error = UsbError::None;
    {
        std::lock_guard lock(mTransferMutex);
        if (!mHandle) {
            error = UsbError::NotOpen;
        } else {
            const int result = libusb_reset_device(mHandle);
            if (result < 0 && result != LIBUSB_ERROR_NOT_FOUND)
                error = UsbErrorFromLibusb(result);
            CDebugLine() << "USB: reset of " << mPath << ": "
                         << (result == LIBUSB_ERROR_NOT_FOUND ? "re-enumerated" : UsbErrorName(error));
        }
    }
    mLastError.store(error);
    mLastTransferred.store(0);
    Close(); // the device is found again by its new path
    return error == UsbError::None;
}

void LLinuxUsbDeviceConnection::Close()
{
    std::lock_guard lock(mTransferMutex);
    if (!mHandle)
        return;
    // Releasing fails harmlessly when the device has gone; the handle is closed either way.
    static_cast<void>(libusb_release_interface(mHandle, kInterface));
    libusb_close(mHandle);
    mHandle = nullptr;
}

} // namespace ZT
