// Feeds arbitrary bytes to the string-table reader as a document, for two locales: it must
// either take the document or refuse it with a reason, never crash, hang or keep half of it.

#include "ZTFramework/Resources/StringTableParser.h"
#include "fuzz/FuzzCheck.h"

#include <cstddef>
#include <cstdint>
#include <span>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    for (const std::uint32_t lcid : {0x0009u, 0x0407u}) {
        ZT::CStringTableParser parser(lcid);
        const ZT::ZTRESULT result = parser.Parse(std::span<const std::uint8_t>(data, size));
        if (ZT::Failed(result)) {
            // A refused document leaves nothing behind and says why.
            Check(parser.GetTables().empty() && parser.GetMatchCount() == 0);
            Check(result != ZT::E_FAIL || !parser.GetErrorReason().empty());
            continue;
        }
        // Every matching Locale sits in a String of a StringTable, so it left a text.
        Check(parser.GetMatchCount() == 0 || !parser.GetTables().empty());
    }
    return 0;
}
