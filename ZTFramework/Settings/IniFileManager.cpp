#include "ZTFramework/Settings/IniFileManager.h"

#include "ZTFramework/Settings/IniFileManagerProxy.h"

namespace ZT {

LIniFileManager::LIniFileManager() : mProxy(std::make_unique<CIniFileManagerProxy>()) {}

LIniFileManager::~LIniFileManager() = default;

ZTRESULT LIniFileManager::Reserved(void* argument)
{
    return mProxy->Reserved(argument);
}

ZTRESULT LIniFileManager::CloseAll()
{
    return mProxy->CloseAll();
}

ZTRESULT LIniFileManager::OpenFile(const WString& path, const WString& sectionName, const WString& applicationTitle,
                                   IniFileHandle& handle)
{
    return mProxy->OpenFile(path, sectionName, applicationTitle, handle);
}

ZTRESULT LIniFileManager::SaveFile(IniFileHandle handle)
{
    return mProxy->SaveFile(handle);
}

bool LIniFileManager::KeyExists(IniFileHandle handle, const WString& key)
{
    return mProxy->KeyExists(handle, key);
}

ZTRESULT LIniFileManager::CloseFile(IniFileHandle handle, bool save)
{
    return mProxy->CloseFile(handle, save);
}

ZTRESULT LIniFileManager::GetInteger(IniFileHandle handle, const WString& key, std::int32_t defaultValue,
                                     std::int32_t& value)
{
    return mProxy->GetInteger(handle, key, defaultValue, value);
}

ZTRESULT LIniFileManager::SetInteger(IniFileHandle handle, const WString& key, std::int32_t value)
{
    return mProxy->SetInteger(handle, key, value);
}

ZTRESULT LIniFileManager::GetString(IniFileHandle handle, const WString& key, const WString& defaultValue,
                                    WString& value)
{
    return mProxy->GetString(handle, key, defaultValue, value);
}

ZTRESULT LIniFileManager::SetString(IniFileHandle handle, const WString& key, const WString& value)
{
    return mProxy->SetString(handle, key, value);
}

ZTRESULT LIniFileManager::GetChildCount(IniFileHandle handle, const WString& key, std::int32_t& count)
{
    return mProxy->GetChildCount(handle, key, count);
}

ZTRESULT LIniFileManager::GetChildName(IniFileHandle handle, const WString& key, std::int32_t index, WString& name)
{
    return mProxy->GetChildName(handle, key, index, name);
}

ZTRESULT LIniFileManager::GetArraySize(IniFileHandle handle, const WString& key, std::int32_t& size)
{
    return mProxy->GetArraySize(handle, key, size);
}

ZTRESULT LIniFileManager::SetArraySize(IniFileHandle handle, const WString& key, std::int32_t size)
{
    return mProxy->SetArraySize(handle, key, size);
}

ZTRESULT LIniFileManager::GetArrayString(IniFileHandle handle, const WString& key, std::int32_t index,
                                         WString& value)
{
    return mProxy->GetArrayString(handle, key, index, value);
}

ZTRESULT LIniFileManager::SetArrayString(IniFileHandle handle, const WString& key, std::int32_t index,
                                         const WString& value)
{
    return mProxy->SetArrayString(handle, key, index, value);
}

ZTRESULT LIniFileManager::RemoveArrayItem(IniFileHandle handle, const WString& key, std::int32_t index)
{
    return mProxy->RemoveArrayItem(handle, key, index);
}

} // namespace ZT
