// The whole product update on simulated devices in real time (time factor 1): the controller, then
// the wheel display without user action, as the main control drives it.
//
// (a) Flash overhead: the wall time of the update against the least time the protocol allows on
//     these devices: per device the 1000 ms wait after the update-mode message and the
//     bootloader's appearance rounded up to the 500 ms search grid, the erase time of each sector
//     the image needs, each block's programming time rounded up to the 10 ms status polls, and
//     the device's return rounded up to the 500 ms polls after an update. Target: at most 1.02.
// (b) CPU while waiting: the process's CPU time over the same wall time. Nearly all of the update
//     is waiting for the device, which must cost no CPU. Target: below 0.02.
//
// A plain program: one update takes about 17 s, so there is nothing to repeat. It exits non-zero
// when a target is missed or the update did not write both images.

#include "FirmwareUpdater/Panel/Engine/ApplicationFolder.h"
#include "FirmwareUpdater/Panel/Engine/DualUpdater.h"
#include "FirmwareUpdater/Panel/Engine/DualUpdaterHost.h"
#include "FirmwareUpdater/Panel/Engine/ProductDevice.h"
#include "FirmwareUpdater/Panel/Engine/UpdateEngine.h"
#include "FirmwareUpdater/Panel/Engine/WaitForDeviceToReturn.h"
#include "Simulator/DeviceSimulator.h"
#include "Simulator/SimulatedFlash.h"
#include "tools/SimulationImagePlan.h"
#include "ZTFramework/Midi/MidiComm.h"
#include "ZTFramework/Midi/MidiOutputBackend.h"
#include "ZTFramework/Notification/NotificationCenterManager.h"
#include "ZTFramework/Usb/UsbBackend.h"

#include <chrono>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <string>
#include <unistd.h>

namespace {

using DeviceState = LUpdateEngineInterface::DeviceState;

// How often the engine asks a busy block for its status.
constexpr std::uint64_t kBlockPollMs = 10;
constexpr std::uint16_t kBlockSize = 2048;
// Longer than any update of this product; the worker is only waited for, never polled.
constexpr std::uint32_t kWorkerWaitMs = 120000;

std::uint64_t RoundUp(std::uint64_t value, std::uint64_t grid)
{
    return (value + grid - 1) / grid * grid;
}

// The least time one device's update can take with these timings: everything the protocol must
// wait for, and nothing else.
std::uint64_t ProtocolFloorMs(const ProductDevice& device, const DfuSeImage& image, const SimulatedDeviceTimings& timings)
{
    const std::uint64_t firstWait = LUpdateEngine::kModeSwitchFirstWaitMs;
    const std::uint64_t appearance =
        firstWait + RoundUp(timings.bootloaderAppearMs > firstWait ? timings.bootloaderAppearMs - firstWait : 0,
                            LUpdateEngine::kModeSwitchPollIntervalMs);

    std::uint64_t erase = 0;
    const std::uint64_t start = image.ElementAddress;
    const std::uint64_t end = start + image.ElementData.size();
    for (const std::uint32_t sector : device.EraseSectors) {
        if (sector < start)
            continue;
        if (sector >= end)
            break;
        const std::uint32_t size = LSimulatedFlash::SectorSize(*LSimulatedFlash::SectorIndexOf(sector));
        erase += size <= 16 * 1024 ? timings.erase16KiBMs : size <= 64 * 1024 ? timings.erase64KiBMs : timings.erase128KiBMs;
    }

    std::uint64_t write = 0;
    for (std::size_t offset = 0; offset < image.ElementData.size(); offset += kBlockSize) {
        const std::uint64_t length = std::min<std::size_t>(kBlockSize, image.ElementData.size() - offset);
        write += RoundUp((length * timings.blockWriteMs + kBlockSize - 1) / kBlockSize, kBlockPollMs);
    }

    const std::uint64_t back = RoundUp(timings.returnMs, kDeviceReturnPollIntervalMs);
    std::printf("  %-24ls floor %6.2f s: switch %.2f s, erase %.2f s, write %.2f s, return %.2f s\n",
                device.MidiPortName, (appearance + erase + write + back) / 1000.0, appearance / 1000.0, erase / 1000.0,
                write / 1000.0, back / 1000.0);
    return appearance + erase + write + back;
}

// The main control's part: "UPDATE FIRMWARE", and the same again when the dual updater goes on.
class MainControlStandIn final : public IDualUpdaterHost {
public:
    explicit MainControlStandIn(LUpdateEngine& engine) : mEngine(engine) {}

    void ContinueUpdateProcess() override
    {
        if (mEngine.GetDeviceState() == DeviceState::DeviceNotInUpdateMode)
            (void)mEngine.RequestUpdateMode(); // its outcome shows in the device state
        if (mEngine.GetDeviceState() == DeviceState::DeviceInUpdateMode && ZT::Succeeded(mEngine.StartUpdate()))
            ++mStarted;
    }
    bool HasLabel(const ZT::WString&) override { return false; }
    bool GetLabelString(const ZT::WString&, const ZT::WString&, ZT::WString&) override { return false; }
    void SetLabelText(const ZT::WString&, const ZT::WString&) override {}
    void HideButton(const ZT::WString&) override {}

    int mStarted = 0;

private:
    LUpdateEngine& mEngine;
};

double ProcessCpuSeconds()
{
    timespec cpu{};
    ::clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &cpu);
    return static_cast<double>(cpu.tv_sec) + static_cast<double>(cpu.tv_nsec) / 1e9;
}

bool FlashHolds(LSimulatedDevice& device, const DfuSeImage& image)
{
    return device.ReadFlash(image.ElementAddress, image.ElementData.size()) == image.ElementData;
}

bool Report(const char* label, double ratio, const char* comparison, double target)
{
    const bool met = std::string(comparison) == "<=" ? ratio <= target : ratio < target;
    std::printf("RATIO %s = %.4f (target %s %.2f): %s\n", label, ratio, comparison, target, met ? "met" : "MISSED");
    return met;
}

} // namespace

int main()
{
    const std::filesystem::path folder =
        std::filesystem::temp_directory_path() / ("xr4000-download-bench-" + std::to_string(::getpid()));
    std::filesystem::create_directories(folder);
    const DfuSeImage controllerImage = SimulationImagePlan::ForDevice(kControllerDevice).Build();
    const DfuSeImage displayImage = SimulationImagePlan::ForDevice(kWheelDisplayDevice).Build();
    for (const auto& [device, image] : {std::pair{&kControllerDevice, &controllerImage}, {&kWheelDisplayDevice, &displayImage}}) {
        const std::vector<std::uint8_t> bytes = image->ToBytes();
        std::ofstream(folder / device->FirmwareFileName, std::ios::binary)
            .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    }
    SetApplicationFolder(ZT::WString(folder.string().c_str()));

    // Real time: the simulator runs on its own real clock, the engine on the process's.
    const auto simulator = ZT::MakeRC<LDeviceSimulator>(1.0);
    const auto controller = simulator->AddDevice(SimulatedDeviceKind::Controller, 0x0030);
    const auto display = simulator->AddDevice(SimulatedDeviceKind::WheelDisplay, 0x0049);
    simulator->Install();

    bool done = false;
    double wallSeconds = 0.0;
    double cpuSeconds = 0.0;
    {
        const auto engine = ZT::MakeRC<LUpdateEngine>();
        engine->SetUpdateTarget(&LDualUpdater::GetUpdateTarget());
        engine->SetScanPreparer(&LDualUpdater::GetScanPreparer());
        (void)engine->Initialize(ZT::WString());
        MainControlStandIn host(*engine);
        LDualUpdater::SetHost(&host);

        const auto wallStart = std::chrono::steady_clock::now();
        const double cpuStart = ProcessCpuSeconds();
        if (ZT::Succeeded(engine->ScanForDevices()))
            host.ContinueUpdateProcess();
        // Each completion as the main control handles it: the device's return, then the dual
        // updater, which starts the next device's download itself.
        for (int handled = 0; handled < host.mStarted; ++handled) {
            if (ZT::Failed(engine->WaitForUpdate(kWorkerWaitMs)))
                break;
            const bool succeeded = engine->GetUpdateRunState(true) == LUpdateEngineInterface::UpdateRunState::Succeeded;
            if (succeeded)
                (void)WaitForDeviceToReturn(*engine); // the flash checks below tell whether it came back
            LDualUpdater::OnUpdateCompleted(*engine, succeeded);
        }
        cpuSeconds = ProcessCpuSeconds() - cpuStart;
        wallSeconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - wallStart).count();
        done = host.mStarted == 2 && engine->GetDeviceState() == DeviceState::DeviceNotInUpdateMode;

        LDualUpdater::SetHost(nullptr);
        LDualUpdater::ReleaseInstance();
    }
    (void)ZT::LNotificationCenterManager::GetInstance()->ProcessAllQueues(false);
    ZT::LMidiComm::GetInstance()->CloseAllRenderPorts();
    ZT::SetUsbBackend(nullptr);
    ZT::SetMidiOutputBackend(nullptr);
    SetApplicationFolder(ZT::WString());
    std::error_code ignored;
    std::filesystem::remove_all(folder, ignored);

    const bool flashed = FlashHolds(*controller, controllerImage) && FlashHolds(*display, displayImage);
    if (!done || !flashed) {
        std::printf("the update did not complete: %s\n", flashed ? "the devices did not come back" : "an image is missing");
        return 1;
    }

    std::printf("Two-device update on simulated devices, time factor 1\n");
    const double floorSeconds = (ProtocolFloorMs(kControllerDevice, controllerImage, controller->GetTimings()) +
                                 ProtocolFloorMs(kWheelDisplayDevice, displayImage, display->GetTimings())) /
                                1000.0;
    std::printf("  wall %.3f s, protocol floor %.3f s, overhead %.0f ms; CPU %.3f s\n", wallSeconds, floorSeconds,
                (wallSeconds - floorSeconds) * 1000.0, cpuSeconds);
    bool met = Report("flash overhead: wall / protocol floor", wallSeconds / floorSeconds, "<=", 1.02);
    met = Report("CPU while waiting: process CPU / wall", cpuSeconds / wallSeconds, "<", 0.02) && met;
    return met ? 0 : 1;
}
