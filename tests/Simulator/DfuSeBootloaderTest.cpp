// The simulated DfuSe bootloader through a USB connection: what neither the engine's downloads
// (DfuSeDownloadTest: blocks, erase list, each fault's effect on a run) nor the libusb tests on the
// same bootloader (the engine's and dfu-util's downloads, dfu-util's uploads) reach.

#include "SimulatorTestSupport.h"

#include <functional>

namespace {

using namespace SimTest;
using F = SimulatedDeviceFaults;

constexpr std::uint32_t kApp = kApplicationStartAddress;

class DfuSeBootloader : public SimulatorTest {
protected:
    std::vector<std::uint8_t> Flash(std::uint32_t address, std::size_t length)
    {
        auto bytes = mController->ReadFlash(address, length);
        EXPECT_TRUE(bytes.has_value());
        return bytes.value_or(std::vector<std::uint8_t>{});
    }
};

TEST_F(DfuSeBootloader, EraseTimesAndTheHeldBackStatus)
{
    DfuHost host = EnterBootloader();
    struct Row {
        std::uint32_t sector;
        std::uint32_t eraseMs;
    };
    for (const Row row : {Row{0x0800C000, 250}, Row{0x08010000, 1100}, Row{0x08020000, 2000}}) {
        ASSERT_TRUE(host.Download(0, DfuHost::Command(kDfuSeCommandErase, row.sector)));
        const std::uint64_t started = mClock.NowMs();
        const auto busy = host.GetStatus();
        ASSERT_TRUE(busy);
        EXPECT_EQ(busy->state, 4);
        EXPECT_EQ(busy->pollTimeoutMs, row.eraseMs);
        EXPECT_EQ(mClock.NowMs(), started);

        // Asked again at once: the answer comes only when the erase is done.
        const auto done = host.GetStatus();
        ASSERT_TRUE(done);
        EXPECT_EQ(done->state, 5);
        EXPECT_EQ(mClock.NowMs() - started, row.eraseMs);
    }
}

// A block the flash refuses ends in dfuERROR with the flash's reason and changes nothing.
TEST_F(DfuSeBootloader, ARefusedWriteEndsInErrorAndChangesNothing)
{
    DfuHost host = EnterBootloader();
    ASSERT_TRUE(host.EraseSector(0x080E0000));
    struct Row {
        const char* what;
        std::uint32_t address;
        DfuStatus status;
    };
    for (const Row& row : {Row{"unerased flash", kApp, DfuStatus::ErrWrite},
                           Row{"past the flash's end", 0x080FFFF0, DfuStatus::ErrAddress}}) {
        SCOPED_TRACE(row.what);
        const auto before = Flash(row.address, 16);
        ASSERT_TRUE(host.SetAddress(row.address));
        EXPECT_FALSE(host.WriteBlock(2, MakeImage(32, std::nullopt)));
        const auto status = host.GetStatus();
        ASSERT_TRUE(status);
        EXPECT_EQ(status->state, 10);
        EXPECT_EQ(status->status, static_cast<std::uint8_t>(row.status));
        EXPECT_EQ(Flash(row.address, 16), before);
        // The engine's idle check clears it.
        ASSERT_TRUE(host.ClearStatus());
        EXPECT_EQ(host.GetStatus()->state, 2);
    }
}

// Uploads of the flash, a short last block among them: the stock dfu-util test of the libusb backend.
TEST_F(DfuSeBootloader, UploadGivesTheCommandListAndAZeroLengthOneEndsIt)
{
    DfuHost host = EnterBootloader();
    EXPECT_EQ(host.Upload(0, 16), (std::vector<std::uint8_t>{0x00, 0x21, 0x41, 0x92}));
    EXPECT_EQ(host.Upload(2, 16), Flash(LSimulatedFlash::kBaseAddress, 16));
    EXPECT_EQ(host.GetState(), 9);
    EXPECT_EQ(host.Upload(2, 0)->size(), 0u); // a zero-length upload ends it
    EXPECT_EQ(host.GetState(), 2);
}

TEST_F(DfuSeBootloader, RequestsTheStateDoesNotAllowAreStalled)
{
    DfuHost host = EnterBootloader();
    struct Case {
        const char* what;
        std::function<bool(DfuHost&)> request;
    };
    const std::vector<Case> cases{
        {"block number 1", [](DfuHost& h) { return h.Download(1, MakeImage(16, std::nullopt)); }},
        {"unknown DfuSe command", [](DfuHost& h) { return h.Download(0, DfuHost::Command(0x92, 0)); }},
        {"erase command too short", [](DfuHost& h) { return h.Download(0, std::vector<std::uint8_t>{0x41}); }},
        {"block larger than the transfer size", [](DfuHost& h) { return h.Download(2, MakeImage(2049, std::nullopt)); }},
        {"DETACH", [](DfuHost& h) { return h.Connection().ControlTransfer(kDfuRequestTypeOut, 0, 1000, 0, nullptr, 0); }},
        {"status request too short", [](DfuHost& h) {
             std::uint8_t reply[5];
             return h.Connection().ControlTransfer(kDfuRequestTypeIn, 3, 0, 0, reply, 5);
         }},
        {"GETSTATUS sent host-to-device", [](DfuHost& h) {
             std::uint8_t reply[6]{};
             return h.Connection().ControlTransfer(kDfuRequestTypeOut, 3, 0, 0, reply, 6);
         }},
    };
    for (const Case& c : cases) {
        EXPECT_FALSE(c.request(host)) << c.what;
        EXPECT_EQ(host.Connection().GetLastError(), ZT::UsbError::Pipe) << c.what;
        const auto status = host.GetStatus();
        ASSERT_TRUE(status) << c.what;
        EXPECT_EQ(status->state, 10) << c.what;
        EXPECT_EQ(status->status, static_cast<std::uint8_t>(DfuStatus::ErrStalledPkt)) << c.what;
        EXPECT_FALSE(host.Abort()) << c.what; // only CLRSTATUS leaves dfuERROR
        ASSERT_TRUE(host.ClearStatus());
    }

    // Requests for another interface are refused without touching the DFU state.
    std::uint8_t reply[6];
    EXPECT_FALSE(host.Connection().ControlTransfer(kDfuRequestTypeIn, 3, 0, 1, reply, 6));
    EXPECT_EQ(host.GetStatus()->state, 2);
}

TEST_F(DfuSeBootloader, NothingButStatusWhileBusy)
{
    DfuHost host = EnterBootloader();
    ASSERT_TRUE(host.Download(0, DfuHost::Command(kDfuSeCommandErase, 0x08020000)));
    EXPECT_EQ(host.GetStatus()->state, 4);
    EXPECT_EQ(host.GetState(), 4);
    EXPECT_FALSE(host.Download(0, DfuHost::Command(kDfuSeCommandErase, 0x08040000)));
    EXPECT_EQ(host.GetStatus()->state, 10);

    // The request log keeps each request with its payload, answer and outcome.
    const auto log = mController->GetRequestLog();
    ASSERT_EQ(log.size(), 5u);
    EXPECT_EQ(log[0].dataOut, DfuHost::Command(kDfuSeCommandErase, 0x08020000));
    EXPECT_EQ(log[2].dataIn, std::vector<std::uint8_t>{4});
    EXPECT_EQ(log[3].error, ZT::UsbError::Pipe);
    EXPECT_EQ(log[4].stateAfter, DfuState::DfuError);
}

TEST_F(DfuSeBootloader, ABrokenImageKeepsTheDeviceInItsBootloader)
{
    DfuHost host = EnterBootloader();
    ASSERT_TRUE(host.EraseSector(0x08008000));
    ASSERT_TRUE(host.WriteElement(kApp, MakeImage(0x1000, std::nullopt)));
    ASSERT_TRUE(host.Leave());
    (void)host.GetStatus();
    EXPECT_FALSE(mController->GetFlashReleaseNumber());

    // Back after 1.2 s, in the bootloader again.
    mClock.AdvanceMs(1199);
    EXPECT_FALSE(FindBootloader());
    mClock.AdvanceMs(1);
    EXPECT_TRUE(FindBootloader());
    EXPECT_FALSE(Find(0x2C1A, 0x8010));
}

// What a run does after each fault is checked through the engine; here, the time each unanswered
// request costs on the clock.
TEST_F(DfuSeBootloader, FaultNoAnswerAfterBlocksCostsTheTransferTimeOutEachTime)
{
    mController->SetFaults(Fault(&F::noAnswerAfterBlocks, 0u));
    DfuHost host = EnterBootloader();
    const std::uint64_t before = mClock.NowMs();
    EXPECT_FALSE(host.Download(2, MakeImage(2048, std::nullopt)));
    EXPECT_EQ(host.Connection().GetLastError(), ZT::UsbError::Timeout);
    EXPECT_EQ(mClock.NowMs() - before, ZT::kUsbControlTransferTimeoutMs);
    EXPECT_FALSE(host.GetStatus());
    EXPECT_EQ(host.Connection().GetLastError(), ZT::UsbError::Timeout);
    EXPECT_EQ(mClock.NowMs() - before, 2 * ZT::kUsbControlTransferTimeoutMs);
    // Still on the bus: only a power cycle helps.
    EXPECT_TRUE(FindBootloader());
}

} // namespace
