#include "Simulator/SimulatedDevicesSetup.h"

#include "Simulator/SimulatedDevice.h"
#include "Simulator/SimulatorStateFile.h"
#include "Simulator/SimulatorText.h"

#include <cerrno>
#include <charconv>
#include <cmath>
#include <memory>
#include <mutex>

#include <sys/stat.h>

namespace {

std::optional<std::uint32_t> ParseCount(std::string_view text)
{
    std::uint32_t value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size() || text.empty())
        return std::nullopt;
    return value;
}

std::optional<double> ParseFactor(std::string_view text)
{
    // from_chars for double is not in every standard library this builds with; strtod needs a
    // terminated copy.
    const std::string copy(text);
    if (copy.empty())
        return std::nullopt;
    char* end = nullptr;
    const double value = std::strtod(copy.c_str(), &end);
    if (end != copy.c_str() + copy.size() || !std::isfinite(value) || value <= 0.0 ||
        value > SimulatedDevicesSetup::kMaxTimeFactor)
        return std::nullopt;
    return value;
}

// Applies one fault (name and the number after "=", when any); false for an unknown name or a
// missing or malformed number.
bool ApplyFault(SimulatedDeviceFaults& faults, const std::string& name, std::optional<std::string_view> number)
{
    const std::optional<std::uint32_t> count = number ? ParseCount(*number) : std::nullopt;
    const auto flag = [&](bool& field) {
        if (number)
            return false;
        field = true;
        return true;
    };
    const auto counted = [&](std::optional<std::uint32_t>& field) {
        if (!count)
            return false;
        field = *count;
        return true;
    };
    if (name == "no-midi-port")
        return flag(faults.noMidiPort);
    if (name == "ignores-update-mode-request")
        return flag(faults.ignoresUpdateModeRequest);
    if (name == "midi-send-never-completes")
        return flag(faults.midiSendNeverCompletes);
    if (name == "bootloader-never-appears")
        return flag(faults.bootloaderNeverAppears);
    if (name == "bootloader-starts-in-error")
        return flag(faults.bootloaderStartsInError);
    if (name == "stall-on-erase")
        return flag(faults.stallOnErase);
    if (name == "no-return-after-leave")
        return flag(faults.noReturnAfterLeave);
    if (name == "slow-return")
        return flag(faults.slowReturn);
    if (name == "image-check")
        return flag(faults.checksImage);
    if (name == "identity-from-image")
        return flag(faults.identityFromImage);
    if (name == "erase-busy-at-once")
        return flag(faults.eraseBusyAtOnce);
    if (name == "manifest-waits-for-reset")
        return flag(faults.manifestWaitsForReset);
    if (name == "stall-after-blocks")
        return counted(faults.stallAfterBlocks);
    if (name == "no-answer-after-blocks")
        return counted(faults.noAnswerAfterBlocks);
    if (name == "unplug-after-blocks")
        return counted(faults.unplugAfterBlocks);
    if (name == "busy-block")
        return counted(faults.busyBlockIndex);
    if (name == "at") {
        const std::optional<SimulatedFaultAt> point = number ? ParseFaultAt(*number) : std::nullopt;
        if (!point)
            return false;
        faults.at = *point;
        return true;
    }
    if (name == "hold") {
        const std::optional<SimulatedDeviceHold> hold = number ? SimulatedDeviceHold::Parse(*number) : std::nullopt;
        if (!hold)
            return false;
        faults.hold = hold;
        return true;
    }
    if (name == "busy-replies") {
        if (!count)
            return false;
        faults.busyBlockStatusReplies = *count;
        return true;
    }
    return false;
}

// A device item: a version, "dfu" or "-"; an empty item keeps the default.
// Device items are empty, "-", "dfu" or a version, which starts with a digit or a dot; every
// other item starts with a letter.
bool StartsLikeOption(std::string_view item)
{
    if (item.empty() || LowerAscii(item) == "dfu")
        return false;
    return std::isalpha(static_cast<unsigned char>(item.front())) != 0;
}

bool ParseDeviceItem(std::string_view item, SimulatedDevicesSetup::Device& device)
{
    if (item.empty())
        return true;
    const std::string lower = LowerAscii(item);
    if (lower == "-") {
        device.Present = false;
        return true;
    }
    if (lower == "dfu") {
        device.ReleaseNumber.reset();
        return true;
    }
    const std::optional<std::uint16_t> release = SimulatedDevicesSetup::ParseVersion(item);
    if (!release)
        return false;
    device.ReleaseNumber = release;
    return true;
}

// Writes the simulator's devices to the state file when they change, on the thread that changed
// them. One save at a time: a change reported while a save runs (on another thread, or by the
// snapshot of the save itself) makes that save run once more instead of waiting for it.
class StateSaver {
public:
    StateSaver(std::string path, LDeviceSimulator& simulator) : mPath(std::move(path)), mSimulator(simulator) {}

    void Changed(bool modeChanged)
    {
        {
            std::lock_guard lock(mMutex);
            const std::uint64_t now = mSimulator.GetBus()->NowMs();
            if (!modeChanged && mLastSaveMs && now - *mLastSaveMs < SimulatedDevicesSetup::kStateSaveIntervalMs)
                return;
            mPending = true;
            if (mSaving)
                return;
            mSaving = true;
        }
        for (;;) {
            {
                std::lock_guard lock(mMutex);
                if (!mPending) {
                    mSaving = false;
                    return;
                }
                mPending = false;
                mLastSaveMs = mSimulator.GetBus()->NowMs();
            }
            std::string error;
            // A failure leaves the path as it was; SaveState at the end of the run reports it.
            (void)CSimulatorStateFile::Write(mPath, CSimulatorStateFile::Capture(mSimulator), error);
        }
    }

private:
    const std::string mPath;
    LDeviceSimulator& mSimulator; // owns the hook that owns this saver
    std::mutex mMutex;
    // Guarded by mMutex.
    bool mSaving = false;
    bool mPending = false;
    std::optional<std::uint64_t> mLastSaveMs;
};

} // namespace

std::optional<std::uint16_t> SimulatedDevicesSetup::ParseVersion(std::string_view text)
{
    const std::size_t dot = text.find('.');
    if (dot == std::string_view::npos)
        return std::nullopt;
    const std::string_view major = text.substr(0, dot);
    const std::string_view minor = text.substr(dot + 1);
    const auto digits = [](std::string_view part) {
        if (part.empty() || part.size() > 2)
            return false;
        for (const char c : part) {
            if (c < '0' || c > '9')
                return false;
        }
        return true;
    };
    if (!digits(major) || !digits(minor))
        return std::nullopt;
    // Each decimal digit is one hexadecimal digit of the release number: "00.31" is 0x0031.
    const auto nibbles = [](std::string_view part) {
        std::uint16_t value = 0;
        for (const char c : part)
            value = static_cast<std::uint16_t>((value << 4) | static_cast<std::uint16_t>(c - '0'));
        return value;
    };
    return static_cast<std::uint16_t>((nibbles(major) << 8) | nibbles(minor));
}

SimulatedDevicesSetup SimulatedDevicesSetup::Parse(std::string_view value)
{
    SimulatedDevicesSetup setup;
    std::size_t index = 0;
    std::size_t start = 0;
    while (start <= value.size()) {
        std::size_t comma = value.find(',', start);
        if (comma == std::string_view::npos)
            comma = value.size();
        const std::string_view item = value.substr(start, comma - start);
        start = comma + 1;
        std::size_t position = index++;
        // The two device items may be left out: an item that starts like an option ("state=...",
        // a fault) ends them, so "-SIMULATE_DEVICES=state=FILE" keeps the devices of FILE.
        if (position < 2 && StartsLikeOption(item)) {
            index = 2;
            position = 2;
        }

        if (position == 0 || position == 1) {
            if (!ParseDeviceItem(item, position == 0 ? setup.Controller : setup.Display))
                setup.Unrecognised.emplace_back(item);
            continue;
        }
        if (item.empty())
            continue;

        const std::size_t equals = item.find('=');
        const std::string key = LowerAscii(item.substr(0, equals));
        const std::optional<std::string_view> argument =
            equals == std::string_view::npos ? std::nullopt : std::optional(item.substr(equals + 1));
        if (key == "state" && argument) {
            if (argument->empty())
                setup.Unrecognised.emplace_back(item);
            else
                setup.StateFile = std::string(*argument); // the path keeps its case
            continue;
        }
        if (key == "time-factor" && argument) {
            if (const std::optional<double> factor = ParseFactor(*argument))
                setup.TimeFactor = *factor;
            else
                setup.Unrecognised.emplace_back(item);
            continue;
        }
        if (key == "enumeration-fails" && !argument) {
            setup.EnumerationFails = true;
            continue;
        }

        std::string fault = key;
        bool controller = true;
        bool display = true;
        if (fault.rfind("controller:", 0) == 0) {
            fault.erase(0, 11);
            display = false;
        } else if (fault.rfind("display:", 0) == 0) {
            fault.erase(0, 8);
            controller = false;
        }
        SimulatedDeviceFaults controllerFaults = setup.Controller.Faults;
        SimulatedDeviceFaults displayFaults = setup.Display.Faults;
        const bool known = (!controller || ApplyFault(controllerFaults, fault, argument)) &&
                           (!display || ApplyFault(displayFaults, fault, argument));
        if (!known) {
            setup.Unrecognised.emplace_back(item);
            continue;
        }
        setup.Controller.Faults = controllerFaults;
        setup.Display.Faults = displayFaults;
    }
    return setup;
}

ZT::RCPtr<LDeviceSimulator> SimulatedDevicesSetup::CreateSimulator(std::string& stateMessage) const
{
    stateMessage.clear();
    auto simulator = ZT::MakeRC<LDeviceSimulator>(TimeFactor);
    simulator->SetEnumerationFails(EnumerationFails);

    std::vector<ZT::RCPtr<LSimulatedDevice>> devices;
    bool restored = false;
    if (!StateFile.empty()) {
        struct stat status {};
        if (::lstat(StateFile.c_str(), &status) != 0 && errno == ENOENT) {
            stateMessage = "Simulator: " + StateFile + " does not exist yet; it will keep the devices of this run";
        } else {
            std::string error;
            if (const auto saved = CSimulatorStateFile::Read(StateFile, error)) {
                devices = CSimulatorStateFile::Restore(*simulator, *saved, Controller.Faults, Display.Faults);
                restored = true;
                stateMessage = "Simulator: devices restored from " + StateFile;
            } else {
                stateMessage = "Simulator: state not used (" + error + "); starting from the command line's devices";
            }
        }
    }
    if (!restored) {
        if (Controller.Present)
            devices.push_back(simulator->AddDevice(SimulatedDeviceKind::Controller, Controller.ReleaseNumber));
        if (Display.Present)
            devices.push_back(simulator->AddDevice(SimulatedDeviceKind::WheelDisplay, Display.ReleaseNumber));
    }
    for (const ZT::RCPtr<LSimulatedDevice>& device : devices)
        device->SetFaults(device->GetKind() == SimulatedDeviceKind::Controller ? Controller.Faults : Display.Faults);
    InstallStateSaver(*simulator);
    return simulator;
}

void SimulatedDevicesSetup::InstallStateSaver(LDeviceSimulator& simulator) const
{
    if (StateFile.empty())
        return;
    auto saver = std::make_shared<StateSaver>(StateFile, simulator);
    simulator.SetChangeHook([saver](bool modeChanged) { saver->Changed(modeChanged); });
}

bool SimulatedDevicesSetup::SaveState(LDeviceSimulator& simulator, std::string& message) const
{
    message.clear();
    if (StateFile.empty())
        return true;
    simulator.SetChangeHook(nullptr);
    std::string error;
    if (!CSimulatorStateFile::Write(StateFile, CSimulatorStateFile::Capture(simulator), error)) {
        message = "Simulator: devices not kept (" + error + ")";
        return false;
    }
    message = "Simulator: devices kept in " + StateFile;
    return true;
}
