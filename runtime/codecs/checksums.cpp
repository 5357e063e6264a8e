// CRC-32 by folding 64 bytes at a time with carry-less multiplication where
// the processor has it, else by slicing sixteen bytes at a time through tables
// built on first use; Adler-32 with the modulo taken once per 5,552 bytes, the
// longest run whose sums cannot overflow 32 bits.
#include "runtime/codecs/checksums.h"

#include <array>
#include <cstring>

#if defined(__x86_64__)
#include <immintrin.h>
#define KIV_CRC_CLMUL 1
#endif

namespace kiv::checksums {
namespace {

using CrcTables = std::array<std::array<std::uint32_t, 256>, 16>;

CrcTables make_crc_tables() {
    CrcTables t{};
    for (std::uint32_t n = 0; n < 256; ++n) {
        std::uint32_t c = n;
        for (int k = 0; k < 8; ++k) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
        t[0][n] = c;
    }
    for (std::uint32_t n = 0; n < 256; ++n)
        for (std::size_t k = 1; k < 16; ++k) t[k][n] = (t[k - 1][n] >> 8) ^ t[0][t[k - 1][n] & 0xFF];
    return t;
}

const CrcTables& crc_tables() {
    static const CrcTables tables = make_crc_tables();
    return tables;
}

#if KIV_CRC_CLMUL
// The register c (the CRC before its final inversion) carried over size
// bytes, size a multiple of 16 and at least 64. Four 128-bit lanes are
// folded forward 512 bits at a time (multiplying by x^544 and x^480 modulo
// the reflected polynomial), folded into one, then reduced to 32 bits by
// Barrett's method.
#define KIV_CLMUL_TARGET __attribute__((target("pclmul,sse4.1")))

KIV_CLMUL_TARGET inline __m128i load(const std::uint8_t* p) {
    return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
}
// x carried 128 bits (k's low half) or a lane's width (k's high half) forward, plus next.
KIV_CLMUL_TARGET inline __m128i fold(__m128i x, __m128i k, __m128i next) {
    return _mm_xor_si128(_mm_xor_si128(_mm_clmulepi64_si128(x, k, 0x11), _mm_clmulepi64_si128(x, k, 0x00)), next);
}

KIV_CLMUL_TARGET std::uint32_t crc32_clmul(const std::uint8_t* data, std::size_t size,
                                                                  std::uint32_t c) {
    const __m128i k1k2 = _mm_set_epi64x(0x01c6e41596, 0x0154442bd4);
    const __m128i k3k4 = _mm_set_epi64x(0x00ccaa009e, 0x01751997d0);
    const __m128i k5k0 = _mm_set_epi64x(0, 0x0163cd6124);
    const __m128i poly = _mm_set_epi64x(0x01f7011641, 0x01db710641);
    __m128i x1 = _mm_xor_si128(load(data), _mm_cvtsi32_si128(static_cast<int>(c)));
    __m128i x2 = load(data + 16), x3 = load(data + 32), x4 = load(data + 48);
    data += 64;
    size -= 64;
    for (; size >= 64; data += 64, size -= 64) {
        x1 = fold(x1, k1k2, load(data));
        x2 = fold(x2, k1k2, load(data + 16));
        x3 = fold(x3, k1k2, load(data + 32));
        x4 = fold(x4, k1k2, load(data + 48));
    }
    x1 = fold(fold(fold(x1, k3k4, x2), k3k4, x3), k3k4, x4);
    for (; size >= 16; data += 16, size -= 16) x1 = fold(x1, k3k4, load(data));
    // 128 bits to 64, then to 32 by Barrett reduction.
    const __m128i low32 = _mm_setr_epi32(~0, 0, ~0, 0);
    x1 = _mm_xor_si128(_mm_srli_si128(x1, 8), _mm_clmulepi64_si128(x1, k3k4, 0x10));
    x1 = _mm_xor_si128(_mm_clmulepi64_si128(_mm_and_si128(x1, low32), k5k0, 0x00), _mm_srli_si128(x1, 4));
    __m128i x2b = _mm_clmulepi64_si128(_mm_and_si128(x1, low32), poly, 0x10);
    x2b = _mm_clmulepi64_si128(_mm_and_si128(x2b, low32), poly, 0x00);
    return static_cast<std::uint32_t>(_mm_extract_epi32(_mm_xor_si128(x1, x2b), 1));
}

bool has_clmul() {
    static const bool yes = __builtin_cpu_supports("pclmul") && __builtin_cpu_supports("sse4.1");
    return yes;
}
#endif

}  // namespace

std::uint32_t crc32(const std::uint8_t* data, std::size_t size, std::uint32_t crc) {
    const CrcTables& t = crc_tables();
    std::uint32_t c = ~crc;
#if KIV_CRC_CLMUL
    if (size >= 64 && has_clmul()) {
        const std::size_t folded = size & ~static_cast<std::size_t>(15);
        c = crc32_clmul(data, folded, c);
        data += folded;
        size -= folded;
    }
#endif
    while (size >= 16) {
        std::uint32_t w[4];
        std::memcpy(w, data, 16);  // little-endian host: the first byte is the low one
        w[0] ^= c;
        c = t[15][w[0] & 0xFF] ^ t[14][(w[0] >> 8) & 0xFF] ^ t[13][(w[0] >> 16) & 0xFF] ^ t[12][w[0] >> 24] ^
            t[11][w[1] & 0xFF] ^ t[10][(w[1] >> 8) & 0xFF] ^ t[9][(w[1] >> 16) & 0xFF] ^ t[8][w[1] >> 24] ^
            t[7][w[2] & 0xFF] ^ t[6][(w[2] >> 8) & 0xFF] ^ t[5][(w[2] >> 16) & 0xFF] ^ t[4][w[2] >> 24] ^
            t[3][w[3] & 0xFF] ^ t[2][(w[3] >> 8) & 0xFF] ^ t[1][(w[3] >> 16) & 0xFF] ^ t[0][w[3] >> 24];
        data += 16;
        size -= 16;
    }
    while (size >= 8) {
        std::uint32_t lo, hi;
        std::memcpy(&lo, data, 4);  // little-endian host: the first byte is the low one
        std::memcpy(&hi, data + 4, 4);
        lo ^= c;
        c = t[7][lo & 0xFF] ^ t[6][(lo >> 8) & 0xFF] ^ t[5][(lo >> 16) & 0xFF] ^ t[4][lo >> 24] ^
            t[3][hi & 0xFF] ^ t[2][(hi >> 8) & 0xFF] ^ t[1][(hi >> 16) & 0xFF] ^ t[0][hi >> 24];
        data += 8;
        size -= 8;
    }
    while (size-- > 0) c = t[0][(c ^ *data++) & 0xFF] ^ (c >> 8);
    return ~c;
}

std::uint32_t adler32(const std::uint8_t* data, std::size_t size, std::uint32_t adler) {
    constexpr std::uint32_t base = 65521;
    constexpr std::size_t run = 5552;
    std::uint32_t a = adler & 0xFFFF, b = adler >> 16;
    while (size > 0) {
        std::size_t n = size < run ? size : run;
        size -= n;
        for (; n >= 8; n -= 8, data += 8) {  // eight steps at once: b gains 8a and the weighted bytes
            const std::uint32_t d0 = data[0], d1 = data[1], d2 = data[2], d3 = data[3];
            const std::uint32_t d4 = data[4], d5 = data[5], d6 = data[6], d7 = data[7];
            b += 8 * a + 8 * d0 + 7 * d1 + 6 * d2 + 5 * d3 + 4 * d4 + 3 * d5 + 2 * d6 + d7;
            a += d0 + d1 + d2 + d3 + d4 + d5 + d6 + d7;
        }
        while (n-- > 0) {
            a += *data++;
            b += a;
        }
        a %= base;
        b %= base;
    }
    return (b << 16) | a;
}

std::uint32_t tcp(const std::uint8_t* data, std::size_t size) {
    std::uint64_t sum = 0;  // wide enough that no carry is lost on any length
    std::size_t i = 0;
    for (; i + 1 < size; i += 2) sum += (static_cast<std::uint32_t>(data[i]) << 8) | data[i + 1];
    if (i < size) sum += data[i];
    while ((sum >> 16) != 0) sum = (sum & 0xFFFF) + (sum >> 16);
    return ~static_cast<std::uint32_t>(sum) & 0xFFFF;
}

}  // namespace kiv::checksums
