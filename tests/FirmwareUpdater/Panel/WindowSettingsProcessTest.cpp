// The window's settings and language as whole runs of the program on the display scripts/test.sh
// starts (Xvfb): the placement written when the window closes and read back by the next run, a
// damaged settings file, queries that leave the settings alone, and the window's texts in the
// locale's language.

#include "tests/FirmwareUpdater/Panel/ProcessRunner.h"

#include "FirmwareUpdater/Panel/Application.h"
#include "ZTFramework/Application/ApplicationSettingsStartup.h"
#include "ZTFramework/Application/WindowPlacement.h"
#include "ZTFramework/Settings/ApplicationSettingsFiles.h"
#include "ZTFramework/Settings/IniFileManager.h"
#include "tests/Support/Printers.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <regex>
#include <string>

namespace {

using UpdaterProcess::Contains;
using UpdaterProcess::Describe;
using UpdaterProcess::Result;
using UpdaterProcess::Sandbox;

namespace fs = std::filesystem;

constexpr const char* kDevices = "-SIMULATE_DEVICES=00.30,00.49";

std::optional<std::string> TestDisplay()
{
    const char* display = std::getenv("DISPLAY");
    if (!display || !*display)
        return std::nullopt;
    return std::string(display);
}

// A sandbox on the test's display whose windowed runs end after their first frame.
struct WindowSandbox {
    Sandbox mSandbox;
    explicit WindowSandbox(const std::string& display)
    {
        mSandbox.SetVariable("DISPLAY", display);
        mSandbox.SetVariable("XR4000_NOVA_UPDATER_FRAME", (mSandbox.Folder() / "frame.png").string());
    }
    [[nodiscard]] Result RunWindow() const
    {
        return mSandbox.RunUpdater({UpdaterProcess::BinaryPath(), kDevices, "-DEBUG_CONSOLE"}, std::chrono::seconds(60));
    }
};

// Every file of that name below folder.
std::vector<fs::path> FindFiles(const fs::path& folder, const std::string& name)
{
    std::vector<fs::path> found;
    std::error_code error;
    for (const auto& entry : fs::recursive_directory_iterator(folder, error)) {
        if (entry.path().filename() == name)
            found.push_back(entry.path());
    }
    return found;
}

std::string ReadWhole(const fs::path& path)
{
    std::ifstream file(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}

// The user settings file as the program opens it: its folder holds the company and product
// folders, which the path the program chose names.
class UserSettings {
public:
    explicit UserSettings(const fs::path& userFile)
        : mManager(ZT::MakeRC<ZT::LIniFileManager>()),
          mFiles(*mManager, ZT::WString(userFile.parent_path().string().c_str()),
                 ZT::WString(userFile.parent_path().string().c_str()),
                 ZT::WString(userFile.parent_path().parent_path().filename().string().c_str()),
                 ZT::WString(userFile.parent_path().filename().string().c_str()))
    {
    }
    ~UserSettings() { (void)mManager->CloseAll(); }

    [[nodiscard]] std::optional<ZT::WindowPlacement> ReadPlacement()
    {
        ZT::IniFileHandle file = ZT::IniFileHandle::None;
        if (ZT::Failed(mFiles.GetUserSettings(file)))
            return std::nullopt;
        return ZT::WindowPlacement::Read(*mManager, file, ClassName());
    }
    [[nodiscard]] bool HasSkinIndex()
    {
        ZT::IniFileHandle file = ZT::IniFileHandle::None;
        return ZT::Succeeded(mFiles.GetUserSettings(file)) &&
               mManager->KeyExists(file, ZT::WString(ZT::CApplicationSettingsFiles::kCurrentSkinIndexKey));
    }
    [[nodiscard]] ZT::ZTRESULT WritePlacement(const ZT::WindowPlacement& placement)
    {
        return ZT::SaveWindowPlacement(*mManager, mFiles, ClassName(), placement);
    }

private:
    static ZT::WString ClassName() { return ZT::WString(LApplication::GetWindowClassName().c_str()); }
    ZT::RCPtr<ZT::LIniFileManager> mManager;
    ZT::CApplicationSettingsFiles mFiles;
};

// "Window: at X,Y size WxH ..." of a run, or nothing when the window never said where it was.
struct ShownAt {
    int mLeft = 0, mTop = 0, mWidth = 0, mHeight = 0;
    bool mSaved = false;
};
std::optional<ShownAt> WindowPlace(const Result& run)
{
    static const std::regex line(R"(Window: at (-?\d+),(-?\d+) size (\d+)x(\d+) \((saved placement|the skin's place)\))");
    std::smatch match;
    if (!std::regex_search(run.StandardError, match, line))
        return std::nullopt;
    return ShownAt{std::stoi(match[1]), std::stoi(match[2]), std::stoi(match[3]), std::stoi(match[4]),
                   match[5] == "saved placement"};
}

std::string PlaceText(const ZT::Rect& place)
{
    return std::to_string(place.mLeft) + "," + std::to_string(place.mTop) + " " + std::to_string(place.GetWidth()) +
           "x" + std::to_string(place.GetHeight());
}

TEST(WindowSettingsProcess, TheWindowReopensWhereItWasFittedToTheDesktopAndSurvivesADamagedFile)
{
    const std::optional<std::string> display = TestDisplay();
    if (!display)
        GTEST_SKIP() << "no display (scripts/test.sh starts Xvfb)";
    const WindowSandbox sandbox(*display);

    // A first run: both files are made, and the place the window closed at is in the user file.
    const Result first = sandbox.RunWindow();
    ASSERT_EQ(first.ExitCode, 0) << Describe(first);
    const auto firstPlace = WindowPlace(first);
    ASSERT_TRUE(firstPlace.has_value()) << "the window did not say where it showed\n" << Describe(first);
    EXPECT_FALSE(firstPlace->mSaved) << "a first run has no saved placement to use\n" << Describe(first);
    EXPECT_EQ(FindFiles(sandbox.mSandbox.Folder(), "AppSettings.ini").size(), 1u) << Describe(first);
    const std::vector<fs::path> userFiles = FindFiles(sandbox.mSandbox.Folder(), "UserSettings.ini");
    ASSERT_EQ(userFiles.size(), 1u) << "the first windowed run wrote no user settings file\n" << Describe(first);
    const fs::path userFile = userFiles.front();
    {
        UserSettings settings(userFile);
        EXPECT_TRUE(settings.HasSkinIndex()) << userFile << " lacks CurrentSkinIndex:\n" << ReadWhole(userFile);
        const std::optional<ZT::WindowPlacement> saved = settings.ReadPlacement();
        ASSERT_TRUE(saved.has_value()) << "no placement after the window closed:\n" << ReadWhole(userFile);
        EXPECT_EQ(PlaceText(saved->mNormal),
                  std::to_string(firstPlace->mLeft) + "," + std::to_string(firstPlace->mTop) + " 400x450")
            << "the saved placement is not where the window was";
        EXPECT_EQ(saved->mShowState, ZT::WindowPlacement::ShowState::Normal);
    }

    // A place on the desktop comes back as it was; the skin fixes the size, so a saved size
    // other than 400 x 450 does not count. A place off the desktop is moved back onto it.
    const struct {
        const char* name;
        ZT::Rect saved;
        int left, top; // where the window must show; -1: anywhere it fits whole
    } cases[] = {
        {"on the desktop", {37, 41, 437, 491}, 37, 41},
        {"another size", {120, 90, 320, 190}, 120, 90},
        {"past the right and above the top", {5000, -300, 5400, 150}, -1, 0},
    };
    for (const auto& c : cases) {
        {
            UserSettings settings(userFile);
            ZT::WindowPlacement placement;
            placement.mNormal = c.saved;
            ASSERT_EQ(settings.WritePlacement(placement), ZT::S_OK) << c.name;
        }
        const Result run = sandbox.RunWindow();
        ASSERT_EQ(run.ExitCode, 0) << c.name << "\n" << Describe(run);
        const auto place = WindowPlace(run);
        ASSERT_TRUE(place.has_value()) << c.name << ": the window did not say where it showed\n" << Describe(run);
        EXPECT_TRUE(place->mSaved) << c.name << ": the saved placement was not used\n" << Describe(run);
        EXPECT_EQ(place->mWidth, 400) << c.name;
        EXPECT_EQ(place->mHeight, 450) << c.name;
        if (c.left >= 0)
            EXPECT_EQ(place->mLeft, c.left) << c.name << "\n" << Describe(run);
        else
            EXPECT_TRUE(place->mLeft >= 0 && place->mLeft < 5000 - 400) << c.name << ": left " << place->mLeft
                                                                       << " is not back on the desktop\n"
                                                                       << Describe(run);
        EXPECT_EQ(place->mTop, c.top) << c.name << "\n" << Describe(run);
    }

    // A damaged file is kept aside, the window still shows, and the new file is whole.
    const std::string damage = "<?xml version=\"1.0\"?><plist><dict><key>Left</key><integer>12";
    std::ofstream(userFile, std::ios::binary | std::ios::trunc) << damage;
    const Result damaged = sandbox.RunWindow();
    EXPECT_EQ(damaged.ExitCode, 0) << Describe(damaged);
    EXPECT_TRUE(Contains(damaged.StandardError, "Window: shown")) << Describe(damaged);
    const auto damagedPlace = WindowPlace(damaged);
    ASSERT_TRUE(damagedPlace.has_value()) << Describe(damaged);
    EXPECT_FALSE(damagedPlace->mSaved) << "a placement was read from a damaged file\n" << Describe(damaged);
    const fs::path kept = userFile.string() + ".broken";
    ASSERT_TRUE(fs::exists(kept)) << "the damaged file was not kept aside\n" << Describe(damaged);
    EXPECT_EQ(ReadWhole(kept), damage) << "the file kept aside is not the damaged one";
    UserSettings settings(userFile);
    EXPECT_TRUE(settings.ReadPlacement().has_value()) << "the new file lacks the placement:\n" << ReadWhole(userFile);
}

TEST(WindowSettingsProcess, QueriesAndSilentRunsLeaveTheSettingsFilesAlone)
{
    Sandbox sandbox; // no display: neither run needs one
    const Result query = sandbox.RunUpdater({UpdaterProcess::BinaryPath(), "-RETURN_UPDATE_MODE_STATUS", kDevices});
    EXPECT_EQ(query.ExitCode, 5) << Describe(query);
    // Devices up to date: the silent run checks them and ends without a download.
    const Result silent =
        sandbox.RunUpdater({UpdaterProcess::BinaryPath(), "-SILENT", "-SIMULATE_DEVICES=00.31,00.50"});
    EXPECT_EQ(silent.ExitCode, 0) << Describe(silent);
    for (const char* name : {"AppSettings.ini", "UserSettings.ini"})
        EXPECT_TRUE(FindFiles(sandbox.Folder(), name).empty()) << "a windowless run wrote " << name;
}

TEST(WindowSettingsProcess, TheWindowSpeaksTheLocalesLanguage)
{
    const std::optional<std::string> display = TestDisplay();
    if (!display)
        GTEST_SKIP() << "no display (scripts/test.sh starts Xvfb)";
    static const std::regex line(R"re(locale (0x[0-9A-F]{4}), "UPDATE FIRMWARE" reads "([^"]*)")re");
    const auto shown = [&](const char* variable, const char* locale) {
        WindowSandbox sandbox(*display);
        for (const char* name : {"LANG", "LC_ALL", "LC_MESSAGES"})
            sandbox.mSandbox.SetVariable(name, "");
        sandbox.mSandbox.SetVariable(variable, locale);
        const Result run = sandbox.RunWindow();
        EXPECT_EQ(run.ExitCode, 0) << variable << "=" << locale << "\n" << Describe(run);
        std::smatch match;
        if (!std::regex_search(run.StandardError, match, line)) {
            ADD_FAILURE() << variable << "=" << locale << ": the window did not name its locale\n" << Describe(run);
            return std::make_pair(std::string(), std::string());
        }
        return std::make_pair(match[1].str(), match[2].str());
    };
    const auto [englishLocale, english] = shown("LANG", "C");
    const auto [germanLocale, german] = shown("LANG", "de_DE.UTF-8");
    const auto [japaneseLocale, japanese] = shown("LC_MESSAGES", "ja_JP.UTF-8");
    EXPECT_EQ(englishLocale, "0x0409");
    EXPECT_EQ(germanLocale, "0x0407");
    EXPECT_EQ(japaneseLocale, "0x0411");
    EXPECT_FALSE(english.empty()) << "the button has no English caption";
    EXPECT_NE(german, english) << "LANG=de_DE.UTF-8 still shows the English caption \"" << english << "\"";
    EXPECT_NE(japanese, english) << "LC_MESSAGES=ja_JP.UTF-8 still shows the English caption \"" << english << "\"";
}

} // namespace
