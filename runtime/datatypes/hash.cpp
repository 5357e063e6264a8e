// hash!: a block! with a hash-kind index over every cell of its buffer. The
// block! actions keep the index themselves (find and select search through
// it); the shared series! actions that block! inherits do not, so hash! wraps
// those and rebuilds the index after them. Copies get an index of their own.
#include "runtime/datatypes/hash.h"

#include "runtime/datatypes/block.h"
#include "runtime/datatypes/block_actions.h"
#include "runtime/datatypes/datatype.h"
#include "runtime/datatypes/hashtable.h"
#include "runtime/datatypes/integer.h"
#include "runtime/datatypes/none.h"
#include "runtime/datatypes/string.h"
#include "runtime/evaluator/services.h"
#include "runtime/core/raise.h"

#include <algorithm>

namespace kiv::hash {
namespace {

std::int32_t cell_count(const Cell& h) {
    return memory::buffer(h.series_node())->used_bytes() / static_cast<std::int32_t>(sizeof(Cell));
}

// block!'s handler of action A; a block! without it raises as dispatch does.
template <Action A>
typename registry::Slot<A>::type parent() {
    auto h = registry::handler<A>(TypeId::block);
    if (h == nullptr) {
        Cell b{};
        b.reset(TypeId::block);
        h = actions::lookup<A>(b);
    }
    return h;
}

// A hash! result must index its own buffer: a result over another buffer
// (a copy, taken cells) gets a table of its own.
Cell* own_table(Cell* r) {
    if (r != nullptr && r->is(TypeId::hash) &&
        (r->series_extra() == 0 ||
         hashtable::values_of(r->series_extra()) != r->series_node())) {
        r->set_series_extra(hashtable::create(std::max(cell_count(*r), 1), r,
                                              hashtable::Kind::hash));
    }
    return r;
}

// After a change the wrapper cannot follow cell by cell.
Cell* resync(const Cell& h, Cell* r) {
    reindex(h);
    return own_table(r);
}

// A fresh hash! over a copy of blk's cells from its head.
void from_block(Cell& out, const Cell& blk) {
    Cell copy{};
    block::clone(copy, blk, false, false);
    copy.set_type(TypeId::block);
    make_at(out, copy);
}

Cell* build(Cell* proto, Cell* spec) {
    const Cell s = *spec;
    switch (s.type()) {
    case TypeId::integer:
    case TypeId::float_: {
        Cell blk{};
        block::make_at(blk, std::max(integer::from_number(s), 1));
        make_at(*proto, blk);
        return proto;
    }
    case TypeId::block:
        from_block(*proto, s);
        return proto;
    case TypeId::hash:
        *proto = s;
        return copy(proto, nullptr, false, nullptr);
    default: {
        Cell blk{};
        datatype::make_at(TypeId::block, blk);
        Cell value = s;
        const Cell* r = parent<Action::to>()(&blk, &value, TypeId::block);
        const Cell converted = *r;
        if (!converted.is(TypeId::block)) datatype::raise_bad_make_arg(TypeId::hash, s);
        make_at(*proto, converted);
        return proto;
    }
    }
}

// --- The block! actions kept in step --------------------------------------------------

Cell* clear(Cell* series) {
    const Cell h = *series;
    if (h.series_head() <= 0) {
        hashtable::remove_range(table_of(h), 0, hashtable::record(table_of(h))->count);
        return parent<Action::clear>()(series);
    }
    return resync(h, parent<Action::clear>()(series));
}

Cell* move(Cell* source, Cell* target, Cell* part) {
    const Cell h = *source, t = *target;
    Cell* r = parent<Action::move>()(source, target, part);
    reindex(h);
    if (t.is(TypeId::hash) && t.series_node() != h.series_node()) reindex(t);
    return r;
}

Cell* poke(Cell* series, Cell* index, Cell* value) {
    const Cell h = *series;
    Cell* r = parent<Action::poke>()(series, index, value);
    reindex(h);
    return r;
}

Cell* remove(Cell* series, Cell* part, Cell* key) {
    const Cell h = *series;
    return resync(h, parent<Action::remove>()(series, part, key));
}

Cell* reverse(Cell* series, Cell* part, Cell* skip) {
    const Cell h = *series;
    return resync(h, parent<Action::reverse>()(series, part, skip));
}

Cell* take(Cell* series, Cell* part, bool deep, bool last) {
    const Cell h = *series;
    return resync(h, parent<Action::take>()(series, part, deep, last));
}

}  // namespace

void make_at(Cell& cell, const Cell& blk) {
    const Cell b = blk;
    Cell whole = b;
    whole.set_type(TypeId::block);
    const NodeId table = hashtable::create(
        std::max(memory::buffer(b.series_node())->used_bytes() / static_cast<std::int32_t>(sizeof(Cell)), 1),
        &whole, hashtable::Kind::hash);
    cell = b;
    cell.set_type(TypeId::hash);
    cell.set_series_extra(table);
}

void reindex(const Cell& h) {
    if (!h.is(TypeId::hash) || h.series_extra() == 0) return;
    hashtable::rebuild(table_of(h), std::max(cell_count(h), 1));
}

// --- Handlers, in action order ----------------------------------------------------------

Cell* make(Cell* proto, Cell* spec, TypeId) { return build(proto, spec); }

Cell* to(Cell* proto, Cell* spec, TypeId) { return build(proto, spec); }

std::int32_t mold(Cell* value, NodeId out, MoldOptions options, Cell* arg,
                  std::int32_t part, std::int32_t indent) {
    if (!options.only) {
        string::append_nul_text(out, "make hash! ");
        part -= 11;
    }
    return block::mold(value, out, options, arg, part, indent);
}

Cell* copy(Cell* value, Cell* part, bool deep, Cell* types) {
    const Cell h = *value;
    const bool whole = h.series_head() == 0 && part == nullptr && !deep && types == nullptr;
    Cell* r = parent<Action::copy>()(value, part, deep, types);
    if (r->series_node() == h.series_node()) return r;
    r->set_type(TypeId::hash);  // block! copies come back as block!
    if (whole && cell_count(*r) == cell_count(h)) {
        r->set_series_extra(hashtable::copy(table_of(h), r->series_node()));
    } else {
        r->set_series_extra(0);
        own_table(r);
    }
    return r;
}

void init() {
    static constexpr registry::Registration r{TypeId::hash, registry::table({
                                                  {Action::make, make},
                                                  {Action::random, registry::refuse},
                                                  {Action::to, to},
                                                  {Action::mold, mold},
                                                  {Action::clear, clear},
                                                  {Action::copy, copy},
                                                  {Action::move, move},
                                                  {Action::poke, poke},
                                                  {Action::remove, remove},
                                                  {Action::reverse, reverse},
                                                  {Action::take, take},
                                              })};  // ORDER ACTIONS
    registry::register_type(r);
}

}  // namespace kiv::hash
