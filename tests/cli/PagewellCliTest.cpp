// Runs build/bin/pagewell-cli on real files and checks the written PDF with qpdf, pdfinfo and
// MuPDF's renderer.

#include "../support/PagewellTestTools.h"
#include "../support/PngDecodeTools.h"

#include <FreeImage.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <regex>
#include <string>
#include <vector>

using namespace pagewell::test;
namespace fs = std::filesystem;

namespace {

const std::string SuiteFolder = std::string(PAGEWELL_TEST_DATA) + "/pngsuite";

std::string SuiteFile(const std::string& name)
{
    return SuiteFolder + "/" + name;
}

TCommandResult RunCli(const std::string& arguments)
{
    return RunCommand(ShellQuote(std::string(PAGEWELL_BIN_DIR) + "/pagewell-cli") + " " +
                      arguments);
}

std::string Quoted(const std::vector<std::string>& words)
{
    std::string text;
    for (const std::string& word : words) {
        text += (text.empty() ? "" : " ") + ShellQuote(word);
    }
    return text;
}

// pdfinfo's "Page N size: W x H pts" lines, as "WxH".
std::vector<std::string> PageSizes(const std::string& pdf)
{
    const TCommandResult info = RunCommand("pdfinfo -f 1 -l 100000 " + ShellQuote(pdf));
    static const std::regex line(R"(Page\s+\d+ size:\s+([\d.]+) x ([\d.]+) pts)");
    std::vector<std::string> sizes;
    for (auto match = std::sregex_iterator(info.Output.begin(), info.Output.end(), line);
         match != std::sregex_iterator(); ++match) {
        sizes.push_back((*match)[1].str() + "x" + (*match)[2].str());
    }
    return sizes;
}

void ExpectQpdfCheckClean(const std::string& pdf)
{
    const TCommandResult check = RunCommand("qpdf --check " + ShellQuote(pdf));
    EXPECT_EQ(check.ExitStatus, 0) << check.Output;
    EXPECT_NE(check.Output.find("No syntax or stream encoding errors found"), std::string::npos)
        << check.Output;
}

// Renders every page at `dpi` into page1.pnm, page2.pnm, ... of the folder.
std::vector<TRgbPicture> RenderPages(const std::string& pdf, int dpi, const TTempFolder& folder,
                                     size_t pageCount)
{
    const TCommandResult draw =
        RunCommand("mutool draw -q -r " + std::to_string(dpi) + " -c rgb -o " +
                   ShellQuote(folder / "page%d.pnm") + " " + ShellQuote(pdf));
    EXPECT_EQ(draw.ExitStatus, 0) << draw.Output;
    std::vector<TRgbPicture> pages;
    for (size_t page = 1; page <= pageCount; ++page) {
        pages.push_back(ReadPnm(folder / ("page" + std::to_string(page) + ".pnm")));
    }
    return pages;
}

// A copy of a PngSuite file whose pHYs chunk states the dots per metre, written by FreeImage.
void WriteWithResolution(const std::string& source, const std::string& target,
                         unsigned dotsPerMeterX, unsigned dotsPerMeterY)
{
    const FreeImageBitmap bitmap(LoadIgnoringGamma(source));
    ASSERT_TRUE(bitmap);
    FreeImage_SetDotsPerMeterX(bitmap.get(), dotsPerMeterX);
    FreeImage_SetDotsPerMeterY(bitmap.get(), dotsPerMeterY);
    ASSERT_TRUE(FreeImage_Save(FIF_PNG, bitmap.get(), target.c_str(), PNG_DEFAULT));
}

// The numbers of the image XObjects, in file order.
std::vector<int> ImageObjects(const std::string& pdf)
{
    static const std::regex image(R"(/Subtype\s*/Image\b)");
    std::vector<int> images;
    for (const int number : PdfObjectNumbers(pdf)) {
        if (std::regex_search(PdfObjectText(pdf, number), image)) {
            images.push_back(number);
        }
    }
    return images;
}

bool HasEntry(const std::string& objectText, const std::string& pattern)
{
    return std::regex_search(objectText, std::regex(pattern));
}

// Components whose fill colour text (0.2 0.4 0.8) is exact, so the only error left is the
// renderer's own compositing.
const uint8_t Background[3] = {51, 102, 204};
const std::string BackgroundOption = "--background 3366CC";

} // namespace

// Every PngSuite file in one run over the folder: the damaged ones are named and left out, and
// every other page, drawn at the image's resolution, is the image over the background.
TEST(PagewellCliTest, PngSuiteFolderRendersLikeTheDecodedImages)
{
    const TTempFolder folder("cli-suite");
    const std::string pdf = folder / "suite.pdf";
    const TCommandResult run =
        RunCli("-o " + ShellQuote(pdf) + " " + BackgroundOption + " " + ShellQuote(SuiteFolder));
    EXPECT_EQ(run.ExitStatus, 1) << run.Output;
    for (const char* damaged : {"xcrn0g04.png", "xhdn0g08.png"}) {
        EXPECT_NE(run.Output.find("pagewell-cli: " + SuiteFile(damaged) + ": "), std::string::npos)
            << run.Output;
    }
    EXPECT_EQ(std::count(run.Output.begin(), run.Output.end(), '\n'), 2) << run.Output;
    ExpectQpdfCheckClean(pdf);

    std::vector<std::string> good;
    for (const auto& entry : fs::directory_iterator(SuiteFolder)) {
        const std::string name = entry.path().filename().string();
        if (entry.path().extension() == ".png" && !name.starts_with("x")) {
            good.push_back(name);
        }
    }
    std::sort(good.begin(), good.end());

    // PngSuite files state no resolution in metres: 72 dpi, one point per pixel.
    std::vector<std::string> expectedSizes;
    for (const std::string& name : good) {
        expectedSizes.push_back(name.starts_with("cdf")   ? "8x32"
                                : name.starts_with("cdh") ? "32x8"
                                                          : "32x32");
    }
    EXPECT_EQ(PageSizes(pdf), expectedSizes);

    const std::vector<TRgbPicture> pages = RenderPages(pdf, 72, folder, good.size());
    for (size_t i = 0; i < good.size(); ++i) {
        SCOPED_TRACE(good[i]);
        EXPECT_EQ(CompareWithin(pages[i], DecodeOverBackground(SuiteFile(good[i]), Background), 1),
                  "");
    }
}

TEST(PagewellCliTest, PageSizeFollowsTheImageResolution)
{
    const TTempFolder folder("cli-dpi");
    // 96 dpi both ways (3780 dots per metre), then 96 dpi across and 72 dpi down.
    WriteWithResolution(SuiteFile("basn6a08.png"), folder / "a96.png", 3780, 3780);
    WriteWithResolution(SuiteFile("basn2c08.png"), folder / "b96x72.png", 3780, 2835);
    const std::string pdf = folder / "dpi.pdf";
    const TCommandResult run = RunCli("-o " + ShellQuote(pdf) + " " + BackgroundOption + " " +
                                      Quoted({folder / "a96.png", folder / "b96x72.png"}));
    EXPECT_EQ(run.ExitStatus, 0) << run.Output;
    ExpectQpdfCheckClean(pdf);
    EXPECT_EQ(PageSizes(pdf), (std::vector<std::string>{"24x24", "24x32"}));
    // At 96 dpi the first page is again one device pixel per image pixel.
    const std::vector<TRgbPicture> pages = RenderPages(pdf, 96, folder, 1);
    EXPECT_EQ(CompareWithin(pages[0], DecodeOverBackground(folder / "a96.png", Background), 1), "");
}

// 16-bit samples reach the file unchanged; pdfimages cannot be trusted with them, so the
// decoded stream data is compared with FreeImage's samples.
TEST(PagewellCliTest, SixteenBitSamplesAreKeptAndRaiseTheVersion)
{
    const TTempFolder folder("cli-16");
    for (const char* name : {"basn2c16.png", "basn6a16.png", "basi0g16.png"}) {
        SCOPED_TRACE(name);
        const std::string pdf = folder / (std::string(name) + ".pdf");
        const TCommandResult run = RunCli("-o " + ShellQuote(pdf) + " " + SuiteFile(name));
        ASSERT_EQ(run.ExitStatus, 0) << run.Output;
        ExpectQpdfCheckClean(pdf);
        const std::string bytes = ReadBytes(pdf);
        EXPECT_TRUE(bytes.starts_with("%PDF-1.5")) << bytes.substr(0, 9);

        const FreeImageBitmap bitmap(LoadIgnoringGamma(SuiteFile(name)));
        ASSERT_TRUE(bitmap);
        const unsigned width = FreeImage_GetWidth(bitmap.get());
        const unsigned height = FreeImage_GetHeight(bitmap.get());
        const FREE_IMAGE_TYPE type = FreeImage_GetImageType(bitmap.get());
        const unsigned colors = type == FIT_UINT16 ? 1 : 3;
        // Grey with alpha is expanded to RGBA by FreeImage; the PDF keeps one grey sample.
        const bool greyAlpha = std::string(name).starts_with("basn4");
        std::string colorSamples;
        std::string alphaSamples;
        for (unsigned y = 0; y < height; ++y) {
            const auto* line = reinterpret_cast<const uint16_t*>(
                FreeImage_GetScanLine(bitmap.get(), static_cast<int>(height - 1 - y)));
            const unsigned stride = type == FIT_RGBA16 ? 4 : colors;
            for (unsigned x = 0; x < width; ++x) {
                for (unsigned c = 0; c < (greyAlpha ? 1 : colors); ++c) {
                    colorSamples += static_cast<char>(line[x * stride + c] >> 8);
                    colorSamples += static_cast<char>(line[x * stride + c] & 0xFF);
                }
                if (type == FIT_RGBA16) {
                    alphaSamples += static_cast<char>(line[x * stride + 3] >> 8);
                    alphaSamples += static_cast<char>(line[x * stride + 3] & 0xFF);
                }
            }
        }

        const std::vector<int> images = ImageObjects(bytes);
        ASSERT_EQ(images.size(), alphaSamples.empty() ? 1u : 2u);
        for (const int image : images) {
            const std::string dictionary = PdfObjectText(bytes, image);
            EXPECT_TRUE(HasEntry(dictionary, R"(/BitsPerComponent\s+16\b)")) << dictionary;
            const TCommandResult data = RunCommand("qpdf --show-object=" + std::to_string(image) +
                                                   " --filtered-stream-data " + ShellQuote(pdf));
            ASSERT_EQ(data.ExitStatus, 0) << data.Output.substr(0, 200);
            const bool isMask = !alphaSamples.empty() && image == images.front();
            EXPECT_TRUE(data.Output == (isMask ? alphaSamples : colorSamples))
                << "object " << image << ": " << data.Output.size() << " bytes";
        }
    }

    const std::string pdf = folder / "eight.pdf";
    ASSERT_EQ(RunCli("-o " + ShellQuote(pdf) + " " + SuiteFile("basn2c08.png")).ExitStatus, 0);
    EXPECT_TRUE(ReadBytes(pdf).starts_with("%PDF-1.4"));
}

// The objects of a two-page file in writing order: page tree root, the first page (which
// becomes page 2), catalog, information, its content, XMP metadata, the inserted page and its
// content, then each file's soft mask before its colour image.
TEST(PagewellCliTest, ObjectLayoutOfSmallDocuments)
{
    const TTempFolder folder("cli-layout");
    struct TCase
    {
        std::vector<std::string> Files;
        int ObjectCount;
        std::vector<int> Images;
    };
    const TCase cases[] = {
        {{"basn6a08.png", "basn6a16.png"}, 12, {9, 10, 11, 12}},
        {{"basn2c08.png", "basn0g08.png"}, 10, {9, 10}},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Files[0]);
        const std::string pdf = folder / "layout.pdf";
        ASSERT_EQ(RunCli("-o " + ShellQuote(pdf) + " " +
                         Quoted({SuiteFile(c.Files[0]), SuiteFile(c.Files[1])}))
                      .ExitStatus,
                  0);
        const std::string bytes = ReadBytes(pdf);
        std::vector<int> expected(static_cast<size_t>(c.ObjectCount));
        for (int i = 0; i < c.ObjectCount; ++i) {
            expected[static_cast<size_t>(i)] = i + 1;
        }
        EXPECT_EQ(PdfObjectNumbers(bytes), expected);
        EXPECT_EQ(PdfTrailerSize(bytes), c.ObjectCount + 1);
        EXPECT_TRUE(HasEntry(PdfObjectText(bytes, 1), R"(/Kids\s*\[\s*7 0 R\s+2 0 R\s*\])"))
            << PdfObjectText(bytes, 1);
        EXPECT_TRUE(HasEntry(PdfObjectText(bytes, 3), R"(/Type\s*/Catalog)"));
        EXPECT_TRUE(HasEntry(PdfObjectText(bytes, 6), R"(/Type\s*/Metadata)"));
        EXPECT_EQ(ImageObjects(bytes), c.Images);
        if (c.Images.size() == 4) {
            EXPECT_TRUE(HasEntry(PdfObjectText(bytes, 10), R"(/SMask\s+9 0 R)"));
            EXPECT_TRUE(HasEntry(PdfObjectText(bytes, 12), R"(/SMask\s+11 0 R)"));
        }
        ExpectQpdfCheckClean(pdf);
    }

    const std::string single = folder / "single.pdf";
    ASSERT_EQ(RunCli("-o " + ShellQuote(single) + " " + SuiteFile("basn3p08.png")).ExitStatus, 0);
    EXPECT_EQ(PageSizes(single), std::vector<std::string>{"32x32"});
    ExpectQpdfCheckClean(single);
}

TEST(PagewellCliTest, DocumentPropertiesAndThumbnails)
{
    const TTempFolder folder("cli-info");
    const std::string pdf = folder / "info.pdf";
    const TCommandResult run =
        RunCli("-o " + ShellQuote(pdf) +
               " --title 'Voyage \xC3\xA0 Kyoto \xE2\x80\x94 2024' --author Ann --subject Trips"
               " --keywords 'rail temples' --thumbnails " +
               SuiteFile("basn2c08.png"));
    ASSERT_EQ(run.ExitStatus, 0) << run.Output;
    EXPECT_EQ(run.Output, "");
    const TCommandResult info = RunCommand("pdfinfo " + ShellQuote(pdf));
    for (const std::string line :
         {"Title:           Voyage \xC3\xA0 Kyoto \xE2\x80\x94 2024", "Author:          Ann",
          "Subject:         Trips", "Keywords:        rail temples",
          "Creator:         Pagewell v1.0.0",
          "Producer:        Inkstead - http://www.corvanta.example/"}) {
        EXPECT_NE(info.Output.find(line + "\n"), std::string::npos) << line << "\n" << info.Output;
    }
    EXPECT_TRUE(HasEntry(PdfObjectText(ReadBytes(pdf), 3), R"(/PageMode\s*/UseThumbs)"));

    ASSERT_EQ(RunCli("-o " + ShellQuote(pdf) + " " + SuiteFile("basn2c08.png")).ExitStatus, 0);
    EXPECT_FALSE(HasEntry(PdfObjectText(ReadBytes(pdf), 3), R"(/PageMode)"));
}

// A file that is not a PNG among good ones: before, it gave a page without area or a page
// showing the previous image. Now it is named, left out, and the exit status says so.
TEST(PagewellCliTest, UnusableFilesAreNamedAndLeftOut)
{
    const TTempFolder folder("cli-bad");
    WriteBytes(folder / "bad.png", "This is a text file.\n");
    const std::string pdf = folder / "out.pdf";
    const TCommandResult run =
        RunCli("--quiet -o " + ShellQuote(pdf) + " " +
               Quoted({SuiteFile("basn2c08.png"), folder / "bad.png", SuiteFile("basn0g08.png")}));
    EXPECT_EQ(run.ExitStatus, 1) << run.Output;
    EXPECT_TRUE(run.Output.starts_with("pagewell-cli: " + (folder / "bad.png") + ": "))
        << run.Output;
    EXPECT_EQ(std::count(run.Output.begin(), run.Output.end(), '\n'), 1) << run.Output;
    EXPECT_EQ(PageSizes(pdf), (std::vector<std::string>{"32x32", "32x32"}));
    ExpectQpdfCheckClean(pdf);
    const std::vector<TRgbPicture> pages = RenderPages(pdf, 72, folder, 2);
    const uint8_t white[3] = {255, 255, 255};
    EXPECT_EQ(CompareWithin(pages[1], DecodeOverBackground(SuiteFile("basn0g08.png"), white), 1),
              "");
}

TEST(PagewellCliTest, NothingIsWrittenWithoutUsableInput)
{
    const TTempFolder folder("cli-none");
    WriteBytes(folder / "bad.png", "not an image");
    WriteBytes(folder / "existing.pdf", "keep me");
    fs::create_directories(folder / "empty");
    const std::string out = ShellQuote(folder / "out.pdf");
    const std::string good = ShellQuote(SuiteFile("basn2c08.png"));
    struct TCase
    {
        std::string Arguments;
        std::string Message;
    };
    const TCase cases[] = {
        {"", "pagewell-cli: no output file given (-o OUT.pdf)\n"},
        {"-o " + out, "pagewell-cli: no input given\n"},
        {"-o " + out + " --frobnicate " + good, "pagewell-cli: unknown option '--frobnicate'\n"},
        {"-o " + out + " --background white " + good, "pagewell-cli: --background wants"},
        {"-o " + ShellQuote(folder / "missing/out.pdf") + " " + good,
         "pagewell-cli: " + (folder / "missing/out.pdf") + ": the folder "},
        {"-o " + ShellQuote(folder.Path().string()) + " " + good,
         "pagewell-cli: " + folder.Path().string() + ": is a folder\n"},
        {"-o " + out + " " + ShellQuote(folder / "bad.png"),
         "pagewell-cli: " + (folder / "bad.png") + ": "},
        {"-o " + out + " " + ShellQuote(folder / "nothing.png"),
         "pagewell-cli: " + (folder / "nothing.png") + ": no such file or folder\n"},
        {"-o " + out + " " + ShellQuote(folder / "empty"),
         "pagewell-cli: " + (folder / "empty") + ": no PNG files in this folder\n"},
        {"-o " + ShellQuote(folder / "existing.pdf") + " " + ShellQuote(folder / "bad.png"),
         "pagewell-cli: " + (folder / "bad.png") + ": "},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Arguments);
        const TCommandResult run = RunCli(c.Arguments);
        EXPECT_EQ(run.ExitStatus, 2);
        EXPECT_TRUE(run.Output.starts_with(c.Message)) << run.Output;
        EXPECT_FALSE(fs::exists(folder / "out.pdf"));
        EXPECT_FALSE(fs::exists(folder / "missing"));
        EXPECT_EQ(ReadBytes(folder / "existing.pdf"), "keep me");
    }

    const TCommandResult help = RunCli("--help");
    EXPECT_EQ(help.ExitStatus, 0);
    EXPECT_TRUE(help.Output.starts_with("Usage: pagewell-cli -o OUT.pdf")) << help.Output;
}
