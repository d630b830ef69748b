#include <ox/framerate.h>

#include "core/framerate_internal.h"

#include <gtest/gtest.h>

#include <chrono>
#include <initializer_list>
#include <limits>
#include <thread>
#include <vector>

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
        {{0, 100, 200, 300}, 2000, 5.0, 10.0, 500},  // (4 / 5 - 0.3) x 1000
        {{0, 100, 200, 300}, 2000, 3.0, 10.0, 1033}, // truncated
        {{0, 100, 200, 300}, 2000, 40.0, 10.0, 0},   // negative: raised to 0
        {{0, 100, 200, 300}, 2000, 10.0, 10.0, 100}, // equal is not over
        {{0, 100, 200, 300}, 2000, 0.0, 10.0, 0},    // regulation off
        {{0, 100, 200, 300}, 2000, -1.0, 10.0, 0},
        {{0, 1000, 2000, 3000}, 1000, 1.0, 1.0, 1000}, // window 2000..3000
        {{0, 1000, 1900, 2000}, 1000, 1.0, 2.0, 2000}, // a sample at the edge belongs to the window
        {{0, 5000, 5000, 5000}, 1000, 0.5, 0.6, 3000}, // only the newest's equals: widened by one
        {{700, 700, 700}, 1000, 0.5, 0.0, 6000},       // no span: no rate, the timeout counts all
        {{900, 500, 100}, 1000, 0.5, 0.0, 0},          // oldest after newest
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
    EXPECT_EQ(counter.elapsedMsec(), 0);
    counter.start();
    addAt({300, 400});
    EXPECT_DOUBLE_EQ(counter.currentFps(), 10.0);
    // stop keeps the samples and ignores new ones; start empties them.
    counter.stop();
    addAt({401});
    EXPECT_FALSE(counter.isStarted());
    EXPECT_DOUBLE_EQ(counter.currentFps(), 10.0);

    counter.setMaxSamples(1);
    EXPECT_EQ(counter.maxSamples(), 2);
    counter.setMaxSamples(200);
    counter.setAveragingInterval(100000);
    // 201 samples 10 ms apart keep the newest 200: 199 intervals over 1990 ms.
    counter.start();
    for (int i = 0; i <= 200; ++i)
        addAt({qint64(i) * 10});
    EXPECT_DOUBLE_EQ(counter.currentFps(), 199.0 * 1000.0 / 1990.0);
    // Lowering the maximum drops one old sample per later call, not all at once.
    counter.setMaxSamples(3);
    addAt({2010});
    EXPECT_DOUBLE_EQ(counter.currentFps(), 199.0 * 1000.0 / 1990.0);

    // removeLastTimestamp takes back the newest sample, and does nothing when there is none.
    counter.start();
    counter.removeLastTimestamp();
    addAt({0, 100, 400});
    counter.removeLastTimestamp();
    EXPECT_DOUBLE_EQ(counter.currentFps(), 10.0);
    counter.removeLastTimestamp();
    EXPECT_EQ(counter.currentFps(), 0.0);
}

TEST(FrameRateCounterThreads, RealTimerAndConcurrentUse)
{
    ox::CxFrameRateCounter counter;
    counter.start();
    counter.addTimestamp();
    std::this_thread::sleep_for(std::chrono::milliseconds(30)); // measuring time, not waiting
    counter.addTimestamp();
    EXPECT_GE(counter.elapsedMsec(), 30);
    EXPECT_GT(counter.currentFps(), 0.0);
    EXPECT_LE(counter.currentFps(), 1000.0 / 30.0 + 1e-9);

    // Writers add and take back samples while readers read and change the limit.
    counter.setMaxSamples(50);
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&counter, t] {
            for (int i = 0; i < 5000; ++i) {
                if (t % 2 == 0) {
                    counter.addTimestamp();
                    if (i % 7 == 0)
                        counter.removeLastTimestamp();
                } else {
                    EXPECT_GE(counter.currentFps(), 0.0);
                    EXPECT_GE(counter.nextSampleTimeout(), 0);
                    counter.isOverMaxFps();
                    counter.setMaxFps(i % 2 ? 100.0 : 0.0);
                }
            }
        });
    }
    for (std::thread& th : threads)
        th.join();
}
