#pragma once
// A file opened through the operating system, read in binary.
//
// Only what the firmware reader needs: open a regular file read-only (other processes may read
// and write it meanwhile, as Windows' sharing flags would allow), seek to an absolute offset,
// read, ask the length, close. Reads and seeks block until the kernel answers; there is no
// time-out, which is fine for local files.
//
// Not guarded: one File is used by one thread at a time. The object owns its descriptor and
// closes it on destruction; it can be moved but not copied.

#include "ZTFramework/Errors/Result.h"

#include <cstddef>
#include <cstdint>

namespace ZT {

template <class C, class O>
class StringT;

class File {
public:
    enum class OpenMode : std::uint32_t {
        // Binary, read-only, shared with other readers and writers.
        ReadBinaryShared = 0,
    };

    File() noexcept = default;
    File(const File&) = delete;
    File& operator=(const File&) = delete;
    File(File&& other) noexcept;
    File& operator=(File&& other) noexcept;
    ~File();

    // Closes any file already open, then opens path (UTF-32 text, converted to UTF-8 for the
    // system). Returns S_OK; E_FAIL when the path cannot be opened or does not name a regular
    // file (a folder, a pipe or a device is refused, so a read can neither fail on a folder nor
    // wait for a writer); E_INVALIDARG for an empty path.
    [[nodiscard]] ZTRESULT Open(const StringT<wchar_t, char>& path, OpenMode mode);
    // Does nothing when no file is open.
    void Close() noexcept;
    [[nodiscard]] bool IsOpen() const noexcept { return mDescriptor >= 0; }

    // Sets the read position. A position past the end is allowed; reads there return 0 bytes.
    // Throws a logic error when no file is open, an out-of-range error for an offset the system
    // cannot represent, a runtime error when the system refuses.
    void Seek(std::uint64_t offset);
    // Reads up to count bytes at the read position into buffer and advances the position.
    // Returns the count read: less than count only at the end of the file. Throws a runtime error
    // (with the system's reason) when the system reports a read error, a logic error when no
    // file is open.
    [[nodiscard]] std::size_t Read(void* buffer, std::size_t count);
    // The file's size in bytes. Throws as Read does.
    [[nodiscard]] std::uint64_t GetLength() const;

private:
    int mDescriptor = -1;
};

} // namespace ZT
