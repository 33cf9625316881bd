#ifndef PAGEWELL_PNG_DECODE_TOOLS_H
#define PAGEWELL_PNG_DECODE_TOOLS_H

// What a page should look like, from FreeImage's decoding of the PNG file: alpha composited
// over the background, tRNS ignored, 16-bit samples by their high byte. And the PNM pictures
// a renderer writes, for comparison.

#include <FreeImage.h>

#include <cmath>
#include <cstdint>
#include <fstream>
#include <iterator>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

namespace pagewell::test {

struct FreeImageUnload
{
    void operator()(FIBITMAP* bitmap) const { FreeImage_Unload(bitmap); }
};
using FreeImageBitmap = std::unique_ptr<FIBITMAP, FreeImageUnload>;

// Interleaved 8-bit RGB, top row first.
struct TRgbPicture
{
    unsigned Width = 0;
    unsigned Height = 0;
    std::vector<uint8_t> Samples;
};

struct TRgba
{
    uint8_t Red, Green, Blue, Alpha;
};

// One pixel of a decoded PNG, x from the left, y from the top. The palette's transparency
// table is not consulted, so tRNS has no effect.
inline TRgba PixelOf(FIBITMAP* bitmap, unsigned x, unsigned y)
{
    // FreeImage keeps the bottom row first.
    const unsigned row = FreeImage_GetHeight(bitmap) - 1 - y;
    const BYTE* line = FreeImage_GetScanLine(bitmap, static_cast<int>(row));
    switch (FreeImage_GetImageType(bitmap)) {
    case FIT_UINT16: {
        const auto grey = static_cast<uint8_t>(reinterpret_cast<const uint16_t*>(line)[x] >> 8);
        return {grey, grey, grey, 255};
    }
    case FIT_RGB16: {
        const FIRGB16& p = reinterpret_cast<const FIRGB16*>(line)[x];
        return {static_cast<uint8_t>(p.red >> 8), static_cast<uint8_t>(p.green >> 8),
                static_cast<uint8_t>(p.blue >> 8), 255};
    }
    case FIT_RGBA16: {
        const FIRGBA16& p = reinterpret_cast<const FIRGBA16*>(line)[x];
        return {static_cast<uint8_t>(p.red >> 8), static_cast<uint8_t>(p.green >> 8),
                static_cast<uint8_t>(p.blue >> 8), static_cast<uint8_t>(p.alpha >> 8)};
    }
    default:
        break;
    }
    const unsigned bpp = FreeImage_GetBPP(bitmap);
    if (bpp <= 8) {
        BYTE index = 0;
        FreeImage_GetPixelIndex(bitmap, x, row, &index);
        const RGBQUAD& entry = FreeImage_GetPalette(bitmap)[index];
        return {entry.rgbRed, entry.rgbGreen, entry.rgbBlue, 255};
    }
    const BYTE* p = line + x * (bpp / 8);
    return {p[FI_RGBA_RED], p[FI_RGBA_GREEN], p[FI_RGBA_BLUE],
            bpp == 32 ? p[FI_RGBA_ALPHA] : static_cast<BYTE>(255)};
}

// FreeImage corrects PNG samples by the file's gAMA chunk unless told not to; PDF image data
// carries the samples as they are stored.
inline FIBITMAP* LoadIgnoringGamma(const std::string& fileName)
{
    return FreeImage_Load(FreeImage_GetFileType(fileName.c_str(), 0), fileName.c_str(),
                          PNG_IGNOREGAMMA);
}

inline TRgbPicture DecodeOverBackground(const std::string& fileName, const uint8_t background[3])
{
    TRgbPicture picture;
    const FreeImageBitmap bitmap(LoadIgnoringGamma(fileName));
    if (!bitmap) {
        return picture;
    }
    picture.Width = FreeImage_GetWidth(bitmap.get());
    picture.Height = FreeImage_GetHeight(bitmap.get());
    picture.Samples.reserve(size_t{picture.Width} * picture.Height * 3);
    for (unsigned y = 0; y < picture.Height; ++y) {
        for (unsigned x = 0; x < picture.Width; ++x) {
            const TRgba p = PixelOf(bitmap.get(), x, y);
            for (int c = 0; c < 3; ++c) {
                const uint8_t sample = c == 0 ? p.Red : c == 1 ? p.Green : p.Blue;
                const double over = (sample * p.Alpha + background[c] * (255.0 - p.Alpha)) / 255.0;
                picture.Samples.push_back(static_cast<uint8_t>(std::nearbyint(over)));
            }
        }
    }
    return picture;
}

// A binary PPM (P6, maxval 255) as MuPDF writes it with "-c rgb".
inline TRgbPicture ReadPnm(const std::string& fileName)
{
    TRgbPicture picture;
    std::ifstream file(fileName, std::ios::binary);
    std::string magic;
    unsigned maxValue = 0;
    file >> magic >> picture.Width >> picture.Height >> maxValue;
    file.get();
    if (magic != "P6" || maxValue != 255) {
        return {};
    }
    picture.Samples.assign(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
    return picture;
}

// Where two pictures differ by more than `tolerance` in a sample; empty when they agree.
inline std::string CompareWithin(const TRgbPicture& actual, const TRgbPicture& expected,
                                 int tolerance)
{
    std::ostringstream problem;
    if (actual.Width != expected.Width || actual.Height != expected.Height ||
        actual.Samples.size() != expected.Samples.size()) {
        problem << "size " << actual.Width << "x" << actual.Height << " (" << actual.Samples.size()
                << " samples), expected " << expected.Width << "x" << expected.Height;
        return problem.str();
    }
    for (size_t i = 0; i < actual.Samples.size(); ++i) {
        if (std::abs(int{actual.Samples[i]} - int{expected.Samples[i]}) > tolerance) {
            const size_t pixel = i / 3;
            problem << "pixel " << pixel % actual.Width << "," << pixel / actual.Width << " sample "
                    << i % 3 << ": " << int{actual.Samples[i]} << ", expected "
                    << int{expected.Samples[i]};
            return problem.str();
        }
    }
    return {};
}

} // namespace pagewell::test

#endif
