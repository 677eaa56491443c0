#pragma once
// Raw, growable storage for trivially copyable elements (pointers, numbers), taken from an
// IAllocator. The buffer knows only its capacity; the arrays built on it decide how many
// elements are in use and when to grow or shrink.
//
// Not guarded: one buffer is used by one thread at a time.

#include "ZTFramework/Utilities/Storage/Allocator.h"

#include <cstddef>
#include <cstdint>
#include <type_traits>
#include <utility>

namespace ZT {

template <class T>
class BufferT {
    static_assert(std::is_trivially_copyable_v<T>, "BufferT moves its elements with realloc");

public:
    explicit BufferT(IAllocator& allocator = GetSystemAllocator()) noexcept : mAllocator(&allocator) {}
    BufferT(const BufferT&) = delete;
    BufferT& operator=(const BufferT&) = delete;
    BufferT(BufferT&& other) noexcept
        : mAllocator(other.mAllocator), mData(std::exchange(other.mData, nullptr)),
          mCapacity(std::exchange(other.mCapacity, 0))
    {
    }
    BufferT& operator=(BufferT&& other) noexcept
    {
        if (this != &other) {
            Release();
            mAllocator = other.mAllocator;
            mData = std::exchange(other.mData, nullptr);
            mCapacity = std::exchange(other.mCapacity, 0);
        }
        return *this;
    }
    ~BufferT() { Release(); }

    // Makes the capacity exactly count elements, keeping the first min(count, capacity) of them;
    // 0 frees the storage. Returns false, with the buffer unchanged, when the allocator has no
    // memory for it (or count × sizeof(T) would overflow).
    [[nodiscard]] bool SetCapacity(std::size_t count) noexcept
    {
        if (count == mCapacity)
            return true;
        if (count == 0) {
            Release();
            return true;
        }
        if (count > SIZE_MAX / sizeof(T))
            return false;
        void* memory = mData ? mAllocator->Reallocate(mData, count * sizeof(T)) : mAllocator->Allocate(count * sizeof(T));
        if (!memory)
            return false;
        mData = static_cast<T*>(memory);
        mCapacity = count;
        return true;
    }

    T* Data() noexcept { return mData; }
    const T* Data() const noexcept { return mData; }
    std::size_t GetCapacity() const noexcept { return mCapacity; }
    IAllocator& GetAllocator() const noexcept { return *mAllocator; }

private:
    void Release() noexcept
    {
        if (mData)
            mAllocator->Free(mData);
        mData = nullptr;
        mCapacity = 0;
    }

    IAllocator* mAllocator;
    T* mData = nullptr;
    std::size_t mCapacity = 0;
};

} // namespace ZT
