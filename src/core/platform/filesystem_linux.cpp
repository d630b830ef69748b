#include "core/platform/filesystem.h"

namespace ox::detail {

// Linux file systems keep no second, ASCII-only name for an entry: a name is a byte string that
// open(2) takes as it is. Callers fall back to the path's local 8-bit encoding, which is exactly
// what the C libraries expect here.
bool AsciiPathAlias(const QString& path, QByteArray& alias)
{
    Q_UNUSED(path);
    Q_UNUSED(alias);
    return false;
}

} // namespace ox::detail
