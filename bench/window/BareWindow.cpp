// The reference for the window's start-up benchmark (scripts/bench-window.sh): the least a
// program on SDL2 and Cairo does to show one 400 x 450 window with a painted frame, the way the
// updater's window does it (Cairo image surface, copied to the window's surface, the frame also
// written as PNG when XR4000_NOVA_UPDATER_FRAME names a file, its modification time set to the
// moment the frame was shown, as the updater does), and then ends.

#include <SDL.h>
#include <cairo.h>

#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <fcntl.h>
#include <sys/stat.h>

int main()
{
    SDL_SetHint(SDL_HINT_FRAMEBUFFER_ACCELERATION, "0");
    SDL_SetHint(SDL_HINT_NO_SIGNAL_HANDLERS, "1");
    if (SDL_Init(SDL_INIT_VIDEO) != 0) {
        std::fprintf(stderr, "bare window: %s\n", SDL_GetError());
        return 1;
    }
    constexpr int kWidth = 400;
    constexpr int kHeight = 450;
    SDL_Window* window = SDL_CreateWindow("bare", 0, 0, kWidth, kHeight, SDL_WINDOW_HIDDEN | SDL_WINDOW_ALLOW_HIGHDPI);
    if (!window) {
        std::fprintf(stderr, "bare window: %s\n", SDL_GetError());
        SDL_Quit();
        return 1;
    }
    cairo_surface_t* frame = cairo_image_surface_create(CAIRO_FORMAT_RGB24, kWidth, kHeight);
    cairo_t* cr = cairo_create(frame);
    cairo_set_source_rgb(cr, 0.15, 0.15, 0.2);
    cairo_paint(cr);
    cairo_set_source_rgb(cr, 0.35, 0.35, 0.4);
    cairo_rectangle(cr, 20, 300, 360, 40);
    cairo_fill(cr);
    cairo_destroy(cr);
    cairo_surface_flush(frame);

    SDL_ShowWindow(window);
    SDL_Surface* target = SDL_GetWindowSurface(window);
    SDL_Surface* source = SDL_CreateRGBSurfaceWithFormatFrom(cairo_image_surface_get_data(frame), kWidth, kHeight, 32,
                                                             cairo_image_surface_get_stride(frame), SDL_PIXELFORMAT_RGB888);
    if (target && source) {
        SDL_BlitSurface(source, nullptr, target, nullptr);
        SDL_UpdateWindowSurface(window);
    }
    timespec shownAt{};
    (void)clock_gettime(CLOCK_REALTIME, &shownAt);
    SDL_FreeSurface(source);
    if (const char* file = std::getenv("XR4000_NOVA_UPDATER_FRAME"); file && *file) {
        cairo_surface_write_to_png(frame, file);
        const timespec times[2] = {{0, UTIME_OMIT}, shownAt};
        (void)utimensat(AT_FDCWD, file, times, 0);
    }
    cairo_surface_destroy(frame);
    SDL_DestroyWindow(window);
    SDL_Quit();
    return 0;
}
