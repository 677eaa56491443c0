#include "Simulator/SimulatorStateFile.h"

#include "Simulator/FirmwareVersionRecord.h"
#include "Simulator/SimulatedDevice.h"
#include "Simulator/SimulatedFlash.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <exception>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <span>

namespace {

constexpr char kMagic[8] = {'X', 'R', 'S', 'I', 'M', 'S', 'T', '1'};

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

} // namespace

std::vector<CSimulatorStateFile::Device> CSimulatorStateFile::Capture(LDeviceSimulator& simulator)
{
    std::vector<Device> devices;
    for (const ZT::RCPtr<LSimulatedDevice>& simulated : simulator.GetDevices()) {
        Device device;
        device.Kind = simulated->GetKind();
        const SimulatedDeviceMode mode = simulated->GetMode();
        // A device on its way into the bootloader arrives there; one on its way back from it
        // starts from its flash like any other.
        device.InBootloader = mode == SimulatedDeviceMode::Bootloader || mode == SimulatedDeviceMode::SwitchingToBootloader;
        const std::vector<std::uint8_t> flash = simulated->GetFlashDump();
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
                                                                       const std::vector<Device>& devices)
{
    std::vector<ZT::RCPtr<LSimulatedDevice>> restored;
    for (const Device& device : devices) {
        // Made in its bootloader with an empty flash, then given its flash: programming does not
        // restart it, so it stays in the bootloader unless it is to power up from its flash.
        ZT::RCPtr<LSimulatedDevice> simulated = simulator.AddDevice(device.Kind, std::nullopt);
        for (const Page& page : device.Pages)
            (void)simulated->ProgramFlash(page.Address, page.Bytes); // checked when decoded
        if (!device.InBootloader) {
            simulated->Unplug();
            simulated->Plug();
        }
        restored.push_back(std::move(simulated));
    }
    return restored;
}

std::vector<std::uint8_t> CSimulatorStateFile::Encode(const std::vector<Device>& devices)
{
    std::vector<std::uint8_t> out(std::begin(kMagic), std::end(kMagic));
    PutU32(out, static_cast<std::uint32_t>(devices.size()));
    for (const Device& device : devices) {
        out.push_back(device.Kind == SimulatedDeviceKind::Controller ? 0 : 1);
        out.push_back(device.InBootloader ? 1 : 0);
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
    if (bytes.size() < sizeof(kMagic) + 8 || std::memcmp(bytes.data(), kMagic, sizeof(kMagic)) != 0) {
        error = "not a simulator state file";
        return std::nullopt;
    }
    const std::span<const std::uint8_t> body(bytes.data(), bytes.size() - 4);
    Reader crcReader(std::span<const std::uint8_t>(bytes).subspan(bytes.size() - 4));
    std::uint32_t storedCrc = 0;
    (void)crcReader.U32(storedCrc);
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
        std::uint8_t inBootloader = 0;
        std::uint32_t pageCount = 0;
        if (!reader.U8(kind) || !reader.U8(inBootloader) || !reader.U32(pageCount) || kind > 1 || inBootloader > 1 ||
            pageCount > LSimulatedFlash::kSize / kPageSize) {
            error = "bad device record " + std::to_string(d);
            return std::nullopt;
        }
        device.Kind = kind == 0 ? SimulatedDeviceKind::Controller : SimulatedDeviceKind::WheelDisplay;
        device.InBootloader = inBootloader == 1;
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
    const std::vector<std::uint8_t> bytes = Encode(devices);
    const std::string temporary = path + ".tmp";
    {
        std::ofstream file(temporary, std::ios::binary | std::ios::trunc);
        if (!file) {
            error = "cannot create " + temporary + ": " + std::strerror(errno);
            return false;
        }
        file.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
        file.flush();
        if (!file) {
            error = "cannot write " + temporary;
            std::remove(temporary.c_str());
            return false;
        }
    }
    if (std::rename(temporary.c_str(), path.c_str()) != 0) {
        error = "cannot replace " + path + ": " + std::strerror(errno);
        std::remove(temporary.c_str());
        return false;
    }
    return true;
}

std::optional<std::vector<CSimulatorStateFile::Device>> CSimulatorStateFile::Read(const std::string& path,
                                                                                  std::string& error)
{
    std::error_code fileError;
    if (!std::filesystem::is_regular_file(path, fileError)) {
        error = path + " is no file";
        return std::nullopt;
    }
    std::ifstream file(path, std::ios::binary);
    if (!file) {
        error = "cannot open " + path + ": " + std::strerror(errno);
        return std::nullopt;
    }
    std::vector<std::uint8_t> bytes;
    try {
        bytes.assign(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
    } catch (const std::exception& readError) {
        error = "cannot read " + path + ": " + readError.what();
        return std::nullopt;
    }
    if (file.bad()) {
        error = "cannot read " + path;
        return std::nullopt;
    }
    std::optional<std::vector<Device>> devices = Decode(bytes, error);
    if (!devices)
        error = path + ": " + error;
    return devices;
}
