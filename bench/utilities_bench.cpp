// Smoothing, Gaussian fitting and sparse 2-D histograms next to their baselines, measured in the same
// run. Counters:
//   vs_memcpy  time of the operation / time of a memcpy of its input bytes
//   vs_opencv  time of the smoothing / time of OpenCV's filter2D with the same 31 taps (when built
//              with OpenCV)
//   vs_dense   time of the sparse histogram / time of the same work on a dense table
//   cells_per_s  sparse increments per second

#include <ox/histogram2d.h>
#include <ox/numerics.h>

#include <benchmark/benchmark.h>

#ifdef OX_BENCH_HAVE_OPENCV
#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>
#endif

#include <chrono>
#include <cmath>
#include <cstring>
#include <functional>
#include <random>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kSamples = 1000000;
constexpr int kWindow = 31;
constexpr int kOrder = 3;
constexpr int kCells = 10000000;
constexpr int kLevels = 256;

double Seconds(Clock::time_point a, Clock::time_point b)
{
    return std::chrono::duration<double>(b - a).count();
}

// Runs `op` and `baseline` alternately; the benchmark's time is the operation's, `counter` their
// ratio.
void Compare(benchmark::State& state, const char* counter, const std::function<void()>& op,
             const std::function<void()>& baseline)
{
    double opTime = 0, baseTime = 0;
    for (auto _ : state) {
        const auto t0 = Clock::now();
        op();
        const auto t1 = Clock::now();
        baseline();
        benchmark::ClobberMemory();
        const auto t2 = Clock::now();
        opTime += Seconds(t0, t1);
        baseTime += Seconds(t1, t2);
        state.SetIterationTime(Seconds(t0, t1));
    }
    state.counters[counter] = opTime / baseTime;
}

std::vector<double> Signal()
{
    std::mt19937 rng(1);
    std::normal_distribution<double> noise(0.0, 0.1);
    std::vector<double> v(kSamples);
    for (int i = 0; i < kSamples; ++i)
        v[std::size_t(i)] = std::sin(i * 1e-3) + noise(rng);
    return v;
}

void BM_SavitzkyGolay(benchmark::State& state)
{
    const std::vector<double> in = Signal();
    std::vector<double> out(in.size()), copy(in.size());
    const std::size_t bytes = in.size() * sizeof(double);
    Compare(
        state, "vs_memcpy",
        [&] {
            std::memset(out.data(), 0, bytes);
            ox::SavitzkyGolaySmooth(in.data(), out.data(), kSamples, kWindow, kOrder);
        },
        [&] { std::memcpy(copy.data(), in.data(), bytes); });
    state.SetItemsProcessed(int64_t(state.iterations()) * kSamples);
}

#ifdef OX_BENCH_HAVE_OPENCV
// OpenCV's filter2D over the same signal with the smoothing's centre taps (read from the response
// of ox to a unit impulse), edges by reflection.
void BM_SavitzkyGolayOpenCV(benchmark::State& state)
{
    std::vector<double> impulse(kWindow * 3, 0.0), taps(impulse.size(), 0.0);
    impulse[impulse.size() / 2] = 1.0;
    ox::SavitzkyGolaySmooth(impulse.data(), taps.data(), int(impulse.size()), kWindow, kOrder);
    cv::Mat kernel(1, kWindow, CV_64F);
    for (int k = 0; k < kWindow; ++k)
        kernel.at<double>(0, k) = taps[impulse.size() / 2 - kWindow / 2 + std::size_t(k)];

    std::vector<double> in = Signal();
    std::vector<double> out(in.size());
    cv::Mat src(1, kSamples, CV_64F, in.data()), dst(1, kSamples, CV_64F);
    Compare(
        state, "vs_opencv",
        [&] {
            std::memset(out.data(), 0, out.size() * sizeof(double));
            ox::SavitzkyGolaySmooth(in.data(), out.data(), kSamples, kWindow, kOrder);
        },
        [&] { cv::filter2D(src, dst, CV_64F, kernel); });
}
#endif

void BM_FitGauss(benchmark::State& state)
{
    std::mt19937 rng(2);
    std::normal_distribution<double> noise(0.0, 0.02);
    QList<double> x, y;
    x.reserve(kSamples);
    y.reserve(kSamples);
    for (int i = 0; i < kSamples; ++i) {
        const double xi = -5.0 + 10.0 * i / kSamples;
        x.append(xi);
        y.append(2.0 * std::exp(-(xi - 0.3) * (xi - 0.3) / 2.0) + noise(rng));
    }
    std::vector<double> from(2 * std::size_t(kSamples)), to(from.size());
    double a = 0, c = 0, s = 0;
    Compare(
        state, "vs_memcpy",
        [&] {
            ox::FitGauss(x, y, a, c, s);
            benchmark::DoNotOptimize(a);
        },
        [&] { std::memcpy(to.data(), from.data(), from.size() * sizeof(double)); });
    state.counters["sigma"] = s;
}

struct Cell
{
    int row, col;
};

std::vector<Cell> RandomCells(unsigned seed)
{
    std::mt19937 rng(seed);
    std::uniform_int_distribution<int> level(0, kLevels - 1);
    std::vector<Cell> cells(kCells);
    for (Cell& c : cells)
        c = {level(rng), level(rng)};
    return cells;
}

void BM_SparseInc(benchmark::State& state)
{
    const std::vector<Cell> cells = RandomCells(3);
    ox::CxImageHistogramSparse2D sparse;
    ox::CxImageHistogram2D dense;
    Compare(
        state, "vs_dense",
        [&] {
            sparse.init(1, kLevels);
            for (const Cell& c : cells)
                sparse.inc(0, c.row, c.col);
        },
        [&] {
            dense.init(1, kLevels);
            int** plane = dense[0];
            for (const Cell& c : cells)
                ++plane[c.row][c.col];
        });
    state.counters["cells_per_s"] =
        benchmark::Counter(double(kCells) * state.iterations(), benchmark::Counter::kIsRate);
}

void BM_SparseIncBy(benchmark::State& state)
{
    ox::CxImageHistogramSparse2D a(1, kLevels), b(1, kLevels);
    ox::CxImageHistogram2D da, db;
    da.init(1, kLevels);
    db.init(1, kLevels);
    for (const Cell& c : RandomCells(4)) {
        a.inc(0, c.row, c.col);
        ++da[0][c.row][c.col];
    }
    for (const Cell& c : RandomCells(5)) {
        b.inc(0, c.row, c.col);
        ++db[0][c.row][c.col];
    }
    Compare(
        state, "vs_dense",
        [&] {
            ox::CxImageHistogramSparse2D sum = a;
            sum.incBy(b);
            benchmark::DoNotOptimize(sum.levels());
        },
        [&] {
            ox::CxImageHistogram2D sum = da;
            for (int r = 0; r < kLevels; ++r)
                for (int c = 0; c < kLevels; ++c)
                    sum[0][r][c] += db[0][r][c];
            benchmark::DoNotOptimize(sum[0][0][0]);
        });
}

} // namespace

BENCHMARK(BM_SavitzkyGolay)
    ->Name("SavitzkyGolaySmooth/1M_w31_o3")
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);
#ifdef OX_BENCH_HAVE_OPENCV
BENCHMARK(BM_SavitzkyGolayOpenCV)
    ->Name("SavitzkyGolaySmooth/1M_w31_o3_vs_opencv")
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);
#endif
BENCHMARK(BM_FitGauss)->Name("FitGauss/1M")->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SparseInc)
    ->Name("HistogramSparse2D/inc_10M_256")
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SparseIncBy)
    ->Name("HistogramSparse2D/incBy_256")
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
