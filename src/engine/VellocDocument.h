#ifndef VELLOC_DOCUMENT_H
#define VELLOC_DOCUMENT_H

#include "engine/VellocStructure.h"

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace velloc {

class TPDFDocument;
class TPDFImage;
class TPDFPageTree;
class TVellocStream;

// One indirect object of a document: its number, generation and the object, which the
// document's structure owns.
class TPDFIndObj
{
  public:
    TPDFIndObj(TPDFDocument& document, int32_t objectNumber, int32_t generation, TPDFObject* object)
        : m_Document(&document), m_ObjectNumber(objectNumber), m_Generation(generation),
          m_Object(object)
    {
    }

    TPDFDocument& Document() const { return *m_Document; }
    int32_t ObjectNumber() const { return m_ObjectNumber; }
    int32_t Generation() const { return m_Generation; }
    TPDFObject* Object() const { return m_Object; }
    // Objects made in memory are always loaded and need no further decoding; the source
    // position and length only describe objects of a file the document was read from.
    bool Loaded() const { return m_Loaded; }
    bool Processed() const { return m_Processed; }
    int32_t SourcePosition() const { return m_SourcePosition; }
    int32_t SourceLength() const { return m_SourceLength; }

  private:
    TPDFDocument* m_Document;
    int32_t m_ObjectNumber;
    int32_t m_Generation;
    bool m_Loaded = true;
    TPDFObject* m_Object;
    int32_t m_SourcePosition = 0;
    int32_t m_SourceLength = 0;
    bool m_Processed = true;
};

// One line of the cross-reference table, filled by the writer.
struct TPDFXrefEntry
{
    int32_t Number = 0;
    int32_t Generation = 0;
    // 64 bits, so that a file above 2 GiB still gets true offsets (the table has ten digits).
    int64_t Offset = 0;
    bool InUse = false;
    // Only for objects held inside object streams of a file that was read.
    int32_t StreamNumber = 0;
    int32_t StreamIndex = 0;
};

// One PDF document in memory. It owns its object structure (and through it every PDF object),
// numbers the indirect objects, keeps the trailer, the page tree and the imported images.
class TPDFDocument
{
  public:
    // An empty document: no objects, no version text, a page tree without a root.
    TPDFDocument();
    ~TPDFDocument();
    TPDFDocument(const TPDFDocument&) = delete;
    TPDFDocument& operator=(const TPDFDocument&) = delete;

    // Frees every object, record, image and the page tree, and starts over empty.
    void Reset();
    // Builds a one-page document: page tree root (1), letter-size first page (2), catalog (3),
    // information dictionary (4), the first page's content stream (5) and the file identifier.
    bool SetUpNewDocument();

    // Makes obj an indirect object numbered one above the highest number so far.
    TPDFIndObj& RegisterIndirect(TPDFObject* obj);
    // Registers obj and answers a new reference to it.
    TPDFIndRef* ReferenceTo(TPDFObject* obj);
    // The record with that number, or nullptr.
    TPDFIndObj* FindIndirect(int32_t objectNumber) const;

    // The trailer's /Root and /Info, each made and registered when it is missing.
    TPDFDictionary* GetCatalog();
    TPDFDictionary* GetInfo();

    const std::string& Version() const { return m_Version; }
    void SetVersion(std::string version) { m_Version = std::move(version); }

    // Stores the value as a PDF text string under the information entry `name` and, for the
    // eight standard entries, the matching property of the XMP packet.
    void SetInfoEntry(std::string_view name, const std::u16string& value);
    // The entry decoded as a PDF text string; empty when absent.
    std::u16string GetInfoEntry(std::string_view name);
    // Replaces the catalog's /PageMode (it always ends up last); false for a mode outside 0..5.
    bool SetPageMode(int32_t mode);
    // The packet of the catalog's /Metadata stream, or empty.
    std::string GetMetadata();
    // Stores the packet uncompressed in the catalog's /Metadata stream, made when missing.
    void SetMetadata(const std::string& packet);

    int32_t PageCount();
    int32_t ImageCount() const { return static_cast<int32_t>(m_Images.size()); }
    // nullptr outside 0..ImageCount-1.
    TPDFImage* ImageAt(int32_t index) const;
    // Appends an image to the document's list; the document frees it.
    TPDFImage& AdoptImage(std::unique_ptr<TPDFImage> image);
    // Makes a new image named "VellocIm" and a unique tag, loads it from the stream (read from
    // its start) with the load option and appends it to the image list. nullptr when the load
    // built nothing; reason, when given, then receives why.
    TPDFImage* AddImageFromStream(TVellocStream& stream, int32_t option, int32_t compressSamples,
                                  std::string* reason = nullptr);

    // Writes the file. The target is replaced only when the whole file was written and flushed;
    // on failure it is left as it was and LastSaveError tells why.
    bool SaveToFile(const std::u16string& fileName);
    const std::string& LastSaveError() const { return m_LastSaveError; }

    TPDFStructure& Structure() { return *m_Structure; }
    TPDFDictionary& Trailer() { return *m_Trailer; }
    TPDFPageTree& PageTree() { return *m_PageTree; }
    // Every record in registration order, which is the order objects are written in.
    const std::vector<std::unique_ptr<TPDFIndObj>>& IndirectObjects() const
    {
        return m_IndirectObjects;
    }
    int32_t HighestObjectNumber() const { return m_HighestObjectNumber; }
    const std::vector<TPDFXrefEntry>& XrefEntries() const { return m_XrefEntries; }
    std::vector<TPDFXrefEntry>& XrefEntries() { return m_XrefEntries; }

    // Caller units per point, used by the facade.
    double UnitsFactor() const { return m_UnitsFactor; }
    void SetUnitsFactor(double factor) { m_UnitsFactor = factor; }
    int32_t OriginCorner() const { return m_OriginCorner; }
    void SetOriginCorner(int32_t corner) { m_OriginCorner = corner; }
    // Compress-samples setting handed to the image import.
    int32_t ImageCompression() const { return m_ImageCompression; }
    void SetImageCompression(int32_t setting) { m_ImageCompression = setting; }

  private:
    void connectHooks();
    void indexRecord(int32_t objectNumber, int32_t position);
    TPDFDictionary* trailerDictionary(std::string_view key);

    std::vector<TPDFXrefEntry> m_XrefEntries;
    std::string m_Version;
    std::unique_ptr<TPDFStructure> m_Structure;
    std::vector<std::unique_ptr<TPDFIndObj>> m_IndirectObjects;
    // Object numbers in ascending order, each with the position of its record in
    // m_IndirectObjects; numbers arrive in ascending order, so it is kept sorted by appending.
    std::vector<int32_t> m_IndexNumbers;
    std::vector<int32_t> m_IndexPositions;
    int32_t m_HighestObjectNumber = 0;
    TPDFDictionary* m_Trailer = nullptr;
    std::unique_ptr<TPDFPageTree> m_PageTree;
    std::vector<std::unique_ptr<TPDFImage>> m_Images;
    double m_UnitsFactor = 1.0;
    int32_t m_OriginCorner = 0;
    int32_t m_ImageCompression = 0;
    std::string m_LastSaveError;
};

// Writes the whole document into the stream: header, every indirect object in registration
// order, cross-reference table, trailer. The page tree's current page is selected again at the
// end. False when anything failed, a write that took fewer bytes than given included; `reason`
// then receives a short explanation.
bool WriteDocument(TPDFDocument& document, TVellocStream& stream, std::string* reason = nullptr);

// For tests only: every byte sink of the writer accepts at most `bytes` bytes in total, as a
// full disk would; a negative value lifts the limit.
void SetWriteLimitForTesting(int64_t bytes);

} // namespace velloc

#endif
