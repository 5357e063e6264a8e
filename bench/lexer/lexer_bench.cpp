// Lexing throughput: a generated source of nested blocks, words, set-words,
// paths, strings, integers and floats, loaded whole; bytes per second.
#include "runtime/io/lexer.h"

#include "runtime/startup/embed.h"

#include <benchmark/benchmark.h>

#include <random>
#include <string>

namespace {

std::string generate(std::size_t size) {
    std::mt19937 rng(7);
    static const char* words[] = {"alpha", "beta", "gamma", "delta", "print", "append", "either",
                                  "foreach", "value", "result"};
    std::string out;
    while (out.size() < size) {
        out += "item: [";
        for (int i = 0; i < 8; ++i) {
            switch (rng() % 6) {
            case 0: out += words[rng() % 10]; break;
            case 1: out += std::to_string(rng() % 100000); break;
            case 2: out += std::to_string(rng() % 1000) + "." + std::to_string(rng() % 100); break;
            case 3: out += "\"text number " + std::to_string(rng() % 1000) + "\""; break;
            case 4: out += "obj/field/" + std::string(words[rng() % 10]); break;
            default: out += "[a b (c 1)]"; break;
            }
            out += ' ';
        }
        out += "]\n";
    }
    return out;
}

void BM_LexSource(benchmark::State& state) {
    static const bool ready = (kiv::embed::boot({.library = false}), true);  // tables and words, no library
    (void)ready;
    const std::string src = generate(static_cast<std::size_t>(state.range(0)));
    for (auto _ : state) {
        kiv::Cell out{};
        kiv::lexer::scan(&out, reinterpret_cast<const std::uint8_t*>(src.data()),
                         static_cast<std::int32_t>(src.size()), {}, nullptr);
        benchmark::DoNotOptimize(out);
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) *
                            static_cast<std::int64_t>(src.size()));
}
BENCHMARK(BM_LexSource)->Arg(1 << 20);

}  // namespace

BENCHMARK_MAIN();
