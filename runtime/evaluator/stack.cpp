// The argument stack, the call frames and the unwinding of non-local exits.
// Unwinders reset both stacks to the receiving frame and restore the value
// storage of every function frame they pop; handing the exit over to C++ code
// is the caller's (hand_over, or the interpreter's pending exit).
#include "runtime/evaluator/stack.h"

#include "runtime/core/assert.h"
#include "runtime/core/collector.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/context.h"
#include "runtime/datatypes/cycles.h"
#include "runtime/datatypes/error.h"
#include "runtime/datatypes/string.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/datatypes/word.h"
#include "runtime/datatypes/words.h"
#include "runtime/evaluator/tracing.h"
#include "runtime/os/process.h"
#include "runtime/core/raise.h"
#include "runtime/core/runtime_error.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace kiv::stack {

using detail::state;

namespace {

constexpr std::int32_t overflow_room = 5;  // cells given back for the error's own work
constexpr int uncaught_error_status = 254;

[[noreturn]] void overflow() {
    state.top = state.top - overflow_room < state.begin ? state.begin : state.top - overflow_room;
    if (state.base > state.top) state.base = state.top;
    cycles::reset();  // the error report molds again from an empty cycle stack
    runtime::raise_error(ErrorCategory::internal, "stack-overflow");
}

// The frame's own argument base: the caller base of the record above it, or
// the current base for the top frame.
Cell* own_base(const Frame* f, const Frame* top) {
    return f + 1 < top ? cell_at((f + 1)->caller_base) : state.base;
}

// Puts back the value storage a function frame saved.
void restore(const Frame& f) {
    if (f.function_context == 0) return;
    if (!context::context_cell(f.function_context)->context_on_stack()) return;
    context::set_stack_values(f.function_context, static_cast<std::int32_t>(f.saved_values) - 1);
}
void restore_if_function(const Frame& f) {
    if (f.type() == FrameType::function) restore(f);
}

bool unnamed(const Frame& f) { return f.symbol == state.body_symbol || f.symbol == state.anon_symbol; }

// True when ctx still names a live context (a stale frame may not).
bool live_context(NodeId ctx) {
    return ctx != 0 && memory::node_in_use(ctx) && memory::buffer(ctx)->unit() == sizeof(Cell) &&
           context::context_cell(ctx)->is(TypeId::context);
}

// A word! of sym bound in ctx (the global context when ctx is 0 or gone).
Cell word_in(std::uint32_t sym, NodeId ctx) {
    Cell w{};
    if (!live_context(ctx)) ctx = context::global();
    std::int32_t index = context::find_symbol(ctx, sym, true);
    if (index < 0) {
        ctx = context::global();
        index = context::find_symbol(ctx, sym, true);
    }
    w.reset(TypeId::word);
    w.set_word(index < 0 ? 0 : ctx, sym, index);
    return w;
}

// The frames between from (inclusive, the top frame) and to (inclusive) all poll.
bool all_poll(const Frame* from, const Frame* to) {
    for (const Frame* f = from; f >= to; --f)
        if (!f->polls()) return false;
    return true;
}

// The exit search shared by break, continue, return and throw: from the top
// frame down, the first frame accepted by found; a barrier on the way, or the
// bottom, raises the exit's throw error. skip_top: the top frame (the exit's
// own call) is only checked for a barrier.
template <typename Found>
Frame* find_receiver(Found&& found, bool skip_top, const char* id, const Cell* arg) {
    Frame* f = top_frame();
    if (!f) runtime::raise_error(ErrorCategory::throw_, id, arg);
    for (bool first = true;; first = false) {
        if (f->type() == FrameType::barrier) runtime::raise_error(ErrorCategory::throw_, id, arg);
        if (!(first && skip_top) && found(*f)) return f;
        if (f == state.frames_begin) runtime::raise_error(ErrorCategory::throw_, id, arg);
        --f;
    }
}

// Pops every frame above receiver (restoring function frames) and makes the
// receiver's own base current with an empty argument list.
Cell* settle_at(Frame* receiver) {
    Frame* entry_top = state.frames_top;
    Cell* base = own_base(receiver, entry_top);
    for (Frame* f = entry_top - 1; f > receiver; --f) restore_if_function(*f);
    state.exit_polled = all_poll(entry_top - 1, receiver);
    state.frames_top = receiver + 1;
    state.base = state.top = base;
    return base;
}

// --- Collector roots ---------------------------------------------------------------

// Both storages, and every argument cell in use (callers' arguments included).
void mark_stacks() {
    collector::mark_node(state.argument_node);
    collector::mark_node(state.frame_node);
    collector::mark_cells(state.begin, state.top);
}

void mark_frames() {
    const std::uint32_t self = words::id(words::Sym::self);
    for (const Frame* f = state.frames_begin; f < state.frames_top; ++f) {
        if (f->word_context != 0) {
            if (f->symbol == self) collector::mark_series_cells(f->word_context);
            else collector::mark_context(f->word_context);
        }
        if (f->function_context != 0) collector::mark_context(f->function_context);
    }
}

}  // namespace

// --- Start-up ----------------------------------------------------------------------

void make_storage() {
    // The storages' tails stay at 0: the root block's walk must not read
    // stale argument cells or frame records as values; mark_stacks does it.
    // Their cells are left as the system hands them over (zeroed), not preset:
    // nothing reads a cell above the top before writing it, and presetting
    // would touch every page of both storages at start-up.
    const auto make = [](std::int32_t cells) {
        Cell made{};
        made.reset(TypeId::block);
        made.set_series_node(memory::alloc_fixed_series(cells, sizeof(Cell), 0));
        return block::append_copy(block::root(), made)->series_node();
    };
    state.argument_node = make(argument_cells);
    state.frame_node = make(frame_storage_cells);
}

void init() {
    KIV_ASSERT(state.argument_node != 0, "stack storage made before stack::init");
    SeriesBuffer* args = memory::buffer(state.argument_node);
    state.begin = state.base = state.top = reinterpret_cast<Cell*>(args->data());
    state.end = state.begin + argument_cells;
    SeriesBuffer* frames = memory::buffer(state.frame_node);
    state.frames_begin = state.frames_top = reinterpret_cast<Frame*>(frames->data());
    state.frames_end = state.frames_begin + frame_capacity;
    KIV_ASSERT(static_cast<std::size_t>(frames->size) >= frame_capacity * sizeof(Frame),
               "frame storage holds every record");
    state.throw_start = nullptr;
    state.exit_polled = false;
    state.body_symbol = words::word(words::Word::body).word_symbol();
    state.anon_symbol = words::word(words::Word::anon).word_symbol();
    collector::set_root(collector::RootStep::stacks, mark_stacks);
    collector::set_root(collector::RootStep::frames, mark_frames);
    context::set_argument_stack(state.begin);
    runtime::set_error_route([](LanguageError& e) { throw_error(e); });
}

void argument_overflow() { overflow(); }

// --- Frames --------------------------------------------------------------------------

void frame_overflow() { overflow(); }

Cell* push_catch_frame(const Cell* word, const Cell* names) {
    const std::uint32_t at = names != nullptr ? index_of(names) + 1 : 0;
    Cell* base = push_frame(word, FrameType::catch_);
    state.frames_top[-1].saved_values = at;
    return base;
}

Cell* push_function_frame(const Cell* word, NodeId ctx) {
    Cell* base = push_frame(word, FrameType::function);
    Frame& f = state.frames_top[-1];
    f.function_context = ctx;
    if (ctx != 0 && context::context_cell(ctx)->context_on_stack())
        f.saved_values = context::context_cell(ctx)->context_values();
    return base;
}

Cell* push_interpreted_function_frame(const Cell* word, NodeId ctx) {
    Cell* base = push_function_frame(word, ctx);
    state.frames_top[-1].flags |= Frame::interpreted_flag;
    return base;
}

Cell* push_body_frame(const Cell* word, NodeId ctx) {
    context::set_stack_values(ctx, static_cast<std::int32_t>(index_of(state.base)));
    return push_frame(word, FrameType::call, Frame::body_flag);
}

void set_interpreted_flag() {
    KIV_ASSERT(top_frame(), "a frame to flag");
    top_frame()->flags |= Frame::interpreted_flag;
}

void set_poll_flag() {
    KIV_ASSERT(top_frame(), "a frame to flag");
    top_frame()->flags |= Frame::poll_flag;
}

Frame* mark_caller_body() {
    KIV_ASSERT(frame_depth() >= 2, "a caller below the top frame");
    Frame* f = state.frames_top - 2;
    if (f->body()) return nullptr;
    f->flags |= Frame::body_flag;
    return f;
}

void clear_body_flag(Frame* frame) { frame->flags &= ~Frame::body_flag; }

bool interpreted_frame_q(const Frame* start, bool only_first) {
    const Frame* f = (start ? start : state.frames_top) - 1;
    for (; f >= state.frames_begin; --f) {
        if (f->interpreted()) return true;
        if (only_first) return false;
    }
    return false;
}

namespace {

// Pops the top frame; returns the callee's base. base becomes the caller's.
Cell* pop_record(bool restore_values) {
    KIV_ASSERT(state.frames_top > state.frames_begin, "a frame to pop");
    const Frame& f = *--state.frames_top;
    if (restore_values) restore(f);
    Cell* callee = state.base;
    state.base = cell_at(f.caller_base);
    return callee;
}

}  // namespace

void pop_function_frame() { state.top = pop_record(true) + 1; }

void return_function_result() {
    Cell* callee = pop_record(true);
    *state.base = *callee;
    state.top = callee + 1;
}

void pop_frame_reset() {
    pop_record(false);
    state.top = state.base;
}

void pop_function_frame_reset() {
    pop_record(true);
    state.top = state.base;
}

void pop_any_frame() {
    KIV_ASSERT(state.frames_top > state.frames_begin, "a frame to pop");
    const Frame& f = state.frames_top[-1];
    state.top = pop_record(f.type() == FrameType::function);
    if (state.frames_top == state.frames_begin) state.base = state.top = state.begin;
}

void pop_above(const Frame* frame) {
    while (state.frames_top > frame + 1) pop_any_frame();
}

// --- Unwinding ---------------------------------------------------------------------------

void unwind(FrameType type, bool keep) {
    Frame* const entry_top = state.frames_top;
    Cell* const entry_base = state.base;
    while (state.frames_top > state.frames_begin) {
        const Frame& f = *--state.frames_top;
        restore_if_function(f);
        if (state.frames_top <= state.frames_begin || f.type() == type ||
            f.type() == FrameType::barrier)
            break;
    }
    if (entry_top == state.frames_begin) {  // no frame at all
        state.base = state.top = state.begin;
        return;
    }
    if (keep) ++state.frames_top;
    if (state.frames_top == entry_top) {
        state.top = state.base + 1;
    } else if (state.frames_top == state.frames_begin) {
        state.base = state.top = state.begin;
    } else {
        state.top = entry_base + 1;  // the inner result stays the last value
        state.base = cell_at(state.frames_top->caller_base);
    }
    if (!keep) ++state.frames_top;
}

void unwind_to_frame(FrameType type) {
    const Cell result = *state.base;
    unwind(type, true);
    *state.base = result;
    state.top = state.base;
}

std::uint32_t unwind_break(bool value, bool continue_) {
    const char* id = continue_ ? "continue" : "break";
    Frame* loop = find_receiver([](const Frame& f) { return f.type() == FrameType::loop; },
                                false, id, nullptr);
    const Cell given = *state.base;
    Cell* result = settle_at(loop);
    if (value && !continue_) *result = given;
    else result->reset(TypeId::unset);
    return continue_ ? runtime::thrown_continue : runtime::thrown_break;
}

std::uint32_t unwind_return(bool value) {
    Frame* body = find_receiver([](const Frame& f) { return f.body(); }, true, "return", nullptr);
    const Cell given = *state.base;
    Cell* result = settle_at(body);
    if (value) *result = given;
    else result->reset(TypeId::unset);
    return value ? runtime::thrown_return : runtime::thrown_exit;
}

std::uint32_t unwind_throw(std::uint32_t thrown) {
    const Cell value = state.base[0];
    const Cell name = state.base + 1 < state.top ? state.base[1] : Cell::fresh(TypeId::none);
    if (!state.throw_start) state.throw_start = top_frame();
    // a catch whose names are no words lets its own check raise
    const auto takes = [&name](const Frame& f) {
        return f.type() == FrameType::catch_ &&
               (f.saved_values == 0 || names_take(*cell_at(f.saved_values - 1), name) != 0);
    };
    Frame* target = find_receiver(takes, false, "throw", &value);
    settle_at(target);
    push(value);
    push(name);
    return thrown;
}

int names_take(const Cell& names, const Cell& thrown) {
    const Cell* first = &names;
    const Cell* end = &names + 1;
    if (names.is(TypeId::block)) {
        end = block::tail_cell(names);
        first = end - block::count_from_head(names);
        if (std::any_of(first, end, [](const Cell& c) { return !c.is(TypeId::word); })) return -1;
    }
    if (!thrown.is(TypeId::word)) return 0;
    const symbol::SymbolId want = symbol::resolve_alias(thrown.word_symbol());
    return std::any_of(first, end, [want](const Cell& c) { return symbol::resolve_alias(c.word_symbol()) == want; })
               ? 1
               : 0;
}

void hand_over(std::uint32_t thrown) { runtime::throw_value(thrown); }

void keep_try_result() {
    if (last_type() == TypeId::error) *state.base = *last_value();
    state.top = state.base + 1;
}

namespace {

// The report of an error that no frame catches: its form on standard error,
// then the process ends.
[[noreturn]] void uncaught(const Cell& error) {
    std::string text = "*** uncaught error";
    if (error.is(TypeId::error) && error::catalog_loaded()) {
        Cell e = error;
        collector::Root keep(e);
        error::fill_stack_trace(keep.cell());
        Cell out{};
        string::make_at(out, 64);
        collector::Root keep_out(out);
        error::report(keep.cell(), out.series_node(), INT32_MAX);
        text.clear();
        SeriesBuffer* buf = memory::buffer(out.series_node());
        const std::uint32_t unit = buf->unit();
        for (std::uint8_t* p = buf->head; p < buf->tail; p += unit) {
            const std::uint32_t cp = string::get_char(p, unit);
            if (cp < 0x80) { text += static_cast<char>(cp); continue; }  // UTF-8 by hand
            if (cp < 0x800) { text += static_cast<char>(0xC0 | (cp >> 6)); }
            else {
                if (cp < 0x10000) { text += static_cast<char>(0xE0 | (cp >> 12)); }
                else {
                    text += static_cast<char>(0xF0 | (cp >> 18));
                    text += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
                }
                text += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
            }
            text += static_cast<char>(0x80 | (cp & 0x3F));
        }
    }
    std::fflush(stdout);
    std::fprintf(stderr, "%s\n", text.c_str());
    std::fflush(stderr);
    runtime::exit_cleanup();
    std::exit(uncaught_error_status);
}

// Where and stack of an error setting out: the calling function's word and
// the frame depth, which the catch site turns into the call trace.
void annotate(const Cell& error) {
    if (!error.is(TypeId::error) || !error::catalog_loaded()) return;
    const Cell where = calling_function_word();
    if (where.word_symbol() != words::word(words::Word::not_found).word_symbol())
        error::set_where_if_none(error, where);  // no named call: where stays none, "???"
    Cell* field = error::field(error, error::Field::stack);
    if (!field->is(TypeId::block)) {
        field->reset(TypeId::integer);
        field->set_int(frame_depth());
    }
}

// The nearest try or barrier frame, or null.
Frame* error_receiver() {
    for (Frame* f = state.frames_top - 1; f >= state.frames_begin; --f)
        if (f->type() == FrameType::try_ || f->type() == FrameType::barrier) return f;
    return nullptr;
}

// Pops every frame above keep_top (restoring function frames' values).
void pop_down_to(Frame* keep_top) {
    for (Frame* f = state.frames_top - 1; f >= keep_top; --f) restore_if_function(*f);
    state.frames_top = keep_top;
}

}  // namespace

void Mark::restore() const {
    pop_down_to(frames_top_);
    state.base = base_;
    state.top = top_;
}

void throw_error(LanguageError& e) {
    if (state.begin == nullptr) throw e;  // no stacks yet
    if (tracing::wanted(tracing::Event::error)) {
        const Cell value = e.error;
        tracing::trace(tracing::Event::error, 0, -1, nullptr, &value);
    }
    annotate(e.error);
    Frame* const receiver = error_receiver();
    ErrorCatchScope* const catcher = state.catchers;
    if (catcher && (!receiver || catcher->mark_.frames_top() > receiver)) {
        catcher->mark_.restore();
        throw e;
    }
    if (!receiver) {
        if (runtime::process().root_frame != nullptr) uncaught(e.error);
        throw e;  // an embedding C++ caller handles it
    }
    Cell* const own = own_base(receiver, state.frames_top);
    pop_down_to(receiver + 1);
    state.base = state.top = own;
    push(e.error);
    throw e;
}

// --- Reports -------------------------------------------------------------------------------

Cell frame_word(const Frame& f) { return word_in(f.symbol, f.word_context); }
bool unnamed_frame(const Frame& f) { return unnamed(f); }

Cell calling_function_word() {
    const Frame* f = state.throw_start ? state.throw_start : top_frame();
    state.throw_start = nullptr;
    for (; f && f >= state.frames_begin; --f)
        if (!unnamed(*f)) return word_in(f->symbol, f->word_context);
    return words::word(words::Word::not_found);
}

namespace {

// The frames a call trace lists, from the bottom up to end_depth (clamped).
template <typename Visit>
void trace_frames(std::int32_t level, std::int32_t end_depth, Visit&& visit) {
    const Frame* end = state.frames_begin + std::min(end_depth, frame_capacity);
    for (const Frame* f = state.frames_begin; f < end; ++f) {
        if (unnamed(*f)) continue;
        const Cell w = word_in(f->symbol, f->word_context);
        if (level <= 1) {
            const Cell* v = w.word_index() < 0 ? nullptr : context::value_at(w.word_context(), w.word_index());
            if (!v || !v->is(TypeId::function)) continue;
        }
        visit(w);
    }
}

}  // namespace

std::int32_t form_call_trace(std::int32_t level, std::int32_t end_depth, NodeId out, std::int32_t limit) {
    trace_frames(level, end_depth, [&](const Cell& w) {
        Cell copy = w;
        limit = word::form(&copy, out, nullptr, limit);
        string::append_char(out, ' ');
        limit -= 1;
    });
    return limit;
}

void collect_call_trace(std::int32_t level, const Cell& blk, std::int32_t end_depth) {
    trace_frames(level, end_depth, [&](const Cell& w) {
        Cell global = w;
        word::make_at(w.word_symbol(), global);
        block::append_copy(blk, global);
    });
}

void collect_frame_words(const Cell& blk) {
    for (const Frame* f = top_frame(); f && f > state.frames_begin; --f) {
        if (unnamed(*f)) continue;
        const Cell w = word_in(f->symbol, f->function_context);
        block::append_copy(blk, w);
        Cell index{};
        index.reset(TypeId::integer);
        index.set_int(static_cast<std::int32_t>(f->caller_base));
        block::append_copy(blk, index);
    }
}

}  // namespace kiv::stack
