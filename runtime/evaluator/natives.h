// The natives table: the entry functions of the language's built-in functions,
// reached by the 1-based index a native! value holds. The index is a stored
// format (boot data, Kivbin): each native keeps the index its spec in
// library/natives/ gives it.
// Every native follows one calling convention (below); the natives themselves
// live in the natives modules, which fill this table at start-up.
#pragma once

#include "runtime/core/cell.h"
#include "runtime/evaluator/services.h"

#include <cstdint>

namespace kiv::natives {

// Calling convention shared by all natives:
// - the caller has pushed a call frame and the argument cells: the plain
//   arguments in spec order (argument i is the cell at base + i), then the
//   arguments of the refinements in use; a refinement has no cell of its own;
// - check: 0 from the interpreter (arguments already tested against the
//   spec's typesets), 1 from native callers, which the native must check;
// - refinements: one entry per refinement in spec order, -1 when unused,
//   else the index from the base of its first argument cell (null when the
//   native has no refinements);
// - the result is left in the cell at the base (the frame's result slot).
using Entry = void (*)(bool check, const std::int32_t* refinements);

// Slots of the table.
inline constexpr std::int32_t table_size = 144;

// The natives the runtime defines (Native, native_count, native_names) and
// the refinement positions by name come from services.h.
static_assert(native_count <= table_size);

// Makes the empty table (count 1: the next append gets index 1) and the
// 32-cell scratch block of `print`.
void init();
// Appends an entry; returns its 1-based index. More than table_size appends
// is a fault of the runtime (runtime error).
std::int32_t append(Entry entry);
// Stores entry at its fixed index, for modules that fill the table out of
// order; the count grows to cover it.
void set(Native index, Entry entry);
// The index the next append receives.
std::int32_t count();
// The entry of 1-based index n, or null for an empty or out-of-range slot.
Entry entry(std::int32_t n);
// The scratch block of `print`.
const Cell& print_scratch();

// Script error expect-arg for natives and routines that check their own
// arguments: function does not allow value's type for argument.
[[noreturn]] void expect_arg(const char* function, const Cell& value, const char* argument);

// --- Registration of the natives modules ---------------------------------------
// Each module natives_NAME.cpp ends with register_NAME, which stores its
// entries at their fixed indexes with set(); library/natives/NAME.kiv holds
// the specs of the same natives.

// Registers every module below; once at start-up, after init.
void register_all();
// if ... remove-each, switch, case: conditionals, selection and loops.
void register_control();
// func, function, does, has, do, get, set, reduce, compose, bind, in,
// construct, apply, try, catch and the exits break, continue, exit, return, throw.
void register_eval();
// equal? ... greater-or-equal?, same?, not, type?, the set operations,
// complement?, negative?, positive?, sign?, zero?, max, min.
void register_compare();
// shift, to-hex, the trigonometric and logarithmic natives, NaN?, exp, square-root,
// as-pair, as-point2D, as-point3D, as-money.
void register_maths();
// stats, recycle, wait, now, set-env, get-env, list-env, browse, value?, unset, context?.
void register_system();
// print, prin, uppercase, lowercase, new-line, new-line?, as, transcode.
void register_output();
// dehex, enhex, to-local-file, and the library routines exists? and create-dir
// (entered in the routine table by name).
void register_files();
// parse (the engine is parse.h).
void register_parse();
// compress, decompress (the codec is runtime/codecs/deflate.h).
void register_compress();
// enbase, debase, checksum (the codecs are runtime/codecs/base_n.h, runtime/codecs/digests.h).
void register_codecs();
// set-quiet, set-slot-quiet, set-current-dir and the routines that the
// system object's handlers are made of.
void register_library();
// The image codec entry points image-encode and image-decode (library routines).
void register_image();
// The Kivbin codec entry points kivbin-encode* and kivbin-decode (library routines).
void register_kivbin();
// call: running other programs.
void register_process();
// split, rejoin and the text kernel of replace (the routine replace-all*).
void register_text();
// load-json, to-json.
void register_json();
// load-csv.
void register_csv();

// Whether the last print or prin ended its text with a new line (last-lf?).
bool last_line_feed();

// --- Helpers for native bodies -------------------------------------------------

// reduce of blk (from its head) into a new block, pushed on the argument
// stack; returns its cell there.
Cell* reduce_block(const Cell& blk);

// True when the refinement at position i of the array is in use.
inline bool used(const std::int32_t* refinements, int i) {
    return refinements != nullptr && refinements[i] >= 0;
}

}  // namespace kiv::natives
