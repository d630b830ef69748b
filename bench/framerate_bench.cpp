// The frame-rate counter's per-frame cost: addTimestamp() followed by currentFps() with the default
// 200-sample window, on one thread and with four threads sharing one counter. Baseline: the floor
// of one such call pair, an uncontended lock taken twice around a clock read (what every pair must
// pay anyway), run in the same program. items_per_second counts pairs over wall time, summed over
// the threads of a run.

#include <ox/framerate.h>

#include <benchmark/benchmark.h>

#include <QElapsedTimer>

#include <mutex>

namespace {

// One counter shared by the threads of a run; thread 0 restarts it before the timed loop (the loop
// start is a barrier for all threads).
ox::CxFrameRateCounter& sharedCounter()
{
    static ox::CxFrameRateCounter counter;
    return counter;
}

void BM_AddTimestampThenCurrentFps(benchmark::State& state)
{
    ox::CxFrameRateCounter& counter = sharedCounter();
    if (state.thread_index() == 0) {
        counter.setMaxSamples(200);
        counter.setAveragingInterval(2000);
        counter.start();
        // Fill the window first so that every measured pair runs with the full 200 samples.
        for (int i = 0; i < 400; ++i)
            counter.addTimestamp();
    }
    for (auto _ : state) {
        counter.addTimestamp();
        benchmark::DoNotOptimize(counter.currentFps());
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_AddTimestampThenCurrentFps)->Threads(1)->Threads(4)->UseRealTime();

// The floor: two lock/unlock pairs and one monotonic clock read, per thread (no sharing).
void BM_Floor_TwoLocksAndAClockRead(benchmark::State& state)
{
    std::recursive_mutex lock;
    QElapsedTimer timer;
    timer.start();
    for (auto _ : state) {
        {
            std::lock_guard<std::recursive_mutex> guard(lock);
            benchmark::DoNotOptimize(timer.elapsed());
        }
        {
            std::lock_guard<std::recursive_mutex> guard(lock);
            benchmark::ClobberMemory();
        }
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_Floor_TwoLocksAndAClockRead)->Threads(1)->UseRealTime();

} // namespace

BENCHMARK_MAIN();
