#include "FirmwareUpdater/Panel/Engine/BootloaderRoleRecord.h"

#include "FirmwareUpdater/Panel/Engine/FileReplacement.h"

#include "ZTFramework/Debug/DebugLine.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <mutex>
#include <sstream>
#include <sys/stat.h>
#include <system_error>
#include <unistd.h>

namespace {

std::mutex gFolderMutex;
std::string gFolder; // guarded by gFolderMutex

constexpr std::array<const char*, 2> kKindNames{"controller", "wheel-display"};

std::size_t IndexOf(ProductDevice::Kind kind)
{
    return kind == ProductDevice::Kind::WheelDisplay ? 1 : 0;
}

std::string ErrnoText(int error)
{
    return std::string(std::strerror(error));
}

// Reads a regular file of at most limit bytes without following a final symbolic link.
// nullopt with reason when it is missing (reason empty), not a regular file, too large or
// unreadable.
std::optional<std::string> ReadSmallFile(const std::string& path, std::size_t limit, std::string& reason)
{
    reason.clear();
    const int fd = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) {
        if (errno != ENOENT)
            reason = "cannot be opened (" + ErrnoText(errno) + ")";
        return std::nullopt;
    }
    struct stat status {};
    std::optional<std::string> text;
    if (::fstat(fd, &status) != 0 || !S_ISREG(status.st_mode)) {
        reason = "is not a regular file";
    } else if (static_cast<std::size_t>(status.st_size) > limit) {
        reason = "is larger than " + std::to_string(limit) + " bytes";
    } else {
        std::string content(limit + 1, '\0');
        std::size_t used = 0;
        for (;;) {
            const ssize_t got = ::read(fd, content.data() + used, content.size() - used);
            if (got < 0 && errno == EINTR)
                continue;
            if (got < 0) {
                reason = "cannot be read (" + ErrnoText(errno) + ")";
                break;
            }
            if (got == 0) {
                content.resize(used);
                text = std::move(content);
                break;
            }
            used += static_cast<std::size_t>(got);
            if (used > limit) {
                reason = "is larger than " + std::to_string(limit) + " bytes";
                break;
            }
        }
    }
    ::close(fd);
    return text;
}

} // namespace

void CBootloaderRoleRecord::SetFolder(const std::string& folder)
{
    std::lock_guard lock(gFolderMutex);
    gFolder = folder;
}

std::string CBootloaderRoleRecord::GetFolder()
{
    std::lock_guard lock(gFolderMutex);
    return gFolder;
}

std::string CBootloaderRoleRecord::GetFilePath()
{
    const std::string folder = GetFolder();
    if (folder.empty())
        return folder;
    return folder + (folder.back() == '/' ? "" : "/") + kFileName;
}

bool CBootloaderRoleRecord::IsStorableSerial(std::string_view serial)
{
    if (serial.empty() || serial.size() > kMaxSerialLength)
        return false;
    for (const char c : serial) {
        if (c <= ' ' || c > '~')
            return false;
    }
    return true;
}

const std::string& CBootloaderRoleRecord::GetSerial(Kind kind) const
{
    return mSerials[IndexOf(kind)];
}

std::optional<CBootloaderRoleRecord::Kind> CBootloaderRoleRecord::FindKind(const std::string& serial) const
{
    if (serial.empty())
        return std::nullopt;
    for (const Kind kind : {Kind::Controller, Kind::WheelDisplay}) {
        if (GetSerial(kind) == serial)
            return kind;
    }
    return std::nullopt;
}

bool CBootloaderRoleRecord::SetSerial(Kind kind, const std::string& serial)
{
    if (!IsStorableSerial(serial))
        return false;
    // One chip cannot be both devices: a serial seen as this device is no longer the other's.
    for (std::string& recorded : mSerials) {
        if (recorded == serial)
            recorded.clear();
    }
    mSerials[IndexOf(kind)] = serial;
    return true;
}

std::optional<CBootloaderRoleRecord> CBootloaderRoleRecord::Parse(std::string_view text, std::string& reason)
{
    CBootloaderRoleRecord record;
    std::size_t lineNumber = 0;
    while (!text.empty()) {
        const std::size_t end = text.find('\n');
        std::string_view line = text.substr(0, end);
        text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
        ++lineNumber;
        if (line.empty() || line.front() == '#')
            continue;
        const std::string at = "line " + std::to_string(lineNumber) + ": ";
        const std::size_t blank = line.find(' ');
        if (blank == std::string_view::npos) {
            reason = at + "no serial number after the device";
            return std::nullopt;
        }
        const std::string_view name = line.substr(0, blank);
        const std::string serial(line.substr(blank + 1));
        std::optional<Kind> kind;
        for (const Kind candidate : {Kind::Controller, Kind::WheelDisplay}) {
            if (name == kKindNames[IndexOf(candidate)])
                kind = candidate;
        }
        if (!kind) {
            reason = at + "unknown device \"" + std::string(name) + "\"";
            return std::nullopt;
        }
        if (!IsStorableSerial(serial)) {
            reason = at + "not a serial number";
            return std::nullopt;
        }
        if (!record.GetSerial(*kind).empty()) {
            reason = at + "the " + std::string(name) + " is named twice";
            return std::nullopt;
        }
        if (record.FindKind(serial)) {
            reason = at + "both devices have the serial number " + serial;
            return std::nullopt;
        }
        record.mSerials[IndexOf(*kind)] = serial;
    }
    return record;
}

std::string CBootloaderRoleRecord::Format() const
{
    std::string text = "# The USB serial numbers of the XR4000 NOVA's bootloaders; written by its updater.\n";
    for (const Kind kind : {Kind::Controller, Kind::WheelDisplay}) {
        if (!GetSerial(kind).empty())
            text += std::string(kKindNames[IndexOf(kind)]) + " " + GetSerial(kind) + "\n";
    }
    return text;
}

bool CBootloaderRoleRecord::SaveTo(const std::string& path, std::string& message) const
{
    return ReplaceFileContents(path, Format(), message);
}

CBootloaderRoleRecord CBootloaderRoleRecord::Load()
{
    const std::string path = GetFilePath();
    if (path.empty())
        return {};
    std::string reason;
    const std::optional<std::string> text = ReadSmallFile(path, kMaxFileSize, reason);
    if (!text) {
        if (!reason.empty())
            ZT::CDebugLine() << "Devices: ignoring the record of bootloader serial numbers: " << path << " " << reason
                             << ".";
        return {};
    }
    std::optional<CBootloaderRoleRecord> record = Parse(*text, reason);
    if (!record) {
        ZT::CDebugLine() << "Devices: ignoring the damaged record of bootloader serial numbers " << path << " ("
                         << reason << "); it is written afresh when a device next enters update mode.";
        return {};
    }
    return *record;
}

bool CBootloaderRoleRecord::Remember(Kind kind, const std::string& serial)
{
    const char* name = kKindNames[IndexOf(kind)];
    if (!IsStorableSerial(serial)) {
        ZT::CDebugLine() << "Devices: the " << name << "'s bootloader reports "
                         << (serial.empty() ? std::string("no USB serial number")
                                            : "the unusable USB serial number \"" + serial + "\"")
                         << "; a later run cannot recognise it while both devices are in update mode.";
        return true;
    }
    const std::string path = GetFilePath();
    if (path.empty())
        return true;
    CBootloaderRoleRecord record = Load();
    const CBootloaderRoleRecord before = record;
    (void)record.SetSerial(kind, serial); // storable, checked above
    if (record == before)
        return true;
    std::error_code ignored;
    std::filesystem::create_directories(GetFolder(), ignored);
    std::string message;
    if (!record.SaveTo(path, message)) {
        ZT::CDebugLine() << "Devices: the " << name << "'s bootloader serial number " << serial
                         << " cannot be recorded: " << message << ".";
        return false;
    }
    ZT::CDebugLine() << "Devices: recorded " << serial << " as the serial number of the " << name
                     << "'s bootloader in " << path;
    return true;
}
