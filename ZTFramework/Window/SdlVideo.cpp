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

} // namespace

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
    // The class the window manager groups and names the window by (read when SDL starts).
    if (!windowClassName.empty()) {
        (void)::setenv("SDL_VIDEO_X11_WMCLASS", windowClassName.c_str(), 0);
        (void)::setenv("SDL_VIDEO_WAYLAND_WMCLASS", windowClassName.c_str(), 0);
    }
    if (SDL_Init(SDL_INIT_VIDEO) != 0) {
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
