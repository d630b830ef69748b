#include <ox/metadata.h>
#include <ox/rtti.h>

#include "support/message_capture.h"

#include <gtest/gtest.h>

#include <QRandomGenerator>

#include <memory>
#include <ostream>
#include <utility>

// The tests register their own item, loader and saver classes. Every class counts its live
// instances, so each test checks that nothing leaked and nothing was destroyed twice.

namespace mdtest {

struct SxCounts
{
    int items = 0, loaders = 0, savers = 0, others = 0;
    int textSaversMade = 0, textLoadersMade = 0, gatedMade = 0;
};
SxCounts g_counts;

class ItemBase : public ox::IxMetadataItem
{
    Q_OBJECT
public:
    explicit ItemBase(const QString& t = QString()) : text(t) { ++g_counts.items; }
    ~ItemBase() override { --g_counts.items; }
    QString text;
};

#define MDTEST_CLONE(Class)                                                                                  \
    IxMetadataItem* clone() const override                                                                   \
    {                                                                                                        \
        return new Class(text);                                                                              \
    }

// Served by the text saver and loader. "fail-save" makes the saver fail, fail="1" the loader.
class CxTextItem : public ItemBase
{
    Q_OBJECT
public:
    Q_INVOKABLE CxTextItem() = default;
    explicit CxTextItem(const QString& t) : ItemBase(t) {}
    MDTEST_CLONE(CxTextItem)
};

class CxNumberItem : public ItemBase // served by the same saver and loader
{
    Q_OBJECT
public:
    Q_INVOKABLE CxNumberItem() = default;
    explicit CxNumberItem(const QString& t) : ItemBase(t) {}
    MDTEST_CLONE(CxNumberItem)
};

class CxOrphanItem : public ItemBase // no saver or loader supports it
{
    Q_OBJECT
public:
    Q_INVOKABLE CxOrphanItem() = default;
    explicit CxOrphanItem(const QString& t) : ItemBase(t) {}
    MDTEST_CLONE(CxOrphanItem)
};

class CxGatedItem : public ItemBase // served only by the gated saver and loader
{
    Q_OBJECT
public:
    Q_INVOKABLE CxGatedItem() = default;
    explicit CxGatedItem(const QString& t) : ItemBase(t) {}
    MDTEST_CLONE(CxGatedItem)
};

class CxNullCloneItem : public ItemBase
{
    Q_OBJECT
public:
    IxMetadataItem* clone() const override { return nullptr; }
};

// Claimed by the text loader, or registered as a saver and a loader, without being one.
class CxImpostor : public QObject
{
    Q_OBJECT
public:
    Q_INVOKABLE CxImpostor() { ++g_counts.others; }
    ~CxImpostor() override { --g_counts.others; }
};

class CxTextSaver : public ox::IxMetadataSaver
{
    Q_OBJECT
public:
    Q_INVOKABLE CxTextSaver() : CxTextSaver(&g_counts.textSaversMade) {}
    ~CxTextSaver() override { --g_counts.savers; }
    bool saveItem(QDomDocument& document, QDomElement& element, const ox::IxMetadataItem* item) override
    {
        const auto* typed = qobject_cast<const ItemBase*>(item);
        if (!typed || typed->text == "fail-save")
            return false;
        element.appendChild(document.createElement("text")).appendChild(document.createTextNode(typed->text));
        return true;
    }
    QStringList supportedClasses() override { return {"mdtest::CxTextItem", "mdtest::CxNumberItem"}; }

protected:
    explicit CxTextSaver(int* made)
    {
        ++g_counts.savers;
        ++*made;
    }
};

class CxTextLoader : public ox::IxMetadataLoader
{
    Q_OBJECT
public:
    Q_INVOKABLE CxTextLoader() : CxTextLoader(&g_counts.textLoadersMade) {}
    ~CxTextLoader() override { --g_counts.loaders; }
    bool loadItem(const QDomElement& element, ox::IxMetadataItem* item) override
    {
        auto* typed = qobject_cast<ItemBase*>(item);
        if (!typed || element.attribute("fail") == "1")
            return false;
        typed->text = element.firstChildElement("text").text();
        return true;
    }
    QStringList supportedClasses() override
    {
        return {"mdtest::CxTextItem", "mdtest::CxNumberItem", "mdtest::CxImpostor"};
    }

protected:
    explicit CxTextLoader(int* made)
    {
        ++g_counts.loaders;
        ++*made;
    }
};

class CxGatedSaver : public CxTextSaver
{
    Q_OBJECT
public:
    Q_INVOKABLE CxGatedSaver() : CxTextSaver(&g_counts.gatedMade) {}
    QStringList supportedClasses() override { return {"mdtest::CxGatedItem"}; }
};

class CxGatedLoader : public CxTextLoader
{
    Q_OBJECT
public:
    Q_INVOKABLE CxGatedLoader() : CxTextLoader(&g_counts.gatedMade) {}
    QStringList supportedClasses() override { return {"mdtest::CxGatedItem"}; }
};

} // namespace mdtest

// Readable failure output for Qt strings.
inline void PrintTo(const QString& text, std::ostream* os)
{
    *os << '"' << text.toStdString() << '"';
}

namespace {

using mdtest::g_counts;
using ox::CxMetadata;
using ox::CxRtti;
using ox::IxMetadataItem;
using oxtest::MessageCapture;

QStringList Describe(const CxMetadata& metadata)
{
    QStringList out;
    for (const IxMetadataItem* item : metadata.metadata())
        out << QStringLiteral("%1=%2").arg(item->metaObject()->className(),
                                           qobject_cast<const mdtest::ItemBase*>(item)->text);
    return out;
}

QString Err(const QString& message)
{
    return MessageCapture::error(message);
}

void SetGatedEnabled(bool enabled)
{
    for (const QString& interfaceName : {QString("IxMetadataSaver"), QString("IxMetadataLoader")}) {
        const QList<ox::TxRttiItem> items = CxRtti::instance()->itemsByInterface().value(interfaceName);
        const QStringList names = CxRtti::instance()->classesForInterface(interfaceName, false);
        for (int i = 0; i < items.size(); ++i)
            if (names[i].startsWith("mdtest::CxGated"))
                CxRtti::instance()->setItemEnabled(items[i], enabled);
    }
}

class Metadata : public ::testing::Test
{
protected:
    void SetUp() override
    {
        static const bool registered = [] {
            using namespace mdtest;
            CxRtti* rtti = CxRtti::instance();
            for (const char* interfaceName : {"IxMetadataSaver", "IxMetadataLoader"})
                rtti->registerClass(nullptr, CxImpostor::staticMetaObject, interfaceName);
            rtti->registerClass(nullptr, CxTextSaver::staticMetaObject, "IxMetadataSaver");
            rtti->registerClass(nullptr, CxTextLoader::staticMetaObject, "IxMetadataLoader");
            rtti->registerClass(nullptr, CxGatedSaver::staticMetaObject, "IxMetadataSaver");
            rtti->registerClass(nullptr, CxGatedLoader::staticMetaObject, "IxMetadataLoader");
            for (const QMetaObject* mo : {&CxTextItem::staticMetaObject, &CxNumberItem::staticMetaObject,
                                          &CxOrphanItem::staticMetaObject, &CxGatedItem::staticMetaObject,
                                          &CxImpostor::staticMetaObject})
                rtti->registerClass(nullptr, *mo, "IxMetadata");
            return true;
        }();
        Q_UNUSED(registered);
        g_counts = mdtest::SxCounts();
        SetGatedEnabled(true);
    }
    void TearDown() override
    {
        EXPECT_EQ(g_counts.items, 0);
        EXPECT_EQ(g_counts.loaders, 0);
        EXPECT_EQ(g_counts.savers, 0);
        EXPECT_EQ(g_counts.others, 0);
    }
};

TEST_F(Metadata, ContentOperationsKeepOwnershipStraight)
{
    CxMetadata metadata;
    auto* first = new mdtest::CxTextItem("first");
    const mdtest::CxNumberItem number("2");
    metadata.addMetadata(first);
    metadata.addMetadata(nullptr);
    metadata.addMetadata(number); // a clone
    metadata.addMetadata(mdtest::CxNullCloneItem());
    metadata.addMetadata(new mdtest::CxTextItem("third"));
    EXPECT_EQ(Describe(metadata), QStringList({"mdtest::CxTextItem=first", "mdtest::CxNumberItem=2",
                                               "mdtest::CxTextItem=third"}));
    EXPECT_NE(metadata.metadata()[1], &number);
    EXPECT_EQ(g_counts.items, 4);

    EXPECT_EQ(metadata.findMetadataByClassName("mdtest::CxTextItem"), first); // the first match
    EXPECT_EQ(std::as_const(metadata).findMetadataByClassName("mdtest::CxNumberItem"),
              metadata.metadata()[1]);
    for (const char* name : {"CxTextItem", "mdtest::cxtextitem", "mdtest::CxOrphanItem", ""})
        EXPECT_EQ(metadata.findMetadataByClassName(name), nullptr) << name;

    metadata.removeMetadata(first); // handed back
    metadata.removeMetadata(nullptr);
    std::unique_ptr<IxMetadataItem> returned(first);
    metadata.deleteMetadata(first); // not held: stays alive
    metadata.deleteMetadata(nullptr);
    EXPECT_EQ(g_counts.items, 4);
    EXPECT_EQ(metadata.findMetadataByClassName("mdtest::CxTextItem"), metadata.metadata()[1]);
    metadata.deleteMetadata(metadata.metadata()[0]);
    EXPECT_EQ(Describe(metadata), QStringList{"mdtest::CxTextItem=third"});
    EXPECT_EQ(g_counts.items, 3);

    // A pointer held twice: every occurrence goes, and it is destroyed once.
    auto* twice = new mdtest::CxTextItem("twice");
    metadata.addMetadata(twice);
    metadata.addMetadata(twice);
    metadata.removeMetadata(twice);
    EXPECT_EQ(metadata.metadata().size(), 1);
    metadata.addMetadata(twice);
    metadata.addMetadata(twice);
    metadata.deleteMetadata(twice);
    EXPECT_EQ(g_counts.items, 3);
    twice = new mdtest::CxTextItem("twice");
    metadata.addMetadata(twice);
    metadata.addMetadata(twice);
    metadata.clear();
    EXPECT_TRUE(metadata.isEmpty());
    EXPECT_EQ(g_counts.items, 2); // `first` and `number`
}

TEST_F(Metadata, CopiesAreIndependentAndMovesLeaveTheSourceEmpty)
{
    QObject parent;
    auto* source = new CxMetadata;
    source->setParent(&parent);
    mdtest::CxTextItem a("a");
    mdtest::CxNumberItem b("b");
    mdtest::CxNullCloneItem skipped;
    source->setMetadata({&a, nullptr, &skipped, &b});
    const QStringList ab = {"mdtest::CxTextItem=a", "mdtest::CxNumberItem=b"};
    EXPECT_EQ(Describe(*source), ab);
    {
        CxMetadata copy(*source);
        EXPECT_EQ(copy.parent(), &parent);
        EXPECT_EQ(Describe(copy), ab);
        EXPECT_NE(copy.metadata()[0], source->metadata()[0]);
        copy.clear();
        EXPECT_EQ(Describe(*source), ab);
    }
    EXPECT_EQ(g_counts.items, 5);

    CxMetadata other(source->metadata()); // clones; the list stays with the caller
    EXPECT_EQ(other.parent(), nullptr);
    EXPECT_NE(other.metadata()[1], source->metadata()[1]);
    other = *source;
    const QList<IxMetadataItem*> held = other.metadata();
    CxMetadata& self = other;
    other = self;
    EXPECT_EQ(other.metadata(), held);
    other.setMetadata(other.metadata());
    EXPECT_EQ(Describe(other), ab);
    EXPECT_EQ(g_counts.items, 7);

    const QList<IxMetadataItem*> moving = other.metadata();
    CxMetadata moved(std::move(other));
    EXPECT_EQ(moved.metadata(), moving);
    EXPECT_TRUE(other.isEmpty());
    CxMetadata target(source->metadata());
    target = std::move(moved);
    EXPECT_EQ(target.metadata(), moving);
    EXPECT_TRUE(moved.isEmpty());
    EXPECT_EQ(g_counts.items, 7);
    delete source;
    EXPECT_EQ(g_counts.items, 5);
}

TEST_F(Metadata, SavedTextLoadsBackWithANewSaverAndLoaderPerItem)
{
    CxMetadata metadata;
    for (const char* text : {"alpha & <beta>", "42", ""})
        metadata.addMetadata(text[0] == '4' ? static_cast<IxMetadataItem*>(new mdtest::CxNumberItem(text))
                                            : new mdtest::CxTextItem(text));
    MessageCapture capture;
    EXPECT_EQ(metadata.saveToXml(-1),
              "<ox_metadata_list>"
              "<ox_metadata class=\"mdtest::CxTextItem\"><text>alpha &amp; &lt;beta></text>"
              "</ox_metadata><ox_metadata class=\"mdtest::CxNumberItem\"><text>42</text>"
              "</ox_metadata><ox_metadata class=\"mdtest::CxTextItem\"><text></text>"
              "</ox_metadata></ox_metadata_list>");
    EXPECT_EQ(g_counts.textSaversMade, 3);

    const QString indented = metadata.saveToXml(1);
    EXPECT_TRUE(indented.startsWith("<ox_metadata_list>\n <ox_metadata")) << indented.toStdString();
    CxMetadata loaded;
    loaded.addMetadata(new mdtest::CxTextItem("replaced"));
    EXPECT_TRUE(loaded.loadFromXml(indented));
    EXPECT_EQ(Describe(loaded), Describe(metadata));
    EXPECT_EQ(g_counts.textLoadersMade, 3);
    QDomDocument document = metadata.saveToDom();
    EXPECT_TRUE(loaded.loadFromDom(document));
    EXPECT_EQ(Describe(loaded), Describe(metadata));

    CxMetadata empty;
    EXPECT_EQ(empty.saveToXml(-1), "<ox_metadata_list/>");
    EXPECT_TRUE(loaded.loadFromXml(empty.saveToXml(1)));
    EXPECT_TRUE(loaded.isEmpty());
    EXPECT_TRUE(capture.lines().isEmpty()) << capture.lines().join('\n').toStdString();
}

TEST_F(Metadata, SavingLeavesOutItemsWithoutAWorkingEnabledSaver)
{
    CxMetadata metadata;
    metadata.addMetadata(new mdtest::CxTextItem("kept"));
    metadata.addMetadata(new mdtest::CxOrphanItem);
    metadata.addMetadata(new mdtest::CxTextItem("fail-save"));
    metadata.addMetadata(new mdtest::CxGatedItem);
    SetGatedEnabled(false);
    MessageCapture capture;
    EXPECT_EQ(metadata.saveToXml(-1),
              "<ox_metadata_list><ox_metadata class=\"mdtest::CxTextItem\"><text>kept</text>"
              "</ox_metadata></ox_metadata_list>");
    EXPECT_EQ(
        capture.lines(),
        QStringList(
            {Err("No metadata saver found for metadata 'mdtest::CxOrphanItem'."),
             Err("Failed to save metadata for class 'mdtest::CxTextItem'. Saver: 'mdtest::CxTextSaver'."),
             Err("No metadata saver found for metadata 'mdtest::CxGatedItem'.")}));
    EXPECT_EQ(metadata.metadata().size(), 4);
    SetGatedEnabled(true);
    EXPECT_TRUE(metadata.saveToXml(-1).contains("<ox_metadata class=\"mdtest::CxGatedItem\">"));
}

TEST_F(Metadata, LoadingReportsEachBadNodeAndKeepsTheItemsThatLoaded)
{
    const QString good = "<ox_metadata class=\"mdtest::CxTextItem\"><text>good</text></ox_metadata>";
    const QString failAll = Err("Failed to load all the metadata.");
    const QPair<QString, QString> cases[] = {
        {"<!-- note -->", "Invalid metadata format. Unexpected node '#comment'."},
        {"stray text", "Invalid metadata format. Unexpected node '#text'."},
        {"<metadata class=\"mdtest::CxTextItem\"/>", "Invalid metadata format. Unexpected node 'metadata'."},
        {"<ox_metadata><text>x</text></ox_metadata>",
         "Invalid metadata format. Missing the attribute 'class'."},
        {"<ox_metadata class=\"mdtest::CxUnknown\"/>",
         "No metadata loader found for class 'mdtest::CxUnknown'."},
        {"<ox_metadata class=\"mdtest::CxOrphanItem\"/>",
         "No metadata loader found for class 'mdtest::CxOrphanItem'."},
        {"<ox_metadata class=\"\"/>", "No metadata loader found for class ''."},
        {"<ox_metadata class=\"mdtest::CxGatedItem\"/>",
         "No metadata loader found for class 'mdtest::CxGatedItem'."},
        {"<ox_metadata class=\"mdtest::CxImpostor\"/>",
         "Failed to instantiate the class 'mdtest::CxImpostor'."},
        {"<ox_metadata class=\"mdtest::CxTextItem\" fail=\"1\"/>",
         "Failed to load metadata for class 'mdtest::CxTextItem'."},
    };
    SetGatedEnabled(false);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.first.toStdString());
        CxMetadata metadata;
        metadata.addMetadata(new mdtest::CxTextItem("previous"));
        MessageCapture capture;
        EXPECT_FALSE(
            metadata.loadFromXml("<ox_metadata_list>" + good + c.first + good + "</ox_metadata_list>"));
        EXPECT_EQ(capture.lines(), QStringList({Err(c.second), failAll}));
        EXPECT_EQ(Describe(metadata), QStringList({"mdtest::CxTextItem=good", "mdtest::CxTextItem=good"}));
        EXPECT_TRUE(g_counts.loaders == 0 && g_counts.others == 0);
    }

    // A wrong root, or no root at all, empties the container and reads nothing.
    for (const QString& root :
         {QString("metadata"), QString("OX_METADATA_LIST"), QString("ox_metadata"), QString()}) {
        CxMetadata metadata;
        metadata.addMetadata(new mdtest::CxTextItem("previous"));
        QDomDocument document;
        if (!root.isEmpty())
            document.setContent(QStringLiteral("<%1>%2</%1>").arg(root, good));
        MessageCapture capture;
        EXPECT_FALSE(metadata.loadFromDom(document));
        EXPECT_EQ(capture.lines(), QStringList({Err("Invalid metadata format."), failAll}));
        EXPECT_TRUE(metadata.isEmpty());
    }
}

TEST_F(Metadata, TextThatDoesNotParseLeavesTheContentsInPlace)
{
    CxMetadata metadata;
    metadata.addMetadata(new mdtest::CxTextItem("previous"));
    const QList<IxMetadataItem*> before = metadata.metadata();
    for (const char* xml :
         {"", "<ox_metadata_list>", "<ox_metadata_list><a></b>", "<ox_metadata_list/><x/>", "?"}) {
        QDomDocument reference; // the parser's own account of the error
        QString message;
        int line = 0, column = 0;
        ASSERT_FALSE(reference.setContent(QString(xml), false, &message, &line, &column)) << xml;
        MessageCapture capture;
        EXPECT_FALSE(metadata.loadFromXml(xml));
        EXPECT_EQ(capture.lines(),
                  QStringList{Err(QString("Invalid XML. Error: %1, line: %2, column: %3.")
                                      .arg(message, QString::number(line), QString::number(column)))});
        EXPECT_EQ(metadata.metadata(), before);
    }
}

TEST_F(Metadata, MutatedDocumentsNeverCrashOrLeak)
{
    CxMetadata source;
    for (int i = 0; i < 4; ++i)
        source.addMetadata(new mdtest::CxTextItem(QString("item %1").arg(i)));
    source.addMetadata(new mdtest::CxGatedItem);
    const QString xml = source.saveToXml(1);
    const QString alphabet = "<>/=\"' &;!-?x:ox_metadata";
    QRandomGenerator random(20240611);
    MessageCapture capture;
    for (int round = 0; round < 2000; ++round) {
        QString mutated = xml;
        for (int edits = 1 + random.bounded(4); edits > 0; --edits) {
            const int at = random.bounded(mutated.size());
            const QChar c = alphabet[random.bounded(alphabet.size())];
            switch (random.bounded(3)) {
            case 0: mutated.remove(at, 1 + random.bounded(8)); break;
            case 1: mutated.insert(at, c); break;
            default: mutated[at] = c; break;
            }
        }
        CxMetadata target;
        if (target.loadFromXml(mutated)) { // what loaded completely saves and loads back the same
            CxMetadata again;
            EXPECT_TRUE(again.loadFromXml(target.saveToXml(-1))) << mutated.toStdString();
            EXPECT_EQ(Describe(again), Describe(target));
        }
        EXPECT_LE(target.metadata().size(), 5);
        EXPECT_TRUE(g_counts.loaders == 0 && g_counts.savers == 0 && g_counts.others == 0);
    }
    EXPECT_EQ(g_counts.items, 5);
}

} // namespace

#include "metadata_test.moc"
