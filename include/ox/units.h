#pragma once

#include <ox/export.h>

#include <QMetaType>
#include <QString>
#include <QtGlobal>

class QDataStream;

// Physical units in four groups (time, length, temperature, ratio): their texts, text lookup and
// conversions, and three small value types that carry a quantity with its unit. Everything here is
// stateless and may be used from any thread.

namespace ox {

// Static functions only. Bad input never fails loudly: a unit outside its enumeration converts to
// the value unchanged, has an empty text, and a text that names no unit looks up as -1.
class OX_EXPORT CxUnits
{
public:
    enum ExUnitGroup : qint32 {
        eNoGroup = 0,
        eTimeGroup = 1,
        eLengthGroup = 2,
        eTemperatureGroup = 3,
        eRatioGroup = 4,
    };

    // Nanoseconds come last although they are the smallest unit.
    enum ExTime : qint32 {
        eMicroseconds = 0, // "µs"
        eMilliseconds = 1, // "ms"
        eSeconds = 2,      // "s"
        eMinutes = 3,      // "min"
        eHours = 4,        // "h"
        eNanoseconds = 5,  // "ns"
    };

    // Nanometres come last although they are the smallest unit.
    enum ExLength : qint32 {
        eMicrometres = 0, // "µm"
        eMillimetres = 1, // "mm"
        eCentimetres = 2, // "cm"
        eMetres = 3,      // "m"
        eNanometres = 4,  // "nm"
    };

    enum ExTemperature : qint32 {
        eCelsius = 0,    // "°C"
        eFahrenheit = 1, // "°F"
        eKelvin = 2,     // "K"
    };

    enum ExRatio : qint32 {
        eFraction = 0, // empty text
        ePercent = 1,  // "%"
    };

    CxUnits() = delete;

    // Each conversion returns `v` unchanged when `from` equals `to` or either unit is outside its
    // enumeration.
    static double convertTime(double v, ExTime from, ExTime to);
    static double convertLength(double v, ExLength from, ExLength to);
    static double convertTemperature(double v, ExTemperature from, ExTemperature to);
    static double convertRatio(double v, ExRatio from, ExRatio to);
    // The conversion of `group`; `v` for eNoGroup and unknown groups.
    static double convertValue(double v, ExUnitGroup group, int from, int to);

    // Number of units in `group`: 6, 5, 3, 2 for time, length, temperature, ratio; 0 otherwise.
    static int countInGroup(ExUnitGroup group);

    // The unit's text (µ is U+00B5, ° is U+00B0); empty for an unknown group or unit.
    static QString text(ExUnitGroup group, int unit);
    static QString textTime(ExTime unit);
    static QString textLength(ExLength unit);
    static QString textTemperature(ExTemperature unit);
    static QString textRatio(ExRatio unit);

    // The first unit, in enumeration order, whose text equals `text` exactly (case-sensitive), or
    // -1. The empty text is eFraction.
    static int timeUnitFromText(const QString& text);
    static int lengthUnitFromText(const QString& text);
    static int temperatureUnitFromText(const QString& text);
    static int ratioUnitFromText(const QString& text);
    // The same for any group; -1 for eNoGroup and unknown groups.
    static int unitFromText(ExUnitGroup group, const QString& text);
};

// A length, for example a focus position. Default: 0 metres.
struct OX_EXPORT CxLength
{
    double value = 0.0;
    CxUnits::ExLength unit = CxUnits::eMetres;

    CxLength() = default;
    CxLength(double v, CxUnits::ExLength u) : value(v), unit(u) {}
    bool operator==(const CxLength& o) const { return value == o.value && unit == o.unit; }
    bool operator!=(const CxLength& o) const { return !(*this == o); }
};

// A duration, for example the time a pipe item took. Default: 0 seconds.
struct OX_EXPORT CxDuration
{
    double value = 0.0;
    CxUnits::ExTime unit = CxUnits::eSeconds;

    CxDuration() = default;
    CxDuration(double v, CxUnits::ExTime u) : value(v), unit(u) {}
    bool operator==(const CxDuration& o) const { return value == o.value && unit == o.unit; }
    bool operator!=(const CxDuration& o) const { return !(*this == o); }
};

// An exposure time as a fraction numerator / denominator of `unit`. The library gives the fields
// no meaning of its own: it only constructs, copies and streams them. Only the two integers are
// streamed; reading leaves `unit` as it was.
struct OX_EXPORT CxExposureTime
{
    qint64 numerator = 0;
    qint64 denominator = 0;
    CxUnits::ExTime unit = CxUnits::eSeconds;

    CxExposureTime() = default;
    CxExposureTime(qint64 num, qint64 den, CxUnits::ExTime u) : numerator(num), denominator(den), unit(u) {}
    bool operator==(const CxExposureTime& o) const
    {
        return numerator == o.numerator && denominator == o.denominator && unit == o.unit;
    }
    bool operator!=(const CxExposureTime& o) const { return !(*this == o); }
};

// Data-stream forms. CxLength and CxDuration: the value as a double, then the unit as a signed
// 32-bit integer. CxExposureTime: the two 64-bit integers.
OX_EXPORT QDataStream& operator<<(QDataStream& out, const CxLength& length);
OX_EXPORT QDataStream& operator>>(QDataStream& in, CxLength& length);
OX_EXPORT QDataStream& operator<<(QDataStream& out, const CxDuration& duration);
OX_EXPORT QDataStream& operator>>(QDataStream& in, CxDuration& duration);
OX_EXPORT QDataStream& operator<<(QDataStream& out, const CxExposureTime& time);
OX_EXPORT QDataStream& operator>>(QDataStream& in, CxExposureTime& time);

} // namespace ox

Q_DECLARE_METATYPE(ox::CxLength)
Q_DECLARE_METATYPE(ox::CxDuration)
Q_DECLARE_METATYPE(ox::CxExposureTime)
