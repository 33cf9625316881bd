#include "workers/ImageMeasure.h"

#include <FreeImage.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <string>

using namespace pagewell;

namespace {

struct FreeImageUnload
{
    void operator()(FIBITMAP* bitmap) const { FreeImage_Unload(bitmap); }
};
using FreeImageBitmap = std::unique_ptr<FIBITMAP, FreeImageUnload>;

std::string SuiteFile(const std::string& name)
{
    return std::string(PAGEWELL_TEST_DATA) + "/pngsuite/" + name;
}

// A 600 by 400 RGB PNG whose pHYs chunk gives the dots per metre, written by FreeImage.
std::string WritePngWithResolution(const std::string& name, unsigned dotsPerMeterX,
                                   unsigned dotsPerMeterY)
{
    const std::filesystem::path path = std::filesystem::temp_directory_path() / name;
    const FreeImageBitmap bitmap(FreeImage_Allocate(600, 400, 24));
    FreeImage_SetDotsPerMeterX(bitmap.get(), dotsPerMeterX);
    FreeImage_SetDotsPerMeterY(bitmap.get(), dotsPerMeterY);
    EXPECT_TRUE(FreeImage_Save(FIF_PNG, bitmap.get(), path.c_str(), PNG_DEFAULT));
    return path.string();
}

} // namespace

// Reading only the header must give what a full decode gives, or pages would not match images.
TEST(ImageMeasureTest, HeaderOnlyLoadAgreesWithFullLoad)
{
    const std::string files[] = {
        SuiteFile("basn0g01.png"),
        SuiteFile("basi0g16.png"),
        SuiteFile("basn2c16.png"),
        SuiteFile("basi3p04.png"),
        SuiteFile("basn4a08.png"),
        SuiteFile("basi6a16.png"),
        SuiteFile("cdfn2c08.png"),
        SuiteFile("cdhn2c08.png"),
        WritePngWithResolution("pagewell-measure-phys.png", 3780, 11811),
    };
    for (const std::string& file : files) {
        SCOPED_TRACE(file);
        const std::optional<TImageMeasure> measure = MeasureImageFile(file);
        ASSERT_TRUE(measure.has_value());
        const FreeImageBitmap full(
            FreeImage_Load(FreeImage_GetFileType(file.c_str(), 0), file.c_str(), 0));
        ASSERT_TRUE(full);
        ASSERT_TRUE(FreeImage_HasPixels(full.get()));
        EXPECT_EQ(measure->Width, FreeImage_GetWidth(full.get()));
        EXPECT_EQ(measure->Height, FreeImage_GetHeight(full.get()));
        EXPECT_EQ(measure->DotsPerMeterX, FreeImage_GetDotsPerMeterX(full.get()));
        EXPECT_EQ(measure->DotsPerMeterY, FreeImage_GetDotsPerMeterY(full.get()));
    }
    const std::optional<TImageMeasure> phys =
        MeasureImageFile(WritePngWithResolution("pagewell-measure-phys.png", 3780, 11811));
    ASSERT_TRUE(phys.has_value());
    EXPECT_EQ(phys->DotsPerMeterX, 3780u);
    EXPECT_EQ(phys->DotsPerMeterY, 11811u);
    std::filesystem::remove(std::filesystem::temp_directory_path() / "pagewell-measure-phys.png");
}

TEST(ImageMeasureTest, FilesWithoutAReadableHeaderGiveNothing)
{
    const std::string text = (std::filesystem::temp_directory_path() / "pagewell-text.png");
    {
        FILE* file = std::fopen(text.c_str(), "wb");
        ASSERT_NE(file, nullptr);
        std::fputs("not an image\n", file);
        std::fclose(file);
    }
    for (const std::string& file : {SuiteFile("xcrn0g04.png"), SuiteFile("xhdn0g08.png"), text,
                                    SuiteFile("no-such-file.png")}) {
        SCOPED_TRACE(file);
        EXPECT_FALSE(MeasureImageFile(file).has_value());
    }
    std::filesystem::remove(text);
}

TEST(ImageMeasureTest, ResolutionInWholeDotsPerInch)
{
    struct TCase
    {
        uint32_t DotsPerMeter;
        int64_t Dpi;
    };
    const TCase cases[] = {
        {3780, 96},   // 96.012
        {2835, 72},   // 72.009
        {11811, 300}, // 299.9994
        {0, 72},      // no resolution
        {19, 72},     // 0.48 rounds to 0
        {20, 1},      // 0.508
        {59, 1},      // 1.4986
        {60, 2},      // 1.524
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.DotsPerMeter);
        EXPECT_EQ(ResolutionDpi(c.DotsPerMeter), c.Dpi);
    }
}

TEST(ImageMeasureTest, PageSizeFromPixelsAndResolution)
{
    struct TCase
    {
        TImageMeasure Measure;
        double WidthPt;
        double HeightPt;
    };
    const TCase cases[] = {
        {{600, 400, 3780, 3780}, 450, 300},
        {{600, 400, 2835, 2835}, 600, 400},
        {{600, 400, 0, 0}, 600, 400},
        // Horizontal resolution only: the height is taken at 72 dpi.
        {{600, 400, 3780, 0}, 450, 400},
        // Ties go to the even neighbour: 1 * 72 / 48 = 1.5, 5 * 72 / 144 = 2.5, 7 * 0.5 = 3.5.
        {{1, 5, 1890, 5669}, 2, 2},
        {{7, 7, 5669, 5669}, 4, 4},
        // The resolution is rounded before it divides: 1000 px at 11811 dpm is 240 points.
        {{1000, 1000, 11811, 11811}, 240, 240},
        // A tiny image at a high resolution still gets a page of one point, not zero.
        {{1, 2, 11811, 11811}, 1, 1},
        {{0xFFFFFFFF, 1, 0, 0}, 4294967295.0, 1},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(::testing::Message()
                     << c.Measure.Width << "x" << c.Measure.Height << " at "
                     << c.Measure.DotsPerMeterX << "/" << c.Measure.DotsPerMeterY);
        const TPageSize size = PageSizeOf(c.Measure);
        EXPECT_EQ(size.WidthPt, c.WidthPt);
        EXPECT_EQ(size.HeightPt, c.HeightPt);
    }
}
