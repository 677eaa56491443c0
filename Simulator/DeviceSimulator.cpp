#include "Simulator/DeviceSimulator.h"

#include "Simulator/SimulatedMidiOutputBackend.h"
#include "Simulator/SimulatedUsbBackend.h"

#include <algorithm>

LDeviceSimulator::LDeviceSimulator(double timeFactor, ZT::IClock* clock)
    : mBus(ZT::MakeRC<LSimulatedBus>(timeFactor, clock))
{
}

ZT::RCPtr<LSimulatedDevice> LDeviceSimulator::AddDevice(SimulatedDeviceKind kind,
                                                        std::optional<std::uint16_t> releaseNumber)
{
    std::lock_guard lock(mMutex);
    const auto sameKind = std::count_if(mDevices.begin(), mDevices.end(),
                                        [kind](const ZT::RCPtr<LSimulatedDevice>& d) { return d->GetKind() == kind; });
    auto device = ZT::MakeRC<LSimulatedDevice>(mBus, kind, releaseNumber,
                                               SimulatedSerialNumber(kind, static_cast<std::uint32_t>(sameKind)));
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
