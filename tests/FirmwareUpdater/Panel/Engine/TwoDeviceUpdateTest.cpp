// The whole product update in virtual time: the controller first, then the wheel display without
// user action, through the dual updater, with the test playing the main control's part.

#include "DownloadTestSupport.h"

#include "FirmwareUpdater/Panel/Engine/DualUpdaterHost.h"
#include "tests/Support/Printers.h"

#include <algorithm>

namespace {

using ZT::Testing::UsbId;

using namespace DownloadTest;

// What the main control does for the dual updater: "UPDATE FIRMWARE" pressed again.
class MainControlStandIn final : public IDualUpdaterHost {
public:
    explicit MainControlStandIn(LUpdateEngine& engine) : mEngine(engine) {}

    void ContinueUpdateProcess() override
    {
        ++mContinued;
        if (mEngine.GetFirmwareFileState() != LUpdateEngineInterface::FirmwareFileState::FileFoundVersionKnown)
            return;
        if (mEngine.GetDeviceState() == DeviceState::DeviceNotInUpdateMode)
            (void)mEngine.RequestUpdateMode(); // its outcome shows in the device state
        if (mEngine.GetDeviceState() == DeviceState::DeviceInUpdateMode && ZT::Succeeded(mEngine.StartUpdate()))
            ++mStarted;
    }
    bool HasLabel(const ZT::WString&) override { return false; }
    bool GetLabelString(const ZT::WString&, const ZT::WString&, ZT::WString&) override { return false; }
    void SetLabelText(const ZT::WString&, const ZT::WString&) override {}
    void HideButton(const ZT::WString&) override {}

    int mContinued = 0;
    // Downloads handed to the worker. In virtual time the worker may finish one before the test
    // looks at the engine, so the state Updating is never waited for.
    int mStarted = 0;

private:
    LUpdateEngine& mEngine;
};

class TwoDeviceUpdate : public DownloadFixture {
protected:
    // Both devices are older than their images.
    TwoDeviceUpdate() : DownloadFixture(0x0030, 0x0049) { LDualUpdater::SetHost(&mHost); }
    ~TwoDeviceUpdate() override { LDualUpdater::SetHost(nullptr); }

    // The main control's completion handling: wait for the device, then hand over.
    void CompleteUpdate()
    {
        ASSERT_RESULT_EQ(mEngine->WaitForUpdate(kWorkerWaitMs), ZT::S_OK);
        ASSERT_EQ(mEngine->GetUpdateRunState(true), UpdateRunState::Succeeded);
        ASSERT_RESULT_EQ(WaitForDeviceToReturn(*mEngine), ZT::S_OK);
        LDualUpdater::OnUpdateCompleted(*mEngine, true);
    }

    MainControlStandIn mHost{*mEngine};
};

TEST_F(TwoDeviceUpdate, ControllerThenWheelDisplayWithoutUserAction)
{
    ASSERT_RESULT_EQ(mEngine->ScanForDevices(), ZT::S_OK);
    ASSERT_TRUE(LDualUpdater::GetInstance()->IsUpdatingController());
    ASSERT_TRUE(mEngine->IsUpdateNeeded());
    mHost.ContinueUpdateProcess(); // the user presses "UPDATE FIRMWARE" once
    ASSERT_EQ(mHost.mStarted, 1);

    CompleteUpdate();
    // The controller is done and the display's download is under way, started by the dual updater.
    EXPECT_TRUE(FlashHolds(*mController, mControllerImage));
    EXPECT_FALSE(LDualUpdater::GetInstance()->IsUpdatingController());
    EXPECT_EQ(mHost.mContinued, 2);
    ASSERT_EQ(mHost.mStarted, 2);
    EXPECT_EQ(UsbId(mEngine->GetDeviceDefinitions()[0].ProductId), UsbId(0xB010));

    CompleteUpdate();
    EXPECT_EQ(mHost.mContinued, 2); // nothing left to do: the cycle ends
    EXPECT_EQ(mHost.mStarted, 2);
    EXPECT_EQ(mEngine->GetDeviceState(), DeviceState::DeviceNotInUpdateMode);
    EXPECT_TRUE(FlashHolds(*mController, mControllerImage));
    EXPECT_TRUE(FlashHolds(*mDisplay, mDisplayImage));

    const auto& probe = LDualUpdater::GetInstance()->GetProbeResult();
    EXPECT_EQ(probe.ControllerVersion.Text, ZT::WString(L"00.31"));
    EXPECT_EQ(probe.DisplayVersion.Text, ZT::WString(L"00.50"));
    EXPECT_FALSE(probe.ControllerNeedsUpdate);
    EXPECT_FALSE(probe.DisplayNeedsUpdate);

    // Exactly two sessions of erase and write: the display's six-sector list, cut where its
    // 307500-byte image ends.
    const auto requests = mUsb->GetDescriptions();
    EXPECT_EQ(std::count(requests.begin(), requests.end(), "DNLOAD 0 erase 0x08040000"), 1);
    EXPECT_EQ(std::count(requests.begin(), requests.end(), "DNLOAD 0 erase 0x08060000"), 0);
    EXPECT_EQ(std::count(requests.begin(), requests.end(), "DNLOAD 0 leave"), 2);
    EXPECT_EQ(mUsb->CountDataBlocks(), 48u + 151u);
}

} // namespace
