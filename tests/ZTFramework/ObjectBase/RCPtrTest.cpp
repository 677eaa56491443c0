#include "ZTFramework/ObjectBase/RCPtr.h"
#include "tests/ZTFramework/Errors/MessageOf.h"

#include "ZTFramework/ObjectBase/RefCountedObject.h"
#include "ZTFramework/Utilities/Storage/StringT.h"

#include <gtest/gtest.h>

#include <atomic>
#include <regex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace RCPtrTest {

class LPlain : public virtual ZT::LRefCountedObject {
public:
    ~LPlain() override { ++sDestroyed; }
    static inline std::atomic<int> sDestroyed = 0;
};

class LOther : public virtual ZT::LRefCountedObject {};

// Copies itself, so that it can be made unshareable.
class LCopyable : public virtual ZT::LRefCountedObject {
public:
    explicit LCopyable(int value) : mValue(value) {}
    LRefCountedObject* CreateCopy() const override { return new LCopyable(mValue + 100); }
    int mValue;
};

// Copies itself into the wrong class.
class LWrongCopy : public virtual ZT::LRefCountedObject {
public:
    LRefCountedObject* CreateCopy() const override { return new LOther; }
};

// Holds a reference to itself (a cycle) that it drops when its last outside reference goes.
class LSelfHolding : public virtual ZT::LRefCountedObject {
public:
    LSelfHolding()
    {
        mSelf = this;
        AddInternalReference();
    }
    ~LSelfHolding() override { ++sDestroyed; }
    ZT::ZTRESULT ReleaseInternalReferences() override
    {
        ++sHookCalls;
        DropInternalReference();
        mSelf.Reset();
        return LRefCountedObject::ReleaseInternalReferences();
    }
    ZT::RCPtr<LSelfHolding> mSelf;
    static inline std::atomic<int> sDestroyed = 0;
    static inline std::atomic<int> sHookCalls = 0;
};

using ZT::Testing::MessageOf;

TEST(RCPtr, CountsFollowTheHoldersAndTheLastOneDestroysOnce)
{
    const int destroyedBefore = LPlain::sDestroyed;
    {
        ZT::RCPtr<LPlain> first(new LPlain);
        EXPECT_EQ(first->GetRefCount(), 1);
        ZT::RCPtr<LPlain> second = first;
        EXPECT_EQ(first->GetRefCount(), 2);
        ZT::ConstRCPtr<LPlain> third = second;
        EXPECT_EQ(first->GetRefCount(), 3);
        ZT::RCPtr<LPlain> moved = std::move(second);
        EXPECT_FALSE(second);
        EXPECT_EQ(first->GetRefCount(), 3);
        first = nullptr;
        EXPECT_EQ(moved->GetRefCount(), 2);
        EXPECT_EQ(LPlain::sDestroyed, destroyedBefore);
    }
    EXPECT_EQ(LPlain::sDestroyed, destroyedBefore + 1);
}

TEST(RCPtr, ConvertingToTheWrongTypeGivesNull)
{
    const ZT::RCPtr<ZT::LRefCountedObject> base(new LPlain);
    const ZT::RCPtr<LOther> other(base);
    EXPECT_FALSE(other);
    const ZT::RCPtr<LPlain> plain(base);
    EXPECT_EQ(plain.Get(), base.Get());
    EXPECT_EQ(base->GetRefCount(), 2);
}

TEST(RCPtr, ManyThreadsCopyingAndDroppingOnePointerLeaveTheCountRight)
{
    constexpr int kThreads = 8;
    constexpr int kRounds = 20000;
    const int destroyedBefore = LPlain::sDestroyed;
    ZT::RCPtr<LPlain> shared(new LPlain);
    {
        std::vector<std::thread> threads;
        for (int t = 0; t < kThreads; ++t)
            threads.emplace_back([source = shared] {
                for (int i = 0; i < kRounds; ++i) {
                    ZT::RCPtr<LPlain> copy = source;
                    ZT::ConstRCPtr<LPlain> another(copy);
                    ZT::RCPtr<LPlain> third;
                    third = copy;
                }
            });
        for (auto& thread : threads)
            thread.join();
    }
    EXPECT_EQ(shared->GetRefCount(), 1);
    EXPECT_EQ(LPlain::sDestroyed, destroyedBefore);
    shared.Reset();
    EXPECT_EQ(LPlain::sDestroyed, destroyedBefore + 1);
}

TEST(RCPtr, TheCycleBreakingHookRunsOnceWhenTheLastOutsideReferencesGoOnManyThreadsAtOnce)
{
    constexpr int kObjects = 200;
    constexpr int kThreads = 4;
    const int destroyedBefore = LSelfHolding::sDestroyed;
    const int hooksBefore = LSelfHolding::sHookCalls;
    for (int round = 0; round < kObjects; ++round) {
        std::vector<ZT::RCPtr<LSelfHolding>> holders(kThreads, ZT::RCPtr<LSelfHolding>(new LSelfHolding));
        EXPECT_EQ(holders[0]->GetRefCount(), kThreads + 1);
        std::atomic<int> ready = 0;
        std::vector<std::thread> threads;
        for (int t = 0; t < kThreads; ++t)
            threads.emplace_back([&, t] {
                ++ready;
                while (ready.load() < kThreads)
                    std::this_thread::yield();
                holders[static_cast<std::size_t>(t)].Reset();
            });
        for (auto& thread : threads)
            thread.join();
    }
    EXPECT_EQ(LSelfHolding::sHookCalls, hooksBefore + kObjects);
    EXPECT_EQ(LSelfHolding::sDestroyed, destroyedBefore + kObjects);
}

TEST(RefCountedObject, MakingASharedObjectUnshareableThrowsTheRuntimeError)
{
    const ZT::RCPtr<LCopyable> first(new LCopyable(1));
    ZT::RCPtr<LCopyable> second = first;
    const std::string message =
        MessageOf<ZT::Exception<std::runtime_error>>([&] { first->SetUnshareable(true); });
    EXPECT_TRUE(std::regex_match(message, std::regex(R"(Runtime Error : ZT::LRefCountedObject::SetUnshareable : )"
                                                     R"(ZTFramework/ObjectBase/RefCountedObject : Line [0-9]+)")))
        << message;
    EXPECT_TRUE(first->IsShareable());
}

TEST(RefCountedObject, AnUnshareableObjectIsCopiedForEachNewHolder)
{
    const ZT::RCPtr<LCopyable> first(new LCopyable(1));
    first->SetUnshareable(true);
    const ZT::RCPtr<LCopyable> second = first;
    ASSERT_TRUE(second);
    EXPECT_NE(second.Get(), first.Get());
    EXPECT_EQ(second->mValue, 101);
    EXPECT_EQ(first->GetRefCount(), 1);
    EXPECT_EQ(second->GetRefCount(), 1);
    EXPECT_TRUE(second->IsShareable()) << "the copy is an ordinary object";

    first->SetUnshareable(false);
    const ZT::RCPtr<LCopyable> third = first;
    EXPECT_EQ(third.Get(), first.Get());
}

TEST(RefCountedObject, UnsharingAClassWithoutCreateCopyThrowsTheLogicError)
{
    const ZT::RCPtr<LPlain> only(new LPlain);
    only->SetUnshareable(true);
    const std::string message = MessageOf<ZT::Exception<std::logic_error>>([&] { ZT::RCPtr<LPlain> copy = only; });
    EXPECT_TRUE(std::regex_match(message, std::regex(R"(Logic Error : CreateCopy\(\) not implemented for RefCountedObject : )"
                                                     R"(ZT::LRefCountedObject::CreateCopy : )"
                                                     R"(ZTFramework/ObjectBase/RefCountedObject : Line [0-9]+)")))
        << message;
    EXPECT_EQ(only->GetRefCount(), 1) << "the failed copy gave its reference back";

    const ZT::RCPtr<LWrongCopy> wrong(new LWrongCopy);
    wrong->SetUnshareable(true);
    const std::string wrongMessage =
        MessageOf<ZT::Exception<std::logic_error>>([&] { ZT::RCPtr<LWrongCopy> copy = wrong; });
    EXPECT_EQ(wrongMessage.rfind("Logic Error : class RCPtrTest::LWrongCopy : "
                                 "ZT::RCPtr<class RCPtrTest::LWrongCopy,class RCPtrTest::LWrongCopy *>::Unshare : ",
                                 0),
              0u)
        << wrongMessage;
    EXPECT_EQ(wrong->GetRefCount(), 1) << "the copy of the wrong class gave its reference back";
}

TEST(RefCountedObject, DefaultTextAndUndoNameTheClass)
{
    const ZT::RCPtr<LPlain> plain(new LPlain);
    EXPECT_EQ(plain->ToString().ToUTF8(), "LRefCountedObject::ToString() not overridden. Returning TypeName: "
                                          "class RCPtrTest::LPlain");
    const std::string message = MessageOf<ZT::Exception<std::logic_error>>([&] { plain->Undo(); });
    EXPECT_EQ(message.rfind("Logic Error : Undo() not implemented for RefCountedObject : "
                            "ZT::LRefCountedObject::Undo : ZTFramework/ObjectBase/RefCountedObject : Line ",
                            0),
              0u)
        << message;
}

} // namespace RCPtrTest
