#include <ox/metadata.h>

#include "support/core_helpers.h"
#include "support/message_capture.h"

#include <gtest/gtest.h>

// Items are counted, so each test ends by checking that none leaked and none was destroyed twice.

namespace md {

using namespace ox;
const auto Err = oxtest::MessageCapture::error;
int g_alive = 0; // live items

class CxItem : public IxMetadataItem
{
    Q_OBJECT
public:
    Q_INVOKABLE CxItem(const QString& text = QString()) : text(text) { ++g_alive; }
    ~CxItem() override { --g_alive; }
    IxMetadataItem* clone() const override { return new CxItem(text); }
    QString text;
};

// Writes the text as the element's content; fails for "fail".
class CxSaver : public IxMetadataSaver
{
    Q_OBJECT
public:
    Q_INVOKABLE CxSaver() = default;
    bool saveItem(QDomDocument& document, QDomElement& element, const IxMetadataItem* item) override
    {
        const QString& text = static_cast<const CxItem*>(item)->text;
        element.appendChild(document.createTextNode(text));
        return text != "fail";
    }
    QStringList supportedClasses() override { return {"md::CxItem"}; }
};

// Reads the text; fails for "fail". Also claims a class that is not registered.
class CxLoader : public IxMetadataLoader
{
    Q_OBJECT
public:
    Q_INVOKABLE CxLoader() = default;
    bool loadItem(const QDomElement& element, IxMetadataItem* item) override
    {
        return (static_cast<CxItem*>(item)->text = element.text()) != "fail";
    }
    QStringList supportedClasses() override { return {"md::CxItem", "md::CxNone"}; }
};

struct Metadata : ::testing::Test
{
    ~Metadata() override { EXPECT_EQ(g_alive, 0) << "items leaked or destroyed twice"; }
};

TEST_F(Metadata, TheContainerOwnsItsItemsAndCopiesOrMovesThem)
{
    auto* twice = new CxItem;
    auto* handedBack = new CxItem;
    CxItem outside;
    CxMetadata metadata({&outside, nullptr}); // holds a clone
    for (IxMetadataItem* item : QList<IxMetadataItem*>{twice, handedBack, nullptr, twice, handedBack})
        metadata.addMetadata(item);
    metadata.removeMetadata(handedBack); // every occurrence; the caller owns it again
    delete handedBack;
    metadata.deleteMetadata(&outside);                     // not held: stays
    metadata.deleteMetadata(metadata.metadata().value(0)); // the clone
    CxMetadata copy(metadata);                             // clones
    copy.addMetadata(outside);                             // a clone
    copy = metadata;                                       // destroys the clones, clones again
    EXPECT_EQ(copy.metadata().size(), 2);
    CxMetadata moved(std::move(metadata));
    copy = std::move(moved); // destroys the clones, takes over `twice` (destroyed once)
    EXPECT_EQ(copy.metadata(), QList<IxMetadataItem*>({twice, twice}));
}

TEST_F(Metadata, SavedXmlLoadsBackOnlyThroughAnEnabledLoaderAndEachBadNodeIsReported)
{
    // Registered anew by every run: a new registration is enabled, whatever an earlier run disabled.
    CxRtti::instance()->registerClass(nullptr, CxSaver::staticMetaObject, "IxMetadataSaver");
    CxRtti::instance()->registerClass(nullptr, CxLoader::staticMetaObject, "IxMetadataLoader");
    CxRtti::instance()->registerClass(nullptr, CxItem::staticMetaObject, "IxMetadata");
    CxMetadata metadata;
    for (const char* text : {"a & <b>", "fail", ""})
        metadata.addMetadata(new CxItem(text));
    oxtest::MessageCapture capture;
    const QString xml = metadata.saveToXml(-1);
    EXPECT_EQ(xml, "<ox_metadata_list><ox_metadata class=\"md::CxItem\">a &amp; &lt;b></ox_metadata>"
                   "<ox_metadata class=\"md::CxItem\"></ox_metadata></ox_metadata_list>");
    EXPECT_TRUE(metadata.loadFromXml(xml));
    EXPECT_FALSE(metadata.loadFromXml(xml.chopped(1))); // does not parse: the contents stay
    EXPECT_EQ(metadata.saveToXml(-1), xml);
    EXPECT_FALSE(metadata.loadFromXml(xml.toUpper())); // a wrong root
    EXPECT_TRUE(metadata.isEmpty());
    const QString all = Err("Failed to load all the metadata.");
    EXPECT_EQ(capture.lines(),
              QStringList({Err("Failed to save metadata for class 'md::CxItem'. Saver: 'md::CxSaver'."),
                           Err("Invalid XML. Error: unexpected end of file, line: 1, column: 143."),
                           Err("Invalid metadata format."), all}));

    // Each bad node is reported; the items around it load.
    const QString good = "<ox_metadata class=\"md::CxItem\">good</ox_metadata>";
    const char* const cases[][2] = {
        {"<!-- note -->", "Invalid metadata format. Unexpected node '#comment'."},
        {"stray text", "Invalid metadata format. Unexpected node '#text'."},
        {"<metadata class=\"md::CxItem\"/>", "Invalid metadata format. Unexpected node 'metadata'."},
        {"<ox_metadata>x</ox_metadata>", "Invalid metadata format. Missing the attribute 'class'."},
        {"<ox_metadata class=\"md::CxUnknown\"/>", "No metadata loader found for class 'md::CxUnknown'."},
        {"<ox_metadata class=\"md::CxNone\"/>", "Failed to instantiate the class 'md::CxNone'."},
        {"<ox_metadata class=\"md::CxItem\">fail</ox_metadata>",
         "Failed to load metadata for class 'md::CxItem'."}};
    for (const auto& c : cases) {
        capture.clear();
        EXPECT_FALSE(metadata.loadFromXml("<ox_metadata_list>" + good + c[0] + good + "</ox_metadata_list>"));
        EXPECT_EQ(capture.lines(), QStringList({Err(c[1]), all})) << c[0];
        EXPECT_EQ(metadata.saveToXml(-1), "<ox_metadata_list>" + good + good + "</ox_metadata_list>") << c[0];
    }

    // A text that may nest deeper than 256 levels fails as one that does not parse and leaves the
    // contents, also where an error the parser tolerates would hide the depth; so does one that
    // declares an entity (references could nest without bound). 256 levels parse, and so do tags
    // in comments and CDATA (the parseable texts empty the container).
    const auto nested = [](int levels) {
        return QString("<a>").repeated(levels) + QString("</a>").repeated(levels);
    };
    const QString deep =
        Err("Invalid XML. Error: elements nested deeper than 256 levels, line: %1, column: %2.");
    const std::pair<QString, QString> deepCases[] = {
        {"<ox_metadata_list>\n" + nested(30000), deep.arg(2).arg(766)},
        {"<ox_metadata_list>&undeclared;" + nested(256), deep.arg(1).arg(796)},
        {"<!DOCTYPE d [<!ENTITY e \"<a>\">]><ox_metadata_list>" + QString("&e;").repeated(30000),
         Err("Invalid XML. Error: entity declarations are not accepted, line: 1, column: 14.")},
        {"<ox_metadata_list>" + nested(255), Err("Invalid metadata format. Unexpected node 'a'.")},
        {"<ox_metadata_list><!--" + nested(300) + "--><![CDATA[" + nested(300) + "]]>",
         Err("Invalid metadata format. Unexpected node '#comment'.")}};
    for (const auto& [text, error] : deepCases) {
        capture.clear();
        EXPECT_FALSE(metadata.loadFromXml(text + "</ox_metadata_list>"));
        EXPECT_EQ(capture.lines().value(0), error);
        EXPECT_EQ(metadata.isEmpty(), !error.contains("Invalid XML"));
    }

    oxtest::SetClassesEnabled("md::CxLoader", false); // a disabled loader is not used
    capture.clear();
    EXPECT_FALSE(metadata.loadFromXml("<ox_metadata_list>" + good + "</ox_metadata_list>"));
    EXPECT_EQ(capture.lines(), QStringList({Err("No metadata loader found for class 'md::CxItem'."), all}));
}

} // namespace md

#include "metadata_test.moc"
