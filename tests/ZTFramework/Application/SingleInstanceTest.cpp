#include "ZTFramework/Application/SingleInstance.h"

#include "tests/ZTFramework/Utilities/Storage/TempFolder.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sys/stat.h>
#include <string>
#include <thread>
#include <unistd.h>

namespace {

using ZT::CSingleInstance;
using namespace std::chrono_literals;

// A private folder of the test's own.
const std::filesystem::path& TestFolder()
{
    static const ZT::Testing::TempFolder folder{"zt-single-instance"};
    return folder.Path();
}

// A name no other test or program uses.
std::string UniqueName()
{
    static std::atomic<int> counter{0};
    return (TestFolder() / ("updater-" + std::to_string(counter++))).string();
}

// Sets an environment variable for the scope (unset for null) and puts the old value back.
class ScopedVariable {
public:
    ScopedVariable(const char* name, const char* value) : mName(name)
    {
        if (const char* old = std::getenv(name))
            mOld = old;
        if (value)
            ::setenv(name, value, 1);
        else
            ::unsetenv(name);
    }
    ~ScopedVariable()
    {
        if (mOld)
            ::setenv(mName, mOld->c_str(), 1);
        else
            ::unsetenv(mName);
    }
    ScopedVariable(const ScopedVariable&) = delete;
    ScopedVariable& operator=(const ScopedVariable&) = delete;

private:
    const char* mName;
    std::optional<std::string> mOld;
};

std::string ModeOf(const std::filesystem::path& path)
{
    struct stat status{};
    if (::lstat(path.c_str(), &status) != 0)
        return "missing";
    char text[16];
    std::snprintf(text, sizeof text, "%04o", static_cast<unsigned>(status.st_mode & 07777));
    return text;
}

TEST(SingleInstance, TheFirstCopyHoldsTheNameUntilItGoesAndWithoutAWindowTakesNoHandOver)
{
    const std::string name = UniqueName();
    {
        CSingleInstance first(name);
        EXPECT_TRUE(first.Claim());
        EXPECT_TRUE(first.Claim()) << "claiming again changes nothing";
        CSingleInstance second(name);
        EXPECT_FALSE(second.Claim());
        EXPECT_FALSE(second.IsFirst());
        EXPECT_FALSE(second.StartListening()) << "only the first copy listens";
        // Without a window the first copy takes no hand-over.
        EXPECT_EQ(first.GetListeningDescriptor(), -1);
        EXPECT_FALSE(CSingleInstance::HandOverCommandLine(name, "updater -SILENT"));
        EXPECT_FALSE(first.AcceptCommandLine(0ms).has_value());
    }
    EXPECT_FALSE(CSingleInstance::HandOverCommandLine(name, "nobody holds this name"));
    CSingleInstance later(name);
    EXPECT_TRUE(later.Claim()) << "the name goes with the first copy";
}

TEST(SingleInstance, ASecondCopyHandsItsCommandLineToTheWindow)
{
    const std::string name = UniqueName();
    CSingleInstance first(name);
    ASSERT_TRUE(first.Claim());
    ASSERT_TRUE(first.StartListening());
    EXPECT_GE(first.GetListeningDescriptor(), 0);
    EXPECT_FALSE(first.AcceptCommandLine(0ms).has_value()) << "nobody has handed anything over yet";

    struct Case {
        std::string sent;
        std::string received;
    };
    const Case cases[] = {
        {"/usr/bin/xr4000-nova-updater -ABSOLUTE_FIRMWARE_FILE_PATH=\"/a b/c.dfu\"",
         "/usr/bin/xr4000-nova-updater -ABSOLUTE_FIRMWARE_FILE_PATH=\"/a b/c.dfu\""},
        {"Ünïcödé ✓", "Ünïcödé ✓"},
        {std::string(100000, 'x'), std::string(CSingleInstance::kMaxCommandLineBytes, 'x')},
        {"", ""}, // an empty line is not sent, but the window was found
    };
    for (const Case& c : cases) {
        bool handed = false;
        // A hand-over larger than the socket's buffer needs the first copy reading meanwhile.
        std::thread second([&] { handed = CSingleInstance::HandOverCommandLine(name, c.sent); });
        const std::optional<std::string> received = first.AcceptCommandLine(5s);
        second.join();
        EXPECT_TRUE(handed);
        ASSERT_TRUE(received.has_value());
        EXPECT_EQ(*received, c.received);
    }
}

// The name lies in a folder only the user can reach: the runtime folder when it is private, else
// a 0700 folder of our own below TMPDIR; a folder that others may reach or that someone else owns
// is not used, and then there is no check at all (every copy opens its window).
TEST(SingleInstance, TheNameLiesInAFolderOnlyTheUserCanReach)
{
    const std::string windowClass = "Halvard_DEVICE_FAMILY_NAME_String_FirmwareUpdater";
    const std::filesystem::path runtime = TestFolder() / "runtime";
    const std::filesystem::path temporary = TestFolder() / "tmp";
    std::filesystem::create_directories(runtime);
    std::filesystem::create_directories(temporary);
    std::filesystem::permissions(runtime, std::filesystem::perms::owner_all);
    const ScopedVariable tmpdir("TMPDIR", temporary.c_str());
    const std::filesystem::path ownFolder = temporary / (windowClass + "-" + std::to_string(::geteuid()));
    {
        const ScopedVariable variable("XDG_RUNTIME_DIR", runtime.c_str());
        EXPECT_EQ(CSingleInstance::SocketName(windowClass), (runtime / (windowClass + "Prevent")).string());
    }
    {
        const ScopedVariable variable("XDG_RUNTIME_DIR", nullptr);
        EXPECT_EQ(CSingleInstance::SocketName(windowClass), (ownFolder / "Prevent").string());
        EXPECT_EQ(ModeOf(ownFolder), "0700") << ownFolder;
    }
    std::filesystem::permissions(runtime, std::filesystem::perms::all);
    {
        const ScopedVariable variable("XDG_RUNTIME_DIR", runtime.c_str());
        EXPECT_EQ(CSingleInstance::SocketName(windowClass), (ownFolder / "Prevent").string())
            << "a runtime folder that others may reach was used";
    }
    std::filesystem::permissions(ownFolder, std::filesystem::perms::all);
    {
        const ScopedVariable variable("XDG_RUNTIME_DIR", nullptr);
        EXPECT_EQ(CSingleInstance::SocketName(windowClass), "") << "a folder that others may reach was used";
    }
    // With no name there is no check: every copy is the first, and nothing is handed over.
    CSingleInstance unchecked("");
    EXPECT_TRUE(unchecked.Claim());
    EXPECT_FALSE(CSingleInstance::HandOverCommandLine("", "updater"));
}

// A copy that died leaves its socket file behind; the next first copy replaces it.
TEST(SingleInstance, AStaleSocketFromACopyThatDiedIsReplaced)
{
    const std::string name = UniqueName();
    {
        CSingleInstance died(name);
        ASSERT_TRUE(died.Claim());
    }
    std::ofstream(name + ".socket") << "left behind";
    CSingleInstance first(name);
    ASSERT_TRUE(first.Claim());
    ASSERT_TRUE(first.StartListening()) << "the stale socket file kept the first copy from listening";
    bool handed = false;
    std::thread second([&] { handed = CSingleInstance::HandOverCommandLine(name, "updater"); });
    const std::optional<std::string> received = first.AcceptCommandLine(5s);
    second.join();
    EXPECT_TRUE(handed);
    EXPECT_EQ(received, std::optional<std::string>("updater"));
}

} // namespace
