#pragma once
// Runs the real updater binary as a child process, the way an installer does, in a sandbox of
// its own: HOME, XDG_CONFIG_HOME, XDG_DATA_HOME, XDG_STATE_HOME, XDG_RUNTIME_DIR (mode 0700) and TMPDIR
// point into a fresh temporary folder, so runs never share settings or the single-instance name
// with each other or with the user's own copy. A variable the test sets wins (an empty
// XDG_RUNTIME_DIR stands for none).

#include "tests/ZTFramework/Utilities/Storage/TempFolder.h"

#include <chrono>
#include <filesystem>
#include <functional>
#include <map>
#include <string>
#include <vector>

namespace UpdaterProcess {

// The binary the build made (set by the build as ZT_UPDATER_BINARY).
[[nodiscard]] std::string BinaryPath();

struct Result {
    int ExitCode = -1;   // the process's exit status; -1 when it was killed or did not end
    int Signal = 0;      // the signal that ended it, 0 when it exited
    bool TimedOut = false;
    std::string StandardOutput;
    std::string StandardError;
};

// "exit 0, signal 0", then the standard error: what a failed expectation about a run shows.
[[nodiscard]] std::string Describe(const Result& result);
[[nodiscard]] bool Contains(const std::string& text, const std::string& part);

// Told the child's process ID and its standard error so far, each time more of it arrived: what
// a test uses to act on the child at a moment its output shows (to send it a signal).
using OutputWatcher = std::function<void(int processId, const std::string& standardError)>;

class Sandbox {
public:
    Sandbox();
    Sandbox(const Sandbox&) = delete;
    Sandbox& operator=(const Sandbox&) = delete;

    [[nodiscard]] const std::filesystem::path& Folder() const noexcept { return mFolder; }
    // The environment the child gets: the test's own, with the sandbox's folders in place.
    [[nodiscard]] std::vector<std::string> Environment() const;
    [[nodiscard]] std::string RuntimeDir() const { return (mFolder / "run").string(); }
    // Gives the children name=value in place of the test's own (and of the sandbox's folders);
    // the test process keeps its own.
    void SetVariable(const std::string& name, const std::string& value) { mVariables[name] = value; }

    // Runs program with arguments (argv[0] is program). A child still running after timeout is
    // killed (TimedOut). stdin is /dev/null. The watcher, when given, sees standard error grow.
    [[nodiscard]] Result Run(const std::string& program, const std::vector<std::string>& arguments,
                             std::chrono::milliseconds timeout = std::chrono::seconds(60),
                             const OutputWatcher& watcher = {}) const;
    // The same with the updater binary.
    [[nodiscard]] Result RunUpdater(const std::vector<std::string>& arguments,
                                    std::chrono::milliseconds timeout = std::chrono::seconds(60),
                                    const OutputWatcher& watcher = {}) const
    {
        return Run(BinaryPath(), arguments, timeout, watcher);
    }

private:
    ZT::Testing::TempFolder mTemp{"zt-updater-process"};
    const std::filesystem::path& mFolder = mTemp.Path();
    std::map<std::string, std::string> mVariables;
};

} // namespace UpdaterProcess
