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
const struct
{
    CxUnits::ExUnitGroup group;
    QStringList texts;
    QVector<double> factors;
} kGroups[] = {
    {CxUnits::eTimeGroup, {kMicro + "s", "ms", "s", "min", "h", "ns"}, {1e-6, 1e-3, 1, 60, 3600, 1e-9}},
    {CxUnits::eLengthGroup, {kMicro + "m", "mm", "cm", "m", "nm"}, {1e-6, 1e-3, 1e-2, 1, 1e-9}},
    {CxUnits::eTemperatureGroup, {kDegree + "C", kDegree + "F", "K"}, {}},
    {CxUnits::eRatioGroup, {"", "%"}, {}},
};

template <typename... Values>
QByteArray BytesOf(const Values&... values)
{
    QByteArray bytes;
    QDataStream out(&bytes, QIODevice::WriteOnly);
    (out << ... << values);
    return bytes;
}

// Streams a variant holding `value` (with its type name) and reads it back into an empty variant.
template <typename T>
T ThroughVariantStream(const T& value)
{
    const QByteArray bytes = BytesOf(QVariant::fromValue(value));
    QDataStream in(bytes);
    QVariant back;
    in >> back;
    EXPECT_EQ(in.status(), QDataStream::Ok);
    EXPECT_EQ(back.userType(), qMetaTypeId<T>());
    return back.value<T>();
}

} // namespace

TEST(Units, EveryPairOfEveryGroupConvertsAndUnknownUnitsLeaveTheValue)
{
    for (const auto& g : kGroups) {
        for (int from = 0; from < g.factors.size(); ++from)
            for (int to = 0; to < g.factors.size(); ++to)
                EXPECT_DOUBLE_EQ(CxUnits::convertValue(-2.5, g.group, from, to),
                                 from == to ? -2.5 : -2.5 * g.factors[from] / g.factors[to])
                    << g.group << ": " << from << " -> " << to;
        for (int bad : {-1, CxUnits::countInGroup(g.group), 1000}) {
            EXPECT_EQ(CxUnits::convertValue(7.0, g.group, bad, 0), 7.0) << g.group << "/" << bad;
            EXPECT_EQ(CxUnits::convertValue(7.0, g.group, 1, bad), 7.0) << g.group << "/" << bad;
        }
    }
    for (int group : {0, -1, 5})
        EXPECT_EQ(CxUnits::convertValue(7.0, CxUnits::ExUnitGroup(group), 0, 1), 7.0);
    EXPECT_DOUBLE_EQ(CxUnits::convertLength(1.0, CxUnits::eMillimetres, CxUnits::eMicrometres), 1000.0);
    EXPECT_DOUBLE_EQ(CxUnits::convertTime(90.0, CxUnits::eSeconds, CxUnits::eMinutes), 1.5);

    // Temperature and ratio: {group, from, to, in, out}, every ordered pair and the identities.
    const double T = CxUnits::eTemperatureGroup, R = CxUnits::eRatioGroup;
    const double cases[][5] = {{T, 0, 1, 100, 212},   {T, 0, 2, 25, 298.15}, {T, 1, 0, 212, 100},
                               {T, 1, 2, 32, 273.15}, {T, 2, 0, 0, -273.15}, {T, 2, 1, 373.15, 212},
                               {T, 0, 0, 12.5, 12.5}, {T, 1, 1, 12.5, 12.5}, {T, 2, 2, 12.5, 12.5},
                               {R, 0, 1, 0.25, 25},   {R, 1, 0, 25, 0.25},   {R, 1, 1, 0.25, 0.25}};
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c[0] << ": " << c[1] << " -> " << c[2]);
        const int from = int(c[1]), to = int(c[2]);
        EXPECT_NEAR(CxUnits::convertValue(c[3], CxUnits::ExUnitGroup(int(c[0])), from, to), c[4], 1e-9);
        EXPECT_NEAR(c[0] == T ? CxUnits::convertTemperature(c[3], CxUnits::ExTemperature(from),
                                                            CxUnits::ExTemperature(to))
                              : CxUnits::convertRatio(c[3], CxUnits::ExRatio(from), CxUnits::ExRatio(to)),
                    c[4], 1e-9);
    }
}

TEST(Units, TextsAndLookupsMatchExactly)
{
    for (const auto& g : kGroups) {
        ASSERT_EQ(CxUnits::countInGroup(g.group), g.texts.size());
        for (int unit = 0; unit < g.texts.size(); ++unit) {
            EXPECT_EQ(CxUnits::text(g.group, unit), g.texts[unit]) << g.group << "/" << unit;
            EXPECT_EQ(CxUnits::unitFromText(g.group, g.texts[unit]), unit) << g.group << "/" << unit;
        }
        EXPECT_TRUE(CxUnits::text(g.group, g.texts.size()).isEmpty());
        EXPECT_TRUE(CxUnits::text(g.group, -1).isEmpty());
    }
    // The per-group forms agree with the generic ones; lookups are exact.
    EXPECT_EQ(CxUnits::textLength(CxUnits::eMicrometres), kMicro + "m");
    EXPECT_EQ(CxUnits::temperatureUnitFromText(kDegree + "F"), CxUnits::eFahrenheit);
    EXPECT_EQ(CxUnits::ratioUnitFromText(""), CxUnits::eFraction);
    EXPECT_EQ(CxUnits::countInGroup(CxUnits::eNoGroup) + CxUnits::countInGroup(CxUnits::ExUnitGroup(7)), 0);
    EXPECT_TRUE(CxUnits::text(CxUnits::eNoGroup, 0).isEmpty());
    for (const QString& bad : {QString("um"), QString(QChar(0x03BC)) + "m", QString("MM"), QString(" m")})
        EXPECT_EQ(CxUnits::lengthUnitFromText(bad), -1) << bad.toStdString();
    EXPECT_EQ(CxUnits::timeUnitFromText(""), -1);
    EXPECT_EQ(CxUnits::temperatureUnitFromText("C"), -1);
    EXPECT_EQ(CxUnits::unitFromText(CxUnits::eNoGroup, ""), -1);
    EXPECT_EQ(CxUnits::unitFromText(CxUnits::ExUnitGroup(9), "s"), -1);
}

TEST(Units, ValueTypesStreamInTheDocumentedLayoutAndTravelThroughVariantsUnderBothNames)
{
    EXPECT_EQ(BytesOf(ox::CxLength(12.5, CxUnits::eNanometres)), BytesOf(12.5, qint32(4)));
    EXPECT_EQ(BytesOf(ox::CxDuration(-0.75, CxUnits::eHours)), BytesOf(-0.75, qint32(4)));
    EXPECT_EQ(BytesOf(ox::CxExposureTime(-3, 1LL << 40, CxUnits::eMilliseconds)),
              BytesOf(qint64(-3), 1LL << 40));
    // Reading: only the two integers of an exposure time travel; its unit stays as it was.
    QDataStream in(BytesOf(qint64(-3), 1LL << 40));
    ox::CxExposureTime time(0, 0, CxUnits::eNanoseconds);
    in >> time;
    EXPECT_EQ(time, ox::CxExposureTime(-3, 1LL << 40, CxUnits::eNanoseconds));
    EXPECT_TRUE(in.atEnd());

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
    EXPECT_EQ(ThroughVariantStream(length), length);
    const ox::CxDuration duration(1e-3, CxUnits::eNanoseconds);
    EXPECT_EQ(ThroughVariantStream(duration), duration);
    const ox::CxExposureTime exposure = ThroughVariantStream(ox::CxExposureTime(7, 9, CxUnits::eHours));
    EXPECT_TRUE(exposure.numerator == 7 && exposure.denominator == 9);
    EXPECT_EQ(ThroughVariantStream(quint64(0xfedcba9876543210ull)), 0xfedcba9876543210ull);
    ox::SxImageInfo info;
    info.width = 640;
    info.channels = 3;
    info.bayerGrid = ox::eGRBG;
    const ox::SxImageInfo infoBack = ThroughVariantStream(info);
    EXPECT_TRUE(infoBack.width == 640 && infoBack.channels == 3 && infoBack.bayerGrid == ox::eGRBG);
}
