// ZT::File on real files in a temporary folder of each test.

#include "ZTFramework/Utilities/Storage/ZTFile.h"
#include "tests/ZTFramework/Errors/MessageOf.h"
#include "tests/ZTFramework/Utilities/Storage/TempFolder.h"

#include "ZTFramework/Errors/Exception.h"
#include "ZTFramework/Utilities/Storage/StringT.h"
#include "tests/Support/Printers.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <stdexcept>
#include <string>
#include <sys/stat.h>
#include <vector>

namespace {

namespace fs = std::filesystem;
using ZT::File;
using ZT::WString;

class ZTFileTest : public ::testing::Test {
protected:
    fs::path Write(const std::string& name, const std::vector<std::uint8_t>& bytes) const
    {
        return mTemp.Write(name, bytes);
    }
    static WString PathText(const fs::path& path) { return WString(path.string().c_str()); }

    ZT::Testing::TempFolder mTemp{"ztfile"};
    const fs::path& mFolder = mTemp.Path();
};

std::vector<std::uint8_t> Counting(std::size_t count)
{
    std::vector<std::uint8_t> bytes(count);
    for (std::size_t i = 0; i < count; ++i)
        bytes[i] = static_cast<std::uint8_t>(i * 7 + 1);
    return bytes;
}

TEST_F(ZTFileTest, ReadsFromAbsolutePositionsAndStopsAtTheEnd)
{
    const std::vector<std::uint8_t> content = Counting(100);
    File file;
    ASSERT_RESULT_EQ(file.Open(PathText(Write("data.bin", content)), File::OpenMode::ReadBinaryShared), ZT::S_OK);
    EXPECT_TRUE(file.IsOpen());
    EXPECT_EQ(file.GetLength(), 100u);

    std::uint8_t buffer[16] = {};
    file.Seek(40);
    ASSERT_EQ(file.Read(buffer, 10), 10u);
    EXPECT_EQ(std::vector<std::uint8_t>(buffer, buffer + 10),
              std::vector<std::uint8_t>(content.begin() + 40, content.begin() + 50));

    // The position moved on by what was read.
    ASSERT_EQ(file.Read(buffer, 1), 1u);
    EXPECT_EQ(buffer[0], content[50]);

    // Going back is as good as going forward; the last bytes come short of the count.
    file.Seek(95);
    EXPECT_EQ(file.Read(buffer, 16), 5u);
    EXPECT_EQ(buffer[4], content[99]);

    // Past the end nothing arrives, and that is not an error.
    file.Seek(1000);
    EXPECT_EQ(file.Read(buffer, 16), 0u);
}

TEST_F(ZTFileTest, RefusesWhatIsNotARegularFile)
{
    File file;
    EXPECT_RESULT_EQ(file.Open(PathText(mFolder / "missing.bin"), File::OpenMode::ReadBinaryShared), ZT::E_FAIL);
    EXPECT_FALSE(file.IsOpen());
    EXPECT_RESULT_EQ(file.Open(PathText(mFolder), File::OpenMode::ReadBinaryShared), ZT::E_FAIL);
    EXPECT_FALSE(file.IsOpen());
    EXPECT_RESULT_EQ(file.Open(WString(), File::OpenMode::ReadBinaryShared), ZT::E_INVALIDARG);

    // A pipe without a writer must neither block the open nor be accepted.
    const fs::path pipe = mFolder / "pipe";
    ASSERT_EQ(::mkfifo(pipe.c_str(), 0600), 0);
    EXPECT_RESULT_EQ(file.Open(PathText(pipe), File::OpenMode::ReadBinaryShared), ZT::E_FAIL);
    EXPECT_FALSE(file.IsOpen());
}

TEST_F(ZTFileTest, AnotherOpenReplacesTheFileAndAMoveHandsItOver)
{
    File first;
    ASSERT_RESULT_EQ(first.Open(PathText(Write("a.bin", Counting(10))), File::OpenMode::ReadBinaryShared), ZT::S_OK);
    // An empty file with a name outside ASCII: opened, and reads give nothing.
    (void)Write("Ünïcode-固件.dfu", {});
    ASSERT_RESULT_EQ(first.Open(PathText(mFolder) + L"/Ünïcode-固件.dfu", File::OpenMode::ReadBinaryShared), ZT::S_OK);
    EXPECT_EQ(first.GetLength(), 0u);
    std::uint8_t byte = 0xAA;
    EXPECT_EQ(first.Read(&byte, 1), 0u);
    EXPECT_EQ(byte, 0xAA);

    File second(std::move(first));
    EXPECT_FALSE(first.IsOpen()); // NOLINT(bugprone-use-after-move): a moved-from file is closed
    ASSERT_TRUE(second.IsOpen());
    // A failed open leaves nothing open, not the earlier file.
    EXPECT_RESULT_EQ(second.Open(PathText(mFolder / "missing.bin"), File::OpenMode::ReadBinaryShared), ZT::E_FAIL);
    EXPECT_FALSE(second.IsOpen());
}

TEST_F(ZTFileTest, UseWithoutAnOpenFileIsALogicError)
{
    File file;
    std::uint8_t byte = 0;
    EXPECT_THROW(file.Seek(0), std::logic_error);
    EXPECT_THROW((void)file.Read(&byte, 1), std::logic_error);
    EXPECT_THROW((void)file.GetLength(), std::logic_error);

    ASSERT_RESULT_EQ(file.Open(PathText(Write("a.bin", Counting(1))), File::OpenMode::ReadBinaryShared), ZT::S_OK);
    file.Close();
    EXPECT_FALSE(file.IsOpen());
    EXPECT_THROW((void)file.Read(&byte, 1), std::logic_error);
}

TEST_F(ZTFileTest, AReadErrorOfTheSystemIsARuntimeErrorWithItsReason)
{
    // The process's own memory file is a regular file whose first page is never mapped, so the
    // kernel answers a read there with an I/O error.
    File file;
    ASSERT_RESULT_EQ(file.Open(WString(L"/proc/self/mem"), File::OpenMode::ReadBinaryShared), ZT::S_OK);
    file.Seek(0);
    std::uint8_t buffer[8] = {};
    const std::string message =
        ZT::Testing::MessageOf<ZT::Exception<std::runtime_error>>([&] { (void)file.Read(buffer, sizeof buffer); });
    EXPECT_EQ(message.rfind("Runtime Error : read failed: ", 0), 0u) << message;
    EXPECT_NE(message.find("ZT::File::Read"), std::string::npos) << message;
}

} // namespace
