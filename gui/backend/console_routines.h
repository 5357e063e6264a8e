// The GUI console's routines: add-gui-print, which hands every printed text
// to the terminal of gui-console-ctx, and get-caret-blink-time.
#pragma once

namespace kiv::console_routines {

// Enters the console's routines in the routine table (called by
// gui::add_routines).
void add_all();

}  // namespace kiv::console_routines
