// UTF-8 decoding speed: the automaton over mixed text, and the loader that
// measures and stores a whole text as string units (ASCII and mixed inputs).
#include "runtime/core/memory.h"
#include "runtime/text/unicode.h"

#include <benchmark/benchmark.h>

#include <cstdint>
#include <string>

namespace {

// About 1 MB of text: mostly ASCII, or a mix of 1- to 4-byte sequences.
std::string sample(bool mixed) {
    const std::string piece = mixed ? "Grüße, 世界! Ünïcödé ☺ 😀 text; " : "The quick brown fox jumps over the lazy dog. ";
    std::string s;
    while (s.size() < (1 << 20)) s += piece;
    return s;
}

void automaton(benchmark::State& state) {
    std::string text = sample(state.range(0) != 0);
    auto* begin = reinterpret_cast<const std::uint8_t*>(text.data());
    const std::uint8_t* end = begin + text.size();
    for (auto _ : state) benchmark::DoNotOptimize(kiv::unicode::count_utf8_chars(begin, end));
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * static_cast<std::int64_t>(text.size()));
}
BENCHMARK(automaton)->Arg(0)->Arg(1)->ArgNames({"mixed"});

void load_utf8(benchmark::State& state) {
    std::string text = sample(state.range(0) != 0);
    kiv::memory::init();
    auto* bytes = reinterpret_cast<const std::uint8_t*>(text.data());
    auto size = static_cast<std::int32_t>(text.size());
    std::int32_t left = 0;
    kiv::NodeId target = kiv::unicode::load_utf8(bytes, size, 0, &left, false);  // reused: no growth inside the loop
    for (auto _ : state) benchmark::DoNotOptimize(kiv::unicode::load_utf8(bytes, size, target, &left, false));
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * size);
    kiv::memory::free_all();
}
BENCHMARK(load_utf8)->Arg(0)->Arg(1)->ArgNames({"mixed"});

}  // namespace

BENCHMARK_MAIN();
