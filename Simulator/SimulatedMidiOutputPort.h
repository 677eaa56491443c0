#pragma once
// The MIDI output port of one appearance of a simulated device in normal mode. Once the device
// leaves the bus (for its bootloader, or unplugged) sends fail, as they do on a real system.
//
// mSendMutex serialises sends and is held for a whole send, including the completion time-out of
// a device that never reports completion; Close takes it too.

#include "Simulator/SimulatedDevice.h"
#include "ZTFramework/Midi/MidiOutputPort.h"
#include "ZTFramework/ObjectBase/RCPtr.h"

#include <mutex>

class LSimulatedMidiOutputPort final : public ZT::IMidiOutputPort {
public:
    LSimulatedMidiOutputPort(ZT::RCPtr<LSimulatedDevice> device, std::uint64_t appearance, std::string name);

    [[nodiscard]] ZT::ZTRESULT Send(const std::uint8_t* data, std::uint32_t length) override;
    [[nodiscard]] std::string GetName() const override { return mName; }
    void Close() override;

private:
    const ZT::RCPtr<LSimulatedDevice> mDevice;
    const std::uint64_t mAppearance;
    const std::string mName;
    std::mutex mSendMutex;
    bool mOpen = true; // guarded by mSendMutex
};
