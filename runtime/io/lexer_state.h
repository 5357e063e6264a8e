// Internals shared by the lexer driver (lexer.cpp) and its token loaders
// (lexer_loaders.cpp): the per-run state, the value stack and the error
// routine. Value-stack positions are cell indices, so growing the stack moves
// nothing that a run holds.
#pragma once

#include "runtime/core/cell.h"
#include "runtime/io/lexer.h"
#include <array>
#include <cstdint>
#include <cstring>
#include <vector>

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
// Internal bits the scan loop adds: a byte at or above 0x80 (the token needs
// UTF-8 decoding) and a line feed (the token spans lines; dropped once the
// lines are counted).
inline constexpr std::uint32_t flag_non_ascii = 0x00010000;
inline constexpr std::uint32_t flag_line_feed = 0x00008000;

// States of the scanning automaton, in the order of its transition table.
// s_braced, s_point and s_path are entered only as start states that
// scanners set (inside a braced string, a point literal, a path).
enum ScanState : std::uint8_t {
    s_start, s_comment, s_string, s_string_escape, s_braced,                        // 0-4
    s_braced_escape, s_percent, s_file, s_quoted_file, s_percent_percent,           // 5-9
    s_raw_string, s_raw_brace, s_raw_end, s_slash, s_refinement,                    // 10-14
    s_slash_slash, s_hash, s_binary, s_binary_comment, s_char,                      // 15-19
    s_char_escape, s_construction, s_issue, s_integer, s_integer_dot,               // 20-24
    s_decimal, s_exponent, s_digits_upper_e, s_special_float, s_tuple,              // 25-29
    s_date, s_time_colon, s_time, s_pair_x, s_pair_y,                               // 30-34
    s_point, s_money_sign, s_money, s_money_decimals, s_hex_digits,                 // 35-39
    s_hex_word, s_hex_word_h, s_digits_h, s_lt, s_tag,                              // 40-44
    s_tag_double_quote, s_tag_single_quote, s_sign, s_quoted_sign, s_dot,           // 45-49
    s_dot_digits, s_quote_colon, s_word, s_word_colon, s_percent_word,              // 50-54
    s_url, s_email, s_ref, s_equals, s_path,                                        // 55-59
    s_path_integer, s_path_quote_colon, s_path_word, s_path_hash, s_path_sign,      // 60-64
};
static_assert(s_path_sign == 64, "the automaton has 65 states");

// Token classes, reported by the automaton's final states. Each has a scanner
// in lexer.cpp; string, word, issue and every class after them a loader.
// ORDER TOKEN-CLASSES
enum class TokenClass : std::uint8_t {
    end, error, block_open, block_close, paren_open, paren_close,                   // 0-5
    brace_open, brace_close, map_open, path_head, construction, comment,            // 6-11
    comma, string, word, issue, integer, refinement,                                // 12-17
    char_, file, binary, percent, float_, special_float,                            // 18-23
    tuple, date, pair, point, time, money,                                          // 24-29
    tag, url, email, hex_integer, raw_string, ref,                                  // 30-35
};

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
    std::int32_t line = 1;
    std::int32_t token_lines = 0;
    std::int32_t expected_type = -1;
    std::int32_t type = 0;
    int start_state = 0;
    int prev_state = 0;
    std::int32_t open_type = 0;
    const std::uint8_t* brace_start = nullptr;
    std::int32_t brace_depth = 0;
    std::uint32_t brace_flags = 0;
    std::int32_t point_lines = 0;
    Cell callback = Cell::fresh(TypeId::unset);  // unset! when there is none
    std::int32_t callback_args = 0;
    std::uint32_t event_mask = 0;
    Cell source = Cell::fresh(TypeId::unset);    // unset! when only bytes were given
    Cell* into = nullptr;         // the caller's block that loaded values go to, rooted by it
    bool load = true;             // build values and raise errors
    bool no_raise = false;
    bool terminated = false;      // *input_end is a readable NUL
    bool repositioned = false;    // a callback moved pos during this token
    std::vector<std::int32_t> character_marks;  // characters before each stretch (unit_offset)
};

// Thrown by a syntax error of a run that does not raise: the token loop
// catches it, the token yields nothing.
struct SyntaxUnwind {};

// --- Value stack ------------------------------------------------------------
// The cells of the value stack shared by all runs, and their number; both
// change when it grows.
inline Cell* stack_cells = nullptr;
inline std::int32_t stack_size = 0;
// Doubles the value stack; raises internal no-memory when it cannot.
void grow_stack();
// The cell at index i (valid until the next push).
inline Cell& stack_at(std::int32_t i) { return stack_cells[i]; }
// Pushes a copy of value, with the new-line flag when the token began a line.
inline Cell& push(State& s, const Cell& value) {
    if (s.top >= stack_size) grow_stack();
    Cell& c = stack_cells[s.top++];
    c = value;
    c.set_new_line(s.token_lines > 0);
    return c;
}

// --- Errors ---------------------------------------------------------------------
// Reports a syntax error of kind (a datatype id or a kind_ constant) for the
// token at start (null: the innermost open series' opening). Never returns.
[[noreturn]] void syntax_error(State& s, const std::uint8_t* start, const std::uint8_t* end,
                               std::int32_t kind);

// --- Loaders ------------------------------------------------------------------
// Loader of a token class (16-35, and 13-15 for building): checks the token,
// and with build pushes its value; leaves s.pos after what it consumed.
using Loader = void (*)(State& s, const std::uint8_t* start, const std::uint8_t* end,
                        std::uint32_t flags, bool build);
Loader loader_of(TokenClass token_class);
// Decodes [start, end) as string text (escapes when escapes is set) into a new
// text value of type t in out; false on bad UTF-8 or a bad escape. ascii:
// the caller knows no byte of it is above 0x7F.
bool decode_text(const std::uint8_t* start, const std::uint8_t* end, bool escapes, TypeId t,
                 Cell* out, bool ascii = false);

// --- Words --------------------------------------------------------------------
// The word last made from a word's bytes, by a hash of them: its spelling,
// symbol and index in the global context. Source repeats its words, and the
// symbol table's lookup (hashing with case folding, then probing) and the
// global context's cost several times a check of the cached spelling. The
// global context only grows and symbols stay, so an answer stays right; a
// new runtime (another global context, fewer symbols) empties the cache.
struct CachedWord {
    std::uint8_t length = 0;  // 0: empty
    char name[23] = {};
    std::uint32_t symbol = 0;
    std::int32_t index = 0;
};
inline std::array<CachedWord, 8192> word_cache{};
inline NodeId cached_context = 0;

inline std::uint32_t load32(const void* p) {
    std::uint32_t v;
    std::memcpy(&v, p, sizeof v);
    return v;
}
inline std::uint64_t load64(const void* p) {
    std::uint64_t v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

// The bytes of a spelling that its cache slot depends on, with its length:
// the first and last four, or for a shorter one its first, middle and last
// byte (all of it).
inline std::uint64_t spelling_key(const std::uint8_t* name, std::int32_t length) {
    const std::uint64_t bytes =
        length >= 4 ? std::uint64_t{load32(name)} << 32 | load32(name + length - 4)
                    : std::uint64_t{name[0]} << 16 | std::uint64_t{name[length / 2]} << 8 | name[length - 1];
    return bytes + static_cast<std::uint64_t>(length);
}

// True when the cached spelling equals [name, name + length), length below
// the cache's 23 bytes: whole-word compares that read only inside both.
inline bool same_spelling(const char* known, const std::uint8_t* name, std::int32_t length) {
    if (length >= 8) {
        if (load64(known) != load64(name)) return false;
        if (length > 16 && load64(known + 8) != load64(name + 8)) return false;
        return load64(known + length - 8) == load64(name + length - 8);
    }
    if (length >= 4)
        return load32(known) == load32(name) && load32(known + length - 4) == load32(name + length - 4);
    const auto* k = reinterpret_cast<const std::uint8_t*>(known);
    return k[0] == name[0] && k[length / 2] == name[length / 2] && k[length - 1] == name[length - 1];
}

// The word of a spelling the cache does not hold, which the cache then keeps
// in its slot, the spelling there moving to the partner slot (index ^ 1).
[[gnu::noinline]] void new_word(CachedWord& slot, const std::uint8_t* name, std::int32_t length,
                                TypeId t, Cell& out);

// The word! (or set-word!, get-word!, lit-word!, refinement!: type t) of a
// spelling of length (at least 1) bytes of valid UTF-8 into out, bound to the
// global context; a spelling met before costs no symbol or context lookup.
inline void word_of(const std::uint8_t* name, std::int32_t length, TypeId t, Cell& out) {
    constexpr std::uint64_t mix = 0x9E3779B97F4A7C15ull;
    const auto index = static_cast<std::size_t>((spelling_key(name, length) * mix) >> 51);
    CachedWord& slot = word_cache[index];
    if (slot.length == length && same_spelling(slot.name, name, length)) [[likely]] {
        out.reset(t);
        out.set_word(cached_context, slot.symbol, slot.index);
        return;
    }
    // Two spellings of one slot take turns in it and its partner.
    const CachedWord& partner = word_cache[index ^ 1];
    if (partner.length == length && same_spelling(partner.name, name, length)) {
        out.reset(t);
        out.set_word(cached_context, partner.symbol, partner.index);
        return;
    }
    new_word(slot, name, length, t, out);
}
// Forgets the cached words when the runtime behind them changed (start of a run).
void reset_word_cache();
// The word loader for word-class tokens whose kind is already known; ascii
// when the token is known to hold no byte above 0x7F (nothing to decode).
void load_word(State& s, const std::uint8_t* start, const std::uint8_t* end, TypeId t, bool build,
               bool ascii = false);

}  // namespace kiv::lexer
