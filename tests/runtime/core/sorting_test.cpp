// Sorting: order, stability, odd item sizes, and safety against comparators
// that throw or contradict themselves.
#include "runtime/core/sorting.h"

#include "runtime/core/raise.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <random>
#include <string>
#include <vector>

namespace kiv {
namespace {

struct Item {
    std::int32_t key;
    std::int32_t seq;  // input position, to check stability
};

int by_key(const void* a, const void* b, std::int32_t op, std::uintptr_t flags) {
    EXPECT_EQ(op, 7);
    EXPECT_EQ(flags, 0xABCDu);
    const auto* x = static_cast<const Item*>(a);
    const auto* y = static_cast<const Item*>(b);
    return (x->key > y->key) - (x->key < y->key);
}

using SortFn = void (*)(void*, std::size_t, std::size_t, std::int32_t, std::uintptr_t,
                        sorting::Comparator);
void merge(void* b, std::size_t n, std::size_t s, std::int32_t op, std::uintptr_t f,
           sorting::Comparator c) {
    sorting::merge_sort(b, n, s, op, f, c);
}

std::vector<Item> make_input(const std::string& shape, std::size_t n, std::mt19937& rng) {
    std::vector<Item> v(n);
    for (std::size_t i = 0; i < n; ++i) {
        const auto k = static_cast<std::int32_t>(i);
        const auto m = static_cast<std::int32_t>(n);
        std::int32_t key = 0;
        if (shape == "random") key = static_cast<std::int32_t>(rng() % 1000000);
        else if (shape == "few") key = static_cast<std::int32_t>(rng() % 4);
        else if (shape == "sorted") key = k;
        else if (shape == "reversed") key = m - k;
        else if (shape == "equal") key = 5;
        else if (shape == "sawtooth") key = k % 37;
        else if (shape == "organ") key = k < m / 2 ? k : m - k;
        else if (shape == "steps_down") key = (m - k) / 10;  // descending with level runs
        else if (shape == "nearly") key = k;
        v[i] = {key, k};
    }
    if (shape == "nearly" && n > 2) {
        for (std::size_t i = 0; i < n / 50 + 1; ++i) std::swap(v[rng() % n], v[rng() % n]);
    }
    return v;
}

// Both sorts against std::stable_sort over a table of shapes and sizes; the
// stable sort must match exactly, the quick sort on keys.
TEST(Sorting, MatchesReferenceOnShapes) {
    std::mt19937 rng(42);
    const char* shapes[] = {"random", "few", "sorted", "reversed", "equal",
                            "sawtooth", "organ", "steps_down", "nearly"};
    const std::size_t sizes[] = {0, 1, 2, 3, 7, 8, 9, 23, 24, 25, 48, 100, 513, 1000, 20011};
    for (const char* shape : shapes) {
        for (std::size_t n : sizes) {
            const auto input = make_input(shape, n, rng);
            auto expected = input;
            std::stable_sort(expected.begin(), expected.end(),
                             [](const Item& a, const Item& b) { return a.key < b.key; });

            auto stable = input;
            sorting::merge_sort(stable.data(), n, sizeof(Item), 7, 0xABCD, by_key);
            for (std::size_t i = 0; i < n; ++i) {
                ASSERT_EQ(stable[i].key, expected[i].key) << shape << " " << n;
                ASSERT_EQ(stable[i].seq, expected[i].seq) << shape << " " << n;
            }

            auto quick = input;
            sorting::quick_sort(quick.data(), n, sizeof(Item), 7, 0xABCD, by_key);
            for (std::size_t i = 0; i < n; ++i) {
                ASSERT_EQ(quick[i].key, expected[i].key) << shape << " " << n;
            }
            std::sort(quick.begin(), quick.end(), [](auto& a, auto& b) { return a.seq < b.seq; });
            for (std::size_t i = 0; i < n; ++i) ASSERT_EQ(quick[i].seq, static_cast<int>(i));
        }
    }
}

// Items of 6 bytes (swapped byte by byte) and of 3 bytes: key in the first byte.
int by_first_byte(const void* a, const void* b, std::int32_t, std::uintptr_t) {
    return *static_cast<const std::uint8_t*>(a) - *static_cast<const std::uint8_t*>(b);
}

TEST(Sorting, OddItemSizes) {
    for (std::size_t size : {3u, 6u, 16u}) {
        std::mt19937 rng(static_cast<unsigned>(size));
        const std::size_t n = 300;
        std::vector<std::uint8_t> input(n * size);
        for (std::size_t i = 0; i < n; ++i) {
            input[i * size] = static_cast<std::uint8_t>(rng() % 50);
            for (std::size_t k = 1; k < size; ++k) input[i * size + k] = static_cast<std::uint8_t>(i + k);
        }
        for (SortFn sort : {static_cast<SortFn>(merge), static_cast<SortFn>(sorting::quick_sort)}) {
            auto v = input;
            sort(v.data(), n, size, 0, 0, by_first_byte);
            std::vector<std::string> before, after;
            for (std::size_t i = 0; i < n; ++i) {
                before.emplace_back(reinterpret_cast<const char*>(&input[i * size]), size);
                after.emplace_back(reinterpret_cast<const char*>(&v[i * size]), size);
                if (i > 0) {
                    ASSERT_LE(v[(i - 1) * size], v[i * size]);
                }
            }
            std::sort(before.begin(), before.end());
            std::sort(after.begin(), after.end());
            EXPECT_EQ(before, after) << "items survive whole, size " << size;
        }
    }
}

// A comparator that throws after a given number of calls, or answers at random.
struct Hostile {
    static inline int calls_left = 0;
    static inline std::mt19937 rng{7};
    static int throwing(const void* a, const void* b, std::int32_t op, std::uintptr_t flags) {
        if (--calls_left < 0) throw std::runtime_error("comparator failed");
        return by_key(a, b, op, flags);
    }
    static int random(const void*, const void*, std::int32_t, std::uintptr_t) {
        return static_cast<int>(rng() % 3) - 1;
    }
};

void expect_permutation(std::vector<Item> v, std::size_t n) {
    std::sort(v.begin(), v.end(), [](auto& a, auto& b) { return a.seq < b.seq; });
    for (std::size_t i = 0; i < n; ++i) ASSERT_EQ(v[i].seq, static_cast<int>(i)) << "lost or duplicated";
}

TEST(Sorting, ThrowingComparatorLosesNothing) {
    std::mt19937 rng(1);
    const std::size_t n = 3000;
    const auto input = make_input("random", n, rng);
    for (SortFn sort : {static_cast<SortFn>(merge), static_cast<SortFn>(sorting::quick_sort)}) {
        int throws = 0;
        for (bool threw = true; threw; throws += threw) {  // until the sort gets through
            auto v = input;
            Hostile::calls_left = throws * 97;
            threw = false;
            try {
                sort(v.data(), n, sizeof(Item), 7, 0xABCD, Hostile::throwing);
            } catch (const std::runtime_error&) {
                threw = true;
            }
            expect_permutation(v, n);
        }
        EXPECT_GT(throws, 100);
    }
}

TEST(Sorting, InconsistentComparatorStaysInBounds) {
    std::mt19937 rng(3);
    for (std::size_t n : {5u, 30u, 600u, 5000u}) {
        for (const char* shape : {"random", "sorted", "nearly"}) {
            for (SortFn sort : {static_cast<SortFn>(merge), static_cast<SortFn>(sorting::quick_sort)}) {
                auto v = make_input(shape, n, rng);
                sort(v.data(), n, sizeof(Item), 0, 0, Hostile::random);
                expect_permutation(v, n);
            }
        }
    }
}

TEST(Sorting, MergeBufferTooLong) {
    Item one{0, 0};
    std::size_t count = (std::size_t{1} << 33) / sizeof(Item);  // half of it times 8 is 2^32
    try {
        sorting::merge_sort(&one, count, sizeof(Item), 7, 0xABCD, by_key);
        FAIL() << "no error";
    } catch (const LanguageError& e) {
        EXPECT_STREQ(e.id, "too-long");
        EXPECT_EQ(e.category, ErrorCategory::script);
    }
}

}  // namespace
}  // namespace kiv
