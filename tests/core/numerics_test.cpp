#include <ox/errors.h>
#include <ox/numerics.h>

#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <iterator>
#include <vector>

using Doubles = std::vector<double>;

TEST(SavitzkyGolay, ChecksArgumentsInOrderAndLeavesTheOutputAloneOnFailure)
{
    Doubles in(300, 1.0), out(300, 0.0);
    // {count, window, order, code}: the first with a null input, the first two with a null output.
    // Fits fail without a unique solution, and when window 201 would need powers 100^400.
    const unsigned int cases[][4] = {
        {0, 0, 0, ox::eErrInvalidArg1},    {0, 0, 0, ox::eErrInvalidArg2},  {0, 0, 0, ox::eErrInvalidArg3},
        {20, 0, 0, ox::eErrInvalidArg4},   {20, 4, 0, ox::eErrInvalidArg4}, {20, 21, 0, ox::eErrInvalidArg4},
        {20, 5, ~0u, ox::eErrInvalidArg5}, {20, 3, 3, ox::eErrFailed},      {20, 1, 1, ox::eErrFailed},
        {20, 5, INT_MAX, ox::eErrFailed},  {300, 201, 200, ox::eErrFailed}};
    for (int i = 0; i < int(std::size(cases)); ++i) {
        const int count = int(cases[i][0]), window = int(cases[i][1]), order = int(cases[i][2]);
        EXPECT_EQ(ox::SavitzkyGolaySmooth(i ? in.data() : nullptr, i > 1 ? out.data() : nullptr, count,
                                          window, order),
                  cases[i][3])
            << "case " << i;
    }

    // The vector forms, {input size, output size, window, order, code}: they need 2 x window + 2
    // samples, and any failure of the smoothing becomes eErrFailed.
    const unsigned int vectorCases[][5] = {
        {0, 0, 1, 0, ox::eErrInvalidArg1},     {20, 19, 1, 0, ox::eErrInvalidArg2},
        {20, 20, 0, 0, ox::eErrInvalidArg3},   {11, 11, 5, 0, ox::eErrInvalidArg3},
        {12, 12, 5, ~0u, ox::eErrInvalidArg4}, {12, 12, 4, 0, ox::eErrFailed}};
    for (const auto& c : vectorCases) {
        Doubles vin(c[0], 1.0), vout(c[1], 0.0);
        EXPECT_EQ(ox::SavitzkyGolaySmooth(vin, vout, int(c[2]), int(c[3])), c[4]) << c[0] << "/" << c[2];
        out.insert(out.end(), vout.begin(), vout.end());
    }
    EXPECT_EQ(out, Doubles(out.size(), 0.0));
}

TEST(SavitzkyGolay, ReproducesPolynomialsUpToItsOrderEverywhereAndAddsToTheOutput)
{
    const double coeffs[] = {3.0, -1.5, 0.25, -0.02, 0.001, -0.00003};
    // {count, window, order, degree of the polynomial}
    // The last one computes its edges on several threads.
    const int cases[][4] = {{40, 5, 2, 2},  {40, 5, 2, 1}, {9, 9, 3, 3},     {200, 31, 3, 3},
                            {60, 11, 5, 5}, {7, 7, 6, 5},  {1000, 301, 3, 3}};
    for (const auto& c : cases) {
        Doubles in(std::size_t(c[0]), 0.0), out(std::size_t(c[0]), 1.0);
        for (std::size_t i = 0; i < in.size(); ++i)
            for (int d = 0; d <= c[3]; ++d)
                in[i] += coeffs[d] * std::pow(double(i), d);
        ASSERT_EQ(ox::SavitzkyGolaySmooth(in.data(), out.data(), c[0], c[1], c[2]), ox::eOk);
        for (std::size_t i = 0; i < in.size(); ++i)
            EXPECT_NEAR(out[i], in[i] + 1.0, 1e-9 * (2.0 + std::fabs(in[i])))
                << "window " << c[1] << " at " << i;
    }
}

TEST(SavitzkyGolay, OrderZeroIsAMovingAverageWithGrowingEdges)
{
    const Doubles in = {1, 2, 4, 8, 16, 32, 64};
    const std::pair<int, Doubles> cases[] = {{1, in},
                                             {5, {1, 1.5, 31 / 5.0, 62 / 5.0, 124 / 5.0, 48, 64}},
                                             {7, {1, 1.5, 7 / 3.0, 127 / 7.0, 112 / 3.0, 48, 64}}};
    for (const auto& [window, expected] : cases) {
        Doubles out(in.size(), 0.0);
        ASSERT_EQ(ox::SavitzkyGolaySmooth(in.data(), out.data(), 7, window, 0), ox::eOk);
        for (std::size_t i = 0; i < in.size(); ++i)
            EXPECT_NEAR(out[i], expected[i], 1e-12) << "window " << window << " index " << i;
    }
}

TEST(FitGauss, RecoversAGaussianAndClearsTheOutputsOnBadInput)
{
    QList<double> x, y;
    for (int i = 0; i <= 2000; ++i) {
        x.append(-3.0 + 9.0 * i / 2000.0);
        y.append(3.0 * std::exp(-(x[i] - 1.5) * (x[i] - 1.5) / (2 * 0.7 * 0.7)));
    }
    double a = 0, c = 0, s = 0;
    ASSERT_EQ(ox::FitGauss(x, y, a, c, s), ox::eOk);
    EXPECT_TRUE(std::fabs(a - 3.0) < 1e-3 && std::fabs(c - 1.5) < 1e-4 && std::fabs(s - 0.7) < 1e-4);

    const QList<double> same{2, 2, 2, 2, 2};
    EXPECT_EQ(ox::FitGauss({}, {}, a, c, s), ox::eErrInvalidArg1);
    EXPECT_EQ(ox::FitGauss(x, same, a, c, s), ox::eErrInvalidArg2);
    a = c = s = 1.0;
    EXPECT_EQ(ox::FitGauss(same, same, a, c, s), ox::eErrInvalidData); // all x equal
    EXPECT_TRUE(a == 0.0 && c == 0.0 && s == 0.0);
}
