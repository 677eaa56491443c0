#pragma once
// Sends a device that a cancelled switch into update mode left in its bootloader back to its
// application, which nothing has touched: the address pointer goes to the application's start
// (DfuSe's set-address command), then the zero-length download asks the bootloader to leave, and
// the status request that follows makes it restart into the application.
//
// Only for a bootloader that has erased and written nothing in this run: a half-written image
// must stay in the bootloader for the next run to finish. Blocks the calling thread for a few
// USB requests (well under a second with a device that answers, at most a few of
// ZT::kUsbControlTransferTimeoutMs with one that does not).

#include "FirmwareUpdater/Panel/Engine/ProductDevice.h"
#include "ZTFramework/Errors/Result.h"

#include <cstdint>
#include <string>

// Where target is after a switch into update mode that was stopped.
struct OwnBootloaderSearch {
    enum class Where : std::uint32_t {
        Application = 0, // on the bus in normal mode: nothing to do
        Bootloader = 1,  // Path: exactly one bootloader with the target's IDs whose serial the
                         // bootloader-serial record does not give to the other device
        Unknown = 2,     // neither (it may still be restarting), or bootloaders not to be told apart
    };
    Where Found = Where::Unknown;
    std::string Path;
};
[[nodiscard]] OwnBootloaderSearch FindOwnBootloader(const ProductDevice& target);

// Points the bootloader at path to applicationStart and makes it leave. S_OK once the leave was
// sent; E_FAIL, with a debug line saying why, when the bootloader could not be opened or refused
// the address.
[[nodiscard]] ZT::ZTRESULT ReturnToApplication(const std::string& path, std::uint32_t applicationStart);
