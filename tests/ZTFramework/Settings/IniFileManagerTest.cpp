#include "ZTFramework/Settings/IniFileManager.h"

#include "ZTFramework/ObjectBase/RCPtr.h"
#include "ZTFramework/Settings/PropertyListWriter.h"
#include "tests/Support/Printers.h"

#include "SettingsTestSupport.h"

#include <gtest/gtest.h>

#include <filesystem>

using namespace ZT;
using SettingsTest::ReadFile;
using SettingsTest::W;
using SettingsTest::WriteFile;

namespace {

constexpr ZTRESULT kDone = IIniFileManager::kDone;
constexpr ZTRESULT kFailed = IIniFileManager::kFailed;
constexpr ZTRESULT kUnknownHandle = IIniFileManager::kUnknownHandle;

class IniFileManagerTest : public ::testing::Test {
protected:
    IniFileHandle Open(const std::string& name, const char* section = "A.B", const char* title = "T")
    {
        IniFileHandle handle = IniFileHandle::None;
        EXPECT_RESULT_EQ(mManager->OpenFile(W(mFolder.File(name)), W(section), W(title), handle), kDone);
        EXPECT_NE(handle, IniFileHandle::None);
        return handle;
    }

    std::int32_t Integer(IniFileHandle file, const char* key, std::int32_t fallback = -99)
    {
        std::int32_t value = 0;
        EXPECT_RESULT_EQ(mManager->GetInteger(file, W(key), fallback, value), kDone);
        return value;
    }

    // The size of an array, or the number of a value's children, with the result checked.
    std::int32_t ArraySize(IniFileHandle file, const wchar_t* key)
    {
        std::int32_t size = -1;
        EXPECT_RESULT_EQ(mManager->GetArraySize(file, key, size), kDone) << WString(key).ToUTF8();
        return size;
    }
    std::int32_t ChildCount(IniFileHandle file, const wchar_t* key)
    {
        std::int32_t count = -1;
        EXPECT_RESULT_EQ(mManager->GetChildCount(file, key, count), kDone) << WString(key).ToUTF8();
        return count;
    }

    std::string String(IniFileHandle file, const char* key, const char* fallback = "<default>")
    {
        WString value;
        EXPECT_RESULT_EQ(mManager->GetString(file, W(key), W(fallback), value), kDone);
        return value.ToUTF8();
    }

    SettingsTest::TempFolder mFolder;
    RCPtr<LIniFileManager> mManager = MakeRC<LIniFileManager>();
};

} // namespace

TEST_F(IniFileManagerTest, WritesTheSectionBelowTheApplicationEntryExactly)
{
    const IniFileHandle file = Open("settings.ini");
    ASSERT_RESULT_EQ(mManager->SetInteger(file, L"CurrentSkinIndex", 2), kDone);
    ASSERT_RESULT_EQ(mManager->SaveFile(file), kDone);
    EXPECT_EQ(ReadFile(mFolder.File("settings.ini")), std::string(CPropertyListWriter::kHeader) +
                                                          "<dict>\n"
                                                          "\t<key>Application</key><string>T</string>\n"
                                                          "\t<key>A_B</key><dict>\n"
                                                          "\t\t<key>CurrentSkinIndex</key><integer>2</integer>\n"
                                                          "\t</dict>\n"
                                                          "</dict>\n"
                                                          "</plist>\n");
}

TEST_F(IniFileManagerTest, OpeningAnOpenPathGivesTheFirstHandle)
{
    const IniFileHandle first = Open("a.ini");
    const IniFileHandle other = Open("b.ini");
    EXPECT_NE(first, other);
    IniFileHandle again = IniFileHandle::None;
    EXPECT_RESULT_EQ(mManager->OpenFile(W(mFolder.File("a.ini")), L"Other", L"Other", again),
                     IIniFileManager::kAlreadyOpen);
    EXPECT_EQ(again, first);

    // Paths are compared as they are written: another spelling is another file.
    const std::string sameFile = mFolder.Path().string() + "/./a.ini";
    IniFileHandle spelledOtherwise = IniFileHandle::None;
    EXPECT_RESULT_EQ(mManager->OpenFile(W(sameFile), L"A.B", L"T", spelledOtherwise), kDone);
    EXPECT_NE(spelledOtherwise, first);
}

TEST_F(IniFileManagerTest, AFreshDocumentReachesTheDiskOnlyAfterAChange)
{
    const IniFileHandle file = Open("fresh.ini", "A.B", "Title & <Co>");
    EXPECT_EQ(String(file, "..Application"), "<default>"); // keys are below the section
    EXPECT_RESULT_EQ(mManager->SaveFile(file), kDone);
    EXPECT_RESULT_EQ(mManager->CloseFile(file, true), kDone);
    EXPECT_FALSE(std::filesystem::exists(mFolder.File("fresh.ini")));

    const IniFileHandle changed = Open("fresh.ini", "A.B", "Title & <Co>");
    ASSERT_RESULT_EQ(mManager->SetString(changed, L"x", L"y"), kDone);
    EXPECT_RESULT_EQ(mManager->CloseFile(changed, true), kDone);
    EXPECT_NE(ReadFile(mFolder.File("fresh.ini")).find("<key>Application</key><string>Title &amp; &lt;Co&gt;</string>"),
              std::string::npos);
}

TEST_F(IniFileManagerTest, EveryOperationRefusesAnUnknownHandle)
{
    const IniFileHandle closed = Open("x.ini");
    ASSERT_RESULT_EQ(mManager->CloseFile(closed, false), kDone);
    const IniFileHandle reopened = Open("x.ini");
    EXPECT_NE(reopened, closed) << "handles of closed files are not reused";

    for (const IniFileHandle handle : {closed, IniFileHandle::None, static_cast<IniFileHandle>(12345)}) {
        std::int32_t number = 7;
        WString text(L"unchanged");
        EXPECT_RESULT_EQ(mManager->SaveFile(handle), kUnknownHandle);
        EXPECT_FALSE(mManager->KeyExists(handle, L""));
        EXPECT_RESULT_EQ(mManager->CloseFile(handle, true), kUnknownHandle);
        EXPECT_RESULT_EQ(mManager->GetInteger(handle, L"k", 5, number), kUnknownHandle);
        EXPECT_EQ(number, 5);
        EXPECT_RESULT_EQ(mManager->SetInteger(handle, L"k", 1), kUnknownHandle);
        EXPECT_RESULT_EQ(mManager->GetString(handle, L"k", L"d", text), kUnknownHandle);
        EXPECT_EQ(text.ToUTF8(), "d");
        EXPECT_RESULT_EQ(mManager->SetString(handle, L"k", L"v"), kUnknownHandle);
        EXPECT_RESULT_EQ(mManager->GetChildCount(handle, L"", number), kUnknownHandle);
        EXPECT_RESULT_EQ(mManager->GetChildName(handle, L"", 0, text), kUnknownHandle);
        EXPECT_RESULT_EQ(mManager->GetArraySize(handle, L"k", number), kUnknownHandle);
        EXPECT_RESULT_EQ(mManager->SetArraySize(handle, L"k", 1), kUnknownHandle);
        EXPECT_RESULT_EQ(mManager->GetArrayString(handle, L"k", 0, text), kUnknownHandle);
        EXPECT_RESULT_EQ(mManager->SetArrayString(handle, L"k", 0, L"v"), kUnknownHandle);
        EXPECT_RESULT_EQ(mManager->RemoveArrayItem(handle, L"k", 0), kUnknownHandle);
    }
    EXPECT_RESULT_EQ(mManager->Reserved(nullptr), kDone);
}

TEST_F(IniFileManagerTest, GetIntegerConvertsEachTypeAsItAlwaysHas)
{
    WriteFile(mFolder.File("types.ini"), std::string(CPropertyListWriter::kHeader) +
                                             "<dict><key>S</key><dict>"
                                             "<key>real</key><real>2.9</real>"
                                             "<key>negative</key><real>-2.9</real>"
                                             "<key>huge</key><real>1e20</real>"
                                             "<key>nan</key><real>nan</real>"
                                             "<key>yes</key><true/>"
                                             "<key>no</key><false/>"
                                             "<key>text</key><string>42</string>"
                                             "<key>list</key><array><integer>1</integer></array>"
                                             "<key>int</key><integer>-17</integer>"
                                             "</dict></dict></plist>");
    const IniFileHandle file = Open("types.ini", "S");
    EXPECT_EQ(Integer(file, "real"), 2);
    EXPECT_EQ(Integer(file, "negative"), -2);
    EXPECT_EQ(Integer(file, "huge"), INT32_MAX);
    EXPECT_EQ(Integer(file, "nan"), 0);
    EXPECT_EQ(Integer(file, "yes"), 1);
    EXPECT_EQ(Integer(file, "no"), 0);
    EXPECT_EQ(Integer(file, "text"), 0);
    EXPECT_EQ(Integer(file, "list"), 0);
    EXPECT_EQ(Integer(file, "int"), -17);
    EXPECT_EQ(Integer(file, "missing", 31), 31);

    EXPECT_EQ(String(file, "text"), "42");
    EXPECT_EQ(String(file, "int"), "");
    EXPECT_EQ(String(file, "missing"), "<default>");
}

TEST_F(IniFileManagerTest, SetArrayStringGrowsTheArrayWithEmptyStrings)
{
    const IniFileHandle file = Open("list.ini");
    ASSERT_RESULT_EQ(mManager->SetArrayString(file, L"List", 3, L"fourth"), kDone);
    EXPECT_EQ(ArraySize(file, L"List"), 4);
    for (std::int32_t i = 0; i < 3; ++i) {
        WString item(L"unchanged");
        EXPECT_RESULT_EQ(mManager->GetArrayString(file, L"list", i, item), kDone);
        EXPECT_TRUE(item.IsEmpty());
    }
    EXPECT_EQ(String(file, "List[3]"), "fourth");

    // Writing inside the array leaves its size alone.
    ASSERT_RESULT_EQ(mManager->SetArrayString(file, L"List", 1, L"second"), kDone);
    EXPECT_EQ(ArraySize(file, L"List"), 4);
    EXPECT_EQ(String(file, "List[1]"), "second");

    WString outOfRange(L"unchanged");
    EXPECT_RESULT_EQ(mManager->GetArrayString(file, L"List", 4, outOfRange), kFailed);
    EXPECT_TRUE(outOfRange.IsEmpty());
    EXPECT_RESULT_EQ(mManager->GetArrayString(file, L"List", -1, outOfRange), kFailed);
    EXPECT_RESULT_EQ(mManager->SetArrayString(file, L"List", -1, L"x"), kFailed);
}

TEST_F(IniFileManagerTest, SetArraySizeAndRemoveArrayItemReshapeArraysAndReplaceOtherValues)
{
    const IniFileHandle file = Open("size.ini");
    ASSERT_RESULT_EQ(mManager->SetArrayString(file, L"List", 2, L"c"), kDone);
    ASSERT_RESULT_EQ(mManager->SetArraySize(file, L"List", 1), kDone);
    std::int32_t size = 0;
    EXPECT_EQ(ArraySize(file, L"List"), 1);
    ASSERT_RESULT_EQ(mManager->SetArraySize(file, L"List", 0), kDone);
    EXPECT_EQ(ArraySize(file, L"List"), 0);

    ASSERT_RESULT_EQ(mManager->SetInteger(file, L"Dict.Entry", 5), kDone);
    EXPECT_RESULT_EQ(mManager->GetArraySize(file, L"Dict", size), kFailed) << "a dictionary is not an array";
    EXPECT_EQ(size, 0);
    ASSERT_RESULT_EQ(mManager->SetArraySize(file, L"Dict", 2), kDone);
    EXPECT_FALSE(mManager->KeyExists(file, L"Dict.Entry"));
    EXPECT_EQ(ArraySize(file, L"Dict"), 2);

    EXPECT_RESULT_EQ(mManager->SetArraySize(file, L"List", -1), kFailed);
    EXPECT_RESULT_EQ(mManager->SetArraySize(file, L"List", 65537), kFailed);
    EXPECT_RESULT_EQ(mManager->GetArraySize(file, L"Missing", size), kFailed);

    // Removing an item shifts the rest; what is no item is refused.
    ASSERT_RESULT_EQ(mManager->SetArrayString(file, L"L", 0, L"a"), kDone);
    ASSERT_RESULT_EQ(mManager->SetArrayString(file, L"L", 1, L"b"), kDone);
    ASSERT_RESULT_EQ(mManager->SetArrayString(file, L"L", 2, L"c"), kDone);
    EXPECT_RESULT_EQ(mManager->RemoveArrayItem(file, L"L", 1), kDone);
    EXPECT_EQ(String(file, "L[1]"), "c");
    EXPECT_RESULT_EQ(mManager->RemoveArrayItem(file, L"L", 2), kFailed);
    EXPECT_RESULT_EQ(mManager->RemoveArrayItem(file, L"L", -1), kFailed);
    ASSERT_RESULT_EQ(mManager->SetInteger(file, L"N", 1), kDone);
    EXPECT_RESULT_EQ(mManager->RemoveArrayItem(file, L"N", 0), kFailed);
    EXPECT_RESULT_EQ(mManager->RemoveArrayItem(file, L"Missing", 0), kFailed);
}

TEST_F(IniFileManagerTest, ChildCountAndNamesCoverDictionariesAndArrays)
{
    const IniFileHandle file = Open("children.ini");
    ASSERT_RESULT_EQ(mManager->SetInteger(file, L"Window.Left", 1), kDone);
    ASSERT_RESULT_EQ(mManager->SetInteger(file, L"Window.Top", 2), kDone);
    ASSERT_RESULT_EQ(mManager->SetArraySize(file, L"Recent", 3), kDone);

    std::int32_t count = -1;
    EXPECT_EQ(ChildCount(file, L"Window"), 2);
    EXPECT_EQ(ChildCount(file, L"Recent"), 3);
    EXPECT_EQ(ChildCount(file, L"Window.Left"), 0);
    EXPECT_RESULT_EQ(mManager->GetChildCount(file, L"Nowhere", count), kFailed);
    EXPECT_EQ(count, 0);

    WString name;
    EXPECT_RESULT_EQ(mManager->GetChildName(file, L"Window", 1, name), kDone);
    EXPECT_EQ(name.ToUTF8(), "Top");
    EXPECT_RESULT_EQ(mManager->GetChildName(file, L"Recent", 2, name), kDone);
    EXPECT_TRUE(name.IsEmpty());
    EXPECT_RESULT_EQ(mManager->GetChildName(file, L"Window", 2, name), kFailed);
    EXPECT_RESULT_EQ(mManager->GetChildName(file, L"Window", -1, name), kFailed);
    EXPECT_RESULT_EQ(mManager->GetChildName(file, L"Window.Left", 0, name), kFailed);
}

TEST_F(IniFileManagerTest, KeysThatCannotBeMadeChangeNothing)
{
    const IniFileHandle file = Open("bad-keys.ini");
    EXPECT_RESULT_EQ(mManager->SetInteger(file, L"a[x]", 1), kFailed);
    EXPECT_RESULT_EQ(mManager->SetString(file, L"a[", L"v"), kFailed);
    EXPECT_RESULT_EQ(mManager->SetString(file, L"a[70000]", L"v"), kFailed);
    EXPECT_RESULT_EQ(mManager->SetArrayString(file, L"a", 70000, L"v"), kFailed);
    EXPECT_FALSE(mManager->KeyExists(file, L"a"));
    EXPECT_EQ(Integer(file, "a[x]", 9), 9);
    // Nothing changed, so nothing is written.
    EXPECT_RESULT_EQ(mManager->CloseFile(file, true), kDone);
    EXPECT_FALSE(std::filesystem::exists(mFolder.File("bad-keys.ini")));
}

TEST_F(IniFileManagerTest, ValuesSurviveAWriteAndARead)
{
    const IniFileHandle file = Open("roundtrip.ini", "Maker.Product.1_0_0");
    const WString unicode(L"Caf\u00e9 \u65e5\u672c \U0001F3A7 & <tags> \"quotes\" 'apostrophes'");
    ASSERT_RESULT_EQ(mManager->SetString(file, L"Text", unicode), kDone);
    ASSERT_RESULT_EQ(mManager->SetString(file, L"Deck.Left.Name", L"A"), kDone);
    ASSERT_RESULT_EQ(mManager->SetInteger(file, L"Deck.Left.Pitch", -8), kDone);
    ASSERT_RESULT_EQ(mManager->SetArrayString(file, L"Deck.Recent", 1, L"second"), kDone);
    ASSERT_RESULT_EQ(mManager->SetInteger(file, L"Deck.Recent[0]", 11), kDone);
    ASSERT_RESULT_EQ(mManager->SetString(file, L"Matrix[1][1]", L"inner"), kDone);
    EXPECT_RESULT_EQ(mManager->CloseAll(), kDone);

    mManager = MakeRC<LIniFileManager>(); // a fresh reader: everything comes from the disk
    const IniFileHandle again = Open("roundtrip.ini", "Maker.Product.1_0_0");
    EXPECT_EQ(String(again, "Text"), unicode.ToUTF8());
    EXPECT_EQ(Integer(again, "deck.left.pitch"), -8);
    EXPECT_EQ(Integer(again, "Deck.Recent[0]"), 11);
    WString text;
    EXPECT_RESULT_EQ(mManager->GetArrayString(again, L"Deck.Recent", 1, text), kDone);
    EXPECT_EQ(text.ToUTF8(), "second");
    EXPECT_EQ(String(again, "Matrix[1][1]"), "inner");
    EXPECT_EQ(ChildCount(again, L"Matrix"), 2);
}

TEST_F(IniFileManagerTest, SaveWritesOnlyDirtyFilesAndCloseWithoutSaveDropsTheChanges)
{
    const IniFileHandle file = Open("s.ini");
    ASSERT_RESULT_EQ(mManager->SetInteger(file, L"v", 1), kDone);
    ASSERT_RESULT_EQ(mManager->SaveFile(file), kDone);

    // Unchanged: no write at all, even when the file vanished meanwhile.
    std::filesystem::remove(mFolder.File("s.ini"));
    EXPECT_RESULT_EQ(mManager->SaveFile(file), kDone);
    EXPECT_FALSE(std::filesystem::exists(mFolder.File("s.ini")));

    ASSERT_RESULT_EQ(mManager->SetInteger(file, L"v", 2), kDone);
    EXPECT_RESULT_EQ(mManager->CloseFile(file, false), kDone);
    EXPECT_FALSE(std::filesystem::exists(mFolder.File("s.ini")));
}

TEST_F(IniFileManagerTest, CloseAllWritesEveryDirtyFileAndForgetsThemAllEvenAfterAFailure)
{
    const IniFileHandle clean = Open("clean.ini");
    const IniFileHandle dirty = Open("dirty.ini");
    IniFileHandle unwritable = IniFileHandle::None;
    ASSERT_RESULT_EQ(mManager->OpenFile(W(mFolder.File("missing-folder/x.ini")), L"S", L"T", unwritable), kDone);
    ASSERT_RESULT_EQ(mManager->SetInteger(dirty, L"v", 1), kDone);
    ASSERT_RESULT_EQ(mManager->SetInteger(unwritable, L"v", 1), kDone);

    ::testing::internal::CaptureStderr();
    EXPECT_RESULT_EQ(mManager->CloseAll(), kDone);
    EXPECT_NE(::testing::internal::GetCapturedStderr().find("missing-folder/x.ini: cannot save the settings"),
              std::string::npos);
    EXPECT_TRUE(std::filesystem::exists(mFolder.File("dirty.ini")));
    EXPECT_FALSE(std::filesystem::exists(mFolder.File("clean.ini")));
    for (const IniFileHandle handle : {clean, dirty, unwritable})
        EXPECT_RESULT_EQ(mManager->SaveFile(handle), kUnknownHandle);
}
