// native!, action! and op!: making them, their text and reflection. An op!
// shares the payload of its source, so an op! of a function reaches the
// function's context, spec and extra block (whose cell 3 names the function).
#include "runtime/datatypes/native.h"

#include "runtime/datatypes/block.h"
#include "runtime/datatypes/block_actions.h"
#include "runtime/datatypes/context.h"
#include "runtime/datatypes/datatype.h"
#include "runtime/datatypes/function.h"
#include "runtime/datatypes/none.h"
#include "runtime/datatypes/string.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/datatypes/word.h"
#include "runtime/datatypes/words.h"
#include "runtime/core/raise.h"

#include <cstring>

namespace kiv {

namespace {

// Budget left after appending the NUL-terminated text.
std::int32_t append(NodeId out, const char* text, std::int32_t part) {
    string::append_nul_text(out, text);
    return part - static_cast<std::int32_t>(std::strlen(text));
}

Cell spec_block(const Cell& value) {
    Cell spec{};
    spec.reset(TypeId::block);
    spec.set_series_node(value.code_spec());
    return spec;
}

// The checks of make native! and make action!, then the value itself.
Cell* make_code(Cell* proto, Cell* arg, TypeId type, std::int32_t limit) {
    if (!arg->is(TypeId::block) || block::count_from_head(*arg) != 2)
        datatype::raise_bad_make_arg(type, *arg);
    const Cell spec = *block::get_cell(*arg, arg->series_head());
    const Cell n = *block::get_cell(*arg, arg->series_head() + 1);
    if (!spec.is(TypeId::block) || !n.is(TypeId::integer) || n.int_value() < 1 ||
        n.int_value() > limit)
        datatype::raise_bad_make_arg(type, *arg);
    native::make_at(*proto, type, spec, n.int_value());
    return proto;
}

// "make <kind> [" spec "]" for native! and action!.
std::int32_t mold_code(const char* head, Cell* value, NodeId out, MoldOptions options,
                       Cell* arg, std::int32_t part, std::int32_t indent) {
    part = append(out, head, part);
    Cell spec = spec_block(*value);
    part = block::mold(&spec, out, options, arg, part, indent);
    return append(out, "]", part);
}

bool is_canonical(const Cell& cell, symbol::SymbolId canonical) {
    return symbol::resolve_alias(cell.word_symbol()) == canonical;
}

}  // namespace

namespace native {

void make_at(Cell& out, TypeId type, const Cell& spec, std::int32_t n) {
    const NodeId spec_node = spec.series_node();
    // No context: a native's arguments are read from the stack by position,
    // and its spec words are looked up in the spec itself.
    Cell extra{};
    block::make_at_filled(extra, 2, false);
    none::make_at(*block::get_cell(extra, 0));
    none::make_at(*block::get_cell(extra, 1));
    out.reset(type);
    out.set_code(static_cast<std::uint32_t>(n), spec_node, extra.series_node());
}

Cell* make(Cell* proto, Cell* spec, TypeId type) { return make_code(proto, spec, type, table_size); }

Cell* reflect(Cell* value, Cell* field) {
    const symbol::SymbolId sym =
        word::is_any_word(field->type()) ? symbol::resolve_alias(field->word_symbol()) : 0;
    if (sym != 0 && sym == symbol::resolve_alias(words::id(words::Sym::spec))) {
        *value = spec_block(*value);
        return value;
    }
    if (sym != 0 && sym == symbol::resolve_alias(words::id(words::Sym::body))) {
        const TypeId source = value->op_source();
        if (value->is(TypeId::op) && (source == TypeId::function || source == TypeId::routine)) {
            *value = *function::extra_cell(*value, function::extra_body);
            return value;
        }
        const auto n = static_cast<std::int32_t>(value->code_entry());
        value->reset(TypeId::integer);
        value->set_int(n);
        return value;
    }
    runtime::raise_error(ErrorCategory::internal, "not-done");
}

std::int32_t form(Cell*, NodeId out, Cell*, std::int32_t part) { return append(out, "?native?", part); }

std::int32_t mold(Cell* value, NodeId out, MoldOptions options, Cell* arg,
                  std::int32_t part, std::int32_t indent) {
    return mold_code("make native! [", value, out, options, arg, part, indent);
}

// Equality and sort kinds order the table slots; others are refused. action!
// and op! inherit this handler.
std::int32_t compare(Cell* value1, Cell* value2, CompareOp op) {
    if (value2->type() != value1->type()) return not_comparable;
    switch (op) {
    case CompareOp::equal: case CompareOp::not_equal: case CompareOp::strict_equal:
    case CompareOp::sort: case CompareOp::case_sort: case CompareOp::same: case CompareOp::find:
        return (value1->code_entry() > value2->code_entry()) -
               (value1->code_entry() < value2->code_entry());
    default:
        return not_comparable;
    }
}

void init() {
    static constexpr registry::Registration r{TypeId::native, registry::table({
                                                  {Action::make, make},
                                                  {Action::reflect, reflect},
                                                  {Action::form, form},
                                                  {Action::mold, mold},
                                                  {Action::compare, compare},
                                              })};  // ORDER ACTIONS
    registry::register_type(r);
}

}  // namespace native

namespace action {

Cell* make(Cell* proto, Cell* spec, TypeId type) { return make_code(proto, spec, type, action_count); }

std::int32_t form(Cell*, NodeId out, Cell*, std::int32_t part) { return append(out, "?action?", part); }

std::int32_t mold(Cell* value, NodeId out, MoldOptions options, Cell* arg,
                  std::int32_t part, std::int32_t indent) {
    return mold_code("make action! [", value, out, options, arg, part, indent);
}


void init() {
    static constexpr registry::Registration r{TypeId::action, registry::table({
                                                  {Action::make, make},
                                                  {Action::form, form},
                                                  {Action::mold, mold},
                                              })};  // ORDER ACTIONS
    registry::register_type(r);
}

}  // namespace action

namespace op {

bool valid_spec_q(const Cell& spec) {
    const symbol::SymbolId local =
        symbol::resolve_alias(words::refinement(words::Ref::local).word_symbol());
    const symbol::SymbolId extern_ =
        symbol::resolve_alias(words::refinement(words::Ref::extern_).word_symbol());
    std::int32_t count = 0;
    bool plain_seen = false;
    const std::int32_t n = block::count_from_head(spec);
    for (std::int32_t i = 0; i < n; ++i) {
        const Cell& cell = *block::get_cell(spec, spec.series_head() + i);
        const TypeId t = cell.type();
        if (t == TypeId::word) {
            ++count;
            plain_seen = true;
        } else if (t == TypeId::lit_word || t == TypeId::get_word) {
            if (!plain_seen) return false;  // the left argument is always evaluated
            ++count;
        } else if (t == TypeId::set_word) {
            break;  // return:
        } else if (t == TypeId::refinement) {
            if (is_canonical(cell, local) || is_canonical(cell, extern_)) break;
            return false;
        }
    }
    return count == 2;
}

Cell* make(Cell* proto, Cell* spec, TypeId) {
    const TypeId source = spec->type();
    if (source != TypeId::action && source != TypeId::native && source != TypeId::function &&
        source != TypeId::routine) {
        Cell type{};
        datatype::make_at(source, type);
        runtime::raise_error(ErrorCategory::script, "invalid-type", &type);
    }
    if (!valid_spec_q(spec_block(*spec))) runtime::raise_error(ErrorCategory::script, "bad-op-spec");
    const Cell fn = *spec;
    if (source == TypeId::function || source == TypeId::routine)
        *function::extra_cell(fn, function::extra_op) = fn;
    *proto = fn;
    proto->set_op(source);
    return proto;
}

std::int32_t form(Cell*, NodeId out, Cell*, std::int32_t part) { return append(out, "?op?", part); }

std::int32_t mold(Cell* value, NodeId out, MoldOptions options, Cell* arg,
                  std::int32_t part, std::int32_t indent) {
    part = append(out, "make op! ", part);
    Cell spec = spec_block(*value);
    if (value->op_source() == TypeId::function) {
        part = append(out, "func ", part);
        part = block::mold(&spec, out, options, arg, part, indent);
        Cell body = *function::extra_cell(*value, function::extra_body);
        if (body.is(TypeId::block)) part = block::mold(&body, out, options, arg, part, indent);
        return part;
    }
    part = append(out, "[", part);
    part = block::mold(&spec, out, options, arg, part, indent);
    return append(out, "]", part);
}


void init() {
    static constexpr registry::Registration r{TypeId::op, registry::table({
                                                  {Action::make, make},
                                                  {Action::form, form},
                                                  {Action::mold, mold},
                                              })};  // ORDER ACTIONS
    registry::register_type(r);
}

}  // namespace op
}  // namespace kiv
