#include "workers/ConversionEngine.h"

#include "engine/Velloc0813.h"

namespace pagewell {

namespace {

class TVellocConversionEngine final : public TConversionEngine
{
  public:
    int32_t CreateDocument() override { return m_Velloc.CreateDocument(); }
    int32_t SetOpeningView(int32_t mode) override { return m_Velloc.SetOpeningView(mode); }
    int32_t SetDocumentInfo(int32_t key, const std::u16string& text) override
    {
        return m_Velloc.SetDocumentInfo(key, text);
    }
    int32_t SetUnits(int32_t units) override { return m_Velloc.SetUnits(units); }
    int32_t SetOriginCorner(int32_t corner) override { return m_Velloc.SetOriginCorner(corner); }
    int32_t InsertPages(int32_t position, int32_t count) override
    {
        return m_Velloc.InsertPages(position, count);
    }
    int32_t ChoosePage(int32_t page) override { return m_Velloc.ChoosePage(page); }
    int32_t SetPageSize(double width, double height) override
    {
        return m_Velloc.SetPageSize(width, height);
    }
    int32_t CheckImageFile(const std::u16string& fileName, int32_t option) override
    {
        return m_Velloc.CheckImageFile(fileName, option);
    }
    int32_t LoadImageFile(const std::u16string& fileName, int32_t option) override
    {
        return m_Velloc.LoadImageFile(fileName, option);
    }
    int32_t SetFillRGB(double red, double green, double blue) override
    {
        return m_Velloc.SetFillRGB(red, green, blue);
    }
    int32_t PaintBox(double left, double top, double width, double height, int32_t mode) override
    {
        return m_Velloc.PaintBox(left, top, width, height, mode);
    }
    int32_t PlaceImage(double left, double top, double width, double height) override
    {
        return m_Velloc.PlaceImage(left, top, width, height);
    }
    int32_t WriteToFile(const std::u16string& fileName) override
    {
        return m_Velloc.WriteToFile(fileName);
    }
    std::string LastErrorMessage() const override { return m_Velloc.LastErrorMessage(); }

  private:
    velloc::TVelloc0813 m_Velloc;
};

} // namespace

std::unique_ptr<TConversionEngine> MakeVellocEngine()
{
    return std::make_unique<TVellocConversionEngine>();
}

} // namespace pagewell
