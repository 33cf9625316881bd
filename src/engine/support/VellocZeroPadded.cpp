#include "engine/support/VellocZeroPadded.h"

#include <charconv>

namespace velloc {

std::string ZeroPadded(int32_t value, int width)
{
    const size_t padTo = width > 0 ? static_cast<size_t>(width) : 0;
    if (value < 0) {
        return std::string(padTo, '0');
    }
    char digits[16];
    const auto end = std::to_chars(digits, digits + sizeof(digits), value).ptr;
    const size_t count = static_cast<size_t>(end - digits);
    std::string text(padTo > count ? padTo - count : 0, '0');
    text.append(digits, count);
    return text;
}

} // namespace velloc
