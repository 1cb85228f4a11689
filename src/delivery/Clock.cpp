#include "delivery/Clock.h"

#include <cstdio>
#include <ctime>
#include <mutex>

namespace {

std::mutex gClockMutex;
ClockFunction gClock;

// Offset in minutes of local time at `t`, and whether daylight saving applies.
int OffsetAt(std::time_t t, bool* dst) {
    std::tm tm{};
    localtime_r(&t, &tm);
    if (dst) *dst = tm.tm_isdst > 0;
    return static_cast<int>(tm.tm_gmtoff / 60);
}

// The standard-time offset of the year of `now`: the offset of whichever of
// 1 January and 1 July is not in daylight saving (that covers both
// hemispheres); the current offset when both are.
int StandardOffset(std::time_t now, const std::tm& local) {
    for (int month : {0, 6}) {
        std::tm probe{};
        probe.tm_year = local.tm_year;
        probe.tm_mon = month;
        probe.tm_mday = 1;
        probe.tm_hour = 12;
        probe.tm_isdst = -1;
        std::time_t t = std::mktime(&probe);
        bool dst = false;
        int offset = OffsetAt(t, &dst);
        if (t != static_cast<std::time_t>(-1) && !dst) return offset;
    }
    return OffsetAt(now, nullptr);
}

}  // namespace

TClockTime LocalClockTime(std::chrono::system_clock::time_point when) {
    using namespace std::chrono;
    auto sinceEpoch = when.time_since_epoch();
    auto secs = duration_cast<seconds>(sinceEpoch);
    auto ms = duration_cast<milliseconds>(sinceEpoch - secs).count();
    if (ms < 0) {
        ms += 1000;
        secs -= seconds(1);
    }
    std::time_t t = static_cast<std::time_t>(secs.count());
    std::tm tm{};
    localtime_r(&t, &tm);
    TClockTime c;
    c.year = tm.tm_year + 1900;
    c.month = tm.tm_mon + 1;
    c.day = tm.tm_mday;
    c.hour = tm.tm_hour;
    c.minute = tm.tm_min;
    c.second = tm.tm_sec;
    c.millisecond = static_cast<int>(ms);
    c.weekday = tm.tm_wday;
    c.utcOffsetMinutes = static_cast<int>(tm.tm_gmtoff / 60);
    c.standardOffsetMinutes = StandardOffset(t, tm);
    return c;
}

TClockTime ClockNow() {
    ClockFunction clock;
    {
        std::lock_guard<std::mutex> lock(gClockMutex);
        clock = gClock;
    }
    if (clock) return clock();
    return LocalClockTime(std::chrono::system_clock::now());
}

void SetClock(ClockFunction clock) {
    std::lock_guard<std::mutex> lock(gClockMutex);
    gClock = std::move(clock);
}

std::string FormatShortDate(const TClockTime& t) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%04d/%02d/%02d", t.year, t.month, t.day);
    return buf;
}

std::string FormatLongTime(const TClockTime& t) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%d:%02d:%02d", t.hour, t.minute, t.second);
    return buf;
}
