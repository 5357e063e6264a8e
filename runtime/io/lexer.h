// The lexer: UTF-8 source text to values. A table-driven automaton finds each
// token (lexer_scanner), a loader per token class builds its value on the
// shared value stack (lexer_loaders); this driver links one state per run,
// keeps open series as markers on that stack, raises syntax errors with their
// line and reports events to a /trace callback. Runs nest through callbacks.
#pragma once

#include "runtime/core/cell.h"
#include "runtime/core/memory.h"
#include <cstdint>

namespace kiv::lexer {

// Event words and their mask bits (a callback body starting with a block of
// these words listens only to them).
enum class Event : std::uint32_t { prescan = 1, scan = 2, load = 4, open = 8, close = 16, error = 32 };

// What a run is asked to do (the transcode refinements map onto these).
struct ScanRequest {
    bool one = false;             // stop after the first complete top-level value
    bool scan = true;             // false: classify tokens only (prescan)
    bool store = true;            // build values and store them in the result
    bool as_block = false;        // with one: still store a block
    const Cell* callback = nullptr;  // function! or routine! called on events
    const Cell* source = nullptr;    // string! or binary! the bytes came from
    Cell* into = nullptr;            // block to append to instead of a new one
    bool terminated = false;         // the byte after the input is readable and NUL
};

// Builds the class tables, the value stack and the text buffer; once at start-up.
void init();

// Scans length bytes of UTF-8 into result (may be null). Returns the type id
// of the last token (0 none, 34 error! after a syntax error in a run that
// does not raise). consumed (may be null) receives the units read: characters
// when the source is a string!, else bytes. Raises syntax errors when both
// scan and store are set.
std::int32_t scan(Cell* result, const std::uint8_t* utf8, std::int32_t length,
                  const ScanRequest& request, std::int32_t* consumed);

// Scans a string! from its head: length characters, or the rest when -1.
std::int32_t scan_string(Cell* result, Cell& text, std::int32_t length,
                         const ScanRequest& request, std::int32_t* consumed);

// The refinements of the transcode native.
struct TranscodeOptions {
    bool next = false;       // the first value and the rest of the input, in a block
    bool one = false;        // the first value alone
    bool prescan = false;    // only the automaton: the type of the (first) token
    bool scan = false;       // check without building: the type of the first token
    Cell* part = nullptr;    // integer! length, or a series position of the source
    Cell* into = nullptr;    // block to append to
    Cell* trace = nullptr;   // callback function
};

// The worker of transcode: source is a string! or binary! (a UTF-8 BOM at a
// binary's head is skipped); the result goes into result. Raises syntax errors.
void transcode(Cell& result, const Cell& source, const TranscodeOptions& options);

// Loads the first value of a UTF-8 text into out; false when the text holds
// no value or does not scan (no error raised). Used by to/make conversions.
bool scan_first_value(const char* utf8, std::int32_t length, Cell& out);

// Marks the cells and sources of every active run (a collector root step).
void mark_states();

// --- Text to number (for the to actions) --------------------------------------
// Error out values: 0 ok, -1 bad text, -2 overflow. Unit is 1, 2 or 4.
std::int32_t string_to_integer(const std::uint8_t* text, std::uint32_t unit, std::int32_t count,
                               std::int32_t& error);
// NaN with error -1 for bad text; "," reads as ".", "'" separators are skipped.
double string_to_float(const std::uint8_t* text, std::int32_t count, std::uint32_t unit,
                       std::int32_t& error);
// A money! into out from [sign][code]$digits['digits][.decimals] ("$" may
// be left out without a code); false (out untouched) for any other text.
bool string_to_money(const std::uint8_t* text, std::int32_t count, std::uint32_t unit, Cell& out);

}  // namespace kiv::lexer
