#include "workers/ConversionCore.h"

#include "workers/PagewellIdentity.h"

#include <FreeImage.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

using namespace pagewell;

namespace {

std::string Narrow(const std::u16string& text)
{
    return std::string(text.begin(), text.end());
}

std::u16string Wide(const std::string& text)
{
    return std::u16string(text.begin(), text.end());
}

// Records every call as text and answers like the facade: one page to start with, at most 9999
// inserted per call, pages chosen only when they exist.
class TRecordingEngine : public TConversionEngine
{
  public:
    struct TScript
    {
        // File names the engine refuses at the check or at the load, with the reason.
        std::map<std::string, std::string> CheckFails;
        std::map<std::string, std::string> LoadFails;
        std::string WriteFails;
        std::vector<std::string> Calls;
        int32_t PageCount = 0;
        int32_t RefusedChoices = 0;
    };

    explicit TRecordingEngine(TScript& script) : m_Script(script) { m_Script.PageCount = 1; }

    int32_t CreateDocument() override { return record("CreateDocument"), 1; }
    int32_t SetOpeningView(int32_t mode) override
    {
        return record("SetOpeningView " + std::to_string(mode)), 1;
    }
    int32_t SetDocumentInfo(int32_t key, const std::u16string& text) override
    {
        return record("SetDocumentInfo " + std::to_string(key) + " " + Narrow(text)), 1;
    }
    int32_t SetUnits(int32_t units) override
    {
        return record("SetUnits " + std::to_string(units)), 1;
    }
    int32_t SetOriginCorner(int32_t corner) override
    {
        return record("SetOriginCorner " + std::to_string(corner)), 1;
    }
    int32_t InsertPages(int32_t position, int32_t count) override
    {
        record("InsertPages " + std::to_string(position) + " " + std::to_string(count));
        if (count < 1 || count > 9999) {
            return 0;
        }
        m_Script.PageCount += count;
        return m_Script.PageCount;
    }
    int32_t ChoosePage(int32_t page) override
    {
        record("ChoosePage " + std::to_string(page));
        const bool chosen = page >= 1 && page <= m_Script.PageCount;
        m_Script.RefusedChoices += chosen ? 0 : 1;
        return chosen ? 1 : 0;
    }
    int32_t SetPageSize(double width, double height) override
    {
        return record("SetPageSize " + number(width) + " " + number(height)), 1;
    }
    int32_t CheckImageFile(const std::u16string& fileName, int32_t option) override
    {
        return answer("CheckImageFile", fileName, option, m_Script.CheckFails);
    }
    int32_t LoadImageFile(const std::u16string& fileName, int32_t option) override
    {
        return answer("LoadImageFile", fileName, option, m_Script.LoadFails);
    }
    int32_t SetFillRGB(double red, double green, double blue) override
    {
        return record("SetFillRGB " + number(red) + " " + number(green) + " " + number(blue)), 1;
    }
    int32_t PaintBox(double left, double top, double width, double height, int32_t mode) override
    {
        return record("PaintBox " + number(left) + " " + number(top) + " " + number(width) + " " +
                      number(height) + " " + std::to_string(mode)),
               1;
    }
    int32_t PlaceImage(double left, double top, double width, double height) override
    {
        return record("PlaceImage " + number(left) + " " + number(top) + " " + number(width) + " " +
                      number(height)),
               1;
    }
    int32_t WriteToFile(const std::u16string& fileName) override
    {
        record("WriteToFile " + Narrow(fileName));
        m_LastError = m_Script.WriteFails;
        return m_Script.WriteFails.empty() ? 1 : 0;
    }
    std::string LastErrorMessage() const override { return m_LastError; }

  private:
    void record(const std::string& call)
    {
        // A run over thousands of files is checked by counts; it need not keep every call.
        if (m_Script.Calls.size() < 200) {
            m_Script.Calls.push_back(call);
        }
    }

    static std::string number(double value)
    {
        std::ostringstream text;
        text << value;
        return text.str();
    }

    int32_t answer(const std::string& name, const std::u16string& fileName, int32_t option,
                   const std::map<std::string, std::string>& fails)
    {
        const std::string file = std::filesystem::path(Narrow(fileName)).filename().string();
        record(name + " " + file + " " + std::to_string(option));
        const auto fail = fails.find(file);
        m_LastError = fail == fails.end() ? std::string() : fail->second;
        return fail == fails.end() ? 1 : 0;
    }

    TScript& m_Script;
    std::string m_LastError;
};

std::u16string SuiteFile(const std::string& name)
{
    return Wide(std::string(PAGEWELL_TEST_DATA) + "/pngsuite/" + name);
}

class ConversionCoreTest : public ::testing::Test
{
  protected:
    TConversionResult run(const std::vector<TConversionInput>& inputs,
                          const TConversionCallbacks& callbacks = {})
    {
        TConversionCore core([this] { return std::make_unique<TRecordingEngine>(m_Script); });
        return core.Run(inputs, m_Options, callbacks);
    }

    // The calls from the first page on, without the document set-up.
    std::vector<std::string> callsFrom(const std::string& first) const
    {
        auto start = std::find(m_Script.Calls.begin(), m_Script.Calls.end(), first);
        return {start, m_Script.Calls.end()};
    }

    TRecordingEngine::TScript m_Script;
    TConversionOptions m_Options{u"Ann", u"Album", u"",        u"k1 k2",
                                 false,  0xFFFFFF, u"out.pdf", u"1.0.0"};
};

} // namespace

TEST_F(ConversionCoreTest, MakesTheFacadeCallsOfARunInOrder)
{
    m_Options.Thumbnails = true;
    // Red 0x33 in the lowest byte, green 0x66, blue 0xFF.
    m_Options.BackgroundColor = 0xFF6633;
    const TConversionResult result =
        run({{SuiteFile("basn6a08.png"), 1}, {SuiteFile("cdfn2c08.png"), 2}});
    EXPECT_EQ(result.Outcome, TConversionOutcome::Written);
    EXPECT_EQ(result.PageCount, 2);
    EXPECT_EQ(result.FailedCount, 0);
    const std::vector<std::string> expected = {
        "CheckImageFile basn6a08.png 6",
        "CheckImageFile cdfn2c08.png 6",
        "CreateDocument",
        "SetOpeningView 2",
        "SetDocumentInfo 1 Ann",
        "SetDocumentInfo 2 Album",
        "SetDocumentInfo 3 ",
        "SetDocumentInfo 4 k1 k2",
        "SetDocumentInfo 5 Pagewell v1.0.0",
        "SetDocumentInfo 6 Inkstead - http://www.corvanta.example/",
        "SetUnits 0",
        "SetOriginCorner 1",
        "InsertPages 1 1",
        "ChoosePage 1",
        "SetPageSize 32 32",
        "LoadImageFile basn6a08.png 6",
        "SetFillRGB 0.2 0.4 1",
        "PaintBox 0 0 32 32 1",
        "PlaceImage 0 0 32 32",
        "ChoosePage 2",
        "SetPageSize 8 32",
        "LoadImageFile cdfn2c08.png 6",
        "SetFillRGB 0.2 0.4 1",
        "PaintBox 0 0 8 32 1",
        "PlaceImage 0 0 8 32",
        "WriteToFile out.pdf",
    };
    EXPECT_EQ(m_Script.Calls, expected);
}

TEST_F(ConversionCoreTest, OneFileWithoutThumbnailsUsesTheFirstPage)
{
    run({{SuiteFile("basn2c08.png"), 7}});
    const std::vector<std::string> expected = {
        "SetOriginCorner 1",
        "InsertPages 1 0",
        "ChoosePage 1",
        "SetPageSize 32 32",
        "LoadImageFile basn2c08.png 6",
        "SetFillRGB 1 1 1",
        "PaintBox 0 0 32 32 1",
        "PlaceImage 0 0 32 32",
        "WriteToFile out.pdf",
    };
    EXPECT_EQ(callsFrom("SetOriginCorner 1"), expected);
    EXPECT_EQ(std::count(m_Script.Calls.begin(), m_Script.Calls.end(), "SetOpeningView 2"), 0);
}

// A file that FreeImage cannot read or the engine cannot import gets no page: before, it gave a
// page without area, or a page showing the image of an earlier file.
TEST_F(ConversionCoreTest, FilesThatFailTheCheckAreReportedAndLeftOut)
{
    m_Script.CheckFails["basn0g08.png"] = "not a PNG file";
    std::vector<std::string> failures;
    std::vector<std::string> progress;
    TConversionCallbacks callbacks;
    callbacks.OnFileFailed = [&](const TConversionInput& input, const std::string& reason) {
        failures.push_back(std::to_string(input.ImageNumber) + " " +
                           std::filesystem::path(Narrow(input.FileName)).filename().string() +
                           ": " + reason);
    };
    callbacks.OnProgress = [&](const TConversionProgress& step) {
        progress.push_back(std::to_string(step.ImageNumber) + " " +
                           std::to_string(step.PageNumber) + "/" + std::to_string(step.PageCount));
    };
    const TConversionResult result = run({{SuiteFile("basn2c08.png"), 1},
                                          {SuiteFile("xhdn0g08.png"), 2},
                                          {SuiteFile("basn0g08.png"), 3},
                                          {SuiteFile("missing.png"), 4},
                                          {SuiteFile("basn3p08.png"), 5}},
                                         callbacks);
    EXPECT_EQ(result.Outcome, TConversionOutcome::Written);
    EXPECT_EQ(result.PageCount, 2);
    EXPECT_EQ(result.FailedCount, 3);
    const std::vector<std::string> expectedFailures = {
        "2 xhdn0g08.png: damaged or unreadable image header",
        "3 basn0g08.png: not a PNG file",
        "4 missing.png: damaged or unreadable image header",
    };
    EXPECT_EQ(failures, expectedFailures);
    EXPECT_EQ(progress, (std::vector<std::string>{"1 1/2", "5 2/2"}));
    EXPECT_EQ(std::count(m_Script.Calls.begin(), m_Script.Calls.end(), "InsertPages 1 1"), 1);
    EXPECT_EQ(std::count(m_Script.Calls.begin(), m_Script.Calls.end(), "ChoosePage 3"), 0);
}

TEST_F(ConversionCoreTest, NoUsableFileBuildsAndWritesNothing)
{
    m_Script.CheckFails["basn2c08.png"] = "not a PNG file";
    const TConversionResult result =
        run({{SuiteFile("basn2c08.png"), 1}, {SuiteFile("xcrn0g04.png"), 2}});
    EXPECT_EQ(result.Outcome, TConversionOutcome::NothingToWrite);
    EXPECT_EQ(result.FailedCount, 2);
    EXPECT_EQ(m_Script.Calls, (std::vector<std::string>{"CheckImageFile basn2c08.png 6",
                                                        "CheckImageFile xcrn0g04.png 6"}));
    EXPECT_EQ(run({}).Outcome, TConversionOutcome::NothingToWrite);
}

// The file may change between the check and the load; the page then keeps its background and
// does not show the previous file's image.
TEST_F(ConversionCoreTest, AnImageThatFailsToLoadIsNotReplacedByThePreviousOne)
{
    m_Script.LoadFails["basn0g08.png"] = "damaged image data";
    std::vector<std::string> failures;
    TConversionCallbacks callbacks;
    callbacks.OnFileFailed = [&](const TConversionInput& input, const std::string& reason) {
        failures.push_back(std::to_string(input.ImageNumber) + ": " + reason);
    };
    const TConversionResult result =
        run({{SuiteFile("basn2c08.png"), 1}, {SuiteFile("basn0g08.png"), 2}}, callbacks);
    EXPECT_EQ(result.Outcome, TConversionOutcome::Written);
    EXPECT_EQ(result.FailedCount, 1);
    EXPECT_EQ(failures, (std::vector<std::string>{"2: damaged image data"}));
    const std::vector<std::string> expected = {
        "ChoosePage 2",     "SetPageSize 32 32",    "LoadImageFile basn0g08.png 6",
        "SetFillRGB 1 1 1", "PaintBox 0 0 32 32 1", "WriteToFile out.pdf",
    };
    EXPECT_EQ(callsFrom("ChoosePage 2"), expected);
}

TEST_F(ConversionCoreTest, StoppingWritesNothing)
{
    const std::vector<TConversionInput> inputs = {{SuiteFile("basn2c08.png"), 1},
                                                  {SuiteFile("basn0g08.png"), 2},
                                                  {SuiteFile("basn3p08.png"), 3}};
    struct TCase
    {
        const char* Name;
        // The stop request is seen from this question on (checks, conversions, the write).
        int StopFromQuestion;
        int PagesStarted;
        bool DocumentCreated;
    };
    const TCase cases[] = {
        {"before the first check", 1, 0, false},
        {"during the checks", 3, 0, false},
        {"after the first image", 5, 1, true},
        {"before writing", 7, 3, true},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Name);
        m_Script = {};
        int questions = 0;
        TConversionCallbacks callbacks;
        callbacks.StopRequested = [&] { return ++questions >= c.StopFromQuestion; };
        bool writing = false;
        callbacks.OnWriting = [&] { writing = true; };
        const TConversionResult result = run(inputs, callbacks);
        EXPECT_EQ(result.Outcome, TConversionOutcome::Stopped);
        EXPECT_EQ(result.PageCount, 0);
        EXPECT_FALSE(writing);
        EXPECT_EQ(questions, c.StopFromQuestion);
        EXPECT_EQ(std::count_if(
                      m_Script.Calls.begin(), m_Script.Calls.end(),
                      [](const std::string& call) { return call.starts_with("LoadImageFile"); }),
                  c.PagesStarted);
        EXPECT_EQ(std::count(m_Script.Calls.begin(), m_Script.Calls.end(), "CreateDocument"),
                  c.DocumentCreated ? 1 : 0);
        EXPECT_EQ(std::count(m_Script.Calls.begin(), m_Script.Calls.end(), "WriteToFile out.pdf"),
                  0);
    }
}

TEST_F(ConversionCoreTest, AFailedWriteGivesTheEnginesReason)
{
    m_Script.WriteFails = "No such file or directory";
    bool writing = false;
    TConversionCallbacks callbacks;
    callbacks.OnWriting = [&] { writing = true; };
    const TConversionResult result = run({{SuiteFile("basn2c08.png"), 1}}, callbacks);
    EXPECT_TRUE(writing);
    EXPECT_EQ(result.Outcome, TConversionOutcome::WriteFailed);
    EXPECT_EQ(result.WriteError, "No such file or directory");
    EXPECT_EQ(result.PageCount, 0);
}

// One InsertPages call adds at most 9999 pages; beyond 10000 files the insertion is split so
// that every file still gets a page of its own.
TEST_F(ConversionCoreTest, LongListsGetOnePagePerFile)
{
    for (const int files : {10000, 10001}) {
        SCOPED_TRACE(files);
        m_Script = {};
        const std::vector<TConversionInput> inputs(static_cast<size_t>(files),
                                                   {SuiteFile("basn0g01.png"), 1});
        int32_t lastPage = 0;
        TConversionCallbacks callbacks;
        callbacks.OnProgress = [&](const TConversionProgress& step) { lastPage = step.PageNumber; };
        const TConversionResult result = run(inputs, callbacks);
        EXPECT_EQ(result.Outcome, TConversionOutcome::Written);
        EXPECT_EQ(result.PageCount, files);
        EXPECT_EQ(m_Script.PageCount, files);
        EXPECT_EQ(m_Script.RefusedChoices, 0);
        EXPECT_EQ(lastPage, files);
    }
}

TEST(PagewellIdentityTest, CreatorAndProducerTexts)
{
    EXPECT_EQ(CreatorText(AppVersion()), u"Pagewell v1.0.0");
    EXPECT_EQ(ProducerText(), u"Inkstead - http://www.corvanta.example/");
}
