#pragma once
// How many surface pixels the window draws per logical pixel, and how mouse positions map back.
//
// Two ways lead to a scale of 2. A platform that scales windows itself (Wayland with
// SDL_WINDOW_ALLOW_HIGHDPI) reports a drawable larger than the window: the window keeps its
// logical size, the drawable size / window size is the scale, and mouse positions arrive in
// logical pixels. Under X11 the drawable always equals the window; there the desktop's own scale
// setting (the environment variable GDK_SCALE, an integer) is honoured: the window is made that
// many times larger in pixels, and mouse positions are divided by it.
//
// Threads: any; pure.

#include <string_view>

namespace ZT {

struct DisplayScale {
    // The largest scale the window draws at; larger values are taken as this.
    static constexpr int kMaxScale = 4;

    int mPixelScale = 1;   // surface pixels per logical pixel
    int mWindowFactor = 1; // window pixels per logical pixel when the platform does not scale
    int mMouseDivisor = 1; // what mouse positions are divided by to be logical

    // The override an environment asks for: GDK_SCALE's value as a whole number 1..kMaxScale,
    // else 1 (unset, empty, not a number, zero or negative). Larger numbers give kMaxScale.
    [[nodiscard]] static int FromEnvironment(const char* gdkScale) noexcept;
    // Before the window exists: the override decides how large it is made.
    [[nodiscard]] static DisplayScale ForNewWindow(int environmentScale) noexcept;
    // Once it exists: windowWidth in the platform's window units, drawableWidth in pixels.
    [[nodiscard]] static DisplayScale ForWindow(int windowWidth, int drawableWidth, int environmentScale) noexcept;
};

} // namespace ZT
