// The simulated DfuSe bootloader, driven through a USB connection with the engine's requests.

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

TEST_F(DfuSeBootloader, StartsIdleAndAnswersStateRequests)
{
    DfuHost host = EnterBootloader();
    const auto status = host.GetStatus();
    ASSERT_TRUE(status);
    EXPECT_EQ(status->state, 2);
    EXPECT_EQ(status->status, 0);
    EXPECT_EQ(status->pollTimeoutMs, 0u);
    EXPECT_EQ(host.GetState(), 2);
}

TEST_F(DfuSeBootloader, FullUpdateLandsTheImageAndTheDeviceReturnsWithItsVersion)
{
    // Something of the bootloader's own below the application must survive the update.
    const std::vector<std::uint8_t> ownArea{0xB0, 0x07, 0x10, 0xAD};
    ASSERT_TRUE(mController->ProgramFlash(0x08007FFC, ownArea));

    DfuHost host = EnterBootloader();
    const auto image = MakeImage(0x5000 + 1, 0x0032); // three sectors' worth, with a 1-byte last block
    ASSERT_TRUE(host.GetStatus());
    for (std::uint32_t sector : {0x08008000u, 0x0800C000u, 0x08010000u})
        ASSERT_TRUE(host.EraseSector(sector));
    ASSERT_TRUE(host.WriteElement(kApp, image));
    ASSERT_TRUE(host.Leave());
    const auto manifest = host.GetStatus();
    ASSERT_TRUE(manifest);
    EXPECT_EQ(manifest->state, 7); // dfuMANIFEST: the device resets after this answer

    EXPECT_EQ(Flash(kApp, image.size()), image);
    // The rest of the three erased sectors (up to 0x08020000) reads erased.
    const std::size_t erasedRest = 0x18000 - image.size();
    EXPECT_EQ(Flash(kApp + static_cast<std::uint32_t>(image.size()), erasedRest),
              std::vector<std::uint8_t>(erasedRest, 0xFF));
    EXPECT_EQ(Flash(0x08007FFC, 4), ownArea);

    // Gone at once, back after 1.2 s in normal mode with the version of the new image.
    EXPECT_FALSE(FindBootloader());
    EXPECT_FALSE(Find(0x2C1A, 0x8010));
    mClock.AdvanceMs(1199);
    EXPECT_FALSE(Find(0x2C1A, 0x8010));
    mClock.AdvanceMs(1);
    const auto returned = Find(0x2C1A, 0x8010);
    ASSERT_TRUE(returned);
    EXPECT_EQ(ZT::MakeHardwareId(*returned), "USB\\VID_2C1A&PID_8010&REV_0032");
    EXPECT_EQ(mMidi->ListOutputNames().front(), "Halvard XR4000 NOVA");

    // The old connection belonged to the bootloader's appearance.
    EXPECT_FALSE(host.GetState());
    EXPECT_EQ(host.Connection().GetLastError(), ZT::UsbError::NoDevice);
}

// The order of requests and status polls is checked against the engine's download; here, what
// the log keeps of each request.
TEST_F(DfuSeBootloader, RequestLogKeepsEachRequestsPayloadAndOutcome)
{
    DfuHost host = EnterBootloader();
    const auto image = MakeImage(4097, 0x0033);
    ASSERT_TRUE(host.EraseSector(0x08008000));
    ASSERT_TRUE(host.WriteElement(kApp, image));
    ASSERT_TRUE(host.Leave());
    (void)host.GetStatus();

    // Erase and its two status requests, set address and its two, blocks 2 and 3 with three
    // each, set address for the last partial block, which goes as block 2 again, then the leave.
    const auto log = mController->GetRequestLog();
    ASSERT_EQ(log.size(), 22u);
    EXPECT_EQ(log[0].dataOut, (std::vector<std::uint8_t>{0x41, 0x00, 0x80, 0x00, 0x08}));
    EXPECT_EQ(log[3].dataOut, (std::vector<std::uint8_t>{0x21, 0x00, 0x80, 0x00, 0x08}));
    EXPECT_EQ(log[14].dataOut, (std::vector<std::uint8_t>{0x21, 0x00, 0x90, 0x00, 0x08}));
    EXPECT_EQ(log[17].value, 2);
    EXPECT_EQ(log[17].dataOut, std::vector<std::uint8_t>{image.back()});
    EXPECT_EQ(log[20].length, 0);
    EXPECT_EQ(log[21].stateAfter, DfuState::DfuManifest);
    for (const auto& entry : log) {
        EXPECT_EQ(entry.error, ZT::UsbError::None);
        EXPECT_EQ(entry.index, 0);
    }
    EXPECT_EQ(Flash(kApp, image.size()), image);
}

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
        EXPECT_EQ(Flash(row.sector, 16), std::vector<std::uint8_t>(16, 0xFF));
    }
}

TEST_F(DfuSeBootloader, ABlockIsBusyForTwentyMillisecondsWithoutHoldingTheStatus)
{
    DfuHost host = EnterBootloader();
    ASSERT_TRUE(host.EraseSector(0x0800C000));
    ASSERT_TRUE(host.SetAddress(0x0800C000));
    const auto block = MakeImage(2048, std::nullopt);
    ASSERT_TRUE(host.Download(2, block));
    const std::uint64_t started = mClock.NowMs();
    auto status = host.GetStatus();
    ASSERT_TRUE(status);
    EXPECT_EQ(status->state, 4);
    EXPECT_EQ(status->pollTimeoutMs, 20u);
    status = host.GetStatus();
    EXPECT_EQ(status->state, 4);
    EXPECT_EQ(mClock.NowMs(), started); // not held back
    mClock.SleepMs(19);
    EXPECT_EQ(host.GetStatus()->state, 4);
    mClock.SleepMs(1);
    EXPECT_EQ(host.GetStatus()->state, 5);
    EXPECT_EQ(Flash(0x0800C000, 2048), block);
}

TEST_F(DfuSeBootloader, BlocksLandRelativeToTheAddressPointer)
{
    DfuHost host = EnterBootloader();
    ASSERT_TRUE(host.EraseSector(0x08020000));
    const auto a = MakeImage(2048, std::nullopt, 1);
    const auto b = MakeImage(2048, std::nullopt, 2);
    const auto c = MakeImage(100, std::nullopt, 3);
    ASSERT_TRUE(host.SetAddress(0x08021000));
    ASSERT_TRUE(host.WriteBlock(4, a)); // (4 - 2) x 2048 + pointer
    ASSERT_TRUE(host.WriteBlock(2, b));
    ASSERT_TRUE(host.SetAddress(0x08030000));
    ASSERT_TRUE(host.WriteBlock(3, c));
    EXPECT_EQ(Flash(0x08022000, 2048), a);
    EXPECT_EQ(Flash(0x08021000, 2048), b);
    EXPECT_EQ(Flash(0x08021800, 2048), std::vector<std::uint8_t>(2048, 0xFF));
    EXPECT_EQ(Flash(0x08030800, 100), c);
}

TEST_F(DfuSeBootloader, WritingUnerasedFlashEndsInErrorAndChangesNothing)
{
    const auto before = Flash(kApp, 2048);
    DfuHost host = EnterBootloader();
    ASSERT_TRUE(host.SetAddress(kApp));
    const auto block = MakeImage(2048, 0x0099);
    auto result = host.WriteBlock(2, block);
    EXPECT_FALSE(result);
    const auto status = host.GetStatus();
    ASSERT_TRUE(status);
    EXPECT_EQ(status->state, 10);
    EXPECT_EQ(status->status, static_cast<std::uint8_t>(DfuStatus::ErrWrite));
    EXPECT_EQ(Flash(kApp, 2048), before);

    // The engine's idle check clears it.
    ASSERT_TRUE(host.ClearStatus());
    EXPECT_EQ(host.GetStatus()->state, 2);
}

TEST_F(DfuSeBootloader, WritingPastTheFlashEndsInAddressError)
{
    DfuHost host = EnterBootloader();
    ASSERT_TRUE(host.EraseSector(0x080E0000));
    ASSERT_TRUE(host.SetAddress(0x080FF800));
    ASSERT_TRUE(host.WriteBlock(2, MakeImage(2048, std::nullopt)));
    EXPECT_FALSE(host.WriteBlock(3, MakeImage(16, std::nullopt)));
    const auto status = host.GetStatus();
    EXPECT_EQ(status->state, 10);
    EXPECT_EQ(status->status, static_cast<std::uint8_t>(DfuStatus::ErrAddress));
}

TEST_F(DfuSeBootloader, UploadReadsBackFlashAndTheCommandList)
{
    DfuHost host = EnterBootloader();
    ASSERT_TRUE(host.SetAddress(kApp));
    ASSERT_TRUE(host.Abort());
    EXPECT_EQ(host.GetStatus()->state, 2);
    EXPECT_EQ(host.Upload(0, 16), (std::vector<std::uint8_t>{0x00, 0x21, 0x41, 0x92}));
    EXPECT_EQ(host.Upload(2, 2048), Flash(kApp, 2048));
    EXPECT_EQ(host.Upload(3, 1024), Flash(kApp + 2048, 1024)); // a short block is still 2048 bytes on
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
        {"leave from dfuIDLE", [](DfuHost& h) { return h.Leave(); }},
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
}

TEST_F(DfuSeBootloader, ClearStatusOutsideErrorAndAbort)
{
    DfuHost host = EnterBootloader();
    ASSERT_TRUE(host.ClearStatus());
    auto status = host.GetStatus();
    EXPECT_EQ(status->state, 10);
    EXPECT_EQ(status->status, static_cast<std::uint8_t>(DfuStatus::ErrUnknown));
    EXPECT_FALSE(host.Abort()); // not from dfuERROR
    ASSERT_TRUE(host.ClearStatus());

    ASSERT_TRUE(host.SetAddress(0x08010000));
    ASSERT_TRUE(host.Abort());
    EXPECT_EQ(host.GetStatus()->state, 2);
    // The pointer set before the abort stays.
    EXPECT_EQ(host.Upload(2, 4), Flash(0x08010000, 4));
}

TEST_F(DfuSeBootloader, ABrokenImageKeepsTheDeviceInItsBootloader)
{
    DfuHost host = EnterBootloader();
    ASSERT_TRUE(host.EraseSector(0x08008000));
    ASSERT_TRUE(host.WriteElement(kApp, MakeImage(0x1000, std::nullopt)));
    ASSERT_TRUE(host.Leave());
    (void)host.GetStatus();
    EXPECT_FALSE(mController->GetFlashReleaseNumber());

    mClock.AdvanceMs(1200);
    EXPECT_FALSE(Find(0x2C1A, 0x8010));
    const auto bootloader = FindBootloader();
    ASSERT_TRUE(bootloader);
    EXPECT_EQ(mController->GetMode(), SimulatedDeviceMode::Bootloader);

    // A second attempt with a good image brings it back to normal mode.
    ZT::UsbError error = ZT::UsbError::Other;
    DfuHost again(mUsb->Open(bootloader->path, error), mClock);
    ASSERT_EQ(again.GetStatus()->state, 2);
    ASSERT_TRUE(again.EraseSector(0x08008000));
    ASSERT_TRUE(again.WriteElement(kApp, MakeImage(0x1000, 0x0031)));
    ASSERT_TRUE(again.Leave());
    (void)again.GetStatus();
    mClock.AdvanceMs(1200);
    const auto normal = Find(0x2C1A, 0x8010);
    ASSERT_TRUE(normal);
    EXPECT_EQ(normal->releaseNumber, 0x0031);
}

// Faults of the bootloader.

TEST_F(DfuSeBootloader, FaultStallOnErase)
{
    const auto before = Flash(0x08008000, 0x4000);
    mController->SetFaults(Fault(&F::stallOnErase, true));
    DfuHost host = EnterBootloader();
    EXPECT_FALSE(host.EraseSector(0x08008000));
    EXPECT_EQ(host.Connection().GetLastError(), ZT::UsbError::Pipe);
    EXPECT_EQ(host.GetStatus()->state, 10);
    EXPECT_EQ(Flash(0x08008000, 0x4000), before);
}

TEST_F(DfuSeBootloader, FaultStallAfterBlocks)
{
    mController->SetFaults(Fault(&F::stallAfterBlocks, 2u));
    DfuHost host = EnterBootloader();
    ASSERT_TRUE(host.EraseSector(0x08020000));
    ASSERT_TRUE(host.SetAddress(0x08020000));
    EXPECT_TRUE(host.WriteBlock(2, MakeImage(2048, std::nullopt)));
    EXPECT_TRUE(host.WriteBlock(3, MakeImage(2048, std::nullopt)));
    EXPECT_FALSE(host.WriteBlock(4, MakeImage(2048, std::nullopt)));
    EXPECT_EQ(host.Connection().GetLastError(), ZT::UsbError::Pipe);
    EXPECT_EQ(Flash(0x08021000, 2048), std::vector<std::uint8_t>(2048, 0xFF));
}

TEST_F(DfuSeBootloader, FaultNoAnswerAfterBlocksCostsTheTransferTimeOutEachTime)
{
    mController->SetFaults(Fault(&F::noAnswerAfterBlocks, 1u));
    DfuHost host = EnterBootloader();
    ASSERT_TRUE(host.EraseSector(0x08020000));
    ASSERT_TRUE(host.SetAddress(0x08020000));
    ASSERT_TRUE(host.WriteBlock(2, MakeImage(2048, std::nullopt)));
    const std::uint64_t before = mClock.NowMs();
    EXPECT_FALSE(host.Download(3, MakeImage(2048, std::nullopt)));
    EXPECT_EQ(host.Connection().GetLastError(), ZT::UsbError::Timeout);
    EXPECT_EQ(mClock.NowMs() - before, ZT::kUsbControlTransferTimeoutMs);
    EXPECT_FALSE(host.GetStatus());
    EXPECT_EQ(host.Connection().GetLastError(), ZT::UsbError::Timeout);
    EXPECT_EQ(mClock.NowMs() - before, 2 * ZT::kUsbControlTransferTimeoutMs);
    // Still on the bus: only a power cycle helps.
    EXPECT_TRUE(FindBootloader());
}

TEST_F(DfuSeBootloader, FaultUnplugInTheMiddle)
{
    mController->SetFaults(Fault(&F::unplugAfterBlocks, 1u));
    DfuHost host = EnterBootloader();
    ASSERT_TRUE(host.EraseSector(0x08008000));
    ASSERT_TRUE(host.SetAddress(0x08008000));
    const auto first = MakeImage(2048, std::nullopt, 5); // no version record in this block
    ASSERT_TRUE(host.WriteBlock(2, first));
    EXPECT_FALSE(host.Download(3, MakeImage(2048, std::nullopt)));
    EXPECT_EQ(host.Connection().GetLastError(), ZT::UsbError::NoDevice);
    EXPECT_TRUE(List().size() == 1 && !FindBootloader());
    EXPECT_EQ(mController->GetMode(), SimulatedDeviceMode::Unplugged);
    EXPECT_EQ(Flash(0x08008000, 2048), first);

    // Plugged in again, a half-written application without its record keeps it in the bootloader.
    mController->SetFaults({});
    mController->Plug();
    EXPECT_TRUE(FindBootloader());
    EXPECT_FALSE(host.GetStatus());
    EXPECT_EQ(host.Connection().GetLastError(), ZT::UsbError::NoDevice);
}

// The slow return is checked with the engine's wait (DfuSeLateReturn); a device that never
// returns stays away for good.
TEST_F(DfuSeBootloader, FaultNoReturnAfterLeave)
{
    mController->SetFaults(Fault(&F::noReturnAfterLeave, true));
    DfuHost host = EnterBootloader();
    ASSERT_TRUE(host.EraseSector(0x08008000));
    ASSERT_TRUE(host.WriteElement(kApp, MakeImage(0x800, 0x0034)));
    ASSERT_TRUE(host.Leave());
    ASSERT_TRUE(host.GetStatus());
    mClock.AdvanceMs(600000);
    EXPECT_FALSE(Find(0x2C1A, 0x8010));
    EXPECT_FALSE(FindBootloader());
    EXPECT_EQ(mController->GetMode(), SimulatedDeviceMode::Restarting);
}

} // namespace
