#include "tools/SimulationImagePlan.h"

#include "FirmwareUpdater/Panel/Engine/DfuSeFileLayout.h"
#include "Simulator/FirmwareVersionRecord.h"

namespace {

// Sizes of a typical build of each firmware. Each must end inside the last sector that the
// engine erases for its device: the controller's three sectors reach 0x08020000 (96 KiB of
// application), the wheel display's six reach 0x08080000 (480 KiB). Neither is a multiple of the
// 2048-byte download block, so the last block is a short one, as with real builds.
constexpr std::size_t kControllerImageSize = 97000;
constexpr std::size_t kWheelDisplayImageSize = 307500;

std::string Narrow(const wchar_t* text)
{
    // The port names are ASCII.
    std::string narrow;
    for (; *text != L'\0'; ++text)
        narrow.push_back(static_cast<char>(*text));
    return narrow;
}

} // namespace

SimulationImagePlan SimulationImagePlan::ForDevice(const ProductDevice& device)
{
    SimulationImagePlan plan;
    plan.Release = device.FirmwareRelease;
    plan.VendorId = static_cast<std::uint16_t>(device.VendorId);
    plan.ProductId = static_cast<std::uint16_t>(device.ProductId);
    plan.TargetName = Narrow(device.MidiPortName) + " - " + DfuSeFileLayout::kSimulationMark;
    plan.Seed = (device.ProductId << 16) | device.FirmwareRelease;
    switch (device.DeviceKind) {
    case ProductDevice::Kind::Controller:
        plan.ElementSize = kControllerImageSize;
        plan.Device = SimulatedDeviceKind::Controller;
        break;
    case ProductDevice::Kind::WheelDisplay:
        plan.ElementSize = kWheelDisplayImageSize;
        plan.Device = SimulatedDeviceKind::WheelDisplay;
        break;
    }
    return plan;
}

DfuSeImage SimulationImagePlan::Build() const
{
    DfuSeImage image;
    image.ElementAddress = ElementAddress;
    image.TargetName = TargetName;
    image.DeviceRelease = Release;
    image.VendorId = VendorId;
    image.ProductId = ProductId;

    // xorshift32: cheap, reproducible everywhere, and never stuck at 0 with a non-zero state.
    std::uint32_t state = Seed != 0 ? Seed : 0x9E3779B9u;
    image.ElementData.resize(ElementSize);
    for (std::uint8_t& byte : image.ElementData) {
        state ^= state << 13;
        state ^= state >> 17;
        state ^= state << 5;
        byte = static_cast<std::uint8_t>(state >> 24);
    }
    WriteVersionRecord(image.ElementData, Release, Device);
    return image;
}
