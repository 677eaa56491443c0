#include "ZTFramework/Application/SingleInstance.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>
#include <unistd.h>

namespace {

using ZT::CSingleInstance;
using namespace std::chrono_literals;

// A name no other test or program uses.
std::string UniqueName()
{
    static std::atomic<int> counter{0};
    return "zt-single-instance-test-" + std::to_string(::getpid()) + "-" + std::to_string(counter++);
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

TEST(SingleInstance, NamesDifferBetweenSessionsAndStayWithinTheAbstractLimit)
{
    const char* previous = std::getenv("XDG_RUNTIME_DIR");
    const std::string saved = previous ? previous : "";
    ::setenv("XDG_RUNTIME_DIR", "/run/user/1000", 1);
    const std::string a = CSingleInstance::SocketName("Halvard_DEVICE_FAMILY_NAME_String_FirmwareUpdater");
    ::setenv("XDG_RUNTIME_DIR", "/run/user/1001", 1);
    const std::string b = CSingleInstance::SocketName("Halvard_DEVICE_FAMILY_NAME_String_FirmwareUpdater");
    ::unsetenv("XDG_RUNTIME_DIR");
    const std::string c = CSingleInstance::SocketName("Halvard_DEVICE_FAMILY_NAME_String_FirmwareUpdater");
    if (previous)
        ::setenv("XDG_RUNTIME_DIR", saved.c_str(), 1);

    EXPECT_EQ(a.rfind("Halvard_DEVICE_FAMILY_NAME_String_FirmwareUpdaterPrevent.", 0), 0u) << a;
    EXPECT_NE(a, b);
    EXPECT_NE(a, c);
    EXPECT_LE(a.size(), 107u);
}

} // namespace
