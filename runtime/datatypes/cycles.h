// The cycle stack: the series nodes that mold, form, compare and ownership
// walks are inside, so that a self-containing series is met once and then
// printed or skipped as "...". At most 1,000 nested series; the push that
// reaches the limit empties the stack and raises internal too-deep.
#pragma once

#include "runtime/core/cell.h"
#include "runtime/core/memory.h"

#include <cstdint>

namespace kiv::cycles {

inline constexpr std::int32_t limit = 1000;

// Pushes node. At the limit the stack is emptied (so that the error report
// can mold again) and internal too-deep is raised.
void push(NodeId node);
// Removes the top entry; nothing when empty.
void pop();
// Removes count entries (at most all of them).
void drop(std::int32_t count);
// Empties the stack.
void reset();
// True when node is on the stack.
bool find(NodeId node);
// Entries on the stack.
std::int32_t depth();

// When value's series (an object's values) is on the stack, appends its cycle
// marker to the text of out ("[...]", "(...)", "#[...]", "make object! [...]"
// or "..." in mold by type, "..." in form), lowers budget by its length and
// returns true; else false.
bool mold_cycle_marker(const Cell& value, NodeId out, std::int32_t& budget, bool mold);

// Pushes a node for the lifetime of the guard and pops it again, also when an
// error unwinds through the walk.
class Guard {
public:
    explicit Guard(NodeId node) { push(node); }
    ~Guard() { pop(); }
    Guard(const Guard&) = delete;
    Guard& operator=(const Guard&) = delete;
};

}  // namespace kiv::cycles
