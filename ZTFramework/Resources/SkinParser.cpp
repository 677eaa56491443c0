#include "ZTFramework/Resources/SkinParser.h"

#include "ZTFramework/Debug/DebugLine.h"
#include "ZTFramework/Errors/Exception.h"
#include "ZTFramework/Resources/ValueForms.h"

#include <algorithm>
#include <array>
#include <set>

namespace ZT {

namespace {

// A fault in the document found by an element handler; StartElement turns it into Fail.
struct SkinFault {
    std::string mReason;
};

std::string Quoted(std::string_view text) { return "\"" + std::string(text) + "\""; }

[[noreturn]] void Refuse(std::string reason) { throw SkinFault{std::move(reason)}; }

std::string Narrow(const WString& text) { return text.ToUTF8(); }

WString RequireText(std::string_view element, const CXmlDocumentParser::Attributes& attributes, std::string_view name)
{
    const char* value = attributes.Find(name);
    if (!value || !*value)
        Refuse("element " + Quoted(element) + " needs a non-empty attribute " + Quoted(name));
    return WString(value);
}

WString OptionalText(const CXmlDocumentParser::Attributes& attributes, std::string_view name)
{
    const char* value = attributes.Find(name);
    return value ? WString(value) : WString();
}

void ReadInteger(const CXmlDocumentParser::Attributes& attributes, std::string_view name,
                 std::optional<std::int32_t>& out)
{
    const char* value = attributes.Find(name);
    if (!value)
        return;
    out = CValueForms::ReadInteger(value);
    if (!out)
        Refuse("attribute " + Quoted(name) + " is " + Quoted(value) + ", not a decimal integer");
}

void ReadReal(const CXmlDocumentParser::Attributes& attributes, std::string_view name, std::optional<double>& out)
{
    const char* value = attributes.Find(name);
    if (!value)
        return;
    out = CValueForms::ReadReal(value);
    if (!out)
        Refuse("attribute " + Quoted(name) + " is " + Quoted(value) + ", not a decimal number");
}

void ReadColour(const CXmlDocumentParser::Attributes& attributes, std::string_view name,
                std::optional<std::uint32_t>& out)
{
    const char* value = attributes.Find(name);
    if (!value)
        return;
    out = CValueForms::ReadColour(value);
    if (!out)
        Refuse("attribute " + Quoted(name) + " is " + Quoted(value) + ", not a colour \"0xAARRGGBB\"");
}

void ReadBoolean(const CXmlDocumentParser::Attributes& attributes, std::string_view name, bool& out)
{
    if (const char* value = attributes.Find(name))
        out = CValueForms::ReadBoolean(value);
}

void ReadBoolean(const CXmlDocumentParser::Attributes& attributes, std::string_view name, std::optional<bool>& out)
{
    if (const char* value = attributes.Find(name))
        out = CValueForms::ReadBoolean(value);
}

// Reads an enumeration attribute whose texts are given with their values.
template <class E, std::size_t N>
void ReadChoice(const CXmlDocumentParser::Attributes& attributes, std::string_view name,
                const std::array<std::pair<std::string_view, E>, N>& choices, std::optional<E>& out)
{
    const char* value = attributes.Find(name);
    if (!value)
        return;
    for (const auto& [text, choice] : choices) {
        if (text == value) {
            out = choice;
            return;
        }
    }
    std::string allowed;
    for (const auto& choice : choices)
        allowed += (allowed.empty() ? "" : ", ") + Quoted(choice.first);
    Refuse("attribute " + Quoted(name) + " is " + Quoted(value) + ", not one of " + allowed);
}

template <class T>
void AddNamed(std::map<WString, RCPtr<T>>& map, const RCPtr<T>& item, std::string_view kind)
{
    if (!map.emplace(item->mName, item).second)
        Refuse("a second " + std::string(kind) + " is named " + Quoted(Narrow(item->mName)));
}

constexpr std::array<std::pair<std::string_view, LColorizer::ColorType>, 3> kColorTypes{{
    {"SolidFill", LColorizer::ColorType::SolidFill},
    {"LinearGradient", LColorizer::ColorType::LinearGradient},
    {"RadialGradient", LColorizer::ColorType::RadialGradient},
}};
constexpr std::array<std::pair<std::string_view, LVisualPartDescriptor::ResizeType>, 3> kResizeTypes{{
    {"Stretch", LVisualPartDescriptor::ResizeType::Stretch},
    {"Tile", LVisualPartDescriptor::ResizeType::Tile},
    {"Center", LVisualPartDescriptor::ResizeType::Center},
}};
constexpr std::array<std::pair<std::string_view, LControlDescriptor::TextOverflow>, 3> kTextOverflows{{
    {"Clip", LControlDescriptor::TextOverflow::Clip},
    {"Expand", LControlDescriptor::TextOverflow::Expand},
    {"Wrap", LControlDescriptor::TextOverflow::Wrap},
}};
// What a "...ToControl" attribute may name besides a sibling control.
constexpr std::array<std::string_view, 6> kRelativeControls{"Parent", "Screen", "Client", "Active Window", "Self",
                                                            "Children"};

constexpr std::array<std::string_view, 8> kColorizerAttributes{
    "Name", "ColorType", "Color", "GradientEndColor", "GradientStartX", "GradientStartY", "GradientEndX",
    "GradientEndY"};
constexpr std::array<std::string_view, 12> kPartAttributes{
    "Name", "Width", "Height", "ResizeType", "ImageFile", "ImageLocX", "ImageLocY", "ColorizerName",
    "ColorizerAlphaMod", "ColorizerMaskFile", "MaskLocX", "MaskLocY"};
constexpr std::array<std::string_view, 5> kClientPartAttributes{"Name", "OffsetLeft", "OffsetTop", "OffsetRight",
                                                                "OffsetBottom"};
constexpr std::array<std::string_view, 7> kNonClientPartAttributes{
    "Name", "OffsetLeft", "OffsetTop", "OffsetRight", "OffsetBottom", "Width", "Height"};
constexpr std::array<std::string_view, 11> kTextPropertyAttributes{
    "TextLeftRel", "TextLeftAbs", "TextRightRel", "TextRightAbs", "TextHAlign", "TextTopRel", "TextTopAbs",
    "TextBottomRel", "TextBottomAbs", "TextVAlign", "TextForegroundPart"};
constexpr std::array<std::string_view, 5> kSkinAttributes{"Name", "LookList", "FontName", "FontSize", "FontStyle"};

// The measures of one layout axis; each is an attribute name after the "X" or "Y".
constexpr std::array<std::string_view, 4> kMeasures{"Position", "Size", "MinSize", "MaxSize"};

const std::vector<std::string_view>& SubControlAttributes()
{
    static const std::vector<std::string> names = [] {
        std::vector<std::string> list{"Name", "Class", "ClipToParent", "Z_Order", "LayoutOrder", "TabStop",
                                      "IsVisible", "TextDecoration", "TextOverflowXType", "TextOverflowYType",
                                      "FontInheritsFromParent", "FontName", "FontSize", "FontSizeIsRelative",
                                      "FontStyle"};
        for (const char axis : {'X', 'Y'}) {
            list.push_back(std::string(1, axis) + "IsDocked");
            list.push_back(std::string(1, axis) + "PlacementAnchor");
            for (const std::string_view measure : kMeasures) {
                for (const char* suffix : {"ToControl", "Rel", "Abs"})
                    list.push_back(std::string(1, axis) + std::string(measure) + suffix);
            }
        }
        return list;
    }();
    static const std::vector<std::string_view> views(names.begin(), names.end());
    return views;
}

bool IsBlank(std::string_view text) { return text.find_first_not_of(" \t\r\n") == std::string_view::npos; }

} // namespace

ZTRESULT CSkinParser::Parse(std::span<const std::uint8_t> document)
{
    mDefinitions = MakeRC<LSkinDefinitions>();
    mResult = nullptr;
    mHasApplication = false;
    mScopes.clear();
    mCurrentLook = nullptr;
    mCurrentLookList = nullptr;
    mCurrentLookListSize = -1;
    mOpenSkins.clear();
    mOpenControls.clear();
    mCreateParamText.clear();
    mWarnings.clear();

    ZTRESULT result = S_OK;
    try {
        result = CXmlDocumentParser::Parse(document);
    } catch (...) {
        mDefinitions = nullptr;
        throw;
    }
    if (Succeeded(result) && !CheckReferences())
        result = E_FAIL;
    if (Succeeded(result))
        mResult = mDefinitions;
    mDefinitions = nullptr;
    mOpenSkins.clear();
    mOpenControls.clear();
    mCurrentLook = nullptr;
    mCurrentLookList = nullptr;
    return result;
}

void CSkinParser::StartElement(std::string_view name, const Attributes& attributes)
{
    try {
        OpenElement(name, attributes);
    } catch (const SkinFault& fault) {
        Fail(fault.mReason);
    }
}

void CSkinParser::OpenElement(std::string_view name, const Attributes& attributes)
{
    if (mScopes.empty()) {
        if (name != "Corvane_Skin_Definitions")
            Refuse("the root element is " + Quoted(name) + ", not \"Corvane_Skin_Definitions\"");
        IgnoreUnknownAttributes(name, attributes, {});
        Push(Scope::Root);
        return;
    }
    struct Section {
        std::string_view mName;
        Scope mScope;
    };
    static constexpr Section kSections[] = {{"Colorizers", Scope::Colorizers},
                                            {"Parts", Scope::Parts},
                                            {"Looks", Scope::Looks},
                                            {"LookLists", Scope::LookLists},
                                            {"Skins", Scope::Skins}};

    switch (mScopes.back()) {
    case Scope::Root:
        if (name == "Application")
            return StartApplication(attributes);
        break;
    case Scope::Application:
        for (const Section& section : kSections) {
            if (name == section.mName) {
                IgnoreUnknownAttributes(name, attributes, {});
                return Push(section.mScope);
            }
        }
        break;
    case Scope::Colorizers:
        if (name == "Colorizer")
            return StartColorizer(attributes);
        break;
    case Scope::Parts:
        if (name == "Part")
            return StartPart(attributes);
        break;
    case Scope::Looks:
        if (name == "Look")
            return StartLook(attributes);
        break;
    case Scope::Look:
        if (name == "ClientPart")
            return StartClientPart(attributes);
        if (name == "NonClientParts")
            return StartNonClientParts(attributes);
        if (name == "TextProperties")
            return StartTextProperties(attributes);
        break;
    case Scope::NonClientParts:
        if (name == "NonClientPart")
            return StartNonClientPart(attributes);
        break;
    case Scope::LookLists:
        if (name == "LookList")
            return StartLookList(attributes);
        break;
    case Scope::LookList:
        if (name == "Look")
            return StartLookListEntry(attributes);
        break;
    case Scope::Skins:
        if (name == "Skin")
            return StartSkin(attributes, true);
        break;
    case Scope::Skin:
        if (name == "FontLocale")
            return StartFontLocale(attributes);
        if (name == "SubControl")
            return StartSubControl(attributes);
        break;
    case Scope::FontLocale:
        if (name == "FontXLat")
            return StartFontXLat(attributes);
        break;
    case Scope::SubControl:
        if (name == "Skin")
            return StartSkin(attributes, false);
        if (name == "CreateParamList")
            return Push(Scope::CreateParamList);
        break;
    case Scope::CreateParamList:
        if (name == "CreateParam")
            return StartCreateParam(attributes);
        break;
    case Scope::Colorizer:
    case Scope::Part:
    case Scope::ClientPart:
    case Scope::NonClientPart:
    case Scope::TextProperties:
    case Scope::LookListEntry:
    case Scope::FontXLat:
    case Scope::CreateParam:
        break;
    case Scope::Skipped:
        // Inside an element already reported: its contents go with it, unreported.
        return Push(Scope::Skipped);
    }
    Warn(GetCurrentLine(), "element " + Quoted(name) + " is unknown or not allowed here; skipped with its contents");
    Push(Scope::Skipped);
}

void CSkinParser::IgnoreUnknownAttributes(std::string_view element, const Attributes& attributes,
                                          std::span<const std::string_view> known)
{
    attributes.ForEach([&](std::string_view name, std::string_view) {
        if (std::find(known.begin(), known.end(), name) == known.end())
            Warn(GetCurrentLine(), "element " + Quoted(element) + " has an unknown attribute " + Quoted(name) + "; ignored");
    });
}

void CSkinParser::Warn(int line, const std::string& problem)
{
    std::string text = line > 0 ? "line " + std::to_string(line) + ": " + problem : problem;
    CDebugLine() << "Skin: " << text;
    mWarnings.push_back(std::move(text));
}

void CSkinParser::StartApplication(const Attributes& attributes)
{
    if (mHasApplication)
        Refuse("the document has a second \"Application\" element");
    IgnoreUnknownAttributes("Application", attributes, std::array<std::string_view, 1>{"Name"});
    mDefinitions->mApplicationName = RequireText("Application", attributes, "Name");
    mHasApplication = true;
    Push(Scope::Application);
}

void CSkinParser::StartColorizer(const Attributes& attributes)
{
    IgnoreUnknownAttributes("Colorizer", attributes, kColorizerAttributes);
    auto colorizer = MakeRC<LColorizer>();
    colorizer->mLine = GetCurrentLine();
    colorizer->mName = RequireText("Colorizer", attributes, "Name");
    std::optional<LColorizer::ColorType> type;
    ReadChoice(attributes, "ColorType", kColorTypes, type);
    colorizer->mColorType = type.value_or(LColorizer::ColorType::SolidFill);
    std::optional<std::uint32_t> colour;
    ReadColour(attributes, "Color", colour);
    if (!colour)
        Refuse("element \"Colorizer\" needs an attribute \"Color\"");
    colorizer->mColor = *colour;
    ReadColour(attributes, "GradientEndColor", colorizer->mGradientEndColor);
    ReadReal(attributes, "GradientStartX", colorizer->mGradientStartX);
    ReadReal(attributes, "GradientStartY", colorizer->mGradientStartY);
    ReadReal(attributes, "GradientEndX", colorizer->mGradientEndX);
    ReadReal(attributes, "GradientEndY", colorizer->mGradientEndY);
    AddNamed(mDefinitions->mColorizers, colorizer, "colorizer");
    Push(Scope::Colorizer);
}

void CSkinParser::StartPart(const Attributes& attributes)
{
    IgnoreUnknownAttributes("Part", attributes, kPartAttributes);
    auto part = MakeRC<LVisualPartDescriptor>();
    part->mLine = GetCurrentLine();
    part->mName = RequireText("Part", attributes, "Name");
    ReadInteger(attributes, "Width", part->mWidth);
    ReadInteger(attributes, "Height", part->mHeight);
    std::optional<LVisualPartDescriptor::ResizeType> resize;
    ReadChoice(attributes, "ResizeType", kResizeTypes, resize);
    part->mResizeType = resize.value_or(LVisualPartDescriptor::ResizeType::Stretch);
    part->mImageFile = OptionalText(attributes, "ImageFile");
    ReadInteger(attributes, "ImageLocX", part->mImageLocX);
    ReadInteger(attributes, "ImageLocY", part->mImageLocY);
    part->mColorizerName = OptionalText(attributes, "ColorizerName");
    ReadReal(attributes, "ColorizerAlphaMod", part->mColorizerAlphaMod);
    part->mColorizerMaskFile = OptionalText(attributes, "ColorizerMaskFile");
    ReadInteger(attributes, "MaskLocX", part->mMaskLocX);
    ReadInteger(attributes, "MaskLocY", part->mMaskLocY);
    if ((part->mWidth && *part->mWidth < 0) || (part->mHeight && *part->mHeight < 0))
        Refuse("part " + Quoted(Narrow(part->mName)) + " has a negative size");
    AddNamed(mDefinitions->mParts, part, "part");
    Push(Scope::Part);
}

void CSkinParser::StartLook(const Attributes& attributes)
{
    IgnoreUnknownAttributes("Look", attributes, std::array<std::string_view, 1>{"Name"});
    auto look = MakeRC<LLookDescriptor>();
    look->mLine = GetCurrentLine();
    look->mName = RequireText("Look", attributes, "Name");
    AddNamed(mDefinitions->mLooks, look, "look");
    mCurrentLook = look;
    Push(Scope::Look);
}

void CSkinParser::StartClientPart(const Attributes& attributes)
{
    IgnoreUnknownAttributes("ClientPart", attributes, kClientPartAttributes);
    if (mCurrentLook->mClientPart)
        Refuse("look " + Quoted(Narrow(mCurrentLook->mName)) + " has a second \"ClientPart\"");
    auto part = MakeRC<LDockedPart>();
    part->mLine = GetCurrentLine();
    part->mPartName = RequireText("ClientPart", attributes, "Name");
    ReadInteger(attributes, "OffsetLeft", part->mOffsetLeft);
    ReadInteger(attributes, "OffsetTop", part->mOffsetTop);
    ReadInteger(attributes, "OffsetRight", part->mOffsetRight);
    ReadInteger(attributes, "OffsetBottom", part->mOffsetBottom);
    mCurrentLook->mClientPart = part;
    Push(Scope::ClientPart);
}

void CSkinParser::StartNonClientParts(const Attributes& attributes)
{
    IgnoreUnknownAttributes("NonClientParts", attributes, std::array<std::string_view, 1>{"Name"});
    mCurrentLook->mNonClientPartsName = OptionalText(attributes, "Name");
    Push(Scope::NonClientParts);
}

void CSkinParser::StartNonClientPart(const Attributes& attributes)
{
    IgnoreUnknownAttributes("NonClientPart", attributes, kNonClientPartAttributes);
    auto part = MakeRC<LDockedPart>();
    part->mLine = GetCurrentLine();
    part->mPartName = RequireText("NonClientPart", attributes, "Name");
    ReadInteger(attributes, "OffsetLeft", part->mOffsetLeft);
    ReadInteger(attributes, "OffsetTop", part->mOffsetTop);
    ReadInteger(attributes, "OffsetRight", part->mOffsetRight);
    ReadInteger(attributes, "OffsetBottom", part->mOffsetBottom);
    ReadInteger(attributes, "Width", part->mWidth);
    ReadInteger(attributes, "Height", part->mHeight);
    mCurrentLook->mNonClientParts.Append(part);
    Push(Scope::NonClientPart);
}

void CSkinParser::StartTextProperties(const Attributes& attributes)
{
    IgnoreUnknownAttributes("TextProperties", attributes, kTextPropertyAttributes);
    if (mCurrentLook->mTextProperties)
        Refuse("look " + Quoted(Narrow(mCurrentLook->mName)) + " has a second \"TextProperties\"");
    LLookDescriptor::TextProperties text;
    text.mLine = GetCurrentLine();
    ReadReal(attributes, "TextLeftRel", text.mLeftRel);
    ReadInteger(attributes, "TextLeftAbs", text.mLeftAbs);
    ReadReal(attributes, "TextRightRel", text.mRightRel);
    ReadInteger(attributes, "TextRightAbs", text.mRightAbs);
    ReadReal(attributes, "TextHAlign", text.mHAlign);
    ReadReal(attributes, "TextTopRel", text.mTopRel);
    ReadInteger(attributes, "TextTopAbs", text.mTopAbs);
    ReadReal(attributes, "TextBottomRel", text.mBottomRel);
    ReadInteger(attributes, "TextBottomAbs", text.mBottomAbs);
    ReadReal(attributes, "TextVAlign", text.mVAlign);
    text.mForegroundPart = OptionalText(attributes, "TextForegroundPart");
    mCurrentLook->mTextProperties = std::move(text);
    Push(Scope::TextProperties);
}

void CSkinParser::StartLookList(const Attributes& attributes)
{
    IgnoreUnknownAttributes("LookList", attributes, std::array<std::string_view, 2>{"Name", "NumLooks"});
    auto list = MakeRC<LLookListDescriptor>();
    list->mLine = GetCurrentLine();
    list->mName = RequireText("LookList", attributes, "Name");
    std::optional<std::int32_t> count;
    ReadInteger(attributes, "NumLooks", count);
    if (count && (*count < 0 || *count > kMaxLooksPerList))
        Refuse("\"NumLooks\" is " + std::to_string(*count) + ", outside 0 to " + std::to_string(kMaxLooksPerList));
    mCurrentLookListSize = count.value_or(-1);
    list->mLookNames.SetSize(static_cast<std::size_t>(count.value_or(0)));
    AddNamed(mDefinitions->mLookLists, list, "look list");
    mCurrentLookList = list;
    Push(Scope::LookList);
}

void CSkinParser::StartLookListEntry(const Attributes& attributes)
{
    IgnoreUnknownAttributes("Look", attributes, std::array<std::string_view, 2>{"Name", "Index"});
    const WString lookName = RequireText("Look", attributes, "Name");
    std::optional<std::int32_t> index;
    ReadInteger(attributes, "Index", index);
    if (!index)
        Refuse("a look list's \"Look\" needs an attribute \"Index\"");
    const std::int32_t limit = mCurrentLookListSize >= 0 ? mCurrentLookListSize : kMaxLooksPerList;
    if (*index < 0 || *index >= limit)
        Refuse("look index " + std::to_string(*index) + " is outside 0 to " + std::to_string(limit - 1));
    Array<WString>& names = mCurrentLookList->mLookNames;
    const auto slot = static_cast<std::size_t>(*index);
    if (slot >= names.GetCount())
        names.SetSize(slot + 1);
    if (!names[slot].IsEmpty())
        Refuse("look index " + std::to_string(*index) + " is given twice");
    names[slot] = lookName;
    Push(Scope::LookListEntry);
}

void CSkinParser::StartSkin(const Attributes& attributes, bool outermost)
{
    IgnoreUnknownAttributes("Skin", attributes, kSkinAttributes);
    auto skin = MakeRC<LSkinDescriptor>();
    skin->mLine = GetCurrentLine();
    skin->mName = OptionalText(attributes, "Name");
    skin->mLookListName = OptionalText(attributes, "LookList");
    skin->mFontName = OptionalText(attributes, "FontName");
    ReadReal(attributes, "FontSize", skin->mFontSize);
    ReadInteger(attributes, "FontStyle", skin->mFontStyle);
    if (outermost) {
        mDefinitions->mSkins.Append(skin);
    } else {
        LControlDescriptor& control = *mOpenControls.back();
        if (control.mSkin)
            Refuse("control " + Quoted(Narrow(control.mName)) + " has a second \"Skin\"");
        control.mSkin = skin;
    }
    mOpenSkins.push_back(skin);
    Push(Scope::Skin);
}

void CSkinParser::StartFontLocale(const Attributes& attributes)
{
    IgnoreUnknownAttributes("FontLocale", attributes, std::array<std::string_view, 1>{"LCID"});
    const WString text = RequireText("FontLocale", attributes, "LCID");
    const auto lcid = CValueForms::ReadLcid(text.ToUTF8());
    if (!lcid)
        Refuse("LCID " + Quoted(text.ToUTF8()) + " is neither \"0x\" with hexadecimal digits nor a decimal number");
    LSkinDescriptor::FontLocale locale;
    locale.mLcid = *lcid;
    mOpenSkins.back()->mFontLocales.push_back(std::move(locale));
    Push(Scope::FontLocale);
}

void CSkinParser::StartFontXLat(const Attributes& attributes)
{
    IgnoreUnknownAttributes("FontXLat", attributes, std::array<std::string_view, 2>{"Name", "XLat"});
    WString from = RequireText("FontXLat", attributes, "Name");
    WString to = RequireText("FontXLat", attributes, "XLat");
    mOpenSkins.back()->mFontLocales.back().mTranslations.emplace_back(std::move(from), std::move(to));
    Push(Scope::FontXLat);
}

void CSkinParser::StartSubControl(const Attributes& attributes)
{
    const char* className = attributes.Find("Class");
    const char* name = attributes.Find("Name");
    if (!className || !*className || !name || !*name)
        ZT_THROW(Runtime, "Bad Subcontrol Element", "ZT::LControlFactory::XMLStartElement");
    IgnoreUnknownAttributes("SubControl", attributes, SubControlAttributes());

    auto control = MakeRC<LControlDescriptor>();
    control->mLine = GetCurrentLine();
    control->mName = WString(name);
    control->mClassName = WString(className);
    ReadBoolean(attributes, "ClipToParent", control->mClipToParent);
    ReadBoolean(attributes, "IsVisible", control->mIsVisible);
    ReadInteger(attributes, "Z_Order", control->mZOrder);
    ReadInteger(attributes, "LayoutOrder", control->mLayoutOrder);
    ReadInteger(attributes, "TabStop", control->mTabStop);
    control->mTextDecoration = OptionalText(attributes, "TextDecoration");
    ReadChoice(attributes, "TextOverflowXType", kTextOverflows, control->mTextOverflowX);
    ReadChoice(attributes, "TextOverflowYType", kTextOverflows, control->mTextOverflowY);
    ReadBoolean(attributes, "FontInheritsFromParent", control->mFontInheritsFromParent);
    control->mFontName = OptionalText(attributes, "FontName");
    ReadReal(attributes, "FontSize", control->mFontSize);
    ReadBoolean(attributes, "FontSizeIsRelative", control->mFontSizeIsRelative);
    ReadInteger(attributes, "FontStyle", control->mFontStyle);
    ReadAxis(attributes, 'X', control->mLayout->mX);
    ReadAxis(attributes, 'Y', control->mLayout->mY);

    LSkinDescriptor& parentSkin = *mOpenSkins.back();
    if (parentSkin.FindChild(control->mName))
        Refuse("a second control under one parent is named " + Quoted(name));
    parentSkin.mChildren.Append(control);
    mOpenControls.push_back(control);
    Push(Scope::SubControl);
}

void CSkinParser::ReadAxis(const Attributes& attributes, char axis, LLayoutDescriptor::Axis& layout)
{
    const std::string prefix(1, axis);
    LLayoutDescriptor::Measure* measures[] = {&layout.mPosition, &layout.mSize, &layout.mMinSize, &layout.mMaxSize};
    for (std::size_t i = 0; i < kMeasures.size(); ++i) {
        const std::string base = prefix + std::string(kMeasures[i]);
        LLayoutDescriptor::Measure& measure = *measures[i];
        const std::string toControl = base + "ToControl";
        if (const char* target = attributes.Find(toControl)) {
            if (!*target)
                Refuse("attribute " + Quoted(toControl) + " is empty");
            measure.mToControl = WString(target);
        }
        ReadReal(attributes, base + "Rel", measure.mRel);
        ReadInteger(attributes, base + "Abs", measure.mAbs);
    }
    ReadBoolean(attributes, prefix + "IsDocked", layout.mIsDocked);
    ReadReal(attributes, prefix + "PlacementAnchor", layout.mPlacementAnchor);
}

void CSkinParser::StartCreateParam(const Attributes& attributes)
{
    LControlDescriptor::CreateParam param;
    attributes.ForEach([&](std::string_view name, std::string_view value) {
        param.mAttributes.emplace_back(WString(std::string(name).c_str()), WString(std::string(value).c_str()));
    });
    mOpenControls.back()->mCreateParams.push_back(std::move(param));
    mCreateParamText.clear();
    Push(Scope::CreateParam);
}

void CSkinParser::EndElement(std::string_view)
{
    const Scope closing = mScopes.back();
    mScopes.pop_back();
    switch (closing) {
    case Scope::Skin:
        mOpenSkins.pop_back();
        return;
    case Scope::SubControl:
        mOpenControls.pop_back();
        return;
    case Scope::Look:
        mCurrentLook = nullptr;
        return;
    case Scope::LookList:
        mCurrentLookList = nullptr;
        mCurrentLookListSize = -1;
        return;
    case Scope::CreateParam:
        mOpenControls.back()->mCreateParams.back().mText = WString(mCreateParamText.c_str());
        mCreateParamText.clear();
        return;
    case Scope::Root:
    case Scope::Application:
    case Scope::Colorizers:
    case Scope::Colorizer:
    case Scope::Parts:
    case Scope::Part:
    case Scope::Looks:
    case Scope::ClientPart:
    case Scope::NonClientParts:
    case Scope::NonClientPart:
    case Scope::TextProperties:
    case Scope::LookLists:
    case Scope::LookListEntry:
    case Scope::Skins:
    case Scope::FontLocale:
    case Scope::FontXLat:
    case Scope::CreateParamList:
    case Scope::Skipped:
        return;
    }
}

void CSkinParser::CharacterData(std::string_view text)
{
    if (!mScopes.empty() && mScopes.back() == Scope::Skipped)
        return;
    if (!mScopes.empty() && mScopes.back() == Scope::CreateParam) {
        mCreateParamText.append(text);
        return;
    }
    if (!IsBlank(text))
        Fail("text " + Quoted(text.substr(0, 40)) + " stands where the skin allows only elements");
}

bool CSkinParser::CheckReferences()
{
    LSkinDefinitions& definitions = *mDefinitions;
    if (!mHasApplication) {
        SetError(0, "the document has no \"Application\" element");
        return false;
    }
    if (definitions.mSkins.IsEmpty()) {
        SetError(0, "the document defines no \"Skin\"");
        return false;
    }
    for (const auto& [name, part] : definitions.mParts) {
        const std::string user = "part " + Quoted(Narrow(name));
        if (!part->mColorizerName.IsEmpty() && !definitions.FindColorizer(part->mColorizerName)) {
            SetError(part->mLine, user + " names the colorizer " + Quoted(Narrow(part->mColorizerName)) +
                                      ", which the document does not define");
            return false;
        }
        if (!CheckImage(part->mImageFile, part->mLine, user) || !CheckImage(part->mColorizerMaskFile, part->mLine, user))
            return false;
    }
    for (const auto& [name, look] : definitions.mLooks) {
        const std::string user = "look " + Quoted(Narrow(name));
        if (look->mClientPart && !CheckPartReference(look->mClientPart->mPartName, look->mClientPart->mLine, user))
            return false;
        for (LDockedPart* part : look->mNonClientParts) {
            if (!CheckPartReference(part->mPartName, part->mLine, user))
                return false;
        }
        if (look->mTextProperties && !look->mTextProperties->mForegroundPart.IsEmpty() &&
            !CheckPartReference(look->mTextProperties->mForegroundPart, look->mTextProperties->mLine, user))
            return false;
    }
    for (const auto& [name, list] : definitions.mLookLists) {
        for (const WString& lookName : list->mLookNames) {
            if (!lookName.IsEmpty() && !definitions.FindLook(lookName)) {
                SetError(list->mLine, "look list " + Quoted(Narrow(name)) + " names the look " +
                                          Quoted(Narrow(lookName)) + ", which the document does not define");
                return false;
            }
        }
    }
    for (LSkinDescriptor* skin : definitions.mSkins) {
        if (!CheckSkin(*skin))
            return false;
    }
    return true;
}

bool CSkinParser::CheckSkin(const LSkinDescriptor& skin)
{
    if (!skin.mLookListName.IsEmpty() && !mDefinitions->FindLookList(skin.mLookListName)) {
        SetError(skin.mLine, "skin " + Quoted(Narrow(skin.mName)) + " names the look list " +
                                 Quoted(Narrow(skin.mLookListName)) + ", which the document does not define");
        return false;
    }
    for (LControlDescriptor* control : skin.mChildren) {
        const LLayoutDescriptor::Axis* axes[] = {&control->mLayout->mX, &control->mLayout->mY};
        for (const LLayoutDescriptor::Axis* axis : axes) {
            for (const LLayoutDescriptor::Measure* measure :
                 {&axis->mPosition, &axis->mSize, &axis->mMinSize, &axis->mMaxSize}) {
                const WString& target = measure->mToControl;
                if (target.IsEmpty())
                    continue;
                const std::string text = Narrow(target);
                if (std::find(kRelativeControls.begin(), kRelativeControls.end(), text) != kRelativeControls.end())
                    continue;
                if (skin.FindChild(target))
                    continue;
                // The layout measures such a control against its parent; the skin stays usable.
                Warn(control->mLine, "control " + Quoted(Narrow(control->mName)) + " is placed relative to " +
                                         Quoted(text) + ", which is neither a sibling nor one of \"Parent\", "
                                         "\"Screen\", \"Client\", \"Active Window\", \"Self\", \"Children\"");
            }
        }
        if (control->mSkin && !CheckSkin(*control->mSkin))
            return false;
    }
    return true;
}

bool CSkinParser::CheckPartReference(const WString& partName, int line, std::string_view user)
{
    if (mDefinitions->FindPart(partName))
        return true;
    SetError(line, std::string(user) + " names the part " + Quoted(Narrow(partName)) +
                       ", which the document does not define");
    return false;
}

bool CSkinParser::CheckImage(const WString& path, int line, std::string_view user)
{
    if (path.IsEmpty() || !mImageExists || mImageExists(path))
        return true;
    SetError(line, std::string(user) + " names the image " + Quoted(Narrow(path)) + ", which does not exist");
    return false;
}

} // namespace ZT
