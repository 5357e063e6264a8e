// Random numbers: one MT19937 generator for the process, behind the random
// action of every datatype, and a secure source from the system for
// /secure. The generator's right shifts propagate the sign, so every output
// has its top bit clear (0 .. 2147483647); the handlers rely on that.
#pragma once

#include <cstdint>

namespace kiv::random {

// Seeds the generator with its start-up seed, 19650218; at each boot.
void init();
// Seeds the generator; the next 624 draws temper the seeded words directly.
void seed(std::uint32_t value);
// The next output of the generator, 0 .. 2147483647.
std::uint32_t next();
// A draw from the system's secure source, 0 .. 2147483647.
std::uint32_t secure_next();
// next(), or secure_next() when secure.
inline std::uint32_t draw(bool secure) { return secure ? secure_next() : next(); }
// A uniform integer: 1 .. n for n > 0, n .. -1 for n < 0, 0 for 0; the
// smallest integer gives the complement of one draw.
std::int32_t in_range(bool secure, std::int32_t n);

}  // namespace kiv::random
