// Enumeration, the MIDI side and the switch into update mode, driven through the USB and MIDI
// backends as the engine drives them.

#include "SimulatorTestSupport.h"

#include "ZTFramework/Midi/MidiOutputBackend.h"
#include "ZTFramework/Usb/UsbBackend.h"
#include "tests/Support/Printers.h"

#include <cmath>

namespace {

using ZT::Testing::UsbId;

using namespace SimTest;
using F = SimulatedDeviceFaults;

class DeviceSimulator : public SimulatorTest {};

// "2C1A:8010".
std::string IdsOf(const ZT::UsbDeviceInfo& info)
{
    char text[16];
    std::snprintf(text, sizeof text, "%04X:%04X", static_cast<unsigned>(info.vendorId), static_cast<unsigned>(info.productId));
    return text;
}

TEST_F(DeviceSimulator, UpdateModeMessageBringsTheBootloaderAfterOneAndAHalfSeconds)
{
    const std::string applicationPath = List()[0].path;
    ASSERT_EQ(SendUpdateModeRequest("Halvard XR4000 NOVA"), 10);

    // The controller leaves the bus and its MIDI port goes with it; the wheel display stays.
    auto devices = List();
    ASSERT_EQ(devices.size(), 1u);
    EXPECT_EQ(UsbId(devices[0].productId), UsbId(0xB010));
    EXPECT_EQ(mMidi->ListOutputNames(), std::vector<std::string>{"Halvard XR4000 NOVA WD"});

    // How the engine's searches find it: ModeSwitchTiming.
    mClock.SleepMs(1499);
    EXPECT_FALSE(FindBootloader());
    mClock.SleepMs(1);
    const auto bootloader = FindBootloader();
    ASSERT_TRUE(bootloader);
    EXPECT_NE(bootloader->path, applicationPath);
    EXPECT_EQ(mController->GetDfuState(), ZT::DfuState::DfuIdle);

    const auto log = mController->GetLog();
    const auto saw = [&log](const std::string& text) {
        return std::any_of(log.begin(), log.end(), [&](const std::string& line) { return line == text; });
    };
    EXPECT_TRUE(saw("[100000 ms] MIDI F0 00 01 7A 01 10 72 00 00 F7"));
    EXPECT_TRUE(saw("[101500 ms] enumerated as bootloader 0483:DF11 at " + bootloader->path + " in dfuIDLE"));
}

TEST_F(DeviceSimulator, PortLogsOtherMessagesRefusesEmptySendsOtherNamesAndDiesWithItsDevice)
{
    auto port = mMidi->Open("Halvard XR4000 NOVA");
    ASSERT_TRUE(port);
    EXPECT_EQ(port->GetName(), "Halvard XR4000 NOVA");
    const std::uint8_t noteOn[] = {0x90, 0x40, 0x7F, 0x00, 0x55};
    EXPECT_RESULT_EQ(port->Send(noteOn, 5), 5);
    std::uint8_t almost[kUpdateModeRequest.size()];
    std::copy(kUpdateModeRequest.begin(), kUpdateModeRequest.end(), almost);
    almost[6] = 0x73;
    EXPECT_RESULT_EQ(port->Send(almost, sizeof almost), 10);
    EXPECT_RESULT_EQ(port->Send(kUpdateModeRequest.data(), 9), 9); // missing its end byte
    EXPECT_RESULT_EQ(port->Send(kUpdateModeRequest.data(), 0), ZT::E_INVALIDARG);
    EXPECT_RESULT_EQ(port->Send(nullptr, 10), ZT::E_INVALIDARG);

    mClock.AdvanceMs(5000);
    EXPECT_EQ(mController->GetMode(), SimulatedDeviceMode::Application);
    const auto log = mController->GetLog();
    // A channel message goes out as at most four bytes.
    EXPECT_NE(std::find_if(log.begin(), log.end(), [](const std::string& l) { return l.ends_with("MIDI 90 40 7F 00"); }),
              log.end());

    EXPECT_RESULT_EQ(port->Send(kUpdateModeRequest.data(), 10), 10);
    // The port belonged to the application, which is gone; not even its return revives it.
    EXPECT_RESULT_EQ(port->Send(kUpdateModeRequest.data(), 10), ZT::E_FAIL);
    EXPECT_FALSE(mMidi->Open("Halvard XR4000 NOVA"));
    EXPECT_FALSE(mMidi->Open("halvard xr4000 nova wd")); // names match exactly
    EXPECT_FALSE(mMidi->Open("Halvard XR4000"));

    auto wheelPort = mMidi->Open("Halvard XR4000 NOVA WD");
    ASSERT_TRUE(wheelPort);
    wheelPort->Close();
    wheelPort->Close();
    EXPECT_RESULT_EQ(wheelPort->Send(kUpdateModeRequest.data(), 10), ZT::E_FAIL);
    EXPECT_EQ(mWheelDisplay->GetMode(), SimulatedDeviceMode::Application);
}

// Unknown and busy paths: UsbConnectionOnSimulator.OpenFailsWithTheBackendsReason.
TEST_F(DeviceSimulator, AUsbConnectionStallsDfuInNormalModeAndDiesWithItsAppearance)
{
    const std::string path = List()[0].path;
    ZT::UsbError error = ZT::UsbError::None;
    auto second = mUsb->Open(path, error);
    ASSERT_TRUE(second);

    // The application has no DFU interface: a DFU request is stalled.
    std::uint8_t status[6];
    EXPECT_FALSE(second->ControlTransfer(ZT::kDfuRequestTypeIn, 3, 0, 0, status, 6));
    EXPECT_EQ(second->GetLastError(), ZT::UsbError::Pipe);

    ASSERT_EQ(SendUpdateModeRequest("Halvard XR4000 NOVA"), 10);
    EXPECT_FALSE(second->ControlTransfer(ZT::kDfuRequestTypeIn, 3, 0, 0, status, 6));
    EXPECT_EQ(second->GetLastError(), ZT::UsbError::NoDevice);
    EXPECT_FALSE(mUsb->Open(path, error));
    EXPECT_EQ(error, ZT::UsbError::NoDevice);

    second->Close();
    EXPECT_FALSE(second->ControlTransfer(ZT::kDfuRequestTypeIn, 3, 0, 0, status, 6));
    EXPECT_EQ(second->GetLastError(), ZT::UsbError::NotOpen);
}

// Every engine test runs on an installed simulator; here, what is left once it is taken away.
TEST_F(DeviceSimulator, InstallMakesItTheBackendOfTheProcessUntilReset)
{
    mSimulator->Install();
    EXPECT_EQ(ZT::GetMidiOutputBackend()->ListOutputNames().size(), 2u);
    ZT::SetUsbBackend(nullptr);
    ZT::SetMidiOutputBackend(nullptr);
    EXPECT_TRUE(ZT::GetMidiOutputBackend()->ListOutputNames().empty());
    EXPECT_FALSE(ZT::GetMidiOutputBackend()->Open("Halvard XR4000 NOVA"));
}

// Faults of the normal-mode side. A missing port and a send that never completes are checked
// through the engine's switch into update mode (ModeSwitchTest), a bootloader that never appears
// through the updater process.

TEST_F(DeviceSimulator, FaultUpdateModeMessageIgnored)
{
    mController->SetFaults(Fault(&F::ignoresUpdateModeRequest, true));
    EXPECT_EQ(SendUpdateModeRequest("Halvard XR4000 NOVA"), 10);
    mClock.AdvanceMs(10500);
    EXPECT_FALSE(FindBootloader());
    EXPECT_TRUE(Find(0x2C1A, 0x8010));
}

// A wheel display that was given the controller's image: its own IDs without the fault, the IDs
// and MIDI port that image names with it, so that a cross-flash shows its consequence.
TEST_F(DeviceSimulator, FaultIdentityFromImageShowsTheDeviceTheImageNames)
{
    std::vector<std::uint8_t> controllerImage = MakeImage(0x4000, std::nullopt);
    WriteVersionRecord(controllerImage, 0x0031, SimulatedDeviceKind::Controller);
    ASSERT_TRUE(mWheelDisplay->ProgramFlash(kApplicationStartAddress, controllerImage));
    const auto powerCycle = [this] {
        mWheelDisplay->Unplug();
        mWheelDisplay->Plug();
    };
    powerCycle();
    auto info = mWheelDisplay->GetUsbInfo();
    ASSERT_TRUE(info);
    EXPECT_EQ(IdsOf(*info), "2C1A:B010") << "without the fault";

    mWheelDisplay->SetFaults(Fault(&F::identityFromImage, true));
    powerCycle();
    info = mWheelDisplay->GetUsbInfo();
    ASSERT_TRUE(info);
    EXPECT_EQ(IdsOf(*info), "2C1A:8010");
    EXPECT_EQ(info->releaseNumber, 0x0031);
    EXPECT_EQ(mWheelDisplay->GetMidiPortName(), std::optional<std::string>("Halvard XR4000 NOVA"));
    EXPECT_EQ(mMidi->ListOutputNames(), (std::vector<std::string>{"Halvard XR4000 NOVA", "Halvard XR4000 NOVA"}));

    // An image that names no device leaves the device its own IDs.
    ASSERT_TRUE(mWheelDisplay->ProgramFlash(kApplicationStartAddress, MakeImage(0x4000, 0x0051)));
    powerCycle();
    info = mWheelDisplay->GetUsbInfo();
    ASSERT_TRUE(info);
    EXPECT_EQ(IdsOf(*info), "2C1A:B010");
}

TEST_F(DeviceSimulator, FaultTwoDevicesWithTheSameIds)
{
    // How the engine lists the two: DiscoveryTest.
    auto twin = mSimulator->AddDevice(SimulatedDeviceKind::Controller, 0x0030);
    EXPECT_EQ(mMidi->ListOutputNames(),
              (std::vector<std::string>{"Halvard XR4000 NOVA", "Halvard XR4000 NOVA WD", "Halvard XR4000 NOVA"}));

    // The message reaches the first device of that name only.
    EXPECT_EQ(SendUpdateModeRequest("Halvard XR4000 NOVA"), 10);
    mClock.AdvanceMs(1500);
    EXPECT_EQ(mController->GetMode(), SimulatedDeviceMode::Bootloader);
    EXPECT_EQ(twin->GetMode(), SimulatedDeviceMode::Application);
}

TEST(SimulatedBus, TimeFactorScalesDelaysOnlyInRealTime)
{
    ZT::VirtualClock clock;
    EXPECT_EQ(LSimulatedBus(0.0, &clock).DurationMs(1500), 1500u);
    EXPECT_EQ(LSimulatedBus(1.0).DurationMs(1500), 1500u);
    EXPECT_EQ(LSimulatedBus(0.1).DurationMs(1500), 150u);
    EXPECT_EQ(LSimulatedBus(2.0).DurationMs(1200), 2400u);
    EXPECT_THROW(LSimulatedBus(-1.0), std::invalid_argument);
    EXPECT_THROW(LSimulatedBus(std::nan("")), std::invalid_argument);

    // Virtual time follows the given clock, or the process clock when none is given.
    clock.AdvanceMs(777);
    EXPECT_EQ(LSimulatedBus(0.0, &clock).NowMs(), 777u);
    ZT::SetClock(&clock);
    EXPECT_EQ(LSimulatedBus().NowMs(), 777u);
    ZT::SetClock(nullptr);
}

TEST(SimulatedBus, AddressesCountUpAndWrapAfter127)
{
    LSimulatedBus bus;
    EXPECT_EQ(bus.NextDevicePath(), "/dev/bus/usb/001/002");
    EXPECT_EQ(bus.NextDevicePath(), "/dev/bus/usb/001/003");
    for (int i = 4; i <= 127; ++i)
        (void)bus.NextDevicePath();
    EXPECT_EQ(bus.NextDevicePath(), "/dev/bus/usb/001/002");
    EXPECT_TRUE(bus.WasIssued("/dev/bus/usb/001/127"));
    EXPECT_FALSE(bus.WasIssued("/dev/bus/usb/001/128"));
}

} // namespace
