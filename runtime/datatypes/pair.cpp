// pair!: integer arithmetic per component through integer!'s checked maths;
// whenever a component cannot stay an integer the whole operation restarts in
// point2D! from the original operands, so no result ever wraps.
#include "runtime/datatypes/pair.h"

#include "runtime/core/buffer.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/datatype.h"
#include "runtime/datatypes/integer.h"
#include "runtime/datatypes/ownership.h"
#include "runtime/datatypes/point.h"
#include "runtime/datatypes/string.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/datatypes/unset.h"
#include "runtime/datatypes/word.h"
#include "runtime/datatypes/words.h"
#include "runtime/io/lexer.h"
#include "runtime/core/random.h"
#include "runtime/core/raise.h"
#include "runtime/text/unicode.h"

#include <cmath>
#include <cstring>
#include <string>

namespace kiv::pair {

std::int32_t truncated(double d, const Cell& number) {
    if (!(d > -2147483649.0 && d < 2147483648.0))
        runtime::raise_error(ErrorCategory::script, "out-of-range", &number);
    return static_cast<std::int32_t>(d);
}

namespace {

using float_::MathOp;

// The cell a path get hands back: a scalar the caller copies at once.
Cell path_result{};

Cell word_cell(const char* name) {
    Cell c{};
    word::make_at(symbol::make(name), c);
    return c;
}

// The component of a number: an integer!'s value, a float!'s (or
// percent!'s) truncated toward zero.
std::int32_t component_of(const Cell& n) {
    return n.is(TypeId::integer) ? n.int_value() : truncated(n.f64(), n);
}

// x, y, or 0 for an element that names neither.
std::int32_t field_of(const Cell& element) {
    if (element.is(TypeId::integer)) {
        const std::int32_t i = element.int_value();
        return i == 1 || i == 2 ? i : 0;
    }
    if (word::is_any_word(element.type())) {
        const std::int32_t c = coordinate_of_word(element);
        return c <= 2 ? c : 0;
    }
    return 0;
}

std::int32_t text_of(const Cell& v, NodeId out) {
    std::string t = integer::to_decimal(v.pair_x());
    t += 'x';
    t += integer::to_decimal(v.pair_y());
    string::append_nul_text(out, t.c_str());
    return static_cast<std::int32_t>(t.size());
}

// Restarts the operation in point2D!: the pair (and a pair! right operand)
// promoted, a number as it is.
Cell* as_points(Cell* left, Cell* right, MathOp op) {
    promote(*left);
    if (right->is(TypeId::pair)) promote(*right);
    return point::math_op(left, right, op);
}

}  // namespace

// --- Shared helpers ---------------------------------------------------------------

void raise_invalid_type(const Cell& value) {
    const Cell type = datatype::of(value.type());
    runtime::raise_error(ErrorCategory::script, "invalid-type", &type);
}

void raise_bad_to_arg(TypeId target, const Cell& value) {
    const Cell type = datatype::of(target);
    runtime::raise_error(ErrorCategory::script, "bad-to-arg", &type, &value);
}

void raise_not_related(const char* action, TypeId t) {
    const Cell fn = word_cell(action);
    const Cell type = datatype::of(t);
    runtime::raise_error(ErrorCategory::script, "not-related", &fn, &type);
}

void raise_money_scale() {
    const Cell type = datatype::of(TypeId::money);
    const Cell fn = word_cell("round");
    runtime::raise_error(ErrorCategory::script, "not-related", &type, &fn);
}

void raise_invalid_path(const Cell& element, const PathStep& step) {
    const Cell e = element;
    const Cell path = step.path != nullptr ? *step.path : e;
    runtime::raise_error(ErrorCategory::script, "invalid-path", &path, &e);
}

std::int32_t coordinate_of_word(const Cell& word) {
    const symbol::SymbolId s = symbol::resolve_alias(word.word_symbol());
    if (s == symbol::resolve_alias(words::id(words::Sym::x))) return 1;
    if (s == symbol::resolve_alias(words::id(words::Sym::y))) return 2;
    if (s == symbol::resolve_alias(words::id(words::Sym::z))) return 3;
    return 0;
}

void load_text(const Cell& spec, TypeId want, Cell& out) {
    const std::string utf8 = string::utf8_of(spec);
    Cell loaded{};
    if (!lexer::scan_first_value(utf8.data(), static_cast<std::int32_t>(utf8.size()), loaded) ||
        !loaded.is(want))
        raise_bad_to_arg(want, spec);
    out = loaded;
}

// --- Cells ---------------------------------------------------------------------------

Cell* make_in(const Cell& blk, std::int32_t x, std::int32_t y) {
    Cell* cell = buffer::append_cell(blk.series_node());
    make_at(*cell, x, y);
    return cell;
}

void promote(Cell& cell) {
    const auto x = static_cast<float>(cell.pair_x());
    const auto y = static_cast<float>(cell.pair_y());
    const bool line = cell.new_line();
    point::make_at(cell, x, y);
    cell.set_new_line(line);
}

Cell* math_op(Cell* left, Cell* right, MathOp op) {
    std::int32_t bx = 0;
    std::int32_t by = 0;
    switch (right->type()) {
    case TypeId::integer:
        bx = by = right->int_value();
        break;
    case TypeId::float_:
    case TypeId::percent: {
        const double f = right->f64();
        if (op == MathOp::divide ? std::isnan(f) : !std::isfinite(f))
            runtime::raise_error(ErrorCategory::script, "invalid-arg", right);
        if (op == MathOp::multiply || op == MathOp::divide) {
            const double x = left->pair_x();
            const double y = left->pair_y();
            const double fx = op == MathOp::multiply ? x * f : x / f;
            const double fy = op == MathOp::multiply ? y * f : y / f;
            point::make_at(*left, static_cast<float>(fx), static_cast<float>(fy));
            return left;
        }
        bx = by = component_of(*right);
        break;
    }
    case TypeId::pair:
        bx = right->pair_x();
        by = right->pair_y();
        break;
    case TypeId::point2d:
        if (op == MathOp::and_ || op == MathOp::or_ || op == MathOp::xor_) {
            const Cell fn = word_cell(op == MathOp::and_ ? "and~" : op == MathOp::or_ ? "or~" : "xor~");
            const Cell point = *right;
            runtime::raise_error(ErrorCategory::script, "cannot-use", &fn, &point);
        }
        promote(*left);
        return point::math_op(left, right, op);
    default:
        raise_invalid_type(*right);
    }
    const auto iop = static_cast<integer::MathOp>(op);
    Cell rx{};
    Cell ry{};
    const std::int32_t x = integer::do_math(left->pair_x(), bx, iop, &rx);
    const std::int32_t y = integer::do_math(left->pair_y(), by, iop, &ry);
    if (!rx.is(TypeId::integer) || !ry.is(TypeId::integer)) return as_points(left, right, op);
    left->set_pair(x, y);
    return left;
}

// --- Handlers ---------------------------------------------------------------------------

namespace {

Cell* to(Cell* proto, Cell* spec, TypeId) {
    std::int32_t x = 0;
    std::int32_t y = 0;
    switch (spec->type()) {
    case TypeId::pair:
        x = spec->pair_x();
        y = spec->pair_y();
        break;
    case TypeId::integer:
    case TypeId::float_:
        x = y = component_of(*spec);
        break;
    case TypeId::point2d: {
        const double px = spec->point_coord(0);
        const double py = spec->point_coord(1);
        if (!std::isfinite(px) || !std::isfinite(py))
            runtime::raise_error(ErrorCategory::script, "invalid-arg", spec);
        x = truncated(px, *spec);
        y = truncated(py, *spec);
        break;
    }
    case TypeId::block: {
        Cell blk = *spec;
        const Cell* c = block::count_from_head(blk) >= 2 ? block::head_cell(blk) : nullptr;
        auto number_q = [](const Cell& v) { return v.is(TypeId::integer) || v.is(TypeId::float_); };
        if (c == nullptr || !number_q(c[0]) || !number_q(c[1]))
            runtime::raise_error(ErrorCategory::syntax, "malconstruct", &blk);
        x = component_of(c[0]);
        y = component_of(c[1]);
        break;
    }
    default:
        if (!is_any_string_type(spec->type())) raise_bad_to_arg(TypeId::pair, *spec);
        load_text(*spec, TypeId::pair, *proto);
        return proto;
    }
    make_at(*proto, x, y);
    return proto;
}

Cell* random(Cell* value, const RandomRefinements& how) {
    if (how.seed) {
        random::seed(static_cast<std::uint32_t>(value->pair_x() ^ value->pair_y()));
        unset::make_at(*value);
        return value;
    }
    const std::int32_t x = value->pair_x();
    const std::int32_t y = value->pair_y();
    const std::int32_t rx = x == 0 ? 0 : random::in_range(how.secure, x);  // x draws first
    const std::int32_t ry = y == 0 ? 0 : random::in_range(how.secure, y);
    value->set_pair(rx, ry);
    return value;
}

std::int32_t form(Cell* value, NodeId out, Cell*, std::int32_t part) {
    return part - text_of(*value, out);
}

std::int32_t mold(Cell* value, NodeId out, MoldOptions, Cell*, std::int32_t part, std::int32_t) {
    return part - text_of(*value, out);
}

Cell* eval_path(Cell* value, Cell* element, Cell* new_value, const PathStep& step) {
    const std::int32_t f = field_of(*element);
    if (f == 0) raise_invalid_path(*element, step);
    if (new_value == nullptr) {
        integer::make_at(path_result, f == 1 ? value->pair_x() : value->pair_y());
        return &path_result;
    }
    if (!new_value->is(TypeId::integer)) raise_invalid_type(*new_value);
    const std::int32_t v = new_value->int_value();
    if (f == 1) value->set_pair(v, value->pair_y());
    else value->set_pair(value->pair_x(), v);
    if (step.owner) ownership::report_cell_change(step.parent, value);
    return new_value;
}

std::int32_t compare(Cell* value1, Cell* value2, CompareOp op) {
    if (value2->is(TypeId::point2d)) {
        Cell left = *value1;
        promote(left);
        return point::compare(&left, value2, op);
    }
    if (!value2->is(TypeId::pair)) return not_comparable;
    const std::int32_t x1 = value1->pair_x();
    const std::int32_t x2 = value2->pair_x();
    if (x1 != x2) return x1 < x2 ? -1 : 1;
    const std::int32_t y1 = value1->pair_y();
    const std::int32_t y2 = value2->pair_y();
    return (y1 > y2) - (y1 < y2);
}

Cell* absolute(Cell* value) {
    value->set_pair(integer::absolute_value(value->pair_x()), integer::absolute_value(value->pair_y()));
    return value;
}

Cell* add(Cell* value1, Cell* value2) { return pair::math_op(value1, value2, MathOp::add); }
Cell* divide(Cell* value1, Cell* value2) { return pair::math_op(value1, value2, MathOp::divide); }
Cell* multiply(Cell* value1, Cell* value2) { return pair::math_op(value1, value2, MathOp::multiply); }

Cell* negate(Cell* value) {
    // two's complement: the most negative component stays as it is
    const auto x = static_cast<std::uint32_t>(value->pair_x());
    const auto y = static_cast<std::uint32_t>(value->pair_y());
    value->set_pair(static_cast<std::int32_t>(0u - x), static_cast<std::int32_t>(0u - y));
    return value;
}

Cell* remainder(Cell* value1, Cell* value2) { return pair::math_op(value1, value2, MathOp::remainder); }

// One component rounded by integer!'s round; a float! answer is truncated.
std::int32_t round_component(std::int32_t v, const Cell* scale, const RoundRefinements& how) {
    Cell n{};
    integer::make_at(n, v);
    RoundRefinements each = how;
    each.scale = scale != nullptr ? const_cast<Cell*>(scale) : nullptr;
    Cell* r = integer::round(&n, each);
    if (r->is(TypeId::integer)) return r->int_value();
    if (r->is(TypeId::float_) || r->is(TypeId::percent) || r->is(TypeId::time))
        return truncated(r->f64(), *r);
    raise_invalid_type(*r);
}

Cell* round(Cell* n, const RoundRefinements& how) {
    const Cell* scale = how.scale;
    if (scale != nullptr && scale->is(TypeId::money)) raise_money_scale();
    Cell sx{};
    Cell sy{};
    const Cell* scale_x = scale;
    const Cell* scale_y = scale;
    if (scale != nullptr && scale->is(TypeId::pair)) {
        integer::make_at(sx, scale->pair_x());
        integer::make_at(sy, scale->pair_y());
        scale_x = &sx;
        scale_y = &sy;
    }
    const std::int32_t x = round_component(n->pair_x(), scale_x, how);
    const std::int32_t y = round_component(n->pair_y(), scale_y, how);
    n->set_pair(x, y);
    return n;
}

Cell* subtract(Cell* value1, Cell* value2) { return pair::math_op(value1, value2, MathOp::subtract); }
Cell* and_(Cell* value1, Cell* value2) { return pair::math_op(value1, value2, MathOp::and_); }
Cell* or_(Cell* value1, Cell* value2) { return pair::math_op(value1, value2, MathOp::or_); }
Cell* xor_(Cell* value1, Cell* value2) { return pair::math_op(value1, value2, MathOp::xor_); }

Cell* pick(Cell* value, Cell* index) {
    std::int32_t f = 0;
    if (word::is_any_word(index->type())) {
        f = coordinate_of_word(*index);
        if (f == 0 || f == 3) {
            const Cell w = *index;
            const Cell v = *value;
            runtime::raise_error(ErrorCategory::script, "cannot-use", &w, &v);
        }
    } else if (index->is(TypeId::integer) && (index->int_value() == 1 || index->int_value() == 2)) {
        f = index->int_value();
    } else {
        runtime::raise_error(ErrorCategory::script, "out-of-range", index);
    }
    integer::make_at(*value, f == 1 ? value->pair_x() : value->pair_y());
    return value;
}

Cell* reverse(Cell* value, Cell*, Cell*) {
    value->set_pair(value->pair_y(), value->pair_x());
    return value;
}

}  // namespace

void init() {
    static constexpr registry::Registration r{
        TypeId::pair, registry::table({
            {Action::make, to},
            {Action::random, random},
            {Action::to, to},
            {Action::form, form},
            {Action::mold, mold},
            {Action::eval_path, eval_path},
            {Action::compare, compare},
            {Action::absolute, absolute},
            {Action::add, add},
            {Action::divide, divide},
            {Action::multiply, multiply},
            {Action::negate, negate},
            {Action::remainder, remainder},
            {Action::round, round},
            {Action::subtract, subtract},
            {Action::and_, and_},
            {Action::or_, or_},
            {Action::xor_, xor_},
            {Action::pick, pick},
            {Action::reverse, reverse},  // ORDER ACTIONS
        })};
    registry::register_type(r);
    float_::set_math_route(TypeId::pair, math_op);
}

}  // namespace kiv::pair
