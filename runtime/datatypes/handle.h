// handle! (type 46, registered under integer! but inheriting nothing): an
// opaque 32-bit machine value with a class number, made only by native code.
// Language code can show, compare and pass a handle; every other action
// raises the registry's missing-action error.
#pragma once

#include "runtime/core/cell.h"
#include "runtime/datatypes/registry.h"
#include "runtime/core/memory.h"

#include <cstdint>

namespace kiv::handle {

// Handle classes; the names are those mold/all shows.
enum class Class : std::uint32_t { null = 0, fd, monitor, window, font, rich_text };

// Registers handle! (after integer!).
void init();

// Makes cell a handle of value and class.
void make_at(Cell& cell, std::uint32_t value, Class class_id);
// Appends a new handle at the block's tail; returns the appended cell.
Cell* make_in(const Cell& block, std::uint32_t value, Class class_id);

// form: the value as eight upper-case hex digits and "h" (00A1F2C0h).
std::int32_t form(Cell* value, NodeId out, Cell* arg, std::int32_t part);
// mold: "handle!"; with /all "#[handle! " form [" " class name] "]".
std::int32_t mold(Cell* value, NodeId out, MoldOptions options, Cell* arg,
                  std::int32_t part, std::int32_t indent);
// compare: another type is not comparable; handles compare by value (signed
// 32-bit), whatever their class, for every kind of comparison.
std::int32_t compare(Cell* value1, Cell* value2, CompareOp op);

}  // namespace kiv::handle
