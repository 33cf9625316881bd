// Undoing the filters of stream data: Flate, ASCII base-85, ASCII hexadecimal and LZW, with the
// TIFF and PNG predictors.

#include "engine/VellocStructure.h"

#include "engine/VellocSyntax.h"
#include "engine/support/VellocZlib.h"

#include <algorithm>
#include <array>
#include <cstdlib>
#include <vector>

namespace velloc {

namespace {

struct TPredictorParameters
{
    int32_t Predictor = 1;
    int32_t Colors = 1;
    int32_t BitsPerComponent = 8;
    int32_t Columns = 1;
};

// PDF allows at most 32 colour components (DeviceN); the cap also keeps the row arithmetic far
// from overflow.
constexpr int32_t MaxPredictorColors = 32;

TPredictorParameters ReadPredictorParameters(const TPDFDictionary* parameters)
{
    TPredictorParameters result;
    if (parameters) {
        result.Predictor = parameters->GetInteger("Predictor", 1);
        result.Colors = parameters->GetInteger("Colors", 1);
        result.BitsPerComponent = parameters->GetInteger("BitsPerComponent", 8);
        result.Columns = parameters->GetInteger("Columns", 1);
    }
    return result;
}

bool Inflate(std::string& data, size_t limit)
{
    TInflateResult result = ZlibInflate(data, 0, limit);
    switch (result.Outcome) {
    case TInflateOutcome::Complete:
    // NOTE: A stream whose input ends early (commonly a missing Adler-32 trailer) keeps what
    // it inflated: those bytes are correct, only the end is missing. Bad data is an error.
    case TInflateOutcome::Truncated:
        data = std::move(result.Data);
        return true;
    default:
        return false;
    }
}

bool DecodeASCII85(std::string& data, size_t limit)
{
    // Base-85 digits are '!' (0) to 'u' (84); 'z' stands for a whole group of four zero bytes.
    constexpr uint64_t MaxGroupValue = 0xFFFFFFFF;
    std::string out;
    out.reserve(data.size() / 5 * 4 + 4);
    std::array<uint32_t, 5> group{};
    size_t count = 0;
    auto flush = [&](size_t digits) {
        uint64_t value = 0;
        for (size_t i = 0; i < 5; ++i) {
            value = value * 85 + (i < digits ? group[i] : 84);
        }
        if (value > MaxGroupValue) {
            return false;
        }
        for (size_t i = 0; i + 1 < digits; ++i) {
            out += static_cast<char>((value >> (24 - 8 * i)) & 0xFF);
        }
        return true;
    };
    size_t i = 0;
    if (std::string_view(data).starts_with("<~")) {
        i = 2; // some writers keep the opening bracket of the encoding
    }
    for (; i < data.size(); ++i) {
        const char c = data[i];
        if (IsPDFWhiteSpace(c)) {
            continue;
        }
        if (c == '~') {
            if (i + 1 < data.size() && data[i + 1] != '>') {
                return false;
            }
            break; // "~>" ends the data
        }
        if (c == 'z') {
            if (count != 0) {
                return false; // only a whole group can be abbreviated
            }
            out.append(4, '\0');
        } else if (c >= '!' && c <= 'u') {
            group[count++] = static_cast<uint32_t>(c - '!');
            if (count == 5) {
                if (!flush(5)) {
                    return false;
                }
                count = 0;
            }
        } else {
            return false;
        }
        if (out.size() > limit) {
            return false;
        }
    }
    // A final group of n digits (2 to 4) gives n - 1 bytes; one digit alone carries no byte.
    if (count == 1 || (count > 1 && !flush(count)) || out.size() > limit) {
        return false;
    }
    data = std::move(out);
    return true;
}

// Digits and letters are paired (anything else is skipped); a pair that is not hexadecimal
// gives 0, an odd last digit is paired with '0'.
void DecodeASCIIHex(std::string& data)
{
    auto isLetterOrDigit = [](char c) {
        return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
    };
    std::string out;
    out.reserve(data.size() / 2 + 1);
    int first = -2; // -2: no pending digit; -1: pending character that is not hexadecimal
    for (const char c : data) {
        if (!isLetterOrDigit(c)) {
            continue;
        }
        if (first == -2) {
            first = HexDigitValue(c);
            continue;
        }
        const int second = HexDigitValue(c);
        out += static_cast<char>(first >= 0 && second >= 0 ? first * 16 + second : 0);
        first = -2;
    }
    if (first != -2) {
        out += static_cast<char>(first >= 0 ? first * 16 : 0);
    }
    data = std::move(out);
}

// LZW as PDF uses it: codes of 9 to 12 bits, most significant bit first; 256 clears the table,
// 257 ends the data. With early change the code width grows one code before the table needs it.
bool DecodeLZW(std::string& data, bool earlyChange, size_t limit)
{
    constexpr int32_t ClearTable = 256;
    constexpr int32_t EndOfData = 257;
    constexpr int32_t FirstFreeCode = 258;
    constexpr int32_t TableSize = 4096;
    constexpr int MaxCodeWidth = 12;

    // Each entry is a previous entry plus one byte.
    std::vector<int32_t> prefix(TableSize, -1);
    std::vector<uint8_t> suffix(TableSize, 0);
    std::vector<uint32_t> length(TableSize, 1);
    std::vector<uint8_t> firstByte(TableSize, 0);
    for (int32_t code = 0; code < 256; ++code) {
        suffix[static_cast<size_t>(code)] = static_cast<uint8_t>(code);
        firstByte[static_cast<size_t>(code)] = static_cast<uint8_t>(code);
    }

    std::string out;
    out.reserve(data.size() * 2);
    int32_t nextCode = FirstFreeCode;
    int codeWidth = 9;
    int32_t previous = -1;
    uint32_t bitBuffer = 0;
    int bitCount = 0;
    size_t position = 0;

    auto emit = [&](int32_t code) {
        const uint32_t size = length[static_cast<size_t>(code)];
        if (out.size() + size > limit) {
            return false;
        }
        out.resize(out.size() + size);
        size_t at = out.size();
        for (int32_t c = code; c >= 0; c = prefix[static_cast<size_t>(c)]) {
            out[--at] = static_cast<char>(suffix[static_cast<size_t>(c)]);
        }
        return true;
    };

    for (;;) {
        while (bitCount < codeWidth && position < data.size()) {
            bitBuffer = (bitBuffer << 8) | static_cast<uint8_t>(data[position++]);
            bitCount += 8;
        }
        if (bitCount < codeWidth) {
            break; // the data ended without an end-of-data code
        }
        const auto code =
            static_cast<int32_t>((bitBuffer >> (bitCount - codeWidth)) & ((1u << codeWidth) - 1));
        bitCount -= codeWidth;
        if (code == ClearTable) {
            nextCode = FirstFreeCode;
            codeWidth = 9;
            previous = -1;
            continue;
        }
        if (code == EndOfData) {
            break;
        }
        if (previous < 0) {
            if (code > 255 || !emit(code)) {
                return false;
            }
            previous = code;
            continue;
        }
        if (code > nextCode || (code == nextCode && nextCode >= TableSize)) {
            return false;
        }
        if (nextCode < TableSize) {
            // The new entry is the previous string plus the first byte of the current one; for
            // the code not yet in the table that byte is the previous string's first byte.
            const auto entry = static_cast<size_t>(nextCode);
            const auto previousEntry = static_cast<size_t>(previous);
            const uint8_t added =
                code == nextCode ? firstByte[previousEntry] : firstByte[static_cast<size_t>(code)];
            prefix[entry] = previous;
            suffix[entry] = added;
            length[entry] = length[previousEntry] + 1;
            firstByte[entry] = firstByte[previousEntry];
            ++nextCode;
            if (nextCode + (earlyChange ? 1 : 0) >= (1 << codeWidth) && codeWidth < MaxCodeWidth) {
                ++codeWidth;
            }
        }
        if (!emit(code)) {
            return false;
        }
        previous = code;
    }
    data = std::move(out);
    return true;
}

// Bits of one sample at a sample index of a row.
uint32_t GetSample(const uint8_t* row, size_t index, int bits)
{
    if (bits == 8) {
        return row[index];
    }
    if (bits == 16) {
        return (static_cast<uint32_t>(row[2 * index]) << 8) | row[2 * index + 1];
    }
    const size_t bit = index * static_cast<size_t>(bits);
    const int shift = 8 - bits - static_cast<int>(bit % 8);
    return (row[bit / 8] >> shift) & ((1u << bits) - 1);
}

void SetSample(uint8_t* row, size_t index, int bits, uint32_t value)
{
    if (bits == 8) {
        row[index] = static_cast<uint8_t>(value);
        return;
    }
    if (bits == 16) {
        row[2 * index] = static_cast<uint8_t>(value >> 8);
        row[2 * index + 1] = static_cast<uint8_t>(value);
        return;
    }
    const size_t bit = index * static_cast<size_t>(bits);
    const int shift = 8 - bits - static_cast<int>(bit % 8);
    const auto mask = static_cast<uint8_t>(((1u << bits) - 1) << shift);
    row[bit / 8] = static_cast<uint8_t>((row[bit / 8] & ~mask) | ((value << shift) & mask));
}

// TIFF predictor 2: every sample is stored as the difference to the same component of the
// pixel to its left.
void UndoTIFFPredictor(std::string& data, size_t rowBytes, int colors, int bits, size_t columns)
{
    const uint32_t mask = bits == 16 ? 0xFFFF : (1u << bits) - 1;
    const size_t samplesPerRow = static_cast<size_t>(colors) * columns;
    auto* bytes = reinterpret_cast<uint8_t*>(data.data());
    for (size_t start = 0; start < data.size(); start += rowBytes) {
        const size_t available = std::min(rowBytes, data.size() - start);
        const size_t samples = std::min(samplesPerRow, available * 8 / static_cast<size_t>(bits));
        uint8_t* row = bytes + start;
        for (size_t i = static_cast<size_t>(colors); i < samples; ++i) {
            const uint32_t left = GetSample(row, i - static_cast<size_t>(colors), bits);
            SetSample(row, i, bits, (GetSample(row, i, bits) + left) & mask);
        }
    }
}

uint8_t Paeth(uint8_t left, uint8_t up, uint8_t upLeft)
{
    const int estimate = left + up - upLeft;
    const int toLeft = std::abs(estimate - left);
    const int toUp = std::abs(estimate - up);
    const int toUpLeft = std::abs(estimate - upLeft);
    if (toLeft <= toUp && toLeft <= toUpLeft) {
        return left;
    }
    return toUp <= toUpLeft ? up : upLeft;
}

// PNG predictors: each row starts with its filter type (None, Sub, Up, Average, Paeth); the
// neighbours are whole pixels (at least one byte) to the left and the row above.
bool UndoPNGPredictor(std::string& data, size_t rowBytes, size_t pixelBytes)
{
    const auto* in = reinterpret_cast<const uint8_t*>(data.data());
    std::string out;
    out.reserve(data.size());
    // A row longer than the data never fits in full, so the data size bounds the row buffers.
    const size_t rowSize = std::min(rowBytes, data.size());
    std::vector<uint8_t> above(rowSize, 0);
    std::vector<uint8_t> row(rowSize, 0);
    size_t position = 0;
    while (position < data.size()) {
        const uint8_t type = in[position++];
        const size_t count = std::min(rowSize, data.size() - position);
        for (size_t i = 0; i < count; ++i) {
            const uint8_t raw = in[position + i];
            const uint8_t left = i >= pixelBytes ? row[i - pixelBytes] : 0;
            const uint8_t up = above[i];
            const uint8_t upLeft = i >= pixelBytes ? above[i - pixelBytes] : 0;
            uint8_t predicted = 0;
            switch (type) {
            case 0:
                break;
            case 1:
                predicted = left;
                break;
            case 2:
                predicted = up;
                break;
            case 3:
                predicted = static_cast<uint8_t>((left + up) / 2);
                break;
            case 4:
                predicted = Paeth(left, up, upLeft);
                break;
            default:
                return false;
            }
            row[i] = static_cast<uint8_t>(raw + predicted);
        }
        out.append(reinterpret_cast<const char*>(row.data()), count);
        std::copy(row.begin(), row.begin() + static_cast<ptrdiff_t>(count), above.begin());
        position += count;
    }
    data = std::move(out);
    return true;
}

bool UndoPredictor(std::string& data, const TPredictorParameters& parameters)
{
    const int32_t predictor = parameters.Predictor;
    if (predictor < 2) {
        return true;
    }
    const int32_t colors = parameters.Colors;
    const int32_t bits = parameters.BitsPerComponent;
    const int32_t columns = parameters.Columns;
    const bool bitsValid = bits == 1 || bits == 2 || bits == 4 || bits == 8 || bits == 16;
    if (!bitsValid || colors < 1 || colors > MaxPredictorColors || columns < 1) {
        return false;
    }
    // At most 32 * 16 * 2^31 bits: no overflow in 64 bits.
    const uint64_t pixelBits = static_cast<uint64_t>(colors) * static_cast<uint64_t>(bits);
    const uint64_t rowBytes = (pixelBits * static_cast<uint64_t>(columns) + 7) / 8;
    if (predictor == 2) {
        UndoTIFFPredictor(data, static_cast<size_t>(rowBytes), colors, bits,
                          static_cast<size_t>(columns));
        return true;
    }
    if (predictor >= 10 && predictor <= 15) {
        return UndoPNGPredictor(data, static_cast<size_t>(rowBytes),
                                static_cast<size_t>(std::max<uint64_t>(1, (pixelBits + 7) / 8)));
    }
    return false;
}

TPDFObject* Resolved(TPDFObject* obj)
{
    auto* reference = ObjectAs<TPDFIndRef>(obj);
    return reference ? reference->Resolve() : obj;
}

} // namespace

std::string TPDFStream::DecodedData(size_t outputLimit) const
{
    std::vector<std::string> filters;
    TPDFObject* filter = m_Dictionary->Get("Filter", true);
    if (const auto* name = ObjectAs<TPDFName>(filter)) {
        filters.push_back(name->Value());
    } else if (const auto* list = ObjectAs<TPDFArray>(filter)) {
        for (TPDFObject* item : list->Items()) {
            if (const auto* itemName = ObjectAs<TPDFName>(Resolved(item))) {
                filters.push_back(itemName->Value());
            }
        }
    }
    if (filters.empty()) {
        return m_Data;
    }

    std::vector<const TPDFDictionary*> parameters(filters.size(), nullptr);
    TPDFObject* parameterObject = m_Dictionary->IndexOf("DecodeParms") >= 0
                                      ? m_Dictionary->Get("DecodeParms", true)
                                      : m_Dictionary->Get("DP", true);
    if (const auto* single = ObjectAs<TPDFDictionary>(parameterObject)) {
        parameters[0] = single;
    } else if (const auto* list = ObjectAs<TPDFArray>(parameterObject)) {
        const size_t count = std::min(filters.size(), list->Items().size());
        for (size_t i = 0; i < count; ++i) {
            parameters[i] = ObjectAs<TPDFDictionary>(Resolved(list->Items()[i]));
        }
    }

    std::string data = m_Data;
    for (size_t i = 0; i < filters.size(); ++i) {
        const std::string& name = filters[i];
        bool ok = true;
        if (name == "FlateDecode" || name == "Fl") {
            ok = Inflate(data, outputLimit) &&
                 UndoPredictor(data, ReadPredictorParameters(parameters[i]));
        } else if (name == "ASCII85Decode" || name == "A85") {
            ok = DecodeASCII85(data, outputLimit);
        } else if (name == "ASCIIHexDecode") {
            DecodeASCIIHex(data);
        } else if (name == "LZWDecode") {
            const bool earlyChange =
                !parameters[i] || parameters[i]->GetInteger("EarlyChange", 1) != 0;
            ok = DecodeLZW(data, earlyChange, outputLimit) &&
                 UndoPredictor(data, ReadPredictorParameters(parameters[i]));
        }
        if (!ok) {
            return {};
        }
    }
    return data;
}

} // namespace velloc
