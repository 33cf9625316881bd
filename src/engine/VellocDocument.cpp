#include "engine/VellocDocument.h"

#include "engine/VellocImage.h"
#include "engine/VellocPageTree.h"
#include "engine/VellocXMP.h"
#include "engine/support/VellocDate.h"
#include "engine/support/VellocMD5.h"
#include "engine/support/VellocText.h"

#include <algorithm>
#include <array>
#include <utility>

namespace velloc {

namespace {

// /PageMode names by mode number.
constexpr std::array<std::string_view, 6> PageModeNames = {
    "UseNone", "UseOutlines", "UseThumbs", "FullScreen", "UseOC", "UseAttachments"};

// The information entries that have a counterpart in the XMP packet.
struct TXMPSetter
{
    std::string_view EntryName;
    void (TVellocXMP::*Set)(const std::u16string&);
};

constexpr std::array<TXMPSetter, 8> XMPSetters = {{
    {"Title", &TVellocXMP::SetTitle},
    {"Author", &TVellocXMP::SetAuthor},
    {"Subject", &TVellocXMP::SetSubject},
    {"Keywords", &TVellocXMP::SetKeywords},
    {"Creator", &TVellocXMP::SetCreator},
    {"Producer", &TVellocXMP::SetProducer},
    {"CreationDate", &TVellocXMP::SetCreationDate},
    {"ModDate", &TVellocXMP::SetModDate},
}};

bool IsName(const TPDFObject* obj, std::string_view value)
{
    const auto* name = ObjectAs<TPDFName>(obj);
    return name != nullptr && name->Value() == value;
}

// Puts the name under key unless the entry already holds a name of that value, so that
// repeated updates do not leave a new name object behind each time.
void PutName(TPDFDictionary& dictionary, std::string_view key, std::string_view value)
{
    if (!IsName(dictionary.Get(key), value)) {
        dictionary.Put(key, dictionary.Owner().NewName(std::string(value)));
    }
}

} // namespace

TPDFDocument::TPDFDocument() : m_Structure(std::make_unique<TPDFStructure>())
{
    connectHooks();
    Reset();
}

TPDFDocument::~TPDFDocument()
{
    // Pages and images point into the structure, so they go first.
    m_PageTree.reset();
    m_Images.clear();
}

void TPDFDocument::connectHooks()
{
    // The generation is not compared: every object of this document has generation 0.
    m_Structure->OnResolveReference = [this](TPDFIndRef*, int32_t objectNumber,
                                             int32_t) -> TPDFObject* {
        const TPDFIndObj* record = FindIndirect(objectNumber);
        return record != nullptr ? record->Object() : nullptr;
    };
    m_Structure->OnRegisterIndirect = [this](TPDFObject*, TPDFObject* obj) {
        const TPDFIndObj& record = RegisterIndirect(obj);
        return TPDFIndirectIdentity{record.ObjectNumber(), record.Generation()};
    };
}

void TPDFDocument::Reset()
{
    m_PageTree.reset();
    m_Images.clear();
    m_IndirectObjects.clear();
    m_IndexNumbers.clear();
    m_IndexPositions.clear();
    m_HighestObjectNumber = 0;
    m_XrefEntries.clear();
    m_Structure->Clear();
    m_Trailer = m_Structure->NewDictionary();
    m_PageTree = std::make_unique<TPDFPageTree>(nullptr);
}

bool TPDFDocument::SetUpNewDocument()
{
    Reset();
    m_Version = "1.4";
    TPDFStructure& s = *m_Structure;

    TPDFDictionary* info = s.NewDictionary();
    TPDFDictionary* catalog = s.NewDictionary();
    TPDFDictionary* root = s.NewDictionary();
    TPDFDictionary* page = s.NewDictionary();
    TPDFDictionary* resources = s.NewDictionary();

    TPDFIndRef* rootReference = ReferenceTo(root);

    constexpr std::array<int32_t, 4> LetterBox = {0, 0, 612, 792};
    page->Put("Type", s.KeyName("Page"));
    page->Put("Parent", rootReference);
    page->Put("MediaBox", s.NewIntegerArray(LetterBox));
    page->Put("CropBox", s.NewIntegerArray(LetterBox));
    page->Put("Resources", resources);

    const std::array<TPDFObject*, 5> procSet = {s.KeyName("PDF"), s.KeyName("Text"),
                                                s.KeyName("ImageB"), s.KeyName("ImageC"),
                                                s.KeyName("ImageI")};
    resources->Put("ProcSet", s.NewArrayOf(procSet));

    root->Put("Type", s.KeyName("Pages"));
    root->Put("Count", s.NewNumber(1));
    const std::array<TPDFObject*, 1> kids = {ReferenceTo(page)};
    root->Put("Kids", s.NewArrayOf(kids));

    catalog->Put("Type", s.NewName("Catalog"));
    catalog->Put("Pages", rootReference);

    // The identifier only has to differ between documents made at different times.
    const TMD5Digest digest = MD5Digest(CurrentDaysText());
    TPDFString* identifier =
        s.NewString(std::string(digest.begin(), digest.end()), TPDFString::HexadecimalForm);
    const std::array<TPDFObject*, 2> identifierPair = {identifier, identifier};
    TPDFArray* identifierArray = s.NewArrayOf(identifierPair);

    m_Trailer->Put("Root", ReferenceTo(catalog));
    m_Trailer->Put("Info", ReferenceTo(info));
    m_Trailer->Put("ID", identifierArray);

    // Selecting page 1 gives the first page its content stream, object 5.
    m_PageTree = std::make_unique<TPDFPageTree>(root);
    return true;
}

TPDFIndObj& TPDFDocument::RegisterIndirect(TPDFObject* obj)
{
    TPDFNumeric* size = ObjectAs<TPDFNumeric>(m_Trailer->Get("Size"));
    if (size == nullptr) {
        size = m_Structure->NewNumber(1);
        m_Trailer->Put("Size", size);
    }
    const int32_t objectNumber = m_HighestObjectNumber + 1;
    const auto position = static_cast<int32_t>(m_IndirectObjects.size());
    m_IndirectObjects.push_back(std::make_unique<TPDFIndObj>(*this, objectNumber, 0, obj));
    obj->SetIndirectIdentity(objectNumber, 0);
    indexRecord(objectNumber, position);
    m_HighestObjectNumber = objectNumber;
    size->SetValue(objectNumber + 1);
    return *m_IndirectObjects.back();
}

void TPDFDocument::indexRecord(int32_t objectNumber, int32_t position)
{
    if (m_IndexNumbers.empty() || m_IndexNumbers.back() <= objectNumber) {
        m_IndexNumbers.push_back(objectNumber);
        m_IndexPositions.push_back(position);
        return;
    }
    // Records that do not arrive in number order take their sorted place.
    const auto at = std::upper_bound(m_IndexNumbers.begin(), m_IndexNumbers.end(), objectNumber);
    const auto offset = at - m_IndexNumbers.begin();
    m_IndexNumbers.insert(at, objectNumber);
    m_IndexPositions.insert(m_IndexPositions.begin() + offset, position);
}

TPDFIndRef* TPDFDocument::ReferenceTo(TPDFObject* obj)
{
    const TPDFIndObj& record = RegisterIndirect(obj);
    return m_Structure->NewReference(record.ObjectNumber(), record.Generation());
}

TPDFIndObj* TPDFDocument::FindIndirect(int32_t objectNumber) const
{
    const auto at = std::lower_bound(m_IndexNumbers.begin(), m_IndexNumbers.end(), objectNumber);
    if (at == m_IndexNumbers.end() || *at != objectNumber) {
        return nullptr;
    }
    return m_IndirectObjects[m_IndexPositions[at - m_IndexNumbers.begin()]].get();
}

TPDFDictionary* TPDFDocument::trailerDictionary(std::string_view key)
{
    if (auto* dictionary = ObjectAs<TPDFDictionary>(m_Trailer->Get(key, true))) {
        return dictionary;
    }
    TPDFDictionary* dictionary = m_Structure->NewDictionary();
    m_Trailer->Put(key, ReferenceTo(dictionary));
    return dictionary;
}

TPDFDictionary* TPDFDocument::GetCatalog()
{
    return trailerDictionary("Root");
}

TPDFDictionary* TPDFDocument::GetInfo()
{
    return trailerDictionary("Info");
}

void TPDFDocument::SetInfoEntry(std::string_view name, const std::u16string& value)
{
    std::string bytes = EncodeTextString(value);
    TPDFDictionary* info = GetInfo();
    TPDFObject* existing = info->Get(name, true);
    if (auto* text = ObjectAs<TPDFString>(existing)) {
        text->SetValue(std::move(bytes));
    } else {
        if (auto* stream = ObjectAs<TPDFStream>(existing)) {
            stream->SetRawData({});
        }
        info->Put(name, m_Structure->NewString(std::move(bytes), TPDFString::LiteralForm));
    }

    const auto setter = std::find_if(XMPSetters.begin(), XMPSetters.end(),
                                     [name](const TXMPSetter& s) { return s.EntryName == name; });
    if (setter == XMPSetters.end()) {
        return;
    }
    TVellocXMP xmp;
    xmp.LoadPacket(GetMetadata());
    (xmp.*(setter->Set))(value);
    SetMetadata(xmp.PacketText());
}

std::u16string TPDFDocument::GetInfoEntry(std::string_view name)
{
    const TPDFObject* entry = GetInfo()->Get(name, true);
    if (const auto* text = ObjectAs<TPDFString>(entry)) {
        return DecodeTextString(text->Value());
    }
    if (const auto* stream = ObjectAs<TPDFStream>(entry)) {
        return DecodeTextString(stream->DecodedData());
    }
    return {};
}

bool TPDFDocument::SetPageMode(int32_t mode)
{
    if (mode < 0 || mode >= static_cast<int32_t>(PageModeNames.size())) {
        return false;
    }
    TPDFDictionary* catalog = GetCatalog();
    catalog->Remove("PageMode");
    catalog->Put("PageMode", m_Structure->NewName(std::string(PageModeNames[mode])));
    return true;
}

std::string TPDFDocument::GetMetadata()
{
    const auto* stream = ObjectAs<TPDFStream>(GetCatalog()->Get("Metadata", true));
    if (stream == nullptr) {
        return {};
    }
    const TPDFDictionary& dictionary = *stream->Dictionary();
    const bool isXml = IsName(dictionary.Get("Subtype", true), "XML") ||
                       IsName(dictionary.Get("SubType", true), "XML");
    if (dictionary.TypeName() != "Metadata" || !isXml) {
        return {};
    }
    return stream->DecodedData();
}

void TPDFDocument::SetMetadata(const std::string& packet)
{
    TPDFDictionary* catalog = GetCatalog();
    auto* stream = ObjectAs<TPDFStream>(catalog->Get("Metadata", true));
    if (stream == nullptr) {
        stream = m_Structure->NewStream({}, false);
        catalog->Put("Metadata", ReferenceTo(stream));
    }
    PutName(*stream->Dictionary(), "Type", "Metadata");
    PutName(*stream->Dictionary(), "Subtype", "XML");
    // Readers look for the packet in plain text, so the metadata stream is never compressed.
    stream->SetData(packet, false);
}

int32_t TPDFDocument::PageCount()
{
    return m_PageTree->PageCount();
}

TPDFImage* TPDFDocument::ImageAt(int32_t index) const
{
    if (index < 0 || index >= ImageCount()) {
        return nullptr;
    }
    return m_Images[static_cast<size_t>(index)].get();
}

TPDFImage& TPDFDocument::AdoptImage(std::unique_ptr<TPDFImage> image)
{
    m_Images.push_back(std::move(image));
    return *m_Images.back();
}

} // namespace velloc
