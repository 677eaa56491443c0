#pragma once
// The updater's application object: its folders, its two settings files, the update processor
// and the run without a window that stands in for the window's main control until (unless) a
// window shows.
//
// Start-up first starts the framework application (notification pooling, the exit request and
// its key Alt+F4), then hands the command line to the processor, whose result decides the rest:
// one of the quit results (IsQuitResult) ends the process without a window; anything else
// non-negative lets the window show (CMainWindow). While the window shows, an exit request is
// refused as long as a download or the switch into update mode runs (CanExit). Shutdown waits for a download that still runs (at most
// ZT::kShutdownJoinTimeoutMs, 60000 ms; one that does not end is reported, never cut) and then
// releases the processor, and with it the engine and its idle worker.
//
// Threads: the user-interface thread's, all of it.

#include "FirmwareUpdater/Panel/CommandLineRun.h"
#include "FirmwareUpdater/Panel/Engine/UpdateProcessor.h"
#include "ZTFramework/Application/ApplicationFolders.h"
#include "ZTFramework/Application/ApplicationSettingsStartup.h"
#include "ZTFramework/Application/FrameworkApp.h"
#include "ZTFramework/ControlBase/ControlFactory.h"
#include "ZTFramework/Errors/Result.h"
#include "ZTFramework/ObjectBase/RCPtr.h"
#include "ZTFramework/ObjectBase/RefCountedObject.h"
#include "ZTFramework/Settings/ApplicationSettingsFiles.h"
#include "ZTFramework/Settings/IniFileManager.h"
#include "ZTFramework/Utilities/Storage/StringT.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

class CProgressPrinter;
namespace ZT {
class CTerminationSignals;
}

class LApplication : public virtual ZT::LRefCountedObject {
public:
    static constexpr const wchar_t* kRootControlName = L"mainControl";
    static constexpr const wchar_t* kStatusBarName = L"statusBar";
    static constexpr const wchar_t* kSettingsVersion = L"1_0_0";

    // The window class name: also the base of the single-instance name.
    [[nodiscard]] static std::string GetWindowClassName();

    // Registers the updater's control classes with a factory that has the framework's:
    // "FirmwareUpdater.MainControl". The factory's result (E_FAIL when a name is taken).
    [[nodiscard]] static ZT::ZTRESULT RegisterControlClasses(ZT::LControlFactory& factory);

    // True for the results that end the process at once, without a window: 0x8000A000,
    // 0x8000A001, 0x8000A002, 0x8000A003, 0x8000A010 and ZT::ZTRESULT_EXIT_APPLICATION.
    [[nodiscard]] static bool IsQuitResult(ZT::ZTRESULT result) noexcept;

    // printer: where a person sees the run without a window (null: the debug output).
    LApplication(ZT::WString commandLine, ZT::CApplicationFolders folders, ZT::WString companyName,
                 ZT::WString productName, CProgressPrinter* printer);
    ~LApplication() override;
    LApplication(const LApplication&) = delete;
    LApplication& operator=(const LApplication&) = delete;

    // Creates the processor, puts the run without a window in place and calls the processor's
    // Initialize with the command line. Returns a negative result unchanged (the quit results
    // among them), else 0. Throws what Initialize throws.
    [[nodiscard]] ZT::ZTRESULT Startup();

    // Without a window to show the rest, runs the update sequence that start-up or the window
    // left running ("-START_UPDATE_AUTOMATICALLY") to its end. Returns at once when none runs.
    void FinishWithoutWindow();

    // Writes the settings files that were opened, waits for a download that still runs (see
    // the header comment), lets the run go and releases the processor.
    void Shutdown();

    // The signals the run listens to from Startup to Shutdown (null: none). Set before Startup;
    // the object must outlive Shutdown.
    void SetTerminationSignals(ZT::CTerminationSignals* signals) noexcept { mSignals = signals; }

    // The exit check of the window: false while a download or the switch into update mode runs,
    // and while the update sequence goes on between the devices.
    [[nodiscard]] bool CanExit() const;

    // The framework application, made by Startup (null before).
    [[nodiscard]] const ZT::RCPtr<ZT::LFrameworkApp>& GetFramework() const noexcept { return mFramework; }
    // Called on the signal thread after the run has been told of a termination signal, while a
    // window shows (CMainWindow ends its loop once exit is allowed). Empty removes it; once the
    // removal returns it is not called again. Must not block.
    void SetTerminationHook(std::function<void()> hook);

    // Where the skin's images are found ("::" or a folder), as start-up chose it.
    void SetResourceLocation(ZT::WString location) { mResourceLocation = std::move(location); }
    [[nodiscard]] const ZT::WString& GetResourceLocation() const noexcept { return mResourceLocation; }
    [[nodiscard]] const ZT::WString& GetCompanyName() const noexcept { return mCompanyName; }

    [[nodiscard]] ZT::WString GetFolder(std::uint32_t pathId) const { return mFolders.GetFolder(pathId); }
    [[nodiscard]] const ZT::CApplicationFolders& GetFolders() const noexcept { return mFolders; }
    // The two settings files, made on first use (that creates folders 2 and 3).
    [[nodiscard]] ZT::CApplicationSettingsFiles& GetSettingsFiles();
    // Only a run that shows the window touches the settings files: query and -SILENT runs never
    // open them, so an installer's query reads and writes nothing there.
    // OpenSettings makes sure both files are on disk (ZT::OpenSettingsAtStartup) and returns what
    // they hold; a file that could not be opened or written is reported on the debug output and
    // its defaults are returned, so the window still shows.
    [[nodiscard]] ZT::StartupSettings OpenSettings();
    // Writes the window's placement into the user settings file, under the window class name
    // (when the window closes). False, with a debug line, when it could not be written; the file
    // on disk is then the earlier one, whole.
    bool SaveWindowPlacement(const ZT::WindowPlacement& placement);
    // The locale the window's texts were loaded for (ZT::CLocaleId; 0 until start-up sets it).
    void SetLocaleId(std::uint32_t lcid) noexcept { mLocaleId = lcid; }
    [[nodiscard]] std::uint32_t GetLocaleId() const noexcept { return mLocaleId; }
    [[nodiscard]] const ZT::RCPtr<LUpdateProcessor>& GetProcessor() const noexcept { return mProcessor; }
    [[nodiscard]] const ZT::WString& GetCommandLine() const noexcept { return mCommandLine; }
    [[nodiscard]] const ZT::RCPtr<LCommandLineRun>& GetCommandLineRun() const noexcept { return mRun; }
    // The update sequence of the run, window or not (null before Startup and after Shutdown).
    [[nodiscard]] const ZT::RCPtr<LUpdateSequence>& GetSequence() const noexcept { return mSequence; }
    // The factory that start-up loaded the texts and the skin into (see CStartupResources);
    // the window's controls are made by it.
    void SetControlFactory(ZT::RCPtr<ZT::LControlFactory> factory) { mControlFactory = std::move(factory); }
    [[nodiscard]] const ZT::RCPtr<ZT::LControlFactory>& GetControlFactory() const noexcept { return mControlFactory; }

private:
    const ZT::WString mCommandLine;
    const ZT::CApplicationFolders mFolders;
    const ZT::WString mCompanyName;
    const ZT::WString mProductName;
    CProgressPrinter* const mPrinter;
    ZT::CTerminationSignals* mSignals = nullptr;
    ZT::RCPtr<ZT::LIniFileManager> mSettingsManager;
    std::unique_ptr<ZT::CApplicationSettingsFiles> mSettingsFiles;
    ZT::RCPtr<LUpdateProcessor> mProcessor;
    ZT::RCPtr<LUpdateSequence> mSequence;
    ZT::RCPtr<LCommandLineRun> mRun;
    ZT::RCPtr<ZT::LControlFactory> mControlFactory;
    ZT::RCPtr<ZT::LFrameworkApp> mFramework;
    ZT::WString mResourceLocation{L"::"};
    std::uint32_t mLocaleId = 0;
    std::mutex mTerminationHookMutex; // guards mTerminationHook (UI thread and signal thread)
    std::function<void()> mTerminationHook;
};
