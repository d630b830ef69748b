#include <ox/bayer.h>

#include "support/image_helpers.h"

#include <cstdint>
#include <string>

using namespace ox;
using namespace oxtest;

namespace {

// Scattered values over the whole range of T (negative ones too), or small integers for floats.
template <typename T>
T value(int x, int y, int c)
{
    const std::uint64_t h = pattern(x, y, c) * 0x9e3779b97f4a7c15ull;
    if constexpr (std::is_floating_point_v<T>)
        return T(std::int64_t(h >> 40) % 2001 - 1000);
    else
        return T(h >> (64 - 8 * sizeof(T)));
}

template <typename T>
T mean(T a, T b) // rounded down
{
    if constexpr (std::is_floating_point_v<T>)
        return (a + b) / 2;
    else
        return T((__int128(a) + __int128(b)) >> 1);
}

const ExBayerGrid kLayouts[] = {eBGGR, eRGGB, eGBRG, eGRBG};
const char kPlaneColours[] = "RtBb"; // of the planar raw layout

} // namespace

TEST(Bayer, EveryOperationChecksItsArgumentsInOrderAndWritesNothingOnError)
{
    Image raw(8, 6, 1, eUInt16), rgb(8, 6, 3, eUInt16), planes(4, 3, 4, eUInt16, ePlanar),
        small(6, 6, 1, eUInt16), planarRaw(8, 6, 1, eUInt16, ePlanar), bytes(8, 6, 1, eUInt8),
        cplxRaw(4, 4, 1, eComplex, ePixel, eRGGB), cplxPlanes(2, 2, 4, eComplex, ePlanar),
        cplxOut(2, 2, 3, eComplex), raw8(8, 6, 1, eUInt8, ePixel, eRGGB), out(4, 3, 3, eUInt8),
        raw32(8, 6, 1, eInt32, ePixel, eRGGB), out32(4, 3, 3, eInt32), square(4, 4, 3, eUInt8),
        out16(4, 3, 3, eUInt16), two(4, 3, 2, eUInt8), planarOut(4, 3, 3, eUInt8, ePlanar),
        planarMono(4, 3, 1, eUInt8, ePlanar), mosaic(8, 6, 1, eUInt16, ePixel, eGRBG), rgba(4, 3, 4, eUInt8),
        rgba16(4, 3, 4, eUInt16), full(8, 6, 4, eUInt8), planarRgba(4, 3, 4, eUInt8, ePlanar),
        planes16(8, 6, 4, eUInt16, ePlanar, eGRBG);
    const Snapshot snapshot({&raw,     &rgb,        &planes,  &small, &planarRaw,  &bytes,
                             &cplxRaw, &cplxPlanes, &cplxOut, &raw8,  &out,        &raw32,
                             &out32,   &square,     &out16,   &two,   &planarOut,  &planarMono,
                             &mosaic,  &rgba,       &rgba16,  &full,  &planarRgba, &planes16});
    SxImageBuf none;
    const QRect all(0, 0, 8, 6);
    expectCodes(
        eErrInvalidArg1,
        {ConvertRawToPlanarRaw(none, all, eRGGB, planes), ConvertRawToPlanarRaw(rgb, all, eRGGB, planes),
         ConvertPlanarRawToRaw(none, raw, eRGGB), ConvertPlanarRawToRaw(rgb, raw, eRGGB),
         DemosaicSimple(none, all, out, eRGGB), DemosaicSimple(raw32, all, out32, eRGGB),
         DemosaicSimple(cplxRaw, QRect(0, 0, 4, 4), cplxOut, eRGGB), DemosaicSimpleToRGB32(none, rgba, 255)});
    // Source mosaics without a depth, layout, unsigned 8/16-bit type or with 3 or 4 interleaved channels.
    for (auto spoil :
         {+[](SxImageBuf& b) { b.colorBitDepth = 0; }, +[](SxImageBuf& b) { b.bayerGrid = eNoBayer; },
          +[](SxImageBuf& b) { b.dataType = eInt16; }, +[](SxImageBuf& b) { b.channels = 3; },
          +[](SxImageBuf& b) { b.channels = 4; }})
        EXPECT_EQ(DemosaicSimpleToRGB32(Changed(mosaic, spoil), none, 255), eErrInvalidArg1);
    // Odd or outside rectangles; planes or mosaics of the wrong form, size, type or depth.
    expectCodes(eErrInvalidArg2,
                {ConvertRawToPlanarRaw(raw, QRect(0, 0, 7, 6), eRGGB, planes),
                 ConvertRawToPlanarRaw(raw, QRect(2, 0, 8, 6), eRGGB, planes),
                 ConvertPlanarRawToRaw(planes, rgb, eNoBayer), ConvertPlanarRawToRaw(planes, planes, eRGGB),
                 ConvertPlanarRawToRaw(planes, small, eRGGB), ConvertPlanarRawToRaw(planes, planarRaw, eRGGB),
                 ConvertPlanarRawToRaw(planes, bytes, eRGGB),
                 DemosaicSimple(raw8, QRect(1, 0, 8, 6), out, eRGGB),
                 DemosaicSimpleToRGB32(mosaic, none, 255), DemosaicSimpleToRGB32(mosaic, out, 255),
                 DemosaicSimpleToRGB32(mosaic, rgba16, 255), DemosaicSimpleToRGB32(mosaic, full, 255),
                 DemosaicSimpleToRGB32(mosaic, planarRgba, 255), DemosaicSimpleToRGB32(planes16, rgba, 255)});
    expectCodes(eErrInvalidArg3,
                {ConvertRawToPlanarRaw(raw, all, eNoBayer, planes),
                 ConvertRawToPlanarRaw(raw, all, ExBayerGrid(-1), planes),
                 ConvertPlanarRawToRaw(planes, raw, eMultispectral),
                 DemosaicSimple(raw8, all, none, eNoBayer), DemosaicSimple(raw8, all, square, eNoBayer),
                 DemosaicSimple(raw8, all, out16, eNoBayer), DemosaicSimple(raw8, all, two, eNoBayer),
                 DemosaicSimple(raw8, all, planarOut, eNoBayer)});
    expectCodes(eErrInvalidArg4, {ConvertRawToPlanarRaw(raw, all, eNoBayer, none),
                                  ConvertRawToPlanarRaw(raw, QRect(0, 0, 4, 6), eNoBayer, planes),
                                  DemosaicSimple(raw8, all, out, eNoBayer),
                                  DemosaicSimple(Changed(raw8, [](auto& b) { b.bayerGrid = eMultispectral; }),
                                                 all, out, eRGGB)});
    for (auto spoil :
         {+[](SxImageBuf& b) { b.dataType = eInt16; }, +[](SxImageBuf& b) { b.packing = ePixel; },
          +[](SxImageBuf& b) { b.channels = 3; }, +[](SxImageBuf& b) { b.colorBitDepth = 12; }})
        EXPECT_EQ(ConvertRawToPlanarRaw(raw, all, eRGGB, Changed(planes, spoil)), eErrInvalidArg4);
    // A planar source must be in the planar raw layout.
    expectCodes(eErrUnsupported, {ConvertRawToPlanarRaw(cplxRaw, QRect(0, 0, 4, 4), eRGGB, cplxPlanes),
                                  ConvertPlanarRawToRaw(cplxPlanes, cplxRaw, eRGGB),
                                  DemosaicSimple(cplxPlanes, QRect(0, 0, 2, 2), cplxOut, eRGGB),
                                  DemosaicSimple(planarMono, QRect(0, 0, 4, 3), out, eRGGB)});
    EXPECT_EQ(planes.bayerGrid, eNoBayer);
    EXPECT_TRUE(snapshot.unchanged());
}

TEST(BayerPlanes, SplitEveryLayoutAndTypeAndJoinBackExactly)
{
    forEachType(kAllTypes, [](ExImageDataType type, auto zero) {
        using T = decltype(zero);
        Image raw(2 * 37 + 3, 2 * 40 + 3, 1, type);
        fill<T>(raw, value<T>);
        const QRect rect(1, 3, 2 * 37, 2 * 40); // starts on an odd column
        for (ExBayerGrid g : kLayouts) {
            SCOPED_TRACE(testing::Message() << "type " << type << " grid " << g);
            Image planes(37, 40, 4, type, ePlanar), back(74, 80, 1, type);
            ASSERT_EQ(ConvertRawToPlanarRaw(raw, rect, g, planes), eOk);
            EXPECT_EQ(planes.bayerGrid, g);
            EXPECT_TRUE(everyComponent(planes, [&](int i, int j, int p) {
                const auto [dx, dy] = cellPosition(g, kPlaneColours[p]);
                return getPixel<T>(planes, i, j, p) ==
                       value<T>(rect.x() + 2 * i + dx, rect.y() + 2 * j + dy, 0);
            }));
            ASSERT_EQ(ConvertPlanarRawToRaw(planes, back, g), eOk);
            EXPECT_EQ(back.bayerGrid, eNoBayer);
            EXPECT_TRUE(everyComponent(back, [&](int x, int y, int) {
                return getPixel<T>(back, x, y) == value<T>(x + 1, y + 3, 0);
            }));
            EXPECT_TRUE(paddingIs(back, 0xcd));
        }
    });
}

TEST(DemosaicSimple, AveragesTheGreensForEveryTypeLayoutAndSourcePacking)
{
    forEachType(kAllTypes, [](ExImageDataType type, auto zero) {
        using T = decltype(zero);
        const int r = sizeof(T) == 1 ? 2 : 0; // 8-bit results are stored blue first
        // Mosaics of 4-byte or wider components are accepted with four channels only; the mosaic then
        // runs over the components of each row.
        const int ch = sizeof(T) >= 4 ? 4 : 1;
        Image raw(2 * 45 + 1, 2 * 33 + 1, ch, type), planes(46, 34, 4, type, ePlanar);
        fill<T>(raw, value<T>);
        fill<T>(planes, value<T>);
        const QRect rect(1, 1, 2 * 45, 2 * 33);
        for (int channels : {3, 4}) {
            // Expected red, green and blue at (i, j) from a source sample(i, j, colour).
            const auto expectRgb = [&](const SxImageBuf& out, auto sample) {
                return everyComponent(out, [&](int i, int j, int c) {
                    return c == 3   ? bytesAre(out, i, j, 3, 0xcd) // the fourth channel is left unchanged
                           : c == 1 ? getPixel<T>(out, i, j, 1) == mean(sample(i, j, 't'), sample(i, j, 'b'))
                                    : getPixel<T>(out, i, j, c) == sample(i, j, c == r ? 'R' : 'B');
                });
            };
            for (ExBayerGrid g : kLayouts) {
                SCOPED_TRACE(testing::Message()
                             << "type " << type << " grid " << g << " channels " << channels);
                raw.bayerGrid = g;
                Image out(45, 33, channels, type);
                out.colorOrder = 2; // 8-bit results stay blue first whatever the order says
                // The source's own layout wins over the argument.
                ASSERT_EQ(DemosaicSimple(raw, rect, out, kLayouts[(g + 1) % 4]), eOk);
                EXPECT_TRUE(expectRgb(out, [&](int i, int j, char colour) {
                    const auto [dx, dy] = cellPosition(g, colour);
                    const int component = 1 + 2 * i + dx;
                    return value<T>(component / ch, 1 + 2 * j + dy, component % ch);
                }));
            }
            Image out(45, 33, channels, type);
            ASSERT_EQ(DemosaicSimple(planes, QRect(1, 1, 45, 33), out, eNoBayer), eOk);
            EXPECT_TRUE(expectRgb(out, [&](int i, int j, char colour) {
                return value<T>(i + 1, j + 1, std::string(kPlaneColours).find(colour));
            }));
        }
    });
}

TEST(DemosaicSimpleToRGB32, WritesTheDestinationsChannelOrderAlphaAndShiftedWords)
{
    for (ExImageDataType type : {eUInt8, eUInt16})
        for (int colorOrder : {1, 2})
            for (ExBayerGrid g : kLayouts) {
                SCOPED_TRACE(testing::Message() << type << " order " << colorOrder << " grid " << g);
                const int r = colorOrder == 1 ? 2 : 0;
                Image raw(2 * 50 + 1, 2 * 41, 1, type, ePixel, g), out(50, 41, 4, eUInt8);
                raw.colorBitDepth = 12;
                out.colorOrder = colorOrder;
                fillAny(raw, [](int x, int y, int) { return (x * 37 + y * 101) % 4096; });
                ASSERT_EQ(DemosaicSimpleToRGB32(raw, out, 77), eOk);
                const int shift = type == eUInt16 ? 4 : 0; // 12 significant bits into 8
                const auto sample = [&](int i, int j, char colour) {
                    const auto [dx, dy] = cellPosition(g, colour);
                    const int v = ((2 * i + dx) * 37 + (2 * j + dy) * 101) % 4096;
                    return type == eUInt8 ? v % 256 : v;
                };
                EXPECT_TRUE(everyComponent(out, [&](int i, int j, int c) {
                    const int expected = c == 3   ? 77
                                         : c == 1 ? (sample(i, j, 't') + sample(i, j, 'b')) / 2 >> shift
                                                  : sample(i, j, c == r ? 'R' : 'B') >> shift;
                    return getPixel<std::uint8_t>(out, i, j, c) == (expected & 255);
                }));
            }
    // Planar raw words with a depth below the destination's are not shifted: the low byte is kept.
    Image planes(3, 2, 4, eUInt16, ePlanar, eBGGR), out(3, 2, 4, eUInt8);
    planes.colorBitDepth = 6;
    fillAny(planes, [](int x, int y, int c) { return 0x100 * c + 10 * x + y + 1 + 3 * c * c; });
    ASSERT_EQ(DemosaicSimpleToRGB32(planes, out, 0), eOk);
    EXPECT_EQ(getPixel<std::uint8_t>(out, 2, 1, 2), 22); // red (plane 0) at index 2
    EXPECT_EQ(getPixel<std::uint8_t>(out, 2, 1, 1), 37); // (0x100 + 25 + 0x300 + 49) / 2, low byte
    EXPECT_EQ(getPixel<std::uint8_t>(out, 2, 1, 0), 34); // blue: 0x200 + 34, low byte
}

TEST(GuessBayerGrid, RanksTheLayoutsOrRefusesUnsuitableInput)
{
    Image grey(8, 8, 1, eUInt8, ePixel, eGRBG);
    fillAny(grey, [](int, int, int) { return 90; });
    EXPECT_EQ(GuessBayerGrid(grey, QRect(0, 0, 8, 8)), (QList<ExBayerGrid>{eRGGB, eBGGR}));
    for (QRect bad : {QRect(1, 0, 6, 8), QRect(0, 0, 6, 7), QRect(2, 2, 8, 8)})
        EXPECT_TRUE(GuessBayerGrid(grey, bad).isEmpty());
    for (auto spoil :
         {+[](SxImageBuf& b) { b.bayerGrid = eNoBayer; }, +[](SxImageBuf& b) { b.data = nullptr; },
          +[](SxImageBuf& b) { b.channels = 2; }, +[](SxImageBuf& b) { b.packing = ePlanar; },
          +[](SxImageBuf& b) { b.width = 7; }, +[](SxImageBuf& b) { b.dataType = eInt8; }})
        EXPECT_TRUE(GuessBayerGrid(Changed(grey, spoil), QRect(0, 0, 6, 6)).isEmpty());

    // A bright red, a dark blue and two close greens: the true layout comes first.
    const QList<ExBayerGrid> expected[] = {{eBGGR, eRGGB}, {eRGGB, eBGGR}, {eGBRG, eGRBG}, {eGRBG, eGBRG}};
    for (ExImageDataType type : {eUInt8, eUInt16})
        for (ExBayerGrid g : kLayouts) {
            Image raw(20, 14, 1, type, ePixel, eRGGB);
            fillAny(raw, [g](int x, int y, int) {
                const auto [rx, ry] = cellPosition(g, 'R');
                const auto [bx, by] = cellPosition(g, 'B');
                return x % 2 == rx && y % 2 == ry ? 200 : x % 2 == bx && y % 2 == by ? 20 : 100 + (x + y) % 3;
            });
            EXPECT_EQ(GuessBayerGrid(raw, QRect(2, 4, 16, 8)), expected[g]) << g;
        }

    // 90,000 samples per position of large 16-bit values overflow 32-bit sums; the guess must not.
    Image big(600, 600, 1, eUInt16, ePixel, eBGGR, 0);
    fillAny(big, [](int x, int y, int) { return x % 2 == y % 2 ? (x % 2 ? 30000 : 65535) : 20000; });
    EXPECT_EQ(GuessBayerGrid(big, QRect(0, 0, 600, 600)), (QList<ExBayerGrid>{eRGGB, eBGGR}));
}
