#include "ZTFramework/Window/SdlVideo.h"

#include <SDL.h>

#include <cstdlib>
#include <string>
#include <sys/stat.h>

namespace ZT {

namespace {

bool IsSet(const char* name)
{
    const char* value = std::getenv(name);
    return value && *value;
}

constexpr const char* kComposeFileVariable = "XCOMPOSEFILE";
// Whether PrepareEnvironment set kComposeFileVariable (the user's own setting is never touched).
// The user-interface thread's.
bool gComposeFileSet = false;

constexpr const char* kBusAddressVariable = "DBUS_SESSION_BUS_ADDRESS";
// The address that tells libdbus there is no session bus, so that it launches none.
constexpr const char* kNoBusAddress = "disabled:";
// Whether PrepareEnvironment set kBusAddressVariable; the user-interface thread's.
bool gBusAddressSet = false;

// Whether libdbus would find a session bus: an address in the environment, or the socket that
// a user session's bus listens on.
bool SessionBusReachable()
{
    if (IsSet(kBusAddressVariable))
        return true;
    const char* const runtime = std::getenv("XDG_RUNTIME_DIR");
    if (!runtime || !*runtime)
        return false;
    struct stat status {};
    return ::stat((std::string(runtime) + "/bus").c_str(), &status) == 0 && S_ISSOCK(status.st_mode);
}

} // namespace

void CSdlVideo::PrepareEnvironment(const std::string& windowClassName)
{
    // The class the window manager groups and names the window by (read when SDL starts).
    if (!windowClassName.empty()) {
        (void)::setenv("SDL_VIDEO_X11_WMCLASS", windowClassName.c_str(), 0); // best effort: SDL names the window itself
        // Best effort: SDL names the window itself.
        (void)::setenv("SDL_VIDEO_WAYLAND_WMCLASS", windowClassName.c_str(), 0);
    }
    if (!gComposeFileSet && !IsSet(kComposeFileVariable))
        gComposeFileSet = ::setenv(kComposeFileVariable, "/dev/null", 1) == 0;
    if (!gBusAddressSet && !SessionBusReachable())
        gBusAddressSet = ::setenv(kBusAddressVariable, kNoBusAddress, 1) == 0;
}

void CSdlVideo::RestoreEnvironment()
{
    if (gComposeFileSet && ::unsetenv(kComposeFileVariable) == 0)
        gComposeFileSet = false;
    if (gBusAddressSet && ::unsetenv(kBusAddressVariable) == 0)
        gBusAddressSet = false;
}

bool CSdlVideo::EnvironmentNamesDisplay()
{
    return IsSet("DISPLAY") || IsSet("WAYLAND_DISPLAY");
}

CSdlVideo::CSdlVideo(const std::string& windowClassName)
{
    if (!EnvironmentNamesDisplay()) {
        mError = "no display: DISPLAY and WAYLAND_DISPLAY are not set";
        return;
    }
    SDL_SetHint(SDL_HINT_FRAMEBUFFER_ACCELERATION, "0");
    SDL_SetHint(SDL_HINT_NO_SIGNAL_HANDLERS, "1");
    const bool preparedHere = !gComposeFileSet && !gBusAddressSet;
    PrepareEnvironment(windowClassName);
    const int started = SDL_Init(SDL_INIT_VIDEO);
    if (preparedHere)
        RestoreEnvironment();
    if (started != 0) {
        mError = std::string("no display: ") + SDL_GetError();
        return;
    }
    mReady = true;
}

CSdlVideo::~CSdlVideo()
{
    if (mReady)
        SDL_Quit();
}

} // namespace ZT
