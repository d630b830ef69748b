#include <ox/bitdepth.h>

#include "support/image_helpers.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <iterator>
#include <limits>
#include <utility>

using namespace ox;
using oxtest::everyComponent;
using oxtest::getLogical;
using oxtest::getPixel;
using oxtest::paddingIs;
using Image = oxtest::ScopedImage;

namespace {

constexpr int W = 67, H = 45;

// A value below 2^bits for every component.
long long valueAt(int x, int y, int c, int bits)
{
    return (x * 7919LL + y * 104729LL + c * 31LL) % (1LL << bits);
}

} // namespace

TEST(BitDepthDetect, FindsTheBitsOfTheLargestComponent)
{
    const std::pair<unsigned, unsigned> depths[] = {{0, 1},           {1, 1},        {2, 8},     {255, 8},
                                                    {256, 9},         {4095, 12},    {4096, 13}, {65535, 16},
                                                    {0xFFFFFFFF, 32}, {1u << 31, 32}};
    for (auto [value, bits] : depths)
        EXPECT_EQ(ColorBitDepthForIntensity(value), bits) << value;

    Image mono(W, H, 1, eUInt16), rgb(W, H, 3, eUInt8);
    oxtest::fill<quint16>(mono, [](int x, int y, int) { return (x * y) % 1000; });
    oxtest::setPixel<quint16>(mono, 66, 44, 0, 1000);
    int depth = 0;
    ASSERT_EQ(DetectColorBitDepth(mono, depth), eOk);
    EXPECT_EQ(depth, 10);
    oxtest::fill<quint8>(rgb, [](int, int, int) { return 0; });
    ASSERT_EQ(DetectColorBitDepth(rgb, depth), eOk);
    EXPECT_EQ(depth, 1);
    oxtest::setPixel<quint8>(rgb, 66, 44, 2, 3); // the last component counts
    ASSERT_EQ(DetectColorBitDepth(rgb, depth), eOk);
    EXPECT_EQ(depth, 8);

    Image planar(W, H, 1, eUInt16, ePlanar), i16(W, H, 1, eInt16);
    SxImageBuf none;
    depth = -5;
    EXPECT_EQ(DetectColorBitDepth(none, depth), eErrInvalidArg1);
    EXPECT_EQ(DetectColorBitDepth(planar, depth), eErrInvalidArg1);
    EXPECT_EQ(DetectColorBitDepth(i16, depth), eErrInvalidArg1);
    EXPECT_EQ(depth, -5);
}

TEST(BitDepthShift, MovesBitsOfEveryComponentAndTracksTheDepth)
{
    oxtest::forEachType({eUInt8, eUInt16, eUInt32}, [](ExImageDataType t, auto v) {
        using T = decltype(v);
        constexpr int bits = 8 * sizeof(T);
        for (ExPixelPacking packing : {ePixel, ePlanar})
            for (int shift : {3, -5, bits - 1, bits, -bits - 3}) {
                Image img(W, H, 3, t, packing);
                img.colorBitDepth = bits - 4;
                oxtest::fill<T>(img, [](int x, int y, int c) { return valueAt(x, y, c, bits); });
                ASSERT_EQ(ShiftBits(img, shift), eOk);
                EXPECT_TRUE(everyComponent(img,
                                           [&](int x, int y, int c) {
                                               const unsigned long long s = valueAt(x, y, c, bits);
                                               const T want = std::abs(shift) >= bits
                                                                  ? 0
                                                                  : T(shift > 0 ? s << shift : s >> -shift);
                                               return getPixel<T>(img, x, y, c) == want;
                                           }))
                    << t << " by " << shift;
                EXPECT_EQ(img.colorBitDepth, std::clamp(bits - 4 + shift, 0, bits));
                EXPECT_TRUE(paddingIs(img, 0xcd));
            }
    });
    Image img(W, H, 1, eUInt16), i16(W, H, 1, eInt16);
    img.colorBitDepth = 12;
    oxtest::fill<quint16>(img, [](int x, int, int) { return x; });
    ASSERT_EQ(ShiftBits(img, 4), eOk);
    EXPECT_EQ(getPixel<quint16>(img, 66, 0), 66 * 16);
    EXPECT_EQ(img.colorBitDepth, 16);
    ASSERT_EQ(ShiftBits(img, -4), eOk);
    EXPECT_EQ(img.colorBitDepth, 12);
    ASSERT_EQ(ShiftBits(img, 0), eOk);
    EXPECT_EQ(ShiftBits(i16, 0), eOk);
    SxImageBuf none;
    EXPECT_EQ(ShiftBits(none, 0), eErrInvalidArg1);
    EXPECT_EQ(ShiftBits(i16, 1), eErrUnsupported);
    EXPECT_EQ(ShiftBits(oxtest::changed(img, [](SxImageBuf& b) { b.packing = ExPixelPacking(2); }), 1),
              eErrUnsupported);
}

TEST(BitDepthReduce, WhitePointsPerLogicalChannelMapOntoTheDestinationDepth)
{
    const unsigned short whites[3] = {4095, 1000, 3000};
    for (ExPixelPacking packing : {ePixel, ePlanar})
        for (bool given : {false, true}) {
            Image src(W, H, 3, eUInt16, packing), dst(W, H, 4, eUInt8, packing);
            src.colorBitDepth = 12;
            dst.colorBitDepth = 7;
            oxtest::fill<quint16>(src, [](int x, int y, int c) {
                return valueAt(x, y, c, 12) % (c == 1 ? 1000 : c == 2 ? 3000 : 4096);
            });
            unsigned short maxValues[3] = {whites[0], whites[1], whites[2]};
            ASSERT_EQ(ReduceBits(src, dst, given ? maxValues : nullptr), eOk);
            EXPECT_TRUE(everyComponent(dst,
                                       [&](int x, int y, int c) {
                                           if (c == 3)
                                               return oxtest::bytesAre(dst, x, y, 3, 0xcd);
                                           const double m = given ? whites[c] : 4095;
                                           return getLogical<quint8>(dst, x, y, c) ==
                                                  quint8(getPixel<quint16>(src, x, y, c) * 127.0 / m);
                                       }))
                << packing << given;
        }
    Image mono(2, 1, 1, eUInt16), byte(2, 1, 1, eUInt8), rgb(W, H, 3, eUInt16), rgb8(W, H, 3, eUInt8);
    mono.colorBitDepth = 12;
    oxtest::setPixel<quint16>(mono, 0, 0, 0, 4095);
    oxtest::setPixel<quint16>(mono, 1, 0, 0, 2048);
    ASSERT_EQ(ReduceBits(mono, byte, nullptr), eOk);
    EXPECT_EQ(byte.data[0], 255);
    EXPECT_EQ(byte.data[1], 127);
    unsigned short tooLarge[1] = {60000}; // limited to 4095
    ASSERT_EQ(ReduceBits(mono, byte, tooLarge), eOk);
    EXPECT_EQ(byte.data[0], 255);

    SxImageBuf none;
    EXPECT_EQ(ReduceBits(none, byte, nullptr), eErrInvalidArg1);
    EXPECT_EQ(ReduceBits(byte, byte, nullptr), eErrInvalidArg1);
    EXPECT_EQ(ReduceBits(mono, mono, nullptr), eErrInvalidArg2);
    EXPECT_EQ(ReduceBits(rgb, oxtest::changed(rgb8, [](SxImageBuf& b) { b.channels = 2; }), nullptr),
              eErrInvalidArg2);
    EXPECT_EQ(ReduceBits(rgb, oxtest::changed(rgb8, [](SxImageBuf& b) { b.width--; }), nullptr),
              eErrInvalidArg2);
    EXPECT_EQ(ReduceBits(oxtest::changed(rgb, [](SxImageBuf& b) { b.channels = 1; }), rgb8, nullptr),
              eErrInvalidArg2);
    EXPECT_EQ(
        ReduceBits(rgb, oxtest::changed(rgb8, [](SxImageBuf& b) { b.packing = ExPixelPacking(3); }), nullptr),
        eErrUnsupported);
}

TEST(BitDepthReduce, OneChannelByPowersOfTwo)
{
    Image src(W, H, 3, eUInt16), dst(W, H, 3, eUInt8);
    src.colorBitDepth = 12;
    oxtest::fill<quint16>(src, [](int x, int y, int c) { return valueAt(x, y, c, 12); });
    oxtest::setPixel<quint16>(src, 0, 0, 2, 4095);
    oxtest::setPixel<quint16>(src, 1, 0, 2, 16);
    ASSERT_EQ(ReduceBits(src, 2, dst, 0), eOk);
    EXPECT_TRUE(everyComponent(dst, [&](int x, int y, int c) {
        return c == 0 ? getLogical<quint8>(dst, x, y, 0) == getPixel<quint16>(src, x, y, 2) / 16
                      : oxtest::bytesAre(dst, x, y, oxtest::physicalChannel(dst, c), 0xcd);
    }));
    EXPECT_EQ(getPixel<quint8>(dst, 0, 0, 2), 255); // logical red of a blue-first image
    EXPECT_EQ(getPixel<quint8>(dst, 1, 0, 2), 1);

    SxImageBuf none;
    EXPECT_EQ(ReduceBits(dst, 0, dst, 0), eErrInvalidArg1);
    EXPECT_EQ(ReduceBits(src, 3, none, 0), eErrInvalidArg2);
    EXPECT_EQ(ReduceBits(src, 0, none, 0), eErrInvalidArg3);
    EXPECT_EQ(ReduceBits(src, 0, oxtest::changed(dst, [](SxImageBuf& b) { b.packing = ePlanar; }), 0),
              eErrInvalidArg3);
    EXPECT_EQ(ReduceBits(src, 0, dst, 3), eErrInvalidArg4);
}

TEST(BitDepthScale, MapsTheFullSourceRangeOntoEachChannelsMaximum)
{
    const std::pair<ExImageDataType, ExImageDataType> kinds[] = {
        {eUInt16, eUInt8}, {eUInt8, eUInt8}, {eUInt16, eUInt16}, {eUInt8, eUInt16}};
    for (const auto& kind : kinds)
        for (ExPixelPacking packing : {ePixel, ePlanar}) {
            const ExImageDataType inType = kind.first, outType = kind.second;
            Image src(W, H, 3, inType, packing), dst(W, H, 3, outType, packing);
            src.colorBitDepth = inType == eUInt16 ? 10 : 8;
            const int inBits = src.colorBitDepth;
            if (inType == eUInt8)
                oxtest::fillLogical<quint8>(src, [&](int x, int y, int c) { return valueAt(x, y, c, 8); });
            else
                oxtest::fill<quint16>(src, [&](int x, int y, int c) { return valueAt(x, y, c, inBits); });
            unsigned short maxValues[3] = {200, 17, quint16(outType == eUInt8 ? 255 : 60000)};
            ASSERT_EQ(ScaleColors(src, dst, maxValues), eOk);
            EXPECT_TRUE(everyComponent(dst,
                                       [&](int x, int y, int c) {
                                           const long long v = inType == eUInt8
                                                                   ? getLogical<quint8>(src, x, y, c)
                                                                   : getLogical<quint16>(src, x, y, c);
                                           const long long got = outType == eUInt8
                                                                     ? getLogical<quint8>(dst, x, y, c)
                                                                     : getLogical<quint16>(dst, x, y, c);
                                           return got == v * maxValues[c] / ((1 << inBits) - 1);
                                       }))
                << inType << " " << outType << " " << packing;
        }
    Image src(W, H, 3, eUInt8), dst(W, H, 3, eUInt8), i16(W, H, 3, eInt16), wide(W, H, 3, eUInt32);
    unsigned short maxValues[3] = {10, 255, 10};
    SxImageBuf none;
    EXPECT_EQ(ScaleColors(wide, dst, maxValues), eErrInvalidArg1);
    EXPECT_EQ(ScaleColors(src, none, maxValues), eErrInvalidArg2);
    EXPECT_EQ(ScaleColors(src, wide, maxValues), eErrInvalidArg2);
    EXPECT_EQ(ScaleColors(src, oxtest::changed(dst, [](SxImageBuf& b) { b.packing = ePlanar; }), maxValues),
              eErrInvalidArg2);
    EXPECT_EQ(ScaleColors(src, dst, nullptr), eErrInvalidArg3);
    maxValues[1] = 256; // 2^dst.colorBitDepth
    EXPECT_EQ(ScaleColors(src, dst, maxValues), eErrInvalidArg3);
    EXPECT_EQ(ScaleColors(i16, oxtest::changed(i16, [](SxImageBuf& b) { b.colorBitDepth = 8; }), maxValues),
              eErrInvalidArg3);
    maxValues[1] = 1;
    EXPECT_EQ(ScaleColors(i16, i16, maxValues), eErrUnsupported);
}

TEST(BitDepthRetype, UnsignedContainersConvertPlainly)
{
    oxtest::forEachType({eUInt8, eUInt16, eUInt32, eUInt64}, [](ExImageDataType in, auto a) {
        oxtest::forEachType({eUInt8, eUInt16, eUInt32, eUInt64}, [&](ExImageDataType out, auto b) {
            using In = decltype(a);
            using Out = decltype(b);
            for (ExPixelPacking packing : {ePixel, ePlanar}) {
                Image src(W, H, 3, in, packing), dst(W, H, 3, out, packing);
                oxtest::fill<In>(src, [](int x, int y, int c) {
                    return In(0x9e3779b97f4a7c15ull * (x + 3 * y + 7 * c + 1));
                });
                ASSERT_EQ(RetypeUToU(src, dst), eOk);
                EXPECT_TRUE(everyComponent(dst,
                                           [&](int x, int y, int c) {
                                               return getPixel<Out>(dst, x, y, c) ==
                                                      Out(getPixel<In>(src, x, y, c));
                                           }))
                    << in << " to " << out;
                EXPECT_TRUE(paddingIs(dst, 0xcd));
            }
        });
    });
    Image u16(1, 1, 1, eUInt16), u8(1, 1, 1, eUInt8), i16(1, 1, 1, eInt16), planar(1, 1, 3, eUInt8, ePlanar),
        rgb(1, 1, 3, eUInt8);
    oxtest::setPixel<quint16>(u16, 0, 0, 0, 0x1234);
    ASSERT_EQ(RetypeUToU(u16, u8), eOk);
    EXPECT_EQ(u8.data[0], 0x34);
    SxImageBuf none;
    EXPECT_EQ(RetypeUToU(none, u8), eErrInvalidArg1);
    EXPECT_EQ(RetypeUToU(u16, none), eErrInvalidArg2);
    EXPECT_EQ(RetypeUToU(rgb, planar), eErrInvalidArg2);
    EXPECT_EQ(RetypeUToU(rgb, u8), eErrInvalidArg2);
    EXPECT_EQ(RetypeUToU(i16, u8), eErrUnsupported);
    EXPECT_EQ(RetypeUToU(u8, i16), eErrUnsupported);
}

TEST(BitDepthRetype, FloatingPointIsTruncatedAndLimitedToTheDestinationRange)
{
    const double values[] = {-0.5,
                             3.9,
                             1e10,
                             -1e30,
                             255.99,
                             65535.5,
                             4294967295.7,
                             1.8e19,
                             3e19,
                             0.0,
                             std::numeric_limits<double>::quiet_NaN()};
    const int n = int(std::size(values));
    oxtest::forEachType({eFloat, eDouble}, [&](ExImageDataType in, auto a) {
        oxtest::forEachType({eUInt8, eUInt16, eUInt32, eUInt64}, [&](ExImageDataType out, auto b) {
            using In = decltype(a);
            using Out = decltype(b);
            for (auto [from, to] :
                 {std::pair{ePixel, ePixel}, std::pair{ePlanar, ePlanar}, std::pair{ePixel, ePlanar}}) {
                Image src(n, 3, 2, in, from), dst(n, 3, 2, out, to);
                oxtest::fill<In>(src, [&](int x, int, int) { return In(values[x]); });
                ASSERT_EQ(RetypeFloatToU(src, dst), eOk);
                EXPECT_TRUE(everyComponent(dst,
                                           [&](int x, int y, int c) {
                                               const long double v = getPixel<In>(src, x, y, c);
                                               const long double top = std::numeric_limits<Out>::max();
                                               const Out want =
                                                   v >= top ? Out(top) : (v > 0 ? Out(v) : Out(0));
                                               return getPixel<Out>(dst, x, y, c) == want;
                                           }))
                    << in << " to " << out << " packing " << from << to;
            }
        });
    });
    Image f(3, 1, 1, eFloat), u8(3, 1, 1, eUInt8), i8(3, 1, 1, eInt8);
    oxtest::fill<float>(f, [](int x, int, int) { return x == 0 ? -0.5f : x == 1 ? 3.9f : 1e10f; });
    ASSERT_EQ(RetypeFloatToU(f, u8), eOk);
    EXPECT_EQ(u8.data[0], 0);
    EXPECT_EQ(u8.data[1], 3);
    EXPECT_EQ(u8.data[2], 255);
    SxImageBuf none;
    EXPECT_EQ(RetypeFloatToU(u8, u8), eErrInvalidArg1);
    EXPECT_EQ(RetypeFloatToU(f, none), eErrInvalidArg2);
    EXPECT_EQ(RetypeFloatToU(f, i8), eErrInvalidArg2);
    EXPECT_EQ(RetypeFloatToU(f, oxtest::changed(u8, [](SxImageBuf& b) { b.bayerGrid = eRGGB; })),
              eErrInvalidArg2);
    EXPECT_EQ(RetypeFloatToU(f, oxtest::changed(u8, [](SxImageBuf& b) { b.packing = ExPixelPacking(4); })),
              eErrUnsupported);
}
