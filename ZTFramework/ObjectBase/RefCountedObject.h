#pragma once
// The reference-counted base object of the framework.
//
// An object starts with a count of 0; the first RCPtr that takes it makes the count 1, and the
// release that brings the count back to 0 deletes it. References that an object keeps to itself
// through other objects (reference cycles, such as a distributor and its registered clients) are
// counted as internal references: when the last outside reference goes, Release calls
// ReleaseInternalReferences so the object can break its cycles and be destroyed.
//
// Counts, internal counts and the release guard change only through atomic operations, so smart
// pointers to one object may be copied and released on several threads at once.

#include "ZTFramework/Errors/Result.h"

#include <atomic>
#include <cstdint>

namespace ZT {

template <class C, class O>
class StringT;

class IStringable {
public:
    virtual ~IStringable() = default;
    virtual StringT<wchar_t, char> ToString() const = 0;
};

class IUndoable : public IStringable {
public:
    virtual void Undo() = 0;
};

class LRefCountedObject : public IUndoable {
public:
    LRefCountedObject() = default;
    // A copy is a new object: its counts start at 0 and it is shareable.
    LRefCountedObject(const LRefCountedObject&) noexcept {}
    LRefCountedObject& operator=(const LRefCountedObject&) noexcept { return *this; }
    ~LRefCountedObject() override = default;

    // "LRefCountedObject::ToString() not overridden. Returning TypeName: class ..." by default.
    StringT<wchar_t, char> ToString() const override;
    // Throws a logic error unless overridden.
    void Undo() override;

    // Returns the new count.
    virtual std::int32_t AddRef() const noexcept;
    // Returns the new count; deletes the object when it reaches 0.
    virtual std::int32_t Release() const;
    // Breaks reference cycles when the last outside reference is released. The default does
    // nothing and returns S_OK when no internal references exist and the count is 1, else E_FAIL.
    virtual ZTRESULT ReleaseInternalReferences();
    // A new object equal to this one, with a count of 0; the caller takes it over.
    // Throws a logic error unless overridden.
    virtual LRefCountedObject* CreateCopy() const;

    // true makes the object unshareable: a smart pointer that takes a second reference to it
    // gets its own copy (CreateCopy). Throws a runtime error when asked for unshareable while
    // the count is above 1.
    void SetUnshareable(bool unshareable);
    bool IsShareable() const noexcept { return mShareable; }

    std::int32_t GetRefCount() const noexcept { return mRefCount.load(std::memory_order_acquire); }
    std::int32_t GetInternalRefCount() const noexcept { return mInternalRefCount.load(std::memory_order_acquire); }
    // Internal references: references held by objects that this object itself keeps alive.
    std::int32_t AddInternalReference() const noexcept { return mInternalRefCount.fetch_add(1) + 1; }
    std::int32_t DropInternalReference() const noexcept { return mInternalRefCount.fetch_sub(1) - 1; }

private:
    mutable std::atomic<std::int32_t> mRefCount{0};
    mutable std::atomic<std::int32_t> mInternalRefCount{0};
    mutable std::atomic<std::uint32_t> mReleaseGuard{0};
    bool mShareable = true;
};

} // namespace ZT
