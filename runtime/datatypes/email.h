// email! (type 45, a text child of string!): user@host text, molded as it
// stands, with the path steps user and host that get or replace the text
// before and after the first "@". The rest is string!'s.
#pragma once

#include "runtime/core/cell.h"
#include "runtime/datatypes/registry.h"
#include "runtime/core/memory.h"

#include <cstdint>

namespace kiv::email {

// Registers email! (after string!).
void init();

// mold of email!: the text as form writes it (no quotes, no escapes).
std::int32_t mold(Cell* value, NodeId out, MoldOptions options, Cell* arg,
                  std::int32_t part, std::int32_t indent);
// Path steps: an integer! picks or pokes as string! does; user and host
// (any letter case) get a new string! or change the email in place. Any
// other step raises script invalid-path with the path and the step.
Cell* eval_path(Cell* value, Cell* element, Cell* new_value, const PathStep& step);

}  // namespace kiv::email
