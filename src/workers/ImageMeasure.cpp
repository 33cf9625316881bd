#include "workers/ImageMeasure.h"

#include <FreeImage.h>

#include <cmath>
#include <memory>

namespace pagewell {

namespace {

struct FreeImageUnload
{
    void operator()(FIBITMAP* bitmap) const { FreeImage_Unload(bitmap); }
};
using FreeImageBitmap = std::unique_ptr<FIBITMAP, FreeImageUnload>;

// 100 / 2.54: dots per metre in one dot per inch. The division is done in long double, which
// is the 80-bit extended type on x86-64.
constexpr long double DotsPerMeterPerDpi = 39.370078740157480315L;

constexpr long double PointsPerInch = 72.0L;

int64_t RoundHalfEven(long double value)
{
    return static_cast<int64_t>(std::nearbyintl(value));
}

} // namespace

std::optional<TImageMeasure> MeasureImageFile(const std::string& utf8FileName)
{
    const FREE_IMAGE_FORMAT format = FreeImage_GetFileType(utf8FileName.c_str(), 0);
    if (format == FIF_UNKNOWN) {
        return std::nullopt;
    }
    FreeImageBitmap bitmap(FreeImage_Load(format, utf8FileName.c_str(), FIF_LOAD_NOPIXELS));
    if (!bitmap) {
        return std::nullopt;
    }
    TImageMeasure measure;
    measure.Width = FreeImage_GetWidth(bitmap.get());
    measure.Height = FreeImage_GetHeight(bitmap.get());
    measure.DotsPerMeterX = FreeImage_GetDotsPerMeterX(bitmap.get());
    measure.DotsPerMeterY = FreeImage_GetDotsPerMeterY(bitmap.get());
    if (measure.Width == 0 || measure.Height == 0) {
        return std::nullopt;
    }
    return measure;
}

int64_t ResolutionDpi(uint32_t dotsPerMeter)
{
    const int64_t dpi = RoundHalfEven(static_cast<long double>(dotsPerMeter) / DotsPerMeterPerDpi);
    return dpi == 0 ? 72 : dpi;
}

double PageLengthPt(uint32_t pixels, int64_t dpi)
{
    const int64_t length = RoundHalfEven(static_cast<long double>(pixels) *
                                         (PointsPerInch / static_cast<long double>(dpi)));
    return static_cast<double>(length == 0 ? 1 : length);
}

TPageSize PageSizeOf(const TImageMeasure& measure)
{
    return {PageLengthPt(measure.Width, ResolutionDpi(measure.DotsPerMeterX)),
            PageLengthPt(measure.Height, ResolutionDpi(measure.DotsPerMeterY))};
}

} // namespace pagewell
