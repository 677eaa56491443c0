#pragma once
// One simulated device of the controller: the controller itself or the wheel display.
//
// In normal mode the device is on the bus with its own IDs (2C1A:8010 or 2C1A:B010), reports the
// version of the firmware in its flash as its USB release number and has a MIDI output port (with
// the identityFromImage fault: the IDs and port of the device its image names).
// The update-mode message on that port makes it leave the bus and, after bootloaderAppearMs,
// enumerate as the DfuSe bootloader (0483:DF11). The bootloader's leave request makes it reset:
// after returnMs it powers up again. At every power-up (leave, Plug, a new run) the boot code
// looks at the application's first word, its initial stack pointer: when that is a plausible RAM
// address (IsPlausibleStackPointer) the application starts, otherwise (erased) the device
// enumerates as its bootloader, in dfuIDLE. A started image that is not whole (its version
// record or checksum do not match, CheckFirmwareImage) crashes: the device never enumerates
// (RunningBrokenImage). With the checksImage option the boot code starts only a whole image and
// stays in its bootloader otherwise. Each time the
// device enumerates it gets a new path, so connections and ports of an earlier appearance fail
// with "no device".
//
// Timed events are not waited for by any thread: each call compares the simulator's clock with the
// time the next event falls due. Every member may be called from any thread; all state is guarded
// by mMutex, which is never held while the device waits on the clock (a held-back status request,
// an unanswered request) nor while it calls its change hook.

#include "Simulator/DfuSeBootloader.h"
#include "Simulator/FirmwareVersionRecord.h"
#include "Simulator/SimulatedBus.h"
#include "Simulator/SimulatedDeviceFaults.h"
#include "Simulator/SimulatedDeviceKind.h"
#include "Simulator/SimulatedDeviceTimings.h"
#include "Simulator/SimulatedFlash.h"
#include "Simulator/SimulatedUsbRequest.h"
#include "ZTFramework/Errors/Result.h"
#include "ZTFramework/ObjectBase/RCPtr.h"
#include "ZTFramework/ObjectBase/RefCountedObject.h"
#include "ZTFramework/Usb/UsbDeviceInfo.h"
#include "ZTFramework/Usb/UsbError.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <vector>

enum class SimulatedDeviceMode {
    Application,           // normal mode: on the bus with its own IDs, MIDI port present
    SwitchingToBootloader, // off the bus after the update-mode message
    Bootloader,            // on the bus as 0483:DF11
    Restarting,            // off the bus after the bootloader's leave request
    Unplugged,             // off the bus until Plug
    RunningBrokenImage,    // off the bus: started a half-written image; Plug starts it again
};

[[nodiscard]] const char* SimulatedDeviceModeName(SimulatedDeviceMode mode);

// A device as it stands, flash and bootloader session settled (see LDfuSeBootloader::Settle): what
// a state file keeps between runs.
struct SimulatedDeviceSnapshot {
    SimulatedDeviceMode Mode = SimulatedDeviceMode::Application;
    DfuSeSession Bootloader;           // meaningful in Bootloader mode
    std::vector<std::uint8_t> Flash;   // the whole flash from LSimulatedFlash::kBaseAddress
};

class LSimulatedDevice : public virtual ZT::LRefCountedObject {
public:
    // Called after a request that changed the device's mode (modeChanged) or its bootloader's DFU
    // state, on the thread that made the request, with no lock of the device held.
    using ChangeHook = std::function<void(bool modeChanged)>;
    // Told what the device holds when its hold fault's hold begins (SimulatedDeviceHold), on the
    // thread that is held, with no lock of the device held: "the controller holds ...".
    using HoldHook = std::function<void(const std::string& text)>;

    // What became of a MIDI message sent to the device.
    enum class MidiDelivery { Delivered, Gone, NeverCompletes };

    // A device fresh from the factory: its flash holds an application image whose version record
    // carries releaseNumber, and it is on the bus in normal mode. Without a release number the
    // flash is empty and the device starts in its bootloader.
    // serialNumber is the USB serial number it reports, in both modes (the chip's unique ID).
    LSimulatedDevice(ZT::RCPtr<LSimulatedBus> bus, SimulatedDeviceKind kind, std::optional<std::uint16_t> releaseNumber,
                     std::string serialNumber = {});

    [[nodiscard]] SimulatedDeviceKind GetKind() const noexcept { return mKind; }
    [[nodiscard]] const ZT::RCPtr<LSimulatedBus>& GetBus() const noexcept { return mBus; }
    [[nodiscard]] const std::string& GetSerialNumber() const noexcept { return mSerialNumber; }

    // The getters of the present state are not const: asking lets due events happen first.
    [[nodiscard]] SimulatedDeviceMode GetMode();
    // The device as the bus lists it now; nothing while it is off the bus.
    [[nodiscard]] std::optional<ZT::UsbDeviceInfo> GetUsbInfo();
    // The name of its MIDI output port while it has one.
    [[nodiscard]] std::optional<std::string> GetMidiPortName();
    // The bootloader's DFU state while the device runs its bootloader.
    [[nodiscard]] std::optional<ZT::DfuState> GetDfuState();

    void SetFaults(const SimulatedDeviceFaults& faults);
    [[nodiscard]] SimulatedDeviceFaults GetFaults() const;
    // How many times a fault (the point or a named one) has acted since the device was made.
    [[nodiscard]] std::uint32_t GetFaultHits() const;
    void SetTimings(const SimulatedDeviceTimings& timings);
    [[nodiscard]] SimulatedDeviceTimings GetTimings() const;

    // Pulls the cable: the device leaves the bus at once, whatever it was doing.
    void Unplug();
    // Plugs it in (again): it powers up at once, in normal mode when its flash holds a valid
    // image, in its bootloader otherwise (see above). Does nothing while it is plugged in.
    void Plug();

    // The device now; a device on its way into its bootloader is taken as arrived there.
    [[nodiscard]] SimulatedDeviceSnapshot TakeSnapshot();
    // Puts the device on the bus as its bootloader, continuing session (a new appearance). False,
    // changing nothing, when session.State is not a resting state.
    [[nodiscard]] bool ResumeBootloader(const DfuSeSession& session);
    // Takes the device off the bus as one that runs a broken image.
    void ResumeBrokenImage();
    void SetChangeHook(ChangeHook hook);
    void SetHoldHook(HoldHook hook);

    // Writes bytes into the flash as a factory programmer does. False when they leave the flash.
    [[nodiscard]] bool ProgramFlash(std::uint32_t address, std::span<const std::uint8_t> bytes);
    // The whole flash from LSimulatedFlash::kBaseAddress.
    [[nodiscard]] std::vector<std::uint8_t> GetFlashDump() const;
    // length bytes from address; nothing when the range leaves the flash.
    [[nodiscard]] std::optional<std::vector<std::uint8_t>> ReadFlash(std::uint32_t address, std::size_t length) const;
    // The release number of the image in flash; nothing when the flash holds no valid image (the
    // release a power-up would report).
    [[nodiscard]] std::optional<std::uint16_t> GetFlashReleaseNumber() const;

    // What the device saw and did, one line each, "[1500 ms] ..." (times of the simulator clock).
    [[nodiscard]] std::vector<std::string> GetLog() const;
    // Every control transfer that reached the device, in order.
    [[nodiscard]] std::vector<SimulatedUsbRequest> GetRequestLog() const;
    void ClearLogs();

    // For the simulated backends.
    // Opens the device if path is its current path: None with the appearance to use for
    // transfers; NotFound when path is not its path; Busy while another connection holds it.
    [[nodiscard]] ZT::UsbError OpenUsb(const std::string& path, std::uint64_t& appearance);
    void CloseUsb(std::uint64_t appearance);
    // One control transfer for the connection opened on appearance. Blocks on the simulator clock
    // while the bootloader holds a status request back, and for the control-transfer time-out
    // when the device does not answer.
    [[nodiscard]] bool ControlTransfer(std::uint64_t appearance, std::uint8_t requestType, std::uint8_t request,
                                       std::uint16_t value, std::uint16_t index, std::uint8_t* data,
                                       std::uint16_t length, ZT::UsbError& error, std::uint16_t& transferred);
    // A USB port reset for the connection opened on appearance: the device leaves the bus and
    // enumerates again after its restart time. A bootloader in a manifestation state (the leave
    // was asked for) boots like a power-up, which starts the application when the image's first
    // word allows it; in any other state it comes back as the bootloader in dfuIDLE; an
    // application restarts. False with NoDevice when that appearance is no longer on the bus.
    [[nodiscard]] bool ResetUsb(std::uint64_t appearance, ZT::UsbError& error);
    // Opens the MIDI port if the device has one named name; the appearance to send with.
    [[nodiscard]] bool OpenMidi(const std::string& name, std::uint64_t& appearance);
    // Takes one MIDI message sent on the port opened on appearance. Blocks only for the hold
    // fault's hold at the update-mode message.
    [[nodiscard]] MidiDelivery ReceiveMidi(std::uint64_t appearance, std::span<const std::uint8_t> message);

private:
    using Lock = std::unique_lock<std::mutex>;
    // Declared before the lock in a public member: calls the change hook once the lock is gone.
    class ChangeNotice;

    // Lets due events happen: the bootloader appearing, the device returning after a reset.
    void AdvanceLocked(std::uint64_t nowMs);
    // The reset after a leave (or a USB reset that ends one) at timeMs: off the bus, then powered
    // up after its restart time, as the Return faults allow.
    void RestartLocked(std::uint64_t timeMs);
    // Powers the device up from its flash at timeMs: its bootloader checks the image.
    void StartLocked(std::uint64_t timeMs);
    [[nodiscard]] FirmwareImageCheck CheckImageLocked(std::optional<std::uint16_t>* release) const;
    void EnumerateLocked(SimulatedDeviceMode mode, std::uint64_t timeMs);
    void LeaveBusLocked(SimulatedDeviceMode mode, std::optional<std::uint64_t> returnAtMs, std::uint64_t timeMs);
    [[nodiscard]] bool IsOnBusLocked() const;
    [[nodiscard]] std::optional<std::uint16_t> FlashReleaseLocked() const;
    void LogLocked(std::uint64_t timeMs, const std::string& text);
    // The hold fault's hold begins: with the lock released, the state is kept (the change hook,
    // as for a mode change) and the hold hook is told. The lock stays released.
    void BeginHoldUnlocked(Lock& lock);
    // Whether the hold fault holds at point, once per process.
    [[nodiscard]] bool HoldsLocked(SimulatedDeviceHold::Point point);

    const ZT::RCPtr<LSimulatedBus> mBus;
    const SimulatedDeviceKind mKind;
    const SimulatedDeviceIdentity mIdentity;
    const std::string mSerialNumber;

    mutable std::mutex mMutex;
    // Everything below is guarded by mMutex.
    SimulatedDeviceFaults mFaults;
    SimulatedDeviceTimings mTimings;
    LSimulatedFlash mFlash;
    SimulatedDeviceMode mMode = SimulatedDeviceMode::Unplugged;
    std::optional<std::uint64_t> mNextEventMs; // when SwitchingToBootloader or Restarting ends
    std::uint64_t mAppearance = 0;             // counts enumerations; connections remember theirs
    std::string mPath;                         // current device node while on the bus
    std::uint16_t mReleaseNumber = 0;          // reported in normal mode
    SimulatedDeviceIdentity mRunningIdentity;  // shown in normal mode: mIdentity, or the image's (identityFromImage)
    std::unique_ptr<LDfuSeBootloader> mBootloader; // while in Bootloader mode
    std::uint32_t mOpenConnections = 0;        // on the current appearance
    std::vector<std::string> mLog;
    std::vector<SimulatedUsbRequest> mRequestLog;
    std::uint64_t mModeChanges = 0;            // count up; the change notice compares them
    std::uint64_t mDfuStateChanges = 0;
    std::uint32_t mFaultHits = 0;
    ChangeHook mChangeHook;
    HoldHook mHoldHook;
    bool mDeviceHoldDone = false; // a hold outside the bootloader has happened
};
