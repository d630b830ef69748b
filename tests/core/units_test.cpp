#include <ox/imagebuf.h>
#include <ox/units.h>

#include "core/metatypes.h"

#include <gtest/gtest.h>

#include <QDataStream>
#include <QVariant>

using ox::CxUnits;

namespace {

const QString kMicro = QString(QChar(0x00B5));
const QString kDegree = QString(QChar(0x00B0));

// Each group's texts and (for time and length) base units per unit, written out independently.
struct Group
{
    CxUnits::ExUnitGroup group;
    QStringList texts;
    QVector<double> factors;
};
const Group kGroups[] = {
    {CxUnits::eTimeGroup, {kMicro + "s", "ms", "s", "min", "h", "ns"}, {1e-6, 1e-3, 1, 60, 3600, 1e-9}},
    {CxUnits::eLengthGroup, {kMicro + "m", "mm", "cm", "m", "nm"}, {1e-6, 1e-3, 1e-2, 1, 1e-9}},
    {CxUnits::eTemperatureGroup, {kDegree + "C", kDegree + "F", "K"}, {}},
    {CxUnits::eRatioGroup, {"", "%"}, {}},
};

} // namespace

TEST(Units, EveryPairOfEveryGroupConverts)
{
    for (const Group& g : kGroups) {
        for (int from = 0; from < g.factors.size(); ++from)
            for (int to = 0; to < g.factors.size(); ++to)
                EXPECT_DOUBLE_EQ(CxUnits::convertValue(-2.5, g.group, from, to),
                                 from == to ? -2.5 : -2.5 * g.factors[from] / g.factors[to])
                    << g.group << ": " << from << " -> " << to;
    }
    EXPECT_DOUBLE_EQ(CxUnits::convertLength(1.0, CxUnits::eMillimetres, CxUnits::eMicrometres), 1000.0);
    EXPECT_DOUBLE_EQ(CxUnits::convertTime(90.0, CxUnits::eSeconds, CxUnits::eMinutes), 1.5);

    // Temperature: {from, to, in, out}, every ordered pair and the identities.
    const double temperature[][4] = {{0, 1, 100, 212},   {0, 2, 25, 298.15}, {1, 0, 212, 100},
                                     {1, 2, 32, 273.15}, {2, 0, 0, -273.15}, {2, 1, 373.15, 212},
                                     {0, 0, 12.5, 12.5}, {1, 1, 12.5, 12.5}, {2, 2, 12.5, 12.5}};
    for (const auto& c : temperature) {
        EXPECT_NEAR(
            CxUnits::convertTemperature(c[2], CxUnits::ExTemperature(c[0]), CxUnits::ExTemperature(c[1])),
            c[3], 1e-9)
            << c[0] << " -> " << c[1];
        EXPECT_NEAR(CxUnits::convertValue(c[2], CxUnits::eTemperatureGroup, int(c[0]), int(c[1])), c[3],
                    1e-9);
    }
    EXPECT_DOUBLE_EQ(CxUnits::convertRatio(0.25, CxUnits::eFraction, CxUnits::ePercent), 25.0);
    EXPECT_DOUBLE_EQ(CxUnits::convertValue(25.0, CxUnits::eRatioGroup, 1, 0), 0.25);
    EXPECT_DOUBLE_EQ(CxUnits::convertRatio(0.25, CxUnits::ePercent, CxUnits::ePercent), 0.25);
}

TEST(Units, UnknownGroupsAndUnitsLeaveTheValueUnchanged)
{
    for (const Group& g : kGroups) {
        for (int bad : {-1, CxUnits::countInGroup(g.group), 1000}) {
            EXPECT_EQ(CxUnits::convertValue(7.0, g.group, bad, 0), 7.0) << g.group << "/" << bad;
            EXPECT_EQ(CxUnits::convertValue(7.0, g.group, 1, bad), 7.0) << g.group << "/" << bad;
        }
    }
    for (int group : {0, -1, 5})
        EXPECT_EQ(CxUnits::convertValue(7.0, CxUnits::ExUnitGroup(group), 0, 1), 7.0);
}

TEST(Units, TextsCountsAndExactLookups)
{
    for (const Group& g : kGroups) {
        ASSERT_EQ(CxUnits::countInGroup(g.group), g.texts.size());
        for (int unit = 0; unit < g.texts.size(); ++unit) {
            EXPECT_EQ(CxUnits::text(g.group, unit), g.texts[unit]) << g.group << "/" << unit;
            EXPECT_EQ(CxUnits::unitFromText(g.group, g.texts[unit]), unit) << g.group << "/" << unit;
        }
        EXPECT_TRUE(CxUnits::text(g.group, g.texts.size()).isEmpty());
        EXPECT_TRUE(CxUnits::text(g.group, -1).isEmpty());
    }
    // The per-group forms agree with the generic ones.
    EXPECT_EQ(CxUnits::textTime(CxUnits::eNanoseconds), "ns");
    EXPECT_EQ(CxUnits::textLength(CxUnits::eMicrometres), kMicro + "m");
    EXPECT_EQ(CxUnits::textTemperature(CxUnits::eKelvin), "K");
    EXPECT_EQ(CxUnits::textRatio(CxUnits::eFraction), "");
    EXPECT_EQ(CxUnits::timeUnitFromText("min"), CxUnits::eMinutes);
    EXPECT_EQ(CxUnits::lengthUnitFromText("nm"), CxUnits::eNanometres);
    EXPECT_EQ(CxUnits::temperatureUnitFromText(kDegree + "F"), CxUnits::eFahrenheit);
    EXPECT_EQ(CxUnits::ratioUnitFromText(""), CxUnits::eFraction);

    EXPECT_EQ(CxUnits::countInGroup(CxUnits::eNoGroup), 0);
    EXPECT_EQ(CxUnits::countInGroup(CxUnits::ExUnitGroup(7)), 0);
    EXPECT_TRUE(CxUnits::text(CxUnits::eNoGroup, 0).isEmpty());
    EXPECT_TRUE(CxUnits::text(CxUnits::eTimeGroup, 6).isEmpty());
    for (const QString& bad : {QString("um"), QString(QChar(0x03BC)) + "m", QString("MM"), QString(" m")})
        EXPECT_EQ(CxUnits::lengthUnitFromText(bad), -1) << bad.toStdString();
    EXPECT_EQ(CxUnits::timeUnitFromText(""), -1);
    EXPECT_EQ(CxUnits::temperatureUnitFromText("C"), -1);
    EXPECT_EQ(CxUnits::unitFromText(CxUnits::eNoGroup, ""), -1);
    EXPECT_EQ(CxUnits::unitFromText(CxUnits::ExUnitGroup(9), "s"), -1);
}

namespace {

template <typename... Values>
QByteArray bytesOf(const Values&... values)
{
    QByteArray bytes;
    QDataStream out(&bytes, QIODevice::WriteOnly);
    (out << ... << values);
    return bytes;
}

// Streams a variant holding `value` (with its type name) and reads it back into an empty variant.
template <typename T>
T throughVariantStream(const T& value)
{
    const QByteArray bytes = bytesOf(QVariant::fromValue(value));
    QDataStream in(bytes);
    QVariant back;
    in >> back;
    EXPECT_EQ(in.status(), QDataStream::Ok);
    EXPECT_EQ(back.userType(), qMetaTypeId<T>());
    return back.value<T>();
}

} // namespace

TEST(Units, StreamFormsHaveTheDocumentedLayout)
{
    EXPECT_EQ(bytesOf(ox::CxLength(12.5, CxUnits::eNanometres)), bytesOf(12.5, qint32(4)));
    EXPECT_EQ(bytesOf(ox::CxDuration(-0.75, CxUnits::eHours)), bytesOf(-0.75, qint32(4)));
    EXPECT_EQ(bytesOf(ox::CxExposureTime(-3, 1LL << 40, CxUnits::eMilliseconds)),
              bytesOf(qint64(-3), 1LL << 40));

    // Reading: only the two integers of an exposure time travel; its unit stays as it was.
    QDataStream in(bytesOf(qint64(-3), 1LL << 40));
    ox::CxExposureTime time(0, 0, CxUnits::eNanoseconds);
    in >> time;
    EXPECT_EQ(time, ox::CxExposureTime(-3, 1LL << 40, CxUnits::eNanoseconds));
    EXPECT_TRUE(in.atEnd());
}

TEST(Units, RegisteredMetaTypesTravelThroughVariantsAndStreamsUnderBothNames)
{
    ox::detail::RegisterMetaTypes();
    ox::detail::RegisterMetaTypes(); // a second registration is harmless

    EXPECT_EQ(QMetaType::type("OX_HANDLE"), int(QMetaType::ULongLong));
    const struct
    {
        const char *name, *alias;
        int id;
    } types[] = {
        {"ox::CxLength", "CxLength", qMetaTypeId<ox::CxLength>()},
        {"ox::CxDuration", "CxDuration", qMetaTypeId<ox::CxDuration>()},
        {"ox::CxExposureTime", "CxExposureTime", qMetaTypeId<ox::CxExposureTime>()},
        {"ox::SxImageInfo", "SxImageInfo", qMetaTypeId<ox::SxImageInfo>()},
    };
    for (const auto& t : types) {
        EXPECT_EQ(QMetaType::type(t.name), t.id) << t.name;
        EXPECT_EQ(QMetaType::type(t.alias), t.id) << t.alias;
        EXPECT_STREQ(QMetaType::typeName(t.id), t.name);
    }

    const ox::CxLength length(-4.25, CxUnits::eMicrometres);
    EXPECT_EQ(throughVariantStream(length), length);
    const ox::CxDuration duration(1e-3, CxUnits::eNanoseconds);
    EXPECT_EQ(throughVariantStream(duration), duration);
    const ox::CxExposureTime time = throughVariantStream(ox::CxExposureTime(7, 9, CxUnits::eHours));
    EXPECT_EQ(time.numerator, 7);
    EXPECT_EQ(time.denominator, 9);
    EXPECT_EQ(throughVariantStream(quint64(0xfedcba9876543210ull)), 0xfedcba9876543210ull);

    ox::SxImageInfo info;
    info.width = 640;
    info.channels = 3;
    info.bayerGrid = ox::eGRBG;
    const ox::SxImageInfo infoBack = throughVariantStream(info);
    EXPECT_EQ(infoBack.width, 640);
    EXPECT_EQ(infoBack.channels, 3);
    EXPECT_EQ(infoBack.bayerGrid, ox::eGRBG);
}
