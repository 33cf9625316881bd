#ifndef VELLOC_NUMBER_TEXT_H
#define VELLOC_NUMBER_TEXT_H

#include <cstdint>
#include <string>

namespace velloc {

// Digits after the decimal point of every number the engine writes into PDF syntax.
constexpr int32_t PDFNumberPrecision = 4;

// The PDF text of a number: the value is expanded to 18 significant decimal digits, that digit
// string is rounded half away from zero at `precision` fraction digits, trailing zeros and a bare
// point are dropped, a value that rounds to zero is "0" without a sign. The separator is always
// '.', whatever the locale; there is never an exponent (large magnitudes are written in full).
// NaN and infinities, which PDF cannot express, are written as "0".
std::string FormatNumber(double value, int32_t precision = PDFNumberPrecision);

// The same text, appended to `out` (no temporary string per number).
void AppendNumber(std::string& out, double value, int32_t precision = PDFNumberPrecision);

// Nearest integer, ties to even (std::nearbyint in the default rounding mode).
double RoundHalfEven(double value);

// Nearest integer, ties away from zero (std::round).
double RoundHalfAwayFromZero(double value);

// Truncates toward zero and saturates at the type's limits; NaN gives 0. Use after one of the
// rounding helpers instead of a bare cast, which is undefined outside the range.
int32_t ClampToInt32(double value);
int64_t ClampToInt64(double value);

} // namespace velloc

#endif
