// The MIDI object: name resolution, the port list and the send results, over a backend of our
// own that records what reaches it.

#include "ZTFramework/Midi/MidiComm.h"
#include "ZTFramework/Midi/MidiOutputBackend.h"
#include "ZTFramework/Midi/MidiRenderPort.h"
#include "tests/Support/Printers.h"

#include <gtest/gtest.h>

#include <array>
#include <mutex>
#include <string>
#include <vector>

namespace {

struct SentMessage {
    std::string device;
    std::vector<std::uint8_t> bytes;
};

// Output devices by name. Each Open makes a new port of the named device; every port records its
// messages in the backend and fails its sends while failSends is set.
class LRecordingBackend final : public ZT::IMidiOutputBackend {
public:
    class LPort final : public ZT::IMidiOutputPort {
    public:
        LPort(LRecordingBackend* backend, std::string name) : mBackend(backend), mName(std::move(name)) {}
        ZT::ZTRESULT Send(const std::uint8_t* data, std::uint32_t length) override
        {
            std::lock_guard lock(mBackend->mMutex);
            if (mClosed || mBackend->failSends)
                return ZT::E_FAIL;
            mBackend->sent.push_back({mName, std::vector<std::uint8_t>(data, data + length)});
            return static_cast<ZT::ZTRESULT>(length);
        }
        std::string GetName() const override { return mName; }
        void Close() override
        {
            std::lock_guard lock(mBackend->mMutex);
            mClosed = true;
        }

    private:
        LRecordingBackend* mBackend;
        std::string mName;
        bool mClosed = false; // guarded by the backend's mutex
    };

    explicit LRecordingBackend(std::vector<std::string> names) : mNames(std::move(names)) {}

    std::vector<std::string> ListOutputNames() override { return mNames; }
    ZT::RCPtr<ZT::IMidiOutputPort> Open(const std::string& name) override
    {
        std::lock_guard lock(mMutex);
        opened.push_back(name);
        if (refuseOpen)
            return nullptr;
        for (const std::string& present : mNames) {
            if (present == name)
                return ZT::MakeRC<LPort>(this, name);
        }
        return nullptr;
    }

    std::mutex mMutex;
    std::vector<std::string> opened;  // guarded by mMutex
    std::vector<SentMessage> sent;    // guarded by mMutex
    bool failSends = false;           // guarded by mMutex
    bool refuseOpen = false;          // guarded by mMutex

private:
    const std::vector<std::string> mNames;
};

constexpr std::array<std::uint8_t, 10> kUpdateModeRequest{0xF0, 0x00, 0x01, 0x7A, 0x01, 0x10, 0x72, 0x00, 0x00, 0xF7};

std::vector<ZT::WString> Wide(const std::vector<std::string>& names)
{
    std::vector<ZT::WString> wide;
    for (const std::string& name : names)
        wide.emplace_back(name.c_str());
    return wide;
}

const std::vector<std::string> kPair{"Halvard XR4000 NOVA", "Halvard XR4000 NOVA WD"};
const std::vector<std::string> kPairDisplayFirst{"Halvard XR4000 NOVA WD", "Halvard XR4000 NOVA"};

// Only an equal name is a device's port: the controller without a port of its own must never
// resolve to the wheel display's "... WD", whose name contains the controller's.
TEST(RenderDeviceResolution, TakesOnlyAnEqualNameCaseIgnored)
{
    struct Row {
        const char* what;
        const char* request;
        std::vector<std::string> devices;
        std::ptrdiff_t expected;
    };
    const std::vector<std::string> displayOnly{"Halvard XR4000 NOVA WD"};
    const Row rows[] = {
        {"equal name listed first", "Halvard XR4000 NOVA", kPair, 0},
        {"equal name wins over an earlier containing name", "Halvard XR4000 NOVA", kPairDisplayFirst, 1},
        {"the longer name matches only itself", "Halvard XR4000 NOVA WD", kPair, 1},
        {"case is ignored", "hALVARD xr4000 nova wd", kPair, 1},
        {"a name that contains the request is another device's", "Halvard XR4000 NOVA", displayOnly, -1},
        {"a request contained in one name only is still no match", "nova wd", kPair, -1},
        {"a request contained in two names", "Halvard", kPair, -1},
        {"nothing contains the request", "Other Synth", kPair, -1},
        {"no devices", "Halvard XR4000 NOVA", {}, -1},
        {"an empty request names nothing", "", {"Halvard XR4000 NOVA"}, -1},
        {"of two identical names the first", "halvard xr4000 nova", {"Halvard XR4000 NOVA", "Halvard XR4000 NOVA"}, 0},
        {"a request longer than every name", "Halvard XR4000 NOVA WD 2", kPair, -1}};
    for (const Row& row : rows) {
        EXPECT_EQ(ZT::LMidiComm::ResolveRenderDeviceName(ZT::WString(row.request), Wide(row.devices)), row.expected)
            << row.what;
        // The port opens what the request resolved to, by the same rule.
        EXPECT_EQ(ZT::LMidiRenderPort::FindDeviceToOpen(ZT::WString(row.request), Wide(row.devices)), row.expected)
            << "opening: " << row.what;
    }
}

class MidiCommTest : public ::testing::Test {
protected:
    void Install(std::vector<std::string> names)
    {
        mBackend = ZT::MakeRC<LRecordingBackend>(std::move(names));
        ZT::SetMidiOutputBackend(mBackend);
    }
    ~MidiCommTest() override
    {
        mComm->CloseAllRenderPorts();
        ZT::SetMidiOutputBackend(nullptr);
    }
    ZT::RCPtr<ZT::LMidiRenderPort> Port(const wchar_t* name)
    {
        ZT::RCPtr<ZT::LMidiRenderPort> port;
        EXPECT_RESULT_EQ(mComm->GetRenderPort(ZT::WString(name), port), ZT::S_OK) << ZT::WString(name).ToUTF8();
        return port;
    }

    ZT::RCPtr<LRecordingBackend> mBackend;
    ZT::RCPtr<ZT::LMidiComm> mComm = ZT::MakeRC<ZT::LMidiComm>();
};

TEST_F(MidiCommTest, GivesTheListedPortAgainAndReopensItsDevice)
{
    Install(kPairDisplayFirst);
    const auto first = Port(L"halvard xr4000 nova");
    ASSERT_TRUE(first);
    // The port carries the device's full name, and the device opened is the exact match even
    // though a containing name comes first.
    EXPECT_EQ(first->GetName(), ZT::WString(L"Halvard XR4000 NOVA"));
    EXPECT_EQ(mBackend->opened, std::vector<std::string>{"Halvard XR4000 NOVA"});

    EXPECT_EQ(Port(L"Halvard XR4000 NOVA").Get(), first.Get());
    EXPECT_EQ(mComm->GetRenderPorts().size(), 1u);
    EXPECT_EQ(mBackend->opened.size(), 2u);

    const auto display = Port(L"Halvard XR4000 NOVA WD");
    EXPECT_TRUE(display && display.Get() != first.Get());
    EXPECT_EQ(mComm->GetRenderPorts().size(), 2u);
}

TEST_F(MidiCommTest, SendsSystemExclusiveWholeAndChannelMessagesOfAtMostFourBytes)
{
    Install(kPair);
    const auto port = Port(L"Halvard XR4000 NOVA");
    ASSERT_TRUE(port);

    EXPECT_RESULT_EQ(mComm->Send(port, kUpdateModeRequest.data(), 10), 10);
    const std::uint8_t noteOnWithTrailer[6] = {0x90, 0x40, 0x7F, 0x00, 0x11, 0x22};
    EXPECT_RESULT_EQ(mComm->Send(port, noteOnWithTrailer, 6), 4);
    const std::uint8_t programChange[2] = {0xC0, 0x05};
    EXPECT_RESULT_EQ(mComm->Send(port, programChange, 2), 2);
    // Data bytes without a status byte are not a channel message: they go out as they are.
    const std::uint8_t continuation[5] = {0x01, 0x02, 0x03, 0x04, 0xF7};
    EXPECT_RESULT_EQ(mComm->Send(port, continuation, 5), 5);

    ASSERT_EQ(mBackend->sent.size(), 4u);
    EXPECT_EQ(mBackend->sent[0].device, "Halvard XR4000 NOVA");
    EXPECT_EQ(mBackend->sent[0].bytes, std::vector<std::uint8_t>(kUpdateModeRequest.begin(), kUpdateModeRequest.end()));
    EXPECT_EQ(mBackend->sent[1].bytes, (std::vector<std::uint8_t>{0x90, 0x40, 0x7F, 0x00}));
    EXPECT_EQ(mBackend->sent[2].bytes, (std::vector<std::uint8_t>{0xC0, 0x05}));
    EXPECT_EQ(mBackend->sent[3].bytes.size(), 5u);
}

TEST_F(MidiCommTest, GivesNoPortForAnAmbiguousOrUnopenableNameRefusesEmptySendsAndKeepsThePortOnFailures)
{
    Install(kPair);
    ZT::RCPtr<ZT::LMidiRenderPort> none;
    EXPECT_RESULT_EQ(mComm->GetRenderPort(ZT::WString(L"Halvard"), none), ZT::E_FAIL);
    EXPECT_FALSE(none);
    EXPECT_TRUE(mBackend->opened.empty());
    mBackend->refuseOpen = true;
    EXPECT_RESULT_EQ(mComm->GetRenderPort(ZT::WString(L"Halvard XR4000 NOVA"), none), ZT::E_FAIL);
    EXPECT_FALSE(none);
    mBackend->refuseOpen = false;
    const auto port = Port(L"Halvard XR4000 NOVA");
    ASSERT_TRUE(port);

    // Whatever a caller without a port sends fails.
    EXPECT_RESULT_EQ(mComm->Send(none, kUpdateModeRequest.data(), 10), ZT::E_INVALIDARG);
    EXPECT_RESULT_EQ(mComm->Send(port, kUpdateModeRequest.data(), 0), ZT::E_INVALIDARG);
    EXPECT_RESULT_EQ(port->Send(nullptr, 3), ZT::E_INVALIDARG);
    EXPECT_TRUE(mBackend->sent.empty());

    // A refused message or a completion that never came: E_FAIL, and the port still works.
    mBackend->failSends = true;
    EXPECT_RESULT_EQ(mComm->Send(port, kUpdateModeRequest.data(), 10), ZT::E_FAIL);
    EXPECT_TRUE(port->IsOpen());
    mBackend->failSends = false;
    EXPECT_RESULT_EQ(mComm->Send(port, kUpdateModeRequest.data(), 10), 10);

    port->Close();
    EXPECT_FALSE(port->IsOpen());
    EXPECT_RESULT_EQ(mComm->Send(port, kUpdateModeRequest.data(), 10), ZT::E_FAIL);
}

TEST_F(MidiCommTest, TheControllerWithoutAPortOfItsOwnGetsNoPortAndNothingReachesTheDisplay)
{
    Install({"Halvard XR4000 NOVA WD"});
    ZT::RCPtr<ZT::LMidiRenderPort> none;
    EXPECT_RESULT_EQ(mComm->GetRenderPort(ZT::WString(L"Halvard XR4000 NOVA"), none), ZT::E_FAIL);
    EXPECT_FALSE(none);
    EXPECT_RESULT_EQ(mComm->Send(none, kUpdateModeRequest.data(), 10), ZT::E_INVALIDARG);
    // A port made directly for the controller's name does not open the display either.
    ZT::LMidiRenderPort direct(ZT::WString(L"Halvard XR4000 NOVA"));
    EXPECT_RESULT_EQ(direct.Open(), ZT::E_FAIL);
    EXPECT_RESULT_EQ(direct.Send(kUpdateModeRequest.data(), 10), ZT::E_FAIL);
    EXPECT_TRUE(mBackend->opened.empty()) << "opened: " << (mBackend->opened.empty() ? "" : mBackend->opened[0]);
    EXPECT_TRUE(mBackend->sent.empty()) << "a message reached " << mBackend->sent.front().device;
}

} // namespace
