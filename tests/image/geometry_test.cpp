#include <ox/geometry.h>

#include "support/image_helpers.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <tuple>
#include <vector>

using namespace ox;
using namespace oxtest;
using Image = oxtest::ScopedImage;

namespace {

// True when every component of b holds what fillRaw wrote at from(x, y), same channel.
template <typename F>
::testing::AssertionResult movedFrom(const SxImageBuf& b, F from)
{
    return everyComponent(b, [&](int x, int y, int c) {
        const auto [sx, sy] = from(x, y);
        return holds(b, x, y, c, sx, sy, c);
    });
}

// The lines kept when `keep` lines are taken and one dropped in turn, never beyond `last`.
std::vector<int> keptLines(int keep, int count, int last)
{
    std::vector<int> lines;
    for (int start = 0; int(lines.size()) < count; start += keep + 1)
        for (int k = 0; k < keep && int(lines.size()) < count; ++k)
            lines.push_back(std::min(start + k, last));
    return lines;
}

} // namespace

TEST(ReverseRowOrder, SwapsWholeRowsOfEveryPlaneWithTheirPadding)
{
    SxImageBuf none;
    EXPECT_EQ(ReverseRowOrder(none), eErrInvalidArg1);
    EXPECT_EQ(ReverseMemRowOrder(nullptr, 3, 8), eErrInvalidArg1);
    for (ExPixelPacking packing : {ePixel, ePlanar})
        for (int h : {1, 2, 3, 151}) {
            SCOPED_TRACE(testing::Message() << "packing " << packing << " height " << h);
            Image img(13, h, 3, eUInt16, packing);
            fillRaw(img);
            const int rows = h * (packing == ePlanar ? 3 : 1);
            for (int r = 0; r < rows; ++r) // the last padding byte of each row carries the row number
                img.data[(r + 1) * img.rowBytes - 1] = std::uint8_t(r % h);
            ASSERT_EQ(ReverseRowOrder(img), eOk);
            EXPECT_TRUE(movedFrom(img, [h](int x, int y) { return std::make_pair(x, h - 1 - y); }));
            for (int r = 0; r < rows; ++r)
                ASSERT_EQ(img.data[(r + 1) * img.rowBytes - 1], h - 1 - r % h);
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
    Image odd(4, 2, 1, eUInt8);
    EXPECT_EQ(ReverseColOrder(changed(odd, [](auto& b) { b.packing = ExPixelPacking(2); })), eErrUnsupported);
    const std::pair<ExPixelPacking, int> layouts[] = {{ePixel, 1},  {ePixel, 3}, {ePixel, 4},
                                                      {ePlanar, 3}, {ePixel, 2}, {ePixel, 5}};
    for (ExImageDataType type : kAllTypes)
        for (auto [packing, channels] : layouts)
            for (int w : {1, 2, 7, 301}) {
                SCOPED_TRACE(testing::Message() << "type " << type << " packing " << packing << " channels "
                                                << channels << " width " << w);
                Image img(w, 70, channels, type, packing);
                fillRaw(img);
                const bool unsupported =
                    (packing == ePlanar || channels == 1) && (type == eInt64 || type == eUInt64);
                const bool mirrored = !unsupported && channels != 2 && channels != 5;
                ASSERT_EQ(ReverseColOrder(img), unsupported ? eErrUnsupported : eOk);
                EXPECT_TRUE(movedFrom(
                    img, [&](int x, int y) { return std::make_pair(mirrored ? w - 1 - x : x, y); }));
                EXPECT_TRUE(paddingIs(img, 0xcd));
            }
}

TEST(Transpose, ChecksTheDestinationAgainstTheSourceAndMirrorsOverTheDiagonal)
{
    Image src(5, 3, 3, eUInt16), dst(3, 5, 3, eUInt16);
    SxImageBuf none;
    EXPECT_EQ(Transpose(none, dst), eErrInvalidArg1);
    EXPECT_EQ(Transpose(src, none), eErrInvalidArg2);
    for (auto spoil :
         {+[](SxImageBuf& b) { b.channels = 1; }, +[](SxImageBuf& b) { b.colorBitDepth = 12; },
          +[](SxImageBuf& b) { b.dataType = eInt16; }, +[](SxImageBuf& b) { b.packing = ePlanar; },
          +[](SxImageBuf& b) { b.colorOrder = 2; }, +[](SxImageBuf& b) { b.bayerGrid = eRGGB; },
          +[](SxImageBuf& b) { b.width = 5; }, +[](SxImageBuf& b) { b.height = 3; }})
        EXPECT_EQ(Transpose(src, changed(dst, spoil)), eErrInvalidArg2);
    // Packings other than the two: nothing to do.
    const auto other = [](auto& b) { b.packing = ExPixelPacking(3); };
    EXPECT_EQ(Transpose(changed(src, other), changed(dst, other)), eOk);
    EXPECT_TRUE(everyComponent(dst, [&](int x, int y, int c) { return bytesAre(dst, x, y, c, 0xcd); }));
    const auto unknown = [](auto& b) { b.dataType = eUnknown; };
    EXPECT_EQ(Transpose(changed(src, unknown), changed(dst, unknown)), eErrUnsupported);

    for (ExImageDataType type : kAllTypes)
        for (int channels : {1, 2, 3, 4, 5})
            for (ExPixelPacking packing : {ePixel, ePlanar}) {
                if (packing == ePlanar && channels != 3)
                    continue;
                SCOPED_TRACE(testing::Message()
                             << "type " << type << " channels " << channels << " packing " << packing);
                Image from(130, 67, channels, type, packing), to(67, 130, channels, type, packing);
                fillRaw(from);
                ASSERT_EQ(Transpose(from, to), eOk);
                EXPECT_TRUE(movedFrom(to, [](int x, int y) { return std::make_pair(y, x); }));
                EXPECT_TRUE(paddingIs(to, 0xcd));
            }
}

TEST(Resample, ChecksBothBuffers)
{
    Image src(20, 10, 1, eUInt8, ePixel, eRGGB), dst(10, 4, 1, eUInt8, ePixel, eRGGB);
    EXPECT_EQ(Resample(changed(src, [](auto& b) { b.colorBitDepth = 0; }), dst), eErrInvalidArg1);
    EXPECT_EQ(Resample(changed(src, [](auto& b) { b.dataType = eUnknown; }), dst), eErrInvalidArg1);
    for (auto spoil : {+[](SxImageBuf& b) { b.channels = 3; }, +[](SxImageBuf& b) { b.bayerGrid = eBGGR; },
                       +[](SxImageBuf& b) { b.colorOrder = 2; }, +[](SxImageBuf& b) { b.dataType = eInt8; },
                       +[](SxImageBuf& b) { b.width = 9; },  // odd mosaic width
                       +[](SxImageBuf& b) { b.width = 20; }, // not smaller
                       +[](SxImageBuf& b) { b.height = 12; }, +[](SxImageBuf& b) { b.data = nullptr; }})
        EXPECT_EQ(Resample(src, changed(dst, spoil)), eErrInvalidArg2);
    EXPECT_EQ(dst.data[0], 0xcd);
    Image cplx(4, 4, 1, eComplex), cplxDst(2, 2, 1, eComplex);
    EXPECT_EQ(Resample(cplx, cplxDst), eErrUnsupported);
}

TEST(Resample, KeepsTheDocumentedLinesAndWholeMosaicCells)
{
    // One direction at a time: {source, destination, expected source columns}.
    const std::tuple<int, int, std::vector<int>> cases[] = {
        {10, 3, {0, 3, 6}},
        {10, 7, {0, 1, 3, 4, 6, 7, 9}},
        {7, 4, {0, 2, 4, 6}},
        {1000, 500, keptLines(1, 500, 999)},
        {1000, 900, keptLines(9, 900, 999)},
        {23, 17, {0, 1, 3, 4, 6, 7, 9, 10, 12, 13, 15, 16, 18, 19, 21, 22, 22}}};
    for (const auto& [from, to, columns] : cases) {
        Image src(from, 2, 1, eUInt16), dst(to, 1, 1, eUInt16);
        fillRaw(src);
        ASSERT_EQ(Resample(src, dst), eOk);
        EXPECT_TRUE(movedFrom(dst, [&](int x, int) { return std::make_pair(columns[x], 0); })) << from;
    }

    // Every type and layout: 23 x 50 to 17 x 20 keeps 2 of 3 columns and every second row.
    const std::vector<int> cols = keptLines(2, 17, 22), rows = keptLines(1, 20, 49);
    for (ExImageDataType type : kAllTypes)
        for (int channels : {1, 2, 3})
            for (ExPixelPacking packing : {ePixel, ePlanar}) {
                SCOPED_TRACE(testing::Message()
                             << "type " << type << " channels " << channels << " packing " << packing);
                Image src(23, 50, channels, type, packing), dst(17, 20, channels, type, packing);
                fillRaw(src);
                ASSERT_EQ(Resample(src, dst), type == eComplex ? eErrUnsupported : eOk);
                if (type != eComplex) {
                    EXPECT_TRUE(
                        movedFrom(dst, [&](int x, int y) { return std::make_pair(cols[x], rows[y]); }));
                }
            }

    // A mosaic keeps whole cells: 20 x 15 cells to 8 x 6 (every second cell), to 18 x 13 (9 of 10
    // columns, 6 of 7 rows).
    for (auto [w, h, keepX, keepY] : {std::array<int, 4>{16, 12, 1, 1}, {36, 26, 9, 6}}) {
        Image src(40, 30, 1, eUInt16, ePixel, eGBRG), dst(w, h, 1, eUInt16, ePixel, eGBRG);
        fillRaw(src);
        ASSERT_EQ(Resample(src, dst), eOk);
        const std::vector<int> cellX = keptLines(keepX, w / 2, 19), cellY = keptLines(keepY, h / 2, 14);
        EXPECT_TRUE(movedFrom(dst, [&](int x, int y) {
            return std::make_pair(2 * cellX[x / 2] + x % 2, 2 * cellY[y / 2] + y % 2);
        }));
    }
}
