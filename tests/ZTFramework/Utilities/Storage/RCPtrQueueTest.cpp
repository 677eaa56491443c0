#include "ZTFramework/Utilities/Storage/RCPtrQueue.h"
#include "tests/ZTFramework/Errors/MessageOf.h"

#include "ZTFramework/ObjectBase/RCPtr.h"
#include "ZTFramework/Threads/Mutex.h"

#include <gtest/gtest.h>

#include <regex>
#include <stdexcept>
#include <string>
#include <vector>

namespace RCPtrQueueTest {

class LItem : public virtual ZT::LRefCountedObject {
public:
    explicit LItem(int value) : mValue(value) { ++sLive; }
    ~LItem() override { --sLive; }
    int mValue;
    static inline std::atomic<int> sLive = 0;
};

using Queue = ZT::RCPtrQueue<LItem, 256, ZT::Mutex>;

TEST(RCPtrQueue, DequeueOnEmptyThrowsTheRuntimeErrorNamingTheInstance)
{
    ZT::Mutex mutex;
    Queue queue(&mutex);
    for (int round = 0; round < 2; ++round) {
        const std::string message =
            ZT::Testing::MessageOf<ZT::Exception<std::runtime_error>>([&] { (void)queue.Dequeue(); });
        EXPECT_TRUE(std::regex_match(
            message, std::regex(R"(Runtime Error : ZT::RCPtrQueue<class RCPtrQueueTest::LItem,256,class ZT::Mutex>)"
                                R"(::Dequeue : ZTFramework/Utilities/Storage/RCPtrQueue : Line [0-9]+)")))
            << message;
        // Emptied again after use, it still refuses, and the mutex was let go on the way out.
        queue.Enqueue(ZT::MakeRC<LItem>(1));
        EXPECT_EQ(queue.Dequeue()->mValue, 1);
        EXPECT_TRUE(mutex.TryLock());
        mutex.Unlock();
    }
}

// Fills and drains in the given steps (positive: enqueue that many, negative: dequeue) and
// checks every item comes out in the order it went in.
void RunPattern(const std::vector<int>& steps)
{
    Queue queue;
    int next = 0;
    int expected = 0;
    for (int step : steps) {
        for (int i = 0; i < step; ++i)
            queue.Enqueue(ZT::MakeRC<LItem>(next++));
        for (int i = 0; i < -step; ++i)
            ASSERT_EQ(queue.Dequeue()->mValue, expected++);
        ASSERT_EQ(queue.GetCount(), static_cast<std::size_t>(next - expected));
        ASSERT_LT(queue.GetCount(), queue.GetSlotCount()) << "one slot always stays empty";
    }
    while (!queue.IsEmpty())
        ASSERT_EQ(queue.Dequeue()->mValue, expected++);
    EXPECT_EQ(expected, next);
}

TEST(RCPtrQueue, GrowingKeepsTheOrderWhetherOrNotTheItemsWrap)
{
    const std::vector<std::vector<int>> patterns = {
        {300},                     // grows from the start, never wraps
        {1, -1, 1, -1, 1, 5},      // head in the middle of the first ring when it grows
        {3, -2, 5, -4, 20, -19, 600},
        {100, -60, 300, -200, 500, -640},
        {2, -1, 2, -2, 1, 1, 1, 1, 1},
    };
    for (const auto& pattern : patterns) {
        SCOPED_TRACE(::testing::PrintToString(pattern));
        RunPattern(pattern);
    }
    EXPECT_EQ(LItem::sLive, 0);
}

TEST(RCPtrQueue, AFullRingGrowsByOneSlotInsideBlocksOf256AndReleasesWhatItHoldsWhenDestroyed)
{
    {
        Queue queue;
        queue.Enqueue(ZT::MakeRC<LItem>(0));
        EXPECT_EQ(queue.GetSlotCount(), 2u);
        for (int i = 1; i < 300; ++i)
            queue.Enqueue(ZT::MakeRC<LItem>(i));
        EXPECT_EQ(queue.GetSlotCount(), 301u);
        EXPECT_EQ(queue.GetCapacity(), 512u);
        // Draining never shrinks it.
        while (queue.GetCount() > 9)
            (void)queue.Dequeue();
        EXPECT_EQ(queue.GetSlotCount(), 301u);
        EXPECT_EQ(LItem::sLive, 9);
    }
    EXPECT_EQ(LItem::sLive, 0);
}

TEST(RCPtrQueue, TakingEverythingAtOnceKeepsTheOrderAcrossWrapsAndPutBacks)
{
    Queue queue;
    Queue::Batch batch;
    int next = 0;
    // Wrap the ring first: the head sits in the middle when the batch is taken.
    for (; next < 5; ++next)
        queue.Enqueue(ZT::MakeRC<LItem>(next));
    for (int i = 0; i < 3; ++i)
        (void)queue.Dequeue();
    for (; next < 9; ++next)
        queue.Enqueue(ZT::MakeRC<LItem>(next));
    ASSERT_EQ(queue.TakeAll(batch), 6u);
    EXPECT_EQ(queue.GetCount(), 0u);
    for (std::size_t i = 0; i < batch.GetCount(); ++i)
        EXPECT_EQ(batch[i]->mValue, static_cast<int>(i) + 3);

    // Posted meanwhile, then the unfinished part of the batch goes back in front of it.
    queue.Enqueue(ZT::MakeRC<LItem>(100));
    queue.RequeueFront(batch, 4);
    EXPECT_EQ(batch.GetCount(), 4u);
    batch.Clear();
    std::vector<int> order;
    while (!queue.IsEmpty())
        order.push_back(queue.Dequeue()->mValue);
    EXPECT_EQ(order, (std::vector<int>{7, 8, 100}));

    // The batch's storage serves the next round; a batch still holding items is refused.
    for (int i = 0; i < 300; ++i)
        queue.Enqueue(ZT::MakeRC<LItem>(i));
    ASSERT_EQ(queue.TakeAll(batch), 300u);
    queue.Enqueue(ZT::MakeRC<LItem>(1));
    EXPECT_THROW(queue.TakeAll(batch), ZT::Exception<std::logic_error>);
    EXPECT_EQ(batch[299]->mValue, 299);
    batch.Clear();
    EXPECT_EQ(queue.TakeAll(batch), 1u);
    batch.Clear();
    EXPECT_EQ(LItem::sLive, 0);
}

} // namespace RCPtrQueueTest
