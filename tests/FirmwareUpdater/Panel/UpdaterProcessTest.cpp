// The real program, run as an installer runs it, on simulated devices: exit statuses, silent
// updates across processes, options that choose files and devices, the hand-over to a first
// copy, the UDP debug output and command lines that must not break anything.

#include "tests/FirmwareUpdater/Panel/ProcessRunner.h"

#include "FirmwareUpdater/Panel/Application.h"
#include "ZTFramework/Application/SingleInstance.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <netinet/in.h>
#include <ostream>
#include <poll.h>
#include <string>
#include <sys/socket.h>
#include <unistd.h>
#include <utility>
#include <vector>

namespace {

using UpdaterProcess::Result;
using UpdaterProcess::Sandbox;

// Simulated devices move 20 times faster than real ones: the engine's own waits stay as they
// are, so a two-device update still takes a few seconds.
constexpr const char* kFast = ",time-factor=0.05";

std::string Describe(const Result& result)
{
    return "exit " + std::to_string(result.ExitCode) + ", signal " + std::to_string(result.Signal) +
           (result.TimedOut ? ", timed out" : "") + "\n--- stderr:\n" + result.StandardError;
}

bool Contains(const std::string& text, const std::string& part)
{
    return text.find(part) != std::string::npos;
}

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
    ASSERT_EQ(run.ExitCode, 0) << Describe(run);
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
                    "Wheel display: back in normal mode with firmware 00.50.", "Finished: 2 device(s) updated."},
                   {},
                   4},
        // Without a window the run still waits for the download it started.
        SilentCase{"StartAutomaticallyWithoutAWindowWaitsForTheDownload",
                   "00.30,00.50",
                   {"-START_UPDATE_AUTOMATICALLY"},
                   {"Controller: back in normal mode with firmware 00.31."},
                   {},
                   4},
        SilentCase{"SilentIfNotNeededQuitsWithAnUpToDateDevice",
                   "00.31,00.50",
                   {"-SILENT_IF_UPDATE_NOT_NEEDED"},
                   {"no update wanted"},
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
                   {"Wheel display: back in normal mode with firmware 00.50.", "Finished: 1 device(s) updated."},
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
                   {"Controller: the update failed", "update(s) failed."},
                   {"Wheel display: switching"},
                   // Erased and unwritten, it powers up in its bootloader next time.
                   3},
        SilentCase{"ABootloaderThatNeverAppearsEndsTheRun",
                   "00.30,00.49,controller:bootloader-never-appears",
                   {"-SILENT"},
                   {"Controller: cannot be updated", "Finished: nothing was updated."},
                   {"Wheel display: switching"},
                   // It left for its bootloader and is found there next time.
                   3}),
    [](const ::testing::TestParamInfo<SilentCase>& info) { return std::string(info.param.name); });

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
    // How the arguments become one line: a blank is quoted, a value the installer quoted stays as it is.
    const Result second = sandbox.RunUpdater(
        {program, "-SILENT", "-DEBUG_CONSOLE", devices, "-FIRMWARE_IMAGE_NAME=a b.dfu", "-A=\"c d\"", "e f"});
    EXPECT_EQ(second.ExitCode, 0) << Describe(second);
    EXPECT_EQ(second.StandardError, "") << "the second copy does nothing of its own";
    EXPECT_FALSE(std::filesystem::exists(sandbox.Folder() / "devices.state")) << "no simulator ran";

    const std::optional<std::string> handed = first.AcceptCommandLine(std::chrono::seconds(5));
    ASSERT_TRUE(handed.has_value());
    EXPECT_EQ(*handed, program + " -SILENT -DEBUG_CONSOLE " + devices + " -FIRMWARE_IMAGE_NAME=\"a b.dfu\" -A=\"c d\" \"e f\"");
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

// ---- Debug output over UDP ------------------------------------------------------------------------

TEST(DebugConsolePort, SendsTheRunsLinesAsDatagrams)
{
    const int listener = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    ASSERT_GE(listener, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = 0;
    ASSERT_EQ(::bind(listener, reinterpret_cast<const sockaddr*>(&address), sizeof(address)), 0);
    socklen_t length = sizeof(address);
    ASSERT_EQ(::getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length), 0);
    const int port = ntohs(address.sin_port);

    Sandbox sandbox;
    const Result run = sandbox.RunUpdater({UpdaterProcess::BinaryPath(), "-RETURN_UPDATE_MODE_STATUS",
                                           "-debug_console:" + std::to_string(port) + ":127.0.0.1",
                                           "-SIMULATE_DEVICES=00.30,00.49"});
    EXPECT_EQ(run.ExitCode, 5) << Describe(run);
    EXPECT_EQ(run.StandardError, "") << "the lines go to the port, not to the terminal";

    std::string received;
    for (;;) {
        pollfd entry{listener, POLLIN, 0};
        if (::poll(&entry, 1, 0) <= 0)
            break; // the child has ended: everything it sent is here
        char buffer[65536];
        const ssize_t count = ::recv(listener, buffer, sizeof(buffer), 0);
        if (count <= 0)
            break;
        received.append(buffer, static_cast<std::size_t>(count));
        received += '\n';
    }
    ::close(listener);
    EXPECT_TRUE(Contains(received, "query mode, DeviceNotInUpdateMode, update needed: yes: exit status 5")) << received;
    EXPECT_TRUE(Contains(received, "Exit status 5: an update is needed.")) << received;
}

// ---- Texts and skin ---------------------------------------------------------------------------------

TEST(Resources, TheProgramLoadsItsTextsAndSkinInTheUsersLanguage)
{
    Sandbox sandbox;
    const std::vector<std::string> arguments{UpdaterProcess::BinaryPath(), "-RETURN_UPDATE_MODE_STATUS",
                                             "-SIMULATE_DEVICES", "-DEBUG_CONSOLE"};
    // Each language's own locale names and tables: StartupResources.EveryShippedLanguageLoadsItsOwnTextsAndTheSkin.
    const std::pair<const char*, const char*> locales[] = {{"de_DE.UTF-8", "0x0407"}, {"ja_JP.UTF-8", "0x0411"}, {"C", "0x0409"}};
    for (const auto& [locale, lcid] : locales) {
        sandbox.SetVariable("LC_ALL", locale);
        const Result run = sandbox.RunUpdater(arguments);
        EXPECT_EQ(run.ExitCode, 5) << locale << "\n" << Describe(run);
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
    EXPECT_EQ(run.ExitCode, 5) << Describe(run);
    EXPECT_TRUE(Contains(run.StandardError, "Resources: The skin \"" + (folder / "Skins.xml").string() + "\", line 4,"))
        << Describe(run);
    EXPECT_TRUE(Contains(run.StandardError, "Using the built-in skin instead")) << Describe(run);
    EXPECT_TRUE(Contains(run.StandardError, "the skin from \"" + folder.string() +
                                                "\", built-in where that folder's could not be used.\n"))
        << Describe(run);
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
