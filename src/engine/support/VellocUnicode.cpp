#include "engine/support/VellocUnicode.h"

#include <cstdint>

namespace velloc {

namespace {

constexpr char32_t Replacement = 0xFFFD;

bool isHighSurrogate(char16_t unit)
{
    return unit >= 0xD800 && unit <= 0xDBFF;
}

bool isLowSurrogate(char16_t unit)
{
    return unit >= 0xDC00 && unit <= 0xDFFF;
}

void appendUtf8(std::string& out, char32_t c)
{
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        out += static_cast<char>(0xC0 | (c >> 6));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        out += static_cast<char>(0xE0 | (c >> 12));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (c >> 18));
        out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
}

void appendUtf16(std::u16string& out, char32_t c)
{
    if (c < 0x10000) {
        out += static_cast<char16_t>(c);
    } else {
        c -= 0x10000;
        out += static_cast<char16_t>(0xD800 | (c >> 10));
        out += static_cast<char16_t>(0xDC00 | (c & 0x3FF));
    }
}

// The shape of a well-formed UTF-8 sequence by its lead byte: total length and the range
// allowed for the second byte, which is what excludes overlong forms, surrogates and values
// above U+10FFFF. Later bytes are always 80..BF.
struct LeadInfo
{
    int Length = 0; // 0: the byte cannot start a sequence
    uint8_t SecondMin = 0x80;
    uint8_t SecondMax = 0xBF;
};

LeadInfo leadInfo(uint8_t lead)
{
    if (lead >= 0xC2 && lead <= 0xDF) {
        return {2, 0x80, 0xBF};
    }
    if (lead == 0xE0) {
        return {3, 0xA0, 0xBF};
    }
    if (lead == 0xED) {
        return {3, 0x80, 0x9F};
    }
    if (lead >= 0xE1 && lead <= 0xEF) {
        return {3, 0x80, 0xBF};
    }
    if (lead == 0xF0) {
        return {4, 0x90, 0xBF};
    }
    if (lead >= 0xF1 && lead <= 0xF3) {
        return {4, 0x80, 0xBF};
    }
    if (lead == 0xF4) {
        return {4, 0x80, 0x8F};
    }
    return {};
}

} // namespace

std::string Utf16ToUtf8(std::u16string_view text)
{
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        const char16_t unit = text[i];
        if (isHighSurrogate(unit) && i + 1 < text.size() && isLowSurrogate(text[i + 1])) {
            appendUtf8(out, 0x10000 + ((static_cast<char32_t>(unit) - 0xD800) << 10) +
                                (static_cast<char32_t>(text[i + 1]) - 0xDC00));
            ++i;
        } else if (isHighSurrogate(unit) || isLowSurrogate(unit)) {
            appendUtf8(out, Replacement);
        } else {
            appendUtf8(out, unit);
        }
    }
    return out;
}

std::u16string Utf8ToUtf16(std::string_view text)
{
    std::u16string out;
    out.reserve(text.size());
    size_t i = 0;
    while (i < text.size()) {
        const auto lead = static_cast<uint8_t>(text[i]);
        if (lead < 0x80) {
            out += static_cast<char16_t>(lead);
            ++i;
            continue;
        }
        const LeadInfo info = leadInfo(lead);
        if (info.Length == 0) {
            out += static_cast<char16_t>(Replacement);
            ++i;
            continue;
        }
        char32_t c = lead & (0xFF >> (info.Length + 1));
        size_t next = i + 1;
        bool complete = true;
        for (int k = 1; k < info.Length; ++k, ++next) {
            const uint8_t min = k == 1 ? info.SecondMin : 0x80;
            const uint8_t max = k == 1 ? info.SecondMax : 0xBF;
            if (next >= text.size() || static_cast<uint8_t>(text[next]) < min ||
                static_cast<uint8_t>(text[next]) > max) {
                complete = false;
                break;
            }
            c = (c << 6) | (static_cast<uint8_t>(text[next]) & 0x3F);
        }
        // An incomplete sequence is replaced as a whole; the byte that broke it starts over.
        appendUtf16(out, complete ? c : Replacement);
        i = next;
    }
    return out;
}

} // namespace velloc
