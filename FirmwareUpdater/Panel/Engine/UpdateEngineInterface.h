#pragma once
// The firmware-update engine seen from the rest of the updater.
//
// The records and enumerations that the engine, the dual updater, the command-line processor and
// the main control exchange live in EngineRecords.h; the class names each of them. The payloads
// of the engine's notifications live in files of their own (DeviceStateChangeNotificationData.h
// and siblings); the product's two devices are described in ProductDevice.h.
//
// The engine knows nothing of the product's two devices. What it needs of the device it updates
// (the MIDI port, the erase list) it asks its update target (IUpdateTarget), and before each
// scan it lets its scan preparer (IScanPreparer) choose that device and configure the engine.
// Whoever makes the engine hands it both; the update processor does so for the program's main
// engine, with the dual updater behind both interfaces.
//
// The class itself is the abstract engine: it keeps the engine's states, applies every rule of
// the state machine that needs no hardware, turns each state change into a notification in the
// "application" center and runs the firmware download on a worker thread of its own. Reaching
// the devices (listing, the switch into update mode, the download) is left to LUpdateEngine.
//
// Threads. The user-interface thread (or the command-line run in its place) calls every
// operation. The worker thread runs only DoWork: the download, the switch into update mode
// that StartUpdateModeSwitch hands it (the window's way, so that its caller stays free for
// CANCEL), or a job that StartWorkerJob hands it (the dual updater's rescan between the two
// devices, which calls SetDeviceDefinitions, SetFirmwareFileWithVersion and ScanForDevices there
// while its caller starts nothing on the engine), and everything they call, which includes SetDeviceState, SetUpdateRunState and the
// Post operations. While the worker switches, its caller starts nothing else on the engine. Notifications are the only
// path from the worker to the user interface. The states, the selected index, the run state and
// the cancel flag are atomics, so either thread may read them at any time; the firmware file's
// path and version are guarded by mFileMutex, which is never held while anything is posted. The
// busy states keep the two threads apart otherwise: while the state is Updating the operations
// that change definitions, scan or select refuse.
//
// An engine must be held through an RCPtr (MakeRC): the worker holds a reference to it while a
// task runs, so an engine released meanwhile is destroyed only when the task has ended.
//
// The code is spread over three files: UpdateEngineInterface.cpp (the state machine),
// UpdateEngineFirmwareFile.cpp (the firmware file) and UpdateEngineWorker.cpp (the worker and
// the notifications).

#include "FirmwareUpdater/Panel/Engine/EngineRecords.h"
#include "FirmwareUpdater/Panel/Engine/UpdateFailure.h"
#include "ZTFramework/Errors/Result.h"
#include "ZTFramework/ObjectBase/RCPtr.h"
#include "ZTFramework/ObjectBase/RefCountedObject.h"
#include "ZTFramework/Threads/Event.h"
#include "ZTFramework/Threads/RetriggerableThreader.h"
#include "ZTFramework/Threads/ThreadWorker.h"
#include "ZTFramework/Utilities/Storage/ArrayUtils.h"
#include "ZTFramework/Utilities/Storage/StringT.h"

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <utility>

class IScanPreparer;
class IUpdateTarget;

class LUpdateEngineInterface : protected virtual ZT::LThreadWorker, public virtual ZT::LRefCountedObject {
public:
    // ---- Records and enumerations (EngineRecords.h), under the names the callers use -------------

    using DeviceDefinition = ::DeviceDefinition;
    using DeviceDefinitions = ::DeviceDefinitions;
    using FirmwareVersion = ::FirmwareVersion;
    using DeviceState = ::DeviceState;
    using FirmwareFileState = ::FirmwareFileState;
    using DeviceErrorReason = ::DeviceErrorReason;
    using UpdateRunState = ::UpdateRunState;
    using ThreadWorkerTask = ::ThreadWorkerTask;

    // The IDs of the engine's notifications. Each carries the payload named beside it.
    static constexpr const wchar_t* kNidDeviceStateChange = L"NID_DEVICE_STATE_CHANGE";               // LDeviceStateChangeNotificationData
    static constexpr const wchar_t* kNidFirmwareFileStateChange = L"NID_FIRMWARE_FILE_STATE_CHANGE"; // LFirmwareFileStateChangeNotificationData
    static constexpr const wchar_t* kNidFoundDeviceListChange = L"NID_FOUND_DEVICE_LIST_CHANGE";     // no payload
    static constexpr const wchar_t* kNidFirmwareUpdateProgress = L"NID_FIRMWARE_UPDATE_PROGRESS";    // LFirmwareUpdateProgressNotificationData
    static constexpr const wchar_t* kNidFirmwareUpdateCompleted = L"NID_FIRMWARE_UPDATE_COMPLETED";  // LFirmwareUpdateCompletedNotificationData
    static constexpr const wchar_t* kNidWorkerJobCompleted = L"NID_WORKER_JOB_COMPLETED";            // the IWorkerJob that ran
    // The center every notification of the engine is posted into.
    static constexpr const wchar_t* kApplicationCenterName = L"application";

    // Work that whoever drives the engine hands to its worker (StartWorkerJob), so that the
    // caller's thread stays free while it lasts. Run gets the engine on the worker thread; once
    // it has returned, the job itself is posted as the payload of "NID_WORKER_JOB_COMPLETED", so
    // whatever Run left in it reaches the user-interface thread with that notification (and is
    // read there only after it has been delivered).
    class IWorkerJob : public virtual ZT::LRefCountedObject {
    public:
        virtual void Run(LUpdateEngineInterface& engine) = 0;
    };

    // ---- The engine ---------------------------------------------------------------------------

    // Starts the worker thread (it waits for a task); posts nothing.
    LUpdateEngineInterface();
    LUpdateEngineInterface(const LUpdateEngineInterface&) = delete;
    LUpdateEngineInterface& operator=(const LUpdateEngineInterface&) = delete;
    // Stops the worker thread and joins it for at most 60000 ms (a task still running is left to
    // end by itself, with one line on the debug output). Another thread cannot get here while a
    // task runs, because the task holds a reference to the engine.
    ~LUpdateEngineInterface() override;

    // S_OK. The parameter is not used here.
    [[nodiscard]] virtual ZT::ZTRESULT Initialize(const ZT::WString& parameter);

    [[nodiscard]] DeviceState GetDeviceState() const noexcept { return mDeviceState.load(); }

    // The device this engine updates, or null for none: then the engine names no MIDI port and
    // erases nothing (see NoUpdateTarget). Set on the user-interface thread before the first scan;
    // the target must outlive the engine. The download copies what it needs of it at its start.
    void SetUpdateTarget(const IUpdateTarget* target) noexcept { mUpdateTarget.store(target); }
    // The target set, or the neutral one. Either thread.
    [[nodiscard]] const IUpdateTarget& GetUpdateTarget() const noexcept;
    // Asked by ScanForDevices before it lists devices, or null for nobody. Set and used on the
    // user-interface thread; the preparer must outlive the engine.
    void SetScanPreparer(IScanPreparer* preparer) noexcept { mScanPreparer = preparer; }

    // Replaces the definitions of the devices this engine looks for, forgets the selection and
    // sets NoDeviceFound. E_FAIL, changing nothing, in the busy states Scanning,
    // EnteringUpdateMode and Updating.
    [[nodiscard]] virtual ZT::ZTRESULT SetDeviceDefinitions(const DeviceDefinitions& definitions);
    [[nodiscard]] const DeviceDefinitions& GetDeviceDefinitions() const noexcept { return mDeviceDefinitions; }

    // Lets the scan preparer choose and configure the next image (it may replace the definitions
    // and the firmware file), then lists the devices: none found or a failed listing give
    // NoDeviceFound, several give DevicesAvailableNoneSelected, exactly one is selected at once
    // with a single state notification. Returns the listing's result; the preparer's failure
    // (the dual updater's when it finds an incomplete device set: the state is then
    // DeviceCannotBeUpdated), with nothing listed; E_FAIL in the busy states. Blocks while the
    // preparer probes and while the devices are listed.
    [[nodiscard]] ZT::ZTRESULT ScanForDevices();

    // Rebuilds the found-device list from the definitions. S_OK, or E_FAIL when the devices
    // cannot be listed at all.
    [[nodiscard]] virtual ZT::ZTRESULT ScanDevices() = 0;
    // The definition part of every found device, in order. S_OK.
    [[nodiscard]] virtual ZT::ZTRESULT GetFoundDevices(DeviceDefinitions& devices) const = 0;
    [[nodiscard]] virtual std::uint32_t GetFoundDeviceCount() const = 0;
    // The firmware version the device at index reported. E_FAIL when index is not below the count.
    [[nodiscard]] virtual ZT::ZTRESULT GetDeviceVersion(std::uint32_t index, FirmwareVersion& version) const = 0;

    // Selects the found device at index and sets its state: DeviceInUpdateMode or
    // DeviceNotInUpdateMode, or DeviceCannotBeUpdated when the device has an error reason. S_OK.
    // An index past the found devices: no selection, DevicesAvailableNoneSelected, E_INVALIDARG.
    // E_FAIL, changing nothing, below DevicesAvailableNoneSelected and in EnteringUpdateMode and
    // Updating.
    [[nodiscard]] ZT::ZTRESULT SelectDevice(std::uint32_t index);
    // -1 while nothing is selected.
    [[nodiscard]] std::int32_t GetSelectedDeviceIndex() const noexcept { return mSelectedDevice.load(); }

    // Only in DeviceCannotBeUpdated: the selected device's DeviceErrorReason (DriverTooOld, 1,
    // without a valid selection) and S_OK. Otherwise reason 0 and E_FAIL.
    [[nodiscard]] ZT::ZTRESULT GetDeviceErrorReason(std::uint32_t& reason);
    // The selected device's version text, S_OK. "N/A" and E_FAIL below DeviceCannotBeUpdated or
    // when the selected device has no version.
    [[nodiscard]] ZT::ZTRESULT GetSelectedDeviceVersionText(ZT::WString& text) const;

    // Finds the selected device again after an update and sets its state from what it finds.
    [[nodiscard]] virtual ZT::ZTRESULT RefreshDevice() = 0;
    // Puts the selected device into update mode; see LUpdateEngine.
    [[nodiscard]] virtual ZT::ZTRESULT EnterUpdateMode() = 0;
    // Clears the cancel flag and runs EnterUpdateMode on the calling thread; returns its result.
    // Blocks for the whole switch, up to about 11 s (21 s when the device's MIDI completion
    // never arrives).
    [[nodiscard]] ZT::ZTRESULT RequestUpdateMode();
    // The same switch on the worker thread, for a caller that keeps its window answering
    // meanwhile (CANCEL among it): requires DeviceNotInUpdateMode, clears the cancel flag and
    // hands EnterUpdateMode to the worker. E_FAIL, with nothing changed, in another state or
    // when the worker is busy. Never blocks; the end is awaited with IsWorkerBusy or
    // WaitForUpdate, the outcome read from the device state (DeviceInUpdateMode on success).
    [[nodiscard]] ZT::ZTRESULT StartUpdateModeSwitch();
    // Hands job to the worker thread; its completion is "NID_WORKER_JOB_COMPLETED" with the job as
    // payload, posted even when Run throws (the exception goes to the debug output). E_FAIL, with
    // nothing started, for a null job or while the worker is busy. Never blocks.
    [[nodiscard]] ZT::ZTRESULT StartWorkerJob(const ZT::RCPtr<IWorkerJob>& job);
    // True from a successful StartUpdate, StartUpdateModeSwitch or StartWorkerJob until its task
    // has ended.
    [[nodiscard]] bool IsWorkerBusy() const { return mThreader.IsBusy(); }

    // True exactly when the file's version is known and newer than the selected device's, with
    // the device state DeviceCannotBeUpdated or later.
    [[nodiscard]] bool IsUpdateNeeded() const;

    // Starts the download of the firmware file into the selected device on the worker thread:
    // requires the file state FileFoundVersionUnknown or FileFoundVersionKnown and the device
    // state DeviceInUpdateMode, else E_FAIL with nothing changed. Clears the cancel flag, sets
    // Updating and hands the task to the worker; E_FAIL when the worker is still busy or
    // stopping (the state then stays Updating). Never blocks.
    [[nodiscard]] ZT::ZTRESULT StartUpdate();
    // Waits at most timeoutMs (ZT::kInfinite: no limit) for a started update to end: from a
    // successful StartUpdate on, even before the worker has begun. S_OK when it has ended or none
    // is under way; E_FAIL when the time ran out. The outcome is read with GetUpdateRunState.
    // The completion notification has been posted before this returns S_OK.
    [[nodiscard]] ZT::ZTRESULT WaitForUpdate(std::uint32_t timeoutMs);
    // Threads inside WaitForUpdate now (a caller that found the worker idle never counts): how
    // a test holding the worker learns that someone has begun to wait for it. Any thread; never
    // blocks.
    [[nodiscard]] std::int32_t GetUpdateWaiterCount() const noexcept { return mUpdateDoneEvent->GetWaiterCount(); }
    // Asks a running mode switch or download to stop; see LUpdateEngine.
    [[nodiscard]] virtual ZT::ZTRESULT CancelUpdate() = 0;

    // The outcome of the last update. With reset, a finished outcome (Failed and later) reads as
    // Idle afterwards; Running is left as it is.
    [[nodiscard]] UpdateRunState GetUpdateRunState(bool reset);
    // Where the worker's last task (a switch or a download) broke; empty (IsFailure false) after
    // one that did not. A failed download carries the same record in its completion.
    [[nodiscard]] CUpdateFailure GetLastFailure() const;

    [[nodiscard]] FirmwareFileState GetFirmwareFileState() const noexcept { return mFirmwareFileState.load(); }
    // Stores path and version. An existing file that is not a folder gives FileFoundVersionKnown
    // and S_OK; an empty path, a missing file or a folder gives FileInvalid and E_FAIL, as does
    // an image for simulated devices while the USB backend is a real one. The path is kept
    // either way.
    [[nodiscard]] ZT::ZTRESULT SetFirmwareFileWithVersion(const ZT::WString& path, const FirmwareVersion& version);
    // As SetFirmwareFileWithVersion with the controller's version {0,0,3,1} "00.31"; the version
    // is stored only when the file exists.
    [[nodiscard]] ZT::ZTRESULT SetFirmwareFile(const ZT::WString& path);
    // Stores the version; FileFoundVersionUnknown becomes FileFoundVersionKnown.
    void SetFirmwareFileVersion(const FirmwareVersion& version);
    // The path; S_OK when it is not empty, else E_FAIL.
    [[nodiscard]] ZT::ZTRESULT GetFirmwareFilePath(ZT::WString& path) const;
    // The version's text in FileFoundVersionKnown, S_OK; "N/A" and E_FAIL in every other state.
    [[nodiscard]] ZT::ZTRESULT GetFirmwareFileVersionText(ZT::WString& text) const;
    // Always copies the stored version; E_FAIL unless the state is FileFoundVersionKnown.
    [[nodiscard]] ZT::ZTRESULT GetFirmwareFileVersion(FirmwareVersion& version) const;
    // Reads a version written as "_V<major>_<minor><sub>" into the file's name (fw_V1_23.dfu:
    // {1,2,3,0} "1.2.3"; the major part has one or two digits, the others one each) and stores
    // it with SetFirmwareFileVersion. False, storing nothing, when the name holds no such
    // version ("_V" is case-sensitive).
    bool ParseFirmwareFileVersionFromName();

    // Stores state; when it differs from the current one, posts "NID_DEVICE_STATE_CHANGE" with
    // (new, old). Either thread.
    void SetDeviceState(DeviceState state);

    [[nodiscard]] virtual bool IsDeviceInUpdateMode(std::uint32_t index) const = 0;
    // For an index below the count: the found device's DeviceErrorReason, S_OK. See LUpdateEngine
    // for other indices.
    [[nodiscard]] virtual ZT::ZTRESULT GetDeviceErrorCode(std::uint32_t index, std::uint32_t& reason) const = 0;

    // Whether the file at path is an image for simulated devices that must not be written now,
    // because the USB backend of the process is a real one. Writes one line to the debug output
    // when it refuses. A file that cannot be read carries no mark and is not refused here: the
    // download's own reader rejects it.
    [[nodiscard]] static bool RefusesSimulationImage(const ZT::WString& path);

    // Erases and writes the firmware file into the selected device. The worker thread runs it
    // for StartUpdate; tests may call it directly. 0, E_ABORT (cancelled) or E_FAIL.
    [[nodiscard]] virtual ZT::ZTRESULT PerformUpdate() = 0;

protected:
    // Stores state; when it differs from the current one, posts
    // "NID_FIRMWARE_FILE_STATE_CHANGE" with (new, old).
    void SetFirmwareFileState(FirmwareFileState state);
    void SetUpdateRunState(UpdateRunState state) noexcept { mUpdateRunState.store(state); }
    [[nodiscard]] bool IsCancelRequested() const noexcept { return mCancelRequested.load(); }
    void SetCancelRequested(bool requested) noexcept { mCancelRequested.store(requested); }
    void SetSelectedDeviceIndex(std::int32_t index) noexcept { mSelectedDevice.store(index); }
    // Records why the selected device cannot be updated (nothing without a valid selection).
    virtual void SetSelectedDeviceErrorReason(DeviceErrorReason reason) = 0;

    // The notifications of the engine, posted into the "application" center. Posting never
    // waits for the receiver; a center that has shut down drops them.
    void PostUpdateProgress(std::uint32_t stage, double fractionComplete, bool timeUnknown,
                            std::uint32_t secondsRemaining, bool flag2, const ZT::WString& message);
    void PostDeviceStateChange(DeviceState newState, DeviceState oldState);
    void PostFirmwareFileStateChange(FirmwareFileState newState, FirmwareFileState oldState);
    void PostFoundDeviceListChange();
    // A failure carries the record SetLastFailure left.
    void PostUpdateCompleted(bool succeeded);
    // The worker, where a task breaks: what GetLastFailure and the completion will tell.
    void SetLastFailure(CUpdateFailure failure);

private:
    // The worker's entry: runs the task in the LHolder<ThreadWorkerTask> parameter.
    ZT::ZTRESULT DoWork(const ZT::RCPtr<ZT::LRefCountedObject>& parameter) override;
    // The firmware file may go from FileFoundVersionKnown to FileInvalid between StartUpdate and
    // the worker's first step; the task checks once more before it writes anything.
    [[nodiscard]] ZT::ZTRESULT RunUpdateTask();
    [[nodiscard]] ZT::ZTRESULT StoreFirmwareFile(const ZT::WString& path, const FirmwareVersion& version);

    std::atomic<const IUpdateTarget*> mUpdateTarget{nullptr};
    IScanPreparer* mScanPreparer = nullptr; // user-interface thread only
    ZT::RetriggerableThreader mThreader;
    const ZT::RCPtr<ZT::LEvent> mUpdateDoneEvent;
    std::atomic<DeviceState> mDeviceState{DeviceState::NoDeviceDefined};
    DeviceDefinitions mDeviceDefinitions; // user-interface thread only
    std::atomic<std::int32_t> mSelectedDevice{-1};
    std::atomic<UpdateRunState> mUpdateRunState{UpdateRunState::Idle};
    std::atomic<bool> mCancelRequested{false};
    std::atomic<FirmwareFileState> mFirmwareFileState{FirmwareFileState::NoFileDefined};
    mutable std::mutex mFileMutex;
    ZT::WString mFirmwareFilePath;         // guarded by mFileMutex
    FirmwareVersion mFirmwareFileVersion; // guarded by mFileMutex
    mutable std::mutex mFailureMutex;
    CUpdateFailure mLastFailure; // guarded by mFailureMutex
};
