// paren! and the path types: made, converted, formed and molded here; every
// other action is block!'s, copied at registration (block! registers first).
// A path's steps are joined by "/" with no brackets and never break lines.
#include "runtime/datatypes/path.h"

#include "runtime/datatypes/block.h"
#include "runtime/datatypes/block_actions.h"
#include "runtime/datatypes/cycles.h"
#include "runtime/datatypes/datatype.h"
#include "runtime/datatypes/integer.h"
#include "runtime/datatypes/registry.h"
#include "runtime/datatypes/string.h"
#include "runtime/core/raise.h"


namespace kiv::path {
namespace {

// The mold of a path, with the lit-, get- or set- mark around it.
std::int32_t mold_marked(Cell* value, NodeId out, MoldOptions options, Cell* arg,
                         std::int32_t part, const char* before, const char* after) {
    if (*before != '\0') {
        string::append_nul_text(out, before);
        --part;
    }
    part = walk(*value, out, true, options, arg, part);
    if (*after != '\0') {
        string::append_nul_text(out, after);
        --part;
    }
    return part;
}

}  // namespace

void make_at(Cell& cell, std::int32_t n) {
    block::make_at(cell, n);
    cell.set_type(TypeId::path);
}

std::int32_t walk(const Cell& p, NodeId out, bool mold, MoldOptions options,
                  Cell* part, std::int32_t budget) {
    const Cell path = p;
    if (cycles::mold_cycle_marker(path, out, budget, mold)) return budget;
    cycles::Guard guard(path.series_node());
    Cell at = path;
    for (std::int32_t i = 0; i < block::count_from_head(path); ++i) {
        Cell cell = *(block::head_cell(at) + i);
        if (i > 0) {
            string::append_char(out, '/');
            --budget;
        }
        if (mold) {
            auto handler = registry::handler<Action::mold>(cell.type());
            budget = handler(&cell, out, options, part, budget, 0);
        } else {
            auto handler = registry::handler<Action::form>(cell.type());
            budget = handler(&cell, out, part, budget);
        }
        if (part != nullptr && budget < 1) break;
    }
    return budget;
}

// --- Handlers, in action order -------------------------------------------------------

namespace {

Cell* make(Cell* proto, Cell* spec, TypeId type) {
    Cell made{};
    if (is_any_block_type(spec->type())) {
        block::clone(made, *spec, false, false);
        made.set_bare_type(type);
        *proto = made;
        return proto;
    }
    std::int32_t n = 0;
    switch (spec->type()) {
    case TypeId::integer: n = spec->int_value(); break;
    case TypeId::float_: case TypeId::percent: {
        Cell number = *spec;
        number.set_type(TypeId::float_);  // percent! keeps a float payload
        n = integer::from_number(number);
        break;
    }
    default: datatype::raise_bad_make_arg(type, *spec);
    }
    block::make_at(made, n);
    made.set_type(type);
    *proto = made;
    return proto;
}

Cell* to(Cell* proto, Cell* spec, TypeId type) {
    Cell made{};
    if (is_any_block_type(spec->type())) {
        block::clone(made, *spec, false, false);
        made.set_bare_type(type);
    } else if (spec->is(TypeId::string)) {
        return block::to(proto, spec, type);  // loaded as for a block, then retyped
    } else {
        const Cell value = *spec;
        block::make_at(made, 1);
        block::append_copy(made, value);
        made.set_type(type);
    }
    *proto = made;
    return proto;
}

std::int32_t form(Cell* value, NodeId out, Cell* arg, std::int32_t part) {
    return walk(*value, out, false, {}, arg, part);
}

std::int32_t mold(Cell* value, NodeId out, MoldOptions options, Cell* arg,
                  std::int32_t part, std::int32_t) {
    return mold_marked(value, out, options, arg, part, "", "");
}

std::int32_t lit_mold(Cell* value, NodeId out, MoldOptions options, Cell* arg,
                      std::int32_t part, std::int32_t) {
    return mold_marked(value, out, options, arg, part, "'", "");
}

std::int32_t set_mold(Cell* value, NodeId out, MoldOptions options, Cell* arg,
                      std::int32_t part, std::int32_t) {
    return mold_marked(value, out, options, arg, part, "", ":");
}

std::int32_t get_mold(Cell* value, NodeId out, MoldOptions options, Cell* arg,
                      std::int32_t part, std::int32_t) {
    return mold_marked(value, out, options, arg, part, ":", "");
}

// path!: make, to, form and mold of its own; copy and the rest from block!,
// but no random, sort or trim.
constexpr registry::Registration registration{TypeId::path, registry::table({
        {Action::make,      make},
        {Action::random,    registry::refuse},
        {Action::to,        to},
        {Action::form,      form},
        {Action::mold,      mold},
        {Action::sort,      registry::refuse},
        {Action::trim,      registry::refuse},
    })};

// lit-path!, set-path!, get-path!: everything of path! but the mold.
constexpr registry::ActionTable derived_table(handler::Mold own_mold) {
    registry::ActionTable t{};
    t[static_cast<std::size_t>(Action::mold) - 1] = registry::Entry(own_mold);
    return t;
}

constexpr registry::Registration lit_registration{TypeId::lit_path, derived_table(lit_mold)};
constexpr registry::Registration set_registration{TypeId::set_path, derived_table(set_mold)};
constexpr registry::Registration get_registration{TypeId::get_path, derived_table(get_mold)};

}  // namespace

void init() {
    registry::register_type(registration);
    registry::register_type(lit_registration);
    registry::register_type(set_registration);
    registry::register_type(get_registration);
}

}  // namespace kiv::path

namespace kiv::paren {
namespace {

std::int32_t mold(Cell* value, NodeId out, MoldOptions options, Cell* arg,
                  std::int32_t part, std::int32_t indent) {
    if (cycles::mold_cycle_marker(*value, out, part, true)) return part;
    if (!options.only) {
        string::append_char(out, '(');
        --part;
    }
    part = block::mold_cells(*value, out, options, arg, part, indent);
    if (!options.only) {
        string::append_char(out, ')');
        --part;
    }
    return part;
}

// Every slot block! fills, but mold of its own and no trim.
constexpr registry::Registration registration{TypeId::paren, registry::table({
        {Action::mold, mold},
        {Action::trim, registry::refuse},
    })};

}  // namespace

void init() { registry::register_type(registration); }

}  // namespace kiv::paren
