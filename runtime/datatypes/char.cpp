// char!: conversions, the literal form with its escapes, comparison by code
// point (never case-folded) and arithmetic that must land on a code point. Arithmetic is done in 64 bits, so no intermediate wraps.
#include "runtime/datatypes/char.h"

#include "runtime/core/buffer.h"
#include "runtime/datatypes/datatype.h"
#include "runtime/datatypes/string.h"
#include "runtime/core/raise.h"
#include "runtime/text/unicode.h"

#include <cmath>
#include <cstring>

namespace kiv::char_ {

namespace {

// What follows "^" in the escape of code points 0-31 (30 is written in hex).
constexpr char control_escapes[] = "@ABCDEFGH-/KLMNOPQRSTUVWXYZ[\\]^_";

[[noreturn]] void bad_to_arg(const Cell& value) {
    Cell type{};
    datatype::make_at(TypeId::char_, type);
    runtime::raise_error(ErrorCategory::script, "bad-to-arg", &type, &value);
}

[[noreturn]] void out_of_range(const Cell& value) {
    runtime::raise_error(ErrorCategory::script, "out-of-range", &value);
}

[[noreturn]] void overflow() { runtime::raise_error(ErrorCategory::math, "overflow"); }

// The code point at a binary's head; a malformed or cut sequence is U+FFFE.
std::uint32_t from_binary(const Cell& spec) {
    SeriesBuffer* buf = memory::buffer(spec.series_node());
    const std::uint8_t* p = buf->head + spec.series_head();
    if (spec.series_head() < 0 || p >= buf->tail) bad_to_arg(spec);  // nothing at the head
    std::int32_t cp = -1;
    unicode::decode_utf8_char(p, buf->tail, &cp);
    return cp < 0 ? 0xFFFE : static_cast<std::uint32_t>(cp);
}

enum class MathOp { add, subtract, multiply, divide, remainder, or_, and_, xor_ };

Cell* math(Cell* value1, Cell* value2, MathOp op) {
    std::int64_t b = 0;
    switch (value2->type()) {
    case TypeId::char_: b = value2->char_value(); break;
    case TypeId::integer: b = value2->int_value(); break;
    case TypeId::float_: {
        const double f = std::trunc(value2->f64());
        if (!(f >= -2147483648.0 && f <= 2147483647.0)) overflow();  // no 32-bit operand
        b = static_cast<std::int64_t>(f);
        break;
    }
    default: {
        Cell type{};
        datatype::make_at(value2->type(), type);
        runtime::raise_error(ErrorCategory::script, "invalid-type", &type);
    }
    }
    const std::int64_t a = value1->char_value();
    std::int64_t r = 0;
    switch (op) {
    case MathOp::add: r = a + b; break;
    case MathOp::subtract: r = a - b; break;
    case MathOp::multiply: r = a * b; break;
    case MathOp::divide:
    case MathOp::remainder:
        if (b == 0) runtime::raise_error(ErrorCategory::math, "zero-divide");
        r = op == MathOp::divide ? a / b : a % b;  // truncated, the sign follows a
        break;
    case MathOp::or_: r = a | b; break;
    case MathOp::and_: r = a & b; break;
    case MathOp::xor_: r = a ^ b; break;
    }
    if (r < 0 || r > max_code_point) overflow();
    value1->set_char(static_cast<std::uint32_t>(r));
    return value1;
}

}  // namespace

Cell* make_in(const Cell& blk, std::uint32_t cp) {
    Cell* cell = buffer::append_cell(blk.series_node());
    cell->reset(TypeId::char_);
    cell->set_char(cp);
    return cell;
}

std::int32_t append_escaped(NodeId out, std::uint32_t cp, bool all) {
    if (cp == 30 || (cp >= 128 && cp <= 159) || (all && cp > 127)) {
        const char* hex = string::to_hex(static_cast<std::int32_t>(cp), true);
        string::append_nul_text(out, "^(");
        string::append_nul_text(out, hex);
        string::append_char(out, ')');
        return static_cast<std::int32_t>(std::strlen("^()") + std::strlen(hex));
    }
    char escape = 0;
    if (cp < 32) escape = control_escapes[cp];
    else if (cp == '"') escape = '"';
    else if (cp == '^') escape = '^';
    else if (cp == 127) escape = '~';
    if (escape == 0) {
        string::append_char(out, cp);
        return 1;
    }
    string::append_char(out, '^');
    string::append_char(out, static_cast<std::uint8_t>(escape));
    return 2;
}

Cell* to(Cell* proto, Cell* spec, TypeId) {
    std::uint32_t cp = 0;
    switch (spec->type()) {
    case TypeId::char_:
    case TypeId::integer: {
        const std::int32_t v = spec->int_value();
        if (v < 0 || static_cast<std::uint32_t>(v) > max_code_point) out_of_range(*spec);
        cp = static_cast<std::uint32_t>(v);
        break;
    }
    case TypeId::float_:
    case TypeId::percent: {
        const double f = std::trunc(spec->f64());
        if (!(f >= 0.0 && f <= static_cast<double>(max_code_point))) out_of_range(*spec);
        cp = static_cast<std::uint32_t>(f);
        break;
    }
    case TypeId::binary: cp = from_binary(*spec); break;
    default:
        if (!is_any_string_type(spec->type()) || string::at_tail_q(*spec)) bad_to_arg(*spec);
        cp = string::get_char_at_index(*spec, spec->series_head());
        break;
    }
    proto->reset(TypeId::char_);
    proto->set_char(cp);
    return proto;
}

std::int32_t form(Cell* value, NodeId out, Cell*, std::int32_t part) {
    string::append_char(out, value->char_value());
    return part - 1;
}

std::int32_t mold(Cell* value, NodeId out, MoldOptions options, Cell*, std::int32_t part,
                  std::int32_t) {
    string::append_nul_text(out, "#\"");
    append_escaped(out, value->char_value(), options.all);
    string::append_char(out, '"');
    return part - 4;
}

std::int32_t compare(Cell* value1, Cell* value2, CompareOp op) {
    const bool is_char = value2->is(TypeId::char_);
    if ((op == CompareOp::strict_equal || op == CompareOp::find) && !is_char) return 1;
    if (!is_char && !value2->is(TypeId::integer)) return not_comparable;
    std::int64_t a = value1->char_value();
    std::int64_t b = is_char ? static_cast<std::int64_t>(value2->char_value()) : value2->int_value();
    return (a > b) - (a < b);  // code points as they are: no case folding
}

Cell* add(Cell* value1, Cell* value2) { return math(value1, value2, MathOp::add); }
Cell* divide(Cell* value1, Cell* value2) { return math(value1, value2, MathOp::divide); }
Cell* multiply(Cell* value1, Cell* value2) { return math(value1, value2, MathOp::multiply); }
Cell* remainder(Cell* value1, Cell* value2) { return math(value1, value2, MathOp::remainder); }
Cell* subtract(Cell* value1, Cell* value2) { return math(value1, value2, MathOp::subtract); }
Cell* and_(Cell* value1, Cell* value2) { return math(value1, value2, MathOp::and_); }
Cell* or_(Cell* value1, Cell* value2) { return math(value1, value2, MathOp::or_); }
Cell* xor_(Cell* value1, Cell* value2) { return math(value1, value2, MathOp::xor_); }

void init() {
    static constexpr registry::Registration r{
        TypeId::char_, registry::table({
            {Action::make, to},
            {Action::to, to},
            {Action::form, form},
            {Action::mold, mold},
            {Action::compare, compare},
            {Action::add, add},
            {Action::divide, divide},
            {Action::multiply, multiply},
            {Action::negate, registry::refuse},
            {Action::power, registry::refuse},
            {Action::remainder, remainder},
            {Action::round, registry::refuse},
            {Action::subtract, subtract},
            {Action::and_, and_},
            {Action::complement, registry::refuse},
            {Action::or_, or_},
            {Action::xor_, xor_},  // ORDER ACTIONS
        })};
    registry::register_type(r);
}

}  // namespace kiv::char_
