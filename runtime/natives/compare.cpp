// The comparison, logic, set-operation and sign natives. Comparisons go to the
// compare action of the first argument's type; the set operations check their
// arguments and hand blocks, texts and typesets to their datatype's set
// routine. Types this runtime does not have yet raise expect-arg.
#include "runtime/evaluator/natives.h"

#include "runtime/datatypes/bitset.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/block_actions.h"
#include "runtime/datatypes/datatype.h"
#include "runtime/datatypes/date.h"
#include "runtime/datatypes/float.h"
#include "runtime/datatypes/logic.h"
#include "runtime/datatypes/money.h"
#include "runtime/datatypes/none.h"
#include "runtime/datatypes/pair.h"
#include "runtime/datatypes/point.h"
#include "runtime/datatypes/registry.h"
#include "runtime/datatypes/string_actions.h"
#include "runtime/datatypes/time.h"
#include "runtime/datatypes/tuple.h"
#include "runtime/datatypes/typeset.h"
#include "runtime/datatypes/word.h"
#include "runtime/evaluator/actions.h"
#include "runtime/evaluator/stack.h"
#include "runtime/core/raise.h"

#include <algorithm>
#include <cmath>
#include <cstdint>

namespace kiv::natives {
namespace {

// --- Helpers ------------------------------------------------------------------

void set_logic(bool v) { logic::make_at(*stack::arg(0), v); }

void set_integer(std::int32_t v) {
    Cell* r = stack::arg(0);
    r->reset(TypeId::integer);
    r->set_int(v);
}

bool is_number(TypeId t) {
    return t == TypeId::integer || t == TypeId::float_ || t == TypeId::percent;
}

bool is_float_like(TypeId t) {
    return t == TypeId::float_ || t == TypeId::percent || t == TypeId::time;
}

// --- Comparison and logic -------------------------------------------------------

template <CompareOp op>
void compare_native(bool, const std::int32_t*) {
    set_logic(actions::compare(stack::arg(0), stack::arg(1), op));
}

bool same(const Cell& a, const Cell& b) {
    if (a.type() != b.type()) return false;
    switch (a.type()) {
    case TypeId::datatype:
    case TypeId::logic:
    case TypeId::object:
        return a.payload_word(1) == b.payload_word(1);
    case TypeId::char_:
    case TypeId::integer:
    case TypeId::bitset:
        return a.payload_word(2) == b.payload_word(2);
    case TypeId::block: case TypeId::paren: case TypeId::hash: case TypeId::string:
    case TypeId::file: case TypeId::url: case TypeId::tag: case TypeId::email:
    case TypeId::ref: case TypeId::binary: case TypeId::vector: case TypeId::image:
    case TypeId::path: case TypeId::lit_path: case TypeId::set_path: case TypeId::get_path:
        return a.payload_word(1) == b.payload_word(1) && a.payload_word(2) == b.payload_word(2);
    case TypeId::float_:
    case TypeId::percent:
    case TypeId::pair:
    case TypeId::time:
    case TypeId::op:
        return a.payload_word(2) == b.payload_word(2) && a.payload_word(3) == b.payload_word(3);
    case TypeId::none:
    case TypeId::unset:
        return true;
    case TypeId::native:
    case TypeId::action:
    case TypeId::point2d:
        return a.payload_word(1) == b.payload_word(1) && a.payload_word(2) == b.payload_word(2);
    case TypeId::tuple:
    case TypeId::money: {
        Cell x = a, y = b;  // their own compare decides
        return actions::compare(&x, &y, CompareOp::equal);
    }
    default:
        return a.same_payload(b);
    }
}

void same_q(bool, const std::int32_t*) { set_logic(same(*stack::arg(0), *stack::arg(1))); }

void not_(bool, const std::int32_t*) { set_logic(logic::false_result_q(*stack::arg(0))); }

// type? value /word
void type_q(bool, const std::int32_t* refinements) {
    Cell* r = stack::arg(0);
    const TypeId t = r->type();
    if (used(refinements, refine::type_q::word)) *r = registry::type_name(t).word;
    else datatype::make_at(t, *r);
}

// --- Set operations -----------------------------------------------------------

// The set-operation codes shared with the datatypes' set routines.
enum class SetOp : std::int32_t { unique = 8, union_ = 9, intersect = 10, exclude = 11, difference = 12 };

const char* set_op_name(SetOp op) {
    switch (op) {
    case SetOp::unique: return "unique";
    case SetOp::union_: return "union";
    case SetOp::intersect: return "intersect";
    case SetOp::exclude: return "exclude";
    case SetOp::difference: return "difference";
    }
    return "";
}

float_::MathOp typeset_op(SetOp op) {
    switch (op) {
    case SetOp::unique: return float_::MathOp::unique;
    case SetOp::union_: return float_::MathOp::union_;
    case SetOp::intersect: return float_::MathOp::intersect;
    case SetOp::exclude: return float_::MathOp::exclude;
    case SetOp::difference: return float_::MathOp::difference;
    }
    return float_::MathOp::unique;
}

// set1 set2 /case /skip size (unique: set /case /skip size)
template <SetOp op>
void set_native(bool, const std::int32_t* refinements) {
    const bool unary = op == SetOp::unique;
    Cell* a = stack::arg(0);
    if (!unary) {
        const Cell* b = stack::arg(1);
        const auto kind = [](TypeId t) { return t == TypeId::hash ? TypeId::block : t; };
        if (kind(a->type()) != kind(b->type())) {
            Cell t1, t2;
            datatype::make_at(a->type(), t1);
            datatype::make_at(b->type(), t2);
            runtime::raise_error(ErrorCategory::script, "expect-val", &t1, &t2);
        }
    }
    namespace ref = refine::union_;  // the five set operations share their refinements
    static_assert(ref::case_ == refine::intersect::case_ && ref::skip == refine::intersect::skip &&
                  ref::case_ == refine::unique::case_ && ref::skip == refine::unique::skip &&
                  ref::case_ == refine::difference::case_ && ref::skip == refine::difference::skip &&
                  ref::case_ == refine::exclude::case_ && ref::skip == refine::exclude::skip);
    const bool case_sensitive = used(refinements, ref::case_);
    std::int32_t skip = 1;
    if (used(refinements, ref::skip)) {
        const Cell& size = *stack::arg(refinements[ref::skip]);
        skip = size.is(TypeId::integer) ? size.int_value() : 0;
        if (skip < 1) {
            Cell skip_word;
            word::make_kind_at(TypeId::word, "skip", skip_word);
            runtime::raise_error(ErrorCategory::script, "invalid-refine-arg", &skip_word, &size);
        }
    }
    switch (a->type()) {
    case TypeId::block:
    case TypeId::hash: {
        Cell size;  // the routine checks it too, but after the type test above
        size.reset(TypeId::integer);
        size.set_int(skip);
        block::set_operation(a, unary ? nullptr : stack::arg(1), case_sensitive, &size,
                             static_cast<block::SetOp>(op));
        break;
    }
    case TypeId::string: {
        Cell result;
        string::set_operation(static_cast<string::SetOp>(op), *a,
                                      unary ? nullptr : stack::arg(1), case_sensitive, skip, result);
        *stack::arg(0) = result;
        break;
    }
    case TypeId::typeset:
        *stack::arg(0) = *typeset::math_op(a, stack::arg(1), typeset_op(op));
        break;
    case TypeId::bitset:
        *stack::arg(0) = *bitset::math_op(a, stack::arg(1), typeset_op(op));
        break;
    case TypeId::date:
        if (op != SetOp::difference) expect_arg(set_op_name(op), *a, unary ? "set" : "set1");
        time::make_at(*a, date::difference(*a, *stack::arg(1)));
        break;
    default:
        expect_arg(set_op_name(op), *a, unary ? "set" : "set1");
    }
    stack::keep_first();
}

void complement_q(bool, const std::int32_t*) {
    const Cell* value = stack::arg(0);
    if (!value->is(TypeId::bitset)) expect_arg("complement?", *value, "bitset");
    set_logic(bitset::complemented(memory::buffer(value->series_node())));
}

// --- max and min ------------------------------------------------------------------

// Whether b takes a's place: b is greater for max, lesser for min.
template <bool max, typename T>
bool wins(T a, T b) {
    return max ? b > a : b < a;
}

bool is_scalar(TypeId t) { return t == TypeId::integer || t == TypeId::float_; }

[[noreturn]] void integer_limit() {
    Cell type{};
    datatype::make_at(TypeId::integer, type);
    runtime::raise_error(ErrorCategory::script, "type-limit", &type);
}

// A pair! beside a scalar or a pair: component by component in integers. A
// float with a fraction turns the pair into a point2D! first.
template <bool max>
bool combine_point(Cell& a, const Cell& b);

template <bool max>
bool combine_pair(Cell& a, const Cell& b) {
    std::int32_t bx, by;
    if (b.is(TypeId::pair)) {
        bx = b.pair_x();
        by = b.pair_y();
    } else if (b.is(TypeId::integer)) {
        bx = by = b.int_value();
    } else if (b.is(TypeId::float_)) {
        const double d = b.f64();
        if (!(d > -2147483649.0 && d < 2147483648.0)) integer_limit();
        if (d != std::trunc(d)) {
            pair::promote(a);
            return combine_point<max>(a, b);
        }
        bx = by = static_cast<std::int32_t>(d);
    } else if (b.is(TypeId::point2d)) {
        pair::promote(a);
        return combine_point<max>(a, b);
    } else {
        return false;
    }
    a.set_pair(wins<max>(a.pair_x(), bx) ? bx : a.pair_x(), wins<max>(a.pair_y(), by) ? by : a.pair_y());
    return true;
}

// A point beside a scalar, a pair (point2D! only) or a point of its kind:
// component by component in single precision; a NaN of b always wins.
template <bool max>
bool combine_point(Cell& a, const Cell& b) {
    const int n = point::dimensions(a);
    float c[3];
    if (is_scalar(b.type())) {
        c[0] = c[1] = c[2] = static_cast<float>(b.is(TypeId::integer) ? b.int_value() : b.f64());
    } else if (b.is(TypeId::pair) && n == 2) {
        c[0] = static_cast<float>(b.pair_x());
        c[1] = static_cast<float>(b.pair_y());
    } else if (b.type() == a.type()) {
        for (int i = 0; i < n; ++i) c[i] = b.point_coord(i);
    } else {
        return false;
    }
    for (int i = 0; i < n; ++i)
        if (std::isnan(c[i]) || wins<max>(a.point_coord(i), c[i])) a.set_point_coord(i, c[i]);
    return true;
}

// A tuple! beside a scalar (clamped to 0..255) or a tuple of its length.
template <bool max>
bool combine_tuple(Cell& a, const Cell& b) {
    const std::uint32_t n = a.tuple_length();
    std::uint8_t c[12] = {};
    if (is_scalar(b.type())) {
        const double d = b.is(TypeId::integer) ? b.int_value() : b.f64();
        if (std::isnan(d)) integer_limit();
        std::fill_n(c, n, static_cast<std::uint8_t>(std::clamp(d, 0.0, 255.0)));
    } else if (b.is(TypeId::tuple) && b.tuple_length() == n) {
        std::copy_n(b.tuple_bytes(), n, c);
    } else {
        return false;
    }
    std::uint8_t out[12] = {};
    std::copy_n(a.tuple_bytes(), n, out);
    for (std::uint32_t i = 0; i < n; ++i)
        if (wins<max>(out[i], c[i])) out[i] = c[i];
    a.set_tuple(out, n);
    return true;
}

template <bool max>
void max_min(bool, const std::int32_t*) {
    Cell* v1 = stack::arg(0);
    Cell* v2 = stack::arg(1);
    const auto is_nan_number = [](const Cell& c) {
        return (c.is(TypeId::float_) || c.is(TypeId::percent)) && std::isnan(c.f64());
    };
    if (is_nan_number(*v1) && is_number(v2->type())) return;  // NaN wins
    if (is_nan_number(*v2) && is_number(v1->type())) {
        *v1 = *v2;
        return;
    }
    // pairs, points and tuples combine component by component, the scalar second
    const auto composite = [](TypeId t) {
        return t == TypeId::pair || t == TypeId::point2d || t == TypeId::point3d || t == TypeId::tuple;
    };
    if (is_scalar(v1->type()) && composite(v2->type())) std::swap(*v1, *v2);
    switch (v1->type()) {
    case TypeId::pair:
        if (combine_pair<max>(*v1, *v2)) return;
        break;
    case TypeId::point2d: case TypeId::point3d:
        if (combine_point<max>(*v1, *v2)) return;
        break;
    case TypeId::tuple:
        if (combine_tuple<max>(*v1, *v2)) return;
        break;
    default: break;
    }
    const bool lesser = actions::compare(v1, v2, CompareOp::lesser);
    if (lesser == max) *v1 = *v2;  // a tie keeps value1 for max, value2 for min
}

// --- Signs ---------------------------------------------------------------------------

// -1, 0 or 1 for a number, time!, percent! or money!; expect-arg for anything else.
std::int32_t sign_of(const char* fn, const Cell& v) {
    if (v.is(TypeId::integer)) return (v.int_value() > 0) - (v.int_value() < 0);
    if (is_float_like(v.type())) {
        const double d = v.f64();
        return (d > 0.0) - (d < 0.0);  // NaN: 0
    }
    if (v.is(TypeId::money)) return money::sign_of(v);
    expect_arg(fn, v, "number");
}

void negative_q(bool, const std::int32_t*) { set_logic(sign_of("negative?", *stack::arg(0)) < 0); }
void positive_q(bool, const std::int32_t*) { set_logic(sign_of("positive?", *stack::arg(0)) > 0); }
void sign_q(bool, const std::int32_t*) { set_integer(sign_of("sign?", *stack::arg(0))); }

void zero_q(bool, const std::int32_t*) {
    const Cell& v = *stack::arg(0);
    bool zero = false;
    switch (v.type()) {
    case TypeId::char_:
    case TypeId::integer: zero = v.int_value() == 0; break;
    case TypeId::float_:
    case TypeId::percent:
    case TypeId::time: zero = v.f64() == 0.0; break;
    case TypeId::pair: zero = v.pair_x() == 0 && v.pair_y() == 0; break;
    case TypeId::money: zero = money::sign_of(v) == 0; break;
    case TypeId::tuple: zero = tuple::zero_q(v); break;
    default: break;  // any other value is simply not zero
    }
    set_logic(zero);
}

}  // namespace

void register_compare() {
    set(Native::equal_q, compare_native<CompareOp::equal>);
    set(Native::not_equal_q, compare_native<CompareOp::not_equal>);
    set(Native::strict_equal_q, compare_native<CompareOp::strict_equal>);
    set(Native::lesser_q, compare_native<CompareOp::lesser>);
    set(Native::greater_q, compare_native<CompareOp::greater>);
    set(Native::lesser_or_equal_q, compare_native<CompareOp::lesser_or_equal>);
    set(Native::greater_or_equal_q, compare_native<CompareOp::greater_or_equal>);
    set(Native::same_q, same_q);
    set(Native::not_, not_);
    set(Native::type_q, type_q);
    set(Native::union_, set_native<SetOp::union_>);
    set(Native::intersect, set_native<SetOp::intersect>);
    set(Native::unique, set_native<SetOp::unique>);
    set(Native::difference, set_native<SetOp::difference>);
    set(Native::exclude, set_native<SetOp::exclude>);
    set(Native::complement_q, complement_q);
    set(Native::negative_q, negative_q);
    set(Native::positive_q, positive_q);
    set(Native::max, max_min<true>);
    set(Native::min, max_min<false>);
    set(Native::sign_q, sign_q);
    set(Native::zero_q, zero_q);
}

}  // namespace kiv::natives
