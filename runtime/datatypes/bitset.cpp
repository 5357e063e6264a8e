// bitset!: the spec walk that builds, tests and changes bit sets, the set
// operations, and the text "make bitset! #{...}". A bitset's head is always
// the start of its data area and every allocated byte past the tail holds the
// fill byte, so moving the tail up or growing never exposes stale bits.
#include "runtime/datatypes/bitset.h"

#include "runtime/core/assert.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/cycles.h"
#include "runtime/datatypes/datatype.h"
#include "runtime/datatypes/logic.h"
#include "runtime/datatypes/none.h"
#include "runtime/datatypes/ownership.h"
#include "runtime/datatypes/string.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/datatypes/word.h"
#include "runtime/datatypes/words.h"
#include "runtime/core/raise.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace kiv::bitset {

namespace {

// The highest bit index a value may name: the bit count of the largest
// bitset (its length? in bits) must stay a 32-bit integer.
constexpr std::int64_t max_bit = 0x7FFFFFF7;

std::uint8_t fill_byte(const SeriesBuffer* buf) { return complemented(buf) ? 0xFF : 0x00; }
std::int64_t byte_length(const SeriesBuffer* buf) { return buf->tail - buf->head; }
bool inside(const SeriesBuffer* buf, std::int64_t n) { return n >= 0 && (n >> 3) < byte_length(buf); }
std::uint8_t mask(std::int64_t n) { return static_cast<std::uint8_t>(0x80u >> (n & 7)); }
bool member(const SeriesBuffer* buf, std::int64_t n) {
    return inside(buf, n) ? (buf->head[n >> 3] & mask(n)) != 0 : complemented(buf);
}

[[noreturn]] void raise_script(const char* id, const Cell* arg = nullptr) {
    runtime::raise_error(ErrorCategory::script, id, arg);
}

[[noreturn]] void invalid_type(TypeId t) {
    Cell type{};
    datatype::make_at(t, type);
    raise_script("invalid-type", &type);
}

// A spec value the walk does not take: the error depends on who asked.
[[noreturn]] void unsupported(const Cell& value, SpecError kind) {
    if (kind == SpecError::other) raise_script("invalid-arg", &value);
    Cell type{};
    datatype::make_at(TypeId::bitset, type);
    runtime::raise_error(ErrorCategory::script, kind == SpecError::make ? "bad-make-arg" : "bad-to-arg",
                         &type, &value);
}

bool is_word(const Cell& value, words::Sym s) {
    return value.is(TypeId::word) &&
           symbol::resolve_alias(value.word_symbol()) == symbol::resolve_alias(words::id(s));
}

// The bit index a char!, integer! or float! (truncated) names, in n; false
// for other types. Testing takes any value (negative and huge ones lie
// outside every bitset); otherwise they raise out-of-range.
bool scalar_bit(const Cell& value, Walk op, std::int64_t& n) {
    switch (value.type()) {
    case TypeId::char_: n = value.char_value(); break;
    case TypeId::integer: n = value.int_value(); break;
    case TypeId::float_: {
        const double d = std::trunc(value.f64());
        if (std::isnan(d)) raise_script("out-of-range", &value);
        n = d < -1.0 ? -1 : d > static_cast<double>(max_bit) + 1 ? max_bit + 1 : static_cast<std::int64_t>(d);
        break;
    }
    default: return false;
    }
    if ((n < 0 || n > max_bit) && op != Walk::test) raise_script("out-of-range", &value);
    return true;
}

// Makes room for bit n and moves the tail up to cover it; the added bytes
// take the fill byte. Returns the (possibly new) head.
std::uint8_t* grow_to_bit(NodeId node, std::int64_t n) {
    KIV_ASSERT(n >= 0 && n <= max_bit, "bit index checked by the walk");
    SeriesBuffer* buf = memory::buffer(node);
    const std::int64_t need = (n >> 3) + 1;
    if (buf->size < need) {
        const std::int64_t doubled = std::int64_t{buf->size} * 2;  // ascending appends grow in O(n)
        const std::int64_t size = doubled > need && doubled <= (max_bit >> 3) + 1 ? doubled : need;
        buf = memory::expand_series_filled(buf, static_cast<std::int32_t>(size), fill_byte(buf));
    }
    if (byte_length(buf) < need) buf->tail = buf->head + need;
    return buf->head;
}

// Sets or clears bits lo to hi of the bytes at p (all inside).
void fill_bits(std::uint8_t* p, std::int64_t lo, std::int64_t hi, bool on) {
    const auto one = [&](std::int64_t n) {
        if (on) p[n >> 3] = static_cast<std::uint8_t>(p[n >> 3] | mask(n));
        else p[n >> 3] = static_cast<std::uint8_t>(p[n >> 3] & ~mask(n));
    };
    for (; lo <= hi && (lo & 7) != 0; ++lo) one(lo);
    if (hi - lo + 1 >= 8) {
        const std::int64_t bytes = (hi - lo + 1) >> 3;
        std::memset(p + (lo >> 3), on ? 0xFF : 0x00, static_cast<std::size_t>(bytes));
        lo += bytes * 8;
    }
    for (; lo <= hi; ++lo) one(lo);
}

// Applies op to bits lo..hi (lo <= hi, both checked). measure, set and clear
// answer hi; test answers 1 when every bit is a member, else 0.
std::int64_t walk_range(NodeId node, std::int64_t lo, std::int64_t hi, Walk op) {
    if (op == Walk::measure) return hi;
    SeriesBuffer* buf = memory::buffer(node);
    const bool not_ = complemented(buf);
    const std::int64_t last_inside = byte_length(buf) * 8 - 1;
    if (op == Walk::test) {
        if (!not_ && (lo < 0 || hi > last_inside)) return 0;  // bits out there are absent
        for (std::int64_t n = std::max<std::int64_t>(lo, 0); n <= std::min(hi, last_inside); ++n)
            if ((buf->head[n >> 3] & mask(n)) == 0) return 0;
        return 1;
    }
    const bool on = op == Walk::set;
    if (on != not_) {
        fill_bits(grow_to_bit(node, hi), lo, hi, on);
    } else if (lo <= last_inside) {  // beyond the tail the bits are already as asked
        fill_bits(buf->head, lo, std::min(hi, last_inside), on);
    }
    return hi;
}

std::int64_t walk_value(const Cell& value, NodeId node, Walk op, SpecError kind);

// The code points of a string! from its head: measured, tested, set or
// cleared. The bitset grows once, to the highest code point, when it must.
std::int64_t walk_text(const Cell& text, NodeId node, Walk op) {
    const SeriesBuffer* tb = memory::buffer(text.series_node());
    const std::uint32_t unit = tb->unit();
    const std::int64_t length = (tb->tail - tb->head) / unit;
    const std::int64_t head = std::clamp<std::int64_t>(text.series_head(), 0, length);
    const auto cp_at = [&](std::int64_t i) {
        return std::int64_t{string::get_char(memory::buffer(text.series_node())->head + i * unit, unit)};
    };
    std::int64_t highest = 0;
    for (std::int64_t i = head; i < length; ++i) highest = std::max(highest, cp_at(i));
    if (op == Walk::measure) return highest;
    if (op == Walk::test) {
        if (head == length) return 0;  // an empty text finds nothing
        const SeriesBuffer* buf = memory::buffer(node);
        for (std::int64_t i = head; i < length; ++i)
            if (!member(buf, cp_at(i))) return 0;
        return 1;
    }
    if (head == length) return highest;
    const bool on = op == Walk::set;
    if (on != complemented(memory::buffer(node))) grow_to_bit(node, highest);
    SeriesBuffer* buf = memory::buffer(node);
    for (std::int64_t i = head; i < length; ++i) {
        const std::int64_t n = cp_at(i);
        if (inside(buf, n)) fill_bits(buf->head, n, n, on);
    }
    return highest;
}

// The values of a block from its head; char! - char! and integer! - integer!
// are ranges. A block met again inside itself adds nothing.
std::int64_t walk_block(const Cell& blk, NodeId node, Walk op, SpecError kind) {
    if (cycles::find(blk.series_node())) return op == Walk::test ? 1 : 0;
    cycles::Guard guard(blk.series_node());
    const std::int32_t count = block::count_from_head(blk);
    if (count == 0 && op == Walk::test) return 0;  // an empty spec finds nothing
    const std::int32_t head = blk.series_head();
    std::int64_t result = op == Walk::test ? 1 : 0;
    for (std::int32_t i = 0; i < count; ++i) {
        const Cell value = *block::get_cell(blk, head + i);
        std::int64_t r;
        if ((value.is(TypeId::char_) || value.is(TypeId::integer)) && i + 1 < count &&
            is_word(*block::get_cell(blk, head + i + 1), words::Sym::minus)) {
            if (i + 2 >= count) raise_script("past-end");
            const Cell upper = *block::get_cell(blk, head + i + 2);
            if (upper.type() != value.type()) raise_script("invalid-arg", &upper);
            std::int64_t lo = 0, hi = 0;
            scalar_bit(value, op, lo);
            scalar_bit(upper, op, hi);
            if (hi < lo) raise_script("past-end");
            r = walk_range(node, lo, hi, op);
            i += 2;
        } else {
            r = walk_value(value, node, op, kind);
        }
        if (op == Walk::test) {
            if (r == 0) return 0;
        } else {
            result = std::max(result, r);
        }
    }
    return result;
}

std::int64_t walk_value(const Cell& value, NodeId node, Walk op, SpecError kind) {
    std::int64_t n = 0;
    if (scalar_bit(value, op, n)) {
        if (op == Walk::test) return member(memory::buffer(node), n) ? 1 : 0;
        return walk_range(node, n, n, op);
    }
    switch (value.type()) {
    case TypeId::string: return walk_text(value, node, op);
    case TypeId::block: return walk_block(value, node, op, kind);
    case TypeId::binary: runtime::raise_error(ErrorCategory::internal, "not-done");
    default: unsupported(value, kind);
    }
}

// A new buffer holding a copy of buf's allocation and flags, less ownership.
NodeId clone(const Cell& bs) {
    const NodeId node = memory::clone_series(memory::buffer(bs.series_node()));
    memory::buffer(node)->flags &= ~memory::flag_owned;  // a copy has no owner yet
    return node;
}

Cell* set_bitset(Cell* slot, NodeId node) {
    slot->reset(TypeId::bitset);
    slot->set_series_node(node);
    return slot;
}

// Tells the bitset's owner about a change; unowned bitsets cost a flag test.
void notify(const Cell& bs, const Cell& action, const Cell* new_value, std::int32_t part) {
    if ((memory::buffer(bs.series_node())->flags & memory::flag_owned) == 0) return;
    ownership::check_owner(bs, action, new_value, 0, part);
}

Cell remove_word() {
    Cell w{};
    word::make_kind_at(TypeId::word, "remove", w);  // not among the start-up words
    return w;
}

std::int32_t bytes_of(const Cell& bs) {
    return static_cast<std::int32_t>(byte_length(memory::buffer(bs.series_node())));
}

Cell* make_or_to(Cell* proto, Cell* spec, SpecError kind) {
    Cell s = *spec;
    bool not_ = false;
    if (s.is(TypeId::block) && block::count_from_head(s) > 0 && is_word(*block::head_cell(s), words::Sym::not_)) {
        not_ = true;
        s.set_series_head(s.series_head() + 1);
        if (block::count_from_head(s) > 0 && block::head_cell(s)->is(TypeId::binary)) s = *block::head_cell(s);
    }
    Cell result{};
    switch (s.type()) {
    case TypeId::bitset:
        set_bitset(&result, clone(s));
        break;
    case TypeId::integer:
    case TypeId::float_: {
        if (kind == SpecError::to) unsupported(s, kind);
        std::int64_t n = 0;
        scalar_bit(s, Walk::set, n);
        make_at(result, static_cast<std::int32_t>((n + 7) >> 3), false);
        break;
    }
    case TypeId::binary: {
        const SeriesBuffer* src = memory::buffer(s.series_node());
        const std::int64_t length = src->tail - src->head;
        const std::int64_t head = std::clamp<std::int64_t>(s.series_head(), 0, length);
        make_at(result, static_cast<std::int32_t>(length - head), not_);
        src = memory::buffer(s.series_node());
        std::uint8_t* out = memory::buffer(result.series_node())->head;
        for (std::int64_t i = head; i < length; ++i)
            out[i - head] = static_cast<std::uint8_t>(not_ ? ~src->head[i] : src->head[i]);
        break;
    }
    default: {
        const std::int64_t bytes = spec_walk(s, s, Walk::measure, false, kind);
        make_at(result, static_cast<std::int32_t>(bytes), not_);
        spec_walk(s, result, not_ ? Walk::clear : Walk::set, false, kind);
    }
    }
    *proto = result;
    return proto;
}

}  // namespace

std::int64_t spec_walk(const Cell& spec, const Cell& bs, Walk op, bool nested, SpecError kind) {
    const NodeId node = op == Walk::measure ? 0 : bs.series_node();
    const std::int64_t r = walk_value(spec, node, op, kind);
    if (nested || (op != Walk::measure && op != Walk::set)) return r;
    const std::int64_t bytes = std::max<std::int64_t>((r + 8) >> 3, 1);
    if (op == Walk::set) grow_to_bit(node, bytes * 8 - 1);  // the fill byte keeps what lies there
    return bytes;
}

void make_at(Cell& cell, std::int32_t bytes, bool not_) {
    KIV_ASSERT(bytes >= 0, "byte count checked by the caller");
    const NodeId node = memory::alloc_bytes_filled(bytes, not_ ? 0xFF : 0x00);
    SeriesBuffer* buf = memory::buffer(node);
    buf->tail = buf->head + bytes;
    if (not_) buf->flags |= memory::flag_bitset_not;
    set_bitset(&cell, node);
}

void make_from_spec(Cell& cell, const Cell& spec) {
    Cell s = spec;
    Cell result{};
    datatype::make_at(TypeId::bitset, result);
    make_or_to(&result, &s, SpecError::make);
    cell = result;
}

Cell* math_op(Cell* left, Cell* right, float_::MathOp op) {
    using float_::MathOp;
    if (op == MathOp::unique) return left;
    if (!right->is(TypeId::bitset)) invalid_type(right->type());
    const auto combine = [op](std::uint8_t x, std::uint8_t y) -> std::uint8_t {
        switch (op) {
        case MathOp::and_: case MathOp::intersect: return static_cast<std::uint8_t>(x & y);
        case MathOp::xor_: case MathOp::difference: return static_cast<std::uint8_t>(x ^ y);
        case MathOp::exclude: return static_cast<std::uint8_t>(x & ~y);
        default: return static_cast<std::uint8_t>(x | y);
        }
    };
    const NodeId n1 = left->series_node(), n2 = right->series_node();
    const std::int64_t len1 = byte_length(memory::buffer(n1)), len2 = byte_length(memory::buffer(n2));
    const std::uint8_t f1 = fill_byte(memory::buffer(n1)), f2 = fill_byte(memory::buffer(n2));
    // Past its tail each operand reads as its fill byte, so the result's own
    // fill (flag) is the operation on the two fills.
    const std::uint8_t fill = combine(f1, f2);
    std::int64_t length = std::max(len1, len2);
    const std::uint8_t shorter_fill = len1 < len2 ? f1 : f2;
    if (op == MathOp::and_ && shorter_fill == 0) length = std::min(len1, len2);  // the rest is all absent
    Cell result{};
    make_at(result, static_cast<std::int32_t>(length), fill != 0);
    const std::uint8_t* a = memory::buffer(n1)->head;
    const std::uint8_t* b = memory::buffer(n2)->head;
    std::uint8_t* out = memory::buffer(result.series_node())->head;
    for (std::int64_t i = 0; i < length; ++i)
        out[i] = combine(i < len1 ? a[i] : f1, i < len2 ? b[i] : f2);
    *left = result;
    return left;
}

// --- Handlers -------------------------------------------------------------------

Cell* make(Cell* proto, Cell* spec, TypeId) { return make_or_to(proto, spec, SpecError::make); }

Cell* to(Cell* proto, Cell* spec, TypeId) { return make_or_to(proto, spec, SpecError::to); }

Cell* reflect(Cell* value, Cell* field) {
    // Ownership lives in the series layer's owner table: series! answers it.
    const auto h = registry::handler<Action::reflect>(TypeId::series);
    if (h == nullptr) runtime::raise_error(ErrorCategory::internal, "not-done");
    return h(value, field);
}

std::int32_t form(Cell* value, NodeId out, Cell*, std::int32_t part) {
    const SeriesBuffer* buf = memory::buffer(value->series_node());
    const bool not_ = complemented(buf);
    const std::int64_t length = byte_length(buf);
    string::append_nul_text(out, not_ ? "make bitset! [not #{" : "make bitset! #{");
    part -= not_ ? 20 : 15;
    static constexpr char hex[] = "0123456789ABCDEF";
    for (std::int64_t i = 0; i < length; ++i) {
        if (part <= 0) return part;  // the /part budget is spent
        const auto byte = static_cast<std::uint8_t>(memory::buffer(value->series_node())->head[i] ^ (not_ ? 0xFF : 0));
        string::append_char(out, static_cast<std::uint32_t>(hex[byte >> 4]));
        string::append_char(out, static_cast<std::uint32_t>(hex[byte & 15]));
        part -= 2;
    }
    string::append_nul_text(out, not_ ? "}]" : "}");
    return part - (not_ ? 2 : 1);
}

std::int32_t mold(Cell* value, NodeId out, MoldOptions, Cell* arg, std::int32_t part,
                  std::int32_t) {
    return form(value, out, arg, part);
}

Cell* eval_path(Cell* value, Cell* element, Cell* new_value, const PathStep&) {
    if (!element->is(TypeId::integer) && !element->is(TypeId::char_)) invalid_type(element->type());
    if (new_value != nullptr) {
        Cell bs = *value;
        poke(&bs, element, new_value);
        return new_value;
    }
    static Cell result{};  // a logic! holds no reference
    logic::make_at(result, spec_walk(*element, *value, Walk::test, true, SpecError::other) > 0);
    return &result;
}

std::int32_t compare(Cell* value1, Cell* value2, CompareOp op) {
    if (!value2->is(TypeId::bitset)) return not_comparable;
    if (op == CompareOp::same) return value1->series_node() == value2->series_node() ? 0 : 1;
    const SeriesBuffer* b1 = memory::buffer(value1->series_node());
    const SeriesBuffer* b2 = memory::buffer(value2->series_node());
    const std::int64_t len1 = byte_length(b1), len2 = byte_length(b2);
    if (len1 != len2) return len1 < len2 ? -1 : 1;
    // Empty bitsets of different flags differ too: one holds nothing, the other everything.
    if (complemented(b1) != complemented(b2)) return complemented(b1) ? 1 : -1;
    for (std::int64_t i = len1 - 1; i >= 0; --i)
        if (b1->head[i] != b2->head[i]) return b1->head[i] < b2->head[i] ? -1 : 1;
    return 0;
}

Cell* complement(Cell* value) {
    const NodeId node = clone(*value);
    SeriesBuffer* buf = memory::buffer(node);
    buf->flags ^= memory::flag_bitset_not;
    for (std::uint8_t* p = buf->data(); p < buf->data_end(); ++p) *p = static_cast<std::uint8_t>(~*p);
    return set_bitset(value, node);
}

Cell* and_(Cell* value1, Cell* value2) { return bitset::math_op(value1, value2, float_::MathOp::and_); }
Cell* or_(Cell* value1, Cell* value2) { return bitset::math_op(value1, value2, float_::MathOp::or_); }
Cell* xor_(Cell* value1, Cell* value2) { return bitset::math_op(value1, value2, float_::MathOp::xor_); }

Cell* insert(Cell* series, Cell* value, std::int32_t, bool, std::int32_t) {
    const Cell bs = *series;
    notify(bs, words::global(words::Global::insert), value, 0);
    spec_walk(*value, bs, Walk::set, false, SpecError::other);
    notify(bs, words::word(words::Word::inserted), value, bytes_of(bs));
    return series;
}

Cell* clear(Cell* value) {
    const Cell bs = *value;
    notify(bs, words::word(words::Word::clear), nullptr, 0);
    SeriesBuffer* buf = memory::buffer(bs.series_node());
    std::memset(buf->head, fill_byte(buf), static_cast<std::size_t>(byte_length(buf)));
    notify(bs, words::word(words::Word::cleared), nullptr, bytes_of(bs));
    return value;
}

Cell* copy(Cell* value, Cell*, bool, Cell*) { return set_bitset(value, clone(*value)); }

Cell* find(Cell* series, Cell* value, const FindRefinements&) {
    if (spec_walk(*value, *series, Walk::test, true, SpecError::other) > 0) logic::make_at(*series, true);
    else none::make_at(*series);
    return series;
}

std::int32_t length_q(Cell* value) { return bytes_of(*value) * 8; }

Cell* pick(Cell* value, Cell* index) {
    logic::make_at(*value, spec_walk(*index, *value, Walk::test, true, SpecError::other) > 0);
    return value;
}

Cell* poke(Cell* value, Cell* index, Cell* new_value) {
    const Cell bs = *value;
    const Cell v = *new_value;
    const bool off = v.is(TypeId::none) || (v.is(TypeId::logic) && v.logic_value() != 1) ||
                     (v.is(TypeId::integer) && v.int_value() == 0) ||
                     (v.is(TypeId::float_) && v.f64() == 0.0);
    notify(bs, words::word(words::Word::poke), &v, 1);
    spec_walk(*index, bs, off ? Walk::clear : Walk::set, false, SpecError::other);
    notify(bs, words::word(words::Word::poked), &v, 1);
    *value = v;
    return value;
}

Cell* remove(Cell* value, Cell* part, Cell*) {
    if (part == nullptr) raise_script("missing-arg");
    const Cell bs = *value;
    notify(bs, remove_word(), nullptr, 0);
    spec_walk(*part, bs, Walk::clear, false, SpecError::other);
    notify(bs, words::word(words::Word::removed), nullptr, 0);
    return value;
}

Cell* modify(Cell* value, Cell* field, Cell* new_value, bool case_) {
    const auto h = registry::handler<Action::modify>(TypeId::series);
    if (h == nullptr) runtime::raise_error(ErrorCategory::internal, "not-done");
    return h(value, field, new_value, case_);
}

void init() {
    static constexpr registry::Registration r{TypeId::bitset, registry::table({
                                                  {Action::make, make},
                                                  {Action::reflect, reflect},
                                                  {Action::to, to},
                                                  {Action::form, form},
                                                  {Action::mold, mold},
                                                  {Action::eval_path, eval_path},
                                                  {Action::compare, compare},
                                                  {Action::negate, complement},
                                                  {Action::and_, and_},
                                                  {Action::complement, complement},
                                                  {Action::or_, or_},
                                                  {Action::xor_, xor_},
                                                  {Action::append, insert},  // append and insert share one handler
                                                  {Action::clear, clear},
                                                  {Action::copy, copy},
                                                  {Action::find, find},
                                                  {Action::insert, insert},
                                                  {Action::length_q, length_q},
                                                  {Action::pick, pick},
                                                  {Action::poke, poke},
                                                  {Action::remove, remove},
                                                  {Action::modify, modify},
                                              })};  // ORDER ACTIONS
    registry::register_type(r);
}

}  // namespace kiv::bitset
