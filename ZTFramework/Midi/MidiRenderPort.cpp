#include "ZTFramework/Midi/MidiRenderPort.h"

#include "ZTFramework/Midi/MidiOutputBackend.h"

#include <algorithm>
#include <string>
#include <utility>

namespace ZT {

namespace {

// The largest channel message: the status byte and up to three data bytes.
constexpr std::uint32_t kShortMessageMaxLength = 4;

bool IsSystemExclusiveOrData(std::uint8_t firstByte)
{
    return (firstByte & 0x80) == 0 || firstByte == 0xF0 || firstByte == 0xF7;
}

} // namespace

LMidiRenderPort::LMidiRenderPort(const WString& name) : mName(name)
{
}

LMidiRenderPort::~LMidiRenderPort()
{
    Close();
}

std::ptrdiff_t LMidiRenderPort::FindDeviceToOpen(const WString& name, const std::vector<WString>& deviceNames)
{
    if (name.IsEmpty())
        return -1;
    const WString wanted = name.ToLower();
    for (std::size_t i = 0; i < deviceNames.size(); ++i) {
        if (deviceNames[i].ToLower() == wanted)
            return static_cast<std::ptrdiff_t>(i);
    }
    return -1;
}

ZTRESULT LMidiRenderPort::Open()
{
    Close();
    const RCPtr<IMidiOutputBackend> backend = GetMidiOutputBackend();
    const std::vector<std::string> names = backend->ListOutputNames();
    std::vector<WString> wideNames;
    wideNames.reserve(names.size());
    for (const std::string& name : names)
        wideNames.emplace_back(name.c_str());

    const std::ptrdiff_t index = FindDeviceToOpen(mName, wideNames);
    if (index < 0)
        return E_FAIL;
    RCPtr<IMidiOutputPort> port = backend->Open(names[static_cast<std::size_t>(index)]);
    if (!port)
        return E_FAIL;

    RCPtr<IMidiOutputPort> replaced;
    {
        std::lock_guard lock(mMutex);
        replaced = std::exchange(mPort, std::move(port));
    }
    // Another thread may have opened the port meanwhile; its device goes, ours stays.
    if (replaced)
        replaced->Close();
    return S_OK;
}

ZTRESULT LMidiRenderPort::Send(const std::uint8_t* data, std::uint32_t length)
{
    if (!data || length == 0)
        return E_INVALIDARG;
    RCPtr<IMidiOutputPort> port;
    {
        std::lock_guard lock(mMutex);
        port = mPort;
    }
    if (!port)
        return E_FAIL;

    const std::uint32_t sent =
        IsSystemExclusiveOrData(data[0]) ? length : std::min(length, kShortMessageMaxLength);
    const ZTRESULT result = port->Send(data, sent);
    if (Failed(result))
        return E_FAIL;
    return static_cast<ZTRESULT>(sent);
}

void LMidiRenderPort::Close()
{
    RCPtr<IMidiOutputPort> port;
    {
        std::lock_guard lock(mMutex);
        port = std::move(mPort);
    }
    // Outside the lock: closing waits for a send in progress on another thread.
    if (port)
        port->Close();
}

bool LMidiRenderPort::IsOpen() const
{
    std::lock_guard lock(mMutex);
    return static_cast<bool>(mPort);
}

WString LMidiRenderPort::ToString() const
{
    return WString(L"LMidiRenderPort ") + mName + (IsOpen() ? L" (open)" : L" (closed)");
}

} // namespace ZT
