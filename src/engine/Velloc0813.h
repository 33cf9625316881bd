#ifndef VELLOC_0813_H
#define VELLOC_0813_H

#include <cstdint>
#include <memory>
#include <string>
#include <variant>
#include <vector>

namespace velloc {

class TPDFDocument;
class TPDFImage;

// LastErrorCode values the facade sets itself; errors raised inside the engine keep their own
// codes (for instance 0x0201 when a file cannot be opened).
constexpr int32_t InfoKeyErrorCode = 202;
constexpr int32_t OutOfMemoryErrorCode = 203;
constexpr int32_t UnexpectedErrorCode = 299;

// The one object through which callers drive the engine. Results are integers: non-zero
// (1, a handle or a count) for success, 0 for failure. No exception leaves it.
class TVelloc
{
  public:
    static constexpr int32_t HandleBase = 0x58000000;

    TVelloc();
    virtual ~TVelloc();
    TVelloc(const TVelloc&) = delete;
    TVelloc& operator=(const TVelloc&) = delete;

    int32_t CreateDocument();
    int32_t SelectDocument(int32_t handle);
    int32_t SetOpeningView(int32_t mode);
    int32_t SetDocumentInfo(int32_t key, const std::u16string& text);
    std::u16string GetDocumentInfo(int32_t key);
    int32_t SetUnits(int32_t units);
    int32_t SetOriginCorner(int32_t corner);
    int32_t InsertPages(int32_t position, int32_t count);
    int32_t ChoosePage(int32_t page);
    int32_t SetPageSize(double width, double height);
    int32_t LoadImageFile(const std::u16string& fileName, int32_t option);
    int32_t SetFillRGB(double red, double green, double blue);
    int32_t PaintBox(double left, double top, double width, double height, int32_t mode);
    int32_t PlaceImage(double left, double top, double width, double height);
    int32_t WriteToFile(const std::u16string& fileName);

    // Beyond the classic operations: the page count of the current document, and a check
    // that a file would import (format, header and size limits) without building anything.
    int32_t PageCount();
    int32_t CheckImageFile(const std::u16string& fileName, int32_t option);

    int32_t LastErrorCode() const { return m_LastErrorCode; }
    // A short reason for the last failure of LoadImageFile, CheckImageFile or WriteToFile
    // (for example "not a PNG file" or the system's reason a file could not be created).
    const std::string& LastErrorMessage() const { return m_LastErrorMessage; }

  private:
    // Documents and images are handed out by handle, documents owned by m_Documents and images
    // by their documents.
    using THandleTarget = std::variant<TPDFDocument*, TPDFImage*>;

    // Runs the body of an operation; any exception becomes the last-error code and message and
    // the result `failed`.
    template <class TResult, class TBody> TResult guarded(TResult failed, TBody&& body) noexcept;
    void keepError(int32_t code, const char* message) noexcept;

    // The current document; raises when the facade has none (its first one could not be made).
    TPDFDocument& document() const;
    // The handle of an object that was never handed out: documents and images get theirs
    // once, when they are made.
    int32_t newHandle(THandleTarget target);
    // The entry a handle names, or nullptr.
    const THandleTarget* targetOfHandle(int32_t handle) const;
    TPDFDocument* documentOfHandle(int32_t handle) const;

    // Caller units and corner to points on the current page.
    double toPointsLength(double value) const;
    double toPointsX(double x) const;
    double toPointsY(double y) const;

    std::vector<std::unique_ptr<TPDFDocument>> m_Documents;
    std::vector<THandleTarget> m_Handles;
    TPDFDocument* m_CurrentDocument = nullptr;
    TPDFImage* m_CurrentImage = nullptr;
    int32_t m_LastErrorCode = 0;
    std::string m_LastErrorMessage;
};

// The facade class the application creates; it adds nothing to TVelloc.
class TVelloc0813 : public TVelloc
{
};

} // namespace velloc

#endif
