// Builds the main window's control tree from the shipped skin and tables, as the application
// does at start-up, with a plain control standing in for the main control.

#include "FirmwareUpdater/Panel/StartupResources.h"
#include "FirmwareUpdater/Panel/UI/ControlNames.h"
#include "FirmwareUpdater/Panel/UI/UpdaterTexts.h"
#include "ZTFramework/ControlBase/ControlFactory.h"
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
#include "ZTFramework/Resources/LocaleId.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>

namespace {

using ZT::LControl;
using ZT::RCPtr;
using ZT::WString;

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

RCPtr<LControl> BuildMainWindow(std::uint32_t lcid)
{
    const RCPtr<ZT::LControlFactory> factory = LoadAsAtStartup(WString(L"::"), lcid).mFactory;
    EXPECT_TRUE(factory->GetResources()->GetLoadMessages().empty());
    EXPECT_EQ(factory->RegisterControlClass(WString(MainControlNames::kMainControlClass), &StandInMainControl::Create),
              ZT::S_OK);
    return factory->CreateControl(WString(MainControlNames::kMainControl));
}

std::string Utf8(const WString& text) { return text.ToUTF8(); }

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
        ASSERT_EQ(menu->GetMenus().size(), 1u);
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
    ASSERT_EQ(window->SetRootControl(main), ZT::S_OK);
    const auto recorder = ZT::MakeRC<CommandRecorder>();
    recorder->Register(window.Get(), L"NID_MENU_FILE_ITEM_1");

    const auto menu = RCPtr<ZT::LMainMenu>(main->FindChildByName(WString(MainControlNames::kMainMenu)));
    ASSERT_TRUE(menu);
    ASSERT_EQ(menu->GetMenus()[0].mItems.size(), 1u);
    EXPECT_EQ(Utf8(menu->GetMenus()[0].mItems[0].mText), "Select Firmware File");
    EXPECT_EQ(menu->ChooseItem(0, 0), ZT::S_OK);
    EXPECT_EQ(recorder->mCommands, std::vector<std::string>{"NID_MENU_FILE_ITEM_1"});
    EXPECT_EQ(menu->ChooseItem(0, 1), ZT::E_INVALIDARG);
    EXPECT_EQ(menu->ChooseItem(1, 0), ZT::E_INVALIDARG);

    const auto target = ZT::MakeRC<DisablingTarget>();
    menu->SetCommandTarget(target.Get());
    EXPECT_EQ(menu->UpdateMenuStates(0), ZT::S_OK);
    EXPECT_EQ(menu->ChooseItem(0, 0), ZT::E_FAIL);
    EXPECT_EQ(recorder->mCommands.size(), 1u);
    menu->SetCommandTarget(nullptr);
}

} // namespace
