// The ALSA backend's device names, port choice and message framing, on a sequencer of the test's
// own; the system sequencer's behaviour on a machine that has none; alsa-lib loaded on first use.

#include "ZTFramework/Midi/Alsa/AlsaLibrary.h"
#include "ZTFramework/Midi/Alsa/AlsaMidiOutputBackend.h"
#include "ZTFramework/Midi/Alsa/AlsaMidiOutputPort.h"
#include "ZTFramework/Midi/Alsa/SystemAlsaSequencer.h"
#include "tests/Support/Printers.h"
#include "tests/ZTFramework/Threads/DebugCapture.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <unistd.h>

namespace {

using ZT::AlsaSequencerOutput;
using ZT::Testing::CDebugCapture;
using ZT::IAlsaSequencer;

struct SentEvent {
    int client;
    int port;
    IAlsaSequencer::MessageKind kind;
    std::vector<std::uint8_t> bytes;
    std::uint32_t timeoutMs;
};

// A sequencer with fixed ports that records what it is asked to send.
class LRecordingSequencer final : public IAlsaSequencer {
public:
    explicit LRecordingSequencer(std::vector<AlsaSequencerOutput> outputs) : mOutputs(std::move(outputs)) {}

    std::vector<AlsaSequencerOutput> ListOutputs() override { return mOutputs; }
    int Send(int client, int port, MessageKind kind, std::span<const std::uint8_t> bytes, std::uint32_t timeoutMs) override
    {
        Sent.push_back({client, port, kind, std::vector<std::uint8_t>(bytes.begin(), bytes.end()), timeoutMs});
        return NextResult;
    }

    std::vector<SentEvent> Sent;
    int NextResult = 0;

private:
    std::vector<AlsaSequencerOutput> mOutputs;
};

// Two controllers, each a USB MIDI client with two ports, and the kernel's through client.
std::vector<AlsaSequencerOutput> TypicalOutputs()
{
    return {
        {14, 0, "Midi Through", "Midi Through Port-0"},
        {20, 0, "Halvard XR4000 NOVA", "Halvard XR4000 NOVA MIDI 1"},
        {20, 1, "Halvard XR4000 NOVA", "Halvard XR4000 NOVA MIDI 2"},
        {24, 0, "Halvard XR4000 NOVA WD", "Halvard XR4000 NOVA WD MIDI 1"},
    };
}

const std::vector<std::uint8_t> kSystemExclusive = {0xF0, 0x00, 0x20, 0x7F, 0x01, 0x02, 0x03, 0xF7};

} // namespace

TEST(AlsaMidiOutputBackend, ListsEachClientOnceAndOpensItsFirstPortNeverMatchingPortNames)
{
    auto sequencer = ZT::MakeRC<LRecordingSequencer>(TypicalOutputs());
    ZT::LAlsaMidiOutputBackend backend(sequencer);
    EXPECT_EQ(backend.ListOutputNames(),
              (std::vector<std::string>{"Midi Through", "Halvard XR4000 NOVA", "Halvard XR4000 NOVA WD"}));

    EXPECT_FALSE(backend.Open("Halvard XR4000 NOVA MIDI 2"));
    EXPECT_FALSE(backend.Open("halvard xr4000 nova")); // the framework resolves case, not the backend

    auto port = backend.Open("Halvard XR4000 NOVA");
    ASSERT_TRUE(port);
    EXPECT_EQ(port->GetName(), "Halvard XR4000 NOVA");
    ASSERT_RESULT_EQ(port->Send(kSystemExclusive.data(), static_cast<std::uint32_t>(kSystemExclusive.size())),
                     static_cast<ZT::ZTRESULT>(kSystemExclusive.size()));
    ASSERT_EQ(sequencer->Sent.size(), 1u);
    EXPECT_EQ(sequencer->Sent[0].client, 20);
    EXPECT_EQ(sequencer->Sent[0].port, 0);
}

TEST(AlsaMidiOutputPort, FramesSystemExclusiveWholeAndChannelMessagesAsFourBytesAtMost)
{
    auto sequencer = ZT::MakeRC<LRecordingSequencer>(TypicalOutputs());
    ZT::LAlsaMidiOutputPort port(sequencer, 20, 0, "Halvard XR4000 NOVA");

    EXPECT_RESULT_EQ(port.Send(kSystemExclusive.data(), 8), 8);
    const std::vector<std::uint8_t> noteOn = {0x90, 0x3C, 0x7F, 0x00, 0x55, 0x66};
    EXPECT_RESULT_EQ(port.Send(noteOn.data(), 6), 6);
    const std::vector<std::uint8_t> continuation = {0x01, 0x02, 0xF7}; // data first: not a channel message
    EXPECT_RESULT_EQ(port.Send(continuation.data(), 3), 3);

    ASSERT_EQ(sequencer->Sent.size(), 3u);
    EXPECT_EQ(sequencer->Sent[0].kind, IAlsaSequencer::MessageKind::SystemExclusive);
    EXPECT_EQ(sequencer->Sent[0].bytes, kSystemExclusive);
    EXPECT_EQ(sequencer->Sent[0].timeoutMs, ZT::kMidiSendCompletionTimeoutMs);
    EXPECT_EQ(sequencer->Sent[1].kind, IAlsaSequencer::MessageKind::Channel);
    EXPECT_EQ(sequencer->Sent[1].bytes, (std::vector<std::uint8_t>{0x90, 0x3C, 0x7F, 0x00}));
    EXPECT_EQ(sequencer->Sent[2].kind, IAlsaSequencer::MessageKind::SystemExclusive);
    EXPECT_EQ(sequencer->Sent[2].bytes, continuation);
}

TEST(AlsaMidiOutputPort, RejectsEmptyMessagesAndMapsRefusalsToFailureWithoutClosing)
{
    auto sequencer = ZT::MakeRC<LRecordingSequencer>(TypicalOutputs());
    ZT::LAlsaMidiOutputPort port(sequencer, 20, 0, "Halvard XR4000 NOVA");
    CDebugCapture capture;

    EXPECT_RESULT_EQ(port.Send(kSystemExclusive.data(), 0), ZT::E_INVALIDARG);
    EXPECT_RESULT_EQ(port.Send(nullptr, 8), ZT::E_INVALIDARG);
    EXPECT_TRUE(sequencer->Sent.empty());

    sequencer->NextResult = -ETIMEDOUT; // the completion did not come within the wait
    EXPECT_RESULT_EQ(port.Send(kSystemExclusive.data(), 8), ZT::E_FAIL);
    EXPECT_NE(capture.Text().find("Halvard XR4000 NOVA"), std::string::npos) << capture.Text();
    sequencer->NextResult = 0;
    EXPECT_RESULT_EQ(port.Send(kSystemExclusive.data(), 8), 8);

    port.Close();
    port.Close();
    EXPECT_RESULT_EQ(port.Send(kSystemExclusive.data(), 8), ZT::E_FAIL);
    EXPECT_EQ(sequencer->Sent.size(), 2u);
}

TEST(SystemAlsaSequencer, WithoutASequencerListsNothingAndRefusesSendsWithOneLine)
{
    CDebugCapture capture;
    // An ALSA name that no configuration defines fails to open just as a missing /dev/snd/seq does.
    auto sequencer = ZT::MakeRC<ZT::LSystemAlsaSequencer>("zt_no_such_sequencer");
    EXPECT_FALSE(sequencer->IsAvailable());
    EXPECT_TRUE(sequencer->ListOutputs().empty());
    EXPECT_EQ(sequencer->Send(20, 0, IAlsaSequencer::MessageKind::SystemExclusive, kSystemExclusive, 10), -ENODEV);

    ZT::LAlsaMidiOutputBackend backend(sequencer);
    EXPECT_TRUE(backend.ListOutputNames().empty());
    EXPECT_FALSE(backend.Open("Halvard XR4000 NOVA"));
    ZT::LAlsaMidiOutputPort port(sequencer, 20, 0, "Halvard XR4000 NOVA");
    EXPECT_RESULT_EQ(port.Send(kSystemExclusive.data(), 8), ZT::E_FAIL);

    const std::string text = capture.Text();
    EXPECT_NE(text.find("MIDI: no ALSA sequencer"), std::string::npos) << text;
    EXPECT_EQ(text.find("MIDI: no ALSA sequencer"), text.rfind("MIDI: no ALSA sequencer")) << text;
}

TEST(SystemAlsaSequencer, TheSystemSequencerIsMissingOnAMachineWithoutSnd)
{
    if (::access("/dev/snd/seq", F_OK) == 0)
        GTEST_SKIP() << "this machine has a sequencer";
    CDebugCapture capture;
    ZT::LAlsaMidiOutputBackend backend;
    EXPECT_TRUE(backend.ListOutputNames().empty());
    EXPECT_NE(capture.Text().find("MIDI: no ALSA sequencer"), std::string::npos) << capture.Text();
}

TEST(AlsaLibrary, LoadsEveryEntryOnceAndNamesTheFileOrEntryThatFails)
{
    std::string error;
    const ZT::AlsaLibrary* const library = ZT::LoadAlsaLibrary(error);
    ASSERT_NE(library, nullptr) << error;
#define ZT_EXPECT_ALSA_ENTRY(name) EXPECT_NE(library->name, nullptr) << #name " was not loaded";
    ZT_ALSA_ENTRIES(ZT_EXPECT_ALSA_ENTRY)
#undef ZT_EXPECT_ALSA_ENTRY
    EXPECT_EQ(ZT::LoadAlsaLibrary(error), library) << "a second call loaded the library again";
    EXPECT_STREQ(library->snd_strerror(-ENOENT), "No such file or directory");

    error.clear();
    EXPECT_EQ(ZT::LoadAlsaLibraryFrom("libzt-no-such-sound-library.so.2", error), nullptr);
    EXPECT_NE(error.find("libzt-no-such-sound-library.so.2 cannot be loaded"), std::string::npos) << error;

    // A library that loads but is not alsa-lib: the first entry it lacks is named.
    error.clear();
    EXPECT_EQ(ZT::LoadAlsaLibraryFrom("libc.so.6", error), nullptr);
    EXPECT_EQ(error, "libc.so.6 has no snd_lib_error_set_handler");
}
