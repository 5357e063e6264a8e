// libFuzzer target: any bytes given to the Kivbin reader decode or raise a
// language error (kb-invalid-record, invalid-data or no-codec). What decodes
// is written again in both encodings and read back, which must succeed (only
// a native whose spec holds itself cannot be written: too-deep). A crash,
// hang or out-of-bounds read is a fault.
#include "runtime/io/kivbin.h"
#include "runtime/io/kivbin_encode.h"

#include "runtime/core/collector.h"
#include "runtime/datatypes/block.h"
#include "runtime/core/raise.h"
#include "runtime/startup/embed.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

// Inputs between two collections (the values of each input are garbage after it).
constexpr int inputs_per_collection = 64;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static bool ready = [] {
        kiv::embed::boot({.library = false});
        return true;
    }();
    (void)ready;
    static int inputs = 0;
    if (++inputs % inputs_per_collection == 0) kiv::collector::collect();
    kiv::Cell target{};
    kiv::block::make_at(target, 4);
    kiv::collector::Root keep(target);
    try {
        kiv::kivbin::decode(data, size, target, nullptr);
    } catch (const kiv::LanguageError& e) {
        if (std::strcmp(e.id, "kb-invalid-record") != 0 && std::strcmp(e.id, "invalid-data") != 0 &&
            std::strcmp(e.id, "no-codec") != 0) {
            std::fprintf(stderr, "unexpected error: %s\n", e.id);
            std::abort();
        }
        return 0;
    }
    for (const bool compact : {true, false}) {
        std::vector<std::uint8_t> again;
        try {
            again = kiv::kivbin::encode(target, {.compact = compact, .spread = true});
        } catch (const kiv::LanguageError& e) {
            if (std::strcmp(e.id, "too-deep") == 0) return 0;  // a native's spec that holds itself
            std::fprintf(stderr, "encoding failed: %s\n", e.id);
            std::abort();
        }
        try {
            kiv::Cell back{};
            kiv::block::make_at(back, 4);
            kiv::collector::Root keep_back(back);
            kiv::kivbin::decode(again.data(), again.size(), back, nullptr);
        } catch (const kiv::LanguageError& e) {
            std::fprintf(stderr, "round trip failed: %s %d\n", e.id, e.arg_count > 0 ? e.args[0].int_value() : 0);
            for (const std::uint8_t b : again) std::fprintf(stderr, "%02X", b);
            std::fprintf(stderr, "\n");
            std::abort();
        }
    }
    return 0;
}
