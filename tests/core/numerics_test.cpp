#include <ox/errors.h>
#include <ox/numerics.h>

#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <vector>

namespace {

std::vector<double> RandomSignal(int n, unsigned seed)
{
    std::mt19937 rng(seed);
    std::uniform_real_distribution<double> dist(-10.0, 10.0);
    std::vector<double> v(static_cast<std::size_t>(n));
    for (double& x : v)
        x = dist(rng);
    return v;
}

TEST(SavitzkyGolay, ChecksArgumentsInOrder)
{
    std::vector<double> in(20, 1.0), out(20, 0.0);
    using ox::SavitzkyGolaySmooth;
    EXPECT_EQ(SavitzkyGolaySmooth(nullptr, nullptr, 0, 0, -1), ox::eErrInvalidArg1);
    EXPECT_EQ(SavitzkyGolaySmooth(in.data(), nullptr, 0, 0, -1), ox::eErrInvalidArg2);
    EXPECT_EQ(SavitzkyGolaySmooth(in.data(), out.data(), 0, 0, -1), ox::eErrInvalidArg3);
    for (int window : {0, 4, 21})
        EXPECT_EQ(SavitzkyGolaySmooth(in.data(), out.data(), 20, window, -1), ox::eErrInvalidArg4) << window;
    EXPECT_EQ(SavitzkyGolaySmooth(in.data(), out.data(), 20, 5, -1), ox::eErrInvalidArg5);
    // No unique polynomial through fewer points than coefficients: failure, output untouched.
    EXPECT_EQ(SavitzkyGolaySmooth(in.data(), out.data(), 20, 3, 3), ox::eErrFailed);
    EXPECT_EQ(SavitzkyGolaySmooth(in.data(), out.data(), 20, 1, 1), ox::eErrFailed);
    EXPECT_EQ(out, std::vector<double>(20, 0.0));

    // Vector forms: their own checks first, any failure of the core form as eErrFailed.
    QVector<double> qin(11, 1.0), qout(11, 0.0), qshort(10, 0.0);
    EXPECT_EQ(SavitzkyGolaySmooth(QVector<double>(), qout, 5, 2), ox::eErrInvalidArg1);
    EXPECT_EQ(SavitzkyGolaySmooth(qin, qshort, 5, 2), ox::eErrInvalidArg2);
    EXPECT_EQ(SavitzkyGolaySmooth(qin, qout, 5, 2), ox::eErrInvalidArg3); // 11 < 2 * 5 + 2
    EXPECT_EQ(SavitzkyGolaySmooth(qin, qout, 0, 2), ox::eErrInvalidArg3);
    qin.append(1.0);
    qout.append(0.0);
    EXPECT_EQ(SavitzkyGolaySmooth(qin, qout, 5, -1), ox::eErrInvalidArg4);
    EXPECT_EQ(SavitzkyGolaySmooth(qin, qout, 4, 2), ox::eErrFailed);
    EXPECT_EQ(SavitzkyGolaySmooth(qin, qout, 5, 2), ox::eOk);
    std::vector<double> vin(12, 1.0), vout(12, 0.0);
    EXPECT_EQ(SavitzkyGolaySmooth(vin, vout, 3, 5), ox::eErrFailed);
    EXPECT_EQ(SavitzkyGolaySmooth(vin, vout, 3, 1), ox::eOk);
}

TEST(SavitzkyGolay, ReproducesPolynomialsUpToItsOrderEverywhere)
{
    const double coeffs[] = {3.0, -1.5, 0.25, -0.02, 0.001, -0.00003};
    const struct
    {
        int count, window, order, degree;
    } cases[] = {{40, 5, 2, 2}, {40, 5, 2, 1}, {9, 9, 3, 3}, {200, 31, 3, 3}, {60, 11, 5, 5}, {7, 7, 6, 5}};
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << "window " << c.window << " order " << c.order);
        std::vector<double> in(std::size_t(c.count), 0.0);
        for (int i = 0; i < c.count; ++i)
            for (int d = 0; d <= c.degree; ++d)
                in[std::size_t(i)] += coeffs[d] * std::pow(double(i), d);
        std::vector<double> out(std::size_t(c.count), 1.0); // results are added to what out holds
        ASSERT_EQ(ox::SavitzkyGolaySmooth(in.data(), out.data(), c.count, c.window, c.order), ox::eOk);
        for (int i = 0; i < c.count; ++i) {
            const double expected = in[std::size_t(i)] + 1.0;
            EXPECT_NEAR(out[std::size_t(i)], expected, 1e-9 * (1.0 + std::fabs(expected))) << i;
        }
    }
}

TEST(SavitzkyGolay, QuadraticWindowOfFiveUsesTheClassicalCoefficients)
{
    // Least-squares quadratic over 5 points: centre (-3 12 17 12 -3)/35, first point
    // (31 9 -3 -5 3)/35, second point (9 13 12 6 -5)/35; the tail uses them mirrored.
    const int n = 30;
    const std::vector<double> in = RandomSignal(n, 7);
    QVector<double> qin(n), qout(n, 0.0);
    std::copy(in.begin(), in.end(), qin.begin());
    const QVector<double> shared = qout;
    ASSERT_EQ(ox::SavitzkyGolaySmooth(qin, qout, 5, 2), ox::eOk);
    EXPECT_EQ(shared, QVector<double>(n, 0.0)); // the output was detached before writing

    const double centre[5] = {-3, 12, 17, 12, -3}, first[5] = {31, 9, -3, -5, 3},
                 second[5] = {9, 13, 12, 6, -5};
    // The filter `c` applied to in[from], in[from + step], ...
    auto apply = [&](const double(&c)[5], int from, int step) {
        double s = 0;
        for (int k = 0; k < 5; ++k)
            s += c[k] * in[std::size_t(from + step * k)];
        return s / 35.0;
    };
    EXPECT_NEAR(qout[0], apply(first, 0, 1), 1e-9);
    EXPECT_NEAR(qout[1], apply(second, 0, 1), 1e-9);
    EXPECT_NEAR(qout[n - 1], apply(first, n - 1, -1), 1e-9);
    EXPECT_NEAR(qout[n - 2], apply(second, n - 1, -1), 1e-9);
    for (int i = 2; i < n - 2; ++i)
        EXPECT_NEAR(qout[i], apply(centre, i - 2, 1), 1e-9) << i;
}

TEST(SavitzkyGolay, OrderZeroIsAMovingAverageWithGrowingEdges)
{
    const int n = 25;
    for (int window : {1, 7, 25}) {
        const std::vector<double> in = RandomSignal(n, unsigned(window));
        std::vector<double> out(std::size_t(n), 0.0);
        ASSERT_EQ(ox::SavitzkyGolaySmooth(in.data(), out.data(), n, window, 0), ox::eOk);
        const int h = window / 2;
        for (int i = 0; i < n; ++i) {
            const int from = i < h ? 0 : (i > n - 1 - h ? i : i - h);
            const int to = i < h ? i : (i > n - 1 - h ? n - 1 : i + h);
            double mean = 0;
            for (int k = from; k <= to; ++k)
                mean += in[std::size_t(k)] / (to - from + 1);
            EXPECT_NEAR(out[std::size_t(i)], mean, 1e-12) << "window " << window << " index " << i;
        }
        if (window <= n / 2 - 1) { // the vector form gives the same result
            std::vector<double> viaVector(std::size_t(n), 0.0);
            ASSERT_EQ(ox::SavitzkyGolaySmooth(in, viaVector, window, 0), ox::eOk);
            EXPECT_EQ(viaVector, out);
        }
    }
}

TEST(FitGauss, RecoversGaussiansAndFailuresZeroTheOutputs)
{
    const double amplitude = 3.0, centre = 1.5, sigma = 0.7;
    QList<double> x, y, noisy, ux, uy;
    std::mt19937 rng(42);
    std::normal_distribution<double> noise(0.0, 0.01 * amplitude);
    for (int i = 0; i <= 2000; ++i) {
        x.append(-3.0 + 9.0 * i / 2000.0);
        y.append(amplitude * std::exp(-(x[i] - centre) * (x[i] - centre) / (2 * sigma * sigma)));
        noisy.append(y[i] + noise(rng));
        ux.append(-2.0 + 4.0 * i / 2000.0);
        uy.append(std::exp(ux[i] * ux[i] / 2)); // opens upwards: 2 sigma^2 comes out negative
    }
    double a = 0, c = 0, s = 0;
    ASSERT_EQ(ox::FitGauss(x, y, a, c, s), ox::eOk);
    EXPECT_NEAR(a, amplitude, 1e-3);
    EXPECT_NEAR(c, centre, 1e-4);
    EXPECT_NEAR(s, sigma, 1e-4);
    ASSERT_EQ(ox::FitGauss(x, noisy, a, c, s), ox::eOk);
    EXPECT_NEAR(a, amplitude, 0.05 * amplitude);
    EXPECT_NEAR(c, centre, 0.02);
    EXPECT_NEAR(s, sigma, 0.05 * sigma);
    a = c = s = 7;
    EXPECT_EQ(ox::FitGauss(ux, uy, a, c, s), ox::eOk);
    EXPECT_EQ(s, 0.0);
    EXPECT_NEAR(c, 0.0, 1e-3);
    EXPECT_GT(a, 0.0);

    const struct
    {
        QList<double> x, y;
        unsigned int code;
    } failures[] = {{{}, {}, ox::eErrInvalidArg1},
                    {{1, 2, 3}, {1, 2}, ox::eErrInvalidArg2},
                    {{2, 2}, {1, 3}, ox::eErrInvalidData},
                    {{0, 1, 2, 3}, {0, 0, 0, 0}, ox::eErrInvalidData}};
    for (const auto& f : failures) {
        a = c = s = 7;
        EXPECT_EQ(ox::FitGauss(f.x, f.y, a, c, s), f.code);
        EXPECT_EQ(a + c + s, 0.0) << f.code;
    }
}

} // namespace
