// The view routines: the code behind the routine! fields of
// system/view/platform, the event routines send-event-os and find-flag?,
// and the back end's start-up. Each reads its arguments as its spec types
// them and leaves its result in args[0]. A routine whose work belongs to a
// part of the back end not built yet raises not-done.
#pragma once

#include "runtime/core/cell.h"

namespace kiv::view_routines {

// With the recording toolkit, prints the routine's name and its arguments.
void record_call(const char* name, const Cell* args, int count);

// Enters every routine in the routine table (before the runtime boots).
void add_all();

}  // namespace kiv::view_routines
