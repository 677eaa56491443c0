// LUpdateEngineInterface's firmware file: its path and version, the file state, the version read
// from the file's name, and the refusal of images made for simulated devices.

#include "FirmwareUpdater/Panel/Engine/UpdateEngineInterface.h"

#include "FirmwareUpdater/Panel/Engine/DfuSeFirmwareFile.h"
#include "FirmwareUpdater/Panel/Engine/ProductDevice.h"
#include "ZTFramework/Debug/DebugLine.h"
#include "ZTFramework/Usb/UsbBackend.h"

#include <exception>
#include <filesystem>
#include <string_view>
#include <system_error>

using Interface = LUpdateEngineInterface;
using ZT::E_FAIL;
using ZT::E_INVALIDARG;
using ZT::S_OK;
using ZT::ZTRESULT;

namespace {

// An existing file system object that is not a folder (a file, or a link to one).
bool IsExistingFile(const ZT::WString& path)
{
    if (path.IsEmpty())
        return false;
    std::error_code error;
    const std::filesystem::path fsPath(path.ToUTF8());
    const std::filesystem::file_status status = std::filesystem::status(fsPath, error);
    if (error || !std::filesystem::exists(status))
        return false;
    return !std::filesystem::is_directory(status);
}

} // namespace

bool Interface::RefusesSimulationImage(const ZT::WString& path)
{
    if (ZT::GetUsbBackend()->IsSimulated())
        return false;
    bool marked = false;
    try {
        marked = LDfuSeFirmwareFile::IsSimulationImage(path);
    } catch (const std::exception&) {
        return false;
    }
    if (!marked)
        return false;
    ZT::CDebugLine() << "Engine: refusing firmware file \"" << path.ToUTF8()
                     << "\": it is an image for simulated devices only and the USB devices are real";
    return true;
}

ZTRESULT Interface::StoreFirmwareFile(const ZT::WString& path, const FirmwareVersion& version)
{
    {
        std::lock_guard lock(mFileMutex);
        mFirmwareFilePath = path;
        mFirmwareFileVersion = version;
    }
    if (!IsExistingFile(path) || RefusesSimulationImage(path)) {
        SetFirmwareFileState(FirmwareFileState::FileInvalid);
        return E_FAIL;
    }
    SetFirmwareFileState(FirmwareFileState::FileFoundVersionKnown);
    return S_OK;
}

ZTRESULT Interface::SetFirmwareFileWithVersion(const ZT::WString& path, const FirmwareVersion& version)
{
    return StoreFirmwareFile(path, version);
}

ZTRESULT Interface::SetFirmwareFile(const ZT::WString& path)
{
    if (!IsExistingFile(path)) {
        {
            std::lock_guard lock(mFileMutex);
            mFirmwareFilePath = path;
        }
        SetFirmwareFileState(FirmwareFileState::FileInvalid);
        return E_FAIL;
    }
    return StoreFirmwareFile(path, kControllerDevice.GetFirmwareVersion());
}

void Interface::SetFirmwareFileVersion(const FirmwareVersion& version)
{
    {
        std::lock_guard lock(mFileMutex);
        mFirmwareFileVersion = version;
    }
    if (GetFirmwareFileState() == FirmwareFileState::FileFoundVersionUnknown)
        SetFirmwareFileState(FirmwareFileState::FileFoundVersionKnown);
}

ZTRESULT Interface::GetFirmwareFilePath(ZT::WString& path) const
{
    std::lock_guard lock(mFileMutex);
    path = mFirmwareFilePath;
    return path.IsEmpty() ? E_FAIL : S_OK;
}

ZTRESULT Interface::GetFirmwareFileVersionText(ZT::WString& text) const
{
    text = L"N/A";
    if (GetFirmwareFileState() != FirmwareFileState::FileFoundVersionKnown)
        return E_FAIL;
    std::lock_guard lock(mFileMutex);
    text = mFirmwareFileVersion.Text;
    return S_OK;
}

ZTRESULT Interface::GetFirmwareFileVersion(FirmwareVersion& version) const
{
    {
        std::lock_guard lock(mFileMutex);
        version = mFirmwareFileVersion;
    }
    return GetFirmwareFileState() == FirmwareFileState::FileFoundVersionKnown ? S_OK : E_FAIL;
}

bool Interface::ParseFirmwareFileVersionFromName()
{
    ZT::WString path;
    if (ZT::Failed(GetFirmwareFilePath(path)))
        return false;

    // The file name: what follows the last separator of either kind, unless the path ends with it.
    std::wstring_view name = path.View();
    const std::size_t separator = name.find_last_of(L"\\/");
    if (separator != std::wstring_view::npos && separator + 1 < name.size())
        name.remove_prefix(separator + 1);

    const std::size_t marker = name.find(L"_V");
    if (marker == std::wstring_view::npos)
        return false;
    std::size_t i = marker + 2;
    const auto digitAt = [&name](std::size_t at) -> int {
        if (at >= name.size() || name[at] < L'0' || name[at] > L'9')
            return -1;
        return static_cast<int>(name[at] - L'0');
    };

    int major = digitAt(i);
    if (major < 0)
        return false;
    ++i;
    if (const int second = digitAt(i); second >= 0) {
        major = major * 10 + second;
        ++i;
    }
    if (i >= name.size() || name[i] != L'_')
        return false;
    ++i;
    const int minor = digitAt(i);
    const int sub = digitAt(i + 1);
    if (minor < 0 || sub < 0)
        return false;

    FirmwareVersion version(static_cast<std::uint32_t>(major), static_cast<std::uint32_t>(minor),
                            static_cast<std::uint32_t>(sub), 0);
    (void)version.Text.Format(L"%d.%d.%d", major, minor, sub); // three small numbers always fit
    SetFirmwareFileVersion(version);
    return true;
}

void Interface::SetFirmwareFileState(FirmwareFileState state)
{
    const FirmwareFileState old = mFirmwareFileState.exchange(state);
    if (old != state)
        PostFirmwareFileStateChange(state, old);
}
