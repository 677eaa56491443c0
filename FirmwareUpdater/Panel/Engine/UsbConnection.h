#pragma once
// The engine's line to a device in update mode: USB DFU 1.1 class requests on the default control
// pipe of its bootloader, sent to interface 0.
//
// Every request returns kRequestSucceeded (0) or kRequestFailed (-70). After a failure
// GetLastError tells why: the backend's UsbError number (Pipe -9 for a stall, Timeout -7,
// NoDevice -4, ...), or kNotOpenError (-50) when the request was attempted while no device was
// open. Nothing is retried here.
//
// One connection belongs to one engine and lives as long as it does. It is used by one thread at a
// time: the engine's worker during a download, the thread that initialises or destroys the engine
// otherwise. It takes no lock. Every request blocks until the device answers, at most
// ZT::kUsbControlTransferTimeoutMs (5 s); a bootloader holds back its status reply during an erase
// for as long as the erase takes, well within that bound.

#include "FirmwareUpdater/Panel/Engine/UpdateEngine.h"
#include "ZTFramework/ObjectBase/RCPtr.h"
#include "ZTFramework/Usb/UsbDeviceConnection.h"
#include "ZTFramework/Utilities/Storage/StringT.h"

#include <cstdint>
#include <optional>

class UsbConnection {
public:
    static constexpr std::int32_t kRequestSucceeded = 0;
    static constexpr std::int32_t kRequestFailed = -70;
    // The last error of a request attempted while the connection was not open.
    static constexpr std::int32_t kNotOpenError = -50;

    // DFU 1.1 bootloader states that the download looks for or clears.
    static constexpr std::uint32_t kStateDfuIdle = 2;
    static constexpr std::uint32_t kStateDfuDownloadSync = 3;
    static constexpr std::uint32_t kStateDfuDownloadBusy = 4;
    static constexpr std::uint32_t kStateDfuDownloadIdle = 5;
    static constexpr std::uint32_t kStateDfuManifestSync = 6;
    static constexpr std::uint32_t kStateDfuUploadIdle = 9;
    static constexpr std::uint32_t kStateDfuError = 10;

    // A GETSTATUS reply, decoded. Bytes the device did not send read as 0xFF, so a short reply
    // gives a state of 0xFF, which the download never expects.
    struct DfuStatus {
        std::uint32_t Status = 0;      // byte 0, bStatus: not examined by the download
        std::uint32_t PollTimeout = 0; // bytes 1..3, little-endian, in ms: decoded only for logs
        std::uint32_t State = 0;       // byte 4, bState
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
    [[nodiscard]] std::int32_t Download(const std::uint8_t* payload, std::uint16_t length, std::uint16_t blockNumber);
    // DFU_GETSTATUS (0xA1, 0x03), 6 bytes. status is filled only when the request succeeds.
    [[nodiscard]] std::int32_t GetStatus(DfuStatus& status);
    // DFU_CLRSTATUS (0x21, 0x04): takes the bootloader out of dfuERROR.
    [[nodiscard]] std::int32_t ClearStatus();
    // DFU_ABORT (0x21, 0x06): back to dfuIDLE from an unfinished download.
    [[nodiscard]] std::int32_t Abort();
    // The zero-length DFU_DNLOAD that asks the bootloader to leave DFU mode once it is asked for
    // its status.
    [[nodiscard]] std::int32_t Leave();

    // The backend's UsbError of the last failed request or open, as its number; kNotOpenError
    // after a request on a closed connection; 0 when nothing has failed yet.
    [[nodiscard]] std::int32_t GetLastError() const noexcept { return mLastError; }

    // "Pipe", "NoDevice", ... for a backend error; "ConnectionNotOpen" for kNotOpenError.
    [[nodiscard]] static const char* ErrorName(std::int32_t lastError) noexcept;
    // The DFU 1.1 name of a state, "dfuDNLOAD-IDLE"; "unknown" for a number DFU does not define.
    [[nodiscard]] static const char* StateName(std::uint32_t state) noexcept;

private:
    [[nodiscard]] std::int32_t Transfer(std::uint8_t requestType, std::uint8_t request, std::uint16_t value,
                                        std::uint8_t* data, std::uint16_t length);

    std::optional<LUpdateEngine::DeviceDefinitionEx> mCurrentDevice;
    ZT::RCPtr<ZT::IUsbDeviceConnection> mDevice; // null while closed
    std::int32_t mLastError = 0;
};
