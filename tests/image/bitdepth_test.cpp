#include <ox/bitdepth.h>

#include "support/image_helpers.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <iterator>
#include <limits>
#include <type_traits>
#include <utility>

using namespace ox;
using oxtest::everyComponent;
using oxtest::getLogical;
using oxtest::getPixel;
using oxtest::paddingIs;
using Image = oxtest::ScopedImage;

namespace {

constexpr int W = 67, H = 45; // odd sizes: no row is a multiple of a vector

// A value below 2^bits for every component.
long long valueAt(int x, int y, int c, int bits)
{
    return (x * 7919LL + y * 104729LL + c * 31LL) % (1LL << bits);
}

// Logical component (x, y, c) of an 8- or 16-bit unsigned image.
long long logical(const SxImageBuf& b, int x, int y, int c)
{
    return b.dataType == eUInt8 ? getLogical<quint8>(b, x, y, c) : getLogical<quint16>(b, x, y, c);
}

} // namespace

TEST(BitDepthDetect, FindsTheBitsOfTheLargestComponent)
{
    const std::pair<unsigned, unsigned> depths[] = {
        {0, 1}, {1, 1}, {2, 8}, {255, 8}, {256, 9}, {4095, 12}, {4096, 13}, {65535, 16}, {1u << 31, 32}};
    for (auto [value, bits] : depths)
        EXPECT_EQ(ColorBitDepthForIntensity(value), bits) << value;

    Image mono(W, H, 1, eUInt16), rgb(W, H, 3, eUInt8), i16(W, H, 1, eInt16);
    oxtest::fill<quint16>(mono, [](int x, int y, int) { return (x * y) % 1000; });
    oxtest::setPixel<quint16>(mono, 66, 44, 0, 1000);
    oxtest::fill<quint8>(rgb, [](int, int, int) { return 0; });
    int depth = 0, zero = 0;
    ASSERT_EQ(DetectColorBitDepth(mono, depth), eOk);
    ASSERT_EQ(DetectColorBitDepth(rgb, zero), eOk);
    EXPECT_EQ(depth, 10);
    EXPECT_EQ(zero, 1);
    oxtest::setPixel<quint8>(rgb, 66, 44, 2, 3); // the last component counts
    ASSERT_EQ(DetectColorBitDepth(rgb, depth), eOk);
    EXPECT_EQ(depth, 8);
    EXPECT_EQ(DetectColorBitDepth(i16, depth), eErrInvalidArg1);
    EXPECT_EQ(depth, 8);
}

TEST(BitDepthShift, MovesBitsOfEveryComponentAndTracksTheDepth)
{
    oxtest::forEachType({eUInt8, eUInt16, eUInt32}, [](ExImageDataType t, auto v) {
        using T = decltype(v);
        constexpr int bits = 8 * sizeof(T);
        for (ExPixelPacking packing : {ePixel, ePlanar})
            for (int shift : {3, -5, bits, -bits - 3}) {
                SCOPED_TRACE(testing::Message() << t << " by " << shift << ", packing " << packing);
                Image img(W, H, 3, t, packing);
                img.colorBitDepth = bits - 4;
                oxtest::fill<T>(img, [](int x, int y, int c) { return valueAt(x, y, c, bits); });
                ASSERT_EQ(ShiftBits(img, shift), eOk);
                EXPECT_TRUE(everyComponent(img, [&](int x, int y, int c) {
                    const unsigned long long s = valueAt(x, y, c, bits);
                    const T want = std::abs(shift) >= bits ? 0 : T(shift > 0 ? s << shift : s >> -shift);
                    return getPixel<T>(img, x, y, c) == want;
                }));
                EXPECT_EQ(img.colorBitDepth, std::clamp(bits - 4 + shift, 0, bits));
                EXPECT_TRUE(paddingIs(img, 0xcd));
            }
    });
    Image i16(W, H, 1, eInt16);
    SxImageBuf none;
    EXPECT_EQ(ShiftBits(i16, 0), eOk);
    EXPECT_EQ(ShiftBits(none, 0), eErrInvalidArg1);
    EXPECT_EQ(ShiftBits(i16, 1), eErrUnsupported);
}

TEST(BitDepthReduce, WhitePointsOrPowersOfTwoMapLogicalChannelsOntoTheDestinationDepth)
{
    const unsigned short whites[3] = {4095, 1000, 3000};
    for (ExPixelPacking packing : {ePixel, ePlanar})
        for (bool given : {false, true}) {
            SCOPED_TRACE(testing::Message() << "packing " << packing << ", white points given " << given);
            Image src(W, H, 3, eUInt16, packing), dst(W, H, 4, eUInt8, packing);
            src.colorBitDepth = 12;
            dst.colorBitDepth = 7;
            oxtest::fill<quint16>(
                src, [&](int x, int y, int c) { return valueAt(x, y, c, 12) % (whites[c] + 1); });
            unsigned short maxValues[3] = {whites[0], whites[1], whites[2]};
            ASSERT_EQ(ReduceBits(src, dst, given ? maxValues : nullptr), eOk);
            EXPECT_TRUE(everyComponent(dst, [&](int x, int y, int c) {
                if (c == 3)
                    return oxtest::bytesAre(dst, x, y, 3, 0xcd);
                const double m = given ? whites[c] : 4095;
                return logical(dst, x, y, c) == quint8(getPixel<quint16>(src, x, y, c) * 127.0 / m);
            }));
        }
    Image mono(1, 1, 1, eUInt16), byte(1, 1, 1, eUInt8), rgb(W, H, 3, eUInt16), rgb8(W, H, 3, eUInt8);
    mono.colorBitDepth = 12;
    oxtest::setPixel<quint16>(mono, 0, 0, 0, 4095);
    unsigned short tooLarge[1] = {60000}; // limited to 4095
    ASSERT_EQ(ReduceBits(mono, byte, tooLarge), eOk);
    EXPECT_EQ(byte.data[0], 255);

    EXPECT_EQ(ReduceBits(byte, byte, nullptr), eErrInvalidArg1);
    EXPECT_EQ(ReduceBits(oxtest::changed(rgb, [](SxImageBuf& b) { b.channels = 1; }), rgb8, nullptr),
              eErrInvalidArg2);
    EXPECT_EQ(
        ReduceBits(rgb, oxtest::changed(rgb8, [](SxImageBuf& b) { b.packing = ExPixelPacking(3); }), nullptr),
        eErrUnsupported);

    // One channel by powers of two.
    rgb.colorBitDepth = 12;
    oxtest::fill<quint16>(rgb, [](int x, int y, int c) { return valueAt(x, y, c, 12); });
    ASSERT_EQ(ReduceBits(rgb, 2, rgb8, 0), eOk);
    EXPECT_TRUE(everyComponent(rgb8, [&](int x, int y, int c) {
        return c == 0 ? logical(rgb8, x, y, 0) == getPixel<quint16>(rgb, x, y, 2) / 16
                      : oxtest::bytesAre(rgb8, x, y, oxtest::physicalChannel(rgb8, c), 0xcd);
    }));
    SxImageBuf none;
    EXPECT_EQ(ReduceBits(rgb8, 0, rgb8, 0), eErrInvalidArg1);
    EXPECT_EQ(ReduceBits(rgb, 3, none, 0), eErrInvalidArg2);
    EXPECT_EQ(ReduceBits(rgb, 0, none, 0), eErrInvalidArg3);
    EXPECT_EQ(ReduceBits(rgb, 0, rgb8, 3), eErrInvalidArg4);
}

TEST(BitDepthScale, MapsTheFullSourceRangeOntoEachChannelsMaximum)
{
    for (ExImageDataType inType : {eUInt8, eUInt16})
        for (ExImageDataType outType : {eUInt8, eUInt16})
            for (ExPixelPacking packing : {ePixel, ePlanar}) {
                SCOPED_TRACE(testing::Message() << inType << " to " << outType << ", packing " << packing);
                Image src(W, H, 3, inType, packing), dst(W, H, 3, outType, packing);
                const int inBits = src.colorBitDepth = inType == eUInt16 ? 10 : 8;
                if (inType == eUInt8)
                    oxtest::fillLogical<quint8>(src,
                                                [&](int x, int y, int c) { return valueAt(x, y, c, 8); });
                else
                    oxtest::fill<quint16>(src, [&](int x, int y, int c) { return valueAt(x, y, c, inBits); });
                unsigned short maxValues[3] = {200, 17, quint16(outType == eUInt8 ? 255 : 60000)};
                ASSERT_EQ(ScaleColors(src, dst, maxValues), eOk);
                EXPECT_TRUE(everyComponent(dst, [&](int x, int y, int c) {
                    return logical(dst, x, y, c) ==
                           logical(src, x, y, c) * maxValues[c] / ((1 << inBits) - 1);
                }));
            }
    Image src(W, H, 3, eUInt8), dst(W, H, 3, eUInt8), i16(W, H, 3, eInt16), wide(W, H, 3, eUInt32);
    unsigned short maxValues[3] = {10, 256, 10}; // 256 is 2^dst.colorBitDepth
    EXPECT_EQ(ScaleColors(wide, dst, maxValues), eErrInvalidArg1);
    EXPECT_EQ(ScaleColors(src, wide, maxValues), eErrInvalidArg2);
    EXPECT_EQ(ScaleColors(src, dst, nullptr), eErrInvalidArg3);
    EXPECT_EQ(ScaleColors(src, dst, maxValues), eErrInvalidArg3);
    maxValues[1] = 1;
    EXPECT_EQ(ScaleColors(i16, i16, maxValues), eErrUnsupported);
}

TEST(BitDepthRetype, UnsignedConvertsPlainlyAndFloatingPointIsTruncatedWithinTheDestinationRange)
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
    oxtest::forEachType({eUInt8, eUInt16, eUInt32, eUInt64, eFloat, eDouble}, [&](ExImageDataType in,
                                                                                  auto a) {
        oxtest::forEachType({eUInt8, eUInt16, eUInt32, eUInt64}, [&](ExImageDataType out, auto b) {
            using In = decltype(a);
            using Out = decltype(b);
            constexpr bool floating = std::is_floating_point_v<In>;
            for (auto [from, to] :
                 {std::pair{ePixel, ePixel}, std::pair{ePlanar, ePlanar}, std::pair{ePixel, ePlanar}}) {
                if (!floating && from != to)
                    continue; // refused below
                SCOPED_TRACE(testing::Message() << in << " to " << out << ", packing " << from << to);
                Image src(W, H, 3, in, from), dst(W, H, 3, out, to);
                oxtest::fill<In>(src, [&](int x, int y, int c) {
                    const std::uint64_t k = x + 3 * y + 7 * c + 1;
                    if constexpr (floating)
                        return In(values[k % std::size(values)]);
                    return In(0x9e3779b97f4a7c15ull * k);
                });
                ASSERT_EQ(floating ? RetypeFloatToU(src, dst) : RetypeUToU(src, dst), eOk);
                EXPECT_TRUE(everyComponent(dst, [&](int x, int y, int c) {
                    const In v = getPixel<In>(src, x, y, c);
                    const long double top = std::numeric_limits<Out>::max();
                    if constexpr (!floating)
                        return getPixel<Out>(dst, x, y, c) == Out(v);
                    return getPixel<Out>(dst, x, y, c) == (v >= top ? Out(top) : (v > 0 ? Out(v) : Out(0)));
                }));
                EXPECT_TRUE(paddingIs(dst, 0xcd));
            }
        });
    });
    Image u8(1, 1, 1, eUInt8), i16(1, 1, 1, eInt16), planar(1, 1, 3, eUInt8, ePlanar), rgb(1, 1, 3, eUInt8),
        f(1, 1, 1, eFloat);
    SxImageBuf none;
    EXPECT_EQ(RetypeUToU(none, u8), eErrInvalidArg1);
    EXPECT_EQ(RetypeUToU(rgb, planar), eErrInvalidArg2);
    EXPECT_EQ(RetypeUToU(i16, u8), eErrUnsupported);
    EXPECT_EQ(RetypeFloatToU(u8, u8), eErrInvalidArg1);
    EXPECT_EQ(RetypeFloatToU(f, i16), eErrInvalidArg2);
    EXPECT_EQ(RetypeFloatToU(f, oxtest::changed(u8, [](SxImageBuf& b) { b.bayerGrid = eRGGB; })),
              eErrInvalidArg2);
    EXPECT_EQ(RetypeFloatToU(f, oxtest::changed(u8, [](SxImageBuf& b) { b.packing = ExPixelPacking(4); })),
              eErrUnsupported);
}
