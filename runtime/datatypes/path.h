// paren! and the four path types: blocks with their own make, to, form and
// mold. A path's cells are its steps, written with "/" between them and no
// brackets; lit-, set- and get-path! differ only by type and by their mold.
// Every other action comes from block! through the registry.
#pragma once

#include "runtime/core/cell.h"
#include "runtime/datatypes/registry.h"
#include "runtime/core/memory.h"

#include <cstdint>

namespace kiv::path {

// True for path!, lit-path!, set-path! and get-path!.
inline bool is_path_type(TypeId t) {
    return t == TypeId::path || t == TypeId::lit_path || t == TypeId::set_path ||
           t == TypeId::get_path;
}

// Makes cell an empty path! with room for n cells (1 when n < 1).
void make_at(Cell& cell, std::int32_t n);
// The steps of p from its head joined by "/" (each formed, or molded with
// mold), into the text of out; a path already being walked gives "...".
// Returns the budget left.
std::int32_t walk(const Cell& p, NodeId out, bool mold, MoldOptions options,
                  Cell* part, std::int32_t budget);

// Registers path!, lit-path!, set-path! and get-path! (after block!).
void init();

}  // namespace kiv::path

namespace kiv::paren {

// Registers paren! (after block!).
void init();

}  // namespace kiv::paren
