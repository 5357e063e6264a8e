// vector!: construction from specs, text forms, comparison, insertion and
// element-wise maths over packed elements. Every writer checks and encodes
// its new elements before the buffer changes, so an error leaves the vector
// as it was. The position actions are series!'s (they move units, never read
// them); the ones that read or write elements are here.
#include "runtime/datatypes/vector.h"

#include "runtime/core/buffer.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/char.h"
#include "runtime/datatypes/datatype.h"
#include "runtime/datatypes/integer.h"
#include "runtime/datatypes/none.h"
#include "runtime/datatypes/ownership.h"
#include "runtime/datatypes/series.h"
#include "runtime/datatypes/string.h"
#include "runtime/datatypes/string_actions.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/datatypes/word.h"
#include "runtime/datatypes/words.h"
#include "runtime/core/random.h"
#include "runtime/core/raise.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <numeric>
#include <vector>

namespace kiv::vector {

namespace {

using float_::MathOp;

// --- Buffer access --------------------------------------------------------------

std::uint32_t width_of(const Cell& v) { return memory::buffer(v.series_node())->unit(); }

std::int32_t units(const Cell& v) {
    const SeriesBuffer* b = memory::buffer(v.series_node());
    return b->used_bytes() / static_cast<std::int32_t>(b->unit());
}

std::int32_t head_of(const Cell& v) { return std::clamp(v.series_head(), 0, units(v)); }

std::uint8_t* element_at(const Cell& v, std::int32_t index) {
    SeriesBuffer* b = memory::buffer(v.series_node());
    return b->head + static_cast<std::ptrdiff_t>(index) * b->unit();
}

bool float_kind(TypeId element) { return element == TypeId::float_ || element == TypeId::percent; }

// --- Raw elements (little-endian, as the host stores them) -------------------------

std::int32_t read_int(const std::uint8_t* p, std::uint32_t width) {
    switch (width) {
    case 1: return static_cast<std::int8_t>(p[0]);
    case 2: { std::int16_t v; std::memcpy(&v, p, 2); return v; }
    default: { std::int32_t v; std::memcpy(&v, p, 4); return v; }
    }
}

std::uint32_t read_code_point(const std::uint8_t* p, std::uint32_t width) {
    std::uint32_t cp = 0;
    std::memcpy(&cp, p, width);  // the low bytes: read unsigned
    return cp > 0x10FFFF ? 0xFFFD : cp;
}

double read_float(const std::uint8_t* p, std::uint32_t width) {
    if (width == 4) {
        float f;
        std::memcpy(&f, p, 4);
        return f;
    }
    double d;
    std::memcpy(&d, p, 8);
    return d;
}

void write_int(std::uint8_t* p, std::uint32_t width, std::int32_t v) {
    const auto u = static_cast<std::uint32_t>(v);
    std::memcpy(p, &u, width);  // the low bytes: truncated to the width
}

void write_float(std::uint8_t* p, std::uint32_t width, double v) {
    if (width == 4) {
        const auto f = static_cast<float>(v);
        std::memcpy(p, &f, 4);
    } else {
        std::memcpy(p, &v, 8);
    }
}

// The element as a double, for comparing and searching.
double read_number(const std::uint8_t* p, TypeId element, std::uint32_t width) {
    if (float_kind(element)) return read_float(p, width);
    if (element == TypeId::char_) return read_code_point(p, width);
    return read_int(p, width);
}

// --- Errors ---------------------------------------------------------------------

[[noreturn]] void invalid_arg(const Cell& value) {
    runtime::raise_error(ErrorCategory::script, "invalid-arg", &value);
}
[[noreturn]] void invalid_type(TypeId t) {
    const Cell type = datatype::of(t);
    runtime::raise_error(ErrorCategory::script, "invalid-type", &type);
}
[[noreturn]] void invalid_spec_field(const Cell& spec) {
    runtime::raise_error(ErrorCategory::script, "invalid-spec-field", &spec);
}
[[noreturn]] void not_same_type() { runtime::raise_error(ErrorCategory::script, "not-same-type"); }
[[noreturn]] void no_memory() { runtime::raise_error(ErrorCategory::internal, "no-memory"); }
[[noreturn]] void not_done() { runtime::raise_error(ErrorCategory::internal, "not-done"); }

// A count of elements that must fit the position arithmetic of the buffer.
std::int32_t checked_count(std::int64_t count, std::uint32_t width) {
    if (count < 0 || count * width > INT32_MAX) no_memory();
    return static_cast<std::int32_t>(count);
}

bool notify(const Cell& v, const Cell& action, const Cell* value, std::int32_t index,
            std::int32_t part) {
    if ((memory::buffer(v.series_node())->flags & memory::flag_owned) == 0) return false;
    return ownership::check_owner(v, action, value, index, part);
}

bool is_values_block(TypeId t) { return t == TypeId::block || t == TypeId::paren || t == TypeId::hash; }

// --- Encoding new elements ------------------------------------------------------------

// The raw bytes of the items a writer adds: the values of a block, paren or
// hash! (at most limit of them, limit < 0 for all) or one value.
struct Encoded {
    std::vector<std::uint8_t> bytes;
    std::int32_t count = 0;
};

void encode_one(Encoded& e, const Cell& value, TypeId element, std::uint32_t width) {
    const std::size_t at = e.bytes.size();
    e.bytes.resize(at + width);
    store_element(e.bytes.data() + at, value, element, width);
    ++e.count;
}

// paths: change also splices the values of a path.
Encoded encode_items(const Cell& value, std::int32_t limit, TypeId element, std::uint32_t width,
                     bool paths) {
    Encoded e;
    if (is_values_block(value.type()) || (paths && is_any_block_type(value.type()))) {
        Cell blk = value;
        const std::int32_t h = std::max(blk.series_head(), 0);
        std::int32_t n = block::count_from_head(blk);
        if (limit >= 0) n = std::min(n, limit);
        e.bytes.reserve(static_cast<std::size_t>(n) * width);
        for (std::int32_t i = 0; i < n; ++i) encode_one(e, *block::get_cell(blk, h + i), element, width);
    } else {
        encode_one(e, value, element, width);
    }
    return e;
}

// Opens (grows > 0) or closes (grows < 0) room at element index at of v, moving
// the elements after at + keep; the tail follows.
void resize_at(const Cell& v, std::int32_t at, std::int32_t keep, std::int64_t grows) {
    const std::uint32_t width = width_of(v);
    const std::int32_t len = units(v);
    const std::int32_t moved = len - at - keep;
    if (grows > 0) {
        buffer::grow_tail(v.series_node(), static_cast<std::int32_t>(grows * width));
        std::uint8_t* p = element_at(v, at + keep);
        std::memmove(p + grows * width, p, static_cast<std::size_t>(moved) * width);
    } else if (grows < 0) {
        std::uint8_t* p = element_at(v, at + keep);
        std::memmove(p + grows * width, p, static_cast<std::size_t>(moved) * width);
        memory::buffer(v.series_node())->tail += grows * static_cast<std::int64_t>(width);
    }
}

// Writes count copies of the encoded run at element index at.
void write_runs(const Cell& v, std::int32_t at, const Encoded& e, std::int32_t count) {
    if (e.bytes.empty()) return;  // an empty run has no bytes, not even an address
    std::uint8_t* p = element_at(v, at);
    for (std::int32_t i = 0; i < count; ++i, p += e.bytes.size())
        std::memcpy(p, e.bytes.data(), e.bytes.size());
}

// --- Text ---------------------------------------------------------------------------

std::int32_t append_text(NodeId out, const char* text) {
    string::append_nul_text(out, text);
    return static_cast<std::int32_t>(std::strlen(text));
}

// Appends the text of one element; returns the characters appended.
std::int32_t element_text(const std::uint8_t* p, TypeId element, std::uint32_t width, NodeId out,
                          bool molded) {
    switch (element) {
    case TypeId::char_: {
        const std::uint32_t cp = read_code_point(p, width);
        if (!molded) {
            string::append_char(out, cp);
            return 1;
        }
        string::append_nul_text(out, "#\"");
        const std::int32_t n = char_::append_escaped(out, cp, false);
        string::append_char(out, '"');
        return n + 3;
    }
    case TypeId::float_:
        return append_text(out, float_::to_text(read_float(p, width),
                                                width == 4 ? float_::TextKind::float32 : float_::TextKind::float64));
    case TypeId::percent:
        return append_text(out, width == 4
            ? float_::to_text(static_cast<double>(static_cast<float>(read_float(p, width)) * 100.0f),
                              float_::TextKind::float32_percent)
            : float_::to_text(read_float(p, width) * 100.0, float_::TextKind::percent));
    default:
        return append_text(out, integer::to_decimal(read_int(p, width)));
    }
}

// Appends the elements from the head separated by blanks, while the budget
// lasts (limited: a /part was given); returns the budget left.
std::int32_t elements_text(const Cell& v, NodeId out, bool molded, bool limited, std::int32_t part) {
    const TypeId element = element_type(v);
    const std::uint32_t width = width_of(v);
    const std::int32_t h = head_of(v);
    const std::int32_t len = units(v);
    for (std::int32_t i = h; i < len; ++i) {
        if (limited && part < 1) break;
        if (i > h) part -= append_text(out, " ");
        std::uint8_t raw[8];
        std::memcpy(raw, element_at(v, i), width);  // appending may move nothing here, but stay safe
        part -= element_text(raw, element, width, out, molded);
    }
    return part;
}

const char* type_name(TypeId element) {
    switch (element) {
    case TypeId::char_: return "char!";
    case TypeId::float_: return "float!";
    case TypeId::percent: return "percent!";
    default: return "integer!";
    }
}

// --- Make -----------------------------------------------------------------------------

// The element type a spec word names (any letter case), or no_type.
TypeId named_type(const Cell& word) {
    const symbol::SymbolId s = symbol::resolve_alias(word.word_symbol());
    const struct { words::Sym name; TypeId type; } names[] = {
        {words::Sym::integer_type, TypeId::integer}, {words::Sym::char_type, TypeId::char_},
        {words::Sym::float_type, TypeId::float_},    {words::Sym::percent_type, TypeId::percent},
    };
    for (const auto& n : names)
        if (symbol::resolve_alias(words::id(n.name)) == s) return n.type;
    return TypeId::no_type;
}

// Makes into made a vector of count elements (0 past the values given), the
// values taken from n cells of blk from index from; each must be of the type.
void build(Cell& made, std::int64_t count, TypeId element, std::uint32_t width, const Cell* blk,
           std::int32_t from, std::int32_t n) {
    const std::int32_t c = checked_count(std::max<std::int64_t>(count, 0), width);
    make_at(made, c, element, width);
    SeriesBuffer* b = memory::buffer(made.series_node());
    std::memset(b->head, 0, static_cast<std::size_t>(c) * width);
    b->tail = b->head + static_cast<std::ptrdiff_t>(c) * width;
    if (blk == nullptr) return;
    Cell values = *blk;
    for (std::int32_t i = 0; i < n && i < c; ++i) {
        const Cell value = *block::get_cell(values, from + i);
        if (!value.is(element)) invalid_arg(value);
        store_element(element_at(made, i), value, element, width);
    }
}

}  // namespace

// --- Public routines --------------------------------------------------------------------

std::uint32_t default_width(TypeId element) { return float_kind(element) ? 8 : 4; }

void make_at(Cell& cell, std::int32_t count, TypeId element, std::uint32_t width) {
    const std::int32_t c = checked_count(count, width);
    const NodeId node = memory::alloc_series(std::max(c, 1), width, 0);
    cell.reset(TypeId::vector);
    cell.set_series_node(node);
    cell.set_series_head(0);
    cell.set_series_extra(static_cast<std::uint32_t>(element));
}

std::int32_t length_from_head(const Cell& v) { return units(v) - head_of(v); }

Cell read_element(const std::uint8_t* p, TypeId element, std::uint32_t width) {
    Cell c{};
    switch (element) {
    case TypeId::char_: c.reset(TypeId::char_); c.set_char(read_code_point(p, width)); break;
    case TypeId::float_: c.reset(TypeId::float_); c.set_f64(read_float(p, width)); break;
    case TypeId::percent: c.reset(TypeId::percent); c.set_f64(read_float(p, width)); break;
    default: c.reset(TypeId::integer); c.set_int(read_int(p, width)); break;
    }
    return c;
}

void store_element(std::uint8_t* p, const Cell& value, TypeId element, std::uint32_t width) {
    const TypeId t = value.type();
    const bool int_value = t == TypeId::integer || t == TypeId::char_;
    const bool float_value = t == TypeId::float_ || t == TypeId::percent;
    if (!int_value && !float_value) invalid_type(t);
    if (float_kind(element) != float_value) invalid_arg(value);
    if (float_value) write_float(p, width, value.f64());
    else write_int(p, width, t == TypeId::char_ ? static_cast<std::int32_t>(value.char_value()) : value.int_value());
}

void to_block(const Cell& v, const Cell& blk) {
    const TypeId element = element_type(v);
    const std::uint32_t width = width_of(v);
    const std::int32_t len = units(v);
    for (std::int32_t i = head_of(v); i < len; ++i) {
        const Cell e = read_element(element_at(v, i), element, width);  // before the append moves anything
        block::append_copy(blk, e);
    }
}

namespace {

// --- Maths ---------------------------------------------------------------------------

// Integer element maths: add, subtract and multiply wrap at 32 bits; a
// division truncates; zero divisors and -2147483648 / -1 raise math errors.
std::int32_t int_op(std::int32_t a, std::int32_t b, MathOp op) {
    switch (op) {
    case MathOp::add: return static_cast<std::int32_t>(static_cast<std::uint32_t>(a) + static_cast<std::uint32_t>(b));
    case MathOp::subtract: return static_cast<std::int32_t>(static_cast<std::uint32_t>(a) - static_cast<std::uint32_t>(b));
    case MathOp::multiply: return static_cast<std::int32_t>(static_cast<std::uint32_t>(a) * static_cast<std::uint32_t>(b));
    case MathOp::divide: case MathOp::remainder: case MathOp::or_: case MathOp::and_: case MathOp::xor_:
        return integer::do_math(a, b, static_cast<integer::MathOp>(op), nullptr);
    default:
        not_done();
    }
}

// The arithmetic codes only: the set operations never reach vectors.
void check_op(MathOp op, bool floats) {
    if (op > MathOp::xor_) not_done();
    if (floats && op >= MathOp::or_) float_::apply_op(0.0, 1.0, op);  // raises cannot-use
}

// r[i] = a[i] op b[i] over n float64 elements: the loop the benchmarks time.
void float64_kernel(const std::uint8_t* a, const std::uint8_t* b, std::uint8_t* r, std::int32_t n, MathOp op) {
    auto run = [&](auto f) {
        for (std::int32_t i = 0; i < n; ++i) {
            double x, y;
            std::memcpy(&x, a + 8 * i, 8);
            std::memcpy(&y, b + 8 * i, 8);
            const double z = f(x, y);
            std::memcpy(r + 8 * i, &z, 8);
        }
    };
    switch (op) {
    case MathOp::add: run([](double x, double y) { return x + y; }); break;
    case MathOp::subtract: run([](double x, double y) { return x - y; }); break;
    case MathOp::multiply: run([](double x, double y) { return x * y; }); break;
    case MathOp::divide: run([](double x, double y) { return x / y; }); break;
    default: run([op](double x, double y) { return float_::apply_op(x, y, op); }); break;
    }
}

Cell* vector_op(Cell* value1, const Cell& other, MathOp op) {
    const Cell a = *value1;
    const TypeId element = element_type(a);
    if (element_type(other) != element) not_same_type();
    check_op(op, float_kind(element));
    const std::uint32_t wa = width_of(a), wb = width_of(other);
    const std::uint32_t width = std::max(wa, wb);
    const std::int32_t ha = head_of(a), hb = head_of(other);
    const std::int32_t n = std::min(units(a) - ha, units(other) - hb);
    Cell result{};
    make_at(result, n, element, width);
    SeriesBuffer* rb = memory::buffer(result.series_node());
    rb->tail = rb->head + static_cast<std::ptrdiff_t>(n) * width;
    const std::uint8_t* pa = element_at(a, ha);
    const std::uint8_t* pb = element_at(other, hb);
    std::uint8_t* pr = rb->head;
    if (float_kind(element) && wa == 8 && wb == 8) {
        float64_kernel(pa, pb, pr, n, op);
    } else if (float_kind(element)) {
        for (std::int32_t i = 0; i < n; ++i)
            write_float(pr + i * width, width, float_::apply_op(read_float(pa + i * wa, wa), read_float(pb + i * wb, wb), op));
    } else {
        for (std::int32_t i = 0; i < n; ++i)
            write_int(pr + i * width, width, int_op(read_int(pa + i * wa, wa), read_int(pb + i * wb, wb), op));
    }
    *value1 = result;
    return value1;
}

Cell* math(Cell* value1, Cell* value2, MathOp op) {
    if (value2->is(TypeId::vector)) return vector_op(value1, *value2, op);
    return math_op_scalar(op, value1, *value2, false);
}

// float! and integer! maths hand a vector right operand here: n op v.
Cell* route(Cell* left, Cell* right, MathOp op) {
    math_op_scalar(op, right, *left, true);
    *left = *right;
    return left;
}

}  // namespace

Cell* math_op_scalar(MathOp op, Cell* vector, const Cell& scalar, bool scalar_first) {
    const Cell v = *vector;
    const TypeId element = element_type(v);
    const std::uint32_t width = width_of(v);
    const TypeId st = scalar.type();
    check_op(op, float_kind(element));
    const std::int32_t h = head_of(v);
    const std::int32_t len = units(v);
    if (float_kind(element)) {
        double s = 0;
        if (st == TypeId::integer) s = scalar.int_value();
        else if (st == TypeId::float_ || st == TypeId::percent) s = scalar.f64();
        else not_done();
        const bool identity = ((op == MathOp::add || (op == MathOp::subtract && !scalar_first)) && s == 0) ||
                              ((op == MathOp::multiply || (op == MathOp::divide && !scalar_first)) && s == 1);
        if (identity) return vector;
        for (std::int32_t i = h; i < len; ++i) {
            std::uint8_t* p = element_at(v, i);
            const double x = read_float(p, width);
            write_float(p, width, scalar_first ? float_::apply_op(s, x, op) : float_::apply_op(x, s, op));
        }
        return vector;
    }
    std::int32_t s = 0;
    if (st == TypeId::integer) {
        s = scalar.int_value();
    } else if (st == TypeId::char_) {
        s = static_cast<std::int32_t>(scalar.char_value());
    } else if (st == TypeId::float_ || st == TypeId::percent) {
        Cell f = scalar;
        f.set_type(TypeId::float_);
        s = integer::from_number(f);  // toward zero; out of range raises
    } else {
        not_done();
    }
    const bool identity = ((op == MathOp::add || (op == MathOp::subtract && !scalar_first)) && s == 0) ||
                          ((op == MathOp::multiply || (op == MathOp::divide && !scalar_first)) && s == 1);
    if (identity) return vector;
    if (!scalar_first && s == 0 && (op == MathOp::divide || op == MathOp::remainder))
        runtime::raise_error(ErrorCategory::math, "zero-divide");
    for (std::int32_t i = h; i < len; ++i) {
        std::uint8_t* p = element_at(v, i);
        const std::int32_t x = read_int(p, width);
        write_int(p, width, scalar_first ? int_op(s, x, op) : int_op(x, s, op));
    }
    return vector;
}

namespace {

// --- Handlers, in action order ------------------------------------------------------------

Cell* make(Cell* proto, Cell* spec, TypeId) {
    const Cell s = *spec;
    Cell made{};
    if (s.is(TypeId::integer) || s.is(TypeId::float_)) {
        build(made, integer::from_number(s), TypeId::integer, 4, nullptr, 0, 0);
    } else if (s.is(TypeId::block)) {
        Cell blk = s;
        const std::int32_t h = std::max(blk.series_head(), 0);
        const std::int32_t n = block::count_from_head(blk);
        auto value = [&](std::int32_t i) { return *block::get_cell(blk, h + i); };
        if (n == 0) {
            build(made, 0, TypeId::integer, 4, nullptr, 0, 0);
        } else if (!value(0).is(TypeId::word)) {
            const TypeId element = value(0).type();
            if (element != TypeId::char_ && element != TypeId::integer && element != TypeId::float_ &&
                element != TypeId::percent)
                invalid_type(element);
            build(made, n, element, default_width(element), &blk, h, n);
        } else {
            if (n < 2) datatype::raise_bad_make_arg(TypeId::vector, s);
            const TypeId element = named_type(value(0));
            if (element == TypeId::no_type) datatype::raise_bad_make_arg(TypeId::vector, s);
            std::int32_t i = 1;
            std::uint32_t width = 8;
            if (value(i).is(TypeId::integer)) {
                const std::int32_t bits = value(i++).int_value();
                const bool ok = element == TypeId::percent ||
                                (element == TypeId::float_ ? bits == 32 || bits == 64
                                                           : bits == 8 || bits == 16 || bits == 32);
                if (!ok) datatype::raise_bad_make_arg(TypeId::vector, s);
                if (element != TypeId::percent) width = static_cast<std::uint32_t>(bits / 8);
            } else if (element != TypeId::percent) {
                invalid_spec_field(s);
            }
            const bool has_count = i < n && value(i).is(TypeId::integer);
            std::int64_t count = has_count ? value(i++).int_value() : 0;
            const bool has_values = i < n && value(i).is(TypeId::block);
            if (!has_count && !has_values) invalid_spec_field(s);
            if (has_values) {
                Cell values = value(i);
                const std::int32_t given = block::count_from_head(values);
                if (!has_count || given >= count) count = given;
                build(made, count, element, width, &values, std::max(values.series_head(), 0), given);
            } else {
                build(made, count, element, width, nullptr, 0, 0);
            }
        }
    } else {
        not_done();
    }
    *proto = made;
    return proto;
}

Cell* random(Cell* v, const RandomRefinements& how) {
    if (how.only && !how.seed) {
        const std::int32_t len = length_from_head(*v);
        if (len < 1) {
            *v = none::value;
            return v;
        }
        const Cell s = *v;
        *v = read_element(element_at(s, head_of(s) + random::in_range(how.secure, len) - 1),
                          element_type(s), width_of(s));
        return v;
    }
    return registry::handler<Action::random>(TypeId::series)(v, how);  // shuffles whole elements
}

std::int32_t form(Cell* value, NodeId out, Cell* arg, std::int32_t part) {
    return elements_text(*value, out, false, arg != nullptr, part);
}

std::int32_t mold(Cell* value, NodeId out, MoldOptions options, Cell* arg, std::int32_t part,
                  std::int32_t) {
    const Cell v = *value;
    const TypeId element = element_type(v);
    const std::uint32_t width = width_of(v);
    const bool typed = length_from_head(v) == 0 || width != default_width(element);
    if (!options.only) part -= append_text(out, "make vector! [");
    if (typed) {
        part -= append_text(out, type_name(element));
        part -= append_text(out, " ");
        part -= append_text(out, integer::to_decimal(static_cast<std::int32_t>(width * 8)));
        part -= append_text(out, " [");
    }
    part = elements_text(v, out, true, arg != nullptr, part);
    if (typed) part -= append_text(out, "]");  // with /only the spec stays whole: integer! 8 [1 2]
    if (!options.only) part -= append_text(out, "]");
    return part;
}

std::int32_t compare(Cell* value1, Cell* value2, CompareOp op) {
    if (!value2->is(TypeId::vector)) return not_comparable;
    const Cell a = *value1, b = *value2;
    const TypeId element = element_type(a);
    if (element_type(b) != element) not_same_type();
    const bool same_place = a.series_node() == b.series_node() && a.series_head() == b.series_head();
    if (op == CompareOp::same) return same_place ? 0 : -1;
    if (same_place && is_equality(op)) return 0;
    const std::int32_t la = length_from_head(a), lb = length_from_head(b);
    if (is_equality(op) && la != lb) return 1;
    const std::uint32_t wa = width_of(a), wb = width_of(b);
    const std::uint8_t* pa = element_at(a, head_of(a));
    const std::uint8_t* pb = element_at(b, head_of(b));
    for (std::int32_t i = 0; i < std::min(la, lb); ++i) {
        const double x = read_number(pa + i * wa, element, wa);
        const double y = read_number(pb + i * wb, element, wb);
        if (std::isnan(x) || std::isnan(y)) return 0;
        if (x != y) return x < y ? -1 : 1;
    }
    return la < lb ? -1 : la > lb ? 1 : 0;
}

Cell* add(Cell* a, Cell* b) { return math(a, b, MathOp::add); }
Cell* divide(Cell* a, Cell* b) { return math(a, b, MathOp::divide); }
Cell* multiply(Cell* a, Cell* b) { return math(a, b, MathOp::multiply); }
Cell* remainder(Cell* a, Cell* b) { return math(a, b, MathOp::remainder); }
Cell* subtract(Cell* a, Cell* b) { return math(a, b, MathOp::subtract); }
Cell* and_(Cell* a, Cell* b) { return math(a, b, MathOp::and_); }
Cell* or_(Cell* a, Cell* b) { return math(a, b, MathOp::or_); }
Cell* xor_(Cell* a, Cell* b) { return math(a, b, MathOp::xor_); }

// append and insert: the new elements go to the tail or to the head index.
Cell* insert_items(Cell* series, Cell* value, std::int32_t part, std::int32_t count, bool append) {
    const Cell s = *series;
    const Cell v = *value;
    const TypeId element = element_type(s);
    const std::uint32_t width = width_of(s);
    const std::int32_t len = units(s);
    const std::int32_t h = head_of(s);
    const std::int32_t where = append ? len : h;
    const Encoded items = encode_items(v, part >= 1 ? part : -1, element, width, false);
    const std::int64_t added = static_cast<std::int64_t>(items.count) * std::max(count, 0);
    if (added > 0) {
        checked_count(len + added, width);
        const Cell action = append ? words::word(words::Word::append) : words::global(words::Global::insert);
        const bool told = notify(s, action, &v, where, static_cast<std::int32_t>(added));
        resize_at(s, where, 0, added);
        write_runs(s, where, items, std::max(count, 0));
        if (told)
            notify(s, words::word(append ? words::Word::appended : words::Word::inserted), &v, where,
                   static_cast<std::int32_t>(added));
    }
    if (!append) series->set_series_head(h + static_cast<std::int32_t>(added));
    return series;
}

Cell* append(Cell* series, Cell* value, std::int32_t part, bool, std::int32_t count) {
    return insert_items(series, value, part, count, true);
}

Cell* change(Cell* series, Cell* value, std::int32_t part, bool, std::int32_t count) {
    const Cell s = *series;
    const Cell v = *value;
    const TypeId element = element_type(s);
    const std::uint32_t width = width_of(s);
    const std::int32_t len = units(s);
    const std::int32_t h = head_of(s);
    const std::int32_t left = len - h;
    Encoded items;
    if (v.is(TypeId::vector)) {  // converted element by element: another kind raises invalid-arg
        const TypeId from = element_type(v);
        const std::uint32_t from_width = width_of(v);
        for (std::int32_t i = head_of(v); i < units(v); ++i)
            encode_one(items, read_element(element_at(v, i), from, from_width), element, width);
    } else {
        items = encode_items(v, -1, element, width, true);
    }
    count = std::max(count, 0);
    const std::int64_t added = static_cast<std::int64_t>(items.count) * count;
    const auto replaced = static_cast<std::int32_t>(std::min<std::int64_t>(part >= 0 ? part : added, left));
    checked_count(len - replaced + added, width);
    const bool told = notify(s, words::word(words::Word::change), &v, h, replaced);
    resize_at(s, h, replaced, added - replaced);
    write_runs(s, h, items, count);
    if (told) notify(s, words::word(words::Word::changed), &v, h, replaced);
    series->set_series_head(static_cast<std::int32_t>(std::min<std::int64_t>(h + added, units(s))));
    return series;
}

Cell* find_or_select(Cell* series, Cell* value, const FindRefinements& r, bool select) {
    const Cell s = *series;
    const Cell v = *value;
    const TypeId element = element_type(s);
    const std::uint32_t width = width_of(s);
    const std::int32_t len = units(s);
    const std::int32_t h = head_of(s);
    double wanted = 0;
    if (v.is(TypeId::integer)) wanted = v.int_value();
    else if (v.is(TypeId::char_)) wanted = v.char_value();
    else if (v.is(TypeId::float_) || v.is(TypeId::percent)) wanted = v.f64();
    else {
        *series = none::value;  // no element holds any other value
        return series;
    }
    std::int32_t end = len;
    if (r.part != nullptr) {
        std::int64_t n = 0;
        if (r.part->is(TypeId::integer)) n = r.part->int_value();
        else if (r.part->is(TypeId::vector) && r.part->series_node() == s.series_node()) n = r.part->series_head() - h;
        else {
            const Cell ref = words::refinement(words::Ref::part);
            runtime::raise_error(ErrorCategory::script, "invalid-refine-arg", &ref, r.part);
        }
        end = static_cast<std::int32_t>(std::clamp<std::int64_t>(h + n, h, len));
    }
    std::int32_t step = 1;
    if (r.skip != nullptr) {
        if (!r.skip->is(TypeId::integer) || r.skip->int_value() < 1) {
            const Cell ref = words::refinement(words::Ref::skip);
            runtime::raise_error(ErrorCategory::script, "invalid-refine-arg", &ref, r.skip);
        }
        step = r.skip->int_value();
    }
    auto matches = [&](std::int32_t i) {
        return read_number(element_at(s, i), element, width) == wanted;
    };
    std::int32_t found = -1;
    if (r.match) {
        if (h < end && matches(h)) found = h;
    } else if (r.last) {
        for (std::int64_t i = h + static_cast<std::int64_t>((end - h - 1) / step) * step; i >= h; i -= step)
            if (matches(static_cast<std::int32_t>(i))) { found = static_cast<std::int32_t>(i); break; }
    } else if (r.reverse) {
        for (std::int64_t i = static_cast<std::int64_t>(h) - step; i >= 0; i -= step)
            if (matches(static_cast<std::int32_t>(i))) { found = static_cast<std::int32_t>(i); break; }
    } else {
        for (std::int32_t i = h; i < end; i = series::step_to(i, step, end))
            if (matches(i)) { found = i; break; }
    }
    if (found < 0) {
        *series = none::value;
    } else if (select) {
        if (found + 1 >= len) *series = none::value;
        else *series = read_element(element_at(s, found + 1), element, width);
    } else {
        series->set_series_head(r.tail || r.match ? found + 1 : found);
    }
    return series;
}

Cell* find(Cell* series, Cell* value, const FindRefinements& r) { return find_or_select(series, value, r, false); }

Cell* insert(Cell* series, Cell* value, std::int32_t part, bool, std::int32_t count) {
    return insert_items(series, value, part, count, false);
}

// Elements move between vectors as raw units: only between the same element type.
Cell* move(Cell* source, Cell* target, Cell* part) {
    if (target->is(TypeId::vector) && element_type(*target) != element_type(*source)) not_same_type();
    return registry::handler<Action::move>(TypeId::series)(source, target, part);
}

// The element at 1-based index i from the head (negative: before it), or -1.
std::int32_t index_of(const Cell& s, const Cell& index) {
    if (!index.is(TypeId::integer) && !index.is(TypeId::float_)) invalid_arg(index);
    const std::int32_t i = integer::from_number(index);
    if (i == 0) return -1;
    const std::int64_t p = i > 0 ? static_cast<std::int64_t>(s.series_head()) + i - 1
                                 : static_cast<std::int64_t>(s.series_head()) + i;
    return p < 0 || p >= units(s) ? -1 : static_cast<std::int32_t>(p);
}

Cell* pick(Cell* series, Cell* index) {
    const Cell s = *series;
    const std::int32_t at = index_of(s, *index);
    if (at < 0) *series = none::value;
    else *series = read_element(element_at(s, at), element_type(s), width_of(s));
    return series;
}

Cell* poke(Cell* series, Cell* index, Cell* value) {
    const Cell s = *series;
    const Cell v = *value;
    const std::int32_t at = index_of(s, *index);
    if (at < 0) runtime::raise_error(ErrorCategory::script, "out-of-range", index);
    std::uint8_t raw[8];
    store_element(raw, v, element_type(s), width_of(s));  // checked before anything changes
    const bool told = notify(s, words::word(words::Word::poke), &v, at, 1);
    std::memcpy(element_at(s, at), raw, width_of(s));
    if (told) notify(s, words::word(words::Word::poked), &v, at, 1);
    *series = v;
    return series;
}

Cell* eval_path(Cell* value, Cell* element, Cell* new_value, const PathStep& step) {
    if (!element->is(TypeId::integer)) {
        const Cell path = step.path != nullptr ? *step.path : *value;
        runtime::raise_error(ErrorCategory::script, "invalid-path", &path, element);
    }
    if (new_value == nullptr) return pick(value, element);
    return poke(value, element, new_value);
}

Cell* select(Cell* series, Cell* value, const FindRefinements& r) {
    FindRefinements refinements = r;
    refinements.tail = refinements.match = false;
    return find_or_select(series, value, refinements, true);
}

Cell* sort(Cell* series, const SortRefinements& how) {
    const Cell s = *series;
    if (how.comparator != nullptr) {
        const Cell ref = words::refinement(words::Ref::compare);
        runtime::raise_error(ErrorCategory::script, "invalid-refine-arg", &ref, how.comparator);
    }
    const TypeId element = element_type(s);
    const std::uint32_t width = width_of(s);
    const std::int32_t h = head_of(s);
    std::int32_t n = units(s) - h;
    if (how.part != nullptr) {
        if (how.part->is(TypeId::integer)) n = std::clamp(how.part->int_value(), 0, n);
        else if (how.part->is(TypeId::vector) && how.part->series_node() == s.series_node())
            n = std::clamp(how.part->series_head() - h, 0, n);
        else {
            const Cell ref = words::refinement(words::Ref::part);
            runtime::raise_error(ErrorCategory::script, "invalid-refine-arg", &ref, how.part);
        }
    }
    std::int32_t size = 1;
    if (how.skip != nullptr) {
        if (!how.skip->is(TypeId::integer) || how.skip->int_value() < 1) {
            const Cell ref = words::refinement(words::Ref::skip);
            runtime::raise_error(ErrorCategory::script, "invalid-refine-arg", &ref, how.skip);
        }
        size = how.skip->int_value();
    }
    const std::int32_t records = n / size;  // a short last record stays where it is
    if (records < 2) return series;
    const std::size_t record_bytes = static_cast<std::size_t>(size) * width;
    const std::uint8_t* base = element_at(s, h);
    std::vector<std::int32_t> order(static_cast<std::size_t>(records));
    std::iota(order.begin(), order.end(), 0);
    auto key = [&](std::int32_t r) { return read_number(base + r * record_bytes, element, width); };
    std::stable_sort(order.begin(), order.end(), [&](std::int32_t a, std::int32_t b) {
        return how.reverse ? key(b) < key(a) : key(a) < key(b);
    });
    std::vector<std::uint8_t> sorted(static_cast<std::size_t>(records) * record_bytes);
    for (std::size_t i = 0; i < order.size(); ++i)
        std::memcpy(sorted.data() + i * record_bytes, base + order[i] * record_bytes, record_bytes);
    const bool told = notify(s, words::word(words::Word::sort), nullptr, h, records * size);
    std::memcpy(element_at(s, h), sorted.data(), sorted.size());
    if (told) notify(s, words::word(words::Word::sorted), nullptr, h, records * size);
    return series;
}

Cell* take(Cell* series, Cell* part, bool deep, bool last) {
    const TypeId element = element_type(*series);
    const std::uint32_t width = width_of(*series);
    series::take(series, part, deep, last);
    if (part != nullptr || !series->is(TypeId::vector)) return series;  // a vector, or none
    *series = read_element(element_at(*series, 0), element, width);  // the one element taken
    return series;
}

constexpr registry::Registration registration{TypeId::vector, registry::table({
        {Action::make,      make},
        {Action::random,    random},
        {Action::to,        registry::refuse},
        {Action::form,      form},
        {Action::mold,      mold},
        {Action::eval_path, eval_path},
        {Action::compare,   compare},
        {Action::add,       add},
        {Action::divide,    divide},
        {Action::multiply,  multiply},
        {Action::remainder, remainder},
        {Action::subtract,  subtract},
        {Action::and_,      and_},
        {Action::or_,       or_},
        {Action::xor_,      xor_},
        {Action::append,    append},
        {Action::change,    change},
        {Action::find,      find},
        {Action::insert,    insert},
        {Action::move,      move},
        {Action::pick,      pick},
        {Action::poke,      poke},
        {Action::select,    select},
        {Action::sort,      sort},
        {Action::swap,      registry::refuse},
        {Action::take,      take},
        {Action::trim,      registry::refuse},
    })};

}  // namespace

void init() {
    registry::register_type(registration);
    float_::set_math_route(TypeId::vector, route);
}

}  // namespace kiv::vector
