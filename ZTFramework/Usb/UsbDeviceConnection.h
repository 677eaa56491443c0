#pragma once
// An open USB device: control transfers on its default pipe.
//
// A connection is used by one thread at a time (the engine's worker during a download); it may be
// handed to another thread between calls. It is reference counted; dropping the last reference
// closes it.

#include "ZTFramework/ObjectBase/RefCountedObject.h"
#include "ZTFramework/Usb/UsbError.h"

#include <cstdint>

namespace ZT {

// The longest a single control transfer may block before it fails with UsbError::Timeout.
inline constexpr std::uint32_t kUsbControlTransferTimeoutMs = 5000;

class IUsbDeviceConnection : public virtual LRefCountedObject {
public:
    // One control transfer. Bit 7 of bmRequestType gives the direction: device-to-host transfers
    // read up to wLength bytes into data, host-to-device transfers send wLength bytes from data.
    // data may be null only when wLength is 0. Class requests of the engine go to interface 0
    // (wIndex 0).
    // Returns true when the device completed the transfer. On false, GetLastError tells why:
    // Pipe (stalled), Timeout, NoDevice (gone), NotOpen (closed), InvalidParam (data null with a
    // length), Io. The bytes of data beyond what the device sent are left as they were.
    // Blocks until the device answers, at most kUsbControlTransferTimeoutMs.
    [[nodiscard]] virtual bool ControlTransfer(std::uint8_t bmRequestType, std::uint8_t bRequest,
                                               std::uint16_t wValue, std::uint16_t wIndex,
                                               std::uint8_t* data, std::uint16_t wLength) = 0;

    // Why the last failed ControlTransfer failed; UsbError::None after a success.
    // Never blocks.
    [[nodiscard]] virtual UsbError GetLastError() const = 0;

    // Bytes moved by the last successful ControlTransfer (a device may answer a read with fewer
    // than wLength). Never blocks.
    [[nodiscard]] virtual std::uint16_t GetLastTransferredLength() const = 0;

    // A USB port reset of the device. A DFU bootloader that waits in dfuMANIFEST-WAIT-RESET
    // starts the image it holds on it, as at power-up. The device re-enumerates, usually at a new
    // path, so the connection is closed afterwards whatever the outcome: find the device again.
    // Returns true when the reset was carried out, also when the device re-enumerated at once and
    // the old handle no longer finds it. On false, GetLastError tells why: NoDevice (it had left
    // the bus before the reset), NotOpen (closed), Io, Other.
    // Blocks while the port resets, well under a second; not while another thread transfers.
    [[nodiscard]] virtual bool Reset() = 0;

    // Releases the device; later transfers fail with NotOpen. Closing twice does nothing.
    // Never blocks for longer than a transfer in progress on another thread would.
    virtual void Close() = 0;
};

} // namespace ZT
