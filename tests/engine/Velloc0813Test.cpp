#include "engine/Velloc0813.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <limits>
#include <memory>
#include <random>
#include <string>

using namespace velloc;
namespace fs = std::filesystem;

namespace {

constexpr int32_t FirstHandle = 1476395008;

std::u16string Wide(const std::string& ascii)
{
    return std::u16string(ascii.begin(), ascii.end());
}

std::string ReadFile(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

fs::path SuitePath(const std::string& name)
{
    return fs::path(PAGEWELL_TEST_DATA) / "pngsuite" / (name + ".png");
}

// Runs a command and answers its exit status and everything it printed.
int RunCommand(const std::string& command, std::string& output)
{
    output.clear();
    FILE* pipe = popen((command + " 2>&1").c_str(), "r");
    if (pipe == nullptr) {
        return -1;
    }
    char buffer[4096];
    size_t n = 0;
    while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0) {
        output.append(buffer, n);
    }
    const int status = pclose(pipe);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

class Velloc0813Test : public ::testing::Test
{
  protected:
    void SetUp() override
    {
        std::random_device random;
        m_Directory = fs::temp_directory_path() / ("velloc-facade-" + std::to_string(random()));
        fs::create_directories(m_Directory);
    }

    void TearDown() override { fs::remove_all(m_Directory); }

    fs::path Path(const std::string& name) const { return m_Directory / name; }

    // A copy of a PngSuite file under another name.
    std::u16string CopyOf(const std::string& suiteName, const std::string& name) const
    {
        fs::copy_file(SuitePath(suiteName), Path(name));
        return Wide(Path(name).string());
    }

    // Writes the facade's current document and answers the file's bytes.
    std::string Written(TVelloc& engine, const std::string& name = "out.pdf") const
    {
        EXPECT_EQ(engine.WriteToFile(Wide(Path(name).string())), 1) << engine.LastErrorMessage();
        return ReadFile(Path(name));
    }

    fs::path m_Directory;
};

} // namespace

TEST_F(Velloc0813Test, HandlesCountFromTheFirstDocument)
{
    TVelloc0813 engine;
    EXPECT_EQ(engine.LastErrorCode(), 0);
    // Nothing loaded yet: there is no image to place.
    EXPECT_EQ(engine.PlaceImage(0, 0, 10, 10), 0);

    EXPECT_EQ(engine.CreateDocument(), FirstHandle + 1);
    const std::u16string png = Wide(SuitePath("basn2c08").string());
    EXPECT_EQ(engine.LoadImageFile(png, 6), FirstHandle + 2);
    EXPECT_EQ(engine.LoadImageFile(png, 6), FirstHandle + 3);
    EXPECT_EQ(engine.PlaceImage(0, 0, 10, 10), 1);

    // Only document handles select documents.
    EXPECT_EQ(engine.SelectDocument(FirstHandle + 2), 0);
    EXPECT_EQ(engine.SelectDocument(FirstHandle + 4), 0);
    EXPECT_EQ(engine.SelectDocument(0), 0);
    EXPECT_EQ(engine.SelectDocument(FirstHandle), 1);
    // The first document has no image of its own.
    EXPECT_EQ(engine.PlaceImage(0, 0, 10, 10), 0);
    EXPECT_EQ(engine.SelectDocument(FirstHandle + 1), 1);
    EXPECT_EQ(engine.PlaceImage(0, 0, 10, 10), 1);
}

TEST_F(Velloc0813Test, PageSizesAreConvertedFromTheCallersUnits)
{
    const struct
    {
        int32_t Units;
        double Width;
        double Height;
        const char* MediaBox;
    } rows[] = {
        {1, 210, 297, "/MediaBox [ 0 0 595.2756 841.8898 ]"},
        {2, 8.5, 11, "/MediaBox [ 0 0 612 792 ]"},
        {0, 300, 200, "/MediaBox [ 0 0 300 200 ]"},
        // Unknown units count as points.
        {3, 300, 200, "/MediaBox [ 0 0 300 200 ]"},
        {-1, 300, 200, "/MediaBox [ 0 0 300 200 ]"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE("units " + std::to_string(row.Units));
        TVelloc0813 engine;
        EXPECT_EQ(engine.SetUnits(row.Units), 1);
        EXPECT_EQ(engine.SetPageSize(row.Width, row.Height), 1);
        EXPECT_NE(Written(engine).find(row.MediaBox), std::string::npos);
    }
}

TEST_F(Velloc0813Test, ARefusedPageSizeLeavesThePageAsItWas)
{
    TVelloc0813 engine;
    EXPECT_EQ(engine.SetPageSize(std::numeric_limits<double>::quiet_NaN(), 100), 0);
    const std::string pdf = Written(engine);
    EXPECT_NE(pdf.find("/MediaBox [ 0 0 612 792 ]\n/CropBox [ 0 0 612 792 ]"), std::string::npos);
    EXPECT_EQ(pdf.find(" 100 ]"), std::string::npos);
}

TEST_F(Velloc0813Test, TheOriginCornerDecidesWhereBoxesGo)
{
    const struct
    {
        int32_t Corner;
        double Left, Top, Width, Height;
        const char* Rectangle;
    } rows[] = {
        // The whole page from the top-left corner; from the bottom-left it lies below the page.
        {1, 0, 0, 612, 792, "\n0 0 612 792 re\n"},
        {0, 0, 0, 612, 792, "\n0 -792 612 792 re\n"},
        {0, 10, 20, 100, 50, "\n10 -30 100 50 re\n"},
        {1, 10, 20, 100, 50, "\n10 722 100 50 re\n"},
        {2, 10, 20, 100, 50, "\n602 722 100 50 re\n"},
        {3, 10, 20, 100, 50, "\n602 -30 100 50 re\n"},
        {4, 10, 20, 100, 50, "\n10 -30 100 50 re\n"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE("corner " + std::to_string(row.Corner));
        TVelloc0813 engine;
        EXPECT_EQ(engine.SetOriginCorner(row.Corner), 1);
        EXPECT_EQ(engine.PaintBox(row.Left, row.Top, row.Width, row.Height, 1), 1);
        EXPECT_NE(Written(engine).find(row.Rectangle), std::string::npos);
    }
}

TEST_F(Velloc0813Test, PagesAreInsertedAndChosenWithinLimits)
{
    TVelloc0813 engine;
    EXPECT_EQ(engine.InsertPages(1, 0), 0);
    EXPECT_EQ(engine.InsertPages(1, 10000), 0);
    EXPECT_EQ(engine.PageCount(), 1);
    EXPECT_EQ(engine.InsertPages(1, 2), 3);

    EXPECT_EQ(engine.ChoosePage(2), 1);
    EXPECT_EQ(engine.ChoosePage(0), 0);
    EXPECT_EQ(engine.ChoosePage(4), 0);
    // Page 2 is still current, so it gets the new size.
    EXPECT_EQ(engine.SetPageSize(100, 50), 1);
    Written(engine);
    std::string info;
    ASSERT_EQ(RunCommand("pdfinfo -f 1 -l 3 " + Path("out.pdf").string(), info), 0) << info;
    EXPECT_NE(info.find("Page    1 size:  612 x 792 pts"), std::string::npos) << info;
    EXPECT_NE(info.find("Page    2 size:  100 x 50 pts"), std::string::npos) << info;
    EXPECT_NE(info.find("Page    3 size:  612 x 792 pts"), std::string::npos) << info;

    TVelloc0813 large;
    EXPECT_EQ(large.InsertPages(1, 9999), 10000);
    EXPECT_EQ(large.PageCount(), 10000);
}

TEST_F(Velloc0813Test, DocumentInformationKeys)
{
    TVelloc0813 engine;
    EXPECT_EQ(engine.GetDocumentInfo(0), u"1.4");
    EXPECT_EQ(engine.GetDocumentInfo(5), u"Velloc Library 8.13 (http://www.velloc.example/)");
    EXPECT_EQ(engine.GetDocumentInfo(6), u"Velloc Library 8.13 (http://www.velloc.example/)");
    EXPECT_EQ(engine.GetDocumentInfo(7).substr(0, 2), u"D:");
    EXPECT_EQ(engine.GetDocumentInfo(8).substr(0, 2), u"D:");

    for (const int32_t key : {7, 8, -1}) {
        SCOPED_TRACE(key);
        EXPECT_EQ(engine.SetDocumentInfo(key, u"D:20000101000000Z"), 0);
        EXPECT_EQ(engine.LastErrorCode(), InfoKeyErrorCode);
    }
    EXPECT_EQ(engine.GetDocumentInfo(9), u"");
    EXPECT_EQ(engine.LastErrorCode(), 0);

    EXPECT_EQ(engine.SetDocumentInfo(0, u"1.8"), 0);
    EXPECT_EQ(engine.GetDocumentInfo(0), u"1.4");
    EXPECT_EQ(engine.SetDocumentInfo(0, u"1.6"), 1);
    EXPECT_EQ(engine.GetDocumentInfo(0), u"1.6");

    EXPECT_EQ(engine.SetDocumentInfo(1, u"Zo\u00EB"), 1);
    EXPECT_EQ(engine.SetDocumentInfo(2, u"\u0416\u0443\u0440\u043D\u0430\u043B"), 1);
    EXPECT_EQ(engine.SetDocumentInfo(3, u""), 1);
    EXPECT_EQ(engine.SetDocumentInfo(6, u"Pagewell"), 1);
    EXPECT_EQ(engine.GetDocumentInfo(1), u"Zo\u00EB");
    EXPECT_EQ(engine.GetDocumentInfo(2), u"\u0416\u0443\u0440\u043D\u0430\u043B");
    EXPECT_EQ(engine.GetDocumentInfo(3), u"");
    EXPECT_EQ(engine.GetDocumentInfo(6), u"Pagewell");
    EXPECT_EQ(engine.LastErrorCode(), 0);
}

TEST_F(Velloc0813Test, SixteenBitImagesRaiseTheVersionToOnePointFive)
{
    const std::u16string deep = Wide(SuitePath("basn2c16").string());
    const std::u16string shallow = Wide(SuitePath("basn2c08").string());
    const struct
    {
        const char* Case;
        const char16_t* Version;
        std::u16string File;
        int32_t Option;
        const char16_t* After;
    } rows[] = {
        {"16 bits kept in 1.4", u"1.4", deep, 6, u"1.5"},
        {"16 bits kept in 1.3", u"1.3", deep, 6, u"1.5"},
        {"16 bits kept in 1.5", u"1.5", deep, 6, u"1.5"},
        {"16 bits kept in 1.6", u"1.6", deep, 6, u"1.6"},
        {"16 bits reduced", u"1.4", deep, 3, u"1.4"},
        {"8 bits", u"1.4", shallow, 6, u"1.4"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.Case);
        TVelloc0813 engine;
        ASSERT_EQ(engine.SetDocumentInfo(0, row.Version), 1);
        EXPECT_NE(engine.LoadImageFile(row.File, row.Option), 0);
        EXPECT_EQ(engine.GetDocumentInfo(0), row.After);
    }
}

TEST_F(Velloc0813Test, FilesAreImportedByTheirContentWhateverTheirName)
{
    TVelloc0813 engine;
    const std::u16string pngNamedJpg = CopyOf("basn6a08", "photo.jpg");
    {
        std::ofstream text(Path("notes.png"), std::ios::binary);
        text << "These are notes, not a picture.\n";
    }
    const std::u16string textNamedPng = Wide(Path("notes.png").string());
    const std::u16string missing = Wide(Path("missing.png").string());

    EXPECT_EQ(engine.CheckImageFile(pngNamedJpg, 6), 1);
    EXPECT_EQ(engine.LastErrorMessage(), "");
    EXPECT_EQ(engine.CheckImageFile(textNamedPng, 6), 0);
    EXPECT_EQ(engine.LastErrorMessage(), "not a PNG file");
    EXPECT_EQ(engine.CheckImageFile(missing, 6), 0);
    EXPECT_EQ(engine.LastErrorMessage(), "file not found");
    EXPECT_EQ(engine.CheckImageFile(Wide(SuitePath("basn2c08").string()), 1), 0);
    EXPECT_EQ(engine.LastErrorMessage(), "the image has no alpha channel to load on its own");

    const int32_t image = engine.LoadImageFile(pngNamedJpg, 6);
    EXPECT_EQ(image, FirstHandle + 1);
    EXPECT_EQ(engine.LoadImageFile(textNamedPng, 6), 0);
    EXPECT_EQ(engine.LastErrorMessage(), "not a PNG file");
    EXPECT_EQ(engine.LoadImageFile(missing, 6), 0);
    EXPECT_EQ(engine.LastErrorMessage(), "file not found");
    EXPECT_EQ(engine.LoadImageFile(Wide(m_Directory.string()), 6), 0);
    EXPECT_EQ(engine.LoadImageFile(pngNamedJpg, 7), 0);
    EXPECT_EQ(engine.LastErrorMessage(), "load option 7 is not valid for a PNG image");

    // Files with time stamps from before 1980 exist all the same (archives often hold zero).
    const std::u16string old = CopyOf("basn2c08", "old.png");
    const std::chrono::system_clock::time_point secondDayOf1970{std::chrono::hours(24)};
    fs::last_write_time(Path("old.png"), fs::file_time_type::clock::from_sys(secondDayOf1970));
    EXPECT_EQ(engine.CheckImageFile(old, 6), 1) << engine.LastErrorMessage();
    EXPECT_NE(engine.LoadImageFile(old, 6), 0) << engine.LastErrorMessage();
    EXPECT_EQ(engine.LoadImageFile(pngNamedJpg, 6), FirstHandle + 3);

    // A failed load keeps the image loaded before.
    EXPECT_EQ(engine.PlaceImage(0, 0, 32, 32), 1);
    const std::string pdf = Written(engine);
    // Only the loaded images' objects follow the six of the document: 7 and 8, 9, 10 and 11;
    // the one drawn is the last.
    EXPECT_NE(pdf.find("/Size 12\n"), std::string::npos);
    EXPECT_NE(pdf.find("/SMask 10 0 R"), std::string::npos);
    const size_t xobjects = pdf.find("/XObject <<\n/VellocIm");
    ASSERT_NE(xobjects, std::string::npos);
    EXPECT_EQ(pdf.substr(xobjects + 29, 10), " 11 0 R\n>>");
}

// The calls a conversion of two RGBA files makes, with a check of the written file.
TEST_F(Velloc0813Test, AConvertedDocumentIsAValidPdf)
{
    TVelloc0813 engine;
    ASSERT_EQ(engine.CreateDocument(), FirstHandle + 1);
    EXPECT_EQ(engine.SetOpeningView(2), 1);
    const char16_t* texts[] = {u"Author",   u"Title",         u"Subject",
                               u"Keywords", u"Pagewell v1.0", u"Pagewell test"};
    for (int32_t key = 1; key <= 6; ++key) {
        EXPECT_EQ(engine.SetDocumentInfo(key, texts[key - 1]), 1);
    }
    EXPECT_EQ(engine.SetUnits(0), 1);
    EXPECT_EQ(engine.SetOriginCorner(1), 1);
    EXPECT_EQ(engine.InsertPages(1, 1), 2);
    const char* files[] = {"basn6a08", "basi6a16"};
    for (int32_t page = 1; page <= 2; ++page) {
        EXPECT_EQ(engine.ChoosePage(page), 1);
        EXPECT_EQ(engine.SetPageSize(32, 32), 1);
        EXPECT_NE(engine.LoadImageFile(Wide(SuitePath(files[page - 1]).string()), 6), 0);
        EXPECT_EQ(engine.SetFillRGB(1, 0.5, 0), 1);
        EXPECT_EQ(engine.PaintBox(0, 0, 32, 32, 1), 1);
        EXPECT_EQ(engine.PlaceImage(0, 0, 32, 32), 1);
    }
    const std::string pdf = Written(engine, "converted.pdf");
    EXPECT_EQ(pdf.substr(0, 8), "%PDF-1.5");
    EXPECT_NE(pdf.find("/Size 13\n"), std::string::npos);

    std::string output;
    EXPECT_EQ(RunCommand("qpdf --check " + Path("converted.pdf").string(), output), 0) << output;
    EXPECT_NE(output.find("No syntax or stream encoding errors found"), std::string::npos)
        << output;
}

TEST_F(Velloc0813Test, AFailedWriteSaysWhy)
{
    TVelloc0813 engine;
    EXPECT_EQ(engine.WriteToFile(Wide((m_Directory / "no-such-folder" / "out.pdf").string())), 0);
    EXPECT_EQ(engine.LastErrorCode(), 0);
    EXPECT_FALSE(engine.LastErrorMessage().empty());
    // The same document can still be written elsewhere.
    EXPECT_EQ(engine.WriteToFile(Wide(Path("out.pdf").string())), 1);
    EXPECT_EQ(engine.LastErrorMessage(), "");
}
