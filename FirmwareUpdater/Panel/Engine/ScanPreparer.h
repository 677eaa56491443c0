#pragma once
// Whoever chooses what the engine updates next: asked by LUpdateEngineInterface::ScanForDevices
// before every scan, on the user-interface thread.
//
// The dual updater implements it: it probes the bus, chooses the device whose image comes next
// and configures the engine for it (its firmware file and its one device definition).

#include "ZTFramework/Errors/Result.h"

class LUpdateEngineInterface;

class IScanPreparer {
public:
    virtual ~IScanPreparer() = default;

    // Configures engine for its next scan when there is something to choose. S_OK lets the scan
    // go on; a failure ends ScanForDevices with that result before anything is listed. Called
    // before the engine looks at its own state, so a preparer leaves a busy engine alone; it
    // must not call engine.ScanForDevices itself.
    [[nodiscard]] virtual ZT::ZTRESULT PrepareScan(LUpdateEngineInterface& engine) = 0;
};
