#include "FirmwareUpdater/Panel/Engine/UpdateEngineInterface.h"

#include "FirmwareUpdater/Panel/Engine/DeviceStateChangeNotificationData.h"
#include "FirmwareUpdater/Panel/Engine/DfuSeFirmwareFile.h"
#include "FirmwareUpdater/Panel/Engine/DualUpdater.h"
#include "FirmwareUpdater/Panel/Engine/FirmwareFileStateChangeNotificationData.h"
#include "FirmwareUpdater/Panel/Engine/FirmwareUpdateCompletedNotificationData.h"
#include "FirmwareUpdater/Panel/Engine/FirmwareUpdateProgressNotificationData.h"
#include "FirmwareUpdater/Panel/Engine/ProductDevice.h"
#include "ZTFramework/Debug/DebugLine.h"
#include "ZTFramework/Notification/Notification.h"
#include "ZTFramework/Notification/NotificationCenterManager.h"
#include "ZTFramework/Threads/Holder.h"
#include "ZTFramework/Usb/UsbBackend.h"

#include <exception>
#include <filesystem>
#include <string_view>
#include <system_error>

using Interface = LUpdateEngineInterface;

// ---- FirmwareVersion ------------------------------------------------------------------------

bool Interface::FirmwareVersion::IsNewerThan(const FirmwareVersion& other) const noexcept
{
    if (Part1 != other.Part1)
        return Part1 > other.Part1;
    if (Part2 != other.Part2)
        return Part2 > other.Part2;
    if (Part3 != other.Part3)
        return Part3 > other.Part3;
    return Part4 > other.Part4;
}

bool Interface::FirmwareVersion::HasSameNumberAs(const FirmwareVersion& other) const noexcept
{
    return Part1 == other.Part1 && Part2 == other.Part2 && Part3 == other.Part3 && Part4 == other.Part4;
}

Interface::FirmwareVersion Interface::FirmwareVersion::FromReleaseNumber(std::uint16_t release)
{
    FirmwareVersion version;
    if (release == 0)
        return version;
    version.Part1 = (release >> 12) & 0xFu;
    version.Part2 = (release >> 8) & 0xFu;
    version.Part3 = (release >> 4) & 0xFu;
    version.Part4 = release & 0xFu;
    // Each digit is written in decimal, so a digit of 10 or more takes two characters.
    (void)version.Text.Format(L"%u%u.%u%u", version.Part1, version.Part2, version.Part3, version.Part4);
    return version;
}

std::uint16_t Interface::FirmwareVersion::ToReleaseNumber() const noexcept
{
    return static_cast<std::uint16_t>(((Part1 & 0xFu) << 12) | ((Part2 & 0xFu) << 8) | ((Part3 & 0xFu) << 4) |
                                      (Part4 & 0xFu));
}

// ---- Names of the enumerators ---------------------------------------------------------------

const char* ToString(Interface::DeviceState state) noexcept
{
    using S = Interface::DeviceState;
    switch (state) {
    case S::NoDeviceDefined: return "NoDeviceDefined";
    case S::NoDeviceFound: return "NoDeviceFound";
    case S::Scanning: return "Scanning";
    case S::DevicesAvailableNoneSelected: return "DevicesAvailableNoneSelected";
    case S::DeviceCannotBeUpdated: return "DeviceCannotBeUpdated";
    case S::DeviceNotInUpdateMode: return "DeviceNotInUpdateMode";
    case S::EnteringUpdateMode: return "EnteringUpdateMode";
    case S::DeviceInUpdateMode: return "DeviceInUpdateMode";
    case S::Updating: return "Updating";
    }
    return "invalid DeviceState";
}

const char* ToString(Interface::FirmwareFileState state) noexcept
{
    using S = Interface::FirmwareFileState;
    switch (state) {
    case S::NoFileDefined: return "NoFileDefined";
    case S::FileInvalid: return "FileInvalid";
    case S::FileFoundVersionUnknown: return "FileFoundVersionUnknown";
    case S::FileFoundVersionKnown: return "FileFoundVersionKnown";
    }
    return "invalid FirmwareFileState";
}

const char* ToString(Interface::DeviceErrorReason reason) noexcept
{
    using R = Interface::DeviceErrorReason;
    switch (reason) {
    case R::NoReason: return "NoReason";
    case R::DriverTooOld: return "DriverTooOld";
    case R::SystemFailure: return "SystemFailure";
    case R::FileAccessFailure: return "FileAccessFailure";
    case R::DeviceAccessFailure: return "DeviceAccessFailure";
    }
    return "invalid DeviceErrorReason";
}

const char* ToString(Interface::UpdateRunState state) noexcept
{
    using S = Interface::UpdateRunState;
    switch (state) {
    case S::Idle: return "Idle";
    case S::Running: return "Running";
    case S::Failed: return "Failed";
    case S::Cancelled: return "Cancelled";
    case S::Succeeded: return "Succeeded";
    }
    return "invalid UpdateRunState";
}

const char* ToString(Interface::ThreadWorkerTask task) noexcept
{
    using T = Interface::ThreadWorkerTask;
    switch (task) {
    case T::EnterUpdateModeTask: return "EnterUpdateModeTask";
    case T::UpdateFirmwareTask: return "UpdateFirmwareTask";
    }
    return "invalid ThreadWorkerTask";
}

// ---- The engine -----------------------------------------------------------------------------

namespace {

using ZT::E_FAIL;
using ZT::E_INVALIDARG;
using ZT::S_OK;
using ZT::ZTRESULT;
using DeviceState = Interface::DeviceState;
using FirmwareFileState = Interface::FirmwareFileState;
using UpdateRunState = Interface::UpdateRunState;

bool IsBusyState(DeviceState state)
{
    return state == DeviceState::Scanning || state == DeviceState::EnteringUpdateMode ||
           state == DeviceState::Updating;
}

// An existing file system object that is not a folder (a file, or a link to one).
bool IsExistingFile(const ZT::WString& path)
{
    if (path.IsEmpty())
        return false;
    std::error_code error;
    const std::filesystem::path fsPath(path.ToUTF8());
    const std::filesystem::file_status status = std::filesystem::status(fsPath, error);
    if (error || !std::filesystem::exists(status))
        return false;
    return !std::filesystem::is_directory(status);
}

void PostToApplicationCenter(const wchar_t* id, const ZT::RCPtr<ZT::LRefCountedObject>& payload)
{
    const ZT::RCPtr<ZT::LNotificationCenter> center =
        ZT::LNotificationCenterManager::GetInstance()->GetCenter(ZT::WString(Interface::kApplicationCenterName));
    const ZT::RCPtr<ZT::LNotification> notification = ZT::CreateNotification(id, payload);
    if (!center || !notification)
        return;
    // A center that has shut down (the program is ending) drops the notification: nobody is
    // left to show it.
    (void)center->Post(notification);
}

} // namespace

Interface::LUpdateEngineInterface() : mUpdateDoneEvent(ZT::MakeRC<ZT::LEvent>(true))
{
    mThreader.SetShutdownJoinTimeout(ZT::kShutdownJoinTimeoutMs);
}

// The threader's destructor stops its loop and joins the thread for at most
// kShutdownJoinTimeoutMs. A task cannot be running on it now unless this destructor runs on the
// worker thread itself (the task held the last reference), and the threader does not wait for
// itself.
Interface::~LUpdateEngineInterface() = default;

ZTRESULT Interface::Initialize(const ZT::WString& /*parameter*/)
{
    return S_OK;
}

ZTRESULT Interface::SetDeviceDefinitions(const DeviceDefinitions& definitions)
{
    if (IsBusyState(GetDeviceState()))
        return E_FAIL;
    mDeviceDefinitions = definitions;
    mSelectedDevice.store(-1);
    SetDeviceState(DeviceState::NoDeviceFound);
    return S_OK;
}

ZTRESULT Interface::ScanForDevices()
{
    const ZTRESULT prepared = LDualUpdater::Prepare(*this);
    if (ZT::Failed(prepared))
        return prepared;
    if (IsBusyState(GetDeviceState()))
        return E_FAIL;

    mSelectedDevice.store(-1);
    const ZTRESULT listed = ScanDevices();
    const std::uint32_t found = GetFoundDeviceCount();
    if (found == 0 || ZT::Failed(listed)) {
        SetDeviceState(DeviceState::NoDeviceFound);
    } else if (found > 1) {
        SetDeviceState(DeviceState::DevicesAvailableNoneSelected);
    } else {
        // Quietly, so that the one device found gives one notification (from
        // DevicesAvailableNoneSelected to its own state), not two.
        mDeviceState.store(DeviceState::DevicesAvailableNoneSelected);
        (void)SelectDevice(0); // its outcome is in the device state
    }
    return listed;
}

ZTRESULT Interface::SelectDevice(std::uint32_t index)
{
    const DeviceState state = GetDeviceState();
    if (state < DeviceState::DevicesAvailableNoneSelected || state == DeviceState::EnteringUpdateMode ||
        state == DeviceState::Updating)
        return E_FAIL;

    mSelectedDevice.store(-1);
    if (index >= GetFoundDeviceCount()) {
        SetDeviceState(DeviceState::DevicesAvailableNoneSelected);
        return E_INVALIDARG;
    }
    mSelectedDevice.store(static_cast<std::int32_t>(index));

    std::uint32_t reason = 0;
    if (ZT::Failed(GetDeviceErrorCode(index, reason)) || reason != static_cast<std::uint32_t>(DeviceErrorReason::NoReason)) {
        SetDeviceState(DeviceState::DeviceCannotBeUpdated);
        return S_OK;
    }
    SetDeviceState(IsDeviceInUpdateMode(index) ? DeviceState::DeviceInUpdateMode : DeviceState::DeviceNotInUpdateMode);
    return S_OK;
}

ZTRESULT Interface::GetDeviceErrorReason(std::uint32_t& reason)
{
    reason = 0;
    if (GetDeviceState() != DeviceState::DeviceCannotBeUpdated)
        return E_FAIL;
    // Without a selection the index is past every found device, which the concrete engine
    // answers with DriverTooOld in this state.
    return GetDeviceErrorCode(static_cast<std::uint32_t>(GetSelectedDeviceIndex()), reason);
}

ZTRESULT Interface::GetSelectedDeviceVersionText(ZT::WString& text) const
{
    text = L"N/A";
    if (GetDeviceState() < DeviceState::DeviceCannotBeUpdated)
        return E_FAIL;
    const std::int32_t selected = GetSelectedDeviceIndex();
    if (selected < 0)
        return E_FAIL;
    FirmwareVersion version;
    if (ZT::Failed(GetDeviceVersion(static_cast<std::uint32_t>(selected), version)))
        return E_FAIL;
    text = version.Text;
    return S_OK;
}

ZTRESULT Interface::RequestUpdateMode()
{
    mCancelRequested.store(false);
    return EnterUpdateMode();
}

bool Interface::IsUpdateNeeded() const
{
    if (GetFirmwareFileState() != FirmwareFileState::FileFoundVersionKnown)
        return false;
    if (GetDeviceState() < DeviceState::DeviceCannotBeUpdated)
        return false;
    const std::int32_t selected = GetSelectedDeviceIndex();
    if (selected < 0 || static_cast<std::uint32_t>(selected) >= GetFoundDeviceCount())
        return false;
    FirmwareVersion deviceVersion;
    if (ZT::Failed(GetDeviceVersion(static_cast<std::uint32_t>(selected), deviceVersion)))
        return false;
    std::lock_guard lock(mFileMutex);
    return mFirmwareFileVersion.IsNewerThan(deviceVersion);
}

ZTRESULT Interface::StartUpdate()
{
    const FirmwareFileState fileState = GetFirmwareFileState();
    if (fileState != FirmwareFileState::FileFoundVersionUnknown && fileState != FirmwareFileState::FileFoundVersionKnown)
        return E_FAIL;
    if (GetDeviceState() != DeviceState::DeviceInUpdateMode)
        return E_FAIL;

    mCancelRequested.store(false);
    SetDeviceState(DeviceState::Updating);
    const auto task = ZT::MakeRC<ZT::LHolder<ThreadWorkerTask>>(ThreadWorkerTask::UpdateFirmwareTask);
    return mThreader.Trigger(ZT::RCPtr<ZT::LThreadWorker>(static_cast<ZT::LThreadWorker*>(this)), task,
                             mUpdateDoneEvent, ZT::kThreadPriorityNormal);
}

ZTRESULT Interface::WaitForUpdate(std::uint32_t timeoutMs)
{
    // The threader is busy from the moment StartUpdate handed it the task until the task has
    // ended and its completion has been posted, so this also covers the moment before the
    // worker has set Running. A run state of Running without a busy worker has nobody left to
    // signal the event.
    if (!mThreader.IsBusy())
        return S_OK;
    return mUpdateDoneEvent->Wait(timeoutMs) == ZT::kWaitObject0 ? S_OK : E_FAIL;
}

Interface::UpdateRunState Interface::GetUpdateRunState(bool reset)
{
    UpdateRunState state = mUpdateRunState.load();
    if (reset && state >= UpdateRunState::Failed) {
        // Only a finished outcome is cleared; a worker that has started meanwhile keeps Running.
        UpdateRunState expected = state;
        (void)mUpdateRunState.compare_exchange_strong(expected, UpdateRunState::Idle);
    }
    return state;
}

bool Interface::RefusesSimulationImage(const ZT::WString& path)
{
    if (ZT::GetUsbBackend()->IsSimulated())
        return false;
    bool marked = false;
    try {
        marked = LDfuSeFirmwareFile::IsSimulationImage(path);
    } catch (const std::exception&) {
        return false;
    }
    if (!marked)
        return false;
    ZT::CDebugLine() << "Engine: refusing firmware file \"" << path.ToUTF8()
                     << "\": it is an image for simulated devices only and the USB devices are real";
    return true;
}

ZTRESULT Interface::StoreFirmwareFile(const ZT::WString& path, const FirmwareVersion& version)
{
    {
        std::lock_guard lock(mFileMutex);
        mFirmwareFilePath = path;
        mFirmwareFileVersion = version;
    }
    if (!IsExistingFile(path) || RefusesSimulationImage(path)) {
        SetFirmwareFileState(FirmwareFileState::FileInvalid);
        return E_FAIL;
    }
    SetFirmwareFileState(FirmwareFileState::FileFoundVersionKnown);
    return S_OK;
}

ZTRESULT Interface::SetFirmwareFileWithVersion(const ZT::WString& path, const FirmwareVersion& version)
{
    return StoreFirmwareFile(path, version);
}

ZTRESULT Interface::SetFirmwareFile(const ZT::WString& path)
{
    if (!IsExistingFile(path)) {
        {
            std::lock_guard lock(mFileMutex);
            mFirmwareFilePath = path;
        }
        SetFirmwareFileState(FirmwareFileState::FileInvalid);
        return E_FAIL;
    }
    return StoreFirmwareFile(path, kControllerDevice.GetFirmwareVersion());
}

void Interface::SetFirmwareFileVersion(const FirmwareVersion& version)
{
    {
        std::lock_guard lock(mFileMutex);
        mFirmwareFileVersion = version;
    }
    if (GetFirmwareFileState() == FirmwareFileState::FileFoundVersionUnknown)
        SetFirmwareFileState(FirmwareFileState::FileFoundVersionKnown);
}

ZTRESULT Interface::GetFirmwareFilePath(ZT::WString& path) const
{
    std::lock_guard lock(mFileMutex);
    path = mFirmwareFilePath;
    return path.IsEmpty() ? E_FAIL : S_OK;
}

ZTRESULT Interface::GetFirmwareFileVersionText(ZT::WString& text) const
{
    text = L"N/A";
    if (GetFirmwareFileState() != FirmwareFileState::FileFoundVersionKnown)
        return E_FAIL;
    std::lock_guard lock(mFileMutex);
    text = mFirmwareFileVersion.Text;
    return S_OK;
}

ZTRESULT Interface::GetFirmwareFileVersion(FirmwareVersion& version) const
{
    {
        std::lock_guard lock(mFileMutex);
        version = mFirmwareFileVersion;
    }
    return GetFirmwareFileState() == FirmwareFileState::FileFoundVersionKnown ? S_OK : E_FAIL;
}

bool Interface::ParseFirmwareFileVersionFromName()
{
    ZT::WString path;
    if (ZT::Failed(GetFirmwareFilePath(path)))
        return false;

    // The file name: what follows the last separator of either kind, unless the path ends with it.
    std::wstring_view name = path.View();
    const std::size_t separator = name.find_last_of(L"\\/");
    if (separator != std::wstring_view::npos && separator + 1 < name.size())
        name.remove_prefix(separator + 1);

    const std::size_t marker = name.find(L"_V");
    if (marker == std::wstring_view::npos)
        return false;
    std::size_t i = marker + 2;
    const auto digitAt = [&name](std::size_t at) -> int {
        if (at >= name.size() || name[at] < L'0' || name[at] > L'9')
            return -1;
        return static_cast<int>(name[at] - L'0');
    };

    int major = digitAt(i);
    if (major < 0)
        return false;
    ++i;
    if (const int second = digitAt(i); second >= 0) {
        major = major * 10 + second;
        ++i;
    }
    if (i >= name.size() || name[i] != L'_')
        return false;
    ++i;
    const int minor = digitAt(i);
    const int sub = digitAt(i + 1);
    if (minor < 0 || sub < 0)
        return false;

    FirmwareVersion version(static_cast<std::uint32_t>(major), static_cast<std::uint32_t>(minor),
                            static_cast<std::uint32_t>(sub), 0);
    (void)version.Text.Format(L"%d.%d.%d", major, minor, sub);
    SetFirmwareFileVersion(version);
    return true;
}

void Interface::SetDeviceState(DeviceState state)
{
    const DeviceState old = mDeviceState.exchange(state);
    if (old != state)
        PostDeviceStateChange(state, old);
}

void Interface::SetFirmwareFileState(FirmwareFileState state)
{
    const FirmwareFileState old = mFirmwareFileState.exchange(state);
    if (old != state)
        PostFirmwareFileStateChange(state, old);
}

void Interface::PostUpdateProgress(std::uint32_t stage, double fractionComplete, bool timeUnknown,
                                   std::uint32_t secondsRemaining, bool flag2, const ZT::WString& message)
{
    PostToApplicationCenter(kNidFirmwareUpdateProgress,
                            ZT::MakeRC<ZT::LFirmwareUpdateProgressNotificationData>(
                                stage, fractionComplete, secondsRemaining, timeUnknown, flag2, message));
}

void Interface::PostDeviceStateChange(DeviceState newState, DeviceState oldState)
{
    PostToApplicationCenter(kNidDeviceStateChange,
                            ZT::MakeRC<ZT::LDeviceStateChangeNotificationData>(newState, oldState));
}

void Interface::PostFirmwareFileStateChange(FirmwareFileState newState, FirmwareFileState oldState)
{
    PostToApplicationCenter(kNidFirmwareFileStateChange,
                            ZT::MakeRC<ZT::LFirmwareFileStateChangeNotificationData>(newState, oldState));
}

void Interface::PostFoundDeviceListChange()
{
    PostToApplicationCenter(kNidFoundDeviceListChange, nullptr);
}

void Interface::PostUpdateCompleted(bool succeeded)
{
    PostToApplicationCenter(kNidFirmwareUpdateCompleted,
                            ZT::MakeRC<ZT::LFirmwareUpdateCompletedNotificationData>(succeeded));
}

ZTRESULT Interface::DoWork(const ZT::RCPtr<ZT::LRefCountedObject>& parameter)
{
    const ZT::RCPtr<ZT::LHolder<ThreadWorkerTask>> task = parameter;
    if (!task)
        return E_FAIL;
    switch (task->Get()) {
    case ThreadWorkerTask::EnterUpdateModeTask:
        return EnterUpdateMode();
    case ThreadWorkerTask::UpdateFirmwareTask: {
        const ZTRESULT result = RunUpdateTask();
        PostUpdateCompleted(ZT::Succeeded(result));
        return result;
    }
    }
    return E_FAIL;
}

ZTRESULT Interface::RunUpdateTask()
{
    // The file may have been replaced since it was chosen; nothing made for simulated devices
    // ever reaches real hardware.
    ZT::WString path;
    (void)GetFirmwareFilePath(path); // an empty path is the download's to reject
    if (RefusesSimulationImage(path)) {
        SetFirmwareFileState(FirmwareFileState::FileInvalid);
        SetUpdateRunState(UpdateRunState::Failed);
        SetSelectedDeviceErrorReason(DeviceErrorReason::FileAccessFailure);
        SetDeviceState(DeviceState::DeviceCannotBeUpdated);
        return E_FAIL;
    }
    try {
        return PerformUpdate();
    } catch (const std::exception& error) {
        // The file reader throws when the system cannot read the file. Without this the run
        // would stay Running and the device Updating, and the window could never leave them.
        ZT::CDebugLine() << "Engine: the update ended with an error: " << error.what();
        SetUpdateRunState(UpdateRunState::Failed);
        SetSelectedDeviceErrorReason(DeviceErrorReason::FileAccessFailure);
        SetDeviceState(DeviceState::DeviceCannotBeUpdated);
        return E_FAIL;
    }
}
