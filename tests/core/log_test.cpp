#include "core/log.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <mutex>

namespace {

// Stands in for the handler a host had installed before the library opened its log. Installed
// before any test runs, so the library's handler (installed once per process) always forwards to
// it. While recording it keeps the messages' first 64 characters instead of printing them.
struct
{
    std::mutex mutex;
    bool recording = false; // guarded by mutex
    QStringList messages;   // guarded by mutex
    QtMessageHandler before = nullptr;
} g_host;

void HostHandler(QtMsgType type, const QMessageLogContext& context, const QString& message)
{
    std::unique_lock<std::mutex> lock(g_host.mutex);
    if (g_host.recording) {
        g_host.messages << message.left(64);
    } else if (g_host.before) {
        lock.unlock();
        g_host.before(type, context, message);
    }
}

QStringList HostMessages()
{
    std::lock_guard<std::mutex> lock(g_host.mutex);
    return g_host.messages;
}

void Record(bool on)
{
    std::lock_guard<std::mutex> lock(g_host.mutex);
    g_host.recording = on;
    g_host.messages.clear();
}

struct HostHandlerEnvironment : ::testing::Environment
{
    void SetUp() override { g_host.before = qInstallMessageHandler(&HostHandler); }
};
const auto* const g_hostEnvironment = ::testing::AddGlobalTestEnvironment(new HostHandlerEnvironment);

QByteArray ReadAll(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
}

// A (sparse) file of `size` bytes modified `ageSecs` seconds ago.
void MakeFile(const QString& path, qint64 size, qint64 ageSecs)
{
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly) && f.resize(size)) << path.toStdString();
    ASSERT_TRUE(
        f.setFileTime(QDateTime::currentDateTime().addSecs(-ageSecs), QFileDevice::FileModificationTime));
}

QStringList LogFiles(const QString& dir)
{
    return QDir(dir).entryList({QStringLiteral("*.log")}, QDir::Files, QDir::Name);
}

QString OldName(int i)
{
    return QStringLiteral("old-%1.log").arg(i, 2, 10, QLatin1Char('0'));
}

// Each test gets its own home folder, so the log folder (under the test-mode data location) starts
// empty and parallel test processes never share it.
class LogFile : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_home.isValid());
        m_savedHome = qgetenv("HOME");
        qputenv("HOME", QFile::encodeName(m_home.path()));
        ASSERT_TRUE(ox::detail::LogDirectory().startsWith(m_home.path()));
        Record(true);
    }
    void TearDown() override
    {
        ox::detail::CloseLog();
        Record(false);
        qputenv("HOME", m_savedHome);
    }
    QTemporaryDir m_home;
    QByteArray m_savedHome;
};

TEST_F(LogFile, ReopeningWritesEachMessageOnceToTheNewFileAndForwardsItOnce)
{
    ASSERT_TRUE(ox::detail::OpenLog());
    const QString first = ox::detail::CurrentLogFilePath();
    qInfo("first message");
    ox::detail::CloseLog();
    EXPECT_TRUE(ox::detail::CurrentLogFilePath().isEmpty());
    qWarning("while closed");
    ASSERT_TRUE(ox::detail::OpenLog());
    const QString second = ox::detail::CurrentLogFilePath();
    qCritical("second message");
    ox::detail::CloseLog();

    EXPECT_NE(first, second);
    EXPECT_EQ(QFileInfo(second).absolutePath(), QDir(ox::detail::LogDirectory()).absolutePath());
    EXPECT_EQ(ReadAll(first), QByteArray("first message\n"));
    EXPECT_EQ(ReadAll(second), QByteArray("second message\n"));
    EXPECT_EQ(HostMessages(), QStringList({"first message", "while closed", "second message"}));
}

TEST_F(LogFile, MessageGrowingTheFilePastTenMiBStaysInItAndTheNextGoesToANewFile)
{
    ASSERT_TRUE(ox::detail::OpenLog());
    const QString first = ox::detail::CurrentLogFilePath();
    const QByteArray chunk(1000000, 'x'); // 1,000,001 bytes a line: the 11th crosses 10 MiB
    int written = 0;
    while (ox::detail::CurrentLogFilePath() == first && written < 20) {
        qDebug("%s", chunk.constData());
        ++written;
    }
    EXPECT_EQ(written, 11);
    qDebug("after rotation");
    const QString second = ox::detail::CurrentLogFilePath();
    EXPECT_NE(second, first);
    EXPECT_EQ(QFileInfo(first).size(), 11 * 1000001);
    EXPECT_EQ(ReadAll(second), QByteArray("after rotation\n"));
    EXPECT_EQ(HostMessages().size(), 12);
}

TEST(LogPruning, KeepsTheNewestTenFilesThatFitIn50MiB)
{
    constexpr qint64 MiB = 1024 * 1024;
    // Sizes newest first, and how many of the newest stay.
    const struct
    {
        QVector<qint64> sizes;
        int kept;
    } cases[] = {
        {{20 * MiB, 20 * MiB, 10 * MiB, 1, 1}, 3}, // exactly the limit stays; the next byte crosses it
        {{50 * MiB + 1, 10}, 0},                   // a newest file alone over the limit: all go
        {QVector<qint64>(12, 100), 10},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.kept);
        QTemporaryDir dir;
        ASSERT_TRUE(dir.isValid());
        QStringList expected;
        for (int i = 0; i < c.sizes.size(); ++i) {
            MakeFile(dir.filePath(OldName(i)), c.sizes[i], 60 * i);
            if (i < c.kept)
                expected << OldName(i);
        }
        MakeFile(dir.filePath(QStringLiteral("notes.txt")), 60 * MiB, 0); // not a log file
        ox::detail::PruneLogFiles(dir.path() + QLatin1Char('/'));
        EXPECT_EQ(LogFiles(dir.path()), expected);
        EXPECT_TRUE(QFileInfo::exists(dir.filePath(QStringLiteral("notes.txt"))));
    }
}

} // namespace
