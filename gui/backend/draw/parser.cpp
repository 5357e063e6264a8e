// The draw dialect's parser: the word table, argument reading, the dialect's
// errors and the walk over a draw block.
#include "gui/backend/draw/context.h"

#include "runtime/core/collector.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/context.h"
#include "runtime/datatypes/cycles.h"
#include "runtime/datatypes/error.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/datatypes/word.h"
#include "runtime/core/raise.h"
#include "runtime/datatypes/system_object.h"
#include "runtime/startup/boot.h"
#include "runtime/startup/embed.h"

#include <cmath>
#include <unordered_map>

namespace kiv::draw {

namespace {

// Canonical symbol id to name, built at the first draw.
const std::unordered_map<symbol::SymbolId, Name>& names() {
    static const std::unordered_map<symbol::SymbolId, Name> table = [] {
        std::unordered_map<symbol::SymbolId, Name> t;
#define KIV_DRAW_ENTRY(id, text) t.emplace(symbol::resolve_alias(symbol::make(text)), Name::id);
        KIV_DRAW_NAMES(KIV_DRAW_ENTRY)
#undef KIV_DRAW_ENTRY
        return t;
    }();
    return table;
}

bool silent() {
    const Cell* silent = system_object::field("view/silent?");
    return silent != nullptr && silent->is(TypeId::logic) && silent->logic_value() != 0;
}

// Reports the error as the pass wants it; never returns.
[[noreturn]] void report(Context& dc, ErrorCategory category, const char* id, const Cell& arg) {
    cycles::reset();
    if (silent()) throw DrawStop{};
    if (dc.on_error == OnError::print) {
        Cell error{};
        error::build(error, category, id, &arg);
        collector::Root keep(error);
        embed::print(boot::report(error), true);
        throw DrawStop{};
    }
    throw DrawStop{Failure{category, id, arg}};
}

bool finite_number(const Cell& v) {
    if (v.is(TypeId::integer)) return true;
    return (v.is(TypeId::float_) || v.is(TypeId::percent)) && std::isfinite(v.f64());
}

bool finite_point(const Cell& v) {
    if (v.is(TypeId::pair)) return true;
    return v.is(TypeId::point2d) && std::isfinite(v.point_coord(0)) && std::isfinite(v.point_coord(1));
}

// The value a word stands for, or null.
const Cell* word_value(const Cell& word) {
    if (!word.is(TypeId::word)) return nullptr;
    return context::peek_word_cell(word);
}

}  // namespace

Name name_of(const Cell& word) {
    if (!word::is_any_word(word.type())) return Name::none;
    const auto& t = names();
    const auto found = t.find(symbol::resolve_alias(word.word_symbol()));
    return found == t.end() ? Name::none : found->second;
}

double number_of(const Cell& value) {
    return value.is(TypeId::integer) ? value.int_value() : value.f64();
}

Point point_of(const Cell& value) {
    if (value.is(TypeId::pair)) return {static_cast<double>(value.pair_x()), static_cast<double>(value.pair_y())};
    return {value.point_coord(0), value.point_coord(1)};
}

[[noreturn]] void draw_error(Context& dc, const Cell& block, std::int32_t index) {
    Cell at = block;
    at.set_series_head(index);
    const Cell* bad = index < block::length_of(block) ? block::first_cell(block) + index : nullptr;
    if (bad != nullptr && bad->is(TypeId::block) && bad->series_node() == block.series_node())
        report(dc, ErrorCategory::script, "draw-infinite", *bad);
    report(dc, ErrorCategory::script, "draw-invalid", at);
}

void draw_infinite(Context& dc, const Cell& block) { report(dc, ErrorCategory::script, "draw-infinite", block); }

CycleEntry::CycleEntry(Context& dc, const Cell& block) : depth_(cycles::depth()) {
    if (cycles::find(block.series_node())) draw_infinite(dc, block);
    // The stack's own limit raises; here the same error is given back.
    if (depth_ + 1 >= cycles::limit) report(dc, ErrorCategory::internal, "too-deep", Cell::fresh(TypeId::none));
    cycles::push(block.series_node());
}

CycleEntry::~CycleEntry() {
    if (cycles::depth() > depth_) cycles::drop(cycles::depth() - depth_);
}

// --- Cursor ----------------------------------------------------------------------

Cursor::Cursor(Context& context, const Cell& blk)
    : dc(context), block(blk), at(block::clamped_head(blk)), end(block::length_of(blk)) {}

const Cell& Cursor::peek() const { return block::first_cell(block)[at]; }

const Cell& Cursor::take() {
    if (!more()) fail();
    return block::first_cell(block)[at++];
}

void Cursor::fail_at(std::int32_t index) const { draw_error(dc, block, std::min(index, end)); }

bool Cursor::point_next() const { return more() && finite_point(peek()); }
bool Cursor::number_next() const {
    return more() && (peek().is(TypeId::integer) || peek().is(TypeId::float_)) && finite_number(peek());
}
bool Cursor::scale_next() const { return more() && finite_number(peek()); }
bool Cursor::integer_next() const { return more() && peek().is(TypeId::integer); }
bool Cursor::block_next() const { return more() && peek().is(TypeId::block); }
bool Cursor::colour_next() const {
    if (!more()) return false;
    if (peek().is(TypeId::tuple)) return true;
    const Cell* v = word_value(peek());
    return v != nullptr && v->is(TypeId::tuple);
}
bool Cursor::name_next(Name n) const { return more() && peek().is(TypeId::word) && name_of(peek()) == n; }
Name Cursor::word_name_next() const { return more() && peek().is(TypeId::word) ? name_of(peek()) : Name::none; }

Point Cursor::point() {
    if (!point_next()) fail();
    return point_of(take());
}

double Cursor::number() {
    if (!number_next()) fail();
    return number_of(take());
}

double Cursor::scale() {
    if (!scale_next()) fail();
    return number_of(take());
}

std::uint32_t Cursor::colour() {
    if (!colour_next()) fail();
    const Cell& v = take();
    return pack_colour(v.is(TypeId::tuple) ? v : *word_value(v));
}

Cell Cursor::block_value() {
    if (!block_next()) fail();
    return take();
}

void Cursor::set_word() {
    // Stored straight in the word's value cell: nothing is evaluated while
    // drawing (no change notification), so the block stays as it is.
    Cell* value = context::peek_word_cell(peek());
    if (value == nullptr) fail();
    Cell rest = block;
    rest.set_series_head(++at);
    *value = rest;
}

Name Cursor::word() {
    if (!more() || !peek().is(TypeId::word)) fail();
    return name_of(take());
}

// --- The walk ------------------------------------------------------------------------

namespace {

void parse_push(Cursor& c) {
    const Cell nested = c.block_value();
    StateGuard guard(c.dc);
    parse_draw(c.dc, nested);
}

}  // namespace

void parse_draw(Context& dc, const Cell& block) {
    CycleEntry entry(dc, block);
    Cursor c(dc, block);
    while (c.more()) {
        const Cell& value = c.peek();
        if (value.is(TypeId::block)) {
            const Cell nested = c.take();
            parse_draw(dc, nested);
            continue;
        }
        if (value.is(TypeId::set_word)) {
            c.set_word();
            continue;
        }
        if (!value.is(TypeId::word)) c.fail();
        const Name keyword = name_of(value);
        if (keyword == Name::none || keyword > Name::push) c.fail();
        c.at++;
        switch (keyword) {
            case Name::pen: parse_pen(c, false); break;
            case Name::fill_pen: parse_pen(c, true); break;
            case Name::push: parse_push(c); break;
            case Name::clip: parse_clip(c); break;
            case Name::rotate:
            case Name::scale:
            case Name::translate:
            case Name::skew:
            case Name::transform:
            case Name::matrix:
            case Name::reset_matrix:
            case Name::invert_matrix: parse_transform(c, keyword); break;
            default: parse_command(c, keyword); break;
        }
        dc.previous = keyword;
    }
}

}  // namespace kiv::draw
