// Geometry, channel and Bayer mosaic operations next to their baselines, measured in the same run:
//   vs_memcpy: time of the operation / time of a memcpy moving the same traffic. An operation that
//              reads R bytes and writes W bytes is compared with a memcpy of (R + W) / 2 bytes,
//              which reads and writes that many; 1.0 is the physical limit.
//   vs_opencv: time of the operation / time of OpenCV's nearest equivalent (when OpenCV is found);
//              vs_opencv_out compares an in-place flip with OpenCV's out-of-place flip.
// Each iteration runs the operation and every baseline once, on buffers of the standard sizes.

#include <ox/bayer.h>
#include <ox/channels.h>
#include <ox/geometry.h>
#include <ox/imagebuf.h>

#include <benchmark/benchmark.h>

#include "compare.h"

#if OX_BENCH_HAVE_OPENCV
#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>
#endif

#include <chrono>
#include <cstring>
#include <functional>
#include <map>
#include <string>
#include <utility>
#include <vector>

using namespace ox;

namespace {

using Clock = std::chrono::steady_clock;

struct Shape
{
    const char* name;
    int width, height, channels;
    ExImageDataType type;
    ExBayerGrid grid;
};

const Shape kRgb8{"rgb8_4096x3072", 4096, 3072, 3, eUInt8, eNoBayer};
const Shape kMono16{"mono16_2048x2048", 2048, 2048, 1, eUInt16, eNoBayer};
const Shape kMosaic8{"mosaic8_4096x3072", 4096, 3072, 1, eUInt8, eBGGR};
const Shape kMosaic16{"mosaic16_4096x3072", 4096, 3072, 1, eUInt16, eBGGR};

// An allocated buffer with varied contents, released at the end of the scope.
struct Image : SxImageBuf
{
    Image(int w, int h, int c, ExImageDataType t, ExBayerGrid g = eNoBayer, ExPixelPacking p = ePixel)
    {
        AllocBuffer(*this, w, h, c, t, 0, 0, p, true, eUncompressed);
        bayerGrid = g;
        for (quint64 i = 0; i < dataSize; ++i)
            data[i] = quint8(i * 2654435761u >> 13);
    }
    explicit Image(const Shape& s, ExPixelPacking p = ePixel)
        : Image(s.width, s.height, s.channels, s.type, s.grid, p)
    {}
    ~Image() { FreeBuffer(*this); }
    quint64 bytes() const { return quint64(rowBytes) * height * (packing == ePlanar ? channels : 1); }
};

using oxbench::compare;
using oxbench::Named;

#if OX_BENCH_HAVE_OPENCV
int cvType(const Shape& s)
{
    return CV_MAKETYPE(s.type == eUInt8 ? CV_8U : CV_16U, s.channels);
}
cv::Mat cvImage(const Shape& s)
{
    return cv::Mat(s.height, s.width, cvType(s), cv::Scalar::all(77));
}
#define OX_OPENCV(...) __VA_ARGS__
#else
#define OX_OPENCV(...)
#endif

// ---- Geometry ---------------------------------------------------------------------------------

void BM_ReverseRowOrder(benchmark::State& state, Shape s)
{
    Image img(s);
    OX_OPENCV(cv::Mat m = cvImage(s), o;)
    compare(state, img.bytes(), [&] { return ReverseRowOrder(img); },
            {OX_OPENCV({"vs_opencv", [&] { cv::flip(m, m, 0); }},
                       {"vs_opencv_out", [&] { cv::flip(m, o, 0); }})});
}

void BM_ReverseColOrder(benchmark::State& state, Shape s)
{
    Image img(s);
    OX_OPENCV(cv::Mat m = cvImage(s), o;)
    compare(state, img.bytes(), [&] { return ReverseColOrder(img); },
            {OX_OPENCV({"vs_opencv", [&] { cv::flip(m, m, 1); }},
                       {"vs_opencv_out", [&] { cv::flip(m, o, 1); }})});
}

void BM_Transpose(benchmark::State& state, Shape s)
{
    Image src(s), dst(s.height, s.width, s.channels, s.type);
    OX_OPENCV(cv::Mat m = cvImage(s), o;)
    compare(state, src.bytes(), [&] { return Transpose(src, dst); },
            {OX_OPENCV({"vs_opencv", [&] { cv::transpose(m, o); }})});
}

// Shrinks to `percent` of the size; the source rows that are kept are read whole.
void BM_Resample(benchmark::State& state, Shape s, int percent)
{
    Image src(s), dst(s.width * percent / 100, s.height * percent / 100, s.channels, s.type, s.grid);
    const double keptRows = percent == 50 ? 0.5 : percent / 100.0;
    OX_OPENCV(cv::Mat m = cvImage(s), o;)
    compare(state, quint64((src.bytes() * keptRows + dst.bytes()) / 2), [&] { return Resample(src, dst); },
            {OX_OPENCV({"vs_opencv", [&] {
                            cv::resize(m, o, cv::Size(dst.width, dst.height), 0, 0, cv::INTER_NEAREST);
                        }})});
}

// ---- Channels ---------------------------------------------------------------------------------

void BM_Invert(benchmark::State& state, Shape s)
{
    Image img(s);
    OX_OPENCV(cv::Mat m = cvImage(s);)
    compare(state, img.bytes(), [&] { return Invert(img); },
            {OX_OPENCV({"vs_opencv", [&] { cv::bitwise_not(m, m); }})});
}

void BM_InvertChannel(benchmark::State& state, Shape s)
{
    Image img(s);
    compare(state, img.bytes(), [&] { return InvertChannel(img, 1); });
}

// One channel of an interleaved image into a single-channel image.
void BM_CopyChannel(benchmark::State& state, Shape s)
{
    Image src(s), dst(s.width, s.height, 1, s.type);
    OX_OPENCV(cv::Mat m = cvImage(s), o;)
    compare(state, (src.bytes() + dst.bytes()) / 2, [&] { return CopyChannel(src, s.channels - 1, dst, 0); },
            {OX_OPENCV({"vs_opencv", [&] { cv::extractChannel(m, o, s.channels - 1); }})});
}

// One plane into one channel of an interleaved image (whose other channels are read and written back).
void BM_CopyChannelPlanarToPixel(benchmark::State& state, Shape s)
{
    Image src(s, ePlanar), dst(s);
    OX_OPENCV(cv::Mat plane(s.height, s.width, CV_MAKETYPE(cvType(s) & 7, 1), cv::Scalar(3));
              cv::Mat m = cvImage(s); const int fromTo[] = {0, 1};)
    compare(state, (src.bytes() / s.channels + 2 * dst.bytes()) / 2,
            [&] { return CopyChannelPlanarToPixel(src, 1, dst, 1); },
            {OX_OPENCV({"vs_opencv", [&] { cv::mixChannels(&plane, 1, &m, 1, fromTo, 1); }})});
}

void BM_SetChannel(benchmark::State& state, Shape s, bool masked)
{
    Image img(s), mask(s.width, s.height, 1, eUInt8);
    compare(state, img.bytes() + (masked ? mask.bytes() / 2 : 0),
            [&] { return masked ? SetChannel(img, 1, mask, 200) : SetChannel(img, 1, 200); });
}

void BM_SwapChannels(benchmark::State& state, Shape s)
{
    Image img(s);
    OX_OPENCV(cv::Mat m = cvImage(s);)
    compare(state, img.bytes(), [&] { return SwapChannels(img, 0, 2); },
            {OX_OPENCV({"vs_opencv", [&] { cv::cvtColor(m, m, cv::COLOR_BGR2RGB); }})});
}

// ---- Bayer mosaics ----------------------------------------------------------------------------

void BM_RawToPlanar(benchmark::State& state, Shape s)
{
    Image raw(s), planes(s.width / 2, s.height / 2, 4, s.type, eNoBayer, ePlanar);
    compare(state, raw.bytes(),
            [&] { return ConvertRawToPlanarRaw(raw, QRect(0, 0, s.width, s.height), s.grid, planes); });
}

void BM_PlanarToRaw(benchmark::State& state, Shape s)
{
    Image raw(s), planes(s.width / 2, s.height / 2, 4, s.type, eNoBayer, ePlanar);
    compare(state, raw.bytes(), [&] { return ConvertPlanarRawToRaw(planes, raw, s.grid); });
}

#if OX_BENCH_HAVE_OPENCV
std::vector<Named> demosaicBaseline(cv::Mat& m, cv::Mat& o, int code)
{
    return {{"vs_opencv", [&m, &o, code] { cv::cvtColor(m, o, code); }}};
}
#endif

void BM_DemosaicSimple(benchmark::State& state, Shape s)
{
    Image raw(s), rgb(s.width / 2, s.height / 2, 3, s.type);
    OX_OPENCV(cv::Mat m = cvImage(s), o;)
    compare(state, (raw.bytes() + rgb.bytes()) / 2,
            [&] { return DemosaicSimple(raw, QRect(0, 0, s.width, s.height), rgb, s.grid); },
            {OX_OPENCV(demosaicBaseline(m, o, cv::COLOR_BayerBG2BGR))});
}

void BM_DemosaicSimplePlanar(benchmark::State& state, Shape s)
{
    Image planes(s.width / 2, s.height / 2, 4, s.type, s.grid, ePlanar),
        rgb(s.width / 2, s.height / 2, 3, s.type);
    compare(state, (planes.bytes() + rgb.bytes()) / 2,
            [&] { return DemosaicSimple(planes, QRect(0, 0, planes.width, planes.height), rgb, s.grid); });
}

void BM_DemosaicSimpleToRGB32(benchmark::State& state, Shape s)
{
    Image raw(s), rgba(s.width / 2, s.height / 2, 4, eUInt8);
    OX_OPENCV(cv::Mat m = cvImage(s), o;)
    compare(state, (raw.bytes() + rgba.bytes()) / 2, [&] { return DemosaicSimpleToRGB32(raw, rgba, 255); },
            {OX_OPENCV(demosaicBaseline(m, o, cv::COLOR_BayerBG2BGRA))});
}

void BM_CopyCellPosition(benchmark::State& state, Shape s)
{
    Image raw(s), out(s.width / 2, s.height / 2, 1, s.type);
    compare(state, (raw.bytes() / 2 + out.bytes()) / 2, [&] { return CopyChannel(raw, 3, out, 0); });
}

void BM_GuessBayerGrid(benchmark::State& state, Shape s)
{
    Image raw(s);
    compare(state, raw.bytes() / 2, [&] {
        return GuessBayerGrid(raw, QRect(0, 0, s.width, s.height)).size() == 2 ? unsigned(eOk) : eErrFailed;
    });
}

template <typename... Args>
void add(const std::string& name, void (*fn)(benchmark::State&, Shape, Args...), Shape s, Args... args)
{
    benchmark::RegisterBenchmark((name + "/" + s.name).c_str(), fn, s, args...)->UseManualTime();
}

void registerAll()
{
    for (const Shape& s : {kRgb8, kMono16}) {
        add("ReverseRowOrder", BM_ReverseRowOrder, s);
        add("ReverseColOrder", BM_ReverseColOrder, s);
        add("Transpose", BM_Transpose, s);
        add("Resample/half", BM_Resample, s, 50);
        add("Resample/0.9", BM_Resample, s, 90);
        add("Invert", BM_Invert, s);
        add("CopyChannel", BM_CopyChannel, s);
    }
    add("InvertChannel", BM_InvertChannel, kRgb8);
    add("CopyChannelPlanarToPixel", BM_CopyChannelPlanarToPixel, kRgb8);
    add("SetChannel", BM_SetChannel, kRgb8, false);
    add("SetChannel/masked", BM_SetChannel, kRgb8, true);
    add("SwapChannels", BM_SwapChannels, kRgb8);
    for (const Shape& s : {kMosaic8, kMosaic16}) {
        add("ConvertRawToPlanarRaw", BM_RawToPlanar, s);
        add("ConvertPlanarRawToRaw", BM_PlanarToRaw, s);
        add("DemosaicSimple", BM_DemosaicSimple, s);
        add("DemosaicSimple/planar", BM_DemosaicSimplePlanar, s);
        add("DemosaicSimpleToRGB32", BM_DemosaicSimpleToRGB32, s);
        add("CopyChannel/cell", BM_CopyCellPosition, s);
        add("Resample/half", BM_Resample, s, 50);
        add("GuessBayerGrid", BM_GuessBayerGrid, s);
    }
}

} // namespace

int main(int argc, char** argv)
{
    return oxbench::RunBenchmarks(argc, argv, registerAll);
}
