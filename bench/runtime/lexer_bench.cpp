// Lexing throughput: a generated source of nested blocks, words, set-words,
// paths, strings, integers and floats, loaded whole; bytes per second.
#include "runtime/io/lexer.h"

#include "runtime/case_folding.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/context.h"
#include "runtime/datatypes/hashtable.h"
#include "runtime/datatypes/registry.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/datatypes/words.h"
#include "runtime/memory.h"

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
    static bool ready = false;
    if (!ready) {
        kiv::memory::init();
        kiv::case_folding::init();
        kiv::hashtable::init();
        kiv::block::init_root();
        kiv::registry::init();
        kiv::registry::register_all();
        kiv::symbol::init_table();
        kiv::context::init_global();
        kiv::registry::init_type_words();
        kiv::words::init();
        kiv::lexer::init();
        ready = true;
    }
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
