// point2D! and point3D!: every coordinate goes through float!'s raw operation
// in float64 and is stored back as float32. The two types differ only in
// their count of coordinates and in what they accept from each other.
#include "runtime/datatypes/ownership.h"
#include "runtime/datatypes/point.h"

#include "runtime/datatypes/block.h"
#include "runtime/datatypes/hashtable.h"
#include "runtime/datatypes/integer.h"
#include "runtime/datatypes/pair.h"
#include "runtime/datatypes/string.h"
#include "runtime/datatypes/unset.h"
#include "runtime/datatypes/word.h"
#include "runtime/core/random.h"
#include "runtime/core/raise.h"

#include <bit>
#include <cmath>
#include <cstring>
#include <string>

namespace kiv::point {

namespace {

using float_::MathOp;

// The cell a path get hands back: a scalar the caller copies at once.
Cell path_result{};

float as_float32(double d) { return static_cast<float>(d); }

// The coordinate of an integer! or float! (rounded to float32).
float coordinate_of(const Cell& n) {
    return n.is(TypeId::integer) ? static_cast<float>(n.int_value()) : as_float32(n.f64());
}

bool number_q(const Cell& v) { return v.is(TypeId::integer) || v.is(TypeId::float_); }

// Coordinate number (1-n) of a path or pick element, or 0.
int field_of(const Cell& element, int n) {
    if (element.is(TypeId::integer)) {
        const std::int32_t i = element.int_value();
        return i >= 1 && i <= n ? i : 0;
    }
    if (word::is_any_word(element.type())) {
        const std::int32_t c = pair::coordinate_of_word(element);
        return c <= n ? c : 0;
    }
    return 0;
}

std::int32_t text_of(const Cell& v, NodeId out) {
    std::string t = "(";
    for (int i = 0; i < dimensions(v); ++i) {
        if (i > 0) t += ", ";
        t += float_::to_text(v.point_coord(i), float_::TextKind::coordinate);
    }
    t += ')';
    string::append_nul_text(out, t.c_str());
    return static_cast<std::int32_t>(t.size());
}

}  // namespace

Cell* math_op(Cell* left, Cell* right, MathOp op) {
    const int n = dimensions(*left);
    double operand[3] = {0.0, 0.0, 0.0};
    switch (right->type()) {
    case TypeId::integer:
    case TypeId::float_:
    case TypeId::percent: {
        const double b = right->is(TypeId::integer) ? static_cast<float>(right->int_value())
                                                    : as_float32(right->f64());
        operand[0] = operand[1] = operand[2] = b;
        break;
    }
    case TypeId::pair:
        if (n == 3) pair::raise_invalid_type(*right);
        operand[0] = static_cast<float>(right->pair_x());
        operand[1] = static_cast<float>(right->pair_y());
        break;
    case TypeId::point2d:
    case TypeId::point3d:
        if (right->type() != left->type()) pair::raise_invalid_type(*right);
        for (int i = 0; i < n; ++i) operand[i] = right->point_coord(i);
        break;
    default:
        pair::raise_invalid_type(*right);
    }
    float r[3] = {0.0f, 0.0f, 0.0f};
    for (int i = 0; i < n; ++i) r[i] = as_float32(float_::apply_op(left->point_coord(i), operand[i], op));
    for (int i = 0; i < n; ++i) left->set_point_coord(i, r[i]);
    return left;
}

std::int32_t compare(Cell* value1, Cell* value2, CompareOp op) {
    Cell right = *value2;
    if (value1->is(TypeId::point2d) && right.is(TypeId::pair)) pair::promote(right);
    if (right.type() != value1->type()) return not_comparable;
    const int n = dimensions(*value1);
    switch (op) {
    case CompareOp::equal:
    case CompareOp::not_equal:
        for (int i = 0; i < n; ++i)
            if (!float_::near_equal_float32(value1->point_coord(i), right.point_coord(i))) return 1;
        return 0;
    case CompareOp::strict_equal:
        for (int i = 0; i < n; ++i)
            if (value1->point_coord(i) != right.point_coord(i)) return 1;
        return 0;
    case CompareOp::same:
        for (int i = 0; i < n; ++i)
            if (std::bit_cast<std::uint32_t>(value1->point_coord(i)) !=
                std::bit_cast<std::uint32_t>(right.point_coord(i)))
                return 1;
        return 0;
    default: {
        float d = 0.0f;
        for (int i = 0; i < n; ++i) {
            d = value1->point_coord(i) - right.point_coord(i);
            if (!float_::near_equal_float32(d, 0.0f)) break;
        }
        return d < 0.0f ? -1 : d > 0.0f ? 1 : 0;
    }
    }
}

namespace {

Cell* to(Cell* proto, Cell* spec, TypeId type) {
    const int n = type == TypeId::point3d ? 3 : 2;
    float c[3] = {0.0f, 0.0f, 0.0f};
    switch (spec->type()) {
    case TypeId::block: {
        Cell blk = *spec;
        const Cell* items = block::count_from_head(blk) >= n ? block::head_cell(blk) : nullptr;
        for (int i = 0; i < n; ++i)
            if (items == nullptr || !number_q(items[i]))
                runtime::raise_error(ErrorCategory::syntax, "malconstruct", &blk);
        for (int i = 0; i < n; ++i) c[i] = coordinate_of(items[i]);
        break;
    }
    case TypeId::integer:
    case TypeId::float_:
        c[0] = c[1] = c[2] = coordinate_of(*spec);
        break;
    case TypeId::pair:
        c[0] = static_cast<float>(spec->pair_x());
        c[1] = static_cast<float>(spec->pair_y());
        break;
    case TypeId::point2d:
        c[0] = spec->point_coord(0);
        c[1] = spec->point_coord(1);
        break;
    case TypeId::point3d:
        if (n == 2) pair::raise_bad_to_arg(type, *spec);
        for (int i = 0; i < 3; ++i) c[i] = spec->point_coord(i);
        break;
    default:
        if (!is_any_string_type(spec->type())) pair::raise_bad_to_arg(type, *spec);
        pair::load_text(*spec, type, *proto);
        return proto;
    }
    if (n == 2) make_at(*proto, c[0], c[1]);
    else make_at(*proto, c[0], c[1], c[2]);
    return proto;
}

Cell* random(Cell* value, const RandomRefinements& how) {
    const int n = dimensions(*value);
    if (how.seed) {
        float c[3];
        for (int i = 0; i < n; ++i) c[i] = value->point_coord(i);
        random::seed(hashtable::murmur3_bytes(c, static_cast<std::size_t>(n) * sizeof(float)));
        unset::make_at(*value);
        return value;
    }
    for (int i = 0; i < n; ++i) {
        const float v = value->point_coord(i);
        if (v == 0.0f) continue;
        Cell f{};
        float_::make_at(f, v);
        float_::random(&f, RandomRefinements{.seed = false, .secure = how.secure, .only = false});
        value->set_point_coord(i, as_float32(f.f64()));
    }
    return value;
}

std::int32_t form(Cell* value, NodeId out, Cell*, std::int32_t part) {
    return part - text_of(*value, out);
}

std::int32_t mold(Cell* value, NodeId out, MoldOptions, Cell*, std::int32_t part, std::int32_t) {
    return part - text_of(*value, out);
}

Cell* eval_path(Cell* value, Cell* element, Cell* new_value, const PathStep& step) {
    const int f = field_of(*element, dimensions(*value));
    if (f == 0) pair::raise_invalid_path(*element, step);
    if (new_value == nullptr) {
        float_::make_at(path_result, value->point_coord(f - 1));
        return &path_result;
    }
    if (!number_q(*new_value)) pair::raise_invalid_type(*new_value);
    value->set_point_coord(f - 1, coordinate_of(*new_value));
    if (step.owner) ownership::report_cell_change(step.parent, value);
    return new_value;
}

Cell* absolute(Cell* value) {
    for (int i = 0; i < dimensions(*value); ++i)
        value->set_point_coord(i, std::fabs(value->point_coord(i)));
    return value;
}

Cell* add(Cell* value1, Cell* value2) { return point::math_op(value1, value2, MathOp::add); }
Cell* divide(Cell* value1, Cell* value2) { return point::math_op(value1, value2, MathOp::divide); }
Cell* multiply(Cell* value1, Cell* value2) { return point::math_op(value1, value2, MathOp::multiply); }

Cell* negate(Cell* value) {
    for (int i = 0; i < dimensions(*value); ++i)
        value->set_point_coord(i, 0.0f - value->point_coord(i));
    return value;
}

Cell* remainder(Cell* value1, Cell* value2) { return point::math_op(value1, value2, MathOp::remainder); }

// A scale of 0.0 for a coordinate the scale has no part for: float!'s round
// leaves the value as it is.
Cell* round(Cell* n, const RoundRefinements& how) {
    const Cell* scale = how.scale;
    if (scale != nullptr && scale->is(TypeId::money)) pair::raise_money_scale();
    const int dims = dimensions(*n);
    Cell per[3]{};
    const Cell* scales[3] = {scale, scale, scale};
    if (scale != nullptr && (scale->is(TypeId::point2d) || scale->is(TypeId::point3d))) {
        for (int i = 0; i < dims; ++i) {
            float_::make_at(per[i], i < dimensions(*scale) ? scale->point_coord(i) : 0.0);
            scales[i] = &per[i];
        }
    } else if (scale != nullptr && scale->is(TypeId::pair)) {
        integer::make_at(per[0], scale->pair_x());
        integer::make_at(per[1], scale->pair_y());
        float_::make_at(per[2], 0.0);
        for (int i = 0; i < dims; ++i) scales[i] = &per[i];
    }
    float r[3] = {0.0f, 0.0f, 0.0f};
    for (int i = 0; i < dims; ++i) {
        Cell c{};
        float_::make_at(c, n->point_coord(i));
        RoundRefinements each = how;
        each.scale = const_cast<Cell*>(scales[i]);
        const Cell* out = float_::round(&c, each);
        r[i] = out->is(TypeId::integer) ? static_cast<float>(out->int_value()) : as_float32(out->f64());
    }
    for (int i = 0; i < dims; ++i) n->set_point_coord(i, r[i]);
    return n;
}

Cell* subtract(Cell* value1, Cell* value2) { return point::math_op(value1, value2, MathOp::subtract); }

Cell* pick(Cell* value, Cell* index) {
    const int n = dimensions(*value);
    int f = 0;
    if (word::is_any_word(index->type())) {
        f = field_of(*index, n);
        if (f == 0) {
            const Cell w = *index;
            const Cell v = *value;
            runtime::raise_error(ErrorCategory::script, "cannot-use", &w, &v);
        }
    } else {
        f = field_of(*index, n);
        if (f == 0) runtime::raise_error(ErrorCategory::script, "out-of-range", index);
    }
    float_::make_at(*value, value->point_coord(f - 1));
    return value;
}

Cell* reverse(Cell* value, Cell*, Cell*) {
    const int last = dimensions(*value) - 1;
    const float x = value->point_coord(0);
    value->set_point_coord(0, value->point_coord(last));
    value->set_point_coord(last, x);
    return value;
}

constexpr registry::ActionTable actions = registry::table({
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
    {Action::pick, pick},
    {Action::reverse, reverse},  // ORDER ACTIONS
});

}  // namespace

void init() {
    registry::register_type(registry::Registration{TypeId::point2d, actions});
    registry::register_type(registry::Registration{TypeId::point3d, actions});
    float_::set_math_route(TypeId::point2d, math_op);
    float_::set_math_route(TypeId::point3d, math_op);
}

}  // namespace kiv::point
