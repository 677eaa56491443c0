#pragma once
// The MIDI output backend for real hardware on Linux, through the ALSA sequencer.
//
// The device names it lists are sequencer client names: for a USB MIDI device that is its USB
// product string, so "Halvard XR4000 NOVA" and "Halvard XR4000 NOVA WD" are what the framework's
// name matching compares. A client with several writable ports is listed once, and opening it
// opens its first writable port. Port names ("... MIDI 1") are never listed.
//
// Every member may be called from any thread at the same time.

#include "ZTFramework/Midi/Alsa/AlsaSequencer.h"
#include "ZTFramework/Midi/MidiOutputBackend.h"
#include "ZTFramework/ObjectBase/RCPtr.h"

#include <mutex>

namespace ZT {

class LAlsaMidiOutputBackend final : public IMidiOutputBackend {
public:
    // On the system's sequencer, opened at the first call that needs it (a run that never sends
    // a MIDI message never reads the ALSA configuration). Without one (no /dev/snd/seq) the
    // backend lists nothing and one line on the debug output says so.
    LAlsaMidiOutputBackend();
    // On another sequencer (tests). Throws for null.
    explicit LAlsaMidiOutputBackend(RCPtr<IAlsaSequencer> sequencer);

    [[nodiscard]] std::vector<std::string> ListOutputNames() override;
    // The first listed client named exactly name, through its first writable port; null when none.
    [[nodiscard]] RCPtr<IMidiOutputPort> Open(const std::string& name) override;

    // One entry per client: its first writable port, in the sequencer's order.
    [[nodiscard]] static std::vector<AlsaSequencerOutput> FirstPortOfEachClient(
        const std::vector<AlsaSequencerOutput>& outputs);

private:
    // The sequencer, opened on the first call when none was given.
    [[nodiscard]] const RCPtr<IAlsaSequencer>& GetSequencer();

    std::once_flag mOpenOnce;
    RCPtr<IAlsaSequencer> mSequencer;   // written once, under mOpenOnce
};

} // namespace ZT
