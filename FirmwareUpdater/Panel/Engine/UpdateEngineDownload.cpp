// LUpdateEngine's DfuSe download: the first image element of the firmware file goes into the
// selected device, which already runs its DFU bootloader.
//
// The run, on the engine's worker thread:
//   1. read the firmware file whole, once, and check those bytes against the target's erase list
//      and device (CFirmwareFileCheck) before the USB connection is opened: a refused file sends
//      no request at all;
//   2. serve the checked bytes as 2048-byte blocks and open the bootloader's USB path;
//   3. bring the bootloader's DFU state machine to dfuIDLE: wait out an operation it is still
//      busy with, then one CLRSTATUS in dfuERROR or one ABORT in the states an ABORT ends (a run
//      that was killed leaves dfuDNLOAD-IDLE behind);
//   4. erase, in the order of the target's erase list (copied at the start of the run), the
//      sectors that start inside the element;
//   5. write the element, its first block last (blocks 1 .. last, then 0): a set-address command
//      before block 1, before a last block shorter than 2048 bytes and before block 0, each block
//      numbered from 2 after its set-address command. Until block 0 is written the image's first
//      word stays erased, so a cut download never leaves an image a boot code would start;
//   6. point the bootloader at the element's start (a ROM that jumps to its address pointer then
//      starts the application) and ask it to leave DFU mode; find the device again and report
//      success.
// Once the first erase request has gone out, the flash no longer holds a whole image: a cancel
// or a failure from then on never sends the leave request. The device stays in its bootloader,
// where the next run finds it and finishes the update. A cancel before that point ends as a
// cancel always did: leave, then ABORT.
// Progress runs from 0 to just under kEraseShare over the erase list and from kEraseShare to just
// under 1 over the blocks (LFirmwareUpdateProgressNotificationData). The device restarts about 1.2 s after the leave request; RefreshDevice here sees it
// as it is at that moment, and WaitForDeviceToReturn is the wait for it to come back.
//
// No request is retried. The repetitions are status polls: up to 20 for a written block, 10 ms
// apart; for a DfuSe command and for an operation the bootloader was still busy with at the
// start, the wait the device asks for in its reply (at most 5 s each, 10 s in all). Every wait
// goes through ZT::GetClock(). Any failed request, failed block read, unexpected DFU state or, after
// a command or block, a status other than OK ends the run with the reason DeviceAccessFailure; the
// engine's failure record (CUpdateFailure, carried by the completion) says where it broke, as does
// one line on the debug output. A request the bootloader stalls is followed by one status request,
// which only reads why.

#include "FirmwareUpdater/Panel/Engine/UpdateEngine.h"

#include "FirmwareUpdater/Panel/Engine/BootloaderRoleRecord.h"
#include "FirmwareUpdater/Panel/Engine/DfuSeFirmwareFile.h"
#include "FirmwareUpdater/Panel/Engine/FirmwareFileCheck.h"
#include "FirmwareUpdater/Panel/Engine/FirmwareUpdateProgressNotificationData.h"
#include "FirmwareUpdater/Panel/Engine/ProductDevice.h"
#include "FirmwareUpdater/Panel/Engine/UpdateTarget.h"
#include "FirmwareUpdater/Panel/Engine/UsbConnection.h"
#include "FirmwareUpdater/Panel/Engine/WaitForDeviceToReturn.h"
#include "ZTFramework/Debug/DebugLine.h"
#include "ZTFramework/Time/Clock.h"
#include "ZTFramework/Usb/Dfu.h"
#include "ZTFramework/Usb/UsbError.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <exception>
#include <functional>
#include <span>
#include <vector>
#include <string>

namespace {

using DeviceState = LUpdateEngineInterface::DeviceState;
using FirmwareFileState = LUpdateEngineInterface::FirmwareFileState;
using DeviceErrorReason = LUpdateEngineInterface::DeviceErrorReason;
using UpdateRunState = LUpdateEngineInterface::UpdateRunState;
using StatusReply = UsbConnection::StatusReply;
using ZT::DfuState;

// The transfer size the bootloader places blocks by: block n lands at (n - 2) x 2048 + the
// address pointer.
constexpr std::uint16_t kBlockSize = 2048;
// DfuSe commands travel as DNLOAD block 0; data blocks are numbered from 2.
constexpr std::uint16_t kCommandBlockNumber = 0;
constexpr std::uint16_t kFirstDataBlockNumber = 2;
// Between the two status requests of an erase, and between the status polls of a block.
constexpr std::uint32_t kStatusPollWaitMs = 10;
// Status polls after the first status request of a block before the block counts as failed.
constexpr std::uint32_t kBlockStatusPollLimit = 20;
// While a DfuSe command (or, at the start, an earlier run's operation) keeps the bootloader in
// dfuDNBUSY: the longest single wait a reply's poll time-out may ask for, and the most waited in
// all. A 128 KiB sector erase takes up to about 2 s.
constexpr std::uint32_t kBusyPollWaitLimitMs = 5000;
constexpr std::uint32_t kBusyTotalWaitLimitMs = 10000;
using ProgressData = ZT::LFirmwareUpdateProgressNotificationData;
constexpr double kEraseShare = ProgressData::kEraseShare;

// What every step of one run works with.
struct DownloadRun {
    UsbConnection& Usb;
    LDfuSeFirmwareFile& File;
    // The one buffer for every request's payload: a command or a block.
    std::array<std::uint8_t, kBlockSize>& Buffer;
    std::function<bool()> CancelRequested;
    std::function<void(double fraction)> PostProgress;
    // The target's erase list as it was when the run began.
    const EraseList& Sectors;
    // "0483:DF11 at /dev/bus/usb/001/012", for log lines.
    std::string Device;
    // Set when the first erase request is sent: from then on the flash holds no whole image.
    bool EraseRequested = false;
    // How long the last status request took to be answered, in milliseconds.
    std::uint64_t LastStatusMs = 0;
    // Where the run stands (each step sets it as it begins) and, once something failed, why.
    CUpdateFailure Failure;
};

enum class PhaseEnd {
    Completed,
    Cancelled,
    DeviceFailed,
};

std::string Hex32(std::uint32_t value)
{
    char text[16];
    std::snprintf(text, sizeof text, "0x%08X", static_cast<unsigned>(value));
    return text;
}

std::string Hex8(std::uint8_t value)
{
    char text[8];
    std::snprintf(text, sizeof text, "0x%02X", static_cast<unsigned>(value));
    return text;
}

std::string DescribeDevice(const LUpdateEngine::DeviceDefinitionEx& record)
{
    char ids[16];
    std::snprintf(ids, sizeof ids, "%04X:%04X", static_cast<unsigned>(record.BootloaderVendorId),
                  static_cast<unsigned>(record.BootloaderProductId));
    return std::string(ids) + " at " + (record.UpdateModePath.IsEmpty() ? "(no path)" : record.UpdateModePath.ToUTF8());
}

// "dfuERROR (errUNKNOWN)"; a byte DFU does not define also shows its number, "unknown DFU state
// 0xFF (OK)", as a short or garbled reply gives it.
std::string DescribeStatus(const StatusReply& status)
{
    std::string text = ZT::ToString(status.State);
    if (static_cast<std::uint8_t>(status.State) > static_cast<std::uint8_t>(DfuState::DfuError))
        text += " " + Hex8(static_cast<std::uint8_t>(status.State));
    text += std::string(" (") + ZT::ToString(status.Status);
    if (static_cast<std::uint8_t>(status.Status) > static_cast<std::uint8_t>(ZT::DfuStatus::ErrStalledPkt))
        text += " " + Hex8(static_cast<std::uint8_t>(status.Status));
    return text + ")";
}

// Writes the one line a failed run leaves, "Engine: download to 0483:DF11 at /dev/... failed while
// erasing the sector at 0x08010000: second status request: Pipe", and gives false for the caller
// to return. NotOpen names a request attempted on a closed connection; every other reason is the
// device's or the bus's.
bool FailedRequest(DownloadRun& run, const std::string& step, const char* request)
{
    const ZT::UsbError error = run.Usb.GetLastError();
    ZT::CDebugLine() << "Engine: download to " << run.Device << " failed while " << step << ": " << request
                     << ": " << ZT::UsbErrorName(error);
    run.Failure.Detail += (run.Failure.Detail.empty() ? "" : ": ") + std::string(request);
    run.Failure.Usb = error;
    // A stall puts the bootloader into dfuERROR with the reason in its status: one status request
    // reads it. Nothing is asked of a device that did not answer.
    StatusReply status;
    if (error == ZT::UsbError::Pipe && run.Usb.GetStatus(status) == ZT::UsbError::None) {
        run.Failure.State = status.State;
        run.Failure.Status = status.Status;
    }
    return false;
}

// "...: status request: dfuERROR (errUNKNOWN) where dfuIDLE was expected".
bool UnexpectedState(DownloadRun& run, const std::string& step, const std::string& request,
                     const StatusReply& status, DfuState expected)
{
    ZT::CDebugLine() << "Engine: download to " << run.Device << " failed while " << step << ": " << request << ": "
                     << DescribeStatus(status) << " where " << ZT::ToString(expected) << " was expected";
    run.Failure.Detail +=
        (run.Failure.Detail.empty() ? "" : ": ") + request + " (" + ZT::ToString(expected) + " expected)";
    run.Failure.State = status.State;
    run.Failure.Status = status.Status;
    return false;
}

bool RequestStatus(DownloadRun& run, const std::string& step, const char* request, StatusReply& status)
{
    const std::uint64_t sentMs = ZT::GetClock().NowMs();
    const ZT::UsbError error = run.Usb.GetStatus(status);
    run.LastStatusMs = ZT::GetClock().NowMs() - sentMs;
    if (error != ZT::UsbError::None)
        return FailedRequest(run, step, request);
    return true;
}

// Polls while the bootloader reports dfuDNBUSY, each time after the wait its last reply asked
// for: at most kBusyPollWaitLimitMs; none when it asked for none the first time, at least
// kStatusPollWaitMs after that. The time the reply itself took counts toward that wait: an
// STM32 bootloader carries out the erase or the write before it completes the status request
// that started it, then still asks for the operation's whole time, which a host that waits again
// spends twice. status holds the first reply on entry and the last on return (run.LastStatusMs
// how long it took). False after a failed request (logged) and when the bootloader is still busy
// after kBusyTotalWaitLimitMs (logged).
bool PollWhileBusy(DownloadRun& run, const std::string& step, StatusReply& status)
{
    std::uint32_t waitedMs = 0;
    for (std::uint32_t poll = 0; status.State == DfuState::DfuDnbusy; ++poll) {
        if (waitedMs >= kBusyTotalWaitLimitMs)
            return UnexpectedState(run, step, "status poll after " + std::to_string(waitedMs) + " ms of waiting", status,
                                   DfuState::DfuDnloadIdle);
        std::uint32_t waitMs = std::min(status.PollTimeout, kBusyPollWaitLimitMs);
        const auto answeredMs = static_cast<std::uint32_t>(std::min<std::uint64_t>(run.LastStatusMs, waitMs));
        waitMs -= answeredMs;
        if (poll > 0)
            waitMs = std::max(waitMs, kStatusPollWaitMs);
        if (waitMs > 0)
            ZT::GetClock().SleepMs(waitMs);
        // A device that asks for no wait still counts.
        waitedMs += std::max(waitMs + answeredMs, kStatusPollWaitMs);
        if (!RequestStatus(run, step, "status poll", status))
            return false;
    }
    return true;
}

// One GETSTATUS whose reply must show the DFU state expected.
bool ExpectState(DownloadRun& run, const std::string& step, const char* request, DfuState expected)
{
    StatusReply status;
    if (run.Usb.GetStatus(status) != ZT::UsbError::None)
        return FailedRequest(run, step, request);
    if (status.State != expected)
        return UnexpectedState(run, step, request, status, expected);
    return true;
}

enum class IdleCheck {
    Idle,
    Failed,
    // The bootloader is carrying out a leave an earlier run asked for (dfuMANIFEST, or
    // dfuMANIFEST-WAIT-RESET): no request brings it back to dfuIDLE, a USB reset ends it.
    Manifesting,
};

// A bootloader may start in dfuERROR (an earlier session ended badly), or in the middle of a
// download or upload that a killed run left behind. An operation it is still busy with is waited
// out; then one CLRSTATUS takes it out of dfuERROR, or one ABORT out of the states that an ABORT
// ends (a CLRSTATUS there would put it into dfuERROR instead). The state must then be dfuIDLE.
// A run killed between its leave request and the status request that completes it leaves
// dfuMANIFEST-SYNC: this status request then starts the manifestation, and the reply says
// dfuMANIFEST (the bootloader restarts by itself) or dfuMANIFEST-WAIT-RESET (it waits for a reset).
IdleCheck BringBootloaderToIdle(DownloadRun& run)
{
    const std::string step = "bringing the bootloader to dfuIDLE";
    run.Failure.At(CUpdateFailure::Phase::IdleCheck);
    StatusReply status;
    if (!RequestStatus(run, step, "status request", status) || !PollWhileBusy(run, step, status))
        return IdleCheck::Failed;
    const auto ended = [](bool idle) { return idle ? IdleCheck::Idle : IdleCheck::Failed; };
    switch (status.State) {
    case DfuState::DfuIdle:
        return IdleCheck::Idle;
    case DfuState::DfuManifest:
    case DfuState::DfuManifestWaitReset:
        ZT::CDebugLine() << "Engine: the bootloader of " << run.Device << " is in " << ZT::ToString(status.State)
                         << ", left by a run that ended after its leave request; resetting the device";
        return IdleCheck::Manifesting;
    case DfuState::DfuError:
        ZT::CDebugLine() << "Engine: the bootloader of " << run.Device << " is in " << DescribeStatus(status)
                         << "; clearing it";
        if (run.Usb.ClearStatus() != ZT::UsbError::None)
            return ended(FailedRequest(run, step, "clear-status request"));
        return ended(ExpectState(run, step, "status request after clear-status", DfuState::DfuIdle));
    case DfuState::DfuDnloadSync:
    case DfuState::DfuDnloadIdle:
    case DfuState::DfuManifestSync:
    case DfuState::DfuUploadIdle:
        ZT::CDebugLine() << "Engine: the bootloader of " << run.Device << " is in " << ZT::ToString(status.State)
                         << ", left by a transfer that did not end; aborting it";
        if (run.Usb.Abort() != ZT::UsbError::None)
            return ended(FailedRequest(run, step, "abort request"));
        return ended(ExpectState(run, step, "status request after abort", DfuState::DfuIdle));
    // States no bootloader in DFU mode reports while idle or interrupted (PollWhileBusy has waited
    // out dfuDNBUSY): nothing here would bring them back to dfuIDLE.
    case DfuState::AppIdle:
    case DfuState::AppDetach:
    case DfuState::DfuDnbusy:
        break;
    }
    // Also every byte that is no DFU state.
    return ended(UnexpectedState(run, step, "status request", status, DfuState::DfuIdle));
}

// DNLOAD, as block 0, of the 5-byte DfuSe command that the firmware file has just built in the
// buffer (built: the file's result).
bool SendCommand(DownloadRun& run, const std::string& step, ZT::ZTRESULT built, std::uint16_t length)
{
    if (ZT::Failed(built)) {
        ZT::CDebugLine() << "Engine: download to " << run.Device << " failed while " << step
                         << ": the firmware file gave no command (" << ZT::ResultToText(built) << ")";
        run.Failure.Detail = std::string("the firmware file gave no command (") + ZT::ResultToText(built) + ")";
        return false;
    }
    if (run.Usb.Download(run.Buffer.data(), length, kCommandBlockNumber) != ZT::UsbError::None)
        return FailedRequest(run, step, "command request");
    return true;
}

// The status request after a DfuSe command starts it: dfuDNBUSY while it runs (a bootloader may
// also hold that reply back until it is done), dfuDNLOAD-IDLE once it is done.
bool WaitForCommandDone(DownloadRun& run, const std::string& step)
{
    StatusReply status;
    if (!RequestStatus(run, step, "first status request", status) || !PollWhileBusy(run, step, status))
        return false;
    // A status other than OK says the command failed, whatever state comes with it: carrying on
    // would write blocks where an earlier address pointer still points.
    if (status.State != DfuState::DfuDnloadIdle || status.Status != ZT::DfuStatus::Ok)
        return UnexpectedState(run, step, "last status request", status, DfuState::DfuDnloadIdle);
    return true;
}

bool EraseSector(DownloadRun& run, std::uint32_t sector, std::uint32_t address)
{
    const std::string step = "erasing the sector at " + Hex32(address);
    run.Failure.At(CUpdateFailure::Phase::Erase, CUpdateFailure::Unit::Sector, sector, address);
    std::uint16_t length = static_cast<std::uint16_t>(run.Buffer.size());
    const ZT::ZTRESULT built = run.File.GetEraseCommand(address, run.Buffer.data(), length);
    run.EraseRequested = run.EraseRequested || ZT::Succeeded(built);
    if (!SendCommand(run, step, built, length))
        return false;
    return WaitForCommandDone(run, step);
}

// Erases the sectors of the run's erase list that start at or after the element's address and
// before its end. A sector that starts below the element is skipped even when the element begins
// inside it; the list is in address order, so the first sector past the end ends the phase.
PhaseEnd EraseSectors(DownloadRun& run)
{
    const std::uint32_t sectorCount = run.Sectors.SectorCount;
    const std::uint64_t elementStart = run.File.GetElementAddress();
    const std::uint64_t elementEnd = elementStart + run.File.GetElementSize();
    for (std::uint32_t i = 0; i < sectorCount; ++i) {
        if (run.CancelRequested())
            return PhaseEnd::Cancelled;
        run.PostProgress(kEraseShare * i / sectorCount);
        if (i >= run.Sectors.Addresses.size())
            return PhaseEnd::Completed; // the target could not name this sector: nothing more is erased
        const std::uint32_t address = run.Sectors.Addresses[i];
        if (address < elementStart)
            continue;
        if (address >= elementEnd)
            return PhaseEnd::Completed;
        if (!EraseSector(run, i, address))
            return PhaseEnd::DeviceFailed;
    }
    return PhaseEnd::Completed;
}

// Points the bootloader at block i's flash address. Setting the address takes it no time: its
// reply asks for no wait, so the second status request follows the first at once.
bool SetAddressForBlock(DownloadRun& run, std::uint16_t blockIndex)
{
    const std::string step = "setting the address of block " + std::to_string(blockIndex);
    run.Failure.At(CUpdateFailure::Phase::Write, CUpdateFailure::Unit::Block, blockIndex,
                   static_cast<std::uint32_t>(run.File.GetElementAddress() + std::uint64_t{blockIndex} * kBlockSize));
    run.Failure.Detail = "set-address command";
    std::uint16_t length = static_cast<std::uint16_t>(run.Buffer.size());
    const ZT::ZTRESULT built = run.File.GetSetAddressCommand(blockIndex, run.Buffer.data(), length);
    if (!SendCommand(run, step, built, length))
        return false;
    return WaitForCommandDone(run, step);
}

// Before the leave: a bootloader that starts the application at its address pointer must find it
// at the element's start, not past the last block written. Built here rather than by the file,
// which has no block to name for an empty element.
bool PointAtElementStart(DownloadRun& run)
{
    const std::uint32_t start = run.File.GetElementAddress();
    const std::string step = "setting the address pointer to the element's start " + Hex32(start) + " before leaving";
    run.Failure.At(CUpdateFailure::Phase::Leave, CUpdateFailure::Unit::None, 0, start);
    run.Buffer[0] = ZT::kDfuSeCommandSetAddress;
    for (int i = 0; i < 4; ++i)
        run.Buffer[1 + i] = static_cast<std::uint8_t>(start >> (8 * i));
    if (!SendCommand(run, step, ZT::S_OK, LDfuSeFirmwareFile::kCommandLength))
        return false;
    return WaitForCommandDone(run, step);
}

// The first status request starts programming; then up to kBlockStatusPollLimit more, 10 ms
// apart, until the bootloader reports dfuDNLOAD-IDLE. A bootloader that held the first reply for
// the whole programming time it asks for has programmed the block already: the next request
// follows at once.
bool WaitForBlockWritten(DownloadRun& run, const std::string& step)
{
    StatusReply status;
    if (!RequestStatus(run, step, "status request", status))
        return false;
    for (std::uint32_t poll = 0; poll < kBlockStatusPollLimit; ++poll) {
        if (status.State == DfuState::DfuDnloadIdle && status.Status == ZT::DfuStatus::Ok)
            return true;
        if (status.Status != ZT::DfuStatus::Ok) // the block failed, whatever state comes with it
            return UnexpectedState(run, step, "status request", status, DfuState::DfuDnloadIdle);
        // Only a block still on its way may be waited for: any other state (dfuERROR, dfuIDLE, ...)
        // says the block was dropped, even beside an OK status, and a later dfuDNLOAD-IDLE would
        // not bring it back.
        if (status.State != DfuState::DfuDnbusy && status.State != DfuState::DfuDnloadSync)
            return UnexpectedState(run, step, "status request", status, DfuState::DfuDnloadIdle);
        const bool heldUntilDone = poll == 0 && status.PollTimeout > 0 && run.LastStatusMs >= status.PollTimeout;
        if (!heldUntilDone)
            ZT::GetClock().SleepMs(kStatusPollWaitMs);
        if (!RequestStatus(run, step, "status poll", status))
            return false;
    }
    if (status.State == DfuState::DfuDnloadIdle && status.Status == ZT::DfuStatus::Ok)
        return true;
    return UnexpectedState(run, step, "last of " + std::to_string(kBlockStatusPollLimit) + " status polls", status,
                           DfuState::DfuDnloadIdle);
}

bool WriteBlock(DownloadRun& run, std::uint16_t blockIndex, std::uint16_t blockNumber)
{
    const std::string step = "writing block " + std::to_string(blockIndex) + " as block number " +
                             std::to_string(blockNumber);
    run.Failure.At(CUpdateFailure::Phase::Write, CUpdateFailure::Unit::Block, blockIndex,
                   static_cast<std::uint32_t>(run.File.GetElementAddress() + std::uint64_t{blockIndex} * kBlockSize));
    std::uint16_t length = static_cast<std::uint16_t>(run.Buffer.size());
    if (ZT::Failed(run.File.ReadBlock(blockIndex, run.Buffer.data(), length))) {
        ZT::CDebugLine() << "Engine: download to " << run.Device << " failed while " << step
                         << ": the firmware file ended early";
        run.Failure.Detail = "the firmware file ended early";
        return false;
    }
    if (run.Usb.Download(run.Buffer.data(), length, blockNumber) != ZT::UsbError::None)
        return FailedRequest(run, step, "data request");
    return WaitForBlockWritten(run, step);
}

// The order the blocks go out in: 1, 2, ..., last, then 0. Block 0 holds the application's vector
// table, whose first word (the initial stack pointer) is all a resident boot code may look at
// before it jumps: while it stays erased, a download cut at any point leaves a device that stays
// in its bootloader rather than one that starts half an image.
std::uint16_t BlockAtPosition(std::uint16_t position, std::uint16_t blockCount)
{
    return position + 1 < blockCount ? static_cast<std::uint16_t>(position + 1) : 0;
}

// Each run of consecutive blocks starts with a set-address command of its own: block 1, block 0,
// and a last block shorter than the transfer size. The short block goes out as block number 2
// again: it then lands at its own address even on a bootloader that would count the blocks before
// it in another transfer size. Progress counts the blocks written, whichever they are.
PhaseEnd WriteBlocks(DownloadRun& run)
{
    const std::uint16_t blockCount = run.File.GetBlockCount();
    const bool lastBlockIsPartial = run.File.GetElementSize() % kBlockSize != 0;
    std::uint16_t baseBlock = 0;
    for (std::uint16_t position = 0; position < blockCount; ++position) {
        if (run.CancelRequested())
            return PhaseEnd::Cancelled;
        run.PostProgress((kEraseShare * blockCount + (1.0 - kEraseShare) * position) / blockCount);
        const std::uint16_t i = BlockAtPosition(position, blockCount);
        if (position == 0 || i == 0 || (i == blockCount - 1 && lastBlockIsPartial)) {
            if (!SetAddressForBlock(run, i))
                return PhaseEnd::DeviceFailed;
            baseBlock = i;
        }
        if (!WriteBlock(run, i, static_cast<std::uint16_t>(i - baseBlock + kFirstDataBlockNumber)))
            return PhaseEnd::DeviceFailed;
    }
    return PhaseEnd::Completed;
}

// The zero-length DNLOAD, then the status request that makes the bootloader act on it; the
// device resets after answering, so that answer is not examined. On a closed connection nothing
// is sent and the connection's last error says so.
void LeaveDfuMode(UsbConnection& usb)
{
    if (usb.Leave() != ZT::UsbError::None)
        return;
    StatusReply ignored;
    (void)usb.GetStatus(ignored); // a device that restarts at once answers nothing
}

// A run that ends after its first erase request leaves flash that holds no whole image: the device
// must stay in its bootloader, where the next run finds it.
void ReportDeviceStaysInUpdateMode(const DownloadRun& run, const char* why)
{
    ZT::CDebugLine() << "Engine: the download to " << run.Device << " " << why
                     << " after the first erase request; the device stays in update mode, and running the updater "
                        "again finishes the update";
}

} // namespace

ZT::ZTRESULT LUpdateEngine::CheckFirmwareFileBeforeTouchingDevice(const EraseList& sectors,
                                                                   const std::vector<std::uint8_t>* bytes)
{
    if (GetFirmwareFileState() == FirmwareFileState::NoFileDefined)
        return ZT::S_OK; // nothing chosen, nothing to check; the download refuses to start without one
    ZT::WString path;
    (void)GetFirmwareFilePath(path); // an empty path cannot be opened, and is refused below
    const ProductDevice* device = ProductDevice::FindByNormalModeIds(kControllerDevice.VendorId, sectors.ProductId);
    const CFirmwareFileCheck::Result check =
        bytes ? CFirmwareFileCheck::Check(std::span<const std::uint8_t>(*bytes), sectors.Addresses, device)
              : CFirmwareFileCheck::Check(path, sectors.Addresses, device);
    if (check.IsUsable())
        return ZT::S_OK;
    ZT::CDebugLine() << "Engine: the firmware file " << path.View() << " is refused before any device is touched: "
                     << check.reason << " (" << ::ToString(check.verdict) << ")";
    RecordFileFailure(check.reason + " (" + ::ToString(check.verdict) + ")");
    SetUpdateRunState(UpdateRunState::Failed);
    SetSelectedDeviceErrorReason(DeviceErrorReason::FileAccessFailure);
    SetDeviceState(DeviceState::DeviceCannotBeUpdated);
    return ZT::E_FAIL;
}

LUpdateEngine::ManifestEnd LUpdateEngine::ResetManifestingDevice(DeviceDefinitionEx& record)
{
    UsbConnection& usb = GetUsbConnection();
    const std::string device = DescribeDevice(record);
    // NoDevice: it restarted by itself after answering; the look below finds it either way.
    if (const ZT::UsbError error = usb.Reset(); error != ZT::UsbError::None && error != ZT::UsbError::NoDevice)
        ZT::CDebugLine() << "Engine: the USB reset of " << device << " failed: " << ZT::UsbErrorName(error)
                         << "; looking for the device anyway";
    usb.Close();

    // It is off the bus while it restarts (about 1.2 s), then back as its application or, when the
    // image does not start, as its bootloader again.
    bool found = false;
    for (std::uint32_t waitedMs = 0; !found && waitedMs < kDeviceReturnLimitMs; waitedMs += kDeviceReturnPollIntervalMs) {
        ZT::GetClock().SleepMs(kDeviceReturnPollIntervalMs);
        found = ZT::Succeeded(SearchDevice(record, nullptr));
    }
    if (!found) {
        ZT::CDebugLine() << "Engine: after its USB reset " << device << " did not come back within "
                         << kDeviceReturnLimitMs << " ms; unplug it, plug it in again and start the update again";
        return ManifestEnd::Gone;
    }
    (void)StoreSelectedFoundDevice(record); // nobody selects while the download runs
    if (record.InUpdateMode) {
        ZT::CDebugLine() << "Engine: after its USB reset the device is in its bootloader again at "
                         << record.UpdateModePath.ToUTF8() << ": its image is not whole; writing it now";
        return ManifestEnd::InBootloader;
    }
    const std::string release =
        record.FirmwareRelease.Text.IsEmpty() ? std::string("unknown") : record.FirmwareRelease.Text.ToUTF8();
    ZT::CDebugLine() << "Engine: after its USB reset the device is in its application, firmware version " << release
                     << ": the update an earlier run finished is in place and nothing was written now; run the "
                        "updater again to write this file";
    SetUpdateRunState(UpdateRunState::Failed);
    SetSelectedDeviceErrorReason(DeviceErrorReason::NoReason);
    SetDeviceState(DeviceState::DeviceNotInUpdateMode);
    return ManifestEnd::InApplication;
}

void LUpdateEngine::RecordFileFailure(const std::string& why)
{
    CUpdateFailure failure;
    failure.At(CUpdateFailure::Phase::File);
    failure.Detail = why;
    DeviceDefinitionEx record;
    if (GetSelectedFoundDevice(record)) {
        failure.VendorId = static_cast<std::uint16_t>(record.InUpdateMode ? record.BootloaderVendorId : record.VendorId);
        failure.ProductId =
            static_cast<std::uint16_t>(record.InUpdateMode ? record.BootloaderProductId : record.ProductId);
        failure.BootloaderSerial = record.UpdateModeSerialNumber;
    }
    SetLastFailure(std::move(failure));
}

ZT::ZTRESULT LUpdateEngine::PerformUpdate()
{
    const FirmwareFileState fileState = GetFirmwareFileState();
    if (GetDeviceState() != DeviceState::Updating ||
        (fileState != FirmwareFileState::FileFoundVersionUnknown && fileState != FirmwareFileState::FileFoundVersionKnown))
        return ZT::E_FAIL;

    SetUpdateRunState(UpdateRunState::Running);
    // The only look at the target during the run: the file check and the erase phase both work
    // from this copy, whatever the target is asked meanwhile.
    const EraseList sectors = CopyEraseList(GetUpdateTarget());
    // Without a valid selection the record stays empty: its empty path opens nothing and the
    // first request fails as a device failure.
    DeviceDefinitionEx record;
    (void)GetSelectedFoundDevice(record); // an empty record fails the first request
    UsbConnection& usb = GetUsbConnection();
    usb.SetCurrentDevice(record);

    // The file is read once, here: the check and every block of the download work from these
    // bytes, so a file replaced on disk while the run goes on cannot leave a mix of two images.
    ZT::WString path;
    (void)GetFirmwareFilePath(path); // an empty path cannot be read
    std::vector<std::uint8_t> bytes;
    bool read = false;
    try {
        read = ZT::Succeeded(LDfuSeFirmwareFile::ReadWholeFile(path, bytes));
    } catch (const std::exception& error) {
        ZT::CDebugLine() << "Engine: reading the firmware file " << path.View() << " failed: " << error.what();
    }
    // A device that was already in update mode comes straight here: this is the first look at the
    // file for it.
    if (!read) {
        ZT::CDebugLine() << "Engine: the firmware file " << path.View()
                         << " is refused before any device is touched: it cannot be read whole (CannotBeRead)";
        RecordFileFailure("it cannot be read whole (CannotBeRead)");
        SetUpdateRunState(UpdateRunState::Failed);
        SetSelectedDeviceErrorReason(DeviceErrorReason::FileAccessFailure);
        SetDeviceState(DeviceState::DeviceCannotBeUpdated);
        return ZT::E_FAIL;
    }
    if (ZT::Failed(CheckFirmwareFileBeforeTouchingDevice(sectors, &bytes)))
        return ZT::E_FAIL;

    // Held only by this run, with the bytes checked above.
    const ZT::RCPtr<LDfuSeFirmwareFile> file = LDfuSeFirmwareFile::Create();
    if (ZT::Failed(file->OpenBytes(std::move(bytes), kBlockSize))) {
        ZT::CDebugLine() << "Engine: the firmware file " << path.View() << " cannot be used";
        RecordFileFailure("it cannot be used");
        SetUpdateRunState(UpdateRunState::Failed);
        SetSelectedDeviceErrorReason(DeviceErrorReason::FileAccessFailure);
        SetDeviceState(DeviceState::DeviceCannotBeUpdated);
        return ZT::E_FAIL;
    }

    // The bootloader about to be written is the target's: from now on the record says so, for a
    // run that finds it again with nothing else to tell it by.
    if (const ProductDevice* device = ProductDevice::FindByNormalModeIds(record.VendorId, record.ProductId);
        device && !record.UpdateModeSerialNumber.empty())
        // A record that cannot be written is logged by Remember.
        (void)CBootloaderRoleRecord::Remember(device->DeviceKind, record.UpdateModeSerialNumber);

    // A connection that does not open makes the first request fail with kNotOpenError.
    (void)usb.Open(record.UpdateModePath);

    std::array<std::uint8_t, kBlockSize> buffer{};
    DownloadRun run{usb,
                    *file,
                    buffer,
                    [this] { return IsCancelRequested(); },
                    [this](double fraction) {
                        PostUpdateProgress(0, fraction, true, ProgressData::kSecondsRemainingUnknown, false, ZT::WString());
                    },
                    sectors,
                    DescribeDevice(record),
                    false,
                    0,
                    {}};

    IdleCheck idle = BringBootloaderToIdle(run);
    if (idle == IdleCheck::Manifesting) {
        switch (ResetManifestingDevice(record)) {
        case ManifestEnd::InApplication:
            return ZT::E_FAIL;
        case ManifestEnd::Gone:
            idle = IdleCheck::Failed;
            break;
        case ManifestEnd::InBootloader:
            // The image is not whole: the normal recovery, on the bootloader as it came back.
            run.Device = DescribeDevice(record);
            (void)usb.Open(record.UpdateModePath); // one that does not open fails the first request below
            idle = BringBootloaderToIdle(run);
            if (idle == IdleCheck::Manifesting) // a second time: nothing more to try
                idle = IdleCheck::Failed;
            break;
        }
    }
    PhaseEnd end = idle == IdleCheck::Idle ? EraseSectors(run) : PhaseEnd::DeviceFailed;
    if (end == PhaseEnd::Completed)
        end = WriteBlocks(run);
    // Read once more: a cancel that came during the last block still counts.
    if (end == PhaseEnd::Completed && IsCancelRequested())
        end = PhaseEnd::Cancelled;
    if (end == PhaseEnd::Completed && !PointAtElementStart(run))
        end = PhaseEnd::DeviceFailed;

    switch (end) {
    case PhaseEnd::DeviceFailed:
        // No leave request: the device stays in its bootloader, where a new update can start.
        if (run.EraseRequested)
            ReportDeviceStaysInUpdateMode(run, "failed");
        run.Failure.VendorId = static_cast<std::uint16_t>(record.BootloaderVendorId);
        run.Failure.ProductId = static_cast<std::uint16_t>(record.BootloaderProductId);
        run.Failure.BootloaderSerial = record.UpdateModeSerialNumber;
        SetLastFailure(run.Failure);
        SetUpdateRunState(UpdateRunState::Failed);
        SetSelectedDeviceErrorReason(DeviceErrorReason::DeviceAccessFailure);
        SetDeviceState(DeviceState::DeviceCannotBeUpdated);
        return ZT::E_FAIL;
    case PhaseEnd::Cancelled:
        if (run.EraseRequested) {
            // The abort ends the download the erase began, so the next run finds dfuIDLE.
            ReportDeviceStaysInUpdateMode(run, "was cancelled");
            if (usb.Abort() != ZT::UsbError::None)
                // The cancel stays the outcome; this logs the request.
                (void)FailedRequest(run, "ending the cancelled download", "abort request");
        } else {
            // Nothing was erased: the application is whole, and the device may restart into it.
            if (PointAtElementStart(run))
                LeaveDfuMode(usb);
            (void)usb.Abort(); // a device that already left answers nothing, and nothing more is asked
        }
        SetUpdateRunState(UpdateRunState::Cancelled);
        SetDeviceState(DeviceState::DeviceInUpdateMode);
        return ZT::E_ABORT;
    case PhaseEnd::Completed:
        break;
    }

    LeaveDfuMode(usb);
    // Right after the leave request the device is usually still restarting: the refresh then
    // reports it gone, and whoever waits for its return (WaitForDeviceToReturn) refreshes again.
    (void)RefreshDevice();
    // A bootloader still on the bus after answering the leave waits in dfuMANIFEST-WAIT-RESET for
    // the host's USB reset; one that was restarting after all finds the reset harmless.
    if (DeviceDefinitionEx after; GetDeviceState() == DeviceState::DeviceInUpdateMode &&
                                  GetSelectedFoundDevice(after) && usb.Open(after.UpdateModePath)) {
        ZT::CDebugLine() << "Engine: " << DescribeDevice(after) << " stays in its bootloader after the leave request; "
                         << "resetting it";
        (void)usb.Reset(); // harmless to one that restarted by itself
        (void)RefreshDevice(); // what it finds is in the device state
    }
    SetUpdateRunState(UpdateRunState::Succeeded);
    return ZT::S_OK;
}
