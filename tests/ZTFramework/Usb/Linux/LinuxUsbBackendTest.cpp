// The libusb backend against the simulator's DfuSe bootloader: umockdev gives the real libusb a
// /sys and /dev/bus/usb of the test's making, and CEmulatedDfuSeBootloader answers the device's
// usbfs ioctls. No hardware and no root are needed.

#include "EmulatedDfuSeBootloader.h"
#include "tests/Simulator/SimulatorTestSupport.h"
#include "tests/ZTFramework/Threads/DebugCapture.h"

#include "FirmwareUpdater/Panel/Engine/DualUpdater.h"
#include "FirmwareUpdater/Panel/Engine/UpdateEngine.h"
#include "tests/Support/Printers.h"
#include "tests/Support/Umockdev/UmockdevPreload.h"
#include "tools/DfuSeImage.h"
#include "ZTFramework/Debug/DebugOutput.h"
#include "ZTFramework/Usb/Linux/LinuxUsbBackend.h"

#include <gtest/gtest.h>
#include <umockdev.h>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <sstream>
#include <thread>
#include <utility>
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

// umockdev, GLib and libudev are not built with ThreadSanitizer and synchronise their worker
// threads in ways it cannot see; what they do among themselves is not ours to report. libusb and
// our own code stay checked.
extern "C" const char* __tsan_default_suppressions()
{
    return "called_from_lib:libumockdev.so.0\n"
           "called_from_lib:libumockdev-preload.so.0\n"
           "called_from_lib:libglib-2.0.so.0\n"
           "called_from_lib:libgobject-2.0.so.0\n"
           "called_from_lib:libgio-2.0.so.0\n"
           "called_from_lib:libudev.so.1\n";
}

namespace {

using UsbTest::CEmulatedDfuSeBootloader;
using ZT::Testing::CDebugCapture;

using SimTest::DfuHost;
using SimTest::Fault;
using F = SimulatedDeviceFaults;

constexpr std::uint16_t kTransferSize = LDfuSeBootloader::kTransferSize;

[[maybe_unused]] const bool gTestbedInstalled = UmockdevTest::InstallTestbed();

// The descriptors as sysfs gives them, in hexadecimal.
constexpr const char* kBootloaderDescriptors =
    "1201000200000040830411df0002010203" "01"  // device: 0483:DF11, bcdDevice 2.00
    "09021b00010100c032"                        // configuration: one interface
    "0904000000fe010204"                        // interface 0: application-specific, DFU mode
    "09210bff0000081a01";                       // DFU functional: 2048-byte transfers, DfuSe 1.1a
constexpr const char* kControllerDescriptors =
    "12010002000000401a2c1080310001020301"      // device: 2C1A:8010, bcdDevice 0.31
    "0902120001010080" "32"                     // configuration: one interface
    "090400000001010000";                       // interface 0: audio control

std::string DevicePath(int address)
{
    char text[32];
    std::snprintf(text, sizeof text, "/dev/bus/usb/001/%03d", address);
    return text;
}

// The serial number every plugged device reports, as the kernel keeps it in sysfs.
constexpr const char* kSerialNumber = "2058345D3100";

// Adds a device at bus 1, address, under /sys/devices/<sysname>.
void Plug(const std::string& sysname, int address, const char* descriptors)
{
    char number[8];
    std::snprintf(number, sizeof number, "%03d", address);
    std::ostringstream record;
    record << "P: /devices/" << sysname << "\n"
           << "N: bus/usb/001/" << number << "\n"
           << "E: SUBSYSTEM=usb\nE: DEVTYPE=usb_device\nE: DRIVER=usb\n"
           << "E: BUSNUM=001\nE: DEVNUM=" << number << "\nE: DEVNAME=/dev/bus/usb/001/" << number << "\n"
           << "A: busnum=1\\n\nA: devnum=" << address << "\\n\nA: bConfigurationValue=1\\n\nA: speed=12\\n\n"
           << "A: serial=" << kSerialNumber << "\\n\n"
           << "H: descriptors=" << descriptors << "\n";
    GError* error = nullptr;
    const bool added = umockdev_testbed_add_from_string(UmockdevTest::Testbed(), record.str().c_str(), &error);
    ASSERT_TRUE(added) << (error ? error->message : "");
}

// What the kernel does when a device leaves: a "remove" event, then the device is gone from /sys.
void Unplug(const std::string& sysname)
{
    const std::string syspath = "/sys/devices/" + sysname;
    umockdev_testbed_uevent(UmockdevTest::Testbed(), syspath.c_str(), "remove");
    umockdev_testbed_remove_device(UmockdevTest::Testbed(), syspath.c_str());
}

// Each test gets its own bootloader at an address no earlier test used, as a real bus hands out
// new addresses.
class LinuxUsbBackendTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(UmockdevTest::UmockdevPreloadLoaded()) << "umockdev's preload library is not loaded";
        static int nextAddress = 5;
        mAddress = nextAddress;
        nextAddress += 2;
        mSysname = "1-" + std::to_string(mAddress);
        mPath = DevicePath(mAddress);
        // The handler must be in place before the node appears, or an early open finds no device.
        ASSERT_TRUE(mBootloader.Attach(UmockdevTest::Testbed(), mPath));
        Plug(mSysname, mAddress, kBootloaderDescriptors);
        mBackend = ZT::MakeRC<ZT::LLinuxUsbBackend>();
    }
    void TearDown() override
    {
        if (mConnection)
            mConnection->Close();
        mConnection = nullptr;
        if (!mUnplugged)
            Unplug(mSysname);
        mBootloader.Detach(UmockdevTest::Testbed(), mPath);
    }

    // The hardware ID of the device listed at path; empty when none is.
    [[nodiscard]] std::string Listed(const std::string& path)
    {
        std::vector<ZT::UsbDeviceInfo> devices;
        EXPECT_RESULT_EQ(mBackend->ListDevices(devices), ZT::S_OK);
        for (const ZT::UsbDeviceInfo& device : devices) {
            if (device.path == path)
                return ZT::MakeHardwareId(device);
        }
        return {};
    }

    // libusb's event thread applies a uevent shortly after it was sent, as on a real system where
    // the engine polls for a returning device; this waits up to 5 s for path to be listed (or not)
    // and gives what is listed there then.
    [[nodiscard]] std::string EventuallyListed(const std::string& path, bool present)
    {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
        while (Listed(path).empty() == present && std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        return Listed(path);
    }
    void OpenBootloader()
    {
        ZT::UsbError error = ZT::UsbError::Other;
        mConnection = mBackend->Open(mPath, error);
        ASSERT_TRUE(mConnection) << ZT::UsbErrorName(error);
        EXPECT_EQ(error, ZT::UsbError::None);
    }

    CEmulatedDfuSeBootloader mBootloader;
    ZT::RCPtr<ZT::LLinuxUsbBackend> mBackend;
    ZT::RCPtr<ZT::IUsbDeviceConnection> mConnection;
    int mAddress = 0;
    std::string mSysname;
    std::string mPath;
    bool mUnplugged = false;
};

// The connection's life: what the backend lists, each way an open or a request fails (the two
// the user must act on with one line), and a connection closed twice.
TEST_F(LinuxUsbBackendTest, OpensTheListedBootloaderAndMapsEachFailureOfOpenAndRequests)
{
    EXPECT_EQ(Listed(mPath), "USB\\VID_0483&PID_DF11&REV_0200");
    EXPECT_EQ(mBootloader.GetClaimCount(), 0);
    ZT::UsbError error = ZT::UsbError::None;
    EXPECT_FALSE(mBackend->Open("/dev/bus/usb/001/250", error));
    EXPECT_EQ(error, ZT::UsbError::NotFound);

    CDebugCapture capture;
    mBootloader.SetInterfaceBusy(true);
    EXPECT_FALSE(mBackend->Open(mPath, error));
    EXPECT_EQ(error, ZT::UsbError::Busy);
    EXPECT_NE(capture.Text().find("is in use by another program"), std::string::npos) << capture.Text();
    mBootloader.SetInterfaceBusy(false);
    OpenBootloader();
    EXPECT_EQ(mBootloader.GetClaimCount(), 1);

    DfuHost host(mConnection, ZT::GetClock());
    EXPECT_FALSE(host.Download(1, std::vector<std::uint8_t>{0x00})); // block number 1 is no DfuSe request
    EXPECT_EQ(mConnection->GetLastError(), ZT::UsbError::Pipe);
    const auto status = host.GetStatus();
    ASSERT_TRUE(status);
    EXPECT_EQ(mConnection->GetLastError(), ZT::UsbError::None);
    EXPECT_EQ(mConnection->GetLastTransferredLength(), 6);
    EXPECT_EQ(status->state, 10);
    ASSERT_TRUE(host.ClearStatus());

    mBootloader.SetFaults(Fault(&F::noAnswerAfterBlocks, 0u));
    EXPECT_FALSE(host.Download(2, std::vector<std::uint8_t>(16)));
    EXPECT_EQ(mConnection->GetLastError(), ZT::UsbError::Timeout);
    EXPECT_NE(capture.Text().find("did not answer request 0x01 within 5000 ms"), std::string::npos) << capture.Text();

    mConnection->Close();
    mConnection->Close();
    EXPECT_FALSE(host.GetStatus());
    EXPECT_EQ(mConnection->GetLastError(), ZT::UsbError::NotOpen);
}

void WriteFile(const std::string& path, const std::vector<std::uint8_t>& bytes)
{
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

// 4097 bytes at 0x08008000: two whole blocks and a last block of one byte, which needs its own
// set-address request.
DfuSeImage MakeTestImage()
{
    DfuSeImage image;
    image.ElementAddress = 0x08008000;
    image.ElementData = SimTest::MakeImage(2 * kTransferSize + 1, std::nullopt);
    return image;
}

// What the engine's download does with the emulated bootloader through the libusb backend: the
// run's end state and the device state it leaves.
using EngineOutcome = std::pair<LUpdateEngineInterface::UpdateRunState, LUpdateEngineInterface::DeviceState>;
EngineOutcome RunEngineDownload(const ZT::RCPtr<ZT::IUsbBackend>& backend, const std::vector<std::uint8_t>& fileBytes)
{
    using DeviceState = LUpdateEngineInterface::DeviceState;
    const std::string file = std::string(std::getenv("TMPDIR")) + "/image.dfu";
    WriteFile(file, fileBytes);
    EngineOutcome outcome{LUpdateEngineInterface::UpdateRunState::Idle, DeviceState::NoDeviceDefined};
    ZT::SetUsbBackend(backend);
    {
        auto engine = ZT::MakeRC<LUpdateEngine>();
        engine->SetUpdateTarget(&LDualUpdater::GetUpdateTarget());
        LUpdateEngine::DeviceDefinitions definitions;
        LUpdateEngine::DeviceDefinition controller;
        controller.VendorId = 0x2C1A;
        controller.ProductId = 0x8010;
        controller.BootloaderVendorId = 0x0483;
        controller.BootloaderProductId = 0xDF11;
        definitions.Append(controller);
        // The scan without the dual updater's probe, which needs the whole product (controller
        // and wheel display) to choose a target. Its instance still gives the erase list: the
        // wheel display's, which covers the controller's.
        (void)LDualUpdater::CreateInstance();
        EXPECT_RESULT_EQ(engine->SetDeviceDefinitions(definitions), ZT::S_OK);
        EXPECT_RESULT_EQ(engine->ScanDevices(), ZT::S_OK);
        EXPECT_EQ(engine->GetFoundDeviceCount(), 1u);
        engine->SetDeviceState(DeviceState::DevicesAvailableNoneSelected);
        EXPECT_RESULT_EQ(engine->SelectDevice(0), ZT::S_OK);
        EXPECT_EQ(engine->GetDeviceState(), DeviceState::DeviceInUpdateMode);
        EXPECT_RESULT_EQ(engine->SetFirmwareFile(ZT::WString(file.c_str())), ZT::S_OK);
        if (engine->StartUpdate() == ZT::S_OK && engine->WaitForUpdate(60000) == ZT::S_OK) {
            outcome = {engine->GetUpdateRunState(false), engine->GetDeviceState()};
        }
    }
    LDualUpdater::ReleaseInstance();
    ZT::SetUsbBackend(nullptr);
    return outcome;
}

// The download requests (DNLOAD) that reached the device, in order: "erase 0x08008000",
// "set 0x08008800", "block 2 of 2048 bytes", "leave".
std::vector<std::string> DownloadsSeen(const std::vector<SimulatedUsbRequest>& requests)
{
    std::vector<std::string> seen;
    for (const SimulatedUsbRequest& r : requests) {
        if (r.request != static_cast<std::uint8_t>(ZT::DfuRequest::Dnload))
            continue;
        char text[48];
        if (r.value == 0 && r.dataOut.empty()) {
            seen.emplace_back("leave");
            continue;
        }
        if (r.value == 0 && r.dataOut.size() == 5) {
            const std::uint32_t address = r.dataOut[1] | (r.dataOut[2] << 8) | (r.dataOut[3] << 16) |
                                          (static_cast<std::uint32_t>(r.dataOut[4]) << 24);
            std::snprintf(text, sizeof text, "%s 0x%08X", r.dataOut[0] == 0x21 ? "set" : "erase",
                          static_cast<unsigned>(address));
        } else {
            std::snprintf(text, sizeof text, "block %u of %zu bytes", static_cast<unsigned>(r.value), r.dataOut.size());
        }
        seen.emplace_back(text);
    }
    return seen;
}

TEST_F(LinuxUsbBackendTest, TheEngineWritesAnImageThroughLibusbAndTheDeviceReturnsInNormalMode)
{
    const DfuSeImage image = MakeTestImage();
    const EngineOutcome outcome = RunEngineDownload(mBackend, image.ToBytes());
    EXPECT_EQ(outcome.first, LUpdateEngineInterface::UpdateRunState::Succeeded);
    EXPECT_EQ(mBootloader.ReadFlash(image.ElementAddress, image.ElementData.size()), image.ElementData);
    EXPECT_TRUE(mBootloader.HasLeft());
    // The image's first block, which holds its vector table, reaches the device last.
    EXPECT_EQ(DownloadsSeen(mBootloader.GetRequestLog()),
              (std::vector<std::string>{"erase 0x08008000", "set 0x08008800", "block 2 of 2048 bytes", "set 0x08009000",
                                        "block 2 of 1 bytes", "set 0x08008000", "block 2 of 2048 bytes",
                                        "set 0x08008000", "leave"}));

    // The kernel removes the bootloader and adds the application at the next address.
    Unplug(mSysname);
    mUnplugged = true;
    const std::string returnedSysname = mSysname + ".1";
    const std::string returnedPath = DevicePath(mAddress + 1);
    Plug(returnedSysname, mAddress + 1, kControllerDescriptors);
    EXPECT_EQ(EventuallyListed(returnedPath, true), "USB\\VID_2C1A&PID_8010&REV_0031");
    EXPECT_EQ(EventuallyListed(mPath, false), "");
    ZT::UsbError error = ZT::UsbError::None;
    EXPECT_FALSE(mBackend->Open(mPath, error));
    EXPECT_EQ(error, ZT::UsbError::NoDevice);
    Unplug(returnedSysname);
}

TEST_F(LinuxUsbBackendTest, AnUnplugDuringTheEnginesWritePhaseFailsItWithOneLine)
{
    CDebugCapture capture;
    // One block is written (the image's second); the device leaves instead of taking the next,
    // and the image's first word stays erased.
    mBootloader.SetFaults(Fault(&F::unplugAfterBlocks, 1u));
    const DfuSeImage image = MakeTestImage();
    const EngineOutcome outcome = RunEngineDownload(mBackend, image.ToBytes());
    EXPECT_EQ(outcome, EngineOutcome(LUpdateEngineInterface::UpdateRunState::Failed,
                                     LUpdateEngineInterface::DeviceState::DeviceCannotBeUpdated));
    EXPECT_EQ(mBootloader.ReadFlash(image.ElementAddress + kTransferSize, kTransferSize),
              std::vector<std::uint8_t>(image.ElementData.begin() + kTransferSize,
                                        image.ElementData.begin() + 2 * kTransferSize));
    EXPECT_EQ(mBootloader.ReadFlash(image.ElementAddress, 8), std::vector<std::uint8_t>(8, 0xFF))
        << "the image's first 8 bytes at 0x08008000 were written before the download was cut";
    const std::string text = capture.Text();
    EXPECT_NE(text.find("left the bus during request 0x01"), std::string::npos) << text;
    EXPECT_EQ(text.find("left the bus"), text.rfind("left the bus")) << text;
}

// A flipped byte of the element is seen by the suffix's CRC before any request: the engine's
// refusal reaches the device as nothing at all.
TEST_F(LinuxUsbBackendTest, AFileWithABadSuffixCrcSendsNoRequest)
{
    ASSERT_TRUE(mBootloader.ProgramFlash(0x08008000, std::vector<std::uint8_t>(0x100, 0x5A)));
    std::vector<std::uint8_t> bytes = MakeTestImage().ToBytes();
    bytes[bytes.size() - 17] ^= 0x01; // the element's last byte
    CDebugCapture capture;
    const EngineOutcome outcome = RunEngineDownload(mBackend, bytes);
    EXPECT_EQ(outcome, EngineOutcome(LUpdateEngineInterface::UpdateRunState::Failed,
                                     LUpdateEngineInterface::DeviceState::DeviceCannotBeUpdated));
    const auto requests = mBootloader.GetRequestLog();
    EXPECT_TRUE(requests.empty()) << requests.size() << " DFU requests reached the device, the first 0x" << std::hex
                                  << (requests.empty() ? 0 : int(requests.front().request));
    EXPECT_EQ(mBootloader.ReadFlash(0x08008000, 0x100), std::vector<std::uint8_t>(0x100, 0x5A));
    EXPECT_NE(capture.Text().find("SuffixCrcMismatch"), std::string::npos) << capture.Text();
}

// The download driver in a process of its own, with the emulated bus inherited (umockdev's
// preload and its folder are in the environment); its standard error goes to log.
pid_t StartDriver(const std::string& file, const std::string& log)
{
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    std::string program = ZT_USB_DOWNLOAD_DRIVER;
    std::string argument = file;
    char* argv[] = {program.data(), argument.data(), nullptr};
    pid_t pid = -1;
    if (::posix_spawn(&pid, program.c_str(), &actions, nullptr, argv, environ) != 0)
        pid = -1;
    posix_spawn_file_actions_destroy(&actions);
    return pid;
}

// The child's wait status once it has ended; -1 when it is still running after timeout, in which
// case it is killed.
int WaitForChild(pid_t pid, std::chrono::seconds timeout)
{
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    int status = 0;
    while (::waitpid(pid, &status, WNOHANG) == 0) {
        if (std::chrono::steady_clock::now() > deadline) {
            ::kill(pid, SIGKILL);
            (void)::waitpid(pid, &status, 0);
            return -1;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return status;
}

std::string ReadText(const std::string& path)
{
    std::ifstream in(path);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

struct KillCase {
    const char* name;
    CEmulatedDfuSeBootloader::HoldAt at;
    std::uint32_t count;
};
void PrintTo(const KillCase& c, std::ostream* out) { *out << c.name; }

class LinuxUsbKilledDownload : public LinuxUsbBackendTest, public ::testing::WithParamInterface<KillCase> {};

// A run killed while it waits for the bootloader's answer leaves it in dfuDNLOAD-IDLE, which only
// an ABORT ends: the next run, another process, must bring it to dfuIDLE and finish the update.
TEST_P(LinuxUsbKilledDownload, LeavesTheBootloaderInDownloadIdleAndTheNextProcessFinishesTheUpdate)
{
    const KillCase& c = GetParam();
    const std::string folder = std::getenv("TMPDIR");
    // Two 16 KiB sectors' worth, over an older application that the erase must clear.
    DfuSeImage image;
    image.ElementAddress = 0x08008000;
    image.ElementData = SimTest::MakeImage(0x4000 + 3000, std::nullopt);
    ASSERT_TRUE(mBootloader.ProgramFlash(0x08008000, std::vector<std::uint8_t>(0x8000, 0x5A)));
    const std::string file = folder + "/killed.dfu";
    WriteFile(file, image.ToBytes());

    mBootloader.HoldFrom(c.at, c.count);
    const std::string firstLog = folder + "/first-run.log";
    const pid_t first = StartDriver(file, firstLog);
    ASSERT_GT(first, 0) << "cannot start " << ZT_USB_DOWNLOAD_DRIVER;
    const bool holding = mBootloader.WaitUntilHolding(std::chrono::seconds(60));
    ::kill(first, SIGKILL);
    const int firstStatus = WaitForChild(first, std::chrono::seconds(10));
    ASSERT_TRUE(holding) << ReadText(firstLog);
    EXPECT_TRUE(WIFSIGNALED(firstStatus) && WTERMSIG(firstStatus) == SIGKILL) << "wait status " << firstStatus;
    const auto left = mBootloader.GetDfuState();
    ASSERT_TRUE(left);
    EXPECT_EQ(std::string(ZT::ToString(*left)), "dfuDNLOAD-IDLE");
    EXPECT_NE(mBootloader.ReadFlash(0x08008000, image.ElementData.size()), image.ElementData);
    mBootloader.ReleaseHold();

    const std::string secondLog = folder + "/second-run.log";
    const pid_t second = StartDriver(file, secondLog);
    ASSERT_GT(second, 0);
    const int secondStatus = WaitForChild(second, std::chrono::seconds(120));
    const std::string text = ReadText(secondLog);
    EXPECT_TRUE(WIFEXITED(secondStatus) && WEXITSTATUS(secondStatus) == 0) << "wait status " << secondStatus << "\n" << text;
    EXPECT_NE(text.find("is in dfuDNLOAD-IDLE, left by a transfer that did not end; aborting it"), std::string::npos)
        << text;
    EXPECT_EQ(mBootloader.ReadFlash(0x08008000, image.ElementData.size()), image.ElementData) << text;
    EXPECT_EQ(mBootloader.ReadFlash(0x08008000 + image.ElementData.size(), 1), std::vector<std::uint8_t>{0xFF}) << text;
    EXPECT_TRUE(mBootloader.HasLeft()) << text;
}

INSTANTIATE_TEST_SUITE_P(
    Phases, LinuxUsbKilledDownload,
    ::testing::Values(KillCase{"WhileErasing", CEmulatedDfuSeBootloader::HoldAt::EraseCommand, 2},
                      KillCase{"WhileWriting", CEmulatedDfuSeBootloader::HoldAt::DataBlock, 4}),
    [](const ::testing::TestParamInfo<KillCase>& info) { return std::string(info.param.name); });

// Runs command (with umockdev's preload inherited from this process, so it sees the same
// emulated bus) and gives its standard output and error.
std::string RunTool(const std::string& command, int& status)
{
    std::string output;
    FILE* pipe = ::popen((command + " 2>&1").c_str(), "r");
    if (!pipe) {
        status = -1;
        return output;
    }
    char buffer[512];
    while (std::fgets(buffer, sizeof buffer, pipe))
        output += buffer;
    status = ::pclose(pipe);
    return output;
}

// A second, independent client of the emulation: stock dfu-util must list, download to and upload
// from the same bootloader, so the emulation is a DfuSe bootloader and not only what our code
// expects of one. The flash starts programmed around the target, so the download must erase the
// sector it writes to and no other.
TEST_F(LinuxUsbBackendTest, StockDfuUtilListsDownloadsToAndUploadsFromTheEmulatedBootloader)
{
    if (::access("/usr/bin/dfu-util", X_OK) != 0)
        GTEST_SKIP() << "dfu-util is not installed";
    const std::string folder = std::getenv("TMPDIR");
    ASSERT_TRUE(mBootloader.ProgramFlash(0x08004000, std::vector<std::uint8_t>(0xC000, 0x5A))); // sectors 1 to 3
    int status = 0;
    const std::string listing = RunTool("dfu-util -l", status);
    EXPECT_EQ(status, 0) << listing;
    char devnum[32];
    std::snprintf(devnum, sizeof devnum, "devnum=%d", mAddress);
    EXPECT_NE(listing.find("Found DFU: [0483:df11] ver=0200"), std::string::npos) << listing;
    EXPECT_NE(listing.find(devnum), std::string::npos) << listing;
    EXPECT_NE(listing.find("@Internal Flash"), std::string::npos) << listing;

    const std::vector<std::uint8_t> data = SimTest::MakeImage(kTransferSize + 100, std::nullopt);
    WriteFile(folder + "/raw.bin", data);
    const std::string download =
        RunTool("dfu-util -d 0483:df11 -a 0 -s 0x08008000 -D " + folder + "/raw.bin", status);
    EXPECT_EQ(status, 0) << download;
    EXPECT_EQ(mBootloader.ReadFlash(0x08008000, data.size()), data) << download;
    EXPECT_EQ(mBootloader.ReadFlash(0x08007FFF, 1), std::vector<std::uint8_t>{0x5A}) << download;
    EXPECT_EQ(mBootloader.ReadFlash(0x0800BFFF, 2), (std::vector<std::uint8_t>{0xFF, 0x5A})) << download;

    const std::string upload = RunTool("dfu-util -d 0483:df11 -a 0 -s 0x08008000:" + std::to_string(data.size()) +
                                           " -U " + folder + "/uploaded.bin",
                                       status);
    EXPECT_EQ(status, 0) << upload;
    std::ifstream in(folder + "/uploaded.bin", std::ios::binary);
    const std::vector<std::uint8_t> uploaded((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_TRUE(uploaded == data) << upload; // the short last block too
}

// A port reset goes to the kernel as USBDEVFS_RESET; the device then re-enumerates, so the
// connection is closed whatever the reset gave: the next request must say NotOpen, not reach
// a handle of a device that is no longer there.
TEST_F(LinuxUsbBackendTest, AResetClosesTheConnection)
{
    OpenBootloader();
    CDebugCapture capture;
    EXPECT_TRUE(mConnection->Reset()) << ZT::UsbErrorName(mConnection->GetLastError());
    EXPECT_NE(capture.Text().find("USB: reset of " + mPath), std::string::npos) << capture.Text();
    DfuHost host(mConnection, ZT::GetClock());
    EXPECT_FALSE(host.GetStatus());
    EXPECT_STREQ(ZT::UsbErrorName(mConnection->GetLastError()), "NotOpen");
    EXPECT_FALSE(mConnection->Reset());
    EXPECT_STREQ(ZT::UsbErrorName(mConnection->GetLastError()), "NotOpen");
}

// The bootloader's serial comes from sysfs without opening the device; other devices are listed
// without one, so a plain listing never waits on them.
TEST_F(LinuxUsbBackendTest, ListsTheSerialNumberOfABootloaderOnly)
{
    const std::string controllerSysname = "1-" + std::to_string(mAddress + 1);
    Plug(controllerSysname, mAddress + 1, kControllerDescriptors);
    std::vector<ZT::UsbDeviceInfo> devices;
    ASSERT_RESULT_EQ(mBackend->ListDevices(devices), ZT::S_OK);
    std::map<std::string, std::string> serials;
    for (const ZT::UsbDeviceInfo& device : devices)
        serials[device.path] = device.serialNumber;
    ASSERT_TRUE(serials.contains(mPath));
    ASSERT_TRUE(serials.contains(DevicePath(mAddress + 1)));
    EXPECT_EQ(serials[mPath], kSerialNumber);
    EXPECT_EQ(serials[DevicePath(mAddress + 1)], "");
    EXPECT_EQ(mBootloader.GetClaimCount(), 0);
    Unplug(controllerSysname);
}

TEST(LinuxUsbBackendPaths, MakesAndParsesOnlyTheUsbfsNodeForm)
{
    EXPECT_EQ(ZT::LLinuxUsbBackend::MakeDevicePath(1, 7), "/dev/bus/usb/001/007");
    EXPECT_EQ(ZT::LLinuxUsbBackend::MakeDevicePath(255, 127), "/dev/bus/usb/255/127");
    const auto parsed = ZT::LLinuxUsbBackend::ParseDevicePath("/dev/bus/usb/003/120");
    ASSERT_TRUE(parsed);
    EXPECT_EQ(parsed->bus, 3);
    EXPECT_EQ(parsed->address, 120);
    for (const char* bad : {"", "/dev/bus/usb/3/120", "/dev/bus/usb/003/1200", "/dev/bus/usb/003-120",
                            "/dev/bus/usb/256/001", "/dev/bus/usb/0x3/001", "/dev/bus/usb/003/12a"})
        EXPECT_FALSE(ZT::LLinuxUsbBackend::ParseDevicePath(bad)) << bad;
}

} // namespace
