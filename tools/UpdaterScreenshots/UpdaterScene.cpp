#include "tools/UpdaterScreenshots/UpdaterScene.h"

#include "FirmwareUpdater/Panel/Engine/ApplicationFolder.h"
#include "FirmwareUpdater/Panel/Engine/BootloaderRoleRecord.h"
#include "FirmwareUpdater/Panel/Engine/DualUpdater.h"
#include "FirmwareUpdater/Panel/Engine/ProductDevice.h"
#include "FirmwareUpdater/Panel/Engine/UpdateProcessor.h"
#include "FirmwareUpdater/Panel/StartupResources.h"
#include "FirmwareUpdater/Panel/UI/ControlNames.h"
#include "FirmwareUpdater/Panel/UI/MainControl.h"
#include "ZTFramework/ControlBase/Layout.h"
#include "ZTFramework/ControlBase/MouseEvent.h"
#include "ZTFramework/Controls/ProgressBar.h"
#include "ZTFramework/Graphics/ControlPainter.h"
#include "ZTFramework/Midi/MidiComm.h"
#include "ZTFramework/Midi/MidiOutputBackend.h"
#include "ZTFramework/Notification/NotificationCenterManager.h"
#include "ZTFramework/Resources/ResourceSet.h"
#include "ZTFramework/Resources/SkinDefinitions.h"
#include "ZTFramework/Threads/Thread.h"
#include "ZTFramework/Usb/UsbBackend.h"
#include "tools/SimulationImagePlan.h"


#include <cstdlib>
#include <exception>
#include <fstream>
#include <system_error>

namespace UpdaterScene {

namespace Names = MainControlNames;
using ZT::RCPtr;
using ZT::WString;

const wchar_t* const kViewControls[15] = {
    Names::kButtonUpdateFirmware, Names::kButtonScanForDevice, Names::kButtonExit, Names::kButtonReinitialize,
    Names::kButtonManualDeviceReady, Names::kButtonManualDeviceHasUpdated, Names::kButtonSelectFirmwareFile,
    Names::kButtonAbort, Names::kLabelDeviceInformation, Names::kLabelFirmwareFileInformation,
    Names::kLabelUpdateProcessInformation, Names::kLabelFileFirmwareVersion, Names::kLabelDeviceFirmwareVersion,
    Names::kLabelDeviceCannotUpdateError, Names::kProgressBar,
};

namespace {

// The window's logical size when the skin gives none.
constexpr int kDefaultWidth = 400;
constexpr int kDefaultHeight = 450;
constexpr ZT::SizeT kScreen{1920, 1080};

std::filesystem::path MakeTemporaryFolder()
{
    std::string pattern = (std::filesystem::temp_directory_path() / "zt-updater-scene-XXXXXX").string();
    if (!mkdtemp(pattern.data()))
        throw std::system_error(errno, std::generic_category(), "no temporary folder for the firmware files");
    return pattern;
}

} // namespace

void CHookedClock::SleepMs(std::uint32_t ms)
{
    mClock.SleepMs(ms);
    if (mAfterSleep)
        mAfterSleep();
}

CScene::CScene(std::uint32_t lcid) : mLcid(lcid), mFolder(MakeTemporaryFolder())
{
    ZT::SetClock(&mClock);
    LDualUpdater::ReleaseInstance();
    mCenter = ZT::LNotificationCenterManager::GetInstance()->GetCenter(WString(LUpdateEngineInterface::kApplicationCenterName));
    (void)mCenter->Flush(); // drops what an earlier scene left
    for (const ProductDevice* device : {&kControllerDevice, &kWheelDisplayDevice}) {
        const std::vector<std::uint8_t> bytes = SimulationImagePlan::ForDevice(*device).Build().ToBytes();
        std::ofstream file(mFolder / WString(device->FirmwareFileName).ToUTF8(), std::ios::binary);
        file.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
        if (!file)
            throw std::runtime_error("cannot write the firmware files into " + mFolder.string());
    }
    SetApplicationFolder(WString(mFolder.string().c_str()));
    CBootloaderRoleRecord::SetFolder((mFolder / "state").string());
    mSimulator = ZT::MakeRC<LDeviceSimulator>(0.0, &mClock);
    mSimulator->Install();
    mClock.mAfterSleep = [this] { OnSleep(); };
}

CScene::~CScene()
{
    mStepping = false;
    Release();
    if (mProcessor)
        (void)Engine().WaitForUpdate(ZT::kShutdownJoinTimeoutMs); // best effort: the teardown below goes on either way
    mClock.mAfterSleep = nullptr;
    if (mWindow) {
        mWindow->SetWindowServices(nullptr);
        (void)mWindow->ReleaseInternalReferences(); // tearing down: always S_OK
    }
    mPainter = nullptr;
    mMain = nullptr;
    mWindow = nullptr;
    ZT::LMainControl::SetApplicationParts(nullptr, nullptr);
    mProcessor = nullptr;
    mFactory = nullptr;
    LDualUpdater::ReleaseInstance();
    ZT::LMidiComm::GetInstance()->CloseAllRenderPorts();
    ZT::SetUsbBackend(nullptr);
    ZT::SetMidiOutputBackend(nullptr);
    SetApplicationFolder(WString());
    CBootloaderRoleRecord::SetFolder(std::string());
    (void)mCenter->Flush(); // drops what this scene left
    mSimulator = nullptr;
    ZT::SetClock(nullptr);
    std::error_code ignored;
    std::filesystem::remove_all(mFolder, ignored);
}

RCPtr<LSimulatedDevice> CScene::AddController(std::uint16_t release)
{
    return mSimulator->AddDevice(SimulatedDeviceKind::Controller, release);
}

RCPtr<LSimulatedDevice> CScene::AddDisplay(std::uint16_t release)
{
    return mSimulator->AddDevice(SimulatedDeviceKind::WheelDisplay, release);
}

std::filesystem::path CScene::ControllerFilePath() const
{
    return mFolder / WString(kControllerDevice.FirmwareFileName).ToUTF8();
}

std::string CScene::MakeControl()
{
    try {
        mProcessor = ZT::MakeRC<LUpdateProcessor>(LDualUpdater::GetUpdateTarget(), LDualUpdater::GetScanPreparer());
        if (ZT::Failed(mProcessor->Initialize(WString(L"updater"))))
            return "the update processor did not start";
        ZT::LMainControl::SetApplicationParts(mProcessor, nullptr);
        // As in the program, the start's scan is delivered before the window exists.
        Deliver();
        mFactory = CStartupResources::Load(WString(L"::"), mLcid);
        if (ZT::Failed(ZT::LMainControl::RegisterClass(*mFactory)))
            return "the main control's class could not be registered";
        const RCPtr<ZT::LControl> root = mFactory->CreateControl(WString(Names::kMainControl));
        mMain = RCPtr<ZT::LMainControl>(dynamic_cast<ZT::LMainControl*>(root.Get()));
        if (!mMain)
            return "the skin's \"mainControl\" is not the updater's main control";
    } catch (const std::exception& error) {
        return std::string("the main control could not be made: ") + error.what();
    }
    return {};
}

std::string CScene::AttachOwnRootWindow()
{
    mWindow = ZT::MakeRC<ZT::LRootWindow>();
    if (ZT::Failed(mWindow->SetRootControl(RCPtr<ZT::LControl>(mMain.Get()))))
        return "the root window refused the main control";
    Deliver();
    return {};
}

void CScene::Deliver()
{
    (void)mCenter->ProcessQueue(false); // the steps deliver again
}

std::string CScene::RunUntilSettled()
{
    for (int round = 0; round < 20; ++round) {
        Deliver();
        if (Engine().WaitForUpdate(ZT::kShutdownJoinTimeoutMs) != ZT::S_OK)
            return "a download never ended";
        Deliver();
        // A handler may have started the next device's download, which may already have posted
        // its completion: settled means nothing runs and nothing waits.
        if (Engine().WaitForUpdate(0) == ZT::S_OK && Engine().GetDeviceState() != DeviceState::Updating &&
            mCenter->GetCount() == 0 && !(mMain && mMain->GetSequence() && mMain->GetSequence()->IsRunning()))
            return {};
    }
    return std::string("the update never settled; device state ") + ToString(Engine().GetDeviceState());
}

std::string CScene::Click(const wchar_t* name)
{
    const RCPtr<ZT::LControl> button = Child(name);
    if (!button)
        return "the main control has no " + WString(name).ToUTF8();
    if (!button->IsVisible())
        return "the user cannot click the hidden " + WString(name).ToUTF8() + "; shown: " + Join(Shown());
    // The scene checks what the click changed.
    (void)button->LeftClick(ZT::MakeRC<ZT::LMouseEvent>(ZT::LMouseEvent::Button::Left, 1, 1));
    return {};
}

bool CScene::RunDownloadTo(double share)
{
    while (true) {
        if (mHeld) {
            Deliver();
            if (ProgressShown() >= share)
                return true;
            Release();
        } else {
            // The end of the switch reaches the update sequence, which starts the download.
            Deliver();
            const bool sequenceRuns = mMain && mMain->GetSequence() && mMain->GetSequence()->IsRunning();
            if (Engine().WaitForUpdate(0) == ZT::S_OK && !mHeld && !sequenceRuns)
                return false;
        }
        std::this_thread::yield();
    }
}

double CScene::ProgressShown() const
{
    const auto* bar = dynamic_cast<const ZT::LProgressBar*>(Child(Names::kProgressBar).Get());
    return bar ? bar->GetFraction() : 0.0;
}

void CScene::Release()
{
    // Cleared here, not by the worker, so that the caller never sees the hold it just ended.
    mHeld = false;
    mReleased = true;
}

void CScene::OnSleep()
{
    if (std::this_thread::get_id() == mUiThread) {
        if (mOnUiSleep)
            mOnUiSleep();
        return;
    }
    const DeviceState state = mProcessor ? Engine().GetDeviceState() : DeviceState::NoDeviceDefined;
    if (!mStepping || (state != DeviceState::Updating && state != DeviceState::EnteringUpdateMode))
        return;
    mReleased = false;
    mHeld = true;
    while (!mReleased)
        std::this_thread::yield();
}

std::string CScene::WritePng(const std::string& path, int scale)
{
    if (!mMain)
        return "there is no main control to paint";
    if (!mPainter) {
        mPainter = ZT::MakeRC<ZT::LControlPainter>(mFactory->GetResources(), WString(L"::"));
        mPainter->SetLocale(mLcid);
    }
    int width = kDefaultWidth;
    int height = kDefaultHeight;
    if (const auto skin = mFactory->GetResources()->GetSkin()) {
        if (const auto descriptor = skin->FindControlDescriptor(WString(Names::kMainControl))) {
            const ZT::WindowSizeConstraints size = ZT::GetWindowSizeConstraints(*descriptor, kScreen);
            if (size.mInitial.GetWidth() > 0 && size.mInitial.GetHeight() > 0) {
                width = size.mInitial.GetWidth();
                height = size.mInitial.GetHeight();
            }
        }
    }
    // Shown and hidden controls may move others (references to siblings, expanding texts).
    ZT::LayoutControlTree(*mMain, {0, 0, width, height}, kScreen, mPainter.Get());
    return mPainter->PaintToPng(*mMain, {width, height}, scale, path);
}

RCPtr<ZT::LControl> CScene::Child(const wchar_t* name) const
{
    return mMain->FindChildByName(WString(name));
}

std::string CScene::TextOf(const wchar_t* name) const
{
    const RCPtr<ZT::LControl> child = Child(name);
    return child ? child->GetText().ToUTF8() : std::string();
}

std::string CScene::TableText(const wchar_t* control, const wchar_t* id) const
{
    return mFactory->GetResources()
        ->GetText(WString(Names::kMainControlClass) + WString(L"|") + WString(control), WString(id))
        .ToUTF8();
}

std::set<std::string> CScene::Shown() const
{
    std::set<std::string> shown;
    for (const wchar_t* name : kViewControls) {
        if (const RCPtr<ZT::LControl> child = Child(name); child && child->GetVisibleFlag())
            shown.insert(WString(name).ToUTF8());
    }
    return shown;
}

std::string CScene::Join(const std::set<std::string>& names)
{
    std::string text;
    for (const std::string& name : names)
        text += (text.empty() ? "" : " ") + name;
    return text;
}

LUpdateEngineInterface& CScene::Engine() const
{
    return *mProcessor->GetEngine();
}

} // namespace UpdaterScene
