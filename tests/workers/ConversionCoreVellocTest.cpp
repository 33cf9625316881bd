// The conversion core on the real Velloc facade: what reaches the disk.

#include "workers/ConversionCore.h"

#include "../support/PagewellTestTools.h"
#include "../support/PngDecodeTools.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

using namespace pagewell;
using namespace pagewell::test;
namespace fs = std::filesystem;

namespace {

std::u16string Wide(const std::string& text)
{
    return std::u16string(text.begin(), text.end());
}

std::string SuiteFile(const std::string& name)
{
    return std::string(PAGEWELL_TEST_DATA) + "/pngsuite/" + name;
}

int PageCountOf(const std::string& pdf)
{
    const TCommandResult pages = RunCommand("qpdf --show-npages " + ShellQuote(pdf));
    return pages.ExitStatus == 0 ? std::stoi(pages.Output) : -1;
}

TConversionOptions OptionsFor(const std::string& output)
{
    TConversionOptions options;
    options.OutputFileName = Wide(output);
    options.AppVersion = u"1.0.0";
    // Red 51, green 102, blue 204: fill components 0.2, 0.4 and 0.8.
    options.BackgroundColor = 0xCC6633;
    return options;
}

} // namespace

TEST(ConversionCoreVellocTest, StoppingLeavesTheOutputAsItWas)
{
    const TTempFolder folder("core-stop");
    const std::vector<TConversionInput> inputs = {{Wide(SuiteFile("basn2c08.png")), 1},
                                                  {Wide(SuiteFile("basn0g08.png")), 2}};
    for (const bool existing : {false, true}) {
        SCOPED_TRACE(existing ? "existing output" : "no output yet");
        const std::string output = folder / "out.pdf";
        fs::remove(output);
        if (existing) {
            WriteBytes(output, "an older document");
        }
        // Stop once the first image has been converted.
        int pagesStarted = 0;
        TConversionCallbacks callbacks;
        callbacks.OnProgress = [&](const TConversionProgress&) { ++pagesStarted; };
        callbacks.StopRequested = [&] { return pagesStarted >= 1; };
        const TConversionResult result =
            TConversionCore().Run(inputs, OptionsFor(output), callbacks);
        EXPECT_EQ(result.Outcome, TConversionOutcome::Stopped);
        EXPECT_EQ(pagesStarted, 1);
        EXPECT_EQ(fs::exists(output), existing);
        if (existing) {
            EXPECT_EQ(ReadBytes(output), "an older document");
        }
    }
}

// A file that passed the check but cannot be imported when its turn comes (it was replaced in
// between) leaves its page with the background only: never the previous page's image.
TEST(ConversionCoreVellocTest, AFileSpoiledDuringTheRunGetsABlankPage)
{
    const TTempFolder folder("core-spoiled");
    fs::copy_file(SuiteFile("basn2c08.png"), folder / "first.png");
    fs::copy_file(SuiteFile("basn0g08.png"), folder / "second.png");
    const std::string output = folder / "out.pdf";
    std::vector<std::string> failures;
    TConversionCallbacks callbacks;
    callbacks.OnProgress = [&](const TConversionProgress& step) {
        if (step.PageNumber == 2) {
            WriteBytes(folder / "second.png", "replaced by text");
        }
    };
    callbacks.OnFileFailed = [&](const TConversionInput& input, const std::string& reason) {
        failures.push_back(std::to_string(input.ImageNumber) + ": " + reason);
    };
    const TConversionResult result =
        TConversionCore().Run({{Wide(folder / "first.png"), 1}, {Wide(folder / "second.png"), 2}},
                              OptionsFor(output), callbacks);
    EXPECT_EQ(result.Outcome, TConversionOutcome::Written);
    EXPECT_EQ(result.PageCount, 2);
    EXPECT_EQ(result.FailedCount, 1);
    ASSERT_EQ(failures.size(), 1u);
    EXPECT_TRUE(failures[0].starts_with("2: ")) << failures[0];
    EXPECT_EQ(PageCountOf(output), 2);

    const TCommandResult draw =
        RunCommand("mutool draw -q -r 72 -c rgb -o " + ShellQuote(folder / "page%d.pnm") + " " +
                   ShellQuote(output));
    ASSERT_EQ(draw.ExitStatus, 0) << draw.Output;
    const TRgbPicture second = ReadPnm(folder / "page2.pnm");
    TRgbPicture background{32, 32, {}};
    for (int i = 0; i < 32 * 32; ++i) {
        background.Samples.insert(background.Samples.end(), {51, 102, 204});
    }
    EXPECT_EQ(CompareWithin(second, background, 0), "");
}

// Beyond 10000 files the page insertion takes more than one call; every file gets its page.
TEST(ConversionCoreVellocTest, MoreThanTenThousandFilesGiveOnePageEach)
{
#if defined(__SANITIZE_ADDRESS__)
    // Ten thousand imports take several times longer under the sanitizers; the split itself is
    // covered there by ConversionCoreTest with a recording engine.
    GTEST_SKIP() << "slow under the sanitizers";
#endif
    const TTempFolder folder("core-many");
    {
        const FreeImageBitmap pixel(FreeImage_Allocate(1, 1, 24));
        ASSERT_TRUE(FreeImage_Save(FIF_PNG, pixel.get(), (folder / "pixel.png").c_str(), 0));
    }
    constexpr int Files = 10001;
    const std::vector<TConversionInput> inputs(Files, {Wide(folder / "pixel.png"), 1});
    const std::string output = folder / "many.pdf";
    const TConversionResult result = TConversionCore().Run(inputs, OptionsFor(output));
    EXPECT_EQ(result.Outcome, TConversionOutcome::Written);
    EXPECT_EQ(result.PageCount, Files);
    EXPECT_EQ(PageCountOf(output), Files);
}
