// Reading PDF object syntax into objects of a TPDFStructure.

#include "engine/VellocStructure.h"

#include "engine/VellocSyntax.h"
#include "engine/support/VellocNumberText.h"

#include <algorithm>
#include <charconv>
#include <stdexcept>

namespace velloc {

namespace {

// Characters that end a name or a keyword. A closing brace does not.
bool IsDelimiter(char c)
{
    switch (c) {
    case '(':
    case ')':
    case '<':
    case '>':
    case '[':
    case ']':
    case '{':
    case '/':
    case '%':
        return true;
    default:
        return false;
    }
}

// Raised when arrays and dictionaries nest deeper than MaxParseDepth; the text is unreadable.
class TNestingTooDeep : public std::runtime_error
{
  public:
    TNestingTooDeep() : std::runtime_error("PDF object text nests too deeply") {}
};

// A number token: '-', '.' or a digit, then digits with at most one '.' in the whole token.
struct TNumberToken
{
    std::string_view Text;
    bool HasPoint = false;
};

// Fraction digits beyond this many are ignored.
constexpr size_t MaxFractionDigits = 9;
// Tokens without a point up to this length are 32-bit integers, longer ones reals.
constexpr size_t MaxIntegerTokenLength = 8;
// How far an array that starts with a reference looks ahead to count its references.
constexpr size_t ReserveLookAhead = size_t{1} << 20;

double ConvertReal(std::string_view token)
{
    std::string text(token);
    if (text.front() == '.') {
        text.insert(text.begin(), '0');
    }
    if (text.back() == '.') {
        text += '0';
    }
    const size_t point = text.find('.');
    if (std::count(text.begin(), text.end(), '.') > 1 || text.find('-', 1) != std::string::npos ||
        text.find_first_not_of("0123456789.-") != std::string::npos) {
        return 0;
    }
    const bool negative = text.front() == '-';
    const std::string_view whole =
        std::string_view(text).substr(negative ? 1 : 0, point - (negative ? 1 : 0));
    double magnitude = 0;
    if (!whole.empty()) {
        uint64_t integer = 0;
        const auto result = std::from_chars(whole.data(), whole.data() + whole.size(), integer);
        if (result.ec == std::errc()) {
            magnitude = static_cast<double>(integer);
        } else {
            // Beyond 64 bits: the digits still say which double is meant.
            std::from_chars(whole.data(), whole.data() + whole.size(), magnitude);
        }
    }
    if (point != std::string::npos) {
        const std::string_view fraction =
            std::string_view(text).substr(point + 1, MaxFractionDigits);
        uint64_t digits = 0;
        double scale = 1;
        for (const char c : fraction) {
            digits = digits * 10 + static_cast<uint64_t>(c - '0');
            scale *= 10;
        }
        magnitude += static_cast<double>(digits) / scale;
    }
    return negative ? -magnitude : magnitude;
}

double ConvertNumber(const TNumberToken& token)
{
    if (token.HasPoint || token.Text.size() > MaxIntegerTokenLength) {
        return ConvertReal(token.Text);
    }
    int32_t value = 0;
    const char* end = token.Text.data() + token.Text.size();
    const auto result = std::from_chars(token.Text.data(), end, value);
    return result.ec == std::errc() && result.ptr == end ? value : 0;
}

class TPDFParser
{
  public:
    TPDFParser(TPDFStructure& structure, std::string_view text)
        : m_Structure(structure), m_Text(text)
    {
    }

    size_t Position() const { return m_Position; }

    // The object at the current position, or nullptr when nothing can be read there.
    TPDFObject* ReadObject()
    {
        skipWhiteSpace();
        if (atEnd()) {
            return nullptr;
        }
        const char c = m_Text[m_Position];
        if (c == '<' && startsWith("<<") && m_Text.size() - m_Position >= 4) {
            return readDictionary();
        }
        if (c == '[') {
            return readArray();
        }
        if (startsWithKeyword("true")) {
            return m_Structure.NewBoolean(true);
        }
        if (startsWithKeyword("false")) {
            return m_Structure.NewBoolean(false);
        }
        if (startsWithKeyword("null")) {
            return m_Structure.NewNull();
        }
        if (c == '-' || c == '.' || IsDecimalDigit(c)) {
            return readNumberOrReference();
        }
        if (c == '(') {
            return readLiteralString();
        }
        if (c == '<' && !startsWith("<<")) {
            return readHexString();
        }
        if (c == '/') {
            return readName();
        }
        return nullptr;
    }

  private:
    bool atEnd() const { return m_Position >= m_Text.size(); }

    bool startsWith(std::string_view prefix) const
    {
        return m_Text.substr(m_Position).starts_with(prefix);
    }

    // A keyword counts when the text ends after it or white space or a delimiter follows.
    bool startsWithKeyword(std::string_view keyword)
    {
        if (!startsWith(keyword)) {
            return false;
        }
        const size_t after = m_Position + keyword.size();
        if (after < m_Text.size() && !IsPDFWhiteSpace(m_Text[after]) &&
            !IsDelimiter(m_Text[after])) {
            return false;
        }
        m_Position = after;
        return true;
    }

    // Skips white space and comments; a comment runs from '%' to the next CR or LF.
    void skipWhiteSpace()
    {
        while (!atEnd()) {
            const char c = m_Text[m_Position];
            if (IsPDFWhiteSpace(c)) {
                ++m_Position;
            } else if (c == '%') {
                const size_t end = m_Text.find_first_of("\r\n", m_Position);
                m_Position = end == std::string_view::npos ? m_Text.size() : end;
            } else {
                return;
            }
        }
    }

    void enterContainer()
    {
        if (++m_Depth > MaxParseDepth) {
            throw TNestingTooDeep();
        }
    }

    TPDFObject* readDictionary()
    {
        enterContainer();
        m_Position += 2;
        TPDFDictionary* dictionary = m_Structure.NewDictionary();
        for (;;) {
            TPDFObject* key = ReadObject();
            TPDFObject* value = key ? ReadObject() : nullptr;
            auto* name = ObjectAs<TPDFName>(key);
            if (!name || !value) {
                break;
            }
            dictionary->PutEntry(name, value);
        }
        skipWhiteSpace();
        if (startsWith(">>")) {
            m_Position += 2;
        }
        --m_Depth;
        return dictionary;
    }

    TPDFObject* readArray()
    {
        enterContainer();
        ++m_Position;
        TPDFArray* array = m_Structure.NewArray();
        while (TPDFObject* item = ReadObject()) {
            if (array->Count() == 0 && item->Is<TPDFIndRef>()) {
                // Arrays of references (page tree kids) are long: size them at once. The look
                // ahead is bounded so that nested arrays cannot make parsing quadratic.
                const std::string_view ahead = m_Text.substr(m_Position, ReserveLookAhead);
                const std::string_view items = ahead.substr(0, ahead.find(']'));
                const auto references = std::count(items.begin(), items.end(), 'R');
                array->Reserve(static_cast<int32_t>(references + 1));
            }
            array->Add(item);
        }
        if (!atEnd() && m_Text[m_Position] == ']') {
            ++m_Position;
        }
        --m_Depth;
        return array;
    }

    TNumberToken readNumberToken()
    {
        const size_t start = m_Position;
        bool hasPoint = m_Text[m_Position] == '.';
        ++m_Position;
        while (!atEnd()) {
            const char c = m_Text[m_Position];
            if (IsDecimalDigit(c)) {
                ++m_Position;
            } else if (c == '.' && !hasPoint) {
                hasPoint = true;
                ++m_Position;
            } else {
                break;
            }
        }
        return {m_Text.substr(start, m_Position - start), hasPoint};
    }

    // "N G R" is a reference; otherwise the first token alone is a number.
    TPDFObject* readNumberOrReference()
    {
        const TNumberToken first = readNumberToken();
        const double value = ConvertNumber(first);
        if (!first.HasPoint) {
            const size_t afterFirst = m_Position;
            skipWhiteSpace();
            if (!atEnd() && IsDecimalDigit(m_Text[m_Position])) {
                const double generation = ConvertNumber(readNumberToken());
                skipWhiteSpace();
                if (!atEnd() && m_Text[m_Position] == 'R') {
                    ++m_Position;
                    return m_Structure.NewReference(ClampToInt32(value), ClampToInt32(generation));
                }
            }
            m_Position = afterFirst;
        }
        return m_Structure.NewNumber(value);
    }

    TPDFObject* readLiteralString()
    {
        // Find the balancing parenthesis; the escapes \( \) and \\ do not count.
        size_t end = m_Position + 1;
        int depth = 1;
        for (; end < m_Text.size(); ++end) {
            const char c = m_Text[end];
            if (c == '\\' && end + 1 < m_Text.size() &&
                (m_Text[end + 1] == '(' || m_Text[end + 1] == ')' || m_Text[end + 1] == '\\')) {
                ++end;
            } else if (c == '(') {
                ++depth;
            } else if (c == ')' && --depth == 0) {
                break;
            }
        }
        if (end >= m_Text.size()) {
            return nullptr;
        }
        const std::string_view content = m_Text.substr(m_Position + 1, end - m_Position - 1);
        m_Position = end + 1;
        return m_Structure.NewString(unescapeLiteral(content), TPDFString::LiteralForm);
    }

    static std::string unescapeLiteral(std::string_view content)
    {
        std::string bytes;
        bytes.reserve(content.size());
        size_t i = 0;
        while (i < content.size()) {
            const char c = content[i];
            if (c == '\r') {
                // An unescaped CR or CR LF is one end of line.
                bytes += '\n';
                i += i + 1 < content.size() && content[i + 1] == '\n' ? 2 : 1;
                continue;
            }
            if (c != '\\' || i + 1 >= content.size()) {
                bytes += c;
                ++i;
                continue;
            }
            const char next = content[i + 1];
            if (IsDecimalDigit(next)) {
                unsigned code = 0;
                size_t j = i + 1;
                for (; j < content.size() && j < i + 4 && IsDecimalDigit(content[j]); ++j) {
                    code = code * 8 + static_cast<unsigned>(content[j] - '0');
                }
                bytes += static_cast<char>(code & 0xFF);
                i = j;
                continue;
            }
            i += 2;
            switch (next) {
            case 'n':
                bytes += '\n';
                break;
            case 'r':
                bytes += '\r';
                break;
            case 't':
                bytes += '\t';
                break;
            case 'b':
                bytes += '\b';
                break;
            case 'f':
                bytes += '\f';
                break;
            case '(':
            case ')':
            case '\\':
                bytes += next;
                break;
            case '\n':
                break; // a backslash at the end of a line joins the lines
            case '\r':
                if (i < content.size() && content[i] == '\n') {
                    ++i;
                }
                break;
            default:
                bytes += '\\';
                bytes += next;
            }
        }
        return bytes;
    }

    TPDFObject* readHexString()
    {
        const size_t close = m_Text.find('>', m_Position + 1);
        const size_t end = close == std::string_view::npos ? m_Text.size() : close;
        const std::string_view content = m_Text.substr(m_Position + 1, end - m_Position - 1);
        m_Position = close == std::string_view::npos ? m_Text.size() : close + 1;

        std::string bytes;
        bytes.reserve(content.size() / 2 + 1);
        int high = -1;
        for (const char c : content) {
            const int value = HexDigitValue(c);
            if (value < 0) {
                continue;
            }
            if (high < 0) {
                high = value;
            } else {
                bytes += static_cast<char>(high * 16 + value);
                high = -1;
            }
        }
        if (high >= 0) {
            bytes += static_cast<char>(high * 16); // an odd last digit is followed by 0
        }
        return m_Structure.NewString(std::move(bytes), TPDFString::HexadecimalForm);
    }

    TPDFObject* readName()
    {
        const size_t start = ++m_Position;
        while (!atEnd() && !IsPDFWhiteSpace(m_Text[m_Position]) &&
               !IsDelimiter(m_Text[m_Position])) {
            ++m_Position;
        }
        const std::string_view raw = m_Text.substr(start, m_Position - start);
        std::string value;
        value.reserve(raw.size());
        for (size_t i = 0; i < raw.size(); ++i) {
            if (raw[i] == '#' && i + 2 < raw.size() && HexDigitValue(raw[i + 1]) >= 0 &&
                HexDigitValue(raw[i + 2]) >= 0) {
                value +=
                    static_cast<char>(HexDigitValue(raw[i + 1]) * 16 + HexDigitValue(raw[i + 2]));
                i += 2;
            } else {
                value += raw[i];
            }
        }
        return m_Structure.NewName(std::move(value));
    }

    TPDFStructure& m_Structure;
    std::string_view m_Text;
    size_t m_Position = 0;
    int32_t m_Depth = 0;
};

} // namespace

TPDFObject* TPDFStructure::Parse(std::string_view text)
{
    size_t consumed = 0;
    return ParseCounted(text, consumed);
}

TPDFObject* TPDFStructure::ParseCounted(std::string_view text, size_t& consumed)
{
    TPDFParser parser(*this, text);
    TPDFObject* result = nullptr;
    try {
        result = parser.ReadObject();
        consumed = parser.Position();
    } catch (const std::exception&) {
        // Too deep a nesting (or no memory): the text counts as unreadable.
        result = nullptr;
        consumed = 0;
    }
    return result ? result : NewNull();
}

} // namespace velloc
