#include "ZTFramework/Settings/ApplicationSettingsFiles.h"

namespace ZT {

CApplicationSettingsFiles::CApplicationSettingsFiles(IIniFileManager& manager, const WString& appFolder,
                                                     const WString& userFolder, const WString& companyName,
                                                     const WString& productName, const WString& settingsVersion)
    : mManager(manager),
      mAppSettingsPath(JoinPath(appFolder, kAppSettingsFileName)),
      mUserSettingsPath(JoinPath(userFolder, kUserSettingsFileName)),
      mSectionName(productName + WString(L".") + settingsVersion),
      mApplicationTitle(companyName + WString(L" ") + productName)
{
}

WString CApplicationSettingsFiles::JoinPath(const WString& folder, const wchar_t* fileName)
{
    WString path = folder;
    if (!path.IsEmpty() && path.View().back() != L'/')
        path += L"/";
    path += fileName;
    return path;
}

ZTRESULT CApplicationSettingsFiles::GetAppSettings(IniFileHandle& handle)
{
    return mManager.OpenFile(mAppSettingsPath, mSectionName, mApplicationTitle, handle);
}

ZTRESULT CApplicationSettingsFiles::GetUserSettings(IniFileHandle& handle)
{
    return mManager.OpenFile(mUserSettingsPath, mSectionName, mApplicationTitle, handle);
}

std::int32_t CApplicationSettingsFiles::GetCurrentSkinIndex()
{
    IniFileHandle handle = IniFileHandle::None;
    std::int32_t index = 0;
    if (Succeeded(GetUserSettings(handle)))
        // A missing or unreadable index is 0.
        (void)mManager.GetInteger(handle, WString(kCurrentSkinIndexKey), 0, index);
    return index;
}

ZTRESULT CApplicationSettingsFiles::SetCurrentSkinIndex(std::int32_t index)
{
    IniFileHandle handle = IniFileHandle::None;
    const ZTRESULT opened = GetUserSettings(handle);
    if (Failed(opened))
        return opened;
    return mManager.SetInteger(handle, WString(kCurrentSkinIndexKey), index);
}

} // namespace ZT
