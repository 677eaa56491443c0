#pragma once
// What the application does with its two settings files at start-up and when its window closes.
//
// At start-up both files exist on disk afterwards: "AppSettings.ini" carries "SettingsVersion"
// (the settings version text that wrote it) and "UserSettings.ini" carries "CurrentSkinIndex"
// (written back as read, 0 for a new file) and, once a window was closed, the window's
// placement under the window class name (WindowPlacement.h). Every write goes through the
// settings layer: atomic replacement, and a damaged file is reported on standard error, kept
// beside the new one as "<file>.broken" and its values taken as defaults.
//
// Not guarded: the user-interface thread calls these, one at a time.

#include "ZTFramework/Application/WindowPlacement.h"
#include "ZTFramework/Errors/Result.h"
#include "ZTFramework/Settings/ApplicationSettingsFiles.h"

#include <cstdint>
#include <optional>

namespace ZT {

struct StartupSettings {
    std::int32_t mCurrentSkinIndex = 0;
    // The placement saved by the last run, already restored from minimised; nothing when there
    // is none (the window then takes the skin's place).
    std::optional<WindowPlacement> mWindowPlacement;
};

// The key in the application file naming the settings version that wrote it.
inline constexpr const wchar_t* kSettingsVersionKey = L"SettingsVersion";

// Opens both files and makes sure they are on disk, writes "CurrentSkinIndex" back and reads
// the window placement into settings. kDone, or kFailed when a file could not be opened or
// written; settings then still holds what could be read (defaults otherwise), so the program
// goes on.
[[nodiscard]] ZTRESULT OpenSettingsAtStartup(IIniFileManager& manager, CApplicationSettingsFiles& files,
                                             const WString& windowClassName, StartupSettings& settings);

// Writes "CurrentSkinIndex" and saves the user file (when the user picks another skin).
[[nodiscard]] ZTRESULT SaveCurrentSkinIndex(IIniFileManager& manager, CApplicationSettingsFiles& files,
                                            std::int32_t index);

// Writes the window's placement and saves the user file (when the window is destroyed).
[[nodiscard]] ZTRESULT SaveWindowPlacement(IIniFileManager& manager, CApplicationSettingsFiles& files,
                                           const WString& windowClassName, const WindowPlacement& placement);

} // namespace ZT
