// Wall-clock timing for the C++ drivers that compare our code with a library
// called alone.
#pragma once

#include <algorithm>
#include <chrono>
#include <functional>

namespace kiv::bench {

// The best of five runs of work, in milliseconds.
inline double best_ms(const std::function<void()>& work) {
    double best = 1e30;
    for (int i = 0; i < 5; ++i) {
        const auto start = std::chrono::steady_clock::now();
        work();
        best = std::min(best, std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count());
    }
    return best;
}

}  // namespace kiv::bench
