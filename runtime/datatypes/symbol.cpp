// The symbol table: a block of symbol! cells (in the root block) indexed by a
// kind-2 hash table that probes one chain for all case variants of a name.
// Ids are never reused; a symbol's name string is decoded on first use.
#include "runtime/datatypes/symbol.h"

#include "runtime/core/assert.h"
#include "runtime/text/case_folding.h"
#include "runtime/core/collector.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/hashtable.h"
#include "runtime/datatypes/string.h"
#include "runtime/text/unicode.h"

#include <cstring>
#include <string>

namespace kiv::symbol {

namespace {

NodeId index_table = 0;   // the kind-2 index; its value block holds the symbols

NodeId symbol_block() { return hashtable::values_of(index_table); }

Cell* cell_of(SymbolId id) {
    KIV_ASSERT(id >= 1 && static_cast<std::int32_t>(id) <= count(), "symbol id out of range");
    auto* first = reinterpret_cast<Cell*>(memory::buffer(symbol_block())->head);
    return first + (id - 1);
}

void mark_index() { hashtable::mark(index_table); }

// Next code point of a UTF-8 name (malformed bytes read as themselves).
std::uint32_t next_char(const std::uint8_t*& p, const std::uint8_t* end) {
    std::int32_t cp = 0;
    const std::uint8_t* start = p;
    p = unicode::decode_utf8_char(p, end, &cp);
    return cp < 0 ? *start : static_cast<std::uint32_t>(cp);
}

}  // namespace

void init_table(std::int32_t size) {
    index_table = hashtable::create(size, nullptr, hashtable::Kind::words);
    hashtable::set_symbol_block(symbol_block());
    Cell blk{};
    blk.reset(TypeId::block);
    blk.set_series_node(symbol_block());
    block::append_copy(block::root(), blk);  // the root block keeps the symbols
    collector::set_root(collector::RootStep::symbol_index, mark_index);
}

SymbolId make(const char* name) {
    return make_from_utf8(name, static_cast<std::int32_t>(std::strlen(name)));
}

SymbolId make_from_utf8(const char* bytes, std::int32_t length) {
    KIV_ASSERT(index_table != 0, "symbol table used before init_table");
    return hashtable::find_or_add_symbol(index_table, bytes, length, false);
}

SymbolId make_folded(const char* name) {
    KIV_ASSERT(index_table != 0, "symbol table used before init_table");
    return hashtable::find_or_add_symbol(index_table, name,
                                         static_cast<std::int32_t>(std::strlen(name)), true);
}

SymbolId make_from_string(Cell& text) {
    const std::string utf8 = string::utf8_of(text);
    return make_from_utf8(utf8.data(), static_cast<std::int32_t>(utf8.size()));
}

std::int32_t count() {
    if (index_table == 0) return 0;
    return memory::buffer(symbol_block())->used_bytes() / static_cast<std::int32_t>(sizeof(Cell));
}

Cell* get_entry(SymbolId id) {
    ensure_name_string(*cell_of(id));
    return cell_of(id);
}

NodeId ensure_name_string(Cell& entry) {
    if (entry.symbol_name_string() != 0) return entry.symbol_name_string();
    // Decoding allocates: find the entry again by its position afterwards.
    const auto* first = reinterpret_cast<Cell*>(memory::buffer(symbol_block())->head);
    const auto id = static_cast<SymbolId>(&entry - first + 1);
    const std::string_view n = name(id);
    const std::string bytes(n);
    const NodeId node = unicode::utf8_to_string(reinterpret_cast<const std::uint8_t*>(bytes.data()),
                                                static_cast<std::int32_t>(bytes.size()));
    cell_of(id)->set_symbol_name_string(node);
    return node;
}

std::string_view name(SymbolId id) {
    const SeriesBuffer* buf = memory::buffer(cell_of(id)->symbol_utf8());
    return {reinterpret_cast<const char*>(buf->head), static_cast<std::size_t>(buf->tail - buf->head)};
}


std::int32_t alias_of(SymbolId id) { return cell_of(id)->symbol_alias(); }

SymbolId resolve_alias(SymbolId id) {
    const std::int32_t alias = alias_of(id);
    return alias > 0 ? static_cast<SymbolId>(alias) : id;
}

namespace {

std::string_view utf8_name(const Cell& entry) {
    const SeriesBuffer* buf = memory::buffer(entry.symbol_utf8());
    return {reinterpret_cast<const char*>(buf->head), static_cast<std::size_t>(buf->tail - buf->head)};
}

// The two spellings compared by code point, folded to upper case unless op
// is one of the case-sensitive kinds.
std::int32_t compare_utf8(std::string_view na, std::string_view nb, CompareOp op) {
    const bool case_sensitive = op == CompareOp::strict_equal || op == CompareOp::case_sort ||
                                op == CompareOp::same;
    auto pa = reinterpret_cast<const std::uint8_t*>(na.data());
    auto pb = reinterpret_cast<const std::uint8_t*>(nb.data());
    const auto* ea = pa + na.size();
    const auto* eb = pb + nb.size();
    std::int32_t order = 0;
    while (order == 0 && pa < ea && pb < eb) {
        std::uint32_t ca = next_char(pa, ea), cb = next_char(pb, eb);
        if (!case_sensitive) {
            ca = case_folding::fold_char(ca, true);
            cb = case_folding::fold_char(cb, true);
        }
        order = (ca > cb) - (ca < cb);  // a plain difference of -2 would read as not comparable
    }
    if (order == 0) order = (pa < ea) - (pb < eb);  // a prefix sorts first
    if (is_equality(op)) return order == 0 ? 0 : 1;
    return order;
}

}  // namespace

std::int32_t compare_names(SymbolId a, SymbolId b, CompareOp op) {
    return compare_utf8(name(a), name(b), op);
}

std::int32_t compare(Cell* value1, Cell* value2, CompareOp op) {
    if (!value2->is(TypeId::symbol)) return not_comparable;
    return compare_utf8(utf8_name(*value1), utf8_name(*value2), op);
}

void init() {
    static constexpr registry::Registration r{TypeId::symbol, registry::table({
                                                  {Action::compare, compare},
                                              })};
    registry::register_type(r);
}

}  // namespace kiv::symbol
