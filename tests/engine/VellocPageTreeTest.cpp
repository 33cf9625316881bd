#include "engine/VellocPageTree.h"

#include "FakeIndirectRegistry.h"
#include "engine/VellocImage.h"
#include "engine/VellocPainter.h"
#include "engine/VellocStructure.h"

#include <gtest/gtest.h>

#include <array>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

using namespace velloc;
using namespace std::string_view_literals;
using velloc::testing::TFakeIndirectRegistry;

namespace {

// The first page of a new document once the tree has given it its content stream (object 3).
constexpr std::string_view FirstPageText = R"(<<
/Type /Page
/Parent 1 0 R
/MediaBox [ 0 0 612 792 ]
/CropBox [ 0 0 612 792 ]
/Resources <<
/ProcSet [ /PDF /Text /ImageB /ImageC /ImageI ]
>>
/Contents [ 3 0 R ]
>>
)";

constexpr std::string_view EmptyEngineStreamText =
    "<<\n/Length 0\n/LC /Vlcn\n>>\nstream\n\nendstream";

class VellocPageTree : public ::testing::Test
{
  protected:
    // A root and first page as a new document has them: the /Pages root is object 1, the page
    // object 2; creating the tree selects page 1.
    void NewDocument()
    {
        TPDFDictionary* root = S.NewDictionary();
        Registry.Register(root);
        TPDFDictionary* page = S.NewDictionary();
        TPDFDictionary* resources = S.NewDictionary();
        page->Put("Type", S.KeyName("Page"));
        page->Put("Parent", S.NewReference(1, 0));
        const std::array<int32_t, 4> letter{0, 0, 612, 792};
        page->Put("MediaBox", S.NewIntegerArray(letter));
        page->Put("CropBox", S.NewIntegerArray(letter));
        page->Put("Resources", resources);
        TPDFName* names[] = {S.NewName("PDF"), S.NewName("Text"), S.NewName("ImageB"),
                             S.NewName("ImageC"), S.NewName("ImageI")};
        resources->Put("ProcSet", S.NewArrayOf(std::vector<TPDFObject*>(names, names + 5)));
        root->Put("Type", S.KeyName("Pages"));
        root->Put("Count", S.NewNumber(1));
        const int32_t pageNumber = Registry.Register(page);
        TPDFObject* kids[] = {S.NewReference(pageNumber, 0)};
        root->Put("Kids", S.NewArrayOf(kids));
        Tree = std::make_unique<TPDFPageTree>(root);
    }

    // Registers each text as the next object; object 1 is the root of the tree made then.
    void ParsedTree(std::initializer_list<std::string_view> objects)
    {
        for (const std::string_view text : objects) {
            Registry.RegisterParsed(text);
        }
        Tree = std::make_unique<TPDFPageTree>(Object(1));
    }

    // Registers a content stream as the next object, marked with /LC when mark is not empty.
    void RegisterStream(std::string_view data, std::string_view mark)
    {
        TPDFStream* stream = S.NewStream(data, false);
        if (!mark.empty()) {
            stream->Dictionary()->Put("LC", S.NewName(std::string(mark)));
        }
        Registry.Register(stream);
    }

    TPDFDictionary* Object(int32_t number)
    {
        return ObjectAs<TPDFDictionary>(Registry.Objects.at(static_cast<size_t>(number - 1)));
    }
    TPDFStream* StreamObject(int32_t number)
    {
        return ObjectAs<TPDFStream>(Registry.Objects.at(static_cast<size_t>(number - 1)));
    }

    // Object numbers of the pages in page order, as FindPage sees them.
    std::vector<int32_t> PageOrder()
    {
        std::vector<int32_t> numbers;
        for (int32_t n = 1; n <= Tree->PageCount(); ++n) {
            const TPDFDictionary* page = Tree->FindPage(n);
            numbers.push_back(page ? page->ObjectNumber() : 0);
        }
        return numbers;
    }

    int32_t CurrentObject() const
    {
        return Tree->PageDict() ? Tree->PageDict()->ObjectNumber() : 0;
    }

    TPDFStructure S;
    TFakeIndirectRegistry Registry{S};
    std::unique_ptr<TPDFPageTree> Tree;
};

} // namespace

TEST_F(VellocPageTree, SelectingTheFirstPageGivesItAnEngineContentStream)
{
    NewDocument();
    EXPECT_EQ(Tree->PageCount(), 1);
    EXPECT_EQ(Tree->CurrentPage(), 1);
    EXPECT_TRUE(Tree->PageReady());
    EXPECT_EQ(Registry.Objects.size(), 3u);
    EXPECT_EQ(Registry.TextOf(2), FirstPageText);
    EXPECT_EQ(Registry.TextOf(3), EmptyEngineStreamText);
    EXPECT_EQ(Tree->PageWidth(), 612);
    EXPECT_EQ(Tree->PageHeight(), 792);

    // Selecting it again finds the stream and makes no other.
    Tree->SelectPage(1);
    EXPECT_EQ(Registry.Objects.size(), 3u);
    EXPECT_EQ(Tree->ContentCount(), 1);
}

TEST_F(VellocPageTree, SetsThePageSize)
{
    NewDocument();
    // A4 in millimetres, divided by the size of a point in millimetres.
    const double width = 210 / 0.3527777777777778;
    const double height = 297 / 0.3527777777777778;
    Tree->SetPageWidth(width);
    Tree->SetPageHeight(height);
    EXPECT_EQ(Tree->PageWidth(), width);
    EXPECT_EQ(Tree->PageHeight(), height);
    EXPECT_EQ(Registry.TextOf(2), R"(<<
/Type /Page
/Parent 1 0 R
/Resources <<
/ProcSet [ /PDF /Text /ImageB /ImageC /ImageI ]
>>
/Contents [ 3 0 R ]
/MediaBox [ 0 0 595.2756 841.8898 ]
/CropBox [ 0 0 595.2756 841.8898 ]
>>
)"sv);

    // The sizes are read from the boxes once the cache is gone.
    Tree->SelectPage(1);
    EXPECT_NEAR(Tree->PageWidth(), width, 1e-9);
    EXPECT_NEAR(Tree->PageHeight(), height, 1e-9);
}

TEST_F(VellocPageTree, DrawingLandsInTheLastContentStream)
{
    NewDocument();
    TPDFImage image(S, "VellocIm1234abcd");
    image.SetXObjectRef(S.NewReference(40, 0));
    TPDFPainter& painter = Tree->Painter();
    painter.SetFillColor(0, 0, 0);
    painter.DrawBox(true, false, 0, 792, 612, 792);
    Tree->RegisterImage(image);
    painter.DrawImage(image, 0, 792, 612, 792);
    const std::string drawn = "0 0 0 RG\n0 0 0 rg\n1 w\n[] 0 d\n0 0 612 792 re\nf\n"
                              "q\n612 0 0 792 0 0 cm\n/VellocIm1234abcd Do\nQ\n";
    EXPECT_EQ(Registry.TextOf(3),
              "<<\n/Length 90\n/LC /Vlcn\n>>\nstream\n" + drawn + "\nendstream");

    // A later selection keeps the content and writes the whole state again before new boxes.
    Tree->SelectPage(1);
    EXPECT_EQ(StreamObject(3)->Data(), drawn) << "selecting rewrites nothing";
    painter.DrawBox(false, true, 1, 2, 1, 1);
    EXPECT_EQ(StreamObject(3)->Data(), drawn + " 0 0 0 RG\n1 1 1 rg\n1 w\n[] 0 d\n1 1 1 1 re\nS\n");
    EXPECT_EQ(Tree->ContentCount(), 1);
}

TEST_F(VellocPageTree, AppendsPages)
{
    NewDocument();
    Tree->AddPages(Tree->PageCount() + 1, 1, 300, 400.5);
    EXPECT_EQ(Tree->PageCount(), 2);
    EXPECT_EQ(Tree->CurrentPage(), 2);
    EXPECT_EQ(CurrentObject(), 4);
    EXPECT_EQ(Registry.TextOf(1), "<<\n/Type /Pages\n/Count 2\n/Kids [ 2 0 R 4 0 R ]\n>>\n");
    EXPECT_EQ(Registry.TextOf(4), R"(<<
/Type /Page
/Parent 1 0 R
/MediaBox [ 0 0 300 400.5 ]
/CropBox [ 0 0 300 400.5 ]
/Rotate 0
/Resources <<
/ProcSet [ /PDF /Text /ImageB /ImageC /ImageI ]
>>
/Contents [ 5 0 R ]
>>
)"sv);
    EXPECT_EQ(Registry.TextOf(5), EmptyEngineStreamText);
    EXPECT_EQ(Tree->PageWidth(), 300);
    EXPECT_EQ(Tree->PageHeight(), 400.5);
    EXPECT_EQ(Registry.Objects.size(), 5u) << "the new page's stream is found, not made again";
}

TEST_F(VellocPageTree, InsertsBeforeTheFirstPage)
{
    NewDocument();
    Tree->AddPages(1, 2, 100, 200);
    EXPECT_EQ(Tree->PageCount(), 3);
    EXPECT_EQ(Tree->CurrentPage(), 1);
    // Page, its stream, next page, its stream.
    EXPECT_EQ(Registry.TextOf(1), "<<\n/Type /Pages\n/Count 3\n/Kids [ 4 0 R 6 0 R 2 0 R ]\n>>\n");
    EXPECT_EQ(CurrentObject(), 4);
    EXPECT_EQ(PageOrder(), (std::vector<int32_t>{4, 6, 2}));
    Tree->SelectPage(3);
    EXPECT_EQ(Tree->PageDict(), Object(2));
    EXPECT_EQ(Tree->PageWidth(), 612);
}

TEST_F(VellocPageTree, InsertsInTheMiddleAndMovesCachedPagesAlong)
{
    NewDocument();
    Tree->AddPages(2, 2, 100, 100); // pages 4 and 6
    // Every page is now cached; the insertion must move the cached pages after it.
    for (int32_t n = 1; n <= 3; ++n) {
        Tree->SelectPage(n);
    }
    Tree->AddPages(2, 1, 50, 50); // page 8, after object 2
    EXPECT_EQ(Tree->CurrentPage(), 2);
    EXPECT_EQ(CurrentObject(), 8);
    EXPECT_EQ(Registry.TextOf(1),
              "<<\n/Type /Pages\n/Count 4\n/Kids [ 2 0 R 8 0 R 4 0 R 6 0 R ]\n>>\n");
    const int32_t expected[] = {2, 8, 4, 6};
    for (int32_t n = 1; n <= 4; ++n) {
        SCOPED_TRACE(n);
        Tree->SelectPage(n);
        EXPECT_EQ(CurrentObject(), expected[n - 1]);
    }
    EXPECT_EQ(Tree->PageReference(2)->ObjectNumber(), 8);
    EXPECT_EQ(Tree->CurrentPage(), 4);
    EXPECT_EQ(Tree->PageReference(9), nullptr);
}

TEST_F(VellocPageTree, KeepsTheCurrentPageForInvalidNumbers)
{
    NewDocument();
    Tree->AddPages(2, 2, 100, 100);
    Tree->SelectPage(2);
    const size_t objects = Registry.Objects.size();
    const std::string kids = Registry.TextOf(1);

    for (const int32_t position : {0, -1, 5, 1000}) {
        SCOPED_TRACE(position);
        Tree->AddPages(position, 1, 10, 10);
        EXPECT_EQ(Tree->CurrentPage(), 2);
        EXPECT_EQ(CurrentObject(), 4);
        EXPECT_TRUE(Tree->PageReady());
    }
    for (const int32_t count : {0, -3}) {
        SCOPED_TRACE(count);
        Tree->AddPages(2, count, 10, 10);
        EXPECT_EQ(Tree->PageCount(), 3);
    }
    for (const int32_t n : {0, -1, 4, 1 << 30}) {
        SCOPED_TRACE(n);
        Tree->SelectPage(n);
        EXPECT_EQ(Tree->CurrentPage(), 2);
        EXPECT_EQ(Tree->FindPage(n), nullptr);
    }
    EXPECT_EQ(Registry.Objects.size(), objects);
    EXPECT_EQ(Registry.TextOf(1), kids);
}

TEST_F(VellocPageTree, WalksAndExtendsNestedTrees)
{
    ParsedTree({
        "<< /Type /Pages /Count 5 /Kids [ 2 0 R 3 0 R 4 0 R ] /MediaBox [ 0 0 500 700 ] >>",
        "<< /Type /Pages /Parent 1 0 R /Count 2 /Kids [ 5 0 R 6 0 R ] /MediaBox [ 0 0 200 300 ] >>",
        "<< /Type /Page /Parent 1 0 R /MediaBox [ 0 0 100 100 ] >>",
        "<< /Type /Pages /Parent 1 0 R /Count 2 /Kids [ 7 0 R 8 0 R ] >>",
        "<< /Type /Page /Parent 2 0 R >>",
        "<< /Type /Page /Parent 2 0 R >>",
        "<< /Type /Page /Parent 4 0 R >>",
        "<< /Type /Page /Parent 4 0 R /MediaBox [ 10 20 110 220 ] >>",
    });
    EXPECT_EQ(PageOrder(), (std::vector<int32_t>{5, 6, 3, 7, 8}));
    EXPECT_EQ(Tree->FindPage(6), nullptr);
    EXPECT_EQ(Tree->PageReference(4)->ObjectNumber(), 7);
    EXPECT_EQ(Tree->CurrentPage(), 1);

    // Boxes are inherited from the nearest node that has one; offsets do not count.
    const struct
    {
        int32_t Page;
        double Width, Height;
    } sizes[] = {{1, 200, 300}, {3, 100, 100}, {4, 500, 700}, {5, 100, 200}};
    for (const auto& row : sizes) {
        SCOPED_TRACE(row.Page);
        Tree->SelectPage(row.Page);
        EXPECT_EQ(Tree->PageWidth(), row.Width);
        EXPECT_EQ(Tree->PageHeight(), row.Height);
    }
    // Inherited boxes stay inherited until a size is set.
    EXPECT_EQ(Object(7)->IndexOf("MediaBox"), -1);
    Tree->SelectPage(5);
    Tree->SetPageHeight(50);
    EXPECT_EQ(Object(8)->Get("MediaBox")->Text(), "[ 0 0 100 50 ]");

    // New pages go into the node that holds the page before them, counted up to the root.
    Tree->AddPages(2, 1, 50, 60);
    const int32_t inserted = CurrentObject();
    EXPECT_EQ(Tree->CurrentPage(), 2);
    EXPECT_EQ(Object(inserted)->Get("Parent")->Text(), "2 0 R");
    EXPECT_EQ(Object(2)->GetInteger("Count", 0), 3);
    EXPECT_EQ(Object(1)->GetInteger("Count", 0), 6);
    Tree->AddPages(Tree->PageCount() + 1, 1, 50, 60);
    const int32_t last = CurrentObject();
    EXPECT_EQ(Object(last)->Get("Parent")->Text(), "1 0 R");
    EXPECT_EQ(PageOrder(), (std::vector<int32_t>{5, inserted, 6, 3, 7, 8, last}));
    EXPECT_EQ(Object(4)->GetInteger("Count", 0), 2);
}

TEST_F(VellocPageTree, FallsBackToTheDefaultSize)
{
    ParsedTree({
        "<< /Type /Pages /Count 2 /Kids [ 2 0 R 3 0 R ] >>",
        "<< /Type /Page /MediaBox /None >>",
        "<< /Type /Page /Parent 4 0 R >>",
        "<< /Type /Pages /MediaBox [ 0 0 (wide) 300 ] >>",
    });
    EXPECT_EQ(Tree->PageWidth(), 612);
    EXPECT_EQ(Tree->PageHeight(), 792);
    EXPECT_EQ(Object(2)->Get("MediaBox")->Text(), "[ 0 0 612 792 ]");

    // An item that is not a number counts as 0.
    Tree->SelectPage(2);
    EXPECT_EQ(Tree->PageWidth(), 0);
    EXPECT_EQ(Tree->PageHeight(), 300);

    // A page outside the root's chain takes the root's own box as its default.
    Object(1)->Put("MediaBox", S.Parse("[ 0 0 420 595 ]"));
    Tree->SelectPage(1);
    Object(2)->Remove("MediaBox");
    EXPECT_EQ(Tree->PageHeight(), 595);
    EXPECT_EQ(Tree->DefaultWidth(), 420);
    EXPECT_EQ(Object(2)->Get("MediaBox")->Text(), "[ 0 0 420 595 ]");
}

TEST_F(VellocPageTree, NeverRewritesForeignContent)
{
    for (const std::string_view text : {
             "<< /Type /Pages /Count 4 /Kids [ 2 0 R 3 0 R 4 0 R 5 0 R ] >>",
             "<< /Type /Page /Contents 6 0 R >>",
             "<< /Type /Page /Contents 7 0 R >>",
             "<< /Type /Page /Contents [ 8 0 R 9 0 R ] >>",
             "<< /Type /Page /Contents 42 >>",
         }) {
        Registry.RegisterParsed(text);
    }
    RegisterStream("BT ET", "");                  // 6, made by another program
    Registry.RegisterParsed("[ 10 0 R ]");        // 7
    Registry.RegisterParsed("<< /Type /Font >>"); // 8
    RegisterStream("0 g f", "Other");             // 9
    RegisterStream("q\n", "Vlcn");                // 10, ours

    // Page 1: a single foreign stream is wrapped and followed by ours.
    Tree = std::make_unique<TPDFPageTree>(Object(1));
    EXPECT_EQ(Object(2)->Get("Contents")->Text(), "[ 6 0 R 11 0 R ]");
    EXPECT_EQ(Tree->ContentCount(), 2);
    Tree->Painter().DrawBox(true, false, 0, 1, 1, 1);
    EXPECT_EQ(StreamObject(6)->Data(), "BT ET");
    EXPECT_EQ(StreamObject(11)->Data().substr(0, 9), "0 0 0 RG\n");

    // Page 2: /Contents refers to an array whose last stream is ours and small.
    Tree->SelectPage(2);
    EXPECT_EQ(Object(3)->Get("Contents")->Text(), "7 0 R");
    Tree->Painter().DrawBox(true, false, 0, 1, 1, 1);
    EXPECT_EQ(StreamObject(10)->Data().substr(0, 11), "q\n 0 0 0 RG");
    EXPECT_EQ(Registry.Objects.size(), 11u);

    // Page 3: a stream marked by another program gets ours after it, and an item that is not
    // a stream is replaced by an empty stream.
    Tree->SelectPage(3);
    EXPECT_EQ(Object(4)->Get("Contents")->Text(), "[ 13 0 R 9 0 R 12 0 R ]");
    EXPECT_EQ(Registry.TextOf(13), "<<\n/Length 0\n>>\nstream\n\nendstream");
    EXPECT_EQ(Registry.TextOf(12), EmptyEngineStreamText);
    EXPECT_EQ(Tree->ContentCount(), 3);
    EXPECT_EQ(Registry.TextOf(8), "<<\n/Type /Font\n>>\n");

    // Page 4: /Contents of another kind cannot be drawn into.
    Tree->SelectPage(4);
    EXPECT_EQ(Tree->CurrentPage(), 4);
    EXPECT_FALSE(Tree->PageReady());
    Tree->Painter().DrawBox(true, false, 0, 1, 1, 1);
    EXPECT_EQ(Registry.Objects.size(), 13u);
    EXPECT_EQ(StreamObject(12)->Data(), "");
    EXPECT_EQ(StreamObject(9)->Data(), "0 g f");
}

TEST_F(VellocPageTree, StartsANewStreamAfterALargeOne)
{
    NewDocument();
    StreamObject(3)->SetRawData(std::string(TPDFPageTree::MaxExtendedStreamSize, ' '));
    Tree->SelectPage(1);
    EXPECT_EQ(Tree->ContentCount(), 1) << "at the limit the stream is still extended";
    StreamObject(3)->SetRawData(std::string(TPDFPageTree::MaxExtendedStreamSize + 1, ' '));
    Tree->SelectPage(1);
    EXPECT_EQ(Object(2)->Get("Contents")->Text(), "[ 3 0 R 4 0 R ]");
    Tree->Painter().DrawBox(true, false, 0, 1, 1, 1);
    EXPECT_EQ(StreamObject(3)->Data().size(), TPDFPageTree::MaxExtendedStreamSize + 1);
    EXPECT_EQ(StreamObject(4)->Data().substr(0, 9), "0 0 0 RG\n");
}

TEST_F(VellocPageTree, RegistersResourcesOnTheCurrentPage)
{
    NewDocument();
    TPDFImage image(S, "VellocImaaaa0000");
    image.SetXObjectRef(S.NewReference(9, 0));
    Tree->RegisterImage(image);
    Tree->RegisterImage(image);
    TPDFDictionary* resources = Tree->PageResources();
    EXPECT_EQ(resources->Get("XObject")->Text(), "<<\n/VellocImaaaa0000 9 0 R\n>>\n");

    // The same name bound to another object is bound anew, at the end.
    TPDFImage renamed(S, "VellocImaaaa0000");
    renamed.SetXObjectRef(S.NewReference(9, 1));
    TPDFImage other(S, "Other");
    other.SetXObjectRef(S.NewReference(12, 0));
    Tree->RegisterImage(other);
    Tree->RegisterImage(renamed);
    EXPECT_EQ(resources->Get("XObject")->Text(),
              "<<\n/Other 12 0 R\n/VellocImaaaa0000 9 1 R\n>>\n");

    // A form brings what it uses along.
    TPDFImage form(S, "Form");
    form.SetXObjectRef(S.NewReference(20, 0));
    form.AddFont("F1", S.NewReference(21, 0));
    form.AddNestedImage(&other);
    form.AddGraphicsState("GS1", S.NewReference(22, 0));
    form.AddPattern("P1", S.NewReference(23, 0));
    Tree->RegisterImage(form);
    EXPECT_EQ(resources->Text(), R"(<<
/ProcSet [ /PDF /Text /ImageB /ImageC /ImageI ]
/XObject <<
/Other 12 0 R
/VellocImaaaa0000 9 1 R
/Form 20 0 R
>>
/Font <<
/F1 21 0 R
>>
/ExtGState <<
/GS1 22 0 R
>>
/Pattern <<
/P1 23 0 R
>>
>>
)"sv);

    // An image without an XObject adds nothing.
    TPDFImage empty(S, "Empty");
    Tree->RegisterImage(empty);
    EXPECT_EQ(ObjectAs<TPDFDictionary>(resources->Get("XObject"))->Count(), 3);
}

TEST_F(VellocPageTree, RepairsAndInheritsResources)
{
    ParsedTree({
        "<< /Type /Pages /Count 3 /Kids [ 2 0 R 3 0 R 4 0 R ] /Resources << /Font << >> >> >>",
        "<< /Type /Page /Parent 1 0 R >>",
        "<< /Type /Page /Parent 1 0 R /Resources 5 0 R >>",
        "<< /Type /Page /Parent 1 0 R /Resources 6 0 R >>",
        "<< /XObject 6 0 R >>",
        "(not a dictionary)",
    });
    TPDFImage image(S, "Im");
    image.SetXObjectRef(S.NewReference(30, 0));

    // Page 1 has no resources: the parent's are used and extended where they are.
    Tree->RegisterImage(image);
    EXPECT_EQ(Object(2)->IndexOf("Resources"), -1);
    EXPECT_EQ(Object(1)->Get("Resources")->Text(),
              "<<\n/Font <<\n>>\n/XObject <<\n/Im 30 0 R\n>>\n>>\n");

    // Page 2: resources by reference; their /XObject leads to a string and is replaced.
    Tree->SelectPage(2);
    Tree->RegisterImage(image);
    EXPECT_EQ(Registry.TextOf(5), "<<\n/XObject <<\n/Im 30 0 R\n>>\n>>\n");

    // Page 3: resources that are not a dictionary are replaced by the page's own.
    Tree->SelectPage(3);
    Tree->RegisterImage(image);
    EXPECT_EQ(Object(4)->Get("Resources")->Text(), "<<\n/XObject <<\n/Im 30 0 R\n>>\n>>\n");
    EXPECT_EQ(Registry.TextOf(6), "(not a dictionary)");
}

TEST_F(VellocPageTree, InsertsNothingWithoutTheRegistrationHook)
{
    NewDocument();
    Tree->AddPages(2, 2, 100, 100);
    for (int32_t n = 1; n <= 3; ++n) {
        Tree->SelectPage(n);
    }
    S.OnRegisterIndirect = nullptr;
    const size_t objects = S.ObjectCount();
    Tree->AddPages(2, 1, 10, 10);
    EXPECT_EQ(S.ObjectCount(), objects);
    EXPECT_EQ(Tree->PageCount(), 3);
    EXPECT_EQ(Tree->CurrentPage(), 2);
    // The page cache still matches the tree.
    EXPECT_EQ(PageOrder(), (std::vector<int32_t>{2, 4, 6}));
    Tree->SelectPage(3);
    EXPECT_EQ(CurrentObject(), 6);
}

TEST_F(VellocPageTree, SurvivesDamagedTrees)
{
    // A node inside itself, a loop of /Parent links and a /Count far beyond the pages there are.
    ParsedTree({
        "<< /Type /Pages /Count 2147483647 /Kids [ 2 0 R ] /MediaBox [ 0 0 300 400 ] >>",
        "<< /Type /Pages /Count 3 /Kids [ 2 0 R 1 0 R 3 0 R ] >>",
        "<< /Type /Page /Parent 4 0 R >>",
        "<< /Type /Pages /Parent 5 0 R /Count 1 >>",
        "<< /Type /Pages /Parent 4 0 R /Count 1 >>",
    });
    EXPECT_EQ(Tree->PageCount(), 2147483647);
    EXPECT_EQ(Tree->CurrentPage(), 1);
    EXPECT_EQ(CurrentObject(), 3);
    EXPECT_EQ(Tree->FindPage(2), nullptr);
    Tree->SelectPage(2000000000);
    EXPECT_EQ(CurrentObject(), 3);
    EXPECT_EQ(Tree->PageWidth(), 300);

    // The /Count chain of an insertion visits each node of the loop once.
    Tree->AddPages(2, 1, 10, 10);
    EXPECT_EQ(Object(4)->GetInteger("Count", 0), 2);
    EXPECT_EQ(Object(5)->GetInteger("Count", 0), 2);
}

TEST(VellocPageTreeWithoutRoot, AnswersEmpty)
{
    TPDFPageTree tree(nullptr);
    EXPECT_EQ(tree.PageCount(), 0);
    EXPECT_EQ(tree.CurrentPage(), 0);
    EXPECT_FALSE(tree.PageReady());
    tree.SelectPage(1);
    tree.AddPages(1, 1, 10, 10);
    EXPECT_EQ(tree.FindPage(1), nullptr);
    EXPECT_EQ(tree.PageReference(1), nullptr);
    EXPECT_EQ(tree.PageResources(), nullptr);
    EXPECT_EQ(tree.PageWidth(), 612);
    EXPECT_EQ(tree.PageHeight(), 792);
    EXPECT_EQ(tree.Painter().Precision(), 4);
    tree.Painter().DrawBox(true, false, 0, 1, 1, 1);
}

TEST_F(VellocPageTree, BuildsTenThousandPagesOneAtATime)
{
    NewDocument();
    constexpr int32_t Pages = 10000;
    Tree->AddPages(1, Pages - 1, 612, 792);
    ASSERT_EQ(Tree->PageCount(), Pages);
    TPDFImage image(S, "VellocIm1234abcd");
    image.SetXObjectRef(S.NewReference(1, 0));

    Registry.Resolutions = 0;
    for (int32_t n = 1; n <= Pages; ++n) {
        Tree->SelectPage(n);
        Tree->SetPageWidth(100 + n % 7);
        Tree->SetPageHeight(200);
        TPDFPainter& painter = Tree->Painter();
        painter.SetFillColor(1, 1, 1);
        painter.DrawBox(true, false, 0, 200, Tree->PageWidth(), 200);
        Tree->RegisterImage(image);
        painter.DrawImage(image, 0, 200, Tree->PageWidth(), 200);
    }
    // A handful of lookups a page; a walk of the tree would cost thousands.
    EXPECT_LT(Registry.Resolutions, 10 * Pages);
    EXPECT_EQ(Tree->CurrentPage(), Pages);
    EXPECT_EQ(CurrentObject(), 2) << "the document's first page ends up last";
    EXPECT_EQ(StreamObject(3)->Data().substr(0, 9), "0 0 0 RG\n");
    EXPECT_EQ(Tree->PageReference(1)->ObjectNumber(), 4);
}
