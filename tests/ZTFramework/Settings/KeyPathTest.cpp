#include "ZTFramework/Settings/KeyPath.h"

#include "SettingsTestSupport.h"

#include <gtest/gtest.h>

using namespace ZT;
using SettingsTest::N;

namespace {

XNode* FindPath(XNode& root, const char* path)
{
    const auto parsed = CKeyPath::Parse(path);
    EXPECT_TRUE(parsed.has_value()) << path;
    return parsed ? parsed->Find(root) : nullptr;
}

XNode* CreatePath(XNode& root, const char* path)
{
    const auto parsed = CKeyPath::Parse(path);
    EXPECT_TRUE(parsed.has_value()) << path;
    return parsed ? parsed->FindOrCreate(root) : nullptr;
}

// root { Window { Recent [ "a", { Path: "p" } ] }, Count: 3 }
std::unique_ptr<XNode> Sample()
{
    auto root = std::make_unique<XNode>();
    root->SetType(XNode::Type::Dictionary);
    XNode& window = root->AppendChild(N("Window"));
    window.SetType(XNode::Type::Dictionary);
    XNode& recent = window.AppendChild(N("Recent"));
    recent.SetType(XNode::Type::Array);
    recent.AppendChild(N("")).SetString(N("a"));
    XNode& item = recent.AppendChild(N(""));
    item.SetType(XNode::Type::Dictionary);
    item.AppendChild(N("Path")).SetString(N("p"));
    root->AppendChild(N("Count")).SetInteger(3);
    return root;
}

} // namespace

TEST(KeyPath, ParsesNamesIndicesAndEmptyComponents)
{
    struct Case {
        const char* mPath;
        bool mValid;
        std::size_t mSteps;
    };
    const Case cases[] = {
        {"", true, 0},         {".", true, 0},          {"a", true, 1},           {"a.b", true, 2},
        {"a..b.", true, 2},    {"a[0]", true, 2},       {"a[2][3]", true, 3},     {"[1]", true, 1},
        {"a[007].b", true, 3}, {"a[999999999]", true, 2}, {"a[", false, 0},       {"a[]", false, 0},
        {"a[x]", false, 0},    {"a[-1]", false, 0},     {"a[1]b", false, 0},      {"a]b", false, 0},
        {"a[1", false, 0},     {"a[1000000000]", false, 0},
    };
    for (const Case& c : cases) {
        const auto parsed = CKeyPath::Parse(c.mPath);
        EXPECT_EQ(parsed.has_value(), c.mValid) << c.mPath;
        if (parsed) {
            EXPECT_EQ(parsed->GetStepCount(), c.mSteps) << c.mPath;
        }
    }
}

TEST(KeyPath, FindsByNameIgnoringAsciiCaseAndByIndexWithoutChangingAnything)
{
    auto root = Sample();
    EXPECT_EQ(FindPath(*root, ""), root.get());
    EXPECT_EQ(FindPath(*root, "count")->GetInteger(), 3);
    EXPECT_EQ(FindPath(*root, "WINDOW.recent[0]")->GetText().View(), "a");
    EXPECT_EQ(FindPath(*root, "Window.Recent[1].path")->GetText().View(), "p");
    EXPECT_EQ(FindPath(*root, "Window[0][1].Path")->GetText().View(), "p");

    // Names only match among a dictionary's children; indices past the end find nothing.
    EXPECT_EQ(FindPath(*root, "Window.Recent.Path"), nullptr);
    EXPECT_EQ(FindPath(*root, "Window.Recent[2]"), nullptr);
    EXPECT_EQ(FindPath(*root, "Count[0]"), nullptr);
    EXPECT_EQ(FindPath(*root, "Missing.Deeper"), nullptr);

    const auto fresh = Sample();
    EXPECT_TRUE(SettingsTest::SameTree(*root, *fresh));
}

TEST(KeyPath, CreatesMissingNamesAndTurnsOtherValuesIntoDictionaries)
{
    auto root = Sample();
    XNode* created = CreatePath(*root, "Count.Inner");
    ASSERT_NE(created, nullptr);
    EXPECT_EQ(created->GetType(), XNode::Type::None);
    EXPECT_EQ(created->GetName().View(), "Inner");
    XNode* count = FindPath(*root, "Count");
    EXPECT_EQ(count->GetType(), XNode::Type::Dictionary);
    EXPECT_EQ(count->GetInteger(), 0);
    EXPECT_EQ(count->GetChildCount(), 1u);

    // An array is not a dictionary either: a name below it replaces its items.
    XNode* path = CreatePath(*root, "Window.Recent.Name");
    ASSERT_NE(path, nullptr);
    EXPECT_EQ(FindPath(*root, "Window.Recent")->GetType(), XNode::Type::Dictionary);
    EXPECT_EQ(FindPath(*root, "Window.Recent")->GetChildCount(), 1u);

    // Existing nodes are found, not duplicated, whatever the case of the name.
    EXPECT_EQ(CreatePath(*root, "window.RECENT.name"), path);
}

TEST(KeyPath, CreatesMissingIndicesAsEmptyDictionaries)
{
    XNode root;
    root.SetType(XNode::Type::Dictionary);
    XNode* third = CreatePath(root, "List[2]");
    ASSERT_NE(third, nullptr);
    XNode* list = FindPath(root, "List");
    EXPECT_EQ(list->GetType(), XNode::Type::Array);
    ASSERT_EQ(list->GetChildCount(), 3u);
    for (std::size_t i = 0; i < 3; ++i) {
        EXPECT_EQ(list->GetChild(i)->GetType(), XNode::Type::Dictionary);
        EXPECT_TRUE(list->GetChild(i)->GetName().IsEmpty());
    }
    EXPECT_EQ(third, list->GetChild(2));

    // A node with children keeps its type and gets more of them.
    auto sample = Sample();
    ASSERT_NE(CreatePath(*sample, "Window[3]"), nullptr);
    XNode* window = FindPath(*sample, "Window");
    EXPECT_EQ(window->GetType(), XNode::Type::Dictionary);
    EXPECT_EQ(window->GetChildCount(), 4u);
    EXPECT_NE(FindPath(*sample, "Window.Recent[1].Path"), nullptr);
}

TEST(KeyPath, CreatesNothingWhenThePathIsTooDeepOrTheIndexTooLarge)
{
    auto root = Sample();
    const auto reference = Sample();

    std::string tooDeep = "Count";
    for (std::size_t i = 1; i <= CKeyPath::kMaxDepth; ++i)
        tooDeep += ".d";
    EXPECT_EQ(CreatePath(*root, tooDeep.c_str()), nullptr);
    EXPECT_EQ(CreatePath(*root, "Count.List[65536]"), nullptr);
    EXPECT_EQ(CreatePath(*root, "Window.Recent[999999999].x"), nullptr);
    EXPECT_TRUE(SettingsTest::SameTree(*root, *reference));

    std::string deepest = "d";
    for (std::size_t i = 1; i < CKeyPath::kMaxDepth; ++i)
        deepest += ".d";
    EXPECT_NE(CreatePath(*root, deepest.c_str()), nullptr);
    EXPECT_NE(CreatePath(*root, "Big[65535]"), nullptr);
    EXPECT_EQ(FindPath(*root, "Big")->GetChildCount(), 65536u);
}
