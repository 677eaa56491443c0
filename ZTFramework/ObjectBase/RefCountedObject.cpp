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
    const std::int32_t count = mRefCount.load(std::memory_order_acquire);
    const std::int32_t internal = mInternalRefCount.load(std::memory_order_acquire);
    if (count - internal == 1) {
        // The last outside reference: let the object break its cycles, once per such transition
        // even when several threads release at the same moment.
        std::uint32_t expected = 0;
        if (mReleaseGuard.compare_exchange_strong(expected, 1)) {
            if (internal > 0)
                (void)const_cast<LRefCountedObject*>(this)->ReleaseInternalReferences();
            if (mRefCount.load(std::memory_order_acquire) != 1) {
                expected = 1;
                mReleaseGuard.compare_exchange_strong(expected, 0);
            }
        }
    }
    const std::int32_t remaining = mRefCount.fetch_sub(1, std::memory_order_acq_rel) - 1;
    if (remaining == 0)
        delete this;
    return remaining;
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
