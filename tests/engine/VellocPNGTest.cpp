#include "engine/VellocPNG.h"

#include "PngSuiteFiles.h"
#include "engine/support/VellocStream.h"

#include <FreeImage.h>
#include <gtest/gtest.h>
#include <zlib.h>

#include <array>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <memory>
#include <new>
#include <string>
#include <vector>

using namespace velloc;
using namespace velloc::testing;
using namespace std::string_literals;

// Every allocation of the test program goes through here, so a test can see the largest single
// request made while it watches. GCC sees malloc behind new and free behind delete once both are
// inlined and takes the pair for a mismatch; it is the replacement's own pair.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
#endif
namespace {
std::atomic<bool> g_WatchAllocations{false};
std::atomic<size_t> g_LargestAllocation{0};
} // namespace

namespace {

void* WatchedAllocation(std::size_t size) noexcept
{
    if (g_WatchAllocations.load(std::memory_order_relaxed)) {
        size_t largest = g_LargestAllocation.load(std::memory_order_relaxed);
        while (size > largest && !g_LargestAllocation.compare_exchange_weak(largest, size)) {
        }
    }
    return std::malloc(size != 0 ? size : 1);
}

void* WatchedAllocationOrThrow(std::size_t size)
{
    if (void* memory = WatchedAllocation(size)) {
        return memory;
    }
    throw std::bad_alloc();
}

} // namespace

// All unaligned forms, so that no library pairs its own new with this delete (AddressSanitizer
// brings its own of each).
void* operator new(std::size_t size)
{
    return WatchedAllocationOrThrow(size);
}
void* operator new[](std::size_t size)
{
    return WatchedAllocationOrThrow(size);
}
void* operator new(std::size_t size, const std::nothrow_t&) noexcept
{
    return WatchedAllocation(size);
}
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept
{
    return WatchedAllocation(size);
}
void operator delete(void* memory) noexcept
{
    std::free(memory);
}
void operator delete[](void* memory) noexcept
{
    std::free(memory);
}
void operator delete(void* memory, std::size_t) noexcept
{
    std::free(memory);
}
void operator delete[](void* memory, std::size_t) noexcept
{
    std::free(memory);
}
void operator delete(void* memory, const std::nothrow_t&) noexcept
{
    std::free(memory);
}
void operator delete[](void* memory, const std::nothrow_t&) noexcept
{
    std::free(memory);
}

namespace {

// ---- Building PNG files from bytes ----

const std::string Signature("\x89PNG\r\n\x1A\n", 8);

std::string BigEndian32(uint32_t value)
{
    return {static_cast<char>(value >> 24), static_cast<char>(value >> 16),
            static_cast<char>(value >> 8), static_cast<char>(value)};
}

std::string Chunk(const std::string& type, const std::string& data, bool rightCrc = true)
{
    const std::string body = type + data;
    uLong crc =
        crc32(0, reinterpret_cast<const Bytef*>(body.data()), static_cast<uInt>(body.size()));
    if (!rightCrc) {
        crc ^= 0xFFFFFFFF;
    }
    return BigEndian32(static_cast<uint32_t>(data.size())) + body +
           BigEndian32(static_cast<uint32_t>(crc));
}

std::string Ihdr(uint32_t width, uint32_t height, uint8_t depth, uint8_t colorType,
                 uint8_t interlace = 0, uint8_t compression = 0, uint8_t filter = 0)
{
    return Chunk("IHDR", BigEndian32(width) + BigEndian32(height) +
                             std::string{static_cast<char>(depth), static_cast<char>(colorType),
                                         static_cast<char>(compression), static_cast<char>(filter),
                                         static_cast<char>(interlace)});
}

const std::string Iend = Chunk("IEND", "");

std::string Compress(const std::string& data)
{
    uLongf size = compressBound(static_cast<uLong>(data.size()));
    std::string out(size, '\0');
    EXPECT_EQ(compress2(reinterpret_cast<Bytef*>(out.data()), &size,
                        reinterpret_cast<const Bytef*>(data.data()),
                        static_cast<uLong>(data.size()), Z_BEST_COMPRESSION),
              Z_OK);
    out.resize(size);
    return out;
}

// zlib's own inflate, independent of the engine's.
std::string Inflate(const std::string& data)
{
    if (data.empty()) {
        return {};
    }
    z_stream stream{};
    EXPECT_EQ(inflateInit(&stream), Z_OK);
    stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
    stream.avail_in = static_cast<uInt>(data.size());
    std::string out;
    int status = Z_OK;
    while (status == Z_OK) {
        char buffer[16384];
        stream.next_out = reinterpret_cast<Bytef*>(buffer);
        stream.avail_out = sizeof buffer;
        status = inflate(&stream, Z_NO_FLUSH);
        out.append(buffer, sizeof buffer - stream.avail_out);
    }
    EXPECT_EQ(status, Z_STREAM_END);
    inflateEnd(&stream);
    return out;
}

// Reads and decodes the file; every read also makes sure that the header-only check comes to
// the same verdict, for the same reason, without producing any data.
TPNGReader Read(const std::string& bytes, bool reduceColor16 = false, bool reduceAlpha16 = false)
{
    TVellocMemoryStream stream(bytes);
    TPNGReader reader;
    reader.SetReduceColor16(reduceColor16);
    reader.SetReduceAlpha16(reduceAlpha16);
    reader.ReadChunks(stream);

    TVellocMemoryStream again(bytes);
    TPNGReader checker;
    checker.SetReduceColor16(reduceColor16);
    checker.SetReduceAlpha16(reduceAlpha16);
    EXPECT_EQ(checker.CheckChunks(again), !reader.ColorData().empty());
    EXPECT_EQ(checker.FailureReason(), reader.FailureReason());
    EXPECT_EQ(checker.PassThrough(), reader.PassThrough());
    EXPECT_TRUE(checker.ColorData().empty());
    EXPECT_TRUE(checker.AlphaData().empty());
    return reader;
}

// Where the data of the first IDAT chunk starts.
size_t FirstIdatData(const std::string& png)
{
    for (size_t at = 8; at + 8 <= png.size();) {
        if (png.compare(at + 4, 4, "IDAT") == 0) {
            return at + 8;
        }
        at += 12 + ReadBigEndian32(png, at);
    }
    ADD_FAILURE() << "no IDAT chunk";
    return png.size();
}

// ---- Pixels as red, green, blue and alpha, at 8 bits or (for 16-bit samples) 16 bits ----

using TRgba = std::array<uint32_t, 4>;

struct TPicture
{
    uint32_t Width = 0;
    uint32_t Height = 0;
    std::vector<TRgba> Pixels;
};

uint32_t ByteAt(const std::string& bytes, size_t at)
{
    return static_cast<unsigned char>(bytes[at]);
}

// Sample `index` of a plane row of samples of `bits` bits (big-endian at 16 bits).
uint32_t Sample(const std::string& plane, size_t rowStart, size_t index, uint32_t bits)
{
    if (bits == 16) {
        return (ByteAt(plane, rowStart + 2 * index) << 8) | ByteAt(plane, rowStart + 2 * index + 1);
    }
    const size_t bit = index * bits;
    return (ByteAt(plane, rowStart + bit / 8) >> (8 - bits - bit % 8)) & ((1u << bits) - 1);
}

// The reader's planes as pixels; also checks the plane sizes.
TPicture ReaderPicture(const TPNGReader& reader)
{
    TPicture picture{reader.Width(), reader.Height(), {}};
    const std::string color = Inflate(reader.ColorData());
    const std::string alpha = Inflate(reader.AlphaData());
    const uint8_t colorType = reader.ColorType();
    const uint32_t colorSamples = colorType == 2 || colorType == 6 ? 3 : 1;
    const bool hasAlpha = colorType == 4 || colorType == 6;
    const uint32_t colorBits = reader.ColorBits();
    const size_t colorRow = (size_t{picture.Width} * colorSamples * colorBits + 7) / 8;
    const size_t alphaRow = size_t{picture.Width} * reader.AlphaBits() / 8;
    EXPECT_EQ(color.size(), colorRow * picture.Height);
    EXPECT_EQ(alpha.size(), hasAlpha ? alphaRow * picture.Height : 0);
    if (color.size() != colorRow * picture.Height ||
        alpha.size() != (hasAlpha ? alphaRow * picture.Height : 0)) {
        return picture;
    }
    const uint32_t opaque = colorBits == 16 ? 0xFFFF : 0xFF;
    for (uint32_t y = 0; y < picture.Height; ++y) {
        for (uint32_t x = 0; x < picture.Width; ++x) {
            TRgba pixel{};
            for (uint32_t s = 0; s < colorSamples; ++s) {
                pixel[s] = Sample(color, y * colorRow, size_t{x} * colorSamples + s, colorBits);
            }
            if (colorType == 3) {
                const size_t entry = 3 * size_t{pixel[0]};
                for (size_t s = 0; s < 3; ++s) {
                    pixel[s] = ByteAt(reader.Palette(), entry + s);
                }
            } else if (colorSamples == 1) {
                if (colorBits < 8) {
                    pixel[0] = pixel[0] * 255 / ((1u << colorBits) - 1);
                }
                pixel[1] = pixel[0];
                pixel[2] = pixel[0];
            }
            pixel[3] = hasAlpha ? Sample(alpha, y * alphaRow, x, reader.AlphaBits()) : opaque;
            picture.Pixels.push_back(pixel);
        }
    }
    return picture;
}

struct FreeImageUnload
{
    void operator()(FIBITMAP* bitmap) const { FreeImage_Unload(bitmap); }
};
using FreeImageBitmap = std::unique_ptr<FIBITMAP, FreeImageUnload>;

// The same file decoded by FreeImage, top row first.
TPicture FreeImagePicture(const std::string& name)
{
    static const bool initialised = [] {
        FreeImage_Initialise(FALSE);
        return true;
    }();
    (void)initialised;
    TPicture picture;
    const FreeImageBitmap bitmap(FreeImage_Load(FIF_PNG, SuitePath(name).c_str(), PNG_IGNOREGAMMA));
    EXPECT_TRUE(bitmap) << name;
    if (!bitmap) {
        return picture;
    }
    FIBITMAP* dib = bitmap.get();
    picture.Width = FreeImage_GetWidth(dib);
    picture.Height = FreeImage_GetHeight(dib);
    const FREE_IMAGE_TYPE type = FreeImage_GetImageType(dib);
    const unsigned bpp = FreeImage_GetBPP(dib);
    for (uint32_t y = 0; y < picture.Height; ++y) {
        const unsigned line = picture.Height - 1 - y; // FreeImage keeps rows bottom-up
        const BYTE* bits = FreeImage_GetScanLine(dib, line);
        for (uint32_t x = 0; x < picture.Width; ++x) {
            TRgba pixel{};
            if (type == FIT_BITMAP && bpp <= 8) {
                BYTE index = 0;
                EXPECT_TRUE(FreeImage_GetPixelIndex(dib, x, line, &index));
                const RGBQUAD& entry = FreeImage_GetPalette(dib)[index];
                pixel = {entry.rgbRed, entry.rgbGreen, entry.rgbBlue, 0xFF};
            } else if (type == FIT_BITMAP && (bpp == 24 || bpp == 32)) {
                const BYTE* p = bits + size_t{x} * (bpp / 8);
                pixel = {p[FI_RGBA_RED], p[FI_RGBA_GREEN], p[FI_RGBA_BLUE],
                         bpp == 32 ? p[FI_RGBA_ALPHA] : 0xFFu};
            } else if (type == FIT_UINT16) {
                const uint16_t gray = reinterpret_cast<const uint16_t*>(bits)[x];
                pixel = {gray, gray, gray, 0xFFFF};
            } else if (type == FIT_RGB16) {
                const FIRGB16& p = reinterpret_cast<const FIRGB16*>(bits)[x];
                pixel = {p.red, p.green, p.blue, 0xFFFF};
            } else if (type == FIT_RGBA16) {
                const FIRGBA16& p = reinterpret_cast<const FIRGBA16*>(bits)[x];
                pixel = {p.red, p.green, p.blue, p.alpha};
            } else {
                ADD_FAILURE() << name << ": FreeImage type " << type << ", " << bpp << " bits";
                return picture;
            }
            picture.Pixels.push_back(pixel);
        }
    }
    return picture;
}

TPicture HighBytes(TPicture picture)
{
    for (TRgba& pixel : picture.Pixels) {
        for (uint32_t& value : pixel) {
            value >>= 8;
        }
    }
    return picture;
}

void ExpectSamePicture(const TPicture& actual, const TPicture& expected)
{
    ASSERT_EQ(actual.Width, expected.Width);
    ASSERT_EQ(actual.Height, expected.Height);
    ASSERT_EQ(actual.Pixels.size(), expected.Pixels.size());
    for (size_t i = 0; i < actual.Pixels.size(); ++i) {
        if (actual.Pixels[i] != expected.Pixels[i]) {
            const TRgba& a = actual.Pixels[i];
            const TRgba& e = expected.Pixels[i];
            ADD_FAILURE() << "first difference at x " << i % actual.Width << ", y "
                          << i / actual.Width << ": " << a[0] << " " << a[1] << " " << a[2] << " "
                          << a[3] << " instead of " << e[0] << " " << e[1] << " " << e[2] << " "
                          << e[3];
            return;
        }
    }
}

const char* const BasicSuiteNames[] = {
    "basn0g01", "basn0g02", "basn0g04", "basn0g08", "basn0g16", "basn2c08", "basn2c16", "basn3p01",
    "basn3p02", "basn3p04", "basn3p08", "basn4a08", "basn4a16", "basn6a08", "basn6a16", "basi0g01",
    "basi0g02", "basi0g04", "basi0g08", "basi0g16", "basi2c08", "basi2c16", "basi3p01", "basi3p02",
    "basi3p04", "basi3p08", "basi4a08", "basi4a16", "basi6a08", "basi6a16"};

// A 1x1 image's raw data: one filter byte and one zero pixel.
std::string OnePixelData(uint32_t samples, uint32_t depth)
{
    return std::string(1 + (samples * depth + 7) / 8, '\0');
}

} // namespace

// ---- PngSuite against FreeImage ----

TEST(VellocPNG, BasicSuiteFilesDecodeToTheSamePixelsAsFreeImage)
{
    for (const std::string name : BasicSuiteNames) {
        SCOPED_TRACE(name);
        const bool interlaced = name[3] == 'i';
        const int colorType = name[4] - '0';
        const uint32_t depth = static_cast<uint32_t>(std::stoi(name.substr(6, 2)));
        const bool hasAlpha = colorType == 4 || colorType == 6;

        const TPNGReader reader = Read(SuiteFile(name));
        EXPECT_EQ(reader.FailureReason(), "");
        EXPECT_EQ(reader.Width(), 32u);
        EXPECT_EQ(reader.Height(), 32u);
        EXPECT_EQ(reader.BitDepth(), depth);
        EXPECT_EQ(reader.ColorType(), colorType);
        EXPECT_EQ(reader.InterlaceMethod(), interlaced ? 1 : 0);
        EXPECT_EQ(reader.ColorBits(), depth);
        const bool passThrough = !interlaced && !hasAlpha;
        ASSERT_EQ(reader.PassThrough(), passThrough);

        const TPicture expected = FreeImagePicture(name);
        if (passThrough) {
            // The file's own data goes on untouched; its interlaced twin holds the same picture
            // and is decoded.
            EXPECT_EQ(reader.AlphaBits(), 0u);
            EXPECT_TRUE(reader.AlphaData().empty());
            EXPECT_EQ(reader.ColorData(), ConcatenatedIdat(SuiteFile(name)));
            const std::string twin = "basi" + name.substr(4);
            ExpectSamePicture(ReaderPicture(Read(SuiteFile(twin))), expected);
        } else {
            EXPECT_EQ(reader.AlphaBits(), depth);
            EXPECT_EQ(reader.AlphaData().empty(), !hasAlpha);
            ExpectSamePicture(ReaderPicture(reader), expected);
        }
        if (depth == 16) {
            const TPNGReader reduced = Read(SuiteFile(name), true, true);
            EXPECT_FALSE(reduced.PassThrough());
            EXPECT_EQ(reduced.ColorBits(), 8u);
            EXPECT_EQ(reduced.AlphaBits(), 8u);
            ExpectSamePicture(ReaderPicture(reduced), HighBytes(expected));
        }
    }
}

TEST(VellocPNG, PassThroughHandsOnTheIdatBytesUnchanged)
{
    for (const std::string name :
         {"basn2c08", "basn0g01", "basn3p08", "f00n2c08", "f01n2c08", "f02n2c08", "f03n2c08",
          "f04n2c08", "tbbn3p08", "tp0n3p08", "cdfn2c08"}) {
        SCOPED_TRACE(name);
        const std::string file = SuiteFile(name);
        const TPNGReader reader = Read(file);
        EXPECT_TRUE(reader.PassThrough());
        EXPECT_EQ(reader.ColorData(), ConcatenatedIdat(file));
        EXPECT_TRUE(reader.AlphaData().empty());
        EXPECT_EQ(reader.ColorBits(), reader.BitDepth());
        EXPECT_EQ(reader.AlphaBits(), 0u);
    }
}

TEST(VellocPNG, InterlacedAndNonInterlacedFilesGiveTheSamePlanes)
{
    struct Pair
    {
        const char* Interlaced;
        const char* Plain;
        bool ReduceColor16;
    };
    for (const Pair& pair :
         {Pair{"basi6a08", "basn6a08", false}, Pair{"basi6a16", "basn6a16", false},
          Pair{"basi4a08", "basn4a08", false}, Pair{"basi4a16", "basn4a16", false},
          Pair{"basi2c16", "basn2c16", true}, Pair{"basi0g16", "basn0g16", true}}) {
        SCOPED_TRACE(pair.Interlaced);
        const TPNGReader interlaced = Read(SuiteFile(pair.Interlaced), pair.ReduceColor16);
        const TPNGReader plain = Read(SuiteFile(pair.Plain), pair.ReduceColor16);
        ASSERT_FALSE(plain.PassThrough());
        EXPECT_EQ(Inflate(interlaced.ColorData()), Inflate(plain.ColorData()));
        EXPECT_EQ(Inflate(interlaced.AlphaData()), Inflate(plain.AlphaData()));
    }
    // RGB at 8 bits, no alpha: three bytes a pixel and no filter bytes.
    EXPECT_EQ(Inflate(Read(SuiteFile("basi2c08")).ColorData()).size(), 32u * 32u * 3u);
}

TEST(VellocPNG, SixteenBitSamplesAreCutToTheirHighBytesOnlyWhenAsked)
{
    const TPNGReader full = Read(SuiteFile("basn4a16"));
    const std::string fullColor = Inflate(full.ColorData());
    const std::string fullAlpha = Inflate(full.AlphaData());
    EXPECT_EQ(full.ColorBits(), 16u);
    EXPECT_EQ(full.AlphaBits(), 16u);
    ASSERT_EQ(fullColor.size(), 32u * 32u * 2u);
    ASSERT_EQ(fullAlpha.size(), 32u * 32u * 2u);

    auto highBytes = [](const std::string& plane) {
        std::string high;
        for (size_t i = 0; i < plane.size(); i += 2) {
            high += plane[i];
        }
        return high;
    };
    const TPNGReader both = Read(SuiteFile("basn4a16"), true, true);
    EXPECT_EQ(both.ColorBits(), 8u);
    EXPECT_EQ(both.AlphaBits(), 8u);
    EXPECT_EQ(Inflate(both.ColorData()), highBytes(fullColor));
    EXPECT_EQ(Inflate(both.AlphaData()), highBytes(fullAlpha));

    const TPNGReader colorOnly = Read(SuiteFile("basn4a16"), true, false);
    EXPECT_EQ(colorOnly.ColorBits(), 8u);
    EXPECT_EQ(colorOnly.AlphaBits(), 16u);
    EXPECT_EQ(Inflate(colorOnly.ColorData()), highBytes(fullColor));
    EXPECT_EQ(Inflate(colorOnly.AlphaData()), fullAlpha);

    // RGB without interlacing is decoded only for the colour switch.
    const TPNGReader rgbReduced = Read(SuiteFile("basn2c16"), true, false);
    EXPECT_FALSE(rgbReduced.PassThrough());
    EXPECT_EQ(rgbReduced.ColorBits(), 8u);
    EXPECT_EQ(Inflate(rgbReduced.ColorData()).size(), 32u * 32u * 3u);
    EXPECT_TRUE(rgbReduced.AlphaData().empty());
    const TPNGReader rgbAlphaSwitch = Read(SuiteFile("basn2c16"), false, true);
    EXPECT_TRUE(rgbAlphaSwitch.PassThrough());
    EXPECT_EQ(rgbAlphaSwitch.ColorBits(), 16u);
}

// ---- Filters, interlacing and packing on images built here ----

TEST(VellocPNG, EveryFilterTypeIsUndone)
{
    struct Case
    {
        uint8_t ColorType;
        uint8_t Depth;
        uint32_t Width;
    };
    for (const Case& c : {Case{6, 8, 5}, Case{6, 16, 3}, Case{4, 8, 4}, Case{4, 16, 3}}) {
        SCOPED_TRACE(std::to_string(c.ColorType) + "/" + std::to_string(c.Depth));
        const size_t sampleBytes = c.Depth / 8;
        const size_t colorBytes = (c.ColorType == 6 ? 3 : 1) * sampleBytes;
        const size_t pixelBytes = colorBytes + sampleBytes;
        const size_t rowBytes = c.Width * pixelBytes;
        const uint32_t height = 7;
        std::string data;
        std::string expectedColor;
        std::string expectedAlpha;
        std::string above(rowBytes, '\0');
        for (uint32_t y = 0; y < height; ++y) {
            std::string raw(rowBytes, '\0');
            for (size_t i = 0; i < rowBytes; ++i) {
                raw[i] = static_cast<char>((i * 37 + y * 101 + i * i * y) % 256);
            }
            // Filter types 0 to 4, then an unknown type 5 that stays as it is.
            const auto type = static_cast<uint8_t>(y % 6);
            data += static_cast<char>(type);
            for (size_t i = 0; i < rowBytes; ++i) {
                const uint8_t a = i >= pixelBytes ? ByteAt(raw, i - pixelBytes) : 0;
                const uint8_t b = ByteAt(above, i);
                const uint8_t ul = i >= pixelBytes ? ByteAt(above, i - pixelBytes) : 0;
                const uint8_t predictor = type == 1   ? a
                                          : type == 2 ? b
                                          : type == 3 ? static_cast<uint8_t>((a + b) / 2)
                                          : type == 4 ? TPNGReader::PaethPredictor(a, b, ul)
                                                      : 0;
                data += static_cast<char>(ByteAt(raw, i) - predictor);
            }
            for (uint32_t x = 0; x < c.Width; ++x) {
                expectedColor += raw.substr(x * pixelBytes, colorBytes);
                expectedAlpha += raw.substr(x * pixelBytes + colorBytes, sampleBytes);
            }
            above = raw;
        }
        const TPNGReader reader = Read(Signature + Ihdr(c.Width, height, c.Depth, c.ColorType) +
                                       Chunk("IDAT", Compress(data)) + Iend);
        EXPECT_EQ(reader.FailureReason(), "");
        EXPECT_EQ(Inflate(reader.ColorData()), expectedColor);
        EXPECT_EQ(Inflate(reader.AlphaData()), expectedAlpha);
    }
}

TEST(VellocPNG, InterlacedOneBitGrayKeepsTheUnusedLowBitsZero)
{
    // Width 3, height 3: passes 1, 4, 5, 6 and 7 hold pixels. All source bits are set, padding
    // included.
    const std::string data = std::string("\0\xFF", 2) +       // pass 1: (0,0)
                             std::string("\0\xFF", 2) +       // pass 4: (2,0)
                             std::string("\0\xFF", 2) +       // pass 5: (0,2) (2,2)
                             std::string("\0\xFF\0\xFF", 4) + // pass 6: (1,0), (1,2)
                             std::string("\0\xFF", 2);        // pass 7: row 1
    const TPNGReader reader =
        Read(Signature + Ihdr(3, 3, 1, 0, 1) + Chunk("IDAT", Compress(data)) + Iend);
    EXPECT_FALSE(reader.PassThrough());
    EXPECT_EQ(reader.ColorBits(), 1u);
    EXPECT_EQ(Inflate(reader.ColorData()), "\xE0\xE0\xE0");
    EXPECT_TRUE(reader.AlphaData().empty());
}

// ---- Damaged and unusual files ----

TEST(VellocPNG, RgbaDataCutOffHalfwayDecodesTheTopAndFillsTheRestWithFF)
{
    const std::string file = SuiteFile("basn6a08");
    const size_t idat = FirstIdatData(file);
    const std::string cut = file.substr(0, idat + ConcatenatedIdat(file).size() / 2);
    const TPNGReader reader = Read(cut);
    EXPECT_EQ(reader.FailureReason(), "");
    const std::string color = Inflate(reader.ColorData());
    const std::string alpha = Inflate(reader.AlphaData());
    const std::string fullColor = Inflate(Read(file).ColorData());
    const std::string fullAlpha = Inflate(Read(file).AlphaData());
    ASSERT_EQ(color.size(), fullColor.size());
    ASSERT_EQ(alpha.size(), fullAlpha.size());

    size_t decodedRows = 0;
    while (decodedRows < 32 &&
           color.compare(decodedRows * 96, 96, fullColor, decodedRows * 96, 96) == 0 &&
           alpha.compare(decodedRows * 32, 32, fullAlpha, decodedRows * 32, 32) == 0) {
        ++decodedRows;
    }
    EXPECT_GT(decodedRows, 0u);
    EXPECT_LT(decodedRows, 32u);
    EXPECT_EQ(color.substr(decodedRows * 96), std::string((32 - decodedRows) * 96, '\xFF'));
    EXPECT_EQ(alpha.substr(decodedRows * 32), std::string((32 - decodedRows) * 32, '\xFF'));

    // The same cut in a file that is passed through hands on the bytes that are there.
    const std::string rgb = SuiteFile("basn2c08");
    const std::string rgbIdat = ConcatenatedIdat(rgb);
    const TPNGReader rgbCut = Read(rgb.substr(0, FirstIdatData(rgb) + rgbIdat.size() / 2));
    EXPECT_TRUE(rgbCut.PassThrough());
    EXPECT_EQ(rgbCut.ColorData(), rgbIdat.substr(0, rgbIdat.size() / 2));
}

TEST(VellocPNG, DataThatIsNoZlibStreamGivesFFRows)
{
    const std::string needsDictionary = std::string("\x78\x20\0\0\0\x01", 6) + "rest";
    for (const std::string& idat : {std::string("this is not a zlib stream"), needsDictionary}) {
        const TPNGReader reader = Read(Signature + Ihdr(4, 3, 8, 6) + Chunk("IDAT", idat) + Iend);
        EXPECT_EQ(reader.FailureReason(), "");
        EXPECT_EQ(Inflate(reader.ColorData()), std::string(4 * 3 * 3, '\xFF'));
        EXPECT_EQ(Inflate(reader.AlphaData()), std::string(4 * 3, '\xFF'));
    }
}

TEST(VellocPNG, ResolutionComesFromPhys)
{
    struct Case
    {
        uint32_t X;
        uint32_t Y;
        uint8_t Unit;
        uint32_t DpiX;
        uint32_t DpiY;
    };
    const Case cases[] = {
        {3780, 3780, 1, 96, 96}, {2835, 2835, 1, 72, 72}, // 72.009 truncated
        {1, 2, 0, 96, 192},      {0, 5000, 1, 2, 2},      // a zero becomes 96 pixels per metre
        {3780, 0, 0, 96, 96},    {20000000, 3780, 1, 78503, 96}, // 20000000 * 254 wraps at 32 bits
        {300, 150, 7, 96, 48},                                   // unknown units count as a ratio
    };
    const std::string image = Chunk("IDAT", Compress(OnePixelData(1, 8)));
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.X) + " x " + std::to_string(c.Y));
        const std::string phys = BigEndian32(c.X) + BigEndian32(c.Y) + static_cast<char>(c.Unit);
        const TPNGReader reader =
            Read(Signature + Ihdr(1, 1, 8, 0) + Chunk("pHYs", phys) + image + Iend);
        EXPECT_EQ(reader.ResolutionX(), c.DpiX);
        EXPECT_EQ(reader.ResolutionY(), c.DpiY);
    }

    const TPNGReader plain = Read(Signature + Ihdr(1, 1, 8, 0) + image + Iend);
    EXPECT_EQ(plain.ResolutionX(), 96u);
    EXPECT_EQ(plain.ResolutionY(), 96u);
    // A chunk too short to hold the unit is ignored.
    const TPNGReader shortPhys =
        Read(Signature + Ihdr(1, 1, 8, 0) + Chunk("pHYs", BigEndian32(2835) + BigEndian32(2835)) +
             image + Iend);
    EXPECT_EQ(shortPhys.FailureReason(), "");
    EXPECT_EQ(shortPhys.ResolutionX(), 96u);
    EXPECT_EQ(shortPhys.ResolutionY(), 96u);

    // PngSuite's non-square pixels: 1 x 4 and 4 x 1 without a unit.
    EXPECT_EQ(Read(SuiteFile("cdfn2c08")).ResolutionY(), 384u);
    EXPECT_EQ(Read(SuiteFile("cdhn2c08")).ResolutionY(), 24u);
}

TEST(VellocPNG, WrongCrcsAndAMissingIendChangeNothing)
{
    std::string data;
    for (int i = 0; i < 3; ++i) {
        data += std::string(1, '\0') + "\x10\x20\x30\x40\x50\x60\x70\x80";
    }
    const std::string idat = Compress(data);
    const TPNGReader good = Read(Signature + Ihdr(2, 3, 8, 6) + Chunk("gAMA", BigEndian32(45455)) +
                                 Chunk("IDAT", idat) + Iend);
    const TPNGReader badCrc =
        Read(Signature + Chunk("IHDR", Ihdr(2, 3, 8, 6).substr(8, 13), false) +
             Chunk("gAMA", BigEndian32(45455), false) + Chunk("IDAT", idat, false) +
             Chunk("IEND", "", false));
    const TPNGReader noIend = Read(Signature + Ihdr(2, 3, 8, 6) + Chunk("IDAT", idat));
    ASSERT_FALSE(good.ColorData().empty());
    for (const TPNGReader* reader : {&badCrc, &noIend}) {
        EXPECT_EQ(reader->FailureReason(), "");
        EXPECT_EQ(reader->ColorData(), good.ColorData());
        EXPECT_EQ(reader->AlphaData(), good.AlphaData());
    }
    // Several IDAT chunks are one stream.
    const TPNGReader split =
        Read(Signature + Ihdr(2, 3, 8, 6) + Chunk("IDAT", idat.substr(0, 5)) +
             Chunk("tEXt", "Comment\0between"s) + Chunk("IDAT", idat.substr(5)) + Iend);
    EXPECT_EQ(split.ColorData(), good.ColorData());
}

TEST(VellocPNG, TransparencyIsKeptButChangesNothing)
{
    // A 2x2 interlaced RGB image: passes 1, 6 and 7 hold its pixels.
    const std::string data = std::string("\0\x11\x22\x33", 4) + std::string("\0\x44\x55\x66", 4) +
                             std::string("\0\x77\x88\x99\xAA\xBB\xCC", 7);
    const std::string idat = Chunk("IDAT", Compress(data));
    const std::string trns = std::string("\0\x11\0\x22\0\x33", 6);
    const TPNGReader plain = Read(Signature + Ihdr(2, 2, 8, 2, 1) + idat + Iend);
    const TPNGReader keyed =
        Read(Signature + Ihdr(2, 2, 8, 2, 1) + Chunk("tRNS", trns) + idat + Iend);
    EXPECT_EQ(Inflate(plain.ColorData()), "\x11\x22\x33\x44\x55\x66\x77\x88\x99\xAA\xBB\xCC");
    EXPECT_EQ(keyed.Transparency(), trns);
    EXPECT_TRUE(plain.Transparency().empty());
    EXPECT_EQ(keyed.ColorData(), plain.ColorData());
    EXPECT_TRUE(keyed.AlphaData().empty());
}

TEST(VellocPNG, DamagedSuiteFilesAreHandled)
{
    // Line ends mangled by a text-mode transfer: the signature is wrong.
    const TPNGReader mangled = Read(SuiteFile("xcrn0g04"));
    EXPECT_EQ(mangled.FailureReason(), "not a PNG file");
    EXPECT_EQ(mangled.Width(), 0u);
    EXPECT_TRUE(mangled.ColorData().empty());

    // A wrong IHDR checksum is ignored like every CRC.
    const TPNGReader wrongCrc = Read(SuiteFile("xhdn0g08"));
    EXPECT_EQ(wrongCrc.FailureReason(), "");
    EXPECT_TRUE(wrongCrc.PassThrough());
    EXPECT_EQ(wrongCrc.ColorData(), ConcatenatedIdat(SuiteFile("xhdn0g08")));
}

TEST(VellocPNG, UnusableFilesLeaveColorDataEmptyAndSayWhy)
{
    const std::string gray = Chunk("IDAT", Compress(OnePixelData(1, 8)));
    struct Case
    {
        const char* Name;
        std::string File;
        std::string Reason;
    };
    const Case cases[] = {
        {"empty", "", "not a PNG file"},
        {"signature only", Signature, "no IHDR chunk"},
        {"first chunk not IHDR",
         Signature + Chunk("gAMA", BigEndian32(45455)) + Ihdr(1, 1, 8, 0) + gray + Iend,
         "no IHDR chunk"},
        {"zero width", Signature + Ihdr(0, 1, 8, 0) + gray + Iend, "zero width or height"},
        {"zero height", Signature + Ihdr(1, 0, 8, 0) + gray + Iend, "zero width or height"},
        {"no IDAT", Signature + Ihdr(1, 1, 8, 0) + Iend, "no image data"},
        {"IDAT after IEND", Signature + Ihdr(1, 1, 8, 0) + Iend + gray, "no image data"},
        {"compression method 1", Signature + Ihdr(1, 1, 8, 0, 0, 1) + gray + Iend,
         "unknown compression method 1"},
        {"filter method 1", Signature + Ihdr(1, 1, 8, 0, 0, 0, 1) + gray + Iend,
         "unknown filter method 1"},
        {"interlace method 2", Signature + Ihdr(1, 1, 8, 0, 2) + gray + Iend,
         "unknown interlace method 2"},
        {"palette without PLTE", Signature + Ihdr(1, 1, 8, 3) + gray + Iend,
         "no palette for a palette image"},
        {"palette of 257 entries",
         Signature + Ihdr(1, 1, 8, 3) + Chunk("PLTE", std::string(3 * 257, '\x10')) + gray + Iend,
         "palette with more than 256 entries"},
        {"interlaced palette without PLTE", Signature + Ihdr(1, 1, 8, 3, 1) + gray + Iend,
         "no palette for a palette image"},
        {"width above the PNG limit", Signature + Ihdr(0x80000000, 1, 8, 0) + gray + Iend,
         "width or height above 2147483647"},
        {"height above the PNG limit", Signature + Ihdr(1, 0xFFFFFFFF, 8, 0) + gray + Iend,
         "width or height above 2147483647"},
        // Passed through, but its plane would not fit 64 bits.
        {"plane beyond the size type",
         Signature + Ihdr(0x7FFFFFFF, 0x7FFFFFFF, 16, 2) + gray + Iend, "image too large"},
        {"rows beyond the memory limit", Signature + Ihdr(0x7FFFFFFF, 1, 16, 6) + gray + Iend,
         "image too large"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Name);
        const TPNGReader reader = Read(c.File);
        EXPECT_EQ(reader.FailureReason(), c.Reason);
        EXPECT_TRUE(reader.ColorData().empty());
        EXPECT_TRUE(reader.AlphaData().empty());
    }
}

TEST(VellocPNG, OnlyTheBitDepthsPngAllowsAreAccepted)
{
    const int colorTypes[] = {0, 1, 2, 3, 4, 5, 6, 7};
    const uint8_t depths[] = {0, 1, 2, 3, 4, 5, 8, 12, 16, 32};
    const std::string palette = Chunk("PLTE", std::string(3 * 16, '\x40'));
    for (const int colorType : colorTypes) {
        for (const uint8_t depth : depths) {
            for (const uint8_t interlace : {0, 1}) {
                SCOPED_TRACE("colour type " + std::to_string(colorType) + ", depth " +
                             std::to_string(depth) + ", interlace " + std::to_string(interlace));
                const bool knownType = colorType == 0 || colorType == 2 || colorType == 3 ||
                                       colorType == 4 || colorType == 6;
                const bool allowed =
                    (colorType == 0 &&
                     (depth == 1 || depth == 2 || depth == 4 || depth == 8 || depth == 16)) ||
                    (colorType == 3 && (depth == 1 || depth == 2 || depth == 4 || depth == 8)) ||
                    ((colorType == 2 || colorType == 4 || colorType == 6) &&
                     (depth == 8 || depth == 16));
                const uint32_t samples = colorType == 2   ? 3
                                         : colorType == 4 ? 2
                                         : colorType == 6 ? 4
                                                          : 1;
                const TPNGReader reader =
                    Read(Signature + Ihdr(1, 1, depth, static_cast<uint8_t>(colorType), interlace) +
                         palette + Chunk("IDAT", Compress(OnePixelData(samples, depth))) + Iend);
                if (allowed) {
                    EXPECT_EQ(reader.FailureReason(), "");
                    EXPECT_FALSE(reader.ColorData().empty());
                } else {
                    EXPECT_EQ(reader.FailureReason(),
                              knownType
                                  ? "bit depth " + std::to_string(depth) +
                                        " not allowed for colour type " + std::to_string(colorType)
                                  : "unknown colour type " + std::to_string(colorType));
                    EXPECT_TRUE(reader.ColorData().empty());
                }
            }
        }
    }
}

TEST(VellocPNG, AHugeHeaderIsRefusedBeforeAnythingIsAllocatedForIt)
{
    // 100000 x 100000 RGBA would need 40 GB of planes; its data is a few hundred bytes.
    const std::string file = Signature + Ihdr(100000, 100000, 8, 6) +
                             Chunk("IDAT", Compress(std::string(1 << 16, '\0'))) + Iend;
    // A chunk that claims 4 GB at the end of a small file.
    const std::string longChunk = Signature + Ihdr(1, 1, 8, 0) +
                                  Chunk("IDAT", Compress(OnePixelData(1, 8))) +
                                  BigEndian32(0xFFFFFFF0) + "PLTE" + "abc";

    g_LargestAllocation = 0;
    g_WatchAllocations = true;
    const auto start = std::chrono::steady_clock::now();
    const TPNGReader huge = Read(file);
    const TPNGReader cut = Read(longChunk);
    const auto elapsed = std::chrono::steady_clock::now() - start;
    g_WatchAllocations = false;

    EXPECT_EQ(huge.FailureReason(), "image too large");
    EXPECT_EQ(huge.Width(), 100000u);
    EXPECT_TRUE(huge.ColorData().empty());
    EXPECT_TRUE(huge.AlphaData().empty());
    EXPECT_EQ(cut.FailureReason(), "");
    EXPECT_TRUE(cut.Palette().empty());
    EXPECT_FALSE(cut.ColorData().empty());
    EXPECT_LE(g_LargestAllocation.load(), size_t{2} << 20);
    EXPECT_LT(elapsed, std::chrono::seconds(2));
}

TEST(VellocPNG, AHugeImageThatIsPassedThroughNeedsNoPlanes)
{
    // Nothing is decoded, so nothing large is allocated: the data goes on as it is.
    const std::string idat = Compress(std::string(1 << 16, '\0'));
    const TPNGReader reader =
        Read(Signature + Ihdr(100000, 100000, 8, 0) + Chunk("IDAT", idat) + Iend);
    EXPECT_EQ(reader.FailureReason(), "");
    EXPECT_TRUE(reader.PassThrough());
    EXPECT_EQ(reader.ColorData(), idat);
}

TEST(VellocPNG, LaterHeaderAndPaletteChunksReplaceEarlierOnes)
{
    const std::string file = Signature + Ihdr(7, 7, 8, 0) + Chunk("PLTE", std::string(6, '\x10')) +
                             Ihdr(1, 1, 8, 3) +
                             Chunk("PLTE", std::string("\x00\x00\x00\xFF\xFF\xFF", 6)) +
                             Chunk("IDAT", Compress(OnePixelData(1, 8))) + Iend;
    const TPNGReader reader = Read(file);
    EXPECT_EQ(reader.Width(), 1u);
    EXPECT_EQ(reader.ColorType(), 3);
    EXPECT_EQ(reader.PaletteCount(), 2);
    EXPECT_EQ(reader.PaletteColorSpace(), "/DeviceRGB 1<000000FFFFFF>");
}

TEST(VellocPNG, PaletteColorSpaceWritesEveryPaletteByte)
{
    const std::string idat = Chunk("IDAT", Compress(OnePixelData(1, 8)));
    const TPNGReader blackWhite = Read(Signature + Ihdr(1, 1, 1, 3) +
                                       Chunk("PLTE", std::string("\0\0\0\xFF\xFF\xFF", 6)) + idat);
    EXPECT_EQ(blackWhite.PaletteColorSpace(), "/DeviceRGB 1<000000FFFFFF>");

    // A trailing incomplete entry is not counted but is written.
    const TPNGReader ragged =
        Read(Signature + Ihdr(1, 1, 8, 3) + Chunk("PLTE", "\x12\x34\x56\xAB\xCD\xEF\x0A") + idat);
    EXPECT_EQ(ragged.PaletteCount(), 2);
    EXPECT_EQ(ragged.Palette().size(), 7u);
    EXPECT_EQ(ragged.PaletteColorSpace(), "/DeviceRGB 1<123456ABCDEF0A>");
}

TEST(VellocPNG, PaethPredictorBreaksTiesTowardsLeftThenAbove)
{
    struct Case
    {
        uint8_t Left;
        uint8_t Above;
        uint8_t UpperLeft;
        uint8_t Expected;
    };
    const Case cases[] = {
        {10, 10, 10, 10},   // all equal
        {8, 11, 10, 8},     // left and upper-left tie: left
        {11, 8, 10, 8},     // above and upper-left tie: above
        {10, 20, 15, 15},   // upper-left is exact
        {200, 200, 0, 200}, // left and above tie: left
        {0, 0, 255, 0},     {100, 50, 90, 50}, {100, 50, 60, 100},
        {50, 100, 60, 100}, {255, 0, 0, 255},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.Left) + " " + std::to_string(c.Above) + " " +
                     std::to_string(c.UpperLeft));
        EXPECT_EQ(TPNGReader::PaethPredictor(c.Left, c.Above, c.UpperLeft), c.Expected);
    }
}
