#include "ZTFramework/Midi/MidiOutputBackend.h"

#include <mutex>

namespace ZT {

namespace {

// What the process has before a real or simulated backend is selected: no MIDI devices.
class LNoMidiOutputBackend final : public IMidiOutputBackend {
public:
    std::vector<std::string> ListOutputNames() override { return {}; }
    RCPtr<IMidiOutputPort> Open(const std::string&) override { return nullptr; }
};

std::mutex gBackendMutex;
RCPtr<IMidiOutputBackend> gBackend; // guarded by gBackendMutex; null means no devices

} // namespace

RCPtr<IMidiOutputBackend> GetMidiOutputBackend()
{
    {
        std::lock_guard lock(gBackendMutex);
        if (gBackend)
            return gBackend;
    }
    static const RCPtr<IMidiOutputBackend> none = MakeRC<LNoMidiOutputBackend>();
    return none;
}

void SetMidiOutputBackend(RCPtr<IMidiOutputBackend> backend)
{
    RCPtr<IMidiOutputBackend> previous;
    {
        std::lock_guard lock(gBackendMutex);
        previous = std::move(gBackend);
        gBackend = std::move(backend);
    }
}

} // namespace ZT
