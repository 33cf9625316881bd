#ifndef VELLOC_XMP_H
#define VELLOC_XMP_H

#include <memory>
#include <string>
#include <string_view>

namespace pugi {
class xml_document;
} // namespace pugi

namespace velloc {

// The XMP metadata packet of a document: x:xmpmeta with one rdf:Description per schema
// (Dublin Core, XMP basic, Adobe PDF), wrapped in xpacket instructions. One object serves one
// update: load the stored packet, set one property, take the new packet text.
class TVellocXMP
{
  public:
    // Starts with a new packet: dc:format "application/pdf", every other property empty.
    TVellocXMP();
    ~TVellocXMP();
    TVellocXMP(const TVellocXMP&) = delete;
    TVellocXMP& operator=(const TVellocXMP&) = delete;

    // Replaces the tree with the packet in `utf8`. Empty text, text that is not well-formed
    // XML and a packet without x:xmpmeta all give a new packet; a missing rdf:RDF is added
    // empty, and missing xpacket instructions are added.
    void LoadPacket(const std::string& utf8);

    // Each setter replaces its property; a property set again moves to the end of its
    // rdf:Description.
    void SetTitle(const std::u16string& value);        // dc:title
    void SetAuthor(const std::u16string& value);       // dc:creator
    void SetSubject(const std::u16string& value);      // dc:description
    void SetKeywords(const std::u16string& value);     // pdf:Keywords
    void SetCreator(const std::u16string& value);      // xmp:CreatorTool
    void SetProducer(const std::u16string& value);     // pdf:Producer
    void SetCreationDate(const std::u16string& value); // xmp:CreateDate, see XMPDateText
    void SetModDate(const std::u16string& value);      // xmp:ModifyDate, see XMPDateText

    // The packet as indented UTF-8: it starts with the opening xpacket instruction and ends
    // with 1023 spaces, a line feed and the closing xpacket instruction.
    std::string PacketText() const;

  private:
    std::unique_ptr<pugi::xml_document> m_Document;
};

// A PDF date D:YYYYMMDDHHmmSS with offset Z, +HH'mm' or -HH'mm' (or none) in the XMP form
// YYYY-MM-DDTHH:mm:SS with Z, +HH:mm or -HH:mm. Other text comes back unchanged.
std::u16string XMPDateText(std::u16string_view pdfDate);

} // namespace velloc

#endif
