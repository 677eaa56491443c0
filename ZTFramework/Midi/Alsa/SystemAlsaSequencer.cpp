#include "ZTFramework/Midi/Alsa/SystemAlsaSequencer.h"

#include "ZTFramework/Debug/DebugLine.h"
#include "ZTFramework/Midi/Alsa/AlsaLibrary.h"

#include <cerrno>
#include <chrono>
#include <poll.h>
#include <vector>

namespace ZT {

namespace {

constexpr const char* kClientName = "XR4000 NOVA Firmware Updater";
// The node alsa-lib's "hw" sequencer opens.
constexpr const char* kSequencerDevice = "/dev/snd/seq";

// alsa-lib writes its own errors to stderr; ours go to the debug output instead.
void IgnoreAlsaError(const char*, int, const char*, int, const char*, ...)
{
}

// Frees an ALSA info record at the end of a scope.
template <class T>
struct CAlsaInfo {
    explicit CAlsaInfo(void (*free)(T*)) : mFree(free) {}
    CAlsaInfo(const CAlsaInfo&) = delete;
    CAlsaInfo& operator=(const CAlsaInfo&) = delete;
    ~CAlsaInfo()
    {
        if (info)
            mFree(info);
    }
    T* info = nullptr;

private:
    void (*mFree)(T*);
};

} // namespace

LSystemAlsaSequencer::LSystemAlsaSequencer(const std::string& sequencerName)
{
    std::string error;
    const AlsaLibrary* const alsa = LoadAlsaLibrary(error);
    if (!alsa) {
        CDebugLine() << "MIDI: no ALSA library (" << error
                     << "); a controller in normal mode cannot be switched to update mode. Install alsa-lib "
                        "(the libasound2 package), or put the controller in update mode by hand.";
        return;
    }
    mAlsa = alsa;
    alsa->snd_lib_error_set_handler(IgnoreAlsaError);
    snd_seq_t* sequencer = nullptr;
    const int opened = alsa->snd_seq_open(&sequencer, sequencerName.c_str(), SND_SEQ_OPEN_OUTPUT, SND_SEQ_NONBLOCK);
    if (opened == -EACCES || opened == -EPERM) {
        // The node is there (the module is loaded) but belongs to the audio group, and udev gives
        // it to the user at the seat only where a rule tags it for that.
        CDebugLine() << "MIDI: no permission to open the ALSA sequencer " << kSequencerDevice << " (\""
                     << sequencerName << "\": " << alsa->snd_strerror(opened)
                     << "); a controller in normal mode cannot be switched to update mode. Add the user to the "
                        "audio group (\"sudo usermod -aG audio $USER\", then log in again), or give the "
                        "logged-in user the sound devices with a udev rule (SUBSYSTEM==\"sound\", "
                        "TAG+=\"uaccess\"), or put the controller in update mode by hand.";
        return;
    }
    if (opened < 0) {
        CDebugLine() << "MIDI: no ALSA sequencer (\"" << sequencerName << "\": " << alsa->snd_strerror(opened)
                     << "); a controller in normal mode cannot be switched to update mode. Load it with "
                        "\"sudo modprobe snd-seq\", or put the controller in update mode by hand.";
        return;
    }
    static_cast<void>(alsa->snd_seq_set_client_name(sequencer, kClientName));
    const int port = alsa->snd_seq_create_simple_port(sequencer, kClientName, SND_SEQ_PORT_CAP_READ,
                                                SND_SEQ_PORT_TYPE_MIDI_GENERIC | SND_SEQ_PORT_TYPE_APPLICATION);
    if (port < 0) {
        CDebugLine() << "MIDI: the ALSA sequencer gives us no port (" << alsa->snd_strerror(port)
                     << "); a controller in normal mode cannot be switched to update mode.";
        alsa->snd_seq_close(sequencer);
        return;
    }
    mSequencer = sequencer;
    mClient = alsa->snd_seq_client_id(sequencer);
    mSourcePort = port;
}

LSystemAlsaSequencer::~LSystemAlsaSequencer()
{
    if (mSequencer)
        mAlsa->snd_seq_close(mSequencer);
}

bool LSystemAlsaSequencer::IsAvailable() const
{
    std::lock_guard lock(mMutex);
    return mSequencer != nullptr;
}

std::vector<AlsaSequencerOutput> LSystemAlsaSequencer::ListOutputs()
{
    std::vector<AlsaSequencerOutput> outputs;
    std::lock_guard lock(mMutex);
    if (!mSequencer)
        return outputs;
    CAlsaInfo<snd_seq_client_info_t> client(mAlsa->snd_seq_client_info_free);
    CAlsaInfo<snd_seq_port_info_t> port(mAlsa->snd_seq_port_info_free);
    if (mAlsa->snd_seq_client_info_malloc(&client.info) < 0 || mAlsa->snd_seq_port_info_malloc(&port.info) < 0)
        return outputs;
    constexpr unsigned kWritable = SND_SEQ_PORT_CAP_WRITE | SND_SEQ_PORT_CAP_SUBS_WRITE;
    mAlsa->snd_seq_client_info_set_client(client.info, -1);
    while (mAlsa->snd_seq_query_next_client(mSequencer, client.info) >= 0) {
        const int clientId = mAlsa->snd_seq_client_info_get_client(client.info);
        // The system client (timer, announcements) and we ourselves are no MIDI devices.
        if (clientId == SND_SEQ_CLIENT_SYSTEM || clientId == mClient)
            continue;
        mAlsa->snd_seq_port_info_set_client(port.info, clientId);
        mAlsa->snd_seq_port_info_set_port(port.info, -1);
        while (mAlsa->snd_seq_query_next_port(mSequencer, port.info) >= 0) {
            const unsigned capability = mAlsa->snd_seq_port_info_get_capability(port.info);
            if ((capability & kWritable) != kWritable || (capability & SND_SEQ_PORT_CAP_NO_EXPORT) != 0)
                continue;
            outputs.push_back({clientId, mAlsa->snd_seq_port_info_get_port(port.info),
                               mAlsa->snd_seq_client_info_get_name(client.info), mAlsa->snd_seq_port_info_get_name(port.info)});
        }
    }
    return outputs;
}

int LSystemAlsaSequencer::Send(int client, int port, MessageKind kind, std::span<const std::uint8_t> bytes,
                               std::uint32_t timeoutMs)
{
    if (bytes.empty())
        return -EINVAL;
    std::lock_guard lock(mMutex);
    if (!mSequencer)
        return -ENODEV;

    snd_seq_event_t event;
    snd_seq_ev_clear(&event);
    switch (kind) {
    case MessageKind::SystemExclusive:
        // The event points at the caller's bytes; alsa-lib copies them into its output buffer.
        snd_seq_ev_set_sysex(&event, static_cast<unsigned>(bytes.size()), const_cast<std::uint8_t*>(bytes.data()));
        break;
    case MessageKind::Channel: {
        snd_midi_event_t* encoder = nullptr;
        if (mAlsa->snd_midi_event_new(bytes.size(), &encoder) < 0)
            return -ENOMEM;
        const long used = mAlsa->snd_midi_event_encode(encoder, bytes.data(), static_cast<long>(bytes.size()), &event);
        mAlsa->snd_midi_event_free(encoder);
        if (used <= 0 || event.type == SND_SEQ_EVENT_NONE)
            return -EINVAL;
        break;
    }
    }
    snd_seq_ev_set_source(&event, static_cast<unsigned char>(mSourcePort));
    snd_seq_ev_set_dest(&event, static_cast<unsigned char>(client), static_cast<unsigned char>(port));
    snd_seq_ev_set_direct(&event);

    const int queued = mAlsa->snd_seq_event_output(mSequencer, &event);
    if (queued < 0 && queued != -EAGAIN) {
        mAlsa->snd_seq_drop_output(mSequencer);
        return queued;
    }
    return DrainOutput(timeoutMs);
}

int LSystemAlsaSequencer::DrainOutput(std::uint32_t timeoutMs)
{
    // Called with mMutex held. The sequencer is non-blocking, so a full kernel pool shows as
    // -EAGAIN and we wait for room with poll, bounded by the caller's time-out.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        const int left = mAlsa->snd_seq_drain_output(mSequencer);
        if (left == 0)
            return 0;
        if (left < 0 && left != -EAGAIN) {
            mAlsa->snd_seq_drop_output(mSequencer);
            return left;
        }
        const auto remaining =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now()).count();
        if (remaining <= 0) {
            mAlsa->snd_seq_drop_output(mSequencer);
            return -ETIMEDOUT;
        }
        const int count = mAlsa->snd_seq_poll_descriptors_count(mSequencer, POLLOUT);
        std::vector<pollfd> descriptors(static_cast<std::size_t>(count > 0 ? count : 0));
        const int filled = mAlsa->snd_seq_poll_descriptors(mSequencer, descriptors.data(),
                                                    static_cast<unsigned>(descriptors.size()), POLLOUT);
        if (filled <= 0) {
            mAlsa->snd_seq_drop_output(mSequencer);
            return -EIO;
        }
        static_cast<void>(::poll(descriptors.data(), static_cast<nfds_t>(filled), static_cast<int>(remaining)));
    }
}

} // namespace ZT
