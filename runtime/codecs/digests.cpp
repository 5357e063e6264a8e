// The digests through libcrypto's EVP interface; HMAC is built on them as
// RFC 2104 lays it out (the pads hashed in front of the data, no copies).
#include "runtime/codecs/digests.h"

#include <openssl/evp.h>

#include <cstring>
#include <dlfcn.h>

namespace kiv::digests {
namespace {

// libcrypto is opened at the first digest rather than linked: linking it
// took a tenth of an empty script's start-up.
#define KIV_CRYPTO_FUNCTIONS(X)                                                            \
    X(EVP_md5) X(EVP_sha1) X(EVP_sha256) X(EVP_sha384) X(EVP_sha512) X(EVP_MD_CTX_new)     \
    X(EVP_MD_CTX_free) X(EVP_DigestInit_ex) X(EVP_DigestUpdate) X(EVP_DigestFinal_ex)

struct Crypto {
#define KIV_CRYPTO_POINTER(name) decltype(&::name) name = nullptr;
    KIV_CRYPTO_FUNCTIONS(KIV_CRYPTO_POINTER)
#undef KIV_CRYPTO_POINTER
};

Crypto lib;

// True once libcrypto is loaded; false for good when it cannot be.
bool open_library() {
    static const bool ready = [] {
        void* library = ::dlopen("libcrypto.so.3", RTLD_NOW | RTLD_LOCAL);
        if (library == nullptr) return false;
        Crypto loaded;
        bool complete = true;
#define KIV_CRYPTO_LOAD(name)                                                       \
        loaded.name = reinterpret_cast<decltype(&::name)>(::dlsym(library, #name)); \
        complete = complete && loaded.name != nullptr;
        KIV_CRYPTO_FUNCTIONS(KIV_CRYPTO_LOAD)
#undef KIV_CRYPTO_LOAD
        if (complete) lib = loaded;
        return complete;
    }();
    return ready;
}

const EVP_MD* evp_of(Method m) {
    switch (m) {
    case Method::md5: return lib.EVP_md5();
    case Method::sha1: return lib.EVP_sha1();
    case Method::sha256: return lib.EVP_sha256();
    case Method::sha384: return lib.EVP_sha384();
    case Method::sha512: return lib.EVP_sha512();
    default: return nullptr;
    }
}

// Feeds the parts in turn to one digest; out gets digest_size bytes.
void digest_parts(Method m, std::initializer_list<std::pair<const std::uint8_t*, std::int64_t>> parts,
                  std::uint8_t* out) {
    if (!open_library()) return;  // the caller's zeros stay, as for a failing provider
    EVP_MD_CTX* ctx = lib.EVP_MD_CTX_new();
    unsigned int length = 0;
    if (ctx != nullptr && lib.EVP_DigestInit_ex(ctx, evp_of(m), nullptr) == 1) {
        for (const auto& [p, n] : parts)
            if (n > 0) lib.EVP_DigestUpdate(ctx, p, static_cast<std::size_t>(n));
        lib.EVP_DigestFinal_ex(ctx, out, &length);
    }
    lib.EVP_MD_CTX_free(ctx);  // a failing provider leaves the zeros the caller put there
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
