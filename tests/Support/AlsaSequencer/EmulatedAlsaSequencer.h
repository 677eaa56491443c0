#pragma once
// The kernel's ALSA sequencer behind an emulated /dev/snd/seq: umockdev's preload library hands
// every ioctl and write on the node to this class, which answers them as the kernel's sequencer
// core does for alsa-lib's "hw" sequencer. The real alsa-lib (and whatever calls it) runs against
// it unchanged; no sound hardware, no snd-seq module and no root are needed.
//
// Clients and ports are set by the test: kernel clients for MIDI devices (a USB MIDI device's
// client carries the device's product string), user clients for software. A program that opens
// the node becomes a user client of its own, numbered from 128 like the kernel's, until it
// closes the node. Events written to the node are delivered as the kernel delivers direct
// events: to an existing port that allows writing, or refused with the kernel's error (ENOENT
// for a client or port that is not there, EPERM for a port that takes no writes, EINVAL for a
// malformed or queued event). Each delivered event is recorded at its destination port.
//
// Threads: umockdev calls the handlers on its own worker thread; the test thread configures the
// sequencer and reads what was delivered. mMutex guards everything below it.

#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <vector>

typedef struct _UMockdevTestbed UMockdevTestbed;
typedef struct _UMockdevIoctlBase UMockdevIoctlBase;
typedef struct _UMockdevIoctlClient UMockdevIoctlClient;

namespace SequencerTest {

// Port capabilities, as the kernel's SNDRV_SEQ_PORT_CAP_* bits.
inline constexpr unsigned kCapRead = 1u << 0;
inline constexpr unsigned kCapWrite = 1u << 1;
inline constexpr unsigned kCapSubsRead = 1u << 5;
inline constexpr unsigned kCapSubsWrite = 1u << 6;
inline constexpr unsigned kCapNoExport = 1u << 7;
// What a USB MIDI device's output port (the host writes to it) and a software synth offer.
inline constexpr unsigned kMidiOutputCaps = kCapWrite | kCapSubsWrite | kCapRead | kCapSubsRead;

struct EmulatedPort {
    int port = 0;
    std::string name;
    unsigned capability = kMidiOutputCaps;
};

// One event the sequencer delivered to a port.
struct DeliveredEvent {
    int sourceClient = 0;
    int sourcePort = 0;
    int destClient = 0;
    int destPort = 0;
    int type = 0;                   // SNDRV_SEQ_EVENT_*: 130 for system-exclusive data
    unsigned flags = 0;             // the event's flags as written
    int queue = 0;                  // 253 for direct dispatch
    std::vector<std::uint8_t> data; // a variable-length event's bytes; a fixed event's 12 data bytes
};

// A user client that a program opened through the node.
struct UserClient {
    int client = 0;
    std::string name;
    std::vector<EmulatedPort> ports;
};

class CEmulatedAlsaSequencer {
public:
    static constexpr const char* kDevnode = "/dev/snd/seq";
    static constexpr int kSysexEventType = 130;
    static constexpr int kDirectQueue = 253;

    CEmulatedAlsaSequencer();
    ~CEmulatedAlsaSequencer();
    CEmulatedAlsaSequencer(const CEmulatedAlsaSequencer&) = delete;
    CEmulatedAlsaSequencer& operator=(const CEmulatedAlsaSequencer&) = delete;

    // Attaches the handler to /dev/snd/seq and, the first time, adds the node (character device
    // 116:1) with its sysfs entry. The system client (0) and "Midi Through" (14) are there from
    // the start, as on any machine with the snd-seq module loaded.
    bool Attach(UMockdevTestbed* testbed, std::string& error);
    // Takes the handler off the node (which stays); clients that still have it open get ENODEV.
    void Detach(UMockdevTestbed* testbed);

    // Adds a kernel client (a MIDI device's) or a user client (software) with its ports.
    void AddKernelClient(int client, const std::string& name, const std::vector<EmulatedPort>& ports);
    void AddUserClient(int client, const std::string& name, const std::vector<EmulatedPort>& ports);
    // A client or one port leaves, as when a device is unplugged or a program deletes its port.
    void RemoveClient(int client);
    void RemovePort(int client, int port);

    // The next count writes are refused with error (EAGAIN: the client's pool is full), each
    // taking nothing; the writes after them are handled again.
    void RefuseWrites(int count, int error);
    [[nodiscard]] int GetRefusedWriteCount() const;

    // Called on umockdev's thread after each delivered event, outside the lock.
    void SetDeliveryHandler(std::function<void(const DeliveredEvent&)> handler);

    // Every event delivered so far, in order of delivery.
    [[nodiscard]] std::vector<DeliveredEvent> GetDelivered() const;
    [[nodiscard]] std::vector<DeliveredEvent> GetDeliveredTo(int client, int port) const;
    // The user clients that programs hold open now, with the names and ports they gave.
    [[nodiscard]] std::vector<UserClient> GetOpenUserClients();
    // How many times a program opened the node (and used it) so far.
    [[nodiscard]] int GetOpenCount() const;

private:
    struct Client {
        int type = 0; // 1 user, 2 kernel
        std::string name;
        std::map<int, EmulatedPort> ports;
        unsigned filter = 0;
        int outputPool = 500;
        int inputPool = 200;
        int outputRoom = 250;
        UMockdevIoctlClient* owner = nullptr; // the open node of a user client made through it
    };

    bool HandleIoctl(UMockdevIoctlClient* client);
    bool HandleWrite(UMockdevIoctlClient* client);
    void Connected(UMockdevIoctlClient* client);
    // Drops the clients of nodes that were closed (mutex held).
    void PurgeClosedNodes();
    // The user client of an open node, made at its first request; -1 when it is gone (mutex held).
    int ClientOf(UMockdevIoctlClient* client);

    static constexpr int kNoClientYet = -2;
    // Delivers one direct event: 0 or the kernel's negative errno (mutex held).
    int Deliver(const DeliveredEvent& event);

    static std::mutex mMutex; // see EmulatedDfuSeBootloader: visible to umockdev's thread early

    UMockdevIoctlBase* mHandler = nullptr;
    std::map<int, Client> mClients;
    std::map<UMockdevIoctlClient*, int> mOpenNodes; // node connection -> its user client (or -1)
    std::vector<DeliveredEvent> mDelivered;
    std::function<void(const DeliveredEvent&)> mDeliveryHandler;
    int mRefuseWrites = 0;
    int mRefuseError = 0;
    int mRefused = 0;
    int mOpenCount = 0;
    bool mDetached = false;
};

} // namespace SequencerTest
