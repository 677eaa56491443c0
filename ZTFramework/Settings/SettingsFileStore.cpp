#include "ZTFramework/Settings/SettingsFileStore.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <fstream>
#include <sys/stat.h>
#include <system_error>
#include <unistd.h>
#include <vector>

namespace ZT {

namespace {

int LastError()
{
    return errno != 0 ? errno : CSettingsFileStore::kUnknownError;
}

// Closes a descriptor on every path out of a function.
class DescriptorCloser {
public:
    explicit DescriptorCloser(int descriptor) : mDescriptor(descriptor) {}
    DescriptorCloser(const DescriptorCloser&) = delete;
    DescriptorCloser& operator=(const DescriptorCloser&) = delete;
    ~DescriptorCloser()
    {
        if (mDescriptor >= 0)
            ::close(mDescriptor);
    }
    // Closes now and reports the result, since close is where some file systems report a
    // failed write.
    int Close()
    {
        const int descriptor = mDescriptor;
        mDescriptor = -1;
        return ::close(descriptor);
    }

private:
    int mDescriptor;
};

// The process's file-creation mask, read without changing it (umask() would, for a moment, for
// every thread).
mode_t CurrentUmask()
{
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("Umask:", 0) == 0)
            return static_cast<mode_t>(std::strtoul(line.c_str() + 6, nullptr, 8) & 0777);
    }
    return 022;
}

std::string FolderOf(const std::string& path)
{
    const std::size_t slash = path.rfind('/');
    if (slash == std::string::npos)
        return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

// The path a save replaces: the file a symbolic link points to, or the path itself.
std::string SaveTarget(const std::string& path)
{
    struct stat info {};
    if (::lstat(path.c_str(), &info) != 0 || !S_ISLNK(info.st_mode))
        return path;
    char* resolved = ::realpath(path.c_str(), nullptr);
    if (!resolved)
        return path; // a dangling link: the save replaces the link itself
    std::string target(resolved);
    std::free(resolved);
    return target;
}

void FlushFolder(const std::string& folder)
{
    const int descriptor = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (descriptor < 0)
        return;
    // A failure here only means the rename may not yet be on the disk; both the old and the new
    // file are complete either way.
    (void)::fsync(descriptor);
    ::close(descriptor);
}

} // namespace

std::string CSettingsFileStore::ErrorText(int error)
{
    return std::error_code(error, std::generic_category()).message();
}

CSettingsFileStore::ReadResult CSettingsFileStore::ReadWholeFile(const std::string& path)
{
    ReadResult result;
    // Non-blocking, so that opening a pipe does not wait for a writer; regular files ignore it.
    const int descriptor = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (descriptor < 0) {
        const int error = LastError();
        result.mStatus = error == ENOENT ? ReadStatus::Missing : ReadStatus::Failed;
        result.mReason = ErrorText(error);
        return result;
    }
    DescriptorCloser closer(descriptor);
    result.mStatus = ReadStatus::Failed;
    struct stat info {};
    if (::fstat(descriptor, &info) != 0) {
        result.mReason = ErrorText(LastError());
        return result;
    }
    if (!S_ISREG(info.st_mode)) {
        result.mReason = S_ISDIR(info.st_mode) ? ErrorText(EISDIR) : "not a regular file";
        return result;
    }
    const auto tooLarge = [&] {
        result.mBytes.clear();
        result.mReason = "the file is larger than " + std::to_string(kMaxFileSize) + " bytes";
        return result;
    };
    if (static_cast<std::uint64_t>(info.st_size) > kMaxFileSize)
        return tooLarge();

    // The size may change while we read; read to the end, but never past the limit.
    result.mBytes.resize(static_cast<std::size_t>(info.st_size) + 1);
    std::size_t filled = 0;
    for (;;) {
        if (filled == result.mBytes.size()) {
            if (filled > kMaxFileSize)
                return tooLarge();
            result.mBytes.resize(std::min<std::size_t>(filled * 2 + 4096, kMaxFileSize + 1));
        }
        const ssize_t count = ::read(descriptor, result.mBytes.data() + filled, result.mBytes.size() - filled);
        if (count < 0 && errno == EINTR)
            continue;
        if (count < 0) {
            result.mBytes.clear();
            result.mReason = ErrorText(LastError());
            return result;
        }
        if (count == 0)
            break;
        filled += static_cast<std::size_t>(count);
    }
    result.mBytes.resize(filled);
    result.mStatus = ReadStatus::Read;
    return result;
}

int CSettingsFileStore::WriteTemporary(const std::string& target, std::string_view bytes, std::string& temporary)
{
    std::vector<char> name(target.begin(), target.end());
    const std::string_view suffix = ".tmp-XXXXXX";
    name.insert(name.end(), suffix.begin(), suffix.end());
    name.push_back('\0');
    errno = 0;
    const int descriptor = ::mkostemp(name.data(), O_CLOEXEC);
    if (descriptor < 0)
        return LastError();
    temporary = name.data();
    DescriptorCloser closer(descriptor);

    struct stat existing {};
    const mode_t mode = ::stat(target.c_str(), &existing) == 0 ? (existing.st_mode & 07777) : (0666 & ~CurrentUmask());
    if (::fchmod(descriptor, mode) != 0)
        return LastError();

    while (!bytes.empty()) {
        errno = 0;
        const ssize_t written = ::write(descriptor, bytes.data(), bytes.size());
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0)
            return LastError();
        bytes.remove_prefix(static_cast<std::size_t>(written));
    }
    errno = 0;
    if (::fsync(descriptor) != 0)
        return LastError();
    errno = 0;
    if (closer.Close() != 0)
        return LastError();
    return 0;
}

int CSettingsFileStore::KeepAsBroken(const std::string& path, std::string& keptAs)
{
    constexpr int kMaxNumber = 999;
    struct stat info {};
    if (::lstat(path.c_str(), &info) != 0)
        return errno == ENOENT ? 0 : LastError();
    if (!S_ISREG(info.st_mode))
        return 0;

    bool canLink = true;
    for (int number = 1; number <= kMaxNumber; ++number) {
        const std::string candidate = path + ".broken" + (number == 1 ? std::string() : "-" + std::to_string(number));
        errno = 0;
        if (canLink && ::link(path.c_str(), candidate.c_str()) == 0) {
            keptAs = candidate;
            return 0;
        }
        if (canLink && errno == EEXIST)
            continue;
        if (canLink && errno == ENOENT)
            return 0; // gone meanwhile: nothing left to keep
        // No hard links here (or not allowed): move the file aside instead, never over another.
        canLink = false;
        errno = 0;
        if (::renameat2(AT_FDCWD, path.c_str(), AT_FDCWD, candidate.c_str(), RENAME_NOREPLACE) == 0) {
            keptAs = candidate;
            return 0;
        }
        if (errno == EEXIST)
            continue;
        return LastError();
    }
    return EEXIST;
}

int CSettingsFileStore::Save(const std::string& path, std::string_view bytes, std::string* keepExistingAs)
{
    const std::string target = SaveTarget(path);
    std::string temporary;
    int error = WriteTemporary(target, bytes, temporary);
    if (error == 0 && keepExistingAs)
        error = KeepAsBroken(target, *keepExistingAs);
    if (error == 0) {
        errno = 0;
        if (::rename(temporary.c_str(), target.c_str()) != 0)
            error = LastError();
    }
    if (error != 0) {
        if (!temporary.empty())
            ::unlink(temporary.c_str());
        return error;
    }
    FlushFolder(FolderOf(target));
    return 0;
}

} // namespace ZT
