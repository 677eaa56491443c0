#include "ZTFramework/Resources/ResourceSet.h"

#include "ZTFramework/Debug/DebugOutput.h"
#include "ZTFramework/Resources/BuiltInResources.h"
#include "ZTFramework/Resources/LocaleId.h"
#include "ZTFramework/Resources/ResourceDocument.h"
#include "tests/Support/Printers.h"
#include "tests/ZTFramework/Resources/DocumentBytes.h"
#include "tests/ZTFramework/Threads/DebugCapture.h"
#include "tests/ZTFramework/Utilities/Storage/TempFolder.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <list>
#include <string>
#include <vector>

namespace {

using ZT::LResourceSet;
using ZT::RCPtr;
using ZT::WString;
using ZT::Testing::Utf16Bytes;
using ZT::Testing::Utf8Bytes;

std::string StringsWith(const std::string& lcid, const std::string& text, const std::string& table = "Owner|control")
{
    return "<?xml version=\"1.0\" encoding=\"UTF-16\"?>\n<Corvane_StringTable_Definitions>\n"
           "<Application Name=\"Wavecrest\"><StringTable ID=\"" + table + "\"><String ID=\"LABEL\">"
           "<Locale LCID=\"" + lcid + "\">" + text + "</Locale></String></StringTable></Application>\n"
           "</Corvane_StringTable_Definitions>\n";
}

std::string SkinNamed(const std::string& controlName)
{
    return "<Corvane_Skin_Definitions>\n<Application Name=\"Wavecrest\"><Skins><Skin Name=\"Skin1\">\n"
           "<SubControl Name=\"" + controlName + "\" Class=\"Framework.Panel\"/>\n"
           "</Skin></Skins></Application></Corvane_Skin_Definitions>\n";
}

// A folder of documents for one test, removed afterwards; the debug lines are captured.
class ResourceSetTest : public ::testing::Test {
protected:
    void TearDown() override
    {
        for (const std::string& name : mRegistered)
            ZT::CBuiltInResources::Unregister(name);
    }

    void Write(const std::string& file, const std::vector<std::uint8_t>& bytes) { (void)mTemp.Write(file, bytes); }
    void RegisterBuiltIn(const std::string& name, const std::vector<std::uint8_t>& bytes)
    {
        mBuiltInData.push_back(bytes);
        mBuiltInNames.push_back(name);
        const ZT::BuiltInResource resource{mBuiltInNames.back().c_str(), mBuiltInData.back().data(),
                                           mBuiltInData.back().size()};
        ZT::CBuiltInResources::Register({&resource, 1});
        mRegistered.push_back(name);
    }
    WString Folder() const { return WString(mFolder.c_str()); }
    static WString BuiltIn() { return WString(L"::"); }

    static WString Label(const LResourceSet& set, const wchar_t* table = L"Owner|control")
    {
        return set.GetText(WString(table), WString(L"LABEL"), WString(L"<none>"));
    }
    static bool AnyMessageHas(const LResourceSet& set, const std::vector<std::string>& parts)
    {
        for (const std::string& message : set.GetLoadMessages()) {
            bool all = true;
            for (const std::string& part : parts)
                all = all && message.find(part) != std::string::npos;
            if (all)
                return true;
        }
        return false;
    }

    ZT::Testing::TempFolder mTemp{"zt-resources"};
    const std::string mFolder = mTemp.Path().string();
    ZT::Testing::CDebugCapture mCapture;
    std::list<std::vector<std::uint8_t>> mBuiltInData;
    std::list<std::string> mBuiltInNames;
    std::vector<std::string> mRegistered;
};

TEST_F(ResourceSetTest, EachStringDocumentFallsBackToItsPrimaryLanguageThenEnglish)
{
    struct Row {
        const char* name;
        std::uint32_t requested;
        std::vector<std::pair<std::string, std::string>> locales;   // LCID text, text
        const wchar_t* expected;
    };
    const Row rows[] = {
        {"exact match", 0x0407, {{"0x0407", "de-DE"}, {"0x0007", "de"}, {"0x0009", "en"}}, L"de-DE"},
        {"regional to primary", 0x0409, {{"0x0009", "en"}}, L"en"},
        {"Swiss German to German", 0x0807, {{"0x0007", "de"}, {"0x0009", "en"}}, L"de"},
        {"Hong Kong to Chinese traditional", 0x0C04, {{"0x7c04", "zh-Hant"}, {"0x0004", "zh"}}, L"zh-Hant"},
        {"Taiwan to Chinese traditional", 0x0404, {{"0x7C04", "zh-Hant"}}, L"zh-Hant"},
        {"Chinese simplified to its primary", 0x0804, {{"0x7C04", "zh-Hant"}, {"0x0004", "zh"}}, L"zh"},
        {"untranslated language to English", 0x0407, {{"0x0009", "en"}, {"0x000C", "fr"}}, L"en"},
        {"decimal LCID in the document", 0x0409, {{"1033", "en-US"}, {"0x0009", "en"}}, L"en-US"},
        {"no English either", 0x0407, {{"0x000C", "fr"}}, L"<none>"},
    };
    for (const Row& row : rows) {
        std::string locales;
        for (const auto& [lcid, text] : row.locales)
            locales += "<Locale LCID=\"" + lcid + "\">" + text + "</Locale>";
        std::string document = StringsWith("0x0009", "x");
        document.replace(document.find("<Locale"), document.find("</String>") - document.find("<Locale"), locales);
        Write("StringTables.xml", Utf16Bytes(document));
        Write("FrameworkStrings.xml", Utf16Bytes(StringsWith("0x0009", "fw", "Framework")));

        const auto set = ZT::MakeRC<LResourceSet>();
        EXPECT_RESULT_EQ(set->LoadStringTables(Folder(), row.requested), ZT::S_OK) << row.name;
        EXPECT_EQ(Label(*set), WString(row.expected)) << row.name;
        // The framework document falls back on its own: it only has English.
        EXPECT_EQ(Label(*set, L"Framework"), WString(L"fw")) << row.name;
        EXPECT_TRUE(set->GetLoadMessages().empty()) << row.name << ": " << set->GetLoadMessages().front();
    }
}

TEST_F(ResourceSetTest, BrokenFolderDocumentsAreReportedAndReplacedByTheBuiltInOnes)
{
    RegisterBuiltIn("APP_STRINGS", Utf16Bytes(StringsWith("0x0009", "built-in app")));
    RegisterBuiltIn("FRAMEWORK_STRINGS", Utf16Bytes(StringsWith("0x0009", "built-in fw", "Framework")));
    RegisterBuiltIn("APP_SKINS", Utf8Bytes(SkinNamed("builtInControl")));

    // Application tables: not well-formed on line 3. Framework tables: missing. Skin: a
    // SubControl without a Class on line 3.
    Write("StringTables.xml", Utf16Bytes("<?xml version=\"1.0\" encoding=\"UTF-16\"?>\n<R>\n<StringTable ID=\"T\">\n</R>"));
    std::string badSkin = SkinNamed("folderControl");
    badSkin.replace(badSkin.find(" Class=\"Framework.Panel\""), 24, "");
    Write("Skins.xml", Utf8Bytes(badSkin));

    const auto set = ZT::MakeRC<LResourceSet>();
    EXPECT_RESULT_EQ(set->Load(Folder(), 0x0409), ZT::S_FALSE);
    EXPECT_EQ(Label(*set), WString(L"built-in app"));
    EXPECT_EQ(Label(*set, L"Framework"), WString(L"built-in fw"));
    ASSERT_TRUE(set->GetSkin());
    EXPECT_TRUE(set->GetSkin()->FindControlDescriptor(WString(L"builtInControl")));
    EXPECT_FALSE(set->GetSkin()->FindControlDescriptor(WString(L"folderControl")));

    const std::string folder = mFolder;
    EXPECT_TRUE(AnyMessageHas(*set, {folder + "/StringTables.xml", "line 4", "mismatched tag"}));
    EXPECT_TRUE(AnyMessageHas(*set, {"Using the built-in application string tables"}));
    EXPECT_TRUE(AnyMessageHas(*set, {folder + "/FrameworkStrings.xml", "does not exist"}));
    EXPECT_TRUE(AnyMessageHas(*set, {folder + "/Skins.xml", "line 3", "Bad Subcontrol Element"}));
    EXPECT_TRUE(AnyMessageHas(*set, {"Using the built-in skin"}));
    // Every message also reached the debug output.
    for (const std::string& message : set->GetLoadMessages())
        EXPECT_NE(mCapture.Text().find(message), std::string::npos) << message;
}

TEST_F(ResourceSetTest, WithoutAnyUsableSkinLoadingFailsAndTablesStayEmpty)
{
    const auto fromBuiltIn = ZT::MakeRC<LResourceSet>();
    EXPECT_RESULT_EQ(fromBuiltIn->Load(BuiltIn(), 0x0409), ZT::E_FAIL);
    EXPECT_FALSE(fromBuiltIn->GetSkin());
    EXPECT_FALSE(fromBuiltIn->GetFrameworkStringTable());
    EXPECT_TRUE(AnyMessageHas(*fromBuiltIn, {"no built-in skin"}));
}

// Without a built-in skin either, a folder skin that cannot be used fails the load.
TEST_F(ResourceSetTest, UnusableFilesAreReportedWithTheirReason)
{
    std::filesystem::create_directory(mFolder + "/Skins.xml");
    {
        std::ofstream huge(mFolder + "/StringTables.xml", std::ios::binary);
        huge << std::string(ZT::CResourceDocument::kMaxSize + 1, ' ');
    }
    const auto set = ZT::MakeRC<LResourceSet>();
    EXPECT_RESULT_EQ(set->Load(Folder(), 0x0409), ZT::E_FAIL);
    EXPECT_FALSE(set->GetSkin());
    EXPECT_TRUE(AnyMessageHas(*set, {"StringTables.xml", "larger than 4194304 bytes"}));
    EXPECT_TRUE(AnyMessageHas(*set, {"Skins.xml", "not a regular file"}));
}

TEST_F(ResourceSetTest, ControlTablesAreNamedByOwnerAndHandedOutAsCopies)
{
    Write("StringTables.xml", Utf16Bytes(StringsWith("0x0009", "top", "Wavecrest|mainControl")));
    const auto set = ZT::MakeRC<LResourceSet>();
    ASSERT_RESULT_EQ(set->LoadStringTables(Folder(), 0x0409), ZT::S_OK);

    // Without an owner the application's name stands in.
    const RCPtr<ZT::LStringTable> table = set->GetStringTable(WString(), WString(L"mainControl"));
    ASSERT_TRUE(table);
    EXPECT_TRUE(set->GetStringTable(WString(L"Wavecrest"), WString(L"mainControl")));
    EXPECT_FALSE(set->GetStringTable(WString(L"FirmwareUpdater.MainControl"), WString(L"mainControl")));

    WString text(L"unchanged");
    EXPECT_FALSE(table->GetString(WString(L"NO_SUCH_ID"), text));
    EXPECT_EQ(text, WString(L"unchanged"));
    table->SetString(WString(L"LABEL"), WString(L"changed by the holder"));
    EXPECT_EQ(Label(*set, L"Wavecrest|mainControl"), WString(L"top"));
}

TEST(LocaleId, FallbackAndPosixLocaleNames)
{
    EXPECT_EQ(ZT::CLocaleId::Fallback(0x0409), 0x0009u);
    EXPECT_EQ(ZT::CLocaleId::Fallback(0x1404), 0x7C04u);
    EXPECT_EQ(ZT::CLocaleId::Fallback(0x0804), 0x0004u);
    struct Row {
        const char* name;
        std::uint32_t lcid;
    };
    const Row rows[] = {{"de_DE.UTF-8", 0x0407}, {"de_AT", 0x0C07},  {"fr_CA.utf8", 0x0C0C}, {"ja_JP.UTF-8", 0x0411},
                        {"es", 0x0C0A},          {"zh_HK.UTF-8", 0x0C04}, {"zh_TW", 0x0404},  {"C", 0x0409},
                        {"POSIX", 0x0409},       {"xx_YY", 0x0409},   {"en_GB.UTF-8@euro", 0x0809}};
    for (const Row& row : rows)
        EXPECT_EQ(ZT::CLocaleId::FromPosixLocale(row.name), row.lcid) << row.name;
}

} // namespace
