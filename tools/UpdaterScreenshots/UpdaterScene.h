#pragma once
// The updater's real main control, made from the shipped skin, on simulated devices in virtual
// time: what the screenshot tool and the window's tests drive it through.
//
// A scene installs, for its lifetime, a virtual process clock, the device simulator on the USB
// and MIDI seams, and the product's two firmware files in a temporary application folder of its
// own; the destructor puts all of it back. Only one scene may exist at a time (these are
// process-wide seams).
//
// Driving: the clock runs a hook after every sleep. A sleep on the thread that made the scene
// (the user-interface thread: the main control waits there for the update sequence's timers, the
// wait for a device after its download among them, when it has no window of its own) calls
// mOnUiSleep; in step mode the engine's worker stands still at each sleep of a switch into update
// mode and of a download (StepDownloads), so that the user-interface thread can look at the
// window while the worker does not move.
//
// Threads: the user-interface thread's, except the clock hook (see above).

#include "FirmwareUpdater/Panel/Engine/UpdateEngineInterface.h"
#include "Simulator/DeviceSimulator.h"
#include "ZTFramework/ControlBase/ControlFactory.h"
#include "ZTFramework/ControlBase/RootWindow.h"
#include "ZTFramework/Notification/NotificationCenter.h"
#include "ZTFramework/Time/Clock.h"
#include "ZTFramework/Time/VirtualClock.h"

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <set>
#include <string>
#include <thread>

class LUpdateProcessor;
namespace ZT {
class LMainControl;
class LControlPainter;
}

namespace UpdaterScene {

using DeviceState = LUpdateEngineInterface::DeviceState;
using FirmwareFileState = LUpdateEngineInterface::FirmwareFileState;
using UpdateRunState = LUpdateEngineInterface::UpdateRunState;

// Virtual time with a hook after every sleep, run on the sleeping thread.
class CHookedClock final : public ZT::IClock {
public:
    [[nodiscard]] std::uint64_t NowMs() const override { return mClock.NowMs(); }
    void SleepMs(std::uint32_t ms) override;
    // Set while no engine thread runs; not guarded.
    std::function<void()> mAfterSleep;

private:
    ZT::VirtualClock mClock;
};

// The named children whose visibility the view decides, in the order messages list them.
extern const wchar_t* const kViewControls[15];

class CScene {
public:
    // lcid: the language of the string tables the window is made with.
    explicit CScene(std::uint32_t lcid = 0x0409);
    ~CScene();
    CScene(const CScene&) = delete;
    CScene& operator=(const CScene&) = delete;

    ZT::RCPtr<LSimulatedDevice> AddController(std::uint16_t release);
    ZT::RCPtr<LSimulatedDevice> AddDisplay(std::uint16_t release);
    // The firmware file of the controller, for tests that spoil it.
    [[nodiscard]] std::filesystem::path ControllerFilePath() const;

    // Starts the processor (it scans) and makes the main control from the shipped skin, as the
    // program does; the control is not yet in a window. Empty, or what went wrong.
    [[nodiscard]] std::string MakeControl();
    // Puts the control into a root window of the scene's own (no platform window: cursor and
    // repaint requests go nowhere), as the screenshot tool needs.
    [[nodiscard]] std::string AttachOwnRootWindow();

    // Delivers what the engine has posted, as the user-interface thread's idle step does.
    void Deliver();
    // Delivers until no download runs and nothing waits. Empty, or what never ended.
    [[nodiscard]] std::string RunUntilSettled();
    // A left click on a named child of the main control. Empty, or why it could not be clicked.
    [[nodiscard]] std::string Click(const wchar_t* name);

    // Step mode: while on, the engine's worker stands still at each of its sleeps during a download
    // until Release, so that the user-interface thread can deliver what it posted and look at
    // the window while nothing moves.
    void StepDownloads(bool on) { mStepping = on; }
    [[nodiscard]] bool IsHeld() const noexcept { return mHeld; }
    void Release();
    // In step mode: delivers step by step until the window's progress bar shows at least share
    // (0..1); the worker then stands still until Release. False when the download ended first.
    [[nodiscard]] bool RunDownloadTo(double share);
    // The fraction the window's progress bar shows.
    [[nodiscard]] double ProgressShown() const;

    // Called at sleeps of the user-interface thread (the switch into update mode, the wait after
    // a download), on that thread; empty for none.
    std::function<void()> mOnUiSleep;

    // The window's content as a PNG at logical size times scale: the tree laid out for the
    // skin's size and painted. Empty, or what went wrong.
    [[nodiscard]] std::string WritePng(const std::string& path, int scale = 1);

    [[nodiscard]] ZT::RCPtr<ZT::LControl> Child(const wchar_t* name) const;
    [[nodiscard]] std::string TextOf(const wchar_t* name) const;
    // The text of id in the named child's own string table.
    [[nodiscard]] std::string TableText(const wchar_t* control, const wchar_t* id) const;
    // The view-managed children whose visible flag is set.
    [[nodiscard]] std::set<std::string> Shown() const;
    [[nodiscard]] static std::string Join(const std::set<std::string>& names);

    [[nodiscard]] LUpdateEngineInterface& Engine() const;
    [[nodiscard]] LUpdateProcessor& Processor() const { return *mProcessor; }
    [[nodiscard]] const ZT::RCPtr<ZT::LMainControl>& Main() const { return mMain; }
    [[nodiscard]] const ZT::RCPtr<ZT::LControlFactory>& Factory() const { return mFactory; }
    [[nodiscard]] LDeviceSimulator& Simulator() const { return *mSimulator; }
    [[nodiscard]] std::uint32_t GetLcid() const noexcept { return mLcid; }

private:
    void OnSleep();

    const std::uint32_t mLcid;
    const std::thread::id mUiThread = std::this_thread::get_id();
    CHookedClock mClock;
    std::filesystem::path mFolder;
    ZT::RCPtr<ZT::LNotificationCenter> mCenter;
    ZT::RCPtr<LDeviceSimulator> mSimulator;
    ZT::RCPtr<LUpdateProcessor> mProcessor;
    ZT::RCPtr<ZT::LControlFactory> mFactory;
    ZT::RCPtr<ZT::LMainControl> mMain;
    ZT::RCPtr<ZT::LRootWindow> mWindow;
    ZT::RCPtr<ZT::LControlPainter> mPainter;

    // The worker's stand-still in step mode.
    std::atomic<bool> mStepping{false};
    std::atomic<bool> mHeld{false};
    std::atomic<bool> mReleased{false};
};

} // namespace UpdaterScene
