#ifndef VELLOC_IMAGE_H
#define VELLOC_IMAGE_H

#include <array>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace velloc {

class TPDFStructure;
class TPDFIndRef;
class TPDFDictionary;
class TPNGReader;
class TVellocStream;

// What an image file is, told by its first bytes.
enum class TImageFormat : uint8_t { Unknown, PlaceableWMF, EMF, BMP, JPEG, TIFF, PNG, GIF };

// Classifies the stream by the bytes at its start, wherever it is positioned; the file name
// plays no part. The stream is left at its start.
TImageFormat DetectImageFormat(TVellocStream& stream);

// The highest load option a PNG accepts; negative options count as 0.
constexpr int32_t MaxPNGLoadOption = 6;

// Whether loading the stream with this option would build an image: the format, the option and
// everything the PNG reader checks before decoding (header, palette, image data present, size
// and memory limits). Nothing is inflated or built. On false, reason says why.
bool CheckImageStream(TVellocStream& stream, int32_t option, std::string& reason);

// How an image's XObject was made (TPDFImage::SourceKind).
constexpr uint8_t ImageSourceNone = 0;
constexpr uint8_t ImageSourceJPEG = 1;
constexpr uint8_t ImageSourceBitmap = 2;
constexpr uint8_t ImageSourceTIFF = 3;
constexpr uint8_t ImageSourcePNG = 4;
// A form XObject drawn from a metafile; its size is in points, not pixels.
constexpr uint8_t ImageSourceMetafileForm = 6;

// What TPDFImage::MaskKind answers.
constexpr int32_t ImageMaskNone = 0;
// A 1-bit stencil (/ImageMask true): painted in the current fill colour.
constexpr int32_t ImageMaskStencil = 1;
// A DeviceGray image without a mask of its own, usable as another image's mask.
constexpr int32_t ImageMaskGray = 2;

// Which mask entry TPDFImage::SetMaskReference writes.
constexpr int32_t MaskEntryMask = 1;
constexpr int32_t MaskEntrySMask = 2;

// One picture of a document: the XObject that pages draw, the resource name they draw it by,
// and what the page tree, the painter and the facade ask about it. The document owns the
// record; the PDF objects it points to belong to the structure and outlive it.
class TPDFImage
{
  public:
    using TNamedResource = std::pair<std::string, TPDFIndRef*>;

    TPDFImage(TPDFStructure& owner, std::string name);
    virtual ~TPDFImage();
    TPDFImage(const TPDFImage&) = delete;
    TPDFImage& operator=(const TPDFImage&) = delete;

    TPDFStructure& Owner() const { return *m_Owner; }
    const std::string& Name() const { return m_Name; }

    // Reads the stream from its start, fills the record and builds the XObjects, each made an
    // indirect object through the structure's OnRegisterIndirect hook as soon as it is
    // complete. False when nothing was built; FailureReason then says why.
    bool LoadFromStream(TVellocStream& stream, int32_t option);
    // Builds from a reader that has read a PNG file: with options 1, 2, 4, 5 and 6 the soft mask
    // from the alpha data (registered first), with 0, 2, 3, 5 and 6 the colour image. Takes the
    // reader's data over.
    void BuildPNGXObject(TPNGReader& reader, int32_t option);
    // Why the last LoadFromStream built nothing; empty after a success.
    const std::string& FailureReason() const { return m_FailureReason; }

    // The XObject pages draw; for a PNG with a soft mask this is the colour image.
    TPDFIndRef* XObjectRef() const { return m_XObjectRef; }
    void SetXObjectRef(TPDFIndRef* reference) { m_XObjectRef = reference; }
    TPDFDictionary* XObjectDict() const { return m_XObjectDict; }
    void SetXObjectDict(TPDFDictionary* dictionary) { m_XObjectDict = dictionary; }

    // Pixels, or points for a metafile form.
    int32_t Width() const { return m_Width; }
    int32_t Height() const { return m_Height; }
    void SetSize(int32_t width, int32_t height);

    uint8_t SourceKind() const { return m_SourceKind; }
    void SetSourceKind(uint8_t kind) { m_SourceKind = kind; }

    // 1 makes the bitmap builder deflate its samples.
    int32_t CompressSamples() const { return m_CompressSamples; }
    void SetCompressSamples(int32_t compress) { m_CompressSamples = compress; }

    // Dots per unit; the unit is 1 none, 2 inch, 3 centimetre.
    uint32_t ResolutionX() const { return m_ResolutionX; }
    uint32_t ResolutionY() const { return m_ResolutionY; }
    int32_t ResolutionUnit() const { return m_ResolutionUnit; }
    void SetResolution(uint32_t x, uint32_t y, int32_t unit);

    // Set when an XObject of the image uses 16 bits per component.
    bool NeedsPDF15() const { return m_NeedsPDF15; }
    void SetNeedsPDF15(bool needs) { m_NeedsPDF15 = needs; }

    // Resources a form image uses and the page drawing it must list; empty for raster images.
    const std::vector<TNamedResource>& Fonts() const { return m_Fonts; }
    const std::vector<TPDFImage*>& NestedImages() const { return m_NestedImages; }
    const std::vector<TNamedResource>& GraphicsStates() const { return m_GraphicsStates; }
    const std::vector<TNamedResource>& Patterns() const { return m_Patterns; }
    void AddFont(std::string name, TPDFIndRef* reference);
    // Not owned: nested images belong to the document like every other image.
    void AddNestedImage(TPDFImage* image);
    void AddGraphicsState(std::string name, TPDFIndRef* reference);
    void AddPattern(std::string name, TPDFIndRef* reference);

    // ImageMaskNone, ImageMaskStencil or ImageMaskGray, from the XObject's dictionary.
    int32_t MaskKind() const;
    // Puts a colour-key /Mask of three min-max pairs into the XObject's dictionary.
    void SetColorKeyMask(const std::array<int32_t, 6>& ranges);
    // Sets /Mask (MaskEntryMask) or /SMask (MaskEntrySMask) to the reference. False for any
    // other kind, without a reference, or before the XObject exists.
    bool SetMaskReference(int32_t kind, TPDFIndRef* reference);

  private:
    TPDFStructure* m_Owner;
    std::string m_Name;
    TPDFIndRef* m_XObjectRef = nullptr;
    int32_t m_Width = 0;
    int32_t m_Height = 0;
    TPDFDictionary* m_XObjectDict = nullptr;
    uint8_t m_SourceKind = ImageSourceNone;
    int32_t m_CompressSamples = 0;
    uint32_t m_ResolutionX = 0;
    uint32_t m_ResolutionY = 0;
    int32_t m_ResolutionUnit = 0;
    std::vector<TNamedResource> m_Fonts;
    std::vector<TPDFImage*> m_NestedImages;
    std::vector<TNamedResource> m_GraphicsStates;
    std::vector<TNamedResource> m_Patterns;
    bool m_NeedsPDF15 = false;
    std::string m_FailureReason;
};

} // namespace velloc

#endif
