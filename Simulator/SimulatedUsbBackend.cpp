#include "Simulator/SimulatedUsbBackend.h"

#include "Simulator/DeviceSimulator.h"
#include "Simulator/SimulatedUsbDeviceConnection.h"

LSimulatedUsbBackend::LSimulatedUsbBackend(ZT::RCPtr<LDeviceSimulator> simulator) : mSimulator(std::move(simulator))
{
    if (!mSimulator)
        ZT_THROW_NULL_POINTER("simulator", "LSimulatedUsbBackend::LSimulatedUsbBackend");
}

ZT::ZTRESULT LSimulatedUsbBackend::ListDevices(std::vector<ZT::UsbDeviceInfo>& devices)
{
    return mSimulator->ListUsbDevices(devices);
}

ZT::RCPtr<ZT::IUsbDeviceConnection> LSimulatedUsbBackend::Open(const std::string& path, ZT::UsbError& error)
{
    for (const auto& device : mSimulator->GetDevices()) {
        std::uint64_t appearance = 0;
        const ZT::UsbError result = device->OpenUsb(path, appearance);
        if (result == ZT::UsbError::NotFound)
            continue;
        error = result;
        if (result != ZT::UsbError::None)
            return nullptr;
        return ZT::MakeRC<LSimulatedUsbDeviceConnection>(device, appearance);
    }
    error = mSimulator->GetBus()->WasIssued(path) ? ZT::UsbError::NoDevice : ZT::UsbError::NotFound;
    return nullptr;
}
