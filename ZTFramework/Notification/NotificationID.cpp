#include "ZTFramework/Notification/NotificationID.h"

#include "ZTFramework/Utilities/Storage/StringArrayT.h"

#include <string_view>
#include <unordered_map>

namespace ZT {

namespace {

// The interned texts in the order they came, plus two indexes so that interning a known text
// or a known ID does not walk the table. Entries are only ever appended.
struct NotificationTable {
    WStringArray mNames;
    std::unordered_map<std::wstring_view, NotificationID> mIDByText; // views of the interned characters
    std::unordered_map<NotificationID, std::size_t> mIndexByID;
};

NotificationTable& GetTable()
{
    // Never destroyed, like the mutex: IDs must stay valid until the very end of the process.
    static NotificationTable* const table = new NotificationTable;
    return *table;
}

} // namespace

Mutex& GetNotificationTableMutex()
{
    // On a cache line of its own: posting threads take it for every notification they make.
    struct alignas(64) PaddedMutex {
        Mutex mMutex;
    };
    static PaddedMutex* const mutex = new PaddedMutex;
    return mutex->mMutex;
}

NotificationID InternNotificationID(const wchar_t* text)
{
    if (!text || text[0] == 0)
        return 0;
    // IDs this thread has seen lately: an ID passed as its own text (the usual case in a stream
    // of posts) is recognised without the lock. Only interned addresses are kept here, and they
    // stay valid for the life of the process, so a hit is always right.
    thread_local NotificationID recentIDs[4] = {};
    thread_local std::size_t nextRecent = 0;
    const auto asID = reinterpret_cast<NotificationID>(text);
    for (const NotificationID recent : recentIDs)
        if (recent == asID)
            return asID;

    CMutexLock lock(GetNotificationTableMutex());
    NotificationTable& table = GetTable();
    if (table.mIndexByID.contains(asID)) {
        recentIDs[nextRecent++ % 4] = asID;
        return asID;
    }

    std::wstring_view view(text);
    if (view.size() > static_cast<std::size_t>(WString::kMaxLength))
        view = view.substr(0, static_cast<std::size_t>(WString::kMaxLength));
    if (const auto found = table.mIDByText.find(view); found != table.mIDByText.end()) {
        recentIDs[nextRecent++ % 4] = found->second;
        return found->second;
    }

    table.mNames.Append(WString(view.data(), static_cast<std::int32_t>(view.size())));
    const std::size_t index = table.mNames.GetCount() - 1;
    const WString& interned = table.mNames[index];
    const auto id = reinterpret_cast<NotificationID>(interned.GetBuffer());
    table.mIDByText.emplace(interned.View(), id);
    table.mIndexByID.emplace(id, index);
    recentIDs[nextRecent++ % 4] = id;
    return id;
}

WString GetNotificationName(NotificationID id)
{
    if (id == 0)
        return {};
    CMutexLock lock(GetNotificationTableMutex());
    const NotificationTable& table = GetTable();
    const auto found = table.mIndexByID.find(id);
    return found == table.mIndexByID.end() ? WString() : table.mNames[found->second];
}

} // namespace ZT
