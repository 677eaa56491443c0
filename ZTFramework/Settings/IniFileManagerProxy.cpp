#include "ZTFramework/Settings/IniFileManagerProxy.h"

#include "ZTFramework/Settings/KeyPath.h"
#include "ZTFramework/Settings/PropertyListReader.h"
#include "ZTFramework/Settings/PropertyListWriter.h"
#include "ZTFramework/Settings/SettingsFileStore.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>
#include <string>

namespace ZT {

namespace {

// Files without a path are reported under this name.
constexpr const char* kNoPathName = "XML Load Error";

const char* ReportName(const NString& path)
{
    return path.IsEmpty() ? kNoPathName : path.c_str();
}

void ReportLine(const NString& path, unsigned long line, const std::string& reason)
{
    std::fprintf(stderr, "%s:%lu: %s\n", ReportName(path), line, reason.c_str());
}

// A real truncated toward zero, held within 32 bits (NaN reads as 0).
std::int32_t TruncateReal(float value)
{
    if (std::isnan(value))
        return 0;
    constexpr float kLimit = 2147483648.0f; // 2^31, exactly representable
    if (value >= kLimit)
        return std::numeric_limits<std::int32_t>::max();
    if (value <= -kLimit)
        return std::numeric_limits<std::int32_t>::min();
    return static_cast<std::int32_t>(value);
}

WString ToWide(const NString& text)
{
    return WString(text);
}

} // namespace

CIniFileManagerProxy::CIniFileManagerProxy() = default;

CIniFileManagerProxy::~CIniFileManagerProxy() = default;

ZTRESULT CIniFileManagerProxy::Reserved(void*)
{
    return kDone;
}

CIniFileManagerProxy::IniFileInfo* CIniFileManagerProxy::Find(IniFileHandle handle) const
{
    if (handle == IniFileHandle::None)
        return nullptr;
    for (const auto& file : mMembers.mFiles) {
        if (file->mHandle == handle)
            return file.get();
    }
    return nullptr;
}

XNode* CIniFileManagerProxy::FindNode(const IniFileInfo& file, const WString& key)
{
    const NString fullKey = file.mKeyPrefix + key.Convert();
    const auto path = CKeyPath::Parse(fullKey.View());
    return path ? path->Find(*file.mDocument) : nullptr;
}

XNode* CIniFileManagerProxy::FindOrCreateNode(IniFileInfo& file, const WString& key)
{
    const NString fullKey = file.mKeyPrefix + key.Convert();
    const auto path = CKeyPath::Parse(fullKey.View());
    return path ? path->FindOrCreate(*file.mDocument) : nullptr;
}

void CIniFileManagerProxy::MarkChanged(IniFileInfo& file, XNode& node)
{
    node.SetFlag(XNode::kFlagDirty, true);
    file.mDirty = 1;
}

std::unique_ptr<XNode> CIniFileManagerProxy::LoadDocument(const NString& path, bool& keepOriginal)
{
    keepOriginal = false;
    const CSettingsFileStore::ReadResult file = CSettingsFileStore::ReadWholeFile(path.c_str());
    switch (file.mStatus) {
    case CSettingsFileStore::ReadStatus::Missing:
        return nullptr;
    case CSettingsFileStore::ReadStatus::Failed:
        ReportLine(path, 0, file.mReason);
        keepOriginal = true;
        return nullptr;
    case CSettingsFileStore::ReadStatus::Read:
        break;
    }

    CPropertyListReader::Result read = CPropertyListReader::Read(file.mBytes);
    if (read.mFailed) {
        ReportLine(path, read.mError.mLine, read.mError.mReason);
        keepOriginal = true;
        return nullptr;
    }
    if (read.mRoot->GetType() != XNode::Type::Dictionary) {
        ReportLine(path, read.mRootLine,
                   std::string("the top-level value is of type ") + ToString(read.mRoot->GetType()) + ", not a dictionary");
        keepOriginal = true;
        return nullptr;
    }
    for (const CPropertyListReader::Problem& problem : read.mSkipped)
        ReportLine(path, problem.mLine, problem.mReason);
    if (read.mSkippedCount > read.mSkipped.size()) {
        std::fprintf(stderr, "%s: %zu more pieces of content skipped\n", ReportName(path),
                     read.mSkippedCount - read.mSkipped.size());
    }
    keepOriginal = read.mSkippedCount > 0;
    read.mRoot->ClearDirtyFlags();
    return std::move(read.mRoot);
}

std::unique_ptr<XNode> CIniFileManagerProxy::MakeFreshDocument(const NString& applicationTitle)
{
    // The title is escaped, so a title with "&" or "<" still makes a document.
    std::string title;
    CPropertyListWriter::AppendEscaped(title, applicationTitle.View());
    const std::string_view pattern = kFreshDocumentText;
    const std::size_t marker = pattern.find("%s");
    std::string text(pattern.substr(0, marker));
    text += title;
    text += pattern.substr(marker + 2);

    CPropertyListReader::Result read = CPropertyListReader::Read(text);
    if (read.mFailed) {
        ReportLine(NString(), read.mError.mLine, read.mError.mReason);
        return nullptr;
    }
    return std::move(read.mRoot);
}

ZTRESULT CIniFileManagerProxy::OpenFile(const WString& path, const WString& sectionName,
                                        const WString& applicationTitle, IniFileHandle& handle)
{
    handle = IniFileHandle::None;
    const NString narrowPath = path.Convert();
    for (auto it = mMembers.mFiles.rbegin(); it != mMembers.mFiles.rend(); ++it) {
        if ((*it)->mPath == narrowPath) {
            handle = (*it)->mHandle;
            return kAlreadyOpen;
        }
    }

    auto file = std::make_unique<IniFileInfo>();
    file->mPath = narrowPath;
    std::string prefix = sectionName.ToUTF8();
    std::replace(prefix.begin(), prefix.end(), '.', '_');
    prefix += '.';
    file->mKeyPrefix = NString(prefix.c_str(), static_cast<std::int32_t>(prefix.size()));

    file->mDocument = LoadDocument(narrowPath, file->mKeepOriginalOnSave);
    if (!file->mDocument)
        file->mDocument = MakeFreshDocument(applicationTitle.Convert());
    if (!file->mDocument)
        return kFailed;

    file->mHandle = static_cast<IniFileHandle>(mMembers.mNextHandle++);
    handle = file->mHandle;
    mMembers.mFiles.push_back(std::move(file));
    return kDone;
}

ZTRESULT CIniFileManagerProxy::Write(IniFileInfo& file)
{
    const std::string bytes = CPropertyListWriter::Write(*file.mDocument);
    std::string keptAs;
    const int error = CSettingsFileStore::Save(file.mPath.c_str(), bytes, file.mKeepOriginalOnSave ? &keptAs : nullptr);
    if (error != 0) {
        std::fprintf(stderr, "%s: cannot save the settings: %s\n", ReportName(file.mPath),
                     CSettingsFileStore::ErrorText(error).c_str());
        return kFailed;
    }
    if (!keptAs.empty())
        std::fprintf(stderr, "%s: the earlier, unreadable file was kept as %s\n", ReportName(file.mPath), keptAs.c_str());
    file.mKeepOriginalOnSave = false;
    file.mDirty = 0;
    file.mDocument->ClearDirtyFlags();
    return kDone;
}

ZTRESULT CIniFileManagerProxy::CloseAll()
{
    while (!mMembers.mFiles.empty()) {
        IniFileInfo& file = *mMembers.mFiles.back();
        if (file.mDirty)
            (void)Write(file); // a failure is already on standard error; closing goes on
        mMembers.mFiles.pop_back();
    }
    return kDone;
}

ZTRESULT CIniFileManagerProxy::SaveFile(IniFileHandle handle)
{
    IniFileInfo* file = Find(handle);
    if (!file)
        return kUnknownHandle;
    if (!file->mDirty)
        return kDone;
    return Write(*file);
}

bool CIniFileManagerProxy::KeyExists(IniFileHandle handle, const WString& key)
{
    const IniFileInfo* file = Find(handle);
    return file && FindNode(*file, key);
}

ZTRESULT CIniFileManagerProxy::CloseFile(IniFileHandle handle, bool save)
{
    if (!Find(handle))
        return kUnknownHandle;
    const ZTRESULT result = save ? SaveFile(handle) : kDone;
    std::erase_if(mMembers.mFiles, [handle](const auto& file) { return file->mHandle == handle; });
    return result;
}

ZTRESULT CIniFileManagerProxy::GetInteger(IniFileHandle handle, const WString& key, std::int32_t defaultValue,
                                          std::int32_t& value)
{
    value = defaultValue;
    const IniFileInfo* file = Find(handle);
    if (!file)
        return kUnknownHandle;
    const XNode* node = FindNode(*file, key);
    if (!node)
        return kDone;
    switch (node->GetType()) {
    case XNode::Type::Boolean:
        value = node->GetBoolean() ? 1 : 0;
        return kDone;
    case XNode::Type::Integer:
        value = node->GetInteger();
        return kDone;
    case XNode::Type::Real:
        value = TruncateReal(node->GetReal());
        return kDone;
    case XNode::Type::None:
    case XNode::Type::String:
    case XNode::Type::Dictionary:
    case XNode::Type::Array:
    case XNode::Type::Data:
        value = 0;
        return kDone;
    }
    return kDone;
}

ZTRESULT CIniFileManagerProxy::SetInteger(IniFileHandle handle, const WString& key, std::int32_t value)
{
    IniFileInfo* file = Find(handle);
    if (!file)
        return kUnknownHandle;
    XNode* node = FindOrCreateNode(*file, key);
    if (!node)
        return kFailed;
    node->SetInteger(value);
    MarkChanged(*file, *node);
    return kDone;
}

ZTRESULT CIniFileManagerProxy::GetString(IniFileHandle handle, const WString& key, const WString& defaultValue,
                                         WString& value)
{
    value = defaultValue;
    const IniFileInfo* file = Find(handle);
    if (!file)
        return kUnknownHandle;
    if (const XNode* node = FindNode(*file, key))
        value = ToWide(node->GetText());
    return kDone;
}

ZTRESULT CIniFileManagerProxy::SetString(IniFileHandle handle, const WString& key, const WString& value)
{
    IniFileInfo* file = Find(handle);
    if (!file)
        return kUnknownHandle;
    XNode* node = FindOrCreateNode(*file, key);
    if (!node)
        return kFailed;
    node->SetString(value.Convert());
    MarkChanged(*file, *node);
    return kDone;
}

ZTRESULT CIniFileManagerProxy::GetChildCount(IniFileHandle handle, const WString& key, std::int32_t& count)
{
    count = 0;
    const IniFileInfo* file = Find(handle);
    if (!file)
        return kUnknownHandle;
    const XNode* node = FindNode(*file, key);
    if (!node)
        return kFailed;
    count = static_cast<std::int32_t>(node->GetChildCount());
    return kDone;
}

ZTRESULT CIniFileManagerProxy::GetChildName(IniFileHandle handle, const WString& key, std::int32_t index, WString& name)
{
    name = WString();
    const IniFileInfo* file = Find(handle);
    if (!file)
        return kUnknownHandle;
    const XNode* node = FindNode(*file, key);
    if (!node || index < 0)
        return kFailed;
    const XNode* child = node->GetChild(static_cast<std::size_t>(index));
    if (!child)
        return kFailed;
    name = ToWide(child->GetName());
    return kDone;
}

ZTRESULT CIniFileManagerProxy::GetArraySize(IniFileHandle handle, const WString& key, std::int32_t& size)
{
    size = 0;
    const IniFileInfo* file = Find(handle);
    if (!file)
        return kUnknownHandle;
    const XNode* node = FindNode(*file, key);
    if (!node || node->GetType() != XNode::Type::Array)
        return kFailed;
    size = static_cast<std::int32_t>(node->GetChildCount());
    return kDone;
}

ZTRESULT CIniFileManagerProxy::ResizeArray(IniFileInfo& file, XNode& node, std::int32_t size)
{
    node.SetType(XNode::Type::Array);
    const auto count = static_cast<std::size_t>(size);
    node.TruncateChildren(count);
    while (node.GetChildCount() < count)
        node.AppendChild(NString()).SetString(NString());
    MarkChanged(file, node);
    return kDone;
}

ZTRESULT CIniFileManagerProxy::SetArraySize(IniFileHandle handle, const WString& key, std::int32_t size)
{
    IniFileInfo* file = Find(handle);
    if (!file)
        return kUnknownHandle;
    if (size < 0 || static_cast<std::uint32_t>(size) > CKeyPath::kMaxCreatedIndex + 1)
        return kFailed;
    XNode* node = FindOrCreateNode(*file, key);
    if (!node)
        return kFailed;
    return ResizeArray(*file, *node, size);
}

ZTRESULT CIniFileManagerProxy::GetArrayString(IniFileHandle handle, const WString& key, std::int32_t index,
                                              WString& value)
{
    value = WString();
    const IniFileInfo* file = Find(handle);
    if (!file)
        return kUnknownHandle;
    const XNode* node = FindNode(*file, key);
    if (!node || node->GetType() != XNode::Type::Array || index < 0)
        return kFailed;
    const XNode* item = node->GetChild(static_cast<std::size_t>(index));
    if (!item)
        return kFailed;
    value = ToWide(item->GetText());
    return kDone;
}

ZTRESULT CIniFileManagerProxy::SetArrayString(IniFileHandle handle, const WString& key, std::int32_t index,
                                              const WString& value)
{
    IniFileInfo* file = Find(handle);
    if (!file)
        return kUnknownHandle;
    if (index < 0 || static_cast<std::uint32_t>(index) > CKeyPath::kMaxCreatedIndex)
        return kFailed;
    XNode* node = FindOrCreateNode(*file, key);
    if (!node)
        return kFailed;
    // Only an array's children are items; anything else has none and becomes an array.
    const std::size_t items = node->GetType() == XNode::Type::Array ? node->GetChildCount() : 0;
    if (static_cast<std::size_t>(index) >= items)
        (void)ResizeArray(*file, *node, index + 1); // always done
    XNode& item = *node->GetChild(static_cast<std::size_t>(index));
    item.SetString(value.Convert());
    MarkChanged(*file, item);
    return kDone;
}

ZTRESULT CIniFileManagerProxy::RemoveArrayItem(IniFileHandle handle, const WString& key, std::int32_t index)
{
    IniFileInfo* file = Find(handle);
    if (!file)
        return kUnknownHandle;
    XNode* node = FindNode(*file, key);
    if (!node || node->GetType() != XNode::Type::Array || index < 0 ||
        static_cast<std::size_t>(index) >= node->GetChildCount())
        return kFailed;
    node->RemoveChild(static_cast<std::size_t>(index));
    MarkChanged(*file, *node);
    return kDone;
}

} // namespace ZT
