#include "engine/VellocDocument.h"

#include "VellocDocumentFixture.h"
#include "engine/VellocImage.h"
#include "engine/VellocPageTree.h"
#include "engine/support/VellocMD5.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

using namespace velloc;
using namespace velloc::testing;
using namespace std::string_literals;

namespace {

class TDocumentTest : public TFixedSourcesTest
{
  protected:
    std::string ObjectText(int32_t objectNumber)
    {
        const TPDFIndObj* record = m_Document.FindIndirect(objectNumber);
        EXPECT_NE(record, nullptr) << "object " << objectNumber;
        return record != nullptr ? record->Object()->Text() : std::string();
    }

    const TPDFString* InfoString(std::string_view name)
    {
        return ObjectAs<TPDFString>(m_Document.GetInfo()->Get(name, true));
    }

    // The entry names of a dictionary in order, each followed by a blank.
    static std::string KeyOrder(const TPDFDictionary& dictionary)
    {
        std::string keys;
        for (const TPDFDictionaryEntry& entry : dictionary.Entries()) {
            keys += entry.Key->Value() + " ";
        }
        return keys;
    }

    TPDFDocument m_Document;
};

TEST_F(TDocumentTest, NewDocumentHasTheFiveSkeletonObjectsAndTheTrailer)
{
    ASSERT_TRUE(m_Document.SetUpNewDocument());
    EXPECT_EQ(m_Document.Version(), "1.4");
    ASSERT_EQ(m_Document.IndirectObjects().size(), 5u);
    for (int32_t i = 0; i < 5; ++i) {
        const TPDFIndObj& record = *m_Document.IndirectObjects()[static_cast<size_t>(i)];
        EXPECT_EQ(record.ObjectNumber(), i + 1);
        EXPECT_EQ(record.Generation(), 0);
        EXPECT_TRUE(record.Loaded());
        EXPECT_TRUE(record.Processed());
        EXPECT_EQ(&record.Document(), &m_Document);
        EXPECT_TRUE(record.Object()->IsIndirect());
        EXPECT_EQ(record.Object()->ObjectNumber(), i + 1);
    }

    EXPECT_EQ(ObjectText(1), "<<\n/Type /Pages\n/Count 1\n/Kids [ 2 0 R ]\n>>\n");
    EXPECT_EQ(ObjectText(2), "<<\n/Type /Page\n/Parent 1 0 R\n/MediaBox [ 0 0 612 792 ]\n"
                             "/CropBox [ 0 0 612 792 ]\n/Resources <<\n"
                             "/ProcSet [ /PDF /Text /ImageB /ImageC /ImageI ]\n>>\n"
                             "/Contents [ 5 0 R ]\n>>\n");
    EXPECT_EQ(ObjectText(3), "<<\n/Type /Catalog\n/Pages 1 0 R\n>>\n");
    EXPECT_EQ(ObjectText(4), "<<\n>>\n");
    const auto* content = ObjectAs<TPDFStream>(m_Document.FindIndirect(5)->Object());
    ASSERT_NE(content, nullptr);
    EXPECT_TRUE(content->Data().empty());

    // The identifier is the MD5 digest of the time as days since 30 December 1899, one string
    // object held twice.
    const TMD5Digest digest = MD5Digest(DaysText(FixedTime()));
    const std::string hex = [&] {
        std::string text = MD5Hex(digest);
        for (char& c : text) {
            c = static_cast<char>(c >= 'a' ? c - 'a' + 'A' : c);
        }
        return text;
    }();
    EXPECT_EQ(m_Document.Trailer().Text(),
              "<<\n/Size 6\n/Root 3 0 R\n/Info 4 0 R\n/ID [ <" + hex + "> <" + hex + "> ]\n>>\n");
    const auto* identifier = ObjectAs<TPDFArray>(m_Document.Trailer().Get("ID"));
    ASSERT_NE(identifier, nullptr);
    EXPECT_EQ(identifier->ItemAt(0), identifier->ItemAt(1));
    EXPECT_EQ(ObjectAs<TPDFString>(identifier->ItemAt(0))->Value().size(), 16u);

    EXPECT_EQ(m_Document.PageCount(), 1);
    EXPECT_EQ(m_Document.PageTree().CurrentPage(), 1);
    EXPECT_EQ(m_Document.GetCatalog(), m_Document.FindIndirect(3)->Object());
    EXPECT_EQ(m_Document.GetInfo(), m_Document.FindIndirect(4)->Object());
}

TEST_F(TDocumentTest, FirstXmpEntryMakesTheMetadataStreamAndLaterOnesReuseIt)
{
    ASSERT_TRUE(m_Document.SetUpNewDocument());
    m_Document.SetInfoEntry("Producer", EngineText);
    ASSERT_EQ(m_Document.IndirectObjects().size(), 6u);
    EXPECT_EQ(m_Document.Trailer().GetInteger("Size", 0), 7);
    EXPECT_EQ(ObjectText(3), "<<\n/Type /Catalog\n/Pages 1 0 R\n/Metadata 6 0 R\n>>\n");

    m_Document.SetInfoEntry("Creator", EngineText);
    EXPECT_EQ(m_Document.IndirectObjects().size(), 6u);
    EXPECT_EQ(m_Document.Trailer().GetInteger("Size", 0), 7);

    const auto* metadata = ObjectAs<TPDFStream>(m_Document.FindIndirect(6)->Object());
    ASSERT_NE(metadata, nullptr);
    EXPECT_EQ(KeyOrder(*metadata->Dictionary()), "Length Type Subtype ");
    EXPECT_EQ(metadata->Dictionary()->GetInteger("Length", -1),
              static_cast<int32_t>(metadata->Data().size()));
    const std::string packet = m_Document.GetMetadata();
    EXPECT_EQ(packet, metadata->Data());
    EXPECT_NE(packet.find("<pdf:Producer>" + Bytes(EngineText) + "</pdf:Producer>"),
              std::string::npos);
    EXPECT_NE(packet.find("<xmp:CreatorTool>" + Bytes(EngineText) + "</xmp:CreatorTool>"),
              std::string::npos);
}

TEST_F(TDocumentTest, InformationEntriesAreStoredAsPdfTextStrings)
{
    struct TCase
    {
        const char* Name;
        std::u16string Value;
        std::string Stored;
        std::string Written;
    };
    const TCase cases[] = {
        {"plain", u"Pagewell", "Pagewell", "(Pagewell)"},
        {"PDFDocEncoding", u"Zo\u00EB", "Zo\xEB", "(Zo\xEB)"},
        {"UTF-16BE", u"\u0418\u0432\u0430\u043D X",
         "\xFE\xFF\x04\x18\x04\x32\x04\x30\x04\x3D\x00 \x00X"s,
         "(\xFE\xFF\x04\x18\x04\x32\x04\x30\x04\x3D\x00 \x00X)"s},
        {"empty", u"", "", "()"},
        {"parentheses", u"a(b)\\", "a(b)\\", "(a\\(b\\)\\\\)"},
    };
    ASSERT_TRUE(m_Document.SetUpNewDocument());
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Name);
        m_Document.SetInfoEntry("Author", c.Value);
        const TPDFString* stored = InfoString("Author");
        ASSERT_NE(stored, nullptr);
        EXPECT_EQ(stored->Value(), c.Stored);
        EXPECT_EQ(stored->HexForm(), TPDFString::LiteralForm);
        EXPECT_EQ(stored->Text(), c.Written);
        EXPECT_EQ(m_Document.GetInfoEntry("Author"), c.Value);
    }
    EXPECT_EQ(m_Document.GetInfoEntry("Title"), u"");
}

TEST_F(TDocumentTest, InformationEntriesKeepTheOrderTheyWereFirstSetIn)
{
    ASSERT_TRUE(m_Document.SetUpNewDocument());
    m_Document.SetInfoEntry("Title", u"First");
    m_Document.SetInfoEntry("Author", u"Someone");
    const TPDFString* title = InfoString("Title");
    m_Document.SetInfoEntry("Title", u"Second");
    m_Document.SetInfoEntry("Company", u"Corvanta");

    EXPECT_EQ(KeyOrder(*m_Document.GetInfo()), "Title Author Company ");
    // The string is changed in place, not replaced.
    EXPECT_EQ(InfoString("Title"), title);
    EXPECT_EQ(m_Document.GetInfoEntry("Title"), u"Second");
    const std::string packet = m_Document.GetMetadata();
    EXPECT_NE(packet.find("Second"), std::string::npos);
    EXPECT_EQ(packet.find("First"), std::string::npos);
    // Entries without an XMP property leave the packet alone.
    EXPECT_EQ(packet.find("Corvanta"), std::string::npos);
}

TEST_F(TDocumentTest, EntryOutsideTheXmpSetDoesNotMakeAMetadataStream)
{
    ASSERT_TRUE(m_Document.SetUpNewDocument());
    m_Document.SetInfoEntry("Trapped", u"False");
    EXPECT_EQ(m_Document.IndirectObjects().size(), 5u);
    EXPECT_EQ(m_Document.GetCatalog()->Get("Metadata"), nullptr);
    EXPECT_EQ(m_Document.GetMetadata(), "");
}

TEST_F(TDocumentTest, InformationEntryHeldAsStreamIsReadAndThenReplaced)
{
    ASSERT_TRUE(m_Document.SetUpNewDocument());
    TPDFStream* stream = m_Document.Structure().NewStream("Kept in a stream", true);
    m_Document.GetInfo()->Put("Subject", m_Document.ReferenceTo(stream));
    EXPECT_EQ(m_Document.GetInfoEntry("Subject"), u"Kept in a stream");

    m_Document.SetInfoEntry("Subject", u"Now a string");
    EXPECT_TRUE(stream->Data().empty());
    EXPECT_EQ(stream->Dictionary()->GetInteger("Length", -1), 0);
    ASSERT_NE(InfoString("Subject"), nullptr);
    EXPECT_EQ(m_Document.GetInfoEntry("Subject"), u"Now a string");

    m_Document.GetInfo()->Put("Keywords", m_Document.Structure().NewNumber(3));
    EXPECT_EQ(m_Document.GetInfoEntry("Keywords"), u"");
}

TEST_F(TDocumentTest, MetadataIsReadOnlyFromAnXmlMetadataStream)
{
    ASSERT_TRUE(m_Document.SetUpNewDocument());
    m_Document.SetMetadata("<packet/>");
    auto* stream = ObjectAs<TPDFStream>(m_Document.GetCatalog()->Get("Metadata", true));
    ASSERT_NE(stream, nullptr);
    EXPECT_EQ(stream->Dictionary()->Get("Filter"), nullptr);
    EXPECT_EQ(m_Document.GetMetadata(), "<packet/>");

    TPDFDictionary& dictionary = *stream->Dictionary();
    TPDFStructure& s = m_Document.Structure();
    dictionary.Remove("Subtype");
    dictionary.Put("SubType", s.NewName("XML"));
    EXPECT_EQ(m_Document.GetMetadata(), "<packet/>");
    dictionary.Put("SubType", s.NewName("JSON"));
    EXPECT_EQ(m_Document.GetMetadata(), "");
    dictionary.Put("SubType", s.NewName("XML"));
    dictionary.Put("Type", s.NewName("XObject"));
    EXPECT_EQ(m_Document.GetMetadata(), "");

    // Storing again repairs the dictionary and keeps the same stream object.
    m_Document.SetMetadata("<again/>");
    EXPECT_EQ(m_Document.GetMetadata(), "<again/>");
    EXPECT_EQ(m_Document.GetCatalog()->Get("Metadata", true), stream);
    EXPECT_EQ(m_Document.IndirectObjects().size(), 6u);
}

TEST_F(TDocumentTest, PageModeIsReplacedAndComesLast)
{
    ASSERT_TRUE(m_Document.SetUpNewDocument());
    EXPECT_TRUE(m_Document.SetPageMode(2));
    m_Document.SetInfoEntry("Title", u"Adds /Metadata to the catalog");
    EXPECT_TRUE(m_Document.SetPageMode(2));
    EXPECT_EQ(ObjectText(3),
              "<<\n/Type /Catalog\n/Pages 1 0 R\n/Metadata 6 0 R\n/PageMode /UseThumbs\n>>\n");

    const char* names[] = {"UseNone",    "UseOutlines", "UseThumbs",
                           "FullScreen", "UseOC",       "UseAttachments"};
    for (int32_t mode = 0; mode < 6; ++mode) {
        EXPECT_TRUE(m_Document.SetPageMode(mode));
        const auto* name = ObjectAs<TPDFName>(m_Document.GetCatalog()->Get("PageMode"));
        ASSERT_NE(name, nullptr);
        EXPECT_EQ(name->Value(), names[mode]);
    }
    EXPECT_FALSE(m_Document.SetPageMode(6));
    EXPECT_FALSE(m_Document.SetPageMode(-1));
    EXPECT_EQ(KeyOrder(*m_Document.GetCatalog()), "Type Pages Metadata PageMode ");
}

TEST_F(TDocumentTest, IdentifierFollowsTheClock)
{
    TPDFDocument second;
    TPDFDocument third;
    ASSERT_TRUE(m_Document.SetUpNewDocument());
    ASSERT_TRUE(second.SetUpNewDocument());
    TLocalTime later = FixedTime();
    later.Millisecond += 1;
    SetClock(later);
    ASSERT_TRUE(third.SetUpNewDocument());

    const auto identifier = [](TPDFDocument& document) {
        return document.Trailer().Get("ID")->Text();
    };
    EXPECT_EQ(identifier(m_Document), identifier(second));
    EXPECT_NE(identifier(m_Document), identifier(third));
}

TEST_F(TDocumentTest, RegistrationNumbersFindsAndResolves)
{
    ASSERT_TRUE(m_Document.SetUpNewDocument());
    TPDFStructure& s = m_Document.Structure();

    // Through the structure's hook, as the page tree and the image import register objects.
    TPDFDictionary* viaHook = s.NewDictionary();
    const TPDFIndirectIdentity identity = s.RegisterIndirect(nullptr, viaHook);
    EXPECT_EQ(identity.ObjectNumber, 6);
    EXPECT_EQ(identity.Generation, 0);

    TPDFNumeric* number = s.NewNumber(42);
    TPDFIndRef* reference = m_Document.ReferenceTo(number);
    EXPECT_EQ(reference->Text(), "7 0 R");
    EXPECT_EQ(reference->Resolve(), number);
    EXPECT_EQ(s.NewReference(7, 3)->Resolve(), number) << "the generation is not compared";
    EXPECT_EQ(s.NewReference(8, 0)->Resolve(), nullptr);

    // The same object registered twice becomes two indirect objects.
    EXPECT_EQ(m_Document.RegisterIndirect(number).ObjectNumber(), 8);
    EXPECT_EQ(number->ObjectNumber(), 8);
    EXPECT_EQ(m_Document.Trailer().GetInteger("Size", 0), 9);
    EXPECT_EQ(m_Document.HighestObjectNumber(), 8);

    for (int32_t missing : {0, -1, 9, 1 << 30}) {
        EXPECT_EQ(m_Document.FindIndirect(missing), nullptr) << missing;
    }
}

TEST_F(TDocumentTest, ManyRegistrationsStayFindable)
{
    ASSERT_TRUE(m_Document.SetUpNewDocument());
    TPDFStructure& s = m_Document.Structure();
    constexpr int32_t Count = 20000;
    for (int32_t i = 0; i < Count; ++i) {
        m_Document.RegisterIndirect(s.NewNumber(i));
    }
    EXPECT_EQ(m_Document.Trailer().GetInteger("Size", 0), Count + 6);
    for (int32_t n = 1; n <= Count + 5; ++n) {
        const TPDFIndObj* record = m_Document.FindIndirect(n);
        ASSERT_NE(record, nullptr) << n;
        ASSERT_EQ(record->ObjectNumber(), n);
        ASSERT_EQ(record, m_Document.IndirectObjects()[static_cast<size_t>(n - 1)].get());
    }
}

TEST_F(TDocumentTest, TrailerSizeThatIsNotANumberIsPutBack)
{
    ASSERT_TRUE(m_Document.SetUpNewDocument());
    m_Document.Trailer().Put("Size", m_Document.Structure().NewName("six"));
    m_Document.RegisterIndirect(m_Document.Structure().NewNull());
    EXPECT_EQ(m_Document.Trailer().GetInteger("Size", 0), 7);
    EXPECT_EQ(m_Document.Trailer().IndexOf("Size"), 0);
}

TEST_F(TDocumentTest, EmptyDocumentRepairsCatalogAndInformation)
{
    EXPECT_EQ(m_Document.Version(), "");
    EXPECT_EQ(m_Document.IndirectObjects().size(), 0u);
    EXPECT_EQ(m_Document.PageCount(), 0);
    EXPECT_EQ(m_Document.UnitsFactor(), 1.0);
    EXPECT_EQ(m_Document.OriginCorner(), 0);
    EXPECT_EQ(m_Document.ImageCompression(), 0);

    TPDFDictionary* catalog = m_Document.GetCatalog();
    EXPECT_EQ(m_Document.GetCatalog(), catalog);
    TPDFDictionary* info = m_Document.GetInfo();
    EXPECT_EQ(m_Document.Trailer().Text(), "<<\n/Size 3\n/Root 1 0 R\n/Info 2 0 R\n>>\n");
    EXPECT_EQ(m_Document.FindIndirect(2)->Object(), info);
}

TEST_F(TDocumentTest, ResetEmptiesEverything)
{
    ASSERT_TRUE(m_Document.SetUpNewDocument());
    m_Document.SetInfoEntry("Title", u"Gone after reset");
    m_Document.AdoptImage(std::make_unique<TPDFImage>(m_Document.Structure(), "VellocIm00000000"));

    m_Document.Reset();
    EXPECT_EQ(m_Document.IndirectObjects().size(), 0u);
    EXPECT_EQ(m_Document.FindIndirect(1), nullptr);
    EXPECT_EQ(m_Document.Trailer().Count(), 0);
    EXPECT_EQ(m_Document.ImageCount(), 0);
    EXPECT_EQ(m_Document.PageCount(), 0);
    EXPECT_EQ(m_Document.Structure().ObjectCount(), 1u) << "only the new trailer";

    // Numbering starts over.
    ASSERT_TRUE(m_Document.SetUpNewDocument());
    EXPECT_EQ(m_Document.IndirectObjects().size(), 5u);
    EXPECT_EQ(m_Document.Trailer().GetInteger("Size", 0), 6);
}

TEST_F(TDocumentTest, ImagesAreKeptInLoadOrder)
{
    ASSERT_TRUE(m_Document.SetUpNewDocument());
    TPDFImage& first =
        m_Document.AdoptImage(std::make_unique<TPDFImage>(m_Document.Structure(), "VellocIm0a"));
    TPDFImage& second =
        m_Document.AdoptImage(std::make_unique<TPDFImage>(m_Document.Structure(), "VellocIm0b"));
    EXPECT_EQ(m_Document.ImageCount(), 2);
    EXPECT_EQ(m_Document.ImageAt(0), &first);
    EXPECT_EQ(m_Document.ImageAt(1), &second);
    EXPECT_EQ(m_Document.ImageAt(2), nullptr);
    EXPECT_EQ(m_Document.ImageAt(-1), nullptr);
}

} // namespace
