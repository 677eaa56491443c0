// Checks the documents and images we ship against the names and texts the code uses, in every
// shipped language.

#include "FirmwareUpdater/Panel/UI/ControlNames.h"
#include "FirmwareUpdater/Panel/UI/UpdaterTexts.h"
#include "ZTFramework/Debug/DebugOutput.h"
#include "ZTFramework/Resources/BuiltInResources.h"
#include "ZTFramework/Resources/ResourceSet.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <optional>
#include <span>
#include <map>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

namespace {

using ZT::LResourceSet;
using ZT::RCPtr;
using ZT::WString;

struct Language {
    const char* mName;
    std::uint32_t mLcid;   // what a user of that language asks for
};
const Language kShippedLanguages[] = {
    {"English", 0x0409}, {"German", 0x0407}, {"French", 0x040C}, {"Spanish", 0x0C0A}, {"Japanese", 0x0411},
};

// Loads the built-in documents for one locale, with the debug lines kept out of the system log.
RCPtr<LResourceSet> LoadBuiltIn(std::uint32_t lcid)
{
    std::ostringstream narrow;
    std::wostringstream wide;
    ZT::DebugOutput::Instance().SetLogStreams(narrow, wide);
    auto set = ZT::MakeRC<LResourceSet>();
    const ZT::ZTRESULT result = set->Load(WString(L"::"), lcid);
    ZT::DebugOutput::Instance().UseDebugStreams();
    EXPECT_EQ(result, ZT::S_OK) << std::hex << lcid;
    EXPECT_TRUE(set->GetLoadMessages().empty()) << set->GetLoadMessages().front();
    return set;
}

RCPtr<ZT::LStringTable> TableOf(const LResourceSet& set, const UpdaterTexts::TextLookup& lookup)
{
    switch (lookup.mTable) {
    case UpdaterTexts::Table::Application:
        return set.GetApplicationStringTable();
    case UpdaterTexts::Table::Framework:
        return set.GetFrameworkStringTable();
    case UpdaterTexts::Table::Control:
        return set.GetStringTable(WString(lookup.mOwner), WString(lookup.mControl));
    }
    return nullptr;
}

std::string Utf8(const WString& text) { return text.ToUTF8(); }

// The printf conversions of a text in order ("%s", "%d"), so translations keep their arguments.
std::vector<std::string> Conversions(const std::string& text)
{
    std::vector<std::string> found;
    static const std::regex conversion("%[-+ #0-9.]*[a-zA-Z%]");
    for (auto it = std::sregex_iterator(text.begin(), text.end(), conversion); it != std::sregex_iterator(); ++it)
        found.push_back(it->str());
    return found;
}

class ShippedStringTables : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        for (const Language& language : kShippedLanguages)
            sSets[language.mLcid] = LoadBuiltIn(language.mLcid);
    }
    static void TearDownTestSuite() { sSets.clear(); }

    static const LResourceSet& English() { return *sSets.at(0x0409); }
    static std::map<std::uint32_t, RCPtr<LResourceSet>> sSets;
};
std::map<std::uint32_t, RCPtr<LResourceSet>> ShippedStringTables::sSets;

TEST_F(ShippedStringTables, EveryLanguageHasEveryTextTheCodeLooksUpAndExactlyTheEnglishIds)
{
    for (const UpdaterTexts::TextLookup& lookup : UpdaterTexts::kTextLookups) {
        const RCPtr<ZT::LStringTable> table = TableOf(English(), lookup);
        WString text;
        EXPECT_TRUE(table && table->GetString(WString(lookup.mId), text))
            << Utf8(WString(lookup.mOwner)) << "|" << Utf8(WString(lookup.mControl)) << " "
            << Utf8(WString(lookup.mId));
    }
    // Every other language has the same tables with the same IDs, so the texts the code looks up too.
    const auto& english = English().GetAllStringTables();
    for (const Language& language : kShippedLanguages) {
        const auto& tables = sSets.at(language.mLcid)->GetAllStringTables();
        ASSERT_EQ(tables.size(), english.size()) << language.mName;
        for (const auto& [tableId, strings] : english) {
            const auto found = tables.find(tableId);
            ASSERT_NE(found, tables.end()) << language.mName << ": " << Utf8(tableId);
            for (const auto& [id, text] : strings)
                EXPECT_TRUE(found->second.contains(id)) << language.mName << ": " << Utf8(tableId) << " " << Utf8(id);
            EXPECT_EQ(found->second.size(), strings.size()) << language.mName << ": " << Utf8(tableId);
        }
    }
}

TEST_F(ShippedStringTables, TranslationsKeepFormatsProductNameButtonsAndLineShapes)
{
    const auto& english = English().GetAllStringTables();
    // Button captions per language, by the English caption.
    const auto caption = [](const LResourceSet& set, const wchar_t* button) {
        return set.GetText(WString(L"FirmwareUpdater.MainControl|") + WString(button), WString(L"LABEL"));
    };
    const wchar_t* const buttons[] = {MainControlNames::kButtonUpdateFirmware, MainControlNames::kButtonScanForDevice,
                                      MainControlNames::kButtonReinitialize, MainControlNames::kButtonExit};
    for (const Language& language : kShippedLanguages) {
        const LResourceSet& set = *sSets.at(language.mLcid);
        for (const auto& [tableId, strings] : english) {
            for (const auto& [id, englishText] : strings) {
                const std::string where = std::string(language.mName) + ": " + Utf8(tableId) + " " + Utf8(id);
                const std::string en = Utf8(englishText);
                const std::string text = Utf8(set.GetText(tableId, id));
                EXPECT_EQ(Conversions(text), Conversions(en)) << where;
                if (en.find("XR4000 NOVA") != std::string::npos) {
                    EXPECT_NE(text.find("XR4000 NOVA"), std::string::npos) << where;
                }
                // A text that names a button names it by its caption in the same language.
                for (const wchar_t* button : buttons) {
                    if (en.find(Utf8(caption(English(), button))) != std::string::npos) {
                        EXPECT_NE(text.find(Utf8(caption(set, button))), std::string::npos) << where;
                    }
                }
                // Line breaks are CR LF, in the same number as in English.
                const auto count = [](const std::string& s, const std::string& what) {
                    std::size_t n = 0;
                    for (auto at = s.find(what); at != std::string::npos; at = s.find(what, at + 1))
                        ++n;
                    return n;
                };
                EXPECT_EQ(count(text, "\r\n"), count(en, "\r\n")) << where;
                EXPECT_EQ(count(text, "\n"), count(text, "\r\n")) << where;
                // Texts that are only blanks stay the same blanks (the view relies on their width).
                if (!en.empty() && en.find_first_not_of(' ') == std::string::npos) {
                    EXPECT_EQ(text, en) << where;
                }
            }
        }
        // The version labels: the second line ends after its colon and blank, where the display's
        // version is added.
        for (const wchar_t* label : {MainControlNames::kLabelDeviceFirmwareVersion, MainControlNames::kLabelFileFirmwareVersion}) {
            const std::string text = Utf8(set.GetText(WString(L"FirmwareUpdater.MainControl|") + WString(label),
                                                      WString(L"LABEL")));
            EXPECT_TRUE(text.ends_with(": ")) << language.mName << " " << Utf8(WString(label)) << ": " << text;
        }
    }
}

TEST_F(ShippedStringTables, TheFileDialogOffersTheSamePatternsInEveryLanguage)
{
    for (const Language& language : kShippedLanguages) {
        const std::string filter = Utf8(sSets.at(language.mLcid)->GetText(
            WString(L"|Wavecrest"), WString(UpdaterTexts::kSelectFirmwareFileDialogFileFilter)));
        std::vector<std::string> fields;
        std::stringstream stream(filter);
        for (std::string field; std::getline(stream, field, '|');)
            fields.push_back(field);
        ASSERT_EQ(fields.size(), 4u) << language.mName << ": " << filter;
        EXPECT_EQ(fields[1], "*.bin") << language.mName;
        EXPECT_EQ(fields[3], "*.*") << language.mName;
        EXPECT_NE(fields[0].find("(*.bin)"), std::string::npos) << language.mName;
        EXPECT_NE(fields[2].find("(*.*)"), std::string::npos) << language.mName;
    }
}

TEST_F(ShippedStringTables, EnglishTextsAreTheReferenceTexts)
{
    const LResourceSet& set = English();
    const std::string mc = "FirmwareUpdater.MainControl|";
    struct Row {
        std::string table;
        const wchar_t* id;
        const char* text;
    };
    const Row rows[] = {
        {mc + "buttonExit", L"LABEL", "EXIT"},
        {mc + "buttonReinitialize", L"LABEL", "TRY AGAIN"},
        {"Wavecrest|mainControl", L"LABEL", "XR4000 NOVA Firmware Updater"},
        {mc + "labelDeviceInformation", L"LABEL_NO_DEVICE_FOUND",
         "XR4000 NOVA device not found.\r\nPlug in the XR4000 NOVA and click the \"SCAN FOR DEVICE\" button."},
        {mc + "labelFileFirmwareVersion", L"LABEL",
         "Updating to Controller Firmware Version: %s\r\nUpdating to Display Firmware Version: "},
        {mc + "labelFirmwareFileInformation", L"LABEL_FIRMARE_FILE_FOUND_VERSION_KNOWN", "   "},
        {mc + "labelDeviceCannotUpdateError", L"LABEL_NO_DEVICE_FOUND", ""},
        {"Framework", L"EXCEPTION_ID",
         "The application encountered problems during startup and will now close.  (Error code = %d)"},
    };
    for (const Row& row : rows)
        EXPECT_EQ(Utf8(set.GetText(WString(row.table.c_str()), WString(row.id), WString(L"<missing>"))), row.text)
            << row.table << " " << Utf8(WString(row.id));
    // The driver text is the no-reason text with one blank more.
    EXPECT_EQ(set.GetText(WString((mc + "labelDeviceCannotUpdateError").c_str()), WString(L"LABEL_DRIVER_IS_TOO_OLD")),
              set.GetText(WString((mc + "labelDeviceCannotUpdateError").c_str()),
                          WString(L"LABEL_DEVICE_CANNOT_BE_UPDATED_NO_REASON")) +
                  WString(L" "));
}

TEST(ShippedFrameworkStrings, CoverTheFrameworkLanguagesAndFallBackToEnglishElsewhere)
{
    struct Row {
        std::uint32_t lcid;
        const char* caption;
    };
    const Row rows[] = {{0x0409, "Error"}, {0x0C0A, "Error"}, {0x0407, "Fehler"}, {0x0411, "\xE3\x82\xA8\xE3\x83\xA9\xE3\x83\xBC"},
                        {0x040C, "Erreur"}, {0x0410, "Errore"}, {0x0412, "\xEC\x98\xA4\xEB\xA5\x98"},
                        {0x0804, "\xE9\x94\x99\xE8\xAF\xAF"}, {0x0C04, "\xE9\x8C\xAF\xE8\xAA\xA4"},
                        {0x0419, "Error"}};   // Russian: no framework text, English
    for (const Row& row : rows) {
        const RCPtr<LResourceSet> set = LoadBuiltIn(row.lcid);
        const RCPtr<ZT::LStringTable> framework = set->GetFrameworkStringTable();
        ASSERT_TRUE(framework) << std::hex << row.lcid;
        WString caption;
        EXPECT_TRUE(framework->GetString(WString(UpdaterTexts::kStartupErrorCaption), caption));
        EXPECT_EQ(Utf8(caption), row.caption) << std::hex << row.lcid;
        WString exceptionId;
        EXPECT_TRUE(framework->GetString(WString(UpdaterTexts::kExceptionId), exceptionId));
        EXPECT_EQ(Conversions(Utf8(exceptionId)), std::vector<std::string>{"%d"}) << std::hex << row.lcid;
    }
    // Italian has framework texts but no updater texts: those come in English.
    const RCPtr<LResourceSet> italian = LoadBuiltIn(0x0410);
    EXPECT_EQ(italian->GetText(WString(L"FirmwareUpdater.MainControl|buttonExit"), WString(L"LABEL")), WString(L"EXIT"));
}

// ---- The skin ----------------------------------------------------------------------------------

// Every named control with its class: MainWindowTree.TheShippedSkinBuildsEveryNamedControlAsItsClass.
TEST(ShippedSkin, TheMainControlIsAFixedSizeWindowWithAHiddenMenu)
{
    const RCPtr<LResourceSet> set = LoadBuiltIn(0x0409);
    ASSERT_TRUE(set->GetSkin());
    const auto main = set->GetSkin()->FindControlDescriptor(WString(MainControlNames::kMainControl));
    ASSERT_TRUE(main);
    for (const ZT::LLayoutDescriptor::Axis* axis : {&main->mLayout->mX, &main->mLayout->mY}) {
        const int size = axis == &main->mLayout->mX ? 400 : 450;
        EXPECT_EQ(axis->mSize.mAbs, size);
        EXPECT_EQ(axis->mMinSize.mAbs, size);
        EXPECT_EQ(axis->mMaxSize.mAbs, size);
    }
    // Every command the menu holds has a button.
    ASSERT_TRUE(main->mSkin);
    const auto menu = main->mSkin->FindChild(WString(MainControlNames::kMainMenu));
    ASSERT_TRUE(menu);
    EXPECT_FALSE(menu->mIsVisible);
}

// Width and height of a PNG from its header, or nothing when the bytes are not a PNG.
std::optional<std::pair<std::uint32_t, std::uint32_t>> PngSize(std::span<const std::uint8_t> bytes)
{
    static const std::uint8_t kSignature[] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    if (bytes.size() < 24 || !std::equal(std::begin(kSignature), std::end(kSignature), bytes.begin()) ||
        std::string(bytes.begin() + 12, bytes.begin() + 16) != "IHDR")
        return std::nullopt;
    const auto be32 = [&bytes](std::size_t at) {
        return (std::uint32_t(bytes[at]) << 24) | (std::uint32_t(bytes[at + 1]) << 16) |
               (std::uint32_t(bytes[at + 2]) << 8) | std::uint32_t(bytes[at + 3]);
    };
    return std::make_pair(be32(16), be32(20));
}

TEST(ShippedSkin, EveryPartLiesInsideItsBuiltInImage)
{
    const RCPtr<LResourceSet> set = LoadBuiltIn(0x0409);
    ASSERT_TRUE(set->GetSkin());
    int imageParts = 0;
    for (const auto& [name, part] : set->GetSkin()->mParts) {
        if (part->mImageFile.IsEmpty())
            continue;
        ++imageParts;
        const std::string where = Utf8(name) + " in " + Utf8(part->mImageFile);
        const auto bytes = ZT::CBuiltInResources::Find(part->mImageFile.ToUTF8());
        ASSERT_TRUE(bytes) << where;
        const auto size = PngSize(*bytes);
        ASSERT_TRUE(size) << where;
        ASSERT_TRUE(part->mWidth && part->mHeight) << where;
        EXPECT_LE(part->mImageLocX.value_or(0) + *part->mWidth, static_cast<std::int64_t>(size->first)) << where;
        EXPECT_LE(part->mImageLocY.value_or(0) + *part->mHeight, static_cast<std::int64_t>(size->second)) << where;
    }
    EXPECT_GE(imageParts, 4);
    // Every image the program carries is one that the skin uses.
    for (const char* image : {"CE_PNG", "WAVECRESTSPRITESHEET_PNG", "PANELMINI1_PNG", "UPDATERBACKGROUND_PNG"}) {
        bool used = false;
        for (const auto& [name, part] : set->GetSkin()->mParts)
            used = used || ZT::CBuiltInResources::ResourceNameFromPath(part->mImageFile.ToUTF8()) == image;
        EXPECT_TRUE(used) << image;
    }
}

} // namespace
