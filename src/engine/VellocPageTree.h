#ifndef VELLOC_PAGE_TREE_H
#define VELLOC_PAGE_TREE_H

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace velloc {

class TPDFStructure;
class TPDFObject;
class TPDFArray;
class TPDFDictionary;
class TPDFStream;
class TPDFIndRef;
class TPDFImage;
class TPDFPainter;

// A flat, 1-based view of the pages of one document's page tree, with a current page on which
// all drawing happens. Nested /Pages nodes are walked; new pages and content streams become
// indirect objects through the structure's OnRegisterIndirect hook. Sizes are PDF points.
class TPDFPageTree
{
  public:
    // Size of a page that has no media box anywhere in its parent chain (US letter), unless
    // the root gives one.
    static constexpr double FallbackWidth = 612;
    static constexpr double FallbackHeight = 792;
    // A later selection starts a new content stream rather than extend one this large.
    static constexpr size_t MaxExtendedStreamSize = 500000;
    // Deeper /Pages nesting is not followed.
    static constexpr int32_t MaxTreeDepth = 256;

    // root may be nullptr. With a root: takes the structure from root->Owner() and selects page 1
    // (which gives a page without /Contents its engine content stream).
    explicit TPDFPageTree(TPDFDictionary* root);
    ~TPDFPageTree();
    TPDFPageTree(const TPDFPageTree&) = delete;
    TPDFPageTree& operator=(const TPDFPageTree&) = delete;

    // The root's /Count, 0 when negative or without a root.
    int32_t PageCount();
    // 0 before any page was selected.
    int32_t CurrentPage() const { return m_CurrentPage; }
    // True once the current page's last content stream receives the painter's text.
    bool PageReady() const { return m_PageReady; }
    // Makes page n current and prepares the painter for it; an invalid n re-selects the
    // current page.
    void SelectPage(int32_t n);
    // The dictionary of page n, or nullptr when there is no such page.
    TPDFDictionary* FindPage(int32_t n);

    TPDFDictionary* Root() const { return m_Root; }
    TPDFDictionary* PageDict() const { return m_PageDict; }
    int32_t ContentCount() const { return m_ContentCount; }
    const std::vector<TPDFStream*>& ContentStreams() const { return m_ContentStreams; }
    double DefaultWidth() const { return m_DefaultWidth; }
    double DefaultHeight() const { return m_DefaultHeight; }

    double PageWidth();
    double PageHeight();
    // Give the current page its own /MediaBox and /CropBox from 0 0, at the end of its
    // dictionary.
    void SetPageWidth(double width);
    void SetPageHeight(double height);

    // Inserts count pages of the given size so that the first gets number position (1 puts
    // them before every page, PageCount() + 1 after), then selects that first new page.
    // An invalid position inserts nothing and keeps the current page.
    void AddPages(int32_t position, int32_t count, double width, double height);

    // The current page's resource dictionary (inherited from its parent node when the page has
    // none), created when missing or malformed; nullptr without a current page.
    TPDFDictionary* PageResources();
    // Enters the image under /XObject, and first whatever it uses, in the current page's
    // resources.
    void RegisterImage(TPDFImage& image);
    void RegisterFont(const std::string& name, TPDFIndRef* reference);
    void RegisterGraphicsState(const std::string& name, TPDFIndRef* reference);
    void RegisterPattern(const std::string& name, TPDFIndRef* reference);

    // The /Kids reference through which page n is reached, or nullptr when there is no page n.
    TPDFIndRef* PageReference(int32_t n);

    TPDFPainter& Painter() { return *m_Painter; }
    // Stores the painter's text as the data of the current page's last content stream.
    void FlushContent();

  private:
    TPDFDictionary* walkKids(TPDFArray* kids, int32_t n, int64_t& passed, int32_t depth,
                             std::vector<const TPDFDictionary*>& path);
    void selectKid(TPDFArray* kids, int32_t index);
    TPDFDictionary* cachedPage(int32_t n) const;
    void cachePage(int64_t n, TPDFDictionary* page);
    TPDFArray* prepareContents(TPDFDictionary& page);
    void wireContents(TPDFArray& contents);
    TPDFStream* newContentStream(bool engineMark);
    TPDFIndRef* referenceTo(TPDFObject* obj);
    TPDFDictionary* newPage(TPDFDictionary* parent, double width, double height);
    TPDFArray* newBox(double width, double height);
    void setBoxes(double width, double height);
    TPDFArray* findMediaBox() const;
    // The current page's width (or height), from the cache or its media box.
    double pageExtent(bool width);
    void computeDefaultSize();
    void addToCounts(TPDFDictionary* node, int32_t count);
    void registerResource(std::string_view category, const std::string& name,
                          TPDFIndRef* reference);
    void registerImage(TPDFImage& image, int32_t depth);

    TPDFStructure* m_Structure = nullptr;
    TPDFDictionary* m_Root = nullptr;
    std::unique_ptr<TPDFPainter> m_Painter;

    int32_t m_SelectedObjectNumber = 0;
    int32_t m_SelectedGeneration = 0;
    TPDFIndRef* m_SelectedReference = nullptr;
    TPDFArray* m_SelectedKids = nullptr;
    // Position of m_SelectedReference in m_SelectedKids.
    int32_t m_SelectedIndex = -1;
    TPDFDictionary* m_ParentNode = nullptr;

    double m_DefaultWidth = FallbackWidth;
    double m_DefaultHeight = FallbackHeight;

    int32_t m_CurrentPage = 0;
    TPDFDictionary* m_PageDict = nullptr;
    std::vector<TPDFStream*> m_ContentStreams;
    int32_t m_ContentCount = 0;
    bool m_PageReady = false;

    double m_WidthCache = 0;
    double m_HeightCache = 0;
    bool m_WidthKnown = false;
    bool m_HeightKnown = false;

    // Page dictionary by position (page n at n - 1); nullptr for pages not looked up yet.
    std::vector<TPDFDictionary*> m_PageCache;
    // The /Count the cache was last sized for.
    int64_t m_CachedCount = 0;
};

} // namespace velloc

#endif
