#include "ZTFramework/Debug/DebugConsoleSwitch.h"

#include "ZTFramework/Debug/DebugOutput.h"

#include <cerrno>
#include <climits>
#include <cstdlib>

namespace ZT {

namespace {

constexpr std::string_view kSwitch = "-DEBUG_CONSOLE";
constexpr std::string_view kSwitchWithTarget = "-DEBUG_CONSOLE:";

// atoi's reading of a port text (leading blanks, a sign, then digits; anything else ends it),
// clamped to the int range instead of overflowing.
int PortFromText(std::string_view text)
{
    const std::string terminated(text);
    errno = 0;
    const long value = std::strtol(terminated.c_str(), nullptr, 10);
    if (value > INT_MAX)
        return INT_MAX;
    if (value < INT_MIN)
        return INT_MIN;
    return static_cast<int>(value);
}

} // namespace

const char* ToString(DebugConsoleSwitch::Action action)
{
    switch (action) {
    case DebugConsoleSwitch::Action::None:
        return "None";
    case DebugConsoleSwitch::Action::OpenConsole:
        return "OpenConsole";
    case DebugConsoleSwitch::Action::SetTarget:
        return "SetTarget";
    case DebugConsoleSwitch::Action::Ignored:
        return "Ignored";
    }
    return "?";
}

DebugConsoleSwitch ParseDebugConsoleSwitch(std::string_view commandLine)
{
    DebugConsoleSwitch result;
    if (commandLine.find(kSwitch) == std::string_view::npos)
        return result;
    const std::size_t found = commandLine.find(kSwitchWithTarget);
    if (found == std::string_view::npos) {
        result.mAction = DebugConsoleSwitch::Action::OpenConsole;
        return result;
    }

    const std::size_t start = found + kSwitchWithTarget.size();
    std::size_t end = commandLine.find(' ', start);
    if (end == std::string_view::npos)
        end = commandLine.size();
    // The first ":" may lie past the blank that ends the switch; the port text then runs up to
    // it, and atoi's reading stops at the blank anyway.
    std::size_t colon = commandLine.find(':', start);
    if (colon == std::string_view::npos)
        colon = end;

    if (colon <= start + 1) {
        result.mAction = DebugConsoleSwitch::Action::Ignored;
        return result;
    }
    result.mAction = DebugConsoleSwitch::Action::SetTarget;
    result.mPort = PortFromText(commandLine.substr(start, colon - start));
    if (colon + 1 < end) {
        result.mHasHost = true;
        result.mHost = std::string(commandLine.substr(colon + 1, end - colon - 1));
    }
    return result;
}

DebugConsoleSwitch ApplyDebugConsoleSwitch(std::string_view commandLine)
{
    const DebugConsoleSwitch parsed = ParseDebugConsoleSwitch(commandLine);
    DebugOutput& output = DebugOutput::Instance();
    switch (parsed.mAction) {
    case DebugConsoleSwitch::Action::None:
    case DebugConsoleSwitch::Action::Ignored:
        break;
    case DebugConsoleSwitch::Action::OpenConsole:
        output.OpenConsole();
        break;
    case DebugConsoleSwitch::Action::SetTarget:
        output.SetTarget(parsed.mHasHost ? parsed.mHost.c_str() : nullptr, parsed.mPort);
        break;
    }
    return parsed;
}

} // namespace ZT
