#include "engine/VellocImage.h"

#include "FakeIndirectRegistry.h"
#include "PngSuiteFiles.h"
#include "engine/VellocDocument.h"
#include "engine/VellocPNG.h"
#include "engine/VellocStructure.h"
#include "engine/support/VellocStream.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <memory>
#include <set>
#include <string>
#include <vector>

using namespace velloc;
using namespace std::string_literals;
using namespace velloc::testing;

namespace {

// Inflates a zlib stream that must give exactly `size` bytes.
std::string Inflate(const std::string& data, size_t size)
{
    std::string out(size + 1, '\0');
    uLongf outLength = static_cast<uLongf>(out.size());
    EXPECT_EQ(uncompress(reinterpret_cast<Bytef*>(out.data()), &outLength,
                         reinterpret_cast<const Bytef*>(data.data()),
                         static_cast<uLong>(data.size())),
              Z_OK);
    out.resize(outLength);
    return out;
}

// A file with the 4 bytes of a tag and zero padding up to `size` bytes.
std::string Padded(std::string head, size_t size)
{
    head.resize(size, '\0');
    return head;
}

class ImageImport : public ::testing::Test
{
  protected:
    // Loads a PngSuite file into a new image; the image is kept only when the load succeeds.
    TPDFImage* Load(const std::string& name, int32_t option)
    {
        TVellocMemoryStream stream(SuiteFile(name));
        auto image = std::make_unique<TPDFImage>(m_Structure, "VellocIm00000000");
        if (!image->LoadFromStream(stream, option)) {
            m_Reason = image->FailureReason();
            return nullptr;
        }
        m_Images.push_back(std::move(image));
        return m_Images.back().get();
    }

    TPDFStream* Registered(int32_t number) const
    {
        return ObjectAs<TPDFStream>(m_Registry.Objects.at(static_cast<size_t>(number - 1)));
    }

    TPDFStructure m_Structure;
    TFakeIndirectRegistry m_Registry{m_Structure};
    std::vector<std::unique_ptr<TPDFImage>> m_Images;
    std::string m_Reason;
};

} // namespace

TEST(ImageFormat, DetectedByTheLeadingBytesOnly)
{
    // A placeable WMF header: key D7 CD C6 9A, then eight words, then their checksum.
    std::string wmf = "\xD7\xCD\xC6\x9A"s + std::string(16, '\0') + "\0\0"s;
    wmf[6] = 0x12;
    wmf[8] = 0x34;
    uint16_t checksum = 0;
    for (size_t i = 0; i < 20; i += 2) {
        checksum ^= static_cast<uint16_t>(static_cast<unsigned char>(wmf[i]) |
                                          static_cast<unsigned char>(wmf[i + 1]) << 8);
    }
    wmf[20] = static_cast<char>(checksum & 0xFF);
    wmf[21] = static_cast<char>(checksum >> 8);
    std::string wmfBadSum = wmf;
    wmfBadSum[20] ^= 1;

    std::string emf = Padded("\x01\0\0\0"s, 100);
    emf.replace(40, 4, " EMF");

    const struct
    {
        const char* Case;
        std::string Bytes;
        TImageFormat Format;
    } rows[] = {
        {"placeable WMF", wmf, TImageFormat::PlaceableWMF},
        {"WMF with a wrong checksum", wmfBadSum, TImageFormat::Unknown},
        {"WMF cut before its checksum", wmf.substr(0, 21), TImageFormat::Unknown},
        {"EMF", emf, TImageFormat::EMF},
        {"EMF header one byte short", emf.substr(0, 99), TImageFormat::Unknown},
        {"EMF of another record type", "\x02" + emf.substr(1), TImageFormat::Unknown},
        {"BMP", Padded("BM\x36\0\0\0"s, 14), TImageFormat::BMP},
        {"BMP with a reserved word set", Padded("BM\x36\0\0\0\0\0\x01"s, 14),
         TImageFormat::Unknown},
        {"BMP header cut short", Padded("BM"s, 13), TImageFormat::Unknown},
        {"JPEG", "\xFF\xD8\xFF\xE0"s, TImageFormat::JPEG},
        {"JPEG, two bytes only", "\xFF\xD8"s, TImageFormat::JPEG},
        {"TIFF big-endian", "MM\0*"s, TImageFormat::TIFF},
        {"TIFF little-endian", "II*\0"s, TImageFormat::TIFF},
        {"PNG", "\x89PNG\r\n\x1A\n"s, TImageFormat::PNG},
        {"PNG signature cut short", "\x89PNG\r\n\x1A"s, TImageFormat::Unknown},
        {"PNG signature damaged", "\x89PNG\n\n\x1A\n"s, TImageFormat::Unknown},
        {"GIF87a", "GIF87a", TImageFormat::GIF},
        {"GIF89a", "GIF89a", TImageFormat::GIF},
        {"GIF of an unknown version", "GIF88a", TImageFormat::Unknown},
        {"text", "just some text\n", TImageFormat::Unknown},
        {"empty", "", TImageFormat::Unknown},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.Case);
        TVellocMemoryStream stream(row.Bytes);
        stream.Seek(static_cast<int64_t>(row.Bytes.size() / 2), TSeekOrigin::Start);
        EXPECT_EQ(DetectImageFormat(stream), row.Format);
        EXPECT_EQ(stream.Position(), 0);
    }
}

TEST_F(ImageImport, RgbWithoutInterlacingPassesTheIdatDataThrough)
{
    const std::string png = SuiteFile("basn2c08");
    const TPDFImage* image = Load("basn2c08", 6);
    ASSERT_NE(image, nullptr) << m_Reason;
    ASSERT_EQ(m_Registry.Objects.size(), 1u);
    const TPDFStream* stream = Registered(1);
    const std::string idat = ConcatenatedIdat(png);
    EXPECT_EQ(stream->Data(), idat);
    EXPECT_EQ(stream->Dictionary()->Text(),
              "<<\n/Length " + std::to_string(idat.size()) +
                  "\n/Type /XObject\n/Subtype /Image\n/Width 32\n/Height 32\n"
                  "/ColorSpace /DeviceRGB\n/BitsPerComponent 8\n/Filter /FlateDecode\n"
                  "/DecodeParms <<\n/Predictor 15\n/Colors 3\n/BitsPerComponent 8\n/Columns 32\n"
                  ">>\n>>\n");
    EXPECT_EQ(image->XObjectDict(), stream->Dictionary());
    EXPECT_EQ(image->XObjectRef()->Text(), "1 0 R");
    EXPECT_EQ(image->SourceKind(), ImageSourcePNG);
    EXPECT_EQ(image->Width(), 32);
    EXPECT_EQ(image->Height(), 32);
    EXPECT_EQ(image->ResolutionUnit(), 2);
    EXPECT_FALSE(image->NeedsPDF15());
}

TEST_F(ImageImport, RgbaGivesTheSoftMaskFirstThenTheColourImage)
{
    TPNGReader reader;
    TVellocMemoryStream source(SuiteFile("basn6a08"));
    reader.ReadChunks(source);

    const TPDFImage* image = Load("basn6a08", 6);
    ASSERT_NE(image, nullptr) << m_Reason;
    ASSERT_EQ(m_Registry.Objects.size(), 2u);
    const TPDFStream* mask = Registered(1);
    const TPDFStream* color = Registered(2);
    EXPECT_EQ(mask->Dictionary()->Text(),
              "<<\n/Length " + std::to_string(mask->Data().size()) +
                  "\n/Type /XObject\n/Subtype /Image\n/Width 32\n/Height 32\n"
                  "/ColorSpace /DeviceGray\n/BitsPerComponent 8\n/Filter /FlateDecode\n>>\n");
    EXPECT_EQ(color->Dictionary()->Text(),
              "<<\n/Length " + std::to_string(color->Data().size()) +
                  "\n/Type /XObject\n/Subtype /Image\n/Width 32\n/Height 32\n"
                  "/ColorSpace /DeviceRGB\n/BitsPerComponent 8\n/Filter /FlateDecode\n"
                  "/SMask 1 0 R\n>>\n");
    // The planes exactly as the reader deflated them, compressed once only.
    EXPECT_EQ(mask->Data(), reader.AlphaData());
    EXPECT_EQ(color->Data(), reader.ColorData());
    EXPECT_EQ(Inflate(mask->Data(), 32 * 32).size(), 32u * 32);
    EXPECT_EQ(Inflate(color->Data(), 32 * 32 * 3).size(), 32u * 32 * 3);
    EXPECT_EQ(image->XObjectDict(), color->Dictionary());
    EXPECT_EQ(image->XObjectRef()->Text(), "2 0 R");
    EXPECT_EQ(image->MaskKind(), ImageMaskNone);
}

TEST_F(ImageImport, OptionsChooseTheMaskAndTheColourImage)
{
    const struct
    {
        const char* File;
        int32_t Option;
        // Registered streams, "" for a failed load; "M" mask, "C" colour image, "C+M" a colour
        // image with a soft mask.
        const char* Built;
    } rows[] = {
        {"basn6a08", -5, "C"},  {"basn6a08", 0, "C"},   {"basn6a08", 1, "M"},
        {"basn6a08", 2, "C+M"}, {"basn6a08", 3, "C"},   {"basn6a08", 4, "M"},
        {"basn6a08", 5, "C+M"}, {"basn6a08", 6, "C+M"}, {"basn6a08", 7, ""},
        {"basn2c08", 0, "C"},   {"basn2c08", 1, ""},    {"basn2c08", 2, "C"},
        {"basn2c08", 3, "C"},   {"basn2c08", 4, ""},    {"basn2c08", 5, "C"},
        {"basn2c08", 6, "C"},   {"basn4a08", 1, "M"},   {"basn4a08", 6, "C+M"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(std::string(row.File) + " option " + std::to_string(row.Option));
        m_Registry.Objects.clear();
        const TPDFImage* image = Load(row.File, row.Option);
        const std::string built = row.Built;
        if (built.empty()) {
            EXPECT_EQ(image, nullptr);
            EXPECT_FALSE(m_Reason.empty());
            EXPECT_TRUE(m_Registry.Objects.empty());
            continue;
        }
        ASSERT_NE(image, nullptr) << m_Reason;
        const std::string colorSpace = row.File == "basn4a08"s ? "/DeviceGray" : "/DeviceRGB";
        const TPDFDictionary* drawn = image->XObjectDict();
        if (built == "M") {
            ASSERT_EQ(m_Registry.Objects.size(), 1u);
            EXPECT_EQ(drawn->Get("ColorSpace")->Text(), "/DeviceGray");
            EXPECT_EQ(image->MaskKind(), ImageMaskGray);
        } else {
            ASSERT_EQ(m_Registry.Objects.size(), built == "C" ? 1u : 2u);
            EXPECT_EQ(drawn->Get("ColorSpace")->Text(), colorSpace);
            EXPECT_EQ(drawn->IndexOf("SMask") >= 0, built == "C+M");
        }
        EXPECT_EQ(drawn, Registered(static_cast<int32_t>(m_Registry.Objects.size()))->Dictionary());
        EXPECT_EQ(drawn->IndexOf("Mask"), -1);
    }
}

TEST_F(ImageImport, SixteenBitSamplesAreKeptOrReducedByTheOption)
{
    const struct
    {
        const char* File;
        int32_t Option;
        const char* ColorBits; // "" when no colour image is built
        const char* MaskBits;  // "" when no mask is built
        bool DecodeParms;
        bool NeedsPDF15;
    } rows[] = {
        {"basn2c16", 6, "16", "", true, true},    {"basn2c16", 0, "16", "", true, true},
        {"basn2c16", 3, "8", "", false, false},   {"basn2c16", 5, "8", "", false, false},
        {"basn6a16", 6, "16", "16", false, true}, {"basn6a16", 2, "16", "8", false, true},
        {"basn6a16", 5, "8", "8", false, false},  {"basn6a16", 1, "", "16", false, true},
        {"basn6a16", 4, "", "8", false, false},   {"basn6a16", 3, "8", "", false, false},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(std::string(row.File) + " option " + std::to_string(row.Option));
        m_Registry.Objects.clear();
        const TPDFImage* image = Load(row.File, row.Option);
        ASSERT_NE(image, nullptr) << m_Reason;
        EXPECT_EQ(image->NeedsPDF15(), row.NeedsPDF15);
        size_t next = 0;
        if (*row.MaskBits != '\0') {
            const TPDFDictionary* mask =
                ObjectAs<TPDFStream>(m_Registry.Objects.at(next++))->Dictionary();
            EXPECT_EQ(mask->Get("ColorSpace")->Text(), "/DeviceGray");
            EXPECT_EQ(mask->Get("BitsPerComponent")->Text(), row.MaskBits);
        }
        if (*row.ColorBits != '\0') {
            const TPDFDictionary* color =
                ObjectAs<TPDFStream>(m_Registry.Objects.at(next++))->Dictionary();
            EXPECT_EQ(color->Get("BitsPerComponent")->Text(), row.ColorBits);
            EXPECT_EQ(color->IndexOf("DecodeParms") >= 0, row.DecodeParms);
            if (row.DecodeParms) {
                EXPECT_EQ(color->Get("DecodeParms")->Text(),
                          "<<\n/Predictor 15\n/Colors 3\n/BitsPerComponent 16\n/Columns 32\n>>\n");
            }
        }
        EXPECT_EQ(m_Registry.Objects.size(), next);
    }
}

TEST_F(ImageImport, PaletteImagesUseAnIndexedSpaceAndIgnoreTransparency)
{
    for (const char* name : {"basn3p08", "tbbn3p08"}) {
        SCOPED_TRACE(name);
        m_Registry.Objects.clear();
        const std::string png = SuiteFile(name);
        TPNGReader reader;
        TVellocMemoryStream source(png);
        reader.CheckChunks(source);

        const TPDFImage* image = Load(name, 6);
        ASSERT_NE(image, nullptr) << m_Reason;
        ASSERT_EQ(m_Registry.Objects.size(), 1u);
        const TPDFStream* stream = Registered(1);
        const TPDFDictionary& dictionary = *stream->Dictionary();
        EXPECT_EQ(stream->Data(), ConcatenatedIdat(png));
        // [ /Indexed /DeviceRGB highest-index <palette bytes> ]
        const auto* space = ObjectAs<TPDFArray>(dictionary.Get("ColorSpace"));
        ASSERT_NE(space, nullptr);
        ASSERT_EQ(space->Count(), 4);
        EXPECT_EQ(space->ItemAt(0)->Text(), "/Indexed");
        EXPECT_EQ(space->ItemAt(1)->Text(), "/DeviceRGB");
        EXPECT_EQ(space->ItemAt(2)->Text(), std::to_string(reader.PaletteCount() - 1));
        ASSERT_NE(ObjectAs<TPDFString>(space->ItemAt(3)), nullptr);
        EXPECT_EQ(ObjectAs<TPDFString>(space->ItemAt(3))->Value(), reader.Palette());
        EXPECT_EQ(dictionary.Get("DecodeParms")->Text(),
                  "<<\n/Predictor 15\n/BitsPerComponent 8\n/Columns 32\n>>\n");
        // tRNS is not carried over: the image is drawn fully opaque.
        EXPECT_EQ(dictionary.IndexOf("Mask"), -1);
        EXPECT_EQ(dictionary.IndexOf("SMask"), -1);
    }

    // Interlaced: decoded and deflated again, so without predictors.
    m_Registry.Objects.clear();
    const TPDFImage* interlaced = Load("basi3p08", 6);
    ASSERT_NE(interlaced, nullptr) << m_Reason;
    EXPECT_EQ(interlaced->XObjectDict()->IndexOf("DecodeParms"), -1);
    EXPECT_EQ(Inflate(Registered(1)->Data(), 32 * 32).size(), 32u * 32);
}

TEST_F(ImageImport, RefusedFilesBuildNothing)
{
    const std::string png = SuiteFile("basn2c08");
    const struct
    {
        const char* Case;
        std::string Bytes;
        const char* Reason;
    } rows[] = {
        {"text", "not an image at all", "not a PNG file"},
        {"JPEG", "\xFF\xD8\xFF\xE0 rest of a JPEG file"s, "JPEG images are not supported yet"},
        {"GIF", "GIF89a rest", "GIF images are not supported yet"},
        {"no IDAT", png.substr(0, 8 + 25), "no image data"},
        {"zero width", png.substr(0, 16) + "\0\0\0\0"s + png.substr(20), "zero width or height"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.Case);
        const size_t objectsBefore = m_Structure.ObjectCount();
        TVellocMemoryStream stream(row.Bytes);
        TPDFImage image(m_Structure, "VellocIm00000000");
        EXPECT_FALSE(image.LoadFromStream(stream, 6));
        EXPECT_EQ(image.FailureReason(), row.Reason);
        EXPECT_EQ(image.XObjectRef(), nullptr);
        EXPECT_TRUE(m_Registry.Objects.empty());
        EXPECT_EQ(m_Structure.ObjectCount(), objectsBefore);
    }
}

TEST(ImageImportHook, WithoutTheRegistrationHookNothingIsLoaded)
{
    TPDFStructure structure;
    TVellocMemoryStream stream(SuiteFile("basn2c08"));
    TPDFImage image(structure, "VellocIm00000000");
    EXPECT_FALSE(image.LoadFromStream(stream, 6));
    EXPECT_EQ(structure.ObjectCount(), 0u);
}

// A registration that fails takes the unregistered objects back out of the structure, image
// data and all; only key names, which the structure keeps for good, and what was registered
// before the failure remain.
TEST(ImageImportHook, AFailedRegistrationReleasesWhatWasNotRegistered)
{
    for (int failingCall : {1, 2}) {
        SCOPED_TRACE("failing registration " + std::to_string(failingCall));
        TPDFStructure structure;
        std::vector<TPDFObject*> registered;
        int calls = 0;
        structure.OnRegisterIndirect = [&](TPDFObject*, TPDFObject* obj) {
            if (++calls == failingCall) {
                throw std::bad_alloc();
            }
            registered.push_back(obj);
            obj->SetIndirectIdentity(static_cast<int32_t>(registered.size()), 0);
            return TPDFIndirectIdentity{static_cast<int32_t>(registered.size()), 0};
        };
        TVellocMemoryStream stream(SuiteFile("basn6a08"));
        TPDFImage image(structure, "VellocIm00000000");
        EXPECT_THROW(image.LoadFromStream(stream, 6), std::bad_alloc);

        std::set<const TPDFObject*> reachable;
        std::vector<const TPDFObject*> pending(registered.begin(), registered.end());
        while (!pending.empty()) {
            const TPDFObject* obj = pending.back();
            pending.pop_back();
            if (!reachable.insert(obj).second) {
                continue;
            }
            if (const auto* s = obj->As<TPDFStream>()) {
                pending.push_back(s->Dictionary());
            } else if (const auto* d = obj->As<TPDFDictionary>()) {
                for (const auto& entry : d->Entries()) {
                    pending.push_back(entry.Value);
                }
            }
        }
        EXPECT_EQ(registered.size(), static_cast<size_t>(failingCall - 1));
        for (size_t i = 0; i < structure.ObjectCount(); ++i) {
            const TPDFObject* obj = structure.ObjectAt(i);
            const auto* name = obj->As<TPDFName>();
            EXPECT_TRUE(reachable.contains(obj) || (name && name->IsKeyName()))
                << "left behind: " << obj->Text();
        }
    }
}

TEST(ImageImportCheck, AcceptsWhatLoadsWithoutDecoding)
{
    const std::string png = SuiteFile("basn6a08");
    const struct
    {
        const char* Case;
        std::string Bytes;
        int32_t Option;
        const char* Reason; // "" when accepted
    } rows[] = {
        {"RGBA", png, 6, ""},
        {"RGBA alpha alone", png, 1, ""},
        {"RGB alpha alone", SuiteFile("basn2c08"), 4,
         "the image has no alpha channel to load on its own"},
        {"option 7", png, 7, "load option 7 is not valid for a PNG image"},
        {"text", "plain text", 6, "not a PNG file"},
        {"TIFF", "II*\0"s, 6, "TIFF images are not supported yet"},
        {"no IDAT", png.substr(0, 8 + 25), 6, "no image data"},
        {"16-bit palette", SuiteFile("basn3p08").replace(24, 1, "\x10"), 6,
         "bit depth 16 not allowed for colour type 3"},
        // 100000 x 100000 RGBA would need 40 GB to decode.
        {"huge", png.substr(0, 16) + "\0\x01\x86\xA0\0\x01\x86\xA0"s + png.substr(24), 6,
         "image too large"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.Case);
        TVellocMemoryStream stream(row.Bytes);
        std::string reason;
        EXPECT_EQ(CheckImageStream(stream, row.Option, reason), *row.Reason == '\0');
        EXPECT_EQ(reason, row.Reason);
    }
}

TEST(ImageImportDocument, EveryLoadMakesANewImageWithItsOwnName)
{
    TPDFDocument document;
    ASSERT_TRUE(document.SetUpNewDocument());
    const int32_t objectsBefore = document.HighestObjectNumber();
    const std::string png = SuiteFile("basn6a08");
    TVellocMemoryStream first(png);
    TVellocMemoryStream second(png);
    const TPDFImage* a = document.AddImageFromStream(first, 6, 0);
    const TPDFImage* b = document.AddImageFromStream(second, 6, 0);
    ASSERT_NE(a, nullptr);
    ASSERT_NE(b, nullptr);
    EXPECT_NE(a->Name(), b->Name());
    for (const TPDFImage* image : {a, b}) {
        EXPECT_EQ(image->Name().size(), 16u);
        EXPECT_EQ(image->Name().rfind("VellocIm", 0), 0u);
        EXPECT_EQ(image->Name().find_first_not_of("0123456789abcdef", 8), std::string::npos);
    }
    EXPECT_EQ(a->XObjectRef()->ObjectNumber(), objectsBefore + 2);
    EXPECT_EQ(b->XObjectRef()->ObjectNumber(), objectsBefore + 4);
    EXPECT_EQ(document.ImageCount(), 2);
    EXPECT_EQ(document.ImageAt(1), b);

    TVellocMemoryStream text("hello");
    std::string reason;
    EXPECT_EQ(document.AddImageFromStream(text, 6, 0, &reason), nullptr);
    EXPECT_EQ(reason, "not a PNG file");
    EXPECT_EQ(document.ImageCount(), 2);
    EXPECT_EQ(document.HighestObjectNumber(), objectsBefore + 4);
}
