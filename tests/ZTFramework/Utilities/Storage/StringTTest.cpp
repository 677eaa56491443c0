#include "ZTFramework/Utilities/Storage/StringT.h"
#include "tests/Support/Printers.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <thread>
#include <vector>

namespace {

using ZT::NString;
using ZT::WString;

TEST(StringConversion, NarrowAndWideRoundTripAcrossAllSequenceLengths)
{
    // One-, two-, three- and four-byte UTF-8 sequences: A, e-acute, the euro sign, a musical
    // symbol outside the basic plane (one wchar_t here, four bytes in UTF-8).
    const char* utf8 = "A\xC3\xA9\xE2\x82\xAC\xF0\x9D\x84\x9E";
    WString wide(utf8);
    ASSERT_EQ(wide.GetLength(), 4);
    EXPECT_EQ(wide.GetBuffer()[1], L'\u00E9');
    EXPECT_EQ(wide.GetBuffer()[2], L'\u20AC');
    EXPECT_EQ(static_cast<char32_t>(wide.GetBuffer()[3]), U'\U0001D11E');
    EXPECT_EQ(wide.ToUTF8(), utf8);
    NString narrow(wide);
    EXPECT_EQ(narrow.GetLength(), 10);
    EXPECT_EQ(narrow.GetSizeInBytes(), 11);
    EXPECT_STREQ(narrow.GetBuffer(), utf8);
    // An embedded 0 ends the text: the size counts up to the first 0.
    EXPECT_EQ(WString("ab\0cd", 5).GetLength(), 2);
    EXPECT_TRUE(WString("abc") == L"abc");
    // Wide values that are no code points (a surrogate, past U+10FFFF) become U+FFFD in UTF-8.
    const wchar_t bad[] = {static_cast<wchar_t>(0xD800), static_cast<wchar_t>(0x110000), L'x', 0};
    EXPECT_EQ(WString(bad).ToUTF8(), "\xEF\xBF\xBD\xEF\xBF\xBD" "x");
}

TEST(StringConversion, MalformedUTF8FailsTheAssignment)
{
    const char* const malformed[] = {
        "\xC3",             // truncated two-byte sequence
        "a\x80z",           // stray continuation byte
        "\xC0\xAF",         // overlong encoding of '/'
        "\xE2\x28\xA1",     // bad continuation in a three-byte sequence
        "\xF0\x9D\x84",     // truncated four-byte sequence
        "\xFE",             // never legal
        "\xED\xA0\x80",     // an encoded surrogate (U+D800)
    };
    for (const char* text : malformed) {
        WString s(L"kept?");
        EXPECT_RESULT_EQ(s.Assign(text), ZT::E_FAIL) << text;
        EXPECT_TRUE(s.IsEmpty());
    }
}

TEST(StringBuffer, CopiesShareUntilOneIsWrittenAndEmptyStringsShareOneBuffer)
{
    WString a(L"shared text");
    WString b = a;
    EXPECT_TRUE(a.SharesBufferWith(b));
    EXPECT_TRUE(WString().SharesBufferWith(WString(L"")));
    EXPECT_TRUE(WString().SharesBufferWith(WString(static_cast<const char*>(nullptr))));

    wchar_t* chars = b.Lock();
    ASSERT_NE(chars, nullptr);
    chars[0] = L'S';
    EXPECT_RESULT_EQ(b.Unlock(), ZT::S_OK);
    EXPECT_TRUE(a == L"shared text");
    EXPECT_TRUE(b == L"Shared text");
    EXPECT_FALSE(a.SharesBufferWith(b));
}

TEST(StringLock, CopyTakenWhileLockedGetsItsOwnBuffer)
{
    WString s(L"abc");
    wchar_t* chars = s.Lock(10);
    ASSERT_NE(chars, nullptr);
    EXPECT_EQ(chars[9], L'\0');
    WString copy = s; // locked buffers are not shared
    EXPECT_FALSE(copy.SharesBufferWith(s));
    std::wcscpy(chars, L"written");
    EXPECT_RESULT_EQ(s.Unlock(), ZT::S_OK);
    EXPECT_TRUE(s == L"written");
    EXPECT_EQ(s.GetLength(), 7);
    EXPECT_EQ(s.GetSizeInBytes(), static_cast<std::int32_t>(8 * sizeof(wchar_t)));
    EXPECT_TRUE(copy == L"abc");
}

TEST(StringLock, SecondLockFailsAndUnlockRules)
{
    WString s(L"abc");
    EXPECT_RESULT_EQ(s.Unlock(), ZT::S_FALSE); // not locked
    wchar_t* chars = s.Lock();
    ASSERT_NE(chars, nullptr);
    EXPECT_EQ(std::wstring(chars), L"abc"); // length 0 keeps the text and its terminator
    EXPECT_EQ(s.Lock(), nullptr);
    chars[0] = 0;
    EXPECT_RESULT_EQ(s.Unlock(), ZT::S_OK);
    EXPECT_TRUE(s.IsEmpty());
    EXPECT_TRUE(s.SharesBufferWith(WString()));

    // Locking the empty string gives a private buffer, never the shared empty one.
    WString e;
    wchar_t* ec = e.Lock(4);
    ASSERT_NE(ec, nullptr);
    std::wcscpy(ec, L"xyz");
    EXPECT_RESULT_EQ(e.Unlock(), ZT::S_OK);
    EXPECT_TRUE(e == L"xyz");
    EXPECT_TRUE(WString().IsEmpty());
}

TEST(StringFormat, BoundedTo16383CharactersAndDecimalsFormat)
{
    WString s;
    std::wstring longText(20000, L'x');
    (void)s.Format(L"%ls", longText.c_str());
    EXPECT_EQ(s.GetLength(), 16383);

    NString n;
    std::string longNarrow(20000, 'y');
    EXPECT_RESULT_EQ(n.Format("%s", longNarrow.c_str()), ZT::S_OK);
    EXPECT_EQ(n.GetLength(), 16383);

    EXPECT_TRUE(WString::FromReal(3.14159, 2) == L"3.14");
    EXPECT_TRUE(WString::FromReal(2.5, -1) == L"2.500000");
    EXPECT_TRUE(WString::FromReal(2.5, 0) == L"2"); // round half to even, as printf does
    EXPECT_TRUE(WString::FromNumber(-42) == L"-42");
    (void)s.Format(L"%d-%ls-%s", 7, L"w", "n");
    EXPECT_TRUE(s == L"7-w-n");
}

TEST(StringOperations, FindMidCaseAndTrim)
{
    WString s(L"  Halvard XR4000 NOVA WD ");
    EXPECT_EQ(s.Find(L"XR"), 10);
    EXPECT_EQ(s.Find(L"XR", 11), -1);
    EXPECT_EQ(s.Find(L'H'), 2);
    EXPECT_TRUE(s.Trimmed() == L"Halvard XR4000 NOVA WD");
    EXPECT_TRUE(s.Mid(10, 6) == L"XR4000");
    EXPECT_TRUE(s.Mid(100).IsEmpty());
    EXPECT_TRUE(s.Mid(-5, 4) == L"  Ha");
    EXPECT_EQ(WString(L"NOVA").CompareNoCase(WString(L"nova")), 0);
    EXPECT_LT(WString(L"nov").CompareNoCase(WString(L"NOVA")), 0);
    EXPECT_TRUE(WString(L"Mixed Case 42").ToLower() == L"mixed case 42");
    EXPECT_TRUE(NString("Mixed Case 42").ToUpper() == "MIXED CASE 42");
    EXPECT_TRUE(WString(L"abc") + WString(L"def") == L"abcdef");
}

TEST(StringThreads, CopiesOfOneStringOnManyThreadsKeepTheBufferAlive)
{
    const WString original(L"the text every thread copies");
    std::vector<std::thread> threads;
    for (int t = 0; t < 8; ++t) {
        threads.emplace_back([&original] {
            for (int i = 0; i < 20000; ++i) {
                WString copy = original;
                WString again(copy);
                if (again.GetLength() != original.GetLength())
                    std::abort();
            }
        });
    }
    for (auto& thread : threads)
        thread.join();
    EXPECT_TRUE(original == L"the text every thread copies");
}

} // namespace
