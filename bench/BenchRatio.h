#pragma once
// Runs the registered benchmarks with the console reporter, remembers each one's time per
// iteration, then prints ratios between pairs measured in the same run.
//
// Usage in a benchmark file's main:
//   BenchRatio::Runner runner(argc, argv);
//   runner.Run();
//   runner.PrintRatio("copy: std::wstring / StringT", "BM_CopyStdWString", "BM_CopyStringT", ">=", 100);
// A ratio that misses its target makes the program exit non-zero.

#include <benchmark/benchmark.h>

#include <cstdio>
#include <map>
#include <string>

namespace BenchRatio {

class RecordingReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override
    {
        // A benchmark run with repetitions is represented by its median, which a burst of other
        // work on the machine moves less than the mean or a single run.
        for (const Run& run : runs) {
            const bool median = run.run_type == Run::RT_Aggregate && run.aggregate_name == "median";
            const bool single = run.run_type == Run::RT_Iteration && run.iterations > 0 && run.repetitions <= 1;
            if (!median && !single)
                continue;
            mTimes[run.run_name.function_name] = run.GetAdjustedRealTime();
            for (const auto& [name, counter] : run.counters)
                mCounters[run.run_name.function_name + "/" + name] = counter.value;
        }
        ConsoleReporter::ReportRuns(runs);
    }
    std::map<std::string, double> mTimes;
    std::map<std::string, double> mCounters;
};

class Runner {
public:
    Runner(int argc, char** argv) { benchmark::Initialize(&argc, argv); }
    void Run() { benchmark::RunSpecifiedBenchmarks(&mReporter); }

    // Prints numerator / denominator of the two benchmarks' times per iteration.
    bool PrintTimeRatio(const char* label, const std::string& numerator, const std::string& denominator,
                        const char* comparison, double target)
    {
        return Print(label, Value(mReporter.mTimes, numerator), Value(mReporter.mTimes, denominator), comparison,
                     target);
    }
    // Prints numerator / denominator of two counters ("BM_Name/counter").
    bool PrintCounterRatio(const char* label, const std::string& numerator, const std::string& denominator,
                           const char* comparison, double target)
    {
        return Print(label, Value(mReporter.mCounters, numerator), Value(mReporter.mCounters, denominator),
                     comparison, target);
    }
    // Prints numerator / denominator of two counters for comparison only: no target, never fails.
    void PrintCounterRatioForReference(const char* label, const std::string& numerator,
                                       const std::string& denominator)
    {
        const double top = Value(mReporter.mCounters, numerator);
        const double bottom = Value(mReporter.mCounters, denominator);
        if (top <= 0.0 || bottom <= 0.0)
            std::printf("RATIO %s: not measured (benchmark filtered out?)\n", label);
        else
            std::printf("RATIO %s = %.2f (for reference, no target)\n", label, top / bottom);
    }
    int ExitCode() const { return mFailed ? 1 : 0; }

private:
    static double Value(const std::map<std::string, double>& values, const std::string& key)
    {
        const auto it = values.find(key);
        return it == values.end() ? 0.0 : it->second;
    }
    bool Print(const char* label, double numerator, double denominator, const char* comparison, double target)
    {
        if (numerator <= 0.0 || denominator <= 0.0) {
            std::printf("RATIO %s: not measured (benchmark filtered out?)\n", label);
            return true;
        }
        const double ratio = numerator / denominator;
        const bool atLeast = std::string(comparison) == ">=";
        const bool met = atLeast ? ratio >= target : ratio <= target;
        std::printf("RATIO %s = %.2f (target %s %.2f): %s\n", label, ratio, comparison, target,
                    met ? "met" : "MISSED");
        mFailed = mFailed || !met;
        return met;
    }

    RecordingReporter mReporter;
    bool mFailed = false;
};

} // namespace BenchRatio
