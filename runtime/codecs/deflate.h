// Deflate data and its zlib and gzip containers, over caller-supplied byte
// buffers. The compressor writes one final block with the fixed Huffman codes;
// the decompressor reads all three block types. Nothing here allocates: each
// routine fills the caller's buffer up to its capacity and keeps counting past
// it, so a call with capacity 0 learns the size the output needs.
#pragma once

#include <cstddef>
#include <cstdint>

namespace kiv::deflate {

// The outcome of every routine (the codes are part of the interface).
enum class Status : int {
    ok = 0,              // size holds the bytes produced
    too_small = 1,       // the output did not fit; size holds the bytes needed
    invalid = 2,         // corrupt or truncated data, a failed header or trailer check,
                         // or no room for a container's header and trailer
    stored_past_end = 3, // a stored block runs past the end of the input
    reserved_block = 4,  // a block of the reserved type 3
    distance_too_far = 5 // a match reaches before the start of the output
};

// Each routine takes the output buffer (null when capacity is 0), the output
// capacity in size (replaced by the bytes produced or needed), and the input.

// Raw deflate data of the input.
Status compress(std::uint8_t* out, std::size_t& size, const std::uint8_t* in, std::size_t length);
// The bytes of raw deflate data. Data that ends before its final block is invalid.
Status inflate(std::uint8_t* out, std::size_t& size, const std::uint8_t* in, std::size_t length);

// A zlib stream (header 78 01, deflate data, Adler-32 trailer) of the input.
Status zlib_compress(std::uint8_t* out, std::size_t& size, const std::uint8_t* in, std::size_t length);
// The bytes of a zlib stream, its header and Adler-32 trailer checked.
Status zlib_decompress(std::uint8_t* out, std::size_t& size, const std::uint8_t* in, std::size_t length);

// A gzip member of the input; input that already starts as a gzip member
// (1F 8B 08) is copied unchanged.
Status gzip(std::uint8_t* out, std::size_t& size, const std::uint8_t* in, std::size_t length);
// The bytes of the first gzip member of the input, its header, CRC-32 and
// size checked (the data must make exactly the size the trailer gives); the
// size needed is read from the trailer.
Status gunzip(std::uint8_t* out, std::size_t& size, const std::uint8_t* in, std::size_t length);

// The most bytes deflate data of length bytes can stand for (a 258-byte match
// costs two bits at best); larger claims are corrupt.
inline constexpr std::uint64_t max_expansion(std::size_t length) {
    return static_cast<std::uint64_t>(length) * 1032 + 258;
}

}  // namespace kiv::deflate
