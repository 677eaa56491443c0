#include "Simulator/DeviceSimulator.h"

#include "Simulator/SimulatedMidiOutputBackend.h"
#include "Simulator/SimulatedUsbBackend.h"

#include <algorithm>

LDeviceSimulator::LDeviceSimulator(double timeFactor, ZT::IClock* clock)
    : mBus(ZT::MakeRC<LSimulatedBus>(timeFactor, clock))
{
}

LDeviceSimulator::~LDeviceSimulator()
{
    // A device a test still holds must not call back into a simulator that is gone.
    for (const ZT::RCPtr<LSimulatedDevice>& device : mDevices) {
        device->SetChangeHook(nullptr);
        device->SetHoldHook(nullptr);
    }
}

void LDeviceSimulator::SetHoldHook(std::function<void(const std::string& text)> hook)
{
    std::vector<ZT::RCPtr<LSimulatedDevice>> devices;
    {
        std::lock_guard lock(mMutex);
        mHoldHook = std::move(hook);
        devices = mDevices;
    }
    for (const ZT::RCPtr<LSimulatedDevice>& device : devices)
        device->SetHoldHook(mHoldHook);
}

void LDeviceSimulator::SetChangeHook(std::function<void(bool modeChanged)> hook)
{
    std::vector<ZT::RCPtr<LSimulatedDevice>> devices;
    {
        std::lock_guard lock(mMutex);
        mChangeHook = std::move(hook);
        devices = mDevices;
    }
    for (const ZT::RCPtr<LSimulatedDevice>& device : devices)
        device->SetChangeHook([this](bool modeChanged) { NotifyChanged(modeChanged); });
}

void LDeviceSimulator::NotifyChanged(bool modeChanged)
{
    std::function<void(bool)> hook;
    {
        std::lock_guard lock(mMutex);
        hook = mChangeHook;
    }
    if (hook)
        hook(modeChanged);
}

ZT::RCPtr<LSimulatedDevice> LDeviceSimulator::AddDevice(SimulatedDeviceKind kind,
                                                        std::optional<std::uint16_t> releaseNumber)
{
    std::lock_guard lock(mMutex);
    const auto sameKind = std::count_if(mDevices.begin(), mDevices.end(),
                                        [kind](const ZT::RCPtr<LSimulatedDevice>& d) { return d->GetKind() == kind; });
    auto device = ZT::MakeRC<LSimulatedDevice>(mBus, kind, releaseNumber,
                                               SimulatedSerialNumber(kind, static_cast<std::uint32_t>(sameKind)));
    // The device is not shared yet: taking its lock under mMutex cannot wait on anyone.
    device->SetChangeHook([this](bool modeChanged) { NotifyChanged(modeChanged); });
    device->SetHoldHook(mHoldHook);
    mDevices.push_back(device);
    return device;
}

std::vector<ZT::RCPtr<LSimulatedDevice>> LDeviceSimulator::GetDevices() const
{
    std::lock_guard lock(mMutex);
    return mDevices;
}

void LDeviceSimulator::SetEnumerationFails(bool fails)
{
    std::lock_guard lock(mMutex);
    mEnumerationFails = fails;
}

ZT::ZTRESULT LDeviceSimulator::ListUsbDevices(std::vector<ZT::UsbDeviceInfo>& devices) const
{
    devices.clear();
    std::vector<ZT::RCPtr<LSimulatedDevice>> snapshot;
    {
        std::lock_guard lock(mMutex);
        if (mEnumerationFails)
            return ZT::E_FAIL;
        snapshot = mDevices;
    }
    for (const auto& device : snapshot) {
        if (auto info = device->GetUsbInfo())
            devices.push_back(std::move(*info));
    }
    return ZT::S_OK;
}

ZT::RCPtr<ZT::IUsbBackend> LDeviceSimulator::CreateUsbBackend()
{
    return ZT::MakeRC<LSimulatedUsbBackend>(ZT::RCPtr<LDeviceSimulator>(this));
}

ZT::RCPtr<ZT::IMidiOutputBackend> LDeviceSimulator::CreateMidiOutputBackend()
{
    return ZT::MakeRC<LSimulatedMidiOutputBackend>(ZT::RCPtr<LDeviceSimulator>(this));
}

void LDeviceSimulator::Install()
{
    ZT::SetUsbBackend(CreateUsbBackend());
    ZT::SetMidiOutputBackend(CreateMidiOutputBackend());
}
