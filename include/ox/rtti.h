#pragma once

#include <ox/export.h>

#include <QList>
#include <QMap>
#include <QMetaObject>
#include <QObject>
#include <QString>
#include <QStringList>

class QSettings;

namespace ox {

class CxPlugin;

// Handle of one registered class: the address of its registration record. Never 0 for a registered
// class; unique and stable for the life of the process (records are never freed).
typedef quint64 TxRttiItem;

// The process-wide registry of classes that can be created by name.
//
// Every registered class is a QObject subclass with its own meta-object; it is registered under the
// name of the interface it implements ("IxMetadataLoader", "IxMetadataSaver", "IxMetadata",
// "IxDataLoader", "IxDataSaver", "IxImageDataLoader", "IxImageDataSaver", or any name a plug-in
// uses). The registry keeps a copy of the meta-object and creates instances through its invokable
// argument-less constructor; no factory functions are involved. A class may declare the class infos
// "CustomName" (the name shown to users) and "UniqueID" (an identifier that survives renaming):
//
//     class CxMyLoader : public IxMetadataLoader
//     {
//         Q_OBJECT
//         Q_CLASSINFO("CustomName", "My loader")
//         Q_CLASSINFO("UniqueID", "{...}")
//     public:
//         Q_INVOKABLE CxMyLoader();
//         ...
//     };
//     CxRtti::instance()->registerClass(plugin, CxMyLoader::staticMetaObject, "IxMetadataLoader");
//
// Each registration carries an enabled flag (true after registration) that users change and that
// persists through saveSettings()/loadSettings(). Consumers that offer the classes of an interface
// (format managers, for example) ask for enabled classes only and listen to
// itemEnableStateChanged() to rebuild their lists.
//
// Order: the registry is a hash set of handles. Every lookup by name scans it in its iteration
// order, which is unspecified; when one class is registered several times, which registration a
// name lookup finds first is therefore arbitrary. Lookups by handle are hash lookups.
//
// Threads: the registry has NO lock. It is filled, and its settings loaded, on the thread that
// starts the library (plug-ins register from their init()), before other threads use it. After
// that, every read operation may run on any thread, provided no registerClass() or setItemEnabled()
// runs at the same time. instance() is not guarded either: its first call must happen during
// start-up. itemEnableStateChanged() is emitted on the thread that calls setItemEnabled().
//
// Failures: nothing is reported. Unknown class names, unknown handles and an empty registry give
// empty strings, false, null and empty lists.
class OX_EXPORT CxRtti : public QObject
{
    Q_OBJECT

public:
    // The single instance, created with the empty registry on the first call. Never destroyed.
    static CxRtti* instance();

    CxRtti(const CxRtti&) = delete;
    CxRtti& operator=(const CxRtti&) = delete;

    // Adds a registration of `metaObject` (copied) under `interfaceName`, enabled, owned by
    // `plugin` (not owned by the registry; null for classes registered by the host or the library).
    // Registering the same class twice creates two items. Emits nothing.
    void registerClass(CxPlugin* plugin, const QMetaObject& metaObject, const QString& interfaceName);

    // Queries by class name: the name as the meta-object gives it, with namespace
    // ("ox::CxCommonImageMetadata"), compared case-sensitively; the first match wins.

    // Interface of the class; empty when it is not registered.
    QString interfaceForClass(const QString& className);
    // True when interfaceForClass() is not empty (a class registered with an empty interface name
    // does not count).
    bool isClassRegistered(const QString& className);
    // The class info "CustomName" or "UniqueID" of the class; empty when the class is unknown or
    // does not declare it.
    QString customNameForClass(const QString& className);
    QString uniqueIdForClass(const QString& className);
    // The class whose class info "UniqueID" equals `uniqueId`; empty when none does.
    QString classForUniqueId(const QString& uniqueId);

    // A new instance of `className` converted to T (a QObject subclass with Q_OBJECT), without
    // parent, owned by the caller. Null when the class is unknown, has no invokable argument-less
    // constructor, or is not a T; an object that was created but is not a T is destroyed here.
    // Disabled classes are created too: the enabled flag only decides what is offered.
    template <typename T>
    T* createInstance(const QString& className)
    {
        QObject* object = createInstanceOfClass(className);
        T* typed = qobject_cast<T*>(object);
        if (!typed)
            delete object;
        return typed;
    }

    // Queries by interface (case-sensitive).

    // Class names of the items registered under `interfaceName` (enabled ones only when
    // `enabledOnly`), in registry order, one entry per item.
    QStringList classesForInterface(const QString& interfaceName, bool enabledOnly);
    // Every item grouped by interface name; each list is in registry order.
    QMap<QString, QList<TxRttiItem>> itemsByInterface();

    // Queries by handle; an unknown handle gives the default named.

    QString interfaceForItem(TxRttiItem item); // default empty
    bool itemEnabled(TxRttiItem item);         // default false
    // The class info "CustomName", or a generic name for the item's interface ("Unknown Data
    // Loader", "Unknown Data Saver", "Unknown object"); default empty.
    QString itemName(TxRttiItem item);
    const CxPlugin* pluginForItem(TxRttiItem item) const; // default null
    // Items registered by `plugin` (null selects those registered without a plug-in), in registry
    // order.
    QList<TxRttiItem> itemsForPlugin(const CxPlugin* plugin) const;

    // Stores the flag and emits itemEnableStateChanged() when it changes; does nothing for an
    // unknown handle or an unchanged flag.
    void setItemEnabled(TxRttiItem item, bool enabled);

    // The enabled flags as the XML text under the key "RttiSettings", for example
    // <CxRtti><ox::CxCommonImageMetadata enabled="1"/><ox::CxMyLoader enabled="0"/></CxRtti>.
    // Saving writes every item. Loading sets the flag of each registered class named in the text
    // that carries the attribute "enabled" ("0", "false" in any case and "" mean false), emitting
    // the signal where a flag changes; a class registered twice takes the value for its later item
    // in registry order. Classes missing from the text keep their flag; entries for unknown classes
    // are ignored; a text that does not parse, or whose elements may nest deeper than 256 levels,
    // changes nothing. Both do nothing when `settings` is null.
    void saveSettings(QSettings* settings);
    void loadSettings(const QSettings* settings);

signals:
    void itemEnableStateChanged(ox::TxRttiItem hItem, bool bEnabled);

protected:
    // The class info `key` (read as Latin-1) of the first item of `className`; empty if none.
    QString nameFromMetadataForClass(const QString& className, const QString& key);
    // A new instance of the first item of `className` made by its invokable argument-less
    // constructor, without parent, owned by the caller; null when the class is unknown or has no
    // such constructor. Ignores the enabled flag.
    QObject* createInstanceOfClass(const QString& className);
    // "Unknown Data Saver" for "IxDataSaver", "Unknown Data Loader" for "IxDataLoader", "Unknown
    // object" otherwise (translated in the context "QObject").
    QString defaultNameForInterfaceClass(const QString& interfaceName);

private:
    CxRtti();
};

} // namespace ox
