#include "engine/support/VellocDate.h"

#include "engine/support/VellocReplaceableSource.h"
#include "engine/support/VellocZeroPadded.h"

#include <charconv>
#include <cstdlib>
#include <ctime>
#include <utility>

namespace velloc {

namespace {

TLocalTime SystemLocalTime()
{
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    tm parts{};
    TLocalTime time;
    if (localtime_r(&now.tv_sec, &parts) != nullptr) {
        time.ZoneKnown = true;
        time.UtcOffsetMinutes = static_cast<int32_t>(parts.tm_gmtoff / 60);
    } else {
        gmtime_r(&now.tv_sec, &parts);
    }
    time.Year = parts.tm_year + 1900;
    time.Month = parts.tm_mon + 1;
    time.Day = parts.tm_mday;
    time.Hour = parts.tm_hour;
    time.Minute = parts.tm_min;
    // A leap second (60) is folded into the last regular second of the minute.
    time.Second = parts.tm_sec > 59 ? 59 : parts.tm_sec;
    time.Millisecond = static_cast<int32_t>(now.tv_nsec / 1000000);
    return time;
}

// Days from 1 January 1970 to the given date of the proleptic Gregorian calendar
// (Howard Hinnant's days_from_civil).
int64_t DaysFromCivil(int64_t year, int64_t month, int64_t day)
{
    year -= month <= 2 ? 1 : 0;
    const int64_t era = (year >= 0 ? year : year - 399) / 400;
    const int64_t yearOfEra = year - era * 400;
    const int64_t dayOfYear = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
    const int64_t dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
    return era * 146097 + dayOfEra - 719468;
}

TReplaceableSource<TLocalTime>& Clock()
{
    static TReplaceableSource<TLocalTime> clock(SystemLocalTime);
    return clock;
}

} // namespace

void SetClockSource(TClockSource source)
{
    Clock().Replace(std::move(source));
}

void ResetClockSource()
{
    Clock().Replace(nullptr);
}

TLocalTime ReadLocalTime()
{
    return Clock().Read();
}

std::string PdfDateText(const TLocalTime& time)
{
    std::string text = "D:";
    text += ZeroPadded(time.Year, 4);
    text += ZeroPadded(time.Month, 2);
    text += ZeroPadded(time.Day, 2);
    text += ZeroPadded(time.Hour, 2);
    text += ZeroPadded(time.Minute, 2);
    text += ZeroPadded(time.Second, 2);
    const int32_t offset = time.ZoneKnown ? time.UtcOffsetMinutes : 0;
    if (offset == 0) {
        text += 'Z';
        return text;
    }
    const int32_t magnitude = std::abs(offset);
    text += offset > 0 ? '+' : '-';
    text += ZeroPadded(magnitude / 60, 2);
    text += '\'';
    text += ZeroPadded(magnitude % 60, 2);
    text += '\'';
    return text;
}

std::string CurrentDateText()
{
    return PdfDateText(ReadLocalTime());
}

std::string DaysText(const TLocalTime& time)
{
    constexpr double MillisecondsPerDay = 86400000.0;
    const int64_t days =
        DaysFromCivil(time.Year, time.Month, time.Day) - DaysFromCivil(1899, 12, 30);
    const int64_t milliseconds =
        ((int64_t{time.Hour} * 60 + time.Minute) * 60 + time.Second) * 1000 + time.Millisecond;
    const double value =
        static_cast<double>(days) + static_cast<double>(milliseconds) / MillisecondsPerDay;
    char digits[32];
    const auto end =
        std::to_chars(digits, digits + sizeof(digits), value, std::chars_format::general, 15).ptr;
    return std::string(digits, end);
}

std::string CurrentDaysText()
{
    return DaysText(ReadLocalTime());
}

} // namespace velloc
