// integer!: 32-bit arithmetic that never wraps. Sums, differences and products
// are computed in 64 bits; a result outside 32 bits, or a division that is
// not exact, becomes a float!. Other right operands go to float!'s mixed maths.
#include "runtime/datatypes/integer.h"

#include "runtime/core/buffer.h"
#include "runtime/datatypes/datatype.h"
#include "runtime/datatypes/date.h"
#include "runtime/datatypes/float.h"
#include "runtime/datatypes/logic.h"
#include "runtime/datatypes/money.h"
#include "runtime/datatypes/string.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/datatypes/word.h"
#include "runtime/core/random.h"
#include "runtime/core/raise.h"
#include "runtime/core/runtime_error.h"

#include <cmath>
#include <cstring>
#include <limits>

namespace kiv::integer {

namespace {

constexpr std::int32_t min_int = std::numeric_limits<std::int32_t>::min();
constexpr std::int32_t max_int = std::numeric_limits<std::int32_t>::max();

bool fits(std::int64_t v) { return v >= min_int && v <= max_int; }

// Where an integer result that left the 32-bit range becomes a float!.
void float_result(Cell& cell, double v) { float_::make_at(cell, v); }

[[noreturn]] void raise_overflow() { runtime::raise_error(ErrorCategory::math, "overflow"); }

Cell word_cell(const char* name) {
    Cell c{};
    word::make_at(symbol::make(name), c);
    return c;
}

[[noreturn]] void raise_bad_to(const Cell& value) {
    const Cell type = datatype::of(TypeId::integer);
    runtime::raise_error(ErrorCategory::script, "bad-to-arg", &type, &value);
}

[[noreturn]] void raise_not_related(const char* action, TypeId type) {
    const Cell fn = word_cell(action);
    const Cell t = datatype::of(type);
    runtime::raise_error(ErrorCategory::script, "not-related", &fn, &t);
}

bool is_text(TypeId t) {
    return t == TypeId::string || t == TypeId::file || t == TypeId::url || t == TypeId::tag ||
           t == TypeId::email || t == TypeId::ref;
}

// Reads the text from its head as a decimal integer: optional sign, digits
// and "'" separators; false on any other character, no digit, or overflow.
bool parse_decimal(Cell text, std::int32_t& out) {
    const std::int32_t length = string::length_from_head(text);
    std::int32_t i = text.series_head();
    const std::int32_t end = i + length;
    bool negative = false;
    if (i < end) {
        const std::uint32_t c = string::get_char_at_index(text, i);
        if (c == '+' || c == '-') {
            negative = c == '-';
            ++i;
        }
    }
    std::int64_t v = 0;
    bool digit = false;
    for (; i < end; ++i) {
        const std::uint32_t c = string::get_char_at_index(text, i);
        if (c == '\'' && digit) continue;
        if (c < '0' || c > '9') return false;
        v = v * 10 + (c - '0');
        if (v > std::int64_t{max_int} + 1) return false;
        digit = true;
    }
    if (!digit) return false;
    if (negative) v = -v;
    if (!fits(v)) return false;
    out = static_cast<std::int32_t>(v);
    return true;
}

// An issue's name read as 1 to 8 hexadecimal digits.
std::int32_t issue_to_int(const Cell& issue) {
    const std::string_view name = symbol::name(issue.word_symbol());
    if (name.empty() || name.size() > 8)
        runtime::raise_error(ErrorCategory::script, "invalid-data", &issue);
    std::uint32_t v = 0;
    for (const char ch : name) {
        std::uint32_t d;
        if (ch >= '0' && ch <= '9') d = static_cast<std::uint32_t>(ch - '0');
        else if (ch >= 'a' && ch <= 'f') d = static_cast<std::uint32_t>(ch - 'a' + 10);
        else if (ch >= 'A' && ch <= 'F') d = static_cast<std::uint32_t>(ch - 'A' + 10);
        else runtime::raise_error(ErrorCategory::script, "invalid-data", &issue);
        v = v << 4 | d;
    }
    return static_cast<std::int32_t>(v);  // eight digits may set the sign bit
}

// The first four bytes from the head, big-endian (fewer when shorter).
std::int32_t binary_to_int(const Cell& bin) {
    SeriesBuffer* buf = memory::buffer(bin.series_node());
    const std::int32_t used = buf->used_bytes();
    std::int32_t head = bin.series_head();
    if (head < 0) head = 0;
    std::uint32_t v = 0;
    for (std::int32_t i = head; i < used && i < head + 4; ++i) v = v << 8 | buf->head[i];
    return static_cast<std::int32_t>(v);
}

// The shared body of the arithmetic and bitwise actions.
Cell* math(Cell* value1, Cell* value2, MathOp op, const char* name) {
    const TypeId t = value2->type();
    if (t == TypeId::integer || t == TypeId::char_) {
        do_math(value1->int_value(), value2->int_value(), op, value1);
        return value1;
    }
    switch (t) {
    case TypeId::pair: case TypeId::point2d: case TypeId::point3d:
        if (op == MathOp::divide) raise_not_related(name, TypeId::integer);
        if (op == MathOp::subtract) {  // n - p is -p + n
            auto negate_other = registry::handler<Action::negate>(t);
            if (negate_other == nullptr) break;
            negate_other(value2);
            return float_::math_op(value1, value2, float_::MathOp::add);
        }
        break;
    case TypeId::tuple:
        if (op == MathOp::subtract || op == MathOp::divide) raise_not_related(name, TypeId::integer);
        break;
    case TypeId::date:
        if (op != MathOp::add) raise_not_related(name, TypeId::integer);
        break;
    default:
        break;
    }
    return float_::math_op(value1, value2, static_cast<float_::MathOp>(op));
}

}  // namespace

Cell* make_in(const Cell& blk, std::int32_t v) {
    Cell* cell = buffer::append_cell(blk.series_node());
    cell->reset(TypeId::integer);
    cell->set_int(v);
    return cell;
}

std::int32_t from_number(const Cell& value) {
    if (!value.is(TypeId::float_)) return value.int_value();
    const double d = value.f64();
    if (std::isnan(d) || d > 2147483647.0 || d < -2147483648.0)
        runtime::raise_error(ErrorCategory::script, "out-of-range", &value);
    return static_cast<std::int32_t>(d);  // truncates toward zero
}

std::int32_t absolute_value(std::int32_t v) {
    if (v == min_int) raise_overflow();
    return v < 0 ? -v : v;
}

bool float_out_of_range_q(const Cell& cell) {
    const double d = cell.f64();
    return std::isnan(d) || d > 2147483647.0 || d < -2147483648.0;
}

const char* to_decimal(std::int32_t v) {
    static char text[12];
    if (v == min_int) return "-2147483648";
    char* p = text + sizeof text - 1;
    *p = '\0';
    std::uint32_t m = static_cast<std::uint32_t>(v < 0 ? -v : v);
    do {
        *--p = static_cast<char>('0' + m % 10);
        m /= 10;
    } while (m != 0);
    if (v < 0) *--p = '-';
    return p;
}

std::int32_t do_math(std::int32_t a, std::int32_t b, MathOp op, Cell* result) {
    std::int64_t r = 0;
    switch (op) {
    case MathOp::add: r = std::int64_t{a} + b; break;
    case MathOp::subtract: r = std::int64_t{a} - b; break;
    case MathOp::multiply: r = std::int64_t{a} * b; break;
    case MathOp::divide:
    case MathOp::remainder:
        if (b == 0) runtime::raise_error(ErrorCategory::math, "zero-divide");
        if (a == min_int && b == -1) raise_overflow();
        if (op == MathOp::remainder) {
            r = a % b;
        } else if (result != nullptr && a % b != 0) {
            float_result(*result, static_cast<double>(a) / static_cast<double>(b));
            return a / b;
        } else {
            r = a / b;
        }
        break;
    case MathOp::or_: r = a | b; break;
    case MathOp::and_: r = a & b; break;
    case MathOp::xor_: r = a ^ b; break;
    default:
        runtime::report_runtime_error(101, 0);  // an op code no caller may pass
    }
    if (!fits(r)) {  // only add, subtract and multiply get here
        if (result != nullptr) {
            float_result(*result, static_cast<double>(r));  // one rounding, as a float64 sum or product
        }
        return static_cast<std::int32_t>(static_cast<std::uint32_t>(r));
    }
    if (result != nullptr) make_at(*result, static_cast<std::int32_t>(r));
    return static_cast<std::int32_t>(r);
}

Cell* make(Cell* proto, Cell* spec, TypeId type) {
    if (spec->is(TypeId::logic)) {
        make_at(*proto, spec->logic_value() == 1 ? 1 : 0);
        return proto;
    }
    return to(proto, spec, type);
}

Cell* random(Cell* value, const RandomRefinements& how) {
    const std::int32_t n = value->int_value();
    if (how.seed) {
        random::seed(static_cast<std::uint32_t>(n));
        value->reset(TypeId::unset);
        return value;
    }
    if (n == 0) return value;
    make_at(*value, random::in_range(how.secure, n));
    return value;
}

Cell* to(Cell* proto, Cell* spec, TypeId) {
    const TypeId t = spec->type();
    std::int32_t v = 0;
    if (t == TypeId::integer) {
        v = spec->int_value();
    } else if (t == TypeId::char_) {
        v = spec->int_value();
    } else if (is_text(t)) {
        if (!parse_decimal(*spec, v)) raise_bad_to(*spec);
    } else if (t == TypeId::float_ || t == TypeId::percent) {
        if (float_out_of_range_q(*spec)) {
            const Cell type = datatype::of(TypeId::integer);
            runtime::raise_error(ErrorCategory::script, "type-limit", &type);
        }
        v = static_cast<std::int32_t>(spec->f64());
    } else if (t == TypeId::time) {
        const double s = spec->f64() + 0.5;
        if (std::isnan(s) || s > 2147483647.0 || s < -2147483648.0) {
            const Cell type = datatype::of(TypeId::integer);
            runtime::raise_error(ErrorCategory::script, "type-limit", &type);
        }
        v = static_cast<std::int32_t>(s);
    } else if (t == TypeId::money) {
        v = money::to_integer(*spec);
    } else if (t == TypeId::issue) {
        v = issue_to_int(*spec);
    } else if (t == TypeId::binary) {
        v = binary_to_int(*spec);
    } else if (t == TypeId::date) {
        const std::int64_t seconds = date::to_unix_seconds(*spec);
        if (seconds > 2147483647 || seconds < -2147483647 - 1) {
            const Cell type = datatype::of(TypeId::integer);
            runtime::raise_error(ErrorCategory::script, "type-limit", &type);
        }
        v = static_cast<std::int32_t>(seconds);
    } else {
        raise_bad_to(*spec);
    }
    make_at(*proto, v);
    return proto;
}

std::int32_t form(Cell* value, NodeId out, Cell*, std::int32_t part) {
    // Two digits a step from the end of a local buffer: form is what rejoin,
    // print and to-string spend on integers.
    static constexpr char pairs[] =
        "00010203040506070809101112131415161718192021222324252627282930313233343536373839"
        "40414243444546474849505152535455565758596061626364656667686970717273747576777879"
        "8081828384858687888990919293949596979899";
    char text[12];
    char* p = text + sizeof text;
    const std::int32_t v = value->int_value();
    std::uint32_t m = v < 0 ? 0u - static_cast<std::uint32_t>(v) : static_cast<std::uint32_t>(v);
    while (m >= 100) {
        const std::uint32_t r = m % 100;
        m /= 100;
        p -= 2;
        std::memcpy(p, pairs + 2 * r, 2);
    }
    if (m >= 10) {
        p -= 2;
        std::memcpy(p, pairs + 2 * m, 2);
    } else {
        *--p = static_cast<char>('0' + m);
    }
    if (v < 0) *--p = '-';
    const auto n = static_cast<std::int32_t>(text + sizeof text - p);
    if (memory::buffer(out)->unit() == 1) std::memcpy(buffer::grow_tail(out, n), p, static_cast<std::size_t>(n));
    else string::append_bytes(out, reinterpret_cast<const std::uint8_t*>(p), n);
    return part - n;
}

std::int32_t mold(Cell* value, NodeId out, MoldOptions, Cell* arg, std::int32_t part,
                  std::int32_t) {
    return form(value, out, arg, part);
}

std::int32_t compare(Cell* value1, Cell* value2, CompareOp op) {
    const TypeId t = value2->type();
    if ((op == CompareOp::strict_equal || op == CompareOp::find) && t != TypeId::integer) return 1;
    switch (t) {
    case TypeId::integer:
    case TypeId::char_: {
        const std::int32_t a = value1->int_value();
        const std::int32_t b = value2->int_value();
        return (a > b) - (a < b);
    }
    case TypeId::float_:
    case TypeId::percent:
    case TypeId::time:
    case TypeId::money: {
        Cell left{};
        float_::make_at(left, static_cast<double>(value1->int_value()));
        return float_::compare(&left, value2, op);
    }
    default:
        return not_comparable;
    }
}

Cell* absolute(Cell* value) {
    make_at(*value, absolute_value(value->int_value()));
    return value;
}

Cell* add(Cell* value1, Cell* value2) { return math(value1, value2, MathOp::add, "add"); }
Cell* divide(Cell* value1, Cell* value2) { return math(value1, value2, MathOp::divide, "divide"); }
Cell* multiply(Cell* value1, Cell* value2) {
    return math(value1, value2, MathOp::multiply, "multiply");
}

Cell* negate(Cell* value) {
    const std::int32_t v = value->int_value();
    if (v == min_int) raise_overflow();
    make_at(*value, -v);
    return value;
}

Cell* power(Cell* value1, Cell* value2) {
    if (value2->is(TypeId::integer) && value2->int_value() >= 0) {
        std::int64_t base = value1->int_value();
        std::uint32_t e = static_cast<std::uint32_t>(value2->int_value());
        std::int64_t result = 1;
        bool overflow = false;
        while (true) {  // squaring; any product leaving 32 bits falls back to floats
            if (e & 1) {
                result *= base;
                if (!fits(result)) { overflow = true; break; }
            }
            e >>= 1;
            if (e == 0) break;
            base *= base;
            if (!fits(base)) { overflow = true; break; }
        }
        if (!overflow) {
            make_at(*value1, static_cast<std::int32_t>(result));
            return value1;
        }
    } else if (!value2->is(TypeId::integer) && !value2->is(TypeId::float_)) {
        const Cell fn = word_cell("power");
        const Cell type = datatype::of(value2->type());
        const Cell arg = word_cell("exponent");
        runtime::raise_error(ErrorCategory::script, "expect-arg", &fn, &type, &arg);
    }
    float_::make_at(*value1, static_cast<double>(value1->int_value()));
    return float_::power(value1, value2);
}

Cell* remainder(Cell* value1, Cell* value2) {
    return math(value1, value2, MathOp::remainder, "remainder");
}

Cell* round(Cell* n, const RoundRefinements& how) {
    if (how.scale != nullptr && how.scale->is(TypeId::money)) {
        const Cell type = datatype::of(TypeId::money);
        const Cell fn = word_cell("round");
        runtime::raise_error(ErrorCategory::script, "not-related", &type, &fn);
    }
    const std::int32_t v = n->int_value();
    if (v == min_int) return n;
    if (how.scale != nullptr && !how.scale->is(TypeId::integer)) {
        float_::make_at(*n, static_cast<double>(v));
        return float_::round(n, how);
    }
    const std::int64_t s = how.scale == nullptr ? 1 : absolute_value(how.scale->int_value());
    if (s == 0) return n;
    const std::int64_t m = v < 0 ? -std::int64_t{v} : v;
    const std::int64_t q = m / s;
    const std::int64_t r = m % s;
    if (r == 0) return n;
    const bool positive = v > 0;
    bool up;
    if (how.down) up = false;
    else if (how.floor) up = !positive;
    else if (how.ceiling) up = positive;
    else if (r < s - r) up = false;
    else if (r > s - r) up = true;
    else if (how.even) up = (q & 1) != 0;
    else if (how.half_down) up = false;
    else if (how.half_ceiling) up = positive;
    else up = true;  // half away from zero
    const std::int64_t magnitude = up ? m + (s - r) : m - r;
    if (!fits(magnitude) && !(magnitude == std::int64_t{max_int} + 1 && !positive)) raise_overflow();
    make_at(*n, static_cast<std::int32_t>(positive ? magnitude : -magnitude));
    return n;
}

Cell* subtract(Cell* value1, Cell* value2) {
    return math(value1, value2, MathOp::subtract, "subtract");
}

std::int32_t even_q(Cell* value) { return (value->int_value() & 1) == 0 ? 1 : 0; }
std::int32_t odd_q(Cell* value) { return (value->int_value() & 1) != 0 ? 1 : 0; }

Cell* and_(Cell* value1, Cell* value2) { return math(value1, value2, MathOp::and_, "and~"); }

Cell* complement(Cell* value) {
    make_at(*value, ~value->int_value());
    return value;
}

Cell* or_(Cell* value1, Cell* value2) { return math(value1, value2, MathOp::or_, "or~"); }
Cell* xor_(Cell* value1, Cell* value2) { return math(value1, value2, MathOp::xor_, "xor~"); }

void init() {
    static constexpr registry::Registration r{TypeId::integer, registry::table({
                                                  {Action::make, make},
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
                                                  {Action::and_, and_},
                                                  {Action::complement, complement},
                                                  {Action::or_, or_},
                                                  {Action::xor_, xor_},
                                              })};  // ORDER ACTIONS
    registry::register_type(r);
}

}  // namespace kiv::integer
