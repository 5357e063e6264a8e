// Sorting 1M random 32-bit integers: both sorts against std::stable_sort.
#include "runtime/core/sorting.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <random>
#include <vector>

namespace {

std::vector<std::int32_t> random_ints() {
    std::mt19937 rng(9);
    std::vector<std::int32_t> v(1 << 20);
    for (auto& x : v) x = static_cast<std::int32_t>(rng());
    return v;
}

int compare_ints(const void* a, const void* b, std::int32_t, std::uintptr_t) {
    const auto x = *static_cast<const std::int32_t*>(a);
    const auto y = *static_cast<const std::int32_t*>(b);
    return (x > y) - (x < y);
}

template <class Sort>
void run(benchmark::State& state, Sort sort) {
    const auto input = random_ints();
    for (auto _ : state) {
        state.PauseTiming();
        auto v = input;
        state.ResumeTiming();
        sort(v);
        benchmark::DoNotOptimize(v.data());
    }
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * input.size()));
}

void BM_MergeSort(benchmark::State& state) {
    run(state, [](auto& v) { kiv::sorting::merge_sort(v.data(), v.size(), 4, 0, 0, compare_ints); });
}
void BM_QuickSort(benchmark::State& state) {
    run(state, [](auto& v) { kiv::sorting::quick_sort(v.data(), v.size(), 4, 0, 0, compare_ints); });
}
void BM_StdStableSort(benchmark::State& state) {
    run(state, [](auto& v) { std::stable_sort(v.begin(), v.end()); });
}
BENCHMARK(BM_MergeSort)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_QuickSort)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_StdStableSort)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
