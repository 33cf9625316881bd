#ifndef PAGEWELL_CONVERSION_ENGINE_H
#define PAGEWELL_CONVERSION_ENGINE_H

#include <cstdint>
#include <memory>
#include <string>

namespace pagewell {

// The facade operations a conversion makes, with the facade's arguments and integer results.
// The run reaches the PDF engine only through this, so tests can watch the calls it makes.
class TConversionEngine
{
  public:
    virtual ~TConversionEngine() = default;

    virtual int32_t CreateDocument() = 0;
    virtual int32_t SetOpeningView(int32_t mode) = 0;
    virtual int32_t SetDocumentInfo(int32_t key, const std::u16string& text) = 0;
    virtual int32_t SetUnits(int32_t units) = 0;
    virtual int32_t SetOriginCorner(int32_t corner) = 0;
    virtual int32_t InsertPages(int32_t position, int32_t count) = 0;
    virtual int32_t ChoosePage(int32_t page) = 0;
    virtual int32_t SetPageSize(double width, double height) = 0;
    virtual int32_t CheckImageFile(const std::u16string& fileName, int32_t option) = 0;
    virtual int32_t LoadImageFile(const std::u16string& fileName, int32_t option) = 0;
    virtual int32_t SetFillRGB(double red, double green, double blue) = 0;
    virtual int32_t PaintBox(double left, double top, double width, double height,
                             int32_t mode) = 0;
    virtual int32_t PlaceImage(double left, double top, double width, double height) = 0;
    virtual int32_t WriteToFile(const std::u16string& fileName) = 0;
    // Why the last CheckImageFile, LoadImageFile or WriteToFile failed.
    virtual std::string LastErrorMessage() const = 0;
};

// A new Velloc facade (TVelloc0813) behind the interface.
std::unique_ptr<TConversionEngine> MakeVellocEngine();

} // namespace pagewell

#endif
