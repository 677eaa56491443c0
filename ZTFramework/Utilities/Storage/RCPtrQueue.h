#pragma once
// A first-in first-out ring of counted references, with no upper bound: it never drops an item.
//
// The ring lives in an RCPtrArray<T,N,N>. One slot always stays empty, so head == tail means
// empty. When the ring is full it grows by one slot, inserted at the head, which keeps the
// items in order without copying them around the ring; the array's storage underneath grows in
// blocks of N elements, so the slot insertions only reallocate once per block. The ring is
// never shrunk.
//
// Threads: every operation takes the mutex given to the constructor (when there is one) for its
// whole duration, so one queue may be filled and emptied on different threads. Without a mutex
// the queue is not guarded.

#include "ZTFramework/Errors/Exception.h"
#include "ZTFramework/ObjectBase/RCPtr.h"
#include "ZTFramework/Utilities/Storage/RCPtrArray.h"

#include <cstddef>
#include <string>

namespace ZT {

template <class T, std::size_t N, class TMutex>
class RCPtrQueue {
public:
    explicit RCPtrQueue(TMutex* mutex = nullptr) noexcept : mMutex(mutex) {}
    RCPtrQueue(const RCPtrQueue&) = delete;
    RCPtrQueue& operator=(const RCPtrQueue&) = delete;

    // Appends item at the tail (a null item is stored like any other).
    void Enqueue(const RCPtr<T>& item)
    {
        Guard guard(mMutex);
        if (mSlots.GetCount() == 0) {
            mSlots.SetSize(2);
            mHead = 0;
            mTail = 0;
        }
        if (CountLocked() == mSlots.GetCount() - 1) {
            // Full: open one empty slot just before the head. When the items do not wrap
            // (head 0, tail at the last slot) the tail moves up with the inserted slot.
            if (mTail > mHead)
                ++mTail;
            mSlots.InsertAt(mHead, static_cast<T*>(nullptr));
            mHead = (mHead + 1) % mSlots.GetCount();
        }
        mSlots.SetAt(mTail, item);
        mTail = (mTail + 1) % mSlots.GetCount();
    }

    // Removes and returns the item at the head. Throws a runtime error when the queue is empty.
    [[nodiscard]] RCPtr<T> Dequeue()
    {
        Guard guard(mMutex);
        if (CountLocked() == 0)
            ZT_THROW(Runtime, "", ClassName() + "::Dequeue");
        RCPtr<T> item(mSlots[mHead]);
        mSlots.SetAt(mHead, static_cast<T*>(nullptr));
        mHead = (mHead + 1) % mSlots.GetCount();
        return item;
    }

    // Moves the item at the head into item and returns true, or returns false when the queue is
    // empty (for consumers that may find the queue emptied under them).
    [[nodiscard]] bool TryDequeue(RCPtr<T>& item)
    {
        Guard guard(mMutex);
        if (CountLocked() == 0)
            return false;
        item = mSlots[mHead];
        mSlots.SetAt(mHead, static_cast<T*>(nullptr));
        mHead = (mHead + 1) % mSlots.GetCount();
        return true;
    }

    [[nodiscard]] std::size_t GetCount() const
    {
        Guard guard(mMutex);
        return CountLocked();
    }
    [[nodiscard]] bool IsEmpty() const { return GetCount() == 0; }
    // Slots of the ring, the always-empty one included.
    [[nodiscard]] std::size_t GetSlotCount() const
    {
        Guard guard(mMutex);
        return mSlots.GetCount();
    }
    // Capacity of the storage under the ring, in elements.
    [[nodiscard]] std::size_t GetCapacity() const
    {
        Guard guard(mMutex);
        return mSlots.GetCapacity();
    }
    TMutex* GetMutex() const noexcept { return mMutex; }

private:
    class Guard {
    public:
        explicit Guard(TMutex* mutex) : mMutex(mutex)
        {
            if (mMutex)
                mMutex->Lock();
        }
        ~Guard()
        {
            if (mMutex)
                mMutex->Unlock();
        }
        Guard(const Guard&) = delete;
        Guard& operator=(const Guard&) = delete;

    private:
        TMutex* mMutex;
    };

    static std::string ClassName()
    {
        return "ZT::RCPtrQueue<" + TypeName<T>() + "," + std::to_string(N) + "," + TypeName<TMutex>() + ">";
    }
    std::size_t CountLocked() const noexcept
    {
        return mTail >= mHead ? mTail - mHead : mTail + mSlots.GetCount() - mHead;
    }

    RCPtrArray<T, N, N> mSlots;
    std::size_t mTail = 0;
    std::size_t mHead = 0;
    TMutex* mMutex;
};

} // namespace ZT
