#pragma once
// SDL's video for one window of the program, from its start to its end: the hints the window
// needs, set before SDL starts, and SDL_Init / SDL_Quit.
//
// - The frame is drawn by Cairo in memory and copied to the window's surface, so SDL's
//   framebuffer acceleration is switched off (SDL_HINT_FRAMEBUFFER_ACCELERATION "0").
// - The program takes the termination signals itself (CTerminationSignals); SDL installs no
//   handlers of its own.
// - The window manager's class of the window is the program's window class name.
// - The window takes no typed text, only keys: the input method that SDL opens on X11 gets an
//   empty compose table (XCOMPOSEFILE=/dev/null, unless the user named a file) instead of parsing
//   the locale's, some 5700 lines (about 10 ms of every start). The variable is given back once
//   SDL has started, so that programs the window starts (the file chooser) see the user's own.
// - Where no session bus can be reached (DBUS_SESSION_BUS_ADDRESS unset and no socket at
//   $XDG_RUNTIME_DIR/bus), libdbus, which SDL opens at its start, would try to launch one for
//   the display: a fork of this multi-threaded process, whose copy-on-write faults and TLB
//   shoot-downs cost the first frame about 8 ms, and, where dbus-launch is installed, a bus
//   daemon left behind by the updater. SDL's start gets DBUS_SESSION_BUS_ADDRESS=disabled:
//   instead, given back with the compose file.
//
// The environment is read by libraries on any thread, and setenv beside a getenv is a race:
// PrepareEnvironment sets the variables before the caller starts a thread of its own, and
// RestoreEnvironment gives them back once SDL has started and that thread has ended. The
// constructor prepares them itself when the caller did not.
//
// Nothing here runs for a run without a window: query and silent runs never start SDL.
//
// Threads: the user-interface thread's; one object at a time per process.

#include <string>

namespace ZT {

class CSdlVideo {
public:
    // Starts SDL's video; IsReady tells whether it did, GetError why not.
    explicit CSdlVideo(const std::string& windowClassName);
    ~CSdlVideo();
    CSdlVideo(const CSdlVideo&) = delete;
    CSdlVideo& operator=(const CSdlVideo&) = delete;

    [[nodiscard]] bool IsReady() const noexcept { return mReady; }
    // "no display: DISPLAY and WAYLAND_DISPLAY are not set", or SDL's own reason.
    [[nodiscard]] const std::string& GetError() const noexcept { return mError; }

    // The variables SDL reads when it starts (above). windowClassName as for the constructor.
    static void PrepareEnvironment(const std::string& windowClassName);
    // Gives back what PrepareEnvironment set for SDL's start only (the compose file, the bus
    // address).
    static void RestoreEnvironment();

    // Whether the environment names a display at all (DISPLAY or WAYLAND_DISPLAY set and not
    // empty). Checked before SDL starts so that the message names the cause.
    [[nodiscard]] static bool EnvironmentNamesDisplay();

private:
    bool mReady = false;
    std::string mError;
};

} // namespace ZT
