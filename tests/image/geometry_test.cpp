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
        small(10, 4, 1, eUInt8, ePixel, eRGGB);
    const Snapshot snapshot({&src, &dst, &raw, &small});
    SxImageBuf none;
    const auto other = [](SxImageBuf& b) { b.packing = ExPixelPacking(3); };
    const auto unknown = [](SxImageBuf& b) { b.dataType = eUnknown; };
    expectCodes(eErrInvalidArg1,
                {ReverseRowOrder(none), ReverseMemRowOrder(nullptr, 3, 8), ReverseColOrder(none),
                 Transpose(none, dst), Resample(Changed(raw, unknown), small),
                 Resample(Changed(raw, [](SxImageBuf& b) { b.colorBitDepth = 0; }), small)});
    expectCodes(eErrInvalidArg2, {Transpose(src, none), Resample(raw, none)});
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
            SCOPED_TRACE(testing::Message()
                         << "type " << type << " packing " << packing << " channels " << channels);
            Image from(130, 67, channels, type, packing), to(67, 130, channels, type, packing);
            fillRaw(from);
            ASSERT_EQ(Transpose(from, to), eOk);
            EXPECT_TRUE(holdsFrom(to, [](int x, int y, int c) { return std::array{y, x, c}; }));
            // Mirrored: 1, 3 or 4 interleaved channels, or planes, 64-bit integers with 3 or 4
            // channels only; other channel counts are left alone.
            const bool unsupported =
                (packing == ePlanar || channels == 1) && (type == eInt64 || type == eUInt64);
            const bool mirrored = !unsupported && channels != 2 && channels != 5;
            ASSERT_EQ(ReverseColOrder(from), unsupported ? eErrUnsupported : eOk);
            ASSERT_EQ(ReverseColOrder(to), unsupported ? eErrUnsupported : eOk);
            EXPECT_TRUE(holdsFrom(to, [&](int x, int y, int c) {
                return std::array{y, mirrored ? 66 - x : x, c};
            }));
            EXPECT_TRUE(paddingIs(to, 0xcd));
            // Rows move whole, padding included (its last byte here carries the row number), plane by plane.
            const int rows = 67 * (packing == ePlanar ? channels : 1);
            for (int r = 0; r < rows; ++r)
                from.data[(r + 1) * from.rowBytes - 1] = std::uint8_t(r % 67);
            ASSERT_EQ(ReverseRowOrder(from), eOk);
            EXPECT_TRUE(holdsFrom(from, [&](int x, int y, int c) {
                return std::array{mirrored ? 129 - x : x, 66 - y, c};
            }));
            for (int r = 0; r < rows; ++r)
                ASSERT_EQ(from.data[(r + 1) * from.rowBytes - 1], 66 - r % 67) << "row " << r;
            for (int p = 0; p < rows / 67; ++p) // back again on plain memory
                ASSERT_EQ(ReverseMemRowOrder(from.data + p * 67 * from.rowBytes, 67, from.rowBytes), eOk);
            EXPECT_TRUE(holdsFrom(from, [&](int x, int y, int c) {
                return std::array{mirrored ? 129 - x : x, y, c};
            }));
        }
}

TEST(Resample, KeepsTheDocumentedLinesOfEveryTypeAndLayoutAndWholeMosaicCells)
{
    // {width, new width, height, new height}: both rules, and the last line repeated.
    const std::array<int, 4> sizes[] = {{10, 3, 10, 7}, {7, 4, 100, 50}, {100, 90, 23, 17}, {23, 17, 50, 20}};
    for (ExImageDataType type : kAllTypes)
        for (auto [packing, channels] : {std::pair{ePixel, 1}, {ePixel, 2}, {ePlanar, 3}})
            for (auto [w, toW, h, toH] : sizes) {
                SCOPED_TRACE(testing::Message()
                             << "type " << type << " channels " << channels << " " << w << "x" << h);
                Image src(w, h, channels, type, packing), dst(toW, toH, channels, type, packing);
                fillRaw(src);
                ASSERT_EQ(Resample(src, dst), type == eComplex ? eErrUnsupported : eOk);
                if (type != eComplex) {
                    EXPECT_TRUE(holdsFrom(dst, [&, w = w, toW = toW, h = h, toH = toH](int x, int y, int c) {
                        return std::array{sourceLine(x, w, toW), sourceLine(y, h, toH), c};
                    }));
                }
            }
    // A mosaic keeps whole cells: 20 x 15 cells to 8 x 6 and to 18 x 13.
    for (auto [w, h] : {std::pair{16, 12}, {36, 26}}) {
        Image src(40, 30, 1, eUInt16, ePixel, eGBRG), dst(w, h, 1, eUInt16, ePixel, eGBRG);
        fillRaw(src);
        ASSERT_EQ(Resample(src, dst), eOk);
        EXPECT_TRUE(holdsFrom(dst, [&, w = w, h = h](int x, int y, int c) {
            return std::array{2 * sourceLine(x / 2, 20, w / 2) + x % 2,
                              2 * sourceLine(y / 2, 15, h / 2) + y % 2, c};
        }));
    }
}
