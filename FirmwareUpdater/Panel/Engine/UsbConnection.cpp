#include "FirmwareUpdater/Panel/Engine/UsbConnection.h"

#include "ZTFramework/Usb/UsbBackend.h"

#include <algorithm>
#include <iterator>

namespace {

// bmRequestType of DFU class requests to interface 0.
constexpr std::uint8_t kRequestTypeOut = 0x21; // host to device, class, interface
constexpr std::uint8_t kRequestTypeIn = 0xA1;  // device to host, class, interface

constexpr std::uint8_t kRequestDownload = 0x01;
constexpr std::uint8_t kRequestGetStatus = 0x03;
constexpr std::uint8_t kRequestClearStatus = 0x04;
constexpr std::uint8_t kRequestAbort = 0x06;

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
        mLastError = static_cast<std::int32_t>(error == ZT::UsbError::None ? ZT::UsbError::Other : error);
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

std::int32_t UsbConnection::Download(const std::uint8_t* payload, std::uint16_t length, std::uint16_t blockNumber)
{
    // The backend's transfer takes a writable buffer for both directions; a host-to-device
    // transfer only reads it.
    return Transfer(kRequestTypeOut, kRequestDownload, blockNumber, const_cast<std::uint8_t*>(payload), length);
}

std::int32_t UsbConnection::GetStatus(DfuStatus& status)
{
    std::uint8_t reply[kStatusReplyLength];
    std::fill(std::begin(reply), std::end(reply), std::uint8_t{0xFF});
    const std::int32_t result = Transfer(kRequestTypeIn, kRequestGetStatus, 0, reply, kStatusReplyLength);
    if (result != kRequestSucceeded)
        return result;
    // Byte 5, the status string index, is not needed.
    status.Status = reply[0];
    status.PollTimeout = static_cast<std::uint32_t>(reply[1]) | (static_cast<std::uint32_t>(reply[2]) << 8) |
                         (static_cast<std::uint32_t>(reply[3]) << 16);
    status.State = reply[4];
    return kRequestSucceeded;
}

std::int32_t UsbConnection::ClearStatus()
{
    return Transfer(kRequestTypeOut, kRequestClearStatus, 0, nullptr, 0);
}

std::int32_t UsbConnection::Abort()
{
    return Transfer(kRequestTypeOut, kRequestAbort, 0, nullptr, 0);
}

std::int32_t UsbConnection::Leave()
{
    return Transfer(kRequestTypeOut, kRequestDownload, 0, nullptr, 0);
}

const char* UsbConnection::ErrorName(std::int32_t lastError) noexcept
{
    if (lastError == kNotOpenError)
        return "ConnectionNotOpen";
    return ZT::UsbErrorName(static_cast<ZT::UsbError>(lastError));
}

const char* UsbConnection::StateName(std::uint32_t state) noexcept
{
    static constexpr const char* kNames[] = {"appIDLE",        "appDETACH",      "dfuIDLE",
                                             "dfuDNLOAD-SYNC", "dfuDNBUSY",      "dfuDNLOAD-IDLE",
                                             "dfuMANIFEST-SYNC", "dfuMANIFEST",  "dfuMANIFEST-WAIT-RESET",
                                             "dfuUPLOAD-IDLE", "dfuERROR"};
    return state < std::size(kNames) ? kNames[state] : "unknown";
}

std::int32_t UsbConnection::Transfer(std::uint8_t requestType, std::uint8_t request, std::uint16_t value,
                                     std::uint8_t* data, std::uint16_t length)
{
    if (!mDevice) {
        mLastError = kNotOpenError;
        return kRequestFailed;
    }
    if (!mDevice->ControlTransfer(requestType, request, value, 0, data, length)) {
        mLastError = static_cast<std::int32_t>(mDevice->GetLastError());
        return kRequestFailed;
    }
    return kRequestSucceeded;
}
