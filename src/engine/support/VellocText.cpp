#include "engine/support/VellocText.h"

#include <algorithm>
#include <cstdint>
#include <utility>
#include <vector>

namespace velloc {

namespace {

constexpr char16_t Replacement = 0xFFFD;

constexpr std::array<char16_t, 256> BuildPdfDocEncoding()
{
    std::array<char16_t, 256> table{};
    for (size_t i = 0; i < table.size(); ++i) {
        table[i] = static_cast<char16_t>(i);
    }
    // Byte 22 is U+0017 in PDFDocEncoding, so U+0016 has no byte at all.
    table[22] = 0x0017;
    constexpr char16_t accents[] = {0x02D8, 0x02C7, 0x02C6, 0x02D9, 0x02DD, 0x02DB, 0x02DA, 0x02DC};
    for (size_t i = 0; i < std::size(accents); ++i) {
        table[24 + i] = accents[i];
    }
    table[127] = Replacement;
    constexpr char16_t upper[] = {0x2022, 0x2020, 0x2021, 0x2026,      0x2014, 0x2013, 0x0192,
                                  0x2044, 0x2039, 0x203A, 0x2212,      0x2030, 0x201E, 0x201C,
                                  0x201D, 0x2018, 0x2019, 0x201A,      0x2122, 0xFB01, 0xFB02,
                                  0x0141, 0x0152, 0x0160, 0x0178,      0x017D, 0x0131, 0x0142,
                                  0x0153, 0x0161, 0x017E, Replacement, 0x20AC};
    for (size_t i = 0; i < std::size(upper); ++i) {
        table[128 + i] = upper[i];
    }
    table[173] = Replacement;
    return table;
}

constexpr std::array<char16_t, 256> PdfDocEncoding = BuildPdfDocEncoding();

// The units that sit at a byte other than their own low byte, each with the first byte that
// holds it, sorted by unit for binary search.
using TReverseEntry = std::pair<char16_t, uint8_t>;

const std::vector<TReverseEntry>& ReverseEncoding()
{
    static const std::vector<TReverseEntry> reverse = [] {
        std::vector<TReverseEntry> entries;
        for (size_t i = 0; i < PdfDocEncoding.size(); ++i) {
            entries.emplace_back(PdfDocEncoding[i], static_cast<uint8_t>(i));
        }
        // A stable sort keeps the first byte of a unit that several bytes hold (U+FFFD) first.
        std::stable_sort(
            entries.begin(), entries.end(),
            [](const TReverseEntry& a, const TReverseEntry& b) { return a.first < b.first; });
        return entries;
    }();
    return reverse;
}

// The PDFDocEncoding byte of a unit, or -1 when it has none.
int EncodeUnit(char16_t unit)
{
    const uint8_t low = static_cast<uint8_t>(unit & 0xFF);
    if (PdfDocEncoding[low] == unit) {
        return low;
    }
    const auto& reverse = ReverseEncoding();
    const auto found = std::lower_bound(
        reverse.begin(), reverse.end(), unit,
        [](const TReverseEntry& entry, char16_t value) { return entry.first < value; });
    if (found != reverse.end() && found->first == unit) {
        return found->second;
    }
    return -1;
}

bool IsHighSurrogate(char16_t unit)
{
    return unit >= 0xD800 && unit <= 0xDBFF;
}

bool IsLowSurrogate(char16_t unit)
{
    return unit >= 0xDC00 && unit <= 0xDFFF;
}

// Unicode non-characters: U+FDD0..U+FDEF and the last two code points of every plane.
bool IsNonCharacter(char32_t codePoint)
{
    return (codePoint >= 0xFDD0 && codePoint <= 0xFDEF) || (codePoint & 0xFFFE) == 0xFFFE;
}

// Keeps surrogate pairs, turns unpaired surrogates and non-characters into U+FFFD.
std::u16string Sanitized(std::u16string_view units)
{
    std::u16string result;
    result.reserve(units.size());
    for (size_t i = 0; i < units.size(); ++i) {
        const char16_t unit = units[i];
        if (IsHighSurrogate(unit) && i + 1 < units.size() && IsLowSurrogate(units[i + 1])) {
            const char32_t codePoint =
                0x10000 + ((static_cast<char32_t>(unit) - 0xD800) << 10) + (units[i + 1] - 0xDC00);
            if (IsNonCharacter(codePoint)) {
                result += Replacement;
            } else {
                result += unit;
                result += units[i + 1];
            }
            ++i;
        } else if (IsHighSurrogate(unit) || IsLowSurrogate(unit) || IsNonCharacter(unit)) {
            result += Replacement;
        } else {
            result += unit;
        }
    }
    return result;
}

std::u16string_view WithoutLengthPrefix(std::u16string_view text)
{
    if (text.size() >= 2 && text[0] >= 0xE700 && text[0] <= 0xE7FF && text[1] >= 0xF800 &&
        text[1] <= 0xF8FF) {
        const size_t count = static_cast<size_t>(text[1] & 0xFF) * 256 + (text[0] & 0xFF);
        return text.substr(2, count);
    }
    return text;
}

} // namespace

const std::array<char16_t, 256>& PdfDocEncodingTable()
{
    return PdfDocEncoding;
}

std::string EncodeTextString(const std::u16string& text, bool forceUnicode)
{
    const std::u16string_view units = WithoutLengthPrefix(text);
    if (units.empty()) {
        return {};
    }
    if (!forceUnicode) {
        std::string bytes;
        bytes.reserve(units.size());
        for (const char16_t unit : units) {
            const int byte = EncodeUnit(unit);
            if (byte < 0) {
                break;
            }
            bytes += static_cast<char>(byte);
        }
        if (bytes.size() == units.size()) {
            return bytes;
        }
    }
    const std::u16string clean = Sanitized(units);
    std::string bytes = "\xFE\xFF";
    bytes.reserve(2 + clean.size() * 2);
    for (const char16_t unit : clean) {
        bytes += static_cast<char>(unit >> 8);
        bytes += static_cast<char>(unit & 0xFF);
    }
    return bytes;
}

std::u16string DecodeTextString(std::string_view bytes)
{
    if (bytes.size() >= 2 && static_cast<uint8_t>(bytes[0]) == 0xFE &&
        static_cast<uint8_t>(bytes[1]) == 0xFF) {
        std::u16string units;
        units.reserve((bytes.size() - 1) / 2);
        for (size_t i = 2; i < bytes.size(); i += 2) {
            const char16_t high = static_cast<uint8_t>(bytes[i]);
            const char16_t low = i + 1 < bytes.size() ? static_cast<uint8_t>(bytes[i + 1]) : 0;
            const char16_t unit = static_cast<char16_t>(high << 8 | low);
            if (unit == 0xFEFF && units.empty()) {
                continue;
            }
            units += unit;
        }
        return Sanitized(units);
    }
    std::u16string text;
    text.reserve(bytes.size());
    for (const char byte : bytes) {
        text += PdfDocEncoding[static_cast<uint8_t>(byte)];
    }
    return text;
}

} // namespace velloc
