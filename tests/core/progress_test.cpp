#include <ox/progress.h>

#include <gtest/gtest.h>

#include <cmath>

TEST(ProgressUpdater, ValuesOutsideTheRangeAndRangesWithoutWidthAreIgnoredAndOnlyChangesSignal)
{
    EXPECT_EQ(ox::CxProgressUpdater().maximum(), 100.0); // 0 to 100 by default
    ox::CxProgressUpdater p(-50.0, 50.0);
    int emitted = 0;
    QObject::connect(&p, &ox::CxProgressUpdater::progressChanged, [&] { ++emitted; });
    for (double ignored : {-50.0 /* the stored value */, 50.0001, -51.0, std::nan("")})
        p.setValue(ignored, true);
    EXPECT_TRUE(emitted == 0 && p.value() == -50.0);
    p.setValue(50.0, true); // bound included
    EXPECT_TRUE(emitted == 1 && p.valuePercent() == 100.0);
    p.setValue(0.0, false); // stored silently
    p.notifyProgressChanged();
    EXPECT_TRUE(emitted == 2 && p.valuePercent() == 50.0);

    for (double max : {-100.0, -50.0, std::nan("")})
        p.setRange(-50.0, max);
    EXPECT_TRUE(p.minimum() == -50.0 && p.maximum() == 50.0);
    p.setRange(10.0, 110.0); // never moves the value
    EXPECT_TRUE(p.value() == 0.0 && p.valuePercent() == -10.0);

    // A directly connected receiver reads and writes back: the lock is not held while emitting.
    QObject::connect(&p, &ox::CxProgressUpdater::progressChanged, [&] { p.setRange(10.0, p.value() + 1.0); });
    p.setValue(30.0, true);
    EXPECT_TRUE(emitted == 3 && p.maximum() == 31.0);
}

TEST(CancellationToken, CancelSignalsOncePerTransitionAndReceiversMayQueryAndReset)
{
    ox::CxCancellationToken token;
    int emitted = 0;
    QObject::connect(&token, &ox::CxCancellationToken::cancelled, [&] { emitted += token.isCancelled(); });
    token.cancel(); // created cancelled: no transition
    EXPECT_TRUE(token.isCancelled() && emitted == 0);
    token.reset(); // silent
    EXPECT_FALSE(token.isCancelled());
    token.cancel();
    token.cancel();
    EXPECT_TRUE(token.isCancelled() && emitted == 1);

    QObject::connect(&token, &ox::CxCancellationToken::cancelled, [&] { token.reset(); });
    token.reset();
    token.cancel();
    EXPECT_TRUE(emitted == 2 && !token.isCancelled());
}
