#include "Simulator/SimulatedDeviceKind.h"

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
