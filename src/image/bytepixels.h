#pragma once

// Three bytes per pixel to four: the colour conversions to 8-bit RGBA share this step.

#include "image/pixelops.h"

#include <QtGlobal>

#if defined(__x86_64__) && defined(__GNUC__)
#include <tmmintrin.h>
#endif

namespace ox::detail {

// From pixel x on: the three bytes of each pixel in memory order (the first and third exchanged
// when Swap is set), then `alpha`.
template <bool Swap>
OX_ROW_KERNEL void ThreeToFourBytes(const quint8* __restrict s, quint8* __restrict d, int x, int w,
                                    quint8 alpha)
{
    for (; x < w; ++x) {
        d[4 * x] = s[3 * x + (Swap ? 2 : 0)];
        d[4 * x + 1] = s[3 * x + 1];
        d[4 * x + 2] = s[3 * x + (Swap ? 0 : 2)];
        d[4 * x + 3] = alpha;
    }
}

#if defined(__x86_64__) && defined(__GNUC__)
// The same with byte shuffles (SSSE3), four pixels per step: 16 bytes are loaded for 12, so the
// shuffled part stops while at least 16 bytes of the row remain; the rest goes pixel by pixel.
template <bool Swap>
__attribute__((target("ssse3"))) void ThreeToFourBytesShuffled(const quint8* s, quint8* d, int w,
                                                               quint8 alpha)
{
    const __m128i spread = Swap ? _mm_setr_epi8(2, 1, 0, -1, 5, 4, 3, -1, 8, 7, 6, -1, 11, 10, 9, -1)
                                : _mm_setr_epi8(0, 1, 2, -1, 3, 4, 5, -1, 6, 7, 8, -1, 9, 10, 11, -1);
    const __m128i alphas = _mm_set1_epi32(int(quint32(alpha) << 24));
    int x = 0;
    for (; x + 6 <= w; x += 4) {
        const __m128i in = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + 3 * x));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(d + 4 * x),
                         _mm_or_si128(_mm_shuffle_epi8(in, spread), alphas));
    }
    ThreeToFourBytes<Swap>(s, d, x, w, alpha);
}
#endif

// One row of w pixels, shuffled where the processor can.
template <bool Swap>
void ThreeToFourBytesRow(const quint8* s, quint8* d, int w, quint8 alpha)
{
#if defined(__x86_64__) && defined(__GNUC__)
    if (__builtin_cpu_supports("ssse3")) {
        ThreeToFourBytesShuffled<Swap>(s, d, w, alpha);
        return;
    }
#endif
    ThreeToFourBytes<Swap>(s, d, 0, w, alpha);
}

} // namespace ox::detail
