#include "ZTFramework/Usb/UsbError.h"

namespace ZT {

const char* UsbErrorName(UsbError error)
{
    switch (error) {
    case UsbError::None:
        return "None";
    case UsbError::Io:
        return "Io";
    case UsbError::InvalidParam:
        return "InvalidParam";
    case UsbError::Access:
        return "Access";
    case UsbError::NoDevice:
        return "NoDevice";
    case UsbError::NotFound:
        return "NotFound";
    case UsbError::Busy:
        return "Busy";
    case UsbError::Timeout:
        return "Timeout";
    case UsbError::Overflow:
        return "Overflow";
    case UsbError::Pipe:
        return "Pipe";
    case UsbError::Interrupted:
        return "Interrupted";
    case UsbError::NoMemory:
        return "NoMemory";
    case UsbError::NotSupported:
        return "NotSupported";
    case UsbError::NotOpen:
        return "NotOpen";
    case UsbError::Other:
        return "Other";
    }
    return "Unknown";
}

} // namespace ZT
