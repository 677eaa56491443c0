// The update processor in this process, on the simulated devices in virtual time: what the
// options turn into, query mode, and automatic and silent mode with and without the run that
// stands in for the window.

#include "FirmwareUpdater/Panel/CommandLineRun.h"
#include "FirmwareUpdater/Panel/Engine/ApplicationFolder.h"
#include "FirmwareUpdater/Panel/Engine/DualUpdater.h"
#include "FirmwareUpdater/Panel/Engine/ProductDevice.h"
#include "FirmwareUpdater/Panel/Engine/UpdateProcessor.h"
#include "Simulator/DeviceSimulator.h"
#include "Simulator/SimulatedDevice.h"
#include "ZTFramework/Midi/MidiComm.h"
#include "ZTFramework/Midi/MidiOutputBackend.h"
#include "ZTFramework/Notification/NotificationCenterManager.h"
#include "ZTFramework/Time/Clock.h"
#include "ZTFramework/Time/VirtualClock.h"
#include "ZTFramework/Usb/UsbBackend.h"
#include "tools/SimulationImagePlan.h"
#include "tests/ZTFramework/Utilities/Storage/TempFolder.h"

#include <gtest/gtest.h>

#include <filesystem>

namespace {

namespace fs = std::filesystem;
using DeviceState = LUpdateEngineInterface::DeviceState;
using FirmwareFileState = LUpdateEngineInterface::FirmwareFileState;
using DeviceDefinition = LUpdateEngineInterface::DeviceDefinition;
constexpr std::optional<std::uint16_t> kInBootloader = std::nullopt;

ZT::WString W(const std::string& text)
{
    return ZT::WString(text.c_str());
}

// ---- What the options turn into -------------------------------------------------------------------

TEST(ProcessorOptions, DeviceDefinitionFromTheCommandLine)
{
    struct Ids {
        std::uint32_t VendorId, ProductId, BootloaderVendorId, BootloaderProductId;
    };
    struct Case {
        const char* commandLine;
        Ids expected;
    };
    const Case cases[] = {
        {"updater", {0x2C1A, 0x8010, 0x0483, 0xDF11}},
        {"updater -DEVICE_PID=32784", {0x2C1A, 32784, 0x2C1A, 0xDF11}},
        {"updater -device_pid=100 -Device_Vid=200", {200, 100, 200, 0xDF11}},
        {"updater -DEVICE_VID=200", {0x2C1A, 0x8010, 0x0483, 0xDF11}}, // no effect alone
        {"updater -DEVICE_PID=100 -DEVICE_BOOTLOADER_PID=300", {0x2C1A, 100, 0x2C1A, 300}},
        {"updater -DEVICE_BOOTLOADER_PID=300", {0, 0, 0, 300}},
        {"updater -DEVICE_PID=0x8010", {0x2C1A, 0, 0x2C1A, 0xDF11}}, // hexadecimal reads as 0
        {"updater -DEVICE_PID=12abc", {0x2C1A, 12, 0x2C1A, 0xDF11}},
        {"updater -DEVICE_PID=-1", {0x2C1A, 0xFFFFFFFF, 0x2C1A, 0xDF11}},
        {"updater -DEVICE_PID= 5", {0x2C1A, 0x8010, 0x0483, 0xDF11}}, // a blank value is no option
        {"updater -DEVICE_PID=", {0x2C1A, 0, 0x2C1A, 0xDF11}},         // present, empty: 0
    };
    for (const Case& c : cases) {
        const DeviceDefinition definition = LUpdateProcessor::DeviceDefinitionFromOptions(W(c.commandLine), 0x8010);
        EXPECT_EQ(definition.VendorId, c.expected.VendorId) << c.commandLine;
        EXPECT_EQ(definition.ProductId, c.expected.ProductId) << c.commandLine;
        EXPECT_EQ(definition.BootloaderVendorId, c.expected.BootloaderVendorId) << c.commandLine;
        EXPECT_EQ(definition.BootloaderProductId, c.expected.BootloaderProductId) << c.commandLine;
    }
}

TEST(ProcessorOptions, FirmwareFileFromTheCommandLine)
{
    struct Case {
        const char* commandLine;
        const char* expected;
    };
    const Case cases[] = {
        {"updater", "/opt/x/qx31_tp_update_00_31_120936.dfu"},
        {"updater -FIRMWARE_IMAGE_NAME=Mine.DFU", "/opt/x/Mine.DFU"},
        {"updater -firmware_image_name=\"with blank.dfu\" -SILENT", "/opt/x/with blank.dfu"},
        {"updater -ABSOLUTE_FIRMWARE_FILE_PATH=\"/My Files/a.dfu\" -FIRMWARE_IMAGE_NAME=b.dfu", "/My Files/a.dfu"},
        {"updater -ABSOLUTE_FIRMWARE_FILE_PATH=/My Files/a.dfu", "/My"},
        {"updater -ABSOLUTE_FIRMWARE_FILE_PATH=\"/unclosed quote/a.dfu -SILENT", "/unclosed quote/a.dfu -SILENT"},
        {"updater -ABSOLUTE_FIRMWARE_FILE_PATH= /x.dfu", "/opt/x/qx31_tp_update_00_31_120936.dfu"},
        {"updater -ABSOLUTE_FIRMWARE_FILE_PATH=", ""},
    };
    for (const Case& c : cases)
        EXPECT_EQ(LUpdateProcessor::FirmwareFileFromOptions(W(c.commandLine), W("/opt/x")).ToUTF8(), c.expected)
            << c.commandLine;
}

// ---- The processor on simulated devices ---------------------------------------------------------

class Processor : public ::testing::Test {
protected:
    Processor()
    {
        ZT::SetClock(&mClock);
        LDualUpdater::ReleaseInstance();
        LUpdateProcessor::SetExitStatus(0);
        mCenter = ZT::LNotificationCenterManager::GetInstance()->GetCenter(
            ZT::WString(LUpdateEngineInterface::kApplicationCenterName));
        (void)mCenter->Flush();
        for (const ProductDevice* device : {&kControllerDevice, &kWheelDisplayDevice})
            (void)mTemp.Write(device->FirmwareFileName, SimulationImagePlan::ForDevice(*device).Build().ToBytes());
        SetApplicationFolder(W(mFolder.string()));
        mSimulator->Install();
    }
    ~Processor() override
    {
        if (mRun)
            mRun->Detach();
        mRun = nullptr;
        mProcessor = nullptr;
        LDualUpdater::ReleaseInstance();
        ZT::LMidiComm::GetInstance()->CloseAllRenderPorts();
        ZT::SetUsbBackend(nullptr);
        ZT::SetMidiOutputBackend(nullptr);
        SetApplicationFolder(ZT::WString());
        (void)mCenter->Flush();
        LUpdateProcessor::SetExitStatus(0);
        ZT::SetClock(nullptr);
    }

    void Plug(std::optional<std::uint16_t> controller, std::optional<std::uint16_t> display)
    {
        mController = mSimulator->AddDevice(SimulatedDeviceKind::Controller, controller);
        mDisplay = mSimulator->AddDevice(SimulatedDeviceKind::WheelDisplay, display);
    }
    // The run that stands in for the window, as the application puts it in place.
    void WithCommandLineRun()
    {
        mRun = ZT::MakeRC<LCommandLineRun>(mProcessor->GetEngine(), nullptr);
        mRun->Attach();
        mProcessor->SetHost(mRun.Get());
    }
    // A fresh process: new devices, no dual updater, a new processor.
    void StartAfresh()
    {
        mSimulator = ZT::MakeRC<LDeviceSimulator>();
        mSimulator->Install();
        LDualUpdater::ReleaseInstance();
        mProcessor = ZT::MakeRC<LUpdateProcessor>();
    }
    ZT::ZTRESULT Initialize(const std::string& options) { return mProcessor->Initialize(W("updater " + options)); }
    ZT::WString EnginePath() const
    {
        ZT::WString path;
        (void)mProcessor->GetEngine()->GetFirmwareFilePath(path);
        return path;
    }

    ZT::VirtualClock mClock;
    ZT::RCPtr<ZT::LNotificationCenter> mCenter;
    ZT::Testing::TempFolder mTemp{"zt-processor"};
    const fs::path mFolder = mTemp.Path();
    ZT::RCPtr<LDeviceSimulator> mSimulator = ZT::MakeRC<LDeviceSimulator>();
    ZT::RCPtr<LSimulatedDevice> mController;
    ZT::RCPtr<LSimulatedDevice> mDisplay;
    ZT::RCPtr<LUpdateProcessor> mProcessor = ZT::MakeRC<LUpdateProcessor>();
    ZT::RCPtr<LCommandLineRun> mRun;
};

TEST_F(Processor, QueryModeSetsTheExitStatusFromWhatTheScanFound)
{
    struct Case {
        const char* name;
        bool plugged;
        std::optional<std::uint16_t> controller;
        std::optional<std::uint16_t> display;
        std::int32_t status;
        DeviceState state;
    };
    const Case cases[] = {
        {"nothing", false, {}, {}, 1, DeviceState::NoDeviceFound},
        {"display in update mode", true, 0x0031, kInBootloader, 3, DeviceState::DeviceInUpdateMode},
        {"up to date", true, 0x0031, 0x0050, 4, DeviceState::DeviceNotInUpdateMode},
        {"both old", true, 0x0030, 0x0049, 5, DeviceState::DeviceNotInUpdateMode},
    };
    for (const Case& c : cases) {
        StartAfresh();
        LUpdateProcessor::SetExitStatus(0);
        if (c.plugged)
            Plug(c.controller, c.display);
        EXPECT_EQ(Initialize("-RETURN_UPDATE_MODE_STATUS -SILENT"), ZT::ZTRESULT_EXIT_APPLICATION) << c.name;
        EXPECT_EQ(LUpdateProcessor::GetExitStatus(), c.status) << c.name;
        EXPECT_EQ(mProcessor->GetEngine()->GetDeviceState(), c.state) << c.name;
        EXPECT_FALSE(mController && mController->GetMode() != SimulatedDeviceMode::Application &&
                     c.controller.has_value())
            << c.name << ": query mode never touches a device";
        mController = nullptr;
        mDisplay = nullptr;
    }
}

TEST_F(Processor, AnIncompleteSetKeepsTheCommandLinesChoicesAndAskingAgainAnswersAtOnce)
{
    mController = mSimulator->AddDevice(SimulatedDeviceKind::Controller, 0x0030);
    const std::string path = (mFolder / "qx31_tp_update_00_31_120936.dfu").string();
    fs::copy_file(path, mFolder / "my file.dfu");
    const std::string options = "-DEVICE_PID=32784 -ABSOLUTE_FIRMWARE_FILE_PATH=\"" + (mFolder / "my file.dfu").string() + "\"";

    EXPECT_EQ(Initialize(options), ZT::S_OK) << "the window would show the reason";
    const auto engine = mProcessor->GetEngine();
    EXPECT_EQ(engine->GetDeviceState(), DeviceState::DeviceCannotBeUpdated);
    EXPECT_EQ(EnginePath().ToUTF8(), (mFolder / "my file.dfu").string());
    EXPECT_EQ(engine->GetFirmwareFileState(), FirmwareFileState::FileFoundVersionKnown);
    // The definition the option makes (see DeviceDefinitionFromTheCommandLine) is the engine's.
    ASSERT_EQ(engine->GetDeviceDefinitions().GetCount(), 1);
    EXPECT_EQ(engine->GetDeviceDefinitions()[0].ProductId, 32784u);
    EXPECT_EQ(engine->GetDeviceDefinitions()[0].BootloaderVendorId, 0x2C1Au);
    EXPECT_EQ(LUpdateProcessor::GetExitStatus(), 0);

    // "TRY AGAIN" from DeviceCannotBeUpdated returns before choosing anything again.
    fs::remove(mFolder / "my file.dfu");
    EXPECT_EQ(mProcessor->Reinitialize(), ZT::S_OK);
    EXPECT_EQ(engine->GetFirmwareFileState(), FirmwareFileState::FileFoundVersionKnown);

    // In query mode that state answers 1 at once.
    auto query = ZT::MakeRC<LUpdateProcessor>();
    EXPECT_EQ(query->Initialize(W("updater -RETURN_UPDATE_MODE_STATUS")), ZT::ZTRESULT_EXIT_APPLICATION);
    EXPECT_EQ(LUpdateProcessor::GetExitStatus(), 1);
}

TEST_F(Processor, SilentWithTheCommandLineRunUpdatesBothDevicesInOneWait)
{
    Plug(0x0030, 0x0049);
    WithCommandLineRun();
    EXPECT_EQ(Initialize("-SILENT"), ZT::ZTRESULT_EXIT_APPLICATION);
    EXPECT_EQ(mController->GetFlashReleaseNumber(), std::optional<std::uint16_t>(0x0031));
    EXPECT_EQ(mDisplay->GetFlashReleaseNumber(), std::optional<std::uint16_t>(0x0050));
    EXPECT_EQ(mController->GetMode(), SimulatedDeviceMode::Application);
    EXPECT_EQ(mDisplay->GetMode(), SimulatedDeviceMode::Application);
    EXPECT_EQ(mRun->GetSummary().Succeeded, 2u);
    EXPECT_EQ(mRun->GetSummary().Failed, 0u);
    EXPECT_EQ(LUpdateProcessor::GetExitStatus(), 0);
    EXPECT_TRUE(mProcessor->IsNotUpdating());
}

TEST_F(Processor, SilentWithoutAHostWaitsForTheFirstDeviceOnly)
{
    Plug(0x0030, 0x0049);
    EXPECT_EQ(Initialize("-SILENT"), ZT::ZTRESULT_EXIT_APPLICATION);
    EXPECT_EQ(mController->GetFlashReleaseNumber(), std::optional<std::uint16_t>(0x0031));
    EXPECT_EQ(mDisplay->GetFlashReleaseNumber(), std::optional<std::uint16_t>(0x0049))
        << "nobody delivered the completion, so the dual updater never went on";
}

TEST_F(Processor, AutomaticModeNeedsAWantedUpdateAndAKnownFile)
{
    struct Case {
        const char* name;
        std::optional<std::uint16_t> controller;
        const char* options;
        bool removeFiles;
        ZT::ZTRESULT result;
        std::uint16_t controllerAfter;
    };
    const Case cases[] = {
        {"up to date: nothing to do, the window shows", 0x0031, "-START_UPDATE_AUTOMATICALLY", false, ZT::S_OK, 0x0031},
        {"not needed and silent if so", 0x0031, "-SILENT_IF_UPDATE_NOT_NEEDED -START_UPDATE_AUTOMATICALLY", false,
         ZT::ZTRESULT_EXIT_APPLICATION, 0x0031},
        {"silent with nothing wanted quits at once", 0x0031, "-SILENT", false, ZT::ZTRESULT_EXIT_APPLICATION, 0x0031},
        // The file state decides before -SILENT is looked at.
        {"without the files the window shows even when silent", 0x0030, "-SILENT", true, ZT::S_OK, 0x0030},
        {"without the files the window shows", 0x0030, "-START_UPDATE_AUTOMATICALLY", true, ZT::S_OK, 0x0030},
        {"wanted but no mode option", 0x0030, "-SILENT_IF_UPDATE_NOT_NEEDED", false, ZT::S_OK, 0x0030},
        {"always update makes it wanted", 0x0031, "-ALWAYS_UPDATE -SILENT -SILENT_IF_UPDATE_NOT_NEEDED", false,
         ZT::ZTRESULT_EXIT_APPLICATION, 0x0031},
        // Only the first "-SILENT" in the line is looked at, and that one is the start of the
        // longer option: -SILENT written after it is not seen.
        {"silent after silent-if-not-needed is not seen", 0x0030, "-SILENT_IF_UPDATE_NOT_NEEDED -SILENT", false,
         ZT::S_OK, 0x0030},
    };
    for (const Case& c : cases) {
        StartAfresh();
        Plug(c.controller, 0x0050);
        if (c.removeFiles)
            SetApplicationFolder(W((mFolder / "empty").string()));
        const std::size_t logBefore = mController->GetLog().size();
        EXPECT_EQ(Initialize(c.options), c.result) << c.name;
        (void)mProcessor->GetEngine()->WaitForUpdate(LUpdateProcessor::kSilentWaitMs);
        EXPECT_EQ(mController->GetFlashReleaseNumber(), std::optional<std::uint16_t>(c.controllerAfter)) << c.name;
        const bool touched = mController->GetLog().size() != logBefore;
        const bool expectTouched = std::string(c.name).find("always") != std::string::npos;
        EXPECT_EQ(touched, expectTouched) << c.name;
        EXPECT_EQ(LUpdateProcessor::GetExitStatus(), 0) << c.name;
        SetApplicationFolder(W(mFolder.string()));
    }
}

TEST_F(Processor, StartAutomaticallyLeavesTheDownloadRunningForTheWindow)
{
    Plug(0x0030, 0x0050);
    EXPECT_EQ(Initialize("-START_UPDATE_AUTOMATICALLY"), ZT::S_OK);
    // Started and not waited for: the window shows its progress.
    const auto engine = mProcessor->GetEngine();
    EXPECT_EQ(engine->WaitForUpdate(LUpdateProcessor::kSilentWaitMs), ZT::S_OK);
    EXPECT_EQ(engine->GetUpdateRunState(false), LUpdateEngineInterface::UpdateRunState::Succeeded);
    EXPECT_EQ(mController->GetFlashReleaseNumber(), std::optional<std::uint16_t>(0x0031));
}

TEST_F(Processor, AlwaysUpdateIsReadOnceAndTheMenuToggleSurvivesTryAgain)
{
    Plug(0x0031, 0x0050);
    EXPECT_FALSE(mProcessor->IsAlwaysUpdate());
    EXPECT_EQ(Initialize("-ALWAYS_UPDATE"), ZT::S_OK);
    EXPECT_TRUE(mProcessor->IsAlwaysUpdate());
    EXPECT_TRUE(mProcessor->SetAlwaysUpdate(true)) << "already set";
    EXPECT_FALSE(mProcessor->SetAlwaysUpdate(false));
    EXPECT_EQ(mProcessor->Reinitialize(), ZT::S_OK);
    EXPECT_FALSE(mProcessor->IsAlwaysUpdate()) << "TRY AGAIN does not read -ALWAYS_UPDATE again";
    EXPECT_EQ(mProcessor->GetCommandLine().ToUTF8(), "updater -ALWAYS_UPDATE");
    // A later Initialize with another line keeps the first one.
    EXPECT_EQ(mProcessor->Initialize(W("other -RETURN_UPDATE_MODE_STATUS")), ZT::S_OK);
    EXPECT_EQ(LUpdateProcessor::GetExitStatus(), 0);
}

TEST_F(Processor, ADeviceThatDisappearsEndsTheSilentRunWithStatusZero)
{
    Plug(0x0030, 0x0049);
    SimulatedDeviceFaults faults;
    faults.unplugAfterBlocks = 3;
    mController->SetFaults(faults);
    WithCommandLineRun();
    EXPECT_EQ(Initialize("-SILENT"), ZT::ZTRESULT_EXIT_APPLICATION);
    EXPECT_EQ(mRun->GetSummary().Succeeded, 0u);
    EXPECT_EQ(mRun->GetSummary().Failed, 1u);
    EXPECT_EQ(mDisplay->GetFlashReleaseNumber(), std::optional<std::uint16_t>(0x0049)) << "the cycle ends";
    EXPECT_EQ(LUpdateProcessor::GetExitStatus(), 0);
    EXPECT_TRUE(mProcessor->IsNotUpdating());
}

} // namespace
