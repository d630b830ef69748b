#include "support/message_capture.h"

#include <QDebug>

namespace oxtest {

namespace {
MessageCapture* g_active = nullptr;
}

MessageCapture::MessageCapture()
{
    g_active = this;
    m_previous = qInstallMessageHandler(&MessageCapture::handler);
}

MessageCapture::~MessageCapture()
{
    qInstallMessageHandler(m_previous);
    g_active = nullptr;
}

void MessageCapture::handler(QtMsgType type, const QMessageLogContext&, const QString& msg)
{
    if (MessageCapture* self = g_active) {
        QMutexLocker lock(&self->m_mutex);
        self->m_lines.append(qMakePair(type, msg));
    }
}

QStringList MessageCapture::lines() const
{
    QMutexLocker lock(&m_mutex);
    QStringList out;
    for (const auto& l : m_lines)
        out << l.second;
    return out;
}

QStringList MessageCapture::lines(QtMsgType type) const
{
    QMutexLocker lock(&m_mutex);
    QStringList out;
    for (const auto& l : m_lines)
        if (l.first == type)
            out << l.second;
    return out;
}

void MessageCapture::clear()
{
    QMutexLocker lock(&m_mutex);
    m_lines.clear();
}

// Written out by hand (not through the library) so the tests pin the exact format.
QString MessageCapture::error(const QString& message)
{
    return QStringLiteral("ERROR | \"%1\"").arg(message);
}

QString MessageCapture::warning(const QString& message)
{
    return QStringLiteral("WARN | \"%1\"").arg(message);
}

} // namespace oxtest
