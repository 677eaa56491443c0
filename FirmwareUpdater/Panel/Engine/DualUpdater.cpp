#include "FirmwareUpdater/Panel/Engine/DualUpdater.h"

#include "FirmwareUpdater/Panel/Engine/ApplicationFolder.h"
#include "FirmwareUpdater/Panel/Engine/BootloaderRoleRecord.h"
#include "FirmwareUpdater/Panel/Engine/DualUpdaterHost.h"
#include "FirmwareUpdater/Panel/Engine/ProductDevice.h"
#include "FirmwareUpdater/Panel/Engine/ScanPreparer.h"
#include "FirmwareUpdater/Panel/Engine/UpdateEngine.h"
#include "FirmwareUpdater/Panel/Engine/UpdateTarget.h"
#include "ZTFramework/Debug/DebugLine.h"
#include "ZTFramework/Usb/UsbBackend.h"

#include <algorithm>
#include <mutex>
#include <new>
#include <sys/stat.h>

using ZT::E_FAIL;
using ZT::S_OK;
using ZT::ZTRESULT;

namespace {

std::mutex gInstanceMutex;
ZT::RCPtr<LDualUpdater> gInstance; // guarded by gInstanceMutex

// The dual updater as an engine sees it: the static operations, which answer for the process's
// instance of the moment. Stateless, so either thread may ask it.
class CProcessDualUpdater final : public IUpdateTarget, public IScanPreparer {
public:
    ZT::WString GetMidiPortName() const override { return LDualUpdater::GetMidiPortName(0); }
    std::uint32_t GetDefaultProductId() const override { return LDualUpdater::GetDefaultProductId(0); }
    std::uint32_t GetEraseSectorCount() const override { return LDualUpdater::GetEraseSectorCount(); }
    bool GetEraseSectorAddress(std::uint32_t i, std::uint32_t& address) const override
    {
        return LDualUpdater::GetEraseSectorAddress(i, address);
    }
    ZTRESULT PrepareScan(LUpdateEngineInterface& engine) override { return LDualUpdater::Prepare(engine); }
};

CProcessDualUpdater gProcessDualUpdater;

} // namespace

// The rescan after an update as a job of the main engine's worker. It holds the instance it was
// started for, so a ReleaseInstance meanwhile destroys nothing the worker uses.
class LDualUpdater::LRescanJob final : public LUpdateEngineInterface::IWorkerJob {
public:
    LRescanJob(ZT::RCPtr<LDualUpdater> owner, Rescan rescan) : mOwner(std::move(owner)), mRescan(std::move(rescan)) {}

    void Run(LUpdateEngineInterface& engine) override { mOwner->RunRescan(engine, mRescan); }

    // Only after the completion was delivered: the worker has let go of the job by then.
    [[nodiscard]] const ZT::RCPtr<LDualUpdater>& GetOwner() const noexcept { return mOwner; }
    [[nodiscard]] const Rescan& GetRescan() const noexcept { return mRescan; }

private:
    const ZT::RCPtr<LDualUpdater> mOwner;
    Rescan mRescan;
};

LDualUpdater::LDualUpdater() = default;

ZT::RCPtr<LDualUpdater> LDualUpdater::GetInstance()
{
    std::lock_guard lock(gInstanceMutex);
    return gInstance;
}

ZT::RCPtr<LDualUpdater> LDualUpdater::CreateInstance()
{
    std::lock_guard lock(gInstanceMutex);
    if (!gInstance)
        gInstance = ZT::RCPtr<LDualUpdater>(new LDualUpdater());
    return gInstance;
}

void LDualUpdater::ReleaseInstance()
{
    ZT::RCPtr<LDualUpdater> released;
    {
        std::lock_guard lock(gInstanceMutex);
        released = std::move(gInstance);
    }
    // Released outside the lock: the probe engine's destruction joins its worker thread.
}

const IUpdateTarget& LDualUpdater::GetUpdateTarget() noexcept
{
    return gProcessDualUpdater;
}

IScanPreparer& LDualUpdater::GetScanPreparer() noexcept
{
    return gProcessDualUpdater;
}

ZTRESULT LDualUpdater::Prepare(LUpdateEngineInterface& mainEngine)
{
    ZT::RCPtr<LDualUpdater> instance;
    try {
        instance = CreateInstance();
    } catch (const std::bad_alloc&) {
        return E_FAIL;
    }
    return instance->PrepareTarget(mainEngine);
}

void LDualUpdater::OnUpdateCompleted(LUpdateEngineInterface& mainEngine, bool succeeded)
{
    const ZT::RCPtr<LDualUpdater> instance = GetInstance();
    if (!instance)
        return;
    instance->mTargetChosenAfterUpdate.store(false);
    if (!succeeded)
        return;
    Rescan rescan = instance->BeginRescan();
    instance->RunRescan(mainEngine, rescan);
    instance->EndRescan(rescan);
}

bool LDualUpdater::StartRescanAfterUpdate(LUpdateEngineInterface& mainEngine)
{
    const ZT::RCPtr<LDualUpdater> instance = GetInstance();
    if (!instance || mainEngine.IsWorkerBusy())
        return false;
    instance->mTargetChosenAfterUpdate.store(false);
    const auto job = ZT::MakeRC<LRescanJob>(instance, instance->BeginRescan());
    return ZT::Succeeded(mainEngine.StartWorkerJob(ZT::RCPtr<LUpdateEngineInterface::IWorkerJob>(job)));
}

bool LDualUpdater::OnRescanCompleted(const ZT::RCPtr<ZT::LRefCountedObject>& job)
{
    const ZT::RCPtr<LRescanJob> rescan = job;
    const ZT::RCPtr<LDualUpdater> instance = GetInstance();
    if (!rescan || !instance || rescan->GetOwner().Get() != instance.Get())
        return false;
    instance->EndRescan(rescan->GetRescan());
    return true;
}

void LDualUpdater::RefreshLabels(UpdateRunState runState, DeviceState deviceState, FirmwareFileState /*fileState*/)
{
    if (const ZT::RCPtr<LDualUpdater> instance = GetInstance())
        instance->WriteLabels(runState, deviceState);
}

ZT::WString LDualUpdater::GetMidiPortName(std::uint32_t index)
{
    const ZT::RCPtr<LDualUpdater> instance = GetInstance();
    if (!instance)
        return NoUpdateTarget().GetMidiPortName();
    if (index != 0)
        return ZT::WString();
    return ZT::WString(instance->Target().MidiPortName);
}

std::uint32_t LDualUpdater::GetDefaultProductId(std::uint32_t index)
{
    const ZT::RCPtr<LDualUpdater> instance = GetInstance();
    if (!instance)
        return NoUpdateTarget().GetDefaultProductId();
    if (index != 0)
        return 0;
    return instance->Target().ProductId;
}

std::uint32_t LDualUpdater::GetEraseSectorCount()
{
    const ZT::RCPtr<LDualUpdater> instance = GetInstance();
    if (!instance)
        return NoUpdateTarget().GetEraseSectorCount();
    return static_cast<std::uint32_t>(instance->Target().EraseSectors.size());
}

bool LDualUpdater::GetEraseSectorAddress(std::uint32_t i, std::uint32_t& address)
{
    address = 0;
    const ZT::RCPtr<LDualUpdater> instance = GetInstance();
    if (!instance)
        return NoUpdateTarget().GetEraseSectorAddress(i, address);
    const auto sectors = instance->Target().EraseSectors;
    if (i >= sectors.size())
        return false;
    address = sectors[i];
    return true;
}

void LDualUpdater::SetHost(IDualUpdaterHost* host)
{
    CreateInstance()->mHost = host;
}

const ProductDevice& LDualUpdater::Target() const noexcept
{
    return mUpdatingController.load() ? kControllerDevice : kWheelDisplayDevice;
}

ZT::WString LDualUpdater::ToString() const
{
    return ZT::WString(L"LDualUpdater target ") + ZT::WString(::ToString(Target().DeviceKind));
}

// ---- Probe and configuration ------------------------------------------------------------------

std::uint32_t LDualUpdater::ProbeFor(std::uint32_t vendorId, std::uint32_t productId, FirmwareVersion& version) const
{
    LUpdateEngineInterface::DeviceDefinition definition;
    definition.VendorId = vendorId;
    definition.ProductId = productId;
    // Refused only in a busy state, which the probe engine never enters.
    (void)mProbeEngine->SetDeviceDefinitions({definition});
    // A listing that fails finds nothing, which is what the count then says.
    (void)mProbeEngine->ScanDevices();
    const std::uint32_t found = mProbeEngine->GetFoundDeviceCount();
    if (found == 1)
        (void)mProbeEngine->GetDeviceVersion(0, version); // index 0 exists: one was found
    return found;
}

std::string LDualUpdater::FindDuplicateDevice()
{
    std::vector<ZT::UsbDeviceInfo> listed;
    if (ZT::Failed(ZT::GetUsbBackend()->ListDevices(listed)))
        return {}; // the probe's own listings fail the same way and find nothing
    for (const ProductDevice* device : {&kControllerDevice, &kWheelDisplayDevice}) {
        const auto count = std::count_if(listed.begin(), listed.end(), [device](const ZT::UsbDeviceInfo& info) {
            return info.vendorId == device->VendorId && info.productId == device->ProductId;
        });
        if (count > 1)
            return std::to_string(count) + " " + ZT::WString(device->MidiPortName).ToUTF8() + " units (" +
                   (device->DeviceKind == ProductDevice::Kind::Controller ? "controllers" : "wheel displays") + ")";
    }
    return {};
}

void LDualUpdater::EnsureProbeEngine()
{
    if (mProbeEngine)
        return;
    mProbeEngine = ZT::MakeRC<LUpdateEngine>();
    // Its definitions carry the target's port as the main engine's do; it never scans through
    // the preparer, which would probe again from inside the probe.
    mProbeEngine->SetUpdateTarget(&GetUpdateTarget());
    (void)mProbeEngine->Initialize(ZT::WString()); // always S_OK
}

LDualUpdater::ProbeResult LDualUpdater::Probe(const ProbeResult& last) const
{
    ProbeResult probe = last;
    probe.AnyDeviceFound = false;
    probe.ControllerNeedsUpdate = false;
    probe.DisplayNeedsUpdate = false;
    probe.DisplayInUpdateMode = false;
    probe.DeviceSetIncomplete = false;
    probe.BootloaderUnidentified = false;
    probe.DuplicateDevice = false;
    probe.ControllerBootloaderSerial.clear();
    probe.DisplayBootloaderSerial.clear();

    // Two units of one kind: the engine would take the first it lists, which may be either.
    if (const std::string twice = FindDuplicateDevice(); !twice.empty()) {
        ZT::CDebugLine() << "Devices: " << twice
                         << " are plugged in, and nothing tells which one to update: unplug all but one XR4000 NOVA "
                            "and run the updater again. Nothing is written.";
        probe.AnyDeviceFound = true;
        probe.DeviceSetIncomplete = true;
        probe.DuplicateDevice = true;
        return probe;
    }

    // A version is written only when its device is found; otherwise the last one seen stays.
    FirmwareVersion controllerVersion;
    const bool controllerFound =
        ProbeFor(kControllerDevice.VendorId, kControllerDevice.ProductId, controllerVersion) == 1;
    if (controllerFound)
        probe.ControllerVersion = controllerVersion;
    FirmwareVersion displayVersion;
    const bool displayFound =
        ProbeFor(kWheelDisplayDevice.VendorId, kWheelDisplayDevice.ProductId, displayVersion) == 1;
    if (displayFound)
        probe.DisplayVersion = displayVersion;
    // Every bootloader, not only the first: two of them are told apart by their serials. A
    // listing that fails finds none.
    std::vector<std::string> bootloaders;
    // A failed listing finds none.
    (void)LUpdateEngine::ListSerialNumbers(kControllerDevice.BootloaderVendorId, kControllerDevice.BootloaderProductId,
                                           bootloaders);
    probe.AnyDeviceFound = controllerFound || displayFound || !bootloaders.empty();
    probe.ControllerFound = controllerFound;
    probe.DisplayFound = displayFound;

    const FirmwareVersion controllerReference = kControllerDevice.GetFirmwareVersion();
    const FirmwareVersion displayReference = kWheelDisplayDevice.GetFirmwareVersion();
    if (!bootloaders.empty()) {
        if (!IdentifyBootloaders(controllerFound, displayFound, bootloaders, probe)) {
            probe.DeviceSetIncomplete = true;
            probe.BootloaderUnidentified = true;
            return probe;
        }
        if (!probe.DisplayBootloaderSerial.empty() || (controllerFound && !displayFound)) {
            probe.DisplayNeedsUpdate = true;
            probe.DisplayInUpdateMode = true;
        }
        if (!probe.ControllerBootloaderSerial.empty() || (displayFound && !controllerFound))
            probe.ControllerNeedsUpdate = true;
        if (controllerFound)
            probe.ControllerNeedsUpdate = controllerReference.IsNewerThan(probe.ControllerVersion);
        if (displayFound)
            probe.DisplayNeedsUpdate = displayReference.IsNewerThan(probe.DisplayVersion);
        return probe;
    }
    if (controllerFound && displayFound) {
        probe.ControllerNeedsUpdate = controllerReference.IsNewerThan(probe.ControllerVersion);
        probe.DisplayNeedsUpdate = displayReference.IsNewerThan(probe.DisplayVersion);
        return probe;
    }
    if (controllerFound || displayFound)
        probe.DeviceSetIncomplete = true;
    return probe;
}

bool LDualUpdater::IdentifyBootloaders(bool controllerFound, bool displayFound, const std::vector<std::string>& serials,
                                       ProbeResult& probe)
{
    using Kind = ProductDevice::Kind;
    const CBootloaderRoleRecord record = CBootloaderRoleRecord::Load();
    // One device in normal mode and one bootloader: the bootloader is the other device, unless
    // the record says otherwise. Once it names a serial for that device, or gives this serial to
    // the device in normal mode, a bootloader it does not confirm is some other board in DFU mode
    // (the same IDs). The probe never writes the record: the mode switch and the download do, so
    // that a query leaves it as it was.
    if (controllerFound != displayFound && serials.size() == 1) {
        const Kind kind = controllerFound ? Kind::WheelDisplay : Kind::Controller;
        const std::optional<Kind> recorded = record.FindKind(serials[0]);
        const std::string& expected = record.GetSerial(kind);
        if (recorded == kind || (!recorded && expected.empty())) {
            (kind == Kind::Controller ? probe.ControllerBootloaderSerial : probe.DisplayBootloaderSerial) = serials[0];
            return true;
        }
        const char* name = kind == Kind::Controller ? "controller" : "wheel display";
        const std::string path = CBootloaderRoleRecord::GetFilePath();
        ZT::CDebugLine line;
        line << "Devices: the device in update mode (0483:DF11, serial number "
             << (serials[0].empty() ? std::string("(none)") : serials[0]) << ") is not the " << name
             << " the record knows: " << path << " gives ";
        if (recorded)
            line << "that serial number to the " << (*recorded == Kind::Controller ? "controller" : "wheel display")
                 << ", which is in normal mode";
        else
            line << "the " << name << " the serial number " << expected;
        line << ". Nothing is written into it. If it is another board in update mode, unplug it and run the updater "
                "again; if the "
             << name << "'s board was replaced, delete that file and run the updater again.";
        return false;
    }

    std::vector<std::string> unidentified;
    for (const std::string& serial : serials) {
        const std::optional<Kind> kind = record.FindKind(serial);
        // A device visible in normal mode is not also a bootloader, and two bootloaders with one
        // serial cannot be told apart by it.
        const bool visible = kind && (*kind == Kind::Controller ? controllerFound : displayFound);
        if (!kind || visible || std::count(serials.begin(), serials.end(), serial) > 1) {
            unidentified.push_back(serial.empty() ? std::string("(none)") : serial);
            continue;
        }
        (*kind == Kind::Controller ? probe.ControllerBootloaderSerial : probe.DisplayBootloaderSerial) = serial;
    }
    if (unidentified.empty())
        return true;

    probe.ControllerBootloaderSerial.clear();
    probe.DisplayBootloaderSerial.clear();
    std::string list;
    for (const std::string& serial : unidentified)
        list += (list.empty() ? "" : ", ") + serial;
    ZT::CDebugLine line;
    if (controllerFound && displayFound) {
        line << "Devices: the controller and the wheel display are both in normal mode, and another device is in "
                "update mode (0483:DF11, serial number "
             << list
             << "). Nothing is updated while it is on the bus, so that no image goes into it: unplug it, then run the "
                "updater again.";
        return false;
    }
    const std::string path = CBootloaderRoleRecord::GetFilePath();
    line << "Devices: " << serials.size() << (serials.size() == 1 ? " device is" : " devices are")
         << " in update mode and cannot be told apart: no record says which device has the bootloader serial number "
         << list << " (" << (path.empty() ? std::string("no record is kept") : "record: " + path)
         << "). Nothing is written, so that no image goes into the wrong device. Unplug the controller's USB cable, "
            "plug it in again and run the updater again: a device whose firmware is intact then starts normally, and "
            "the updater tells the other from it. If both stay in update mode, contact Halvard support and give them "
            "these serial numbers.";
    return false;
}

void LDualUpdater::Configure(LUpdateEngineInterface& mainEngine, const ProbeResult& probe) const
{
    const ProductDevice& target = Target();
    const ZT::WString path = GetApplicationFolder() + L"/" + target.FirmwareFileName;
    // A missing file shows as FileInvalid in the engine; the sequence goes on regardless. The
    // person reading the log learns where the file belongs (an installation ships none).
    const bool needsImage = mUpdatingController.load() ? probe.ControllerNeedsUpdate : probe.DisplayNeedsUpdate;
    struct stat status {};
    if (needsImage && (::stat(path.ToUTF8().c_str(), &status) != 0 || !S_ISREG(status.st_mode)))
        ZT::CDebugLine() << "Firmware file: " << path.ToUTF8() << " is missing. Put the product's firmware file for the "
                         << (mUpdatingController.load() ? "controller" : "wheel display") << " into "
                         << GetApplicationFolder().ToUTF8() << " and run the updater again.";
    // A missing file is logged above and shows in the file state.
    (void)mainEngine.SetFirmwareFileWithVersion(path, target.GetFirmwareVersion());
    LUpdateEngineInterface::DeviceDefinition definition = target.GetDeviceDefinition();
    // A target in update mode is its identified bootloader and no other.
    definition.BootloaderSerialNumber =
        mUpdatingController.load() ? probe.ControllerBootloaderSerial : probe.DisplayBootloaderSerial;
    // Refused only in the busy states, in which the caller does not configure.
    (void)mainEngine.SetDeviceDefinitions({definition});
}

ZTRESULT LDualUpdater::PrepareTarget(LUpdateEngineInterface& mainEngine)
{
    if (mTargetChosenAfterUpdate)
        return S_OK;
    // Never re-aim an engine in the middle of a mode switch or a download: the mode switch checks
    // the file against the target's erase list, and the download copies that list as it starts.
    // The engine refuses the scan itself.
    if (IsBusyState(mainEngine.GetDeviceState()))
        return S_OK;

    mUpdatingController.store(true);
    EnsureProbeEngine();
    mProbe = Probe(mProbe);
    if (mProbe.AnyDeviceFound) {
        if (mProbe.DeviceSetIncomplete) {
            mainEngine.SetDeviceState(DeviceState::DeviceCannotBeUpdated);
            return E_FAIL;
        }
        if (mProbe.DisplayInUpdateMode || (!mProbe.ControllerNeedsUpdate && mProbe.DisplayNeedsUpdate))
            mUpdatingController.store(false);
    }
    Configure(mainEngine, mProbe);
    mControllerAttempted = false;
    mDisplayAttempted = false;
    return S_OK;
}

LDualUpdater::Rescan LDualUpdater::BeginRescan()
{
    EnsureProbeEngine();
    Rescan rescan;
    rescan.Probe = mProbe;
    rescan.ControllerAttempted = mControllerAttempted;
    rescan.DisplayAttempted = mDisplayAttempted;
    return rescan;
}

void LDualUpdater::RunRescan(LUpdateEngineInterface& mainEngine, Rescan& rescan)
{
    rescan.Probe = Probe(rescan.Probe);
    const ProbeResult& probe = rescan.Probe;

    const bool wasController = mUpdatingController.load();
    bool confirmed = false;
    if (wasController) {
        rescan.ControllerAttempted = true;
        confirmed = probe.ControllerVersion.HasSameNumberAs(kControllerDevice.GetFirmwareVersion());
        if (!probe.DisplayNeedsUpdate || rescan.DisplayAttempted)
            return;
        mUpdatingController.store(false);
    } else {
        rescan.DisplayAttempted = true;
        confirmed = probe.DisplayVersion.HasSameNumberAs(kWheelDisplayDevice.GetFirmwareVersion());
        if (!probe.ControllerNeedsUpdate || rescan.ControllerAttempted)
            return;
        mUpdatingController.store(true);
    }
    // An update that does not show on the device ends the cycle; the next Prepare probes and
    // chooses again, so the switched target has no lasting effect.
    if (!confirmed)
        return;

    Configure(mainEngine, probe);
    mTargetChosenAfterUpdate.store(true);
    // Prepare returns at once now; what the scan finds shows in the engine's state, which the
    // host reads when it continues.
    (void)mainEngine.ScanForDevices();
    rescan.GoOn = true;
}

void LDualUpdater::EndRescan(const Rescan& rescan)
{
    mProbe = rescan.Probe;
    mControllerAttempted = rescan.ControllerAttempted;
    mDisplayAttempted = rescan.DisplayAttempted;
    if (rescan.GoOn && mHost)
        mHost->ContinueUpdateProcess();
}

// ---- Labels -----------------------------------------------------------------------------------

ZT::WString LDualUpdater::FormatLabel(const ZT::WString& format, const ZT::WString& text)
{
    const std::wstring_view in = format.View();
    std::wstring out;
    out.reserve(in.size() + static_cast<std::size_t>(text.GetLength()));
    bool substituted = false;
    for (std::size_t i = 0; i < in.size(); ++i) {
        if (in[i] == L'%' && i + 1 < in.size()) {
            if (in[i + 1] == L'%') {
                out.push_back(L'%');
                ++i;
                continue;
            }
            if (in[i + 1] == L's' && !substituted) {
                out.append(text.View());
                substituted = true;
                ++i;
                continue;
            }
        }
        out.push_back(in[i]);
    }
    return ZT::WString(std::wstring_view(out));
}

void LDualUpdater::WriteLabels(UpdateRunState runState, DeviceState deviceState)
{
    if (!mHost)
        return;
    const ZT::WString fileLabel(kLabelFileFirmwareVersion);
    if (mHost->HasLabel(fileLabel)) {
        ZT::WString text;
        if (deviceState == DeviceState::Updating) {
            const wchar_t* id = mUpdatingController.load() ? kUpdatingControllerFirmwareId : kUpdatingWheelDisplayFirmwareId;
            (void)mHost->GetLabelString(fileLabel, ZT::WString(id), text); // a missing entry shows as empty
        } else {
            ZT::WString format;
            // A missing entry shows as empty.
            (void)mHost->GetLabelString(fileLabel, ZT::WString(kLabelStringId), format);
            text = FormatLabel(format, kControllerDevice.GetFirmwareVersion().Text) +
                   kWheelDisplayDevice.GetFirmwareVersion().Text;
        }
        mHost->SetLabelText(fileLabel, text);
    }

    const ZT::WString deviceLabel(kLabelDeviceFirmwareVersion);
    if (mHost->HasLabel(deviceLabel) && mProbe.AnyDeviceFound) {
        ZT::WString format;
        (void)mHost->GetLabelString(deviceLabel, ZT::WString(kLabelStringId), format); // a missing entry shows as empty
        mHost->SetLabelText(deviceLabel, FormatLabel(format, mProbe.ControllerVersion.Text) + mProbe.DisplayVersion.Text);
    }

    if (runState == UpdateRunState::Succeeded && deviceState == DeviceState::DeviceInUpdateMode)
        mHost->HideButton(ZT::WString(kButtonManualDeviceHasUpdatedRescan));
}
