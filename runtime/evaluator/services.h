// What the datatypes use of the evaluator, and all they may use of it: a
// datatype module includes this header and none other of the evaluator's
// (tools/check_layers.py holds them to it). It offers the call-back entry
// (callback.h) for running a function the user gave, a block run for its
// effects, the few typed action entries the handlers call on values of other
// types, the call trace an error! records, and the natives' names. The
// evaluator's own headers include this one for the same declarations.
#pragma once

#include "runtime/core/cell.h"
#include "runtime/datatypes/registry.h"
#include "runtime/evaluator/callback.h"

#include <cstdint>

namespace kiv::actions {

// An action's spec as the language reads it: its word, then its arguments and
// refinements in order, a refinement's arguments after it ("series value
// /part length /only /dup count"). Empty for slots 7 to 9.
using Spec = ActionSpec;
// The spec of an action.
const Spec& spec(Action a);

// The raw handler of action a for value's type. A type without it raises
// script error expect-arg (the calling function's word, the datatype, the
// first argument's name).
registry::ErasedHandler lookup(const Cell& value, Action a);
// The same, typed for the slot.
template <Action A>
typename registry::Slot<A>::type lookup(const Cell& value) {
    return reinterpret_cast<typename registry::Slot<A>::type>(lookup(value, A));
}

// Ordering for sorting: logic! by value, natives/actions/ops by entry, function!
// and routine! by reference, all else the compare handler's order for op.
std::int32_t compare_order(Cell* left, Cell* right, CompareOp op);
// Appends the form of value to the text of out; limit < 0 means no limit.
// Returns the budget left.
std::int32_t form_to(Cell* value, NodeId out, std::int32_t limit);

}  // namespace kiv::actions

namespace kiv::interpreter {

// Evaluates blk from its head to its tail for what it does (an object's or an
// error's spec): its value is dropped and the argument stack left as it was.
// Errors and exits pass on as from any evaluation.
void run_block(const Cell& blk);

// The current-code cell: the block under evaluation, its head at the
// expression being evaluated; unset! when nothing is evaluated.
const Cell& current_code();

}  // namespace kiv::interpreter

namespace kiv::stack {

// The call trace up to, not including, frame end_depth: the words of the
// frames (not <body>/<anon>; at level 1 only those whose value is a
// function!). form_call_trace appends them to the text of out, each followed
// by a blank, and returns the budget left; collect_call_trace appends the
// words to blk.
std::int32_t form_call_trace(std::int32_t level, std::int32_t end_depth, NodeId out, std::int32_t limit);
void collect_call_trace(std::int32_t level, const Cell& blk, std::int32_t end_depth);

}  // namespace kiv::stack

namespace kiv::natives {

// The natives the runtime defines (the Native enum, native_count and
// native_names, by the index each spec in library/natives/*.kiv gives its
// native) and the refinement positions by name (refine::do_::next).
#include "generated/native_table.h"

}  // namespace kiv::natives
