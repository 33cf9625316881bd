#include "engine/VellocXMP.h"

#include "engine/support/VellocUnicode.h"

#include <cstdint>
#include <pugixml.hpp>

namespace velloc {

namespace {

constexpr std::string_view MetaNamespace = "adobe:ns:meta/";
constexpr std::string_view RdfNamespace = "http://www.w3.org/1999/02/22-rdf-syntax-ns#";
constexpr std::string_view DcNamespace = "http://purl.org/dc/elements/1.1/";
constexpr std::string_view XmpNamespace = "http://ns.adobe.com/xap/1.0/";
constexpr std::string_view PdfNamespace = "http://ns.adobe.com/pdf/1.3/";
// The prefix xml is bound by definition and never declared.
constexpr std::string_view XmlNamespace = "http://www.w3.org/XML/1998/namespace";

constexpr const char* PacketBegin = R"(begin="?" id="W5M0MpCehiHzreSzNTczkc9d")";
constexpr const char* PacketEnd = R"(end="w")";
constexpr size_t PaddingSpaces = 1023;

// Whitespace-only text between elements is indentation and is dropped; as the only content
// of an element it is a value and is kept. DTDs are skipped and entities never expanded.
constexpr unsigned int ParseOptions =
    pugi::parse_default | pugi::parse_pi | pugi::parse_comments | pugi::parse_ws_pcdata_single;

enum class TXMPShape : uint8_t {
    Text, // the value as the element's text
    Bag,  // rdf:Bag with one rdf:li
    Alt   // rdf:Alt with one rdf:li xml:lang="x-default"
};

struct TXMPProperty
{
    std::string_view Namespace;
    std::string_view Prefix; // used when the packet has no rdf:Description for the namespace
    std::string_view Name;
    TXMPShape Shape;
};

constexpr TXMPProperty DcFormat{DcNamespace, "dc", "format", TXMPShape::Text};
constexpr TXMPProperty DcCreator{DcNamespace, "dc", "creator", TXMPShape::Bag};
constexpr TXMPProperty DcDescription{DcNamespace, "dc", "description", TXMPShape::Alt};
constexpr TXMPProperty DcTitle{DcNamespace, "dc", "title", TXMPShape::Alt};
constexpr TXMPProperty XmpCreatorTool{XmpNamespace, "xmp", "CreatorTool", TXMPShape::Text};
constexpr TXMPProperty XmpCreateDate{XmpNamespace, "xmp", "CreateDate", TXMPShape::Text};
constexpr TXMPProperty XmpModifyDate{XmpNamespace, "xmp", "ModifyDate", TXMPShape::Text};
constexpr TXMPProperty PdfKeywords{PdfNamespace, "pdf", "Keywords", TXMPShape::Text};
constexpr TXMPProperty PdfProducer{PdfNamespace, "pdf", "Producer", TXMPShape::Text};

std::string_view prefixOf(std::string_view qualifiedName)
{
    const size_t colon = qualifiedName.find(':');
    return colon == std::string_view::npos ? std::string_view() : qualifiedName.substr(0, colon);
}

std::string_view localNameOf(std::string_view qualifiedName)
{
    const size_t colon = qualifiedName.find(':');
    return colon == std::string_view::npos ? qualifiedName : qualifiedName.substr(colon + 1);
}

void appendAttribute(pugi::xml_node element, const std::string& name, std::string_view value)
{
    element.append_attribute(name.c_str()).set_value(value.data(), value.size());
}

void appendRdf(pugi::xml_node meta)
{
    appendAttribute(meta.append_child("rdf:RDF"), "xmlns:rdf", RdfNamespace);
}

std::string qualify(std::string_view prefix, std::string_view localName)
{
    return prefix.empty() ? std::string(localName)
                          : std::string(prefix) + ":" + std::string(localName);
}

// The namespace `prefix` (empty: the default namespace) is bound to at `element`; empty when
// no declaration is in scope. pugixml keeps xmlns attributes as plain attributes.
std::string_view namespaceAt(pugi::xml_node element, std::string_view prefix)
{
    if (prefix == "xml") {
        return XmlNamespace;
    }
    const std::string declaration = prefix.empty() ? "xmlns" : qualify("xmlns", prefix);
    for (; element.type() == pugi::node_element; element = element.parent()) {
        if (const pugi::xml_attribute attribute = element.attribute(declaration.c_str())) {
            return attribute.value();
        }
    }
    return {};
}

bool isElement(pugi::xml_node node, std::string_view ns, std::string_view localName)
{
    if (node.type() != pugi::node_element) {
        return false;
    }
    const std::string_view name = node.name();
    return localNameOf(name) == localName && namespaceAt(node, prefixOf(name)) == ns;
}

pugi::xml_node childElement(pugi::xml_node parent, std::string_view ns, std::string_view localName)
{
    for (const pugi::xml_node child : parent.children()) {
        if (isElement(child, ns, localName)) {
            return child;
        }
    }
    return {};
}

pugi::xml_node rdfElement(const pugi::xml_document& document)
{
    return childElement(childElement(document, MetaNamespace, "xmpmeta"), RdfNamespace, "RDF");
}

bool isPacketInstruction(pugi::xml_node node, std::string_view kind)
{
    return node.type() == pugi::node_pi && std::string_view(node.name()) == "xpacket" &&
           std::string_view(node.value()).starts_with(kind);
}

// XML 1.0 cannot carry C0 controls other than tab, line feed and carriage return, nor U+FFFE
// and U+FFFF, not even as character references.
std::string xmlText(std::u16string_view value)
{
    std::u16string clean(value);
    for (char16_t& unit : clean) {
        if ((unit < 0x20 && unit != u'\t' && unit != u'\n' && unit != u'\r') || unit == 0xFFFE ||
            unit == 0xFFFF) {
            unit = 0xFFFD;
        }
    }
    return Utf16ToUtf8(clean);
}

// Removes the property from every rdf:Description, in element form and in the attribute form
// other writers use (<rdf:Description pdf:Producer="...">), so the packet keeps one value.
void removeProperty(pugi::xml_node rdf, const TXMPProperty& property)
{
    for (pugi::xml_node description : rdf.children()) {
        if (!isElement(description, RdfNamespace, "Description")) {
            continue;
        }
        for (pugi::xml_node child = description.first_child(); child;) {
            const pugi::xml_node next = child.next_sibling();
            if (isElement(child, property.Namespace, property.Name)) {
                description.remove_child(child);
            }
            child = next;
        }
        for (pugi::xml_attribute attribute = description.first_attribute(); attribute;) {
            const pugi::xml_attribute next = attribute.next_attribute();
            const std::string_view name = attribute.name();
            const std::string_view prefix = prefixOf(name);
            if (!prefix.empty() && prefix != "xmlns" && localNameOf(name) == property.Name &&
                namespaceAt(description, prefix) == property.Namespace) {
                description.remove_attribute(attribute);
            }
            attribute = next;
        }
    }
}

// The last rdf:Description that declares the property's namespace, together with the prefix
// it declares; a new one is appended when there is none.
std::pair<pugi::xml_node, std::string> propertyContainer(pugi::xml_node rdf,
                                                         const TXMPProperty& property)
{
    pugi::xml_node container;
    std::string prefix;
    for (pugi::xml_node description : rdf.children()) {
        if (!isElement(description, RdfNamespace, "Description")) {
            continue;
        }
        for (const pugi::xml_attribute attribute : description.attributes()) {
            const std::string_view name = attribute.name();
            if (name.starts_with("xmlns:") && attribute.value() == property.Namespace) {
                container = description;
                prefix = name.substr(6);
                break;
            }
        }
    }
    if (!container) {
        container = rdf.append_child(qualify(prefixOf(rdf.name()), "Description").c_str());
        prefix = property.Prefix;
        appendAttribute(container, qualify("xmlns", prefix), property.Namespace);
    }
    return {container, prefix};
}

void setProperty(pugi::xml_document& document, const TXMPProperty& property,
                 std::u16string_view value)
{
    const pugi::xml_node rdf = rdfElement(document);
    removeProperty(rdf, property);
    auto [container, prefix] = propertyContainer(rdf, property);
    pugi::xml_node holder = container.append_child(qualify(prefix, property.Name).c_str());
    const std::string_view rdfPrefix = prefixOf(rdf.name());
    if (property.Shape == TXMPShape::Bag) {
        holder = holder.append_child(qualify(rdfPrefix, "Bag").c_str())
                     .append_child(qualify(rdfPrefix, "li").c_str());
    } else if (property.Shape == TXMPShape::Alt) {
        holder = holder.append_child(qualify(rdfPrefix, "Alt").c_str())
                     .append_child(qualify(rdfPrefix, "li").c_str());
        holder.append_attribute("xml:lang").set_value("x-default");
    }
    if (!value.empty()) {
        holder.text().set(xmlText(value).c_str());
    }
}

pugi::xml_node appendPacketInstruction(pugi::xml_node parent, const char* data)
{
    pugi::xml_node instruction = parent.append_child(pugi::node_pi);
    instruction.set_name("xpacket");
    instruction.set_value(data);
    return instruction;
}

void buildNewPacket(pugi::xml_document& document)
{
    document.reset();
    appendPacketInstruction(document, PacketBegin);
    pugi::xml_node meta = document.append_child("x:xmpmeta");
    appendAttribute(meta, "xmlns:x", MetaNamespace);
    appendRdf(meta);
    appendPacketInstruction(document, PacketEnd);

    // Appending each property in turn creates the three rdf:Description elements in order.
    setProperty(document, DcFormat, u"application/pdf");
    for (const TXMPProperty* property :
         {&DcCreator, &DcDescription, &DcTitle, &XmpCreatorTool, &XmpCreateDate, &XmpModifyDate,
          &PdfKeywords, &PdfProducer}) {
        setProperty(document, *property, u"");
    }
}

// The packet text must start with the opening instruction and end with the closing one.
void wrapInPacketInstructions(pugi::xml_document& document)
{
    pugi::xml_node begin;
    pugi::xml_node end;
    for (const pugi::xml_node child : document.children()) {
        if (!begin && isPacketInstruction(child, "begin")) {
            begin = child;
        } else if (isPacketInstruction(child, "end")) {
            end = child;
        }
    }
    if (!begin) {
        begin = appendPacketInstruction(document, PacketBegin);
    }
    if (begin != document.first_child()) {
        document.prepend_move(begin);
    }
    if (!end) {
        end = appendPacketInstruction(document, PacketEnd);
    }
    if (end != document.last_child()) {
        document.append_move(end);
    }
}

struct TStringWriter : pugi::xml_writer
{
    std::string Text;

    void write(const void* data, size_t size) override
    {
        Text.append(static_cast<const char*>(data), size);
    }
};

bool isDigit(char16_t c)
{
    return c >= u'0' && c <= u'9';
}

bool allDigits(std::u16string_view text)
{
    for (const char16_t c : text) {
        if (!isDigit(c)) {
            return false;
        }
    }
    return true;
}

} // namespace

std::u16string XMPDateText(std::u16string_view pdfDate)
{
    constexpr size_t ZoneStart = 16; // after D:YYYYMMDDHHmmSS
    if (!pdfDate.starts_with(u"D:") || pdfDate.size() < ZoneStart ||
        !allDigits(pdfDate.substr(2, 14))) {
        return std::u16string(pdfDate);
    }
    // A zone of +HH'mm' becomes +HH:mm; Z and a missing zone stay as they are.
    const std::u16string_view zone = pdfDate.substr(ZoneStart);
    const bool plainZone = zone.empty() || zone == u"Z";
    const bool offsetZone = (zone.size() == 6 || (zone.size() == 7 && zone[6] == u'\'')) &&
                            (zone[0] == u'+' || zone[0] == u'-') && allDigits(zone.substr(1, 2)) &&
                            zone[3] == u'\'' && allDigits(zone.substr(4, 2));
    if (!plainZone && !offsetZone) {
        return std::u16string(pdfDate);
    }
    const std::u16string_view d = pdfDate.substr(2);
    std::u16string out;
    out.reserve(32);
    out.append(d.substr(0, 4)).append(u"-").append(d.substr(4, 2)).append(u"-");
    out.append(d.substr(6, 2)).append(u"T").append(d.substr(8, 2)).append(u":");
    out.append(d.substr(10, 2)).append(u":").append(d.substr(12, 2));
    if (plainZone) {
        out.append(zone);
    } else {
        out.append(zone.substr(0, 3)).append(u":").append(zone.substr(4, 2));
    }
    return out;
}

TVellocXMP::TVellocXMP() : m_Document(std::make_unique<pugi::xml_document>())
{
    buildNewPacket(*m_Document);
}

TVellocXMP::~TVellocXMP() = default;

void TVellocXMP::LoadPacket(const std::string& utf8)
{
    if (utf8.empty()) {
        buildNewPacket(*m_Document);
        return;
    }
    // Going through UTF-16 turns ill-formed UTF-8 into U+FFFD before the parser sees it.
    const std::u16string wide = Utf8ToUtf16(utf8);
    const pugi::xml_parse_result parsed = m_Document->load_buffer(
        wide.data(), wide.size() * sizeof(char16_t), ParseOptions, pugi::encoding_utf16);
    // The packet is rebuilt from nothing when it cannot be read: the document only ever stores
    // packets made here, so a broken one is damage, and keeping it would spread the damage.
    pugi::xml_node meta = childElement(*m_Document, MetaNamespace, "xmpmeta");
    if (!parsed || !meta) {
        buildNewPacket(*m_Document);
        return;
    }
    if (!childElement(meta, RdfNamespace, "RDF")) {
        appendRdf(meta);
    }
    wrapInPacketInstructions(*m_Document);
}

void TVellocXMP::SetTitle(const std::u16string& value)
{
    setProperty(*m_Document, DcTitle, value);
}

void TVellocXMP::SetAuthor(const std::u16string& value)
{
    setProperty(*m_Document, DcCreator, value);
}

void TVellocXMP::SetSubject(const std::u16string& value)
{
    setProperty(*m_Document, DcDescription, value);
}

void TVellocXMP::SetKeywords(const std::u16string& value)
{
    setProperty(*m_Document, PdfKeywords, value);
}

void TVellocXMP::SetCreator(const std::u16string& value)
{
    setProperty(*m_Document, XmpCreatorTool, value);
}

void TVellocXMP::SetProducer(const std::u16string& value)
{
    setProperty(*m_Document, PdfProducer, value);
}

void TVellocXMP::SetCreationDate(const std::u16string& value)
{
    setProperty(*m_Document, XmpCreateDate, XMPDateText(value));
}

void TVellocXMP::SetModDate(const std::u16string& value)
{
    setProperty(*m_Document, XmpModifyDate, XMPDateText(value));
}

std::string TVellocXMP::PacketText() const
{
    TStringWriter writer;
    m_Document->save(writer, "  ", pugi::format_indent | pugi::format_no_declaration,
                     pugi::encoding_utf8);
    std::string text = std::move(writer.Text);
    // pugixml ends every node with a line feed; the packet ends with the closing instruction.
    while (!text.empty() && text.back() == '\n') {
        text.pop_back();
    }
    const size_t end = text.rfind("<?xpacket end=");
    if (end != std::string::npos) {
        text.insert(end, std::string(PaddingSpaces, ' ') + '\n');
    }
    return text;
}

} // namespace velloc
