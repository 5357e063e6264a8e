// Memory manager and collector: the rate of small series allocation, and the
// pause of one full collection over 1M live cells (1,000 blocks of 1,000
// cells, every tenth cell a string of its own).
#include "runtime/core/collector.h"
#include "runtime/core/externals.h"
#include "runtime/core/memory.h"

#include <benchmark/benchmark.h>

#include <cstring>

namespace {

using namespace kiv;

// range(0): allocations between collections. 10,000 stay within one warm
// arena; 200,000 take fresh arenas from the system each cycle.
void BM_AllocSmallSeries(benchmark::State& st) {
    memory::init();
    std::int64_t made = 0;
    const std::int64_t cycle = st.range(0);
    for (auto _ : st) {
        benchmark::DoNotOptimize(memory::alloc_bytes(24));
        if (++made % cycle == 0) {  // everything is garbage: reclaim it off the clock
            st.PauseTiming();
            collector::collect();
            st.ResumeTiming();
        }
    }
    st.SetItemsProcessed(made);
    memory::free_all();
}
BENCHMARK(BM_AllocSmallSeries)->Arg(10000)->Arg(200000);

NodeId root;
void mark_root() { collector::mark_series_cells(root); }

void BM_FullCollection1MCells(benchmark::State& st) {
    memory::init();
    externals::init();
    root = memory::alloc_cells(1000);
    for (int i = 0; i < 1000; ++i) {
        NodeId block = memory::alloc_cells(1000);
        SeriesBuffer* b = memory::buffer(block);
        for (int j = 0; j < 1000; ++j) {
            Cell c{static_cast<std::uint32_t>(TypeId::integer), 0, static_cast<std::uint32_t>(j), 0};
            if (j % 10 == 0) c = Cell{static_cast<std::uint32_t>(TypeId::string), 0, memory::alloc_bytes(16), 0};
            b = memory::buffer(block);
            std::memcpy(b->tail, &c, sizeof c);
            b->tail += sizeof c;
        }
        SeriesBuffer* r = memory::buffer(root);
        Cell bc{static_cast<std::uint32_t>(TypeId::block), 0, block, 0};
        std::memcpy(r->tail, &bc, sizeof bc);
        r->tail += sizeof bc;
    }
    collector::add_mark_callback(mark_root);
    collector::collect();  // settle the heap first
    for (auto _ : st) collector::collect();
    collector::remove_mark_callback(mark_root);
    st.counters["live_nodes"] = static_cast<double>(memory::nodes_in_use());
    externals::free_all();
    memory::free_all();
}
BENCHMARK(BM_FullCollection1MCells)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
