#pragma once
// What the update processor needs of a run that has no window: it is told before the long
// switch into update mode, and it does the silent mode's wait in place of the engine's own.
//
// The command-line run implements it: it shows the switch as it begins and, while it waits,
// delivers the engine's notifications and does the main control's part after each completed
// update, so that the wait covers both devices of the product. Without a host the processor
// waits on the engine alone.
//
// Every call comes on the user-interface thread, inside LUpdateProcessor::Initialize.

#include "ZTFramework/Errors/Result.h"

#include <cstdint>
#include <string>

class LUpdateEngineInterface;

class IUpdateProcessorHost {
public:
    virtual ~IUpdateProcessorHost() = default;

    // The processor is about to call RequestUpdateMode, which blocks for up to about 11 s.
    virtual void OnEnteringUpdateMode() = 0;

    // Waits until the update that the processor started, and whatever follows from it, has
    // ended, at most timeoutMs. S_OK when everything ended; E_FAIL when the time ran out.
    [[nodiscard]] virtual ZT::ZTRESULT WaitForUpdate(LUpdateEngineInterface& engine, std::uint32_t timeoutMs) = 0;

    // Why nothing new may start, neither a switch into update mode nor a download ("interrupted
    // by SIGTERM"), or empty. Asked before each of them.
    [[nodiscard]] virtual std::string WhyNothingMayStart() const = 0;
    // The processor did not start the switch or the download of the device the engine aims at,
    // for the reason given (the host's own, or silent mode's deadline).
    virtual void OnNotStarted(const std::string& why) = 0;
};
