#include "engine/VellocXMP.h"

#include <expat.h>
#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <vector>

using namespace velloc;

namespace {

constexpr const char* OpeningInstruction = R"(<?xpacket begin="?" id="W5M0MpCehiHzreSzNTczkc9d"?>)";

// What expat, with namespace processing, makes of a packet. Names are written with the usual
// prefix of their namespace URI, whatever prefix the text used.
struct TParsedPacket
{
    bool WellFormed = false;
    std::string Error;
    // One line per element: one space of indent per level, the name, " @name=value" per
    // attribute and, for elements without child elements, "=" and the text.
    std::string Outline;
    std::map<std::string, std::vector<std::string>> TextsByPath;
    std::vector<std::string> Instructions; // "target data"
};

class TExpatReader
{
  public:
    TParsedPacket Parse(const std::string& text)
    {
        std::unique_ptr<XML_ParserStruct, decltype(&XML_ParserFree)> parser(
            XML_ParserCreateNS("UTF-8", '|'), &XML_ParserFree);
        XML_SetUserData(parser.get(), this);
        XML_SetElementHandler(parser.get(), &TExpatReader::start, &TExpatReader::end);
        XML_SetCharacterDataHandler(parser.get(), &TExpatReader::characters);
        XML_SetProcessingInstructionHandler(parser.get(), &TExpatReader::instruction);
        m_Result.WellFormed = XML_Parse(parser.get(), text.data(), static_cast<int>(text.size()),
                                        XML_TRUE) == XML_STATUS_OK;
        if (!m_Result.WellFormed) {
            m_Result.Error = XML_ErrorString(XML_GetErrorCode(parser.get()));
        }
        for (const std::string& line : m_Lines) {
            m_Result.Outline += line + "\n";
        }
        return m_Result;
    }

  private:
    struct TOpen
    {
        std::string Path;
        size_t Line = 0;
        std::string Text;
        bool HasChildren = false;
    };

    static std::string shortName(const std::string& expanded)
    {
        static const std::map<std::string, std::string> prefixes = {
            {"adobe:ns:meta/", "x"},
            {"http://www.w3.org/1999/02/22-rdf-syntax-ns#", "rdf"},
            {"http://purl.org/dc/elements/1.1/", "dc"},
            {"http://ns.adobe.com/xap/1.0/", "xmp"},
            {"http://ns.adobe.com/pdf/1.3/", "pdf"},
            {"http://www.w3.org/XML/1998/namespace", "xml"},
        };
        const size_t bar = expanded.find('|');
        if (bar == std::string::npos) {
            return expanded;
        }
        const auto known = prefixes.find(expanded.substr(0, bar));
        const std::string prefix =
            known != prefixes.end() ? known->second : "{" + expanded.substr(0, bar) + "}";
        return prefix + ":" + expanded.substr(bar + 1);
    }

    static void start(void* self, const XML_Char* name, const XML_Char** attributes)
    {
        auto& reader = *static_cast<TExpatReader*>(self);
        std::string line(reader.m_Open.size(), ' ');
        line += shortName(name);
        for (size_t i = 0; attributes[i] != nullptr; i += 2) {
            line += " @" + shortName(attributes[i]) + "=" + attributes[i + 1];
        }
        std::string path = shortName(name);
        if (!reader.m_Open.empty()) {
            reader.m_Open.back().HasChildren = true;
            path = reader.m_Open.back().Path + "/" + path;
        }
        reader.m_Lines.push_back(line);
        reader.m_Open.push_back({path, reader.m_Lines.size() - 1, "", false});
    }

    static void end(void* self, const XML_Char*)
    {
        auto& reader = *static_cast<TExpatReader*>(self);
        const TOpen element = reader.m_Open.back();
        reader.m_Open.pop_back();
        if (!element.HasChildren) {
            reader.m_Lines[element.Line] += "=" + element.Text;
            reader.m_Result.TextsByPath[element.Path].push_back(element.Text);
        }
    }

    static void characters(void* self, const XML_Char* text, int length)
    {
        auto& reader = *static_cast<TExpatReader*>(self);
        if (!reader.m_Open.empty()) {
            reader.m_Open.back().Text.append(text, static_cast<size_t>(length));
        }
    }

    static void instruction(void* self, const XML_Char* target, const XML_Char* data)
    {
        static_cast<TExpatReader*>(self)->m_Result.Instructions.push_back(std::string(target) +
                                                                          " " + data);
    }

    TParsedPacket m_Result;
    std::vector<std::string> m_Lines;
    std::vector<TOpen> m_Open;
};

TParsedPacket ParsePacket(const std::string& text)
{
    return TExpatReader().Parse(text);
}

} // namespace

namespace {

const char* const NewPacketOutline = R"(x:xmpmeta
 rdf:RDF
  rdf:Description
   dc:format=application/pdf
   dc:creator
    rdf:Bag
     rdf:li=
   dc:description
    rdf:Alt
     rdf:li @xml:lang=x-default=
   dc:title
    rdf:Alt
     rdf:li @xml:lang=x-default=
  rdf:Description
   xmp:CreatorTool=
   xmp:CreateDate=
   xmp:ModifyDate=
  rdf:Description
   pdf:Keywords=
   pdf:Producer=
)";

// One update as the document makes it: load the stored packet, set one property, store the
// text.
template <typename Setter> std::string Updated(const std::string& stored, Setter set)
{
    TVellocXMP xmp;
    xmp.LoadPacket(stored);
    set(xmp);
    return xmp.PacketText();
}

std::string FreshPacketText()
{
    return TVellocXMP().PacketText();
}

} // namespace

TEST(VellocXMP, NewPacketHasThreeDescriptionsWithEmptyProperties)
{
    const std::string text = FreshPacketText();
    const TParsedPacket parsed = ParsePacket(text);
    ASSERT_TRUE(parsed.WellFormed) << parsed.Error << "\n" << text;
    EXPECT_EQ(parsed.Outline, NewPacketOutline);
    const std::vector<std::string> instructions = {
        R"(xpacket begin="?" id="W5M0MpCehiHzreSzNTczkc9d")", R"(xpacket end="w")"};
    EXPECT_EQ(parsed.Instructions, instructions);
    // Each rdf:Description declares its own schema's prefix.
    EXPECT_NE(text.find(R"(<rdf:Description xmlns:dc="http://purl.org/dc/elements/1.1/">)"),
              std::string::npos);
    EXPECT_NE(text.find(R"(<rdf:Description xmlns:xmp="http://ns.adobe.com/xap/1.0/">)"),
              std::string::npos);
    EXPECT_NE(text.find(R"(<rdf:Description xmlns:pdf="http://ns.adobe.com/pdf/1.3/">)"),
              std::string::npos);
}

TEST(VellocXMP, FourUpdatesThroughTheStoredTextAccumulate)
{
    std::string stored;
    stored = Updated(stored, [](TVellocXMP& x) { x.SetProducer(u"Velloc PDF engine 1.0"); });
    stored = Updated(stored, [](TVellocXMP& x) { x.SetCreator(u"Pagewell 1.0"); });
    stored = Updated(stored, [](TVellocXMP& x) { x.SetCreationDate(u"D:20240315143005+01'00'"); });
    stored = Updated(stored, [](TVellocXMP& x) { x.SetModDate(u"D:20240315143005+01'00'"); });

    const TParsedPacket parsed = ParsePacket(stored);
    ASSERT_TRUE(parsed.WellFormed) << parsed.Error << "\n" << stored;
    EXPECT_EQ(parsed.Outline, R"(x:xmpmeta
 rdf:RDF
  rdf:Description
   dc:format=application/pdf
   dc:creator
    rdf:Bag
     rdf:li=
   dc:description
    rdf:Alt
     rdf:li @xml:lang=x-default=
   dc:title
    rdf:Alt
     rdf:li @xml:lang=x-default=
  rdf:Description
   xmp:CreatorTool=Pagewell 1.0
   xmp:CreateDate=2024-03-15T14:30:05+01:00
   xmp:ModifyDate=2024-03-15T14:30:05+01:00
  rdf:Description
   pdf:Keywords=
   pdf:Producer=Velloc PDF engine 1.0
)");
    EXPECT_EQ(parsed.Instructions.size(), 2u);
}

TEST(VellocXMP, PropertySetAgainMovesToTheEndWithTheNewValue)
{
    TVellocXMP xmp;
    xmp.SetTitle(u"First");
    xmp.SetAuthor(u"Ann");
    xmp.SetTitle(u"Second");
    const std::string stored = xmp.PacketText();
    // And once more across a reload, as the document does it.
    const std::string text = Updated(stored, [](TVellocXMP& x) { x.SetSubject(u"About"); });

    const TParsedPacket parsed = ParsePacket(text);
    ASSERT_TRUE(parsed.WellFormed) << parsed.Error;
    const size_t firstDescription = parsed.Outline.find("  rdf:Description");
    const std::string dublinCore =
        parsed.Outline.substr(0, parsed.Outline.find("  rdf:Description", firstDescription + 1));
    EXPECT_EQ(dublinCore, R"(x:xmpmeta
 rdf:RDF
  rdf:Description
   dc:format=application/pdf
   dc:creator
    rdf:Bag
     rdf:li=Ann
   dc:title
    rdf:Alt
     rdf:li @xml:lang=x-default=Second
   dc:description
    rdf:Alt
     rdf:li @xml:lang=x-default=About
)");
}

TEST(VellocXMP, PaddingStandsDirectlyBeforeTheClosingInstruction)
{
    const std::string text = Updated("", [](TVellocXMP& x) { x.SetKeywords(u"png, pdf"); });
    EXPECT_TRUE(text.starts_with(OpeningInstruction)) << text.substr(0, 80);
    EXPECT_TRUE(text.ends_with(R"(<?xpacket end="w"?>)"));

    const size_t closing = text.rfind("<?xpacket end=");
    ASSERT_GT(closing, 1024u);
    EXPECT_EQ(text.substr(closing - 1024, 1024), std::string(1023, ' ') + "\n");
    EXPECT_NE(text[closing - 1025], ' ') << "more than 1023 spaces of padding";

    // Loading a packet drops the old padding, so it does not grow from update to update.
    EXPECT_EQ(Updated(text, [](TVellocXMP&) {}), text);
}

TEST(VellocXMP, PdfDatesBecomeXmpDates)
{
    struct Row
    {
        std::u16string In;
        std::u16string Out;
    };
    const Row rows[] = {
        {u"D:20240315143005+01'00'", u"2024-03-15T14:30:05+01:00"},
        {u"D:20231231235959-05'30'", u"2023-12-31T23:59:59-05:30"},
        {u"D:20240101120000Z", u"2024-01-01T12:00:00Z"},
        {u"D:20240101120000", u"2024-01-01T12:00:00"},
        {u"D:20240101120000+01'00", u"2024-01-01T12:00:00+01:00"},
        // Not a PDF date of the full form: kept as it is.
        {u"2024-01-01T12:00:00Z", u"2024-01-01T12:00:00Z"},
        {u"yesterday", u"yesterday"},
        {u"", u""},
        {u"D:2024", u"D:2024"},
        {u"D:2024010112000X", u"D:2024010112000X"},
        {u"D:20240101120000+1", u"D:20240101120000+1"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(std::string(row.In.begin(), row.In.end()));
        EXPECT_EQ(XMPDateText(row.In), row.Out);
    }

    const TParsedPacket parsed =
        ParsePacket(Updated("", [](TVellocXMP& x) { x.SetModDate(u"D:20240101120000Z"); }));
    const std::vector<std::string> expected = {"2024-01-01T12:00:00Z"};
    EXPECT_EQ(parsed.TextsByPath.at("x:xmpmeta/rdf:RDF/rdf:Description/xmp:ModifyDate"), expected);
}

TEST(VellocXMP, ValuesAreEscapedAndSurviveReloading)
{
    const std::u16string title =
        u"Tom & Jerry <b>\"quoted\"</b> 'Zo\u00EB' \u041F\u0440\u0438 \U0001D11E";
    const std::string titleUtf8 =
        "Tom & Jerry <b>\"quoted\"</b> 'Zo\xC3\xAB' \xD0\x9F\xD1\x80\xD0\xB8 \xF0\x9D\x84\x9E";
    const std::string stored = Updated("", [&](TVellocXMP& x) {
        x.SetTitle(title);
        // Characters XML cannot carry become U+FFFD instead of breaking the packet.
        x.SetAuthor(std::u16string{u'A', u'\x01', char16_t(0xD800), u'B', char16_t(0xFFFF)});
    });
    EXPECT_NE(stored.find("Tom &amp; Jerry &lt;b&gt;"), std::string::npos);
    const std::string text = Updated(stored, [](TVellocXMP& x) { x.SetProducer(u"P"); });

    const TParsedPacket parsed = ParsePacket(text);
    ASSERT_TRUE(parsed.WellFormed) << parsed.Error << "\n" << text;
    const std::vector<std::string> titles = {titleUtf8};
    EXPECT_EQ(parsed.TextsByPath.at("x:xmpmeta/rdf:RDF/rdf:Description/dc:title/rdf:Alt/rdf:li"),
              titles);
    const std::vector<std::string> authors = {"A\xEF\xBF\xBD\xEF\xBF\xBD"
                                              "B\xEF\xBF\xBD"};
    EXPECT_EQ(parsed.TextsByPath.at("x:xmpmeta/rdf:RDF/rdf:Description/dc:creator/rdf:Bag/rdf:li"),
              authors);
}

TEST(VellocXMP, UnusablePacketsAreReplacedByANewOne)
{
    const std::string fresh = FreshPacketText();
    const std::string cases[] = {
        "",
        "not XML at all",
        R"(<x:xmpmeta xmlns:x="adobe:ns:meta/"><rdf:RDF xmlns:rdf="http://www.w3.org/1999/02/22-rdf-syntax-ns#">)",
        R"(<?xpacket begin="?" id="W5M0MpCehiHzreSzNTczkc9d"?><rdf:RDF xmlns:rdf="http://www.w3.org/1999/02/22-rdf-syntax-ns#"/><?xpacket end="w"?>)",
        // The right name in the wrong namespace is not the meta element.
        R"(<x:xmpmeta xmlns:x="urn:other"/>)",
    };
    for (const std::string& stored : cases) {
        SCOPED_TRACE(stored);
        EXPECT_EQ(Updated(stored, [](TVellocXMP&) {}), fresh);
    }
}

TEST(VellocXMP, MissingRdfIsAddedEmpty)
{
    const std::string stored = R"(<x:xmpmeta xmlns:x="adobe:ns:meta/" x:xmptk="other tool"/>)";
    const std::string loaded = Updated(stored, [](TVellocXMP&) {});
    const TParsedPacket empty = ParsePacket(loaded);
    ASSERT_TRUE(empty.WellFormed) << empty.Error;
    EXPECT_EQ(empty.Outline, "x:xmpmeta @x:xmptk=other tool\n rdf:RDF=\n");
    EXPECT_TRUE(loaded.starts_with(OpeningInstruction));
    EXPECT_TRUE(loaded.ends_with(R"(<?xpacket end="w"?>)"));

    const TParsedPacket titled =
        ParsePacket(Updated(stored, [](TVellocXMP& x) { x.SetTitle(u"T"); }));
    EXPECT_EQ(titled.Outline, R"(x:xmpmeta @x:xmptk=other tool
 rdf:RDF
  rdf:Description
   dc:title
    rdf:Alt
     rdf:li @xml:lang=x-default=T
)");
}

TEST(VellocXMP, PacketsWithOtherPrefixesAndAttributeProperties)
{
    // As other writers make them: own prefixes, an XML declaration, properties as attributes.
    const std::string stored = R"(<?xml version="1.0" encoding="UTF-8"?>
<?xpacket begin="" id="W5M0MpCehiHzreSzNTczkc9d"?>
<meta:xmpmeta xmlns:meta="adobe:ns:meta/">
  <r:RDF xmlns:r="http://www.w3.org/1999/02/22-rdf-syntax-ns#">
    <r:Description r:about="" xmlns:purl="http://purl.org/dc/elements/1.1/">
      <purl:title><r:Alt><r:li xml:lang="x-default">Old</r:li></r:Alt></purl:title>
      <purl:subject><r:Bag><r:li>kept</r:li></r:Bag></purl:subject>
    </r:Description>
    <r:Description r:about="" xmlns:pdf="http://ns.adobe.com/pdf/1.3/"
        pdf:Producer="Old producer" pdf:PDFVersion="1.4"/>
  </r:RDF>
</meta:xmpmeta>
<?xpacket end="w"?>)";
    std::string text = Updated(stored, [](TVellocXMP& x) { x.SetTitle(u"New"); });
    text = Updated(text, [](TVellocXMP& x) { x.SetProducer(u"New producer"); });
    text = Updated(text, [](TVellocXMP& x) { x.SetCreator(u"Tool"); });

    EXPECT_TRUE(text.starts_with(R"(<?xpacket begin="" id=)")) << text.substr(0, 80);
    const TParsedPacket parsed = ParsePacket(text);
    ASSERT_TRUE(parsed.WellFormed) << parsed.Error << "\n" << text;
    EXPECT_EQ(parsed.Outline, R"(x:xmpmeta
 rdf:RDF
  rdf:Description @rdf:about=
   dc:subject
    rdf:Bag
     rdf:li=kept
   dc:title
    rdf:Alt
     rdf:li @xml:lang=x-default=New
  rdf:Description @rdf:about= @pdf:PDFVersion=1.4
   pdf:Producer=New producer
  rdf:Description
   xmp:CreatorTool=Tool
)");
}
