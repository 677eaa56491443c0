#include "FirmwareUpdater/Panel/Engine/ProductDevice.h"

LUpdateEngineInterface::DeviceDefinition ProductDevice::GetDeviceDefinition() const
{
    LUpdateEngineInterface::DeviceDefinition definition;
    definition.VendorId = VendorId;
    definition.ProductId = ProductId;
    definition.BootloaderVendorId = BootloaderVendorId;
    definition.BootloaderProductId = BootloaderProductId;
    definition.MidiPortName = MidiPortName;
    return definition;
}

LUpdateEngineInterface::FirmwareVersion ProductDevice::GetFirmwareVersion() const
{
    return LUpdateEngineInterface::FirmwareVersion::FromReleaseNumber(FirmwareRelease);
}

const ProductDevice& ProductDevice::Get(Kind kind) noexcept
{
    switch (kind) {
    case Kind::Controller: return kControllerDevice;
    case Kind::WheelDisplay: return kWheelDisplayDevice;
    }
    // Only a value cast from outside the enumeration gets here; the controller is the device the
    // program falls back to everywhere else too.
    return kControllerDevice;
}

const ProductDevice* ProductDevice::FindByNormalModeIds(std::uint32_t vendorId, std::uint32_t productId) noexcept
{
    for (const ProductDevice* device : {&kControllerDevice, &kWheelDisplayDevice}) {
        if (device->VendorId == vendorId && device->ProductId == productId)
            return device;
    }
    return nullptr;
}

const char* ToString(ProductDevice::Kind kind) noexcept
{
    switch (kind) {
    case ProductDevice::Kind::Controller: return "Controller";
    case ProductDevice::Kind::WheelDisplay: return "WheelDisplay";
    }
    return "invalid ProductDevice::Kind";
}
