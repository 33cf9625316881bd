#ifndef VELLOC_TEXT_H
#define VELLOC_TEXT_H

#include <array>
#include <string>
#include <string_view>

namespace velloc {

// Entry i is the Unicode value of PDFDocEncoding byte i; the undefined bytes 7F, 9F and AD
// hold U+FFFD.
const std::array<char16_t, 256>& PdfDocEncodingTable();

// The bytes of a PDF text string: PDFDocEncoding when every code unit has a byte there and
// `forceUnicode` is false, otherwise FE FF and UTF-16BE. An empty text gives no bytes at all.
// A text opening with a unit of U+E700..U+E7FF and one of U+F800..U+F8FF is length-prefixed:
// the low bytes of those two units give the count of units that follow (second unit's byte
// high, first unit's byte low), and only those units are encoded.
// Unpaired surrogates and non-characters become U+FFFD in the UTF-16BE form.
std::string EncodeTextString(const std::u16string& text, bool forceUnicode = false);

// The wide text of PDF text string bytes: UTF-16BE after FE FF (leading U+FEFF units dropped,
// unpaired surrogates and non-characters as U+FFFD, an odd last byte as the high byte of a
// last unit), PDFDocEncoding otherwise.
std::u16string DecodeTextString(std::string_view bytes);

} // namespace velloc

#endif
