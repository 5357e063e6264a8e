// Float text: molding random doubles (shortest digits) and reading the texts back.
#include "runtime/text/dtoa.h"

#include <benchmark/benchmark.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

namespace {

std::vector<double> random_doubles() {
    std::mt19937_64 rng(1);
    std::vector<double> v;
    while (v.size() < 4096) {
        const std::uint64_t b = rng();
        double d;
        std::memcpy(&d, &b, sizeof d);
        if (d == d) v.push_back(d);
    }
    return v;
}

void BM_FormFloat(benchmark::State& state) {
    const auto values = random_doubles();
    std::size_t i = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(kiv::dtoa::form_float(values[i++ & 4095], 0, true));
    }
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations()));
}
BENCHMARK(BM_FormFloat);

void BM_Strtod(benchmark::State& state) {
    std::vector<std::string> texts;
    for (double d : random_doubles()) texts.emplace_back(kiv::dtoa::form_float(d, 0, true));
    std::size_t i = 0;
    int rest;
    for (auto _ : state) {
        const std::string& t = texts[i++ & 4095];
        benchmark::DoNotOptimize(kiv::dtoa::strtod(t.data(), t.data() + t.size(), 0, rest));
    }
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations()));
}
BENCHMARK(BM_Strtod);

}  // namespace

BENCHMARK_MAIN();
