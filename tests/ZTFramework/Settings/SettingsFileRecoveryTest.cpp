// Damaged settings files and interrupted saves: each gives a clear message, a usable document,
// and loses nothing on the disk.

#include "ZTFramework/Settings/IniFileManager.h"
#include "ZTFramework/Settings/PropertyListReader.h"
#include "ZTFramework/Settings/PropertyListWriter.h"
#include "ZTFramework/Settings/SettingsFileStore.h"

#include "ZTFramework/ObjectBase/RCPtr.h"
#include "tests/Support/Printers.h"

#include "SettingsTestSupport.h"

#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace ZT;
using SettingsTest::ReadFile;
using SettingsTest::W;
using SettingsTest::WriteFile;

namespace {

constexpr ZTRESULT kDone = IIniFileManager::kDone;

const std::string kHeader(CPropertyListWriter::kHeader);

// A good file of section "S" with Kept = 1 and Name = "dj", as the writer lays it out.
std::string GoodFile()
{
    return kHeader +
           "<dict>\n"
           "\t<key>Application</key><string>T</string>\n"
           "\t<key>S</key><dict>\n"
           "\t\t<key>Kept</key><integer>1</integer>\n"
           "\t\t<key>Name</key><string>dj</string>\n"
           "\t</dict>\n"
           "</dict>\n"
           "</plist>\n";
}

struct DamagedCase {
    const char* mWhat;
    std::string mBytes;
    // The standard-error lines of the open, with "@" standing for the file's path.
    std::string mMessage;
    // Parse failures give a fresh document; skipped content keeps the rest of the file. The
    // reader's own tests hold every kind of fault; these are the store's cases of each outcome.
    bool mFreshDocument;
};

std::vector<DamagedCase> DamagedCases()
{
    return {
        {"not well-formed", kHeader + "<dict>\n<key>S</key><string>x</dict>\n</plist>\n",
         "@:5: mismatched tag\n", true},
        {"empty", "", "@:1: no element found\n", true},
        {"binary", std::string("\x00\x01\x02\xFF\xFE garbage", 14), "@:1: not well-formed (invalid token)\n", true},
        {"not a dictionary at the top", kHeader + "<array>\n<string>x</string>\n</array>\n</plist>\n",
         "@:4: the top-level value is of type Array, not a dictionary\n", true},
        {"unknown elements",
         kHeader + "<dict>\n<key>S</key><dict>\n<key>Kept</key><integer>1</integer>\n"
                    "<key>When</key><date>2024-05-01T20:00:00Z</date>\n</dict>\n</dict>\n</plist>\n",
         "@:7: unknown element <date> ignored\n@:7: key \"When\" has no value\n", false},
        {"wrong value forms",
         kHeader + "<dict>\n<key>S</key><dict>\n<key>Kept</key><integer>1</integer>\n"
                    "<key>Pitch</key><integer>eight</integer>\n<key>Gain</key><real>1,5</real>\n</dict>\n</dict>\n</plist>\n",
         "@:7: integer \"eight\" is not a valid number; read as 0\n"
         "@:8: real \"1,5\" is not a valid number; read as 1.000000\n",
         false},
    };
}

class SettingsFileRecoveryTest : public ::testing::Test {
protected:
    IniFileHandle Open()
    {
        IniFileHandle file = IniFileHandle::None;
        EXPECT_RESULT_EQ(mManager->OpenFile(W(mPath), L"S", L"T", file), kDone);
        return file;
    }

    SettingsTest::TempFolder mFolder;
    std::string mPath = mFolder.File("settings.ini");
    RCPtr<LIniFileManager> mManager = MakeRC<LIniFileManager>();
};

} // namespace

TEST_F(SettingsFileRecoveryTest, DamagedFilesAreReportedReplacedAndKeptBeside)
{
    for (const DamagedCase& c : DamagedCases()) {
        SCOPED_TRACE(c.mWhat);
        SettingsTest::TempFolder folder;
        const std::string path = folder.File("settings.ini");
        WriteFile(path, c.mBytes);

        auto manager = MakeRC<LIniFileManager>();
        IniFileHandle file = IniFileHandle::None;
        ::testing::internal::CaptureStderr();
        ASSERT_RESULT_EQ(manager->OpenFile(W(path), L"S", L"Fresh", file), kDone);
        std::string expected = c.mMessage;
        for (std::size_t at = expected.find('@'); at != std::string::npos; at = expected.find('@', at + path.size()))
            expected.replace(at, 1, path);
        EXPECT_EQ(::testing::internal::GetCapturedStderr(), expected);

        std::int32_t kept = -1;
        EXPECT_RESULT_EQ(manager->GetInteger(file, L"Kept", -1, kept), kDone);
        EXPECT_EQ(kept, c.mFreshDocument ? -1 : 1);

        // Nothing reaches the disk before a change; then the damaged file moves aside, whole.
        EXPECT_EQ(ReadFile(path), c.mBytes);
        ASSERT_RESULT_EQ(manager->SetInteger(file, L"Added", 5), kDone);
        ::testing::internal::CaptureStderr();
        ASSERT_RESULT_EQ(manager->SaveFile(file), kDone);
        EXPECT_EQ(::testing::internal::GetCapturedStderr(),
                  path + ": the earlier, unreadable file was kept as " + path + ".broken\n");
        EXPECT_EQ(ReadFile(path + ".broken"), c.mBytes);
        EXPECT_EQ(folder.List(), (std::vector<std::string>{"settings.ini", "settings.ini.broken"}));

        const std::string saved = ReadFile(path);
        const auto reread = CPropertyListReader::Read(saved);
        ASSERT_FALSE(reread.mFailed) << reread.mError.mReason;
        EXPECT_EQ(reread.mSkippedCount, 0u);
        if (c.mFreshDocument) {
            EXPECT_NE(saved.find("<key>Application</key><string>Fresh</string>"), std::string::npos);
        }

        // Kept once: the next save simply replaces the now healthy file.
        ASSERT_RESULT_EQ(manager->SetInteger(file, L"Added", 6), kDone);
        ::testing::internal::CaptureStderr();
        ASSERT_RESULT_EQ(manager->SaveFile(file), kDone);
        EXPECT_EQ(::testing::internal::GetCapturedStderr(), "");
        EXPECT_EQ(folder.List().size(), 2u);
    }
}

TEST_F(SettingsFileRecoveryTest, AHugeFileIsRefusedWithoutReadingItAndKept)
{
    WriteFile(mPath, GoodFile());
    ASSERT_EQ(::truncate(mPath.c_str(), static_cast<off_t>(CSettingsFileStore::kMaxFileSize + 1)), 0);
    ::testing::internal::CaptureStderr();
    const IniFileHandle file = Open();
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), mPath + ":0: the file is larger than 8388608 bytes\n");
    ASSERT_RESULT_EQ(mManager->SetInteger(file, L"v", 1), kDone);
    ::testing::internal::CaptureStderr();
    ASSERT_RESULT_EQ(mManager->SaveFile(file), kDone);
    (void)::testing::internal::GetCapturedStderr();
    EXPECT_EQ(std::filesystem::file_size(mPath + ".broken"), CSettingsFileStore::kMaxFileSize + 1);
    EXPECT_LT(std::filesystem::file_size(mPath), 1000u);
}

TEST_F(SettingsFileRecoveryTest, EarlierBrokenCopiesAreNeverOverwritten)
{
    WriteFile(mPath + ".broken", "first");
    WriteFile(mPath + ".broken-2", "second");
    WriteFile(mPath, "third, also broken");
    ::testing::internal::CaptureStderr();
    const IniFileHandle file = Open();
    ASSERT_RESULT_EQ(mManager->SetInteger(file, L"v", 1), kDone);
    ASSERT_RESULT_EQ(mManager->SaveFile(file), kDone);
    EXPECT_NE(::testing::internal::GetCapturedStderr().find("kept as " + mPath + ".broken-3\n"), std::string::npos);
    EXPECT_EQ(ReadFile(mPath + ".broken"), "first");
    EXPECT_EQ(ReadFile(mPath + ".broken-2"), "second");
    EXPECT_EQ(ReadFile(mPath + ".broken-3"), "third, also broken");
}

TEST_F(SettingsFileRecoveryTest, AHealthyFileIsReplacedWithoutACopyAndKeepsItsPermissions)
{
    WriteFile(mPath, GoodFile());
    ASSERT_EQ(::chmod(mPath.c_str(), 0640), 0);
    const IniFileHandle file = Open();
    ASSERT_RESULT_EQ(mManager->SetString(file, L"Name", L"vj"), kDone);
    ASSERT_RESULT_EQ(mManager->CloseFile(file, true), kDone);
    EXPECT_EQ(mFolder.List(), std::vector<std::string>{"settings.ini"});
    std::string expected = GoodFile();
    expected.replace(expected.find(">dj<"), 4, ">vj<");
    EXPECT_EQ(ReadFile(mPath), expected);
    struct stat info {};
    ASSERT_EQ(::stat(mPath.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, 0640u);
}

TEST_F(SettingsFileRecoveryTest, ASaveThroughASymbolicLinkReplacesTheFileItPointsTo)
{
    const std::string real = mFolder.File("real.ini");
    WriteFile(real, GoodFile());
    ASSERT_EQ(::symlink(real.c_str(), mPath.c_str()), 0);
    const IniFileHandle file = Open();
    ASSERT_RESULT_EQ(mManager->SetInteger(file, L"Kept", 2), kDone);
    ASSERT_RESULT_EQ(mManager->SaveFile(file), kDone);
    EXPECT_TRUE(std::filesystem::is_symlink(mPath));
    EXPECT_NE(ReadFile(real).find("<key>Kept</key><integer>2</integer>"), std::string::npos);
}

namespace {

constexpr rlim_t kLimit = 4096;

// Runs in a forked child: with the default action of SIGXFSZ, the write that crosses the limit
// kills the process, so the save stops wherever that write is.
void SaveUntilKilledBySizeLimit(LIniFileManager& manager, IniFileHandle file)
{
    rlimit noCore{0, 0};
    ::setrlimit(RLIMIT_CORE, &noCore);
    std::signal(SIGXFSZ, SIG_DFL);
    rlimit limited{kLimit, kLimit};
    ::setrlimit(RLIMIT_FSIZE, &limited);
    (void)manager.SaveFile(file);
    std::_Exit(0);
}

} // namespace

TEST_F(SettingsFileRecoveryTest, AWriteThatFailsHalfwayLeavesTheOldFileAndNoLeftovers)
{
    WriteFile(mPath, GoodFile());
    const IniFileHandle file = Open();
    ASSERT_RESULT_EQ(mManager->SetString(file, L"Name", WString(std::wstring(3 * kLimit, L'x'))), kDone);

    ::testing::internal::CaptureStderr();
    // Files may grow to kLimit bytes; past it a write fails with EFBIG (as on a full disk)
    // instead of raising SIGXFSZ.
    const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit oldLimit{};
    ::getrlimit(RLIMIT_FSIZE, &oldLimit);
    rlimit limited = oldLimit;
    limited.rlim_cur = kLimit;
    ::setrlimit(RLIMIT_FSIZE, &limited);
    const ZTRESULT result = mManager->SaveFile(file);
    ::setrlimit(RLIMIT_FSIZE, &oldLimit);
    std::signal(SIGXFSZ, oldHandler);
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), mPath + ": cannot save the settings: File too large\n");
    EXPECT_RESULT_EQ(result, IIniFileManager::kFailed);
    EXPECT_EQ(ReadFile(mPath), GoodFile());
    EXPECT_EQ(mFolder.List(), std::vector<std::string>{"settings.ini"});

    // Still dirty: once there is room, the same save goes through.
    EXPECT_RESULT_EQ(mManager->SaveFile(file), kDone);
    EXPECT_GT(std::filesystem::file_size(mPath), 3 * kLimit);
}

TEST_F(SettingsFileRecoveryTest, AProcessKilledInTheMiddleOfASaveLeavesTheOldFileReadable)
{
    WriteFile(mPath, GoodFile());
    const IniFileHandle file = Open();
    ASSERT_RESULT_EQ(mManager->SetString(file, L"Name", WString(std::wstring(3 * kLimit, L'x'))), kDone);

    // The child is killed by SIGXFSZ at the write that crosses the limit: mid-save, with the
    // temporary file partly written.
    EXPECT_EXIT(SaveUntilKilledBySizeLimit(*mManager, file), ::testing::KilledBySignal(SIGXFSZ), "");

    EXPECT_EQ(ReadFile(mPath), GoodFile());
    const std::vector<std::string> names = mFolder.List();
    ASSERT_EQ(names.size(), 2u);
    EXPECT_EQ(names[1].rfind("settings.ini.tmp-", 0), 0u) << names[1];
    EXPECT_EQ(std::filesystem::file_size(mFolder.File(names[1])), kLimit) << "the kill came mid-write";

    auto reader = MakeRC<LIniFileManager>();
    IniFileHandle again = IniFileHandle::None;
    ::testing::internal::CaptureStderr();
    ASSERT_RESULT_EQ(reader->OpenFile(W(mPath), L"S", L"T", again), kDone);
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "");
    WString name;
    EXPECT_RESULT_EQ(reader->GetString(again, L"Name", L"", name), kDone);
    EXPECT_EQ(name.ToUTF8(), "dj");
}
