#include <ox/imagebuf.h>

#include "core/log.h"
#include "support/message_capture.h"
#include "support/pipe_items.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

// Stands in for the handler a host had installed before the library opened its log: created before
// the first opening and never destroyed, so the library's handler (installed once per process) always
// forwards to it. The process first gets a home folder of its own, so that its log folder starts
// empty and parallel test processes never share it.
oxtest::MessageCapture& Host()
{
    static const QTemporaryDir home;
    [[maybe_unused]] static const bool moved = qputenv("HOME", QFile::encodeName(home.path()));
    static auto* host = new oxtest::MessageCapture;
    return *host;
}

// A pipe item whose stop() can be called from outside: stopping it when stopped gives a warning.
struct StoppableItem : oxtest::TestSource
{
    using IxPipeItem::stop;
};

// A (sparse) file of `size` bytes in `dir`, last modified `age` minutes ago; returns its name.
QString MakeFile(const QDir& dir, const QString& name, qint64 size, int age)
{
    QFile f(dir.filePath(name));
    EXPECT_TRUE(f.open(QIODevice::WriteOnly) && f.resize(size)) << name.toStdString();
    f.setFileTime(QDateTime::currentDateTime().addSecs(-60 * age), QFileDevice::FileModificationTime);
    return name;
}

QByteArray ReadAll(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
}

struct LogFile : ::testing::Test
{
    void SetUp() override { Host().clear(); }
    void TearDown() override { ox::detail::CloseLog(); }
};

} // namespace

TEST_F(LogFile, EachOpeningPrunesAndLinesGoOnceToTheFileAndOnceToThePreviousHandler)
{
    QDir dir(ox::detail::LogDirectory()); // holding twelve small old logs, old-00 the newest
    ASSERT_TRUE(dir.removeRecursively() && QDir().mkpath(dir.path()));
    for (int i = 0; i < 12; ++i)
        MakeFile(dir, QString("old-%1.log").arg(i, 2, 10, QChar('0')), 100, i + 1);
    ASSERT_TRUE(ox::detail::OpenLog());
    const QString first = ox::detail::CurrentLogFilePath();
    // An error (a copy between memory tags without a copy hook) and a warning, in the library's form.
    ox::SxImageBuf a;
    ox::AllocBuffer(a, 1, 1, 1, ox::eUInt8, 0, 0, ox::ePixel, true, ox::eUncompressed);
    QByteArray other(int(a.dataSize), '\0');
    ox::SxImageBuf b = a; // other memory, tagged as another kind
    b.data = reinterpret_cast<quint8*>(other.data());
    b.memoryTag = 1;
    EXPECT_EQ(ox::CopyBuffer(a, b), ox::eErrFailed);
    ox::FreeBuffer(a);
    StoppableItem().stop();
    ox::detail::CloseLog();
    qWarning("while closed");
    ASSERT_TRUE(ox::detail::OpenLog());
    const QString second = ox::detail::CurrentLogFilePath();
    qCritical("second message");
    ox::detail::CloseLog();

    const QString error = "ERROR | \"Failed to copy the image buffer.\"";
    const QString warning = "WARN | \"The pipe item 'oxtest::TestSource' is already stopped.\"";
    EXPECT_EQ(ReadAll(first), (error + "\n" + warning + "\n").toUtf8());
    EXPECT_EQ(ReadAll(second), QByteArray("second message\n"));
    EXPECT_EQ(Host().lines(), QStringList({error, warning, "while closed", "second message"}));
    EXPECT_TRUE(Host().lines(QtCriticalMsg) == QStringList({error, "second message"}) &&
                Host().lines(QtDebugMsg) == QStringList{warning});
    // The ten newest files stay at each opening: the second one removed old-09.
    EXPECT_EQ(dir.entryList({"*.log"}).size(), 11);
    EXPECT_TRUE(dir.exists(QFileInfo(second).fileName()) && dir.exists("old-08.log") &&
                !dir.exists("old-09.log"));
}

TEST(LogMessages, FailedFunctionsNameTheirCodeInEightLowerCaseHexDigits)
{
    EXPECT_EQ(ox::detail::FunctionFailedMessage("Save", 0xab), "Function Save failed. Code 0x000000ab");
    EXPECT_EQ(ox::detail::FunctionFailedMessage("Load", 0xDEADBEEF), "Function Load failed. Code 0xdeadbeef");
    EXPECT_EQ(ox::detail::FunctionFailedMessage("Load"), "Function Load failed.");
}

TEST_F(LogFile, MessageGrowingTheFilePastTenMiBStaysInItAndTheNextGoesToANewFile)
{
    ASSERT_TRUE(ox::detail::OpenLog());
    const QString first = ox::detail::CurrentLogFilePath();
    const QByteArray chunk(1048575, 'x'); // 1 MiB a line: the 10th reaches 10 MiB, the 11th crosses it
    int written = 0;
    for (; ox::detail::CurrentLogFilePath() == first && written < 20; ++written)
        qDebug("%s", chunk.constData());
    qDebug("after rotation");
    EXPECT_TRUE(written == 11 && QFileInfo(first).size() == 11 * 1048576);
    EXPECT_EQ(ReadAll(ox::detail::CurrentLogFilePath()), QByteArray("after rotation\n"));
    EXPECT_EQ(Host().lines().size(), 12);
}

TEST(LogPruning, KeepsTheNewestFilesThatFitIn50MiB)
{
    constexpr qint64 MiB = 1024 * 1024;
    // Sizes of old-0.log (the newest), old-1.log, ..., and how many of the newest stay.
    const std::pair<QVector<qint64>, int> cases[] = {
        {{20 * MiB, 20 * MiB, 10 * MiB, 1, 1}, 3}, // exactly the limit stays; the next byte crosses it
        {{50 * MiB + 1, 10}, 0},                   // a newest file alone over the limit: all go
    };
    for (const auto& [sizes, kept] : cases) {
        QTemporaryDir tmp;
        const QDir dir(tmp.path());
        QStringList expected;
        for (int i = 0; i < sizes.size(); ++i)
            expected << MakeFile(dir, QString("old-%1.log").arg(i), sizes[i], i);
        MakeFile(dir, "notes.txt", 60 * MiB, 0); // no log file
        ox::detail::PruneLogFiles(tmp.path() + "/");
        EXPECT_EQ(dir.entryList({"*.log"}, QDir::Files, QDir::Name), expected.mid(0, kept)) << kept;
        EXPECT_TRUE(dir.exists("notes.txt"));
    }
}
