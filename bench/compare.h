#pragma once

// The comparison harness shared by the pixel-operation benchmarks: an operation, a memcpy of the
// bytes it moves and any number of baselines run in turn in one benchmark, so that every ratio
// is measured in the same run.

#include <ox/errors.h>

#include <benchmark/benchmark.h>

#include <QtGlobal>

#include <chrono>
#include <cstring>
#include <functional>
#include <utility>
#include <vector>

namespace oxbench {

// Source and target of the memcpy baseline, large enough for every comparison.
struct CopyBuffers
{
    std::vector<quint8> from, to;
    CopyBuffers() : from(std::size_t(128) << 20, 1), to(std::size_t(128) << 20, 2) {}
};
inline CopyBuffers& copyBuffers()
{
    static CopyBuffers buffers;
    return buffers;
}

using Named = std::pair<const char*, std::function<void()>>;

// Runs `op`, a memcpy of `copyBytes` and each baseline in turn; the benchmark's time is the
// operation's, the counters its ratios to the memcpy and to each baseline.
inline void compare(benchmark::State& state, quint64 copyBytes, const std::function<unsigned()>& op,
                    const std::vector<Named>& baselines = {})
{
    using Clock = std::chrono::steady_clock;
    CopyBuffers& copy = copyBuffers();
    double opTime = 0, copyTime = 0;
    std::vector<double> baseTime(baselines.size(), 0.0);
    for (auto _ : state) {
        auto t0 = Clock::now();
        const unsigned code = op();
        auto t1 = Clock::now();
        if (code != ox::eOk) {
            state.SkipWithError("operation failed");
            return;
        }
        std::memcpy(copy.to.data(), copy.from.data(), copyBytes);
        benchmark::ClobberMemory();
        auto t2 = Clock::now();
        for (std::size_t i = 0; i < baselines.size(); ++i) {
            auto b0 = Clock::now();
            baselines[i].second();
            benchmark::ClobberMemory();
            baseTime[i] += std::chrono::duration<double>(Clock::now() - b0).count();
        }
        const double o = std::chrono::duration<double>(t1 - t0).count();
        opTime += o;
        copyTime += std::chrono::duration<double>(t2 - t1).count();
        state.SetIterationTime(o);
    }
    state.counters["vs_memcpy"] = opTime / copyTime;
    for (std::size_t i = 0; i < baselines.size(); ++i)
        state.counters[baselines[i].first] = opTime / baseTime[i];
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(copyBytes));
}

// The main of the benchmark programs: registers the benchmarks, then runs what the command line asks.
inline int RunBenchmarks(int argc, char** argv, void (*registerAll)())
{
    registerAll();
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}

} // namespace oxbench
