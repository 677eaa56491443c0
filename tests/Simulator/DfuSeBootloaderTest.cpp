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

// The status request that starts a flash operation comes back only when the flash is done, so a
// host that is killed during it leaves the operation finished; the next one gives the outcome.
TEST_F(DfuSeBootloader, TheFirstStatusRequestAnswersWhenTheFlashIsDone)
{
    DfuHost host = EnterBootloader();
    struct Row {
        const char* what;
        std::uint16_t block; // 0: the command below
        std::uint8_t command;
        std::uint32_t address;
        std::uint32_t operationMs;
    };
    for (const Row row : {Row{"erase 16 KiB", 0, ZT::kDfuSeCommandErase, 0x0800C000, 250},
                          Row{"erase 64 KiB", 0, ZT::kDfuSeCommandErase, 0x08010000, 1100},
                          Row{"erase 128 KiB", 0, ZT::kDfuSeCommandErase, 0x08020000, 2000},
                          Row{"set address", 0, ZT::kDfuSeCommandSetAddress, 0x08020000, 0},
                          Row{"write 2048 bytes", 2, 0, 0, 20}, Row{"write 512 bytes", 3, 0, 0, 5}}) {
        SCOPED_TRACE(row.what);
        const std::uint16_t length = row.block == 3 ? 512 : kBlockSize;
        ASSERT_TRUE(row.block == 0 ? host.Download(0, DfuHost::Command(row.command, row.address))
                                   : host.Download(row.block, MakeImage(length, std::nullopt)));
        const std::uint64_t started = mClock.NowMs();
        const auto busy = host.GetStatus();
        ASSERT_TRUE(busy);
        EXPECT_EQ(mClock.NowMs() - started, row.operationMs) << "the first status request must wait for the flash";
        EXPECT_EQ(busy->state, static_cast<std::uint8_t>(ZT::DfuState::DfuDnbusy));
        EXPECT_EQ(busy->pollTimeoutMs, row.operationMs);

        const auto done = host.GetStatus();
        ASSERT_TRUE(done);
        EXPECT_EQ(done->state, static_cast<std::uint8_t>(ZT::DfuState::DfuDnloadIdle));
        EXPECT_EQ(mClock.NowMs() - started, row.operationMs) << "the outcome must come at once";
    }
    EXPECT_EQ(Flash(0x08020000, 4), (MakeImage(4, std::nullopt))) << "block 2 lands at the address pointer";
}

// With eraseBusyAtOnce the erase runs while the host polls: dfuDNBUSY at once, the sector erased
// and dfuDNLOAD-IDLE only once its time has passed.
TEST_F(DfuSeBootloader, FaultEraseBusyAtOnceAnswersBeforeTheEraseIsDone)
{
    mController->SetFaults(Fault(&F::eraseBusyAtOnce, true));
    DfuHost host = EnterBootloader();
    const std::vector<std::uint8_t> before = Flash(0x0800C000, 16);
    ASSERT_NE(before, std::vector<std::uint8_t>(16, 0xFF)) << "the factory image must reach the sector";
    ASSERT_TRUE(host.Download(0, DfuHost::Command(ZT::kDfuSeCommandErase, 0x0800C000)));
    const std::uint64_t started = mClock.NowMs();
    auto status = host.GetStatus();
    ASSERT_TRUE(status);
    EXPECT_EQ(mClock.NowMs(), started) << "the first status request must be answered at once";
    EXPECT_EQ(status->state, static_cast<std::uint8_t>(ZT::DfuState::DfuDnbusy));
    EXPECT_EQ(status->pollTimeoutMs, 250u);
    EXPECT_EQ(Flash(0x0800C000, 16), before) << "erased before its time";

    mClock.AdvanceMs(100);
    status = host.GetStatus();
    ASSERT_TRUE(status);
    EXPECT_EQ(status->state, static_cast<std::uint8_t>(ZT::DfuState::DfuDnbusy));
    EXPECT_EQ(status->pollTimeoutMs, 150u) << "the rest of the erase's time";

    mClock.AdvanceMs(150);
    status = host.GetStatus();
    ASSERT_TRUE(status);
    EXPECT_EQ(status->state, static_cast<std::uint8_t>(ZT::DfuState::DfuDnloadIdle));
    EXPECT_EQ(Flash(0x0800C000, 16), std::vector<std::uint8_t>(16, 0xFF));
}

// CLRSTATUS only clears dfuERROR; anywhere else it is an error of its own (errUNKNOWN), which is
// what a host that clears a bootloader left in dfuDNLOAD-IDLE runs into.
TEST_F(DfuSeBootloader, ClearStatusOutsideErrorEndsInErrorUnknown)
{
    DfuHost host = EnterBootloader();
    for (const bool afterDownload : {false, true}) {
        SCOPED_TRACE(afterDownload ? "in dfuDNLOAD-IDLE" : "in dfuIDLE");
        if (afterDownload) {
            ASSERT_TRUE(host.SetAddress(0x08020000));
        }
        ASSERT_TRUE(host.ClearStatus());
        auto status = host.GetStatus();
        ASSERT_TRUE(status);
        EXPECT_EQ(ZT::ToString(static_cast<ZT::DfuState>(status->state)), std::string("dfuERROR"));
        EXPECT_EQ(ZT::ToString(static_cast<ZT::DfuStatus>(status->status)), std::string("errUNKNOWN"));
        ASSERT_TRUE(host.ClearStatus());
        status = host.GetStatus();
        EXPECT_EQ(ZT::ToString(static_cast<ZT::DfuState>(status->state)), std::string("dfuIDLE"));
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
        ZT::DfuStatus status;
    };
    for (const Row& row : {Row{"unerased flash", kApp, ZT::DfuStatus::ErrWrite},
                           Row{"past the flash's end", 0x080FFFF0, ZT::DfuStatus::ErrAddress}}) {
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
        {"DETACH",
         [](DfuHost& h) { return h.Connection().ControlTransfer(ZT::kDfuRequestTypeOut, 0, 1000, 0, nullptr, 0); }},
        {"status request too short", [](DfuHost& h) {
             std::uint8_t reply[5];
             return h.Connection().ControlTransfer(ZT::kDfuRequestTypeIn, 3, 0, 0, reply, 5);
         }},
        {"GETSTATUS sent host-to-device", [](DfuHost& h) {
             std::uint8_t reply[6]{};
             return h.Connection().ControlTransfer(ZT::kDfuRequestTypeOut, 3, 0, 0, reply, 6);
         }},
    };
    for (const Case& c : cases) {
        EXPECT_FALSE(c.request(host)) << c.what;
        EXPECT_EQ(host.Connection().GetLastError(), ZT::UsbError::Pipe) << c.what;
        const auto status = host.GetStatus();
        ASSERT_TRUE(status) << c.what;
        EXPECT_EQ(status->state, 10) << c.what;
        EXPECT_EQ(status->status, static_cast<std::uint8_t>(ZT::DfuStatus::ErrStalledPkt)) << c.what;
        EXPECT_FALSE(host.Abort()) << c.what; // only CLRSTATUS leaves dfuERROR
        ASSERT_TRUE(host.ClearStatus());
    }

    // Requests for another interface are refused without touching the DFU state.
    std::uint8_t reply[6];
    EXPECT_FALSE(host.Connection().ControlTransfer(ZT::kDfuRequestTypeIn, 3, 0, 1, reply, 6));
    EXPECT_EQ(host.GetStatus()->state, 2);
}

TEST_F(DfuSeBootloader, NothingButStatusWhileBusy)
{
    DfuHost host = EnterBootloader();
    ASSERT_TRUE(host.Download(0, DfuHost::Command(ZT::kDfuSeCommandErase, 0x08020000)));
    EXPECT_EQ(host.GetStatus()->state, 4);
    EXPECT_EQ(host.GetState(), 4);
    EXPECT_FALSE(host.Download(0, DfuHost::Command(ZT::kDfuSeCommandErase, 0x08040000)));
    EXPECT_EQ(host.GetStatus()->state, 10);

    // The request log keeps each request with its payload, answer and outcome.
    const auto log = mController->GetRequestLog();
    ASSERT_EQ(log.size(), 5u);
    EXPECT_EQ(log[0].dataOut, DfuHost::Command(ZT::kDfuSeCommandErase, 0x08020000));
    EXPECT_EQ(log[2].dataIn, std::vector<std::uint8_t>{4});
    EXPECT_EQ(log[3].error, ZT::UsbError::Pipe);
    EXPECT_EQ(log[4].stateAfter, ZT::DfuState::DfuError);
}

// An image without a stack pointer in its first word (and no version record) is not started.
TEST_F(DfuSeBootloader, AnImageWithoutAStackPointerKeepsTheDeviceInItsBootloader)
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
