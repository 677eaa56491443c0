#include "ZTFramework/Resources/LocaleId.h"

#include <cstdlib>

namespace ZT {

namespace {

struct LanguageRow {
    std::string_view mLanguage;
    std::uint32_t mDefault;   // the language's default LCID when the region is unknown
};

struct RegionRow {
    std::string_view mLocale;  // language_REGION
    std::uint32_t mLcid;
};

constexpr LanguageRow kLanguages[] = {
    {"en", 0x0409}, {"de", 0x0407}, {"fr", 0x040C}, {"es", 0x0C0A}, {"ja", 0x0411}, {"it", 0x0410},
    {"ko", 0x0412}, {"zh", 0x0804}, {"nl", 0x0413}, {"pt", 0x0816}, {"ru", 0x0419}, {"pl", 0x0415},
    {"sv", 0x041D}, {"da", 0x0406}, {"nb", 0x0414}, {"fi", 0x040B}, {"cs", 0x0405}, {"tr", 0x041F},
};

constexpr RegionRow kRegions[] = {
    {"en_GB", 0x0809}, {"en_AU", 0x0C09}, {"en_CA", 0x1009}, {"en_IE", 0x1809}, {"de_AT", 0x0C07},
    {"de_CH", 0x0807}, {"fr_BE", 0x080C}, {"fr_CA", 0x0C0C}, {"fr_CH", 0x100C}, {"es_MX", 0x080A},
    {"es_AR", 0x2C0A}, {"es_US", 0x540A}, {"it_CH", 0x0810}, {"pt_BR", 0x0416}, {"nl_BE", 0x0813},
    {"zh_TW", 0x0404}, {"zh_HK", 0x0C04}, {"zh_MO", 0x1404}, {"zh_SG", 0x1004}, {"zh_CN", 0x0804},
};

} // namespace

std::uint32_t CLocaleId::Fallback(std::uint32_t lcid) noexcept
{
    if (lcid == 0x0404 || lcid == 0x0C04 || lcid == 0x1404)
        return kChineseTraditional;
    return lcid & 0xFF;
}

std::uint32_t CLocaleId::FromPosixLocale(std::string_view name) noexcept
{
    // "de_DE.UTF-8@euro" -> "de_DE"
    name = name.substr(0, name.find_first_of(".@"));
    for (const RegionRow& row : kRegions) {
        if (row.mLocale == name)
            return row.mLcid;
    }
    const std::string_view language = name.substr(0, name.find('_'));
    for (const LanguageRow& row : kLanguages) {
        if (row.mLanguage == language)
            return row.mDefault;
    }
    return kEnglishUnitedStates;
}

std::uint32_t CLocaleId::FromEnvironment() noexcept
{
    for (const char* variable : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
        const char* value = std::getenv(variable);
        if (value && *value)
            return FromPosixLocale(value);
    }
    return kEnglishUnitedStates;
}

} // namespace ZT
