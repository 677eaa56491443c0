#include "ZTFramework/Application/WindowPlacement.h"
#include "ZTFramework/Application/ApplicationSettingsStartup.h"

#include "ZTFramework/ObjectBase/RCPtr.h"
#include "ZTFramework/Settings/IniFileManager.h"
#include "tests/Support/Printers.h"
#include "tests/ZTFramework/Utilities/Storage/TempFolder.h"

#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include <sys/resource.h>

namespace {

using ZT::CApplicationSettingsFiles;
using ZT::IIniFileManager;
using ZT::Rect;
using ZT::WindowPlacement;
using ZT::WString;

std::string Text(const Rect& rect)
{
    return "{left " + std::to_string(rect.mLeft) + ", top " + std::to_string(rect.mTop) + ", right " +
           std::to_string(rect.mRight) + ", bottom " + std::to_string(rect.mBottom) + "}";
}

std::string ReadFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

TEST(WindowPlacement, FitToDesktopShrinksAndMovesTheWindowInside)
{
    struct Row {
        const char* name;
        Rect window;
        Rect desktop;
        Rect expected;
    };
    const Rect desktop{0, 0, 1280, 720};
    const Row rows[] = {
        {"inside stays", {100, 50, 500, 500}, desktop, {100, 50, 500, 500}},
        {"left of the desktop moves to 0", {-150, 50, 250, 500}, desktop, {0, 50, 400, 500}},
        {"above the desktop moves to 0", {100, -30, 500, 420}, desktop, {100, 0, 500, 450}},
        {"past the right edge moves back", {1000, 50, 1400, 500}, desktop, {880, 50, 1280, 500}},
        {"past the bottom edge moves back", {100, 600, 500, 1050}, desktop, {100, 270, 500, 720}},
        {"larger than the desktop is shrunk to it", {-50, -50, 2000, 1000}, desktop, {0, 0, 1280, 720}},
        {"wider only: shrunk across, kept down", {300, 10, 1700, 460}, desktop, {0, 10, 1280, 460}},
        {"desktop not at 0: its own edges count", {0, 0, 400, 450}, {1280, 24, 3200, 1080}, {1280, 24, 1680, 474}},
        {"empty desktop changes nothing", {-10, -10, 390, 440}, {0, 0, 0, 0}, {-10, -10, 390, 440}},
    };
    for (const Row& row : rows)
        EXPECT_EQ(Text(ZT::FitToDesktop(row.window, row.desktop)), Text(row.expected)) << row.name;
}

class WindowPlacementSettingsTest : public ::testing::Test {
protected:
    static constexpr const wchar_t* kClassName = L"Halvard_XR4000 NOVA_FirmwareUpdater";

    WindowPlacementSettingsTest() { Reopen(); }

    // A new manager, as a new run of the program has. The old one is dropped without closing,
    // so only what was saved reaches the next run.
    void Reopen()
    {
        mFiles.reset();
        mManager = ZT::MakeRC<ZT::LIniFileManager>();
        mFiles = std::make_unique<CApplicationSettingsFiles>(*mManager, WString(mFolder.File("shared").c_str()),
                                                             WString(mFolder.File("user").c_str()), L"Halvard",
                                                             L"XR4000 NOVA Updater");
    }
    std::string UserFile() const { return mFolder.File("user/UserSettings.ini"); }
    std::string AppFile() const { return mFolder.File("shared/AppSettings.ini"); }

    ZT::Testing::TempFolder mFolder;
    ZT::RCPtr<ZT::LIniFileManager> mManager;
    std::unique_ptr<CApplicationSettingsFiles> mFiles;

    void SetUp() override
    {
        std::filesystem::create_directories(mFolder.File("shared"));
        std::filesystem::create_directories(mFolder.File("user"));
    }
};

TEST_F(WindowPlacementSettingsTest, StartupCreatesBothFilesAndAPlacementComesBackOnTheNextRun)
{
    ZT::StartupSettings first;
    ASSERT_RESULT_EQ(ZT::OpenSettingsAtStartup(*mManager, *mFiles, WString(kClassName), first), IIniFileManager::kDone);
    EXPECT_TRUE(std::filesystem::exists(AppFile())) << "AppSettings.ini created at start-up";
    EXPECT_TRUE(std::filesystem::exists(UserFile())) << "UserSettings.ini created at start-up";
    EXPECT_NE(ReadFile(UserFile()).find("<key>CurrentSkinIndex</key><integer>0</integer>"), std::string::npos)
        << ReadFile(UserFile());
    EXPECT_EQ(first.mCurrentSkinIndex, 0);
    EXPECT_FALSE(first.mWindowPlacement) << "no placement before a window was closed";

    WindowPlacement closed;
    closed.mNormal = {120, 80, 520, 530};
    closed.mShowState = WindowPlacement::ShowState::Minimized;
    ASSERT_RESULT_EQ(ZT::SaveWindowPlacement(*mManager, *mFiles, WString(kClassName), closed), IIniFileManager::kDone);
    ASSERT_RESULT_EQ(ZT::SaveCurrentSkinIndex(*mManager, *mFiles, 2), IIniFileManager::kDone);
    // Saved at once, not at exit: a crash later keeps them.
    const std::string saved = ReadFile(UserFile());
    EXPECT_NE(saved.find("<key>Halvard_XR4000 NOVA_FirmwareUpdater</key><dict>"), std::string::npos) << saved;
    EXPECT_NE(saved.find("<key>Width</key><integer>400</integer>"), std::string::npos) << saved;

    Reopen();
    ZT::StartupSettings second;
    ASSERT_RESULT_EQ(ZT::OpenSettingsAtStartup(*mManager, *mFiles, WString(kClassName), second), IIniFileManager::kDone);
    EXPECT_EQ(second.mCurrentSkinIndex, 2);
    ASSERT_TRUE(second.mWindowPlacement.has_value());
    EXPECT_EQ(Text(second.mWindowPlacement->mNormal), Text(closed.mNormal));
    EXPECT_STREQ(ToString(second.mWindowPlacement->mShowState), "Normal") << "a minimised window comes back restored";

    // A maximised window stays maximised.
    closed.mShowState = WindowPlacement::ShowState::Maximized;
    ASSERT_RESULT_EQ(ZT::SaveWindowPlacement(*mManager, *mFiles, WString(kClassName), closed), IIniFileManager::kDone);
    Reopen();
    ASSERT_RESULT_EQ(ZT::OpenSettingsAtStartup(*mManager, *mFiles, WString(kClassName), second), IIniFileManager::kDone);
    ASSERT_TRUE(second.mWindowPlacement.has_value());
    EXPECT_STREQ(ToString(second.mWindowPlacement->mShowState), "Maximized");
}

TEST_F(WindowPlacementSettingsTest, InsaneStoredValuesAreIgnored)
{
    struct Row {
        const char* name;
        const wchar_t* key;
        std::int32_t value;
    };
    const Row rows[] = {
        {"zero width", L"Width", 0},
        {"negative height", L"Height", -450},
        {"width beyond any screen", L"Width", 1 << 20},
        {"left far outside", L"Left", -(1 << 20)},
    };
    for (const Row& row : rows) {
        WindowPlacement good;
        good.mNormal = {10, 10, 410, 460};
        ASSERT_RESULT_EQ(ZT::SaveWindowPlacement(*mManager, *mFiles, WString(kClassName), good), IIniFileManager::kDone);
        ZT::IniFileHandle user = ZT::IniFileHandle::None;
        ASSERT_RESULT_EQ(mFiles->GetUserSettings(user), IIniFileManager::kAlreadyOpen);
        const WString key = WindowPlacement::KeyOf(WString(kClassName)) + WString(L".") + WString(row.key);
        ASSERT_RESULT_EQ(mManager->SetInteger(user, key, row.value), IIniFileManager::kDone);
        EXPECT_FALSE(WindowPlacement::Read(*mManager, user, WString(kClassName)).has_value()) << row.name;
    }
    ZT::IniFileHandle user = ZT::IniFileHandle::None;
    (void)mFiles->GetUserSettings(user);
    (void)WindowPlacement{}.Write(*mManager, user, WString(kClassName));
    const WString stateKey = WindowPlacement::KeyOf(WString(kClassName)) + WString(L".ShowState");
    ASSERT_RESULT_EQ(mManager->SetString(user, stateKey, WString(L"Sideways")), IIniFileManager::kDone);
    EXPECT_FALSE(WindowPlacement::Read(*mManager, user, WString(kClassName)).has_value()) << "unknown show state";
}

TEST_F(WindowPlacementSettingsTest, ADamagedUserFileIsKeptAsideAndDefaultsAreUsed)
{
    const std::string damaged = "<plist><dict><key>CurrentSkinIndex</key><integer>7";   // cut off
    std::ofstream(UserFile(), std::ios::binary) << damaged;

    ::testing::internal::CaptureStderr();
    ZT::StartupSettings settings;
    const auto result = ZT::OpenSettingsAtStartup(*mManager, *mFiles, WString(kClassName), settings);
    const std::string errors = ::testing::internal::GetCapturedStderr();
    EXPECT_RESULT_EQ(result, IIniFileManager::kDone);
    EXPECT_EQ(settings.mCurrentSkinIndex, 0) << "default, not a value from the damaged file";
    EXPECT_FALSE(settings.mWindowPlacement);
    EXPECT_EQ(ReadFile(UserFile() + ".broken"), damaged) << "the damaged file is kept whole beside the new one";
    EXPECT_NE(ReadFile(UserFile()).find("<key>CurrentSkinIndex</key><integer>0</integer>"), std::string::npos);
    EXPECT_NE(errors.find(UserFile()), std::string::npos) << "the damage is reported: " << errors;
}

TEST_F(WindowPlacementSettingsTest, AnInterruptedWriteLeavesTheEarlierFileWhole)
{
    WindowPlacement first;
    first.mNormal = {10, 20, 410, 470};
    ASSERT_RESULT_EQ(ZT::SaveWindowPlacement(*mManager, *mFiles, WString(kClassName), first), IIniFileManager::kDone);
    const std::string before = ReadFile(UserFile());

    WindowPlacement second;
    second.mNormal = {300, 200, 700, 650};
    // Files may grow to half the new file only: the save's write fails part way (as on a full
    // disk). The limit also holds for the file that captures standard error, which the message
    // fits in.
    ASSERT_GT(before.size(), 400u);
    ::testing::internal::CaptureStderr();
    const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit oldLimit{};
    ::getrlimit(RLIMIT_FSIZE, &oldLimit);
    rlimit limited = oldLimit;
    limited.rlim_cur = before.size() / 2;
    ::setrlimit(RLIMIT_FSIZE, &limited);
    const auto result = ZT::SaveWindowPlacement(*mManager, *mFiles, WString(kClassName), second);
    ::setrlimit(RLIMIT_FSIZE, &oldLimit);
    std::signal(SIGXFSZ, oldHandler);
    const std::string errors = ::testing::internal::GetCapturedStderr();

    EXPECT_RESULT_EQ(result, IIniFileManager::kFailed);
    EXPECT_NE(errors.find("cannot save the settings"), std::string::npos) << errors;
    EXPECT_EQ(ReadFile(UserFile()), before) << "the earlier placement is still on disk, whole";
    Reopen();
    ZT::StartupSettings settings;
    ASSERT_RESULT_EQ(ZT::OpenSettingsAtStartup(*mManager, *mFiles, WString(kClassName), settings), IIniFileManager::kDone);
    ASSERT_TRUE(settings.mWindowPlacement.has_value());
    EXPECT_EQ(Text(settings.mWindowPlacement->mNormal), Text(first.mNormal));
}

} // namespace
