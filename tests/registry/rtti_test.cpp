#include <ox/rtti.h>

#include "support/core_helpers.h"

#include <gtest/gtest.h>

#include <QSettings>
#include <QTemporaryDir>

#include <memory>

// The registry is one per process and keeps every registration, so the test classes are
// registered once (Registered()) and each test looks at its own interface names only.

namespace rt {

int g_alive = 0; // live CxCounted instances

class CxCounted : public QObject
{
    Q_OBJECT
public:
    Q_INVOKABLE CxCounted() { ++g_alive; }
    ~CxCounted() override { --g_alive; }
};

class CxNamed : public CxCounted
{
    Q_OBJECT
    Q_CLASSINFO("CustomName", "Named probe")
    Q_CLASSINFO("UniqueID", "{probe-named}")
public:
    Q_INVOKABLE CxNamed() = default;
};

class CxOnce : public QObject // registered once, without an invokable constructor
{
    Q_OBJECT
};

} // namespace rt

namespace {

using ox::CxRtti;
using ox::TxRttiItem;
using rt::CxCounted;
using rt::CxNamed;

CxRtti* Registered()
{
    static CxRtti* const rtti = [] {
        CxRtti* r = CxRtti::instance();
        r->registerClass(nullptr, CxNamed::staticMetaObject, "Named");
        r->registerClass(nullptr, CxCounted::staticMetaObject, "IxDataLoader");
        r->registerClass(nullptr, CxCounted::staticMetaObject, "IxDataSaver");
        r->registerClass(nullptr, rt::CxOnce::staticMetaObject, "Once");
        // The same two classes in opposite orders.
        r->registerClass(nullptr, CxNamed::staticMetaObject, "Forward");
        r->registerClass(nullptr, CxCounted::staticMetaObject, "Forward");
        r->registerClass(nullptr, CxCounted::staticMetaObject, "Backward");
        r->registerClass(nullptr, CxNamed::staticMetaObject, "Backward");
        return r;
    }();
    return rtti;
}

// The first item registered under `interfaceName`.
TxRttiItem Item(const QString& interfaceName)
{
    return Registered()->itemsByInterface().value(interfaceName).value(0);
}

TEST(Rtti, QueriesByClassNameHandleAndInterfaceAndCreateInstance)
{
    CxRtti* rtti = Registered();
    EXPECT_EQ(rtti->interfaceForClass("rt::CxOnce"), "Once");
    EXPECT_TRUE(rtti->isClassRegistered("rt::CxOnce"));
    for (const char* name : {"CxOnce", "rt::cxonce", "rt::CxNone"})
        EXPECT_FALSE(rtti->isClassRegistered(name)) << name;
    EXPECT_EQ(rtti->customNameForClass("rt::CxNamed"), "Named probe");
    EXPECT_EQ(rtti->uniqueIdForClass("rt::CxNamed"), "{probe-named}");
    EXPECT_TRUE(rtti->customNameForClass("rt::CxCounted").isEmpty());
    EXPECT_EQ(rtti->classForUniqueId("{probe-named}"), "rt::CxNamed");
    EXPECT_TRUE(rtti->classForUniqueId("{PROBE-NAMED}").isEmpty());

    const char* const names[][2] = {{"Named", "Named probe"},
                                    {"IxDataLoader", "Unknown Data Loader"},
                                    {"IxDataSaver", "Unknown Data Saver"},
                                    {"Once", "Unknown object"}};
    for (const auto& n : names) {
        EXPECT_EQ(rtti->interfaceForItem(Item(n[0])), QString(n[0]));
        EXPECT_EQ(rtti->itemName(Item(n[0])), QString(n[1]));
    }
    const TxRttiItem unknown = Item("Named") + 1; // not a registration
    EXPECT_TRUE(rtti->interfaceForItem(unknown).isEmpty() && rtti->itemName(unknown).isEmpty() &&
                !rtti->itemEnabled(unknown));

    // Both orders list both classes.
    QStringList forward = rtti->classesForInterface("Forward", false);
    QStringList backward = rtti->classesForInterface("Backward", false);
    forward.sort();
    backward.sort();
    EXPECT_EQ(forward, QStringList({"rt::CxCounted", "rt::CxNamed"}));
    EXPECT_EQ(backward, forward);

    // A new instance only of the requested type; a mismatch is destroyed.
    std::unique_ptr<CxCounted> named(rtti->createInstance<CxCounted>("rt::CxNamed"));
    ASSERT_TRUE(named);
    EXPECT_STREQ(named->metaObject()->className(), "rt::CxNamed");
    for (const char* name : {"rt::CxCounted", "rt::CxOnce", "CxNamed"})
        EXPECT_EQ(rtti->createInstance<CxNamed>(name), nullptr) << name;
    EXPECT_EQ(rt::g_alive, 1);
}

TEST(Rtti, EnabledFlagsRoundTripThroughSettingsAndSignalEachChange)
{
    CxRtti* rtti = Registered();
    const TxRttiItem once = Item("Once");
    QTemporaryDir dir;
    QSettings settings(dir.filePath("settings.ini"), QSettings::IniFormat);
    QObject context;
    int changes = 0;
    QObject::connect(rtti, &CxRtti::itemEnableStateChanged, &context, [&] { ++changes; });

    rtti->setItemEnabled(once, false);
    rtti->saveSettings(&settings);
    rtti->setItemEnabled(once, true);
    rtti->setItemEnabled(once, true); // unchanged
    rtti->setItemEnabled(0, false);   // unknown
    EXPECT_EQ(changes, 2);
    rtti->loadSettings(&settings);
    EXPECT_FALSE(rtti->itemEnabled(once));
    EXPECT_TRUE(rtti->classesForInterface("Once", true).isEmpty());
    EXPECT_EQ(changes, 3);

    // Texts that set the flag by the variant rules, and texts that keep it: an entry without the
    // attribute, and an unclosed element (the text does not parse). Each from both states.
    enum { kOff, kOn, kKeep };
    const QString set = "<CxRtti><rt::CxOnce enabled=\"%1\"/></CxRtti>";
    const QString noAttribute = "<CxRtti><rt::CxOnce/></CxRtti>", unclosed = set.arg("0").remove('/');
    const QPair<QString, int> cases[] = {
        {set.arg("0"), kOff}, {set.arg("false"), kOff}, {set.arg("FALSE"), kOff}, {set.arg(""), kOff},
        {set.arg("1"), kOn},  {set.arg("no"), kOn},     {noAttribute, kKeep},     {unclosed, kKeep}};
    for (const auto& c : cases) {
        for (bool before : {false, true}) {
            rtti->setItemEnabled(once, before);
            settings.setValue("RttiSettings", c.first);
            changes = 0;
            rtti->loadSettings(&settings);
            const bool after = c.second == kKeep ? before : c.second == kOn;
            EXPECT_EQ(rtti->itemEnabled(once), after) << c.first.toStdString();
            EXPECT_EQ(changes, int(before != after)) << c.first.toStdString();
        }
    }
}

} // namespace

#include "rtti_test.moc"
