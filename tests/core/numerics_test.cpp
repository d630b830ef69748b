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

TEST(SavitzkyGolay, ChecksArgumentsInOrderAndFailsWithFewerPointsThanCoefficients)
{
    std::vector<double> in(20, 1.0), out(20, 0.0);
    const struct
    {
        bool in, out;
        int count, window, order;
        unsigned int code;
    } cases[] = {
        {false, false, 0, 0, -1, ox::eErrInvalidArg1}, {true, false, 0, 0, -1, ox::eErrInvalidArg2},
        {true, true, 0, 0, -1, ox::eErrInvalidArg3},   {true, true, 20, 0, -1, ox::eErrInvalidArg4},
        {true, true, 20, 4, -1, ox::eErrInvalidArg4},  {true, true, 20, 21, -1, ox::eErrInvalidArg4},
        {true, true, 20, 5, -1, ox::eErrInvalidArg5},  {true, true, 20, 3, 3, ox::eErrFailed},
        {true, true, 20, 1, 1, ox::eErrFailed},
    };
    for (const auto& c : cases)
        EXPECT_EQ(ox::SavitzkyGolaySmooth(c.in ? in.data() : nullptr, c.out ? out.data() : nullptr, c.count,
                                          c.window, c.order),
                  c.code)
            << "window " << c.window << " order " << c.order;
    EXPECT_EQ(out, std::vector<double>(20, 0.0)); // failures leave the output untouched
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
    }
}

TEST(FitGauss, RecoversExactAndNoisyGaussians)
{
    const double amplitude = 3.0, centre = 1.5, sigma = 0.7;
    QList<double> x, y, noisy;
    std::mt19937 rng(42);
    std::normal_distribution<double> noise(0.0, 0.01 * amplitude);
    for (int i = 0; i <= 2000; ++i) {
        x.append(-3.0 + 9.0 * i / 2000.0);
        y.append(amplitude * std::exp(-(x[i] - centre) * (x[i] - centre) / (2 * sigma * sigma)));
        noisy.append(y[i] + noise(rng));
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
}

} // namespace
