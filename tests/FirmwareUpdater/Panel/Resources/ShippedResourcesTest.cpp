// Checks the documents and images we ship against the names and texts the code uses, in every
// shipped language, and builds the main window's control tree from them as the application does
// at start-up, with a plain control standing in for the main control.

#include "FirmwareUpdater/Panel/StartupResources.h"
#include "FirmwareUpdater/Panel/UI/ControlNames.h"
#include "FirmwareUpdater/Panel/UI/UpdaterTexts.h"
#include "ZTFramework/ControlBase/ControlFactory.h"
#include "ZTFramework/ControlBase/Layout.h"
#include "ZTFramework/ControlBase/RootWindow.h"
#include "ZTFramework/Controls/Button.h"
#include "ZTFramework/Controls/FrameworkControls.h"
#include "ZTFramework/Controls/Label.h"
#include "ZTFramework/Controls/MainMenu.h"
#include "ZTFramework/Controls/Panel.h"
#include "ZTFramework/Controls/ProgressBar.h"
#include "ZTFramework/Controls/StatusBar.h"
#include "ZTFramework/Debug/DebugOutput.h"
#include "ZTFramework/Notification/Notification.h"
#include "ZTFramework/Resources/BuiltInResources.h"
#include "ZTFramework/Resources/LocaleId.h"
#include "ZTFramework/Resources/ResourceSet.h"
#include "tests/Support/Printers.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <map>
#include <optional>
#include <regex>
#include <span>
#include <sstream>
#include <string>
#include <vector>

namespace {

using ZT::LControl;
using ZT::LResourceSet;
using ZT::RCPtr;
using ZT::WString;

std::string Utf8(const WString& text) { return text.ToUTF8(); }

// The program's start-up loading, with what it writes to the debug output.
struct StartupLoad {
    RCPtr<ZT::LControlFactory> mFactory;
    std::string mDebugOutput;
};

StartupLoad LoadAsAtStartup(const WString& location, std::uint32_t lcid)
{
    std::ostringstream narrow;
    std::wostringstream wide;
    ZT::DebugOutput::Instance().SetLogStreams(narrow, wide);
    StartupLoad load;
    load.mFactory = CStartupResources::Load(location, lcid);
    ZT::DebugOutput::Instance().UseDebugStreams();
    load.mDebugOutput = narrow.str();
    return load;
}

// The built-in documents for one locale, which load without a message.
RCPtr<LResourceSet> LoadBuiltIn(std::uint32_t lcid)
{
    RCPtr<LResourceSet> set = LoadAsAtStartup(WString(L"::"), lcid).mFactory->GetResources();
    EXPECT_TRUE(set->GetLoadMessages().empty()) << std::hex << lcid << ": " << set->GetLoadMessages().front();
    return set;
}

struct Language {
    const char* mName;
    std::uint32_t mLcid;   // what a user of that language asks for
};
const Language kShippedLanguages[] = {
    {"English", 0x0409}, {"German", 0x0407}, {"French", 0x040C}, {"Spanish", 0x0C0A}, {"Japanese", 0x0411},
};

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

// What regex finds in text, in order: printf conversions ("%s", "%d"), so that translations keep
// their arguments, and the file dialog's "|" and patterns.
const std::regex kConversion("%[-+ #0-9.]*[a-zA-Z%]");
const std::regex kPattern("\\||\\*\\.[a-z*]+");
std::vector<std::string> Matches(const std::string& text, const std::regex& regex)
{
    std::vector<std::string> found;
    for (auto it = std::sregex_iterator(text.begin(), text.end(), regex); it != std::sregex_iterator(); ++it)
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
                EXPECT_EQ(Matches(text, kConversion), Matches(en, kConversion)) << where;
                // The file dialog's filter keeps its fields and patterns ("*.dfu").
                EXPECT_EQ(Matches(text, kPattern), Matches(en, kPattern)) << where;
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
        {mc + "buttonReinitialize", L"LABEL", "TRY AGAIN"},
        {"|Wavecrest", UpdaterTexts::kSelectFirmwareFileDialogFileFilter, "Firmware Files (*.dfu)|*.dfu|All files (*.*)|*.*"},
        {mc + "labelDeviceInformation", L"LABEL_NO_DEVICE_FOUND",
         "XR4000 NOVA device not found.\r\nPlug in the XR4000 NOVA and click the \"SCAN FOR DEVICE\" button."},
        {mc + "labelFileFirmwareVersion", L"LABEL",
         "Updating to Controller Firmware Version: %s\r\nUpdating to Display Firmware Version: "},
        {mc + "labelFirmwareFileInformation", L"LABEL_FIRMARE_FILE_FOUND_VERSION_KNOWN", "   "},
        {mc + "labelDeviceCannotUpdateError", L"LABEL_NO_DEVICE_FOUND", ""},
    };
    // "EXIT", the window's title and the start-up error: StartupResources and MainWindowTree.
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
        EXPECT_EQ(Matches(Utf8(exceptionId), kConversion), std::vector<std::string>{"%d"}) << std::hex << row.lcid;
    }
    // Italian updater texts, which come in English: MainWindowTree.CaptionsComeFromTheTablesInTheUsersLanguage.
}

// ---- The skin ----------------------------------------------------------------------------------

// Every named control with its class and the window's size: MainWindowTree.TheShippedSkinBuildsEveryNamedControlAsItsClass.
TEST(ShippedSkin, TheMainControlCannotBeResized)
{
    const RCPtr<LResourceSet> set = LoadBuiltIn(0x0409);
    ASSERT_TRUE(set->GetSkin());
    const auto main = set->GetSkin()->FindControlDescriptor(WString(MainControlNames::kMainControl));
    ASSERT_TRUE(main);
    for (const auto& [axis, size] : {std::pair(&main->mLayout->mX, 400), std::pair(&main->mLayout->mY, 450)}) {
        EXPECT_EQ(axis->mMinSize.mAbs, size);
        EXPECT_EQ(axis->mMaxSize.mAbs, size);
    }
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

// ---- The main window -----------------------------------------------------------------------

class StandInMainControl : public LControl {
public:
    static RCPtr<LControl> Create() { return ZT::MakeRC<StandInMainControl>(); }
};

template <class T>
bool Is(const LControl& control)
{
    return dynamic_cast<const T*>(&control) != nullptr;
}

// Whether the control is of the C++ class its skin class name stands for.
bool IsOfClass(const LControl& control, const WString& className)
{
    const std::pair<const wchar_t*, bool (*)(const LControl&)> classes[] = {
        {MainControlNames::kButtonClass, &Is<ZT::LButton>},
        {MainControlNames::kLabelClass, &Is<ZT::LLabel>},
        {MainControlNames::kProgressBarClass, &Is<ZT::LProgressBar>},
        {MainControlNames::kPanelClass, &Is<ZT::LPanel>},
        {MainControlNames::kMainMenuClass, &Is<ZT::LMainMenu>},
        {MainControlNames::kStatusBarClass, &Is<ZT::LStatusBar>}};
    for (const auto& [name, is] : classes) {
        if (className == WString(name))
            return is(control);
    }
    return false;
}

RCPtr<LControl> BuildMainWindow(std::uint32_t lcid)
{
    const RCPtr<ZT::LControlFactory> factory = LoadAsAtStartup(WString(L"::"), lcid).mFactory;
    EXPECT_RESULT_EQ(factory->RegisterControlClass(WString(MainControlNames::kMainControlClass), &StandInMainControl::Create),
                     ZT::S_OK);
    return factory->CreateControl(WString(MainControlNames::kMainControl));
}

TEST(StartupResources, EveryShippedLanguageLoadsItsOwnTextsAndTheSkin)
{
    struct Row {
        const char* posixLocale;
        std::uint32_t lcid;
        const char* exitCaption;
        const char* startupError;
    };
    const Row rows[] = {
        {"en_GB.UTF-8", 0x0809, "EXIT", "The application encountered problems during startup and will now close.  (Error code = -2147467259)"},
        {"de_DE.UTF-8", 0x0407, "BEENDEN", "Beim Start der Anwendung sind Probleme aufgetreten. Sie wird jetzt beendet.  (Fehlercode = -2147467259)"},
        {"fr_CA.UTF-8", 0x0C0C, "QUITTER", "L'application a rencontr\u00E9 des probl\u00E8mes au d\u00E9marrage et va maintenant se fermer.  (Code d'erreur = -2147467259)"},
        {"es_MX.UTF-8", 0x080A, "SALIR", "La aplicaci\u00F3n ha tenido problemas al iniciarse y se cerrar\u00E1.  (C\u00F3digo de error = -2147467259)"},
        {"ja_JP.UTF-8", 0x0411, "\u7D42\u4E86", "\u8D77\u52D5\u4E2D\u306B\u554F\u984C\u304C\u767A\u751F\u3057\u305F\u305F\u3081\u3001\u30A2\u30D7\u30EA\u30B1\u30FC\u30B7\u30E7\u30F3\u3092\u7D42\u4E86\u3057\u307E\u3059\u3002  (\u30A8\u30E9\u30FC \u30B3\u30FC\u30C9 = -2147467259)"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.posixLocale);
        // The user's locale as start-up reads it.
        const std::uint32_t lcid = ZT::CLocaleId::FromPosixLocale(row.posixLocale);
        ASSERT_EQ(lcid, row.lcid);
        const StartupLoad load = LoadAsAtStartup(WString(L"::"), lcid);
        const RCPtr<ZT::LResourceSet> resources = load.mFactory->GetResources();
        EXPECT_TRUE(resources->GetLoadMessages().empty());
        ASSERT_TRUE(resources->GetSkin()); // the window it builds: TheShippedSkinBuildsEveryNamedControlAsItsClass
        EXPECT_EQ(Utf8(resources->GetText(WString(L"FirmwareUpdater.MainControl|buttonExit"), WString(L"LABEL"))),
                  row.exitCaption);
        EXPECT_EQ(Utf8(CStartupResources::StartupErrorText(resources.Get(), ZT::E_FAIL)),
                  row.startupError);
        EXPECT_NE(load.mDebugOutput.find("built into the program"), std::string::npos) << load.mDebugOutput;

        // A run without a window reads the same tables when it shows a text, and no skin.
        std::ostringstream narrow;
        std::wostringstream wide;
        ZT::DebugOutput::Instance().SetLogStreams(narrow, wide);
        const RCPtr<LResourceSet> texts = CStartupResources::LoadTexts(WString(L"::"), lcid);
        ZT::DebugOutput::Instance().UseDebugStreams();
        ASSERT_TRUE(texts) << "LoadTexts gave no tables";
        EXPECT_FALSE(texts->GetSkin()) << "LoadTexts loaded the skin, which a windowless run never shows";
        EXPECT_EQ(Utf8(CStartupResources::StartupErrorText(texts.Get(), ZT::E_FAIL)), row.startupError);
        EXPECT_NE(narrow.str().find("built into the program, no skin"), std::string::npos) << narrow.str();
    }
    // Without tables, the English texts.
    EXPECT_EQ(Utf8(CStartupResources::StartupErrorText(nullptr, ZT::E_FAIL)),
              "The application encountered problems during startup and will now close.  (Error code = -2147467259)");
    EXPECT_EQ(Utf8(CStartupResources::StartupErrorText(nullptr)),
              "The application encountered problems during startup and will now close.");
}

TEST(StartupResources, AFolderFromTheEnvironmentIsTakenWhenItIsUtf8)
{
    const WString builtIn(L"::");
    EXPECT_EQ(CStartupResources::ChooseLocation(nullptr, builtIn), builtIn);
    EXPECT_EQ(CStartupResources::ChooseLocation("", builtIn), builtIn);
    EXPECT_EQ(CStartupResources::ChooseLocation("\xFF\xFE", builtIn), builtIn) << "not UTF-8: no folder";
    EXPECT_EQ(Utf8(CStartupResources::ChooseLocation("/home/dj/sk\xC3\xAEn", builtIn)), "/home/dj/sk\xC3\xAEn");
}

TEST(MainWindowTree, TheShippedSkinAsksForAFixedWindowThatTheLayoutKeepsAsDrawn)
{
    const RCPtr<LControl> main = BuildMainWindow(0x0409);
    ASSERT_TRUE(main && main->GetDescriptor());
    const ZT::WindowSizeConstraints window = ZT::GetWindowSizeConstraints(*main->GetDescriptor(), ZT::SizeT{1920, 1080});
    EXPECT_TRUE(window.IsFixed()) << "minimum " << window.mMinimum.mWidth << " x " << window.mMinimum.mHeight;
    EXPECT_EQ(window.mMinimum, (ZT::SizeT{400, 450}));
    EXPECT_EQ(window.mInitial, (ZT::Rect{0, 0, 400, 450}));

    // The skin places every control in pixels: a layout pass leaves each where it was created.
    std::vector<std::pair<std::string, ZT::Rect>> created;
    for (LControl* child : main->GetChildren())
        created.emplace_back(Utf8(child->GetName()), child->GetBounds());
    ZT::LayoutControlTree(*main, ZT::Rect{0, 0, 400, 450}, ZT::SizeT{1920, 1080}, nullptr);
    for (std::size_t i = 0; i < created.size(); ++i)
        EXPECT_EQ(main->GetChildren()[i]->GetBounds(), created[i].second) << created[i].first;
}

TEST(MainWindowTree, TheShippedSkinBuildsEveryNamedControlAsItsClass)
{
    const RCPtr<LControl> main = BuildMainWindow(0x0409);
    ASSERT_TRUE(main);
    EXPECT_EQ(main->GetClassName(), WString(MainControlNames::kMainControlClass));
    EXPECT_EQ(main->GetBounds(), (ZT::Rect{0, 0, 400, 450}));
    EXPECT_EQ(main->GetText(), WString(L"XR4000 NOVA Firmware Updater"));

    for (const MainControlNames::NamedControl& named : MainControlNames::kMainControlChildren) {
        const RCPtr<LControl> child = main->FindChildByName(WString(named.mName));
        if (!named.mInShippedSkin) {
            EXPECT_FALSE(child) << Utf8(WString(named.mName));
            continue;
        }
        ASSERT_TRUE(child) << Utf8(WString(named.mName));
        EXPECT_TRUE(IsOfClass(*child, WString(named.mClassName))) << Utf8(WString(named.mName));
        // Every control lies inside the window.
        const ZT::Rect area = child->GetAreaInWindow();
        EXPECT_TRUE(area.mLeft >= 0 && area.mTop >= 0 && area.mRight <= 400 && area.mBottom <= 450 && !area.IsEmpty())
            << Utf8(WString(named.mName));
    }
    const RCPtr<LControl> progress = main->FindChildByName(WString(MainControlNames::kProgressBar));
    ASSERT_TRUE(progress);
    for (const MainControlNames::NamedControl& named : MainControlNames::kProgressBarChildren)
        EXPECT_TRUE(progress->FindChildByName(WString(named.mName))) << Utf8(WString(named.mName));
}

TEST(MainWindowTree, CaptionsComeFromTheTablesInTheUsersLanguage)
{
    struct Row {
        std::uint32_t lcid;
        const wchar_t* exit;
        const wchar_t* update;
        const char* menuTitle;
    };
    // The tables each language loads: StartupResources.EveryShippedLanguageLoadsItsOwnTextsAndTheSkin.
    const Row rows[] = {{0x0407, L"BEENDEN", L"FIRMWARE AKTUALISIEREN", "Datei"},
                        {0x0410, L"EXIT", L"UPDATE FIRMWARE", "File"}};   // Italian: English texts
    for (const Row& row : rows) {
        const RCPtr<LControl> main = BuildMainWindow(row.lcid);
        ASSERT_TRUE(main);
        EXPECT_EQ(main->FindChildByName(WString(MainControlNames::kButtonExit))->GetText(), WString(row.exit));
        EXPECT_EQ(main->FindChildByName(WString(MainControlNames::kButtonUpdateFirmware))->GetText(), WString(row.update));
        const auto menu = RCPtr<ZT::LMainMenu>(main->FindChildByName(WString(MainControlNames::kMainMenu)));
        ASSERT_TRUE(menu);
        ASSERT_EQ(menu->GetMenus().size(), 2u) << "the File and Options menus";
        EXPECT_EQ(Utf8(menu->GetMenus()[0].mTitle), row.menuTitle);
    }

    const RCPtr<LControl> main = BuildMainWindow(0x0409);
    const auto version = RCPtr<ZT::LLabel>(main->FindChildByName(WString(MainControlNames::kUpdaterVersionLabel)));
    ASSERT_TRUE(version);
    EXPECT_TRUE(version->SetTextFromDefault(WString(L"1.0.0")));
    EXPECT_EQ(version->GetText(), WString(L"Updater: 1.0.0"));
    // The progress bar's time label keeps its unit.
    const auto progress = RCPtr<ZT::LProgressBar>(main->FindChildByName(WString(MainControlNames::kProgressBar)));
    progress->SetTimeUnknown(false);
    progress->SetSecondsRemaining(37);
    EXPECT_EQ(progress->FindChildByName(WString(MainControlNames::kTimeRemainingLabel))->GetText(), WString(L"37 seconds"));
}

// Receives the window's commands.
class CommandRecorder : public ZT::LNotificationClient {
public:
    ZT::ZTRESULT HandleNotification(ZT::LNotificationDistributor*, const RCPtr<ZT::LNotification>& notification) override
    {
        mCommands.push_back(Utf8(ZT::GetNotificationName(notification->GetID())));
        return ZT::S_OK;
    }
    std::vector<std::string> mCommands;
};

class DisablingTarget : public ZT::UITarget {
public:
    ZT::ZTRESULT QueryMenuItemState(ZT::NotificationID, MenuItemState& state) override
    {
        state.mEnabled = false;
        return ZT::S_OK;
    }
};

TEST(MainWindowTree, TheMenuSendsItsItemsCommandThroughTheWindow)
{
    const RCPtr<LControl> main = BuildMainWindow(0x0409);
    const auto window = ZT::MakeRC<ZT::LRootWindow>();
    ASSERT_RESULT_EQ(window->SetRootControl(main), ZT::S_OK);
    const auto recorder = ZT::MakeRC<CommandRecorder>();
    recorder->Register(window.Get(), L"NID_MENU_FILE_SELECT");

    const auto menu = RCPtr<ZT::LMainMenu>(main->FindChildByName(WString(MainControlNames::kMainMenu)));
    ASSERT_TRUE(menu);
    EXPECT_TRUE(menu->IsVisible()) << "the skin hides the menu that the no-file text tells the user to use";
    ASSERT_EQ(menu->GetMenus().size(), 2u);
    ASSERT_EQ(menu->GetMenus()[0].mItems.size(), 2u);
    EXPECT_EQ(Utf8(menu->GetMenus()[0].mItems[0].mText), "Open Firmware File...");
    EXPECT_EQ(Utf8(ZT::GetNotificationName(menu->GetMenus()[0].mItems[1].mCommand)), "NID_MENU_FILE_EXIT_REQ");
    ASSERT_EQ(menu->GetMenus()[1].mItems.size(), 1u);
    EXPECT_EQ(Utf8(ZT::GetNotificationName(menu->GetMenus()[1].mItems[0].mCommand)), "NID_MENU_OPTIONS_ALLOW_DOWNGRADE");
    EXPECT_RESULT_EQ(menu->ChooseItem(0, 0), ZT::S_OK);
    EXPECT_EQ(recorder->mCommands, std::vector<std::string>{"NID_MENU_FILE_SELECT"});
    EXPECT_RESULT_EQ(menu->ChooseItem(0, 2), ZT::E_INVALIDARG);
    EXPECT_RESULT_EQ(menu->ChooseItem(2, 0), ZT::E_INVALIDARG);

    const auto target = ZT::MakeRC<DisablingTarget>();
    menu->SetCommandTarget(target.Get());
    EXPECT_RESULT_EQ(menu->UpdateMenuStates(0), ZT::S_OK);
    EXPECT_RESULT_EQ(menu->ChooseItem(0, 0), ZT::E_FAIL);
    EXPECT_EQ(recorder->mCommands.size(), 1u);
    menu->SetCommandTarget(nullptr);
}

} // namespace
