#include "FirmwareUpdater/Panel/Application.h"

#include "FirmwareUpdater/Panel/Engine/DualUpdater.h"
#include "ZTFramework/ControlBase/Control.h"
#include "ZTFramework/ControlBase/RootWindow.h"
#include "ZTFramework/ControlBase/WindowServices.h"
#include "ZTFramework/Usb/UsbBackend.h"
#include "tests/FirmwareUpdater/Panel/Engine/UpdateEngineTestSupport.h"
#include "tests/Support/Printers.h"
#include "tests/ZTFramework/Utilities/Storage/TempFolder.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <utility>

namespace {

namespace fs = std::filesystem;

TEST(Application, TheQuitFamilyEndsTheRunAndNothingElseDoes)
{
    const struct {
        std::uint32_t result;
        bool quits;
    } cases[] = {
        {0x8000A000u, true},  {0x8000A001u, true},  {0x8000A002u, true},  {0x8000A003u, true},
        {0x8000A010u, true},  {0x8000A020u, true},  {0x8000A004u, false}, {0x8000A011u, false},
        {0x8000A021u, false}, {0x80004005u, false}, {0x80004004u, false}, {0u, false},
        {1u, false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(LApplication::IsQuitResult(static_cast<ZT::ZTRESULT>(c.result)), c.quits) << std::hex << c.result;
    EXPECT_EQ(LApplication::GetWindowClassName(), "Halvard_DEVICE_FAMILY_NAME_String_FirmwareUpdater");
}

TEST(Application, SettingsFilesLiveInTheSettingsFoldersAndAreMadeOnFirstUse)
{
    const ZT::Testing::TempFolder temp("zt-application");
    const fs::path& root = temp.Path();
    ZT::CApplicationFolders::Environment environment;
    environment.Home = (root / "home").string();
    environment.XdgConfigHome = (root / "config").string();
    environment.XdgDataHome = (root / "data").string();
    environment.ProgramPath = "/opt/halvard/xr4000-nova-updater";
    {
        auto application = ZT::MakeRC<LApplication>(
            ZT::WString(L"updater -RETURN_UPDATE_MODE_STATUS"),
            ZT::CApplicationFolders(environment, ZT::WString(L"Halvard"), ZT::WString(L"Updater")),
            ZT::WString(L"Halvard"), ZT::WString(L"Updater"), nullptr);
        EXPECT_FALSE(fs::exists(root / "config")) << "nothing is made before it is needed";
        EXPECT_TRUE(application->CanExit()) << "no processor, nothing running";

        ZT::CApplicationSettingsFiles& settings = application->GetSettingsFiles();
        EXPECT_EQ(settings.GetAppSettingsPath().ToUTF8(), (root / "config/Halvard/Updater/AppSettings.ini").string());
        EXPECT_EQ(settings.GetUserSettingsPath().ToUTF8(), (root / "data/Halvard/Updater/UserSettings.ini").string());
        EXPECT_EQ(&application->GetSettingsFiles(), &settings) << "made once, then kept";
        ASSERT_TRUE(ZT::Succeeded(settings.SetCurrentSkinIndex(2)));

        // Start-up in query mode on the process's default backend, which lists nothing.
        LUpdateProcessor::SetExitStatus(0);
        EXPECT_RESULT_EQ(application->Startup(), ZT::ZTRESULT_EXIT_APPLICATION);
        EXPECT_EQ(LUpdateProcessor::GetExitStatus(), LUpdateProcessor::kStatusNoUsableDevice);
        EXPECT_TRUE(application->CanExit());
        application->Shutdown();
        EXPECT_FALSE(application->GetProcessor());
        EXPECT_TRUE(fs::exists(root / "data/Halvard/Updater/UserSettings.ini")) << "written at shutdown";
    }
    LDualUpdater::ReleaseInstance();
    LUpdateProcessor::SetExitStatus(0);
}

// Shutdown with a download still running: it must wait for it. Without the wait the engine,
// held alive by its own worker, would finish the download only while the process is ending, and
// a real process ends at once, with the device half-written.
class ApplicationShutdown : public EngineTest::EngineFixture {
protected:
    ~ApplicationShutdown() override
    {
        mClock.mAfterSleep = nullptr;
        mAppEngine = nullptr;
    }

    // What the window's loop would do meanwhile: deliveries and the update sequence's timers,
    // until done. While the worker runs a task and nothing else is due, the loop waits for the
    // task's end. False when done never came.
    bool DriveUntil(LApplication& application, const std::function<bool()>& done)
    {
        const ZT::RCPtr<LUpdateSequence> sequence = application.GetSequence();
        const ZT::RCPtr<LUpdateEngineInterface> engine = application.GetProcessor()->GetEngine();
        const auto giveUp = std::chrono::steady_clock::now() + std::chrono::seconds(30);
        while (!done()) {
            if (std::chrono::steady_clock::now() > giveUp)
                return false;
            LCommandLineRun::DeliverNotifications();
            if (const std::optional<std::uint64_t> due = sequence->GetTimerDueMs()) {
                if (const std::uint64_t now = mClock.NowMs(); *due > now)
                    mClock.AdvanceMs(*due - now);
                sequence->OnTimer();
                continue;
            }
            // The delivery may just have started the download, which the gate holds until someone
            // waits for it: this loop waits only while done() is still false.
            if (!done())
                (void)engine->WaitForUpdate(ZT::kShutdownJoinTimeoutMs);
        }
        return true;
    }

    // The worker is held at its first wait of the download until someone waits for the download
    // (Shutdown, a test's WaitForUpdate) or the test opens the gate: the download runs for
    // certain when start-up returns and while the test acts.
    void HoldTheDownload()
    {
        mClock.mAfterSleep = [this](std::uint64_t) {
            LUpdateEngineInterface* const engine = mAppEngine.load();
            if (engine != nullptr && engine->GetDeviceState() == EngineTest::DeviceState::Updating)
                mGate.Hold([engine] { return engine->GetUpdateWaiterCount() > 0; });
        };
    }
    // Lets a held worker finish (after a failed expectation) and leaves the hook.
    void ReleaseTheDownload(LUpdateEngineInterface& engine)
    {
        mGate.Open();
        (void)engine.WaitForUpdate(ZT::kShutdownJoinTimeoutMs);
        mClock.mAfterSleep = nullptr;
    }

    EngineTest::WorkerGate mGate;
    std::atomic<LUpdateEngineInterface*> mAppEngine{nullptr};
};

TEST_F(ApplicationShutdown, WaitsForADownloadThatStillRuns)
{
    const auto controller = AddController(0x0030);
    AddDisplay(0x0050);
    HoldTheDownload();

    ZT::CApplicationFolders::Environment environment;
    environment.Home = (mFolder / "home").string();
    environment.XdgConfigHome = (mFolder / "config").string();
    environment.XdgDataHome = (mFolder / "data").string();
    environment.ProgramPath = (mFolder / "xr4000-nova-updater").string();
    auto application = ZT::MakeRC<LApplication>(
        ZT::WString(L"updater -START_UPDATE_AUTOMATICALLY"),
        ZT::CApplicationFolders(environment, ZT::WString(L"Halvard"), ZT::WString(L"Updater")), ZT::WString(L"Halvard"),
        ZT::WString(L"Updater"), nullptr);
    LUpdateProcessor::SetExitStatus(0);
    ASSERT_RESULT_EQ(application->Startup(), ZT::S_OK)
        << "-START_UPDATE_AUTOMATICALLY leaves the download to the window";
    const ZT::RCPtr<LUpdateEngineInterface> engine = application->GetProcessor()->GetEngine();
    mAppEngine = engine.Get();
    ASSERT_TRUE(DriveUntil(*application, [&] { return engine->GetDeviceState() == EngineTest::DeviceState::Updating; }))
        << "the download did not start; device " << ToString(engine->GetDeviceState());
    ASSERT_TRUE(mGate.WaitUntilHeld(std::chrono::seconds(30))) << "the download never reached its first wait";

    application->Shutdown();
    EXPECT_EQ(engine->GetUpdateRunState(false), EngineTest::UpdateRunState::Succeeded)
        << "Shutdown returned while the download still ran";
    EXPECT_EQ(controller->GetFlashReleaseNumber(), std::optional<std::uint16_t>(0x0031));
    EXPECT_FALSE(application->GetProcessor());
    ReleaseTheDownload(*engine);
    LUpdateProcessor::SetExitStatus(0);
}

// The window's exit check: Alt+F4 (and every other exit request) does nothing while the download
// runs, and ends the program once it is over.
TEST_F(ApplicationShutdown, ExitRequestsAreRefusedWhileTheDownloadRuns)
{
    AddController(0x0030);
    AddDisplay(0x0050);
    HoldTheDownload();
    ZT::CApplicationFolders::Environment environment;
    environment.Home = (mFolder / "home").string();
    environment.XdgConfigHome = (mFolder / "config").string();
    environment.XdgDataHome = (mFolder / "data").string();
    environment.ProgramPath = (mFolder / "xr4000-nova-updater").string();
    auto application = ZT::MakeRC<LApplication>(
        ZT::WString(L"updater -START_UPDATE_AUTOMATICALLY"),
        ZT::CApplicationFolders(environment, ZT::WString(L"Halvard"), ZT::WString(L"Updater")), ZT::WString(L"Halvard"),
        ZT::WString(L"Updater"), nullptr);
    LUpdateProcessor::SetExitStatus(0);
    ASSERT_RESULT_EQ(application->Startup(), ZT::S_OK);
    const ZT::RCPtr<ZT::LFrameworkApp> framework = application->GetFramework();
    ASSERT_TRUE(framework) << "start-up made no framework application";
    int ended = 0;
    framework->SetExitHandler([&ended] { ++ended; });
    const ZT::RCPtr<LUpdateEngineInterface> engine = application->GetProcessor()->GetEngine();
    mAppEngine = engine.Get();
    ASSERT_TRUE(DriveUntil(*application, [&] { return engine->GetDeviceState() == EngineTest::DeviceState::Updating; }))
        << "the download did not start; device " << ToString(engine->GetDeviceState());
    ASSERT_TRUE(mGate.WaitUntilHeld(std::chrono::seconds(30))) << "the download never reached its first wait";

    EXPECT_TRUE(framework->HandleKey(ZT::WString(L"Alt+VKEY_F4"))) << "Alt+F4 is not bound to the exit request";
    EXPECT_EQ(ended, 0) << "Alt+F4 ended the program during the download";
    EXPECT_EQ(framework->GetRefusedExitCount(), 1u);

    ASSERT_RESULT_EQ(engine->WaitForUpdate(ZT::kShutdownJoinTimeoutMs), ZT::S_OK);
    ASSERT_NE(engine->GetDeviceState(), EngineTest::DeviceState::Updating);
    // Between the download and the device's return the sequence still decides what comes next.
    LCommandLineRun::DeliverNotifications();
    ASSERT_TRUE(application->GetSequence()->IsRunning());
    EXPECT_TRUE(framework->HandleKey(ZT::WString(L"Alt+VKEY_F4")));
    EXPECT_EQ(ended, 0) << "Alt+F4 ended the program while the device restarted";
    ASSERT_TRUE(DriveUntil(*application, [&] { return !application->GetSequence()->IsRunning(); }));
    EXPECT_TRUE(framework->HandleKey(ZT::WString(L"Alt+VKEY_F4")));
    EXPECT_EQ(ended, 1) << "Alt+F4 after the download did not end the program";

    application->Shutdown();
    EXPECT_FALSE(application->GetFramework()) << "shutdown keeps the framework application";
    ReleaseTheDownload(*engine);
    LUpdateProcessor::SetExitStatus(0);
}

} // namespace
