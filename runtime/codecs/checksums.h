// Checksums over byte buffers: CRC-32 (the polynomial of zlib, gzip and PNG),
// Adler-32 and the Internet checksum. The first two can be carried across
// calls, so a long input may be fed in pieces: pass the previous result as the
// starting value.
#pragma once

#include <cstddef>
#include <cstdint>

namespace kiv::checksums {

// CRC-32 of size bytes at data, continuing from crc (0 to start).
std::uint32_t crc32(const std::uint8_t* data, std::size_t size, std::uint32_t crc = 0);

// Adler-32 of size bytes at data, continuing from adler (1 to start).
std::uint32_t adler32(const std::uint8_t* data, std::size_t size, std::uint32_t adler = 1);

// The RFC 1071 Internet checksum (16 bits); a final odd byte counts as a low byte.
std::uint32_t tcp(const std::uint8_t* data, std::size_t size);

}  // namespace kiv::checksums
