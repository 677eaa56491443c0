#include "EmulatedAlsaSequencer.h"

#include <umockdev.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <linux/types.h>
#include <sys/ioctl.h>
#include <unistd.h>
#include <sound/asequencer.h>

namespace SequencerTest {

namespace {

// The protocol of the sequencer core in the kernels of current distributions before the UMP
// additions: alsa-lib then uses the classic event layout and asks for no newer protocol.
constexpr int kProtocolVersion = SNDRV_PROTOCOL_VERSION(1, 0, 2);
constexpr int kUserClient = 1;
constexpr int kKernelClient = 2;
constexpr int kFirstUserClient = 128;
constexpr int kMaxClients = 192;
constexpr int kMaxPorts = 254;
// The kernel keeps the high bits of an external length for itself.
constexpr unsigned kExtLengthFlags = 0xC0000000u;
constexpr unsigned kMaxEventLength = 0x3FFFFFFFu;

static_assert(sizeof(snd_seq_event) == 28, "the sequencer's event record as alsa-lib writes it on 64-bit Linux");

bool IsVariableType(int type)
{
    return type >= 130 && type < 140;
}

// Event types no user client may send (the kernel's reserved and internal ranges).
bool IsReservedType(int type)
{
    return (type >= 100 && type < 130) || (type >= 132 && type < 135) || (type >= 140 && type < 192);
}

void CopyName(char* target, std::size_t size, const std::string& name)
{
    std::memset(target, 0, size);
    std::memcpy(target, name.data(), std::min(name.size(), size - 1));
}

std::string ReadName(const char* source, std::size_t size)
{
    return std::string(source, ::strnlen(source, size));
}

} // namespace

std::mutex CEmulatedAlsaSequencer::mMutex;

CEmulatedAlsaSequencer::CEmulatedAlsaSequencer()
{
    // The clients of a machine with the snd-seq module loaded and no MIDI device.
    AddKernelClient(SNDRV_SEQ_CLIENT_SYSTEM, "System",
                    {{0, "Timer", kCapRead | kCapWrite | kCapSubsRead | kCapSubsWrite}, {1, "Announce", kCapRead | kCapSubsRead}});
    AddKernelClient(SNDRV_SEQ_CLIENT_DUMMY, "Midi Through", {{0, "Midi Through Port-0", kMidiOutputCaps}});

    mHandler = umockdev_ioctl_base_new();
    const auto onIoctl = +[](UMockdevIoctlBase*, UMockdevIoctlClient* client, void* self) -> int {
        return static_cast<CEmulatedAlsaSequencer*>(self)->HandleIoctl(client) ? TRUE : FALSE;
    };
    const auto onWrite = +[](UMockdevIoctlBase*, UMockdevIoctlClient* client, void* self) -> int {
        return static_cast<CEmulatedAlsaSequencer*>(self)->HandleWrite(client) ? TRUE : FALSE;
    };
    const auto onRead = +[](UMockdevIoctlBase*, UMockdevIoctlClient* client, void*) -> int {
        // The updater opens the sequencer for output only; the kernel refuses reads on such a client.
        umockdev_ioctl_client_complete(client, -1, ENXIO);
        return TRUE;
    };
    const auto onConnected = +[](UMockdevIoctlBase*, UMockdevIoctlClient* client, void* self) {
        static_cast<CEmulatedAlsaSequencer*>(self)->Connected(client);
    };
    g_signal_connect(mHandler, "handle-ioctl", G_CALLBACK(onIoctl), this);
    g_signal_connect(mHandler, "handle-write", G_CALLBACK(onWrite), this);
    g_signal_connect(mHandler, "handle-read", G_CALLBACK(onRead), nullptr);
    g_signal_connect(mHandler, "client-connected", G_CALLBACK(onConnected), this);
}

CEmulatedAlsaSequencer::~CEmulatedAlsaSequencer()
{
    std::lock_guard lock(mMutex);
    for (const auto& [node, client] : mOpenNodes)
        g_object_unref(node);
    mOpenNodes.clear();
    g_signal_handlers_disconnect_by_data(mHandler, this);
    g_object_unref(mHandler);
}

bool CEmulatedAlsaSequencer::Attach(UMockdevTestbed* testbed, std::string& error)
{
    {
        // Publishes what the constructor built to umockdev's thread (see EmulatedDfuSeBootloader).
        std::lock_guard lock(mMutex);
        mDetached = false;
    }
    GError* failure = nullptr;
    // The handler must be in place before the node appears, or an early open finds a plain file.
    if (!umockdev_testbed_attach_ioctl(testbed, kDevnode, mHandler, &failure)) {
        error = std::string("cannot attach the handler to ") + kDevnode + ": " + (failure ? failure->message : "?");
        g_clear_error(&failure);
        return false;
    }
    // The node stays for the testbed's life: umockdev keeps its own record of a node it made, and
    // refuses to make the same node again after its device was removed.
    gchar* root = umockdev_testbed_get_root_dir(testbed);
    const std::string node = std::string(root) + kDevnode;
    g_free(root);
    if (::access(node.c_str(), F_OK) == 0)
        return true;
    constexpr const char* kRecord = "P: /devices/virtual/sound/seq\n"
                                    "N: snd/seq\n"
                                    "E: DEVNAME=/dev/snd/seq\nE: SUBSYSTEM=sound\nE: MAJOR=116\nE: MINOR=1\n"
                                    "A: dev=116:1\\n\n";
    if (!umockdev_testbed_add_from_string(testbed, kRecord, &failure)) {
        error = std::string("cannot add ") + kDevnode + ": " + (failure ? failure->message : "?");
        g_clear_error(&failure);
        return false;
    }
    return true;
}

void CEmulatedAlsaSequencer::Detach(UMockdevTestbed* testbed)
{
    {
        std::lock_guard lock(mMutex);
        mDetached = true;
    }
    static_cast<void>(umockdev_testbed_detach_ioctl(testbed, kDevnode, nullptr));
}

void CEmulatedAlsaSequencer::AddKernelClient(int client, const std::string& name, const std::vector<EmulatedPort>& ports)
{
    std::lock_guard lock(mMutex);
    Client& added = mClients[client] = Client{};
    added.type = kKernelClient;
    added.name = name;
    for (const EmulatedPort& port : ports)
        added.ports[port.port] = port;
}

void CEmulatedAlsaSequencer::AddUserClient(int client, const std::string& name, const std::vector<EmulatedPort>& ports)
{
    std::lock_guard lock(mMutex);
    Client& added = mClients[client] = Client{};
    added.type = kUserClient;
    added.name = name;
    for (const EmulatedPort& port : ports)
        added.ports[port.port] = port;
}

void CEmulatedAlsaSequencer::RemoveClient(int client)
{
    std::lock_guard lock(mMutex);
    mClients.erase(client);
}

void CEmulatedAlsaSequencer::RemovePort(int client, int port)
{
    std::lock_guard lock(mMutex);
    if (const auto found = mClients.find(client); found != mClients.end())
        found->second.ports.erase(port);
}

void CEmulatedAlsaSequencer::RefuseWrites(int count, int error)
{
    std::lock_guard lock(mMutex);
    mRefuseWrites = count;
    mRefuseError = error;
}

int CEmulatedAlsaSequencer::GetRefusedWriteCount() const
{
    std::lock_guard lock(mMutex);
    return mRefused;
}

void CEmulatedAlsaSequencer::SetDeliveryHandler(std::function<void(const DeliveredEvent&)> handler)
{
    std::lock_guard lock(mMutex);
    mDeliveryHandler = std::move(handler);
}

std::vector<DeliveredEvent> CEmulatedAlsaSequencer::GetDelivered() const
{
    std::lock_guard lock(mMutex);
    return mDelivered;
}

std::vector<DeliveredEvent> CEmulatedAlsaSequencer::GetDeliveredTo(int client, int port) const
{
    std::lock_guard lock(mMutex);
    std::vector<DeliveredEvent> events;
    for (const DeliveredEvent& event : mDelivered) {
        if (event.destClient == client && event.destPort == port)
            events.push_back(event);
    }
    return events;
}

std::vector<UserClient> CEmulatedAlsaSequencer::GetOpenUserClients()
{
    std::lock_guard lock(mMutex);
    PurgeClosedNodes();
    std::vector<UserClient> clients;
    for (const auto& [node, number] : mOpenNodes) {
        const auto found = mClients.find(number);
        if (found == mClients.end())
            continue;
        UserClient client{.client = number, .name = found->second.name, .ports = {}};
        for (const auto& [index, port] : found->second.ports)
            client.ports.push_back(port);
        clients.push_back(std::move(client));
    }
    return clients;
}

int CEmulatedAlsaSequencer::GetOpenCount() const
{
    std::lock_guard lock(mMutex);
    return mOpenCount;
}

void CEmulatedAlsaSequencer::Connected(UMockdevIoctlClient* node)
{
    // umockdev connects every open of the node's path, a failed one too; the client is made at
    // the connection's first request, which only a successful open makes.
    std::lock_guard lock(mMutex);
    mOpenNodes[node] = kNoClientYet;
    g_object_ref(node);
}

void CEmulatedAlsaSequencer::PurgeClosedNodes()
{
    // Closing the node deletes the client and its ports, as the kernel does on release.
    for (auto node = mOpenNodes.begin(); node != mOpenNodes.end();) {
        if (umockdev_ioctl_client_get_connected(node->first)) {
            ++node;
            continue;
        }
        if (const auto client = mClients.find(node->second); client != mClients.end() && client->second.owner == node->first)
            mClients.erase(client);
        g_object_unref(node->first);
        node = mOpenNodes.erase(node);
    }
}

int CEmulatedAlsaSequencer::ClientOf(UMockdevIoctlClient* node)
{
    PurgeClosedNodes();
    const auto found = mOpenNodes.find(node);
    if (mDetached || found == mOpenNodes.end())
        return -1;
    if (found->second == kNoClientYet) {
        // Opening the node makes a user client, the first free number from 128 on.
        int number = kFirstUserClient;
        while (number < kMaxClients && mClients.contains(number))
            ++number;
        if (number >= kMaxClients)
            return -1;
        Client& added = mClients[number] = Client{};
        added.type = kUserClient;
        added.name = "Client-" + std::to_string(number);
        added.owner = node;
        found->second = number;
        ++mOpenCount;
    }
    const auto client = mClients.find(found->second);
    return client != mClients.end() && client->second.owner == node ? found->second : -1;
}

bool CEmulatedAlsaSequencer::HandleIoctl(UMockdevIoctlClient* node)
{
    const unsigned long request = umockdev_ioctl_client_get_request(node);
    if (_IOC_TYPE(request) != 'S') {
        umockdev_ioctl_client_complete(node, -1, ENOTTY);
        return true;
    }
    UMockdevIoctlData* arg = umockdev_ioctl_data_resolve(umockdev_ioctl_client_get_arg(node), 0, _IOC_SIZE(request), nullptr);
    if (!arg) {
        umockdev_ioctl_client_complete(node, -1, EFAULT);
        return true;
    }
    void* const data = arg->data;
    int result = 0;
    {
        std::lock_guard lock(mMutex);
        const int self = ClientOf(node);
        const auto fillClient = [&](int number, snd_seq_client_info& info) {
            const Client& client = mClients.at(number);
            std::memset(&info, 0, sizeof info);
            info.client = number;
            info.type = client.type;
            CopyName(info.name, sizeof info.name, client.name);
            info.filter = client.filter;
            info.num_ports = static_cast<int>(client.ports.size());
            info.card = client.type == kKernelClient && number >= 16 ? (number - 16) / 4 : -1;
            info.pid = client.type == kUserClient ? 4242 : -1;
        };
        const auto fillPort = [&](int number, const EmulatedPort& port, snd_seq_port_info& info) {
            std::memset(&info, 0, sizeof info);
            info.addr.client = static_cast<unsigned char>(number);
            info.addr.port = static_cast<unsigned char>(port.port);
            CopyName(info.name, sizeof info.name, port.name);
            info.capability = port.capability;
            info.type = SNDRV_SEQ_PORT_TYPE_MIDI_GENERIC |
                        (mClients.at(number).type == kKernelClient ? SNDRV_SEQ_PORT_TYPE_HARDWARE | SNDRV_SEQ_PORT_TYPE_PORT
                                                                   : SNDRV_SEQ_PORT_TYPE_SOFTWARE);
            info.midi_channels = 16;
        };
        if (self < 0) {
            result = -ENODEV;
        } else {
            switch (request) {
            case SNDRV_SEQ_IOCTL_PVERSION:
                *static_cast<int*>(data) = kProtocolVersion;
                break;
            case SNDRV_SEQ_IOCTL_USER_PVERSION:
                break;
            case SNDRV_SEQ_IOCTL_CLIENT_ID:
                *static_cast<int*>(data) = self;
                break;
            case SNDRV_SEQ_IOCTL_SYSTEM_INFO: {
                auto& info = *static_cast<snd_seq_system_info*>(data);
                std::memset(&info, 0, sizeof info);
                info.queues = 32;
                info.clients = kMaxClients;
                info.ports = kMaxPorts;
                info.channels = 256;
                info.cur_clients = static_cast<int>(mClients.size());
                break;
            }
            case SNDRV_SEQ_IOCTL_RUNNING_MODE: {
                const auto& info = *static_cast<const snd_seq_running_info*>(data);
                if (!mClients.contains(info.client))
                    result = -ENOENT;
                else if (info.big_endian || info.cpu_mode > sizeof(long))
                    result = -EINVAL;
                break;
            }
            case SNDRV_SEQ_IOCTL_GET_CLIENT_INFO: {
                auto& info = *static_cast<snd_seq_client_info*>(data);
                if (!mClients.contains(info.client))
                    result = -ENOENT;
                else
                    fillClient(info.client, info);
                break;
            }
            case SNDRV_SEQ_IOCTL_SET_CLIENT_INFO: {
                const auto& info = *static_cast<const snd_seq_client_info*>(data);
                Client& client = mClients.at(self);
                if (info.client != self)
                    result = -EPERM;
                else if (info.type != client.type)
                    result = -EINVAL;
                else {
                    if (info.name[0])
                        client.name = ReadName(info.name, sizeof info.name);
                    client.filter = info.filter;
                }
                break;
            }
            case SNDRV_SEQ_IOCTL_CREATE_PORT: {
                auto& info = *static_cast<snd_seq_port_info*>(data);
                Client& client = mClients.at(self);
                if (info.addr.client != self) {
                    result = -EPERM;
                    break;
                }
                if (info.kernel) {
                    result = -EINVAL;
                    break;
                }
                int number = 0;
                if (info.flags & SNDRV_SEQ_PORT_FLG_GIVEN_PORT) {
                    number = info.addr.port;
                } else {
                    while (client.ports.contains(number))
                        ++number;
                }
                if (number >= kMaxPorts || client.ports.contains(number)) {
                    result = -ENOMEM;
                    break;
                }
                client.ports[number] = EmulatedPort{number, ReadName(info.name, sizeof info.name), info.capability};
                info.addr.port = static_cast<unsigned char>(number);
                break;
            }
            case SNDRV_SEQ_IOCTL_DELETE_PORT: {
                const auto& info = *static_cast<const snd_seq_port_info*>(data);
                if (info.addr.client != self)
                    result = -EPERM;
                else if (mClients.at(self).ports.erase(info.addr.port) == 0)
                    result = -ENOENT;
                break;
            }
            case SNDRV_SEQ_IOCTL_GET_PORT_INFO: {
                auto& info = *static_cast<snd_seq_port_info*>(data);
                const auto client = mClients.find(info.addr.client);
                if (client == mClients.end())
                    result = -ENXIO;
                else if (const auto port = client->second.ports.find(info.addr.port); port == client->second.ports.end())
                    result = -ENOENT;
                else
                    fillPort(client->first, port->second, info);
                break;
            }
            case SNDRV_SEQ_IOCTL_QUERY_NEXT_CLIENT: {
                auto& info = *static_cast<snd_seq_client_info*>(data);
                const auto next = mClients.upper_bound(std::max(info.client, -1));
                if (next == mClients.end())
                    result = -ENOENT;
                else
                    fillClient(next->first, info);
                break;
            }
            case SNDRV_SEQ_IOCTL_QUERY_NEXT_PORT: {
                auto& info = *static_cast<snd_seq_port_info*>(data);
                const auto client = mClients.find(info.addr.client);
                if (client == mClients.end()) {
                    result = -ENXIO;
                    break;
                }
                // The port field is unsigned: alsa-lib's -1 reads as 255, and the kernel then
                // starts the walk at port 0.
                const int after = info.addr.port == 255 ? -1 : info.addr.port;
                const auto next = client->second.ports.upper_bound(after);
                if (next == client->second.ports.end())
                    result = -ENOENT;
                else
                    fillPort(client->first, next->second, info);
                break;
            }
            case SNDRV_SEQ_IOCTL_GET_CLIENT_POOL: {
                auto& info = *static_cast<snd_seq_client_pool*>(data);
                const auto client = mClients.find(info.client);
                if (client == mClients.end()) {
                    result = -ENOENT;
                    break;
                }
                std::memset(reinterpret_cast<char*>(&info) + sizeof info.client, 0, sizeof info - sizeof info.client);
                info.output_pool = client->second.outputPool;
                info.input_pool = client->second.inputPool;
                info.output_room = client->second.outputRoom;
                info.output_free = client->second.outputPool;
                info.input_free = client->second.inputPool;
                break;
            }
            case SNDRV_SEQ_IOCTL_SET_CLIENT_POOL: {
                const auto& info = *static_cast<const snd_seq_client_pool*>(data);
                if (info.client != self) {
                    result = -EINVAL;
                    break;
                }
                Client& client = mClients.at(self);
                if (info.output_pool >= 1 && info.output_pool <= 16384)
                    client.outputPool = info.output_pool;
                if (info.output_room >= 1 && info.output_room <= client.outputPool)
                    client.outputRoom = info.output_room;
                if (info.input_pool >= 1 && info.input_pool <= 16384)
                    client.inputPool = info.input_pool;
                break;
            }
            default:
                // Queues, subscriptions and event removal are not used by the updater.
                result = -ENOTTY;
                break;
            }
        }
    }
    g_object_unref(arg);
    umockdev_ioctl_client_complete(node, result < 0 ? -1 : result, result < 0 ? -result : 0);
    return true;
}

bool CEmulatedAlsaSequencer::HandleWrite(UMockdevIoctlClient* node)
{
    UMockdevIoctlData* arg = umockdev_ioctl_client_get_arg(node);
    const std::uint8_t* buffer = arg->data;
    std::size_t count = static_cast<std::size_t>(arg->data_len);
    std::vector<DeliveredEvent> delivered;
    std::function<void(const DeliveredEvent&)> handler;
    long written = 0;
    int error = -EINVAL;
    {
        std::lock_guard lock(mMutex);
        const int self = ClientOf(node);
        if (self < 0) {
            error = -ENODEV;
        } else if (mRefuseWrites > 0) {
            --mRefuseWrites;
            ++mRefused;
            error = -mRefuseError;
        } else {
            // Whole events only, as the kernel's write: a short tail is left for the next write.
            while (count >= sizeof(snd_seq_event)) {
                snd_seq_event event;
                std::memcpy(&event, buffer, sizeof event);
                std::size_t length = sizeof event;
                const unsigned lengthType = event.flags & SNDRV_SEQ_EVENT_LENGTH_MASK;
                const unsigned extLength = event.data.ext.len & ~kExtLengthFlags;
                const bool lengthOk = lengthType == SNDRV_SEQ_EVENT_LENGTH_FIXED      ? !IsVariableType(event.type)
                                      : lengthType == SNDRV_SEQ_EVENT_LENGTH_VARIABLE ? IsVariableType(event.type) &&
                                                                                            extLength < kMaxEventLength
                                                                                      : false;
                if (!lengthOk || IsReservedType(event.type)) {
                    error = -EINVAL;
                    break;
                }
                DeliveredEvent record{.sourceClient = self, .sourcePort = event.source.port,
                                      .destClient = event.dest.client, .destPort = event.dest.port, .type = event.type,
                                      .flags = event.flags, .queue = event.queue, .data = {}};
                if (lengthType == SNDRV_SEQ_EVENT_LENGTH_VARIABLE) {
                    if (extLength + sizeof event > count) {
                        error = -EINVAL;
                        break;
                    }
                    record.data.assign(buffer + sizeof event, buffer + sizeof event + extLength);
                    length += extLength;
                } else {
                    const auto* raw = reinterpret_cast<const std::uint8_t*>(&event.data);
                    record.data.assign(raw, raw + sizeof event.data);
                }
                if (event.type != SNDRV_SEQ_EVENT_NONE) {
                    const int result = Deliver(record);
                    if (result < 0) {
                        error = result;
                        break;
                    }
                    if (result > 0)
                        delivered.push_back(record);
                }
                count -= length;
                buffer += length;
                written += static_cast<long>(length);
            }
        }
        handler = mDeliveryHandler;
    }
    if (handler) {
        for (const DeliveredEvent& event : delivered)
            handler(event);
    }
    if (written > 0)
        umockdev_ioctl_client_complete(node, written, 0);
    else
        umockdev_ioctl_client_complete(node, -1, -error);
    return true;
}

int CEmulatedAlsaSequencer::Deliver(const DeliveredEvent& event)
{
    // Only direct dispatch is served: a queued event needs a queue, which nobody allocated.
    if (event.queue != kDirectQueue && event.queue != SNDRV_SEQ_ADDRESS_SUBSCRIBERS)
        return -EINVAL;
    // To the source port's subscribers: the updater's port has none, so the event reaches nobody.
    if (event.queue == SNDRV_SEQ_ADDRESS_SUBSCRIBERS || event.destClient == SNDRV_SEQ_ADDRESS_SUBSCRIBERS)
        return 0;
    const auto client = mClients.find(event.destClient);
    if (client == mClients.end())
        return -ENOENT;
    const auto port = client->second.ports.find(event.destPort);
    if (port == client->second.ports.end())
        return -ENOENT;
    if ((port->second.capability & kCapWrite) == 0)
        return -EPERM;
    mDelivered.push_back(event);
    return 1;
}

} // namespace SequencerTest
