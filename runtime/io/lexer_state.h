// Internals shared by the lexer driver (lexer.cpp) and its token loaders
// (lexer_loaders.cpp): the per-run state, the value stack and the error
// routine. Value-stack positions are cell indices, so growing the stack moves
// nothing that a run holds.
#pragma once

#include "runtime/cell.h"
#include "runtime/io/lexer.h"
#include <cstdint>

namespace kiv::lexer {

// Flag bits of the character-class table, OR-ed over the bytes of a token.
inline constexpr std::uint32_t flag_hash = 0x00800000;
inline constexpr std::uint32_t flag_end = 0x00400000;
inline constexpr std::uint32_t flag_sign = 0x00200000;
inline constexpr std::uint32_t flag_lt = 0x00100000;
inline constexpr std::uint32_t flag_gt = 0x00080000;
inline constexpr std::uint32_t flag_percent = 0x00040000;
inline constexpr std::uint32_t flag_multiline = 0x00020000;
inline constexpr std::uint32_t flag_exponent = 0x01000000;
inline constexpr std::uint32_t flag_quote = 0x02000000;
inline constexpr std::uint32_t flag_colon = 0x04000000;
inline constexpr std::uint32_t flag_comma = 0x08000000;
inline constexpr std::uint32_t flag_dot = 0x10000000;
inline constexpr std::uint32_t flag_escape = 0x20000000;

// Scanner start states set by scanners.
inline constexpr int state_braced = 4;
inline constexpr int state_point = 35;
inline constexpr int state_path = 59;

// Kinds of syntax error besides a datatype id.
inline constexpr int kind_bad_char = -1;
inline constexpr int kind_malconstruct = -2;
inline constexpr int kind_missing_close = -3;
inline constexpr int kind_missing_end = -4;

// Marker cells on the value stack: an open series (see State).
inline constexpr TypeId marker_type = TypeId::triple;

struct State {
    State* link = nullptr;        // the next (nested) run
    State* parent = nullptr;
    std::int32_t base = 0;        // first value-stack cell of this run
    std::int32_t head = 0;        // first cell of the innermost open series
    std::int32_t top = 0;         // next free cell
    const std::uint8_t* input_start = nullptr;
    const std::uint8_t* input_end = nullptr;
    const std::uint8_t* pos = nullptr;
    const std::uint8_t* token_end = nullptr;
    std::int32_t line = 1;
    std::int32_t token_lines = 0;
    std::int32_t expected_type = -1;
    std::int32_t type = 0;
    int start_state = 0;
    int prev_state = 0;
    std::int32_t open_type = 0;
    std::int32_t prev_type = 0;
    const std::uint8_t* brace_start = nullptr;
    std::int32_t brace_depth = 0;
    std::uint32_t brace_flags = 0;
    std::int32_t point_lines = 0;
    Cell callback{};              // unset! when there is none
    std::int32_t callback_args = 0;
    std::uint32_t event_mask = 0;
    Cell source{};                // unset! when only bytes were given
    bool load = true;             // build values and raise errors
    bool no_raise = false;
    const std::uint8_t* counted_pos = nullptr;
    std::int32_t counted_chars = 0;
};

// Thrown by a syntax error of a run that does not raise: the token loop
// catches it, the token yields nothing.
struct SyntaxUnwind {};

// --- Value stack ------------------------------------------------------------
// The cell at index i (valid until the next push).
Cell& stack_at(std::int32_t i);
// Pushes a copy of value, with the new-line flag when the token began a line.
Cell& push(State& s, const Cell& value);

// --- Errors ---------------------------------------------------------------------
// Reports a syntax error of kind (a datatype id or a kind_ constant) for the
// token at start (null: the innermost open series' opening). Never returns.
[[noreturn]] void syntax_error(State& s, const std::uint8_t* start, const std::uint8_t* end,
                               std::int32_t kind);
// Raises internal not-done for a token class whose datatype is not built yet.
[[noreturn]] void not_done(State& s, const std::uint8_t* start, TypeId type);

// --- Loaders ------------------------------------------------------------------
// Loader of a token class (16-35, and 13-15 for building): checks the token,
// and with build pushes its value; leaves s.pos after what it consumed.
using Loader = void (*)(State& s, const std::uint8_t* start, const std::uint8_t* end,
                        std::uint32_t flags, bool build);
Loader loader_of(int token_class);
// Decodes [start, end) as string text (escapes when escapes is set) into a new
// text value of type t in out; false on bad UTF-8 or a bad escape.
bool decode_text(const std::uint8_t* start, const std::uint8_t* end, bool escapes, TypeId t,
                 Cell* out);
// The word loader for word-class tokens whose kind is already known.
void load_word(State& s, const std::uint8_t* start, const std::uint8_t* end, TypeId t, bool build);

}  // namespace kiv::lexer
