#pragma once
// A connection to one appearance of a simulated device on the bus. When the device leaves the bus
// (reset, re-enumeration, unplug) every later transfer fails with NoDevice, as with real hardware.
//
// Transfers come from one thread at a time; Close may come from another. mMutex guards the open
// flag and the last results and is not held during a transfer.

#include "Simulator/SimulatedDevice.h"
#include "ZTFramework/ObjectBase/RCPtr.h"
#include "ZTFramework/Usb/UsbDeviceConnection.h"

#include <mutex>

class LSimulatedUsbDeviceConnection final : public ZT::IUsbDeviceConnection {
public:
    LSimulatedUsbDeviceConnection(ZT::RCPtr<LSimulatedDevice> device, std::uint64_t appearance);
    ~LSimulatedUsbDeviceConnection() override;

    [[nodiscard]] bool ControlTransfer(std::uint8_t bmRequestType, std::uint8_t bRequest, std::uint16_t wValue,
                                       std::uint16_t wIndex, std::uint8_t* data, std::uint16_t wLength) override;
    [[nodiscard]] ZT::UsbError GetLastError() const override;
    [[nodiscard]] std::uint16_t GetLastTransferredLength() const override;
    // The device's own reset (LSimulatedDevice::ResetUsb), then Close.
    [[nodiscard]] bool Reset() override;
    void Close() override;

private:
    const ZT::RCPtr<LSimulatedDevice> mDevice;
    const std::uint64_t mAppearance;
    mutable std::mutex mMutex;
    bool mOpen = true;                           // guarded by mMutex
    ZT::UsbError mLastError = ZT::UsbError::None; // guarded by mMutex
    std::uint16_t mLastTransferred = 0;          // guarded by mMutex
};
