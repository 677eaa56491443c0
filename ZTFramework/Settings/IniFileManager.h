#pragma once
// The settings service the application object owns. It forwards every operation, slot for
// slot, to its CIniFileManagerProxy, which it makes in its constructor and destroys in its
// destructor; see IniFileManagerInterface.h for what each operation gives.
//
// Destroying the manager does not write dirty files: the owner calls CloseAll at shutdown.
// Not guarded: used from one thread at a time.

#include "ZTFramework/ObjectBase/RefCountedObject.h"
#include "ZTFramework/Settings/IniFileManagerInterface.h"

#include <memory>

namespace ZT {

class CIniFileManagerProxy;

class LIniFileManager : public virtual LRefCountedObject, public IIniFileManager {
public:
    LIniFileManager();
    ~LIniFileManager() override;
    LIniFileManager(const LIniFileManager&) = delete;
    LIniFileManager& operator=(const LIniFileManager&) = delete;

    ZTRESULT Reserved(void* argument) override;
    ZTRESULT CloseAll() override;
    [[nodiscard]] ZTRESULT OpenFile(const WString& path, const WString& sectionName, const WString& applicationTitle,
                                    IniFileHandle& handle) override;
    [[nodiscard]] ZTRESULT SaveFile(IniFileHandle handle) override;
    bool KeyExists(IniFileHandle handle, const WString& key) override;
    [[nodiscard]] ZTRESULT CloseFile(IniFileHandle handle, bool save) override;
    ZTRESULT GetInteger(IniFileHandle handle, const WString& key, std::int32_t defaultValue,
                        std::int32_t& value) override;
    [[nodiscard]] ZTRESULT SetInteger(IniFileHandle handle, const WString& key, std::int32_t value) override;
    ZTRESULT GetString(IniFileHandle handle, const WString& key, const WString& defaultValue, WString& value) override;
    [[nodiscard]] ZTRESULT SetString(IniFileHandle handle, const WString& key, const WString& value) override;
    ZTRESULT GetChildCount(IniFileHandle handle, const WString& key, std::int32_t& count) override;
    ZTRESULT GetChildName(IniFileHandle handle, const WString& key, std::int32_t index, WString& name) override;
    ZTRESULT GetArraySize(IniFileHandle handle, const WString& key, std::int32_t& size) override;
    [[nodiscard]] ZTRESULT SetArraySize(IniFileHandle handle, const WString& key, std::int32_t size) override;
    ZTRESULT GetArrayString(IniFileHandle handle, const WString& key, std::int32_t index, WString& value) override;
    [[nodiscard]] ZTRESULT SetArrayString(IniFileHandle handle, const WString& key, std::int32_t index,
                                          const WString& value) override;
    [[nodiscard]] ZTRESULT RemoveArrayItem(IniFileHandle handle, const WString& key, std::int32_t index) override;

private:
    std::unique_ptr<CIniFileManagerProxy> mProxy;
};

} // namespace ZT
