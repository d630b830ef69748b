#include <ox/metadata.h>

#include <ox/rtti.h>

#include "core/log.h"
#include "registry/domtext.h"

#include <QDomNode>

#include <algorithm>
#include <memory>
#include <vector>

namespace ox {

namespace {

const QString kListElement = QStringLiteral("ox_metadata_list");
const QString kItemElement = QStringLiteral("ox_metadata");
const QString kClassAttribute = QStringLiteral("class");

QString ClassNameOf(const QObject* object)
{
    return QString::fromLatin1(object->metaObject()->className());
}

// The first enabled class registered under `interfaceName` that is a T and supports `className`,
// as a new instance owned by the caller; null if none.
template <typename T>
T* FindHandler(const QString& interfaceName, const QString& className)
{
    CxRtti* rtti = CxRtti::instance();
    for (const QString& candidate : rtti->classesForInterface(interfaceName, true)) {
        std::unique_ptr<T> handler(rtti->createInstance<T>(candidate));
        if (handler && handler->supportedClasses().contains(className))
            return handler.release();
    }
    return nullptr;
}

} // namespace

IxMetadataItem::~IxMetadataItem() = default;
IxMetadataLoader::~IxMetadataLoader() = default;
IxMetadataSaver::~IxMetadataSaver() = default;

CxMetadata::CxMetadata() = default;

CxMetadata::CxMetadata(const QList<IxMetadataItem*>& items)
{
    setMetadata(items);
}

CxMetadata::CxMetadata(const CxMetadata& other) : QObject(other.parent())
{
    setMetadata(other.m_items);
}

CxMetadata::CxMetadata(CxMetadata&& other) noexcept : QObject()
{
    m_items.swap(other.m_items);
}

CxMetadata& CxMetadata::operator=(const CxMetadata& other)
{
    if (this != &other)
        setMetadata(other.m_items);
    return *this;
}

CxMetadata& CxMetadata::operator=(CxMetadata&& other) noexcept
{
    if (this != &other) {
        destroyItems();
        m_items.swap(other.m_items);
    }
    return *this;
}

CxMetadata::~CxMetadata()
{
    destroyItems();
}

void CxMetadata::addMetadata(IxMetadataItem* item)
{
    if (item)
        m_items.append(item);
}

void CxMetadata::addMetadata(const IxMetadataItem& item)
{
    addMetadata(item.clone());
}

void CxMetadata::setMetadata(const QList<IxMetadataItem*>& items)
{
    QList<IxMetadataItem*> clones;
    clones.reserve(items.size());
    for (const IxMetadataItem* item : items) {
        if (IxMetadataItem* clone = item ? item->clone() : nullptr)
            clones.append(clone);
    }
    destroyItems();
    m_items = clones;
}

QList<IxMetadataItem*> CxMetadata::metadata() const
{
    return m_items;
}

void CxMetadata::removeMetadata(IxMetadataItem* item)
{
    if (item)
        m_items.removeAll(item);
}

void CxMetadata::deleteMetadata(IxMetadataItem* item)
{
    if (item && m_items.removeAll(item) > 0)
        delete item;
}

void CxMetadata::clear()
{
    destroyItems();
}

bool CxMetadata::isEmpty() const
{
    return m_items.isEmpty();
}

IxMetadataItem* CxMetadata::findMetadataByClassName(const QString& className)
{
    for (IxMetadataItem* item : qAsConst(m_items)) {
        if (QLatin1String(item->metaObject()->className()) == className)
            return item;
    }
    return nullptr;
}

const IxMetadataItem* CxMetadata::findMetadataByClassName(const QString& className) const
{
    return const_cast<CxMetadata*>(this)->findMetadataByClassName(className);
}

void CxMetadata::destroyItems()
{
    std::vector<IxMetadataItem*> items(m_items.cbegin(), m_items.cend());
    m_items.clear();
    std::sort(items.begin(), items.end());
    items.erase(std::unique(items.begin(), items.end()), items.end());
    for (IxMetadataItem* item : items)
        delete item;
}

IxMetadataLoader* CxMetadata::loaderByMetadataClassName(const QString& className)
{
    return FindHandler<IxMetadataLoader>(QStringLiteral("IxMetadataLoader"), className);
}

IxMetadataSaver* CxMetadata::saverByMetadataClassName(const QString& className)
{
    return FindHandler<IxMetadataSaver>(QStringLiteral("IxMetadataSaver"), className);
}

QDomDocument CxMetadata::saveToDom()
{
    QDomDocument document;
    QDomElement list = document.createElement(kListElement);
    for (const IxMetadataItem* item : qAsConst(m_items)) {
        const QString className = ClassNameOf(item);
        std::unique_ptr<IxMetadataSaver> saver(saverByMetadataClassName(className));
        if (!saver) {
            detail::LogError(QStringLiteral("No metadata saver found for metadata '%1'.").arg(className));
            continue;
        }
        QDomElement element = document.createElement(kItemElement);
        element.setAttribute(kClassAttribute, className);
        if (saver->saveItem(document, element, item))
            list.appendChild(element);
        else
            detail::LogError(QStringLiteral("Failed to save metadata for class '%1'. Saver: '%2'.")
                                 .arg(className, ClassNameOf(saver.get())));
    }
    document.appendChild(list);
    return document;
}

QString CxMetadata::saveToXml(int indent)
{
    return saveToDom().toString(indent);
}

bool CxMetadata::loadFromDom(QDomDocument& document)
{
    destroyItems();

    bool ok = true;
    const QDomElement root = document.documentElement();
    if (root.tagName() != kListElement) {
        detail::LogError(QStringLiteral("Invalid metadata format."));
        ok = false;
    } else {
        for (QDomNode node = root.firstChild(); !node.isNull(); node = node.nextSibling()) {
            if (!node.isElement() || node.nodeName() != kItemElement) {
                detail::LogError(
                    QStringLiteral("Invalid metadata format. Unexpected node '%1'.").arg(node.nodeName()));
                ok = false;
                continue;
            }
            const QDomElement element = node.toElement();
            if (!element.hasAttribute(kClassAttribute)) {
                detail::LogError(QStringLiteral("Invalid metadata format. Missing the attribute 'class'."));
                ok = false;
                continue;
            }
            const QString className = element.attribute(kClassAttribute);
            std::unique_ptr<IxMetadataLoader> loader(loaderByMetadataClassName(className));
            if (!loader) {
                detail::LogError(QStringLiteral("No metadata loader found for class '%1'.").arg(className));
                ok = false;
                continue;
            }
            std::unique_ptr<IxMetadataItem> item(
                CxRtti::instance()->createInstance<IxMetadataItem>(className));
            if (!item) {
                detail::LogError(QStringLiteral("Failed to instantiate the class '%1'.").arg(className));
                ok = false;
                continue;
            }
            if (!loader->loadItem(element, item.get())) {
                detail::LogError(QStringLiteral("Failed to load metadata for class '%1'.").arg(className));
                ok = false;
                continue;
            }
            m_items.append(item.release());
        }
    }

    if (!ok)
        detail::LogError(QStringLiteral("Failed to load all the metadata."));
    return ok;
}

bool CxMetadata::loadFromXml(const QString& xml)
{
    QDomDocument document;
    QString message;
    int line = 0;
    int column = 0;
    if (!detail::ParseDomText(document, xml, &message, &line, &column)) {
        detail::LogError(QStringLiteral("Invalid XML. Error: %1, line: %2, column: %3.")
                             .arg(message, QString::number(line), QString::number(column)));
        return false;
    }
    return loadFromDom(document);
}

} // namespace ox
