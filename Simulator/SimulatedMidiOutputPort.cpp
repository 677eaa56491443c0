#include "Simulator/SimulatedMidiOutputPort.h"

#include <algorithm>
#include <limits>

namespace {

constexpr std::uint8_t kSystemExclusiveStart = 0xF0;
constexpr std::uint8_t kSystemExclusiveEnd = 0xF7;
constexpr std::uint32_t kShortMessageMaxLength = 4;

} // namespace

LSimulatedMidiOutputPort::LSimulatedMidiOutputPort(ZT::RCPtr<LSimulatedDevice> device, std::uint64_t appearance,
                                                   std::string name)
    : mDevice(std::move(device)), mAppearance(appearance), mName(std::move(name))
{
    if (!mDevice)
        ZT_THROW_NULL_POINTER("device", "LSimulatedMidiOutputPort::LSimulatedMidiOutputPort");
}

ZT::ZTRESULT LSimulatedMidiOutputPort::Send(const std::uint8_t* data, std::uint32_t length)
{
    if (!data || length == 0 || length > static_cast<std::uint32_t>(std::numeric_limits<std::int32_t>::max()))
        return ZT::E_INVALIDARG;
    std::lock_guard lock(mSendMutex);
    if (!mOpen)
        return ZT::E_FAIL;

    // A channel message goes out as a short message of at most four bytes; anything else whole.
    const bool shortMessage = (data[0] & 0x80) != 0 && data[0] != kSystemExclusiveStart && data[0] != kSystemExclusiveEnd;
    const std::uint32_t sent = shortMessage ? std::min(length, kShortMessageMaxLength) : length;

    switch (mDevice->ReceiveMidi(mAppearance, std::span<const std::uint8_t>(data, sent))) {
    case LSimulatedDevice::MidiDelivery::Delivered:
        return static_cast<ZT::ZTRESULT>(length);
    case LSimulatedDevice::MidiDelivery::Gone:
        return ZT::E_FAIL;
    case LSimulatedDevice::MidiDelivery::NeverCompletes:
        mDevice->GetBus()->SleepMs(ZT::kMidiSendCompletionTimeoutMs);
        return ZT::E_FAIL;
    }
    return ZT::E_FAIL;
}

void LSimulatedMidiOutputPort::Close()
{
    std::lock_guard lock(mSendMutex);
    mOpen = false;
}
