#include "tests/FirmwareUpdater/Panel/ProcessRunner.h"

#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace UpdaterProcess {

std::string BinaryPath()
{
    return ZT_UPDATER_BINARY;
}

Sandbox::Sandbox()
{
    for (const char* sub : {"home", "config", "data", "run", "tmp"})
        std::filesystem::create_directories(mFolder / sub);
    // The runtime folder is the user's alone, as the system makes it.
    std::filesystem::permissions(mFolder / "run", std::filesystem::perms::owner_all);
}

std::string Describe(const Result& result)
{
    return "exit " + std::to_string(result.ExitCode) + ", signal " + std::to_string(result.Signal) +
           (result.TimedOut ? ", timed out" : "") + "\n--- stderr:\n" + result.StandardError;
}

bool Contains(const std::string& text, const std::string& part)
{
    return text.find(part) != std::string::npos;
}

std::vector<std::string> Sandbox::Environment() const
{
    std::vector<std::string> environment;
    for (char** entry = environ; *entry; ++entry) {
        const std::string text(*entry);
        const std::string name = text.substr(0, text.find('='));
        if (name == "HOME" || name == "XDG_CONFIG_HOME" || name == "XDG_DATA_HOME" || name == "XDG_STATE_HOME" ||
            name == "XDG_RUNTIME_DIR" || name == "TMPDIR" ||
            name == "DISPLAY" || name == "WAYLAND_DISPLAY" || mVariables.contains(name))
            continue;
        environment.push_back(text);
    }
    for (const auto& [name, value] : mVariables)
        environment.push_back(name + "=" + value);
    environment.push_back("HOME=" + (mFolder / "home").string());
    environment.push_back("XDG_CONFIG_HOME=" + (mFolder / "config").string());
    environment.push_back("XDG_DATA_HOME=" + (mFolder / "data").string());
    environment.push_back("XDG_STATE_HOME=" + (mFolder / "state").string());
    if (!mVariables.contains("XDG_RUNTIME_DIR"))
        environment.push_back("XDG_RUNTIME_DIR=" + RuntimeDir());
    if (!mVariables.contains("TMPDIR"))
        environment.push_back("TMPDIR=" + (mFolder / "tmp").string());
    return environment;
}

Result Sandbox::Run(const std::string& program, const std::vector<std::string>& arguments,
                    std::chrono::milliseconds timeout, const OutputWatcher& watcher) const
{
    Result result;
    int outPipe[2];
    int errPipe[2];
    if (::pipe2(outPipe, O_CLOEXEC) != 0 || ::pipe2(errPipe, O_CLOEXEC) != 0)
        return result;

    std::vector<std::string> environment = Environment();
    std::vector<char*> argv;
    for (const std::string& argument : arguments)
        argv.push_back(const_cast<char*>(argument.c_str()));
    argv.push_back(nullptr);
    std::vector<char*> envp;
    for (std::string& entry : environment)
        envp.push_back(entry.data());
    envp.push_back(nullptr);

    const auto started = std::chrono::steady_clock::now();
    const pid_t child = ::fork();
    if (child == 0) {
        const int devNull = ::open("/dev/null", O_RDONLY);
        ::dup2(devNull, STDIN_FILENO);
        ::dup2(outPipe[1], STDOUT_FILENO);
        ::dup2(errPipe[1], STDERR_FILENO);
        ::execve(program.c_str(), argv.data(), envp.data());
        ::_exit(127);
    }
    ::close(outPipe[1]);
    ::close(errPipe[1]);
    if (child < 0) {
        ::close(outPipe[0]);
        ::close(errPipe[0]);
        return result;
    }

    const auto deadline = started + timeout;
    pollfd pipes[2] = {{outPipe[0], POLLIN, 0}, {errPipe[0], POLLIN, 0}};
    std::string* sinks[2] = {&result.StandardOutput, &result.StandardError};
    int open = 2;
    while (open > 0) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) {
            result.TimedOut = true;
            ::kill(child, SIGKILL);
            break;
        }
        const int ready = ::poll(pipes, 2, static_cast<int>(left.count()));
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready <= 0)
            continue;
        for (int i = 0; i < 2; ++i) {
            if (pipes[i].fd < 0 || pipes[i].revents == 0)
                continue;
            char buffer[4096];
            const ssize_t count = ::read(pipes[i].fd, buffer, sizeof(buffer));
            if (count > 0) {
                sinks[i]->append(buffer, static_cast<std::size_t>(count));
                if (i == 1 && watcher)
                    watcher(static_cast<int>(child), result.StandardError);
                continue;
            }
            ::close(pipes[i].fd);
            pipes[i].fd = -1;
            --open;
        }
    }
    for (pollfd& pipe : pipes) {
        if (pipe.fd >= 0)
            ::close(pipe.fd);
    }
    int status = 0;
    while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    if (WIFEXITED(status))
        result.ExitCode = WEXITSTATUS(status);
    else if (WIFSIGNALED(status))
        result.Signal = WTERMSIG(status);
    return result;
}

} // namespace UpdaterProcess
