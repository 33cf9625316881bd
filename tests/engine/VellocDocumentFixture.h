#ifndef VELLOC_DOCUMENT_FIXTURE_H
#define VELLOC_DOCUMENT_FIXTURE_H

#include "engine/VellocDocument.h"
#include "engine/support/VellocDate.h"
#include "engine/support/VellocUniqueTag.h"

#include <gtest/gtest.h>

#include <string>

namespace velloc::testing {

inline const std::u16string EngineText = u"Velloc Library 8.13 (http://www.velloc.example/)";

// 15 March 2024, 10:30:45.250, one hour ahead of UTC.
inline TLocalTime FixedTime()
{
    TLocalTime time;
    time.Year = 2024;
    time.Month = 3;
    time.Day = 15;
    time.Hour = 10;
    time.Minute = 30;
    time.Second = 45;
    time.Millisecond = 250;
    time.UtcOffsetMinutes = 60;
    time.ZoneKnown = true;
    return time;
}

inline std::u16string Widen(const std::string& ascii)
{
    return std::u16string(ascii.begin(), ascii.end());
}

inline std::string Bytes(const std::u16string& ascii)
{
    std::string bytes;
    for (const char16_t unit : ascii) {
        bytes += static_cast<char>(unit);
    }
    return bytes;
}

// Every test starts with the clock and the GUIDs fixed, so documents come out byte for byte
// the same on every run.
class TFixedSourcesTest : public ::testing::Test
{
  protected:
    void SetUp() override
    {
        SetClock(FixedTime());
        SetGuidSource([] {
            TGuidBytes guid{};
            for (size_t i = 0; i < guid.size(); ++i) {
                guid[i] = static_cast<uint8_t>(0xA0 + i);
            }
            return guid;
        });
    }

    void TearDown() override
    {
        ResetClockSource();
        ResetGuidSource();
        SetWriteLimitForTesting(-1);
    }

    static void SetClock(TLocalTime time)
    {
        SetClockSource([time] { return time; });
    }

    // A document as the facade makes it: the skeleton, then Producer, Creator, CreationDate
    // and ModDate.
    static void BuildFacadeDocument(TPDFDocument& document)
    {
        ASSERT_TRUE(document.SetUpNewDocument());
        document.SetInfoEntry("Producer", EngineText);
        document.SetInfoEntry("Creator", EngineText);
        document.SetInfoEntry("CreationDate", Widen(CurrentDateText()));
        document.SetInfoEntry("ModDate", Widen(CurrentDateText()));
    }
};

} // namespace velloc::testing

#endif
