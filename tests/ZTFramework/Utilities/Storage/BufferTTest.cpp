#include "ZTFramework/Utilities/Storage/BufferT.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>

namespace {

// Hands out memory through malloc until told to fail; counts what it does.
class TestAllocator final : public ZT::IAllocator {
public:
    void* Allocate(std::size_t size) override { return mFail ? nullptr : (++mAllocations, std::malloc(size)); }
    void* AllocateZeroed(std::size_t count, std::size_t size) override
    {
        return mFail ? nullptr : (++mAllocations, std::calloc(count, size));
    }
    void* Reallocate(void* memory, std::size_t size) override
    {
        return mFail ? nullptr : (++mReallocations, std::realloc(memory, size));
    }
    void Free(void* memory) override
    {
        ++mFrees;
        std::free(memory);
    }

    bool mFail = false;
    int mAllocations = 0;
    int mReallocations = 0;
    int mFrees = 0;
};

TEST(BufferT, GrowingAndShrinkingKeepTheLeadingElements)
{
    TestAllocator allocator;
    {
        ZT::BufferT<std::uint32_t> buffer(allocator);
        ASSERT_TRUE(buffer.SetCapacity(4));
        for (std::uint32_t i = 0; i < 4; ++i)
            buffer.Data()[i] = i * 10;
        ASSERT_TRUE(buffer.SetCapacity(1000));
        EXPECT_EQ(buffer.GetCapacity(), 1000u);
        for (std::uint32_t i = 0; i < 4; ++i)
            EXPECT_EQ(buffer.Data()[i], i * 10);
        ASSERT_TRUE(buffer.SetCapacity(2));
        EXPECT_EQ(buffer.Data()[1], 10u);
        EXPECT_EQ(allocator.mAllocations, 1);
        EXPECT_EQ(allocator.mReallocations, 2);

        // A move hands the storage over; the moved-to buffer frees it once.
        ZT::BufferT<std::uint32_t> moved(std::move(buffer));
        EXPECT_EQ(buffer.GetCapacity(), 0u); // NOLINT(bugprone-use-after-move): a moved-from buffer is empty
        EXPECT_EQ(buffer.Data(), nullptr);
        EXPECT_EQ(moved.GetCapacity(), 2u);
    }
    EXPECT_EQ(allocator.mFrees, 1);
}

TEST(BufferT, FailedAllocationLeavesTheBufferAsItWas)
{
    TestAllocator allocator;
    ZT::BufferT<int> buffer(allocator);
    ASSERT_TRUE(buffer.SetCapacity(3));
    buffer.Data()[2] = 42;
    int* const before = buffer.Data();

    allocator.mFail = true;
    EXPECT_FALSE(buffer.SetCapacity(100));
    EXPECT_EQ(buffer.GetCapacity(), 3u);
    EXPECT_EQ(buffer.Data(), before);
    EXPECT_EQ(buffer.Data()[2], 42);

    // A size whose byte count does not fit is refused without asking the allocator.
    allocator.mFail = false;
    EXPECT_FALSE(buffer.SetCapacity(SIZE_MAX / 2));
    EXPECT_EQ(buffer.GetCapacity(), 3u);

    // A capacity of zero frees the storage.
    ASSERT_TRUE(buffer.SetCapacity(0));
    EXPECT_EQ(buffer.Data(), nullptr);
    EXPECT_EQ(allocator.mFrees, 1);
}

} // namespace
