#pragma once
// What the update processor needs of the run that drives the update (the command-line run): it
// starts automatic mode's update through it, and in silent mode waits on its loop.
//
// The command-line run implements it on top of LUpdateSequence: the start is the sequence's,
// and the wait runs the run's own loop, which delivers the engine's notifications and the
// sequence's timers until the sequence has ended, so that the wait covers both devices of the
// product. Without a host the processor switches and starts the download itself and waits on
// the engine alone.
//
// Every call comes on the user-interface thread, inside LUpdateProcessor::Initialize.

#include <cstdint>
#include <optional>

class IUpdateProcessorHost {
public:
    virtual ~IUpdateProcessorHost() = default;

    // Starts the update of the device the engine aims at: the switch into update mode when it is
    // in normal mode, the download when it is in update mode. deadlineMs: silent mode's end on
    // ZT::GetClock(), past which nothing new may start. True when something was started; false
    // when nothing was (the host says why).
    [[nodiscard]] virtual bool StartAutomaticUpdate(std::optional<std::uint64_t> deadlineMs) = 0;

    // Waits until the update that was started, and whatever follows from it, has ended. Never
    // cuts a download: the deadline only keeps new steps from starting.
    virtual void WaitForUpdate() = 0;
};
