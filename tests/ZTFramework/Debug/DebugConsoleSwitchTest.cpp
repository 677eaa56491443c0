#include "ZTFramework/Debug/DebugConsoleSwitch.h"

#include "ZTFramework/Debug/DebugOutput.h"

#include <gtest/gtest.h>

#include <climits>
#include <ostream>

namespace ZT {

void PrintTo(const DebugConsoleSwitch& parsed, std::ostream* out)
{
    *out << ToString(parsed.mAction) << " port " << parsed.mPort;
    if (parsed.mHasHost)
        *out << " host \"" << parsed.mHost << "\"";
}

namespace {

using Action = DebugConsoleSwitch::Action;

struct SwitchCase {
    const char* mCommandLine;
    DebugConsoleSwitch mExpected;
};

DebugConsoleSwitch Nothing() { return {Action::None, 0, false, ""}; }
DebugConsoleSwitch Console() { return {Action::OpenConsole, 0, false, ""}; }
DebugConsoleSwitch Ignored() { return {Action::Ignored, 0, false, ""}; }
DebugConsoleSwitch Target(int port) { return {Action::SetTarget, port, false, ""}; }
DebugConsoleSwitch Target(int port, const char* host) { return {Action::SetTarget, port, true, host}; }

const SwitchCase kCases[] = {
    {"", Nothing()},
    {"updater.exe", Nothing()},
    {"updater.exe -debug_console", Nothing()},  // the search is case-sensitive
    {"updater.exe -DEBUG_CONSOL", Nothing()},
    {"updater.exe -DEBUG_CONSOLE", Console()},
    {"updater.exe -DEBUG_CONSOLE -QUERY", Console()},
    {"updater.exe X-DEBUG_CONSOLEX", Console()}, // a substring anywhere counts
    {"updater.exe -DEBUG_CONSOLE:5000:buildhost", Target(5000, "buildhost")},
    {"updater.exe -DEBUG_CONSOLE:5000", Target(5000)},
    {"updater.exe -DEBUG_CONSOLE:5000 -QUERY", Target(5000)},
    {"updater.exe -DEBUG_CONSOLE:5000:buildhost -QUERY", Target(5000, "buildhost")},
    {"updater.exe -DEBUG_CONSOLE:5000:", Target(5000)},                 // empty host text
    {"updater.exe -DEBUG_CONSOLE:5000:10.1.2.3:x", Target(5000, "10.1.2.3:x")},
    {"updater.exe -DEBUG_CONSOLE:99", Target(99)},                      // two characters suffice
    {"updater.exe -DEBUG_CONSOLE:ab", Target(0)},                       // atoi of a non-number
    {"updater.exe -DEBUG_CONSOLE:99999999999", Target(INT_MAX)},        // clamped, not wrapped
    {"updater.exe -DEBUG_CONSOLE -DEBUG_CONSOLE:6000", Target(6000)},   // the target form wins
    // The first ":" after the switch may lie past the blank that ends it: the port text then
    // reaches it, its number stops at the blank, and there is no host.
    {"updater.exe -DEBUG_CONSOLE:5000 -FILE:x.dfu", Target(5000)},
    {"updater.exe -DEBUG_CONSOLE: 5000:buildhost", Target(5000)},
    // Port text shorter than two characters: nothing happens, not even the console.
    {"updater.exe -DEBUG_CONSOLE:7", Ignored()},
    {"updater.exe -DEBUG_CONSOLE:7:buildhost", Ignored()},
    {"updater.exe -DEBUG_CONSOLE: -QUERY", Ignored()},
    {"updater.exe -DEBUG_CONSOLE:", Ignored()},
    {"updater.exe -DEBUG_CONSOLE::buildhost", Ignored()},
};

TEST(DebugConsoleSwitchTable, ParsesTheCommandLine)
{
    for (const SwitchCase& row : kCases)
        EXPECT_EQ(ParseDebugConsoleSwitch(row.mCommandLine), row.mExpected) << '"' << row.mCommandLine << '"';
}

// Puts the process-wide debug output back as it was for the next test.
class DebugConsoleSwitchApply : public ::testing::Test {
protected:
    void TearDown() override
    {
        DebugOutput::Instance().UseDebugStreams();
        DebugOutput::Instance().SetTarget("", -1);
    }
};

TEST_F(DebugConsoleSwitchApply, ShortPortChangesNothingTargetKeepsTheHostConsoleOpens)
{
    DebugOutput& output = DebugOutput::Instance();
    EXPECT_EQ(ApplyDebugConsoleSwitch("updater.exe -DEBUG_CONSOLE:7:buildhost").mAction, Action::Ignored);
    EXPECT_EQ(output.GetTargetPort(), -1);
    EXPECT_EQ(output.GetTargetHost(), "");
    EXPECT_EQ(&DebugOutput::Narrow(), &output.NarrowDebugStream());

    ApplyDebugConsoleSwitch("updater.exe -DEBUG_CONSOLE:5000:buildhost");
    EXPECT_EQ(output.GetTargetPort(), 5000);
    EXPECT_EQ(output.GetTargetHost(), "buildhost");

    ApplyDebugConsoleSwitch("updater.exe -DEBUG_CONSOLE:6000");
    EXPECT_EQ(output.GetTargetPort(), 6000);
    EXPECT_EQ(output.GetTargetHost(), "buildhost");
    EXPECT_FALSE(output.IsConsoleOpen());

    EXPECT_EQ(ApplyDebugConsoleSwitch("updater.exe -DEBUG_CONSOLE").mAction, Action::OpenConsole);
    EXPECT_TRUE(output.IsConsoleOpen());
}

} // namespace
} // namespace ZT
