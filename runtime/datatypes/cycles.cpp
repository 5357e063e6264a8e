// The cycle stack. Nodes never move, so the entries need no remapping when the
// collector compacts; a walk that errors out pops its entries through
// cycles::Guard, and too-deep leaves the stack empty.
#include "runtime/datatypes/cycles.h"

#include "runtime/datatypes/string.h"
#include "runtime/core/raise.h"

#include <algorithm>
#include <array>
#include <cstring>

namespace kiv::cycles {
namespace {

std::array<NodeId, limit> entries;
std::int32_t top = 0;

}  // namespace

void push(NodeId node) {
    entries[static_cast<std::size_t>(top++)] = node;
    if (top >= limit) {
        top = 0;  // emptied first, so the error report can mold again
        runtime::raise_error(ErrorCategory::internal, "too-deep");
    }
}

void pop() {
    if (top > 0) --top;
}

void drop(std::int32_t count) { top -= std::clamp(count, 0, top); }

void reset() { top = 0; }

bool find(NodeId node) {
    return std::find(entries.begin(), entries.begin() + top, node) != entries.begin() + top;
}

std::int32_t depth() { return top; }

bool mold_cycle_marker(const Cell& value, NodeId out, std::int32_t& budget, bool mold) {
    // object! keeps its context node in word 1; every series keeps its node in word 2
    const NodeId node = value.is(TypeId::object) ? value.object_context() : value.series_node();
    if (!find(node)) return false;
    const char* marker = "...";
    if (mold) {
        switch (value.type()) {
        case TypeId::block: case TypeId::hash: marker = "[...]"; break;
        case TypeId::paren: marker = "(...)"; break;
        case TypeId::map: marker = "#[...]"; break;
        case TypeId::object: marker = "make object! [...]"; break;
        default: break;
        }
    }
    string::append_nul_text(out, marker);
    budget -= static_cast<std::int32_t>(std::strlen(marker));
    return true;
}

}  // namespace kiv::cycles
