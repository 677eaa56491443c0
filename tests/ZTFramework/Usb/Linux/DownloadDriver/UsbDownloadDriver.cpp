// A test-only program: downloads one DfuSe file into the one bootloader (0483:DF11) on the bus,
// with the engine and the real libusb backend, as the product does. The libusb tests start it as
// a child process beside the emulated bootloader, kill it in the middle of a download and start it
// again, which a thread of the test process cannot stand in for. (The product program itself
// writes nothing until it has seen both of the product's devices; the emulation has one.)
//
// Usage: zt_usb_download_driver FILE
// Writes the debug lines and, last, "run state Succeeded, device state DeviceCannotBeUpdated" to
// standard error. Exit status 0 after a successful run, 1 after any other, 2 for a wrong command
// line.

#include "FirmwareUpdater/Panel/Engine/DualUpdater.h"
#include "FirmwareUpdater/Panel/Engine/UpdateEngine.h"
#include "ZTFramework/Debug/DebugLine.h"
#include "ZTFramework/Debug/DebugOutput.h"
#include "ZTFramework/Usb/Linux/LinuxUsbBackend.h"
#include "ZTFramework/Usb/UsbBackend.h"

#include <cstdio>

namespace {

using DeviceState = LUpdateEngineInterface::DeviceState;
using UpdateRunState = LUpdateEngineInterface::UpdateRunState;

// A whole download of the product's largest image takes well under a minute.
constexpr std::uint32_t kUpdateWaitMs = 120000;

int Run(const char* file)
{
    // The dual updater gives the download its erase list; without a probe its target is the
    // wheel display, whose list covers the controller's as well.
    (void)LDualUpdater::CreateInstance();
    const auto engine = ZT::MakeRC<LUpdateEngine>();
    engine->SetUpdateTarget(&LDualUpdater::GetUpdateTarget());
    LUpdateEngine::DeviceDefinitions definitions;
    LUpdateEngine::DeviceDefinition definition;
    definition.VendorId = 0x2C1A;
    definition.ProductId = 0x8010;
    definition.BootloaderVendorId = 0x0483;
    definition.BootloaderProductId = 0xDF11;
    definitions.Append(definition);
    if (ZT::Failed(engine->SetDeviceDefinitions(definitions)) || ZT::Failed(engine->ScanDevices()) ||
        engine->GetFoundDeviceCount() != 1) {
        ZT::CDebugLine() << "Driver: no bootloader found";
        return 1;
    }
    engine->SetDeviceState(DeviceState::DevicesAvailableNoneSelected);
    if (ZT::Failed(engine->SelectDevice(0)) || engine->GetDeviceState() != DeviceState::DeviceInUpdateMode ||
        ZT::Failed(engine->SetFirmwareFile(ZT::WString(file)))) {
        ZT::CDebugLine() << "Driver: the bootloader or the file cannot be used (" << ToString(engine->GetDeviceState())
                         << ")";
        return 1;
    }
    if (ZT::Failed(engine->StartUpdate()) || ZT::Failed(engine->WaitForUpdate(kUpdateWaitMs))) {
        ZT::CDebugLine() << "Driver: the update did not start or did not end";
        return 1;
    }
    const UpdateRunState runState = engine->GetUpdateRunState(false);
    ZT::CDebugLine() << "Driver: run state " << ToString(runState) << ", device state "
                     << ToString(engine->GetDeviceState());
    return runState == UpdateRunState::Succeeded ? 0 : 1;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s FILE\n", argv[0]);
        return 2;
    }
    ZT::DebugOutput::Instance().OpenConsole();
    ZT::SetUsbBackend(ZT::MakeRC<ZT::LLinuxUsbBackend>());
    const int status = Run(argv[1]);
    ZT::SetUsbBackend(nullptr);
    LDualUpdater::ReleaseInstance();
    return status;
}
