#pragma once
// The MIDI output backend over a device simulator: one output per device in normal mode that has
// a MIDI port. Every member may be called from any thread.

#include "ZTFramework/Midi/MidiOutputBackend.h"
#include "ZTFramework/ObjectBase/RCPtr.h"

class LDeviceSimulator;

class LSimulatedMidiOutputBackend final : public ZT::IMidiOutputBackend {
public:
    explicit LSimulatedMidiOutputBackend(ZT::RCPtr<LDeviceSimulator> simulator);

    [[nodiscard]] std::vector<std::string> ListOutputNames() override;
    // Of two devices with the same name, the one added first.
    [[nodiscard]] ZT::RCPtr<ZT::IMidiOutputPort> Open(const std::string& name) override;

private:
    const ZT::RCPtr<LDeviceSimulator> mSimulator;
};
