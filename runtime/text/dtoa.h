// Float text: float64 to decimal text and back, correctly rounded both ways.
// Every float the language reads or writes as text passes through here; the
// lexer validates the syntax before `strtod`, the datatypes choose precision.
// Results live in one static digit buffer, valid until the next conversion.
#pragma once

#include <cstdint>

namespace kiv::dtoa {

// Decimal point positions that mark the special values.
inline constexpr int point_special = 9999;  // infinity or NaN
inline constexpr int point_zero = 9998;     // zero of either sign

// Most significant digits a conversion produces: past 17 every float64 is
// already exact enough to read back, and the digit buffer has a fixed size.
inline constexpr int max_precision = 30;

// Digits of value: precision <= 0 gives the shortest string that reads back
// to the same float64, precision p > 0 at most p significant digits,
// correctly rounded (p is clamped to max_precision). The digits stand for
// 0.d1d2...dn x 10^point; trailing zeros are removed. Infinity and NaN give
// "1.#INF", "-1.#INF", "1.#NaN" (point = point_special); zero gives "0.0",
// "-0.0" with point_zero_flag, "0", "-0" without (point = point_zero).
// sign is 1 for a negative value (never for NaN), count the digit count.
const char* to_digits(double value, int precision, int& point, int& sign, int& count,
                      bool point_zero_flag);

// Text of value: sign, digits, point, exponent. Exponent form ("1.5e-10",
// "1.0e17") when the point position is >= 18 or < -6, plain form otherwise;
// a whole number keeps ".0" when point_zero_flag is set.
const char* form_float(double value, int precision, bool point_zero_flag);

// Value of the decimal text in [start, end): optional sign, digits, optional
// fraction, optional exponent ("e" or "E"), or the special texts above. The
// decimal exponent is shifted by adjust (negative for scaled texts such as
// percents). rest receives the characters left between the end of the number
// and end (0 when an exponent was read). Out of range: infinity or zero.
double strtod(const char* start, const char* end, int adjust, int& rest);

}  // namespace kiv::dtoa
