// Sorting: in-place sorts of fixed-size items (cells, text units, records) in
// one contiguous range. The comparator decides the order and may run language
// code and throw; every item is moved by swaps or through one merge buffer
// that is written back on the way out, so a throw leaves a permutation.
#pragma once

#include <cstddef>
#include <cstdint>

namespace kiv::sorting {

// Order of the items at a and b: negative when a sorts before b, 0 when level,
// positive when after. op and flags are the caller's words, passed unchanged
// (flags is pointer-sized so that it can carry the caller's state).
using Comparator = int (*)(const void* a, const void* b, std::int32_t op, std::uintptr_t flags);

// Stable sort of count items of item_size bytes from base (natural runs merged
// by the powersort policy). With cells set, the items are value cells (size a
// multiple of 16) and the collector marks those parked in the merge buffer.
// Raises script too-long when the merge buffer of count / 2 items does not
// fit in 32 bits, internal no-memory when it cannot be had.
void merge_sort(void* base, std::size_t count, std::size_t item_size, std::int32_t op,
                std::uintptr_t flags, Comparator compare, bool cells = false);

// Unstable sort (3-way quicksort that detects nearly sorted input); allocates
// nothing. Level items may change their order.
void quick_sort(void* base, std::size_t count, std::size_t item_size, std::int32_t op,
                std::uintptr_t flags, Comparator compare);

}  // namespace kiv::sorting
