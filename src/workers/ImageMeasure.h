#ifndef PAGEWELL_IMAGE_MEASURE_H
#define PAGEWELL_IMAGE_MEASURE_H

#include <cstdint>
#include <optional>
#include <string>

namespace pagewell {

// What a page needs to know of an image: its size in pixels and its resolution in dots per
// metre (0 when the file names none).
struct TImageMeasure
{
    uint32_t Width = 0;
    uint32_t Height = 0;
    uint32_t DotsPerMeterX = 0;
    uint32_t DotsPerMeterY = 0;
};

// A page size in points, whole numbers.
struct TPageSize
{
    double WidthPt = 0;
    double HeightPt = 0;
};

// Reads the image's header with FreeImage (no pixels are decoded). Empty when FreeImage does
// not know the file's type, cannot read its header, or finds no pixels in it.
std::optional<TImageMeasure> MeasureImageFile(const std::string& utf8FileName);

// Dots per metre as whole dots per inch, ties to even; 0 (no resolution, or so low that it
// rounds to 0) counts as 72.
int64_t ResolutionDpi(uint32_t dotsPerMeter);

// Pixels times (72 / dpi), ties to even. A length that rounds to 0 (a tiny image at a high
// resolution) becomes 1 point, since a page without area is not a usable page.
double PageLengthPt(uint32_t pixels, int64_t dpi);

TPageSize PageSizeOf(const TImageMeasure& measure);

} // namespace pagewell

#endif
