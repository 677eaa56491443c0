#pragma once
// One named MIDI output port of the framework's MIDI object (LMidiComm), on top of the process's
// MIDI output backend.
//
// The port's name is the full name of the output device it stands for. Open finds that device
// among the present outputs and opens it through the backend; Send hands one message to the open
// device and maps the outcome to the framework's result codes. Completion is the backend port's
// business: its send returns only once the message has gone out, or fails after
// ZT::kMidiSendCompletionTimeoutMs (10 s), and it serialises sends on one device.
//
// Threads: every member may be called from any thread. mMutex guards mPort only and is never
// held across a send, so a send that waits out its 10 s never blocks an Open or Close of another
// thread longer than the backend's own close does.

#include "ZTFramework/Errors/Result.h"
#include "ZTFramework/Midi/MidiOutputPort.h"
#include "ZTFramework/ObjectBase/RCPtr.h"
#include "ZTFramework/ObjectBase/RefCountedObject.h"
#include "ZTFramework/Utilities/Storage/StringT.h"

#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

namespace ZT {

class LMidiRenderPort : public virtual LRefCountedObject {
public:
    // A closed port for the output device named name.
    explicit LMidiRenderPort(const WString& name);
    ~LMidiRenderPort() override;

    // Closes whatever this port had open, then opens the first present output device whose name
    // equals the port's name, case ignored (a name that only contains it is another device's).
    // S_OK, or E_FAIL when no present device carries that name or the backend cannot open it (the
    // port stays closed). Blocks briefly, as the backend's listing and open do.
    [[nodiscard]] ZTRESULT Open();

    // Sends one message. A first byte that is a status byte other than 0xF0 and 0xF7 makes a
    // channel message of at most the first four bytes; anything else goes out whole as
    // system-exclusive data. Returns the number of bytes sent; E_INVALIDARG for null data or a
    // length of 0 (nothing is sent); E_FAIL when the port is closed, the system refuses the
    // message, the device has gone, or its completion did not arrive within 10 s. A failed send
    // leaves the port open and usable.
    // Blocks until the message has gone out: at most 10 s, plus as long again while an earlier
    // send on the same device is still waiting.
    [[nodiscard]] ZTRESULT Send(const std::uint8_t* data, std::uint32_t length);

    // Closes the device; later sends give E_FAIL until the next Open. Closing twice does nothing.
    void Close();

    [[nodiscard]] bool IsOpen() const;
    [[nodiscard]] const WString& GetName() const noexcept { return mName; }

    // "LMidiRenderPort <name> (open)" or "... (closed)".
    WString ToString() const override;

    // The index in deviceNames of the device that a port named name opens: the first equal to
    // it, case ignored; -1 when none is (or name is empty).
    [[nodiscard]] static std::ptrdiff_t FindDeviceToOpen(const WString& name, const std::vector<WString>& deviceNames);

private:
    const WString mName;
    mutable std::mutex mMutex;
    RCPtr<IMidiOutputPort> mPort; // guarded by mMutex; null while closed
};

} // namespace ZT
