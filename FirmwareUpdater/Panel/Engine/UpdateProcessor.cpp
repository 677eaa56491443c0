#include "FirmwareUpdater/Panel/Engine/UpdateProcessor.h"

#include "FirmwareUpdater/Panel/Engine/ApplicationFolder.h"
#include "FirmwareUpdater/Panel/Engine/CommandLineOption.h"
#include "FirmwareUpdater/Panel/Engine/DualUpdater.h"
#include "FirmwareUpdater/Panel/Engine/UpdateEngine.h"
#include "FirmwareUpdater/Panel/Engine/UpdateProcessorHost.h"
#include "ZTFramework/Debug/DebugLine.h"
#include "ZTFramework/Errors/Exception.h"

#include <atomic>
#include <cstdio>

using ZT::ZTRESULT;

namespace {

std::atomic<std::int32_t> gExitStatus{0};

const char* YesNo(bool value)
{
    return value ? "yes" : "no";
}

} // namespace

LUpdateProcessor::LUpdateProcessor() : mEngine(ZT::MakeRC<LUpdateEngine>()) {}

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
    if (wanted && (silent || startAutomatically)) {
        if (mEngine->GetDeviceState() == DeviceState::DeviceNotInUpdateMode) {
            if (mHost)
                mHost->OnEnteringUpdateMode();
            // The outcome shows in the device state.
            (void)mEngine->RequestUpdateMode();
            if (mEngine->GetDeviceState() == DeviceState::DeviceInUpdateMode)
                started = ZT::Succeeded(mEngine->StartUpdate());
        } else {
            // The engine refuses unless the device is in update mode.
            started = ZT::Succeeded(mEngine->StartUpdate());
        }
        ZT::CDebugLine() << "Processor: automatic mode, update " << (started ? "started" : "not started") << " ("
                         << ::ToString(mEngine->GetDeviceState()) << ")";
    }

    if (!silent)
        return ZT::S_OK;
    if (started) {
        // The outcome is the engine's to report; silent mode quits either way.
        const ZTRESULT waited =
            mHost ? mHost->WaitForUpdate(*mEngine, kSilentWaitMs) : mEngine->WaitForUpdate(kSilentWaitMs);
        if (ZT::Failed(waited))
            ZT::CDebugLine() << "Processor: the update did not end within " << kSilentWaitMs << " ms";
    }
    return ZT::ZTRESULT_EXIT_APPLICATION;
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
        DeviceDefinitionFromOptions(mCommandLine, LDualUpdater::GetDefaultProductId(0));
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
