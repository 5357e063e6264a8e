// Calling language code from C++: the one way in for natives and actions that
// run a function the user gave them (sort comparators, change handlers, port
// actors, the lexer's, parse's and the tracer's callbacks) and for hosts that
// run one on every event. The call runs above the evaluator's top, in a frame
// named for error reports, `where` and the trace, and leaves the stacks as it
// found them.
#pragma once

#include "runtime/core/cell.h"

#include <cstdint>
#include <initializer_list>
#include <type_traits>

namespace kiv::callback {

// Calls fn (a function!) with count arguments from args; name is the word its
// frame carries. Arguments beyond the function's slots are left out; slots
// beyond the arguments start as in a call that leaves them out (refinement
// flags false, the rest none). Arguments in positional slots are checked
// against their types. trace_mask: the callback kind (tracing.h) that decides
// whether tracing stays on in it, 0 for none. hand_back, when given, receives
// the function's first count slots as it left them (the first, its result
// slot, then holds the result). Returns the function's
// result; the stacks are as before. An error, or an exit that cannot end in
// fn (break, throw), passes on to the caller's receivers as from any native.
Cell call(const Cell& fn, const Cell* args, std::int32_t count, const Cell& name,
          std::uint32_t trace_mask = 0, Cell* hand_back = nullptr);
inline Cell call(const Cell& fn, std::initializer_list<Cell> args, const Cell& name,
                 std::uint32_t trace_mask = 0) {
    return call(fn, args.begin(), static_cast<std::int32_t>(args.size()), name, trace_mask);
}

// The result of a guarded call: ok with the function's result in value, or
// not ok with the error! that stopped it in value (none when none could be
// built). An exit that reaches the call (break, throw, quit) stops it as an
// error.
struct Outcome {
    bool ok;
    Cell value;
};

// call under a barrier, for a host calling from code that nothing may unwind
// through (a toolkit's signal handler): nothing leaves it but its outcome,
// and the evaluator's state is as before the call either way.
Outcome call_guarded(const Cell& fn, const Cell* args, std::int32_t count, const Cell& name);

// Runs body under a barrier frame. True when it completes; false when a
// language error left it (break, return and throw that reach the barrier
// become errors), error then holding the error! (none when none could be
// built). The stacks are as before the call either way.
bool run_guarded(void (*body)(void*), void* context, Cell& error);
template <typename Body>
bool guarded(Body&& body, Cell& error) {
    using F = std::remove_reference_t<Body>;
    return run_guarded([](void* f) { (*static_cast<F*>(f))(); }, &body, error);
}

}  // namespace kiv::callback
