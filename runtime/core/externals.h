// The external handle table: resources that live outside the collector (images,
// fonts, system objects) are entered here and values keep the handle's index.
// The collector marks the handles live values reach and finalises the others.
#pragma once

#include <cstddef>
#include <cstdint>

namespace kiv::externals {

// A class's finaliser, called with the resource pointer when it is released.
using Finaliser = void (*)(void* pointer);

//   class word:  31  30  29 ........ 8  7 ....... 0
//               [MK][FR][  flags      ][ class id ]
//   MK collector mark; FR exactly 0x40000000 on a free record.
inline constexpr std::uint32_t class_mask = 0xFF;
inline constexpr std::uint32_t handle_marked = 0x80000000;
inline constexpr std::uint32_t handle_free = 0x40000000;
inline constexpr std::int32_t no_handle = -1;

// Makes the class table and 1,000 free records, all on the free list.
void init();
// Releases the tables (shutdown and tests); runs no finaliser.
void free_all();
// Appends a class (at most 255); returns its 1-based id.
int register_class(const char* name, Finaliser finaliser);
// Name of class id, or "" for an unknown id.
const char* class_name(int class_id);

// Enters pointer with the class word (class id and flags); returns the index.
// The table doubles when its last free record is taken; indices stay valid.
std::int32_t alloc_handle(void* pointer, std::uint32_t class_word);
// Replaces the pointer; when it changed, the class finaliser runs on the old one.
void set_handle_pointer(std::int32_t index, void* pointer);
// Frees the handle (finalising the pointer first when asked); returns -1. A
// handle that is already free or out of range is left alone.
std::int32_t free_handle(std::int32_t index, bool finalise);
// The pointer and class word of a live handle (nullptr, 0 for a bad index).
void* handle_pointer(std::int32_t index);
std::uint32_t handle_class_word(std::int32_t index);

// Collector step: sets the mark, and stores pointer when one is given; true
// when the handle was not marked before. Ignores a bad or free index.
bool mark_handle(std::int32_t index, void* pointer = nullptr);
// Calls callback with the pointer of every live handle of the class.
void for_each_handle(int class_id, void (*callback)(void* pointer));
// Runs the finaliser of the class in class_word on pointer (class 0: none).
void finalise(std::uint32_t class_word, void* pointer);
// Collector step: finalises and frees every unmarked live handle, unmarks the rest.
void sweep();

// Records in the table and live handles (tests and statistics).
std::size_t capacity();
std::size_t live_count();

}  // namespace kiv::externals
