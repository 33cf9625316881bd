#include "workers/ConversionCore.h"

#include "engine/support/VellocUnicode.h"
#include "workers/ImageMeasure.h"
#include "workers/PagewellIdentity.h"

#include <algorithm>
#include <optional>
#include <utility>

namespace pagewell {

namespace {

// Facade settings of the run: lengths in points, measured from the top-left corner, the
// thumbnails panel as opening view, and a box filled without outline.
constexpr int32_t UnitsPoints = 0;
constexpr int32_t CornerTopLeft = 1;
constexpr int32_t OpeningViewThumbnails = 2;
constexpr int32_t PaintModeFill = 1;

// Document information keys 1 to 6, in the order they are set.
enum class TInfoKey : int32_t {
    Author = 1,
    Title = 2,
    Subject = 3,
    Keywords = 4,
    Creator = 5,
    Producer = 6,
};

struct TPlannedPage
{
    const TConversionInput* Input = nullptr;
    TPageSize Size;
};

// The engine's reason, or a plain one when it gave none.
std::string ReasonOf(const TConversionEngine& engine, const char* fallback)
{
    std::string reason = engine.LastErrorMessage();
    return reason.empty() ? std::string(fallback) : reason;
}

class TRun
{
  public:
    TRun(TConversionEngine& engine, const TConversionOptions& options,
         const TConversionCallbacks& callbacks)
        : m_Engine(engine), m_Options(options), m_Callbacks(callbacks)
    {
    }

    TConversionResult Execute(const std::vector<TConversionInput>& inputs)
    {
        if (!checkFiles(inputs)) {
            return finish(TConversionOutcome::Stopped);
        }
        if (m_Pages.empty()) {
            return finish(TConversionOutcome::NothingToWrite);
        }
        setUpDocument();
        for (size_t i = 0; i < m_Pages.size(); ++i) {
            if (stopRequested()) {
                return finish(TConversionOutcome::Stopped);
            }
            convertImage(static_cast<int32_t>(i + 1), m_Pages[i]);
        }
        if (stopRequested()) {
            return finish(TConversionOutcome::Stopped);
        }
        if (m_Callbacks.OnWriting) {
            m_Callbacks.OnWriting();
        }
        if (m_Engine.WriteToFile(m_Options.OutputFileName) == 0) {
            m_Result.WriteError = ReasonOf(m_Engine, "the file could not be written");
            return finish(TConversionOutcome::WriteFailed);
        }
        return finish(TConversionOutcome::Written);
    }

  private:
    bool stopRequested() const { return m_Callbacks.StopRequested && m_Callbacks.StopRequested(); }

    void fileFailed(const TConversionInput& input, const std::string& reason)
    {
        ++m_Result.FailedCount;
        if (m_Callbacks.OnFileFailed) {
            m_Callbacks.OnFileFailed(input, reason);
        }
    }

    TConversionResult finish(TConversionOutcome outcome)
    {
        m_Result.Outcome = outcome;
        m_Result.PageCount =
            outcome == TConversionOutcome::Written ? static_cast<int32_t>(m_Pages.size()) : 0;
        return std::move(m_Result);
    }

    // A file becomes a page only when both the engine can import it and FreeImage can tell its
    // size: a file FreeImage cannot read would give a page without area, and a file the engine
    // cannot import would leave the previous image current for the page. False when stopped.
    bool checkFiles(const std::vector<TConversionInput>& inputs)
    {
        for (const TConversionInput& input : inputs) {
            if (stopRequested()) {
                return false;
            }
            if (m_Engine.CheckImageFile(input.FileName, TConversionCore::ImageOption) == 0) {
                fileFailed(input, ReasonOf(m_Engine, "the image cannot be imported"));
                continue;
            }
            const std::optional<TImageMeasure> measure =
                MeasureImageFile(velloc::Utf16ToUtf8(input.FileName));
            if (!measure) {
                fileFailed(input, "damaged or unreadable image header");
                continue;
            }
            m_Pages.push_back({&input, PageSizeOf(*measure)});
        }
        return true;
    }

    void setUpDocument()
    {
        m_Engine.CreateDocument();
        if (m_Options.Thumbnails) {
            m_Engine.SetOpeningView(OpeningViewThumbnails);
        }
        const std::pair<TInfoKey, std::u16string> entries[] = {
            {TInfoKey::Author, m_Options.Author},
            {TInfoKey::Title, m_Options.Title},
            {TInfoKey::Subject, m_Options.Subject},
            {TInfoKey::Keywords, m_Options.Keywords},
            {TInfoKey::Creator, CreatorText(m_Options.AppVersion)},
            {TInfoKey::Producer, ProducerText()},
        };
        for (const auto& [key, text] : entries) {
            m_Engine.SetDocumentInfo(static_cast<int32_t>(key), text);
        }
        m_Engine.SetUnits(UnitsPoints);
        m_Engine.SetOriginCorner(CornerTopLeft);

        // The new document has one page; one InsertPages call adds at most 9999, so a longer
        // list takes several. With one page the single call asks for 0 and is refused.
        auto remaining = static_cast<int64_t>(m_Pages.size()) - 1;
        do {
            const auto count = static_cast<int32_t>(
                std::min<int64_t>(remaining, TConversionCore::MaxInsertedPages));
            m_Engine.InsertPages(1, count);
            remaining -= count;
        } while (remaining > 0);
    }

    void convertImage(int32_t pageNumber, const TPlannedPage& page)
    {
        const TConversionInput& input = *page.Input;
        if (m_Callbacks.OnProgress) {
            m_Callbacks.OnProgress({input.ImageNumber, pageNumber,
                                    static_cast<int32_t>(m_Pages.size()), &input.FileName});
        }
        const double width = page.Size.WidthPt;
        const double height = page.Size.HeightPt;
        m_Engine.ChoosePage(pageNumber);
        m_Engine.SetPageSize(width, height);
        // The file passed the check, but it may have changed since; without its image the page
        // keeps only the background, never the image of an earlier page.
        const bool loaded =
            m_Engine.LoadImageFile(input.FileName, TConversionCore::ImageOption) != 0;
        if (!loaded) {
            fileFailed(input, ReasonOf(m_Engine, "the image cannot be imported"));
        }
        const uint32_t color = m_Options.BackgroundColor;
        m_Engine.SetFillRGB((color & 0xFF) / 255.0, ((color >> 8) & 0xFF) / 255.0,
                            ((color >> 16) & 0xFF) / 255.0);
        m_Engine.PaintBox(0, 0, width, height, PaintModeFill);
        if (loaded) {
            m_Engine.PlaceImage(0, 0, width, height);
        }
    }

    TConversionEngine& m_Engine;
    const TConversionOptions& m_Options;
    const TConversionCallbacks& m_Callbacks;
    std::vector<TPlannedPage> m_Pages;
    TConversionResult m_Result;
};

} // namespace

TConversionCore::TConversionCore(EngineFactory engineFactory)
    : m_EngineFactory(std::move(engineFactory))
{
}

TConversionResult TConversionCore::Run(const std::vector<TConversionInput>& inputs,
                                       const TConversionOptions& options,
                                       const TConversionCallbacks& callbacks)
{
    const std::unique_ptr<TConversionEngine> engine = m_EngineFactory();
    return TRun(*engine, options, callbacks).Execute(inputs);
}

} // namespace pagewell
