#include "ZTFramework/Resources/SkinParser.h"
#include "tests/ZTFramework/Errors/MessageOf.h"
#include "tests/ZTFramework/Threads/DebugCapture.h"

#include "tests/Support/Printers.h"
#include "tests/ZTFramework/Resources/DocumentBytes.h"

#include <gtest/gtest.h>

#include <regex>
#include <string>

namespace {

using ZT::CSkinParser;
using ZT::LControlDescriptor;
using ZT::RCPtr;
using ZT::WString;
using ZT::Testing::Utf8Bytes;

// Line numbers matter: the malformed cases below name the lines their faults sit on.
const char* const kSkin = R"(<?xml version="1.0" encoding="UTF-8"?>
<Corvane_Skin_Definitions>
  <Application Name="Wavecrest">
    <Colorizers>
      <Colorizer Name="Text" ColorType="SolidFill" Color="0xFFE8ECF0"/>
      <Colorizer Name="Glow" ColorType="LinearGradient" Color="0xFF0096C8" GradientEndColor="0x8040E0FF" GradientEndX="1.0"/>
    </Colorizers>
    <Parts>
      <Part Name="Back[1].png" Width="400" Height="450" ResizeType="Tile" ImageFile="::Back.png" ImageLocX="0" ImageLocY="8"/>
      <Part Name="TextColour" ColorizerName="Text" ColorizerAlphaMod="0.56"/>
    </Parts>
    <Looks>
      <Look Name="Look.Main">
        <ClientPart Name="Back[1].png" OffsetLeft="-2" OffsetBottom="3"/>
        <NonClientParts Name="Marks"><NonClientPart Name="TextColour" OffsetRight="6" Width="28"/></NonClientParts>
        <TextProperties TextHAlign="0.5" TextLeftAbs="6" TextForegroundPart="TextColour"/>
      </Look>
    </Looks>
    <LookLists>
      <LookList Name="List.Main" NumLooks="3">
        <Look Name="Look.Main" Index="2"/>
      </LookList>
    </LookLists>
    <Skins>
      <Skin Name="Skin1" FontName="Arial" FontSize="8.25" FontStyle="0">
        <FontLocale LCID="0x0011"><FontXLat Name="Arial" XLat="Other Font"/></FontLocale>
        <SubControl Name="mainControl" Class="FirmwareUpdater.MainControl" XSizeAbs="400" YSizeAbs="450" XMaxSizeAbs="400">
          <Skin Name="inner" LookList="List.Main">
            <SubControl Name="first" Class="Framework.Label" IsVisible="true" ClipToParent="True" Z_Order="-1"
                        XPositionToControl="second" XPositionRel="0.05" TextOverflowXType="Wrap"/>
            <SubControl Name="second" Class="Framework.Button" TabStop="-1" YPositionToControl="Active Window">
              <CreateParamList><CreateParam Name="Mode" Value="2">text</CreateParam></CreateParamList>
              <Skin><SubControl Name="first" Class="Framework.Label"/></Skin>
            </SubControl>
          </Skin>
        </SubControl>
      </Skin>
    </Skins>
  </Application>
</Corvane_Skin_Definitions>
)";

std::string Replaced(std::string text, const std::string& from, const std::string& to)
{
    const auto at = text.find(from);
    EXPECT_NE(at, std::string::npos) << from;
    if (at != std::string::npos)
        text.replace(at, from.size(), to);
    return text;
}

TEST(SkinParser, BuildsTheControlTreeWithItsAttributesAndLooks)
{
    CSkinParser parser;
    ASSERT_RESULT_EQ(parser.Parse(Utf8Bytes(kSkin)),
                     ZT::S_OK) << parser.GetErrorLine() << ": " << parser.GetErrorReason();
    const RCPtr<ZT::LSkinDefinitions> skin = parser.GetDefinitions();
    ASSERT_TRUE(skin);
    EXPECT_EQ(skin->mApplicationName, WString(L"Wavecrest"));

    ASSERT_EQ(skin->mSkins.GetCount(), 1u);
    const ZT::LSkinDescriptor& outer = *skin->mSkins[0];
    EXPECT_EQ(outer.mFontName, WString(L"Arial"));
    EXPECT_EQ(outer.mFontSize, 8.25);
    ASSERT_EQ(outer.mFontLocales.size(), 1u);
    EXPECT_EQ(outer.mFontLocales[0].mLcid, 0x0011u);
    EXPECT_EQ(outer.mFontLocales[0].mTranslations[0].second, WString(L"Other Font"));

    const RCPtr<LControlDescriptor> main = skin->FindControlDescriptor(WString(L"mainControl"));
    ASSERT_TRUE(main);
    EXPECT_EQ(main->mClassName, WString(L"FirmwareUpdater.MainControl"));
    EXPECT_EQ(main->mLayout->mX.mSize.mAbs, 400);
    EXPECT_EQ(main->mLayout->mX.mMaxSize.mAbs, 400);
    EXPECT_FALSE(main->mLayout->mY.mMaxSize.mAbs.has_value());
    EXPECT_TRUE(main->mIsVisible);   // not hidden by the skin
    ASSERT_TRUE(main->mSkin);
    EXPECT_EQ(main->mSkin->mLookListName, WString(L"List.Main"));

    // Children in document order; names may repeat in different parents.
    ASSERT_EQ(main->mSkin->mChildren.GetCount(), 2u);
    const LControlDescriptor& first = *main->mSkin->mChildren[0];
    const LControlDescriptor& second = *main->mSkin->mChildren[1];
    EXPECT_EQ(first.mName, WString(L"first"));
    EXPECT_FALSE(first.mIsVisible);   // "true" is not "True"
    EXPECT_TRUE(first.mClipToParent);
    EXPECT_EQ(first.mZOrder, -1);
    EXPECT_EQ(first.mLayout->mX.mPosition.mToControl, WString(L"second"));
    EXPECT_EQ(first.mLayout->mX.mPosition.mRel, 0.05);
    EXPECT_EQ(first.mTextOverflowX, LControlDescriptor::TextOverflow::Wrap);
    EXPECT_EQ(second.mTabStop, -1);
    ASSERT_EQ(second.mCreateParams.size(), 1u);
    EXPECT_EQ(second.mCreateParams[0].mText, WString(L"text"));
    EXPECT_EQ(second.mCreateParams[0].mAttributes[1].second, WString(L"2"));
    ASSERT_TRUE(second.mSkin);
    EXPECT_EQ(second.mSkin->mChildren[0]->mName, WString(L"first"));

    const auto part = skin->FindPart(WString(L"Back[1].png"));
    ASSERT_TRUE(part);
    EXPECT_EQ(part->mResizeType, ZT::LVisualPartDescriptor::ResizeType::Tile);
    EXPECT_EQ(part->mImageLocY, 8);
    EXPECT_EQ(skin->FindColorizer(WString(L"Glow"))->mGradientEndColor, 0x8040E0FFu);
    const auto look = skin->FindLook(WString(L"Look.Main"));
    ASSERT_TRUE(look && look->mClientPart && look->mTextProperties);
    EXPECT_EQ(look->mClientPart->mOffsetLeft, -2);
    EXPECT_EQ(look->mNonClientParts.GetCount(), 1u);
    EXPECT_EQ(look->mTextProperties->mHAlign, 0.5);
    const auto list = skin->FindLookList(WString(L"List.Main"));
    ASSERT_TRUE(list);
    ASSERT_EQ(list->mLookNames.GetCount(), 3u);
    EXPECT_TRUE(list->mLookNames[0].IsEmpty());
    EXPECT_EQ(list->mLookNames[2], WString(L"Look.Main"));
}

TEST(SkinParser, SubControlWithoutNameOrClassStopsWithTheBadSubcontrolError)
{
    const std::string cases[] = {
        Replaced(kSkin, R"(<SubControl Name="second" Class="Framework.Button")", R"(<SubControl Class="Framework.Button")"),
        Replaced(kSkin, R"(<SubControl Name="second" Class="Framework.Button")", R"(<SubControl Name="second")"),
        Replaced(kSkin, R"(<SubControl Name="second" Class="Framework.Button")", R"(<SubControl Name="" Class="X")"),
    };
    const std::regex message(
        "Runtime Error : Bad Subcontrol Element : ZT::LControlFactory::XMLStartElement : "
        "ZTFramework/Resources/SkinParser : Line [0-9]+");
    for (const std::string& document : cases) {
        CSkinParser parser;
        const std::string what = ZT::Testing::MessageOf<std::runtime_error>([&] { (void)parser.Parse(Utf8Bytes(document)); });
        EXPECT_TRUE(std::regex_match(what, message)) << what;
        EXPECT_EQ(parser.GetErrorLine(), 31);
        EXPECT_FALSE(parser.GetDefinitions());
    }
}

TEST(SkinParser, RefusesFaultyDocumentsWithLineAndReason)
{
    std::string tooDeep = "<Corvane_Skin_Definitions><Application Name=\"A\"><Skins><Skin>";
    for (int i = 0; i < ZT::CXmlDocumentParser::kMaxDepth; ++i)
        tooDeep += "<SubControl Name=\"c\" Class=\"Framework.Panel\"><Skin>";
    struct Row {
        const char* name;
        std::string document;
        int line;
        const char* reason;
    };
    const Row rows[] = {
        {"colour of a wrong form", Replaced(kSkin, "Color=\"0xFFE8ECF0\"", "Color=\"#E8ECF0\""), 5,
         "not a colour \"0xAARRGGBB\""},
        {"colorizer without colour", Replaced(kSkin, "Color=\"0xFFE8ECF0\"", ""), 5, "needs an attribute \"Color\""},
        {"integer of a wrong form", Replaced(kSkin, "Width=\"400\"", "Width=\"400px\""), 9,
         "\"Width\" is \"400px\", not a decimal integer"},
        {"fraction of a wrong form", Replaced(kSkin, "FontSize=\"8.25\"", "FontSize=\"8,25\""), 25, "not a decimal number"},
        {"enumeration of a wrong value", Replaced(kSkin, "ColorType=\"SolidFill\"", "ColorType=\"Solid\""), 5,
         "not one of \"SolidFill\", \"LinearGradient\", \"RadialGradient\""},
        {"negative part size", Replaced(kSkin, "Height=\"450\"", "Height=\"-450\""), 9, "negative size"},
        {"duplicate part", Replaced(kSkin, "<Parts>", "<Parts><Part Name=\"TextColour\"/>"), 10,
         "a second part is named \"TextColour\""},
        {"duplicate sibling control", Replaced(kSkin, "Name=\"second\"", "Name=\"first\""), 31,
         "a second control under one parent is named \"first\""},
        {"second client part", Replaced(kSkin, "<NonClientParts", "<ClientPart Name=\"TextColour\"/><NonClientParts"), 15,
         "second \"ClientPart\""},
        {"look count beyond the limit", Replaced(kSkin, "NumLooks=\"3\"", "NumLooks=\"100000\""), 20, "outside 0 to 256"},
        {"look index beyond the count", Replaced(kSkin, "Index=\"2\"", "Index=\"3\""), 21, "look index 3 is outside 0 to 2"},
        {"look index twice", Replaced(kSkin, "<Look Name=\"Look.Main\" Index=\"2\"/>",
                                      "<Look Name=\"Look.Main\" Index=\"2\"/><Look Name=\"Look.Main\" Index=\"2\"/>"),
         21, "given twice"},
        {"text among elements", Replaced(kSkin, "<Looks>", "<Looks>stray"), 12, "stands where the skin allows only elements"},
        {"wrong root", Replaced(kSkin, "<Corvane_Skin_Definitions>", "<Skin_Definitions>"), 2, "root element"},
        {"second application", Replaced(kSkin, "</Application>", "</Application><Application Name=\"b\">"), 39,
         "second \"Application\""},
        // Dangling references are found after the whole document was read, at the user's line.
        {"dangling colorizer", Replaced(kSkin, "ColorizerName=\"Text\"", "ColorizerName=\"Txet\""), 10,
         "names the colorizer \"Txet\", which the document does not define"},
        {"dangling client part", Replaced(kSkin, "<ClientPart Name=\"Back[1].png\"", "<ClientPart Name=\"Back[2].png\""),
         14, "look \"Look.Main\" names the part \"Back[2].png\""},
        {"dangling text colour", Replaced(kSkin, "TextForegroundPart=\"TextColour\"", "TextForegroundPart=\"Nope\""), 16,
         "names the part \"Nope\""},
        {"dangling look", Replaced(kSkin, "<Look Name=\"Look.Main\" Index", "<Look Name=\"Look.Nope\" Index"), 20,
         "look list \"List.Main\" names the look \"Look.Nope\""},
        {"dangling look list", Replaced(kSkin, "LookList=\"List.Main\"", "LookList=\"List.Nope\""), 28,
         "names the look list \"List.Nope\""},
        // Faults of the whole document have no line.
        {"no application", "<Corvane_Skin_Definitions/>", 0, "no \"Application\""},
        {"no skin at all", "<Corvane_Skin_Definitions><Application Name=\"A\"><Skins/></Application></Corvane_Skin_Definitions>",
         0, "defines no \"Skin\""},
        {"controls nested too deep", tooDeep, 1, "nested deeper than 64"},
    };
    for (const Row& row : rows) {
        CSkinParser parser;
        EXPECT_RESULT_EQ(parser.Parse(Utf8Bytes(row.document)), ZT::E_FAIL) << row.name;
        EXPECT_EQ(parser.GetErrorLine(), row.line) << row.name << ": " << parser.GetErrorReason();
        EXPECT_NE(parser.GetErrorReason().find(row.reason), std::string::npos)
            << row.name << ": " << parser.GetErrorReason();
        EXPECT_FALSE(parser.GetDefinitions()) << row.name;
    }
}

TEST(SkinParser, SkipsWhatItDoesNotKnowNamesItOnTheDebugOutputAndKeepsTheRest)
{
    std::string document = Replaced(kSkin, "ResizeType=\"Tile\"", "ResizeTyp=\"Tile\"");
    document = Replaced(document, "<Parts>", "<Parts><Prat Name=\"x\"><Part Name=\"inner\"/></Prat>");
    document = Replaced(document, "<Looks>", "<Looks><Part Name=\"misplaced\"/>");
    document = Replaced(document, "TabStop=\"-1\"", "TabStop=\"-1\" TabStops=\"4\"");
    document = Replaced(document, "YPositionToControl=\"Active Window\"", "YPositionToControl=\"mainControl\"");

    ZT::Testing::CDebugCapture capture;
    CSkinParser parser;
    ASSERT_RESULT_EQ(parser.Parse(Utf8Bytes(document)), ZT::S_OK) << parser.GetErrorLine() << ": " << parser.GetErrorReason();
    const std::vector<std::string> expected{
        "line 8: element \"Prat\" is unknown or not allowed here; skipped with its contents",
        "line 9: element \"Part\" has an unknown attribute \"ResizeTyp\"; ignored",
        "line 12: element \"Part\" is unknown or not allowed here; skipped with its contents",
        "line 31: element \"SubControl\" has an unknown attribute \"TabStops\"; ignored",
        "line 31: control \"second\" is placed relative to \"mainControl\", which is neither a sibling nor one of "
        "\"Parent\", \"Screen\", \"Client\", \"Active Window\", \"Self\", \"Children\"",
    };
    EXPECT_EQ(parser.GetWarnings(), expected);
    const std::string log = capture.Text();
    for (const std::string& warning : expected)
        EXPECT_NE(log.find("Skin: " + warning), std::string::npos) << "not on the debug output: " << warning << "\n" << log;

    // Everything else is read as before.
    const RCPtr<ZT::LSkinDefinitions> skin = parser.GetDefinitions();
    ASSERT_TRUE(skin);
    EXPECT_FALSE(skin->FindPart(WString(L"inner"))) << "the contents of a skipped element are skipped too";
    EXPECT_FALSE(skin->FindPart(WString(L"misplaced"))) << "a part among the looks is not a part";
    const auto part = skin->FindPart(WString(L"Back[1].png"));
    ASSERT_TRUE(part);
    EXPECT_EQ(part->mResizeType, ZT::LVisualPartDescriptor::ResizeType::Stretch) << "the misspelt attribute counts for nothing";
    EXPECT_EQ(part->mWidth, 400);
    ASSERT_TRUE(skin->FindLook(WString(L"Look.Main")));
    const RCPtr<LControlDescriptor> main = skin->FindControlDescriptor(WString(L"mainControl"));
    ASSERT_TRUE(main && main->mSkin);
    ASSERT_EQ(main->mSkin->mChildren.GetCount(), 2u);
    const LControlDescriptor& second = *main->mSkin->mChildren[1];
    EXPECT_EQ(second.mTabStop, -1);
    EXPECT_EQ(second.mLayout->mY.mPosition.mToControl, WString(L"mainControl")) << "kept for the layout to report";

    // A sound document leaves no warnings behind from the last one.
    ASSERT_RESULT_EQ(parser.Parse(Utf8Bytes(kSkin)), ZT::S_OK);
    EXPECT_TRUE(parser.GetWarnings().empty());
}

TEST(SkinParser, ChecksImagesThroughTheGivenCheck)
{
    std::vector<std::string> asked;
    CSkinParser parser([&asked](const WString& path) {
        asked.push_back(path.ToUTF8());
        return path == WString(L"::Back.png");
    });
    EXPECT_RESULT_EQ(parser.Parse(Utf8Bytes(kSkin)), ZT::S_OK) << parser.GetErrorReason();
    EXPECT_EQ(asked, std::vector<std::string>{"::Back.png"});

    EXPECT_RESULT_EQ(parser.Parse(Utf8Bytes(Replaced(kSkin, "ImageFile=\"::Back.png\"", "ImageFile=\"::Gone.png\""))),
                     ZT::E_FAIL);
    EXPECT_EQ(parser.GetErrorLine(), 9);
    EXPECT_NE(parser.GetErrorReason().find("names the image \"::Gone.png\", which does not exist"), std::string::npos)
        << parser.GetErrorReason();
}

} // namespace
