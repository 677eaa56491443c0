#include "ZTFramework/Resources/ResourceSet.h"

#include "ZTFramework/Debug/DebugLine.h"
#include "ZTFramework/Errors/Exception.h"
#include "ZTFramework/Resources/BuiltInResources.h"
#include "ZTFramework/Resources/LocaleId.h"
#include "ZTFramework/Resources/ResourceDocument.h"
#include "ZTFramework/Resources/SkinParser.h"

#include <new>

#include <sys/stat.h>

namespace ZT {

namespace {

bool IsBuiltIn(std::string_view location) { return location == CResourceDocument::kBuiltInLocation; }

bool FileExists(const std::string& path)
{
    struct stat status {};
    return ::stat(path.c_str(), &status) == 0 && S_ISREG(status.st_mode);
}

} // namespace

ZTRESULT LResourceSet::Load(const WString& location, std::uint32_t lcid)
{
    const ZTRESULT strings = LoadStringTables(location, lcid);
    if (Failed(strings))
        return strings;
    return LoadSkin(location);
}

ZTRESULT LResourceSet::LoadStringTables(const WString& location, std::uint32_t lcid)
{
    const std::string folder = location.ToUTF8();
    for (const DocumentKind* kind : {&kApplicationStrings, &kFrameworkStrings}) {
        const std::string path = CResourceDocument::PathAt(folder, kind->mResourceName, kind->mFileName);
        Outcome outcome = Outcome::Loaded;
        ZTRESULT result = LoadStringDocument(path, *kind, lcid, outcome);
        if (Failed(result))
            return result;
        if (outcome == Outcome::Loaded)
            continue;
        if (IsBuiltIn(folder)) {
            if (outcome == Outcome::Missing)
                Note("The program has no built-in " + std::string(kind->mDescription) + "; their texts stay empty.");
            continue;
        }
        Note("Using the built-in " + std::string(kind->mDescription) + " instead of \"" + path + "\".");
        const std::string builtIn = CResourceDocument::PathAt(CResourceDocument::kBuiltInLocation,
                                                              kind->mResourceName, kind->mFileName);
        result = LoadStringDocument(builtIn, *kind, lcid, outcome);
        if (Failed(result))
            return result;
        if (outcome == Outcome::Missing)
            Note("The program has no built-in " + std::string(kind->mDescription) + "; their texts stay empty.");
    }
    return S_OK;
}

ZTRESULT LResourceSet::LoadStringDocument(const std::string& path, const DocumentKind& kind, std::uint32_t lcid,
                                          Outcome& outcome)
{
    CResourceDocument document;
    const ZTRESULT read = document.Read(path);
    if (read == E_OUTOFMEMORY)
        return read;
    if (read == S_FALSE) {
        if (!IsBuiltIn(path.substr(0, 2)))
            Report(path, kind, 0, "the file does not exist");
        outcome = Outcome::Missing;
        return S_OK;
    }
    if (Failed(read)) {
        Report(path, kind, 0, document.GetFailureReason());
        outcome = Outcome::Refused;
        return S_OK;
    }

    // The requested locale, its fallback, then English; each tried once.
    std::uint32_t candidates[3] = {lcid, CLocaleId::Fallback(lcid), CLocaleId::kEnglish};
    for (std::size_t i = 0; i < 3; ++i) {
        const std::uint32_t candidate = candidates[i];
        if ((i > 0 && candidate == candidates[0]) || (i > 1 && candidate == candidates[1]))
            continue;
        CStringTableParser parser(candidate);
        ZTRESULT parsed = E_FAIL;
        try {
            parsed = parser.Parse(document.GetBytes());
        } catch (const std::bad_alloc&) {
            return E_OUTOFMEMORY;
        }
        if (parsed == E_OUTOFMEMORY)
            return parsed;
        if (Failed(parsed)) {
            Report(path, kind, parser.GetErrorLine(), parser.GetErrorReason());
            outcome = Outcome::Refused;
            return S_OK;
        }
        if (!parser.GetApplicationName().IsEmpty())
            mApplicationName = parser.GetApplicationName();
        if (parser.GetMatchCount() == 0)
            continue;
        for (const auto& [tableId, strings] : parser.GetTables()) {
            LStringTable::StringMap& table = mTables[tableId];
            for (const auto& [id, text] : strings)
                table[id] = text;
        }
        break;
    }
    outcome = Outcome::Loaded;
    return S_OK;
}

ZTRESULT LResourceSet::LoadSkin(const WString& location)
{
    const std::string folder = location.ToUTF8();
    const std::string path = CResourceDocument::PathAt(folder, kSkin.mResourceName, kSkin.mFileName);
    Outcome outcome = Outcome::Loaded;
    ZTRESULT result = LoadSkinDocument(path, folder, outcome);
    if (Failed(result))
        return result;
    if (outcome == Outcome::Loaded)
        return S_OK;
    if (IsBuiltIn(folder)) {
        if (outcome == Outcome::Missing)
            Note("The program has no built-in skin.");
        return E_FAIL;
    }
    Note("Using the built-in skin instead of \"" + path + "\".");
    const std::string builtIn =
        CResourceDocument::PathAt(CResourceDocument::kBuiltInLocation, kSkin.mResourceName, kSkin.mFileName);
    result = LoadSkinDocument(builtIn, std::string(CResourceDocument::kBuiltInLocation), outcome);
    if (Failed(result))
        return result;
    if (outcome == Outcome::Loaded)
        return S_FALSE;
    if (outcome == Outcome::Missing)
        Note("The program has no built-in skin.");
    return E_FAIL;
}

ZTRESULT LResourceSet::LoadSkinDocument(const std::string& path, const std::string& folder, Outcome& outcome)
{
    CResourceDocument document;
    const ZTRESULT read = document.Read(path);
    if (read == E_OUTOFMEMORY)
        return read;
    if (read == S_FALSE) {
        if (!IsBuiltIn(folder))
            Report(path, kSkin, 0, "the file does not exist");
        outcome = Outcome::Missing;
        return S_OK;
    }
    if (Failed(read)) {
        Report(path, kSkin, 0, document.GetFailureReason());
        outcome = Outcome::Refused;
        return S_OK;
    }

    // Built-in images ("::Name.png") are looked up among the resources; other image paths are
    // files in the skin's folder, or absolute paths.
    CSkinParser parser([&folder](const WString& image) {
        const std::string imagePath = image.ToUTF8();
        if (CResourceDocument::IsBuiltInPath(imagePath))
            return CBuiltInResources::Find(imagePath).has_value();
        if (imagePath.starts_with('/'))
            return FileExists(imagePath);
        if (IsBuiltIn(folder))
            return false;
        return FileExists(CResourceDocument::PathAt(folder, "", imagePath));
    });
    ZTRESULT parsed = E_FAIL;
    try {
        parsed = parser.Parse(document.GetBytes());
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    } catch (const ExceptionBase& error) {
        Report(path, kSkin, parser.GetErrorLine(), error.GetMessage());
        outcome = Outcome::Refused;
        return S_OK;
    }
    if (parsed == E_OUTOFMEMORY)
        return parsed;
    if (Failed(parsed)) {
        Report(path, kSkin, parser.GetErrorLine(), parser.GetErrorReason());
        outcome = Outcome::Refused;
        return S_OK;
    }
    mSkin = parser.GetDefinitions();
    if (!mSkin->mApplicationName.IsEmpty())
        mApplicationName = mSkin->mApplicationName;
    outcome = Outcome::Loaded;
    return S_OK;
}

RCPtr<LStringTable> LResourceSet::GetStringTable(const WString& tableId) const
{
    const auto found = mTables.find(tableId);
    if (found == mTables.end())
        return nullptr;
    return MakeRC<LStringTable>(found->second);
}

RCPtr<LStringTable> LResourceSet::GetStringTable(const WString& ownerName, const WString& controlName) const
{
    WString tableId = ownerName.IsEmpty() ? mApplicationName : ownerName;
    tableId += L"|";
    tableId += controlName;
    return GetStringTable(tableId);
}

RCPtr<LStringTable> LResourceSet::GetApplicationStringTable() const
{
    return GetStringTable(WString(L"|") + mApplicationName);
}

WString LResourceSet::GetText(const WString& tableId, const WString& stringId, const WString& fallback) const
{
    const auto table = mTables.find(tableId);
    if (table == mTables.end())
        return fallback;
    const auto text = table->second.find(stringId);
    return text == table->second.end() ? fallback : text->second;
}

void LResourceSet::Report(const std::string& path, const DocumentKind& kind, int line, const std::string& reason)
{
    std::string message = "The " + std::string(kind.mDescription) + " \"" + path + "\"";
    // "The skin "/x/Skins.xml", line 42, cannot be used: ..."; without a line, no commas.
    if (line > 0)
        message += ", line " + std::to_string(line) + ",";
    message += " cannot be used: " + reason + ".";
    Note(std::move(message));
}

void LResourceSet::Note(std::string message)
{
    DebugLine("Resources: " + message);
    mLoadMessages.push_back(std::move(message));
}

} // namespace ZT
