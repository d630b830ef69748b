#include <ox/bitdepth.h>

#include "support/image_helpers.h"

#include <cmath>
#include <iterator>
#include <limits>
#include <type_traits>

using namespace ox;
using namespace oxtest;

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

TEST(BitDepth, EveryOperationChecksItsArgumentsInOrderAndWritesNothingOnError)
{
    Image u8(W, H, 1, eUInt8), i16(W, H, 1, eInt16), rgb(W, H, 3, eUInt16), rgb8(W, H, 3, eUInt8),
        planar8(W, H, 3, eUInt8, ePlanar), wide(W, H, 3, eUInt32), i16rgb(W, H, 3, eInt16),
        f(W, H, 1, eFloat);
    const Snapshot snapshot({&u8, &i16, &rgb, &rgb8, &planar8, &wide, &i16rgb, &f});
    SxImageBuf none;
    int depth = 7;
    unsigned short tooHigh[3] = {10, 256, 10}, fine[3] = {10, 1, 10}; // 256 is 2^dst.colorBitDepth
    const auto other = [](SxImageBuf& b) { b.packing = ExPixelPacking(3); };
    expectCodes(eErrInvalidArg1,
                {DetectColorBitDepth(i16, depth), ShiftBits(none, 0), ReduceBits(u8, u8, nullptr),
                 ReduceBits(rgb8, 0, rgb8, 0), ScaleColors(wide, rgb8, fine), RetypeUToU(none, u8),
                 RetypeFloatToU(u8, u8)});
    expectCodes(eErrInvalidArg2,
                {ReduceBits(Changed(rgb, [](SxImageBuf& b) { b.channels = 1; }), rgb8, nullptr),
                 ReduceBits(rgb, 3, none, 0), ScaleColors(rgb8, wide, fine), RetypeUToU(rgb8, planar8),
                 RetypeFloatToU(f, i16),
                 RetypeFloatToU(f, Changed(u8, [](SxImageBuf& b) { b.bayerGrid = eRGGB; }))});
    expectCodes(eErrInvalidArg3, {ReduceBits(rgb, 0, none, 0), ScaleColors(rgb8, rgb8, nullptr),
                                  ScaleColors(rgb8, rgb8, tooHigh)});
    expectCodes(eErrInvalidArg4, {ReduceBits(rgb, 0, rgb8, 3)});
    expectCodes(eErrUnsupported, {ShiftBits(i16, 1), ReduceBits(rgb, Changed(rgb8, other), nullptr),
                                  ScaleColors(i16rgb, i16rgb, fine), RetypeUToU(i16, u8),
                                  RetypeFloatToU(f, Changed(u8, other))});
    EXPECT_EQ(ShiftBits(i16, 0), eOk); // nothing to do
    EXPECT_EQ(depth, 7);
    EXPECT_TRUE(snapshot.unchanged());
}

TEST(BitDepth, ShiftMovesBitsOfEveryComponentAndDetectFindsTheLargest)
{
    const std::pair<unsigned, unsigned> depths[] = {
        {0, 1}, {1, 1}, {2, 8}, {255, 8}, {256, 9}, {4095, 12}, {4096, 13}, {65535, 16}, {1u << 31, 32}};
    for (auto [value, bits] : depths)
        EXPECT_EQ(ColorBitDepthForIntensity(value), bits) << value;
    forEachType({eUInt8, eUInt16, eUInt32}, [](ExImageDataType t, auto v) {
        using T = decltype(v);
        constexpr int bits = 8 * sizeof(T);
        for (ExPixelPacking packing : {ePixel, ePlanar})
            for (int shift : {3, -5, bits, -bits - 3}) {
                SCOPED_TRACE(testing::Message() << t << " by " << shift << ", packing " << packing);
                Image img(W, H, 3, t, packing);
                img.colorBitDepth = bits - 4;
                fill<T>(img, [](int x, int y, int c) { return valueAt(x, y, c, bits); });
                ASSERT_EQ(ShiftBits(img, shift), eOk);
                T top = 0;
                EXPECT_TRUE(everyComponent(img, [&](int x, int y, int c) {
                    const unsigned long long s = valueAt(x, y, c, bits);
                    const T want = std::abs(shift) >= bits ? 0 : T(shift > 0 ? s << shift : s >> -shift);
                    top = std::max(top, want);
                    return getPixel<T>(img, x, y, c) == want;
                }));
                EXPECT_EQ(img.colorBitDepth, std::clamp(bits - 4 + shift, 0, bits));
                EXPECT_TRUE(paddingIs(img, 0xcd));
                // Detection of 8/16-bit pixel-packed images: the bits of the largest component (1 when all
                // are 0).
                const bool detected = t != eUInt32 && packing == ePixel;
                int depth = 0;
                EXPECT_EQ(DetectColorBitDepth(img, depth), detected ? eOk : eErrInvalidArg1);
                EXPECT_EQ(depth, detected ? int(ColorBitDepthForIntensity(top)) : 0);
            }
    });
}

TEST(BitDepth, ScaleAndReduceMapLogicalChannelsOntoTheDestinationRange)
{
    const unsigned short whites[3] = {4095, 1000, 3000};
    for (ExPixelPacking packing : {ePixel, ePlanar})
        for (ExImageDataType inType : {eUInt8, eUInt16})
            for (ExImageDataType outType : {eUInt8, eUInt16}) {
                SCOPED_TRACE(testing::Message() << inType << " to " << outType << ", packing " << packing);
                Image src(W, H, 3, inType, packing), dst(W, H, 3, outType, packing);
                const int inBits = src.colorBitDepth = inType == eUInt16 ? 12 : 8;
                fillAny(src, [&](int x, int y, int c) { return valueAt(x, y, c, inBits) % (whites[c] + 1); });
                // Scale: the source's whole range onto 0 ... maxValues[c].
                unsigned short maxValues[3] = {200, 17, quint16(outType == eUInt8 ? 255 : 60000)};
                ASSERT_EQ(ScaleColors(src, dst, maxValues), eOk);
                EXPECT_TRUE(everyComponent(dst, [&](int x, int y, int c) {
                    return logical(dst, x, y, c) ==
                           logical(src, x, y, c) * maxValues[c] / ((1 << inBits) - 1);
                }));
                // Reduce 16 to 8 bits (7 significant), by white points or the source's depth; alpha is not
                // written.
                for (bool given : {false, true}) {
                    if (inType == eUInt8 || outType == eUInt16)
                        break;
                    SCOPED_TRACE(given ? "white points given" : "white points from the depth");
                    Image reduced(W, H, 4, eUInt8, packing);
                    reduced.colorBitDepth = 7;
                    unsigned short points[3] = {whites[0], whites[1], whites[2]};
                    ASSERT_EQ(ReduceBits(src, reduced, given ? points : nullptr), eOk);
                    EXPECT_TRUE(everyComponent(reduced, [&](int x, int y, int c) {
                        if (c == 3)
                            return bytesAre(reduced, x, y, 3, 0xcd);
                        const double white = given ? whites[c] : 4095;
                        return logical(reduced, x, y, c) ==
                               quint8(getPixel<quint16>(src, x, y, c) * 127.0 / white);
                    }));
                }
            }
    Image mono(1, 1, 1, eUInt16), byte(1, 1, 1, eUInt8), rgb(W, H, 3, eUInt16), rgb8(W, H, 3, eUInt8);
    mono.colorBitDepth = 12;
    setPixel<quint16>(mono, 0, 0, 0, 4095);
    unsigned short tooLarge[1] = {60000}; // limited to 4095
    ASSERT_EQ(ReduceBits(mono, byte, tooLarge), eOk);
    EXPECT_EQ(byte.data[0], 255);
    // One channel: blue of the source into red of the destination, by powers of two (up from 4 bits,
    // limited to the byte).
    fill<quint16>(rgb, [](int x, int y, int c) { return valueAt(x, y, c, 12); });
    for (int depth : {12, 16, 4}) {
        rgb.colorBitDepth = depth;
        ASSERT_EQ(ReduceBits(rgb, 2, rgb8, 0), eOk);
        EXPECT_TRUE(everyComponent(rgb8, [&](int x, int y, int c) {
            const double want = std::min(std::ldexp(getPixel<quint16>(rgb, x, y, 2), 8 - depth), 255.0);
            return c == 0 ? logical(rgb8, x, y, 0) == quint8(want)
                          : bytesAre(rgb8, x, y, physicalChannel(rgb8, c), 0xcd);
        })) << depth;
    }
}

TEST(BitDepth, RetypeConvertsUnsignedPlainlyAndTruncatesFloatsWithinTheDestinationRange)
{
    const double values[] = {-0.5, 3.9, 1e10, -1e30, 255.99, 65535.5, 4294967295.7, 1.8e19, 3e19, 0.0, NAN};
    forEachType({eUInt8, eUInt16, eUInt32, eUInt64, eFloat, eDouble}, [&](ExImageDataType in, auto a) {
        forEachType({eUInt8, eUInt16, eUInt32, eUInt64}, [&](ExImageDataType out, auto b) {
            using In = decltype(a);
            using Out = decltype(b);
            constexpr bool floating = std::is_floating_point_v<In>;
            for (auto [from, to] : {std::pair{ePixel, ePixel}, {ePlanar, ePlanar}, {ePixel, ePlanar}}) {
                if (!floating && from != to)
                    continue; // refused: see the argument checks
                SCOPED_TRACE(testing::Message() << in << " to " << out << ", packing " << from << to);
                Image src(W, H, 3, in, from), dst(W, H, 3, out, to);
                fill<In>(src, [&](int x, int y, int c) {
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
}

TEST(BitDepth, ReduceAndScaleGiveExactQuotientsForEvery16BitValue)
{
    // Every 16-bit value in every channel, through the whole-row, whole-pixel (red and blue swapped into a
    // blue-first destination) and planar paths, with white points from the depth or given (0 included).
    const std::pair<int, ExPixelPacking> layouts[] = {{1, ePixel}, {3, ePixel}, {4, ePixel}, {3, ePlanar}};
    for (auto [channels, packing] : layouts)
        for (int depth : {12, 16})
            for (bool given : {false, true}) {
                SCOPED_TRACE(testing::Message() << channels << " channels, packing " << packing << ", depth "
                                                << depth << (given ? ", white points given" : ""));
                Image src(256, 256, channels, eUInt16, packing), dst(256, 256, channels, eUInt8, packing);
                src.colorBitDepth = depth;
                dst.colorBitDepth = depth == 12 ? 5 : 8;
                fill<quint16>(src, [](int x, int y, int c) { return (y * 256 + x + c * 4099) & 0xffff; });
                // 65534 over 255 levels is beyond single precision; 155 over 4095 or 65535 is, without
                // care, beyond double precision.
                unsigned short whites[4] = {65534, 0, 155, 777};
                ASSERT_EQ(ReduceBits(src, dst, given ? whites : nullptr), eOk);
                const double top = (1 << dst.colorBitDepth) - 1, full = (1 << depth) - 1;
                EXPECT_TRUE(everyComponent(dst, [&](int x, int y, int c) {
                    const double m = given ? std::min<double>(whites[c], full) : full;
                    const double v = getLogical<quint16>(src, x, y, c);
                    const double q = m > 0 ? v * top / m : (v > 0 ? top : 0);
                    return logical(dst, x, y, c) == quint8(std::min(q, top));
                }));
                if (given)
                    continue;
                // Scaled instead, to 16 and to 8 bits: the depth's range onto 0 ... m[c], beyond it m[c].
                const unsigned short bytes[4] = {254, 0, 149,
                                                 77}; // 149 over 65535 is beyond single precision
                for (ExImageDataType type : {eUInt16, eUInt8}) {
                    const unsigned short* m = type == eUInt16 ? whites : bytes;
                    Image scaled(256, 256, channels, type, packing);
                    ASSERT_EQ(ScaleColors(src, scaled, const_cast<unsigned short*>(m)), eOk);
                    EXPECT_TRUE(everyComponent(scaled, [&](int x, int y, int c) {
                        const quint64 v = getLogical<quint16>(src, x, y, c);
                        return quint64(logical(scaled, x, y, c)) ==
                               std::min<quint64>(v * m[c] / quint64(full), m[c]);
                    })) << type;
                }
            }
}
