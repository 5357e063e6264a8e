// map! and hash!: find on a 100,000-value hash! against a linear search of
// the same block!, and map! put and select of integer and word keys.
#include "runtime/datatypes/hash.h"
#include "runtime/datatypes/map.h"

#include "runtime/datatypes/block.h"
#include "runtime/datatypes/datatype.h"
#include "runtime/datatypes/integer.h"
#include "runtime/datatypes/registry.h"
#include "runtime/datatypes/word.h"
#include "runtime/startup/embed.h"

#include <benchmark/benchmark.h>

#include <string>

namespace kiv {
namespace {

constexpr std::int32_t value_count = 100000;

// The datatypes and words alone: the library's boot sources are not needed.
void boot() {
    static const bool done = (embed::boot({.library = false}), true);
    (void)done;
}

Cell int_of(std::int32_t v) {
    Cell c{};
    integer::make_at(c, v);
    return c;
}

Cell numbers() {
    Cell b{};
    block::make_at(b, value_count);
    for (std::int32_t i = 0; i < value_count; ++i) block::append_copy(b, int_of(i));
    return b;
}

// The block! search: each cell from the head through the compare handler.
std::int32_t linear_find(const Cell& b, const Cell& key) {
    auto compare = registry::handler<Action::compare>(TypeId::integer);
    for (std::int32_t i = 0; i < value_count; ++i) {
        Cell c = *block::get_cell(b, i), k = key;
        if (c.type() == k.type() && compare(&c, &k, CompareOp::find) == 0) return i;
    }
    return -1;
}

void BM_BlockFind(benchmark::State& state) {
    boot();
    const Cell b = numbers();
    std::int32_t i = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(linear_find(b, int_of((i * 7919) % value_count)));
        ++i;
    }
    state.SetItemsProcessed(state.iterations());
}

void BM_HashFind(benchmark::State& state) {
    boot();
    Cell h{};
    hash::make_at(h, numbers());
    std::int32_t i = 0;
    for (auto _ : state) {
        Cell s = h, key = int_of((i * 7919) % value_count);
        benchmark::DoNotOptimize(registry::handler<Action::find>(TypeId::hash)(&s, &key, FindRefinements{}));
        ++i;
    }
    state.SetItemsProcessed(state.iterations());
}

void BM_MapPutSelectIntegers(benchmark::State& state) {
    boot();
    for (auto _ : state) {
        Cell m{};
        map::make_at(m, nullptr, 16);
        for (std::int32_t i = 0; i < value_count; ++i) map::set(m, int_of(i), int_of(i), false);
        std::int32_t found = 0;
        for (std::int32_t i = 0; i < value_count; ++i) found += map::find_key(m, int_of(i), false) >= 0;
        benchmark::DoNotOptimize(found);
    }
    state.SetItemsProcessed(state.iterations() * value_count * 2);
}

void BM_MapPutSelectWords(benchmark::State& state) {
    boot();
    std::vector<Cell> keys;
    for (std::int32_t i = 0; i < 10000; ++i) {
        Cell w{};
        word::make_kind_at(TypeId::word, ("k" + std::to_string(i)).c_str(), w);
        keys.push_back(w);
    }
    for (auto _ : state) {
        Cell m{};
        map::make_at(m, nullptr, 16);
        for (const Cell& k : keys) map::set(m, k, k, false);
        std::int32_t found = 0;
        for (const Cell& k : keys) found += map::find_key(m, k, false) >= 0;
        benchmark::DoNotOptimize(found);
    }
    state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(keys.size()) * 2);
}

BENCHMARK(BM_BlockFind);
BENCHMARK(BM_HashFind);
BENCHMARK(BM_MapPutSelectIntegers);
BENCHMARK(BM_MapPutSelectWords);

}  // namespace
}  // namespace kiv

BENCHMARK_MAIN();
