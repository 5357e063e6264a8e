// The text-mode host: sets up what the console's language-level code needs
// in a terminal (printing to standard output, the global ask on standard
// input, system/console/size) and calls system/console/launch.
#pragma once

#include "runtime/startup/embed.h"

#include <span>

namespace kiv::host {

// The console's Kiv sources (console/*.kiv, by name) as the image made of
// them at build time, for the start-up to evaluate after the library's.
std::span<const std::uint8_t> console_code();
// Gives the routines of those sources their code (the text-mode services:
// read-console-line, console-title). Call before the runtime boots.
void add_routines();

// Runs the console: the script named on the command line, then the loop on
// standard input. Returns the exit status when the console returns (quit
// ends the process itself): 0, 1 when the script cannot be read, 254 when the
// console itself fails.
int launch(const embed::CommandLine& command);

}  // namespace kiv::host
