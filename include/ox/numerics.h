#pragma once

#include <ox/export.h>

#include <QList>
#include <QVector>

#include <vector>

// Savitzky-Golay smoothing of a one-dimensional signal and a non-iterative Gaussian fit.
// Both return the library's error codes (ox/errors.h): eOk on success. Reentrant; the smoothing
// runs its loops on OpenMP threads (no locks).

namespace ox {

// Smooths `count` samples of `in` with the least-squares polynomial of degree `order` over a window
// of `window` samples and ADDS the result to `out` (pass a zeroed output). Each output element gets
// exactly one contribution:
//   - interior elements h .. count-1-h (h = window / 2): the fitted polynomial's value at the
//     centre of the window around them;
//   - the first and last h elements: the value at their position of the polynomial fitted to the
//     first (or, mirrored, the last) `window` samples. With order 0 the edges are instead the means
//     of the windows that grow from the ends: out[i] += mean(in[0..i]).
// Checks in order: in null eErrInvalidArg1; out null eErrInvalidArg2; count < 1 eErrInvalidArg3;
// window < 1, window > count or even eErrInvalidArg4; order < 0 eErrInvalidArg5.
// Returns eErrFailed when the fit has no unique solution (order >= window: too few points for
// the polynomial), when its normal equations leave the range of doubles (window x (window / 2)
// raised to 2 x order overflows), or when its working memory (linear in the window) cannot be
// obtained; `out` is untouched then. Time: count x window for the interior; for the edges
// window^2 x order with a fit, window with order 0.
OX_EXPORT unsigned int SavitzkyGolaySmooth(const double* in, double* out, int count, int window, int order);

// Vector forms: `out` must have the size of `in` and is added to as above.
// Checks in order: in empty eErrInvalidArg1; out empty or of another size eErrInvalidArg2;
// window < 1 or in.size() < 2 * window + 2 eErrInvalidArg3; order < 0 eErrInvalidArg4.
// Any failure of the core form (for example an even window) is returned as eErrFailed.
OX_EXPORT unsigned int SavitzkyGolaySmooth(const QVector<double>& in, QVector<double>& out, int window,
                                           int order);
OX_EXPORT unsigned int SavitzkyGolaySmooth(const std::vector<double>& in, std::vector<double>& out,
                                           int window, int order);

// Fits y = amplitude * exp(-(x - centre)^2 / (2 sigma^2)) to the points (x[k], y[k]) by linear
// regression on integral equations (cumulative trapezoid sums; no iteration, no starting values).
// The points should be ordered by x. The outputs are set to 0 first and stay 0 on failure.
// Returns eOk; eErrInvalidArg1 for an empty x; eErrInvalidArg2 for a y of another size;
// eErrInvalidData when the regression is degenerate (for example all x equal) or the model sums to
// zero at the samples. A curve that opens upwards (2 sigma^2 < 0) is no failure: amplitude and
// centre are delivered and sigma is 0.
OX_EXPORT unsigned int FitGauss(const QList<double>& x, const QList<double>& y, double& amplitude,
                                double& centre, double& sigma);

} // namespace ox
