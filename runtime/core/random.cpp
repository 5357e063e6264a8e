// The MT19937 recurrence with two differences from the textbook generator
// that the language's seeded sequences depend on: right shifts are arithmetic
// (the words read as signed), and seeding leaves the output index at 0, so
// the first regeneration happens at the 625th draw, not the first.
#include "runtime/core/random.h"

#include "runtime/core/raise.h"

#include <sys/random.h>

#include <cerrno>
#include <cstddef>
#include <limits>

namespace kiv::random {
namespace {

constexpr int state_words = 624;
constexpr int shift_offset = 397;
constexpr std::uint32_t start_seed = 19650218;

struct State {
    std::uint32_t words[state_words];
    int index = -1;  // -1: not seeded yet
};
State mt;

// The sign-propagating right shift of a word read as signed.
inline std::uint32_t sar(std::uint32_t v, int n) {
    return static_cast<std::uint32_t>(static_cast<std::int32_t>(v) >> n);
}

void regenerate() {
    for (int i = 0; i < state_words; ++i) {
        const std::uint32_t y = (mt.words[i] & 0x80000000u) | (mt.words[(i + 1) % state_words] & 0x7FFFFFFFu);
        mt.words[i] = mt.words[(i + shift_offset) % state_words] ^ sar(y, 1) ^ ((y & 1u) != 0 ? 0x9908B0DFu : 0u);
    }
    mt.index = 0;
}

}  // namespace

void init() { seed(start_seed); }

void seed(std::uint32_t value) {
    mt.words[0] = value;
    for (int i = 1; i < state_words; ++i) {
        const std::uint32_t prev = mt.words[i - 1];
        mt.words[i] = 1812433253u * (prev ^ sar(prev, 30)) + static_cast<std::uint32_t>(i);
    }
    mt.index = 0;
}

std::uint32_t next() {
    if (mt.index < 0) init();
    if (mt.index == state_words) regenerate();
    std::uint32_t y = mt.words[mt.index++];
    y ^= sar(y, 11);
    y ^= (y << 7) & 0x9D2C5680u;
    y ^= (y << 15) & 0xEFC60000u;
    y ^= sar(y, 18);  // y XOR its own sign: the top bit ends clear
    return y;
}

std::uint32_t secure_next() {
    std::uint32_t v = 0;
    auto* at = reinterpret_cast<unsigned char*>(&v);
    std::size_t got = 0;
    while (got < sizeof v) {
        const ssize_t n = getrandom(at + got, sizeof v - got, 0);
        if (n < 0) {
            if (errno == EINTR) continue;
            runtime::raise_error(ErrorCategory::access, "cannot-open");  // no secure source
        }
        got += static_cast<std::size_t>(n);
    }
    return v & 0x7FFFFFFFu;
}

std::int32_t in_range(bool secure, std::int32_t n) {
    if (n == 0) return 0;
    if (n == std::numeric_limits<std::int32_t>::min()) return static_cast<std::int32_t>(~draw(secure));
    const std::uint32_t m = n > 0 ? static_cast<std::uint32_t>(n) : static_cast<std::uint32_t>(-n);
    const std::uint32_t limit = (0x7FFFFFFFu / m) * m;  // rejection keeps the result unbiased
    std::uint32_t d = draw(secure);
    while (d >= limit) d = draw(secure);
    const auto r = static_cast<std::int32_t>(d % m) + 1;
    return n > 0 ? r : -r;
}

}  // namespace kiv::random
