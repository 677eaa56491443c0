#include "ZTFramework/ObjectBase/RefCountedObject.h"

#include "ZTFramework/Errors/Exception.h"
#include "ZTFramework/Utilities/Storage/StringT.h"

#include <typeinfo>

namespace ZT {

StringT<wchar_t, char> LRefCountedObject::ToString() const
{
    StringT<wchar_t, char> text(L"LRefCountedObject::ToString() not overridden. Returning TypeName: ");
    text += StringT<wchar_t, char>(TypeDisplayName(typeid(*this), true).c_str());
    return text;
}

void LRefCountedObject::Undo()
{
    ZT_THROW(Logic, "Undo() not implemented for RefCountedObject", "ZT::LRefCountedObject::Undo");
}

std::int32_t LRefCountedObject::AddRef() const noexcept
{
    return mRefCount.fetch_add(1, std::memory_order_relaxed) + 1;
}

std::int32_t LRefCountedObject::Release() const
{
    // The decision rests on the value this decrement produced, not on counts read before it:
    // with several threads releasing at once, counts read first can all look "not last", and
    // then nobody would break the object's cycles.
    // The internal count is read before the decrement: once this thread's reference is gone,
    // another thread may destroy the object at any moment, unless this decrement left only the
    // internal references, which nothing releases but the hook below.
    const std::int32_t internal = mInternalRefCount.load(std::memory_order_acquire);
    const std::int32_t remaining = mRefCount.fetch_sub(1, std::memory_order_acq_rel) - 1;
    if (remaining == 0) {
        delete this;
        return 0;
    }
    if (internal <= 0 || remaining != internal)
        return remaining;

    // That was the last outside reference. Hold the object through its cycle-breaking hook
    // (which releases the internal references, and with them this object's own count), once per
    // such transition.
    std::uint32_t expected = 0;
    if (!mReleaseGuard.compare_exchange_strong(expected, 1))
        return remaining;
    mRefCount.fetch_add(1, std::memory_order_relaxed);
    (void)const_cast<LRefCountedObject*>(this)->ReleaseInternalReferences(); // the last reference goes: nobody to tell
    if (mRefCount.load(std::memory_order_acquire) != 1) {
        expected = 1;
        mReleaseGuard.compare_exchange_strong(expected, 0);
    }
    const std::int32_t afterHook = mRefCount.fetch_sub(1, std::memory_order_acq_rel) - 1;
    if (afterHook == 0)
        delete this;
    return afterHook;
}

ZTRESULT LRefCountedObject::ReleaseInternalReferences()
{
    return GetInternalRefCount() == 0 && GetRefCount() == 1 ? S_OK : E_FAIL;
}

LRefCountedObject* LRefCountedObject::CreateCopy() const
{
    ZT_THROW(Logic, "CreateCopy() not implemented for RefCountedObject", "ZT::LRefCountedObject::CreateCopy");
}

void LRefCountedObject::SetUnshareable(bool unshareable)
{
    if (unshareable && GetRefCount() > 1)
        ZT_THROW(Runtime, "", "ZT::LRefCountedObject::SetUnshareable");
    mShareable = !unshareable;
}

} // namespace ZT
