#include <ox/fileutils.h>

#include <ox/errors.h>

#include "core/platform/filesystem.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSettings>
#include <QStandardPaths>

#include <algorithm>
#include <limits>

namespace ox {

namespace {

const QLatin1String kLastOpenDirKey("lastOpenDir");
const QLatin1String kLastSaveDirKey("lastSaveDir");

QString WithSeparator(const QString& dir)
{
    if (dir.isEmpty() || dir.endsWith(QLatin1Char('/')) || dir.endsWith(QLatin1Char('\\')))
        return dir;
    return dir + QDir::separator();
}

// The files of `dir` whose names begin with `prefix` and end with `suffix`, the two not
// overlapping: what the name filter "prefix*suffix" selects, with the prefix and suffix taken
// literally ('*', '?' and '[' in them are ordinary characters) and, as with Qt's name filters,
// ignoring case. Unsorted. An empty `dir` is the current directory; a directory that cannot be
// listed gives an empty list.
QStringList MatchingFiles(const QString& dir, const QString& prefix, const QString& suffix)
{
    const QDir d(dir.isEmpty() ? QStringLiteral(".") : dir);
    QStringList names;
    for (const QString& name : d.entryList(QDir::Files, QDir::NoSort)) {
        if (name.size() >= prefix.size() + suffix.size() && name.startsWith(prefix, Qt::CaseInsensitive) &&
            name.endsWith(suffix, Qt::CaseInsensitive))
            names.append(name);
    }
    return names;
}

// "base-N.ext" or "base(N).ext" with N formatted by QString::arg(n, fieldWidth, 10, '0').
// The multi-argument arg() substitutes in one pass, so '%' in the names is taken literally.
QString NumberedName(const QString& baseName, const QString& extension, bool parentheses, qint64 number,
                     int fieldWidth)
{
    const QString n = QStringLiteral("%1").arg(qlonglong(number), fieldWidth, 10, QLatin1Char('0'));
    return parentheses ? QStringLiteral("%1(%2).%3").arg(baseName, n, extension)
                       : QStringLiteral("%1-%2.%3").arg(baseName, n, extension);
}

// The number of a listed name: between the first '-' and the last '.', or between the first '('
// and the last ')'; 0 when that text is missing or not a decimal 64-bit integer.
qint64 NumberOfName(const QString& name, bool parentheses)
{
    const int open = name.indexOf(parentheses ? QLatin1Char('(') : QLatin1Char('-'));
    const int close = name.lastIndexOf(parentheses ? QLatin1Char(')') : QLatin1Char('.'));
    if (open < 0 || close <= open)
        return 0;
    bool ok = false;
    const qint64 number = name.mid(open + 1, close - open - 1).toLongLong(&ok, 10);
    return ok ? number : 0;
}

QString RememberedDir(const QString& key)
{
    const QString home = WithSeparator(QStandardPaths::writableLocation(QStandardPaths::HomeLocation));
    const QSettings settings;
    const QString dir = settings.value(key, home).toString();
    return QDir::toNativeSeparators(WithSeparator(dir));
}

void RememberDir(const QString& key, const QString& dir)
{
    QSettings settings;
    settings.setValue(key, dir);
}

} // namespace

QString GenerateFilename(const QString& dir, const QString& baseName, const QString& extension,
                         bool parentheses, int fieldWidth)
{
    const QString d = WithSeparator(dir);
    const QString dotExtension = QLatin1Char('.') + extension;
    QStringList names;
    if (!parentheses) {
        names = MatchingFiles(d, baseName + QLatin1Char('-'), dotExtension);
    } else {
        if (MatchingFiles(d, baseName, dotExtension).isEmpty())
            return QStringLiteral("%1.%2").arg(baseName, extension);
        names = MatchingFiles(d, baseName + QLatin1Char('('), QLatin1Char(')') + dotExtension);
    }
    if (names.isEmpty())
        return NumberedName(baseName, extension, parentheses, 1, fieldWidth);

    // The greatest by name, as a listing sorted by name (case-sensitive) ends with it.
    qint64 number = NumberOfName(*std::max_element(names.cbegin(), names.cend()), parentheses);
    QString name;
    do {
        number = number == std::numeric_limits<qint64>::max() ? 1 : number + 1; // no overflow
        name = NumberedName(baseName, extension, parentheses, number, fieldWidth);
    } while (QFileInfo::exists(d + name));
    return name;
}

QString GenerateFullFilename(const QString& path)
{
    const QFileInfo info(path);
    const QString root = GetBasenameRoot(info.baseName());
    const QString dir = QDir::toNativeSeparators(WithSeparator(info.path()));
    return dir + GenerateFilename(dir, root, info.suffix(), true, -1);
}

QString GenerateSubdirName(const QString& parentDir, const QString& name)
{
    const QString parent = WithSeparator(parentDir);
    if (!QDir(parent + name).exists())
        return name;
    for (int n = 1;; ++n) {
        const QString candidate = QStringLiteral("%1(%2)").arg(name).arg(n);
        if (!QDir(parent + candidate).exists())
            return candidate;
    }
}

QString GenerateFullSubdirName(const QString& parentDir, const QString& name)
{
    return QDir::toNativeSeparators(WithSeparator(parentDir) +
                                    GenerateSubdirName(parentDir, GetBasenameRoot(name)));
}

QString GetBasenameRoot(const QString& name)
{
    if (name.isEmpty())
        return QString();
    const QString t = name.trimmed();
    if (!t.endsWith(QLatin1Char(')')))
        return name;
    const int close = t.size() - 1;
    const int open = t.lastIndexOf(QLatin1Char('('), close);
    if (open < 0 || close - open < 2)
        return name;
    bool ok = false;
    t.mid(open + 1, close - open - 1).toInt(&ok, 10);
    return ok ? t.left(open) : name;
}

QString LastOpenDir()
{
    return RememberedDir(kLastOpenDirKey);
}

QString LastSaveDir()
{
    return RememberedDir(kLastSaveDirKey);
}

void SetLastOpenDir(const QString& dir)
{
    RememberDir(kLastOpenDirKey, dir);
}

void SetLastSaveDir(const QString& dir)
{
    RememberDir(kLastSaveDirKey, dir);
}

unsigned int FileMd5Sum(const QString& path, QByteArray& md5)
{
    const QFileInfo info(path);
    if (!info.exists())
        return eErrFileNotFound;
    // Only regular files (or links to them): a pipe or a device could block or never end.
    if (!info.isFile())
        return eErrFileOpen;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return eErrFileOpen;
    QCryptographicHash hash(QCryptographicHash::Md5);
    if (!hash.addData(&file))
        return eErrFailed;
    md5 = hash.result();
    return eOk;
}

QByteArray FileSystemRepresentation(const QString& path)
{
    if (path.isEmpty())
        return QByteArray();
    const bool ascii = std::all_of(path.cbegin(), path.cend(),
                                   [](QChar c) { return c.unicode() >= 1 && c.unicode() <= 127; });
    QByteArray alias;
    if (!ascii && detail::AsciiPathAlias(path, alias))
        return alias;
    return path.toLocal8Bit();
}

QString StringFromFileSystemRepresentation(const QByteArray& path)
{
    if (path.isEmpty())
        return QString();
    return QString::fromLocal8Bit(path);
}

} // namespace ox
