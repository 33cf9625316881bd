#include "engine/VellocImage.h"

#include "engine/VellocStructure.h"
#include "engine/support/VellocNumberText.h"

namespace velloc {

namespace {

// A /Decode array that prints as "[ 0 1 ]" or "[ 1 0 ]": two numbers whose text is 0 and 1.
bool IsUnitDecode(const TPDFArray& decode)
{
    if (decode.Count() != 2) {
        return false;
    }
    const auto* low = ObjectAs<TPDFNumeric>(decode.ItemAt(0));
    const auto* high = ObjectAs<TPDFNumeric>(decode.ItemAt(1));
    if (!low || !high) {
        return false;
    }
    const int32_t precision = decode.Owner().Precision();
    const std::string lowText = FormatNumber(low->Value(), precision);
    const std::string highText = FormatNumber(high->Value(), precision);
    return (lowText == "0" && highText == "1") || (lowText == "1" && highText == "0");
}

} // namespace

TPDFImage::TPDFImage(TPDFStructure& owner, std::string name)
    : m_Owner(&owner), m_Name(std::move(name))
{
}

TPDFImage::~TPDFImage() = default;

void TPDFImage::SetSize(int32_t width, int32_t height)
{
    m_Width = width;
    m_Height = height;
}

void TPDFImage::SetResolution(uint32_t x, uint32_t y, int32_t unit)
{
    m_ResolutionX = x;
    m_ResolutionY = y;
    m_ResolutionUnit = unit;
}

void TPDFImage::AddFont(std::string name, TPDFIndRef* reference)
{
    m_Fonts.emplace_back(std::move(name), reference);
}

void TPDFImage::AddNestedImage(TPDFImage* image)
{
    if (image) {
        m_NestedImages.push_back(image);
    }
}

void TPDFImage::AddGraphicsState(std::string name, TPDFIndRef* reference)
{
    m_GraphicsStates.emplace_back(std::move(name), reference);
}

void TPDFImage::AddPattern(std::string name, TPDFIndRef* reference)
{
    m_Patterns.emplace_back(std::move(name), reference);
}

int32_t TPDFImage::MaskKind() const
{
    if (!m_XObjectDict) {
        return ImageMaskNone;
    }
    const TPDFDictionary& dict = *m_XObjectDict;
    if (dict.IndexOf("Mask") >= 0 || dict.IndexOf("SMask") >= 0) {
        return ImageMaskNone;
    }
    const auto* imageMask = ObjectAs<TPDFBoolean>(dict.Get("ImageMask", true));
    const bool isStencil = imageMask && imageMask->Value();
    const TPDFObject* colorSpace = dict.Get("ColorSpace", true);
    if (!isStencil) {
        const auto* name = ObjectAs<TPDFName>(colorSpace);
        return name && name->Value() == "DeviceGray" ? ImageMaskGray : ImageMaskNone;
    }
    if (dict.IndexOf("BitsPerComponent") >= 0) {
        const auto* bits = ObjectAs<TPDFNumeric>(dict.Get("BitsPerComponent", true));
        if (!bits || bits->Value() != 1) {
            return ImageMaskNone;
        }
    }
    if (dict.IndexOf("Decode") >= 0) {
        const auto* decode = ObjectAs<TPDFArray>(dict.Get("Decode", true));
        if (!decode || !IsUnitDecode(*decode)) {
            return ImageMaskNone;
        }
    }
    // A stencil takes its colour from the fill colour, so it names no colour space.
    return ObjectAs<TPDFName>(colorSpace) ? ImageMaskNone : ImageMaskStencil;
}

void TPDFImage::SetColorKeyMask(const std::array<int32_t, 6>& ranges)
{
    if (m_XObjectDict) {
        m_XObjectDict->Put("Mask", m_Owner->NewIntegerArray(ranges));
    }
}

bool TPDFImage::SetMaskReference(int32_t kind, TPDFIndRef* reference)
{
    if ((kind != MaskEntryMask && kind != MaskEntrySMask) || !reference || !m_XObjectDict) {
        return false;
    }
    m_XObjectDict->Put(kind == MaskEntryMask ? "Mask" : "SMask", reference);
    return true;
}

} // namespace velloc
