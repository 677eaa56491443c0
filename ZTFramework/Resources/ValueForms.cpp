#include "ZTFramework/Resources/ValueForms.h"

#include <charconv>
#include <limits>

namespace ZT {

namespace {

int HexDigit(char c) noexcept
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

bool IsDecimalDigit(char c) noexcept { return c >= '0' && c <= '9'; }

bool HasHexPrefix(std::string_view text) noexcept
{
    return text.size() >= 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
}

} // namespace

std::optional<std::uint32_t> CValueForms::ReadColour(std::string_view text) noexcept
{
    if (!HasHexPrefix(text) || text.size() != 10)
        return std::nullopt;
    std::uint32_t colour = 0;
    for (const char c : text.substr(2)) {
        const int digit = HexDigit(c);
        if (digit < 0)
            return std::nullopt;
        colour = (colour << 4) | static_cast<std::uint32_t>(digit);
    }
    return colour;
}

std::optional<std::int32_t> CValueForms::ReadInteger(std::string_view text) noexcept
{
    const std::string_view digits = text.starts_with('-') ? text.substr(1) : text;
    if (digits.empty())
        return std::nullopt;
    for (const char c : digits) {
        if (!IsDecimalDigit(c))
            return std::nullopt;
    }
    std::int32_t value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size())
        return std::nullopt;
    return value;
}

std::optional<double> CValueForms::ReadReal(std::string_view text) noexcept
{
    const std::string_view body = text.starts_with('-') ? text.substr(1) : text;
    const std::size_t point = body.find('.');
    const std::string_view whole = body.substr(0, point);
    const std::string_view fraction = point == std::string_view::npos ? std::string_view() : body.substr(point + 1);
    if (whole.empty() && fraction.empty())
        return std::nullopt;
    for (const char c : whole) {
        if (!IsDecimalDigit(c))
            return std::nullopt;
    }
    for (const char c : fraction) {
        if (!IsDecimalDigit(c))
            return std::nullopt;
    }
    double value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size())
        return std::nullopt;
    return value;
}

std::optional<std::uint32_t> CValueForms::ReadLcid(std::string_view text) noexcept
{
    if (HasHexPrefix(text)) {
        const std::string_view digits = text.substr(2);
        if (digits.empty())
            return std::nullopt;
        std::uint32_t lcid = 0;
        for (std::size_t i = 0; i < digits.size(); ++i) {
            const int digit = HexDigit(digits[i]);
            if (digit < 0)
                return std::nullopt;
            if (i < 4)
                lcid = (lcid << 4) | static_cast<std::uint32_t>(digit);
        }
        return lcid;
    }
    if (text.empty())
        return std::nullopt;
    for (const char c : text) {
        if (!IsDecimalDigit(c))
            return std::nullopt;
    }
    std::uint32_t lcid = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), lcid);
    if (error != std::errc() || end != text.data() + text.size())
        return std::nullopt;
    return lcid;
}

} // namespace ZT
