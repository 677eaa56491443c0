#include "ZTFramework/Settings/PropertyListReader.h"

#include "ZTFramework/Settings/KeyPath.h"

#include <expat.h>

#include <algorithm>
#include <charconv>
#include <climits>
#include <new>
#include <cstdint>
#include <optional>

namespace ZT {

namespace {

enum class ElementKind {
    Plist,
    Dictionary,
    Array,
    Key,
    String,
    Data,
    Integer,
    Real,
    True,
    False,
    Unknown,
    // Inside a key or scalar value, where no element belongs; its whole subtree is dropped.
    Ignored,
};

const char* ElementText(ElementKind kind)
{
    switch (kind) {
    case ElementKind::Plist:
        return "<plist>";
    case ElementKind::Dictionary:
        return "<dict>";
    case ElementKind::Array:
        return "<array>";
    case ElementKind::Key:
        return "<key>";
    case ElementKind::String:
        return "<string>";
    case ElementKind::Data:
        return "<data>";
    case ElementKind::Integer:
        return "<integer>";
    case ElementKind::Real:
        return "<real>";
    case ElementKind::True:
        return "<true/>";
    case ElementKind::False:
        return "<false/>";
    case ElementKind::Unknown:
        return "an unknown element";
    case ElementKind::Ignored:
        return "an ignored element";
    }
    return "?";
}

char LowerAscii(char c) noexcept
{
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

bool EqualsNoCase(std::string_view a, std::string_view b) noexcept
{
    return a.size() == b.size() &&
           std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) { return LowerAscii(x) == LowerAscii(y); });
}

ElementKind Classify(std::string_view name)
{
    struct Entry {
        std::string_view mName;
        ElementKind mKind;
    };
    static constexpr Entry kElements[] = {
        {"plist", ElementKind::Plist},   {"dict", ElementKind::Dictionary}, {"array", ElementKind::Array},
        {"key", ElementKind::Key},       {"string", ElementKind::String},   {"data", ElementKind::Data},
        {"integer", ElementKind::Integer}, {"real", ElementKind::Real},     {"true", ElementKind::True},
        {"false", ElementKind::False},
    };
    for (const Entry& entry : kElements) {
        if (EqualsNoCase(entry.mName, name))
            return entry.mKind;
    }
    return ElementKind::Unknown;
}

bool IsXmlSpace(char c) noexcept
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\r';
}

std::string_view TrimXmlSpace(std::string_view text) noexcept
{
    while (!text.empty() && IsXmlSpace(text.front()))
        text.remove_prefix(1);
    while (!text.empty() && IsXmlSpace(text.back()))
        text.remove_suffix(1);
    return text;
}

bool IsBlank(std::string_view text) noexcept
{
    return TrimXmlSpace(text).empty();
}

// The text as a message shows it: quoted, cut after 40 bytes.
std::string Quoted(std::string_view text)
{
    constexpr std::size_t kShown = 40;
    std::string out = "\"";
    out.append(text.substr(0, kShown));
    if (text.size() > kShown)
        out += "...";
    out += '"';
    return out;
}

enum class NumberForm { Valid, Invalid, OutOfRange };

// A C integer literal as strtol reads it with base 0: optional sign, then 0x and hexadecimal
// digits, 0 and octal digits, or decimal digits; reading stops at the first character that does
// not fit. Blanks around the number are allowed. Values beyond 32 bits are clamped.
NumberForm ParseInteger(std::string_view text, std::int32_t& value)
{
    text = TrimXmlSpace(text);
    std::size_t i = 0;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
        negative = text[i] == '-';
        ++i;
    }
    const auto digitValue = [](char c) -> int {
        if (c >= '0' && c <= '9')
            return c - '0';
        if (c >= 'a' && c <= 'f')
            return c - 'a' + 10;
        if (c >= 'A' && c <= 'F')
            return c - 'A' + 10;
        return 99;
    };
    int base = 10;
    if (i + 2 < text.size() && text[i] == '0' && (text[i + 1] == 'x' || text[i + 1] == 'X') &&
        digitValue(text[i + 2]) < 16) {
        base = 16;
        i += 2;
    } else if (i < text.size() && text[i] == '0') {
        base = 8;
    }
    constexpr std::int64_t kSaturation = std::int64_t{1} << 40;
    std::int64_t magnitude = 0;
    std::size_t digits = 0;
    for (; i < text.size() && digitValue(text[i]) < base; ++i, ++digits)
        magnitude = std::min(magnitude * base + digitValue(text[i]), kSaturation);

    const std::int64_t wide = negative ? -magnitude : magnitude;
    value = static_cast<std::int32_t>(std::clamp<std::int64_t>(wide, INT32_MIN, INT32_MAX));
    if (digits == 0 || i != text.size())
        return NumberForm::Invalid;
    return wide == value ? NumberForm::Valid : NumberForm::OutOfRange;
}

// A decimal float ("2.5", "-1e3", "inf", "nan"), read the same whatever the process's locale.
NumberForm ParseReal(std::string_view text, float& value)
{
    text = TrimXmlSpace(text);
    value = 0.0f;
    std::string_view number = text;
    if (number.size() > 1 && number.front() == '+' && number[1] != '-' && number[1] != '+')
        number.remove_prefix(1);
    float parsed = 0.0f;
    const auto [end, error] = std::from_chars(number.data(), number.data() + number.size(), parsed);
    if (error == std::errc::result_out_of_range)
        return NumberForm::OutOfRange;
    if (error != std::errc())
        return NumberForm::Invalid;
    value = parsed;
    return end == number.data() + number.size() ? NumberForm::Valid : NumberForm::Invalid;
}

class DocumentBuilder {
public:
    explicit DocumentBuilder(CPropertyListReader::Result& result) : mResult(result) {}

    void Parse(std::string_view bytes);

private:
    struct Element {
        ElementKind mKind = ElementKind::Unknown;
        XNode* mNode = nullptr; // dictionaries, arrays and scalar values
        std::string mText;      // keys and scalar values
        bool mReportedText = false;
    };

    static void XMLCALL OnStart(void* self, const XML_Char* name, const XML_Char** attributes)
    {
        static_cast<DocumentBuilder*>(self)->Start(name, attributes);
    }
    static void XMLCALL OnEnd(void* self, const XML_Char*) { static_cast<DocumentBuilder*>(self)->End(); }
    static void XMLCALL OnText(void* self, const XML_Char* text, int length)
    {
        static_cast<DocumentBuilder*>(self)->Text(std::string_view(text, static_cast<std::size_t>(length)));
    }
    static void XMLCALL OnEntityDeclaration(void* self, const XML_Char*, int, const XML_Char*, int, const XML_Char*,
                                            const XML_Char*, const XML_Char*, const XML_Char*)
    {
        static_cast<DocumentBuilder*>(self)->Abort("entity declarations are not allowed");
    }
    static void XMLCALL OnSkippedEntity(void* self, const XML_Char* name, int)
    {
        auto* builder = static_cast<DocumentBuilder*>(self);
        builder->Skip(std::string("reference to undefined entity &") + name + "; left out");
    }

    void Start(const XML_Char* name, const XML_Char** attributes);
    void End();
    void Text(std::string_view text);
    void StartValue(ElementKind kind, const XML_Char** attributes);
    void FinishValue(Element& element);

    // The innermost open dictionary or array element, or null at the top.
    Element* CurrentContainer();
    std::size_t OpenContainerCount() const;

    // Notes skipped content found on line (0: the parser's current line).
    void Skip(std::string reason, unsigned long line = 0);
    void Push(ElementKind kind, XNode* node = nullptr)
    {
        Element element;
        element.mKind = kind;
        element.mNode = node;
        mStack.push_back(std::move(element));
    }
    void Abort(std::string reason);

    CPropertyListReader::Result& mResult;
    XML_Parser mParser = nullptr;
    bool mAborted = false;
    std::vector<Element> mStack;
    std::optional<std::string> mPendingKey;
    unsigned long mPendingKeyLine = 0;
    std::size_t mValueCount = 0;
    // Values after the first one at the top: read (so their inner structure is checked) but
    // not part of the document.
    std::vector<std::unique_ptr<XNode>> mDiscarded;
};

void DocumentBuilder::Parse(std::string_view bytes)
{
    mParser = XML_ParserCreate(nullptr);
    if (!mParser)
        throw std::bad_alloc();
    XML_SetUserData(mParser, this);
    XML_SetElementHandler(mParser, &OnStart, &OnEnd);
    XML_SetCharacterDataHandler(mParser, &OnText);
    XML_SetEntityDeclHandler(mParser, &OnEntityDeclaration);
    XML_SetSkippedEntityHandler(mParser, &OnSkippedEntity);

    // Expat takes lengths as int; a megabyte at a time keeps any input within that.
    constexpr std::size_t kChunk = 1 << 20;
    bool parsed = true;
    do {
        const std::size_t length = std::min(bytes.size(), kChunk);
        const bool last = length == bytes.size();
        if (XML_Parse(mParser, bytes.data(), static_cast<int>(length), last ? 1 : 0) != XML_STATUS_OK) {
            parsed = false;
            break;
        }
        bytes.remove_prefix(length);
    } while (!bytes.empty());

    if (!parsed && !mAborted) {
        mResult.mFailed = true;
        mResult.mError = {XML_GetCurrentLineNumber(mParser), XML_ErrorString(XML_GetErrorCode(mParser))};
    } else if (!mResult.mFailed && !mResult.mRoot) {
        mResult.mFailed = true;
        mResult.mError = {XML_GetCurrentLineNumber(mParser), "no value in the file"};
    }
    XML_ParserFree(mParser);
    mParser = nullptr;
    if (mResult.mFailed)
        mResult.mRoot.reset();
}

DocumentBuilder::Element* DocumentBuilder::CurrentContainer()
{
    for (auto it = mStack.rbegin(); it != mStack.rend(); ++it) {
        if (it->mKind == ElementKind::Dictionary || it->mKind == ElementKind::Array)
            return &*it;
    }
    return nullptr;
}

std::size_t DocumentBuilder::OpenContainerCount() const
{
    return static_cast<std::size_t>(std::count_if(mStack.begin(), mStack.end(), [](const Element& e) {
        return e.mKind == ElementKind::Dictionary || e.mKind == ElementKind::Array;
    }));
}

void DocumentBuilder::Skip(std::string reason, unsigned long line)
{
    if (line == 0)
        line = XML_GetCurrentLineNumber(mParser);
    if (mResult.mSkipped.size() < CPropertyListReader::kMaxListedSkips)
        mResult.mSkipped.push_back({line, std::move(reason)});
    ++mResult.mSkippedCount;
}

void DocumentBuilder::Abort(std::string reason)
{
    if (mAborted)
        return;
    mAborted = true;
    mResult.mFailed = true;
    mResult.mError = {XML_GetCurrentLineNumber(mParser), std::move(reason)};
    XML_StopParser(mParser, XML_FALSE);
}

void DocumentBuilder::Start(const XML_Char* name, const XML_Char** attributes)
{
    if (mAborted)
        return;
    const ElementKind kind = Classify(name);
    if (!mStack.empty()) {
        const ElementKind outer = mStack.back().mKind;
        if (outer == ElementKind::Ignored) {
            Push(ElementKind::Ignored);
            return;
        }
        const bool outerTakesElements =
            outer == ElementKind::Plist || outer == ElementKind::Dictionary || outer == ElementKind::Array ||
            outer == ElementKind::Unknown;
        if (!outerTakesElements) {
            Skip(std::string("element <") + name + "> inside " + ElementText(outer) + " ignored");
            Push(ElementKind::Ignored);
            return;
        }
    }

    switch (kind) {
    case ElementKind::Plist:
        Push(ElementKind::Plist);
        return;
    case ElementKind::Unknown:
    case ElementKind::Ignored:
        Skip(std::string("unknown element <") + name + "> ignored");
        Push(ElementKind::Unknown);
        return;
    case ElementKind::Key: {
        const Element* container = CurrentContainer();
        if (!container || container->mKind != ElementKind::Dictionary) {
            Skip("<key> outside a dictionary ignored");
            Push(ElementKind::Ignored);
            return;
        }
        if (mPendingKey)
            Skip("key " + Quoted(*mPendingKey) + " has no value", mPendingKeyLine);
        mPendingKey.reset();
        Push(ElementKind::Key);
        return;
    }
    case ElementKind::Dictionary:
    case ElementKind::Array:
    case ElementKind::String:
    case ElementKind::Data:
    case ElementKind::Integer:
    case ElementKind::Real:
    case ElementKind::True:
    case ElementKind::False:
        StartValue(kind, attributes);
        return;
    }
}

void DocumentBuilder::StartValue(ElementKind kind, const XML_Char** attributes)
{
    if (++mValueCount > CPropertyListReader::kMaxValueCount) {
        Abort("more than " + std::to_string(CPropertyListReader::kMaxValueCount) + " values");
        return;
    }
    if (OpenContainerCount() > CKeyPath::kMaxDepth) {
        Abort("values nested deeper than " + std::to_string(CKeyPath::kMaxDepth) + " levels");
        return;
    }

    Element* container = CurrentContainer();
    auto node = std::make_unique<XNode>();
    if (container && container->mKind == ElementKind::Dictionary && mPendingKey) {
        node->SetName(NString(mPendingKey->c_str(), static_cast<std::int32_t>(mPendingKey->size())));
    }
    mPendingKey.reset();

    switch (kind) {
    case ElementKind::Dictionary:
        node->SetType(XNode::Type::Dictionary);
        break;
    case ElementKind::Array:
        node->SetType(XNode::Type::Array);
        break;
    case ElementKind::String:
        node->SetType(XNode::Type::String);
        break;
    case ElementKind::Data:
        node->SetType(XNode::Type::Data);
        break;
    case ElementKind::Integer:
        node->SetType(XNode::Type::Integer);
        break;
    case ElementKind::Real:
        node->SetType(XNode::Type::Real);
        break;
    case ElementKind::True:
        node->SetBoolean(true);
        break;
    case ElementKind::False:
        node->SetBoolean(false);
        break;
    case ElementKind::Plist:
    case ElementKind::Key:
    case ElementKind::Unknown:
    case ElementKind::Ignored:
        return;
    }
    for (const XML_Char** attribute = attributes; attribute && attribute[0] && attribute[1]; attribute += 2) {
        const bool isTrue = EqualsNoCase(attribute[1], "true");
        if (EqualsNoCase(attribute[0], "visible"))
            node->SetFlag(XNode::kFlagVisible, isTrue);
        else if (EqualsNoCase(attribute[0], "locked"))
            node->SetFlag(XNode::kFlagLocked, isTrue);
    }

    XNode* placed = nullptr;
    if (container) {
        placed = &container->mNode->AppendChild(std::move(node));
    } else if (!mResult.mRoot) {
        mResult.mRoot = std::move(node);
        mResult.mRootLine = XML_GetCurrentLineNumber(mParser);
        placed = mResult.mRoot.get();
    } else {
        Skip(std::string("value ") + ElementText(kind) + " after the top-level value ignored");
        mDiscarded.push_back(std::move(node));
        placed = mDiscarded.back().get();
    }
    Push(kind, placed);
}

void DocumentBuilder::End()
{
    if (mAborted || mStack.empty())
        return;
    Element element = std::move(mStack.back());
    mStack.pop_back();
    switch (element.mKind) {
    case ElementKind::Key:
        mPendingKey = std::move(element.mText);
        mPendingKeyLine = XML_GetCurrentLineNumber(mParser);
        return;
    case ElementKind::Dictionary:
        if (mPendingKey) {
            Skip("key " + Quoted(*mPendingKey) + " has no value", mPendingKeyLine);
            mPendingKey.reset();
        }
        return;
    case ElementKind::String:
    case ElementKind::Data:
    case ElementKind::Integer:
    case ElementKind::Real:
    case ElementKind::True:
    case ElementKind::False:
        FinishValue(element);
        return;
    case ElementKind::Plist:
    case ElementKind::Array:
    case ElementKind::Unknown:
    case ElementKind::Ignored:
        return;
    }
}

void DocumentBuilder::FinishValue(Element& element)
{
    XNode& node = *element.mNode;
    const std::string& text = element.mText;
    switch (element.mKind) {
    case ElementKind::String:
        node.SetString(NString(text.c_str(), static_cast<std::int32_t>(text.size())));
        return;
    case ElementKind::Data:
        node.SetData(NString(text.c_str(), static_cast<std::int32_t>(text.size())));
        return;
    case ElementKind::Integer: {
        std::int32_t value = 0;
        const NumberForm form = ParseInteger(text, value);
        node.SetInteger(value);
        if (form == NumberForm::Invalid)
            Skip("integer " + Quoted(text) + " is not a valid number; read as " + std::to_string(value));
        else if (form == NumberForm::OutOfRange)
            Skip("integer " + Quoted(text) + " is out of range; read as " + std::to_string(value));
        return;
    }
    case ElementKind::Real: {
        float value = 0.0f;
        const NumberForm form = ParseReal(text, value);
        node.SetReal(value);
        if (form == NumberForm::Invalid)
            Skip("real " + Quoted(text) + " is not a valid number; read as " + std::to_string(value));
        else if (form == NumberForm::OutOfRange)
            Skip("real " + Quoted(text) + " is out of range; read as 0");
        return;
    }
    case ElementKind::True:
    case ElementKind::False:
        if (!IsBlank(text))
            Skip(std::string("text ") + Quoted(text) + " inside " + ElementText(element.mKind) + " ignored");
        return;
    case ElementKind::Plist:
    case ElementKind::Dictionary:
    case ElementKind::Array:
    case ElementKind::Key:
    case ElementKind::Unknown:
    case ElementKind::Ignored:
        return;
    }
}

void DocumentBuilder::Text(std::string_view text)
{
    if (mAborted || mStack.empty())
        return;
    Element& element = mStack.back();
    switch (element.mKind) {
    case ElementKind::Key:
    case ElementKind::String:
    case ElementKind::Data:
    case ElementKind::Integer:
    case ElementKind::Real:
    case ElementKind::True:
    case ElementKind::False:
        element.mText.append(text);
        return;
    case ElementKind::Plist:
    case ElementKind::Dictionary:
    case ElementKind::Array:
        if (!element.mReportedText && !IsBlank(text)) {
            element.mReportedText = true;
            Skip("text " + Quoted(TrimXmlSpace(text)) + " inside " + ElementText(element.mKind) + " ignored");
        }
        return;
    case ElementKind::Unknown:
    case ElementKind::Ignored:
        return;
    }
}

} // namespace

CPropertyListReader::Result CPropertyListReader::Read(std::string_view bytes)
{
    Result result;
    DocumentBuilder builder(result);
    builder.Parse(bytes);
    return result;
}

} // namespace ZT
