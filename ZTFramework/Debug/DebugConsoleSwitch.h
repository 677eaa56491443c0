#pragma once
// The start-up switch of the debug output, read from the process's command line:
//
//   -DEBUG_CONSOLE               route the debug log streams to standard error
//   -DEBUG_CONSOLE:port          send debug text as UDP datagrams to port on this machine
//   -DEBUG_CONSOLE:port:host     ... to port on host
//
// The searches are case-sensitive substring searches (the application shell upper-cases the
// command line first). The port text runs from after "-DEBUG_CONSOLE:" to the first ":" after
// it (or to the first blank when there is no ":"), and must be at least two characters long;
// otherwise the switch does nothing. The host ends at the first blank.

#include <string>
#include <string_view>

namespace ZT {

struct DebugConsoleSwitch {
    enum class Action {
        None,        // no "-DEBUG_CONSOLE" in the command line
        OpenConsole, // "-DEBUG_CONSOLE" without ":"
        SetTarget,   // port (and host when mHasHost) to send to
        Ignored,     // "-DEBUG_CONSOLE:" with a port text shorter than two characters
    };

    Action mAction = Action::None;
    int mPort = 0;
    bool mHasHost = false;
    std::string mHost;

    bool operator==(const DebugConsoleSwitch&) const = default;
};

const char* ToString(DebugConsoleSwitch::Action action);

// Reads the switch without applying it.
[[nodiscard]] DebugConsoleSwitch ParseDebugConsoleSwitch(std::string_view commandLine);
// Reads the switch and applies it to DebugOutput: opens the console or sets the target (without
// a host, the stored host stays as it is). Returns what it did.
DebugConsoleSwitch ApplyDebugConsoleSwitch(std::string_view commandLine);

} // namespace ZT
