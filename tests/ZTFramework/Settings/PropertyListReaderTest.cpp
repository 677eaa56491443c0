#include "ZTFramework/Settings/KeyPath.h"
#include "ZTFramework/Settings/PropertyListReader.h"
#include "ZTFramework/Settings/PropertyListWriter.h"

#include "SettingsTestSupport.h"

#include <gtest/gtest.h>

#include <cmath>

using namespace ZT;
using SettingsTest::N;

namespace {

CPropertyListReader::Result ReadPlist(const std::string& body)
{
    return CPropertyListReader::Read(std::string(CPropertyListWriter::kHeader) + body + "</plist>\n");
}

// A document with every type, nesting in both directions, flags and texts that need escapes.
std::unique_ptr<XNode> RichDocument()
{
    auto root = std::make_unique<XNode>();
    root->SetType(XNode::Type::Dictionary);
    root->AppendChild(N("Application")).SetString(N("T & <Co> \"quoted\" 'single'"));
    root->AppendChild(N("Unicode \xC3\xA9\xE2\x82\xAC\xF0\x9F\x8E\xA7")).SetString(N("\xE6\x97\xA5\xE6\x9C\xAC"));
    root->AppendChild(N("Lines")).SetString(N("one\ntwo\tthree  "));
    root->AppendChild(N("Empty")).SetString(N(""));
    XNode& section = root->AppendChild(N("A_B"));
    section.SetType(XNode::Type::Dictionary);
    section.AppendChild(N("Yes")).SetBoolean(true);
    section.AppendChild(N("No")).SetBoolean(false);
    section.AppendChild(N("Min")).SetInteger(INT32_MIN);
    section.AppendChild(N("Max")).SetInteger(INT32_MAX);
    section.AppendChild(N("Real")).SetReal(-2.75f);
    section.AppendChild(N("Big")).SetReal(1.5e9f);
    section.AppendChild(N("Blob")).SetData(N("AAEC/w=="));
    XNode& locked = section.AppendChild(N("Locked"));
    locked.SetInteger(5);
    locked.SetFlag(XNode::kFlagLocked, true);
    locked.SetFlag(XNode::kFlagVisible, true);
    XNode& list = section.AppendChild(N("List"));
    list.SetType(XNode::Type::Array);
    list.AppendChild(N("")).SetString(N("<first>"));
    XNode& nestedArray = list.AppendChild(N(""));
    nestedArray.SetType(XNode::Type::Array);
    nestedArray.AppendChild(N("")).SetInteger(7);
    nestedArray.AppendChild(N("")).SetType(XNode::Type::Dictionary);
    XNode& item = list.AppendChild(N(""));
    item.SetType(XNode::Type::Dictionary);
    item.SetFlag(XNode::kFlagVisible, true);
    item.AppendChild(N("Path")).SetString(N("/home/dj/sets & mixes"));
    XNode& deeper = item.AppendChild(N("Deeper"));
    deeper.SetType(XNode::Type::Dictionary);
    deeper.AppendChild(N("Leaf")).SetBoolean(true);
    return root;
}

} // namespace

TEST(PropertyListReader, ReadsBackWhatTheWriterWrote)
{
    const auto original = RichDocument();
    const std::string text = CPropertyListWriter::Write(*original);
    const auto read = CPropertyListReader::Read(text);
    ASSERT_FALSE(read.mFailed) << read.mError.mReason;
    EXPECT_EQ(read.mSkippedCount, 0u);
    EXPECT_TRUE(SettingsTest::SameTree(*original, *read.mRoot));
    // And writing the read document gives the same bytes again.
    EXPECT_EQ(CPropertyListWriter::Write(*read.mRoot), text);
}

TEST(PropertyListReader, WrittenFilesAreStandardPropertyLists)
{
    if (!SettingsTest::HavePython())
        GTEST_SKIP() << "python3 is not installed";
    SettingsTest::TempFolder folder;
    const std::string path = folder.File("rich.ini");
    SettingsTest::WriteFile(path, CPropertyListWriter::Write(*RichDocument()));
    EXPECT_TRUE(SettingsTest::ParsesAsPropertyList(path));

    // The check itself does reject a broken file.
    SettingsTest::WriteFile(path, "<plist><dict><key>a</key></plist>");
    EXPECT_FALSE(SettingsTest::ParsesAsPropertyList(path));
}

// Numbers are read as C reads them; those that do not parse are reported (on their line) and read
// as far as C would.
TEST(PropertyListReader, ReadsNumberLiteralsAsCDoesAndReportsThoseThatDoNotParse)
{
    struct Case {
        const char* mElement;
        const char* mText;
        double mValue;
        const char* mReason; // nullptr: read without a report
    };
    const Case cases[] = {
        {"integer", "0", 0, nullptr},       {"integer", "42", 42, nullptr},     {"integer", "-12", -12, nullptr},
        {"integer", "+5", 5, nullptr},      {"integer", "0x10", 16, nullptr},   {"integer", "0X1f", 31, nullptr},
        {"integer", "-0x10", -16, nullptr}, {"integer", "010", 8, nullptr},     {"integer", " \n 7\t", 7, nullptr},
        {"integer", "2147483647", INT32_MAX, nullptr}, {"integer", "-2147483648", INT32_MIN, nullptr},
        {"integer", "0x7FFFFFFF", INT32_MAX, nullptr},
        {"real", "2.9", 2.9, nullptr},      {"real", " -1.5e3 ", -1500, nullptr}, {"real", "+0.25", 0.25, nullptr},
        {"real", "7", 7, nullptr},          {"real", "2.900000", 2.9, nullptr},
        {"integer", "abc", 0, "integer \"abc\" is not a valid number; read as 0"},
        {"integer", "12abc", 12, "integer \"12abc\" is not a valid number; read as 12"},
        {"integer", "08", 0, "integer \"08\" is not a valid number; read as 0"},
        {"integer", "0x", 0, "integer \"0x\" is not a valid number; read as 0"},
        {"integer", "", 0, "integer \"\" is not a valid number; read as 0"},
        {"integer", "1 2", 1, "integer \"1 2\" is not a valid number; read as 1"},
        {"integer", "4294967296", INT32_MAX, "integer \"4294967296\" is out of range; read as 2147483647"},
        {"integer", "-99999999999999999999", INT32_MIN,
         "integer \"-99999999999999999999\" is out of range; read as -2147483648"},
        {"real", "x", 0, "real \"x\" is not a valid number; read as 0.000000"},
        {"real", "2.5kg", 2.5, "real \"2.5kg\" is not a valid number; read as 2.500000"},
        {"real", "1e99", 0, "real \"1e99\" is out of range; read as 0"},
    };
    for (const Case& c : cases) {
        const auto read = ReadPlist(std::string("<dict>\n<key>v</key>\n<") + c.mElement + ">" + c.mText + "</" +
                                    c.mElement + ">\n</dict>");
        ASSERT_FALSE(read.mFailed) << c.mText;
        const XNode* value = read.mRoot->FindChild("v");
        ASSERT_NE(value, nullptr);
        if (std::string(c.mElement) == "integer") {
            EXPECT_EQ(value->GetType(), XNode::Type::Integer);
            EXPECT_EQ(value->GetInteger(), static_cast<std::int32_t>(c.mValue)) << c.mText;
        } else {
            EXPECT_EQ(value->GetReal(), static_cast<float>(c.mValue)) << c.mText;
        }
        if (!c.mReason) {
            EXPECT_EQ(read.mSkippedCount, 0u) << c.mText;
            continue;
        }
        ASSERT_EQ(read.mSkippedCount, 1u) << c.mText;
        EXPECT_EQ(read.mSkipped[0].mLine, 6u);
        EXPECT_EQ(read.mSkipped[0].mReason, c.mReason);
    }
    EXPECT_TRUE(std::isinf(ReadPlist("<real>inf</real>").mRoot->GetReal()));
}

TEST(PropertyListReader, ComparesElementAndAttributeNamesIgnoringCaseAndSetsFlagsOnlyForTrue)
{
    const auto read = ReadPlist("<DICT>\n"
                                "<Key>a</Key><STRING Visible=\"TRUE\" LOCKED=\"True\">x</STRING>\n"
                                "<key>b</key><True visible=\"yes\"/>\n"
                                "<key>c</key><Integer locked=\"false\" other=\"true\">3</Integer>\n"
                                "</DICT>");
    ASSERT_FALSE(read.mFailed) << read.mError.mReason;
    EXPECT_EQ(read.mSkippedCount, 0u);
    const XNode* a = read.mRoot->FindChild("A");
    ASSERT_NE(a, nullptr);
    EXPECT_EQ(a->GetText().View(), "x");
    EXPECT_EQ(a->GetFlags(), XNode::kFlagVisible | XNode::kFlagLocked);
    EXPECT_TRUE(read.mRoot->FindChild("b")->GetBoolean());
    EXPECT_EQ(read.mRoot->FindChild("b")->GetFlags(), 0);
    EXPECT_EQ(read.mRoot->FindChild("c")->GetInteger(), 3);
    EXPECT_EQ(read.mRoot->FindChild("c")->GetFlags(), 0);
}

TEST(PropertyListReader, KeepsStringAndDataTextAsItIs)
{
    const auto read = ReadPlist("<dict><key>s</key><string>  a &amp; b\n&#x41;&#233;  </string>"
                                "<key>d</key><data>\n\tAAEC\n\t/w==\n</data></dict>");
    ASSERT_FALSE(read.mFailed);
    EXPECT_EQ(read.mRoot->FindChild("s")->GetText().View(), "  a & b\nA\xC3\xA9  ");
    EXPECT_EQ(read.mRoot->FindChild("d")->GetType(), XNode::Type::Data);
    EXPECT_EQ(read.mRoot->FindChild("d")->GetText().View(), "\n\tAAEC\n\t/w==\n");
}

TEST(PropertyListReader, SkipsUnknownElementsButReadsTheValuesAroundAndInsideThem)
{
    const auto read = ReadPlist("<dict>\n"
                                "<key>When</key><date>2024-01-01T00:00:00Z</date>\n"
                                "<key>Kept</key><integer>1</integer>\n"
                                "<wrapper><key>Inner</key><string>in</string></wrapper>\n"
                                "</dict>");
    ASSERT_FALSE(read.mFailed);
    ASSERT_EQ(read.mSkippedCount, 3u);
    EXPECT_EQ(read.mSkipped[0].mLine, 5u);
    EXPECT_EQ(read.mSkipped[0].mReason, "unknown element <date> ignored");
    // The key "When" never got a value: it is reported once the next key arrives.
    EXPECT_EQ(read.mSkipped[1].mLine, 5u);
    EXPECT_EQ(read.mSkipped[1].mReason, "key \"When\" has no value");
    EXPECT_EQ(read.mSkipped[2].mLine, 7u);
    EXPECT_EQ(read.mSkipped[2].mReason, "unknown element <wrapper> ignored");
    ASSERT_EQ(read.mRoot->GetChildCount(), 2u);
    EXPECT_EQ(read.mRoot->FindChild("Kept")->GetInteger(), 1);
    EXPECT_EQ(read.mRoot->FindChild("Inner")->GetText().View(), "in");
}

TEST(PropertyListReader, ReportsDanglingKeysReferencesAndMisplacedContent)
{
    struct Case {
        const char* mBody;
        const char* mReason;
        unsigned long mLine;
    };
    const Case cases[] = {
        {"<dict>\n<key>a</key><integer>1</integer>\n<key>lost</key>\n</dict>", "key \"lost\" has no value", 6},
        {"<dict><key>a</key><string>x&undefined;y</string></dict>", "reference to undefined entity &undefined; left out",
         4},
        {"<array><key>k</key><string>x</string></array>", "<key> outside a dictionary ignored", 4},
        {"<dict>stray text<key>a</key><true/></dict>", "text \"stray text\" inside <dict> ignored", 4},
        {"<dict><key>a</key><true>yes</true></dict>", "text \"yes\" inside <true/> ignored", 4},
        {"<dict><key>a</key><string>x<b>bold</b></string></dict>", "element <b> inside <string> ignored", 4},
        {"<dict/>\n<dict><key>a</key><true/></dict>", "value <dict> after the top-level value ignored", 5},
    };
    for (const Case& c : cases) {
        const auto read = ReadPlist(c.mBody);
        ASSERT_FALSE(read.mFailed) << c.mBody << ": " << read.mError.mReason;
        ASSERT_EQ(read.mSkippedCount, 1u) << c.mBody;
        EXPECT_EQ(read.mSkipped[0].mReason, c.mReason);
        EXPECT_EQ(read.mSkipped[0].mLine, c.mLine) << c.mBody;
    }

    // Only the first skipped items are listed; all are counted.
    std::string body = "<dict>";
    for (int i = 0; i < 50; ++i)
        body += "<key>k</key><integer>x</integer>";
    const auto many = ReadPlist(body + "</dict>");
    EXPECT_EQ(many.mSkippedCount, 50u);
    EXPECT_EQ(many.mSkipped.size(), CPropertyListReader::kMaxListedSkips);
}

TEST(PropertyListReader, FailsWithTheParsersLineAndMessageForBadXml)
{
    struct Case {
        std::string mBytes;
        unsigned long mLine;
        const char* mReason;
    };
    const Case cases[] = {
        {"<plist>\n<dict>\n<key>a</key><string>x</dict>\n</plist>", 3, "mismatched tag"},
        {"<plist>\n<dict>\n<key>a</key><str", 3, "unclosed token"},
        {"<plist>\n<dict>\n", 3, "no element found"},
        {"", 1, "no element found"},
        {"\x89PNG\r\n\x1A\n\0\0", 1, "not well-formed (invalid token)"},
        {"<dict/><dict/>", 1, "junk after document element"},
        {"<dict><key>a</key><string>&nope;</string></dict>", 1, "undefined entity"},
        {"<!DOCTYPE plist [<!ENTITY a \"aaaaaaaaaa\">]>\n<plist><string>&a;&a;</string></plist>", 1,
         "entity declarations are not allowed"},
        {"<plist>\n</plist>", 2, "no value in the file"},
        {"<plist><unknown>text</unknown></plist>", 1, "no value in the file"},
    };
    for (const Case& c : cases) {
        const auto read = CPropertyListReader::Read(c.mBytes);
        EXPECT_TRUE(read.mFailed) << c.mBytes;
        EXPECT_EQ(read.mRoot, nullptr);
        EXPECT_EQ(read.mError.mReason, c.mReason) << c.mBytes;
        EXPECT_EQ(read.mError.mLine, c.mLine) << c.mBytes;
    }
}

TEST(PropertyListReader, RefusesDocumentsPastItsLimits)
{
    // kMaxDepth + 1 nested arrays put the innermost at level kMaxDepth: still allowed.
    std::string opens;
    std::string closes;
    for (std::size_t i = 0; i <= CKeyPath::kMaxDepth; ++i) {
        opens += "<array>";
        closes += "</array>";
    }
    const auto atLimit = CPropertyListReader::Read(opens + closes);
    EXPECT_FALSE(atLimit.mFailed) << atLimit.mError.mReason;
    const auto tooDeep = CPropertyListReader::Read(opens + "<true/>" + closes);
    EXPECT_TRUE(tooDeep.mFailed);
    EXPECT_EQ(tooDeep.mError.mReason, "values nested deeper than 100 levels");

    std::string many = "<array>";
    for (std::size_t i = 0; i < CPropertyListReader::kMaxValueCount; ++i)
        many += "<true/>";
    const auto tooMany = CPropertyListReader::Read(many + "</array>");
    EXPECT_TRUE(tooMany.mFailed);
    EXPECT_EQ(tooMany.mError.mReason, "more than 100000 values");

    const auto justEnough = CPropertyListReader::Read(many.substr(0, many.size() - 7) + "</array>");
    EXPECT_FALSE(justEnough.mFailed) << justEnough.mError.mReason;
}
