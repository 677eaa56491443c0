#pragma once
// The two USB devices that make up the product: the controller and the unit that drives the
// displays in its jog wheels. Both use the microcontroller's built-in DFU bootloader, so they
// share its IDs in update mode and are told apart only in normal mode.
//
// The table is constant data, usable at compile time by the firmware-image tool as well.

#include "FirmwareUpdater/Panel/Engine/UpdateEngineInterface.h"

#include <cstdint>
#include <span>

struct ProductDevice {
    enum class Kind : std::uint32_t {
        Controller = 0,
        WheelDisplay = 1,
    };

    Kind DeviceKind;
    std::uint32_t VendorId;            // normal mode
    std::uint32_t ProductId;           // normal mode
    std::uint32_t BootloaderVendorId;  // update mode
    std::uint32_t BootloaderProductId; // update mode
    const wchar_t* MidiPortName;
    // Looked up in the program's folder.
    const wchar_t* FirmwareFileName;
    // The release that the image in that file reports once flashed, as a USB device release
    // number: 0x0031 is the version {0,0,3,1} shown as "00.31".
    std::uint16_t FirmwareRelease;
    // Start addresses of the flash sectors that may be erased before a download, in order.
    std::span<const std::uint32_t> EraseSectors;

    // {VendorId, ProductId, BootloaderVendorId, BootloaderProductId} with the port name; the
    // other texts empty.
    [[nodiscard]] LUpdateEngineInterface::DeviceDefinition GetDeviceDefinition() const;
    // The version of the image in the firmware file, the reference a device is compared with.
    [[nodiscard]] LUpdateEngineInterface::FirmwareVersion GetFirmwareVersion() const;

    [[nodiscard]] static const ProductDevice& Get(Kind kind) noexcept;
    // The device whose normal-mode product ID is productId (under the product's vendor ID), or
    // null for any other ID.
    [[nodiscard]] static const ProductDevice* FindByNormalModeIds(std::uint32_t vendorId, std::uint32_t productId) noexcept;
};

// "Controller" or "WheelDisplay"; "invalid ProductDevice::Kind" for any other value.
[[nodiscard]] const char* ToString(ProductDevice::Kind kind) noexcept;

inline constexpr std::uint32_t kControllerEraseSectors[] = {0x08008000, 0x0800C000, 0x08010000};
inline constexpr std::uint32_t kWheelDisplayEraseSectors[] = {0x08008000, 0x0800C000, 0x08010000,
                                                              0x08020000, 0x08040000, 0x08060000};

inline constexpr ProductDevice kControllerDevice{
    ProductDevice::Kind::Controller,
    0x2C1A,
    0x8010,
    0x0483,
    0xDF11,
    L"Halvard XR4000 NOVA",
    L"qx31_tp_update_00_31_120936.dfu",
    0x0031,
    kControllerEraseSectors,
};

inline constexpr ProductDevice kWheelDisplayDevice{
    ProductDevice::Kind::WheelDisplay,
    0x2C1A,
    0xB010,
    0x0483,
    0xDF11,
    L"Halvard XR4000 NOVA WD",
    L"qx31_wd_update_00_50_3A7CE2CA.dfu",
    0x0050,
    kWheelDisplayEraseSectors,
};
