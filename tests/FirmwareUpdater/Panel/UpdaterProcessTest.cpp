// The real program, run as an installer runs it, on simulated devices: exit statuses, silent
// updates across processes, options that choose files and devices, the hand-over to a first
// copy, the UDP debug output and command lines that must not break anything.

#include "tests/FirmwareUpdater/Panel/ProcessRunner.h"

#include "FirmwareUpdater/Panel/Application.h"
#include "FirmwareUpdater/Panel/Engine/DfuSeFirmwareFile.h"
#include "FirmwareUpdater/Panel/Engine/ProductDevice.h"
#include "FirmwareUpdater/Panel/Engine/UpdateHistory.h"
#include "Simulator/SimulatorStateFile.h"
#include "ZTFramework/Application/SingleInstance.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <array>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <netinet/in.h>
#include <ostream>
#include <poll.h>
#include <string>
#include <sys/socket.h>
#include <unistd.h>
#include <utility>
#include <vector>

namespace {

using UpdaterProcess::Contains;
using UpdaterProcess::Describe;
using UpdaterProcess::Result;
using UpdaterProcess::Sandbox;

// Simulated devices move 20 times faster than real ones: the engine's own waits stay as they
// are, so a two-device update still takes a few seconds.
constexpr const char* kFast = ",time-factor=0.05";

// ---- Query mode: one row per exit status --------------------------------------------------------

// How the program is started: as built (the firmware files beside it), a copy in a folder of its
// own (no files beside it), or a symbolic link there (the files beside the real program count).
enum class Program { Built, BareCopy, Link };

struct QueryCase {
    const char* name;
    std::string devices; // the -SIMULATE_DEVICES= value; empty: no simulator at all
    Program program;
    int exitCode;
};

// Test names show the case's name, not its bytes.
void PrintTo(const QueryCase& c, std::ostream* out) { *out << c.name; }

class QueryMode : public ::testing::TestWithParam<QueryCase> {};

TEST_P(QueryMode, ExitStatusTellsWhatTheDevicesNeed)
{
    const QueryCase& c = GetParam();
    Sandbox sandbox;
    std::string program = UpdaterProcess::BinaryPath();
    if (c.program != Program::Built) {
        const auto other = sandbox.Folder() / "bin" / "xr4000-nova-updater";
        std::filesystem::create_directories(other.parent_path());
        if (c.program == Program::Link)
            std::filesystem::create_symlink(program, other);
        else
            std::filesystem::copy_file(program, other);
        program = other.string();
    }
    std::vector<std::string> arguments{program, "-RETURN_UPDATE_MODE_STATUS"};
    if (!c.devices.empty())
        arguments.push_back("-SIMULATE_DEVICES=" + c.devices);
    const Result result = sandbox.Run(program, arguments);
    EXPECT_EQ(result.ExitCode, c.exitCode) << Describe(result);
    EXPECT_EQ(result.StandardOutput, "");
    EXPECT_EQ(result.StandardError, "") << "nothing is printed without -DEBUG_CONSOLE";
}

INSTANTIATE_TEST_SUITE_P(
    Statuses, QueryMode,
    ::testing::Values(
        // Without -SIMULATE_DEVICES the real backends look, and this machine has no controller.
        QueryCase{"NoControllerOnTheRealBus", "", Program::Built, 1},
        QueryCase{"NothingPluggedIn", "-,-", Program::Built, 1},
        QueryCase{"OnlyTheControllerIsAnIncompleteSet", "00.30,-", Program::Built, 1},
        QueryCase{"EnumerationFails", "00.30,00.49,enumeration-fails", Program::Built, 1},
        QueryCase{"InUpdateModeWithoutAFileToCompare", "00.31,dfu", Program::BareCopy, 2},
        QueryCase{"InUpdateModeNeedsItsImage", "00.31,dfu", Program::Built, 3},
        QueryCase{"UpToDate", "00.31,00.50", Program::Built, 4},
        QueryCase{"OldDevicesWithoutAFileNeedNothing", "00.30,00.49", Program::BareCopy, 4},
        QueryCase{"OnlyTheDisplayOld", "00.31,00.49", Program::Built, 5},
        QueryCase{"BothOld", "00.30,00.49", Program::Built, 5},
        QueryCase{"ALinkFindsTheFilesBesideTheRealProgram", "00.30,00.49", Program::Link, 5}),
    [](const ::testing::TestParamInfo<QueryCase>& info) { return std::string(info.param.name); });

// ---- Runs without a window ----------------------------------------------------------------------

struct SilentCase {
    const char* name;
    std::string devices;
    std::vector<std::string> options;
    std::vector<std::string> expectedLines; // each must appear on the debug console
    std::vector<std::string> absentLines;   // none of these may appear
    int queryAfter;                         // the exit status of a query afterwards
    int exitCode = 0;                       // the run's own exit status
};

void PrintTo(const SilentCase& c, std::ostream* out) { *out << c.name; }

class SilentOptions : public ::testing::TestWithParam<SilentCase> {};

TEST_P(SilentOptions, DoWhatTheyPromise)
{
    const SilentCase& c = GetParam();
    Sandbox sandbox;
    const std::string program = UpdaterProcess::BinaryPath();
    const std::string devices =
        "-SIMULATE_DEVICES=" + c.devices + ",state=" + (sandbox.Folder() / "devices.state").string() + kFast;
    std::vector<std::string> arguments{program, "-DEBUG_CONSOLE", devices};
    arguments.insert(arguments.end(), c.options.begin(), c.options.end());
    const Result run = sandbox.RunUpdater(arguments);
    ASSERT_EQ(run.ExitCode, c.exitCode) << Describe(run);
    EXPECT_EQ(run.StandardOutput, "") << "the debug console is standard error";
    for (const std::string& line : c.expectedLines)
        EXPECT_TRUE(Contains(run.StandardError, line)) << "missing \"" << line << "\"\n" << Describe(run);
    for (const std::string& line : c.absentLines)
        EXPECT_FALSE(Contains(run.StandardError, line)) << "unexpected \"" << line << "\"\n" << Describe(run);

    const Result after = sandbox.RunUpdater({program, "-RETURN_UPDATE_MODE_STATUS", devices});
    EXPECT_EQ(after.ExitCode, c.queryAfter) << Describe(after);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, SilentOptions,
    ::testing::Values(
        // Both devices in one run, the controller first (TwoDeviceUpdate), each back with its new
        // version, which a query afterwards, in the next process, still finds.
        SilentCase{"SilentUpdatesBothDevices",
                   "00.30,00.49",
                   {"-SILENT"},
                   {"Controller: back in normal mode with firmware 00.31.",
                    "Wheel display: back in normal mode with firmware 00.50.", "Controller: updated to 00.31\n",
                    "Wheel display: updated to 00.50\n", "Finished: 2 device(s) updated."},
                   {},
                   4},
        // Without a window the run still waits for the download it started.
        // A start that would show the window, on no display: the download that start-up began
        // is still seen to its end, and the run then says that the window could not show.
        SilentCase{"StartAutomaticallyWithoutAWindowWaitsForTheDownload",
                   "00.30,00.50",
                   {"-START_UPDATE_AUTOMATICALLY"},
                   {"Controller: back in normal mode with firmware 00.31.", "the window cannot show: no display"},
                   {},
                   4,
                   1},
        SilentCase{"SilentIfNotNeededQuitsWithAnUpToDateDevice",
                   "00.31,00.50",
                   {"-SILENT_IF_UPDATE_NOT_NEEDED"},
                   {"no update wanted", "Controller: already current (00.31)\n",
                    "Wheel display: already current (00.50)\n", "Finished: nothing was updated."},
                   {"switching to update mode"},
                   4},
        SilentCase{"SilentIfNotNeededWithAlwaysUpdateRewritesTheController",
                   "00.31,00.50",
                   // -SILENT goes first: only the first "-SILENT" in the line counts.
                   {"-SILENT", "-ALWAYS_UPDATE", "-SILENT_IF_UPDATE_NOT_NEEDED"},
                   {"Controller: back in normal mode with firmware 00.31.", "Finished: 1 device(s) updated."},
                   {"Wheel display: switching"},
                   4},
        SilentCase{"SilentAndStartAutomaticallyBehaveAsSilent",
                   "00.31,00.49",
                   {"-START_UPDATE_AUTOMATICALLY", "-SILENT"},
                   {"Wheel display: back in normal mode with firmware 00.50.", "Controller: already current (00.31)\n",
                    "Wheel display: updated to 00.50\n", "Finished: 1 device(s) updated."},
                   {"Controller: switching"},
                   4},
        SilentCase{"AWheelDisplayLeftInUpdateModeIsFinished",
                   "00.31,dfu",
                   {"-SILENT", "-silent_if_update_not_needed"},
                   {"Wheel display: back in normal mode with firmware 00.50."},
                   {"switching to update mode"},
                   4},
        SilentCase{"ADeviceThatDisappearsEndsTheRunWithoutHanging",
                   "00.30,00.49,controller:unplug-after-blocks=0",
                   {"-SILENT"},
                   {"Controller: the update failed",
                    // Where the download stopped: the block, its address and the USB error by name.
                    "Controller: failed (writing block 1 (0x08008800): data request: NoDevice)\n",
                    "Wheel display: not attempted (the controller's update did not succeed)\n",
                    "Finished: 0 device(s) updated, 1 update(s) failed."},
                   {"Wheel display: switching"},
                   // Erased and unwritten, it powers up in its bootloader next time.
                   3},
        SilentCase{"ABootloaderThatNeverAppearsEndsTheRun",
                   "00.30,00.49,controller:bootloader-never-appears",
                   {"-SILENT"},
                   {"Controller: cannot be updated",
                    "Controller: failed (switching to update mode: no new bootloader appeared)\n",
                    "Finished: 0 device(s) updated, 1 update(s) failed."},
                   {"Wheel display: switching"},
                   // It left for its bootloader and is found there next time.
                   3},
        // The summary names the block the bootloader stalled, its address and the bootloader's
        // status, as a person needs them to report it.
        SilentCase{"AStalledBlockIsNamedInTheSummary",
                   "00.31,00.49,display:stall-after-blocks=5",
                   {"-SILENT"},
                   {"Wheel display: the update failed (writing block 6 (0x0800B000)",
                    "Wheel display: failed (writing block 6 (0x0800B000): data request: Pipe, dfuERROR/errSTALLEDPKT)\n",
                    "Finished: 0 device(s) updated, 1 update(s) failed."},
                   {},
                   3}),
    [](const ::testing::TestParamInfo<SilentCase>& info) { return std::string(info.param.name); });

// ---- Termination signals ------------------------------------------------------------------------

// Where the controller's image in the state file differs from the element of its product file
// (every block the download writes, byte for byte), or empty when it holds all of it.
std::string ControllerImageDifference(const std::filesystem::path& stateFile)
{
    std::ifstream in(stateFile, std::ios::binary);
    const std::vector<std::uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::string error;
    const auto devices = CSimulatorStateFile::Decode(bytes, error);
    if (!devices)
        return "the state file cannot be read: " + error;
    const CSimulatorStateFile::Device* controller = nullptr;
    for (const CSimulatorStateFile::Device& device : *devices) {
        if (device.Kind == SimulatedDeviceKind::Controller)
            controller = &device;
    }
    if (!controller)
        return "no controller in the state file";

    const auto file = LDfuSeFirmwareFile::Create();
    const auto path = std::filesystem::path(UpdaterProcess::BinaryPath()).parent_path() /
                      std::filesystem::path(ZT::WString(kControllerDevice.FirmwareFileName).ToUTF8());
    if (file->Open(ZT::WString(path.string().c_str()), CSimulatorStateFile::kPageSize) != ZT::S_OK)
        return "cannot open " + path.string();
    for (std::uint16_t block = 0; block < file->GetBlockCount(); ++block) {
        std::array<std::uint8_t, CSimulatorStateFile::kPageSize> expected{};
        std::uint16_t length = static_cast<std::uint16_t>(expected.size());
        if (file->ReadBlock(block, expected.data(), length) != ZT::S_OK)
            return "cannot read block " + std::to_string(block) + " of " + path.string();
        const std::uint32_t address = file->GetElementAddress() + block * CSimulatorStateFile::kPageSize;
        char where[64];
        std::snprintf(where, sizeof where, "block %u at 0x%08X", static_cast<unsigned>(block), address);
        const auto page = std::find_if(controller->Pages.begin(), controller->Pages.end(),
                                       [&](const CSimulatorStateFile::Page& p) { return p.Address == address; });
        if (page == controller->Pages.end())
            return std::string(where) + " is erased";
        if (std::memcmp(page->Bytes.data(), expected.data(), length) != 0)
            return std::string(where) + " differs from the file";
    }
    return "";
}

struct InterruptCase {
    const char* name;
    int signal;
    int exitCode;
    bool twice; // a second signal once the first one was acknowledged
};

void PrintTo(const InterruptCase& c, std::ostream* out) { *out << c.name; }

class Interruption : public ::testing::TestWithParam<InterruptCase> {};

TEST_P(Interruption, ASignalDuringTheDownloadFinishesThatDeviceAndEndsWithTheSignalsStatus)
{
    const InterruptCase& c = GetParam();
    const std::string name = c.signal == SIGTERM ? "SIGTERM" : c.signal == SIGINT ? "SIGINT" : "SIGHUP";
    Sandbox sandbox;
    const auto stateFile = sandbox.Folder() / "devices.state";
    // Slow enough that the download is still running when the signals arrive.
    const std::string devices = "-SIMULATE_DEVICES=00.30,00.49,state=" + stateFile.string() + ",time-factor=0.25";
    int sent = 0;
    const auto watcher = [&](int processId, const std::string& standardError) {
        if (sent == 0 && Contains(standardError, "Controller: writing firmware")) {
            ::kill(processId, c.signal);
            sent = 1;
        } else if (sent == 1 && c.twice && Contains(standardError, "Interrupted by " + name)) {
            ::kill(processId, c.signal);
            sent = 2;
        }
    };
    const Result run = sandbox.RunUpdater({UpdaterProcess::BinaryPath(), "-SILENT", "-DEBUG_CONSOLE", devices},
                                          std::chrono::seconds(60), watcher);
    ASSERT_EQ(sent, c.twice ? 2 : 1) << "the download was never seen running\n" << Describe(run);
    EXPECT_EQ(run.Signal, 0) << "the signal ended the process\n" << Describe(run);
    EXPECT_EQ(run.ExitCode, c.exitCode) << Describe(run);
    std::vector<std::string> expected{"Interrupted by " + name + ": finishing the controller's update first; do not unplug it.",
                                      "Controller: updated to 00.31\n",
                                      "Wheel display: not attempted (interrupted by " + name + ")\n",
                                      "Ended after " + name + ": exit status " + std::to_string(c.exitCode) + "."};
    if (c.twice)
        expected.push_back(name + " again: the controller's update is not cut short");
    for (const std::string& line : expected)
        EXPECT_TRUE(Contains(run.StandardError, line)) << "missing \"" << line << "\"\n" << Describe(run);
    EXPECT_FALSE(Contains(run.StandardError, "Wheel display: switching")) << Describe(run);

    EXPECT_EQ(ControllerImageDifference(stateFile), "") << "the controller does not hold the whole new image";
    // The wheel display was never started: the next run still has it to do.
    const Result after = sandbox.RunUpdater({UpdaterProcess::BinaryPath(), "-RETURN_UPDATE_MODE_STATUS", devices});
    EXPECT_EQ(after.ExitCode, 5) << Describe(after);
}

INSTANTIATE_TEST_SUITE_P(Signals, Interruption,
                         ::testing::Values(InterruptCase{"SigtermTwice", SIGTERM, 143, true},
                                           InterruptCase{"Sigint", SIGINT, 130, false},
                                           InterruptCase{"Sighup", SIGHUP, 129, false}),
                         [](const ::testing::TestParamInfo<InterruptCase>& info) { return std::string(info.param.name); });

// Ctrl-C while the controller switches into update mode: nothing is written, and a controller
// that had already left its application is sent back to it, so the next query finds it in
// normal mode (5), not waiting in its bootloader (3).
TEST(Interruption, CtrlCDuringTheSwitchLeavesTheControllerInItsApplication)
{
    Sandbox sandbox;
    const auto stateFile = sandbox.Folder() / "devices.state";
    const std::string devices = "-SIMULATE_DEVICES=00.30,00.49,state=" + stateFile.string() + ",time-factor=0.25";
    bool sent = false;
    const auto watcher = [&](int processId, const std::string& standardError) {
        if (!sent && Contains(standardError, "Controller: switching to update mode...")) {
            ::kill(processId, SIGINT);
            sent = true;
        }
    };
    const Result run = sandbox.RunUpdater({UpdaterProcess::BinaryPath(), "-SILENT", "-DEBUG_CONSOLE", devices},
                                          std::chrono::seconds(60), watcher);
    ASSERT_TRUE(sent) << "the switch was never seen starting\n" << Describe(run);
    EXPECT_EQ(run.ExitCode, 130) << Describe(run);
    EXPECT_TRUE(Contains(run.StandardError, "Controller: not attempted (interrupted by SIGINT")) << Describe(run);
    const Result after = sandbox.RunUpdater({UpdaterProcess::BinaryPath(), "-RETURN_UPDATE_MODE_STATUS", devices});
    EXPECT_EQ(after.ExitCode, 5) << "5: in normal mode and needing its update; 3 would be a device left in its "
                                    "bootloader\n--- the interrupted run:\n" << Describe(run) << "--- the query:\n"
                                 << Describe(after);
}

// A closed output never stops an update: an installer that reads only the first lines
// (`| head -3`) gets a whole update and the updater's own status, never SIGPIPE's 141.
TEST(ClosedOutput, NeverEndsTheUpdate)
{
    Sandbox sandbox;
    const auto stateFile = sandbox.Folder() / "devices.state";
    const std::string devices = "-SIMULATE_DEVICES=00.30,00.49,state=" + stateFile.string();
    const Result run = sandbox.Run("/bin/bash", {"/bin/bash", "-c",
                                                 "\"$0\" -SILENT -DEBUG_CONSOLE \"$1\" 2>&1 | head -3; exit ${PIPESTATUS[0]}",
                                                 UpdaterProcess::BinaryPath(), devices});
    EXPECT_EQ(run.Signal, 0) << Describe(run);
    EXPECT_EQ(run.ExitCode, 0) << (run.ExitCode == 128 + SIGPIPE ? "ended by SIGPIPE\n" : "") << Describe(run);
    const Result after = sandbox.RunUpdater({UpdaterProcess::BinaryPath(), "-RETURN_UPDATE_MODE_STATUS", devices});
    EXPECT_EQ(after.ExitCode, 4) << "4: both devices in normal mode, nothing needed; the update was cut\n"
                                 << Describe(after);
}

// ---- One copy at a time --------------------------------------------------------------------------

// The single-instance name as the child computes it from its own runtime folder.
std::string InstanceNameFor(const Sandbox& sandbox)
{
    const char* previous = std::getenv("XDG_RUNTIME_DIR");
    const std::string saved = previous ? previous : "";
    ::setenv("XDG_RUNTIME_DIR", sandbox.RuntimeDir().c_str(), 1);
    const std::string name = ZT::CSingleInstance::SocketName(LApplication::GetWindowClassName());
    if (previous)
        ::setenv("XDG_RUNTIME_DIR", saved.c_str(), 1);
    else
        ::unsetenv("XDG_RUNTIME_DIR");
    return name;
}

TEST(SecondCopy, HandsItsCommandLineToAFirstCopyWithAWindowAndEnds)
{
    Sandbox sandbox;
    const std::string program = UpdaterProcess::BinaryPath();
    ZT::CSingleInstance first(InstanceNameFor(sandbox));
    ASSERT_TRUE(first.Claim());
    ASSERT_TRUE(first.StartListening()); // the first copy shows its window

    const std::string devices = "-SIMULATE_DEVICES=00.30,00.49,state=" + (sandbox.Folder() / "devices.state").string();
    // How the arguments become one line: a blank is quoted, a value the installer quoted stays as it
    // is, and a plain argument is the firmware file with its absolute path.
    const Result second = sandbox.RunUpdater(
        {program, "-SILENT", "-DEBUG_CONSOLE", devices, "-FIRMWARE_IMAGE_NAME=a b.dfu", "-A=\"c d\"", "e f"});
    EXPECT_EQ(second.ExitCode, 0) << Describe(second);
    EXPECT_EQ(second.StandardError, "") << "the second copy does nothing of its own";
    EXPECT_FALSE(std::filesystem::exists(sandbox.Folder() / "devices.state")) << "no simulator ran";

    const std::optional<std::string> handed = first.AcceptCommandLine(std::chrono::seconds(5));
    ASSERT_TRUE(handed.has_value());
    EXPECT_EQ(*handed, program + " -SILENT -DEBUG_CONSOLE " + devices + " -FIRMWARE_IMAGE_NAME=\"a b.dfu\" -A=\"c d\"" +
                           " -ABSOLUTE_FIRMWARE_FILE_PATH=\"" + (std::filesystem::current_path() / "e f").string() + "\"");
}

TEST(SecondCopy, StartsNormallyWhileTheFirstRunsWithoutAWindow)
{
    Sandbox sandbox;
    ZT::CSingleInstance first(InstanceNameFor(sandbox));
    ASSERT_TRUE(first.Claim()); // bound, not listening: a silent run of the first copy
    const Result second =
        sandbox.RunUpdater({UpdaterProcess::BinaryPath(), "-RETURN_UPDATE_MODE_STATUS", "-SIMULATE_DEVICES=00.30,00.49"});
    EXPECT_EQ(second.ExitCode, 5) << Describe(second);
}

// ---- The update history ----------------------------------------------------------------------

// The history's whole lines in the sandbox's state folder.
std::vector<std::string> HistoryLines(const Sandbox& sandbox)
{
    return CUpdateHistory::ReadLines(
        (sandbox.Folder() / "state" / "Halvard" / "XR4000 NOVA Firmware Updater" / CUpdateHistory::kFileName).string());
}

// SIGKILL in the middle of the wheel display's download: the controller's line, written before,
// is still there and whole, and the next run's attempt is added after it.
TEST(UpdateHistory, AKillDuringARunLeavesAReadableHistoryThatTheNextRunExtends)
{
    Sandbox sandbox;
    const std::string devices = "-SIMULATE_DEVICES=00.30,00.49,state=" + (sandbox.Folder() / "devices.state").string() +
                                ",time-factor=0.25";
    bool killed = false;
    const auto watcher = [&](int processId, const std::string& standardError) {
        if (!killed && Contains(standardError, "Wheel display: writing firmware")) {
            ::kill(processId, SIGKILL);
            killed = true;
        }
    };
    const Result run = sandbox.RunUpdater({UpdaterProcess::BinaryPath(), "-SILENT", "-DEBUG_CONSOLE", devices},
                                          std::chrono::seconds(60), watcher);
    ASSERT_TRUE(killed) << "the wheel display's download was never seen\n" << Describe(run);
    std::vector<std::string> lines = HistoryLines(sandbox);
    ASSERT_EQ(lines.size(), 1u) << Describe(run);
    EXPECT_NE(lines[0].find("\tController\t"), std::string::npos) << lines[0];
    EXPECT_NE(lines[0].find("\t00.30\t00.31\tupdated\t-"), std::string::npos) << lines[0];

    // The wheel display waits in its bootloader, erased: the next run finishes it.
    const Result again = sandbox.RunUpdater({UpdaterProcess::BinaryPath(), "-SILENT", "-DEBUG_CONSOLE", devices});
    EXPECT_EQ(again.ExitCode, 0) << Describe(again);
    lines = HistoryLines(sandbox);
    ASSERT_EQ(lines.size(), 2u) << Describe(again);
    EXPECT_NE(lines[1].find("\tWheel display\t"), std::string::npos) << lines[1];
    EXPECT_NE(lines[1].find("\t00.50\tupdated\t-"), std::string::npos) << lines[1];
}

// ---- Debug output over UDP ------------------------------------------------------------------------

// A UDP port on the loopback that collects what a run sends to it, one datagram a line.
class DatagramListener {
public:
    DatagramListener()
    {
        mSocket = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        address.sin_port = 0;
        socklen_t length = sizeof(address);
        if (mSocket >= 0 && ::bind(mSocket, reinterpret_cast<const sockaddr*>(&address), sizeof(address)) == 0 &&
            ::getsockname(mSocket, reinterpret_cast<sockaddr*>(&address), &length) == 0)
            mPort = ntohs(address.sin_port);
    }
    ~DatagramListener()
    {
        if (mSocket >= 0)
            ::close(mSocket);
    }
    DatagramListener(const DatagramListener&) = delete;
    DatagramListener& operator=(const DatagramListener&) = delete;

    // 0 when no port could be bound.
    [[nodiscard]] int Port() const { return mPort; }
    // Everything received so far; call once the sender has ended.
    [[nodiscard]] std::string Received()
    {
        std::string received;
        for (;;) {
            pollfd entry{mSocket, POLLIN, 0};
            if (::poll(&entry, 1, 0) <= 0)
                break; // the child has ended: everything it sent is here
            char buffer[65536];
            const ssize_t count = ::recv(mSocket, buffer, sizeof(buffer), 0);
            if (count <= 0)
                break;
            received.append(buffer, static_cast<std::size_t>(count));
            received += '\n';
        }
        return received;
    }

private:
    int mSocket = -1;
    int mPort = 0;
};

TEST(DebugConsolePort, SendsTheRunsLinesAsDatagrams)
{
    DatagramListener listener;
    ASSERT_NE(listener.Port(), 0) << "no UDP port on the loopback: " << std::strerror(errno);

    Sandbox sandbox;
    const Result run = sandbox.RunUpdater({UpdaterProcess::BinaryPath(), "-RETURN_UPDATE_MODE_STATUS",
                                           "-debug_console:" + std::to_string(listener.Port()) + ":127.0.0.1",
                                           "-SIMULATE_DEVICES=00.30,00.49"});
    EXPECT_EQ(run.ExitCode, 5) << Describe(run);
    EXPECT_EQ(run.StandardError, "") << "the lines go to the port, not to the terminal";

    const std::string received = listener.Received();
    EXPECT_TRUE(Contains(received, "query mode, DeviceNotInUpdateMode, update needed: yes: exit status 5")) << received;
    EXPECT_TRUE(Contains(received, "Exit status 5: an update is needed.")) << received;
}

// A silent installer run prints nothing; its debug output (the system log, or as here a port)
// ends with one line per device, and a failed device's line says where its update broke.
TEST(DebugConsolePort, ASilentRunsLastLinesNameTheStalledBlock)
{
    DatagramListener listener;
    ASSERT_NE(listener.Port(), 0) << "no UDP port on the loopback: " << std::strerror(errno);

    Sandbox sandbox;
    const Result run = sandbox.RunUpdater(
        {UpdaterProcess::BinaryPath(), "-SILENT", "-debug_console:" + std::to_string(listener.Port()) + ":127.0.0.1",
         "-SIMULATE_DEVICES=00.31,00.49,display:stall-after-blocks=5" + std::string(kFast)});
    EXPECT_EQ(run.ExitCode, 0) << "a failed silent update still exits with 0\n" << Describe(run);
    EXPECT_EQ(run.StandardError, "") << "a silent run prints nothing";

    const std::string received = listener.Received();
    EXPECT_TRUE(Contains(received, "Wheel display: failed (writing block 6 (0x0800B000): data request: Pipe, "
                                   "dfuERROR/errSTALLEDPKT)\n"))
        << "no line names the stalled block in:\n" << received;
    EXPECT_TRUE(Contains(received, "Controller: already current (00.31)\n")) << received;
    // The attempt is in the history too, with the bootloader it failed on.
    const std::vector<std::string> history = HistoryLines(sandbox);
    ASSERT_EQ(history.size(), 1u) << "one attempt, one line";
    EXPECT_NE(history[0].find("\tWheel display\t"), std::string::npos) << history[0];
    EXPECT_NE(history[0].find("\t00.49\t-\tfailed\twriting block 6 (0x0800B000): data request: Pipe, "
                              "dfuERROR/errSTALLEDPKT"),
              std::string::npos)
        << history[0];
}

// ---- Texts and skin ---------------------------------------------------------------------------------

TEST(Resources, TheProgramLoadsItsTextsAndSkinInTheUsersLanguage)
{
    Sandbox sandbox;
    // A start that would show the window, with a person on the debug console: what a skin author
    // or translator runs to try a folder. The sandbox has no display, so the window cannot show
    // (exit status 1), but the texts and the skin are loaded and judged before that.
    const std::vector<std::string> arguments{UpdaterProcess::BinaryPath(), "-SIMULATE_DEVICES", "-DEBUG_CONSOLE"};
    constexpr int kNoWindow = 1;
    // Each language's own locale names and tables: StartupResources.EveryShippedLanguageLoadsItsOwnTextsAndTheSkin.
    const std::pair<const char*, const char*> locales[] = {{"de_DE.UTF-8", "0x0407"}, {"ja_JP.UTF-8", "0x0411"}, {"C", "0x0409"}};
    for (const auto& [locale, lcid] : locales) {
        sandbox.SetVariable("LC_ALL", locale);
        const Result run = sandbox.RunUpdater(arguments);
        EXPECT_EQ(run.ExitCode, kNoWindow) << locale << "\n" << Describe(run);
        EXPECT_TRUE(Contains(run.StandardError, std::string("Resources: texts for locale ") + lcid +
                                                    " and the skin built into the program.\n"))
            << locale << "\n" << Describe(run);
        EXPECT_EQ(run.StandardError.find("cannot be used"), std::string::npos) << locale << "\n" << Describe(run);
    }

    // A translator's folder with a broken skin: the fault is named, the built-in skin serves, and
    // the run goes on as before.
    const auto folder = sandbox.Folder() / "translation";
    std::filesystem::create_directories(folder);
    std::ofstream(folder / "Skins.xml")
        << "<?xml version=\"1.0\"?>\n<Corvane_Skin_Definitions>\n  <Application Name=\"Wavecrest\">\n";
    sandbox.SetVariable("XR4000_NOVA_UPDATER_RESOURCES", folder.string());
    const Result run = sandbox.RunUpdater(arguments);
    EXPECT_EQ(run.ExitCode, kNoWindow) << Describe(run);
    EXPECT_TRUE(Contains(run.StandardError, "Resources: The skin \"" + (folder / "Skins.xml").string() + "\", line 4,"))
        << Describe(run);
    EXPECT_TRUE(Contains(run.StandardError, "Using the built-in skin instead")) << Describe(run);
    EXPECT_TRUE(Contains(run.StandardError, "the skin from \"" + folder.string() +
                                                "\", built-in where that folder's could not be used.\n"))
        << Describe(run);

    // Query mode and -SILENT show no window: neither the skin (not even the folder's broken one)
    // nor the string tables are read when no text is shown, and the answer is the same.
    struct Windowless {
        std::vector<std::string> arguments;
        int exitCode;
    };
    const Windowless windowless[] = {
        {{UpdaterProcess::BinaryPath(), "-RETURN_UPDATE_MODE_STATUS", "-SIMULATE_DEVICES", "-DEBUG_CONSOLE"}, 5},
        {{UpdaterProcess::BinaryPath(), "-SILENT", "-SIMULATE_DEVICES=-,-", "-DEBUG_CONSOLE"}, 0},
    };
    for (const Windowless& item : windowless) {
        const Result quiet = sandbox.RunUpdater(item.arguments);
        EXPECT_EQ(quiet.ExitCode, item.exitCode) << item.arguments[1] << "\n" << Describe(quiet);
        EXPECT_EQ(quiet.StandardError.find("Resources:"), std::string::npos)
            << item.arguments[1] << " loaded texts or the skin without showing anything\n" << Describe(quiet);
    }
}

// ---- Bad input ------------------------------------------------------------------------------------

TEST(BadInput, NoCommandLineCrashesOrHangs)
{
    Sandbox sandbox;
    const std::string program = UpdaterProcess::BinaryPath();
    const std::vector<std::vector<std::string>> lines{
        {},
        {"-"},
        {"--"},
        {"-SILENT"},
        {"-silentX", "-RETURN_UPDATE_MODE_STATUSES"},
        {"-ABSOLUTE_FIRMWARE_FILE_PATH=\""},
        {"-ABSOLUTE_FIRMWARE_FILE_PATH=\"\"", "-SILENT"},
        {"-ABSOLUTE_FIRMWARE_FILE_PATH=/", "-SIMULATE_DEVICES=00.30,00.49", "-RETURN_UPDATE_MODE_STATUS"},
        {"-FIRMWARE_IMAGE_NAME=../../../../etc/passwd", "-SIMULATE_DEVICES=00.30,-", "-SILENT"},
        {"-DEVICE_PID=99999999999999999999", "-DEVICE_VID=-1", "-DEVICE_BOOTLOADER_PID=", "-SILENT"},
        {"-DEBUG_CONSOLE:", "-DEBUG_CONSOLE:1", "-DEBUG_CONSOLE:99999999999:"},
        {"-SIMULATE_DEVICES=\"", "-RETURN_UPDATE_MODE_STATUS"},
        {"-SIMULATE_DEVICES=,,,,,,", "-RETURN_UPDATE_MODE_STATUS"},
        {"-SIMULATE_DEVICES=99.999,abc,state=,time-factor=-1,time-factor=nan,busy-block=x,display:nope",
         "-RETURN_UPDATE_MODE_STATUS"},
        {"-SIMULATE_DEVICES=00.30,00.49,state=/proc/version", "-RETURN_UPDATE_MODE_STATUS"},
        {"-SIMULATE_DEVICES=00.30,00.49,state=/nonexistent/folder/state", "-SILENT_IF_UPDATE_NOT_NEEDED"},
        {"\xff\xfe\x80 -SILENT \xc3", "-SIMULATE_DEVICES=\xe2\x82"},
        {std::string(100000, 'A'), "-ABSOLUTE_FIRMWARE_FILE_PATH=" + std::string(5000, '/')},
    };
    for (const std::vector<std::string>& options : lines) {
        std::vector<std::string> arguments{program};
        arguments.insert(arguments.end(), options.begin(), options.end());
        const Result run = sandbox.RunUpdater(arguments, std::chrono::seconds(60));
        std::string shown;
        for (const std::string& option : options)
            shown += option.substr(0, 80) + " ";
        EXPECT_FALSE(run.TimedOut) << shown;
        EXPECT_EQ(run.Signal, 0) << shown << "\n" << Describe(run);
        // 0, or a query's status: nothing else.
        EXPECT_TRUE(run.ExitCode >= 0 && run.ExitCode <= 5) << shown << "\n" << Describe(run);
    }
}

} // namespace
