// Ownership: the owner table (a keyed hash table of three cells an entry:
// owned value, owner object, field word) and the deep walks that give and take
// ownership. Block walks go through the cycle stack, so a block that contains
// itself is visited once; objects join these walks with the object! module.
#include "runtime/datatypes/ownership.h"

#include "runtime/core/collector.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/context.h"
#include "runtime/datatypes/cycles.h"
#include "runtime/datatypes/hashtable.h"
#include "runtime/datatypes/none.h"
#include "runtime/datatypes/object.h"
#include "runtime/datatypes/words.h"

#include <algorithm>

namespace kiv::ownership {
namespace {

NodeId owner_table = 0;

enum : std::size_t { owned_cell = 0, owner_cell = 1, field_cell = 2 };

// The series whose buffers can be owned: texts, blocks, binary!, vector!, bitset!.
bool is_owned_series_type(TypeId t) {
    return is_any_block_type(t) || is_any_string_type(t) || t == TypeId::binary ||
           t == TypeId::vector || t == TypeId::bitset;
}

void sweep() { hashtable::sweep_keyed(owner_table); }

// The table's own series (record, flags, keys, entry block); the entries are
// weak and survive only through the sweep.
void mark() { hashtable::mark(owner_table); }

}  // namespace

void init() {
    owner_table = hashtable::create(1000, nullptr, hashtable::Kind::owner, 3);  // three value cells after the key cell
    collector::set_root(collector::RootStep::owner_table, mark);
    collector::sweep_owner_table_hook = sweep;
}

std::int32_t owner_count() { return hashtable::record(owner_table)->count; }

void set_owner_deep(const Cell& value, const Cell& owner, const Cell& field) {
    const Cell v = value, o = owner, f = field;  // the table may grow under references
    if (!is_owned_series_type(v.type())) return;  // images and objects: their own modules
    const NodeId node = v.series_node();
    SeriesBuffer* buf = memory::buffer(node);
    if ((buf->flags & memory::flag_owned) == 0) {
        buf->flags |= memory::flag_owned;
        Cell* entry = hashtable::put_pointer_key(owner_table, node);
        entry[owned_cell] = v;
        entry[owner_cell] = o;
        entry[field_cell] = f;
    }
    if (!is_any_block_type(v.type()) || cycles::find(node)) return;
    cycles::Guard guard(node);
    Cell at = v;
    const std::int32_t count = std::max(block::count_from_head(at), 0);
    const std::int32_t head = at.series_head();
    for (std::int32_t i = 0; i < count; ++i) {
        const Cell nested = *block::get_cell(v, head + i);
        set_owner_deep(nested, o, f);
    }
}

void set_owner_object(const Cell& value, const Cell& owner, const Cell& field) {
    const NodeId ctx = owner.object_context();  // owner's cell may live in a buffer that moves
    set_owner_deep(value, owner, field);
    context::context_cell(ctx)->set_context_owning(true);
}

void unset_owner_deep(const Cell& value) {
    const Cell v = value;
    if (!is_owned_series_type(v.type())) return;
    const NodeId node = v.series_node();
    memory::buffer(node)->flags &= ~memory::flag_owned;
    Cell* entry = hashtable::get_pointer_key(owner_table, node);
    if (entry == nullptr) return;  // not entered: also ends cycles
    for (std::size_t i = 0; i < 3; ++i) entry[i].reset(TypeId::unset);
    hashtable::remove_pointer_key(owner_table, node);
    if (!is_any_block_type(v.type())) return;
    const std::int32_t count = std::max(block::count_from_head(v), 0);
    for (std::int32_t i = 0; i < count; ++i) unset_owner_deep(*block::get_cell(v, v.series_head() + i));
}

void unset_owner_range(const Cell& blk, std::int32_t index, std::int32_t count) {
    const Cell b = blk;
    const std::int32_t len = block::count_from_head(b) + b.series_head();
    for (std::int32_t i = std::max(index, 0); i < std::min(index + count, len); ++i)
        unset_owner_deep(*block::get_cell(b, i));
}

const Cell* find_owner(NodeId node) {
    const Cell* entry = hashtable::get_pointer_key(owner_table, node);
    return entry == nullptr ? nullptr : entry + owner_cell;
}

const Cell* find_owned(NodeId node) {
    const Cell* entry = hashtable::get_pointer_key(owner_table, node);
    return entry == nullptr ? nullptr : entry + owned_cell;
}

bool check_owner(const Cell& value, const Cell& action, const Cell* new_value,
                 std::int32_t index, std::int32_t part) {
    const Cell* owner = find_owner(value.series_node());
    if (owner == nullptr || !owner[0].is(TypeId::object)) return false;
    const Cell o = owner[0], f = owner[1], v = value, a = action;
    const Cell n = new_value != nullptr ? *new_value : none::value;
    return object::fire_on_deep_change(o, f, v, a, n, index, part);
}

void report_cell_change(const Cell* parent, Cell* value) {
    if (parent == nullptr) return;
    const TypeId t = parent->type();
    if (t != TypeId::block && t != TypeId::paren && t != TypeId::hash) return;
    SeriesBuffer* buf = memory::buffer(parent->series_node());
    if ((buf->flags & memory::flag_owned) == 0) return;
    const auto* at = reinterpret_cast<std::uint8_t*>(value);
    if (at < buf->head || at >= buf->tail) return;  // not a cell of that block
    const auto index = static_cast<std::int32_t>((at - buf->head) / static_cast<long>(sizeof(Cell)));
    check_owner(*parent, words::word(words::Word::poked), value, index, 1);
}

}  // namespace kiv::ownership
