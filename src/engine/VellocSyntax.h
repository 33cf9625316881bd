#ifndef VELLOC_SYNTAX_H
#define VELLOC_SYNTAX_H

// Character classes of PDF syntax shared by the parser and the stream filters. Locale-free on
// purpose: <cctype> answers by the process locale.

namespace velloc {

// PDF white space: NUL, TAB, LF, FF, CR and space.
inline bool IsPDFWhiteSpace(char c)
{
    return c == 0 || c == 9 || c == 10 || c == 12 || c == 13 || c == 32;
}

inline bool IsDecimalDigit(char c)
{
    return c >= '0' && c <= '9';
}

// The value of an ASCII hexadecimal digit in either case, or -1.
inline int HexDigitValue(char c)
{
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    return -1;
}

} // namespace velloc

#endif
