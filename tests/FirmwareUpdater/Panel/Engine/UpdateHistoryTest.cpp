// The update history: bounded, readable after a torn append, its lines whole.

#include "FirmwareUpdater/Panel/Engine/UpdateHistory.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <unistd.h>

namespace {

class UpdateHistoryTest : public ::testing::Test {
protected:
    UpdateHistoryTest()
    {
        mFolder = std::filesystem::temp_directory_path() / ("update-history-test-" + std::to_string(::getpid()));
        std::filesystem::create_directories(mFolder);
        mPath = (mFolder / CUpdateHistory::kFileName).string();
    }
    ~UpdateHistoryTest() override
    {
        std::error_code ignored;
        std::filesystem::remove_all(mFolder, ignored);
    }

    static CUpdateHistory::Entry Attempt(int n)
    {
        return {"2026-12-07T05:52:40Z", "Wheel display", "2058345D5000", "00.49", "", "failed",
                "writing block " + std::to_string(n) + " (0x0800B000): data request: Pipe"};
    }
    std::string FileText() const
    {
        std::ifstream in(mPath, std::ios::binary);
        return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    }
    // The names of the folder's files: a rewrite leaves no temporary file behind.
    std::size_t FileCount() const
    {
        return static_cast<std::size_t>(
            std::distance(std::filesystem::directory_iterator(mFolder), std::filesystem::directory_iterator()));
    }

    std::filesystem::path mFolder;
    std::string mPath;
};

TEST_F(UpdateHistoryTest, AnAttemptIsOneLineOfSevenFieldsWithEmptyOnesAsADash)
{
    std::string message;
    ASSERT_TRUE(CUpdateHistory::AppendTo(mPath, Attempt(6), message)) << message;
    EXPECT_EQ(FileText(), "2026-12-07T05:52:40Z\tWheel display\t2058345D5000\t00.49\t-\tfailed\t"
                          "writing block 6 (0x0800B000): data request: Pipe\n");
    // A line end or tab inside a field would split the line or shift its fields.
    CUpdateHistory::Entry entry = Attempt(7);
    entry.Failure = "two\nlines\tand a tab";
    ASSERT_TRUE(CUpdateHistory::AppendTo(mPath, entry, message)) << message;
    const auto lines = CUpdateHistory::ReadLines(mPath);
    ASSERT_EQ(lines.size(), 2u) << FileText();
    EXPECT_EQ(lines[1].substr(lines[1].rfind('\t') + 1), "two lines and a tab");
}

TEST_F(UpdateHistoryTest, TheFileKeepsOnlyTheNewestLinesOverItsBound)
{
    std::string message;
    for (int n = 0; n < 25; ++n)
        ASSERT_TRUE(CUpdateHistory::AppendTo(mPath, Attempt(n), message, 10)) << "attempt " << n << ": " << message;
    const auto lines = CUpdateHistory::ReadLines(mPath);
    ASSERT_EQ(lines.size(), 10u) << "the history grows past its bound:\n" << FileText();
    EXPECT_NE(lines.front().find("writing block 15 "), std::string::npos) << "not the oldest kept: " << lines.front();
    EXPECT_NE(lines.back().find("writing block 24 "), std::string::npos) << "not the newest: " << lines.back();
    EXPECT_EQ(FileCount(), 1u) << "a rewrite left a file behind";
}

// A run killed in the middle of its append leaves part of a line without its end: reading skips
// it, and the next attempt neither glues onto it nor loses the lines before it.
TEST_F(UpdateHistoryTest, ATornLastLineIsIgnoredAndTheNextAppendStartsAWholeLine)
{
    std::string message;
    ASSERT_TRUE(CUpdateHistory::AppendTo(mPath, Attempt(1), message)) << message;
    {
        std::ofstream torn(mPath, std::ios::binary | std::ios::app);
        torn << "2026-12-07T05:53:00Z\tController\t-\t00.30";
    }
    EXPECT_EQ(CUpdateHistory::ReadLines(mPath).size(), 1u) << "the torn line was read:\n" << FileText();

    ASSERT_TRUE(CUpdateHistory::AppendTo(mPath, Attempt(2), message)) << message;
    const auto lines = CUpdateHistory::ReadLines(mPath);
    ASSERT_EQ(lines.size(), 2u) << FileText();
    EXPECT_NE(lines[0].find("writing block 1 "), std::string::npos) << lines[0];
    EXPECT_NE(lines[1].find("writing block 2 "), std::string::npos) << lines[1];
    EXPECT_EQ(FileText().find("00.30"), std::string::npos) << "the torn part stays in the file:\n" << FileText();
}

TEST_F(UpdateHistoryTest, AHistoryThatCannotBeWrittenSaysWhyAndChangesNothing)
{
    std::string message;
    const std::string path = (mFolder / "missing-folder" / CUpdateHistory::kFileName).string();
    EXPECT_FALSE(CUpdateHistory::AppendTo(path, Attempt(1), message));
    EXPECT_NE(message.find("No such file or directory"), std::string::npos) << message;
    EXPECT_TRUE(CUpdateHistory::ReadLines(path).empty());
}

} // namespace
