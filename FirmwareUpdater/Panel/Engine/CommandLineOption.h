#pragma once
// The updater's command-line options.
//
// Each option is a dash and an upper-case name; names that end with "=" take the value that
// follows directly. Names match case-insensitively, values keep the case they were written in.
// Only the first occurrence of a name counts, and only a blank (0x20) separates options.

#include "ZTFramework/Utilities/Storage/StringT.h"

#include <cstdint>

namespace CommandLineOption {

inline constexpr const wchar_t* kAbsoluteFirmwareFilePath = L"-ABSOLUTE_FIRMWARE_FILE_PATH=";
inline constexpr const char* kAbsoluteFirmwareFilePathUtf8 = "-ABSOLUTE_FIRMWARE_FILE_PATH=";
inline constexpr const wchar_t* kFirmwareImageName = L"-FIRMWARE_IMAGE_NAME=";
inline constexpr const wchar_t* kDeviceVid = L"-DEVICE_VID=";
inline constexpr const wchar_t* kDevicePid = L"-DEVICE_PID=";
inline constexpr const wchar_t* kDeviceBootloaderPid = L"-DEVICE_BOOTLOADER_PID=";
inline constexpr const wchar_t* kAlwaysUpdate = L"-ALWAYS_UPDATE";
inline constexpr const wchar_t* kReturnUpdateModeStatus = L"-RETURN_UPDATE_MODE_STATUS";
inline constexpr const wchar_t* kSilentIfUpdateNotNeeded = L"-SILENT_IF_UPDATE_NOT_NEEDED";
inline constexpr const wchar_t* kStartUpdateAutomatically = L"-START_UPDATE_AUTOMATICALLY";
inline constexpr const wchar_t* kSilent = L"-SILENT";
// With kReturnUpdateModeStatus: the answer as JSON on standard output as well.
inline constexpr const wchar_t* kJson = L"--JSON";

// Looks the option up in the command line. Returns whether it is present; value receives the
// option's value (empty for flags and for absent options).
//   - a name must start with "-" and have at least two characters, else it is absent;
//   - a value that starts with a blank makes the option absent;
//   - a value that starts with a double quote runs to the next double quote (or to the end);
//   - any other value runs to the next blank (or to the end);
//   - a flag (a name without "=") is present only when a blank or the end follows it, so
//     "-SILENT" is not found inside "-SILENT_IF_UPDATE_NOT_NEEDED".
bool Get(const ZT::WString& commandLine, const ZT::WString& name, ZT::WString& value);

// A signed decimal number read the way the C runtime's wide atoi reads it: leading blanks
// skipped, an optional sign, digits up to the first non-digit, 0 when there are none.
// Values past the 32-bit range wrap as the runtime's conversion does (two's complement).
std::int32_t ToInteger(const ZT::WString& text);

} // namespace CommandLineOption
