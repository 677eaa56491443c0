#pragma once
// The application's two settings files, opened the way the application shell opens them:
// "AppSettings.ini" in the shared application-data folder and "UserSettings.ini" in the user's
// own one, each on first use and then kept open. Both are opened with the section
// "<product name>.<settings version>" (so the values live under "<product>_1_0_0") and the title
// "<company name> <product name>".
//
// The folders are given by the caller (the shell knows where they are); a folder path may end in
// "/" or not.
//
// Not guarded: used from one thread at a time, like the manager it works through.

#include "ZTFramework/Settings/IniFileManagerInterface.h"

#include <cstdint>

namespace ZT {

class CApplicationSettingsFiles {
public:
    static constexpr const wchar_t* kAppSettingsFileName = L"AppSettings.ini";
    static constexpr const wchar_t* kUserSettingsFileName = L"UserSettings.ini";
    static constexpr const wchar_t* kSettingsVersion = L"1_0_0";
    // Integer in the user file: the index of the skin the user chose.
    static constexpr const wchar_t* kCurrentSkinIndexKey = L"CurrentSkinIndex";

    // The manager must outlive this object.
    CApplicationSettingsFiles(IIniFileManager& manager, const WString& appFolder, const WString& userFolder,
                              const WString& companyName, const WString& productName,
                              const WString& settingsVersion = WString(kSettingsVersion));

    // The handle of the file, opened on the first call (kDone) and found open on later ones
    // (kAlreadyOpen). After the manager closed it (CloseAll), the next call opens it again.
    // kFailed (handle None) when no document can be made.
    [[nodiscard]] ZTRESULT GetAppSettings(IniFileHandle& handle);
    [[nodiscard]] ZTRESULT GetUserSettings(IniFileHandle& handle);

    // "CurrentSkinIndex" of the user file; 0 when it is not set or the file cannot be opened.
    std::int32_t GetCurrentSkinIndex();
    [[nodiscard]] ZTRESULT SetCurrentSkinIndex(std::int32_t index);

    const WString& GetAppSettingsPath() const noexcept { return mAppSettingsPath; }
    const WString& GetUserSettingsPath() const noexcept { return mUserSettingsPath; }

    // folder + "/" + fileName, without a doubled "/".
    static WString JoinPath(const WString& folder, const wchar_t* fileName);

private:

    IIniFileManager& mManager;
    WString mAppSettingsPath;
    WString mUserSettingsPath;
    WString mSectionName;
    WString mApplicationTitle;
};

} // namespace ZT
