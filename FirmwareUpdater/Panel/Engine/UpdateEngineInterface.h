#pragma once
// The firmware-update engine seen from the rest of the updater.
//
// The records and enumerations below are what the engine, the dual updater, the command-line
// processor and the main control exchange. Their numeric values are a contract: the main control
// maps them to string-table labels and the dual updater compares them, so a value never changes
// meaning. The payloads of the engine's notifications live in files of their own
// (DeviceStateChangeNotificationData.h and siblings); the product's two devices are described in
// ProductDevices.h.
//
// The class itself is the abstract engine: it keeps the engine's states, applies every rule of
// the state machine that needs no hardware, turns each state change into a notification in the
// "application" center and runs the firmware download on a worker thread of its own. Reaching
// the devices (listing, the switch into update mode, the download) is left to LUpdateEngine.
//
// Threads. The user-interface thread (or the command-line run in its place) calls every
// operation. The worker thread runs only DoWork: the download and everything it calls, which
// includes SetDeviceState, SetUpdateRunState and the Post operations. Notifications are the only
// path from the worker to the user interface. The states, the selected index, the run state and
// the cancel flag are atomics, so either thread may read them at any time; the firmware file's
// path and version are guarded by mFileMutex, which is never held while anything is posted. The
// busy states keep the two threads apart otherwise: while the state is Updating the operations
// that change definitions, scan or select refuse.
//
// An engine must be held through an RCPtr (MakeRC): the worker holds a reference to it while a
// task runs, so an engine released meanwhile is destroyed only when the task has ended.

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

class LUpdateEngineInterface : protected virtual ZT::LThreadWorker, public virtual ZT::LRefCountedObject {
public:
    // ---- Records and enumerations ---------------------------------------------------------

    // A device the engine can update. An ID of 0 means the device has no such mode: a definition
    // with both bootloader IDs 0 matches devices in normal mode only.
    struct DeviceDefinition {
        std::uint32_t VendorId = 0;            // USB vendor ID in normal (application) mode
        std::uint32_t ProductId = 0;           // USB product ID in normal mode
        std::uint32_t BootloaderVendorId = 0;  // USB vendor ID while the DFU bootloader runs
        std::uint32_t BootloaderProductId = 0; // USB product ID while the DFU bootloader runs
        ZT::WString Text1;                     // carried with the record; empty in this program
        ZT::WString Text2;                     // as Text1
        ZT::WString MidiPortName;              // the port through which a device in normal mode is reached
        ZT::WString Text4;                     // as Text1
        ZT::WString Text5;                     // as Text1
        // When not empty, only a bootloader that reports this USB serial number is this device
        // in update mode: both of the product's bootloaders share one vendor/product pair.
        std::string BootloaderSerialNumber;
    };
    using DeviceDefinitions = ZT::Array<DeviceDefinition>;

    // A firmware version: of a firmware file, or as a device in normal mode reports it. A zeroed
    // record with an empty text stands for an unknown version.
    struct FirmwareVersion {
        FirmwareVersion() = default;
        FirmwareVersion(std::uint32_t part1, std::uint32_t part2, std::uint32_t part3, std::uint32_t part4,
                        ZT::WString text = ZT::WString())
            : Part1(part1), Part2(part2), Part3(part3), Part4(part4), Text(std::move(text))
        {
        }

        std::uint32_t Part1 = 0; // most significant
        std::uint32_t Part2 = 0;
        std::uint32_t Part3 = 0;
        std::uint32_t Part4 = 0; // least significant
        ZT::WString Text;        // as shown to the user; takes no part in comparisons

        // True when the first part that differs, from Part1 down, is larger here. Equal versions
        // are not newer; so {0,1,0,0} is newer than {0,0,9,9}.
        [[nodiscard]] bool IsNewerThan(const FirmwareVersion& other) const noexcept;
        // True when all four parts are equal, whatever the texts say.
        [[nodiscard]] bool HasSameNumberAs(const FirmwareVersion& other) const noexcept;

        // A device in normal mode reports its firmware as its USB device release number: the four
        // hexadecimal digits, most significant first, become Part1..Part4. The text is the decimal
        // form of the first two digits, a dot and the last two (0x0031 gives "00.31", 0x1A05 gives
        // "110.05"); a release of 0 gives the unknown version.
        [[nodiscard]] static FirmwareVersion FromReleaseNumber(std::uint16_t release);
        // The inverse: each part's low four bits as one hexadecimal digit of the release number.
        [[nodiscard]] std::uint16_t ToReleaseNumber() const noexcept;
    };

    // The engine's main state. Scanning, EnteringUpdateMode and Updating are the busy states in
    // which scanning, selecting and setting definitions are refused.
    enum class DeviceState : std::uint32_t {
        NoDeviceDefined = 0,              // no device definitions set yet (initial)
        NoDeviceFound = 1,                // a scan found no matching device
        Scanning = 2,                     // a scan is running
        DevicesAvailableNoneSelected = 3, // several devices found, or a selection was out of range
        DeviceCannotBeUpdated = 4,        // the selected device has an error (see DeviceErrorReason)
        DeviceNotInUpdateMode = 5,        // the selected device runs its application firmware
        EnteringUpdateMode = 6,           // the device is being switched into its bootloader
        DeviceInUpdateMode = 7,           // the selected device runs its DFU bootloader
        Updating = 8,                     // a firmware download runs on the worker thread
    };

    // An update may start from FileFoundVersionUnknown or FileFoundVersionKnown; the file's
    // version can be read only in FileFoundVersionKnown.
    enum class FirmwareFileState : std::uint32_t {
        NoFileDefined = 0,           // no firmware file set (initial)
        FileInvalid = 1,             // the file is missing or could not be used
        FileFoundVersionUnknown = 2, // the file exists, its version is not known
        FileFoundVersionKnown = 3,   // the file exists and its version is set
    };

    // Why the selected device cannot be updated; kept per found device.
    enum class DeviceErrorReason : std::uint32_t {
        NoReason = 0,
        DriverTooOld = 1,        // reported for a query without a valid selection, never stored
        SystemFailure = 2,       // never stored
        FileAccessFailure = 3,   // the firmware file could not be opened or read during an update
        DeviceAccessFailure = 4, // the device stopped answering
    };

    // The outcome of the last update run. Values from Failed on mean the run has finished.
    enum class UpdateRunState : std::int32_t {
        Idle = 0,      // initial; also after a finished outcome was read with reset
        Running = 1,   // the update worker has started
        Failed = 2,    // the device went to DeviceCannotBeUpdated
        Cancelled = 3, // a cancel request was honoured; the device stays in update mode
        Succeeded = 4, // the whole image was written and the device told to leave update mode
    };

    // The work the engine hands to its worker thread, wrapped in a ZT::LHolder.
    enum class ThreadWorkerTask : std::uint32_t {
        EnterUpdateModeTask = 0, // the engine's enter-update-mode step
        UpdateFirmwareTask = 1,  // the update step, followed by the completion notification
    };

    // The IDs of the engine's notifications. Each carries the payload named beside it.
    static constexpr const wchar_t* kNidDeviceStateChange = L"NID_DEVICE_STATE_CHANGE";               // LDeviceStateChangeNotificationData
    static constexpr const wchar_t* kNidFirmwareFileStateChange = L"NID_FIRMWARE_FILE_STATE_CHANGE"; // LFirmwareFileStateChangeNotificationData
    static constexpr const wchar_t* kNidFoundDeviceListChange = L"NID_FOUND_DEVICE_LIST_CHANGE";     // no payload
    static constexpr const wchar_t* kNidFirmwareUpdateProgress = L"NID_FIRMWARE_UPDATE_PROGRESS";    // LFirmwareUpdateProgressNotificationData
    static constexpr const wchar_t* kNidFirmwareUpdateCompleted = L"NID_FIRMWARE_UPDATE_COMPLETED";  // LFirmwareUpdateCompletedNotificationData
    // The center every notification of the engine is posted into.
    static constexpr const wchar_t* kApplicationCenterName = L"application";

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

    // Replaces the definitions of the devices this engine looks for, forgets the selection and
    // sets NoDeviceFound. E_FAIL, changing nothing, in the busy states Scanning,
    // EnteringUpdateMode and Updating.
    [[nodiscard]] virtual ZT::ZTRESULT SetDeviceDefinitions(const DeviceDefinitions& definitions);
    [[nodiscard]] const DeviceDefinitions& GetDeviceDefinitions() const noexcept { return mDeviceDefinitions; }

    // Lets the dual updater choose and configure the next image (it may replace the definitions
    // and the firmware file), then lists the devices: none found or a failed listing give
    // NoDeviceFound, several give DevicesAvailableNoneSelected, exactly one is selected at once
    // with a single state notification. Returns the listing's result; the dual updater's failure
    // when it finds an incomplete device set (the state is then DeviceCannotBeUpdated and
    // nothing is listed); E_FAIL in the busy states. Blocks while the devices are listed.
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
    // Asks a running mode switch or download to stop; see LUpdateEngine.
    [[nodiscard]] virtual ZT::ZTRESULT CancelUpdate() = 0;

    // The outcome of the last update. With reset, a finished outcome (Failed and later) reads as
    // Idle afterwards; Running is left as it is.
    [[nodiscard]] UpdateRunState GetUpdateRunState(bool reset);

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
    void PostUpdateCompleted(bool succeeded);

private:
    // The worker's entry: runs the task in the LHolder<ThreadWorkerTask> parameter.
    ZT::ZTRESULT DoWork(const ZT::RCPtr<ZT::LRefCountedObject>& parameter) override;
    // The firmware file may go from FileFoundVersionKnown to FileInvalid between StartUpdate and
    // the worker's first step; the task checks once more before it writes anything.
    [[nodiscard]] ZT::ZTRESULT RunUpdateTask();
    [[nodiscard]] ZT::ZTRESULT StoreFirmwareFile(const ZT::WString& path, const FirmwareVersion& version);

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
};

// The enumerator's name ("DeviceInUpdateMode"), for log lines; "invalid DeviceState" (and so on)
// for a value outside the enumeration, as one read from a u32 field may be. Inside a class that inherits IStringable::ToString, call them as
// ::ToString(value).
[[nodiscard]] const char* ToString(LUpdateEngineInterface::DeviceState state) noexcept;
[[nodiscard]] const char* ToString(LUpdateEngineInterface::FirmwareFileState state) noexcept;
[[nodiscard]] const char* ToString(LUpdateEngineInterface::DeviceErrorReason reason) noexcept;
[[nodiscard]] const char* ToString(LUpdateEngineInterface::UpdateRunState state) noexcept;
[[nodiscard]] const char* ToString(LUpdateEngineInterface::ThreadWorkerTask task) noexcept;
