#pragma once
// Sequences the two devices of the product: decides which image the main engine writes next,
// configures the engine for that device, and after a successful update goes on with the other
// device when it still needs its image.
//
// The controller goes first whenever it needs its image, unless the wheel display is already in
// update mode. What is plugged in is learnt by a probe with a private engine that only lists
// devices: the controller (2C1A:8010) and the wheel display (2C1A:B010) in normal mode, and every
// device in update mode (0483:DF11) with its USB serial number. Both bootloaders look alike, so a
// bootloader is identified in one of two ways:
//   - one of the two devices is visible in normal mode and there is exactly one bootloader: it
//     is the other device (and its serial is recorded for that device);
//   - otherwise by the serial numbers recorded when the devices entered update mode
//     (CBootloaderRoleRecord): with both devices in update mode, or one in update mode and the
//     other unplugged, each bootloader is the device its serial is recorded for.
// Every bootloader present must be identified, or nothing is updated: one that is not is refused
// with a debug line that says what to do, never guessed. Exactly one of the two in normal mode
// and no bootloader is an incomplete set too. Then the main engine cannot update anything. The
// engine is aimed at an identified bootloader by its serial number. A cycle flashes at most two
// images, each at most once.
//
// There is one dual updater per process, reached through the static operations below; Prepare
// (or CreateInstance) makes it. The main engine reaches it only through the two interfaces of
// GetUpdateTarget and GetScanPreparer, which whoever makes that engine hands to it. Every
// operation but the erase-list ones and the rescan after an update runs on the user-interface
// thread; the engine's worker copies the erase list once at the start of a download, while the
// target cannot change. The rescan (StartRescanAfterUpdate) runs on the main engine's worker: it
// works on a copy of the last probe and of the cycle's flags, which come back to the
// user-interface thread in its completion (OnRescanCompleted), so mProbe and the flags stay that
// thread's; on the worker it changes only the two atomic flags, the probe engine and the main
// engine, which nobody else uses while the sequence waits for the rescan. gInstanceMutex guards
// only the process's pointer to the instance and is never held while the instance works.

#include "FirmwareUpdater/Panel/Engine/UpdateEngineInterface.h"
#include "ZTFramework/Errors/Result.h"
#include "ZTFramework/ObjectBase/RCPtr.h"
#include "ZTFramework/ObjectBase/RefCountedObject.h"
#include "ZTFramework/Utilities/Storage/StringT.h"

#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

class IDualUpdaterHost;
class IScanPreparer;
class IUpdateTarget;
class LUpdateEngine;
struct ProductDevice;

class LDualUpdater : public virtual ZT::LRefCountedObject {
public:
    using FirmwareVersion = LUpdateEngineInterface::FirmwareVersion;
    using DeviceState = LUpdateEngineInterface::DeviceState;
    using FirmwareFileState = LUpdateEngineInterface::FirmwareFileState;
    using UpdateRunState = LUpdateEngineInterface::UpdateRunState;

    // What the last probe saw.
    struct ProbeResult {
        bool AnyDeviceFound = false;
        // Each device as this probe found it in normal mode.
        bool ControllerFound = false;
        bool DisplayFound = false;
        bool ControllerNeedsUpdate = false;
        // As the controller reported it in normal mode at the last probe that found it.
        FirmwareVersion ControllerVersion;
        bool DisplayNeedsUpdate = false;
        // The device in update mode is taken to be the wheel display.
        bool DisplayInUpdateMode = false;
        // As the wheel display reported it in normal mode at the last probe that found it.
        FirmwareVersion DisplayVersion;
        bool DeviceSetIncomplete = false;
        // Part of DeviceSetIncomplete: a device in update mode could not be told to be the
        // controller or the wheel display (no record of its serial number), so nothing is updated.
        bool BootloaderUnidentified = false;
        // Part of DeviceSetIncomplete: two units of one kind are plugged in (two controllers, or
        // two wheel displays), so which one to write cannot be told; nothing is updated.
        bool DuplicateDevice = false;
        // The serial numbers of the bootloaders identified as the controller and the wheel
        // display; empty when that device is not in update mode.
        std::string ControllerBootloaderSerial;
        std::string DisplayBootloaderSerial;
    };

    // The label and button names and the string-table entries RefreshLabels uses.
    static constexpr const wchar_t* kLabelFileFirmwareVersion = L"labelFileFirmwareVersion";
    static constexpr const wchar_t* kLabelDeviceFirmwareVersion = L"labelDeviceFirmwareVersion";
    static constexpr const wchar_t* kButtonManualDeviceHasUpdatedRescan = L"buttonManualDeviceHasUpdatedRescanButton";
    static constexpr const wchar_t* kLabelStringId = L"LABEL";
    static constexpr const wchar_t* kUpdatingControllerFirmwareId = L"LABEL_UPDATING_CONTROLLER_FIRMWARE";
    static constexpr const wchar_t* kUpdatingWheelDisplayFirmwareId = L"LABEL_UPDATING_WHEEL_DISPLAY_FIRMWARE";

    // ---- The process's instance --------------------------------------------------------------

    // The instance, or null before the first Prepare or CreateInstance.
    [[nodiscard]] static ZT::RCPtr<LDualUpdater> GetInstance();
    // The instance, made on the first call (the main control's initialisation, or the first scan).
    [[nodiscard]] static ZT::RCPtr<LDualUpdater> CreateInstance();
    // Lets the instance go, with its probe engine and its worker thread: at the end of the
    // program, and between tests. The next Prepare starts afresh.
    static void ReleaseInstance();

    // ---- What an engine is given --------------------------------------------------------------

    // The process's update target and scan preparer, for LUpdateEngineInterface::SetUpdateTarget
    // and SetScanPreparer. They answer for whatever instance exists when they are asked (as the
    // static operations below do, with their neutral answers without one), and the preparer makes
    // the instance on the first scan. So an engine can be given them before the instance exists,
    // and keeps them across ReleaseInstance. They live as long as the process.
    [[nodiscard]] static const IUpdateTarget& GetUpdateTarget() noexcept;
    [[nodiscard]] static IScanPreparer& GetScanPreparer() noexcept;

    // ---- Operations on the instance ---------------------------------------------------------

    // Called, as the scan preparer, by the main engine's ScanForDevices before it lists devices. Makes the instance
    // when there is none. Right after OnUpdateCompleted has chosen the next target: S_OK and
    // nothing else. Otherwise probes, chooses the target and configures mainEngine for it: its
    // firmware file (the target's file in the application's folder, with the target's version)
    // and its one device definition; S_OK. An incomplete device set: mainEngine goes to
    // DeviceCannotBeUpdated and the result is E_FAIL, with nothing configured. While mainEngine
    // is busy (a scan, a mode switch or a download runs) nothing is probed or changed: S_OK.
    // E_FAIL when the instance cannot be made. Blocks while the probe lists devices.
    [[nodiscard]] static ZT::ZTRESULT Prepare(LUpdateEngineInterface& mainEngine);

    // Called by the main control when it has handled the end of an update. After a success,
    // probes again and, when the update is confirmed (the device now reports the version of its
    // image) and the other device still needs its image and has not had it in this cycle,
    // configures mainEngine for that device, rescans and asks the host to continue. Nothing
    // without an instance.
    // Blocks while the probe and the scan list devices; StartRescanAfterUpdate does the same
    // without blocking.
    static void OnUpdateCompleted(LUpdateEngineInterface& mainEngine, bool succeeded);
    // OnUpdateCompleted after a success, with the probe, the choice of the next device and
    // mainEngine's scan for it handed to mainEngine's worker (StartWorkerJob), so that the
    // calling thread stays free. True when the job was handed over: its completion,
    // "NID_WORKER_JOB_COMPLETED", goes to OnRescanCompleted once delivered, and the caller starts
    // nothing on mainEngine meanwhile. False, with nothing started, without an instance or while
    // the worker is busy.
    [[nodiscard]] static bool StartRescanAfterUpdate(LUpdateEngineInterface& mainEngine);
    // The end of that rescan, on the user-interface thread: what its probe saw becomes the last
    // probe and, when the other device comes next, the host is asked to continue. False, doing
    // nothing, when job is not a rescan of the present instance (another job, or an instance
    // released meanwhile).
    static bool OnRescanCompleted(const ZT::RCPtr<ZT::LRefCountedObject>& job);

    // Called by the main control after each refresh of its display, with the main engine's
    // states: writes the two version labels and hides the rescan button after a success. Nothing
    // without an instance or a host.
    static void RefreshLabels(UpdateRunState runState, DeviceState deviceState, FirmwareFileState fileState);

    // Index 0: the MIDI port name of the current target. Empty for other indices and without an
    // instance.
    [[nodiscard]] static ZT::WString GetMidiPortName(std::uint32_t index);
    // Index 0: the normal-mode product ID of the current target. 0 for other indices and without
    // an instance.
    [[nodiscard]] static std::uint32_t GetDefaultProductId(std::uint32_t index);
    // The number of flash sectors that may be erased for the current target: 3 for the
    // controller, 6 for the wheel display. Without an instance these operations answer as
    // NoUpdateTarget does: no port, product ID 0, and one sector whose address lookup fails.
    [[nodiscard]] static std::uint32_t GetEraseSectorCount();
    // The start address of sector i of the current target's list; false with address 0 when i is
    // not below the count, and false without an instance.
    [[nodiscard]] static bool GetEraseSectorAddress(std::uint32_t i, std::uint32_t& address);

    // The main control (or null when it goes). Makes the instance when there is none.
    static void SetHost(IDualUpdaterHost* host);

    // ---- Inspection of the instance -------------------------------------------------------------

    [[nodiscard]] const ProbeResult& GetProbeResult() const noexcept { return mProbe; }
    // True while the controller is the target, false for the wheel display.
    [[nodiscard]] bool IsUpdatingController() const noexcept { return mUpdatingController.load(); }
    [[nodiscard]] bool IsTargetChosenAfterUpdate() const noexcept { return mTargetChosenAfterUpdate.load(); }

    // "LDualUpdater target Controller".
    ZT::WString ToString() const override;

    // The label's "LABEL" entry used as a format with text for its %s: the first "%s" becomes
    // text and "%%" becomes "%"; every other character stays as it is. A table text can
    // therefore never make the formatting read an argument that is not there.
    [[nodiscard]] static ZT::WString FormatLabel(const ZT::WString& format, const ZT::WString& text);

private:
    LDualUpdater();

    class LRescanJob;
    // What the rescan after an update starts from and decides: the last probe in, the new one
    // out, and which device had its image in this cycle.
    struct Rescan {
        ProbeResult Probe;
        bool ControllerAttempted = false;
        bool DisplayAttempted = false;
        // The other device comes next: mainEngine is aimed at it and has scanned for it.
        bool GoOn = false;
    };

    [[nodiscard]] ZT::ZTRESULT PrepareTarget(LUpdateEngineInterface& mainEngine);
    // The rescan in three parts: its start and its end on the user-interface thread, the work
    // between on either thread.
    [[nodiscard]] Rescan BeginRescan();
    void RunRescan(LUpdateEngineInterface& mainEngine, Rescan& rescan);
    void EndRescan(const Rescan& rescan);
    void WriteLabels(UpdateRunState runState, DeviceState deviceState);
    // Made on the user-interface thread before the first probe.
    void EnsureProbeEngine();
    // What the bus shows now, starting from last: a device not found keeps its last version.
    [[nodiscard]] ProbeResult Probe(const ProbeResult& last) const;
    // "2 Halvard XR4000 NOVA units (controllers)" when the bus lists one device's normal-mode IDs
    // more than once; empty otherwise, and when the bus cannot be listed.
    [[nodiscard]] static std::string FindDuplicateDevice();
    // Tells which bootloader (by serial) is which device, from what else the probe found and the
    // record; false, with one debug line, when any bootloader stays unidentified.
    [[nodiscard]] static bool IdentifyBootloaders(bool controllerFound, bool displayFound,
                                                  const std::vector<std::string>& serials, ProbeResult& probe);
    // Lists the devices of one pair with the probe engine; the number found (0 or 1) and the
    // version of the first.
    [[nodiscard]] std::uint32_t ProbeFor(std::uint32_t vendorId, std::uint32_t productId, FirmwareVersion& version) const;
    void Configure(LUpdateEngineInterface& mainEngine, const ProbeResult& probe) const;
    [[nodiscard]] const ProductDevice& Target() const noexcept;

    ProbeResult mProbe; // user-interface thread only
    ZT::RCPtr<LUpdateEngine> mProbeEngine;
    // Read by the worker through the erase-list operations; the rescan sets it there.
    std::atomic<bool> mUpdatingController{false};
    // Set by the rescan on the worker, read by the scan it makes there.
    std::atomic<bool> mTargetChosenAfterUpdate{false};
    bool mControllerAttempted = false;
    bool mDisplayAttempted = false;
    IDualUpdaterHost* mHost = nullptr; // the main control, which clears it before it goes
};
