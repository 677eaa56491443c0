#pragma once
// The seam between the updater and the operating system's MIDI output devices.
//
// The engine reaches a device in normal mode through its MIDI port and sends it the message that
// restarts it in update mode. The framework's MIDI object resolves a requested name against
// ListOutputNames (equal names only, case ignored) and opens the full name it chose; this
// seam knows only full names. An ALSA sequencer backend serves real hardware, the device
// simulator serves tests, and SetMidiOutputBackend chooses which one the process uses.
//
// Every member of IMidiOutputBackend may be called from any thread at the same time.

#include "ZTFramework/Midi/MidiOutputPort.h"
#include "ZTFramework/ObjectBase/RCPtr.h"
#include "ZTFramework/ObjectBase/RefCountedObject.h"

#include <string>
#include <vector>

namespace ZT {

class IMidiOutputBackend : public virtual LRefCountedObject {
public:
    // The names of the output devices present now, in the system's order. Two devices of the
    // same model may carry the same name. Empty when there are none or the system has no MIDI.
    // Blocks briefly, well under a second.
    [[nodiscard]] virtual std::vector<std::string> ListOutputNames() = 0;

    // Opens the first present output device whose name equals name exactly.
    // Returns null when there is none or it cannot be opened. Blocks briefly.
    [[nodiscard]] virtual RCPtr<IMidiOutputPort> Open(const std::string& name) = 0;
};

// The backend of the process. Never null: until a backend is selected it is one without devices.
// Any thread.
[[nodiscard]] RCPtr<IMidiOutputBackend> GetMidiOutputBackend();

// Selects the backend of the process; null goes back to the one without devices. Any thread.
void SetMidiOutputBackend(RCPtr<IMidiOutputBackend> backend);

} // namespace ZT
