#include "ZTFramework/Settings/ApplicationSettingsFiles.h"
#include "ZTFramework/Settings/IniFileManager.h"

#include "ZTFramework/ObjectBase/RCPtr.h"
#include "tests/Support/Printers.h"

#include "SettingsTestSupport.h"

#include <gtest/gtest.h>

#include <filesystem>

using namespace ZT;
using SettingsTest::W;

TEST(ApplicationSettingsFiles, OpensBothFilesInTheirFoldersOnceAndKeepsTheSkinIndex)
{
    SettingsTest::TempFolder folder;
    const std::filesystem::path shared = folder.Path() / "shared";
    const std::filesystem::path user = folder.Path() / "user";
    std::filesystem::create_directories(shared);
    std::filesystem::create_directories(user);

    {
        auto manager = MakeRC<LIniFileManager>();
        CApplicationSettingsFiles files(*manager, W(shared.string()), W(user.string() + "/"), L"Halvard",
                                        L"XR4000 Updater");
        EXPECT_EQ(files.GetAppSettingsPath().ToUTF8(), (shared / "AppSettings.ini").string());
        EXPECT_EQ(files.GetUserSettingsPath().ToUTF8(), (user / "UserSettings.ini").string());

        IniFileHandle app = IniFileHandle::None;
        IniFileHandle userFile = IniFileHandle::None;
        ASSERT_RESULT_EQ(files.GetAppSettings(app), IIniFileManager::kDone);
        ASSERT_RESULT_EQ(files.GetUserSettings(userFile), IIniFileManager::kDone);
        EXPECT_NE(app, userFile);

        EXPECT_EQ(files.GetCurrentSkinIndex(), 0);
        ASSERT_RESULT_EQ(files.SetCurrentSkinIndex(3), IIniFileManager::kDone);
        ASSERT_RESULT_EQ(manager->SetInteger(app, L"Installed", 1), IIniFileManager::kDone);
        EXPECT_RESULT_EQ(manager->CloseAll(), IIniFileManager::kDone);
    }

    const std::string userText = SettingsTest::ReadFile((user / "UserSettings.ini").string());
    EXPECT_NE(userText.find("\t<key>Application</key><string>Halvard XR4000 Updater</string>\n"
                            "\t<key>XR4000 Updater_1_0_0</key><dict>\n"
                            "\t\t<key>CurrentSkinIndex</key><integer>3</integer>\n"),
              std::string::npos)
        << userText;
    EXPECT_TRUE(std::filesystem::exists(shared / "AppSettings.ini"));

    auto manager = MakeRC<LIniFileManager>();
    CApplicationSettingsFiles files(*manager, W(shared.string()), W(user.string()), L"Halvard", L"XR4000 Updater");
    EXPECT_EQ(files.GetCurrentSkinIndex(), 3);

    // After the manager closed everything, the next use opens the file again.
    EXPECT_RESULT_EQ(manager->CloseAll(), IIniFileManager::kDone);
    EXPECT_EQ(files.GetCurrentSkinIndex(), 3);
}

TEST(ApplicationSettingsFiles, AMissingFolderGivesTheDefaultAndAFailedSave)
{
    SettingsTest::TempFolder folder;
    const std::string missing = (folder.Path() / "not-created").string();
    auto manager = MakeRC<LIniFileManager>();
    CApplicationSettingsFiles files(*manager, W(missing), W(missing), L"C", L"P");
    EXPECT_EQ(files.GetCurrentSkinIndex(), 0);
    ASSERT_RESULT_EQ(files.SetCurrentSkinIndex(2), IIniFileManager::kDone);
    IniFileHandle user = IniFileHandle::None;
    ASSERT_RESULT_EQ(files.GetUserSettings(user), IIniFileManager::kAlreadyOpen);
    ::testing::internal::CaptureStderr();
    EXPECT_RESULT_EQ(manager->SaveFile(user), IIniFileManager::kFailed);
    EXPECT_EQ(::testing::internal::GetCapturedStderr(),
              missing + "/UserSettings.ini: cannot save the settings: No such file or directory\n");
}
