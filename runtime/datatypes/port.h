// port!: an object with the fields of system/standard/port (spec scheme
// actor awake state data extra) whose behaviour comes from its scheme's
// actor. `make port!` finds the scheme in system/schemes; the series and port
// actions call the actor's function of the same name with the port and the
// action's arguments (each refinement as a logic! and its arguments). read
// and write are open, copy (after an insert for write) and close in turn.
#pragma once

#include "runtime/core/cell.h"
#include "runtime/datatypes/registry.h"

namespace kiv::port {

// Registers port! (after object!).
void init();

// The port of a url: parse-url's object is the spec. With how, the port is
// opened with those refinements. A url that does not parse raises script
// error invalid-arg with the url.
void open_url(const Cell& url, const OpenRefinements* how, Cell& out);

// The read and write handlers, for url!'s read and write of other schemes.
Cell* read(Cell* port, const ReadRefinements& how);
Cell* write(Cell* port, Cell* data, const WriteRefinements& how);

}  // namespace kiv::port
