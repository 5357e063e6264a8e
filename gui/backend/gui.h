// The GUI layer's entry for the host: its routines, registered before the
// runtime boots, and the first GUI use, which decodes and runs the engine's
// image (once) and opens the toolkit.
#pragma once

#include <cstdint>
#include <span>

namespace kiv::gui {

// Enters the GUI's routines in the routine table. Call before the runtime
// boots.
void add_routines();
// Enters draw-image (called by add_routines).
void add_draw_routine();
// An image of the host's Kiv sources that the first GUI use runs after the
// engine's (the GUI console's). Call before the runtime boots.
void add_image_after_engine(std::span<const std::uint8_t> image);
// Runs the engine's sources unless they have run; raises the error that
// stopped them.
void load_engine();
// Starts the GUI at start-up (a display and no --cli): the engine, and with
// it the toolkit. False, with nothing raised or printed, when the display
// cannot be opened: the program goes on in text mode.
bool start();

}  // namespace kiv::gui
