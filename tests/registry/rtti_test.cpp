#include <ox/rtti.h>

#include "support/core_helpers.h"

#include <gtest/gtest.h>

#include <QSettings>
#include <QTemporaryDir>

#include <memory>

// The registry is one per process and keeps every registration, so all test classes are
// registered once (Registered()) and each test looks at its own interface names only.

namespace regtest {

int g_alive = 0; // live instances of the counted classes below

class IxProbe : public QObject
{
    Q_OBJECT
public:
    IxProbe() { ++g_alive; }
    ~IxProbe() override { --g_alive; }
};

class CxNamedProbe : public IxProbe
{
    Q_OBJECT
    Q_CLASSINFO("CustomName", "Named probe")
    Q_CLASSINFO("UniqueID", "{probe-named}")
public:
    Q_INVOKABLE CxNamedProbe() = default;
};

class CxPlainProbe : public IxProbe
{
    Q_OBJECT
public:
    Q_INVOKABLE CxPlainProbe() = default;
};

class CxForeign : public QObject // not an IxProbe
{
    Q_OBJECT
public:
    Q_INVOKABLE CxForeign() { ++g_alive; }
    ~CxForeign() override { --g_alive; }
};

// Without an invokable constructor: registered under an empty interface name.
class CxBare : public QObject
{
    Q_OBJECT
};

class CxSettingsA : public QObject
{
    Q_OBJECT
};

class CxSettingsB : public QObject
{
    Q_OBJECT
};

class CxTwice : public QObject
{
    Q_OBJECT
};

} // namespace regtest

namespace {

using ox::CxRtti;
using ox::TxRttiItem;
using Emissions = QList<QPair<TxRttiItem, bool>>;

int g_pluginA = 0, g_pluginB = 0; // stand-ins: the registry never dereferences plug-ins
ox::CxPlugin* const kPluginA = reinterpret_cast<ox::CxPlugin*>(&g_pluginA);
ox::CxPlugin* const kPluginB = reinterpret_cast<ox::CxPlugin*>(&g_pluginB);

CxRtti* Registered()
{
    static const bool once = [] {
        using namespace regtest;
        const struct
        {
            ox::CxPlugin* plugin;
            const QMetaObject& type;
            const char* interfaceName;
        } registrations[] = {
            {kPluginA, CxNamedProbe::staticMetaObject, "ProbeNamed"},
            {kPluginA, CxPlainProbe::staticMetaObject, "IxDataLoader"},
            {kPluginB, CxPlainProbe::staticMetaObject, "IxDataSaver"},
            {nullptr, CxPlainProbe::staticMetaObject, "IxMetadata"},
            {nullptr, CxBare::staticMetaObject, ""},
            {nullptr, CxSettingsA::staticMetaObject, "ProbeSettings"},
            {nullptr, CxSettingsB::staticMetaObject, "ProbeSettings"},
            // The same classes in opposite orders, and one class twice.
            {nullptr, CxNamedProbe::staticMetaObject, "ProbeForward"},
            {nullptr, CxForeign::staticMetaObject, "ProbeForward"},
            {nullptr, CxForeign::staticMetaObject, "ProbeBackward"},
            {nullptr, CxNamedProbe::staticMetaObject, "ProbeBackward"},
            {nullptr, CxTwice::staticMetaObject, "ProbeTwice"},
            {nullptr, CxTwice::staticMetaObject, "ProbeTwice"},
        };
        for (const auto& r : registrations)
            CxRtti::instance()->registerClass(r.plugin, r.type, r.interfaceName);
        return true;
    }();
    Q_UNUSED(once);
    return CxRtti::instance();
}

// The item of `className` under `interfaceName` (both listings walk the registry in one order).
TxRttiItem Item(const QString& interfaceName, const QString& className)
{
    const QStringList names = Registered()->classesForInterface(interfaceName, false);
    return CxRtti::instance()->itemsByInterface().value(interfaceName).value(names.indexOf(className));
}

// Records itemEnableStateChanged() for the given items while alive.
struct SignalLog
{
    explicit SignalLog(QList<TxRttiItem> watched) : items(watched)
    {
        connection = QObject::connect(CxRtti::instance(), &CxRtti::itemEnableStateChanged,
                                      [this](TxRttiItem item, bool on) {
                                          if (items.contains(item))
                                              emissions.append(qMakePair(item, on));
                                      });
    }
    ~SignalLog() { QObject::disconnect(connection); }
    QList<TxRttiItem> items;
    QMetaObject::Connection connection;
    Emissions emissions;
};

TEST(Rtti, ClassQueriesMatchTheFullNameCaseSensitivelyAndCreateOnlyTheRequestedType)
{
    CxRtti* rtti = Registered();
    EXPECT_EQ(rtti->interfaceForClass("regtest::CxSettingsA"), "ProbeSettings");
    EXPECT_TRUE(rtti->isClassRegistered("regtest::CxSettingsA"));
    for (const char* name : {"regtest::CxBare", "CxSettingsA", "regtest::cxsettingsa"})
        EXPECT_FALSE(rtti->isClassRegistered(name)) << name; // CxBare: registered under ""
    EXPECT_EQ(rtti->customNameForClass("regtest::CxNamedProbe"), "Named probe");
    EXPECT_EQ(rtti->uniqueIdForClass("regtest::CxNamedProbe"), "{probe-named}");
    EXPECT_TRUE(rtti->customNameForClass("regtest::CxPlainProbe").isEmpty());
    EXPECT_EQ(rtti->classForUniqueId("{probe-named}"), "regtest::CxNamedProbe");
    EXPECT_TRUE(rtti->classForUniqueId("{PROBE-NAMED}").isEmpty());

    {
        std::unique_ptr<regtest::IxProbe> a(rtti->createInstance<regtest::IxProbe>("regtest::CxNamedProbe"));
        ASSERT_TRUE(a);
        EXPECT_STREQ(a->metaObject()->className(), "regtest::CxNamedProbe");
        EXPECT_EQ(regtest::g_alive, 1);
    }
    // Created but not of the requested type: null, and destroyed.
    EXPECT_EQ(rtti->createInstance<regtest::IxProbe>("regtest::CxForeign"), nullptr);
    EXPECT_EQ(regtest::g_alive, 0);
    for (const char* name : {"regtest::CxBare", "CxForeign"})
        EXPECT_EQ(rtti->createInstance<QObject>(name), nullptr) << name;
}

TEST(Rtti, HandleQueriesDescribeEachRegistrationAndDefaultForUnknownHandles)
{
    CxRtti* rtti = Registered();
    const TxRttiItem named = Item("ProbeNamed", "regtest::CxNamedProbe");
    const TxRttiItem loader = Item("IxDataLoader", "regtest::CxPlainProbe");
    const TxRttiItem saver = Item("IxDataSaver", "regtest::CxPlainProbe");
    const TxRttiItem metadata = Item("IxMetadata", "regtest::CxPlainProbe");
    ASSERT_TRUE(named && loader && saver && metadata);
    EXPECT_EQ(rtti->interfaceForItem(saver), "IxDataSaver");
    EXPECT_EQ(rtti->itemName(named), "Named probe");
    EXPECT_EQ(rtti->itemName(loader), "Unknown Data Loader");
    EXPECT_EQ(rtti->itemName(saver), "Unknown Data Saver");
    EXPECT_EQ(rtti->itemName(metadata), "Unknown object");

    EXPECT_EQ(rtti->pluginForItem(named), kPluginA);
    EXPECT_EQ(rtti->pluginForItem(metadata), nullptr);
    EXPECT_EQ(rtti->itemsForPlugin(kPluginB), QList<TxRttiItem>{saver});

    const TxRttiItem unknown = named + 8; // not a registration
    EXPECT_TRUE(rtti->interfaceForItem(unknown).isEmpty() && rtti->itemName(unknown).isEmpty());
    EXPECT_FALSE(rtti->itemEnabled(unknown));
    EXPECT_EQ(rtti->pluginForItem(unknown), nullptr);
}

TEST(Rtti, ListingsDoNotDependOnTheRegistrationOrder)
{
    CxRtti* rtti = Registered();
    QStringList forward = rtti->classesForInterface("ProbeForward", false);
    QStringList backward = rtti->classesForInterface("ProbeBackward", false);
    forward.sort();
    backward.sort();
    EXPECT_EQ(forward, QStringList({"regtest::CxForeign", "regtest::CxNamedProbe"}));
    EXPECT_EQ(backward, forward);
    // One entry per registration.
    EXPECT_EQ(rtti->classesForInterface("ProbeTwice", false),
              QStringList({"regtest::CxTwice", "regtest::CxTwice"}));
    EXPECT_EQ(rtti->itemsByInterface().value("ProbeTwice").size(), 2);
}

TEST(Rtti, SetItemEnabledSignalsEachChangeOnce)
{
    CxRtti* rtti = Registered();
    const TxRttiItem item = Item("ProbeSettings", "regtest::CxSettingsB");
    SignalLog log({item, 0});
    rtti->setItemEnabled(item, true); // unchanged
    rtti->setItemEnabled(0, false);   // unknown
    rtti->setItemEnabled(item, false);
    rtti->setItemEnabled(item, false);
    EXPECT_FALSE(rtti->itemEnabled(item));
    EXPECT_EQ(rtti->classesForInterface("ProbeSettings", true), QStringList{"regtest::CxSettingsA"});
    rtti->setItemEnabled(item, true);
    EXPECT_TRUE(rtti->itemEnabled(item));
    EXPECT_EQ(log.emissions, (Emissions{{item, false}, {item, true}}));
}

class RttiSettings : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_dir.isValid());
        ASSERT_TRUE(m_a && m_b && m_twice.size() == 2);
        for (TxRttiItem item : {m_a, m_b, m_twice[0], m_twice[1]})
            CxRtti::instance()->setItemEnabled(item, true);
    }
    QString path() const { return m_dir.filePath("settings.ini"); }
    void loadText(const QString& text)
    {
        QSettings(path(), QSettings::IniFormat).setValue("RttiSettings", text);
        const QSettings settings(path(), QSettings::IniFormat);
        CxRtti::instance()->loadSettings(&settings);
    }
    bool enabled(TxRttiItem item) const { return CxRtti::instance()->itemEnabled(item); }

    QTemporaryDir m_dir;
    const TxRttiItem m_a = Item("ProbeSettings", "regtest::CxSettingsA");
    const TxRttiItem m_b = Item("ProbeSettings", "regtest::CxSettingsB");
    const QList<TxRttiItem> m_twice = Registered()->itemsByInterface().value("ProbeTwice");
};

TEST_F(RttiSettings, EnabledFlagsSurviveASaveAndLoadThroughASettingsFile)
{
    CxRtti* rtti = CxRtti::instance();
    rtti->setItemEnabled(m_a, false);
    rtti->saveSettings(std::make_unique<QSettings>(path(), QSettings::IniFormat).get());
    rtti->setItemEnabled(m_a, true);
    rtti->setItemEnabled(m_b, false);

    const QSettings settings(path(), QSettings::IniFormat);
    const QString text = settings.value("RttiSettings").toString();
    EXPECT_TRUE(text.contains("<regtest::CxSettingsA enabled=\"0\"/>")) << text.toStdString();
    EXPECT_TRUE(text.contains("<regtest::CxSettingsB enabled=\"1\"/>")) << text.toStdString();

    SignalLog log({m_a, m_b});
    rtti->loadSettings(&settings);
    EXPECT_FALSE(enabled(m_a));
    EXPECT_TRUE(enabled(m_b));
    EXPECT_EQ(log.emissions.size(), 2);
    EXPECT_TRUE(log.emissions.contains({m_a, false}) && log.emissions.contains({m_b, true}));
}

TEST_F(RttiSettings, AttributeTextsConvertByTheVariantRules)
{
    const QPair<const char*, bool> cases[] = {{"0", false},     {"1", true}, {"false", false},
                                              {"FALSE", false}, {"", false}, {"no", true}};
    for (const auto& c : cases) {
        CxRtti::instance()->setItemEnabled(m_a, !c.second);
        loadText(QStringLiteral("<CxRtti><regtest::CxSettingsA enabled=\"%1\"/></CxRtti>").arg(c.first));
        EXPECT_EQ(enabled(m_a), c.second) << c.first;
        EXPECT_TRUE(enabled(m_b)) << "a class missing from the text keeps its flag";
    }
}

TEST_F(RttiSettings, IncompleteOrUnparsableTextChangesNothingAndATwiceRegisteredClassSetsItsLaterItem)
{
    SignalLog log({m_a, m_b});
    for (const char* text : {"<CxRtti><regtest::CxSettingsA/></CxRtti>", // no attribute
                             "<CxRtti><regtest::CxSettingsA Enabled=\"0\"/></CxRtti>",
                             "<CxRtti><regtest::CxSettingsA enabled=\"0\"></CxRtti>", // does not parse
                             ""}) {
        loadText(text);
        EXPECT_TRUE(enabled(m_a)) << text;
    }
    CxRtti::instance()->loadSettings(nullptr);
    CxRtti::instance()->saveSettings(nullptr);
    EXPECT_TRUE(log.emissions.isEmpty());

    // A class registered twice: the stored flag goes to its later item in registry order.
    loadText("<CxRtti><regtest::CxTwice enabled=\"0\"/></CxRtti>");
    EXPECT_TRUE(enabled(m_twice[0]));
    EXPECT_FALSE(enabled(m_twice[1]));
}

} // namespace

#include "rtti_test.moc"
