#include "FirmwareUpdater/Panel/Engine/UpdateHistory.h"

#include "FirmwareUpdater/Panel/Engine/FileReplacement.h"

#include "ZTFramework/Debug/DebugLine.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <mutex>

#include <fcntl.h>
#include <unistd.h>

namespace {

std::mutex gFolderMutex;
std::string gFolder; // guarded by gFolderMutex

std::string Field(const std::string& text)
{
    if (text.empty())
        return "-";
    std::string field = text;
    std::replace_if(field.begin(), field.end(), [](char c) { return c == '\t' || c == '\n' || c == '\r'; }, ' ');
    return field;
}

std::string ReadAll(const std::string& path)
{
    const int fd = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0)
        return {};
    std::string text;
    char buffer[65536];
    for (;;) {
        const ssize_t got = ::read(fd, buffer, sizeof buffer);
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            break;
        text.append(buffer, static_cast<std::size_t>(got));
    }
    ::close(fd);
    return text;
}

} // namespace

void CUpdateHistory::SetFolder(const std::string& folder)
{
    std::lock_guard lock(gFolderMutex);
    gFolder = folder;
}

std::string CUpdateHistory::GetFilePath()
{
    std::lock_guard lock(gFolderMutex);
    return gFolder.empty() ? std::string() : (std::filesystem::path(gFolder) / kFileName).string();
}

bool CUpdateHistory::Record(const Entry& entry)
{
    const std::string path = GetFilePath();
    if (path.empty())
        return true;
    std::error_code ignored;
    std::filesystem::create_directories(std::filesystem::path(path).parent_path(), ignored);
    std::string message;
    if (AppendTo(path, entry, message))
        return true;
    ZT::CDebugLine() << "History: the attempt is not recorded: " << message;
    return false;
}

std::string CUpdateHistory::Now()
{
    const std::time_t now = std::time(nullptr);
    std::tm utc{};
    (void)::gmtime_r(&now, &utc); // the current time always converts
    char text[32];
    (void)std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &utc); // 20 characters always fit
    return text;
}

std::string CUpdateHistory::FormatLine(const Entry& entry)
{
    return Field(entry.Time.empty() ? Now() : entry.Time) + "\t" + Field(entry.Device) + "\t" +
           Field(entry.BootloaderSerial) + "\t" + Field(entry.VersionBefore) + "\t" + Field(entry.VersionAfter) + "\t" +
           Field(entry.Result) + "\t" + Field(entry.Failure) + "\n";
}

std::vector<std::string> CUpdateHistory::WholeLines(std::string_view text)
{
    std::vector<std::string> lines;
    for (std::size_t end = text.find('\n'); end != std::string_view::npos; end = text.find('\n')) {
        const std::string_view line = text.substr(0, end);
        text.remove_prefix(end + 1);
        if (static_cast<std::size_t>(std::count(line.begin(), line.end(), '\t')) + 1 == kFieldCount)
            lines.emplace_back(line);
    }
    return lines; // what follows the last line end is a torn append
}

std::vector<std::string> CUpdateHistory::ReadLines(const std::string& path)
{
    return WholeLines(ReadAll(path));
}

bool CUpdateHistory::AppendTo(const std::string& path, const Entry& entry, std::string& message,
                              std::size_t maxLines)
{
    const std::string line = FormatLine(entry);
    const std::string old = ReadAll(path);
    const std::size_t lineEnds = static_cast<std::size_t>(std::count(old.begin(), old.end(), '\n'));
    const bool torn = !old.empty() && old.back() != '\n';
    if (lineEnds + 1 > maxLines || torn) {
        // Over the bound, or behind a torn append: the newest whole lines, rewritten.
        std::vector<std::string> kept = WholeLines(old);
        const std::size_t keep = maxLines > 0 ? maxLines - 1 : 0;
        if (kept.size() > keep)
            kept.erase(kept.begin(), kept.end() - static_cast<std::ptrdiff_t>(keep));
        std::string text;
        for (const std::string& whole : kept)
            text += whole + "\n";
        return ReplaceFileContents(path, text + line, message);
    }
    const int fd = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0644);
    if (fd < 0) {
        message = "cannot open " + path + " (" + std::strerror(errno) + ")";
        return false;
    }
    const bool written = WriteAllToDescriptor(fd, line);
    const int error = errno;
    ::close(fd);
    if (!written) {
        message = "cannot append to " + path + " (" + std::strerror(error) + ")";
        return false;
    }
    return true;
}
