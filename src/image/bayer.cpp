// Bayer mosaic handling: splitting into planes and joining, half-resolution demosaics and the
// layout guess.

#include <ox/bayer.h>

#include "image/pixelops.h"

#include <algorithm>
#include <cstdlib>

namespace ox {

using namespace detail;

namespace {

// ---- Cell layout ------------------------------------------------------------------------------

struct CellOffset
{
    int dx;
    int dy;
};

// Positions within the 2 x 2 cell of red, top-row green, blue and bottom-row green (the order of
// the planes of the planar raw layout), for each of the four layouts.
constexpr CellOffset kPlanePosition[4][4] = {
    /* eBGGR */ {{1, 1}, {1, 0}, {0, 0}, {0, 1}},
    /* eRGGB */ {{0, 0}, {1, 0}, {1, 1}, {0, 1}},
    /* eGBRG */ {{0, 1}, {0, 0}, {1, 0}, {1, 1}},
    /* eGRBG */ {{1, 0}, {0, 0}, {0, 1}, {1, 1}},
};

// The inverse: plane held at cell position (dx, dy), as planeAt[dy][dx].
struct PlaneAt
{
    int plane[2][2];
};

PlaneAt PlanesOf(ExBayerGrid grid)
{
    PlaneAt at{};
    for (int p = 0; p < 4; ++p)
        at.plane[kPlanePosition[grid][p].dy][kPlanePosition[grid][p].dx] = p;
    return at;
}

// Where only bytes move: the component sizes the mosaic workers handle.
constexpr unsigned kSizes1248 = kAllRealTypes;

// ---- Workers ----------------------------------------------------------------------------------

// Row kernels: plain loops over pointers and counts passed by value, so that the compiler knows
// that no store changes them and vectorises.

template <typename U>
OX_ROW_KERNEL void SplitRow(const U* __restrict s, U* __restrict even, U* __restrict odd, int n)
{
    for (int i = 0; i < n; ++i) {
        even[i] = s[2 * i];
        odd[i] = s[2 * i + 1];
    }
}

template <typename U>
OX_ROW_KERNEL void JoinRow(const U* __restrict even, const U* __restrict odd, U* __restrict d, int n)
{
    for (int i = 0; i < n; ++i) {
        d[2 * i] = even[i];
        d[2 * i + 1] = odd[i];
    }
}

// Mosaic to planes: each source row pair feeds the four planes of one output row.
template <typename U>
void SplitMosaic(const SxImageBuf& src, const QRect& rect, ExBayerGrid grid, SxImageBuf& dst)
{
    const PlaneAt at = PlanesOf(grid);
    ParallelFor(dst.height, [&](int j) {
        for (int r = 0; r < 2; ++r)
            SplitRow<U>(RowPtr<U>(src, rect.y() + 2 * j + r) + rect.x(), RowPtr<U>(dst, j, at.plane[r][0]),
                        RowPtr<U>(dst, j, at.plane[r][1]), dst.width);
    });
}

// Planes to mosaic.
template <typename U>
void JoinMosaic(const SxImageBuf& src, ExBayerGrid grid, SxImageBuf& dst)
{
    const PlaneAt at = PlanesOf(grid);
    ParallelFor(src.height, [&](int j) {
        for (int r = 0; r < 2; ++r)
            JoinRow<U>(RowPtr<U>(src, j, at.plane[r][0]), RowPtr<U>(src, j, at.plane[r][1]),
                       RowPtr<U>(dst, 2 * j + r), src.width);
    });
}

// The mean of the two greens, rounded down, without overflow.
template <typename T>
inline T Average(T a, T b)
{
    if constexpr (std::is_floating_point_v<T>)
        return (a + b) / 2;
    else if constexpr (sizeof(T) <= 2)
        return T((int(a) + int(b)) >> 1);
    else if constexpr (sizeof(T) == 4)
        return T((std::int64_t(a) + std::int64_t(b)) >> 1);
    else
        return T((a >> 1) + (b >> 1) + (a & b & 1));
}

// The samples of one output row: red, top green, blue, bottom green, consecutive outputs `Step`
// components apart (2 in a mosaic, 1 in the planar raw layout).
template <typename T>
struct ColourRows
{
    const T* p[4];
};

template <typename T>
ColourRows<T> MosaicRows(const SxImageBuf& src, const QRect& rect, ExBayerGrid grid, int j)
{
    ColourRows<T> rows;
    for (int k = 0; k < 4; ++k) {
        const CellOffset o = kPlanePosition[grid][k];
        rows.p[k] = RowPtr<T>(src, rect.y() + 2 * j + o.dy) + rect.x() + o.dx;
    }
    return rows;
}

template <typename T>
ColourRows<T> PlanarRows(const SxImageBuf& src, const QRect& rect, int j)
{
    ColourRows<T> rows;
    for (int k = 0; k < 4; ++k)
        rows.p[k] = RowPtr<T>(src, rect.y() + j, k) + rect.x();
    return rows;
}

// One demosaic row for both entry points: colours of C-channel output pixels, each value passed
// through `convert`; red at index 2 and blue at 0 when BlueFirst, else the reverse; `alpha` at
// index 3 when WriteAlpha.
template <typename In, typename Out, int Step, int C, bool BlueFirst, bool WriteAlpha, typename Convert>
OX_ROW_KERNEL void DemosaicRow(ColourRows<In> s, Out* __restrict d, int w, Convert convert, Out alpha)
{
    constexpr int iRed = BlueFirst ? 2 : 0;
    constexpr int iBlue = BlueFirst ? 0 : 2;
    const In* __restrict red = s.p[0];
    const In* __restrict green0 = s.p[1];
    const In* __restrict blue = s.p[2];
    const In* __restrict green1 = s.p[3];
    for (int i = 0; i < w; ++i) {
        d[C * i + iRed] = convert(red[Step * i]);
        d[C * i + 1] = convert(Average(green0[Step * i], green1[Step * i]));
        d[C * i + iBlue] = convert(blue[Step * i]);
        if constexpr (WriteAlpha)
            d[C * i + 3] = alpha;
    }
}

template <typename In, typename Out, int Step, int C, bool BlueFirst, bool WriteAlpha, typename RowsOf,
          typename Convert>
void DemosaicRows(SxImageBuf& dst, RowsOf rowsOf, Convert convert, Out alpha = Out())
{
    ParallelFor(dst.height, [&](int j) {
        DemosaicRow<In, Out, Step, C, BlueFirst, WriteAlpha>(rowsOf(j), RowPtr<Out>(dst, j), dst.width,
                                                             convert, alpha);
    });
}

template <typename T, int Step, typename RowsOf>
void DemosaicSimpleWorker(SxImageBuf& dst, RowsOf rowsOf)
{
    constexpr bool blueFirst = sizeof(T) == 1;
    const auto same = [](T v) { return v; };
    if (dst.channels == 3)
        DemosaicRows<T, T, Step, 3, blueFirst, false>(dst, rowsOf, same);
    else
        DemosaicRows<T, T, Step, 4, blueFirst, false>(dst, rowsOf, same);
}

template <typename T, int Step, typename RowsOf>
void DemosaicToRGB32Worker(SxImageBuf& dst, RowsOf rowsOf, int shift, quint8 alpha)
{
    // 8-bit samples are stored as they are; a shift by a run-time count would keep the loop scalar.
    const auto lowByte = [shift](T v) {
        if constexpr (sizeof(T) == 1)
            return quint8(v);
        else
            return quint8(v >> shift);
    };
    if (ChannelIndexLogicalToPhysical(0, dst) == 2)
        DemosaicRows<T, quint8, Step, 4, true, true>(dst, rowsOf, lowByte, alpha);
    else
        DemosaicRows<T, quint8, Step, 4, false, true>(dst, rowsOf, lowByte, alpha);
}

// Sums of the four cell positions (TL, TR, BL, BR) of `rect`, whose corner is a cell corner.
template <typename T>
void SumCellPositions(const SxImageBuf& buf, const QRect& rect, quint64 sums[4])
{
    const int cells = rect.width() / 2;
    for (int y = 0; y < rect.height(); ++y) {
        const T* s = RowPtr<T>(buf, rect.y() + y) + rect.x();
        quint64 even = 0, odd = 0;
        for (int i = 0; i < cells; ++i) {
            even += s[2 * i];
            odd += s[2 * i + 1];
        }
        sums[2 * (y & 1)] += even;
        sums[2 * (y & 1) + 1] += odd;
    }
}

} // namespace

unsigned int ConvertRawToPlanarRaw(const SxImageBuf& src, const QRect& rect, ExBayerGrid grid,
                                   SxImageBuf& dst)
{
    OX_CHECK(HasData(src) && src.channels == 1, eErrInvalidArg1);
    OX_CHECK(RectInside(rect, src) && rect.width() % 2 == 0 && rect.height() % 2 == 0, eErrInvalidArg2);
    OX_CHECK(HasData(dst) && dst.dataType == src.dataType && dst.packing == ePlanar && dst.channels == 4,
             eErrInvalidArg4);
    OX_CHECK(dst.colorBitDepth == src.colorBitDepth, eErrInvalidArg4);
    OX_CHECK(dst.width == rect.width() / 2 && dst.height == rect.height() / 2, eErrInvalidArg4);
    OX_CHECK(IsBayerLayout(grid), eErrInvalidArg3);
    dst.bayerGrid = grid;
    return DispatchBySize<kSizes1248>(src.dataType, [&](auto tag) {
        SplitMosaic<typename decltype(tag)::type>(src, rect, grid, dst);
        return unsigned(eOk);
    });
}

unsigned int ConvertPlanarRawToRaw(const SxImageBuf& src, SxImageBuf& dst, ExBayerGrid grid)
{
    OX_CHECK(HasData(src) && src.channels == 4 && src.packing == ePlanar, eErrInvalidArg1);
    OX_CHECK(HasData(dst) && dst.channels == 1 && dst.dataType == src.dataType && dst.packing == ePixel,
             eErrInvalidArg2);
    OX_CHECK(qint64(dst.width) == 2 * qint64(src.width) && qint64(dst.height) == 2 * qint64(src.height),
             eErrInvalidArg2);
    OX_CHECK(IsBayerLayout(grid), eErrInvalidArg3);
    return DispatchBySize<kSizes1248>(src.dataType, [&](auto tag) {
        JoinMosaic<typename decltype(tag)::type>(src, grid, dst);
        return unsigned(eOk);
    });
}

unsigned int DemosaicSimple(const SxImageBuf& src, const QRect& rect, SxImageBuf& dst, ExBayerGrid grid)
{
    OX_CHECK(HasData(src), eErrInvalidArg1);
    const bool narrowMono = src.channels == 1 && IsTypeIn(src.dataType, kUInt8And16);
    OX_CHECK(narrowMono || src.channels == 4 || src.packing == ePlanar || GetImageTypeSize(src.dataType) < 4,
             eErrInvalidArg1);
    OX_CHECK(RectInside(rect, src), eErrInvalidArg2);
    OX_CHECK(HasData(dst) && dst.packing == ePixel && dst.dataType == src.dataType, eErrInvalidArg3);
    OX_CHECK(dst.channels == 3 || dst.channels == 4, eErrInvalidArg3);
    const bool mosaic = src.packing == ePixel;
    const bool planar = src.packing == ePlanar;
    const int factor = mosaic ? 2 : 1; // output pixels per source sample along each direction
    OX_CHECK(!(mosaic || planar) ||
                 (dst.width == rect.width() / factor && dst.height == rect.height() / factor),
             eErrInvalidArg3);
    if (mosaic)
        OX_CHECK(grid != eNoBayer && IsBayerLayout(src.bayerGrid), eErrInvalidArg4);
    // Planar sources must be in the planar raw layout.
    OX_CHECK(mosaic || (planar && src.channels >= 4), eErrUnsupported);

    return DispatchType<kAllRealTypes>(src.dataType, [&](auto tag) {
        using T = typename decltype(tag)::type;
        if (mosaic)
            DemosaicSimpleWorker<T, 2>(dst,
                                       [&](int j) { return MosaicRows<T>(src, rect, src.bayerGrid, j); });
        else
            DemosaicSimpleWorker<T, 1>(dst, [&](int j) { return PlanarRows<T>(src, rect, j); });
        return unsigned(eOk);
    });
}

unsigned int DemosaicSimpleToRGB32(const SxImageBuf& src, SxImageBuf& dst, unsigned char alpha)
{
    OX_CHECK(IsValidBuffer(src), eErrInvalidArg1);
    const bool mosaic = src.channels == 1;
    OX_CHECK(mosaic || (src.channels == 4 && src.packing == ePlanar), eErrInvalidArg1);
    OX_CHECK(IsTypeIn(src.dataType, kUInt8And16) && IsBayerLayout(src.bayerGrid), eErrInvalidArg1);
    OX_CHECK(IsValidBuffer(dst) && dst.channels == 4 && dst.dataType == eUInt8 && dst.packing == ePixel,
             eErrInvalidArg2);
    const int factor = mosaic ? 2 : 1;
    OX_CHECK(dst.width == src.width / factor && dst.height == src.height / factor, eErrInvalidArg2);

    // 16-bit values keep their top bits; shifts beyond the word clear everything.
    const int shift = src.dataType == eUInt16 ? std::clamp(src.colorBitDepth - dst.colorBitDepth, 0, 16) : 0;
    const QRect all = Bounds(src);
    return DispatchType<kUInt8And16>(src.dataType, [&](auto tag) {
        using T = typename decltype(tag)::type;
        if (mosaic)
            DemosaicToRGB32Worker<T, 2>(
                dst, [&](int j) { return MosaicRows<T>(src, all, src.bayerGrid, j); }, shift, alpha);
        else
            DemosaicToRGB32Worker<T, 1>(
                dst, [&](int j) { return PlanarRows<T>(src, all, j); }, shift, alpha);
        return unsigned(eOk);
    });
}

QList<ExBayerGrid> GuessBayerGrid(const SxImageBuf& buf, const QRect& rect)
{
    const auto even = [](int v) { return v % 2 == 0; };
    const bool usable = IsBayerLayout(buf.bayerGrid) && HasData(buf) && buf.channels <= 1 &&
                        buf.packing == ePixel && RectInside(rect, buf) && even(buf.width) &&
                        even(buf.height) && even(rect.width()) && even(rect.height()) && even(rect.x()) &&
                        even(rect.y()) && IsTypeIn(buf.dataType, kUInt8And16);
    if (!usable)
        return {};

    // 64-bit sums: a 16-bit rectangle overflows 32 bits beyond 32,768 samples per cell position.
    quint64 sums[4] = {0, 0, 0, 0};
    DispatchType<kUInt8And16>(buf.dataType, [&](auto tag) {
        SumCellPositions<typename decltype(tag)::type>(buf, rect, sums);
        return unsigned(eOk);
    });
    const qint64 tl = qint64(sums[0]), tr = qint64(sums[1]), bl = qint64(sums[2]), br = qint64(sums[3]);
    if (std::llabs(tl - br) < std::llabs(tr - bl)) // red and blue on the anti-diagonal
        return tr >= bl ? QList<ExBayerGrid>{eGRBG, eGBRG} : QList<ExBayerGrid>{eGBRG, eGRBG};
    return tl < br ? QList<ExBayerGrid>{eBGGR, eRGGB} : QList<ExBayerGrid>{eRGGB, eBGGR};
}

} // namespace ox
