#include "FirmwareUpdater/Panel/Engine/UsbConnection.h"

#include "ZTFramework/Usb/UsbBackend.h"

#include <algorithm>
#include <iterator>

namespace {

constexpr std::uint16_t kStatusReplyLength = 6;

} // namespace

UsbConnection::~UsbConnection()
{
    Close();
}

void UsbConnection::SetCurrentDevice(const LUpdateEngine::DeviceDefinitionEx& device)
{
    mCurrentDevice = device;
}

bool UsbConnection::Open(const ZT::WString& path)
{
    Close();
    ZT::UsbError error = ZT::UsbError::Other;
    ZT::RCPtr<ZT::IUsbDeviceConnection> device = ZT::GetUsbBackend()->Open(path.ToUTF8(), error);
    if (!device) {
        mLastError = error == ZT::UsbError::None ? ZT::UsbError::Other : error;
        return false;
    }
    mDevice = std::move(device);
    return true;
}

void UsbConnection::Close()
{
    if (!mDevice)
        return;
    mDevice->Close();
    mDevice = nullptr;
}

ZT::UsbError UsbConnection::Download(const std::uint8_t* payload, std::uint16_t length, std::uint16_t blockNumber)
{
    // The backend's transfer takes a writable buffer for both directions; a host-to-device
    // transfer only reads it.
    return Transfer(ZT::kDfuRequestTypeOut, ZT::DfuRequest::Dnload, blockNumber, const_cast<std::uint8_t*>(payload),
                    length);
}

ZT::UsbError UsbConnection::GetStatus(StatusReply& status)
{
    std::uint8_t reply[kStatusReplyLength];
    std::fill(std::begin(reply), std::end(reply), std::uint8_t{0xFF});
    const ZT::UsbError result =
        Transfer(ZT::kDfuRequestTypeIn, ZT::DfuRequest::GetStatus, 0, reply, kStatusReplyLength);
    if (result != ZT::UsbError::None)
        return result;
    // Byte 5, the status string index, is not needed.
    status.Status = static_cast<ZT::DfuStatus>(reply[0]);
    status.PollTimeout = static_cast<std::uint32_t>(reply[1]) | (static_cast<std::uint32_t>(reply[2]) << 8) |
                         (static_cast<std::uint32_t>(reply[3]) << 16);
    status.State = static_cast<ZT::DfuState>(reply[4]);
    return ZT::UsbError::None;
}

ZT::UsbError UsbConnection::ClearStatus()
{
    return Transfer(ZT::kDfuRequestTypeOut, ZT::DfuRequest::ClrStatus, 0, nullptr, 0);
}

ZT::UsbError UsbConnection::Abort()
{
    return Transfer(ZT::kDfuRequestTypeOut, ZT::DfuRequest::Abort, 0, nullptr, 0);
}

ZT::UsbError UsbConnection::Leave()
{
    return Transfer(ZT::kDfuRequestTypeOut, ZT::DfuRequest::Dnload, 0, nullptr, 0);
}

ZT::UsbError UsbConnection::Reset()
{
    if (!mDevice) {
        mLastError = ZT::UsbError::NotOpen;
        return mLastError;
    }
    const bool reset = mDevice->Reset();
    const ZT::UsbError error = mDevice->GetLastError();
    Close();
    if (reset)
        return ZT::UsbError::None;
    mLastError = error == ZT::UsbError::None ? ZT::UsbError::Other : error;
    return mLastError;
}

ZT::UsbError UsbConnection::Transfer(std::uint8_t requestType, ZT::DfuRequest request, std::uint16_t value,
                                     std::uint8_t* data, std::uint16_t length)
{
    if (!mDevice) {
        mLastError = ZT::UsbError::NotOpen;
        return mLastError;
    }
    if (!mDevice->ControlTransfer(requestType, static_cast<std::uint8_t>(request), value, 0, data, length)) {
        // A backend that failed without a reason still failed: None would read as success.
        const ZT::UsbError error = mDevice->GetLastError();
        mLastError = error == ZT::UsbError::None ? ZT::UsbError::Other : error;
        return mLastError;
    }
    return ZT::UsbError::None;
}
