#include <ox/geometry.h>

#include "support/image_helpers.h"

using namespace ox;
using namespace oxtest;

namespace {

// The source line of destination line i when s lines shrink to d: every (s div d)-th line when
// s >= 2 d, else d div (s mod d) lines kept and one skipped in turn, never beyond the last.
int sourceLine(int i, int s, int d)
{
    const int keep = s >= 2 * d ? 1 : d / (s % d), step = s >= 2 * d ? s / d : keep + 1;
    return std::min(i / keep * step + i % keep, s - 1);
}

} // namespace

TEST(Geometry, EveryOperationChecksItsArgumentsInOrderAndWritesNothingOnError)
{
    Image src(5, 3, 3, eUInt16), dst(3, 5, 3, eUInt16), raw(20, 10, 1, eUInt8, ePixel, eRGGB),
        small(10, 4, 1, eUInt8, ePixel, eRGGB), square(4, 4, 1, eUInt8);
    const Snapshot snapshot({&src, &dst, &raw, &small, &square});
    SxImageBuf none;
    const auto other = [](SxImageBuf& b) { b.packing = ExPixelPacking(3); };
    const auto unknown = [](SxImageBuf& b) { b.dataType = eUnknown; };
    expectCodes(eErrInvalidArg1,
                {ReverseRowOrder(none), ReverseMemRowOrder(nullptr, 3, 8), ReverseColOrder(none),
                 Transpose(none, dst), Resample(Changed(raw, unknown), small),
                 Resample(Changed(raw, [](SxImageBuf& b) { b.colorBitDepth = 0; }), small)});
    // No destination, or one in the source's memory.
    expectCodes(eErrInvalidArg2,
                {Transpose(src, none), Resample(raw, none), Transpose(square, square),
                 Resample(raw, Changed(raw, [](SxImageBuf& b) { b.width = 10, b.height = 4; }))});
    // Each field the destination shares with the source, and sizes that are not transposed, not
    // smaller or (for a mosaic) odd.
    for (auto spoil : {+[](SxImageBuf& b) { b.channels += 1; }, +[](SxImageBuf& b) { b.colorBitDepth = 12; },
                       +[](SxImageBuf& b) { b.dataType = eInt16; },
                       +[](SxImageBuf& b) { b.packing = ePlanar; }, +[](SxImageBuf& b) { b.colorOrder = 2; },
                       +[](SxImageBuf& b) { b.bayerGrid = eGBRG; }, +[](SxImageBuf& b) { b.width += 1; },
                       +[](SxImageBuf& b) { b.height += 1; }, +[](SxImageBuf& b) { b.width *= 2; },
                       +[](SxImageBuf& b) { b.height *= 3; }, +[](SxImageBuf& b) { b.data = nullptr; }})
        expectCodes(eErrInvalidArg2,
                    {Transpose(src, Changed(dst, spoil)), Resample(raw, Changed(small, spoil))});
    expectCodes(eErrUnsupported, {ReverseColOrder(Changed(src, other)),
                                  Transpose(Changed(src, unknown), Changed(dst, unknown))});
    EXPECT_EQ(Transpose(Changed(src, other), Changed(dst, other)), eOk); // other packings: nothing to do
    EXPECT_TRUE(snapshot.unchanged());
}

TEST(Flips, TransposeAndReverseColumnsAndRowsOfEveryTypeAndLayout)
{
    const std::pair<ExPixelPacking, int> layouts[] = {{ePixel, 1}, {ePixel, 2}, {ePixel, 3},
                                                      {ePixel, 4}, {ePixel, 5}, {ePlanar, 3}};
    for (ExImageDataType type : kAllTypes)
        for (auto [packing, channels] : layouts) {
            SCOPED_TRACE(testing::Message() << type << " packing " << packing << " channels " << channels);
            // Mirrored: 1, 3 or 4 interleaved channels, or planes, 64-bit integers with 3 or 4
            // channels only; other channel counts are left alone.
            const bool unsupported =
                (packing == ePlanar || channels == 1) && (type == eInt64 || type == eUInt64);
            const bool mirrored = !unsupported && channels != 2 && channels != 5;
            // Holds fillRaw's component of `from` at (x, y) mirrored as asked, then transposed or not.
            const auto moved = [&](const SxImageBuf& b, bool transposed, bool mirror, bool flip) {
                return holdsFrom(b, [&](int x, int y, int c) {
                    const int sx = mirror && mirrored ? b.width - 1 - x : x, sy = flip ? b.height - 1 - y : y;
                    return transposed ? std::array{sy, sx, c} : std::array{sx, sy, c};
                });
            };
            Image from(130, 67, channels, type, packing), to(67, 130, channels, type, packing);
            fillRaw(from);
            ASSERT_EQ(Transpose(from, to), eOk);
            EXPECT_TRUE(moved(to, true, false, false));
            ASSERT_EQ(ReverseColOrder(from), unsupported ? eErrUnsupported : eOk);
            ASSERT_EQ(ReverseColOrder(to), unsupported ? eErrUnsupported : eOk);
            EXPECT_TRUE(moved(to, true, true, false));
            EXPECT_TRUE(paddingIs(to, 0xcd));
            // Rows move whole, padding included (its last byte here carries the row number), plane by plane.
            const int rows = 67 * (packing == ePlanar ? channels : 1);
            for (int r = 0; r < rows; ++r)
                from.data[(r + 1) * from.rowBytes - 1] = std::uint8_t(r % 67);
            ASSERT_EQ(ReverseRowOrder(from), eOk);
            EXPECT_TRUE(moved(from, false, true, true));
            for (int r = 0; r < rows; ++r)
                ASSERT_EQ(from.data[(r + 1) * from.rowBytes - 1], 66 - r % 67) << "row " << r;
            for (int p = 0; p < rows / 67; ++p) // back again on plain memory
                ASSERT_EQ(ReverseMemRowOrder(from.data + p * 67 * from.rowBytes, 67, from.rowBytes), eOk);
            EXPECT_TRUE(moved(from, false, true, false));
        }
}

TEST(Resample, KeepsTheDocumentedLinesOfEveryTypeAndLayoutAndWholeMosaicCells)
{
    // {width, new width, height, new height} (in 2 x 2 cells for a mosaic): both rules, and the last
    // line repeated.
    const std::array<int, 4> sizes[] = {{10, 3, 10, 7}, {7, 4, 100, 50}, {100, 90, 23, 17}, {23, 17, 50, 20}};
    const std::tuple<ExPixelPacking, int, ExBayerGrid> layouts[] = {
        {ePixel, 1, eNoBayer}, {ePixel, 2, eNoBayer}, {ePlanar, 3, eNoBayer}, {ePixel, 1, eGBRG}};
    for (ExImageDataType type : kAllTypes)
        for (auto [packing, channels, grid] : layouts)
            for (const std::array<int, 4>& n : sizes) {
                SCOPED_TRACE(testing::Message() << type << '/' << channels << '/' << grid << ' ' << n[0]);
                const int k = grid == eNoBayer ? 1 : 2;
                Image src(k * n[0], k * n[2], channels, type, packing, grid),
                    dst(k * n[1], k * n[3], channels, type, packing, grid);
                fillRaw(src);
                ASSERT_EQ(Resample(src, dst), type == eComplex ? eErrUnsupported : eOk);
                if (type == eComplex)
                    continue;
                EXPECT_TRUE(holdsFrom(dst, [&](int x, int y, int c) {
                    return std::array{k * sourceLine(x / k, n[0], n[1]) + x % k,
                                      k * sourceLine(y / k, n[2], n[3]) + y % k, c};
                }));
            }
}
