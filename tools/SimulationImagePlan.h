#pragma once
// What goes into a firmware image for simulated devices, and the image made from it.
//
// The element holds a deterministic pseudo-random payload, so that every build writes the same
// bytes, with the simulated firmware's version record (Simulator/FirmwareVersionRecord.h) at its
// fixed offset, written last with the initial stack pointer in the first word: the record carries
// the element's length and checksum, which a simulated boot code may check before it starts the
// image, and names the device; the target name carries DfuSeFileLayout::kSimulationMark; the DFU suffix names
// the device's normal-mode IDs and the firmware's release.

#include "FirmwareUpdater/Panel/Engine/ProductDevice.h"
#include "Simulator/SimulatedDeviceKind.h"
#include "tools/DfuSeImage.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

struct SimulationImagePlan {
    // Where the application starts in the devices' flash: the first sector the engine erases.
    static constexpr std::uint32_t kApplicationAddress = 0x08008000;

    std::uint32_t ElementAddress = kApplicationAddress;
    std::size_t ElementSize = 0;
    std::uint16_t Release = 0;
    std::uint32_t Seed = 0;
    std::uint16_t VendorId = 0xFFFF;
    std::uint16_t ProductId = 0xFFFF;
    std::string TargetName;
    // The device the version record names (identity-from-image); none for a test's own image.
    std::optional<SimulatedDeviceKind> Device;

    // The product file of one device: its release, its IDs, a size that fits the sectors the
    // engine erases for it, and a seed of its own.
    [[nodiscard]] static SimulationImagePlan ForDevice(const ProductDevice& device);

    // The image; an element too short for the version record is grown to hold it.
    [[nodiscard]] DfuSeImage Build() const;
};
