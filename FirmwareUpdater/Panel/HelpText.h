#pragma once
// The text of --help (also -h and -?): usage, options, the query's exit codes and the folders the
// program uses, in the user's language from the string table "CommandLine|help"; any entry the
// tables lack (or no tables at all) is the English text.

#include "ZTFramework/Utilities/Storage/StringT.h"

#include <string>

namespace ZT {
class LResourceSet;
}

class CHelpText {
public:
    struct Folders {
        std::string Program;      // where the firmware files go (the program's own folder)
        std::string AppSettings;  // AppSettings.ini's folder
        std::string UserSettings; // UserSettings.ini's folder
        std::string State;        // the bootloader-serials record's folder
    };

    static constexpr const wchar_t* kTableId = L"CommandLine|help";

    // Whether argument asks for the help text: "--help", "-h" or "-?" (case as written).
    [[nodiscard]] static bool IsHelpArgument(const char* argument) noexcept;

    // The whole text, UTF-8, each line ending in "\n". texts may be null.
    [[nodiscard]] static std::string Format(const ZT::LResourceSet* texts, const std::string& programName,
                                            const Folders& folders);
};
