#pragma once

#include <QMutex>
#include <QString>
#include <QStringList>
#include <QtGlobal>

namespace oxtest {

// Records every Qt message emitted while it is alive, as the text the message handler receives
// (for example: ERROR | "Failed to copy the image buffer."). Messages are not forwarded, so
// expected errors do not clutter the test output. Restores the previous handler on destruction.
// Captures do not nest.
class MessageCapture
{
public:
    MessageCapture();
    ~MessageCapture();
    MessageCapture(const MessageCapture&) = delete;
    MessageCapture& operator=(const MessageCapture&) = delete;

    QStringList lines() const;
    QStringList lines(QtMsgType type) const;
    bool contains(const QString& line) const { return lines().contains(line); }
    int count(const QString& line) const { return lines().count(line); }
    void clear();

    // The exact texts the library's log convention produces for a message.
    static QString error(const QString& message);
    static QString warning(const QString& message);

private:
    static void handler(QtMsgType type, const QMessageLogContext& ctx, const QString& msg);
    QtMessageHandler m_previous = nullptr;
    mutable QMutex m_mutex;
    QList<QPair<QtMsgType, QString>> m_lines;
};

} // namespace oxtest
