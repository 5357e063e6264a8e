// typeset!: building masks from blocks and function-spec type blocks, the
// text "make typeset! [...]", and the set operations. Every operation works
// on the three payload words; the bit of a type id is cell.h's business.
#include "runtime/datatypes/typeset.h"

#include "runtime/core/buffer.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/logic.h"
#include "runtime/datatypes/string.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/datatypes/word.h"
#include "runtime/core/raise.h"

#include <bit>
#include <cstring>

namespace kiv::typeset {

namespace {

constexpr const char* prefix = "make typeset! [";
constexpr std::int32_t prefix_length = 15;

[[noreturn]] void raise_invalid_arg(const Cell& value) {
    runtime::raise_error(ErrorCategory::script, "invalid-arg", &value);
}

// The operand of a set operation as a typeset: a typeset! itself, a
// datatype! as the set of that one type.
Cell operand(const Cell& value) {
    if (value.is(TypeId::typeset)) return value;
    if (!value.is(TypeId::datatype)) raise_invalid_arg(value);
    Cell ts{};
    make_at(ts, 0, 0, 0);
    ts.typeset_set(static_cast<int>(value.datatype_id()));
    return ts;
}

void or_into(Cell& ts, const Cell& other) {
    ts.set_typeset_mask(ts.typeset_mask(0) | other.typeset_mask(0), ts.typeset_mask(1) | other.typeset_mask(1),
                        ts.typeset_mask(2) | other.typeset_mask(2));
}

// Appends the names of the set types, each followed by one space; returns
// the budget left, and in written whether any name went out.
std::int32_t append_names(const Cell& ts, NodeId out, std::int32_t part, bool& written) {
    written = false;
    const int highest = registry::highest_type();
    for (int t = 1; t <= highest; ++t) {
        if (!ts.typeset_has(t)) continue;
        const registry::TypeName& tn = registry::type_name(static_cast<TypeId>(t));
        if (tn.name == nullptr) continue;
        if (part < 0) break;  // the /part budget is spent
        string::append_nul_text(out, tn.name);
        string::append_char(out, ' ');
        part -= tn.length + 2;  // the name with its "!" and the space
        written = true;
    }
    return part;
}

// Drops the last unit of the text of node (the space after the last name).
void drop_last(NodeId out) {
    Cell text{};
    text.reset(TypeId::string);
    text.set_series_node(out);
    string::truncate_buffer(out, string::length_from_start(text) - 1);
}

}  // namespace

void make_at(Cell& cell, std::uint32_t w1, std::uint32_t w2, std::uint32_t w3) {
    cell.reset(TypeId::typeset);
    cell.set_typeset_mask(w1, w2, w3);
}

Cell* make_in(const Cell& blk, std::uint32_t w1, std::uint32_t w2, std::uint32_t w3) {
    Cell* cell = buffer::append_cell(blk.series_node());
    make_at(*cell, w1, w2, w3);
    return cell;
}

Cell* make_default_in(const Cell& blk) {
    return make_in(blk, default_words[0], default_words[1], default_words[2]);
}

Cell* make_from_spec_in(const Cell& blk, const Cell& spec) {
    Cell ts{};
    make_at(ts, 0, 0, 0);
    Cell types = spec;
    const std::int32_t head = types.series_head();
    const std::int32_t n = block::count_from_head(types);
    for (std::int32_t i = 0; i < n; ++i) {
        Cell value = *block::get_cell(types, head + i);
        if (value.is(TypeId::word)) {
            const Cell w = value;
            word::get_value(w, value);
            if (word::is_any_word(value.type())) {  // a word naming a word: an object's field
                ts.typeset_set(static_cast<int>(TypeId::object));
                continue;
            }
        }
        switch (value.type()) {
        case TypeId::datatype: ts.typeset_set(static_cast<int>(value.datatype_id())); break;
        case TypeId::typeset: or_into(ts, value); break;
        case TypeId::block: break;
        default: runtime::raise_error(ErrorCategory::script, "invalid-type-spec", &value);
        }
    }
    Cell* cell = buffer::append_cell(blk.series_node());
    *cell = ts;
    return cell;
}

void add(Cell& ts, const Cell& value) {
    Cell v = value;
    if (v.is(TypeId::word)) word::get_value(value, v);
    if (v.is(TypeId::typeset)) or_into(ts, v);
    else if (v.is(TypeId::datatype)) ts.typeset_set(static_cast<int>(v.datatype_id()));
    else raise_invalid_arg(v);
}

void to_block(const Cell& ts, Cell& blk) {
    const Cell set = ts;  // ts may lie in a buffer that the block's growth moves
    block::make_at(blk, 4);
    const int highest = registry::highest_type();
    for (int t = 1; t <= highest; ++t) {
        if (!set.typeset_has(t)) continue;
        const registry::TypeName& tn = registry::type_name(static_cast<TypeId>(t));
        if (tn.name == nullptr || tn.word.is(TypeId::no_type)) continue;
        block::append_copy(blk, tn.word);
    }
}

std::int32_t count(const Cell& ts) {
    std::int32_t n = 0;
    const int highest = registry::highest_type();
    for (int t = 1; t <= highest; ++t) n += ts.typeset_has(t) ? 1 : 0;
    return n;
}

Cell* math_op(Cell* left, Cell* right, float_::MathOp op) {
    using float_::MathOp;
    const Cell b = operand(*right);
    Cell a = *left;
    switch (op) {
    case MathOp::or_:
    case MathOp::union_: or_into(a, b); break;
    case MathOp::and_:
    case MathOp::intersect:
        a.set_typeset_mask(a.typeset_mask(0) & b.typeset_mask(0), a.typeset_mask(1) & b.typeset_mask(1),
                           a.typeset_mask(2) & b.typeset_mask(2));
        break;
    case MathOp::xor_:
    case MathOp::difference:
        a.set_typeset_mask(a.typeset_mask(0) ^ b.typeset_mask(0), a.typeset_mask(1) ^ b.typeset_mask(1),
                           a.typeset_mask(2) ^ b.typeset_mask(2));
        break;
    case MathOp::exclude:
        a.set_typeset_mask(a.typeset_mask(0) & ~b.typeset_mask(0), a.typeset_mask(1) & ~b.typeset_mask(1),
                           a.typeset_mask(2) & ~b.typeset_mask(2));
        break;
    case MathOp::unique: break;
    default: {
        Cell type{};
        type.reset(TypeId::datatype);
        type.set_datatype_id(TypeId::typeset);
        runtime::raise_error(ErrorCategory::script, "cannot-use", &type);
    }
    }
    make_at(*left, a.typeset_mask(0), a.typeset_mask(1), a.typeset_mask(2));
    return left;
}

// --- Handlers ---------------------------------------------------------------

Cell* to(Cell* proto, Cell* spec, TypeId) {
    if (spec->is(TypeId::typeset)) {
        *proto = *spec;
        return proto;
    }
    if (!spec->is(TypeId::block)) {
        Cell type{};
        type.reset(TypeId::datatype);
        type.set_datatype_id(TypeId::typeset);
        runtime::raise_error(ErrorCategory::script, "bad-to-arg", &type, spec);
    }
    Cell ts{};
    make_at(ts, 0, 0, 0);
    Cell types = *spec;
    const std::int32_t head = types.series_head();
    const std::int32_t n = block::count_from_head(types);
    for (std::int32_t i = 0; i < n; ++i) add(ts, *block::get_cell(types, head + i));
    *proto = ts;
    return proto;
}

std::int32_t form(Cell* value, NodeId out, Cell* arg, std::int32_t part) {
    return mold(value, out, {}, arg, part, 0);
}

std::int32_t mold(Cell* value, NodeId out, MoldOptions options, Cell*, std::int32_t part,
                  std::int32_t) {
    const Cell ts = *value;
    bool written = false;
    if (options.only) {
        part = append_names(ts, out, part, written);
        if (written) {
            drop_last(out);
            ++part;
        }
        return part;
    }
    string::append_nul_text(out, prefix);
    part = append_names(ts, out, part - prefix_length, written);
    if (part < 0 && written) return part;  // cut short: no closing bracket
    if (written) {
        drop_last(out);
        ++part;
    }
    string::append_char(out, ']');
    return part - 1;
}

std::int32_t compare(Cell* value1, Cell* value2, CompareOp op) {
    if (!value2->is(TypeId::typeset)) return not_comparable;
    if (is_equality(op)) {
        return value1->same_payload(*value2)
                   ? 0
                   : 1;
    }
    if (op == CompareOp::sort || op == CompareOp::case_sort) {
        const std::int32_t a = count(*value1), b = count(*value2);
        return (a > b) - (a < b);
    }
    return not_comparable;
}

Cell* and_(Cell* value1, Cell* value2) {
    return typeset::math_op(value1, value2, float_::MathOp::and_);
}

Cell* complement(Cell* value) {
    make_at(*value, ~value->typeset_mask(0), ~value->typeset_mask(1), ~value->typeset_mask(2));
    return value;
}

Cell* or_(Cell* value1, Cell* value2) {
    return typeset::math_op(value1, value2, float_::MathOp::or_);
}
Cell* xor_(Cell* value1, Cell* value2) {
    return typeset::math_op(value1, value2, float_::MathOp::xor_);
}

Cell* find(Cell* series, Cell* value, const FindRefinements&) {
    if (!value->is(TypeId::datatype)) raise_invalid_arg(*value);
    logic::make_at(*series, series->typeset_has(static_cast<int>(value->datatype_id())));
    return series;
}

void init() {
    static constexpr registry::Registration r{TypeId::typeset, registry::table({
                                                  {Action::make, to},
                                                  {Action::to, to},
                                                  {Action::form, form},
                                                  {Action::mold, mold},
                                                  {Action::compare, compare},
                                                  {Action::and_, and_},
                                                  {Action::complement, complement},
                                                  {Action::or_, or_},
                                                  {Action::xor_, xor_},
                                                  {Action::find, find},
                                              })};  // ORDER ACTIONS
    registry::register_type(r);
}

}  // namespace kiv::typeset
