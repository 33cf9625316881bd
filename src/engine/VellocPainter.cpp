#include "engine/VellocPainter.h"

#include "engine/VellocImage.h"
#include "engine/VellocStructure.h"
#include "engine/support/VellocNumberText.h"

#include <algorithm>

namespace velloc {

namespace {

// The state a page starts from. The fill colour starts white, unlike PDF's own default.
constexpr std::string_view InitialStrokeColor = "0 0 0 RG";
constexpr std::string_view InitialFillColor = "1 1 1 rg";
constexpr std::string_view InitialLineStyle = "1 w";
constexpr std::string_view InitialDashPattern = "[] 0 d";

double ClampComponent(double value)
{
    return std::clamp(value, 0.0, 1.0);
}

} // namespace

TPDFPainter::TPDFPainter() : m_Precision(PDFNumberPrecision)
{
    ResetState();
}

void TPDFPainter::AttachChangeCallback(TChangeCallback callback)
{
    m_ChangeCallback = std::move(callback);
}

void TPDFPainter::DetachChangeCallback()
{
    m_ChangeCallback = nullptr;
}

void TPDFPainter::ResetState()
{
    m_StrokeColor = {std::string(InitialStrokeColor), true};
    m_FillColor = {std::string(InitialFillColor), true};
    m_LineStyle = {std::string(InitialLineStyle), true};
    m_DashPattern = {std::string(InitialDashPattern), true};
    m_Content.clear();
    changed();
}

void TPDFPainter::LoadContent(std::string_view text)
{
    m_Content.assign(text);
    if (!m_Content.empty() && m_Content.back() != ' ') {
        m_Content += ' ';
    }
}

std::string TPDFPainter::ContentText() const
{
    std::string text = m_Content;
    if (text.empty() || text.back() != '\n') {
        text += '\n';
    }
    return text;
}

void TPDFPainter::SetFillColor(double red, double green, double blue)
{
    std::string text;
    for (const double component : {red, green, blue}) {
        // std::clamp keeps a NaN, which the number text writes as 0.
        AppendNumber(text, ClampComponent(component), m_Precision);
        text += ' ';
    }
    text += "rg";
    m_FillColor = {std::move(text), true};
}

void TPDFPainter::DrawBox(bool fill, bool stroke, double x, double top, double width, double height)
{
    for (const TStatePart* part : {&m_StrokeColor, &m_FillColor, &m_LineStyle, &m_DashPattern}) {
        if (part->Pending) {
            appendStatePart(*part);
        }
    }
    appendNumber(x);
    appendNumber(top - height);
    appendNumber(width);
    appendNumber(height);
    appendOperator("re");
    if (fill && stroke) {
        appendOperator("B");
    } else if (fill) {
        appendOperator("f");
    } else if (stroke) {
        appendOperator("S");
    } else {
        appendOperator("n");
    }
    changed();
    for (TStatePart* part : {&m_StrokeColor, &m_FillColor, &m_LineStyle, &m_DashPattern}) {
        part->Pending = false;
    }
}

void TPDFPainter::DrawImage(const TPDFImage& image, double x, double top, double width,
                            double height)
{
    appendOperator("q");
    // A stencil is painted in the fill colour; the colour set here ends with the Q below, so
    // the fill colour stays pending for the next box.
    if (m_FillColor.Pending && image.MaskKind() == ImageMaskStencil) {
        appendStatePart(m_FillColor);
    }
    // A form keeps its aspect ratio: it is scaled by one factor, the smaller side.
    double scaleX = width;
    double scaleY = height;
    if (image.SourceKind() == ImageSourceMetafileForm) {
        scaleX = scaleY = std::min(width, height);
    }
    appendNumber(scaleX);
    appendNumber(0);
    appendNumber(0);
    appendNumber(scaleY);
    appendNumber(x);
    appendNumber(top - height);
    appendOperator("cm");
    AppendNameText(m_Content, image.Name());
    m_Content += ' ';
    appendOperator("Do");
    appendOperator("Q");
    changed();
}

void TPDFPainter::appendNumber(double value)
{
    AppendNumber(m_Content, value, m_Precision);
    m_Content += ' ';
}

void TPDFPainter::appendOperator(std::string_view op)
{
    m_Content += op;
    m_Content += '\n';
}

void TPDFPainter::appendStatePart(const TStatePart& part)
{
    appendOperator(part.Text);
}

void TPDFPainter::changed()
{
    if (m_ChangeCallback) {
        m_ChangeCallback();
    }
}

} // namespace velloc
