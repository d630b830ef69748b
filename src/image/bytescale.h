#pragma once

// 16-bit components to bytes with one single-precision multiply and add per component:
//
//     q = min(trunc(min(v, vmax) × scale + bias), qmax)
//
// The library's 16-to-8-bit mappings are integer quotients, trunc(v × a / b) or a rounded form of
// it, with a below 256. Such a quotient is either an integer or at least gcd / b away from the
// integers above and below it, while the float evaluation is off by less than 2^-22 × 256; a bias
// between the two puts every result on the right side. Rather than rely on that bound for every
// pair (a, b), a caller checks the parameters against its exact arithmetic for all 65,536 inputs
// (MatchesEverywhere) and keeps its exact path when they do not match. The library is built without
// floating-point contraction, so every compiled variant of a kernel computes the same floats.

#include "image/pixelops.h"

#include <QtGlobal>

#include <algorithm>
#include <cstddef>

namespace ox::detail {

struct ByteScale
{
    float scale = 0;
    float bias = 0;
    qint32 vmax = 65535;
    qint32 qmax = 255;

    quint8 operator()(quint16 v) const
    {
        const float x = float(std::min(qint32(v), vmax)) * scale + bias;
        return quint8(std::min(qint32(x), qmax));
    }
};

// True when f(v) == exact(v) for every 16-bit v; the loop vectorises when `exact` does.
template <typename Exact>
OX_ROW_KERNEL bool MatchesEverywhere(ByteScale f, Exact exact)
{
    unsigned differ = 0;
    for (qint32 v = 0; v < 65536; ++v)
        differ |= f(quint16(v)) != exact(quint16(v)) ? 1u : 0u;
    return differ == 0;
}

// The last few answers of a check that is costly next to a small image, kept per thread: a caller
// converting many frames with the same parameters checks them once.
template <typename Key, int N = 4>
class RecentChecks
{
public:
    template <typename Check>
    bool answer(const Key& key, Check check)
    {
        for (int i = 0; i < m_count; ++i)
            if (m_keys[i] == key)
                return m_answers[i];
        const bool a = check();
        m_keys[m_next] = key;
        m_answers[m_next] = a;
        m_next = (m_next + 1) % N;
        m_count = std::min(m_count + 1, N);
        return a;
    }

private:
    Key m_keys[N] = {};
    bool m_answers[N] = {};
    int m_count = 0;
    int m_next = 0;
};

} // namespace ox::detail
