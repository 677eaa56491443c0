#include "FirmwareUpdater/Panel/UI/MainControl.h"

#include "FirmwareUpdater/Panel/CommandLineRun.h"
#include "FirmwareUpdater/Panel/Engine/DeviceStateChangeNotificationData.h"
#include "FirmwareUpdater/Panel/Engine/DualUpdater.h"
#include "FirmwareUpdater/Panel/Engine/FirmwareFileStateChangeNotificationData.h"
#include "FirmwareUpdater/Panel/Engine/FirmwareUpdateCompletedNotificationData.h"
#include "FirmwareUpdater/Panel/Engine/FirmwareUpdateProgressNotificationData.h"
#include "FirmwareUpdater/Panel/Engine/UpdateProcessor.h"
#include "FirmwareUpdater/Panel/UI/ControlNames.h"
#include "FirmwareUpdater/Panel/UI/MainControlView.h"
#include "FirmwareUpdater/Panel/UI/UpdaterTexts.h"
#include "FirmwareUpdater/Panel/ProgressPrinter.h"
#include "ProductInfo.h"
#include "ZTFramework/ControlBase/ControlFactory.h"
#include "ZTFramework/ControlBase/ControlNotificationIDs.h"
#include "ZTFramework/ControlBase/RootWindow.h"
#include "ZTFramework/ControlBase/WindowServices.h"
#include "ZTFramework/Controls/Label.h"
#include "ZTFramework/Controls/MainMenu.h"
#include "ZTFramework/Controls/ProgressBar.h"
#include "ZTFramework/Debug/DebugLine.h"
#include "ZTFramework/Dialogs/FileChooser.h"
#include "ZTFramework/Errors/Exception.h"
#include "ZTFramework/Notification/Notification.h"
#include "ZTFramework/Notification/NotificationCenterManager.h"
#include "ZTFramework/Resources/StringTable.h"
#include "ZTFramework/Time/Clock.h"

#include <stdexcept>
#include <thread>
#include <utility>

namespace ZT {

namespace {

namespace Names = MainControlNames;
namespace Texts = UpdaterTexts;

// Every handler reports the notification as handled.
constexpr ZTRESULT kHandled{1};
// The transition animation's step per periodic update, and its end.
constexpr double kTransitionStep = 2.0;
constexpr double kTransitionEnd = 100.0;
constexpr const wchar_t* kWaitCursor = L"UI_CURSOR_WAIT";
constexpr const wchar_t* kArrowCursor = L"UI_CURSOR_ARROW";
constexpr const char* kWhere = "ZT::LMainControl::Initialize";

RCPtr<LUpdateProcessor>& ApplicationProcessor()
{
    static RCPtr<LUpdateProcessor> processor;
    return processor;
}

LCommandLineRun*& WindowlessRun()
{
    static LCommandLineRun* run = nullptr;
    return run;
}

template <class T>
RCPtr<T> As(const RCPtr<LControl>& control)
{
    return RCPtr<T>(dynamic_cast<T*>(control.Get()));
}

bool EndsWithNoCase(const WString& text, const wchar_t* suffix)
{
    const WString lower = text.ToLower();
    const WString end = WString(suffix).ToLower();
    return lower.GetLength() >= end.GetLength() && lower.Mid(lower.GetLength() - end.GetLength()) == end;
}

} // namespace

RCPtr<LControl> LMainControl::Create()
{
    return MakeRC<LMainControl>();
}

ZTRESULT LMainControl::RegisterClass(LControlFactory& factory)
{
    return factory.RegisterControlClass(WString(Names::kMainControlClass), &LMainControl::Create);
}

void LMainControl::SetApplicationParts(RCPtr<LUpdateProcessor> processor, LCommandLineRun* windowlessRun)
{
    ApplicationProcessor() = std::move(processor);
    WindowlessRun() = windowlessRun;
}

LMainControl::LMainControl() = default;

LMainControl::~LMainControl()
{
    if (mHostOfDualUpdater)
        LDualUpdater::SetHost(nullptr);
}

// ---- Creation ------------------------------------------------------------------------------------

RCPtr<LControl> LMainControl::FindRequired(const wchar_t* name) const
{
    RCPtr<LControl> control = FindChildByName(WString(name));
    if (!control)
        ZT_THROW_NULL_POINTER("LMainControl couldn't find " + WString(name).ToUTF8(), kWhere);
    return control;
}

RCPtr<LControl> LMainControl::FindOptional(const wchar_t* name) const
{
    return FindChildByName(WString(name));
}

void LMainControl::RegisterClick(const RCPtr<LControl>& button, Handler handler)
{
    if (!button)
        return;
    ZT_THROW_IF_FAILED(mNotificationHandler->AddHandler(handler, 0, button.Get(), ControlNotificationIDs::kLeftClick),
                       kWhere);
}

ZTRESULT LMainControl::Initialize()
{
    const ZTRESULT base = LControl::Initialize();
    if (Failed(base))
        return base;
    mUpdateProcessor = ApplicationProcessor();
    if (!mUpdateProcessor) {
        DebugLine("LMainControl: no update processor was given to the window");
        return E_FAIL;
    }

    // 1. The engine's notifications.
    mNotificationHandler = MakeRC<LNotificationHandler<LMainControl>>(this);
    const RCPtr<LNotificationCenter> center = LNotificationCenterManager::GetInstance()->GetCenter(
        WString(LUpdateEngineInterface::kApplicationCenterName));
    const std::pair<Handler, const wchar_t*> engineHandlers[] = {
        {&LMainControl::OnDeviceStateChange, LUpdateEngineInterface::kNidDeviceStateChange},
        {&LMainControl::OnFileStateChange, LUpdateEngineInterface::kNidFirmwareFileStateChange},
        {&LMainControl::OnFoundDeviceListChange, LUpdateEngineInterface::kNidFoundDeviceListChange},
        {&LMainControl::OnProgress, LUpdateEngineInterface::kNidFirmwareUpdateProgress},
        {&LMainControl::OnCompleted, LUpdateEngineInterface::kNidFirmwareUpdateCompleted},
    };
    for (const auto& [handler, id] : engineHandlers)
        ZT_THROW_IF_FAILED(mNotificationHandler->AddHandler(handler, 0, center.Get(), id), kWhere);

    // 2. The children, and the buttons' clicks.
    mButtonExit = FindRequired(Names::kButtonExit);
    RegisterClick(mButtonExit, &LMainControl::OnExitRequest);
    mButtonUpdateFirmware = FindRequired(Names::kButtonUpdateFirmware);
    RegisterClick(mButtonUpdateFirmware, &LMainControl::OnUpdateFirmware);
    mButtonReinitialize = FindRequired(Names::kButtonReinitialize);
    RegisterClick(mButtonReinitialize, &LMainControl::OnTryAgain);
    mButtonScanForDevice = FindOptional(Names::kButtonScanForDevice);
    RegisterClick(mButtonScanForDevice, &LMainControl::OnScan);
    mButtonManualDeviceReady = FindOptional(Names::kButtonManualDeviceReady);
    RegisterClick(mButtonManualDeviceReady, &LMainControl::OnManualDeviceReady);
    mButtonManualDeviceHasUpdated = FindOptional(Names::kButtonManualDeviceHasUpdated);
    RegisterClick(mButtonManualDeviceHasUpdated, &LMainControl::OnDeviceHasUpdated);
    mButtonSelectFirmwareFile = FindOptional(Names::kButtonSelectFirmwareFile);
    RegisterClick(mButtonSelectFirmwareFile, &LMainControl::OnSelectFile);
    mButtonAbort = FindOptional(Names::kButtonAbort);
    RegisterClick(mButtonAbort, &LMainControl::OnAbort);

    const auto requiredLabel = [this](const wchar_t* name) {
        RCPtr<LLabel> label = As<LLabel>(FindRequired(name));
        if (!label)
            ZT_THROW(Runtime, "LMainControl's " + WString(name).ToUTF8() + " is not a label", kWhere);
        return label;
    };
    mLabelDeviceInformation = requiredLabel(Names::kLabelDeviceInformation);
    mLabelFirmwareFileInformation = requiredLabel(Names::kLabelFirmwareFileInformation);
    mLabelUpdateProcessInformation = requiredLabel(Names::kLabelUpdateProcessInformation);
    mLabelFileFirmwareVersion = requiredLabel(Names::kLabelFileFirmwareVersion);
    mLabelDeviceFirmwareVersion = requiredLabel(Names::kLabelDeviceFirmwareVersion);
    mLabelDeviceCannotUpdateError = requiredLabel(Names::kLabelDeviceCannotUpdateError);
    mProgressBar = As<LProgressBar>(FindRequired(Names::kProgressBar));
    if (!mProgressBar)
        ZT_THROW(Runtime, "LMainControl's progressBar is not a progress bar", kWhere);
    const RCPtr<LLabel> versionLabel = requiredLabel(Names::kUpdaterVersionLabel);

    // 3. The optional state controls.
    mControlTransitioningToUpdateMode = As<LProgressBar>(FindOptional(Names::kControlTransitioningToUpdateMode));
    mLabelDeviceNotFound = FindOptional(Names::kLabelDeviceNotFound);

    // 4. The program's version, and the text of the switch into update mode.
    (void)versionLabel->SetTextFromDefault(WString(ZT_PRODUCT_VERSION));
    mTransitioningText = LabelText(WString(Names::kLabelUpdateProcessInformation),
                                   Texts::kLabelUpdateTransitioningToUpdateMode);

    // 5. The menu asks this control for its items' states.
    mMainMenu = As<LMainMenu>(FindOptional(Names::kMainMenu));
    if (mMainMenu)
        mMainMenu->SetCommandTarget(this);

    // 6. Only one of the window and the windowless run hosts the update sequence: the window
    // takes the run's, or has its own without one.
    if (LCommandLineRun* run = WindowlessRun()) {
        run->Detach();
        mDetachedRun = run;
        mSequence = run->GetSequence();
        // The debug console shows the window's update as it showed the windowless run's.
        mPrinter = run->GetPrinter();
    } else {
        mSequence = MakeRC<LUpdateSequence>(mUpdateProcessor->GetEngine());
        mSequence->Attach();
    }
    (void)mSequence->SetHost(this); // the host before is none or the run's
    mDeviceState = Engine().GetDeviceState();
    mNoScanButton = !mButtonScanForDevice;

    // 7, 8.
    RefreshFromEngine();
    (void)LDualUpdater::CreateInstance(); // the class keeps the instance
    LDualUpdater::SetHost(this);
    mHostOfDualUpdater = true;
    // The dual updater writes both devices' versions only through its host: once more now that
    // it has one, or the window would show them only after the engine's next change.
    RefreshFromEngine();
    return S_OK;
}

void LMainControl::ProcessRootWindowAquired()
{
    LControl::ProcessRootWindowAquired();
    LRootWindow* window = GetRootWindow();
    if (!window)
        ZT_THROW(Runtime, "No Root Window!", "ZT::LMainControl::ProcessRootWindowAquired");
    if (!mNotificationHandler)
        return; // not initialised: nothing to route
    const std::pair<Handler, const wchar_t*> commands[] = {
        {&LMainControl::OnSelectFile, kNidMenuFileSelect},
        {&LMainControl::OnExitRequest, kNidMenuFileExitRequest},
        {&LMainControl::OnAllowDowngrade, kNidMenuOptionsAllowDowngrade},
        {&LMainControl::OnDropFile, ControlNotificationIDs::kDropFile},
    };
    for (const auto& [handler, id] : commands)
        ZT_THROW_IF_FAILED(mNotificationHandler->AddHandler(handler, 0, window, id),
                           "ZT::LMainControl::ProcessRootWindowAquired");
}

ZTRESULT LMainControl::QueryMenuItemState(NotificationID command, MenuItemState& state)
{
    if (command != InternNotificationID(kNidMenuOptionsAllowDowngrade) || !mUpdateProcessor)
        return S_FALSE;
    state.mChecked = mUpdateProcessor->IsAlwaysUpdate();
    return S_OK;
}

ZTRESULT LMainControl::HandleNotification(LNotificationDistributor* source, const RCPtr<LNotification>& notification)
{
    // The base control's own bindings (the idle notification) and this control's never share an ID.
    if (mNotificationHandler && notification) {
        const ZTRESULT handled = mNotificationHandler->Dispatch(source, notification);
        if (handled == kHandled)
            return handled;
    }
    return LControl::HandleNotification(source, notification);
}

ZTRESULT LMainControl::ReleaseInternalReferences()
{
    if (mHostOfDualUpdater) {
        LDualUpdater::SetHost(nullptr);
        mHostOfDualUpdater = false;
    }
    if (mSequence) {
        (void)mSequence->SetHost(nullptr); // the host before is this control
        if (!mDetachedRun)
            mSequence->Detach();
        mSequence = nullptr;
    }
    ++mTimerGeneration; // a timer the window still holds no longer reaches the sequence
    // The window goes (or never showed): the windowless run takes over again, so a download the
    // window leaves running is still followed to its end.
    if (mPrinter) {
        mPrinter->EndProgress();
        mPrinter = nullptr;
    }
    if (LCommandLineRun* run = std::exchange(mDetachedRun, nullptr); run && run == WindowlessRun())
        run->Attach();
    if (mMainMenu)
        mMainMenu->SetCommandTarget(nullptr);
    const ZTRESULT result = LControl::ReleaseInternalReferences();
    mNotificationHandler = nullptr;
    return result;
}

LUpdateEngineInterface& LMainControl::Engine() const
{
    return *mUpdateProcessor->GetEngine();
}

void LMainControl::SetFileChooser(RCPtr<IFileChooser> chooser)
{
    mFileChooser = std::move(chooser);
}

// ---- Texts ----------------------------------------------------------------------------------------

WString LMainControl::LabelText(const WString& labelName, const wchar_t* id) const
{
    WString text;
    const RCPtr<LControlFactory>& factory = GetControlFactory();
    const RCPtr<LStringTable> table = factory ? factory->GetStringTable(this, labelName) : nullptr;
    if (table)
        (void)table->GetString(WString(id), text); // a missing entry shows as empty
    return text;
}

bool LMainControl::LabelHasText(const WString& labelName, const wchar_t* id) const
{
    const RCPtr<LControlFactory>& factory = GetControlFactory();
    const RCPtr<LStringTable> table = factory ? factory->GetStringTable(this, labelName) : nullptr;
    return table && table->HasString(WString(id));
}

WString LMainControl::ApplicationText(const wchar_t* id, const WString& fallback) const
{
    const RCPtr<LControlFactory>& factory = GetControlFactory();
    const RCPtr<LStringTable> table = factory ? factory->GetResources()->GetApplicationStringTable() : nullptr;
    WString text;
    if (table && table->GetString(WString(id), text))
        return text;
    return fallback;
}

void LMainControl::SetDeviceInformationText(DeviceState deviceState)
{
    MainControlView::Inputs inputs;
    inputs.mDeviceState = deviceState;
    const wchar_t* id = MainControlView::Compute(inputs).mDeviceInformationId;
    mLabelDeviceInformation->SetText(id ? LabelText(mLabelDeviceInformation->GetName(), id)
                                        : mLabelDeviceInformation->GetDefaultText());
}

void LMainControl::SetFileInformationText(FirmwareFileState fileState)
{
    MainControlView::Inputs inputs;
    inputs.mFileState = fileState;
    if (const wchar_t* id = MainControlView::Compute(inputs).mFileInformationId)
        mLabelFirmwareFileInformation->SetText(LabelText(mLabelFirmwareFileInformation->GetName(), id));
}

void LMainControl::RefreshFileVersionText()
{
    WString version;
    if (Succeeded(Engine().GetFirmwareFileVersionText(version)))
        (void)mLabelFileFirmwareVersion->SetTextFromDefault(version); // a default text without "%s" stays
}

// ---- The view -------------------------------------------------------------------------------------

bool LMainControl::IsUpdateWanted() const
{
    return mUpdateProcessor && (mUpdateProcessor->IsAlwaysUpdate() || Engine().IsUpdateNeeded());
}

void LMainControl::RefreshFromEngine()
{
    LUpdateEngineInterface& engine = Engine();
    // While the next device switches, the run state still tells how the last device's download
    // ended: the switch is a new run.
    UpdateRunState run = engine.GetUpdateRunState(false);
    if (mSequence && mSequence->GetStep() == Step::Switching)
        run = UpdateRunState::Idle;
    RefreshControls(run, engine.GetDeviceState(), engine.GetFirmwareFileState());
}

void LMainControl::RefreshControls(UpdateRunState runState, DeviceState deviceState, FirmwareFileState fileState)
{
    LUpdateEngineInterface& engine = Engine();
    MainControlView::Inputs in;
    in.mRunState = runState;
    in.mDeviceState = deviceState;
    in.mFileState = fileState;
    in.mUpdateNeeded = engine.IsUpdateNeeded();
    in.mUpdateWanted = IsUpdateWanted();
    WString deviceVersion;
    const bool deviceVersionRead = Succeeded(engine.GetSelectedDeviceVersionText(deviceVersion));
    in.mDeviceVersionKnown = deviceVersionRead && !deviceVersion.IsEmpty() &&
                             deviceState == DeviceState::DeviceNotInUpdateMode &&
                             fileState == FirmwareFileState::FileFoundVersionKnown;
    (void)engine.GetDeviceErrorReason(in.mDeviceErrorReason); // 0 outside DeviceCannotBeUpdated
    in.mAwaitingDeviceReset = mAwaitingDeviceReset;
    in.mNoScanButton = mNoScanButton;
    in.mHasTransitioningAfterUpdateText = LabelHasText(mLabelUpdateProcessInformation->GetName(),
                                                       Texts::kLabelUpdateTransitioningAfterUpdate);
    const MainControlView::View view = MainControlView::Compute(in);

    // 1 to 6: the texts.
    mLabelDeviceInformation->SetText(view.mDeviceInformationId
                                         ? LabelText(mLabelDeviceInformation->GetName(), view.mDeviceInformationId)
                                         : mLabelDeviceInformation->GetDefaultText());
    if (view.mFileInformationId)
        mLabelFirmwareFileInformation->SetText(
            LabelText(mLabelFirmwareFileInformation->GetName(), view.mFileInformationId));
    switch (view.mProcessText.mKind) {
    case MainControlView::ProcessText::Kind::Id:
        mLabelUpdateProcessInformation->SetText(
            LabelText(mLabelUpdateProcessInformation->GetName(), view.mProcessText.mId));
        break;
    case MainControlView::ProcessText::Kind::Transitioning:
        mLabelUpdateProcessInformation->SetText(mTransitioningText);
        break;
    case MainControlView::ProcessText::Kind::Default:
        mLabelUpdateProcessInformation->SetText(mLabelUpdateProcessInformation->GetDefaultText());
        break;
    }
    if (deviceVersionRead)
        (void)mLabelDeviceFirmwareVersion->SetTextFromDefault(deviceVersion); // a default text without "%s" stays
    RefreshFileVersionText();
    // Under the failure text, one line of where the last update broke.
    WString cannotUpdateText = view.mCannotUpdateId
                                   ? LabelText(mLabelDeviceCannotUpdateError->GetName(), view.mCannotUpdateId)
                                   : mLabelDeviceCannotUpdateError->GetDefaultText();
    if (view.mCannotUpdateId && !mFailureLine.empty())
        cannotUpdateText += WString((std::string("\n") + mFailureLine).c_str());
    mLabelDeviceCannotUpdateError->SetText(cannotUpdateText);

    // 7, 8: which children show; absent optional ones are skipped.
    for (const MainControlView::Visibility& entry : view.mVisibility) {
        if (const RCPtr<LControl> child = FindChildByName(WString(entry.mName)))
            (void)child->SetVisible(entry.mShown); // returns the visibility just set
    }
    if (view.mResetTransitionAnimation && mControlTransitioningToUpdateMode &&
        !mControlTransitioningToUpdateMode->GetVisibleFlag())
        mControlTransitioningToUpdateMode->SetValue(0.0);
    // The animation moves in the periodic update while it shows.
    if (mControlTransitioningToUpdateMode) {
        const bool animate = view.mResetTransitionAnimation;
        if (animate && GetIdleNeedCount() == 0)
            (void)AddIdleNeed(); // fails only without a root window, which registers it later
        else if (!animate && GetIdleNeedCount() > 0)
            (void)RemoveIdleNeed(); // a counted need, checked above
    }

    // 9.
    LDualUpdater::RefreshLabels(runState, deviceState, fileState);
}

ZTRESULT LMainControl::ProcessIdle()
{
    if (mControlTransitioningToUpdateMode && mUpdateProcessor &&
        Engine().GetDeviceState() == DeviceState::EnteringUpdateMode) {
        double value = mControlTransitioningToUpdateMode->GetValue() + kTransitionStep;
        if (value > kTransitionEnd)
            value = 0.0;
        mControlTransitioningToUpdateMode->SetValue(value);
    }
    return S_OK;
}

// ---- The window's services ------------------------------------------------------------------------

void LMainControl::ShowWaitCursor(const WString& statusText)
{
    SetStatusText(statusText);
    LRootWindow* window = GetRootWindow();
    IWindowServices* services = window ? window->GetWindowServices() : nullptr;
    if (!services)
        return;
    const WString previous = services->SetCursor(WString(kWaitCursor));
    if (!mCursorShown) {
        mCursorToRestore = previous;
        mCursorShown = true;
    }
}

void LMainControl::RestoreCursor()
{
    // The wait is over: its text ("Waiting for Device Reset To Complete...") would be stale,
    // with or without a window to show the cursor.
    SetStatusText(WString());
    if (!mCursorShown)
        return;
    mCursorShown = false;
    LRootWindow* window = GetRootWindow();
    if (IWindowServices* services = window ? window->GetWindowServices() : nullptr)
        (void)services->SetCursor(mCursorToRestore); // returns the cursor it replaces
}

void LMainControl::SetStatusText(const WString& text)
{
    if (const RCPtr<LControl> statusBar = FindChildByName(WString(Names::kStatusBar)))
        statusBar->SetText(text);
}

// ---- The update ------------------------------------------------------------------------------------

void LMainControl::ContinueUpdateProcess()
{
    if (RefusedDuringSequenceStep("the update") || !mSequence)
        return;
    (void)mSequence->Start(); // a refusal is told and recorded by the sequence
    RefreshFromEngine();
}

bool LMainControl::RefusedDuringSequenceStep(const char* command) const
{
    if (!mSequence)
        return false;
    const Step step = mSequence->GetStep();
    if (step != Step::WaitingForWorker && step != Step::Switching && step != Step::WaitingForReturn &&
        step != Step::SendingBack && step != Step::Rescanning)
        return false;
    CDebugLine() << "LMainControl: " << command << " refused while the update sequence is in its step "
                 << ::ToString(step);
    return true;
}

// ---- The update sequence's host ----------------------------------------------------------------------

void LMainControl::Tell(const std::string& line)
{
    if (mPrinter)
        mPrinter->WriteLine(line);
    else
        DebugLine(line);
}

void LMainControl::OnDownloadEnded(bool succeeded)
{
    if (!mPrinter)
        return;
    // The last progress the download posts is that of its last block, short of 100 %.
    if (succeeded)
        mPrinter->Progress(LUpdateSequence::TargetName(), 1.0);
    mPrinter->EndProgress();
}

void LMainControl::OnStep(Step step)
{
    switch (step) {
    case Step::WaitingForWorker:
        return;
    case Step::Switching:
        mFailureLine.clear();
        // CANCEL shows beside the transition text while the worker switches the device.
        RefreshControls(UpdateRunState::Idle, DeviceState::EnteringUpdateMode, Engine().GetFirmwareFileState());
        ShowWaitCursor(ApplicationText(Texts::kWaitingForDeviceToEnterUpdateModeCursorTitle, WString()));
        return;
    case Step::Downloading:
        mFailureLine.clear();
        RestoreCursor();
        mAwaitingDeviceReset = true;
        mProgressBar->SetValue(0.0);
        mProgressBar->SetTimeUnknown(false);
        RefreshFromEngine();
        return;
    case Step::WaitingForReturn:
        ShowWaitCursor(WString(Texts::kWaitingForDeviceResetText));
        RefreshFromEngine();
        return;
    case Step::SendingBack:
        ShowWaitCursor(WString());
        return;
    case Step::Rescanning:
        // The worker looks for the other device; its states show as the engine posts them.
        ShowWaitCursor(WString());
        return;
    case Step::Idle: {
        mAwaitingDeviceReset = false;
        const LUpdateSequence::DeviceReport report = mSequence->GetDeviceReport(LUpdateSequence::TargetIndex());
        if (report.Result == LUpdateSequence::Outcome::Failed)
            mFailureLine = report.Failure.Format();
        RestoreCursor();
        RefreshFromEngine();
        return;
    }
    }
}

void LMainControl::SetTimer(std::uint32_t ms)
{
    const std::uint64_t generation = ++mTimerGeneration;
    LRootWindow* window = GetRootWindow();
    IWindowServices* const services = window ? window->GetWindowServices() : nullptr;
    const auto onDue = [this, generation] {
        if (generation == mTimerGeneration && mSequence)
            mSequence->OnTimer();
    };
    if (services && services->StartTimer(ms, onDue))
        return;
    // Without a loop of the window's own nobody delivers the timer: it is waited for here, on
    // the clock, one after the other (a timer asked for while one is delivered joins the line).
    mPendingTimerMs = ms;
    if (mDeliveringTimers)
        return;
    mDeliveringTimers = true;
    while (mPendingTimerMs) {
        const std::uint32_t wait = *std::exchange(mPendingTimerMs, std::nullopt);
        std::this_thread::yield(); // a worker about to end its task
        GetClock().SleepMs(wait);
        if (mSequence)
            mSequence->OnTimer();
        // What the step posted, as the window's idle step would deliver it.
        (void)LNotificationCenterManager::GetInstance()->ProcessAllQueues(false);
    }
    mDeliveringTimers = false;
}

ZTRESULT LMainControl::RefreshDeviceStep()
{
    ShowWaitCursor(WString());
    const ZTRESULT result = Engine().RefreshDevice();
    RestoreCursor();
    return result;
}

// ---- The engine's notifications ----------------------------------------------------------------------

ZTRESULT LMainControl::OnDeviceStateChange(LNotificationDistributor*, const RCPtr<LNotification>& notification)
{
    // The dual updater's probe engine posts into the same center: what counts is the main engine.
    const auto payload = notification->GetPayloadAs<LDeviceStateChangeNotificationData>();
    const DeviceState state = Engine().GetDeviceState();
    if (payload && payload->GetNewState() != state)
        return kHandled; // a stale or foreign change; a later one brings the current state
    SetDeviceInformationText(state);
    LRootWindow* window = GetRootWindow();
    IWindowServices* const services = window ? window->GetWindowServices() : nullptr;
    // The sequence's wait cursors stay until their step has ended.
    if (services && !(mSequence && mSequence->IsRunning()))
        (void)services->SetCursor(WString(kArrowCursor)); // returns the cursor it replaces
    if (state == DeviceState::DevicesAvailableNoneSelected) {
        // Only the first device is updated; the engine reports its state by a further change.
        (void)Engine().SelectDevice(0);
        DebugLine("LMainControl: several devices found; only the first connected device will be updated");
        return kHandled;
    }
    RefreshFromEngine();
    return kHandled;
}

ZTRESULT LMainControl::OnFileStateChange(LNotificationDistributor*, const RCPtr<LNotification>& notification)
{
    const auto payload = notification->GetPayloadAs<LFirmwareFileStateChangeNotificationData>();
    const FirmwareFileState state = payload ? payload->GetNewState() : Engine().GetFirmwareFileState();
    SetFileInformationText(state);
    if (state == FirmwareFileState::FileFoundVersionKnown)
        RefreshFileVersionText();
    RefreshFromEngine();
    return kHandled;
}

ZTRESULT LMainControl::OnFoundDeviceListChange(LNotificationDistributor*, const RCPtr<LNotification>&)
{
    return kHandled;
}

ZTRESULT LMainControl::OnProgress(LNotificationDistributor*, const RCPtr<LNotification>& notification)
{
    const auto payload = notification->GetPayloadAs<LFirmwareUpdateProgressNotificationData>();
    if (!payload)
        return kHandled;
    mProgressBar->SetValue(payload->GetFractionComplete());
    if (!payload->GetTimeUnknown())
        mProgressBar->SetSecondsRemaining(payload->GetSecondsRemaining());
    mProgressBar->SetTimeUnknown(payload->GetTimeUnknown());
    SetStatusText(payload->GetMessage());
    if (mPrinter)
        mPrinter->Progress(LUpdateSequence::TargetName(), payload->GetFractionComplete());
    // The refresh after StartUpdate may have run before the worker set Running (it then showed
    // the ready text and EXIT beside the bar), and the run state's change posts nothing: a
    // progress report is the first news that the download runs.
    RefreshFromEngine();
    return kHandled;
}

ZTRESULT LMainControl::OnCompleted(LNotificationDistributor*, const RCPtr<LNotification>&)
{
    // The update sequence waits for the device and goes on; its steps refresh the view.
    RefreshFromEngine();
    return kHandled;
}

// ---- Buttons and commands ----------------------------------------------------------------------------

ZTRESULT LMainControl::OnExitRequest(LNotificationDistributor*, const RCPtr<LNotification>&)
{
    if (RefusedDuringSequenceStep("exit"))
        return kHandled;
    // Leaving during a download could leave the device without firmware.
    if (!mUpdateProcessor->IsNotUpdating() || (mSequence && mSequence->IsRunning())) {
        DebugLine("LMainControl: exit refused while the firmware is being written");
        return kHandled;
    }
    // The application listens for its exit request on its own center; it ends the window's loop
    // once it agrees (it refuses, too, while a download runs).
    const RCPtr<LNotificationCenter> center = LNotificationCenterManager::GetInstance()->GetCenter(
        WString(LUpdateEngineInterface::kApplicationCenterName));
    if (const RCPtr<LNotification> exit = CreateNotification(InternNotificationID(kNidAppExitRequest)); exit && center)
        (void)center->Post(exit); // a center shutting down ends the program anyway
    return kHandled;
}

ZTRESULT LMainControl::OnUpdateFirmware(LNotificationDistributor*, const RCPtr<LNotification>&)
{
    if (RefusedDuringSequenceStep("UPDATE FIRMWARE"))
        return kHandled;
    ContinueUpdateProcess();
    return kHandled;
}

ZTRESULT LMainControl::OnTryAgain(LNotificationDistributor*, const RCPtr<LNotification>&)
{
    if (RefusedDuringSequenceStep("TRY AGAIN"))
        return kHandled;
    mFailureLine.clear(); // a new attempt: the last one's failure no longer stands
    (void)mUpdateProcessor->Reinitialize(); // its outcome shows in the engine's states
    mDeviceState = Engine().GetDeviceState();
    mNoScanButton = !FindChildByName(WString(Names::kButtonScanForDevice));
    RefreshFromEngine();
    (void)Engine().ScanForDevices(); // its outcome comes as a device state change
    return kHandled;
}

ZTRESULT LMainControl::OnScan(LNotificationDistributor*, const RCPtr<LNotification>&)
{
    if (RefusedDuringSequenceStep("SCAN"))
        return kHandled;
    (void)Engine().ScanForDevices(); // its outcome comes as a device state change
    return kHandled;
}

ZTRESULT LMainControl::OnManualDeviceReady(LNotificationDistributor*, const RCPtr<LNotification>&)
{
    if (RefusedDuringSequenceStep("the manual update-mode step"))
        return kHandled;
    if (Succeeded(RefreshDeviceStep()) && Engine().GetDeviceState() == DeviceState::DeviceInUpdateMode)
        ContinueUpdateProcess();
    return kHandled;
}

ZTRESULT LMainControl::OnDeviceHasUpdated(LNotificationDistributor*, const RCPtr<LNotification>&)
{
    if (RefusedDuringSequenceStep("the manual rescan"))
        return kHandled;
    ShowWaitCursor(ApplicationText(Texts::kWaitingForDeviceToEnterUpdateModeCursorTitle, WString()));
    const ZTRESULT result = Engine().RefreshDevice();
    if (Succeeded(result) && Engine().GetDeviceState() == DeviceState::DeviceNotInUpdateMode) {
        mAwaitingDeviceReset = false;
        RefreshFromEngine();
    }
    RestoreCursor();
    return kHandled;
}

ZTRESULT LMainControl::OnSelectFile(LNotificationDistributor*, const RCPtr<LNotification>&)
{
    if (RefusedDuringSequenceStep("OPEN FILE"))
        return kHandled;
    if (!mFileChooser) {
        if (IWindowServices* services = GetRootWindow() ? GetRootWindow()->GetWindowServices() : nullptr)
            mFileChooser = services->CreateFileChooser();
    }
    if (!mFileChooser) {
        DebugLine("LMainControl: no file chooser without a window");
        return kHandled;
    }
    IFileChooser::Request request;
    request.mTitle = ApplicationText(Texts::kSelectFirmwareFileDialogTitle, WString(L"Select Firmware File"));
    request.mFilter = ApplicationText(Texts::kSelectFirmwareFileDialogFileFilter, WString(L"Firmware Files (*.dfu)|*.dfu"));
    request.mDefaultExtension = ApplicationText(Texts::kSelectFirmwareFileDefaultFileExtension, WString(L"*.dfu"));
    WString path;
    switch (mFileChooser->ChooseFileToOpen(request, path)) {
    case IFileChooser::Outcome::Chosen: SelectFirmwareFile(path); break;
    case IFileChooser::Outcome::Cancelled: break;
    case IFileChooser::Outcome::Unavailable: {
        // Nothing could ask the user: say how else to give the file.
        LRootWindow* window = GetRootWindow();
        if (IWindowServices* services = window ? window->GetWindowServices() : nullptr) {
            const WString text = ApplicationText(
                Texts::kNoFileChooser,
                WString(L"No file chooser is available on this desktop (neither the desktop portal nor zenity). "
                        L"To choose a firmware file, drop it (*.dfu) on this window, or start the updater with "
                        L"-ABSOLUTE_FIRMWARE_FILE_PATH=<file>."));
            // Information only: nothing follows from it.
            (void)services->ShowMessageBox(text, request.mTitle, IWindowServices::MessageBoxIcon::Information,
                                           IWindowServices::MessageBoxButtons::Ok);
        }
        break;
    }
    }
    return kHandled;
}

void LMainControl::SelectFirmwareFile(const WString& path)
{
    // The engine's file-state notification refreshes the view.
    if (Failed(Engine().SetFirmwareFile(path)))
        CDebugLine() << "LMainControl: the firmware file " << path.ToUTF8() << " cannot be used";
}

ZTRESULT LMainControl::OnAbort(LNotificationDistributor*, const RCPtr<LNotification>&)
{
    // Only before anything is written: the button is hidden from the first erase on, and a click
    // that arrives late changes nothing.
    if (Engine().GetDeviceState() == DeviceState::EnteringUpdateMode)
        (void)Engine().CancelUpdate(); // refused only once nothing runs: a late click
    return kHandled;
}

ZTRESULT LMainControl::OnAllowDowngrade(LNotificationDistributor*, const RCPtr<LNotification>&)
{
    if (RefusedDuringSequenceStep("allow downgrade"))
        return kHandled;
    (void)mUpdateProcessor->SetAlwaysUpdate(!mUpdateProcessor->IsAlwaysUpdate()); // returns whether it was unchanged
    RefreshFromEngine();
    return kHandled;
}

ZTRESULT LMainControl::OnDropFile(LNotificationDistributor*, const RCPtr<LNotification>& notification)
{
    if (RefusedDuringSequenceStep("a dropped file"))
        return kHandled;
    const auto payload = notification->GetPayloadAs<LDroppedFile>();
    if (!payload)
        return kHandled;
    const WString& path = payload->GetPath();
    if (EndsWithNoCase(path, kFirmwareExtension)) {
        SelectFirmwareFile(path);
        return kHandled;
    }
    WString format = ApplicationText(kDroppedFileRefusedId, WString(L"%s is not a firmware file (*.dfu)."));
    WString text = format;
    if (const std::int32_t at = format.Find(L"%s"); at >= 0)
        text = format.Left(at) + path + format.Mid(at + 2);
    CDebugLine() << "LMainControl: refused the dropped file " << path.ToUTF8() << ": not a .dfu file";
    LRootWindow* window = GetRootWindow();
    if (IWindowServices* services = window ? window->GetWindowServices() : nullptr)
        // A warning only: nothing follows from it.
        (void)services->ShowMessageBox(text, ApplicationText(Texts::kSelectFirmwareFileDialogTitle, WString()),
                                       IWindowServices::MessageBoxIcon::Warning, IWindowServices::MessageBoxButtons::Ok);
    return kHandled;
}

// ---- The dual updater's host ------------------------------------------------------------------------

bool LMainControl::HasLabel(const WString& labelName)
{
    return static_cast<bool>(As<LLabel>(FindChildByName(labelName)));
}

bool LMainControl::GetLabelString(const WString& labelName, const WString& stringId, WString& text)
{
    if (!HasLabel(labelName))
        return false;
    const RCPtr<LControlFactory>& factory = GetControlFactory();
    const RCPtr<LStringTable> table = factory ? factory->GetStringTable(this, labelName) : nullptr;
    return table && table->GetString(stringId, text);
}

void LMainControl::SetLabelText(const WString& labelName, const WString& text)
{
    if (const RCPtr<LLabel> label = As<LLabel>(FindChildByName(labelName)))
        label->SetText(text);
}

void LMainControl::HideButton(const WString& buttonName)
{
    if (const RCPtr<LControl> button = FindChildByName(buttonName))
        (void)button->SetVisible(false); // returns the visibility just set
}

} // namespace ZT
