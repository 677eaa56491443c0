#pragma once
// The engine's line to a device in update mode: USB DFU 1.1 class requests on the default control
// pipe of its bootloader, sent to interface 0.
//
// Every request returns ZT::UsbError::None when the device accepted it, otherwise why not: the
// backend's reason (Pipe for a stall, Timeout, NoDevice, ...), or NotOpen when the request was
// attempted while no device was open. GetLastError keeps the reason of the last failure. Nothing is
// retried here.
//
// One connection belongs to one engine and lives as long as it does. It is used by one thread at a
// time: the engine's worker during a download, the thread that initialises or destroys the engine
// otherwise. It takes no lock. Every request blocks until the device answers, at most
// ZT::kUsbControlTransferTimeoutMs (5 s); a bootloader holds back its status reply during an erase
// for as long as the erase takes, well within that bound.

#include "FirmwareUpdater/Panel/Engine/UpdateEngine.h"
#include "ZTFramework/ObjectBase/RCPtr.h"
#include "ZTFramework/Usb/Dfu.h"
#include "ZTFramework/Usb/UsbDeviceConnection.h"
#include "ZTFramework/Usb/UsbError.h"
#include "ZTFramework/Utilities/Storage/StringT.h"

#include <cstdint>
#include <optional>

class UsbConnection {
public:
    // A GETSTATUS reply, decoded. Bytes the device did not send read as 0xFF, so a short reply
    // gives a state of 0xFF, which is no DFU state and which the download never expects.
    struct StatusReply {
        ZT::DfuStatus Status = ZT::DfuStatus::Ok;  // byte 0, bStatus: why the state is dfuERROR
        std::uint32_t PollTimeout = 0;             // bytes 1..3, little-endian, in ms
        ZT::DfuState State = ZT::DfuState::AppIdle; // byte 4, bState
    };

    UsbConnection() = default;
    UsbConnection(const UsbConnection&) = delete;
    UsbConnection& operator=(const UsbConnection&) = delete;
    // Closes the device if it is still open.
    ~UsbConnection();

    // The found-device record the running update works on, as it was when the update began. The
    // connection itself opens whatever path Open is given.
    void SetCurrentDevice(const LUpdateEngine::DeviceDefinitionEx& device);
    [[nodiscard]] const std::optional<LUpdateEngine::DeviceDefinitionEx>& GetCurrentDevice() const noexcept
    {
        return mCurrentDevice;
    }

    // Closes whatever was open, then opens the device at path (a device node as the USB backend
    // lists it) and claims its interface 0. Returns whether the connection is now open; when it
    // is not, GetLastError holds the backend's reason (NotFound, NoDevice, Access, Busy, ...).
    // Blocks briefly, well under a second.
    [[nodiscard]] bool Open(const ZT::WString& path);
    // Releases the device and marks the connection closed. Closing a closed connection does
    // nothing.
    void Close();
    [[nodiscard]] bool IsOpen() const noexcept { return mDevice != nullptr; }

    // DFU_DNLOAD (0x21, 0x01) with wValue blockNumber and length bytes of payload. A length of 0
    // (payload may then be null) with block number 0 is the request to leave DFU mode.
    [[nodiscard]] ZT::UsbError Download(const std::uint8_t* payload, std::uint16_t length, std::uint16_t blockNumber);
    // DFU_GETSTATUS (0xA1, 0x03), 6 bytes. status is filled only when the request succeeds.
    [[nodiscard]] ZT::UsbError GetStatus(StatusReply& status);
    // DFU_CLRSTATUS (0x21, 0x04): takes the bootloader out of dfuERROR.
    [[nodiscard]] ZT::UsbError ClearStatus();
    // DFU_ABORT (0x21, 0x06): back to dfuIDLE from an unfinished download.
    [[nodiscard]] ZT::UsbError Abort();
    // The zero-length DFU_DNLOAD that asks the bootloader to leave DFU mode once it is asked for
    // its status.
    [[nodiscard]] ZT::UsbError Leave();

    // A USB port reset of the open device, which then re-enumerates (at a new path): the
    // connection is closed afterwards either way. None when the reset was carried out; NoDevice
    // when the device had already left the bus (restarting by itself), NotOpen when nothing was
    // open, the backend's reason otherwise. Blocks well under a second.
    [[nodiscard]] ZT::UsbError Reset();

    // The reason of the last failed request or open; None when nothing has failed yet.
    [[nodiscard]] ZT::UsbError GetLastError() const noexcept { return mLastError; }

private:
    [[nodiscard]] ZT::UsbError Transfer(std::uint8_t requestType, ZT::DfuRequest request, std::uint16_t value,
                                        std::uint8_t* data, std::uint16_t length);

    std::optional<LUpdateEngine::DeviceDefinitionEx> mCurrentDevice;
    ZT::RCPtr<ZT::IUsbDeviceConnection> mDevice; // null while closed
    ZT::UsbError mLastError = ZT::UsbError::None;
};
