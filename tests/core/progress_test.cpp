#include <ox/progress.h>

#include <gtest/gtest.h>

#include <cmath>

TEST(ProgressUpdater, RangeNeedsMaximumAboveMinimumAndNeverMovesTheValue)
{
    ox::CxProgressUpdater p;
    p.setValue(50.0, false);
    p.setRange(5.0, 5.0);
    p.setRange(10.0, 0.0);
    p.setRange(0.0, std::nan(""));
    EXPECT_TRUE(p.minimum() == 0.0 && p.maximum() == 100.0);
    p.setRange(60.0, 160.0);
    EXPECT_TRUE(p.minimum() == 60.0 && p.maximum() == 160.0);
    EXPECT_EQ(p.value(), 50.0);
    EXPECT_DOUBLE_EQ(p.valuePercent(), -10.0); // outside 0..100 after such a range change
}

TEST(ProgressUpdater, SetValueStoresAndSignalsOnlyChangesWithinTheRange)
{
    ox::CxProgressUpdater p(-50.0, 50.0);
    int emitted = 0;
    QObject::connect(&p, &ox::CxProgressUpdater::progressChanged, [&] { ++emitted; });
    for (double outside : {-50.0 /* the stored value */, 50.0001, -51.0, std::nan("")})
        p.setValue(outside, true);
    EXPECT_EQ(emitted, 0);
    EXPECT_EQ(p.value(), -50.0);

    p.setValue(50.0, true); // bound included
    EXPECT_EQ(emitted, 1);
    EXPECT_DOUBLE_EQ(p.valuePercent(), 100.0);
    p.setValue(0.0, false); // stored silently
    EXPECT_DOUBLE_EQ(p.valuePercent(), 50.0);
    p.setValue(0.0, true); // unchanged
    EXPECT_EQ(emitted, 1);
    p.notifyProgressChanged();
    EXPECT_EQ(emitted, 2);

    // A directly connected receiver reads and writes back: the lock is not held while emitting.
    QObject::connect(&p, &ox::CxProgressUpdater::progressChanged,
                     [&] { p.setRange(p.minimum(), p.value() + 1.0); });
    p.setValue(30.0, true);
    EXPECT_EQ(p.maximum(), 31.0);
}

TEST(CancellationToken, CancelSignalsOncePerTransition)
{
    ox::CxCancellationToken token;
    int emitted = 0;
    QObject::connect(&token, &ox::CxCancellationToken::cancelled, [&] { ++emitted; });
    EXPECT_TRUE(token.isCancelled()); // created cancelled
    token.cancel();
    EXPECT_EQ(emitted, 0);
    token.reset(); // silent
    EXPECT_FALSE(token.isCancelled());
    token.cancel();
    token.cancel();
    EXPECT_TRUE(token.isCancelled());
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
