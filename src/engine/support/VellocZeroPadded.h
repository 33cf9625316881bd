#ifndef VELLOC_ZERO_PADDED_H
#define VELLOC_ZERO_PADDED_H

#include <cstdint>
#include <string>

namespace velloc {

// Decimal digits of `value` with leading zeros up to `width` characters; a value with more
// digits is written in full, and a negative value as `width` zeros.
std::string ZeroPadded(int32_t value, int width);

} // namespace velloc

#endif
