#include "ZTFramework/Application/ApplicationSettingsStartup.h"

namespace ZT {

ZTRESULT OpenSettingsAtStartup(IIniFileManager& manager, CApplicationSettingsFiles& files,
                               const WString& windowClassName, StartupSettings& settings)
{
    settings = StartupSettings{};
    ZTRESULT outcome = IIniFileManager::kDone;

    IniFileHandle appFile = IniFileHandle::None;
    if (Failed(files.GetAppSettings(appFile))) {
        outcome = IIniFileManager::kFailed;
    } else {
        // A new file only reaches the disk once it holds something; this is its first value.
        const WString versionKey(kSettingsVersionKey);
        if (!manager.KeyExists(appFile, versionKey) &&
            Failed(manager.SetString(appFile, versionKey, WString(CApplicationSettingsFiles::kSettingsVersion))))
            outcome = IIniFileManager::kFailed;
        if (Failed(manager.SaveFile(appFile)))
            outcome = IIniFileManager::kFailed;
    }

    IniFileHandle userFile = IniFileHandle::None;
    if (Failed(files.GetUserSettings(userFile)))
        return IIniFileManager::kFailed;
    settings.mCurrentSkinIndex = files.GetCurrentSkinIndex();
    if (const auto placement = WindowPlacement::Read(manager, userFile, windowClassName))
        settings.mWindowPlacement = placement->Restored();
    if (Failed(SaveCurrentSkinIndex(manager, files, settings.mCurrentSkinIndex)))
        outcome = IIniFileManager::kFailed;
    return outcome;
}

ZTRESULT SaveCurrentSkinIndex(IIniFileManager& manager, CApplicationSettingsFiles& files, std::int32_t index)
{
    IniFileHandle userFile = IniFileHandle::None;
    if (Failed(files.GetUserSettings(userFile)) || Failed(files.SetCurrentSkinIndex(index)))
        return IIniFileManager::kFailed;
    return manager.SaveFile(userFile);
}

ZTRESULT SaveWindowPlacement(IIniFileManager& manager, CApplicationSettingsFiles& files,
                             const WString& windowClassName, const WindowPlacement& placement)
{
    IniFileHandle userFile = IniFileHandle::None;
    if (Failed(files.GetUserSettings(userFile)))
        return IIniFileManager::kFailed;
    return placement.Write(manager, userFile, windowClassName);
}

} // namespace ZT
