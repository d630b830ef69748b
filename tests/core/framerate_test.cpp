#include <ox/framerate.h>

#include "core/framerate_internal.h"

#include <gtest/gtest.h>

#include <climits>
#include <limits>

namespace {

qint64 g_now = 0; // the time every started counter reads while the test clock is installed

struct FrameRateCounter : ::testing::Test
{
    void SetUp() override
    {
        ox::detail::SetFrameRateClock([] { return g_now; });
    }
    void TearDown() override { ox::detail::SetFrameRateClock(nullptr); }
    void addAt(const QVector<qint64>& times)
    {
        for (qint64 t : times) {
            g_now = t;
            counter.addTimestamp();
        }
    }
    ox::CxFrameRateCounter counter;
};

} // namespace

TEST_F(FrameRateCounter, RateAndTimeoutFollowTheWindow)
{
    const double none = std::numeric_limits<double>::max();
    // {sample times, averaging interval, maximum rate, rate, timeout}
    const std::tuple<QVector<qint64>, int, double, double, int> cases[] = {
        {{300}, 2000, none, 0.0, 0}, // one sample: no rate
        {{0, 100, 200, 300}, 2000, none, 10.0, 0},
        {{0, 100, 200, 300}, 2000, 5.0, 10.0, 500},    // (4 / 5 - 0.3) x 1000
        {{0, 100, 200, 300}, 2000, 6.0, 10.0, 366},    // truncated from 366.7
        {{0, 100, 200, 300}, 2000, 10.0, 10.0, 100},   // equal is not over
        {{0, 100, 200, 300}, 2000, 0.0, 10.0, 0},      // no limit
        {{0, 1000, 1900, 2000}, 1000, 1.0, 2.0, 2000}, // a sample at the edge belongs to the window
        {{0, 5000, 5000, 5000}, 1000, 0.5, 0.6, 3000}, // only the newest's equals: widened by one
        {{700, 700, 700}, 1000, 0.5, 0.0, 6000},       // no span: no rate, the timeout counts all
        {{0, 1}, 1000, 1e-300, 1000.0, INT_MAX},       // saturates
        {{0, 9, 10}, -5, none, 1000.0, 0},             // the interval is at least 1
    };
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        const auto& [times, interval, maxFps, fps, timeout] = cases[i];
        SCOPED_TRACE("case " + std::to_string(i));
        counter.setAveragingInterval(interval);
        counter.setMaxFps(maxFps);
        counter.start();
        addAt(times);
        EXPECT_DOUBLE_EQ(counter.currentFps(), fps);
        EXPECT_EQ(counter.nextSampleTimeout(), timeout);
        EXPECT_EQ(counter.isOverMaxFps(), maxFps > 0 && fps > maxFps);
    }
}

TEST_F(FrameRateCounter, OnlyAStartedCounterTakesSamplesAndKeepsTheNewestMaxSamples)
{
    addAt({0, 100, 200}); // not started: ignored
    EXPECT_TRUE(counter.currentFps() == 0.0 && counter.nextSampleTimeout() == 0);
    counter.start();
    addAt({300, 400});
    counter.stop(); // keeps the samples and ignores new ones
    addAt({401});
    EXPECT_DOUBLE_EQ(counter.currentFps(), 10.0);

    // start empties the list. Room for 20 samples: the first of 21 is dropped, leaving 19 intervals
    // over 190 ms.
    counter.setMaxSamples(20);
    counter.start();
    for (int i = -1; i < 20; ++i)
        addAt({i < 0 ? 0 : 100 + i * 10});
    EXPECT_DOUBLE_EQ(counter.currentFps(), 100.0);

    // removeLastTimestamp takes back the newest sample, and does nothing when there is none.
    counter.start();
    counter.removeLastTimestamp();
    addAt({0, 100, 400});
    counter.removeLastTimestamp();
    EXPECT_DOUBLE_EQ(counter.currentFps(), 10.0);
}
