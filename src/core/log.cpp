#include "core/log.h"

#include <ox/system.h>

#include <QDateTime>
#include <QDebug>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>

#include <cstdio>
#include <mutex>

namespace ox::detail {

namespace {

constexpr qint64 kRotateSize = 10485760;   // a file above this size is closed and a new one begun
constexpr qint64 kMaxTotalSize = 52428800; // the kept log files take at most this many bytes
constexpr int kMaxFiles = 10;              // at most this many log files are kept
constexpr QLatin1String kExtension("log");

// The log file and the message handler's state. Allocated on first use and never destroyed: Qt
// may deliver messages while static objects are torn down.
struct SxLogState
{
    // The log mutex (non-recursive): held while one message is written, while the file is rotated,
    // opened or closed, and while the previous handler is called. A standard mutex, so that
    // ThreadSanitizer sees it.
    std::mutex mutex;
    QFile file;                          // guarded by mutex
    QtMessageHandler previous = nullptr; // guarded by mutex; remembered by the first installation
    bool handlerInstalled = false;       // guarded by mutex
};

SxLogState& LogState()
{
    static SxLogState* state = new SxLogState;
    return *state;
}

QString WithTrailingSeparator(const QString& dir)
{
    if (dir.endsWith(QLatin1Char('/')) || dir.endsWith(QLatin1Char('\\')))
        return dir;
    return dir + QLatin1Char('/');
}

// A new file name in `dir` (which ends with a separator) from the local date and time, for example
// 2026-12-04_00-21-52.log. A second file begun within the same second (a fast rotation, or closing
// and reopening) would get the same name and truncate the file just finished; such a name gets a
// counter instead (2026-12-04_00-21-52_2.log, ...). Old files are pruned by modification time, so
// the counter does not disturb their order.
QString NewLogFilePath(const QString& dir)
{
    const QDateTime now = QDateTime::currentDateTime();
    const QDate date = now.date();
    const QTime time = now.time();
    const QLatin1Char zero('0');
    const QString stem = QStringLiteral("%1-%2-%3_%4-%5-%6")
                             .arg(date.year())
                             .arg(date.month(), 2, 10, zero)
                             .arg(date.day(), 2, 10, zero)
                             .arg(time.hour(), 2, 10, zero)
                             .arg(time.minute(), 2, 10, zero)
                             .arg(time.second(), 2, 10, zero);
    QString path = dir + QStringLiteral("%1.%2").arg(stem, kExtension);
    for (int n = 2; QFileInfo::exists(path); ++n)
        path = dir + QStringLiteral("%1_%2.%3").arg(stem).arg(n).arg(kExtension);
    return path;
}

void ReportOpenFailure()
{
    std::fputs("Failed to open the log file.\n", stderr);
    std::fflush(stderr);
}

// Prunes `dir` (ending with a separator) and opens a new file in it. Caller holds the log mutex.
bool OpenNewFile_noLock(SxLogState& log, const QString& dir)
{
    PruneLogFiles(dir);
    log.file.setFileName(NewLogFilePath(dir));
    return log.file.open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Text);
}

// Caller holds the log mutex.
void RotateFile_noLock(SxLogState& log)
{
    const QString dir = WithTrailingSeparator(QFileInfo(log.file.fileName()).absolutePath());
    log.file.close();
    if (!OpenNewFile_noLock(log, dir))
        ReportOpenFailure();
}

// Runs on whichever thread emits a message.
void MessageHandler(QtMsgType type, const QMessageLogContext& context, const QString& message)
{
    SxLogState& log = LogState();
    std::lock_guard<std::mutex> lock(log.mutex);
    if (log.file.isOpen()) {
        log.file.write(message.toLocal8Bit());
        log.file.write("\n", 1);
        log.file.flush();
        if (log.file.size() > kRotateSize)
            RotateFile_noLock(log);
    }
    if (log.previous)
        log.previous(type, context, message);
}

// The global clock: started by start-up, invalidated by shut-down, read from any thread.
std::mutex g_clockMutex;
QElapsedTimer g_clock; // guarded by g_clockMutex

} // namespace

void LogError(const QString& message)
{
    qCritical() << "ERROR"
                << "|" << message;
}

void LogWarning(const QString& message)
{
    qDebug() << "WARN"
             << "|" << message;
}

QString FunctionFailedMessage(const QString& function, unsigned int code)
{
    return QStringLiteral("Function %1 failed. Code 0x%2")
        .arg(function, QStringLiteral("%1").arg(code, 8, 16, QLatin1Char('0')));
}

QString FunctionFailedMessage(const QString& function)
{
    return QStringLiteral("Function %1 failed.").arg(function);
}

QString LogDirectory()
{
    return QStandardPaths::writableLocation(QStandardPaths::AppLocalDataLocation) + QDir::separator() +
           QStringLiteral("log");
}

void PruneLogFiles(const QString& dir)
{
    // Newest first: the newest files are kept as long as they fit both limits.
    const QFileInfoList files = QDir(dir).entryInfoList({QStringLiteral("*.%1").arg(kExtension)},
                                                        QDir::Files | QDir::NoDotAndDotDot, QDir::Time);
    qint64 total = 0;
    for (int i = 0; i < files.size(); ++i) {
        total += files.at(i).size();
        if (total > kMaxTotalSize || i >= kMaxFiles)
            QFile::remove(files.at(i).absoluteFilePath());
    }
}

bool OpenLog()
{
    const QString dir = LogDirectory();
    SxLogState& log = LogState();
    std::lock_guard<std::mutex> lock(log.mutex);
    if (log.file.isOpen())
        log.file.close();
    if (!QDir().mkpath(dir) || !OpenNewFile_noLock(log, WithTrailingSeparator(dir))) {
        ReportOpenFailure();
        return false;
    }
    // Installed once per process: a reopening keeps the handler and the handler it replaced, so
    // that messages are never forwarded to the library's own handler.
    if (!log.handlerInstalled) {
        log.previous = qInstallMessageHandler(&MessageHandler);
        log.handlerInstalled = true;
    }
    return true;
}

void CloseLog()
{
    SxLogState& log = LogState();
    std::lock_guard<std::mutex> lock(log.mutex);
    if (log.file.isOpen())
        log.file.close();
}

QString CurrentLogFilePath()
{
    SxLogState& log = LogState();
    std::lock_guard<std::mutex> lock(log.mutex);
    return log.file.isOpen() ? QFileInfo(log.file).absoluteFilePath() : QString();
}

void StartGlobalClock()
{
    std::lock_guard<std::mutex> lock(g_clockMutex);
    g_clock.start();
}

void StopGlobalClock()
{
    std::lock_guard<std::mutex> lock(g_clockMutex);
    g_clock.invalidate();
}

} // namespace ox::detail

namespace ox {

qint64 GlobalElapsedMsec()
{
    std::lock_guard<std::mutex> lock(detail::g_clockMutex);
    return detail::g_clock.isValid() ? detail::g_clock.elapsed() : 0;
}

} // namespace ox
