// Colour-model conversions between mono, RGB, RGBA and planar layouts; luminance; red/blue exchange.
// The display conversions (ConvertToRGBA8, ExtractChannelToRGB32) live in colorrgba.cpp.

#include <ox/color.h>

#include <ox/bayer.h>
#include <ox/channels.h>

#include "image/bytepixels.h"
#include "image/bytescale.h"
#include "image/pixelops.h"

#if defined(__x86_64__) && defined(__GNUC__)
#include <immintrin.h>
#endif

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <memory>
#include <new>
#include <type_traits>
#include <utility>

namespace ox {

using namespace detail;

namespace {

// ---- Channel order ----------------------------------------------------------------------------

// True when logical red is stored at physical position 2 (8-bit interleaved, blue first).
inline bool RedAt2(const SxImageBuf& b)
{
    return b.channels >= 3 && ChannelIndexLogicalToPhysical(0, b) == 2;
}

// Physical positions of red and blue for a compile-time order.
template <bool BlueFirst>
constexpr int kRed = BlueFirst ? 2 : 0;
template <bool BlueFirst>
constexpr int kBlue = BlueFirst ? 0 : 2;

// ---- Row kernels ------------------------------------------------------------------------------
// Plain loops over pointers and counts passed by value (so that the compiler knows that no store
// changes them); channel counts and positions are template arguments so that the grouped loads
// and stores become shuffles.

// Mono to C-channel pixels; alpha at 3 when C is 4.
template <typename T, int C>
OX_ROW_KERNEL void MonoToColourRow(const T* __restrict s, T* __restrict d, int w, T alpha)
{
    for (int x = 0; x < w; ++x) {
        const T v = s[x];
        d[C * x] = v;
        d[C * x + 1] = v;
        d[C * x + 2] = v;
        if constexpr (C == 4)
            d[C * x + 3] = alpha;
    }
}

// 8-bit mono to 4-byte pixels, built as one 32-bit word each (alpha in the last byte).
OX_ROW_KERNEL void MonoToRgba8Row(const quint8* __restrict s, quint8* __restrict d, int w, quint8 alpha)
{
    const quint32 a = quint32(alpha) << 24;
    for (int x = 0; x < w; ++x) {
        const quint32 px = quint32(s[x]) * 0x010101u | a;
        std::memcpy(d + 4 * x, &px, 4);
    }
}

// 16-bit mono to 4-component pixels, built as one 64-bit word each (alpha in the last component).
OX_ROW_KERNEL void MonoToRgba16Row(const quint16* __restrict s, quint16* __restrict d, int w, quint16 alpha)
{
    const quint64 a = quint64(alpha) << 48;
    for (int x = 0; x < w; ++x) {
        const quint64 px = quint64(s[x]) * 0x0000000100010001ull | a;
        std::memcpy(d + 4 * x, &px, 8);
    }
}

// Four components per pixel to three, dropping the fourth; Swap exchanges the first and third.
template <typename U, bool Swap>
OX_ROW_KERNEL void RgbaToRgbRow(const U* __restrict s, U* __restrict d, int w)
{
    constexpr int a = Swap ? 2 : 0;
    constexpr int c = Swap ? 0 : 2;
    for (int x = 0; x < w; ++x) {
        d[3 * x] = s[4 * x + a];
        d[3 * x + 1] = s[4 * x + 1];
        d[3 * x + 2] = s[4 * x + c];
    }
}

// Three planes into C-channel pixels (C = 0: `channels` at run time), red and blue placed as
// BlueFirst says.
template <typename U, int C, bool BlueFirst>
OX_ROW_KERNEL void PlanesToPixelsRow(const U* __restrict r, const U* __restrict g, const U* __restrict b,
                                     U* __restrict d, int channels, int w)
{
    const int n = C ? C : channels;
    for (int x = 0; x < w; ++x) {
        d[n * x + kRed<BlueFirst>] = r[x];
        d[n * x + 1] = g[x];
        d[n * x + kBlue<BlueFirst>] = b[x];
    }
}

// The same with an alpha component at 3, built as one 32-bit word per pixel.
template <bool BlueFirst>
OX_ROW_KERNEL void PlanesToRgba8Row(const quint8* __restrict r, const quint8* __restrict g,
                                    const quint8* __restrict b, quint8* __restrict d, int w, quint8 alpha)
{
    const quint32 a = quint32(alpha) << 24;
    for (int x = 0; x < w; ++x) {
        const quint32 px = quint32(r[x]) << (8 * kRed<BlueFirst>) | quint32(g[x]) << 8 |
                           quint32(b[x]) << (8 * kBlue<BlueFirst>) | a;
        std::memcpy(d + 4 * x, &px, 4);
    }
}

// Three-channel pixels into three planes.
template <typename U, bool BlueFirst>
OX_ROW_KERNEL void PixelsToPlanesRow(const U* __restrict s, U* __restrict r, U* __restrict g, U* __restrict b,
                                     int w)
{
    for (int x = 0; x < w; ++x) {
        r[x] = s[3 * x + kRed<BlueFirst>];
        g[x] = s[3 * x + 1];
        b[x] = s[3 * x + kBlue<BlueFirst>];
    }
}

// Four-component pixels into four planes, component c into plane c.
template <typename U>
OX_ROW_KERNEL void PixelsToFourPlanesRow(const U* __restrict s, U* __restrict p0, U* __restrict p1,
                                         U* __restrict p2, U* __restrict p3, int w)
{
    for (int x = 0; x < w; ++x) {
        p0[x] = s[4 * x];
        p1[x] = s[4 * x + 1];
        p2[x] = s[4 * x + 2];
        p3[x] = s[4 * x + 3];
    }
}

// One channel of pixels `step` components apart into a plane row.
template <typename U>
OX_ROW_KERNEL void StridedCopyRow(const U* __restrict s, int step, U* __restrict d, int w)
{
    for (int x = 0; x < w; ++x)
        d[x] = s[std::ptrdiff_t(step) * x];
}

// One output per pixel from its red, green and blue: d[x] = f(r, g, b). Step is the number of
// components between pixels (1 for planes); R, G and B are the offsets within the pixel.
template <typename T, int Step, int R, int G, int B, typename F>
OX_ROW_KERNEL void ColourToOneRow(const T* __restrict r, const T* __restrict g, const T* __restrict b,
                                  T* __restrict d, int w, F f)
{
    for (int x = 0; x < w; ++x)
        d[x] = f(r[Step * x + R], g[Step * x + G], b[Step * x + B]);
}

// ---- Arithmetic -------------------------------------------------------------------------------

// Integer sums of three components: wide enough never to overflow.
template <typename T>
using SumType = std::conditional_t<
    std::is_floating_point_v<T>, double,
    std::conditional_t<
        sizeof(T) == 1, std::conditional_t<std::is_signed_v<T>, qint16, quint16>,
        std::conditional_t<sizeof(T) == 2, qint32, std::conditional_t<sizeof(T) == 4, qint64, __int128>>>>;

// The plain average (R + G + B) / 3, truncated toward zero for integers.
template <typename T>
struct Average3
{
    T operator()(T r, T g, T b) const
    {
        using S = SumType<T>;
        return T(S(S(r) + S(g) + S(b)) / S(3));
    }
};

// A product truncated toward zero to a 64-bit integer, saturating at ±3e18, below a third of the
// range, so that the sum of three never overflows; NaN gives 0.
inline qint64 TruncToInt64(double p)
{
    constexpr double lim = 3e18;
    if (!(p == p))
        return 0;
    return qint64(p >= lim ? lim : (p <= -lim ? -lim : p));
}

// The same in 128 bits, saturating at ±5.6e37 (below 2^127 / 3).
inline __int128 TruncToInt128(double p)
{
    constexpr double lim = 5.6e37;
    if (!(p == p))
        return 0;
    return __int128(p >= lim ? lim : (p <= -lim ? -lim : p));
}

// The weighted form for components read directly (wide integers and floating point).
template <typename T>
struct Weighted3
{
    double wr, wg, wb;
    T operator()(T r, T g, T b) const
    {
        if constexpr (std::is_floating_point_v<T>) {
            return T((wr * double(r) + wg * double(g) + wb * double(b)) / 3);
        } else if constexpr (sizeof(T) == 8) {
            const __int128 s =
                TruncToInt128(double(r) * wr) + TruncToInt128(double(g) * wg) + TruncToInt128(double(b) * wb);
            return T(s / 3);
        } else {
            const qint64 s =
                TruncToInt64(double(r) * wr) + TruncToInt64(double(g) * wg) + TruncToInt64(double(b) * wb);
            return T(s / 3);
        }
    }
};

// The weighted form for 8- and 16-bit components and large weights: the truncated products come
// from per-call tables (one per colour, indexed by the component's bit pattern), summed in A.
template <typename T, typename A>
struct WeightedTable3
{
    const A* tr;
    const A* tg;
    const A* tb;
    using U = std::make_unsigned_t<T>;
    T operator()(T r, T g, T b) const { return T((tr[U(r)] + tg[U(g)] + tb[U(b)]) / A(3)); }
};

// 0.2126 R + 0.7152 G + 0.0722 B in double precision, summed green, red, blue, truncated.
template <typename T>
struct Luma
{
    T operator()(T r, T g, T b) const
    {
        return T(0.7152 * double(g) + 0.2126 * double(r) + 0.0722 * double(b));
    }
};

// Luminance of 8- and 16-bit components without a double per pixel. The exact value is
// S / 10000 with the integer S = 7152 G + 2126 R + 722 B (below 2^32). When S is not a multiple of
// 10000 the exact value lies at least 10^-4 from every integer, far beyond the rounding error of
// the double-precision sum, so its truncation is S / 10000 in integers. Only when S is a multiple
// can that rounding decide (255, 255, 255 gives 254); blocks with such a pixel are redone in
// double precision.
// One pixel's luminance in double precision, kept out of line so that the loop over the few marked
// pixels stays a scalar loop.
template <typename T>
__attribute__((noinline)) T LumaOne(T r, T g, T b)
{
    return Luma<T>{}(r, g, b);
}

#if defined(__x86_64__) && defined(__GNUC__)
#define OX_HAVE_LUMA_BYTES 1
// The 8-bit luminance sum of three-byte pixels (red at byte R, green at 1, blue at 2 − R) with
// AVX2, eight pixels per step: each 128-bit half takes four pixels from a 16-byte load, byte
// shuffles spread green and red into 16-bit pairs and blue into its own, and pmaddwd forms
// S = 7152 G + 2126 R + 722 B in 32 bits. The quotient and the marks follow LumaRow. Loads reach
// 16 bytes past a half's first pixel, so the loop stops while at least ten pixels remain; returns
// the number of pixels done, setting `any` when one was marked.
template <int R>
__attribute__((target("avx2"))) int LumaBytes3(const quint8* s, quint8* d, quint8* redo, int n, quint32& any)
{
    constexpr char g = 1, r = char(R), b = char(2 - R);
    const __m256i pairs = _mm256_broadcastsi128_si256(
        _mm_setr_epi8(g, -1, r, -1, g + 3, -1, r + 3, -1, g + 6, -1, r + 6, -1, g + 9, -1, r + 9, -1));
    const __m256i blues = _mm256_broadcastsi128_si256(
        _mm_setr_epi8(b, -1, -1, -1, b + 3, -1, -1, -1, b + 6, -1, -1, -1, b + 9, -1, -1, -1));
    const __m256i greenRed = _mm256_set1_epi32(2126 << 16 | 7152);
    const __m256i blue = _mm256_set1_epi32(722);
    const __m256 scale = _mm256_set1_ps(1e-4f), low = _mm256_set1_ps(5e-5f),
                 high = _mm256_set1_ps(1.0f - 5e-5f);
    int i = 0;
    for (; i + 10 <= n; i += 8) {
        const __m256i in = _mm256_loadu2_m128i(reinterpret_cast<const __m128i*>(s + 3 * i + 12),
                                               reinterpret_cast<const __m128i*>(s + 3 * i));
        const __m256i sum = _mm256_add_epi32(_mm256_madd_epi16(_mm256_shuffle_epi8(in, pairs), greenRed),
                                             _mm256_madd_epi16(_mm256_shuffle_epi8(in, blues), blue));
        const __m256 x = _mm256_mul_ps(_mm256_cvtepi32_ps(sum), scale);
        const __m256i q = _mm256_cvttps_epi32(x);
        const __m256 frac = _mm256_sub_ps(x, _mm256_cvtepi32_ps(q));
        const int marks = _mm256_movemask_ps(
            _mm256_or_ps(_mm256_cmp_ps(frac, low, _CMP_LT_OQ), _mm256_cmp_ps(frac, high, _CMP_GT_OQ)));
        const __m256i words = _mm256_permute4x64_epi64(_mm256_packus_epi32(q, q), 0x88);
        const __m128i bytes = _mm_packus_epi16(_mm256_castsi256_si128(words), _mm256_castsi256_si128(words));
        _mm_storel_epi64(reinterpret_cast<__m128i*>(d + i), bytes);
        const quint64 spread =
            quint64(marks) * 0x0002040810204081ull & 0x0101010101010101ull; // bit k to byte k
        std::memcpy(redo + i, &spread, 8);
        any |= quint32(marks);
    }
    return i;
}
#endif

template <typename T, int Step, int R, int G, int B>
OX_ROW_KERNEL void LumaRow(const T* __restrict r, const T* __restrict g, const T* __restrict b,
                           T* __restrict d, int w)
{
    // Pixels whose sum is a multiple are marked in `redo` and computed again in double precision.
    constexpr int kChunk = 2048;
    quint8 redo[kChunk];
    for (int x0 = 0; x0 < w; x0 += kChunk) {
        const int n = std::min(kChunk, w - x0);
        const T* rc = r + std::ptrdiff_t(Step) * x0;
        const T* gc = g + std::ptrdiff_t(Step) * x0;
        const T* bc = b + std::ptrdiff_t(Step) * x0;
        T* dc = d + x0;
        quint32 any = 0;
        if constexpr (sizeof(T) == 1) {
            // 8 bits: S is below 2^22 and exact in single precision, as are the products. S × 10^-4
            // in floats is within 3.1e-5 of S / 10000, whose fractional part is 0 or lies in
            // [10^-4, 1 − 10^-4]: truncating the float is exact unless S is a multiple, and exactly
            // the multiples land within 5e-5 of an integer.
            int i = 0;
#if OX_HAVE_LUMA_BYTES
            if constexpr (Step == 3 && G == 1 && R + B == 2)
                if (__builtin_cpu_supports("avx2"))
                    i = LumaBytes3<R>(rc, dc, redo, n, any);
#endif
            for (; i < n; ++i) {
                const float sum = 7152.0f * float(gc[Step * i + G]) + 2126.0f * float(rc[Step * i + R]) +
                                  722.0f * float(bc[Step * i + B]);
                const float x = sum * 1e-4f;
                const qint32 q = qint32(x);
                const float frac = x - float(q);
                dc[i] = T(q);
                redo[i] = frac < 5e-5f || frac > 1.0f - 5e-5f ? 1 : 0;
                any |= redo[i];
            }
        } else {
            for (int i = 0; i < n; ++i) {
                const quint32 sum =
                    7152u * gc[Step * i + G] + 2126u * rc[Step * i + R] + 722u * bc[Step * i + B];
                const quint32 q = sum / 10000u;
                dc[i] = T(q);
                redo[i] = sum == q * 10000u ? 1 : 0;
                any |= redo[i];
            }
        }
        for (int i = 0; any && i < n; ++i)
            if (redo[i])
                dc[i] = LumaOne<T>(rc[Step * i + R], gc[Step * i + G], bc[Step * i + B]);
    }
}

// One colour row to one value per pixel: the generic loop, or a dedicated kernel.
template <typename T, int Step, int R, int G, int B, typename F>
void ColourRow(const T* r, const T* g, const T* b, T* d, int w, F f)
{
    ColourToOneRow<T, Step, R, G, B>(r, g, b, d, w, f);
}

template <typename T, int Step, int R, int G, int B>
void ColourRow(const T* r, const T* g, const T* b, T* d, int w, Luma<T>)
{
    if constexpr (sizeof(T) <= 2 && std::is_unsigned_v<T>)
        LumaRow<T, Step, R, G, B>(r, g, b, d, w);
    else
        ColourToOneRow<T, Step, R, G, B>(r, g, b, d, w, Luma<T>{});
}

// ---- Workers ----------------------------------------------------------------------------------

// Runs f on every pixel of a 3- or 4-channel pixel-packed or 3-channel planar src into the single
// channel of dst (same size).
template <typename T, typename F>
void ColourToOne(const SxImageBuf& src, SxImageBuf& dst, F f)
{
    if (src.packing == ePlanar) {
        ParallelFor(dst.height, [&](int y) {
            ColourRow<T, 1, 0, 0, 0>(RowPtr<T>(src, y, 0), RowPtr<T>(src, y, 1), RowPtr<T>(src, y, 2),
                                     RowPtr<T>(dst, y), dst.width, f);
        });
        return;
    }
    DispatchBool(RedAt2(src), [&](auto blueFirst) {
        constexpr bool bf = decltype(blueFirst)::value;
        const auto run = [&](auto channels) {
            constexpr int C = decltype(channels)::value;
            ParallelFor(dst.height, [&](int y) {
                const T* s = RowPtr<T>(src, y);
                ColourRow<T, C, kRed<bf>, 1, kBlue<bf>>(s, s, s, RowPtr<T>(dst, y), dst.width, f);
            });
        };
        if (src.channels == 3)
            run(Channels<3>{});
        else
            run(Channels<4>{});
    });
}

// Fills `table` with the truncated products of every bit pattern of T with `w`.
template <typename T, typename A>
void FillProducts(A* table, double w)
{
    using U = std::make_unsigned_t<T>;
    for (std::size_t i = 0; i <= std::numeric_limits<U>::max(); ++i)
        table[i] = A(TruncToInt64(double(T(U(i))) * w));
}

// The weighted form for 8- and 16-bit components with weights small enough that every product,
// and the sum of three, fits 32 bits: the products are truncated straight to 32-bit integers.
template <typename T>
struct WeightedSmall3
{
    double wr, wg, wb;
    T operator()(T r, T g, T b) const
    {
        return T((qint32(double(r) * wr) + qint32(double(g) * wg) + qint32(double(b) * wb)) / 3);
    }
};

// trunc(v × w) for unsigned 8- and 16-bit v in 32-bit integer arithmetic: with |w| ≈ W / 2^(16 + shift)
// and W = hi × 2^16 + lo below 2^32, floor(v × W / 2^(16 + shift)) is
// (v × hi + (v × lo >> 16)) >> shift without a 64-bit product, then the sign of w is applied. W is
// |w| rounded up, so products that are whole numbers stay whole; whether the result equals the
// double-precision product for every v of the type is checked before use (FixedProduct::exact).
struct FixedProduct
{
    quint32 hi = 0;
    quint32 lo = 0;
    int shift = 0;
    qint32 sign = 0; // 0 or −1

    qint32 operator()(quint32 v) const
    {
        const quint32 p = (v * hi + (v * lo >> 16)) >> shift;
        return (qint32(p) ^ sign) - sign;
    }

    // Parameters for w, |w| below 2^16; `exact` tells whether they give trunc(v × w) for every v
    // up to `largest`.
    static FixedProduct of(double w, quint32 largest, bool& exact)
    {
        FixedProduct f;
        const double a = std::fabs(w);
        int k = 32;
        while (k > 16 && std::ceil(std::ldexp(a, k)) >= 4294967296.0)
            --k;
        const auto fixed = quint64(std::ceil(std::ldexp(a, k)));
        f.hi = quint32(fixed >> 16);
        f.lo = quint32(fixed & 0xffffu);
        f.shift = k - 16;
        f.sign = w < 0 ? -1 : 0;
        static thread_local RecentChecks<std::pair<double, quint32>> recent; // w is not NaN here
        exact = fixed < 4294967296.0 && recent.answer({w, largest}, [&] { return f.matches(w, largest); });
        return f;
    }

    OX_ROW_KERNEL bool matches(double w, quint32 largest) const
    {
        unsigned differ = 0;
        for (quint32 v = 0; v <= largest; ++v)
            differ |= (*this)(v) != qint32(double(v) * w) ? 1u : 0u;
        return differ == 0;
    }
};

// The weighted form with the products in integers (unsigned 8- and 16-bit components).
template <typename T>
struct WeightedFixed3
{
    FixedProduct r, g, b;
    T operator()(T vr, T vg, T vb) const { return T((r(vr) + g(vg) + b(vb)) / 3); }
};

// For bytes and non-negative weights below 256: trunc(v × w) = v × a + (v × f >> 16) with
// a = floor(w) and f the fraction in 16 bits, rounded up; with the weights summing to less than
// 257 the three products and their sum fit 16 bits, so the loop runs on 16-bit lanes.
struct ByteProduct
{
    quint16 a = 0;
    quint16 f = 0;

    quint16 operator()(quint16 v) const { return quint16(v * a + ((quint32(v) * f) >> 16)); }

    // Parameters for w; `exact` tells whether they give trunc(v × w) for every byte v.
    OX_ROW_KERNEL static ByteProduct of(double w, bool& exact)
    {
        ByteProduct p;
        exact = false;
        if (!(w >= 0 && w < 256))
            return p;
        const double whole = std::floor(w);
        const double fraction = std::ceil((w - whole) * 65536.0);
        if (fraction >= 65536.0)
            return p;
        p.a = quint16(whole);
        p.f = quint16(fraction);
        unsigned differ = 0;
        for (quint32 v = 0; v < 256; ++v)
            differ |= qint32(p(quint16(v))) != qint32(double(v) * w) ? 1u : 0u;
        exact = differ == 0;
        return p;
    }
};

struct WeightedBytes3
{
    ByteProduct r, g, b;
    quint8 operator()(quint8 vr, quint8 vg, quint8 vb) const
    {
        return quint8(quint16(r(vr) + g(vg) + b(vb)) / 3);
    }
};

template <typename T>
unsigned WeightedToMono(const SxImageBuf& src, SxImageBuf& dst, double wr, double wg, double wb)
{
    if constexpr (sizeof(T) <= 2) {
        constexpr double largest = 65536.0;
        constexpr double bound = double(1 << 29);
        const bool small = std::fabs(wr) * largest < bound && std::fabs(wg) * largest < bound &&
                           std::fabs(wb) * largest < bound; // false for NaN
        if constexpr (std::is_same_v<T, quint8>) {
            bool exactR = false, exactG = false, exactB = false;
            const WeightedBytes3 bytes{ByteProduct::of(wr, exactR), ByteProduct::of(wg, exactG),
                                       ByteProduct::of(wb, exactB)};
            if (exactR && exactG && exactB && wr + wg + wb < 257) {
                ColourToOne<T>(src, dst, bytes);
                return unsigned(eOk);
            }
        }
        if (small && std::is_unsigned_v<T>) {
            constexpr quint32 top = std::numeric_limits<std::make_unsigned_t<T>>::max();
            bool exactR = false, exactG = false, exactB = false;
            const WeightedFixed3<T> fixed{FixedProduct::of(wr, top, exactR),
                                          FixedProduct::of(wg, top, exactG),
                                          FixedProduct::of(wb, top, exactB)};
            if (exactR && exactG && exactB) {
                ColourToOne<T>(src, dst, fixed);
                return unsigned(eOk);
            }
        }
        if (small) {
            ColourToOne<T>(src, dst, WeightedSmall3<T>{wr, wg, wb});
            return unsigned(eOk);
        }
        // Larger weights: the saturated 64-bit products come from per-call tables, one per colour.
        constexpr std::size_t n = std::size_t(std::numeric_limits<std::make_unsigned_t<T>>::max()) + 1;
        std::unique_ptr<qint64[]> tables(new (std::nothrow) qint64[3 * n]);
        OX_CHECK(tables, unsigned(eErrOutOfMemory));
        FillProducts<T>(tables.get(), wr);
        FillProducts<T>(tables.get() + n, wg);
        FillProducts<T>(tables.get() + 2 * n, wb);
        ColourToOne<T>(src, dst,
                       WeightedTable3<T, qint64>{tables.get(), tables.get() + n, tables.get() + 2 * n});
        return unsigned(eOk);
    } else {
        ColourToOne<T>(src, dst, Weighted3<T>{wr, wg, wb});
        return unsigned(eOk);
    }
}

// 2 x 2 cells of a mosaic: red, two greens and blue at their positions; one output per cell.
template <typename T>
OX_ROW_KERNEL void MosaicLumaRow(const T* __restrict r, const T* __restrict g0, const T* __restrict g1,
                                 const T* __restrict b, T* __restrict d, int w)
{
    for (int x = 0; x < w; ++x) {
        const double g = (double(g0[2 * x]) + double(g1[2 * x])) / 2;
        d[x] = T(0.7152 * g + 0.2126 * double(r[2 * x]) + 0.0722 * double(b[2 * x]));
    }
}

// Cell offsets (dx, dy) of red, the top-row green, the bottom-row green and blue, per layout.
struct CellPos
{
    int dx, dy;
};
constexpr CellPos kCellColours[4][4] = {
    /* eBGGR */ {{1, 1}, {1, 0}, {0, 1}, {0, 0}},
    /* eRGGB */ {{0, 0}, {1, 0}, {0, 1}, {1, 1}},
    /* eGBRG */ {{0, 1}, {0, 0}, {1, 1}, {1, 0}},
    /* eGRBG */ {{1, 0}, {0, 0}, {1, 1}, {0, 1}},
};

template <typename T>
void MosaicLuminance(const SxImageBuf& src, SxImageBuf& dst)
{
    const CellPos* pos = kCellColours[src.bayerGrid];
    ParallelFor(dst.height, [&](int j) {
        const T* at[4];
        for (int k = 0; k < 4; ++k)
            at[k] = RowPtr<T>(src, 2 * j + pos[k].dy) + pos[k].dx;
        MosaicLumaRow<T>(at[0], at[1], at[2], at[3], RowPtr<T>(dst, j), dst.width);
    });
}

// Copies the three planes of src into logical channels 0, 1, 2 of dst.
template <typename U>
void PlanesToPixels(const SxImageBuf& src, SxImageBuf& dst)
{
    if (dst.packing == ePlanar) {
        for (int c = 0; c < 3; ++c)
            ParallelFor(dst.height, [&](int y) {
                std::memcpy(RowPtr<U>(dst, y, c), RowPtr<U>(src, y, c), std::size_t(dst.width) * sizeof(U));
            });
        return;
    }
    DispatchBool(RedAt2(dst), [&](auto blueFirst) {
        DispatchChannels(dst.channels, [&](auto channels) {
            constexpr int C = decltype(channels)::value == 1 ? 0 : decltype(channels)::value;
            ParallelFor(dst.height, [&](int y) {
                PlanesToPixelsRow<U, C, decltype(blueFirst)::value>(
                    RowPtr<U>(src, y, 0), RowPtr<U>(src, y, 1), RowPtr<U>(src, y, 2), RowPtr<U>(dst, y),
                    dst.channels, dst.width);
            });
        });
    });
}

// Copies `rect` of the three-channel src into the three planes of dst.
template <typename U>
void PixelsToPlanes(const SxImageBuf& src, const QRect& rect, SxImageBuf& dst)
{
    if (src.packing == ePlanar) {
        for (int c = 0; c < 3; ++c)
            ParallelFor(dst.height, [&](int y) {
                std::memcpy(RowPtr<U>(dst, y, c), RowPtr<U>(src, rect.y() + y, c) + rect.x(),
                            std::size_t(dst.width) * sizeof(U));
            });
        return;
    }
    DispatchBool(RedAt2(src), [&](auto blueFirst) {
        ParallelFor(dst.height, [&](int y) {
            PixelsToPlanesRow<U, decltype(blueFirst)::value>(RowPtr<U>(src, rect.y() + y) + 3 * rect.x(),
                                                             RowPtr<U>(dst, y, 0), RowPtr<U>(dst, y, 1),
                                                             RowPtr<U>(dst, y, 2), dst.width);
        });
    });
}

// Copies `rect` of the 4-channel src into the 3-channel dst, dropping alpha.
template <typename U>
void RgbaToRgb(const SxImageBuf& src, const QRect& rect, SxImageBuf& dst)
{
    DispatchBool(RedAt2(src) != RedAt2(dst), [&](auto swap) {
        ParallelFor(rect.height(), [&](int y) {
            RgbaToRgbRow<U, decltype(swap)::value>(RowPtr<U>(src, rect.y() + y) + 4 * rect.x(),
                                                   RowPtr<U>(dst, y), rect.width());
        });
    });
}

// ---- Checks -----------------------------------------------------------------------------------

inline bool Is8BitPixels(const SxImageBuf& b, int channels)
{
    return HasData(b) && b.channels == channels && b.dataType == eUInt8 && b.packing == ePixel;
}

inline bool AtLeast(const SxImageInfo& b, const QRect& r)
{
    return b.width >= r.width() && b.height >= r.height();
}

inline bool ExactlyOf(const SxImageInfo& b, const QRect& r)
{
    return b.width == r.width() && b.height == r.height();
}

// The colour layouts ConvertRGBToMono and Luminance read: 3 or 4 interleaved, or 3 planar channels.
inline bool IsColourLayout(const SxImageBuf& b)
{
    return (b.packing == ePixel && (b.channels == 3 || b.channels == 4)) ||
           (b.packing == ePlanar && b.channels == 3);
}

// Whole-image forms report the region form's destination code as the second argument's.
inline unsigned WholeImageCode(unsigned code)
{
    return code == eErrInvalidArg3 ? unsigned(eErrInvalidArg2) : code;
}

unsigned MonoToColour(const SxImageBuf& src, SxImageBuf& dst, int channels, unsigned short alpha)
{
    OX_CHECK(HasData(src) && src.channels == 1, eErrInvalidArg1);
    OX_CHECK(HasData(dst) && dst.channels == channels && dst.dataType == src.dataType && SameSize(dst, src) &&
                 dst.packing == ePixel,
             eErrInvalidArg2);
    return DispatchBySize<kInt8Types | kInt16Types>(src.dataType, [&](auto tag) {
        using U = typename decltype(tag)::type;
        ParallelFor(dst.height, [&](int y) {
            const U* s = RowPtr<U>(src, y);
            U* d = RowPtr<U>(dst, y);
            if (channels == 4) {
                if constexpr (sizeof(U) == 1)
                    MonoToRgba8Row(s, d, dst.width, U(alpha));
                else
                    MonoToRgba16Row(s, d, dst.width, U(alpha));
                return;
            }
            if (channels == 4)
                MonoToColourRow<U, 4>(s, d, dst.width, U(alpha));
            else
                MonoToColourRow<U, 3>(s, d, dst.width, U(alpha));
        });
        return unsigned(eOk);
    });
}

} // namespace

// ---- Mono and colour --------------------------------------------------------------------------

unsigned int ConvertMonoToRGB(const SxImageBuf& src, SxImageBuf& dst)
{
    return MonoToColour(src, dst, 3, 0);
}

unsigned int ConvertMonoToRGBA(const SxImageBuf& src, SxImageBuf& dst, unsigned short alpha)
{
    return MonoToColour(src, dst, 4, alpha);
}

unsigned int ConvertRGB8ToRGBA8(const SxImageBuf& src, const QRect& rect, SxImageBuf& dst,
                                unsigned char alpha)
{
    OX_CHECK(Is8BitPixels(src, 3), eErrInvalidArg1);
    OX_CHECK(RectInside(rect, src), eErrInvalidArg2);
    OX_CHECK(Is8BitPixels(dst, 4) && AtLeast(dst, rect), eErrInvalidArg3);
    ParallelFor(rect.height(), [&](int y) {
        ThreeToFourBytesRow<false>(RowPtr(src, rect.y() + y) + 3 * rect.x(), RowPtr(dst, y), rect.width(),
                                   alpha);
    });
    return eOk;
}

unsigned int ConvertRGB8ToRGBA8(const SxImageBuf& src, SxImageBuf& dst, unsigned char alpha)
{
    return WholeImageCode(ConvertRGB8ToRGBA8(src, Bounds(src), dst, alpha));
}

unsigned int ConvertRGBA8ToRGB8(const SxImageBuf& src, const QRect& rect, SxImageBuf& dst)
{
    OX_CHECK(Is8BitPixels(src, 4), eErrInvalidArg1);
    OX_CHECK(RectInside(rect, src), eErrInvalidArg2);
    OX_CHECK(Is8BitPixels(dst, 3) && AtLeast(dst, rect), eErrInvalidArg3);
    RgbaToRgb<quint8>(src, rect, dst);
    return eOk;
}

unsigned int ConvertRGBA8ToRGB8(const SxImageBuf& src, SxImageBuf& dst)
{
    return WholeImageCode(ConvertRGBA8ToRGB8(src, Bounds(src), dst));
}

unsigned int ConvertRGBAToRGB(const SxImageBuf& src, SxImageBuf& dst)
{
    OX_CHECK(HasData(src) && src.channels == 4 && src.packing == ePixel, eErrInvalidArg1);
    OX_CHECK(HasData(dst) && dst.channels == 3 && dst.packing == ePixel && SameSize(dst, src) &&
                 dst.dataType == src.dataType,
             eErrInvalidArg2);
    return DispatchBySize<kAllRealTypes>(src.dataType, [&](auto tag) {
        RgbaToRgb<typename decltype(tag)::type>(src, Bounds(src), dst);
        return unsigned(eOk);
    });
}

unsigned int ConvertRGBAToRGB(const SxImageBuf& src, const QRect& rect, SxImageBuf& dst)
{
    OX_CHECK(HasData(src) && src.channels == 4 && src.packing == ePixel, eErrInvalidArg1);
    OX_CHECK(RectInside(rect, src), eErrInvalidArg2);
    OX_CHECK(HasData(dst) && dst.channels == 3 && dst.packing == ePixel && AtLeast(dst, rect) &&
                 dst.dataType == src.dataType,
             eErrInvalidArg3);
    return DispatchBySize<kAllRealTypes>(src.dataType, [&](auto tag) {
        RgbaToRgb<typename decltype(tag)::type>(src, rect, dst);
        return unsigned(eOk);
    });
}

// ---- Colour to mono ---------------------------------------------------------------------------

unsigned int ConvertRGBToMono(const SxImageBuf& src, SxImageBuf& dst)
{
    OX_CHECK(HasData(src) && IsColourLayout(src), eErrInvalidArg1);
    OX_CHECK(HasData(dst) && dst.channels == 1 && SameSize(dst, src) && dst.dataType == src.dataType,
             eErrInvalidArg2);
    return DispatchType<kAllRealTypes>(src.dataType, [&](auto tag) {
        using T = typename decltype(tag)::type;
        ColourToOne<T>(src, dst, Average3<T>{});
        return unsigned(eOk);
    });
}

unsigned int ConvertRGBToMono(const SxImageBuf& src, SxImageBuf& dst, double wR, double wG, double wB)
{
    OX_CHECK(HasData(src) && IsColourLayout(src), eErrInvalidArg1);
    OX_CHECK(HasData(dst) && dst.channels == 1 && SameSize(dst, src) && dst.dataType == src.dataType,
             eErrInvalidArg2);
    return DispatchType<kAllRealTypes>(src.dataType, [&](auto tag) {
        return WeightedToMono<typename decltype(tag)::type>(src, dst, wR, wG, wB);
    });
}

unsigned int Luminance(const SxImageBuf& src, SxImageBuf& dst)
{
    OX_CHECK(HasData(src) && IsTypeIn(src.dataType, kUInt8And16), eErrInvalidArg1);
    OX_CHECK(HasData(dst) && dst.channels == 1, eErrInvalidArg1);
    OX_CHECK(dst.dataType == src.dataType && dst.colorBitDepth == src.colorBitDepth, eErrInvalidArg2);
    const bool mono = src.channels == 1;
    const bool mosaic = mono && IsBayerLayout(src.bayerGrid);
    if (mosaic)
        OX_CHECK(dst.width == src.width / 2 && dst.height == src.height / 2, eErrInvalidArg2);
    else if (IsColourLayout(src))
        OX_CHECK(SameSize(dst, src), eErrInvalidArg2);
    else if (mono)
        return Succeeded(CopyBuffer(src, dst)) ? unsigned(eOk) : unsigned(eErrFailed);
    else
        return eErrUnsupported;

    return DispatchType<kUInt8And16>(src.dataType, [&](auto tag) {
        using T = typename decltype(tag)::type;
        if (mosaic)
            MosaicLuminance<T>(src, dst);
        else
            ColourToOne<T>(src, dst, Luma<T>{});
        return unsigned(eOk);
    });
}

// ---- Planar and interleaved -------------------------------------------------------------------

unsigned int ConvertPlanarToRGB(const SxImageBuf& src, SxImageBuf& dst)
{
    OX_CHECK(HasData(src) && src.channels == 3 && src.packing == ePlanar, eErrInvalidArg1);
    OX_CHECK(HasData(dst) && dst.channels >= 3, eErrInvalidArg2);
    const quint64 size = GetImageTypeSize(dst.dataType);
    OX_CHECK((size == 1 || size == 2) && SameSize(dst, src) && dst.dataType == src.dataType, eErrInvalidArg2);
    OX_CHECK(IsPixelOrPlanar(dst), eErrUnsupported);
    return DispatchBySize<kInt8Types | kInt16Types>(src.dataType, [&](auto tag) {
        PlanesToPixels<typename decltype(tag)::type>(src, dst);
        return unsigned(eOk);
    });
}

unsigned int ConvertRGB8PlanarToRGBA8(const SxImageBuf& src, SxImageBuf& dst, unsigned char alpha)
{
    OX_CHECK(HasData(src) && src.channels == 3 && src.dataType == eUInt8 && src.packing == ePlanar,
             eErrInvalidArg1);
    OX_CHECK(Is8BitPixels(dst, 4) && SameSize(dst, src), eErrInvalidArg2);
    // The planes and the alpha value in one pass.
    DispatchBool(RedAt2(dst), [&](auto blueFirst) {
        ParallelFor(dst.height, [&](int y) {
            PlanesToRgba8Row<decltype(blueFirst)::value>(RowPtr(src, y, 0), RowPtr(src, y, 1),
                                                         RowPtr(src, y, 2), RowPtr(dst, y), dst.width, alpha);
        });
    });
    return eOk;
}

unsigned int ConvertRGBToPlanar(const SxImageBuf& src, const QRect& rect, SxImageBuf& dst)
{
    OX_CHECK(HasData(src) && src.channels == 3 && IsTypeIn(src.dataType, kUInt8And16), eErrInvalidArg1);
    OX_CHECK(RectInside(rect, src), eErrInvalidArg2);
    OX_CHECK(HasData(dst) && dst.channels == 3 && dst.packing == ePlanar && ExactlyOf(dst, rect) &&
                 dst.dataType == src.dataType,
             eErrInvalidArg3);
    OX_CHECK(IsPixelOrPlanar(src), eErrUnsupported);
    return DispatchBySize<kUInt8And16>(src.dataType, [&](auto tag) {
        PixelsToPlanes<typename decltype(tag)::type>(src, rect, dst);
        return unsigned(eOk);
    });
}

unsigned int ConvertRGBToPlanar(const SxImageBuf& src, SxImageBuf& dst)
{
    return WholeImageCode(ConvertRGBToPlanar(src, Bounds(src), dst));
}

unsigned int ConvertPackPixelToPlanar(const SxImageBuf& src, SxImageBuf& dst)
{
    OX_CHECK(HasData(src) && (src.channels < 2 || src.packing == ePixel), eErrInvalidArg1);
    OX_CHECK(HasData(dst) && dst.packing == ePlanar && dst.dataType == src.dataType, eErrInvalidArg2);
    const auto called = [](unsigned code) { return Succeeded(code) ? unsigned(eOk) : unsigned(eErrFailed); };

    if (IsBayerLayout(src.bayerGrid)) {
        OX_CHECK(src.channels == 1 && dst.channels == 4 && dst.width == src.width / 2 &&
                     dst.height == src.height / 2,
                 eErrInvalidArg2);
        return called(ConvertRawToPlanarRaw(src, Bounds(src), src.bayerGrid, dst));
    }
    if (src.bayerGrid == eMultispectral) {
        OX_CHECK(src.mosaicWidth > 0 && src.mosaicHeight > 0, eErrInvalidArg1);
        OX_CHECK(qint64(dst.channels) == qint64(src.mosaicWidth) * src.mosaicHeight &&
                     dst.width == src.width / src.mosaicWidth && dst.height == src.height / src.mosaicHeight,
                 eErrInvalidArg2);
        return eErrUnsupported; // splitting multispectral cells into planes is not implemented
    }
    OX_CHECK(src.bayerGrid == eNoBayer, eErrUnsupported);
    OX_CHECK(dst.channels == src.channels && SameSize(dst, src), eErrInvalidArg2);
    if (src.channels == 1)
        return called(CopyBuffer(src, dst));
    if (src.channels == 3)
        return called(ConvertRGBToPlanar(src, dst));
    return DispatchBySize<kAllRealTypes>(src.dataType, [&](auto tag) {
        using U = typename decltype(tag)::type;
        ParallelFor(dst.height, [&](int y) {
            if (dst.channels == 4) {
                PixelsToFourPlanesRow<U>(RowPtr<U>(src, y), RowPtr<U>(dst, y, 0), RowPtr<U>(dst, y, 1),
                                         RowPtr<U>(dst, y, 2), RowPtr<U>(dst, y, 3), dst.width);
                return;
            }
            for (int c = 0; c < dst.channels; ++c)
                StridedCopyRow<U>(RowPtr<U>(src, y) + c, src.channels, RowPtr<U>(dst, y, c), dst.width);
        });
        return unsigned(eOk);
    });
}

unsigned int SwapRedAndBlue(SxImageBuf& buf)
{
    OX_CHECK(HasData(buf) && (buf.channels == 3 || buf.channels == 4) && buf.packing == ePixel,
             eErrInvalidArg1);
    return Succeeded(SwapChannels(buf, 0, 2)) ? unsigned(eOk) : unsigned(eErrFailed);
}

} // namespace ox
