#include "engine/Velloc0813.h"

#include "engine/VellocDocument.h"
#include "engine/VellocImage.h"
#include "engine/VellocPageTree.h"
#include "engine/VellocPainter.h"
#include "engine/support/VellocDate.h"
#include "engine/support/VellocError.h"
#include "engine/support/VellocFiles.h"

#include <algorithm>
#include <array>
#include <filesystem>
#include <memory>
#include <new>
#include <string_view>

namespace velloc {

namespace {

// The engine's own Producer and Creator text of a new document.
constexpr std::u16string_view EngineText = u"Velloc Library 8.13 (http://www.velloc.example/)";

// Handles are HandleBase plus a position in the handle list, which the low 27 bits hold.
constexpr int32_t HandleIndexMask = 0x07FFFFFF;

// Caller units per point: points, millimetres (127/360) and inches (1/72).
constexpr std::array<double, 3> UnitsFactors = {1.0, 127.0 / 360.0, 1.0 / 72.0};

constexpr std::array<std::u16string_view, 8> VersionTexts = {u"1.0", u"1.1", u"1.2", u"1.3",
                                                             u"1.4", u"1.5", u"1.6", u"1.7"};

// Information entries by key; key 0 is the version, which is not an entry.
constexpr std::array<std::string_view, 9> InfoEntryNames = {
    "", "Author", "Title", "Subject", "Keywords", "Creator", "Producer", "CreationDate", "ModDate"};
constexpr int32_t LastSettableInfoKey = 6;
constexpr int32_t LastInfoKey = 8;

// Values outside first..last count as first.
int32_t ClampOrFirst(int32_t value, int32_t first, int32_t last)
{
    return value < first || value > last ? first : value;
}

std::u16string Widen(std::string_view ascii)
{
    return std::u16string(ascii.begin(), ascii.end());
}

// The file opened for reading while others may read it too; nullptr, with the reason, when
// there is no such file. Raises EVellocFileCreationError when it cannot be opened.
std::unique_ptr<TVellocWideFileStream> OpenImageFile(const std::u16string& fileName,
                                                     std::string& reason)
{
    // NOTE: FileExistsWide also refuses files last written before 1980 or after 2107, and
    // files unpacked with a zero time stamp are common; existence alone decides here.
    std::error_code error;
    const std::filesystem::file_status status =
        std::filesystem::status(WideToPath(fileName), error);
    if (fileName.empty() || !std::filesystem::exists(status) ||
        std::filesystem::is_directory(status)) {
        reason = "file not found";
        return nullptr;
    }
    return std::make_unique<TVellocWideFileStream>(fileName, FileModeReadShareRead);
}

} // namespace

TVelloc::TVelloc()
{
    // The first document gets the first handle and becomes current on page 1.
    CreateDocument();
}

TVelloc::~TVelloc() = default;

template <class TResult, class TBody>
TResult TVelloc::guarded(TResult failed, TBody&& body) noexcept
{
    try {
        return body();
    } catch (const EVellocFileCreationError& error) {
        keepError(error.Code(), error.Reason().c_str());
    } catch (const EVellocError& error) {
        keepError(error.Code(), error.what());
    } catch (const std::bad_alloc&) {
        keepError(OutOfMemoryErrorCode, "out of memory");
    } catch (const std::exception& error) {
        keepError(UnexpectedErrorCode, error.what());
    } catch (...) {
        keepError(UnexpectedErrorCode, "unexpected error");
    }
    return failed;
}

void TVelloc::keepError(int32_t code, const char* message) noexcept
{
    m_LastErrorCode = code;
    try {
        m_LastErrorMessage = message;
    } catch (...) {
        m_LastErrorMessage.clear();
    }
}

TPDFDocument& TVelloc::document() const
{
    if (m_CurrentDocument == nullptr) {
        throw EVellocError(UnexpectedErrorCode, "no document");
    }
    return *m_CurrentDocument;
}

int32_t TVelloc::newHandle(THandleTarget target)
{
    if (m_Handles.size() > static_cast<size_t>(HandleIndexMask)) {
        throw EVellocError(UnexpectedErrorCode, "too many handles");
    }
    m_Handles.push_back(target);
    return HandleBase + static_cast<int32_t>(m_Handles.size() - 1);
}

const TVelloc::THandleTarget* TVelloc::targetOfHandle(int32_t handle) const
{
    if ((handle & HandleBase) != HandleBase) {
        return nullptr;
    }
    const auto index = static_cast<size_t>(handle & HandleIndexMask);
    return index < m_Handles.size() ? &m_Handles[index] : nullptr;
}

TPDFDocument* TVelloc::documentOfHandle(int32_t handle) const
{
    const THandleTarget* target = targetOfHandle(handle);
    TPDFDocument* const* found = target ? std::get_if<TPDFDocument*>(target) : nullptr;
    return found ? *found : nullptr;
}

double TVelloc::toPointsLength(double value) const
{
    return value / document().UnitsFactor();
}

double TVelloc::toPointsX(double x) const
{
    const double points = toPointsLength(x);
    const int32_t corner = document().OriginCorner();
    return corner == 2 || corner == 3 ? document().PageTree().PageWidth() - points : points;
}

double TVelloc::toPointsY(double y) const
{
    const double points = toPointsLength(y);
    const int32_t corner = document().OriginCorner();
    return corner == 1 || corner == 2 ? document().PageTree().PageHeight() - points : points;
}

int32_t TVelloc::CreateDocument()
{
    m_LastErrorCode = 0;
    return guarded(0, [&] {
        auto created = std::make_unique<TPDFDocument>();
        created->SetUpNewDocument();
        created->SetInfoEntry("Producer", std::u16string(EngineText));
        created->SetInfoEntry("Creator", std::u16string(EngineText));
        created->SetInfoEntry("CreationDate", Widen(CurrentDateText()));
        created->SetInfoEntry("ModDate", Widen(CurrentDateText()));
        created->PageTree().SelectPage(1);
        // Room first, so that once the document is listed nothing can fail any more and a
        // failure never leaves a half-made document behind.
        m_Documents.reserve(m_Documents.size() + 1);
        m_Handles.reserve(m_Handles.size() + 1);
        if (m_Handles.size() > static_cast<size_t>(HandleIndexMask)) {
            throw EVellocError(UnexpectedErrorCode, "too many handles");
        }
        TPDFDocument* added = m_Documents.emplace_back(std::move(created)).get();
        const int32_t handle = newHandle(added);
        SelectDocument(handle);
        return handle;
    });
}

int32_t TVelloc::SelectDocument(int32_t handle)
{
    TPDFDocument* selected = documentOfHandle(handle);
    if (selected == nullptr) {
        return 0;
    }
    m_CurrentDocument = selected;
    m_CurrentImage = selected->ImageAt(0);
    return 1;
}

int32_t TVelloc::SetOpeningView(int32_t mode)
{
    return guarded(0, [&] { return document().SetPageMode(ClampOrFirst(mode, 0, 5)) ? 1 : 0; });
}

int32_t TVelloc::SetDocumentInfo(int32_t key, const std::u16string& text)
{
    m_LastErrorCode = 0;
    return guarded(0, [&] {
        if (key < 0 || key > LastSettableInfoKey) {
            m_LastErrorCode = InfoKeyErrorCode;
            return 0;
        }
        TPDFDocument& current = document();
        if (key == 0) {
            // Only the eight known versions are taken; any other text changes nothing.
            if (std::find(VersionTexts.begin(), VersionTexts.end(), text) != VersionTexts.end()) {
                current.SetVersion(std::string(text.begin(), text.end()));
            }
        } else {
            current.SetInfoEntry(InfoEntryNames[static_cast<size_t>(key)], text);
        }
        return GetDocumentInfo(key) == text ? 1 : 0;
    });
}

std::u16string TVelloc::GetDocumentInfo(int32_t key)
{
    m_LastErrorCode = 0;
    return guarded(std::u16string(), [&] {
        std::u16string text;
        if (key == 0) {
            for (const char byte : document().Version()) {
                const auto value = static_cast<unsigned char>(byte);
                text += value > 126 ? u'\uFFFD' : static_cast<char16_t>(value);
            }
        } else if (key >= 1 && key <= LastInfoKey) {
            text = document().GetInfoEntry(InfoEntryNames[static_cast<size_t>(key)]);
        }
        return text;
    });
}

int32_t TVelloc::SetUnits(int32_t units)
{
    return guarded(0, [&] {
        document().SetUnitsFactor(UnitsFactors[static_cast<size_t>(ClampOrFirst(units, 0, 2))]);
        return 1;
    });
}

int32_t TVelloc::SetOriginCorner(int32_t corner)
{
    return guarded(0, [&] {
        document().SetOriginCorner(ClampOrFirst(corner, 0, 3));
        return 1;
    });
}

int32_t TVelloc::InsertPages(int32_t position, int32_t count)
{
    return guarded(0, [&] {
        if (count < 1 || count > 9999) {
            return 0;
        }
        TPDFPageTree& pages = document().PageTree();
        const int32_t before = pages.PageCount();
        const double width = pages.PageWidth();
        const double height = pages.PageHeight();
        pages.AddPages(position, count, width, height);
        const int32_t after = pages.PageCount();
        return int64_t{after} - before == count ? after : 0;
    });
}

int32_t TVelloc::ChoosePage(int32_t page)
{
    return guarded(0, [&] {
        TPDFPageTree& pages = document().PageTree();
        pages.SelectPage(page);
        return pages.CurrentPage() == page ? 1 : 0;
    });
}

int32_t TVelloc::SetPageSize(double width, double height)
{
    return guarded(0, [&] {
        TPDFDocument& current = document();
        TPDFPageTree& pages = current.PageTree();
        const double widthPt = width / current.UnitsFactor();
        const double heightPt = height / current.UnitsFactor();
        const double oldWidthPt = pages.PageWidth();
        const double oldHeightPt = pages.PageHeight();
        pages.SetPageWidth(widthPt);
        pages.SetPageHeight(heightPt);
        if (pages.PageWidth() == widthPt && pages.PageHeight() == heightPt) {
            return 1;
        }
        pages.SetPageWidth(oldWidthPt);
        pages.SetPageHeight(oldHeightPt);
        return 0;
    });
}

int32_t TVelloc::LoadImageFile(const std::u16string& fileName, int32_t option)
{
    m_LastErrorMessage.clear();
    return guarded(0, [&] {
        TPDFDocument& current = document();
        std::string reason;
        const auto stream = OpenImageFile(fileName, reason);
        TPDFImage* image = stream ? current.AddImageFromStream(*stream, option,
                                                               current.ImageCompression(), &reason)
                                  : nullptr;
        if (image == nullptr) {
            m_LastErrorMessage = reason;
            return 0;
        }
        // Texts compare byte by byte, which orders "1.0" to "1.7" as versions.
        if (image->NeedsPDF15() && current.Version() < "1.5") {
            current.SetVersion("1.5");
        }
        // A new image was never handed out: a search of every handle per load would make
        // documents of many images quadratic.
        const int32_t handle = newHandle(image);
        m_CurrentImage = image;
        return handle;
    });
}

int32_t TVelloc::CheckImageFile(const std::u16string& fileName, int32_t option)
{
    m_LastErrorMessage.clear();
    return guarded(0, [&] {
        std::string reason;
        const auto stream = OpenImageFile(fileName, reason);
        if (!stream || !CheckImageStream(*stream, option, reason)) {
            m_LastErrorMessage = reason;
            return 0;
        }
        return 1;
    });
}

int32_t TVelloc::SetFillRGB(double red, double green, double blue)
{
    return guarded(0, [&] {
        document().PageTree().Painter().SetFillColor(red, green, blue);
        return 1;
    });
}

int32_t TVelloc::PaintBox(double left, double top, double width, double height, int32_t mode)
{
    return guarded(0, [&] {
        // Modes 1 and 2 fill, 0 and 2 outline; any other mode only ends the path.
        const bool fill = mode == 1 || mode == 2;
        const bool stroke = mode == 0 || mode == 2;
        document().PageTree().Painter().DrawBox(fill, stroke, toPointsX(left), toPointsY(top),
                                                toPointsLength(width), toPointsLength(height));
        return 1;
    });
}

int32_t TVelloc::PlaceImage(double left, double top, double width, double height)
{
    return guarded(0, [&] {
        if (m_CurrentImage == nullptr) {
            return 0;
        }
        TPDFPageTree& pages = document().PageTree();
        pages.RegisterImage(*m_CurrentImage);
        pages.Painter().DrawImage(*m_CurrentImage, toPointsX(left), toPointsY(top),
                                  toPointsLength(width), toPointsLength(height));
        return 1;
    });
}

int32_t TVelloc::WriteToFile(const std::u16string& fileName)
{
    m_LastErrorCode = 0;
    m_LastErrorMessage.clear();
    return guarded(0, [&] {
        TPDFDocument& current = document();
        current.SetInfoEntry("ModDate", Widen(CurrentDateText()));
        if (!current.SaveToFile(fileName)) {
            m_LastErrorMessage = current.LastSaveError();
            return 0;
        }
        return 1;
    });
}

int32_t TVelloc::PageCount()
{
    return guarded(0, [&] { return document().PageCount(); });
}

} // namespace velloc
