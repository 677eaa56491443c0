#pragma once
// The settings service: XML property-list files (they carry the extension ".ini") opened by
// path, addressed by key paths, written back when they changed.
//
// A file is opened with a section name; every key a value operation receives is put below that
// section (the section's "." replaced by "_", then "." and the key), so all values of a file
// live in one dictionary of its root. Keys are key paths (see KeyPath.h): "Window.Recent[2]".
//
// Results of the operations:
//   kDone (0)            done
//   kAlreadyOpen (1)     OpenFile: the path was already open; the handle is the earlier one
//   kFailed (-1)         key not found, not of the required type, index out of range, a path that
//                        cannot be created, a failed write, or no document could be made
//   kUnknownHandle (-3)  the handle is not an open file (KeyExists then returns false)
// Getters that take a default set their output to it first and return kDone for a missing key.
//
// The order of the operations is the slot order the service has always had.
// Not guarded: callers use the service from one thread at a time.

#include "ZTFramework/Errors/Result.h"
#include "ZTFramework/Utilities/Storage/StringT.h"

#include <cstdint>

namespace ZT {

// An open settings file, as OpenFile hands it out. Handles of closed files are never reused.
enum class IniFileHandle : std::uint64_t { None = 0 };

class IIniFileManager {
public:
    static constexpr ZTRESULT kDone{0};
    static constexpr ZTRESULT kAlreadyOpen{1};
    static constexpr ZTRESULT kFailed{-1};
    static constexpr ZTRESULT kUnknownHandle{-3};

    virtual ~IIniFileManager() = default;

    // Slot 0, kept so the slots keep their numbers: does nothing and returns kDone.
    virtual ZTRESULT Reserved(void* argument) = 0;
    // Writes each dirty file (the last opened first) and forgets it; write failures are
    // reported on standard error and otherwise ignored. Returns kDone.
    virtual ZTRESULT CloseAll() = 0;
    // Opens the file at path, or finds it among the open ones (kAlreadyOpen). A missing file, or
    // one that cannot be read or parsed, gives a fresh document holding only the key
    // "Application" with applicationTitle; a file that does not parse is reported on standard
    // error and kept beside the new one at its first save. kFailed when no document can be made.
    [[nodiscard]] virtual ZTRESULT OpenFile(const WString& path, const WString& sectionName,
                                            const WString& applicationTitle, IniFileHandle& handle) = 0;
    // Writes the file when it changed since it was read or last written. kFailed when the write
    // fails; the file then stays dirty.
    [[nodiscard]] virtual ZTRESULT SaveFile(IniFileHandle handle) = 0;
    virtual bool KeyExists(IniFileHandle handle, const WString& key) = 0;
    // SaveFile first when save is true, then forgets the file whatever the save gave. Returns
    // the save's result (kDone without save).
    [[nodiscard]] virtual ZTRESULT CloseFile(IniFileHandle handle, bool save) = 0;
    // Booleans give 0 or 1, integers their value, reals their value truncated toward zero, any
    // other type 0.
    virtual ZTRESULT GetInteger(IniFileHandle handle, const WString& key, std::int32_t defaultValue,
                                std::int32_t& value) = 0;
    [[nodiscard]] virtual ZTRESULT SetInteger(IniFileHandle handle, const WString& key, std::int32_t value) = 0;
    // The text of string and data values; empty for any other type.
    virtual ZTRESULT GetString(IniFileHandle handle, const WString& key, const WString& defaultValue,
                               WString& value) = 0;
    [[nodiscard]] virtual ZTRESULT SetString(IniFileHandle handle, const WString& key, const WString& value) = 0;
    // Children of a dictionary or array, 0 for other values; kFailed with 0 for a missing key.
    virtual ZTRESULT GetChildCount(IniFileHandle handle, const WString& key, std::int32_t& count) = 0;
    // The name of child index of a dictionary or array (array items have empty names).
    virtual ZTRESULT GetChildName(IniFileHandle handle, const WString& key, std::int32_t index, WString& name) = 0;
    // Items of an array; kFailed (size 0) for anything that is not an array.
    virtual ZTRESULT GetArraySize(IniFileHandle handle, const WString& key, std::int32_t& size) = 0;
    // Makes the value an array of size items: items past the end are removed, missing ones are
    // added as empty strings. kFailed for a negative size or one above 65536.
    [[nodiscard]] virtual ZTRESULT SetArraySize(IniFileHandle handle, const WString& key, std::int32_t size) = 0;
    // The text of item index (empty for an item that is not a string or data).
    virtual ZTRESULT GetArrayString(IniFileHandle handle, const WString& key, std::int32_t index,
                                    WString& value) = 0;
    // Grows the array to index + 1 items when needed, then makes item index a string.
    [[nodiscard]] virtual ZTRESULT SetArrayString(IniFileHandle handle, const WString& key, std::int32_t index,
                                                  const WString& value) = 0;
    [[nodiscard]] virtual ZTRESULT RemoveArrayItem(IniFileHandle handle, const WString& key, std::int32_t index) = 0;
};

} // namespace ZT
