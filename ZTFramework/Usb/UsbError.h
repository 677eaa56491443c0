#pragma once
// Why a USB operation failed: one small closed set, with a name for log lines.
//
// The numbers are libusb's error numbers where libusb has the same failure, so a backend built on
// it passes its codes through; NotOpen is our own.

#include <cstdint>

namespace ZT {

enum class UsbError : std::int32_t {
    None = 0,
    Io = -1,            // the transfer failed on the bus
    InvalidParam = -2,  // a request that cannot be sent (bad length, missing buffer)
    Access = -3,        // the process may not open the device
    NoDevice = -4,      // the device is gone (unplugged or re-enumerated)
    NotFound = -5,      // no device with that path
    Busy = -6,          // another connection holds the device
    Timeout = -7,       // the device did not answer within the transfer time-out
    Overflow = -8,      // the device sent more than was asked for
    Pipe = -9,          // the device stalled the request
    Interrupted = -10,  // the wait was interrupted
    NoMemory = -11,
    NotSupported = -12, // the backend cannot do this on this system
    NotOpen = -13,      // the connection has been closed
    Other = -99,
};

// "Pipe", "NoDevice", ...; "Unknown" for a number outside the set.
[[nodiscard]] const char* UsbErrorName(UsbError error);

} // namespace ZT
