#pragma once
// An array of counted references to const objects: every non-null element holds one reference
// on its object, taken when it goes in and released when it goes out.
//
// The elements are plain pointers in a BufferT from the system allocator. The template
// arguments are the storage steps, in elements:
//   N > 1: the capacity is a multiple of N; a resize to n elements keeps the storage while the
//          capacity is at least n and exceeds it by at most M elements, else the capacity
//          becomes n rounded up to a multiple of N. (<T,256,256> is the notification queue's
//          ring: it grows in blocks of 256 and gives a block back only when two are spare.)
//   N <= 1: the capacity doubles when it runs out and halves back once three quarters of it
//          are unused, so appending one at a time stays cheap.
//
// An object's last reference may be released by a removal; removals finish their own
// bookkeeping before releasing, so a destructor that touches the array sees it consistent.
//
// Not guarded: one array is used by one thread at a time.

#include "ZTFramework/Errors/Exception.h"
#include "ZTFramework/ObjectBase/RCPtr.h"
#include "ZTFramework/Utilities/Storage/ArrayUtils.h"
#include "ZTFramework/Utilities/Storage/BufferT.h"

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <string>
#include <utility>

namespace ZT {

namespace Detail {

// "ZT::RCPtrArray<class ZT::LNotification,256,256>": an array instance as messages name it.
template <class T, std::size_t N, std::size_t M>
std::string PointerArrayName(const char* templateName)
{
    return std::string("ZT::") + templateName + "<" + TypeName<T>() + "," + std::to_string(N) + "," +
           std::to_string(M) + ">";
}

[[noreturn]] inline void ThrowArrayOutOfMemory(const std::string& function, const char* file, int line)
{
    throw Exception<std::bad_alloc>(FormatErrorMessage(ErrorKind::Runtime, false, "out of memory", function, file, line));
}

} // namespace Detail

template <class T, std::size_t N = 1, std::size_t M = 0>
class ConstRCPtrArray : public IArray<ConstRCPtr<T>> {
public:
    ConstRCPtrArray() = default;
    ConstRCPtrArray(const ConstRCPtrArray& other) { CopyFrom(other); }
    ConstRCPtrArray(ConstRCPtrArray&& other) noexcept
        : mStorage(std::move(other.mStorage)), mCount(std::exchange(other.mCount, 0))
    {
    }
    ConstRCPtrArray& operator=(const ConstRCPtrArray& other)
    {
        if (this != &other) {
            ConstRCPtrArray copy(other);
            Swap(copy);
        }
        return *this;
    }
    ConstRCPtrArray& operator=(ConstRCPtrArray&& other) noexcept
    {
        if (this != &other) {
            ConstRCPtrArray old(std::move(*this));
            Swap(other);
        }
        return *this;
    }
    ~ConstRCPtrArray() override { ReleaseFromEnd(); }

    std::size_t GetCount() const override { return mCount; }
    // Capacity of the storage, in elements.
    std::size_t GetCapacity() const noexcept { return mStorage.GetCapacity(); }

    // The element at index, without taking a reference.
    const T* operator[](std::size_t index) const
    {
        if (index >= mCount)
            ZT_THROW(OutOfRange, "", ClassName() + "::GetAt");
        return mStorage.Data()[index];
    }

    void SetAt(std::size_t index, const ConstRCPtr<T>& value) override
    {
        if (index >= mCount)
            ZT_THROW(OutOfRange, "", ClassName() + "::SetAt");
        T* old = ExchangeReferenced(index, AcquireConst(value.Get()));
        if (old)
            old->Release();
    }
    void InsertAt(std::size_t index, const ConstRCPtr<T>& value) override
    {
        if (index > mCount)
            ZT_THROW(OutOfRange, "", ClassName() + "::InsertAt");
        InsertReferenced(index, value.Get(), &AcquireConst);
    }
    std::size_t Append(const ConstRCPtr<T>& value) override
    {
        InsertReferenced(mCount, value.Get(), &AcquireConst);
        return mCount - 1;
    }
    void RemoveItem(std::size_t index) override
    {
        if (index >= mCount)
            ZT_THROW(OutOfRange, "", ClassName() + "::RemoveItem");
        RemoveRange(index, 1);
    }
    void RemoveItems(std::size_t index, std::size_t count) override
    {
        if (count == 0)
            return;
        if (index >= mCount || count > mCount - index)
            ZT_THROW(OutOfRange, "", ClassName() + "::RemoveItems");
        RemoveRange(index, count);
    }
    void SetSize(std::size_t count) override { Resize(count); }
    void RemoveAll() override
    {
        ReleaseFromEnd();
        FitCapacity();
    }

    // Index of the first element holding object, or -1.
    [[nodiscard]] std::ptrdiff_t Find(const T* object) const noexcept
    {
        for (std::size_t i = 0; i < mCount; ++i)
            if (mStorage.Data()[i] == object)
                return static_cast<std::ptrdiff_t>(i);
        return -1;
    }

    const T* const* begin() const noexcept { return mStorage.Data(); }
    const T* const* end() const noexcept { return mStorage.Data() + mCount; }

protected:
    using Acquirer = T* (*)(const T*);

    ConstRCPtr<T> ItemAt(std::size_t index, typename IIterable<ConstRCPtr<T>>::Tag) const override
    {
        if (index >= mCount)
            ZT_THROW(OutOfRange, "", ClassName() + "::GetAt");
        return ConstRCPtr<T>(mStorage.Data()[index]);
    }

    // The operations below are shared with RCPtrArray, which stores modifiable objects in the
    // same storage. Index checks are the caller's.

    // Makes room, takes a reference on object with acquire (which may throw and leaves the
    // array unchanged then) and inserts it before index.
    void InsertReferenced(std::size_t index, const T* object, Acquirer acquire)
    {
        Reserve(mCount + 1);
        T* referenced = acquire(object);
        T** data = mStorage.Data();
        std::memmove(data + index + 1, data + index, (mCount - index) * sizeof(T*));
        data[index] = referenced;
        ++mCount;
    }
    // Stores a pointer that already carries its reference; returns the old one with its own.
    T* ExchangeReferenced(std::size_t index, T* referenced) noexcept
    {
        return std::exchange(mStorage.Data()[index], referenced);
    }
    T* RawAt(std::size_t index) const noexcept { return mStorage.Data()[index]; }
    T* const* RawData() const noexcept { return mStorage.Data(); }

    void RemoveRange(std::size_t index, std::size_t count)
    {
        for (std::size_t removed = 0; removed < count && index < mCount; ++removed) {
            T** data = mStorage.Data();
            T* object = data[index];
            std::memmove(data + index, data + index + 1, (mCount - index - 1) * sizeof(T*));
            --mCount;
            if (object)
                object->Release();
        }
        FitCapacity();
    }
    void Resize(std::size_t count)
    {
        if (count < mCount) {
            RemoveRange(count, mCount - count);
            return;
        }
        Reserve(count);
        for (std::size_t i = mCount; i < count; ++i)
            mStorage.Data()[i] = nullptr;
        mCount = count;
    }

    static T* AcquireConst(const T* object) { return const_cast<T*>(Detail::Acquire(object, "ConstRCPtr")); }
    static T* AcquireModifiable(const T* object) { return Detail::Acquire(const_cast<T*>(object), "RCPtr"); }

    void Swap(ConstRCPtrArray& other) noexcept
    {
        std::swap(mStorage, other.mStorage);
        std::swap(mCount, other.mCount);
    }
    void CopyFrom(const ConstRCPtrArray& other)
    {
        Reserve(other.mCount);
        for (std::size_t i = 0; i < other.mCount; ++i) {
            mStorage.Data()[i] = AcquireConst(other.mStorage.Data()[i]);
            mCount = i + 1;
        }
    }

private:
    static std::string ClassName() { return Detail::PointerArrayName<T, N, M>("ConstRCPtrArray"); }

    static std::size_t CapacityFor(std::size_t count, std::size_t capacity) noexcept
    {
        if constexpr (N > 1) {
            if (capacity >= count && capacity - count <= M)
                return capacity;
            return (count + N - 1) / N * N;
        } else {
            if (count > capacity)
                return std::max({count, capacity * 2, std::size_t{4}});
            if (count == 0 && M == 0)
                return 0;
            if (capacity - count <= M || count > capacity / 4)
                return capacity;
            return std::max(count * 2, std::size_t{4});
        }
    }
    // Makes room for count elements; throws when memory runs out.
    void Reserve(std::size_t count)
    {
        const std::size_t capacity = CapacityFor(count, mStorage.GetCapacity());
        if (capacity < count || !mStorage.SetCapacity(capacity))
            Detail::ThrowArrayOutOfMemory(ClassName() + "::Reserve", __FILE__, __LINE__);
    }
    // Gives spare storage back after removals; keeps it when shrinking fails.
    void FitCapacity() noexcept
    {
        const std::size_t capacity = CapacityFor(mCount, mStorage.GetCapacity());
        if (capacity < mStorage.GetCapacity())
            (void)mStorage.SetCapacity(capacity); // a failed shrink keeps the storage
    }
    void ReleaseFromEnd()
    {
        while (mCount > 0) {
            T* object = mStorage.Data()[--mCount];
            if (object)
                object->Release();
        }
    }

    BufferT<T*> mStorage;
    std::size_t mCount = 0;
};

} // namespace ZT
