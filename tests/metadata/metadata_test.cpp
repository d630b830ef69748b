#include <ox/metadata.h>
#include <ox/rtti.h>

#include "support/core_helpers.h"
#include "support/message_capture.h"

#include <gtest/gtest.h>

#include <utility>

// The tests register their own item, loader and saver classes. Items are counted, so each test ends
// by checking that none leaked and none was destroyed twice.

namespace md {

int g_alive = 0; // live items

class CxItem : public ox::IxMetadataItem
{
    Q_OBJECT
public:
    Q_INVOKABLE CxItem(const QString& text = QString()) : text(text) { ++g_alive; }
    ~CxItem() override { --g_alive; }
    IxMetadataItem* clone() const override { return new CxItem(text); }
    QString text;
};

// Writes the text; fails for "fail".
class CxSaver : public ox::IxMetadataSaver
{
    Q_OBJECT
public:
    Q_INVOKABLE CxSaver() = default;
    bool saveItem(QDomDocument& document, QDomElement& element, const ox::IxMetadataItem* item) override
    {
        const QString& text = static_cast<const CxItem*>(item)->text;
        element.appendChild(document.createElement("text")).appendChild(document.createTextNode(text));
        return text != "fail";
    }
    QStringList supportedClasses() override { return {"md::CxItem"}; }
};

// Reads the text; fails for "fail". Also claims a class that is not registered.
class CxLoader : public ox::IxMetadataLoader
{
    Q_OBJECT
public:
    Q_INVOKABLE CxLoader() = default;
    bool loadItem(const QDomElement& element, ox::IxMetadataItem* item) override
    {
        QString& text = static_cast<CxItem*>(item)->text;
        text = element.firstChildElement("text").text();
        return text != "fail";
    }
    QStringList supportedClasses() override { return {"md::CxItem", "md::CxNone"}; }
};

} // namespace md

namespace {

using md::CxItem;
using ox::CxMetadata;
using ox::IxMetadataItem;
using oxtest::MessageCapture;

QStringList Texts(const CxMetadata& metadata)
{
    QStringList texts;
    for (const IxMetadataItem* item : metadata.metadata())
        texts << qobject_cast<const CxItem*>(item)->text;
    return texts;
}

const auto Err = MessageCapture::error;

class Metadata : public ::testing::Test
{
public:
    Metadata()
    {
        [[maybe_unused]] static const bool registered = [] {
            ox::CxRtti* rtti = ox::CxRtti::instance();
            rtti->registerClass(nullptr, md::CxSaver::staticMetaObject, "IxMetadataSaver");
            rtti->registerClass(nullptr, md::CxLoader::staticMetaObject, "IxMetadataLoader");
            rtti->registerClass(nullptr, CxItem::staticMetaObject, "IxMetadata");
            return true;
        }();
        oxtest::SetClassesEnabled("md::", true);
    }
    ~Metadata() override { EXPECT_EQ(md::g_alive, 0) << "items leaked or destroyed twice"; }
};

TEST_F(Metadata, TheContainerOwnsItsItemsAndCopiesOrMovesThem)
{
    auto* twice = new CxItem("twice");
    auto* deleted = new CxItem("deleted");
    CxItem outside("outside");
    CxMetadata metadata;
    for (IxMetadataItem* item : QList<IxMetadataItem*>{twice, deleted, nullptr, twice, deleted})
        metadata.addMetadata(item);
    metadata.addMetadata(outside); // a clone
    EXPECT_EQ(Texts(metadata), QStringList({"twice", "deleted", "twice", "deleted", "outside"}));
    metadata.deleteMetadata(deleted);  // every occurrence, destroyed once
    metadata.deleteMetadata(&outside); // not held: stays
    IxMetadataItem* handedBack = metadata.metadata().value(2);
    metadata.removeMetadata(handedBack);
    delete handedBack;
    EXPECT_EQ(Texts(metadata), QStringList({"twice", "twice"}));
    metadata.clear(); // destroys `twice` once
    EXPECT_EQ(md::g_alive, 1);

    QObject parent;
    CxMetadata source({&outside, nullptr, &outside}); // clones
    source.setParent(&parent);
    CxMetadata copy(source);
    EXPECT_EQ(copy.parent(), &parent);
    EXPECT_NE(copy.metadata().value(0), source.metadata().value(0));
    copy = source; // the earlier clones go
    EXPECT_EQ(md::g_alive, 5);
    const QList<IxMetadataItem*> items = source.metadata();
    CxMetadata moved(std::move(source));
    copy = std::move(moved); // the clones go
    EXPECT_TRUE(source.isEmpty() && moved.isEmpty());
    EXPECT_EQ(copy.metadata(), items);
    EXPECT_EQ(md::g_alive, 3);
}

TEST_F(Metadata, SavedXmlLoadsBackThroughTheRegisteredSaverAndLoader)
{
    CxMetadata metadata;
    for (const char* text : {"a & <b>", "fail", ""})
        metadata.addMetadata(new CxItem(text));
    MessageCapture capture;
    const QString xml = metadata.saveToXml(-1);
    EXPECT_EQ(xml,
              "<ox_metadata_list><ox_metadata class=\"md::CxItem\"><text>a &amp; &lt;b></text></ox_metadata>"
              "<ox_metadata class=\"md::CxItem\"><text></text></ox_metadata></ox_metadata_list>");
    EXPECT_EQ(capture.lines(),
              QStringList{Err("Failed to save metadata for class 'md::CxItem'. Saver: 'md::CxSaver'.")});
    CxMetadata loaded;
    loaded.addMetadata(new CxItem("replaced"));
    EXPECT_TRUE(loaded.loadFromXml(xml));
    EXPECT_EQ(Texts(loaded), QStringList({"a & <b>", ""}));
}

TEST_F(Metadata, LoadingReportsEachBadNodeAndKeepsWhatLoaded)
{
    const QString good = "<ox_metadata class=\"md::CxItem\"><text>good</text></ox_metadata>";
    const QString all = Err("Failed to load all the metadata.");
    const char* const cases[][2] = {
        {"<!-- note -->", "Invalid metadata format. Unexpected node '#comment'."},
        {"stray text", "Invalid metadata format. Unexpected node '#text'."},
        {"<metadata class=\"md::CxItem\"/>", "Invalid metadata format. Unexpected node 'metadata'."},
        {"<ox_metadata><text>x</text></ox_metadata>",
         "Invalid metadata format. Missing the attribute 'class'."},
        {"<ox_metadata class=\"md::CxUnknown\"/>", "No metadata loader found for class 'md::CxUnknown'."},
        {"<ox_metadata class=\"md::CxNone\"/>", "Failed to instantiate the class 'md::CxNone'."},
        {"<ox_metadata class=\"md::CxItem\"><text>fail</text></ox_metadata>",
         "Failed to load metadata for class 'md::CxItem'."}};
    for (const auto& c : cases) {
        CxMetadata metadata;
        metadata.addMetadata(new CxItem("previous"));
        MessageCapture capture;
        EXPECT_FALSE(metadata.loadFromXml("<ox_metadata_list>" + good + c[0] + good + "</ox_metadata_list>"));
        EXPECT_EQ(capture.lines(), QStringList({Err(c[1]), all})) << c[0];
        EXPECT_EQ(Texts(metadata), QStringList({"good", "good"})) << c[0];
    }

    // Text that does not parse leaves the contents alone; a wrong root or a disabled loader reads
    // nothing.
    QDomDocument parser; // for the parser's own account of the error
    QString message;
    int line = 0, column = 0;
    ASSERT_FALSE(parser.setContent(QString("<ox_metadata_list><a></b>"), false, &message, &line, &column));
    CxMetadata metadata;
    metadata.addMetadata(new CxItem("previous"));
    MessageCapture capture;
    EXPECT_FALSE(metadata.loadFromXml("<ox_metadata_list><a></b>"));
    EXPECT_EQ(Texts(metadata), QStringList{"previous"});
    EXPECT_FALSE(metadata.loadFromXml("<OX_METADATA_LIST>" + good + "</OX_METADATA_LIST>"));
    oxtest::SetClassesEnabled("md::CxLoader", false);
    EXPECT_FALSE(metadata.loadFromXml("<ox_metadata_list>" + good + "</ox_metadata_list>"));
    EXPECT_TRUE(metadata.isEmpty());
    const QString invalid = QString("Invalid XML. Error: %1, line: %2, column: %3.")
                                .arg(message, QString::number(line), QString::number(column));
    EXPECT_EQ(capture.lines(), QStringList({Err(invalid), Err("Invalid metadata format."), all,
                                            Err("No metadata loader found for class 'md::CxItem'."), all}));
}

} // namespace

#include "metadata_test.moc"
