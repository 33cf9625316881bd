#include "engine/VellocStructure.h"

#include "engine/support/VellocNumberText.h"

#include <gtest/gtest.h>

#include <random>
#include <string_view>

using namespace velloc;
using namespace std::string_literals;

namespace {

// Structural equality: same kinds, values and order; numbers compare by their written text,
// which is all that survives writing.
::testing::AssertionResult SameTree(const TPDFObject* a, const TPDFObject* b)
{
    if (!a || !b) {
        return a == b ? ::testing::AssertionSuccess()
                      : ::testing::AssertionFailure() << "one side is missing";
    }
    auto verdict = [&](bool same) {
        return same ? ::testing::AssertionSuccess()
                    : ::testing::AssertionFailure() << a->Text() << " versus " << b->Text();
    };
    if (a->Kind() != b->Kind()) {
        return verdict(false);
    }
    switch (a->Kind()) {
    case TPDFObjectKind::Null:
        return verdict(true);
    case TPDFObjectKind::Boolean:
        return verdict(a->As<TPDFBoolean>()->Value() == b->As<TPDFBoolean>()->Value());
    case TPDFObjectKind::Numeric:
        return verdict(FormatNumber(a->As<TPDFNumeric>()->Value()) ==
                       FormatNumber(b->As<TPDFNumeric>()->Value()));
    case TPDFObjectKind::Name:
        return verdict(a->As<TPDFName>()->Value() == b->As<TPDFName>()->Value());
    case TPDFObjectKind::String:
        return verdict(a->As<TPDFString>()->Value() == b->As<TPDFString>()->Value() &&
                       a->As<TPDFString>()->HexForm() == b->As<TPDFString>()->HexForm());
    case TPDFObjectKind::IndRef:
        return verdict(a->As<TPDFIndRef>()->ObjectNumber() == b->As<TPDFIndRef>()->ObjectNumber() &&
                       a->As<TPDFIndRef>()->Generation() == b->As<TPDFIndRef>()->Generation());
    case TPDFObjectKind::Array: {
        const auto& x = a->As<TPDFArray>()->Items();
        const auto& y = b->As<TPDFArray>()->Items();
        if (x.size() != y.size()) {
            return verdict(false);
        }
        for (size_t i = 0; i < x.size(); ++i) {
            if (auto result = SameTree(x[i], y[i]); !result) {
                return result;
            }
        }
        return verdict(true);
    }
    case TPDFObjectKind::Dictionary: {
        const auto& x = a->As<TPDFDictionary>()->Entries();
        const auto& y = b->As<TPDFDictionary>()->Entries();
        if (x.size() != y.size()) {
            return verdict(false);
        }
        for (size_t i = 0; i < x.size(); ++i) {
            if (x[i].Key->Value() != y[i].Key->Value()) {
                return verdict(false);
            }
            if (auto result = SameTree(x[i].Value, y[i].Value); !result) {
                return result;
            }
        }
        return verdict(true);
    }
    case TPDFObjectKind::Stream:
        break; // the parser makes no streams
    }
    return ::testing::AssertionFailure() << "streams are not compared";
}

class TRandomTree
{
  public:
    TRandomTree(TPDFStructure& s, uint32_t seed) : m_S(s), m_Random(seed) {}

    TPDFObject* Make(int depth)
    {
        const int kind = depth == 0 ? Pick(7, 8) : Pick(0, depth > 3 ? 6 : 8);
        switch (kind) {
        case 0:
            return m_S.NewNull();
        case 1:
            return m_S.NewBoolean(Pick(0, 1) == 1);
        case 2:
            return m_S.NewNumber(RandomNumber());
        case 3:
            return m_S.NewName(RandomBytes(Pick(0, 12)));
        case 4:
            return m_S.NewString(RandomBytes(Pick(0, 20)), static_cast<uint8_t>(Pick(0, 1)));
        case 5:
        case 6:
            return m_S.NewReference(Pick(0, 100000), Pick(0, 3) == 0 ? Pick(1, 65535) : 0);
        case 7: {
            TPDFArray* array = m_S.NewArray();
            for (int i = Pick(0, 40); i > 0; --i) {
                array->Add(Make(depth + 1));
            }
            return array;
        }
        default: {
            TPDFDictionary* dictionary = m_S.NewDictionary();
            for (int i = Pick(0, 8); i > 0; --i) {
                dictionary->Put(RandomBytes(Pick(0, 8)), Make(depth + 1));
            }
            return dictionary;
        }
        }
    }

  private:
    int Pick(int low, int high) { return std::uniform_int_distribution<int>(low, high)(m_Random); }

    double RandomNumber()
    {
        switch (Pick(0, 3)) {
        case 0:
            return Pick(-1000, 1000);
        case 1:
            return Pick(-100000000, 100000000) / 10000.0;
        case 2:
            return std::uniform_real_distribution<double>(-1e6, 1e6)(m_Random);
        default:
            return std::uniform_real_distribution<double>(-1, 1)(m_Random) * 1e-3;
        }
    }

    std::string RandomBytes(int length)
    {
        // Mostly the bytes that need escaping, to stress both directions.
        static const std::string special = "()\\/#%[]{}<> \t\r\n\f\b\v\x00\x7F\x80\xFF"s;
        std::string bytes;
        for (int i = 0; i < length; ++i) {
            if (Pick(0, 2) == 0) {
                bytes +=
                    special[static_cast<size_t>(Pick(0, static_cast<int>(special.size()) - 1))];
            } else {
                bytes += static_cast<char>(Pick(0, 255));
            }
        }
        return bytes;
    }

    TPDFStructure& m_S;
    std::mt19937 m_Random;
};

} // namespace

TEST(VellocStructureParse, ReadsTheBasicForms)
{
    TPDFStructure s;
    const struct
    {
        std::string Text;
        TPDFObjectKind Kind;
        std::string Written;
        size_t Consumed;
    } rows[] = {
        {"1 0 R", TPDFObjectKind::IndRef, "1 0 R", 5},
        {"1 0", TPDFObjectKind::Numeric, "1", 1},
        {"1.5 0 R", TPDFObjectKind::Numeric, "1.5", 3},
        {"3 0 obj", TPDFObjectKind::Numeric, "3", 1},
        {"1 -2 R", TPDFObjectKind::Numeric, "1", 1},
        {"12 %gen\n 0\tR]", TPDFObjectKind::IndRef, "12 0 R", 12},
        {"1 0.9 R", TPDFObjectKind::IndRef, "1 0 R", 7},
        {"<48656C6C6F>", TPDFObjectKind::String, "<48656C6C6F>", 12},
        {"(a\\)b)", TPDFObjectKind::String, "(a\\)b)", 6},
        {"/A#20B", TPDFObjectKind::Name, "/A#20B", 6},
        {"% a comment\r\ntrue", TPDFObjectKind::Boolean, "true", 17},
        {"", TPDFObjectKind::Null, "null", 0},
        {" \t\r\n\f", TPDFObjectKind::Null, "null", 5},
        {"%only a comment", TPDFObjectKind::Null, "null", 15},
        {"  false/", TPDFObjectKind::Boolean, "false", 7},
        {"null)", TPDFObjectKind::Null, "null", 4},
        {"true}", TPDFObjectKind::Null, "null", 0},
        {"truex", TPDFObjectKind::Null, "null", 0},
        {"]", TPDFObjectKind::Null, "null", 0},
        {"R", TPDFObjectKind::Null, "null", 0},
        {"+5", TPDFObjectKind::Null, "null", 0},
        {"<<", TPDFObjectKind::Null, "null", 0},
        {"<<>", TPDFObjectKind::Null, "null", 0},
        {"<<>>", TPDFObjectKind::Dictionary, "<<\n>>\n", 4},
        {"[]", TPDFObjectKind::Array, "[ ]", 2},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.Text);
        size_t consumed = 99;
        TPDFObject* obj = s.ParseCounted(row.Text, consumed);
        ASSERT_NE(obj, nullptr);
        EXPECT_EQ(obj->Kind(), row.Kind);
        EXPECT_EQ(obj->Text(), row.Written);
        EXPECT_EQ(consumed, row.Consumed);
    }
    auto* hello = ObjectAs<TPDFString>(s.Parse("<48656C6C6F>"));
    ASSERT_NE(hello, nullptr);
    EXPECT_EQ(hello->Value(), "Hello");
    EXPECT_EQ(hello->HexForm(), TPDFString::HexadecimalForm);
}

TEST(VellocStructureParse, ConvertsNumbers)
{
    TPDFStructure s;
    const struct
    {
        const char* Text;
        double Value;
        size_t Consumed;
    } rows[] = {
        {"612", 612, 3},
        {"-12", -12, 3},
        {"00012", 12, 5},
        {"12345678", 12345678, 8},
        {"123456789", 123456789, 9}, // long tokens are reals
        {"-123456789", -123456789, 10},
        {".5", 0.5, 2},
        {"-.5", -0.5, 3},
        {"5.", 5, 2},
        {"-0.25", -0.25, 5},
        {"-", 0, 1},
        {".", 0, 1},
        {"1.2.3", 1.2, 3},
        {"3-4", 3, 1},
        {"1.1234567899", 1.123456789, 12}, // fraction digits past the ninth are ignored
        {"0.000000001", 1e-9, 11},
        {"99999999999999999999.5", 1e20, 22}, // past 64 bits the digits still count
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.Text);
        size_t consumed = 0;
        auto* number = ObjectAs<TPDFNumeric>(s.ParseCounted(row.Text, consumed));
        ASSERT_NE(number, nullptr);
        EXPECT_DOUBLE_EQ(number->Value(), row.Value);
        EXPECT_EQ(consumed, row.Consumed);
    }
}

TEST(VellocStructureParse, UnescapesLiteralStrings)
{
    TPDFStructure s;
    const struct
    {
        std::string Text;
        std::string Bytes;
    } rows[] = {
        {"(a(b)c)", "a(b)c"},
        {"(\\(\\)\\\\)", "()\\"},
        {"(\\n\\r\\t\\b\\f)", "\n\r\t\b\f"},
        {"(\\101\\7\\12)", "A\x07\n"},
        {"(\\0053)", "\x05"
                     "3"},
        {"(\\777)", "\xFF"},
        {"(\\8\\18)", "\x08\x10"}, // the digits after a backslash are read as given
        {"(line\\\nnext)", "linenext"},
        {"(a\\\r\nb\\\rc)", "abc"},
        {"(a\r\nb\rc\nd)", "a\nb\nc\nd"},
        {"(\\q)", "\\q"},
        {"()", ""},
        {"(\0\v)"s, "\0\v"s},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.Text);
        auto* string = ObjectAs<TPDFString>(s.Parse(row.Text));
        ASSERT_NE(string, nullptr);
        EXPECT_EQ(string->Value(), row.Bytes);
        EXPECT_EQ(string->HexForm(), TPDFString::LiteralForm);
    }
    // Without a balancing parenthesis nothing is read.
    size_t consumed = 99;
    EXPECT_TRUE(s.ParseCounted("(a(b)", consumed)->Is<TPDFNull>());
    EXPECT_TRUE(s.Parse("(abc\\)")->Is<TPDFNull>());
    EXPECT_TRUE(s.Parse("[ (a) (b ]")->As<TPDFArray>()->Count() == 1);
}

TEST(VellocStructureParse, ReadsHexStringsAndNames)
{
    TPDFStructure s;
    const struct
    {
        std::string Text;
        std::string Bytes;
        size_t Consumed;
    } hexRows[] = {
        {"<48 65\n6c>", "Hel", 10}, {"<4>", "\x40", 3}, {"<4G1>", "\x41", 5},
        {"<414", "A@", 4},          {"<>", "", 2},      {"<", "", 1},
    };
    for (const auto& row : hexRows) {
        SCOPED_TRACE(row.Text);
        size_t consumed = 0;
        auto* string = ObjectAs<TPDFString>(s.ParseCounted(row.Text, consumed));
        ASSERT_NE(string, nullptr);
        EXPECT_EQ(string->Value(), row.Bytes);
        EXPECT_EQ(string->HexForm(), TPDFString::HexadecimalForm);
        EXPECT_EQ(consumed, row.Consumed);
    }

    const struct
    {
        std::string Text;
        std::string Value;
        size_t Consumed;
    } nameRows[] = {
        {"/Name/Other", "Name", 5},
        {"/a}b c", "a}b", 4},
        {"/#41#4a", "AJ", 7},
        {"/A#2", "A#2", 4},
        {"/A#G0", "A#G0", 5},
        {"/", "", 1},
        {"/ x", "", 1},
        {"/a%comment", "a", 2},
        {"/x{y", "x", 2},
        {"/caf\xE9", "caf\xE9", 5},
    };
    for (const auto& row : nameRows) {
        SCOPED_TRACE(row.Text);
        size_t consumed = 0;
        auto* name = ObjectAs<TPDFName>(s.ParseCounted(row.Text, consumed));
        ASSERT_NE(name, nullptr);
        EXPECT_EQ(name->Value(), row.Value);
        EXPECT_FALSE(name->IsKeyName());
        EXPECT_EQ(consumed, row.Consumed);
    }
}

TEST(VellocStructureParse, ReadsDictionariesAndArrays)
{
    TPDFStructure s;
    EXPECT_EQ(s.Parse("<</Type/Page/Kids[1 0 R 2 0 R]/Count 2>>")->Text(),
              "<<\n/Type /Page\n/Kids [ 1 0 R 2 0 R ]\n/Count 2\n>>\n");
    EXPECT_EQ(s.Parse("<< /ProcSet [ /PDF /Text /ImageB /ImageC /ImageI ] >>")->Text(),
              "<<\n/ProcSet [ /PDF /Text /ImageB /ImageC /ImageI ]\n>>\n");
    // A repeated key replaces the earlier entry in place.
    EXPECT_EQ(s.Parse("<< /A 1 /B 2 /A 3 >>")->Text(), "<<\n/A 3\n/B 2\n>>\n");
    EXPECT_EQ(s.Parse("<</D<</E(x)>>/F[<41>true]>>")->Text(),
              "<<\n/D <<\n/E (x)\n>>\n/F [ <41> true ]\n>>\n");

    // A dictionary stops at the first pair that is not name and value.
    size_t consumed = 0;
    TPDFObject* partial = s.ParseCounted("<< /A 1 2 3 /B 4 >>", consumed);
    EXPECT_EQ(partial->Text(), "<<\n/A 1\n>>\n");
    EXPECT_EQ(consumed, 12u);
    EXPECT_EQ(s.ParseCounted("<< /A >> tail", consumed)->Text(), "<<\n>>\n");
    EXPECT_EQ(consumed, 8u);
    EXPECT_EQ(s.ParseCounted("<< /A 1", consumed)->Text(), "<<\n/A 1\n>>\n");
    EXPECT_EQ(consumed, 7u);

    EXPECT_EQ(s.ParseCounted("[1 2 3] 4", consumed)->Text(), "[ 1 2 3 ]");
    EXPECT_EQ(consumed, 7u);
    EXPECT_EQ(s.ParseCounted("[1 2", consumed)->Text(), "[ 1 2 ]");
    EXPECT_EQ(consumed, 4u);
    EXPECT_EQ(s.ParseCounted("[1 >> 2]", consumed)->Text(), "[ 1 ]");
    EXPECT_EQ(consumed, 3u);
    EXPECT_EQ(s.Parse("[[[]] [(a) /N null] 1 0 R 5]")->Text(),
              "[ [ [ ] ] [ (a) /N null ] 1 0 R 5 ]");

    auto* kids = ObjectAs<TPDFArray>(s.Parse("[4 0 R 6 0 R 8 0 R]"));
    ASSERT_NE(kids, nullptr);
    ASSERT_EQ(kids->Count(), 3);
    EXPECT_EQ(kids->ItemAt(2)->As<TPDFIndRef>()->ObjectNumber(), 8);
}

TEST(VellocStructureParse, DeepNestingIsUnreadableNotACrash)
{
    TPDFStructure s;
    size_t consumed = 99;
    EXPECT_TRUE(s.ParseCounted(std::string(100000, '['), consumed)->Is<TPDFNull>());
    EXPECT_EQ(consumed, 0u);
    std::string dictionaries;
    for (int i = 0; i < 100000; ++i) {
        dictionaries += "<</A ";
    }
    EXPECT_TRUE(s.Parse(dictionaries)->Is<TPDFNull>());

    const auto nested = [](int depth) {
        return std::string(static_cast<size_t>(depth), '[') +
               std::string(static_cast<size_t>(depth), ']');
    };
    TPDFObject* deepest = s.Parse(nested(MaxParseDepth));
    EXPECT_TRUE(deepest->Is<TPDFArray>());
    EXPECT_EQ(deepest->Text(), s.Parse(deepest->Text())->Text()); // and it can be written
    EXPECT_TRUE(s.Parse(nested(MaxParseDepth + 1))->Is<TPDFNull>());
}

TEST(VellocStructureParse, RandomTreesSurviveWritingAndReading)
{
    TPDFStructure s;
    for (uint32_t seed = 1; seed <= 400; ++seed) {
        SCOPED_TRACE(seed);
        TRandomTree random(s, seed);
        TPDFObject* tree = random.Make(0);
        const std::string text = tree->Text();
        size_t consumed = 0;
        TPDFObject* back = s.ParseCounted(text, consumed);
        ASSERT_TRUE(SameTree(tree, back)) << text;
        EXPECT_EQ(back->Text(), text);
        // A dictionary's text ends with its own line feed; everything else is read entirely.
        EXPECT_EQ(consumed, text.size() - (tree->Is<TPDFDictionary>() ? 1 : 0));
        if (seed % 50 == 0) {
            s.Clear();
        }
    }
}

TEST(VellocStructureParse, CopyFromSharesOrRecreatesObjects)
{
    TPDFStructure s;
    auto* source = ObjectAs<TPDFDictionary>(
        s.Parse("<< /Type /XObject /Width 2 /Ref 7 0 R /Arr [ 1 (x) ] >>"));
    ASSERT_NE(source, nullptr);
    TPDFDictionary* same = s.NewDictionary();
    same->Put("Old", s.NewNull());
    same->CopyFrom(source);
    ASSERT_EQ(same->Count(), 4);
    for (int32_t i = 0; i < 4; ++i) {
        EXPECT_EQ(same->EntryAt(i)->Key, source->EntryAt(i)->Key);
        EXPECT_EQ(same->EntryAt(i)->Value, source->EntryAt(i)->Value);
    }

    TPDFStructure other;
    TPDFDictionary* copy = other.NewDictionary();
    copy->Put("Old", other.NewNull());
    copy->CopyFrom(source);
    EXPECT_TRUE(SameTree(copy, source));
    EXPECT_EQ(&copy->EntryAt(2)->Value->Owner(), &other);
    EXPECT_EQ(copy->Get("Ref")->As<TPDFIndRef>()->ObjectNumber(), 7);

    copy->CopyFrom(copy);
    copy->CopyFrom(nullptr);
    EXPECT_EQ(copy->Count(), 4);
}
