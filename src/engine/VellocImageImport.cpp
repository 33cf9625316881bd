// Loading image files into a document: format detection and the PNG image XObjects.
#include "engine/VellocImage.h"

#include "engine/VellocDocument.h"
#include "engine/VellocPNG.h"
#include "engine/VellocStructure.h"
#include "engine/support/VellocStream.h"
#include "engine/support/VellocUniqueTag.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <string_view>
#include <vector>

namespace velloc {

namespace {

// The longest signature test reads this many bytes (the EMF header).
constexpr int64_t LongestSignature = 100;

// Up to `count` bytes from the start of the stream, fewer when the stream is shorter.
std::string ReadHead(TVellocStream& stream, int64_t count)
{
    std::string head(static_cast<size_t>(count), '\0');
    int64_t got = 0;
    if (stream.Seek(0, TSeekOrigin::Start) == 0) {
        while (got < count) {
            const int64_t n = stream.Read(head.data() + got, count - got);
            if (n <= 0) {
                break;
            }
            got += n;
        }
    }
    head.resize(static_cast<size_t>(got));
    return head;
}

uint16_t LittleEndian16(std::string_view bytes, size_t offset)
{
    return static_cast<uint16_t>(static_cast<unsigned char>(bytes[offset]) |
                                 (static_cast<unsigned char>(bytes[offset + 1]) << 8));
}

uint32_t LittleEndian32(std::string_view bytes, size_t offset)
{
    return uint32_t{LittleEndian16(bytes, offset)} |
           (uint32_t{LittleEndian16(bytes, offset + 2)} << 16);
}

// A placeable metafile header: the key, then a checksum word that is the exclusive-or of the
// ten words before it.
bool IsPlaceableWMF(std::string_view head)
{
    if (head.size() < 22 || LittleEndian32(head, 0) != 0x9AC6CDD7) {
        return false;
    }
    uint16_t checksum = 0;
    for (size_t offset = 0; offset < 20; offset += 2) {
        checksum ^= LittleEndian16(head, offset);
    }
    return LittleEndian16(head, 20) == checksum;
}

// An enhanced metafile starts with record type 1 (EMR_HEADER), whose signature " EMF" lies at
// offset 40.
bool IsEMF(std::string_view head)
{
    return head.size() >= 100 && LittleEndian32(head, 0) == 1 && head.substr(40, 4) == " EMF";
}

// A bitmap file header has two reserved words at offsets 6 and 8 that are always zero.
bool IsBMP(std::string_view head)
{
    return head.size() >= 14 && head.starts_with("BM") && LittleEndian16(head, 6) == 0 &&
           LittleEndian16(head, 8) == 0;
}

bool IsPNGLoadOption(int32_t option)
{
    return option <= MaxPNGLoadOption;
}

// Options 1 and 4 make the alpha channel itself the image.
bool IsMaskOnly(int32_t option)
{
    return option == 1 || option == 4;
}

bool BuildsMask(int32_t option)
{
    return option == 1 || option == 2 || option == 4 || option == 5 || option == 6;
}

bool BuildsColorImage(int32_t option)
{
    return option == 0 || option == 2 || option == 3 || option == 5 || option == 6;
}

// Sets the reader's reduction switches for the option (already made non-negative).
void ConfigureReader(TPNGReader& reader, int32_t option)
{
    reader.SetReduceColor16(option == 3 || option == 5);
    reader.SetReduceAlpha16(option == 2 || option == 4 || option == 5);
}

// Why a stream of this format cannot be loaded with this option; empty when the PNG reader
// may go ahead.
std::string DispatchFailure(TImageFormat format, int32_t option)
{
    switch (format) {
    case TImageFormat::PNG:
        return IsPNGLoadOption(option)
                   ? std::string()
                   : "load option " + std::to_string(option) + " is not valid for a PNG image";
    case TImageFormat::PlaceableWMF:
        return "WMF images are not supported yet";
    case TImageFormat::EMF:
        return "EMF images are not supported yet";
    case TImageFormat::BMP:
        return "BMP images are not supported yet";
    case TImageFormat::JPEG:
        return "JPEG images are not supported yet";
    case TImageFormat::TIFF:
        return "TIFF images are not supported yet";
    case TImageFormat::GIF:
        return "GIF images are not supported yet";
    case TImageFormat::Unknown:
        break;
    }
    return "not a PNG file";
}

constexpr std::string_view NoAlphaReason = "the image has no alpha channel to load on its own";

// Detects the format and, for a PNG with a valid option, leaves the stream at its start with a
// reader configured for the option. Answers the failure reason, empty when the reader may run.
std::string PrepareRead(TVellocStream& stream, int32_t& option, TPNGReader& reader)
{
    option = std::max(option, 0);
    std::string reason = DispatchFailure(DetectImageFormat(stream), option);
    if (reason.empty()) {
        ConfigureReader(reader, option);
    }
    return reason;
}

// Releases the objects of a build that did not finish, and with them the image data they hold.
// Objects already made indirect stay (the document holds them by number), and so do the key
// names the structure keeps for good.
class TUnfinishedObjects
{
  public:
    explicit TUnfinishedObjects(TPDFStructure& structure) : m_Structure(structure) {}
    ~TUnfinishedObjects()
    {
        for (TPDFObject* obj : m_Objects) {
            releaseTree(obj);
        }
    }
    TUnfinishedObjects(const TUnfinishedObjects&) = delete;
    TUnfinishedObjects& operator=(const TUnfinishedObjects&) = delete;

    // Made room for first, so that keeping an object never fails after it was built.
    void Reserve(size_t count) { m_Objects.reserve(count); }
    void Keep(TPDFObject* obj) { m_Objects.push_back(obj); }

  private:
    void releaseTree(TPDFObject* obj) noexcept
    {
        if (obj == nullptr || obj->IsIndirect()) {
            return;
        }
        try {
            std::vector<TPDFObject*> parts;
            if (auto* stream = obj->As<TPDFStream>()) {
                parts.push_back(stream->Dictionary());
            } else if (auto* dictionary = obj->As<TPDFDictionary>()) {
                for (const TPDFDictionaryEntry& entry : dictionary->Entries()) {
                    parts.push_back(entry.Value);
                }
            } else if (auto* array = obj->As<TPDFArray>()) {
                parts = array->Items();
            }
            // The object goes first, so that nothing holds its parts any more.
            if (m_Structure.ReleaseObject(obj)) {
                for (TPDFObject* part : parts) {
                    releaseTree(part);
                }
            }
        } catch (...) {
            // Only memory for bookkeeping can fail here; what stays is unreferenced.
        }
    }

    TPDFStructure& m_Structure;
    std::vector<TPDFObject*> m_Objects;
};

// An image XObject stream with its entries in the order Length, Type, Subtype, Width, Height,
// ColorSpace, BitsPerComponent, Filter. The data is deflated already.
TPDFStream* NewImageStream(TPDFStructure& structure, const TPNGReader& reader,
                           std::string_view colorSpace, uint32_t bits, std::string data)
{
    TPDFStream* stream = structure.NewStream({}, false);
    TPDFDictionary& dictionary = *stream->Dictionary();
    dictionary.Put("Type", structure.NewName("XObject"));
    dictionary.Put("Subtype", structure.NewName("Image"));
    dictionary.Put("Width", structure.NewNumber(reader.Width()));
    dictionary.Put("Height", structure.NewNumber(reader.Height()));
    dictionary.Put("ColorSpace", structure.Parse(colorSpace));
    dictionary.Put("BitsPerComponent", structure.NewNumber(bits));
    dictionary.Put("Filter", structure.NewName("FlateDecode"));
    stream->SetRawData(std::move(data));
    return stream;
}

std::string ColorSpaceText(const TPNGReader& reader)
{
    switch (reader.ColorType()) {
    case 0:
    case 4:
        return "/DeviceGray";
    case 3:
        return "[ /Indexed " + reader.PaletteColorSpace() + " ]";
    default:
        return "/DeviceRGB";
    }
}

// The PNG predictors of IDAT data handed on untouched.
std::string DecodeParmsText(const TPNGReader& reader)
{
    std::string text = "<< /Predictor 15 ";
    if (reader.ColorType() == 0) {
        text += "/Colors 1 ";
    } else if (reader.ColorType() == 2) {
        text += "/Colors 3 ";
    }
    text += "/BitsPerComponent " + std::to_string(reader.ColorBits()) + " /Columns " +
            std::to_string(reader.Width()) + " >>";
    return text;
}

} // namespace

TImageFormat DetectImageFormat(TVellocStream& stream)
{
    const std::string head = ReadHead(stream, LongestSignature);
    stream.Seek(0, TSeekOrigin::Start);
    const std::string_view bytes = head;
    if (IsPlaceableWMF(bytes)) {
        return TImageFormat::PlaceableWMF;
    }
    if (IsEMF(bytes)) {
        return TImageFormat::EMF;
    }
    if (IsBMP(bytes)) {
        return TImageFormat::BMP;
    }
    if (bytes.starts_with("\xFF\xD8")) {
        return TImageFormat::JPEG;
    }
    if (bytes.starts_with("MM") || bytes.starts_with("II")) {
        return TImageFormat::TIFF;
    }
    if (bytes.starts_with("\x89PNG\r\n\x1A\n")) {
        return TImageFormat::PNG;
    }
    if (bytes.starts_with("GIF87a") || bytes.starts_with("GIF89a")) {
        return TImageFormat::GIF;
    }
    return TImageFormat::Unknown;
}

bool CheckImageStream(TVellocStream& stream, int32_t option, std::string& reason)
{
    TPNGReader reader;
    reason = PrepareRead(stream, option, reader);
    if (!reason.empty()) {
        return false;
    }
    if (!reader.CheckChunks(stream)) {
        reason = reader.FailureReason();
        return false;
    }
    // Colour types 4 and 6 are the ones that carry alpha samples.
    if (IsMaskOnly(option) && reader.ColorType() != 4 && reader.ColorType() != 6) {
        reason = NoAlphaReason;
        return false;
    }
    return true;
}

bool TPDFImage::LoadFromStream(TVellocStream& stream, int32_t option)
{
    m_FailureReason.clear();
    if (!m_Owner->OnRegisterIndirect) {
        m_FailureReason = "no document to register the image in";
        return false;
    }
    TPNGReader reader;
    m_FailureReason = PrepareRead(stream, option, reader);
    if (!m_FailureReason.empty()) {
        return false;
    }
    reader.ReadChunks(stream);
    if (reader.Width() == 0 || reader.Height() == 0 || reader.ColorData().empty()) {
        m_FailureReason = reader.FailureReason().empty() ? "no image data" : reader.FailureReason();
        return false;
    }
    if (IsMaskOnly(option) && reader.AlphaData().empty()) {
        m_FailureReason = NoAlphaReason;
        return false;
    }
    BuildPNGXObject(reader, option);
    return true;
}

void TPDFImage::BuildPNGXObject(TPNGReader& reader, int32_t option)
{
    option = std::max(option, 0);
    m_SourceKind = ImageSourcePNG;
    // The reader refuses sizes above 2^31 - 1.
    SetSize(static_cast<int32_t>(reader.Width()), static_cast<int32_t>(reader.Height()));
    SetResolution(reader.ResolutionX(), reader.ResolutionY(), 2);
    // 16 bits per component need PDF 1.5.
    m_NeedsPDF15 = ((option == 0 || option == 2 || option == 6) && reader.ColorBits() == 16) ||
                   ((option == 1 || option == 6) && reader.AlphaBits() == 16);

    // Both streams are built before either is registered, so a failure while building leaves
    // nothing registered.
    TPDFStructure& structure = *m_Owner;
    TUnfinishedObjects unfinished(structure);
    unfinished.Reserve(2);
    TPDFStream* mask = nullptr;
    if (BuildsMask(option) && !reader.AlphaData().empty()) {
        mask = NewImageStream(structure, reader, "/DeviceGray", reader.AlphaBits(),
                              reader.TakeAlphaData());
        unfinished.Keep(mask);
    }
    TPDFStream* color = nullptr;
    if (BuildsColorImage(option)) {
        const bool passedThrough = reader.PassThrough();
        color = NewImageStream(structure, reader, ColorSpaceText(reader), reader.ColorBits(),
                               reader.TakeColorData());
        unfinished.Keep(color);
        if (passedThrough) {
            color->Dictionary()->Put("DecodeParms", structure.Parse(DecodeParmsText(reader)));
        }
    }

    // The mask is registered first, so it always has the lower object number.
    if (mask != nullptr) {
        const TPDFIndirectIdentity identity = structure.RegisterIndirect(nullptr, mask);
        TPDFIndRef* reference = structure.NewReference(identity.ObjectNumber, identity.Generation);
        if (color != nullptr) {
            color->Dictionary()->Put("SMask", reference);
        } else {
            m_XObjectRef = reference;
            m_XObjectDict = mask->Dictionary();
        }
    }
    if (color != nullptr) {
        const TPDFIndirectIdentity identity = structure.RegisterIndirect(nullptr, color);
        m_XObjectRef = structure.NewReference(identity.ObjectNumber, identity.Generation);
        m_XObjectDict = color->Dictionary();
    }
}

TPDFImage* TPDFDocument::AddImageFromStream(TVellocStream& stream, int32_t option,
                                            int32_t compressSamples, std::string* reason)
{
    // The name comes first and owes nothing to the content: loading one file twice gives two
    // images.
    auto image = std::make_unique<TPDFImage>(*m_Structure, "VellocIm" + NewUniqueTag());
    image->SetCompressSamples(compressSamples);
    if (!image->LoadFromStream(stream, option)) {
        if (reason != nullptr) {
            *reason = image->FailureReason();
        }
        return nullptr;
    }
    return &AdoptImage(std::move(image));
}

} // namespace velloc
