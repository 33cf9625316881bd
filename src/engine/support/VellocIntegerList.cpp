#include "engine/support/VellocIntegerList.h"

namespace velloc {

bool TVelSortedUniqueIntegerList::Add(uint32_t value)
{
    const size_t page = value >> 16;
    if (page >= m_Pages.size()) {
        m_Pages.resize(page + 1);
    }
    if (!m_Pages[page]) {
        m_Pages[page] = std::make_unique<TPage>();
    }
    bool& flag = (*m_Pages[page])[value & 0xFFFF];
    const bool added = !flag;
    flag = true;
    return added;
}

bool TVelSortedUniqueIntegerList::Contains(uint32_t value) const
{
    const size_t page = value >> 16;
    return page < m_Pages.size() && m_Pages[page] && (*m_Pages[page])[value & 0xFFFF];
}

} // namespace velloc
