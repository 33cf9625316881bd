#include "engine/support/VellocNumberText.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <limits>

namespace velloc {

namespace {

// Significant digits of the decimal expansion that is rounded.
constexpr int ExpansionDigits = 18;

// Integral doubles below this are exact in 15 digits, so their text is the integer itself.
constexpr double ExactIntegerLimit = 1e15;

// Above this many fraction digits the 18-digit expansion is never cut, so more changes nothing.
constexpr int32_t MaxPrecision = 400;

} // namespace

void AppendNumber(std::string& out, double value, int32_t precision)
{
    if (!std::isfinite(value) || value == 0.0) {
        out += '0';
        return;
    }
    if (std::fabs(value) < ExactIntegerLimit && value == std::trunc(value)) {
        char buffer[24];
        const auto result =
            std::to_chars(buffer, buffer + sizeof buffer, static_cast<int64_t>(value));
        out.append(buffer, result.ptr);
        return;
    }
    precision = std::clamp(precision, 0, MaxPrecision);

    // std::to_chars is locale-independent and correctly rounded: "d.ddddddddddddddddde-XX".
    char scientific[40];
    const auto converted =
        std::to_chars(scientific, scientific + sizeof scientific, std::fabs(value),
                      std::chars_format::scientific, ExpansionDigits - 1);
    // digits[0] is a carry position; the expansion's digits start at digits[1].
    char digits[ExpansionDigits + 1];
    digits[0] = '0';
    digits[1] = scientific[0];
    std::copy(scientific + 2, scientific + 1 + ExpansionDigits, digits + 2);
    const char* exponentText = scientific + 2 + ExpansionDigits;
    if (*exponentText == '+') {
        ++exponentText; // std::from_chars takes a minus sign but no plus sign
    }
    int exponent = 0; // the first digit stands for 10^exponent
    std::from_chars(exponentText, converted.ptr, exponent);

    // Count of leading digits that stand for 10^-precision or more.
    const int keep = exponent + precision + 1;
    int first = 1; // index of the first digit in use
    int count = 0; // digits in use
    if (keep < 0) {
        out += '0';
        return;
    }
    if (keep == 0) {
        if (digits[1] < '5') {
            out += '0';
            return;
        }
        digits[1] = '1';
        count = 1;
        exponent += 1;
    } else if (keep >= ExpansionDigits) {
        count = ExpansionDigits;
    } else {
        count = keep;
        if (digits[1 + keep] >= '5') {
            int position = keep;
            while (digits[position] == '9') {
                digits[position] = '0';
                --position;
            }
            ++digits[position];
            if (position == 0) {
                first = 0;
                ++count;
                exponent += 1;
            }
        }
    }
    while (count > 0 && digits[first + count - 1] == '0') {
        --count; // trailing zeros: fraction zeros disappear, integer zeros come back as padding
    }
    if (count == 0) {
        out += '0';
        return;
    }

    if (value < 0) {
        out += '-';
    }
    const char* used = digits + first;
    if (exponent < 0) {
        out += "0.";
        out.append(static_cast<size_t>(-exponent - 1), '0');
        out.append(used, static_cast<size_t>(count));
        return;
    }
    const int integerDigits = exponent + 1;
    if (count <= integerDigits) {
        out.append(used, static_cast<size_t>(count));
        out.append(static_cast<size_t>(integerDigits - count), '0');
        return;
    }
    out.append(used, static_cast<size_t>(integerDigits));
    out += '.';
    out.append(used + integerDigits, static_cast<size_t>(count - integerDigits));
}

std::string FormatNumber(double value, int32_t precision)
{
    std::string text;
    AppendNumber(text, value, precision);
    return text;
}

double RoundHalfEven(double value)
{
    return std::nearbyint(value);
}

double RoundHalfAwayFromZero(double value)
{
    return std::round(value);
}

int32_t ClampToInt32(double value)
{
    if (std::isnan(value)) {
        return 0;
    }
    if (value <= static_cast<double>(std::numeric_limits<int32_t>::min())) {
        return std::numeric_limits<int32_t>::min();
    }
    if (value >= static_cast<double>(std::numeric_limits<int32_t>::max())) {
        return std::numeric_limits<int32_t>::max();
    }
    return static_cast<int32_t>(value);
}

int64_t ClampToInt64(double value)
{
    if (std::isnan(value)) {
        return 0;
    }
    // 2^63 is exact as a double; every double below it converts.
    constexpr double Limit = 9223372036854775808.0;
    if (value <= -Limit) {
        return std::numeric_limits<int64_t>::min();
    }
    if (value >= Limit) {
        return std::numeric_limits<int64_t>::max();
    }
    return static_cast<int64_t>(value);
}

} // namespace velloc
