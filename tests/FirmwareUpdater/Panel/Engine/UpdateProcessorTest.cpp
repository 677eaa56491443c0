// The update processor in this process, on the simulated devices in virtual time: what the
// options turn into, and automatic and silent mode without the run that stands in for the window.

#include "FirmwareUpdater/Panel/Engine/DfuSeFirmwareFile.h"
#include "FirmwareUpdater/Panel/Engine/UpdateProcessor.h"
#include "tests/FirmwareUpdater/Panel/Engine/UpdateEngineTestSupport.h"
#include "tests/Support/Printers.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <span>
#include <string>
#include <tuple>

namespace {

using ZT::Testing::UsbId;

namespace fs = std::filesystem;
using DeviceState = LUpdateEngineInterface::DeviceState;
using FirmwareFileState = LUpdateEngineInterface::FirmwareFileState;
using DeviceDefinition = LUpdateEngineInterface::DeviceDefinition;

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
        {"updater -DEVICE_PID=", {0x2C1A, 0, 0x2C1A, 0xDF11}},         // present, empty: 0
    };
    for (const Case& c : cases) {
        const DeviceDefinition d = LUpdateProcessor::DeviceDefinitionFromOptions(W(c.commandLine), 0x8010);
        const Ids& e = c.expected;
        EXPECT_EQ(std::make_tuple(UsbId(d.VendorId), UsbId(d.ProductId), UsbId(d.BootloaderVendorId),
                                  UsbId(d.BootloaderProductId)),
                  std::make_tuple(UsbId(e.VendorId), UsbId(e.ProductId), UsbId(e.BootloaderVendorId),
                                  UsbId(e.BootloaderProductId)))
            << c.commandLine;
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
        {"updater -ABSOLUTE_FIRMWARE_FILE_PATH=\"/My Files/a.dfu\" -FIRMWARE_IMAGE_NAME=b.dfu", "/My Files/a.dfu"},
        {"updater -ABSOLUTE_FIRMWARE_FILE_PATH=", ""},
    };
    for (const Case& c : cases)
        EXPECT_EQ(LUpdateProcessor::FirmwareFileFromOptions(W(c.commandLine), W("/opt/x")).ToUTF8(), c.expected)
            << c.commandLine;
}

// ---- Silent mode's estimate of a download --------------------------------------------------------

TEST(SilentDeadline, TheEstimateCountsEachSectorTheElementReachesAndEveryBlock)
{
    // The fixed part: the wait for the device to return and the margin.
    constexpr std::uint64_t kFixed = LUpdateProcessor::kEstimateReturnMs + LUpdateProcessor::kEstimateMarginMs;
    static_assert(kFixed == 15000);
    const std::uint32_t controller[] = {0x08008000, 0x0800C000, 0x08010000};
    const std::uint32_t display[] = {0x08008000, 0x0800C000, 0x08010000, 0x08020000, 0x08040000, 0x08060000};
    struct Case {
        const char* name;
        std::span<const std::uint32_t> sectors;
        std::uint32_t address;
        std::uint32_t size;
        std::uint64_t expectedMs;
    };
    const Case cases[] = {
        {"the controller's image: 16 + 16 + 64 KiB, 48 blocks", controller, 0x08008000, 97000, 2100 + 4800 + kFixed},
        {"ending on a sector boundary does not reach the next sector", controller, 0x08008000, 0x8000, 1000 + 1600 + kFixed},
        {"one byte more reaches it, in a partial block", controller, 0x08008000, 0x8001, 2100 + 1700 + kFixed},
        {"starting inside a sector still erases it", controller, 0x0800A000, 0x2000, 500 + 400 + kFixed},
        {"the wheel display's image reaches two 128 KiB sectors", display, 0x08008000, 307500,
         6100 + 15100 + kFixed},
        {"a sector that starts at the element's end is not erased", display, 0x08008000, 0x58000,
         6100 + 17600 + kFixed},
        {"an empty element", controller, 0x08008000, 0, kFixed},
        {"an element past the last sector erases nothing", controller, 0x08100000, 2048, 100 + kFixed},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(LUpdateProcessor::EstimateDownloadMs(c.address, c.size, c.sectors), c.expectedMs)
            << c.name << ": element 0x" << std::hex << c.address << " + 0x" << c.size;
    }
    // The microcontroller's sector sizes at the edges of each kind.
    EXPECT_EQ(LUpdateProcessor::FlashSectorBytes(0x08000000), 16u * 1024);
    EXPECT_EQ(LUpdateProcessor::FlashSectorBytes(0x0800C000), 16u * 1024);
    EXPECT_EQ(LUpdateProcessor::FlashSectorBytes(0x08010000), 64u * 1024);
    EXPECT_EQ(LUpdateProcessor::FlashSectorBytes(0x08020000), 128u * 1024);
    EXPECT_EQ(LUpdateProcessor::FlashSectorBytes(0x07FFC000), 128u * 1024) << "below the flash: the largest";
}

// ---- The processor on simulated devices ---------------------------------------------------------

// The engine tests' simulated pair, product files and virtual time; the processor makes its own
// engine. Query mode and silent runs with the command-line run are checked on the real program
// (UpdaterProcessTest).
class Processor : public EngineTest::EngineFixture {
protected:
    Processor() { LUpdateProcessor::SetExitStatus(0); }
    ~Processor() override
    {
        mProcessor = nullptr;
        LUpdateProcessor::SetExitStatus(0);
    }

    void Plug(std::optional<std::uint16_t> controller, std::optional<std::uint16_t> display)
    {
        mController = mSimulator->AddDevice(SimulatedDeviceKind::Controller, controller);
        mDisplay = mSimulator->AddDevice(SimulatedDeviceKind::WheelDisplay, display);
    }
    // A fresh process: new devices, no dual updater, a new processor.
    void StartAfresh()
    {
        mSimulator = ZT::MakeRC<LDeviceSimulator>(0.0, &mClock);
        mSimulator->Install();
        LDualUpdater::ReleaseInstance();
        mProcessor = ZT::MakeRC<LUpdateProcessor>(LDualUpdater::GetUpdateTarget(),
                                                  LDualUpdater::GetScanPreparer());
    }
    ZT::ZTRESULT Initialize(const std::string& options) { return mProcessor->Initialize(W("updater " + options)); }

    ZT::RCPtr<LSimulatedDevice> mController;
    ZT::RCPtr<LSimulatedDevice> mDisplay;
    ZT::RCPtr<LUpdateProcessor> mProcessor =
        ZT::MakeRC<LUpdateProcessor>(LDualUpdater::GetUpdateTarget(), LDualUpdater::GetScanPreparer());
};

TEST_F(Processor, AnIncompleteSetKeepsTheCommandLinesChoices)
{
    mController = mSimulator->AddDevice(SimulatedDeviceKind::Controller, 0x0030);
    const std::string path = (mFolder / "qx31_tp_update_00_31_120936.dfu").string();
    fs::copy_file(path, mFolder / "my file.dfu");
    const std::string options = "-DEVICE_PID=32784 -ABSOLUTE_FIRMWARE_FILE_PATH=\"" + (mFolder / "my file.dfu").string() + "\"";

    EXPECT_RESULT_EQ(Initialize(options), ZT::S_OK) << "the window would show the reason";
    const auto engine = mProcessor->GetEngine();
    EXPECT_EQ(engine->GetDeviceState(), DeviceState::DeviceCannotBeUpdated);
    ZT::WString chosen;
    EXPECT_RESULT_EQ(engine->GetFirmwareFilePath(chosen), ZT::S_OK);
    EXPECT_EQ(chosen.ToUTF8(), (mFolder / "my file.dfu").string());
    EXPECT_EQ(engine->GetFirmwareFileState(), FirmwareFileState::FileFoundVersionKnown);
    // The definition the option makes (see DeviceDefinitionFromTheCommandLine) is the engine's.
    ASSERT_EQ(engine->GetDeviceDefinitions().GetCount(), 1);
    EXPECT_EQ(UsbId(engine->GetDeviceDefinitions()[0].ProductId), UsbId(0x8010));
    EXPECT_EQ(UsbId(engine->GetDeviceDefinitions()[0].BootloaderVendorId), UsbId(0x2C1A));
    EXPECT_EQ(LUpdateProcessor::GetExitStatus(), 0);

    // "TRY AGAIN" from DeviceCannotBeUpdated returns before choosing anything again.
    fs::remove(mFolder / "my file.dfu");
    EXPECT_RESULT_EQ(mProcessor->Reinitialize(), ZT::S_OK);
    EXPECT_EQ(engine->GetFirmwareFileState(), FirmwareFileState::FileFoundVersionKnown);
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
        bool touched; // whether the controller saw any request
    };
    // -SILENT_IF_UPDATE_NOT_NEEDED with an up-to-date pair, and with -ALWAYS_UPDATE: SilentOptions.
    const Case cases[] = {
        {"up to date: nothing to do, the window shows", 0x0031, "-START_UPDATE_AUTOMATICALLY", false, ZT::S_OK, 0x0031,
         false},
        // Started and not waited for: the window shows its progress.
        {"start automatically leaves the download running for the window", 0x0030, "-START_UPDATE_AUTOMATICALLY",
         false, ZT::S_OK, 0x0031, true},
        {"silent with nothing wanted quits at once", 0x0031, "-SILENT", false, ZT::ZTRESULT_EXIT_APPLICATION, 0x0031,
         false},
        // The file state decides before -SILENT is looked at.
        {"without the files the window shows even when silent", 0x0030, "-SILENT", true, ZT::S_OK, 0x0030, false},
        {"without the files the window shows", 0x0030, "-START_UPDATE_AUTOMATICALLY", true, ZT::S_OK, 0x0030, false},
        {"wanted but no mode option", 0x0030, "-SILENT_IF_UPDATE_NOT_NEEDED", false, ZT::S_OK, 0x0030, false},
        // Only the first "-SILENT" in the line is looked at, and that one is the start of the
        // longer option: -SILENT written after it is not seen.
        {"silent after silent-if-not-needed is not seen", 0x0030, "-SILENT_IF_UPDATE_NOT_NEEDED -SILENT", false,
         ZT::S_OK, 0x0030, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        StartAfresh();
        Plug(c.controller, 0x0050);
        if (c.removeFiles)
            SetApplicationFolder(W((mFolder / "empty").string()));
        const std::size_t logBefore = mController->GetLog().size();
        EXPECT_RESULT_EQ(Initialize(c.options), c.result);
        EXPECT_RESULT_EQ(mProcessor->GetEngine()->WaitForUpdate(LUpdateProcessor::kSilentWaitMs), ZT::S_OK);
        EXPECT_EQ(mController->GetFlashReleaseNumber(), std::optional<std::uint16_t>(c.controllerAfter));
        EXPECT_EQ(mController->GetLog().size() != logBefore, c.touched);
        EXPECT_EQ(LUpdateProcessor::GetExitStatus(), 0);
        SetApplicationFolder(W(mFolder.string()));
    }
}

TEST_F(Processor, SilentModeStartsNothingItsDeadlineWouldCut)
{
    // What the controller's file needs, the switch into update mode included.
    const auto file = LDfuSeFirmwareFile::Create();
    ASSERT_RESULT_EQ(file->Open(W((mFolder / kControllerDevice.FirmwareFileName).string()), LUpdateProcessor::kEstimateBlockBytes),
                     ZT::S_OK);
    const std::uint64_t needed = LUpdateProcessor::EstimateDownloadMs(file->GetElementAddress(), file->GetElementSize(),
                                                                      kControllerDevice.EraseSectors) +
                                 LUpdateProcessor::kEstimateModeSwitchMs;
    struct Case {
        std::uint64_t waitMs;
        bool updated;
    };
    for (const Case c : {Case{needed - 1, false}, Case{needed, true}}) {
        SCOPED_TRACE("silent wait of " + std::to_string(c.waitMs) + " ms, " + std::to_string(needed) + " ms needed");
        StartAfresh();
        Plug(0x0030, 0x0050);
        mProcessor->SetSilentWaitMs(static_cast<std::uint32_t>(c.waitMs));
        const std::size_t logBefore = mController->GetLog().size();
        EXPECT_RESULT_EQ(Initialize("-SILENT"), ZT::ZTRESULT_EXIT_APPLICATION);
        EXPECT_RESULT_EQ(mProcessor->GetEngine()->WaitForUpdate(LUpdateProcessor::kSilentWaitMs), ZT::S_OK);
        if (c.updated) {
            EXPECT_EQ(mController->GetFlashReleaseNumber(), std::optional<std::uint16_t>(0x0031));
            continue;
        }
        // Refused before the switch: the controller saw nothing, not even the MIDI message.
        EXPECT_EQ(mController->GetLog().size(), logBefore) << "the controller was touched: " << mController->GetLog().back();
        EXPECT_EQ(mController->GetMode(), SimulatedDeviceMode::Application);
        EXPECT_EQ(mProcessor->GetEngine()->GetDeviceState(), DeviceState::DeviceNotInUpdateMode)
            << ToString(mProcessor->GetEngine()->GetDeviceState());
    }
}

TEST_F(Processor, AlwaysUpdateIsReadOnceAndTheMenuToggleSurvivesTryAgain)
{
    Plug(0x0031, 0x0050);
    EXPECT_FALSE(mProcessor->IsAlwaysUpdate());
    EXPECT_RESULT_EQ(Initialize("-ALWAYS_UPDATE"), ZT::S_OK);
    EXPECT_TRUE(mProcessor->IsAlwaysUpdate());
    EXPECT_TRUE(mProcessor->SetAlwaysUpdate(true)) << "already set";
    EXPECT_FALSE(mProcessor->SetAlwaysUpdate(false));
    EXPECT_RESULT_EQ(mProcessor->Reinitialize(), ZT::S_OK);
    EXPECT_FALSE(mProcessor->IsAlwaysUpdate()) << "TRY AGAIN does not read -ALWAYS_UPDATE again";
    EXPECT_EQ(mProcessor->GetCommandLine().ToUTF8(), "updater -ALWAYS_UPDATE");
    // A later Initialize with another line keeps the first one.
    EXPECT_RESULT_EQ(mProcessor->Initialize(W("other -RETURN_UPDATE_MODE_STATUS")), ZT::S_OK);
    EXPECT_EQ(LUpdateProcessor::GetExitStatus(), 0);
}

} // namespace
