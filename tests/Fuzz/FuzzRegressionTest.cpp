// Every fuzzer's entry function, built here without libFuzzer, over its seeds (fuzz/corpus/<Name>/)
// and over the inputs once found to break it (fuzz/<Name>/regressions/): an input saved there
// keeps failing this test until the fault is fixed.
//
// Each input runs in a child process of its own, so that an abort, a signal or a hang of one input
// is reported with the input's name and what the child wrote, and the next input still runs.
// tests/CMakeLists.txt renames each fuzzer's LLVMFuzzerTestOneInput to ZtFuzzEntry_<Name> and
// lists the fuzzers in FuzzTargets.inc.

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <ostream>
#include <poll.h>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

#define ZT_FUZZ_TARGET(name) extern "C" int ZtFuzzEntry_##name(const std::uint8_t* data, std::size_t size);
#include "FuzzTargets.inc"
#undef ZT_FUZZ_TARGET

namespace {

using Entry = int (*)(const std::uint8_t*, std::size_t);

struct FuzzTarget {
    const char* Name;
    Entry Function;
};

// The test's name carries the fuzzer's; this is what a failure shows of its parameter.
void PrintTo(const FuzzTarget& target, std::ostream* out)
{
    *out << target.Name;
}

const FuzzTarget kTargets[] = {
#define ZT_FUZZ_TARGET(name) {#name, &ZtFuzzEntry_##name},
#include "FuzzTargets.inc"
#undef ZT_FUZZ_TARGET
};

// One input must finish well within this real time; the slowest seed takes milliseconds.
constexpr int kInputTimeLimitMs = 60000;

const std::filesystem::path kFuzzFolder = ZT_FUZZ_DIR;

std::vector<std::filesystem::path> FilesIn(const std::filesystem::path& folder)
{
    std::vector<std::filesystem::path> files;
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(folder, error)) {
        if (entry.is_regular_file() && entry.path().filename() != "README.md")
            files.push_back(entry.path());
    }
    std::sort(files.begin(), files.end());
    return files;
}

// How a child that ran one input ended; empty when it returned normally.
struct ChildEnd {
    std::string Failure;
    std::string Output;
};

ChildEnd RunInChild(Entry entry, const std::vector<std::uint8_t>& input)
{
    int pipeEnds[2];
    if (::pipe(pipeEnds) != 0)
        return {std::string("pipe: ") + std::strerror(errno), {}};
    std::fflush(nullptr);
    const pid_t child = ::fork();
    if (child < 0)
        return {std::string("fork: ") + std::strerror(errno), {}};
    if (child == 0) {
        ::dup2(pipeEnds[1], STDERR_FILENO);
        ::dup2(pipeEnds[1], STDOUT_FILENO);
        ::close(pipeEnds[0]);
        ::close(pipeEnds[1]);
        const int returned = entry(input.data(), input.size());
        // exit rather than _exit, so that a fuzzer's temporary file is removed by its destructor.
        std::exit(returned == 0 ? 0 : 3);
    }
    ::close(pipeEnds[1]);
    ChildEnd end;
    bool timedOut = false;
    char buffer[4096];
    for (;;) {
        pollfd readable{pipeEnds[0], POLLIN, 0};
        const int ready = ::poll(&readable, 1, kInputTimeLimitMs);
        if (ready == 0) {
            timedOut = true;
            ::kill(child, SIGKILL);
            break;
        }
        if (ready < 0 && errno == EINTR)
            continue;
        const ssize_t n = ready > 0 ? ::read(pipeEnds[0], buffer, sizeof buffer) : -1;
        if (n <= 0)
            break;
        end.Output.append(buffer, static_cast<std::size_t>(n));
    }
    ::close(pipeEnds[0]);
    int status = 0;
    while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    if (timedOut)
        end.Failure = "still running after " + std::to_string(kInputTimeLimitMs) + " ms (killed)";
    else if (WIFSIGNALED(status))
        end.Failure = std::string("killed by signal ") + ::strsignal(WTERMSIG(status)) + " (" +
                      std::to_string(WTERMSIG(status)) + ")";
    else if (WIFEXITED(status) && WEXITSTATUS(status) == 3)
        end.Failure = "the entry function returned a value other than 0";
    else if (WIFEXITED(status) && WEXITSTATUS(status) != 0)
        end.Failure = "exited with status " + std::to_string(WEXITSTATUS(status));
    return end;
}

class FuzzRegression : public ::testing::TestWithParam<FuzzTarget> {};

// Each saved input, seed or former crash, runs to its end; every failing one is named.
TEST_P(FuzzRegression, EverySeedAndSavedCrashInputRunsClean)
{
    const FuzzTarget& target = GetParam();
    std::vector<std::filesystem::path> inputs = FilesIn(kFuzzFolder / "corpus" / target.Name);
    const auto regressions = FilesIn(kFuzzFolder / target.Name / "regressions");
    inputs.insert(inputs.end(), regressions.begin(), regressions.end());
    ASSERT_FALSE(inputs.empty()) << target.Name << " has no seed inputs in " << (kFuzzFolder / "corpus" / target.Name)
                                 << ": a fuzzer without seeds is not run by this test at all";
    for (const auto& path : inputs) {
        std::ifstream file(path, std::ios::binary);
        ASSERT_TRUE(file) << "cannot read " << path;
        const std::vector<std::uint8_t> input((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
        const ChildEnd end = RunInChild(target.Function, input);
        EXPECT_TRUE(end.Failure.empty()) << target.Name << " on " << path << " (" << input.size()
                                         << " bytes): " << end.Failure << "\n--- what it wrote ---\n"
                                         << end.Output.substr(0, 8000);
    }
}

INSTANTIATE_TEST_SUITE_P(Fuzzers, FuzzRegression, ::testing::ValuesIn(kTargets),
                         [](const ::testing::TestParamInfo<FuzzTarget>& info) { return std::string(info.param.Name); });

} // namespace
