#include <ox/bayer.h>

#include "support/image_helpers.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

using namespace ox;
using oxtest::getPixel;
using oxtest::setPixel;

namespace {

// An allocated buffer, released at the end of the scope; rows padded by `pad` bytes.
struct Image : SxImageBuf
{
    Image(int w, int h, int c, ExImageDataType t, ExPixelPacking p = ePixel, int pad = 40,
          ExBayerGrid g = eNoBayer)
    {
        const int row = w * c * int(oxtest::componentSize(t)) / (p == ePlanar ? c : 1);
        EXPECT_EQ(AllocBuffer(*this, w, h, c, t, row + pad, 0, p, true, eUncompressed), eOk);
        bayerGrid = g;
        oxtest::fillBytes(*this, 0xcd);
    }
    ~Image() { FreeBuffer(*this); }
};

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
    const std::uint64_t h = oxtest::pattern(x, y, c) * 0x9e3779b97f4a7c15ull;
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
        oxtest::fill<std::uint8_t>(b, f);
    else
        oxtest::fill<std::uint16_t>(b, f);
}

} // namespace

TEST(BayerPlanes, ChecksArgumentsInOrderAndWritesNothingOnError)
{
    Image raw(8, 6, 1, eUInt16), rgb(8, 6, 3, eUInt16), planes(4, 3, 4, eUInt16, ePlanar);
    planes.bayerGrid = eNoBayer;
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
          +[](SxImageBuf& b) { b.channels = 3; }, +[](SxImageBuf& b) { b.colorBitDepth = 12; }}) {
        SxImageBuf bad = planes;
        spoil(bad);
        EXPECT_EQ(ConvertRawToPlanarRaw(raw, all, eRGGB, bad), eErrInvalidArg4);
    }
    EXPECT_EQ(ConvertRawToPlanarRaw(raw, all, eNoBayer, planes), eErrInvalidArg3);
    EXPECT_EQ(ConvertRawToPlanarRaw(raw, all, ExBayerGrid(-1), planes), eErrInvalidArg3);
    EXPECT_EQ(planes.bayerGrid, eNoBayer);
    EXPECT_EQ(getPixel<std::uint16_t>(planes, 0, 0, 0), 0xcdcd);

    EXPECT_EQ(ConvertPlanarRawToRaw(none, raw, eRGGB), eErrInvalidArg1);
    EXPECT_EQ(ConvertPlanarRawToRaw(rgb, raw, eRGGB), eErrInvalidArg1);
    EXPECT_EQ(ConvertPlanarRawToRaw(planes, rgb, eNoBayer), eErrInvalidArg2);
    EXPECT_EQ(ConvertPlanarRawToRaw(planes, planes, eRGGB), eErrInvalidArg2);
    Image small(6, 6, 1, eUInt16), planarRaw(8, 6, 1, eUInt16, ePlanar), bytes(8, 6, 1, eUInt8);
    EXPECT_EQ(ConvertPlanarRawToRaw(planes, small, eRGGB), eErrInvalidArg2);
    EXPECT_EQ(ConvertPlanarRawToRaw(planes, planarRaw, eRGGB), eErrInvalidArg2);
    EXPECT_EQ(ConvertPlanarRawToRaw(planes, bytes, eRGGB), eErrInvalidArg2);
    EXPECT_EQ(ConvertPlanarRawToRaw(planes, raw, eMultispectral), eErrInvalidArg3);
    EXPECT_EQ(getPixel<std::uint16_t>(raw, 0, 0), 0xcdcd);

    Image complexRaw(4, 4, 1, eComplex), complexPlanes(2, 2, 4, eComplex, ePlanar);
    EXPECT_EQ(ConvertRawToPlanarRaw(complexRaw, QRect(0, 0, 4, 4), eRGGB, complexPlanes), eErrUnsupported);
    EXPECT_EQ(ConvertPlanarRawToRaw(complexPlanes, complexRaw, eRGGB), eErrUnsupported);
}

TEST(BayerPlanes, SplitsEveryLayoutAndTypeAndJoinsBackExactly)
{
    forEachRealType([](ExImageDataType type, auto zero) {
        using T = decltype(zero);
        Image raw(2 * 37 + 3, 2 * 40 + 3, 1, type);
        oxtest::fill<T>(raw, value<T>);
        const QRect rect(1, 3, 2 * 37, 2 * 40); // starts on an odd column
        for (ExBayerGrid g : kLayouts) {
            SCOPED_TRACE(testing::Message() << "type " << type << " grid " << kNames[g]);
            Image planes(37, 40, 4, type, ePlanar);
            ASSERT_EQ(ConvertRawToPlanarRaw(raw, rect, g, planes), eOk);
            EXPECT_EQ(planes.bayerGrid, g);
            for (int p = 0; p < 4; ++p) {
                const auto [dx, dy] = cellPosition(g, kPlaneColours[p]);
                for (int j = 0; j < 40; ++j)
                    for (int i = 0; i < 37; ++i)
                        ASSERT_EQ(getPixel<T>(planes, i, j, p),
                                  value<T>(rect.x() + 2 * i + dx, rect.y() + 2 * j + dy, 0))
                            << "plane " << p << " at " << i << "," << j;
            }
            Image back(74, 80, 1, type);
            ASSERT_EQ(ConvertPlanarRawToRaw(planes, back, g), eOk);
            EXPECT_EQ(back.bayerGrid, eNoBayer);
            for (int y = 0; y < 80; ++y)
                for (int x = 0; x < 74; ++x)
                    ASSERT_EQ(getPixel<T>(back, x, y), value<T>(x + 1, y + 3, 0)) << x << "," << y;
            EXPECT_EQ(back.data[back.rowBytes - 1], 0xcd); // row padding untouched
        }
    });
}

TEST(DemosaicSimple, ChecksArgumentsInOrder)
{
    Image raw(8, 6, 1, eUInt8, ePixel, 40, eRGGB), out(4, 3, 3, eUInt8);
    SxImageBuf none;
    const QRect all(0, 0, 8, 6);
    EXPECT_EQ(DemosaicSimple(none, all, out, eRGGB), eErrInvalidArg1);
    Image wideMono(8, 6, 1, eInt32, ePixel, 40, eRGGB), wideOut(4, 3, 3, eInt32);
    EXPECT_EQ(DemosaicSimple(wideMono, all, wideOut, eRGGB), eErrInvalidArg1);
    EXPECT_EQ(DemosaicSimple(raw, QRect(1, 0, 8, 6), out, eRGGB), eErrInvalidArg2);
    EXPECT_EQ(DemosaicSimple(raw, all, none, eNoBayer), eErrInvalidArg3);
    Image wrongSize(4, 4, 3, eUInt8), wrongType(4, 3, 3, eUInt16), twoChannels(4, 3, 2, eUInt8),
        planarOut(4, 3, 3, eUInt8, ePlanar);
    for (SxImageBuf* bad : {&wrongSize, &wrongType, &twoChannels, &planarOut})
        EXPECT_EQ(DemosaicSimple(raw, all, *bad, eNoBayer), eErrInvalidArg3);
    EXPECT_EQ(DemosaicSimple(raw, all, out, eNoBayer), eErrInvalidArg4);
    raw.bayerGrid = eMultispectral;
    EXPECT_EQ(DemosaicSimple(raw, all, out, eRGGB), eErrInvalidArg4);
    EXPECT_EQ(getPixel<std::uint8_t>(out, 0, 0), 0xcd);

    Image complexRaw(4, 4, 1, eComplex, ePixel, 40, eRGGB), complexPlanes(2, 2, 4, eComplex, ePlanar),
        complexOut(2, 2, 3, eComplex);
    EXPECT_EQ(DemosaicSimple(complexRaw, QRect(0, 0, 4, 4), complexOut, eRGGB), eErrInvalidArg1);
    EXPECT_EQ(DemosaicSimple(complexPlanes, QRect(0, 0, 2, 2), complexOut, eRGGB), eErrUnsupported);
    Image planarMono(4, 3, 1, eUInt8, ePlanar); // planar but not the planar raw layout
    EXPECT_EQ(DemosaicSimple(planarMono, QRect(0, 0, 4, 3), out, eRGGB), eErrUnsupported);

    // One 8-bit RGGB cell: R 200, greens 101 and 102, B 50 gives blue first: 50, 101, 200.
    Image cell(2, 2, 1, eUInt8, ePixel, 40, eRGGB), pixel(1, 1, 3, eUInt8);
    cell.colorOrder = pixel.colorOrder = 2; // 8-bit results stay blue first whatever the order says
    oxtest::fill<std::uint8_t>(
        cell, [](int x, int y, int) { return y == 0 ? (x == 0 ? 200 : 101) : (x == 0 ? 102 : 50); });
    ASSERT_EQ(DemosaicSimple(cell, QRect(0, 0, 2, 2), pixel, eRGGB), eOk);
    EXPECT_EQ(getPixel<std::uint8_t>(pixel, 0, 0, 0), 50);
    EXPECT_EQ(getPixel<std::uint8_t>(pixel, 0, 0, 1), 101);
    EXPECT_EQ(getPixel<std::uint8_t>(pixel, 0, 0, 2), 200);
}

TEST(DemosaicSimple, AveragesTheGreensForEveryTypeLayoutAndSourcePacking)
{
    forEachRealType([](ExImageDataType type, auto zero) {
        using T = decltype(zero);
        const int r = sizeof(T) == 1 ? 2 : 0, b = 2 - r; // 8-bit results are stored blue first
        // Mosaics of 4-byte or wider components are accepted with four channels only; the mosaic then
        // runs over the components of each row.
        const bool wide = sizeof(T) >= 4;
        const int ch = wide ? 4 : 1;
        Image raw(2 * 45 + 1, 2 * 33 + 1, ch, type), planes(46, 34, 4, type, ePlanar);
        oxtest::fill<T>(raw, value<T>);
        oxtest::fill<T>(planes, value<T>);
        const QRect rect(1, 1, 2 * 45, 2 * 33);
        if (wide) {
            SxImageBuf mono = raw;
            mono.channels = 1;
            mono.bayerGrid = eRGGB;
            Image out(45, 33, 3, type);
            EXPECT_EQ(DemosaicSimple(mono, rect, out, eRGGB), eErrInvalidArg1);
        }
        for (int channels : {3, 4}) {
            for (ExBayerGrid g : kLayouts) {
                SCOPED_TRACE(testing::Message() << "type " << type << " grid " << kNames[g]);
                raw.bayerGrid = g;
                Image out(45, 33, channels, type);
                // The source's own layout wins over the argument.
                ASSERT_EQ(DemosaicSimple(raw, rect, out, kLayouts[(g + 1) % 4]), eOk);
                const auto sample = [&](int i, int j, char colour) {
                    const auto [dx, dy] = cellPosition(g, colour);
                    const int component = 1 + 2 * i + dx;
                    return value<T>(component / ch, 1 + 2 * j + dy, component % ch);
                };
                for (int j = 0; j < 33; ++j)
                    for (int i = 0; i < 45; ++i) {
                        ASSERT_EQ(getPixel<T>(out, i, j, r), sample(i, j, 'R'));
                        ASSERT_EQ(getPixel<T>(out, i, j, 1), mean(sample(i, j, 't'), sample(i, j, 'b')));
                        ASSERT_EQ(getPixel<T>(out, i, j, b), sample(i, j, 'B'));
                        if (channels == 4) { // the fourth channel is left unchanged
                            ASSERT_EQ(oxtest::pixelAddress(out, i, j, 3)[0], 0xcd);
                        }
                    }
            }
            Image out(45, 33, channels, type);
            ASSERT_EQ(DemosaicSimple(planes, QRect(1, 1, 45, 33), out, eNoBayer), eOk);
            for (int j = 0; j < 33; ++j)
                for (int i = 0; i < 45; ++i) {
                    ASSERT_EQ(getPixel<T>(out, i, j, r), value<T>(i + 1, j + 1, 0));
                    ASSERT_EQ(getPixel<T>(out, i, j, 1),
                              mean(value<T>(i + 1, j + 1, 1), value<T>(i + 1, j + 1, 3)));
                    ASSERT_EQ(getPixel<T>(out, i, j, b), value<T>(i + 1, j + 1, 2));
                }
        }
    });
}

TEST(DemosaicSimpleToRGB32, ChecksArgumentsInOrder)
{
    Image raw(8, 6, 1, eUInt16, ePixel, 40, eGRBG), out(4, 3, 4, eUInt8);
    SxImageBuf none;
    EXPECT_EQ(DemosaicSimpleToRGB32(none, out, 255), eErrInvalidArg1);
    for (auto spoil :
         {+[](SxImageBuf& b) { b.colorBitDepth = 0; }, +[](SxImageBuf& b) { b.bayerGrid = eNoBayer; },
          +[](SxImageBuf& b) { b.dataType = eInt16; }, +[](SxImageBuf& b) { b.channels = 3; },
          +[](SxImageBuf& b) { b.channels = 4; }}) { // four channels must be planar
        SxImageBuf bad = raw;
        spoil(bad);
        EXPECT_EQ(DemosaicSimpleToRGB32(bad, none, 255), eErrInvalidArg1);
    }
    EXPECT_EQ(DemosaicSimpleToRGB32(raw, none, 255), eErrInvalidArg2);
    Image three(4, 3, 3, eUInt8), words(4, 3, 4, eUInt16), full(8, 6, 4, eUInt8),
        planar(4, 3, 4, eUInt8, ePlanar);
    for (SxImageBuf* bad : {&three, &words, &full, &planar})
        EXPECT_EQ(DemosaicSimpleToRGB32(raw, *bad, 255), eErrInvalidArg2);
    Image planes(8, 6, 4, eUInt16, ePlanar, 40, eGRBG);
    EXPECT_EQ(DemosaicSimpleToRGB32(planes, out, 255), eErrInvalidArg2); // planar needs the same size
    EXPECT_EQ(getPixel<std::uint8_t>(out, 0, 0), 0xcd);
}

TEST(DemosaicSimpleToRGB32, WritesTheDestinationsChannelOrderAlphaAndShiftedWords)
{
    for (ExImageDataType type : {eUInt8, eUInt16}) {
        for (int colorOrder : {1, 2}) {
            const int r = colorOrder == 1 ? 2 : 0, b = 2 - r;
            for (ExBayerGrid g : kLayouts) {
                SCOPED_TRACE(testing::Message() << type << " order " << colorOrder << " " << kNames[g]);
                Image raw(2 * 50 + 1, 2 * 41, 1, type, ePixel, 40, g), out(50, 41, 4, eUInt8);
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
                for (int j = 0; j < 41; ++j)
                    for (int i = 0; i < 50; ++i) {
                        const int green = (sample(i, j, 't') + sample(i, j, 'b')) / 2;
                        ASSERT_EQ(getPixel<std::uint8_t>(out, i, j, r), (sample(i, j, 'R') >> shift) & 255);
                        ASSERT_EQ(getPixel<std::uint8_t>(out, i, j, 1), (green >> shift) & 255);
                        ASSERT_EQ(getPixel<std::uint8_t>(out, i, j, b), (sample(i, j, 'B') >> shift) & 255);
                        ASSERT_EQ(getPixel<std::uint8_t>(out, i, j, 3), 77);
                    }
            }
        }
    }
    // Planar raw words with a depth below the destination's are not shifted: the low byte is kept.
    Image planes(3, 2, 4, eUInt16, ePlanar, 40, eBGGR), out(3, 2, 4, eUInt8);
    planes.colorBitDepth = 6;
    fillWords(planes, [](int x, int y, int c) { return 0x100 * c + 10 * x + y + 1 + 3 * c * c; });
    ASSERT_EQ(DemosaicSimpleToRGB32(planes, out, 0), eOk);
    EXPECT_EQ(getPixel<std::uint8_t>(out, 2, 1, 2), 22); // red (plane 0) at index 2
    EXPECT_EQ(getPixel<std::uint8_t>(out, 2, 1, 1), 37); // (0x100 + 25 + 0x300 + 49) / 2, low byte
    EXPECT_EQ(getPixel<std::uint8_t>(out, 2, 1, 0), 34); // blue: 0x200 + 34, low byte
}

TEST(GuessBayerGrid, RanksTheLayoutsOrRefusesUnsuitableInput)
{
    Image grey(8, 8, 1, eUInt8, ePixel, 40, eGRBG);
    fillWords(grey, [](int, int, int) { return 90; });
    const QRect all(0, 0, 8, 8);
    EXPECT_EQ(GuessBayerGrid(grey, all), (QList<ExBayerGrid>{eRGGB, eBGGR}));
    EXPECT_TRUE(GuessBayerGrid(grey, QRect(1, 0, 6, 8)).isEmpty());
    EXPECT_TRUE(GuessBayerGrid(grey, QRect(0, 0, 6, 7)).isEmpty());
    EXPECT_TRUE(GuessBayerGrid(grey, QRect(2, 2, 8, 8)).isEmpty());
    for (auto spoil :
         {+[](SxImageBuf& b) { b.bayerGrid = eNoBayer; }, +[](SxImageBuf& b) { b.data = nullptr; },
          +[](SxImageBuf& b) { b.channels = 2; }, +[](SxImageBuf& b) { b.packing = ePlanar; },
          +[](SxImageBuf& b) { b.width = 7; }, +[](SxImageBuf& b) { b.dataType = eInt8; }}) {
        SxImageBuf bad = grey;
        spoil(bad);
        EXPECT_TRUE(GuessBayerGrid(bad, QRect(0, 0, 6, 6)).isEmpty());
    }

    // A bright red, a dark blue and two close greens: the true layout comes first.
    const QList<ExBayerGrid> expected[] = {{eBGGR, eRGGB}, {eRGGB, eBGGR}, {eGBRG, eGRBG}, {eGRBG, eGBRG}};
    for (ExImageDataType type : {eUInt8, eUInt16})
        for (ExBayerGrid g : kLayouts) {
            Image raw(20, 14, 1, type, ePixel, 40, eRGGB);
            fillWords(raw, [g](int x, int y, int) {
                const std::string cell = kNames[g];
                const char colour = cell[(y % 2) * 2 + x % 2];
                return colour == 'R' ? 200 : colour == 'B' ? 20 : 100 + (x + y) % 3;
            });
            EXPECT_EQ(GuessBayerGrid(raw, QRect(2, 4, 16, 8)), expected[g]) << kNames[g];
        }

    // 90,000 samples per position of large 16-bit values overflow 32-bit sums; the guess must not.
    Image big(600, 600, 1, eUInt16, ePixel, 0, eBGGR);
    fillWords(big, [](int x, int y, int) { return x % 2 == y % 2 ? (x % 2 ? 30000 : 65535) : 20000; });
    EXPECT_EQ(GuessBayerGrid(big, QRect(0, 0, 600, 600)), (QList<ExBayerGrid>{eRGGB, eBGGR}));
}
