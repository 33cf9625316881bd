#include "../support/ByteStrings.h"
#include "engine/VellocStructure.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <fstream>
#include <iterator>
#include <vector>

using namespace velloc;
using namespace std::string_literals;

namespace {

std::string FromHex(std::string_view hex)
{
    std::string bytes;
    for (size_t i = 0; i + 1 < hex.size(); i += 2) {
        bytes += static_cast<char>(std::stoi(std::string(hex.substr(i, 2)), nullptr, 16));
    }
    return bytes;
}

// zlib's own one-shot compressor, independent of the engine's deflate code.
std::string Compressed(const std::string& data)
{
    std::string packed(compressBound(static_cast<uLong>(data.size())), '\0');
    uLongf size = static_cast<uLongf>(packed.size());
    EXPECT_EQ(compress2(reinterpret_cast<Bytef*>(packed.data()), &size,
                        reinterpret_cast<const Bytef*>(data.data()),
                        static_cast<uLong>(data.size()), 9),
              Z_OK);
    packed.resize(size);
    return packed;
}

// A stream holding `data` with the dictionary entries parsed from `entries`.
TPDFStream* StreamWith(TPDFStructure& s, const std::string& data, const std::string& entries)
{
    TPDFStream* stream = s.NewStream(data, false);
    auto* parsed = ObjectAs<TPDFDictionary>(s.Parse("<<" + entries + ">>"));
    EXPECT_NE(parsed, nullptr);
    for (const TPDFDictionaryEntry& entry : parsed->Entries()) {
        stream->Dictionary()->PutEntry(entry.Key, entry.Value);
    }
    return stream;
}

// Letters drawn by a linear congruential generator; the same sequence was LZW-encoded by an
// independent encoder to make the fixtures below.
std::string GeneratedLetters(size_t count, uint64_t seed, std::string_view letters)
{
    std::string text;
    uint64_t x = seed;
    for (size_t i = 0; i < count; ++i) {
        x = (x * 1103515245 + 12345) % (uint64_t{1} << 31);
        text += letters[(x >> 16) % letters.size()];
    }
    return text;
}

std::string ReadFixture(const std::string& name)
{
    std::ifstream file(std::string(PAGEWELL_TEST_DATA) + "/filters/" + name, std::ios::binary);
    return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}

const std::string Leviathan =
    "Man is distinguished, not only by his reason, but by this singular passion from other "
    "animals, which is a lust of the mind, that by a perseverance of delight in the continued "
    "and indefatigable generation of knowledge, exceeds the short vehemence of any carnal "
    "pleasure.";

} // namespace

TEST(VellocStreamFilters, WithoutFilterTheDataIsUnchanged)
{
    TPDFStructure s;
    EXPECT_EQ(s.NewStream("raw \x01 bytes", false)->DecodedData(), "raw \x01 bytes");
    EXPECT_EQ(StreamWith(s, "data", "/Filter /Unknown")->DecodedData(), "data");
    EXPECT_EQ(StreamWith(s, "data", "/Filter []")->DecodedData(), "data");
    // Abbreviations other than Fl and A85 are not stream filters.
    EXPECT_EQ(StreamWith(s, "41>", "/Filter /AHx")->DecodedData(), "41>");
}

TEST(VellocStreamFilters, Inflates)
{
    TPDFStructure s;
    // zlib.compress(b"hello") from Python's zlib module.
    EXPECT_EQ(
        StreamWith(s, FromHex("789ccb48cdc9c90700062c0215"), "/Filter /FlateDecode")->DecodedData(),
        "hello");
    std::string text;
    for (int i = 0; i < 2000; ++i) {
        text += "q 1 0 0 1 " + std::to_string(i) + " 0 cm Q\n";
    }
    const std::string packed = Compressed(text);
    EXPECT_EQ(StreamWith(s, packed, "/Filter /Fl")->DecodedData(), text);

    // Input that ends early keeps what it inflated: without the Adler-32 trailer all of it,
    // cut in the middle a correct beginning.
    EXPECT_EQ(
        StreamWith(s, packed.substr(0, packed.size() - 4), "/Filter /FlateDecode")->DecodedData(),
        text);
    const std::string half =
        StreamWith(s, packed.substr(0, packed.size() / 2), "/Filter /FlateDecode")->DecodedData();
    EXPECT_FALSE(half.empty());
    EXPECT_LT(half.size(), text.size());
    EXPECT_EQ(text.compare(0, half.size(), half), 0);

    // Bad data is an error, and so is output beyond the caller's limit.
    std::string damaged = packed;
    damaged[2] = static_cast<char>(0xFF);
    damaged[3] = static_cast<char>(0xFF);
    EXPECT_EQ(StreamWith(s, damaged, "/Filter /FlateDecode")->DecodedData(), "");
    EXPECT_EQ(StreamWith(s, "not zlib at all", "/Filter /FlateDecode")->DecodedData(), "");
    TPDFStream* big = StreamWith(s, packed, "/Filter /FlateDecode");
    EXPECT_EQ(big->DecodedData(text.size()), text);
    EXPECT_EQ(big->DecodedData(text.size() - 1), "");
}

TEST(VellocStreamFilters, UndoesPNGPredictors)
{
    TPDFStructure s;
    // Three colours of 8 bits, two columns: rows of 6 bytes after a filter-type byte.
    const std::string rows = Bytes({
        1, 10,  20, 30, 1,  2, 3, // Sub
        2, 1,   1,  1,  1,  1, 1, // Up
        4, 0,   0,  0,  5,  5, 5, // Paeth
        3, 2,   2,  2,  2,  2, 2, // Average
        0, 9,   8,  7,  6,  5, 4, // None
        1, 250, 0,  0,  10, 0, 0, // Sub, wrapping around 256
        2, 1,   1,                // Up, a partial last row
    });
    const std::string expected = Bytes({
        10, 20, 30, 11, 22, 33, 11, 21, 31, 12, 23, 34,  11, 21, 31, 17, 28, 39,  7,
        12, 17, 14, 22, 30, 9,  8,  7,  6,  5,  4,  250, 0,  0,  4,  0,  0,  251, 1,
    });
    const std::string parameters = "/Predictor 15 /Colors 3 /BitsPerComponent 8 /Columns 2";
    EXPECT_EQ(
        StreamWith(s, Compressed(rows), "/Filter /FlateDecode /DecodeParms <<" + parameters + ">>")
            ->DecodedData(),
        expected);
    // /DP stands in for /DecodeParms when that is absent ...
    EXPECT_EQ(StreamWith(s, Compressed(rows), "/Filter /FlateDecode /DP <<" + parameters + ">>")
                  ->DecodedData(),
              expected);
    // ... and only then.
    EXPECT_EQ(StreamWith(s, Compressed(rows),
                         "/Filter /FlateDecode /DecodeParms << /Predictor 1 >> /DP <<" +
                             parameters + ">>")
                  ->DecodedData(),
              rows);

    // One byte per row for 1-bit grey of 8 columns; Sub looks one byte back.
    EXPECT_EQ(StreamWith(s, Compressed(Bytes({1, 0x0F, 2, 0x01})),
                         "/Filter /FlateDecode /DecodeParms << /Predictor 10 /Colors 1 "
                         "/BitsPerComponent 1 /Columns 8 >>")
                  ->DecodedData(),
              Bytes({0x0F, 0x10}));

    // An unknown row filter type is an error.
    EXPECT_EQ(StreamWith(s, Compressed(Bytes({5, 1, 2, 3})),
                         "/Filter /FlateDecode /DecodeParms << /Predictor 12 /Colors 3 >>")
                  ->DecodedData(),
              "");
}

TEST(VellocStreamFilters, UndoesTheTIFFPredictor)
{
    TPDFStructure s;
    const struct
    {
        const char* Parameters;
        std::string Rows;
        std::string Expected;
    } cases[] = {
        {"/Colors 3 /Columns 3", Bytes({10, 20, 30, 1, 2, 3, 250, 0, 0, 1, 1, 1, 1, 1, 1, 1, 1, 1}),
         Bytes({10, 20, 30, 11, 22, 33, 5, 22, 33, 1, 1, 1, 2, 2, 2, 3, 3, 3})},
        {"/BitsPerComponent 16 /Columns 3", Bytes({0x01, 0x00, 0x00, 0x01, 0xFF, 0xFF}),
         Bytes({0x01, 0x00, 0x01, 0x01, 0x01, 0x00})},
        {"/BitsPerComponent 1 /Columns 8", Bytes({0x80, 0x41}), Bytes({0xFF, 0x7E})},
        {"/BitsPerComponent 4 /Colors 2 /Columns 2", Bytes({0x12, 0x3F}), Bytes({0x12, 0x41})},
        // A partial last row is undone as far as it goes.
        {"/Colors 1 /Columns 4", Bytes({1, 1, 1, 1, 5, 5}), Bytes({1, 2, 3, 4, 5, 10})},
    };
    for (const auto& row : cases) {
        SCOPED_TRACE(row.Parameters);
        EXPECT_EQ(StreamWith(s, Compressed(row.Rows),
                             "/Filter /FlateDecode /DecodeParms << /Predictor 2 "s +
                                 row.Parameters + " >>")
                      ->DecodedData(),
                  row.Expected);
    }
}

TEST(VellocStreamFilters, RefusesUnsoundPredictorParameters)
{
    TPDFStructure s;
    const std::string packed = Compressed(Bytes({0, 1, 2, 3, 4, 5, 6}));
    for (const char* parameters : {
             "/Predictor 15 /Colors 0",
             "/Predictor 15 /Colors 2147483647 /Columns 2147483647",
             "/Predictor 15 /BitsPerComponent 3",
             "/Predictor 15 /BitsPerComponent 32",
             "/Predictor 15 /Columns 0",
             "/Predictor 15 /Columns -5",
             "/Predictor 2 /Colors 33",
             "/Predictor 5",
             "/Predictor 16",
         }) {
        SCOPED_TRACE(parameters);
        EXPECT_EQ(StreamWith(s, packed, "/Filter /FlateDecode /DecodeParms <<"s + parameters + ">>")
                      ->DecodedData(),
                  "");
    }
    // The largest rows allowed cost no more memory than the data: one partial row.
    EXPECT_EQ(StreamWith(s, packed,
                         "/Filter /FlateDecode /DecodeParms << /Predictor 15 /Colors 32 "
                         "/BitsPerComponent 16 /Columns 2147483647 >>")
                  ->DecodedData(),
              Bytes({1, 2, 3, 4, 5, 6}));
    EXPECT_EQ(StreamWith(s, packed,
                         "/Filter /FlateDecode /DecodeParms << /Predictor 2 /Colors 32 "
                         "/BitsPerComponent 16 /Columns 2147483647 >>")
                  ->DecodedData(),
              Bytes({0, 1, 2, 3, 4, 5, 6}));
}

TEST(VellocStreamFilters, DecodesASCII85)
{
    TPDFStructure s;
    // Python's base64.a85encode of the text, end marker included, broken into lines.
    const std::string encoded =
        "9jqo^BlbD-BleB1DJ+*+F(f,q/0JhKF<GL>Cj@.4Gp$d7F!,L7@<6@)/0JDEF<G%<+EV:2F!,O<DJ+*.@<*K0\n"
        "@<6L(Df-\\0Ec5e;DffZ(EZee.Bl.9pF\"AGXBPCsi+DGm>@3BB/F*&OCAfu2/"
        "AKYi(DIb:@FD,*)+C]U=@3BN#\r\n"
        "EcYf8ATD3s@q?d$AftVqCh[NqF<G:8+EV:.+Cf>-FD5W8ARlolDIal(DId<j@<?3r@:F%a+D58'ATD4$Bl@l3De\n"
        "\t:,-DJs`8ARoFb/0JMK@qB4^F!,R<AKZ&-DfTqBG%G>uD.RTpAKYo'+CT/5+Cei#DII?(E,9)oF*2M7/c~>";
    EXPECT_EQ(StreamWith(s, encoded, "/Filter /ASCII85Decode")->DecodedData(), Leviathan);
    EXPECT_EQ(StreamWith(s, "<~" + encoded, "/Filter /A85")->DecodedData(), Leviathan);

    // a85encode(b"\0\0\0\0Velloc\0\0\0\0\xff\xff\xff\xffab"): 'z' groups and a short last group.
    EXPECT_EQ(StreamWith(s, "z<b6)`DdrbI!!*'!s8QM:~>", "/Filter /A85")->DecodedData(),
              "\0\0\0\0Velloc\0\0\0\0\xFF\xFF\xFF\xFF"
              "ab"s);
    EXPECT_EQ(StreamWith(s, "GQ~>", "/Filter /A85")->DecodedData(), "x");
    EXPECT_EQ(StreamWith(s, "G^0~>", "/Filter /A85")->DecodedData(), "xy");
    EXPECT_EQ(StreamWith(s, "G^4T", "/Filter /A85")->DecodedData(), "xyz"); // no end marker
    EXPECT_EQ(StreamWith(s, "~>", "/Filter /A85")->DecodedData(), "");

    for (const char* broken : {
             "G^z4T~>",  // 'z' inside a group
             "G^4v~>",   // not a base-85 digit
             "9jqo^B~>", // a last group of one digit
             "uuuuu~>",  // a group above 2^32 - 1
             "G^4T~x",   // '~' that is not the end marker
         }) {
        SCOPED_TRACE(broken);
        EXPECT_EQ(StreamWith(s, broken, "/Filter /A85")->DecodedData(), "");
    }
}

TEST(VellocStreamFilters, DecodesASCIIHex)
{
    TPDFStructure s;
    const struct
    {
        const char* Encoded;
        std::string Decoded;
    } rows[] = {
        {"48656C6C6F>", "Hello"},
        {"48 65\n6c 6C\t6f", "Hello"},
        {"4G41", "\0A"s}, // a pair that is not hexadecimal gives 0
        {"414", "A@"},    // an odd last digit is paired with 0
        {"41-4.2", "AB"}, // only letters and digits count
        {"", ""},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.Encoded);
        EXPECT_EQ(StreamWith(s, row.Encoded, "/Filter /ASCIIHexDecode")->DecodedData(),
                  row.Decoded);
    }
}

TEST(VellocStreamFilters, DecodesLZW)
{
    TPDFStructure s;
    // The classic example: codes 256 45 258 258 65 259 66 257 in 9 bits.
    EXPECT_EQ(StreamWith(s, Bytes({0x80, 0x0B, 0x60, 0x50, 0x22, 0x0C, 0x0C, 0x85, 0x01}),
                         "/Filter /LZWDecode")
                  ->DecodedData(),
              "-----A---B");

    // 12,000 letters: codes grow from 9 to 12 bits, the table fills, the encoder clears it
    // and the widths grow again.
    const std::string encoded = ReadFixture("lcg-letters.lzw");
    ASSERT_EQ(encoded.size(), 7608u);
    EXPECT_EQ(StreamWith(s, encoded, "/Filter /LZWDecode")->DecodedData(),
              GeneratedLetters(12000, 20240611, "abcdefghijklmnop"));
    EXPECT_EQ(StreamWith(s, encoded, "/Filter /LZWDecode")->DecodedData(5000), "");

    // 900 letters encoded with EarlyChange 0 (codes become 10 bits one code later).
    const std::string late = FromHex("80184410231988402031424C7078341A066131C2CC5108743A071130C6616"
                                     "618B40A146282C1CC71E8446627048E4663"
                                     "90F90482472995C163F069508225208F442470E82CAA0B0B9B48E772188C2"
                                     "26D368E446270E9D4428306A2CFA0709905"
                                     "4E115192C660725AAD1E35149154E75439FC926D3885D2AA92B97422270C9"
                                     "7C6A274094CF64F1B8BD22732CA2D3E1B4E"
                                     "B4C36313490D829586A3CB691379345E05578944A932D975426507ADC36BB"
                                     "66B5D0A9B50BAD2EEF268E5524B67AE55E1"
                                     "B07AFD6F1D4096C436509A35CE4B1BA15A7653BD7D8A450A965528B5195C6"
                                     "A953B84CEADF5AC869F2111DCCE20953DCD"
                                     "17A5B0916EEE1A59CCFE5BB88D48AEDC3C9F43310FB8CD6CF26B4FA29FE7A"
                                     "46BB695E8ACAAFF8FF7D07A1E3ABEEF2327"
                                     "43D797D5E24B91B7754E6A5FA641C64D155511425BD5D5A578451244D5555"
                                     "C90C7196E6010263DB37595751DDB609C95"
                                     "9D975CD2388D8358A00502274040");
    const std::string letters = GeneratedLetters(900, 7, "ab c");
    EXPECT_EQ(
        StreamWith(s, late, "/Filter /LZWDecode /DecodeParms << /EarlyChange 0 >>")->DecodedData(),
        letters);
    EXPECT_NE(StreamWith(s, late, "/Filter /LZWDecode")->DecodedData(), letters);

    // A code beyond the next free entry is an error.
    EXPECT_EQ(StreamWith(s, Bytes({0x80, 0x0B, 0x7F, 0xF0}), "/Filter /LZWDecode")->DecodedData(),
              "");
}

TEST(VellocStreamFilters, AppliesFilterArraysInOrder)
{
    TPDFStructure s;
    std::string rows = Bytes({2, 1, 2, 2, 3, 4});
    std::string hex;
    for (const char c : Compressed(rows)) {
        static const char digits[] = "0123456789ABCDEF";
        hex += digits[static_cast<unsigned char>(c) >> 4];
        hex += digits[static_cast<unsigned char>(c) & 15];
    }
    hex += '>';
    const std::string expected = Bytes({1, 2, 4, 6});
    EXPECT_EQ(StreamWith(s, hex,
                         "/Filter [ /ASCIIHexDecode /FlateDecode ] "
                         "/DecodeParms [ null << /Predictor 12 /Columns 2 >> ]")
                  ->DecodedData(),
              expected);
    // Parameters for the first filter only; the second gets none.
    EXPECT_EQ(StreamWith(s, hex,
                         "/Filter [ /ASCIIHexDecode /FlateDecode ] "
                         "/DecodeParms << /Predictor 12 /Columns 2 >>")
                  ->DecodedData(),
              rows);

    // Filters and parameters behind references are resolved.
    TPDFArray* filters = ObjectAs<TPDFArray>(s.Parse("[ /AHx /FlateDecode ]"));
    TPDFObject* parameters = s.Parse("[ null 9 0 R ]");
    TPDFObject* predictor = s.Parse("<< /Predictor 12 /Columns 2 >>");
    TPDFName* hexName = s.NewName("ASCIIHexDecode");
    s.OnResolveReference = [&](TPDFIndRef*, int32_t number, int32_t) -> TPDFObject* {
        switch (number) {
        case 7:
            return filters;
        case 8:
            return parameters;
        case 9:
            return predictor;
        case 10:
            return hexName;
        default:
            return nullptr;
        }
    };
    filters->Replace(0, s.NewReference(10, 0));
    EXPECT_EQ(StreamWith(s, hex, "/Filter 7 0 R /DecodeParms 8 0 R")->DecodedData(), expected);
    // A reference that resolves to nothing means no filter.
    EXPECT_EQ(StreamWith(s, hex, "/Filter 70 0 R")->DecodedData(), hex);
}
