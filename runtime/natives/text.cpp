// Text kernels of the library: split, rejoin and the one-pass replace/all of
// texts, blocks and binaries. They do in one walk what the library
// once did value by value, with the same results; the text work itself is
// string_actions' (split, replace_all).
#include "runtime/evaluator/natives.h"

#include "runtime/datatypes/block.h"
#include "runtime/datatypes/context.h"
#include "runtime/datatypes/function.h"
#include "runtime/datatypes/logic.h"
#include "runtime/datatypes/string.h"
#include "runtime/datatypes/string_actions.h"
#include "runtime/datatypes/vector.h"
#include "runtime/evaluator/actions.h"
#include "runtime/evaluator/stack.h"
#include "runtime/evaluator/tracing.h"
#include "runtime/core/memory.h"

#include <cstring>

namespace kiv::natives {
namespace {

using stack::arg;

bool series_type_q(TypeId t) {
    return is_any_block_type(t) || is_any_string_type(t) || t == TypeId::binary || t == TypeId::image ||
           t == TypeId::vector;
}

void split(bool check, const std::int32_t*) {
    const Cell series = *arg(0);
    const Cell delimiter = *arg(1);
    if (check) {
        if (!is_any_string_type(series.type())) expect_arg("split", series, "series");
        if (!delimiter.is(TypeId::string) && !delimiter.is(TypeId::char_) && !delimiter.is(TypeId::bitset))
            expect_arg("split", delimiter, "dlm");
    }
    Cell out{};
    string::split(series, delimiter, out);
    stack::set_result_only(out);
}

// Types rejoin takes without the evaluator: values a word gives as they
// stand and whose form runs no code (literal: also ones the code itself gives
// unchanged). Anything else goes through reduce.
constexpr std::uint64_t type_bit(TypeId t) { return std::uint64_t{1} << static_cast<unsigned>(t); }
constexpr std::uint64_t literal_types =
    type_bit(TypeId::integer) | type_bit(TypeId::float_) | type_bit(TypeId::char_) |
    type_bit(TypeId::string) | type_bit(TypeId::file) | type_bit(TypeId::url) | type_bit(TypeId::tag) |
    type_bit(TypeId::email) | type_bit(TypeId::issue) | type_bit(TypeId::percent) |
    type_bit(TypeId::money) | type_bit(TypeId::pair) | type_bit(TypeId::tuple) |
    type_bit(TypeId::time) | type_bit(TypeId::date);
constexpr std::uint64_t word_value_types = literal_types | type_bit(TypeId::logic) | type_bit(TypeId::none);
bool in(std::uint64_t types, TypeId t) { return (types & type_bit(t)) != 0; }

// At most this many values are read straight; a longer block is reduced.
constexpr std::int32_t max_plain = 16;

// Reads the n values of cells into out when every one is a single cell the
// evaluator would give unchanged: a literal, or a word holding a value, with
// no operator after it. False when one is not, or while tracing (the tracer
// sees every step of the reduce).
bool read_plain(const Cell* cells, std::int32_t n, Cell* out) {
    if (n > max_plain || tracing::state.on) return false;
    for (std::int32_t i = 0; i < n; ++i) {
        const Cell& c = cells[i];
        if (c.is(TypeId::word)) {
            const Cell* v = context::peek_word_cell(c);
            if (v == nullptr || !in(word_value_types, v->type())) return false;
            out[i] = *v;
        } else if (in(literal_types, c.type())) {
            out[i] = c;
        } else {
            return false;
        }
        if (i + 1 < n && cells[i + 1].is(TypeId::word)) {  // an operator would take the value as its left operand
            const Cell* next = context::peek_word_cell(cells[i + 1]);
            if (next == nullptr || next->is(TypeId::op)) return false;
        }
    }
    return true;
}

// rejoin of plain values (read_plain): a copy of the first when it is a text,
// else its form, with the form of each other value appended.
void join_plain(Cell* values, std::int32_t n) {
    std::int32_t room = 0;
    for (std::int32_t i = 0; i < n; ++i)
        room += is_any_string_type(values[i].type()) ? string::length_from_head(values[i]) : 12;
    Cell& first = values[0];
    Cell out{};
    std::int32_t from = 1;
    if (is_any_string_type(first.type())) {
        const std::uint32_t unit = memory::buffer(first.series_node())->unit();
        const std::size_t bytes = static_cast<std::size_t>(string::length_from_head(first)) * unit;
        string::make_at_unit(out, room, unit);
        SeriesBuffer* dst = memory::buffer(out.series_node());  // a new buffer moves no other
        if (bytes > 0) std::memcpy(dst->head, string::head_pointer(first), bytes);
        dst->tail = dst->head + bytes;
        out.set_type(first.type());
    } else {
        string::make_at(out, room);
        from = 0;
    }
    const NodeId node = out.series_node();
    for (std::int32_t i = from; i < n; ++i) actions::form_to(&values[i], node, -1);
    stack::set_result_only(out);
}

// rejoin: the reduced values joined onto a copy of the first when it is a
// series, else onto its form; an empty block comes back as it is.
void rejoin(bool check, const std::int32_t*) {
    if (check && !arg(0)->is(TypeId::block)) expect_arg("rejoin", *arg(0), "block");
    const Cell blk = *arg(0);
    const std::int32_t count = block::count_from_head(blk);
    Cell plain[max_plain];
    if (count > 0 && read_plain(block::cell_at(blk.series_node(), block::clamped_head(blk)), count, plain))
        return join_plain(plain, count);
    Cell* values = reduce_block(blk);
    const std::int32_t n = block::count_from_head(*values);
    if (n <= 0) return stack::set_result_only(*values);
    Cell first = *block::first_cell(*values);
    if (series_type_q(first.type()) && !is_any_string_type(first.type())) {
        Cell* target = stack::push(first);
        *target = *actions::lookup<Action::copy>(first)(target, nullptr, false, nullptr);
        Cell* rest = stack::push(*values);
        rest->set_series_head(1);
        return stack::set_result_only(*actions::lookup<Action::append>(*target)(target, rest, -1, false, 1));
    }
    Cell* target = stack::push(first);
    if (is_any_string_type(first.type())) {
        *target = *actions::lookup<Action::copy>(first)(target, nullptr, false, nullptr);
    } else {
        string::make_at(*target, 16);
        actions::form_to(&first, target->series_node(), -1);
    }
    const NodeId out = target->series_node();
    for (std::int32_t i = 1; i < n; ++i) {
        Cell v = *block::get_cell(*values, i);
        actions::form_to(&v, out, -1);
    }
    stack::set_result_only(*target);
}

// replace-all* series pattern value case?: replace/all of a text or a
// character set in a text by a value that is not a function (a set matches
// its characters exactly, as parse does); false when the text has an owner
// (the library then changes it match by match, so the owner hears of each).
void replace_all(Cell* args) {
    if (!is_any_string_type(args[0].type())) expect_arg("replace-all*", args[0], "series");
    if (!is_any_string_type(args[1].type()) && !args[1].is(TypeId::bitset)) expect_arg("replace-all*", args[1], "pattern");
    Cell series = args[0];
    const bool done = string::replace_all(series, args[1], args[2], !args[3].is(TypeId::none) &&
                                                                        !(args[3].is(TypeId::logic) && args[3].logic_value() == 0));
    logic::make_at(args[0], done);
}

// Whether a vector of the element type stores value in one element without
// an error (numbers of its own kind: integers wrap, floats round).
bool stored_as_is(const Cell& value, TypeId element) {
    const auto whole = [](TypeId t) { return t == TypeId::integer || t == TypeId::char_; };
    const auto fraction = [](TypeId t) { return t == TypeId::float_ || t == TypeId::percent; };
    return whole(element) ? whole(value.type()) : fraction(element) && fraction(value.type());
}

// replace-values* series pattern value size case?: replace/all in a block, a
// binary or a vector, size values a match, by a value that is not a function.
// The pieces between the matches and the value after each are appended to a
// new series, which then takes the series' place from its head: the tail
// moves once, not once a match. Each piece is appended as change would have
// put it and each search starts after the last change, as the match-by-match
// loop did. A vector's matches are changed where they lie (a number stored
// in one element moves nothing after it). False, with nothing done, when the
// series has an owner, which must hear of each change, when the value is the
// series itself, which each change grows, or when a vector would not store
// the value as one element of its own kind (the library's loop raises what
// change raises).
void replace_values(Cell* args) {
    const Cell series = args[0], pattern = args[1], value = args[2];
    const TypeId t = series.type();
    if (!is_any_block_type(t) && t != TypeId::binary && t != TypeId::vector)
        expect_arg("replace-values*", series, "series");
    if (!args[3].is(TypeId::integer)) expect_arg("replace-values*", args[3], "size");
    const std::int32_t size = args[3].int_value();
    const NodeId node = series.series_node();
    if (size < 1 || (memory::buffer(node)->flags & memory::flag_owned) != 0 ||
        (series_type_q(value.type()) && value.series_node() == node) ||
        (t == TypeId::vector && !stored_as_is(value, vector::element_type(series)))) {
        logic::make_at(args[0], false);
        return;
    }
    const FindRefinements how{.case_ = !args[4].is(TypeId::none) &&
                                       !(args[4].is(TypeId::logic) && args[4].logic_value() == 0)};
    const auto find = actions::lookup<Action::find>(series);
    // The index of the next match at or after from, or -1.
    auto next = [&](std::int32_t from) {
        Cell at = series, p = pattern;
        at.set_series_head(from);
        const Cell* found = find(&at, &p, how);
        return found->is(TypeId::none) ? -1 : found->series_head();
    };
    std::int32_t match = next(series.series_head());
    if (match < 0) return logic::make_at(args[0], true);
    if (t == TypeId::vector) {  // vector pieces cannot be appended: each match is changed where it lies
        const auto change = actions::lookup<Action::change>(series);
        for (; match >= 0; match = next(match)) {
            Cell at = series, v = value;
            at.set_series_head(match);
            match = change(&at, &v, size, false, 1)->series_head();
        }
        return logic::make_at(args[0], true);
    }
    // A block's pieces go cell by cell into a plain block (appending a piece
    // as a value would copy all the cells after it first); a binary's go
    // through append, which copies just the piece.
    const bool cells = is_any_block_type(t);
    Cell made{};
    if (cells) {
        block::make_at(made, block::count_from_head(series) + 8);
    } else {
        Cell nothing{}, empty = series;   // copy/part of nothing: an empty binary
        nothing.reset(TypeId::integer);
        nothing.set_int(0);
        made = *actions::lookup<Action::copy>(empty)(&empty, &nothing, false, nullptr);
    }
    const Cell result = *stack::push(made);
    const auto append = actions::lookup<Action::append>(result);
    auto add_piece = [&](std::int32_t from, std::int32_t to) {  // to < 0: up to the tail
        if (cells) {
            const std::int32_t end = to < 0 ? block::length_of(series) : to;
            for (std::int32_t i = from; i < end; ++i) block::append_copy(result, *block::get_cell(series, i));
            return;
        }
        Cell out = result, piece = series;
        piece.set_series_head(from);
        if (to < 0 || to > from) append(&out, &piece, to < 0 ? -1 : to - from, false, 1);
    };
    std::int32_t from = series.series_head();
    for (; match >= 0; match = next(from)) {
        add_piece(from, match);
        Cell out = result, v = value;
        append(&out, &v, -1, false, 1);
        from = match + size;
    }
    add_piece(from, -1);
    Cell target = series;
    const std::int32_t length = actions::length_q(&target);
    target = series;
    Cell out = result;
    actions::lookup<Action::change>(target)(&target, &out, length, false, 1);
    stack::pop(1);
    logic::make_at(args[0], true);
}

}  // namespace

void register_text() {
    set(Native::split, split);
    set(Native::rejoin, rejoin);
    routine::add("replace-all*", replace_all);
    routine::add("replace-values*", replace_values);
}

}  // namespace kiv::natives
