// LUpdateEngineInterface's state machine: the device states, the selection and the scan. The
// firmware file is in UpdateEngineFirmwareFile.cpp, the worker and the notifications in
// UpdateEngineWorker.cpp.

#include "FirmwareUpdater/Panel/Engine/UpdateEngineInterface.h"

#include "FirmwareUpdater/Panel/Engine/ScanPreparer.h"
#include "FirmwareUpdater/Panel/Engine/UpdateTarget.h"

using Interface = LUpdateEngineInterface;
using ZT::E_FAIL;
using ZT::E_INVALIDARG;
using ZT::S_OK;
using ZT::ZTRESULT;

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
    if (mScanPreparer) {
        const ZTRESULT prepared = mScanPreparer->PrepareScan(*this);
        if (ZT::Failed(prepared))
            return prepared;
    }
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

Interface::UpdateRunState Interface::GetUpdateRunState(bool reset)
{
    UpdateRunState state = mUpdateRunState.load();
    if (reset && state >= UpdateRunState::Failed) {
        // Only a finished outcome is cleared; a worker that has started meanwhile keeps Running.
        UpdateRunState expected = state;
        // A worker that started meanwhile keeps Running.
        (void)mUpdateRunState.compare_exchange_strong(expected, UpdateRunState::Idle);
    }
    return state;
}

void Interface::SetDeviceState(DeviceState state)
{
    const DeviceState old = mDeviceState.exchange(state);
    if (old != state)
        PostDeviceStateChange(state, old);
}

const IUpdateTarget& Interface::GetUpdateTarget() const noexcept
{
    const IUpdateTarget* const target = mUpdateTarget.load();
    return target ? *target : NoUpdateTarget();
}
