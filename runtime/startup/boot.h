// Boot data: the language-level library, the native specs and the system
// object are Kiv sources, evaluated at build time; the boot image that the
// program holds is the global context they leave (functions, objects, every
// word's value). At start-up the image is decoded with the collector held
// off and its definitions set the words; only what the top level reads from
// the environment is taken again. Library routines come from a C++ registry,
// which the image names by name. The host reads system fields here.
#pragma once

#include "runtime/core/cell.h"
#include "runtime/datatypes/function.h"

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace kiv::boot {

// One embedded source: its path below library/ and its text.
struct Source {
    std::string_view name;
    std::string_view text;
};
// The boot data the build linked in, one of two forms. The program holds the
// boot image: the global context as the top level leaves it (the error
// catalogue is system/catalog/errors), made by kivbin::encode_boot. The tool
// that makes the image holds the sources as text instead. Either form lists actions.kiv
// (the action values, which every later file needs for make), natives/*.kiv
// by name (the natives must exist before boot.kiv makes operators of them),
// boot.kiv, the other library files by name, and system.kiv last (errors.kiv,
// the catalogue's text, has its own reader and is not among them).
struct Data {
    std::span<const std::uint8_t> image;
    std::span<const Source> sources;
};
extern const Data linked_data;
// The host program's image, set before the runtime boots. One made by
// make_boot_image --boot holds the library's values and the host's (its
// language-level code evaluated after system.kiv) and is loaded instead of
// the library's; one of lexed sources (--host) is decoded after the
// library's and evaluated after system.kiv, in the order they were given,
// like the library's (make-routine still exists).
void set_host_image(std::span<const std::uint8_t> image);

// Called by runtime::init once the lexer is ready: an image of evaluated
// values decoded (the routines it names entered first, the system object
// and the catalogue installed after); else the catalogue, then the library
// into a block kept in the root block (the loaded block): the catalogue read
// and each source lexed when the program holds text. A fault in boot data
// is fatal.
void load();
// The names in the symbol table of the image of evaluated values that load
// will decode, so that the symbol table and the global context can be made
// with room for them once; 0 when the program holds sources.
std::int32_t image_symbols();
// The loaded block: the file! name and block of each source, in order
// (empty when the program booted from evaluated values).
const Cell& loaded();
// True when the image held evaluated values: the global context as the
// library's (and the host's) top level leaves it, set by the image's
// definitions, so that start-up evaluates only what reads the environment.
// The program's images are made so; an image of sources (the tool's own
// start, a layer loaded at its first use) is evaluated as before.
bool booted_from_values();
// For the image maker: make-routine enters a name that the routine table
// lacks (a host's routine) with stand-in code, so that the host's sources
// can be evaluated; the image names routines by name.
void allow_unknown_routines();
// The top level, run after runtime::init: the datatype words, a stand-in
// make and the boot routines, then every loaded source evaluated in order with the
// collector held off; after an image of evaluated values, only the lines
// that read the environment (the user's data directory). Once actions.kiv has run, each action's spec must agree
// with the dispatch table's argument and refinement counts, else the process
// ends with a report naming the action. An error is reported on standard
// error and ends the process with status 254: boot data is part of the program.
void run_top_level();

// Decodes an image made by make_boot_image --host after start-up (sources
// that a layer loads at its first use) and evaluates its sources in order,
// each under a barrier, with make-routine defined for the while. False with
// the error! in error when one fails; the sources after it are not run.
bool run_image(std::span<const std::uint8_t> image, std::string_view what, Cell& error);

// Loads UTF-8 text into out, a new block! of its values (not rooted: root it
// before anything that may collect). Raises the lexer's syntax errors.
void load_text(Cell& out, std::string_view utf8);

// The form of value (as print shows it), in UTF-8.
std::string formed(const Cell& value);
// An error's report as print shows it, its stack trace filled in first (so
// call it while the frames it left are still described).
std::string report(const Cell& error);

// Evaluates code (a block) under a barrier frame. True with its value in
// result; false with the error! that an escaping error, break, return or
// throw became. The stacks are as before the call either way.
bool try_eval(const Cell& code, Cell& result);

}  // namespace kiv::boot
