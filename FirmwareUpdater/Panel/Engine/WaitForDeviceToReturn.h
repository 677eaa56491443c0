#pragma once
// The wait for a device to come back after its download.
//
// The bootloader's leave request makes the device restart; it is back on the bus, running its
// new firmware, about 1.2 s later, with a new device path. The download itself refreshes the
// device at once and usually finds it gone (DeviceCannotBeUpdated, DeviceAccessFailure), so
// whoever handles the end of a successful update waits before it reads versions or goes on with
// the other device. The program's own wait is LUpdateSequence's, one timer step at a time with
// the constants below; the blocking function here serves tests and benchmarks that drive the
// engine without a host.

#include "ZTFramework/Errors/Result.h"

#include <cstdint>

class LUpdateEngineInterface;

// Between two refreshes, and the most that those waits add up to (20 refreshes).
inline constexpr std::uint32_t kDeviceReturnPollIntervalMs = 500;
inline constexpr std::uint32_t kDeviceReturnLimitMs = 10000;

// Waits kDeviceReturnPollIntervalMs on ZT::GetClock(), then refreshes the engine's selected
// device, until the device is found in normal mode (DeviceNotInUpdateMode), a refresh fails, or
// kDeviceReturnLimitMs of waits have passed. Returns S_OK when the device is back in normal mode,
// the refresh's failure (E_FAIL without a selection), or E_FAIL when it did not come back in
// time; the engine's device state then is what the last refresh found. Blocks the calling thread
// for up to 10 s.
[[nodiscard]] ZT::ZTRESULT WaitForDeviceToReturn(LUpdateEngineInterface& engine);
