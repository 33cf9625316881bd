#include "engine/support/VellocDate.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <ctime>
#include <optional>
#include <regex>

using namespace velloc;

namespace {

TLocalTime At(int32_t year, int32_t month, int32_t day, int32_t hour, int32_t minute,
              int32_t second, std::optional<int32_t> offsetMinutes)
{
    TLocalTime time;
    time.Year = year;
    time.Month = month;
    time.Day = day;
    time.Hour = hour;
    time.Minute = minute;
    time.Second = second;
    time.ZoneKnown = offsetMinutes.has_value();
    time.UtcOffsetMinutes = offsetMinutes.value_or(0);
    return time;
}

class VellocDate : public testing::Test
{
  protected:
    void TearDown() override { ResetClockSource(); }
};

// Sets TZ for the test's duration and puts the previous value back.
class ZoneOverride
{
  public:
    explicit ZoneOverride(const char* zone)
    {
        if (const char* old = std::getenv("TZ")) {
            m_Old = old;
        }
        setenv("TZ", zone, 1);
        tzset();
    }
    ~ZoneOverride()
    {
        if (m_Old) {
            setenv("TZ", m_Old->c_str(), 1);
        } else {
            unsetenv("TZ");
        }
        tzset();
    }

  private:
    std::optional<std::string> m_Old;
};

} // namespace

TEST_F(VellocDate, WritesDateTimeAndZonePart)
{
    const struct
    {
        TLocalTime Time;
        const char* Text;
    } rows[] = {
        {At(2024, 3, 15, 14, 30, 5, 60), "D:20240315143005+01'00'"},
        {At(2024, 3, 15, 14, 30, 5, -300), "D:20240315143005-05'00'"},
        {At(2024, 3, 15, 14, 30, 5, 0), "D:20240315143005Z"},
        {At(2024, 3, 15, 14, 30, 5, 330), "D:20240315143005+05'30'"},
        {At(2024, 3, 15, 14, 30, 5, -210), "D:20240315143005-03'30'"},
        {At(2024, 3, 15, 14, 30, 5, std::nullopt), "D:20240315143005Z"},
        {At(999, 1, 2, 0, 0, 0, 840), "D:09990102000000+14'00'"},
        {At(2023, 12, 31, 23, 59, 59, 60), "D:20231231235959+01'00'"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.Text);
        EXPECT_EQ(PdfDateText(row.Time), row.Text);
        SetClockSource([&] { return row.Time; });
        EXPECT_EQ(CurrentDateText(), row.Text);
    }
}

TEST_F(VellocDate, DateAndTimeComeFromOneReadingAtMidnight)
{
    // Each reading is one second later: a second reading would mix 31 December's date with
    // 1 January's time.
    const TLocalTime readings[] = {At(2023, 12, 31, 23, 59, 59, 60), At(2024, 1, 1, 0, 0, 0, 60)};
    int count = 0;
    SetClockSource([&] { return readings[std::min(count++, 1)]; });
    EXPECT_EQ(CurrentDateText(), "D:20231231235959+01'00'");
    EXPECT_EQ(count, 1);
}

TEST_F(VellocDate, SystemClockGivesItsZoneOffset)
{
    const ZoneOverride zone("XST-5:30"); // POSIX zones count west of UTC: this is UTC+05:30
    const TLocalTime now = ReadLocalTime();
    EXPECT_TRUE(now.ZoneKnown);
    EXPECT_EQ(now.UtcOffsetMinutes, 330);
    EXPECT_GE(now.Year, 2024);
    EXPECT_TRUE(std::regex_match(CurrentDateText(), std::regex(R"(D:\d{14}\+05'30')")));

    const ZoneOverride utc("UTC0");
    EXPECT_TRUE(std::regex_match(CurrentDateText(), std::regex(R"(D:\d{14}Z)")));
}

TEST_F(VellocDate, SystemClockReadsDateAndTimeTogether)
{
    const ZoneOverride zone("UTC0");
    const std::time_t before = std::time(nullptr);
    const TLocalTime now = ReadLocalTime();
    const std::time_t after = std::time(nullptr);
    std::tm parts{};
    parts.tm_year = now.Year - 1900;
    parts.tm_mon = now.Month - 1;
    parts.tm_mday = now.Day;
    parts.tm_hour = now.Hour;
    parts.tm_min = now.Minute;
    parts.tm_sec = now.Second;
    const std::time_t read = timegm(&parts);
    EXPECT_GE(read, before);
    EXPECT_LE(read, after);
}

TEST_F(VellocDate, DaysCountFromTheEndOf1899)
{
    TLocalTime withMilliseconds = At(2024, 3, 15, 0, 0, 0, 0);
    withMilliseconds.Millisecond = 864; // 864 ms are 0.00001 days
    const struct
    {
        TLocalTime Time;
        const char* Text;
    } rows[] = {
        {At(1899, 12, 30, 0, 0, 0, 0), "0"},
        {At(1900, 1, 1, 0, 0, 0, 0), "2"},
        {At(2024, 3, 15, 12, 0, 0, 0), "45366.5"},
        {At(2024, 3, 15, 14, 30, 5, 60), "45366.604224537"},
        {withMilliseconds, "45366.00001"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.Text);
        EXPECT_EQ(DaysText(row.Time), row.Text);
        SetClockSource([&] { return row.Time; });
        EXPECT_EQ(CurrentDaysText(), row.Text);
    }
}
