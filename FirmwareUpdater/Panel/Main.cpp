// Process entry of the updater.

#include "ProductInfo.h"

#include "ZTFramework/Debug/DebugConsoleSwitch.h"
#include "ZTFramework/Debug/DebugLine.h"

#include <cctype>
#include <cstdio>
#include <cstring>
#include <string>

namespace {

// The command line as one text, the way installers and the single-instance hand-over see it:
// arguments joined by blanks, an argument that holds a blank wrapped in double quotes.
std::string JoinCommandLine(int argc, char** argv)
{
    std::string line;
    for (int i = 0; i < argc; ++i) {
        if (i > 0)
            line += ' ';
        const bool quote = std::strchr(argv[i], ' ') != nullptr && std::strchr(argv[i], '"') == nullptr;
        if (quote)
            line += '"';
        line += argv[i];
        if (quote)
            line += '"';
    }
    return line;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc == 2 && std::strcmp(argv[1], "--version") == 0) {
        std::printf("%s %s\n", ZT_PRODUCT_NAME, ZT_PRODUCT_VERSION);
        return 0;
    }

    const std::string commandLine = JoinCommandLine(argc, argv);
    std::string upper = commandLine;
    for (char& c : upper)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    ZT::ApplyDebugConsoleSwitch(upper);

    ZT::CDebugLine() << ZT_COMPANY_NAME << " " << ZT_PRODUCT_NAME << " " << ZT_PRODUCT_VERSION << " started";
    return 0;
}
