// The record of bootloader serial numbers: what counts as damaged, and a write that never leaves
// half a file or follows a link planted beside it.

#include "FirmwareUpdater/Panel/Engine/BootloaderRoleRecord.h"
#include "tests/ZTFramework/Threads/DebugCapture.h"
#include "tests/ZTFramework/Utilities/Storage/TempFolder.h"
#include "tests/Support/FileModes.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <unistd.h>

namespace {

using Kind = ProductDevice::Kind;
namespace fs = std::filesystem;

std::string ReadText(const fs::path& path)
{
    std::ifstream file(path);
    std::ostringstream text;
    text << file.rdbuf();
    return text.str();
}

TEST(BootloaderRoleRecord, ReadsOnlyWellFormedTextAndNamesWhatIsDamaged)
{
    struct Row {
        const char* text;
        const char* controller; // nullptr: damaged
        const char* display;
        const char* reason;
    };
    const Row rows[] = {
        {"controller 2058345D3100\nwheel-display 2058345D5000\n", "2058345D3100", "2058345D5000", ""},
        {"# comment\n\nwheel-display ABC", "", "ABC", ""},
        {"", "", "", ""},
        {"controller\n", nullptr, nullptr, "line 1: no serial number after the device"},
        {"display 1234\n", nullptr, nullptr, "line 1: unknown device \"display\""},
        {"controller 12 34\n", nullptr, nullptr, "line 1: not a serial number"},
        {"controller \n", nullptr, nullptr, "line 1: not a serial number"},
        {"controller 1\ncontroller 2\n", nullptr, nullptr, "line 2: the controller is named twice"},
        {"controller 1\nwheel-display 1\n", nullptr, nullptr, "line 2: both devices have the serial number 1"},
        {"controller \x01\x02\n", nullptr, nullptr, "line 1: not a serial number"},
    };
    for (const Row& row : rows) {
        std::string reason;
        const auto record = CBootloaderRoleRecord::Parse(row.text, reason);
        if (!row.controller) {
            EXPECT_FALSE(record) << row.text;
            EXPECT_EQ(reason, row.reason) << row.text;
            continue;
        }
        ASSERT_TRUE(record) << row.text << ": " << reason;
        EXPECT_EQ(record->GetSerial(Kind::Controller), row.controller) << row.text;
        EXPECT_EQ(record->GetSerial(Kind::WheelDisplay), row.display) << row.text;
        // What Format writes reads back the same.
        const auto again = CBootloaderRoleRecord::Parse(record->Format(), reason);
        EXPECT_TRUE(again && *again == *record) << record->Format();
    }
    EXPECT_FALSE(CBootloaderRoleRecord::IsStorableSerial(std::string(127, 'A')));
    EXPECT_TRUE(CBootloaderRoleRecord::IsStorableSerial(std::string(126, 'A')));
}

TEST(BootloaderRoleRecord, ASerialSeenAsOneDeviceIsNoLongerTheOthers)
{
    CBootloaderRoleRecord record;
    ASSERT_TRUE(record.SetSerial(Kind::Controller, "S1"));
    ASSERT_TRUE(record.SetSerial(Kind::WheelDisplay, "S1"));
    EXPECT_EQ(record.GetSerial(Kind::Controller), "");
    EXPECT_EQ(record.FindKind("S1"), std::optional<Kind>(Kind::WheelDisplay));
    EXPECT_EQ(record.FindKind(""), std::nullopt);
    EXPECT_FALSE(record.SetSerial(Kind::Controller, ""));
    EXPECT_FALSE(record.SetSerial(Kind::Controller, "has blank"));
}

class BootloaderRoleRecordFile : public ::testing::Test {
protected:
    BootloaderRoleRecordFile() { CBootloaderRoleRecord::SetFolder((mTemp.Path() / "state").string()); }
    ~BootloaderRoleRecordFile() override { CBootloaderRoleRecord::SetFolder(std::string()); }

    fs::path File() const { return CBootloaderRoleRecord::GetFilePath(); }

    ZT::Testing::TempFolder mTemp{"zt-role-record-test"};
};

TEST_F(BootloaderRoleRecordFile, RememberMakesTheFolderAndKeepsBothDevicesAcrossLoads)
{
    EXPECT_EQ(CBootloaderRoleRecord::Load(), CBootloaderRoleRecord());
    EXPECT_TRUE(CBootloaderRoleRecord::Remember(Kind::Controller, "2058345D3100"));
    EXPECT_TRUE(CBootloaderRoleRecord::Remember(Kind::WheelDisplay, "2058345D5000"));
    const CBootloaderRoleRecord loaded = CBootloaderRoleRecord::Load();
    EXPECT_EQ(loaded.GetSerial(Kind::Controller), "2058345D3100");
    EXPECT_EQ(loaded.GetSerial(Kind::WheelDisplay), "2058345D5000");
    // Nothing but the file itself is left in the folder.
    std::size_t entries = 0;
    for ([[maybe_unused]] const auto& entry : fs::directory_iterator(File().parent_path()))
        ++entries;
    EXPECT_EQ(entries, 1u);

    // No folder, no record: nothing is read or written, and that is no failure.
    CBootloaderRoleRecord::SetFolder(std::string());
    EXPECT_TRUE(CBootloaderRoleRecord::Remember(Kind::Controller, "X"));
    EXPECT_EQ(CBootloaderRoleRecord::Load(), CBootloaderRoleRecord());
}

TEST_F(BootloaderRoleRecordFile, ADamagedFileIsIgnoredWithALineAndReplacedOnTheNextWrite)
{
    fs::create_directories(File().parent_path());
    std::ofstream(File()) << "controller 1\ncontroller 2\n";
    {
        ZT::Testing::CDebugCapture capture;
        EXPECT_EQ(CBootloaderRoleRecord::Load(), CBootloaderRoleRecord());
        EXPECT_NE(capture.Text().find("ignoring the damaged record of bootloader serial numbers " + File().string() +
                                      " (line 2: the controller is named twice)"),
                  std::string::npos)
            << capture.Text();
    }
    // Too large to be ours.
    std::ofstream(File()) << std::string(CBootloaderRoleRecord::kMaxFileSize + 1, '#');
    {
        ZT::Testing::CDebugCapture capture;
        EXPECT_EQ(CBootloaderRoleRecord::Load(), CBootloaderRoleRecord());
        EXPECT_NE(capture.Text().find("is larger than 4096 bytes"), std::string::npos) << capture.Text();
    }
    EXPECT_TRUE(CBootloaderRoleRecord::Remember(Kind::WheelDisplay, "W"));
    EXPECT_EQ(ReadText(File()), CBootloaderRoleRecord::Load().Format());
    EXPECT_EQ(CBootloaderRoleRecord::Load().GetSerial(Kind::WheelDisplay), "W");
}

// The file and the name a write would use next may both be links planted by someone else: the
// record is not read through one, and a write replaces the link itself, never its target.
TEST_F(BootloaderRoleRecordFile, LinksAreNeitherReadThroughNorWrittenThrough)
{
    fs::create_directories(File().parent_path());
    const fs::path victim = mTemp.Path() / "victim";
    std::ofstream(victim) << "controller 1\n";
    fs::create_symlink(victim, File());
    // Every name the next write could pick for its new file, a link to the victim too.
    for (unsigned i = 0; i < 4; ++i)
        fs::create_symlink(victim, File().string() + ".new." + std::to_string(::getpid()) + "." + std::to_string(i));

    ZT::Testing::CDebugCapture capture;
    EXPECT_EQ(CBootloaderRoleRecord::Load(), CBootloaderRoleRecord());
    EXPECT_NE(capture.Text().find("cannot be opened"), std::string::npos) << capture.Text();
    EXPECT_TRUE(CBootloaderRoleRecord::Remember(Kind::Controller, "C"));
    EXPECT_EQ(ReadText(victim), "controller 1\n") << "a write went through a link";
    EXPECT_FALSE(fs::is_symlink(File()));
    EXPECT_EQ(CBootloaderRoleRecord::Load().GetSerial(Kind::Controller), "C");
}

} // namespace

// The folder Remember makes gets 0777 less the umask and the record 0644 less it, and the record is
// read back; run as an unprivileged user too (unprivileged_file_tests).
TEST_F(BootloaderRoleRecordFile, TheFolderAndTheRecordGetTheModesTheUmaskLeaves)
{
    for (const mode_t mask : {mode_t{022}, mode_t{077}, mode_t{027}}) {
        SCOPED_TRACE("umask " + ZT::Testing::Octal(mask));
        const fs::path folder = mTemp.Path() / ("state-" + ZT::Testing::Octal(mask));
        CBootloaderRoleRecord::SetFolder(folder.string());
        {
            const ZT::Testing::UmaskScope umask(mask);
            EXPECT_TRUE(CBootloaderRoleRecord::Remember(Kind::Controller, "2058345D3100"));
        }
        EXPECT_TRUE(ZT::Testing::HasMode(folder.string(), 0777 & ~mask));
        EXPECT_TRUE(ZT::Testing::HasMode(File().string(), 0644 & ~mask));
        EXPECT_TRUE(ZT::Testing::UserMayUse(File().string(), true));
        EXPECT_EQ(CBootloaderRoleRecord::Load().GetSerial(Kind::Controller), "2058345D3100");
    }
}
