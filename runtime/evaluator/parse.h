// The parse dialect: matches a series (any-block or any-string) against a
// block of rules. An explicit state machine over a frame stack: rule blocks
// and keyword rules nest there, never on the host stack. Parens and callbacks
// re-enter the interpreter, so runs nest; each run marks what it holds.
#pragma once

#include "runtime/core/cell.h"

#include <cstdint>

namespace kiv::parse {

// Cells a run may hold on each of its stacks (rules: three cells per block or
// keyword rule entered; input: one per run and per `into` level), counted
// over every nested run. Going past either raises script error parse-stack.
inline constexpr std::int32_t stack_limit = 10000;

// Makes the callback's stack block (kept in the root block) and installs the
// collector's mark step for active runs.
void init();

// Runs rules over input from its head. case_: case-sensitive comparison;
// part_limit: index in input's buffer where matching stops (-1: the tail);
// callback: a function! receiving the events (null or none: no events).
// Returns true or false in result, or the block of a top-level `collect`.
// Raises the parse errors of the catalogue and whatever parens raise.
void run(Cell& result, const Cell& input, const Cell& rules, bool case_,
         std::int32_t part_limit, const Cell* callback);

// Whether rules can run over a value of type t: the any-block and any-string
// types (binary! is not among them).
bool is_input(TypeId t);

}  // namespace kiv::parse
