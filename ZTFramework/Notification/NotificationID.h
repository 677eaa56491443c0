#pragma once
// Notification IDs: texts "NID_..." turned into numbers once, compared as numbers afterwards.
//
// An ID is the address of the characters of the interned copy of its text, so equal texts
// (case-sensitive) always give the same ID, an ID stays valid for the life of the process, and
// an ID can be passed wherever an ID text is expected (NotificationIDText). 0 means no ID: a
// null or empty text gives it.
//
// Threads: everything here may be called from any thread; one process-wide mutex guards the
// table. Each thread remembers the last few IDs it interned, so that passing an ID takes no lock.

#include "ZTFramework/Threads/Mutex.h"
#include "ZTFramework/Utilities/Storage/StringT.h"

#include <cstdint>

namespace ZT {

using NotificationID = std::uintptr_t;

// The ID of text, interning a copy of it on first use. 0 for a null or empty text. A text that
// is itself an ID (the address of interned characters) gives that ID without being read further.
[[nodiscard]] NotificationID InternNotificationID(const wchar_t* text);

// The interned text of an ID, or an empty string when the ID is not one.
[[nodiscard]] WString GetNotificationName(NotificationID id);

// An ID in the place of an ID text: its interned characters.
[[nodiscard]] inline const wchar_t* NotificationIDText(NotificationID id) noexcept
{
    return reinterpret_cast<const wchar_t*>(id);
}

// The mutex that guards the ID table. Created on first use and never destroyed, so code run by
// static destructors can still intern.
Mutex& GetNotificationTableMutex();

} // namespace ZT
