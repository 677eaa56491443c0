// The program with its window, as a whole process: on the display scripts/test.sh starts
// (Xvfb), or without any display.

#include "tests/FirmwareUpdater/Panel/ProcessRunner.h"

#include "tests/Support/Printers.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <ostream>
#include <string>
#include <utility>

namespace {

using UpdaterProcess::Contains;
using UpdaterProcess::Describe;
using UpdaterProcess::Result;
using UpdaterProcess::Sandbox;

constexpr const char* kStartupError = "The application encountered problems during startup and will now close.";

std::optional<std::string> TestDisplay()
{
    const char* display = std::getenv("DISPLAY");
    if (!display || !*display)
        return std::nullopt;
    return std::string(display);
}

// Width and height of a PNG file from its header (IHDR), or nothing when it is no PNG.
std::optional<std::pair<std::uint32_t, std::uint32_t>> PngSize(const std::string& path)
{
    std::ifstream file(path, std::ios::binary);
    unsigned char header[24] = {};
    if (!file.read(reinterpret_cast<char*>(header), sizeof header))
        return std::nullopt;
    static constexpr unsigned char kSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    if (!std::equal(std::begin(kSignature), std::end(kSignature), header) || std::string(header + 12, header + 16) != "IHDR")
        return std::nullopt;
    const auto word = [&header](int at) {
        return (std::uint32_t(header[at]) << 24) | (std::uint32_t(header[at + 1]) << 16) |
               (std::uint32_t(header[at + 2]) << 8) | std::uint32_t(header[at + 3]);
    };
    return std::make_pair(word(16), word(20));
}

std::string ShippedSkin()
{
    std::ifstream file(ZT_SHIPPED_SKIN, std::ios::binary);
    return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}

// A resource folder whose skin is the shipped one with one text replaced.
std::filesystem::path SkinFolderWith(const Sandbox& sandbox, const std::string& name, const std::string& from,
                                     const std::string& to)
{
    std::string skin = ShippedSkin();
    const std::size_t at = skin.find(from);
    EXPECT_NE(at, std::string::npos) << "the shipped skin no longer has " << from;
    if (at != std::string::npos)
        skin.replace(at, from.size(), to);
    const std::filesystem::path folder = sandbox.Folder() / name;
    std::filesystem::create_directories(folder);
    std::ofstream(folder / "Skins.xml", std::ios::binary) << skin;
    return folder;
}

TEST(WindowProcess, OpensFromTheShippedSkinAndWritesItsFirstFrame)
{
    const std::optional<std::string> display = TestDisplay();
    if (!display)
        GTEST_SKIP() << "no display (scripts/test.sh starts Xvfb)";
    Sandbox sandbox;
    sandbox.SetVariable("DISPLAY", *display);
    const std::string frame = (sandbox.Folder() / "frame.png").string();
    sandbox.SetVariable("XR4000_NOVA_UPDATER_FRAME", frame);
    const Result run = sandbox.RunUpdater({UpdaterProcess::BinaryPath(), "-SIMULATE_DEVICES=00.30,00.49", "-DEBUG_CONSOLE"},
                                          std::chrono::seconds(60));
    ASSERT_EQ(run.ExitCode, 0) << Describe(run);
    EXPECT_TRUE(Contains(run.StandardError, "Window: shown")) << Describe(run);

    const auto size = PngSize(frame);
    ASSERT_TRUE(size.has_value()) << frame << " is no PNG file\n" << Describe(run);
    EXPECT_EQ(size->first, 400u) << "the skin's fixed width";
    EXPECT_EQ(size->second, 450u) << "the skin's fixed height";
    EXPECT_FALSE(std::filesystem::exists(frame + ".part")) << "the half-written file was left behind";
}

TEST(WindowProcess, WithoutADisplayAWindowedStartSaysSoAndFailsWhileQueriesNeedNone)
{
    Sandbox sandbox; // the sandbox passes no DISPLAY or WAYLAND_DISPLAY on
    const Result run = sandbox.RunUpdater({UpdaterProcess::BinaryPath(), "-SIMULATE_DEVICES=00.30,00.49"});
    EXPECT_EQ(run.ExitCode, 1) << Describe(run);
    EXPECT_EQ(run.Signal, 0) << Describe(run);
    EXPECT_TRUE(Contains(run.StandardError, "the window cannot show: no display")) << Describe(run);
    EXPECT_TRUE(Contains(run.StandardError, "-SILENT")) << "the message should name the way without a window\n"
                                                         << Describe(run);

    const Result query =
        sandbox.RunUpdater({UpdaterProcess::BinaryPath(), "-RETURN_UPDATE_MODE_STATUS", "-SIMULATE_DEVICES=00.30,00.49"});
    EXPECT_EQ(query.ExitCode, 5) << Describe(query);
    EXPECT_FALSE(Contains(query.StandardError, "display")) << Describe(query);
}

TEST(WindowProcess, ASkinTheWindowCannotUseIsAStartupErrorNotACrash)
{
    Sandbox sandbox; // no display: the error goes to standard error instead of a message box
    const struct {
        const char* name;
        std::string from, to;
        const char* detail;
    } cases[] = {
        {"no-main-control", "Name=\"mainControl\"", "Name=\"someOtherControl\"", "Invalid Control Name"},
        {"unknown-class", "Class=\"FirmwareUpdater.MainControl\"", "Class=\"FirmwareUpdater.NoSuchControl\"",
         "could not be made from the skin"},
    };
    for (const auto& c : cases) {
        sandbox.SetVariable("XR4000_NOVA_UPDATER_RESOURCES", SkinFolderWith(sandbox, c.name, c.from, c.to).string());
        const Result run = sandbox.RunUpdater({UpdaterProcess::BinaryPath(), "-SIMULATE_DEVICES=00.30,00.49"});
        EXPECT_EQ(run.Signal, 0) << c.name << "\n" << Describe(run);
        EXPECT_EQ(run.ExitCode, 1) << c.name << "\n" << Describe(run);
        EXPECT_TRUE(Contains(run.StandardError, kStartupError)) << c.name << "\n" << Describe(run);
        EXPECT_TRUE(Contains(run.StandardError, c.detail)) << c.name << "\n" << Describe(run);
        EXPECT_FALSE(Contains(run.StandardError, "no display")) << c.name << ": the skin's fault comes first\n"
                                                                << Describe(run);
    }
}

// The module is loaded on a thread of its own while the processor scans: a module that cannot be
// loaded must still end the run with the start-up error that names it, on every way it can fail,
// and a query (which loads no module) must not notice.
TEST(WindowProcess, AWindowModuleThatCannotLoadIsAStartupErrorNamingIt)
{
    Sandbox sandbox; // no display: the error goes to standard error instead of a message box
    const std::filesystem::path program = std::filesystem::path(UpdaterProcess::BinaryPath());
    const std::string moduleName = program.filename().string() + "-window.so";
    const struct {
        const char* name;
        const char* moduleBytes; // null: no module file at all
    } cases[] = {
        {"missing", nullptr},
        {"not-a-library", "this is not a shared library\n"},
    };
    for (const auto& c : cases) {
        const std::filesystem::path folder = sandbox.Folder() / c.name;
        std::filesystem::create_directories(folder);
        const std::filesystem::path copy = folder / program.filename();
        std::filesystem::copy_file(program, copy, std::filesystem::copy_options::overwrite_existing);
        if (c.moduleBytes)
            std::ofstream(folder / moduleName, std::ios::binary) << c.moduleBytes;

        const Result run = sandbox.Run(copy.string(), {copy.string(), "-SIMULATE_DEVICES=00.30,00.49"});
        EXPECT_EQ(run.Signal, 0) << c.name << "\n" << Describe(run);
        EXPECT_EQ(run.ExitCode, 1) << c.name << "\n" << Describe(run);
        EXPECT_TRUE(Contains(run.StandardError, kStartupError)) << c.name << "\n" << Describe(run);
        EXPECT_TRUE(Contains(run.StandardError, "the window module cannot be loaded")) << c.name << "\n" << Describe(run);
        EXPECT_TRUE(Contains(run.StandardError, moduleName)) << c.name << ": the message should name the file\n"
                                                             << Describe(run);

        const Result query = sandbox.Run(copy.string(), {copy.string(), "-RETURN_UPDATE_MODE_STATUS", "-SIMULATE_DEVICES=00.30,00.49"});
        EXPECT_EQ(query.Signal, 0) << c.name << "\n" << Describe(query);
        EXPECT_FALSE(Contains(query.StandardError, "window module")) << c.name << "\n" << Describe(query);
    }
}

TEST(WindowProcess, ASecondCopyRaisesTheFirstCopysWindowAndEnds)
{
    const std::optional<std::string> display = TestDisplay();
    if (!display)
        GTEST_SKIP() << "no display (scripts/test.sh starts Xvfb)";
    Sandbox sandbox;
    sandbox.SetVariable("DISPLAY", *display);
    std::optional<Result> second;
    bool terminated = false;
    const auto watcher = [&](int processId, const std::string& standardError) {
        if (!second && Contains(standardError, "Window: shown")) {
            second = sandbox.RunUpdater({UpdaterProcess::BinaryPath(), "-SIMULATE_DEVICES=00.30,00.49", "-DEBUG_CONSOLE"},
                                        std::chrono::seconds(30));
        }
        if (second && !terminated && Contains(standardError, "Window: raised for the second copy")) {
            terminated = true;
            ::kill(processId, SIGTERM); // the window's way out for a test: it ends once nothing runs
        }
    };
    const Result first = sandbox.RunUpdater({UpdaterProcess::BinaryPath(), "-SIMULATE_DEVICES=00.30,00.49", "-DEBUG_CONSOLE"},
                                            std::chrono::seconds(60), watcher);
    ASSERT_TRUE(second.has_value()) << "the first copy never showed its window\n" << Describe(first);
    EXPECT_EQ(second->ExitCode, 0) << Describe(*second);
    EXPECT_FALSE(Contains(second->StandardError, "Window: shown")) << "the second copy showed a window\n"
                                                                  << Describe(*second);
    EXPECT_TRUE(terminated) << "the first copy never raised its window\n" << Describe(first);
    EXPECT_FALSE(first.TimedOut) << Describe(first);
    EXPECT_EQ(first.ExitCode, 128 + SIGTERM) << "the window did not end on SIGTERM\n" << Describe(first);
}

// ---- The update in the window --------------------------------------------------------------------

struct WindowSignalCase {
    const char* name;
    int signal;
    int exitCode;
};

void PrintTo(const WindowSignalCase& c, std::ostream* out) { *out << c.name; }

class WindowSignal : public ::testing::TestWithParam<WindowSignalCase> {};

// Logging out of a desktop sends SIGTERM to the window: the controller being written is
// finished, the wheel display is neither switched nor written, and the run ends with the
// signal's status, as it does without a window.
TEST_P(WindowSignal, DuringTheControllersDownloadFinishesItAndStartsNothingElse)
{
    const WindowSignalCase& c = GetParam();
    const std::optional<std::string> display = TestDisplay();
    if (!display)
        GTEST_SKIP() << "no display (scripts/test.sh starts Xvfb)";
    Sandbox sandbox;
    sandbox.SetVariable("DISPLAY", *display);
    const auto stateFile = sandbox.Folder() / "devices.state";
    // Slow enough that the download still runs when the signal arrives.
    const std::string devices = "-SIMULATE_DEVICES=00.30,00.49,state=" + stateFile.string() + ",time-factor=0.25";
    bool sent = false;
    const auto watcher = [&](int processId, const std::string& standardError) {
        if (!sent && Contains(standardError, "Controller: writing firmware")) {
            ::kill(processId, c.signal);
            sent = true;
        }
    };
    const Result run = sandbox.RunUpdater(
        {UpdaterProcess::BinaryPath(), "-START_UPDATE_AUTOMATICALLY", "-DEBUG_CONSOLE", devices}, std::chrono::seconds(60),
        watcher);
    ASSERT_TRUE(sent) << "the controller's download was never seen starting\n" << Describe(run);
    EXPECT_EQ(run.Signal, 0) << "the signal ended the process\n" << Describe(run);
    EXPECT_EQ(run.ExitCode, c.exitCode) << Describe(run);
    EXPECT_FALSE(Contains(run.StandardError, "Wheel display: switching")) << "the wheel display was started\n"
                                                                          << Describe(run);
    for (const std::string& line : {std::string("Controller: updated to 00.31\n"),
                                   "Wheel display: not attempted (interrupted by " + std::string(c.name) + ")\n"})
        EXPECT_TRUE(Contains(run.StandardError, line)) << "missing \"" << line << "\"\n" << Describe(run);
    // The controller holds its new image and runs it; the wheel display is still to do.
    const Result after = sandbox.RunUpdater({UpdaterProcess::BinaryPath(), "-RETURN_UPDATE_MODE_STATUS", devices});
    EXPECT_EQ(after.ExitCode, 5) << "5: a device in normal mode needs its update\n" << Describe(after);
}

INSTANTIATE_TEST_SUITE_P(Signals, WindowSignal,
                         ::testing::Values(WindowSignalCase{"SIGTERM", SIGTERM, 143},
                                           WindowSignalCase{"SIGINT", SIGINT, 130},
                                           WindowSignalCase{"SIGHUP", SIGHUP, 129}),
                         [](const ::testing::TestParamInfo<WindowSignalCase>& info) { return std::string(info.param.name); });

// The longest turn of the window's loop that is not a held one. The watchdog reports every turn
// over 100 ms; built with a sanitizer, the program's own code runs several times slower (up to
// fifteen under ThreadSanitizer) while the system's libraries do not, so there a turn counts as
// held from 500 ms on, which no paint or input reaches but any wait for a device does.
#if defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
#define ZT_TEST_SANITIZED 1
#endif
#endif
#ifdef ZT_TEST_SANITIZED
constexpr std::uint64_t kLongestFreeTurnMs = 500;
#else
constexpr std::uint64_t kLongestFreeTurnMs = 100;
#endif

// The whole two-device update in the window, as the user starts it: the window's loop never
// holds a turn longer than its watchdog allows (a debug line would say so), and both devices end
// up with their new images.
TEST(WindowProcess, AWholeUpdateNeverHoldsTheEventLoop)
{
    const std::optional<std::string> display = TestDisplay();
    if (!display)
        GTEST_SKIP() << "no display (scripts/test.sh starts Xvfb)";
    Sandbox sandbox;
    sandbox.SetVariable("DISPLAY", *display);
    const auto stateFile = sandbox.Folder() / "devices.state";
    const std::string devices = "-SIMULATE_DEVICES=00.30,00.49,state=" + stateFile.string();
    bool ended = false;
    const auto watcher = [&](int processId, const std::string& standardError) {
        if (!ended && Contains(standardError, "Wheel display: back in normal mode")) {
            ended = true;
            ::kill(processId, SIGTERM); // the window's way out for a test: it ends once nothing runs
        }
    };
    const Result run = sandbox.RunUpdater(
        {UpdaterProcess::BinaryPath(), "-START_UPDATE_AUTOMATICALLY", "-DEBUG_CONSOLE", devices}, std::chrono::seconds(90),
        watcher);
    ASSERT_TRUE(ended) << "the wheel display never came back\n" << Describe(run);
    EXPECT_EQ(run.ExitCode, 128 + SIGTERM) << Describe(run);
    // No held turn may come: every wait of the update
    // (the switch, the download, the device's return, the rescan between the devices) is off
    // this thread.
    std::uint64_t longestTurnMs = 0;
    std::size_t slowTurns = 0;
    const std::string turn = "Window: one turn of the event loop took ";
    for (std::size_t at = run.StandardError.find(turn); at != std::string::npos;
         at = run.StandardError.find(turn, at + 1)) {
        const std::uint64_t turnMs = std::strtoull(run.StandardError.c_str() + at + turn.size(), nullptr, 10);
        slowTurns += turnMs > kLongestFreeTurnMs ? 1 : 0;
        longestTurnMs = std::max(longestTurnMs, turnMs);
    }
    EXPECT_EQ(slowTurns, 0u) << slowTurns << " turns of the event loop took over " << kLongestFreeTurnMs
                             << " ms, the longest " << longestTurnMs << " ms: the user-interface thread was held\n"
                             << Describe(run);
    EXPECT_TRUE(Contains(run.StandardError, "Controller: updated to 00.31\nWheel display: updated to 00.50\n"))
        << Describe(run);
    const Result after = sandbox.RunUpdater({UpdaterProcess::BinaryPath(), "-RETURN_UPDATE_MODE_STATUS", devices});
    EXPECT_EQ(after.ExitCode, 4) << "4: both devices in normal mode, nothing needed\n" << Describe(after);
}

} // namespace
