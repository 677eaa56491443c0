#include "tests/FirmwareUpdater/Panel/Clicks/WindowDriver.h"

#include "FirmwareUpdater/Panel/StartupResources.h"
#include "ZTFramework/ControlBase/Control.h"
#include "ZTFramework/ControlBase/ControlFactory.h"
#include "ZTFramework/ControlBase/Layout.h"
#include "ZTFramework/Controls/MainMenu.h"
#include "ZTFramework/Controls/Panel.h"
#include "ZTFramework/Controls/PopupMenu.h"
#include "ZTFramework/Graphics/ControlPainter.h"
#include "tests/ZTFramework/Utilities/Storage/TempFolder.h"

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XTest.h>

#include <algorithm>
#include <csignal>
#include <fcntl.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>
#include <cstdio>
#include <cstdlib>
#include <set>
#include <thread>

namespace WindowClicks {

namespace {

using Clock = std::chrono::steady_clock;
constexpr auto kPoll = std::chrono::milliseconds(20);
// Time for the program to see the pointer arrive before the button goes down, as a hand gives.
constexpr auto kHandPause = std::chrono::milliseconds(60);

ZT::RCPtr<ZT::LMainMenu> MenuOf(const ZT::RCPtr<ZT::LControl>& root)
{
    return ZT::RCPtr<ZT::LMainMenu>(dynamic_cast<ZT::LMainMenu*>(root->FindChildByName(ZT::WString(L"mainMenu")).Get()));
}

} // namespace

std::optional<std::string> TestDisplay()
{
    const char* display = std::getenv("DISPLAY");
    if (!display || !*display)
        return std::nullopt;
    return std::string(display);
}

// ---- The skin's layout ------------------------------------------------------------------------------

CSkinLayout::CSkinLayout(std::uint32_t lcid)
{
    mFactory = CStartupResources::Load(ZT::WString(L"::"), lcid);
    // Only the places matter here: the main control's class stands in as a plain panel, so
    // that no engine is needed; its children are the skin's own.
    if (!mFactory->IsControlClassRegistered(ZT::WString(L"FirmwareUpdater.MainControl")))
        (void)mFactory->RegisterControlClass(ZT::WString(L"FirmwareUpdater.MainControl"), &ZT::LPanel::Create);
    mRoot = mFactory->CreateControl(ZT::WString(L"mainControl"));
    mPainter = ZT::MakeRC<ZT::LControlPainter>(mFactory->GetResources(), ZT::WString(L"::"));
    mPainter->SetLocale(lcid);
    if (!mRoot)
        return;
    ZT::LayoutControlTree(*mRoot, {0, 0, kWidth, kHeight}, {1280, 1024}, mPainter.Get());
    // The menu bar learns where its titles are when it is painted.
    const ZT::Testing::TempFolder folder{"zt-skin-layout"};
    (void)mPainter->PaintToPng(*mRoot, {kWidth, kHeight}, 1, (folder.Path() / "layout.png").string());
}

CSkinLayout::~CSkinLayout() = default;

ZT::Rect CSkinLayout::Of(const wchar_t* name) const
{
    const ZT::RCPtr<ZT::LControl> control = mRoot ? mRoot->FindChildByName(ZT::WString(name)) : nullptr;
    return control ? control->GetAreaInWindow() : ZT::Rect{};
}

ZT::Rect CSkinLayout::MenuTitle(std::size_t menu) const
{
    const ZT::RCPtr<ZT::LMainMenu> bar = mRoot ? MenuOf(mRoot) : nullptr;
    if (!bar)
        return {};
    const ZT::Rect area = bar->GetAreaInWindow();
    int left = -1;
    int right = -1;
    for (int x = 0; x < area.GetWidth(); ++x) {
        if (bar->TitleAt(x) == static_cast<int>(menu)) {
            if (left < 0)
                left = x;
            right = x + 1;
        }
    }
    if (left < 0)
        return {};
    return {area.mLeft + left, area.mTop, area.mLeft + right, area.mBottom};
}

ZT::Rect CSkinLayout::MenuItem(std::size_t menu, std::size_t item) const
{
    const ZT::RCPtr<ZT::LMainMenu> bar = mRoot ? MenuOf(mRoot) : nullptr;
    if (!bar || ZT::Failed(bar->OpenMenu(menu)))
        return {};
    const ZT::RCPtr<ZT::LControl> popup = bar->GetOpenPopup();
    ZT::Rect area;
    if (const auto* menuControl = dynamic_cast<const ZT::LPopupMenu*>(popup.Get()))
        area = mPainter->GetMenuItemArea(*menuControl, item);
    (void)bar->OpenMenu(menu); // a second open closes it
    return area;
}

// ---- Pixels -------------------------------------------------------------------------------------------

std::size_t Pixels::CountDifferences(const Pixels& other) const
{
    if (mWidth != other.mWidth || mHeight != other.mHeight)
        return std::max(mRgb.size(), other.mRgb.size());
    std::size_t count = 0;
    for (std::size_t i = 0; i < mRgb.size(); ++i)
        count += mRgb[i] != other.mRgb[i] ? 1 : 0;
    return count;
}

std::size_t Pixels::CountColours() const
{
    return std::set<std::uint32_t>(mRgb.begin(), mRgb.end()).size();
}

// ---- The display --------------------------------------------------------------------------------------

CPrivateDisplay::CPrivateDisplay()
{
    int pipeEnds[2];
    if (::access("/usr/bin/Xvfb", X_OK) != 0 || ::pipe(pipeEnds) != 0) {
        mName = TestDisplay().value_or("");
        return;
    }
    const pid_t server = ::fork();
    if (server == 0) {
        ::close(pipeEnds[0]);
        const int devNull = ::open("/dev/null", O_RDWR);
        ::dup2(devNull, STDIN_FILENO);
        ::dup2(devNull, STDOUT_FILENO);
        ::dup2(devNull, STDERR_FILENO);
        const std::string fd = std::to_string(pipeEnds[1]);
        ::execl("/usr/bin/Xvfb", "Xvfb", "-displayfd", fd.c_str(), "-screen", "0", "1280x1024x24", "-nolisten", "tcp",
                "-noreset", static_cast<char*>(nullptr));
        ::_exit(127);
    }
    ::close(pipeEnds[1]);
    if (server < 0) {
        ::close(pipeEnds[0]);
        mName = TestDisplay().value_or("");
        return;
    }
    mServer = server;
    // Xvfb writes its number once it accepts connections.
    std::string number;
    char c = 0;
    pollfd entry{pipeEnds[0], POLLIN, 0};
    while (::poll(&entry, 1, 10000) > 0 && ::read(pipeEnds[0], &c, 1) == 1 && c != '\n')
        number += c;
    ::close(pipeEnds[0]);
    mName = number.empty() ? std::string() : ":" + number;
}

CPrivateDisplay::~CPrivateDisplay()
{
    if (mServer > 0) {
        ::kill(mServer, SIGTERM);
        int status = 0;
        (void)::waitpid(mServer, &status, 0);
    }
}

CXSession::CXSession(const std::string& display)
{
    const std::optional<std::string> name =
        display.empty() ? std::optional<std::string>() : std::optional<std::string>(display);
    if (!name) {
        mError = "no display (Xvfb is missing and DISPLAY is not set)";
        return;
    }
    // A window that goes while the test looks at it is no reason to end the test process.
    XSetErrorHandler([](Display*, XErrorEvent*) { return 0; });
    mDisplay = XOpenDisplay(name->c_str());
    if (!mDisplay) {
        mError = "cannot open the display " + *name;
        return;
    }
    int event = 0, error = 0, major = 0, minor = 0;
    if (!XTestQueryExtension(mDisplay, &event, &error, &major, &minor))
        mError = "the display " + *name + " has no XTest extension";
}

CXSession::~CXSession()
{
    if (mDisplay)
        XCloseDisplay(mDisplay);
}

bool CXSession::IsShowing(unsigned long window)
{
    XWindowAttributes attributes{};
    return mDisplay && XGetWindowAttributes(mDisplay, window, &attributes) && attributes.map_state == IsViewable;
}

std::optional<std::pair<int, int>> CXSession::SizeOf(unsigned long window)
{
    XWindowAttributes attributes{};
    if (!mDisplay || !XGetWindowAttributes(mDisplay, window, &attributes))
        return std::nullopt;
    return std::make_pair(attributes.width, attributes.height);
}

namespace {

std::vector<Window> TopWindows(Display* display)
{
    Window root = 0, parent = 0;
    Window* children = nullptr;
    unsigned count = 0;
    std::vector<Window> windows;
    if (XQueryTree(display, DefaultRootWindow(display), &root, &parent, &children, &count)) {
        windows.assign(children, children + count);
        XFree(children);
    }
    return windows;
}

std::optional<long> WindowPid(Display* display, Window window)
{
    const Atom pidAtom = XInternAtom(display, "_NET_WM_PID", True);
    if (pidAtom == None)
        return std::nullopt;
    Atom type = 0;
    int format = 0;
    unsigned long items = 0, after = 0;
    unsigned char* data = nullptr;
    std::optional<long> pid;
    if (XGetWindowProperty(display, window, pidAtom, 0, 1, False, XA_CARDINAL, &type, &format, &items, &after, &data) ==
            Success &&
        data && items == 1 && format == 32)
        pid = *reinterpret_cast<long*>(data);
    if (data)
        XFree(data);
    return pid;
}

std::string WindowTitle(Display* display, Window window)
{
    const Atom nameAtom = XInternAtom(display, "_NET_WM_NAME", True);
    const Atom utf8 = XInternAtom(display, "UTF8_STRING", True);
    std::string title;
    if (nameAtom != None && utf8 != None) {
        Atom type = 0;
        int format = 0;
        unsigned long items = 0, after = 0;
        unsigned char* data = nullptr;
        if (XGetWindowProperty(display, window, nameAtom, 0, 1024, False, utf8, &type, &format, &items, &after, &data) ==
                Success &&
            data)
            title.assign(reinterpret_cast<char*>(data), items);
        if (data)
            XFree(data);
    }
    if (title.empty()) {
        char* name = nullptr;
        if (XFetchName(display, window, &name) && name) {
            title = name;
            XFree(name);
        }
    }
    return title;
}

std::string ToHex(unsigned long value)
{
    char text[32];
    std::snprintf(text, sizeof text, "%lx", value);
    return text;
}

} // namespace

bool CXSession::WaitForWindowToGo(unsigned long window, std::chrono::milliseconds timeout)
{
    const auto deadline = Clock::now() + timeout;
    while (IsShowing(window)) {
        if (Clock::now() >= deadline)
            return false;
        std::this_thread::sleep_for(kPoll);
    }
    return true;
}

std::string CXSession::DescribeWindows()
{
    std::string text;
    if (!mDisplay)
        return text;
    for (const Window window : TopWindows(mDisplay)) {
        if (!IsShowing(window))
            continue;
        const auto size = SizeOf(window);
        text += "window 0x" + ToHex(window) + " \"" + WindowTitle(mDisplay, window) + "\" " +
                (size ? std::to_string(size->first) + "x" + std::to_string(size->second) : std::string("?")) + "\n";
    }
    return text.empty() ? "no viewable window\n" : text;
}

unsigned long CXSession::FindWindowOf(int processId, std::chrono::milliseconds timeout)
{
    if (!mDisplay)
        return 0;
    const auto deadline = Clock::now() + timeout;
    do {
        for (const Window window : TopWindows(mDisplay)) {
            if (WindowPid(mDisplay, window) != std::optional<long>(processId) || !IsShowing(window))
                continue;
            if (SizeOf(window) == std::make_pair(CSkinLayout::kWidth, CSkinLayout::kHeight))
                return window;
        }
        std::this_thread::sleep_for(kPoll);
    } while (Clock::now() < deadline);
    return 0;
}

unsigned long CXSession::FindWindowTitled(const std::string& title, std::chrono::milliseconds timeout)
{
    if (!mDisplay)
        return 0;
    const auto deadline = Clock::now() + timeout;
    do {
        for (const Window window : TopWindows(mDisplay)) {
            if (IsShowing(window) && WindowTitle(mDisplay, window) == title)
                return window;
        }
        std::this_thread::sleep_for(kPoll);
    } while (Clock::now() < deadline);
    return 0;
}

void CXSession::ClickAt(unsigned long window, const ZT::Rect& rect)
{
    if (!mDisplay)
        return;
    int x = 0, y = 0;
    Window child = 0;
    XTranslateCoordinates(mDisplay, window, DefaultRootWindow(mDisplay), (rect.mLeft + rect.mRight) / 2,
                          (rect.mTop + rect.mBottom) / 2, &x, &y, &child);
    XTestFakeMotionEvent(mDisplay, -1, x, y, CurrentTime);
    XSync(mDisplay, False);
    std::this_thread::sleep_for(kHandPause);
    XTestFakeButtonEvent(mDisplay, 1, True, CurrentTime);
    XSync(mDisplay, False);
    std::this_thread::sleep_for(kHandPause);
    XTestFakeButtonEvent(mDisplay, 1, False, CurrentTime);
    XSync(mDisplay, False);
}

void CXSession::PressKey(unsigned long window, const char* keysymName)
{
    if (!mDisplay)
        return;
    if (const auto size = SizeOf(window)) {
        int x = 0, y = 0;
        Window child = 0;
        XTranslateCoordinates(mDisplay, window, DefaultRootWindow(mDisplay), size->first / 2, size->second / 2, &x, &y,
                              &child);
        XTestFakeMotionEvent(mDisplay, -1, x, y, CurrentTime);
        // Without a window manager nobody gives the keyboard to a window that opens.
        XSetInputFocus(mDisplay, window, RevertToPointerRoot, CurrentTime);
        XSync(mDisplay, False);
        std::this_thread::sleep_for(kHandPause);
    }
    const KeyCode code = XKeysymToKeycode(mDisplay, XStringToKeysym(keysymName));
    XTestFakeKeyEvent(mDisplay, code, True, CurrentTime);
    XSync(mDisplay, False);
    std::this_thread::sleep_for(kHandPause);
    XTestFakeKeyEvent(mDisplay, code, False, CurrentTime);
    XSync(mDisplay, False);
}

Pixels CXSession::Grab(unsigned long window, const ZT::Rect& rect)
{
    Pixels pixels;
    if (!mDisplay || rect.GetWidth() <= 0 || rect.GetHeight() <= 0)
        return pixels;
    // What the screen shows there (a window above it included), as a user sees it; only the part
    // on the screen.
    int x = 0, y = 0;
    Window child = 0;
    if (!XTranslateCoordinates(mDisplay, window, DefaultRootWindow(mDisplay), rect.mLeft, rect.mTop, &x, &y, &child))
        return pixels;
    const int screenWidth = DisplayWidth(mDisplay, DefaultScreen(mDisplay));
    const int screenHeight = DisplayHeight(mDisplay, DefaultScreen(mDisplay));
    const int left = std::max(x, 0);
    const int top = std::max(y, 0);
    const int width = std::min(x + rect.GetWidth(), screenWidth) - left;
    const int height = std::min(y + rect.GetHeight(), screenHeight) - top;
    if (width <= 0 || height <= 0)
        return pixels;
    XImage* image = XGetImage(mDisplay, DefaultRootWindow(mDisplay), left, top, static_cast<unsigned>(width),
                              static_cast<unsigned>(height), AllPlanes, ZPixmap);
    if (!image)
        return pixels;
    pixels.mWidth = width;
    pixels.mHeight = height;
    pixels.mRgb.reserve(static_cast<std::size_t>(pixels.mWidth) * static_cast<std::size_t>(pixels.mHeight));
    for (int y = 0; y < pixels.mHeight; ++y) {
        for (int x = 0; x < pixels.mWidth; ++x)
            pixels.mRgb.push_back(static_cast<std::uint32_t>(XGetPixel(image, x, y) & 0xFFFFFFu));
    }
    XDestroyImage(image);
    return pixels;
}

Pixels CXSession::WaitForChange(unsigned long window, const ZT::Rect& rect, const Pixels& before, std::size_t minimum,
                                std::chrono::milliseconds timeout)
{
    const auto deadline = Clock::now() + timeout;
    Pixels now = Grab(window, rect);
    while (now.CountDifferences(before) < minimum && Clock::now() < deadline) {
        std::this_thread::sleep_for(kPoll);
        now = Grab(window, rect);
    }
    return now;
}

// ---- The program's run -------------------------------------------------------------------------------

CWindowRun::CWindowRun(UpdaterProcess::Sandbox& sandbox, std::vector<std::string> arguments,
                       std::chrono::milliseconds timeout, std::string program)
{
    if (program.empty())
        program = UpdaterProcess::BinaryPath();
    arguments.insert(arguments.begin(), program);
    mResult = std::async(std::launch::async, [this, &sandbox, program, arguments = std::move(arguments), timeout] {
        UpdaterProcess::Result result =
            sandbox.Run(program, arguments, timeout, [this](int processId, const std::string& standardError) {
                const std::lock_guard lock(mMutex);
                mProcessId = processId;
                mError = standardError;
                mChanged.notify_all();
            });
        const std::lock_guard lock(mMutex);
        mEnded = true;
        mChanged.notify_all();
        return result;
    });
}

CWindowRun::~CWindowRun()
{
    if (mResult.valid())
        (void)Finish(std::chrono::milliseconds(0));
}

bool CWindowRun::WaitForLine(const std::string& text, std::chrono::milliseconds timeout)
{
    std::unique_lock lock(mMutex);
    return mChanged.wait_for(lock, timeout, [&] {
        return mError.find(text) != std::string::npos || mEnded;
    }) && mError.find(text) != std::string::npos;
}

int CWindowRun::ProcessId() const
{
    const std::lock_guard lock(mMutex);
    return mProcessId;
}

std::string CWindowRun::StandardError() const
{
    const std::lock_guard lock(mMutex);
    return mFinished ? mFinished->StandardError : mError;
}

bool CWindowRun::EndsWithin(std::chrono::milliseconds timeout)
{
    return mFinished || (mResult.valid() && mResult.wait_for(timeout) == std::future_status::ready);
}

UpdaterProcess::Result CWindowRun::Finish(std::chrono::milliseconds wait)
{
    if (mFinished)
        return *mFinished;
    if (mResult.wait_for(wait) != std::future_status::ready) {
        if (const int processId = ProcessId(); processId > 0)
            ::kill(processId, SIGTERM);
        if (mResult.wait_for(std::chrono::seconds(20)) != std::future_status::ready) {
            if (const int processId = ProcessId(); processId > 0)
                ::kill(processId, SIGKILL);
        }
    }
    UpdaterProcess::Result result = mResult.get();
    const std::lock_guard lock(mMutex);
    mFinished = result;
    return result;
}

} // namespace WindowClicks
