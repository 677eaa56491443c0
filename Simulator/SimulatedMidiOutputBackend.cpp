#include "Simulator/SimulatedMidiOutputBackend.h"

#include "Simulator/DeviceSimulator.h"
#include "Simulator/SimulatedMidiOutputPort.h"

LSimulatedMidiOutputBackend::LSimulatedMidiOutputBackend(ZT::RCPtr<LDeviceSimulator> simulator)
    : mSimulator(std::move(simulator))
{
    if (!mSimulator)
        ZT_THROW_NULL_POINTER("simulator", "LSimulatedMidiOutputBackend::LSimulatedMidiOutputBackend");
}

std::vector<std::string> LSimulatedMidiOutputBackend::ListOutputNames()
{
    std::vector<std::string> names;
    for (const auto& device : mSimulator->GetDevices()) {
        if (auto name = device->GetMidiPortName())
            names.push_back(std::move(*name));
    }
    return names;
}

ZT::RCPtr<ZT::IMidiOutputPort> LSimulatedMidiOutputBackend::Open(const std::string& name)
{
    for (const auto& device : mSimulator->GetDevices()) {
        std::uint64_t appearance = 0;
        if (device->OpenMidi(name, appearance))
            return ZT::MakeRC<LSimulatedMidiOutputPort>(device, appearance, name);
    }
    return nullptr;
}
