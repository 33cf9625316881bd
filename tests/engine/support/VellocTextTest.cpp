#include "engine/support/VellocText.h"
#include "../../support/ByteStrings.h"

#include <gtest/gtest.h>

using namespace velloc;

TEST(VellocText, TableHoldsThePdfDocEncodingValues)
{
    const auto& table = PdfDocEncodingTable();
    const struct
    {
        int Byte;
        char16_t Unicode;
    } rows[] = {{0x00, 0x0000}, {0x16, 0x0017}, {0x17, 0x0017}, {0x18, 0x02D8}, {0x1F, 0x02DC},
                {0x41, 0x0041}, {0x7F, 0xFFFD}, {0x80, 0x2022}, {0x86, 0x0192}, {0x8F, 0x2018},
                {0x90, 0x2019}, {0x93, 0xFB01}, {0x95, 0x0141}, {0x9E, 0x017E}, {0x9F, 0xFFFD},
                {0xA0, 0x20AC}, {0xAD, 0xFFFD}, {0xAE, 0x00AE}, {0xEB, 0x00EB}, {0xFF, 0x00FF}};
    for (const auto& row : rows) {
        SCOPED_TRACE(row.Byte);
        EXPECT_EQ(table[row.Byte], row.Unicode);
    }
}

TEST(VellocText, EveryDefinedByteDecodesAndEncodesBack)
{
    for (int byte = 0; byte < 256; ++byte) {
        SCOPED_TRACE(byte);
        const std::string one(1, static_cast<char>(byte));
        const std::string back = EncodeTextString(DecodeTextString(one));
        if (byte == 22) {
            EXPECT_EQ(back, Bytes({23})); // both bytes mean U+0017; the first one wins
        } else if (byte == 0x9F || byte == 0xAD) {
            EXPECT_EQ(back, Bytes({0x7F})); // undefined bytes share U+FFFD with 7F
        } else {
            EXPECT_EQ(back, one);
        }
    }
}

TEST(VellocText, EncodesPdfDocEncodingWhenEveryUnitFits)
{
    const struct
    {
        std::u16string Text;
        std::string Bytes;
    } rows[] = {
        {u"Zo\u00EB", Bytes({0x5A, 0x6F, 0xEB})},
        {u"", ""},
        {u"\u0017", Bytes({23})},
        {u"\uFFFD", Bytes({127})},
        {u"\u20AC \uFB01 \u2022 \u0141", Bytes({0xA0, 0x20, 0x93, 0x20, 0x80, 0x20, 0x95})},
        {u"\u02D8\u02DC", Bytes({24, 31})},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(testing::PrintToString(row.Bytes));
        EXPECT_EQ(EncodeTextString(row.Text), row.Bytes);
    }
}

TEST(VellocText, UnitsWithoutAByteForceUtf16ForTheWholeText)
{
    for (const char16_t unit : {u'\u0016', u'\u007F', u'\u009F', u'\u00AD', u'\u0118'}) {
        SCOPED_TRACE(static_cast<int>(unit));
        const std::u16string text = std::u16string(u"A") + unit;
        EXPECT_EQ(EncodeTextString(text), Bytes({0xFE, 0xFF, 0x00, 0x41, unit >> 8, unit & 0xFF}));
    }
    EXPECT_EQ(EncodeTextString(u"\u0416\u0436"), Bytes({0xFE, 0xFF, 0x04, 0x16, 0x04, 0x36}));
    EXPECT_EQ(EncodeTextString(u"A", true), Bytes({0xFE, 0xFF, 0x00, 0x41}));
    EXPECT_EQ(EncodeTextString(u"", true), "");
}

TEST(VellocText, Utf16FormReplacesUnpairedSurrogatesAndNonCharacters)
{
    const struct
    {
        std::u16string Text;
        std::string Bytes;
    } rows[] = {
        {u"\U0001F600", Bytes({0xFE, 0xFF, 0xD8, 0x3D, 0xDE, 0x00})},
        {std::u16string(1, u'\xD83D') + u"A", Bytes({0xFE, 0xFF, 0xFF, 0xFD, 0x00, 0x41})},
        {u"A" + std::u16string(1, u'\xDE00'), Bytes({0xFE, 0xFF, 0x00, 0x41, 0xFF, 0xFD})},
        {u"\uFDD0\uFDEF\uFDF0", Bytes({0xFE, 0xFF, 0xFF, 0xFD, 0xFF, 0xFD, 0xFD, 0xF0})},
        {u"\uFFFE\uFFFF", Bytes({0xFE, 0xFF, 0xFF, 0xFD, 0xFF, 0xFD})},
        {u"\U0001FFFE", Bytes({0xFE, 0xFF, 0xFF, 0xFD})},
        {u"\uFEFF\u0416", Bytes({0xFE, 0xFF, 0xFE, 0xFF, 0x04, 0x16})},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(testing::PrintToString(row.Bytes));
        EXPECT_EQ(EncodeTextString(row.Text), row.Bytes);
    }
}

TEST(VellocText, LengthPrefixedTextsKeepOnlyTheCountedUnits)
{
    EXPECT_EQ(EncodeTextString(u"\uE703\uF800ABCDEF"), "ABC");
    EXPECT_EQ(EncodeTextString(u"\uE709\uF800AB"), "AB");
    // The prefix cuts off the unit that would have forced UTF-16.
    EXPECT_EQ(EncodeTextString(u"\uE701\uF800A\u0416"), "A");
    EXPECT_EQ(EncodeTextString(u"\uE700\uF800ABC"), "");
    // High count byte from the second unit: 1 * 256 + 2.
    const std::u16string counted = u"\uE702\uF801" + std::u16string(300, u'x');
    EXPECT_EQ(EncodeTextString(counted), std::string(258, 'x'));
    // Without the second unit in U+F800..U+F8FF there is no prefix.
    EXPECT_EQ(EncodeTextString(u"\uE703AB"),
              Bytes({0xFE, 0xFF, 0xE7, 0x03, 0x00, 0x41, 0x00, 0x42}));
}

TEST(VellocText, DecodesBothForms)
{
    using namespace std::string_literals;
    const struct
    {
        std::string Bytes;
        std::u16string Text;
    } rows[] = {
        {Bytes({0xFE, 0xFF, 0x00, 0x41}), u"A"},
        {Bytes({0x80}), u"\u2022"},
        {Bytes({0x7F}), u"\uFFFD"},
        {"", u""},
        {Bytes({0xFE}), u"\u00FE"},
        {Bytes({0xFF, 0xFE, 0x41, 0x00}), u"\u00FF\u00FEA\0"s},
        {Bytes({0xFE, 0xFF}), u""},
        {Bytes({0xFE, 0xFF, 0xFE, 0xFF, 0xFE, 0xFF, 0x00, 0x41, 0xFE, 0xFF}), u"A\uFEFF"},
        {Bytes({0xFE, 0xFF, 0x00, 0x41, 0x42}), u"A\u4200"},
        {Bytes({0xFE, 0xFF, 0x42}), u"\u4200"},
        {Bytes({0xFE, 0xFF, 0xD8, 0x3D, 0xDE, 0x00}), u"\U0001F600"},
        {Bytes({0xFE, 0xFF, 0xD8, 0x3D, 0x00, 0x41}), u"\uFFFDA"},
        {Bytes({0xFE, 0xFF, 0xDE, 0x00}), u"\uFFFD"},
        {Bytes({0xFE, 0xFF, 0xFF, 0xFF, 0xFD, 0xD5}), u"\uFFFD\uFFFD"},
        {Bytes({0xFE, 0xFF, 0xD8, 0x3F, 0xDF, 0xFF}), u"\uFFFD"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(testing::PrintToString(row.Bytes));
        EXPECT_EQ(DecodeTextString(row.Bytes), row.Text);
    }
}

TEST(VellocText, TextsRoundTrip)
{
    const std::u16string texts[] = {u"",
                                    u"Zo\u00EB",
                                    u"\u0416\u0443\u0440\u043D\u0430\u043B",
                                    u"Smile \U0001F600 \u20AC",
                                    u"tab\tand\u2014dash",
                                    u"\u0017\u02DA\u017E"};
    for (const auto& text : texts) {
        SCOPED_TRACE(testing::PrintToString(EncodeTextString(text)));
        EXPECT_EQ(DecodeTextString(EncodeTextString(text)), text);
        EXPECT_EQ(DecodeTextString(EncodeTextString(text, true)), text);
    }
}
