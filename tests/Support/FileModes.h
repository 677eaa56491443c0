#pragma once
// What the file-mode tests share: a umask for the span of a test, and a check of a file's or
// folder's mode that names both modes in octal. As root these checks see the modes only; run as an
// unprivileged user (the ctest entry unprivileged_file_tests), the read-back checks also meet the
// permissions themselves.

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

namespace ZT::Testing {

// Sets the process's file-creation mask, and puts the previous one back.
class UmaskScope {
public:
    explicit UmaskScope(mode_t mask) : mPrevious(::umask(mask)) {}
    ~UmaskScope() { ::umask(mPrevious); }
    UmaskScope(const UmaskScope&) = delete;
    UmaskScope& operator=(const UmaskScope&) = delete;

private:
    mode_t mPrevious;
};

inline std::string Octal(mode_t mode)
{
    char text[8];
    std::snprintf(text, sizeof text, "0%03o", static_cast<unsigned>(mode & 07777));
    return text;
}

// The permission bits of path are expected; the failure names both in octal.
inline ::testing::AssertionResult HasMode(const std::string& path, mode_t expected)
{
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0)
        return ::testing::AssertionFailure() << path << " does not exist";
    if ((info.st_mode & 07777) != expected)
        return ::testing::AssertionFailure() << path << " has mode " << Octal(info.st_mode) << ", expected "
                                             << Octal(expected);
    if (info.st_uid != ::geteuid())
        return ::testing::AssertionFailure() << path << " belongs to user " << info.st_uid << ", not to the user "
                                             << ::geteuid() << " who made it";
    return ::testing::AssertionSuccess();
}

// The calling user may read (and, with write, write) path, by its permissions.
inline ::testing::AssertionResult UserMayUse(const std::string& path, bool write)
{
    if (::access(path.c_str(), write ? R_OK | W_OK : R_OK) != 0)
        return ::testing::AssertionFailure() << "user " << ::geteuid() << " may not " << (write ? "read and write " : "read ")
                                             << path;
    return ::testing::AssertionSuccess();
}

} // namespace ZT::Testing
