#include "ZTFramework/Midi/MidiComm.h"

#include "ZTFramework/Midi/MidiOutputBackend.h"

#include <string>

namespace ZT {

RCPtr<LMidiComm> LMidiComm::GetInstance()
{
    // Made once and never released, so that a port used during static destruction still works.
    static LMidiComm* const instance = [] {
        auto* comm = new LMidiComm();
        comm->AddRef();
        return comm;
    }();
    return RCPtr<LMidiComm>(instance);
}

std::ptrdiff_t LMidiComm::ResolveRenderDeviceName(const WString& name, const std::vector<WString>& deviceNames)
{
    // The port opens the device it was resolved to by the same rule, so the two never disagree.
    return LMidiRenderPort::FindDeviceToOpen(name, deviceNames);
}

std::vector<WString> LMidiComm::GetRenderDeviceNames() const
{
    std::vector<WString> names;
    for (const std::string& name : GetMidiOutputBackend()->ListOutputNames())
        names.emplace_back(name.c_str());
    return names;
}

ZTRESULT LMidiComm::GetRenderPort(const WString& name, RCPtr<LMidiRenderPort>& port)
{
    port = nullptr;
    const std::vector<WString> deviceNames = GetRenderDeviceNames();
    const std::ptrdiff_t index = ResolveRenderDeviceName(name, deviceNames);
    if (index < 0)
        return E_FAIL;
    const WString& fullName = deviceNames[static_cast<std::size_t>(index)];

    RCPtr<LMidiRenderPort> found;
    {
        std::lock_guard lock(mMutex);
        for (const RCPtr<LMidiRenderPort>& listed : mRenderPorts) {
            if (listed->GetName() == fullName) {
                found = listed;
                break;
            }
        }
        if (!found) {
            found = MakeRC<LMidiRenderPort>(fullName);
            mRenderPorts.push_back(found);
        }
    }
    // Opened again on every request: the device behind a listed port may have restarted since,
    // and a port of its earlier appearance no longer reaches it.
    if (Failed(found->Open()))
        return E_FAIL;
    port = found;
    return S_OK;
}

ZTRESULT LMidiComm::Send(const RCPtr<LMidiRenderPort>& port, const std::uint8_t* data, std::uint32_t length)
{
    // Our own reference, so that a port dropped by another thread stays alive for the send.
    const RCPtr<LMidiRenderPort> held = port;
    if (!held || length == 0)
        return E_INVALIDARG;
    return held->Send(data, length);
}

std::vector<RCPtr<LMidiRenderPort>> LMidiComm::GetRenderPorts() const
{
    std::lock_guard lock(mMutex);
    return mRenderPorts;
}

void LMidiComm::CloseAllRenderPorts()
{
    std::vector<RCPtr<LMidiRenderPort>> ports;
    {
        std::lock_guard lock(mMutex);
        ports.swap(mRenderPorts);
    }
    for (const RCPtr<LMidiRenderPort>& port : ports)
        port->Close();
}

WString LMidiComm::ToString() const
{
    WString text;
    // Debug text: a failed format leaves it empty.
    (void)text.Format(L"LMidiComm, %zu render ports", GetRenderPorts().size());
    return text;
}

} // namespace ZT
