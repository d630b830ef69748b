#pragma once

#include <ox/export.h>

#include <QObject>
#include <QString>
#include <QVariant>

class QSettings;

namespace ox {

// Process-wide key/value store. Thread-safe: every operation holds one recursive mutex for its
// whole duration. The typed getters call get() and convert without the lock, so a value may change
// between two getter calls. An absent key gives an invalid QVariant, false, 0, null or "".
class OX_EXPORT CxGlobals
{
public:
    // Created on first use (without a lock: call it once from one thread before threads share it;
    // start-up does). Lives until the process ends.
    static CxGlobals* instance();
    ~CxGlobals();
    CxGlobals(const CxGlobals&) = delete;
    CxGlobals& operator=(const CxGlobals&) = delete;

    // Replaces the value and flag of an existing key, or adds a new entry.
    void set(const QString& key, const QVariant& value, bool persistent);
    QVariant get(const QString& key);
    bool isSet(const QString& key);

    bool getBool(const QString& key);
    qint32 getInt32(const QString& key);
    qint64 getInt64(const QString& key);
    quint32 getUInt32(const QString& key);
    quint64 getUInt64(const QString& key);
    void* getPtr(const QString& key); // an address stored as an unsigned 64-bit number
    QObject* getQObject(const QString& key);
    QString getString(const QString& key);

    // Nothing is persisted yet: both take and release the lock and leave `settings` untouched.
    void loadSettings(QSettings* settings);
    void saveSettings(QSettings* settings);

private:
    CxGlobals();
};

} // namespace ox
