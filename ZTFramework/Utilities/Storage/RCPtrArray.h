#pragma once
// An array of counted references to modifiable objects. It is also a ConstRCPtrArray (same
// storage, same growth rule, see there), so it can be handed to code that only reads.
//
// Seen as an IArray<ConstRCPtr<T>>, it refuses const objects: SetAt, InsertAt and Append with a
// ConstRCPtr throw a logic error, since the array gives out modifiable references to what it
// holds.
//
// Not guarded: one array is used by one thread at a time.

#include "ZTFramework/Errors/Exception.h"
#include "ZTFramework/ObjectBase/RCPtr.h"
#include "ZTFramework/Utilities/Storage/ArrayUtils.h"
#include "ZTFramework/Utilities/Storage/ConstRCPtrArray.h"

#include <cstddef>
#include <string>

namespace ZT {

template <class T, std::size_t N = 1, std::size_t M = 0>
class RCPtrArray : public IArray<RCPtr<T>>, public ConstRCPtrArray<T, N, M> {
    using Base = ConstRCPtrArray<T, N, M>;

public:
    RCPtrArray() = default;
    RCPtrArray(const RCPtrArray& other) : IArray<RCPtr<T>>(), Base()
    {
        for (T* object : other)
            Append(object);
    }
    RCPtrArray(RCPtrArray&& other) noexcept : IArray<RCPtr<T>>(), Base(std::move(other)) {}
    RCPtrArray& operator=(const RCPtrArray& other)
    {
        if (this != &other) {
            RCPtrArray copy(other);
            Base::Swap(copy);
        }
        return *this;
    }
    RCPtrArray& operator=(RCPtrArray&& other) noexcept
    {
        if (this != &other) {
            RCPtrArray old(std::move(*this));
            Base::Swap(other);
        }
        return *this;
    }
    ~RCPtrArray() override = default;

    std::size_t GetCount() const override { return Base::GetCount(); }
    [[nodiscard]] bool IsEmpty() const { return GetCount() == 0; }
    [[nodiscard]] RCPtr<T> GetAt(std::size_t index) const { return ItemAt(index, typename IIterable<RCPtr<T>>::Tag{}); }

    // The element at index, without taking a reference.
    T* operator[](std::size_t index) const
    {
        if (index >= GetCount())
            ZT_THROW(OutOfRange, "", ClassName() + "::GetAt");
        return Base::RawAt(index);
    }

    void SetAt(std::size_t index, const RCPtr<T>& value) override { SetAt(index, value.Get()); }
    void SetAt(std::size_t index, T* object)
    {
        if (index >= GetCount())
            ZT_THROW(OutOfRange, "", ClassName() + "::SetAt");
        T* old = Base::ExchangeReferenced(index, Base::AcquireModifiable(object));
        if (old)
            old->Release();
    }
    void SetAt(std::size_t, const ConstRCPtr<T>&) override { RefuseConst("SetAt"); }

    void InsertAt(std::size_t index, const RCPtr<T>& value) override { InsertAt(index, value.Get()); }
    void InsertAt(std::size_t index, T* object)
    {
        if (index > GetCount())
            ZT_THROW(OutOfRange, "", ClassName() + "::InsertAt");
        Base::InsertReferenced(index, object, &Base::AcquireModifiable);
    }
    void InsertAt(std::size_t, const ConstRCPtr<T>&) override { RefuseConst("InsertAt"); }

    std::size_t Append(const RCPtr<T>& value) override { return Append(value.Get()); }
    std::size_t Append(T* object)
    {
        Base::InsertReferenced(GetCount(), object, &Base::AcquireModifiable);
        return GetCount() - 1;
    }
    std::size_t Append(const ConstRCPtr<T>&) override { RefuseConst("Append"); }

    void RemoveItem(std::size_t index) override
    {
        if (index >= GetCount())
            ZT_THROW(OutOfRange, "", ClassName() + "::RemoveItem");
        Base::RemoveRange(index, 1);
    }
    void RemoveItems(std::size_t index, std::size_t count) override
    {
        if (count == 0)
            return;
        if (index >= GetCount() || count > GetCount() - index)
            ZT_THROW(OutOfRange, "", ClassName() + "::RemoveItems");
        Base::RemoveRange(index, count);
    }
    void SetSize(std::size_t count) override { Base::SetSize(count); }
    void RemoveAll() override { Base::RemoveAll(); }

    // Index of the first element holding object, or -1.
    [[nodiscard]] std::ptrdiff_t Find(const T* object) const noexcept { return Base::Find(object); }

    T* const* GetData() const noexcept { return Base::RawData(); }
    T* const* begin() const noexcept { return Base::RawData(); }
    T* const* end() const noexcept { return Base::RawData() + GetCount(); }

protected:
    RCPtr<T> ItemAt(std::size_t index, typename IIterable<RCPtr<T>>::Tag) const override
    {
        if (index >= GetCount())
            ZT_THROW(OutOfRange, "", ClassName() + "::GetAt");
        return RCPtr<T>(Base::RawAt(index));
    }
    using Base::ItemAt;

private:
    static std::string ClassName() { return Detail::PointerArrayName<T, N, M>("RCPtrArray"); }

    [[noreturn]] static void RefuseConst(const char* function)
    {
        ZT_THROW(Logic, "a const object cannot go into an array of modifiable ones", ClassName() + "::" + function);
    }
};

} // namespace ZT
