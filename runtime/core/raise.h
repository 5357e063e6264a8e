// Raising language errors from runtime code. An error is named by its
// category and its id word ("no-memory", "out-of-range"); the catalogue gives
// its number and message. The error leaves through one path and never returns.
#pragma once

#include "runtime/core/cell.h"

#include <exception>

namespace kiv {

// ORDER ERROR-CATEGORIES: the category's index times 100 is its code base.
enum class ErrorCategory : std::uint8_t {
    throw_ = 0, note, syntax, script, math, access, reserved1, reserved2, user, internal,
};

// What travels while the error unwinds: the error! value, and the category,
// id word and argument cells it was raised with. error has no type when no
// error! could be built (no catalogue yet, or memory exhausted while building).
struct LanguageError : std::exception {
    ErrorCategory category;
    const char* id;             // a static spelling ("" for an error raised as a value)
    Cell args[3];
    int arg_count;
    Cell error{};               // the error! value
    const char* what() const noexcept override { return id; }
};

namespace runtime {

// Raises the error (category, id) with up to three arguments: builds its
// error! value from the catalogue and throws it.
[[noreturn]] void raise_error(ErrorCategory category, const char* id,
                              const Cell* arg1 = nullptr, const Cell* arg2 = nullptr,
                              const Cell* arg3 = nullptr);
// Throws an error! value that already exists (`do` of an error, cause-error).
[[noreturn]] void raise_error_value(const Cell& error);

// The evaluator's end of the raise path (stack::throw_error): annotates the
// error, unwinds the stacks to its receiver and throws e. Until the stacks
// exist it is null and errors are thrown to C++ callers as they are.
using ErrorRoute = void (*)(LanguageError& e);
void set_error_route(ErrorRoute route);

// How error! values are made: the error! module installs its builder once the
// catalogue is loaded. Until then errors leave without a value. The core
// knows error! only through this record.
struct ErrorBuilder {
    // Builds the error! value of (category, id) with its arguments into out.
    void (*build)(Cell& out, ErrorCategory category, const char* id,
                  const Cell* arg1, const Cell* arg2, const Cell* arg3);
    // The category index of an error! value, or -1 when it names none.
    std::int32_t (*category_of)(const Cell& error);
};
void set_error_builder(const ErrorBuilder* builder);

// The error! cell of the last error raised, kept alive for the catch site
// (marked by the collector until the next raise).
const Cell& last_error();

}  // namespace runtime
}  // namespace kiv
