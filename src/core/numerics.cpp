#include <ox/numerics.h>

#include <ox/errors.h>

#include "core/log.h"
#include "image/pixelops.h"

#include <omp.h>

#include <algorithm>
#include <cmath>
#include <exception>
#include <vector>

namespace ox {

namespace {

// ---- Dense matrices and the LU solve ------------------------------------------------------------

// A row-major matrix of doubles for the small normal-equation systems of the smoothing.
class Matrix
{
public:
    // Sizes the matrix to `rows` x `cols` zeros. Both must be at least 1; otherwise logs and returns
    // false, leaving the matrix empty.
    bool build(int rows, int cols)
    {
        if (rows < 1 || cols < 1) {
            detail::LogError(
                QStringLiteral("Cannot build matrix with %1 rows and %2 columns.").arg(rows).arg(cols));
            m_rows = m_cols = 0;
            m_values.clear();
            return false;
        }
        m_rows = rows;
        m_cols = cols;
        m_values.assign(std::size_t(rows) * std::size_t(cols), 0.0);
        return true;
    }

    int rows() const { return m_rows; }
    int cols() const { return m_cols; }
    double& operator()(int r, int c) { return m_values[std::size_t(r) * m_cols + c]; }
    double operator()(int r, int c) const { return m_values[std::size_t(r) * m_cols + c]; }

private:
    int m_rows = 0;
    int m_cols = 0;
    std::vector<double> m_values;
};

constexpr double kPivotTolerance = 1e-300;

// Inverts the square matrix `m` by LU decomposition with partial pivoting, solving m * X = I.
// Returns false when a pivot falls below the tolerance (a singular system); `inverse` is undefined
// then.
bool InvertLU(Matrix m, Matrix& inverse)
{
    const int n = m.rows();
    if (!inverse.build(n, n))
        return false;
    std::vector<int> perm(std::size_t(n), 0);
    for (int i = 0; i < n; ++i)
        perm[std::size_t(i)] = i;

    // Decompose in place: L below the diagonal (unit diagonal implied), U on and above it.
    for (int k = 0; k < n; ++k) {
        int pivot = k;
        for (int r = k + 1; r < n; ++r)
            if (std::fabs(m(r, k)) > std::fabs(m(pivot, k)))
                pivot = r;
        if (!(std::fabs(m(pivot, k)) >= kPivotTolerance)) // a NaN pivot fails as well
            return false;
        if (pivot != k) {
            for (int c = 0; c < n; ++c)
                std::swap(m(k, c), m(pivot, c));
            std::swap(perm[std::size_t(k)], perm[std::size_t(pivot)]);
        }
        for (int r = k + 1; r < n; ++r) {
            m(r, k) /= m(k, k);
            for (int c = k + 1; c < n; ++c)
                m(r, c) -= m(r, k) * m(k, c);
        }
    }

    // Solve for each column of the identity: forward substitution with L, backward with U.
    std::vector<double> col(std::size_t(n), 0.0);
    for (int j = 0; j < n; ++j) {
        for (int i = 0; i < n; ++i) {
            double s = perm[std::size_t(i)] == j ? 1.0 : 0.0;
            for (int c = 0; c < i; ++c)
                s -= m(i, c) * col[std::size_t(c)];
            col[std::size_t(i)] = s;
        }
        for (int i = n - 1; i >= 0; --i) {
            double s = col[std::size_t(i)];
            for (int c = i + 1; c < n; ++c)
                s -= m(i, c) * col[std::size_t(c)];
            col[std::size_t(i)] = s / m(i, i);
        }
        for (int i = 0; i < n; ++i)
            inverse(i, j) = col[std::size_t(i)];
    }
    return true;
}

// ---- Savitzky-Golay coefficients ----------------------------------------------------------------

// The least-squares projection onto polynomials of degree `order` over `window` equally spaced
// positions. Positions are measured from the window's centre (t = r - h): the fitted polynomial is
// the same as with t = r, and the normal equations are far better conditioned.
class SavitzkyGolayFit
{
public:
    // Computes (A^T A)^-1 with A[r][p] = t_r^p. False when the system is singular, which it is
    // whenever there are fewer positions than coefficients, and when the sums of A^T A, up to
    // window x h^(2 order), would leave the range of doubles (no inverse could be trusted then).
    bool prepare(int window, int order)
    {
        if (qint64(order) >= window || !std::isfinite(window * std::pow(double(window / 2), 2.0 * order)))
            return false;
        m_window = window;
        m_terms = order + 1;
        Matrix a;
        Matrix normal;
        if (!a.build(window, m_terms) || !normal.build(m_terms, m_terms))
            return false;
        for (int r = 0; r < window; ++r) {
            double power = 1.0;
            for (int p = 0; p < m_terms; ++p) {
                a(r, p) = power;
                power *= position(r);
            }
        }
        for (int p = 0; p < m_terms; ++p)
            for (int q = 0; q < m_terms; ++q) {
                double s = 0.0;
                for (int r = 0; r < window; ++r)
                    s += a(r, p) * a(r, q);
                normal(p, q) = s;
            }
        m_design = a;
        return InvertLU(normal, m_inverse);
    }

    // c_i = row i of A (A^T A)^-1 A^T into `coeffs` (`window` values; `scratch` holds order + 1).
    // Σ_k c_i[k] y[k] is the fitted polynomial's value at position i.
    void coefficients(int i, double* coeffs, double* scratch) const
    {
        for (int q = 0; q < m_terms; ++q) {
            double s = 0.0;
            for (int p = 0; p < m_terms; ++p)
                s += m_design(i, p) * m_inverse(p, q);
            scratch[q] = s;
        }
        for (int k = 0; k < m_window; ++k) {
            double s = 0.0;
            for (int q = 0; q < m_terms; ++q)
                s += scratch[q] * m_design(k, q);
            coeffs[k] = s;
        }
    }

    int terms() const { return m_terms; }

private:
    double position(int r) const { return double(r - m_window / 2); }

    int m_window = 0;
    int m_terms = 0;
    Matrix m_design;
    Matrix m_inverse;
};

// Below this many multiply-adds a loop runs on the calling thread: starting the OpenMP team costs
// more than the work.
constexpr qint64 kParallelWork = 32768;

// Runs body(i) for i in [0, n), on the OpenMP threads (static schedule) when n x costPerIndex
// reaches kParallelWork.
template <typename F>
void ParallelIndices(int n, qint64 costPerIndex, F&& body)
{
#pragma omp parallel for schedule(static) if (qint64(n) * costPerIndex >= kParallelWork)
    for (int i = 0; i < n; ++i)
        body(i);
}

// Σ_k c[k] in[k] for a window starting at `in`.
inline double Dot(const double* c, const double* in, int window)
{
    double s = 0.0;
    for (int k = 0; k < window; ++k)
        s += c[k] * in[k];
    return s;
}

// out[j] += Σ_k c[k] in[j + k] for j in [0, outputs), or with c null the window mean
// Σ_k in[j + k] / window. Outputs are computed in blocks that stay in the first-level cache: for
// each tap k the whole block is updated, a loop over neighbouring outputs that vectorises. Each
// output still sums its taps in the order k = 0, 1, ..., so the result is that of the plain loop.
void SlidingWindow(const double* in, double* out, int outputs, const double* c, int window)
{
    constexpr int kBlock = 256;
    const int blocks = outputs / kBlock + (outputs % kBlock != 0);
    ParallelIndices(blocks, qint64(kBlock) * window, [&](int b) {
        double acc[kBlock];
        const int first = b * kBlock;
        const int n = std::min(kBlock, outputs - first);
        for (int j = 0; j < n; ++j)
            acc[j] = 0.0;
        for (int k = 0; k < window; ++k) {
            const double* p = in + first + k;
            if (c == nullptr) {
#pragma omp simd
                for (int j = 0; j < n; ++j)
                    acc[j] += p[j];
            } else {
                const double ck = c[k];
#pragma omp simd
                for (int j = 0; j < n; ++j)
                    acc[j] += ck * p[j];
            }
        }
        double* o = out + first;
        if (c == nullptr) {
            for (int j = 0; j < n; ++j)
                o[j] += acc[j] / window;
        } else {
            for (int j = 0; j < n; ++j)
                o[j] += acc[j];
        }
    });
}

void MovingAverage(const double* in, double* out, int count, int window)
{
    // The edges as running sums: each adds its samples in the order k = 0 .. i, as a separate sum
    // per edge element would, in linear time.
    const int h = window / 2;
    const int last = count - 1;
    double head = 0.0;
    double tail = 0.0;
    for (int i = 0; i < h; ++i) {
        head += in[i];
        tail += in[last - i];
        out[i] += head / (i + 1);
        out[last - i] += tail / (i + 1);
    }
    SlidingWindow(in, out + h, count - window + 1, nullptr, window);
}

unsigned PolynomialSmooth(const double* in, double* out, int count, int window, int order)
{
    SavitzkyGolayFit fit;
    if (!fit.prepare(window, order))
        return eErrFailed;
    const int h = window / 2;
    const int last = count - 1;
    const std::size_t rowSize = std::size_t(window);
    const std::size_t terms = std::size_t(fit.terms());

    // All memory is taken before `out` is touched: the centre row, and per thread one edge row and
    // the intermediate vector of its coefficient computation (memory linear in the window).
    const std::size_t threads = std::size_t(std::max(1, omp_get_max_threads()));
    std::vector<double> centre(rowSize, 0.0);
    std::vector<double> rows(threads * rowSize, 0.0);
    std::vector<double> scratch(threads * terms, 0.0);

    fit.coefficients(h, centre.data(), scratch.data());
    ParallelIndices(h, qint64(window) * fit.terms(), [&](int i) {
        const std::size_t thread = std::size_t(omp_get_thread_num());
        double* c = rows.data() + thread * rowSize;
        fit.coefficients(i, c, scratch.data() + thread * terms);
        out[i] += Dot(c, in, window);
        double tail = 0.0;
        for (int k = 0; k < window; ++k)
            tail += c[k] * in[last - k];
        out[last - i] += tail;
    });

    SlidingWindow(in, out + h, count - window + 1, centre.data(), window);
    return eOk;
}

template <typename Vector>
unsigned SmoothVector(const Vector& in, Vector& out, int window, int order)
{
    OX_CHECK(!in.empty(), eErrInvalidArg1);
    OX_CHECK(!out.empty() && out.size() == in.size(), eErrInvalidArg2);
    OX_CHECK(window >= 1 && qint64(in.size()) >= 2 * qint64(window) + 2, eErrInvalidArg3);
    OX_CHECK(order >= 0, eErrInvalidArg4);
    unsigned code = eErrFailed;
    try {
        // A shared QVector output is copied here (detached) before the core form writes.
        code = SavitzkyGolaySmooth(in.data(), out.data(), int(in.size()), window, order);
    } catch (const std::exception&) {
        // no memory for the copy
    }
    return Succeeded(code) ? eOk : eErrFailed;
}

} // namespace

unsigned int SavitzkyGolaySmooth(const double* in, double* out, int count, int window, int order)
{
    OX_CHECK(in != nullptr, eErrInvalidArg1);
    OX_CHECK(out != nullptr, eErrInvalidArg2);
    OX_CHECK(count >= 1, eErrInvalidArg3);
    OX_CHECK(window >= 1 && window <= count && window % 2 == 1, eErrInvalidArg4);
    OX_CHECK(order >= 0, eErrInvalidArg5);
    if (order == 0) {
        MovingAverage(in, out, count, window);
        return eOk;
    }
    try {
        return PolynomialSmooth(in, out, count, window, order);
    } catch (const std::exception&) {
        return eErrFailed; // no memory for the fit (taken before `out` is written)
    }
}

unsigned int SavitzkyGolaySmooth(const QVector<double>& in, QVector<double>& out, int window, int order)
{
    // QVector::data() on the output detaches it before the core form writes.
    return SmoothVector(in, out, window, order);
}

unsigned int SavitzkyGolaySmooth(const std::vector<double>& in, std::vector<double>& out, int window,
                                 int order)
{
    return SmoothVector(in, out, window, order);
}

unsigned int FitGauss(const QList<double>& x, const QList<double>& y, double& amplitude, double& centre,
                      double& sigma)
{
    amplitude = centre = sigma = 0.0;
    OX_CHECK(!x.isEmpty(), eErrInvalidArg1);
    OX_CHECK(y.size() == x.size(), eErrInvalidArg2);
    const int n = x.size();

    // y - y0 = A S + B T, where S and T are the running integrals of y and x y: the derivative of
    // the model is y' = (c / s^2) y - (1 / s^2) x y.
    const double y0 = y.at(0);
    double s = 0.0, t = 0.0;
    double ss = 0.0, tt = 0.0, st = 0.0, ys = 0.0, yt = 0.0;
    double sumY = y0;
    for (int k = 1; k < n; ++k) {
        const double xk = x.at(k), xp = x.at(k - 1);
        const double yk = y.at(k), yp = y.at(k - 1);
        const double dx = xk - xp;
        s += 0.5 * (yk + yp) * dx;
        t += 0.5 * (xk * yk + xp * yp) * dx;
        ss += s * s;
        tt += t * t;
        st += s * t;
        ys += (yk - y0) * s;
        yt += (yk - y0) * t;
        sumY += yk;
    }
    // The k = 0 terms are all zero (S[0] = T[0] = 0).

    const double d = tt * ss - st * st;
    OX_CHECK(d != 0.0, eErrInvalidData);
    const double a = (tt * ys - st * yt) / d;
    const double b = (ss * yt - st * ys) / d;
    OX_CHECK(b != 0.0, eErrInvalidData);
    const double w = -2.0 / b; // 2 sigma^2
    const double c = -a / b;

    double g = 0.0;
#pragma omp parallel for schedule(static) reduction(+ : g) if (n >= kParallelWork)
    for (int k = 0; k < n; ++k) {
        const double dx = x.at(k) - c;
        g += std::exp(-dx * dx / w);
    }
    OX_CHECK(g != 0.0, eErrInvalidData);

    amplitude = sumY / g;
    centre = c;
    if (w >= 0.0)
        sigma = std::sqrt(w / 2.0);
    return eOk;
}

} // namespace ox
