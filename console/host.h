// The text-mode host: runs the script named on the command line (its `Kiv`
// header found, the rest evaluated under a barrier) and, with no script, a
// read-eval-print loop on standard input. All printing goes through a print
// hook that writes standard output. The language-level console replaces it.
#pragma once

#include "runtime/startup/embed.h"

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace kiv::host {

// The console's Kiv sources (console/*.kiv, by name), for the start-up to
// evaluate after the library's.
std::span<const boot::Source> console_code();
// Gives the routines of those sources their code (the text-mode services:
// read-console-line, console-title). Call before the runtime boots.
void add_routines();

// Registers the print hook and runs the command: the script, else the loop.
// Returns the exit status: 0, 1 when an error escaped the script, or what
// `quit` asked for (quit ends the process itself).
int launch(const embed::CommandLine& command);

// Runs a script's text: finds the header, loads and evaluates what follows it.
// Prints an error that escapes it (its report) and returns 1; else 0.
int run_script(std::string_view text);

// The loop on standard input: banner (unless not asked), prompt ">> ",
// unfinished input waits for more lines behind a continuation prompt, results
// after "== ". Returns 0 at the end of input.
int run_repl(bool banner);

// Where a header starts in text: the first "Kiv", optionally "/System", blanks,
// then "["; npos when there is none.
std::size_t find_header(std::string_view text);

// What check-delimiters tells of the gathered input.
enum class InputState { complete, unfinished, broken };
// Decides whether the input is complete, needs more lines (open is then the
// last open delimiter character) or cannot be mended by more input.
InputState check_delimiters(std::string_view input, char& open);

}  // namespace kiv::host
