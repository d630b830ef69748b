#include <ox/globals.h>

#include <map>
#include <memory>
#include <mutex>

namespace ox {

namespace {

struct SxGlobalEntry
{
    QVariant value;
    bool persistent = false; // stored for the settings; no operation reads it yet
};

// The store's process-wide state. Allocated on first use and never destroyed, so that the store
// stays usable from code that runs while static objects are torn down.
struct SxGlobalStore
{
    // A standard mutex rather than QMutex: ThreadSanitizer sees its ordering.
    std::recursive_mutex mutex;
    std::map<QString, std::unique_ptr<SxGlobalEntry>> entries; // guarded by mutex, ordered by key
};

SxGlobalStore& Store()
{
    static SxGlobalStore* store = new SxGlobalStore;
    return *store;
}

CxGlobals* g_globals = nullptr; // the singleton; see instance()

} // namespace

CxGlobals::CxGlobals() = default;

CxGlobals::~CxGlobals()
{
    SxGlobalStore& store = Store();
    std::lock_guard<std::recursive_mutex> lock(store.mutex);
    store.entries.clear();
    if (g_globals == this)
        g_globals = nullptr;
}

CxGlobals* CxGlobals::instance()
{
    if (!g_globals) {
        Store(); // the state first, so later calls from other threads never race to create it
        g_globals = new CxGlobals;
    }
    return g_globals;
}

void CxGlobals::set(const QString& key, const QVariant& value, bool persistent)
{
    SxGlobalStore& store = Store();
    std::lock_guard<std::recursive_mutex> lock(store.mutex);
    std::unique_ptr<SxGlobalEntry>& entry = store.entries[key];
    if (!entry)
        entry = std::make_unique<SxGlobalEntry>();
    entry->value = value;
    entry->persistent = persistent;
}

QVariant CxGlobals::get(const QString& key)
{
    SxGlobalStore& store = Store();
    std::lock_guard<std::recursive_mutex> lock(store.mutex);
    const auto it = store.entries.find(key);
    return it == store.entries.end() ? QVariant() : it->second->value;
}

bool CxGlobals::isSet(const QString& key)
{
    SxGlobalStore& store = Store();
    std::lock_guard<std::recursive_mutex> lock(store.mutex);
    return store.entries.count(key) != 0;
}

bool CxGlobals::getBool(const QString& key)
{
    return get(key).toBool();
}

qint32 CxGlobals::getInt32(const QString& key)
{
    return get(key).toInt();
}

qint64 CxGlobals::getInt64(const QString& key)
{
    return get(key).toLongLong();
}

quint32 CxGlobals::getUInt32(const QString& key)
{
    return get(key).toUInt();
}

quint64 CxGlobals::getUInt64(const QString& key)
{
    return get(key).toULongLong();
}

void* CxGlobals::getPtr(const QString& key)
{
    return reinterpret_cast<void*>(static_cast<quintptr>(get(key).toULongLong()));
}

QObject* CxGlobals::getQObject(const QString& key)
{
    return reinterpret_cast<QObject*>(static_cast<quintptr>(get(key).toULongLong()));
}

QString CxGlobals::getString(const QString& key)
{
    return get(key).toString();
}

void CxGlobals::loadSettings(QSettings* settings)
{
    Q_UNUSED(settings)
    SxGlobalStore& store = Store();
    std::lock_guard<std::recursive_mutex> lock(store.mutex);
}

void CxGlobals::saveSettings(QSettings* settings)
{
    Q_UNUSED(settings)
    SxGlobalStore& store = Store();
    std::lock_guard<std::recursive_mutex> lock(store.mutex);
}

} // namespace ox
