#include "Simulator/SimulatorStateFile.h"

#include "Simulator/FirmwareVersionRecord.h"
#include "Simulator/SimulatedDevice.h"
#include "Simulator/SimulatedFlash.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <span>

#include <fcntl.h>
#include <grp.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr char kMagic[8] = {'X', 'R', 'S', 'I', 'M', 'S', 'T', '2'};
constexpr char kOldMagic[8] = {'X', 'R', 'S', 'I', 'M', 'S', 'T', '1'};
constexpr std::size_t kDeviceHeaderSize = 12;
// The largest file Encode can make: every page of every device kept.
constexpr std::size_t kMaxFileSize =
    sizeof(kMagic) + 4 +
    CSimulatorStateFile::kMaxDevices *
        (kDeviceHeaderSize + (LSimulatedFlash::kSize / CSimulatorStateFile::kPageSize) * (4 + CSimulatorStateFile::kPageSize)) +
    4;
// Tries at a name for the new file before Write gives up (another writer, or names left behind).
constexpr int kTemporaryNameAttempts = 100;

void PutU32(std::vector<std::uint8_t>& out, std::uint32_t value)
{
    for (int shift = 0; shift < 32; shift += 8)
        out.push_back(static_cast<std::uint8_t>(value >> shift));
}

// Reads through the bytes front to back; every read fails once the bytes run out.
class Reader {
public:
    explicit Reader(std::span<const std::uint8_t> bytes) : mBytes(bytes) {}

    bool U8(std::uint8_t& value)
    {
        if (mBytes.size() - mOffset < 1)
            return false;
        value = mBytes[mOffset++];
        return true;
    }
    bool U32(std::uint32_t& value)
    {
        if (mBytes.size() - mOffset < 4)
            return false;
        value = 0;
        for (int i = 0; i < 4; ++i)
            value |= static_cast<std::uint32_t>(mBytes[mOffset + static_cast<std::size_t>(i)]) << (8 * i);
        mOffset += 4;
        return true;
    }
    bool Take(std::size_t count, std::span<const std::uint8_t>& out)
    {
        if (mBytes.size() - mOffset < count)
            return false;
        out = mBytes.subspan(mOffset, count);
        mOffset += count;
        return true;
    }
    [[nodiscard]] std::size_t Left() const { return mBytes.size() - mOffset; }

private:
    std::span<const std::uint8_t> mBytes;
    std::size_t mOffset = 0;
};

bool IsErased(std::span<const std::uint8_t> bytes)
{
    return std::all_of(bytes.begin(), bytes.end(), [](std::uint8_t b) { return b == 0xFF; });
}

std::string SystemError(const std::string& what, int error)
{
    return what + ": " + std::strerror(error);
}

const char* FileTypeName(mode_t mode)
{
    if (S_ISLNK(mode))
        return "a symbolic link";
    if (S_ISFIFO(mode))
        return "a FIFO";
    if (S_ISCHR(mode) || S_ISBLK(mode))
        return "a device node";
    if (S_ISDIR(mode))
        return "a folder";
    if (S_ISSOCK(mode))
        return "a socket";
    return "no regular file";
}

bool InGroup(gid_t group)
{
    if (getegid() == group)
        return true;
    const int count = getgroups(0, nullptr);
    if (count <= 0)
        return false;
    std::vector<gid_t> groups(static_cast<std::size_t>(count));
    const int got = getgroups(count, groups.data());
    return got > 0 && std::find(groups.begin(), groups.begin() + got, group) != groups.begin() + got;
}

// Whether the file's permission bits let this process write it. Deliberately no exception for
// the superuser: a read-only file is not the simulator's to replace.
bool MayWrite(const struct stat& status)
{
    if (status.st_uid == geteuid())
        return (status.st_mode & S_IWUSR) != 0;
    if (InGroup(status.st_gid))
        return (status.st_mode & S_IWGRP) != 0;
    return (status.st_mode & S_IWOTH) != 0;
}

bool WriteAll(int fd, std::span<const std::uint8_t> bytes, int& error)
{
    while (!bytes.empty()) {
        const ssize_t written = ::write(fd, bytes.data(), bytes.size());
        if (written < 0) {
            if (errno == EINTR)
                continue;
            error = errno;
            return false;
        }
        bytes = bytes.subspan(static_cast<std::size_t>(written));
    }
    return true;
}

// A name beside path that no file has yet, created exclusively (links are never followed);
// -1 with error set when none could be made.
int CreateTemporary(const std::string& path, std::string& temporary, int& error)
{
    static std::atomic<std::uint32_t> counter{0};
    for (int attempt = 0; attempt < kTemporaryNameAttempts; ++attempt) {
        temporary = path + ".tmp-" + std::to_string(::getpid()) + "-" + std::to_string(counter.fetch_add(1));
        const int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
        if (fd >= 0)
            return fd;
        if (errno != EEXIST) {
            error = errno;
            return -1;
        }
    }
    error = EEXIST;
    return -1;
}

} // namespace

std::vector<CSimulatorStateFile::Device> CSimulatorStateFile::Capture(LDeviceSimulator& simulator)
{
    std::vector<Device> devices;
    for (const ZT::RCPtr<LSimulatedDevice>& simulated : simulator.GetDevices()) {
        Device device;
        device.Kind = simulated->GetKind();
        const SimulatedDeviceSnapshot snapshot = simulated->TakeSnapshot();
        switch (snapshot.Mode) {
        case SimulatedDeviceMode::Application:
        case SimulatedDeviceMode::Restarting:
            device.State = Power::Running;
            break;
        case SimulatedDeviceMode::SwitchingToBootloader: // taken as arrived by the snapshot
        case SimulatedDeviceMode::Bootloader:
            device.State = Power::Bootloader;
            device.Bootloader = snapshot.Bootloader;
            break;
        case SimulatedDeviceMode::Unplugged:
            device.State = Power::PoweredOff;
            break;
        case SimulatedDeviceMode::RunningBrokenImage:
            device.State = Power::RunningBrokenImage;
            break;
        }
        const std::vector<std::uint8_t>& flash = snapshot.Flash;
        for (std::size_t offset = 0; offset + kPageSize <= flash.size(); offset += kPageSize) {
            const std::span<const std::uint8_t> page(flash.data() + offset, kPageSize);
            if (IsErased(page))
                continue;
            device.Pages.push_back(
                Page{LSimulatedFlash::kBaseAddress + static_cast<std::uint32_t>(offset), {page.begin(), page.end()}});
        }
        devices.push_back(std::move(device));
    }
    return devices;
}

std::vector<ZT::RCPtr<LSimulatedDevice>> CSimulatorStateFile::Restore(LDeviceSimulator& simulator,
                                                                       const std::vector<Device>& devices,
                                                                       const SimulatedDeviceFaults& controllerFaults,
                                                                       const SimulatedDeviceFaults& displayFaults)
{
    std::vector<ZT::RCPtr<LSimulatedDevice>> restored;
    for (const Device& device : devices) {
        // Made in its bootloader with an empty flash, then given its flash: programming does not
        // restart it, so it is then put where the file says it stood.
        ZT::RCPtr<LSimulatedDevice> simulated = simulator.AddDevice(device.Kind, std::nullopt);
        // Its faults before it powers up: they decide how its boot code treats the kept flash.
        simulated->SetFaults(device.Kind == SimulatedDeviceKind::Controller ? controllerFaults : displayFaults);
        for (const Page& page : device.Pages)
            (void)simulated->ProgramFlash(page.Address, page.Bytes); // checked when decoded
        switch (device.State) {
        case Power::Running:
        case Power::PoweredOff:
            simulated->Unplug();
            simulated->Plug();
            break;
        case Power::Bootloader:
            (void)simulated->ResumeBootloader(device.Bootloader); // a resting state, checked when decoded
            break;
        case Power::RunningBrokenImage:
            simulated->ResumeBrokenImage();
            break;
        }
        restored.push_back(std::move(simulated));
    }
    return restored;
}

void CSimulatorStateFile::CutPower(std::vector<Device>& devices)
{
    for (Device& device : devices) {
        device.State = Power::PoweredOff;
        device.Bootloader = DfuSeSession{};
    }
}

std::vector<std::uint8_t> CSimulatorStateFile::Encode(const std::vector<Device>& devices)
{
    std::vector<std::uint8_t> out(std::begin(kMagic), std::end(kMagic));
    PutU32(out, static_cast<std::uint32_t>(devices.size()));
    for (const Device& device : devices) {
        out.push_back(device.Kind == SimulatedDeviceKind::Controller ? 0 : 1);
        out.push_back(static_cast<std::uint8_t>(device.State));
        out.push_back(static_cast<std::uint8_t>(device.Bootloader.State));
        out.push_back(static_cast<std::uint8_t>(device.Bootloader.Status));
        PutU32(out, device.Bootloader.AddressPointer);
        PutU32(out, static_cast<std::uint32_t>(device.Pages.size()));
        for (const Page& page : device.Pages) {
            PutU32(out, page.Address);
            out.insert(out.end(), page.Bytes.begin(), page.Bytes.end());
        }
    }
    PutU32(out, VersionRecordCrc32(out));
    return out;
}

std::optional<std::vector<CSimulatorStateFile::Device>> CSimulatorStateFile::Decode(
    const std::vector<std::uint8_t>& bytes, std::string& error)
{
    if (bytes.size() >= sizeof(kOldMagic) && std::memcmp(bytes.data(), kOldMagic, sizeof(kOldMagic)) == 0) {
        error = "a state file of an earlier format (XRSIMST1), which did not keep the bootloaders' DFU states";
        return std::nullopt;
    }
    if (bytes.size() < sizeof(kMagic) + 8 || std::memcmp(bytes.data(), kMagic, sizeof(kMagic)) != 0) {
        error = "not a simulator state file";
        return std::nullopt;
    }
    const std::span<const std::uint8_t> body(bytes.data(), bytes.size() - 4);
    Reader crcReader(std::span<const std::uint8_t>(bytes).subspan(bytes.size() - 4));
    std::uint32_t storedCrc = 0;
    (void)crcReader.U32(storedCrc); // four bytes, there by the size check above
    if (VersionRecordCrc32(body) != storedCrc) {
        error = "the checksum does not match (the file is damaged)";
        return std::nullopt;
    }

    Reader reader(body.subspan(sizeof(kMagic)));
    std::uint32_t deviceCount = 0;
    if (!reader.U32(deviceCount) || deviceCount > kMaxDevices) {
        error = "bad device count";
        return std::nullopt;
    }
    std::vector<Device> devices;
    for (std::uint32_t d = 0; d < deviceCount; ++d) {
        Device device;
        std::uint8_t kind = 0;
        std::uint8_t power = 0;
        std::uint8_t dfuState = 0;
        std::uint8_t dfuStatus = 0;
        std::uint32_t pageCount = 0;
        if (!reader.U8(kind) || !reader.U8(power) || !reader.U8(dfuState) || !reader.U8(dfuStatus) ||
            !reader.U32(device.Bootloader.AddressPointer) || !reader.U32(pageCount) || kind > 1 ||
            power > static_cast<std::uint8_t>(Power::RunningBrokenImage) ||
            dfuState > static_cast<std::uint8_t>(ZT::DfuState::DfuError) ||
            !DfuSeSession::IsRestingState(static_cast<ZT::DfuState>(dfuState)) ||
            dfuStatus > static_cast<std::uint8_t>(ZT::DfuStatus::ErrStalledPkt) ||
            pageCount > LSimulatedFlash::kSize / kPageSize) {
            error = "bad device record " + std::to_string(d);
            return std::nullopt;
        }
        device.Kind = kind == 0 ? SimulatedDeviceKind::Controller : SimulatedDeviceKind::WheelDisplay;
        device.State = static_cast<Power>(power);
        device.Bootloader.State = static_cast<ZT::DfuState>(dfuState);
        device.Bootloader.Status = static_cast<ZT::DfuStatus>(dfuStatus);
        for (std::uint32_t p = 0; p < pageCount; ++p) {
            Page page;
            std::span<const std::uint8_t> data;
            if (!reader.U32(page.Address) || !reader.Take(kPageSize, data)) {
                error = "the file ends inside device " + std::to_string(d);
                return std::nullopt;
            }
            if (!LSimulatedFlash::Contains(page.Address, kPageSize) ||
                (!device.Pages.empty() && page.Address <= device.Pages.back().Address)) {
                error = "bad page address in device " + std::to_string(d);
                return std::nullopt;
            }
            page.Bytes.assign(data.begin(), data.end());
            device.Pages.push_back(std::move(page));
        }
        devices.push_back(std::move(device));
    }
    if (reader.Left() != 0) {
        error = "unexpected bytes after the last device";
        return std::nullopt;
    }
    return devices;
}

bool CSimulatorStateFile::Write(const std::string& path, const std::vector<Device>& devices, std::string& error)
{
    struct stat existing {};
    bool exists = false;
    if (::lstat(path.c_str(), &existing) == 0) {
        exists = true;
        if (!S_ISREG(existing.st_mode)) {
            error = "not writing " + path + ": it is " + FileTypeName(existing.st_mode) + ", not a regular file";
            return false;
        }
        if (!MayWrite(existing)) {
            error = "not writing " + path + ": its permissions do not let this user write it";
            return false;
        }
    } else if (errno != ENOENT) {
        error = SystemError("cannot examine " + path, errno);
        return false;
    }

    const std::vector<std::uint8_t> bytes = Encode(devices);
    std::string temporary;
    int systemError = 0;
    const int fd = CreateTemporary(path, temporary, systemError);
    if (fd < 0) {
        error = SystemError("cannot create a new file beside " + path, systemError);
        return false;
    }
    // From here on the new file is ours (created exclusively) and is removed on every failure.
    const auto fail = [&](const std::string& what, int number) {
        ::close(fd);
        ::unlink(temporary.c_str());
        error = SystemError(what, number);
        return false;
    };
    if (!WriteAll(fd, bytes, systemError))
        return fail("cannot write " + temporary, systemError);
    if (exists && ::fchmod(fd, existing.st_mode & 07777) != 0)
        return fail("cannot give " + temporary + " the permissions of " + path, errno);
    if (::fsync(fd) != 0)
        return fail("cannot write " + temporary + " to disk", errno);
    if (::close(fd) != 0) {
        const int number = errno;
        ::unlink(temporary.c_str());
        error = SystemError("cannot write " + temporary, number);
        return false;
    }

    // What was examined must still be there: something swapped in since (a link, a FIFO) would
    // be replaced by the rename.
    struct stat now {};
    const bool same = exists ? ::lstat(path.c_str(), &now) == 0 && S_ISREG(now.st_mode) &&
                                   now.st_dev == existing.st_dev && now.st_ino == existing.st_ino
                             : ::lstat(path.c_str(), &now) != 0 && errno == ENOENT;
    if (!same) {
        ::unlink(temporary.c_str());
        error = "not writing " + path + ": it changed while the new file was being written";
        return false;
    }
    if (::rename(temporary.c_str(), path.c_str()) != 0) {
        const int number = errno;
        ::unlink(temporary.c_str());
        error = SystemError("cannot replace " + path, number);
        return false;
    }
    return true;
}

std::optional<std::vector<CSimulatorStateFile::Device>> CSimulatorStateFile::Read(const std::string& path,
                                                                                  std::string& error)
{
    // O_NONBLOCK: opening a FIFO must not wait for a writer; O_NOFOLLOW: a link is not the file.
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) {
        error = errno == ELOOP ? path + " is a symbolic link, not a state file" : SystemError("cannot open " + path, errno);
        return std::nullopt;
    }
    struct stat status {};
    if (::fstat(fd, &status) != 0 || !S_ISREG(status.st_mode)) {
        error = path + " is " + (S_ISREG(status.st_mode) ? std::string("unreadable") : FileTypeName(status.st_mode)) +
                ", not a state file";
        ::close(fd);
        return std::nullopt;
    }
    if (static_cast<std::uint64_t>(status.st_size) > kMaxFileSize) {
        error = path + " is larger than any state file";
        ::close(fd);
        return std::nullopt;
    }
    std::vector<std::uint8_t> bytes(static_cast<std::size_t>(status.st_size));
    std::size_t got = 0;
    while (got < bytes.size()) {
        const ssize_t count = ::read(fd, bytes.data() + got, bytes.size() - got);
        if (count < 0 && errno == EINTR)
            continue;
        if (count < 0) {
            error = SystemError("cannot read " + path, errno);
            ::close(fd);
            return std::nullopt;
        }
        if (count == 0)
            break;
        got += static_cast<std::size_t>(count);
    }
    ::close(fd);
    bytes.resize(got); // a file that shrank while read is judged by what was there
    std::optional<std::vector<Device>> devices = Decode(bytes, error);
    if (!devices)
        error = path + ": " + error;
    return devices;
}
