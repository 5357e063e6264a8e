// The interpreter. Every level takes code as (block node, index) and re-reads
// cells after anything that may allocate or evaluate. A pending exit (see the
// header) makes each level return at once, leaving the stacks as the exit's
// unwinding set them; the public entries turn it into a throw at the border.
//
// Where frames are pushed, and why. A frame is the unit that errors, exits and
// the collector see, so one is pushed only where one of them needs it:
// - every call of a native, action, routine or function (named by the word
//   that called it: an error's `where` and the call trace read these names);
// - a set-word and a set-path while their value is evaluated (named frames
//   too: an error in the value names the word being set, as it always did);
// - an operator's call, also when the integer fast path below computes the
//   result after evaluating a paren or a call as its right operand.
// Blocks, parens, branch and loop bodies and function bodies push none: they
// run above the caller's top (eval_block_i). Working values live on the
// argument stack, where the collector marks them, not in linked roots.
//
// Most of the time goes to four places, each with a fast path that leaves
// the general code in charge of everything unusual:
// - eval_block_i: a set-word, set-path or expression of plain values and
//   integer operators computed in the block's loop (quick_expression);
// - eval_expr_i: a word read through its binding (peek_word_value), an
//   integer operator computed in place (fast_integer), a call of plain shape
//   made in one step (call_plain);
// - fetch_i: the call shape's positional arguments, for calls that name no
//   refinement (fetch_plain when every one is evaluated);
// - eval_path_i: object fields through the path caches.
// A block run more than once also gets a plan of decoded steps (see
// "Compiled steps"), which the block loop and the argument fetch run in
// place of these where they apply.
// The fast paths are off while tracing, so the tracer sees every event.
#include "runtime/evaluator/interpreter.h"

#include "runtime/core/assert.h"
#include "runtime/core/collector.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/datatype.h"
#include "runtime/datatypes/context.h"
#include "runtime/datatypes/error.h"
#include "runtime/datatypes/function.h"
#include "runtime/datatypes/hashtable.h"
#include "runtime/datatypes/integer.h"
#include "runtime/datatypes/logic.h"
#include "runtime/datatypes/none.h"
#include "runtime/datatypes/object.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/datatypes/typeset.h"
#include "runtime/datatypes/unset.h"
#include "runtime/datatypes/word.h"
#include "runtime/datatypes/words.h"
#include "runtime/evaluator/actions.h"
#include "runtime/evaluator/natives.h"
#include "runtime/evaluator/stack.h"
#include "runtime/evaluator/tracing.h"
#include "runtime/core/raise.h"
#include "runtime/core/runtime_error.h"

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstring>
#include <deque>
#include <vector>

namespace kiv::interpreter {
namespace {

using tracing::Event;

Cell code_cell{};            // the current-code cell (a collector root)
std::uint32_t pending = 0;   // thrown value of a pending exit, 0 when none

// Frames pushed by the interpreter: it returns at once on a pending exit.
constexpr std::uint32_t own_frame = stack::Frame::interpreted_flag | stack::Frame::poll_flag;
constexpr std::int32_t max_refinements = 32;

void mark_code_cell() { collector::mark_cell(code_cell); }

using block::cell_at;
using block::tail_of;
inline std::int32_t clamp_end(NodeId code, std::int32_t end) {
    if (code == 0) return 0;
    const std::int32_t tail = tail_of(code);
    return end < tail ? end : tail;
}
inline bool is_function_type(TypeId t) {
    return t == TypeId::native || t == TypeId::action || t == TypeId::function ||
           t == TypeId::routine;
}
inline bool is_native_type(TypeId t) { return t == TypeId::native || t == TypeId::action; }

const Cell& body_word() { return words::word(words::Word::body); }
const Cell& anon_word() { return words::word(words::Word::anon); }

inline void push_or_result(const Cell& v, bool sub) {
    if (sub) stack::push(v);
    else stack::set_result_only(v);
}

Cell unset_cell() {
    Cell c;
    c.reset(TypeId::unset);
    return c;
}

// A block cell of code at index pos, for trace events and error arguments.
Cell block_at(NodeId code, std::int32_t pos) {
    Cell c;
    c.reset(TypeId::block);
    c.set_series_node(code);
    c.set_series_head(pos);
    return c;
}

// The value cell of a word bound to a context with values, or null.
inline Cell* peek_word_value(const Cell& word) { return context::peek_word_cell(word); }

// The value of a word met in code; the slow path raises the lookup errors.
inline Cell word_value(const Cell& word) {
    const Cell* slot = context::peek_word_cell(word);
    return slot != nullptr ? *slot : *context::get_word_cell(word);
}

// Saves the current-code cell and restores it on every way out.
class CodeScope {
public:
    CodeScope() : saved_(code_cell) {}
    ~CodeScope() { code_cell = saved_.cell(); }
    CodeScope(const CodeScope&) = delete;
    CodeScope& operator=(const CodeScope&) = delete;

private:
    collector::Root saved_;  // keeps the outer block alive while this one runs
};

// Points a stack context's values at the current base for a call; restores.
class StorageScope {
public:
    StorageScope(NodeId ctx, std::int32_t index) : ctx_(ctx), saved_(swap(ctx, index)) {}
    ~StorageScope() { swap(ctx_, saved_); }
    StorageScope(const StorageScope&) = delete;
    StorageScope& operator=(const StorageScope&) = delete;

private:
    // context::set_stack_values, inline: every call of a function! does it twice.
    static std::int32_t swap(NodeId ctx, std::int32_t index) {
        Cell& cc = *reinterpret_cast<Cell*>(memory::buffer(ctx)->head);  // the context cell
        const std::int32_t previous = cc.context_stack_index();
        cc.set_context_stack_index(index);
        return previous;
    }
    NodeId ctx_;
    std::int32_t saved_;
};

// simple_tried: the block loop has found a set-word's or set-path's value not
// simple (quick_expression), so the framed path runs at once.
std::int32_t eval_expr_i(NodeId code, std::int32_t pos, std::int32_t end, bool no_infix, bool sub,
                         bool literal_functions, bool simple_tried = false);
inline std::int32_t eval_operators(NodeId code, std::int32_t pos, std::int32_t end, bool no_infix, bool sub,
                                   Cell* start_top, std::int32_t start);
void eval_block_i(const Cell& blk, bool into_caller);
std::int32_t call_value_i(const Cell& fn, NodeId code, std::int32_t pos, std::int32_t end, bool sub,
                          const Cell* path, std::int32_t path_from, const Cell* name,
                          const Cell* owner, std::uint32_t mode, bool in_place);
std::int32_t eval_path_i(const Cell& path, NodeId code, std::int32_t pos, std::int32_t end,
                         PathMode mode, PathRecord* record);
void call_function_i(const Cell& fn, NodeId ctx, const Cell& name, std::uint32_t mask);
std::int32_t simple_value(NodeId code, std::int32_t pos, std::int32_t end, bool no_infix, Cell& out);
struct Plan;
Plan* plan_for(const Cell& blk);
inline void leave_plan(Plan* plan);
inline bool plan_live(const Plan* plan, NodeId code);
__attribute__((always_inline)) inline std::int32_t run_step(Plan& plan, NodeId code, std::int32_t pos);
struct Step;
// A call step's decoded argument at pos, run into the free cell at the top;
// the index after it, or -1 (nothing done) when the walker fetches it.
std::int32_t run_argument(const Step& call, std::int32_t i, NodeId code, std::int32_t pos);
std::int32_t set_word_simple(const Cell& sw, NodeId code, std::int32_t pos, std::int32_t end, bool sub);
std::int32_t set_path_simple(const Cell& sp, NodeId code, std::int32_t pos, std::int32_t end, bool sub);
bool object_field(const Cell& path, const Cell*& holder, std::int32_t& index);
inline const Cell* field_value(NodeId ctx, std::int32_t index);

// --- The argument cache ----------------------------------------------------------

// The cell of fn's extra block that keeps its argument cache.
inline Cell* cache_slot(const Cell& fn) { return cell_at(fn.code_extra(), 1); }

bool is_symbol(const Cell& w, symbol::SymbolId sym) {
    return symbol::resolve_alias(w.word_symbol()) == symbol::resolve_alias(sym);
}

// Values that evaluate to themselves with nothing to look up.
inline bool inert_argument(TypeId t) {
    return t == TypeId::block || t == TypeId::integer || t == TypeId::float_ ||
           t == TypeId::string || t == TypeId::char_;
}

// Types whose values a word yields as they stand: all but unset! (an error),
// op! and the function types (a call).
constexpr std::uint64_t type_bit(TypeId t) { return std::uint64_t{1} << static_cast<unsigned>(t); }
static_assert(type_count <= 64, "the datatype masks fit 64 bits");
constexpr std::uint64_t called_types = type_bit(TypeId::unset) | type_bit(TypeId::op) |
                                       type_bit(TypeId::native) | type_bit(TypeId::action) |
                                       type_bit(TypeId::function) | type_bit(TypeId::routine);
inline bool plain_value(TypeId t) { return (type_bit(t) & called_types) == 0; }

// How the argument that cache typeset ts stands for is fetched.
ArgKind arg_kind(const Cell& ts) { return static_cast<ArgKind>(ts.typeset_arg_kind()); }

// A call shape: what every call of a function value needs from its spec,
// compiled once, on the value's first call, into a byte series in the cell of
// the extra block where the cache slot is (the collector frees it with the
// function). The header below is followed by one cell per argument and
// refinement in spec order: a typeset! whose header carries the argument's
// kind and the index of its word in the spec (ArgKind), or a refinement!
// whose index is its ordinal (natives, actions) or its flag's slot (function!).
// Calls from code without refinements read the header and the leading
// typesets only; refinements, apply and paths walk the cells.
struct CallShape {
    std::int32_t cells;        // cells after the header
    std::int32_t positional;   // leading cells before the first refinement
    std::int32_t refinements;  // refinement cells
    std::int32_t locals;       // function!: /local and its words, 0 when none
    std::int32_t tail_cells;   // function!: cells pushed for the refinements and their arguments
    std::int32_t native;       // 1 for native! and action!: refinements go to the refs table
    std::int32_t plain;        // 1 when every positional cell is an evaluated argument
    std::int32_t unused;
};
static_assert(sizeof(CallShape) % sizeof(Cell) == 0, "the shape's cells stay aligned");

// The shape's header and cells; re-read after anything that may collect, as
// the collector may move the series.
inline const CallShape& shape_at(NodeId node) {
    return *reinterpret_cast<const CallShape*>(memory::buffer(node)->head);
}
inline const Cell* shape_cells(NodeId node) {
    return reinterpret_cast<const Cell*>(memory::buffer(node)->head + sizeof(CallShape));
}

NodeId build_cache(const Cell& fn) {
    const bool nat = is_native_type(fn.type()) ||
                     (fn.is(TypeId::op) && is_native_type(fn.op_source()));
    const NodeId spec = fn.code_spec();
    Cell cache;
    block::make_at(cache, 8);
    collector::Root keep(cache);
    const symbol::SymbolId local_sym = words::refinement(words::Ref::local).word_symbol();
    const symbol::SymbolId return_sym = words::id(words::Sym::return_);
    std::int32_t locals = 0, refinements = 0, slot = 0;
    std::int32_t n = tail_of(spec);
    for (std::int32_t i = 0; i < n; ++i) {
        const Cell c = *cell_at(spec, i);
        const TypeId t = c.type();
        if (t == TypeId::word || t == TypeId::get_word || t == TypeId::lit_word ||
            t == TypeId::set_word) {
            const bool ret = t == TypeId::set_word;
            if (ret && !is_symbol(c, return_sym))
                runtime::raise_error(ErrorCategory::script, "bad-func-def", &c);
            Cell* ts;
            if (i + 1 < n && cell_at(spec, i + 1)->is(TypeId::block) &&
                block::count_from_head(*cell_at(spec, i + 1)) > 0) {
                const Cell types = *cell_at(spec, i + 1);
                ts = typeset::make_from_spec_in(cache, types);
            } else {
                ts = typeset::make_default_in(cache);
            }
            const ArgKind kind = ret                       ? ArgKind::return_type
                                 : t == TypeId::get_word   ? ArgKind::get
                                 : t == TypeId::lit_word   ? ArgKind::literal
                                                           : ArgKind::evaluated;
            ts->set_typeset_arg(static_cast<std::uint32_t>(kind), static_cast<std::uint32_t>(i));
            if (!ret) ++slot;
        } else if (t == TypeId::refinement) {
            if (is_symbol(c, local_sym)) {
                std::int32_t j = i;
                while (j < n && !cell_at(spec, j)->is(TypeId::set_word)) ++j;
                locals = j - i;
                i = j;  // the set-word after the locals is skipped as well
                continue;
            }
            Cell* r = block::append_copy(cache, c);
            r->set_word_index(nat ? ++refinements : slot);  // ordinal, or the flag's slot
            ++slot;
        }
        n = tail_of(spec);
    }
    const std::int32_t count = tail_of(keep.cell().series_node());
    const NodeId node = memory::alloc_bytes(static_cast<std::int32_t>(sizeof(CallShape) + count * sizeof(Cell)));
    SeriesBuffer* buf = memory::buffer(node);
    buf->tail = buf->head + sizeof(CallShape) + count * sizeof(Cell);
    CallShape shape{};
    shape.cells = count;
    shape.positional = count;
    shape.locals = nat ? 0 : locals;
    shape.native = nat ? 1 : 0;
    Cell* const out = reinterpret_cast<Cell*>(buf->head + sizeof(CallShape));
    for (std::int32_t i = 0; i < count; ++i) {
        Cell e = *cell_at(keep.cell().series_node(), i);
        if (e.is(TypeId::refinement)) {
            e.set_word_context(0);  // the shape holds no references: only the symbol counts
            if (shape.refinements++ == 0) shape.positional = i;
            if (!nat) ++shape.tail_cells;
        } else if (i >= shape.positional && arg_kind(e) != ArgKind::return_type) {
            if (!nat) ++shape.tail_cells;  // a refinement's argument: none until given
        }
        out[i] = e;
    }
    shape.plain = 1;
    for (std::int32_t i = 0; i < shape.positional; ++i)
        if (arg_kind(out[i]) != ArgKind::evaluated) shape.plain = 0;
    std::memcpy(buf->head, &shape, sizeof shape);
    Cell made;
    made.reset(TypeId::binary);
    made.set_series_node(node);
    *cache_slot(fn) = made;
    return node;
}

// The shape of fn, compiled on its first call.
inline NodeId shape_of(const Cell& fn) {
    const Cell* slot = cache_slot(fn);
    return slot->is(TypeId::binary) ? slot->series_node() : build_cache(fn);
}
// The shape of fn when a call has compiled it, else 0 (the first call takes
// the general path, which compiles it under the call's frame).
inline NodeId built_shape(const Cell& fn) {
    const Cell* slot = cache_slot(fn);
    return slot->is(TypeId::binary) ? slot->series_node() : 0;
}

// --- Fetching arguments -------------------------------------------------------------


// The word of the argument that cache typeset ts stands for.
Cell argument_word(const Cell& fn, const Cell& ts) {
    Cell w = *cell_at(fn.code_spec(), static_cast<std::int32_t>(ts.typeset_arg_spec_index()));
    w.set_type(TypeId::word);
    return w;
}

void check_argument(const Cell& fn, const Cell& name, const Cell& ts, const Cell& value) {
    if (typeset::contains(ts, value.type())) return;
    const Cell dt = datatype::of(value.type());
    const Cell arg = argument_word(fn, ts);
    runtime::raise_error(ErrorCategory::script, "expect-arg", &name, &dt, &arg);
}

// Pushes one argument of the given kind from code at pos; returns the index after.
// evaluated: a whole expression, operators included unless no_infix (the right
// operand of an operator takes none); apply_one_value limits it to one cell.
// get: the cell as it stands. literal: the cell as it stands, except that a
// paren, a get-word or a get-path in that place is evaluated (a literal
// argument can still be computed on purpose).
std::int32_t fetch_one(const Cell& fn, const Cell& name, const Cell& ts, NodeId code,
                       std::int32_t pos, std::int32_t end, bool no_infix, std::uint32_t mode) {
    end = clamp_end(code, end);
    if (pos >= end) {
        const Cell arg = argument_word(fn, ts);
        runtime::raise_error(ErrorCategory::script, "no-arg", &name, &arg);
    }
    switch (arg_kind(ts)) {
    case ArgKind::evaluated:
        return eval_expr_i(code, pos, (mode & apply_one_value) ? pos + 1 : end, no_infix, true,
                           false);
    case ArgKind::get: {
        const Cell c = *cell_at(code, pos);
        tracing::trace(Event::fetch, code, pos, nullptr, &c);
        stack::push(c);
        tracing::trace(Event::push, code, pos, nullptr, &c);
        return pos + 1;
    }
    default: {
        Cell c = *cell_at(code, pos);
        if (c.is(TypeId::paren)) {
            eval_block_i(c, false);
            if (pending) return pos + 1;
        } else if (c.is(TypeId::get_word)) {
            stack::push(*context::get_word_cell(c));
        } else if (c.is(TypeId::get_path)) {
            eval_path_i(c, code, pos + 1, end, {.get = true, .sub = true}, nullptr);
        } else {
            stack::push(c);
        }
        return pos + 1;
    }
    }
}

// Finds the refinement named by item in the cache; returns its cache index.
bool has_refinements(NodeId cache) {
    for (std::int32_t i = 0, n = tail_of(cache); i < n; ++i)
        if (cell_at(cache, i)->is(TypeId::refinement)) return true;
    return false;
}

std::int32_t find_refinement(NodeId cache, const Cell& item, const Cell& name) {
    const std::int32_t n = shape_at(cache).cells;
    for (std::int32_t i = 0; i < n; ++i) {
        const Cell* e = shape_cells(cache) + i;
        if (e->is(TypeId::refinement) && is_symbol(*e, item.word_symbol())) return i;
    }
    runtime::raise_error(ErrorCategory::script, "no-refine", &name, &item);  // as written: zz in a path
}

// The end of every argument fetch: a native or action runs now; a function!
// gets its local slots (the /local flag false, the rest none).
std::int32_t finish_fetch(const Cell& fn, NodeId code, std::int32_t pos, const Cell& name,
                          bool nat, std::int32_t locals, const std::int32_t* refs) {
    tracing::trace(Event::call, code, code ? pos : -1, &name, &fn);
    if (nat) {
        if (fn.is(TypeId::native)) {
            natives::Entry entry = natives::entry(static_cast<std::int32_t>(fn.code_entry()));
            if (entry == nullptr) runtime::raise_error(ErrorCategory::internal, "not-done");
            entry(false, refs);
        } else {
            actions::Entry entry = actions::entry(static_cast<Action>(fn.code_entry()));
            if (entry == nullptr) runtime::raise_error(ErrorCategory::internal, "not-done");
            entry(refs);
        }
    } else if (locals > 0) {
        stack::push(logic::false_value);
        for (std::int32_t i = 1; i < locals; ++i) stack::push(none::value);
    }
    return pos;
}

// A function! called with no refinement named: its refinement flags and
// their arguments' slots as not given (false, none). Returns its local count.
std::int32_t push_unnamed_slots(NodeId cache) {
    const CallShape& shape = shape_at(cache);
    if (shape.tail_cells > 0) {
        const Cell* cells = shape_cells(cache);
        for (std::int32_t i = shape.positional; i < shape.cells; ++i) {
            if (cells[i].is(TypeId::refinement)) stack::push(logic::false_value);
            else if (arg_kind(cells[i]) != ArgKind::return_type) stack::push(none::value);
        }
    }
    return shape.locals;
}

// The refinement table of a call that names none (natives and actions only read it).
constexpr std::array<std::int32_t, max_refinements> no_refinements = [] {
    std::array<std::int32_t, max_refinements> refs{};
    refs.fill(actions::unused);
    return refs;
}();

// The block at pos of code when no word follows it (no operator can take it
// as its left operand), else null.
inline const Cell* literal_block(NodeId code, std::int32_t pos, std::int32_t end) {
    if (code == 0) return nullptr;
    const SeriesBuffer* buf = memory::buffer(code);
    const Cell* const at = reinterpret_cast<const Cell*>(buf->head) + pos;
    const Cell* const tail = reinterpret_cast<const Cell*>(buf->tail);
    if (pos >= end || at >= tail || !at->is(TypeId::block)) return nullptr;
    return pos + 1 >= end || at + 1 >= tail || !at[1].is(TypeId::word) ? at : nullptr;
}

// The common call: from code, no refinement named, nothing preset, every
// positional argument evaluated, tracing off. Each argument is computed where
// it stands when simple_value can (straight into the free cell at the top),
// else evaluated; then a function! gets its refinement and local slots as
// not given. The shape's cells are re-read after each evaluation, which may
// collect and move them.
// One argument of a plain call that no decoded step computed: a literal block
// as it stands, a simple value where it stands, else the evaluator. Pushes it
// and checks it against cache cell i; returns the index after it.
std::int32_t fetch_plain_argument(const Cell& fn, NodeId cache, std::int32_t i, NodeId code,
                                  std::int32_t pos, std::int32_t end, const Cell& name) {
    if (const Cell* blk = literal_block(code, pos, end)) {  // a branch or a body
        stack::push(*blk);
        const Cell& e = shape_cells(cache)[i];
        if (!typeset::contains(e, TypeId::block)) check_argument(fn, name, e, *blk);
        return pos + 1;
    }
    std::int32_t next = simple_value(code, pos, end, false, *stack::top());
    if (next >= 0) {
        stack::push_slot();
    } else {
        const Cell e = shape_cells(cache)[i];
        next = fetch_one(fn, name, e, code, pos, end, false, 0);
        if (pending) return next;
    }
    const Cell& e = shape_cells(cache)[i];
    const Cell& value = *(stack::top() - 1);
    if (!typeset::contains(e, value.type())) check_argument(fn, name, e, value);
    return next;
}

std::int32_t fetch_plain(const Cell& fn, NodeId cache, NodeId code, std::int32_t pos,
                         std::int32_t end, const Cell& name, const Step* call = nullptr) {
    const std::int32_t positional = shape_at(cache).positional;
    for (std::int32_t i = 0; i < positional; ++i) {
        // A decoded argument is never a block (decode_arguments stops there),
        // and runs only while the code is as it was decoded.
        const std::int32_t next = call != nullptr ? run_argument(*call, i, code, pos) : -1;
        if (next < 0) {
            pos = fetch_plain_argument(fn, cache, i, code, pos, end, name);
            if (pending) return pos;
            continue;
        }
        pos = next;
        if (pending) return pos;
        const Cell& e = shape_cells(cache)[i];
        const Cell& value = *(stack::top() - 1);
        if (!typeset::contains(e, value.type())) check_argument(fn, name, e, value);
    }
    const bool nat = is_native_type(fn.type());
    const std::int32_t locals = nat ? 0 : push_unnamed_slots(cache);
    return finish_fetch(fn, code, pos, name, nat, locals, no_refinements.data());
}

// Fetches the arguments of fn into the callee's frame, whose base is already
// pushed (base[0] the result slot, or an operator's left operand), then runs a
// native or action, or leaves a function's slots for call_function_i.
//
// The argument frame a function! gets mirrors its context: one slot per
// argument, then per refinement a logic! flag followed by its arguments'
// slots, then /local's flag and its words; natives and actions get only the
// arguments given, and the refs table tells them, per refinement ordinal,
// the offset from the base of its first argument (actions::unused when off).
//
// Refinements come three ways: after a path's function name (f/only/part),
// named in an apply block (mode apply_named), or as logic! values in order
// (apply_positional). `active` follows the latest refinement: its arguments
// are fetched when it is on and skipped (but still consumed from an apply
// block) when it is off. The path and named forms are handled after the
// spec walk because they may name refinements in any order: each one found
// is set on and its arguments fetched into their slots.
//
// preset: the leading arguments already on the stack from the base (an
// operator's left operand, or both operands when the interpreter evaluated the
// right one itself); they are only checked. Any preset argument makes the
// call an operator's: its next argument takes no operator after it.
std::int32_t fetch_i(const Cell& fn_in, NodeId code, std::int32_t pos, std::int32_t end,
                     const Cell* path, std::int32_t path_from, const Cell& name,
                     std::uint32_t mode, std::int32_t preset) {
    const bool in_place = preset > 0;
    const Cell fn = fn_in;
    const bool nat = is_native_type(fn.type());
    const NodeId cache = shape_of(fn);
    if (mode == 0 && path == nullptr && preset == 0 && shape_at(cache).plain && !tracing::state.on)
        return fetch_plain(fn, cache, code, pos, end, name);
    std::int32_t refs[max_refinements];
    if (nat) std::fill(refs, refs + max_refinements, actions::unused);  // read by natives only
    if (preset == 1) stack::push_slot();  // the left operand already stands at the base
    Cell* const base = stack::base();
    std::int32_t given = 0;
    std::int32_t locals = 0;

    // A call from code with no refinements named: the positional arguments
    // one after the other, then for a function! its refinement flags and
    // their arguments as not given (false, none) and its locals.
    if (mode == 0 && path == nullptr) {
        const std::int32_t positional = shape_at(cache).positional;
        for (std::int32_t i = 0; i < positional; ++i) {
            const Cell e = shape_cells(cache)[i];
            const ArgKind kind = arg_kind(e);
            if (kind == ArgKind::return_type) continue;
            if (given < preset) {
                check_argument(fn, name, e, base[given++]);
                continue;
            }
            if (pos >= clamp_end(code, end) && kind == ArgKind::literal &&
                typeset::contains(e, TypeId::unset)) {
                stack::push(unset_cell());  // an optional literal argument at the end
                continue;
            }
            if (kind == ArgKind::evaluated && !tracing::state.on) {
                // A block or number argument evaluates to itself; when no word
                // follows it (no operator can), it is pushed without a visit
                // to the evaluator.
                Cell c;
                const std::int32_t next = simple_value(code, pos, end, in_place, c);
                if (next >= 0) {
                    stack::push(c);
                    pos = next;
                    check_argument(fn, name, e, c);
                    continue;
                }
            }
            pos = fetch_one(fn, name, e, code, pos, end, in_place, 0);
            if (pending) return pos;
            check_argument(fn, name, e, *(stack::top() - 1));
        }
        if (!nat) locals = push_unnamed_slots(cache);
        return finish_fetch(fn, code, pos, name, nat, locals, refs);
    }

    bool active = true;
    const std::int32_t n = shape_at(cache).cells;
    for (std::int32_t i = 0; i < n; ++i) {
        const Cell e = shape_cells(cache)[i];
        if (e.is(TypeId::typeset)) {
            const ArgKind kind = arg_kind(e);
            if (kind == ArgKind::return_type) continue;
            if (active) {
                if (given < preset) {
                    check_argument(fn, name, e, base[given++]);
                    continue;
                }
                const bool code_left = pos < clamp_end(code, end);
                if (mode > 0 && !code_left) {
                    stack::push(none::value);
                } else if (!code_left && kind == ArgKind::literal &&
                           typeset::contains(e, TypeId::unset)) {
                    stack::push(unset_cell());
                } else {
                    pos = fetch_one(fn, name, e, code, pos, end, in_place, mode);
                    if (pending) return pos;
                    check_argument(fn, name, e, *(stack::top() - 1));
                }
            } else {
                if (!nat) stack::push(none::value);
                if (mode == apply_positional && path == nullptr && pos < clamp_end(code, end)) {
                    pos = fetch_one(fn, name, e, code, pos, end, false, mode);
                    if (pending) return pos;
                    stack::pop(1);
                }
            }
        } else if (e.is(TypeId::refinement)) {
            if (mode > 0 && path == nullptr && pos < clamp_end(code, end) && !(mode & apply_named)) {
                Cell any_ts;
                typeset::make_at(any_ts, typeset::default_words[0], typeset::default_words[1],
                                 typeset::default_words[2]);
                pos = fetch_one(fn, name, any_ts, code, pos, end, false, mode);
                if (pending) return pos;
                Cell* v = stack::top() - 1;
                if (!v->is(TypeId::logic)) {
                    const Cell dt = datatype::of(v->type());
                    Cell r = e;
                    r.set_type(TypeId::word);
                    runtime::raise_error(ErrorCategory::script, "expect-arg", &name, &dt, &r);
                }
                active = v->logic_value() == 1;
                if (nat) {
                    stack::pop(1);
                    if (active) refs[e.word_index() - 1] = static_cast<std::int32_t>(stack::top() - base);
                }
            } else {
                if (!nat) stack::push(logic::false_value);
                if (!(mode > 0 && pos >= clamp_end(code, end))) active = false;
            }
        }
    }
    if (!nat) locals = shape_at(cache).locals;

    // Refinements named by a path after the function's name, or in the code.
    const bool named_in_code = (mode & apply_named) && path == nullptr;
    std::int32_t item_index = path_from;
    const std::int32_t path_tail = path ? tail_of(path->series_node()) : 0;
    while (path ? item_index < path_tail : named_in_code && pos < clamp_end(code, end)) {
        Cell item = path ? *cell_at(path->series_node(), item_index++) : *cell_at(code, pos);
        bool on = true;
        if (path) {
            if (item.is(TypeId::get_word)) {
                on = logic::true_value_q(*context::get_word_cell(item), false);
            } else if (!item.is(TypeId::word)) {
                runtime::raise_error(ErrorCategory::script, "bad-refine", &item);
            }
        } else {
            if (!item.is(TypeId::refinement)) {
                if (mode > 0 && !has_refinements(cache)) break;  // the end of the arguments
                runtime::raise_error(ErrorCategory::script, "bad-refine", &item);
            }
            ++pos;
            if (pos < clamp_end(code, end)) {
                pos = eval_expr_i(code, pos, end, false, true, false);
                if (pending) return pos;
                on = logic::true_value_q(*(stack::top() - 1), false);
                stack::pop(1);
            } else {
                on = false;
            }
        }
        const std::int32_t at = find_refinement(cache, item, name);
        const Cell r = shape_cells(cache)[at];
        Cell* flag = nullptr;
        const Cell dup = path ? *path : item;
        if (nat) {
            if (on) {
                if (refs[r.word_index() - 1] != actions::unused)
                    runtime::raise_error(ErrorCategory::script, "dup-refine", &dup);
                refs[r.word_index() - 1] = static_cast<std::int32_t>(stack::top() - base);
            }
        } else {
            flag = base + r.word_index();
            if (!flag->is(TypeId::logic) || flag->logic_value() != 0)
                runtime::raise_error(ErrorCategory::script, "dup-refine", &dup);
            logic::make_at(*flag, on);
        }
        std::int32_t k = 1;
        for (std::int32_t j = at + 1; j < n; ++j, ++k) {
            const Cell e = shape_cells(cache)[j];
            if (!e.is(TypeId::typeset) || arg_kind(e) == ArgKind::return_type) break;
            if ((mode & apply_one_value) && !on) {
                ++pos;
                continue;
            }
            pos = fetch_one(fn, name, e, code, pos, end, false, mode);
            if (pending) return pos;
            if (!on) {
                stack::pop(1);
                continue;
            }
            check_argument(fn, name, e, *(stack::top() - 1));
            if (!nat) {
                base[r.word_index() + k] = *(stack::top() - 1);
                stack::pop(1);
            }
        }
    }

    return finish_fetch(fn, code, pos, name, nat, locals, refs);
}

// --- Calls --------------------------------------------------------------------------

// A call from code or from apply. The frame's label is the word that named the
// function (errors report it), or <anon>. The function value is pushed first
// and the result replaces it, so the value stays rooted while its arguments
// are evaluated (they may rebind the word it came from); an operator's call
// (in_place) finds its left operand where the function would be, and its
// caller roots the operator.
std::int32_t call_value_i(const Cell& fn_in, NodeId code, std::int32_t pos, std::int32_t end,
                          bool sub, const Cell* path, std::int32_t path_from, const Cell* name,
                          const Cell* owner, std::uint32_t mode, bool in_place) {
    const Cell fn = fn_in;
    Cell label;
    if (name != nullptr) label = *name;
    else if (mode == 0 && code != 0 && pos > 0) label = *cell_at(code, pos - 1);
    else if (path != nullptr) label = *path;
    else label = anon_word();
    if (!label.is(TypeId::word)) label = anon_word();
    (void)owner;  // the owner object's context matters to compiled code only
    if (tracing::wanted(Event::open)) {
        if (in_place) stack::push_slot();
        tracing::trace_event(Event::open, code, pos, nullptr, &label);
        if (in_place) stack::pop(1);
    }
    if (!in_place) stack::push(fn);  // the result replaces it
    switch (fn.type()) {
    case TypeId::native:
    case TypeId::action:
        stack::push_frame(&label, stack::FrameType::call, own_frame);
        pos = fetch_i(fn, code, pos, end, path, path_from, label, mode, in_place);
        break;
    case TypeId::routine:
        stack::push_frame(&label, stack::FrameType::call, own_frame);
        pos = fetch_i(fn, code, pos, end, path, path_from, label, mode, in_place);
        if (!pending) call_routine(fn);
        break;
    case TypeId::function: {
        const NodeId ctx = label.word_context();  // read by compiled bodies only
        // A function frame with no context to restore (ctx 0), interpreted and polling.
        stack::push_frame(&label, stack::FrameType::function, own_frame);
        pos = fetch_i(fn, code, pos, end, path, path_from, label, mode, in_place);
        if (!pending) call_function_i(fn, ctx, label, 0);
        break;
    }
    default:
        KIV_ASSERT(false, "call_value on a value that is not a function");
    }
    if (pending) return pos;
    if (sub) stack::pop_frame();
    else stack::return_result();
    tracing::trace(Event::return_, code, pos, &label, stack::top() - 1);
    if (!in_place) {
        Cell* top = stack::top();
        top[-2] = top[-1];
        stack::pop(1);
    }
    return pos;
}

// call_value_i for the common call, with tracing off: a native, action or
// function! named by a word in code, its shape plain (fetch_plain). The same
// steps, with nothing left to decide but the arguments.
__attribute__((always_inline)) inline std::int32_t call_plain(const Cell& fn_in, NodeId cache, NodeId code,
                                                            std::int32_t pos, std::int32_t end, bool sub,
                                                            const Cell& word, const Step* call = nullptr) {
    const Cell fn = fn_in;
    stack::push(fn);  // the result replaces it
    if (fn.is(TypeId::function)) {
        stack::push_frame(&word, stack::FrameType::function, own_frame);
        pos = fetch_plain(fn, cache, code, pos, end, word, call);
        if (!pending) call_function_i(fn, word.word_context(), word, 0);
    } else {
        stack::push_frame(&word, stack::FrameType::call, own_frame);
        pos = fetch_plain(fn, cache, code, pos, end, word, call);
    }
    if (pending) return pos;
    if (sub) stack::pop_frame();
    else stack::return_result();
    tracing::trace(Event::return_, code, pos, &word, stack::top() - 1);
    Cell* top = stack::top();
    top[-2] = top[-1];
    stack::pop(1);
    return pos;
}

// The call of a function whose arguments are on the stack. switching: the
// function's trace attribute switches tracing for its body.
template <bool switching>
__attribute__((always_inline)) inline void run_function(const Cell& fn, const Cell& name, std::uint32_t mask) {
    const NodeId fctx = fn.code_entry();
    const Cell code = *cell_at(fn.code_extra(), function::extra_code);  // the extra block, read in place

    if (code.is(TypeId::integer) && code.int_value() != 0) {
        const routine::Entry* entry = routine::entry(code.int_value());
        if (entry == nullptr) runtime::raise_error(ErrorCategory::internal, "not-done");
        StorageScope storage(fctx, static_cast<std::int32_t>(stack::index_of(stack::base())));
        Cell* args = stack::base();
        const std::uint32_t caught = runtime::catch_throws(
            runtime::thrown_return, [&] { entry->call(args); });
        if (caught == runtime::thrown_return || caught == runtime::thrown_exit) {
            runtime::clear_thrown();
            stack::return_result();  // the compiled body's own frame
        } else if (caught != 0) {
            runtime::unwind_to_catch();
        }
        return;
    }

    const Cell body = *cell_at(fn.code_extra(), function::extra_body);
    StorageScope storage(fctx, static_cast<std::int32_t>(stack::index_of(stack::base())));
    stack::set_body_flag(true);  // the function's own frame
    if constexpr (switching) {
        if (fn.function_trace()) tracing::state.on = tracing::available();
        else if (fn.function_no_trace()) tracing::state.on = false;
    }
    tracing::trace(Event::prolog, 0, -1, &name, nullptr);
    std::uint32_t caught = 0;
    if (body.is(TypeId::block)) {
        caught = runtime::catch_throws(runtime::thrown_return, [&] { eval_block_i(body, true); });
    } else {
        stack::set_result_only(unset_cell());
    }
    const std::uint32_t exit = caught != 0 ? caught : pending;
    if (tracing::wanted(Event::epilog)) {
        const std::uint32_t kept = pending;
        tracing::trace_event(Event::epilog, 0, -1, &name, nullptr);
        pending = kept;
    }
    if (exit == 0 || exit == runtime::thrown_return || exit == runtime::thrown_exit) {
        if (caught != 0) runtime::clear_thrown();
        pending = 0;
        stack::set_body_flag(false);
        return;
    }
    if (caught != 0) runtime::unwind_to_catch();
    if (mask != 0) throw_pending();  // native code called us: it cannot poll
}

// ctx is the argument of compiled bodies; our compiled code reads its
// arguments from the stack only, so it goes unused.
void call_function_i(const Cell& fn_in, [[maybe_unused]] NodeId ctx, const Cell& name,
                     std::uint32_t mask) {
    const Cell fn = fn_in;
    if ((mask | fn.function_trace_flags()) == 0) return run_function<false>(fn, name, mask);
    // Tracing switched for this call, by the mask or the function's trace
    // attribute, comes back as it was; switched by `trace` alone, it lasts.
    struct TraceRestore {
        bool on;
        ~TraceRestore() { tracing::state.on = on; }
    } restore{tracing::state.on};
    if (restore.on && mask != 0 && (tracing::state.callback_mask & mask) == 0)
        tracing::state.on = false;
    run_function<true>(fn, name, mask);
}

// The operators after a call step's call (eval_operators), when a word
// follows it that may be one. start_top: where the call's value stands.
__attribute__((noinline)) std::int32_t operators_after(NodeId code, std::int32_t next, std::int32_t end,
                                                       Cell* start_top, std::int32_t pos) {
    return eval_operators(code, next, end, false, true, start_top, pos);
}
inline std::int32_t operators_after_call(NodeId code, std::int32_t next, std::int32_t end, Cell* start_top,
                                         std::int32_t pos) {
    const SeriesBuffer* buf = memory::buffer(code);
    const Cell* const after = reinterpret_cast<const Cell*>(buf->head) + next;
    if (next >= end || after >= reinterpret_cast<const Cell*>(buf->tail) || !after->is(TypeId::word))
        return next;
    return operators_after(code, next, end, start_top, pos);
}

// A call step's call of a function! of plain shape (run_call): call_plain,
// fetch_plain and call_function_i in one, with the step's decoded arguments
// written straight into the callee's slots, then the operators after it.
// The frame, the events and the errors are those of call_plain: an argument
// that switches tracing on makes the body run through call_function_i, as
// it would there.
__attribute__((noinline)) std::int32_t call_function_step(const Cell& fn_in, NodeId cache, NodeId code,
                                                          std::int32_t pos, const Step& call,
                                                          const Cell& word_in) {
    const Cell fn = fn_in;  // the word may be set by an argument: the value called stays
    const Cell word = word_in;
    const std::int32_t end = tail_of(code);
    Cell* const start_top = stack::top();
    stack::push(fn);  // the result replaces it
    stack::push_frame(&word, stack::FrameType::function, own_frame);
    std::int32_t at = pos + 1;
    const std::int32_t positional = shape_at(cache).positional;
    for (std::int32_t i = 0; i < positional; ++i) {
        const std::int32_t next = run_argument(call, i, code, at);
        if (next < 0) {
            at = fetch_plain_argument(fn, cache, i, code, at, end, word);
            if (pending) return at;
            continue;
        }
        at = next;
        if (pending) return at;
        const Cell& e = shape_cells(cache)[i];
        const Cell& value = *(stack::top() - 1);
        if (!typeset::contains(e, value.type())) check_argument(fn, word, e, value);
    }
    {
        const CallShape& shape = shape_at(cache);
        if ((shape.tail_cells | shape.locals) != 0) {
            const std::int32_t locals = push_unnamed_slots(cache);
            if (locals > 0) {
                stack::push(logic::false_value);
                for (std::int32_t i = 1; i < locals; ++i) stack::push(none::value);
            }
        }
    }
    tracing::trace(Event::call, code, at, &word, &fn);
    if (fn.function_trace_flags() == 0 && !tracing::state.on) run_function<false>(fn, word, 0);
    else call_function_i(fn, word.word_context(), word, 0);
    if (pending) return at;
    stack::pop_frame();
    tracing::trace(Event::return_, code, at, &word, stack::top() - 1);
    Cell* top = stack::top();
    top[-2] = top[-1];
    stack::pop(1);
    return operators_after_call(code, at, end, start_top, pos);
}

// --- Blocks and expressions ------------------------------------------------------------

// The traced evaluator of a block: an eval frame of its own, so that the
// tracer's base/top pair and its enter/exit events frame the block. Kept
// apart, so that eval_block_i does not pay for it.
__attribute__((noinline)) void eval_block_traced(const Cell& blk, bool into_caller) {
    CodeScope scope;
    const NodeId code = blk.series_node();
    std::int32_t pos = blk.series_head();
    stack::push_frame(&body_word(), stack::FrameType::eval, own_frame);
    const tracing::CodeKind kind(code, blk.type());
    tracing::trace(Event::enter, code, pos, nullptr, nullptr);
    code_cell = blk;
    code_cell.set_type(TypeId::block);
    collector::safe_point();  // as in eval_block_i
    if (pos >= tail_of(code)) {
        stack::set_result_only(unset_cell());
    } else {
        for (;;) {
            code_cell.set_series_head(pos);
            pos = eval_expr_i(code, pos, to_tail, false, false, false);
            if (pending) return;
            if (pos >= tail_of(code)) break;
            stack::reset();
            collector::safe_point();
        }
        collector::safe_point();  // the block's value is in the frame's first slot
    }
    tracing::trace(Event::exit, code, tail_of(code), nullptr, stack::base());
    if (into_caller) stack::return_result();
    else stack::pop_frame();
}

// Puts the current-code cell back on every way out of a block. The saved cell
// is only a copy: while the block runs, the outer code is kept alive by the
// copy the evaluator leaves on the argument stack (no collection runs while
// an exception unwinds, so the copy here is enough to restore it).
struct CodeRestore {
    Cell saved;
    Plan* plan;  // the block's plan, held while it runs (null: none)
    ~CodeRestore() {
        code_cell = saved;
        if (plan != nullptr) leave_plan(plan);
    }
};

// The expressions a block's loop computes without a visit to the evaluator,
// pushing the value as eval_expr_i would: a set-word or set-path whose value
// is a simple expression, or a simple expression alone (simple_value).
// Returns the index after it, or -1 (nothing done). Tracing is off.
__attribute__((noinline)) std::int32_t quick_expression(const Cell& at, NodeId code, std::int32_t pos) {
    switch (at.type()) {
    case TypeId::set_word: return set_word_simple(at, code, pos, to_tail, true);
    case TypeId::set_path: return set_path_simple(at, code, pos, to_tail, true);
    default: {
        const std::int32_t next = simple_value(code, pos, to_tail, false, *stack::top());
        if (next >= 0) stack::push_slot();
        return next;
    }
    }
}

// Whether quick_expression may compute the expression that starts with at:
// not a call (a word holding a function), which goes to the evaluator at once.
inline bool quick_candidate(const Cell& at) {
    switch (at.type()) {
    case TypeId::set_word:
    case TypeId::set_path:
    case TypeId::path:
    case TypeId::integer:
        return true;
    case TypeId::word: {
        const Cell* v = peek_word_value(at);
        return v != nullptr && plain_value(v->type());
    }
    default:
        return false;
    }
}

// The expressions of code from pos to its tail, each one's value at slot
// (the last stays there): the plan's steps where they apply, the quick
// expressions and the walker elsewhere, a safe point between expressions.
// False when an exit is pending (the unwinding has set the stacks).
__attribute__((always_inline)) inline bool run_expressions(NodeId code, std::int32_t pos, Plan* plan,
                                                          Cell* slot) {
    for (;;) {
        code_cell.set_series_head(pos);
        stack::set_top(slot);
        if (plan != nullptr && plan_live(plan, code)) {
            const std::int32_t next = run_step(*plan, code, pos);
            if (next >= 0) {
                if (pending) return false;
                pos = next;
                if (pos >= tail_of(code)) return true;
                collector::safe_point();
                continue;
            }
        }
        const Cell& at = *cell_at(code, pos);
        const bool tried = !tracing::state.on && quick_candidate(at);
        const std::int32_t next = tried ? quick_expression(at, code, pos) : -1;
        if (next >= 0) {
            pos = next;
        } else {
            pos = eval_expr_i(code, pos, to_tail, false, true, false, tried);
            if (pending) return false;
        }
        if (pos >= tail_of(code)) return true;
        collector::safe_point();
    }
}

// The end of a block run whose value is at slot, above the saved cell at mark.
inline void end_block(NodeId code, Cell* mark, Cell* slot, bool into_caller) {
    if (tracing::wanted(Event::exit)) {  // tracing began inside the block
        const Cell value = *slot;
        tracing::trace_event(Event::exit, code, tail_of(code), nullptr, &value);
    }
    if (into_caller) {
        stack::set_result_only(*slot);
    } else {
        *mark = *slot;
        stack::set_top(slot);
    }
}

// Blocks, parens, branch and loop bodies and function bodies run here. No
// frame of their own: a frame would carry no name (errors skip <body>
// frames for `where` and the call trace), catch no exit and only cost a push
// and a pop per block. The expressions run above the caller's top instead:
//   [saved current-code cell][value of the expression being evaluated]
// The saved cell roots the outer code while this block replaces it as the
// current code (`near` of an error is read from the current code). Under
// tracing the framed evaluator runs, so the tracer sees what it always saw.
void eval_block_i(const Cell& blk_in, bool into_caller) {
    const Cell blk = blk_in;
    if (tracing::state.on) return eval_block_traced(blk, into_caller);
    const NodeId code = blk.series_node();
    std::int32_t pos = blk.series_head();
    if (pos >= tail_of(code)) {
        if (into_caller) stack::set_result_only(unset_cell());
        else stack::push(unset_cell());
        return;
    }
    Cell* const mark = stack::push(code_cell);
    Plan* const plan = plan_for(blk);  // held until leave_plan
    CodeRestore restore{code_cell, plan};
    code_cell = blk;
    code_cell.set_type(TypeId::block);
    Cell* const slot = mark + 1;
    // Safe points at both ends and between expressions: every function body,
    // loop pass and branch runs through here, so a loop whose body is one
    // expression still collects. The block is rooted by code_cell, the outer
    // one by its copy at mark, and each value by its slot on the stack.
    collector::safe_point();
    if (!run_expressions(code, pos, plan, slot)) return;
    collector::safe_point();  // the block's value is in its slot
    end_block(code, mark, slot, into_caller);
}

// A loop's pass through a body whose plan the loop holds (plan_live checked,
// the pass's safe point taken): eval_block_i(body, false) without the plan's
// lookup. The body and the outer code are rooted as in eval_block_i.
__attribute__((noinline)) void run_planned_pass(const Cell& body, Plan* plan) {
    const NodeId code = body.series_node();
    const std::int32_t pos = body.series_head();
    if (pos >= tail_of(code)) {
        stack::push(unset_cell());
        return;
    }
    Cell* const mark = stack::push(code_cell);
    CodeRestore restore{code_cell, nullptr};
    code_cell = body;
    code_cell.set_type(TypeId::block);
    Cell* const slot = mark + 1;
    if (!run_expressions(code, pos, plan, slot)) return;
    end_block(code, mark, slot, false);
}

// The end of a set-word's frame: the value at base[1] stored for the
// set-word at base[0], then made the frame's value (pushed when sub, else
// the caller's result).
void store_set_word(bool sub) {
    Cell* base = stack::base();
    // A word bound to a plain or function context is stored straight into its
    // slot, as a bound word is read; object fields (set flag, on-change),
    // unbound words and unset values take the full path.
    Cell* slot = base[1].is(TypeId::unset) ? nullptr : peek_word_value(*base);
    if (slot != nullptr &&
        reinterpret_cast<const Cell*>(memory::buffer(base->word_context())->head)->context_kind() !=
            static_cast<std::uint32_t>(context::Kind::object)) {
        *slot = base[1];
    } else {
        word::set_value(*base, base[1]);
    }
    base = stack::base();
    base[0] = base[1];
    stack::keep_first();
    if (sub) stack::pop_frame();
    else stack::return_result();
}

std::int32_t eval_set_word(const Cell& sw, NodeId code, std::int32_t pos, std::int32_t end, bool sub) {
    stack::push_frame(&sw, stack::FrameType::call, own_frame);
    stack::push(sw);
    tracing::trace(Event::push, code, pos, nullptr, &sw);
    ++pos;
    if (pos >= end) runtime::raise_error(ErrorCategory::script, "need-value", &sw);
    pos = eval_expr_i(code, pos, end, false, true, false);
    if (pending) return pos;
    tracing::trace(Event::set, code, pos, &sw, stack::base() + 1);
    store_set_word(sub);
    return pos;
}

std::int32_t eval_set_path(const Cell& sp, NodeId code, std::int32_t pos, std::int32_t end, bool sub) {
    tracing::trace(Event::push, code, pos, nullptr, &sp);
    ++pos;
    if (pos >= end) runtime::raise_error(ErrorCategory::script, "need-value", &sp);
    stack::push_frame(&words::word(words::Word::set_path), stack::FrameType::call, own_frame);
    pos = eval_expr_i(code, pos, end, false, true, false);
    if (pending) return pos;
    tracing::trace(Event::set, code, pos, &sp, stack::base());
    eval_path_i(sp, code, pos, end, {.set = true, .sub = true}, nullptr);
    if (pending) return pos;
    stack::keep_first();  // the set-path's value is the value stored
    if (sub) stack::pop_frame();
    else stack::return_result();
    return pos;
}

// The counting and comparing that loops and recursion spend most of their
// time on: an operator from add, subtract, multiply or an ordering comparison
// with integers on both sides. The interpreter computes these itself, with no
// action lookup and no argument fetching, when nothing could tell the two
// apart: tracing is off (the call would trace) and the result fits 32 bits
// (overflow goes to float! through the action).
enum class FastOp { none, add, subtract, multiply, lesser, greater, lesser_equal, greater_equal };

inline FastOp fast_op(const Cell& op) {
    const TypeId source = op.op_source();
    if (source == TypeId::action) {
        switch (static_cast<Action>(op.code_entry())) {
        case Action::add: return FastOp::add;
        case Action::subtract: return FastOp::subtract;
        case Action::multiply: return FastOp::multiply;
        default: return FastOp::none;
        }
    }
    if (source == TypeId::native) {
        switch (static_cast<natives::Native>(op.code_entry())) {
        case natives::Native::lesser_q: return FastOp::lesser;
        case natives::Native::greater_q: return FastOp::greater;
        case natives::Native::lesser_or_equal_q: return FastOp::lesser_equal;
        case natives::Native::greater_or_equal_q: return FastOp::greater_equal;
        default: return FastOp::none;
        }
    }
    return FastOp::none;
}

// Computes a k b into out; false (out untouched) when the result leaves 32 bits.
inline bool fast_integer(FastOp k, std::int64_t a, std::int64_t b, Cell* out) {
    std::int64_t r;
    switch (k) {
    case FastOp::add: r = a + b; break;
    case FastOp::subtract: r = a - b; break;
    case FastOp::multiply: r = a * b; break;  // 32 x 32 bits: no 64-bit overflow
    case FastOp::lesser: logic::make_at(*out, a < b); return true;
    case FastOp::greater: logic::make_at(*out, a > b); return true;
    case FastOp::lesser_equal: logic::make_at(*out, a <= b); return true;
    case FastOp::greater_equal: logic::make_at(*out, a >= b); return true;
    default: return false;
    }
    if (r < INT32_MIN || r > INT32_MAX) return false;
    integer::make_at(*out, static_cast<std::int32_t>(r));
    return true;
}

// The right operand is an integer literal or a word holding one: computed
// into left with no frame at all. The stacks must have room for the frame and
// cells the call would push, so a stack overflow is raised where it always was.
bool integer_operator(FastOp k, NodeId code, std::int32_t pos, std::int32_t end, Cell* left) {
    if (!stack::room_for(1, left + 3))
        return false;
    const SeriesBuffer* buf = memory::buffer(code);
    const Cell* at = reinterpret_cast<const Cell*>(buf->head) + pos + 1;
    if (pos + 1 >= end || at >= reinterpret_cast<const Cell*>(buf->tail)) return false;
    const Cell* right = at;
    if (at->is(TypeId::word)) {
        right = peek_word_value(*at);
        if (right == nullptr) return false;
    }
    if (!right->is(TypeId::integer)) return false;
    if (!fast_integer(k, left->int_value(), right->int_value(), left)) return false;
    stack::set_top(left + 1);
    return true;
}

// The value of a simple expression at pos, computed where it stands with
// nothing that can fail or be seen: a value that evaluates to itself or a
// word holding a plain value, then integer operators whose right operand is
// an integer or a word holding one (as integer_operator). Returns the index
// after the expression, or -1, having changed nothing, when it needs the
// evaluator. The caller checks that tracing is off.
// The value cell of an object's field named by path, read as eval_object_path
// reads it, or null.
__attribute__((noinline)) const Cell* path_field(const Cell& path) {
    const Cell* holder = nullptr;
    std::int32_t index = 0;
    if (!object_field(path, holder, index)) return nullptr;
    return field_value(holder->object_context(), index);
}

std::int32_t simple_value(NodeId code, std::int32_t pos, std::int32_t end, bool no_infix, Cell& out) {
    if (code == 0 || !stack::room_for(2, stack::top() + 4))
        return -1;  // the evaluator raises the stack overflow where it always did
    const SeriesBuffer* buf = memory::buffer(code);
    const Cell* const head = reinterpret_cast<const Cell*>(buf->head);
    const Cell* const tail = reinterpret_cast<const Cell*>(buf->tail);
    const Cell* const stop = end < tail - head ? head + end : tail;
    const Cell* at = head + pos;
    if (at >= stop) return -1;
    const TypeId t = at->type();
    if (t == TypeId::word) {
        const Cell* v = peek_word_value(*at);
        if (v == nullptr || !plain_value(v->type())) return -1;
        out = *v;
    } else if (inert_argument(t)) {
        out = *at;
    } else if (t == TypeId::path) {
        const Cell* v = path_field(*at);
        if (v == nullptr || !plain_value(v->type())) return -1;
        out = *v;
    } else {
        return -1;
    }
    ++at;
    if (!no_infix) {
        while (at < stop && at->is(TypeId::word)) {
            const Cell* value = peek_word_value(*at);
            if (value == nullptr || !value->is(TypeId::op)) break;
            if (!out.is(TypeId::integer) || at + 1 >= stop) return -1;
            const FastOp k = fast_op(*value);
            if (k == FastOp::none) return -1;
            const Cell* right = at + 1;
            if (right->is(TypeId::word)) {
                right = peek_word_value(*right);
                if (right == nullptr) return -1;
            }
            if (!right->is(TypeId::integer)) return -1;
            if (!fast_integer(k, out.int_value(), right->int_value(), &out)) return -1;
            at += 2;
        }
    }
    return static_cast<std::int32_t>(at - head);
}

// A set-word whose value is a simple expression, stored into a plain or
// function context's slot: no frame, as nothing in it can raise an error
// that would name the word. Returns the index after the value, or -1
// (nothing done) for the general path.
std::int32_t set_word_simple(const Cell& sw, NodeId code, std::int32_t pos, std::int32_t end, bool sub) {
    Cell value;
    const std::int32_t next = simple_value(code, pos + 1, end, false, value);
    if (next < 0) return -1;
    Cell* const slot = peek_word_value(sw);
    if (slot == nullptr ||
        reinterpret_cast<const Cell*>(memory::buffer(sw.word_context())->head)->context_kind() ==
            static_cast<std::uint32_t>(context::Kind::object))
        return -1;
    *slot = value;
    // As the framed path leaves it: the value pushed, and in the result slot when !sub.
    stack::push(value);
    if (!sub) stack::set_result(value);
    return next;
}

// A set-path to an object's field (o/x: o/x + 1) whose value is a simple
// expression: stored with no frame, as the framed path stores it, unless the
// object has handlers (on-change runs code, whose errors the frame names).
// Returns the index after the value, or -1 (nothing done).
std::int32_t set_path_simple(const Cell& sp, NodeId code, std::int32_t pos, std::int32_t end, bool sub) {
    Cell value;
    const std::int32_t next = simple_value(code, pos + 1, end, false, value);
    if (next < 0) return -1;
    const Cell* holder = nullptr;
    std::int32_t index = 0;
    if (!object_field(sp, holder, index) || holder->object_handlers() != 0) return -1;
    const Cell o = *holder;
    object::set_field(o, index, value);  // ownership as the object's own path code
    stack::push(value);
    if (!sub) stack::set_result(value);
    return next;
}

// Any other right operand (a paren, a call, a path): the operator's frame is
// pushed first, as the full call pushes it, so that an error in the operand
// names the operator as it always did; the operand is evaluated after the left
// one, then computed here when both are integers, else handed to the action
// or native with both arguments in place. Returns the index after the operand.
std::int32_t operator_evaluated(FastOp k, const Cell& op, const Cell& word, NodeId code,
                                std::int32_t pos, std::int32_t end) {
    Cell fn = op;
    fn.set_type(op.op_source());
    // Built now, while the word still holds the operator: the operand may rebind it.
    shape_of(fn);
    Cell* const base = stack::push_frame(&word, stack::FrameType::call, own_frame);
    stack::push_slot();  // base[0] is the left operand
    pos = eval_expr_i(code, pos + 1, end, true, true, false);
    if (pending) return pos;
    if (!base[1].is(TypeId::integer) ||
        !fast_integer(k, base[0].int_value(), base[1].int_value(), base)) {
        pos = fetch_i(fn, code, pos, end, nullptr, 0, word, 0, 2);
        if (pending) return pos;
    }
    stack::pop_frame();  // the result stays where the left operand stood
    return pos;
}

// --- Compiled steps ---------------------------------------------------------------------
//
// A block run a second time gets a plan: for each position where an
// expression starts, a step decoded once, when the position is first run, from
// the cells and the values their words hold then. Steps hold node ids only
// (copies of the code's word cells, the code indexes of literals): nothing
// the collector must see, nothing a compaction moves.
//
// A step is checked against the values its words hold now before it does
// anything, and gives way to the walker (returns -1) on any difference: a
// word that holds something else, an operator redefined (the op! value is
// compared with the one decoded), a value of another type, a stack near its
// end. So a redefined word never runs a stale step, and the walker raises
// every error where it always did. A step does what the walker does for its
// expression, frames and all; what it saves is the decoding.
//
// Plans live in a bounded side table keyed by the code's node and checked
// against the buffer's modification stamp (memory::touch): the first run
// gives the block a stamp of its own, any change of its cells resets it, and
// a plan runs only while the stamp is the one it was made under. The stamp
// is checked before every expression, since a block may change itself while
// it runs.

struct Operand {
    enum class Kind : std::uint8_t { none, literal, word, path };
    Kind kind = Kind::none;
    std::int32_t at = 0;  // the cell's code index
    Cell word{};          // word: a copy of the code's word, read through its binding
    // A word of a context whose values live in a series: that series and the
    // buffer it had at the last read. While the node still has that buffer
    // (no expansion, no compaction moved it), the value is read from it
    // directly. The context lives as long as the code's word refers to it.
    mutable NodeId values = 0;
    mutable const SeriesBuffer* seen = nullptr;
    bool on_stack = false;  // a function's context: its values live on the argument stack
    // path: `word/field` of an object, the word above and the field's symbol
    // (0 for other paths), the path's node and stamp (the path may change
    // apart from the code), and the context and index its last read found
    symbol::SymbolId field_sym = 0;
    NodeId path = 0;
    std::uint32_t path_stamp = 0;
    mutable NodeId field_ctx = 0;
    mutable std::int32_t field_index = 0;
};

// The value cell of an operand's word, as peek_word_value reads it.
__attribute__((noinline)) Cell* read_word_slow(const Operand& o) {
    Cell* const p = peek_word_value(o.word);
    if (p != nullptr) {
        const Cell& cc = *reinterpret_cast<const Cell*>(memory::buffer(o.word.word_context())->head);
        if (!cc.context_on_stack()) {
            o.values = cc.context_values();
            o.seen = memory::buffer(o.values);
        }
    }
    return p;
}
inline Cell* read_word(const Operand& o) {
    if (o.on_stack) {
        // A function's argument or local: its slot from the argument-stack
        // index the running call gave the context (0 when none runs).
        const std::uint32_t values =
            reinterpret_cast<const Cell*>(memory::buffer(o.word.word_context())->head)->context_values();
        if (values == 0) return nullptr;
        return context::stack_values_origin + (values - 1) + o.word.word_index();
    }
    if (o.values != 0 && memory::buffer(o.values) == o.seen)
        return reinterpret_cast<Cell*>(o.seen->head) + o.word.word_index();
    return read_word_slow(o);
}

// Makes o the word at of cells.
void decode_word(const Cell* cells, std::int32_t at, Operand& o) {
    const Cell& w = cells[at];
    o.kind = Operand::Kind::word;
    o.at = at;
    o.word = w;
    o.on_stack = w.word_context() != 0 && w.word_index() >= 0 &&
                 reinterpret_cast<const Cell*>(memory::buffer(w.word_context())->head)->context_on_stack();
}

inline bool arithmetic(FastOp k) {
    return k == FastOp::add || k == FastOp::subtract || k == FastOp::multiply;
}

// a k b for an arithmetic k into v; false when the result leaves 32 bits
// (the action goes on to float!).
inline bool arithmetic_result(FastOp k, std::int64_t a, std::int64_t b, std::int64_t& v) {
    v = k == FastOp::add ? a + b : k == FastOp::subtract ? a - b : a * b;  // 32 x 32 bits: no 64-bit overflow
    return v >= INT32_MIN && v <= INT32_MAX;
}

// An integer operator of a simple expression.
struct Infix {
    Cell op{};      // the op! its word held when decoded, compared bit for bit
    Operand oper;   // the operator's word
    FastOp k = FastOp::none;
    Operand right;  // an integer literal or a word
};

constexpr int max_infix = 4;
constexpr int max_arguments = 4;
constexpr std::int32_t max_plan_cells = 1 << 16;

enum class StepKind : std::uint8_t {
    none,      // the walker's: nothing decoded here
    simple,    // a simple expression (simple_value), pushed
    set_word,  // a set-word of a simple expression (set_word_simple)
    set_path,  // a set-path of a simple expression (set_path_simple)
    call,      // a word holding a function of plain shape (call_plain)
    branch,    // if, unless or either with a simple condition and literal blocks
    set_call,  // a set-word of a call (eval_set_word), the call a step of its own
    counter,   // a set-word of its own word and one integer operator (n: n + k), stored in place
    field_counter,  // the same for an object's field (o/x: o/x + k)
};

struct Step {
    StepKind kind = StepKind::none;
    std::uint8_t infix_count = 0;
    std::int32_t next = 0;  // the index after the expression (not for calls)
    Operand target;         // set-word: its word; set-path: its index; call: the function's word
    Operand head;           // the simple value's first cell
    Infix infix[max_infix];
    Operand after;          // a word after the simple value (a branch: after its blocks):
                            // it must not hold an operator
    // branch: the native the word held, compared bit for bit; which one; its blocks' indexes
    Cell fn{};
    natives::Native native = natives::Native::either;
    std::int32_t blocks[2] = {0, 0};
    // call: the leading arguments decoded (for the arity the function had
    // then), each a simple value step at its index
    std::uint8_t argc = 0;
    const Step* args[max_arguments] = {};
    std::uint32_t stamp = 0;  // the plan's: an argument run before may have changed the code
    std::int32_t arg_at = -1;  // an argument: its index
};

struct Plan {
    NodeId code = 0;
    std::uint32_t stamp = 0;
    std::int32_t tail = 0;
    std::int32_t users = 0;  // block runs using it
    bool orphan = false;     // dropped from the table while in use: the last user frees it
    std::vector<const Step*> at;  // per position: null until decoded, then its step (maybe no_step)
    std::deque<Step> steps;       // a deque: a recursive run may add steps under a running one
};

struct PlanEntry {
    NodeId code = 0;
    std::uint32_t stamp = 0;
    Plan* plan = nullptr;
};
constexpr std::uint32_t plan_table_bits = 12;
PlanEntry plan_table[1u << plan_table_bits];
std::uint32_t last_stamp = 0;

// The memory plans hold (their position tables and steps), and its bound:
// past it no step is decoded, and the next new plan empties the table first.
std::size_t plan_bytes = 0;
constexpr std::size_t plan_budget = std::size_t{64} << 20;

std::size_t bytes_of(const Plan& plan) {
    return plan.at.size() * sizeof(const Step*) + plan.steps.size() * sizeof(Step);
}
void delete_plan(Plan* plan) {
    plan_bytes -= bytes_of(*plan);
    delete plan;
}


void release_plan(Plan* plan) {
    if (plan == nullptr) return;
    if (plan->users > 0) plan->orphan = true;
    else delete_plan(plan);
}

void drop_plans() {
    for (PlanEntry& e : plan_table) {
        release_plan(e.plan);
        e = PlanEntry{};
    }
}

std::uint32_t new_stamp() {
    if (++last_stamp == 0) {  // wrapped: no stamp given before may be trusted again
        drop_plans();
        last_stamp = 1;
    }
    return last_stamp;
}

// The plan of blk for this run, held until leave_plan, or null: a block met
// for the first time (or since it changed) is only stamped and remembered,
// since most code runs once; the second run makes the plan.
Plan* plan_for(const Cell& blk) {
    const TypeId t = blk.type();
    if ((t != TypeId::block && t != TypeId::paren) || blk.series_head() < 0) return nullptr;
    const NodeId code = blk.series_node();
    SeriesBuffer* const buf = memory::buffer(code);
    PlanEntry& e = plan_table[code & ((1u << plan_table_bits) - 1)];
    if (e.code == code && e.stamp == buf->stamp && e.stamp != 0) {
        if (e.plan == nullptr) {
            const std::int32_t tail = tail_of(code);
            if (tail > max_plan_cells) return nullptr;
            if (plan_bytes > plan_budget) {
                drop_plans();
                return nullptr;
            }
            e.plan = new Plan;
            e.plan->code = code;
            e.plan->stamp = e.stamp;
            e.plan->tail = tail;
            e.plan->at.assign(static_cast<std::size_t>(tail), nullptr);
            plan_bytes += bytes_of(*e.plan);
        }
        ++e.plan->users;
        return e.plan;
    }
    release_plan(e.plan);
    if (buf->stamp == 0) buf->stamp = new_stamp();
    e = PlanEntry{code, buf->stamp, nullptr};
    return nullptr;
}

// Ends a block run that held plan.
inline void leave_plan(Plan* plan) {
    if (--plan->users == 0 && plan->orphan) delete_plan(plan);
}

// Whether the plan a block run holds for code still describes it, with tracing off.
inline bool plan_live(const Plan* plan, NodeId code) {
    return plan->stamp == memory::buffer(code)->stamp && !tracing::state.on;
}

inline bool same_cell(const Cell& a, const Cell& b) { return std::memcmp(&a, &b, sizeof(Cell)) == 0; }

// Makes o the path at of cells: an object path, read through object_field,
// with a cache of its own for the two-word paths `word/field`.
void decode_path(const Cell* cells, std::int32_t at, Operand& o) {
    const Cell& c = cells[at];
    const NodeId pnode = c.series_node();
    const std::int32_t head = c.series_head();
    const Cell* const pc = cell_at(pnode, 0);
    if (head >= 0 && tail_of(pnode) == head + 2 && pc[head].is(TypeId::word) && pc[head + 1].is(TypeId::word)) {
        decode_word(pc, head, o);
        o.field_sym = pc[head + 1].word_symbol();
        o.path = pnode;
        SeriesBuffer* const buf = memory::buffer(pnode);
        if (buf->stamp == 0) buf->stamp = new_stamp();
        o.path_stamp = buf->stamp;
    }
    o.kind = Operand::Kind::path;
    o.at = at;
}

// Whether the word at index of the object context ctx has the symbol sym
// (as field_index checks its cache).
inline bool field_named(NodeId ctx, std::int32_t index, symbol::SymbolId sym) {
    const Cell& cc = *reinterpret_cast<const Cell*>(memory::buffer(ctx)->head);
    const hashtable::HashTable* words = hashtable::record(cc.context_words());
    return index < words->count &&
           reinterpret_cast<const Cell*>(memory::buffer(words->values)->head)[index].word_symbol() == sym;
}

// object_field for a decoded path: the object holding its field, and the
// field's index. A `word/field` path whose word holds the object its last
// read found, with the field still at the index found, needs no walk.
inline bool read_field(const Operand& o, const Cell* cells, const Cell*& holder, std::int32_t& index) {
    const bool cached = o.field_sym != 0 && memory::buffer(o.path)->stamp == o.path_stamp;
    if (cached && o.field_ctx != 0) {
        const Cell* obj = read_word(o);
        if (obj != nullptr && obj->is(TypeId::object) && obj->object_context() == o.field_ctx &&
            field_named(o.field_ctx, o.field_index, o.field_sym)) {
            holder = obj;
            index = o.field_index;
            return true;
        }
    }
    if (!object_field(cells[o.at], holder, index)) return false;
    if (cached) {
        o.field_ctx = holder->object_context();
        o.field_index = index;
    }
    return true;
}

// Decodes an operand of a simple value: the head (any value that evaluates
// to itself, a word or an object path) or an operator's right operand.
bool decode_operand(const Cell* cells, std::int32_t at, bool right, Operand& out) {
    const Cell& c = cells[at];
    out.at = at;
    if (c.is(TypeId::word)) {
        const Cell* v = peek_word_value(c);
        if (v == nullptr || (right ? !v->is(TypeId::integer) : !plain_value(v->type()))) return false;
        decode_word(cells, at, out);
        return true;
    }
    if (right) {
        out.kind = Operand::Kind::literal;
        return c.is(TypeId::integer);
    }
    if (inert_argument(c.type())) {
        out.kind = Operand::Kind::literal;
        return true;
    }
    if (c.is(TypeId::path)) {
        const Cell* v = path_field(c);
        if (v == nullptr || !plain_value(v->type())) return false;
        decode_path(cells, at, out);
        return true;
    }
    return false;
}

// Decodes the simple value at pos into s (head, operators, the word after),
// as simple_value would compute it with the values the words hold now.
bool decode_value(const Cell* cells, std::int32_t pos, std::int32_t tail, Step& s) {
    if (pos >= tail || !decode_operand(cells, pos, false, s.head)) return false;
    std::int32_t at = pos + 1;
    while (at < tail && cells[at].is(TypeId::word)) {
        const Cell* value = peek_word_value(cells[at]);
        if (value == nullptr || !value->is(TypeId::op)) break;
        if (s.infix_count == max_infix || at + 1 >= tail) return false;
        Infix& f = s.infix[s.infix_count++];
        f.op = *value;
        decode_word(cells, at, f.oper);
        f.k = fast_op(*value);
        if (f.k == FastOp::none || !decode_operand(cells, at + 1, true, f.right)) return false;
        at += 2;
    }
    if (at < tail && cells[at].is(TypeId::word)) decode_word(cells, at, s.after);
    s.next = at;
    return true;
}

std::int32_t decode_call(Plan& plan, const Cell* cells, std::int32_t pos, const Cell& fn, Step& s);

// Decodes the leading arguments of a call whose function has the shape
// cache (0: not built yet), from pos: simple values and calls, each a step
// of its own, up to the first that is neither (a block the walker pushes as
// it stands) or whose end is not known. Returns the index after the last
// argument when all were decoded, else -1.
std::int32_t decode_arguments(Plan& plan, const Cell* cells, std::int32_t pos, NodeId cache, Step& s) {
    if (cache == 0 || !shape_at(cache).plain) return -1;
    const std::int32_t positional = shape_at(cache).positional;
    for (std::int32_t i = 0; i < positional; ++i) {
        if (i == max_arguments || pos >= plan.tail || cells[pos].is(TypeId::block)) return -1;
        Step a;
        a.target.at = pos;
        const Cell* v = cells[pos].is(TypeId::word) ? peek_word_value(cells[pos]) : nullptr;
        const TypeId t = v != nullptr ? v->type() : TypeId::none;
        std::int32_t next;
        if (t == TypeId::native || t == TypeId::action || t == TypeId::function) {
            next = decode_call(plan, cells, pos, *v, a);
            a.arg_at = pos;
            plan.steps.push_back(a);
            s.args[s.argc++] = &plan.steps.back();
            if (next < 0 || (next < plan.tail && cells[next].is(TypeId::word))) return -1;  // an operator may follow
        } else {
            if (!decode_value(cells, pos, plan.tail, a)) return -1;
            a.kind = StepKind::simple;
            a.arg_at = pos;
            next = a.next;
            plan.steps.push_back(a);
            s.args[s.argc++] = &plan.steps.back();
        }
        pos = next;
    }
    return pos;
}

// Decodes the call at pos of fn, which the word there holds, into s.
// Returns the index after its arguments when all were decoded, else -1.
std::int32_t decode_call(Plan& plan, const Cell* cells, std::int32_t pos, const Cell& fn, Step& s) {
    s.kind = StepKind::call;
    decode_word(cells, pos, s.target);
    s.stamp = plan.stamp;
    return decode_arguments(plan, cells, pos + 1, built_shape(fn), s);
}

// Decodes `if cond [...]`, `unless cond [...]` or `either cond [...] [...]`
// at pos (fn the native its word holds): a simple condition and literal
// blocks.
bool decode_branch(const Cell& fn, const Cell* cells, std::int32_t pos, std::int32_t tail, Step& s) {
    const auto native = static_cast<natives::Native>(fn.code_entry());
    const std::int32_t count = native == natives::Native::either ? 2
                               : native == natives::Native::if_ || native == natives::Native::unless ? 1
                                                                                                      : 0;
    if (count == 0 || !decode_value(cells, pos + 1, tail, s) || s.after.kind != Operand::Kind::none)
        return false;
    std::int32_t at = s.next;
    for (std::int32_t i = 0; i < count; ++i, ++at) {
        if (at >= tail || !cells[at].is(TypeId::block)) return false;
        s.blocks[i] = at;
    }
    if (at < tail && cells[at].is(TypeId::word)) decode_word(cells, at, s.after);
    s.fn = fn;
    s.native = native;
    s.next = at;
    return true;
}

const Step no_step{};  // a position the walker keeps

const Step* decode_step_in(Plan& plan, NodeId code, std::int32_t pos);

// The step at pos, decoded (no_step when the walker keeps it, or when plans
// hold all the memory they may).
__attribute__((noinline)) const Step* decode_step(Plan& plan, NodeId code, std::int32_t pos) {
    if (plan_bytes > plan_budget) return &no_step;
    const std::size_t before = plan.steps.size();
    const Step* const s = decode_step_in(plan, code, pos);
    plan_bytes += (plan.steps.size() - before) * sizeof(Step);
    return s;
}

const Step* decode_step_in(Plan& plan, NodeId code, std::int32_t pos) {
    const Cell* const cells = cell_at(code, 0);
    const Cell& c = cells[pos];
    Step s;
    bool made = false;
    switch (c.type()) {
    case TypeId::set_word:
        if (c.word_context() != 0 && c.word_index() >= 0 &&
            reinterpret_cast<const Cell*>(memory::buffer(c.word_context())->head)->context_kind() !=
                static_cast<std::uint32_t>(context::Kind::object) &&
            decode_value(cells, pos + 1, plan.tail, s)) {
            s.kind = StepKind::set_word;
            decode_word(cells, pos, s.target);
            if (s.head.kind == Operand::Kind::word && s.infix_count == 1 && arithmetic(s.infix[0].k) &&
                s.head.word.word_context() == c.word_context() && s.head.word.word_index() == c.word_index())
                s.kind = StepKind::counter;
            made = true;
        } else if (pos + 1 < plan.tail && cells[pos + 1].is(TypeId::word)) {
            const Cell* v = peek_word_value(cells[pos + 1]);
            const TypeId t = v != nullptr ? v->type() : TypeId::none;
            if (t == TypeId::native || t == TypeId::action || t == TypeId::function) {
                s = Step{};
                Step value;
                decode_call(plan, cells, pos + 1, *v, value);
                plan.steps.push_back(value);
                s.kind = StepKind::set_call;
                s.target.word = c;
                s.args[0] = &plan.steps.back();
                made = true;
            }
        }
        break;
    case TypeId::set_path:
        if (decode_value(cells, pos + 1, plan.tail, s)) {
            s.kind = StepKind::set_path;
            decode_path(cells, pos, s.target);
            if (s.head.kind == Operand::Kind::path && s.infix_count == 1 && arithmetic(s.infix[0].k) &&
                s.head.field_sym != 0 && s.head.field_sym == s.target.field_sym &&
                s.head.word.word_context() == s.target.word.word_context() &&
                s.head.word.word_index() == s.target.word.word_index())
                s.kind = StepKind::field_counter;
            made = true;
        }
        break;
    case TypeId::word: {
        const Cell* v = peek_word_value(c);
        if (v == nullptr) break;
        const TypeId t = v->type();
        if (t == TypeId::native && decode_branch(*v, cells, pos, plan.tail, s)) {
            s.kind = StepKind::branch;
            decode_word(cells, pos, s.target);
            made = true;
        } else if (t == TypeId::native || t == TypeId::action || t == TypeId::function) {
            decode_call(plan, cells, pos, *v, s);
            made = true;
        } else {
            made = decode_value(cells, pos, plan.tail, s);
        }
        break;
    }
    default:
        made = decode_value(cells, pos, plan.tail, s);
        break;
    }
    if (!made) return &no_step;
    if (s.kind == StepKind::none) s.kind = StepKind::simple;
    plan.steps.push_back(s);
    return &plan.steps.back();
}

// Whether the word after a simple value (if any) leaves it alone: a word
// that holds an operator now would take the value as its left operand.
inline bool ends_here(const Step& s) {
    if (s.after.kind != Operand::Kind::word) return true;
    const Cell* p = read_word(s.after);
    return p == nullptr || !p->is(TypeId::op);
}

// The integer operators of a simple value whose head is the integer! head;
// false when anything differs from what was decoded. An integer result
// keeps the head's flag bits, as simple_value leaves them.
__attribute__((noinline)) bool run_infix(const Step& s, const Cell* cells, const Cell& head, Cell& out) {
    std::int64_t left = head.int_value();
    for (std::int32_t i = 0; i < s.infix_count; ++i) {
        const Infix& f = s.infix[i];
        const Cell* op = read_word(f.oper);
        if (op == nullptr || !same_cell(*op, f.op)) return false;
        const Cell* r = f.right.kind == Operand::Kind::literal ? &cells[f.right.at] : read_word(f.right);
        if (r == nullptr || !r->is(TypeId::integer)) return false;
        const std::int64_t b = r->int_value();
        std::int64_t v;
        switch (f.k) {
        case FastOp::add: v = left + b; break;
        case FastOp::subtract: v = left - b; break;
        case FastOp::multiply: v = left * b; break;
        default:
            // A comparison ends the integers: an operator after it fails, as in simple_value.
            if (i + 1 < s.infix_count) return false;
            logic::make_at(out, f.k == FastOp::lesser          ? left < b
                                : f.k == FastOp::greater       ? left > b
                                : f.k == FastOp::lesser_equal  ? left <= b
                                                               : left >= b);
            return true;
        }
        if (v < INT32_MIN || v > INT32_MAX) return false;
        left = v;
    }
    out = head;
    integer::make_at(out, static_cast<std::int32_t>(left));
    return true;
}

// Computes a step's simple value into out, as simple_value does; false,
// having changed nothing, when anything differs from what was decoded.
// check_after: the word after the value is checked too.
inline bool run_value(const Step& s, const Cell* cells, Cell& out, bool check_after) {
    if (!stack::room_for(2, stack::top() + 4)) return false;  // the walker raises the overflow
    const Cell* p;
    if (s.head.kind == Operand::Kind::word) {
        p = read_word(s.head);
        if (p == nullptr || !plain_value(p->type())) return false;
    } else if (s.head.kind == Operand::Kind::literal) {
        p = &cells[s.head.at];
    } else {
        const Cell* holder = nullptr;
        std::int32_t index = 0;
        if (!read_field(s.head, cells, holder, index)) return false;
        p = field_value(holder->object_context(), index);
        if (p == nullptr || !plain_value(p->type())) return false;
    }
    if (check_after && !ends_here(s)) return false;
    if (s.infix_count == 0) {
        out = *p;
        return true;
    }
    if (!p->is(TypeId::integer)) return false;
    if (s.infix_count > 1) return run_infix(s, cells, *p, out);
    // One operator, the common case (n + 1, i < n), here.
    const Infix& f = s.infix[0];
    const Cell* const op = read_word(f.oper);
    if (op == nullptr || !same_cell(*op, f.op)) return false;
    const Cell* const r = f.right.kind == Operand::Kind::literal ? &cells[f.right.at] : read_word(f.right);
    if (r == nullptr || !r->is(TypeId::integer)) return false;
    const std::int64_t a = p->int_value(), b = r->int_value();
    switch (f.k) {
    case FastOp::lesser: logic::make_at(out, a < b); return true;
    case FastOp::greater: logic::make_at(out, a > b); return true;
    case FastOp::lesser_equal: logic::make_at(out, a <= b); return true;
    case FastOp::greater_equal: logic::make_at(out, a >= b); return true;
    default: {
        std::int64_t v;
        if (!arithmetic_result(f.k, a, b, v)) return false;
        out = *p;
        integer::make_at(out, static_cast<std::int32_t>(v));
        return true;
    }
    }
}

// if, unless and either as their natives run them, called as call_plain
// calls them: the native's frame (errors in the branch name it), its
// arguments pushed and checked against its shape, the block run into the
// frame's result slot. Returns the index after the expression, or -1.
__attribute__((noinline)) std::int32_t run_branch(const Step& s, const Cell* cells) {
    const Cell* const p = read_word(s.target);
    if (p == nullptr || !same_cell(*p, s.fn)) return -1;
    Cell cond;
    if (!run_value(s, cells, cond, false)) return -1;  // the word after is the blocks' 
    if (s.after.kind == Operand::Kind::word) {
        const Cell* q = read_word(s.after);
        if (q != nullptr && q->is(TypeId::op)) return -1;  // an operator takes the last block
    }
    const NodeId cache = built_shape(*p);
    if (cache == 0 || !typeset::contains(shape_cells(cache)[0], cond.type())) return -1;
    const std::int32_t count = s.native == natives::Native::either ? 2 : 1;
    const Cell fn = *p;
    const Cell word = s.target.word;
    stack::push(fn);  // the result replaces it
    stack::push_frame(&word, stack::FrameType::call, own_frame);
    stack::push(cond);
    for (std::int32_t i = 0; i < count; ++i) stack::push(cells[s.blocks[i]]);
    bool run = true;
    std::int32_t chosen = 0;
    switch (s.native) {
    case natives::Native::if_: run = !logic::false_result_q(cond); break;
    case natives::Native::unless: run = logic::false_result_q(cond); break;
    default: chosen = logic::true_result_q(cond) ? 0 : 1; break;
    }
    if (run) {
        const Cell body = *stack::arg(1 + chosen);
        eval_block_i(body, true);
        if (pending) return s.next;
    } else {
        stack::set_result_only(none::value);
    }
    stack::pop_frame();
    Cell* const top = stack::top();
    top[-2] = top[-1];
    stack::pop(1);
    return s.next;
}

std::int32_t run_call_step(const Step& s, NodeId code, std::int32_t pos);

// A set-word of a call, as eval_set_word runs it: a frame named by the
// set-word (errors in the call name it), the call as its step (or the
// walker, when the step gives way), the value stored.
__attribute__((noinline)) std::int32_t run_set_call(const Step& s, NodeId code, std::int32_t pos) {
    const Cell sw = s.target.word;
    const std::int32_t end = tail_of(code);
    stack::push_frame(&sw, stack::FrameType::call, own_frame);
    stack::push(sw);
    std::int32_t next = run_call_step(*s.args[0], code, pos + 1);
    if (next < 0) next = eval_expr_i(code, pos + 1, end, false, true, false);
    if (pending) return next;
    store_set_word(true);
    return next;
}

// A set-path of a simple value, as set_path_simple stores it.
__attribute__((noinline)) std::int32_t run_set_path(const Step& s, const Cell* cells) {
    Cell v;
    if (!run_value(s, cells, v, true)) return -1;
    const Cell* holder = nullptr;
    std::int32_t index = 0;
    if (!read_field(s.target, cells, holder, index) || holder->object_handlers() != 0) return -1;
    const Cell o = *holder;
    object::set_field(o, index, v);
    stack::push(v);
    return s.next;
}

// A call step: the word must still hold a function of plain shape. A
// function! is called by call_function_step, a native or action by call_plain.
__attribute__((noinline)) std::int32_t run_call(const Step& s, NodeId code, std::int32_t pos) {
    const Cell* p = read_word(s.target);
    if (p == nullptr) return -1;
    const TypeId t = p->type();
    if (t != TypeId::native && t != TypeId::action && t != TypeId::function) return -1;
    const NodeId cache = built_shape(*p);
    if (cache == 0 || !shape_at(cache).plain) return -1;
    if (t == TypeId::function) return call_function_step(*p, cache, code, pos, s, s.target.word);
    const std::int32_t end = tail_of(code);
    Cell* const start_top = stack::top();
    const Cell word = s.target.word;
    const std::int32_t next = call_plain(*p, cache, code, pos + 1, end, true, word, &s);
    if (pending) return next;
    return operators_after_call(code, next, end, start_top, pos);
}

// The steps that call or store through a path, out of line.
__attribute__((noinline)) std::int32_t run_call_step(const Step& s, NodeId code, std::int32_t pos) {
    switch (s.kind) {
    case StepKind::set_path:
        return run_set_path(s, cell_at(code, 0));
    case StepKind::call:
        return run_call(s, code, pos);
    case StepKind::branch:
        return run_branch(s, cell_at(code, 0));
    case StepKind::set_call:
        return run_set_call(s, code, pos);
    default:
        return -1;
    }
}

std::int32_t run_argument(const Step& call, std::int32_t i, NodeId code, std::int32_t pos) {
    if (i >= call.argc || memory::buffer(code)->stamp != call.stamp || tracing::state.on) return -1;
    const Step& a = *call.args[i];
    if (a.arg_at != pos) return -1;
    if (a.kind == StepKind::call) return run_call_step(a, code, pos);
    if (!run_value(a, cell_at(code, 0), *stack::top(), true)) return -1;
    stack::push_slot();
    return a.next;
}

// The right operand of a counter's operator as it stands now: an integer, the
// operator's word still holding the op! decoded, and nothing after the value
// that could take it as an operator; else null.
inline const Cell* counter_operand(const Step& s, const Cell* cells) {
    const Infix& f = s.infix[0];
    const Cell* const op = read_word(f.oper);
    if (op == nullptr || !same_cell(*op, f.op)) return nullptr;
    const Cell* const r = f.right.kind == Operand::Kind::literal ? &cells[f.right.at] : read_word(f.right);
    if (r == nullptr || !r->is(TypeId::integer) || !ends_here(s)) return nullptr;
    return r;
}

// n: n + k with n an integer: as the set-word step stores it (the word's
// cell, flags and all, with the new integer), computed in the word's cell.
inline std::int32_t run_counter(const Step& s, const Cell* cells) {
    if (!stack::room_for(2, stack::top() + 4)) return -1;  // the walker raises the overflow
    Cell* const slot = read_word(s.head);
    if (slot == nullptr || !slot->is(TypeId::integer)) return -1;
    const Cell* const r = counter_operand(s, cells);
    std::int64_t v;
    if (r == nullptr || !arithmetic_result(s.infix[0].k, slot->int_value(), r->int_value(), v)) return -1;
    integer::make_at(*slot, static_cast<std::int32_t>(v));
    stack::push(*slot);
    return s.next;
}

// o/x: o/x + k with the field an integer, as the set-path step stores it
// (object::set_field: the value, and the field's word marked as set), in the
// field's cell. Both paths must be as decoded (their stamps), and the object
// without handlers (on-change runs code).
__attribute__((noinline)) std::int32_t run_field_counter(const Step& s, const Cell* cells) {
    if (!stack::room_for(2, stack::top() + 4)) return -1;
    if (memory::buffer(s.head.path)->stamp != s.head.path_stamp ||
        memory::buffer(s.target.path)->stamp != s.target.path_stamp)
        return -1;  // a path changed: the two may no longer name the same field
    const Cell* holder = nullptr;
    std::int32_t index = 0;
    if (!read_field(s.target, cells, holder, index) || holder->object_handlers() != 0) return -1;
    const NodeId ctx = holder->object_context();
    Cell* const slot = const_cast<Cell*>(field_value(ctx, index));
    if (slot == nullptr || !slot->is(TypeId::integer)) return -1;
    const Cell* const r = counter_operand(s, cells);
    std::int64_t v;
    if (r == nullptr || !arithmetic_result(s.infix[0].k, slot->int_value(), r->int_value(), v)) return -1;
    integer::make_at(*slot, static_cast<std::int32_t>(v));
    const Cell& cc = *reinterpret_cast<const Cell*>(memory::buffer(ctx)->head);
    const hashtable::HashTable* const words = hashtable::record(cc.context_words());
    reinterpret_cast<Cell*>(memory::buffer(words->values)->head)[index].set_field_changed(true);
    stack::push(*slot);
    return s.next;
}

// Runs the step of plan at pos of code as eval_expr_i(code, pos, tail, no
// infix allowed, value pushed) would: returns the index after the
// expression (an exit may be pending), or -1 having done nothing.
__attribute__((always_inline)) inline std::int32_t run_step(Plan& plan, NodeId code, std::int32_t pos) {
    const Step* s = plan.at[static_cast<std::size_t>(pos)];
    if (s == nullptr) s = plan.at[static_cast<std::size_t>(pos)] = decode_step(plan, code, pos);
    const Cell* const cells = cell_at(code, 0);
    switch (s->kind) {
    case StepKind::none:
        return -1;
    case StepKind::simple:
        if (!run_value(*s, cells, *stack::top(), true)) return -1;
        stack::push_slot();
        return s->next;
    case StepKind::set_word: {
        Cell v;
        if (!run_value(*s, cells, v, true)) return -1;
        Cell* const slot = read_word(s->target);  // an object's field was never decoded here
        if (slot == nullptr) return -1;
        *slot = v;
        stack::push(v);
        return s->next;
    }
    case StepKind::counter:
        return run_counter(*s, cells);
    case StepKind::field_counter:
        return run_field_counter(*s, cells);
    default:
        return run_call_step(*s, code, pos);
    }
}

// A loop pass through a body of one step that neither calls nor can raise
// an error (a value, a set-word of one, a counter): run with no block entry,
// as nothing in it reads the current code, and its value pushed where the
// block's would be. False, having done nothing, for any other body, or when
// the step gives way. The plan is live and tracing off.
inline bool run_lone_step(const Plan& plan, NodeId code, std::int32_t pos) {
    if (pos >= plan.tail) return false;
    const Step* const s = plan.at[static_cast<std::size_t>(pos)];
    if (s == nullptr || s->next < plan.tail) return false;
    const Cell* const cells = cell_at(code, 0);
    switch (s->kind) {
    case StepKind::simple:
        if (!run_value(*s, cells, *stack::top(), true)) return false;
        stack::push_slot();
        return true;
    case StepKind::set_word: {
        Cell v;
        if (!run_value(*s, cells, v, true)) return false;
        Cell* const slot = read_word(s->target);
        if (slot == nullptr) return false;
        *slot = v;
        stack::push(v);
        return true;
    }
    case StepKind::counter:
        return run_counter(*s, cells) >= 0;
    case StepKind::field_counter:
        return run_field_counter(*s, cells) >= 0;
    default:
        return false;
    }
}

// One expression: the value at pos, with its arguments when it calls, then any
// operators after it. sub: the value is pushed (an argument, a block's
// expression); else it goes to the frame's result slot. start_top marks where
// the expression's value will stand when pushed: an operator takes its left
// operand from there and leaves its result there, so a chain a + b * c is
// computed strictly left to right in one cell. end is clamped to the code's
// tail on entry because code may shrink while it runs.
std::int32_t eval_expr_i(NodeId code, std::int32_t pos, std::int32_t end, bool no_infix, bool sub,
                         bool literal_functions, bool simple_tried) {
    end = clamp_end(code, end);
    KIV_ASSERT(pos < end, "eval_expression past the end of its code");
    Cell* const start_top = stack::top();
    const std::int32_t start = pos;
    const Cell v = *cell_at(code, pos);
    tracing::trace(Event::fetch, code, pos, nullptr, &v);
    switch (v.type()) {
    case TypeId::paren:
        // sub: the block leaves its value pushed; else it is the result.
        eval_block_i(v, !sub);
        if (pending) return pos + 1;
        ++pos;
        break;
    case TypeId::set_word:
        if (!tracing::state.on && !simple_tried) {
            const std::int32_t next = set_word_simple(v, code, pos, end, sub);
            if (next >= 0) {
                pos = next;
                break;
            }
        }
        pos = eval_set_word(v, code, pos, end, sub);
        if (pending) return pos;
        break;
    case TypeId::set_path:
        if (!tracing::state.on && !simple_tried) {
            const std::int32_t next = set_path_simple(v, code, pos, end, sub);
            if (next >= 0) {
                pos = next;
                break;
            }
        }
        pos = eval_set_path(v, code, pos, end, sub);
        if (pending) return pos;
        break;
    case TypeId::get_word: {
        const Cell value = word_value(v);
        push_or_result(value, sub);
        tracing::trace(Event::push, code, pos, nullptr, &value);
        ++pos;
        break;
    }
    case TypeId::lit_word: {
        Cell w = v;
        w.set_type(TypeId::word);
        push_or_result(w, sub);
        ++pos;
        break;
    }
    case TypeId::word: {
        const Cell value = word_value(v);
        const TypeId t = value.type();
        if (t == TypeId::unset) runtime::raise_error(ErrorCategory::script, "no-value", &v);
        if (is_function_type(t)) {
            const NodeId cache = t != TypeId::routine && !tracing::state.on ? built_shape(value) : 0;
            pos = cache != 0 && shape_at(cache).plain
                      ? call_plain(value, cache, code, pos + 1, end, sub, v)
                      : call_value_i(value, code, pos + 1, end, sub, nullptr, 0, &v, nullptr, 0, false);
            if (pending) return pos;
        } else if (t == TypeId::op) {
            runtime::raise_error(ErrorCategory::script, "no-op-arg", &v);
        } else {
            push_or_result(value, sub);
            tracing::trace(Event::push, code, pos, nullptr, &value);
            ++pos;
        }
        break;
    }
    case TypeId::path:
        pos = eval_path_i(v, code, pos + 1, end, {.sub = sub}, nullptr);
        if (pending) return pos;
        break;
    case TypeId::get_path:
        pos = eval_path_i(v, code, pos + 1, end, {.get = true, .sub = sub}, nullptr);
        break;
    case TypeId::lit_path: {
        Cell p = v;
        p.set_type(TypeId::path);
        p.set_series_extra(0);
        push_or_result(p, sub);
        ++pos;
        break;
    }
    case TypeId::op:
        runtime::raise_error(ErrorCategory::internal, "not-done");
    case TypeId::native:
    case TypeId::action:
    case TypeId::function:
    case TypeId::routine:
        if (literal_functions) {
            push_or_result(v, sub);
            ++pos;
        } else {
            pos = call_value_i(v, code, pos + 1, end, sub, nullptr, 0, &anon_word(), nullptr, 0,
                               false);
            if (pending) return pos;
        }
        break;
    case TypeId::issue:
        if (pos + 1 < end && cell_at(code, pos + 1)->is(TypeId::block) &&
            (is_symbol(v, words::id(words::Sym::system)) ||
             is_symbol(v, words::id(words::Sym::system_global))))
            runtime::raise_error(ErrorCategory::internal, "kiv-system");
        [[fallthrough]];
    default:
        push_or_result(v, sub);
        tracing::trace(Event::push, code, pos, nullptr, &v);
        ++pos;
        break;
    }
    return eval_operators(code, pos, end, no_infix, sub, start_top, start);
}

// The operators after an expression's first value, which stands at
// start_top (sub) or in the result slot; start is where the expression began.
// Returns the index after the expression.
__attribute__((always_inline)) inline std::int32_t eval_operators(NodeId code, std::int32_t pos, std::int32_t end,
                                                                bool no_infix, bool sub, Cell* const start_top,
                                                                std::int32_t start) {
    // Operators: strictly left to right; the right operand takes no operator.
    // The word after the value is looked up through its binding only (an
    // unbound word cannot be an operator). A left operand that went to the
    // result slot is moved to start_top first, where the operator's frame
    // will have its base: the left operand becomes the call's first argument
    // without a copy, and the result lands where the next operator looks.
    bool infix = false;
    while (!no_infix) {
        const SeriesBuffer* buf = memory::buffer(code);  // the code may have changed under the call
        const Cell* at = reinterpret_cast<const Cell*>(buf->head) + pos;
        if (pos >= end || at >= reinterpret_cast<const Cell*>(buf->tail)) break;
        const Cell w = *at;
        if (!w.is(TypeId::word)) break;
        const Cell* value = peek_word_value(w);
        if (value == nullptr || !value->is(TypeId::op)) break;
        tracing::trace(Event::fetch, code, pos, nullptr, &w);
        if (!sub && !infix && start_top != stack::base()) *start_top = *stack::base();
        stack::set_top(start_top);
        const FastOp k = tracing::state.on || !start_top->is(TypeId::integer) ? FastOp::none
                                                                             : fast_op(*value);
        if (k != FastOp::none) {
            if (integer_operator(k, code, pos, end, start_top)) {
                pos += 2;
                infix = true;
                continue;
            }
            if (pos + 1 < end) {
                pos = operator_evaluated(k, *value, w, code, pos, end);
                if (pending) return pos;
                infix = true;
                continue;
            }
        }
        Cell fn = *value;
        const TypeId source = fn.op_source();
        if (source == TypeId::function || source == TypeId::routine) {
            fn = *function::extra_cell(fn, function::extra_op);
        } else {
            fn.set_type(source);
        }
        collector::Root keep(fn);
        pos = call_value_i(keep.cell(), code, pos + 1, end, true, nullptr, 0, &w, nullptr, 0, true);
        if (pending) return pos;
        infix = true;
    }
    if (infix && !sub) stack::set_result_only(*start_top);
    if (!sub && tracing::wanted(Event::expr)) {
        const Cell ref = block_at(code, start);
        tracing::trace_event(Event::expr, code, pos, &ref, stack::base());
    }
    return pos;
}

// --- Paths ------------------------------------------------------------------------------

// Scalars whose fields a set-path changes (t/minute: 30): the walk holds a
// copy of them, which must go back to the word or container it came from.
bool changes_in_place(TypeId t) {
    return t == TypeId::time || t == TypeId::pair || t == TypeId::tuple || t == TypeId::date ||
           t == TypeId::point2d || t == TypeId::point3d || t == TypeId::money || t == TypeId::event;
}

// Path caches. A field step of a path (a word after an object) remembers the
// context and index its lookup found last, in a small table keyed by the path
// block and the element's position. A hit is checked the way a bound word is
// read: the object's context must be the one remembered, and the word at the
// remembered index must still carry the element's symbol (a path block or a
// context node reused after a collection fails this). A miss looks the field
// up by symbol and remembers it. `self` is never remembered: it has rules of
// its own.
// The value cell of field index of the object context ctx, or null.
inline const Cell* field_value(NodeId ctx, std::int32_t index) {
    Cell bound;
    bound.reset(TypeId::word);
    bound.set_word(ctx, 0, index);  // only the binding is read
    return peek_word_value(bound);
}

struct PathCacheEntry {
    NodeId path;
    std::int32_t element;
    NodeId ctx;
    std::int32_t index;
};
constexpr std::size_t path_cache_size = 256;
PathCacheEntry path_cache[path_cache_size];

// The index of field `element` (a word!) in the object context ctx, or -1
// when it has none, or when it is `self`.
std::int32_t field_index(NodeId pnode, std::int32_t at, NodeId ctx, const Cell& element) {
    PathCacheEntry& e = path_cache[(pnode * 8u + static_cast<std::uint32_t>(at)) % path_cache_size];
    const symbol::SymbolId sym = element.word_symbol();
    if (e.path == pnode && e.element == at && e.ctx == ctx) {
        // context::word_count and word_at, read in place.
        const Cell& cc = *reinterpret_cast<const Cell*>(memory::buffer(ctx)->head);
        const hashtable::HashTable* words = hashtable::record(cc.context_words());
        if (e.index < words->count &&
            reinterpret_cast<const Cell*>(memory::buffer(words->values)->head)[e.index].word_symbol() == sym)
            return e.index;
    }
    if (is_symbol(element, words::id(words::Sym::self))) return -1;
    const std::int32_t index = context::find_symbol(ctx, sym, true);
    if (index >= 0) e = PathCacheEntry{pnode, at, ctx, index};
    return index;
}

// o/x, o/x/y, o/x: and :o/x with objects all along and plain words after the
// first: read or stored through the path caches, with none of the general
// walk's working cells. Returns false, having changed nothing, for any path
// that needs the general walk (tracing, a function to call, an unset field,
// `self`, ...).
// The object that holds the last field of path (a word holding an object,
// then plain words, objects all along) and that field's index, through the
// path caches; false for any other path. holder is valid until the next
// allocation.
bool object_field(const Cell& path, const Cell*& holder, std::int32_t& index) {
    const NodeId pnode = path.series_node();
    const std::int32_t head = path.series_head();
    const std::int32_t tail = tail_of(pnode);
    if (head + 2 > tail) return false;
    const Cell* first = cell_at(pnode, head);
    if (!first->is(TypeId::word)) return false;
    const Cell* cur = peek_word_value(*first);
    for (std::int32_t i = head + 1;; ++i) {
        if (cur == nullptr || !cur->is(TypeId::object)) return false;
        const Cell element = *cell_at(pnode, i);
        if (!element.is(TypeId::word)) return false;
        const NodeId ctx = cur->object_context();
        index = field_index(pnode, i - head, ctx, element);
        if (index < 0) return false;
        if (i + 1 == tail) {
            holder = cur;
            return true;
        }
        cur = field_value(ctx, index);
    }
}

bool eval_object_path(const Cell& path, PathMode mode) {
    const Cell* holder = nullptr;
    std::int32_t index = 0;
    if (!object_field(path, holder, index)) return false;
    if (mode.set) {
        const Cell o = *holder;
        const Cell value = *stack::base();
        object::set_field(o, index, value);  // ownership and on-change as the object's own path code
        push_or_result(value, mode.sub);
        return true;
    }
    const Cell* cur = field_value(holder->object_context(), index);
    if (cur == nullptr) return false;
    if (cur->is(TypeId::unset)) return false;
    if (!mode.get && is_function_type(cur->type())) return false;
    push_or_result(*cur, mode.sub);
    return true;
}

// The general walk of eval_path_i, apart so that the object fast path does
// not pay for its frame.
__attribute__((noinline)) std::int32_t eval_path_walk(const Cell& path_in, NodeId code, std::int32_t pos,
                                                      std::int32_t end, PathMode mode,
                                                      PathRecord* record) {
    const Cell path = path_in;
    const NodeId pnode = path.series_node();
    const std::int32_t head = path.series_head();
    if (head >= tail_of(pnode)) runtime::raise_error(ErrorCategory::script, "empty-path");
    tracing::trace(Event::enter, pnode, head, nullptr, nullptr, TypeId::path);
    Cell* const saved_top = stack::top();
    // Working cells on the argument stack, where the collector sees them.
    Cell* const cur = stack::push(none::value);
    Cell* const parent = stack::push(none::value);
    Cell* const parent_element = stack::push(none::value);
    Cell* const selector = stack::push(none::value);
    Cell* const parent_selector = stack::push(none::value);
    Cell* const path_copy = stack::push(path);
    std::int32_t i = head + 1;
    if (record != nullptr && record->level > 0) {
        i = head + record->level;
        *cur = record->value;
        *parent = record->container;
        record->level = 0;
    } else {
        const Cell first = *cell_at(pnode, head);
        tracing::trace(Event::fetch, pnode, head, nullptr, &first, TypeId::path);
        if (!first.is(TypeId::word)) runtime::raise_error(ErrorCategory::script, "word-first", &path);
        *cur = *context::get_word_cell(first);
        if (is_function_type(cur->type())) {
            if (mode.set) runtime::raise_error(ErrorCategory::script, "invalid-path-set", &path);
            if (mode.get) runtime::raise_error(ErrorCategory::script, "invalid-path-get", &path);
            const Cell fn = *cur;
            stack::set_top(saved_top);
            pos = call_value_i(fn, code, pos, end, mode.sub, &path, head + 1, &first, nullptr, 0, false);
            if (pending) return pos;
            tracing::trace(Event::exit, pnode, tail_of(pnode), nullptr, stack::top() - 1, TypeId::path);
            return pos;
        }
        if (cur->is(TypeId::unset)) runtime::raise_error(ErrorCategory::script, "unset-path", &path, &first);
        *parent_element = first;
    }
    for (; i < tail_of(pnode); ++i) {
        const Cell element = *cell_at(pnode, i);
        const bool last = i + 1 >= tail_of(pnode);
        if (element.is(TypeId::get_word)) {
            *selector = *context::get_word_cell(element);
        } else if (element.is(TypeId::paren)) {
            if (record != nullptr) {
                record->level = i - head + 1;
                record->kind = PathPlace::other;
                record->value = *cur;
                record->container = *parent;
                stack::set_top(saved_top);
                return pos;
            }
            eval_block_i(element, false);
            if (pending) return pos;
            *selector = *(stack::top() - 1);
            stack::pop(1);
        } else {
            *selector = element;
        }
        if (selector->is(TypeId::unset))
            runtime::raise_error(ErrorCategory::script, "invalid-path", &path, &element);
        PathStep step;
        step.path = path_copy;
        step.parent = parent;
        step.parent_element = parent_element;
        step.index = i - head;
        step.pass_through = mode.pass_through;
        step.get = mode.get;
        step.last = last;
        // The type before the step: a handler may leave its result in cur
        // (an image's poke leaves the tuple there), which is no scalar to store back.
        const bool in_place = changes_in_place(cur->type());
        Cell* const result = actions::eval_path_typed(cur, selector, mode.set && last ? stack::base() : nullptr, step);
        if (mode.set && last && in_place) {
            // The handler changed a copy of a scalar (a time's minute): store
            // it back where it came from, the head word or its container.
            if (i == head + 1 && record == nullptr) {
                Cell head_word = *cell_at(pnode, head);
                word::set_value(head_word, *cur);
            } else if (i > head + 1) {
                PathStep up = step;
                up.parent = nullptr;
                up.parent_element = nullptr;
                up.index = step.index - 1;
                actions::eval_path_typed(parent, parent_selector, cur, up);
            }
        }
        *parent_selector = *selector;
        *parent = *cur;
        *parent_element = element;
        *cur = *result;
        if (!mode.set && !mode.get && is_function_type(cur->type())) {
            const Cell fn = *cur;
            const Cell owner = *parent;
            const Cell name = element;
            stack::set_top(saved_top);
            pos = call_value_i(fn, code, pos, end, mode.sub, &path, i + 1, &name, &owner, 0, false);
            if (pending) return pos;
            tracing::trace(Event::exit, pnode, tail_of(pnode), nullptr, stack::top() - 1, TypeId::path);
            return pos;
        }
    }
    const Cell value = *cur;
    stack::set_top(saved_top);
    tracing::trace(Event::exit, pnode, tail_of(pnode), nullptr, &value, TypeId::path);
    push_or_result(value, mode.sub);
    return pos;
}

std::int32_t eval_path_i(const Cell& path_in, NodeId code, std::int32_t pos, std::int32_t end,
                         PathMode mode, PathRecord* record) {
    const Cell path = path_in;  // path_in may lie in code that a set's on-change moves
    if (!tracing::state.on && record == nullptr && !mode.pass_through &&
        eval_object_path(path, mode))
        return pos;
    return eval_path_walk(path, code, pos, end, mode, record);
}

}  // namespace

// --- Public entries ----------------------------------------------------------------------

void init() {
    code_cell = unset_cell();
    collector::set_root(collector::RootStep::code_position, mark_code_cell);
    tracing::init();
}

void eval_block(const Cell& blk, bool into_caller) {
    eval_block_i(blk, into_caller);
    if (pending) throw_pending();
}

void eval_block_tail(const Cell& blk, bool into_caller) { eval_block_i(blk, into_caller); }

void run_block(const Cell& blk) {
    Cell* const top = stack::top();
    eval_block(blk, false);
    stack::set_top(top);
}

std::uint32_t eval_loop_body(const Cell& body) {
    const std::uint32_t caught =
        runtime::catch_throws(runtime::thrown_break, [&] { eval_block_i(body, false); });
    std::uint32_t exit = caught != 0 ? caught : pending;
    if (exit == runtime::thrown_break || exit == runtime::thrown_continue) {
        if (caught != 0) runtime::clear_thrown();
        pending = 0;
        return exit;
    }
    if (caught != 0) runtime::unwind_to_catch();  // return, exit, throw: not the loop's
    return 0;  // a normal pass, or an exit left pending for the loop's caller
}

// A pass through the plan the loop holds for body while it describes the
// body (untraced), else through eval_block_i; a plan that no longer does is
// let go and the body's current one looked up.
__attribute__((always_inline)) inline void LoopPasses::pass(const Cell& body) {
    const NodeId code = body.series_node();
    const Held& h = held_[0].code == code ? held_[0] : held_[1];
    Plan* const plan = static_cast<Plan*>(h.plan);
    if (h.code == code && plan != nullptr && plan_live(plan, code) && body.is(TypeId::block) &&
        body.series_head() >= 0) {
        collector::safe_point();
        if (run_lone_step(*plan, code, body.series_head())) return;
        return run_planned_pass(body, plan);
    }
    look_up(body);
}

// The plan of body, held from this pass on (the one held before for the
// same slot let go), then the pass; tracing and other blocks than block!
// take eval_block_i.
__attribute__((noinline)) void LoopPasses::look_up(const Cell& body) {
    if (tracing::state.on || !body.is(TypeId::block) || body.series_head() < 0)
        return eval_block_i(body, false);
    const NodeId code = body.series_node();
    Held& h = held_[0].code == code || held_[0].code == 0 ? held_[0] : held_[1];
    Plan* plan = static_cast<Plan*>(h.plan);
    if (plan != nullptr) leave_plan(plan);
    h.code = code;
    h.plan = plan = plan_for(body);
    if (plan == nullptr || !plan_live(plan, code)) return eval_block_i(body, false);
    collector::safe_point();
    run_planned_pass(body, plan);
}

LoopPasses::~LoopPasses() {
    for (Held& h : held_)
        if (h.plan != nullptr) leave_plan(static_cast<Plan*>(h.plan));
}

std::uint32_t LoopPasses::run(const Cell& body) {
    runtime::CatchFrame* const frame = scope_.frame();
    frame->level = runtime::thrown_break;
    try {
        pass(body);
    } catch (const runtime::Thrown& thrown) {
        frame->level = 0;
        if (thrown.value > runtime::thrown_break) throw;  // an outer frame's
        if (thrown.value != runtime::thrown_break && thrown.value != runtime::thrown_continue)
            runtime::unwind_to_catch();  // return, exit, throw: not the loop's
        runtime::clear_thrown();
        pending = 0;
        return thrown.value;
    }
    frame->level = 0;
    const std::uint32_t exit = pending;
    if (exit == runtime::thrown_break || exit == runtime::thrown_continue) pending = 0;
    return exit;
}

std::int32_t eval_next(NodeId code, std::int32_t pos, std::int32_t end, bool sub) {
    stack::push_frame(&body_word(), stack::FrameType::call, own_frame);
    pos = eval_expr_i(code, pos, end, false, sub, false);
    if (pending) throw_pending();
    stack::pop_frame();
    return pos;
}

std::int32_t do_next(const Cell& blk) {
    const NodeId code = blk.series_node();
    const std::int32_t pos = blk.series_head();
    if (pos >= tail_of(code)) {
        stack::set_result_only(unset_cell());
        return pos;
    }
    stack::push_frame(&body_word(), stack::FrameType::call, own_frame);
    const std::int32_t next = eval_expr_i(code, pos, to_tail, false, false, false);
    if (pending) throw_pending();
    stack::return_result();
    return next;
}

std::int32_t eval_expression(NodeId code, std::int32_t pos, std::int32_t end, bool no_infix,
                             bool sub, bool literal_functions) {
    pos = eval_expr_i(code, pos, end, no_infix, sub, literal_functions);
    if (pending) throw_pending();
    return pos;
}

std::int32_t call_value(const Cell& fn, NodeId code, std::int32_t pos, std::int32_t end, bool sub,
                        const Cell* path, const Cell* name, const Cell* owner, std::uint32_t mode,
                        bool in_place) {
    const std::int32_t from = path ? path->series_head() + 1 : 0;
    pos = call_value_i(fn, code, pos, end, sub, path, from, name, owner, mode, in_place);
    if (pending) throw_pending();
    return pos;
}

std::int32_t fetch_arguments(const Cell& fn, NodeId code, std::int32_t pos, std::int32_t end,
                             const Cell* path, const Cell* name, std::uint32_t mode, bool in_place) {
    const std::int32_t from = path ? path->series_head() + 1 : 0;
    const Cell label = name ? *name : anon_word();
    pos = fetch_i(fn, code, pos, end, path, from, label, mode, in_place);
    if (pending) throw_pending();
    return pos;
}

std::int32_t eval_path(const Cell& path, NodeId code, std::int32_t pos, std::int32_t end,
                       PathMode mode, PathRecord* record) {
    pos = eval_path_i(path, code, pos, end, mode, record);
    if (pending) throw_pending();
    return pos;
}

void call_function(const Cell& fn, NodeId ctx, const Cell& name, std::uint32_t mask) {
    call_function_i(fn, ctx, name, mask);
    if (pending) throw_pending();
}

void push_slots(const Cell& fn, const Cell* args, std::int32_t count, const Cell& name) {
    const NodeId shape = shape_of(fn);
    const std::int32_t cells = shape_at(shape).cells;
    const std::int32_t positional = shape_at(shape).positional;
    std::int32_t slot = 0;
    for (std::int32_t i = 0; i < cells; ++i) {
        const Cell e = shape_cells(shape)[i];
        if (e.is(TypeId::refinement)) {
            stack::push(slot < count ? args[slot] : logic::false_value);
        } else if (arg_kind(e) == ArgKind::return_type) {
            continue;
        } else if (slot < count) {
            if (i < positional) check_argument(fn, name, e, args[slot]);
            stack::push(args[slot]);
        } else {
            stack::push(none::value);
        }
        ++slot;
    }
    const std::int32_t locals = shape_at(shape).locals;
    for (std::int32_t i = 0; i < locals; ++i, ++slot)
        stack::push(slot < count ? args[slot] : i == 0 ? logic::false_value : none::value);
}

void call_routine(const Cell& r) {
    const Cell* code = function::extra_cell(r, function::extra_code);
    const routine::Entry* entry = code->is(TypeId::integer) ? routine::entry(code->int_value()) : nullptr;
    if (entry == nullptr) runtime::raise_error(ErrorCategory::internal, "not-done");
    if (r.routine_maker_flag()) {  // takes the argument cells under its own frame
        Cell* args = stack::base();
        stack::push_frame(&body_word(), stack::FrameType::call);
        entry->call(args);
        stack::pop_frame_reset();
        return;
    }
    entry->call(stack::base());
}

std::uint32_t exit_pending() { return pending; }
void clear_exit() { pending = 0; }

void hand_over_exit(std::uint32_t thrown) {
    if (stack::exit_polled()) {
        pending = thrown;
        return;
    }
    stack::hand_over(thrown);
}

void throw_pending() {
    const std::uint32_t value = pending;
    pending = 0;
    stack::hand_over(value);
}

const Cell& current_code() { return code_cell; }

}  // namespace kiv::interpreter
