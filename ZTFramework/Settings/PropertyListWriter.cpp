#include "ZTFramework/Settings/PropertyListWriter.h"

#include <array>
#include <charconv>
#include <cstdint>

namespace ZT {

namespace {

constexpr std::string_view kReplacementCharacter = "\xEF\xBF\xBD";

// Length of the well-formed UTF-8 sequence at the start of text, or 0 when it is not one
// (overlong forms, surrogates and code points above U+10FFFF are not).
std::size_t Utf8SequenceLength(std::string_view text, std::uint32_t& codePoint) noexcept
{
    const auto byte = [&](std::size_t i) { return static_cast<std::uint8_t>(text[i]); };
    const std::uint8_t lead = byte(0);
    std::size_t length = 0;
    std::uint32_t minimum = 0;
    if (lead < 0x80) {
        codePoint = lead;
        return 1;
    }
    if ((lead & 0xE0) == 0xC0) {
        length = 2;
        minimum = 0x80;
        codePoint = lead & 0x1Fu;
    } else if ((lead & 0xF0) == 0xE0) {
        length = 3;
        minimum = 0x800;
        codePoint = lead & 0x0Fu;
    } else if ((lead & 0xF8) == 0xF0) {
        length = 4;
        minimum = 0x10000;
        codePoint = lead & 0x07u;
    } else {
        return 0;
    }
    if (text.size() < length)
        return 0;
    for (std::size_t i = 1; i < length; ++i) {
        if ((byte(i) & 0xC0) != 0x80)
            return 0;
        codePoint = (codePoint << 6) | (byte(i) & 0x3Fu);
    }
    if (codePoint < minimum || codePoint > 0x10FFFF || (codePoint >= 0xD800 && codePoint <= 0xDFFF))
        return 0;
    return length;
}

bool IsXmlCharacter(std::uint32_t codePoint) noexcept
{
    if (codePoint < 0x20)
        return codePoint == 0x09 || codePoint == 0x0A || codePoint == 0x0D;
    return codePoint != 0xFFFE && codePoint != 0xFFFF;
}

void AppendTabs(std::string& out, std::size_t level)
{
    out.append(level, '\t');
}

void AppendInteger(std::string& out, std::int32_t value)
{
    std::array<char, 16> buffer{};
    const auto converted = std::to_chars(buffer.data(), buffer.data() + buffer.size(), value);
    out.append(buffer.data(), converted.ptr);
}

// C's "%f" of the value promoted to double, independent of the process's locale.
void AppendReal(std::string& out, float value)
{
    // The largest float has 39 digits before the point; six after, a sign and a point.
    std::array<char, 64> buffer{};
    const auto converted = std::to_chars(buffer.data(), buffer.data() + buffer.size(),
                                         static_cast<double>(value), std::chars_format::fixed, 6);
    out.append(buffer.data(), converted.ptr);
}

} // namespace

void CPropertyListWriter::AppendEscaped(std::string& out, std::string_view text)
{
    while (!text.empty()) {
        const char c = text.front();
        switch (c) {
        case '&':
            out += "&amp;";
            text.remove_prefix(1);
            continue;
        case '<':
            out += "&lt;";
            text.remove_prefix(1);
            continue;
        case '>':
            out += "&gt;";
            text.remove_prefix(1);
            continue;
        case '"':
            out += "&quot;";
            text.remove_prefix(1);
            continue;
        case '\'':
            out += "&apos;";
            text.remove_prefix(1);
            continue;
        default:
            break;
        }
        std::uint32_t codePoint = 0;
        const std::size_t length = Utf8SequenceLength(text, codePoint);
        if (length == 0) {
            out += kReplacementCharacter;
            text.remove_prefix(1);
            continue;
        }
        if (IsXmlCharacter(codePoint))
            out.append(text.substr(0, length));
        else
            out += kReplacementCharacter;
        text.remove_prefix(length);
    }
}

bool CPropertyListWriter::IsWritten(const XNode& node) noexcept
{
    return !node.HasFlag(XNode::kFlagVolatile) && node.GetType() != XNode::Type::None;
}

void CPropertyListWriter::AppendAttributes(std::string& out, const XNode& node)
{
    if (node.HasFlag(XNode::kFlagVisible))
        out += " visible=\"true\"";
    if (node.HasFlag(XNode::kFlagLocked))
        out += " locked=\"true\"";
}

void CPropertyListWriter::AppendNode(std::string& out, const XNode& node, bool inDictionary, std::size_t level)
{
    if (!IsWritten(node))
        return;
    AppendTabs(out, level);
    if (inDictionary) {
        out += "<key>";
        AppendEscaped(out, node.GetName().View());
        out += "</key>";
    }

    const char* element = nullptr;
    switch (node.GetType()) {
    case XNode::Type::None:
        return;
    case XNode::Type::String:
    case XNode::Type::Data:
        element = node.GetType() == XNode::Type::String ? "string" : "data";
        out += '<';
        out += element;
        AppendAttributes(out, node);
        out += '>';
        AppendEscaped(out, node.GetText().View());
        out += "</";
        out += element;
        out += ">\n";
        return;
    case XNode::Type::Boolean:
        out += node.GetBoolean() ? "<true" : "<false";
        AppendAttributes(out, node);
        out += "/>\n";
        return;
    case XNode::Type::Integer:
        out += "<integer";
        AppendAttributes(out, node);
        out += '>';
        AppendInteger(out, node.GetInteger());
        out += "</integer>\n";
        return;
    case XNode::Type::Real:
        out += "<real";
        AppendAttributes(out, node);
        out += '>';
        AppendReal(out, node.GetReal());
        out += "</real>\n";
        return;
    case XNode::Type::Dictionary:
    case XNode::Type::Array:
        break;
    }

    const bool isDictionary = node.GetType() == XNode::Type::Dictionary;
    element = isDictionary ? "dict" : "array";
    bool anyChildWritten = false;
    for (std::size_t i = 0; i < node.GetChildCount() && !anyChildWritten; ++i)
        anyChildWritten = IsWritten(*node.GetChild(i));
    out += '<';
    out += element;
    AppendAttributes(out, node);
    if (!anyChildWritten) {
        out += "/>\n";
        return;
    }
    out += ">\n";
    for (std::size_t i = 0; i < node.GetChildCount(); ++i)
        AppendNode(out, *node.GetChild(i), isDictionary, level + 1);
    AppendTabs(out, level);
    out += "</";
    out += element;
    out += ">\n";
}

std::string CPropertyListWriter::Write(const XNode& root)
{
    std::string out(kHeader);
    AppendNode(out, root, false, 0);
    out += kFooter;
    return out;
}

} // namespace ZT
