#include "engine/VellocPNG.h"

#include "engine/support/VellocStream.h"
#include "engine/support/VellocZlib.h"

#include <algorithm>
#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <optional>
#include <span>
#include <string_view>

namespace velloc {

namespace {

constexpr unsigned char Signature[8] = {0x89, 0x50, 0x4E, 0x47, 0x0D, 0x0A, 0x1A, 0x0A};

// Chunk data is read in slices of this size, so a length field far beyond the end of the file
// allocates no more than the bytes that are really there.
constexpr size_t ReadSlice = size_t{1} << 20;

// Every size the decoder computes must fit size_t; the memory limit must too.
constexpr uint64_t SizeLimit = std::numeric_limits<size_t>::max();
static_assert(TPNGReader::MemoryLimit <= SizeLimit);

struct TSampleCounts
{
    uint32_t Samples;
    uint32_t ColorSamples;
    uint32_t AlphaSamples;
};

// Samples per pixel by colour type: gray, -, RGB, palette index, gray and alpha, -, RGB and
// alpha. Unknown colour types have none.
TSampleCounts SampleCounts(uint8_t colorType)
{
    switch (colorType) {
    case 0:
    case 3:
        return {1, 1, 0};
    case 2:
        return {3, 3, 0};
    case 4:
        return {2, 1, 1};
    case 6:
        return {4, 3, 1};
    default:
        return {0, 0, 0};
    }
}

// The bit depths the PNG standard allows for each colour type.
bool DepthAllowed(uint8_t colorType, uint32_t depth)
{
    switch (colorType) {
    case 0:
        return depth == 1 || depth == 2 || depth == 4 || depth == 8 || depth == 16;
    case 3:
        return depth == 1 || depth == 2 || depth == 4 || depth == 8;
    case 2:
    case 4:
    case 6:
        return depth == 8 || depth == 16;
    default:
        return false;
    }
}

struct TPass
{
    uint32_t StartRow;
    uint32_t StartColumn;
    uint32_t RowStep;
    uint32_t ColumnStep;
};

constexpr TPass Adam7Passes[7] = {{0, 0, 8, 8}, {0, 4, 8, 8}, {4, 0, 8, 4}, {0, 2, 4, 4},
                                  {2, 0, 4, 2}, {0, 1, 2, 2}, {1, 0, 2, 1}};
constexpr TPass WholeImage[1] = {{0, 0, 1, 1}};

std::span<const TPass> Passes(bool interlaced)
{
    return interlaced ? std::span<const TPass>(Adam7Passes) : std::span<const TPass>(WholeImage);
}

// The number of positions start, start + step, ... that lie below size.
uint32_t PassExtent(uint32_t size, uint32_t start, uint32_t step)
{
    return size > start ? (size - start - 1) / step + 1 : 0;
}

// a * b and a + b, refusing results that do not fit size_t.
bool MultiplyWithin(uint64_t a, uint64_t b, uint64_t& result)
{
    if (a != 0 && b > SizeLimit / a) {
        return false;
    }
    result = a * b;
    return true;
}

bool AddWithin(uint64_t a, uint64_t b, uint64_t& result)
{
    if (a > SizeLimit - b) {
        return false;
    }
    result = a + b;
    return true;
}

// Byte counts of the decoded image. Pass rows carry a filter byte; plane rows do not.
struct TImageLayout
{
    uint64_t InflatedSize = 0;
    uint64_t ColorRowBytes = 0;
    uint64_t ColorPlaneSize = 0;
    uint64_t AlphaRowBytes = 0;
    uint64_t AlphaPlaneSize = 0;
};

uint64_t PackedBytes(uint64_t pixels, uint32_t samples, uint32_t depth)
{
    // At most 2^31 pixels times 64 bits: no overflow in 64 bits.
    return (pixels * samples * depth + 7) / 8;
}

std::optional<TImageLayout> ComputeLayout(uint32_t width, uint32_t height, uint32_t depth,
                                          TSampleCounts counts, bool interlaced)
{
    TImageLayout layout;
    for (const TPass& pass : Passes(interlaced)) {
        const uint32_t passWidth = PassExtent(width, pass.StartColumn, pass.ColumnStep);
        const uint32_t passHeight = PassExtent(height, pass.StartRow, pass.RowStep);
        if (passWidth == 0 || passHeight == 0) {
            continue;
        }
        uint64_t passBytes = 0;
        if (!MultiplyWithin(passHeight, PackedBytes(passWidth, counts.Samples, depth) + 1,
                            passBytes) ||
            !AddWithin(layout.InflatedSize, passBytes, layout.InflatedSize)) {
            return std::nullopt;
        }
    }
    layout.ColorRowBytes = PackedBytes(width, counts.ColorSamples, depth);
    layout.AlphaRowBytes = PackedBytes(width, counts.AlphaSamples, depth);
    if (!MultiplyWithin(height, layout.ColorRowBytes, layout.ColorPlaneSize) ||
        !MultiplyWithin(height, layout.AlphaRowBytes, layout.AlphaPlaneSize)) {
        return std::nullopt;
    }
    return layout;
}

uint32_t BigEndian32(const unsigned char* bytes)
{
    return (uint32_t{bytes[0]} << 24) | (uint32_t{bytes[1]} << 16) | (uint32_t{bytes[2]} << 8) |
           uint32_t{bytes[3]};
}

bool ReadExact(TVellocStream& stream, unsigned char* buffer, int64_t count)
{
    return stream.Read(buffer, count) == count;
}

// The most IDAT room reserved ahead of reading; larger files grow their buffer as they go.
constexpr int64_t ReserveLimit = int64_t{1} << 30;

// Appends up to count bytes; answers whether all of them were there.
bool ReadAppend(TVellocStream& stream, uint32_t count, std::string& out)
{
    size_t left = count;
    while (left > 0) {
        const size_t want = std::min(left, ReadSlice);
        const size_t old = out.size();
        out.resize(old + want);
        const int64_t got = stream.Read(out.data() + old, static_cast<int64_t>(want));
        out.resize(old + static_cast<size_t>(std::max<int64_t>(got, 0)));
        if (got != static_cast<int64_t>(want)) {
            return false;
        }
        left -= want;
    }
    return true;
}

// Skips count bytes when the stream holds that many more.
bool Skip(TVellocStream& stream, uint32_t count)
{
    const int64_t here = stream.Position();
    const int64_t size = stream.Size();
    if (here < 0 || size - here < static_cast<int64_t>(count)) {
        return false;
    }
    return stream.Seek(here + count, TSeekOrigin::Start) == here + count;
}

// Skips up to count bytes and adds the number skipped to total; answers whether all of them
// were there.
bool SkipCounted(TVellocStream& stream, uint32_t count, uint64_t& total)
{
    const int64_t here = stream.Position();
    const int64_t size = stream.Size();
    if (here < 0 || size < here) {
        return false;
    }
    const int64_t available = std::min<int64_t>(count, size - here);
    if (stream.Seek(here + available, TSeekOrigin::Start) != here + available) {
        return false;
    }
    total += static_cast<uint64_t>(available);
    return available == static_cast<int64_t>(count);
}

// Undoes one PNG row filter in place; distance is the byte distance to the same byte of the
// pixel on the left. Unknown filter types leave the row as it is.
void Unfilter(uint8_t filter, unsigned char* row, const unsigned char* previous, size_t length,
              size_t distance)
{
    switch (filter) {
    case 1:
        for (size_t i = distance; i < length; ++i) {
            row[i] = static_cast<unsigned char>(row[i] + row[i - distance]);
        }
        break;
    case 2:
        for (size_t i = 0; i < length; ++i) {
            row[i] = static_cast<unsigned char>(row[i] + previous[i]);
        }
        break;
    case 3:
        for (size_t i = 0; i < length; ++i) {
            const unsigned left = i >= distance ? row[i - distance] : 0;
            row[i] = static_cast<unsigned char>(row[i] + (left + previous[i]) / 2);
        }
        break;
    case 4:
        for (size_t i = 0; i < length; ++i) {
            const uint8_t left = i >= distance ? row[i - distance] : 0;
            const uint8_t upperLeft = i >= distance ? previous[i - distance] : 0;
            row[i] = static_cast<unsigned char>(
                row[i] + TPNGReader::PaethPredictor(left, previous[i], upperLeft));
        }
        break;
    default:
        break;
    }
}

// Copies the pixels of unfiltered pass rows to their places in the colour and alpha planes.
class TPlaneWriter
{
  public:
    TPlaneWriter(uint32_t depth, TSampleCounts counts, const TImageLayout& layout,
                 std::string& colorPlane, std::string& alphaPlane)
        : m_Depth(depth), m_Counts(counts), m_ColorRowBytes(layout.ColorRowBytes),
          m_AlphaRowBytes(layout.AlphaRowBytes),
          m_ColorPlane(reinterpret_cast<unsigned char*>(colorPlane.data())),
          m_AlphaPlane(reinterpret_cast<unsigned char*>(alphaPlane.data()))
    {
    }

    void Scatter(const unsigned char* row, uint32_t passWidth, const TPass& pass,
                 uint32_t imageRow) const
    {
        if (m_Depth >= 8 || m_Counts.AlphaSamples != 0) {
            scatterBytes(row, passWidth, pass, imageRow);
        } else {
            scatterPacked(row, passWidth, pass, imageRow);
        }
    }

  private:
    void scatterBytes(const unsigned char* row, uint32_t passWidth, const TPass& pass,
                      uint32_t imageRow) const
    {
        const size_t colorBytes = m_Counts.ColorSamples * m_Depth / 8;
        const size_t alphaBytes = m_Counts.AlphaSamples * m_Depth / 8;
        unsigned char* colorRow = m_ColorPlane + imageRow * m_ColorRowBytes;
        unsigned char* alphaRow = m_AlphaPlane + imageRow * m_AlphaRowBytes;
        for (size_t k = 0; k < passWidth; ++k) {
            const size_t column = pass.StartColumn + k * pass.ColumnStep;
            const unsigned char* pixel = row + k * (colorBytes + alphaBytes);
            std::memcpy(colorRow + column * colorBytes, pixel, colorBytes);
            if (alphaBytes != 0) {
                std::memcpy(alphaRow + column * alphaBytes, pixel + colorBytes, alphaBytes);
            }
        }
    }

    // Gray and palette samples of 1, 2 or 4 bits, packed from the most significant bit.
    void scatterPacked(const unsigned char* row, uint32_t passWidth, const TPass& pass,
                       uint32_t imageRow) const
    {
        const unsigned mask = (1u << m_Depth) - 1;
        unsigned char* colorRow = m_ColorPlane + imageRow * m_ColorRowBytes;
        for (size_t k = 0; k < passWidth; ++k) {
            const size_t sourceBit = k * m_Depth;
            const unsigned value = (row[sourceBit / 8] >> (8 - m_Depth - sourceBit % 8)) & mask;
            const size_t targetBit = (pass.StartColumn + k * pass.ColumnStep) * m_Depth;
            colorRow[targetBit / 8] |=
                static_cast<unsigned char>(value << (8 - m_Depth - targetBit % 8));
        }
    }

    uint32_t m_Depth;
    TSampleCounts m_Counts;
    size_t m_ColorRowBytes;
    size_t m_AlphaRowBytes;
    unsigned char* m_ColorPlane;
    unsigned char* m_AlphaPlane;
};

// Keeps the most significant byte of every big-endian 16-bit sample.
void ReduceTo8Bits(std::string& plane)
{
    for (size_t i = 0; 2 * i < plane.size(); ++i) {
        plane[i] = plane[2 * i];
    }
    plane.resize(plane.size() / 2);
}

} // namespace

void TPNGReader::ReadChunks(TVellocStream& stream)
{
    if (walkChunks(stream, true) && validate()) {
        decodeImageData();
    }
}

bool TPNGReader::CheckChunks(TVellocStream& stream)
{
    return walkChunks(stream, false) && validate();
}

bool TPNGReader::walkChunks(TVellocStream& stream, bool keepImageData)
{
    unsigned char signature[8];
    if (!ReadExact(stream, signature, 8) || std::memcmp(signature, Signature, 8) != 0) {
        return fail("not a PNG file");
    }
    if (keepImageData) {
        // IDAT data is at most what the file has left; room for it up front saves copying the
        // data over and over as the chunks arrive.
        const int64_t left = stream.Size() - stream.Position();
        m_ImageData.reserve(static_cast<size_t>(std::clamp<int64_t>(left, 0, ReserveLimit)));
    }
    bool sawHeader = false;
    for (;;) {
        unsigned char head[8];
        if (!ReadExact(stream, head, 8)) {
            break;
        }
        const uint32_t length = BigEndian32(head);
        const std::string_view type(reinterpret_cast<const char*>(head + 4), 4);
        if ((!sawHeader && type != "IHDR") || type == "IEND") {
            break;
        }
        if (type == "IHDR") {
            // The fields are read even from a chunk shorter than 13 bytes.
            unsigned char fields[13];
            if (!ReadExact(stream, fields, 13) || (length > 13 && !Skip(stream, length - 13))) {
                break;
            }
            sawHeader = true;
            m_Width = BigEndian32(fields);
            m_Height = BigEndian32(fields + 4);
            m_BitDepth = fields[8];
            m_ColorType = fields[9];
            m_CompressionMethod = fields[10];
            m_FilterMethod = fields[11];
            m_InterlaceMethod = fields[12];
        } else if (type == "PLTE" || type == "tRNS" || type == "pHYs") {
            std::string data;
            if (!ReadAppend(stream, length, data)) {
                break;
            }
            if (type == "PLTE") {
                m_Palette = std::move(data);
                m_PaletteCount = static_cast<int32_t>(length / 3);
            } else if (type == "tRNS") {
                m_Transparency = std::move(data);
            } else if (data.size() >= 9) {
                // Pixels per unit in x and y, then the unit (1 = metre); unsigned 32-bit
                // arithmetic throughout, wrapping and truncating.
                const auto* bytes = reinterpret_cast<const unsigned char*>(data.data());
                uint32_t x = BigEndian32(bytes);
                uint32_t y = BigEndian32(bytes + 4);
                if (x == 0 || y == 0) {
                    x = 96;
                    y = 96;
                }
                if (bytes[8] == 1) {
                    m_ResolutionX = x * uint32_t{254} / uint32_t{10000};
                    m_ResolutionY = y * uint32_t{254} / uint32_t{10000};
                } else {
                    m_ResolutionX = 96;
                    m_ResolutionY = y * uint32_t{96} / x;
                }
            }
        } else if (type == "IDAT") {
            // A cut-off chunk still contributes the bytes that are there.
            if (keepImageData) {
                const bool complete = ReadAppend(stream, length, m_ImageData);
                m_ImageDataSize = m_ImageData.size();
                if (!complete) {
                    break;
                }
            } else if (!SkipCounted(stream, length, m_ImageDataSize)) {
                break;
            }
        } else if (!Skip(stream, length)) {
            break;
        }
        unsigned char crc[4];
        if (!ReadExact(stream, crc, 4)) {
            break;
        }
    }
    return sawHeader || fail("no IHDR chunk");
}

bool TPNGReader::validate()
{
    if (m_Width == 0 || m_Height == 0) {
        return fail("zero width or height");
    }
    if (m_Width > MaxDimension || m_Height > MaxDimension) {
        return fail("width or height above 2147483647");
    }
    if (m_CompressionMethod != 0) {
        return fail("unknown compression method " + std::to_string(m_CompressionMethod));
    }
    if (m_FilterMethod != 0) {
        return fail("unknown filter method " + std::to_string(m_FilterMethod));
    }
    if (m_InterlaceMethod > 1) {
        return fail("unknown interlace method " + std::to_string(m_InterlaceMethod));
    }
    if (SampleCounts(m_ColorType).Samples == 0) {
        return fail("unknown colour type " + std::to_string(m_ColorType));
    }
    if (!DepthAllowed(m_ColorType, m_BitDepth)) {
        return fail("bit depth " + std::to_string(m_BitDepth) + " not allowed for colour type " +
                    std::to_string(m_ColorType));
    }
    // An indexed PDF image cannot do without its palette.
    if (m_ColorType == 3 && m_PaletteCount == 0) {
        return fail("no palette for a palette image");
    }
    // PNG allows at most 256 palette entries, and an indexed PDF colour space no more either.
    if (m_ColorType == 3 && m_PaletteCount > 256) {
        return fail("palette with more than 256 entries");
    }
    if (m_ImageDataSize == 0) {
        return fail("no image data");
    }

    const TSampleCounts counts = SampleCounts(m_ColorType);
    const bool interlaced = m_InterlaceMethod == 1;
    const std::optional<TImageLayout> layout =
        ComputeLayout(m_Width, m_Height, m_BitDepth, counts, interlaced);
    if (!layout) {
        return fail("image too large");
    }
    m_PassThrough =
        counts.AlphaSamples == 0 && !interlaced && !(m_ReduceColor16 && m_BitDepth == 16);
    // Data passed through is never inflated, so only decoding is bound by the memory limit.
    if (!m_PassThrough &&
        (layout->InflatedSize > MemoryLimit || layout->ColorPlaneSize > MemoryLimit ||
         layout->AlphaPlaneSize > MemoryLimit ||
         layout->InflatedSize + layout->ColorPlaneSize + layout->AlphaPlaneSize > MemoryLimit)) {
        return fail("image too large");
    }
    return true;
}

void TPNGReader::decodeImageData()
{
    if (m_PassThrough) {
        m_ColorBits = m_BitDepth;
        m_ColorData = std::move(m_ImageData);
        m_ImageData.clear();
        return;
    }

    const TSampleCounts counts = SampleCounts(m_ColorType);
    const bool interlaced = m_InterlaceMethod == 1;
    // validate() has computed the same layout and found it within the limits.
    const TImageLayout layout = *ComputeLayout(m_Width, m_Height, m_BitDepth, counts, interlaced);

    // Damaged or truncated data keeps what could be inflated; the rows after it become 0xFF.
    // The cap keeps a tiny, highly compressed stream from growing past the image.
    const auto inflatedSize = static_cast<size_t>(layout.InflatedSize);
    m_ImageData = ZlibInflate(m_ImageData, inflatedSize, inflatedSize).Data;
    m_ColorBits = m_BitDepth;
    m_AlphaBits = m_BitDepth;
    std::string colorPlane(static_cast<size_t>(layout.ColorPlaneSize), '\0');
    std::string alphaPlane(static_cast<size_t>(layout.AlphaPlaneSize), '\0');
    const TPlaneWriter writer(m_BitDepth, counts, layout, colorPlane, alphaPlane);

    const size_t distance = m_BitDepth == 16 ? 2 * counts.Samples : counts.Samples;
    const auto* data = reinterpret_cast<const unsigned char*>(m_ImageData.data());
    size_t position = 0;
    std::string row;
    std::string previous;
    for (const TPass& pass : Passes(interlaced)) {
        const uint32_t passWidth = PassExtent(m_Width, pass.StartColumn, pass.ColumnStep);
        const uint32_t passHeight = PassExtent(m_Height, pass.StartRow, pass.RowStep);
        if (passWidth == 0 || passHeight == 0) {
            continue;
        }
        const auto rowBytes =
            static_cast<size_t>(PackedBytes(passWidth, counts.Samples, m_BitDepth));
        previous.assign(rowBytes, '\0');
        for (uint32_t passRow = 0; passRow < passHeight; ++passRow) {
            uint8_t filter = 0;
            if (m_ImageData.size() - std::min(position, m_ImageData.size()) >= rowBytes + 1) {
                filter = data[position];
                row.assign(m_ImageData, position + 1, rowBytes);
            } else {
                row.assign(rowBytes, '\xFF');
            }
            position += rowBytes + 1;
            auto* current = reinterpret_cast<unsigned char*>(row.data());
            Unfilter(filter, current, reinterpret_cast<const unsigned char*>(previous.data()),
                     rowBytes, distance);
            writer.Scatter(current, passWidth, pass, pass.StartRow + passRow * pass.RowStep);
            row.swap(previous);
        }
    }
    std::string().swap(m_ImageData);

    if (m_ReduceColor16 && m_ColorBits == 16) {
        ReduceTo8Bits(colorPlane);
        m_ColorBits = 8;
    }
    if (m_ReduceAlpha16 && m_AlphaBits == 16) {
        ReduceTo8Bits(alphaPlane);
        m_AlphaBits = 8;
    }
    m_ColorData = ZlibDeflateInParallel(colorPlane);
    m_AlphaData = ZlibDeflateInParallel(alphaPlane);
    if (m_ColorData.empty() || m_AlphaData.empty() != alphaPlane.empty()) {
        m_ColorData.clear();
        m_AlphaData.clear();
        fail("compressing the image data failed");
    }
}

bool TPNGReader::fail(std::string reason)
{
    m_FailureReason = std::move(reason);
    return false;
}

std::string TPNGReader::PaletteColorSpace() const
{
    static constexpr char Hex[] = "0123456789ABCDEF";
    std::string text = "/DeviceRGB " + std::to_string(m_PaletteCount - 1) + "<";
    for (const char c : m_Palette) {
        const auto byte = static_cast<unsigned char>(c);
        text += Hex[byte >> 4];
        text += Hex[byte & 0x0F];
    }
    text += '>';
    return text;
}

uint8_t TPNGReader::PaethPredictor(uint8_t left, uint8_t above, uint8_t upperLeft)
{
    const int estimate = left + above - upperLeft;
    const int toLeft = std::abs(estimate - left);
    const int toAbove = std::abs(estimate - above);
    const int toUpperLeft = std::abs(estimate - upperLeft);
    if (toLeft <= toAbove && toLeft <= toUpperLeft) {
        return left;
    }
    return toAbove <= toUpperLeft ? above : upperLeft;
}

} // namespace velloc
