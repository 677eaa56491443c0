#include "ZTFramework/Utilities/Storage/ConstRCPtrArray.h"
#include "tests/ZTFramework/Errors/MessageOf.h"

#include "ZTFramework/ObjectBase/RCPtr.h"

#include <gtest/gtest.h>

#include <regex>
#include <stdexcept>
#include <string>

namespace ConstRCPtrArrayTest {

class LItem : public virtual ZT::LRefCountedObject {
public:
    LItem() { ++sLive; }
    ~LItem() override { --sLive; }
    static inline int sLive = 0;
};

TEST(ConstRCPtrArray, RemovingPastTheCountThrowsOutOfRangeNamingTheConstInstance)
{
    ZT::ConstRCPtrArray<LItem, 256, 256> items;
    for (int i = 0; i < 5; ++i)
        items.Append(ZT::ConstRCPtr<LItem>(new LItem));
    const std::string message = ZT::Testing::MessageOf<ZT::Exception<std::out_of_range>>([&] { items.RemoveItem(5); });
    EXPECT_TRUE(std::regex_match(
        message, std::regex(R"(Out of Range : ZT::ConstRCPtrArray<class ConstRCPtrArrayTest::LItem,256,256>::RemoveItem : )"
                            R"(ZTFramework/Utilities/Storage/ConstRCPtrArray : Line [0-9]+)")))
        << message;
    EXPECT_THROW(items.RemoveItems(4, 2), ZT::Exception<std::out_of_range>);
    EXPECT_EQ(items.GetCount(), 5u);
}

TEST(ConstRCPtrArray, CopiesShareTheObjectsAndEachReleasesItsReferences)
{
    const ZT::ConstRCPtr<LItem> first(new LItem);
    {
        ZT::ConstRCPtrArray<LItem> items;
        items.Append(first);
        items.Append(ZT::ConstRCPtr<LItem>(new LItem));
        ZT::ConstRCPtrArray<LItem> copy = items;
        EXPECT_EQ(first->GetRefCount(), 3);
        EXPECT_EQ(copy[1], items[1]);
        EXPECT_EQ(copy.Find(first.Get()), 0);

        ZT::ConstRCPtrArray<LItem> moved = std::move(copy);
        EXPECT_EQ(copy.GetCount(), 0u);
        EXPECT_EQ(first->GetRefCount(), 3);
        moved.RemoveItem(0);
        EXPECT_EQ(first->GetRefCount(), 2);
        EXPECT_EQ(LItem::sLive, 2);
    }
    EXPECT_EQ(first->GetRefCount(), 1);
    EXPECT_EQ(LItem::sLive, 1);
}

} // namespace ConstRCPtrArrayTest
