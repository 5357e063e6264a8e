// The digests through libcrypto's EVP interface; HMAC is built on them as
// RFC 2104 lays it out (the pads hashed in front of the data, no copies).
#include "runtime/digests.h"

#include <openssl/evp.h>

#include <cstring>

namespace kiv::digests {
namespace {

const EVP_MD* evp_of(Method m) {
    switch (m) {
    case Method::md5: return EVP_md5();
    case Method::sha1: return EVP_sha1();
    case Method::sha256: return EVP_sha256();
    case Method::sha384: return EVP_sha384();
    case Method::sha512: return EVP_sha512();
    default: return nullptr;
    }
}

// Feeds the parts in turn to one digest; out gets digest_size bytes.
void digest_parts(Method m, std::initializer_list<std::pair<const std::uint8_t*, std::int64_t>> parts,
                  std::uint8_t* out) {
    EVP_MD_CTX* ctx = EVP_MD_CTX_new();
    unsigned int length = 0;
    if (ctx != nullptr && EVP_DigestInit_ex(ctx, evp_of(m), nullptr) == 1) {
        for (const auto& [p, n] : parts)
            if (n > 0) EVP_DigestUpdate(ctx, p, static_cast<std::size_t>(n));
        EVP_DigestFinal_ex(ctx, out, &length);
    }
    EVP_MD_CTX_free(ctx);  // a failing provider leaves the zeros the caller put there
}

}  // namespace

std::int32_t digest_size(Method m) {
    switch (m) {
    case Method::md5: return 16;
    case Method::sha1: return 20;
    case Method::sha256: return 32;
    case Method::sha384: return 48;
    case Method::sha512: return 64;
    default: return 0;
    }
}

std::int32_t block_size(Method m) {
    switch (m) {
    case Method::md5: case Method::sha1: case Method::sha256: return 64;
    case Method::sha384: case Method::sha512: return 128;
    default: return 0;
    }
}

std::vector<std::uint8_t> digest(const std::uint8_t* data, std::int64_t n, Method m) {
    std::vector<std::uint8_t> out(static_cast<std::size_t>(digest_size(m)));
    if (!out.empty()) digest_parts(m, {{data, n}}, out.data());
    return out;
}

std::vector<std::uint8_t> hmac(const std::uint8_t* data, std::int64_t n, const std::uint8_t* key,
                               std::int64_t key_length, Method m) {
    const std::int32_t b = block_size(m), l = digest_size(m);
    if (b == 0) return {};
    std::vector<std::uint8_t> short_key;
    if (key_length > b) {  // a long key is replaced by its digest
        short_key = digest(key, key_length, m);
        key = short_key.data();
        key_length = l;
    }
    std::vector<std::uint8_t> inner_pad(static_cast<std::size_t>(b), 0), outer_pad(static_cast<std::size_t>(b), 0);
    if (key_length > 0) {
        std::memcpy(inner_pad.data(), key, static_cast<std::size_t>(key_length));
        std::memcpy(outer_pad.data(), key, static_cast<std::size_t>(key_length));
    }
    for (std::int32_t i = 0; i < b; ++i) {
        inner_pad[static_cast<std::size_t>(i)] ^= 0x36;
        outer_pad[static_cast<std::size_t>(i)] ^= 0x5C;
    }
    std::vector<std::uint8_t> inner(static_cast<std::size_t>(l)), out(static_cast<std::size_t>(l));
    digest_parts(m, {{inner_pad.data(), b}, {data, n}}, inner.data());
    digest_parts(m, {{outer_pad.data(), b}, {inner.data(), l}}, out.data());
    return out;
}

}  // namespace kiv::digests
