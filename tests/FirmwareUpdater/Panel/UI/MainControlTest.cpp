// The window's main control on the simulated pair in virtual time, without a platform window: the
// view for each combination of the engine's states, the whole two-device update from one click,
// the menu's allow-downgrade item, and dropped files.

#include "FirmwareUpdater/Panel/Engine/UpdateProcessor.h"
#include "FirmwareUpdater/Panel/StartupResources.h"
#include "FirmwareUpdater/Panel/UI/ControlNames.h"
#include "FirmwareUpdater/Panel/UI/MainControl.h"
#include "FirmwareUpdater/Panel/UI/UpdaterTexts.h"
#include "ZTFramework/Application/FrameworkApp.h"
#include "ZTFramework/ControlBase/ControlFactory.h"
#include "ZTFramework/ControlBase/RootWindow.h"
#include "ZTFramework/ControlBase/WindowServices.h"
#include "ZTFramework/Controls/Label.h"
#include "ZTFramework/Controls/MainMenu.h"
#include "ZTFramework/Dialogs/FileDialog.h"
#include "ZTFramework/Notification/Notification.h"
#include "tests/FirmwareUpdater/Panel/Engine/UpdateEngineTestSupport.h"
#include "tests/Support/Printers.h"

#include <gtest/gtest.h>

#include <functional>

#include <algorithm>
#include <atomic>
#include <set>
#include <chrono>
#include <string>
#include <vector>

namespace {

using EngineTest::DeviceState;
using EngineTest::FirmwareFileState;
using EngineTest::UpdateRunState;
using ZT::RCPtr;
using ZT::WString;
namespace Names = MainControlNames;
namespace Texts = UpdaterTexts;

std::string Utf8(const WString& text)
{
    return text.ToUTF8();
}

// Records what the control asks of the platform window.
class FakeWindowServices final : public ZT::IWindowServices {
public:
    WString SetCursor(const WString& cursorName) override
    {
        mCursors.push_back(Utf8(cursorName));
        WString previous = mCursor;
        mCursor = cursorName;
        return previous;
    }
    void RepaintNow() override { ++mRepaints; }
    void SetCaption(const WString&) override {}
    bool ShowMessageBox(const WString& text, const WString&, MessageBoxIcon, MessageBoxButtons) override
    {
        mMessages.push_back(Utf8(text));
        return true;
    }
    RCPtr<ZT::IFileChooser> CreateFileChooser() override { return mChooser; }

    RCPtr<ZT::IFileChooser> mChooser;   // what the window hands out as the desktop's chooser
    WString mCursor{L"UI_CURSOR_ARROW"};
    std::vector<std::string> mCursors;
    std::vector<std::string> mMessages;
    int mRepaints = 0;
};

// Gives the file the test chose, or cancels.
class FakeChooser final : public ZT::IFileChooser {
public:
    Outcome ChooseFileToOpen(const Request& request, WString& path) override
    {
        mFilters.push_back(Utf8(request.mFilter));
        if (mUnavailable)
            return Outcome::Unavailable;
        if (mAnswer.IsEmpty())
            return Outcome::Cancelled;
        path = mAnswer;
        return Outcome::Chosen;
    }
    WString mAnswer;
    bool mUnavailable = false; // no chooser on the desktop
    std::vector<std::string> mFilters;
};

// The framework's application object with its exit request registered, as the program starts
// it: counts the exits it approves instead of ending a loop.
class ExitCounter {
public:
    ExitCounter()
    {
        EXPECT_RESULT_EQ(mApp->Startup(), ZT::S_OK);
        mApp->SetExitHandler([this] { ++mExits; });
    }
    ~ExitCounter() { mApp->Shutdown(); }
    ExitCounter(const ExitCounter&) = delete;
    ExitCounter& operator=(const ExitCounter&) = delete;
    [[nodiscard]] int Count() const { return mExits; }

private:
    RCPtr<ZT::LFrameworkApp> mApp = ZT::MakeRC<ZT::LFrameworkApp>();
    int mExits = 0;
};

// The view-managed children, in the order the failure messages list them.
const wchar_t* const kViewControls[] = {
    Names::kButtonUpdateFirmware, Names::kButtonScanForDevice, Names::kButtonExit, Names::kButtonReinitialize,
    Names::kButtonManualDeviceReady, Names::kButtonManualDeviceHasUpdated, Names::kButtonSelectFirmwareFile,
    Names::kButtonAbort, Names::kLabelDeviceInformation, Names::kLabelFirmwareFileInformation,
    Names::kLabelUpdateProcessInformation, Names::kLabelFileFirmwareVersion, Names::kLabelDeviceFirmwareVersion,
    Names::kLabelDeviceCannotUpdateError, Names::kProgressBar,
};

class MainControlTest : public EngineTest::EngineFixture {
protected:
    ~MainControlTest() override
    {
        if (mProcessor)
            (void)mProcessor->GetEngine()->WaitForUpdate(ZT::kShutdownJoinTimeoutMs);
        if (mWindow) {
            mWindow->SetWindowServices(nullptr);
            (void)mWindow->ReleaseInternalReferences();
        }
        mMain = nullptr;
        mWindow = nullptr;
        ZT::LMainControl::SetApplicationParts(nullptr, nullptr);
        mProcessor = nullptr;
    }

    // The processor's start (it scans), then the window as the application builds it.
    void Open(const wchar_t* commandLine = L"updater")
    {
        mProcessor = ZT::MakeRC<LUpdateProcessor>(LDualUpdater::GetUpdateTarget(), LDualUpdater::GetScanPreparer());
        ASSERT_FALSE(ZT::Failed(mProcessor->Initialize(WString(commandLine))));
        ZT::LMainControl::SetApplicationParts(mProcessor, nullptr);
        // As in the program, the scan's notifications are delivered before the window exists:
        // what the window shows first comes from its own start.
        Deliver();
        mFactory = CStartupResources::Load(WString(L"::"), 0x0409);
        ASSERT_RESULT_EQ(ZT::LMainControl::RegisterClass(*mFactory), ZT::S_OK);
        const RCPtr<ZT::LControl> root = mFactory->CreateControl(WString(Names::kMainControl));
        mMain = RCPtr<ZT::LMainControl>(dynamic_cast<ZT::LMainControl*>(root.Get()));
        ASSERT_TRUE(mMain) << "the skin's main control is not an LMainControl";
        mWindow = ZT::MakeRC<ZT::LRootWindow>();
        mWindow->SetWindowServices(&mServices);
        ASSERT_RESULT_EQ(mWindow->SetRootControl(root), ZT::S_OK);
        mServices.mChooser = mChooser;
        Deliver();
    }

    LUpdateEngineInterface& Engine() const { return *mProcessor->GetEngine(); }

    // Declared after the locals a clock hook uses: when the test leaves (an ASSERT included) it
    // lets the worker go, waits until it is idle and only then drops the hook, before those
    // locals go.
    struct HookGuard {
        MainControlTest& mTest;
        std::function<void()> mRelease;
        ~HookGuard()
        {
            if (mRelease)
                mRelease();
            if (mTest.mProcessor)
                (void)mTest.Engine().WaitForUpdate(ZT::kShutdownJoinTimeoutMs);
            mTest.mClock.mAfterSleep = nullptr;
        }
    };

    // Delivers the engine's notifications until no download runs and nothing is left to deliver:
    // the main control's handlers may start the next device's download meanwhile.
    void RunUntilSettled()
    {
        for (int round = 0; round < 20; ++round) {
            Deliver();
            ASSERT_RESULT_EQ(Engine().WaitForUpdate(ZT::kShutdownJoinTimeoutMs), ZT::S_OK) << "a download never ended";
            Deliver();
            // A handler may start the next download, which may end and post its completion while
            // the delivery is still running: settled means nothing runs and nothing is waiting.
            if (Engine().WaitForUpdate(0) == ZT::S_OK && Engine().GetDeviceState() != DeviceState::Updating &&
                mCenter->GetCount() == 0 && !mMain->GetSequence()->IsRunning())
                return;
        }
        FAIL() << "the update never settled: " << Engine().GetDeviceState();
    }

    RCPtr<ZT::LControl> Child(const wchar_t* name) const { return mMain->FindChildByName(WString(name)); }
    std::string TextOf(const wchar_t* name) const { return Utf8(Child(name)->GetText()); }
    std::string TableText(const wchar_t* control, const wchar_t* id) const
    {
        return Utf8(mFactory->GetResources()->GetText(
            WString(Names::kMainControlClass) + WString(L"|") + WString(control), WString(id)));
    }
    void Click(const wchar_t* name)
    {
        const RCPtr<ZT::LControl> button = Child(name);
        ASSERT_TRUE(button) << Utf8(WString(name));
        ASSERT_TRUE(button->IsVisible()) << "the user cannot click the hidden " << Utf8(WString(name)) << "; shown: "
                                         << ShownText();
        (void)button->LeftClick(ZT::MakeRC<ZT::LMouseEvent>(ZT::LMouseEvent::Button::Left, 1, 1));
    }
    std::set<std::string> Shown() const
    {
        std::set<std::string> shown;
        for (const wchar_t* name : kViewControls) {
            if (const RCPtr<ZT::LControl> child = Child(name); child && child->GetVisibleFlag())
                shown.insert(Utf8(WString(name)));
        }
        return shown;
    }
    std::string ShownText() const
    {
        std::string text;
        for (const std::string& name : Shown())
            text += name + " ";
        return text;
    }

    RCPtr<LUpdateProcessor> mProcessor;
    RCPtr<ZT::LControlFactory> mFactory;
    RCPtr<ZT::LMainControl> mMain;
    RCPtr<ZT::LRootWindow> mWindow;
    FakeWindowServices mServices;
    RCPtr<FakeChooser> mChooser = ZT::MakeRC<FakeChooser>();
};

// ---- The view for each combination -------------------------------------------------------------

TEST_F(MainControlTest, EachCombinationOfStatesShowsItsTextsAndOnlyItsControls)
{
    enum class Pair { None, Older, Current };
    struct Row {
        const char* what;
        Pair pair;
        bool alwaysUpdate;
        UpdateRunState r;
        DeviceState d;
        FirmwareFileState f;
        std::set<std::string> shown;
        const wchar_t* processTextId; // null: not checked
        const wchar_t* cannotUpdateId;
    };
    const auto known = FirmwareFileState::FileFoundVersionKnown;
    const Row rows[] = {
        {"no device", Pair::None, false, UpdateRunState::Idle, DeviceState::NoDeviceFound, known,
         {"labelDeviceInformation", "buttonScanForDevice", "buttonExit", "labelFileFirmwareVersion"}, nullptr, nullptr},
        {"older device", Pair::Older, false, UpdateRunState::Idle, DeviceState::DeviceNotInUpdateMode, known,
         {"labelDeviceInformation", "labelUpdateProcessInformation", "buttonUpdateFirmware", "buttonExit",
          "labelFileFirmwareVersion", "labelDeviceFirmwareVersion"},
         Texts::kLabelReadyForUpdate, nullptr},
        {"current device", Pair::Current, false, UpdateRunState::Idle, DeviceState::DeviceNotInUpdateMode, known,
         {"buttonExit", "labelFileFirmwareVersion", "labelDeviceFirmwareVersion", "labelDeviceCannotUpdateError"},
         nullptr, Texts::kLabelUpdateNotNeeded},
        {"current device, downgrade allowed", Pair::Current, true, UpdateRunState::Idle,
         DeviceState::DeviceNotInUpdateMode, known,
         {"labelDeviceInformation", "labelUpdateProcessInformation", "buttonUpdateFirmware", "buttonExit",
          "labelFileFirmwareVersion", "labelDeviceFirmwareVersion"},
         Texts::kLabelReadyForDowngradeUpdate, nullptr},
        {"file missing", Pair::Older, false, UpdateRunState::Idle, DeviceState::DeviceNotInUpdateMode,
         FirmwareFileState::FileInvalid, {"labelFirmwareFileInformation", "buttonExit", "buttonSelectFirmwareFile"},
         nullptr, nullptr},
        {"switching into update mode", Pair::Older, false, UpdateRunState::Idle, DeviceState::EnteringUpdateMode, known,
         {"labelUpdateProcessInformation", "buttonAbort", "labelFileFirmwareVersion"},
         nullptr, nullptr},
        {"download running", Pair::Older, false, UpdateRunState::Running, DeviceState::Updating, known,
         {"labelUpdateProcessInformation", "labelFileFirmwareVersion", "progressBar"}, Texts::kLabelUpdateInProgress,
         nullptr},
        {"succeeded, back at the new version", Pair::Current, false, UpdateRunState::Succeeded,
         DeviceState::DeviceNotInUpdateMode, known,
         {"labelUpdateProcessInformation", "buttonExit", "labelFileFirmwareVersion", "labelDeviceFirmwareVersion"},
         Texts::kLabelUpdateSucceeded, nullptr},
        {"succeeded, device not back", Pair::Current, false, UpdateRunState::Succeeded, DeviceState::NoDeviceFound,
         known,
         {"labelUpdateProcessInformation", "buttonExit", "buttonReinitialize",
          "buttonManualDeviceHasUpdatedRescanButton", "labelFileFirmwareVersion"},
         Texts::kLabelUpdateSuccessUnknown, nullptr},
        {"failed", Pair::Older, false, UpdateRunState::Failed, DeviceState::DeviceCannotBeUpdated, known,
         {"labelFirmwareFileInformation", "buttonExit", "buttonReinitialize", "labelFileFirmwareVersion",
          "labelDeviceCannotUpdateError"},
         nullptr, nullptr},
        {"cancelled", Pair::Older, false, UpdateRunState::Cancelled, DeviceState::DeviceInUpdateMode, known,
         {"labelUpdateProcessInformation", "buttonExit", "buttonReinitialize", "labelFileFirmwareVersion"},
         Texts::kLabelUpdateAborted, nullptr},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        if (row.pair != Pair::None) {
            AddController(row.pair == Pair::Older ? 0x0030 : 0x0031);
            AddDisplay(0x0050);
        }
        Open();
        (void)mProcessor->SetAlwaysUpdate(row.alwaysUpdate);
        mMain->RefreshControls(row.r, row.d, row.f);
        EXPECT_EQ(Shown(), row.shown) << "shown: " << ShownText();
        if (row.processTextId) {
            EXPECT_EQ(TextOf(Names::kLabelUpdateProcessInformation),
                      TableText(Names::kLabelUpdateProcessInformation, row.processTextId))
                << "expected " << Utf8(WString(row.processTextId));
        }
        if (row.cannotUpdateId) {
            EXPECT_EQ(TextOf(Names::kLabelDeviceCannotUpdateError),
                      TableText(Names::kLabelDeviceCannotUpdateError, row.cannotUpdateId))
                << "expected " << Utf8(WString(row.cannotUpdateId));
        }
        // The next row starts from a new window on a new bus.
        (void)mWindow->ReleaseInternalReferences();
        mWindow = nullptr;
        mMain = nullptr;
        mProcessor = nullptr;
        for (const auto& device : mSimulator->GetDevices())
            device->Unplug();
        LDualUpdater::ReleaseInstance();
    }
}

TEST_F(MainControlTest, AtStartTheWindowShowsTheScannedDeviceAndTheVersions)
{
    AddController(0x0030);
    AddDisplay(0x0049);
    Open();
    EXPECT_EQ(Engine().GetDeviceState(), DeviceState::DeviceNotInUpdateMode);
    EXPECT_TRUE(Child(Names::kButtonUpdateFirmware)->GetVisibleFlag()) << "shown: " << ShownText();
    EXPECT_EQ(TextOf(Names::kLabelUpdateProcessInformation),
              TableText(Names::kLabelUpdateProcessInformation, Texts::kLabelReadyForUpdate));
    // The dual updater writes both devices' versions.
    EXPECT_NE(TextOf(Names::kLabelDeviceFirmwareVersion).find("00.30"), std::string::npos)
        << TextOf(Names::kLabelDeviceFirmwareVersion);
    EXPECT_NE(TextOf(Names::kLabelDeviceFirmwareVersion).find("00.49"), std::string::npos)
        << TextOf(Names::kLabelDeviceFirmwareVersion);
    EXPECT_NE(TextOf(Names::kUpdaterVersionLabel).find_first_of("0123456789"), std::string::npos)
        << "no version in " << TextOf(Names::kUpdaterVersionLabel);
}

// ---- The update ------------------------------------------------------------------------------------

TEST_F(MainControlTest, OneClickUpdatesBothDevicesAndEndsWithTheSuccessText)
{
    const auto controller = AddController(0x0030);
    const auto display = AddDisplay(0x0049);
    Open();
    Click(Names::kButtonUpdateFirmware);
    RunUntilSettled();

    EXPECT_EQ(controller->GetFlashReleaseNumber(), std::optional<std::uint16_t>(0x0031));
    EXPECT_EQ(display->GetFlashReleaseNumber(), std::optional<std::uint16_t>(0x0050))
        << "the dual updater did not go on with the wheel display";
    EXPECT_EQ(display->GetMode(), SimulatedDeviceMode::Application)
        << "the wheel display was left in " << SimulatedDeviceModeName(display->GetMode());
    EXPECT_EQ(TextOf(Names::kLabelUpdateProcessInformation),
              TableText(Names::kLabelUpdateProcessInformation, Texts::kLabelUpdateSucceeded))
        << "run state " << Engine().GetUpdateRunState(false) << ", device " << Engine().GetDeviceState();
    EXPECT_TRUE(Child(Names::kButtonExit)->GetVisibleFlag()) << "shown: " << ShownText();
    EXPECT_FALSE(Child(Names::kButtonReinitialize)->GetVisibleFlag()) << "shown: " << ShownText();
    EXPECT_FALSE(mMain->IsAwaitingDeviceReset());
    EXPECT_EQ(TextOf(Names::kStatusBar), "") << "the status bar still shows a wait that is over";
    // Each switch into update mode and each wait for the restart showed the wait cursor, and
    // every one was put back.
    const auto waits = std::count(mServices.mCursors.begin(), mServices.mCursors.end(), "UI_CURSOR_WAIT");
    EXPECT_GE(waits, 4) << "wait cursors: " << waits;
    EXPECT_EQ(Utf8(mServices.mCursor), "UI_CURSOR_ARROW");
}

TEST_F(MainControlTest, ExitIsRefusedDuringTheDownloadAndSentAfterIt)
{
    AddController(0x0030);
    AddDisplay(0x0050);
    Open();
    // The application's own exit request handling, as the program has it: the loop would end
    // where the handler counts.
    const ExitCounter exits;
    const auto chooseExit = [&] {
        (void)mWindow->Send(ZT::CreateNotification(ZT::LMainControl::kNidMenuFileExitRequest));
        (void)mWindow->ProcessQueue(false);
        Deliver();
    };
    // The download runs once the click returns; the worker is held at its first sleep.
    // The worker waits at its first sleep while the user asks to leave.
    EngineTest::WorkerGate gate;
    const HookGuard guard{*this, [&] { gate.Open(); }};
    mClock.mAfterSleep = [&](std::uint64_t) {
        if (Engine().GetDeviceState() == DeviceState::Updating)
            gate.Hold();
    };
    Click(Names::kButtonUpdateFirmware);
    // The window's loop meanwhile: the end of the switch starts the download.
    const auto giveUp = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    bool held = false;
    while (!held && std::chrono::steady_clock::now() < giveUp) {
        Deliver();
        held = gate.WaitUntilHeld(std::chrono::milliseconds(1));
    }
    ASSERT_TRUE(held) << "the download never reached its first sleep; device " << Engine().GetDeviceState();
    chooseExit();
    EXPECT_EQ(exits.Count(), 0) << "the program would have ended while the firmware was being written";
    // The hook stays in place until the worker is idle: replacing it while the worker may call
    // it would race.
    gate.Open();
    RunUntilSettled();
    mClock.mAfterSleep = nullptr;
    chooseExit();
    EXPECT_EQ(exits.Count(), 1) << "File > Exit did not reach the application's exit request after the update";
}

// The switch into update mode runs on the worker while the click has long returned: the window
// answers, CANCEL stops the switch before anything is written, every other command and exit are
// refused meanwhile.
TEST_F(MainControlTest, CancelCanBeClickedDuringTheSwitchIntoUpdateModeAndNothingElseStarts)
{
    const auto controller = AddController(0x0030);
    AddDisplay(0x0049);
    Open();
    // The application's own exit request handling, as the program has it: the loop would end
    // where the handler counts.
    const ExitCounter exits;

    // The worker waits at its first sleep of the switch until the test lets it go.
    EngineTest::WorkerGate gate;
    const HookGuard guard{*this, [&] { gate.Open(); }};
    mClock.mAfterSleep = [&](std::uint64_t) {
        if (Engine().GetDeviceState() == DeviceState::EnteringUpdateMode)
            gate.Hold();
    };
    Click(Names::kButtonUpdateFirmware);
    // The click returned while the switch runs: this thread is the window's, free to answer.
    ASSERT_TRUE(gate.WaitUntilHeld(std::chrono::seconds(30)))
        << "the switch never reached its first sleep; device " << Engine().GetDeviceState();
    Deliver(); // the loop's idle step: EnteringUpdateMode reaches the view
    EXPECT_TRUE(Shown().contains("buttonAbort")) << "CANCEL was not shown during the switch; shown: " << ShownText();
    EXPECT_EQ(Utf8(mServices.mCursor), "UI_CURSOR_WAIT") << "no wait cursor during the switch";
    // Nothing else may start, nor may the program end, while the worker switches.
    (void)mWindow->Send(ZT::CreateNotification(ZT::LMainControl::kNidMenuFileExitRequest));
    (void)mWindow->Send(ZT::CreateNotification(ZT::LMainControl::kNidMenuOptionsAllowDowngrade));
    (void)mWindow->ProcessQueue(false);
    Click(Names::kButtonAbort);
    gate.Open();
    RunUntilSettled();

    EXPECT_EQ(exits.Count(), 0) << "the program would have ended while the device switched into update mode";
    EXPECT_FALSE(mProcessor->IsAlwaysUpdate()) << "a menu command ran during the switch";
    EXPECT_EQ(Engine().GetUpdateRunState(false), UpdateRunState::Cancelled)
        << "device " << Engine().GetDeviceState() << ": CANCEL did not stop the switch";
    EXPECT_EQ(controller->GetFlashReleaseNumber(), std::optional<std::uint16_t>(0x0030))
        << "the controller was written after CANCEL";
    EXPECT_EQ(TextOf(Names::kLabelUpdateProcessInformation),
              TableText(Names::kLabelUpdateProcessInformation, Texts::kLabelUpdateAborted));
    EXPECT_EQ(Utf8(mServices.mCursor), "UI_CURSOR_ARROW") << "the wait cursor was not put back";
}

TEST_F(MainControlTest, ADeviceThatDoesNotComeBackShowsTheUnknownOutcomeAndNextFinishesIt)
{
    const auto controller = AddController(0x0030);
    AddDisplay(0x0050);
    Open();
    // The controller stays off the bus after its restart, for longer than the 10 s wait.
    std::atomic<bool> pulled{false};
    const HookGuard guard{*this, nullptr};
    mClock.mAfterSleep = [&](std::uint64_t) {
        if (!pulled && Engine().GetUpdateRunState(false) == UpdateRunState::Succeeded) {
            pulled = true;
            controller->Unplug();
        }
    };
    Click(Names::kButtonUpdateFirmware);
    RunUntilSettled();
    ASSERT_TRUE(pulled) << "the controller never restarted with its new firmware";
    EXPECT_EQ(TextOf(Names::kLabelUpdateProcessInformation),
              TableText(Names::kLabelUpdateProcessInformation, Texts::kLabelUpdateSuccessUnknown))
        << "device " << Engine().GetDeviceState() << ", run " << Engine().GetUpdateRunState(false);
    EXPECT_TRUE(Child(Names::kButtonManualDeviceHasUpdated)->GetVisibleFlag()) << "shown: " << ShownText();
    EXPECT_TRUE(Child(Names::kButtonReinitialize)->GetVisibleFlag()) << "shown: " << ShownText();

    // Plugged in again: NEXT shows the final result.
    mClock.mAfterSleep = nullptr;
    controller->Plug();
    Click(Names::kButtonManualDeviceHasUpdated);
    EXPECT_EQ(TextOf(Names::kLabelUpdateProcessInformation),
              TableText(Names::kLabelUpdateProcessInformation, Texts::kLabelUpdateSucceeded))
        << "device " << Engine().GetDeviceState();
}

TEST_F(MainControlTest, TryAgainAfterAPulledDeviceBringsItToTheNewFirmware)
{
    const auto controller = AddController(0x0030);
    AddDisplay(0x0050);
    Open();
    // Pulled in the middle of the download.
    std::atomic<bool> pulled{false};
    const HookGuard guard{*this, nullptr};
    mClock.mAfterSleep = [&](std::uint64_t) {
        if (!pulled && Engine().GetDeviceState() == DeviceState::Updating &&
            controller->GetMode() == SimulatedDeviceMode::Bootloader) {
            pulled = true;
            controller->Unplug();
        }
    };
    Click(Names::kButtonUpdateFirmware);
    RunUntilSettled();
    mClock.mAfterSleep = nullptr;
    ASSERT_TRUE(pulled) << "the download never ran";
    EXPECT_EQ(Engine().GetUpdateRunState(false), UpdateRunState::Failed);
    EXPECT_TRUE(Child(Names::kButtonReinitialize)->GetVisibleFlag()) << "shown: " << ShownText();

    controller->Plug();
    Click(Names::kButtonReinitialize);
    Deliver();
    if (Child(Names::kButtonUpdateFirmware)->GetVisibleFlag())
        Click(Names::kButtonUpdateFirmware);
    RunUntilSettled();
    EXPECT_EQ(controller->GetFlashReleaseNumber(), std::optional<std::uint16_t>(0x0031))
        << "device " << Engine().GetDeviceState() << ", shown: " << ShownText();
    EXPECT_EQ(controller->GetMode(), SimulatedDeviceMode::Application);
}

// The failure text is the string table's, word for word; one line under it says where the update broke.
// A new attempt takes that line away.
TEST_F(MainControlTest, AStalledBlockShowsItsBlockAddressAndStatusUnderTheFailureText)
{
    const auto controller = AddController(0x0030);
    AddDisplay(0x0050);
    SimulatedDeviceFaults faults;
    faults.stallAfterBlocks = 5;
    controller->SetFaults(faults);
    Open();
    Click(Names::kButtonUpdateFirmware);
    RunUntilSettled();
    ASSERT_EQ(Engine().GetUpdateRunState(false), UpdateRunState::Failed) << "shown: " << ShownText();
    ASSERT_TRUE(Child(Names::kLabelDeviceCannotUpdateError)->GetVisibleFlag()) << "shown: " << ShownText();
    const std::string tableText =
        TableText(Names::kLabelDeviceCannotUpdateError, Texts::kLabelDeviceDeviceAccessFailure);
    EXPECT_EQ(TextOf(Names::kLabelDeviceCannotUpdateError),
              tableText + "\nwriting block 6 (0x0800B000): data request: Pipe, dfuERROR/errSTALLEDPKT");

    controller->SetFaults({});
    Click(Names::kButtonReinitialize);
    Deliver();
    EXPECT_EQ(mMain->GetFailureLine(), "") << "the last attempt's failure still shows after TRY AGAIN";
    EXPECT_EQ(TextOf(Names::kLabelDeviceCannotUpdateError).find("writing block"), std::string::npos)
        << TextOf(Names::kLabelDeviceCannotUpdateError);
}

// ---- Menu and files ----------------------------------------------------------------------------------

TEST_F(MainControlTest, TheAllowDowngradeItemTogglesTheProcessorAndShowsItsMark)
{
    AddController(0x0031);
    AddDisplay(0x0050);
    Open();
    const auto menu = RCPtr<ZT::LMainMenu>(dynamic_cast<ZT::LMainMenu*>(Child(Names::kMainMenu).Get()));
    ASSERT_TRUE(menu);
    ASSERT_EQ(menu->GetMenus().size(), 2u);
    const auto checked = [&] {
        EXPECT_RESULT_EQ(menu->UpdateMenuStates(1), ZT::S_OK);
        return menu->GetMenus()[1].mItems[0].mState.mChecked;
    };
    EXPECT_FALSE(checked());
    EXPECT_FALSE(Child(Names::kButtonUpdateFirmware)->GetVisibleFlag()) << "the device needs nothing";

    EXPECT_RESULT_EQ(menu->ChooseItem(1, 0), ZT::S_OK);
    EXPECT_TRUE(mProcessor->IsAlwaysUpdate()) << "the item did not reach the processor";
    EXPECT_TRUE(checked()) << "the item is not checked while downgrades are allowed";
    EXPECT_TRUE(Child(Names::kButtonUpdateFirmware)->GetVisibleFlag()) << "shown: " << ShownText();
    EXPECT_EQ(TextOf(Names::kLabelUpdateProcessInformation),
              TableText(Names::kLabelUpdateProcessInformation, Texts::kLabelReadyForDowngradeUpdate));

    EXPECT_RESULT_EQ(menu->ChooseItem(1, 0), ZT::S_OK);
    EXPECT_FALSE(mProcessor->IsAlwaysUpdate());
    EXPECT_FALSE(checked());
    EXPECT_FALSE(Child(Names::kButtonUpdateFirmware)->GetVisibleFlag());
}

TEST_F(MainControlTest, ADroppedDfuFileIsSelectedAndAnyOtherIsRefusedWithAMessage)
{
    AddController(0x0030);
    AddDisplay(0x0050);
    Open();
    const std::filesystem::path chosen = mFolder / "Chosen.DFU";
    (void)mTemp.Write("Chosen.DFU", std::vector<std::uint8_t>{1, 2, 3});
    const std::filesystem::path text = mFolder / "notes.txt";
    (void)mTemp.Write("notes.txt", std::vector<std::uint8_t>{1});

    ASSERT_RESULT_EQ(mWindow->DropFile(WString(text.string().c_str())), ZT::S_OK);
    WString path;
    (void)Engine().GetFirmwareFilePath(path);
    EXPECT_NE(Utf8(path), text.string()) << "the .txt file was taken";
    ASSERT_EQ(mServices.mMessages.size(), 1u) << "no message for the refused file";
    EXPECT_NE(mServices.mMessages[0].find("notes.txt"), std::string::npos) << mServices.mMessages[0];
    EXPECT_NE(mServices.mMessages[0].find("*.dfu"), std::string::npos) << mServices.mMessages[0];

    ASSERT_RESULT_EQ(mWindow->DropFile(WString(chosen.string().c_str())), ZT::S_OK);
    Deliver();
    (void)Engine().GetFirmwareFilePath(path);
    EXPECT_EQ(Utf8(path), chosen.string()) << "the dropped .dfu file was not selected";
    EXPECT_EQ(mServices.mMessages.size(), 1u) << "a message for an accepted file: " << mServices.mMessages.back();
}

TEST_F(MainControlTest, OpenFileShowsWithoutAUsableFileAndTakesTheChosenOne)
{
    AddController(0x0030);
    AddDisplay(0x0050);
    Open();
    EXPECT_FALSE(Child(Names::kButtonSelectFirmwareFile)->GetVisibleFlag()) << "OPEN FILE beside a usable file";
    ASSERT_RESULT_EQ(Engine().SetFirmwareFile(WString((mFolder / "missing.dfu").string().c_str())), ZT::E_FAIL);
    Deliver();
    EXPECT_TRUE(Child(Names::kButtonSelectFirmwareFile)->GetVisibleFlag()) << "shown: " << ShownText();
    EXPECT_FALSE(Child(Names::kButtonUpdateFirmware)->GetVisibleFlag());

    Click(Names::kButtonSelectFirmwareFile); // the user cancels
    ASSERT_EQ(mChooser->mFilters.size(), 1u);
    EXPECT_NE(mChooser->mFilters[0].find("*.dfu"), std::string::npos) << mChooser->mFilters[0];
    EXPECT_EQ(Engine().GetFirmwareFileState(), FirmwareFileState::FileInvalid) << "cancelling changed the file";
    EXPECT_TRUE(mServices.mMessages.empty()) << "a message after the user cancelled: " << mServices.mMessages.front();

    // Nothing on the desktop can ask: a message says how else to give the file.
    mChooser->mUnavailable = true;
    Click(Names::kButtonSelectFirmwareFile);
    ASSERT_EQ(mServices.mMessages.size(), 1u) << "OPEN FILE without any file chooser told the user nothing";
    WString expected;
    ASSERT_TRUE(mFactory->GetResources()->GetApplicationStringTable()->GetString(WString(Texts::kNoFileChooser), expected));
    EXPECT_EQ(mServices.mMessages[0], Utf8(expected)) << "not the table's text";
    EXPECT_NE(mServices.mMessages[0].find("-ABSOLUTE_FIRMWARE_FILE_PATH="), std::string::npos) << mServices.mMessages[0];
    mChooser->mUnavailable = false;

    mChooser->mAnswer = WString((mFolder / kControllerDevice.FirmwareFileName).string().c_str());
    Click(Names::kButtonSelectFirmwareFile);
    Deliver();
    EXPECT_EQ(Engine().GetFirmwareFileState(), FirmwareFileState::FileFoundVersionKnown);
    EXPECT_FALSE(Child(Names::kButtonSelectFirmwareFile)->GetVisibleFlag()) << "shown: " << ShownText();
    EXPECT_TRUE(Child(Names::kButtonUpdateFirmware)->GetVisibleFlag()) << "shown: " << ShownText();
}

} // namespace
