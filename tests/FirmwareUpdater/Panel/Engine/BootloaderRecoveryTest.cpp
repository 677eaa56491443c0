// Devices left in update mode: which bootloader is which device comes from the serial numbers
// recorded when they entered it, never from a guess. In virtual time on the simulated pair, with
// the test playing the main control's part.

#include "DownloadTestSupport.h"

#include "FirmwareUpdater/Panel/Engine/DualUpdaterHost.h"
#include "tests/Support/Printers.h"
#include "tests/ZTFramework/Threads/DebugCapture.h"

#include <filesystem>
#include <fstream>
#include <optional>

namespace {

using namespace DownloadTest;
using ZT::Testing::CDebugCapture;

// The main control as far as the dual updater sees it: "UPDATE FIRMWARE" pressed again.
class MainControlStandIn final : public IDualUpdaterHost {
public:
    explicit MainControlStandIn(LUpdateEngine* const& engine) : mEngine(engine) {}
    void ContinueUpdateProcess() override
    {
        if (mEngine->GetFirmwareFileState() != FirmwareFileState::FileFoundVersionKnown)
            return;
        if (mEngine->GetDeviceState() == DeviceState::DeviceNotInUpdateMode)
            (void)mEngine->RequestUpdateMode();
        if (mEngine->GetDeviceState() == DeviceState::DeviceInUpdateMode && ZT::Succeeded(mEngine->StartUpdate()))
            ++mStarted;
    }
    bool HasLabel(const ZT::WString&) override { return false; }
    bool GetLabelString(const ZT::WString&, const ZT::WString&, ZT::WString&) override { return false; }
    void SetLabelText(const ZT::WString&, const ZT::WString&) override {}
    void HideButton(const ZT::WString&) override {}

    int mStarted = 0;

private:
    LUpdateEngine* const& mEngine; // follows the fixture's engine across "runs"
};

class BootloaderRecovery : public EngineFixture {
protected:
    BootloaderRecovery() : mUsb(ZT::MakeRC<RecordingUsbBackend>(mSimulator->CreateUsbBackend()))
    {
        ZT::SetUsbBackend(mUsb);
        EXPECT_RESULT_EQ(mEngine->Initialize(ZT::WString()), ZT::S_OK);
        LDualUpdater::SetHost(&mHost);
    }
    ~BootloaderRecovery() override { LDualUpdater::SetHost(nullptr); }

    // A device of kind: at release, in its bootloader with an empty flash (nullopt), or absent.
    ZT::RCPtr<LSimulatedDevice> Plug(SimulatedDeviceKind kind, std::optional<std::uint16_t> release)
    {
        return mSimulator->AddDevice(kind, release);
    }
    void WriteRecord(const std::string& controllerSerial, const std::string& displaySerial)
    {
        CBootloaderRoleRecord record;
        ASSERT_TRUE(record.SetSerial(ProductDevice::Kind::Controller, controllerSerial));
        ASSERT_TRUE(record.SetSerial(ProductDevice::Kind::WheelDisplay, displaySerial));
        std::filesystem::create_directories(mStateFolder);
        std::string message;
        ASSERT_TRUE(record.SaveTo(CBootloaderRoleRecord::GetFilePath(), message)) << message;
    }
    // A new process: a fresh engine and dual updater; the record file stays.
    void StartNewRun()
    {
        LDualUpdater::ReleaseInstance();
        mEngine = EngineTest::MakeProductEngine();
        mEnginePointer = mEngine.Get();
        ASSERT_RESULT_EQ(mEngine->Initialize(ZT::WString()), ZT::S_OK);
        LDualUpdater::SetHost(&mHost);
    }
    // The main control's completion handling: wait for the device, then hand over.
    void CompleteUpdate()
    {
        ASSERT_RESULT_EQ(mEngine->WaitForUpdate(kWorkerWaitMs), ZT::S_OK);
        ASSERT_EQ(mEngine->GetUpdateRunState(true), UpdateRunState::Succeeded);
        ASSERT_RESULT_EQ(WaitForDeviceToReturn(*mEngine), ZT::S_OK);
        LDualUpdater::OnUpdateCompleted(*mEngine, true);
    }
    // The release the device shows in normal mode; nullopt while it is elsewhere.
    static std::optional<std::uint16_t> ReleaseOf(LSimulatedDevice& device)
    {
        const auto info = device.GetUsbInfo();
        if (!info || device.GetMode() != SimulatedDeviceMode::Application)
            return std::nullopt;
        return info->releaseNumber;
    }

    const DfuSeImage mControllerImage = SimulationImagePlan::ForDevice(kControllerDevice).Build();
    const DfuSeImage mDisplayImage = SimulationImagePlan::ForDevice(kWheelDisplayDevice).Build();
    ZT::RCPtr<RecordingUsbBackend> mUsb;
    LUpdateEngine* mEnginePointer = mEngine.Get();
    MainControlStandIn mHost{mEnginePointer};
};

// Both devices in their bootloaders with empty flash: each gets its own image, in one cycle.
TEST_F(BootloaderRecovery, BothInUpdateModeWithARecordEachGetsItsOwnImage)
{
    const auto controller = Plug(SimulatedDeviceKind::Controller, std::nullopt);
    const auto display = Plug(SimulatedDeviceKind::WheelDisplay, std::nullopt);
    ASSERT_NE(controller->GetSerialNumber(), display->GetSerialNumber());
    WriteRecord(controller->GetSerialNumber(), display->GetSerialNumber());

    ASSERT_RESULT_EQ(mEngine->ScanForDevices(), ZT::S_OK);
    ASSERT_EQ(mEngine->GetDeviceState(), DeviceState::DeviceInUpdateMode);
    // The display already in update mode goes first; the engine is aimed at its bootloader.
    EXPECT_FALSE(LDualUpdater::GetInstance()->IsUpdatingController());
    EXPECT_EQ(mEngine->GetDeviceDefinitions()[0].BootloaderSerialNumber, display->GetSerialNumber());
    mHost.ContinueUpdateProcess();
    ASSERT_EQ(mHost.mStarted, 1);
    CompleteUpdate();
    EXPECT_TRUE(FlashHolds(*display, mDisplayImage));
    EXPECT_EQ(ReleaseOf(*display), std::optional<std::uint16_t>(0x0050));
    ASSERT_EQ(mHost.mStarted, 2) << "the controller's download did not follow the display's";
    CompleteUpdate();

    EXPECT_TRUE(FlashHolds(*controller, mControllerImage));
    EXPECT_TRUE(FlashHolds(*display, mDisplayImage));
    EXPECT_EQ(ReleaseOf(*controller), std::optional<std::uint16_t>(0x0031));
    EXPECT_EQ(ReleaseOf(*display), std::optional<std::uint16_t>(0x0050));
    const auto requests = mUsb->GetDescriptions();
    EXPECT_EQ(std::count(requests.begin(), requests.end(), "DNLOAD 0 leave"), 2);
}

struct RefusalCase {
    const char* what;
    std::optional<std::optional<std::uint16_t>> controller; // absent; else release or bootloader
    std::optional<std::optional<std::uint16_t>> display;
    bool strayBootloader; // a bootloader of another product: an STM32 board in DFU mode has the same IDs
    const char* recordText; // nullptr: no record file
    const char* expectedLine;
};

void PrintTo(const RefusalCase& c, std::ostream* out) { *out << c.what; }

class BootloaderRefusal : public BootloaderRecovery, public ::testing::WithParamInterface<RefusalCase> {};

// Without a record that names every bootloader on the bus nothing is written anywhere, and the
// debug output says what to do.
TEST_P(BootloaderRefusal, RefusesWithAMessageAndWritesNothing)
{
    const RefusalCase& c = GetParam();
    std::vector<ZT::RCPtr<LSimulatedDevice>> devices;
    if (c.controller)
        devices.push_back(Plug(SimulatedDeviceKind::Controller, *c.controller));
    if (c.display)
        devices.push_back(Plug(SimulatedDeviceKind::WheelDisplay, *c.display));
    if (c.strayBootloader)
        devices.push_back(Plug(SimulatedDeviceKind::WheelDisplay, std::nullopt));
    if (c.recordText) {
        std::filesystem::create_directories(mStateFolder);
        std::ofstream(CBootloaderRoleRecord::GetFilePath()) << c.recordText;
    }
    std::vector<std::vector<std::uint8_t>> flashBefore;
    for (const auto& device : devices)
        flashBefore.push_back(device->GetFlashDump());

    CDebugCapture capture;
    EXPECT_RESULT_EQ(mEngine->ScanForDevices(), ZT::E_FAIL);
    EXPECT_EQ(mEngine->GetDeviceState(), DeviceState::DeviceCannotBeUpdated);
    EXPECT_TRUE(LDualUpdater::GetInstance()->GetProbeResult().DeviceSetIncomplete);
    EXPECT_TRUE(LDualUpdater::GetInstance()->GetProbeResult().BootloaderUnidentified);
    EXPECT_NE(capture.Text().find(c.expectedLine), std::string::npos) << "debug output:\n" << capture.Text();
    // The user presses "UPDATE FIRMWARE" anyway.
    mHost.ContinueUpdateProcess();
    EXPECT_RESULT_EQ(mEngine->StartUpdate(), ZT::E_FAIL);
    EXPECT_EQ(mHost.mStarted, 0);
    EXPECT_TRUE(mUsb->GetDescriptions().empty()) << mUsb->GetDescriptions().front();
    for (std::size_t i = 0; i < devices.size(); ++i)
        EXPECT_TRUE(devices[i]->GetFlashDump() == flashBefore[i])
            << SimulatedDeviceKindName(devices[i]->GetKind()) << "'s flash changed";
}

constexpr std::optional<std::uint16_t> kInBootloader = std::nullopt;
constexpr const char* kCannotTell = "in update mode and cannot be told apart";
// The stray bootloader is the first wheel display the simulator adds when the real one is absent.
const std::string kStrayGivenToTheController =
    "controller " + SimulatedSerialNumber(SimulatedDeviceKind::WheelDisplay, 0) + "\n";

INSTANTIATE_TEST_SUITE_P(
    WithoutUsableRecord, BootloaderRefusal,
    ::testing::Values(
        RefusalCase{"both in update mode, no record", kInBootloader, kInBootloader, false, nullptr, kCannotTell},
        RefusalCase{"controller in update mode, display unplugged, no record", kInBootloader, std::nullopt, false,
                    nullptr, kCannotTell},
        RefusalCase{"display in update mode, controller unplugged, no record", std::nullopt, kInBootloader, false,
                    nullptr, kCannotTell},
        RefusalCase{"both in update mode, a damaged record", kInBootloader, kInBootloader, false,
                    "controller 2058345D3100\ncontroller 2058345D5000\n", "ignoring the damaged record"},
        RefusalCase{"both in update mode, the record names only the controller", kInBootloader, kInBootloader,
                    false, "controller 2058345D3100\n", kCannotTell},
        RefusalCase{"a bootloader of another product alone", std::nullopt, std::nullopt, true,
                    "controller 1111\nwheel-display 2222\n", kCannotTell},
        RefusalCase{"both in normal mode and a third device in update mode", std::optional<std::uint16_t>(0x0030),
                    std::optional<std::uint16_t>(0x0049), true, nullptr, "another device is in update mode"},
        // The controller in normal mode and one bootloader: without a record it would be taken
        // as the wheel display; the record names another serial for the display.
        RefusalCase{"the controller and a bootloader the record does not know", std::optional<std::uint16_t>(0x0030),
                    std::nullopt, true, "wheel-display 2058345D50FF\n",
                    "is not the wheel display the record knows: "},
        RefusalCase{"the controller and a bootloader the record gives to the controller",
                    std::optional<std::uint16_t>(0x0030), std::nullopt, true, kStrayGivenToTheController.c_str(),
                    "gives that serial number to the controller, which is in normal mode"}));

// Two controllers beside the wheel display: which one would be written depends on the order the
// bus lists them. Nothing is switched or written, and the run says what to do.
TEST_F(BootloaderRecovery, TwoUnitsOfOneKindAreRefused)
{
    const std::vector<ZT::RCPtr<LSimulatedDevice>> devices{Plug(SimulatedDeviceKind::Controller, 0x0030),
                                                           Plug(SimulatedDeviceKind::Controller, 0x0030),
                                                           Plug(SimulatedDeviceKind::WheelDisplay, 0x0049)};
    CDebugCapture capture;
    EXPECT_RESULT_EQ(mEngine->ScanForDevices(), ZT::E_FAIL);
    EXPECT_EQ(mEngine->GetDeviceState(), DeviceState::DeviceCannotBeUpdated);
    EXPECT_TRUE(LDualUpdater::GetInstance()->GetProbeResult().DuplicateDevice);
    EXPECT_NE(capture.Text().find("2 Halvard XR4000 NOVA units (controllers) are plugged in"), std::string::npos)
        << capture.Text();
    EXPECT_NE(capture.Text().find("unplug all but one XR4000 NOVA"), std::string::npos) << capture.Text();

    mHost.ContinueUpdateProcess();
    EXPECT_EQ(mHost.mStarted, 0);
    for (const auto& device : devices) {
        EXPECT_EQ(device->GetMode(), SimulatedDeviceMode::Application) << SimulatedDeviceKindName(device->GetKind());
        EXPECT_TRUE(device->GetRequestLog().empty()) << SimulatedDeviceKindName(device->GetKind());
    }
}

// A scan, as a query makes one, only reads the record; the download that starts on the
// bootloader writes it.
TEST_F(BootloaderRecovery, AScanNeverWritesTheRecordAndTheDownloadDoes)
{
    (void)Plug(SimulatedDeviceKind::Controller, 0x0030);
    const auto display = Plug(SimulatedDeviceKind::WheelDisplay, kInBootloader);
    ASSERT_RESULT_EQ(mEngine->ScanForDevices(), ZT::S_OK);
    ASSERT_EQ(mEngine->GetDeviceState(), DeviceState::DeviceInUpdateMode);
    EXPECT_FALSE(std::filesystem::exists(CBootloaderRoleRecord::GetFilePath())) << "the scan wrote the record";

    mHost.ContinueUpdateProcess();
    ASSERT_EQ(mHost.mStarted, 1);
    ASSERT_RESULT_EQ(mEngine->WaitForUpdate(kWorkerWaitMs), ZT::S_OK);
    EXPECT_EQ(CBootloaderRoleRecord::Load().GetSerial(ProductDevice::Kind::WheelDisplay), display->GetSerialNumber());
    EXPECT_TRUE(FlashHolds(*display, mDisplayImage));
}

// A first run switches the controller into update mode and is cut there; the wheel display is
// then unplugged. The second run has only a bootloader to go by and finds it in the record.
TEST_F(BootloaderRecovery, TheRecordOfAnInterruptedRunLetsTheNextRunFinishTheDevice)
{
    const auto controller = Plug(SimulatedDeviceKind::Controller, 0x0030);
    const auto display = Plug(SimulatedDeviceKind::WheelDisplay, 0x0049);
    ASSERT_RESULT_EQ(mEngine->ScanForDevices(), ZT::S_OK);
    ASSERT_TRUE(LDualUpdater::GetInstance()->IsUpdatingController());
    ASSERT_RESULT_EQ(mEngine->RequestUpdateMode(), ZT::S_OK);
    EXPECT_EQ(CBootloaderRoleRecord::Load().GetSerial(ProductDevice::Kind::Controller), controller->GetSerialNumber());

    // Cut: the process ends here. The display goes; the controller stays in its bootloader.
    StartNewRun();
    display->Unplug();
    ASSERT_EQ(controller->GetMode(), SimulatedDeviceMode::Bootloader);

    ASSERT_RESULT_EQ(mEngine->ScanForDevices(), ZT::S_OK);
    ASSERT_EQ(mEngine->GetDeviceState(), DeviceState::DeviceInUpdateMode);
    EXPECT_TRUE(LDualUpdater::GetInstance()->IsUpdatingController());
    mHost.ContinueUpdateProcess();
    ASSERT_EQ(mHost.mStarted, 1);
    CompleteUpdate();
    EXPECT_TRUE(FlashHolds(*controller, mControllerImage));
    EXPECT_EQ(ReleaseOf(*controller), std::optional<std::uint16_t>(0x0031));
    EXPECT_TRUE(display->GetRequestLog().empty());
}

} // namespace
