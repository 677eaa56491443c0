#pragma once
// What the simulator tests share: a simulator in virtual time, and a DFU host that sends exactly
// the requests the engine sends (setup values, payloads, the 10 ms waits on the clock).

#include "Simulator/DeviceSimulator.h"
#include "ZTFramework/Usb/Dfu.h"
#include "Simulator/FirmwareVersionRecord.h"
#include "ZTFramework/Time/VirtualClock.h"
#include "tests/Support/Printers.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <optional>
#include <span>
#include <vector>

namespace SimTest {

inline constexpr std::uint16_t kBlockSize = 2048;

struct StatusReply {
    std::uint8_t status = 0xFF;
    std::uint32_t pollTimeoutMs = 0;
    std::uint8_t state = 0xFF;
};

// The engine's requests on one connection.
class DfuHost {
public:
    DfuHost(ZT::RCPtr<ZT::IUsbDeviceConnection> connection, ZT::IClock& clock)
        : mConnection(std::move(connection)), mClock(clock)
    {
    }

    bool Download(std::uint16_t block, std::span<const std::uint8_t> payload)
    {
        std::vector<std::uint8_t> buffer(payload.begin(), payload.end());
        return mConnection->ControlTransfer(ZT::kDfuRequestTypeOut, 1, block, 0, buffer.empty() ? nullptr : buffer.data(),
                                            static_cast<std::uint16_t>(buffer.size()));
    }
    // A failed request gives nothing; the reply buffer starts filled with 0xFF as the engine's does.
    std::optional<StatusReply> GetStatus()
    {
        std::uint8_t reply[6];
        std::fill(std::begin(reply), std::end(reply), 0xFF);
        if (!mConnection->ControlTransfer(ZT::kDfuRequestTypeIn, 3, 0, 0, reply, 6))
            return std::nullopt;
        return StatusReply{reply[0], static_cast<std::uint32_t>(reply[1] | (reply[2] << 8) | (reply[3] << 16)), reply[4]};
    }
    bool ClearStatus() { return mConnection->ControlTransfer(ZT::kDfuRequestTypeOut, 4, 0, 0, nullptr, 0); }
    bool Abort() { return mConnection->ControlTransfer(ZT::kDfuRequestTypeOut, 6, 0, 0, nullptr, 0); }
    std::optional<std::uint8_t> GetState()
    {
        std::uint8_t state = 0xFF;
        if (!mConnection->ControlTransfer(ZT::kDfuRequestTypeIn, 5, 0, 0, &state, 1))
            return std::nullopt;
        return state;
    }
    std::optional<std::vector<std::uint8_t>> Upload(std::uint16_t block, std::uint16_t length)
    {
        std::vector<std::uint8_t> data(length, 0xEE);
        if (!mConnection->ControlTransfer(ZT::kDfuRequestTypeIn, 2, block, 0, data.data(), length))
            return std::nullopt;
        data.resize(mConnection->GetLastTransferredLength());
        return data;
    }
    bool Leave() { return mConnection->ControlTransfer(ZT::kDfuRequestTypeOut, 1, 0, 0, nullptr, 0); }

    static std::vector<std::uint8_t> Command(std::uint8_t command, std::uint32_t address)
    {
        return {command, static_cast<std::uint8_t>(address), static_cast<std::uint8_t>(address >> 8),
                static_cast<std::uint8_t>(address >> 16), static_cast<std::uint8_t>(address >> 24)};
    }

    // The engine's erase step: DNLOAD 0x41, GETSTATUS must say dfuDNBUSY, 10 ms, GETSTATUS must
    // say dfuDNLOAD-IDLE. Its set-address step is the same with 0x21 and no wait.
    ::testing::AssertionResult EraseSector(std::uint32_t address) { return Run(ZT::kDfuSeCommandErase, address, 10); }
    ::testing::AssertionResult SetAddress(std::uint32_t address) { return Run(ZT::kDfuSeCommandSetAddress, address, 0); }

    // The engine's block step: DNLOAD, GETSTATUS, then up to 20 polls 10 ms apart for dfuDNLOAD-IDLE.
    ::testing::AssertionResult WriteBlock(std::uint16_t blockNumber, std::span<const std::uint8_t> data)
    {
        if (!Download(blockNumber, data))
            return Failure("block DNLOAD", blockNumber);
        auto status = GetStatus();
        if (!status)
            return Failure("first status after block", blockNumber);
        for (int poll = 0; poll < 20; ++poll) {
            if (status->state == 5)
                return ::testing::AssertionSuccess();
            mClock.SleepMs(10);
            status = GetStatus();
            if (!status)
                return Failure("status poll after block", blockNumber);
        }
        if (status->state == 5)
            return ::testing::AssertionSuccess();
        return Failure("block never reached dfuDNLOAD-IDLE", blockNumber, status);
    }

    // The write phase for an element of whole blocks: set address, then blocks numbered from 2.
    // (The engine sets the address again before a short last block; its own tests check that.)
    ::testing::AssertionResult WriteElement(std::uint32_t elementAddress, std::span<const std::uint8_t> element)
    {
        auto result = SetAddress(elementAddress);
        for (std::size_t i = 0; result && i * kBlockSize < element.size(); ++i)
            result = WriteBlock(static_cast<std::uint16_t>(i + 2), element.subspan(i * kBlockSize, kBlockSize));
        return result;
    }

    ZT::IUsbDeviceConnection& Connection() { return *mConnection; }

private:
    ::testing::AssertionResult Run(std::uint8_t command, std::uint32_t address, std::uint32_t waitMs)
    {
        if (!Download(0, Command(command, address)))
            return Failure("command DNLOAD", address);
        auto busy = GetStatus();
        if (!busy || busy->state != 4)
            return Failure("first status after command", address, busy);
        if (waitMs != 0)
            mClock.SleepMs(waitMs);
        auto idle = GetStatus();
        if (!idle || idle->state != 5)
            return Failure("second status after command", address, idle);
        return ::testing::AssertionSuccess();
    }

    ::testing::AssertionResult Failure(const char* step, std::uint32_t what,
                                       std::optional<StatusReply> status = std::nullopt)
    {
        // Each << on an AssertionResult formats into a fresh stream, so std::hex would not carry
        // over to the next value: the numbers are made text first.
        auto failure = ::testing::AssertionFailure() << step << " (" << ZT::Testing::Hex(what, 8) << ")";
        if (status)
            failure << ": state " << int(status->state) << ", status " << int(status->status);
        else
            failure << ": " << ZT::UsbErrorName(mConnection->GetLastError());
        return failure;
    }

    ZT::RCPtr<ZT::IUsbDeviceConnection> mConnection;
    ZT::IClock& mClock;
};

// A simulator in virtual time with the controller at 00.31 and the wheel display at 00.50.
class SimulatorTest : public ::testing::Test {
protected:
    SimulatorTest()
        : mSimulator(ZT::MakeRC<LDeviceSimulator>(0.0, &mClock)),
          mController(mSimulator->AddDevice(SimulatedDeviceKind::Controller, 0x0031)),
          mWheelDisplay(mSimulator->AddDevice(SimulatedDeviceKind::WheelDisplay, 0x0050)),
          mUsb(mSimulator->CreateUsbBackend()),
          mMidi(mSimulator->CreateMidiOutputBackend())
    {
    }

    std::vector<ZT::UsbDeviceInfo> List()
    {
        std::vector<ZT::UsbDeviceInfo> devices;
        EXPECT_RESULT_EQ(mUsb->ListDevices(devices), ZT::S_OK);
        return devices;
    }
    std::optional<ZT::UsbDeviceInfo> Find(std::uint16_t vendorId, std::uint16_t productId)
    {
        for (auto& device : List()) {
            if (device.vendorId == vendorId && device.productId == productId)
                return device;
        }
        return std::nullopt;
    }
    std::optional<ZT::UsbDeviceInfo> FindBootloader() { return Find(kBootloaderVendorId, kBootloaderProductId); }

    ZT::ZTRESULT SendUpdateModeRequest(const std::string& portName)
    {
        auto port = mMidi->Open(portName);
        if (!port)
            return ZT::E_INVALIDARG;
        return port->Send(kUpdateModeRequest.data(), static_cast<std::uint32_t>(kUpdateModeRequest.size()));
    }

    // Sends the update-mode message, lets the 1.5 s pass and opens the bootloader.
    DfuHost EnterBootloader(const std::string& portName = "Halvard XR4000 NOVA")
    {
        EXPECT_EQ(SendUpdateModeRequest(portName), 10);
        mClock.AdvanceMs(1500);
        auto bootloader = FindBootloader();
        EXPECT_TRUE(bootloader.has_value());
        ZT::UsbError error = ZT::UsbError::Other;
        auto connection = bootloader ? mUsb->Open(bootloader->path, error) : nullptr;
        EXPECT_TRUE(connection) << ZT::UsbErrorName(error);
        return DfuHost(connection, mClock);
    }

    // Opens the bootloader of a device that is in it already.
    DfuHost EnterBootloaderDirectly()
    {
        auto bootloader = FindBootloader();
        EXPECT_TRUE(bootloader.has_value()) << "no bootloader on the bus";
        ZT::UsbError error = ZT::UsbError::Other;
        auto connection = bootloader ? mUsb->Open(bootloader->path, error) : nullptr;
        EXPECT_TRUE(connection) << ZT::UsbErrorName(error);
        return DfuHost(connection, mClock);
    }

    ZT::VirtualClock mClock{100000};
    ZT::RCPtr<LDeviceSimulator> mSimulator;
    ZT::RCPtr<LSimulatedDevice> mController;
    ZT::RCPtr<LSimulatedDevice> mWheelDisplay;
    ZT::RCPtr<ZT::IUsbBackend> mUsb;
    ZT::RCPtr<ZT::IMidiOutputBackend> mMidi;
};

// A fault set with one more fault: Fault(&SimulatedDeviceFaults::stallOnErase, true).
template <class T, class V>
SimulatedDeviceFaults Fault(T SimulatedDeviceFaults::*field, V value, SimulatedDeviceFaults faults = {})
{
    faults.*field = value;
    return faults;
}

// A firmware image of size bytes whose version record carries releaseNumber (none: no record).
inline std::vector<std::uint8_t> MakeImage(std::size_t size, std::optional<std::uint16_t> releaseNumber, std::uint8_t seed = 7)
{
    std::vector<std::uint8_t> image(size);
    for (std::size_t i = 0; i < size; ++i)
        image[i] = static_cast<std::uint8_t>(i * 29 + seed + (i >> 11));
    if (releaseNumber)
        WriteVersionRecord(image, *releaseNumber);
    return image;
}

} // namespace SimTest
