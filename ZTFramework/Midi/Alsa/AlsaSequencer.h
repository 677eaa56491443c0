#pragma once
// What the ALSA MIDI output backend needs from the ALSA sequencer: the writable ports of the other
// clients, and one message sent to one of them. LSystemAlsaSequencer talks to the kernel's
// sequencer; tests put their own in its place to check name matching and message framing on
// machines without one.
//
// Every member may be called from any thread at the same time.

#include "ZTFramework/ObjectBase/RefCountedObject.h"

#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace ZT {

// One writable sequencer port. For a USB MIDI device the client name is the device's USB product
// string ("Halvard XR4000 NOVA") and the port name adds the port ("Halvard XR4000 NOVA MIDI 1").
struct AlsaSequencerOutput {
    int client = 0;
    int port = 0;
    std::string clientName;
    std::string portName;
};

class IAlsaSequencer : public virtual LRefCountedObject {
public:
    enum class MessageKind {
        SystemExclusive, // the bytes are one whole system-exclusive message, F0 ... F7
        Channel,         // the bytes are one channel message of at most four bytes
    };

    // The ports other clients offer for writing, in client order and, within a client, port order.
    // Empty when there are none or the system has no sequencer. Blocks briefly.
    [[nodiscard]] virtual std::vector<AlsaSequencerOutput> ListOutputs() = 0;

    // Sends bytes to client:port as one event and waits until the sequencer has taken it, at most
    // timeoutMs. Returns 0 on success or a negative errno: -ENODEV without a sequencer,
    // -ETIMEDOUT when the wait ran out, -EINVAL for bytes that make no event, or what the
    // sequencer reported.
    [[nodiscard]] virtual int Send(int client, int port, MessageKind kind, std::span<const std::uint8_t> bytes,
                                   std::uint32_t timeoutMs) = 0;
};

} // namespace ZT
