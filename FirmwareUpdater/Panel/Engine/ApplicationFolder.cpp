#include "FirmwareUpdater/Panel/Engine/ApplicationFolder.h"

#include <filesystem>
#include <mutex>
#include <system_error>

namespace {

std::mutex gFolderMutex;
ZT::WString gFolder; // guarded by gFolderMutex; empty: the program's own folder

ZT::WString ProgramFolder()
{
    std::error_code error;
    const std::filesystem::path program = std::filesystem::read_symlink("/proc/self/exe", error);
    if (error || program.empty())
        return ZT::WString();
    return ZT::WString(program.parent_path().string().c_str());
}

} // namespace

ZT::WString GetApplicationFolder()
{
    {
        std::lock_guard lock(gFolderMutex);
        if (!gFolder.IsEmpty())
            return gFolder;
    }
    return ProgramFolder();
}

void SetApplicationFolder(const ZT::WString& folder)
{
    ZT::WString trimmed = folder;
    // "/opt/updater/" and "/opt/updater" name the same folder; the root stays "/".
    while (trimmed.GetLength() > 1 && trimmed.View().back() == L'/')
        trimmed = trimmed.Left(trimmed.GetLength() - 1);
    std::lock_guard lock(gFolderMutex);
    gFolder = trimmed;
}
