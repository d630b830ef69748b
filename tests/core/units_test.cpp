#include <ox/imagebuf.h>
#include <ox/units.h>

#include "core/metatypes.h"

#include <QDataStream>
#include <QVariant>

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <tuple>

using U = ox::CxUnits;

namespace {

const QString kMicro(QChar(0x00B5)), kDegree(QChar(0x00B0));

// Each group's texts and how its units relate to a base unit, written out independently:
// base = value x scale + offset (offset 0 when not listed).
const struct
{
    U::ExUnitGroup group;
    QStringList texts;
    QVector<double> scale, offset;
} kGroups[] = {
    {U::eTimeGroup, {kMicro + "s", "ms", "s", "min", "h", "ns"}, {1e-6, 1e-3, 1, 60, 3600, 1e-9}, {}},
    {U::eLengthGroup, {kMicro + "m", "mm", "cm", "m", "nm"}, {1e-6, 1e-3, 1e-2, 1, 1e-9}, {}},
    {U::eTemperatureGroup,
     {kDegree + "C", kDegree + "F", "K"},
     {1, 5.0 / 9, 1},
     {273.15, 273.15 - 160.0 / 9}},
    {U::eRatioGroup, {"", "%"}, {1, 0.01}, {}},
};

// Streams a variant holding `value` and reads it back into an empty variant: the type travels by name.
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

TEST(Units, EveryPairConvertsTextsMatchExactlyAndUnknownInputGivesTheDefaults)
{
    for (const auto& g : kGroups) {
        const int n = g.texts.size();
        ASSERT_EQ(U::countInGroup(g.group), n);
        for (int from = -1; from <= n; ++from) { // one unknown unit at either end
            for (int to = -1; to <= n; ++to) {
                const bool known = from >= 0 && to >= 0 && from < n && to < n;
                const double v = 37.5, base = known ? v * g.scale[from] + g.offset.value(from) : 0;
                const double expected = known ? (base - g.offset.value(to)) / g.scale[to] : v;
                EXPECT_NEAR(U::convertValue(v, g.group, from, to), expected, 1e-12 * std::fabs(expected))
                    << g.group << ": " << from << " -> " << to;
            }
            EXPECT_EQ(U::text(g.group, from), g.texts.value(from)) << g.group << "/" << from;
            EXPECT_EQ(U::unitFromText(g.group, g.texts.value(from, "?")), from < n ? from : -1);
        }
    }
    for (U::ExUnitGroup group : {U::eNoGroup, U::ExUnitGroup(99)})
        EXPECT_TRUE(U::countInGroup(group) == 0 && U::text(group, 0).isEmpty() &&
                    U::unitFromText(group, "s") == -1 && U::convertValue(7.5, group, 0, 1) == 7.5);
    for (const QString& bad : {QString("um"), QString(QChar(0x03BC)) + "m", QString("MM"), QString(" m")})
        EXPECT_EQ(U::lengthUnitFromText(bad), -1) << bad.toStdString();
    // The per-group text forms reach their own group.
    EXPECT_TRUE(U::textTime(U::eNanoseconds) == "ns" && U::textLength(U::eNanometres) == "nm" &&
                U::textTemperature(U::eKelvin) == "K" && U::textRatio(U::ePercent) == "%");
    EXPECT_TRUE(U::timeUnitFromText("min") == 3 && U::lengthUnitFromText("cm") == 2 &&
                U::temperatureUnitFromText("K") == 2 && U::ratioUnitFromText("%") == 1);
}

TEST(Units, ValueTypesTravelThroughVariantStreamsUnderTheirRegisteredNames)
{
    ox::detail::RegisterMetaTypes();
    const std::tuple<const char*, const char*, int> names[] = {
        {"ox::CxLength", "CxLength", qMetaTypeId<ox::CxLength>()},
        {"ox::CxDuration", "CxDuration", qMetaTypeId<ox::CxDuration>()},
        {"ox::CxExposureTime", "CxExposureTime", qMetaTypeId<ox::CxExposureTime>()},
        {"ox::SxImageInfo", "SxImageInfo", qMetaTypeId<ox::SxImageInfo>()},
        {"OX_HANDLE", "OX_HANDLE", QMetaType::ULongLong}};
    for (const auto& [name, alias, id] : names)
        EXPECT_TRUE(QMetaType::type(name) == id && QMetaType::type(alias) == id) << name;

    const ox::CxLength length(-4.25, U::eMicrometres);
    const ox::CxDuration duration(1e-3, U::eNanoseconds);
    EXPECT_TRUE(ThroughVariantStream(length) == length && ThroughVariantStream(duration) == duration);
    // Only the fraction is streamed: the unit read back is the default.
    EXPECT_TRUE(ThroughVariantStream(ox::CxExposureTime(7, 9, U::eHours)) ==
                ox::CxExposureTime(7, 9, U::eSeconds));
    EXPECT_EQ(ThroughVariantStream(quint64(0xfedcba9876543210u)), 0xfedcba9876543210u);
    // Every streamed field differs from its default; rowBytes is not streamed.
    const ox::SxImageInfo info{3, 4, 0, 2, 12, ox::eUInt16, ox::ePlanar, 5, ox::eGBRG, ox::eBitPacked, 6, 7};
    const ox::SxImageInfo back = ThroughVariantStream(info); // twelve 32-bit fields, no padding
    EXPECT_EQ(std::memcmp(&back, &info, sizeof info), 0);
}
