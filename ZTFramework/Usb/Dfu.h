#pragma once
// The numbers of USB DFU 1.1 that both ends of an update speak: the class requests, the states of a
// bootloader's DFU state machine and the status codes of a GETSTATUS reply. The engine's
// connection sends them and the simulated bootloader answers them; nothing else defines them.
//
// The enumerations are one byte wide because that is what travels in bRequest, bState and
// bStatus. A byte from a device may hold a number DFU does not define; ToString then names it as
// unknown, so a log line shows what arrived without a cast.

#include <cstdint>

namespace ZT {

// bmRequestType of DFU class requests to interface 0.
inline constexpr std::uint8_t kDfuRequestTypeOut = 0x21; // host to device, class, interface
inline constexpr std::uint8_t kDfuRequestTypeIn = 0xA1;  // device to host, class, interface

// bRequest of the DFU class requests.
enum class DfuRequest : std::uint8_t {
    Detach = 0,
    Dnload = 1,
    Upload = 2,
    GetStatus = 3,
    ClrStatus = 4,
    GetState = 5,
    Abort = 6,
};

// bState: where the bootloader's DFU state machine stands.
enum class DfuState : std::uint8_t {
    AppIdle = 0,
    AppDetach = 1,
    DfuIdle = 2,
    DfuDnloadSync = 3,
    DfuDnbusy = 4,
    DfuDnloadIdle = 5,
    DfuManifestSync = 6,
    DfuManifest = 7,
    DfuManifestWaitReset = 8,
    DfuUploadIdle = 9,
    DfuError = 10,
};

// bStatus: the outcome of the most recent request, Ok or why the bootloader entered dfuERROR.
enum class DfuStatus : std::uint8_t {
    Ok = 0x00,
    ErrTarget = 0x01,
    ErrFile = 0x02,
    ErrWrite = 0x03,
    ErrErase = 0x04,
    ErrCheckErased = 0x05,
    ErrProg = 0x06,
    ErrVerify = 0x07,
    ErrAddress = 0x08,
    ErrNotDone = 0x09,
    ErrFirmware = 0x0A,
    ErrVendor = 0x0B,
    ErrUsbr = 0x0C,
    ErrPor = 0x0D,
    ErrUnknown = 0x0E,
    ErrStalledPkt = 0x0F,
};

// DfuSe, the extension the bootloaders speak: the first byte of a command sent as DNLOAD block 0,
// followed by an address, 32-bit little-endian, for set-address and erase.
inline constexpr std::uint8_t kDfuSeCommandGetCommands = 0x00;
inline constexpr std::uint8_t kDfuSeCommandSetAddress = 0x21;
inline constexpr std::uint8_t kDfuSeCommandErase = 0x41;
inline constexpr std::uint8_t kDfuSeCommandReadUnprotect = 0x92;

// The DFU 1.1 names: "DNLOAD", "GETSTATUS", ...; "unknown DFU request" for another number.
[[nodiscard]] const char* ToString(DfuRequest request) noexcept;
// "dfuIDLE", "dfuDNLOAD-IDLE", ...; "unknown DFU state" for another number.
[[nodiscard]] const char* ToString(DfuState state) noexcept;
// "OK", "errWRITE", ...; "unknown DFU status" for another number.
[[nodiscard]] const char* ToString(DfuStatus status) noexcept;

} // namespace ZT
