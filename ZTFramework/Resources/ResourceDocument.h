#pragma once
// One document or image read whole into memory, from the program's built-in resources or from a
// file.
//
// A path that starts with "::" names a built-in resource (see CBuiltInResources); any other path
// is a file. A file is read only when it is a regular file of at most kMaxSize bytes, so a
// mistaken path to a device, a pipe or a huge file gives a clear failure instead of a hang or an
// exhausted memory.
//
// Not guarded: one object is used by one thread at a time.

#include "ZTFramework/Errors/Result.h"

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace ZT {

class CResourceDocument {
public:
    // The largest document or image accepted, in bytes. Our own documents are far below it.
    static constexpr std::size_t kMaxSize = 4u * 1024u * 1024u;
    // The location that stands for the built-in resources.
    static constexpr std::string_view kBuiltInLocation = "::";

    // The path of a document at a location: "::" plus the resource name for the built-in
    // location, else the folder, a "/" unless it already ends with one, and the file name.
    [[nodiscard]] static std::string PathAt(std::string_view location, std::string_view resourceName,
                                            std::string_view fileName);
    [[nodiscard]] static bool IsBuiltInPath(std::string_view path) { return path.starts_with(kBuiltInLocation); }

    // Reads the document at path. S_OK: the bytes are available. S_FALSE: there is no such
    // resource or file. E_FAIL: it exists but cannot be used (GetFailureReason says why).
    // E_OUTOFMEMORY: the memory for its bytes could not be had.
    [[nodiscard]] ZTRESULT Read(std::string_view path);

    [[nodiscard]] std::span<const std::uint8_t> GetBytes() const noexcept { return mBytes; }
    [[nodiscard]] const std::string& GetPath() const noexcept { return mPath; }
    [[nodiscard]] const std::string& GetFailureReason() const noexcept { return mFailureReason; }

private:
    [[nodiscard]] ZTRESULT ReadFile();
    ZTRESULT Refuse(std::string reason);

    std::string mPath;
    std::string mFailureReason;
    std::vector<std::uint8_t> mStorage;       // a file's bytes; built-in bytes are not copied
    std::span<const std::uint8_t> mBytes;
};

} // namespace ZT
