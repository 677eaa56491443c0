#include "ZTFramework/Window/WindowHost.h"

#include "ZTFramework/Application/FrameworkApp.h"
#include "ZTFramework/ControlBase/Control.h"
#include "ZTFramework/Debug/DebugLine.h"
#include "ZTFramework/Dialogs/FileDialog.h"
#include "ZTFramework/Graphics/ControlPainter.h"
#include "ZTFramework/Notification/NotificationWakeHook.h"
#include "ZTFramework/Window/KeyNames.h"

#include <SDL.h>
#include <cairo.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

namespace ZT {

namespace {

// Codes of the one user event type the host registers.
enum UserEventCode : Sint32 { kWakeCode = 1, kActionCode = 2, kQuitCode = 3, kDescriptorCode = 4 };

constexpr const wchar_t* kWaitCursorName = L"UI_CURSOR_WAIT";
constexpr const wchar_t* kArrowCursorName = L"UI_CURSOR_ARROW";
// How long the descriptor watcher waits before it wakes the loop again when SDL's queue took no
// event (full, or filtered out).
constexpr auto kWatchRetryDelay = std::chrono::milliseconds(20);

std::uint32_t ModifiersOf(SDL_Keymod mod) noexcept
{
    std::uint32_t modifiers = 0;
    if (mod & KMOD_SHIFT)
        modifiers |= LMouseEvent::kShift;
    if (mod & KMOD_CTRL)
        modifiers |= LMouseEvent::kControl;
    if (mod & KMOD_ALT)
        modifiers |= LMouseEvent::kAlt;
    return modifiers;
}

LMouseEvent::Button ButtonOf(Uint8 button) noexcept
{
    switch (button) {
    case SDL_BUTTON_LEFT:
        return LMouseEvent::Button::Left;
    case SDL_BUTTON_MIDDLE:
        return LMouseEvent::Button::Middle;
    case SDL_BUTTON_RIGHT:
        return LMouseEvent::Button::Right;
    default:
        return LMouseEvent::Button::None;
    }
}

// The bounding box of the areas, clipped to the client: one paint per round is cheaper than one
// per control once a round has several, and costs nothing visible.
Rect Unite(const std::vector<Rect>& areas, const SizeT& client)
{
    Rect box = areas.front();
    for (const Rect& area : areas) {
        box.mLeft = std::min(box.mLeft, area.mLeft);
        box.mTop = std::min(box.mTop, area.mTop);
        box.mRight = std::max(box.mRight, area.mRight);
        box.mBottom = std::max(box.mBottom, area.mBottom);
    }
    box.mLeft = std::max(box.mLeft, 0);
    box.mTop = std::max(box.mTop, 0);
    box.mRight = std::min(box.mRight, client.mWidth);
    box.mBottom = std::min(box.mBottom, client.mHeight);
    return box;
}

cairo_status_t ReadPng(void* closure, unsigned char* data, unsigned int length)
{
    auto* bytes = static_cast<std::span<const std::uint8_t>*>(closure);
    if (bytes->size() < length)
        return CAIRO_STATUS_READ_ERROR;
    std::memcpy(data, bytes->data(), length);
    *bytes = bytes->subspan(length);
    return CAIRO_STATUS_SUCCESS;
}

} // namespace

CWindowHost::CWindowHost(LFrameworkApp& application, RCPtr<LControl> root, RCPtr<LControlPainter> painter)
    : mApplication(application), mRoot(std::move(root)), mPainter(std::move(painter)),
      mCursorName(kArrowCursorName)
{
}

CWindowHost::~CWindowHost()
{
    StopWatching();
    if (mFrameTimer != 0)
        (void)SDL_RemoveTimer(mFrameTimer); // one already ended is fine
    if (mHookInstalled)
        (void)SetNotificationWakeHook({}); // the hook it replaces is this window's
    if (mInput)
        mInput->Reset();
    if (mRootWindow) {
        mApplication.RemoveRootWindow(mRootWindow.Get());
        mRootWindow->SetWindowServices(nullptr);
        mRootWindow = nullptr; // lets the tree go with the window
    }
    mInput.reset();
    if (mSurface)
        cairo_surface_destroy(mSurface);
    if (mArrowCursor)
        SDL_FreeCursor(mArrowCursor);
    if (mWaitCursor)
        SDL_FreeCursor(mWaitCursor);
    if (mWindow)
        SDL_DestroyWindow(mWindow);
}

SizeT CWindowHost::GetFrameSize() const noexcept
{
    if (!mSurface)
        return {};
    return {cairo_image_surface_get_width(mSurface), cairo_image_surface_get_height(mSurface)};
}

ZTRESULT CWindowHost::Create(const Options& options, std::string& error)
{
    if (!mRoot || mWindow) {
        error = "the window has no control tree or exists already";
        return E_FAIL;
    }
    mOptions = options;
    mClient = {options.mPlace.GetWidth(), options.mPlace.GetHeight()};
    if (mClient.mWidth <= 0 || mClient.mHeight <= 0) {
        error = "the window's size is empty";
        return E_INVALIDARG;
    }
    mUserEventType = SDL_RegisterEvents(1);
    if (mUserEventType == static_cast<std::uint32_t>(-1)) {
        error = std::string("no SDL user event: ") + SDL_GetError();
        return E_FAIL;
    }

    // Under X11 the desktop's scale setting makes the window larger in pixels; elsewhere the
    // platform scales a logical-size window itself (see DisplayScale).
    const char* const driver = SDL_GetCurrentVideoDriver();
    const bool x11 = driver && std::strcmp(driver, "x11") == 0;
    const int environmentScale = x11 ? DisplayScale::FromEnvironment(std::getenv("GDK_SCALE")) : 1;
    const DisplayScale planned = DisplayScale::ForNewWindow(environmentScale);
    Uint32 flags = SDL_WINDOW_HIDDEN | SDL_WINDOW_ALLOW_HIGHDPI;
    if (options.mResizable)
        flags |= SDL_WINDOW_RESIZABLE;
    const int x = options.mPlace.mLeft < 0 ? static_cast<int>(SDL_WINDOWPOS_CENTERED) : options.mPlace.mLeft * planned.mWindowFactor;
    const int y = options.mPlace.mTop < 0 ? static_cast<int>(SDL_WINDOWPOS_CENTERED) : options.mPlace.mTop * planned.mWindowFactor;
    mWindow = SDL_CreateWindow(options.mCaption.ToUTF8().c_str(), x, y, mClient.mWidth * planned.mWindowFactor,
                               mClient.mHeight * planned.mWindowFactor, flags);
    if (!mWindow) {
        error = std::string("the window could not be made: ") + SDL_GetError();
        return E_FAIL;
    }
    int windowWidth = 0, windowHeight = 0, drawableWidth = 0, drawableHeight = 0;
    SDL_GetWindowSize(mWindow, &windowWidth, &windowHeight);
    SDL_GetWindowSizeInPixels(mWindow, &drawableWidth, &drawableHeight);
    mScale = DisplayScale::ForWindow(windowWidth, drawableWidth, environmentScale);
    if (!RecreateSurface()) {
        error = "no memory for the window's frame";
        return E_OUTOFMEMORY;
    }

    mRootWindow = MakeRC<LRootWindow>();
    mRootWindow->SetWindowServices(this);
    const ZTRESULT attached = mRootWindow->SetRootControl(mRoot);
    if (Failed(attached)) {
        error = "the control tree could not join the window: " + ResultToText(attached);
        return attached;
    }
    SDL_DisplayMode desktop{};
    const int display = std::max(0, SDL_GetWindowDisplayIndex(mWindow));
    SizeT screen = mClient;
    if (SDL_GetDesktopDisplayMode(display, &desktop) == 0)
        screen = {desktop.w / mScale.mWindowFactor, desktop.h / mScale.mWindowFactor};
    LayoutControlTree(*mRoot, Rect{0, 0, mClient.mWidth, mClient.mHeight}, screen, mPainter.Get());
    mInput = std::make_unique<CWindowInput>(mRoot);
    mApplication.AddRootWindow(mRootWindow.Get());
    mRootWindow->InvalidateArea(Rect{0, 0, mClient.mWidth, mClient.mHeight});

    // From here a post from any thread wakes the loop; what was posted before is delivered by
    // the first idle step of Run.
    const std::uint32_t type = mUserEventType;
    (void)SetNotificationWakeHook([type] { // replaces any earlier hook: the window's loop is the one to wake
        SDL_Event wake{};
        wake.type = type;
        wake.user.code = kWakeCode;
        (void)SDL_PushEvent(&wake); // a full queue already holds wake-ups
    });
    mHookInstalled = true;
    return S_OK;
}

bool CWindowHost::RecreateSurface()
{
    if (mSurface)
        cairo_surface_destroy(mSurface);
    mSurface = cairo_image_surface_create(CAIRO_FORMAT_RGB24, mClient.mWidth * mScale.mPixelScale,
                                          mClient.mHeight * mScale.mPixelScale);
    return cairo_surface_status(mSurface) == CAIRO_STATUS_SUCCESS;
}

void CWindowHost::Show()
{
    if (!mWindow)
        return;
    if (mOptions.mShown) {
        SDL_ShowWindow(mWindow);
        SDL_RaiseWindow(mWindow);
    }
    mShownAtMs = SDL_GetTicks64();
    (void)PaintInvalidAreas(); // whether anything was painted
    // The icon only serves the window manager's lists and switcher: decoded and sent after the
    // first frame, it no longer holds that frame back (some 4 ms).
    SetIcon();
}

void CWindowHost::SetIcon()
{
    if (mIconSet || !mWindow || mOptions.mIconPng.empty())
        return;
    mIconSet = true;
    std::span<const std::uint8_t> bytes = mOptions.mIconPng;
    cairo_surface_t* icon = cairo_image_surface_create_from_png_stream(&ReadPng, &bytes);
    if (cairo_surface_status(icon) == CAIRO_STATUS_SUCCESS) {
        cairo_surface_flush(icon);
        SDL_Surface* surface = SDL_CreateRGBSurfaceWithFormatFrom(
            cairo_image_surface_get_data(icon), cairo_image_surface_get_width(icon),
            cairo_image_surface_get_height(icon), 32, cairo_image_surface_get_stride(icon), SDL_PIXELFORMAT_ARGB8888);
        if (surface) {
            SDL_SetWindowIcon(mWindow, surface);
            SDL_FreeSurface(surface);
        }
    } else {
        DebugLine("Window: the icon does not decode; the window has none");
    }
    cairo_surface_destroy(icon);
}

void CWindowHost::Raise()
{
    if (!mWindow)
        return;
    if (SDL_GetWindowFlags(mWindow) & SDL_WINDOW_MINIMIZED)
        SDL_RestoreWindow(mWindow);
    SDL_ShowWindow(mWindow);
    SDL_RaiseWindow(mWindow);
}

void CWindowHost::Run()
{
    // Whatever was posted before the hook was installed.
    (void)mApplication.ProcessNotifications(true);
    (void)PaintInvalidAreas(); // whether anything was painted
    while (!mEndLoop && !mApplication.IsExitApproved()) {
        SDL_Event event;
        const bool got = WaitForEvent(event, -1);
        if (!got && mTimers.empty()) {
            CDebugLine() << "Window: waiting for events failed: " << SDL_GetError();
            break;
        }
        const std::uint64_t turnStart = SDL_GetTicks64();
        if (got) {
            ++mCounters.mWakeUps;
            do {
                HandleEvent(event);
            } while (!mEndLoop && SDL_PollEvent(&event));
        }
        RunDueTimers();
        // The idle step: what the engine posted, then each window's own queue. More waiting
        // means the wake hook has already pushed the next round's event.
        (void)mApplication.ProcessNotifications(true);
        (void)PaintInvalidAreas(); // whether anything was painted
        if (mEndWhenAllowed && mEndWhenAllowed())
            mEndLoop = true;
        CheckTurn(turnStart);
    }
    // An end asked for before Run (the frame of Show) ends this Run, not the next.
    mEndLoop = false;
}

bool CWindowHost::RunModalUntil(const std::function<bool()>& done)
{
    // The step's end may post nothing (a worker that just finished), so the wait is bounded;
    // this loop only runs for a step of a few seconds, never while the window is idle.
    while (!done()) {
        SDL_Event event;
        const std::uint64_t turnStart = SDL_GetTicks64();
        if (WaitForEvent(event, kModalPollMs)) {
            ++mCounters.mWakeUps;
            do {
                HandleEvent(event);
            } while (SDL_PollEvent(&event));
        }
        RunDueTimers();
        (void)mApplication.ProcessNotifications(true); // more waiting has pushed a wake-up already
        (void)PaintInvalidAreas(); // whether anything was painted
        CheckTurn(turnStart);
    }
    return true;
}

bool CWindowHost::StartTimer(std::uint32_t ms, std::function<void()> onDue)
{
    mTimers.emplace(SDL_GetTicks64() + ms, std::move(onDue));
    return true;
}

bool CWindowHost::WaitForEvent(SDL_Event& event, int limitMs)
{
    if (mTimers.empty() && limitMs < 0)
        return SDL_WaitEvent(&event) != 0;
    std::uint64_t waitMs = limitMs < 0 ? std::uint64_t{INT32_MAX} : static_cast<std::uint64_t>(limitMs);
    if (!mTimers.empty()) {
        const std::uint64_t now = SDL_GetTicks64();
        const std::uint64_t due = mTimers.begin()->first;
        waitMs = std::min(waitMs, due > now ? due - now : 0);
    }
    if (waitMs == 0)
        return SDL_PollEvent(&event) != 0;
    return SDL_WaitEventTimeout(&event, static_cast<int>(waitMs)) != 0;
}

void CWindowHost::RunDueTimers()
{
    // A timer may start another one: each round takes only those due now.
    const std::uint64_t now = SDL_GetTicks64();
    while (!mTimers.empty() && mTimers.begin()->first <= now) {
        std::function<void()> onDue = std::move(mTimers.begin()->second);
        mTimers.erase(mTimers.begin());
        if (onDue)
            onDue();
    }
}

void CWindowHost::CheckTurn(std::uint64_t startMs) const
{
#ifndef NDEBUG
    const std::uint64_t tookMs = SDL_GetTicks64() - startMs;
    if (tookMs > kSlowTurnMs)
        CDebugLine() << "Window: one turn of the event loop took " << tookMs << " ms";
#else
    (void)startMs; // used in debug builds only
#endif
}

void CWindowHost::EndWhenAllowed(std::function<bool()> allowed)
{
    mEndWhenAllowed = std::move(allowed);
    if (mEndWhenAllowed && mEndWhenAllowed())
        mEndLoop = true;
}

void CWindowHost::PostQuit()
{
    SDL_Event quit{};
    quit.type = mUserEventType;
    quit.user.code = kQuitCode;
    (void)SDL_PushEvent(&quit); // refused only with 65535 events waiting, which each turn empties
}

void CWindowHost::PostToLoop(std::function<void()> action)
{
    {
        const std::lock_guard lock(mActionMutex);
        mActions.push_back(std::move(action));
    }
    SDL_Event event{};
    event.type = mUserEventType;
    event.user.code = kActionCode;
    (void)SDL_PushEvent(&event); // refused only with 65535 events waiting; any later action event runs it
}

void CWindowHost::HandleEvent(const SDL_Event& event)
{
    if (mUserEventType != 0 && event.type == mUserEventType)
        ++mCounters.mOwnEvents;
    else
        ++mCounters.mSystemEvents;
    const int divisor = mScale.mMouseDivisor;
    switch (event.type) {
    case SDL_MOUSEMOTION:
        if (mInput)
            mInput->MouseMove(event.motion.x / divisor, event.motion.y / divisor, ModifiersOf(SDL_GetModState()));
        break;
    case SDL_MOUSEBUTTONDOWN:
        if (mInput)
            mInput->MouseDown(ButtonOf(event.button.button), event.button.x / divisor, event.button.y / divisor,
                              ModifiersOf(SDL_GetModState()));
        break;
    case SDL_MOUSEBUTTONUP:
        if (mInput)
            mInput->MouseUp(ButtonOf(event.button.button), event.button.x / divisor, event.button.y / divisor,
                            ModifiersOf(SDL_GetModState()));
        break;
    case SDL_KEYDOWN:
        HandleKey(event);
        break;
    case SDL_WINDOWEVENT:
        HandleWindowEvent(event);
        break;
    case SDL_QUIT:
        // The window's close button, or the session ending.
        (void)mApplication.RequestExit();
        break;
    case SDL_DROPFILE:
        if (event.drop.file) {
            if (mRootWindow)
                (void)mRootWindow->DropFile(WString(event.drop.file)); // its clients report what they refuse
            SDL_free(event.drop.file);
        }
        break;
    default:
        if (mUserEventType != 0 && event.type == mUserEventType)
            HandleUserEvent(event);
        break;
    }
}

void CWindowHost::HandleUserEvent(const SDL_Event& event)
{
    switch (event.user.code) {
    case kQuitCode:
        mEndLoop = true;
        break;
    case kActionCode: {
        std::vector<std::function<void()>> actions;
        {
            const std::lock_guard lock(mActionMutex);
            actions.swap(mActions);
        }
        for (auto& action : actions)
            action();
        break;
    }
    case kDescriptorCode:
        if (mOnReadable)
            mOnReadable();
        {
            const std::lock_guard lock(mWatchMutex);
            mWatchPending = false;
        }
        mWatchHandled.notify_all();
        break;
    default: // kWakeCode: the idle step after this batch delivers what was posted
        break;
    }
}

void CWindowHost::HandleWindowEvent(const SDL_Event& event)
{
    switch (event.window.event) {
    case SDL_WINDOWEVENT_CLOSE:
        (void)mApplication.RequestExit(); // a refused exit keeps the window, as meant
        break;
    case SDL_WINDOWEVENT_LEAVE:
        if (mInput)
            mInput->MouseLeave();
        break;
    case SDL_WINDOWEVENT_EXPOSED:
    case SDL_WINDOWEVENT_SIZE_CHANGED:
        // The window system lost what was shown; the frame still has it.
        PresentAll();
        break;
    default:
        break;
    }
}

void CWindowHost::HandleKey(const SDL_Event& event)
{
    const SDL_Keycode key = event.key.keysym.sym;
    const auto mod = static_cast<SDL_Keymod>(event.key.keysym.mod);
    const bool plain = (mod & (KMOD_CTRL | KMOD_ALT | KMOD_GUI)) == 0;
    if (mInput && plain) {
        const bool shift = (mod & KMOD_SHIFT) != 0;
        if (key == SDLK_TAB && mInput->KeyDown(CWindowInput::Key::Tab, shift))
            return;
        if ((key == SDLK_RETURN || key == SDLK_KP_ENTER) && event.key.repeat == 0 &&
            mInput->KeyDown(CWindowInput::Key::Enter, shift))
            return;
        if (key == SDLK_SPACE && event.key.repeat == 0 && mInput->KeyDown(CWindowInput::Key::Space, shift))
            return;
    }
    if (key == SDLK_ESCAPE && plain && event.key.repeat == 0) {
        (void)mApplication.RequestExit(); // a refused exit keeps the window, as meant
        return;
    }
    const WString name = KeyNameForSdlKey(key, mod);
    if (name.GetLength() > 0 && event.key.repeat == 0)
        (void)mApplication.HandleKey(name); // an unbound key does nothing
}

bool CWindowHost::PaintInvalidAreas()
{
    if (!mRootWindow || !mSurface)
        return false;
    const std::vector<Rect> areas = mRootWindow->TakeInvalidAreas();
    if (areas.empty())
        return false;
    const Rect area = Unite(areas, mClient);
    if (area.IsEmpty())
        return false;
    cairo_t* const cr = cairo_create(mSurface);
    cairo_scale(cr, mScale.mPixelScale, mScale.mPixelScale);
    cairo_rectangle(cr, area.mLeft, area.mTop, area.GetWidth(), area.GetHeight());
    cairo_clip(cr);
    // What no control covers stays black rather than last frame's leftovers.
    cairo_set_source_rgb(cr, 0, 0, 0);
    cairo_paint(cr);
    const ZTRESULT painted = mPainter ? mPainter->Paint(cr, *mRoot, area) : E_FAIL;
    if (Failed(painted))
        CDebugLine() << "Window: painting failed: " << ResultToText(painted);
    cairo_destroy(cr);
    cairo_surface_flush(mSurface);
    ++mCounters.mPaints;
    Present(area);
    TakeFrameIfDue();
    return true;
}

void CWindowHost::TakeFrameIfDue()
{
    if (mFrameTaken || mOptions.mFrameFile.empty())
        return;
    if (SDL_GetTicks64() < mShownAtMs + mOptions.mFrameDelayMs) {
        // Not yet: a later paint is needed; ask for one of everything once the time has come.
        if (mFrameTimer != 0)
            return;
        const std::uint32_t due = static_cast<std::uint32_t>(mShownAtMs + mOptions.mFrameDelayMs - SDL_GetTicks64());
        mFrameTimer = SDL_AddTimer(
            std::max<std::uint32_t>(due, 1),
            [](Uint32, void* self) -> Uint32 {
                auto* host = static_cast<CWindowHost*>(self);
                host->PostToLoop([host] {
                    host->mFrameTimer = 0;
                    host->mRootWindow->InvalidateArea({0, 0, host->mClient.mWidth, host->mClient.mHeight});
                });
                return 0;
            },
            this);
        return;
    }
    mFrameTaken = true;
    // Called right after the frame was presented: this is when it reached the screen.
    timespec shownAt{};
    (void)::clock_gettime(CLOCK_REALTIME, &shownAt); // CLOCK_REALTIME cannot fail
    if (!WriteFrame(mOptions.mFrameFile, shownAt))
        CDebugLine() << "Window: the frame could not be written to " << mOptions.mFrameFile;
    if (mOptions.mEndAfterFrame)
        mEndLoop = true;
}

void CWindowHost::Present(const Rect& logicalArea)
{
    if (!mWindow || !mOptions.mShown)
        return;
    SDL_Surface* const target = SDL_GetWindowSurface(mWindow);
    if (!target)
        return;
    const int pixelScale = mScale.mPixelScale;
    SDL_Surface* const frame = SDL_CreateRGBSurfaceWithFormatFrom(
        cairo_image_surface_get_data(mSurface), cairo_image_surface_get_width(mSurface),
        cairo_image_surface_get_height(mSurface), 32, cairo_image_surface_get_stride(mSurface), SDL_PIXELFORMAT_RGB888);
    if (!frame)
        return;
    (void)SDL_SetSurfaceBlendMode(frame, SDL_BLENDMODE_NONE); // any surface takes this mode
    SDL_Rect source{logicalArea.mLeft * pixelScale, logicalArea.mTop * pixelScale, logicalArea.GetWidth() * pixelScale,
                    logicalArea.GetHeight() * pixelScale};
    if (target->w == frame->w && target->h == frame->h) {
        SDL_Rect destination = source;
        (void)SDL_BlitSurface(frame, &source, target, &destination); // best effort: the next paint shows the area again
        // Best effort: the next paint shows the area again.
        (void)SDL_UpdateWindowSurfaceRects(mWindow, &destination, 1);
    } else {
        // The window surface counts in window units: scale the whole frame down into it.
        (void)SDL_BlitScaled(frame, nullptr, target, nullptr);
        (void)SDL_UpdateWindowSurface(mWindow); // best effort: the next paint shows the frame again
    }
    SDL_FreeSurface(frame);
}

void CWindowHost::PresentAll()
{
    Present(Rect{0, 0, mClient.mWidth, mClient.mHeight});
}

bool CWindowHost::WriteFrame(const std::string& path, const std::optional<timespec>& shownAt) const
{
    if (!mSurface)
        return false;
    // Written beside and renamed, so that a reader never sees half a file.
    const std::string partial = path + ".part";
    if (cairo_surface_write_to_png(mSurface, partial.c_str()) != CAIRO_STATUS_SUCCESS) {
        (void)std::remove(partial.c_str()); // best effort: the partial file is replaced next time
        return false;
    }
    if (shownAt) {
        const timespec times[2] = {{0, UTIME_OMIT}, *shownAt};
        if (::utimensat(AT_FDCWD, partial.c_str(), times, 0) != 0) {
            (void)std::remove(partial.c_str()); // best effort: the partial file is replaced next time
            return false;
        }
    }
    return std::rename(partial.c_str(), path.c_str()) == 0;
}

void CWindowHost::WatchDescriptor(int descriptor, std::function<void()> onReadable)
{
    StopWatching();
    if (descriptor < 0 || ::pipe(mStopPipe) != 0)
        return;
    mOnReadable = std::move(onReadable);
    const std::uint32_t type = mUserEventType;
    // The loop sleeps in SDL_WaitEvent, which cannot watch a descriptor: this thread sleeps in
    // poll instead and wakes the loop, then waits until the loop has read what was waiting, so
    // that one hand-over wakes the loop once.
    mWatcher = std::thread([this, descriptor, type] {
        for (;;) {
            pollfd fds[2] = {{descriptor, POLLIN, 0}, {mStopPipe[0], POLLIN, 0}};
            const int ready = ::poll(fds, 2, -1);
            if (ready < 0 && errno == EINTR)
                continue;
            if (ready < 0 || fds[1].revents != 0)
                return;
            if (fds[0].revents & (POLLERR | POLLNVAL))
                return;
            std::unique_lock lock(mWatchMutex);
            mWatchPending = true;
            SDL_Event event{};
            event.type = type;
            event.user.code = kDescriptorCode;
            if (SDL_PushEvent(&event) != 1) {
                // Nobody will hand this one back: waiting for it would leave the descriptor
                // unread for good. The descriptor is still readable, so poll finds it again.
                mWatchPending = false;
                lock.unlock();
                std::this_thread::sleep_for(kWatchRetryDelay);
                continue;
            }
            mWatchHandled.wait(lock, [this] { return !mWatchPending || mStopPipe[0] < 0; });
            if (mStopPipe[0] < 0)
                return;
        }
    });
}

void CWindowHost::StopWatching()
{
    if (!mWatcher.joinable())
        return;
    const char stop = 1;
    (void)!::write(mStopPipe[1], &stop, 1); // a full pipe already holds a stop
    {
        const std::lock_guard lock(mWatchMutex);
        mWatchPending = false;
    }
    mWatchHandled.notify_all();
    mWatcher.join();
    ::close(mStopPipe[0]);
    ::close(mStopPipe[1]);
    mStopPipe[0] = mStopPipe[1] = -1;
}

WString CWindowHost::SetCursor(const WString& cursorName)
{
    WString previous = mCursorName;
    const bool wait = cursorName == kWaitCursorName;
    mCursorName = wait ? WString(kWaitCursorName) : WString(kArrowCursorName);
    // Made on first use: the cursor theme is read from disk, which a window that never changes
    // its cursor need not wait for at start.
    SDL_Cursor*& cursor = wait ? mWaitCursor : mArrowCursor;
    if (!cursor)
        cursor = SDL_CreateSystemCursor(wait ? SDL_SYSTEM_CURSOR_WAIT : SDL_SYSTEM_CURSOR_ARROW);
    if (cursor)
        SDL_SetCursor(cursor);
    return previous;
}

void CWindowHost::RepaintNow()
{
    (void)PaintInvalidAreas(); // whether anything was painted
}

void CWindowHost::SetCaption(const WString& caption)
{
    if (mWindow)
        SDL_SetWindowTitle(mWindow, caption.ToUTF8().c_str());
}

RCPtr<IFileChooser> CWindowHost::CreateFileChooser()
{
    return MakeRC<LFileDialog>();
}

bool CWindowHost::ShowMessageBox(const WString& text, const WString& caption, MessageBoxIcon icon,
                                 MessageBoxButtons buttons)
{
    Uint32 flags = SDL_MESSAGEBOX_INFORMATION;
    if (icon == MessageBoxIcon::Error)
        flags = SDL_MESSAGEBOX_ERROR;
    else if (icon == MessageBoxIcon::Warning)
        flags = SDL_MESSAGEBOX_WARNING;
    const SDL_MessageBoxButtonData okButton{SDL_MESSAGEBOX_BUTTON_RETURNKEY_DEFAULT | SDL_MESSAGEBOX_BUTTON_ESCAPEKEY_DEFAULT,
                                            1, "OK"};
    // Shown right to left by some platforms: SDL_MESSAGEBOX_BUTTONS_LEFT_TO_RIGHT keeps Yes first.
    const SDL_MessageBoxButtonData yesNo[2] = {{SDL_MESSAGEBOX_BUTTON_RETURNKEY_DEFAULT, 1, "Yes"},
                                               {SDL_MESSAGEBOX_BUTTON_ESCAPEKEY_DEFAULT, 0, "No"}};
    const std::string title = caption.ToUTF8();
    const std::string message = text.ToUTF8();
    SDL_MessageBoxData data{};
    data.flags = flags | SDL_MESSAGEBOX_BUTTONS_LEFT_TO_RIGHT;
    data.window = mWindow;
    data.title = title.c_str();
    data.message = message.c_str();
    if (buttons == MessageBoxButtons::YesNo) {
        data.numbuttons = 2;
        data.buttons = yesNo;
    } else {
        data.numbuttons = 1;
        data.buttons = &okButton;
    }
    int pressed = 0;
    if (SDL_ShowMessageBox(&data, &pressed) != 0) {
        CDebugLine() << "Window: the message box \"" << title << "\" could not be shown (" << SDL_GetError() << ")";
        return false;
    }
    // The frame may have been covered while the box was up.
    PresentAll();
    return pressed == 1;
}

} // namespace ZT
