#include <ox/color.h>

#include "support/image_helpers.h"

#include <cmath>
#include <thread>
#include <vector>

using namespace ox;
using namespace oxtest;

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

// Fills logical channel c with valueAt(x, y, c + salt).
template <typename T>
void fillValues(SxImageBuf& b, int salt = 0)
{
    fill<T>(b, [&](int x, int y, int c) { return valueAt<T>(x, y, physicalChannel(b, c) + salt); });
}

// Succeeds when every logical component (x, y, c) of b equals want(x, y, c) converted to T.
template <typename T, typename F>
::testing::AssertionResult logicalIs(const SxImageBuf& b, F want)
{
    return everyComponent(b,
                          [&](int x, int y, int c) { return getLogical<T>(b, x, y, c) == T(want(x, y, c)); });
}

const auto luma = [](double r, double g, double b) { return 0.7152 * g + 0.2126 * r + 0.0722 * b; };

// The layouts of colour images: 3 or 4 interleaved channels, 3 planes.
const std::pair<int, ExPixelPacking> kColourLayouts[] = {{3, ePixel}, {4, ePixel}, {3, ePlanar}};

} // namespace

TEST(Color, EveryConversionChecksItsArgumentsInOrderAndWritesNothingOnError)
{
    Image mono(W, H, 1, eUInt8), rgb(W, H, 3, eUInt8), rgba(W, H, 4, eUInt8),
        planes(W, H, 3, eUInt8, ePlanar), planar4(W, H, 4, eUInt8, ePlanar), two(W, H, 2, eUInt8),
        five(W, H, 5, eUInt8), small(39, 31, 4, eUInt8), rgb3(10, 10, 3, eUInt8), out3(W, H, 3, eUInt8),
        shortPlanes(W, H - 1, 3, eUInt8, ePlanar), narrow(W - 1, H, 1, eUInt8),
        raw(W, H, 1, eUInt8, ePixel, eRGGB), half(W / 2, H / 2, 4, eUInt8), mono16(W, H, 1, eUInt16),
        i16rgb(W, H, 3, eInt16), i8(W, H, 1, eInt8), i32(W, H, 1, eInt32), i32rgb(W, H, 3, eInt32),
        i32planes(W, H, 3, eInt32, ePlanar), raw32(W, H, 1, eInt32, ePixel, eRGGB), floats(W, H, 3, eFloat),
        floatPlanes(W, H, 3, eFloat, ePlanar), c1(W, H, 1, eComplex), c3(W, H, 3, eComplex),
        c4(W, H, 4, eComplex), spectral(W, H, 1, eUInt8, ePixel, eMultispectral),
        cube(W / 4, H / 3, 12, eUInt8, ePlanar);
    const Snapshot snapshot({&mono,   &rgb,         &rgba, &planes,      &planar4, &two,       &five,
                             &small,  &rgb3,        &out3, &shortPlanes, &narrow,  &raw,       &half,
                             &mono16, &i16rgb,      &i8,   &i32,         &i32rgb,  &i32planes, &raw32,
                             &floats, &floatPlanes, &c1,   &c3,          &c4,      &spectral,  &cube});
    const auto cells = [](SxImageBuf& b) { b.mosaicWidth = 4, b.mosaicHeight = 3; };
    const auto deep = [](SxImageBuf& b) { b.colorBitDepth = 17; };
    const QRect rect(3, 5, 40, 31);
    // A mosaic of spectral cells needs a cell size; the split itself is not implemented.
    expectCodes(eErrInvalidArg1, {ConvertMonoToRGB(rgb, rgb), ConvertRGBA8ToRGB8(rgb3, rgb3),
                                  ConvertRGBToMono(planar4, mono), Luminance(i16rgb, mono16),
                                  ConvertPlanarToRGB(rgba, rgba), ConvertPackPixelToPlanar(planes, planes),
                                  ConvertPackPixelToPlanar(spectral, cube), ConvertToRGBA8(five, rgba, 0),
                                  ExtractChannelToRGB32(raw32, 9, half, 0), SwapRedAndBlue(planes)});
    expectCodes(eErrInvalidArg2,
                {ConvertMonoToRGBA(mono, rgb, 0), ConvertMonoToRGB(mono, i32rgb),
                 ConvertRGB8ToRGBA8(rgb, QRect(30, 5, 40, 31), small, 0),
                 ConvertRGBAToRGB(rgba, QRect(60, 0, 11, 10), rgb3), ConvertRGBToMono(c3, mono16, 1, 1, 1),
                 Luminance(raw, mono), ConvertPlanarToRGB(i32planes, i32rgb),
                 ConvertRGB8PlanarToRGBA8(planes, small, 0),
                 ConvertRGBToPlanar(rgb, QRect(0, 0, W + 1, H), planes),
                 ConvertPackPixelToPlanar(rgb, floatPlanes),
                 ConvertPackPixelToPlanar(Changed(spectral, cells), planes), ConvertToRGBA8(rgb, out3, 0),
                 ExtractChannelToRGB32(rgb, 3, rgba, 0)});
    expectCodes(eErrInvalidArg3,
                {ConvertRGB8ToRGBA8(rgb, rect, small, 0), ConvertRGBAToRGB(rgba, QRect(0, 0, 11, 10), rgb3),
                 ConvertRGBToPlanar(rgb, QRect(0, 0, W, H), shortPlanes),
                 ExtractChannelToRGB32(rgb, 9, half, 0)});
    expectCodes(eErrUnsupported,
                {ConvertMonoToRGB(i32, i32rgb), ConvertRGBAToRGB(c4, c3), ConvertRGBToMono(c3, c1),
                 Luminance(two, mono), ConvertPackPixelToPlanar(Changed(spectral, cells), cube),
                 ConvertToRGBA8(i8, rgba, 0), ConvertToRGBA8(c4, rgba, 0),
                 ConvertToRGBA8(Changed(mono16, deep), rgba, 0), ExtractChannelToRGB32(mono, 0, rgba, 0)});
    // A called copy, conversion or swap fails: another size, floats in three channels, eComplex.
    expectCodes(eErrFailed,
                {Luminance(mono, narrow), ConvertPackPixelToPlanar(floats, floatPlanes), SwapRedAndBlue(c3)});
    EXPECT_TRUE(snapshot.unchanged());
}

TEST(Color, MonoPlanarLuminanceAndGreyConversionsOf8And16BitData)
{
    forEachType({eUInt8, eUInt16}, [](ExImageDataType t, auto v) {
        using T = decltype(v);
        Image mono(W, H, 1, t), rgb(W, H, 3, t), rgba(W, H, 4, t), planes(W, H, 3, t, ePlanar),
            back(W, H, 4, t), part(40, 30, 3, t, ePlanar);
        fillValues<T>(mono);
        ASSERT_EQ(ConvertMonoToRGB(mono, rgb), eOk);
        ASSERT_EQ(ConvertMonoToRGBA(mono, rgba, 0x1234), eOk);
        EXPECT_TRUE(logicalIs<T>(rgb, [&](int x, int y, int) { return getPixel<T>(mono, x, y); }));
        EXPECT_TRUE(logicalIs<T>(
            rgba, [&](int x, int y, int c) { return c == 3 ? T(0x1234) : getPixel<T>(mono, x, y); }));
        EXPECT_TRUE(paddingIs(rgb, 0xcd) && paddingIs(rgba, 0xcd));
        // Interleaved to planes and back (a fourth channel is kept), and a region to planes.
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
        // Luminance and one channel as grey (blue here), 16-bit values keeping bits 2 ... 9 of 10.
        for (const auto& [channels, packing] : kColourLayouts) {
            SCOPED_TRACE(testing::Message() << channels << " channels, packing " << packing);
            Image src(W, H, channels, t, packing), lum(W, H, 1, t), grey(W, H, 4, eUInt8);
            src.colorBitDepth = lum.colorBitDepth = t == eUInt16 ? 10 : 8;
            fillValues<T>(src);
            ASSERT_EQ(Luminance(src, lum), eOk);
            ASSERT_EQ(ExtractChannelToRGB32(src, 2, grey, 5), eOk);
            const auto at = [&](int x, int y, int c) { return getLogical<T>(src, x, y, c); };
            EXPECT_TRUE(logicalIs<T>(
                lum, [&](int x, int y, int) { return luma(at(x, y, 0), at(x, y, 1), at(x, y, 2)); }));
            EXPECT_TRUE(logicalIs<quint8>(grey, [&](int x, int y, int c) {
                return c == 3 ? 5 : quint32(at(x, y, 2)) >> 2 * (t == eUInt16);
            }));
        }
        // Of a mosaic: one value per cell (the greens averaged), or cell position 0 ... 3 as grey,
        // 16-bit values keeping bits 4 ... 11 of 12.
        for (ExBayerGrid grid : {eBGGR, eRGGB, eGBRG, eGRBG}) {
            SCOPED_TRACE(testing::Message() << "grid " << grid);
            Image raw(W, H, 1, t, ePixel, grid), lum(W / 2, H / 2, 1, t), grey(W / 2, H / 2, 4, eUInt8);
            raw.colorBitDepth = lum.colorBitDepth = t == eUInt16 ? 12 : 8;
            fillValues<T>(raw);
            ASSERT_EQ(Luminance(raw, lum), eOk);
            ASSERT_EQ(ExtractChannelToRGB32(raw, grid, grey, 17), eOk);
            const auto at = [&](int i, int j, char colour) {
                const auto [dx, dy] = cellPosition(grid, colour);
                return double(getPixel<T>(raw, 2 * i + dx, 2 * j + dy));
            };
            EXPECT_TRUE(logicalIs<T>(lum, [&](int i, int j, int) {
                return luma(at(i, j, 'R'), (at(i, j, 't') + at(i, j, 'b')) / 2, at(i, j, 'B'));
            }));
            EXPECT_TRUE(logicalIs<quint8>(grey, [&](int i, int j, int c) {
                return c == 3 ? 17
                              : quint32(getPixel<T>(raw, 2 * i + grid % 2, 2 * j + grid / 2)) >>
                                    4 * (t == eUInt16);
            }));
            EXPECT_TRUE(paddingIs(lum, 0xcd));
        }
    });
}

TEST(Color, EveryTypeToMonoRGBAndStretchedDisplayImages)
{
    // Weights whose products need 64 bits, weights for fixed point (negative ones too), and a weight (0.7)
    // that fixed point cannot match for every 8- or 16-bit value.
    const double weights[4][3] = {{3e4, -2.5e4, 1e5}, {0.9, 1.2, 0.3}, {0.9, -1.2, 0.3}, {0.7, 1.5, 0.5}};
    forEachType(kAllTypes, [&weights](ExImageDataType t, auto v) {
        using T = decltype(v);
        // Display images of types without tables: trunc((v - min) * 255 / (max - min)) over all colour
        // components, alpha as given.
        const auto stretched = [&](const SxImageBuf& src) -> ::testing::AssertionResult {
            if (sizeof(T) == 1 || src.channels == 4 || (t == eUInt16 && src.packing == ePixel))
                return ::testing::AssertionSuccess(); // copied, unsupported, or tables (see below)
            Image out(W, H, 4, eUInt8);
            EXPECT_EQ(ConvertToRGBA8(src, out, 99), eOk);
            T lo = getPixel<T>(src, 0, 0), hi = lo;
            everyComponent(src, [&](int x, int y, int c) {
                const T s = getPixel<T>(src, x, y, c);
                return lo = std::min(lo, s), hi = std::max(hi, s), true;
            });
            return logicalIs<quint8>(out, [&](int x, int y, int c) -> long long {
                if (c == 3)
                    return 99;
                const T s = getPixel<T>(src, x, y, src.channels == 1 ? 0 : c);
                if constexpr (std::is_floating_point_v<T>)
                    return (double(s) - double(lo)) * 255 / (double(hi) - double(lo));
                return (__int128(s) - lo) * 255 / (__int128(hi) - lo);
            });
        };
        for (const auto& [channels, packing] : kColourLayouts) {
            SCOPED_TRACE(testing::Message() << t << ", " << channels << " channels, packing " << packing);
            Image src(W, H, channels, t, packing), avg(W, H, 1, t), weighted(W, H, 1, t), rgb(W, H, 3, t);
            fillValues<T>(src);
            ASSERT_EQ(ConvertRGBToMono(src, avg), eOk);
            for (const double* w : weights) {
                ASSERT_EQ(ConvertRGBToMono(src, weighted, w[0], w[1], w[2]), eOk);
                EXPECT_TRUE(everyComponent(
                    avg,
                    [&](int x, int y, int) {
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
                    }))
                    << "weights " << w[0] << ", " << w[1] << ", " << w[2];
            }
            // Products beyond every integer type saturate, and so does their sum (no overflow).
            ASSERT_EQ(ConvertRGBToMono(src, weighted, 1e30, 1e30, 1e30), eOk);
            EXPECT_TRUE(stretched(src));
            if constexpr (std::is_floating_point_v<T>) { // tenths: many products land next to an integer
                Image tenths(W, H, channels, t, packing);
                fill<T>(tenths,
                        [](int x, int y, int c) { return T((x * 37 + y * 101 + c * 59) % 256 * 0.1); });
                EXPECT_TRUE(stretched(tenths));
            }
            EXPECT_TRUE(stretched(avg));
            if (channels == 4) { // a region to RGB: logical channels (red first here), alpha dropped
                rgb.colorOrder = 2;
                ASSERT_EQ(t == eUInt8 ? ConvertRGBA8ToRGB8(src, QRect(3, 5, 40, 31), rgb)
                                      : ConvertRGBAToRGB(src, QRect(3, 5, 40, 31), rgb),
                          eOk);
                EXPECT_TRUE(everyComponent(rgb, [&](int x, int y, int c) {
                    return x < 40 && y < 31
                               ? getLogical<T>(rgb, x, y, c) == getLogical<T>(src, x + 3, y + 5, c)
                               : bytesAre(rgb, x, y, c, 0xcd);
                }));
            }
        }
    });
}

TEST(Color, ConversionsInMemoryOrderMoveBytesPositionByPosition)
{
    // RGB to RGBA: the three bytes in memory order, whatever the orders say, alpha added.
    Image rgb(W, H, 3, eUInt8), big(W + 5, H + 3, 4, eUInt8), planes(W, H, 3, eUInt8, ePlanar),
        rgba(W, H, 4, eUInt8);
    big.colorOrder = 2;
    fillRaw(rgb);
    const QRect rect(3, 5, 40, 31), inside(0, 0, 40, 31);
    ASSERT_EQ(ConvertRGB8ToRGBA8(rgb, rect, big, 9), eOk);
    EXPECT_TRUE(everyComponent(big, [&](int x, int y, int c) {
        if (!inside.contains(x, y))
            return bytesAre(big, x, y, c, 0xcd);
        return c == 3 ? getPixel<quint8>(big, x, y, 3) == 9 : holds(big, x, y, c, x + 3, y + 5, c);
    }));
    // Three 8-bit planes: red, green, blue into a blue-first image.
    fillRaw(planes);
    ASSERT_EQ(ConvertRGB8PlanarToRGBA8(planes, rgba, 200), eOk);
    EXPECT_TRUE(everyComponent(rgba, [&](int x, int y, int c) {
        return c == 3 ? getPixel<quint8>(rgba, x, y, 3) == 200 : holds(rgba, x, y, 2 - c, x, y, c);
    }));
    // De-interleaving: four or five channels of any size in memory order; a mosaic into its four
    // planes.
    for (int n : {4, 5})
        forEachType({eUInt8, eInt16, eFloat, eUInt64}, [n](ExImageDataType t, auto) {
            Image src(W, H, n, t), dst(W, H, n, t, ePlanar);
            fillRaw(src);
            ASSERT_EQ(ConvertPackPixelToPlanar(src, dst), eOk);
            EXPECT_TRUE(
                everyComponent(dst, [&](int x, int y, int c) { return holds(dst, x, y, c, x, y, c); }));
        });
    Image raw(W - 1, H - 1, 1, eUInt16, ePixel, eGRBG), rawPlanes(W / 2, H / 2, 4, eUInt16, ePlanar);
    fillRaw(raw);
    ASSERT_EQ(ConvertPackPixelToPlanar(raw, rawPlanes), eOk);
    EXPECT_TRUE(holds(rawPlanes, 4, 7, 0, 9, 14, 0)); // red of eGRBG is top-right
    ASSERT_EQ(ConvertPackPixelToPlanar(rgb, planes), eOk);
    EXPECT_TRUE(holds(planes, 5, 6, 0, 5, 6, 2)); // red, stored third
    // 8-bit display images: RGBA as it is, RGB with alpha 255 whatever the argument, planes as
    // colours; a flat image of another type is black.
    Image out(W, H, 4, eUInt8), flat(W, H, 1, eFloat);
    fillRaw(rgba);
    ASSERT_EQ(ConvertToRGBA8(rgba, out, 7), eOk);
    EXPECT_TRUE(everyComponent(out, [&](int x, int y, int c) { return holds(out, x, y, c, x, y, c); }));
    ASSERT_EQ(ConvertToRGBA8(rgb, out, 7), eOk);
    EXPECT_TRUE(holds(out, 66, 44, 2, 66, 44, 2) && getPixel<quint8>(out, 66, 44, 3) == 255);
    fillRaw(planes);
    ASSERT_EQ(ConvertToRGBA8(planes, out, 7), eOk);
    EXPECT_TRUE(holds(out, 5, 4, 0, 5, 4, 2)); // blue plane, stored first
    fill<float>(flat, [](int, int, int) { return -3.5f; });
    ASSERT_EQ(ConvertToRGBA8(flat, out, 1), eOk);
    EXPECT_TRUE(logicalIs<quint8>(out, [](int, int, int c) { return c == 3; }));
    // The infinities and NaN stay out of the range (0 ... 255 here): −∞ and NaN black, +∞ white.
    const float odd[3] = {-INFINITY, NAN, INFINITY};
    const auto grey = [&](int x) { return x % 7 < 3 ? odd[x % 7] : float(85 * (x % 7 - 3)); };
    fill<float>(flat, [&](int x, int, int) { return grey(x); });
    ASSERT_EQ(ConvertToRGBA8(flat, out, 1), eOk);
    EXPECT_TRUE(logicalIs<quint8>(out, [&](int x, int, int c) -> long long {
        return c == 3 ? 1 : (x % 7 == 2 ? 255 : (x % 7 < 2 ? 0 : grey(x)));
    }));
    // Red and blue exchanged in place.
    Image rgba16(W, H, 4, eUInt16);
    fillRaw(rgba16);
    ASSERT_EQ(SwapRedAndBlue(rgba16), eOk);
    EXPECT_TRUE(everyComponent(
        rgba16, [&](int x, int y, int c) { return holds(rgba16, x, y, c, x, y, c == 3 ? 3 : 2 - c); }));
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
                fill<quint16>(src, [&](int x, int y, int c) {
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

TEST(Color, LuminanceIsTheDoubleSumTruncatedForEvery8BitColourAndOnEveryIntegerSum)
{
    // Every 8-bit colour once, and 16-bit greys, whose exact luminance is always a whole number, so that
    // only the double-precision rounding decides (255, 255, 255 gives 254).
    Image rgb8(4096, 4096, 3, eUInt8), y8(4096, 4096, 1, eUInt8), grey16(256, 256, 3, eUInt16),
        y16(256, 256, 1, eUInt16);
    fill<quint8>(rgb8, [](int x, int y, int c) { return (y * 4096 + x) >> (8 * c) & 0xff; });
    fill<quint16>(grey16, [](int x, int y, int) { return y * 256 + x; });
    ASSERT_EQ(Luminance(rgb8, y8), eOk);
    ASSERT_EQ(Luminance(grey16, y16), eOk);
    const auto expected = [](const SxImageBuf& src, int x, int y) {
        return luma(getLogical<quint16>(src, x, y, 0), getLogical<quint16>(src, x, y, 1),
                    getLogical<quint16>(src, x, y, 2));
    };
    EXPECT_TRUE(everyComponent(y8, [&](int x, int y, int) {
        const double r = getLogical<quint8>(rgb8, x, y, 0), g = getLogical<quint8>(rgb8, x, y, 1),
                     b = getLogical<quint8>(rgb8, x, y, 2);
        return getPixel<quint8>(y8, x, y) == quint8(luma(r, g, b));
    }));
    EXPECT_TRUE(everyComponent(y16, [&](int x, int y, int) {
        return getPixel<quint16>(y16, x, y) == quint16(expected(grey16, x, y));
    }));
    EXPECT_EQ(getPixel<quint16>(y16, 255, 0), 254);
}
