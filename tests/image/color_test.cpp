#include <ox/color.h>

#include "support/image_helpers.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <thread>
#include <utility>
#include <vector>

using namespace ox;
using oxtest::everyComponent;
using oxtest::getLogical;
using oxtest::getPixel;
using oxtest::paddingIs;
using Image = oxtest::ScopedImage;

namespace {

constexpr int W = 67, H = 45; // odd sizes: no row is a multiple of a vector

// Values that cover the type's range, negative ones included for signed types.
template <typename T>
T valueAt(int x, int y, int c)
{
    const long long v = (x * 37 + y * 101 + c * 59) % 251;
    if constexpr (std::is_floating_point_v<T>)
        return T(v * 1.37 - 120.25);
    else if constexpr (std::is_signed_v<T>)
        return T(v - 125) * T(sizeof(T) > 1 ? 97 : 1);
    else
        return T(v * (sizeof(T) > 1 ? 257 : 1));
}

template <typename T>
void fillValues(SxImageBuf& b, int salt = 0)
{
    oxtest::fillLogical<T>(b, [salt](int x, int y, int c) { return valueAt<T>(x, y, c + salt); });
}

// The layouts of colour images: 3 or 4 interleaved channels, 3 planes.
const std::pair<int, ExPixelPacking> kColourLayouts[] = {{3, ePixel}, {4, ePixel}, {3, ePlanar}};

} // namespace

TEST(ColorMonoToColour, EveryColourChannelTakesTheMonoValueAndAlphaItsLowBytes)
{
    oxtest::forEachType({eInt8, eUInt8, eInt16, eUInt16}, [](ExImageDataType t, auto v) {
        using T = decltype(v);
        Image mono(W, H, 1, t), rgb(W, H, 3, t), rgba(W, H, 4, t);
        fillValues<T>(mono);
        ASSERT_EQ(ConvertMonoToRGB(mono, rgb), eOk);
        ASSERT_EQ(ConvertMonoToRGBA(mono, rgba, 0x1234), eOk);
        EXPECT_TRUE(everyComponent(
            rgb, [&](int x, int y, int c) { return getPixel<T>(rgb, x, y, c) == getPixel<T>(mono, x, y); }));
        EXPECT_TRUE(everyComponent(rgba, [&](int x, int y, int c) {
            return getPixel<T>(rgba, x, y, c) == (c == 3 ? T(0x1234) : getPixel<T>(mono, x, y));
        }));
        EXPECT_TRUE(paddingIs(rgb, 0xcd) && paddingIs(rgba, 0xcd));
    });
}

TEST(ColorMonoToColour, ChecksArgumentsInOrderAndWritesNothingOnError)
{
    Image mono(W, H, 1, eUInt8), rgb(W, H, 3, eUInt8), wide(W, H, 1, eInt32), wideRgb(W, H, 3, eInt32);
    SxImageBuf none;
    EXPECT_EQ(ConvertMonoToRGB(none, rgb), eErrInvalidArg1);
    EXPECT_EQ(ConvertMonoToRGB(rgb, rgb), eErrInvalidArg1);
    EXPECT_EQ(ConvertMonoToRGB(mono, none), eErrInvalidArg2);
    EXPECT_EQ(ConvertMonoToRGBA(mono, rgb, 0), eErrInvalidArg2);
    EXPECT_EQ(ConvertMonoToRGB(mono, oxtest::changed(rgb, [](SxImageBuf& b) { b.width--; })),
              eErrInvalidArg2);
    EXPECT_EQ(ConvertMonoToRGB(mono, oxtest::changed(rgb, [](SxImageBuf& b) { b.packing = ePlanar; })),
              eErrInvalidArg2);
    EXPECT_EQ(ConvertMonoToRGB(mono, wideRgb), eErrInvalidArg2);
    EXPECT_EQ(ConvertMonoToRGB(wide, wideRgb), eErrUnsupported);
    EXPECT_TRUE(
        everyComponent(rgb, [&](int x, int y, int c) { return oxtest::bytesAre(rgb, x, y, c, 0xcd); }));
    EXPECT_TRUE(everyComponent(
        wideRgb, [&](int x, int y, int c) { return oxtest::bytesAre(wideRgb, x, y, c, 0xcd); }));
}

TEST(ColorRgbRgba, Rgb8ToRgba8CopiesMemoryOrderAndRegionsLandAtTheTopLeft)
{
    Image rgb(W, H, 3, eUInt8), rgba(W, H, 4, eUInt8), big(W + 5, H + 3, 4, eUInt8);
    rgba.colorOrder = 2; // memory order is kept whatever the orders say
    oxtest::fillRaw(rgb);
    ASSERT_EQ(ConvertRGB8ToRGBA8(rgb, rgba, 77), eOk);
    EXPECT_TRUE(everyComponent(rgba, [&](int x, int y, int c) {
        return c == 3 ? getPixel<quint8>(rgba, x, y, 3) == 77 : oxtest::holds(rgba, x, y, c, x, y, c);
    }));
    const QRect rect(3, 5, 40, 31);
    ASSERT_EQ(ConvertRGB8ToRGBA8(rgb, rect, big, 9), eOk);
    EXPECT_TRUE(everyComponent(big, [&](int x, int y, int c) {
        if (!rect.translated(-rect.topLeft()).contains(x, y))
            return oxtest::bytesAre(big, x, y, c, 0xcd);
        return c == 3 ? getPixel<quint8>(big, x, y, 3) == 9 : oxtest::holds(big, x, y, c, x + 3, y + 5, c);
    }));

    Image small(39, 31, 4, eUInt8), rgb16(W, H, 3, eUInt16);
    EXPECT_EQ(ConvertRGB8ToRGBA8(rgb16, rgba, 0), eErrInvalidArg1);
    EXPECT_EQ(ConvertRGB8ToRGBA8(rgb, QRect(30, 5, 40, 31), small, 0), eErrInvalidArg2);
    EXPECT_EQ(ConvertRGB8ToRGBA8(rgb, rect, small, 0), eErrInvalidArg3);
    EXPECT_EQ(ConvertRGB8ToRGBA8(rgb, small, 0), eErrInvalidArg2);
    EXPECT_EQ(ConvertRGB8ToRGBA8(rgb, rgb, 0), eErrInvalidArg2);
    EXPECT_TRUE(
        everyComponent(small, [&](int x, int y, int c) { return oxtest::bytesAre(small, x, y, c, 0xcd); }));
}

TEST(ColorRgbRgba, AlphaIsDroppedAndLogicalChannelsKeptForEveryTypeAndOrder)
{
    oxtest::forEachType({eInt8, eUInt8, eUInt16, eInt32, eFloat, eDouble, eUInt64}, [](ExImageDataType t,
                                                                                       auto v) {
        using T = decltype(v);
        for (int srcOrder : {1, 2})
            for (int dstOrder : {0, 2}) {
                Image rgba(W, H, 4, t), rgb(W, H, 3, t);
                rgba.colorOrder = srcOrder;
                rgb.colorOrder = dstOrder;
                fillValues<T>(rgba);
                const bool eight = t == eUInt8;
                ASSERT_EQ(eight ? ConvertRGBA8ToRGB8(rgba, rgb) : ConvertRGBAToRGB(rgba, rgb), eOk);
                EXPECT_TRUE(everyComponent(
                    rgb, [&](int x, int y,
                             int c) { return getLogical<T>(rgb, x, y, c) == getLogical<T>(rgba, x, y, c); }))
                    << t << " orders " << srcOrder << " " << dstOrder;
                const QRect rect(7, 2, 50, 40);
                ASSERT_EQ(eight ? ConvertRGBA8ToRGB8(rgba, rect, rgb) : ConvertRGBAToRGB(rgba, rect, rgb),
                          eOk);
                EXPECT_EQ(getLogical<T>(rgb, 49, 39, 0), getLogical<T>(rgba, 56, 41, 0));
                EXPECT_EQ(getLogical<T>(rgb, 50, 39, 2), getLogical<T>(rgba, 50, 39, 2)); // outside: kept
                EXPECT_TRUE(paddingIs(rgb, 0xcd));
            }
    });
    Image rgba(W, H, 4, eUInt8), rgb(W, H, 3, eUInt8), c4(W, H, 4, eComplex), c3(W, H, 3, eComplex),
        small(10, 10, 3, eUInt8);
    EXPECT_EQ(ConvertRGBA8ToRGB8(rgb, rgb), eErrInvalidArg1);
    EXPECT_EQ(ConvertRGBA8ToRGB8(rgba, small), eErrInvalidArg2);
    EXPECT_EQ(ConvertRGBA8ToRGB8(rgba, QRect(0, 0, 11, 10), small), eErrInvalidArg3);
    EXPECT_EQ(ConvertRGBAToRGB(rgba, QRect(60, 0, 11, 10), small), eErrInvalidArg2);
    EXPECT_EQ(ConvertRGBAToRGB(rgba, small), eErrInvalidArg2);
    EXPECT_EQ(ConvertRGBAToRGB(rgba, QRect(0, 0, 11, 10), small), eErrInvalidArg3);
    EXPECT_EQ(ConvertRGBAToRGB(c4, c3), eErrUnsupported);
}

TEST(ColorToMono, AverageAndWeightedSumsTruncateForEveryTypeAndLayout)
{
    // Small weights, and weights whose products need 64 bits.
    for (const std::vector<double>& w :
         {std::vector<double>{-0.7, 1.3, 2.2}, std::vector<double>{3e4, -2.5e4, 1e5}})
        oxtest::forEachType(
            {eInt8, eUInt8, eInt16, eUInt16, eInt32, eUInt32, eFloat, eDouble, eInt64, eUInt64},
            [&w](ExImageDataType t, auto v) {
                using T = decltype(v);
                for (const auto& layout : kColourLayouts) {
                    const int channels = layout.first;
                    const ExPixelPacking packing = layout.second;
                    Image src(W, H, channels, t, packing), avg(W, H, 1, t), weighted(W, H, 1, t);
                    fillValues<T>(src);
                    ASSERT_EQ(ConvertRGBToMono(src, avg), eOk);
                    ASSERT_EQ(ConvertRGBToMono(src, weighted, w[0], w[1], w[2]), eOk);
                    EXPECT_TRUE(everyComponent(avg,
                                               [&](int x, int y, int) {
                                                   const T r = getLogical<T>(src, x, y, 0),
                                                           g = getLogical<T>(src, x, y, 1),
                                                           b = getLogical<T>(src, x, y, 2);
                                                   T mean, sum;
                                                   if constexpr (std::is_floating_point_v<T>) {
                                                       mean = T((double(r) + double(g) + double(b)) / 3);
                                                       sum = T((w[0] * r + w[1] * g + w[2] * b) / 3);
                                                   } else {
                                                       mean = T((__int128(r) + g + b) / 3);
                                                       sum = T((__int128(std::trunc(w[0] * double(r))) +
                                                                __int128(std::trunc(w[1] * double(g))) +
                                                                __int128(std::trunc(w[2] * double(b)))) /
                                                               3);
                                                   }
                                                   return getPixel<T>(avg, x, y) == mean &&
                                                          getPixel<T>(weighted, x, y) == sum;
                                               }))
                        << t << " " << channels << " channels, packing " << packing;
                }
            });
    // Blue first in memory: bytes 31, 20, 10 are red 10, green 20, blue 31.
    Image bgr(1, 1, 3, eUInt8), rgb(1, 1, 3, eUInt8), mono(1, 1, 1, eUInt8);
    rgb.colorOrder = 2;
    const quint8 bytes[3] = {31, 20, 10};
    std::memcpy(bgr.data, bytes, 3);
    std::memcpy(rgb.data, bytes, 3);
    ASSERT_EQ(ConvertRGBToMono(bgr, mono), eOk);
    EXPECT_EQ(mono.data[0], 20);
    ASSERT_EQ(ConvertRGBToMono(bgr, mono, 0.5, 1, 1.5), eOk);
    EXPECT_EQ(mono.data[0], (5 + 20 + 46) / 3);
    ASSERT_EQ(ConvertRGBToMono(rgb, mono, 0.5, 1, 1.5), eOk);
    EXPECT_EQ(mono.data[0], (15 + 20 + 15) / 3);
}

TEST(ColorToMono, ChecksArgumentsInOrder)
{
    Image two(W, H, 2, eUInt8), planar4(W, H, 4, eUInt8, ePlanar), rgb(W, H, 3, eUInt8),
        mono(W, H, 1, eUInt8), mono16(W, H, 1, eUInt16), c3(W, H, 3, eComplex), c1(W, H, 1, eComplex);
    SxImageBuf none;
    for (SxImageBuf* src : {&none, static_cast<SxImageBuf*>(&two), static_cast<SxImageBuf*>(&planar4)}) {
        EXPECT_EQ(ConvertRGBToMono(*src, none), eErrInvalidArg1);
        EXPECT_EQ(ConvertRGBToMono(*src, none, 1, 1, 1), eErrInvalidArg1);
    }
    EXPECT_EQ(ConvertRGBToMono(rgb, none), eErrInvalidArg2);
    EXPECT_EQ(ConvertRGBToMono(rgb, rgb), eErrInvalidArg2);
    EXPECT_EQ(ConvertRGBToMono(rgb, mono16, 1, 1, 1), eErrInvalidArg2);
    EXPECT_EQ(ConvertRGBToMono(rgb, oxtest::changed(mono, [](SxImageBuf& b) { b.height--; })),
              eErrInvalidArg2);
    EXPECT_EQ(ConvertRGBToMono(c3, c1), eErrUnsupported);
    EXPECT_EQ(ConvertRGBToMono(c3, c1, 1, 1, 1), eErrUnsupported);
}

TEST(ColorLuminance, WeightsColoursOfPixelsAndMosaicCellsInDoublePrecision)
{
    const auto luma = [](double r, double g, double b) { return 0.7152 * g + 0.2126 * r + 0.0722 * b; };
    oxtest::forEachType({eUInt8, eUInt16}, [&](ExImageDataType t, auto v) {
        using T = decltype(v);
        for (const auto& layout : kColourLayouts) {
            const int channels = layout.first;
            const ExPixelPacking packing = layout.second;
            Image src(W, H, channels, t, packing), dst(W, H, 1, t);
            fillValues<T>(src);
            ASSERT_EQ(Luminance(src, dst), eOk);
            EXPECT_TRUE(everyComponent(dst, [&](int x, int y, int) {
                return getPixel<T>(dst, x, y) ==
                       T(luma(getLogical<T>(src, x, y, 0), getLogical<T>(src, x, y, 1),
                              getLogical<T>(src, x, y, 2)));
            }));
        }
        // Red, top green, bottom green and blue positions (dx, dy) of each layout.
        const int cells[4][4][2] = {{{1, 1}, {1, 0}, {0, 1}, {0, 0}},
                                    {{0, 0}, {1, 0}, {0, 1}, {1, 1}},
                                    {{0, 1}, {0, 0}, {1, 1}, {1, 0}},
                                    {{1, 0}, {0, 0}, {1, 1}, {0, 1}}};
        for (ExBayerGrid grid : {eBGGR, eRGGB, eGBRG, eGRBG}) {
            Image raw(W, H, 1, t, ePixel, grid), dst(W / 2, H / 2, 1, t);
            fillValues<T>(raw);
            ASSERT_EQ(Luminance(raw, dst), eOk);
            EXPECT_TRUE(everyComponent(
                dst,
                [&](int i, int j, int) {
                    const auto at = [&](int k) {
                        return double(getPixel<T>(raw, 2 * i + cells[grid][k][0], 2 * j + cells[grid][k][1]));
                    };
                    return getPixel<T>(dst, i, j) == T(luma(at(0), (at(1) + at(2)) / 2, at(3)));
                }))
                << "grid " << grid;
            EXPECT_TRUE(paddingIs(dst, 0xcd));
        }
    });
    Image white(1, 1, 3, eUInt8), grey(1, 1, 1, eUInt8), mono(W, H, 1, eUInt16), copy(W, H, 1, eUInt16);
    std::memset(white.data, 255, 3);
    ASSERT_EQ(Luminance(white, grey), eOk);
    EXPECT_EQ(grey.data[0], 254); // the sum is just below 255
    oxtest::fillRaw(mono);
    ASSERT_EQ(Luminance(mono, copy), eOk);
    EXPECT_TRUE(
        everyComponent(copy, [&](int x, int y, int c) { return oxtest::holds(copy, x, y, c, x, y, c); }));
}

TEST(ColorLuminance, ChecksArgumentsInOrder)
{
    Image rgb(W, H, 3, eUInt8), rgb16(W, H, 3, eInt16), mono(W, H, 1, eUInt8), mono16(W, H, 1, eUInt16),
        raw(W, H, 1, eUInt8, ePixel, eRGGB), two(W, H, 2, eUInt8), small(W - 1, H, 1, eUInt8);
    SxImageBuf none;
    EXPECT_EQ(Luminance(none, mono), eErrInvalidArg1);
    EXPECT_EQ(Luminance(rgb16, mono16), eErrInvalidArg1);
    EXPECT_EQ(Luminance(rgb, none), eErrInvalidArg1);
    EXPECT_EQ(Luminance(rgb, rgb), eErrInvalidArg1);
    EXPECT_EQ(Luminance(rgb, mono16), eErrInvalidArg2);
    EXPECT_EQ(Luminance(rgb, oxtest::changed(mono, [](SxImageBuf& b) { b.colorBitDepth = 7; })),
              eErrInvalidArg2);
    EXPECT_EQ(Luminance(rgb, small), eErrInvalidArg2);
    EXPECT_EQ(Luminance(raw, mono), eErrInvalidArg2);
    EXPECT_EQ(Luminance(two, mono), eErrUnsupported);
    EXPECT_EQ(Luminance(mono, small), eErrFailed); // the copy refuses another size
}

TEST(ColorPlanar, InterleavedAndPlanarRoundTripKeepsLogicalChannels)
{
    oxtest::forEachType({eUInt8, eUInt16}, [](ExImageDataType t, auto v) {
        using T = decltype(v);
        Image rgb(W, H, 3, t), planes(W, H, 3, t, ePlanar), back(W, H, 4, t), part(40, 30, 3, t, ePlanar);
        fillValues<T>(rgb);
        ASSERT_EQ(ConvertRGBToPlanar(rgb, planes), eOk);
        EXPECT_TRUE(everyComponent(planes, [&](int x, int y, int c) {
            return getPixel<T>(planes, x, y, c) == getLogical<T>(rgb, x, y, c);
        }));
        ASSERT_EQ(ConvertPlanarToRGB(planes, back), eOk);
        EXPECT_TRUE(everyComponent(back, [&](int x, int y, int c) {
            return c == 3 ? oxtest::bytesAre(back, x, y, 3, 0xcd)
                          : getLogical<T>(back, x, y, c) == getLogical<T>(rgb, x, y, c);
        }));
        ASSERT_EQ(ConvertRGBToPlanar(rgb, QRect(20, 11, 40, 30), part), eOk);
        EXPECT_EQ(getPixel<T>(part, 39, 29, 0), getLogical<T>(rgb, 59, 40, 0));
        EXPECT_TRUE(paddingIs(part, 0xcd) && paddingIs(back, 0xcd));
    });
    Image planes(W, H, 3, eUInt8, ePlanar), rgba(W, H, 4, eUInt8), rgb(W, H, 3, eUInt8);
    oxtest::fillRaw(planes);
    ASSERT_EQ(ConvertRGB8PlanarToRGBA8(planes, rgba, 200), eOk);
    EXPECT_TRUE(everyComponent(rgba, [&](int x, int y, int c) {
        return c == 3 ? getPixel<quint8>(rgba, x, y, 3) == 200 : oxtest::holds(rgba, x, y, 2 - c, x, y, c);
    }));

    Image planes32(W, H, 3, eInt32, ePlanar), rgb32(W, H, 3, eInt32), small(W, H - 1, 3, eUInt8, ePlanar);
    SxImageBuf none;
    EXPECT_EQ(ConvertPlanarToRGB(rgb, rgba), eErrInvalidArg1);
    EXPECT_EQ(ConvertPlanarToRGB(planes, none), eErrInvalidArg2);
    EXPECT_EQ(ConvertPlanarToRGB(planes32, rgb32), eErrInvalidArg2);
    EXPECT_EQ(ConvertRGB8PlanarToRGBA8(planes32, rgba, 0), eErrInvalidArg1);
    EXPECT_EQ(ConvertRGB8PlanarToRGBA8(planes, rgb, 0), eErrInvalidArg2);
    EXPECT_EQ(ConvertRGBToPlanar(rgb32, planes32), eErrInvalidArg1);
    EXPECT_EQ(ConvertRGBToPlanar(rgb, QRect(0, 0, W + 1, H), planes), eErrInvalidArg2);
    EXPECT_EQ(ConvertRGBToPlanar(rgb, QRect(0, 0, W, H), small), eErrInvalidArg3);
    EXPECT_EQ(ConvertRGBToPlanar(rgb, small), eErrInvalidArg2);
}

TEST(ColorPackPixelToPlanar, ChoosesTheWorkByLayoutAndChannelCount)
{
    // Five channels of any size are de-interleaved in memory order.
    oxtest::forEachType({eUInt8, eInt16, eFloat, eUInt64}, [](ExImageDataType t, auto) {
        Image src(W, H, 5, t), dst(W, H, 5, t, ePlanar);
        oxtest::fillRaw(src);
        ASSERT_EQ(ConvertPackPixelToPlanar(src, dst), eOk);
        EXPECT_TRUE(
            everyComponent(dst, [&](int x, int y, int c) { return oxtest::holds(dst, x, y, c, x, y, c); }));
    });
    Image bgr(W, H, 3, eUInt8), planes(W, H, 3, eUInt8, ePlanar),
        raw(W - 1, H - 1, 1, eUInt16, ePixel, eGRBG), rawPlanes(W / 2, H / 2, 4, eUInt16, ePlanar);
    oxtest::fillRaw(bgr);
    ASSERT_EQ(ConvertPackPixelToPlanar(bgr, planes), eOk);
    EXPECT_TRUE(oxtest::holds(planes, 5, 6, 0, 5, 6, 2)); // red, stored third
    oxtest::fillRaw(raw);
    ASSERT_EQ(ConvertPackPixelToPlanar(raw, rawPlanes), eOk);
    EXPECT_TRUE(oxtest::holds(rawPlanes, 4, 7, 0, 9, 14, 0)); // red of eGRBG is top-right
    EXPECT_EQ(rawPlanes.bayerGrid, eGRBG);

    Image spectral(W, H, 1, eUInt8, ePixel, eMultispectral), cube(W / 4, H / 3, 12, eUInt8, ePlanar),
        floats(W, H, 3, eFloat), floatPlanes(W, H, 3, eFloat, ePlanar), c5(W, H, 5, eComplex),
        c5Planes(W, H, 5, eComplex, ePlanar);
    SxImageBuf none;
    EXPECT_EQ(ConvertPackPixelToPlanar(none, planes), eErrInvalidArg1);
    EXPECT_EQ(ConvertPackPixelToPlanar(planes, planes), eErrInvalidArg1);
    EXPECT_EQ(ConvertPackPixelToPlanar(bgr, bgr), eErrInvalidArg2);
    EXPECT_EQ(ConvertPackPixelToPlanar(bgr, floatPlanes), eErrInvalidArg2);
    EXPECT_EQ(ConvertPackPixelToPlanar(oxtest::changed(raw, [](SxImageBuf& b) { b.width -= 2; }), rawPlanes),
              eErrInvalidArg2);
    EXPECT_EQ(ConvertPackPixelToPlanar(spectral, cube), eErrInvalidArg1);
    spectral.mosaicWidth = 4;
    spectral.mosaicHeight = 3;
    EXPECT_EQ(ConvertPackPixelToPlanar(spectral, planes), eErrInvalidArg2);
    EXPECT_EQ(ConvertPackPixelToPlanar(spectral, cube), eErrUnsupported);
    EXPECT_EQ(ConvertPackPixelToPlanar(floats, floatPlanes), eErrFailed); // three channels need 8/16 bits
    EXPECT_EQ(ConvertPackPixelToPlanar(c5, c5Planes), eErrUnsupported);
    EXPECT_EQ(ConvertPackPixelToPlanar(oxtest::changed(raw, [](SxImageBuf& b) { b.width++; }), rawPlanes),
              eErrFailed); // an odd mosaic width cannot be split
}

TEST(ColorToRGBA8, SixteenBitDataGoesThroughRoundedTablesAndIsLimitedToItsDepth)
{
    for (int depth : {1, 5, 8, 12, 16}) {
        const long long top = (1LL << depth) - 1;
        const auto level = [top](long long v) { return quint8((std::min(v, top) * 510 + top) / (2 * top)); };
        Image mono(W, H, 1, eUInt16), rgb(W, H, 3, eUInt16), out(W, H, 4, eUInt8), outRgb(W, H, 4, eUInt8);
        mono.colorBitDepth = rgb.colorBitDepth = depth;
        outRgb.colorOrder = depth % 2 ? 1 : 2;
        const auto value = [top](int x, int y, int c) {
            return std::min((x * 977 + y * 131 + c * 7) % (top + 90), 65535LL); // some above the depth
        };
        oxtest::fill<quint16>(mono, value);
        oxtest::fill<quint16>(rgb, value);
        ASSERT_EQ(ConvertToRGBA8(mono, out, 3), eOk);
        ASSERT_EQ(ConvertToRGBA8(rgb, outRgb, 3), eOk);
        EXPECT_TRUE(everyComponent(out, [&](int x, int y, int c) {
            return getPixel<quint8>(out, x, y, c) == (c == 3 ? 255 : level(value(x, y, 0)));
        })) << depth;
        EXPECT_TRUE(everyComponent(outRgb, [&](int x, int y, int c) {
            return getLogical<quint8>(outRgb, x, y, c) == (c == 3 ? 3 : level(value(x, y, c)));
        })) << depth;
    }
    Image mono(2, 1, 1, eUInt16), out(2, 1, 4, eUInt8);
    mono.colorBitDepth = 12;
    oxtest::setPixel<quint16>(mono, 0, 0, 0, 4095);
    oxtest::setPixel<quint16>(mono, 1, 0, 0, 2048);
    ASSERT_EQ(ConvertToRGBA8(mono, out, 0), eOk);
    EXPECT_EQ(out.data[0], 255);
    EXPECT_EQ(out.data[4], 128);
    EXPECT_EQ(ConvertToRGBA8(oxtest::changed(mono, [](SxImageBuf& b) { b.colorBitDepth = 17; }), out, 0),
              eErrUnsupported);
}

TEST(ColorToRGBA8, TablesAreMadeOnceWhileManyThreadsConvert)
{
    // Depths no other test uses, so that their tables are made here, by racing threads.
    const int depths[] = {2, 3, 4, 6, 7, 9, 10, 11, 13, 14, 15};
    std::vector<std::thread> threads;
    std::vector<int> failures(8, 0);
    for (int t = 0; t < 8; ++t)
        threads.emplace_back([&, t] {
            Image mono(31, 7, 1, eUInt16), rgb(31, 7, 3, eUInt16), out(31, 7, 4, eUInt8);
            for (int k = 0; k < 11; ++k) {
                const int depth = depths[(k + t) % 11];
                const long long top = (1LL << depth) - 1;
                SxImageBuf& src = (k + t) % 2 ? static_cast<SxImageBuf&>(mono) : rgb;
                src.colorBitDepth = depth;
                oxtest::fill<quint16>(src,
                                      [&](int x, int y, int c) { return (x * 61 + y * 7 + c) % (top + 1); });
                failures[t] += ConvertToRGBA8(src, out, 255) != eOk;
                failures[t] += everyComponent(out,
                                              [&](int x, int y, int c) {
                                                  const long long v =
                                                      c == 3 ? 255
                                                             : oxtest::getPixel<quint16>(
                                                                   src, x, y, src.channels == 1 ? 0 : 2 - c);
                                                  return getPixel<quint8>(out, x, y, c) ==
                                                         (c == 3 ? 255 : (v * 510 + top) / (2 * top));
                                              })
                                   ? 0
                                   : 1;
            }
        });
    for (std::thread& th : threads)
        th.join();
    EXPECT_EQ(failures, std::vector<int>(8, 0));
}

TEST(ColorToRGBA8, OtherTypesAreStretchedLinearlyOverAllColourChannels)
{
    oxtest::forEachType(
        {eInt16, eInt32, eUInt32, eFloat, eDouble, eInt64, eUInt64, eUInt16}, [](ExImageDataType t, auto v) {
            using T = decltype(v);
            for (const auto& layout : {std::pair{1, ePixel}, std::pair{3, ePixel}, std::pair{3, ePlanar}}) {
                const int channels = layout.first;
                const ExPixelPacking packing = layout.second;
                if (t == eUInt16 && packing == ePixel)
                    continue; // tables
                Image src(W, H, channels, t, packing), out(W, H, 4, eUInt8);
                fillValues<T>(src, 3);
                ASSERT_EQ(ConvertToRGBA8(src, out, 99), eOk);
                T lo = getPixel<T>(src, 0, 0), hi = lo;
                oxtest::everyComponent(src, [&](int x, int y, int c) {
                    lo = std::min(lo, getPixel<T>(src, x, y, c));
                    hi = std::max(hi, getPixel<T>(src, x, y, c));
                    return true;
                });
                EXPECT_TRUE(everyComponent(
                    out,
                    [&](int x, int y, int c) {
                        if (c == 3)
                            return getPixel<quint8>(out, x, y, 3) == 99;
                        const T s = getLogical<T>(src, x, y, channels == 1 ? 0 : c);
                        long long want;
                        if constexpr (std::is_floating_point_v<T>)
                            want = (long long)((double(s) - double(lo)) * 255 / (double(hi) - double(lo)));
                        else
                            want = (long long)((__int128(s) - lo) * 255 / (__int128(hi) - lo));
                        return getLogical<quint8>(out, x, y, c) == want;
                    }))
                    << t << " " << channels << " channels, packing " << packing;
            }
        });
    Image flat(W, H, 1, eFloat), out(W, H, 4, eUInt8);
    oxtest::fill<float>(flat, [](int, int, int) { return -3.5f; });
    ASSERT_EQ(ConvertToRGBA8(flat, out, 1), eOk);
    EXPECT_TRUE(
        everyComponent(out, [&](int x, int y, int c) { return getPixel<quint8>(out, x, y, c) == (c == 3); }));
}

TEST(ColorToRGBA8, EightBitSourcesAndArgumentChecks)
{
    Image rgb(W, H, 3, eUInt8), mono(W, H, 1, eUInt8), planes(W, H, 3, eUInt8, ePlanar),
        rgba(W, H, 4, eUInt8), out(W, H, 4, eUInt8);
    oxtest::fillRaw(rgb);
    ASSERT_EQ(ConvertToRGBA8(rgb, out, 7), eOk);
    EXPECT_TRUE(oxtest::holds(out, 66, 44, 2, 66, 44, 2));
    EXPECT_EQ(getPixel<quint8>(out, 66, 44, 3), 255); // whatever the alpha argument
    oxtest::fillRaw(mono);
    ASSERT_EQ(ConvertToRGBA8(mono, out, 7), eOk);
    EXPECT_TRUE(oxtest::holds(out, 66, 44, 1, 66, 44, 0));
    EXPECT_EQ(getPixel<quint8>(out, 66, 44, 3), 0);
    oxtest::fillRaw(planes);
    ASSERT_EQ(ConvertToRGBA8(planes, out, 7), eOk);
    EXPECT_TRUE(oxtest::holds(out, 5, 4, 0, 5, 4, 2)); // blue plane, stored first
    EXPECT_EQ(getPixel<quint8>(out, 5, 4, 3), 0);      // unchanged
    oxtest::fillRaw(rgba);
    ASSERT_EQ(ConvertToRGBA8(rgba, out, 7), eOk);
    EXPECT_TRUE(
        everyComponent(out, [&](int x, int y, int c) { return oxtest::holds(out, x, y, c, x, y, c); }));
    EXPECT_EQ(ConvertToRGBA8(oxtest::changed(rgba, [](SxImageBuf& b) { b.colorOrder = 2; }), out, 7),
              eErrUnsupported);

    Image five(W, H, 5, eUInt8), two(W, H, 2, eUInt8), c1(W, H, 1, eComplex), i8(W, H, 1, eInt8),
        planar16(W, H, 1, eUInt16, ePlanar), out3(W, H, 3, eUInt8);
    SxImageBuf none;
    EXPECT_EQ(ConvertToRGBA8(none, out, 0), eErrInvalidArg1);
    EXPECT_EQ(ConvertToRGBA8(five, out, 0), eErrInvalidArg1);
    EXPECT_EQ(ConvertToRGBA8(rgb, out3, 0), eErrInvalidArg2);
    EXPECT_EQ(ConvertToRGBA8(rgb, oxtest::changed(out, [](SxImageBuf& b) { b.width = 3; }), 0),
              eErrInvalidArg2);
    for (SxImageBuf* src : oxtest::Buffers{&two, &c1, &i8, &planar16})
        EXPECT_EQ(ConvertToRGBA8(*src, out, 0), eErrUnsupported);
}

TEST(ColorExtractChannel, OneChannelOrCellPositionBecomesGrey)
{
    oxtest::forEachType({eUInt8, eUInt16}, [](ExImageDataType t, auto v) {
        using T = decltype(v);
        const int shift = t == eUInt16 ? 4 : 0;
        for (int p = 0; p < 4; ++p) {
            Image raw(W, H, 1, t, ePixel, eBGGR), out(W / 2, H / 2, 4, eUInt8);
            raw.colorBitDepth = t == eUInt16 ? 12 : 8;
            fillValues<T>(raw);
            ASSERT_EQ(ExtractChannelToRGB32(raw, p, out, 17), eOk);
            EXPECT_TRUE(everyComponent(out, [&](int i, int j, int c) {
                const quint32 s = getPixel<T>(raw, 2 * i + (p & 1), 2 * j + p / 2);
                return getPixel<quint8>(out, i, j, c) == (c == 3 ? 17 : quint8(s >> shift));
            }));
        }
        for (const auto& layout : kColourLayouts) {
            const int channels = layout.first;
            const ExPixelPacking packing = layout.second;
            Image src(W, H, channels, t, packing), out(W, H, 4, eUInt8);
            fillValues<T>(src);
            src.colorBitDepth = t == eUInt16 ? 10 : 8; // 16-bit values keep bits 2 ... 9
            ASSERT_EQ(ExtractChannelToRGB32(src, 0, out, 5), eOk);
            EXPECT_TRUE(everyComponent(out, [&](int x, int y, int c) {
                const int s = int(getLogical<T>(src, x, y, 0)) >> (t == eUInt16 ? 2 : 0);
                return getPixel<quint8>(out, x, y, c) == (c == 3 ? 5 : quint8(s));
            }));
        }
    });
    Image rgb(W, H, 3, eUInt8), rgb16(W, H, 3, eInt16), raw(W, H, 1, eUInt8, ePixel, eRGGB),
        out(W, H, 4, eUInt8), half(W / 2, H / 2, 4, eUInt8), mono(W, H, 1, eUInt8),
        raw32(W, H, 1, eInt32, ePixel, eRGGB);
    EXPECT_EQ(
        ExtractChannelToRGB32(oxtest::changed(rgb, [](SxImageBuf& b) { b.colorBitDepth = 0; }), 9, out, 0),
        eErrInvalidArg1);
    EXPECT_EQ(ExtractChannelToRGB32(raw32, 9, half, 0), eErrInvalidArg1);
    EXPECT_EQ(ExtractChannelToRGB32(rgb, 9, half, 0), eErrInvalidArg3);
    EXPECT_EQ(ExtractChannelToRGB32(raw, 9, out, 0), eErrInvalidArg3);
    EXPECT_EQ(ExtractChannelToRGB32(rgb, 3, out, 0), eErrInvalidArg2);
    EXPECT_EQ(ExtractChannelToRGB32(raw, 4, half, 0), eErrInvalidArg2);
    EXPECT_EQ(ExtractChannelToRGB32(raw, -1, half, 0), eErrInvalidArg2);
    EXPECT_EQ(ExtractChannelToRGB32(rgb16, 0, out, 0), eErrUnsupported);
    EXPECT_EQ(ExtractChannelToRGB32(mono, 0, out, 0), eErrUnsupported);
}

TEST(ColorSwapRedAndBlue, ExchangesTheOuterChannelsOfInterleavedPixels)
{
    Image bgr(W, H, 3, eUInt8), rgba16(W, H, 4, eUInt16), planar(W, H, 3, eUInt8, ePlanar),
        c3(W, H, 3, eComplex);
    oxtest::fillRaw(bgr);
    oxtest::fillRaw(rgba16);
    ASSERT_EQ(SwapRedAndBlue(bgr), eOk);
    ASSERT_EQ(SwapRedAndBlue(rgba16), eOk);
    EXPECT_TRUE(
        everyComponent(bgr, [&](int x, int y, int c) { return oxtest::holds(bgr, x, y, c, x, y, 2 - c); }));
    EXPECT_TRUE(everyComponent(rgba16, [&](int x, int y, int c) {
        return oxtest::holds(rgba16, x, y, c, x, y, c == 3 ? 3 : 2 - c);
    }));
    EXPECT_EQ(SwapRedAndBlue(planar), eErrInvalidArg1);
    EXPECT_EQ(SwapRedAndBlue(oxtest::changed(bgr, [](SxImageBuf& b) { b.channels = 2; })), eErrInvalidArg1);
    EXPECT_EQ(SwapRedAndBlue(c3), eErrFailed);
}
