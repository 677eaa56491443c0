#include "FirmwareUpdater/Panel/StartupResources.h"

#include "FirmwareUpdater/Panel/UI/UpdaterTexts.h"
#include "ZTFramework/Controls/FrameworkControls.h"
#include "ZTFramework/Debug/DebugLine.h"
#include "ZTFramework/Errors/Exception.h"

#include <cstdio>
#include <exception>
#include <string>

namespace {

ZT::WString FrameworkText(const ZT::LResourceSet* resources, const wchar_t* stringId, const wchar_t* fallback)
{
    if (!resources)
        return ZT::WString(fallback);
    return resources->GetText(ZT::WString(ZT::LResourceSet::kFrameworkTableId), ZT::WString(stringId),
                              ZT::WString(fallback));
}

std::string LocaleText(std::uint32_t lcid)
{
    char locale[16];
    std::snprintf(locale, sizeof locale, "0x%04X", static_cast<unsigned>(lcid));
    return locale;
}

// Where the documents came from, as the summary line ends: "built into the program", or the
// folder, and whether some of its documents had to be replaced by the built-in ones.
std::string SourceText(const ZT::WString& location, const ZT::LResourceSet& resources)
{
    if (location == ZT::WString(L"::"))
        return "built into the program";
    const std::string folder = "from \"" + location.ToUTF8() + "\"";
    return resources.GetLoadMessages().empty() ? folder : folder + ", built-in where that folder's could not be used";
}

} // namespace

ZT::WString CStartupResources::ChooseLocation(const char* variableValue, const ZT::WString& builtIn)
{
    if (!variableValue || variableValue[0] == 0)
        return builtIn;
    // UTF-8, as the environment carries it; a value that is not UTF-8 names no folder we can open.
    const ZT::WString folder(variableValue);
    return folder.IsEmpty() ? builtIn : folder;
}

ZT::RCPtr<ZT::LControlFactory> CStartupResources::Load(const ZT::WString& location, std::uint32_t lcid)
{
    const auto factory = ZT::MakeRC<ZT::LControlFactory>();
    const ZT::ZTRESULT loaded = factory->Load(location, lcid);
    if (ZT::Failed(loaded))
        ZT_THROW_FAILED_RESULT(loaded, "CStartupResources::Load");
    ZT_THROW_IF_FAILED(ZT::CFrameworkControls::Register(*factory), "CStartupResources::Load");

    ZT::CDebugLine() << "Resources: texts for locale " << LocaleText(lcid) << " and the skin "
                     << SourceText(location, *factory->GetResources()) << ".";
    return factory;
}

ZT::RCPtr<ZT::LResourceSet> CStartupResources::LoadTexts(const ZT::WString& location, std::uint32_t lcid) noexcept
{
    try {
        const auto resources = ZT::MakeRC<ZT::LResourceSet>();
        if (ZT::Failed(resources->LoadStringTables(location, lcid)))
            return nullptr;
        ZT::CDebugLine() << "Resources: texts for locale " << LocaleText(lcid) << " "
                         << SourceText(location, *resources) << ", no skin (no window is shown).";
        return resources;
    } catch (const std::exception&) {
        return nullptr;
    }
}

ZT::WString CStartupResources::StartupErrorText(const ZT::LResourceSet* resources)
{
    return FrameworkText(resources, UpdaterTexts::kStartupError, UpdaterTexts::kStartupErrorDefault);
}

ZT::WString CStartupResources::StartupErrorText(const ZT::LResourceSet* resources, ZT::ZTRESULT code)
{
    std::wstring text = FrameworkText(resources, UpdaterTexts::kExceptionId, UpdaterTexts::kExceptionIdDefault).ToWide();
    // The code goes in as text: a translated table is data, never a format string.
    if (const std::size_t at = text.find(L"%d"); at != std::wstring::npos)
        text.replace(at, 2, std::to_wstring(static_cast<std::int32_t>(code)));
    return ZT::WString(std::wstring_view(text));
}
