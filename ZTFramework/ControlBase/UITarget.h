#pragma once
// Something that answers for user-interface commands: before a menu opens, each item's command
// asks its target whether the item is enabled and checked.

#include "ZTFramework/Errors/Result.h"
#include "ZTFramework/Notification/NotificationID.h"
#include "ZTFramework/ObjectBase/RefCountedObject.h"

namespace ZT {

class UITarget : public virtual LRefCountedObject {
public:
    struct MenuItemState {
        bool mEnabled = true;
        bool mChecked = false;
    };

    // Fills state for the command; S_OK when this target set it, S_FALSE (the default) when it
    // leaves the item alone.
    virtual ZTRESULT QueryMenuItemState(NotificationID command, MenuItemState& state);
};

inline ZTRESULT UITarget::QueryMenuItemState(NotificationID, MenuItemState&)
{
    return S_FALSE;
}

} // namespace ZT
