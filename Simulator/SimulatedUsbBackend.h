#pragma once
// The USB backend over a device simulator: lists the simulated devices on the bus and opens them.
// Every member may be called from any thread.

#include "ZTFramework/ObjectBase/RCPtr.h"
#include "ZTFramework/Usb/UsbBackend.h"

class LDeviceSimulator;

class LSimulatedUsbBackend final : public ZT::IUsbBackend {
public:
    explicit LSimulatedUsbBackend(ZT::RCPtr<LDeviceSimulator> simulator);

    [[nodiscard]] ZT::ZTRESULT ListDevices(std::vector<ZT::UsbDeviceInfo>& devices) override;
    // NotFound for a path never seen on the bus, NoDevice for one whose device has since left it,
    // Busy while another connection holds the device.
    [[nodiscard]] ZT::RCPtr<ZT::IUsbDeviceConnection> Open(const std::string& path, ZT::UsbError& error) override;
    [[nodiscard]] bool IsSimulated() const override { return true; }

private:
    const ZT::RCPtr<LDeviceSimulator> mSimulator;
};
