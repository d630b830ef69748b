// Display conversions: any supported image to 8-bit RGBA (ConvertToRGBA8), one channel as a grey
// display image (ExtractChannelToRGB32), and the process-wide lookup tables of 16-bit data.

#include <ox/color.h>

#include "image/bytepixels.h"
#include "image/bytescale.h"
#include "image/pixelops.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstring>
#include <limits>
#include <mutex>
#include <type_traits>

#if defined(__x86_64__) && defined(__GNUC__)
#include <immintrin.h>
#endif

namespace ox {

using namespace detail;

namespace {

// ---- Lookup tables ----------------------------------------------------------------------------

constexpr int kMaxTableDepth = 16;

// The opaque grey pixel of byte g: g in red, green and blue, 255 in alpha. The same 32-bit word
// fits both channel orders, alpha being the fourth byte in each.
constexpr quint32 GreyPixel(quint32 g, quint32 alpha = 255)
{
    return g * 0x010101u | alpha << 24;
}

// A level table entry of 16-bit data, the value first limited to the table.
struct LevelLookup
{
    const quint8* table;
    quint32 top;
    quint8 operator()(quint16 v) const { return table[v < top ? v : top]; }
};

// Process-wide tables for 16-bit data, made on first use and kept for the life of the process.
// For each depth d (1 ... 16): the 8-bit level table, entry i = round(i × 255 / (2^d − 1)) with
// halves rounded up, and the grey pixels of those levels (the level table followed by the table of
// 256 grey pixels, in one lookup). Tables are published through atomics once complete; `m_mutex`
// guards their creation, so that each is made exactly once even when many threads convert at once.
// Tables are never released: readers hold plain pointers to them.
class DisplayTables
{
public:
    static DisplayTables& instance()
    {
        static DisplayTables* tables = new DisplayTables; // lives to the end of the process
        return *tables;
    }

    // The level table of `depth` (1 ... kMaxTableDepth), or null when memory ran out.
    const quint8* levels(int depth)
    {
        if (const quint8* t = m_levels[depth].load(std::memory_order_acquire))
            return t;
        std::lock_guard<std::mutex> lock(m_mutex);
        return levels_noLock(depth);
    }

    // Whether single precision gives `depth`'s levels (bytescale.h), decided once per depth: the
    // levels round i × 255 / top, whose fractional part is never one half, and the check against
    // the table confirms it.
    bool levelsInFloat(int depth, const quint8* table)
    {
        int verdict = m_inFloat[depth].load(std::memory_order_acquire);
        if (verdict == 0) {
            verdict =
                MatchesEverywhere(levelScale(depth), LevelLookup{table, (quint32(1) << depth) - 1}) ? 1 : 2;
            m_inFloat[depth].store(verdict, std::memory_order_release); // every thread finds the same
        }
        return verdict == 1;
    }

    static ByteScale levelScale(int depth)
    {
        const qint32 top = (qint32(1) << depth) - 1;
        return ByteScale{float(255.0 / top), 0.5f, top, 255};
    }

    // The grey pixels of `depth`'s levels, or null when memory ran out.
    const quint32* greyPixels(int depth)
    {
        if (const quint32* t = m_grey[depth].load(std::memory_order_acquire))
            return t;
        std::lock_guard<std::mutex> lock(m_mutex);
        if (const quint32* t = m_grey[depth].load(std::memory_order_relaxed))
            return t;
        const quint8* level = levels_noLock(depth);
        quint32* grey = level ? new (std::nothrow) quint32[std::size_t(1) << depth] : nullptr;
        if (!grey)
            return nullptr;
        for (std::size_t i = 0; i < (std::size_t(1) << depth); ++i)
            grey[i] = m_greyOfByte[level[i]];
        m_grey[depth].store(grey, std::memory_order_release);
        return grey;
    }

private:
    DisplayTables()
    {
        for (quint32 g = 0; g < 256; ++g)
            m_greyOfByte[g] = GreyPixel(g);
    }

    // The caller holds m_mutex.
    const quint8* levels_noLock(int depth)
    {
        if (const quint8* t = m_levels[depth].load(std::memory_order_relaxed))
            return t;
        const quint64 n = quint64(1) << depth;
        const quint64 top = n - 1;
        quint8* level = new (std::nothrow) quint8[n];
        if (!level)
            return nullptr;
        for (quint64 i = 0; i < n; ++i)
            level[i] = quint8((2 * i * 255 + top) / (2 * top)); // i × 255 / top + 1/2, rounded down
        m_levels[depth].store(level, std::memory_order_release);
        return level;
    }

    std::mutex m_mutex;                                           // guards creating the tables below
    std::atomic<const quint8*> m_levels[kMaxTableDepth + 1] = {}; // written under m_mutex, read by any thread
    std::atomic<const quint32*> m_grey[kMaxTableDepth + 1] = {};  // written under m_mutex, read by any thread
    std::atomic<int> m_inFloat[kMaxTableDepth + 1] = {};          // 0 not yet known, 1 yes, 2 no
    quint32 m_greyOfByte[256];                                    // constant after construction
};

// ---- Row kernels ------------------------------------------------------------------------------

// 16-bit mono to grey pixels through a table of 2^d entries; values are limited to `top`.
OX_ROW_KERNEL void GreyLookupRow(const quint16* __restrict s, quint8* __restrict d, int w,
                                 const quint32* __restrict table, quint32 top)
{
    for (int x = 0; x < w; ++x) {
        const quint32 v = s[x];
        std::memcpy(d + 4 * x, &table[v < top ? v : top], 4);
    }
}

#if defined(__x86_64__) && defined(__GNUC__)
#define OX_HAVE_GATHERED_GREY 1
// The same with AVX2 gathers, eight pixels per step; the rest pixel by pixel.
__attribute__((target("avx2"))) void GreyLookupRowGathered(const quint16* s, quint8* d, int w,
                                                           const quint32* table, quint32 top)
{
    const __m256i limit = _mm256_set1_epi32(int(top));
    int x = 0;
    for (; x + 8 <= w; x += 8) {
        const __m128i in = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + x));
        const __m256i index = _mm256_min_epu32(_mm256_cvtepu16_epi32(in), limit);
        const __m256i px = _mm256_i32gather_epi32(reinterpret_cast<const int*>(table), index, 4);
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(d + 4 * x), px);
    }
    GreyLookupRow(s + x, d + 4 * x, w - x, table, top);
}
#endif

// 16-bit RGB to RGBA, one level per component; red and blue placed as BlueFirst says.
template <bool BlueFirst, typename F>
OX_ROW_KERNEL void ColourLevelsRow(const quint16* __restrict s, quint8* __restrict d, int w, F level,
                                   quint8 alpha)
{
    constexpr int r = BlueFirst ? 2 : 0;
    constexpr int b = BlueFirst ? 0 : 2;
    for (int x = 0; x < w; ++x) {
        d[4 * x + r] = level(s[3 * x]);
        d[4 * x + 1] = level(s[3 * x + 1]);
        d[4 * x + b] = level(s[3 * x + 2]);
        d[4 * x + 3] = alpha;
    }
}

// Smallest and largest component of a row.
template <typename T>
struct Range
{
    T lo, hi;
};

// n components to bytes through f.
template <typename T, typename F>
OX_ROW_KERNEL void ToBytesRow(const T* __restrict s, quint8* __restrict d, int n, F f)
{
    for (int i = 0; i < n; ++i)
        d[i] = f(s[i]);
}

// 64 bytes of floats or doubles as one GCC vector.
template <typename T>
struct Vector64;
template <>
struct Vector64<float>
{
    typedef float type __attribute__((vector_size(64)));
};
template <>
struct Vector64<double>
{
    typedef double type __attribute__((vector_size(64)));
};

// For floating point, running ranges side by side in a 64-byte vector, so that the comparisons
// of each lane keep their order (the compiler does not reassociate floating-point minima, so a
// plain loop stays scalar); NaN compares false and is passed over.
template <typename T>
OX_ROW_KERNEL Range<T> RowRange(const T* __restrict s, std::ptrdiff_t n, Range<T> r)
{
    std::ptrdiff_t i = 0;
    if constexpr (std::is_floating_point_v<T>) {
        using V = typename Vector64<T>::type;
        constexpr int kLanes = int(64 / sizeof(T));
        V lo, hi;
        for (int j = 0; j < kLanes; ++j) {
            lo[j] = r.lo;
            hi[j] = r.hi;
        }
        for (; i + kLanes <= n; i += kLanes) {
            V v;
            std::memcpy(&v, s + i, sizeof v);
            lo = v < lo ? v : lo;
            hi = v > hi ? v : hi;
        }
        for (int j = 0; j < kLanes; ++j) {
            r.lo = lo[j] < r.lo ? lo[j] : r.lo;
            r.hi = hi[j] > r.hi ? hi[j] : r.hi;
        }
    }
    for (; i < n; ++i) {
        r.lo = s[i] < r.lo ? s[i] : r.lo;
        r.hi = s[i] > r.hi ? s[i] : r.hi;
    }
    return r;
}

// The stretch of one component: trunc((v − lo) × 255 / (hi − lo)), hi > lo.
template <typename T>
struct Stretch
{
    T lo;
    T hi;

    quint8 operator()(T v) const
    {
        if constexpr (sizeof(T) == 8 && std::is_integral_v<T>) {
            // Exact in 128 bits: the 64-bit difference times 255 does not fit 64 bits.
            using W = unsigned __int128;
            const W num = W(quint64(v) - quint64(lo)) * 255u;
            return quint8(num / W(quint64(hi) - quint64(lo)));
        } else {
            // Integers of up to 32 bits are exact in double, and their quotient truncates as the
            // integer quotient would. Floating point: out-of-range and NaN results give 0 or 255.
            const double q = (double(v) - double(lo)) * 255.0 / (double(hi) - double(lo));
            return q >= 255.0 ? quint8(255) : (q > 0 ? quint8(q) : quint8(0));
        }
    }
};

// The stretch as a product with the reciprocal of the range, for floating-point data and integers
// of up to 32 bits, in the precision P: double, or float for float data. Both forms round a few
// times on the way to the same ratio, at most 4 × 2^-53 × 255 < 1.2e-13 apart in double and
// 5 × 2^-24 × 255 < 7.6e-5 apart in float, so they truncate alike unless the product lies within
// `margin` of an integer; those components are redone with the quotient.
template <typename T>
struct ReciprocalStretch
{
    using P = std::conditional_t<std::is_same_v<T, float>, float, double>;
    static constexpr P margin = std::is_same_v<P, float> ? P(2e-4) : P(1e-12);
    P lo = 0;
    P k = 0;
    bool usable = false;

    ReciprocalStretch(T lo_, T hi_) : lo(P(lo_))
    {
        const P range = P(hi_) - P(lo_);
        k = P(255) / range;
        // Differences below the normal numbers lose relative precision; with this lower bound on
        // the range their products lie within the margin of 0.
        const P smallest = std::is_same_v<P, float> ? P(1e-30) : P(1e-290);
        usable = !(std::is_integral_v<T> && sizeof(T) == 8) && std::isfinite(range) && range >= smallest &&
                 std::isnormal(k);
    }

    P product(T v) const { return (P(v) - lo) * k; }

    quint8 operator()(T v) const
    {
        const P q = product(v);
        return q >= P(255) ? quint8(255) : (q > 0 ? quint8(q) : quint8(0));
    }
};

// n components to bytes through the product; components whose product lay within the margin of an
// integer are marked in `redo`. True when any was.
template <typename T>
OX_ROW_KERNEL bool StretchBytesFast(const T* __restrict s, quint8* __restrict d, quint8* __restrict redo,
                                    int n, ReciprocalStretch<T> f)
{
    using P = typename ReciprocalStretch<T>::P;
    quint8 any = 0;
    for (int i = 0; i < n; ++i) {
        const P q = f.product(s[i]);
        redo[i] = std::fabs(q - std::floor(q + P(0.5))) < ReciprocalStretch<T>::margin ? 1 : 0;
        any |= redo[i];
        d[i] = q >= P(255) ? quint8(255) : (q > 0 ? quint8(q) : quint8(0));
    }
    return any != 0;
}

// One component through the quotient, kept out of line so that the loop over the few marked
// components is not turned into a vector loop that divides every component.
template <typename T>
__attribute__((noinline)) quint8 StretchOne(T v, Stretch<T> exact)
{
    return exact(v);
}

// Bytes to grey pixels with alpha.
OX_ROW_KERNEL void GreyPixelsRow(const quint8* __restrict s, quint8* __restrict d, int w, quint32 alphaBits)
{
    for (int x = 0; x < w; ++x) {
        const quint32 px = quint32(s[x]) * 0x010101u | alphaBits;
        std::memcpy(d + 4 * x, &px, 4);
    }
}

// Three byte planes to RGBA; red and blue placed as BlueFirst says.
template <bool BlueFirst>
OX_ROW_KERNEL void PlanesToPixelsRow(const quint8* __restrict s0, const quint8* __restrict s1,
                                     const quint8* __restrict s2, quint8* __restrict d, int w, quint8 alpha)
{
    constexpr int r = BlueFirst ? 2 : 0;
    constexpr int b = BlueFirst ? 0 : 2;
    for (int x = 0; x < w; ++x) {
        d[4 * x + r] = s0[x];
        d[4 * x + 1] = s1[x];
        d[4 * x + b] = s2[x];
        d[4 * x + 3] = alpha;
    }
}

// One channel `step` components apart as grey pixels: the value (shifted right by `shift` and cut
// to its low byte for 16-bit samples) in red, green and blue, and the alpha bits.
template <typename T, int Step>
OX_ROW_KERNEL void GreyChannelRow(const T* __restrict s, int step, quint8* __restrict d, int w, int shift,
                                  quint32 alphaBits)
{
    const int n = Step ? Step : step;
    for (int x = 0; x < w; ++x) {
        const quint32 v = sizeof(T) == 1 ? quint32(s[n * x]) : quint32(s[n * x] >> shift) & 0xffu;
        const quint32 px = v * 0x010101u | alphaBits;
        std::memcpy(d + 4 * x, &px, 4);
    }
}

// ---- Workers ----------------------------------------------------------------------------------

inline bool RedAt2(const SxImageBuf& b)
{
    return ChannelIndexLogicalToPhysical(0, b) == 2;
}

unsigned GreyLookup(const SxImageBuf& src, SxImageBuf& dst, int depth)
{
    const quint32* table = DisplayTables::instance().greyPixels(depth);
    OX_CHECK(table, eErrOutOfMemory);
    const quint32 top = (quint32(1) << depth) - 1;
#if OX_HAVE_GATHERED_GREY
    if (__builtin_cpu_supports("avx2")) {
        ParallelFor(dst.height, [&](int y) {
            GreyLookupRowGathered(RowPtr<quint16>(src, y), RowPtr(dst, y), dst.width, table, top);
        });
        return eOk;
    }
#endif
    ParallelFor(dst.height, [&](int y) {
        GreyLookupRow(RowPtr<quint16>(src, y), RowPtr(dst, y), dst.width, table, top);
    });
    return eOk;
}

unsigned ColourLookup(const SxImageBuf& src, SxImageBuf& dst, int depth, quint8 alpha)
{
    const quint8* table = DisplayTables::instance().levels(depth);
    OX_CHECK(table, eErrOutOfMemory);
    const quint32 top = (quint32(1) << depth) - 1;
    const LevelLookup lookup{table, top};
    const ByteScale scale = DisplayTables::levelScale(depth);
    const bool inFloat = DisplayTables::instance().levelsInFloat(depth, table);
    DispatchBool(RedAt2(dst), [&](auto blueFirst) {
        constexpr bool bf = decltype(blueFirst)::value;
        ParallelFor(dst.height, [&](int y) {
            const quint16* s = RowPtr<quint16>(src, y);
            quint8* d = RowPtr(dst, y);
            if (!inFloat) {
                ColourLevelsRow<bf>(s, d, dst.width, lookup, alpha);
                return;
            }
            // Levels of a stretch of the row as flat bytes, then spread to pixels with alpha.
            constexpr int kChunk = 1024;
            quint8 levels[3 * kChunk];
            for (int x = 0; x < dst.width; x += kChunk) {
                const int n = std::min(kChunk, dst.width - x);
                ToBytesRow<quint16>(s + 3 * x, levels, 3 * n, scale);
                ThreeToFourBytesRow<bf>(levels, d + 4 * x, n, alpha);
            }
        });
    });
    return eOk;
}

// Smallest and largest component over every row of every plane (all colour channels together).
// Each thread keeps its own range; the ranges are combined at the end.
template <typename T>
Range<T> ImageRange(const SxImageBuf& src)
{
    using L = std::numeric_limits<T>;
    const Range<T> empty{L::has_infinity ? L::infinity() : L::max(),
                         L::has_infinity ? -L::infinity() : L::lowest()};
    const int rows = src.height * PlaneCount(src);
    const std::ptrdiff_t n = RowComponents(src);
    T lo = empty.lo, hi = empty.hi;
#pragma omp parallel
    {
        Range<T> r = empty;
#pragma omp for schedule(dynamic, 16) nowait
        for (int i = 0; i < rows; ++i)
            r = RowRange<T>(RowPtr<T>(src, i % src.height, i / src.height), n, r);
#pragma omp critical(ox_color_range)
        {
            lo = r.lo < lo ? r.lo : lo;
            hi = r.hi > hi ? r.hi : hi;
        }
    }
    if constexpr (L::has_infinity) {
        // The infinities stay out of the range (the stretch then gives them 0 and 255): found
        // again, passing them over, in the rare image that has one.
        if (std::isinf(lo) || std::isinf(hi)) {
            lo = empty.lo, hi = empty.hi;
            for (int i = 0; i < rows; ++i) {
                const T* row = RowPtr<T>(src, i % src.height, i / src.height);
                for (std::ptrdiff_t k = 0; k < n; ++k)
                    if (!std::isinf(row[k])) {
                        lo = row[k] < lo ? row[k] : lo;
                        hi = row[k] > hi ? row[k] : hi;
                    }
            }
        }
    }
    return {lo, hi};
}

template <typename T>
void LinearStretch(const SxImageBuf& src, SxImageBuf& dst, quint8 alpha)
{
    const Range<T> range = ImageRange<T>(src);
    const bool flat = !(range.hi > range.lo); // a constant image (or one without a number) gives 0
    const Stretch<T> exact{range.lo, range.hi};
    const ReciprocalStretch<T> fast(range.lo, range.hi);
    const bool planar = src.packing == ePlanar;
    const int perPixel = planar ? 1 : src.channels;
    const int segments = planar ? src.channels : 1;
    // Blocks of a row become bytes (one segment per plane), then pixels.
    constexpr int kBlock = 256;
    DispatchBool(src.channels > 1 && RedAt2(dst), [&](auto blueFirst) {
        constexpr bool bf = decltype(blueFirst)::value;
        ParallelFor(dst.height, [&](int y) {
            quint8 bytes[3 * kBlock], redo[3 * kBlock];
            for (int x = 0; x < dst.width; x += kBlock) {
                const int n = std::min(kBlock, dst.width - x);
                const int count = n * perPixel;
                for (int p = 0; p < segments; ++p) {
                    const T* s = RowPtr<T>(src, y, p) + std::ptrdiff_t(perPixel) * x;
                    quint8* b = bytes + p * n;
                    if (flat)
                        std::memset(b, 0, std::size_t(count));
                    else if (!fast.usable)
                        ToBytesRow<T>(s, b, count, exact);
                    else if (StretchBytesFast<T>(s, b, redo, count, fast))
                        for (int i = 0; i < count; i += 8) { // eight marks (0 or 1) per word
                            quint64 marks = 0;
                            std::memcpy(&marks, redo + i, std::size_t(std::min(8, count - i)));
                            for (; marks; marks &= marks - 1) {
                                const int k = i + __builtin_ctzll(marks) / 8;
                                b[k] = StretchOne<T>(s[k], exact);
                            }
                        }
                }
                quint8* d = RowPtr(dst, y) + 4 * x;
                if (src.channels == 1)
                    GreyPixelsRow(bytes, d, n, quint32(alpha) << 24);
                else if (planar)
                    PlanesToPixelsRow<bf>(bytes, bytes + n, bytes + 2 * n, d, n, alpha);
                else
                    ThreeToFourBytesRow<bf>(bytes, d, n, alpha);
            }
        });
    });
}

// The source types the linear stretch handles.
constexpr unsigned kStretchTypes = TypeBit(eInt16) | kInt32Types | kInt64Types | kFloatTypes;

inline unsigned Called(unsigned code)
{
    return Succeeded(code) ? unsigned(eOk) : unsigned(eErrFailed);
}

} // namespace

unsigned int ConvertToRGBA8(const SxImageBuf& src, SxImageBuf& dst, unsigned char alpha)
{
    OX_CHECK(HasData(src) && src.channels <= 4, eErrInvalidArg1);
    OX_CHECK(HasData(dst) && dst.channels == 4 && dst.dataType == eUInt8 && dst.packing == ePixel &&
                 SameSize(dst, src),
             eErrInvalidArg2);

    const bool pixel = src.packing == ePixel;
    const bool planar = src.packing == ePlanar;
    const ExImageDataType type = src.dataType;
    if (src.channels == 4) {
        OX_CHECK(type == eUInt8 && pixel && src.colorBitDepth == dst.colorBitDepth &&
                     src.bayerGrid == dst.bayerGrid && src.colorOrder == dst.colorOrder,
                 eErrUnsupported);
        return Called(CopyBuffer(src, dst));
    }
    const bool mono = src.channels == 1;
    const bool colour = src.channels == 3;
    if (type == eUInt8) {
        if (colour && pixel)
            return Called(ConvertRGB8ToRGBA8(src, dst, 255));
        if (mono && (pixel || planar))
            return Called(ConvertMonoToRGBA(src, dst, 0));
        if (colour && planar)
            return Called(ConvertPlanarToRGB(src, dst));
        return eErrUnsupported;
    }
    if (type == eUInt16 && pixel && (mono || colour)) {
        const int depth = src.colorBitDepth;
        OX_CHECK(depth >= 1 && depth <= kMaxTableDepth, eErrUnsupported); // no table for other depths
        return mono ? GreyLookup(src, dst, depth) : ColourLookup(src, dst, depth, alpha);
    }
    const bool stretched =
        IsTypeIn(type, kStretchTypes) && ((mono && pixel) || (colour && (pixel || planar)));
    OX_CHECK(stretched || (type == eUInt16 && colour && planar), eErrUnsupported);
    return DispatchType<kStretchTypes | TypeBit(eUInt16)>(type, [&](auto tag) {
        LinearStretch<typename decltype(tag)::type>(src, dst, alpha);
        return unsigned(eOk);
    });
}

unsigned int ExtractChannelToRGB32(const SxImageBuf& src, int channel, SxImageBuf& dst, unsigned char alpha)
{
    const bool mosaic = src.channels == 1 && IsBayerLayout(src.bayerGrid);
    const bool colour = src.channels == 3 || src.channels == 4;
    OX_CHECK(mosaic || colour, eErrUnsupported);
    OX_CHECK(IsValidBuffer(src) && (!mosaic || IsTypeIn(src.dataType, kUInt8And16)), eErrInvalidArg1);
    const int factor = mosaic ? 2 : 1;
    OX_CHECK(IsValidBuffer(dst) && dst.channels == 4 && dst.dataType == eUInt8 && dst.packing == ePixel &&
                 dst.width == src.width / factor && dst.height == src.height / factor,
             eErrInvalidArg3);
    OX_CHECK(channel >= 0 && channel <= (mosaic ? 3 : 2), eErrInvalidArg2);
    OX_CHECK(IsTypeIn(src.dataType, kUInt8And16) && (mosaic || IsPixelOrPlanar(src)), eErrUnsupported);

    // 16-bit samples keep their top bits; shifts beyond the word leave nothing.
    const int shift = std::clamp(src.colorBitDepth - dst.colorBitDepth, 0, 16);
    const quint32 alphaBits = quint32(alpha) << 24;
    return DispatchType<kUInt8And16>(src.dataType, [&](auto tag) {
        using T = typename decltype(tag)::type;
        // The first sample of output row j and the components between samples.
        const auto rowStart = [&](int j) -> const T* {
            if (mosaic)
                return RowPtr<T>(src, 2 * j + (channel >> 1)) + (channel & 1);
            return ChannelRowPtr<T>(src, j, PhysicalChannel(src, channel));
        };
        const int step = mosaic ? 2 : ComponentStep(src);
        const auto run = [&](auto fixedStep) {
            ParallelFor(dst.height, [&](int j) {
                GreyChannelRow<T, decltype(fixedStep)::value>(rowStart(j), step, RowPtr(dst, j), dst.width,
                                                              shift, alphaBits);
            });
        };
        switch (step) {
        case 1: run(Channels<1>{}); break;
        case 2: run(Channels<2>{}); break;
        case 3: run(Channels<3>{}); break;
        case 4: run(Channels<4>{}); break;
        default: run(Channels<0>{}); break;
        }
        return unsigned(eOk);
    });
}

} // namespace ox
