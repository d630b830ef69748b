#include <ox/framerate.h>

#include "core/framerate_internal.h"

#include <gtest/gtest.h>

#include <initializer_list>
#include <limits>

namespace {

// The time every started counter reads while the test clock is installed.
qint64 g_now = 0;
qint64 TestClock()
{
    return g_now;
}

// Places samples at exact times.
class FrameRateCounter : public ::testing::Test
{
protected:
    void SetUp() override { ox::detail::SetFrameRateClock(&TestClock); }
    void TearDown() override { ox::detail::SetFrameRateClock(nullptr); }
    void addAt(std::initializer_list<qint64> times)
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
    struct Case
    {
        std::initializer_list<qint64> times;
        int interval;
        double maxFps, fps;
        int timeout;
    };
    const double noLimit = std::numeric_limits<double>::max();
    const Case cases[] = {
        {{300}, 2000, noLimit, 0.0, 0}, // one sample: no rate
        {{0, 100, 200, 300}, 2000, noLimit, 10.0, 0},
        {{0, 100, 200, 300}, 2000, 5.0, 10.0, 500},    // (4 / 5 - 0.3) x 1000
        {{0, 100, 200, 300}, 2000, 3.0, 10.0, 1033},   // truncated
        {{0, 100, 200, 300}, 2000, 10.0, 10.0, 100},   // equal is not over
        {{0, 1000, 1900, 2000}, 1000, 1.0, 2.0, 2000}, // a sample at the edge belongs to the window
        {{0, 5000, 5000, 5000}, 1000, 0.5, 0.6, 3000}, // only the newest's equals: widened by one
        {{700, 700, 700}, 1000, 0.5, 0.0, 6000},       // no span: no rate, the timeout counts all
        {{0, 1}, 1000, 1e-300, 1000.0, std::numeric_limits<int>::max()}, // saturates
        {{0, 9, 10}, -5, noLimit, 1000.0, 0},                            // the interval is at least 1
    };
    for (const Case& c : cases) {
        SCOPED_TRACE("case " + std::to_string(&c - cases));
        counter.setAveragingInterval(c.interval);
        counter.setMaxFps(c.maxFps);
        counter.start();
        addAt(c.times);
        const double fps = counter.currentFps();
        EXPECT_DOUBLE_EQ(fps, c.fps);
        EXPECT_EQ(counter.nextSampleTimeout(), c.timeout);
        EXPECT_EQ(counter.isOverMaxFps(), c.maxFps > 0 && fps > c.maxFps);
    }
}

TEST_F(FrameRateCounter, OnlyAStartedCounterTakesSamplesAndTheListIsBoundedAndEditable)
{
    addAt({0, 100, 200}); // not started: ignored
    EXPECT_EQ(counter.currentFps(), 0.0);
    EXPECT_EQ(counter.nextSampleTimeout(), 0);
    counter.start();
    addAt({300, 400});
    EXPECT_DOUBLE_EQ(counter.currentFps(), 10.0);
    // stop keeps the samples and ignores new ones; start empties them.
    counter.stop();
    addAt({401});
    EXPECT_FALSE(counter.isStarted());
    EXPECT_DOUBLE_EQ(counter.currentFps(), 10.0);

    // Room for 20 samples: the first of 21 is dropped, leaving 19 intervals over 190 ms.
    counter.setMaxSamples(20);
    counter.start();
    addAt({0});
    for (int i = 0; i < 20; ++i)
        addAt({100 + qint64(i) * 10});
    EXPECT_DOUBLE_EQ(counter.currentFps(), 100.0);

    // removeLastTimestamp takes back the newest sample, and does nothing when there is none.
    counter.start();
    counter.removeLastTimestamp();
    addAt({0, 100, 400});
    counter.removeLastTimestamp();
    EXPECT_DOUBLE_EQ(counter.currentFps(), 10.0);
    counter.removeLastTimestamp();
    EXPECT_EQ(counter.currentFps(), 0.0);
}
