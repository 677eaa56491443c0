#include "FirmwareUpdater/Panel/Application.h"

#include "FirmwareUpdater/Panel/Engine/DualUpdater.h"
#include "FirmwareUpdater/Panel/UI/MainControl.h"
#include "ZTFramework/Application/TerminationSignals.h"
#include "ZTFramework/Debug/DebugLine.h"
#include "ZTFramework/Errors/Exception.h"
#include "ZTFramework/Threads/Thread.h"

#include <utility>

using ZT::ZTRESULT;

std::string LApplication::GetWindowClassName()
{
    // The family name's text stands as it is in the product's own resources.
    return std::string("Halvard") + "_" + "DEVICE_FAMILY_NAME_String" + "_FirmwareUpdater";
}

ZTRESULT LApplication::RegisterControlClasses(ZT::LControlFactory& factory)
{
    return ZT::LMainControl::RegisterClass(factory);
}

bool LApplication::IsQuitResult(ZTRESULT result) noexcept
{
    switch (static_cast<std::uint32_t>(result)) {
    case 0x8000A000u:
    case 0x8000A001u:
    case 0x8000A002u:
    case 0x8000A003u:
    case 0x8000A010u:
    case 0x8000A020u:
        return true;
    default:
        return false;
    }
}

LApplication::LApplication(ZT::WString commandLine, ZT::CApplicationFolders folders, ZT::WString companyName,
                           ZT::WString productName, CProgressPrinter* printer)
    : mCommandLine(std::move(commandLine)), mFolders(std::move(folders)), mCompanyName(std::move(companyName)),
      mProductName(std::move(productName)), mPrinter(printer)
{
}

LApplication::~LApplication()
{
    Shutdown();
}

ZTRESULT LApplication::Startup()
{
    // The framework first: pooling, the exit request and its key.
    if (!mFramework) {
        mFramework = ZT::MakeRC<ZT::LFrameworkApp>();
        const ZTRESULT started = mFramework->Startup();
        if (ZT::Failed(started))
            return started;
        mFramework->SetExitCheck([this] { return CanExit(); });
    }
    // The dual updater chooses the device the processor's engine updates.
    mProcessor = ZT::MakeRC<LUpdateProcessor>(LDualUpdater::GetUpdateTarget(), LDualUpdater::GetScanPreparer());
    // Until a window shows, this run does the main control's part.
    mSequence = ZT::MakeRC<LUpdateSequence>(mProcessor->GetEngine());
    mRun = ZT::MakeRC<LCommandLineRun>(mProcessor->GetEngine(), mSequence, mPrinter);
    mRun->Attach();
    mProcessor->SetHost(mRun.Get());
    ZT::LMainControl::SetApplicationParts(mProcessor, mRun.Get()); // the window's main control, when one shows
    if (mControlFactory && !mControlFactory->IsControlClassRegistered(ZT::WString(L"FirmwareUpdater.MainControl")))
        ZT_THROW_IF_FAILED(RegisterControlClasses(*mControlFactory), "LApplication::Startup");
    if (mSignals) {
        LUpdateSequence* const sequence = mSequence.Get();
        mSignals->SetListener([this, sequence](int signalNumber, std::uint32_t count) {
            sequence->OnTerminationSignal(signalNumber, count);
            const std::lock_guard lock(mTerminationHookMutex);
            if (mTerminationHook)
                mTerminationHook();
        });
    }

    const ZTRESULT result = mProcessor->Initialize(mCommandLine);
    if (ZT::Failed(result))
        return result;
    return ZT::S_OK;
}

void LApplication::FinishWithoutWindow()
{
    if (!mProcessor || !mRun)
        return;
    LCommandLineRun::DeliverNotifications();
    mRun->WaitForUpdate();
}

void LApplication::Shutdown()
{
    if (mSettingsManager)
        (void)mSettingsManager->CloseAll(); // a file that cannot be written is logged by the manager
    if (mSignals)
        mSignals->SetListener({}); // returns once the run is no longer being told anything
    if (mProcessor) {
        mProcessor->SetHost(nullptr);
        // A running download holds the engine itself, so releasing the processor would not wait
        // for it: the process would end with the device half-written. Wait here instead.
        const ZT::RCPtr<LUpdateEngineInterface> engine = mProcessor->GetEngine();
        if (ZT::Failed(engine->WaitForUpdate(ZT::kShutdownJoinTimeoutMs)))
            ZT::CDebugLine() << "Application: the download still runs after " << ZT::kShutdownJoinTimeoutMs
                             << " ms; it is left to end by itself";
    }
    ZT::LMainControl::SetApplicationParts(nullptr, nullptr);
    if (mRun) {
        mRun->Detach();
        mRun = nullptr;
    }
    if (mSequence) {
        mSequence->Detach();
        mSequence = nullptr;
    }
    // The engine goes with the processor; its idle worker is joined then.
    mProcessor = nullptr;
    if (mFramework) {
        mFramework->Shutdown();
        mFramework = nullptr;
    }
}

bool LApplication::CanExit() const
{
    // The worker is busy during the download and during the switch into update mode; leaving
    // during either could leave the device without its firmware. Between the two devices the
    // sequence runs on: it decides what becomes of the second one (after a signal: nothing).
    return !mProcessor || (mProcessor->IsNotUpdating() && !mProcessor->GetEngine()->IsWorkerBusy() &&
                           !(mSequence && mSequence->IsRunning()));
}

ZT::CApplicationSettingsFiles& LApplication::GetSettingsFiles()
{
    if (!mSettingsFiles) {
        mSettingsManager = ZT::MakeRC<ZT::LIniFileManager>();
        mSettingsFiles = std::make_unique<ZT::CApplicationSettingsFiles>(
            *mSettingsManager, mFolders.GetFolder(ZT::CApplicationFolders::kAppSettingsFolder),
            mFolders.GetFolder(ZT::CApplicationFolders::kUserSettingsFolder), mCompanyName, mProductName,
            ZT::WString(kSettingsVersion));
    }
    return *mSettingsFiles;
}

ZT::StartupSettings LApplication::OpenSettings()
{
    ZT::CApplicationSettingsFiles& files = GetSettingsFiles();
    ZT::StartupSettings settings;
    const ZTRESULT opened =
        ZT::OpenSettingsAtStartup(*mSettingsManager, files, ZT::WString(GetWindowClassName().c_str()), settings);
    if (ZT::Failed(opened))
        ZT::CDebugLine() << "Settings: " << files.GetAppSettingsPath().ToUTF8() << " or "
                         << files.GetUserSettingsPath().ToUTF8() << " could not be opened or written ("
                         << ZT::ResultToText(opened) << "); the defaults serve";
    return settings;
}

bool LApplication::SaveWindowPlacement(const ZT::WindowPlacement& placement)
{
    ZT::CApplicationSettingsFiles& files = GetSettingsFiles();
    const ZTRESULT saved =
        ZT::SaveWindowPlacement(*mSettingsManager, files, ZT::WString(GetWindowClassName().c_str()), placement);
    if (ZT::Failed(saved)) {
        ZT::CDebugLine() << "Settings: the window's placement could not be written to "
                         << files.GetUserSettingsPath().ToUTF8() << " (" << ZT::ResultToText(saved) << ")";
        return false;
    }
    return true;
}

void LApplication::SetTerminationHook(std::function<void()> hook)
{
    const std::lock_guard lock(mTerminationHookMutex);
    mTerminationHook = std::move(hook);
}
