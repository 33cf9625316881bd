#ifndef VELLOC_PNG_H
#define VELLOC_PNG_H

#include <cstdint>
#include <string>
#include <utility>

namespace velloc {

class TVellocStream;

// Reads one PNG file and hands on what an image XObject needs: the header values, the palette,
// the resolution and the sample data, either the file's own IDAT data (when PDF can use it with
// PNG predictors) or deflated colour and alpha planes. CRCs are not checked; gamma, colour
// profiles, text and other ancillary chunks are skipped; tRNS is kept but has no effect.
// A file that cannot be used leaves ColorData empty and says why in FailureReason.
class TPNGReader
{
  public:
    // Most bytes decoding may hold at once: the inflated image data plus both planes. Larger
    // images are refused before anything is allocated for them.
    static constexpr uint64_t MemoryLimit = uint64_t{1} << 30;
    // The largest width and height the PNG format allows.
    static constexpr uint32_t MaxDimension = 0x7FFFFFFF;

    void SetReduceColor16(bool reduce) { m_ReduceColor16 = reduce; }
    void SetReduceAlpha16(bool reduce) { m_ReduceAlpha16 = reduce; }

    // Reads from the stream's current position and, when the data is usable, decodes it.
    void ReadChunks(TVellocStream& stream);
    // Walks the chunks as ReadChunks does and applies the same checks (header, palette, image
    // data present, size and memory limits, with the reduction switches as set), but skips the
    // IDAT bytes and decodes nothing. True when ReadChunks would give an image; ColorData and
    // AlphaData stay empty either way.
    bool CheckChunks(TVellocStream& stream);

    uint32_t Width() const { return m_Width; }
    uint32_t Height() const { return m_Height; }
    uint32_t BitDepth() const { return m_BitDepth; }
    uint32_t ColorBits() const { return m_ColorBits; }
    uint32_t AlphaBits() const { return m_AlphaBits; }
    uint8_t ColorType() const { return m_ColorType; }
    uint8_t CompressionMethod() const { return m_CompressionMethod; }
    uint8_t FilterMethod() const { return m_FilterMethod; }
    uint8_t InterlaceMethod() const { return m_InterlaceMethod; }
    int32_t PaletteCount() const { return m_PaletteCount; }
    const std::string& Palette() const { return m_Palette; }
    const std::string& Transparency() const { return m_Transparency; }
    const std::string& ColorData() const { return m_ColorData; }
    const std::string& AlphaData() const { return m_AlphaData; }
    // Hand the data over without copying; the reader keeps an empty string.
    std::string TakeColorData() { return std::exchange(m_ColorData, {}); }
    std::string TakeAlphaData() { return std::exchange(m_AlphaData, {}); }
    uint32_t ResolutionX() const { return m_ResolutionX; }
    uint32_t ResolutionY() const { return m_ResolutionY; }
    bool PassThrough() const { return m_PassThrough; }
    // Why the file gave no image; empty when it did.
    const std::string& FailureReason() const { return m_FailureReason; }

    // The palette as the base and table of an indexed colour space:
    // "/DeviceRGB <count - 1><hex bytes>", for instance "/DeviceRGB 1<000000FFFFFF>".
    std::string PaletteColorSpace() const;

    // The Paeth predictor of the PNG standard on bytes; ties go to left, then to above.
    static uint8_t PaethPredictor(uint8_t left, uint8_t above, uint8_t upperLeft);

  private:
    // The chunk walk; with keepImageData false the IDAT bytes are only counted.
    bool walkChunks(TVellocStream& stream, bool keepImageData);
    // Everything that makes a file unusable before any data is inflated.
    bool validate();
    void decodeImageData();
    // Keeps the reason and answers false.
    bool fail(std::string reason);

    uint32_t m_Width = 0;
    uint32_t m_Height = 0;
    uint32_t m_BitDepth = 0;
    uint32_t m_ColorBits = 0;
    uint32_t m_AlphaBits = 0;
    uint8_t m_ColorType = 0;
    uint8_t m_CompressionMethod = 0;
    uint8_t m_FilterMethod = 0;
    uint8_t m_InterlaceMethod = 0;
    int32_t m_PaletteCount = 0;
    std::string m_Palette;
    std::string m_Transparency;
    std::string m_ImageData;
    // The bytes of all IDAT chunks, also when they were skipped rather than kept.
    uint64_t m_ImageDataSize = 0;
    std::string m_ColorData;
    std::string m_AlphaData;
    uint32_t m_ResolutionX = 96;
    uint32_t m_ResolutionY = 96;
    bool m_PassThrough = false;
    bool m_ReduceColor16 = false;
    bool m_ReduceAlpha16 = false;
    std::string m_FailureReason;
};

} // namespace velloc

#endif
