#ifndef VELLOC_MD5_H
#define VELLOC_MD5_H

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

namespace velloc {

using TMD5Digest = std::array<uint8_t, 16>;

// The MD5 digest (RFC 1321) of the bytes.
TMD5Digest MD5Digest(std::string_view bytes);

// Two lowercase hexadecimal digits per byte, high nibble first.
std::string MD5Hex(const TMD5Digest& digest);

} // namespace velloc

#endif
