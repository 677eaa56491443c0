// The engine's DFU requests on the simulated bootloader: status decoding and the error numbers a
// failed request leaves behind.

#include "FirmwareUpdater/Panel/Engine/UsbConnection.h"

#include "tests/Simulator/SimulatorTestSupport.h"
#include "ZTFramework/Usb/UsbBackend.h"

#include <algorithm>

namespace {

using namespace SimTest;

class UsbConnectionOnSimulator : public SimulatorTest {
protected:
    UsbConnectionOnSimulator() { ZT::SetUsbBackend(mUsb); }
    ~UsbConnectionOnSimulator() override { ZT::SetUsbBackend(nullptr); }

    // Switches the controller into its bootloader and gives its path.
    ZT::WString BootloaderPath()
    {
        EXPECT_EQ(SendUpdateModeRequest("Halvard XR4000 NOVA"), 10);
        mClock.AdvanceMs(1500);
        const auto bootloader = FindBootloader();
        EXPECT_TRUE(bootloader.has_value());
        return ZT::WString(bootloader ? bootloader->path.c_str() : "");
    }
};

// Every request goes through one transfer, which refuses a connection that is not open.
TEST_F(UsbConnectionOnSimulator, RequestsOnAClosedConnectionFailWithNotOpenAndSendNothing)
{
    UsbConnection neverOpened;
    EXPECT_EQ(neverOpened.Abort(), ZT::UsbError::NotOpen);
    EXPECT_EQ(neverOpened.GetLastError(), ZT::UsbError::NotOpen);

    UsbConnection closed;
    ASSERT_TRUE(closed.Open(BootloaderPath()));
    closed.Close();
    EXPECT_FALSE(closed.IsOpen());
    const std::uint8_t payload[5] = {0x41, 0x00, 0x80, 0x00, 0x08};
    EXPECT_EQ(closed.Download(payload, 5, 0), ZT::UsbError::NotOpen);
    EXPECT_EQ(closed.GetLastError(), ZT::UsbError::NotOpen);
    EXPECT_TRUE(mController->GetRequestLog().empty());
}

TEST_F(UsbConnectionOnSimulator, OpenFailsWithTheBackendsReason)
{
    const ZT::WString path = BootloaderPath();

    UsbConnection connection;
    EXPECT_FALSE(connection.Open(ZT::WString("/dev/bus/usb/001/099")));
    EXPECT_FALSE(connection.IsOpen());
    EXPECT_EQ(connection.GetLastError(), ZT::UsbError::NotFound);

    // The simulated device, like a claimed interface, admits one connection at a time.
    ASSERT_TRUE(connection.Open(path));
    UsbConnection second;
    EXPECT_FALSE(second.Open(path));
    EXPECT_EQ(second.GetLastError(), ZT::UsbError::Busy);

    // Opening again first lets go of what was open, so the same path opens a second time.
    EXPECT_TRUE(connection.Open(path));
    connection.Close();
    EXPECT_TRUE(second.Open(path));
}

// The bootloader stalls a request with a wrong type or index, so the downloads of
// DfuSeDownloadTest prove every request's setup values and payload; here, the status fields.
TEST_F(UsbConnectionOnSimulator, GetStatusDecodesStatePollTimeoutAndStatus)
{
    UsbConnection connection;
    ASSERT_TRUE(connection.Open(BootloaderPath()));

    const std::uint8_t erase[5] = {0x41, 0x00, 0x80, 0x00, 0x08}; // the 16 KiB sector at 0x08008000
    ASSERT_EQ(connection.Download(erase, 5, 0), ZT::UsbError::None);

    UsbConnection::StatusReply busy;
    ASSERT_EQ(connection.GetStatus(busy), ZT::UsbError::None);
    EXPECT_EQ(busy.State, ZT::DfuState::DfuDnbusy);
    EXPECT_EQ(busy.Status, ZT::DfuStatus::Ok);
    EXPECT_EQ(busy.PollTimeout, 250u); // the erase time of a 16 KiB sector, bytes 1..3 little-endian

    UsbConnection::StatusReply idle;
    ASSERT_EQ(connection.GetStatus(idle), ZT::UsbError::None);
    EXPECT_EQ(idle.State, ZT::DfuState::DfuDnloadIdle);

    // How the engine reads dfuERROR and clears it: DfuSeDownload.BootloaderStartingInErrorIsClearedOnce.
}

// A device that answers GETSTATUS with fewer than six bytes: what it did not send must read as
// 0xFF, never as what happened to be in memory.
class ShortStatusDevice final : public ZT::IUsbDeviceConnection, public ZT::IUsbBackend {
public:
    bool ControlTransfer(std::uint8_t, std::uint8_t, std::uint16_t, std::uint16_t, std::uint8_t* data,
                         std::uint16_t wLength) override
    {
        const std::uint8_t reply[3] = {0x00, 0x34, 0x12};
        std::copy_n(reply, std::min<std::uint16_t>(wLength, 3), data);
        return true;
    }
    ZT::UsbError GetLastError() const override { return ZT::UsbError::None; }
    std::uint16_t GetLastTransferredLength() const override { return 3; }
    bool Reset() override { return true; }
    void Close() override {}

    ZT::ZTRESULT ListDevices(std::vector<ZT::UsbDeviceInfo>& devices) override
    {
        devices.clear();
        return ZT::S_OK;
    }
    ZT::RCPtr<ZT::IUsbDeviceConnection> Open(const std::string&, ZT::UsbError& error) override
    {
        error = ZT::UsbError::None;
        return ZT::RCPtr<ZT::IUsbDeviceConnection>(this);
    }
};

TEST(UsbConnection, ShortStatusReplyDecodesTheMissingBytesAsFF)
{
    auto device = ZT::MakeRC<ShortStatusDevice>();
    ZT::SetUsbBackend(ZT::RCPtr<ZT::IUsbBackend>(device.Get()));
    UsbConnection connection;
    ASSERT_TRUE(connection.Open(ZT::WString("short")));

    UsbConnection::StatusReply status;
    EXPECT_EQ(connection.GetStatus(status), ZT::UsbError::None);
    EXPECT_EQ(status.Status, ZT::DfuStatus::Ok);
    EXPECT_EQ(status.PollTimeout, 0xFF1234u);
    EXPECT_EQ(static_cast<unsigned>(status.State), 0xFFu);

    connection.Close();
    ZT::SetUsbBackend(nullptr);
}

} // namespace
