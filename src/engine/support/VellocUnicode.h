#ifndef VELLOC_UNICODE_H
#define VELLOC_UNICODE_H

#include <string>
#include <string_view>

namespace velloc {

// UTF-16 to UTF-8. A surrogate without its partner becomes U+FFFD.
std::string Utf16ToUtf8(std::u16string_view text);

// UTF-8 to UTF-16. Each maximal ill-formed subsequence (stray continuation byte, overlong
// form, encoded surrogate, value above U+10FFFF, truncated sequence) becomes one U+FFFD.
std::u16string Utf8ToUtf16(std::string_view text);

} // namespace velloc

#endif
