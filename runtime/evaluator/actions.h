// Action dispatch: the 62 generic actions, their specs, and the entries that
// read an action's arguments from the current frame, look up the handler of
// the first argument's datatype and call it. The specs, the refinement
// positions the entries read (refine::find::part) and the language's action
// values are all generated from runtime/evaluator/actions.table, so they
// cannot drift apart. Handlers live in the datatype modules (registry.h).
#pragma once

#include "runtime/core/cell.h"
#include "runtime/datatypes/registry.h"
#include "runtime/evaluator/services.h"
#include "runtime/core/memory.h"

#include <cstdint>

namespace kiv::actions {

// The spec of an action (spec), the handler lookup (lookup), compare_order
// and form_to are in services.h, which the datatypes use too.
// Mandatory arguments, refinements, and the arguments of refinement r (0-based).
std::int32_t argument_count(Action a);
std::int32_t refinement_count(Action a);
std::int32_t refinement_argument_count(Action a, std::int32_t r);

// An action entry: runs the action on the current frame's arguments (base,
// base + 1, ... in spec order) and leaves the result in the result slot.
// refinements: one per refinement in spec order, -1 when unused, else the
// index from the base of its first argument cell (null when it has none).
using Entry = void (*)(const std::int32_t* refinements);

// Fills the action table; once at start-up, after the datatype registrations.
void init();
// The entry of an action (null for slots 7 to 9, which have no word).
Entry entry(Action a);
// Runs action a on the current frame.
inline void call(Action a, const std::int32_t* refinements) { entry(a)(refinements); }

// --- Typed entries for native code -------------------------------------------------

// compare action of value1's type with op; equality codes answer equal (true)
// or not; ordering codes the order's test. Values that cannot be ordered raise
// script error invalid-compare with an ordering code; equality gives false.
bool compare(Cell* value1, Cell* value2, CompareOp op);
// Appends the mold of value to the text of out (limit < 0: no limit).
std::int32_t mold_to(Cell* value, NodeId out, MoldOptions options, std::int32_t limit);
// One path step on value with element (slot 7): new_value is the value to
// store (null to read). A type without the step raises bad-path-type2 (no
// path) or bad-path-type (with the path cut after the element).
Cell* eval_path_typed(Cell* value, Cell* element, Cell* new_value, const PathStep& step);
// length? of value: its count, or -1 when the type answers none.
std::int32_t length_q(Cell* value);

// The index of a pick/poke argument: integer! and char! give their value,
// logic! 1 for true and 2 for false, anything else 0.
std::int32_t index_arg(const Cell& index);

// The unused-refinement marker of refinement arrays.
inline constexpr std::int32_t unused = -1;

}  // namespace kiv::actions
