#ifndef VELLOC_INTEGER_LIST_H
#define VELLOC_INTEGER_LIST_H

#include <array>
#include <cstdint>
#include <memory>
#include <vector>

namespace velloc {

// A set of unsigned 32-bit values with constant-time add and lookup: one page of 65536 flags
// per value of the upper 16 bits, allocated when a value of it is first added.
class TVelSortedUniqueIntegerList
{
  public:
    // True when the value was not present before.
    bool Add(uint32_t value);
    bool Contains(uint32_t value) const;

  private:
    using TPage = std::array<bool, 65536>;
    std::vector<std::unique_ptr<TPage>> m_Pages;
};

} // namespace velloc

#endif
