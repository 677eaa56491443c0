// Process entry of the updater: the locale, the termination signals, the single-instance check,
// the debug-output switch, the choice of device backends, the application's start-up (where the
// processor does the whole job in query and silent mode), the window (CMainWindow) when the
// processor leaves the run to it, the shutdown, and the exit status as the process exit code.
//
// Nothing of the window (SDL, Cairo, Pango) runs before the processor has decided that there
// will be one: query and silent runs never start SDL and need no display. Nor do they open the
// settings files: those hold the window's placement and skin, which such runs have no use for,
// so an installer's query stays quick and writes nothing there. The window opens them once a
// display was reached, and writes its placement back when it closes. A windowed run that
// finds no display says so on standard error and ends with kNoWindowStatus; one whose skin cannot
// make the window shows the start-up error (a message box where a display exists, standard error
// always) and ends with the same status.
//
// SIGINT, SIGTERM and SIGHUP never end a run that may write a device in the middle of it: they
// are taken on a thread of their own (ZT::CTerminationSignals, made before any other thread),
// the device being written is finished, nothing new starts, and the process ends with the
// signal's conventional status (128 + its number). Query mode writes nothing and keeps their
// default action.

#include "ProductInfo.h"

#include "FirmwareUpdater/Panel/Application.h"
#include "FirmwareUpdater/Panel/CommandLineRun.h"
#include "FirmwareUpdater/Panel/HelpText.h"
#include "FirmwareUpdater/Panel/QueryStatusJson.h"
#include "FirmwareUpdater/Panel/Engine/BootloaderRoleRecord.h"
#include "FirmwareUpdater/Panel/Engine/UpdateHistory.h"
#include "FirmwareUpdater/Panel/Engine/CommandLineOption.h"
#include "FirmwareUpdater/Panel/Engine/DualUpdater.h"
#include "FirmwareUpdater/Panel/Engine/UpdateProcessor.h"
#include "FirmwareUpdater/Panel/MainWindow.h"
#include "FirmwareUpdater/Panel/PrinterLogStreams.h"
#include "FirmwareUpdater/Panel/ProgressPrinter.h"
#include "FirmwareUpdater/Panel/StartupResources.h"
#include "Simulator/SimulatedDevicesSetup.h"
#include "ZTFramework/Application/ApplicationFolders.h"
#include "ZTFramework/Application/TerminationSignals.h"
#include "ZTFramework/Application/SingleInstance.h"
#include "ZTFramework/Debug/DebugConsoleSwitch.h"
#include "ZTFramework/Debug/DebugLine.h"
#include "ZTFramework/Debug/DebugOutput.h"
#include "ZTFramework/Midi/Alsa/AlsaMidiOutputBackend.h"
#include "ZTFramework/Midi/MidiOutputBackend.h"
#include "ZTFramework/Notification/Notification.h"
#include "ZTFramework/Resources/LocaleId.h"
#include "ZTFramework/Usb/Linux/LinuxUsbBackend.h"
#include "ZTFramework/Usb/UsbBackend.h"

#include <cctype>
#include <clocale>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <csignal>
#include <cstring>
#include <exception>
#include <memory>
#include <optional>
#include <string>
#include <system_error>
#include <thread>
#include <dlfcn.h>
#include <unistd.h>

namespace {

// The exit status of a windowed run whose window could not show (no display, a skin that cannot
// make it).
constexpr int kNoWindowStatus = 1;

constexpr const wchar_t* kSimulateDevicesValue = L"-SIMULATE_DEVICES=";
constexpr const wchar_t* kSimulateDevicesFlag = L"-SIMULATE_DEVICES";

// One argument as the command-line text carries it. An argument with a blank is quoted so that
// it stays one option: "-NAME=value" as -NAME="value" (the option lookup reads a quoted value),
// anything else as a whole. An argument that already holds a double quote is taken as written.
std::string QuoteArgument(const char* argument)
{
    const std::string text(argument);
    if (text.find(' ') == std::string::npos || text.find('"') != std::string::npos)
        return text;
    const std::size_t equals = text.find('=');
    if (!text.empty() && text.front() == '-' && equals != std::string::npos && text.find(' ') > equals)
        return text.substr(0, equals + 1) + '"' + text.substr(equals + 1) + '"';
    return '"' + text + '"';
}

// A plain argument after the program's name (no leading dash) is a firmware file, as the desktop
// passes one opened with the updater: it becomes -ABSOLUTE_FIRMWARE_FILE_PATH= with the file's
// absolute path. Options stay as they are.
std::string ArgumentAsOption(const char* argument)
{
    if (argument[0] == '\0' || argument[0] == '-')
        return argument;
    std::string path(argument);
    if (path.front() != '/') {
        char folder[4096];
        if (::getcwd(folder, sizeof folder))
            path = std::string(folder) + "/" + path;
    }
    return std::string(CommandLineOption::kAbsoluteFirmwareFilePathUtf8) + path;
}

// The command line as one text, the way installers and the single-instance hand-over see it:
// the arguments joined by blanks.
std::string JoinCommandLine(int argc, char** argv)
{
    std::string line;
    for (int i = 0; i < argc; ++i) {
        if (i > 0)
            line += ' ';
        line += i > 0 ? QuoteArgument(ArgumentAsOption(argv[i]).c_str()) : QuoteArgument(argv[i]);
    }
    return line;
}

// The folders --help names, without making any of them.
CHelpText::Folders HelpFolders(const ZT::CApplicationFolders::Environment& environment)
{
    const auto base = [&](const std::string& variable, const char* fallback) {
        return (!variable.empty() && variable.front() == '/' ? variable : environment.Home + fallback) + "/" +
               ZT_COMPANY_NAME + "/" + ZT_PRODUCT_NAME;
    };
    CHelpText::Folders folders;
    folders.Program = environment.ProgramPath.substr(0, environment.ProgramPath.rfind('/'));
    folders.AppSettings = base(environment.XdgConfigHome, "/.config");
    folders.UserSettings = base(environment.XdgDataHome, "/.local/share");
    folders.State = base(environment.XdgStateHome, "/.local/state");
    return folders;
}

// --help: the text in the user's language on standard output.
int PrintHelp()
{
    const ZT::CApplicationFolders folders(ZT::CApplicationFolders::Environment::FromProcess(),
                                          ZT::WString(ZT_COMPANY_NAME), ZT::WString(ZT_PRODUCT_NAME));
    const ZT::WString location = CStartupResources::ChooseLocation(
        std::getenv(CStartupResources::kFolderVariable), folders.GetFolder(ZT::CApplicationFolders::kResourceFolder));
    const ZT::RCPtr<ZT::LResourceSet> texts = CStartupResources::LoadTexts(location, ZT::CLocaleId::FromEnvironment());
    const std::string text = CHelpText::Format(texts.Get(), ZT_PROGRAM_NAME, HelpFolders(folders.GetEnvironment()));
    return std::fwrite(text.data(), 1, text.size(), stdout) == text.size() && std::fflush(stdout) == 0 ? 0 : 1;
}

std::string Upper(std::string text)
{
    for (char& c : text)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return text;
}

void WriteToStandardError(std::string_view bytes)
{
    std::fwrite(bytes.data(), 1, bytes.size(), stderr);
    std::fflush(stderr);
}

// Whether the environment names a display for a window at all.
bool EnvironmentNamesDisplay()
{
    const auto set = [](const char* name) {
        const char* value = std::getenv(name);
        return value && *value;
    };
    return set("DISPLAY") || set("WAYLAND_DISPLAY");
}

// The window module (see MainWindow.h), loaded beside the program file and kept to the end of
// the process (SDL and Pango keep state that outlives the window).
//
// Loading it maps some seventy libraries, which takes about as long as the processor's first
// scan: a run that will show the window starts the load on a thread of its own (StartLoading)
// while the processor scans, and the first lookup waits for it. Without that start, the first
// lookup loads it on the calling thread.
//
// Threads: StartLoading, Find and the destructor are the main thread's. The loader thread writes
// mHandle and mLoadError only; the main thread reads them after joining it, never before.
class CWindowModule {
public:
    CWindowModule() = default;
    CWindowModule(const CWindowModule&) = delete;
    CWindowModule& operator=(const CWindowModule&) = delete;
    // Every path out of the run passes here: a load still running is waited for, not abandoned.
    ~CWindowModule() { WaitForLoader(); }

    void StartLoading()
    {
        if (mLoadStarted)
            return;
        mLoadStarted = true;
        try {
            mLoader = std::thread([this] { Load(); });
        } catch (const std::system_error&) {
            // No thread to be had: the first lookup loads the module itself.
            mLoadStarted = false;
        }
    }

    // The module's entry, or null with the reason in error.
    template <class Function>
    Function Find(const char* name, std::string& error)
    {
        WaitForLoader();
        if (!mLoadStarted) {
            mLoadStarted = true;
            Load();
        }
        if (!mHandle) {
            error = mLoadError;
            return nullptr;
        }
        void* const symbol = ::dlsym(mHandle, name);
        if (!symbol)
            error = std::string("the window module has no ") + name;
        return reinterpret_cast<Function>(symbol);
    }

private:
    void WaitForLoader()
    {
        if (mLoader.joinable())
            mLoader.join();
    }

    // On the loader thread or, without one, on the main thread; dlerror is read on the same
    // thread as the dlopen it explains.
    void Load()
    {
        char program[4096];
        const ssize_t length = ::readlink("/proc/self/exe", program, sizeof program - 1);
        std::string folder = ".";
        if (length > 0) {
            folder.assign(program, static_cast<std::size_t>(length));
            folder = folder.substr(0, folder.rfind('/'));
        }
        const std::string path = folder + "/" + ZT_WINDOW_MODULE;
        // Lazily: the libraries the module brings bind their functions at the first call, as in
        // any program that links them, instead of all of them now. The module itself is linked
        // to bind at once (-z now), so a name it lacks still fails this call, with its name.
        mHandle = ::dlopen(path.c_str(), RTLD_LAZY | RTLD_LOCAL);
        if (!mHandle) {
            const char* why = ::dlerror();
            mLoadError = "the window module cannot be loaded: " + std::string(why ? why : path);
        }
    }

    bool mLoadStarted = false;
    std::thread mLoader;
    void* mHandle = nullptr;
    std::string mLoadError;
};

// The simulator when the command line asks for it; the real USB and MIDI backends otherwise.
std::optional<SimulatedDevicesSetup> ReadSimulatorOption(const ZT::WString& commandLine)
{
    ZT::WString value;
    if (CommandLineOption::Get(commandLine, ZT::WString(kSimulateDevicesValue), value))
        return SimulatedDevicesSetup::Parse(value.ToUTF8());
    if (CommandLineOption::Get(commandLine, ZT::WString(kSimulateDevicesFlag), value))
        return SimulatedDevicesSetup::Parse("");
    return std::nullopt;
}

const char* QueryStatusMeaning(std::int32_t status)
{
    switch (status) {
    case LUpdateProcessor::kStatusNoUsableDevice:
        return "no device that can be updated was found";
    case LUpdateProcessor::kStatusInUpdateModeNotNeeded:
        return "the device is in update mode; no update needed";
    case LUpdateProcessor::kStatusInUpdateModeNeeded:
        return "the device is in update mode; an update is needed";
    case LUpdateProcessor::kStatusNormalModeNotNeeded:
        return "the device is up to date";
    case LUpdateProcessor::kStatusNormalModeNeeded:
        return "an update is needed";
    default:
        return "the device's state was not decided";
    }
}

// The last lines a person sees on the debug console: what became of each device, then the
// "Finished: ..." line.
void ReportOutcome(const LApplication& application, bool queryMode)
{
    if (queryMode) {
        const std::int32_t status = LUpdateProcessor::GetExitStatus();
        ZT::CDebugLine() << "Exit status " << status << ": " << QueryStatusMeaning(status) << ".";
        return;
    }
    const LUpdateSequence* const run = application.GetSequence().Get();
    if (!run) {
        ZT::DebugLine("Finished: nothing was updated.");
        return;
    }
    for (const std::string& line : run->GetSummaryLines())
        ZT::DebugLine(line);
    const LUpdateSequence::Summary summary = run->GetSummary();
    if (summary.Failed > 0) {
        ZT::CDebugLine() << "Finished: " << summary.Succeeded << " device(s) updated, " << summary.Failed
                         << " update(s) failed.";
        return;
    }
    if (summary.Succeeded > 0) {
        ZT::CDebugLine() << "Finished: " << summary.Succeeded << " device(s) updated.";
        return;
    }
    ZT::DebugLine("Finished: nothing was updated.");
}

// --json: the query's answer as one JSON object on standard output.
void PrintQueryJson(const ZT::CApplicationFolders& folders)
{
    const ZT::RCPtr<LDualUpdater> dual = LDualUpdater::GetInstance();
    const LDualUpdater::ProbeResult probe = dual ? dual->GetProbeResult() : LDualUpdater::ProbeResult{};
    const std::string& program = folders.GetEnvironment().ProgramPath;
    const std::int32_t status = LUpdateProcessor::GetExitStatus();
    const std::string text = CQueryStatusJson::Format(
        CQueryStatusJson::FromProbe(probe, program.substr(0, program.rfind('/'))), status, QueryStatusMeaning(status));
    std::fwrite(text.data(), 1, text.size(), stdout);
    std::fflush(stdout);
}

int RunUpdater(const std::string& commandLine)
{
    const ZT::WString wideCommandLine(commandLine.c_str());
    const bool queryMode = [&] {
        ZT::WString ignored;
        return CommandLineOption::Get(wideCommandLine, ZT::WString(CommandLineOption::kReturnUpdateModeStatus), ignored);
    }();
    const bool jsonRequested = [&] {
        ZT::WString ignored;
        return CommandLineOption::Get(wideCommandLine, ZT::WString(CommandLineOption::kJson), ignored);
    }();
    // Before any thread exists, so that every thread inherits the blocked signals.
    std::optional<ZT::CTerminationSignals> signals;
    if (!queryMode)
        signals.emplace();
    // The status a signal asks for once the run has ended safely; the query's or 0 otherwise.
    std::optional<int> windowFailure;
    const auto exitStatus = [&signals, &windowFailure] {
        if (signals && signals->GetFirstSignal() != 0)
            return ZT::CTerminationSignals::ExitStatusFor(signals->GetFirstSignal());
        if (windowFailure)
            return *windowFailure;
        return static_cast<int>(LUpdateProcessor::GetExitStatus());
    };

    // The debug-output switch, looked for in an upper-cased copy of the command line.
    ZT::ApplyDebugConsoleSwitch(Upper(commandLine));
    std::unique_ptr<CProgressPrinter> printer;
    std::unique_ptr<CPrinterLogStreams> logStreams;
    ZT::DebugOutput& debugOutput = ZT::DebugOutput::Instance();
    if (debugOutput.IsConsoleOpen()) {
        const auto style = ::isatty(STDERR_FILENO) ? CProgressPrinter::Style::Terminal : CProgressPrinter::Style::Lines;
        printer = std::make_unique<CProgressPrinter>(style, WriteToStandardError);
        logStreams = std::make_unique<CPrinterLogStreams>(*printer);
        debugOutput.SetLogStreams(logStreams->Narrow(), logStreams->Wide());
    }
    // Single instance: a second copy hands its command line to a first copy's window and ends
    // (having written nothing). The name stays bound while instance lives, to the end of the run.
    // After the debug switch, so that a name held by someone else is named on the console.
    const std::string instanceName = ZT::CSingleInstance::SocketName(LApplication::GetWindowClassName());
    ZT::CSingleInstance instance(instanceName);
    if (!instance.Claim() && ZT::CSingleInstance::HandOverCommandLine(instanceName, commandLine))
        return 0;

    ZT::CDebugLine() << ZT_COMPANY_NAME << " " << ZT_PRODUCT_NAME << " " << ZT_PRODUCT_VERSION;

    const ZT::CApplicationFolders folders(ZT::CApplicationFolders::Environment::FromProcess(),
                                          ZT::WString(ZT_COMPANY_NAME), ZT::WString(ZT_PRODUCT_NAME));
    // Which bootloader is which device, kept for a later run that finds both in update mode.
    CBootloaderRoleRecord::SetFolder(folders.GetStateFolder().ToUTF8());
    CUpdateHistory::SetFolder(folders.GetStateFolder().ToUTF8());
    // Query mode and -SILENT show no window: they load neither the skin nor, unless a text is
    // shown, the string tables. A run with a window loads both once the processor has left the
    // run to the window, or at once for a person on the debug console (a skin author trying a
    // folder), who then sees what the loader could not use before anything else happens.
    const bool windowless = queryMode || [&] {
        ZT::WString ignored;
        return CommandLineOption::Get(wideCommandLine, ZT::WString(CommandLineOption::kSilent), ignored);
    }();
    // A window takes the user's whole locale for its texts and what the libraries below it
    // format; numbers stay in the C form, since the log lines are read by scripts too. Windowless
    // runs, whose output scripts read, do not spend the time to load the other categories.
    if (!windowless) {
        (void)std::setlocale(LC_ALL, ""); // an unknown locale leaves the C one
        (void)std::setlocale(LC_NUMERIC, "C"); // "C" always exists
    }
    const ZT::WString resourceLocation = CStartupResources::ChooseLocation(
        std::getenv(CStartupResources::kFolderVariable), folders.GetFolder(ZT::CApplicationFolders::kResourceFolder));
    const std::uint32_t lcid = ZT::CLocaleId::FromEnvironment();
    ZT::RCPtr<ZT::LControlFactory> factory;
    ZT::RCPtr<ZT::LResourceSet> texts;
    bool textsTried = false;
    // The tables for a text about to be shown: the factory's when start-up loaded them, else read
    // now, once; null when they cannot be read (the English texts serve).
    const auto shownTexts = [&]() -> const ZT::LResourceSet* {
        if (factory)
            return factory->GetResources().Get();
        if (!textsTried) {
            textsTried = true;
            texts = CStartupResources::LoadTexts(resourceLocation, lcid);
        }
        return texts.Get();
    };
    CWindowModule windowModule;
    // What a person reads when the program cannot start: the user's language, the technical
    // detail below it.
    const auto showStartupError = [&](const ZT::WString& text, const std::string& detail) {
        const std::string line = std::string(ZT_PROGRAM_NAME) + ": " + text.ToUTF8() + "\n" + detail;
        ZT::DebugLine(line);
        if (!debugOutput.IsConsoleOpen())
            std::fprintf(stderr, "%s\n", line.c_str());
        // A run that would show a window tells a person at the display too (SDL reaches the
        // display for the box by itself; nothing was started for it).
        std::string moduleError;
        const auto showBox = !windowless && EnvironmentNamesDisplay()
                                 ? windowModule.Find<ZtShowErrorBoxFunction>("ZtShowErrorBox", moduleError)
                                 : nullptr;
        if (showBox) {
            const ZT::LResourceSet* const resources = shownTexts();
            const ZT::WString caption = resources ? resources->GetText(ZT::WString(ZT::LResourceSet::kFrameworkTableId),
                                                                       ZT::WString(L"STARTUP_ERROR_CAPTION"), ZT::WString(L"Error"))
                                                  : ZT::WString(L"Error");
            (void)showBox(caption.ToUTF8().c_str(), text.ToUTF8().c_str()); // the error is logged above already
        }
    };
    // A run that will try to show the window has its module loaded while the processor scans.
    // Only after the single-instance check (a second copy hands over and ends) and the signal
    // thread (this thread inherits the blocked signals).
    if (!windowless) {
        // The scan's first notifications would otherwise wait for the whole load (see there).
        ZT::PrepareThreadForNotifications();
        windowModule.StartLoading();
    }
    // Loaded once the debug console is open, so that a skin author sees on the terminal what the
    // loader could not use.
    if (!windowless && debugOutput.IsConsoleOpen()) {
        try {
            factory = CStartupResources::Load(resourceLocation, lcid);
        } catch (const std::exception& error) {
            showStartupError(CStartupResources::StartupErrorText(nullptr), error.what());
            if (logStreams)
                debugOutput.UseDebugStreams();
            return exitStatus();
        }
    }

    const std::optional<SimulatedDevicesSetup> simulation = ReadSimulatorOption(wideCommandLine);
    ZT::RCPtr<LDeviceSimulator> simulator;
    if (simulation) {
        std::string message;
        simulator = simulation->CreateSimulator(message);
        // A device that holds its answer (the hold fault) says so: a test ends the run there.
        simulator->SetHoldHook([](const std::string& text) { ZT::DebugLine("Simulator: " + text + "."); });
        simulator->Install();
        for (const std::string& item : simulation->Unrecognised)
            ZT::CDebugLine() << "Simulator: ignoring \"" << item << "\"";
        if (!message.empty())
            ZT::DebugLine(message);
    } else {
        ZT::SetUsbBackend(ZT::MakeRC<ZT::LLinuxUsbBackend>());
        ZT::SetMidiOutputBackend(ZT::MakeRC<ZT::LAlsaMidiOutputBackend>());
    }

    {
        auto application = ZT::MakeRC<LApplication>(wideCommandLine, folders, ZT::WString(ZT_COMPANY_NAME),
                                                    ZT::WString(ZT_PRODUCT_NAME), printer.get());
        application->SetControlFactory(factory);
        application->SetTerminationSignals(signals ? &*signals : nullptr);
        try {
            const ZT::ZTRESULT result = application->Startup();
            if (ZT::Failed(result) && !LApplication::IsQuitResult(result)) {
                showStartupError(CStartupResources::StartupErrorText(shownTexts(), result),
                                 "Start-up ended with " + ZT::ResultToText(result) + ".");
            } else {
                // What start-up found and did, for a person on the debug console.
                LCommandLineRun::DeliverNotifications();
                if (!LApplication::IsQuitResult(result)) {
                    if (windowless) {
                        // What a window would have shown is over once a download that start-up
                        // began has ended.
                        application->FinishWithoutWindow();
                    } else {
                        if (!factory)
                            factory = CStartupResources::Load(resourceLocation, lcid);
                        application->SetControlFactory(factory);
                        application->SetResourceLocation(resourceLocation);
                        application->SetLocaleId(lcid);
                        CMainWindow::Result shown;
                        std::string moduleError;
                        if (const auto run = windowModule.Find<ZtRunMainWindowFunction>("ZtRunMainWindow", moduleError))
                            run(application.Get(), &instance, &shown);
                        else
                            shown = {CMainWindow::Outcome::StartupError, moduleError};
                        if (shown.mOutcome == CMainWindow::Outcome::NoDisplay) {
                            windowFailure = kNoWindowStatus;
                            const std::string line = std::string(ZT_PROGRAM_NAME) + ": the window cannot show: " +
                                                     shown.mDetail + ". Run with -SILENT to update without a window.";
                            ZT::DebugLine(line);
                            if (!debugOutput.IsConsoleOpen())
                                std::fprintf(stderr, "%s\n", line.c_str());
                        } else if (shown.mOutcome == CMainWindow::Outcome::StartupError) {
                            windowFailure = kNoWindowStatus;
                            showStartupError(CStartupResources::StartupErrorText(shownTexts()), shown.mDetail);
                        }
                        // What a download the window left running does is over before the end.
                        application->FinishWithoutWindow();
                    }
                }
                ReportOutcome(*application, queryMode);
            }
        } catch (const std::exception& error) {
            // Shown whether or not the debug console is open: the run could not do its job.
            showStartupError(CStartupResources::StartupErrorText(shownTexts()), error.what());
        }
        // A script that asked for the JSON object gets one however the query ended.
        if (queryMode && jsonRequested)
            PrintQueryJson(folders);
        application->Shutdown();
    }
    LDualUpdater::ReleaseInstance();

    if (simulation && simulator) {
        std::string message;
        if (!simulation->SaveState(*simulator, message) || !message.empty())
            ZT::DebugLine(message);
        ZT::SetUsbBackend(nullptr);
        ZT::SetMidiOutputBackend(nullptr);
    }
    if (signals && signals->GetFirstSignal() != 0)
        ZT::CDebugLine() << "Ended after " << ZT::CTerminationSignals::Name(signals->GetFirstSignal())
                         << ": exit status " << exitStatus() << ".";
    if (logStreams)
        debugOutput.UseDebugStreams();
    return exitStatus();
}

} // namespace

int main(int argc, char** argv)
{
    if (argc == 2 && std::strcmp(argv[1], "--version") == 0) {
        std::printf("%s %s\n", ZT_PRODUCT_NAME, ZT_PRODUCT_VERSION);
        return 0;
    }
    // The user's character set, for file names and texts converted between UTF-8 and wide
    // strings. The rest of the locale is taken only by a run that shows its window (RunUpdater).
    (void)std::setlocale(LC_CTYPE, "");
    // A closed output (a pipe into `head`, a terminal that went away) must never end an update:
    // writes to it fail with EPIPE instead, and the run goes on without them. Set before any
    // thread exists, so that every thread has it.
    (void)std::signal(SIGPIPE, SIG_IGN);
    for (int i = 1; i < argc; ++i) {
        if (CHelpText::IsHelpArgument(argv[i]))
            return PrintHelp();
    }
    return RunUpdater(JoinCommandLine(argc, argv));
}
