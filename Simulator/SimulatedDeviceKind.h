#pragma once
// The two devices of the controller and what identifies them on USB and MIDI.

#include <array>
#include <cstdint>
#include <string>

enum class SimulatedDeviceKind { Controller, WheelDisplay };

struct SimulatedDeviceIdentity {
    std::uint16_t vendorId;
    std::uint16_t productId;
    const char* midiPortName;
};

// The IDs and MIDI port name of the device in normal mode.
[[nodiscard]] SimulatedDeviceIdentity IdentityOf(SimulatedDeviceKind kind);
// The USB serial number of the ordinal-th device of a kind on one simulated bus (counted from 0):
// twelve upper-case hexadecimal digits, as the chip's unique ID gives them. Devices added in the
// same order get the same numbers, so a bus restored from a state file keeps them.
[[nodiscard]] std::string SimulatedSerialNumber(SimulatedDeviceKind kind, std::uint32_t ordinal);
// "Controller", "WheelDisplay".
[[nodiscard]] const char* SimulatedDeviceKindName(SimulatedDeviceKind kind);

// Both devices run the microcontroller's built-in DfuSe bootloader in update mode.
inline constexpr std::uint16_t kBootloaderVendorId = 0x0483;
inline constexpr std::uint16_t kBootloaderProductId = 0xDF11;

// Where the application image starts in flash; the bootloader's own area lies below it.
inline constexpr std::uint32_t kApplicationStartAddress = 0x08008000;

// The system-exclusive message that makes the application restart in its bootloader.
inline constexpr std::array<std::uint8_t, 10> kUpdateModeRequest{0xF0, 0x00, 0x01, 0x7A, 0x01,
                                                                  0x10, 0x72, 0x00, 0x00, 0xF7};
