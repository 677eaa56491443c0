#pragma once
// The application's loaded texts and skin: the string tables of the framework and the
// application for one locale, and the parsed skin document.
//
// Load reads three documents from a location. The location "::" stands for the documents built
// into the program ("::FRAMEWORK_STRINGS", "::APP_STRINGS", "::APP_SKINS"); any other location is
// a folder holding "FrameworkStrings.xml", "StringTables.xml" and "Skins.xml", which is how skin
// and translation authors try their work without building the program.
//
// Locale selection, per string-table document: the texts of the requested LCID; when the
// document has none, those of its fallback (CLocaleId::Fallback: the primary language, or
// Chinese traditional); when it has none of those either, English (0x0009).
//
// Bad documents never stop the program: a document that is missing, unreadable, too large, not
// well-formed, or refused by its parser adds a load message (path, line, reason) that also goes
// to the debug output, and the loader falls back. From a folder, the fallback is the built-in
// document of the same kind; from "::", string tables stay without that document's texts (their
// lookups fail and callers keep their default texts) and the skin stays unloaded. A refused
// document contributes nothing: no half-read tables or controls.
//
// Loading happens once during start-up on the user-interface thread; afterwards the set is only
// read. Not guarded.

#include "ZTFramework/Errors/Result.h"
#include "ZTFramework/ObjectBase/RCPtr.h"
#include "ZTFramework/ObjectBase/RefCountedObject.h"
#include "ZTFramework/Resources/SkinDefinitions.h"
#include "ZTFramework/Resources/StringTable.h"
#include "ZTFramework/Resources/StringTableParser.h"
#include "ZTFramework/Utilities/Storage/StringT.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace ZT {

class LResourceSet : public virtual LRefCountedObject {
public:
    // One kind of document: its built-in resource name, its file name in a folder, and how
    // messages call it.
    struct DocumentKind {
        std::string_view mResourceName;
        std::string_view mFileName;
        std::string_view mDescription;
    };
    static constexpr DocumentKind kFrameworkStrings{"FRAMEWORK_STRINGS", "FrameworkStrings.xml",
                                                    "framework string tables"};
    static constexpr DocumentKind kApplicationStrings{"APP_STRINGS", "StringTables.xml", "application string tables"};
    static constexpr DocumentKind kSkin{"APP_SKINS", "Skins.xml", "skin"};
    // The table of the framework's own texts.
    static constexpr const wchar_t* kFrameworkTableId = L"Framework";

    // Loads the string tables for lcid (application, then framework) and then the skin.
    // Returns the skin's result (see LoadSkin), or E_OUTOFMEMORY when the string tables could
    // not be read for lack of memory (the skin is then not loaded).
    [[nodiscard]] ZTRESULT Load(const WString& location, std::uint32_t lcid);
    // S_OK, or E_OUTOFMEMORY. Every other fault becomes a load message and a fallback.
    [[nodiscard]] ZTRESULT LoadStringTables(const WString& location, std::uint32_t lcid);
    // S_OK: the location's skin is loaded. S_FALSE: it was missing or refused and the built-in
    // skin was loaded instead. E_FAIL: no skin could be loaded. E_OUTOFMEMORY.
    [[nodiscard]] ZTRESULT LoadSkin(const WString& location);

    // The current application name: set by the documents' "Application" elements ("Wavecrest").
    [[nodiscard]] const WString& GetApplicationName() const noexcept { return mApplicationName; }
    void SetApplicationName(const WString& name) { mApplicationName = name; }

    // A copy of the table with this ID, or null when no document defined it.
    [[nodiscard]] RCPtr<LStringTable> GetStringTable(const WString& tableId) const;
    // The table of a named control: ownerName (the parent's class, or the application name when
    // empty), "|", controlName.
    [[nodiscard]] RCPtr<LStringTable> GetStringTable(const WString& ownerName, const WString& controlName) const;
    [[nodiscard]] RCPtr<LStringTable> GetFrameworkStringTable() const { return GetStringTable(WString(kFrameworkTableId)); }
    // The application's general texts (dialog titles, messages): the table "|" + application name.
    [[nodiscard]] RCPtr<LStringTable> GetApplicationStringTable() const;
    // The text of stringId in the table tableId, or fallback when either does not exist.
    [[nodiscard]] WString GetText(const WString& tableId, const WString& stringId, const WString& fallback = WString()) const;
    [[nodiscard]] const StringTableMap& GetAllStringTables() const noexcept { return mTables; }

    // The loaded skin, or null.
    [[nodiscard]] RCPtr<LSkinDefinitions> GetSkin() const { return mSkin; }

    // What went wrong while loading, one line each, in order.
    [[nodiscard]] const std::vector<std::string>& GetLoadMessages() const noexcept { return mLoadMessages; }

private:
    enum class Outcome { Loaded, Missing, Refused };
    // Reads one string-table document into the tables. E_OUTOFMEMORY, or S_OK with the outcome.
    [[nodiscard]] ZTRESULT LoadStringDocument(const std::string& path, const DocumentKind& kind, std::uint32_t lcid,
                                              Outcome& outcome);
    [[nodiscard]] ZTRESULT LoadSkinDocument(const std::string& path, const std::string& folder, Outcome& outcome);
    void Report(const std::string& path, const DocumentKind& kind, int line, const std::string& reason);
    void Note(std::string message);

    WString mApplicationName;
    StringTableMap mTables;
    RCPtr<LSkinDefinitions> mSkin;
    std::vector<std::string> mLoadMessages;
};

} // namespace ZT
