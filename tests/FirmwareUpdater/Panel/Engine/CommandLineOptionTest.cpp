#include "FirmwareUpdater/Panel/Engine/CommandLineOption.h"

#include <gtest/gtest.h>

namespace {

using ZT::WString;

TEST(CommandLineLookup, FindsOptionsAndTheirValuesAsWritten)
{
    struct Row {
        const wchar_t* commandLine;
        const wchar_t* name;
        bool present;
        const wchar_t* value;
    };
    const Row rows[] = {
        // Flags end at a blank or at the end of the line.
        {L"prog -SILENT", L"-SILENT", true, L""},
        {L"prog -SILENT -ALWAYS_UPDATE", L"-SILENT", true, L""},
        {L"prog -SILENT_IF_UPDATE_NOT_NEEDED", L"-SILENT", false, L""},
        {L"prog -SILENT_IF_UPDATE_NOT_NEEDED -SILENT", L"-SILENT", false, L""}, // first occurrence only
        {L"prog -SILENT\t-X", L"-SILENT", false, L""},                          // a tab is no separator
        {L"prog -silent", L"-SILENT", true, L""},
        {L"prog -Always_Update", L"-ALWAYS_UPDATE", true, L""},
        {L"prog", L"-SILENT", false, L""},
        // Values keep their case, end at a blank, or run between double quotes.
        {L"prog -firmware_image_name=MyFile.DFU -SILENT", L"-FIRMWARE_IMAGE_NAME=", true, L"MyFile.DFU"},
        {L"prog -ABSOLUTE_FIRMWARE_FILE_PATH=\"/home/dj/My Files/fw.dfu\" -SILENT",
         L"-ABSOLUTE_FIRMWARE_FILE_PATH=", true, L"/home/dj/My Files/fw.dfu"},
        {L"prog -ABSOLUTE_FIRMWARE_FILE_PATH=\"/no/closing quote", L"-ABSOLUTE_FIRMWARE_FILE_PATH=", true,
         L"/no/closing quote"},
        {L"prog -ABSOLUTE_FIRMWARE_FILE_PATH= -SILENT", L"-ABSOLUTE_FIRMWARE_FILE_PATH=", false, L""},
        {L"prog -DEVICE_PID=", L"-DEVICE_PID=", true, L""},
        {L"prog -DEVICE_PID=32784", L"-DEVICE_PID=", true, L"32784"},
        {L"prog -DEVICE_PID=\"\"", L"-DEVICE_PID=", true, L""},
        // Names that break the naming rule are absent whatever the line holds.
        {L"prog - -X", L"-", false, L""},
        {L"prog SILENT", L"SILENT", false, L""},
        {L"", L"-SILENT", false, L""}};
    for (const Row& row : rows) {
        SCOPED_TRACE(WString(row.commandLine).ToUTF8() + " / " + WString(row.name).ToUTF8());
        WString value(L"stale");
        EXPECT_EQ(CommandLineOption::Get(WString(row.commandLine), WString(row.name), value), row.present);
        EXPECT_EQ(value.ToUTF8(), WString(row.value).ToUTF8());
    }
}

TEST(CommandLineNumbers, ReadLikeTheRuntimeWideAtoi)
{
    struct Row {
        const wchar_t* text;
        std::int32_t value;
    };
    const Row rows[] = {
        {L"32784", 32784},   {L"  42", 42},         {L"-17", -17},      {L"+8", 8},
        {L"12abc", 12},      {L"0x2C1A", 0},        {L"", 0},           {L"abc", 0},
        {L"- 5", 0},         {L"2147483647", 2147483647}, {L"4294967297", 1}, // wraps like the runtime
    };
    for (const Row& row : rows)
        EXPECT_EQ(CommandLineOption::ToInteger(WString(row.text)), row.value) << WString(row.text).ToUTF8();
}

} // namespace
