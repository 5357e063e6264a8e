// string! actions on large texts: appending 1M characters one by one, find of
// a 10-character pattern in 10 MB, trim and sort of 10 MB. bench/datatypes/string_actions.py
// does the same work in Python 3 for comparison.
#include "runtime/datatypes/string_actions.h"

#include "runtime/core/collector.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/char.h"
#include "runtime/datatypes/string.h"
#include "runtime/startup/embed.h"

#include <benchmark/benchmark.h>

namespace kiv {
namespace {

// The datatypes and words alone: the library's boot sources are not needed.
void boot() {
    static const bool done = (embed::boot({.library = false}), true);
    (void)done;
}

constexpr std::int32_t ten_mb = 10 * 1024 * 1024;

// A text of n pseudo-random letters and spaces (fixed seed).
Cell filler(std::int32_t n) {
    Cell s{};
    string::make_at(s, n);
    std::uint32_t x = 12345;
    for (std::int32_t i = 0; i < n; ++i) {
        x = x * 1103515245u + 12345u;
        const std::uint32_t r = (x >> 16) % 27;
        string::append_char(s.series_node(), r == 26 ? ' ' : 'a' + r);
    }
    return s;
}

void AppendOneMillionChars(benchmark::State& state) {
    boot();
    for (auto _ : state) {
        Cell s{};
        string::make_at(s, 16);
        for (int i = 0; i < 1'000'000; ++i) {
            Cell c{};
            char_::make_at(c, 'a' + static_cast<std::uint32_t>(i % 26));
            Cell t = s;
            string::append(&t, &c, -1, false, 1);
        }
        benchmark::DoNotOptimize(string::length_from_start(s));
        state.PauseTiming();
        collector::collect();  // drop the garbage between runs: the collector is off without the library
        state.ResumeTiming();
    }
}
BENCHMARK(AppendOneMillionChars)->Unit(benchmark::kMillisecond);

void FindTenCharsInTenMB(benchmark::State& state) {
    boot();
    Cell hay = filler(ten_mb);
    string::append_nul_text(hay.series_node(), "XYZWVUTSRQ");  // found at the very end
    Cell needle{};
    string::make_at(needle, 16);
    string::append_nul_text(needle.series_node(), "xyzwvutsrq");
    for (auto _ : state) {
        Cell s = hay, v = needle;
        benchmark::DoNotOptimize(string::find(&s, &v, {})->series_head());
    }
}
BENCHMARK(FindTenCharsInTenMB)->Unit(benchmark::kMillisecond);

void TrimTenMB(benchmark::State& state) {
    boot();
    for (auto _ : state) {
        state.PauseTiming();
        Cell s = filler(ten_mb);
        state.ResumeTiming();
        string::trim(&s, {.lines = true});  // /lines touches every unit
        benchmark::DoNotOptimize(string::length_from_start(s));
    }
}
BENCHMARK(TrimTenMB)->Unit(benchmark::kMillisecond)->Iterations(3);

void SortTenMB(benchmark::State& state) {
    boot();
    for (auto _ : state) {
        state.PauseTiming();
        Cell s = filler(ten_mb);
        state.ResumeTiming();
        string::sort(&s, {});
        benchmark::DoNotOptimize(string::length_from_start(s));
    }
}
BENCHMARK(SortTenMB)->Unit(benchmark::kMillisecond)->Iterations(3);

}  // namespace
}  // namespace kiv

BENCHMARK_MAIN();
