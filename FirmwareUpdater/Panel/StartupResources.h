#pragma once
// What the program loads for what it shows: the framework's and the updater's string tables in
// the user's language and the skin, and the control factory that makes the window's controls
// from them, with the framework's control classes registered.
//
// A run that shows no window (query mode, -SILENT) loads no skin; its string tables are read
// only when a text is shown (LoadTexts), such as the start-up error.
//
// The documents come from the program itself (the location "::"). A folder named by the
// environment variable XR4000_NOVA_UPDATER_RESOURCES replaces them: the installed program then
// reads "FrameworkStrings.xml", "StringTables.xml" and "Skins.xml" from there, which is how skin
// authors and translators try their work. A document of that folder that is missing or broken is
// reported on the debug output (file, line, reason) and the built-in one is used instead.
//
// Threads: start-up runs on the user-interface thread; afterwards the factory is only read.

#include "ZTFramework/ControlBase/ControlFactory.h"
#include "ZTFramework/Errors/Result.h"
#include "ZTFramework/ObjectBase/RCPtr.h"
#include "ZTFramework/Resources/ResourceSet.h"
#include "ZTFramework/Utilities/Storage/StringT.h"

#include <cstdint>

class CStartupResources {
public:
    static constexpr const char* kFolderVariable = "XR4000_NOVA_UPDATER_RESOURCES";

    // The folder the variable's value names when it is set and not empty, else builtIn (the
    // program's resources, "::").
    [[nodiscard]] static ZT::WString ChooseLocation(const char* variableValue, const ZT::WString& builtIn);

    // Makes the control factory, loads the string tables for lcid and the skin from location
    // into it and registers the framework's control classes. Writes one line saying what was
    // loaded to the debug output. A negative result of the loading (no skin at all, no memory)
    // throws a failed-result exception.
    [[nodiscard]] static ZT::RCPtr<ZT::LControlFactory> Load(const ZT::WString& location, std::uint32_t lcid);

    // Only the string tables for lcid from location, for a run that shows a text but no window.
    // Writes one line saying what was loaded to the debug output. Never throws: it serves the
    // error path; null when the tables could not be read for lack of memory (callers then keep
    // the English texts).
    [[nodiscard]] static ZT::RCPtr<ZT::LResourceSet> LoadTexts(const ZT::WString& location, std::uint32_t lcid) noexcept;

    // The start-up error text a person reads when the program cannot start: the framework's
    // "STARTUP_ERROR", or the English text when no table has it (resources may be null).
    [[nodiscard]] static ZT::WString StartupErrorText(const ZT::LResourceSet* resources);
    // The same with an error code: "EXCEPTION_ID" with the code in place of its "%d".
    [[nodiscard]] static ZT::WString StartupErrorText(const ZT::LResourceSet* resources, ZT::ZTRESULT code);
};
