// The SDL window host on a real display: scripts/test.sh starts Xvfb for these. Events are
// pushed into SDL's queue as the window system would deliver them.

#include "ZTFramework/Window/WindowHost.h"

#include "ZTFramework/Application/FrameworkApp.h"
#include "ZTFramework/Graphics/ControlPainter.h"
#include "ZTFramework/Resources/ResourceSet.h"
#include "ZTFramework/Window/SdlVideo.h"
#include "tests/Support/Printers.h"
#include "tests/ZTFramework/Utilities/Storage/TempFolder.h"
#include "tests/ZTFramework/Window/WindowTestSupport.h"

#include <SDL.h>
#include <cairo.h>
#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace {

using ZT::CWindowHost;
using WindowTest::Lines;
namespace Ids = ZT::ControlNotificationIDs;

SDL_Event MouseButton(Uint32 type, int x, int y)
{
    SDL_Event event{};
    event.type = type;
    event.button.button = SDL_BUTTON_LEFT;
    event.button.state = type == SDL_MOUSEBUTTONDOWN ? SDL_PRESSED : SDL_RELEASED;
    event.button.x = x;
    event.button.y = y;
    return event;
}

SDL_Event Key(SDL_Keycode key, Uint16 mod = KMOD_NONE)
{
    SDL_Event event{};
    event.type = SDL_KEYDOWN;
    event.key.state = SDL_PRESSED;
    event.key.keysym.sym = key;
    event.key.keysym.mod = mod;
    return event;
}

SDL_Event WindowEvent(Uint8 what)
{
    SDL_Event event{};
    event.type = SDL_WINDOWEVENT;
    event.window.event = what;
    return event;
}

void Push(SDL_Event event)
{
    ASSERT_EQ(SDL_PushEvent(&event), 1) << SDL_GetError();
}

// Ends a loop that did not end by itself after a generous time, so that a fault shows as a
// failed expectation rather than a hung test.
class Guard {
public:
    Guard(CWindowHost& host, std::chrono::seconds limit)
        : mThread([this, &host, limit] {
              std::unique_lock lock(mMutex);
              if (!mDone.wait_for(lock, limit, [this] { return mEnded; })) {
                  mFired = true;
                  host.PostQuit();
              }
          })
    {
    }
    ~Guard() { Release(); }
    void Release()
    {
        {
            const std::lock_guard lock(mMutex);
            mEnded = true;
        }
        mDone.notify_all();
        if (mThread.joinable())
            mThread.join();
    }
    bool Fired() const { return mFired; }

private:
    std::mutex mMutex;
    std::condition_variable mDone;
    bool mEnded = false;
    std::atomic<bool> mFired{false};
    std::thread mThread;
};

class WindowHost : public WindowTest::DisplayTest {
protected:
    void SetUp() override
    {
        if (const std::string why = MissingDisplay(); !why.empty())
            GTEST_SKIP() << why;
        ASSERT_RESULT_EQ(mApp->Startup(), ZT::S_OK);
        mApp->SetExitCheck([this] { return mMayExit; });
        mApp->SetExitHandler([this] { mHost->EndLoop(); });
        for (ZT::LControl* control : {mTree.ok.Get(), mTree.exit.Get(), mTree.top.Get()})
            mRecorder->Listen(control, {Ids::kLeftClick});
    }
    void TearDown() override
    {
        mHost.reset();
        mApp->Shutdown();
        SDL_FlushEvents(SDL_FIRSTEVENT, SDL_LASTEVENT);
    }

    void Open(CWindowHost::Options options = {})
    {
        if (options.mPlace.IsEmpty())
            options.mPlace = {0, 0, 400, 450};
        options.mCaption = ZT::WString(L"Window test");
        mHost = std::make_unique<CWindowHost>(*mApp, mTree.root, mPainter);
        std::string error;
        ASSERT_RESULT_EQ(mHost->Create(options, error), ZT::S_OK) << error;
        mHost->Show();
    }
    // Runs the loop over what is queued now, then ends it.
    void RunQueued()
    {
        mHost->PostQuit();
        Guard guard(*mHost, std::chrono::seconds(20));
        mHost->Run();
        guard.Release();
        ASSERT_FALSE(guard.Fired()) << "the loop did not end on its quit event";
    }

    ZT::RCPtr<ZT::LFrameworkApp> mApp = ZT::MakeRC<ZT::LFrameworkApp>();
    WindowTest::Tree mTree;
    ZT::RCPtr<ZT::LControlPainter> mPainter = ZT::MakeRC<ZT::LControlPainter>(ZT::MakeRC<ZT::LResourceSet>(), ZT::WString(L"::"));
    ZT::RCPtr<WindowTest::Recorder> mRecorder = ZT::MakeRC<WindowTest::Recorder>();
    std::unique_ptr<CWindowHost> mHost;
    bool mMayExit = true;
};

TEST_F(WindowHost, MouseAndKeyboardEventsReachTheControlsUnderThemAndTheFocus)
{
    Open();
    ASSERT_EQ(mTree.root->GetRootWindow(), &mHost->GetRootWindow());
    EXPECT_EQ(mHost->GetRootWindow().GetWindowServices(), mHost.get()) << "the tree cannot reach its window's services";
    Push(MouseButton(SDL_MOUSEBUTTONDOWN, 20, 120));
    Push(MouseButton(SDL_MOUSEBUTTONUP, 20, 120));
    Push(MouseButton(SDL_MOUSEBUTTONDOWN, 20, 120)); // pressed on OK, released on EXIT: no click
    Push(MouseButton(SDL_MOUSEBUTTONUP, 250, 120));
    Push(Key(SDLK_TAB));
    Push(Key(SDLK_TAB));
    Push(Key(SDLK_RETURN));
    Push(Key(SDLK_TAB, KMOD_LSHIFT));
    Push(Key(SDLK_SPACE));
    RunQueued();
    EXPECT_EQ(mRecorder->Take(), Lines({"NID_LEFT_CLICK buttonOk at 10,10", "NID_LEFT_CLICK buttonExit at 50,15",
                                        "NID_LEFT_CLICK buttonOk at 50,15"}));
    EXPECT_EQ(mHost->GetInput().GetFocus(), mTree.ok.Get());
}

TEST_F(WindowHost, EscapeAltF4AndTheCloseButtonAreExitRequestsRefusedWhileUpdating)
{
    Open();
    mMayExit = false;
    Push(Key(SDLK_ESCAPE));
    Push(Key(SDLK_F4, KMOD_LALT));
    Push(WindowEvent(SDL_WINDOWEVENT_CLOSE));
    SDL_Event quit{};
    quit.type = SDL_QUIT;
    Push(quit);
    RunQueued();
    EXPECT_EQ(mApp->GetRefusedExitCount(), 4u) << "Escape, Alt+F4, the close button, SDL_QUIT";
    EXPECT_FALSE(mApp->IsExitApproved());

    mMayExit = true;
    Push(Key(SDLK_F4, KMOD_LALT));
    Guard guard(*mHost, std::chrono::seconds(20));
    mHost->Run(); // ends by the approved exit, not by a quit event
    guard.Release();
    EXPECT_FALSE(guard.Fired()) << "Alt+F4 did not end the loop once exit was allowed";
    EXPECT_TRUE(mApp->IsExitApproved());
}

TEST_F(WindowHost, ANestedLoopHandlesInputUntilItsStepEndsAndKeepsAQuitForTheOuterLoop)
{
    Open();
    Push(MouseButton(SDL_MOUSEBUTTONDOWN, 20, 120));
    Push(MouseButton(SDL_MOUSEBUTTONUP, 20, 120));
    mHost->PostQuit(); // a termination signal's way in, while the step runs
    // The step ends on a thread of its own once the click was handled (at the latest after 10 s)
    // and posts nothing: the nested loop must notice by itself.
    std::atomic<bool> clicked{false};
    std::atomic<bool> finished{false};
    std::thread step([&] {
        const auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (!clicked && std::chrono::steady_clock::now() < limit)
            std::this_thread::yield();
        finished = true;
    });
    Guard guard(*mHost, std::chrono::seconds(30));
    const bool ran = mHost->RunModalUntil([&] {
        if (!mRecorder->mLines.empty())
            clicked = true;
        return finished.load();
    });
    guard.Release();
    step.join();
    EXPECT_TRUE(ran);
    EXPECT_FALSE(guard.Fired()) << "the nested loop did not notice the step's end without an event";
    EXPECT_TRUE(clicked) << "the click during the nested loop was not handled";
    EXPECT_EQ(mRecorder->Take(), Lines({"NID_LEFT_CLICK buttonOk at 10,10"}));

    Guard outer(*mHost, std::chrono::seconds(20));
    mHost->Run();
    outer.Release();
    EXPECT_FALSE(outer.Fired()) << "the quit that came during the nested loop was lost";
}

TEST_F(WindowHost, AnIdleWindowSleepsAndAPostWakesItOnce)
{
    // Not shown: other tests' windows on the same display would otherwise wake it with focus
    // and expose events. The loop is the same; scripts/bench-window.sh measures a shown window.
    CWindowHost::Options hidden;
    hidden.mShown = false;
    Open(hidden);
    // Let what making the window brings arrive and be handled.
    std::thread settle([this] {
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        mHost->PostQuit();
    });
    mHost->Run();
    settle.join();

    const CWindowHost::Counters before = mHost->GetCounters();
    std::thread idle([this] {
        std::this_thread::sleep_for(std::chrono::seconds(1));
        mHost->PostQuit();
    });
    mHost->Run();
    idle.join();
    const CWindowHost::Counters idleCounts = mHost->GetCounters();
    // The display may send something now and then (other tests' windows share it); the loop must
    // wake for nothing else, and must not wake itself.
    const std::uint64_t outside = idleCounts.mSystemEvents - before.mSystemEvents;
    EXPECT_EQ(idleCounts.mOwnEvents - before.mOwnEvents, 1u) << "the host woke its own loop while idle (only the quit was due)";
    EXPECT_LE(idleCounts.mWakeUps - before.mWakeUps, 1u + outside)
        << "the loop woke up without anything to do (" << outside << " events came from the display)";
    EXPECT_EQ(idleCounts.mPaints - before.mPaints, 0u) << "an idle window was repainted";

    // A post from another thread into the application center wakes the loop, which delivers it.
    class Ender : public ZT::LNotificationClient {
    public:
        explicit Ender(CWindowHost& host) : mHost(host) {}
        ZT::ZTRESULT HandleNotification(ZT::LNotificationDistributor*, const ZT::RCPtr<ZT::LNotification>&) override
        {
            ++mDelivered;
            mHost.EndLoop();
            return ZT::S_OK;
        }
        CWindowHost& mHost;
        int mDelivered = 0;
    };
    auto ender = ZT::MakeRC<Ender>(*mHost);
    (void)ender->Register(mApp->GetApplicationCenter().Get(), L"NID_WINDOW_TEST_WORKER");
    // Posted once the loop is most likely asleep; a post that comes earlier is delivered by the
    // loop's first idle step instead, which proves less but fails nothing.
    std::thread worker([this] {
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        (void)mApp->GetApplicationCenter()->Post(ZT::CreateNotification(L"NID_WINDOW_TEST_WORKER", nullptr));
    });
    Guard guard(*mHost, std::chrono::seconds(20));
    mHost->Run();
    guard.Release();
    worker.join();
    EXPECT_FALSE(guard.Fired()) << "the post did not wake the loop";
    EXPECT_EQ(ender->mDelivered, 1);
    EXPECT_LE(mHost->GetCounters().mOwnEvents - idleCounts.mOwnEvents, 1u) << "one post, at most one wake event";
    (void)ender->Unregister(mApp->GetApplicationCenter().Get(), ZT::InternNotificationID(L"NID_WINDOW_TEST_WORKER"));
}

// SDL's queue may refuse the watcher's wake-up (full, or an event filter). The watcher must not
// then wait for a hand-over that never comes: the descriptor would stay unread for good.
TEST_F(WindowHost, AReadableDescriptorReachesTheLoopWhenItsFirstWakeUpIsRefused)
{
    CWindowHost::Options hidden;
    hidden.mShown = false;
    Open(hidden);
    int pipeEnds[2] = {-1, -1};
    ASSERT_EQ(::pipe(pipeEnds), 0) << std::strerror(errno);
    int handed = 0;
    mHost->WatchDescriptor(pipeEnds[0], [&] {
        char byte = 0;
        if (::read(pipeEnds[0], &byte, 1) == 1)
            ++handed;
        mHost->EndLoop();
    });
    // Drops the first event of the host's own kind pushed from now on: the watcher's wake-up.
    struct Refusal {
        std::atomic<bool> armed{true};
        std::atomic<int> refused{0};
    } refusal;
    SDL_SetEventFilter(
        [](void* data, SDL_Event* event) -> int {
            auto& state = *static_cast<Refusal*>(data);
            bool armed = true;
            if (event->type >= SDL_USEREVENT && state.armed.compare_exchange_strong(armed, false)) {
                ++state.refused;
                return 0;
            }
            return 1;
        },
        &refusal);
    ASSERT_EQ(::write(pipeEnds[1], "x", 1), 1) << std::strerror(errno);

    Guard guard(*mHost, std::chrono::seconds(5));
    mHost->Run();
    guard.Release();
    SDL_SetEventFilter(nullptr, nullptr);
    mHost.reset(); // stops the watcher before its descriptor closes
    ::close(pipeEnds[0]);
    ::close(pipeEnds[1]);

    ASSERT_EQ(refusal.refused.load(), 1) << "no wake-up was refused: the case was not exercised";
    EXPECT_FALSE(guard.Fired()) << "the watcher waited for a wake-up SDL had refused; the descriptor was never "
                                   "handed to the loop";
    EXPECT_EQ(handed, 1) << "the readable descriptor's callback ran " << handed << " times, not once";
}

TEST_F(WindowHost, OnlyChangedAreasAreRepaintedAndTheFrameIsWritten)
{
    Open();
    const std::uint64_t paints = mHost->GetCounters().mPaints;
    EXPECT_FALSE(mHost->PaintInvalidAreas()) << "nothing asked for a repaint";
    SDL_Event motion{};
    motion.type = SDL_MOUSEMOTION;
    motion.motion.x = 20;
    motion.motion.y = 120;
    Push(motion);
    RunQueued();
    EXPECT_EQ(mHost->GetCounters().mPaints, paints + 1) << "the hover look was not painted";

    const ZT::Testing::TempFolder temp("zt-window-frame");
    const std::string file = (temp.Path() / "frame.png").string();
    ASSERT_TRUE(mHost->WriteFrame(file));
    cairo_surface_t* image = cairo_image_surface_create_from_png(file.c_str());
    ASSERT_EQ(cairo_surface_status(image), CAIRO_STATUS_SUCCESS) << cairo_status_to_string(cairo_surface_status(image));
    EXPECT_EQ(cairo_image_surface_get_width(image), 400);
    EXPECT_EQ(cairo_image_surface_get_height(image), 450);
    cairo_surface_destroy(image);
    EXPECT_FALSE(mHost->WriteFrame((temp.Path() / "missing" / "frame.png").string())) << "a folder that does not exist";

    // Stamped with the moment it showed: a benchmark timing the start by the file's time must
    // not count the encoding.
    const timespec shownAt{1'700'000'000, 123'456'000};
    ASSERT_TRUE(mHost->WriteFrame(file, shownAt));
    struct stat written {};
    ASSERT_EQ(::stat(file.c_str(), &written), 0) << std::strerror(errno);
    EXPECT_EQ(written.st_mtim.tv_sec, shownAt.tv_sec);
    EXPECT_EQ(written.st_mtim.tv_nsec, shownAt.tv_nsec);
    EXPECT_FALSE(std::filesystem::exists(file + ".part")) << "the partial file was left behind";
}

TEST_F(WindowHost, AtScaleTwoTheWindowKeepsItsLogicalSizeAndDrawsAtDoubleResolution)
{
    const char* const previous = std::getenv("GDK_SCALE");
    const std::string saved = previous ? previous : "";
    ::setenv("GDK_SCALE", "2", 1);
    Open();
    previous ? (void)::setenv("GDK_SCALE", saved.c_str(), 1) : (void)::unsetenv("GDK_SCALE");

    EXPECT_EQ(mHost->GetScale().mPixelScale, 2);
    EXPECT_EQ(mHost->GetClientSize(), (ZT::SizeT{400, 450})) << "the layout's size";
    EXPECT_EQ(mHost->GetFrameSize(), (ZT::SizeT{800, 900})) << "the frame's pixels";
    EXPECT_EQ(mTree.root->GetBounds(), (ZT::Rect{0, 0, 400, 450}));
    // Mouse positions come in pixels: OK's logical 20,120 is 40,240.
    Push(MouseButton(SDL_MOUSEBUTTONDOWN, 40, 240));
    Push(MouseButton(SDL_MOUSEBUTTONUP, 40, 240));
    RunQueued();
    EXPECT_EQ(mRecorder->Take(), Lines({"NID_LEFT_CLICK buttonOk at 10,10"}));
}

TEST_F(WindowHost, ServicesDropsAndCursors)
{
    Open();
    mRecorder->Listen(&mHost->GetRootWindow(), {Ids::kDropFile});
    SDL_Event drop{};
    drop.type = SDL_DROPFILE;
    drop.drop.file = SDL_strdup("/tmp/Firmware Ünicode.dfu");
    Push(drop);
    RunQueued();
    EXPECT_EQ(mRecorder->Take(), Lines({"NID_DROP_FILE /tmp/Firmware Ünicode.dfu"}));

    ZT::IWindowServices& services = *mHost->GetRootWindow().GetWindowServices();
    EXPECT_EQ(services.SetCursor(ZT::WString(L"UI_CURSOR_WAIT")).ToUTF8(), "UI_CURSOR_ARROW");
    EXPECT_EQ(services.SetCursor(ZT::WString(L"NO_SUCH_CURSOR")).ToUTF8(), "UI_CURSOR_WAIT");
    EXPECT_EQ(services.SetCursor(ZT::WString(L"UI_CURSOR_ARROW")).ToUTF8(), "UI_CURSOR_ARROW")
        << "an unknown name shows the arrow";
    services.SetCaption(ZT::WString(L"Halvard – 50 %"));
    EXPECT_STREQ(SDL_GetWindowTitle(mHost->GetSdlWindow()), "Halvard – 50 %");
}

} // namespace
