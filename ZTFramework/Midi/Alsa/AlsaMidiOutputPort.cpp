#include "ZTFramework/Midi/Alsa/AlsaMidiOutputPort.h"

#include "ZTFramework/Debug/DebugLine.h"

#include <algorithm>
#include <cstring>
#include <limits>

namespace ZT {

namespace {

constexpr std::uint8_t kSystemExclusiveStart = 0xF0;
constexpr std::uint8_t kSystemExclusiveEnd = 0xF7;
constexpr std::uint32_t kChannelMessageMaxLength = 4;

} // namespace

LAlsaMidiOutputPort::LAlsaMidiOutputPort(RCPtr<IAlsaSequencer> sequencer, int client, int port, std::string name)
    : mSequencer(std::move(sequencer)), mClient(client), mPort(port), mName(std::move(name))
{
    if (!mSequencer)
        ZT_THROW_NULL_POINTER("sequencer", "ZT::LAlsaMidiOutputPort::LAlsaMidiOutputPort");
}

ZTRESULT LAlsaMidiOutputPort::Send(const std::uint8_t* data, std::uint32_t length)
{
    if (!data || length == 0 || length > static_cast<std::uint32_t>(std::numeric_limits<std::int32_t>::max()))
        return E_INVALIDARG;

    // A status byte other than the system-exclusive ones starts a channel message; anything else
    // (including running-status data) goes out whole as system-exclusive data.
    const bool channelMessage =
        (data[0] & 0x80) != 0 && data[0] != kSystemExclusiveStart && data[0] != kSystemExclusiveEnd;
    const IAlsaSequencer::MessageKind kind =
        channelMessage ? IAlsaSequencer::MessageKind::Channel : IAlsaSequencer::MessageKind::SystemExclusive;
    const std::uint32_t sent = channelMessage ? std::min(length, kChannelMessageMaxLength) : length;

    std::lock_guard lock(mSendMutex);
    if (!mOpen)
        return E_FAIL;
    const int result =
        mSequencer->Send(mClient, mPort, kind, std::span<const std::uint8_t>(data, sent), kMidiSendCompletionTimeoutMs);
    if (result < 0) {
        CDebugLine() << "MIDI: sending " << length << " bytes to \"" << mName << "\" (" << mClient << ":" << mPort
                     << ") failed: " << std::strerror(-result) << ".";
        return E_FAIL;
    }
    return static_cast<ZTRESULT>(length);
}

void LAlsaMidiOutputPort::Close()
{
    std::lock_guard lock(mSendMutex);
    mOpen = false;
}

} // namespace ZT
