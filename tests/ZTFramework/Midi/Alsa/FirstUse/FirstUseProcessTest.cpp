// The product's whole first-use path without hardware and without the simulator: the real program,
// in its own process, on a USB bus and a kernel sequencer that umockdev emulates. Its update-mode
// message, written through real alsa-lib, makes the emulated controller leave the bus and its
// DfuSe bootloader appear; the image goes in through real libusb; the device comes back with the
// file's version. The test process plays the kernel: it owns the testbed, answers the sequencer's
// and the bootloaders' requests, and plugs and unplugs devices as the hardware would.

#include "tests/FirmwareUpdater/Panel/ProcessRunner.h"
#include "tests/Support/AlsaSequencer/EmulatedAlsaSequencer.h"
#include "tests/Support/Umockdev/UmockdevPreload.h"
#include "tests/ZTFramework/Usb/Linux/EmulatedDfuSeBootloader.h"

#include "FirmwareUpdater/Panel/Engine/DfuSeFileLayout.h"
#include "ZTFramework/Utilities/Storage/Crc32.h"

#include <gtest/gtest.h>
#include <umockdev.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cerrno>
#include <cstring>
#include <ostream>
#include <sys/stat.h>
#include <filesystem>
#include <fstream>
#include <future>
#include <iterator>
#include <memory>
#include <sstream>
#include <thread>
#include <unistd.h>

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

using SequencerTest::CEmulatedAlsaSequencer;
using SequencerTest::DeliveredEvent;
using UpdaterProcess::Contains;
using UpdaterProcess::Describe;
using UpdaterProcess::Result;
using UpdaterProcess::Sandbox;
using UsbTest::CEmulatedDfuSeBootloader;

[[maybe_unused]] const bool gTestbedInstalled = UmockdevTest::InstallTestbed();

constexpr int kControllerClient = 28;
constexpr int kWheelDisplayClient = 24;
const std::vector<std::uint8_t> kUpdateModeRequest = {0xF0, 0x00, 0x01, 0x7A, 0x01, 0x10, 0x72, 0x00, 0x00, 0xF7};

// One of the product's devices as the bus shows it in either of its modes.
struct DeviceModel {
    const char* name;
    const char* productIdLittleEndian; // "1080" for 0x8010
    const char* oldVersion;            // bcdDevice before the update, little-endian ("3000" = 0.30)
    const char* newVersion;            // the file's version, little-endian
    const char* bootloaderSerial;
    int sequencerClient;
    const char* fileName;
};
constexpr DeviceModel kController{"controller", "1080", "3000", "3100", "2058345D3100", kControllerClient,
                                  "qx31_tp_update_00_31_120936.dfu"};
constexpr DeviceModel kWheelDisplay{"wheel display", "10b0", "4900", "5000", "2058345D3101", kWheelDisplayClient,
                                    "qx31_wd_update_00_50_3A7CE2CA.dfu"};

std::vector<std::uint8_t> ReadBytes(const std::filesystem::path& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::vector<std::uint8_t>((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

std::uint32_t ReadLittleEndian32(const std::vector<std::uint8_t>& bytes, std::size_t offset)
{
    std::uint32_t value = 0;
    for (int i = 3; i >= 0; --i)
        value = (value << 8) | bytes.at(offset + static_cast<std::size_t>(i));
    return value;
}

constexpr const char* kBootloaderDescriptors = "1201000200000040830411df0002010203" "01"
                                               "09021b00010100c032"
                                               "0904000000fe010204"
                                               "09210bff0000081a01";

std::string NormalDescriptors(const DeviceModel& device, bool updated)
{
    return std::string("12010002000000401a2c") + device.productIdLittleEndian +
           (updated ? device.newVersion : device.oldVersion) + "010203" "01" "0902120001010080" "32" "090400000001010000";
}

std::string DevicePath(int address)
{
    char text[32];
    std::snprintf(text, sizeof text, "/dev/bus/usb/001/%03d", address);
    return text;
}

// Adds a device at bus 1, address, as the kernel shows it in sysfs (umockdev sends its "add").
bool Plug(const std::string& sysname, int address, const std::string& descriptors, const std::string& serial)
{
    char number[8];
    std::snprintf(number, sizeof number, "%03d", address);
    std::ostringstream record;
    record << "P: /devices/" << sysname << "\n"
           << "N: bus/usb/001/" << number << "\n"
           << "E: SUBSYSTEM=usb\nE: DEVTYPE=usb_device\nE: DRIVER=usb\n"
           << "E: BUSNUM=001\nE: DEVNUM=" << number << "\nE: DEVNAME=/dev/bus/usb/001/" << number << "\n"
           << "A: busnum=1\\n\nA: devnum=" << address << "\\n\nA: bConfigurationValue=1\\n\nA: speed=12\\n\n"
           << "A: serial=" << serial << "\\n\n"
           << "H: descriptors=" << descriptors << "\n";
    GError* error = nullptr;
    const bool added = umockdev_testbed_add_from_string(UmockdevTest::Testbed(), record.str().c_str(), &error);
    if (!added)
        ADD_FAILURE() << "cannot plug " << sysname << ": " << (error ? error->message : "?");
    g_clear_error(&error);
    return added;
}

void Unplug(const std::string& sysname)
{
    const std::string syspath = "/sys/devices/" + sysname;
    umockdev_testbed_uevent(UmockdevTest::Testbed(), syspath.c_str(), "remove");
    umockdev_testbed_remove_device(UmockdevTest::Testbed(), syspath.c_str());
}

// The build's firmware files are marked for simulated devices, which the program refuses on a
// real bus; the copies beside the copied program have the mark blanked and the suffix's CRC
// written anew, as a shipped file has.
bool InstallProgram(const std::filesystem::path& folder, std::string& error)
{
    const std::filesystem::path built = UpdaterProcess::BinaryPath();
    std::error_code failure;
    std::filesystem::create_directories(folder, failure);
    std::filesystem::copy_file(built, folder / built.filename(), std::filesystem::copy_options::overwrite_existing,
                               failure);
    if (failure) {
        error = "cannot copy " + built.string() + ": " + failure.message();
        return false;
    }
    for (const char* name : {kController.fileName, kWheelDisplay.fileName}) {
        std::vector<std::uint8_t> bytes = ReadBytes(built.parent_path() / name);
        const std::string_view mark(DfuSeFileLayout::kSimulationMark);
        const auto at = std::search(bytes.begin(), bytes.end(), mark.begin(), mark.end());
        if (bytes.size() < 16 || at == bytes.end()) {
            error = std::string(name) + " is missing or has no simulation mark";
            return false;
        }
        std::fill_n(at, mark.size(), 0);
        const std::uint32_t crc =
            ZT::Crc32Update(ZT::kCrc32Initial, std::span<const std::uint8_t>(bytes.data(), bytes.size() - 4));
        for (int i = 0; i < 4; ++i)
            bytes[bytes.size() - 4 + static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(crc >> (8 * i));
        std::ofstream out(folder / name, std::ios::binary);
        out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    }
    return true;
}

// The hardware of one device: in normal mode it listens on its sequencer port; the update-mode
// message makes it leave the bus and its bootloader appear at the next address; once the
// bootloader has taken the image and left, the device comes back in normal mode with the new
// version at the address after that.
class CEmulatedDevice {
public:
    CEmulatedDevice(const DeviceModel& model, int address) : mModel(model), mAddress(address)
    {
        mSysname = "1-" + std::to_string(address);
    }
    ~CEmulatedDevice()
    {
        if (!mCurrentSysname.empty())
            Unplug(mCurrentSysname);
        if (mBootloader)
            mBootloader->Detach(UmockdevTest::Testbed(), DevicePath(mAddress + 1));
    }

    void PlugInNormalMode()
    {
        if (Plug(mSysname, mAddress, NormalDescriptors(mModel, false), ""))
            mCurrentSysname = mSysname;
    }
    // Called on umockdev's thread for each delivered event.
    void Delivered(const DeliveredEvent& event)
    {
        if (event.destClient == mModel.sequencerClient && event.data == kUpdateModeRequest)
            ++mRequests;
    }
    // One step of the hardware's life, on the test's thread.
    void Step()
    {
        if (mPhase == Phase::Normal && mRequests > 0) {
            Unplug(mCurrentSysname);
            mCurrentSysname.clear();
            mBootloader = std::make_unique<CEmulatedDfuSeBootloader>();
            const std::string path = DevicePath(mAddress + 1);
            if (!mBootloader->Attach(UmockdevTest::Testbed(), path)) {
                ADD_FAILURE() << "cannot attach the " << mModel.name << "'s bootloader at " << path;
                return;
            }
            if (Plug(mSysname + ".1", mAddress + 1, kBootloaderDescriptors, mModel.bootloaderSerial))
                mCurrentSysname = mSysname + ".1";
            mPhase = Phase::Bootloader;
        } else if (mPhase == Phase::Bootloader && mBootloader->HasLeft()) {
            Unplug(mCurrentSysname);
            mCurrentSysname.clear();
            if (Plug(mSysname + ".2", mAddress + 2, NormalDescriptors(mModel, true), ""))
                mCurrentSysname = mSysname + ".2";
            mPhase = Phase::Updated;
        }
    }
    [[nodiscard]] int Requests() const { return mRequests; }
    // Whether the bootloader's flash holds the file's one element where the file says, as a
    // mismatch description (empty when it does).
    [[nodiscard]] std::string CompareFlash(const std::filesystem::path& file) const
    {
        const std::vector<std::uint8_t> bytes = ReadBytes(file);
        if (bytes.size() < DfuSeFileLayout::kElementDataOffset)
            return file.string() + " cannot be read";
        const std::uint32_t address = ReadLittleEndian32(bytes, DfuSeFileLayout::kElementAddressOffset);
        const std::uint32_t size = ReadLittleEndian32(bytes, DfuSeFileLayout::kElementSizeOffset);
        if (!mBootloader)
            return std::string("the ") + mModel.name + "'s bootloader never appeared";
        const auto begin = bytes.begin() + static_cast<std::ptrdiff_t>(DfuSeFileLayout::kElementDataOffset);
        const std::vector<std::uint8_t> element(begin, begin + size);
        const std::vector<std::uint8_t> flash = mBootloader->ReadFlash(address, size);
        const auto differs = std::mismatch(element.begin(), element.end(), flash.begin(), flash.end());
        if (flash.size() == element.size() && differs.first == element.end())
            return {};
        char where[96];
        std::snprintf(where, sizeof where, "the %s's flash differs from the file at 0x%08X (%u bytes from 0x%08X)",
                      mModel.name, address + static_cast<std::uint32_t>(differs.first - element.begin()), size, address);
        return where;
    }
    [[nodiscard]] bool Updated() const { return mPhase == Phase::Updated; }

private:
    enum class Phase { Normal, Bootloader, Updated };
    const DeviceModel mModel;
    const int mAddress;
    std::string mSysname;
    std::string mCurrentSysname;
    std::atomic<int> mRequests{0};
    Phase mPhase = Phase::Normal;
    std::unique_ptr<CEmulatedDfuSeBootloader> mBootloader;
};

class FirstUseProcessTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(UmockdevTest::UmockdevPreloadLoaded()) << "umockdev's preload library is not loaded";
        std::string error;
        ASSERT_TRUE(InstallProgram(mSandbox.Folder() / "bin", error)) << error;
        ASSERT_TRUE(mKernel.Attach(UmockdevTest::Testbed(), error)) << error;
        mKernel.AddKernelClient(20, "Halvard XR4000 NOVA MIDI 1", {{0, "Halvard XR4000 NOVA MIDI 1 MIDI 1"}});
        mKernel.AddKernelClient(kWheelDisplayClient, "Halvard XR4000 NOVA WD", {{0, "Halvard XR4000 NOVA WD MIDI 1"}});
        mKernel.AddKernelClient(kControllerClient, "Halvard XR4000 NOVA", {{0, "Halvard XR4000 NOVA MIDI 1"}});
        // Each test its own addresses, as a real bus hands out new ones.
        static int nextAddress = 10;
        mController = std::make_unique<CEmulatedDevice>(kController, nextAddress);
        mWheelDisplay = std::make_unique<CEmulatedDevice>(kWheelDisplay, nextAddress + 5);
        nextAddress += 10;
        mKernel.SetDeliveryHandler([this](const DeliveredEvent& event) {
            mController->Delivered(event);
            mWheelDisplay->Delivered(event);
        });
        mController->PlugInNormalMode();
        mWheelDisplay->PlugInNormalMode();
    }
    void TearDown() override
    {
        mKernel.SetDeliveryHandler(nullptr);
        mKernel.Detach(UmockdevTest::Testbed());
        mController.reset();
        mWheelDisplay.reset();
    }

    // Runs the copied program while this thread plays the devices' hardware.
    // launcher, when given, starts the program (its arguments first).
    Result RunUpdater(const std::vector<std::string>& options, std::chrono::seconds timeout,
                      const std::vector<std::string>& launcher = {})
    {
        std::vector<std::string> arguments = launcher;
        arguments.push_back((mSandbox.Folder() / "bin" / "xr4000-nova-updater").string());
        arguments.insert(arguments.end(), options.begin(), options.end());
        auto run = std::async(std::launch::async, [&] { return mSandbox.Run(arguments.front(), arguments, timeout); });
        while (run.wait_for(std::chrono::milliseconds(5)) != std::future_status::ready) {
            mController->Step();
            mWheelDisplay->Step();
        }
        return run.get();
    }

    // The node's file in the testbed's folder.
    [[nodiscard]] static std::string TestbedNode()
    {
        gchar* root = umockdev_testbed_get_root_dir(UmockdevTest::Testbed());
        const std::string node = std::string(root) + CEmulatedAlsaSequencer::kDevnode;
        g_free(root);
        return node;
    }

    Sandbox mSandbox;
    CEmulatedAlsaSequencer mKernel;
    std::unique_ptr<CEmulatedDevice> mController;
    std::unique_ptr<CEmulatedDevice> mWheelDisplay;
};

// The installer's sequence: ask, update silently, ask again. The query reads both versions from the
// bus and never opens the sequencer; the silent run sends each device its message once, at its
// own port, and both devices come back with the files' versions.
TEST_F(FirstUseProcessTest, QueryThenSilentUpdateOfBothDevicesThroughRealAlsaLibAndLibusb)
{
    const Result before = RunUpdater({"-RETURN_UPDATE_MODE_STATUS"}, std::chrono::seconds(60));
    EXPECT_EQ(before.ExitCode, 5) << "an update is needed\n" << Describe(before);
    EXPECT_EQ(mKernel.GetOpenCount(), 0) << "the query opened the sequencer";

    const Result silent = RunUpdater({"-SILENT", "-DEBUG_CONSOLE"}, std::chrono::seconds(240));
    EXPECT_EQ(silent.ExitCode, 0) << Describe(silent);
    EXPECT_TRUE(Contains(silent.StandardError, "Controller: updated to 00.31")) << Describe(silent);
    EXPECT_TRUE(Contains(silent.StandardError, "Wheel display: updated to 00.50")) << Describe(silent);
    EXPECT_EQ(mController->Requests(), 1) << Describe(silent);
    EXPECT_EQ(mWheelDisplay->Requests(), 1) << Describe(silent);
    EXPECT_TRUE(mController->Updated());
    EXPECT_TRUE(mWheelDisplay->Updated());
    EXPECT_EQ(mController->CompareFlash(mSandbox.Folder() / "bin" / kController.fileName), "");
    EXPECT_EQ(mWheelDisplay->CompareFlash(mSandbox.Folder() / "bin" / kWheelDisplay.fileName), "");
    const auto events = mKernel.GetDelivered();
    EXPECT_EQ(events.size(), 2u);
    EXPECT_TRUE(mKernel.GetDeliveredTo(20, 0).empty()) << "the look-alike got a message";

    const Result after = RunUpdater({"-RETURN_UPDATE_MODE_STATUS"}, std::chrono::seconds(60));
    EXPECT_EQ(after.ExitCode, 4) << "up to date\n" << Describe(after);
}

// What stops the switch before any message, as the user sees it on the terminal: each run names
// the cause and what to do, sends nothing, and leaves both devices as they were in normal mode.
struct SwitchFailure {
    const char* name;
    std::vector<std::string> expectedLines;
};
void PrintTo(const SwitchFailure& failure, std::ostream* out) { *out << failure.name; }

class FirstUseSwitchFailure : public FirstUseProcessTest, public ::testing::WithParamInterface<SwitchFailure> {};

TEST_P(FirstUseSwitchFailure, NamesTheCauseSendsNothingAndLeavesBothDevicesInNormalMode)
{
    const std::string name = GetParam().name;
    const std::string node = TestbedNode();
    std::vector<std::string> launcher;
    bool realSequencer = false;
    if (name == "NoPortNamedExactlyAsTheController") {
        mKernel.RemoveClient(kControllerClient);
    } else if (name == "SequencerDeviceMissing") {
        ASSERT_EQ(::rename(node.c_str(), (node + ".hidden").c_str()), 0) << node << ": " << std::strerror(errno);
        // The testbed hides only the nodes it has: a machine with a real sequencer shows it here.
        realSequencer = ::access(CEmulatedAlsaSequencer::kDevnode, F_OK) == 0;
    } else if (name == "SequencerDeviceNotOpenable") {
        ASSERT_EQ(::chmod(node.c_str(), 0), 0) << node << ": " << std::strerror(errno);
        // Root opens any file; without these two capabilities it meets the node as a user does.
        if (::geteuid() == 0)
            launcher = {"/usr/bin/setpriv", "--bounding-set=-dac_override,-dac_read_search"};
    }
    const Result run = realSequencer ? Result{} : RunUpdater({"-SILENT", "-DEBUG_CONSOLE"}, std::chrono::seconds(120), launcher);
    static_cast<void>(::rename((node + ".hidden").c_str(), node.c_str()));
    static_cast<void>(::chmod(node.c_str(), 0644));
    if (realSequencer)
        GTEST_SKIP() << "this machine has a real " << CEmulatedAlsaSequencer::kDevnode;

    EXPECT_EQ(run.ExitCode, 0) << Describe(run);
    for (const std::string& line : GetParam().expectedLines)
        EXPECT_TRUE(Contains(run.StandardError, line)) << "no \"" << line << "\"\n" << Describe(run);
    EXPECT_TRUE(Contains(run.StandardError, "Controller: failed")) << Describe(run);
    EXPECT_TRUE(mKernel.GetDelivered().empty()) << mKernel.GetDelivered().size() << " event(s) delivered";
    EXPECT_EQ(mController->Requests(), 0);
    EXPECT_FALSE(mController->Updated());
    EXPECT_FALSE(mWheelDisplay->Updated());
}

INSTANTIATE_TEST_SUITE_P(
    Causes, FirstUseSwitchFailure,
    ::testing::Values(
        SwitchFailure{"NoPortNamedExactlyAsTheController",
                      {"no MIDI port named \"Halvard XR4000 NOVA\" can be opened; no message sent"}},
        SwitchFailure{"SequencerDeviceMissing", {"No such file or directory", "sudo modprobe snd-seq"}},
        SwitchFailure{"SequencerDeviceNotOpenable",
                      {"no permission to open the ALSA sequencer /dev/snd/seq", "audio group", "udev rule"}}),
    [](const ::testing::TestParamInfo<SwitchFailure>& info) { return std::string(info.param.name); });

} // namespace
