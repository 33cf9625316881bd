#include "engine/VellocPainter.h"

#include "engine/VellocImage.h"
#include "engine/VellocStructure.h"

#include <gtest/gtest.h>

#include <string_view>

using namespace velloc;
using namespace std::string_view_literals;

namespace {

// A painter whose change callback counts its calls.
struct TCountedPainter
{
    TCountedPainter()
    {
        Painter.AttachChangeCallback([this] { ++Changes; });
    }
    TPDFPainter Painter;
    int Changes = 0;
};

} // namespace

TEST(VellocPainter, PaintsAConversionPage)
{
    TPDFStructure s;
    const TPDFImage image(s, "VellocIm1234abcd");
    TPDFPainter painter;
    painter.SetFillColor(128 / 255.0, 128 / 255.0, 128 / 255.0);
    painter.DrawBox(true, false, 0, 841.88976, 595.27559, 841.88976);
    painter.DrawImage(image, 0, 841.88976, 595.27559, 841.88976);
    EXPECT_EQ(painter.ContentText(), R"(0 0 0 RG
0.502 0.502 0.502 rg
1 w
[] 0 d
0 0 595.2756 841.8898 re
f
q
595.2756 0 0 841.8898 0 0 cm
/VellocIm1234abcd Do
Q
)"sv);
}

TEST(VellocPainter, WritesPendingStateOnlyOnce)
{
    TPDFPainter painter;
    painter.DrawBox(true, false, 10, 110, 20, 100);
    painter.DrawBox(true, false, 30, 60, 5, 50);
    painter.SetFillColor(1.5, -0.2, 0.25);
    painter.DrawBox(true, false, 0, 1, 1, 1);
    // The white default fill comes first; later only the changed colour is repeated.
    EXPECT_EQ(painter.ContentText(), R"(0 0 0 RG
1 1 1 rg
1 w
[] 0 d
10 10 20 100 re
f
30 10 5 50 re
f
1 0 0.25 rg
0 0 1 1 re
f
)"sv);

    // A reset makes the whole state pending again.
    painter.ResetState();
    painter.DrawBox(false, true, 0, 0, 0, 0);
    EXPECT_EQ(painter.ContentText(), "0 0 0 RG\n1 1 1 rg\n1 w\n[] 0 d\n0 0 0 0 re\nS\n"sv);
}

TEST(VellocPainter, ChoosesThePaintingOperator)
{
    const struct
    {
        bool Fill;
        bool Stroke;
        std::string_view Operator;
    } rows[] = {{true, false, "f"}, {false, true, "S"}, {true, true, "B"}, {false, false, "n"}};
    for (const auto& row : rows) {
        SCOPED_TRACE(row.Operator);
        TPDFPainter painter;
        painter.DrawBox(true, true, 0, 0, 1, 1);
        painter.DrawBox(row.Fill, row.Stroke, 1.5, 2, 3, 4);
        const std::string text = painter.ContentText();
        EXPECT_EQ(text.substr(text.find("1.5 ")),
                  "1.5 -2 3 4 re\n" + std::string(row.Operator) + "\n");
    }
}

TEST(VellocPainter, ClampsColourComponents)
{
    const struct
    {
        double Red, Green, Blue;
        std::string_view Text;
    } rows[] = {
        {1.5, -0.2, 0.25, "1 0 0.25 rg\n"},
        {0, 0, 0, "0 0 0 rg\n"},
        {1 / 3.0, 2 / 3.0, 0.99995, "0.3333 0.6667 1 rg\n"},
        {-0.00004, 1e300, -1e300, "0 1 0 rg\n"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.Text);
        TPDFPainter painter;
        painter.SetFillColor(row.Red, row.Green, row.Blue);
        painter.DrawBox(false, false, 0, 0, 0, 0);
        EXPECT_NE(painter.ContentText().find(row.Text), std::string::npos) << painter.ContentText();
    }
}

TEST(VellocPainter, PlacesImagesByKind)
{
    TPDFStructure s;
    TPDFImage raster(s, "Raster");
    raster.SetSourceKind(ImageSourcePNG);
    raster.SetXObjectDict(ObjectAs<TPDFDictionary>(s.Parse("<< /ColorSpace /DeviceGray >>")));
    TPDFImage stencil(s, "Stencil");
    stencil.SetXObjectDict(
        ObjectAs<TPDFDictionary>(s.Parse("<< /ImageMask true /BitsPerComponent 1 >>")));
    TPDFImage form(s, "Form");
    form.SetSourceKind(ImageSourceMetafileForm);

    TPDFPainter painter;
    painter.SetFillColor(1, 0, 0);
    // A raster image, even a gray one, never writes the pending fill colour.
    painter.DrawImage(raster, 10, 300, 200, 100);
    // A stencil paints in the fill colour; it stays pending because Q drops it again.
    painter.DrawImage(stencil, 10, 300, 200, 100);
    painter.DrawImage(stencil, 10, 300, 200, 100);
    // A form scales by its smaller side.
    painter.DrawImage(form, 10, 300, 200, 100);
    painter.DrawBox(true, false, 0, 1, 1, 1);
    EXPECT_EQ(painter.ContentText(), R"(q
200 0 0 100 10 200 cm
/Raster Do
Q
q
1 0 0 rg
200 0 0 100 10 200 cm
/Stencil Do
Q
q
1 0 0 rg
200 0 0 100 10 200 cm
/Stencil Do
Q
q
100 0 0 100 10 200 cm
/Form Do
Q
0 0 0 RG
1 0 0 rg
1 w
[] 0 d
0 0 1 1 re
f
)"sv);
}

TEST(VellocPainter, WritesImageNamesAsPdfNames)
{
    TPDFStructure s;
    const TPDFImage image(s, "Im 1/2");
    TPDFPainter painter;
    painter.DrawImage(image, 0, 1, 1, 1);
    EXPECT_NE(painter.ContentText().find("\n/Im#201#2F2 Do\n"), std::string::npos);
}

TEST(VellocPainter, LoadsAndReportsContent)
{
    TPDFPainter painter;
    EXPECT_EQ(painter.ContentText(), "\n");

    const struct
    {
        std::string_view Loaded;
        std::string_view Text;
    } rows[] = {
        {"", "\n"},
        {"q\n", "q\n \n"},
        {"0 0 m ", "0 0 m \n"},
        {"BT ET", "BT ET \n"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.Loaded);
        painter.LoadContent(row.Loaded);
        EXPECT_EQ(painter.ContentText(), row.Text);
    }

    // New operators follow the loaded content after the separating space.
    painter.LoadContent("Q\n");
    painter.DrawBox(false, false, 0, 0, 0, 0);
    EXPECT_EQ(painter.ContentText(), "Q\n 0 0 0 RG\n1 1 1 rg\n1 w\n[] 0 d\n0 0 0 0 re\nn\n");
}

TEST(VellocPainter, CallsBackAfterEveryDrawing)
{
    TPDFStructure s;
    const TPDFImage image(s, "Im");
    TCountedPainter counted;
    TPDFPainter& painter = counted.Painter;

    painter.SetFillColor(0, 0, 0);
    painter.LoadContent("q\n");
    EXPECT_EQ(counted.Changes, 0);
    painter.DrawBox(true, false, 0, 0, 1, 1);
    painter.DrawImage(image, 0, 0, 1, 1);
    EXPECT_EQ(counted.Changes, 2);
    painter.ResetState();
    EXPECT_EQ(counted.Changes, 3);

    // Text seen by the callback is complete: the box is written before the call.
    std::string seen;
    painter.AttachChangeCallback([&] { seen = painter.ContentText(); });
    painter.DrawBox(true, false, 0, 0, 1, 1);
    EXPECT_EQ(seen, painter.ContentText());

    painter.DetachChangeCallback();
    EXPECT_FALSE(painter.HasChangeCallback());
    painter.ResetState();
    painter.DrawBox(true, false, 5, 5, 1, 1);
    EXPECT_EQ(counted.Changes, 3);
    EXPECT_NE(seen, painter.ContentText());
}

TEST(VellocPainter, WritesOperandsWithItsPrecision)
{
    TPDFPainter painter;
    EXPECT_EQ(painter.Precision(), 4);
    painter.SetPrecision(2);
    painter.SetFillColor(1 / 3.0, 0, 0);
    painter.DrawBox(true, false, 0.125, 841.88976, 595.27559, -0.001);
    const std::string text = painter.ContentText();
    EXPECT_NE(text.find("\n0.33 0 0 rg\n"), std::string::npos) << text;
    EXPECT_NE(text.find("\n0.13 841.89 595.28 0 re\n"), std::string::npos) << text;
}
