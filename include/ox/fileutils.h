#pragma once

#include <ox/export.h>

#include <QByteArray>
#include <QString>

// File and directory naming for saved series, remembered directories, MD5 digests and the 8-bit
// file-system form of paths. All functions are reentrant; the remembered directories go through the
// application's default QSettings store, which Qt makes safe to use from several threads.
//
// "Directory with separator": a non-empty directory string whose last character is neither '/' nor
// '\\' gets QDir::separator() appended; an empty string stays empty (the current directory).
// Directory listings take files only and sort by name (plain string order, so img-10 < img-9).
// Listed names are picked by their beginning and end, compared literally but ignoring case (as Qt's
// name filters do): characters such as '*', '?', '[' and ']' in base names and extensions are
// ordinary characters.

namespace ox {

// A free file name (without directory) in `dir` for a series `baseName`-N.`extension`, or, with
// `parentheses`, `baseName`.`extension` and then `baseName`(N).`extension`. N is written by
// QString::arg(n, fieldWidth, 10, '0'): a positive width pads with zeros on the left.
// The number after the last listed name (greatest by name) is the starting point; the search moves
// up by one until no entry of that name exists. An empty listing gives number 1 (or the plain name
// with `parentheses` when nothing starts with `baseName`). Numbers are read and counted as 64-bit
// integers (a listed number that does not parse counts as 0); after the largest one the search goes
// on from 1. Never fails: a directory that cannot be listed counts as empty.
OX_EXPORT QString GenerateFilename(const QString& dir, const QString& baseName, const QString& extension,
                                   bool parentheses, int fieldWidth);

// A free full path next to `path`: the base name (up to the first '.') loses a trailing "(N)" and the
// next free "root(N).suffix" in the same directory is returned, with the directory in native
// separators (a bare file name gets "./").
OX_EXPORT QString GenerateFullFilename(const QString& path);

// `name` when no directory of that name exists in `parentDir`, otherwise the first free "name(N)",
// N = 1, 2, ...
OX_EXPORT QString GenerateSubdirName(const QString& parentDir, const QString& name);

// `parentDir` with separator + GenerateSubdirName(parentDir, GetBasenameRoot(name)), in native
// separators.
OX_EXPORT QString GenerateFullSubdirName(const QString& parentDir, const QString& name);

// `name` without a trailing decimal number in parentheses: "scan(12)" gives "scan", "scan (12)"
// gives "scan " and "(3)" gives "". The text is trimmed before the test; whenever it does not end in
// "(integer)", `name` is returned unchanged (untrimmed).
OX_EXPORT QString GetBasenameRoot(const QString& name);

// The directories last used for opening and saving, kept under "lastOpenDir" and "lastSaveDir" in
// the application's default QSettings (no group). Getters return the stored value with a separator
// in native separators; the default is the home directory. Setters store `dir` unchanged.
OX_EXPORT QString LastOpenDir();
OX_EXPORT QString LastSaveDir();
OX_EXPORT void SetLastOpenDir(const QString& dir);
OX_EXPORT void SetLastSaveDir(const QString& dir);

// Stores the 16-byte binary MD5 digest of the file's contents in `md5`.
// Returns eOk; eErrFileNotFound when nothing exists at `path`; eErrFileOpen when it is not a regular
// file (a directory, a pipe, a device; links are followed) or cannot be opened for reading (missing
// permission); eErrFailed when reading stops part way.
// `md5` is untouched on failure.
OX_EXPORT unsigned int FileMd5Sum(const QString& path, QByteArray& md5);

// The 8-bit form of `path` that C libraries accept in their file functions: the local 8-bit
// encoding. Where the platform keeps an ASCII-only alias for a path with other characters (short
// names), that alias is used for existing paths; Linux has none. Empty gives empty.
OX_EXPORT QByteArray FileSystemRepresentation(const QString& path);

// Decodes a path from the local 8-bit encoding; empty gives empty.
OX_EXPORT QString StringFromFileSystemRepresentation(const QByteArray& path);

} // namespace ox
