#include <ox/rtti.h>

#include "support/core_helpers.h"

#include <gtest/gtest.h>

#include <QSettings>
#include <QTemporaryDir>

namespace rt {

using namespace ox;
int g_alive = 0; // live CxNamed instances

class CxNamed : public QObject
{
    Q_OBJECT
    Q_CLASSINFO("CustomName", "Named probe")
    Q_CLASSINFO("UniqueID", "{probe-named}")
public:
    Q_INVOKABLE CxNamed() { ++g_alive; }
    ~CxNamed() override { --g_alive; }
};

class CxOnce : public QObject // registered once, without an invokable constructor
{
    Q_OBJECT
};

// The registry is one per process and keeps every registration, so the classes are registered
// once, before main (the registry needs no application object).
const bool g_registered = [] {
    // The same two classes (QObject stands in for a second one) in opposite orders under the loader
    // and saver interfaces.
    CxRtti::instance()->registerClass(nullptr, CxNamed::staticMetaObject, "IxDataLoader");
    CxRtti::instance()->registerClass(nullptr, QObject::staticMetaObject, "IxDataLoader");
    CxRtti::instance()->registerClass(nullptr, QObject::staticMetaObject, "IxDataSaver");
    CxRtti::instance()->registerClass(nullptr, CxNamed::staticMetaObject, "IxDataSaver");
    CxRtti::instance()->registerClass(nullptr, CxOnce::staticMetaObject, "Once");
    return true;
}();

TEST(Rtti, AnswersByClassNameAndInterfaceInEitherOrderAndCreatesOnlyTheRequestedType)
{
    CxRtti* rtti = CxRtti::instance();
    EXPECT_EQ(rtti->interfaceForClass("rt::CxOnce"), "Once");
    EXPECT_FALSE(rtti->isClassRegistered("CxOnce") || rtti->isClassRegistered("rt::cxonce"));
    EXPECT_EQ(rtti->customNameForClass("rt::CxNamed"), "Named probe");
    EXPECT_EQ(rtti->uniqueIdForClass("rt::CxNamed"), "{probe-named}");
    EXPECT_EQ(rtti->classForUniqueId("{probe-named}"), "rt::CxNamed");
    EXPECT_TRUE(rtti->classForUniqueId("").isEmpty());

    // Both orders give the same answers; items without a custom name are named by interface.
    const char* const orders[][2] = {{"IxDataLoader", "Unknown Data Loader"},
                                     {"IxDataSaver", "Unknown Data Saver"}};
    for (const auto& o : orders) {
        QStringList answers = rtti->classesForInterface(o[0], false);
        for (TxRttiItem item : rtti->itemsByInterface().value(o[0]))
            answers << rtti->itemName(item);
        answers.sort();
        EXPECT_EQ(answers, QStringList({"Named probe", "QObject", o[1], "rt::CxNamed"}));
    }

    // A new instance only of the requested type (`named` is the one CxNamed alive at the end); an
    // instance of another type is destroyed.
    QScopedPointer<QObject> named(rtti->createInstance<QObject>("rt::CxNamed"));
    for (const char* name : {"rt::CxNamed", "rt::CxOnce", "CxNamed"})
        EXPECT_EQ(rtti->createInstance<CxOnce>(name), nullptr) << name;
    EXPECT_EQ(g_alive, 1);
}

TEST(Rtti, ItemFlagsRoundTripThroughSettingsAndSignalOnlyRealChanges)
{
    CxRtti* rtti = CxRtti::instance();
    const TxRttiItem once = rtti->itemsByInterface().value("Once").value(0);
    EXPECT_EQ(rtti->interfaceForItem(once) + rtti->itemName(once), "OnceUnknown object");
    rtti->setItemEnabled(once + 1, false); // not a registration: ignored, as by the getters
    EXPECT_TRUE(rtti->interfaceForItem(once + 1).isEmpty() && rtti->itemName(once + 1).isEmpty() &&
                !rtti->itemEnabled(once + 1));

    QTemporaryDir dir;
    QSettings settings(dir.filePath("settings.ini"), QSettings::IniFormat);
    int changes = 0;
    QObject::connect(rtti, &CxRtti::itemEnableStateChanged, &settings, [&] { ++changes; });
    rtti->setItemEnabled(once, false);
    EXPECT_TRUE(rtti->classesForInterface("Once", true).isEmpty());
    rtti->saveSettings(&settings);

    // The saved text, texts that set the flag by the variant rules, and texts that keep it: an entry
    // without the attribute, an unclosed element (the text does not parse), and elements nested
    // deeper than the parser may go.
    const QString set = "<CxRtti><rt::CxOnce enabled=\"%1\"/></CxRtti>";
    const QString deep = QString("<a>").repeated(30000) + QString("</a>").repeated(30000);
    const QStringList texts = QStringList()
                              << settings.value("RttiSettings").toString() << set.arg("0") << set.arg("false")
                              << set.arg("FALSE") << set.arg("") << set.arg("1") << set.arg("no")
                              << "<CxRtti><rt::CxOnce/></CxRtti>" << set.arg("0").remove('/')
                              << set.arg("0").replace("<CxRtti>", "<CxRtti>" + deep);
    const char flags[] = "0000011---"; // the flag each text gives; '-': the flag stays
    for (int i = 0; i < texts.size(); ++i) {
        for (bool before : {false, true}) {
            rtti->setItemEnabled(once, before);
            settings.setValue("RttiSettings", texts[i]);
            changes = 0;
            rtti->loadSettings(&settings);
            const bool after = flags[i] == '-' ? before : flags[i] == '1';
            EXPECT_EQ(rtti->itemEnabled(once), after) << texts[i].toStdString();
            EXPECT_EQ(changes, int(before != after)) << texts[i].toStdString();
        }
    }
}

} // namespace rt

#include "rtti_test.moc"
