#pragma once

// Shared machinery of the pixel operations. Every operation reads as three short parts:
//
//   1. checks, in the documented order, one line each:   OX_CHECK(HasData(src), eErrInvalidArg1);
//   2. one dispatch from the data type to a templated worker:
//          return DispatchType<kAllRealTypes>(src.dataType, [&](auto tag) {
//              using T = typename decltype(tag)::type;
//              return InvertWorker<T>(src, dst);
//          });
//      (DispatchBySize when only bytes move: one instantiation per component size);
//   3. a worker: ParallelRows(rows, [&](int y) { plain inner loop over pointers }).
//
// Workers never allocate pixel memory; scratch memory is allocated once per call.

#include <ox/errors.h>
#include <ox/imagebuf.h>

#include <QRect>

#include <omp.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <type_traits>

// Returns `code` from the enclosing function when `cond` does not hold.
#define OX_CHECK(cond, code)                                                                                 \
    do {                                                                                                     \
        if (!(cond))                                                                                         \
            return (code);                                                                                   \
    } while (0)

namespace ox::detail {

// ---- Types ------------------------------------------------------------------------------------

struct Complex
{
    double re;
    double im;
};
static_assert(sizeof(Complex) == 16, "complex components are two doubles");

// An opaque 16-byte component for operations that only move bytes.
struct Bytes16
{
    std::uint64_t lo;
    std::uint64_t hi;
};

template <typename T>
struct TypeTag
{
    using type = T;
};

// Bit masks of data types, for restricting a dispatch to the types an operation handles.
constexpr unsigned TypeBit(ExImageDataType t)
{
    return 1u << unsigned(t);
}
constexpr unsigned kInt8Types = TypeBit(eInt8) | TypeBit(eUInt8);
constexpr unsigned kInt16Types = TypeBit(eInt16) | TypeBit(eUInt16);
constexpr unsigned kInt32Types = TypeBit(eInt32) | TypeBit(eUInt32);
constexpr unsigned kInt64Types = TypeBit(eInt64) | TypeBit(eUInt64);
constexpr unsigned kIntegerTypes = kInt8Types | kInt16Types | kInt32Types | kInt64Types;
constexpr unsigned kFloatTypes = TypeBit(eFloat) | TypeBit(eDouble);
constexpr unsigned kAllRealTypes = kIntegerTypes | kFloatTypes;
constexpr unsigned kAllTypes = kAllRealTypes | TypeBit(eComplex);
constexpr unsigned kUInt8And16 = TypeBit(eUInt8) | TypeBit(eUInt16);

inline bool IsKnownType(ExImageDataType t)
{
    return t >= eInt8 && t <= eUInt64;
}
inline bool IsTypeIn(ExImageDataType t, unsigned mask)
{
    return IsKnownType(t) && (mask & TypeBit(t)) != 0;
}

// Calls fn(TypeTag<T>{}) with the C++ type of `t` when `t` is in Mask; otherwise (and for values
// outside the enumeration) returns eErrUnsupported. Only the types in Mask are instantiated.
template <unsigned Mask = kAllTypes, typename Fn>
unsigned DispatchType(ExImageDataType t, Fn&& fn)
{
    switch (t) {
#define OX_DISPATCH_CASE(E, T)                                                                               \
    case E:                                                                                                  \
        if constexpr ((Mask & TypeBit(E)) != 0)                                                              \
            return fn(TypeTag<T>{});                                                                         \
        break;
        OX_DISPATCH_CASE(eInt8, std::int8_t)
        OX_DISPATCH_CASE(eUInt8, std::uint8_t)
        OX_DISPATCH_CASE(eInt16, std::int16_t)
        OX_DISPATCH_CASE(eUInt16, std::uint16_t)
        OX_DISPATCH_CASE(eInt32, std::int32_t)
        OX_DISPATCH_CASE(eUInt32, std::uint32_t)
        OX_DISPATCH_CASE(eFloat, float)
        OX_DISPATCH_CASE(eDouble, double)
        OX_DISPATCH_CASE(eComplex, Complex)
        OX_DISPATCH_CASE(eInt64, std::int64_t)
        OX_DISPATCH_CASE(eUInt64, std::uint64_t)
#undef OX_DISPATCH_CASE
    default: break;
    }
    return eErrUnsupported;
}

// Types by component size.
constexpr unsigned kSize1Types = kInt8Types;
constexpr unsigned kSize2Types = kInt16Types;
constexpr unsigned kSize4Types = kInt32Types | TypeBit(eFloat);
constexpr unsigned kSize8Types = kInt64Types | TypeBit(eDouble);
constexpr unsigned kSize16Types = TypeBit(eComplex);

// For operations that only move bytes: calls fn(TypeTag<U>{}) with an unsigned type of the
// component's size (std::uint8_t ... std::uint64_t, Bytes16). Types outside Mask: eErrUnsupported.
// Only the sizes of the types in Mask are instantiated.
template <unsigned Mask = kAllTypes, typename Fn>
unsigned DispatchBySize(ExImageDataType t, Fn&& fn)
{
    if (!IsTypeIn(t, Mask))
        return eErrUnsupported;
    switch (GetImageTypeSize(t)) {
#define OX_DISPATCH_SIZE(N, TYPES, U)                                                                        \
    case N:                                                                                                  \
        if constexpr ((Mask & (TYPES)) != 0)                                                                 \
            return fn(TypeTag<U>{});                                                                         \
        break;
        OX_DISPATCH_SIZE(1, kSize1Types, std::uint8_t)
        OX_DISPATCH_SIZE(2, kSize2Types, std::uint16_t)
        OX_DISPATCH_SIZE(4, kSize4Types, std::uint32_t)
        OX_DISPATCH_SIZE(8, kSize8Types, std::uint64_t)
        OX_DISPATCH_SIZE(16, kSize16Types, Bytes16)
#undef OX_DISPATCH_SIZE
    default: break;
    }
    return eErrUnsupported;
}

// Calls fn(Channels<C>{}) with C = channels for 1, 3 and 4 channels, so that loops over the
// components of a pixel unroll, and with C = 0 for any other count (the worker then reads the
// count at run time). All branches must return the same type.
template <int C>
using Channels = std::integral_constant<int, C>;

template <typename Fn>
decltype(auto) DispatchChannels(int channels, Fn&& fn)
{
    switch (channels) {
    case 1: return fn(Channels<1>{});
    case 3: return fn(Channels<3>{});
    case 4: return fn(Channels<4>{});
    default: return fn(Channels<0>{});
    }
}

// ---- Row kernels ------------------------------------------------------------------------------
// OX_ROW_KERNEL marks a row kernel (a plain loop over pointers and counts passed by value) to be
// compiled three times, for the x86-64 baseline, for AVX2 and for AVX-512 (x86-64-v4), the best
// one the processor runs chosen once at load time. Loops that gather or scatter bytes with a
// stride (3-channel 8-bit pixels, interleaved outputs) vectorise well only with byte shuffles that
// the baseline lacks, and double-precision arithmetic gains most from the wider vectors. No -march
// flag is needed: the binary still runs on any x86-64 machine.
// Sanitized builds use the baseline only: their run-time library is not ready when the loader
// runs the selector.
#if defined(__x86_64__) && defined(__GNUC__) && !defined(__clang__) && !defined(__SANITIZE_ADDRESS__) &&     \
    !defined(__SANITIZE_THREAD__)
#define OX_ROW_KERNEL __attribute__((target_clones("arch=x86-64-v4", "avx2", "default")))
#else
#define OX_ROW_KERNEL
#endif

// ---- Geometry and layout ----------------------------------------------------------------------

// Bytes of one row that its components fill when stored whole: component size x width x
// (channels for interleaved pixels, 1 for planes); 0 when a size is not positive or the type
// unknown (those are left to the callers' own checks).
inline quint64 WholeComponentsRowBytes(const SxImageInfo& b)
{
    if (b.width < 1 || b.channels < 1)
        return 0;
    return GetImageTypeSize(b.dataType) * quint64(b.width) * quint64(b.packing == ePlanar ? 1 : b.channels);
}

// Components packed into fewer bits than their container (see AllocBuffer).
inline bool IsBitPacked(const SxImageInfo& b)
{
    return b.compression != eUncompressed && b.colorBitDepth > 0 &&
           quint64(b.colorBitDepth) < 8 * GetImageTypeSize(b.dataType);
}

// Components stored whole, one row of them fitting in rowBytes; false for bit-packed rows.
inline bool HoldsWholeComponents(const SxImageBuf& b)
{
    return !IsBitPacked(b) && b.rowBytes >= 0 && quint64(b.rowBytes) >= WholeComponentsRowBytes(b);
}

// A buffer the pixel operations can read or write: it has memory, and its rows hold whole
// components (bit-packed rows, or rows shorter than their pixels, would be overrun).
inline bool HasData(const SxImageBuf& b)
{
    return b.data != nullptr && HoldsWholeComponents(b);
}

inline QRect Bounds(const SxImageInfo& b)
{
    return QRect(0, 0, b.width, b.height);
}

// True when `r` lies wholly inside `bounds` (its intersection with them has its own size).
inline bool RectInside(const QRect& r, const QRect& bounds)
{
    return (r & bounds).size() == r.size();
}
inline bool RectInside(const QRect& r, const SxImageInfo& b)
{
    return RectInside(r, Bounds(b));
}

inline int PlaneCount(const SxImageInfo& b)
{
    return b.packing == ePlanar ? b.channels : 1;
}

// A buffer an operation can read: data, positive width, height, channels and colorBitDepth, known type.
inline bool IsValidBuffer(const SxImageBuf& b)
{
    return HasData(b) && b.width > 0 && b.height > 0 && b.channels > 0 && b.colorBitDepth > 0 &&
           IsKnownType(b.dataType);
}

inline bool SameSize(const SxImageInfo& a, const SxImageInfo& b)
{
    return a.width == b.width && a.height == b.height;
}

// One of the four 2 x 2 colour-filter layouts (not eNoBayer, eMultispectral or other values).
inline bool IsBayerLayout(ExBayerGrid g)
{
    return g >= eBGGR && g <= eGRBG;
}

// 0 <= index < count.
inline bool InRange(int index, int count)
{
    return index >= 0 && index < count;
}

// Physical position of logical channel `logical` in `b`, or -1 when the channel does not exist or
// the mapping would leave the pixel (for example logical 0 of a two-channel 8-bit image).
inline int PhysicalChannel(const SxImageBuf& b, int logical)
{
    if (!InRange(logical, b.channels))
        return -1;
    const int p = ChannelIndexLogicalToPhysical(logical, b);
    return InRange(p, b.channels) ? p : -1;
}

// Bytes of the whole image: rowBytes x height x planes.
inline quint64 ImageByteSize(const SxImageInfo& b)
{
    return quint64(qint64(b.rowBytes)) * quint64(qint64(b.height)) * quint64(PlaneCount(b));
}

// True when the memory of two buffers overlaps (each spans rowBytes x height x planes bytes).
// Memory of different kinds (memoryTag) is taken to lie in different address spaces.
inline bool Overlaps(const SxImageBuf& a, const SxImageBuf& b)
{
    const auto begin = [](const SxImageBuf& x) { return reinterpret_cast<quintptr>(x.data); };
    return a.data && b.data && a.memoryTag == b.memoryTag && begin(a) < begin(b) + ImageByteSize(b) &&
           begin(b) < begin(a) + ImageByteSize(a);
}

template <typename T = std::uint8_t>
inline T* RowPtr(const SxImageBuf& b, int y, int plane = 0)
{
    return reinterpret_cast<T*>(b.data + (std::ptrdiff_t(plane) * b.height + y) * std::ptrdiff_t(b.rowBytes));
}

// ---- Parallel loops ---------------------------------------------------------------------------
// One OpenMP region with the default number of threads; no size threshold. Bodies must not throw
// and must not take locks.

// Shares [0, n) among the threads in contiguous chunks of about an eighth of a thread's share,
// handed out as threads become free: a thread that the scheduler delays (another process on its
// core) does not hold up the whole call, as it would with fixed shares.
template <typename F>
void ParallelFor(int n, F&& body)
{
    const int chunk = std::max(1, n / (8 * omp_get_max_threads()));
#pragma omp parallel for schedule(dynamic, chunk)
    for (int i = 0; i < n; ++i)
        body(i);
}

// ---- Channels of one row --------------------------------------------------------------------

// Components between two pixels of one channel: 1 in a plane, `channels` when pixel packed.
inline int ComponentStep(const SxImageInfo& b)
{
    return b.packing == ePlanar ? 1 : b.channels;
}

// Components of one row of one plane: width x channels when pixel packed, width when planar.
inline std::ptrdiff_t RowComponents(const SxImageInfo& b)
{
    return std::ptrdiff_t(b.width) * ComponentStep(b);
}

inline bool IsPixelOrPlanar(const SxImageInfo& b)
{
    return b.packing == ePixel || b.packing == ePlanar;
}

// First component of physical channel p in row y: in plane p when planar, else at offset p.
template <typename T>
inline T* ChannelRowPtr(const SxImageBuf& b, int y, int p)
{
    return b.packing == ePlanar ? RowPtr<T>(b, y, p) : RowPtr<T>(b, y) + p;
}

// Calls fn(std::true_type{}) or fn(std::false_type{}): turns a run-time flag into a template
// argument of a row kernel (for example whether red and blue trade places).
template <typename Fn>
decltype(auto) DispatchBool(bool flag, Fn&& fn)
{
    return flag ? fn(std::true_type{}) : fn(std::false_type{});
}

} // namespace ox::detail
