#include "ZTFramework/Utilities/Storage/StringArrayT.h"
#include "tests/Support/Printers.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

TEST(StringArrayT, FindsExactlyOrIgnoringCase)
{
    ZT::WStringArray names;
    names.Append(L"NID_IDLE");
    names.Append(L"NID_LEFT_CLICK");
    names.Append(L"nid_left_click");
    EXPECT_EQ(names.Find(L"NID_LEFT_CLICK"), 1);
    EXPECT_EQ(names.Find(L"nid_left_click"), 2);
    EXPECT_EQ(names.Find(L"NID_LEFT"), -1);
    EXPECT_EQ(names.Find(static_cast<const wchar_t*>(nullptr)), -1);
    EXPECT_EQ(names.FindNoCase(L"Nid_Left_Click"), 1);
}

TEST(StringArrayT, CharactersStayWhereTheyAreWhileTheArrayGrows)
{
    ZT::WStringArray names;
    std::vector<const wchar_t*> addresses;
    for (int i = 0; i < 500; ++i) {
        ZT::WString name;
        ASSERT_RESULT_EQ(name.Format(L"NID_%d", i), ZT::S_OK);
        names.Append(name);
        addresses.push_back(names[names.GetCount() - 1].GetBuffer());
    }
    for (int i = 0; i < 500; ++i)
        EXPECT_EQ(names[i].GetBuffer(), addresses[i]) << i;
}

} // namespace
