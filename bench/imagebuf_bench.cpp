// Buffer copies next to a plain memcpy of the same bytes, measured in the same run.
// Counters: vs_memcpy = time of the operation / time of memcpy (1.0 is the physical limit).

#include <ox/imagebuf.h>

#include <benchmark/benchmark.h>

#include "compare.h"

#include <chrono>
#include <cstring>
#include <functional>

namespace {

using Clock = std::chrono::steady_clock;

struct Shape
{
    const char* name;
    int width, height, channels;
    ox::ExImageDataType type;
};

const Shape kShapes[] = {
    {"rgb8_4096x3072", 4096, 3072, 3, ox::eUInt8},
    {"mono16_2048x2048", 2048, 2048, 1, ox::eUInt16},
};

ox::SxImageBuf make(const Shape& s, int rowBytes = 0)
{
    ox::SxImageBuf b;
    ox::AllocBuffer(b, s.width, s.height, s.channels, s.type, rowBytes, 0, ox::ePixel, true,
                    ox::eUncompressed);
    return b;
}

// Runs `op` and a memcpy of `bytes` from `from` to `to` alternately (the operation's own buffers,
// so both see the same cache state); the benchmark's time is the operation's, the counter its
// ratio to memcpy.
void compare(benchmark::State& state, const void* from, void* to, quint64 bytes,
             const std::function<void()>& op)
{
    double opTime = 0, copyTime = 0;
    for (auto _ : state) {
        auto t0 = Clock::now();
        op();
        auto t1 = Clock::now();
        std::memcpy(to, from, bytes);
        benchmark::ClobberMemory();
        auto t2 = Clock::now();
        const double o = std::chrono::duration<double>(t1 - t0).count();
        opTime += o;
        copyTime += std::chrono::duration<double>(t2 - t1).count();
        state.SetIterationTime(o);
    }
    state.counters["vs_memcpy"] = opTime / copyTime;
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(bytes));
}

void BM_CopyEqualRows(benchmark::State& state, Shape s)
{
    ox::SxImageBuf src = make(s), dst = make(s);
    compare(state, src.data, dst.data, src.dataSize, [&] { ox::CopyBuffer(src, dst); });
    ox::FreeBuffer(src);
    ox::FreeBuffer(dst);
}

void BM_CopyDifferentRows(benchmark::State& state, Shape s)
{
    const int pixelBytes = s.channels * int(ox::GetImageTypeSize(s.type));
    ox::SxImageBuf src = make(s), dst = make(s, s.width * pixelBytes + 64 + 7);
    compare(state, src.data, dst.data, quint64(s.width) * pixelBytes * s.height,
            [&] { ox::CopyBuffer(src, dst); });
    ox::FreeBuffer(src);
    ox::FreeBuffer(dst);
}

void BM_CopyRegion(benchmark::State& state, Shape s)
{
    const int pixelBytes = s.channels * int(ox::GetImageTypeSize(s.type));
    ox::SxImageBuf src = make(s), dst = make(s);
    const QRect rect(s.width / 4 + 1, s.height / 4, s.width / 2, s.height / 2);
    compare(state, src.data, dst.data, quint64(rect.width()) * pixelBytes * rect.height(),
            [&] { ox::CopyBuffer(src, rect, dst, QPoint(3, 5), true); });
    ox::FreeBuffer(src);
    ox::FreeBuffer(dst);
}

// Crop allocates its result: the figure includes obtaining fresh memory from the allocator.
void BM_Crop(benchmark::State& state, Shape s)
{
    const int pixelBytes = s.channels * int(ox::GetImageTypeSize(s.type));
    ox::SxImageBuf src = make(s), scratch = make(s);
    const QRect rect(s.width / 4 + 1, s.height / 4, s.width / 2, s.height / 2);
    compare(state, src.data, scratch.data, quint64(rect.width()) * pixelBytes * rect.height(), [&] {
        ox::SxImageBuf work = src; // a view: Crop replaces its memory, the source stays intact
        work.deleter = [](void*) {};
        ox::Crop(work, rect);
        ox::FreeBuffer(work);
    });
    ox::FreeBuffer(src);
    ox::FreeBuffer(scratch);
}

void registerAll()
{
    for (const Shape& s : kShapes) {
        const std::string n = s.name;
        benchmark::RegisterBenchmark(("CopyBuffer/equal_rows/" + n).c_str(), BM_CopyEqualRows, s)
            ->UseManualTime();
        benchmark::RegisterBenchmark(("CopyBuffer/different_rows/" + n).c_str(), BM_CopyDifferentRows, s)
            ->UseManualTime();
        benchmark::RegisterBenchmark(("CopyBuffer/region/" + n).c_str(), BM_CopyRegion, s)->UseManualTime();
        benchmark::RegisterBenchmark(("Crop/" + n).c_str(), BM_Crop, s)->UseManualTime();
    }
}

} // namespace

int main(int argc, char** argv)
{
    return oxbench::RunBenchmarks(argc, argv, registerAll);
}
