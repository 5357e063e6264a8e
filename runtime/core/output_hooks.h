// Output hooks: the runtime has no text sink of its own for `print`. A front
// end registers print hooks (the language's printed values) and low-level
// output hooks (what the platform writer has just written); both run in
// registration order, and a hook registered twice runs twice.
#pragma once

#include "runtime/core/cell.h"

#include <cstdint>

namespace kiv::output_hooks {

// (string value, new-line flag): the text of print and prin.
using PrintHook = void (*)(const Cell* text, bool new_line);
// (text, length in bytes or -1 for NUL-terminated text, flag 0).
using OutputHook = void (*)(const char* text, std::int32_t length, int flag);

// A growable list of hooks on the tracked heap (capacity grows by 5).
template <typename Hook>
struct HookList {
    Hook* entries;
    std::int32_t count;
    std::int32_t capacity;
};

inline constexpr std::int32_t growth = 5;

// Allocates both lists at capacity 5.
void init();
// Appends each non-null hook to its list.
void register_(PrintHook print_hook, OutputHook output_hook);
// Removes the first occurrence of each non-null hook.
void unregister(PrintHook print_hook, OutputHook output_hook);
// Calls every print hook with the same arguments.
void call_print_hooks(const Cell* text, bool new_line);
// Calls every low-level output hook with the same arguments.
void call_output_hooks(const char* text, std::int32_t length, int flag);

// The lists, for inspection.
const HookList<PrintHook>& print_hooks();
const HookList<OutputHook>& output_hooks();

}  // namespace kiv::output_hooks
