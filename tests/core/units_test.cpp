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

// Streams a variant holding `value` (with its type name) and reads it back into an empty variant.
template <typename T>
T ThroughVariantStream(const T& value)
{
    QByteArray bytes;
    QDataStream out(&bytes, QIODevice::WriteOnly);
    out << QVariant::fromValue(value);
    QDataStream in(bytes);
    QVariant back;
    in >> back;
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
        EXPECT_EQ(CxUnits::convertValue(7.0, g.group, CxUnits::countInGroup(g.group), 0), 7.0);
    }
    // Temperature and ratio: {group, from, to, in, out}, every ordered pair.
    const double T = CxUnits::eTemperatureGroup, R = CxUnits::eRatioGroup;
    const double cases[][5] = {{T, 0, 1, 100, 212},   {T, 0, 2, 25, 298.15}, {T, 1, 0, 212, 100},
                               {T, 1, 2, 32, 273.15}, {T, 2, 0, 0, -273.15}, {T, 2, 1, 373.15, 212},
                               {R, 0, 1, 0.25, 25},   {R, 1, 0, 25, 0.25}};
    for (const auto& c : cases)
        EXPECT_NEAR(CxUnits::convertValue(c[3], CxUnits::ExUnitGroup(int(c[0])), int(c[1]), int(c[2])), c[4],
                    1e-9)
            << c[0] << ": " << c[1] << " -> " << c[2];
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
    }
    for (const QString& bad : {QString("um"), QString(QChar(0x03BC)) + "m", QString("MM"), QString(" m")})
        EXPECT_EQ(CxUnits::lengthUnitFromText(bad), -1) << bad.toStdString();
}

TEST(Units, ValueTypesTravelThroughVariantStreamsUnderTheirRegisteredNames)
{
    ox::detail::RegisterMetaTypes();
    EXPECT_EQ(QMetaType::type("OX_HANDLE"), int(QMetaType::ULongLong));
    const ox::CxLength length(-4.25, CxUnits::eMicrometres);
    const ox::CxDuration duration(1e-3, CxUnits::eNanoseconds);
    const ox::CxExposureTime exposure(7, 9, CxUnits::eHours);
    const struct
    {
        const char *name, *alias;
        int id;
        bool roundTrips;
    } types[] = {
        {"ox::CxLength", "CxLength", qMetaTypeId<ox::CxLength>(), ThroughVariantStream(length) == length},
        {"ox::CxDuration", "CxDuration", qMetaTypeId<ox::CxDuration>(),
         ThroughVariantStream(duration) == duration},
        {"ox::CxExposureTime", "CxExposureTime", qMetaTypeId<ox::CxExposureTime>(),
         ThroughVariantStream(exposure).denominator == 9},
    };
    for (const auto& t : types) {
        EXPECT_EQ(QMetaType::type(t.name), t.id) << t.name;
        EXPECT_EQ(QMetaType::type(t.alias), t.id) << t.alias;
        EXPECT_TRUE(t.roundTrips) << t.name;
    }
}
