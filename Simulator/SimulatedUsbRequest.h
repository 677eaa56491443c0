#pragma once
// One control transfer as a simulated device saw it: the entries of its request log.

#include "ZTFramework/Usb/Dfu.h"
#include "ZTFramework/Usb/UsbError.h"

#include <cstdint>
#include <vector>

struct SimulatedUsbRequest {
    std::uint64_t timeMs = 0; // simulator clock when the request arrived
    std::uint8_t requestType = 0;
    std::uint8_t request = 0;
    std::uint16_t value = 0;
    std::uint16_t index = 0;
    std::uint16_t length = 0;
    std::vector<std::uint8_t> dataOut;           // payload of a host-to-device request
    std::vector<std::uint8_t> dataIn;            // the device's answer to a device-to-host request
    ZT::UsbError error = ZT::UsbError::None;     // what the host saw; None when it succeeded
    ZT::DfuState stateAfter = ZT::DfuState::AppIdle;     // the bootloader's state afterwards (appIDLE in normal mode)
};
