// ref! (type 50, a text child of string!): the text after "@", molded with
// its "@" in front. The rest is string!'s, except append, put, random, sort
// and trim, which a ref! does not support.
#pragma once

#include "runtime/core/cell.h"
#include "runtime/datatypes/registry.h"
#include "runtime/core/memory.h"

#include <cstdint>

namespace kiv::ref {

// Registers ref! (after string!).
void init();

// mold of ref!: "@" and the text as form writes it.
std::int32_t mold(Cell* value, NodeId out, MoldOptions options, Cell* arg,
                  std::int32_t part, std::int32_t indent);

}  // namespace kiv::ref
