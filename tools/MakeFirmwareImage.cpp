// make-firmware-image: writes a DfuSe firmware file for simulated devices.
//
//   make-firmware-image --device controller|wheel-display --output FILE
//                       [--address A] [--size N] [--release R] [--seed S]
//
// Without the optional settings the file is the product file of that device. Numbers may be
// written in decimal or with 0x in hexadecimal. The file is written next to its final name and
// then renamed, so a build that is interrupted never leaves half a file behind.

#include "FirmwareUpdater/Panel/Engine/ProductDevice.h"
#include "tools/SimulationImagePlan.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace {

constexpr const char* kUsage =
    "usage: make-firmware-image --device controller|wheel-display --output FILE\n"
    "                           [--address A] [--size N] [--release R] [--seed S]\n";

std::optional<unsigned long long> ParseNumber(const char* text, unsigned long long maximum)
{
    if (text == nullptr || *text == '\0' || *text == '-')
        return std::nullopt;
    char* end = nullptr;
    errno = 0;
    const unsigned long long value = std::strtoull(text, &end, 0);
    if (errno != 0 || *end != '\0' || value > maximum)
        return std::nullopt;
    return value;
}

int Fail(const std::string& message)
{
    std::fprintf(stderr, "make-firmware-image: %s\n%s", message.c_str(), kUsage);
    return 2;
}

// Returns 0, or the system's error number.
int WriteFile(const std::string& path, const std::vector<std::uint8_t>& bytes)
{
    const std::string temporary = path + ".partial";
    {
        std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
        out.close();
        if (!out) {
            const int error = errno != 0 ? errno : EIO;
            std::remove(temporary.c_str());
            return error;
        }
    }
    if (std::rename(temporary.c_str(), path.c_str()) != 0) {
        const int error = errno;
        std::remove(temporary.c_str());
        return error;
    }
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    const ProductDevice* device = nullptr;
    std::string output;
    std::optional<unsigned long long> address, size, release, seed;

    for (int i = 1; i < argc; ++i) {
        const std::string_view option = argv[i];
        const char* value = i + 1 < argc ? argv[i + 1] : nullptr;
        if (option == "--help" || option == "-h") {
            std::fputs(kUsage, stdout);
            return 0;
        }
        if (value == nullptr)
            return Fail("missing value after " + std::string(option));
        ++i;
        if (option == "--device") {
            if (std::string_view(value) == "controller")
                device = &kControllerDevice;
            else if (std::string_view(value) == "wheel-display")
                device = &kWheelDisplayDevice;
            else
                return Fail("unknown device '" + std::string(value) + "'");
        } else if (option == "--output") {
            output = value;
        } else if (option == "--address") {
            if (!(address = ParseNumber(value, 0xFFFFFFFFull)))
                return Fail("--address needs a 32-bit number");
        } else if (option == "--size") {
            // The reader serves at most 65535 blocks of 2048 bytes.
            if (!(size = ParseNumber(value, 65535ull * 2048ull)))
                return Fail("--size needs a number up to 134215680");
        } else if (option == "--release") {
            if (!(release = ParseNumber(value, 0xFFFFull)))
                return Fail("--release needs a 16-bit number such as 0x0031");
        } else if (option == "--seed") {
            if (!(seed = ParseNumber(value, 0xFFFFFFFFull)))
                return Fail("--seed needs a 32-bit number");
        } else {
            return Fail("unknown option " + std::string(option));
        }
    }
    if (device == nullptr)
        return Fail("--device is required");
    if (output.empty())
        return Fail("--output is required");

    SimulationImagePlan plan = SimulationImagePlan::ForDevice(*device);
    if (address)
        plan.ElementAddress = static_cast<std::uint32_t>(*address);
    if (size)
        plan.ElementSize = static_cast<std::size_t>(*size);
    if (release)
        plan.Release = static_cast<std::uint16_t>(*release);
    if (seed)
        plan.Seed = static_cast<std::uint32_t>(*seed);

    const DfuSeImage image = plan.Build();
    if (const int error = WriteFile(output, image.ToBytes()); error != 0) {
        std::fprintf(stderr, "make-firmware-image: cannot write %s: %s\n", output.c_str(), std::strerror(error));
        return 1;
    }
    std::printf("make-firmware-image: %s: element 0x%08X + %zu bytes, release 0x%04X, target \"%s\"\n",
                output.c_str(), static_cast<unsigned>(image.ElementAddress), image.ElementData.size(),
                static_cast<unsigned>(image.DeviceRelease), image.TargetName.c_str());
    return 0;
}
