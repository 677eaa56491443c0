// The real program, ended at every point of an update of either device, then started again as a
// user starts it: the same silent command, no special option. Ended twice over: by SIGKILL (the
// device keeps its power and finishes what it had received) and by a power cut (the process is
// killed and every device loses power, then boots by its image's first word). Either way the
// second run must leave the device on its new firmware, the other device on its own, the settings
// as they were and no temporary file behind.
//
// The point is reached deterministically: the device holds its answer there (the simulator's hold
// fault), the run says so on its debug output, and the process is killed while it waits.
// The table of what each rerun found and did is in docs/RELIABILITY.md; this test makes it and
// fails when the page says something else (ZT_WRITE_KILL_TABLE=1 writes it there instead).

#include "tests/FirmwareUpdater/Panel/ProcessRunner.h"

#include "FirmwareUpdater/Panel/Engine/DfuSeFirmwareFile.h"
#include "FirmwareUpdater/Panel/Engine/ProductDevice.h"
#include "FirmwareUpdater/Panel/Engine/UpdateHistory.h"
#include "Simulator/FirmwareVersionRecord.h"
#include "Simulator/SimulatedFlash.h"
#include "Simulator/SimulatorStateFile.h"
#include "tests/Support/Printers.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace {

namespace fs = std::filesystem;
using UpdaterProcess::Contains;
using UpdaterProcess::Describe;
using UpdaterProcess::Result;
using UpdaterProcess::Sandbox;
using Power = CSimulatorStateFile::Power;

// Devices 20 times faster than real ones; the program's own waits stay as they are.
constexpr const char* kTimeFactor = "time-factor=0.05";
// Runs at once: the runs mostly wait on the simulated devices' clock, not on a processor.
constexpr unsigned kParallelCells = 6;
constexpr const char* kFolderInSettings = "Halvard/XR4000 NOVA Firmware Updater";
constexpr const char* kTableBegin = "<!-- kill-table: begin (made by test_kill_recovery) -->";
constexpr const char* kTableEnd = "<!-- kill-table: end -->";

enum class Cut { Kill, PowerCut };

std::string ReadWhole(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// ---- The firmware files beside the program ----------------------------------------------------

struct Image {
    std::uint32_t Address = 0;
    std::vector<std::uint8_t> Bytes; // the element, as the download writes it
    std::uint32_t Blocks = 0;
    std::uint32_t Erases = 0; // sectors of the device's erase list that the element reaches
    std::string Error;
};

Image ReadImage(const ProductDevice& device)
{
    Image image;
    const auto path = fs::path(UpdaterProcess::BinaryPath()).parent_path() /
                      fs::path(ZT::WString(device.FirmwareFileName).ToUTF8());
    const auto file = LDfuSeFirmwareFile::Create();
    if (file->Open(ZT::WString(path.string().c_str()), CSimulatorStateFile::kPageSize) != ZT::S_OK) {
        image.Error = "cannot open " + path.string();
        return image;
    }
    image.Address = file->GetElementAddress();
    image.Blocks = file->GetBlockCount();
    const std::uint64_t end = image.Address + static_cast<std::uint64_t>(image.Blocks) * CSimulatorStateFile::kPageSize;
    image.Erases = static_cast<std::uint32_t>(std::count_if(device.EraseSectors.begin(), device.EraseSectors.end(),
                                                            [end](std::uint32_t sector) { return sector < end; }));
    for (std::uint16_t block = 0; block < image.Blocks; ++block) {
        std::vector<std::uint8_t> bytes(CSimulatorStateFile::kPageSize);
        std::uint16_t length = static_cast<std::uint16_t>(bytes.size());
        if (file->ReadBlock(block, bytes.data(), length) != ZT::S_OK) {
            image.Error = "cannot read block " + std::to_string(block) + " of " + path.string();
            return image;
        }
        image.Bytes.insert(image.Bytes.end(), bytes.begin(), bytes.begin() + length);
    }
    return image;
}

// ---- Devices as the state file keeps them -----------------------------------------------------

std::vector<std::uint8_t> FlashOf(const CSimulatorStateFile::Device& device)
{
    std::vector<std::uint8_t> flash(LSimulatedFlash::kSize, 0xFF);
    for (const auto& page : device.Pages)
        std::copy(page.Bytes.begin(), page.Bytes.end(), flash.begin() + (page.Address - LSimulatedFlash::kBaseAddress));
    return flash;
}

// Where flash differs from image at its address, or empty when it holds all of it.
std::string ImageDifference(const std::vector<std::uint8_t>& flash, const Image& image)
{
    const std::size_t start = image.Address - LSimulatedFlash::kBaseAddress;
    for (std::size_t offset = 0; offset < image.Bytes.size(); ++offset) {
        if (flash[start + offset] != image.Bytes[offset]) {
            char text[96];
            std::snprintf(text, sizeof text, "flash differs from the file at 0x%08X: 0x%02X instead of 0x%02X",
                          static_cast<unsigned>(image.Address + offset), flash[start + offset], image.Bytes[offset]);
            return text;
        }
    }
    return "";
}

std::string VersionText(std::uint16_t release)
{
    char text[8];
    std::snprintf(text, sizeof text, "%02X.%02X", release >> 8, release & 0xFF);
    return text;
}

// How the next run finds a device: "normal mode, 00.30", "bootloader, dfuDNLOAD-IDLE", ...
std::string Found(const CSimulatorStateFile::Device& device)
{
    const std::vector<std::uint8_t> flash = FlashOf(device);
    std::optional<std::uint16_t> release;
    const auto application =
        std::span<const std::uint8_t>(flash).subspan(kApplicationStartAddress - LSimulatedFlash::kBaseAddress);
    const FirmwareImageCheck check = CheckFirmwareImage(application, &release);
    switch (device.State) {
    case Power::Bootloader:
        return std::string("bootloader, ") + ZT::ToString(device.Bootloader.State);
    case Power::RunningBrokenImage:
        return "crashed in a broken image";
    case Power::Running:
    case Power::PoweredOff: {
        const std::uint32_t firstWord = static_cast<std::uint32_t>(application[0]) | (application[1] << 8) |
                                        (application[2] << 16) | (static_cast<std::uint32_t>(application[3]) << 24);
        if (!IsPlausibleStackPointer(firstWord))
            return "bootloader, dfuIDLE (first word erased)";
        if (check != FirmwareImageCheck::Valid || !release)
            return std::string("a broken image that starts (") + FirmwareImageCheckName(check) + ")";
        return "normal mode, " + VersionText(*release);
    }
    }
    return "?";
}

// ---- One cell: a phase of one device, ended one way ---------------------------------------------

struct Phase {
    const char* Name;
    // The device's hold there (its -SIMULATE_DEVICES item), given the device's image.
    std::function<std::string(const Image&)> Hold;
};

const std::vector<Phase>& Phases()
{
    static const std::vector<Phase> phases{
        {"mode-switch message", [](const Image&) { return std::string("update-mode-message"); }},
        {"bootloader search", [](const Image&) { return std::string("bootloader-appearance"); }},
        {"idle check", [](const Image&) { return std::string("first-request"); }},
        {"erase, first sector", [](const Image&) { return std::string("erase:0"); }},
        {"erase, middle sector", [](const Image& image) { return "erase:" + std::to_string(image.Erases / 2); }},
        {"erase, last sector", [](const Image& image) { return "erase:" + std::to_string(image.Erases - 1); }},
        // Data blocks in the order they go out: the image's second block first, its first block last.
        {"first data block", [](const Image&) { return std::string("block:0"); }},
        {"middle data block", [](const Image& image) { return "block:" + std::to_string(image.Blocks / 2); }},
        {"last data block", [](const Image& image) { return "block:" + std::to_string(image.Blocks - 2); }},
        {"first block, written last",
         [](const Image& image) { return "block:" + std::to_string(image.Blocks - 1); }},
        {"set-address before the leave",
         [](const Image& image) { return "set-address-after-blocks:" + std::to_string(image.Blocks); }},
        {"leave", [](const Image&) { return std::string("leave"); }},
        {"return", [](const Image&) { return std::string("return"); }},
    };
    return phases;
}

struct Cell {
    const Phase* phase = nullptr;
    const ProductDevice* device = nullptr;
    Cut cut = Cut::Kill;

    [[nodiscard]] std::string Name() const
    {
        return std::string(phase->Name) + ", " + DeviceName() + ", " + (cut == Cut::Kill ? "SIGKILL" : "power cut");
    }
    [[nodiscard]] std::string DeviceName() const
    {
        return device->DeviceKind == ProductDevice::Kind::Controller ? "controller" : "wheel display";
    }
    [[nodiscard]] std::string SummaryName() const
    {
        return device->DeviceKind == ProductDevice::Kind::Controller ? "Controller" : "Wheel display";
    }
};

struct CellResult {
    std::vector<std::string> Faults; // empty: recovered
    std::string Found;               // how the second run found the device
    std::string Did;                 // the second run's summary line for it
};

struct Files {
    Image Controller;
    Image Display;
    [[nodiscard]] const Image& Of(const ProductDevice& device) const
    {
        return device.DeviceKind == ProductDevice::Kind::Controller ? Controller : Display;
    }
};

// Every regular file below folder, relative to it.
std::set<std::string> FilesBelow(const fs::path& folder)
{
    std::set<std::string> found;
    std::error_code error;
    for (const auto& entry : fs::recursive_directory_iterator(folder, error)) {
        if (!entry.is_directory())
            found.insert(fs::relative(entry.path(), folder).string());
    }
    return found;
}

std::string Tail(const std::string& text, std::size_t lines = 12)
{
    std::size_t at = text.size();
    for (std::size_t n = 0; n <= lines && at != std::string::npos && at > 0; ++n)
        at = text.rfind('\n', at - 1);
    return at == std::string::npos ? text : text.substr(at + 1);
}

// The line of the run's summary for the device ("Controller: updated to 00.31").
std::string SummaryLine(const std::string& output, const std::string& device)
{
    for (const char* outcome : {": updated", ": already current", ": failed", ": not attempted"}) {
        const std::string start = device + outcome;
        const std::size_t at = output.rfind("\n" + start);
        if (at != std::string::npos)
            return output.substr(at + 1, output.find('\n', at + 1) - at - 1);
    }
    return "no summary line for the " + device;
}

CellResult RunCell(const Cell& cell, const Files& files, const std::set<std::string>& programFolderBefore)
{
    CellResult result;
    const auto fault = [&](const std::string& text) { result.Faults.push_back(text); };
    const bool controllerCell = cell.device->DeviceKind == ProductDevice::Kind::Controller;
    const ProductDevice& other = controllerCell ? kWheelDisplayDevice : kControllerDevice;
    const Image& image = files.Of(*cell.device);

    Sandbox sandbox;
    const fs::path stateFile = sandbox.Folder() / "devices.state";
    // The controller's cells start with both devices old; the wheel display's with the
    // controller current already, so that the run goes straight to the wheel display.
    {
        auto simulator = ZT::MakeRC<LDeviceSimulator>(0.0);
        simulator->AddDevice(SimulatedDeviceKind::Controller, controllerCell ? 0x0030 : 0x0031);
        simulator->AddDevice(SimulatedDeviceKind::WheelDisplay, 0x0049);
        std::string error;
        if (!CSimulatorStateFile::Write(stateFile.string(), CSimulatorStateFile::Capture(*simulator), error)) {
            fault("cannot write the first state file: " + error);
            return result;
        }
    }
    std::string error;
    const auto before = CSimulatorStateFile::Read(stateFile.string(), error);
    if (!before || before->size() != 2) {
        fault("cannot read the first state file: " + error);
        return result;
    }
    const std::vector<std::uint8_t> otherFlashBefore = FlashOf((*before)[controllerCell ? 1 : 0]);

    // Settings a user has: they must come out of both runs as they went in.
    const std::map<fs::path, std::string> settings{
        {sandbox.Folder() / "config" / kFolderInSettings / "UserSettings.ini",
         "[Window]\nLeft=120\nTop=80\nSkinIndex=1\n"},
        {sandbox.Folder() / "data" / kFolderInSettings / "AppSettings.ini", "[Application]\nRuns=7\n"},
    };
    for (const auto& [path, text] : settings) {
        fs::create_directories(path.parent_path());
        std::ofstream(path, std::ios::binary) << text;
    }

    const std::string program = UpdaterProcess::BinaryPath();
    const std::string devices = "-SIMULATE_DEVICES=state=" + stateFile.string() + "," + kTimeFactor;
    const std::string hold = (controllerCell ? "controller:hold=" : "display:hold=") + cell.phase->Hold(image);
    const std::string holdLine = std::string("Simulator: the ") + cell.DeviceName() + " holds ";
    bool killed = false;
    const auto watcher = [&](int processId, const std::string& standardError) {
        if (killed || !Contains(standardError, holdLine))
            return;
        // The device kept its state before it said so; the pause lets a save another thread
        // had under way finish, as it would before a user's hand reaches the plug.
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        ::kill(processId, SIGKILL);
        killed = true;
    };
    const Result first =
        sandbox.RunUpdater({program, "-SILENT", "-DEBUG_CONSOLE", devices + "," + hold}, std::chrono::seconds(60), watcher);
    if (!killed || first.Signal != SIGKILL) {
        fault("the first run (" + hold + ") was not killed at its hold: " + Describe(first));
        return result;
    }

    auto kept = CSimulatorStateFile::Read(stateFile.string(), error);
    if (!kept || kept->size() != 2) {
        fault("the killed run left no state file that can be read: " + error);
        return result;
    }
    if (cell.cut == Cut::PowerCut) {
        CSimulatorStateFile::CutPower(*kept);
        if (!CSimulatorStateFile::Write(stateFile.string(), *kept, error)) {
            fault("cannot cut the power in the state file: " + error);
            return result;
        }
    }
    result.Found = Found((*kept)[controllerCell ? 0 : 1]);
    const fs::path recordFolder = sandbox.Folder() / "state" / kFolderInSettings;
    const std::vector<std::string> historyBefore =
        CUpdateHistory::ReadLines((recordFolder / CUpdateHistory::kFileName).string());
    const std::string serialsBefore = ReadWhole(recordFolder / "bootloader-serials");

    // Again, as a user starts it.
    const Result second = sandbox.RunUpdater({program, "-SILENT", "-DEBUG_CONSOLE", devices}, std::chrono::seconds(60));
    result.Did = SummaryLine(second.StandardError, cell.SummaryName());
    if (second.TimedOut || second.Signal != 0 || second.ExitCode != 0)
        fault("the second run did not end well: " + Describe(second));

    const auto after = CSimulatorStateFile::Read(stateFile.string(), error);
    if (!after || after->size() != 2) {
        fault("the second run left no state file that can be read: " + error);
        return result;
    }
    const CSimulatorStateFile::Device& target = (*after)[controllerCell ? 0 : 1];
    const CSimulatorStateFile::Device& otherDevice = (*after)[controllerCell ? 1 : 0];
    if (target.State != Power::Running)
        fault("the " + cell.DeviceName() + " does not run after the second run: " + Found(target));
    if (const std::string difference = ImageDifference(FlashOf(target), image); !difference.empty())
        fault("the " + cell.DeviceName() + "'s " + difference);
    if (Found(target) != "normal mode, " + VersionText(cell.device->FirmwareRelease))
        fault("the " + cell.DeviceName() + " shows " + Found(target) + ", not the file's version");
    if (!Contains(result.Did, "updated to " + VersionText(cell.device->FirmwareRelease)) &&
        !Contains(result.Did, "already current (" + VersionText(cell.device->FirmwareRelease) + ")"))
        fault("the second run's summary says \"" + result.Did + "\"\n" + Tail(second.StandardError));

    // The other device: the controller's cells end with the wheel display updated as well;
    // the wheel display's leave the controller as it was.
    if (otherDevice.State != Power::Running)
        fault("the " + std::string(controllerCell ? "wheel display" : "controller") + " does not run: " + Found(otherDevice));
    const std::string otherDifference = controllerCell ? ImageDifference(FlashOf(otherDevice), files.Of(other))
                                                       : (FlashOf(otherDevice) == otherFlashBefore ? "" : "flash changed");
    if (!otherDifference.empty())
        fault("the " + std::string(controllerCell ? "wheel display" : "controller") + " does not hold its own image: " +
              otherDifference);

    for (const auto& [path, text] : settings) {
        if (ReadWhole(path) != text)
            fault(path.filename().string() + " changed: \"" + ReadWhole(path) + "\"");
    }
    const std::vector<std::string> historyAfter =
        CUpdateHistory::ReadLines((recordFolder / CUpdateHistory::kFileName).string());
    if (historyAfter.size() < historyBefore.size() ||
        !std::equal(historyBefore.begin(), historyBefore.end(), historyAfter.begin()))
        fault("the update history lost lines: " + std::to_string(historyBefore.size()) + " before, " +
              std::to_string(historyAfter.size()) + " after");
    const std::string serialsAfter = ReadWhole(recordFolder / "bootloader-serials");
    std::istringstream serialLines(serialsBefore);
    for (std::string line; std::getline(serialLines, line);) {
        if (!Contains(serialsAfter, line))
            fault("the bootloader record lost \"" + line + "\"");
    }

    // No file but these, anywhere the runs write.
    const std::set<std::string> expected{"devices.state",
                                         "config/" + std::string(kFolderInSettings) + "/UserSettings.ini",
                                         "data/" + std::string(kFolderInSettings) + "/AppSettings.ini",
                                         "state/" + std::string(kFolderInSettings) + "/" + CUpdateHistory::kFileName,
                                         "state/" + std::string(kFolderInSettings) + "/bootloader-serials"};
    for (const std::string& file : FilesBelow(sandbox.Folder())) {
        const bool lock = file.rfind("run/", 0) == 0 && file.size() > 5 && file.substr(file.size() - 5) == ".lock";
        if (!expected.contains(file) && !lock)
            fault("a file was left behind: " + file);
    }
    for (const std::string& file : FilesBelow(fs::path(program).parent_path())) {
        if (!programFolderBefore.contains(file))
            fault("a file was left beside the program and its firmware files: " + file);
    }
    return result;
}

// ---- The table ---------------------------------------------------------------------------------

std::string Table(const std::vector<Cell>& cells, const std::vector<CellResult>& results)
{
    const auto column = [](const CellResult& result) {
        return std::string(result.Faults.empty() ? "yes" : "**no**") + ": found " + result.Found + "; \"" + result.Did +
               "\"";
    };
    std::string table = "| phase | device | SIGKILL, then run again | power cut, then run again |\n|---|---|---|---|\n";
    for (std::size_t i = 0; i + 1 < cells.size(); i += 2) {
        table += "| " + std::string(cells[i].phase->Name) + " | " + cells[i].DeviceName() + " | " + column(results[i]) +
                 " | " + column(results[i + 1]) + " |\n";
    }
    return table;
}

TEST(KillRecovery, EveryPhaseOfEitherDeviceEndedByAKillOrAPowerCutIsFinishedByTheNextRun)
{
    const Files files{ReadImage(kControllerDevice), ReadImage(kWheelDisplayDevice)};
    ASSERT_EQ(files.Controller.Error, "");
    ASSERT_EQ(files.Display.Error, "");
    ASSERT_GE(files.Controller.Blocks, 4u);
    ASSERT_GE(files.Display.Blocks, 4u);
    ASSERT_GE(files.Controller.Erases, 3u) << "no middle sector to erase";
    ASSERT_GE(files.Display.Erases, 3u) << "no middle sector to erase";

    std::vector<Cell> cells;
    for (const ProductDevice* device : {&kControllerDevice, &kWheelDisplayDevice}) {
        for (const Phase& phase : Phases()) {
            for (const Cut cut : {Cut::Kill, Cut::PowerCut})
                cells.push_back(Cell{&phase, device, cut});
        }
    }
    const std::set<std::string> programFolder = FilesBelow(fs::path(UpdaterProcess::BinaryPath()).parent_path());

    std::vector<CellResult> results(cells.size());
    std::atomic<std::size_t> next{0};
    std::vector<std::thread> workers;
    for (unsigned worker = 0; worker < kParallelCells; ++worker) {
        workers.emplace_back([&] {
            for (std::size_t i = next++; i < cells.size(); i = next++)
                results[i] = RunCell(cells[i], files, programFolder);
        });
    }
    for (std::thread& worker : workers)
        worker.join();

    for (std::size_t i = 0; i < cells.size(); ++i) {
        for (const std::string& fault : results[i].Faults)
            ADD_FAILURE() << cells[i].Name() << ": " << fault;
    }

    // The page's table is this one.
    const std::string table = Table(cells, results);
    const fs::path page = fs::path(ZT_SOURCE_DIR) / "docs" / "RELIABILITY.md";
    std::string text = ReadWhole(page);
    const std::size_t begin = text.find(kTableBegin);
    const std::size_t end = text.find(kTableEnd);
    ASSERT_TRUE(begin != std::string::npos && end != std::string::npos && begin < end)
        << page << " has no table between \"" << kTableBegin << "\" and \"" << kTableEnd << "\"";
    const std::size_t from = begin + std::string(kTableBegin).size() + 1;
    const std::string shown = text.substr(from, end - from);
    if (const char* write = std::getenv("ZT_WRITE_KILL_TABLE"); write && std::string(write) == "1") {
        text.replace(from, end - from, table);
        std::ofstream(page, std::ios::binary) << text;
    } else {
        EXPECT_EQ(shown, table) << page << " shows another table than the runs made (ZT_WRITE_KILL_TABLE=1 "
                                           "writes this one there)";
    }
}

} // namespace
