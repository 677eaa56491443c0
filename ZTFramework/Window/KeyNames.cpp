#include "ZTFramework/Window/KeyNames.h"

#include <SDL.h>

#include <string>

namespace ZT {

namespace {

std::string BaseName(SDL_Keycode key)
{
    if (key >= SDLK_a && key <= SDLK_z)
        return std::string(1, static_cast<char>('A' + (key - SDLK_a)));
    if (key >= SDLK_0 && key <= SDLK_9)
        return std::string(1, static_cast<char>('0' + (key - SDLK_0)));
    if (key >= SDLK_F1 && key <= SDLK_F12)
        return "F" + std::to_string(1 + (key - SDLK_F1));
    switch (key) {
    case SDLK_ESCAPE:
        return "ESCAPE";
    case SDLK_RETURN:
    case SDLK_KP_ENTER:
        return "RETURN";
    case SDLK_TAB:
        return "TAB";
    case SDLK_SPACE:
        return "SPACE";
    case SDLK_BACKSPACE:
        return "BACK";
    case SDLK_DELETE:
        return "DELETE";
    case SDLK_INSERT:
        return "INSERT";
    case SDLK_HOME:
        return "HOME";
    case SDLK_END:
        return "END";
    case SDLK_PAGEUP:
        return "PRIOR";
    case SDLK_PAGEDOWN:
        return "NEXT";
    case SDLK_LEFT:
        return "LEFT";
    case SDLK_RIGHT:
        return "RIGHT";
    case SDLK_UP:
        return "UP";
    case SDLK_DOWN:
        return "DOWN";
    default:
        return {};
    }
}

} // namespace

WString KeyNameForSdlKey(std::int32_t keycode, std::uint32_t modifiers)
{
    const std::string base = BaseName(static_cast<SDL_Keycode>(keycode));
    if (base.empty())
        return WString();
    std::string name;
    if (modifiers & KMOD_CTRL)
        name += "Ctrl+";
    if (modifiers & KMOD_SHIFT)
        name += "Shift+";
    if (modifiers & KMOD_ALT)
        name += "Alt+";
    name += "VKEY_" + base;
    return WString(name.c_str());
}

} // namespace ZT
