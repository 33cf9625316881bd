#ifndef VELLOC_STRING_LIST_H
#define VELLOC_STRING_LIST_H

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace velloc {

// The code of the error raised when a list refuses an operation.
constexpr int32_t StringListErrorCode = 0x0202;

// What a sorted list does when a text it already holds is added again.
enum class TDuplicates : uint8_t {
    Ignore = 0, // nothing is added; Add answers the existing position
    Accept = 1, // the text is added once more
    Error = 2   // EVellocError is raised
};

// An ordered list of byte texts, each with an optional object pointer the list does not own.
// Texts compare byte by byte, independent of the locale; this list folds ASCII letters
// (A-Z as a-z) and leaves every other byte as it is.
class TVellocStringList
{
  public:
    TVellocStringList() = default;
    virtual ~TVellocStringList() = default;

    // Appends, or in a sorted list inserts at the text's sorted position (after applying the
    // duplicates mode). Answers the position.
    int32_t Add(std::string_view text, void* object = nullptr);
    // Binary search in a sorted list: true when the text is present; `index` receives the
    // lowest position of an equal text, or the position where the text would be inserted.
    bool Find(std::string_view text, int32_t& index) const;
    // Position of the text (the lowest one in a sorted list), -1 when absent.
    int32_t IndexOf(std::string_view text) const;
    int32_t IndexOfObject(const void* object) const;

    int32_t Count() const { return static_cast<int32_t>(m_Items.size()); }
    int32_t Capacity() const { return m_Capacity; }

    // Outside the list: Get answers an empty text and GetObject nullptr; Put, PutObject and
    // Delete do nothing. Put raises EVellocError in a sorted list, which it would disorder.
    std::string Get(int32_t index) const;
    void Put(int32_t index, std::string_view text);
    void* GetObject(int32_t index) const;
    void PutObject(int32_t index, void* object);
    void Delete(int32_t index);
    void Clear();

    bool Sorted() const { return m_Sorted; }
    // Turning sorting on sorts the items already there (equal texts keep their order).
    void SetSorted(bool sorted);
    TDuplicates Duplicates() const { return m_Duplicates; }
    void SetDuplicates(TDuplicates duplicates) { m_Duplicates = duplicates; }
    bool CaseSensitive() const { return m_CaseSensitive; }

    // Every text followed by a carriage return and a line feed.
    std::string Text() const;

  protected:
    explicit TVellocStringList(bool caseSensitive) : m_CaseSensitive(caseSensitive) {}

  private:
    struct TItem
    {
        std::string Text;
        void* Object = nullptr;
    };

    int compare(std::string_view a, std::string_view b) const;
    bool validIndex(int32_t index) const;
    void insertItem(int32_t index, std::string_view text, void* object);

    std::vector<TItem> m_Items;
    int32_t m_Capacity = 0;
    bool m_Sorted = false;
    TDuplicates m_Duplicates = TDuplicates::Ignore;
    bool m_CaseSensitive = false;
};

// A string list whose texts compare byte by byte without any case folding.
class TVellocCaseSensitiveStringList : public TVellocStringList
{
  public:
    TVellocCaseSensitiveStringList() : TVellocStringList(true) {}
};

} // namespace velloc

#endif
