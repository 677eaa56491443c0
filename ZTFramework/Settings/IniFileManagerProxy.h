#pragma once
// The implementation behind LIniFileManager: the open files, their documents, and every
// operation of IIniFileManager (see IniFileManagerInterface.h for the results).
//
// Files are read through CSettingsFileStore and CPropertyListReader and written through
// CPropertyListWriter and CSettingsFileStore's safe save. Problems with a file go to standard
// error, one line each, as "file:line: reason":
//   - a file that does not parse: the parser's line and message; the file then counts as
//     missing (a fresh document takes its place) and is kept as "<file>.broken" at the first
//     save instead of being overwritten;
//   - a file that parses but has content the reader had to skip (unknown elements, numbers that
//     do not parse, ...): each piece; the rest of the file is used, and the original is kept
//     beside at the first save as well, since that save drops what was skipped;
//   - a save that fails: "file: cannot save the settings: reason".
// A missing file is normal (the first run) and is not reported.
//
// Not guarded: used from one thread at a time.

#include "ZTFramework/Settings/IniFileManagerInterface.h"
#include "ZTFramework/Settings/XNode.h"

#include <cstdint>
#include <memory>
#include <vector>

namespace ZT {

class CKeyPath;

class CIniFileManagerProxy final : public IIniFileManager {
public:
    CIniFileManagerProxy();
    ~CIniFileManagerProxy() override;
    CIniFileManagerProxy(const CIniFileManagerProxy&) = delete;
    CIniFileManagerProxy& operator=(const CIniFileManagerProxy&) = delete;

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

    // The text of a fresh document; %s stands for the application title.
    static constexpr const char* kFreshDocumentText = "<dict><key>Application</key><string>%s</string></dict>";

private:
    struct MemberData {
        struct IniFileInfo {
            IniFileHandle mHandle = IniFileHandle::None;
            NString mPath;
            // The section name with "." replaced by "_", then ".": put before every key.
            NString mKeyPrefix;
            std::unique_ptr<XNode> mDocument;
            std::uint8_t mDirty = 0;
            // The file at mPath could not be read or had content the reader skipped: keep it
            // beside the new one at the next save instead of overwriting it.
            bool mKeepOriginalOnSave = false;
        };

        // In the order the files were opened.
        std::vector<std::unique_ptr<IniFileInfo>> mFiles;
        std::uint64_t mNextHandle = 1;
    };
    using IniFileInfo = MemberData::IniFileInfo;

    IniFileInfo* Find(IniFileHandle handle) const;
    // The node of key in the file's section, or null (never creates).
    static XNode* FindNode(const IniFileInfo& file, const WString& key);
    // The node of key, created when missing; null when the key cannot be created.
    static XNode* FindOrCreateNode(IniFileInfo& file, const WString& key);
    static void MarkChanged(IniFileInfo& file, XNode& node);
    static std::unique_ptr<XNode> LoadDocument(const NString& path, bool& keepOriginal);
    static std::unique_ptr<XNode> MakeFreshDocument(const NString& applicationTitle);
    static ZTRESULT Write(IniFileInfo& file);
    static ZTRESULT ResizeArray(IniFileInfo& file, XNode& node, std::int32_t size);

    MemberData mMembers;
};

} // namespace ZT
