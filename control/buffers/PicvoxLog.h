#pragma once

#include <string>

namespace picvox {

// The tags of the control's log; each writes its own fixed-width prefix.
enum class LogTag { CPicvoxer, MainProcess, DXSManip, WaveWriteThread, HttpThread, J2KCHK };

// Decides whether the control logs: on exactly when "<folder>/Picvox.ini" can be opened for
// reading. Called by Start each time it runs, with the documents folder. Process-wide state, kept
// in one place (PicvoxLog.cpp) under its own lock.
void ConfigureLog(const std::string& folder);
// Turns logging off (the state before the first Start).
void ResetLog();
bool LogEnabled();
std::string LogFolder();

// Appends one line "<stamp> <TAG padded><text>\n" to "<folder>/Picvox_log.log".
void WriteLog(LogTag tag, const char* format, ...) __attribute__((format(printf, 2, 3)));
// Appends one line "<stamp> <text>\n" to "<folder>/J2KERR.log".
void WriteJ2kErrLog(const char* format, ...) __attribute__((format(printf, 1, 2)));

}  // namespace picvox
