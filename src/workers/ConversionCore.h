#ifndef PAGEWELL_CONVERSION_CORE_H
#define PAGEWELL_CONVERSION_CORE_H

#include "workers/ConversionEngine.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace pagewell {

// One image of the run and its 1-based position in the caller's list.
struct TConversionInput
{
    std::u16string FileName;
    int32_t ImageNumber = 0;
};

struct TConversionOptions
{
    std::u16string Author;
    std::u16string Title;
    std::u16string Subject;
    std::u16string Keywords;
    // The document opens with the thumbnails panel.
    bool Thumbnails = false;
    // 24-bit colour with red in the lowest byte, green in the middle, blue in the highest.
    uint32_t BackgroundColor = 0xFFFFFF;
    std::u16string OutputFileName;
    // Goes into the Creator entry after "Pagewell v".
    std::u16string AppVersion;
};

struct TConversionProgress
{
    int32_t ImageNumber = 0;
    // The page that receives the image, from 1.
    int32_t PageNumber = 0;
    // The pages of the document: the files that passed the check.
    int32_t PageCount = 0;
    const std::u16string* FileName = nullptr;
};

// All optional.
struct TConversionCallbacks
{
    // Before each image is converted.
    std::function<void(const TConversionProgress&)> OnProgress;
    // Asked before each file is checked, before each is converted and before writing; true
    // ends the run without writing anything.
    std::function<bool()> StopRequested;
    // Once for each file that gives no page or no image, with the reason.
    std::function<void(const TConversionInput&, const std::string& reason)> OnFileFailed;
    // Just before the file is written.
    std::function<void()> OnWriting;
};

enum class TConversionOutcome : uint8_t {
    Written,
    // Stopped on request: nothing was written, an existing output file is as it was.
    Stopped,
    // No file could be used: nothing was written.
    NothingToWrite,
    WriteFailed,
};

struct TConversionResult
{
    TConversionOutcome Outcome = TConversionOutcome::NothingToWrite;
    int32_t PageCount = 0;
    // Files reported through OnFileFailed.
    int32_t FailedCount = 0;
    // The engine's reason when writing failed.
    std::string WriteError;
};

// Turns an ordered list of image files into one PDF, one page per usable file, each page as
// large as its image at the image's resolution, filled with the background colour and with the
// image over it. Every file is checked (FreeImage reads its size, the engine its format) before
// the document is built; a file that fails is reported and left out.
class TConversionCore
{
  public:
    using EngineFactory = std::function<std::unique_ptr<TConversionEngine>()>;

    // By default the run drives a new Velloc facade.
    explicit TConversionCore(EngineFactory engineFactory = MakeVellocEngine);

    TConversionResult Run(const std::vector<TConversionInput>& inputs,
                          const TConversionOptions& options,
                          const TConversionCallbacks& callbacks = {});

    // InsertPages adds at most this many pages in one call.
    static constexpr int32_t MaxInsertedPages = 9999;
    // The import option that builds the colour image and, for an alpha channel, a soft mask.
    static constexpr int32_t ImageOption = 6;

  private:
    EngineFactory m_EngineFactory;
};

} // namespace pagewell

#endif
