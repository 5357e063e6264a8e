// float!: text, the mixed maths that every numeric module routes through, and
// the action handlers (percent! and time! inherit most of them). The type of a
// result follows its operands (time! wins, then a percent! left side), and the
// value is always plain IEEE: infinities and NaN print as 1.#INF and 1.#NaN.
#include "runtime/datatypes/float.h"

#include "runtime/core/buffer.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/datatype.h"
#include "runtime/datatypes/logic.h"
#include "runtime/datatypes/money.h"
#include "runtime/datatypes/string.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/datatypes/word.h"
#include "runtime/text/dtoa.h"
#include "runtime/io/lexer.h"
#include "runtime/core/random.h"
#include "runtime/core/raise.h"
#include "runtime/text/unicode.h"

#include <bit>
#include <cfloat>
#include <cmath>
#include <cstdio>
#include <charconv>
#include <cstring>
#include <string>

namespace kiv::float_ {

namespace {

bool pretty = false;
bool full = false;  // stored with the options; no text rule reads it

MathRoute routes[type_count] = {};

// The shared text buffer of to_text: 31 characters and the NUL.
char text[32];

constexpr std::uint64_t sign_bit = 0x8000000000000000ull;
constexpr std::uint64_t exponent_bits = 0x7FF0000000000000ull;
constexpr std::uint64_t mantissa_bits = 0x000FFFFFFFFFFFFFull;

void word_cell(const char* name, Cell& out) { word::make_at(symbol::make(name), out); }

[[noreturn]] void raise_bad_to_arg(TypeId target, const Cell& value) {
    const Cell type = datatype::of(target);
    runtime::raise_error(ErrorCategory::script, "bad-to-arg", &type, &value);
}

[[noreturn]] void raise_invalid_type(const Cell& value) {
    const Cell type = datatype::of(value.type());
    runtime::raise_error(ErrorCategory::script, "invalid-type", &type);
}

// not-related with the word of an action and a datatype.
[[noreturn]] void raise_not_related(const char* action, TypeId t) {
    Cell fn{};
    word_cell(action, fn);
    const Cell type = datatype::of(t);
    runtime::raise_error(ErrorCategory::script, "not-related", &fn, &type);
}

const char* op_name(MathOp op) {
    switch (op) {
    case MathOp::add: return "add";
    case MathOp::subtract: return "subtract";
    case MathOp::multiply: return "multiply";
    case MathOp::divide: return "divide";
    case MathOp::remainder: return "remainder";
    default: return "math";
    }
}

// --- Text -------------------------------------------------------------------------

struct Scan {
    bool point = false;
    int e = -1;          // index of "e", -1 when none
    int first_digit = -1;  // index of the first exponent digit 1-9, -1 when none
    int length = 0;
};

Scan scan_text() {
    Scan s;
    s.length = static_cast<int>(std::strlen(text));
    for (int i = 0; i < s.length; ++i) {
        if (text[i] == '.') s.point = true;
        if (text[i] == 'e') {
            s.e = i;
            int k = i + 1;
            while (k < s.length && text[k] <= '0') ++k;  // "+", "-" and leading zeros
            if (k < s.length) s.first_digit = k;
            break;
        }
    }
    return s;
}

// The pretty check: a text this long is a binary fraction showing through.
bool too_long(const Scan& s) {
    if (s.e < 0) {
        const int first = text[0] == '-' ? 1 : 0;
        return s.length > 16 && (text[first] != '0' || s.length > 17);
    }
    return s.e > 16;
}

bool ends_in_01_or_99(const Scan& s) {
    const int end = s.e < 0 ? s.length : s.e;
    if (end < 2) return false;
    const char a = text[end - 2], b = text[end - 1];
    return (a == '0' && b == '1') || (a == '9' && b == '9');
}

// The text printf's "%.<precision>g" gives, which to_chars writes without
// printf's multi-precision arithmetic.
void write_with(int precision, double value) {
    const std::to_chars_result r =
        std::to_chars(text, text + sizeof text - 1, value, std::chars_format::general, precision);
    *r.ptr = '\0';  // 31 characters hold any %g text of up to 17 digits
}

// Rewrites the exponent as "e", an optional "-" and digits without zeros
// in front (1e+016 and 1e+16 both give 1e16).
void clean_exponent(const Scan& s) {
    if (s.e < 0) return;
    const bool negative = std::strchr(text + s.e, '-') != nullptr;
    std::string digits = s.first_digit < 0 ? std::string() : std::string(text + s.first_digit);
    std::string out(text, static_cast<std::size_t>(s.e));
    if (!digits.empty()) out += negative ? "e-" + digits : "e" + digits;
    std::snprintf(text, sizeof text, "%s", out.c_str());
}

// --- Random -----------------------------------------------------------------------

std::uint32_t draw(bool secure) { return random::draw(secure); }

// --- Conversion -------------------------------------------------------------------

// The UTF-8 text of an any-string value from its head.
std::string utf8_text(Cell& value) {
    const std::int32_t n = string::length_from_head(value);
    const std::uint8_t* p = string::head_pointer(value);
    const std::uint32_t unit = memory::buffer(value.series_node())->unit();
    std::string out;
    std::uint8_t bytes[4];
    for (std::int32_t i = 0; i < n; ++i) {
        const std::uint32_t cp = string::get_char(p + static_cast<std::size_t>(i) * unit, unit);
        out.append(reinterpret_cast<const char*>(bytes),
                   static_cast<std::size_t>(unicode::encode_utf8_char(cp, bytes)));
    }
    return out;
}

bool is_text_type(TypeId t) {
    return t == TypeId::string || t == TypeId::file || t == TypeId::url || t == TypeId::tag ||
           t == TypeId::email || t == TypeId::ref;
}

double from_text(Cell& spec, TypeId target) {
    if (target == TypeId::float_) {
        std::int32_t error = 0;
        const std::int32_t n = string::length_from_head(spec);
        const std::uint8_t* p = string::head_pointer(spec);
        const double v =
            lexer::string_to_float(p, n, memory::buffer(spec.series_node())->unit(), error);
        if (error != 0) raise_bad_to_arg(target, spec);
        return v;
    }
    // to percent!: the first value of the text decides; an integer gives
    // its value as the fraction, a float or a percent its float64.
    const std::string utf8 = utf8_text(spec);
    Cell first{};
    if (!lexer::scan_first_value(utf8.data(), static_cast<std::int32_t>(utf8.size()), first))
        raise_bad_to_arg(target, spec);
    if (first.is(TypeId::integer)) return first.int_value();
    if (first.is(TypeId::float_) || first.is(TypeId::percent)) return first.f64();
    raise_bad_to_arg(target, spec);
}

double from_binary(const Cell& spec) {
    const SeriesBuffer* buf = memory::buffer(spec.series_node());
    const std::uint8_t* p = buf->head + spec.series_head();
    std::int32_t n = static_cast<std::int32_t>(buf->tail - p);
    if (n < 0) n = 0;
    if (n > 8) n = 8;
    std::uint64_t bits = 0;
    for (std::int32_t i = 0; i < n; ++i) bits = bits << 8 | p[i];
    return std::bit_cast<double>(bits);
}

double from_pair_block(Cell& spec, TypeId target) {
    if (block::count_from_head(spec) != 2) raise_bad_to_arg(target, spec);
    const Cell* c = block::head_cell(spec);
    double parts[2];
    for (int i = 0; i < 2; ++i) {
        if (c[i].is(TypeId::integer)) parts[i] = c[i].int_value();
        else if (c[i].is(TypeId::float_)) parts[i] = c[i].f64();
        else raise_bad_to_arg(TypeId::float_, spec);
    }
    return parts[0] * std::pow(10.0, std::trunc(parts[1]));
}

// --- Comparison -------------------------------------------------------------------

// Maps a float64 pattern onto one monotonic unsigned order.
std::uint64_t ordered(double v) {
    const std::uint64_t u = std::bit_cast<std::uint64_t>(v);
    return (u & sign_bit) != 0 ? ~u + 1 : u | sign_bit;
}

std::uint32_t ordered32(float v) {
    const std::uint32_t u = std::bit_cast<std::uint32_t>(v);
    return (u & 0x80000000u) != 0 ? ~u + 1 : u | 0x80000000u;
}

// --- Rounding ---------------------------------------------------------------------

double round_scaled(double v, const RoundRefinements& how) {
    if (how.down) return std::trunc(v);
    if (how.floor) return std::floor(v);
    if (how.ceiling) return std::ceil(v);
    const double a = std::fabs(v);
    const double low = std::floor(a);
    const double half = low + 0.5;
    double m;
    if (a > half) m = low + 1.0;
    else if (a < half) m = low;
    else if (how.even) m = std::fmod(a, 2.0) < 1.0 ? low : low + 1.0;
    else if (how.half_down) m = low;
    else if (how.half_ceiling) return std::ceil(v);
    else m = low + 1.0;
    return std::copysign(m, v);
}

}  // namespace

// --- Options ------------------------------------------------------------------------

void set_options(bool pretty_on, bool full_on) {
    pretty = pretty_on;
    full = full_on;
}

bool pretty_q() { return pretty; }

// --- Text -------------------------------------------------------------------------

const char* to_text(double value, TextKind kind) {
    const std::uint64_t bits = std::bit_cast<std::uint64_t>(value);
    if ((bits & exponent_bits) == exponent_bits) {
        if ((bits & mantissa_bits) != 0) return "1.#NaN";
        return (bits & sign_bit) != 0 ? "-1.#INF" : "1.#INF";
    }
    struct Format {
        int first;   // significant digits written first (%g's precision)
        int retry;   // and when that text is too long and ends in 01 or 99
        const char* zero;
    };
    static constexpr Format formats[] = {
        {7, 5, "0.0"},  {16, 14, "0.0"}, {7, 14, "0%"},
        {13, 14, "0%"}, {0, 5, "0.0"},   {7, 5, "0"},
    };
    const Format& f = formats[static_cast<int>(kind)];
    const bool percent_kind = kind == TextKind::float32_percent || kind == TextKind::percent;
    if (pretty && std::fabs(value) < DBL_EPSILON) return f.zero;

    if (kind == TextKind::seconds) {
        std::snprintf(text, sizeof text, "%s", dtoa::form_float(value, 6, false));
    } else {
        write_with(f.first, value);
    }
    Scan s = scan_text();
    if (pretty && too_long(s) && ends_in_01_or_99(s)) {
        write_with(f.retry, value);
        s = scan_text();
    }
    clean_exponent(s);
    if (percent_kind) {
        std::strncat(text, "%", sizeof text - std::strlen(text) - 1);
    } else if ((kind == TextKind::float32 || kind == TextKind::float64) && !s.point) {
        char* e = std::strchr(text, 'e');
        const std::size_t at =
            e != nullptr ? static_cast<std::size_t>(e - text) : std::strlen(text);
        std::string out(text, at);
        out += ".0";
        out += text + at;
        std::snprintf(text, sizeof text, "%s", out.c_str());
    }
    return text;
}

// --- Cells --------------------------------------------------------------------------

Cell* make_in(const Cell& blk, double v) {
    Cell* cell = buffer::append_cell(blk.series_node());
    make_at(*cell, v);
    return cell;
}

double from_number(const Cell& value) {
    if (value.is(TypeId::integer)) return value.int_value();
    if (value.is(TypeId::float_) || value.is(TypeId::percent)) return value.f64();
    raise_bad_to_arg(TypeId::float_, value);
}

// --- Tests ----------------------------------------------------------------------------

bool is_nan(double v) {
    const std::uint64_t bits = std::bit_cast<std::uint64_t>(v);
    return (bits & exponent_bits) == exponent_bits && (bits & mantissa_bits) != 0;
}

bool is_nan_float32(float v) { return v != v; }

bool is_not_finite(double v) {
    return (std::bit_cast<std::uint64_t>(v) & exponent_bits) == exponent_bits;
}

bool near_equal(double a, double b) {
    if (is_nan(a) || is_nan(b)) return false;
    if (a == b) return true;
    if (std::fabs(a - b) < DBL_EPSILON) return true;
    const std::uint64_t x = ordered(a), y = ordered(b);
    return (x > y ? x - y : y - x) <= 10;
}

bool near_equal_float32(float a, float b) {
    if (a != a || b != b) return false;
    if (a == b) return true;
    const std::uint32_t ua = std::bit_cast<std::uint32_t>(a), ub = std::bit_cast<std::uint32_t>(b);
    const std::uint32_t ma = ua & 0x7FFFFFFFu, mb = ub & 0x7FFFFFFFu;
    if (ma <= 0x7F7FFFFEu && mb <= 0x7F7FFFFEu) {
        if (ma == 0 && mb == 0) return true;
        const std::uint32_t x = ordered32(a), y = ordered32(b);
        return (x > y ? x - y : y - x) <= 10;
    }
    // Infinity or the largest finite value: same sign and close magnitudes.
    if ((ua ^ ub) & 0x80000000u) return false;
    return (ma > mb ? ma - mb : mb - ma) < 0x100000u;
}

std::int32_t round_to_integer(double v) {
    return static_cast<std::int32_t>(v + 0.49999999999999994);
}

// --- Maths --------------------------------------------------------------------------

double apply_op(double left, double right, MathOp op) {
    switch (op) {
    case MathOp::add: return left + right;
    case MathOp::subtract: return left - right;
    case MathOp::multiply: return left * right;
    case MathOp::divide: return left / right;
    case MathOp::remainder:
        if (right * 0.0 == 0.0) return std::fmod(left, right);  // finite divisor
        if (is_nan(right)) return right;
        return is_not_finite(left) ? std::numeric_limits<double>::quiet_NaN() : left;
    default: {
        Cell fn{};
        word_cell(op_name(op), fn);
        runtime::raise_error(ErrorCategory::script, "cannot-use", &fn);
    }
    }
}

void set_math_route(TypeId right_type, MathRoute route) {
    routes[static_cast<int>(right_type)] = route;
}

Cell* math_op(Cell* left, Cell* right, MathOp op) {
    const TypeId l = left->type();
    const TypeId r = right->type();
    switch (r) {
    case TypeId::tuple:
    case TypeId::money:
    case TypeId::vector:
        if (routes[static_cast<int>(r)] == nullptr) raise_invalid_type(*right);
        return routes[static_cast<int>(r)](left, right, op);
    case TypeId::pair:
    case TypeId::point2d:
    case TypeId::point3d:
    case TypeId::date: {
        if (l != TypeId::time && (op == MathOp::subtract || op == MathOp::divide))
            raise_not_related(op_name(op), r);
        if (routes[static_cast<int>(r)] == nullptr) raise_invalid_type(*right);
        const Cell number = *left;  // the pair or point goes first
        *left = *right;
        *right = number;
        return routes[static_cast<int>(r)](left, right, op);
    }
    case TypeId::integer:
    case TypeId::float_:
    case TypeId::percent:
    case TypeId::time:
        break;
    case TypeId::char_:
        if (l == TypeId::time || l == TypeId::percent) raise_invalid_type(*right);
        break;
    default:
        raise_invalid_type(*right);
    }
    const double a = l == TypeId::integer ? left->int_value() : left->f64();
    const double b =
        r == TypeId::integer || r == TypeId::char_ ? right->int_value() : right->f64();
    // A time! operand makes a time!, except a ratio of two durations.
    TypeId result = TypeId::float_;
    if (l == TypeId::time || r == TypeId::time) {
        if (!(l == r && op == MathOp::divide)) result = TypeId::time;
    } else if (l == TypeId::percent) {
        result = TypeId::percent;
    }
    const double v = apply_op(a, b, op);
    left->reset(result);
    left->set_f64(v);
    return left;
}

// --- Handlers -----------------------------------------------------------------------

Cell* to(Cell* proto, Cell* spec, TypeId type) {
    const TypeId target = type == TypeId::percent ? TypeId::percent : TypeId::float_;
    double v = 0.0;
    const TypeId t = spec->type();
    switch (t) {
    case TypeId::integer:
    case TypeId::char_:
        v = spec->int_value();
        break;
    case TypeId::float_:
    case TypeId::percent:
    case TypeId::time:
        v = spec->f64();
        break;
    case TypeId::money:
        v = money::to_float(*spec);
        break;
    case TypeId::binary:
        v = from_binary(*spec);
        break;
    case TypeId::block:
    case TypeId::paren:
    case TypeId::hash:
        v = from_pair_block(*spec, target);
        break;
    default:
        if (!is_text_type(t)) raise_bad_to_arg(target, *spec);
        v = from_text(*spec, target);
    }
    proto->reset(target);
    proto->set_f64(v);
    return proto;
}

Cell* random(Cell* value, const RandomRefinements& how) {
    if (how.seed) {
        const std::uint32_t s = value->f64_low() ^ value->f64_high();
        random::seed(s);
        value->reset(TypeId::unset);
        return value;
    }
    const double v = value->f64();
    double r;
    if (how.secure) {
        const double s1 = draw(true);
        const double s2 = draw(true);
        r = v * (s2 + s1 / 2147483647.0) / 2147483648.0;
    } else {
        r = static_cast<std::int32_t>(draw(false)) / 2147483647.0 * v;
    }
    value->set_f64(r);
    return value;
}

std::int32_t form(Cell* value, NodeId out, Cell*, std::int32_t part) {
    const char* t = to_text(value->f64(), TextKind::float64);
    string::append_nul_text(out, t);
    return part - static_cast<std::int32_t>(std::strlen(t));
}

std::int32_t mold(Cell* value, NodeId out, MoldOptions, Cell*, std::int32_t part,
                  std::int32_t) {
    const char* t = dtoa::form_float(value->f64(), 0, true);
    string::append_nul_text(out, t);
    return part - static_cast<std::int32_t>(std::strlen(t));
}

std::int32_t compare(Cell* value1, Cell* value2, CompareOp op) {
    const TypeId r = value2->type();
    if ((op == CompareOp::strict_equal || op == CompareOp::same || op == CompareOp::find) &&
        value1->type() != r)
        return 1;
    const double a = value1->f64();
    double b;
    switch (r) {
    case TypeId::integer: b = value2->int_value(); break;
    case TypeId::float_:
    case TypeId::percent:
    case TypeId::time: b = value2->f64(); break;
    case TypeId::money:
        return money::compare_with_float(a, value2, op);
    default: return not_comparable;
    }
    switch (op) {
    case CompareOp::equal:
    case CompareOp::not_equal: return near_equal(a, b) ? 0 : 1;
    case CompareOp::strict_equal: return a == b ? 0 : 1;
    case CompareOp::same:
        return std::bit_cast<std::uint64_t>(a) == std::bit_cast<std::uint64_t>(b) ? 0 : 1;
    default:
        break;
    }
    if (is_nan(a) || is_nan(b)) {
        // Every ordering question about NaN answers false.
        if (op == CompareOp::lesser || op == CompareOp::lesser_or_equal) return 1;
        if (op == CompareOp::greater || op == CompareOp::greater_or_equal) return -1;
        return op == CompareOp::find ? 1 : 0;
    }
    return (a > b) - (a < b);
}

Cell* absolute(Cell* value) {
    value->set_f64(std::fabs(value->f64()));
    return value;
}

Cell* add(Cell* value1, Cell* value2) { return math_op(value1, value2, MathOp::add); }
Cell* divide(Cell* value1, Cell* value2) { return math_op(value1, value2, MathOp::divide); }
Cell* multiply(Cell* value1, Cell* value2) { return math_op(value1, value2, MathOp::multiply); }

Cell* negate(Cell* value) {
    value->set_f64(0.0 - value->f64());
    return value;
}

Cell* power(Cell* number, Cell* exponent) {
    double e;
    if (exponent->is(TypeId::integer)) {
        e = exponent->int_value();
    } else if (exponent->is(TypeId::float_)) {
        e = exponent->f64();
    } else {
        Cell fn{}, arg{};
        word_cell("power", fn);
        const Cell type = datatype::of(exponent->type());
        word_cell("exponent", arg);
        runtime::raise_error(ErrorCategory::script, "expect-arg", &fn, &type, &arg);
    }
    number->set_f64(std::pow(number->f64(), e));
    return number;
}

Cell* remainder(Cell* value1, Cell* value2) { return math_op(value1, value2, MathOp::remainder); }

Cell* round(Cell* n, const RoundRefinements& how) {
    if (how.scale != nullptr && how.scale->is(TypeId::money)) raise_not_related("round", TypeId::money);
    const bool percent_value = n->is(TypeId::percent);
    double sc = percent_value ? 0.01 : 1.0;
    if (how.scale != nullptr) {
        if (how.scale->is(TypeId::integer)) sc = std::fabs(static_cast<double>(how.scale->int_value()));
        else if (how.scale->is(TypeId::float_) || how.scale->is(TypeId::percent) || how.scale->is(TypeId::time))
            sc = std::fabs(how.scale->f64());
        else raise_invalid_type(*how.scale);
        // A plain number scales a percent in percent units; a percent! scale
        // already holds its fraction.
        if (percent_value && !how.scale->is(TypeId::percent)) sc /= 100.0;
    }
    const double value = n->f64();
    if (std::fabs(value) * 0x1p-53 > sc) return n;  // no fraction left to round
    if (sc == 0.0 || is_nan(sc)) return n;          // no step: nothing to round to

    double result;
    if (sc >= 1.0) {
        result = round_scaled(value / sc, how) * sc;
        if (std::isinf(result)) runtime::raise_error(ErrorCategory::math, "overflow");
    } else {
        int e = 0;
        double v = value;
        double s = sc;
        int exp = 0;
        const double m = std::frexp(sc, &exp);
        if (exp <= -1022) {  // 1 / scale would overflow: work on scaled values
            e = exp;
            v = std::ldexp(value, -e);
            s = m;
        }
        const double r = round_scaled(v * (1.0 / s), how);
        result = std::ldexp(r / (1.0 / s), e);
    }

    if (how.scale != nullptr && how.scale->is(TypeId::integer)) {
        if (!(result >= -2147483648.0 && result <= 2147483647.0))
            runtime::raise_error(ErrorCategory::math, "overflow");
        n->reset(TypeId::integer);
        n->set_int(static_cast<std::int32_t>(result));
        return n;
    }
    if (how.scale != nullptr) n->reset(how.scale->type());
    n->set_f64(result);
    return n;
}

Cell* subtract(Cell* value1, Cell* value2) { return math_op(value1, value2, MathOp::subtract); }

namespace {
std::int32_t truncated(double v) {
    if (!(v > -2147483649.0 && v < 2147483648.0)) return INT32_MIN;
    return static_cast<std::int32_t>(v);
}
}  // namespace

std::int32_t even_q(Cell* value) { return (truncated(value->f64()) & 1) == 0 ? 1 : 0; }
std::int32_t odd_q(Cell* value) { return (truncated(value->f64()) & 1) != 0 ? 1 : 0; }

void init() {
    static constexpr registry::Registration r{TypeId::float_, registry::table({
                                                  {Action::make, to},
                                                  {Action::random, random},
                                                  {Action::to, to},
                                                  {Action::form, form},
                                                  {Action::mold, mold},
                                                  {Action::compare, compare},
                                                  {Action::absolute, absolute},
                                                  {Action::add, add},
                                                  {Action::divide, divide},
                                                  {Action::multiply, multiply},
                                                  {Action::negate, negate},
                                                  {Action::power, power},
                                                  {Action::remainder, remainder},
                                                  {Action::round, round},
                                                  {Action::subtract, subtract},
                                                  {Action::even_q, even_q},
                                                  {Action::odd_q, odd_q},
                                              })};  // ORDER ACTIONS
    registry::register_type(r);
}

}  // namespace kiv::float_
