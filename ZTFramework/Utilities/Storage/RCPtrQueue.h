#pragma once
// A first-in first-out ring of counted references, with no upper bound: it never drops an item.
//
// One slot always stays empty, so head == tail means empty. When the ring is full it grows by
// one slot: at the end when the items do not wrap (nothing moves), just before the head when
// they do; either way the items keep their order. The storage under the ring grows in blocks of
// N slots (its capacity is always a multiple of N), so the slot insertions only reallocate once
// per block; it is never shrunk.
//
// The slots hold the references themselves, so items moved in (Enqueue of an rvalue) and out
// (Dequeue, TakeAll) change no reference count: a hand-over from one thread to another
// costs the counts nothing.
//
// Item is what a slot holds: a counted reference by default, or a small record that owns
// counted references (default-constructible and movable; a default one holds nothing; Reset lets
// go of what it holds).
//
// Threads: every operation takes the mutex given to the constructor (when there is one) for its
// whole duration, so one queue may be filled and emptied on different threads; GetCount reads
// a count kept beside the ring without it. Without a mutex the queue is not guarded.

#include "ZTFramework/Errors/Exception.h"
#include "ZTFramework/ObjectBase/RCPtr.h"

#include <atomic>
#include <cstddef>
#include <string>
#include <utility>
#include <vector>

namespace ZT {

template <class T, std::size_t N, class TMutex, class Item = RCPtr<T>>
class RCPtrQueue {
    static_assert(N > 0, "the storage grows in blocks of N slots");

public:
    // Every item a queue held at one moment, taken by TakeAll, in queue order. The batch owns a
    // ring storage of its own, which the next TakeAll hands back to the queue, so that taking
    // a batch is a swap and batches do not allocate once both storages have grown.
    class Batch {
    public:
        Batch() = default;
        Batch(const Batch&) = delete;
        Batch& operator=(const Batch&) = delete;

        [[nodiscard]] std::size_t GetCount() const noexcept { return mCount; }
        // Item i of the batch, 0 being the one queued first.
        Item& operator[](std::size_t index) noexcept { return mSlots[(mHead + index) % mSlots.size()]; }
        // Drops the items [first, count) still held; keeps the storage.
        void Clear(std::size_t first = 0) noexcept
        {
            for (std::size_t i = first; i < mCount; ++i)
                (*this)[i].Reset();
            mCount = 0;
            mHead = 0;
        }

    private:
        friend class RCPtrQueue;
        std::vector<Item> mSlots;
        std::size_t mHead = 0;
        std::size_t mCount = 0;
    };

    explicit RCPtrQueue(TMutex* mutex = nullptr) noexcept : mMutex(mutex) {}
    RCPtrQueue(const RCPtrQueue&) = delete;
    RCPtrQueue& operator=(const RCPtrQueue&) = delete;

    // Appends item at the tail (a null item is stored like any other).
    void Enqueue(const Item& item) { Enqueue(Item(item)); }
    void Enqueue(Item&& item)
    {
        Guard guard(mMutex);
        EnqueueHeld(std::move(item));
    }
    // Enqueue for a caller that already holds the queue's mutex (and decided under it that the
    // item may go in).
    void EnqueueHeld(Item&& item)
    {
        MakeRoomLocked();
        mSlots[mTail] = std::move(item);
        mTail = (mTail + 1) % mSlots.size();
        SetCountLocked();
    }

    // Removes and returns the item at the head. Throws a runtime error when the queue is empty.
    [[nodiscard]] Item Dequeue()
    {
        Guard guard(mMutex);
        if (CountLocked() == 0)
            ZT_THROW(Runtime, "", ClassName() + "::Dequeue");
        return TakeHeadLocked();
    }

    // Moves the item at the head into item and returns true, or returns false when the queue is
    // empty (for consumers that may find the queue emptied under them).
    [[nodiscard]] bool TryDequeue(Item& item)
    {
        Guard guard(mMutex);
        if (CountLocked() == 0)
            return false;
        item = TakeHeadLocked();
        return true;
    }

    // Takes every item at once into batch, which must be empty (Clear it after use), by
    // swapping storages: the mutex is held for a constant time however many items wait, so
    // producers are not kept waiting by a consumer taking a large round. Returns how many.
    std::size_t TakeAll(Batch& batch)
    {
        if (batch.mCount != 0)
            ZT_THROW(Logic, "the batch still holds items", ClassName() + "::TakeAll");
        Guard guard(mMutex);
        const std::size_t count = CountLocked();
        if (count == 0)
            return 0;
        std::swap(batch.mSlots, mSlots);
        batch.mHead = mHead;
        batch.mCount = count;
        // The batch's old storage holds no items: it becomes the empty ring.
        mHead = 0;
        mTail = 0;
        if (!mSlots.empty() && mSlots.size() < 2)
            mSlots.resize(2);
        SetCountLocked();
        return count;
    }

    // Moves the batch's items [first, count) back to the head, in their order, ahead of
    // everything queued since (for a consumer that took a round and could not finish it).
    void RequeueFront(Batch& batch, std::size_t first)
    {
        Guard guard(mMutex);
        for (std::size_t last = batch.mCount; last > first;) {
            --last;
            MakeRoomLocked();
            mHead = (mHead + mSlots.size() - 1) % mSlots.size();
            mSlots[mHead] = std::move(batch[last]);
        }
        batch.mCount = first;
        SetCountLocked();
    }

    // Read without the mutex: the count as of the last change, which another thread may be
    // making at this moment.
    [[nodiscard]] std::size_t GetCount() const noexcept { return mCount.load(std::memory_order_acquire); }
    [[nodiscard]] bool IsEmpty() const { return GetCount() == 0; }
    // Slots of the ring, the always-empty one included.
    [[nodiscard]] std::size_t GetSlotCount() const
    {
        Guard guard(mMutex);
        return mSlots.size();
    }
    // Capacity of the storage under the ring, in slots.
    [[nodiscard]] std::size_t GetCapacity() const
    {
        Guard guard(mMutex);
        return mSlots.capacity();
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
        return mTail >= mHead ? mTail - mHead : mTail + mSlots.size() - mHead;
    }
    Item TakeHeadLocked() noexcept
    {
        Item item = std::move(mSlots[mHead]);
        mHead = (mHead + 1) % mSlots.size();
        SetCountLocked();
        return item;
    }
    void SetCountLocked() noexcept { mCount.store(CountLocked(), std::memory_order_release); }
    // Makes sure one more item fits: the first ring of two slots, or one slot more when full.
    void MakeRoomLocked()
    {
        if (mSlots.empty()) {
            mSlots.reserve(N);
            mSlots.resize(2);
            mHead = 0;
            mTail = 0;
        }
        if (CountLocked() == mSlots.size() - 1)
            GrowLocked();
    }
    // Full: opens one more empty slot. Unwrapped (head 0, the one empty slot at the end) it goes
    // at the end and nothing moves; wrapped, it goes just before the head, and the items from
    // the head to the end move up by one.
    void GrowLocked()
    {
        if (mSlots.size() == mSlots.capacity())
            mSlots.reserve((mSlots.size() + N) / N * N);
        if (mTail > mHead) {
            mSlots.emplace_back();
            return;
        }
        mSlots.insert(mSlots.begin() + static_cast<std::ptrdiff_t>(mHead), Item());
        mHead = (mHead + 1) % mSlots.size();
    }

    std::vector<Item> mSlots;
    std::size_t mTail = 0;
    std::size_t mHead = 0;
    std::atomic<std::size_t> mCount{0};
    TMutex* mMutex;
};

} // namespace ZT
