#include "engine/support/VellocUniqueTag.h"

#include "engine/support/VellocDate.h"

#include <gtest/gtest.h>

#include <regex>
#include <set>

using namespace velloc;

namespace {

TGuidBytes CountingGuid()
{
    TGuidBytes bytes{};
    for (size_t i = 0; i < bytes.size(); ++i) {
        bytes[i] = static_cast<uint8_t>(i);
    }
    return bytes;
}

TLocalTime FixedTime(int32_t hour, int32_t minute, int32_t second)
{
    TLocalTime time;
    time.Year = 2024;
    time.Month = 3;
    time.Day = 15;
    time.Hour = hour;
    time.Minute = minute;
    time.Second = second;
    time.ZoneKnown = true;
    time.UtcOffsetMinutes = 60;
    return time;
}

class VellocUniqueTag : public testing::Test
{
  protected:
    void TearDown() override
    {
        ResetGuidSource();
        ResetClockSource();
    }
};

} // namespace

TEST_F(VellocUniqueTag, FixedGuidAndClockGiveAFixedTag)
{
    // MD5 of the bytes 00..0F followed by "45366.604224537", cut to 8 characters.
    SetGuidSource(CountingGuid);
    SetClockSource([] { return FixedTime(14, 30, 5); });
    EXPECT_EQ(NewUniqueTag(), "46c5d57d");
    EXPECT_EQ(NewUniqueTag(), "46c5d57d");

    SetClockSource([] { return FixedTime(12, 0, 0); });
    EXPECT_EQ(NewUniqueTag(), "2acba627");

    SetGuidSource([] {
        TGuidBytes bytes;
        bytes.fill(0xFF);
        return bytes;
    });
    SetClockSource([] { return FixedTime(14, 30, 5); });
    EXPECT_EQ(NewUniqueTag(), "76bfc00e");
}

TEST_F(VellocUniqueTag, SystemTagsAreFreshLowercaseHex)
{
    std::set<std::string> tags;
    for (int i = 0; i < 100; ++i) {
        const std::string tag = NewUniqueTag();
        EXPECT_TRUE(std::regex_match(tag, std::regex("[0-9a-f]{8}"))) << tag;
        tags.insert(tag);
    }
    EXPECT_EQ(tags.size(), 100u);
    EXPECT_NE(NewGuid(), NewGuid());
}
