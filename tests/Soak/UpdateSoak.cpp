// Many consecutive two-device updates in one process, in virtual time, through the update
// sequence on the simulated pair: what a long-lived updater (or a production line running it
// over and over) does, with the faults a real bus has.
//
// Every cycle the factory puts older firmware back into both devices (alternately two older
// releases), the product files alternate between two builds of the current release (different
// payloads), and one fault drawn from the seed is given to one device for the first attempt (or
// none). A faulted cycle is followed by plain reruns until both devices hold the new images, at
// most kMaxReruns times; before each the fault is gone and the user power-cycles a device that is
// off the bus (from the second rerun on, one in its bootloader too). Checked:
//   - every cycle recovers: each flash equals its own image of the cycle, both devices run their
//     application and report the product's release, the dual updater's probe agrees;
//   - no device is ever written with the other device's image, after any attempt;
//   - resident memory after cycle kWarmUpCycles grows by at most kRssLimitBytes.
// The process exits 0 when all held and prints one summary line; 1 with the first broken check.
//
//   soak_update [--cycles N] [--seed S] [--rss-limit-kib K] [--no-rss-check]

#include "FirmwareUpdater/Panel/Engine/ApplicationFolder.h"
#include "FirmwareUpdater/Panel/Engine/BootloaderRoleRecord.h"
#include "FirmwareUpdater/Panel/Engine/DualUpdater.h"
#include "FirmwareUpdater/Panel/Engine/DualUpdaterHost.h"
#include "FirmwareUpdater/Panel/Engine/ProductDevice.h"
#include "FirmwareUpdater/Panel/Engine/UpdateEngine.h"
#include "FirmwareUpdater/Panel/Engine/UpdateSequence.h"
#include "Simulator/DeviceSimulator.h"
#include "Simulator/SimulatedDevice.h"
#include "Simulator/SimulatedDeviceFaults.h"
#include "ZTFramework/Midi/MidiComm.h"
#include "ZTFramework/Midi/MidiOutputBackend.h"
#include "ZTFramework/Notification/NotificationCenterManager.h"
#include "ZTFramework/Time/Clock.h"
#include "ZTFramework/Time/VirtualClock.h"
#include "ZTFramework/Usb/UsbBackend.h"
#include "tests/Soak/SoakFaults.h"
#include "tests/ZTFramework/Utilities/Storage/TempFolder.h"
#include "tools/SimulationImagePlan.h"

#include <unistd.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <mutex>
#include <optional>
#include <random>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

namespace {

constexpr std::uint32_t kMaxReruns = 3;
constexpr std::uint32_t kWarmUpCycles = 10;
constexpr std::uint64_t kDefaultRssLimitBytes = 1024 * 1024;
constexpr std::size_t kBlockBytes = 2048;

// Resident memory of this process, in bytes.
std::uint64_t ResidentBytes()
{
    std::ifstream statm("/proc/self/statm");
    std::uint64_t sizePages = 0;
    std::uint64_t residentPages = 0;
    statm >> sizePages >> residentPages;
    return residentPages * static_cast<std::uint64_t>(::sysconf(_SC_PAGESIZE));
}

std::string Hex(std::uint64_t value, int digits = 8)
{
    char text[24];
    std::snprintf(text, sizeof text, "0x%0*llX", digits, static_cast<unsigned long long>(value));
    return text;
}

// What the front ends' loops do for the sequence: deliver, keep one timer, continue for the dual
// updater.
class SoakHost final : public IUpdateSequenceHost, public IDualUpdaterHost {
public:
    void Tell(const std::string& line) override
    {
        std::lock_guard lock(mMutex);
        mLines += line + "\n";
    }
    void OnStep(Step) override {}
    void SetTimer(std::uint32_t ms) override { mTimerDueMs = ZT::GetClock().NowMs() + ms; }

    void ContinueUpdateProcess() override
    {
        if (mSequence)
            (void)mSequence->Start();
    }
    bool HasLabel(const ZT::WString&) override { return false; }
    bool GetLabelString(const ZT::WString&, const ZT::WString&, ZT::WString&) override { return false; }
    void SetLabelText(const ZT::WString&, const ZT::WString&) override {}
    void HideButton(const ZT::WString&) override {}

    std::string TakeLines()
    {
        std::lock_guard lock(mMutex);
        return std::exchange(mLines, std::string());
    }

    LUpdateSequence* mSequence = nullptr;
    std::optional<std::uint64_t> mTimerDueMs;

private:
    std::mutex mMutex;
    std::string mLines;
};

struct Options {
    std::uint32_t cycles = 1000;
    std::uint32_t seed = 20261207;
    std::uint64_t rssLimitBytes = kDefaultRssLimitBytes;
    bool checkRss = true;
};

bool ParseOptions(int argc, char** argv, Options& options)
{
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const bool hasValue = i + 1 < argc;
        char* end = nullptr;
        if (arg == "--cycles" && hasValue) {
            options.cycles = static_cast<std::uint32_t>(std::strtoul(argv[++i], &end, 10));
        } else if (arg == "--seed" && hasValue) {
            options.seed = static_cast<std::uint32_t>(std::strtoul(argv[++i], &end, 10));
        } else if (arg == "--rss-limit-kib" && hasValue) {
            options.rssLimitBytes = std::strtoull(argv[++i], &end, 10) * 1024;
        } else if (arg == "--no-rss-check") {
            options.checkRss = false;
            continue;
        } else {
            std::fprintf(stderr, "soak: unknown option or missing value: %s\n"
                                 "usage: soak_update [--cycles N] [--seed S] [--rss-limit-kib K] [--no-rss-check]\n",
                         arg.c_str());
            return false;
        }
        if (end == nullptr || *end != '\0') {
            std::fprintf(stderr, "soak: %s needs a decimal number, not \"%s\"\n", arg.c_str(), argv[i]);
            return false;
        }
    }
    return true;
}

// One device of the pair with what the cycles give it.
struct Unit {
    const ProductDevice* product = nullptr;
    ZT::RCPtr<LSimulatedDevice> device;
    std::array<DfuSeImage, 2> newImages;  // the current release, two payloads
    std::array<DfuSeImage, 2> oldImages;  // two older releases
    const char* name = "";
};

// A release number n steps older, in the binary-coded decimal of the version text ("00.29"
// before "00.30").
std::uint16_t OlderRelease(std::uint16_t release, unsigned steps)
{
    unsigned value = 0;
    for (int shift = 12; shift >= 0; shift -= 4)
        value = value * 10 + ((release >> shift) & 0xF);
    value -= steps;
    std::uint16_t bcd = 0;
    for (int shift = 0; shift <= 12; shift += 4, value /= 10)
        bcd = static_cast<std::uint16_t>(bcd | ((value % 10) << shift));
    return bcd;
}

DfuSeImage BuildImage(const ProductDevice& product, std::uint16_t release, std::uint32_t seed)
{
    SimulationImagePlan plan = SimulationImagePlan::ForDevice(product);
    plan.Release = release;
    plan.Seed = seed;
    return plan.Build();
}

class Soak {
public:
    explicit Soak(const Options& options) : mOptions(options), mRandom(options.seed) {}

    int Run();

private:
    void SetUp();
    void TearDown();
    // The factory's older firmware into both devices, the cycle's product files into the folder.
    void PrepareCycle(std::uint32_t cycle);
    // One run of the sequence to its end; false (with mFailure) when it never ends.
    bool RunSequence();
    // Whether a device holds the other device's image anywhere it was written.
    bool CheckNoForeignImage(std::uint32_t cycle, std::uint32_t attempt);
    // Empty when both devices hold the cycle's images and report the product's releases.
    std::string WhyNotUpdated(std::uint32_t cycle);
    // What a person does after a failed attempt: pulls and plugs a device that is off the bus,
    // and with alsoBootloaders one that waits in its bootloader too (a bootloader that stopped
    // answering does so until its power is cut). Clears the faults; how many were pulled.
    std::uint32_t PowerCycleDevices(bool alsoBootloaders);
    void Fail(const std::string& what);

    const Options mOptions;
    std::mt19937 mRandom;
    ZT::VirtualClock mClock;
    ZT::Testing::TempFolder mTemp{"zt-soak"};
    ZT::RCPtr<ZT::LNotificationCenter> mCenter;
    ZT::RCPtr<LDeviceSimulator> mSimulator;
    ZT::RCPtr<LUpdateEngine> mEngine;
    SoakHost mHost;
    std::array<Unit, 2> mUnits;
    std::string mFailure;
    std::string mLastLines;
};

void Soak::SetUp()
{
    ZT::SetClock(&mClock);
    LDualUpdater::ReleaseInstance();
    mCenter = ZT::LNotificationCenterManager::GetInstance()->GetCenter(
        ZT::WString(LUpdateEngineInterface::kApplicationCenterName));
    (void)mCenter->Flush();
    SetApplicationFolder(ZT::WString(mTemp.Path().string().c_str()));
    CBootloaderRoleRecord::SetFolder((mTemp.Path() / "state").string());

    mSimulator = ZT::MakeRC<LDeviceSimulator>(0.0, &mClock);
    mSimulator->Install();
    const std::array<const ProductDevice*, 2> products{&kControllerDevice, &kWheelDisplayDevice};
    for (std::size_t i = 0; i < 2; ++i) {
        Unit& unit = mUnits[i];
        unit.product = products[i];
        unit.name = i == 0 ? "controller" : "wheel display";
        const std::uint16_t release = unit.product->FirmwareRelease;
        const std::uint32_t base = static_cast<std::uint32_t>(unit.product->ProductId) << 16;
        unit.newImages = {BuildImage(*unit.product, release, base | 0xA1), BuildImage(*unit.product, release, base | 0xB2)};
        unit.oldImages = {BuildImage(*unit.product, OlderRelease(release, 1), base | 0xC3),
                          BuildImage(*unit.product, OlderRelease(release, 2), base | 0xD4)};
        unit.device = mSimulator->AddDevice(i == 0 ? SimulatedDeviceKind::Controller : SimulatedDeviceKind::WheelDisplay,
                                            OlderRelease(release, 1));
    }
    mEngine = ZT::MakeRC<LUpdateEngine>();
    mEngine->SetUpdateTarget(&LDualUpdater::GetUpdateTarget());
    mEngine->SetScanPreparer(&LDualUpdater::GetScanPreparer());
    LDualUpdater::SetHost(&mHost);
}

void Soak::TearDown()
{
    (void)mEngine->WaitForUpdate(ZT::kShutdownJoinTimeoutMs);
    LDualUpdater::SetHost(nullptr);
    mEngine = nullptr;
    LDualUpdater::ReleaseInstance();
    ZT::LMidiComm::GetInstance()->CloseAllRenderPorts();
    ZT::SetUsbBackend(nullptr);
    ZT::SetMidiOutputBackend(nullptr);
    for (Unit& unit : mUnits)
        unit.device = nullptr;
    mSimulator = nullptr;
    SetApplicationFolder(ZT::WString());
    CBootloaderRoleRecord::SetFolder(std::string());
    (void)mCenter->Flush();
    mCenter = nullptr;
    ZT::SetClock(nullptr);
}

void Soak::PrepareCycle(std::uint32_t cycle)
{
    for (Unit& unit : mUnits) {
        const DfuSeImage& old = unit.oldImages[cycle % 2];
        unit.device->SetFaults({});
        unit.device->Unplug();
        if (!unit.device->ProgramFlash(old.ElementAddress, old.ElementData))
            Fail(std::string("the factory image of the ") + unit.name + " does not fit its flash");
        unit.device->Plug();
        unit.device->ClearLogs(); // the simulator's own record would grow with every cycle
        const DfuSeImage& next = unit.newImages[cycle % 2];
        const std::vector<std::uint8_t> bytes = next.ToBytes();
        std::ofstream file(mTemp.Path() / ZT::WString(unit.product->FirmwareFileName).ToUTF8(), std::ios::binary | std::ios::trunc);
        file.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
        if (!file)
            Fail("cannot write the product file " + ZT::WString(unit.product->FirmwareFileName).ToUTF8());
    }
}

bool Soak::RunSequence()
{
    const ZT::RCPtr<LUpdateSequence> sequence = ZT::MakeRC<LUpdateSequence>(mEngine);
    sequence->Attach();
    (void)sequence->SetHost(&mHost);
    mHost.mSequence = sequence.Get();
    mHost.mTimerDueMs.reset();
    (void)mEngine->ScanForDevices();
    (void)mCenter->ProcessQueue(false);
    (void)sequence->Start();

    bool ended = false;
    const auto giveUp = std::chrono::steady_clock::now() + std::chrono::seconds(120);
    while (std::chrono::steady_clock::now() < giveUp) {
        (void)mCenter->ProcessQueue(false);
        if (!sequence->IsRunning()) {
            // A completion may still be on its way from the worker.
            (void)mEngine->WaitForUpdate(ZT::kShutdownJoinTimeoutMs);
            (void)mCenter->ProcessQueue(false);
            if (!sequence->IsRunning()) {
                ended = true;
                break;
            }
            continue;
        }
        if (mHost.mTimerDueMs) {
            const std::uint64_t due = *std::exchange(mHost.mTimerDueMs, std::nullopt);
            if (const std::uint64_t now = mClock.NowMs(); due > now)
                mClock.AdvanceMs(due - now);
            sequence->OnTimer();
            continue;
        }
        // The worker switches or writes; its completion is what comes next.
        (void)mEngine->WaitForUpdate(ZT::kShutdownJoinTimeoutMs);
    }
    std::string lines = mHost.TakeLines();
    for (const std::string& line : sequence->GetSummaryLines())
        lines += "summary: " + line + "\n";
    mLastLines = lines;
    mHost.mSequence = nullptr;
    (void)sequence->SetHost(nullptr);
    sequence->Detach();
    if (!ended)
        Fail(std::string("the update sequence never ended; step ") + ToString(sequence->GetStep()));
    return ended;
}

bool Soak::CheckNoForeignImage(std::uint32_t cycle, std::uint32_t attempt)
{
    for (std::size_t i = 0; i < 2; ++i) {
        const Unit& unit = mUnits[i];
        const DfuSeImage& foreign = mUnits[1 - i].newImages[cycle % 2];
        const std::size_t length = std::min(foreign.ElementData.size(), mUnits[i].newImages[0].ElementData.size());
        const auto flash = unit.device->ReadFlash(foreign.ElementAddress, length);
        if (!flash) {
            Fail(std::string("the ") + unit.name + "'s flash cannot hold the other device's image");
            return false;
        }
        for (std::size_t offset = 0; offset + kBlockBytes <= length; offset += kBlockBytes) {
            if (std::memcmp(flash->data() + offset, foreign.ElementData.data() + offset, kBlockBytes) == 0) {
                Fail(std::string("the ") + unit.name + " was written with the " + mUnits[1 - i].name +
                     "'s image: block at " + Hex(foreign.ElementAddress + offset) + " (cycle " +
                     std::to_string(cycle) + ", attempt " + std::to_string(attempt) + ")");
                return false;
            }
        }
    }
    return true;
}

std::string Soak::WhyNotUpdated(std::uint32_t cycle)
{
    std::string why;
    for (Unit& unit : mUnits) {
        const DfuSeImage& image = unit.newImages[cycle % 2];
        const SimulatedDeviceMode mode = unit.device->GetMode();
        if (mode != SimulatedDeviceMode::Application)
            why += std::string(unit.name) + " is in " + SimulatedDeviceModeName(mode) + "; ";
        const std::optional<std::uint16_t> release = unit.device->GetFlashReleaseNumber();
        if (release != unit.product->FirmwareRelease)
            why += std::string(unit.name) + " reports " + (release ? Hex(*release, 4) : std::string("no release")) +
                   " instead of " + Hex(unit.product->FirmwareRelease, 4) + "; ";
        const auto flash = unit.device->ReadFlash(image.ElementAddress, image.ElementData.size());
        if (!flash) {
            why += std::string(unit.name) + "'s image leaves its flash; ";
            continue;
        }
        const auto [differs, expected] = std::mismatch(flash->begin(), flash->end(), image.ElementData.begin());
        if (differs != flash->end())
            why += std::string(unit.name) + "'s flash differs from the cycle's image at " +
                   Hex(image.ElementAddress + static_cast<std::uint64_t>(differs - flash->begin())) + ": " +
                   Hex(*differs, 2) + " instead of " + Hex(*expected, 2) + "; ";
    }
    if (why.empty()) {
        const auto& probe = LDualUpdater::GetInstance()->GetProbeResult();
        if (!probe.ControllerVersion.HasSameNumberAs(kControllerDevice.GetFirmwareVersion()) ||
            !probe.DisplayVersion.HasSameNumberAs(kWheelDisplayDevice.GetFirmwareVersion()))
            why = "the dual updater's last probe found " + probe.ControllerVersion.Text.ToUTF8() + " and " +
                  probe.DisplayVersion.Text.ToUTF8() + "; ";
    }
    return why;
}

std::uint32_t Soak::PowerCycleDevices(bool alsoBootloaders)
{
    // Let what is due happen first: a device restarting at its normal pace is not pulled.
    mClock.AdvanceMs(15000);
    std::uint32_t count = 0;
    for (Unit& unit : mUnits) {
        unit.device->SetFaults({});
        const SimulatedDeviceMode mode = unit.device->GetMode();
        if (mode == SimulatedDeviceMode::Application || (mode == SimulatedDeviceMode::Bootloader && !alsoBootloaders))
            continue;
        unit.device->Unplug();
        unit.device->Plug();
        ++count;
    }
    return count;
}

void Soak::Fail(const std::string& what)
{
    if (mFailure.empty())
        mFailure = what;
}

int Soak::Run()
{
    SetUp();
    const auto started = std::chrono::steady_clock::now();
    std::map<std::string, std::uint32_t> faultsByKind;
    std::map<std::string, std::uint32_t> rerunsByKind;
    std::uint32_t faulted = 0;
    std::uint32_t reruns = 0;
    std::uint32_t maxReruns = 0;
    std::uint32_t powerCycles = 0;
    std::uint64_t rssAfterWarmUp = 0;
    std::uint64_t rssMax = 0;
    std::uint32_t rssMaxCycle = 0;
    const std::uint64_t rssFirst = ResidentBytes();

    std::uint32_t cycle = 0;
    for (; cycle < mOptions.cycles && mFailure.empty(); ++cycle) {
        PrepareCycle(cycle);
        const SoakFault fault = DrawSoakFault(mRandom);
        ++faultsByKind[fault.kind];
        if (fault.Injects()) {
            ++faulted;
            mUnits[fault.deviceIndex].device->SetFaults(fault.faults);
        }
        std::uint32_t attempt = 0;
        for (; mFailure.empty(); ++attempt) {
            if (!RunSequence() || !CheckNoForeignImage(cycle, attempt))
                break;
            const std::string why = WhyNotUpdated(cycle);
            if (why.empty())
                break;
            powerCycles += PowerCycleDevices(attempt > 0);
            if (WhyNotUpdated(cycle).empty())
                break; // a device that only had to come back
            if (attempt == kMaxReruns) {
                Fail("cycle " + std::to_string(cycle) + " (fault " + fault.kind + " on the " +
                     mUnits[fault.deviceIndex].name + ") did not recover after " + std::to_string(kMaxReruns) +
                     " reruns: " + why);
                break;
            }
        }
        reruns += attempt;
        rerunsByKind[fault.kind] += attempt;
        maxReruns = std::max(maxReruns, attempt);
        if (!fault.Injects() && attempt > 0 && mFailure.empty())
            Fail("cycle " + std::to_string(cycle) + " had no fault but needed " + std::to_string(attempt) + " reruns");

        const std::uint64_t rss = ResidentBytes();
        if (cycle + 1 == kWarmUpCycles)
            rssAfterWarmUp = rss;
        if (cycle + 1 >= kWarmUpCycles && rss > rssMax) {
            rssMax = rss;
            rssMaxCycle = cycle;
        }
    }
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    const std::uint64_t rssLast = ResidentBytes();
    const std::string lastLines = mLastLines;
    TearDown();

    std::ostringstream kinds;
    for (const auto& [kind, count] : faultsByKind)
        kinds << (kinds.tellp() > 0 ? " " : "") << kind << "=" << count << "/" << rerunsByKind[kind];
    const std::int64_t growth = rssAfterWarmUp == 0 ? 0 : static_cast<std::int64_t>(rssMax) - static_cast<std::int64_t>(rssAfterWarmUp);
    std::printf("soak: cycles %u seed %u; faulted %u (kind=cycles/reruns: %s); reruns %u (at most %u in a cycle), power cycles %u; RSS first %.1f MiB, "
                "after %u cycles %.1f MiB, last %.1f MiB, max growth %+.0f KiB (cycle %u); wall %.1f s\n",
                cycle, mOptions.seed, faulted, kinds.str().c_str(), reruns, maxReruns, powerCycles, rssFirst / 1048576.0,
                kWarmUpCycles, rssAfterWarmUp / 1048576.0, rssLast / 1048576.0, growth / 1024.0, rssMaxCycle, seconds);
    if (mFailure.empty() && mOptions.checkRss && rssAfterWarmUp != 0 &&
        growth > static_cast<std::int64_t>(mOptions.rssLimitBytes))
        mFailure = "resident memory grew by " + std::to_string(growth / 1024) + " KiB after cycle " +
                   std::to_string(kWarmUpCycles) + ", more than the limit of " +
                   std::to_string(mOptions.rssLimitBytes / 1024) + " KiB";
    if (!mFailure.empty()) {
        std::fprintf(stderr, "soak: FAILED: %s\n--- the last run said:\n%s", mFailure.c_str(), lastLines.c_str());
        return 1;
    }
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    Options options;
    if (!ParseOptions(argc, argv, options))
        return 2;
    Soak soak(options);
    return soak.Run();
}
