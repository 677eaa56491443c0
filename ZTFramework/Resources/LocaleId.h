#pragma once
// Locale identifiers (LCIDs) as our string tables use them: a primary language in the low ten
// bits and a sublanguage above (0x0409 is English (United States), 0x0009 English as a whole).

#include <cstdint>
#include <string_view>

namespace ZT {

class CLocaleId {
public:
    static constexpr std::uint32_t kEnglish = 0x0009;
    static constexpr std::uint32_t kEnglishUnitedStates = 0x0409;
    static constexpr std::uint32_t kChineseTraditional = 0x7C04;

    // The locale to try when a document has no text for lcid: Chinese (Taiwan), (Hong Kong) and
    // (Macao) fall back to Chinese traditional, every other locale to its primary language.
    [[nodiscard]] static std::uint32_t Fallback(std::uint32_t lcid) noexcept;

    // The LCID of a POSIX locale name such as "de_DE.UTF-8", "fr_CA", "ja" or "C". A language
    // without a known region gets its default sublanguage; an unknown language, "C" and "POSIX"
    // give English (United States).
    [[nodiscard]] static std::uint32_t FromPosixLocale(std::string_view name) noexcept;
    // The LCID of the user's message locale: LC_ALL, else LC_MESSAGES, else LANG.
    [[nodiscard]] static std::uint32_t FromEnvironment() noexcept;
};

} // namespace ZT
