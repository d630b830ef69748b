#include <ox/bayer.h>

#include "support/image_helpers.h"

using namespace ox;
using namespace oxtest;

namespace {

// Scattered values over the whole range of T (negative ones too), or small integers for floats.
template <typename T>
T value(int x, int y, int c)
{
    const std::uint64_t h = pattern(x, y, c) * 0x9e3779b97f4a7c15ull;
    return std::is_floating_point_v<T> ? T(std::int64_t(h >> 40) % 2001 - 1000)
                                       : T(h >> (64 - 8 * sizeof(T)));
}

template <typename T>
T mean(T a, T b) // rounded down
{
    return std::is_floating_point_v<T> ? T((a + b) / 2) : T((__int128(a) + __int128(b)) >> 1);
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

TEST(BayerPlanesAndDemosaicSimple, SplitJoinAndAverageTheGreensOfEveryTypeLayoutAndSourcePacking)
{
    forEachType(kAllTypes, [](ExImageDataType type, auto zero) {
        using T = decltype(zero);
        // Mosaics of 4-byte or wider components are demosaiced with four channels only, the mosaic then
        // running over the components of each row; the planar raw layout sees them as one channel.
        const int ch = sizeof(T) >= 4 ? 4 : 1;
        Image raw(2 * 37 + 1, 2 * 33 + 3, ch, type);
        fill<T>(raw, value<T>);
        const auto sample = [&](int x, int y) { return value<T>(x / ch, y, x % ch); }; // component x of row y
        Changed mono(raw, [&](SxImageBuf& b) { b.width *= ch, b.channels = 1; });
        const QRect rect(1, 3, 2 * 37, 2 * 33); // starts on an odd column
        for (ExBayerGrid g : kLayouts) {
            SCOPED_TRACE(testing::Message() << type << " grid " << g);
            // Colour `colour` of cell (i, j) of the mosaic from `o`; red (at physical channel r), the mean
            // of the greens (rounded down) or blue for channel c.
            const auto cell = [&](int i, int j, char colour, QPoint o) {
                const auto [dx, dy] = cellPosition(g, colour);
                return sample(o.x() + 2 * i + dx, o.y() + 2 * j + dy);
            };
            const auto rgb = [&](int i, int j, int c, int r, QPoint o) {
                return c == 1 ? mean(cell(i, j, 't', o), cell(i, j, 'b', o))
                              : cell(i, j, c == r ? 'R' : 'B', o);
            };
            Image planes(37, 33, 4, type, ePlanar), back(74, 66, 1, type);
            ASSERT_EQ(ConvertRawToPlanarRaw(mono, rect, g, planes), eOk);
            EXPECT_EQ(planes.bayerGrid, g);
            EXPECT_TRUE(everyComponent(planes, [&](int i, int j, int p) {
                return getPixel<T>(planes, i, j, p) == cell(i, j, kPlaneColours[p], rect.topLeft());
            }));
            ASSERT_EQ(ConvertPlanarRawToRaw(planes, back, g), eOk);
            EXPECT_EQ(back.bayerGrid, eNoBayer);
            EXPECT_TRUE(everyComponent(
                back, [&](int x, int y, int) { return getPixel<T>(back, x, y) == sample(x + 1, y + 3); }));
            EXPECT_TRUE(paddingIs(back, 0xcd));
            raw.bayerGrid = g;
            for (int channels : {3, 4}) {
                // 8-bit results are stored blue first whatever the order says; the fourth channel is left
                // unchanged.
                const auto expectRgb = [&](const SxImageBuf& out, QPoint o) {
                    return everyComponent(out, [&](int i, int j, int c) {
                        return c == 3 ? bytesAre(out, i, j, 3, 0xcd)
                                      : getPixel<T>(out, i, j, c) == rgb(i, j, c, sizeof(T) == 1 ? 2 : 0, o);
                    });
                };
                Image out(37, 33, channels, type), fromPlanes(36, 32, channels, type);
                out.colorOrder = fromPlanes.colorOrder = 2;
                // The source's own layout wins over the argument.
                ASSERT_EQ(DemosaicSimple(raw, rect, out, kLayouts[(g + 1) % 4]), eOk);
                EXPECT_TRUE(expectRgb(out, rect.topLeft())) << channels;
                ASSERT_EQ(DemosaicSimple(planes, QRect(1, 1, 36, 32), fromPlanes, eNoBayer), eOk);
                EXPECT_TRUE(expectRgb(fromPlanes, QPoint(3, 5))) << channels; // one cell in
            }
            if constexpr (std::is_same_v<T, std::uint8_t> || std::is_same_v<T, std::uint16_t>) {
                // To 32-bit pixels in the destination's channel order with the given alpha: mosaic words
                // shifted from 16 significant bits to 8, planar words below 8 bits keep their low byte.
                raw.colorBitDepth = 16, planes.colorBitDepth = 6;
                for (int colorOrder : {1, 2}) {
                    const auto expect = [&](const SxImageBuf& out, QPoint o, int shift, int alpha) {
                        return everyComponent(out, [&](int i, int j, int c) {
                            const int v = rgb(i, j, c, colorOrder == 1 ? 2 : 0, o);
                            return getPixel<std::uint8_t>(out, i, j, c) ==
                                   (c == 3 ? alpha : v >> shift & 255);
                        });
                    };
                    Image fromRaw(37, 34, 4, eUInt8), fromPlanes(37, 33, 4, eUInt8);
                    fromRaw.colorOrder = fromPlanes.colorOrder = colorOrder;
                    ASSERT_EQ(DemosaicSimpleToRGB32(raw, fromRaw, 77), eOk);
                    EXPECT_TRUE(expect(fromRaw, QPoint(0, 0), 8 * (sizeof(T) - 1), 77)) << colorOrder;
                    ASSERT_EQ(DemosaicSimpleToRGB32(planes, fromPlanes, 0), eOk);
                    EXPECT_TRUE(expect(fromPlanes, rect.topLeft(), 0, 0)) << colorOrder;
                }
            }
        }
    });
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
    // A bright red, a dark blue and two close greens, whatever layout the buffer names: the true layout
    // comes first, then the one with red and blue swapped. The 88,506 large 16-bit samples per cell
    // position overflow 32-bit sums; the guess must not.
    for (ExImageDataType type : {eUInt8, eUInt16})
        for (ExBayerGrid g : kLayouts) {
            const std::pair<int, int> red = cellPosition(g, 'R'), blue = cellPosition(g, 'B');
            Image raw(600, 600, 1, type, ePixel, eRGGB);
            fillAny(raw, [&](int x, int y, int) {
                const std::pair at(x % 2, y % 2);
                const int v = at == red ? 65535 : at == blue ? 30000 : 20000 + (x + y) % 3;
                return type == eUInt8 ? v >> 8 : v;
            });
            EXPECT_EQ(GuessBayerGrid(raw, QRect(2, 4, 596, 594)), (QList<ExBayerGrid>{g, ExBayerGrid(g ^ 1)}))
                << type << " grid " << g;
        }
}
