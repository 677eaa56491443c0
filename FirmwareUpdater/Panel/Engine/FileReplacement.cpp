#include "FirmwareUpdater/Panel/Engine/FileReplacement.h"

#include <atomic>
#include <cerrno>
#include <cstring>
#include <filesystem>

#include <fcntl.h>
#include <unistd.h>

bool WriteAllToDescriptor(int fd, std::string_view text)
{
    while (!text.empty()) {
        const ssize_t written = ::write(fd, text.data(), text.size());
        if (written < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        text.remove_prefix(static_cast<std::size_t>(written));
    }
    return true;
}

bool ReplaceFileContents(const std::string& path, std::string_view text, std::string& message)
{
    static std::atomic<unsigned> counter{0};
    std::string temporary;
    int fd = -1;
    // A leftover of a run killed while writing keeps its name; the next name is tried.
    for (int attempt = 0; attempt < 16 && fd < 0; ++attempt) {
        temporary = path + ".new." + std::to_string(::getpid()) + "." + std::to_string(counter++);
        fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
        if (fd < 0 && errno != EEXIST)
            break;
    }
    if (fd < 0) {
        message = "cannot create " + temporary + " (" + std::strerror(errno) + ")";
        return false;
    }
    const bool written = WriteAllToDescriptor(fd, text) && ::fsync(fd) == 0;
    const int writeError = errno;
    const bool closed = ::close(fd) == 0;
    if (!written || !closed) {
        message = "cannot write " + temporary + " (" + std::strerror(written ? errno : writeError) + ")";
        ::unlink(temporary.c_str());
        return false;
    }
    if (::rename(temporary.c_str(), path.c_str()) != 0) {
        message = "cannot rename " + temporary + " to " + path + " (" + std::strerror(errno) + ")";
        ::unlink(temporary.c_str());
        return false;
    }
    // The rename itself survives a power cut only once the folder is synced.
    const std::string folder = std::filesystem::path(path).parent_path().string();
    if (const int folderFd = ::open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        folderFd >= 0) {
        static_cast<void>(::fsync(folderFd));
        ::close(folderFd);
    }
    return true;
}
