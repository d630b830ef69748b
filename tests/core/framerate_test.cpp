#include <ox/framerate.h>

#include "core/framerate_internal.h"

#include <gtest/gtest.h>

#include <atomic>
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
    void SetUp() override
    {
        g_now = 0;
        ox::detail::SetFrameRateClock(&TestClock);
    }
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

TEST_F(FrameRateCounter, NewCounterIsStoppedReportsNothingAndIgnoresSamples)
{
    EXPECT_FALSE(counter.isStarted());
    EXPECT_EQ(counter.maxFps(), std::numeric_limits<double>::max());
    EXPECT_EQ(counter.maxSamples(), 200);
    EXPECT_EQ(counter.averagingInterval(), 2000);

    addAt({0, 100, 200});
    EXPECT_EQ(counter.currentFps(), 0.0);
    EXPECT_EQ(counter.nextSampleTimeout(), 0);
    EXPECT_EQ(counter.elapsedMsec(), 0);

    counter.start();
    addAt({300}); // one sample: still no rate
    EXPECT_EQ(counter.currentFps(), 0.0);
    EXPECT_EQ(counter.nextSampleTimeout(), 0);
    addAt({400});
    EXPECT_DOUBLE_EQ(counter.currentFps(), 10.0); // the three samples before start() were ignored
}

TEST_F(FrameRateCounter, RateAndTimeoutFollowTheWindowArithmetic)
{
    counter.start();
    EXPECT_TRUE(counter.isStarted());
    addAt({0, 100, 200, 300});
    EXPECT_DOUBLE_EQ(counter.currentFps(), 10.0); // 3 x 1000 / 300

    // No limit by default.
    EXPECT_FALSE(counter.isOverMaxFps());
    EXPECT_EQ(counter.nextSampleTimeout(), 0);

    counter.setMaxFps(5.0);
    EXPECT_TRUE(counter.isOverMaxFps());
    EXPECT_EQ(counter.nextSampleTimeout(), 500); // (4 / 5 - 0.3) x 1000

    counter.setMaxFps(10.0); // equal is not over; 400 - 300 ms
    EXPECT_FALSE(counter.isOverMaxFps());
    EXPECT_EQ(counter.nextSampleTimeout(), 100);

    counter.setMaxFps(40.0); // (0.1 - 0.3) x 1000 is negative
    EXPECT_EQ(counter.nextSampleTimeout(), 0);

    counter.setMaxFps(3.0); // (4 / 3 - 0.3) x 1000 = 1033.33, truncated
    EXPECT_EQ(counter.nextSampleTimeout(), 1033);

    for (double off : {0.0, -1.0}) {
        counter.setMaxFps(off);
        EXPECT_EQ(counter.maxFps(), off);
        EXPECT_FALSE(counter.isOverMaxFps());
        EXPECT_EQ(counter.nextSampleTimeout(), 0);
    }
}

TEST_F(FrameRateCounter, WindowStartsAtTheFirstSampleWithinTheInterval)
{
    counter.start();
    counter.setAveragingInterval(1000);
    addAt({0, 1000, 2000, 3000});
    EXPECT_DOUBLE_EQ(counter.currentFps(), 1.0); // window 2000..3000

    // A sample exactly at the window's edge belongs to it: with 1000 in the window the rate is
    // 2 x 1000 / 1000, without it 1 x 1000 / 100.
    counter.start();
    addAt({0, 1000, 1900, 2000});
    EXPECT_DOUBLE_EQ(counter.currentFps(), 2.0);
    counter.setMaxFps(1.0);
    EXPECT_EQ(counter.nextSampleTimeout(), 2000); // (3 / 1 - 1.0) x 1000

    // Only samples equal to the newest in the window: it widens by one sample.
    counter.start();
    addAt({0, 5000, 5000, 5000});
    EXPECT_DOUBLE_EQ(counter.currentFps(), 3.0 * 1000.0 / 5000.0);
    EXPECT_EQ(counter.nextSampleTimeout(), 0); // (4 / 1 - 5) x 1000 < 0
    counter.setMaxFps(0.5);
    EXPECT_EQ(counter.nextSampleTimeout(), 3000); // (4 / 0.5 - 5) x 1000

    // Every sample equal: no span to measure a rate over; the timeout counts all samples.
    counter.start();
    addAt({700, 700, 700});
    EXPECT_EQ(counter.currentFps(), 0.0);
    EXPECT_FALSE(counter.isOverMaxFps());
    EXPECT_EQ(counter.nextSampleTimeout(), 6000); // 3 / 0.5 x 1000

    // A clock that went backwards: the oldest sample is after the newest.
    counter.start();
    addAt({900, 500, 100});
    EXPECT_EQ(counter.currentFps(), 0.0);
    EXPECT_EQ(counter.nextSampleTimeout(), 0);

    // An absurdly small maximum saturates instead of overflowing.
    counter.start();
    addAt({0, 1});
    counter.setMaxFps(1e-300);
    EXPECT_EQ(counter.nextSampleTimeout(), std::numeric_limits<int>::max());
}

TEST_F(FrameRateCounter, SampleListIsBoundedAndEditable)
{
    counter.setMaxSamples(1);
    EXPECT_EQ(counter.maxSamples(), 2);
    counter.setAveragingInterval(0);
    EXPECT_EQ(counter.averagingInterval(), 1);
    counter.setMaxSamples(200);
    counter.setAveragingInterval(100000);

    // 201 samples 10 ms apart keep the newest 200: 199 intervals over 1990 ms.
    counter.start();
    for (int i = 0; i <= 200; ++i)
        addAt({qint64(i) * 10});
    EXPECT_DOUBLE_EQ(counter.currentFps(), 199.0 * 1000.0 / 1990.0);

    // Lowering the maximum drops one old sample per later call, not all at once.
    counter.setMaxSamples(3);
    addAt({2010}); // 200 held: 20 .. 2010
    EXPECT_DOUBLE_EQ(counter.currentFps(), 199.0 * 1000.0 / 1990.0);

    // removeLastTimestamp takes back the newest sample.
    counter.start();
    counter.removeLastTimestamp(); // nothing to remove
    addAt({0, 100, 400});
    counter.removeLastTimestamp();
    EXPECT_DOUBLE_EQ(counter.currentFps(), 10.0); // 0, 100
    counter.removeLastTimestamp();
    EXPECT_EQ(counter.currentFps(), 0.0);

    // stop keeps the samples and ignores new ones; start empties them.
    addAt({200, 300});
    counter.stop();
    EXPECT_FALSE(counter.isStarted());
    addAt({301});
    EXPECT_DOUBLE_EQ(counter.currentFps(), 2.0 * 1000.0 / 300.0); // 0, 200, 300
    counter.start();
    EXPECT_EQ(counter.currentFps(), 0.0);
}

TEST(FrameRateCounterClock, RealTimerMeasuresElapsedTime)
{
    ox::CxFrameRateCounter counter;
    counter.start();
    counter.addTimestamp();
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    counter.addTimestamp();
    const qint64 elapsed = counter.elapsedMsec();
    EXPECT_GE(elapsed, 30);
    EXPECT_GT(counter.currentFps(), 0.0);
    EXPECT_LE(counter.currentFps(), 1000.0 / 30.0 + 1e-9);
}

TEST(FrameRateCounterClock, ManyThreadsAddAndReadAtOnce)
{
    ox::CxFrameRateCounter counter;
    counter.setMaxSamples(50);
    counter.start();
    std::atomic<bool> go{false};
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&, t] {
            while (!go.load())
                std::this_thread::yield();
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
    go = true;
    for (std::thread& th : threads)
        th.join();
    EXPECT_TRUE(counter.isStarted());
}
