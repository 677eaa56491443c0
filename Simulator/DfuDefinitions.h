#pragma once
// The numbers of USB DFU 1.1 and of the DfuSe command set that the simulated bootloader speaks.

#include <cstdint>

// bmRequestType of DFU class requests to interface 0.
inline constexpr std::uint8_t kDfuRequestTypeOut = 0x21; // host to device, class, interface
inline constexpr std::uint8_t kDfuRequestTypeIn = 0xA1;  // device to host, class, interface

enum class DfuRequest : std::uint8_t {
    Detach = 0,
    Dnload = 1,
    Upload = 2,
    GetStatus = 3,
    ClrStatus = 4,
    GetState = 5,
    Abort = 6,
};

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

// First byte of a DfuSe command sent as a DNLOAD with block number 0.
inline constexpr std::uint8_t kDfuSeCommandGetCommands = 0x00;
inline constexpr std::uint8_t kDfuSeCommandSetAddress = 0x21;
inline constexpr std::uint8_t kDfuSeCommandErase = 0x41;
inline constexpr std::uint8_t kDfuSeCommandReadUnprotect = 0x92;

// The DFU 1.1 names: "dfuIDLE", "dfuDNBUSY", ...
[[nodiscard]] const char* DfuStateName(DfuState state);
// The DFU 1.1 names: "OK", "errWRITE", ...
[[nodiscard]] const char* DfuStatusName(DfuStatus status);
// "DNLOAD", "GETSTATUS", ...
[[nodiscard]] const char* DfuRequestName(DfuRequest request);
