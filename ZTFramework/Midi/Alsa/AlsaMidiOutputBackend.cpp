#include "ZTFramework/Midi/Alsa/AlsaMidiOutputBackend.h"

#include "ZTFramework/Midi/Alsa/AlsaMidiOutputPort.h"
#include "ZTFramework/Midi/Alsa/SystemAlsaSequencer.h"

#include <set>

namespace ZT {

LAlsaMidiOutputBackend::LAlsaMidiOutputBackend() = default;

const RCPtr<IAlsaSequencer>& LAlsaMidiOutputBackend::GetSequencer()
{
    std::call_once(mOpenOnce, [this] {
        if (!mSequencer)
            mSequencer = MakeRC<LSystemAlsaSequencer>();
    });
    return mSequencer;
}

LAlsaMidiOutputBackend::LAlsaMidiOutputBackend(RCPtr<IAlsaSequencer> sequencer) : mSequencer(std::move(sequencer))
{
    if (!mSequencer)
        ZT_THROW_NULL_POINTER("sequencer", "ZT::LAlsaMidiOutputBackend::LAlsaMidiOutputBackend");
}

std::vector<AlsaSequencerOutput> LAlsaMidiOutputBackend::FirstPortOfEachClient(
    const std::vector<AlsaSequencerOutput>& outputs)
{
    std::vector<AlsaSequencerOutput> first;
    std::set<int> seenClients;
    for (const AlsaSequencerOutput& output : outputs) {
        if (seenClients.insert(output.client).second)
            first.push_back(output);
    }
    return first;
}

std::vector<std::string> LAlsaMidiOutputBackend::ListOutputNames()
{
    std::vector<std::string> names;
    for (const AlsaSequencerOutput& output : FirstPortOfEachClient(GetSequencer()->ListOutputs()))
        names.push_back(output.clientName);
    return names;
}

RCPtr<IMidiOutputPort> LAlsaMidiOutputBackend::Open(const std::string& name)
{
    for (const AlsaSequencerOutput& output : FirstPortOfEachClient(GetSequencer()->ListOutputs())) {
        if (output.clientName == name)
            return MakeRC<LAlsaMidiOutputPort>(GetSequencer(), output.client, output.port, name);
    }
    return nullptr;
}

} // namespace ZT
