#pragma once
// The value forms of our resource documents' attributes.
//
// Each reader takes the attribute's text exactly as written (no blanks trimmed) and returns
// nothing when the text is not of its form, so the document loaders can say which attribute is
// wrong instead of taking a silent 0.

#include <cstdint>
#include <optional>
#include <string_view>

namespace ZT {

class CValueForms {
public:
    // "True" is true; every other text ("False", "true", "1", "") is false.
    [[nodiscard]] static bool ReadBoolean(std::string_view text) noexcept { return text == "True"; }
    // "0x" and exactly eight hexadecimal digits, alpha first: "0xFF000000" is opaque black.
    [[nodiscard]] static std::optional<std::uint32_t> ReadColour(std::string_view text) noexcept;
    // A decimal integer with an optional leading "-" that fits 32 bits.
    [[nodiscard]] static std::optional<std::int32_t> ReadInteger(std::string_view text) noexcept;
    // A decimal fraction: optional "-", digits, optional "." and digits ("0.05", "8.25", "-3",
    // ".5"); no exponent, no "inf" or "nan".
    [[nodiscard]] static std::optional<double> ReadReal(std::string_view text) noexcept;
    // A locale identifier: "0x" with hexadecimal digits, of which only the first four count
    // ("0x00090" is 0x0009), or a decimal number ("1033").
    [[nodiscard]] static std::optional<std::uint32_t> ReadLcid(std::string_view text) noexcept;
};

} // namespace ZT
