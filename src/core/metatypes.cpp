#include "core/metatypes.h"

#include <ox/imagebuf.h>
#include <ox/units.h>

#include <QDataStream>
#include <QMetaType>

namespace ox::detail {

namespace {

// The qualified name comes from Q_DECLARE_METATYPE; the short name becomes an alias of it.
template <typename T>
void RegisterValueType(const char* qualifiedName, const char* alias)
{
    qRegisterMetaType<T>(qualifiedName);
    qRegisterMetaType<T>(alias);
    qRegisterMetaTypeStreamOperators<T>(qualifiedName);
}

} // namespace

void RegisterMetaTypes()
{
    qRegisterMetaType<quint64>("OX_HANDLE");
    RegisterValueType<CxLength>("ox::CxLength", "CxLength");
    RegisterValueType<CxDuration>("ox::CxDuration", "CxDuration");
    RegisterValueType<CxExposureTime>("ox::CxExposureTime", "CxExposureTime");
    RegisterValueType<SxImageInfo>("ox::SxImageInfo", "SxImageInfo");
}

} // namespace ox::detail
