// updater-screenshots: draws the updater's window in each of its view states, and its ready
// state in each shipped language, into PNG files, without a display.
//
//     updater-screenshots OUTPUT-FOLDER [--scale N]
//
// Each picture is the real main control from the built-in skin and string tables, on simulated
// devices in virtual time, driven to its state the way a user gets there (a click on UPDATE
// FIRMWARE, a device pulled during the download, a spoilt firmware file) and painted as the
// window paints it. Writes <state>.png and ready-<lcid>.png; exit status 0, or 1 with what went
// wrong on stderr (the pictures made so far stay).

#include "FirmwareUpdater/Panel/Engine/UpdateProcessor.h"
#include "FirmwareUpdater/Panel/UI/ControlNames.h"
#include "FirmwareUpdater/Panel/UI/MainControl.h"
#include "Simulator/SimulatedDeviceFaults.h"
#include "tools/UpdaterScreenshots/UpdaterScene.h"

#include <cstdio>
#include <cstdlib>
#include <exception>
#include <filesystem>
#include <fstream>
#include <chrono>
#include <functional>
#include <thread>
#include <iostream>
#include <string>
#include <vector>

namespace {

using UpdaterScene::CScene;
using UpdaterScene::DeviceState;
namespace Names = MainControlNames;

struct Shot {
    std::string mName;
    std::uint32_t mLcid;
    // Adds the devices and drives the scene to the state; calls take() where the picture is due
    // (it may be called from inside a blocking step). Empty, or what went wrong.
    std::function<std::string(CScene&, const std::function<void()>& take)> mDrive;
};

// The older pair: both devices need their image.
void AddOlderPair(CScene& scene)
{
    scene.AddController(0x0030);
    scene.AddDisplay(0x0049);
}

std::string Open(CScene& scene)
{
    std::string error = scene.MakeControl();
    return error.empty() ? scene.AttachOwnRootWindow() : error;
}

// Opens, clicks UPDATE FIRMWARE and lets the update run to its end.
std::string OpenClickAndSettle(CScene& scene)
{
    if (std::string error = Open(scene); !error.empty())
        return error;
    if (std::string error = scene.Click(Names::kButtonUpdateFirmware); !error.empty())
        return error;
    return scene.RunUntilSettled();
}

std::string ReadyIn(CScene& scene, const std::function<void()>& take)
{
    AddOlderPair(scene);
    if (std::string error = Open(scene); !error.empty())
        return error;
    take();
    return {};
}

std::vector<Shot> Shots()
{
    std::vector<Shot> shots = {
        {"no-device", 0x0409,
         [](CScene& scene, const auto& take) {
             if (std::string error = Open(scene); !error.empty())
                 return error;
             take();
             return std::string();
         }},
        {"scanning", 0x0409,
         [](CScene& scene, const auto& take) {
             AddOlderPair(scene);
             if (std::string error = Open(scene); !error.empty())
                 return error;
             // The scan itself never waits, so the view is shown for the state the engine reports
             // while it lists the bus.
             scene.Main()->RefreshControls(scene.Engine().GetUpdateRunState(false), DeviceState::Scanning,
                                           scene.Engine().GetFirmwareFileState());
             take();
             return std::string();
         }},
        {"ready", 0x0409, ReadyIn},
        {"downgrade", 0x0409,
         [](CScene& scene, const auto& take) {
             scene.AddController(0x0031);
             scene.AddDisplay(0x0050);
             if (std::string error = Open(scene); !error.empty())
                 return error;
             (void)scene.Processor().SetAlwaysUpdate(true); // returns whether it was unchanged
             scene.Main()->RefreshFromEngine();
             take();
             return std::string();
         }},
        {"transitioning", 0x0409,
         [](CScene& scene, const auto& take) {
             AddOlderPair(scene);
             if (std::string error = Open(scene); !error.empty())
                 return error;
             // The worker stands still in the switch, with the transition text on screen.
             scene.StepDownloads(true);
             if (std::string error = scene.Click(Names::kButtonUpdateFirmware); !error.empty())
                 return error;
             const auto giveUp = std::chrono::steady_clock::now() + std::chrono::seconds(30);
             while (!scene.IsHeld() && std::chrono::steady_clock::now() < giveUp)
                 std::this_thread::yield();
             if (!scene.IsHeld())
                 return std::string("the switch into update mode never waited");
             scene.Deliver();
             take();
             scene.StepDownloads(false);
             scene.Release();
             return scene.RunUntilSettled();
         }},
        {"updating", 0x0409,
         [](CScene& scene, const auto& take) {
             AddOlderPair(scene);
             if (std::string error = Open(scene); !error.empty())
                 return error;
             scene.StepDownloads(true);
             if (std::string error = scene.Click(Names::kButtonUpdateFirmware); !error.empty())
                 return error;
             if (!scene.RunDownloadTo(1.0 / 3.0))
                 return std::string("the download ended before the bar showed a third");
             take();
             scene.StepDownloads(false);
             scene.Release();
             return scene.RunUntilSettled();
         }},
        {"failed-device-access", 0x0409,
         [](CScene& scene, const auto& take) {
             SimulatedDeviceFaults faults;
             faults.unplugAfterBlocks = 12;
             scene.AddController(0x0030)->SetFaults(faults);
             scene.AddDisplay(0x0050);
             std::string error = OpenClickAndSettle(scene);
             take();
             return error;
         }},
        // The line under the failure text names the block, its address and the bootloader's status.
        {"failed-stalled-block", 0x0409,
         [](CScene& scene, const auto& take) {
             SimulatedDeviceFaults faults;
             faults.stallAfterBlocks = 5;
             scene.AddController(0x0030)->SetFaults(faults);
             scene.AddDisplay(0x0050);
             std::string error = OpenClickAndSettle(scene);
             take();
             return error;
         }},
        {"failed-file-access", 0x0409,
         [](CScene& scene, const auto& take) {
             AddOlderPair(scene);
             if (std::string error = Open(scene); !error.empty())
                 return error;
             // The file was read at the start; it is spoilt before the update (a full disk, a
             // copy that was cut).
             std::ofstream(scene.ControllerFilePath(), std::ios::binary | std::ios::trunc) << "DfuSe cut short";
             if (std::string error = scene.Click(Names::kButtonUpdateFirmware); !error.empty())
                 return error;
             std::string error = scene.RunUntilSettled();
             take();
             return error;
         }},
        {"failed-no-update-mode", 0x0409,
         [](CScene& scene, const auto& take) {
             SimulatedDeviceFaults faults;
             faults.bootloaderNeverAppears = true;
             scene.AddController(0x0030)->SetFaults(faults);
             scene.AddDisplay(0x0050);
             std::string error = OpenClickAndSettle(scene);
             take();
             return error;
         }},
        {"success-unknown", 0x0409,
         [](CScene& scene, const auto& take) {
             // The controller is written but never comes back: TRY AGAIN beside NEXT.
             SimulatedDeviceFaults faults;
             faults.noReturnAfterLeave = true;
             scene.AddController(0x0030)->SetFaults(faults);
             scene.AddDisplay(0x0050);
             std::string error = OpenClickAndSettle(scene);
             take();
             return error;
         }},
        {"cancelled", 0x0409,
         [](CScene& scene, const auto& take) {
             SimulatedDeviceFaults faults;
             faults.bootloaderNeverAppears = true;
             scene.AddController(0x0030)->SetFaults(faults);
             scene.AddDisplay(0x0050);
             bool clicked = false;
             std::string clickError;
             // CANCEL at the first wait for the bootloader.
             scene.mOnUiSleep = [&] {
                 if (!clicked && scene.Engine().GetDeviceState() == DeviceState::EnteringUpdateMode) {
                     clicked = true;
                     clickError = scene.Click(Names::kButtonAbort);
                 }
             };
             std::string error = OpenClickAndSettle(scene);
             scene.mOnUiSleep = nullptr;
             take();
             if (!clicked)
                 return std::string("the switch into update mode never waited");
             return !clickError.empty() ? clickError : error;
         }},
        {"no-file", 0x0409,
         [](CScene& scene, const auto& take) {
             // The controller's firmware file is missing: OPEN FILE.
             AddOlderPair(scene);
             std::filesystem::remove(scene.ControllerFilePath());
             if (std::string error = Open(scene); !error.empty())
                 return error;
             take();
             return std::string();
         }},
        {"updated", 0x0409,
         [](CScene& scene, const auto& take) {
             scene.AddController(0x0030);
             scene.AddDisplay(0x0050);
             std::string error = OpenClickAndSettle(scene);
             take();
             return error;
         }},
        {"updated-both", 0x0409,
         [](CScene& scene, const auto& take) {
             AddOlderPair(scene);
             std::string error = OpenClickAndSettle(scene);
             take();
             return error;
         }},
    };
    // The shipped languages: English, German, French, Spanish, Japanese.
    for (const std::uint32_t lcid : {0x0409u, 0x0407u, 0x040Cu, 0x040Au, 0x0411u}) {
        char name[32];
        std::snprintf(name, sizeof name, "ready-%04X", lcid);
        shots.push_back({name, lcid, ReadyIn});
    }
    return shots;
}

int Fail(const std::string& message)
{
    std::cerr << "updater-screenshots: " << message << "\n";
    return 1;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc < 2 || argv[1][0] == '-')
        return Fail("usage: updater-screenshots OUTPUT-FOLDER [--scale N]");
    const std::filesystem::path folder = argv[1];
    int scale = 1;
    if (argc == 4 && std::string(argv[2]) == "--scale")
        scale = std::atoi(argv[3]);
    else if (argc != 2)
        return Fail("usage: updater-screenshots OUTPUT-FOLDER [--scale N]");
    if (scale < 1 || scale > 4)
        return Fail("the scale must be 1 to 4");
    std::error_code made;
    std::filesystem::create_directories(folder, made);
    if (made)
        return Fail("cannot make " + folder.string() + ": " + made.message());

    int failures = 0;
    for (const Shot& shot : Shots()) {
        const std::string& name = shot.mName;
        const std::string path = (folder / (name + ".png")).string();
        try {
            CScene scene(shot.mLcid);
            std::string paintError;
            bool painted = false;
            const std::string error = shot.mDrive(scene, [&] {
                paintError = scene.WritePng(path, scale);
                painted = true;
            });
            if (!error.empty() || !paintError.empty() || !painted) {
                ++failures;
                // Counted in failures.
                (void)Fail(name + ": " + (!error.empty() ? error : !paintError.empty() ? paintError : "no picture was due"));
                continue;
            }
            std::cout << path << "\n";
        } catch (const std::exception& error) {
            ++failures;
            (void)Fail(name + ": " + error.what()); // counted in failures
        }
    }
    return failures == 0 ? 0 : 1;
}
