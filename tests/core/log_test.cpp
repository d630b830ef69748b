#include "core/log.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtGlobal>

#include <gtest/gtest.h>

#include <mutex>

namespace {

// Stands in for the handler a host had installed before the library opened its log. It is
// installed before any test runs, so the library's handler, installed once per process by the
// first opening, always remembers it and forwards to it. While recording it keeps the messages
// (their first 64 characters) instead of printing them.
std::mutex g_hostMutex;
bool g_recording = false;   // guarded by g_hostMutex
QStringList g_hostMessages; // guarded by g_hostMutex
QtMessageHandler g_beforeHost = nullptr;

void HostHandler(QtMsgType type, const QMessageLogContext& context, const QString& message)
{
    {
        std::lock_guard<std::mutex> lock(g_hostMutex);
        if (g_recording) {
            g_hostMessages << message.left(64);
            return;
        }
    }
    if (g_beforeHost)
        g_beforeHost(type, context, message);
}

QStringList HostMessages()
{
    std::lock_guard<std::mutex> lock(g_hostMutex);
    return g_hostMessages;
}

void Record(bool on)
{
    std::lock_guard<std::mutex> lock(g_hostMutex);
    g_recording = on;
    g_hostMessages.clear();
}

class HostHandlerEnvironment : public ::testing::Environment
{
public:
    void SetUp() override { g_beforeHost = qInstallMessageHandler(&HostHandler); }
};
const auto* const g_hostEnvironment = ::testing::AddGlobalTestEnvironment(new HostHandlerEnvironment);

QByteArray ReadAll(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
}

// A file of `size` bytes (sparse) with the given modification time.
void MakeFile(const QString& path, qint64 size, const QDateTime& modified)
{
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly)) << path.toStdString();
    ASSERT_TRUE(f.resize(size));
    ASSERT_TRUE(f.setFileTime(modified, QFileDevice::FileModificationTime));
}

QStringList LogFiles(const QString& dir)
{
    return QDir(dir).entryList({QStringLiteral("*.log")}, QDir::Files, QDir::Name);
}

// Each test gets its own home folder, so the log folder (under the test-mode data location) is
// empty at the start and parallel test processes never share it.
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
    const QDateTime before = QDateTime::currentDateTime().addSecs(-1);
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
    const QDateTime after = QDateTime::currentDateTime().addSecs(1);

    EXPECT_NE(first, second);
    EXPECT_EQ(ReadAll(first), QByteArray("first message\n"));
    EXPECT_EQ(ReadAll(second), QByteArray("second message\n"));
    EXPECT_EQ(HostMessages(), QStringList({"first message", "while closed", "second message"}));

    // Named after the local time of opening, in the log folder.
    for (const QString& path : {first, second}) {
        const QFileInfo info(path);
        EXPECT_EQ(info.absolutePath(), QDir(ox::detail::LogDirectory()).absolutePath());
        const auto match =
            QRegularExpression(QStringLiteral("^(\\d{4}-\\d\\d-\\d\\d_\\d\\d-\\d\\d-\\d\\d)(_\\d+)?\\.log$"))
                .match(info.fileName());
        ASSERT_TRUE(match.hasMatch()) << info.fileName().toStdString();
        const QDateTime stamp =
            QDateTime::fromString(match.captured(1), QStringLiteral("yyyy-MM-dd_HH-mm-ss"));
        EXPECT_TRUE(stamp >= before && stamp <= after) << info.fileName().toStdString();
    }
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
    EXPECT_EQ(LogFiles(ox::detail::LogDirectory()).size(), 2);
    EXPECT_EQ(HostMessages().size(), 12);
}

TEST_F(LogFile, OpeningKeepsTheTenNewestOldFiles)
{
    const QDir dir(ox::detail::LogDirectory());
    ASSERT_TRUE(QDir().mkpath(dir.path()));
    const QDateTime now = QDateTime::currentDateTime();
    for (int i = 0; i < 12; ++i) // old-00 is the newest
        MakeFile(dir.filePath(QStringLiteral("old-%1.log").arg(i, 2, 10, QLatin1Char('0'))), 100,
                 now.addSecs(-3600 * (i + 1)));
    MakeFile(dir.filePath(QStringLiteral("notes.txt")), 100, now.addDays(-30));

    ASSERT_TRUE(ox::detail::OpenLog());

    QStringList expected;
    for (int i = 0; i < 10; ++i)
        expected << QStringLiteral("old-%1.log").arg(i, 2, 10, QLatin1Char('0'));
    expected << QFileInfo(ox::detail::CurrentLogFilePath()).fileName();
    expected.sort();
    EXPECT_EQ(LogFiles(dir.path()), expected);
    EXPECT_TRUE(dir.exists(QStringLiteral("notes.txt")));
}

TEST_F(LogFile, UnopenableFileIsReportedAndMessagesAreOnlyForwarded)
{
    // A plain file where the log folder should be.
    const QString logDir = ox::detail::LogDirectory();
    ASSERT_TRUE(QDir().mkpath(QFileInfo(logDir).absolutePath()));
    MakeFile(logDir, 0, QDateTime::currentDateTime());

    ::testing::internal::CaptureStderr();
    const bool opened = ox::detail::OpenLog();
    const std::string err = ::testing::internal::GetCapturedStderr();
    EXPECT_FALSE(opened);
    EXPECT_EQ(err, "Failed to open the log file.\n");
    EXPECT_TRUE(ox::detail::CurrentLogFilePath().isEmpty());

    qInfo("still delivered");
    EXPECT_EQ(HostMessages(), QStringList({"still delivered"}));
}

TEST(LogPruning, KeepsTheNewestFilesThatFitIn50MiB)
{
    constexpr qint64 MiB = 1024 * 1024;
    const QDateTime now = QDateTime::currentDateTime();

    // Newest first: 20 + 20 + 10 MiB is exactly the limit and stays; the next byte crosses it.
    QTemporaryDir a;
    ASSERT_TRUE(a.isValid());
    const qint64 sizes[] = {20 * MiB, 20 * MiB, 10 * MiB, 1, 1};
    for (int i = 0; i < 5; ++i)
        MakeFile(a.filePath(QStringLiteral("f%1.log").arg(i)), sizes[i], now.addSecs(-60 * i));
    ox::detail::PruneLogFiles(a.path());
    EXPECT_EQ(LogFiles(a.path()), QStringList({"f0.log", "f1.log", "f2.log"}));

    // A newest file that alone crosses the limit goes, and so does everything older.
    QTemporaryDir b;
    ASSERT_TRUE(b.isValid());
    MakeFile(b.filePath(QStringLiteral("big.log")), 50 * MiB + 1, now);
    MakeFile(b.filePath(QStringLiteral("small.log")), 10, now.addSecs(-60));
    ox::detail::PruneLogFiles(b.path() + QLatin1Char('/'));
    EXPECT_TRUE(LogFiles(b.path()).isEmpty());
}

} // namespace
