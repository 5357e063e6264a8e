// Output hooks: two growable lists of callbacks on the tracked heap.
#include "runtime/core/output_hooks.h"

#include "runtime/core/tracked_heap.h"

#include <cstring>

namespace kiv::output_hooks {

namespace {

HookList<PrintHook> print_list{nullptr, 0, 0};
HookList<OutputHook> output_list{nullptr, 0, 0};

template <typename Hook>
void allocate(HookList<Hook>& list) {
    list.entries = static_cast<Hook*>(runtime::alloc_tracked(growth * static_cast<std::int32_t>(sizeof(Hook))));
    list.count = 0;
    list.capacity = growth;
}

template <typename Hook>
void append(HookList<Hook>& list, Hook hook) {
    if (!list.entries) allocate(list);  // registered before init: set up now
    if (list.count == list.capacity) {
        const std::int32_t capacity = list.capacity + growth;
        auto* entries = static_cast<Hook*>(runtime::alloc_tracked(capacity * static_cast<std::int32_t>(sizeof(Hook))));
        std::memcpy(entries, list.entries, static_cast<std::size_t>(list.count) * sizeof(Hook));
        runtime::free_tracked(list.entries);
        list.entries = entries;
        list.capacity = capacity;
    }
    list.entries[list.count++] = hook;
}

template <typename Hook>
void remove(HookList<Hook>& list, Hook hook) {
    for (std::int32_t i = 0; i < list.count; ++i) {
        if (list.entries[i] != hook) continue;
        std::memmove(&list.entries[i], &list.entries[i + 1],
                     static_cast<std::size_t>(list.count - i - 1) * sizeof(Hook));
        --list.count;
        return;
    }
}

}  // namespace

void init() {
    allocate(print_list);
    allocate(output_list);
}

void register_(PrintHook print_hook, OutputHook output_hook) {
    if (print_hook) append(print_list, print_hook);
    if (output_hook) append(output_list, output_hook);
}

void unregister(PrintHook print_hook, OutputHook output_hook) {
    if (print_hook) remove(print_list, print_hook);
    if (output_hook) remove(output_list, output_hook);
}

void call_print_hooks(const Cell* text, bool new_line) {
    for (std::int32_t i = 0; i < print_list.count; ++i) print_list.entries[i](text, new_line);
}

void call_output_hooks(const char* text, std::int32_t length, int flag) {
    for (std::int32_t i = 0; i < output_list.count; ++i) output_list.entries[i](text, length, flag);
}

const HookList<PrintHook>& print_hooks() { return print_list; }
const HookList<OutputHook>& output_hooks() { return output_list; }

}  // namespace kiv::output_hooks
