// The LZ77 bit stream of compressed Kivbin bodies: an 8-byte header (body
// length, uncompressed length), then independent blocks of at most 1 MiB of
// output, each a 4-byte output length and a bit stream of literals and
// matches that reach at most 256 KiB back and never before their block.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace kiv::lz77 {

inline constexpr std::size_t header_size = 8;
inline constexpr std::size_t block_size = 1 << 20;  // output bytes a block may hold
inline constexpr std::size_t window_size = 1 << 18; // farthest a match reaches back
inline constexpr std::size_t min_length = 3;        // shortest match
inline constexpr std::size_t max_length = 566;      // longest match
inline constexpr std::size_t min_input = 128;       // shorter input is not compressed

// The bytes of size bytes of compressed data, in out. False when the data is
// corrupt or truncated (out is then empty); reads nothing past the body the
// header announces, and never makes more output than the header claims.
bool decompress(const std::uint8_t* data, std::size_t size, std::vector<std::uint8_t>& out);

// Compresses length bytes into out, which has room for length bytes; returns
// the compressed size, or -1 when the input is shorter than min_input, longer
// than a 32-bit length, or does not shrink below length bytes.
std::int64_t compress(const std::uint8_t* in, std::size_t length, std::uint8_t* out);

}  // namespace kiv::lz77
