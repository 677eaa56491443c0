// The dual updater: which device the engine is aimed at for every combination of what is
// plugged in, the move to the second device after an update, its constants and its labels.

#include "UpdateEngineTestSupport.h"

#include "FirmwareUpdater/Panel/Engine/DualUpdaterHost.h"
#include "tests/Support/Printers.h"

#include <map>
#include <optional>
#include <utility>

namespace {

using namespace EngineTest;
using ZT::Testing::UsbId;

struct PluggedDevice {
    SimulatedDeviceKind kind;
    std::optional<std::uint16_t> release; // none: in its bootloader
};

// The flags of LDualUpdater::ProbeResult (its versions: DualUpdaterCycle), compared as one value
// and printed by name.
struct ProbeFlags {
    bool AnyDeviceFound = false;
    bool ControllerNeedsUpdate = false;
    bool DisplayNeedsUpdate = false;
    bool DisplayInUpdateMode = false;
    bool DeviceSetIncomplete = false;

    static ProbeFlags Of(const LDualUpdater::ProbeResult& probe)
    {
        return {probe.AnyDeviceFound, probe.ControllerNeedsUpdate, probe.DisplayNeedsUpdate,
                probe.DisplayInUpdateMode, probe.DeviceSetIncomplete};
    }
    bool operator==(const ProbeFlags&) const = default;
};

// "{AnyDeviceFound, DisplayNeedsUpdate}": the flags that are set.
void PrintTo(const ProbeFlags& probe, std::ostream* out)
{
    const std::pair<bool, const char*> flags[] = {{probe.AnyDeviceFound, "AnyDeviceFound"},
                                                  {probe.ControllerNeedsUpdate, "ControllerNeedsUpdate"},
                                                  {probe.DisplayNeedsUpdate, "DisplayNeedsUpdate"},
                                                  {probe.DisplayInUpdateMode, "DisplayInUpdateMode"},
                                                  {probe.DeviceSetIncomplete, "DeviceSetIncomplete"}};
    const char* separator = "";
    *out << '{';
    for (const auto& [set, name] : flags) {
        if (set) {
            *out << separator << name;
            separator = ", ";
        }
    }
    *out << '}';
}

struct TargetCase {
    const char* what;
    std::vector<PluggedDevice> devices;
    ZT::ZTRESULT scanResult;
    bool targetIsController;
    ProbeFlags probe;
    DeviceState stateAfterScan;
};

void PrintTo(const TargetCase& c, std::ostream* out) { *out << c.what; }

constexpr auto C = SimulatedDeviceKind::Controller;
constexpr auto D = SimulatedDeviceKind::WheelDisplay;
constexpr std::optional<std::uint16_t> kBoot = std::nullopt;

class DualUpdaterTarget : public EngineFixture, public ::testing::WithParamInterface<TargetCase> {};

TEST_P(DualUpdaterTarget, FollowsWhatIsPluggedIn)
{
    const TargetCase& c = GetParam();
    for (const PluggedDevice& device : c.devices)
        mSimulator->AddDevice(device.kind, device.release);

    EXPECT_RESULT_EQ(mEngine->ScanForDevices(), c.scanResult);
    const auto dual = LDualUpdater::GetInstance();
    ASSERT_TRUE(dual);
    EXPECT_EQ(ProbeFlags::Of(dual->GetProbeResult()), c.probe);
    EXPECT_EQ(dual->IsUpdatingController(), c.targetIsController);
    EXPECT_EQ(mEngine->GetDeviceState(), c.stateAfterScan);
    if (ZT::Failed(c.scanResult)) {
        // Nothing was configured.
        EXPECT_EQ(mEngine->GetDeviceDefinitions().GetCount(), 0u);
        return;
    }

    const ProductDevice& target = c.targetIsController ? kControllerDevice : kWheelDisplayDevice;
    ASSERT_EQ(mEngine->GetDeviceDefinitions().GetCount(), 1u);
    // The rest of the definition is what the mode switch and the download use: ModeSwitchTest, TwoDeviceUpdate.
    EXPECT_EQ(UsbId(mEngine->GetDeviceDefinitions()[0].ProductId), UsbId(target.ProductId));
    ZT::WString path;
    ASSERT_RESULT_EQ(mEngine->GetFirmwareFilePath(path), ZT::S_OK);
    EXPECT_EQ(path, FilePath(target));
    ZT::WString versionText;
    ASSERT_RESULT_EQ(mEngine->GetFirmwareFileVersionText(versionText), ZT::S_OK);
    EXPECT_EQ(versionText, target.GetFirmwareVersion().Text);
}

INSTANTIATE_TEST_SUITE_P(
    PluggedIn, DualUpdaterTarget,
    ::testing::Values(
        TargetCase{"both up to date", {{C, 0x0031}, {D, 0x0050}}, ZT::S_OK, true,
                   ProbeFlags{.AnyDeviceFound = true},
                   DeviceState::DeviceNotInUpdateMode},
        TargetCase{"controller old", {{C, 0x0030}, {D, 0x0050}}, ZT::S_OK, true,
                   ProbeFlags{.AnyDeviceFound = true, .ControllerNeedsUpdate = true},
                   DeviceState::DeviceNotInUpdateMode},
        TargetCase{"both old: the controller first", {{C, 0x0030}, {D, 0x0049}}, ZT::S_OK, true,
                   ProbeFlags{.AnyDeviceFound = true, .ControllerNeedsUpdate = true, .DisplayNeedsUpdate = true},
                   DeviceState::DeviceNotInUpdateMode},
        TargetCase{"only the display old", {{C, 0x0031}, {D, 0x0049}}, ZT::S_OK, false,
                   ProbeFlags{.AnyDeviceFound = true, .DisplayNeedsUpdate = true},
                   DeviceState::DeviceNotInUpdateMode},
        TargetCase{"a newer controller needs nothing", {{C, 0x0100}, {D, 0x0050}}, ZT::S_OK, true,
                   ProbeFlags{.AnyDeviceFound = true},
                   DeviceState::DeviceNotInUpdateMode},
        TargetCase{"controller plus a bootloader: the display is in update mode", {{C, 0x0031}, {D, kBoot}},
                   ZT::S_OK, false,
                   ProbeFlags{.AnyDeviceFound = true, .DisplayNeedsUpdate = true, .DisplayInUpdateMode = true},
                   DeviceState::DeviceInUpdateMode},
        TargetCase{"an old controller does not go before a display in update mode", {{C, 0x0030}, {D, kBoot}},
                   ZT::S_OK, false,
                   ProbeFlags{.AnyDeviceFound = true, .ControllerNeedsUpdate = true, .DisplayNeedsUpdate = true,
                              .DisplayInUpdateMode = true},
                   DeviceState::DeviceInUpdateMode},
        TargetCase{"display plus a bootloader: the controller is in update mode", {{D, 0x0050}, {C, kBoot}},
                   ZT::S_OK, true,
                   ProbeFlags{.AnyDeviceFound = true, .ControllerNeedsUpdate = true},
                   DeviceState::DeviceInUpdateMode},
        TargetCase{"an old display waits for the controller in update mode", {{D, 0x0049}, {C, kBoot}},
                   ZT::S_OK, true,
                   ProbeFlags{.AnyDeviceFound = true, .ControllerNeedsUpdate = true, .DisplayNeedsUpdate = true},
                   DeviceState::DeviceInUpdateMode},
        TargetCase{"nothing plugged in: aimed at the controller", {}, ZT::S_OK, true,
                   ProbeFlags{}, DeviceState::NoDeviceFound},
        TargetCase{"only the controller", {{C, 0x0030}}, ZT::E_FAIL, true,
                   ProbeFlags{.AnyDeviceFound = true, .DeviceSetIncomplete = true},
                   DeviceState::DeviceCannotBeUpdated},
        TargetCase{"only the display", {{D, 0x0049}}, ZT::E_FAIL, true,
                   ProbeFlags{.AnyDeviceFound = true, .DeviceSetIncomplete = true},
                   DeviceState::DeviceCannotBeUpdated},
        TargetCase{"only a bootloader", {{C, kBoot}}, ZT::E_FAIL, true,
                   ProbeFlags{.AnyDeviceFound = true, .DeviceSetIncomplete = true},
                   DeviceState::DeviceCannotBeUpdated},
        // A scan keeps one device per definition, so two controllers read as one: without a
        // display that is an incomplete set.
        TargetCase{"two controllers", {{C, 0x0030}, {C, 0x0030}}, ZT::E_FAIL, true,
                   ProbeFlags{.AnyDeviceFound = true, .DeviceSetIncomplete = true},
                   DeviceState::DeviceCannotBeUpdated},
        // Two units of one kind are refused whatever else is plugged in: either could be written.
        TargetCase{"two controllers and a display", {{C, 0x0030}, {C, 0x0031}, {D, 0x0050}}, ZT::E_FAIL, true,
                   ProbeFlags{.AnyDeviceFound = true, .DeviceSetIncomplete = true},
                   DeviceState::DeviceCannotBeUpdated}));

// ---- After an update -----------------------------------------------------------------------------

// The main control as far as the dual updater sees it: labels with their string tables.
class RecordingHost final : public IDualUpdaterHost {
public:
    void ContinueUpdateProcess() override { ++mContinued; }
    bool HasLabel(const ZT::WString& labelName) override { return mStrings.count(labelName.ToUTF8()) != 0; }
    bool GetLabelString(const ZT::WString& labelName, const ZT::WString& stringId, ZT::WString& text) override
    {
        const auto label = mStrings.find(labelName.ToUTF8());
        if (label == mStrings.end())
            return false;
        const auto entry = label->second.find(stringId.ToUTF8());
        if (entry == label->second.end())
            return false;
        text = ZT::WString(entry->second.c_str());
        return true;
    }
    void SetLabelText(const ZT::WString& labelName, const ZT::WString& text) override
    {
        mTexts[labelName.ToUTF8()] = text.ToUTF8();
    }
    void HideButton(const ZT::WString& buttonName) override { mHidden.push_back(buttonName.ToUTF8()); }

    int mContinued = 0;
    std::map<std::string, std::map<std::string, std::string>> mStrings;
    std::map<std::string, std::string> mTexts;
    std::vector<std::string> mHidden;
};

class DualUpdaterCycle : public EngineFixture {
protected:
    DualUpdaterCycle() { LDualUpdater::SetHost(&mHost); }
    ~DualUpdaterCycle() override { LDualUpdater::SetHost(nullptr); }

    // What a successful download leaves behind: the device back in normal mode with release.
    ZT::RCPtr<LSimulatedDevice> Reflash(const ZT::RCPtr<LSimulatedDevice>& device, std::uint16_t release)
    {
        device->Unplug();
        return mSimulator->AddDevice(device->GetKind(), release);
    }
    bool TargetIsController() { return LDualUpdater::GetInstance()->IsUpdatingController(); }
    // The controller updated to 00.31 beside the old wheel display, and the rescan after that
    // update run to its end on the engine's worker; its completion waits in the center, undelivered.
    void RescanAfterTheControllersUpdate()
    {
        (void)mRecorder->Register(mCenter.Get(), LUpdateEngineInterface::kNidWorkerJobCompleted); // a live center takes it
        auto controller = AddController(0x0030);
        AddDisplay(0x0049);
        ASSERT_RESULT_EQ(mEngine->ScanForDevices(), ZT::S_OK);
        controller = Reflash(controller, 0x0031);
        ASSERT_TRUE(LDualUpdater::StartRescanAfterUpdate(*mEngine));
        ASSERT_RESULT_EQ(mEngine->WaitForUpdate(ZT::kShutdownJoinTimeoutMs), ZT::S_OK);
    }

    RecordingHost mHost;
};

TEST_F(DualUpdaterCycle, TheTargetChosenAfterAnUpdateSurvivesTheNextScan)
{
    auto controller = AddController(0x0030);
    AddDisplay(0x0049);
    ASSERT_RESULT_EQ(mEngine->ScanForDevices(), ZT::S_OK);
    ASSERT_TRUE(TargetIsController());

    // The move to the display and the host's continuation: TwoDeviceUpdate.ControllerThenWheelDisplayWithoutUserAction.
    controller = Reflash(controller, 0x0031);
    LDualUpdater::OnUpdateCompleted(*mEngine, true);
    EXPECT_TRUE(LDualUpdater::GetInstance()->IsTargetChosenAfterUpdate());

    // The next scan keeps the target the update chose, even though a probe would choose the
    // controller again if its image had not been confirmed.
    ASSERT_RESULT_EQ(mEngine->ScanForDevices(), ZT::S_OK);
    EXPECT_FALSE(TargetIsController());
}

// The rescan on the engine's worker: the probe it makes reaches the last probe, which the
// user-interface thread reads, only with its completion, and so does the host's continuation.
TEST_F(DualUpdaterCycle, ARescanOnTheWorkerHandsItsProbeOverWithItsCompletion)
{
    ASSERT_NO_FATAL_FAILURE(RescanAfterTheControllersUpdate());
    const ZT::RCPtr<LDualUpdater> instance = LDualUpdater::GetInstance();
    EXPECT_EQ(instance->GetProbeResult().ControllerVersion.Text.ToUTF8(), "00.30")
        << "the worker wrote the last probe before its completion was delivered";
    EXPECT_EQ(mHost.mContinued, 0) << "the host was asked to go on before the rescan's completion was delivered";
    // Aimed at the wheel display and scanned for it on the worker.
    EXPECT_FALSE(TargetIsController());
    EXPECT_EQ(UsbId(mEngine->GetDeviceDefinitions()[0].ProductId), UsbId(0xB010));
    EXPECT_EQ(mEngine->GetDeviceState(), DeviceState::DeviceNotInUpdateMode);

    Deliver();
    int rescans = 0;
    for (const auto& notification : mRecorder->mReceived)
        rescans += LDualUpdater::OnRescanCompleted(notification->GetPayloadAs<ZT::LRefCountedObject>()) ? 1 : 0;
    EXPECT_EQ(rescans, 1) << "of " << mRecorder->mReceived.size() << " notifications, " << rescans
                          << " were taken as the rescan's completion";
    EXPECT_EQ(instance->GetProbeResult().ControllerVersion.Text.ToUTF8(), "00.31");
    EXPECT_EQ(mHost.mContinued, 1);
}

// A rescan of an instance released meanwhile (the program ends, a test starts afresh) changes
// nothing of the instance made since.
TEST_F(DualUpdaterCycle, TheCompletionOfAReleasedInstancesRescanIsIgnored)
{
    ASSERT_NO_FATAL_FAILURE(RescanAfterTheControllersUpdate());

    LDualUpdater::ReleaseInstance();
    LDualUpdater::SetHost(&mHost); // makes a new instance, which has probed nothing
    Deliver();
    for (const auto& notification : mRecorder->mReceived)
        EXPECT_FALSE(LDualUpdater::OnRescanCompleted(notification->GetPayloadAs<ZT::LRefCountedObject>()))
            << "a released instance's rescan was taken by the new one";
    EXPECT_FALSE(LDualUpdater::GetInstance()->GetProbeResult().AnyDeviceFound);
    EXPECT_EQ(mHost.mContinued, 0);
}

TEST_F(DualUpdaterCycle, ControllerOldAloneEndsAfterTheController)
{
    auto controller = AddController(0x0030);
    AddDisplay(0x0050);
    ASSERT_RESULT_EQ(mEngine->ScanForDevices(), ZT::S_OK);
    controller = Reflash(controller, 0x0031);
    LDualUpdater::OnUpdateCompleted(*mEngine, true);
    EXPECT_TRUE(TargetIsController());
    EXPECT_FALSE(LDualUpdater::GetInstance()->IsTargetChosenAfterUpdate());
    EXPECT_EQ(mHost.mContinued, 0);
}

TEST_F(DualUpdaterCycle, AnUpdateThatDoesNotShowOnTheDeviceEndsTheCycle)
{
    PlugPairAndScan(0x0030, 0x0049);
    // Reported as succeeded, but the controller still says 00.30.
    LDualUpdater::OnUpdateCompleted(*mEngine, true);
    EXPECT_FALSE(LDualUpdater::GetInstance()->IsTargetChosenAfterUpdate());
    EXPECT_EQ(mHost.mContinued, 0);
    // The engine stays aimed at the controller; the next scan probes and chooses afresh.
    EXPECT_EQ(UsbId(mEngine->GetDeviceDefinitions()[0].ProductId), UsbId(0x8010));
    ASSERT_RESULT_EQ(mEngine->ScanForDevices(), ZT::S_OK);
    EXPECT_TRUE(TargetIsController());
}

TEST_F(DualUpdaterCycle, AFailedUpdateEndsTheCycleWithoutAProbe)
{
    PlugPairAndScan(0x0030, 0x0049);
    mSimulator->SetEnumerationFails(true);
    LDualUpdater::OnUpdateCompleted(*mEngine, false);
    // A probe would have found nothing now.
    EXPECT_TRUE(LDualUpdater::GetInstance()->GetProbeResult().AnyDeviceFound);
    EXPECT_EQ(mHost.mContinued, 0);
}

TEST_F(DualUpdaterCycle, DisplayFirstThenTheControllerEachOnce)
{
    // The display in update mode goes first; the old controller follows.
    auto controller = AddController(0x0030);
    auto display = mSimulator->AddDevice(SimulatedDeviceKind::WheelDisplay, std::nullopt);
    ASSERT_RESULT_EQ(mEngine->ScanForDevices(), ZT::S_OK);
    ASSERT_FALSE(TargetIsController());
    EXPECT_EQ(mEngine->GetDeviceState(), DeviceState::DeviceInUpdateMode);

    display = Reflash(display, 0x0050);
    LDualUpdater::OnUpdateCompleted(*mEngine, true);
    EXPECT_TRUE(TargetIsController());
    EXPECT_EQ(mHost.mContinued, 1);

    // The controller's update is confirmed; the display was attempted already: the end.
    controller = Reflash(controller, 0x0031);
    LDualUpdater::OnUpdateCompleted(*mEngine, true);
    EXPECT_EQ(mHost.mContinued, 1);
    EXPECT_FALSE(LDualUpdater::GetInstance()->IsTargetChosenAfterUpdate());
}

TEST_F(DualUpdaterCycle, AMainEngineThatIsBusyIsNotReaimed)
{
    PlugPairAndScan(0x0031, 0x0049);
    ASSERT_FALSE(TargetIsController());
    mEngine->SetDeviceState(DeviceState::Updating);
    EXPECT_RESULT_EQ(LDualUpdater::Prepare(*mEngine), ZT::S_OK);
    EXPECT_FALSE(TargetIsController());
    EXPECT_EQ(mEngine->GetDeviceState(), DeviceState::Updating);
    EXPECT_EQ(LDualUpdater::GetEraseSectorCount(), 6u);
}

// ---- Constants and labels -----------------------------------------------------------------------

TEST_F(EngineFixture, WithoutAnInstanceEveryConstantIsNeutral)
{
    ASSERT_FALSE(LDualUpdater::GetInstance());
    EXPECT_TRUE(LDualUpdater::GetMidiPortName(0).IsEmpty());
    EXPECT_EQ(UsbId(LDualUpdater::GetDefaultProductId(0)), UsbId(0));
    EXPECT_EQ(LDualUpdater::GetEraseSectorCount(), 1u);
    std::uint32_t address = 5;
    EXPECT_FALSE(LDualUpdater::GetEraseSectorAddress(0, address));
    EXPECT_EQ(address, 0u);
    // Nothing happens, and nothing is made.
    LDualUpdater::OnUpdateCompleted(*mEngine, true);
    LDualUpdater::RefreshLabels(UpdateRunState::Succeeded, DeviceState::DeviceInUpdateMode,
                                FirmwareFileState::FileFoundVersionKnown);
    EXPECT_FALSE(LDualUpdater::GetInstance());
}

TEST_F(EngineFixture, TheConstantsFollowTheTarget)
{
    PlugPairAndScan(0x0031, 0x0049);
    ASSERT_FALSE(LDualUpdater::GetInstance()->IsUpdatingController());
    EXPECT_EQ(LDualUpdater::GetMidiPortName(0), ZT::WString(L"Halvard XR4000 NOVA WD"));
    EXPECT_TRUE(LDualUpdater::GetMidiPortName(1).IsEmpty());
    EXPECT_EQ(UsbId(LDualUpdater::GetDefaultProductId(0)), UsbId(0xB010));
    EXPECT_EQ(UsbId(LDualUpdater::GetDefaultProductId(1)), UsbId(0));
    ASSERT_EQ(LDualUpdater::GetEraseSectorCount(), 6u);
    std::vector<std::uint32_t> sectors;
    for (std::uint32_t i = 0; i < 6; ++i) {
        std::uint32_t address = 0;
        ASSERT_TRUE(LDualUpdater::GetEraseSectorAddress(i, address));
        sectors.push_back(address);
    }
    EXPECT_EQ(sectors, (std::vector<std::uint32_t>{0x08008000, 0x0800C000, 0x08010000, 0x08020000, 0x08040000,
                                                   0x08060000}));
    std::uint32_t address = 1;
    EXPECT_FALSE(LDualUpdater::GetEraseSectorAddress(6, address));
    EXPECT_EQ(address, 0u);
    // The controller's three sectors: DfuSeEraseList.
}

class DualUpdaterLabels : public DualUpdaterCycle {
protected:
    DualUpdaterLabels()
    {
        mHost.mStrings[LabelName(LDualUpdater::kLabelFileFirmwareVersion)] = {
            {"LABEL", "Updating to Controller Firmware Version: %s\r\nUpdating to Display Firmware Version: "},
            {"LABEL_UPDATING_CONTROLLER_FIRMWARE", "Updating Controller Firmware"},
            {"LABEL_UPDATING_WHEEL_DISPLAY_FIRMWARE", "Updating Display Firmware"}};
        mHost.mStrings[LabelName(LDualUpdater::kLabelDeviceFirmwareVersion)] = {
            {"LABEL", "Current Controller Firmware Version: %s\r\nCurrent Display Firmware Version: "}};
    }
    static std::string LabelName(const wchar_t* name) { return ZT::WString(name).ToUTF8(); }
    std::string Text(const wchar_t* label) { return mHost.mTexts[LabelName(label)]; }
};

TEST_F(DualUpdaterLabels, ShowTheTargetVersionsAndWhatTheDevicesReport)
{
    PlugPairAndScan(0x0030, 0x0049);

    LDualUpdater::RefreshLabels(UpdateRunState::Idle, DeviceState::DeviceNotInUpdateMode,
                                FirmwareFileState::FileFoundVersionKnown);
    EXPECT_EQ(Text(LDualUpdater::kLabelFileFirmwareVersion),
              "Updating to Controller Firmware Version: 00.31\r\nUpdating to Display Firmware Version: 00.50");
    EXPECT_EQ(Text(LDualUpdater::kLabelDeviceFirmwareVersion),
              "Current Controller Firmware Version: 00.30\r\nCurrent Display Firmware Version: 00.49");
    EXPECT_TRUE(mHost.mHidden.empty());

    LDualUpdater::RefreshLabels(UpdateRunState::Running, DeviceState::Updating, FirmwareFileState::FileFoundVersionKnown);
    EXPECT_EQ(Text(LDualUpdater::kLabelFileFirmwareVersion), "Updating Controller Firmware");

    LDualUpdater::RefreshLabels(UpdateRunState::Succeeded, DeviceState::DeviceInUpdateMode,
                                FirmwareFileState::FileFoundVersionKnown);
    EXPECT_EQ(mHost.mHidden, std::vector<std::string>{"buttonManualDeviceHasUpdatedRescanButton"});
}

TEST_F(DualUpdaterLabels, LeaveTheDeviceLabelAloneWhenNothingWasFound)
{
    mHost.mStrings.erase(LabelName(LDualUpdater::kLabelFileFirmwareVersion));
    ASSERT_RESULT_EQ(mEngine->ScanForDevices(), ZT::S_OK);
    LDualUpdater::RefreshLabels(UpdateRunState::Succeeded, DeviceState::DeviceNotInUpdateMode,
                                FirmwareFileState::FileInvalid);
    EXPECT_TRUE(mHost.mTexts.empty());
    EXPECT_TRUE(mHost.mHidden.empty());
}

TEST(DualUpdaterFormat, SubstitutesTheFirstTextOnlyAndNeverReadsAnArgument)
{
    EXPECT_EQ(LDualUpdater::FormatLabel(ZT::WString(L"Version: %s!"), ZT::WString(L"00.31")),
              ZT::WString(L"Version: 00.31!"));
    EXPECT_EQ(LDualUpdater::FormatLabel(ZT::WString(L"%s and %s, 100%% %d"), ZT::WString(L"A")),
              ZT::WString(L"A and %s, 100% %d"));
    EXPECT_EQ(LDualUpdater::FormatLabel(ZT::WString(L"no format %"), ZT::WString(L"A")), ZT::WString(L"no format %"));
}

// ---- The application folder -----------------------------------------------------------------------

TEST(ApplicationFolder, IsTheProgramsFolderUnlessAnotherIsSet)
{
    const ZT::WString program = GetApplicationFolder();
    ASSERT_FALSE(program.IsEmpty());
    EXPECT_TRUE(std::filesystem::exists(std::filesystem::path(program.ToUTF8()) / "test_engine"));

    SetApplicationFolder(ZT::WString(L"/opt/samples/"));
    EXPECT_EQ(GetApplicationFolder(), ZT::WString(L"/opt/samples"));
    SetApplicationFolder(ZT::WString());
    EXPECT_EQ(GetApplicationFolder(), program);
}

} // namespace
