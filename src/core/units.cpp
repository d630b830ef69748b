#include <ox/units.h>

#include <QDataStream>

#include <iterator>

namespace ox {

namespace {

// Texts and factors, indexed by the enumerations' values.
const char16_t* const kTimeTexts[] = {u"\u00B5s", u"ms", u"s", u"min", u"h", u"ns"};
const double kSecondsPerUnit[] = {1e-6, 1e-3, 1.0, 60.0, 3600.0, 1e-9};

const char16_t* const kLengthTexts[] = {u"\u00B5m", u"mm", u"cm", u"m", u"nm"};
const double kMetresPerUnit[] = {1e-6, 1e-3, 1e-2, 1.0, 1e-9};

const char16_t* const kTemperatureTexts[] = {u"\u00B0C", u"\u00B0F", u"K"};
const char16_t* const kRatioTexts[] = {u"", u"%"};

struct GroupTexts
{
    const char16_t* const* texts;
    int count;
};

template <std::size_t N>
constexpr GroupTexts Texts(const char16_t* const (&texts)[N])
{
    return {texts, int(N)};
}

GroupTexts TextsOf(CxUnits::ExUnitGroup group)
{
    switch (group) {
    case CxUnits::eTimeGroup: return Texts(kTimeTexts);
    case CxUnits::eLengthGroup: return Texts(kLengthTexts);
    case CxUnits::eTemperatureGroup: return Texts(kTemperatureTexts);
    case CxUnits::eRatioGroup: return Texts(kRatioTexts);
    default: return {nullptr, 0};
    }
}

bool InRange(int unit, int count)
{
    return unit >= 0 && unit < count;
}

// v x factor[from] / factor[to]; v when the units are equal or unknown.
template <std::size_t N>
double ConvertByFactor(double v, int from, int to, const double (&factors)[N])
{
    if (from == to || !InRange(from, int(N)) || !InRange(to, int(N)))
        return v;
    return v * factors[from] / factors[to];
}

} // namespace

double CxUnits::convertTime(double v, ExTime from, ExTime to)
{
    return ConvertByFactor(v, from, to, kSecondsPerUnit);
}

double CxUnits::convertLength(double v, ExLength from, ExLength to)
{
    return ConvertByFactor(v, from, to, kMetresPerUnit);
}

double CxUnits::convertTemperature(double v, ExTemperature from, ExTemperature to)
{
    if (from == to)
        return v;
    switch (from) {
    case eCelsius:
        if (to == eFahrenheit)
            return v * 9.0 / 5.0 + 32.0;
        if (to == eKelvin)
            return v + 273.15;
        break;
    case eFahrenheit:
        if (to == eCelsius)
            return (v - 32.0) * 5.0 / 9.0;
        if (to == eKelvin)
            return (v - 32.0) * 5.0 / 9.0 + 273.15;
        break;
    case eKelvin:
        if (to == eCelsius)
            return v - 273.15;
        if (to == eFahrenheit)
            return (v - 273.15) * 9.0 / 5.0 + 32.0;
        break;
    }
    return v;
}

double CxUnits::convertRatio(double v, ExRatio from, ExRatio to)
{
    if (from == eFraction && to == ePercent)
        return v * 100.0;
    if (from == ePercent && to == eFraction)
        return v / 100.0;
    return v;
}

double CxUnits::convertValue(double v, ExUnitGroup group, int from, int to)
{
    switch (group) {
    case eTimeGroup: return convertTime(v, ExTime(from), ExTime(to));
    case eLengthGroup: return convertLength(v, ExLength(from), ExLength(to));
    case eTemperatureGroup: return convertTemperature(v, ExTemperature(from), ExTemperature(to));
    case eRatioGroup: return convertRatio(v, ExRatio(from), ExRatio(to));
    default: return v;
    }
}

int CxUnits::countInGroup(ExUnitGroup group)
{
    return TextsOf(group).count;
}

QString CxUnits::text(ExUnitGroup group, int unit)
{
    const GroupTexts g = TextsOf(group);
    if (!InRange(unit, g.count))
        return QString();
    return QString::fromUtf16(g.texts[unit]);
}

QString CxUnits::textTime(ExTime unit)
{
    return text(eTimeGroup, unit);
}

QString CxUnits::textLength(ExLength unit)
{
    return text(eLengthGroup, unit);
}

QString CxUnits::textTemperature(ExTemperature unit)
{
    return text(eTemperatureGroup, unit);
}

QString CxUnits::textRatio(ExRatio unit)
{
    return text(eRatioGroup, unit);
}

int CxUnits::unitFromText(ExUnitGroup group, const QString& text)
{
    const GroupTexts g = TextsOf(group);
    for (int unit = 0; unit < g.count; ++unit) {
        if (text == QString::fromUtf16(g.texts[unit]))
            return unit;
    }
    return -1;
}

int CxUnits::timeUnitFromText(const QString& text)
{
    return unitFromText(eTimeGroup, text);
}

int CxUnits::lengthUnitFromText(const QString& text)
{
    return unitFromText(eLengthGroup, text);
}

int CxUnits::temperatureUnitFromText(const QString& text)
{
    return unitFromText(eTemperatureGroup, text);
}

int CxUnits::ratioUnitFromText(const QString& text)
{
    return unitFromText(eRatioGroup, text);
}

namespace {

template <typename Quantity>
void WriteQuantity(QDataStream& out, const Quantity& q)
{
    out << q.value << qint32(q.unit);
}

template <typename Quantity>
void ReadQuantity(QDataStream& in, Quantity& q)
{
    qint32 unit = 0;
    in >> q.value >> unit;
    q.unit = decltype(q.unit)(unit);
}

} // namespace

QDataStream& operator<<(QDataStream& out, const CxLength& length)
{
    WriteQuantity(out, length);
    return out;
}

QDataStream& operator>>(QDataStream& in, CxLength& length)
{
    ReadQuantity(in, length);
    return in;
}

QDataStream& operator<<(QDataStream& out, const CxDuration& duration)
{
    WriteQuantity(out, duration);
    return out;
}

QDataStream& operator>>(QDataStream& in, CxDuration& duration)
{
    ReadQuantity(in, duration);
    return in;
}

QDataStream& operator<<(QDataStream& out, const CxExposureTime& time)
{
    return out << time.numerator << time.denominator;
}

QDataStream& operator>>(QDataStream& in, CxExposureTime& time)
{
    return in >> time.numerator >> time.denominator;
}

} // namespace ox
