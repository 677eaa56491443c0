#include "FirmwareUpdater/Panel/MainWindow.h"

#include "FirmwareUpdater/Panel/Application.h"
#include "ZTFramework/Application/SingleInstance.h"
#include "ZTFramework/Application/TerminationSignals.h"
#include "ZTFramework/ControlBase/Control.h"
#include "ZTFramework/ControlBase/ControlFactory.h"
#include "ZTFramework/ControlBase/RootWindow.h"
#include "ZTFramework/Debug/DebugLine.h"
#include "ZTFramework/Graphics/ControlPainter.h"
#include "ZTFramework/Resources/BuiltInResources.h"
#include "ZTFramework/Resources/SkinDefinitions.h"
#include "ZTFramework/Window/SdlVideo.h"
#include "ZTFramework/Window/WindowHost.h"

#include <SDL.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <optional>
#include <string>
#include <system_error>
#include <thread>

namespace {

std::uint32_t FrameDelayFromEnvironment()
{
    const char* const text = std::getenv(CMainWindow::kFrameDelayVariable);
    if (!text || !*text)
        return 0;
    char* end = nullptr;
    const unsigned long value = std::strtoul(text, &end, 10);
    if (*end != 0 || value > 600000ul)
        return 0;
    return static_cast<std::uint32_t>(value);
}

std::span<const std::uint8_t> ProgramIcon()
{
    if (const auto icon = ZT::CBuiltInResources::Find(CMainWindow::kIconResource))
        return *icon;
    if (const auto standIn = ZT::CBuiltInResources::Find(CMainWindow::kIconStandInResource))
        return *standIn;
    return {};
}

// Window pixels per logical pixel for a window made now: the same choice the window host makes
// (under X11 the desktop's GDK_SCALE, elsewhere the platform scales by itself).
int PlannedWindowFactor()
{
    const char* const driver = SDL_GetCurrentVideoDriver();
    const bool x11 = driver && std::strcmp(driver, "x11") == 0;
    const int environmentScale = x11 ? ZT::DisplayScale::FromEnvironment(std::getenv("GDK_SCALE")) : 1;
    return ZT::DisplayScale::ForNewWindow(environmentScale).mWindowFactor;
}

// The first display's work area in logical pixels (without panels and docks where the platform
// knows them); empty when SDL cannot tell, which leaves a saved place as it is.
ZT::Rect DesktopWorkArea(int factor)
{
    SDL_Rect bounds{};
    if (SDL_GetDisplayUsableBounds(0, &bounds) != 0 && SDL_GetDisplayBounds(0, &bounds) != 0)
        return {};
    return {bounds.x / factor, bounds.y / factor, (bounds.x + bounds.w) / factor, (bounds.y + bounds.h) / factor};
}

std::string LocaleText(std::uint32_t lcid)
{
    char text[16];
    std::snprintf(text, sizeof text, "0x%04X", static_cast<unsigned>(lcid));
    return text;
}

} // namespace

ZT::Rect CMainWindow::PlaceWindow(const ZT::WindowSizeConstraints& constraints, const ZT::Rect& desktop,
                                  const std::optional<ZT::WindowPlacement>& saved)
{
    if (!saved)
        return constraints.mInitial;
    int width = constraints.mInitial.GetWidth();
    int height = constraints.mInitial.GetHeight();
    if (!constraints.IsFixed()) {
        const ZT::SizeT maximum = constraints.mMaximum.value_or(
            ZT::SizeT{ZT::WindowSizeConstraints::kUnbounded, ZT::WindowSizeConstraints::kUnbounded});
        width = std::clamp(saved->mNormal.GetWidth(), constraints.mMinimum.mWidth,
                           std::max(constraints.mMinimum.mWidth, maximum.mWidth));
        height = std::clamp(saved->mNormal.GetHeight(), constraints.mMinimum.mHeight,
                            std::max(constraints.mMinimum.mHeight, maximum.mHeight));
    }
    const ZT::Rect place{saved->mNormal.mLeft, saved->mNormal.mTop, saved->mNormal.mLeft + width,
                         saved->mNormal.mTop + height};
    return ZT::FitToDesktop(place, desktop);
}

ZT::WindowPlacement CMainWindow::PlacementAtClose(const ZT::Rect& frame, bool minimized, bool maximized,
                                                  const ZT::Rect& opened)
{
    ZT::WindowPlacement placement;
    placement.mNormal = frame;
    if (minimized || maximized) {
        placement.mNormal = opened;
        placement.mShowState = minimized ? ZT::WindowPlacement::ShowState::Minimized
                                         : ZT::WindowPlacement::ShowState::Maximized;
    }
    return placement;
}

CMainWindow::Result CMainWindow::Run(LApplication& application, ZT::CSingleInstance* instance)
{
    const ZT::RCPtr<ZT::LControlFactory>& factory = application.GetControlFactory();
    const ZT::RCPtr<ZT::LFrameworkApp>& framework = application.GetFramework();
    if (!factory || !framework || !factory->GetResources())
        return {Outcome::StartupError, "the application has not started"};

    // The skin's part first: none of it needs a display, so a broken skin is named as such.
    if (!factory->IsControlClassRegistered(ZT::WString(L"FirmwareUpdater.MainControl"))) {
        const ZT::ZTRESULT registered = LApplication::RegisterControlClasses(*factory);
        if (ZT::Failed(registered))
            return {Outcome::StartupError, "the main control's class could not be registered: " + ZT::ResultToText(registered)};
    }
    const ZT::WString rootName(LApplication::kRootControlName);
    const ZT::RCPtr<ZT::LSkinDefinitions> skin = factory->GetResources()->GetSkin();
    const ZT::RCPtr<ZT::LControlDescriptor> descriptor = skin ? skin->FindControlDescriptor(rootName) : nullptr;
    if (!descriptor)
        return {Outcome::StartupError, "Runtime Error : Null Pointer : Invalid Control Name: the skin has no \"mainControl\""};
    ZT::RCPtr<ZT::LControl> root;
    try {
        root = factory->CreateControl(rootName);
    } catch (const std::exception& error) {
        return {Outcome::StartupError, std::string("the window's controls could not be made from the skin: ") + error.what()};
    }
    if (!root)
        return {Outcome::StartupError, "the window's controls could not be made from the skin"};

    const auto painter = ZT::MakeRC<ZT::LControlPainter>(factory->GetResources(), application.GetResourceLocation());
    // The skin's font replacements for the locale (Japanese needs a font with its glyphs).
    painter->SetLocale(application.GetLocaleId());
    // What SDL reads from the environment is set before the thread below starts and given back
    // after it has ended, on every way out (see CSdlVideo).
    struct SdlEnvironment {
        explicit SdlEnvironment(const std::string& windowClassName) { ZT::CSdlVideo::PrepareEnvironment(windowClassName); }
        ~SdlEnvironment() { ZT::CSdlVideo::RestoreEnvironment(); }
        SdlEnvironment(const SdlEnvironment&) = delete;
        SdlEnvironment& operator=(const SdlEnvironment&) = delete;
    } const sdlEnvironment(LApplication::GetWindowClassName());
    // Fontconfig's start and the fonts of the window's texts take about as long as SDL's start
    // on the display below, and the first paint would wait for them: they load beside it, on a
    // thread that only this painter's fonts see and that is joined before the window uses the
    // painter (or, on the way out, when it goes).
    std::optional<std::jthread> fontLoader;
    try {
        fontLoader.emplace(painter->PrepareFonts(*root));
    } catch (const std::system_error&) {
        // No thread to be had: the first paint loads the fonts itself.
    }

    const ZT::CSdlVideo video(LApplication::GetWindowClassName());
    if (!video.IsReady())
        return {Outcome::NoDisplay, video.GetError()};

    SDL_DisplayMode desktop{};
    ZT::SizeT screen{1024, 768};
    if (SDL_GetDesktopDisplayMode(0, &desktop) == 0)
        screen = {desktop.w, desktop.h};
    const ZT::WindowSizeConstraints constraints = ZT::GetWindowSizeConstraints(*descriptor, screen);

    // The settings files belong to runs that show the window: opened now that one can show.
    const ZT::StartupSettings settings = application.OpenSettings();
    const ZT::Rect opened = PlaceWindow(constraints, DesktopWorkArea(PlannedWindowFactor()), settings.mWindowPlacement);

    ZT::CWindowHost::Options options;
    options.mClassName = LApplication::GetWindowClassName();
    options.mCaption = application.GetCompanyName();
    options.mPlace = opened;
    options.mResizable = !constraints.IsFixed();
    options.mIconPng = ProgramIcon();
    if (const char* frame = std::getenv(kFrameFileVariable); frame && *frame) {
        options.mFrameFile = frame;
        options.mFrameDelayMs = FrameDelayFromEnvironment();
        options.mEndAfterFrame = true;
    }

    // The skin's images decode here, on this thread, while the fonts may still be loading.
    painter->PreloadImages();
    if (fontLoader)
        fontLoader->join();
    ZT::CSdlVideo::RestoreEnvironment();
    ZT::CWindowHost host(*framework, root, painter);
    std::string error;
    if (ZT::Failed(host.Create(options, error)))
        return {Outcome::StartupError, error};
    root = nullptr; // the window holds the tree now

    framework->SetExitHandler([&host] { host.EndLoop(); });
    if (settings.mWindowPlacement && settings.mWindowPlacement->mShowState == ZT::WindowPlacement::ShowState::Maximized &&
        options.mResizable)
        SDL_MaximizeWindow(host.GetSdlWindow());
    // Second copies may hand over from here on. Listening begins before the window shows, so
    // that a copy started as soon as it appears is never turned away to open a window of its own:
    // its connection waits in the socket's queue until the loop below watches it.
    const bool listening = instance && instance->StartListening();
    host.Show();
    ZT::DebugLine("Window: shown");
    {
        int x = 0, y = 0, width = 0, height = 0;
        SDL_GetWindowPosition(host.GetSdlWindow(), &x, &y);
        SDL_GetWindowSize(host.GetSdlWindow(), &width, &height);
        const int factor = host.GetScale().mWindowFactor;
        const ZT::RCPtr<ZT::LControl> updateButton =
            host.GetRootWindow().GetRootControl()->FindChildByName(ZT::WString(L"buttonUpdateFirmware"));
        ZT::CDebugLine() << "Window: at " << x / factor << "," << y / factor << " size " << width / factor << "x"
                         << height / factor << (settings.mWindowPlacement ? " (saved placement)" : " (the skin's place)")
                         << ", locale " << LocaleText(application.GetLocaleId()) << ", \"UPDATE FIRMWARE\" reads \""
                         << (updateButton ? updateButton->GetText().ToUTF8() : std::string("?")) << "\"";
    }

    // Each second copy brings this window to the front.
    if (listening) {
        host.WatchDescriptor(instance->GetListeningDescriptor(), [instance, &host] {
            const std::optional<std::string> commandLine = instance->AcceptCommandLine(std::chrono::milliseconds(200));
            // The command line itself has no use in this program; the hand-over is the point.
            ZT::CDebugLine() << "Window: a second copy started" << (commandLine && !commandLine->empty() ? " with \"" + *commandLine + "\"" : std::string());
            host.Raise();
            ZT::DebugLine("Window: raised for the second copy");
        });
    }

    // A termination signal ends the window once no download runs (the run has already been
    // told not to start anything new).
    application.SetTerminationHook([&host, &application] {
        host.PostToLoop([&host, &application] {
            ZT::DebugLine("Window: ending on a termination signal once no download runs");
            host.EndWhenAllowed([&application] { return application.CanExit(); });
        });
    });
    host.Run();
    application.SetTerminationHook({});

    int x = 0, y = 0, width = 0, height = 0;
    SDL_GetWindowPosition(host.GetSdlWindow(), &x, &y);
    SDL_GetWindowSize(host.GetSdlWindow(), &width, &height);
    const int factor = host.GetScale().mWindowFactor;
    const Uint32 flags = SDL_GetWindowFlags(host.GetSdlWindow());
    const ZT::WindowPlacement placement =
        PlacementAtClose(ZT::Rect{x / factor, y / factor, (x + width) / factor, (y + height) / factor},
                         (flags & SDL_WINDOW_MINIMIZED) != 0, (flags & SDL_WINDOW_MAXIMIZED) != 0, opened);
    if (application.SaveWindowPlacement(placement))
        ZT::CDebugLine() << "Window: placement saved at " << placement.mNormal.mLeft << "," << placement.mNormal.mTop
                         << " size " << placement.mNormal.GetWidth() << "x" << placement.mNormal.GetHeight() << " ("
                         << ZT::ToString(placement.mShowState) << ")";
    framework->SetExitHandler({});
    return {Outcome::Ended, {}};
}

extern "C" {

__attribute__((visibility("default"))) void ZtRunMainWindow(LApplication* application, ZT::CSingleInstance* instance,
                                                            CMainWindow::Result* result)
{
    *result = CMainWindow::Run(*application, instance);
}

__attribute__((visibility("default"))) bool ZtShowErrorBox(const char* caption, const char* text)
{
    return SDL_ShowSimpleMessageBox(SDL_MESSAGEBOX_ERROR, caption, text, nullptr) == 0;
}

} // extern "C"
