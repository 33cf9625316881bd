#ifndef VELLOC_DATE_H
#define VELLOC_DATE_H

#include <cstdint>
#include <functional>
#include <string>

namespace velloc {

// One reading of the local clock.
struct TLocalTime
{
    int32_t Year = 1970;
    int32_t Month = 1; // 1..12
    int32_t Day = 1;   // 1..31
    int32_t Hour = 0;  // 0..23
    int32_t Minute = 0;
    int32_t Second = 0;
    int32_t Millisecond = 0;
    // Local time minus UTC; only meaningful when ZoneKnown.
    int32_t UtcOffsetMinutes = 0;
    bool ZoneKnown = false;
};

using TClockSource = std::function<TLocalTime()>;

// Replaces the system clock for every engine reading of the time, so tests can fix it.
void SetClockSource(TClockSource source);
void ResetClockSource();

// The local date, time and UTC offset, all taken from one reading of the clock.
TLocalTime ReadLocalTime();

// "D:YYYYMMDDHHmmSS" and the zone part: "Z" for UTC or an unknown zone, otherwise a sign
// ("+" when local time is ahead of UTC), two-digit hours, "'", two-digit minutes and "'".
std::string PdfDateText(const TLocalTime& time);
std::string CurrentDateText();

// Days since 30 December 1899, the time of day as the fraction, with up to 15 significant
// digits, no exponent for present-day dates and "." as the decimal point.
std::string DaysText(const TLocalTime& time);
std::string CurrentDaysText();

} // namespace velloc

#endif
