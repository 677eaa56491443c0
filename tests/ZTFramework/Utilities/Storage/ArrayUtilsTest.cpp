#include "ZTFramework/Utilities/Storage/ArrayUtils.h"
#include "tests/ZTFramework/Errors/MessageOf.h"

#include <gtest/gtest.h>

#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

using ZT::Array;

std::vector<int> Contents(const ZT::IIterable<int>& items)
{
    std::vector<int> values;
    for (std::size_t i = 0; i < items.GetCount(); ++i)
        values.push_back(items.GetAt(i));
    return values;
}

TEST(Array, EveryIndexAtOrPastTheEndThrowsTheVectorSubscriptError)
{
    struct Row {
        const char* operation;
        std::function<void(Array<int>&)> call;
    };
    const Row rows[] = {
        {"GetAt at count", [](Array<int>& a) { (void)a.GetAt(3); }},
        {"operator[] at count", [](Array<int>& a) { (void)a[3]; }},
        {"const operator[] far past", [](Array<int>& a) { (void)static_cast<const Array<int>&>(a)[1000]; }},
        {"SetAt at count", [](Array<int>& a) { a.SetAt(3, 7); }},
        {"RemoveItem at count", [](Array<int>& a) { a.RemoveItem(3); }},
        {"InsertAt past count", [](Array<int>& a) { a.InsertAt(4, 7); }},
        {"RemoveItems running past the end", [](Array<int>& a) { a.RemoveItems(2, 2); }},
        {"RemoveItems starting at count", [](Array<int>& a) { a.RemoveItems(3, 1); }},
    };
    for (const Row& row : rows) {
        Array<int> items{1, 2, 3};
        EXPECT_EQ(ZT::Testing::MessageOf<std::out_of_range>([&] { row.call(items); }), "invalid vector<T> subscript")
            << row.operation;
        EXPECT_EQ(Contents(items), (std::vector<int>{1, 2, 3})) << row.operation << " changed the array";
    }
}

TEST(Array, InsertAndRemoveKeepTheOrderThroughTheInterface)
{
    Array<int> items;
    ZT::IArray<int>& array = items;
    array.Append(1);
    array.Append(4);
    array.InsertAt(1, 2);
    array.InsertAt(2, 3);
    array.InsertAt(4, 5); // at the count: appends
    array.InsertAt(0, 0);
    EXPECT_EQ(Contents(items), (std::vector<int>{0, 1, 2, 3, 4, 5}));

    array.RemoveItems(1, 2);
    EXPECT_EQ(Contents(items), (std::vector<int>{0, 3, 4, 5}));
    array.RemoveItem(3);
    array.SetAt(0, 9);
    EXPECT_EQ(Contents(items), (std::vector<int>{9, 3, 4}));
    array.RemoveItems(3, 0); // nothing to remove at the end is not an error
    array.SetSize(5);
    EXPECT_EQ(Contents(items), (std::vector<int>{9, 3, 4, 0, 0}));
    EXPECT_EQ(items.Find(4), 2);
    EXPECT_EQ(items.Find(8), -1);
    array.RemoveAll();
    EXPECT_TRUE(array.IsEmpty());
}

} // namespace
