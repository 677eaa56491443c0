#pragma once
// The file a fuzzer's input is written to when the code under test reads files by path.

#include "fuzz/FuzzCheck.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <sys/types.h>
#include <unistd.h>

// One file per fuzzing process, rewritten for every input.
class InputFile {
public:
    explicit InputFile(const char* name)
    {
        // A memory file system keeps the many rewrites off the disk.
        const char* folder = std::getenv("TMPDIR");
        if (folder == nullptr || *folder == '\0')
            folder = ::access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
        std::string pattern = std::string(folder) + "/" + name + "-XXXXXX";
        mDescriptor = ::mkstemp(pattern.data());
        Check(mDescriptor >= 0);
        mPath = pattern;
    }
    ~InputFile()
    {
        ::close(mDescriptor);
        ::unlink(mPath.c_str());
    }

    // Writes first and cuts to length afterwards: on ext4, truncating a file to nothing makes the
    // next close flush it to disk, which would slow every input down to the disk's pace.
    void Write(const std::uint8_t* data, std::size_t size)
    {
        std::size_t written = 0;
        while (written < size) {
            const ssize_t n = ::pwrite(mDescriptor, data + written, size - written, static_cast<off_t>(written));
            Check(n > 0);
            written += static_cast<std::size_t>(n);
        }
        Check(::ftruncate(mDescriptor, static_cast<off_t>(size)) == 0);
    }
    const std::string& GetPath() const { return mPath; }

private:
    int mDescriptor = -1;
    std::string mPath;
};
