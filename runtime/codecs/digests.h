// Digests over plain byte buffers: MD5, SHA-1 and SHA-2 and their HMAC
// (RFC 2104), through OpenSSL's libcrypto. No cells: the checksum native wraps
// these; the plain checksums live in checksums.h.
#pragma once

#include <cstdint>
#include <vector>

namespace kiv::digests {

// The digest methods by code (the code is what digest and hmac take).
enum class Method : std::int32_t { tcp = 0, crc32 = 1, md5 = 2, sha1 = 3, sha256 = 4, sha384 = 5, sha512 = 6 };

// Bytes of a method's digest: 16, 20, 32, 48, 64; 0 for tcp and crc32.
std::int32_t digest_size(Method m);
// Bytes of a method's HMAC block: 64 or 128; 0 for tcp and crc32.
std::int32_t block_size(Method m);

// The digest of the bytes by an md5 ... sha512 method (digest_size bytes).
std::vector<std::uint8_t> digest(const std::uint8_t* data, std::int64_t n, Method m);
// HMAC (RFC 2104) of the bytes with the key, by an md5 ... sha512 method.
std::vector<std::uint8_t> hmac(const std::uint8_t* data, std::int64_t n, const std::uint8_t* key,
                               std::int64_t key_length, Method m);

}  // namespace kiv::digests
