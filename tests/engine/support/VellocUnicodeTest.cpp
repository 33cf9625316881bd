#include "engine/support/VellocUnicode.h"

#include <gtest/gtest.h>

using namespace velloc;

TEST(VellocUnicode, Utf16ToUtf8EncodesPairsAndReplacesLoneSurrogates)
{
    struct Row
    {
        const char* Name;
        std::u16string In;
        std::string Out;
    };
    const Row rows[] = {
        {"ascii", u"PDF 1.4", "PDF 1.4"},
        {"two bytes", u"Zo\u00EB", "Zo\xC3\xAB"},
        {"cyrillic", u"\u041F\u0440", "\xD0\x9F\xD1\x80"},
        {"three bytes", u"\u20AC\uFFFD", "\xE2\x82\xAC\xEF\xBF\xBD"},
        {"pair", u"\U0001D11E", "\xF0\x9D\x84\x9E"},
        {"largest", u"\U0010FFFF", "\xF4\x8F\xBF\xBF"},
        {"lone high at end", {u'a', char16_t(0xD834)}, "a\xEF\xBF\xBD"},
        {"lone low",
         {char16_t(0xDD1E), u'b'},
         "\xEF\xBF\xBD"
         "b"},
        {"high before non-low",
         {char16_t(0xD834), u'c'},
         "\xEF\xBF\xBD"
         "c"},
        {"reversed pair", {char16_t(0xDD1E), char16_t(0xD834)}, "\xEF\xBF\xBD\xEF\xBF\xBD"},
        {"nul", {u'a', u'\0', u'b'}, std::string("a\0b", 3)},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.Name);
        EXPECT_EQ(Utf16ToUtf8(row.In), row.Out);
    }
}

TEST(VellocUnicode, Utf8ToUtf16ReplacesEachIllFormedSubsequence)
{
    struct Row
    {
        const char* Name;
        std::string In;
        std::u16string Out;
    };
    const Row rows[] = {
        {"valid mix", "Zo\xC3\xAB \xD0\x9F \xE2\x82\xAC \xF0\x9D\x84\x9E",
         u"Zo\u00EB \u041F \u20AC \U0001D11E"},
        {"stray continuation",
         "a\x80"
         "b",
         u"a\uFFFDb"},
        {"overlong two bytes", "\xC0\x80", u"\uFFFD\uFFFD"},
        {"overlong three bytes", "\xE0\x80\x80", u"\uFFFD\uFFFD\uFFFD"},
        {"encoded surrogate", "\xED\xA0\x80", u"\uFFFD\uFFFD\uFFFD"},
        {"above U+10FFFF", "\xF4\x90\x80\x80", u"\uFFFD\uFFFD\uFFFD\uFFFD"},
        {"not a lead byte", "\xF5\xFF", u"\uFFFD\uFFFD"},
        {"truncated at end", "x\xE2\x82", u"x\uFFFD"},
        {"truncated before ascii",
         "\xE2\x82"
         "A",
         u"\uFFFDA"},
        {"truncated before lead", "\xF0\x9D\xC3\xAB", u"\uFFFD\u00EB"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.Name);
        EXPECT_EQ(Utf8ToUtf16(row.In), row.Out);
    }
}

TEST(VellocUnicode, EveryScalarValueRoundTrips)
{
    std::u16string all;
    for (char32_t c = 0; c <= 0x10FFFF; ++c) {
        if (c >= 0xD800 && c <= 0xDFFF) {
            continue;
        }
        if (c < 0x10000) {
            all += static_cast<char16_t>(c);
        } else {
            all += static_cast<char16_t>(0xD800 + ((c - 0x10000) >> 10));
            all += static_cast<char16_t>(0xDC00 + ((c - 0x10000) & 0x3FF));
        }
    }
    const std::string utf8 = Utf16ToUtf8(all);
    // 128 one-byte, 1,920 two-byte, 61,440 three-byte and 1,048,576 four-byte values.
    EXPECT_EQ(utf8.size(), 128u + 1920u * 2 + 61440u * 3 + 1048576u * 4);
    EXPECT_EQ(Utf8ToUtf16(utf8), all);
}
