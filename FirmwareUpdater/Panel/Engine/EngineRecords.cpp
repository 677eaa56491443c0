#include "FirmwareUpdater/Panel/Engine/EngineRecords.h"

// ---- FirmwareVersion ------------------------------------------------------------------------

bool FirmwareVersion::IsNewerThan(const FirmwareVersion& other) const noexcept
{
    if (Part1 != other.Part1)
        return Part1 > other.Part1;
    if (Part2 != other.Part2)
        return Part2 > other.Part2;
    if (Part3 != other.Part3)
        return Part3 > other.Part3;
    return Part4 > other.Part4;
}

bool FirmwareVersion::HasSameNumberAs(const FirmwareVersion& other) const noexcept
{
    return Part1 == other.Part1 && Part2 == other.Part2 && Part3 == other.Part3 && Part4 == other.Part4;
}

FirmwareVersion FirmwareVersion::FromReleaseNumber(std::uint16_t release)
{
    FirmwareVersion version;
    if (release == 0)
        return version;
    version.Part1 = (release >> 12) & 0xFu;
    version.Part2 = (release >> 8) & 0xFu;
    version.Part3 = (release >> 4) & 0xFu;
    version.Part4 = release & 0xFu;
    // Each digit is written in decimal, so a digit of 10 or more takes two characters.
    (void)version.Text.Format(L"%u%u.%u%u", version.Part1, version.Part2, version.Part3, version.Part4);
    return version;
}

std::uint16_t FirmwareVersion::ToReleaseNumber() const noexcept
{
    return static_cast<std::uint16_t>(((Part1 & 0xFu) << 12) | ((Part2 & 0xFu) << 8) | ((Part3 & 0xFu) << 4) |
                                      (Part4 & 0xFu));
}

// ---- Names of the enumerators ---------------------------------------------------------------

const char* ToString(DeviceState state) noexcept
{
    using S = DeviceState;
    switch (state) {
    case S::NoDeviceDefined: return "NoDeviceDefined";
    case S::NoDeviceFound: return "NoDeviceFound";
    case S::Scanning: return "Scanning";
    case S::DevicesAvailableNoneSelected: return "DevicesAvailableNoneSelected";
    case S::DeviceCannotBeUpdated: return "DeviceCannotBeUpdated";
    case S::DeviceNotInUpdateMode: return "DeviceNotInUpdateMode";
    case S::EnteringUpdateMode: return "EnteringUpdateMode";
    case S::DeviceInUpdateMode: return "DeviceInUpdateMode";
    case S::Updating: return "Updating";
    }
    return "invalid DeviceState";
}

const char* ToString(FirmwareFileState state) noexcept
{
    using S = FirmwareFileState;
    switch (state) {
    case S::NoFileDefined: return "NoFileDefined";
    case S::FileInvalid: return "FileInvalid";
    case S::FileFoundVersionUnknown: return "FileFoundVersionUnknown";
    case S::FileFoundVersionKnown: return "FileFoundVersionKnown";
    }
    return "invalid FirmwareFileState";
}

const char* ToString(DeviceErrorReason reason) noexcept
{
    using R = DeviceErrorReason;
    switch (reason) {
    case R::NoReason: return "NoReason";
    case R::DriverTooOld: return "DriverTooOld";
    case R::SystemFailure: return "SystemFailure";
    case R::FileAccessFailure: return "FileAccessFailure";
    case R::DeviceAccessFailure: return "DeviceAccessFailure";
    }
    return "invalid DeviceErrorReason";
}

const char* ToString(UpdateRunState state) noexcept
{
    using S = UpdateRunState;
    switch (state) {
    case S::Idle: return "Idle";
    case S::Running: return "Running";
    case S::Failed: return "Failed";
    case S::Cancelled: return "Cancelled";
    case S::Succeeded: return "Succeeded";
    }
    return "invalid UpdateRunState";
}

const char* ToString(ThreadWorkerTask task) noexcept
{
    using T = ThreadWorkerTask;
    switch (task) {
    case T::EnterUpdateModeTask: return "EnterUpdateModeTask";
    case T::UpdateFirmwareTask: return "UpdateFirmwareTask";
    }
    return "invalid ThreadWorkerTask";
}
