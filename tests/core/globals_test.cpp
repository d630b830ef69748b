#include <ox/appinterface.h>
#include <ox/globals.h>

#include <QObject>

#include <atomic>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

namespace {

// The store is process-wide: every test uses keys of its own.

TEST(CxGlobals, TypedGettersConvertTheStoredValueAndAbsentKeysGiveEmptyValues)
{
    ox::CxGlobals* g = ox::CxGlobals::instance();
    ASSERT_EQ(ox::CxGlobals::instance(), g);
    EXPECT_FALSE(g->isSet("test.absent") || g->get("test.absent").isValid() || g->getBool("test.absent"));
    EXPECT_TRUE(g->getInt32("test.absent") == 0 && g->getPtr("test.absent") == nullptr);

    // An invalid value still makes an entry; a second set replaces the value.
    g->set("test.invalid", QVariant(), false);
    EXPECT_TRUE(g->isSet("test.invalid"));
    g->set("test.replaced", 1, false);
    g->set("test.replaced", QStringLiteral("two"), true);
    EXPECT_EQ(g->getString("test.replaced"), "two");

    // Pointers travel as 64-bit integers; numbers convert by the variant rules.
    QObject object;
    int local = 0;
    g->set("test.object", QVariant::fromValue(quint64(quintptr(&object))), false);
    g->set("test.ptr", QVariant::fromValue(quint64(quintptr(&local))), false);
    EXPECT_EQ(g->getQObject("test.object"), &object);
    EXPECT_EQ(g->getPtr("test.ptr"), &local);
}

class App : public ox::IxAppInterface
{};

TEST(IxAppInterface, FirstRegistrationWins)
{
    static App a; // stays registered for the rest of the process
    App b;
    // Registration is once per process: a repeated run finds `a` registered already.
    if (ox::IxAppInterface::instance() != &a) {
        ASSERT_EQ(ox::IxAppInterface::instance(), nullptr);
        EXPECT_TRUE(ox::IxAppInterface::setInstance(&a));
    }
    EXPECT_FALSE(ox::IxAppInterface::setInstance(&b));
    EXPECT_FALSE(ox::IxAppInterface::setInstance(nullptr));
    EXPECT_EQ(ox::IxAppInterface::instance(), &a);
}

} // namespace

TEST(CxGlobals, ConcurrentSettersAndGettersSeeWholeValues)
{
    ox::CxGlobals* g = ox::CxGlobals::instance();
    const QString shared = "test.shared";
    constexpr int kThreads = 8, kRounds = 2000;
    g->set(shared, 0, false);
    std::atomic<int> mismatches{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            const QString own = QString("test.thread.%1").arg(t);
            for (int i = 0; i < kRounds; ++i) {
                g->set(own, i, false);
                if (g->getInt32(own) != i)
                    ++mismatches;
                // Every value written to the shared key is below kThreads * 1000.
                g->set(shared, t * 1000 + i % 1000, true);
                const int seen = g->getInt32(shared);
                if (seen / 1000 >= kThreads || seen < 0)
                    ++mismatches;
            }
        });
    }
    for (auto& th : threads)
        th.join();
    EXPECT_EQ(mismatches.load(), 0);
    for (int t = 0; t < kThreads; ++t)
        EXPECT_EQ(g->getInt32(QString("test.thread.%1").arg(t)), kRounds - 1);
}
