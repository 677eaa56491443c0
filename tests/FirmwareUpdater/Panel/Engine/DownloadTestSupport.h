#pragma once
// What the download tests add to the engine fixture: the product's two devices with chosen
// firmware releases, the images in the product files, test images of any shape, the engine's
// progress, and a record of every USB request the engine sends.
//
// The simulator is the hardware: tests inject its faults and read its flash. The engine's
// requests are recorded on their way to it, so that requests to a device that has already left
// the bus (an abort after the device has reset) are seen as well.

#include "UpdateEngineTestSupport.h"

#include "FirmwareUpdater/Panel/Engine/FirmwareUpdateProgressNotificationData.h"
#include "FirmwareUpdater/Panel/Engine/WaitForDeviceToReturn.h"
#include "Simulator/FirmwareVersionRecord.h"
#include "tools/DfuSeImage.h"

#include <mutex>
#include <string>
#include <vector>

namespace DownloadTest {

using namespace EngineTest;

// A real wait for the worker; in virtual time a whole update takes well under a second.
inline constexpr std::uint32_t kWorkerWaitMs = 60000;

// One control transfer as the engine sent it.
struct SentRequest {
    // A USB port reset is recorded with this request number, which no DFU request uses.
    static constexpr std::uint8_t kResetRecorded = 0xFF;

    std::uint8_t request = 0;
    std::uint16_t value = 0;
    std::uint16_t length = 0;
    std::vector<std::uint8_t> dataOut;
    bool succeeded = false;
    ZT::UsbError error = ZT::UsbError::None;
    std::uint8_t stateInReply = 0xFF; // byte 4 of a GETSTATUS reply

    // "GETSTATUS 4", "DNLOAD 0 erase 0x08008000", "DNLOAD 0 set 0x08009000", "DNLOAD 3 2048 bytes",
    // "DNLOAD 0 leave", "CLRSTATUS", "ABORT", "RESET"; a failed request ends in " !" and its error
    // ("ABORT !NoDevice").
    [[nodiscard]] std::string Describe() const;
};

// Passes everything on to the simulator's backend and records the engine's control transfers.
class RecordingUsbBackend final : public ZT::IUsbBackend {
public:
    explicit RecordingUsbBackend(ZT::RCPtr<ZT::IUsbBackend> inner) : mInner(std::move(inner)) {}

    ZT::ZTRESULT ListDevices(std::vector<ZT::UsbDeviceInfo>& devices) override { return mInner->ListDevices(devices); }
    ZT::RCPtr<ZT::IUsbDeviceConnection> Open(const std::string& path, ZT::UsbError& error) override;
    bool IsSimulated() const override { return mInner->IsSimulated(); }

    void Record(SentRequest request);
    // Describe() of each request sent since the last Clear.
    [[nodiscard]] std::vector<std::string> GetDescriptions() const;
    // Data blocks (DNLOAD with a block number of 2 or more) sent since the last Clear.
    [[nodiscard]] std::size_t CountDataBlocks() const;
    void Clear();

private:
    const ZT::RCPtr<ZT::IUsbBackend> mInner;
    mutable std::mutex mMutex;
    std::vector<SentRequest> mRequests; // guarded by mMutex
};

// An image for the devices' application area: size bytes at address, carrying the simulated
// firmware's version record for release when it is large enough to hold one.
[[nodiscard]] DfuSeImage MakeImage(std::uint32_t address, std::size_t size, std::uint16_t release, std::uint32_t seed = 1);

// The controller at 00.30 and the wheel display at 00.50 unless a test says otherwise, so the
// dual updater's target is the controller.
// Whether the device's flash holds the image's element where the image says.
[[nodiscard]] ::testing::AssertionResult FlashHolds(LSimulatedDevice& device, const DfuSeImage& image);

class DownloadFixture : public EngineFixture {
protected:
    explicit DownloadFixture(std::uint16_t controllerRelease = 0x0030, std::uint16_t displayRelease = 0x0050);
    ~DownloadFixture() override;

    // What the user's scan and "UPDATE FIRMWARE" do up to the bootloader: the dual updater
    // chooses the target, the engine finds it and switches it into update mode.
    void ScanAndEnterUpdateMode();
    // Replaces the engine's firmware file with image (after the scan, which configures the
    // product file), as the file dialog does.
    void UseImage(const DfuSeImage& image);
    // StartUpdate and a wait for the worker; the run state it ends with.
    UpdateRunState RunUpdate();
    // The record of the engine's selected device.
    [[nodiscard]] LUpdateEngine::DeviceDefinitionEx SelectedRecord() const;
    // Delivers what the engine posted and gives the progress fractions received.
    [[nodiscard]] std::vector<double> TakeProgress();

    const DfuSeImage mControllerImage;
    const DfuSeImage mDisplayImage;
    ZT::RCPtr<LSimulatedDevice> mController;
    ZT::RCPtr<LSimulatedDevice> mDisplay;
    ZT::RCPtr<RecordingUsbBackend> mUsb;
};

} // namespace DownloadTest
