#pragma once
// The framework's MIDI object: named render (output) ports for the rest of the program.
//
// The updater uses it for one thing: the engine asks for the render port of the controller by
// its name and sends it the system-exclusive message that restarts it in update mode.
//
// A requested name is resolved against the present output devices with their names and the
// request lower-cased character by character: only a device whose name equals the request is
// that device's port; of several equal names the first listed. A name that merely contains the
// request belongs to another device: "Halvard XR4000 NOVA WD" is the wheel display, never the
// controller "Halvard XR4000 NOVA", so a controller without a port of its own gets no port
// rather than the display's (the update-mode message would otherwise restart the wrong device).
// An empty request gives no port.
//
// The object keeps the ports it has handed out in a list and hands out the same port again for
// the same resolved name. A device that restarts (into its bootloader and back) shows a new
// output of the same name, so each request opens the listed port again.
//
// Threads: every member may be called from any thread. mMutex guards the port list and is never
// held while a port opens or sends.

#include "ZTFramework/Errors/Result.h"
#include "ZTFramework/Midi/MidiRenderPort.h"
#include "ZTFramework/ObjectBase/RCPtr.h"
#include "ZTFramework/ObjectBase/RefCountedObject.h"
#include "ZTFramework/Utilities/Storage/StringT.h"

#include <cstddef>
#include <cstdint>
#include <mutex>
#include <vector>

namespace ZT {

class LMidiComm : public virtual LRefCountedObject {
public:
    // The process's MIDI object, made on first use and kept until exit.
    [[nodiscard]] static RCPtr<LMidiComm> GetInstance();

    LMidiComm() = default;
    LMidiComm(const LMidiComm&) = delete;
    LMidiComm& operator=(const LMidiComm&) = delete;

    // Resolves name (see the header comment) and gives the listed port of the resolved device,
    // or a new one added to the list, opened. S_OK with the port; E_FAIL with a null port when
    // the name is empty, matches no device, is ambiguous, or the device cannot be opened.
    // Blocks briefly, as the backend's listing and open do.
    [[nodiscard]] ZTRESULT GetRenderPort(const WString& name, RCPtr<LMidiRenderPort>& port);

    // Sends one message through port: the number of bytes sent; E_INVALIDARG when port is null or
    // length is 0; otherwise as LMidiRenderPort::Send (E_FAIL when refused or not completed
    // within 10 s). Blocks as LMidiRenderPort::Send does.
    [[nodiscard]] ZTRESULT Send(const RCPtr<LMidiRenderPort>& port, const std::uint8_t* data, std::uint32_t length);

    // The names of the present output devices, in the system's order.
    [[nodiscard]] std::vector<WString> GetRenderDeviceNames() const;
    // The ports handed out so far, in the order they were first requested.
    [[nodiscard]] std::vector<RCPtr<LMidiRenderPort>> GetRenderPorts() const;
    // Closes every listed port and forgets them; the next request opens afresh.
    void CloseAllRenderPorts();

    // The index in deviceNames of the first device whose name equals name, case ignored; -1
    // when the name is empty or no name equals it.
    [[nodiscard]] static std::ptrdiff_t ResolveRenderDeviceName(const WString& name,
                                                                const std::vector<WString>& deviceNames);

    // "LMidiComm, 2 render ports".
    WString ToString() const override;

private:
    mutable std::mutex mMutex;
    std::vector<RCPtr<LMidiRenderPort>> mRenderPorts; // guarded by mMutex
};

} // namespace ZT
