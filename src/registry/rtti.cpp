#include <ox/rtti.h>

#include "registry/domtext.h"

#include <QCoreApplication>
#include <QDomDocument>
#include <QDomElement>
#include <QHash>
#include <QMetaClassInfo>
#include <QMetaType>
#include <QSet>
#include <QSettings>
#include <QVariant>

namespace ox {

namespace {

const QString kSettingsKey = QStringLiteral("RttiSettings");
const QString kSettingsRoot = QStringLiteral("CxRtti");
const QString kEnabledAttribute = QStringLiteral("enabled");
const char* const kCustomNameInfo = "CustomName";
const char* const kUniqueIdInfo = "UniqueID";

// One registerClass() call. Allocated once and never freed: its address is the item's handle.
struct SxRttiRecord
{
    QMetaObject metaObject; // a copy of the registered class's meta-object
    QString interfaceName;
    bool enabled = true;
    CxPlugin* plugin = nullptr; // not owned
};

// The registry: the set of handles. Allocated on first use and reachable until the process ends.
// No lock (see rtti.h).
QSet<TxRttiItem>& Registry()
{
    static QSet<TxRttiItem>* registry = new QSet<TxRttiItem>;
    return *registry;
}

SxRttiRecord* RecordOf(TxRttiItem item)
{
    return reinterpret_cast<SxRttiRecord*>(item);
}

// The record of a handle in the registry, or null.
SxRttiRecord* FindRecord(TxRttiItem item)
{
    return Registry().contains(item) ? RecordOf(item) : nullptr;
}

bool IsClass(const SxRttiRecord* record, const QString& className)
{
    return QLatin1String(record->metaObject.className()) == className;
}

// The first record of `className` in registry order, or null.
SxRttiRecord* FirstRecordOfClass(const QString& className)
{
    for (TxRttiItem item : Registry()) {
        SxRttiRecord* record = RecordOf(item);
        if (IsClass(record, className))
            return record;
    }
    return nullptr;
}

// The value of class info `key` declared by the class (or a base class); empty if none.
QString ClassInfo(const QMetaObject& metaObject, const char* key)
{
    const int index = metaObject.indexOfClassInfo(key);
    if (index < 0)
        return QString();
    return QString::fromLatin1(metaObject.classInfo(index).value());
}

} // namespace

CxRtti::CxRtti()
{
    // Lets the signal cross threads through queued connections.
    qRegisterMetaType<ox::TxRttiItem>("ox::TxRttiItem");
}

CxRtti* CxRtti::instance()
{
    static CxRtti* instance = new CxRtti;
    Registry();
    return instance;
}

void CxRtti::registerClass(CxPlugin* plugin, const QMetaObject& metaObject, const QString& interfaceName)
{
    auto* record = new SxRttiRecord{metaObject, interfaceName, true, plugin};
    Registry().insert(reinterpret_cast<TxRttiItem>(record));
}

QString CxRtti::interfaceForClass(const QString& className)
{
    const SxRttiRecord* record = FirstRecordOfClass(className);
    return record ? record->interfaceName : QString();
}

bool CxRtti::isClassRegistered(const QString& className)
{
    return !interfaceForClass(className).isEmpty();
}

QString CxRtti::customNameForClass(const QString& className)
{
    return nameFromMetadataForClass(className, QLatin1String(kCustomNameInfo));
}

QString CxRtti::uniqueIdForClass(const QString& className)
{
    return nameFromMetadataForClass(className, QLatin1String(kUniqueIdInfo));
}

QString CxRtti::nameFromMetadataForClass(const QString& className, const QString& key)
{
    const SxRttiRecord* record = FirstRecordOfClass(className);
    if (!record)
        return QString();
    return ClassInfo(record->metaObject, key.toLatin1().constData());
}

QString CxRtti::classForUniqueId(const QString& uniqueId)
{
    for (TxRttiItem item : Registry()) {
        const SxRttiRecord* record = RecordOf(item);
        if (record->metaObject.indexOfClassInfo(kUniqueIdInfo) >= 0 &&
            ClassInfo(record->metaObject, kUniqueIdInfo) == uniqueId)
            return QString::fromLatin1(record->metaObject.className());
    }
    return QString();
}

QObject* CxRtti::createInstanceOfClass(const QString& className)
{
    const QByteArray name = className.toLatin1();
    for (TxRttiItem item : Registry()) {
        const SxRttiRecord* record = RecordOf(item);
        if (name == record->metaObject.className())
            return record->metaObject.newInstance(); // null without an invokable () constructor
    }
    return nullptr;
}

QStringList CxRtti::classesForInterface(const QString& interfaceName, bool enabledOnly)
{
    QStringList classes;
    for (TxRttiItem item : Registry()) {
        const SxRttiRecord* record = RecordOf(item);
        if (record->interfaceName == interfaceName && (record->enabled || !enabledOnly))
            classes.append(QString::fromLatin1(record->metaObject.className()));
    }
    return classes;
}

QMap<QString, QList<TxRttiItem>> CxRtti::itemsByInterface()
{
    QMap<QString, QList<TxRttiItem>> items;
    for (TxRttiItem item : Registry())
        items[RecordOf(item)->interfaceName].append(item);
    return items;
}

QString CxRtti::interfaceForItem(TxRttiItem item)
{
    const SxRttiRecord* record = FindRecord(item);
    return record ? record->interfaceName : QString();
}

bool CxRtti::itemEnabled(TxRttiItem item)
{
    const SxRttiRecord* record = FindRecord(item);
    return record && record->enabled;
}

QString CxRtti::itemName(TxRttiItem item)
{
    const SxRttiRecord* record = FindRecord(item);
    if (!record)
        return QString();
    const QString customName = ClassInfo(record->metaObject, kCustomNameInfo);
    return customName.isEmpty() ? defaultNameForInterfaceClass(record->interfaceName) : customName;
}

QString CxRtti::defaultNameForInterfaceClass(const QString& interfaceName)
{
    if (interfaceName == QLatin1String("IxDataSaver"))
        return QCoreApplication::translate("QObject", "Unknown Data Saver");
    if (interfaceName == QLatin1String("IxDataLoader"))
        return QCoreApplication::translate("QObject", "Unknown Data Loader");
    return QCoreApplication::translate("QObject", "Unknown object");
}

const CxPlugin* CxRtti::pluginForItem(TxRttiItem item) const
{
    const SxRttiRecord* record = FindRecord(item);
    return record ? record->plugin : nullptr;
}

QList<TxRttiItem> CxRtti::itemsForPlugin(const CxPlugin* plugin) const
{
    QList<TxRttiItem> items;
    for (TxRttiItem item : Registry()) {
        if (RecordOf(item)->plugin == plugin)
            items.append(item);
    }
    return items;
}

void CxRtti::setItemEnabled(TxRttiItem item, bool enabled)
{
    SxRttiRecord* record = FindRecord(item);
    if (!record || record->enabled == enabled)
        return;
    record->enabled = enabled;
    emit itemEnableStateChanged(item, enabled);
}

void CxRtti::saveSettings(QSettings* settings)
{
    if (!settings)
        return;
    QDomDocument document;
    QDomElement root = document.createElement(kSettingsRoot);
    for (TxRttiItem item : Registry()) {
        const SxRttiRecord* record = RecordOf(item);
        QDomElement element = document.createElement(QString::fromLatin1(record->metaObject.className()));
        element.setAttribute(kEnabledAttribute, record->enabled ? 1 : 0);
        root.appendChild(element);
    }
    document.appendChild(root);
    settings->setValue(kSettingsKey, document.toString(-1));
}

void CxRtti::loadSettings(const QSettings* settings)
{
    if (!settings || !settings->contains(kSettingsKey))
        return;

    // Class name -> item; for a class registered twice the later item in registry order wins.
    QHash<QString, TxRttiItem> itemsByClass;
    for (TxRttiItem item : Registry())
        itemsByClass.insert(QString::fromLatin1(RecordOf(item)->metaObject.className()), item);

    // Class names keep their "::": without namespace processing the colons are name characters.
    QDomDocument document;
    if (!detail::ParseDomText(document, settings->value(kSettingsKey).toString()))
        return;

    for (QDomNode node = document.documentElement().firstChild(); !node.isNull(); node = node.nextSibling()) {
        const auto found = itemsByClass.constFind(node.nodeName());
        if (found == itemsByClass.constEnd())
            continue;
        const QDomElement element = node.toElement();
        if (element.isNull() || !element.hasAttribute(kEnabledAttribute))
            continue;
        // The variant rules: "0", "false" (any case) and "" are false, any other text is true.
        setItemEnabled(found.value(), QVariant(element.attribute(kEnabledAttribute)).toBool());
    }
}

} // namespace ox
