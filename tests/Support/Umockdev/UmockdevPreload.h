#pragma once
// umockdev's preload library must be in a process before anything opens a device: a test program
// started without it starts itself again with it, so that ctest and a developer's shell both work.

#include <string>

using UMockdevTestbed = struct _UMockdevTestbed;

namespace UmockdevTest {

// Whether libumockdev-preload is in the process.
[[nodiscard]] bool UmockdevPreloadLoaded();

// Starts the program again (same arguments) with the preload library, unless it is loaded or a
// start with it was already tried (then the tests fail on UmockdevPreloadLoaded instead).
void RestartWithUmockdevPreload();

// A temporary folder of the program's own, set as TMPDIR before the testbed is made, so that the
// testbed's files stay away from other programs' (removed by RemoveTemporaryFolder).
[[nodiscard]] std::string MakeTemporaryFolder();
void RemoveTemporaryFolder(const std::string& folder);

// One testbed for the whole test program (libusb's and alsa-lib's one context of the process
// watch it), in a temporary folder of its own. A test file calls InstallTestbed once, at static
// initialisation: it restarts the program with the preload library when needed and registers a
// gtest environment that makes the testbed before the tests and removes it after them.
bool InstallTestbed();
[[nodiscard]] UMockdevTestbed* Testbed();

} // namespace UmockdevTest
