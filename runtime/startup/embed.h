// The embedding interface: what a host (the console, a test, a benchmark
// driver) needs to boot the runtime, load and evaluate text under a barrier,
// turn values into UTF-8 and receive printed text. Values are cells; a cell a
// host keeps across an evaluation or an allocation must be held in a Root.
#pragma once

#include "runtime/cell.h"
#include "runtime/collector.h"
#include "runtime/output_hooks.h"
#include "runtime/startup/boot.h"
#include "runtime/startup/startup.h"

#include <cstdint>
#include <string>
#include <string_view>

namespace kiv::embed {

// --- Booting ------------------------------------------------------------------

// What boot builds.
struct BootOptions {
    // Evaluate the library's top level (the datatype and native words, the
    // library functions, the system object); the collector runs from then on.
    // Without it the runtime has its tables, words and loaded boot sources,
    // every word of the library is unset and the collector stays off.
    bool library = true;
};
// Boots the runtime on the calling thread. A fault in the boot data ends the
// process with a report.
void boot(const BootOptions& options = {});
// Releases the memory manager's blocks, then the tracked heap.
void shutdown();

using CommandLine = runtime::CommandLine;
// A host's run of the command line: returns the exit status.
using Console = int (*)(const CommandLine& command);
// The whole program: boots on the runtime thread (with its own large stack),
// evaluating the host's own sources (host_image, made from them at build time
// by make_boot_image --host) after the library's, runs console and returns
// the exit status.
int run_program(int argc, char** argv, Console console, std::span<const std::uint8_t> host_image = {});
// Gives the routine the host's sources make with `make-routine 'name spec`
// its code (which reads its arguments from args and leaves its result in
// args[0]). Call it before the runtime boots.
using RoutineCode = routine::Code;
void add_routine(const char* name, RoutineCode code);
// The process's command-line arguments (UTF-8), argument(0) being the program.
int argument_count();
const char* argument(int index);
// Reads the whole file at path (a script) into text; false, with errno set,
// when it cannot be read.
bool read_file(const char* path, std::string& text);

// --- Loading and evaluating ------------------------------------------------------

// Keeps a cell alive (and its series where it is) while in scope.
using Root = collector::Root;

// What loading or evaluating gave: the value, or the error! that ended it
// (none when none could be built).
struct Result {
    bool ok = false;
    Cell value{};
};
// Loads UTF-8 text into a new block! (not rooted). Syntax errors come back
// as the error!.
Result load(std::string_view utf8);
// Evaluates code (a block) under a barrier frame: an escaping error, break,
// return or throw becomes the error!. The stacks are as before either way.
Result eval(const Cell& code);
// Loads the text, then evaluates it.
Result eval_text(std::string_view utf8);

// --- Values as text ------------------------------------------------------------------

struct MoldOptions {
    bool only = false;          // a block's values without the outer brackets
    bool all = false;           // the serialised form (constructors for every value)
    bool flat = false;          // on one line, no indentation
    std::int32_t limit = -1;    // stop after about this many characters; -1: no limit
};
// The form of value (as print shows it), in UTF-8.
std::string form(const Cell& value, std::int32_t limit = -1);
// The mold of value (as the console shows a result), in UTF-8.
std::string mold(const Cell& value, const MoldOptions& options = {});
// The text of a string value from its head, in UTF-8.
std::string to_utf8(const Cell& text);
// A new string! of UTF-8 text (not rooted).
Cell text(std::string_view utf8);
// A logic! value.
Cell logic(bool value);
// An error's report as print shows it, its stack trace filled in first (so
// call it while the frames it left are still described).
std::string error_report(const Cell& error);

// --- Series ----------------------------------------------------------------------

// Number of values from the series' head to its tail.
std::int32_t length(const Cell& series);
// The value at index (0-based from the head) of a block; none past the tail.
Cell pick(const Cell& block, std::int32_t index);
// The series with its head moved count values on.
Cell skip(const Cell& series, std::int32_t count);
// A new block! with room for capacity values (not rooted).
Cell make_block(std::int32_t capacity);
// Appends a copy of value at the tail of block.
void append(const Cell& block, const Cell& value);
// The spelling of a word of any kind ("" for other values).
std::string word_name(const Cell& word);

// --- The system object ---------------------------------------------------------

// The field reached from system by a path of field names ("console/prompt");
// null when a step is missing. Valid until the next allocation.
const Cell* field(std::string_view path);
// A string field as UTF-8, else fallback.
std::string field_text(std::string_view path, std::string_view fallback);
// Stores value at the path; false when the path reaches no field.
bool set_field(std::string_view path, const Cell& value);

// --- Output -------------------------------------------------------------------

// The hook print and prin call with their string! and new-line flag.
using PrintHook = output_hooks::PrintHook;
void add_print_hook(PrintHook hook);
void remove_print_hook(PrintHook hook);
// Adds the print hook that writes standard output (UTF-8, LF for new lines).
void print_to_standard_output();
// Prints UTF-8 text through the print hooks, as print and prin do.
void print(std::string_view utf8, bool new_line);
// Writes out what standard output holds back.
void flush_output();

}  // namespace kiv::embed
