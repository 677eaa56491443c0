// The modes of the settings files the program creates, and that their user reads them back: a
// new file gets 0666 less the umask (0644 under the usual 022, 0600 under 077), a rewritten one
// keeps the mode it had. Run as an unprivileged user too (unprivileged_file_tests), where a file
// its user may not read fails the read-back and not only the mode.

#include "ZTFramework/Settings/IniFileManager.h"

#include "ZTFramework/ObjectBase/RCPtr.h"
#include "tests/Support/FileModes.h"
#include "tests/Support/Printers.h"

#include "SettingsTestSupport.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

namespace {

using namespace ZT;
using ZT::Testing::HasMode;
using ZT::Testing::Octal;
using ZT::Testing::UmaskScope;
using ZT::Testing::UserMayUse;
using SettingsTest::W;

constexpr ZTRESULT kDone = IIniFileManager::kDone;

// Saves Name = value into a new manager's file at path, then reads it back with another manager.
void SaveAndReadBack(const std::string& path, const wchar_t* value)
{
    {
        const RCPtr<LIniFileManager> manager = MakeRC<LIniFileManager>();
        IniFileHandle file = IniFileHandle::None;
        ASSERT_RESULT_EQ(manager->OpenFile(W(path), L"S", L"T", file), kDone);
        ASSERT_RESULT_EQ(manager->SetString(file, L"Name", WString(value)), kDone);
        ASSERT_RESULT_EQ(manager->CloseFile(file, true), kDone);
    }
    const RCPtr<LIniFileManager> reader = MakeRC<LIniFileManager>();
    IniFileHandle file = IniFileHandle::None;
    ASSERT_RESULT_EQ(reader->OpenFile(W(path), L"S", L"T", file), kDone);
    WString read;
    EXPECT_RESULT_EQ(reader->GetString(file, L"Name", WString(L"(missing)"), read), kDone);
    EXPECT_EQ(read.ToUTF8(), WString(value).ToUTF8()) << path << " was not read back";
    (void)reader->CloseFile(file, false);
}

TEST(SettingsFileModes, ANewFileGetsTheModeTheUmaskLeavesAndItsUserReadsItBack)
{
    for (const mode_t mask : {mode_t{022}, mode_t{077}, mode_t{027}}) {
        SCOPED_TRACE("umask " + Octal(mask));
        SettingsTest::TempFolder folder;
        const std::string path = folder.File("settings.ini");
        {
            const UmaskScope umask(mask);
            SaveAndReadBack(path, L"dj");
        }
        EXPECT_TRUE(HasMode(path, 0666 & ~mask));
        EXPECT_TRUE(UserMayUse(path, true));
        EXPECT_EQ(folder.List(), std::vector<std::string>{"settings.ini"}) << "a temporary file was left behind";
    }
}

TEST(SettingsFileModes, ARewrittenFileKeepsItsModeWhateverTheUmask)
{
    SettingsTest::TempFolder folder;
    const std::string path = folder.File("settings.ini");
    SaveAndReadBack(path, L"first");
    ASSERT_EQ(::chmod(path.c_str(), 0600), 0);
    {
        const UmaskScope umask(0);
        SaveAndReadBack(path, L"second");
    }
    EXPECT_TRUE(HasMode(path, 0600));
}

} // namespace
