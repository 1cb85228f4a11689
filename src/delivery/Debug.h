#pragma once

#include <cstddef>
#include <functional>
#include <string>

#include "delivery/Clock.h"

// The send log: one line per event of a send job, "<date> <time> / <event>"
// with CR LF, CP932 bytes, restarted at every job. The file is opened and
// closed for every line, so it is complete after each one and can be read
// while a job runs. Every function here is safe to call from any thread.

// A log line (text and line end) is built in a buffer of this size, its
// terminator included: an event text too long for it is cut, never in the
// middle of a double-byte character.
inline constexpr std::size_t kLogLineBufferSize = 1024;

// The log path used by the overloads without one: Paths().logFile until
// SetLogPath gives another (the command-line sender does); an empty path
// returns to the default.
void SetLogPath(const std::string& path);
std::string LogPath();

// Deletes the log file when it exists (a file that cannot be deleted gets the
// new lines appended), switches file logging on and clears the log window.
void StartLog(const std::string& logPath);
void StartLog();

// Writes one line with the local date and time of the injectable clock.
// When the file can neither be opened nor created, shows message 4290/4291
// once and switches file logging off; the log window still gets the line.
void WriteLog(const std::string& logPath, const std::string& eventText);
void WriteLog(const std::string& eventText);

// The file logging switch: on at start, set on when a send starts, off
// after a write failure.
void SetFileLogging(bool on);
bool FileLogging();

// The log window, installed by the user interface only when the window is
// to be shown; `append` gets each line without its line end, `clear` empties
// the window. Empty functions remove it. Called on the thread that logs.
void SetLogWindow(std::function<void(const std::string& line)> append, std::function<void()> clear);

// "yyyy/MM/dd H:mm:ss", or the date alone at exactly midnight.
std::string FormatLogDateTime(const TClockTime& t);

// The file line for `eventText` at `t`: date and time, " / ", the event
// text (single-byte CR, LF and NUL made blanks so one event stays one line,
// then cut to fit the buffer) and CR LF.
std::string FormatLogLine(const TClockTime& t, const std::string& eventText);
