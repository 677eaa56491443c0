#include "ZTFramework/Window/SdlVideo.h"

#include <SDL.h>

#include <cstdlib>

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

} // namespace

void CSdlVideo::PrepareEnvironment(const std::string& windowClassName)
{
    // The class the window manager groups and names the window by (read when SDL starts).
    if (!windowClassName.empty()) {
        (void)::setenv("SDL_VIDEO_X11_WMCLASS", windowClassName.c_str(), 0);
        (void)::setenv("SDL_VIDEO_WAYLAND_WMCLASS", windowClassName.c_str(), 0);
    }
    if (!gComposeFileSet && !IsSet(kComposeFileVariable))
        gComposeFileSet = ::setenv(kComposeFileVariable, "/dev/null", 1) == 0;
}

void CSdlVideo::RestoreEnvironment()
{
    if (gComposeFileSet && ::unsetenv(kComposeFileVariable) == 0)
        gComposeFileSet = false;
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
    const bool preparedHere = !gComposeFileSet;
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
