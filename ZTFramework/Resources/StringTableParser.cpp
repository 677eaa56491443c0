#include "ZTFramework/Resources/StringTableParser.h"

#include "ZTFramework/Resources/ValueForms.h"

namespace ZT {

namespace {

bool IsBlank(std::string_view text)
{
    return text.find_first_not_of(" \t\r\n") == std::string_view::npos;
}

std::string Quoted(std::string_view text) { return "\"" + std::string(text) + "\""; }

} // namespace

ZTRESULT CStringTableParser::Parse(std::span<const std::uint8_t> document)
{
    mTables.clear();
    mApplicationName = WString();
    mMatchCount = 0;
    mScopes.clear();
    mCurrentTable = nullptr;
    mCurrentStringId = WString();
    mLocaleMatches = false;
    mLocaleText.clear();

    const ZTRESULT result = CXmlDocumentParser::Parse(document);
    if (Failed(result)) {
        mTables.clear();
        mMatchCount = 0;
    }
    return result;
}

const char* CStringTableParser::RequireAttribute(std::string_view element, const Attributes& attributes,
                                                 std::string_view name)
{
    const char* value = attributes.Find(name);
    if (!value || !*value) {
        Fail("element " + Quoted(element) + " needs a non-empty attribute " + Quoted(name));
        return nullptr;
    }
    return value;
}

void CStringTableParser::StartElement(std::string_view name, const Attributes& attributes)
{
    if (mScopes.empty()) {
        // Any root element name is accepted.
        mScopes.push_back(Scope::Root);
        return;
    }
    const Scope parent = mScopes.back();

    if (name == "Application" && parent == Scope::Root) {
        const char* applicationName = RequireAttribute(name, attributes, "Name");
        if (!applicationName)
            return;
        mApplicationName = WString(applicationName);
        mScopes.push_back(Scope::Application);
        return;
    }
    if (name == "StringTable" && (parent == Scope::Root || parent == Scope::Application)) {
        const char* id = RequireAttribute(name, attributes, "ID");
        if (!id)
            return;
        mCurrentTable = &mTables[WString(id)];
        mScopes.push_back(Scope::StringTable);
        return;
    }
    if (name == "String" && parent == Scope::StringTable) {
        const char* id = RequireAttribute(name, attributes, "ID");
        if (!id)
            return;
        mCurrentStringId = WString(id);
        mScopes.push_back(Scope::String);
        return;
    }
    if (name == "Locale" && parent == Scope::String) {
        const char* lcidText = RequireAttribute(name, attributes, "LCID");
        if (!lcidText)
            return;
        const auto lcid = CValueForms::ReadLcid(lcidText);
        if (!lcid) {
            Fail("LCID " + Quoted(lcidText) + " is neither \"0x\" with hexadecimal digits nor a decimal number");
            return;
        }
        mLocaleMatches = *lcid == mLcid;
        if (mLocaleMatches)
            ++mMatchCount;
        mLocaleText.clear();
        mScopes.push_back(Scope::Locale);
        return;
    }
    Fail("element " + Quoted(name) + " is unknown or not allowed here");
}

void CStringTableParser::EndElement(std::string_view)
{
    // Expat checks that end tags match their start tags, so only the scope kind matters here.
    const Scope closing = mScopes.back();
    mScopes.pop_back();
    switch (closing) {
    case Scope::Locale:
        if (mLocaleMatches && mCurrentTable)
            (*mCurrentTable)[mCurrentStringId] = WString(mLocaleText.c_str());
        mLocaleMatches = false;
        mLocaleText.clear();
        return;
    case Scope::String:
        mCurrentStringId = WString();
        return;
    case Scope::StringTable:
        mCurrentTable = nullptr;
        return;
    case Scope::Application:
    case Scope::Root:
        return;
    }
}

void CStringTableParser::CharacterData(std::string_view text)
{
    if (!mScopes.empty() && mScopes.back() == Scope::Locale) {
        if (mLocaleMatches)
            mLocaleText.append(text);
        return;
    }
    if (!IsBlank(text))
        Fail("text " + Quoted(text.substr(0, 40)) + " stands outside a \"Locale\" element");
}

} // namespace ZT
