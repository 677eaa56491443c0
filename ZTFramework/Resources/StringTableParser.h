#pragma once
// Reads one string-table document for one locale.
//
// The document: any root element; an optional "Application" (attribute "Name") that may hold
// the tables; "StringTable" (attribute "ID") holding "String" (attribute "ID") holding one
// "Locale" per translation (attribute "LCID", the text as content). Only the texts whose LCID
// equals the one asked for are taken; the count of such Locale elements tells the loader whether
// to try a fallback locale.
//
// Anything else is refused with a reason and the line: an element in the wrong place or unknown,
// a missing or empty ID, an LCID that is not "0x"+hex or decimal, text outside a "Locale".
// A refused document leaves the caller's tables untouched (the texts are gathered apart and
// handed out only by a successful Parse).
//
// Not guarded: one parser is used by one thread at a time.

#include "ZTFramework/Resources/StringTable.h"
#include "ZTFramework/Resources/XmlDocumentParser.h"
#include "ZTFramework/Utilities/Storage/StringT.h"

#include <cstdint>
#include <map>
#include <span>
#include <string>
#include <vector>

namespace ZT {

// Table ID -> (string ID -> text).
using StringTableMap = std::map<WString, LStringTable::StringMap>;

class CStringTableParser : private CXmlDocumentParser {
public:
    // lcid: the locale whose texts are taken.
    explicit CStringTableParser(std::uint32_t lcid) : mLcid(lcid) {}

    // Parses the document. On S_OK GetTables and GetApplicationName hold what it carried for the
    // locale; on failure GetErrorLine and GetErrorReason say why (see CXmlDocumentParser).
    [[nodiscard]] ZTRESULT Parse(std::span<const std::uint8_t> document);

    [[nodiscard]] const StringTableMap& GetTables() const noexcept { return mTables; }
    // The name of the last "Application" element, empty when the document has none.
    [[nodiscard]] const WString& GetApplicationName() const noexcept { return mApplicationName; }
    // How many "Locale" elements matched the locale.
    [[nodiscard]] int GetMatchCount() const noexcept { return mMatchCount; }

    using CXmlDocumentParser::GetErrorLine;
    using CXmlDocumentParser::GetErrorReason;

private:
    enum class Scope { Root, Application, StringTable, String, Locale };

    void StartElement(std::string_view name, const Attributes& attributes) override;
    void EndElement(std::string_view name) override;
    void CharacterData(std::string_view text) override;

    // The named attribute's value; fails the parse and returns null when it is missing or empty.
    const char* RequireAttribute(std::string_view element, const Attributes& attributes, std::string_view name);

    std::uint32_t mLcid;
    StringTableMap mTables;
    WString mApplicationName;
    int mMatchCount = 0;

    std::vector<Scope> mScopes;
    LStringTable::StringMap* mCurrentTable = nullptr;
    WString mCurrentStringId;
    bool mLocaleMatches = false;
    std::string mLocaleText;   // UTF-8, collected while a matching Locale is open
};

} // namespace ZT
