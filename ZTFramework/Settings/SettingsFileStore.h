#pragma once
// Reading and writing the bytes of one settings file, so that a crash, a kill or a full disk
// during a save never leaves a half-written file behind.
//
// A save writes a temporary file beside the target ("<file>.tmp-XXXXXX"), flushes it to the
// disk, and renames it over the target; the folder is then flushed too, so the rename itself
// survives a power cut. Until the rename the old file is untouched; after it the new one is
// complete. A symbolic link at the target is followed, so the file it points to is replaced and
// the link stays. The new file keeps the old one's permission bits, or gets 0666 less the
// process's umask when there was none, as a plain create would.
//
// A damaged file can be kept beside the new one: it is linked (or, on file systems without hard
// links, renamed) to the first free name of "<file>.broken", "<file>.broken-2", ...,
// "<file>.broken-999" before the rename. When it cannot be kept, the save fails and the damaged
// file stays where it is.
//
// All functions block on the file system; they may be called from any thread, but two saves of
// one file at once are the caller's to prevent.

#include <cstdint>
#include <string>
#include <string_view>

namespace ZT {

class CSettingsFileStore {
public:
    // Settings files are a few kilobytes; anything this large is not one of ours.
    static constexpr std::uint64_t kMaxFileSize = std::uint64_t{8} << 20;
    // The error number a failed save returns when the system gave none.
    static constexpr int kUnknownError = 5;

    enum class ReadStatus {
        Read,    // mBytes holds the whole file
        Missing, // there is no file at the path
        Failed,  // there is something at the path that cannot be read; mReason says why
    };

    struct ReadResult {
        ReadStatus mStatus = ReadStatus::Missing;
        std::string mBytes;
        std::string mReason;
    };

    // Reads the whole file in binary. A folder, a device, a pipe or a file larger than
    // kMaxFileSize fails without reading (so the call never waits for a writer).
    [[nodiscard]] static ReadResult ReadWholeFile(const std::string& path);

    // Replaces the file at path with bytes as described above. keepExistingAs: when not null,
    // the file now at path (if it is a regular file) is first kept under a ".broken" name, which
    // is stored there. Returns 0, or the system's error number (kUnknownError when it gave none).
    [[nodiscard]] static int Save(const std::string& path, std::string_view bytes, std::string* keepExistingAs = nullptr);

    // The text of a system error number ("No space left on device").
    static std::string ErrorText(int error);

private:
    static int KeepAsBroken(const std::string& path, std::string& keptAs);
    static int WriteTemporary(const std::string& target, std::string_view bytes, std::string& temporary);
};

} // namespace ZT
