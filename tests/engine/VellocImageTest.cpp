#include "engine/VellocImage.h"

#include "FakeIndirectRegistry.h"
#include "engine/VellocStructure.h"

#include <gtest/gtest.h>

#include <memory>

using namespace velloc;
using velloc::testing::TFakeIndirectRegistry;

namespace {

TPDFDictionary* ParseDictionary(TPDFStructure& s, std::string_view text)
{
    return ObjectAs<TPDFDictionary>(s.Parse(text));
}

} // namespace

TEST(VellocImage, StartsEmptyWithItsName)
{
    TPDFStructure s;
    const TPDFImage image(s, "VellocIm0123abcd");
    EXPECT_EQ(&image.Owner(), &s);
    EXPECT_EQ(image.Name(), "VellocIm0123abcd");
    EXPECT_EQ(image.XObjectRef(), nullptr);
    EXPECT_EQ(image.XObjectDict(), nullptr);
    EXPECT_EQ(image.Width(), 0);
    EXPECT_EQ(image.SourceKind(), ImageSourceNone);
    EXPECT_FALSE(image.NeedsPDF15());
    EXPECT_TRUE(image.Fonts().empty());
    EXPECT_TRUE(image.NestedImages().empty());
    EXPECT_TRUE(image.GraphicsStates().empty());
    EXPECT_TRUE(image.Patterns().empty());
    EXPECT_EQ(image.MaskKind(), ImageMaskNone);
}

TEST(VellocImage, MaskKindFollowsTheXObjectDictionary)
{
    const struct
    {
        const char* Dictionary;
        int32_t Kind;
    } rows[] = {
        {"<< /ColorSpace /DeviceGray /BitsPerComponent 8 >>", ImageMaskGray},
        {"<< /ColorSpace /DeviceRGB /BitsPerComponent 8 >>", ImageMaskNone},
        {"<< /ColorSpace /DeviceGray /SMask 7 0 R >>", ImageMaskNone},
        {"<< /ColorSpace /DeviceGray /Mask [ 0 0 ] >>", ImageMaskNone},
        {"<< /ColorSpace /DeviceGray /ImageMask false >>", ImageMaskGray},
        {"<< /ColorSpace [ /Indexed /DeviceRGB 1 <000000FFFFFF> ] >>", ImageMaskNone},
        {"<< /ImageMask true /BitsPerComponent 1 /Decode [ 1 0 ] >>", ImageMaskStencil},
        {"<< /ImageMask true /BitsPerComponent 1 /Decode [ 1 0 ] /Mask 7 0 R >>", ImageMaskNone},
        {"<< /ImageMask true /BitsPerComponent 1 /Decode [ 1 0 ] /SMask 7 0 R >>", ImageMaskNone},
        {"<< /ImageMask true >>", ImageMaskStencil},
        {"<< /ImageMask true /Decode [ 0 1 ] >>", ImageMaskStencil},
        // Compared as written: 0.00001 is written 0.
        {"<< /ImageMask true /Decode [ 0.00001 1.0 ] >>", ImageMaskStencil},
        {"<< /ImageMask true /Decode [ 0 2 ] >>", ImageMaskNone},
        {"<< /ImageMask true /Decode [ 0 1 0 ] >>", ImageMaskNone},
        {"<< /ImageMask true /Decode /Default >>", ImageMaskNone},
        {"<< /ImageMask true /BitsPerComponent 8 >>", ImageMaskNone},
        {"<< /ImageMask true /ColorSpace /DeviceGray >>", ImageMaskNone},
        {"<< /ImageMask true /ColorSpace [ /CalGray << >> ] >>", ImageMaskStencil},
        {"<< /ImageMask (true) /ColorSpace /DeviceGray >>", ImageMaskGray},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.Dictionary);
        TPDFStructure s;
        TPDFImage image(s, "Im");
        image.SetXObjectDict(ParseDictionary(s, row.Dictionary));
        ASSERT_NE(image.XObjectDict(), nullptr);
        EXPECT_EQ(image.MaskKind(), row.Kind);
    }
}

TEST(VellocImage, MaskKindFollowsReferences)
{
    TPDFStructure s;
    TFakeIndirectRegistry registry(s);
    registry.RegisterParsed("true");            // 1
    registry.RegisterParsed("1");               // 2
    registry.RegisterParsed("[ 1 0 ]");         // 3
    registry.RegisterParsed("/DeviceGray");     // 4
    registry.RegisterParsed("[ /DeviceGray ]"); // 5

    const struct
    {
        const char* Dictionary;
        int32_t Kind;
    } rows[] = {
        {"<< /ImageMask 1 0 R /BitsPerComponent 2 0 R /Decode 3 0 R >>", ImageMaskStencil},
        {"<< /ColorSpace 4 0 R >>", ImageMaskGray},
        // A colour space that is a name through a reference is still a name.
        {"<< /ImageMask true /ColorSpace 4 0 R >>", ImageMaskNone},
        {"<< /ImageMask true /ColorSpace 5 0 R >>", ImageMaskStencil},
        // An entry whose reference leads nowhere is present but not 1.
        {"<< /ImageMask true /BitsPerComponent 99 0 R >>", ImageMaskNone},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.Dictionary);
        TPDFImage image(s, "Im");
        image.SetXObjectDict(ParseDictionary(s, row.Dictionary));
        EXPECT_EQ(image.MaskKind(), row.Kind);
    }
}

TEST(VellocImage, SetsMaskEntries)
{
    TPDFStructure s;
    TPDFImage image(s, "Im");
    TPDFIndRef* other = s.NewReference(9, 0);
    EXPECT_FALSE(image.SetMaskReference(MaskEntrySMask, other)) << "no XObject yet";
    image.SetColorKeyMask({1, 2, 3, 4, 5, 6});
    EXPECT_EQ(image.XObjectDict(), nullptr);

    image.SetXObjectDict(s.NewDictionary());
    image.SetColorKeyMask({0, 0, 250, 255, -1, 65535});
    EXPECT_EQ(image.XObjectDict()->Text(), "<<\n/Mask [ 0 0 250 255 -1 65535 ]\n>>\n");

    EXPECT_TRUE(image.SetMaskReference(MaskEntryMask, other));
    EXPECT_TRUE(image.SetMaskReference(MaskEntrySMask, other));
    EXPECT_EQ(image.XObjectDict()->Text(), "<<\n/Mask 9 0 R\n/SMask 9 0 R\n>>\n");

    for (const int32_t kind : {0, 3, -1}) {
        SCOPED_TRACE(kind);
        EXPECT_FALSE(image.SetMaskReference(kind, other));
    }
    EXPECT_FALSE(image.SetMaskReference(MaskEntryMask, nullptr));
    EXPECT_EQ(image.XObjectDict()->Count(), 2);
}

TEST(VellocImage, FreeingTheRecordLeavesItsObjectsToTheStructure)
{
    TPDFStructure s;
    auto image = std::make_unique<TPDFImage>(s, "Im");
    TPDFStream* xobject = s.NewStream("pixels", false);
    image->SetXObjectDict(xobject->Dictionary());
    image->SetXObjectRef(s.NewReference(4, 0));
    image->AddFont("F1", s.NewReference(5, 0));
    const size_t objects = s.ObjectCount();

    image.reset();
    EXPECT_EQ(s.ObjectCount(), objects);
    EXPECT_EQ(xobject->Data(), "pixels");
    EXPECT_EQ(xobject->Dictionary()->Text(), "<<\n/Length 6\n>>\n");
}
