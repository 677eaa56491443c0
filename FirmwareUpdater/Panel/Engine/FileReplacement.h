#pragma once
// Writing the updater's small state files (the bootloader-serial record, the update history) so
// that a kill or a power cut never leaves half a file: the new content goes to a new file beside
// the old one (O_EXCL, O_NOFOLLOW), is synced, and then replaces it by a rename; the folder is
// synced after the rename. A reader sees either the old file or the new one.
//
// Threads: any thread; two writers of one path at once each leave a whole file, the last rename
// wins.

#include <string>
#include <string_view>

// Writes all of text to fd, going on after EINTR; false with errno set on failure.
[[nodiscard]] bool WriteAllToDescriptor(int fd, std::string_view text);

// Replaces the file at path with text as described above. False with message set ("cannot create
// ...", "cannot write ...", "cannot rename ...", each with the system's reason) when the old file
// stays as it was; no new file is left behind then.
[[nodiscard]] bool ReplaceFileContents(const std::string& path, std::string_view text, std::string& message);
