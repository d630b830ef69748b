#pragma once

#include <ox/export.h>

#include <QDomDocument>
#include <QDomElement>
#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>

namespace ox {

// One piece of metadata (camera data, exposure, a plug-in's own kind). Concrete classes are
// registered with CxRtti under the interface name "IxMetadata" and have a Q_INVOKABLE
// argument-less constructor, so that CxMetadata can create an empty item by class name when it
// reads XML. Items are plain values: no parent, no signals.
class OX_EXPORT IxMetadataItem : public QObject
{
    Q_OBJECT

public:
    IxMetadataItem() = default;
    ~IxMetadataItem() override;

    // A new, independent copy of the same concrete class, owned by the caller, without parent.
    virtual IxMetadataItem* clone() const = 0;
};

// Reads items of the classes it supports from their "ox_metadata" elements. Registered with CxRtti
// under "IxMetadataLoader"; one loader may serve several item classes. CxMetadata creates a new
// loader for every item it reads and destroys it right after.
class OX_EXPORT IxMetadataLoader : public QObject
{
    Q_OBJECT

public:
    IxMetadataLoader() = default;
    ~IxMetadataLoader() override;

    // Fills `item` (freshly created, of a supported class) from `element`; true on success.
    virtual bool loadItem(const QDomElement& element, IxMetadataItem* item) = 0;
    // Class names, with namespace as the meta-object gives them, of the items this loader reads.
    virtual QStringList supportedClasses() = 0;
};

// Writes items of the classes it supports. Registered with CxRtti under "IxMetadataSaver"; one
// saver may serve several item classes. CxMetadata creates a new saver for every item it writes
// and destroys it right after.
class OX_EXPORT IxMetadataSaver : public QObject
{
    Q_OBJECT

public:
    IxMetadataSaver() = default;
    ~IxMetadataSaver() override;

    // Appends the content of `item` to `element` (the item's "ox_metadata" element, already
    // carrying the attribute "class"), creating nodes with `document`; true on success.
    virtual bool saveItem(QDomDocument& document, QDomElement& element, const IxMetadataItem* item) = 0;
    // As for loaders.
    virtual QStringList supportedClasses() = 0;
};

// An ordered collection of metadata items with value semantics: copying copies every item. The
// container owns its items and destroys them with itself; it does not require class names to be
// unique. Items handed to it must have no QObject parent.
//
// XML form (no declaration is written):
//     <ox_metadata_list>
//       <ox_metadata class="ox::CxCommonImageMetadata">...what the item's saver writes...</ox_metadata>
//       ...
//     </ox_metadata_list>
// The container knows no item class: for each item it looks up, through CxRtti, an enabled saver or
// loader whose supportedClasses() names the item's class, and delegates the element's content to
// it. Failures are logged; saving skips the items it cannot write, loading keeps the items it
// could read.
//
// Threads: no lock. A container is used by one thread at a time (it travels with its data item).
// Saving and loading read the type registry, which must be filled by then.
class OX_EXPORT CxMetadata : public QObject
{
    Q_OBJECT

public:
    CxMetadata();
    // Holds a clone of each item; the given items stay with the caller.
    explicit CxMetadata(const QList<IxMetadataItem*>& items);
    // A clone of each of `other`'s items; the new container gets `other`'s QObject parent.
    CxMetadata(const CxMetadata& other);
    // Takes over `other`'s items (no parent); `other` is left empty.
    CxMetadata(CxMetadata&& other) noexcept;
    // The same as setMetadata(other.metadata()); assigning a container to itself changes nothing.
    CxMetadata& operator=(const CxMetadata& other);
    // Destroys the current items and takes over `other`'s; `other` is left empty.
    CxMetadata& operator=(CxMetadata&& other) noexcept;
    ~CxMetadata() override;

    // Appends `item` and takes ownership; null is ignored.
    void addMetadata(IxMetadataItem* item);
    // Appends item.clone(); a null clone is ignored.
    void addMetadata(const IxMetadataItem& item);
    // Replaces the contents by a clone of each item, in order, skipping null clones, and destroys
    // the current items afterwards (so the container's own items may be passed).
    void setMetadata(const QList<IxMetadataItem*>& items);
    // The items in order; they stay owned by the container.
    QList<IxMetadataItem*> metadata() const;
    // Removes every occurrence of `item` without destroying it: ownership passes to the caller.
    // Null or an absent pointer changes nothing.
    void removeMetadata(IxMetadataItem* item);
    // Removes every occurrence of `item` and destroys it. Null or an absent pointer changes nothing
    // (an absent item is not destroyed).
    void deleteMetadata(IxMetadataItem* item);
    // Destroys all items.
    void clear();
    bool isEmpty() const;
    // The first item whose meta-object class name equals `className` exactly (with namespace);
    // null if none.
    IxMetadataItem* findMetadataByClassName(const QString& className);
    const IxMetadataItem* findMetadataByClassName(const QString& className) const;

    // The XML form of the items that could be saved. Never fails as a whole: an item without an
    // enabled saver, or whose saver fails, is left out with an error line.
    QDomDocument saveToDom();
    // saveToDom() as text, indented by `indent` blanks per level.
    QString saveToXml(int indent);
    // Replaces the contents by the items of `document`. True only when every child of the root is
    // an "ox_metadata" element that loaded; the items that loaded stay even when false.
    bool loadFromDom(QDomDocument& document);
    // Parses `xml` and loads it as loadFromDom() does. Text that does not parse is logged and leaves
    // the contents untouched (false). So is a text whose elements may nest deeper than 256 levels
    // (reported as a parse error, "elements nested deeper than 256 levels"): a deeper text would
    // exhaust the stack of the XML parser.
    bool loadFromXml(const QString& xml);

protected:
    // A new instance of the first enabled saver (loader) in registry order whose supportedClasses()
    // contains `className` (case-sensitive), or null. The caller owns and destroys it.
    static IxMetadataLoader* loaderByMetadataClassName(const QString& className);
    static IxMetadataSaver* saverByMetadataClassName(const QString& className);

private:
    // Destroys every item once (a pointer added twice is destroyed once) and empties the list.
    void destroyItems();

    QList<IxMetadataItem*> m_items; // owned; insertion order
};

} // namespace ox
