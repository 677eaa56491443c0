#include "FirmwareUpdater/Panel/HelpText.h"

#include "ZTFramework/Resources/ResourceSet.h"

#include <cstring>
#include <iterator>

namespace {

// One line of the text: what stands in its first column (an option, an exit code) and the
// string-table entry with its English text. Lines without an entry are headings or blank.
struct Line {
    const char* Column;
    const wchar_t* StringId;
    const wchar_t* English;
};

constexpr Line kOptionLines[] = {
    {"-RETURN_UPDATE_MODE_STATUS", L"HELP_OPTION_RETURN_UPDATE_MODE_STATUS",
     L"query mode: no update, no window; the exit status tells what is needed"},
    {"--json", L"HELP_OPTION_JSON", L"with -RETURN_UPDATE_MODE_STATUS: each device's state as one JSON object on standard output"},
    {"-SILENT", L"HELP_OPTION_SILENT", L"update what needs an update, without a window, and quit"},
    {"-SILENT_IF_UPDATE_NOT_NEEDED", L"HELP_OPTION_SILENT_IF_UPDATE_NOT_NEEDED", L"quit at once when no update is wanted"},
    {"-START_UPDATE_AUTOMATICALLY", L"HELP_OPTION_START_UPDATE_AUTOMATICALLY", L"start the update without user action"},
    {"-ALWAYS_UPDATE", L"HELP_OPTION_ALWAYS_UPDATE", L"write the image even when the device is as new as the file"},
    {"-ABSOLUTE_FIRMWARE_FILE_PATH=<file>", L"HELP_OPTION_ABSOLUTE_FIRMWARE_FILE_PATH",
     L"the firmware file to check at start-up (also given as a plain argument)"},
    {"-FIRMWARE_IMAGE_NAME=<name>", L"HELP_OPTION_FIRMWARE_IMAGE_NAME", L"a file of that name in the program's folder instead"},
    {"-DEVICE_VID=<n>, -DEVICE_PID=<n>, -DEVICE_BOOTLOADER_PID=<n>", L"HELP_OPTION_DEVICE_IDS",
     L"USB identifiers (decimal) of the device to look for"},
    {"-DEBUG_CONSOLE[:port[:host]]", L"HELP_OPTION_DEBUG_CONSOLE",
     L"show each step on standard error (or send it as UDP datagrams to that port)"},
    {"-SIMULATE_DEVICES[=<value>]", L"HELP_OPTION_SIMULATE_DEVICES", L"use simulated devices instead of USB and MIDI"},
    {"--help, -h, -?", L"HELP_OPTION_HELP", L"show this text"},
    {"--version", L"HELP_OPTION_VERSION", L"show the program's name and version"},
};

constexpr Line kExitLines[] = {
    {"1", L"HELP_EXIT_1", L"no device that can be updated was found"},
    {"2", L"HELP_EXIT_2", L"a device in update mode that needs no update"},
    {"3", L"HELP_EXIT_3", L"a device in update mode that needs its image"},
    {"4", L"HELP_EXIT_4", L"the devices are up to date"},
    {"5", L"HELP_EXIT_5", L"an update is needed"},
};

class CTexts {
public:
    explicit CTexts(const ZT::LResourceSet* texts) : mTexts(texts) {}

    std::string Get(const wchar_t* stringId, const wchar_t* english) const
    {
        if (!mTexts)
            return ZT::WString(english).ToUTF8();
        return mTexts->GetText(ZT::WString(CHelpText::kTableId), ZT::WString(stringId), ZT::WString(english)).ToUTF8();
    }

private:
    const ZT::LResourceSet* mTexts;
};

// "%s" in format replaced by value, once.
std::string Fill(std::string format, const std::string& value)
{
    const std::size_t at = format.find("%s");
    if (at != std::string::npos)
        format.replace(at, 2, value);
    return format;
}

void AppendColumns(std::string& text, const CTexts& texts, const Line* begin, const Line* end)
{
    for (const Line* line = begin; line != end; ++line) {
        text += "  ";
        text += line->Column;
        text += "\n      ";
        text += texts.Get(line->StringId, line->English);
        text += "\n";
    }
}

} // namespace

bool CHelpText::IsHelpArgument(const char* argument) noexcept
{
    return std::strcmp(argument, "--help") == 0 || std::strcmp(argument, "-h") == 0 || std::strcmp(argument, "-?") == 0;
}

std::string CHelpText::Format(const ZT::LResourceSet* resources, const std::string& programName, const Folders& folders)
{
    const CTexts texts(resources);
    std::string text = Fill(texts.Get(L"HELP_USAGE", L"Usage: %s [option...] [firmware file]"), programName) + "\n";
    text += texts.Get(L"HELP_SUMMARY", L"Updates the firmware of the XR4000 NOVA controller and its wheel display.") + "\n\n";
    text += texts.Get(L"HELP_OPTIONS_HEADING", L"Options:") + "\n";
    AppendColumns(text, texts, std::begin(kOptionLines), std::end(kOptionLines));
    text += "\n" + texts.Get(L"HELP_EXIT_HEADING", L"Exit status: 0; in query mode (-RETURN_UPDATE_MODE_STATUS):") + "\n";
    AppendColumns(text, texts, std::begin(kExitLines), std::end(kExitLines));
    text += "\n" + texts.Get(L"HELP_FOLDERS_HEADING", L"Folders:") + "\n";
    text += "  " + Fill(texts.Get(L"HELP_FOLDER_FIRMWARE", L"firmware files: %s"), folders.Program) + "\n";
    text += "  " + Fill(texts.Get(L"HELP_FOLDER_SETTINGS", L"settings: %s"), folders.AppSettings) + "\n";
    if (folders.UserSettings != folders.AppSettings)
        text += "  " + Fill(texts.Get(L"HELP_FOLDER_SETTINGS", L"settings: %s"), folders.UserSettings) + "\n";
    text += "  " + Fill(texts.Get(L"HELP_FOLDER_STATE", L"device records: %s"), folders.State) + "\n";
    text += "\n" + Fill(texts.Get(L"HELP_MAN_PAGE", L"More in: man %s"), programName) + "\n";
    return text;
}
