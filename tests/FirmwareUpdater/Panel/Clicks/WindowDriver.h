#pragma once
// What the window's click tests use to act as a user on the real program in its own process:
//
// - CSkinLayout places the shipped skin's control tree with the framework's own layout and
//   painter, in the test process, for a language: where each control and menu item is in the
//   window. Nothing of the program's process is asked.
// - CXSession is a connection to the display the test runs on (Xvfb): it finds the program's
//   window by its process ID, moves the pointer and clicks through XTest, and reads the
//   window's pixels.
// - CWindowRun runs the program (UpdaterProcess::Sandbox) on a thread of its own, so that the
//   test can click while it runs, wait for lines on its standard error, and end it.
//
// Threads: each object belongs to the test's thread; CWindowRun's output is guarded.

#include "tests/FirmwareUpdater/Panel/ProcessRunner.h"
#include "ZTFramework/ControlBase/RectT.h"
#include "ZTFramework/ObjectBase/RCPtr.h"

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <future>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

typedef struct _XDisplay Display;

namespace ZT {
class LControl;
class LControlFactory;
class LControlPainter;
} // namespace ZT

namespace WindowClicks {

class CSkinLayout {
public:
    static constexpr int kWidth = 400;
    static constexpr int kHeight = 450;

    // lcid: the language whose texts the menu's titles and items are measured with.
    explicit CSkinLayout(std::uint32_t lcid = 0x0409);
    ~CSkinLayout();
    CSkinLayout(const CSkinLayout&) = delete;
    CSkinLayout& operator=(const CSkinLayout&) = delete;

    // Where the main control's child of that name lies in the window; empty when the skin has
    // none.
    [[nodiscard]] ZT::Rect Of(const wchar_t* name) const;
    // The title of menu index in the menu bar, and item of that menu once it is open.
    [[nodiscard]] ZT::Rect MenuTitle(std::size_t menu) const;
    [[nodiscard]] ZT::Rect MenuItem(std::size_t menu, std::size_t item) const;

private:
    ZT::RCPtr<ZT::LControlFactory> mFactory;
    ZT::RCPtr<ZT::LControl> mRoot;
    ZT::RCPtr<ZT::LControlPainter> mPainter;
};

// The pixels of a rectangle of a window, 0xRRGGBB each, row by row.
struct Pixels {
    int mWidth = 0;
    int mHeight = 0;
    std::vector<std::uint32_t> mRgb;
    [[nodiscard]] bool operator==(const Pixels&) const = default;
    // How many pixels differ from other (of the same size; every pixel when the sizes differ).
    [[nodiscard]] std::size_t CountDifferences(const Pixels& other) const;
    [[nodiscard]] std::size_t CountColours() const;
};

// A display of the test's own: a private Xvfb that numbers itself (-displayfd), so that tests
// running beside each other never click into each other's windows. Without Xvfb the display the
// test runs on serves (maybe none).
class CPrivateDisplay {
public:
    CPrivateDisplay();
    ~CPrivateDisplay();
    CPrivateDisplay(const CPrivateDisplay&) = delete;
    CPrivateDisplay& operator=(const CPrivateDisplay&) = delete;
    // ":7", or empty when there is no display at all.
    [[nodiscard]] const std::string& GetName() const noexcept { return mName; }

private:
    int mServer = 0;
    std::string mName;
};

class CXSession {
public:
    explicit CXSession(const std::string& display);
    ~CXSession();
    CXSession(const CXSession&) = delete;
    CXSession& operator=(const CXSession&) = delete;

    // Empty, or why the display or its XTest extension cannot be used.
    [[nodiscard]] const std::string& GetError() const noexcept { return mError; }

    // The viewable top-level window of the process, the size of the skin's window; 0 when none
    // shows within timeout.
    [[nodiscard]] unsigned long FindWindowOf(int processId, std::chrono::milliseconds timeout);
    // A window whose title (_NET_WM_NAME or WM_NAME) is title and that is not window; 0 when
    // none shows within timeout.
    [[nodiscard]] unsigned long FindWindowTitled(const std::string& title, std::chrono::milliseconds timeout);
    [[nodiscard]] bool IsShowing(unsigned long window);
    // True once window is no longer viewable (closed or unmapped) within timeout.
    [[nodiscard]] bool WaitForWindowToGo(unsigned long window, std::chrono::milliseconds timeout);
    // The viewable top-level windows with their titles and sizes, for failure messages.
    [[nodiscard]] std::string DescribeWindows();
    // Its width and height.
    [[nodiscard]] std::optional<std::pair<int, int>> SizeOf(unsigned long window);

    // Moves the pointer to the centre of rect (window coordinates) and clicks the left button.
    void ClickAt(unsigned long window, const ZT::Rect& rect);
    // Presses and releases a key (its keysym's name, "Return") with the pointer over window, which
    // then has the keyboard (the display's focus follows the pointer when no window manager runs).
    void PressKey(unsigned long window, const char* keysymName);

    [[nodiscard]] Pixels Grab(unsigned long window, const ZT::Rect& rect);
    // Waits until the pixels of rect differ from before in at least minimum pixels; the last grab.
    Pixels WaitForChange(unsigned long window, const ZT::Rect& rect, const Pixels& before, std::size_t minimum,
                         std::chrono::milliseconds timeout);

private:
    Display* mDisplay = nullptr;
    std::string mError;
};

class CWindowRun {
public:
    // program: the updater binary to run (a copy elsewhere, for instance); empty for the build's.
    // The program gets the sandbox's DISPLAY.
    CWindowRun(UpdaterProcess::Sandbox& sandbox, std::vector<std::string> arguments,
               std::chrono::milliseconds timeout = std::chrono::seconds(120), std::string program = {});
    ~CWindowRun();
    CWindowRun(const CWindowRun&) = delete;
    CWindowRun& operator=(const CWindowRun&) = delete;

    // True once text appeared on standard error within timeout.
    [[nodiscard]] bool WaitForLine(const std::string& text, std::chrono::milliseconds timeout);
    [[nodiscard]] int ProcessId() const;
    [[nodiscard]] std::string StandardError() const;
    // Whether the process has ended within timeout.
    [[nodiscard]] bool EndsWithin(std::chrono::milliseconds timeout);
    // The result; a process still running after wait is sent SIGTERM (the window's way out
    // once no download runs) and then waited for.
    [[nodiscard]] UpdaterProcess::Result Finish(std::chrono::milliseconds wait = std::chrono::seconds(10));

private:
    mutable std::mutex mMutex;
    std::condition_variable mChanged;
    std::string mError;
    int mProcessId = 0;
    bool mEnded = false;
    std::future<UpdaterProcess::Result> mResult;
    std::optional<UpdaterProcess::Result> mFinished;
};

// The display the test runs on, or nothing.
[[nodiscard]] std::optional<std::string> TestDisplay();

} // namespace WindowClicks
