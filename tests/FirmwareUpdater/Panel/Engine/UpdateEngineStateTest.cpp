// The engine's state machine: scans and selection, the firmware file, the run state, the worker
// hand-over and the notifications a client on the user-interface thread receives.

#include "UpdateEngineTestSupport.h"

#include "ZTFramework/Debug/DebugOutput.h"
#include "ZTFramework/Threads/Event.h"
#include "tests/Support/Printers.h"

#include <sstream>

namespace {

using namespace EngineTest;

class EngineStateTest : public EngineFixture {};

TEST_F(EngineStateTest, OneDeviceFoundGivesOneStateNotificationInTheDeliveredOrder)
{
    PlugPairAndScan(0x0030, 0x0050);
    // The first scan: the engine is configured (no device found yet), then the controller is
    // selected directly from the quiet "several found" state.
    EXPECT_EQ(TakeStateChanges(), (std::vector<StateChange>{{DeviceState::NoDeviceFound, DeviceState::NoDeviceDefined},
                                                             {DeviceState::NoDeviceFound, DeviceState::NoDeviceDefined},
                                                             {DeviceState::DeviceNotInUpdateMode,
                                                              DeviceState::DevicesAvailableNoneSelected}}));

    // A rescan reconfigures (5 -> 1) and finds the one device again: one notification for it.
    ASSERT_RESULT_EQ(mEngine->ScanForDevices(), ZT::S_OK);
    EXPECT_EQ(TakeStateChanges(),
              (std::vector<StateChange>{{DeviceState::NoDeviceFound, DeviceState::DeviceNotInUpdateMode},
                                        {DeviceState::DeviceNotInUpdateMode, DeviceState::DevicesAvailableNoneSelected}}));
    EXPECT_EQ(mEngine->GetSelectedDeviceIndex(), 0);
    // The switch into update mode: ModeSwitchTiming.
}

TEST_F(EngineStateTest, SettingTheSameStateAgainPostsNothing)
{
    mEngine->SetDeviceState(DeviceState::NoDeviceFound);
    mEngine->SetDeviceState(DeviceState::NoDeviceFound);
    mEngine->SetDeviceState(DeviceState::DevicesAvailableNoneSelected);
    mEngine->SetDeviceState(DeviceState::DevicesAvailableNoneSelected);
    EXPECT_EQ(TakeStateChanges(),
              (std::vector<StateChange>{{DeviceState::NoDeviceFound, DeviceState::NoDeviceDefined},
                                        {DeviceState::DevicesAvailableNoneSelected, DeviceState::NoDeviceFound}}));
}

TEST_F(EngineStateTest, SelectionOutOfRangeLeavesNoneSelected)
{
    AddController(0x0030);
    AddDisplay(0x0050);
    LUpdateEngineInterface::DeviceDefinitions definitions{kControllerDevice.GetDeviceDefinition(),
                                                          kWheelDisplayDevice.GetDeviceDefinition()};
    ASSERT_RESULT_EQ(mEngine->SetDeviceDefinitions(definitions), ZT::S_OK);
    // Below DevicesAvailableNoneSelected nothing can be selected.
    EXPECT_RESULT_EQ(mEngine->SelectDevice(0), ZT::E_FAIL);
    ASSERT_RESULT_EQ(mEngine->ScanDevices(), ZT::S_OK);
    ASSERT_EQ(mEngine->GetFoundDeviceCount(), 2u);
    mEngine->SetDeviceState(DeviceState::DevicesAvailableNoneSelected);

    ASSERT_RESULT_EQ(mEngine->SelectDevice(1), ZT::S_OK);
    EXPECT_EQ(mEngine->GetSelectedDeviceIndex(), 1);
    EXPECT_EQ(mEngine->GetDeviceState(), DeviceState::DeviceNotInUpdateMode);

    EXPECT_RESULT_EQ(mEngine->SelectDevice(5), ZT::E_INVALIDARG);
    EXPECT_EQ(mEngine->GetSelectedDeviceIndex(), -1);
    EXPECT_EQ(mEngine->GetDeviceState(), DeviceState::DevicesAvailableNoneSelected);

    // The busy states refuse a selection and keep it.
    ASSERT_RESULT_EQ(mEngine->SelectDevice(0), ZT::S_OK);
    mEngine->SetDeviceState(DeviceState::Updating);
    EXPECT_RESULT_EQ(mEngine->SelectDevice(1), ZT::E_FAIL);
    EXPECT_EQ(mEngine->GetSelectedDeviceIndex(), 0);
    EXPECT_RESULT_EQ(mEngine->SetDeviceDefinitions(definitions), ZT::E_FAIL);
    EXPECT_RESULT_EQ(mEngine->ScanForDevices(), ZT::E_FAIL);
    EXPECT_EQ(mEngine->GetDeviceState(), DeviceState::Updating);
    EXPECT_EQ(mEngine->GetDeviceDefinitions().GetCount(), 2u);
}

TEST_F(EngineStateTest, ErrorReasonAndVersionTextFollowTheState)
{
    AddController(0x0030);
    AddDisplay(0x0050);
    std::uint32_t reason = 99;
    ZT::WString text;
    EXPECT_RESULT_EQ(mEngine->GetDeviceErrorReason(reason), ZT::E_FAIL);
    EXPECT_EQ(reason, 0u);
    EXPECT_RESULT_EQ(mEngine->GetSelectedDeviceVersionText(text), ZT::E_FAIL);
    EXPECT_EQ(text, ZT::WString(L"N/A"));

    ASSERT_RESULT_EQ(mEngine->ScanForDevices(), ZT::S_OK);
    ASSERT_RESULT_EQ(mEngine->GetSelectedDeviceVersionText(text), ZT::S_OK);
    EXPECT_EQ(text, ZT::WString(L"00.30"));

    // Cannot be updated without a selection: the reason reads as "driver too old".
    mEngine->SetDeviceState(DeviceState::DevicesAvailableNoneSelected);
    EXPECT_RESULT_EQ(mEngine->SelectDevice(7), ZT::E_INVALIDARG);
    mEngine->SetDeviceState(DeviceState::DeviceCannotBeUpdated);
    ASSERT_RESULT_EQ(mEngine->GetDeviceErrorReason(reason), ZT::S_OK);
    EXPECT_EQ(reason, static_cast<std::uint32_t>(DeviceErrorReason::DriverTooOld));
    EXPECT_RESULT_EQ(mEngine->GetSelectedDeviceVersionText(text), ZT::E_FAIL);
    EXPECT_EQ(text, ZT::WString(L"N/A"));
}

TEST_F(EngineStateTest, FirmwareFileStatesAndVersions)
{
    const ZT::WString controllerFile = FilePath(kControllerDevice);
    ASSERT_RESULT_EQ(mEngine->SetFirmwareFile(controllerFile), ZT::S_OK);
    EXPECT_EQ(mEngine->GetFirmwareFileState(), FirmwareFileState::FileFoundVersionKnown);
    ZT::WString text;
    ASSERT_RESULT_EQ(mEngine->GetFirmwareFileVersionText(text), ZT::S_OK);
    EXPECT_EQ(text, ZT::WString(L"00.31"));
    FirmwareVersion version;
    ASSERT_RESULT_EQ(mEngine->GetFirmwareFileVersion(version), ZT::S_OK);
    EXPECT_TRUE(version.HasSameNumberAs({0, 0, 3, 1}));

    // A folder is not a firmware file; the path is kept, the version is unreadable.
    const ZT::WString folder(mFolder.string().c_str());
    EXPECT_RESULT_EQ(mEngine->SetFirmwareFile(folder), ZT::E_FAIL);
    EXPECT_EQ(mEngine->GetFirmwareFileState(), FirmwareFileState::FileInvalid);
    ZT::WString path;
    EXPECT_RESULT_EQ(mEngine->GetFirmwareFilePath(path), ZT::S_OK);
    EXPECT_EQ(path, folder);
    EXPECT_RESULT_EQ(mEngine->GetFirmwareFileVersionText(text), ZT::E_FAIL);
    EXPECT_EQ(text, ZT::WString(L"N/A"));
    // The record is still copied out.
    EXPECT_RESULT_EQ(mEngine->GetFirmwareFileVersion(version), ZT::E_FAIL);
    EXPECT_TRUE(version.HasSameNumberAs({0, 0, 3, 1}));

    const ZT::WString missing = folder + L"/missing.dfu";
    EXPECT_RESULT_EQ(mEngine->SetFirmwareFileWithVersion(missing, {0, 0, 5, 0, L"00.50"}), ZT::E_FAIL);
    EXPECT_RESULT_EQ(mEngine->SetFirmwareFileWithVersion(ZT::WString(), {0, 0, 5, 0, L"00.50"}), ZT::E_FAIL);
    EXPECT_RESULT_EQ(mEngine->GetFirmwareFilePath(path), ZT::E_FAIL);

    ASSERT_RESULT_EQ(mEngine->SetFirmwareFileWithVersion(FilePath(kWheelDisplayDevice), {0, 0, 5, 0, L"00.50"}),
                     ZT::S_OK);
    ASSERT_RESULT_EQ(mEngine->GetFirmwareFileVersionText(text), ZT::S_OK);
    EXPECT_EQ(text, ZT::WString(L"00.50"));

    // Only the changes were posted.
    Deliver();
    using F = FirmwareFileState;
    EXPECT_EQ(mRecorder->Collect<ZT::LFirmwareFileStateChangeNotificationData>(
                  [](const auto& data) { return std::make_pair(data.GetNewState(), data.GetOldState()); }),
              (std::vector<std::pair<F, F>>{{F::FileFoundVersionKnown, F::NoFileDefined},
                                            {F::FileInvalid, F::FileFoundVersionKnown},
                                            {F::FileFoundVersionKnown, F::FileInvalid}}));
}

TEST_F(EngineStateTest, FirmwareVersionIsReadFromTheFileNameOnly)
{
    struct Row {
        const wchar_t* path;
        bool parsed;
        FirmwareVersion version;
    };
    const Row rows[] = {{L"fw_V1_23.dfu", true, {1, 2, 3, 0, L"1.2.3"}},
                      {L"/opt/updater/fw_V12_34.dfu", true, {12, 3, 4, 0, L"12.3.4"}},
                      {L"C:\\Program Files\\fw_V7_89", true, {7, 8, 9, 0, L"7.8.9"}},
                      {L"fw_V1_2.dfu", false, {}},
                      {L"fw_v1_23.dfu", false, {}},
                      {L"fw_V123_4.dfu", false, {}},
                      {L"fw_V1_", false, {}},
                      {L"fw_Vx_12.dfu", false, {}},
                      // The marker must be in the file's own name, not in a folder's.
                      {L"/builds/rel_V1_23/fw.dfu", false, {}},
                      // A path that ends with its separator is read whole.
                      {L"/builds/rel_V1_23/", true, {1, 2, 3, 0, L"1.2.3"}},
                      {L"qx31_tp_update_00_31_120936.dfu", false, {}},
                      {L"qx31_wd_update_00_50_3A7CE2CA.dfu", false, {}}};
    EXPECT_FALSE(mEngine->ParseFirmwareFileVersionFromName()) << "no file yet";
    for (const Row& row : rows) {
        SCOPED_TRACE(ZT::WString(row.path).ToUTF8());
        const FirmwareVersion before{9, 9, 9, 9, L"before"};
        // The files do not exist: the path and version are stored all the same.
        (void)mEngine->SetFirmwareFileWithVersion(ZT::WString(row.path), before);
        EXPECT_EQ(mEngine->ParseFirmwareFileVersionFromName(), row.parsed);
        FirmwareVersion version;
        (void)mEngine->GetFirmwareFileVersion(version);
        const FirmwareVersion& expected = row.parsed ? row.version : before;
        EXPECT_TRUE(version.HasSameNumberAs(expected));
        EXPECT_EQ(version.Text, expected.Text);
    }
}

TEST_F(EngineStateTest, StartUpdateNeedsAFileAndADeviceInUpdateMode)
{
    PlugPairAndScan(0x0030, 0x0050);
    ASSERT_EQ(mEngine->GetDeviceState(), DeviceState::DeviceNotInUpdateMode);
    (void)TakeStateChanges();

    EXPECT_RESULT_EQ(mEngine->StartUpdate(), ZT::E_FAIL);
    ASSERT_RESULT_EQ(mEngine->RequestUpdateMode(), ZT::S_OK);
    (void)mEngine->SetFirmwareFile(ZT::WString(L"/nonexistent/file.dfu"));
    EXPECT_RESULT_EQ(mEngine->StartUpdate(), ZT::E_FAIL);
    EXPECT_EQ(mEngine->GetDeviceState(), DeviceState::DeviceInUpdateMode);
    // Only the mode switch changed the state.
    EXPECT_EQ(TakeStateChanges().size(), 2u);
}

// An image for simulated devices never reaches hardware that is not simulated: not when the
// file is chosen, and not when the download starts after the backend has changed.
class SimulationImageRefusal : public EngineFixture {
protected:
    SimulationImageRefusal() { ZT::DebugOutput::Instance().SetLogStreams(mDebugText, mWideDebugText); }
    ~SimulationImageRefusal() override { ZT::DebugOutput::Instance().UseDebugStreams(); }

    void UseUnmarkedBackend() { ZT::SetUsbBackend(ZT::MakeRC<LUnmarkedUsbBackend>(mSimulator->CreateUsbBackend())); }

    std::ostringstream mDebugText;
    std::wostringstream mWideDebugText;
};

TEST_F(SimulationImageRefusal, WhenTheFileIsChosen)
{
    const ZT::WString sample = FilePath(kControllerDevice);
    UseUnmarkedBackend();
    EXPECT_RESULT_EQ(mEngine->SetFirmwareFile(sample), ZT::E_FAIL);
    EXPECT_EQ(mEngine->GetFirmwareFileState(), FirmwareFileState::FileInvalid);
    EXPECT_RESULT_EQ(mEngine->SetFirmwareFileWithVersion(sample, {0, 0, 3, 1, L"00.31"}), ZT::E_FAIL);
    EXPECT_EQ(mEngine->GetFirmwareFileState(), FirmwareFileState::FileInvalid);
    EXPECT_NE(mDebugText.str().find("simulated devices only"), std::string::npos) << mDebugText.str();

    // A file without the mark is accepted by the same backend.
    const auto plain = mTemp.Write("plain.dfu", std::vector<std::uint8_t>{1, 2, 3, 4});
    EXPECT_RESULT_EQ(mEngine->SetFirmwareFile(ZT::WString(plain.string().c_str())), ZT::S_OK);

    // And the marked one by the simulator.
    mSimulator->Install();
    EXPECT_RESULT_EQ(mEngine->SetFirmwareFile(sample), ZT::S_OK);
}

TEST_F(SimulationImageRefusal, WhenTheDownloadStarts)
{
    PlugPairAndScan(0x0030, 0x0050);
    ASSERT_EQ(mEngine->GetFirmwareFileState(), FirmwareFileState::FileFoundVersionKnown);
    ASSERT_RESULT_EQ(mEngine->RequestUpdateMode(), ZT::S_OK);
    (void)TakeStateChanges();

    UseUnmarkedBackend();
    ASSERT_RESULT_EQ(mEngine->StartUpdate(), ZT::S_OK);
    // The wait covers the hand-over to the worker as well as its run.
    ASSERT_RESULT_EQ(mEngine->WaitForUpdate(ZT::kInfinite), ZT::S_OK);

    EXPECT_EQ(mEngine->GetFirmwareFileState(), FirmwareFileState::FileInvalid);
    EXPECT_EQ(mEngine->GetDeviceState(), DeviceState::DeviceCannotBeUpdated);
    std::uint32_t reason = 0;
    ASSERT_RESULT_EQ(mEngine->GetDeviceErrorReason(reason), ZT::S_OK);
    EXPECT_EQ(reason, static_cast<std::uint32_t>(DeviceErrorReason::FileAccessFailure));
    // Not one request reached the bootloader.
    for (const auto& device : mSimulator->GetDevices())
        EXPECT_TRUE(device->GetRequestLog().empty());

    // The completion was posted before the wait ended, after the final state.
    Deliver();
    EXPECT_EQ(mRecorder->DeviceStateChanges(),
              (std::vector<StateChange>{{DeviceState::Updating, DeviceState::DeviceInUpdateMode},
                                        {DeviceState::DeviceCannotBeUpdated, DeviceState::Updating}}));
    EXPECT_EQ(mRecorder->Completions(), std::vector<bool>{false});
    ASSERT_FALSE(mRecorder->mReceived.empty());
    EXPECT_EQ(mRecorder->mReceived.back()->GetID(),
              ZT::InternNotificationID(LUpdateEngineInterface::kNidFirmwareUpdateCompleted));

    // The worker has ended, with the outcome kept (reading it once resets it: ModeSwitchTest's cancel).
    EXPECT_EQ(mEngine->GetUpdateRunState(false), UpdateRunState::Failed);
    EXPECT_RESULT_EQ(mEngine->WaitForUpdate(0), ZT::S_OK);
}

} // namespace
