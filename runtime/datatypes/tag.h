// tag! (type 44, a text child of string!): the text between "<" and ">". Its
// form and mold are the same text, delimiters included; everything else is
// string!'s, except the actions a tag does not support (random, sort, trim).
#pragma once

#include "runtime/core/cell.h"
#include "runtime/datatypes/registry.h"
#include "runtime/core/memory.h"

#include <cstdint>

namespace kiv::tag {

// Registers tag! (after string!).
void init();

// form and mold of tag!: "<", the text from the head, ">". A /part budget
// counts both delimiters.
std::int32_t form(Cell* value, NodeId out, Cell* arg, std::int32_t part);
std::int32_t mold(Cell* value, NodeId out, MoldOptions options, Cell* arg,
                  std::int32_t part, std::int32_t indent);

}  // namespace kiv::tag
