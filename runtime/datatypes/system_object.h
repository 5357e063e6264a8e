// The language's `system` object as C++ code reaches it: the top level
// records it once system.kiv has made it; readers walk it by field names.
// The object lives in the root block, so the collector keeps it.
#pragma once

#include "runtime/core/cell.h"

#include <string_view>

namespace kiv::system_object {

// Keeps value (an object!) in the root block as the system object, sets its
// `words` field to the global context as an object and options/path to the
// process's directory.
void set(const Cell& value);
// The system object (an object! cell), or null until system.kiv has run.
const Cell* get();
// The value reached from system by a path of field names ("console/prompt");
// null when a step is missing or not an object. Valid until the next allocation.
Cell* field(std::string_view path);
// Stores value at that path; false when the path does not reach a field.
bool set_field(std::string_view path, const Cell& value);

}  // namespace kiv::system_object
