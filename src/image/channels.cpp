// Channel operations: copy, set, swap and invert single channels.

#include <ox/channels.h>

#include "image/pixelops.h"

#include <utility>

namespace ox {

using namespace detail;

namespace {

// Components between two pixels of one channel: 1 in a plane, `channels` when pixel packed.
inline int PixelStep(const SxImageBuf& b)
{
    return b.packing == ePlanar ? 1 : b.channels;
}

// Row y of physical channel p: its first component (plane p when planar).
template <typename U>
inline U* ChannelRow(const SxImageBuf& b, int y, int p)
{
    return b.packing == ePlanar ? RowPtr<U>(b, y, p) : RowPtr<U>(b, y) + p;
}

// The row kernels below take the pixel step as a template parameter where it is 1, 3 or 4 (so that
// the loops vectorise) and at run time (Step == 0) otherwise.
template <int Step>
inline int StepOf(int runtime)
{
    return Step ? Step : runtime;
}

// Row kernels: plain loops over pointers and counts passed by value, so that the compiler knows
// that no store changes them and vectorises.

template <typename U, int SStep, int DStep>
OX_ROW_KERNEL void CopyRow(const U* __restrict s, int sn, U* __restrict d, int dn, int w)
{
    sn = StepOf<SStep>(sn);
    dn = StepOf<DStep>(dn);
    for (int x = 0; x < w; ++x)
        d[x * dn] = s[x * sn];
}

template <typename U, int Step>
OX_ROW_KERNEL void SetRow(U* __restrict d, int n, int w, U value)
{
    n = StepOf<Step>(n);
    for (int x = 0; x < w; ++x)
        d[x * n] = value;
}

template <typename U, int Step>
OX_ROW_KERNEL void SetRowMasked(U* __restrict d, int n, const quint8* __restrict m, int w, U value)
{
    n = StepOf<Step>(n);
    for (int x = 0; x < w; ++x)
        d[x * n] = m[x] ? value : d[x * n];
}

template <typename U, int Step>
OX_ROW_KERNEL void InvertRow(U* __restrict d, int n, std::ptrdiff_t w)
{
    n = StepOf<Step>(n);
    for (std::ptrdiff_t x = 0; x < w; ++x)
        d[x * n] = U(~d[x * n]);
}

template <typename U, int Step>
OX_ROW_KERNEL void SwapRow(U* __restrict d, int n, int a, int b, int w)
{
    n = StepOf<Step>(n);
    for (int x = 0; x < w; ++x)
        std::swap(d[x * n + a], d[x * n + b]);
}

// Workers: rows (of one plane) shared among the threads.

// dst channel q = src channel p (physical), over dst's size.
template <typename U>
void CopyChannelWorker(const SxImageBuf& src, int p, SxImageBuf& dst, int q)
{
    DispatchChannels(PixelStep(src), [&](auto sStep) {
        DispatchChannels(PixelStep(dst), [&](auto dStep) {
            ParallelFor(dst.height, [&](int y) {
                CopyRow<U, decltype(sStep)::value, decltype(dStep)::value>(
                    ChannelRow<U>(src, y, p), PixelStep(src), ChannelRow<U>(dst, y, q), PixelStep(dst),
                    dst.width);
            });
        });
    });
}

// Cell position `position` (0 TL, 1 TR, 2 BL, 3 BR) of every cell of a mosaic into the first
// dst.width components of each row of dst.
template <typename U>
void CopyCellPosition(const SxImageBuf& src, int position, SxImageBuf& dst)
{
    const int dx = position & 1;
    const int dy = position >> 1;
    ParallelFor(dst.height, [&](int j) {
        CopyRow<U, 2, 1>(RowPtr<U>(src, 2 * j + dy) + dx, 2, RowPtr<U>(dst, j), 1, dst.width);
    });
}

template <typename U, bool Masked>
void SetChannelWorker(SxImageBuf& buf, int p, U value, const SxImageBuf& mask)
{
    DispatchChannels(PixelStep(buf), [&](auto step) {
        constexpr int Step = decltype(step)::value;
        ParallelFor(buf.height, [&](int y) {
            if constexpr (Masked)
                SetRowMasked<U, Step>(ChannelRow<U>(buf, y, p), PixelStep(buf), RowPtr(mask, y), buf.width,
                                      value);
            else
                SetRow<U, Step>(ChannelRow<U>(buf, y, p), PixelStep(buf), buf.width, value);
        });
    });
}

template <typename U>
void InvertChannelWorker(SxImageBuf& buf, int p)
{
    DispatchChannels(PixelStep(buf), [&](auto step) {
        ParallelFor(buf.height, [&](int y) {
            InvertRow<U, decltype(step)::value>(ChannelRow<U>(buf, y, p), PixelStep(buf), buf.width);
        });
    });
}

template <typename U>
void SwapChannelsWorker(SxImageBuf& buf, int a, int b)
{
    DispatchChannels(buf.channels, [&](auto step) {
        ParallelFor(buf.height, [&](int y) {
            SwapRow<U, decltype(step)::value>(RowPtr<U>(buf, y), buf.channels, a, b, buf.width);
        });
    });
}

// Every component of every row of every plane.
template <typename U>
void InvertAll(SxImageBuf& buf)
{
    const std::ptrdiff_t count = std::ptrdiff_t(buf.width) * PixelStep(buf);
    for (int p = 0; p < PlaneCount(buf); ++p)
        ParallelFor(buf.height, [&](int y) { InvertRow<U, 1>(RowPtr<U>(buf, y, p), 1, count); });
}

constexpr unsigned kUnsignedTypes = TypeBit(eUInt8) | TypeBit(eUInt16) | TypeBit(eUInt32) | TypeBit(eUInt64);

inline bool PixelOrPlanar(const SxImageBuf& b)
{
    return b.packing == ePixel || b.packing == ePlanar;
}

// Shared by both SetChannel forms once the arguments are checked.
template <bool Masked>
unsigned SetChannelDispatch(SxImageBuf& buf, int p, const SxImageBuf& mask, unsigned long long value)
{
    OX_CHECK(PixelOrPlanar(buf), eErrUnsupported);
    return DispatchBySize<kAllRealTypes>(buf.dataType, [&](auto tag) {
        using U = typename decltype(tag)::type;
        SetChannelWorker<U, Masked>(buf, p, U(value), mask); // the low-order bytes, stored as they are
        return unsigned(eOk);
    });
}

} // namespace

unsigned int CopyChannel(const SxImageBuf& src, int srcChannel, SxImageBuf& dst, int dstChannel)
{
    OX_CHECK(HasData(src), eErrInvalidArg1);
    const ExBayerGrid grid = src.bayerGrid;
    const bool noBayer = grid == eNoBayer;
    const bool planar = src.packing == ePlanar;
    if (noBayer)
        OX_CHECK(PhysicalChannel(src, srcChannel) >= 0, eErrInvalidArg2);
    else if (grid != eMultispectral)
        OX_CHECK(srcChannel >= 0 && srcChannel <= 3 && (!planar || srcChannel < src.channels),
                 eErrInvalidArg2);
    OX_CHECK(HasData(dst) && dst.dataType == src.dataType && dst.packing == src.packing, eErrInvalidArg3);
    if (noBayer)
        OX_CHECK(SameSize(dst, src), eErrInvalidArg3);
    else if (IsBayerLayout(grid))
        OX_CHECK(dst.width == src.width / 2 && dst.height == src.height / 2, eErrInvalidArg3);
    OX_CHECK(InRange(dstChannel, dst.channels), eErrInvalidArg4);
    // A mosaic fills dst as one channel; otherwise the logical channel must map into the pixel.
    const bool mosaic = !noBayer && !planar;
    OX_CHECK(mosaic || PhysicalChannel(dst, dstChannel) >= 0, eErrInvalidArg4);
    OX_CHECK(noBayer || IsBayerLayout(grid), eErrUnsupported); // eMultispectral and unknown layouts
    OX_CHECK(src.packing == ePixel || planar, eErrUnsupported);

    return DispatchBySize<kAllRealTypes>(src.dataType, [&](auto tag) {
        using U = typename decltype(tag)::type;
        if (mosaic)
            CopyCellPosition<U>(src, srcChannel, dst);
        else
            CopyChannelWorker<U>(src, PhysicalChannel(src, srcChannel), dst,
                                 PhysicalChannel(dst, dstChannel));
        return unsigned(eOk);
    });
}

unsigned int CopyChannelPlanarToPixel(const SxImageBuf& src, int srcChannel, SxImageBuf& dst, int dstChannel)
{
    OX_CHECK(HasData(src) && src.packing == ePlanar, eErrInvalidArg1);
    OX_CHECK(PhysicalChannel(src, srcChannel) >= 0, eErrInvalidArg2);
    OX_CHECK(HasData(dst) && dst.packing == ePixel && dst.dataType == src.dataType && SameSize(dst, src),
             eErrInvalidArg3);
    OX_CHECK(PhysicalChannel(dst, dstChannel) >= 0, eErrInvalidArg4);
    return DispatchBySize(src.dataType, [&](auto tag) {
        CopyChannelWorker<typename decltype(tag)::type>(src, PhysicalChannel(src, srcChannel), dst,
                                                        PhysicalChannel(dst, dstChannel));
        return unsigned(eOk);
    });
}

unsigned int SetChannel(SxImageBuf& buf, int channel, unsigned long long value)
{
    OX_CHECK(HasData(buf), eErrInvalidArg1);
    OX_CHECK(PhysicalChannel(buf, channel) >= 0, eErrInvalidArg2);
    return SetChannelDispatch<false>(buf, PhysicalChannel(buf, channel), buf, value);
}

unsigned int SetChannel(SxImageBuf& buf, int channel, const SxImageBuf& mask, unsigned long long value)
{
    OX_CHECK(HasData(buf), eErrInvalidArg1);
    OX_CHECK(PhysicalChannel(buf, channel) >= 0, eErrInvalidArg2);
    OX_CHECK(HasData(mask) && mask.channels == 1 && mask.dataType == eUInt8 && SameSize(mask, buf),
             eErrInvalidArg3);
    return SetChannelDispatch<true>(buf, PhysicalChannel(buf, channel), mask, value);
}

unsigned int SwapChannels(SxImageBuf& buf, int channelA, int channelB)
{
    OX_CHECK(HasData(buf) && buf.packing == ePixel, eErrInvalidArg1);
    OX_CHECK(InRange(channelA, buf.channels), eErrInvalidArg2);
    OX_CHECK(InRange(channelB, buf.channels), eErrInvalidArg3);
    return DispatchBySize<kAllRealTypes>(buf.dataType, [&](auto tag) {
        SwapChannelsWorker<typename decltype(tag)::type>(buf, channelA, channelB);
        return unsigned(eOk);
    });
}

unsigned int Invert(SxImageBuf& buf)
{
    OX_CHECK(HasData(buf), eErrInvalidArg1);
    OX_CHECK(PixelOrPlanar(buf), eErrUnsupported);
    return DispatchType<kUnsignedTypes>(buf.dataType, [&](auto tag) {
        InvertAll<typename decltype(tag)::type>(buf);
        return unsigned(eOk);
    });
}

unsigned int InvertChannel(SxImageBuf& buf, int channel)
{
    OX_CHECK(HasData(buf), eErrInvalidArg1);
    OX_CHECK(PhysicalChannel(buf, channel) >= 0, eErrInvalidArg2);
    OX_CHECK(PixelOrPlanar(buf), eErrUnsupported);
    return DispatchType<kUnsignedTypes>(buf.dataType, [&](auto tag) {
        InvertChannelWorker<typename decltype(tag)::type>(buf, PhysicalChannel(buf, channel));
        return unsigned(eOk);
    });
}

} // namespace ox
