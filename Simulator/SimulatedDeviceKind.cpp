#include "Simulator/SimulatedDeviceKind.h"

#include <cstdio>

SimulatedDeviceIdentity IdentityOf(SimulatedDeviceKind kind)
{
    switch (kind) {
    case SimulatedDeviceKind::Controller:
        return {0x2C1A, 0x8010, "Halvard XR4000 NOVA"};
    case SimulatedDeviceKind::WheelDisplay:
        return {0x2C1A, 0xB010, "Halvard XR4000 NOVA WD"};
    }
    return {0, 0, ""};
}

const char* SimulatedDeviceKindName(SimulatedDeviceKind kind)
{
    switch (kind) {
    case SimulatedDeviceKind::Controller:
        return "Controller";
    case SimulatedDeviceKind::WheelDisplay:
        return "WheelDisplay";
    }
    return "unknown device";
}

std::string SimulatedSerialNumber(SimulatedDeviceKind kind, std::uint32_t ordinal)
{
    // Distinct, stable bases per kind; the ordinal tells two devices of one kind apart.
    const unsigned long long base = kind == SimulatedDeviceKind::Controller ? 0x2058345D3100ULL : 0x2058345D5000ULL;
    char text[16];
    std::snprintf(text, sizeof text, "%012llX", base + ordinal);
    return text;
}
