#include "FirmwareUpdater/Panel/Engine/UpdateProcessor.h"

#include "FirmwareUpdater/Panel/Engine/ApplicationFolder.h"
#include "FirmwareUpdater/Panel/Engine/CommandLineOption.h"
#include "FirmwareUpdater/Panel/Engine/DfuSeFirmwareFile.h"
#include "FirmwareUpdater/Panel/Engine/UpdateEngine.h"
#include "FirmwareUpdater/Panel/Engine/UpdateProcessorHost.h"
#include "FirmwareUpdater/Panel/Engine/UpdateTarget.h"
#include "ZTFramework/Debug/DebugLine.h"
#include "ZTFramework/Errors/Exception.h"
#include "ZTFramework/Time/Clock.h"

#include <atomic>
#include <cstdio>
#include <exception>
#include <vector>

using ZT::ZTRESULT;

namespace {

std::atomic<std::int32_t> gExitStatus{0};

const char* YesNo(bool value)
{
    return value ? "yes" : "no";
}

} // namespace

LUpdateProcessor::LUpdateProcessor(const IUpdateTarget& target, IScanPreparer& preparer)
    : mEngine(ZT::MakeRC<LUpdateEngine>())
{
    mEngine->SetUpdateTarget(&target);
    mEngine->SetScanPreparer(&preparer);
}

LUpdateProcessor::~LUpdateProcessor() = default;

bool LUpdateProcessor::GetCommandLineOption(const ZT::WString& commandLine, const ZT::WString& name, ZT::WString& value)
{
    return CommandLineOption::Get(commandLine, name, value);
}

bool LUpdateProcessor::HasOption(const wchar_t* name) const
{
    ZT::WString ignored;
    return GetCommandLineOption(mCommandLine, ZT::WString(name), ignored);
}

std::int32_t LUpdateProcessor::GetExitStatus() noexcept
{
    return gExitStatus.load();
}

void LUpdateProcessor::SetExitStatus(std::int32_t status) noexcept
{
    gExitStatus.store(status);
}

bool LUpdateProcessor::SetAlwaysUpdate(bool alwaysUpdate) noexcept
{
    const bool unchanged = mAlwaysUpdate == alwaysUpdate;
    mAlwaysUpdate = alwaysUpdate;
    return unchanged;
}

bool LUpdateProcessor::IsNotUpdating() const
{
    return mEngine->GetDeviceState() != DeviceState::Updating;
}

ZT::RCPtr<LUpdateEngineInterface> LUpdateProcessor::GetEngine() const
{
    return ZT::RCPtr<LUpdateEngineInterface>(mEngine);
}

ZT::WString LUpdateProcessor::ToString() const
{
    return ZT::WString(L"LUpdateProcessor ") + ZT::WString(::ToString(mEngine->GetDeviceState()));
}

ZTRESULT LUpdateProcessor::Reinitialize()
{
    return Initialize(mCommandLine);
}

ZTRESULT LUpdateProcessor::Initialize(const ZT::WString& commandLine)
{
    if (mCommandLine.IsEmpty()) {
        mCommandLine = commandLine;
        if (HasOption(CommandLineOption::kAlwaysUpdate))
            mAlwaysUpdate = true;
    }

    const ZTRESULT engineResult = mEngine->Initialize(mCommandLine);
    if (ZT::Failed(engineResult))
        ZT_THROW_FAILED_RESULT(engineResult, "LUpdateProcessor::Initialize");
    // A finished update's outcome belongs to the run that saw it end.
    (void)mEngine->GetUpdateRunState(true);

    const bool queryMode = HasOption(CommandLineOption::kReturnUpdateModeStatus);
    if (mEngine->GetDeviceState() == DeviceState::DeviceCannotBeUpdated) {
        if (!queryMode)
            return engineResult;
        SetExitStatus(kStatusNoUsableDevice);
        ZT::CDebugLine() << "Processor: query mode, the device cannot be updated: exit status " << GetExitStatus();
        return ZT::ZTRESULT_EXIT_APPLICATION;
    }

    SelectFirmwareFile();
    if (mEngine->GetDeviceState() == DeviceState::NoDeviceDefined)
        DefineDevice();
    if (mEngine->GetDeviceState() == DeviceState::NoDeviceFound) {
        // Its result shows in the device state, which is all that is read below.
        (void)mEngine->ScanForDevices();
        ZT::CDebugLine() << "Processor: scan gives " << ::ToString(mEngine->GetDeviceState());
    }

    if (queryMode) {
        const bool needed = mEngine->IsUpdateNeeded();
        const std::int32_t status = QueryStatus(mEngine->GetDeviceState(), needed);
        if (status != 0)
            SetExitStatus(status);
        ZT::CDebugLine() << "Processor: query mode, " << ::ToString(mEngine->GetDeviceState())
                         << ", update needed: " << YesNo(needed) << ": exit status " << GetExitStatus();
        return ZT::ZTRESULT_EXIT_APPLICATION;
    }
    return RunAutomaticMode(engineResult);
}

ZTRESULT LUpdateProcessor::RunAutomaticMode(ZTRESULT /*engineResult*/)
{
    if (mEngine->GetDeviceState() <= DeviceState::DeviceCannotBeUpdated ||
        mEngine->GetFirmwareFileState() != LUpdateEngineInterface::FirmwareFileState::FileFoundVersionKnown)
        return ZT::S_OK;

    const bool wanted = mEngine->IsUpdateNeeded() || mAlwaysUpdate;
    if (!wanted && HasOption(CommandLineOption::kSilentIfUpdateNotNeeded)) {
        ZT::DebugLine("Processor: no update wanted; quitting as -SILENT_IF_UPDATE_NOT_NEEDED asks");
        return ZT::ZTRESULT_EXIT_APPLICATION;
    }
    const bool silent = HasOption(CommandLineOption::kSilent);
    const bool startAutomatically = HasOption(CommandLineOption::kStartUpdateAutomatically);

    bool started = false;
    std::optional<std::uint64_t> deadlineMs;
    if (silent)
        deadlineMs = ZT::GetClock().NowMs() + mSilentWaitMs;
    if (wanted && (silent || startAutomatically)) {
        started = mHost ? mHost->StartAutomaticUpdate(deadlineMs) : StartAutomaticUpdate(deadlineMs);
        ZT::CDebugLine() << "Processor: automatic mode, update " << (started ? "started" : "not started") << " ("
                         << ::ToString(mEngine->GetDeviceState()) << ")";
    }

    if (!silent)
        return ZT::S_OK;
    if (started && mHost) {
        // The host's wait ends with the whole update: a deadline never cuts a download, it only
        // keeps the next step from starting.
        mHost->WaitForUpdate();
    } else if (started) {
        // The outcome is the engine's to report; silent mode quits either way.
        const std::uint64_t now = ZT::GetClock().NowMs();
        const auto left = static_cast<std::uint32_t>(*deadlineMs > now ? *deadlineMs - now : 0);
        if (ZT::Failed(mEngine->WaitForUpdate(left)))
            ZT::CDebugLine() << "Processor: the update did not end within " << mSilentWaitMs << " ms";
    }
    return ZT::ZTRESULT_EXIT_APPLICATION;
}

bool LUpdateProcessor::StartAutomaticUpdate(std::optional<std::uint64_t> deadlineMs)
{
    const auto refuse = [](const std::string& why) {
        ZT::CDebugLine() << "Processor: not starting: " << why;
        return false;
    };
    if (mEngine->GetDeviceState() == DeviceState::DeviceNotInUpdateMode) {
        if (const std::string why = WhyNotStart(deadlineMs, true); !why.empty())
            return refuse(why);
        // The outcome shows in the device state; a failed switch is the engine's to report.
        (void)mEngine->RequestUpdateMode();
        if (mEngine->GetDeviceState() != DeviceState::DeviceInUpdateMode)
            return false;
    }
    // In any other state than update mode the engine refuses the download itself.
    if (const std::string why = WhyNotStart(deadlineMs, false); !why.empty())
        return refuse(why);
    return ZT::Succeeded(mEngine->StartUpdate());
}

std::string LUpdateProcessor::WhyNotStart(std::optional<std::uint64_t> deadlineMs, bool modeSwitchFirst) const
{
    if (!deadlineMs)
        return {};
    const std::uint64_t now = ZT::GetClock().NowMs();
    return WhyNoTimeForDownload(*mEngine, *deadlineMs > now ? *deadlineMs - now : 0, modeSwitchFirst);
}

// ---- Silent mode's deadline ----------------------------------------------------------------------

std::uint32_t LUpdateProcessor::FlashSectorBytes(std::uint32_t address) noexcept
{
    constexpr std::uint32_t kFlashStart = 0x08000000;
    constexpr std::uint32_t kMediumSectorStart = 0x08010000;
    constexpr std::uint32_t kLargeSectorsStart = 0x08020000;
    if (address >= kFlashStart && address < kMediumSectorStart)
        return 16 * 1024;
    if (address >= kMediumSectorStart && address < kLargeSectorsStart)
        return 64 * 1024;
    // From 0x08020000 on, and for an address outside the flash, the largest size is the safe guess.
    return 128 * 1024;
}

std::uint64_t LUpdateProcessor::EstimateDownloadMs(std::uint32_t elementAddress, std::uint32_t elementSize,
                                                   std::span<const std::uint32_t> eraseSectors) noexcept
{
    const std::uint64_t elementStart = elementAddress;
    const std::uint64_t elementEnd = elementStart + elementSize;
    std::uint64_t eraseMs = 0;
    for (const std::uint32_t sector : eraseSectors) {
        const std::uint32_t bytes = FlashSectorBytes(sector);
        if (sector >= elementEnd || sector + std::uint64_t{bytes} <= elementStart)
            continue;
        eraseMs += bytes <= 16 * 1024 ? kEraseMs16KiB : bytes <= 64 * 1024 ? kEraseMs64KiB : kEraseMs128KiB;
    }
    const std::uint64_t blocks = (std::uint64_t{elementSize} + kEstimateBlockBytes - 1) / kEstimateBlockBytes;
    return eraseMs + blocks * kEstimateBlockMs + kEstimateReturnMs + kEstimateMarginMs;
}

std::optional<std::uint64_t> LUpdateProcessor::EstimateFor(const LUpdateEngineInterface& engine, bool modeSwitchFirst)
{
    ZT::WString path;
    if (ZT::Failed(engine.GetFirmwareFilePath(path)))
        return std::nullopt;
    const ZT::RCPtr<LDfuSeFirmwareFile> file = LDfuSeFirmwareFile::Create();
    try {
        if (ZT::Failed(file->Open(path, kEstimateBlockBytes)))
            return std::nullopt;
    } catch (const std::exception&) {
        return std::nullopt; // a read error: the download's own reader reports it
    }
    const EraseList sectors = CopyEraseList(engine.GetUpdateTarget());
    return EstimateDownloadMs(file->GetElementAddress(), file->GetElementSize(), sectors.Addresses) +
           (modeSwitchFirst ? kEstimateModeSwitchMs : 0);
}

std::string LUpdateProcessor::WhyNoTimeForDownload(const LUpdateEngineInterface& engine, std::uint64_t msLeft,
                                                   bool modeSwitchFirst)
{
    const std::optional<std::uint64_t> needed = EstimateFor(engine, modeSwitchFirst);
    if (!needed || *needed <= msLeft)
        return {};
    return std::to_string(msLeft / 1000) + " s of the silent run's time are left; " +
           (modeSwitchFirst ? "the switch into update mode and the download" : "the download") + " may take up to " +
           std::to_string((*needed + 999) / 1000) + " s";
}

void LUpdateProcessor::SelectFirmwareFile()
{
    const ZT::WString path = FirmwareFileFromOptions(mCommandLine, GetApplicationFolder());
    if (path.IsEmpty())
        return;
    // A missing or unusable file shows as FileInvalid; the window explains it.
    (void)mEngine->SetFirmwareFile(path);
    ZT::CDebugLine() << "Processor: firmware file " << path.View() << ": "
                     << ::ToString(mEngine->GetFirmwareFileState());
}

void LUpdateProcessor::DefineDevice()
{
    const DeviceDefinition definition =
        DeviceDefinitionFromOptions(mCommandLine, mEngine->GetUpdateTarget().GetDefaultProductId());
    // Refused only in the busy states, which NoDeviceDefined is not.
    (void)mEngine->SetDeviceDefinitions({definition});
    char text[96];
    std::snprintf(text, sizeof(text), "Processor: device %04X:%04X, in update mode %04X:%04X", definition.VendorId,
                  definition.ProductId, definition.BootloaderVendorId, definition.BootloaderProductId);
    ZT::DebugLine(text);
}

LUpdateProcessor::DeviceDefinition LUpdateProcessor::DeviceDefinitionFromOptions(const ZT::WString& commandLine,
                                                                                 std::uint32_t defaultProductId)
{
    DeviceDefinition definition;
    ZT::WString value;
    const bool hasProductId = GetCommandLineOption(commandLine, ZT::WString(CommandLineOption::kDevicePid), value);
    if (hasProductId) {
        definition.ProductId = static_cast<std::uint32_t>(CommandLineOption::ToInteger(value));
        definition.VendorId =
            GetCommandLineOption(commandLine, ZT::WString(CommandLineOption::kDeviceVid), value)
                ? static_cast<std::uint32_t>(CommandLineOption::ToInteger(value))
                : kDefaultVendorId;
        definition.BootloaderVendorId = definition.VendorId;
    }
    if (GetCommandLineOption(commandLine, ZT::WString(CommandLineOption::kDeviceBootloaderPid), value)) {
        // Without -DEVICE_PID= the other three identifiers stay 0; the dual updater gives the
        // engine the product's own definition at its first scan anyway.
        definition.BootloaderProductId = static_cast<std::uint32_t>(CommandLineOption::ToInteger(value));
        return definition;
    }
    definition.BootloaderProductId = kDefaultBootloaderProductId;
    if (!hasProductId) {
        definition.VendorId = kDefaultVendorId;
        definition.BootloaderVendorId = kDefaultBootloaderVendorId;
        definition.ProductId = defaultProductId;
    }
    return definition;
}

ZT::WString LUpdateProcessor::FirmwareFileFromOptions(const ZT::WString& commandLine, const ZT::WString& programFolder)
{
    ZT::WString value;
    if (GetCommandLineOption(commandLine, ZT::WString(CommandLineOption::kAbsoluteFirmwareFilePath), value))
        return value;
    const ZT::WString name =
        GetCommandLineOption(commandLine, ZT::WString(CommandLineOption::kFirmwareImageName), value)
            ? value
            : ZT::WString(kDefaultFirmwareFileName);
    return programFolder + ZT::WString(L"/") + name;
}

std::int32_t LUpdateProcessor::QueryStatus(DeviceState state, bool updateNeeded) noexcept
{
    switch (state) {
    case DeviceState::NoDeviceFound:
    case DeviceState::DeviceCannotBeUpdated:
        return kStatusNoUsableDevice;
    case DeviceState::DeviceInUpdateMode:
        return updateNeeded ? kStatusInUpdateModeNeeded : kStatusInUpdateModeNotNeeded;
    case DeviceState::DeviceNotInUpdateMode:
        return updateNeeded ? kStatusNormalModeNeeded : kStatusNormalModeNotNeeded;
    case DeviceState::NoDeviceDefined:
    case DeviceState::Scanning:
    case DeviceState::DevicesAvailableNoneSelected:
    case DeviceState::EnteringUpdateMode:
    case DeviceState::Updating:
        return 0;
    }
    return 0;
}
