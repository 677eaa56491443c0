#pragma once
// The key of a notification handler: which distributor, which ID. Ordered by the distributor's
// address, then by ID.

#include "ZTFramework/Notification/NotificationID.h"

#include <compare>
#include <cstdint>

namespace ZT {

class LNotificationDistributor;

struct Receivable {
    std::uintptr_t mSource = 0;
    NotificationID mID = 0;

    Receivable() = default;
    Receivable(const LNotificationDistributor* source, NotificationID id) noexcept
        : mSource(reinterpret_cast<std::uintptr_t>(source)), mID(id)
    {
    }
    auto operator<=>(const Receivable&) const = default;
};

} // namespace ZT
