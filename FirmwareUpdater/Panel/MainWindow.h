#pragma once
// The updater's window: the skin's "mainControl" in a platform window of the window class
// name, with the company name as its caption and the program's icon, placed where it was last
// (see PlaceWindow), and the loop that runs until an exit request is approved.
//
// A first copy of the program listens for second copies while its window shows: a second copy's
// hand-over brings the window to the front (restored when it was minimised).
//
// What can keep the window from showing, each reported and never a crash: a skin without
// "mainControl" or with a control class nobody registered (StartupError), no display at all
// (NoDisplay: nothing named one, or SDL could not reach it), SDL refusing the window
// (StartupError).
//
// The first painted frame, or the first painted at least some milliseconds after the window
// showed, can be written to a PNG file, after which the run ends: set XR4000_NOVA_UPDATER_FRAME
// to the file and XR4000_NOVA_UPDATER_FRAME_AFTER_MS to the delay. The file's modification time
// is the moment that frame showed. Screenshots, tests and benchmarks use it.
//
// The window lives in a module of its own (MainWindow.cpp with the window host and the painter,
// "xr4000-nova-updater-window.so" beside the program), which the program loads only for a run
// that shows the window: its entry points are the two functions at the end.
//
// Threads: the user-interface thread's.

#include "ZTFramework/Application/WindowPlacement.h"
#include "ZTFramework/ControlBase/Layout.h"
#include "ZTFramework/Errors/Result.h"

#include <cstdint>
#include <optional>
#include <string>

class LApplication;
namespace ZT {
class CSingleInstance;
}

class CMainWindow {
public:
    static constexpr const char* kFrameFileVariable = "XR4000_NOVA_UPDATER_FRAME";
    static constexpr const char* kFrameDelayVariable = "XR4000_NOVA_UPDATER_FRAME_AFTER_MS";
    // The icon among the program's resources, and what stands for it while there is none.
    static constexpr const char* kIconResource = "APP_ICON_PNG";
    static constexpr const char* kIconStandInResource = "PANELMINI1_PNG";

    enum class Outcome {
        Ended,        // the window showed and the loop ended
        StartupError, // the window could not be made from the skin (Detail says why)
        NoDisplay,    // there is no display to show it on (Detail says why)
    };
    struct Result {
        Outcome mOutcome = Outcome::Ended;
        std::string mDetail;
    };

    // Shows the window of application (after its Startup; its control factory holds the loaded
    // skin) and runs the loop. instance: the single-instance name this copy holds (may be null).
    [[nodiscard]] static Result Run(LApplication& application, ZT::CSingleInstance* instance);

    // Where the window shows (logical pixels): without a saved placement the skin's place
    // (constraints.mInitial); with one, its position and, unless the skin fixes the size, its size
    // kept within the skin's minimum and maximum, all fitted to desktop (ZT::FitToDesktop, the
    // work area in logical pixels).
    [[nodiscard]] static ZT::Rect PlaceWindow(const ZT::WindowSizeConstraints& constraints, const ZT::Rect& desktop,
                                              const std::optional<ZT::WindowPlacement>& saved);
    // The placement to write back when the window closes: its frame now (logical pixels) in
    // the normal state; when it is minimised or maximised, the normal frame it last had is not
    // known to the program, so the frame it opened with (opened) is kept with that state.
    [[nodiscard]] static ZT::WindowPlacement PlacementAtClose(const ZT::Rect& frame, bool minimized, bool maximized,
                                                              const ZT::Rect& opened);
};

// The window module's entry points, looked up by these names.
extern "C" {
// CMainWindow::Run into result.
void ZtRunMainWindow(LApplication* application, ZT::CSingleInstance* instance, CMainWindow::Result* result);
// A modal error box with one OK button on the display the environment names; false when none
// could be shown. Needs nothing started.
bool ZtShowErrorBox(const char* caption, const char* text);
}
using ZtRunMainWindowFunction = decltype(&ZtRunMainWindow);
using ZtShowErrorBoxFunction = decltype(&ZtShowErrorBox);
