// Bit depth and data type: significant-depth detection, bit shifts, reduction of 16-bit data to
// 8 bits, rescaling of 8/16-bit colours and changes of the container type.

#include <ox/bitdepth.h>

#include "image/bytescale.h"
#include "image/pixelops.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <memory>
#include <new>
#include <numeric>
#include <type_traits>
#include <utility>

namespace ox {

using namespace detail;

namespace {

constexpr unsigned kUnsignedTypes = TypeBit(eUInt8) | TypeBit(eUInt16) | TypeBit(eUInt32) | TypeBit(eUInt64);

// ---- Row kernels ------------------------------------------------------------------------------
// Plain loops over pointers and counts passed by value, so that the compiler knows that no store
// changes them and vectorises.

template <typename T>
OX_ROW_KERNEL T RowMax(const T* __restrict s, std::ptrdiff_t n, T m)
{
    for (std::ptrdiff_t i = 0; i < n; ++i)
        m = s[i] > m ? s[i] : m;
    return m;
}

// Shifts by a count below the component width (wider promoted types keep the shift defined).
template <typename U>
OX_ROW_KERNEL void ShiftLeftRow(U* __restrict d, std::ptrdiff_t n, int bits)
{
    using W = std::conditional_t<sizeof(U) < 4, quint32, U>;
    for (std::ptrdiff_t i = 0; i < n; ++i)
        d[i] = U(W(d[i]) << bits);
}

template <typename U>
OX_ROW_KERNEL void ShiftRightRow(U* __restrict d, std::ptrdiff_t n, int bits)
{
    for (std::ptrdiff_t i = 0; i < n; ++i)
        d[i] = U(d[i] >> bits);
}

// Component by component: d[i] = convert(s[i]), `Step` components apart (1 for whole rows).
template <typename In, typename Out, int SStep, int DStep, typename F>
OX_ROW_KERNEL void ConvertRow(const In* __restrict s, int sStep, Out* __restrict d, int dStep,
                              std::ptrdiff_t n, F convert)
{
    const std::ptrdiff_t sn = SStep ? SStep : sStep;
    const std::ptrdiff_t dn = DStep ? DStep : dStep;
    for (std::ptrdiff_t i = 0; i < n; ++i)
        d[i * dn] = convert(s[i * sn]);
}

// ---- Workers ----------------------------------------------------------------------------------

template <typename T>
T ImageMax(const SxImageBuf& buf)
{
    // Each thread keeps its own maximum, starting at 0; the maxima are combined at the end.
    const std::ptrdiff_t n = RowComponents(buf);
    T m = 0;
#pragma omp parallel
    {
        T mine = 0;
#pragma omp for schedule(static) nowait
        for (int y = 0; y < buf.height; ++y)
            mine = RowMax<T>(RowPtr<T>(buf, y), n, mine);
#pragma omp critical(ox_bitdepth_max)
        m = std::max(m, mine);
    }
    return m;
}

template <typename U>
void ShiftAll(SxImageBuf& buf, int shift)
{
    constexpr int bits = int(8 * sizeof(U));
    const std::ptrdiff_t n = RowComponents(buf);
    for (int p = 0; p < PlaneCount(buf); ++p)
        ParallelFor(buf.height, [&](int y) {
            U* row = RowPtr<U>(buf, y, p);
            if (shift >= bits || -shift >= bits)
                std::fill(row, row + n, U(0)); // every bit leaves the component
            else if (shift > 0)
                ShiftLeftRow<U>(row, n, shift);
            else
                ShiftRightRow<U>(row, n, -shift);
        });
}

// Channel pairs (physical source, physical destination) for logical channels 0 ... n − 1, or false
// when a logical channel has no place inside a pixel of either buffer.
struct ChannelPairs
{
    int count = 0;
    int from[64];
    int to[64];
};

bool PairLogicalChannels(const SxImageBuf& src, const SxImageBuf& dst, int first, int count, int target,
                         ChannelPairs& pairs)
{
    if (count < 1 || count > 64)
        return false;
    pairs.count = count;
    for (int k = 0; k < count; ++k) {
        pairs.from[k] = PhysicalChannel(src, first + k);
        pairs.to[k] = PhysicalChannel(dst, target + k);
        if (pairs.from[k] < 0 || pairs.to[k] < 0)
            return false;
    }
    return true;
}

// 2^bits − 1 for any count (0 below 1, saturating above 63).
inline quint64 FullScale(int bits)
{
    return bits <= 0 ? 0 : (bits >= 64 ? ~quint64(0) : (quint64(1) << bits) - 1);
}

// Float to unsigned: the largest value at or above it, 0 below 0 and for NaN, else truncated.
template <typename In, typename Out>
struct ClampToUnsigned
{
    Out operator()(In v) const
    {
        constexpr In top = In(std::numeric_limits<Out>::max()); // rounds up to 2^n for wide types
        return v >= top ? std::numeric_limits<Out>::max() : (v > In(0) ? Out(v) : Out(0));
    }
};

// trunc(v × top / m) for a 16-bit v, as double precision gives it, and top for v at or above m
// (m = 0 acts as m = 1: 0 stays 0, everything else gives top). The numerator is below 2^24 and
// the quotient below 256, so a float reciprocal lands within one of the integer quotient and one
// correction step in integers makes it exact; the loop vectorises, unlike a table lookup.
struct ReduceDivider
{
    qint32 m = 1;
    qint32 top = 0;
    float inverse = 1;

    ReduceDivider() = default;
    ReduceDivider(quint32 whitePoint, quint32 top_)
        : m(qint32(std::max(whitePoint, 1u))), top(qint32(top_)), inverse(1.0f / float(m))
    {}

    quint8 operator()(quint16 v) const
    {
        const qint32 x = qint32(v) * top;
        qint32 q = std::min(qint32(float(x) * inverse), top);
        q += (q + 1) * m <= x ? 1 : 0;
        q -= q * m > x ? 1 : 0;
        return quint8(qint32(v) >= m ? top : q);
    }
};

// The same in single precision, when that matches ReduceDivider for every input (bytescale.h);
// false otherwise.
bool FloatReduction(quint32 whitePoint, quint32 top, ByteScale& f)
{
    const quint32 m = std::max(whitePoint, 1u);
    const quint32 g = std::gcd(m, top ? top : m); // quotients are multiples of g / m
    f = ByteScale{float(double(top) / m), float(0.5 * g / m), 65535, qint32(top)};
    static thread_local RecentChecks<std::pair<quint32, quint32>> recent;
    return recent.answer({whitePoint, top},
                         [&] { return MatchesEverywhere(f, ReduceDivider(whitePoint, top)); });
}

// Whole 3- or 4-channel pixels through one converter per channel, red and blue swapped on the way
// when Swap is set.
template <int C, bool Swap, typename In, typename Out, typename F>
OX_ROW_KERNEL void PixelsRow(const In* __restrict s, Out* __restrict d, int w, const F* f)
{
    const F f0 = f[0], f1 = f[1], f2 = f[2], f3 = f[C == 4 ? 3 : 0];
    for (int x = 0; x < w; ++x) {
        d[C * x + (Swap ? 2 : 0)] = f0(s[C * x]);
        d[C * x + 1] = f1(s[C * x + 1]);
        d[C * x + (Swap ? 0 : 2)] = f2(s[C * x + 2]);
        if constexpr (C == 4)
            d[C * x + 3] = f3(s[C * x + 3]);
    }
}

// min(v × 2^by, 255) truncated, for by in −16 ... 16.
struct PowerOfTwoScale
{
    int by;
    quint8 operator()(quint16 v) const
    {
        const quint32 q = by >= 0 ? quint32(v) << by : quint32(v) >> -by;
        return quint8(std::min(q, 255u));
    }
};

template <typename In, typename Out>
struct PlainConversion
{
    Out operator()(In v) const { return Out(v); }
};

// Converts every component of src into dst (same size and channel count): whole rows when both
// have the same layout, else channel by channel.
template <typename In, typename Out, typename F>
void ConvertComponents(const SxImageBuf& src, SxImageBuf& dst, F convert)
{
    if (src.packing == dst.packing || src.channels == 1) {
        const std::ptrdiff_t n = RowComponents(src);
        for (int p = 0; p < PlaneCount(src); ++p)
            ParallelFor(dst.height, [&](int y) {
                ConvertRow<In, Out, 1, 1>(RowPtr<In>(src, y, p), 1, RowPtr<Out>(dst, y, p), 1, n, convert);
            });
        return;
    }
    ParallelFor(dst.height, [&](int y) {
        for (int c = 0; c < src.channels; ++c)
            ConvertRow<In, Out, 0, 0>(ChannelRowPtr<In>(src, y, c), ComponentStep(src),
                                      ChannelRowPtr<Out>(dst, y, c), ComponentStep(dst), dst.width, convert);
    });
}

// Converts logical channel k of src into its place in dst through f[k] (pairs as
// PairLogicalChannels gives them). 3- or 4-channel pixels on both sides, with red and blue in the
// same or in swapped places, go in one pass over whole pixels; anything else channel by channel.
template <typename In, typename Out, typename F>
void ConvertChannels(const SxImageBuf& src, SxImageBuf& dst, const ChannelPairs& pairs, const F* f)
{
    const int channels = pairs.count;
    bool pixels = src.packing == ePixel && dst.packing == ePixel && src.channels == channels &&
                  dst.channels == channels && (channels == 3 || channels == 4);
    const bool swap = pixels && pairs.to[0] == 2;
    for (int c = 0; c < channels && pixels; ++c)
        pixels = pairs.from[c] == c && pairs.to[c] == (swap && c != 1 && c != 3 ? 2 - c : c);
    if (pixels) {
        DispatchBool(swap, [&](auto swapped) {
            constexpr bool kSwap = decltype(swapped)::value;
            ParallelFor(dst.height, [&](int y) {
                if (channels == 3)
                    PixelsRow<3, kSwap>(RowPtr<In>(src, y), RowPtr<Out>(dst, y), dst.width, f);
                else
                    PixelsRow<4, kSwap>(RowPtr<In>(src, y), RowPtr<Out>(dst, y), dst.width, f);
            });
        });
        return;
    }
    if (src.packing == ePlanar && dst.packing == ePlanar) {
        for (int k = 0; k < channels; ++k)
            ParallelFor(dst.height, [&](int y) {
                ConvertRow<In, Out, 1, 1>(RowPtr<In>(src, y, pairs.from[k]), 1,
                                          RowPtr<Out>(dst, y, pairs.to[k]), 1, dst.width, f[k]);
            });
        return;
    }
    ParallelFor(dst.height, [&](int y) {
        for (int k = 0; k < channels; ++k)
            ConvertRow<In, Out, 0, 0>(ChannelRowPtr<In>(src, y, pairs.from[k]), ComponentStep(src),
                                      ChannelRowPtr<Out>(dst, y, pairs.to[k]), ComponentStep(dst), dst.width,
                                      f[k]);
    });
}

// trunc(v × m / full) limited to `top`, in double precision with a bias of 2^−20. That is exact
// for 16-bit v, m and full: below 2^16 the three roundings stay under 2^−35, a quotient that is
// not whole lies at least 1 / full ≥ 2^−16 below the next integer, and a whole one is lifted
// clear of the truncation by the bias; larger quotients are limited to top anyway.
template <typename Out>
struct RangeScale
{
    double scale = 0;
    double top = 0;

    Out operator()(quint32 v) const { return Out(std::min(double(v) * scale + 0x1p-20, top)); }
};

// RangeScale to bytes in single precision (bytescale.h), when that matches it for every 16-bit
// input; false otherwise.
bool FloatRangeScale(quint32 m, quint32 full, ByteScale& f)
{
    const quint32 g = std::gcd(m, full); // quotients are multiples of g / full
    const quint32 top = std::min(m, 255u);
    f = ByteScale{float(double(m) / full), float(0.5 * g / full), 65535, qint32(top)};
    static thread_local RecentChecks<std::pair<quint32, quint32>> recent;
    return recent.answer({m, full}, [&] {
        return MatchesEverywhere(f, RangeScale<quint8>{double(m) / full, double(top)});
    });
}

} // namespace

// ---- Depth ------------------------------------------------------------------------------------

unsigned int ColorBitDepthForIntensity(unsigned int value)
{
    if (value < 2)
        return 1;
    if (value < 256)
        return 8;
    for (unsigned n = 9; n < 32; ++n)
        if (value < (1u << n))
            return n;
    return 32;
}

unsigned int DetectColorBitDepth(const SxImageBuf& buf, int& depth)
{
    OX_CHECK(HasData(buf), eErrInvalidArg1);
    OX_CHECK(IsTypeIn(buf.dataType, kUInt8And16) && buf.packing == ePixel, eErrInvalidArg1);
    return DispatchType<kUInt8And16>(buf.dataType, [&](auto tag) {
        depth = int(ColorBitDepthForIntensity(ImageMax<typename decltype(tag)::type>(buf)));
        return unsigned(eOk);
    });
}

unsigned int ShiftBits(SxImageBuf& buf, int shift)
{
    OX_CHECK(HasData(buf), eErrInvalidArg1);
    if (shift == 0)
        return eOk;
    OX_CHECK(IsPixelOrPlanar(buf), eErrUnsupported);
    return DispatchType<TypeBit(eUInt8) | TypeBit(eUInt16) | TypeBit(eUInt32)>(buf.dataType, [&](auto tag) {
        using U = typename decltype(tag)::type;
        ShiftAll<U>(buf, shift);
        const qint64 bits = qint64(buf.colorBitDepth) + shift;
        buf.colorBitDepth = int(std::clamp<qint64>(bits, 0, 8 * sizeof(U)));
        return unsigned(eOk);
    });
}

// ---- 16 to 8 bits -----------------------------------------------------------------------------

unsigned int ReduceBits(const SxImageBuf& src, SxImageBuf& dst, unsigned short* maxValues)
{
    OX_CHECK(HasData(src) && src.dataType == eUInt16, eErrInvalidArg1);
    OX_CHECK(HasData(dst) && dst.dataType == eUInt8 && SameSize(dst, src) && dst.channels >= src.channels,
             eErrInvalidArg2);
    OX_CHECK(src.channels != 1 || dst.channels == 1, eErrInvalidArg2);
    OX_CHECK(IsPixelOrPlanar(src) && IsPixelOrPlanar(dst), eErrUnsupported);
    ChannelPairs pairs;
    OX_CHECK(PairLogicalChannels(src, dst, 0, src.channels, 0, pairs), eErrUnsupported);

    const quint64 srcTop = FullScale(std::min(src.colorBitDepth, 16));
    const quint64 dstTop = FullScale(std::min(dst.colorBitDepth, 8));
    const auto whitePoint = [&](int c) {
        return std::min<quint64>(maxValues ? maxValues[c] : srcTop, srcTop);
    };

    // One white point for every channel, and every component in the same place on both sides:
    // the rows are converted as flat arrays of components.
    bool uniform = src.packing == dst.packing && (src.packing == ePlanar || src.channels == dst.channels);
    for (int c = 0; c < pairs.count && uniform; ++c)
        uniform = pairs.from[c] == pairs.to[c] && whitePoint(c) == whitePoint(0);
    if (uniform) {
        ByteScale f;
        if (FloatReduction(quint32(whitePoint(0)), quint32(dstTop), f))
            ConvertComponents<quint16, quint8>(src, dst, f);
        else
            ConvertComponents<quint16, quint8>(src, dst,
                                               ReduceDivider(quint32(whitePoint(0)), quint32(dstTop)));
        return eOk;
    }

    // A white point per channel: one converter each, in single precision where that is exact for
    // every channel.
    ReduceDivider divider[64];
    ByteScale scale[64];
    bool inFloat = true;
    for (int c = 0; c < pairs.count; ++c) {
        divider[c] = ReduceDivider(quint32(whitePoint(c)), quint32(dstTop));
        inFloat = inFloat && FloatReduction(quint32(whitePoint(c)), quint32(dstTop), scale[c]);
    }
    if (inFloat)
        ConvertChannels<quint16, quint8>(src, dst, pairs, scale);
    else
        ConvertChannels<quint16, quint8>(src, dst, pairs, divider);
    return eOk;
}

unsigned int ReduceBits(const SxImageBuf& src, int srcChannel, SxImageBuf& dst, int dstChannel)
{
    OX_CHECK(HasData(src) && src.dataType == eUInt16, eErrInvalidArg1);
    OX_CHECK(InRange(srcChannel, src.channels), eErrInvalidArg2);
    OX_CHECK(HasData(dst) && SameSize(dst, src) && dst.packing == src.packing && dst.dataType == eUInt8,
             eErrInvalidArg3);
    OX_CHECK(InRange(dstChannel, dst.channels), eErrInvalidArg4);
    OX_CHECK(IsPixelOrPlanar(src), eErrUnsupported);
    ChannelPairs pair;
    OX_CHECK(PairLogicalChannels(src, dst, srcChannel, 1, dstChannel, pair), eErrUnsupported);

    // trunc(v × 2^dst depth / 2^src depth), limited to the byte: a shift.
    const int by = std::clamp(dst.colorBitDepth, -64, 64) - std::clamp(src.colorBitDepth, -64, 64);
    const PowerOfTwoScale scale{std::clamp(by, -16, 16)};
    if (src.packing == ePlanar) {
        ParallelFor(dst.height, [&](int y) {
            ConvertRow<quint16, quint8, 1, 1>(RowPtr<quint16>(src, y, pair.from[0]), 1,
                                              RowPtr<quint8>(dst, y, pair.to[0]), 1, dst.width, scale);
        });
        return eOk;
    }
    ParallelFor(dst.height, [&](int y) {
        ConvertRow<quint16, quint8, 0, 0>(ChannelRowPtr<quint16>(src, y, pair.from[0]), src.channels,
                                          ChannelRowPtr<quint8>(dst, y, pair.to[0]), dst.channels, dst.width,
                                          scale); // pixel packed on both sides
    });
    return eOk;
}

// ---- Rescaling --------------------------------------------------------------------------------

unsigned int ScaleColors(const SxImageBuf& src, SxImageBuf& dst, unsigned short* maxValues)
{
    OX_CHECK(HasData(src) && GetImageTypeSize(src.dataType) <= 2, eErrInvalidArg1);
    OX_CHECK(HasData(dst) && GetImageTypeSize(dst.dataType) <= 2, eErrInvalidArg2);
    OX_CHECK(SameSize(dst, src) && dst.channels == src.channels && dst.packing == src.packing,
             eErrInvalidArg2);
    OX_CHECK(maxValues, eErrInvalidArg3);
    const double limit = std::ldexp(1.0, std::clamp(dst.colorBitDepth, -64, 64));
    for (int c = 0; c < src.channels; ++c)
        OX_CHECK(double(maxValues[c]) < limit, eErrInvalidArg3);
    OX_CHECK(IsPixelOrPlanar(src), eErrUnsupported);
    ChannelPairs pairs;
    OX_CHECK(PairLogicalChannels(src, dst, 0, src.channels, 0, pairs), eErrUnsupported);

    // trunc(v × m_c / (2^depth − 1)), limited to m_c (source values beyond the depth).
    return DispatchType<kUInt8And16>(src.dataType, [&](auto inTag) {
        return DispatchType<kUInt8And16>(dst.dataType, [&](auto outTag) {
            using In = typename decltype(inTag)::type;
            using Out = typename decltype(outTag)::type;
            constexpr int width = int(8 * sizeof(In));
            const int depth =
                src.colorBitDepth >= 1 && src.colorBitDepth <= width ? src.colorBitDepth : width;
            const quint32 full = quint32(FullScale(depth));
            bool uniform = src.packing == dst.packing;
            for (int c = 0; c < pairs.count; ++c)
                uniform = uniform && pairs.from[c] == pairs.to[c] && maxValues[c] == maxValues[0];
            const auto run = [&](const auto* f) {
                if (uniform) // every component alike: rows as flat arrays
                    ConvertComponents<In, Out>(src, dst, f[0]);
                else
                    ConvertChannels<In, Out>(src, dst, pairs, f);
            };
            if constexpr (std::is_same_v<Out, quint8>) {
                ByteScale inFloat[64];
                bool exact = true;
                for (int c = 0; c < pairs.count && exact; ++c)
                    exact = FloatRangeScale(maxValues[c], full, inFloat[c]);
                if (exact) {
                    run(inFloat);
                    return unsigned(eOk);
                }
            }
            RangeScale<Out> f[64];
            for (int c = 0; c < pairs.count; ++c)
                f[c] = {double(maxValues[c]) / full,
                        std::min<double>(maxValues[c], std::numeric_limits<Out>::max())};
            run(f);
            return unsigned(eOk);
        });
    });
}

// ---- Container types --------------------------------------------------------------------------

unsigned int RetypeUToU(const SxImageBuf& src, SxImageBuf& dst)
{
    OX_CHECK(HasData(src), eErrInvalidArg1);
    OX_CHECK(HasData(dst) && SameSize(dst, src) && dst.channels == src.channels && dst.packing == src.packing,
             eErrInvalidArg2);
    OX_CHECK(IsPixelOrPlanar(src), eErrUnsupported);
    return DispatchType<kUnsignedTypes>(src.dataType, [&](auto inTag) {
        return DispatchType<kUnsignedTypes>(dst.dataType, [&](auto outTag) {
            using In = typename decltype(inTag)::type;
            using Out = typename decltype(outTag)::type;
            ConvertComponents<In, Out>(src, dst, PlainConversion<In, Out>{});
            return unsigned(eOk);
        });
    });
}

unsigned int RetypeFloatToU(const SxImageBuf& src, SxImageBuf& dst)
{
    OX_CHECK(HasData(src) && IsTypeIn(src.dataType, kFloatTypes), eErrInvalidArg1);
    OX_CHECK(HasData(dst) && SameSize(dst, src) && dst.channels == src.channels, eErrInvalidArg2);
    OX_CHECK(IsTypeIn(dst.dataType, kUnsignedTypes) && dst.bayerGrid == src.bayerGrid, eErrInvalidArg2);
    OX_CHECK(IsPixelOrPlanar(src) && IsPixelOrPlanar(dst), eErrUnsupported);
    return DispatchType<kFloatTypes>(src.dataType, [&](auto inTag) {
        return DispatchType<kUnsignedTypes>(dst.dataType, [&](auto outTag) {
            using In = typename decltype(inTag)::type;
            using Out = typename decltype(outTag)::type;
            ConvertComponents<In, Out>(src, dst, ClampToUnsigned<In, Out>{});
            return unsigned(eOk);
        });
    });
}

} // namespace ox
