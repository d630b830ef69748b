#include <ox/bayer.h>

#include "support/image_helpers.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

using namespace ox;
using namespace oxtest;
using Image = oxtest::ScopedImage;

namespace {

// Calls f(type, T{}) for every real data type.
template <typename F>
void forEachRealType(F f)
{
    f(eInt8, std::int8_t{}), f(eUInt8, std::uint8_t{}), f(eInt16, std::int16_t{}),
        f(eUInt16, std::uint16_t{});
    f(eInt32, std::int32_t{}), f(eUInt32, std::uint32_t{}), f(eFloat, float{}), f(eDouble, double{});
    f(eInt64, std::int64_t{}), f(eUInt64, std::uint64_t{});
}

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
const char* const kNames[] = {"BGGR", "RGGB", "GBRG", "GRBG"};

// Cell position (dx, dy) of red 'R', blue 'B', top-row green 't' or bottom-row green 'b'.
std::pair<int, int> cellPosition(ExBayerGrid g, char colour)
{
    const std::string cell = kNames[g];
    const std::size_t at = colour == 't'   ? cell.find('G')
                           : colour == 'b' ? cell.find('G', 2)
                                           : cell.find(colour);
    return {int(at % 2), int(at / 2)};
}
const char kPlaneColours[] = {'R', 't', 'B', 'b'};

// Fills an 8- or 16-bit buffer with f(x, y, c), truncated to the component.
template <typename F>
void fillWords(SxImageBuf& b, F f)
{
    if (b.dataType == eUInt8)
        fill<std::uint8_t>(b, f);
    else
        fill<std::uint16_t>(b, f);
}

} // namespace

TEST(BayerPlanes, ChecksArgumentsInOrderAndWritesNothingOnError)
{
    Image raw(8, 6, 1, eUInt16), rgb(8, 6, 3, eUInt16), planes(4, 3, 4, eUInt16, ePlanar),
        small(6, 6, 1, eUInt16), planarRaw(8, 6, 1, eUInt16, ePlanar), bytes(8, 6, 1, eUInt8),
        complexRaw(4, 4, 1, eComplex), complexPlanes(2, 2, 4, eComplex, ePlanar);
    SxImageBuf none;
    const QRect all(0, 0, 8, 6);
    EXPECT_EQ(ConvertRawToPlanarRaw(none, all, eRGGB, planes), eErrInvalidArg1);
    EXPECT_EQ(ConvertRawToPlanarRaw(rgb, all, eRGGB, planes), eErrInvalidArg1);
    EXPECT_EQ(ConvertRawToPlanarRaw(raw, QRect(0, 0, 7, 6), eRGGB, planes), eErrInvalidArg2);
    EXPECT_EQ(ConvertRawToPlanarRaw(raw, QRect(2, 0, 8, 6), eRGGB, planes), eErrInvalidArg2);
    EXPECT_EQ(ConvertRawToPlanarRaw(raw, all, eNoBayer, none), eErrInvalidArg4);
    EXPECT_EQ(ConvertRawToPlanarRaw(raw, QRect(0, 0, 4, 6), eNoBayer, planes), eErrInvalidArg4);
    for (auto spoil :
         {+[](SxImageBuf& b) { b.dataType = eInt16; }, +[](SxImageBuf& b) { b.packing = ePixel; },
          +[](SxImageBuf& b) { b.channels = 3; }, +[](SxImageBuf& b) { b.colorBitDepth = 12; }})
        EXPECT_EQ(ConvertRawToPlanarRaw(raw, all, eRGGB, changed(planes, spoil)), eErrInvalidArg4);
    EXPECT_EQ(ConvertRawToPlanarRaw(raw, all, eNoBayer, planes), eErrInvalidArg3);
    EXPECT_EQ(ConvertRawToPlanarRaw(raw, all, ExBayerGrid(-1), planes), eErrInvalidArg3);
    EXPECT_EQ(planes.bayerGrid, eNoBayer);
    EXPECT_EQ(getPixel<std::uint16_t>(planes, 0, 0, 0), 0xcdcd);

    EXPECT_EQ(ConvertPlanarRawToRaw(none, raw, eRGGB), eErrInvalidArg1);
    EXPECT_EQ(ConvertPlanarRawToRaw(rgb, raw, eRGGB), eErrInvalidArg1);
    EXPECT_EQ(ConvertPlanarRawToRaw(planes, rgb, eNoBayer), eErrInvalidArg2);
    for (SxImageBuf* bad : {&planes, &small, &planarRaw, &bytes})
        EXPECT_EQ(ConvertPlanarRawToRaw(planes, *bad, eRGGB), eErrInvalidArg2);
    EXPECT_EQ(ConvertPlanarRawToRaw(planes, raw, eMultispectral), eErrInvalidArg3);
    EXPECT_EQ(getPixel<std::uint16_t>(raw, 0, 0), 0xcdcd);

    EXPECT_EQ(ConvertRawToPlanarRaw(complexRaw, QRect(0, 0, 4, 4), eRGGB, complexPlanes), eErrUnsupported);
    EXPECT_EQ(ConvertPlanarRawToRaw(complexPlanes, complexRaw, eRGGB), eErrUnsupported);
}

TEST(BayerPlanes, SplitsEveryLayoutAndTypeAndJoinsBackExactly)
{
    forEachRealType([](ExImageDataType type, auto zero) {
        using T = decltype(zero);
        Image raw(2 * 37 + 3, 2 * 40 + 3, 1, type);
        fill<T>(raw, value<T>);
        const QRect rect(1, 3, 2 * 37, 2 * 40); // starts on an odd column
        for (ExBayerGrid g : kLayouts) {
            SCOPED_TRACE(testing::Message() << "type " << type << " grid " << kNames[g]);
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

TEST(DemosaicSimple, ChecksArgumentsInOrder)
{
    Image raw(8, 6, 1, eUInt8, ePixel, eRGGB), out(4, 3, 3, eUInt8), wideMono(8, 6, 1, eInt32, ePixel, eRGGB),
        wideOut(4, 3, 3, eInt32), wrongSize(4, 4, 3, eUInt8), wrongType(4, 3, 3, eUInt16),
        twoChannels(4, 3, 2, eUInt8), planarOut(4, 3, 3, eUInt8, ePlanar),
        complexRaw(4, 4, 1, eComplex, ePixel, eRGGB), complexPlanes(2, 2, 4, eComplex, ePlanar),
        complexOut(2, 2, 3, eComplex), planarMono(4, 3, 1, eUInt8, ePlanar);
    SxImageBuf none;
    const QRect all(0, 0, 8, 6);
    EXPECT_EQ(DemosaicSimple(none, all, out, eRGGB), eErrInvalidArg1);
    EXPECT_EQ(DemosaicSimple(wideMono, all, wideOut, eRGGB), eErrInvalidArg1);
    EXPECT_EQ(DemosaicSimple(raw, QRect(1, 0, 8, 6), out, eRGGB), eErrInvalidArg2);
    for (SxImageBuf* bad : Buffers{&none, &wrongSize, &wrongType, &twoChannels, &planarOut})
        EXPECT_EQ(DemosaicSimple(raw, all, *bad, eNoBayer), eErrInvalidArg3);
    EXPECT_EQ(DemosaicSimple(raw, all, out, eNoBayer), eErrInvalidArg4);
    EXPECT_EQ(DemosaicSimple(changed(raw, [](auto& b) { b.bayerGrid = eMultispectral; }), all, out, eRGGB),
              eErrInvalidArg4);
    EXPECT_EQ(getPixel<std::uint8_t>(out, 0, 0), 0xcd);
    EXPECT_EQ(DemosaicSimple(complexRaw, QRect(0, 0, 4, 4), complexOut, eRGGB), eErrInvalidArg1);
    EXPECT_EQ(DemosaicSimple(complexPlanes, QRect(0, 0, 2, 2), complexOut, eRGGB), eErrUnsupported);
    // Planar but not the planar raw layout.
    EXPECT_EQ(DemosaicSimple(planarMono, QRect(0, 0, 4, 3), out, eRGGB), eErrUnsupported);
}

TEST(DemosaicSimple, AveragesTheGreensForEveryTypeLayoutAndSourcePacking)
{
    forEachRealType([](ExImageDataType type, auto zero) {
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
                             << "type " << type << " grid " << kNames[g] << " channels " << channels);
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
                return value<T>(i + 1, j + 1, std::string("RtBb").find(colour));
            }));
        }
        Image out(45, 33, 3, type); // wide components with one channel: refused
        if (ch == 4) {
            EXPECT_EQ(DemosaicSimple(changed(raw, [](auto& b) { b.channels = 1; }), rect, out, eRGGB),
                      eErrInvalidArg1);
        }
    });
}

TEST(DemosaicSimpleToRGB32, ChecksArgumentsInOrder)
{
    Image raw(8, 6, 1, eUInt16, ePixel, eGRBG), out(4, 3, 4, eUInt8), three(4, 3, 3, eUInt8),
        words(4, 3, 4, eUInt16), full(8, 6, 4, eUInt8), planar(4, 3, 4, eUInt8, ePlanar),
        planes(8, 6, 4, eUInt16, ePlanar, eGRBG);
    SxImageBuf none;
    EXPECT_EQ(DemosaicSimpleToRGB32(none, out, 255), eErrInvalidArg1);
    for (auto spoil :
         {+[](SxImageBuf& b) { b.colorBitDepth = 0; }, +[](SxImageBuf& b) { b.bayerGrid = eNoBayer; },
          +[](SxImageBuf& b) { b.dataType = eInt16; }, +[](SxImageBuf& b) { b.channels = 3; },
          +[](SxImageBuf& b) { b.channels = 4; }}) // four channels must be planar
        EXPECT_EQ(DemosaicSimpleToRGB32(changed(raw, spoil), none, 255), eErrInvalidArg1);
    for (SxImageBuf* bad : Buffers{&none, &three, &words, &full, &planar})
        EXPECT_EQ(DemosaicSimpleToRGB32(raw, *bad, 255), eErrInvalidArg2);
    EXPECT_EQ(DemosaicSimpleToRGB32(planes, out, 255), eErrInvalidArg2); // planar needs the same size
    EXPECT_EQ(getPixel<std::uint8_t>(out, 0, 0), 0xcd);
}

TEST(DemosaicSimpleToRGB32, WritesTheDestinationsChannelOrderAlphaAndShiftedWords)
{
    for (ExImageDataType type : {eUInt8, eUInt16})
        for (int colorOrder : {1, 2})
            for (ExBayerGrid g : kLayouts) {
                SCOPED_TRACE(testing::Message() << type << " order " << colorOrder << " " << kNames[g]);
                const int r = colorOrder == 1 ? 2 : 0;
                Image raw(2 * 50 + 1, 2 * 41, 1, type, ePixel, g), out(50, 41, 4, eUInt8);
                raw.colorBitDepth = 12;
                out.colorOrder = colorOrder;
                fillWords(raw, [](int x, int y, int) { return (x * 37 + y * 101) % 4096; });
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
    fillWords(planes, [](int x, int y, int c) { return 0x100 * c + 10 * x + y + 1 + 3 * c * c; });
    ASSERT_EQ(DemosaicSimpleToRGB32(planes, out, 0), eOk);
    EXPECT_EQ(getPixel<std::uint8_t>(out, 2, 1, 2), 22); // red (plane 0) at index 2
    EXPECT_EQ(getPixel<std::uint8_t>(out, 2, 1, 1), 37); // (0x100 + 25 + 0x300 + 49) / 2, low byte
    EXPECT_EQ(getPixel<std::uint8_t>(out, 2, 1, 0), 34); // blue: 0x200 + 34, low byte
}

TEST(GuessBayerGrid, RanksTheLayoutsOrRefusesUnsuitableInput)
{
    Image grey(8, 8, 1, eUInt8, ePixel, eGRBG);
    fillWords(grey, [](int, int, int) { return 90; });
    EXPECT_EQ(GuessBayerGrid(grey, QRect(0, 0, 8, 8)), (QList<ExBayerGrid>{eRGGB, eBGGR}));
    for (QRect bad : {QRect(1, 0, 6, 8), QRect(0, 0, 6, 7), QRect(2, 2, 8, 8)})
        EXPECT_TRUE(GuessBayerGrid(grey, bad).isEmpty());
    for (auto spoil :
         {+[](SxImageBuf& b) { b.bayerGrid = eNoBayer; }, +[](SxImageBuf& b) { b.data = nullptr; },
          +[](SxImageBuf& b) { b.channels = 2; }, +[](SxImageBuf& b) { b.packing = ePlanar; },
          +[](SxImageBuf& b) { b.width = 7; }, +[](SxImageBuf& b) { b.dataType = eInt8; }})
        EXPECT_TRUE(GuessBayerGrid(changed(grey, spoil), QRect(0, 0, 6, 6)).isEmpty());

    // A bright red, a dark blue and two close greens: the true layout comes first.
    const QList<ExBayerGrid> expected[] = {{eBGGR, eRGGB}, {eRGGB, eBGGR}, {eGBRG, eGRBG}, {eGRBG, eGBRG}};
    for (ExImageDataType type : {eUInt8, eUInt16})
        for (ExBayerGrid g : kLayouts) {
            Image raw(20, 14, 1, type, ePixel, eRGGB);
            fillWords(raw, [g](int x, int y, int) {
                const char colour = kNames[g][(y % 2) * 2 + x % 2];
                return colour == 'R' ? 200 : colour == 'B' ? 20 : 100 + (x + y) % 3;
            });
            EXPECT_EQ(GuessBayerGrid(raw, QRect(2, 4, 16, 8)), expected[g]) << kNames[g];
        }

    // 90,000 samples per position of large 16-bit values overflow 32-bit sums; the guess must not.
    Image big(600, 600, 1, eUInt16, ePixel, eBGGR, 0);
    fillWords(big, [](int x, int y, int) { return x % 2 == y % 2 ? (x % 2 ? 30000 : 65535) : 20000; });
    EXPECT_EQ(GuessBayerGrid(big, QRect(0, 0, 600, 600)), (QList<ExBayerGrid>{eRGGB, eBGGR}));
}
