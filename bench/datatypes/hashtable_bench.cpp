// Keyed hash tables: insert and lookup of 32-bit keys against
// std::unordered_map on the same keys.
#include "runtime/datatypes/hashtable.h"

#include "runtime/core/memory.h"

#include <benchmark/benchmark.h>

#include <random>
#include <unordered_map>
#include <vector>

namespace {

constexpr std::int64_t key_count = 100000;

std::vector<std::uint32_t> random_keys() {
    std::mt19937 rng(3);
    std::vector<std::uint32_t> v(key_count);
    for (auto& k : v) k = static_cast<std::uint32_t>(rng()) | 1;
    return v;
}

void BM_TableInsert(benchmark::State& state) {
    const auto keys = random_keys();
    kiv::memory::init();
    for (auto _ : state) {
        const kiv::NodeId table = kiv::hashtable::create(16, nullptr, kiv::hashtable::Kind::reference, 1);
        for (auto k : keys) kiv::hashtable::put_pointer_key(table, k)->data1 = k;
        state.PauseTiming();
        kiv::memory::free_all();
        kiv::memory::init();
        state.ResumeTiming();
    }
    kiv::memory::free_all();
    state.SetItemsProcessed(state.iterations() * key_count);
}

void BM_TableLookup(benchmark::State& state) {
    const auto keys = random_keys();
    kiv::memory::init();
    const kiv::NodeId table = kiv::hashtable::create(16, nullptr, kiv::hashtable::Kind::reference, 1);
    for (auto k : keys) kiv::hashtable::put_pointer_key(table, k)->data1 = k;
    for (auto _ : state) {
        for (auto k : keys) benchmark::DoNotOptimize(kiv::hashtable::get_pointer_key(table, k));
    }
    kiv::memory::free_all();
    state.SetItemsProcessed(state.iterations() * key_count);
}

void BM_UnorderedMapInsert(benchmark::State& state) {
    const auto keys = random_keys();
    for (auto _ : state) {
        std::unordered_map<std::uint32_t, std::uint32_t> map;
        for (auto k : keys) map[k] = k;
        benchmark::DoNotOptimize(map.size());
    }
    state.SetItemsProcessed(state.iterations() * key_count);
}

void BM_UnorderedMapLookup(benchmark::State& state) {
    const auto keys = random_keys();
    std::unordered_map<std::uint32_t, std::uint32_t> map;
    for (auto k : keys) map[k] = k;
    for (auto _ : state) {
        for (auto k : keys) benchmark::DoNotOptimize(map.find(k));
    }
    state.SetItemsProcessed(state.iterations() * key_count);
}

BENCHMARK(BM_TableInsert)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_UnorderedMapInsert)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_TableLookup)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_UnorderedMapLookup)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
