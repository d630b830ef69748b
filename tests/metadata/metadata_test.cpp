#include <ox/metadata.h>
#include <ox/rtti.h>

#include "support/core_helpers.h"
#include "support/message_capture.h"

#include <gtest/gtest.h>

#include <memory>
#include <utility>

// The tests register their own item, loader and saver classes. Every class counts its live
// instances, so each test checks that nothing leaked and nothing was destroyed twice.

namespace mdtest {

struct SxCounts
{
    int items = 0, handlers = 0, others = 0, saversMade = 0, loadersMade = 0;
};
SxCounts g_counts;

// Items carry a text; a clone is a new instance of the same class (null for a class without an
// invokable constructor).
class ItemBase : public ox::IxMetadataItem
{
    Q_OBJECT
public:
    ItemBase() { ++g_counts.items; }
    ~ItemBase() override { --g_counts.items; }
    IxMetadataItem* clone() const override
    {
        auto* copy = qobject_cast<ItemBase*>(metaObject()->newInstance());
        if (copy)
            copy->text = text;
        return copy;
    }
    QString text;
};

// Served by the text saver and loader. "fail-save" makes the saver fail, fail="1" the loader.
class CxTextItem : public ItemBase
{
    Q_OBJECT
public:
    Q_INVOKABLE CxTextItem() = default;
};

class CxOrphanItem : public ItemBase // no saver or loader supports it
{
    Q_OBJECT
public:
    Q_INVOKABLE CxOrphanItem() = default;
};

class CxNoCloneItem : public ItemBase
{
    Q_OBJECT
};

// Claimed by the text loader, and registered as a saver and a loader, without being one.
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
    Q_INVOKABLE CxTextSaver() { ++g_counts.handlers, ++g_counts.saversMade; }
    ~CxTextSaver() override { --g_counts.handlers; }
    bool saveItem(QDomDocument& document, QDomElement& element, const ox::IxMetadataItem* item) override
    {
        const auto* typed = qobject_cast<const ItemBase*>(item);
        if (!typed || typed->text == "fail-save")
            return false;
        element.appendChild(document.createElement("text")).appendChild(document.createTextNode(typed->text));
        return true;
    }
    QStringList supportedClasses() override { return {"mdtest::CxTextItem"}; }
};

class CxTextLoader : public ox::IxMetadataLoader
{
    Q_OBJECT
public:
    Q_INVOKABLE CxTextLoader() { ++g_counts.handlers, ++g_counts.loadersMade; }
    ~CxTextLoader() override { --g_counts.handlers; }
    bool loadItem(const QDomElement& element, ox::IxMetadataItem* item) override
    {
        auto* typed = qobject_cast<ItemBase*>(item);
        if (!typed || element.attribute("fail") == "1")
            return false;
        typed->text = element.firstChildElement("text").text();
        return true;
    }
    QStringList supportedClasses() override { return {"mdtest::CxTextItem", "mdtest::CxImpostor"}; }
};

} // namespace mdtest

namespace {

using mdtest::g_counts;
using ox::CxMetadata;
using ox::IxMetadataItem;
using oxtest::MessageCapture;

template <typename T = mdtest::CxTextItem>
T* Make(const QString& text)
{
    auto* item = new T;
    item->text = text;
    return item;
}

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

class Metadata : public ::testing::Test
{
protected:
    void SetUp() override
    {
        static const bool registered = [] {
            using namespace mdtest;
            ox::CxRtti* rtti = ox::CxRtti::instance();
            for (const char* interfaceName : {"IxMetadataSaver", "IxMetadataLoader"})
                rtti->registerClass(nullptr, CxImpostor::staticMetaObject, interfaceName);
            rtti->registerClass(nullptr, CxTextSaver::staticMetaObject, "IxMetadataSaver");
            rtti->registerClass(nullptr, CxTextLoader::staticMetaObject, "IxMetadataLoader");
            for (const QMetaObject* mo : {&CxTextItem::staticMetaObject, &CxOrphanItem::staticMetaObject,
                                          &CxImpostor::staticMetaObject})
                rtti->registerClass(nullptr, *mo, "IxMetadata");
            return true;
        }();
        Q_UNUSED(registered);
        g_counts = mdtest::SxCounts();
        oxtest::SetClassesEnabled("mdtest::", true);
    }
    void TearDown() override
    {
        EXPECT_EQ(g_counts.items, 0);
        EXPECT_EQ(g_counts.handlers, 0);
        EXPECT_EQ(g_counts.others, 0);
    }
};

TEST_F(Metadata, ContentOperationsKeepOwnershipStraight)
{
    CxMetadata metadata;
    auto* first = Make("first");
    mdtest::CxOrphanItem second;
    second.text = "second";
    metadata.addMetadata(first);
    metadata.addMetadata(nullptr);
    metadata.addMetadata(second); // a clone
    metadata.addMetadata(mdtest::CxNoCloneItem());
    metadata.addMetadata(Make("third"));
    EXPECT_EQ(Describe(metadata), QStringList({"mdtest::CxTextItem=first", "mdtest::CxOrphanItem=second",
                                               "mdtest::CxTextItem=third"}));
    EXPECT_EQ(g_counts.items, 4);
    EXPECT_EQ(metadata.findMetadataByClassName("mdtest::CxTextItem"), first); // the first match

    metadata.removeMetadata(first); // handed back
    std::unique_ptr<IxMetadataItem> returned(first);
    metadata.deleteMetadata(first); // not held: stays alive
    metadata.deleteMetadata(metadata.metadata()[0]);
    EXPECT_EQ(Describe(metadata), QStringList{"mdtest::CxTextItem=third"});
    EXPECT_EQ(g_counts.items, 3);

    // A pointer held twice: every occurrence goes, and it is destroyed once.
    IxMetadataItem* twice = Make("twice");
    metadata.addMetadata(twice);
    metadata.addMetadata(twice);
    metadata.deleteMetadata(twice);
    EXPECT_EQ(metadata.metadata().size(), 1);
    EXPECT_EQ(g_counts.items, 3);
    metadata.clear();
    EXPECT_EQ(g_counts.items, 2); // `first` and `second`
}

TEST_F(Metadata, CopiesAreIndependentAndMovesLeaveTheSourceEmpty)
{
    QObject parent;
    CxMetadata source;
    source.setParent(&parent);
    mdtest::CxTextItem a;
    a.text = "a";
    mdtest::CxNoCloneItem skipped;
    source.setMetadata({&a, nullptr, &skipped});
    {
        CxMetadata copy(source);
        EXPECT_EQ(copy.parent(), &parent);
        EXPECT_NE(copy.metadata()[0], source.metadata()[0]);
        copy.clear();
        EXPECT_EQ(Describe(source), QStringList{"mdtest::CxTextItem=a"});
    }
    EXPECT_EQ(g_counts.items, 3);
    const QList<IxMetadataItem*> moving = source.metadata();
    CxMetadata moved(std::move(source));
    EXPECT_EQ(moved.metadata(), moving);
    EXPECT_TRUE(source.isEmpty());
    EXPECT_EQ(g_counts.items, 3);
}

TEST_F(Metadata, SavedTextLoadsBackWithANewSaverAndLoaderPerItem)
{
    CxMetadata metadata;
    for (const char* text : {"alpha & <beta>", "42", ""})
        metadata.addMetadata(Make(text));
    MessageCapture capture;
    EXPECT_EQ(metadata.saveToXml(-1),
              "<ox_metadata_list>"
              "<ox_metadata class=\"mdtest::CxTextItem\"><text>alpha &amp; &lt;beta></text>"
              "</ox_metadata><ox_metadata class=\"mdtest::CxTextItem\"><text>42</text>"
              "</ox_metadata><ox_metadata class=\"mdtest::CxTextItem\"><text></text>"
              "</ox_metadata></ox_metadata_list>");
    EXPECT_EQ(g_counts.saversMade, 3);

    CxMetadata loaded;
    loaded.addMetadata(Make("replaced"));
    EXPECT_TRUE(loaded.loadFromXml(metadata.saveToXml(1)));
    EXPECT_EQ(Describe(loaded), Describe(metadata));
    EXPECT_EQ(g_counts.loadersMade, 3);
    EXPECT_TRUE(capture.lines().isEmpty()) << capture.lines().join('\n').toStdString();
}

TEST_F(Metadata, SavingLeavesOutItemsWithoutAWorkingEnabledSaver)
{
    CxMetadata metadata;
    metadata.addMetadata(Make("kept"));
    metadata.addMetadata(Make<mdtest::CxOrphanItem>(""));
    metadata.addMetadata(Make("fail-save"));
    MessageCapture capture;
    EXPECT_EQ(metadata.saveToXml(-1),
              "<ox_metadata_list><ox_metadata class=\"mdtest::CxTextItem\"><text>kept</text>"
              "</ox_metadata></ox_metadata_list>");
    EXPECT_EQ(
        capture.lines(),
        QStringList(
            {Err("No metadata saver found for metadata 'mdtest::CxOrphanItem'."),
             Err("Failed to save metadata for class 'mdtest::CxTextItem'. Saver: 'mdtest::CxTextSaver'.")}));
    EXPECT_EQ(metadata.metadata().size(), 3);
}

TEST_F(Metadata, LoadingReportsEachBadNodeAndKeepsTheItemsThatLoaded)
{
    const QString good = "<ox_metadata class=\"mdtest::CxTextItem\"><text>good</text></ox_metadata>";
    const QString failAll = Err("Failed to load all the metadata.");
    const QPair<QString, QString> cases[] = {
        {"<!-- note -->", "Invalid metadata format. Unexpected node '#comment'."},
        {"<metadata class=\"mdtest::CxTextItem\"/>", "Invalid metadata format. Unexpected node 'metadata'."},
        {"<ox_metadata><text>x</text></ox_metadata>",
         "Invalid metadata format. Missing the attribute 'class'."},
        {"<ox_metadata class=\"mdtest::CxUnknown\"/>",
         "No metadata loader found for class 'mdtest::CxUnknown'."},
        {"<ox_metadata class=\"mdtest::CxImpostor\"/>",
         "Failed to instantiate the class 'mdtest::CxImpostor'."},
        {"<ox_metadata class=\"mdtest::CxTextItem\" fail=\"1\"/>",
         "Failed to load metadata for class 'mdtest::CxTextItem'."},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.first.toStdString());
        CxMetadata metadata;
        metadata.addMetadata(Make("previous"));
        MessageCapture capture;
        EXPECT_FALSE(
            metadata.loadFromXml("<ox_metadata_list>" + good + c.first + good + "</ox_metadata_list>"));
        EXPECT_EQ(capture.lines(), QStringList({Err(c.second), failAll}));
        EXPECT_EQ(Describe(metadata), QStringList({"mdtest::CxTextItem=good", "mdtest::CxTextItem=good"}));
        EXPECT_TRUE(g_counts.handlers == 0 && g_counts.others == 0);
    }

    // A wrong root empties the container and reads nothing.
    CxMetadata metadata;
    metadata.addMetadata(Make("previous"));
    MessageCapture capture;
    EXPECT_FALSE(metadata.loadFromXml("<OX_METADATA_LIST>" + good + "</OX_METADATA_LIST>"));
    EXPECT_EQ(capture.lines(), QStringList({Err("Invalid metadata format."), failAll}));
    EXPECT_TRUE(metadata.isEmpty());
}

TEST_F(Metadata, TextThatDoesNotParseLeavesTheContentsInPlace)
{
    CxMetadata metadata;
    metadata.addMetadata(Make("previous"));
    const QList<IxMetadataItem*> before = metadata.metadata();
    for (const char* xml : {"", "<ox_metadata_list><a></b>", "<ox_metadata_list/><x/>"}) {
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

} // namespace

#include "metadata_test.moc"
