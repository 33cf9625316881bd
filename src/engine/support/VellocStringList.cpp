#include "engine/support/VellocStringList.h"

#include "engine/support/VellocError.h"

#include <algorithm>

namespace velloc {

namespace {

unsigned char FoldAscii(unsigned char byte)
{
    return byte >= 'A' && byte <= 'Z' ? static_cast<unsigned char>(byte + ('a' - 'A')) : byte;
}

} // namespace

int TVellocStringList::compare(std::string_view a, std::string_view b) const
{
    const size_t common = std::min(a.size(), b.size());
    for (size_t i = 0; i < common; ++i) {
        unsigned char x = static_cast<unsigned char>(a[i]);
        unsigned char y = static_cast<unsigned char>(b[i]);
        if (!m_CaseSensitive) {
            x = FoldAscii(x);
            y = FoldAscii(y);
        }
        if (x != y) {
            return x < y ? -1 : 1;
        }
    }
    if (a.size() == b.size()) {
        return 0;
    }
    return a.size() < b.size() ? -1 : 1;
}

bool TVellocStringList::validIndex(int32_t index) const
{
    return index >= 0 && index < Count();
}

void TVellocStringList::insertItem(int32_t index, std::string_view text, void* object)
{
    if (Count() == m_Capacity) {
        int32_t delta = 16;
        if (m_Capacity > 64) {
            delta = m_Capacity / 4;
        } else if (m_Capacity <= 8) {
            delta = 4;
        }
        m_Capacity += delta;
        m_Items.reserve(static_cast<size_t>(m_Capacity));
    }
    m_Items.insert(m_Items.begin() + index, TItem{std::string(text), object});
}

int32_t TVellocStringList::Add(std::string_view text, void* object)
{
    int32_t index = Count();
    if (m_Sorted && Find(text, index)) {
        if (m_Duplicates == TDuplicates::Ignore) {
            return index;
        }
        if (m_Duplicates == TDuplicates::Error) {
            throw EVellocError(StringListErrorCode, "String list does not allow duplicates");
        }
    }
    insertItem(index, text, object);
    return index;
}

bool TVellocStringList::Find(std::string_view text, int32_t& index) const
{
    int32_t low = 0;
    int32_t high = Count() - 1;
    bool found = false;
    while (low <= high) {
        const int32_t middle = low + (high - low) / 2;
        const int order = compare(m_Items[static_cast<size_t>(middle)].Text, text);
        if (order < 0) {
            low = middle + 1;
        } else {
            high = middle - 1;
            found = found || order == 0;
        }
    }
    index = low;
    return found;
}

int32_t TVellocStringList::IndexOf(std::string_view text) const
{
    if (m_Sorted) {
        int32_t index = -1;
        return Find(text, index) ? index : -1;
    }
    for (int32_t i = 0; i < Count(); ++i) {
        if (compare(m_Items[static_cast<size_t>(i)].Text, text) == 0) {
            return i;
        }
    }
    return -1;
}

int32_t TVellocStringList::IndexOfObject(const void* object) const
{
    for (int32_t i = 0; i < Count(); ++i) {
        if (m_Items[static_cast<size_t>(i)].Object == object) {
            return i;
        }
    }
    return -1;
}

std::string TVellocStringList::Get(int32_t index) const
{
    return validIndex(index) ? m_Items[static_cast<size_t>(index)].Text : std::string();
}

void TVellocStringList::Put(int32_t index, std::string_view text)
{
    if (!validIndex(index)) {
        return;
    }
    if (m_Sorted) {
        throw EVellocError(StringListErrorCode, "Operation not allowed on a sorted list");
    }
    m_Items[static_cast<size_t>(index)].Text = text;
}

void* TVellocStringList::GetObject(int32_t index) const
{
    return validIndex(index) ? m_Items[static_cast<size_t>(index)].Object : nullptr;
}

void TVellocStringList::PutObject(int32_t index, void* object)
{
    if (validIndex(index)) {
        m_Items[static_cast<size_t>(index)].Object = object;
    }
}

void TVellocStringList::Delete(int32_t index)
{
    if (validIndex(index)) {
        m_Items.erase(m_Items.begin() + index);
    }
}

void TVellocStringList::Clear()
{
    m_Items.clear();
    m_Items.shrink_to_fit();
    m_Capacity = 0;
}

void TVellocStringList::SetSorted(bool sorted)
{
    if (sorted && !m_Sorted) {
        std::stable_sort(m_Items.begin(), m_Items.end(), [this](const TItem& a, const TItem& b) {
            return compare(a.Text, b.Text) < 0;
        });
    }
    m_Sorted = sorted;
}

std::string TVellocStringList::Text() const
{
    std::string text;
    for (const TItem& item : m_Items) {
        text += item.Text;
        text += "\r\n";
    }
    return text;
}

} // namespace velloc
