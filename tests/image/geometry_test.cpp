#include <ox/geometry.h>

#include "support/image_helpers.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <vector>

using namespace ox;
using oxtest::pixelAddress;

namespace {

// An allocated buffer, released at the end of the scope; rows padded by 40 bytes.
struct Image : SxImageBuf
{
    Image(int w, int h, int c, ExImageDataType t, ExPixelPacking p = ePixel, ExBayerGrid g = eNoBayer)
    {
        const int row = w * (p == ePlanar ? 1 : c) * int(oxtest::componentSize(t));
        EXPECT_EQ(AllocBuffer(*this, w, h, c, t, row + 40, 0, p, true, eUncompressed), eOk);
        bayerGrid = g;
        oxtest::fillBytes(*this, 0xcd);
    }
    ~Image() { FreeBuffer(*this); }
};

const ExImageDataType kAllTypes[] = {eInt8,  eUInt8,  eInt16,   eUInt16, eInt32, eUInt32,
                                     eFloat, eDouble, eComplex, eInt64,  eUInt64};

// Byte k of component (x, y, c) as fillRaw writes it: nearly every component differs.
std::uint8_t byteOf(int x, int y, int c, int k)
{
    return std::uint8_t((oxtest::pattern(x, y, c) * 0x9e3779b1u) >> 11 ^ k * 0x3b);
}

void fillRaw(SxImageBuf& b)
{
    const int s = int(oxtest::componentSize(b.dataType));
    for (int y = 0; y < b.height; ++y)
        for (int x = 0; x < b.width; ++x)
            for (int c = 0; c < b.channels; ++c)
                for (int k = 0; k < s; ++k)
                    pixelAddress(b, x, y, c)[k] = byteOf(x, y, c, k);
}

// True when component (x, y, c) of b holds what fillRaw wrote at (sx, sy, c).
bool holds(const SxImageBuf& b, int x, int y, int c, int sx, int sy)
{
    const int s = int(oxtest::componentSize(b.dataType));
    for (int k = 0; k < s; ++k)
        if (pixelAddress(b, x, y, c)[k] != byteOf(sx, sy, c, k))
            return false;
    return true;
}

// Checks every component of b against the source position that `from(x, y)` gives.
template <typename F>
void expectEvery(const SxImageBuf& b, F from)
{
    for (int y = 0; y < b.height; ++y)
        for (int x = 0; x < b.width; ++x)
            for (int c = 0; c < b.channels; ++c) {
                const auto [sx, sy] = from(x, y);
                ASSERT_TRUE(holds(b, x, y, c, sx, sy)) << "at " << x << "," << y << " channel " << c;
            }
}

} // namespace

TEST(ReverseRowOrder, SwapsWholeRowsOfEveryPlane)
{
    SxImageBuf none;
    EXPECT_EQ(ReverseRowOrder(none), eErrInvalidArg1);
    EXPECT_EQ(ReverseMemRowOrder(nullptr, 3, 8), eErrInvalidArg1);
    for (ExPixelPacking packing : {ePixel, ePlanar})
        for (int h : {1, 2, 3, 151}) {
            SCOPED_TRACE(testing::Message() << "packing " << packing << " height " << h);
            Image img(13, h, 3, eUInt16, packing);
            fillRaw(img);
            for (int p = 0; p < (packing == ePlanar ? 3 : 1); ++p)
                for (int y = 0; y < h; ++y) // the last padding byte of each row carries the row number
                    pixelAddress(img, 0, y, p)[img.rowBytes - 1] = std::uint8_t(y);
            ASSERT_EQ(ReverseRowOrder(img), eOk);
            expectEvery(img, [h](int x, int y) { return std::make_pair(x, h - 1 - y); });
            for (int p = 0; p < (packing == ePlanar ? 3 : 1); ++p)
                for (int y = 0; y < h; ++y)
                    ASSERT_EQ(pixelAddress(img, 0, y, p)[img.rowBytes - 1], h - 1 - y);
        }
    std::vector<std::uint8_t> rows(5 * 7);
    for (std::size_t i = 0; i < rows.size(); ++i)
        rows[i] = std::uint8_t(i / 7);
    ASSERT_EQ(ReverseMemRowOrder(rows.data(), 5, 7), eOk);
    for (std::size_t i = 0; i < rows.size(); ++i)
        ASSERT_EQ(rows[i], 4 - i / 7);
}

TEST(ReverseColOrder, MirrorsEveryHandledLayoutAndTypeAndLeavesOthersAlone)
{
    SxImageBuf none;
    EXPECT_EQ(ReverseColOrder(none), eErrInvalidArg1);
    struct Layout
    {
        ExPixelPacking packing;
        int channels;
    };
    for (ExImageDataType type : kAllTypes)
        for (Layout l : {Layout{ePixel, 1}, {ePixel, 3}, {ePixel, 4}, {ePlanar, 3}, {ePixel, 2}, {ePixel, 5}})
            for (int w : {1, 2, 7, 301}) {
                SCOPED_TRACE(testing::Message() << "type " << type << " packing " << l.packing << " channels "
                                                << l.channels << " width " << w);
                Image img(w, 70, l.channels, type, l.packing);
                fillRaw(img);
                const bool singlePlanes = l.packing == ePlanar || l.channels == 1;
                const bool unsupported = singlePlanes && (type == eInt64 || type == eUInt64);
                const bool mirrored = !unsupported && (l.channels != 2 && l.channels != 5);
                ASSERT_EQ(ReverseColOrder(img), unsupported ? eErrUnsupported : eOk);
                expectEvery(img, [&](int x, int y) { return std::make_pair(mirrored ? w - 1 - x : x, y); });
                ASSERT_EQ(img.data[img.rowBytes - 1], 0xcd);
            }
    Image odd(4, 2, 1, eUInt8);
    odd.packing = ExPixelPacking(2);
    EXPECT_EQ(ReverseColOrder(odd), eErrUnsupported);
}

TEST(Transpose, ChecksTheDestinationAgainstTheSource)
{
    Image src(5, 3, 3, eUInt16), dst(3, 5, 3, eUInt16);
    SxImageBuf none;
    EXPECT_EQ(Transpose(none, dst), eErrInvalidArg1);
    EXPECT_EQ(Transpose(src, none), eErrInvalidArg2);
    for (auto spoil :
         {+[](SxImageBuf& b) { b.channels = 1; }, +[](SxImageBuf& b) { b.colorBitDepth = 12; },
          +[](SxImageBuf& b) { b.dataType = eInt16; }, +[](SxImageBuf& b) { b.packing = ePlanar; },
          +[](SxImageBuf& b) { b.colorOrder = 2; }, +[](SxImageBuf& b) { b.bayerGrid = eRGGB; },
          +[](SxImageBuf& b) { b.width = 5; }, +[](SxImageBuf& b) { b.height = 3; }}) {
        SxImageBuf bad = dst;
        spoil(bad);
        EXPECT_EQ(Transpose(src, bad), eErrInvalidArg2);
    }
    EXPECT_EQ(dst.data[0], 0xcd);
    // Packings other than the two: nothing to do.
    src.packing = dst.packing = ExPixelPacking(3);
    EXPECT_EQ(Transpose(src, dst), eOk);
    EXPECT_EQ(dst.data[0], 0xcd);
    Image unknown(2, 2, 1, eUInt8), unknownDst(2, 2, 1, eUInt8);
    unknown.dataType = unknownDst.dataType = eUnknown;
    EXPECT_EQ(Transpose(unknown, unknownDst), eErrUnsupported);
}

TEST(Transpose, MirrorsOverTheDiagonalForEverySizeChannelCountAndPacking)
{
    for (ExImageDataType type : kAllTypes)
        for (int channels : {1, 2, 3, 4, 5})
            for (ExPixelPacking packing : {ePixel, ePlanar}) {
                if (packing == ePlanar && channels != 3)
                    continue;
                SCOPED_TRACE(testing::Message()
                             << "type " << type << " channels " << channels << " packing " << packing);
                Image src(130, 67, channels, type, packing), dst(67, 130, channels, type, packing);
                fillRaw(src);
                ASSERT_EQ(Transpose(src, dst), eOk);
                expectEvery(dst, [](int x, int y) { return std::make_pair(y, x); });
                ASSERT_EQ(dst.data[dst.rowBytes - 1], 0xcd);
            }
}

TEST(Resample, ChecksBothBuffers)
{
    Image src(20, 10, 1, eUInt8, ePixel, eRGGB), dst(10, 4, 1, eUInt8, ePixel, eRGGB);
    SxImageBuf bad = src;
    bad.colorBitDepth = 0;
    EXPECT_EQ(Resample(bad, dst), eErrInvalidArg1);
    bad = src;
    bad.dataType = eUnknown;
    EXPECT_EQ(Resample(bad, dst), eErrInvalidArg1);
    for (auto spoil : {+[](SxImageBuf& b) { b.channels = 3; }, +[](SxImageBuf& b) { b.bayerGrid = eBGGR; },
                       +[](SxImageBuf& b) { b.colorOrder = 2; }, +[](SxImageBuf& b) { b.dataType = eInt8; },
                       +[](SxImageBuf& b) { b.width = 9; },  // odd mosaic width
                       +[](SxImageBuf& b) { b.width = 20; }, // not smaller
                       +[](SxImageBuf& b) { b.height = 12; }, +[](SxImageBuf& b) { b.data = nullptr; }}) {
        bad = dst;
        spoil(bad);
        EXPECT_EQ(Resample(src, bad), eErrInvalidArg2);
    }
    EXPECT_EQ(dst.data[0], 0xcd);
    Image cplx(4, 4, 1, eComplex), cplxDst(2, 2, 1, eComplex);
    EXPECT_EQ(Resample(cplx, cplxDst), eErrUnsupported);
}

// The lines kept when `keep` lines are taken and `skip` dropped in turn, never beyond `last`.
std::vector<int> keptLines(int keep, int skip, int count, int last)
{
    std::vector<int> lines;
    for (int start = 0; int(lines.size()) < count; start += keep + skip)
        for (int k = 0; k < keep && int(lines.size()) < count; ++k)
            lines.push_back(std::min(start + k, last));
    return lines;
}

TEST(Resample, KeepsTheDocumentedLinesAndWholeMosaicCells)
{
    // One direction at a time: {source, destination, expected source columns}.
    struct Case
    {
        int from, to;
        std::vector<int> columns;
    };
    const Case cases[] = {{10, 3, {0, 3, 6}},
                          {10, 7, {0, 1, 3, 4, 6, 7, 9}},
                          {7, 4, {0, 2, 4, 6}},
                          {1000, 500, keptLines(1, 1, 500, 999)},
                          {1000, 900, keptLines(9, 1, 900, 999)},
                          {23, 17, {0, 1, 3, 4, 6, 7, 9, 10, 12, 13, 15, 16, 18, 19, 21, 22, 22}}};
    for (const Case& c : cases) {
        Image src(c.from, 2, 1, eUInt16), dst(c.to, 1, 1, eUInt16);
        fillRaw(src);
        ASSERT_EQ(Resample(src, dst), eOk);
        expectEvery(dst, [&](int x, int) { return std::make_pair(c.columns[x], 0); });
    }

    // Every type and layout: 23 x 50 to 17 x 20 keeps 2 of 3 columns and every second row.
    const std::vector<int> cols = keptLines(2, 1, 17, 22), rows = keptLines(1, 1, 20, 49);
    for (ExImageDataType type : kAllTypes)
        for (int channels : {1, 2, 3})
            for (ExPixelPacking packing : {ePixel, ePlanar}) {
                SCOPED_TRACE(testing::Message()
                             << "type " << type << " channels " << channels << " packing " << packing);
                Image src(23, 50, channels, type, packing), dst(17, 20, channels, type, packing);
                fillRaw(src);
                ASSERT_EQ(Resample(src, dst), type == eComplex ? eErrUnsupported : eOk);
                if (type != eComplex)
                    expectEvery(dst, [&](int x, int y) { return std::make_pair(cols[x], rows[y]); });
            }

    // A mosaic keeps whole cells: 20 x 15 cells to 8 x 6 (every second cell), to 18 x 13 (9 of 10
    // columns, 6 of 7 rows).
    for (auto [w, h, keepX, keepY] : {std::array<int, 4>{16, 12, 1, 1}, {36, 26, 9, 6}}) {
        Image src(40, 30, 1, eUInt16, ePixel, eGBRG), dst(w, h, 1, eUInt16, ePixel, eGBRG);
        fillRaw(src);
        ASSERT_EQ(Resample(src, dst), eOk);
        const std::vector<int> cellX = keptLines(keepX, 1, w / 2, 19), cellY = keptLines(keepY, 1, h / 2, 14);
        expectEvery(dst, [&](int x, int y) {
            return std::make_pair(2 * cellX[x / 2] + x % 2, 2 * cellY[y / 2] + y % 2);
        });
    }
}
