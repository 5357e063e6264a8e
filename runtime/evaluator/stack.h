// The argument stack and the call-frame stack: every call's arguments sit from
// the current base, the cell at the base is its result slot; every active call
// has a frame record. Non-local exits reset both stacks to the receiving frame
// first, then reach its C++ code as a runtime::Thrown or, when every frame in
// between polls, as the interpreter's pending exit. begin <= base <= top < end.
#pragma once

#include "runtime/core/cell.h"
#include "runtime/evaluator/services.h"
#include "runtime/core/memory.h"
#include "runtime/core/raise.h"

#include <cstdint>

namespace kiv::stack {

inline constexpr std::int32_t argument_cells = 20000;   // cells of the argument stack
inline constexpr std::int32_t frame_capacity = 12000;   // call-frame records
inline constexpr std::int32_t frame_storage_cells = 18000;  // 12,000 records of 24 bytes

// Frame types (flags bits 24-27); the receiver of each exit is named by type.
enum class FrameType : std::uint32_t {
    function = 1,   // a function owning a stack context; popping restores its values
    call = 2,       // any other call; with the body flag, a function body
    try_ = 4,       // catches errors
    barrier = 5,    // catches errors; every other exit reaching it becomes an error
    catch_ = 6,     // catches `throw`
    eval = 7,       // the block evaluator (always interpreted)
    loop = 8,       // catches `break` and `continue`
};

// One call frame.
//   flags:  31  30  29  28  27 .. 24  23 ............................... 0
//          [IN][  ][PL][BD][  type  ][                 0                  ]
//   IN pushed by the interpreter; PL the code that pushed the frame checks for a
//   pending exit after each evaluation (exit_polled); BD a function body, the
//   target of return and exit.
// The symbol is a word of its own, so every symbol id fits.
struct Frame {
    std::uint32_t flags;
    std::uint32_t symbol;            // symbol id of the called word
    std::uint32_t caller_base;       // argument-stack index of the caller's base
    std::uint32_t word_context;      // the called word's context node (its binding)
    std::uint32_t function_context;  // type function only: the function's context node
    std::uint32_t saved_values;      // type function: that context's value storage at push;
                                     // type catch: 1 + the argument index of /name's names, or 0

    static constexpr std::uint32_t type_shift = 24;
    static constexpr std::uint32_t type_mask = 0x0F000000;
    static constexpr std::uint32_t body_flag = 0x10000000;
    static constexpr std::uint32_t poll_flag = 0x20000000;
    static constexpr std::uint32_t interpreted_flag = 0x80000000;

    FrameType type() const { return static_cast<FrameType>((flags & type_mask) >> type_shift); }
    bool body() const { return (flags & body_flag) != 0; }
    bool polls() const { return (flags & poll_flag) != 0; }
    bool interpreted() const { return (flags & interpreted_flag) != 0; }
};
static_assert(sizeof(Frame) == 24);

class ErrorCatchScope;

namespace detail {

// The stacks' pointers. Both storages are fixed buffers, so the pointers stay
// valid for the whole run. Only this header's functions and stack.cpp touch
// them (tools/check_layers.py holds every other file to that); the rest of the
// program moves the stacks through the functions below.
struct State {
    Cell* begin = nullptr;
    Cell* base = nullptr;
    Cell* top = nullptr;             // next free cell
    Cell* end = nullptr;
    Frame* frames_begin = nullptr;
    Frame* frames_top = nullptr;     // next free record
    Frame* frames_end = nullptr;
    Frame* throw_start = nullptr;    // where `throw` began unwinding, for `where`
    bool exit_polled = false;        // see exit_polled()
    ErrorCatchScope* catchers = nullptr;  // innermost native error catcher
    std::uint32_t body_symbol = 0;   // <body>
    std::uint32_t anon_symbol = 0;   // <anon>
    NodeId argument_node = 0;
    NodeId frame_node = 0;
};
inline State state;

}  // namespace detail

// --- Start-up ------------------------------------------------------------------

// Appends the argument stack's and the frame stack's fixed blocks to the root
// block (in that order). Once, after the root block.
void make_storage();
// Sets the pointers, caches the <body> and <anon> symbols, installs the
// collector roots and hands the argument stack to the contexts. Needs the
// storage and the runtime words.
void init();

// --- Argument stack ----------------------------------------------------------

// Raises internal stack-overflow after dropping five cells (the process survives).
[[noreturn]] void argument_overflow();

inline Cell* base() { return detail::state.base; }
inline Cell* top() { return detail::state.top; }
// Argument i of the current call (0 is the result slot).
inline Cell* arg(std::int32_t i) { return detail::state.base + i; }
// Argument-stack index of a cell.
inline std::uint32_t index_of(const Cell* cell) {
    return static_cast<std::uint32_t>(cell - detail::state.begin);
}
inline Cell* cell_at(std::uint32_t index) { return detail::state.begin + index; }

// Copies value to the top and advances it; returns the new cell.
inline Cell* push(const Cell& value) {
    detail::State& s = detail::state;
    Cell* cell = s.top;
    *cell = value;
    if (++s.top >= s.end) argument_overflow();
    return cell;
}
// Advances the top by one cell; returns the old top for the caller to fill.
inline Cell* push_slot() {
    detail::State& s = detail::state;
    Cell* cell = s.top;
    if (++s.top >= s.end) argument_overflow();
    return cell;
}
// Drops count cells, never below begin.
inline void pop(std::int32_t count) {
    detail::State& s = detail::state;
    s.top = s.top - count < s.begin ? s.begin : s.top - count;
}
// top := cell, a cell of the current call's (at or above base): the values
// from it up are dropped, or the cells below it become values.
inline void set_top(Cell* cell) { detail::state.top = cell; }
// top := base (an empty argument list); returns base.
inline Cell* reset() { return detail::state.top = detail::state.base; }
// top := base + 1 (only the result slot stays); returns base.
inline Cell* keep_first() {
    detail::state.top = detail::state.base + 1;
    return detail::state.base;
}
// Copies value into the result slot; the top stays.
inline void set_result(const Cell& value) { *detail::state.base = value; }
// Copies value into the result slot and keeps only it.
inline void set_result_only(const Cell& value) {
    *detail::state.base = value;
    detail::state.top = detail::state.base + 1;
}
// The cell below the top, or begin when the stack is empty.
inline Cell* last_value() {
    detail::State& s = detail::state;
    return s.top > s.begin ? s.top - 1 : s.begin;
}
// True when frames more records fit and cell last lies below the end: code
// that computes in place checks it, so that the overflow is raised where the
// frames and pushes it saves would have raised it.
inline bool room_for(std::int32_t frames, const Cell* last) {
    return detail::state.frames_top + frames <= detail::state.frames_end && last < detail::state.end;
}
inline TypeId last_type() { return last_value()->type(); }
inline bool last_is_function() {
    const TypeId t = last_type();
    return t == TypeId::function || t == TypeId::routine;
}

// --- Frames --------------------------------------------------------------------

// The top frame, or null when the frame stack is empty.
inline Frame* top_frame() {
    detail::State& s = detail::state;
    return s.frames_top > s.frames_begin ? s.frames_top - 1 : nullptr;
}
// The first record: a walk down from top_frame() ends below it.
inline const Frame* bottom_frame() { return detail::state.frames_begin; }
// Frames on the stack.
inline std::int32_t frame_depth() {
    return static_cast<std::int32_t>(detail::state.frames_top - detail::state.frames_begin);
}

// Raises internal stack-overflow for a full frame stack (nothing written).
[[noreturn]] void frame_overflow();

// The generic push: a frame of type with extra flag bits, labelled by word (a
// word cell; null labels it <anon>). The arguments pushed from now on are the
// callee's: base := top. Returns the new base. A full frame stack raises
// internal stack-overflow and writes nothing. Inline: every call pushes one.
inline Cell* push_frame(const Cell* word, FrameType type, std::uint32_t flags = 0) {
    detail::State& s = detail::state;
    if (s.frames_top >= s.frames_end) frame_overflow();
    Frame& f = *s.frames_top++;
    f.flags = (static_cast<std::uint32_t>(type) << Frame::type_shift) | flags;
    f.symbol = word ? word->word_symbol() : s.anon_symbol;
    f.caller_base = index_of(s.base);
    f.word_context = word ? word->word_context() : 0;
    f.function_context = 0;
    f.saved_values = 0;
    return s.base = s.top;
}
// A function frame: saves the context's value storage (ctx 0: none).
Cell* push_function_frame(const Cell* word, NodeId ctx);
Cell* push_interpreted_function_frame(const Cell* word, NodeId ctx);
inline Cell* push_call_frame(const Cell* word) { return push_frame(word, FrameType::call); }
inline Cell* push_interpreted_call_frame(const Cell* word) {
    return push_frame(word, FrameType::call, Frame::interpreted_flag);
}
inline Cell* push_try_frame(const Cell* word) { return push_frame(word, FrameType::try_); }
inline Cell* push_barrier_frame(const Cell* word) { return push_frame(word, FrameType::barrier); }
// A catch frame; names (null without /name) is the cell of the names it takes.
Cell* push_catch_frame(const Cell* word, const Cell* names);
inline Cell* push_eval_frame(const Cell* word) {
    return push_frame(word, FrameType::eval, Frame::interpreted_flag);
}
inline Cell* push_loop_frame(const Cell* word) { return push_frame(word, FrameType::loop); }
// Points the stack context's values at the current base (the arguments
// already pushed become the function's argument and local slots), then
// pushes a call frame with the body flag.
Cell* push_body_frame(const Cell* word, NodeId ctx);

// Flag edits on the top frame (there must be one).
inline void set_body_flag(bool on) {
    Frame& f = detail::state.frames_top[-1];
    f.flags = on ? (f.flags | Frame::body_flag) : (f.flags & ~Frame::body_flag);
}
void set_interpreted_flag();
void set_poll_flag();
// Sets the body flag of the frame below the top; null when it was already set,
// else that frame (for clear_body_flag). Serves `do` running a function body.
Frame* mark_caller_body();
void clear_body_flag(Frame* frame);
// Walks down from the frame below start (null: the top frame): true at the
// first interpreted frame; false at the bottom, or at the first frame when
// only_first is set and it is not interpreted.
bool interpreted_frame_q(const Frame* start, bool only_first);

// Frame pops; base becomes the caller's again. The *function* pops restore the
// function context's value storage. pop_frame and pop_function_frame keep the
// callee's result as the caller's last value (top := callee base + 1);
// return_* also copy it into the caller's result slot; *_reset drop it (top :=
// the caller's base).
inline void pop_frame() {
    detail::State& s = detail::state;
    const Frame& f = *--s.frames_top;
    s.top = s.base + 1;
    s.base = s.begin + f.caller_base;
}
void pop_function_frame();
inline void return_result() {
    detail::State& s = detail::state;
    const Frame& f = *--s.frames_top;
    Cell* const callee = s.base;
    s.base = s.begin + f.caller_base;
    *s.base = *callee;
    s.top = callee + 1;
}
void return_function_result();
void pop_frame_reset();
void pop_function_frame_reset();
// Pops any frame, restoring a function frame's values; drops the result
// (top := callee base). An emptied frame stack resets base and top to begin.
void pop_any_frame();
// pop_any_frame until frame is the top frame.
void pop_above(const Frame* frame);

// --- Unwinding -------------------------------------------------------------------

// Pops frames down to the nearest frame of type (or a barrier, or the bottom
// record, which always stays); keep leaves the found frame's own base current,
// else its caller's. See the .cpp for the pointer rules.
void unwind(FrameType type, bool keep);
// Unwinds to the nearest frame of type, copies the current result into that
// frame's result slot and makes its base current with no arguments.
void unwind_to_frame(FrameType type);
inline void unwind_to_loop(bool keep) { unwind(FrameType::loop, keep); }

// The bodies of break/continue, return/exit and throw. Each resets the stacks
// to its receiver (a loop, a function body, a catch frame) and stores the
// result there, then returns the thrown value for the caller to hand over
// (hand_over, or the interpreter's pending exit when exit_polled()). A barrier
// or the bottom raises throw error break/continue/return/throw with the stacks
// as they were. value: the refinement's value stands at the base.
std::uint32_t unwind_break(bool value, bool continue_);
std::uint32_t unwind_return(bool value);
// thrown: the exit value (runtime::thrown_throw for `throw`); the thrown
// value and its /name stand at the base and the cell after it. The receiver
// is the nearest catch that takes the name: a throw that none takes raises
// where it was thrown, so a `try` around it gets the error.
std::uint32_t unwind_throw(std::uint32_t thrown);
// Whether names (a catch's /name: a word or a block of words) take the
// thrown name, a word! compared by symbol without case, aliases resolved:
// 1 yes, 0 no, -1 a block holding other values than words.
int names_take(const Cell& names, const Cell& thrown);
// After a try body: an error! last value becomes the result; top := base + 1.
void keep_try_result();

// The end of every raised error (runtime::raise_error routes here once the
// stacks exist). Stores in the error's where the calling function's word
// (when none) and in its stack the frame depth (unless it holds a block!);
// then resets the stacks to the nearest receiver and throws e to it:
// - a try or barrier frame: the frames above it go (function frames restore
//   their values), it stays for its own code to pop, base is its own base and
//   a copy of the error is its only argument (base[0]);
// - a nearer ErrorCatchScope: the stacks return to where they stood when it
//   was made.
// With neither, under the program's root catch frame, the error is uncaught:
// its report goes to standard error and the process exits with status 254.
// Without a root frame (the runtime embedded, as in tests) it is thrown to
// the C++ caller with the stacks unchanged.
[[noreturn]] void throw_error(LanguageError& e);

// The stacks as they stand, for C++ code that runs language code and must
// leave them as it found them. restore() pops the frames pushed since (a
// function frame gives its context's values back) and puts base and top back;
// after an error's unwinding went below the mark it puts the pointers back as
// they stood, for a caller that knows the cells and records there are intact.
class Mark {
public:
    Mark() : frames_top_(detail::state.frames_top), base_(detail::state.base), top_(detail::state.top) {}
    void restore() const;
    Frame* frames_top() const { return frames_top_; }

private:
    Frame* frames_top_;
    Cell* base_;
    Cell* top_;
};

// A C++ catch site for language errors that pushes no frame of its own (a
// scan that may fail and is handled in place). Errors raised under it leave
// the stacks where they stood at its construction, unless a try or barrier
// frame is nearer. Scopes nest; each is destroyed in reverse order.
class ErrorCatchScope {
public:
    ErrorCatchScope() : previous_(detail::state.catchers) { detail::state.catchers = this; }
    ~ErrorCatchScope() { detail::state.catchers = previous_; }
    ErrorCatchScope(const ErrorCatchScope&) = delete;
    ErrorCatchScope& operator=(const ErrorCatchScope&) = delete;

private:
    friend void throw_error(LanguageError& e);
    Mark mark_;
    ErrorCatchScope* previous_;
};

// --- Handing exits over -------------------------------------------------------

// True when every frame from the top (at the last unwind_break, unwind_return
// or unwind_throw) down to the receiver had the poll flag: the exit may then
// travel as a pending state (interpreter.h) instead of a C++ throw.
inline bool exit_polled() { return detail::state.exit_polled; }
// Hands an exit to its receiver as a C++ throw (runtime::throw_value).
[[noreturn]] void hand_over(std::uint32_t thrown);

// --- Reports ---------------------------------------------------------------------

// The word of frame f, bound in the context it was called through (the global
// context when that is gone).
Cell frame_word(const Frame& f);
// True for frames named <body> or <anon> (no named call).
bool unnamed_frame(const Frame& f);
// Forgets where the last `throw` began (its catcher has received it).
inline void clear_throw_start() { detail::state.throw_start = nullptr; }
// The word of the function in which an error arose: from the throw-start frame
// (cleared) or the top, the first frame not named <body> or <anon>; the word
// <not-found> when there is none.
Cell calling_function_word();
// The call traces (form_call_trace, collect_call_trace) are in services.h.
// For each frame from the top down (bottom record excluded) not named
// <body>/<anon>: its word and the argument-stack index of its caller base.
void collect_frame_words(const Cell& blk);

}  // namespace kiv::stack
