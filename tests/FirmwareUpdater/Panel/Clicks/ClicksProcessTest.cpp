// The real program with its window, in its own process on the test's display (Xvfb), clicked
// through XTest where the shipped skin places each control, and judged by what a user gets:
// whether the program ends and with which status, what the devices hold afterwards (the
// simulator's state file, read by a query run), and the window's pixels.

#include "FirmwareUpdater/Panel/UI/ControlNames.h"
#include "tests/FirmwareUpdater/Panel/Clicks/WindowDriver.h"
#include "tests/FirmwareUpdater/Panel/ProcessRunner.h"

#include <gtest/gtest.h>

#include <csignal>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <future>
#include <iterator>
#include <thread>
#include <unistd.h>
#include <string>

namespace {

using namespace std::chrono_literals;
using UpdaterProcess::Contains;
using UpdaterProcess::Describe;
using UpdaterProcess::Result;
using UpdaterProcess::Sandbox;
using WindowClicks::CSkinLayout;
using WindowClicks::CWindowRun;
using WindowClicks::CXSession;
using WindowClicks::Pixels;
namespace Names = MainControlNames;

// -RETURN_UPDATE_MODE_STATUS's answers.
constexpr int kStatusUpToDate = 4;
constexpr int kStatusUpdateNeeded = 5;

std::string RectText(const ZT::Rect& rect)
{
    char text[64];
    std::snprintf(text, sizeof text, "(%d,%d)-(%d,%d)", rect.mLeft, rect.mTop, rect.mRight, rect.mBottom);
    return text;
}

class WindowClicksTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!mX.GetError().empty())
            GTEST_SKIP() << mX.GetError();
        mSandbox.SetVariable("DISPLAY", mDisplay.GetName());
    }

    // -SIMULATE_DEVICES with the state file and the devices' pace (the simulated devices at
    // twice their real speed keep a two-device update near 10 s).
    std::string Devices(const std::string& devices) const
    {
        return "-SIMULATE_DEVICES=" + devices + ",state=" + StateFile() + (mRealPace ? "" : ",time-factor=0.5");
    }
    bool mRealPace = false; // the devices' own delays (a slow return must outlast the 10 s wait)
    std::string StateFile() const { return (mSandbox.Folder() / "devices.state").string(); }

    // Starts the program and waits for its window. False (with the failure recorded) when none
    // showed.
    bool Start(const std::string& devices, std::vector<std::string> more = {}, const std::string& program = {})
    {
        std::vector<std::string> arguments{Devices(devices), "-DEBUG_CONSOLE"};
        arguments.insert(arguments.end(), more.begin(), more.end());
        mRun.emplace(mSandbox, arguments, std::chrono::seconds(120), program);
        if (!mRun->WaitForLine("Window: shown", 30s)) {
            ADD_FAILURE() << "the window never showed\n" << mRun->StandardError();
            return false;
        }
        mWindow = mX.FindWindowOf(mRun->ProcessId(), 10s);
        if (!mWindow) {
            ADD_FAILURE() << "no viewable 400x450 window of process " << mRun->ProcessId() << "\n"
                          << mRun->StandardError();
            return false;
        }
        // The first paint: the product image's area is drawn (not the blank window).
        const ZT::Rect image = mLayout.Of(L"productImage");
        const Pixels blank{image.GetWidth(), image.GetHeight(),
                           std::vector<std::uint32_t>(static_cast<std::size_t>(image.GetWidth() * image.GetHeight()), 0)};
        (void)mX.WaitForChange(mWindow, image, blank, static_cast<std::size_t>(image.GetWidth()), 10s);
        return true;
    }

    void Click(const wchar_t* name)
    {
        const ZT::Rect place = mLayout.Of(name);
        ASSERT_GT(place.GetWidth(), 0) << "the shipped skin has no " << ZT::WString(name).ToUTF8();
        mX.ClickAt(mWindow, place);
    }

    // Clicks File > item: the menu's title, then the item once the menu shows.
    void ChooseFromFileMenu(std::size_t item)
    {
        const ZT::Rect title = mLayout.MenuTitle(0);
        const ZT::Rect entry = mLayout.MenuItem(0, item);
        ASSERT_GT(title.GetWidth(), 0) << "the shipped menu bar has no first menu";
        ASSERT_GT(entry.GetWidth(), 0) << "the first menu has no item " << item;
        const Pixels closed = mX.Grab(mWindow, entry);
        mX.ClickAt(mWindow, title);
        const Pixels open = mX.WaitForChange(mWindow, entry, closed, static_cast<std::size_t>(entry.GetWidth()), 5s);
        ASSERT_GE(open.CountDifferences(closed), static_cast<std::size_t>(entry.GetWidth()))
            << "the file menu did not open under its title at " << RectText(title);
        mX.ClickAt(mWindow, entry);
    }

    // The status a query run gives for the devices the state file keeps.
    int QueryStatus() const
    {
        const Result query = mSandbox.RunUpdater({UpdaterProcess::BinaryPath(), "-RETURN_UPDATE_MODE_STATUS",
                                                  "-SIMULATE_DEVICES=00.30,00.49,state=" + StateFile()});
        return query.ExitCode;
    }

    Sandbox mSandbox;
    WindowClicks::CPrivateDisplay mDisplay;
    CXSession mX{mDisplay.GetName()};
    CSkinLayout mLayout;
    std::optional<CWindowRun> mRun;
    unsigned long mWindow = 0;
};

// ---- Leaving -------------------------------------------------------------------------------------------

TEST_F(WindowClicksTest, ExitButtonEndsTheProgramAtStart)
{
    ASSERT_TRUE(Start("00.30,00.49"));
    Click(Names::kButtonExit);
    const bool ended = mRun->EndsWithin(10s);
    const Result run = mRun->Finish();
    EXPECT_TRUE(ended) << "EXIT at " << RectText(mLayout.Of(Names::kButtonExit)) << " did not end the program\n"
                       << Describe(run);
    EXPECT_EQ(run.ExitCode, 0) << Describe(run);
    EXPECT_EQ(QueryStatus(), kStatusUpdateNeeded) << "leaving at start changed the devices";
}

TEST_F(WindowClicksTest, FileExitEndsTheProgramAtStart)
{
    ASSERT_TRUE(Start("00.30,00.49"));
    ChooseFromFileMenu(1);
    const bool ended = mRun->EndsWithin(10s);
    const Result run = mRun->Finish();
    EXPECT_TRUE(ended) << "File > Exit at " << RectText(mLayout.MenuItem(0, 1)) << " did not end the program\n"
                       << Describe(run);
    EXPECT_EQ(run.ExitCode, 0) << Describe(run);
}

// The steps a run writes for each device ("Controller: switching to update mode...", the end of
// its progress), without the lines that only one kind of run has (the summary, the scan).
std::vector<std::string> StepLines(const std::string& standardError)
{
    std::vector<std::string> lines;
    std::size_t at = 0;
    while (at < standardError.size()) {
        std::size_t end = standardError.find('\n', at);
        if (end == std::string::npos)
            end = standardError.size();
        std::string line = standardError.substr(at, end - at);
        at = end + 1;
        if (const std::size_t text = line.find_first_not_of(' '); text != std::string::npos)
            line = line.substr(text);
        const bool device = line.rfind("Controller: ", 0) == 0 || line.rfind("Wheel display: ", 0) == 0;
        const bool step = Contains(line, "switching") || Contains(line, "writing firmware") ||
                          Contains(line, "100%") || Contains(line, "firmware written") ||
                          Contains(line, "back in normal mode");
        if (device && step)
            lines.push_back(line);
    }
    return lines;
}

// The whole update by clicks: UPDATE FIRMWARE once; a click where EXIT sat while a download runs
// ends nothing (both devices get their image); EXIT then ends the program. With -DEBUG_CONSOLE
// the window writes the same step and progress lines as a run without a window.
TEST_F(WindowClicksTest, AWholeTwoDeviceUpdateByClicksWritesTheCommandLinesStepsAndThenExits)
{
    ASSERT_TRUE(Start("00.30,00.49"));
    Click(Names::kButtonUpdateFirmware);
    ASSERT_TRUE(mRun->WaitForLine("Controller: writing firmware", 30s))
        << "no step line of the controller's download within 30 s of UPDATE FIRMWARE\n" << mRun->StandardError();
    Click(Names::kButtonExit);
    ASSERT_TRUE(mRun->WaitForLine("Wheel display: back in normal mode", 90s))
        << "the wheel display's update never ended\n" << mRun->StandardError();
    Click(Names::kButtonExit);
    const bool ended = mRun->EndsWithin(10s);
    const Result run = mRun->Finish();
    EXPECT_TRUE(ended) << "EXIT after the update did not end the program\n" << Describe(run);
    EXPECT_EQ(run.ExitCode, 0) << Describe(run);
    EXPECT_EQ(QueryStatus(), kStatusUpToDate) << "after the update by clicks the devices still need theirs\n"
                                              << Describe(run);

    const std::string silentState = (mSandbox.Folder() / "silent.state").string();
    const Result silent = mSandbox.RunUpdater({UpdaterProcess::BinaryPath(), "-SILENT", "-DEBUG_CONSOLE",
                                               "-SIMULATE_DEVICES=00.30,00.49,time-factor=0.5,state=" + silentState},
                                              120s);
    ASSERT_EQ(silent.ExitCode, 0) << Describe(silent);
    const std::vector<std::string> expected = StepLines(silent.StandardError);
    ASSERT_GE(expected.size(), 8u) << "the command line's step lines changed\n" << Describe(silent);
    EXPECT_EQ(StepLines(run.StandardError), expected)
        << "the window's step lines differ from the command line's\n--- window:\n" << run.StandardError;
}

// ---- Options > Allow downgrade ------------------------------------------------------------------------

// Both devices already run the files' versions: no UPDATE FIRMWARE. Options > Allow downgrade
// brings it, and a click on it writes the controller again.
TEST_F(WindowClicksTest, AllowDowngradeFromTheMenuOffersTheUpdateAndItRuns)
{
    ASSERT_TRUE(Start("00.31,00.50"));
    const ZT::Rect update = mLayout.Of(Names::kButtonUpdateFirmware);
    const Pixels without = mX.Grab(mWindow, update);
    const ZT::Rect title = mLayout.MenuTitle(1);
    const ZT::Rect item = mLayout.MenuItem(1, 0);
    ASSERT_GT(item.GetWidth(), 0) << "the shipped menu bar has no Options > Allow downgrade";
    const Pixels closed = mX.Grab(mWindow, item);
    mX.ClickAt(mWindow, title);
    (void)mX.WaitForChange(mWindow, item, closed, static_cast<std::size_t>(item.GetWidth()), 5s);
    mX.ClickAt(mWindow, item);
    const Pixels with = mX.WaitForChange(mWindow, update, without, static_cast<std::size_t>(update.GetWidth()), 10s);
    EXPECT_GE(with.CountDifferences(without), static_cast<std::size_t>(update.GetWidth()))
        << "UPDATE FIRMWARE did not show at " << RectText(update) << " after Options > Allow downgrade at "
        << RectText(item);
    Click(Names::kButtonUpdateFirmware);
    EXPECT_TRUE(mRun->WaitForLine("Controller: writing firmware 00.31", 30s))
        << "the downgrade update did not start\n" << mRun->StandardError();
    ASSERT_TRUE(mRun->WaitForLine("Controller: back in normal mode with firmware 00.31", 60s)) << mRun->StandardError();
    // The window settles on its result before EXIT is there again.
    const ZT::Rect exit = mLayout.Of(Names::kButtonExit);
    Pixels before = mX.Grab(mWindow, exit);
    for (Pixels now = mX.WaitForChange(mWindow, exit, before, 1, 2s); now != before;
         now = mX.WaitForChange(mWindow, exit, before, 1, 2s))
        before = now;
    Click(Names::kButtonExit);
    const bool ended = mRun->EndsWithin(10s);
    const Result run = mRun->Finish();
    EXPECT_TRUE(ended) << "EXIT after the downgrade did not end the program\n" << Describe(run);
    EXPECT_EQ(QueryStatus(), kStatusUpToDate) << Describe(run);
}

// ---- After an update whose device did not come back ------------------------------------------------

// The area of the state texts (device, file, process and error labels).
ZT::Rect TextArea(const CSkinLayout& layout)
{
    const ZT::Rect top = layout.Of(Names::kLabelDeviceInformation);
    const ZT::Rect bottom = layout.Of(Names::kLabelUpdateProcessInformation);
    return {top.mLeft, top.mTop, bottom.mRight, bottom.mBottom};
}

// The controller never comes back after its download: the window asks for TRY AGAIN, and TRY
// AGAIN rescans (the texts change), where a click that lands on NEXT instead changes nothing.
TEST_F(WindowClicksTest, TryAgainAfterADeviceThatDidNotComeBackRescans)
{
    ASSERT_TRUE(Start("00.30,00.49,controller:no-return-after-leave"));
    Click(Names::kButtonUpdateFirmware);
    ASSERT_TRUE(mRun->WaitForLine("Controller: did not come back in normal mode", 60s))
        << "the controller's update never reached its end\n" << mRun->StandardError();
    const ZT::Rect texts = TextArea(mLayout);
    // The window settles on its "success unknown" view.
    Pixels before = mX.Grab(mWindow, texts);
    for (Pixels now = mX.WaitForChange(mWindow, texts, before, 1, 2s); now != before;
         now = mX.WaitForChange(mWindow, texts, before, 1, 2s))
        before = now;
    Click(Names::kButtonReinitialize);
    const Pixels after = mX.WaitForChange(mWindow, texts, before, 200, 10s);
    EXPECT_GE(after.CountDifferences(before), 200u)
        << "the texts did not change after a click on TRY AGAIN at " << RectText(mLayout.Of(Names::kButtonReinitialize))
        << ": the rescan did not run\n" << mRun->StandardError();
    const Result run = mRun->Finish(0s);
    EXPECT_EQ(run.Signal, 0) << Describe(run);
}

// The controller comes back only after the window's 10 s wait: NEXT then finds it and shows
// the result, where the texts still asked to replug it.
TEST_F(WindowClicksTest, NextAfterASlowReturnFindsTheDeviceAndShowsTheResult)
{
    mRealPace = true;
    ASSERT_TRUE(Start("00.30,00.49,controller:slow-return"));
    Click(Names::kButtonUpdateFirmware);
    ASSERT_TRUE(mRun->WaitForLine("Controller: did not come back in normal mode", 60s))
        << "the controller's update never reached its end\n" << mRun->StandardError();
    const ZT::Rect texts = TextArea(mLayout);
    Pixels before = mX.Grab(mWindow, texts);
    for (Pixels now = mX.WaitForChange(mWindow, texts, before, 1, 2s); now != before;
         now = mX.WaitForChange(mWindow, texts, before, 1, 2s))
        before = now;
    // The device's own return (12 s after its restart) has passed by now.
    std::this_thread::sleep_for(1s);
    Click(Names::kButtonManualDeviceHasUpdated);
    const Pixels after = mX.WaitForChange(mWindow, texts, before, 200, 10s);
    EXPECT_GE(after.CountDifferences(before), 200u)
        << "the texts did not change after a click on NEXT at "
        << RectText(mLayout.Of(Names::kButtonManualDeviceHasUpdated)) << "\n" << mRun->StandardError();
    const Result run = mRun->Finish(0s);
    EXPECT_EQ(run.Signal, 0) << Describe(run);
}

// ---- Choosing a file -------------------------------------------------------------------------------

// No desktop portal (no session bus) and no zenity on PATH: OPEN FILE must not end in silence
// but show a message saying how else to give the file; the window goes on afterwards.
TEST_F(WindowClicksTest, OpenFileWithoutAnyFileChooserShowsHowToGiveTheFile)
{
    const std::filesystem::path emptyBin = mSandbox.Folder() / "empty-bin";
    std::filesystem::create_directories(emptyBin);
    mSandbox.SetVariable("PATH", emptyBin.string());
    mSandbox.SetVariable("DBUS_SESSION_BUS_ADDRESS", "unix:path=" + (mSandbox.Folder() / "no-bus").string());
    // The program without the product's firmware files beside it: no usable file, OPEN FILE shows.
    const std::filesystem::path program(UpdaterProcess::BinaryPath());
    const std::filesystem::path folder = mSandbox.Folder() / "program";
    std::filesystem::create_directories(folder);
    const std::string module = program.filename().string() + "-window.so";
    std::filesystem::copy_file(program, folder / program.filename());
    std::filesystem::copy_file(program.parent_path() / module, folder / module);
    ASSERT_TRUE(Start("00.30,00.49", {}, (folder / program.filename()).string()));
    Click(Names::kButtonSelectFirmwareFile);
    const unsigned long box = mX.FindWindowTitled("Select Firmware File", 10s);
    EXPECT_NE(box, 0ul) << "no message window titled \"Select Firmware File\" after OPEN FILE at "
                        << RectText(mLayout.Of(Names::kButtonSelectFirmwareFile)) << "; windows:\n"
                        << mX.DescribeWindows() << mRun->StandardError();
    if (box) {
        // The box's own window: its pixels are not the main window's.
        const auto size = mX.SizeOf(box);
        ASSERT_TRUE(size.has_value());
        const ZT::Rect whole{0, 0, size->first, size->second};
        const Pixels blank{whole.GetWidth(), whole.GetHeight(), std::vector<std::uint32_t>(mX.Grab(box, whole).mRgb.size(), 0)};
        const Pixels shown = mX.WaitForChange(box, whole, blank, static_cast<std::size_t>(whole.GetWidth()), 5s);
        EXPECT_GE(shown.CountColours(), 2u) << "the message box shows nothing";
        mX.PressKey(box, "Return"); // its OK button is the Return key's
        EXPECT_TRUE(mX.WaitForWindowToGo(box, 5s)) << "Return did not close the message box";
    }
    // The window still answers: EXIT ends the program.
    Click(Names::kButtonExit);
    const bool ended = mRun->EndsWithin(10s);
    const Result run = mRun->Finish();
    EXPECT_TRUE(ended) << "the window no longer answered after the message\n" << Describe(run);
    EXPECT_EQ(run.ExitCode, 0) << Describe(run);
    EXPECT_TRUE(box) << Describe(run);
}

// ---- Single instance ------------------------------------------------------------------------------

// Another account of the machine listens where the updater would look for its first copy: on
// the abstract socket name the updater once used (its runtime folder's hash) and in the folder
// it makes below TMPDIR when there is no runtime folder (made first by that account). Neither
// may keep the user's window from opening, and that account must receive nothing.
constexpr const char* kSquatter = R"(
import os, select, socket, sys, time
abstract, folder, socket_path, received, stop = sys.argv[1:6]
listeners = []
held = socket.socket(socket.AF_UNIX)
held.bind('\0' + abstract)
held.listen(8)
listeners.append(held)
os.makedirs(folder, exist_ok=True)
os.chmod(folder, 0o777)
squat = socket.socket(socket.AF_UNIX)
squat.bind(socket_path)
os.chmod(socket_path, 0o777)
squat.listen(8)
listeners.append(squat)
open(received, 'wb').close()
open(received + '.ready', 'w').close()
deadline = time.time() + 60
while time.time() < deadline and not os.path.exists(stop):
    ready, _, _ = select.select(listeners, [], [], 0.1)
    for listener in ready:
        connection, _ = listener.accept()
        connection.settimeout(1)
        try:
            data = connection.recv(65536)
        except OSError:
            data = b''
        with open(received, 'ab') as out:
            out.write(b'[' + data + b']\n')
        connection.close()
)";

std::string AbstractNameOnceUsed(const std::string& windowClass, const std::string& runtimeDir)
{
    std::uint64_t hash = 0xCBF29CE484222325ull;
    for (const char c : "dir:" + runtimeDir) {
        hash ^= static_cast<unsigned char>(c);
        hash *= 0x100000001B3ull;
    }
    char digits[17];
    std::snprintf(digits, sizeof digits, "%016llx", static_cast<unsigned long long>(hash));
    return windowClass + "Prevent." + digits;
}

TEST_F(WindowClicksTest, ANameHeldByAnotherUserNeitherStopsTheWindowNorReceivesTheCommandLine)
{
    if (::geteuid() != 0)
        GTEST_SKIP() << "a second user needs root (setpriv)";
    if (!std::filesystem::exists("/usr/bin/setpriv") || !std::filesystem::exists("/usr/bin/python3"))
        GTEST_SKIP() << "setpriv or python3 is missing";
    const std::string windowClass = "Halvard_DEVICE_FAMILY_NAME_String_FirmwareUpdater";
    const std::filesystem::path shared = mSandbox.Folder() / "tmp";
    // The other account may reach the shared temporary folder, as it may /tmp.
    std::filesystem::permissions(mSandbox.Folder(), std::filesystem::perms::owner_all | std::filesystem::perms::group_exec |
                                                        std::filesystem::perms::others_exec);
    std::filesystem::permissions(shared, std::filesystem::perms::all | std::filesystem::perms::sticky_bit);
    const std::filesystem::path folder = shared / (windowClass + "-" + std::to_string(::geteuid()));
    const std::string received = (shared / "received").string();
    const std::string stop = (shared / "stop").string();
    auto squatter = std::async(std::launch::async, [&] {
        return mSandbox.Run("/usr/bin/setpriv",
                            {"setpriv", "--reuid=65534", "--regid=65534", "--clear-groups", "/usr/bin/python3", "-c",
                             kSquatter, AbstractNameOnceUsed(windowClass, mSandbox.RuntimeDir()), folder.string(),
                             (folder / "Prevent.socket").string(), received, stop},
                            90s);
    });
    struct Stopper {
        std::string mStop;
        ~Stopper() { std::ofstream(mStop) << "stop"; }
    } const stopper{stop};
    for (int i = 0; i < 200 && !std::filesystem::exists(received + ".ready"); ++i)
        std::this_thread::sleep_for(25ms);
    ASSERT_TRUE(std::filesystem::exists(received + ".ready"))
        << "the other account's listener did not start\n" << Describe(squatter.get());

    const struct {
        const char* what;
        std::optional<std::string> runtimeDir; // empty text: none
    } cases[] = {{"with the user's runtime folder", std::nullopt}, {"without a runtime folder", std::string()}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        if (c.runtimeDir)
            mSandbox.SetVariable("XDG_RUNTIME_DIR", *c.runtimeDir);
        CWindowRun run(mSandbox, {Devices("00.30,00.49"), "-DEBUG_CONSOLE", "-ABSOLUTE_FIRMWARE_FILE_PATH=/dj/secret.dfu"});
        EXPECT_TRUE(run.WaitForLine("Window: shown", 30s)) << "the window did not open\n" << run.StandardError();
        const Result result = run.Finish(0s);
        EXPECT_FALSE(result.TimedOut) << Describe(result);
        if (!c.runtimeDir)
            continue;
        EXPECT_TRUE(Contains(result.StandardError, "belongs to user 65534"))
            << "no debug line says the other account's folder is ignored\n" << Describe(result);
    }
    std::ofstream(stop) << "stop";
    const Result squatterRun = squatter.get();
    std::ifstream file(received, std::ios::binary);
    const std::string got{std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
    EXPECT_EQ(got, "") << "the other account received a hand-over\n" << Describe(squatterRun);
}

} // namespace
