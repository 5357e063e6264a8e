// Raising language errors from runtime code. An error is named by its
// category and its id word ("no-memory", "out-of-range"); the catalogue gives
// its number and message. The error leaves through one path and never returns.
#pragma once

#include "runtime/cell.h"

#include <exception>

namespace kiv {

// ORDER ERROR-CATEGORIES: the category's index times 100 is its code base.
enum class ErrorCategory : std::uint8_t {
    throw_ = 0, note, syntax, script, math, access, reserved1, reserved2, user, internal,
};

// What travels while the error unwinds, until error! values and the frame
// stack take it over: category, id word and up to three argument cells.
struct LanguageError : std::exception {
    ErrorCategory category;
    const char* id;
    Cell args[3];
    int arg_count;
    const char* what() const noexcept override { return id; }
};

namespace runtime {

// Raises the error (category, id) with up to three arguments.
[[noreturn]] void raise_error(ErrorCategory category, const char* id,
                              const Cell* arg1 = nullptr, const Cell* arg2 = nullptr,
                              const Cell* arg3 = nullptr);

}  // namespace runtime
}  // namespace kiv
