#include "tests/Support/Printers.h"

#include <cstdio>

namespace ZT {
namespace {

void PrintQuoted(std::string_view utf8, std::ostream& out)
{
    out << '"';
    for (const char c : utf8) {
        const auto byte = static_cast<unsigned char>(c);
        switch (c) {
        case '"': out << "\\\""; break;
        case '\\': out << "\\\\"; break;
        case '\n': out << "\\n"; break;
        case '\r': out << "\\r"; break;
        case '\t': out << "\\t"; break;
        default:
            // Bytes of 0x80 and above are UTF-8 sequences and stay as they are, so "Wählen"
            // reads as such; other control characters would move the cursor or vanish.
            if (byte < 0x20 || byte == 0x7F) {
                char escaped[8];
                std::snprintf(escaped, sizeof escaped, "\\x%02X", byte);
                out << escaped;
            } else {
                out << c;
            }
        }
    }
    out << '"';
}

} // namespace

void PrintTo(const WString& text, std::ostream* out)
{
    *out << 'L';
    PrintQuoted(text.ToUTF8(), *out);
}

void PrintTo(UsbError error, std::ostream* out)
{
    const std::string name = UsbErrorName(error);
    *out << name;
    if (name == "Unknown") // what UsbErrorName gives every number outside the set
        *out << " (" << static_cast<std::int32_t>(error) << ")";
}

namespace {

// The name, and the number when DFU does not define it (the name is then the same as 0xFF's).
template <typename Enum>
void PrintDfuName(Enum value, std::ostream& out)
{
    const std::string name = ToString(value);
    out << name;
    if (name == ToString(static_cast<Enum>(0xFF)))
        out << " (" << Testing::Hex(static_cast<std::uint8_t>(value), 2) << ")";
}

} // namespace

void PrintTo(DfuRequest request, std::ostream* out)
{
    PrintDfuName(request, *out);
}

void PrintTo(DfuState state, std::ostream* out)
{
    PrintDfuName(state, *out);
}

void PrintTo(DfuStatus status, std::ostream* out)
{
    PrintDfuName(status, *out);
}

void PrintTo(const NString& text, std::ostream* out)
{
    PrintQuoted(text.View(), *out);
}

void PrintTo(ZTRESULT result, std::ostream* out)
{
    *out << Testing::ResultText(result);
}

} // namespace ZT

namespace ZT::Testing {

std::string Hex(std::uint64_t value, int digits)
{
    char text[24];
    std::snprintf(text, sizeof text, "0x%0*llX", digits, static_cast<unsigned long long>(value));
    return text;
}

std::string ResultText(ZTRESULT result)
{
    const std::string hex = Hex(static_cast<std::uint32_t>(result), 8);
    const std::string name = ResultToText(result);
    if (name != hex)
        return name + " (" + hex + ")";
    if (Succeeded(result))
        return std::to_string(result.Value()) + " (" + hex + ")";
    return hex;
}

::testing::AssertionResult ResultsEqual(const char* actualExpression, const char* expectedExpression,
                                        std::int32_t actual, std::int32_t expected)
{
    if (actual == expected)
        return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << actualExpression << " is " << ResultText(ZTRESULT(actual))
                                         << ", expected " << expectedExpression << ": "
                                         << ResultText(ZTRESULT(expected));
}

void PrintTo(UsbId id, std::ostream* out)
{
    *out << Hex(id.Value);
}

} // namespace ZT::Testing
