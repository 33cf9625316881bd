#include "engine/VellocStructure.h"

#include "engine/support/VellocError.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <array>
#include <string_view>
#include <vector>

using namespace velloc;
using namespace std::string_literals;
using namespace std::string_view_literals;

namespace {

std::string Inflated(const std::string& packed, size_t size)
{
    std::string back(size, '\0');
    uLongf backSize = static_cast<uLongf>(back.size());
    if (uncompress(reinterpret_cast<Bytef*>(back.data()), &backSize,
                   reinterpret_cast<const Bytef*>(packed.data()), packed.size()) != Z_OK) {
        return "uncompress failed";
    }
    back.resize(backSize);
    return back;
}

bool IsRegistered(const TPDFStructure& s, const TPDFObject* obj)
{
    for (size_t i = 0; i < s.ObjectCount(); ++i) {
        if (s.ObjectAt(i) == obj) {
            return true;
        }
    }
    return false;
}

} // namespace

TEST(VellocStructure, WritesScalars)
{
    TPDFStructure s;
    EXPECT_EQ(s.NewNull()->Text(), "null");
    EXPECT_EQ(s.NewBoolean(true)->Text(), "true");
    EXPECT_EQ(s.NewBoolean(false)->Text(), "false");
    EXPECT_EQ(s.NewNumber(841.88976)->Text(), "841.8898");
    EXPECT_EQ(s.NewNumber(-0.00004)->Text(), "0");
    EXPECT_EQ(s.NewReference(12, 0)->Text(), "12 0 R");
    EXPECT_EQ(s.NewReference(7, 65535)->Text(), "7 65535 R");
    EXPECT_EQ(s.Precision(), 4);
}

TEST(VellocStructure, EscapesNames)
{
    TPDFStructure s;
    const struct
    {
        std::string Value;
        const char* Text;
    } rows[] = {
        {"Type", "/Type"},
        {"", "/"},
        {"A B", "/A#20B"},
        {"a#b", "/a#23b"},
        {"x/y", "/x#2Fy"},
        {"{}", "/#7B#7D"},
        {"()<>[]%", "/#28#29#3C#3E#5B#5D#25"},
        {"caf\xE9", "/caf#E9"},
        {"\x7F\x01"s, "/#7F#01"},
        {"\0"s, "/#00"},
        {"~!\"$&'*+,-.:;=?@\\^_`|", "/~!\"$&'*+,-.:;=?@\\^_`|"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.Text);
        EXPECT_EQ(s.NewName(row.Value)->Text(), row.Text);
    }
}

TEST(VellocStructure, EscapesStrings)
{
    TPDFStructure s;
    EXPECT_EQ(s.NewString("a(b)c\\d\ne")->Text(), R"((a\(b\)c\\d\ne))");
    EXPECT_EQ(s.NewString("\b\t\f\r")->Text(), R"((\b\t\f\r))");
    // Vertical tab, NUL and bytes above 127 are written as they are.
    EXPECT_EQ(s.NewString("\v\0\xFF"s)->Text(), "(\v\0\xFF)"s);
    EXPECT_EQ(s.NewString("", TPDFString::LiteralForm)->Text(), "()");
    EXPECT_EQ(s.NewString("Hello\x01\xAB"s, TPDFString::HexadecimalForm)->Text(),
              "<48656C6C6F01AB>");
    EXPECT_EQ(s.NewString("", TPDFString::HexadecimalForm)->Text(), "<>");
    EXPECT_EQ(s.NewString("abc", 2)->Text(), "");
}

TEST(VellocStructure, WritesDictionariesLineByLine)
{
    TPDFStructure s;
    TPDFDictionary* empty = s.NewDictionary();
    EXPECT_EQ(empty->Text(), "<<\n>>\n");

    TPDFDictionary* page = s.NewDictionary();
    page->Put("Type", s.NewName("Page"));
    page->Put("Count", s.NewNumber(1));
    EXPECT_EQ(page->Text(), "<<\n/Type /Page\n/Count 1\n>>\n");

    TPDFDictionary* outer = s.NewDictionary();
    outer->Put("Inner", page);
    outer->Put("Box", s.NewIntegerArray(std::array{0, 0, 612, 792}));
    outer->Put("Missing", nullptr);
    EXPECT_EQ(outer->Text(), "<<\n"
                             "/Inner <<\n/Type /Page\n/Count 1\n>>\n"
                             "/Box [ 0 0 612 792 ]\n"
                             "/Missing \n"
                             ">>\n");
}

TEST(VellocStructure, WritesArraysWithLineBreaksPast80Characters)
{
    TPDFStructure s;
    EXPECT_EQ(s.NewArray()->Text(), "[ ]");
    EXPECT_EQ(s.NewRealArray(std::array{0.0, 0.0, 595.27559, 841.88976})->Text(),
              "[ 0 0 595.2756 841.8898 ]");

    std::vector<int32_t> forty(40, 10);
    // "[ " and 27 items of 3 characters make 83 characters: the break follows the 27th item.
    std::string line1 = "[ ";
    for (int i = 0; i < 27; ++i) {
        line1 += "10 ";
    }
    std::string line2;
    for (int i = 0; i < 13; ++i) {
        line2 += "10 ";
    }
    EXPECT_EQ(s.NewIntegerArray(forty)->Text(), line1 + "\n" + line2 + "]");

    std::vector<int32_t> fiftyFour(54, 10);
    EXPECT_EQ(s.NewIntegerArray(fiftyFour)->Text(), line1 + "\n" + line1.substr(2) + "\n]");

    TPDFArray* mixed = s.NewArray();
    mixed->Add(nullptr);
    TPDFDictionary* d = s.NewDictionary();
    d->Put("A", s.NewNumber(1));
    mixed->Add(d);
    mixed->Add(s.NewArrayOf(std::array<TPDFObject*, 2>{s.NewName("N"), s.NewNull()}));
    // A dictionary ends with LF, so no space follows it.
    EXPECT_EQ(mixed->Text(), "[  <<\n/A 1\n>>\n[ /N null ] ]");
}

TEST(VellocStructure, WritesStreams)
{
    TPDFStructure s;
    TPDFStream* stream = s.NewStream("Hello", false);
    EXPECT_EQ(stream->Text(), "<<\n/Length 5\n>>\nstream\nHello\nendstream");
    EXPECT_EQ(s.NewStream("", false)->Text(), "<<\n/Length 0\n>>\nstream\n\nendstream");
}

TEST(VellocStructure, PutKeepsPositionAndRemoveClosesTheGap)
{
    TPDFStructure s;
    TPDFDictionary* d = s.NewDictionary();
    TPDFNumeric* one = s.NewNumber(1);
    d->Put("A", one);
    d->Put("B", s.NewNumber(2));
    d->Put("C", s.NewNumber(3));
    d->Put("A", s.NewNumber(4));
    EXPECT_EQ(d->Text(), "<<\n/A 4\n/B 2\n/C 3\n>>\n");
    EXPECT_TRUE(IsRegistered(s, one)); // the replaced value stays

    TPDFObject* removed = d->Get("A");
    d->Remove("A");
    EXPECT_EQ(d->Text(), "<<\n/B 2\n/C 3\n>>\n");
    EXPECT_TRUE(IsRegistered(s, removed));
    d->Put("A", s.NewNumber(5));
    EXPECT_EQ(d->Text(), "<<\n/B 2\n/C 3\n/A 5\n>>\n");
    d->Remove("Absent");
    EXPECT_EQ(d->Count(), 3);

    d->Put("Self", d);
    EXPECT_EQ(d->IndexOf("Self"), -1);
    EXPECT_EQ(d->IndexOf("C"), 1);
    EXPECT_EQ(d->IndexOf("c"), -1); // keys compare case-sensitively
    ASSERT_NE(d->EntryAt(2), nullptr);
    EXPECT_EQ(d->EntryAt(2)->Key->Value(), "A");
    EXPECT_EQ(d->EntryAt(3), nullptr);
    EXPECT_EQ(d->EntryAt(-1), nullptr);
}

TEST(VellocStructure, ReadsDictionaryValues)
{
    TPDFStructure s;
    TPDFDictionary* target = s.NewDictionary();
    s.OnResolveReference = [&](TPDFIndRef*, int32_t number, int32_t generation) -> TPDFObject* {
        if (number == 5 && generation == 0) {
            return s.NewNumber(2.5);
        }
        return number == 6 ? target : nullptr;
    };
    TPDFDictionary* d = s.NewDictionary();
    d->Put("Type", s.NewName("XObject"));
    d->Put("Half", s.NewReference(5, 0));
    d->Put("Odd", s.NewNumber(3.5));
    d->Put("Big", s.NewNumber(1e12));
    d->Put("Dangling", s.NewReference(9, 0));
    d->Put("Text", s.NewString("7"));
    d->Put("Dict", s.NewReference(6, 0));

    EXPECT_EQ(d->TypeName(), "XObject");
    EXPECT_EQ(d->GetInteger("Half", -1), 2); // ties to even
    EXPECT_EQ(d->GetInteger("Odd", -1), 4);
    EXPECT_EQ(d->GetInteger("Big", -1), 2147483647);
    EXPECT_EQ(d->GetInteger("Dangling", -1), -1);
    EXPECT_EQ(d->GetInteger("Text", -1), -1);
    EXPECT_EQ(d->GetInteger("Absent", -1), -1);
    EXPECT_TRUE(d->Get("Half")->Is<TPDFIndRef>());
    EXPECT_EQ(d->Get("Dict", true), target);
    EXPECT_EQ(d->Get("Dangling", true), nullptr);

    TPDFDictionary* untyped = s.NewDictionary();
    EXPECT_EQ(untyped->TypeName(), "");
    untyped->Put("Type", s.NewString("Page"));
    EXPECT_EQ(untyped->TypeName(), "");

    TPDFStructure bare;
    EXPECT_EQ(bare.NewReference(1, 0)->Resolve(), nullptr);
}

TEST(VellocStructure, DowncastsByKind)
{
    TPDFStructure s;
    TPDFObject* number = s.NewNumber(1);
    EXPECT_EQ(number->Kind(), TPDFObjectKind::Numeric);
    EXPECT_NE(number->As<TPDFNumeric>(), nullptr);
    EXPECT_EQ(number->As<TPDFName>(), nullptr);
    EXPECT_EQ(ObjectAs<TPDFNumeric>(static_cast<TPDFObject*>(nullptr)), nullptr);
    EXPECT_EQ(s.NewStream("", false)->Kind(), TPDFObjectKind::Stream);
    EXPECT_EQ(s.NewReference(1, 0)->Kind(), TPDFObjectKind::IndRef);
}

TEST(VellocStructure, ArraysInsertAndReplace)
{
    TPDFStructure s;
    TPDFArray* a = s.NewArray();
    TPDFNumeric* n[4] = {s.NewNumber(0), s.NewNumber(1), s.NewNumber(2), s.NewNumber(3)};
    a->Reserve(10);
    a->Add(n[1]);
    a->Insert(0, n[0]);
    a->Insert(2, n[3]);
    a->Insert(4, n[2]); // beyond Count: ignored
    a->Insert(-1, n[2]);
    EXPECT_EQ(a->Text(), "[ 0 1 3 ]");
    a->Replace(2, n[2]);
    a->Replace(3, n[3]);
    EXPECT_EQ(a->Text(), "[ 0 1 2 ]");
    EXPECT_EQ(a->ItemAt(1), n[1]);
    EXPECT_EQ(a->ItemAt(3), nullptr);
    EXPECT_EQ(a->ItemAt(-1), nullptr);
    EXPECT_TRUE(a->RefersTo(n[2]));
    EXPECT_FALSE(a->RefersTo(n[3]));
}

TEST(VellocStructure, SetRawDataKeepsLengthCurrent)
{
    TPDFStructure s;
    TPDFStream* stream = s.NewStream("", false);
    stream->SetRawData("12345");
    auto* length = ObjectAs<TPDFNumeric>(stream->Dictionary()->Get("Length"));
    ASSERT_NE(length, nullptr);
    EXPECT_EQ(length->Value(), 5);
    stream->SetRawData("1234567");
    EXPECT_EQ(stream->Dictionary()->Get("Length"), length); // the same number object
    EXPECT_EQ(length->Value(), 7);

    // A /Length that is not a number (here a reference) is replaced in place.
    stream->Dictionary()->Put("Length", s.NewReference(3, 0));
    stream->Dictionary()->Put("Type", s.NewName("XObject"));
    stream->SetRawData("ab");
    EXPECT_EQ(stream->Dictionary()->Text(), "<<\n/Length 2\n/Type /XObject\n>>\n");
}

TEST(VellocStructure, SetDataCompressesAndManagesFilter)
{
    TPDFStructure s;
    const std::string text =
        "BT /F1 12 Tf 72 712 Td (A line of text) Tj ET\n"s + std::string(500, 'x');
    TPDFStream* stream = s.NewStream("", false);
    stream->Dictionary()->Put("Filter", s.NewName("ASCIIHexDecode"));
    stream->Dictionary()->Put("DecodeParms", s.NewDictionary());
    stream->Dictionary()->Put("Subtype", s.NewName("Form"));
    stream->SetData(text, true);

    const std::string& packed = stream->Data();
    ASSERT_GE(packed.size(), 6u);
    EXPECT_EQ(static_cast<unsigned char>(packed[0]), 0x78); // zlib header
    EXPECT_EQ(Inflated(packed, text.size()), text);
    EXPECT_EQ(stream->Dictionary()->GetInteger("Length", -1), static_cast<int32_t>(packed.size()));
    EXPECT_EQ(stream->Dictionary()->IndexOf("DecodeParms"), -1);
    EXPECT_EQ(stream->Dictionary()->Text(), "<<\n/Length " + std::to_string(packed.size()) +
                                                "\n/Subtype /Form\n/Filter /FlateDecode\n>>\n");
    EXPECT_EQ(stream->DecodedData(), text);

    stream->SetData(text, true); // still exactly one /Filter
    EXPECT_EQ(stream->Dictionary()->Count(), 3);

    stream->SetData("plain", false);
    EXPECT_EQ(stream->Dictionary()->Text(), "<<\n/Length 5\n/Subtype /Form\n>>\n");

    // Empty data gets no zlib header, but still the filter.
    stream->SetData("", true);
    EXPECT_EQ(stream->Data(), "");
    EXPECT_EQ(stream->Dictionary()->Text(),
              "<<\n/Length 0\n/Subtype /Form\n/Filter /FlateDecode\n>>\n");
    EXPECT_EQ(stream->DecodedData(), "");
}

TEST(VellocStructure, KeyNameSharesTheCommonNames)
{
    TPDFStructure s;
    TPDFName* type = s.KeyName("Type");
    EXPECT_TRUE(type->IsKeyName());
    EXPECT_EQ(s.KeyName("Type"), type);
    EXPECT_NE(s.KeyName("type"), type);

    TPDFName* width1 = s.KeyName("Width");
    TPDFName* width2 = s.KeyName("Width");
    EXPECT_NE(width1, width2);
    EXPECT_TRUE(width2->IsKeyName());

    // Every dictionary uses the one Length name.
    TPDFDictionary* a = s.NewDictionary();
    TPDFDictionary* b = s.NewDictionary();
    a->Put("Length", s.NewNumber(1));
    b->Put("Length", s.NewNumber(2));
    EXPECT_EQ(a->EntryAt(0)->Key, b->EntryAt(0)->Key);

    // The list is matched as text, so a run of neighbours such as "Type][Subtype" is shared too;
    // pieces of names and the empty name are not.
    EXPECT_EQ(s.KeyName("Type][Subtype"), s.KeyName("Type][Subtype"));
    EXPECT_NE(s.KeyName("Typ"), s.KeyName("Typ"));
    EXPECT_NE(s.KeyName(""), s.KeyName(""));
    EXPECT_EQ(s.KeyName("Velloc"), s.KeyName("Velloc"));
}

TEST(VellocStructure, KeyNameReusesTheFirstRegisteredNameOfThatValue)
{
    TPDFStructure s;
    // A plain name made earlier (by NewName or by parsing) is what KeyName finds first.
    TPDFName* early = s.NewName("Font");
    TPDFName* later = s.NewName("Font");
    EXPECT_FALSE(early->IsKeyName());
    EXPECT_EQ(s.KeyName("Font"), early);
    EXPECT_TRUE(early->IsKeyName());
    EXPECT_FALSE(later->IsKeyName());

    auto* parsed = ObjectAs<TPDFDictionary>(s.Parse("<< /Pages 1 >>"));
    ASSERT_NE(parsed, nullptr);
    EXPECT_EQ(s.KeyName("Pages"), parsed->EntryAt(0)->Key);

    // After the first is released, the next in creation order takes its place.
    TPDFName* first = s.NewName("Annot");
    TPDFName* second = s.NewName("Annot");
    EXPECT_TRUE(s.ReleaseObject(first));
    EXPECT_EQ(s.KeyName("Annot"), second);

    s.Clear();
    TPDFName* fresh = s.KeyName("Font");
    EXPECT_EQ(s.ObjectCount(), 1u);
    EXPECT_EQ(s.KeyName("Font"), fresh);
}

TEST(VellocStructure, ReleaseObjectRefusesHeldObjectsAndKeyNames)
{
    TPDFStructure s;
    TPDFDictionary* d = s.NewDictionary();
    TPDFNumeric* held = s.NewNumber(1);
    d->Put("Count", held);
    TPDFNumeric* scratch = s.NewNumber(2);
    const size_t count = s.ObjectCount();

    EXPECT_FALSE(s.ReleaseObject(held));
    EXPECT_FALSE(s.ReleaseObject(d->EntryAt(0)->Key)); // a key name
    EXPECT_FALSE(s.ReleaseObject(s.KeyName("Width")));
    EXPECT_EQ(s.ObjectCount(), count + 1);

    TPDFStructure other;
    EXPECT_FALSE(s.ReleaseObject(other.NewNull()));
    EXPECT_FALSE(s.ReleaseObject(nullptr));

    const size_t before = s.ObjectCount();
    scratch->Release();
    EXPECT_EQ(s.ObjectCount(), before - 1);
    for (size_t i = 0; i < s.ObjectCount(); ++i) {
        EXPECT_NE(s.ObjectAt(i), nullptr);
    }

    // A released container leaves its children registered.
    TPDFArray* array = s.NewArrayOf(std::array<TPDFObject*, 1>{s.NewNull()});
    TPDFObject* child = array->ItemAt(0);
    EXPECT_FALSE(s.ReleaseObject(child));
    const size_t withArray = s.ObjectCount();
    array->Release();
    EXPECT_EQ(s.ObjectCount(), withArray - 1);
    EXPECT_TRUE(s.ReleaseObject(child));

    // A stream holds its dictionary; an array holding itself is never freed.
    TPDFStream* stream = s.NewStream("x", false);
    EXPECT_FALSE(s.ReleaseObject(stream->Dictionary()));
    TPDFArray* loop = s.NewArray();
    loop->Add(loop);
    EXPECT_FALSE(s.ReleaseObject(loop));
    loop->Release();
    EXPECT_EQ(loop->Count(), 1);
}

TEST(VellocStructure, RegistryKeepsCreationOrder)
{
    TPDFStructure s;
    s.Reserve(5000);
    std::vector<TPDFObject*> made;
    for (int i = 0; i < 3000; ++i) {
        made.push_back(s.NewNumber(i));
    }
    s.Reserve(26);
    TPDFStream* stream = s.NewStream("x", false);
    // The stream's dictionary, the stream, the Length key name and its number.
    ASSERT_EQ(s.ObjectCount(), 3000u + 4u);
    for (size_t i = 0; i < made.size(); ++i) {
        ASSERT_EQ(s.ObjectAt(i), made[i]);
    }
    EXPECT_EQ(s.ObjectAt(3000), stream->Dictionary());
    EXPECT_EQ(s.ObjectAt(3001), stream);
    EXPECT_EQ(s.ObjectAt(5000), nullptr);
    s.Clear();
    EXPECT_EQ(s.ObjectCount(), 0u);
    EXPECT_EQ(s.Precision(), 4);
}

TEST(VellocStructure, RenumbersReferencesInside)
{
    TPDFStructure s;
    TPDFIndRef* shared = s.NewReference(3, 0);
    TPDFDictionary* d = s.NewDictionary();
    d->Put("A", s.NewReference(1, 0));
    d->Put("B", s.NewArrayOf(std::array<TPDFObject*, 2>{s.NewReference(2, 1), s.NewNumber(7)}));
    TPDFStream* stream = s.NewStream("", false);
    stream->Dictionary()->Put("C", shared);
    d->Put("S", stream);
    d->Renumber(10);
    EXPECT_EQ(d->Text(), "<<\n/A 11 0 R\n/B [ 12 1 R 7 ]\n/S <<\n/Length 0\n/C 13 0 R\n>>\n"
                         "stream\n\nendstream\n>>\n");

    // A container that holds itself is renumbered once.
    TPDFArray* loop = s.NewArray();
    loop->Add(loop);
    loop->Add(s.NewReference(1, 0));
    loop->Renumber(1);
    EXPECT_EQ(loop->ItemAt(1)->Text(), "2 0 R");
}

TEST(VellocStructure, CyclesAndDeepNestingAreNotWritten)
{
    TPDFStructure s;
    TPDFDictionary* d = s.NewDictionary();
    TPDFArray* a = s.NewArray();
    d->Put("X", s.NewNumber(1));
    d->Put("A", a);
    d->Put("B", a);
    d->Put("Y", s.NewNumber(2));
    a->Add(d);
    // Each entry that leads back into the dictionary is replaced by the comment line.
    EXPECT_EQ(d->Text(), "<<\n/X 1\n% bug \n% bug \n/Y 2\n>>\n");
    EXPECT_EQ(a->Text(), "[ <<\n/X 1\n% bug \n% bug \n/Y 2\n>>\n]");

    // Without a dictionary on the way nothing catches: the writer raises.
    TPDFArray* loop = s.NewArray();
    loop->Add(loop);
    try {
        (void)loop->Text();
        FAIL() << "an array inside itself was written";
    } catch (const EVellocError& error) {
        EXPECT_EQ(error.Code(), PDFObjectNestingError);
    }

    TPDFArray* top = s.NewArray();
    TPDFArray* inner = top;
    for (int i = 0; i < MaxWriteDepth + 10; ++i) {
        TPDFArray* next = s.NewArray();
        inner->Add(next);
        inner = next;
    }
    EXPECT_THROW((void)top->Text(), EVellocError);

    // Sharing without a cycle is fine.
    TPDFArray* leaf = s.NewIntegerArray(std::array{1});
    TPDFArray* twice = s.NewArrayOf(std::array<TPDFObject*, 2>{leaf, leaf});
    EXPECT_EQ(twice->Text(), "[ [ 1 ] [ 1 ] ]");
}

TEST(VellocStructure, HooksAreCalledWithTheirArguments)
{
    TPDFStructure s;
    EXPECT_EQ(s.RegisterIndirect(nullptr, s.NewNull()).ObjectNumber, 0);
    TPDFObject* seenSender = nullptr;
    s.OnRegisterIndirect = [&](TPDFObject* sender, TPDFObject* obj) {
        seenSender = sender;
        obj->SetIndirectIdentity(4, 0);
        return TPDFIndirectIdentity{4, 0};
    };
    TPDFDictionary* page = s.NewDictionary();
    TPDFDictionary* sender = s.NewDictionary();
    const TPDFIndirectIdentity identity = s.RegisterIndirect(sender, page);
    EXPECT_EQ(identity.ObjectNumber, 4);
    EXPECT_EQ(seenSender, sender);
    EXPECT_TRUE(page->IsIndirect());
    EXPECT_EQ(page->ObjectNumber(), 4);
    EXPECT_FALSE(sender->IsIndirect());

    TPDFIndRef* reference = s.NewReference(8, 2);
    TPDFIndRef* asked = nullptr;
    s.OnResolveReference = [&](TPDFIndRef* ref, int32_t number, int32_t generation) {
        asked = ref;
        return number == 8 && generation == 2 ? page : nullptr;
    };
    EXPECT_EQ(reference->Resolve(), page);
    EXPECT_EQ(asked, reference);
}
