// Sorting: a stable natural merge sort (powersort merge policy) and an
// unstable 3-way quicksort. Every loop is bounded by indexes, never by what the
// comparator answers, so an inconsistent comparator gives some order, never a
// stray access; a throwing comparator leaves a permutation of the input.
#include "runtime/core/sorting.h"

#include "runtime/core/collector.h"
#include "runtime/core/raise.h"

#include <cstring>
#include <limits>
#include <memory>
#include <new>
#include <vector>

namespace kiv::sorting {
namespace {

struct Items {
    std::uint8_t* base;
    std::size_t size;
    std::int32_t op;
    std::uintptr_t flags;
    Comparator compare;

    std::uint8_t* at(std::size_t i) const { return base + i * size; }
    int cmp(const void* a, const void* b) const { return compare(a, b, op, flags); }
    int cmp(std::size_t i, std::size_t j) const { return compare(at(i), at(j), op, flags); }

    void swap(std::size_t i, std::size_t j) const {
        std::uint8_t* a = at(i);
        std::uint8_t* b = at(j);
        if (size % 4 == 0) {
            for (std::size_t k = 0; k < size; k += 4) {
                std::uint32_t t;
                std::memcpy(&t, a + k, 4);
                std::memcpy(a + k, b + k, 4);
                std::memcpy(b + k, &t, 4);
            }
        } else {
            for (std::size_t k = 0; k < size; ++k) {
                std::uint8_t t = a[k];
                a[k] = b[k];
                b[k] = t;
            }
        }
    }
    void reverse(std::size_t lo, std::size_t hi) const {  // [lo, hi)
        while (hi > lo + 1) swap(lo++, --hi);
    }
    // Swaps the n items from i with the n items from j (ranges do not overlap).
    void swap_block(std::size_t i, std::size_t j, std::size_t n) const {
        for (std::size_t k = 0; k < n; ++k) swap(i + k, j + k);
    }
    // Insertion sort of [lo, hi), assuming [lo, from) is sorted already; an
    // item moves back only past items that compare above it, so level items
    // keep their order.
    void insertion_sort(std::size_t lo, std::size_t from, std::size_t hi) const {
        for (std::size_t i = from; i < hi; ++i) {
            for (std::size_t j = i; j > lo && cmp(j - 1, j) > 0; --j) swap(j - 1, j);
        }
    }
};

// --- merge sort ---------------------------------------------------------------

constexpr std::size_t min_run = 24;

// Merge buffers of the running stable sorts of cells: the part of each that
// holds live items is marked by the collector while a comparator runs.
struct ParkedCells {
    const std::uint8_t* begin;
    const std::uint8_t* end;
};
std::vector<ParkedCells*> parked;
bool parked_callback_added = false;

void mark_parked() {
    for (const ParkedCells* p : parked) {
        collector::mark_cells(reinterpret_cast<const Cell*>(p->begin),
                              reinterpret_cast<const Cell*>(p->end));
    }
}

class MergeSort {
public:
    MergeSort(const Items& items, std::size_t count, std::uint8_t* buffer, ParkedCells* park)
        : items_(items), n_(count), buf_(buffer), park_(park) {}

    void run() {
        struct Entry { std::size_t start; unsigned power; };
        Entry stack[70];  // one entry per bit of the count, plus the bottom one
        std::size_t top = 0;
        stack[0] = {0, 0};

        std::size_t s1 = 0;
        std::size_t e1 = extend_run(0);
        while (e1 < n_) {
            const std::size_t e2 = extend_run(e1);
            const unsigned power = node_power(s1, e1, e2);
            while (stack[top].power > power) {
                merge(stack[top].start, s1, e1);
                s1 = stack[top].start;
                --top;
            }
            stack[++top] = {s1, power};
            s1 = e1;
            e1 = e2;
        }
        for (; top > 0; --top) {
            merge(stack[top].start, s1, e1);
            s1 = stack[top].start;
        }
    }

private:
    // End of the run that starts at start, made at least min_run long.
    std::size_t extend_run(std::size_t start) {
        std::size_t end = start + 1;
        if (end < n_) {
            if (items_.cmp(start, end) <= 0) {
                for (++end; end < n_ && items_.cmp(end - 1, end) <= 0; ++end) {}
            } else {
                for (++end; end < n_ && items_.cmp(end - 1, end) > 0; ++end) {}
                items_.reverse(start, end);  // strictly descending: reversing keeps stability
            }
        }
        if (end - start < min_run) {
            const std::size_t stop = n_ - start < min_run ? n_ : start + min_run;
            items_.insertion_sort(start, end, stop);
            end = stop;
        }
        return end;
    }

    // Bit position at which the scaled midpoints of [s1, e1) and [e1, e2)
    // first differ, plus one.
    unsigned node_power(std::size_t s1, std::size_t e1, std::size_t e2) const {
        std::uint64_t a = s1 + e1;
        std::uint64_t b = e1 + e2;
        const std::uint64_t n = n_;
        unsigned power = 0;
        for (;;) {
            if ((a < n) != (b < n)) break;
            ++power;
            if (a >= n) {
                a -= n;
                b -= n;
            }
            a <<= 1;
            b <<= 1;
        }
        return power + 1;
    }

    void park(std::size_t first, std::size_t last) {
        if (park_) {
            park_->begin = buf_ + first * items_.size;
            park_->end = buf_ + last * items_.size;
        }
    }
    std::uint8_t* buf(std::size_t i) const { return buf_ + i * items_.size; }
    void put(std::uint8_t* to, const std::uint8_t* from) const { std::memcpy(to, from, items_.size); }

    // Merges the adjacent sorted runs [s, m) and [m, e) through the buffer.
    // While the merge runs, the gap in the range is exactly as long as the
    // items still in the buffer, so an exception copies them into it.
    void merge(std::size_t s, std::size_t m, std::size_t e) {
        const std::size_t size = items_.size;
        if (e - m < m - s) {
            const std::size_t right = e - m;
            std::memcpy(buf_, items_.at(m), right * size);
            std::size_t li = m;     // left items left: [s, li)
            std::size_t bi = right; // buffered items left: [0, bi)
            std::size_t dest = e;   // gap: [li, dest)
            try {
                while (bi > 0 && li > s) {
                    park(0, bi);
                    if (items_.cmp(items_.at(li - 1), buf(bi - 1)) > 0) {
                        put(items_.at(--dest), items_.at(--li));
                    } else {
                        put(items_.at(--dest), buf(--bi));
                    }
                }
            } catch (...) {
                std::memcpy(items_.at(li), buf_, bi * size);
                park(0, 0);
                throw;
            }
            std::memcpy(items_.at(li), buf_, bi * size);
        } else {
            const std::size_t left = m - s;
            std::memcpy(buf_, items_.at(s), left * size);
            std::size_t bi = 0;   // buffered items left: [bi, left)
            std::size_t ri = m;   // right items left: [ri, e)
            std::size_t dest = s; // gap: [dest, ri)
            try {
                while (bi < left && ri < e) {
                    park(bi, left);
                    if (items_.cmp(buf(bi), items_.at(ri)) <= 0) {
                        put(items_.at(dest++), buf(bi++));
                    } else {
                        put(items_.at(dest++), items_.at(ri++));
                    }
                }
            } catch (...) {
                std::memcpy(items_.at(dest), buf(bi), (left - bi) * size);
                park(0, 0);
                throw;
            }
            std::memcpy(items_.at(dest), buf(bi), (left - bi) * size);
        }
        park(0, 0);
    }

    const Items& items_;
    std::size_t n_;
    std::uint8_t* buf_;
    ParkedCells* park_;
};

// --- quick sort ---------------------------------------------------------------

constexpr std::size_t small_range = 8;

class QuickSort {
public:
    explicit QuickSort(const Items& items) : items_(items) {}

    void sort(std::size_t lo, std::size_t hi, std::size_t prefix) {
        std::size_t n = hi - lo;
        unsigned depth = 0;
        for (std::size_t k = n; k > 1; k >>= 1) depth += 2;
        partition_sort(lo, hi, prefix, depth);
    }

    // Length of the sorted (ascending) prefix after the nearly-sorted checks.
    std::size_t prepare(std::size_t n) {
        std::size_t first = 0;
        while (first + 1 < n && items_.cmp(first, first + 1) == 0) ++first;
        if (first + 1 >= n) return n;  // every item level
        bool ascending = items_.cmp(first, first + 1) < 0;
        std::size_t run = monotone_run(ascending, n);

        // Sampled score: every 97th pair after the run votes for a direction.
        long score = ascending ? static_cast<long>(run) : -static_cast<long>(run);
        for (std::size_t i = run + 96; i + 1 < n; i += 97) {
            const int c = items_.cmp(i, i + 1);
            if (c < 0) ++score;
            else if (c > 0) --score;
        }
        const long magnitude = score < 0 ? -score : score;
        if (magnitude <= static_cast<long>(n / 512)) {
            if (!ascending) items_.reverse(0, run);
            return run;
        }
        if ((score > 0) != ascending) {
            ascending = !ascending;
            run = monotone_run(ascending, n);
        }
        if (!ascending) items_.reverse(0, run);
        return grow_prefix(run, n);
    }

private:
    // Length of the monotone run from 0 in the direction (level pairs allowed).
    std::size_t monotone_run(bool ascending, std::size_t n) const {
        std::size_t end = 1;
        while (end < n) {
            const int c = items_.cmp(end - 1, end);
            if (ascending ? c > 0 : c < 0) break;
            ++end;
        }
        return end;
    }

    // Grows a sorted prefix over nearly sorted input: walks in steps of 10
    // items and inserts each out-of-place item into the prefix, giving up
    // once the moves exceed a budget linear in the range. When it gives up
    // mid-insertion only the items before the one moving are known sorted.
    std::size_t grow_prefix(std::size_t prefix, std::size_t n) const {
        std::size_t budget = n / 4 + 64;
        while (prefix < n) {
            const std::size_t stop = n - prefix < 10 ? n : prefix + 10;
            for (std::size_t i = prefix; i < stop; ++i) {
                for (std::size_t j = i; j > 0 && items_.cmp(j - 1, j) > 0; --j) {
                    if (budget == 0) return j;
                    --budget;
                    items_.swap(j - 1, j);
                }
            }
            prefix = stop;
        }
        return prefix;
    }

    void median_of_three(std::size_t a, std::size_t b, std::size_t c, std::size_t lo) const {
        if (items_.cmp(a, b) > 0) items_.swap(a, b);
        if (items_.cmp(b, c) > 0) {
            items_.swap(b, c);
            if (items_.cmp(a, b) > 0) items_.swap(a, b);
        }
        items_.swap(lo, b);  // the median becomes the pivot at lo
    }

    // Heap sort of [lo, hi): the fallback that bounds the depth of the
    // partitioning on inputs that defeat its pivot choice.
    void heap_sort(std::size_t lo, std::size_t hi) const {
        const std::size_t n = hi - lo;
        auto sift = [&](std::size_t root, std::size_t end) {
            for (;;) {
                std::size_t child = 2 * root + 1;
                if (child >= end) return;
                if (child + 1 < end && items_.cmp(lo + child, lo + child + 1) < 0) ++child;
                if (items_.cmp(lo + root, lo + child) >= 0) return;
                items_.swap(lo + root, lo + child);
                root = child;
            }
        };
        for (std::size_t i = n / 2; i-- > 0;) sift(i, n);
        for (std::size_t end = n; end-- > 1;) {
            items_.swap(lo, lo + end);
            sift(0, end);
        }
    }

    void partition_sort(std::size_t lo, std::size_t hi, std::size_t prefix, unsigned depth) {
        while (hi - lo >= small_range) {
            if (depth == 0) {
                heap_sort(lo, hi);
                return;
            }
            --depth;
            const std::size_t n = hi - lo;
            if (prefix > 2 && prefix < n) {
                // A sorted prefix: its middle item against the rest's middle and last.
                median_of_three(lo + prefix / 2, lo + prefix + (n - prefix) / 2, hi - 1, lo);
            } else {
                const std::size_t m = n < 512 ? n : 63;
                median_of_three(lo, lo + m / 2, lo + m - 1, lo);
            }
            prefix = 0;

            // Bentley-McIlroy: level items gather at both ends, then move to
            // the middle. [lo, a) and (d, hi) level; [a, b) below; (c, d] above.
            std::size_t a = lo + 1, b = lo + 1;
            std::size_t c = hi - 1, d = hi - 1;
            for (;;) {
                while (b <= c) {
                    const int r = items_.cmp(b, lo);
                    if (r > 0) break;
                    if (r == 0) items_.swap(a++, b);
                    ++b;
                }
                while (b <= c) {
                    const int r = items_.cmp(c, lo);
                    if (r < 0) break;
                    if (r == 0) items_.swap(c, d--);
                    --c;
                }
                if (b > c) break;
                if (b == c) {  // only an inconsistent comparator gets here
                    ++b;
                    break;
                }
                items_.swap(b++, c--);
            }
            // Here b = c + 1.
            std::size_t s = std::min(a - lo, b - a);
            items_.swap_block(lo, b - s, s);
            s = std::min(d - c, hi - 1 - d);
            items_.swap_block(b, hi - s, s);
            const std::size_t below_end = lo + (b - a);
            const std::size_t above_begin = hi - (d - c);

            if (below_end - lo < hi - above_begin) {
                partition_sort(lo, below_end, 0, depth);
                lo = above_begin;
            } else {
                partition_sort(above_begin, hi, 0, depth);
                hi = below_end;
            }
        }
        if (hi - lo > 1) items_.insertion_sort(lo, lo + 1, hi);
    }

    const Items& items_;
};

}  // namespace

void merge_sort(void* base, std::size_t count, std::size_t item_size, std::int32_t op,
                std::uintptr_t flags, Comparator compare, bool cells) {
    if (count < 2) return;
    const std::size_t half = count / 2;
    if (item_size != 0 && half > std::numeric_limits<std::uint32_t>::max() / item_size) {
        runtime::raise_error(ErrorCategory::script, "too-long");
    }
    std::unique_ptr<std::uint8_t[]> buffer(new (std::nothrow) std::uint8_t[half * item_size]);
    if (!buffer) runtime::raise_error(ErrorCategory::internal, "no-memory");

    const Items items{static_cast<std::uint8_t*>(base), item_size, op, flags, compare};
    ParkedCells park{nullptr, nullptr};
    if (cells) {
        if (!parked_callback_added) {
            collector::add_mark_callback(mark_parked);
            parked_callback_added = true;
        }
        parked.push_back(&park);
    }
    struct Unpark {
        bool on;
        ~Unpark() { if (on) parked.pop_back(); }  // sorts nest: a comparator may sort
    } unpark{cells};
    MergeSort(items, count, buffer.get(), cells ? &park : nullptr).run();
}

void quick_sort(void* base, std::size_t count, std::size_t item_size, std::int32_t op,
                std::uintptr_t flags, Comparator compare) {
    if (count < 2) return;
    const Items items{static_cast<std::uint8_t*>(base), item_size, op, flags, compare};
    QuickSort sorter(items);
    const std::size_t prefix = sorter.prepare(count);
    if (prefix < count) sorter.sort(0, count, prefix);
}

}  // namespace kiv::sorting
