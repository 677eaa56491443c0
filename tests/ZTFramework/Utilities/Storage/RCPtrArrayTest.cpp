#include "ZTFramework/Utilities/Storage/RCPtrArray.h"
#include "tests/ZTFramework/Errors/MessageOf.h"

#include "ZTFramework/ObjectBase/RCPtr.h"

#include <gtest/gtest.h>

#include <functional>
#include <regex>
#include <stdexcept>
#include <string>

namespace RCPtrArrayTest {

class LItem : public virtual ZT::LRefCountedObject {
public:
    explicit LItem(int value = 0) : mValue(value) { ++sLive; }
    ~LItem() override
    {
        --sLive;
        if (mOnDestroy)
            mOnDestroy();
    }
    int mValue;
    std::function<void()> mOnDestroy;
    static inline int sLive = 0;
};

using Items = ZT::RCPtrArray<LItem>;
using BlockItems = ZT::RCPtrArray<LItem, 256, 256>;

using ZT::Testing::MessageOf;

TEST(RCPtrArray, RemovingAtOrPastTheCountThrowsOutOfRangeNamingTheInstance)
{
    BlockItems items;
    for (int i = 0; i < 5; ++i)
        items.Append(new LItem(i));
    const std::string message =
        MessageOf<ZT::Exception<std::out_of_range>>([&] { items.RemoveItem(5); });
    EXPECT_TRUE(std::regex_match(
        message, std::regex(R"(Out of Range : ZT::RCPtrArray<class RCPtrArrayTest::LItem,256,256>::RemoveItem : )"
                            R"(ZTFramework/Utilities/Storage/RCPtrArray : Line [0-9]+)")))
        << message;
    EXPECT_EQ(items.GetCount(), 5u);

    Items small;
    EXPECT_NE(MessageOf<ZT::Exception<std::out_of_range>>([&] { small.RemoveItem(0); })
                  .find("ZT::RCPtrArray<class RCPtrArrayTest::LItem,1,0>::RemoveItem : "),
              std::string::npos);
    const std::pair<const char*, std::function<void()>> others[] = {
        {"::GetAt : ", [&] { (void)items.GetAt(7); }},
        {"::RemoveItems : ", [&] { items.RemoveItems(3, 3); }},
        {"::InsertAt : ", [&] { items.InsertAt(6, ZT::MakeRC<LItem>()); }}};
    for (const auto& [function, call] : others)
        EXPECT_NE(MessageOf<ZT::Exception<std::out_of_range>>(call).find(function), std::string::npos) << function;
    EXPECT_EQ(LItem::sLive, 5) << "a refused insertion must not keep or leak its object";
}

TEST(RCPtrArray, HoldsOneReferencePerElementAndReleasesItOnEveryWayOut)
{
    {
        ZT::RCPtr<LItem> kept(new LItem(1));
        Items items;
        items.Append(kept);
        items.Append(new LItem(2));
        items.Append(new LItem(3));
        items.Append(new LItem(4));
        items.InsertAt(0, static_cast<LItem*>(nullptr));
        EXPECT_EQ(kept->GetRefCount(), 2);
        EXPECT_EQ(LItem::sLive, 4);

        items.RemoveItem(2); // value 2
        EXPECT_EQ(LItem::sLive, 3);
        items.SetAt(2, new LItem(30)); // replaces value 3
        EXPECT_EQ(LItem::sLive, 3);
        items.SetSize(2); // drops 30 and 4
        EXPECT_EQ(LItem::sLive, 1);
        ASSERT_EQ(items.GetCount(), 2u);
        EXPECT_EQ(items[0], nullptr);
        EXPECT_EQ(items[1], kept.Get());

        Items copy(items);
        EXPECT_EQ(kept->GetRefCount(), 3);
        items.RemoveAll();
        EXPECT_EQ(kept->GetRefCount(), 2);
        copy.SetSize(4);
        copy.Append(new LItem(5));
        EXPECT_EQ(LItem::sLive, 2);
    }
    EXPECT_EQ(LItem::sLive, 0);
}

TEST(RCPtrArray, AnElementsDestructorSeesTheArrayAlreadyWithoutIt)
{
    Items items;
    items.Append(new LItem(1));
    items.Append(new LItem(2));
    items.Append(new LItem(3));
    std::size_t countSeen = 99;
    std::ptrdiff_t indexSeen = 99;
    LItem* middle = items[1];
    middle->mOnDestroy = [&] {
        countSeen = items.GetCount();
        indexSeen = items.Find(middle);
    };
    items.RemoveItem(1);
    EXPECT_EQ(countSeen, 2u);
    EXPECT_EQ(indexSeen, -1);
    EXPECT_EQ(items[1]->mValue, 3);
}

TEST(RCPtrArray, BlockStorageGrowsAndShrinksByWholeBlocksWithOneBlockOfSlack)
{
    BlockItems items;
    items.Append(new LItem);
    EXPECT_EQ(items.GetCapacity(), 256u);
    items.SetSize(256);
    EXPECT_EQ(items.GetCapacity(), 256u);
    items.Append(new LItem);
    EXPECT_EQ(items.GetCapacity(), 512u);

    items.SetSize(256); // 256 spare: kept
    EXPECT_EQ(items.GetCapacity(), 512u);
    items.RemoveItem(255); // 257 spare: one block given back
    EXPECT_EQ(items.GetCapacity(), 256u);

    items.SetSize(1000);
    EXPECT_EQ(items.GetCapacity(), 1024u);
    items.RemoveAll();
    EXPECT_EQ(items.GetCapacity(), 0u);
    EXPECT_EQ(LItem::sLive, 0);
}

TEST(RCPtrArray, SeenAsAConstArrayItReadsButRefusesConstObjects)
{
    Items items;
    items.Append(new LItem(7));
    const ZT::ConstRCPtrArray<LItem>& view = items;
    ZT::IArray<ZT::ConstRCPtr<LItem>>& constInterface = items;
    ZT::IArray<ZT::RCPtr<LItem>>& interface = items;

    EXPECT_EQ(view.GetAt(0)->mValue, 7);
    EXPECT_EQ(interface.GetAt(0)->mValue, 7);
    EXPECT_EQ(constInterface.GetCount(), 1u);

    const ZT::ConstRCPtr<LItem> constant(new LItem(8));
    const std::string message =
        MessageOf<ZT::Exception<std::logic_error>>([&] { constInterface.Append(constant); });
    EXPECT_EQ(message.rfind("Logic Error : a const object cannot go into an array of modifiable ones : "
                            "ZT::RCPtrArray<class RCPtrArrayTest::LItem,1,0>::Append : ",
                            0),
              0u)
        << message;
    EXPECT_THROW(constInterface.SetAt(0, constant), ZT::Exception<std::logic_error>);
    EXPECT_EQ(items.GetCount(), 1u);
    EXPECT_EQ(constant->GetRefCount(), 1);

    interface.InsertAt(0, ZT::MakeRC<LItem>(6));
    int sum = 0;
    for (LItem* item : items)
        sum += item->mValue;
    EXPECT_EQ(sum, 13);
}

} // namespace RCPtrArrayTest
