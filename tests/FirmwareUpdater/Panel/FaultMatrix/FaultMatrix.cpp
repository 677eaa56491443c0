#include "FaultMatrix.h"

#include "FirmwareUpdater/Panel/CommandLineRun.h"
#include "FirmwareUpdater/Panel/Engine/UpdateProcessor.h"
#include "FirmwareUpdater/Panel/PrinterLogStreams.h"
#include "FirmwareUpdater/Panel/ProgressPrinter.h"
#include "ZTFramework/Debug/DebugOutput.h"
#include "tests/FirmwareUpdater/Panel/Engine/UpdateEngineTestSupport.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <span>
#include <thread>

namespace FaultMatrix {

namespace {

using EngineTest::DeviceState;
using EngineTest::DeviceErrorReason;
using EngineTest::UpdateRunState;
using Outcome = LUpdateSequence::Outcome;
using Phase = CUpdateFailure::Phase;
using Kind = SimulatedFaultKind;

constexpr std::uint16_t kOldRelease[2] = {0x0030, 0x0049};
constexpr std::uint16_t kNewRelease[2] = {0x0031, 0x0050};
constexpr const char* kDeviceNames[2] = {"controller", "wheel display"};
// Longest a run may take in virtual time: both devices' switches, erases and blocks, every wait
// the engine bounds (a busy bootloader, a device's return) and a few control-transfer time-outs.
constexpr std::uint64_t kVirtualRunLimitMs = 150000;
// Longest a run may take in real time before it counts as hung.
constexpr auto kWallRunLimit = std::chrono::seconds(60);
// What a person takes between the failed run and the next: due restarts happen meanwhile.
constexpr std::uint32_t kPauseBeforeRerunMs = 60000;

const ProductDevice& ProductOf(Target target)
{
    return target == Target::Controller ? kControllerDevice : kWheelDisplayDevice;
}

std::size_t IndexOf(Target target)
{
    return static_cast<std::size_t>(target);
}

std::string ShortPhase(Phase phase)
{
    switch (phase) {
    case Phase::None: return "nowhere";
    case Phase::File: return "file";
    case Phase::Switch: return "switch";
    case Phase::IdleCheck: return "idle check";
    case Phase::Erase: return "erase";
    case Phase::Write: return "write";
    case Phase::Leave: return "leave";
    case Phase::Return: return "return";
    }
    return "?";
}

std::string DescribeReport(const LUpdateSequence::DeviceReport& report)
{
    return std::string(ToString(report.Result)) + " (" + report.Detail + ")";
}

// Kills the test with a line that names the cell when a run does not end: a hang must not hold
// the whole test program until ctest's time-out.
class CWatchdog {
public:
    explicit CWatchdog(std::string what) : mWhat(std::move(what)), mThread([this] { Watch(); }) {}
    ~CWatchdog()
    {
        {
            std::lock_guard lock(mMutex);
            mDone = true;
        }
        mWake.notify_all();
        mThread.join();
    }

private:
    void Watch()
    {
        std::unique_lock lock(mMutex);
        if (mWake.wait_for(lock, kWallRunLimit, [this] { return mDone; }))
            return;
        std::fprintf(stderr, "fault matrix: %s did not end within %lld s of real time: a hang\n", mWhat.c_str(),
                     static_cast<long long>(kWallRunLimit.count()));
        std::fflush(stderr);
        std::_Exit(1);
    }

    const std::string mWhat;
    std::mutex mMutex;
    std::condition_variable mWake;
    bool mDone = false;
    std::thread mThread;
};

// What one run left.
struct RunRecord {
    bool Ended = false;
    std::uint64_t VirtualMs = 0;
    std::array<LUpdateSequence::DeviceReport, 2> Reports;
    DeviceState State = DeviceState::NoDeviceDefined;
    DeviceErrorReason Reason = DeviceErrorReason::NoReason;
    UpdateRunState RunState = UpdateRunState::Idle;
};

// The sequence's host for the run with a test host: lines, one timer, and the dual updater's
// "go on", which is the sequence's Start.
class CTestHost final : public IUpdateSequenceHost, public IDualUpdaterHost {
public:
    CTestHost(LUpdateSequence& sequence, std::function<void(const std::string&)> tell)
        : mSequence(sequence), mTell(std::move(tell))
    {
    }
    void Tell(const std::string& line) override { mTell(line); }
    void OnStep(Step) override {}
    void SetTimer(std::uint32_t ms) override { mTimerDueMs = ZT::GetClock().NowMs() + ms; }
    void ContinueUpdateProcess() override { (void)mSequence.Start(); }
    bool HasLabel(const ZT::WString&) override { return false; }
    bool GetLabelString(const ZT::WString&, const ZT::WString&, ZT::WString&) override { return false; }
    void SetLabelText(const ZT::WString&, const ZT::WString&) override {}
    void HideButton(const ZT::WString&) override {}

    std::optional<std::uint64_t> mTimerDueMs;

private:
    LUpdateSequence& mSequence;
    std::function<void(const std::string&)> mTell;
};

// One cell's world: virtual time, the pair at its old releases, the product's files, a record of
// bootloader serials of its own. Both runs of the cell happen in it, as two starts of the program.
class CWorld {
public:
    CWorld(const std::filesystem::path& applicationFolder)
    {
        ZT::SetClock(&mClock);
        LDualUpdater::ReleaseInstance();
        mCenter = ZT::LNotificationCenterManager::GetInstance()->GetCenter(
            ZT::WString(LUpdateEngineInterface::kApplicationCenterName));
        (void)mCenter->Flush();
        SetApplicationFolder(ZT::WString(applicationFolder.string().c_str()));
        CBootloaderRoleRecord::SetFolder((mState.Path() / "state").string());
        mSimulator->Install();
        mDevices[0] = mSimulator->AddDevice(SimulatedDeviceKind::Controller, kOldRelease[0]);
        mDevices[1] = mSimulator->AddDevice(SimulatedDeviceKind::WheelDisplay, kOldRelease[1]);
        ZT::DebugOutput::Instance().SetLogStreams(mLogStreams.Narrow(), mLogStreams.Wide());
        // The front end's loop sleeps on the virtual clock on this thread: there it waits for a
        // worker that is still ending its task, which takes real time, so that a wait bounded in
        // virtual time does not run out while the worker has not had the processor.
        mClock.mAfterSleep = [this](std::uint64_t) {
            if (std::this_thread::get_id() == mMainThread)
                WaitForLaggingWorker();
        };
    }
    ~CWorld()
    {
        mClock.mAfterSleep = nullptr;
        ZT::DebugOutput::Instance().UseDebugStreams();
        EngineTest::ReleaseProcessWideState();
        (void)mCenter->Flush();
        ZT::SetClock(nullptr);
    }
    CWorld(const CWorld&) = delete;
    CWorld& operator=(const CWorld&) = delete;

    LSimulatedDevice& Device(Target target) { return *mDevices[IndexOf(target)]; }
    EngineTest::HookedClock& Clock() { return mClock; }

    // One start of the updater: a fresh engine, dual updater and sequence on the same devices.
    RunRecord Run(FrontEnd frontEnd, const std::string& what)
    {
        Say("---- " + what);
        LDualUpdater::ReleaseInstance();
        ZT::LMidiComm::GetInstance()->CloseAllRenderPorts();
        (void)mCenter->Flush();
        const CWatchdog watchdog(what);
        const std::uint64_t startMs = mClock.NowMs();
        RunRecord record = frontEnd == FrontEnd::Sequence ? RunSequence() : RunCommandLine();
        record.VirtualMs = mClock.NowMs() - startMs;
        return record;
    }

    std::string Transcript() const
    {
        std::lock_guard lock(mTranscriptMutex);
        return mTranscript;
    }
    void Say(const std::string& line)
    {
        std::lock_guard lock(mTranscriptMutex);
        mTranscript += line + "\n";
    }

private:
    // Virtual time moves on only while nothing else runs: while the engine's worker has a task
    // (a switch, a download, or the end of either), its own waits move the clock, so the front
    // end's waits and timers wait for it in real time (at most the wall limit of a run). Else a
    // worker slow to get the processor would see the front end's time pass as its own, and a run
    // would take more virtual time the busier the machine.
    void WaitForLaggingWorker()
    {
        LUpdateSequence* const sequence = mRunningSequence.load();
        LUpdateEngineInterface* const engine = mRunningEngine.load();
        if (!sequence || !engine)
            return;
        const auto giveUp = std::chrono::steady_clock::now() + kWallRunLimit;
        while (engine->IsWorkerBusy() && std::chrono::steady_clock::now() < giveUp)
            std::this_thread::sleep_for(std::chrono::microseconds(100));
    }
    // The sequence and engine of the run under way, for the clock's hook.
    void SetRunning(LUpdateSequence* sequence, LUpdateEngineInterface* engine)
    {
        mRunningSequence = sequence;
        mRunningEngine = engine;
    }

    RunRecord RunSequence()
    {
        const ZT::RCPtr<LUpdateEngine> engine = EngineTest::MakeProductEngine();
        const auto sequence = ZT::MakeRC<LUpdateSequence>(engine);
        sequence->Attach();
        CTestHost host(*sequence, [this](const std::string& line) { Say(line); });
        (void)sequence->SetHost(&host);
        LDualUpdater::SetHost(&host);

        SetRunning(sequence.Get(), engine.Get());
        (void)engine->ScanForDevices();
        Deliver();
        (void)sequence->Start();
        // The front end's loop: deliveries, and the timer once its time has come (the clock moves
        // on to it when nothing else waits); the worker's posts come in real time.
        RunRecord record;
        const auto giveUp = std::chrono::steady_clock::now() + kWallRunLimit;
        while (std::chrono::steady_clock::now() < giveUp) {
            Deliver();
            if (!sequence->IsRunning()) {
                Deliver();
                if (!sequence->IsRunning()) {
                    record.Ended = true;
                    break;
                }
                continue;
            }
            if (host.mTimerDueMs) {
                WaitForLaggingWorker();
                const std::uint64_t due = *std::exchange(host.mTimerDueMs, std::nullopt);
                if (const std::uint64_t now = mClock.NowMs(); due > now)
                    mClock.AdvanceMs(due - now);
                sequence->OnTimer();
                continue;
            }
            std::this_thread::sleep_for(std::chrono::microseconds(200));
        }
        Collect(*engine, *sequence, record);
        SetRunning(nullptr, nullptr);
        (void)engine->WaitForUpdate(ZT::kShutdownJoinTimeoutMs);
        LDualUpdater::SetHost(nullptr);
        (void)sequence->SetHost(nullptr);
        sequence->Detach();
        return record;
    }

    RunRecord RunCommandLine()
    {
        LUpdateProcessor::SetExitStatus(0);
        const auto processor =
            ZT::MakeRC<LUpdateProcessor>(LDualUpdater::GetUpdateTarget(), LDualUpdater::GetScanPreparer());
        const ZT::RCPtr<LUpdateEngineInterface> engine = processor->GetEngine();
        const auto sequence = ZT::MakeRC<LUpdateSequence>(engine);
        const auto run = ZT::MakeRC<LCommandLineRun>(engine, sequence, &mPrinter);
        run->Attach();
        processor->SetHost(run.Get());

        RunRecord record;
        SetRunning(sequence.Get(), engine.Get());
        const ZT::ZTRESULT result = processor->Initialize(ZT::WString(L"updater -SILENT"));
        SetRunning(nullptr, nullptr);
        // A device set the updater cannot read gives the engine's result, not the quit: the
        // program would show its window. Either way the silent run is over.
        record.Ended = !sequence->IsRunning();
        if (result != ZT::ZTRESULT_EXIT_APPLICATION)
            Say("the silent run returned " + ZT::ResultToText(result));
        Collect(*engine, *sequence, record);
        processor->SetHost(nullptr);
        (void)engine->WaitForUpdate(ZT::kShutdownJoinTimeoutMs);
        run->Detach();
        sequence->Detach();
        LUpdateProcessor::SetExitStatus(0);
        return record;
    }

    void Collect(LUpdateEngineInterface& engine, const LUpdateSequence& sequence, RunRecord& record)
    {
        for (std::uint32_t i = 0; i < 2; ++i)
            record.Reports[i] = sequence.GetDeviceReport(i);
        record.State = engine.GetDeviceState();
        std::uint32_t reason = 0;
        (void)engine.GetDeviceErrorReason(reason); // 0 outside DeviceCannotBeUpdated
        record.Reason = static_cast<DeviceErrorReason>(reason);
        record.RunState = engine.GetUpdateRunState(false);
        for (const std::string& line : sequence.GetSummaryLines())
            Say("summary: " + line);
        Say(std::string("engine: ") + ToString(record.State) + ", " + ToString(record.Reason) + ", run " +
            ToString(record.RunState));
    }

    void Deliver() { (void)mCenter->ProcessQueue(false); }

    EngineTest::HookedClock mClock;
    const std::thread::id mMainThread = std::this_thread::get_id();
    std::atomic<LUpdateSequence*> mRunningSequence{nullptr};
    std::atomic<LUpdateEngineInterface*> mRunningEngine{nullptr};
    ZT::RCPtr<ZT::LNotificationCenter> mCenter;
    ZT::Testing::TempFolder mState{"zt-fault-matrix-state"};
    ZT::RCPtr<LDeviceSimulator> mSimulator = ZT::MakeRC<LDeviceSimulator>(0.0, &mClock);
    std::array<ZT::RCPtr<LSimulatedDevice>, 2> mDevices;
    mutable std::mutex mTranscriptMutex;
    std::string mTranscript; // guarded by mTranscriptMutex: the worker's debug lines come from its thread
    CProgressPrinter mPrinter{CProgressPrinter::Style::Lines, [this](std::string_view bytes) {
                                  std::lock_guard lock(mTranscriptMutex);
                                  mTranscript.append(bytes);
                              }};
    CPrinterLogStreams mLogStreams{mPrinter};
};

bool IsDnload(const SimulatedUsbRequest& request)
{
    return request.request == static_cast<std::uint8_t>(ZT::DfuRequest::Dnload) &&
           request.requestType == ZT::kDfuRequestTypeOut;
}

RequestCounts Count(const std::vector<SimulatedUsbRequest>& requests)
{
    RequestCounts counts;
    for (const SimulatedUsbRequest& request : requests) {
        if (!IsDnload(request) || request.error != ZT::UsbError::None)
            continue;
        if (request.value >= 2)
            ++counts.DataBlocks;
        else if (request.value == 0 && request.dataOut.size() == 5 && request.dataOut[0] == ZT::kDfuSeCommandErase)
            ++counts.Erases;
        else if (request.value == 0 && request.dataOut.size() == 5 && request.dataOut[0] == ZT::kDfuSeCommandSetAddress)
            ++counts.SetAddresses;
    }
    return counts;
}

// The device's flash as it may be at any moment: each 2 KiB block of the element's range holds
// what the factory put there, erased flash, or the device's own new image. Empty when it does;
// otherwise the first block that holds anything else (the other device's image, a block out of
// place).
std::string CheckOwnFlash(LSimulatedDevice& device, const std::vector<std::uint8_t>& factory, const DfuSeImage& image)
{
    const std::uint32_t base = LSimulatedFlash::kBaseAddress;
    const auto flash = device.GetFlashDump();
    const std::size_t offset = image.ElementAddress - base;
    for (std::size_t at = 0; at < image.ElementData.size(); at += 2048) {
        const std::size_t length = std::min<std::size_t>(2048, image.ElementData.size() - at);
        const auto now = std::span(flash).subspan(offset + at, length);
        const auto before = std::span(factory).subspan(offset + at, length);
        const auto wanted = std::span(image.ElementData).subspan(at, length);
        if (std::equal(now.begin(), now.end(), before.begin()) || std::equal(now.begin(), now.end(), wanted.begin()) ||
            std::all_of(now.begin(), now.end(), [](std::uint8_t byte) { return byte == 0xFF; }))
            continue;
        char address[16];
        std::snprintf(address, sizeof address, "0x%08zX", offset + at + base);
        return std::string("the block at ") + address + " holds neither its factory image, erased flash nor its new image";
    }
    return {};
}

// Empty when the device runs its new image, whole; otherwise what it does instead.
std::string CheckUpdated(LSimulatedDevice& device, const DfuSeImage& image, std::uint16_t release)
{
    const SimulatedDeviceMode mode = device.GetMode();
    if (mode != SimulatedDeviceMode::Application)
        return std::string("it is left ") + SimulatedDeviceModeName(mode);
    const auto flash = device.ReadFlash(image.ElementAddress, image.ElementData.size());
    if (!flash || *flash != image.ElementData)
        return "its flash does not hold its new image";
    if (device.GetFlashReleaseNumber() != std::optional<std::uint16_t>(release))
        return "its flash reports another release";
    return {};
}

} // namespace

std::string FaultRow::Label() const
{
    return Step + ", " + ToString(Kind);
}

std::vector<FaultRow> AllRows()
{
    const std::vector<Kind> all = {Kind::Stall, Kind::NoAnswer, Kind::Unplug, Kind::ErrorStatus, Kind::BusyTooLong,
                                   Kind::PowerCut};
    struct StepDef {
        const char* Name;
        SimulatedFaultPhase Phase;
        Place Where;
        std::vector<Kind> Kinds;
    };
    const std::vector<StepDef> steps = {
        // A message has no status; its kinds are what a device does with it.
        {"mode-switch message", SimulatedFaultPhase::ModeSwitch, Place::Only,
         {Kind::Stall, Kind::NoAnswer, Kind::Unplug, Kind::PowerCut}},
        // The bootloader's start: nothing to stall.
        {"bootloader search", SimulatedFaultPhase::BootloaderSearch, Place::Only,
         {Kind::NoAnswer, Kind::Unplug, Kind::ErrorStatus, Kind::BusyTooLong, Kind::PowerCut}},
        {"idle check", SimulatedFaultPhase::IdleCheck, Place::Only, all},
        {"first erase", SimulatedFaultPhase::Erase, Place::First, all},
        {"middle erase", SimulatedFaultPhase::Erase, Place::Middle, all},
        {"last erase", SimulatedFaultPhase::Erase, Place::Last, all},
        {"first data block", SimulatedFaultPhase::DataBlock, Place::First, all},
        {"middle data block", SimulatedFaultPhase::DataBlock, Place::Middle, all},
        {"last data block before block 0", SimulatedFaultPhase::DataBlock, Place::LastButOne, all},
        {"block 0, written last", SimulatedFaultPhase::DataBlock, Place::Last, all},
        {"set-address before the leave", SimulatedFaultPhase::SetAddress, Place::Last, all},
        {"leave", SimulatedFaultPhase::Leave, Place::Only, all},
        // Off the bus while it restarts: nothing to stall, answer or fail.
        {"return", SimulatedFaultPhase::Return, Place::Only, {Kind::Unplug, Kind::BusyTooLong, Kind::PowerCut}},
    };
    std::vector<FaultRow> rows;
    for (const StepDef& step : steps) {
        for (const Kind kind : step.Kinds)
            rows.push_back(FaultRow{step.Name, step.Phase, step.Where, kind});
    }
    return rows;
}

std::vector<Column> AllColumns()
{
    return {{Target::Controller, FrontEnd::Sequence},
            {Target::Controller, FrontEnd::CommandLine},
            {Target::Display, FrontEnd::Sequence},
            {Target::Display, FrontEnd::CommandLine}};
}

std::string ColumnLabel(const Column& column)
{
    return std::string(kDeviceNames[IndexOf(column.Device)]) +
           (column.Through == FrontEnd::Sequence ? ", sequence" : ", command line");
}

SimulatedFaultAt PointFor(const FaultRow& row, const RequestCounts& counts)
{
    std::uint32_t count = 1;
    switch (row.Phase) {
    case SimulatedFaultPhase::Erase: count = counts.Erases; break;
    case SimulatedFaultPhase::DataBlock: count = counts.DataBlocks; break;
    case SimulatedFaultPhase::SetAddress: count = counts.SetAddresses; break;
    case SimulatedFaultPhase::ModeSwitch:
    case SimulatedFaultPhase::BootloaderSearch:
    case SimulatedFaultPhase::IdleCheck:
    case SimulatedFaultPhase::Leave:
    case SimulatedFaultPhase::Return:
        break;
    }
    std::uint32_t index = 0;
    switch (row.Where) {
    case Place::Only:
    case Place::First: index = 0; break;
    case Place::Middle: index = count / 2; break;
    case Place::LastButOne: index = count >= 2 ? count - 2 : 0; break;
    case Place::Last: index = count >= 1 ? count - 1 : 0; break;
    }
    return SimulatedFaultAt{row.Phase, row.Kind, index};
}

Expectation Expected(SimulatedFaultPhase phase, SimulatedFaultKind kind)
{
    const Expectation updated{Outcome::Updated, Phase::None};
    const auto failed = [](Phase where) { return Expectation{Outcome::Failed, where}; };
    switch (phase) {
    case SimulatedFaultPhase::ModeSwitch:
        return failed(Phase::Switch);
    case SimulatedFaultPhase::BootloaderSearch:
        // A bootloader in dfuERROR is cleared; one that answers nothing is found, then fails the
        // download's first request.
        if (kind == Kind::ErrorStatus)
            return updated;
        return failed(kind == Kind::NoAnswer ? Phase::IdleCheck : Phase::Switch);
    case SimulatedFaultPhase::IdleCheck:
        return kind == Kind::ErrorStatus ? updated : failed(Phase::IdleCheck);
    case SimulatedFaultPhase::Erase:
        return failed(Phase::Erase);
    case SimulatedFaultPhase::DataBlock:
        return failed(Phase::Write);
    case SimulatedFaultPhase::SetAddress:
        return failed(Phase::Leave);
    case SimulatedFaultPhase::Leave:
        // The image is whole: a device that restarts, by itself or by the engine's reset, runs it.
        // One that stays in its bootloader or leaves the bus is not back in normal mode.
        if (kind == Kind::PowerCut || kind == Kind::BusyTooLong)
            return updated;
        return failed(Phase::Return);
    case SimulatedFaultPhase::Return:
        return kind == Kind::PowerCut ? updated : failed(Phase::Return);
    }
    return updated;
}

CMatrixBench::CMatrixBench()
{
    for (const Target target : {Target::Controller, Target::Display}) {
        const ProductDevice& device = ProductOf(target);
        mImages[IndexOf(target)] = SimulationImagePlan::ForDevice(device).Build();
        (void)mFolder.Write(device.FirmwareFileName, mImages[IndexOf(target)].ToBytes());
    }
}

Calibration CMatrixBench::Calibrate()
{
    Calibration calibration;
    CWorld world(mFolder.Path());
    const RunRecord record = world.Run(FrontEnd::Sequence, "a clean update, counted");
    for (const Target target : {Target::Controller, Target::Display}) {
        const std::size_t i = IndexOf(target);
        calibration.Counts[i] = Count(world.Device(target).GetRequestLog());
        const std::string updated = CheckUpdated(world.Device(target), mImages[i], kNewRelease[i]);
        if (!record.Ended || !updated.empty() || calibration.Counts[i].DataBlocks < 3 || calibration.Counts[i].Erases < 1)
            calibration.Problem += std::string("a clean update left the ") + kDeviceNames[i] + " " +
                                   (updated.empty() ? "with too few requests to place faults" : updated) + "\n";
    }
    if (!calibration.Problem.empty())
        calibration.Problem += world.Transcript();
    return calibration;
}

CellResult CMatrixBench::RunCell(const FaultRow& row, const Column& column, const Calibration& calibration)
{
    CellResult cell;
    CWorld world(mFolder.Path());
    const Target atFault = column.Device;
    const Target other = atFault == Target::Controller ? Target::Display : Target::Controller;
    const std::size_t d = IndexOf(atFault);
    const std::size_t o = IndexOf(other);
    const std::array<std::vector<std::uint8_t>, 2> factory = {world.Device(Target::Controller).GetFlashDump(),
                                                              world.Device(Target::Display).GetFlashDump()};
    const auto problem = [&cell](const std::string& text) { cell.Problems.push_back(text); };
    const auto checkFlash = [&](const char* when) {
        for (const Target target : {Target::Controller, Target::Display}) {
            const std::size_t i = IndexOf(target);
            if (const std::string why = CheckOwnFlash(world.Device(target), factory[i], mImages[i]); !why.empty())
                problem(std::string(when) + ", the " + kDeviceNames[i] + "'s flash is wrong: " + why);
        }
    };

    // ---- The run that meets the fault.
    SimulatedDeviceFaults faults;
    faults.at = PointFor(row, calibration.Counts[d]);
    world.Device(atFault).SetFaults(faults);
    world.Device(atFault).ClearLogs();
    const RunRecord first = world.Run(column.Through, row.Label() + " on the " + ColumnLabel(column));

    if (!first.Ended)
        problem("the run with the fault did not end");
    if (world.Device(atFault).GetFaultHits() == 0)
        problem(std::string("the fault never acted: the run sent no request number ") +
                std::to_string(faults.at->index) + " of " + ToString(faults.at->phase) + " to the " + kDeviceNames[d]);
    if (first.VirtualMs > kVirtualRunLimitMs)
        problem("the run with the fault took " + std::to_string(first.VirtualMs) + " ms of virtual time, past " +
                std::to_string(kVirtualRunLimitMs));
    const Expectation expected = Expected(row.Phase, row.Kind);
    const LUpdateSequence::DeviceReport& report = first.Reports[d];
    const bool asDesigned = report.Result == expected.Result &&
                            (expected.Result != Outcome::Failed || report.Failure.Where == expected.Where);
    if (!asDesigned)
        problem(std::string("the ") + kDeviceNames[d] + " ended " + DescribeReport(report) + " where the design gives " +
                ToString(expected.Result) +
                (expected.Result == Outcome::Failed ? std::string(" at ") + ToString(expected.Where) : std::string()));
    // The controller goes first: the display is started only after the controller was updated.
    const Outcome otherExpected =
        atFault == Target::Display || expected.Result == Outcome::Updated ? Outcome::Updated : Outcome::NotAttempted;
    if (first.Reports[o].Result != otherExpected)
        problem(std::string("the ") + kDeviceNames[o] + " ended " + DescribeReport(first.Reports[o]) + " where " +
                ToString(otherExpected) + " was due");
    // The engine's last word on the device at fault.
    if (expected.Result == Outcome::Failed && expected.Where != Phase::Return &&
        (first.State != DeviceState::DeviceCannotBeUpdated || first.Reason != DeviceErrorReason::DeviceAccessFailure))
        problem(std::string("the engine ended ") + ToString(first.State) + " with the reason " + ToString(first.Reason) +
                " where DeviceCannotBeUpdated with DeviceAccessFailure was due");
    if (expected.Result == Outcome::Failed && expected.Where != Phase::Return && expected.Where != Phase::Switch &&
        first.RunState != UpdateRunState::Failed)
        problem(std::string("the engine's download ended ") + ToString(first.RunState) + " where Failed was due");
    if (expected.Result == Outcome::Failed && expected.Where == Phase::Return &&
        (first.State == DeviceState::DeviceNotInUpdateMode || first.RunState != UpdateRunState::Succeeded))
        problem(std::string("the engine ended ") + ToString(first.State) + ", download " + ToString(first.RunState) +
                ", where a written device that is not back was due");
    if (expected.Result == Outcome::Updated &&
        (first.State != DeviceState::DeviceNotInUpdateMode || first.RunState != UpdateRunState::Succeeded))
        problem(std::string("the engine ended ") + ToString(first.State) + ", download " + ToString(first.RunState) +
                " after both devices were updated");
    // A download that failed leaves the device in its bootloader: no leave request follows.
    if (expected.Result == Outcome::Failed && expected.Where != Phase::Switch && expected.Where != Phase::Return) {
        const auto requests = world.Device(atFault).GetRequestLog();
        const auto leave = std::find_if(requests.begin(), requests.end(), [](const SimulatedUsbRequest& request) {
            return IsDnload(request) && request.length == 0;
        });
        if (leave != requests.end())
            problem(std::string("a leave request reached the ") + kDeviceNames[d] + " after its download failed (at " +
                    std::to_string(leave->timeMs) + " ms, " + (leave->error == ZT::UsbError::None ? "answered" : "not answered") +
                    ")");
    }
    checkFlash("after the run with the fault");
    // The other device was either not touched or updated whole.
    {
        const auto flash = world.Device(other).GetFlashDump();
        const auto element = world.Device(other).ReadFlash(mImages[o].ElementAddress, mImages[o].ElementData.size());
        if (flash != factory[o] && (!element || *element != mImages[o].ElementData))
            problem(std::string("the ") + kDeviceNames[o] + "'s flash holds neither its old image nor its new one whole");
    }

    // ---- The plain rerun: as a person starts it again, a while later, with the device plugged
    // in again when it left the bus or stopped answering.
    world.Clock().AdvanceMs(kPauseBeforeRerunMs);
    for (const Target target : {Target::Controller, Target::Display}) {
        LSimulatedDevice& device = world.Device(target);
        device.SetFaults({});
        const SimulatedDeviceMode mode = device.GetMode();
        const bool offTheBus = mode != SimulatedDeviceMode::Application && mode != SimulatedDeviceMode::Bootloader;
        if (offTheBus || (target == atFault && row.Kind == Kind::NoAnswer)) {
            world.Say(std::string("---- the ") + kDeviceNames[IndexOf(target)] + " is plugged in again (it was " +
                      SimulatedDeviceModeName(mode) + ")");
            device.Unplug();
            device.Plug();
        }
    }
    const RunRecord rerun = world.Run(column.Through, "the plain rerun");
    if (!rerun.Ended)
        problem("the rerun did not end");
    if (rerun.VirtualMs > kVirtualRunLimitMs)
        problem("the rerun took " + std::to_string(rerun.VirtualMs) + " ms of virtual time");
    std::string notRecovered;
    for (const Target target : {Target::Controller, Target::Display}) {
        const std::size_t i = IndexOf(target);
        if (const std::string why = CheckUpdated(world.Device(target), mImages[i], kNewRelease[i]); !why.empty())
            notRecovered += std::string(notRecovered.empty() ? "" : "; ") + "the " + kDeviceNames[i] + ": " + why;
        const Outcome result = rerun.Reports[i].Result;
        if (result != Outcome::Updated && result != Outcome::AlreadyCurrent)
            problem(std::string("the rerun reports the ") + kDeviceNames[i] + " " + DescribeReport(rerun.Reports[i]));
    }
    checkFlash("after the rerun");
    cell.Recovered = notRecovered.empty() && rerun.Ended;
    if (!cell.Recovered)
        problem("the rerun did not bring both devices to their new firmware: " + notRecovered);

    cell.Text = report.Result == Outcome::Failed ? "failed at " + ShortPhase(report.Failure.Where)
                                                 : std::string(report.Result == Outcome::Updated ? "updated"
                                                                                                 : ToString(report.Result));
    cell.Text += cell.Recovered ? ", recovered" : ", **NOT recovered**";
    if (cell.Recovered && !cell.Problems.empty())
        cell.Text += ", **not as designed**";
    cell.Transcript = world.Transcript();
    return cell;
}

std::string RenderSection(const std::vector<RowResult>& rows, const Calibration& calibration)
{
    std::string text;
    text += "<!-- Generated by test_fault_matrix (FaultMatrix.EveryFaultAtEveryStep...): do not edit by hand; "
            "scripts/fault-matrix.sh rewrites it. -->\n\n";
    for (std::size_t i = 0; i < 2; ++i) {
        const RequestCounts& counts = calibration.Counts[i];
        text += std::string("- The ") + kDeviceNames[i] + "'s clean update sends " + std::to_string(counts.Erases) +
                " erases, " + std::to_string(counts.DataBlocks) + " data blocks and " +
                std::to_string(counts.SetAddresses) + " set-address commands; \"middle\" is number " +
                std::to_string(counts.Erases / 2 + 1) + " of the erases and number " +
                std::to_string(counts.DataBlocks / 2 + 1) + " of the blocks sent.\n";
    }
    std::size_t cells = 0;
    std::size_t recovered = 0;
    std::size_t asDesigned = 0;
    for (const RowResult& row : rows) {
        for (const CellResult& cell : row.Cells) {
            ++cells;
            recovered += cell.Recovered ? 1 : 0;
            asDesigned += cell.Problems.empty() ? 1 : 0;
        }
    }
    text += "\n" + std::to_string(cells) + " cells: " + std::to_string(asDesigned) + " end as designed, " +
            std::to_string(recovered) + " recovered by the rerun.\n";
    text += "\n| step | fault |";
    for (const Column& column : AllColumns())
        text += " " + ColumnLabel(column) + " |";
    text += "\n|---|---|";
    for (std::size_t i = 0; i < AllColumns().size(); ++i)
        text += "---|";
    text += "\n";
    for (const RowResult& row : rows) {
        text += "| " + row.Row.Step + " | " + ToString(row.Row.Kind) + " |";
        for (const CellResult& cell : row.Cells)
            text += " " + cell.Text + " |";
        text += "\n";
    }
    return text;
}

namespace {

struct SectionBounds {
    std::size_t Begin = 0; // first character after the begin marker's line
    std::size_t End = 0;   // first character of the end marker's line
};

std::optional<SectionBounds> FindSection(const std::string& document)
{
    const std::string begin = std::string(kBeginMarker) + "\n";
    const std::string end = std::string("\n") + kEndMarker;
    const std::size_t at = document.find(begin);
    if (at == std::string::npos || (at > 0 && document[at - 1] != '\n'))
        return std::nullopt;
    const std::size_t stop = document.find(end, at + begin.size() - 1);
    if (stop == std::string::npos)
        return std::nullopt;
    return SectionBounds{at + begin.size(), stop + 1};
}

std::vector<std::string> Lines(const std::string& text)
{
    std::vector<std::string> lines;
    std::size_t at = 0;
    while (at < text.size()) {
        const std::size_t end = text.find('\n', at);
        lines.push_back(text.substr(at, end == std::string::npos ? std::string::npos : end - at));
        at = end == std::string::npos ? text.size() : end + 1;
    }
    return lines;
}

} // namespace

std::string CompareSection(const std::string& document, const std::string& section)
{
    const std::optional<SectionBounds> bounds = FindSection(document);
    if (!bounds)
        return "the document has no line \"" + std::string(kBeginMarker) + "\" followed by a line \"" + kEndMarker + "\"";
    const std::vector<std::string> have = Lines(document.substr(bounds->Begin, bounds->End - bounds->Begin));
    const std::vector<std::string> want = Lines(section);
    for (std::size_t i = 0; i < std::max(have.size(), want.size()); ++i) {
        if (i < have.size() && i < want.size() && have[i] == want[i])
            continue;
        const std::string documentSide = i < have.size() ? "\"" + have[i] + "\"" : "nothing (its section ends)";
        const std::string runSide = i < want.size() ? "\"" + want[i] + "\"" : "nothing (its section ends)";
        return "line " + std::to_string(i + 1) + " of the section: the document has " + documentSide +
               ", the run produced " + runSide;
    }
    return {};
}

std::string ReplaceSection(const std::string& document, const std::string& section, std::string& rewritten)
{
    const std::optional<SectionBounds> bounds = FindSection(document);
    if (!bounds)
        return "the document has no line \"" + std::string(kBeginMarker) + "\" followed by a line \"" + kEndMarker + "\"";
    rewritten = document.substr(0, bounds->Begin) + section + document.substr(bounds->End);
    return {};
}

} // namespace FaultMatrix
