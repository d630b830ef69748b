#include <ox/imagebuf.h>
#include <ox/units.h>

#include "core/metatypes.h"

#include <gtest/gtest.h>

#include <QBuffer>
#include <QDataStream>
#include <QVariant>

#include <cmath>

using ox::CxUnits;

namespace {

// Factors written out here, independently of the library's tables.
const double kSeconds[] = {1e-6, 1e-3, 1.0, 60.0, 3600.0, 1e-9};
const double kMetres[] = {1e-6, 1e-3, 1e-2, 1.0, 1e-9};

const QString kMicro = QString(QChar(0x00B5));
const QString kDegree = QString(QChar(0x00B0));

} // namespace

TEST(Units, TimeAndLengthConvertBetweenEveryPairThroughTheBaseUnit)
{
    for (int from = 0; from < 6; ++from) {
        for (int to = 0; to < 6; ++to) {
            const double expected = from == to ? 3.7 : 3.7 * kSeconds[from] / kSeconds[to];
            EXPECT_DOUBLE_EQ(CxUnits::convertTime(3.7, CxUnits::ExTime(from), CxUnits::ExTime(to)), expected)
                << from << " -> " << to;
            EXPECT_DOUBLE_EQ(CxUnits::convertValue(3.7, CxUnits::eTimeGroup, from, to), expected);
        }
    }
    for (int from = 0; from < 5; ++from) {
        for (int to = 0; to < 5; ++to) {
            const double expected = from == to ? -2.5 : -2.5 * kMetres[from] / kMetres[to];
            EXPECT_DOUBLE_EQ(CxUnits::convertLength(-2.5, CxUnits::ExLength(from), CxUnits::ExLength(to)),
                             expected)
                << from << " -> " << to;
            EXPECT_DOUBLE_EQ(CxUnits::convertValue(-2.5, CxUnits::eLengthGroup, from, to), expected);
        }
    }
    EXPECT_DOUBLE_EQ(CxUnits::convertLength(1.0, CxUnits::eMillimetres, CxUnits::eMicrometres), 1000.0);
    EXPECT_DOUBLE_EQ(CxUnits::convertTime(90.0, CxUnits::eSeconds, CxUnits::eMinutes), 1.5);
    EXPECT_DOUBLE_EQ(CxUnits::convertTime(1.0, CxUnits::eHours, CxUnits::eNanoseconds), 3.6e12);
}

TEST(Units, TemperatureAndRatioConvertBetweenEveryPair)
{
    struct Case
    {
        CxUnits::ExTemperature from, to;
        double in, out;
    };
    const Case cases[] = {
        {CxUnits::eCelsius, CxUnits::eFahrenheit, 100.0, 212.0},
        {CxUnits::eCelsius, CxUnits::eKelvin, 25.0, 298.15},
        {CxUnits::eFahrenheit, CxUnits::eCelsius, 212.0, 100.0},
        {CxUnits::eFahrenheit, CxUnits::eKelvin, 32.0, 273.15},
        {CxUnits::eKelvin, CxUnits::eCelsius, 0.0, -273.15},
        {CxUnits::eKelvin, CxUnits::eFahrenheit, 373.15, 212.0},
        {CxUnits::eCelsius, CxUnits::eCelsius, 12.5, 12.5},
        {CxUnits::eFahrenheit, CxUnits::eFahrenheit, 12.5, 12.5},
        {CxUnits::eKelvin, CxUnits::eKelvin, 12.5, 12.5},
    };
    for (const Case& c : cases) {
        EXPECT_NEAR(CxUnits::convertTemperature(c.in, c.from, c.to), c.out, 1e-9) << c.from << " -> " << c.to;
        EXPECT_NEAR(CxUnits::convertValue(c.in, CxUnits::eTemperatureGroup, c.from, c.to), c.out, 1e-9);
    }

    EXPECT_DOUBLE_EQ(CxUnits::convertRatio(0.25, CxUnits::eFraction, CxUnits::ePercent), 25.0);
    EXPECT_DOUBLE_EQ(CxUnits::convertRatio(25.0, CxUnits::ePercent, CxUnits::eFraction), 0.25);
    EXPECT_DOUBLE_EQ(CxUnits::convertRatio(0.25, CxUnits::eFraction, CxUnits::eFraction), 0.25);
    EXPECT_DOUBLE_EQ(CxUnits::convertRatio(25.0, CxUnits::ePercent, CxUnits::ePercent), 25.0);
    EXPECT_DOUBLE_EQ(CxUnits::convertValue(0.25, CxUnits::eRatioGroup, 0, 1), 25.0);
}

TEST(Units, UnknownGroupsAndUnitsLeaveTheValueUnchanged)
{
    for (int bad : {-1, 6, 1000}) {
        EXPECT_EQ(CxUnits::convertTime(7.0, CxUnits::ExTime(bad), CxUnits::eSeconds), 7.0);
        EXPECT_EQ(CxUnits::convertTime(7.0, CxUnits::eSeconds, CxUnits::ExTime(bad)), 7.0);
        EXPECT_EQ(CxUnits::convertLength(7.0, CxUnits::ExLength(bad), CxUnits::eMetres), 7.0);
        EXPECT_EQ(CxUnits::convertLength(7.0, CxUnits::eMetres, CxUnits::ExLength(bad)), 7.0);
        EXPECT_EQ(CxUnits::convertTemperature(7.0, CxUnits::ExTemperature(bad), CxUnits::eKelvin), 7.0);
        EXPECT_EQ(CxUnits::convertTemperature(7.0, CxUnits::eCelsius, CxUnits::ExTemperature(bad)), 7.0);
        EXPECT_EQ(CxUnits::convertRatio(7.0, CxUnits::ExRatio(bad), CxUnits::ePercent), 7.0);
        EXPECT_EQ(CxUnits::convertRatio(7.0, CxUnits::eFraction, CxUnits::ExRatio(bad)), 7.0);
    }
    for (int group : {0, -1, 5, 99})
        EXPECT_EQ(CxUnits::convertValue(7.0, CxUnits::ExUnitGroup(group), 0, 1), 7.0);
}

TEST(Units, TextsAndCountsOfEveryGroup)
{
    const QStringList time = {kMicro + "s", "ms", "s", "min", "h", "ns"};
    const QStringList length = {kMicro + "m", "mm", "cm", "m", "nm"};
    const QStringList temperature = {kDegree + "C", kDegree + "F", "K"};
    const QStringList ratio = {"", "%"};
    const QList<QPair<CxUnits::ExUnitGroup, QStringList>> groups = {{CxUnits::eTimeGroup, time},
                                                                    {CxUnits::eLengthGroup, length},
                                                                    {CxUnits::eTemperatureGroup, temperature},
                                                                    {CxUnits::eRatioGroup, ratio}};
    for (const auto& g : groups) {
        ASSERT_EQ(CxUnits::countInGroup(g.first), g.second.size());
        for (int unit = 0; unit < g.second.size(); ++unit) {
            EXPECT_EQ(CxUnits::text(g.first, unit), g.second[unit]) << g.first << "/" << unit;
            EXPECT_EQ(CxUnits::unitFromText(g.first, g.second[unit]), unit) << g.first << "/" << unit;
        }
        EXPECT_TRUE(CxUnits::text(g.first, g.second.size()).isEmpty());
        EXPECT_TRUE(CxUnits::text(g.first, -1).isEmpty());
    }
    for (int unit = 0; unit < time.size(); ++unit)
        EXPECT_EQ(CxUnits::textTime(CxUnits::ExTime(unit)), time[unit]);
    for (int unit = 0; unit < length.size(); ++unit)
        EXPECT_EQ(CxUnits::textLength(CxUnits::ExLength(unit)), length[unit]);
    for (int unit = 0; unit < temperature.size(); ++unit)
        EXPECT_EQ(CxUnits::textTemperature(CxUnits::ExTemperature(unit)), temperature[unit]);
    EXPECT_EQ(CxUnits::textRatio(CxUnits::eFraction), QString());
    EXPECT_EQ(CxUnits::textRatio(CxUnits::ePercent), QString("%"));

    EXPECT_EQ(CxUnits::countInGroup(CxUnits::eNoGroup), 0);
    EXPECT_EQ(CxUnits::countInGroup(CxUnits::ExUnitGroup(7)), 0);
    EXPECT_TRUE(CxUnits::text(CxUnits::eNoGroup, 0).isEmpty());
    EXPECT_TRUE(CxUnits::text(CxUnits::eTimeGroup, 6).isEmpty());
}

TEST(Units, TextLookupIsExactAndUnknownTextsGiveMinusOne)
{
    EXPECT_EQ(CxUnits::timeUnitFromText("min"), CxUnits::eMinutes);
    EXPECT_EQ(CxUnits::timeUnitFromText(kMicro + "s"), CxUnits::eMicroseconds);
    EXPECT_EQ(CxUnits::lengthUnitFromText("nm"), CxUnits::eNanometres);
    EXPECT_EQ(CxUnits::temperatureUnitFromText(kDegree + "F"), CxUnits::eFahrenheit);
    EXPECT_EQ(CxUnits::ratioUnitFromText(""), CxUnits::eFraction);
    EXPECT_EQ(CxUnits::ratioUnitFromText("%"), CxUnits::ePercent);

    EXPECT_EQ(CxUnits::lengthUnitFromText("um"), -1); // plain u instead of the micro sign
    EXPECT_EQ(CxUnits::timeUnitFromText(QString(QChar(0x03BC)) + "s"), -1); // Greek mu
    EXPECT_EQ(CxUnits::timeUnitFromText("MS"), -1);
    EXPECT_EQ(CxUnits::timeUnitFromText(" s"), -1);
    EXPECT_EQ(CxUnits::timeUnitFromText(""), -1);
    EXPECT_EQ(CxUnits::temperatureUnitFromText("C"), -1);
    EXPECT_EQ(CxUnits::lengthUnitFromText("s"), -1);
    EXPECT_EQ(CxUnits::unitFromText(CxUnits::eNoGroup, ""), -1);
    EXPECT_EQ(CxUnits::unitFromText(CxUnits::ExUnitGroup(9), "s"), -1);
}

TEST(Units, ValueTypesHaveTheirDefaults)
{
    EXPECT_EQ(ox::CxLength(), ox::CxLength(0.0, CxUnits::eMetres));
    EXPECT_EQ(ox::CxDuration(), ox::CxDuration(0.0, CxUnits::eSeconds));
    const ox::CxExposureTime t;
    EXPECT_EQ(t.numerator, 0);
    EXPECT_EQ(t.denominator, 0);
    EXPECT_EQ(int(t.unit), 2);
}

namespace {

template <typename T>
QByteArray streamed(const T& value)
{
    QByteArray bytes;
    QDataStream out(&bytes, QIODevice::WriteOnly);
    out << value;
    return bytes;
}

template <typename T>
T readBack(const QByteArray& bytes, T target)
{
    QDataStream in(bytes);
    in >> target;
    EXPECT_EQ(in.status(), QDataStream::Ok);
    EXPECT_TRUE(in.atEnd());
    return target;
}

// A value through QVariant and QDataStream: the variant is streamed (with its type name) and read
// back into an empty variant.
template <typename T>
T throughVariantStream(const T& value)
{
    QByteArray bytes;
    {
        QDataStream out(&bytes, QIODevice::WriteOnly);
        out << QVariant::fromValue(value);
    }
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
    const ox::CxLength length(12.5, CxUnits::eNanometres);
    QByteArray expected;
    {
        QDataStream out(&expected, QIODevice::WriteOnly);
        out << 12.5 << qint32(4);
    }
    EXPECT_EQ(streamed(length), expected);
    EXPECT_EQ(readBack(expected, ox::CxLength()), length);

    const ox::CxDuration duration(-0.75, CxUnits::eHours);
    expected.clear();
    {
        QDataStream out(&expected, QIODevice::WriteOnly);
        out << -0.75 << qint32(4);
    }
    EXPECT_EQ(streamed(duration), expected);
    EXPECT_EQ(readBack(expected, ox::CxDuration()), duration);

    // Only the two integers travel: the third field of the target stays as it was.
    const ox::CxExposureTime time(-3, Q_INT64_C(1) << 40, CxUnits::eMilliseconds);
    expected.clear();
    {
        QDataStream out(&expected, QIODevice::WriteOnly);
        out << qint64(-3) << (qint64(1) << 40);
    }
    EXPECT_EQ(streamed(time), expected);
    const ox::CxExposureTime back = readBack(expected, ox::CxExposureTime(0, 0, CxUnits::eNanoseconds));
    EXPECT_EQ(back, ox::CxExposureTime(-3, Q_INT64_C(1) << 40, CxUnits::eNanoseconds));
}

TEST(Units, RegisteredMetaTypesTravelThroughVariantsAndStreamsUnderBothNames)
{
    ox::detail::RegisterMetaTypes();
    ox::detail::RegisterMetaTypes(); // a second registration is harmless

    EXPECT_EQ(QMetaType::type("OX_HANDLE"), int(QMetaType::ULongLong));
    const struct
    {
        const char* name;
        const char* alias;
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

    EXPECT_EQ(throughVariantStream(ox::CxLength(-4.25, CxUnits::eMicrometres)),
              ox::CxLength(-4.25, CxUnits::eMicrometres));
    EXPECT_EQ(throughVariantStream(ox::CxDuration(1e-3, CxUnits::eNanoseconds)),
              ox::CxDuration(1e-3, CxUnits::eNanoseconds));
    const ox::CxExposureTime time = throughVariantStream(ox::CxExposureTime(7, 9, CxUnits::eHours));
    EXPECT_EQ(time.numerator, 7);
    EXPECT_EQ(time.denominator, 9);

    ox::SxImageInfo info;
    info.width = 640;
    info.height = 480;
    info.channels = 3;
    info.dataType = ox::eUInt16;
    info.bayerGrid = ox::eGRBG;
    const ox::SxImageInfo infoBack = throughVariantStream(info);
    EXPECT_EQ(infoBack.width, 640);
    EXPECT_EQ(infoBack.height, 480);
    EXPECT_EQ(infoBack.channels, 3);
    EXPECT_EQ(infoBack.dataType, ox::eUInt16);
    EXPECT_EQ(infoBack.bayerGrid, ox::eGRBG);

    QVariant handle(QVariant::ULongLong);
    handle.setValue(quint64(0xfedcba9876543210ull));
    EXPECT_EQ(throughVariantStream(handle.value<quint64>()), 0xfedcba9876543210ull);

    // A variant made from the alias name holds the registered type.
    const QVariant fromAlias(QMetaType::type("CxLength"), nullptr);
    EXPECT_EQ(fromAlias.userType(), qMetaTypeId<ox::CxLength>());
    EXPECT_EQ(fromAlias.value<ox::CxLength>(), ox::CxLength());
}
