// The state file that keeps simulated devices between runs: that a bootloader is found in the
// state a run left it in, that a killed run leaves the file as the hardware is left, and that the
// file is never written through anything but a regular file the user may write.

#include "SimulatorTestSupport.h"

#include "Simulator/SimulatedDevicesSetup.h"
#include "Simulator/SimulatorStateFile.h"
#include "tests/ZTFramework/Utilities/Storage/TempFolder.h"
#include "tests/Support/FileModes.h"

#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>

#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

namespace {

using namespace SimTest;
namespace fs = std::filesystem;

std::string ReadText(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::string StateText(std::optional<ZT::DfuState> state)
{
    return state ? ZT::ToString(*state) : "not in the bootloader";
}

class SimulatorStateFile : public SimulatorTest {
protected:
    // The devices of the state file at mPath, restored as the next run finds them.
    ZT::RCPtr<LDeviceSimulator> NextRun()
    {
        std::string error;
        const auto devices = CSimulatorStateFile::Read(mPath, error);
        EXPECT_TRUE(devices) << error;
        auto simulator = ZT::MakeRC<LDeviceSimulator>(0.0, &mClock);
        if (devices)
            (void)CSimulatorStateFile::Restore(*simulator, *devices);
        return simulator;
    }
    void Save()
    {
        std::string error;
        ASSERT_TRUE(CSimulatorStateFile::Write(mPath, CSimulatorStateFile::Capture(*mSimulator), error)) << error;
    }
    // Erases the first sector and writes `blocks` blocks of an image that fills it, in the
    // engine's order (from the second block on, the first block last) or, with firstBlockFirst,
    // from the first block on. Fewer than 8 blocks are a cut download.
    ::testing::AssertionResult EraseAndWriteBlocks(DfuHost& host, std::size_t blocks, bool firstBlockFirst = false)
    {
        auto result = host.EraseSector(0x08008000);
        const auto image = MakeImage(8 * kBlockSize, 0x0032);
        const std::size_t first = firstBlockFirst ? 0 : 1;
        for (std::size_t i = 0; result && i < blocks; ++i) {
            const std::size_t block = (first + i) % 8;
            if (i == 0 || block == 0)
                result = host.SetAddress(0x08008000 + static_cast<std::uint32_t>(block * kBlockSize));
            const std::size_t base = block == 0 ? 0 : first;
            if (result)
                result = host.WriteBlock(static_cast<std::uint16_t>(block - base + 2),
                                         std::span<const std::uint8_t>(image).subspan(block * kBlockSize, kBlockSize));
        }
        return result;
    }

    ZT::Testing::TempFolder mTemp{"zt-simstate"};
    const std::string mPath = mTemp.File("devices.state");
};

// Kept first in this file: the names Write tries for its new file count up in the process, and
// this test blocks the first of them.
TEST_F(SimulatorStateFile, WriteNeverFollowsALinkWhereItCreatesItsNewFile)
{
    const fs::path victim = mTemp.Write("victim", std::string("keep me"));
    fs::create_symlink(victim, mPath + ".tmp");
    for (int i = 0; i < 50; ++i)
        fs::create_symlink(victim, mPath + ".tmp-" + std::to_string(::getpid()) + "-" + std::to_string(i));
    Save();
    EXPECT_EQ(ReadText(victim), "keep me") << "a link beside the state file was followed";
    EXPECT_TRUE(fs::is_symlink(mPath + ".tmp"));
    EXPECT_TRUE(fs::is_regular_file(fs::symlink_status(mPath)));
    std::string error;
    EXPECT_TRUE(CSimulatorStateFile::Read(mPath, error)) << error;
}

TEST_F(SimulatorStateFile, WriteRefusesWhatIsNotARegularFileItMayWriteAndLeavesItAlone)
{
    const fs::path target = mTemp.Write("target", std::string("someone else's"));
    struct Case {
        const char* what;
        const char* named; // in the error
        std::function<bool(const std::string&)> make;
    };
    const std::vector<Case> cases{
        {"symbolic link", "symbolic link", [&](const std::string& p) { fs::create_symlink(target, p); return true; }},
        {"FIFO", "FIFO", [](const std::string& p) { return ::mkfifo(p.c_str(), 0666) == 0; }},
        {"character device like /dev/null", "device node",
         [](const std::string& p) { return ::mknod(p.c_str(), S_IFCHR | 0666, makedev(1, 3)) == 0; }},
        {"folder", "folder", [](const std::string& p) { return fs::create_directory(p); }},
        {"read-only file", "permissions", [](const std::string& p) {
             std::ofstream(p) << "read-only";
             fs::permissions(p, fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
             return true;
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const std::string path = mTemp.File(std::string("state-") + std::to_string(&c - cases.data()));
        if (!c.make(path)) {
            // Making a device node needs a privilege a container may not grant.
            std::printf("skipped: cannot make a %s here\n", c.what);
            continue;
        }
        const auto before = fs::symlink_status(path).type();
        const auto entries = mTemp.List();
        std::string error;
        EXPECT_FALSE(CSimulatorStateFile::Write(path, CSimulatorStateFile::Capture(*mSimulator), error));
        EXPECT_NE(error.find(c.named), std::string::npos) << error;
        EXPECT_EQ(fs::symlink_status(path).type(), before) << "the path was replaced";
        EXPECT_EQ(mTemp.List(), entries) << "a new file was left behind";
        // Reading refuses it too, without waiting for a writer on the FIFO.
        if (std::string(c.what) != "read-only file") {
            EXPECT_FALSE(CSimulatorStateFile::Read(path, error)) << "read through a " << c.what;
        }
    }
    EXPECT_EQ(ReadText(target), "someone else's");
    EXPECT_EQ(ReadText(mTemp.File("state-4")), "read-only");
}

TEST_F(SimulatorStateFile, ARewrittenFileKeepsItsPermissions)
{
    Save();
    fs::permissions(mPath, fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
    mController->Unplug();
    Save();
    EXPECT_EQ(fs::status(mPath).permissions() & fs::perms::all,
              fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
    EXPECT_EQ(NextRun()->GetDevices().size(), 2u);
}

// The issue a killed download left on real hardware: the next run finds the bootloader in
// dfuDNLOAD-IDLE, where CLRSTATUS gives dfuERROR. Only a power cycle brings back dfuIDLE.
TEST_F(SimulatorStateFile, ABootloaderIsFoundInTheStateTheRunLeftItIn)
{
    // The display first: the bootloader found is the first one listed.
    DfuHost display = EnterBootloader("Halvard XR4000 NOVA WD");
    ASSERT_TRUE(display.SetAddress(0x08008000));
    EXPECT_FALSE(display.WriteBlock(2, MakeImage(64, std::nullopt))) << "the display's flash is not erased there";
    DfuHost controller = EnterBootloader();
    ASSERT_TRUE(EraseAndWriteBlocks(controller, 5));
    Save();

    auto next = NextRun();
    ASSERT_EQ(next->GetDevices().size(), 2u);
    const auto nextController = next->GetDevices()[0];
    const auto nextDisplay = next->GetDevices()[1];
    EXPECT_EQ(nextController->GetFlashDump(), mController->GetFlashDump());
    EXPECT_EQ(StateText(nextController->GetDfuState()), "dfuDNLOAD-IDLE");
    EXPECT_EQ(StateText(nextDisplay->GetDfuState()), "dfuERROR");

    auto usb = next->CreateUsbBackend();
    std::vector<ZT::UsbDeviceInfo> listed;
    ASSERT_EQ(usb->ListDevices(listed), ZT::S_OK);
    ASSERT_EQ(listed.size(), 2u);
    ZT::UsbError error = ZT::UsbError::Other;
    DfuHost controllerAgain(usb->Open(listed[0].path, error), mClock);
    DfuHost displayAgain(usb->Open(listed[1].path, error), mClock);
    const auto displayStatus = displayAgain.GetStatus();
    ASSERT_TRUE(displayStatus) << ZT::UsbErrorName(error);
    EXPECT_EQ(ZT::ToString(static_cast<ZT::DfuStatus>(displayStatus->status)), std::string("errWRITE"));
    ASSERT_TRUE(controllerAgain.ClearStatus());
    const auto cleared = controllerAgain.GetStatus();
    ASSERT_TRUE(cleared);
    EXPECT_EQ(StateText(static_cast<ZT::DfuState>(cleared->state)), "dfuERROR");
    EXPECT_EQ(ZT::ToString(static_cast<ZT::DfuStatus>(cleared->status)), std::string("errUNKNOWN"));

    // A power cycle, recorded as such: both power up afresh, the controller's cut image kept in
    // its bootloader, the display's intact one running.
    mController->Unplug();
    mWheelDisplay->Unplug();
    mWheelDisplay->Plug();
    Save();
    auto afterPowerCycle = NextRun();
    EXPECT_EQ(StateText(afterPowerCycle->GetDevices()[0]->GetDfuState()), "dfuIDLE");
    EXPECT_EQ(afterPowerCycle->GetDevices()[1]->GetMode(), SimulatedDeviceMode::Application);
}

// A host that is killed between a DNLOAD and its status request: the bootloader finishes what it
// received (or fails it) and the next run finds the outcome.
TEST_F(SimulatorStateFile, AnOperationTheHostLeftIsFinishedInTheKeptState)
{
    struct Case {
        const char* what;
        std::uint16_t block;
        std::vector<std::uint8_t> payload;
        const char* state;
        ZT::DfuStatus status;
    };
    const std::vector<Case> cases{
        {"erase of the sector at 0x08020000", 0, DfuHost::Command(ZT::kDfuSeCommandErase, 0x08020000),
         "dfuDNLOAD-IDLE", ZT::DfuStatus::Ok},
        {"write into flash that is not erased", 2, MakeImage(64, std::nullopt), "dfuERROR", ZT::DfuStatus::ErrWrite},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        mController->Unplug();
        mController->ClearLogs();
        // Past the factory image, which stays intact: the device starts in normal mode.
        ASSERT_TRUE(mController->ProgramFlash(0x08020000, MakeImage(0x4000, std::nullopt)));
        mController->Plug();
        DfuHost host = EnterBootloader();
        ASSERT_TRUE(host.SetAddress(0x08020000));
        ASSERT_TRUE(host.Download(c.block, c.payload));
        Save();
        auto next = NextRun();
        const auto device = next->GetDevices()[0];
        EXPECT_EQ(StateText(device->GetDfuState()), c.state);
        const bool erased = device->ReadFlash(0x08020000, 0x4000) == std::vector<std::uint8_t>(0x4000, 0xFF);
        EXPECT_EQ(erased, c.block == 0) << "the erase must be carried out, the refused write must not";
        auto usb = next->CreateUsbBackend();
        std::vector<ZT::UsbDeviceInfo> listed;
        ASSERT_EQ(usb->ListDevices(listed), ZT::S_OK);
        ZT::UsbError error = ZT::UsbError::Other;
        DfuHost again(usb->Open(listed[0].path, error), mClock);
        const auto status = again.GetStatus();
        ASSERT_TRUE(status) << ZT::UsbErrorName(error);
        EXPECT_EQ(ZT::ToString(static_cast<ZT::DfuStatus>(status->status)), std::string(ZT::ToString(c.status)));
    }
}

// No SaveState at the end: the process was killed. The saves during the run leave the file as
// the hardware is: mid-download in the bootloader, then, after an unplug, powered off.
TEST_F(SimulatorStateFile, AKilledRunLeavesTheFileAsTheHardwareIsLeft)
{
    const SimulatedDevicesSetup setup = SimulatedDevicesSetup::Parse("00.31,00.50,state=" + mPath);
    setup.InstallStateSaver(*mSimulator);
    DfuHost host = EnterBootloader();
    ASSERT_TRUE(EraseAndWriteBlocks(host, 5));

    std::string error;
    auto kept = CSimulatorStateFile::Read(mPath, error);
    ASSERT_TRUE(kept) << error;
    ASSERT_EQ(kept->size(), 2u);
    EXPECT_EQ(kept->front().State, CSimulatorStateFile::Power::Bootloader);
    EXPECT_EQ(std::string(ZT::ToString(kept->front().Bootloader.State)), "dfuDNLOAD-IDLE");
    EXPECT_EQ(NextRun()->GetDevices()[0]->GetMode(), SimulatedDeviceMode::Bootloader);

    mController->Unplug();
    kept = CSimulatorStateFile::Read(mPath, error);
    ASSERT_TRUE(kept) << error;
    EXPECT_EQ(kept->front().State, CSimulatorStateFile::Power::PoweredOff) << "an unplug must be saved at once";
    const auto written = std::count_if(kept->front().Pages.begin(), kept->front().Pages.end(),
                                       [](const CSimulatorStateFile::Page& page) { return page.Address < 0x0800C000; });
    EXPECT_EQ(written, 5) << "the blocks written into the erased sector before the unplug";

    // The run's own last save stops the saves during the run.
    std::string message;
    ASSERT_TRUE(setup.SaveState(*mSimulator, message)) << message;
    const std::string final = ReadText(mPath);
    mController->Plug();
    EXPECT_EQ(ReadText(mPath), final) << "a change after the last save was written";
}

// A controller powered off after a cut download that wrote the image's first block: the faults
// of the next run's command line decide how its boot code treats the kept flash.
TEST_F(SimulatorStateFile, FaultsApplyToADeviceRestoredFromTheFile)
{
    const SimulatedDevicesSetup keep = SimulatedDevicesSetup::Parse("00.31,00.50,state=" + mPath);
    keep.InstallStateSaver(*mSimulator);
    DfuHost host = EnterBootloader();
    ASSERT_TRUE(EraseAndWriteBlocks(host, 5, true));
    mController->Unplug();
    std::string message;
    ASSERT_TRUE(keep.SaveState(*mSimulator, message)) << message;

    for (const auto& [option, expected] : {std::pair{"", SimulatedDeviceMode::RunningBrokenImage},
                                           std::pair{",controller:image-check", SimulatedDeviceMode::Bootloader}}) {
        SCOPED_TRACE(std::string("state=... ") + option);
        const SimulatedDevicesSetup next = SimulatedDevicesSetup::Parse("00.31,00.50,state=" + mPath + option);
        std::string stateMessage;
        const auto simulator = next.CreateSimulator(stateMessage);
        simulator->SetChangeHook(nullptr);
        ASSERT_EQ(simulator->GetDevices().size(), 2u) << stateMessage;
        EXPECT_EQ(std::string(SimulatedDeviceModeName(simulator->GetDevices()[0]->GetMode())),
                  SimulatedDeviceModeName(expected))
            << stateMessage;
    }
}

TEST_F(SimulatorStateFile, AFileOfTheEarlierFormatOrWithAStateNoRunLeavesIsRefused)
{
    const std::vector<std::uint8_t> good = CSimulatorStateFile::Encode(CSimulatorStateFile::Capture(*mSimulator));
    const auto withCrc = [](std::vector<std::uint8_t> bytes) {
        bytes.resize(bytes.size() - 4);
        const std::uint32_t crc = VersionRecordCrc32(bytes);
        for (int i = 0; i < 4; ++i)
            bytes.push_back(static_cast<std::uint8_t>(crc >> (8 * i)));
        return bytes;
    };
    struct Case {
        const char* what;
        std::size_t offset;
        std::uint8_t value;
        const char* error;
    };
    const Case cases[] = {
        {"format 1", 7, '1', "earlier format"},
        {"power state 4", 12 + 1, 4, "bad device record 0"},
        {"dfuDNBUSY", 12 + 2, static_cast<std::uint8_t>(ZT::DfuState::DfuDnbusy), "bad device record 0"},
        {"DFU state 11", 12 + 2, 11, "bad device record 0"},
        {"DFU status 16", 12 + 3, 16, "bad device record 0"},
    };
    for (const Case& c : cases) {
        std::vector<std::uint8_t> bytes = good;
        bytes[c.offset] = c.value;
        std::string error;
        EXPECT_FALSE(CSimulatorStateFile::Decode(withCrc(bytes), error)) << c.what;
        EXPECT_NE(error.find(c.error), std::string::npos) << c.what << ": " << error;
    }
}

} // namespace

// A new state file gets 0666 less the umask and is read back by the next run; run as an
// unprivileged user too (unprivileged_file_tests), where a file its user may not read fails.
TEST_F(SimulatorStateFile, ANewFileGetsTheModeTheUmaskLeavesAndTheNextRunReadsIt)
{
    for (const mode_t mask : {mode_t{022}, mode_t{077}}) {
        SCOPED_TRACE("umask " + ZT::Testing::Octal(mask));
        fs::remove(mPath);
        {
            const ZT::Testing::UmaskScope umask(mask);
            Save();
        }
        EXPECT_TRUE(ZT::Testing::HasMode(mPath, 0666 & ~mask));
        EXPECT_TRUE(ZT::Testing::UserMayUse(mPath, true));
        EXPECT_EQ(NextRun()->GetDevices().size(), 2u);
    }
}
