// Feeds arbitrary command lines to the option lookup with every option name of the updater.

#include "FirmwareUpdater/Panel/Engine/CommandLineOption.h"
#include "fuzz/FuzzCheck.h"

#include <cstddef>
#include <cstdint>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    // Bytes become wide characters one by one, so blanks, quotes and any code point can appear.
    std::wstring line;
    line.reserve(size / 2 + 1);
    for (std::size_t i = 0; i + 1 < size; i += 2)
        line.push_back(static_cast<wchar_t>(data[i] | (data[i + 1] << 8)));
    const ZT::WString commandLine(std::wstring_view(line).substr(0, line.find(L'\0')));

    const wchar_t* const names[] = {
        CommandLineOption::kAbsoluteFirmwareFilePath, CommandLineOption::kFirmwareImageName,
        CommandLineOption::kDeviceVid, CommandLineOption::kDevicePid, CommandLineOption::kDeviceBootloaderPid,
        CommandLineOption::kAlwaysUpdate, CommandLineOption::kReturnUpdateModeStatus,
        CommandLineOption::kSilentIfUpdateNotNeeded, CommandLineOption::kStartUpdateAutomatically,
        CommandLineOption::kSilent, L"-", L""};
    for (const wchar_t* name : names) {
        ZT::WString value;
        if (CommandLineOption::Get(commandLine, ZT::WString(name), value)) {
            Check(value.GetLength() <= commandLine.GetLength());
            (void)CommandLineOption::ToInteger(value);
        }
    }
    return 0;
}
