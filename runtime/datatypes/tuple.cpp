// tuple!: byte-wise arithmetic through integer!'s checked maths (or float!'s
// raw operation for a float operand), every result clamped to 0..255; the
// hexadecimal colour of an issue!; component access through paths and pick.
#include "runtime/datatypes/ownership.h"
#include "runtime/datatypes/tuple.h"

#include "runtime/datatypes/block.h"
#include "runtime/datatypes/integer.h"
#include "runtime/datatypes/pair.h"
#include "runtime/datatypes/string.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/datatypes/unset.h"
#include "runtime/datatypes/word.h"
#include "runtime/datatypes/words.h"
#include "runtime/core/random.h"
#include "runtime/core/raise.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <string>

namespace kiv::tuple {

namespace {

using float_::MathOp;

// The cell a path get hands back: a scalar the caller copies at once.
Cell path_result{};

std::int32_t count_of(const Cell& t) { return static_cast<std::int32_t>(t.tuple_length()); }

std::uint8_t clamp_byte(std::int64_t v) { return static_cast<std::uint8_t>(std::clamp<std::int64_t>(v, 0, 255)); }

// A float result truncated toward zero and clamped (NaN counts as 0).
std::uint8_t clamp_float(double d) {
    if (!(d > 0.0)) return 0;
    if (d >= 255.0) return 255;
    return static_cast<std::uint8_t>(d);
}

// Copies the 12 payload bytes.
void bytes_of(const Cell& t, std::uint8_t (&out)[12]) { std::memcpy(out, t.tuple_bytes(), 12); }

[[noreturn]] void bad_to_arg(const Cell& value) { pair::raise_bad_to_arg(TypeId::tuple, value); }

[[noreturn]] void invalid_refine_arg(words::Ref r, const Cell& value) {
    const Cell ref = words::refinement(r);
    runtime::raise_error(ErrorCategory::script, "invalid-refine-arg", &ref, &value);
}

// The colour of an issue's hexadecimal digits: #RGB, #RRGGBB or #RRGGBBAA.
void from_issue(const Cell& issue, Cell& out) {
    const std::string_view name = symbol::name(issue.word_symbol());
    int digits[8] = {};
    const std::size_t n = name.size();
    if (n != 3 && n != 6 && n != 8) runtime::raise_error(ErrorCategory::script, "invalid-data", &issue);
    for (std::size_t i = 0; i < n; ++i) {
        const char c = name[i];
        int d = -1;
        if (c >= '0' && c <= '9') d = c - '0';
        else if (c >= 'a' && c <= 'f') d = c - 'a' + 10;
        else if (c >= 'A' && c <= 'F') d = c - 'A' + 10;
        if (d < 0) runtime::raise_error(ErrorCategory::script, "invalid-data", &issue);
        digits[i] = d;
    }
    std::uint8_t bytes[12] = {};
    std::int32_t count = 3;
    if (n == 3) {
        for (int i = 0; i < 3; ++i) bytes[i] = static_cast<std::uint8_t>(digits[i] * 17);
    } else {
        count = static_cast<std::int32_t>(n / 2);
        for (std::int32_t i = 0; i < count; ++i)
            bytes[i] = static_cast<std::uint8_t>(digits[2 * i] * 16 + digits[2 * i + 1]);
    }
    make_at(out, bytes, count);
}

void from_block(Cell spec, Cell& out) {
    const std::int32_t n = block::count_from_head(spec);
    if (n > max_count) bad_to_arg(spec);
    std::uint8_t bytes[12] = {};
    const Cell* items = n > 0 ? block::head_cell(spec) : nullptr;
    for (std::int32_t i = 0; i < n; ++i) {
        const Cell& c = items[i];
        double v = 0.0;
        if (c.is(TypeId::integer)) v = c.int_value();
        else if (c.is(TypeId::char_)) v = c.char_value();
        else if (c.is(TypeId::float_)) v = std::trunc(c.f64());
        else bad_to_arg(spec);
        if (!(v >= 0.0 && v <= 255.0)) bad_to_arg(spec);
        bytes[i] = static_cast<std::uint8_t>(v);
    }
    make_at(out, bytes, std::max(n, std::int32_t{3}));
}

void from_binary(const Cell& spec, Cell& out) {
    const SeriesBuffer* buf = memory::buffer(spec.series_node());
    const std::int32_t used = buf->used_bytes();
    const std::int32_t head = std::clamp(spec.series_head(), 0, used);
    const std::int32_t n = std::min(used - head, max_count);
    std::uint8_t bytes[12] = {};
    if (n > 0) std::memcpy(bytes, buf->head + head, static_cast<std::size_t>(n));
    make_at(out, bytes, std::max(n, std::int32_t{3}));
}

std::int32_t text_of(const Cell& v, NodeId out) {
    std::string t;
    const std::uint8_t* b = v.tuple_bytes();
    for (std::int32_t i = 0; i < count_of(v); ++i) {
        if (i > 0) t += '.';
        t += integer::to_decimal(b[i]);
    }
    string::append_nul_text(out, t.c_str());
    return static_cast<std::int32_t>(t.size());
}

}  // namespace

void make_at(Cell& cell, const std::uint8_t* bytes, std::int32_t count) {
    std::uint8_t all[12] = {};
    count = std::clamp(count, std::int32_t{3}, max_count);
    std::memcpy(all, bytes, static_cast<std::size_t>(count));
    cell.reset(TypeId::tuple);
    cell.set_tuple(all, static_cast<std::uint32_t>(count));
}

bool zero_q(const Cell& cell) {
    const std::uint8_t* b = cell.tuple_bytes();
    for (std::int32_t i = 0; i < count_of(cell); ++i)
        if (b[i] != 0) return false;
    return true;
}

void poke(Cell& cell, std::int32_t index, const Cell& value) {
    const std::int32_t count = count_of(cell);
    if (index < 1 || index > count) {
        Cell i{};
        integer::make_at(i, index);
        runtime::raise_error(ErrorCategory::script, "out-of-range", &i);
    }
    std::uint8_t bytes[12];
    bytes_of(cell, bytes);
    std::int32_t new_count = count;
    if (value.is(TypeId::integer)) {
        bytes[index - 1] = clamp_byte(value.int_value());
    } else if (value.is(TypeId::none)) {
        std::fill(bytes + index - 1, bytes + 12, std::uint8_t{0});
        new_count = std::max(index - 1, std::int32_t{3});
    } else {
        pair::raise_invalid_type(value);
    }
    cell.set_tuple(bytes, static_cast<std::uint32_t>(new_count));
}

Cell* math_op(Cell* left, Cell* right, MathOp op) {
    if (!left->is(TypeId::tuple)) {  // a number on the left, from float!
        if (op == MathOp::subtract || op == MathOp::divide)
            pair::raise_not_related(op == MathOp::subtract ? "subtract" : "divide", left->type());
        std::swap(*left, *right);
    }
    std::uint8_t a[12];
    bytes_of(*left, a);
    std::int32_t count = count_of(*left);
    std::uint8_t r[12] = {};
    switch (right->type()) {
    case TypeId::float_:
    case TypeId::percent: {
        if (op == MathOp::and_ || op == MathOp::or_ || op == MathOp::xor_) {
            Cell fn{};
            word::make_at(symbol::make(op == MathOp::and_ ? "and~" : op == MathOp::or_ ? "or~" : "xor~"), fn);
            const Cell number = *right;
            runtime::raise_error(ErrorCategory::script, "cannot-use", &fn, &number);
        }
        const double f = right->f64();
        for (std::int32_t i = 0; i < count; ++i) r[i] = clamp_float(float_::apply_op(a[i], f, op));
        break;
    }
    case TypeId::integer:
    case TypeId::tuple: {
        const bool whole = right->is(TypeId::integer);
        std::uint8_t b[12] = {};
        if (!whole) {
            bytes_of(*right, b);
            count = std::max(count, count_of(*right));
        }
        const auto iop = static_cast<integer::MathOp>(op);
        for (std::int32_t i = 0; i < count; ++i) {
            const std::int32_t x = a[i];
            const std::int32_t y = whole ? right->int_value() : b[i];
            if (op == MathOp::divide) {  // plain truncating division
                r[i] = clamp_byte(integer::do_math(x, y, iop, nullptr));
                continue;
            }
            Cell result{};
            const std::int32_t v = integer::do_math(x, y, iop, &result);
            r[i] = result.is(TypeId::integer) ? clamp_byte(v) : result.f64() > 0.0 ? 255 : 0;
        }
        break;
    }
    default:
        pair::raise_invalid_type(*right);
    }
    make_at(*left, r, count);
    return left;
}

namespace {

Cell* to(Cell* proto, Cell* spec, TypeId) {
    switch (spec->type()) {
    case TypeId::tuple: *proto = *spec; break;
    case TypeId::block:
    case TypeId::paren:
    case TypeId::hash: from_block(*spec, *proto); break;
    case TypeId::issue: from_issue(*spec, *proto); break;
    case TypeId::binary: from_binary(*spec, *proto); break;
    default:
        if (!is_any_string_type(spec->type())) bad_to_arg(*spec);
        pair::load_text(*spec, TypeId::tuple, *proto);
        break;
    }
    proto->set_new_line(false);
    return proto;
}

Cell* random(Cell* value, const RandomRefinements& how) {
    if (how.seed) {
        random::seed(value->payload_word(1) ^ value->payload_word(2) ^ value->payload_word(3));
        unset::make_at(*value);
        return value;
    }
    std::uint8_t b[12];
    bytes_of(*value, b);
    for (std::int32_t i = 0; i < count_of(*value); ++i)
        b[i] = static_cast<std::uint8_t>(random::in_range(how.secure, b[i] + 1) - 1);
    value->set_tuple(b, value->tuple_length());
    return value;
}

std::int32_t form(Cell* value, NodeId out, Cell*, std::int32_t part) {
    return part - text_of(*value, out);
}

std::int32_t mold(Cell* value, NodeId out, MoldOptions, Cell*, std::int32_t part, std::int32_t) {
    return part - text_of(*value, out);
}

Cell* pick(Cell* value, Cell* index);

Cell* eval_path(Cell* value, Cell* element, Cell* new_value, const PathStep& step) {
    if (!element->is(TypeId::integer)) pair::raise_invalid_type(*element);
    if (new_value == nullptr) {
        path_result = *value;
        Cell i = *element;
        return pick(&path_result, &i);
    }
    poke(*value, element->int_value(), *new_value);
    if (step.owner) ownership::report_cell_change(step.parent, value);
    return new_value;
}

std::int32_t compare(Cell* value1, Cell* value2, CompareOp) {
    if (!value2->is(TypeId::tuple)) return not_comparable;
    const std::uint8_t* a = value1->tuple_bytes();
    const std::uint8_t* b = value2->tuple_bytes();
    const std::int32_t n = std::max(count_of(*value1), count_of(*value2));
    for (std::int32_t i = 0; i < n; ++i)  // bytes past a count are 0
        if (a[i] != b[i]) return a[i] < b[i] ? -1 : 1;
    return 0;
}

Cell* add(Cell* value1, Cell* value2) { return tuple::math_op(value1, value2, MathOp::add); }
Cell* divide(Cell* value1, Cell* value2) { return tuple::math_op(value1, value2, MathOp::divide); }
Cell* multiply(Cell* value1, Cell* value2) { return tuple::math_op(value1, value2, MathOp::multiply); }
Cell* remainder(Cell* value1, Cell* value2) { return tuple::math_op(value1, value2, MathOp::remainder); }
Cell* subtract(Cell* value1, Cell* value2) { return tuple::math_op(value1, value2, MathOp::subtract); }
Cell* and_(Cell* value1, Cell* value2) { return tuple::math_op(value1, value2, MathOp::and_); }
Cell* or_(Cell* value1, Cell* value2) { return tuple::math_op(value1, value2, MathOp::or_); }
Cell* xor_(Cell* value1, Cell* value2) { return tuple::math_op(value1, value2, MathOp::xor_); }

Cell* complement(Cell* value) {
    std::uint8_t b[12];
    bytes_of(*value, b);
    for (std::int32_t i = 0; i < count_of(*value); ++i) b[i] = static_cast<std::uint8_t>(255 - b[i]);
    value->set_tuple(b, value->tuple_length());
    return value;
}

std::int32_t length_q(Cell* value) { return count_of(*value); }

Cell* pick(Cell* value, Cell* index) {
    const std::int32_t n = index->is(TypeId::integer) ? index->int_value() : 0;
    if (n < 1 || n > count_of(*value)) runtime::raise_error(ErrorCategory::script, "out-of-range", index);
    integer::make_at(*value, value->tuple_bytes()[n - 1]);
    return value;
}

Cell* reverse(Cell* value, Cell* part, Cell* skip) {
    const std::int32_t count = count_of(*value);
    std::int32_t length = count;
    if (part != nullptr) {
        if (!part->is(TypeId::integer)) invalid_refine_arg(words::Ref::part, *part);
        if (part->int_value() < 0) runtime::raise_error(ErrorCategory::script, "out-of-range", part);
        length = std::min(part->int_value(), count);
    }
    std::int32_t size = 1;
    if (skip != nullptr) {
        if (!skip->is(TypeId::integer)) invalid_refine_arg(words::Ref::skip, *skip);
        size = skip->int_value();
        if (size < 1) runtime::raise_error(ErrorCategory::script, "out-of-range", skip);
        if (size == length) return value;
        if (length < size || length % size != 0) invalid_refine_arg(words::Ref::skip, *skip);
    }
    std::uint8_t b[12];
    bytes_of(*value, b);
    const std::int32_t records = length / size;
    for (std::int32_t i = 0, j = records - 1; i < j; ++i, --j)
        std::swap_ranges(b + i * size, b + (i + 1) * size, b + j * size);
    value->set_tuple(b, value->tuple_length());
    return value;
}

}  // namespace

void init() {
    static constexpr registry::Registration r{
        TypeId::tuple, registry::table({
            {Action::make, to},
            {Action::random, random},
            {Action::to, to},
            {Action::form, form},
            {Action::mold, mold},
            {Action::eval_path, eval_path},
            {Action::compare, compare},
            {Action::add, add},
            {Action::divide, divide},
            {Action::multiply, multiply},
            {Action::remainder, remainder},
            {Action::subtract, subtract},
            {Action::and_, and_},
            {Action::complement, complement},
            {Action::or_, or_},
            {Action::xor_, xor_},
            {Action::length_q, length_q},
            {Action::pick, pick},
            {Action::reverse, reverse},  // ORDER ACTIONS
        })};
    registry::register_type(r);
    float_::set_math_route(TypeId::tuple, math_op);
}

}  // namespace kiv::tuple
