#include <ox/color.h>

#include "support/image_helpers.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
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

// Succeeds when every logical component (x, y, c) of b equals want(x, y, c) converted to T.
template <typename T, typename F>
::testing::AssertionResult logicalIs(const SxImageBuf& b, F want)
{
    return everyComponent(b,
                          [&](int x, int y, int c) { return getLogical<T>(b, x, y, c) == T(want(x, y, c)); });
}

// True when no component of b was written.
::testing::AssertionResult untouched(const SxImageBuf& b)
{
    return everyComponent(b, [&](int x, int y, int c) { return oxtest::bytesAre(b, x, y, c, 0xcd); });
}

// The layouts of colour images: 3 or 4 interleaved channels, 3 planes.
const std::pair<int, ExPixelPacking> kColourLayouts[] = {{3, ePixel}, {4, ePixel}, {3, ePlanar}};

} // namespace

TEST(ColorMonoToColour, EveryColourChannelTakesTheMonoValueAndArgumentsAreCheckedInOrder)
{
    oxtest::forEachType({eUInt8, eUInt16}, [](ExImageDataType t, auto v) {
        using T = decltype(v);
        Image mono(W, H, 1, t), rgb(W, H, 3, t), rgba(W, H, 4, t);
        fillValues<T>(mono);
        ASSERT_EQ(ConvertMonoToRGB(mono, rgb), eOk);
        ASSERT_EQ(ConvertMonoToRGBA(mono, rgba, 0x1234), eOk);
        EXPECT_TRUE(logicalIs<T>(rgb, [&](int x, int y, int) { return getPixel<T>(mono, x, y); }));
        EXPECT_TRUE(logicalIs<T>(
            rgba, [&](int x, int y, int c) { return c == 3 ? T(0x1234) : getPixel<T>(mono, x, y); }));
        EXPECT_TRUE(paddingIs(rgb, 0xcd) && paddingIs(rgba, 0xcd));
    });
    Image mono(W, H, 1, eUInt8), rgb(W, H, 3, eUInt8), wide(W, H, 1, eInt32), wideRgb(W, H, 3, eInt32);
    EXPECT_EQ(ConvertMonoToRGB(rgb, rgb), eErrInvalidArg1);
    EXPECT_EQ(ConvertMonoToRGBA(mono, rgb, 0), eErrInvalidArg2);
    EXPECT_EQ(ConvertMonoToRGB(mono, wideRgb), eErrInvalidArg2);
    EXPECT_EQ(ConvertMonoToRGB(wide, wideRgb), eErrUnsupported);
    EXPECT_TRUE(untouched(rgb) && untouched(wideRgb));
}

TEST(ColorRgbRgba, AddingAlphaCopiesMemoryOrderAndDroppingItKeepsLogicalChannels)
{
    Image rgb(W, H, 3, eUInt8), big(W + 5, H + 3, 4, eUInt8), small(39, 31, 4, eUInt8);
    big.colorOrder = 2; // memory order is kept whatever the orders say
    oxtest::fillRaw(rgb);
    const QRect rect(3, 5, 40, 31), inside(0, 0, 40, 31);
    ASSERT_EQ(ConvertRGB8ToRGBA8(rgb, rect, big, 9), eOk);
    EXPECT_TRUE(everyComponent(big, [&](int x, int y, int c) {
        if (!inside.contains(x, y))
            return oxtest::bytesAre(big, x, y, c, 0xcd);
        return c == 3 ? getPixel<quint8>(big, x, y, 3) == 9 : oxtest::holds(big, x, y, c, x + 3, y + 5, c);
    }));
    EXPECT_EQ(ConvertRGB8ToRGBA8(rgb, QRect(30, 5, 40, 31), small, 0), eErrInvalidArg2);
    EXPECT_EQ(ConvertRGB8ToRGBA8(rgb, rect, small, 0), eErrInvalidArg3);
    EXPECT_TRUE(untouched(small));

    oxtest::forEachType({eInt8, eUInt8, eUInt16, eFloat, eUInt64}, [&](ExImageDataType t, auto v) {
        using T = decltype(v);
        for (int order : {1, 2}) {
            SCOPED_TRACE(testing::Message() << t << ", source order " << order);
            Image rgba(W, H, 4, t), rgb(W, H, 3, t);
            rgba.colorOrder = order;
            rgb.colorOrder = 3 - order;
            fillValues<T>(rgba);
            ASSERT_EQ(t == eUInt8 ? ConvertRGBA8ToRGB8(rgba, rect, rgb) : ConvertRGBAToRGB(rgba, rect, rgb),
                      eOk);
            EXPECT_TRUE(everyComponent(rgb, [&](int x, int y, int c) {
                if (!inside.contains(x, y))
                    return oxtest::bytesAre(rgb, x, y, c, 0xcd);
                return getLogical<T>(rgb, x, y, c) == getLogical<T>(rgba, x + 3, y + 5, c);
            }));
        }
    });
    Image rgba(W, H, 4, eUInt8), rgb3(10, 10, 3, eUInt8), c4(W, H, 4, eComplex), c3(W, H, 3, eComplex);
    EXPECT_EQ(ConvertRGBA8ToRGB8(rgb3, rgb3), eErrInvalidArg1);
    EXPECT_EQ(ConvertRGBAToRGB(rgba, QRect(60, 0, 11, 10), rgb3), eErrInvalidArg2);
    EXPECT_EQ(ConvertRGBAToRGB(rgba, QRect(0, 0, 11, 10), rgb3), eErrInvalidArg3);
    EXPECT_EQ(ConvertRGBAToRGB(c4, c3), eErrUnsupported);
}

TEST(ColorToMono, AverageAndWeightedSumsTruncateForEveryTypeAndLayout)
{
    const double w[3] = {3e4, -2.5e4, 1e5}; // products that need 64 bits
    oxtest::forEachType(
        {eInt8, eUInt8, eInt16, eUInt16, eInt32, eUInt32, eFloat, eDouble, eInt64, eUInt64},
        [&w](ExImageDataType t, auto v) {
            using T = decltype(v);
            for (const auto& [channels, packing] : kColourLayouts) {
                SCOPED_TRACE(testing::Message() << t << ", " << channels << " channels, packing " << packing);
                Image src(W, H, channels, t, packing), avg(W, H, 1, t), weighted(W, H, 1, t);
                fillValues<T>(src);
                ASSERT_EQ(ConvertRGBToMono(src, avg), eOk);
                ASSERT_EQ(ConvertRGBToMono(src, weighted, w[0], w[1], w[2]), eOk);
                EXPECT_TRUE(everyComponent(avg, [&](int x, int y, int) {
                    T s[3];
                    for (int c = 0; c < 3; ++c)
                        s[c] = getLogical<T>(src, x, y, c);
                    const T mean = getPixel<T>(avg, x, y), sum = getPixel<T>(weighted, x, y);
                    if constexpr (std::is_floating_point_v<T>)
                        return mean == T((double(s[0]) + double(s[1]) + double(s[2])) / 3) &&
                               sum == T((w[0] * s[0] + w[1] * s[1] + w[2] * s[2]) / 3);
                    __int128 total = 0;
                    for (int c = 0; c < 3; ++c)
                        total += __int128(std::trunc(w[c] * double(s[c])));
                    return mean == T((__int128(s[0]) + s[1] + s[2]) / 3) && sum == T(total / 3);
                }));
            }
        });
    Image planar4(W, H, 4, eUInt8, ePlanar), mono(W, H, 1, eUInt8), mono16(W, H, 1, eUInt16),
        c3(W, H, 3, eComplex), c1(W, H, 1, eComplex);
    EXPECT_EQ(ConvertRGBToMono(planar4, mono), eErrInvalidArg1);
    EXPECT_EQ(ConvertRGBToMono(c3, mono16, 1, 1, 1), eErrInvalidArg2);
    EXPECT_EQ(ConvertRGBToMono(c3, c1), eErrUnsupported);
}

TEST(ColorLuminance, WeightsColoursOfPixelsAndMosaicCellsInDoublePrecision)
{
    const auto luma = [](double r, double g, double b) { return 0.7152 * g + 0.2126 * r + 0.0722 * b; };
    // Red, top green, bottom green and blue positions (dx, dy) in the cells of each mosaic layout.
    const int cells[4][4][2] = {{{1, 1}, {1, 0}, {0, 1}, {0, 0}},
                                {{0, 0}, {1, 0}, {0, 1}, {1, 1}},
                                {{0, 1}, {0, 0}, {1, 1}, {1, 0}},
                                {{1, 0}, {0, 0}, {1, 1}, {0, 1}}};
    oxtest::forEachType({eUInt8, eUInt16}, [&](ExImageDataType t, auto v) {
        using T = decltype(v);
        for (const auto& [channels, packing] : kColourLayouts) {
            Image src(W, H, channels, t, packing), dst(W, H, 1, t);
            fillValues<T>(src);
            ASSERT_EQ(Luminance(src, dst), eOk);
            EXPECT_TRUE(logicalIs<T>(dst, [&](int x, int y, int) {
                const auto at = [&](int c) { return getLogical<T>(src, x, y, c); };
                return luma(at(0), at(1), at(2));
            }));
        }
        for (ExBayerGrid grid : {eBGGR, eRGGB, eGBRG, eGRBG}) {
            Image raw(W, H, 1, t, ePixel, grid), dst(W / 2, H / 2, 1, t);
            fillValues<T>(raw);
            ASSERT_EQ(Luminance(raw, dst), eOk);
            EXPECT_TRUE(logicalIs<T>(dst,
                                     [&](int i, int j, int) {
                                         const auto at = [&](int k) {
                                             return double(getPixel<T>(raw, 2 * i + cells[grid][k][0],
                                                                       2 * j + cells[grid][k][1]));
                                         };
                                         return luma(at(0), (at(1) + at(2)) / 2, at(3));
                                     }))
                << "grid " << grid;
            EXPECT_TRUE(paddingIs(dst, 0xcd));
        }
    });
    Image rgb16(W, H, 3, eInt16), mono(W, H, 1, eUInt8), mono16(W, H, 1, eUInt16),
        raw(W, H, 1, eUInt8, ePixel, eRGGB), two(W, H, 2, eUInt8), small(W - 1, H, 1, eUInt8);
    EXPECT_EQ(Luminance(rgb16, mono16), eErrInvalidArg1);
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
        fillValues<T>(back, 1);
        ASSERT_EQ(ConvertRGBToPlanar(rgb, planes), eOk);
        ASSERT_EQ(ConvertPlanarToRGB(planes, back), eOk);
        ASSERT_EQ(ConvertRGBToPlanar(rgb, QRect(20, 11, 40, 30), part), eOk);
        EXPECT_TRUE(logicalIs<T>(planes, [&](int x, int y, int c) { return getLogical<T>(rgb, x, y, c); }));
        EXPECT_TRUE(logicalIs<T>(back, [&](int x, int y, int c) {
            return c == 3 ? valueAt<T>(x, y, 4) : getLogical<T>(rgb, x, y, c);
        }));
        EXPECT_TRUE(
            logicalIs<T>(part, [&](int x, int y, int c) { return getLogical<T>(rgb, x + 20, y + 11, c); }));
    });
    Image planes(W, H, 3, eUInt8, ePlanar), rgba(W, H, 4, eUInt8);
    oxtest::fillRaw(planes);
    ASSERT_EQ(ConvertRGB8PlanarToRGBA8(planes, rgba, 200), eOk);
    EXPECT_TRUE(everyComponent(rgba, [&](int x, int y, int c) {
        return c == 3 ? getPixel<quint8>(rgba, x, y, 3) == 200 : oxtest::holds(rgba, x, y, 2 - c, x, y, c);
    }));

    Image planes32(W, H, 3, eInt32, ePlanar), rgb32(W, H, 3, eInt32), small(W, H - 1, 3, eUInt8, ePlanar),
        rgb(W, H, 3, eUInt8);
    EXPECT_EQ(ConvertPlanarToRGB(rgba, rgba), eErrInvalidArg1);
    EXPECT_EQ(ConvertPlanarToRGB(planes32, rgb32), eErrInvalidArg2);
    EXPECT_EQ(ConvertRGB8PlanarToRGBA8(planes, small, 0), eErrInvalidArg2);
    EXPECT_EQ(ConvertRGBToPlanar(rgb, QRect(0, 0, W + 1, H), planes), eErrInvalidArg2);
    EXPECT_EQ(ConvertRGBToPlanar(rgb, QRect(0, 0, W, H), small), eErrInvalidArg3);
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

    Image spectral(W, H, 1, eUInt8, ePixel, eMultispectral), cube(W / 4, H / 3, 12, eUInt8, ePlanar),
        floats(W, H, 3, eFloat), floatPlanes(W, H, 3, eFloat, ePlanar);
    EXPECT_EQ(ConvertPackPixelToPlanar(planes, planes), eErrInvalidArg1);
    EXPECT_EQ(ConvertPackPixelToPlanar(spectral, cube), eErrInvalidArg1);
    EXPECT_EQ(ConvertPackPixelToPlanar(bgr, floatPlanes), eErrInvalidArg2);
    spectral.mosaicWidth = 4;
    spectral.mosaicHeight = 3;
    EXPECT_EQ(ConvertPackPixelToPlanar(spectral, planes), eErrInvalidArg2);
    EXPECT_EQ(ConvertPackPixelToPlanar(spectral, cube), eErrUnsupported);
    EXPECT_EQ(ConvertPackPixelToPlanar(floats, floatPlanes), eErrFailed); // three channels need 8/16 bits
}

TEST(ColorToRGBA8, SixteenBitTablesAreMadeOnceWhileManyThreadsConvertAndRoundWithinTheDepth)
{
    // No other test converts 16-bit data, so racing threads make every table here.
    std::vector<std::thread> threads;
    std::vector<int> failures(8, 0);
    for (int t = 0; t < 8; ++t)
        threads.emplace_back([&, t] {
            Image mono(31, 7, 1, eUInt16), rgb(31, 7, 3, eUInt16), out(31, 7, 4, eUInt8);
            for (int k = 0; k < 16; ++k) {
                const int depth = (k + 5 * t) % 16 + 1;
                const long long top = (1LL << depth) - 1;
                SxImageBuf& src = (k + t) % 2 ? static_cast<SxImageBuf&>(mono) : rgb;
                src.colorBitDepth = depth;
                out.colorOrder = t % 2 ? 1 : 2;
                // Some values lie above the depth.
                oxtest::fill<quint16>(src, [&](int x, int y, int c) {
                    return std::min((x * 977 + y * 131 + c * 7) % (top + 90), 65535LL);
                });
                failures[t] += ConvertToRGBA8(src, out, 3) != eOk;
                failures[t] += !logicalIs<quint8>(out, [&](int x, int y, int c) {
                    if (c == 3)
                        return src.channels == 1 ? 255LL : 3LL;
                    const long long v =
                        std::min<long long>(getPixel<quint16>(src, x, y, src.channels == 1 ? 0 : c), top);
                    return (v * 510 + top) / (2 * top);
                });
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
            for (const auto& [channels, packing] :
                 {std::pair{1, ePixel}, std::pair{3, ePixel}, std::pair{3, ePlanar}}) {
                if (t == eUInt16 && packing == ePixel)
                    continue; // tables
                SCOPED_TRACE(testing::Message() << t << ", " << channels << " channels, packing " << packing);
                Image src(W, H, channels, t, packing), out(W, H, 4, eUInt8);
                fillValues<T>(src, 3);
                ASSERT_EQ(ConvertToRGBA8(src, out, 99), eOk);
                T lo = getPixel<T>(src, 0, 0), hi = lo;
                everyComponent(src, [&](int x, int y, int c) {
                    lo = std::min(lo, getPixel<T>(src, x, y, c));
                    hi = std::max(hi, getPixel<T>(src, x, y, c));
                    return true;
                });
                EXPECT_TRUE(logicalIs<quint8>(out, [&](int x, int y, int c) -> long long {
                    if (c == 3)
                        return 99;
                    const T s = getLogical<T>(src, x, y, channels == 1 ? 0 : c);
                    if constexpr (std::is_floating_point_v<T>)
                        return (double(s) - double(lo)) * 255 / (double(hi) - double(lo));
                    return (__int128(s) - lo) * 255 / (__int128(hi) - lo);
                }));
            }
        });
    Image flat(W, H, 1, eFloat), out(W, H, 4, eUInt8);
    oxtest::fill<float>(flat, [](int, int, int) { return -3.5f; });
    ASSERT_EQ(ConvertToRGBA8(flat, out, 1), eOk);
    EXPECT_TRUE(logicalIs<quint8>(out, [](int, int, int c) { return c == 3; }));
}

TEST(ColorToRGBA8, EightBitSourcesAreCopiedAndArgumentsAreCheckedInOrder)
{
    Image rgb(W, H, 3, eUInt8), planes(W, H, 3, eUInt8, ePlanar), rgba(W, H, 4, eUInt8), out(W, H, 4, eUInt8);
    oxtest::fillRaw(rgb);
    ASSERT_EQ(ConvertToRGBA8(rgb, out, 7), eOk);
    EXPECT_TRUE(oxtest::holds(out, 66, 44, 2, 66, 44, 2));
    EXPECT_EQ(getPixel<quint8>(out, 66, 44, 3), 255); // whatever the alpha argument
    oxtest::fillRaw(planes);
    ASSERT_EQ(ConvertToRGBA8(planes, out, 7), eOk);
    EXPECT_TRUE(oxtest::holds(out, 5, 4, 0, 5, 4, 2)); // blue plane, stored first
    oxtest::fillRaw(rgba);
    ASSERT_EQ(ConvertToRGBA8(rgba, out, 7), eOk);
    EXPECT_TRUE(
        everyComponent(out, [&](int x, int y, int c) { return oxtest::holds(out, x, y, c, x, y, c); }));

    Image five(W, H, 5, eUInt8), out3(W, H, 3, eUInt8), i8(W, H, 1, eInt8), deep(W, H, 1, eUInt16);
    deep.colorBitDepth = 17;
    EXPECT_EQ(ConvertToRGBA8(five, out, 0), eErrInvalidArg1);
    EXPECT_EQ(ConvertToRGBA8(rgb, out3, 0), eErrInvalidArg2);
    EXPECT_EQ(ConvertToRGBA8(i8, out, 0), eErrUnsupported);
    EXPECT_EQ(ConvertToRGBA8(deep, out, 0), eErrUnsupported);
}

TEST(ColorExtractChannel, OneChannelOrCellPositionBecomesGrey)
{
    oxtest::forEachType({eUInt8, eUInt16}, [](ExImageDataType t, auto v) {
        using T = decltype(v);
        for (int p = 0; p < 4; ++p) {
            Image raw(W, H, 1, t, ePixel, eBGGR), out(W / 2, H / 2, 4, eUInt8);
            raw.colorBitDepth = t == eUInt16 ? 12 : 8; // 16-bit values keep bits 4 ... 11
            fillValues<T>(raw);
            ASSERT_EQ(ExtractChannelToRGB32(raw, p, out, 17), eOk);
            EXPECT_TRUE(logicalIs<quint8>(out, [&](int i, int j, int c) {
                return c == 3 ? 17
                              : quint32(getPixel<T>(raw, 2 * i + (p & 1), 2 * j + p / 2)) >>
                                    (t == eUInt16 ? 4 : 0);
            }));
        }
        for (const auto& [channels, packing] : kColourLayouts) {
            Image src(W, H, channels, t, packing), out(W, H, 4, eUInt8);
            fillValues<T>(src);
            src.colorBitDepth = t == eUInt16 ? 10 : 8; // 16-bit values keep bits 2 ... 9
            ASSERT_EQ(ExtractChannelToRGB32(src, 2, out, 5), eOk);
            EXPECT_TRUE(logicalIs<quint8>(out, [&](int x, int y, int c) {
                return c == 3 ? 5 : quint32(getLogical<T>(src, x, y, 2)) >> (t == eUInt16 ? 2 : 0);
            }));
        }
    });
    Image rgb(W, H, 3, eUInt8), raw(W, H, 1, eUInt8, ePixel, eRGGB), out(W, H, 4, eUInt8),
        half(W / 2, H / 2, 4, eUInt8), mono(W, H, 1, eUInt8), raw32(W, H, 1, eInt32, ePixel, eRGGB);
    EXPECT_EQ(ExtractChannelToRGB32(raw32, 9, half, 0), eErrInvalidArg1);
    EXPECT_EQ(ExtractChannelToRGB32(rgb, 9, half, 0), eErrInvalidArg3);
    EXPECT_EQ(ExtractChannelToRGB32(rgb, 3, out, 0), eErrInvalidArg2);
    EXPECT_EQ(ExtractChannelToRGB32(mono, 0, out, 0), eErrUnsupported);
}

TEST(ColorSwapRedAndBlue, ExchangesTheOuterChannelsOfInterleavedPixels)
{
    Image rgba16(W, H, 4, eUInt16), planar(W, H, 3, eUInt8, ePlanar), c3(W, H, 3, eComplex);
    oxtest::fillRaw(rgba16);
    ASSERT_EQ(SwapRedAndBlue(rgba16), eOk);
    EXPECT_TRUE(everyComponent(rgba16, [&](int x, int y, int c) {
        return oxtest::holds(rgba16, x, y, c, x, y, c == 3 ? 3 : 2 - c);
    }));
    EXPECT_EQ(SwapRedAndBlue(planar), eErrInvalidArg1);
    EXPECT_EQ(SwapRedAndBlue(c3), eErrFailed);
}
