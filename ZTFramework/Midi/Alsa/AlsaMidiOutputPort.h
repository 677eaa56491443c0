#pragma once
// One sequencer port of a MIDI output device, opened through LAlsaMidiOutputBackend.
//
// A send frames the message (a system-exclusive message whole, anything else as a channel message
// of at most four bytes), hands it to the sequencer as one event and waits for the sequencer to
// take it, at most kMidiSendCompletionTimeoutMs.
//
// Threads: mSendMutex serialises sends and is held for a whole send, including its completion
// wait; Close takes it too, so it waits for a send in progress.

#include "ZTFramework/Midi/Alsa/AlsaSequencer.h"
#include "ZTFramework/Midi/MidiOutputPort.h"
#include "ZTFramework/ObjectBase/RCPtr.h"

#include <mutex>

namespace ZT {

class LAlsaMidiOutputPort final : public IMidiOutputPort {
public:
    // Throws for a null sequencer.
    LAlsaMidiOutputPort(RCPtr<IAlsaSequencer> sequencer, int client, int port, std::string name);

    // length on success; E_INVALIDARG for null data or length 0 (nothing is sent); E_FAIL when the
    // port is closed or the sequencer refused the message or did not take it within 10 s.
    [[nodiscard]] ZTRESULT Send(const std::uint8_t* data, std::uint32_t length) override;
    [[nodiscard]] std::string GetName() const override { return mName; }
    void Close() override;

private:
    const RCPtr<IAlsaSequencer> mSequencer;
    const int mClient;
    const int mPort;
    const std::string mName;
    std::mutex mSendMutex;
    bool mOpen = true; // guarded by mSendMutex
};

} // namespace ZT
