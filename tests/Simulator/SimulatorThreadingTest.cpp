// The engine's worker downloads while the UI thread scans and reads the logs: the simulator's
// state must stay consistent (run under ThreadSanitizer).

#include "SimulatorTestSupport.h"

#include <atomic>
#include <thread>

namespace {

using namespace SimTest;

class SimulatorThreading : public SimulatorTest {};

TEST_F(SimulatorThreading, DownloadOnOneThreadWhileAnotherScans)
{
    DfuHost host = EnterBootloader();
    const auto image = MakeImage(0x6000, 0x0035);
    std::atomic<bool> done{false};
    std::atomic<bool> scanning{false};
    ::testing::AssertionResult downloaded = ::testing::AssertionFailure();

    std::thread worker([&] {
        // Start only once the scanner runs, so the two always overlap however the threads are
        // scheduled.
        scanning.wait(false);
        downloaded = host.EraseSector(0x08008000);
        if (downloaded)
            downloaded = host.EraseSector(0x0800C000);
        if (downloaded)
            downloaded = host.WriteElement(kApplicationStartAddress, image);
        if (downloaded && !host.Leave())
            downloaded = ::testing::AssertionFailure() << "leave";
        (void)host.GetStatus();
        done = true;
    });

    std::size_t scans = 0;
    do {
        auto devices = List();
        EXPECT_GE(devices.size(), 1u);
        (void)mMidi->ListOutputNames();
        (void)mController->GetLog();
        (void)mController->GetRequestLog();
        (void)mController->GetDfuState();
        (void)mWheelDisplay->GetMode();
        if (++scans == 1) {
            scanning = true;
            scanning.notify_one();
        }
        std::this_thread::yield();
    } while (!done);
    worker.join();
    EXPECT_TRUE(downloaded);
    EXPECT_EQ(mController->GetFlashReleaseNumber(), 0x0035);
}

TEST_F(SimulatorThreading, UnplugWhileAStatusIsHeldBack)
{
    // Real time would make the race visible; in virtual time the held-back request must at
    // least see the device gone when it wakes.
    DfuHost host = EnterBootloader();
    ASSERT_TRUE(host.Download(0, DfuHost::Command(ZT::kDfuSeCommandErase, 0x08020000)));
    ASSERT_EQ(host.GetStatus()->state, 4);
    std::thread unplugger([this] { mController->Unplug(); });
    const auto status = host.GetStatus();
    unplugger.join();
    // Either the erase finished before the cable went, or the request found the device gone.
    if (status)
        EXPECT_EQ(status->state, 5);
    else
        EXPECT_EQ(host.Connection().GetLastError(), ZT::UsbError::NoDevice);
    EXPECT_FALSE(host.GetStatus());
}

} // namespace
