#include "ZTFramework/Application/ApplicationFolders.h"
#include "tests/ZTFramework/Errors/MessageOf.h"
#include "tests/ZTFramework/Utilities/Storage/TempFolder.h"
#include "tests/Support/FileModes.h"

#include "ZTFramework/Errors/Exception.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <string>

namespace {

namespace fs = std::filesystem;
using ZT::CApplicationFolders;

class ApplicationFolders : public ::testing::Test {
protected:
    ApplicationFolders() { fs::create_directories(mRoot / "home"); }

    CApplicationFolders::Environment Environment() const
    {
        CApplicationFolders::Environment environment;
        environment.Home = (mRoot / "home").string();
        environment.ProgramPath = "/opt/halvard/bin/xr4000-nova-updater";
        return environment;
    }
    static std::string Folder(const CApplicationFolders& folders, std::uint32_t id)
    {
        return folders.GetFolder(id).ToUTF8();
    }

    ZT::Testing::TempFolder mTemp{"zt-folders-test"};
    const fs::path mRoot = mTemp.Path();
};

TEST_F(ApplicationFolders, EachPathIdGivesItsFolderAndCreatesTheWritableOnes)
{
    struct Case {
        const char* name;
        std::string configHome; // XDG_CONFIG_HOME, empty: unset
        std::string dataHome;
        std::string expectedSettings; // relative to mRoot
        std::string expectedUser;
        std::string stateHome; // XDG_STATE_HOME
        std::string expectedState;
    };
    const std::string root = mRoot.string();
    const Case cases[] = {
        {"defaults below home", "", "", "home/.config/Halvard/XR4000 NOVA Firmware Updater",
         "home/.local/share/Halvard/XR4000 NOVA Firmware Updater", "",
         "home/.local/state/Halvard/XR4000 NOVA Firmware Updater"},
        {"the variables win", root + "/cfg", root + "/dat/", "cfg/Halvard/XR4000 NOVA Firmware Updater",
         "dat/Halvard/XR4000 NOVA Firmware Updater", root + "/st/", "st/Halvard/XR4000 NOVA Firmware Updater"},
        {"relative variables are invalid and ignored", "cfg", "dat", "home/.config/Halvard/XR4000 NOVA Firmware Updater",
         "home/.local/share/Halvard/XR4000 NOVA Firmware Updater", "st",
         "home/.local/state/Halvard/XR4000 NOVA Firmware Updater"},
    };
    for (const Case& c : cases) {
        CApplicationFolders::Environment environment = Environment();
        environment.XdgConfigHome = c.configHome;
        environment.XdgDataHome = c.dataHome;
        environment.XdgStateHome = c.stateHome;
        const CApplicationFolders folders(environment, ZT::WString(L"Halvard"), ZT::WString(L"XR4000 NOVA Firmware Updater"));

        EXPECT_EQ(Folder(folders, CApplicationFolders::kProgramFolder), "/opt/halvard/bin") << c.name;
        EXPECT_EQ(Folder(folders, CApplicationFolders::kResourceFolder), "::") << c.name;
        const std::string settings = Folder(folders, CApplicationFolders::kAppSettingsFolder);
        const std::string user = Folder(folders, CApplicationFolders::kUserSettingsFolder);
        EXPECT_EQ(settings, (mRoot / c.expectedSettings).string()) << c.name;
        EXPECT_EQ(user, (mRoot / c.expectedUser).string()) << c.name;
        EXPECT_TRUE(fs::is_directory(settings)) << c.name;
        EXPECT_TRUE(fs::is_directory(user)) << c.name;
        const std::string state = folders.GetStateFolder().ToUTF8();
        EXPECT_EQ(state, (mRoot / c.expectedState).string()) << c.name;
        EXPECT_TRUE(fs::is_directory(state)) << c.name;
        const std::string documents = Folder(folders, CApplicationFolders::kDocumentsFolder);
        EXPECT_EQ(documents, (mRoot / "home/Documents").string()) << c.name;
        EXPECT_TRUE(fs::is_directory(documents)) << c.name;
    }
}

TEST_F(ApplicationFolders, AnUnknownPathIdIsOutOfRangeAFolderThatCannotBeCreatedIsStillNamed)
{
    std::ofstream(mRoot / "home/.config") << "a file where a folder belongs";
    const CApplicationFolders folders(Environment(), ZT::WString(L"Halvard"), ZT::WString(L"P"));
    EXPECT_EQ(Folder(folders, CApplicationFolders::kAppSettingsFolder), (mRoot / "home/.config/Halvard/P").string());
    EXPECT_FALSE(fs::exists(mRoot / "home/.config/Halvard"));
    for (const std::uint32_t id : {5u, 6u, 0xFFFFFFFFu}) {
        const std::string message = ZT::Testing::MessageOf<std::out_of_range>([&] { (void)folders.GetFolder(id); });
        EXPECT_EQ(message.rfind("Out of Range : Unknown Path ID. : ZT::CApplicationFolders::GetFolder : ", 0), 0u)
            << id << ": " << message;
    }
}

TEST_F(ApplicationFolders, TheProgramFolderIsTheResolvedProgramsFolder)
{
    struct Case {
        std::string programPath;
        std::string folder;
    };
    const Case cases[] = {
        {"/usr/lib/halvard/xr4000-nova-updater", "/usr/lib/halvard"},
        {"/xr4000-nova-updater", "/"},
        {"", ""},
        {"no-slash", ""},
    };
    for (const Case& c : cases) {
        CApplicationFolders::Environment environment = Environment();
        environment.ProgramPath = c.programPath;
        const CApplicationFolders folders(environment, ZT::WString(L"Halvard"), ZT::WString(L"P"));
        EXPECT_EQ(Folder(folders, CApplicationFolders::kProgramFolder), c.folder) << c.programPath;
    }
    // The process's own: /proc/self/exe already names the file a symbolic link leads to.
    const auto process = CApplicationFolders::Environment::FromProcess();
    EXPECT_EQ(process.ProgramPath, fs::canonical("/proc/self/exe").string());
}

TEST_F(ApplicationFolders, TheDocumentsFolderComesFromUserDirs)
{
    struct Case {
        const char* text;
        std::string expected; // "$HOME" stands for the home folder
    };
    const Case cases[] = {
        {"XDG_DOCUMENTS_DIR=\"$HOME/Dokumente\"\n", "$HOME/Dokumente"},
        {"# comment\nXDG_DESKTOP_DIR=\"$HOME/Desktop\"\n  XDG_DOCUMENTS_DIR=\"/srv/docs/\"\r\n", "/srv/docs"},
        {"XDG_DOCUMENTS_DIR=\"$HOME\"\n", "$HOME"},
        {"XDG_DOCUMENTS_DIR=\"$HOME/A\"\nXDG_DOCUMENTS_DIR=\"$HOME/B\"\n", "$HOME/B"},
        {"XDG_DOCUMENTS_DIR=\"relative/docs\"\n", ""},
        {"XDG_DOCUMENTS_DIR=$HOME/unquoted\n", ""},
        {"XDG_DOCUMENTS_DIR=\"$HOMEWORK\"\n", ""},
        {"XDG_DOCUMENTS_DIR=\"\n", ""},
        {"", ""},
    };
    const std::string home = (mRoot / "home").string();
    for (const Case& c : cases) {
        std::string expected = c.expected;
        if (expected.rfind("$HOME", 0) == 0)
            expected = home + expected.substr(5);
        EXPECT_EQ(CApplicationFolders::ReadDocumentsDir(c.text, home), expected) << c.text;
    }

    // Read from the configuration folder, and created.
    fs::create_directories(mRoot / "home/.config");
    std::ofstream(mRoot / "home/.config/user-dirs.dirs") << "XDG_DOCUMENTS_DIR=\"$HOME/Papiere\"\n";
    const CApplicationFolders folders(Environment(), ZT::WString(L"Halvard"), ZT::WString(L"P"));
    EXPECT_EQ(Folder(folders, CApplicationFolders::kDocumentsFolder), home + "/Papiere");
    EXPECT_TRUE(fs::is_directory(home + "/Papiere"));
}

} // namespace

// Every folder made for the user, parents included, gets 0777 less the umask, belongs to the user
// and may be written by them; run as an unprivileged user too (unprivileged_file_tests).
TEST_F(ApplicationFolders, TheFoldersMadeGetTheModeTheUmaskLeaves)
{
    for (const mode_t mask : {mode_t{022}, mode_t{077}}) {
        SCOPED_TRACE("umask " + ZT::Testing::Octal(mask));
        CApplicationFolders::Environment environment = Environment();
        environment.Home = (mRoot / ("home-" + ZT::Testing::Octal(mask))).string();
        fs::create_directories(environment.Home);
        std::vector<std::string> made;
        {
            const ZT::Testing::UmaskScope umask(mask);
            const CApplicationFolders folders(environment, ZT::WString(L"Halvard"), ZT::WString(L"XR4000 NOVA Firmware Updater"));
            made = {Folder(folders, CApplicationFolders::kAppSettingsFolder),
                    Folder(folders, CApplicationFolders::kUserSettingsFolder), folders.GetStateFolder().ToUTF8()};
        }
        for (const std::string& folder : made) {
            EXPECT_TRUE(ZT::Testing::HasMode(folder, 0777 & ~mask));
            EXPECT_TRUE(ZT::Testing::HasMode(fs::path(folder).parent_path().string(), 0777 & ~mask)) << "the parent";
            EXPECT_TRUE(ZT::Testing::UserMayUse(folder, true));
        }
    }
}
