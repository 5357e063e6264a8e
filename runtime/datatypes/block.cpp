// Blocks: the cell-series layer under every any-block type (buffer, positions,
// copies, appends, look-ups, the mold walk). A block cell reads unset! until
// its buffer exists. Values copied into a block are copied to a local cell
// first, since growing the block may move the cell they came from. The block!
// action handlers live in block_actions.cpp.
#include "runtime/datatypes/block.h"

#include "runtime/core/assert.h"
#include "runtime/core/buffer.h"
#include "runtime/core/collector.h"
#include "runtime/datatypes/block_actions.h"
#include "runtime/datatypes/cycles.h"
#include "runtime/datatypes/none.h"
#include "runtime/datatypes/registry.h"
#include "runtime/datatypes/string.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/datatypes/typeset.h"

#include <algorithm>
#include <cstring>

namespace kiv::block {

std::int32_t mold_nesting = 0;

namespace {

Cell root_block{};  // the root block's cell; its node is a collector root

constexpr std::int32_t cell_size = static_cast<std::int32_t>(sizeof(Cell));

bool clones_nested(TypeId t, bool any) {
    if (t == TypeId::block) return true;
    return any && (t == TypeId::paren || t == TypeId::path || t == TypeId::lit_path ||
                   t == TypeId::set_path || t == TypeId::get_path);
}

// True when a, compared as find compares (value's own type), equals b.
bool find_equal(const Cell& value, const Cell& candidate) {
    auto compare = registry::handler<Action::compare>(value.type());
    if (compare == nullptr) return false;
    Cell a = value, b = candidate;
    return compare(&a, &b, CompareOp::find) == 0;
}

}  // namespace

// --- Counting and navigation ----------------------------------------------------

std::int32_t count_from_head(const Cell& blk) { return length_of(blk) - blk.series_head(); }

bool advance(Cell& blk) {
    const std::int32_t len = length_of(blk);
    if (blk.series_head() + 1 <= len) blk.set_series_head(blk.series_head() + 1);
    return blk.series_head() >= len;
}

Cell* head_cell(Cell& blk) {
    const std::int32_t len = length_of(blk);
    if (blk.series_head() > len) blk.set_series_head(len);
    return first_cell(blk) + std::max(blk.series_head(), 0);
}

Cell* tail_cell(const Cell& blk) {
    return reinterpret_cast<Cell*>(memory::buffer(blk.series_node())->tail);
}

bool at_tail_q(const Cell& blk) { return blk.series_head() >= length_of(blk); }

Cell* get_cell(const Cell& blk, std::int32_t index) { return first_cell(blk) + index; }

void clear_from_head(Cell& blk) {
    SeriesBuffer* buf = memory::buffer(blk.series_node());
    buf->tail = reinterpret_cast<std::uint8_t*>(head_cell(blk));
    memory::touch(blk.series_node());
}

void set_tail(const Cell& blk, std::int32_t n) {
    SeriesBuffer* buf = memory::buffer(blk.series_node());
    KIV_ASSERT(n >= 0 && buf->head + static_cast<std::ptrdiff_t>(n) * cell_size <= buf->data_end(),
               "block tail within its capacity");
    buf->tail = buf->head + static_cast<std::ptrdiff_t>(n) * cell_size;
    memory::touch(blk.series_node());
}

void remove_last(Cell& blk) {
    SeriesBuffer* buf = memory::buffer(blk.series_node());
    if (buf->tail > buf->head) buf->tail -= cell_size;
    memory::touch(blk.series_node());
    if (blk.series_head() > length_of(blk)) blk.set_series_head(length_of(blk));
}

// --- Making ---------------------------------------------------------------------

void make_at(Cell& cell, std::int32_t n) {
    cell.reset(TypeId::unset);  // the collector never sees a block without a buffer
    const NodeId node = memory::alloc_series(std::max(n, 1), sizeof(Cell), 0);
    cell.set_series_node(node);
    cell.set_type(TypeId::block);
}

void make_at_filled(Cell& cell, std::int32_t n, bool fixed) {
    n = std::max(n, 1);
    cell.reset(TypeId::unset);
    const NodeId node = fixed ? memory::alloc_fixed_series(n, sizeof(Cell), 0)
                              : memory::alloc_series(n, sizeof(Cell), 0);
    SeriesBuffer* buf = memory::buffer(node);
    Cell* cells = reinterpret_cast<Cell*>(buf->head);
    for (std::int32_t i = 0; i < n; ++i) cells[i].reset(TypeId::unset);
    buf->tail = buf->head + static_cast<std::ptrdiff_t>(n) * cell_size;
    cell.set_series_node(node);
    cell.set_type(TypeId::block);
}

Cell* make_fixed_in(const Cell* parent, std::int32_t n) {
    const Cell owner = parent ? *parent : root();
    Cell made{};
    make_at_filled(made, n, true);
    return append_copy(owner, made);
}

Cell* make_in(const Cell* parent, std::int32_t n) {
    const Cell owner = parent ? *parent : root();
    Cell made{};
    make_at(made, n);
    return append_copy(owner, made);
}

void clone(Cell& out, const Cell& src, bool deep, bool any) {
    const Cell source = src;
    const std::int32_t head = clamped_head(source);
    const std::int32_t count = length_of(source) - head;
    Cell copy{};
    make_at(copy, count);
    std::memcpy(first_cell(copy), first_cell(source) + head, static_cast<std::size_t>(count) * sizeof(Cell));
    set_tail(copy, count);
    copy.set_header_from(source);  // keeps the type and the new-line marker
    if (deep) {
        // A block that contains itself would clone without end: the cycle
        // stack bounds the nesting and raises too-deep instead.
        cycles::Guard guard(source.series_node());
        for (std::int32_t i = 0; i < count; ++i) {
            const Cell nested = *get_cell(copy, i);
            if (!clones_nested(nested.type(), any)) continue;
            Cell cloned{};
            clone(cloned, nested, deep, any);
            *get_cell(copy, i) = cloned;
        }
    }
    out = copy;
}

// --- Adding and removing ----------------------------------------------------------

Cell* append_copy(const Cell& blk, const Cell& value) {
    const Cell v = value;
    Cell* cell = buffer::append_cell(blk.series_node());
    *cell = v;
    return cell;
}

void append_cells(const Cell& target, const Cell& source) {
    const Cell src = source;
    const Cell dst = target;
    const std::int32_t head = clamped_head(src);
    const std::int32_t count = length_of(src) - head;
    if (count <= 0) return;
    const std::int32_t bytes = count * cell_size;
    const std::int32_t from = head * cell_size;  // offset, since growth may move a shared buffer
    std::uint8_t* at = buffer::grow_tail(dst.series_node(), bytes);
    std::memmove(at, memory::buffer(src.series_node())->head + from, static_cast<std::size_t>(bytes));
}

Cell* insert_value(Cell& blk, const Cell& value, bool from_first, bool advance) {
    const Cell v = value;
    const std::int32_t pos = from_first ? 0 : clamped_head(blk);
    const std::int32_t len = length_of(blk);
    buffer::grow_tail(blk.series_node(), cell_size);
    Cell* at = first_cell(blk) + pos;
    std::memmove(at + 1, at, static_cast<std::size_t>(len - pos) * sizeof(Cell));
    *at = v;
    if (advance) blk.set_series_head(pos + 1);
    return at;
}

void insert_cells(Cell& target, const Cell& source) {
    const Cell src = source;
    const std::int32_t head = clamped_head(src);
    const std::int32_t count = length_of(src) - head;
    for (std::int32_t i = 0; i < count; ++i) {
        const Cell v = *get_cell(src, head + i);  // the source may be the target itself
        insert_value(target, v, false, true);
    }
}

bool remove_value(const Cell& blk, const Cell& value, bool from_first) {
    const std::int32_t len = length_of(blk);
    for (std::int32_t i = from_first ? 0 : clamped_head(blk); i < len; ++i) {
        if (!find_equal(value, *get_cell(blk, i))) continue;
        Cell* at = get_cell(blk, i);
        std::memmove(at, at + 1, static_cast<std::size_t>(len - i - 1) * sizeof(Cell));
        memory::buffer(blk.series_node())->tail -= cell_size;
        memory::touch(blk.series_node());
        return true;
    }
    return false;
}

// --- Looking up -----------------------------------------------------------------------

const Cell& select_value(const Cell& blk, const Cell& value) {
    const std::int32_t len = length_of(blk);
    for (std::int32_t i = clamped_head(blk); i + 1 < len; ++i)
        if (find_equal(value, *get_cell(blk, i))) return *get_cell(blk, i + 1);
    return none::value;
}

const Cell& select_word(const Cell& blk, const Cell& word, bool exact) {
    const std::int32_t len = length_of(blk);
    const std::uint32_t sym = exact ? word.word_symbol() : symbol::resolve_alias(word.word_symbol());
    for (std::int32_t i = clamped_head(blk); i + 1 < len; ++i) {
        const Cell* c = get_cell(blk, i);
        const TypeId t = c->type();
        if (t != TypeId::word && t != TypeId::set_word && t != TypeId::lit_word && t != TypeId::get_word)
            continue;
        const std::uint32_t other = exact ? c->word_symbol() : symbol::resolve_alias(c->word_symbol());
        if (other == sym) return *get_cell(blk, i + 1);
    }
    return none::value;
}

void copy_matching_in_place(const Cell& blk, std::int32_t begin, std::int32_t end,
                            std::int32_t step, bool deep, const Cell& types) {
    const Cell b = blk;
    for (std::int32_t i = begin; i < std::min(end, length_of(b)); i += std::max(step, 1)) {
        Cell c = *get_cell(b, i);
        const TypeId t = c.type();
        const bool wanted = types.is(TypeId::datatype) ? types.datatype_id() == t
                                                       : typeset::contains(types, t);
        if (!wanted) continue;
        switch (t) {
        case TypeId::block: case TypeId::paren: case TypeId::hash: case TypeId::path:
        case TypeId::lit_path: case TypeId::set_path: case TypeId::get_path:
        case TypeId::string: case TypeId::file: case TypeId::url: case TypeId::tag:
        case TypeId::email: case TypeId::ref: case TypeId::binary: case TypeId::vector:
        case TypeId::image: case TypeId::bitset: case TypeId::object: case TypeId::error:
        case TypeId::map:
            break;
        default:
            continue;
        }
        auto copier = registry::handler<Action::copy>(t);
        if (copier == nullptr) continue;
        const Cell* made = copier(&c, nullptr, deep, nullptr);
        const Cell result = *made;
        *get_cell(b, i) = result;  // the copy may have moved nothing here: b's node is stable
        memory::touch(b.series_node());
    }
}

// --- Mold walk --------------------------------------------------------------------------

std::int32_t mold_indent(NodeId out, std::int32_t level, std::int32_t budget) {
    for (std::int32_t i = 0; i < level; ++i) string::append_nul_text(out, "    ");
    return budget - 4 * std::max(level, 0);
}

std::int32_t mold_cells(const Cell& blk, NodeId out, MoldOptions options,
                        Cell* part, std::int32_t budget, std::int32_t indent) {
    const Cell b = blk;
    cycles::Guard guard(b.series_node());
    bool closing_break = false;
    const std::int32_t head = clamped_head(b);
    for (std::int32_t i = head; i < length_of(b); ++i) {  // molding may change the block
        if (part != nullptr && budget < 1) return budget;
        Cell cell = *get_cell(b, i);
        const bool first = i == head;
        ++mold_nesting;
        if (!options.flat && cell.new_line()) {
            if (first && !options.only) {
                ++indent;
                closing_break = true;
            }
            if (!(first && options.only)) {
                string::append_char(out, '\n');
                --budget;
            }
            budget = mold_indent(out, indent, budget);
        } else if (!first) {
            string::append_char(out, ' ');
            --budget;
        }
        auto mold = registry::handler<Action::mold>(cell.type());
        KIV_ASSERT(mold != nullptr, "every datatype molds");
        budget = mold(&cell, out, options.nested(), part, budget, indent);
        --mold_nesting;
    }
    if (closing_break) {
        --indent;
        string::append_char(out, '\n');
        budget = mold_indent(out, indent, budget - 1);
    }
    return budget;
}

namespace {
// True when the text of out ends in a tab, a line feed or a carriage return.
bool ends_in_break(NodeId out) {
    const SeriesBuffer* b = memory::buffer(out);
    const std::uint32_t unit = b->unit();
    if (b->tail - b->head < static_cast<std::ptrdiff_t>(unit)) return false;
    const std::uint32_t cp = string::get_char(b->tail - unit, unit);
    return cp == '\t' || cp == '\n' || cp == '\r';
}
}  // namespace

std::int32_t form_cells(const Cell& blk, NodeId out, Cell* part, std::int32_t budget) {
    const Cell b = blk;
    cycles::Guard guard(b.series_node());
    const std::int32_t head = clamped_head(b);
    for (std::int32_t i = head; i < length_of(b); ++i) {
        if (part != nullptr && budget < 1) break;
        Cell cell = *get_cell(b, i);
        if (i != head && !ends_in_break(out)) {
            string::append_char(out, ' ');
            --budget;
        }
        auto form = registry::handler<Action::form>(cell.type());
        KIV_ASSERT(form != nullptr, "every datatype forms");
        budget = form(&cell, out, part, budget);
    }
    return budget;
}

void init() { register_actions(); }

// --- The root block -------------------------------------------------------------------

void init_root() {
    make_at(root_block, 1000);
    collector::set_root_node(collector::RootStep::root_block, root_block.series_node());
}

const Cell& root() {
    KIV_ASSERT(root_block.is(TypeId::block), "block::init made the root block");
    return root_block;
}

}  // namespace kiv::block
