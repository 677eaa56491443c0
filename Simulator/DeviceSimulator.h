#pragma once
// The simulated hardware: the devices on a simulated bus, reachable through simulated USB and MIDI
// backends that behave like the real ones.
//
//   auto simulator = ZT::MakeRC<LDeviceSimulator>();          // virtual time on ZT::GetClock()
//   auto controller = simulator->AddDevice(SimulatedDeviceKind::Controller, 0x0031);
//   simulator->AddDevice(SimulatedDeviceKind::WheelDisplay, 0x0050);
//   simulator->Install();                                     // the process now talks to them
//
// Devices are listed in the order they were added; adding two of a kind gives two devices with the
// same IDs and the same MIDI port name. A simulator must be held through an RCPtr: the backends it
// creates keep it alive.
//
// Every member may be called from any thread; mMutex guards the device list and is never held
// while a device is asked something.

#include "Simulator/SimulatedBus.h"
#include "Simulator/SimulatedDevice.h"
#include "Simulator/SimulatedDeviceKind.h"
#include "ZTFramework/Errors/Result.h"
#include "ZTFramework/Midi/MidiOutputBackend.h"
#include "ZTFramework/ObjectBase/RCPtr.h"
#include "ZTFramework/ObjectBase/RefCountedObject.h"
#include "ZTFramework/Time/Clock.h"
#include "ZTFramework/Usb/UsbBackend.h"

#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

class LDeviceSimulator : public virtual ZT::LRefCountedObject {
public:
    // timeFactor 0: virtual time on clock, or on the process clock when clock is null.
    // Above 0: real time, every delay of the devices multiplied by the factor.
    // Throws an invalid-argument error for a negative or non-finite factor.
    explicit LDeviceSimulator(double timeFactor = 0.0, ZT::IClock* clock = nullptr);
    ~LDeviceSimulator() override;

    // Adds a device fresh from the factory, on the bus at once: in normal mode with releaseNumber
    // in its flash's version record, or in its bootloader when releaseNumber is empty.
    ZT::RCPtr<LSimulatedDevice> AddDevice(SimulatedDeviceKind kind, std::optional<std::uint16_t> releaseNumber);
    [[nodiscard]] std::vector<ZT::RCPtr<LSimulatedDevice>> GetDevices() const;

    // hook is called after any device changed its mode (modeChanged) or its bootloader's DFU
    // state, on the thread that made the change, with no lock of the simulator or of a device
    // held: it may take snapshots of the devices. Null removes it.
    void SetChangeHook(std::function<void(bool modeChanged)> hook);

    // hook is told what a device holds when its hold fault's hold begins (SimulatedDeviceHold), on
    // the held thread, with no lock held. Null removes it.
    void SetHoldHook(std::function<void(const std::string& text)> hook);

    // Makes every enumeration fail as a bus without access would (ListDevices gives E_FAIL).
    void SetEnumerationFails(bool fails);

    // The devices on the bus now, in the order they were added; E_FAIL when enumeration fails.
    [[nodiscard]] ZT::ZTRESULT ListUsbDevices(std::vector<ZT::UsbDeviceInfo>& devices) const;

    [[nodiscard]] ZT::RCPtr<ZT::IUsbBackend> CreateUsbBackend();
    [[nodiscard]] ZT::RCPtr<ZT::IMidiOutputBackend> CreateMidiOutputBackend();
    // Selects this simulator's backends as the process's USB and MIDI output backends.
    // ZT::SetUsbBackend(nullptr) and ZT::SetMidiOutputBackend(nullptr) undo it.
    void Install();

    [[nodiscard]] const ZT::RCPtr<LSimulatedBus>& GetBus() const noexcept { return mBus; }

private:
    void NotifyChanged(bool modeChanged);

    const ZT::RCPtr<LSimulatedBus> mBus;
    mutable std::mutex mMutex;
    std::vector<ZT::RCPtr<LSimulatedDevice>> mDevices; // guarded by mMutex
    bool mEnumerationFails = false;                    // guarded by mMutex
    std::function<void(bool)> mChangeHook;             // guarded by mMutex
    std::function<void(const std::string&)> mHoldHook; // guarded by mMutex
};
