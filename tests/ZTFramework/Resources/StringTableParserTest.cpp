#include "ZTFramework/Resources/StringTableParser.h"

#include "ZTFramework/Resources/ResourceDocument.h"

#include "tests/Support/Printers.h"
#include "tests/ZTFramework/Resources/DocumentBytes.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using ZT::CStringTableParser;
using ZT::WString;
using ZT::Testing::Utf16Bytes;
using ZT::Testing::Utf8Bytes;

const char* const kDocument = R"(<?xml version="1.0" encoding="UTF-8"?>
<Corvane_StringTable_Definitions>
  <Application Name="Wavecrest">
    <StringTable ID="Owner|button">
      <String ID="LABEL">
        <Locale LCID="0x0009">EXIT</Locale>
        <Locale LCID="0x0007">BEENDEN</Locale>
      </String>
      <String ID="TWO_LINES"><Locale LCID="0x0009">one&#13;&#10;two  </Locale></String>
      <String ID="BLANKS"><Locale LCID="0x0009">  </Locale></String>
      <String ID="EMPTY"><Locale LCID="0x0009"/></String>
    </StringTable>
  </Application>
  <StringTable ID="Owner|button">
    <String ID="MORE"><Locale LCID="9">added</Locale></String>
  </StringTable>
</Corvane_StringTable_Definitions>
)";

WString TextOf(const CStringTableParser& parser, const wchar_t* table, const wchar_t* id)
{
    const auto found = parser.GetTables().find(WString(table));
    if (found == parser.GetTables().end())
        return WString(L"<no table>");
    const auto text = found->second.find(WString(id));
    return text == found->second.end() ? WString(L"<no text>") : text->second;
}

TEST(StringTableParser, TakesOnlyTheRequestedLocaleAndKeepsTextsExactlyFromUtf8OrUtf16)
{
    CStringTableParser parser(0x0009);
    ASSERT_RESULT_EQ(parser.Parse(Utf8Bytes(kDocument)), ZT::S_OK) << parser.GetErrorReason();
    EXPECT_EQ(parser.GetApplicationName(), WString(L"Wavecrest"));
    EXPECT_EQ(parser.GetMatchCount(), 5);
    EXPECT_EQ(TextOf(parser, L"Owner|button", L"LABEL"), WString(L"EXIT"));
    EXPECT_EQ(TextOf(parser, L"Owner|button", L"TWO_LINES"), WString(L"one\r\ntwo  "));
    EXPECT_EQ(TextOf(parser, L"Owner|button", L"BLANKS"), WString(L"  "));
    // An empty Locale is an entry with an empty text, not a missing one.
    EXPECT_EQ(TextOf(parser, L"Owner|button", L"EMPTY"), WString(L""));
    // A second StringTable with the same ID adds to the first; "9" is decimal for 0x0009.
    EXPECT_EQ(TextOf(parser, L"Owner|button", L"MORE"), WString(L"added"));

    // The same document as UTF-16 with a byte-order mark, as our tables are stored.
    std::string document = kDocument;
    document.replace(document.find("UTF-8"), 5, "UTF-16");
    document.replace(document.find("BEENDEN"), 7, "\xE7\xB5\x82\xE4\xBA\x86");   // 終了
    CStringTableParser german(0x0007);
    ASSERT_RESULT_EQ(german.Parse(Utf16Bytes(document)), ZT::S_OK) << german.GetErrorReason();
    EXPECT_EQ(german.GetMatchCount(), 1);
    EXPECT_EQ(TextOf(german, L"Owner|button", L"LABEL"), WString(L"\u7D42\u4E86"));
    EXPECT_EQ(TextOf(german, L"Owner|button", L"TWO_LINES"), WString(L"<no text>"));
}

TEST(StringTableParser, RefusesBrokenDocumentsWithLineAndReasonAndKeepsNothing)
{
    struct Row {
        const char* name;
        std::string document;
        int line;
        const char* reason;
    };
    const std::string head = "<R>\n<StringTable ID=\"T\">\n<String ID=\"A\"><Locale LCID=\"0x0009\">a</Locale></String>\n";
    const Row rows[] = {
        {"unknown element", head + "<Strang ID=\"B\"/>\n</StringTable></R>", 4, "\"Strang\" is unknown"},
        {"String outside a table", "<R>\n<String ID=\"A\"/>\n</R>", 2, "\"String\" is unknown or not allowed here"},
        {"Locale outside a String", head + "<Locale LCID=\"9\">x</Locale></StringTable></R>", 4, "\"Locale\""},
        {"element inside a Locale", head + "<String ID=\"B\"><Locale LCID=\"9\">x<b/></Locale></String></StringTable></R>",
         4, "\"b\" is unknown"},
        {"table without ID", "<R>\n<StringTable>\n</StringTable></R>", 2, "needs a non-empty attribute \"ID\""},
        {"string with empty ID", head + "<String ID=\"\"/></StringTable></R>", 4, "\"ID\""},
        {"locale without LCID", head + "<String ID=\"B\"><Locale>x</Locale></String></StringTable></R>", 4, "\"LCID\""},
        {"LCID of a wrong form", head + "<String ID=\"B\"><Locale LCID=\"en-US\">x</Locale></String></StringTable></R>", 4,
         "LCID \"en-US\" is neither"},
        {"text outside a Locale", head + "stray words\n</StringTable></R>", 4, "stands outside a \"Locale\""},
        {"mismatched tag", head + "</String></R>", 4, "mismatched tag"},
        {"truncated", head + "<String ID=\"B\"><Locale LCID=\"9\">x", 4, "no element found"},
        {"not XML at all", "\x01\x02garbage", 1, "not well-formed"},
        {"empty document", "", 0, "empty"},
        {"entity expansion", "<!DOCTYPE R [<!ENTITY a \"aaaaaaaa\"><!ENTITY b \"&a;&a;&a;&a;\">]>\n<R>&b;</R>", 1,
         "document type declarations are not allowed"},
        {"undefined entity", head + "<String ID=\"B\"><Locale LCID=\"9\">&nope;</Locale></String></StringTable></R>", 4,
         "undefined entity"},
    };
    for (const Row& row : rows) {
        CStringTableParser parser(0x0009);
        EXPECT_RESULT_EQ(parser.Parse(Utf8Bytes(row.document)), ZT::E_FAIL) << row.name;
        EXPECT_EQ(parser.GetErrorLine(), row.line) << row.name;
        EXPECT_NE(parser.GetErrorReason().find(row.reason), std::string::npos)
            << row.name << ": " << parser.GetErrorReason();
        EXPECT_TRUE(parser.GetTables().empty()) << row.name;
        EXPECT_EQ(parser.GetMatchCount(), 0) << row.name;
    }
}

TEST(StringTableParser, RefusesDocumentsAboveTheSizeLimitBeforeParsing)
{
    const std::string huge = "<R>" + std::string(ZT::CResourceDocument::kMaxSize, ' ') + "</R>";
    CStringTableParser parser(0x0009);
    EXPECT_RESULT_EQ(parser.Parse(Utf8Bytes(huge)), ZT::E_FAIL);
    EXPECT_NE(parser.GetErrorReason().find("larger than"), std::string::npos) << parser.GetErrorReason();
}

} // namespace
