// The update-mode message through the product's own MIDI path (LMidiComm, the ALSA backend and
// LSystemAlsaSequencer with alsa-lib loaded as the program loads it) against an emulated kernel
// sequencer: umockdev gives alsa-lib a /dev/snd/seq of the test's making, and
// CEmulatedAlsaSequencer answers its ioctls and writes as the kernel's sequencer core does.

#include "tests/Support/AlsaSequencer/EmulatedAlsaSequencer.h"
#include "tests/Support/Umockdev/UmockdevPreload.h"
#include "tests/Support/Printers.h"
#include "tests/ZTFramework/Threads/DebugCapture.h"

#include "ZTFramework/Midi/Alsa/AlsaMidiOutputBackend.h"
#include "ZTFramework/Midi/Alsa/SystemAlsaSequencer.h"
#include "ZTFramework/Midi/MidiComm.h"
#include "ZTFramework/Midi/MidiOutputBackend.h"

#include <gtest/gtest.h>
#include <umockdev.h>

#include <array>
#include <cerrno>
#include <cstring>
#include <linux/capability.h>
#include <sstream>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

// umockdev and GLib are not built with ThreadSanitizer and synchronise their worker thread in ways
// it cannot see; alsa-lib and our own code stay checked.
extern "C" const char* __tsan_default_suppressions()
{
    return "called_from_lib:libumockdev.so.0\n"
           "called_from_lib:libumockdev-preload.so.0\n"
           "called_from_lib:libglib-2.0.so.0\n"
           "called_from_lib:libgobject-2.0.so.0\n"
           "called_from_lib:libgio-2.0.so.0\n";
}

namespace {

using SequencerTest::CEmulatedAlsaSequencer;
using SequencerTest::DeliveredEvent;
using SequencerTest::EmulatedPort;
using SequencerTest::kCapRead;
using SequencerTest::kCapSubsRead;
using SequencerTest::kMidiOutputCaps;
using ZT::Testing::CDebugCapture;

[[maybe_unused]] const bool gTestbedInstalled = UmockdevTest::InstallTestbed();

// F0 00 01 7A 01 10 72 00 00 F7: what the engine sends to restart a device in update mode.
constexpr std::array<std::uint8_t, 10> kUpdateModeRequest = {0xF0, 0x00, 0x01, 0x7A, 0x01, 0x10, 0x72, 0x00, 0x00, 0xF7};

// Sequencer client numbers, as the kernel gives them to the USB MIDI devices of sound cards 1 to 3.
constexpr int kLookAlike = 20;
constexpr int kWheelDisplay = 24;
constexpr int kController = 28;
constexpr int kSynth = 128;
constexpr const char* kOurClientName = "XR4000 NOVA Firmware Updater";

std::string Hex(const std::vector<std::uint8_t>& bytes)
{
    std::ostringstream text;
    for (std::uint8_t byte : bytes) {
        char two[4];
        std::snprintf(two, sizeof two, "%02X ", byte);
        text << two;
    }
    return text.str();
}

std::string Describe(const std::vector<DeliveredEvent>& events)
{
    std::ostringstream text;
    text << events.size() << " event(s)";
    for (const DeliveredEvent& event : events)
        text << "\n  " << event.sourceClient << ":" << event.sourcePort << " -> " << event.destClient << ":"
             << event.destPort << " type " << event.type << " queue " << event.queue << " data " << Hex(event.data);
    return text.str();
}

// The process's capabilities that let root open any file; a test drops them from this thread to
// meet a device node the way a user outside the audio group does.
class CWithoutFileAccessOverride {
public:
    CWithoutFileAccessOverride()
    {
        mHeader.version = _LINUX_CAPABILITY_VERSION_3;
        mHeader.pid = 0;
        if (::syscall(SYS_capget, &mHeader, mSaved) != 0)
            return;
        __user_cap_data_struct reduced[2];
        std::memcpy(reduced, mSaved, sizeof reduced);
        reduced[0].effective &= ~((1u << CAP_DAC_OVERRIDE) | (1u << CAP_DAC_READ_SEARCH));
        mDropped = ::syscall(SYS_capset, &mHeader, reduced) == 0;
    }
    ~CWithoutFileAccessOverride()
    {
        if (mDropped)
            static_cast<void>(::syscall(SYS_capset, &mHeader, mSaved));
    }
    CWithoutFileAccessOverride(const CWithoutFileAccessOverride&) = delete;
    CWithoutFileAccessOverride& operator=(const CWithoutFileAccessOverride&) = delete;

private:
    __user_cap_header_struct mHeader{};
    __user_cap_data_struct mSaved[2]{};
    bool mDropped = false;
};

class SystemAlsaSequencerTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(UmockdevTest::UmockdevPreloadLoaded()) << "umockdev's preload library is not loaded";
        std::string error;
        ASSERT_TRUE(mKernel.Attach(UmockdevTest::Testbed(), error)) << error;
        mAttached = true;
        // A look-alike first, whose name merely contains the controller's; the wheel display,
        // whose first port only captures, so that its message must go to its second port; the
        // controller with two writable ports; a software synth.
        mKernel.AddKernelClient(kLookAlike, "Halvard XR4000 NOVA MIDI 1", {{0, "Halvard XR4000 NOVA MIDI 1 MIDI 1"}});
        mKernel.AddKernelClient(kWheelDisplay, "Halvard XR4000 NOVA WD",
                                {{0, "Halvard XR4000 NOVA WD MIDI 1", kCapRead | kCapSubsRead},
                                 {1, "Halvard XR4000 NOVA WD MIDI 2"}});
        mKernel.AddKernelClient(kController, "Halvard XR4000 NOVA",
                                {{0, "Halvard XR4000 NOVA MIDI 1"}, {1, "Halvard XR4000 NOVA MIDI 2"}});
        mKernel.AddUserClient(kSynth, "Unrelated Synth", {{0, "Synth input port (1234:0)"}});
    }
    void TearDown() override
    {
        ZT::LMidiComm::GetInstance()->CloseAllRenderPorts();
        ZT::SetMidiOutputBackend(nullptr);
        mSystem = nullptr;
        if (mAttached)
            mKernel.Detach(UmockdevTest::Testbed());
    }

    // The program's MIDI output: the ALSA backend on the system's sequencer.
    void UseSystemSequencer()
    {
        mSystem = ZT::MakeRC<ZT::LSystemAlsaSequencer>();
        ZT::SetMidiOutputBackend(ZT::MakeRC<ZT::LAlsaMidiOutputBackend>(mSystem));
    }

    // What the engine does to switch the device with that MIDI port name: the port, then the send.
    ZT::ZTRESULT SendUpdateModeRequest(const wchar_t* portName)
    {
        const ZT::RCPtr<ZT::LMidiComm> midi = ZT::LMidiComm::GetInstance();
        ZT::RCPtr<ZT::LMidiRenderPort> port;
        static_cast<void>(midi->GetRenderPort(ZT::WString(portName), port));
        return midi->Send(port, kUpdateModeRequest.data(), static_cast<std::uint32_t>(kUpdateModeRequest.size()));
    }

    [[nodiscard]] int OurClient()
    {
        for (const SequencerTest::UserClient& client : mKernel.GetOpenUserClients()) {
            if (client.name == kOurClientName)
                return client.client;
        }
        return -1;
    }

    // The node's file in the testbed's folder.
    [[nodiscard]] static std::string TestbedNode()
    {
        gchar* root = umockdev_testbed_get_root_dir(UmockdevTest::Testbed());
        const std::string node = std::string(root) + CEmulatedAlsaSequencer::kDevnode;
        g_free(root);
        return node;
    }

    CEmulatedAlsaSequencer mKernel;
    bool mAttached = false;
    ZT::RCPtr<ZT::LSystemAlsaSequencer> mSystem;
};

const std::vector<std::uint8_t> kRequestBytes(kUpdateModeRequest.begin(), kUpdateModeRequest.end());
constexpr ZT::ZTRESULT kSentLength = static_cast<ZT::ZTRESULT>(kUpdateModeRequest.size());

// Each device's message arrives once, byte for byte, as one direct system-exclusive event from
// our own named client, at the first port of that device that takes writes, and nowhere else.
TEST_F(SystemAlsaSequencerTest, EachDevicesMessageArrivesOnceAtItsFirstWritablePortOnly)
{
    UseSystemSequencer();
    ASSERT_TRUE(mSystem->IsAvailable());
    const int ours = OurClient();
    ASSERT_GE(ours, 129) << "no open client named \"" << kOurClientName << "\"";
    const auto clients = mKernel.GetOpenUserClients();
    ASSERT_EQ(clients.size(), 1u);
    ASSERT_EQ(clients[0].ports.size(), 1u);
    EXPECT_EQ(clients[0].ports[0].capability & kCapRead, kCapRead) << "our source port cannot be read from";

    EXPECT_RESULT_EQ(SendUpdateModeRequest(L"Halvard XR4000 NOVA"), kSentLength);
    std::vector<DeliveredEvent> all = mKernel.GetDelivered();
    ASSERT_EQ(all.size(), 1u) << Describe(all);
    EXPECT_EQ(all[0].destClient, kController) << Describe(all);
    EXPECT_EQ(all[0].destPort, 0) << Describe(all);
    EXPECT_EQ(all[0].type, CEmulatedAlsaSequencer::kSysexEventType) << Describe(all);
    EXPECT_EQ(all[0].queue, CEmulatedAlsaSequencer::kDirectQueue) << Describe(all);
    EXPECT_EQ(all[0].sourceClient, ours);
    EXPECT_EQ(all[0].sourcePort, clients[0].ports[0].port);
    EXPECT_EQ(Hex(all[0].data), Hex(kRequestBytes));

    EXPECT_RESULT_EQ(SendUpdateModeRequest(L"Halvard XR4000 NOVA WD"), kSentLength);
    all = mKernel.GetDelivered();
    ASSERT_EQ(all.size(), 2u) << Describe(all);
    EXPECT_EQ(all[1].destClient, kWheelDisplay) << Describe(all);
    EXPECT_EQ(all[1].destPort, 1) << "the display's port 0 only captures\n" << Describe(all);
    EXPECT_EQ(Hex(all[1].data), Hex(kRequestBytes));
    EXPECT_TRUE(mKernel.GetDeliveredTo(kLookAlike, 0).empty()) << Describe(all);
    EXPECT_TRUE(mKernel.GetDeliveredTo(kSynth, 0).empty()) << Describe(all);
}

// Only the look-alike and the synth: no port is opened and not one event is written.
TEST_F(SystemAlsaSequencerTest, WithoutAPortNamedExactlyAsTheTargetNothingIsSent)
{
    mKernel.RemoveClient(kController);
    mKernel.RemoveClient(kWheelDisplay);
    UseSystemSequencer();
    const ZT::RCPtr<ZT::LMidiComm> midi = ZT::LMidiComm::GetInstance();
    ZT::RCPtr<ZT::LMidiRenderPort> port;
    EXPECT_RESULT_EQ(midi->GetRenderPort(ZT::WString(L"Halvard XR4000 NOVA"), port), ZT::E_FAIL);
    EXPECT_FALSE(port);
    EXPECT_RESULT_EQ(midi->Send(port, kUpdateModeRequest.data(), kUpdateModeRequest.size()), ZT::E_INVALIDARG);
    EXPECT_TRUE(mKernel.GetDelivered().empty()) << Describe(mKernel.GetDelivered());
}

// The kernel refuses the first writes with EAGAIN (the client's pool is full); the send waits for
// room and the message arrives once, neither lost nor repeated.
TEST_F(SystemAlsaSequencerTest, AWriteRefusedWithEagainIsRetriedAndArrivesOnce)
{
    UseSystemSequencer();
    mKernel.RefuseWrites(3, EAGAIN);
    EXPECT_RESULT_EQ(SendUpdateModeRequest(L"Halvard XR4000 NOVA"), kSentLength);
    EXPECT_EQ(mKernel.GetRefusedWriteCount(), 3);
    const auto all = mKernel.GetDelivered();
    ASSERT_EQ(all.size(), 1u) << Describe(all);
    EXPECT_EQ(all[0].destClient, kController);
    EXPECT_EQ(Hex(all[0].data), Hex(kRequestBytes));
}

// A pool that never frees: the send gives up at its time-out with nothing delivered, and the
// event it gave up on is not delivered later with the next message.
TEST_F(SystemAlsaSequencerTest, ASendThatNeverGetsRoomTimesOutAndLeavesNothingBehind)
{
    UseSystemSequencer();
    const auto outputs = mSystem->ListOutputs();
    const auto controller = std::find_if(outputs.begin(), outputs.end(),
                                         [](const ZT::AlsaSequencerOutput& o) { return o.client == kController; });
    ASSERT_NE(controller, outputs.end());
    mKernel.RefuseWrites(1000000, EAGAIN);
    CDebugCapture capture;
    EXPECT_EQ(mSystem->Send(controller->client, controller->port, ZT::IAlsaSequencer::MessageKind::SystemExclusive,
                            kUpdateModeRequest, 200),
              -ETIMEDOUT);
    EXPECT_TRUE(mKernel.GetDelivered().empty()) << Describe(mKernel.GetDelivered());
    mKernel.RefuseWrites(0, 0);
    EXPECT_RESULT_EQ(SendUpdateModeRequest(L"Halvard XR4000 NOVA"), kSentLength);
    const auto all = mKernel.GetDelivered();
    EXPECT_EQ(all.size(), 1u) << Describe(all);
}

// The controller leaves after the port was chosen (unplugged, or restarting on its own): the send
// fails with the kernel's answer on the debug output, and once the device is back the next
// message arrives alone, without the failed one still waiting in alsa-lib's buffer.
TEST_F(SystemAlsaSequencerTest, APortThatLeftBeforeTheSendFailsItAndTheNextSendArrivesAlone)
{
    UseSystemSequencer();
    const ZT::RCPtr<ZT::LMidiComm> midi = ZT::LMidiComm::GetInstance();
    ZT::RCPtr<ZT::LMidiRenderPort> port;
    ASSERT_RESULT_EQ(midi->GetRenderPort(ZT::WString(L"Halvard XR4000 NOVA"), port), ZT::S_OK);
    mKernel.RemoveClient(kController);
    CDebugCapture capture;
    EXPECT_RESULT_EQ(midi->Send(port, kUpdateModeRequest.data(), kUpdateModeRequest.size()), ZT::E_FAIL);
    EXPECT_NE(capture.Text().find("(28:0) failed: No such file or directory"), std::string::npos) << capture.Text();
    EXPECT_TRUE(mKernel.GetDelivered().empty()) << Describe(mKernel.GetDelivered());

    mKernel.AddKernelClient(kController, "Halvard XR4000 NOVA", {{0, "Halvard XR4000 NOVA MIDI 1"}});
    EXPECT_RESULT_EQ(SendUpdateModeRequest(L"Halvard XR4000 NOVA"), kSentLength);
    const auto all = mKernel.GetDelivered();
    ASSERT_EQ(all.size(), 1u) << Describe(all);
    EXPECT_EQ(all[0].destClient, kController);
    EXPECT_EQ(Hex(all[0].data), Hex(kRequestBytes));
}

// Closing the sequencer closes the node: the kernel then drops our client and its port.
TEST_F(SystemAlsaSequencerTest, ClosingTheSequencerLeavesNoClientBehind)
{
    UseSystemSequencer();
    ASSERT_EQ(mKernel.GetOpenUserClients().size(), 1u);
    ZT::SetMidiOutputBackend(nullptr);
    mSystem = nullptr;
    // The node's connection ends on umockdev's thread a moment after close().
    for (int i = 0; i < 1000 && !mKernel.GetOpenUserClients().empty(); ++i)
        ::usleep(2000);
    EXPECT_TRUE(mKernel.GetOpenUserClients().empty());
    EXPECT_EQ(mKernel.GetOpenCount(), 1);
}

// Without the node (no snd-seq module): nothing is listed, every send is refused, and the debug
// output tells the user what is missing and how to load it.
// umockdev's preload keeps an entry in a table of 50 for every open under /dev that failed (alsa-lib
// tries three), never freed: one process can run this test and the next about eight times in
// all, which --gtest_repeat must stay below; ctest runs each once in a process of its own.
TEST_F(SystemAlsaSequencerTest, AMissingSequencerDeviceIsNamedWithHowToLoadIt)
{
    const std::string node = TestbedNode();
    const std::string hidden = node + ".hidden";
    ASSERT_EQ(::rename(node.c_str(), hidden.c_str()), 0) << node << ": " << std::strerror(errno);
    // The testbed hides only the nodes it has: a machine with a real sequencer shows it here.
    const bool realSequencer = ::access(CEmulatedAlsaSequencer::kDevnode, F_OK) == 0;
    CDebugCapture capture;
    const auto sequencer = realSequencer ? nullptr : ZT::MakeRC<ZT::LSystemAlsaSequencer>();
    ASSERT_EQ(::rename(hidden.c_str(), node.c_str()), 0) << node << ": " << std::strerror(errno);
    if (realSequencer)
        GTEST_SKIP() << "this machine has a real " << CEmulatedAlsaSequencer::kDevnode;
    EXPECT_FALSE(sequencer->IsAvailable());
    EXPECT_TRUE(sequencer->ListOutputs().empty());
    EXPECT_EQ(sequencer->Send(kController, 0, ZT::IAlsaSequencer::MessageKind::SystemExclusive, kUpdateModeRequest, 100),
              -ENODEV);
    const std::string text = capture.Text();
    EXPECT_NE(text.find("No such file or directory"), std::string::npos) << text;
    EXPECT_NE(text.find("sudo modprobe snd-seq"), std::string::npos) << text;
    EXPECT_EQ(mKernel.GetOpenCount(), 0);
}

// A node the user may not open (not in the audio group, no seat access): the debug output names
// the permission and both ways to get it, not the module.
TEST_F(SystemAlsaSequencerTest, AnUnreadableSequencerDeviceNamesTheAudioGroupAndTheUdevRule)
{
    const std::string node = TestbedNode();
    ASSERT_EQ(::chmod(node.c_str(), 0), 0) << node << ": " << std::strerror(errno);
    CDebugCapture capture;
    ZT::RCPtr<ZT::LSystemAlsaSequencer> sequencer;
    {
        CWithoutFileAccessOverride asUser;
        sequencer = ZT::MakeRC<ZT::LSystemAlsaSequencer>();
    }
    static_cast<void>(::chmod(node.c_str(), 0660));
    EXPECT_FALSE(sequencer->IsAvailable());
    EXPECT_TRUE(sequencer->ListOutputs().empty());
    const std::string text = capture.Text();
    EXPECT_NE(text.find("Permission denied"), std::string::npos) << text;
    EXPECT_NE(text.find("audio group"), std::string::npos) << text;
    EXPECT_NE(text.find("udev"), std::string::npos) << text;
    EXPECT_EQ(text.find("modprobe"), std::string::npos) << "a permission problem is no missing module\n" << text;
}

// Runs command (with umockdev's preload and folder inherited, so that it meets the same emulated
// sequencer) and gives its standard output and error.
std::string RunTool(const std::string& command, int& status)
{
    std::string output;
    FILE* pipe = ::popen((command + " 2>&1").c_str(), "r");
    if (!pipe) {
        status = -1;
        return output;
    }
    char buffer[512];
    while (std::fgets(buffer, sizeof buffer, pipe))
        output += buffer;
    status = ::pclose(pipe);
    return output;
}

// A second, independent client of the emulation: stock aconnect lists the writable ports through
// its own alsa-lib calls, and must see exactly what the program lists, so the emulation is the
// kernel's sequencer and not only what our code expects of one.
TEST_F(SystemAlsaSequencerTest, StockAconnectListsTheSameWritablePortsAsTheProgram)
{
    if (::access("/usr/bin/aconnect", X_OK) != 0)
        GTEST_SKIP() << "aconnect (alsa-utils) is not installed";
    UseSystemSequencer();
    int status = 0;
    const std::string listing = RunTool("aconnect -o", status);
    ASSERT_EQ(status, 0) << listing;
    // "client 28: 'Halvard XR4000 NOVA' [type=kernel,card=3]", then "    0 'Halvard XR4000 NOVA MIDI 1'".
    std::ostringstream listed;
    std::istringstream lines(listing);
    int client = -1;
    std::string clientName;
    for (std::string line; std::getline(lines, line);) {
        if (line.rfind("client ", 0) == 0) {
            client = std::stoi(line.substr(7));
            const auto open = line.find('\'');
            clientName = line.substr(open + 1, line.find('\'', open + 1) - open - 1);
        } else if (client > 0 && line.find('\'') != std::string::npos) {
            const auto open = line.find('\'');
            listed << client << ":" << std::stoi(line) << " " << clientName << " / "
                   << line.substr(open + 1, line.rfind('\'') - open - 1) << "\n";
        }
    }
    std::ostringstream ours;
    for (const ZT::AlsaSequencerOutput& output : mSystem->ListOutputs())
        ours << output.client << ":" << output.port << " " << output.clientName << " / " << output.portName << "\n";
    EXPECT_EQ(ours.str(), listed.str()) << "aconnect -o, the system client left out:\n" << listing;
    EXPECT_NE(ours.str().find("24:1 Halvard XR4000 NOVA WD / Halvard XR4000 NOVA WD MIDI 2"), std::string::npos)
        << ours.str();
}

} // namespace
