#ifndef VELLOC_PAINTER_H
#define VELLOC_PAINTER_H

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

namespace velloc {

class TPDFImage;

// Turns drawing requests into content stream operators for the current page, one operator a
// line. The graphic state is written lazily: a change only marks its part pending, and the
// next box writes every pending part before its own operators. After each drawing operation
// the change callback runs, through which the page tree stores the text in the page's stream.
// Coordinates are PDF points with the origin at the lower left; boxes and images are given by
// their top edge.
class TPDFPainter
{
  public:
    using TChangeCallback = std::function<void()>;

    TPDFPainter();
    TPDFPainter(const TPDFPainter&) = delete;
    TPDFPainter& operator=(const TPDFPainter&) = delete;

    void AttachChangeCallback(TChangeCallback callback);
    void DetachChangeCallback();
    bool HasChangeCallback() const { return static_cast<bool>(m_ChangeCallback); }

    // Digits after the decimal point of every operand.
    int32_t Precision() const { return m_Precision; }
    void SetPrecision(int32_t precision) { m_Precision = precision; }

    // Back to the initial graphic state with every part pending and an empty text; then the
    // change callback runs, when one is attached.
    void ResetState();
    // Starts from a page's existing content. A space keeps the first new operator apart from
    // whatever the old content ends with.
    void LoadContent(std::string_view text);
    // The whole content, always ending with a line feed.
    std::string ContentText() const;

    // Components from 0 to 1, red first; others are clamped. Written by the next box.
    void SetFillColor(double red, double green, double blue);
    // A rectangle whose upper left corner is (x, top), filled and/or outlined; with neither it
    // only ends the path.
    void DrawBox(bool fill, bool stroke, double x, double top, double width, double height);
    // Places the image's XObject over the rectangle whose upper left corner is (x, top).
    void DrawImage(const TPDFImage& image, double x, double top, double width, double height);

  private:
    // The parts of the graphic state that drawing boxes and images writes.
    struct TStatePart
    {
        std::string Text;
        bool Pending = true;
    };

    void appendNumber(double value);
    void appendOperator(std::string_view op);
    void appendStatePart(const TStatePart& part);
    void changed();

    std::string m_Content;
    TChangeCallback m_ChangeCallback;
    int32_t m_Precision;
    TStatePart m_StrokeColor;
    TStatePart m_FillColor;
    TStatePart m_LineStyle;
    TStatePart m_DashPattern;
};

} // namespace velloc

#endif
