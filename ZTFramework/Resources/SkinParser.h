#pragma once
// Reads a skin document into LSkinDefinitions.
//
// The document: root "Corvane_Skin_Definitions", one "Application" (attribute "Name") holding
// the sections "Colorizers", "Parts", "Looks", "LookLists" and "Skins" (any order, each may
// repeat). Skins come from skin authors, often made for a newer toolkit, so an element or an
// attribute the toolkit does not read is named on the debug output ("Skin: line N: ...") and
// skipped, an element with everything inside it; so is a "...ToControl" that names no sibling
// (the layout then measures against the parent). What the toolkit reads must be sound: every
// value is checked against its form (colour, integer, fraction, enumeration), names are unique,
// and after the whole document is read every other reference is resolved (a part's colorizer
// and images, a look's parts, a look list's looks, a skin's look list). Such a fault stops the
// parse with the line and a reason; the definitions are handed out only when the whole document
// is sound.
//
// A "SubControl" without "Class" or "Name" stops the parse with the runtime error
// "Runtime Error : Bad Subcontrol Element : ZT::LControlFactory::XMLStartElement : ...", which
// Parse rethrows (the factory turns it into a load message and falls back).
//
// Not guarded: one parser is used by one thread at a time.

#include "ZTFramework/ObjectBase/RCPtr.h"
#include "ZTFramework/Resources/SkinDefinitions.h"
#include "ZTFramework/Resources/XmlDocumentParser.h"
#include "ZTFramework/Utilities/Storage/StringT.h"

#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace ZT {

class CSkinParser : private CXmlDocumentParser {
public:
    // Tells whether an image path that a part names ("ImageFile", "ColorizerMaskFile") exists.
    // Without one, image paths are not checked.
    using ImageCheck = std::function<bool(const WString& imagePath)>;

    static constexpr std::int32_t kMaxLooksPerList = 256;

    explicit CSkinParser(ImageCheck imageExists = {}) : mImageExists(std::move(imageExists)) {}

    // S_OK with GetDefinitions set, or E_FAIL with GetErrorLine and GetErrorReason, or
    // E_OUTOFMEMORY. Throws the "Bad Subcontrol Element" runtime error described above.
    [[nodiscard]] ZTRESULT Parse(std::span<const std::uint8_t> document);

    // What the document defines; null unless the last Parse succeeded.
    [[nodiscard]] RCPtr<LSkinDefinitions> GetDefinitions() const { return mResult; }

    // What the last Parse skipped, one text per problem ("line 31: element ... ; ignored"), in
    // document order; each was also written to the debug output.
    [[nodiscard]] const std::vector<std::string>& GetWarnings() const noexcept { return mWarnings; }

    using CXmlDocumentParser::GetErrorLine;
    using CXmlDocumentParser::GetErrorReason;

private:
    enum class Scope {
        Root, Application, Colorizers, Colorizer, Parts, Part, Looks, Look, ClientPart, NonClientParts,
        NonClientPart, TextProperties, LookLists, LookList, LookListEntry, Skins, Skin, FontLocale, FontXLat,
        SubControl, CreateParamList, CreateParam,
        Skipped   // an unknown element or anything inside one
    };
    void StartElement(std::string_view name, const Attributes& attributes) override;
    void EndElement(std::string_view name) override;
    void CharacterData(std::string_view text) override;

    void OpenElement(std::string_view name, const Attributes& attributes);
    void StartApplication(const Attributes& attributes);
    void StartColorizer(const Attributes& attributes);
    void StartPart(const Attributes& attributes);
    void StartLook(const Attributes& attributes);
    void StartClientPart(const Attributes& attributes);
    void StartNonClientParts(const Attributes& attributes);
    void StartNonClientPart(const Attributes& attributes);
    void StartTextProperties(const Attributes& attributes);
    void StartLookList(const Attributes& attributes);
    void StartLookListEntry(const Attributes& attributes);
    void StartSkin(const Attributes& attributes, bool outermost);
    void StartFontLocale(const Attributes& attributes);
    void StartFontXLat(const Attributes& attributes);
    void StartSubControl(const Attributes& attributes);
    void StartCreateParam(const Attributes& attributes);
    void ReadAxis(const Attributes& attributes, char axis, LLayoutDescriptor::Axis& layout);
    void Push(Scope scope) { mScopes.push_back(scope); }
    void IgnoreUnknownAttributes(std::string_view element, const Attributes& attributes,
                                 std::span<const std::string_view> known);
    void Warn(int line, const std::string& problem);

    // Post-parse checks; each sets the error and returns false on the first fault.
    [[nodiscard]] bool CheckReferences();
    [[nodiscard]] bool CheckSkin(const LSkinDescriptor& skin);
    [[nodiscard]] bool CheckPartReference(const WString& partName, int line, std::string_view user);
    [[nodiscard]] bool CheckImage(const WString& path, int line, std::string_view user);

    ImageCheck mImageExists;
    RCPtr<LSkinDefinitions> mDefinitions;   // being filled
    RCPtr<LSkinDefinitions> mResult;        // handed out
    bool mHasApplication = false;

    std::vector<Scope> mScopes;
    RCPtr<LLookDescriptor> mCurrentLook;
    RCPtr<LLookListDescriptor> mCurrentLookList;
    std::int32_t mCurrentLookListSize = -1;   // "NumLooks", or -1 when the list does not give it
    std::vector<RCPtr<LSkinDescriptor>> mOpenSkins;
    std::vector<RCPtr<LControlDescriptor>> mOpenControls;
    std::string mCreateParamText;
    std::vector<std::string> mWarnings;
};

} // namespace ZT
