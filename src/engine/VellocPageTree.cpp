#include "engine/VellocPageTree.h"

#include "engine/VellocImage.h"
#include "engine/VellocPainter.h"
#include "engine/VellocStructure.h"
#include "engine/support/VellocNumberText.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <span>

namespace velloc {

namespace {

constexpr std::string_view ResourcesTemplate =
    "<< /ProcSet [ /PDF /Text /ImageB /ImageC /ImageI ] >>";

// Marks content streams this engine wrote, so that a later selection may extend them.
constexpr std::string_view EngineMarkKey = "LC";
constexpr std::string_view EngineMarkValue = "Vlcn";

// Registry slots that inserting one page reserves ahead.
constexpr int64_t SlotsPerPage = 26;

// Nested forms are entered into the page resources this deep at most.
constexpr int32_t MaxNestedImageDepth = 32;

TPDFObject* Resolved(TPDFObject* obj)
{
    if (auto* reference = ObjectAs<TPDFIndRef>(obj)) {
        return reference->Resolve();
    }
    return obj;
}

double NumberOrZero(const TPDFObject* obj)
{
    const auto* number = ObjectAs<TPDFNumeric>(obj);
    return number ? number->Value() : 0.0;
}

struct TBoxSize
{
    double Width;
    double Height;
};

TBoxSize SizeOfBox(const TPDFArray& box)
{
    return {std::abs(NumberOrZero(box.ItemAt(2)) - NumberOrZero(box.ItemAt(0))),
            std::abs(NumberOrZero(box.ItemAt(3)) - NumberOrZero(box.ItemAt(1)))};
}

bool IsEngineStream(const TPDFStream& stream)
{
    const auto* mark = ObjectAs<TPDFName>(stream.Dictionary()->Get(EngineMarkKey));
    return mark && mark->Value() == EngineMarkValue;
}

bool Contains(const std::vector<const TPDFDictionary*>& nodes, const TPDFDictionary* node)
{
    return std::find(nodes.begin(), nodes.end(), node) != nodes.end();
}

// The dictionary itself, then its /Parent, its parent's /Parent and so on; stops at anything
// but a dictionary and at the first node met twice (a /Parent loop).
template <class Visit> void ForParentChain(TPDFDictionary* start, Visit visit)
{
    std::vector<const TPDFDictionary*> visited;
    for (TPDFDictionary* node = start; node && !Contains(visited, node);
         node = ObjectAs<TPDFDictionary>(node->Get("Parent", true))) {
        if (!visit(*node)) {
            return;
        }
        visited.push_back(node);
    }
}

} // namespace

TPDFPageTree::TPDFPageTree(TPDFDictionary* root)
    : m_Root(root), m_Painter(std::make_unique<TPDFPainter>())
{
    if (root) {
        m_Structure = &root->Owner();
    }
    m_Painter->SetPrecision(m_Structure ? m_Structure->Precision() : PDFNumberPrecision);
    m_Painter->AttachChangeCallback([this] { FlushContent(); });
    if (root) {
        SelectPage(1);
    }
}

TPDFPageTree::~TPDFPageTree() = default;

int32_t TPDFPageTree::PageCount()
{
    if (!m_Root) {
        return 0;
    }
    const int32_t count = std::max(0, m_Root->GetInteger("Count", 0));
    if (count != m_CachedCount) {
        m_CachedCount = count;
        // Every page is a registered object, so a /Count beyond the object count is false and
        // must not size the cache (a damaged /Count of two billion would ask for 16 GB).
        m_PageCache.resize(std::min(static_cast<size_t>(count), m_Structure->ObjectCount()));
    }
    return count;
}

TPDFDictionary* TPDFPageTree::cachedPage(int32_t n) const
{
    return n >= 1 && static_cast<size_t>(n) <= m_PageCache.size()
               ? m_PageCache[static_cast<size_t>(n - 1)]
               : nullptr;
}

void TPDFPageTree::cachePage(int64_t n, TPDFDictionary* page)
{
    if (n >= 1 && static_cast<size_t>(n) <= m_PageCache.size()) {
        m_PageCache[static_cast<size_t>(n - 1)] = page;
    }
}

void TPDFPageTree::selectKid(TPDFArray* kids, int32_t index)
{
    m_SelectedKids = kids;
    m_SelectedIndex = index;
    m_SelectedReference = ObjectAs<TPDFIndRef>(kids->ItemAt(index));
    m_SelectedObjectNumber = m_SelectedReference ? m_SelectedReference->ObjectNumber() : 0;
    m_SelectedGeneration = m_SelectedReference ? m_SelectedReference->Generation() : 0;
}

TPDFDictionary* TPDFPageTree::FindPage(int32_t n)
{
    const int32_t count = PageCount();
    if (n < 1 || n > count) {
        return nullptr;
    }
    m_ParentNode = m_Root;
    auto* kids = ObjectAs<TPDFArray>(m_Root->Get("Kids", true));
    TPDFDictionary* page = nullptr;
    if (kids) {
        // A flat tree: page n is item n - 1, no walk needed.
        if (kids->Count() == count) {
            selectKid(kids, n - 1);
            if (m_SelectedReference) {
                auto* candidate = ObjectAs<TPDFDictionary>(m_SelectedReference->Resolve());
                if (candidate && candidate->TypeName() == "Page") {
                    page = candidate;
                }
            }
        }
        if (!page) {
            int64_t passed = 0;
            std::vector<const TPDFDictionary*> path{m_Root};
            page = walkKids(kids, n, passed, 0, path);
        }
    }
    cachePage(n, page);
    return page;
}

TPDFDictionary* TPDFPageTree::walkKids(TPDFArray* kids, int32_t n, int64_t& passed, int32_t depth,
                                       std::vector<const TPDFDictionary*>& path)
{
    if (depth >= MaxTreeDepth) {
        return nullptr;
    }
    for (int32_t i = 0; i < kids->Count(); ++i) {
        auto* reference = ObjectAs<TPDFIndRef>(kids->ItemAt(i));
        if (!reference) {
            continue;
        }
        selectKid(kids, i);
        auto* node = ObjectAs<TPDFDictionary>(reference->Resolve());
        if (!node) {
            continue;
        }
        const std::string type = node->TypeName();
        if (type == "Pages") {
            // A node among its own descendants would be walked for ever.
            if (Contains(path, node)) {
                continue;
            }
            const int64_t sum = passed + std::max(0, node->GetInteger("Count", 0));
            if (sum < n) {
                passed = sum;
                continue;
            }
            if (auto* inner = ObjectAs<TPDFArray>(node->Get("Kids", true))) {
                m_ParentNode = node;
                path.push_back(node);
                return walkKids(inner, n, passed, depth + 1, path);
            }
        } else if (type == "Page") {
            if (passed + 1 == n) {
                return node;
            }
            ++passed;
        }
    }
    return nullptr;
}

void TPDFPageTree::SelectPage(int32_t n)
{
    m_WidthKnown = false;
    m_HeightKnown = false;
    if (n < 1 || n > PageCount()) {
        n = m_CurrentPage;
    }
    TPDFDictionary* page = cachedPage(n);
    if (!page) {
        page = FindPage(n);
    }
    // NOTE: a page that cannot be found leaves the previous selection whole, so that its
    // dictionary, its size and its content stream still belong together.
    if (!page) {
        return;
    }
    m_PageReady = false;
    m_PageDict = page;
    m_CurrentPage = n;
    m_ContentStreams.clear();
    if (TPDFArray* contents = prepareContents(*page)) {
        wireContents(*contents);
    }
}

TPDFArray* TPDFPageTree::prepareContents(TPDFDictionary& page)
{
    TPDFObject* value = page.Get("Contents");
    if (!value) {
        TPDFArray* contents = m_Structure->NewArray();
        contents->Add(referenceTo(newContentStream(true)));
        page.Put("Contents", contents);
        return contents;
    }
    if (auto* reference = ObjectAs<TPDFIndRef>(value)) {
        if (auto* contents = ObjectAs<TPDFArray>(reference->Resolve())) {
            return contents;
        }
        // A single stream: an array around it lets later streams follow it.
        TPDFArray* contents = m_Structure->NewArray();
        contents->Add(reference);
        page.Remove("Contents");
        page.Put("Contents", contents);
        return contents;
    }
    return ObjectAs<TPDFArray>(value);
}

void TPDFPageTree::wireContents(TPDFArray& contents)
{
    // Only a small stream of this engine's own is extended; other content is never rewritten.
    const auto* last = ObjectAs<TPDFStream>(Resolved(contents.ItemAt(contents.Count() - 1)));
    if (!last || !IsEngineStream(*last) || last->Data().size() > MaxExtendedStreamSize) {
        contents.Add(referenceTo(newContentStream(true)));
    }
    for (int32_t i = 0; i < contents.Count(); ++i) {
        auto* stream = ObjectAs<TPDFStream>(Resolved(contents.ItemAt(i)));
        if (!stream) {
            stream = newContentStream(false);
            contents.Replace(i, referenceTo(stream));
        }
        m_ContentStreams.push_back(stream);
    }
    m_Painter->SetPrecision(m_Structure->Precision());
    // Resetting must not overwrite the stream before its content is loaded.
    m_Painter->DetachChangeCallback();
    m_Painter->ResetState();
    m_Painter->AttachChangeCallback([this] { FlushContent(); });
    m_Painter->LoadContent(m_ContentStreams.back()->DecodedData());
    m_ContentCount = static_cast<int32_t>(m_ContentStreams.size());
    m_PageReady = true;
}

TPDFStream* TPDFPageTree::newContentStream(bool engineMark)
{
    TPDFStream* stream = m_Structure->NewStream("", false);
    if (engineMark) {
        stream->Dictionary()->Put(EngineMarkKey, m_Structure->KeyName(EngineMarkValue));
    }
    return stream;
}

TPDFIndRef* TPDFPageTree::referenceTo(TPDFObject* obj)
{
    const TPDFIndirectIdentity identity = m_Structure->RegisterIndirect(nullptr, obj);
    return m_Structure->NewReference(identity.ObjectNumber, identity.Generation);
}

TPDFArray* TPDFPageTree::newBox(double width, double height)
{
    const std::array<double, 4> box{0, 0, width, height};
    return m_Structure->NewRealArray(box);
}

TPDFArray* TPDFPageTree::findMediaBox() const
{
    TPDFArray* box = nullptr;
    ForParentChain(m_PageDict, [&box](TPDFDictionary& node) {
        box = ObjectAs<TPDFArray>(node.Get("MediaBox", true));
        return box == nullptr;
    });
    return box;
}

void TPDFPageTree::computeDefaultSize()
{
    m_DefaultWidth = FallbackWidth;
    m_DefaultHeight = FallbackHeight;
    if (const auto* rootBox =
            m_Root ? ObjectAs<TPDFArray>(m_Root->Get("MediaBox", true)) : nullptr) {
        const TBoxSize size = SizeOfBox(*rootBox);
        m_DefaultWidth = size.Width;
        m_DefaultHeight = size.Height;
    }
    if (m_PageDict) {
        m_PageDict->Remove("MediaBox");
        m_PageDict->Put("MediaBox", newBox(m_DefaultWidth, m_DefaultHeight));
    }
}

double TPDFPageTree::pageExtent(bool width)
{
    bool& known = width ? m_WidthKnown : m_HeightKnown;
    double& cache = width ? m_WidthCache : m_HeightCache;
    if (!known) {
        TBoxSize size{};
        if (const TPDFArray* box = findMediaBox()) {
            size = SizeOfBox(*box);
        } else {
            computeDefaultSize();
            size = {m_DefaultWidth, m_DefaultHeight};
        }
        cache = width ? size.Width : size.Height;
        known = true;
    }
    return cache;
}

double TPDFPageTree::PageWidth()
{
    return pageExtent(true);
}

double TPDFPageTree::PageHeight()
{
    return pageExtent(false);
}

void TPDFPageTree::setBoxes(double width, double height)
{
    if (!m_PageDict) {
        return;
    }
    m_PageDict->Remove("MediaBox");
    m_PageDict->Remove("CropBox");
    m_PageDict->Put("MediaBox", newBox(width, height));
    m_PageDict->Put("CropBox", newBox(width, height));
}

void TPDFPageTree::SetPageWidth(double width)
{
    const double height = PageHeight();
    m_WidthCache = width;
    m_WidthKnown = true;
    setBoxes(width, height);
}

void TPDFPageTree::SetPageHeight(double height)
{
    const double width = PageWidth();
    m_HeightCache = height;
    m_HeightKnown = true;
    setBoxes(width, height);
}

TPDFDictionary* TPDFPageTree::newPage(TPDFDictionary* parent, double width, double height)
{
    TPDFDictionary* page = m_Structure->NewDictionary();
    TPDFObject* resources = m_Structure->Parse(ResourcesTemplate);
    page->Put("Type", m_Structure->KeyName("Page"));
    if (parent && parent->IsIndirect()) {
        page->Put("Parent",
                  m_Structure->NewReference(parent->ObjectNumber(), parent->Generation()));
    }
    page->Put("MediaBox", newBox(width, height));
    page->Put("CropBox", newBox(width, height));
    page->Put("Rotate", m_Structure->NewNumber(0));
    page->Put("Resources", resources);
    return page;
}

void TPDFPageTree::addToCounts(TPDFDictionary* node, int32_t count)
{
    ForParentChain(node, [count](TPDFDictionary& current) {
        if (auto* number = ObjectAs<TPDFNumeric>(current.Get("Count", true))) {
            number->SetValue(number->Value() + count);
        }
        return true;
    });
}

void TPDFPageTree::AddPages(int32_t position, int32_t count, double width, double height)
{
    if (!m_Root) {
        return;
    }
    // 64 bits: a damaged /Count may be the largest 32-bit value.
    const int64_t pageCount = PageCount();
    TPDFDictionary* node = nullptr;
    TPDFArray* kids = nullptr;
    int32_t index = 0;
    if (position == 1 || position == pageCount + 1) {
        // At the root's top level: before every page, or after every page.
        node = m_Root;
        kids = ObjectAs<TPDFArray>(m_Root->Get("Kids", true));
        if (kids && position == pageCount + 1) {
            index = kids->Count();
        }
    } else if (position > 1 && position <= pageCount) {
        // Right after the page before, in the /Kids array that holds it.
        TPDFDictionary* before = FindPage(position - 1);
        if (before && m_SelectedReference) {
            kids = m_SelectedKids;
            index = m_SelectedIndex + 1;
            node = ObjectAs<TPDFDictionary>(before->Get("Parent", true));
            if (!node) {
                node = m_ParentNode;
            }
        }
    }
    // Without the hook no page can become an indirect object: nothing is inserted, and the
    // cache keeps matching the tree.
    if (kids && count > 0 && m_Structure->OnRegisterIndirect) {
        kids->Reserve(count);
        if (static_cast<size_t>(position - 1) <= m_PageCache.size()) {
            m_PageCache.insert(m_PageCache.begin() + (position - 1), static_cast<size_t>(count),
                               nullptr);
        }
        m_CachedCount += count;
        addToCounts(node, count);
        m_Structure->Reserve(ClampToInt32(static_cast<double>(SlotsPerPage * count)));
        for (int32_t k = 0; k < count; ++k) {
            TPDFDictionary* page = newPage(node, width, height);
            cachePage(int64_t{position} + k, page);
            kids->Insert(index++, referenceTo(page));
            TPDFObject* contentReference = referenceTo(newContentStream(true));
            page->Put("Contents", m_Structure->NewArrayOf(std::span(&contentReference, 1)));
        }
    }
    SelectPage(position);
}

TPDFDictionary* TPDFPageTree::PageResources()
{
    if (!m_PageDict) {
        return nullptr;
    }
    TPDFObject* resources = m_PageDict->Get("Resources");
    if (!resources) {
        // Resources inherited from the parent node are used, and extended, where they are.
        FindPage(m_CurrentPage);
        if (m_ParentNode) {
            resources = m_ParentNode->Get("Resources");
        }
    }
    if (!resources) {
        TPDFDictionary* fresh = m_Structure->NewDictionary();
        m_PageDict->Put("Resources", fresh);
        return fresh;
    }
    if (auto* dictionary = ObjectAs<TPDFDictionary>(Resolved(resources))) {
        return dictionary;
    }
    TPDFDictionary* fresh = m_Structure->NewDictionary();
    m_PageDict->Remove("Resources");
    m_PageDict->Put("Resources", fresh);
    return fresh;
}

void TPDFPageTree::registerResource(std::string_view category, const std::string& name,
                                    TPDFIndRef* reference)
{
    if (!reference) {
        return;
    }
    TPDFDictionary* resources = PageResources();
    if (!resources) {
        return;
    }
    TPDFObject* entry = resources->Get(category);
    if (!entry) {
        entry = m_Structure->NewDictionary();
        resources->Put(category, entry);
    }
    auto* names = ObjectAs<TPDFDictionary>(Resolved(entry));
    if (!names) {
        names = m_Structure->NewDictionary();
        resources->Remove(category);
        resources->Put(category, names);
    }
    TPDFObject* existing = names->Get(name);
    if (!existing) {
        names->Put(name, reference);
        return;
    }
    // A name bound to another object is bound anew; the same object is entered only once.
    const auto* bound = ObjectAs<TPDFIndRef>(existing);
    if (bound && (bound->ObjectNumber() != reference->ObjectNumber() ||
                  bound->Generation() != reference->Generation())) {
        names->Remove(name);
        names->Put(name, reference);
    }
}

void TPDFPageTree::RegisterFont(const std::string& name, TPDFIndRef* reference)
{
    registerResource("Font", name, reference);
}

void TPDFPageTree::RegisterGraphicsState(const std::string& name, TPDFIndRef* reference)
{
    registerResource("ExtGState", name, reference);
}

void TPDFPageTree::RegisterPattern(const std::string& name, TPDFIndRef* reference)
{
    registerResource("Pattern", name, reference);
}

void TPDFPageTree::RegisterImage(TPDFImage& image)
{
    registerImage(image, 0);
}

void TPDFPageTree::registerImage(TPDFImage& image, int32_t depth)
{
    if (depth > MaxNestedImageDepth) {
        return;
    }
    for (const auto& [name, reference] : image.Fonts()) {
        RegisterFont(name, reference);
    }
    for (TPDFImage* nested : image.NestedImages()) {
        registerImage(*nested, depth + 1);
    }
    for (const auto& [name, reference] : image.GraphicsStates()) {
        RegisterGraphicsState(name, reference);
    }
    for (const auto& [name, reference] : image.Patterns()) {
        RegisterPattern(name, reference);
    }
    registerResource("XObject", image.Name(), image.XObjectRef());
}

TPDFIndRef* TPDFPageTree::PageReference(int32_t n)
{
    const int32_t current = m_CurrentPage;
    TPDFIndRef* reference = FindPage(n) ? m_SelectedReference : nullptr;
    // The lookup moved the Selected... fields; the current page's own lookup puts them back.
    FindPage(current);
    return reference;
}

void TPDFPageTree::FlushContent()
{
    if (m_ContentCount > 0 && m_ContentStreams.size() >= static_cast<size_t>(m_ContentCount)) {
        m_ContentStreams.back()->SetData(m_Painter->ContentText(), false);
    }
}

} // namespace velloc
