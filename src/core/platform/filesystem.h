#pragma once

// The file-system services behind the path functions. One implementation per platform
// (filesystem_linux.cpp); safe to call from any thread.

#include <QByteArray>
#include <QString>

namespace ox::detail {

// An ASCII-only alias of the existing path `path` in 8-bit form (as a short-name file system keeps
// for long or non-ASCII names), without a terminating null. Returns false when the platform has no
// such alias for `path`; `alias` is untouched then.
bool AsciiPathAlias(const QString& path, QByteArray& alias);

} // namespace ox::detail
