#include "DownloadTestSupport.h"

#include "tests/Support/Printers.h"

#include <cstdio>

namespace DownloadTest {

namespace {

std::string Hex32(std::uint32_t value)
{
    char text[16];
    std::snprintf(text, sizeof text, "0x%08X", static_cast<unsigned>(value));
    return text;
}

std::uint32_t CommandAddress(const std::vector<std::uint8_t>& data)
{
    return static_cast<std::uint32_t>(data[1]) | (static_cast<std::uint32_t>(data[2]) << 8) |
           (static_cast<std::uint32_t>(data[3]) << 16) | (static_cast<std::uint32_t>(data[4]) << 24);
}

// Passes every transfer on to the device and records it with its outcome.
class RecordingConnection final : public ZT::IUsbDeviceConnection {
public:
    RecordingConnection(ZT::RCPtr<ZT::IUsbDeviceConnection> inner, RecordingUsbBackend& backend)
        : mInner(std::move(inner)), mBackend(backend)
    {
    }

    bool ControlTransfer(std::uint8_t bmRequestType, std::uint8_t bRequest, std::uint16_t wValue, std::uint16_t wIndex,
                         std::uint8_t* data, std::uint16_t wLength) override
    {
        SentRequest sent;
        sent.request = bRequest;
        sent.value = wValue;
        sent.length = wLength;
        const bool toDevice = (bmRequestType & 0x80) == 0;
        if (toDevice && data != nullptr)
            sent.dataOut.assign(data, data + wLength);
        sent.succeeded = mInner->ControlTransfer(bmRequestType, bRequest, wValue, wIndex, data, wLength);
        sent.error = mInner->GetLastError();
        if (sent.succeeded && !toDevice && bRequest == 0x03 && wLength >= 5)
            sent.stateInReply = data[4];
        const bool succeeded = sent.succeeded;
        mBackend.Record(std::move(sent));
        return succeeded;
    }
    ZT::UsbError GetLastError() const override { return mInner->GetLastError(); }
    std::uint16_t GetLastTransferredLength() const override { return mInner->GetLastTransferredLength(); }
    bool Reset() override
    {
        SentRequest sent;
        sent.request = SentRequest::kResetRecorded;
        sent.succeeded = mInner->Reset();
        sent.error = mInner->GetLastError();
        const bool succeeded = sent.succeeded;
        mBackend.Record(std::move(sent));
        return succeeded;
    }
    void Close() override { mInner->Close(); }

private:
    const ZT::RCPtr<ZT::IUsbDeviceConnection> mInner;
    RecordingUsbBackend& mBackend; // the backend outlives its connections in every test
};

} // namespace

std::string SentRequest::Describe() const
{
    std::string text;
    switch (request) {
    case 0x01:
        if (length == 0)
            text = "DNLOAD " + std::to_string(value) + " leave";
        else if (value == 0 && length == 5 && dataOut.size() == 5 && dataOut[0] == 0x41)
            text = "DNLOAD 0 erase " + Hex32(CommandAddress(dataOut));
        else if (value == 0 && length == 5 && dataOut.size() == 5 && dataOut[0] == 0x21)
            text = "DNLOAD 0 set " + Hex32(CommandAddress(dataOut));
        else
            text = "DNLOAD " + std::to_string(value) + " " + std::to_string(length) + " bytes";
        break;
    case 0x03:
        text = succeeded ? "GETSTATUS " + std::to_string(stateInReply) : "GETSTATUS";
        break;
    case 0x04: text = "CLRSTATUS"; break;
    case 0x06: text = "ABORT"; break;
    case kResetRecorded: text = "RESET"; break;
    default: text = "request " + std::to_string(request); break;
    }
    if (!succeeded)
        text += std::string(" !") + ZT::UsbErrorName(error);
    return text;
}

ZT::RCPtr<ZT::IUsbDeviceConnection> RecordingUsbBackend::Open(const std::string& path, ZT::UsbError& error)
{
    ZT::RCPtr<ZT::IUsbDeviceConnection> inner = mInner->Open(path, error);
    if (!inner)
        return nullptr;
    return ZT::MakeRC<RecordingConnection>(inner, *this);
}

void RecordingUsbBackend::Record(SentRequest request)
{
    std::lock_guard lock(mMutex);
    mRequests.push_back(std::move(request));
}

std::vector<std::string> RecordingUsbBackend::GetDescriptions() const
{
    std::lock_guard lock(mMutex);
    std::vector<std::string> descriptions;
    for (const SentRequest& request : mRequests)
        descriptions.push_back(request.Describe());
    return descriptions;
}

std::size_t RecordingUsbBackend::CountDataBlocks() const
{
    std::lock_guard lock(mMutex);
    std::size_t count = 0;
    for (const SentRequest& request : mRequests)
        count += request.request == 0x01 && request.value >= 2 ? 1 : 0;
    return count;
}

void RecordingUsbBackend::Clear()
{
    std::lock_guard lock(mMutex);
    mRequests.clear();
}

DfuSeImage MakeImage(std::uint32_t address, std::size_t size, std::uint16_t release, std::uint32_t seed)
{
    DfuSeImage image;
    image.ElementAddress = address;
    image.ElementData.resize(size);
    for (std::size_t i = 0; i < size; ++i)
        image.ElementData[i] = static_cast<std::uint8_t>((i * 131 + seed * 17 + (i >> 11)) & 0xFF);
    (void)WriteVersionRecord(std::span<std::uint8_t>(image.ElementData), release); // too short: no record
    return image;
}

DownloadFixture::DownloadFixture(std::uint16_t controllerRelease, std::uint16_t displayRelease)
    : mControllerImage(SimulationImagePlan::ForDevice(kControllerDevice).Build()),
      mDisplayImage(SimulationImagePlan::ForDevice(kWheelDisplayDevice).Build()),
      mController(AddController(controllerRelease)),
      mDisplay(AddDisplay(displayRelease)),
      mUsb(ZT::MakeRC<RecordingUsbBackend>(mSimulator->CreateUsbBackend()))
{
    ZT::SetUsbBackend(mUsb);
    mRecorder->Register(mCenter.Get(), LUpdateEngineInterface::kNidFirmwareUpdateProgress);
    EXPECT_RESULT_EQ(mEngine->Initialize(ZT::WString()), ZT::S_OK);
}

DownloadFixture::~DownloadFixture()
{
    mClock.mAfterSleep = nullptr;
}

void DownloadFixture::ScanAndEnterUpdateMode()
{
    ASSERT_RESULT_EQ(mEngine->ScanForDevices(), ZT::S_OK);
    if (mEngine->GetDeviceState() == DeviceState::DeviceNotInUpdateMode) {
        ASSERT_RESULT_EQ(mEngine->RequestUpdateMode(), ZT::S_OK);
    }
    ASSERT_EQ(mEngine->GetDeviceState(), DeviceState::DeviceInUpdateMode);
}

void DownloadFixture::UseImage(const DfuSeImage& image)
{
    const auto path = mTemp.Write("test-image.dfu", image.ToBytes());
    ASSERT_RESULT_EQ(mEngine->SetFirmwareFileWithVersion(ZT::WString(path.string().c_str()),
                                                         FirmwareVersion(0, 0, 3, 1, ZT::WString("00.31"))),
                     ZT::S_OK);
}

UpdateRunState DownloadFixture::RunUpdate()
{
    EXPECT_RESULT_EQ(mEngine->StartUpdate(), ZT::S_OK);
    EXPECT_RESULT_EQ(mEngine->WaitForUpdate(kWorkerWaitMs), ZT::S_OK);
    return mEngine->GetUpdateRunState(false);
}

LUpdateEngine::DeviceDefinitionEx DownloadFixture::SelectedRecord() const
{
    LUpdateEngine::DeviceDefinitionEx record;
    const std::int32_t selected = mEngine->GetSelectedDeviceIndex();
    EXPECT_GE(selected, 0);
    EXPECT_TRUE(mEngine->GetFoundDevice(static_cast<std::uint32_t>(selected < 0 ? 0 : selected), record));
    return record;
}

std::vector<double> DownloadFixture::TakeProgress()
{
    Deliver();
    auto fractions = mRecorder->Collect<ZT::LFirmwareUpdateProgressNotificationData>(
        [](const auto& progress) { return progress.GetFractionComplete(); });
    mRecorder->mReceived.clear();
    return fractions;
}

::testing::AssertionResult FlashHolds(LSimulatedDevice& device, const DfuSeImage& image)
{
    const auto flash = device.ReadFlash(image.ElementAddress, image.ElementData.size());
    if (!flash)
        return ::testing::AssertionFailure() << "the element leaves the flash";
    for (std::size_t i = 0; i < flash->size(); ++i) {
        if ((*flash)[i] != image.ElementData[i])
            return ::testing::AssertionFailure()
                   << SimulatedDeviceKindName(device.GetKind()) << "'s flash differs at "
                   << Hex32(static_cast<std::uint32_t>(image.ElementAddress + i)) << ": "
                   << ZT::Testing::Hex((*flash)[i], 2) << " instead of " << ZT::Testing::Hex(image.ElementData[i], 2);
    }
    return ::testing::AssertionSuccess();
}

} // namespace DownloadTest
