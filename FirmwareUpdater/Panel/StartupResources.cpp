#include "FirmwareUpdater/Panel/StartupResources.h"

#include "FirmwareUpdater/Panel/UI/UpdaterTexts.h"
#include "ZTFramework/Controls/FrameworkControls.h"
#include "ZTFramework/Debug/DebugLine.h"
#include "ZTFramework/Errors/Exception.h"

#include <cstdio>
#include <string>

namespace {

ZT::WString FrameworkText(const ZT::LResourceSet* resources, const wchar_t* stringId, const wchar_t* fallback)
{
    if (!resources)
        return ZT::WString(fallback);
    return resources->GetText(ZT::WString(ZT::LResourceSet::kFrameworkTableId), ZT::WString(stringId),
                              ZT::WString(fallback));
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

    char locale[16];
    std::snprintf(locale, sizeof locale, "0x%04X", static_cast<unsigned>(lcid));
    const bool builtIn = location == ZT::WString(L"::");
    const bool allUsed = factory->GetResources()->GetLoadMessages().empty();
    ZT::CDebugLine() << "Resources: texts for locale " << locale << " and the skin "
                     << (builtIn   ? std::string("built into the program")
                         : allUsed ? "from \"" + location.ToUTF8() + "\""
                                   : "from \"" + location.ToUTF8() + "\", built-in where that folder's could not be used")
                     << ".";
    return factory;
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
