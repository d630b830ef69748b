#include <ox/progress.h>

#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <thread>
#include <vector>

TEST(ProgressUpdater, DefaultsAndRangeRules)
{
    ox::CxProgressUpdater p;
    EXPECT_EQ(p.minimum(), 0.0);
    EXPECT_EQ(p.maximum(), 100.0);
    EXPECT_EQ(p.value(), 0.0);
    EXPECT_EQ(p.valuePercent(), 0.0);
    EXPECT_EQ(p.parent(), nullptr);

    // Bounds are stored unchecked by the constructor, the value starts at the minimum.
    ox::CxProgressUpdater reversed(10.0, -10.0);
    EXPECT_EQ(reversed.minimum(), 10.0);
    EXPECT_EQ(reversed.maximum(), -10.0);
    EXPECT_EQ(reversed.value(), 10.0);
    EXPECT_EQ(ox::CxProgressUpdater(5.0, 5.0).valuePercent(), 0.0);

    // setRange needs maximum > minimum and never adjusts the value.
    p.setValue(50.0, false);
    p.setRange(5.0, 5.0);
    p.setRange(10.0, 0.0);
    p.setRange(0.0, std::nan(""));
    EXPECT_EQ(p.minimum(), 0.0);
    EXPECT_EQ(p.maximum(), 100.0);
    p.setRange(60.0, 160.0);
    EXPECT_EQ(p.minimum(), 60.0);
    EXPECT_EQ(p.maximum(), 160.0);
    EXPECT_EQ(p.value(), 50.0);
    EXPECT_DOUBLE_EQ(p.valuePercent(), -10.0); // outside 0..100 after such a range change
    p.setRange(0.0, 40.0);
    EXPECT_DOUBLE_EQ(p.valuePercent(), 125.0);
}

TEST(ProgressUpdater, SetValueStoresAndSignalsOnlyChangesWithinTheRange)
{
    ox::CxProgressUpdater p(-50.0, 50.0);
    int emitted = 0;
    QObject::connect(&p, &ox::CxProgressUpdater::progressChanged, [&] { ++emitted; });

    p.setValue(-50.0, true); // the stored value
    EXPECT_EQ(emitted, 0);
    p.setValue(50.0001, true);
    p.setValue(-51.0, true);
    p.setValue(std::nan(""), true);
    EXPECT_EQ(emitted, 0);
    EXPECT_EQ(p.value(), -50.0);

    p.setValue(50.0, true); // bound included
    EXPECT_EQ(emitted, 1);
    EXPECT_DOUBLE_EQ(p.valuePercent(), 100.0);
    p.setValue(0.0, false); // stored silently
    EXPECT_EQ(emitted, 1);
    EXPECT_DOUBLE_EQ(p.valuePercent(), 50.0);
    p.setValue(0.0, true); // unchanged
    EXPECT_EQ(emitted, 1);

    p.notifyProgressChanged();
    p.notifyProgressChanged();
    EXPECT_EQ(emitted, 3);
}

TEST(ProgressUpdater, ReceiverMayCallBackIntoTheUpdater)
{
    ox::CxProgressUpdater p;
    // A directly connected receiver reads and writes back: the lock is not held while emitting.
    double seen = -1.0;
    QObject::connect(&p, &ox::CxProgressUpdater::progressChanged, [&] {
        seen = p.value();
        p.setRange(p.minimum(), p.maximum() + 1.0);
    });
    p.setValue(30.0, true);
    EXPECT_EQ(seen, 30.0);
    EXPECT_EQ(p.maximum(), 101.0);
}

TEST(CancellationToken, CancelSignalsOncePerTransition)
{
    ox::CxCancellationToken token;
    int emitted = 0;
    QObject::connect(&token, &ox::CxCancellationToken::cancelled, [&] { ++emitted; });

    EXPECT_TRUE(token.isCancelled()); // created cancelled
    token.cancel();
    EXPECT_EQ(emitted, 0);

    token.reset();
    EXPECT_FALSE(token.isCancelled());
    EXPECT_EQ(emitted, 0); // reset is silent
    token.cancel();
    EXPECT_TRUE(token.isCancelled());
    EXPECT_EQ(emitted, 1);
    token.cancel();
    EXPECT_EQ(emitted, 1);

    // A receiver may query and reset the token while handling the signal.
    bool flagInReceiver = false;
    QObject::connect(&token, &ox::CxCancellationToken::cancelled, [&] {
        flagInReceiver = token.isCancelled();
        token.reset();
    });
    token.reset();
    token.cancel();
    EXPECT_EQ(emitted, 2);
    EXPECT_TRUE(flagInReceiver);
    EXPECT_FALSE(token.isCancelled());
}

TEST(CancellationToken, ConcurrentCancelsSignalExactlyOnce)
{
    for (int round = 0; round < 50; ++round) {
        ox::CxCancellationToken token;
        std::atomic<int> emitted{0};
        QObject::connect(&token, &ox::CxCancellationToken::cancelled, [&] { ++emitted; });
        token.reset();
        std::atomic<bool> go{false};
        std::vector<std::thread> threads;
        for (int t = 0; t < 4; ++t) {
            threads.emplace_back([&] {
                while (!go.load())
                    std::this_thread::yield();
                token.cancel();
            });
        }
        go = true;
        for (std::thread& th : threads)
            th.join();
        ASSERT_EQ(emitted.load(), 1) << "round " << round;
        EXPECT_TRUE(token.isCancelled());
    }
}
