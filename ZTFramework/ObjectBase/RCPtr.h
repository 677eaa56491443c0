#pragma once
// Smart pointers to reference-counted objects.
//
// RCPtr<T> gives full access, ConstRCPtr<T> const access only. Copying or assigning takes a
// reference on the new object and releases the old one. Converting between differently typed
// pointers uses a dynamic cast: when the object is not a T, the result is null. Whenever a pointer
// takes a reference on an object that is not shareable, it unshares: the new holder gets its own
// copy, made by CreateCopy.
//
// A pointer object is not itself thread-safe; two pointers to one object may be used on two
// threads at once.

#include "ZTFramework/Errors/Exception.h"
#include "ZTFramework/ObjectBase/RefCountedObject.h"

#include <cstddef>
#include <functional>
#include <string>
#include <type_traits>
#include <utility>

namespace ZT {

namespace Detail {

// The pointer's own class name, as the Unshare error message shows it.
template <class T>
std::string PointerClassName(const char* pointerTemplate)
{
    const std::string type = TypeName<std::remove_const_t<T>>();
    return std::string("ZT::") + pointerTemplate + "<" + type + "," + type + " *>";
}

// Takes a reference on object (which may be null) and returns it, copied when it is not
// shareable and already held elsewhere.
template <class T>
T* Acquire(T* object, const char* pointerTemplate)
{
    if (!object)
        return nullptr;
    object->AddRef();
    if (object->IsShareable() || object->GetRefCount() < 2)
        return object;
    LRefCountedObject* copy = nullptr;
    try {
        copy = object->CreateCopy();
    } catch (...) {
        object->Release(); // the reference taken above was never handed to a pointer
        throw;
    }
    auto* typed = dynamic_cast<std::remove_const_t<T>*>(copy);
    if (!typed) {
        delete copy;
        object->Release();
        ::ZT::ThrowError(ErrorKind::Logic, false, TypeName<std::remove_const_t<T>>(),
                         PointerClassName<T>(pointerTemplate) + "::Unshare", __FILE__, __LINE__);
    }
    typed->AddRef();
    object->Release();
    return typed;
}

} // namespace Detail

template <class T, class TPointer = T*>
class RCPtr {
public:
    using element_type = T;

    RCPtr() noexcept = default;
    RCPtr(std::nullptr_t) noexcept {}
    RCPtr(T* object) : mObject(Detail::Acquire(object, "RCPtr")) {}
    RCPtr(const RCPtr& other) : mObject(Detail::Acquire(other.mObject, "RCPtr")) {}
    RCPtr(RCPtr&& other) noexcept : mObject(std::exchange(other.mObject, nullptr)) {}
    template <class U, class UPointer>
    RCPtr(const RCPtr<U, UPointer>& other) : mObject(Detail::Acquire(Cast(other.Get()), "RCPtr"))
    {
    }
    ~RCPtr() { Reset(); }

    RCPtr& operator=(const RCPtr& other)
    {
        if (this != &other)
            Assign(Detail::Acquire(other.mObject, "RCPtr"));
        return *this;
    }
    RCPtr& operator=(RCPtr&& other) noexcept
    {
        if (this != &other)
            Assign(std::exchange(other.mObject, nullptr));
        return *this;
    }
    RCPtr& operator=(T* object)
    {
        Assign(Detail::Acquire(object, "RCPtr"));
        return *this;
    }
    RCPtr& operator=(std::nullptr_t) noexcept
    {
        Reset();
        return *this;
    }
    template <class U, class UPointer>
    RCPtr& operator=(const RCPtr<U, UPointer>& other)
    {
        Assign(Detail::Acquire(Cast(other.Get()), "RCPtr"));
        return *this;
    }

    T* Get() const noexcept { return mObject; }
    T* operator->() const noexcept { return mObject; }
    T& operator*() const noexcept { return *mObject; }
    explicit operator bool() const noexcept { return mObject != nullptr; }

    void Reset() noexcept
    {
        if (T* old = std::exchange(mObject, nullptr))
            old->Release();
    }

    // Gives this pointer its own copy of the object when the object is also held elsewhere.
    void Unshare()
    {
        if (!mObject || mObject->GetRefCount() < 2)
            return;
        LRefCountedObject* copy = mObject->CreateCopy();
        T* typed = dynamic_cast<T*>(copy);
        if (!typed) {
            delete copy;
            ZT_THROW(Logic, TypeName<std::remove_const_t<T>>(),
                     Detail::PointerClassName<T>("RCPtr") + "::Unshare");
        }
        typed->AddRef();
        Assign(typed);
    }

private:
    template <class U>
    static T* Cast(U* object)
    {
        if constexpr (std::is_convertible_v<U*, T*>)
            return object;
        else
            return dynamic_cast<T*>(object);
    }
    // Takes over an object that already carries the reference for this pointer.
    void Assign(T* referenced) noexcept
    {
        T* old = std::exchange(mObject, referenced);
        if (old)
            old->Release();
    }

    T* mObject = nullptr;
};

template <class T, class TPointer = const T*>
class ConstRCPtr {
public:
    using element_type = const T;

    ConstRCPtr() noexcept = default;
    ConstRCPtr(std::nullptr_t) noexcept {}
    ConstRCPtr(const T* object) : mObject(Detail::Acquire(object, "ConstRCPtr")) {}
    ConstRCPtr(const ConstRCPtr& other) : mObject(Detail::Acquire(other.mObject, "ConstRCPtr")) {}
    ConstRCPtr(ConstRCPtr&& other) noexcept : mObject(std::exchange(other.mObject, nullptr)) {}
    template <class U, class UPointer>
    ConstRCPtr(const RCPtr<U, UPointer>& other) : mObject(Detail::Acquire(Cast(other.Get()), "ConstRCPtr"))
    {
    }
    template <class U, class UPointer>
    ConstRCPtr(const ConstRCPtr<U, UPointer>& other)
        : mObject(Detail::Acquire(Cast(other.Get()), "ConstRCPtr"))
    {
    }
    ~ConstRCPtr() { Reset(); }

    ConstRCPtr& operator=(const ConstRCPtr& other)
    {
        if (this != &other)
            Assign(Detail::Acquire(other.mObject, "ConstRCPtr"));
        return *this;
    }
    ConstRCPtr& operator=(ConstRCPtr&& other) noexcept
    {
        if (this != &other)
            Assign(std::exchange(other.mObject, nullptr));
        return *this;
    }
    ConstRCPtr& operator=(const T* object)
    {
        Assign(Detail::Acquire(object, "ConstRCPtr"));
        return *this;
    }
    ConstRCPtr& operator=(std::nullptr_t) noexcept
    {
        Reset();
        return *this;
    }

    const T* Get() const noexcept { return mObject; }
    const T* operator->() const noexcept { return mObject; }
    const T& operator*() const noexcept { return *mObject; }
    explicit operator bool() const noexcept { return mObject != nullptr; }

    void Reset() noexcept
    {
        if (const T* old = std::exchange(mObject, nullptr))
            old->Release();
    }

    void Unshare()
    {
        if (!mObject || mObject->GetRefCount() < 2)
            return;
        LRefCountedObject* copy = mObject->CreateCopy();
        const T* typed = dynamic_cast<const T*>(copy);
        if (!typed) {
            delete copy;
            ZT_THROW(Logic, TypeName<std::remove_const_t<T>>(),
                     Detail::PointerClassName<T>("ConstRCPtr") + "::Unshare");
        }
        typed->AddRef();
        Assign(typed);
    }

private:
    template <class U>
    static const T* Cast(const U* object)
    {
        if constexpr (std::is_convertible_v<const U*, const T*>)
            return object;
        else
            return dynamic_cast<const T*>(object);
    }
    void Assign(const T* referenced) noexcept
    {
        const T* old = std::exchange(mObject, referenced);
        if (old)
            old->Release();
    }

    const T* mObject = nullptr;
};

template <class T, class P, class U, class Q>
bool operator==(const RCPtr<T, P>& a, const RCPtr<U, Q>& b) noexcept
{
    return static_cast<const void*>(a.Get()) == static_cast<const void*>(b.Get());
}
template <class T, class P>
bool operator==(const RCPtr<T, P>& a, std::nullptr_t) noexcept
{
    return !a;
}
template <class T, class P, class U, class Q>
bool operator==(const ConstRCPtr<T, P>& a, const ConstRCPtr<U, Q>& b) noexcept
{
    return static_cast<const void*>(a.Get()) == static_cast<const void*>(b.Get());
}
template <class T, class P>
bool operator==(const ConstRCPtr<T, P>& a, std::nullptr_t) noexcept
{
    return !a;
}

// Makes a new object and holds it: MakeRC<LFoo>(arguments...).
template <class T, class... Args>
RCPtr<T> MakeRC(Args&&... args)
{
    return RCPtr<T>(new T(std::forward<Args>(args)...));
}

} // namespace ZT

template <class T, class P>
struct std::hash<ZT::RCPtr<T, P>> {
    std::size_t operator()(const ZT::RCPtr<T, P>& p) const noexcept { return std::hash<const void*>()(p.Get()); }
};
