#pragma once
// The folder that holds the program file: where the updater looks for its firmware files.
//
// It is the folder of the resolved /proc/self/exe. Tests, and runs against simulated devices
// that keep their sample images elsewhere, put another folder in its place.
//
// Threads: both functions may be called from any thread.

#include "ZTFramework/Utilities/Storage/StringT.h"

// The folder, without a trailing "/"; the folder that SetApplicationFolder gave while one is set.
// Empty when the program file cannot be resolved.
[[nodiscard]] ZT::WString GetApplicationFolder();

// Puts folder in the place of the program's folder; an empty text goes back to the program's.
void SetApplicationFolder(const ZT::WString& folder);
