#pragma once
// An open MIDI output device.
//
// Sends on one port are serialised: a send that finds another still waiting for its completion
// waits for it first. A port may be used from any thread; it is reference counted, and dropping
// the last reference closes it.

#include "ZTFramework/Errors/Result.h"
#include "ZTFramework/ObjectBase/RefCountedObject.h"

#include <cstdint>
#include <string>

namespace ZT {

// The longest a send waits for the system to report that a message has gone out.
inline constexpr std::uint32_t kMidiSendCompletionTimeoutMs = 10000;

class IMidiOutputPort : public virtual LRefCountedObject {
public:
    // Sends one message: a system-exclusive message (first byte 0xF0) as a whole, anything else
    // as a channel message of at most its first four bytes.
    // Returns length on success; E_INVALIDARG when data is null or length is 0 (nothing is sent);
    // E_FAIL when the system refuses the message, the device has gone, the port is closed, or
    // the completion did not arrive within kMidiSendCompletionTimeoutMs.
    // Blocks until the message has gone out: at most kMidiSendCompletionTimeoutMs, plus as long
    // again while an earlier send on this port is still waiting. Any thread.
    [[nodiscard]] virtual ZTRESULT Send(const std::uint8_t* data, std::uint32_t length) = 0;

    // The device name the port was opened with. Never blocks.
    [[nodiscard]] virtual std::string GetName() const = 0;

    // Closes the port; later sends give E_FAIL. Closing twice does nothing. Waits for a send in
    // progress on another thread to end. Any thread.
    virtual void Close() = 0;
};

} // namespace ZT
