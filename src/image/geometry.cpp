// Geometry operations: vertical and horizontal flips, transpose and shrinking by dropping lines.

#include <ox/geometry.h>

#include "image/pixelops.h"

#include <omp.h>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif
#if defined(__x86_64__) && defined(__GNUC__)
#include <tmmintrin.h>
#endif

#include <algorithm>
#include <cstdlib>
#include <memory>
#include <utility>
#include <vector>

namespace ox {

using namespace detail;

namespace {

// ---- Vertical flip ----------------------------------------------------------------------------

struct FreeDeleter
{
    void operator()(void* p) const { std::free(p); }
};
using ScratchMemory = std::unique_ptr<quint8, FreeDeleter>;

// Scratch rows from the C runtime (not the memory hooks): `count` rows of `rowBytes` bytes.
ScratchMemory AllocScratchRows(int count, int rowBytes)
{
    return ScratchMemory(static_cast<quint8*>(std::malloc(std::size_t(count) * std::size_t(rowBytes))));
}

// Exchanges rows i and rows - 1 - i through the scratch row `tmp`.
inline void SwapRowPair(quint8* base, int rows, std::ptrdiff_t rowBytes, int i, quint8* tmp)
{
    quint8* top = base + i * rowBytes;
    quint8* bottom = base + (rows - 1 - i) * rowBytes;
    std::memcpy(tmp, top, rowBytes);
    std::memcpy(top, bottom, rowBytes);
    std::memcpy(bottom, tmp, rowBytes);
}

// ---- Horizontal mirror ------------------------------------------------------------------------

// Reverses the order of the C-component pixels of one row (counts passed by value, so that the
// compiler knows stores cannot change them).
template <typename U, int C>
OX_ROW_KERNEL void MirrorRow(U* __restrict row, int w)
{
    U* __restrict right = row + std::ptrdiff_t(w - 1) * C;
    for (int i = 0; i < w / 2; ++i)
        for (int c = 0; c < C; ++c)
            std::swap(row[C * i + c], right[c - C * i]);
}

#if defined(__x86_64__) && defined(__GNUC__)
#define OX_HAVE_SHUFFLED_MIRROR 1
// Pixels of 3, 6, 12 or 24 bytes do not vectorise as plain loops. With byte shuffles (SSSE3) a
// block of 48 bytes (P = 48 / N pixels) is reversed in registers: output byte k takes input byte
// N * (P - 1 - k / N) + k % N, gathered from the three input vectors by one mask each.
struct MirrorMasks
{
    alignas(16) qint8 m[3][3][16]; // [output vector][input vector][lane]; -1 takes nothing
};

MirrorMasks MakeMirrorMasks(int N)
{
    MirrorMasks masks;
    std::memset(masks.m, -1, sizeof(masks.m));
    const int P = 48 / N;
    for (int k = 0; k < 48; ++k) {
        const int from = N * (P - 1 - k / N) + k % N;
        masks.m[k / 16][from / 16][k % 16] = qint8(from % 16);
    }
    return masks;
}

__attribute__((target("ssse3"))) inline void ReverseBlock48(const quint8* from, quint8* to,
                                                            const MirrorMasks& masks)
{
    __m128i in[3], out[3];
    for (int v = 0; v < 3; ++v)
        in[v] = _mm_loadu_si128(reinterpret_cast<const __m128i*>(from + 16 * v));
    for (int j = 0; j < 3; ++j) {
        out[j] = _mm_setzero_si128();
        for (int v = 0; v < 3; ++v)
            out[j] = _mm_or_si128(
                out[j],
                _mm_shuffle_epi8(in[v], _mm_load_si128(reinterpret_cast<const __m128i*>(masks.m[j][v]))));
    }
    for (int j = 0; j < 3; ++j)
        _mm_storeu_si128(reinterpret_cast<__m128i*>(to + 16 * j), out[j]);
}

// Mirrors a row of w pixels of N bytes: blocks from both ends swap places reversed; the middle,
// shorter than two blocks, pixel by pixel.
__attribute__((target("ssse3"))) void MirrorRowShuffled(quint8* row, int w, int N, const MirrorMasks& masks)
{
    const int P = 48 / N;
    int left = 0, right = w; // pixels [left, right) are still to be mirrored
    alignas(16) quint8 a[48], b[48];
    for (; right - left >= 2 * P; left += P, right -= P) {
        quint8* l = row + std::ptrdiff_t(left) * N;
        quint8* r = row + std::ptrdiff_t(right - P) * N;
        ReverseBlock48(l, a, masks);
        ReverseBlock48(r, b, masks);
        std::memcpy(l, b, 48);
        std::memcpy(r, a, 48);
    }
    quint8 t[48];
    for (int i = left, j = right - 1; i < j; ++i, --j) {
        std::memcpy(t, row + std::ptrdiff_t(i) * N, N);
        std::memcpy(row + std::ptrdiff_t(i) * N, row + std::ptrdiff_t(j) * N, N);
        std::memcpy(row + std::ptrdiff_t(j) * N, t, N);
    }
}
#endif

template <typename U, int C>
void MirrorRows(SxImageBuf& buf, int planes)
{
#if OX_HAVE_SHUFFLED_MIRROR
    constexpr int N = int(sizeof(U)) * C;
    if constexpr (N % 3 == 0 && 48 % N == 0) {
        if (__builtin_cpu_supports("ssse3")) {
            const MirrorMasks masks = MakeMirrorMasks(N);
            for (int p = 0; p < planes; ++p)
                ParallelFor(buf.height,
                            [&](int y) { MirrorRowShuffled(RowPtr(buf, y, p), buf.width, N, masks); });
            return;
        }
    }
#endif
    for (int p = 0; p < planes; ++p)
        ParallelFor(buf.height, [&](int y) { MirrorRow<U, C>(RowPtr<U>(buf, y, p), buf.width); });
}

// ---- Transpose --------------------------------------------------------------------------------
// Pixels move as units of N bytes (all components of a pixel, or one component of a plane). The
// destination is cut into bands of rows (kTileBytes of each source row) shared among the threads;
// each band walks the source in chunks of kTileRows rows, and each chunk in K x K blocks, so that
// the source lines and the destination lines of a chunk stay in the cache while they are used.

constexpr int kTileBytes = 1024;
constexpr int kTileRows = 16;
constexpr int kTileRows3 = 8; // three-byte pixels: measured best with shorter chunks

template <int N>
struct PixelBytes
{
    quint8 b[N];
};

// Scalar block: rows x cols source pixels at s into cols x rows destination pixels at d.
template <int N>
inline void TransposeBlock(const quint8* s, std::ptrdiff_t ss, quint8* d, std::ptrdiff_t ds, int rows,
                           int cols, int n)
{
    const int bytes = N ? N : n;
    for (int y = 0; y < cols; ++y) {
        quint8* __restrict to = d + y * ds;
        const quint8* __restrict from = s + std::ptrdiff_t(y) * bytes;
        for (int x = 0; x < rows; ++x)
            std::memcpy(to + std::ptrdiff_t(x) * bytes, from + x * ss, N ? N : std::size_t(n));
    }
}

#if defined(__SSE2__)
// Interleaves the W-byte units of the low (Hi false) or high halves of a and b.
template <int W, bool Hi>
inline __m128i Unpack(__m128i a, __m128i b)
{
    if constexpr (W == 1)
        return Hi ? _mm_unpackhi_epi8(a, b) : _mm_unpacklo_epi8(a, b);
    else if constexpr (W == 2)
        return Hi ? _mm_unpackhi_epi16(a, b) : _mm_unpacklo_epi16(a, b);
    else if constexpr (W == 4)
        return Hi ? _mm_unpackhi_epi32(a, b) : _mm_unpacklo_epi32(a, b);
    else
        return Hi ? _mm_unpackhi_epi64(a, b) : _mm_unpacklo_epi64(a, b);
}

// A K x K block of W-byte units, K = 16 / W, in registers: each round interleaves row i with row
// i + K / 2, which rotates the bits of (row, column) by one; log2(K) rounds swap row and column.
template <int W>
inline void TransposeKernel(const quint8* s, std::ptrdiff_t ss, quint8* d, std::ptrdiff_t ds)
{
    constexpr int K = 16 / W;
    __m128i r[K], t[K];
    for (int i = 0; i < K; ++i)
        r[i] = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + i * ss));
    for (int round = 1; round < K; round *= 2) {
        for (int i = 0; i < K / 2; ++i) {
            t[2 * i] = Unpack<W, false>(r[i], r[i + K / 2]);
            t[2 * i + 1] = Unpack<W, true>(r[i], r[i + K / 2]);
        }
        for (int i = 0; i < K; ++i)
            r[i] = t[i];
    }
    for (int i = 0; i < K; ++i)
        _mm_storeu_si128(reinterpret_cast<__m128i*>(d + i * ds), r[i]);
}
constexpr bool kHaveKernel = true;
#else
template <int W>
inline void TransposeKernel(const quint8*, std::ptrdiff_t, quint8*, std::ptrdiff_t)
{}
constexpr bool kHaveKernel = false;
#endif

// Three-byte pixels (8-bit RGB), four destination rows of `count` pixels: 4 x 4 blocks are widened
// to four bytes a pixel, transposed as 32-bit units and narrowed again. The byte shuffles use
// the compiler's vector extensions (one instruction each with SSSE3, a slower sequence without),
// and every load and store touches exactly the block's twelve bytes a row.
typedef quint8 ByteLanes __attribute__((vector_size(16)));
typedef quint32 WordLanes __attribute__((vector_size(16)));
typedef quint64 LongLanes __attribute__((vector_size(16)));

// Twelve bytes into the low lanes of a register and back, as one 8-byte and one 4-byte move each:
// a 12-byte memcpy through a stack vector would stall on store forwarding.
inline ByteLanes Load12(const quint8* p)
{
    quint64 lo;
    quint32 hi;
    std::memcpy(&lo, p, 8);
    std::memcpy(&hi, p + 8, 4);
    return reinterpret_cast<ByteLanes>(LongLanes{lo, hi});
}

inline void Store12(quint8* p, ByteLanes v)
{
    const quint64 lo = reinterpret_cast<LongLanes>(v)[0];
    const quint32 hi = reinterpret_cast<WordLanes>(v)[2];
    std::memcpy(p, &lo, 8);
    std::memcpy(p + 8, &hi, 4);
}

// `wideLoads`: each source row has at least 16 bytes from the strip's first byte, so whole
// registers can be loaded. `wideStores` (count): a destination row has at least 16 bytes from block
// x when x < wideStores; the 4 bytes beyond the block belong to the next pixels of the same row,
// which this thread writes later.
OX_ROW_KERNEL void TransposeStrip3(const quint8* __restrict s, std::ptrdiff_t ss, quint8* __restrict d,
                                   std::ptrdiff_t ds, int count, bool wideLoads, int wideStores)
{
    const ByteLanes widen = {0, 1, 2, 15, 3, 4, 5, 15, 6, 7, 8, 15, 9, 10, 11, 15};
    const ByteLanes narrow = {0, 1, 2, 4, 5, 6, 8, 9, 10, 12, 13, 14, 15, 15, 15, 15};
    int x = 0;
    for (; x + 4 <= count; x += 4) {
        WordLanes r[4];
        for (int i = 0; i < 4; ++i) {
            ByteLanes v;
            if (wideLoads)
                std::memcpy(&v, s + (x + i) * ss, 16);
            else
                v = Load12(s + (x + i) * ss);
            r[i] = reinterpret_cast<WordLanes>(__builtin_shuffle(v, widen));
        }
        const WordLanes t0 = __builtin_shuffle(r[0], r[1], WordLanes{0, 4, 1, 5});
        const WordLanes t1 = __builtin_shuffle(r[0], r[1], WordLanes{2, 6, 3, 7});
        const WordLanes t2 = __builtin_shuffle(r[2], r[3], WordLanes{0, 4, 1, 5});
        const WordLanes t3 = __builtin_shuffle(r[2], r[3], WordLanes{2, 6, 3, 7});
        const WordLanes c[4] = {__builtin_shuffle(t0, t2, WordLanes{0, 1, 4, 5}),
                                __builtin_shuffle(t0, t2, WordLanes{2, 3, 6, 7}),
                                __builtin_shuffle(t1, t3, WordLanes{0, 1, 4, 5}),
                                __builtin_shuffle(t1, t3, WordLanes{2, 3, 6, 7})};
        for (int j = 0; j < 4; ++j) {
            const ByteLanes out = __builtin_shuffle(reinterpret_cast<ByteLanes>(c[j]), narrow);
            quint8* to = d + j * ds + std::ptrdiff_t(x) * 3;
            if (x < wideStores)
                std::memcpy(to, &out, 16);
            else
                Store12(to, out);
        }
    }
    for (; x < count; ++x)
        for (int j = 0; j < 4; ++j)
            std::memcpy(d + j * ds + std::ptrdiff_t(x) * 3, s + x * ss + j * 3, 3);
}

// Transposes plane `plane` of src into dst, pixels of N bytes (N == 0: n bytes).
template <int N>
void TransposePixels(const SxImageBuf& src, SxImageBuf& dst, int plane, int n)
{
    constexpr bool simd = kHaveKernel && (N == 1 || N == 2 || N == 4 || N == 8);
    constexpr int K = simd ? 16 / N : (N == 3 ? 4 : 8);
    constexpr int band = simd ? kTileBytes / N : (N == 3 ? kTileBytes / 12 * 4 : 64);
    const quint8* s = RowPtr(src, 0, plane);
    quint8* d = RowPtr(dst, 0, plane);
    const std::ptrdiff_t ss = src.rowBytes, ds = dst.rowBytes;
    const int bytes = N ? N : n;
    const int rows = dst.height, cols = dst.width; // source columns and rows
    ParallelFor((rows + band - 1) / band, [&](int b) {
        const int y0 = b * band, y1 = std::min(rows, y0 + band);
        constexpr int chunk = N == 3 ? kTileRows3 : kTileRows;
        for (int x0 = 0; x0 < cols; x0 += chunk) {
            const int x1 = std::min(cols, x0 + chunk);
            for (int y = y0; y < y1; y += K) {
                const int yn = std::min(K, y1 - y);
                if constexpr (N == 3) {
                    if (yn == K) {
                        // Source rows hold `rows` pixels, destination rows `cols`.
                        TransposeStrip3(s + x0 * ss + std::ptrdiff_t(y) * 3, ss,
                                        d + y * ds + std::ptrdiff_t(x0) * 3, ds, x1 - x0,
                                        3 * (rows - y) >= 16,
                                        (3 * cols >= 16 ? (3 * cols - 16) / 3 + 1 : 0) - x0);
                        continue;
                    }
                }
                for (int x = x0; x < x1; x += K) {
                    const int xn = std::min(K, x1 - x);
                    const quint8* from = s + x * ss + std::ptrdiff_t(y) * bytes;
                    quint8* to = d + y * ds + std::ptrdiff_t(x) * bytes;
                    if constexpr (simd) {
                        if (xn == K && yn == K) {
                            TransposeKernel<N>(from, ss, to, ds);
                            continue;
                        }
                    }
                    TransposeBlock<N>(from, ss, to, ds, xn, yn, n);
                }
            }
        }
    });
}

// Picks the unit: whole pixels of the common sizes at compile time, others at run time.
void TransposePlane(const SxImageBuf& src, SxImageBuf& dst, int plane, int bytes)
{
    switch (bytes) {
    case 1: return TransposePixels<1>(src, dst, plane, bytes);
    case 2: return TransposePixels<2>(src, dst, plane, bytes);
    case 3: return TransposePixels<3>(src, dst, plane, bytes);
    case 4: return TransposePixels<4>(src, dst, plane, bytes);
    case 6: return TransposePixels<6>(src, dst, plane, bytes);
    case 8: return TransposePixels<8>(src, dst, plane, bytes);
    case 12: return TransposePixels<12>(src, dst, plane, bytes);
    case 16: return TransposePixels<16>(src, dst, plane, bytes);
    default: return TransposePixels<0>(src, dst, plane, bytes);
    }
}

// ---- Resample ---------------------------------------------------------------------------------

// Which source line a destination line reads, for source size S and destination size D < S:
// keep `keep` lines, then skip `period - keep`, repeatedly; never beyond the last line.
struct LineSelection
{
    int keep;
    int period;
    int last;
    int operator()(int i) const { return std::min(period * (i / keep) + i % keep, last); }
};

LineSelection SelectLines(int S, int D)
{
    const int q = S / D;
    const int r = S % D;
    if (q > 1)
        return {1, q, S - 1}; // every q-th line; the remainder is ignored
    if (r > 0) {
        const int k = D / r;
        return {k, k + 1, S - 1}; // keep k, skip one
    }
    return {1, 1, S - 1}; // same size (only whole cells of an odd-sized mosaic)
}

// Source index of every destination index, by lines or, for a mosaic, by whole 2 x 2 cells.
std::vector<int> SourceLines(int S, int D, bool cells)
{
    std::vector<int> map(std::size_t(std::max(D, 0)));
    if (cells) {
        const LineSelection select = SelectLines(S / 2, D / 2);
        for (int i = 0; i < D; ++i)
            map[i] = 2 * select(i / 2) + (i & 1);
    } else {
        const LineSelection select = SelectLines(S, D);
        for (int i = 0; i < D; ++i)
            map[i] = select(i);
    }
    return map;
}

template <typename U, int C>
OX_ROW_KERNEL void ResampleRow(const U* __restrict s, U* __restrict d, const int* __restrict colMap, int w,
                               int channels)
{
    const int n = C ? C : channels;
    for (int x = 0; x < w; ++x) {
        const U* from = s + std::ptrdiff_t(colMap[x]) * n;
        for (int c = 0; c < n; ++c)
            d[x * n + c] = from[c];
    }
}

template <typename U, int C>
void ResamplePlanes(const SxImageBuf& src, SxImageBuf& dst, const int* rowMap, const int* colMap,
                    int channels, int planes)
{
    for (int p = 0; p < planes; ++p)
        ParallelFor(dst.height, [&](int y) {
            ResampleRow<U, C>(RowPtr<U>(src, rowMap[y], p), RowPtr<U>(dst, y, p), colMap, dst.width,
                              channels);
        });
}

} // namespace

unsigned int ReverseRowOrder(SxImageBuf& buf)
{
    OX_CHECK(HasData(buf), eErrInvalidArg1);
    if (buf.height < 2 || buf.rowBytes < 1)
        return eOk;
    const ScratchMemory scratch = AllocScratchRows(omp_get_max_threads(), buf.rowBytes);
    OX_CHECK(scratch != nullptr, eErrOutOfMemory);
    const int planes = buf.packing == ePixel ? 1 : buf.channels; // any other packing counts as planar
    const std::ptrdiff_t rowBytes = buf.rowBytes;
    for (int p = 0; p < planes; ++p) {
        quint8* plane = RowPtr(buf, 0, p);
        ParallelFor(buf.height / 2, [&](int i) {
            SwapRowPair(plane, buf.height, rowBytes, i, scratch.get() + omp_get_thread_num() * rowBytes);
        });
    }
    return eOk;
}

unsigned int ReverseMemRowOrder(unsigned char* data, int rows, int rowBytes)
{
    OX_CHECK(data != nullptr, eErrInvalidArg1);
    if (rows < 2 || rowBytes < 1)
        return eOk;
    const ScratchMemory scratch = AllocScratchRows(1, rowBytes);
    OX_CHECK(scratch != nullptr, eErrOutOfMemory);
    for (int i = 0; i < rows / 2; ++i)
        SwapRowPair(data, rows, rowBytes, i, scratch.get());
    return eOk;
}

unsigned int ReverseColOrder(SxImageBuf& buf)
{
    OX_CHECK(HasData(buf), eErrInvalidArg1);
    if (buf.packing == ePixel && buf.channels != 1 && buf.channels != 3 && buf.channels != 4)
        return eOk; // no worker for these channel counts: left as they are
    OX_CHECK(buf.packing == ePixel || buf.packing == ePlanar, eErrUnsupported);
    // Single planes handle every type but the 64-bit integers; whole 3- and 4-channel pixels all.
    const bool wholePixels = buf.packing == ePixel && buf.channels != 1;
    const unsigned types = wholePixels ? kAllTypes : kAllTypes & ~kInt64Types;
    const int planes = buf.packing == ePlanar ? buf.channels : 1;
    const auto mirror = [&](auto tag) {
        using U = typename decltype(tag)::type;
        if (!wholePixels)
            MirrorRows<U, 1>(buf, planes);
        else if (buf.channels == 3)
            MirrorRows<U, 3>(buf, 1);
        else
            MirrorRows<U, 4>(buf, 1);
        return unsigned(eOk);
    };
    OX_CHECK(IsTypeIn(buf.dataType, types), eErrUnsupported);
    return DispatchBySize(buf.dataType, mirror);
}

unsigned int Transpose(const SxImageBuf& src, SxImageBuf& dst)
{
    OX_CHECK(HasData(src), eErrInvalidArg1);
    OX_CHECK(HasData(dst) && dst.channels == src.channels && dst.colorBitDepth == src.colorBitDepth,
             eErrInvalidArg2);
    OX_CHECK(dst.dataType == src.dataType && dst.packing == src.packing && dst.colorOrder == src.colorOrder,
             eErrInvalidArg2);
    OX_CHECK(dst.bayerGrid == src.bayerGrid && dst.width == src.height && dst.height == src.width,
             eErrInvalidArg2);
    OX_CHECK(!Overlaps(src, dst), eErrInvalidArg2);
    return DispatchBySize(src.dataType, [&](auto tag) {
        const int s = int(sizeof(typename decltype(tag)::type));
        if (src.packing == ePixel)
            TransposePlane(src, dst, 0, s * src.channels);
        else if (src.packing == ePlanar)
            for (int p = 0; p < src.channels; ++p)
                TransposePlane(src, dst, p, s);
        return unsigned(eOk);
    });
}

unsigned int Resample(const SxImageBuf& src, SxImageBuf& dst)
{
    OX_CHECK(IsValidBuffer(src), eErrInvalidArg1);
    OX_CHECK(IsValidBuffer(dst) && dst.channels == src.channels && dst.colorBitDepth == src.colorBitDepth,
             eErrInvalidArg2);
    OX_CHECK(dst.bayerGrid == src.bayerGrid && dst.dataType == src.dataType && dst.packing == src.packing,
             eErrInvalidArg2);
    OX_CHECK(dst.colorOrder == src.colorOrder && dst.width <= src.width && dst.height <= src.height,
             eErrInvalidArg2);
    const bool cells = src.channels == 1 && IsBayerLayout(src.bayerGrid);
    OX_CHECK(!cells || (dst.width % 2 == 0 && dst.height % 2 == 0), eErrInvalidArg2);
    OX_CHECK(dst.width < src.width && dst.height < src.height && !Overlaps(src, dst), eErrInvalidArg2);
    OX_CHECK(src.packing == ePixel || src.packing == ePlanar, eErrUnsupported);
    OX_CHECK(IsTypeIn(src.dataType, kAllRealTypes), eErrUnsupported);

    const std::vector<int> rowMap = SourceLines(src.height, dst.height, cells);
    const std::vector<int> colMap = SourceLines(src.width, dst.width, cells);
    const bool planar = src.packing == ePlanar;
    const int planes = planar ? src.channels : 1;
    return DispatchBySize<kAllRealTypes>(src.dataType, [&](auto tag) {
        using U = typename decltype(tag)::type;
        if (planar)
            ResamplePlanes<U, 1>(src, dst, rowMap.data(), colMap.data(), 1, planes);
        else
            DispatchChannels(src.channels, [&](auto channels) {
                ResamplePlanes<U, decltype(channels)::value>(src, dst, rowMap.data(), colMap.data(),
                                                             src.channels, 1);
            });
        return unsigned(eOk);
    });
}

} // namespace ox
