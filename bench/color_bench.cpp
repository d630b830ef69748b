// Colour-model conversions and bit-depth operations next to their baselines, measured in the same run:
//   vs_memcpy: time of the operation / time of a memcpy moving the same traffic. An operation that
//              reads R bytes and writes W bytes is compared with a memcpy of (R + W) / 2 bytes,
//              which reads and writes that many; 1.0 is the physical limit.
//   vs_opencv: time of the operation / time of OpenCV's nearest equivalent (when OpenCV is found).
// Each iteration runs the operation and every baseline once, on buffers of the standard sizes.

#include <ox/bitdepth.h>
#include <ox/color.h>
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
    ExPixelPacking packing;
};

const Shape kRgb8{"rgb8_4096x3072", 4096, 3072, 3, eUInt8, ePixel};
const Shape kRgb16{"rgb16_4096x3072", 4096, 3072, 3, eUInt16, ePixel};
const Shape kMono8{"mono8_4096x3072", 4096, 3072, 1, eUInt8, ePixel};
const Shape kMono16Big{"mono16_4096x3072", 4096, 3072, 1, eUInt16, ePixel};
const Shape kMono16{"mono16_2048x2048", 2048, 2048, 1, eUInt16, ePixel};
const Shape kMonoF{"monofloat_2048x2048", 2048, 2048, 1, eFloat, ePixel};
const Shape kRgbF{"rgbfloat_4096x3072", 4096, 3072, 3, eFloat, ePixel};

// The same image with another channel count, type or packing.
Shape with(Shape s, int channels, ExImageDataType type = eUnknown, ExPixelPacking packing = ePixel)
{
    s.channels = channels;
    s.type = type == eUnknown ? s.type : type;
    s.packing = packing;
    return s;
}

// An allocated buffer with varied contents (below 2^depth for 16-bit data), released at the end of
// the scope.
struct Image : SxImageBuf
{
    explicit Image(const Shape& s, int depth = 0)
    {
        AllocBuffer(*this, s.width, s.height, s.channels, s.type, 0, s.type == eUInt16 ? depth : 0, s.packing,
                    true, eUncompressed);
        if (s.type == eFloat) {
            auto* f = reinterpret_cast<float*>(data);
            for (quint64 i = 0; i < dataSize / 4; ++i)
                f[i] = float((i * 2654435761u >> 13) % 10007) * 0.37f - 900.0f;
        } else if (s.type == eUInt16) {
            auto* v = reinterpret_cast<quint16*>(data);
            for (quint64 i = 0; i < dataSize / 2; ++i)
                v[i] = quint16((i * 2654435761u >> 13) & ((1u << colorBitDepth) - 1));
        } else {
            for (quint64 i = 0; i < dataSize; ++i)
                data[i] = quint8(i * 2654435761u >> 13);
        }
    }
    ~Image() { FreeBuffer(*this); }
    quint64 bytes() const { return quint64(rowBytes) * height * (packing == ePlanar ? channels : 1); }
};

using oxbench::compare;
using oxbench::Named;

// Traffic of an operation that reads `src` and writes `dst`.
quint64 traffic(const Image& src, const Image& dst)
{
    return (src.bytes() + dst.bytes()) / 2;
}

#if OX_BENCH_HAVE_OPENCV
int cvDepth(ExImageDataType t)
{
    return t == eUInt8 ? CV_8U : t == eUInt16 ? CV_16U : CV_32F;
}
cv::Mat cvImage(const Shape& s)
{
    return cv::Mat(s.height, s.width, CV_MAKETYPE(cvDepth(s.type), s.channels), cv::Scalar::all(77));
}
std::vector<Named> cvtColor(const Shape& s, int code)
{
    cv::Mat m = cvImage(s);
    return {{"vs_opencv", [m, o = cv::Mat(), code]() mutable { cv::cvtColor(m, o, code); }}};
}
#define OX_OPENCV(...) __VA_ARGS__
#else
#define OX_OPENCV(...)
#endif

// ---- Colour models ----------------------------------------------------------------------------

void BM_RGBToMono(benchmark::State& state, Shape s, bool weighted)
{
    Image src(s), dst(with(s, 1));
    compare(state, traffic(src, dst),
            [&] { return weighted ? ConvertRGBToMono(src, dst, 0.9, 1.2, 0.9) : ConvertRGBToMono(src, dst); },
            {OX_OPENCV(cvtColor(s, cv::COLOR_BGR2GRAY))});
}

void BM_Luminance(benchmark::State& state, Shape s)
{
    Image src(s), dst(with(s, 1));
    compare(state, traffic(src, dst), [&] { return Luminance(src, dst); },
            {OX_OPENCV(cvtColor(s, cv::COLOR_BGR2GRAY))});
}

void BM_MonoToRGB(benchmark::State& state, Shape s, int channels)
{
    Image src(s), dst(with(s, channels));
    compare(state, traffic(src, dst),
            [&] { return channels == 3 ? ConvertMonoToRGB(src, dst) : ConvertMonoToRGBA(src, dst, 255); },
            {OX_OPENCV(cvtColor(s, channels == 3 ? cv::COLOR_GRAY2BGR : cv::COLOR_GRAY2BGRA))});
}

void BM_RGB8ToRGBA8(benchmark::State& state, Shape s)
{
    Image src(s), dst(with(s, 4));
    compare(state, traffic(src, dst), [&] { return ConvertRGB8ToRGBA8(src, dst, 255); },
            {OX_OPENCV(cvtColor(s, cv::COLOR_BGR2BGRA))});
}

void BM_RGBAToRGB(benchmark::State& state, Shape s)
{
    Image src(with(s, 4)), dst(s);
    compare(state, traffic(src, dst),
            [&] { return s.type == eUInt8 ? ConvertRGBA8ToRGB8(src, dst) : ConvertRGBAToRGB(src, dst); },
            {OX_OPENCV(cvtColor(with(s, 4), cv::COLOR_BGRA2BGR))});
}

void BM_SwapRedAndBlue(benchmark::State& state, Shape s)
{
    Image img(s);
    OX_OPENCV(cv::Mat m = cvImage(s);)
    compare(state, img.bytes(), [&] { return SwapRedAndBlue(img); },
            {OX_OPENCV({"vs_opencv", [&] { cv::cvtColor(m, m, cv::COLOR_BGR2RGB); }})});
}

void BM_RGBToPlanar(benchmark::State& state, Shape s)
{
    Image src(s), dst(with(s, 3, eUnknown, ePlanar));
    OX_OPENCV(cv::Mat m = cvImage(s); std::vector<cv::Mat> planes;)
    compare(state, traffic(src, dst), [&] { return ConvertRGBToPlanar(src, dst); },
            {OX_OPENCV({"vs_opencv", [&] { cv::split(m, planes); }})});
}

void BM_PlanarToRGB(benchmark::State& state, Shape s)
{
    Image src(with(s, 3, eUnknown, ePlanar)), dst(s);
    OX_OPENCV(cv::Mat m = cvImage(s), o; std::vector<cv::Mat> planes; cv::split(m, planes);)
    compare(state, traffic(src, dst), [&] { return ConvertPlanarToRGB(src, dst); },
            {OX_OPENCV({"vs_opencv", [&] { cv::merge(planes, o); }})});
}

void BM_RGB8PlanarToRGBA8(benchmark::State& state, Shape s)
{
    Image src(with(s, 3, eUnknown, ePlanar)), dst(with(s, 4));
    compare(state, traffic(src, dst), [&] { return ConvertRGB8PlanarToRGBA8(src, dst, 255); });
}

void BM_PackPixelToPlanar(benchmark::State& state, Shape s)
{
    Image src(s), dst(with(s, s.channels, eUnknown, ePlanar));
    compare(state, traffic(src, dst), [&] { return ConvertPackPixelToPlanar(src, dst); });
}

void BM_ExtractChannel(benchmark::State& state, Shape s)
{
    Image src(s, 12), dst(with(s, 4, eUInt8));
    compare(state, traffic(src, dst), [&] { return ExtractChannelToRGB32(src, 1, dst, 255); });
}

// ---- Display images ---------------------------------------------------------------------------

// Through the 16-bit tables: OpenCV's nearest equivalent scales to 8 bits, then makes BGRA.
void BM_ToRGBA8Table(benchmark::State& state, Shape s, int depth)
{
    Image src(s, depth), dst(with(s, 4, eUInt8));
    OX_OPENCV(cv::Mat m = cvImage(s), bytes, o;)
    compare(state, traffic(src, dst), [&] { return ConvertToRGBA8(src, dst, 255); },
            {OX_OPENCV({"vs_opencv", [&] {
                            m.convertTo(bytes, CV_8U, 255.0 / ((1 << depth) - 1));
                            cv::cvtColor(bytes, o,
                                         s.channels == 1 ? cv::COLOR_GRAY2BGRA : cv::COLOR_BGR2BGRA);
                        }})});
}

// The linear stretch: OpenCV's nearest equivalent finds the range, then scales to 8 bits.
void BM_ToRGBA8Stretch(benchmark::State& state, Shape s)
{
    Image src(s), dst(with(s, 4, eUInt8));
    OX_OPENCV(cv::Mat m(s.height, s.width, CV_MAKETYPE(CV_32F, s.channels), src.data, src.rowBytes), o;)
    compare(state, traffic(src, dst), [&] { return ConvertToRGBA8(src, dst, 255); },
            {OX_OPENCV({"vs_opencv", [&] {
                            double lo, hi;
                            cv::minMaxLoc(m.reshape(1), &lo, &hi);
                            m.convertTo(o, CV_8U, 255.0 / (hi - lo), -lo * 255.0 / (hi - lo));
                        }})});
}

void BM_ToRGBA8Bytes(benchmark::State& state, Shape s)
{
    Image src(s), dst(with(s, 4));
    compare(state, traffic(src, dst), [&] { return ConvertToRGBA8(src, dst, 255); },
            {OX_OPENCV(cvtColor(s, s.channels == 1 ? cv::COLOR_GRAY2BGRA : cv::COLOR_BGR2BGRA))});
}

// ---- Bit depth --------------------------------------------------------------------------------

void BM_DetectColorBitDepth(benchmark::State& state, Shape s)
{
    Image src(s, 12);
    int depth = 0;
    compare(state, src.bytes() / 2, [&] { return DetectColorBitDepth(src, depth); });
}

void BM_ShiftBits(benchmark::State& state, Shape s)
{
    Image img(s, 12);
    OX_OPENCV(cv::Mat m = cvImage(s);)
    int shift = 4;
    compare(state, img.bytes(), [&] { return ShiftBits(img, shift = -shift); },
            {OX_OPENCV({"vs_opencv", [&] { m.convertTo(m, -1, 16.0); }})});
}

void BM_ReduceBits(benchmark::State& state, Shape s)
{
    Image src(s, 12), dst(with(s, s.channels, eUInt8));
    OX_OPENCV(cv::Mat m = cvImage(s), o;)
    compare(state, traffic(src, dst), [&] { return ReduceBits(src, dst, nullptr); },
            {OX_OPENCV({"vs_opencv", [&] { m.convertTo(o, CV_8U, 255.0 / 4095); }})});
}

void BM_ReduceBitsChannel(benchmark::State& state, Shape s)
{
    Image src(s, 12), dst(with(s, s.channels, eUInt8));
    compare(state, (src.bytes() / s.channels + dst.bytes() * 2 / s.channels) / 2,
            [&] { return ReduceBits(src, 1, dst, 1); });
}

void BM_ScaleColors(benchmark::State& state, Shape s)
{
    Image src(s, 12), dst(with(s, s.channels, eUInt8));
    unsigned short maxValues[3] = {255, 200, 100};
    compare(state, traffic(src, dst), [&] { return ScaleColors(src, dst, maxValues); });
}

void BM_RetypeUToU(benchmark::State& state, Shape s)
{
    Image src(s), dst(with(s, s.channels, eUInt8));
    OX_OPENCV(cv::Mat m = cvImage(s), o;)
    compare(state, traffic(src, dst), [&] { return RetypeUToU(src, dst); },
            {OX_OPENCV({"vs_opencv", [&] { m.convertTo(o, CV_8U); }})});
}

void BM_RetypeFloatToU(benchmark::State& state, Shape s, ExImageDataType to)
{
    Image src(s), dst(with(s, s.channels, to));
    OX_OPENCV(cv::Mat m = cvImage(s), o;)
    compare(state, traffic(src, dst), [&] { return RetypeFloatToU(src, dst); },
            {OX_OPENCV({"vs_opencv", [&] { m.convertTo(o, cvDepth(to)); }})});
}

template <typename... Args>
void add(const std::string& name, void (*fn)(benchmark::State&, Shape, Args...), Shape s, Args... args)
{
    benchmark::RegisterBenchmark((name + "/" + s.name).c_str(), fn, s, args...)->UseManualTime();
}

void registerAll()
{
    for (const Shape& s : {kRgb8, kRgb16}) {
        add("ConvertRGBToMono", BM_RGBToMono, s, false);
        add("ConvertRGBToMono/weighted", BM_RGBToMono, s, true);
        add("Luminance", BM_Luminance, s);
        add("ConvertRGBAToRGB", BM_RGBAToRGB, s);
        add("SwapRedAndBlue", BM_SwapRedAndBlue, s);
        add("ConvertRGBToPlanar", BM_RGBToPlanar, s);
        add("ConvertPlanarToRGB", BM_PlanarToRGB, s);
        add("ConvertPackPixelToPlanar", BM_PackPixelToPlanar, with(s, 4));
    }
    for (const Shape& s : {kMono8, kMono16Big}) {
        add("ConvertMonoToRGB", BM_MonoToRGB, s, 3);
        add("ConvertMonoToRGBA", BM_MonoToRGB, s, 4);
    }
    add("ConvertRGB8ToRGBA8", BM_RGB8ToRGBA8, kRgb8);
    add("ConvertRGB8PlanarToRGBA8", BM_RGB8PlanarToRGBA8, kRgb8);
    add("ExtractChannelToRGB32", BM_ExtractChannel, kRgb16);
    add("ConvertToRGBA8/12bit", BM_ToRGBA8Table, kMono16, 12);
    add("ConvertToRGBA8/12bit", BM_ToRGBA8Table, kRgb16, 12);
    add("ConvertToRGBA8/stretch", BM_ToRGBA8Stretch, kMonoF);
    add("ConvertToRGBA8/stretch", BM_ToRGBA8Stretch, kRgbF);
    add("ConvertToRGBA8/bytes", BM_ToRGBA8Bytes, kRgb8);
    add("ConvertToRGBA8/bytes", BM_ToRGBA8Bytes, kMono8);
    for (const Shape& s : {kMono16, kRgb16}) {
        add("DetectColorBitDepth", BM_DetectColorBitDepth, s);
        add("ShiftBits", BM_ShiftBits, s);
        add("ReduceBits", BM_ReduceBits, s);
        add("ScaleColors", BM_ScaleColors, s);
        add("RetypeUToU", BM_RetypeUToU, s);
    }
    add("ReduceBits/channel", BM_ReduceBitsChannel, kRgb16);
    add("ShiftBits", BM_ShiftBits, kRgb8);
    add("RetypeFloatToU/uint8", BM_RetypeFloatToU, kRgbF, eUInt8);
    add("RetypeFloatToU/uint16", BM_RetypeFloatToU, kMonoF, eUInt16);
}

} // namespace

int main(int argc, char** argv)
{
    return oxbench::RunBenchmarks(argc, argv, registerAll);
}
