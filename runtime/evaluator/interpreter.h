// The interpreter: walks code blocks expression by expression on the argument
// stack and the call frames (stack.h). Positions in code are cell indexes from
// the first cell of the code block's buffer, so code may grow or move while it
// runs. Non-local exits are C++ throws, except break, continue, return and exit
// met while only interpreter frames lie between the exit and its receiver:
// those stay pending (exit_pending) and each level returns at once.
#pragma once

#include "runtime/core/cell.h"
#include "runtime/evaluator/services.h"
#include "runtime/core/memory.h"
#include "runtime/core/runtime_error.h"

#include <cstdint>

namespace kiv::interpreter {

// An end index meaning "the code block's current tail".
inline constexpr std::int32_t to_tail = INT32_MAX;

// Apply modes of call_value and fetch_arguments (bits; 0 is a call from code).
inline constexpr std::uint32_t apply_positional = 1;  // `apply`: all values positional
inline constexpr std::uint32_t apply_named = 2;       // refinements named in the block
inline constexpr std::uint32_t apply_one_value = 4;   // each argument is one cell, not an expression

// How an argument is fetched, kept in its cache typeset (Cell::set_typeset_arg).
enum class ArgKind : std::uint32_t { evaluated = 0, get = 1, literal = 2, return_type = 3 };

// Takes the tracer cell in the root block and clears the current-code cell.
void init();

// Evaluates blk from its head to its tail under an eval frame named `<body>`.
// into_caller: the result is also copied into the caller's result slot; else
// it is left as the caller's last value (top = old top + 1). A pending exit
// is thrown before this returns, so native callers need no check.
void eval_block(const Cell& blk, bool into_caller);
// The same for a native whose last act is this evaluation (if, either, do):
// a pending exit stays pending, and the native must return at once.
void eval_block_tail(const Cell& blk, bool into_caller);
// run_block, which drops the value, is in services.h.
// Evaluates a loop body (a block) for the loop natives, which have pushed
// their loop frame. Returns 0 after a normal pass, or runtime::thrown_break
// / thrown_continue when the body broke or continued (the loop frame's result
// slot then holds the break value, or unset!). Other exits pass on.
std::uint32_t eval_loop_body(const Cell& body);
// The loop natives' catch frame for break and continue: one for all the
// passes of a loop, catching only while a pass runs (between passes a break
// or continue finds it closed, as if it were not there).
class LoopPasses {
public:
    LoopPasses() : scope_(0) {}
    // One pass of body (a block) under the loop frame. Returns 0 after a
    // normal pass; runtime::thrown_break / thrown_continue when the body broke
    // or continued (the loop frame's result slot then holds the break value,
    // or unset!); else the exit left pending (exit_pending()) for the loop's
    // caller, whose frames are gone: the loop must return at once. Other
    // exits pass on as throws.
    std::uint32_t run(const Cell& body);
    ~LoopPasses();
    LoopPasses(const LoopPasses&) = delete;
    LoopPasses& operator=(const LoopPasses&) = delete;

private:
    runtime::CatchScope scope_;
    // The plans of the blocks the loop runs (a while's condition and body),
    // looked up once and held for the loop's life; opaque here.
    struct Held {
        NodeId code = 0;
        void* plan = nullptr;
    };
    Held held_[2];
    void pass(const Cell& body);
    void look_up(const Cell& body);
};

// Evaluates one expression of code at pos, inside an interpreted call frame
// named `<body>`; sub: push the value, else make it the result. Returns the
// index after it. A pending exit is thrown.
std::int32_t eval_next(NodeId code, std::int32_t pos, std::int32_t end, bool sub);
// Evaluates the expression at blk's head (unset! at the tail) into the
// caller's result slot; returns the index after it.
std::int32_t do_next(const Cell& blk);

// Evaluates one expression at pos of code, stopping at end (an index, or
// to_tail). no_infix: do not take an operator after it (an operator's right
// operand); sub: push the value, else store it into the result slot;
// literal_functions: a function value met in the code is a literal. Returns
// the index after the expression. Raises the evaluation errors.
std::int32_t eval_expression(NodeId code, std::int32_t pos, std::int32_t end, bool no_infix,
                             bool sub, bool literal_functions);

// Calls fn (native!, action!, function!, routine!) with its arguments taken
// from code at pos (code 0: none, for apply and paths). path: the path that
// named it (its refinements follow the name), or null; name: the name cell
// for the frame, or null; owner: the object a path reached it through, or
// null. in_place: the first argument already sits at the top (operators).
// Returns the index after the arguments.
std::int32_t call_value(const Cell& fn, NodeId code, std::int32_t pos, std::int32_t end,
                        bool sub, const Cell* path, const Cell* name, const Cell* owner,
                        std::uint32_t mode, bool in_place);
// Pushes fn's arguments and refinement slots; for natives and actions also
// calls the entry. Returns the index after the code it consumed.
std::int32_t fetch_arguments(const Cell& fn, NodeId code, std::int32_t pos, std::int32_t end,
                             const Cell* path, const Cell* name, std::uint32_t mode,
                             bool in_place);

// What holds the value a path walk reached.
enum class PathPlace : std::int32_t { none = 0, stack = 1, series = 2, field = 3, other = 4 };

// Where a path walk stopped at a paren! element, for `get`, `set` and `do`.
struct PathRecord {
    std::int32_t level = 0;       // element index + 1; 0: walk from the start
    PathPlace kind = PathPlace::none;
    std::int32_t index = 0;       // stack index, series index or field index
    Cell value{};                 // the value reached
    Cell container{};             // what holds it
};

// How a path is evaluated.
struct PathMode {
    bool set = false;           // store the frame's result slot at the end
    bool get = false;           // do not call a function at the end
    bool sub = false;           // push the value, else store it into the result slot
    bool pass_through = false;  // handed to each datatype's path step
};

// Evaluates a path value (path!, set-path!, get-path!, lit-path!) with the
// code after it at pos. Returns the index after the code used.
std::int32_t eval_path(const Cell& path, NodeId code, std::int32_t pos, std::int32_t end,
                       PathMode mode, PathRecord* record);

// Runs function! fn whose arguments are already on the stack at the current
// base (pushed by the caller, with a frame). ctx: the context to call with
// (0: the global one); name: the word that called it; mask: the callback kind
// (tracing.h), 0 for ordinary calls. A pending exit is thrown when mask != 0.
void call_function(const Cell& fn, NodeId ctx, const Cell& name, std::uint32_t mask);
// Pushes the slots of function! fn for a call from C++, its frame pushed:
// the first count from args (beyond the function's slots left out; those in
// positional slots checked against their types, name labelling the error),
// the rest as a call that leaves them out has them.
void push_slots(const Cell& fn, const Cell* args, std::int32_t count, const Cell& name);
// Runs routine! r whose arguments sit at the current base.
void call_routine(const Cell& r);

// --- Pending exits ---------------------------------------------------------------

// The thrown value (runtime_error.h) of an exit handed over without a C++
// throw, or 0. The stacks are already unwound to the receiving frame.
std::uint32_t exit_pending();
void clear_exit();
// The end of the break, continue, return and exit natives, after the stack
// has been unwound: leaves the exit pending when the interpreter called the
// native directly, else throws it.
void hand_over_exit(std::uint32_t thrown);
// Throws a pending exit (for native code that received one and cannot return).
void throw_pending();
// current_code() is in services.h.

}  // namespace kiv::interpreter
