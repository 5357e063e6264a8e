// block! actions at scale: sort of 1,000,000 random integers (quick and
// stable), and find of a word at the far end of a 100,000-cell block.
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/block_actions.h"

#include "runtime/datatypes/registry.h"
#include "runtime/datatypes/word.h"
#include "runtime/startup/embed.h"

#include <benchmark/benchmark.h>

#include <random>

namespace kiv {
namespace {

// The datatypes and words alone: the library's boot sources are not needed.
void boot() {
    static const bool done = (embed::boot({.library = false}), true);
    (void)done;
}

Cell random_integers(std::int32_t n) {
    Cell b{};
    block::make_at(b, n);
    std::mt19937 gen(42);
    Cell c{};
    c.reset(TypeId::integer);
    for (std::int32_t i = 0; i < n; ++i) {
        c.set_int(static_cast<std::int32_t>(gen()));
        block::append_copy(b, c);
    }
    return b;
}

void sort_integers(benchmark::State& state) {
    boot();
    const bool stable = state.range(0) != 0;
    for (auto _ : state) {
        state.PauseTiming();
        Cell b = random_integers(1'000'000);
        state.ResumeTiming();
        Cell slot = b;
        block::sort(&slot, {.stable = stable});
        benchmark::DoNotOptimize(slot);
    }
}
BENCHMARK(sort_integers)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

void find_last_word(benchmark::State& state) {
    boot();
    Cell b{};
    block::make_at(b, 100'000);
    Cell w{};
    word::make_kind_at(TypeId::word, "filler", w);
    for (std::int32_t i = 0; i < 99'999; ++i) block::append_copy(b, w);
    Cell target{};
    word::make_kind_at(TypeId::word, "target", target);
    block::append_copy(b, target);
    for (auto _ : state) {
        Cell slot = b, v = target;
        block::find(&slot, &v, FindRefinements{});
        benchmark::DoNotOptimize(slot);
    }
}
BENCHMARK(find_last_word)->Unit(benchmark::kMicrosecond);

}  // namespace
}  // namespace kiv

BENCHMARK_MAIN();
