#pragma once

// The library's log convention, in one place. Every Part of the library reports through these:
//   errors:   qCritical() << "ERROR" << "|" << message
//   warnings: qDebug()    << "WARN"  << "|" << message
// and a failed call as "Function %1 failed. Code 0x%2" (eight lower-case hex digits) or
// "Function %1 failed.".

#include <ox/export.h>

#include <QString>

namespace ox::detail {

void LogError(const QString& message);
void LogWarning(const QString& message);

// "Function <name> failed. Code 0x<eight lower-case hex digits>", and the form without a code.
// Exported for the tests only, like the log handling below.
OX_EXPORT QString FunctionFailedMessage(const QString& function, unsigned int code);
OX_EXPORT QString FunctionFailedMessage(const QString& function);

// Log file handling: the log lives in <AppLocalDataLocation>/log. Start-up and shut-down drive
// these; they are exported for the tests only (declared here, never in include/).
// Opens a new log file (pruning old ones first) and installs the message handler once per process.
// Returns whether a file is open afterwards.
OX_EXPORT bool OpenLog();
// Closes the log file; the handler stays installed and only forwards.
OX_EXPORT void CloseLog();
// Path of the open log file, empty when none is open.
OX_EXPORT QString CurrentLogFilePath();
// The folder log files are written to.
OX_EXPORT QString LogDirectory();
// Deletes old "*.log" files in `dir` so that at most 10 remain and they total at most 50 MiB.
OX_EXPORT void PruneLogFiles(const QString& dir);

// The global clock, started by start-up and invalidated by shut-down.
OX_EXPORT void StartGlobalClock();
OX_EXPORT void StopGlobalClock();

} // namespace ox::detail
