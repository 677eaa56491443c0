#pragma once
// The kernel's ALSA sequencer, opened once as an output-only client with one source port.
//
// A machine without a sequencer (no /dev/snd/seq, the snd-seq module not loaded), a user who may
// not open it (not in the audio group, no udev rule giving the seat's user the sound devices) or
// a machine without alsa-lib gives a sequencer that lists nothing and refuses every send with
// -ENODEV; one line on the debug output names the cause and what to do.
//
// Threads: mMutex guards the sequencer handle and is held for a whole send, including its wait
// of at most the caller's time-out, so sends through one sequencer are serialised.

#include "ZTFramework/Midi/Alsa/AlsaSequencer.h"

#include <mutex>
#include <string>

struct _snd_seq;

namespace ZT {

struct AlsaLibrary;

class LSystemAlsaSequencer final : public IAlsaSequencer {
public:
    // Opens the sequencer by its ALSA name ("default" for the system's one).
    explicit LSystemAlsaSequencer(const std::string& sequencerName = "default");
    ~LSystemAlsaSequencer() override;

    [[nodiscard]] bool IsAvailable() const;
    [[nodiscard]] std::vector<AlsaSequencerOutput> ListOutputs() override;
    [[nodiscard]] int Send(int client, int port, MessageKind kind, std::span<const std::uint8_t> bytes,
                           std::uint32_t timeoutMs) override;

private:
    [[nodiscard]] int DrainOutput(std::uint32_t timeoutMs);

    mutable std::mutex mMutex;
    const AlsaLibrary* mAlsa = nullptr; // alsa-lib's entries; null without the library
    _snd_seq* mSequencer = nullptr; // guarded by mMutex; null without a sequencer
    int mClient = -1;               // our own client number
    int mSourcePort = -1;
};

} // namespace ZT
