// Float text: the digit work is done by std::to_chars and std::from_chars,
// both correctly rounded; this module owns the language's layout of numbers
// (exponent thresholds, ".0", the special texts) and the reader's syntax.
#include "runtime/text/dtoa.h"

#include <charconv>
#include <cstring>
#include <limits>
#include <system_error>

namespace kiv::dtoa {
namespace {

// digit_buffer[0] is a sign position so that a "-" can go before the digits.
char digit_buffer[64];
char text_buffer[64];

// Digits kept from a long input: enough to settle every rounding decision of
// a float64 (a halfway point has at most 767 significant digits), with one
// sticky digit standing for any non-zero digit dropped after them.
constexpr int kept_digits = 790;

const char* copy_text(const char* text, int& count) {
    std::size_t n = std::strlen(text);
    std::memcpy(digit_buffer + 1, text, n + 1);
    count = static_cast<int>(n);
    return digit_buffer + 1;
}

double from_bits(std::uint64_t bits) {
    double d;
    std::memcpy(&d, &bits, sizeof d);
    return d;
}

}  // namespace

const char* to_digits(double value, int precision, int& point, int& sign, int& count,
                      bool point_zero_flag) {
    std::uint64_t bits;
    std::memcpy(&bits, &value, sizeof bits);
    sign = static_cast<int>(bits >> 63);
    const std::uint64_t exponent = (bits >> 52) & 0x7FF;
    const std::uint64_t fraction = bits & ((std::uint64_t{1} << 52) - 1);

    if (exponent == 0x7FF) {
        point = point_special;
        if (fraction != 0) {
            sign = 0;  // NaN carries no sign
            return copy_text("1.#NaN", count);
        }
        return copy_text(sign ? "-1.#INF" : "1.#INF", count);
    }
    if (exponent == 0 && fraction == 0) {
        point = point_zero;
        if (point_zero_flag) return copy_text(sign ? "-0.0" : "0.0", count);
        return copy_text(sign ? "-0" : "0", count);
    }

    const double magnitude = sign ? -value : value;
    char sci[64];
    std::to_chars_result r;
    if (precision <= 0) {
        r = std::to_chars(sci, sci + sizeof sci, magnitude, std::chars_format::scientific);
    } else {
        if (precision > max_precision) precision = max_precision;
        r = std::to_chars(sci, sci + sizeof sci, magnitude, std::chars_format::scientific,
                          precision - 1);
    }
    *r.ptr = '\0';

    // sci is "d[.ddd]e[+-]xx"
    char* out = digit_buffer + 1;
    int n = 0;
    const char* p = sci;
    for (; *p != 'e'; ++p) {
        if (*p != '.') out[n++] = *p;
    }
    ++p;
    const bool negative_exponent = *p == '-';
    ++p;
    int k = 0;
    for (; *p != '\0'; ++p) k = k * 10 + (*p - '0');
    if (negative_exponent) k = -k;

    while (n > 1 && out[n - 1] == '0') --n;
    out[n] = '\0';
    count = n;
    point = k + 1;
    return out;
}

const char* form_float(double value, int precision, bool point_zero_flag) {
    int point, sign, n;
    const char* digits = to_digits(value, precision, point, sign, n, point_zero_flag);
    if (point >= point_zero) return digits;

    char* out = text_buffer;
    if (sign) *out++ = '-';
    if (point >= 18 || point < -6) {
        *out++ = digits[0];
        *out++ = '.';
        if (n == 1) {
            if (point_zero_flag) *out++ = '0';
            else --out;  // no fraction digits: the point goes too
        } else {
            std::memcpy(out, digits + 1, static_cast<std::size_t>(n - 1));
            out += n - 1;
        }
        *out++ = 'e';
        auto r = std::to_chars(out, text_buffer + sizeof text_buffer, point - 1);
        out = r.ptr;
    } else if (point <= 0) {
        *out++ = '0';
        *out++ = '.';
        for (int i = 0; i < -point; ++i) *out++ = '0';
        std::memcpy(out, digits, static_cast<std::size_t>(n));
        out += n;
    } else if (point < n) {
        std::memcpy(out, digits, static_cast<std::size_t>(point));
        out += point;
        *out++ = '.';
        std::memcpy(out, digits + point, static_cast<std::size_t>(n - point));
        out += n - point;
    } else {
        std::memcpy(out, digits, static_cast<std::size_t>(n));
        out += n;
        for (int i = n; i < point; ++i) *out++ = '0';
        if (point_zero_flag) {
            *out++ = '.';
            *out++ = '0';
        }
    }
    *out = '\0';
    return text_buffer;
}

double strtod(const char* start, const char* end, int adjust, int& rest) {
    const char* s = start;
    bool negative = false;
    if (s < end && (*s == '+' || *s == '-')) {
        negative = *s == '-';
        ++s;
    }
    while (s < end && *s == '0') ++s;

    char digits[kept_digits + 16];
    int n = 0;                  // significant digits kept
    bool dropped = false;       // a non-zero digit fell beyond kept_digits
    std::int64_t exponent = 0;  // decimal exponent of the last kept digit
    auto take = [&](char c) {
        if (n < kept_digits) digits[n++] = c;
        else {
            ++exponent;  // a dropped digit still scales the value
            if (c != '0') dropped = true;
        }
    };

    int integer_digits = 0;
    for (; s < end && *s >= '0' && *s <= '9'; ++s, ++integer_digits) take(*s);

    if (s < end && *s == '.') {
        if (integer_digits == 1 && s + 2 < end && s[1] == '#') {
            const char c = s[2];
            if (c == 'I' || c == 'i') {
                rest = 0;
                const double inf = std::numeric_limits<double>::infinity();
                return negative ? -inf : inf;
            }
            if (c == 'N' || c == 'n') {
                rest = 0;
                return from_bits(0x7FF8000000000000ULL);  // positive quiet NaN
            }
        }
        ++s;
        for (; s < end && *s >= '0' && *s <= '9'; ++s) {
            if (n == 0 && *s == '0') {
                --exponent;  // leading fraction zero: only scales
                continue;
            }
            if (n < kept_digits) {
                digits[n++] = *s;
                --exponent;
            } else if (*s != '0') {
                dropped = true;
            }
        }
    }

    rest = static_cast<int>(end - s);
    if (s + 1 < end && (*s == 'e' || *s == 'E')) {
        ++s;
        bool negative_exponent = false;
        if (*s == '+' || *s == '-') {
            negative_exponent = *s == '-';
            ++s;
        }
        std::int64_t written = 0;
        for (; s < end && *s >= '0' && *s <= '9'; ++s) {
            if (written < 100000000) written = written * 10 + (*s - '0');  // saturates: far out of range
        }
        exponent += negative_exponent ? -written : written;
        rest = static_cast<int>(end - s);
    }
    exponent += adjust;

    const double zero = negative ? -0.0 : 0.0;
    if (dropped) {
        digits[n++] = '1';  // sticky digit: the dropped tail is above zero
        --exponent;
    } else {
        while (n > 0 && digits[n - 1] == '0') {
            --n;
            ++exponent;
        }
        if (n == 0) return zero;
    }

    // The value lies in [10^(exponent + n - 1), 10^(exponent + n)).
    const std::int64_t magnitude = exponent + n;
    if (magnitude > 310) {
        const double inf = std::numeric_limits<double>::infinity();
        return negative ? -inf : inf;
    }
    if (magnitude < -330) return zero;

    // Up to 15 digits are an exact integer of a double, and so are the powers
    // of ten up to 10^22: one multiplication or division then rounds once,
    // correctly. Most texts are short enough for this.
    if (!dropped && n <= 15 && exponent >= -22 && exponent <= 22) {
        static constexpr double powers[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                                            1e8,  1e9,  1e10, 1e11, 1e12, 1e13, 1e14, 1e15,
                                            1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};
        std::int64_t whole = 0;
        for (int i = 0; i < n; ++i) whole = whole * 10 + (digits[i] - '0');
        const double m = static_cast<double>(whole);
        const double value = exponent >= 0 ? m * powers[exponent] : m / powers[-exponent];
        return negative ? -value : value;
    }

    char* p = digits + n;
    *p++ = 'e';
    p = std::to_chars(p, digits + sizeof digits, exponent).ptr;
    double value = 0.0;
    auto r = std::from_chars(digits, p, value, std::chars_format::scientific);
    if (r.ec == std::errc::result_out_of_range) {
        value = magnitude > 0 ? std::numeric_limits<double>::infinity() : 0.0;
    }
    return negative ? -value : value;
}

}  // namespace kiv::dtoa
