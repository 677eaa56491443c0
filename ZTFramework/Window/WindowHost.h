#pragma once
// The platform window of a control tree, on SDL2: it makes the window, draws the tree with the
// painter into a Cairo image surface and copies the changed parts to the window, turns SDL's
// mouse, keyboard, window and drop events into the tree's input (CWindowInput) and the
// application's exit requests, and runs the event loop of the user-interface thread.
//
// The loop sleeps in SDL_WaitEvent. Whatever must wake it comes as an SDL user event: a post
// into an empty notification queue (the notification wake hook), a second copy of the program
// handing over its command line (a watched descriptor), or a request from another thread
// (PostQuit). After each batch of events it runs the framework's idle step and repaints only the
// areas the tree asked for (LRootWindow::TakeInvalidAreas). An idle window thus uses no CPU.
//
// Logical size: the tree is laid out in logical pixels; at a display scale of 2 (see
// DisplayScale) the surface has twice as many pixels each way and Cairo draws scaled.
//
// The host implements IWindowServices for its tree and hands it to its LRootWindow; it takes it
// back before it goes.
//
// Needs an initialised CSdlVideo. Threads: the user-interface thread's, except PostQuit.

#include "ZTFramework/ControlBase/Layout.h"
#include "ZTFramework/ControlBase/RootWindow.h"
#include "ZTFramework/ControlBase/WindowServices.h"
#include "ZTFramework/Errors/Result.h"
#include "ZTFramework/ObjectBase/RCPtr.h"
#include "ZTFramework/Window/DisplayScale.h"
#include "ZTFramework/Window/WindowInput.h"

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <ctime>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <thread>

struct SDL_Window;
struct SDL_Cursor;
union SDL_Event;
typedef struct _cairo_surface cairo_surface_t;

namespace ZT {

class LControl;
class LControlPainter;
class LFrameworkApp;

class CWindowHost final : public IWindowServices {
public:
    struct Options {
        std::string mClassName;       // for the window manager (the X11 class)
        WString mCaption;             // the first caption
        Rect mPlace;                  // logical pixels; a position below 0 centres the window
        bool mResizable = false;
        // The icon as PNG bytes (empty: none), set once the window has shown its first frame.
        std::span<const std::uint8_t> mIconPng;
        // A PNG file to write the first painted frame to (empty: none), at the first paint that
        // happens frameDelayMs or later after the window was shown; the loop ends after it
        // when endAfterFrame.
        std::string mFrameFile;
        std::uint32_t mFrameDelayMs = 0;
        bool mEndAfterFrame = false;
        // Shown? False keeps the window hidden (tests of the tree without a visible window).
        bool mShown = true;
    };

    // Counters of the loop, for tests and benchmarks: how often SDL_WaitEvent returned, how often
    // the tree was painted, and the events handled: the host's own (wake hook, posted actions,
    // quit, descriptor) and the window system's (input, window, drop).
    struct Counters {
        std::uint64_t mWakeUps = 0;
        std::uint64_t mPaints = 0;
        std::uint64_t mOwnEvents = 0;
        std::uint64_t mSystemEvents = 0;
    };

    CWindowHost(LFrameworkApp& application, RCPtr<LControl> root, RCPtr<LControlPainter> painter);
    ~CWindowHost();
    CWindowHost(const CWindowHost&) = delete;
    CWindowHost& operator=(const CWindowHost&) = delete;

    // Makes the window (hidden until Show), its surface and root window, lays the tree out and
    // installs the notification wake hook. E_FAIL with why in error when SDL refuses.
    [[nodiscard]] ZTRESULT Create(const Options& options, std::string& error);
    void Show();
    // Brings the window to the front, restoring it when it is minimised.
    void Raise();

    // Runs the loop until an approved exit request, EndLoop or PostQuit (also one that came
    // before Run: then Run returns at once).
    void Run();
    // Ends Run after the current batch of events (the user-interface thread).
    void EndLoop() noexcept { mEndLoop = true; }
    // Ends Run from any thread.
    void PostQuit();
    // Ends Run after the first idle step at which allowed returns true (checked now, and after
    // every idle step from now on): a termination signal waits for a running download this way.
    void EndWhenAllowed(std::function<bool()> allowed);
    // Wakes the loop from any thread and calls action on the user-interface thread.
    void PostToLoop(std::function<void()> action);

    // Watches descriptor for reading while the loop runs (on a thread of its own, which sleeps
    // in poll); onReadable runs on the user-interface thread and must read what is waiting.
    void WatchDescriptor(int descriptor, std::function<void()> onReadable);

    // Paints the areas the tree asked for and shows them. True when anything was painted.
    bool PaintInvalidAreas();
    // The current frame as a PNG file. False when it cannot be written. With shownAt, the file's
    // modification time is that moment (when the frame reached the screen), so that whoever times
    // the window's start by the file learns when the frame showed, not how long it took to encode.
    [[nodiscard]] bool WriteFrame(const std::string& path, const std::optional<timespec>& shownAt = std::nullopt) const;

    [[nodiscard]] LRootWindow& GetRootWindow() const noexcept { return *mRootWindow; }
    [[nodiscard]] CWindowInput& GetInput() noexcept { return *mInput; }
    [[nodiscard]] const DisplayScale& GetScale() const noexcept { return mScale; }
    [[nodiscard]] SDL_Window* GetSdlWindow() const noexcept { return mWindow; }
    [[nodiscard]] Counters GetCounters() const noexcept { return mCounters; }
    // The logical client size.
    [[nodiscard]] SizeT GetClientSize() const noexcept { return mClient; }
    // Pixel size of the frame surface.
    [[nodiscard]] SizeT GetFrameSize() const noexcept;

    // One event as the loop handles it (tests feed synthetic events through here or through
    // SDL_PushEvent).
    void HandleEvent(const SDL_Event& event);

    // ---- IWindowServices
    WString SetCursor(const WString& cursorName) override;
    void RepaintNow() override;
    void SetCaption(const WString& caption) override;
    bool ShowMessageBox(const WString& text, const WString& caption, MessageBoxIcon icon,
                        MessageBoxButtons buttons) override;
    // The desktop's chooser (LFileDialog: the portal, else zenity), modal for this window.
    [[nodiscard]] RCPtr<IFileChooser> CreateFileChooser() override;
    // The loop of Run without its exits: a quit, EndLoop or approved exit request that arrives
    // meanwhile is kept for Run. done is asked every kModalPollMs as well as after each batch.
    bool RunModalUntil(const std::function<bool()>& done) override;
    static constexpr int kModalPollMs = 50;
    // Kept in the host; the loops (Run, RunModalUntil) sleep until the earliest is due.
    bool StartTimer(std::uint32_t ms, std::function<void()> onDue) override;

    // In a build with assert() on, a turn of the loop (its events, the idle step and the paint)
    // that takes longer than this writes one debug line ("Window: one turn of the event loop
    // took 140 ms"): the user-interface thread must never block.
    static constexpr std::uint64_t kSlowTurnMs = 100;

private:
    void HandleWindowEvent(const SDL_Event& event);
    void HandleKey(const SDL_Event& event);
    void HandleUserEvent(const SDL_Event& event);
    void PresentAll();
    void Present(const Rect& logicalArea);
    void TakeFrameIfDue();
    // Decodes mOptions.mIconPng and gives it to the window, once (Show, after the first frame).
    void SetIcon();
    void StopWatching();
    // Waits for the next event, at most until the earliest timer is due (no timer: no limit, or
    // limitMs when it is not negative). True with event filled when one came.
    bool WaitForEvent(SDL_Event& event, int limitMs);
    // Calls the timers that are due, in the order they fall due.
    void RunDueTimers();
    // The watchdog's check of one turn that began at startMs (SDL ticks).
    void CheckTurn(std::uint64_t startMs) const;
    [[nodiscard]] bool RecreateSurface();

    LFrameworkApp& mApplication;
    RCPtr<LControl> mRoot;
    RCPtr<LControlPainter> mPainter;
    RCPtr<LRootWindow> mRootWindow;
    std::unique_ptr<CWindowInput> mInput;
    Options mOptions;
    SDL_Window* mWindow = nullptr;
    cairo_surface_t* mSurface = nullptr;
    SDL_Cursor* mArrowCursor = nullptr;
    SDL_Cursor* mWaitCursor = nullptr;
    WString mCursorName;
    DisplayScale mScale;
    SizeT mClient;
    std::uint32_t mUserEventType = 0;
    std::function<bool()> mEndWhenAllowed;
    bool mEndLoop = false;
    bool mHookInstalled = false;
    bool mFrameTaken = false;
    bool mIconSet = false;
    int mFrameTimer = 0; // SDL_TimerID of the frame's delay, 0 when none runs
    std::uint64_t mShownAtMs = 0;
    Counters mCounters;

    // The timers, by the SDL tick at which each is due.
    std::multimap<std::uint64_t, std::function<void()>> mTimers;

    // Posted actions, taken by the user-interface thread.
    std::mutex mActionMutex;
    std::vector<std::function<void()>> mActions;

    // The descriptor watch.
    std::thread mWatcher;
    int mStopPipe[2] = {-1, -1};
    std::function<void()> mOnReadable;
    std::mutex mWatchMutex;
    std::condition_variable mWatchHandled;
    bool mWatchPending = false;
};

} // namespace ZT
