// The text-mode host: the services the console's language-level code needs
// in a terminal (printing to standard output, the global ask on standard
// input, the window title, system/console/size).
#pragma once

#include "runtime/startup/embed.h"

namespace kiv::host {

// The console's Kiv sources (console/*.kiv, by name, as the image made of
// them at build time) and what the host sets up once they have run.
embed::Host text_console();
// Gives the routines of those sources their code (the text-mode services:
// read-console-line, console-title). Call before the runtime boots.
void add_routines();

}  // namespace kiv::host
