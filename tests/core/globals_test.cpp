#include <ox/appinterface.h>
#include <ox/globals.h>

#include <QObject>

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

namespace {

// The store is process-wide: every test uses keys of its own.

TEST(CxGlobals, AbsentKeysGiveEmptyValuesAndSetReplacesInPlace)
{
    ox::CxGlobals* g = ox::CxGlobals::instance();
    ASSERT_NE(g, nullptr);
    EXPECT_EQ(ox::CxGlobals::instance(), g);

    const QString key = QStringLiteral("test.absent");
    EXPECT_FALSE(g->isSet(key));
    EXPECT_FALSE(g->get(key).isValid());
    EXPECT_FALSE(g->getBool(key));
    EXPECT_EQ(g->getInt32(key), 0);
    EXPECT_EQ(g->getUInt64(key), 0u);
    EXPECT_EQ(g->getPtr(key), nullptr);
    EXPECT_EQ(g->getQObject(key), nullptr);
    EXPECT_EQ(g->getString(key), QString());

    // An invalid value still makes an entry.
    const QString invalid = QStringLiteral("test.invalid");
    g->set(invalid, QVariant(), false);
    EXPECT_TRUE(g->isSet(invalid));
    EXPECT_FALSE(g->get(invalid).isValid());

    const QString key2 = QStringLiteral("test.replaced");
    g->set(key2, 1, false);
    g->set(key2, QStringLiteral("two"), true);
    EXPECT_EQ(g->get(key2), QVariant(QStringLiteral("two")));
    EXPECT_EQ(g->getString(key2), QStringLiteral("two"));
}

TEST(CxGlobals, TypedGettersConvertTheStoredValue)
{
    ox::CxGlobals* g = ox::CxGlobals::instance();
    QObject object;
    int local = 0;
    g->set(QStringLiteral("test.object"), QVariant::fromValue(quint64(quintptr(&object))), false);
    g->set(QStringLiteral("test.ptr"), QVariant::fromValue(quint64(quintptr(&local))), false);
    g->set(QStringLiteral("test.big"), QVariant::fromValue(Q_UINT64_C(0x1234567890)), false);
    g->set(QStringLiteral("test.negative"), -5, false);
    g->set(QStringLiteral("test.text"), QStringLiteral("42"), false);

    EXPECT_EQ(g->getQObject(QStringLiteral("test.object")), &object);
    EXPECT_EQ(g->getPtr(QStringLiteral("test.ptr")), &local);
    EXPECT_EQ(g->getUInt64(QStringLiteral("test.big")), Q_UINT64_C(0x1234567890));
    EXPECT_EQ(g->getInt64(QStringLiteral("test.big")), Q_INT64_C(0x1234567890));
    EXPECT_EQ(g->getInt32(QStringLiteral("test.negative")), -5);
    EXPECT_EQ(g->getInt64(QStringLiteral("test.negative")), -5);
    EXPECT_TRUE(g->getBool(QStringLiteral("test.negative")));
    EXPECT_EQ(g->getInt32(QStringLiteral("test.text")), 42);
    EXPECT_EQ(g->getUInt32(QStringLiteral("test.text")), 42u);
    EXPECT_EQ(g->getString(QStringLiteral("test.negative")), QStringLiteral("-5"));
}

TEST(CxGlobals, ConcurrentSettersAndGettersSeeWholeValues)
{
    ox::CxGlobals* g = ox::CxGlobals::instance();
    const QString shared = QStringLiteral("test.shared");
    constexpr int kThreads = 8;
    constexpr int kRounds = 2000;
    g->set(shared, 0, false);

    std::atomic<int> mismatches{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            const QString own = QStringLiteral("test.thread.%1").arg(t);
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
        EXPECT_EQ(g->getInt32(QStringLiteral("test.thread.%1").arg(t)), kRounds - 1);
    EXPECT_TRUE(g->isSet(shared));
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
