#pragma once

#include <chrono>
#include <functional>
#include <string>

// The one clock of the core. Every time stamp a mail, the send log or a wait
// takes comes from ClockNow(), so a test can fix the time with SetClock().

// A moment in local time, with what the platform says about its zone.
struct TClockTime {
    int year = 0;
    int month = 0;  // 1-12
    int day = 0;    // 1-31
    int hour = 0;   // 0-23
    int minute = 0;
    int second = 0;
    int millisecond = 0;
    int weekday = 0;  // 0 Sunday .. 6 Saturday
    // Offset of this local time from UTC in minutes (east positive), with
    // daylight saving applied when it is in effect.
    int utcOffsetMinutes = 0;
    // The zone's standard-time offset from UTC in minutes (no daylight saving).
    int standardOffsetMinutes = 0;
};

using ClockFunction = std::function<TClockTime()>;

// Now, from the installed clock (the system clock unless a test set another).
TClockTime ClockNow();

// Installs `clock`; an empty function puts the system clock back. Safe to
// call from any thread, but meant for start-up and tests.
void SetClock(ClockFunction clock);

// `when` in the local zone of the process.
TClockTime LocalClockTime(std::chrono::system_clock::time_point when);

// "yyyy/MM/dd", the short date format of the system the application is made for.
std::string FormatShortDate(const TClockTime& t);

// "H:mm:ss", the long time format of the same system (hours without a leading zero).
std::string FormatLongTime(const TClockTime& t);
