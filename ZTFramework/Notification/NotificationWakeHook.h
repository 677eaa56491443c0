#pragma once
// The one process-wide hook that a successful post calls after enqueuing into an empty queue
// (and a delivery round that ends with notifications waiting), so that whoever waits for work on
// the user-interface thread wakes up and runs ProcessAllQueues instead of polling: a condition
// variable for the command-line run (CNotificationWaiter), a user event for the window's event
// loop. A stream of posts thus wakes it once per round, not once per notification. Whatever
// waited before a hook was installed is not signalled to it: its owner processes the queues
// once after installing it.
//
// Threads: the hook runs on the posting thread (often a worker), possibly on several posting
// threads at once, and without a lock. It must be quick, must not post notifications and must
// not set the hook itself (setting waits for running calls to finish).

#include <functional>

namespace ZT {

// Installs hook (an empty function removes it) and returns the one it replaces. Once this
// returns, the replaced hook is not running and is not called again.
std::function<void()> SetNotificationWakeHook(std::function<void()> hook);

// Calls the hook, if one is set.
void CallNotificationWakeHook();

} // namespace ZT
