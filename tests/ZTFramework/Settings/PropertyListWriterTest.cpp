#include "ZTFramework/Settings/PropertyListReader.h"
#include "ZTFramework/Settings/PropertyListWriter.h"

#include "SettingsTestSupport.h"

#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>
#include <cstdio>

using namespace ZT;
using SettingsTest::N;

namespace {

XNode& Add(XNode& parent, const char* name)
{
    return parent.AppendChild(N(name));
}

// What the writer put between the standard header and footer lines, which it must write exactly.
std::string Body(const std::string& file)
{
    const std::string header = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
                               "<!DOCTYPE plist PUBLIC \"-//Apple Computer//DTD PLIST 1.0//EN\" "
                               "\"http://www.apple.com/DTDs/PropertyList-1.0.dtd\">\n"
                               "<plist version=\"1.0\">\n";
    const std::string footer = "</plist>\n";
    EXPECT_EQ(file.substr(0, header.size()), header);
    EXPECT_EQ(file.substr(file.size() - footer.size()), footer);
    return file.substr(header.size(), file.size() - header.size() - footer.size());
}

} // namespace

TEST(PropertyListWriter, WritesEveryTypeWithTabsKeysAttributesAndEscapes)
{
    XNode root;
    root.SetType(XNode::Type::Dictionary);
    XNode& name = Add(root, "Na&me");
    name.SetString(N("a&b<c>\"d'e"));
    name.SetFlag(XNode::kFlagVisible, true);
    XNode& on = Add(root, "On");
    on.SetBoolean(true);
    on.SetFlag(XNode::kFlagLocked, true);
    XNode& off = Add(root, "Off");
    off.SetBoolean(false);
    off.SetFlag(XNode::kFlagLocked, true);
    off.SetFlag(XNode::kFlagVisible, true);
    off.SetFlag(XNode::kFlagDirty, true); // never written
    Add(root, "Count").SetInteger(-7);
    Add(root, "Scale").SetReal(2.5f);
    Add(root, "Blob").SetData(N("SGVsbG8="));
    Add(root, "Empty").SetType(XNode::Type::Dictionary);
    XNode& list = Add(root, "List");
    list.SetType(XNode::Type::Array);
    list.AppendChild(N("")).SetInteger(1);
    XNode& inner = list.AppendChild(N(""));
    inner.SetType(XNode::Type::Dictionary);
    Add(inner, "k").SetString(N("v"));
    list.AppendChild(N("")).SetType(XNode::Type::Array);
    XNode& temporary = Add(root, "Temp");
    temporary.SetString(N("not saved"));
    temporary.SetFlag(XNode::kFlagVolatile, true);
    XNode& onlyVolatile = Add(root, "OnlyVolatile");
    onlyVolatile.SetType(XNode::Type::Dictionary);
    XNode& hidden = Add(onlyVolatile, "Hidden");
    hidden.SetInteger(1);
    hidden.SetFlag(XNode::kFlagVolatile, true);
    Add(root, "Untyped"); // type None: nothing to write

    EXPECT_EQ(Body(CPropertyListWriter::Write(root)),
              "<dict>\n"
              "\t<key>Na&amp;me</key><string visible=\"true\">a&amp;b&lt;c&gt;&quot;d&apos;e</string>\n"
              "\t<key>On</key><true locked=\"true\"/>\n"
              "\t<key>Off</key><false visible=\"true\" locked=\"true\"/>\n"
              "\t<key>Count</key><integer>-7</integer>\n"
              "\t<key>Scale</key><real>2.500000</real>\n"
              "\t<key>Blob</key><data>SGVsbG8=</data>\n"
              "\t<key>Empty</key><dict/>\n"
              "\t<key>List</key><array>\n"
              "\t\t<integer>1</integer>\n"
              "\t\t<dict>\n"
              "\t\t\t<key>k</key><string>v</string>\n"
              "\t\t</dict>\n"
              "\t\t<array/>\n"
              "\t</array>\n"
              "\t<key>OnlyVolatile</key><dict/>\n"
              "</dict>\n");
}

TEST(PropertyListWriter, WritesRealsAsCPrintfFixedWithSixDecimals)
{
    const float values[] = {0.0f, -0.0f, 1.0f, -1.5f, 0.1f, 2.9f, 1e-7f, 123456.789f, 1e10f, -3.25e-3f, FLT_MAX, -FLT_MAX,
                            FLT_MIN, INFINITY};
    for (const float value : values) {
        XNode root;
        root.SetReal(value);
        char expected[128];
        std::snprintf(expected, sizeof expected, "<real>%f</real>\n", static_cast<double>(value));
        EXPECT_EQ(Body(CPropertyListWriter::Write(root)), expected) << value;
    }
}

TEST(PropertyListWriter, ReplacesWhatXmlCannotCarrySoTheFileStillParses)
{
    struct Case {
        std::string mText;
        std::string mWritten;
    };
    const Case cases[] = {
        {std::string("a\x01" "b", 3), "a\xEF\xBF\xBD" "b"},
        {std::string("nul\0end", 7), "nul\xEF\xBF\xBD" "end"},
        {"tab\tline\nreturn\r", "tab\tline\nreturn\r"},
        {"\x7F\xC2\x85", "\x7F\xC2\x85"},                // DEL and NEL are allowed in XML 1.0
        {"\xEF\xBF\xBE\xEF\xBF\xBF", "\xEF\xBF\xBD\xEF\xBF\xBD"}, // U+FFFE, U+FFFF
        {"\xC3\x28", "\xEF\xBF\xBD("},                  // broken two-byte sequence
        {"\xED\xA0\x80", "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD"}, // an encoded surrogate
        {"\xC0\xAF", "\xEF\xBF\xBD\xEF\xBF\xBD"},       // overlong "/"
        {"\xF0\x9F\x8E\xA7 ok", "\xF0\x9F\x8E\xA7 ok"}, // outside the BMP
    };
    for (const Case& c : cases) {
        std::string escaped;
        CPropertyListWriter::AppendEscaped(escaped, c.mText);
        EXPECT_EQ(escaped, c.mWritten);

        XNode root;
        root.SetType(XNode::Type::Dictionary);
        root.AppendChild(NString(c.mText.data(), static_cast<std::int32_t>(c.mText.size())))
            .SetString(NString(c.mText.data(), static_cast<std::int32_t>(c.mText.size())));
        const auto read = CPropertyListReader::Read(CPropertyListWriter::Write(root));
        ASSERT_FALSE(read.mFailed) << read.mError.mReason;
        EXPECT_EQ(read.mSkippedCount, 0u);
    }
}
